// Zylbase: TZyloSession — library loading, connecting and disconnecting, the registries of
// statements and data sets, transactions, the error record and OEM translation.
#include "base/Zylbase.h"

#include <algorithm>

namespace {

bool EndsInDelimiter(const AnsiString& S) { return !S.empty() && (S.back() == '/' || S.back() == '\\'); }

AnsiString DirectoryOf(const AnsiString& Path) {
  size_t Pos = Path.find_last_of("/\\");
  return Pos == AnsiString::npos ? AnsiString() : Path.substr(0, Pos + 1);
}

}  // namespace

const TMetaClass& TZyloSession::StaticClass() {
  static const TMetaClass Meta = [] {
    TMetaClass M("TZyloSession", &TComponent::StaticClass());
    M.Property("AutoCommit", &TZyloSession::GetAutoCommit, &TZyloSession::SetAutoCommit, true);
    M.Property("CommitOnDisconnect", &TZyloSession::GetCommitOnDisconnect, &TZyloSession::SetCommitOnDisconnect,
               true);
    M.Property("ConnectOnLoading", &TZyloSession::GetConnectOnLoading, &TZyloSession::SetConnectOnLoading, true);
    M.Property("KeepConnection", &TZyloSession::GetKeepConnection, &TZyloSession::SetKeepConnection, true);
    M.Property("LibraryPath", &TZyloSession::GetLibraryPath, &TZyloSession::SetLibraryPath);
    M.Property("LoginDatabase", &TZyloSession::GetLoginDatabase, &TZyloSession::SetLoginDatabase);
    M.Property("LoginUser", &TZyloSession::GetLoginUser, &TZyloSession::SetLoginUser);
    M.Property("LoginPassword", &TZyloSession::GetLoginPassword, &TZyloSession::SetLoginPassword);
    M.Property("OEMConvert", &TZyloSession::GetOEMConvert, &TZyloSession::SetOEMConvert, false);
    M.Property("WantExceptions", &TZyloSession::GetWantExceptions, &TZyloSession::SetWantExceptions, false);
    // Last, so that every other property is in place when Loaded connects.
    M.Property("Connected", &TZyloSession::GetConnected, &TZyloSession::SetConnected, false);
    return M;
  }();
  return Meta;
}

TZyloSession::TZyloSession(TComponent* AOwner) : TComponent(AOwner) {}

TZyloSession::~TZyloSession() {
  if (!FDestroyed) {
    // The binding did not call DestroySession: its operations are gone, so only what needs none
    // is done. The statements must not point at a dead session.
    FDestroyed = true;
    for (auto It = FQueries.rbegin(); It != FQueries.rend(); ++It) (*It)->FSession = nullptr;
    FQueries.clear();
    if (FLibraryHandle) FreeLibrary(FLibraryHandle);
    FLibraryHandle = nullptr;
  }
}

void TZyloSession::DestroySession() {
  if (FDestroyed) return;
  FDestroyed = true;
  // Destructors never throw: a failing disconnect or unload cannot stop the destruction.
  try {
    Close();
  } catch (...) {
  }
  try {
    InternalFreeLibrary();
  } catch (...) {
  }
  FDataSets.clear();
  while (!FQueries.empty()) {
    TZyloSQL* Q = FQueries.back();
    FQueries.pop_back();
    Q->FSession = nullptr;
  }
}

bool TZyloSession::IsDestroying() const { return FDestroyed || ComponentState().Contains(csDestroying); }

void TZyloSession::DoNotify(const TNotifyEvent& Event) {
  if (Event) Event(this);
}

void TZyloSession::InternalInitLibrary() {}
void TZyloSession::InternalFiniLibrary() {}
bool TZyloSession::Execute(const AnsiString&) { return false; }
bool TZyloSession::Ping(const AnsiString&) { return false; }

// ---- streaming ---------------------------------------------------------------------------------

void TZyloSession::Loaded() {
  TComponent::Loaded();
  if (!FStreamedConnected) return;
  if (ComponentState().Contains(csDesigning)) {
    try {
      Open();
    } catch (const Exception& E) {
      MessageBoxA(nullptr, E.Message().c_str(), szZyloLibraryName, MB_OK | MB_ICONERROR);
    }
  } else if (FConnectOnLoading) {
    Open();
  }
}

void TZyloSession::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation != opRemove) return;
  FDataSets.erase(std::remove(FDataSets.begin(), FDataSets.end(), AComponent), FDataSets.end());
}

// ---- library -----------------------------------------------------------------------------------

