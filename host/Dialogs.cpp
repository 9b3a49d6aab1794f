// Dialogs: option checks around the file dialog's runner, and message dialogs.
#include "host/Dialogs.h"

#include "host/Forms.h"
#include "host/Platform.h"

namespace {
TFileDialogRunner& FileRunner() {
  static TFileDialogRunner R;
  return R;
}
TMessageDialogRunner& MessageRunner() {
  static TMessageDialogRunner R;
  return R;
}
}  // namespace

TFileDialogRunner SetFileDialogRunner(TFileDialogRunner Runner) {
  TFileDialogRunner Old = std::move(FileRunner());
  FileRunner() = std::move(Runner);
  return Old;
}

TMessageDialogRunner SetMessageDialogRunner(TMessageDialogRunner Runner) {
  TMessageDialogRunner Old = std::move(MessageRunner());
  MessageRunner() = std::move(Runner);
  return Old;
}

std::vector<std::pair<AnsiString, AnsiString>> TOpenDialog::FilterPairs() const {
  std::vector<AnsiString> Parts;
  size_t Pos = 0;
  while (Pos <= Filter.size() && !Filter.empty()) {
    size_t End = Filter.find('|', Pos);
    if (End == AnsiString::npos) End = Filter.size();
    Parts.push_back(Filter.substr(Pos, End - Pos));
    Pos = End + 1;
  }
  std::vector<std::pair<AnsiString, AnsiString>> Result;
  for (size_t I = 0; I + 1 < Parts.size(); I += 2) Result.emplace_back(Parts[I], Parts[I + 1]);
  return Result;
}

bool TOpenDialog::Execute() {
  if (!FileRunner()) return false;
  AnsiString SavedDir = GetCurrentDir();
  AnsiString SavedName = FileName;
  bool Ok = false;
  try {
    Ok = FileRunner()(*this);
  } catch (...) {
    if (Options.Contains(ofNoChangeDir)) SetCurrentDir(SavedDir);
    throw;
  }
  if (Options.Contains(ofNoChangeDir)) SetCurrentDir(SavedDir);
  if (Ok && Options.Contains(ofPathMustExist) && !DirectoryExists(ExtractFileDir(FileName).empty() ? "." : ExtractFileDir(FileName)))
    Ok = false;
  if (Ok && Options.Contains(ofFileMustExist) && !FileExists(FileName)) Ok = false;
  if (!Ok) FileName = SavedName;  // a refused or cancelled choice changes nothing
  return Ok;
}

int MessageDlg(const AnsiString& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons, int HelpCtx) {
  if (MessageRunner()) return MessageRunner()(Msg, DlgType, Buttons);
  UINT Type = DlgType == mtError ? MB_ICONERROR : DlgType == mtWarning ? MB_ICONWARNING
            : DlgType == mtConfirmation ? MB_ICONQUESTION : MB_ICONINFORMATION;
  if (Buttons.Contains(mbYes) && Buttons.Contains(mbNo))
    Type |= Buttons.Contains(mbCancel) ? MB_YESNOCANCEL : MB_YESNO;
  else if (Buttons.Contains(mbOK) && Buttons.Contains(mbCancel))
    Type |= MB_OKCANCEL;
  int R = MessageBoxA(nullptr, Msg.c_str(), Application ? Application->Title.c_str() : "", Type);
  switch (R) {
    case IDOK: return mrOk;
    case IDCANCEL: return mrCancel;
    case IDYES: return mrYes;
    case IDNO: return mrNo;
    case IDABORT: return mrAbort;
    case IDRETRY: return mrRetry;
    case IDIGNORE: return mrIgnore;
    default: return mrNone;
  }
}

void ShowMessage(const AnsiString& Msg) { MessageDlg(Msg, mtCustom, {mbOK}); }
