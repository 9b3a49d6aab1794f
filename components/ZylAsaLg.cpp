// ZylAsaLg: TAsaLogin — the silent connect, and the run of the login form with what it reads from
// and writes into the session.
#include "components/ZylAsaLg.h"

namespace {

const bool ClassRegistered = (RegisterClass(TAsaLogin::StaticClass()), true);

const char* const kStartKey = "start=";

// The start line as the form shows it: the server parameters without their first "start=".
AnsiString StartLineOf(const AnsiString& ServerParams) {
  AnsiString Line = ServerParams;
  int At = AnsiPosText(kStartKey, Line);
  if (At > 0) Line.erase(static_cast<size_t>(At - 1), 6);
  return Trim(Line);
}

// The server parameters a start line as typed stands for.
AnsiString ServerParamsOf(const AnsiString& StartLine) {
  AnsiString Trimmed = Trim(StartLine);
  if (Trimmed.empty()) return AnsiString();
  if (AnsiPosText(kStartKey, Trimmed) > 0) return StartLine;
  return kStartKey + StartLine;
}

}  // namespace

const TMetaClass& TAsaLogin::StaticClass() {
  static const TMetaClass Meta = [] {
    TMetaClass M("TAsaLogin", &TComponent::StaticClass(), TMetaClass::Factory<TAsaLogin>());
    M.SetProperty("Options", {"loAutoConnect", "loAutoLibraryPath", "loAllowDetails", "loAlwaysDetails"},
                  &TAsaLogin::GetOptions, &TAsaLogin::SetOptions,
                  static_cast<long long>(TAsaLoginOptions{loAutoLibraryPath, loAllowDetails}.Bits()));
    M.ComponentProperty("Session", &TAsaLogin::GetSession, &TAsaLogin::SetSession);
    return M;
  }();
  return Meta;
}

TAsaLogin::TAsaLogin(TComponent* AOwner) : TComponent(AOwner), FStatement(std::make_unique<TAsaSQL>(nullptr)) {
  (void)ClassRegistered;
  FStatement->SetWantExceptions(false);
}

TAsaLogin::~TAsaLogin() = default;

TAsaSession* TAsaLogin::GetSession() const { return dynamic_cast<TAsaSession*>(FStatement->GetSessionObject()); }

void TAsaLogin::SetSession(TAsaSession* Value) { FStatement->SetSession(Value); }

void TAsaLogin::SetOptions(TAsaLoginOptions Value) {
  if (Value == FOptions) return;
  if (Value.Contains(loAlwaysDetails)) Value.Exclude(loAllowDetails);
  FOptions = Value;
}

void TAsaLogin::Execute() {
  TAsaSession* Session = GetSession();
  if (!Session) FStatement->RaiseLastError<EZyloException>(ZylLoadStr(ZYL_ERR_SESS_NIL), 0);
  if (!Session->GetLoginUser().empty() && !Session->GetLoginPassword().empty() && FOptions.Contains(loAutoConnect)) {
    try {
      Session->Close();
      Session->Open();
      return;
    } catch (...) {
      if (Application) Application->HandleException(this);
    }
  }
  RunForm(*Session);
}

void TAsaLogin::RunForm(TAsaSession& Session) {
  auto Form = std::make_unique<TAsaLoginForm>(nullptr);
  TAsaLoginForm& F = *Form;
  const bool Details = FOptions.Contains(loAllowDetails) || FOptions.Contains(loAlwaysDetails);
  F.edUserID->SetText(Session.GetLoginUser());
  F.edPassword->SetText(Session.GetLoginPassword());
  const AnsiString OldLibraryFile = Trim(Session.GetLibraryFile());
  const AnsiString OldLibraryPath = Trim(Session.GetLibraryPath());
  if (Details) {
    F.SetComboVendorLib(OldLibraryFile);
    F.edServerName->SetText(Session.GetLoginEngineName());
    F.edStartLine->SetText(StartLineOf(Session.GetServerParams()));
    F.edConnParams->SetText(Session.GetClientParams());
    F.edDatabase->SetText(Session.GetLoginDatabase());
    F.odDatabase->FileName = Session.GetLoginDatabase();
  }
  F.SetDetailsShown(FOptions.Contains(loAlwaysDetails));
  F.SetVisibleMore(FOptions.Contains(loAllowDetails));
  if (F.ShowModal() != mrOk) return;

  Session.Close();
  Session.SetLoginUser(F.edUserID->Text());
  Session.SetLoginPassword(F.edPassword->Text());
  if (Details) {
    Session.SetLibraryFile(F.GetComboVendorLib(OldLibraryFile));
    Session.SetLoginEngineName(F.edServerName->Text());
    Session.SetServerParams(ServerParamsOf(F.edStartLine->Text()));
    Session.SetServerType(Session.GetServerParams().empty() ? stClient : stServer);
    Session.SetLoginDatabase(F.edDatabase->Text());
    Session.SetClientParams(F.edConnParams->Text());
    if (FOptions.Contains(loAutoLibraryPath)) {
      AnsiString Dir = ExtractFilePath(F.edDatabase->Text());
      if (!Dir.empty() && OldLibraryPath.empty()) Session.SetLibraryPath(Dir);
    }
  }
  try {
    Session.Open();
  } catch (...) {
    Session.SetLibraryFile(OldLibraryFile);
    Session.SetLibraryPath(OldLibraryPath);
    throw;
  }
}