void TZyloSession::InternalNeedLibrary() {
  if (FLibraryHandle) return;
  InternalLoadLibrary();
  try {
    InternalLoadLibraryProcs();
    InternalInitLibrary();
  } catch (...) {
    // A library whose entry points or initialisation failed must not count as loaded, or the
    // next need would use it half set up.
    FreeLibrary(FLibraryHandle);
    FLibraryHandle = nullptr;
    FLibraryDir.clear();
    throw;
  }
}

void TZyloSession::InternalLoadLibrary() {
  AnsiString Dir = Trim(FLibraryPath);
  if (Dir.empty()) {
    char Found[MAX_PATH];
    LPSTR FilePart = nullptr;
    DWORD N = SearchPathA(nullptr, FLibraryFile.c_str(), nullptr, MAX_PATH, Found, &FilePart);
    if (N > 0 && N < MAX_PATH) Dir = DirectoryOf(AnsiString(Found, N));
  }
  if (!Dir.empty() && !EndsInDelimiter(Dir)) Dir += PathDelim;

  HMODULE Module = nullptr;
  DWORD LoadError = 0;
  {
    TCurrentDirectoryScope Restore;
    if (!Dir.empty() && !SetCurrentDirectoryA(Dir.c_str())) {
      AnsiString Reason = SysErrorMessage(::GetLastError());
      RaiseLastError(ZylLoadStr(ZYL_ERR_LIB_PATH_NOT_FOUND) + " (" + Dir + "," + Reason + ")", 0);
    }
    // By file name alone, so that the library in Dir and the libraries it depends on are found
    // through the current directory.
    Module = LoadLibraryA(FLibraryFile.c_str());
    if (!Module) LoadError = ::GetLastError();
  }
  if (!Module)
    RaiseLastError(ZylLoadStr(ZYL_ERR_LIB_LOAD_FAILED) + " (" + FLibraryFile + "," + SysErrorMessage(LoadError) + ")",
                   0);
  FLibraryHandle = Module;
  FLibraryDir = Dir;
}

void TZyloSession::InternalFreeLibrary() {
  if (!FLibraryHandle) return;
  InternalInvalidateQueries();
  try {
    InternalFiniLibrary();
  } catch (...) {
    FreeLibrary(FLibraryHandle);
    FLibraryHandle = nullptr;
    FLibraryDir.clear();
    throw;
  }
  FreeLibrary(FLibraryHandle);
  FLibraryHandle = nullptr;
  FLibraryDir.clear();
}

void TZyloSession::SetLibraryFile(const AnsiString& Value) {
  if (Value == FLibraryFile) return;
  if (GetConnected()) RaiseLastError(ZylLoadStr(ZYL_ERR_SESS_CONNECTED), 0);
  InternalFreeLibrary();
  FLibraryFile = Value;
}

void TZyloSession::SetLibraryPath(const AnsiString& Value) {
  if (Value == FLibraryPath) return;
  if (GetConnected()) RaiseLastError(ZylLoadStr(ZYL_ERR_SESS_CONNECTED), 0);
  InternalFreeLibrary();
  FLibraryPath = Value;
}

// ---- connection --------------------------------------------------------------------------------

void TZyloSession::Open() {
  if (GetConnected()) return;
  try {
    DoNotify(BeforeConnect);
    InternalNeedLibrary();
    InternalSetHandle(nullptr);
    void* NewHandle = nullptr;
    InternalOpenDatabase(NewHandle);
    FHandle = NewHandle;
    FHandleIsExternal = false;
    FInTransaction = false;
    DoNotify(AfterConnect);
  } catch (...) {
    // An exception anywhere leaves the session disconnected.
    if (FHandle) {
      try {
        Close();
      } catch (...) {
      }
      FHandle = nullptr;
    }
    throw;
  }
}

void TZyloSession::Close() {
  // A data set that a closing statement closes in turn gives the session back (CloseSession), which
  // closes it when KeepConnection is false: that inner Close must not disconnect a second time.
  if (!GetConnected() || FClosing) return;
  bool Destroying = IsDestroying();
  // Whatever the binding raises, the session ends up disconnected: a half-closed session that
  // still reports Connected would hand a dead handle to the next statement.
  struct TResetState {
    TZyloSession& S;
    ~TResetState() {
      S.FClosing = false;
      S.FInTransaction = false;
      S.FHandle = nullptr;
      S.FHandleIsExternal = false;
      S.FOpenCount = 0;
    }
  };
  {
    TResetState Reset{*this};
    FClosing = true;
    InternalCloseQueries();
    if (!Destroying) DoNotify(BeforeDisconnect);
    if (FHandleIsExternal)
      InternalSetHandle(nullptr);  // the foreign connection stays open
    else
      InternalCloseDatabase();
  }
  if (!Destroying) DoNotify(AfterDisconnect);
}

void TZyloSession::SetConnected(bool Value) {
  if (ComponentState().Contains(csLoading)) {
    FStreamedConnected = Value;
    return;
  }
  if (Value)
    Open();
  else
    Close();
}

void TZyloSession::SetHandle(void* Handle) {
  if (GetConnected()) Close();
  if (!Handle) {
    InternalSetHandle(nullptr);
    return;
  }
  InternalNeedLibrary();
  DoNotify(BeforeConnect);
  InternalSetHandle(Handle);
  FHandle = Handle;
  FHandleIsExternal = true;
  FInTransaction = false;
  DoNotify(AfterConnect);
}

// ---- data sets ---------------------------------------------------------------------------------

void TZyloSession::OpenSession(TComponent* DataSet) {
  Open();
  ++FOpenCount;
  if (DataSet) {
    FDataSets.push_back(DataSet);
    DataSet->FreeNotification(this);
  }
}

void TZyloSession::CloseSession(TComponent* DataSet) {
  if (DataSet) {
    auto It = std::find(FDataSets.begin(), FDataSets.end(), DataSet);
    if (It != FDataSets.end()) FDataSets.erase(It);
  }
  if (FOpenCount > 0) --FOpenCount;
  if (FOpenCount == 0 && !FKeepConnection) Close();
}

TComponent* TZyloSession::GetDataSet(int32_t Index) const {
  if (Index < 0 || Index >= DataSetCount()) return nullptr;
  return FDataSets[static_cast<size_t>(Index)];
}

void TZyloSession::SetKeepConnection(bool Value) {
  FKeepConnection = Value;
  if (!Value && FOpenCount == 0 && !ComponentState().Contains(csLoading)) Close();
}

// ---- statements --------------------------------------------------------------------------------

void TZyloSession::AddQuery(TZyloSQL* SQL) {
  if (!SQL) return;
  if (SQL->FSession && SQL->FSession != this) SQL->FSession->RemoveQuery(SQL);
  if (std::find(FQueries.begin(), FQueries.end(), SQL) == FQueries.end()) FQueries.push_back(SQL);
  SQL->FSession = this;
}

void TZyloSession::RemoveQuery(TZyloSQL* SQL) {
  if (!SQL) return;
  auto It = std::find(FQueries.begin(), FQueries.end(), SQL);
  if (It == FQueries.end()) return;
  if (!IsDestroying() && !SQL->IsDestroying()) {
    SQL->UnprepareOpen();
    SQL->UnprepareExecute();
    SQL->InternalInvalidateLibrary();
  }
  SQL->FSession = nullptr;
  // The unprepare steps may have called back into the registry: look again.
  It = std::find(FQueries.begin(), FQueries.end(), SQL);
  if (It != FQueries.end()) FQueries.erase(It);
}

TZyloSQL* TZyloSession::GetQuery(int32_t Index) const {
  if (Index < 0 || Index >= QueryCount()) return nullptr;
  return FQueries[static_cast<size_t>(Index)];
}

void TZyloSession::InternalCloseQueries() {
  std::vector<TZyloSQL*> Copy = FQueries;  // a handler may change the registry
  for (TZyloSQL* Q : Copy) {
    if (std::find(FQueries.begin(), FQueries.end(), Q) == FQueries.end()) continue;
    Q->UnprepareOpen();
    Q->UnprepareExecute();
  }
}

void TZyloSession::InternalInvalidateQueries() {
  for (TZyloSQL* Q : FQueries) Q->InternalInvalidateLibrary();
}

// ---- transactions and errors -------------------------------------------------------------------

void TZyloSession::StartTransaction() {
  if (FInTransaction) RaiseLastError(ZylLoadStr(ZYL_ERR_SESS_TRANS_ACTIVE), 0);
  InternalCommit(FWantExceptions);  // pending automatic work is committed first
  FInTransaction = true;
}

void TZyloSession::Commit() {
  InternalCommit(FWantExceptions);
  FInTransaction = false;
}

void TZyloSession::Rollback() {
  InternalRollback();
  FInTransaction = false;
}

int32_t TZyloSession::CheckPushError() {
  Check(nullptr, 0, 0, false);
  FPushedError = FLastError;
  FPushedErrorCode = FLastErrorCode;
  return FLastErrorCode;
}

void TZyloSession::TranslateChar(const char* Source, char* Dest, bool ToOem, int32_t Length) const {
  if (!FOEMConvert || !Source || !Dest || Length <= 0) return;
  if (ToOem)
    CharToOemBuffA(Source, Dest, static_cast<DWORD>(Length));
  else
    OemToCharBuffA(Source, Dest, static_cast<DWORD>(Length));
}
