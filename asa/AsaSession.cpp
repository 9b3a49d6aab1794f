// TAsaSession: the client library (entry points, version, argument record), the error record
// (Check), transactions and options, and the property setters with behaviour.
#include <cstring>

#include "asa/AsaLibrary.h"

namespace {

const bool Registered = RegisterResStrings({
    {ZYL_ERR_ASA_BACKUP_MEDIA, "ZYL_ERR_ASA_BACKUP_MEDIA", "Not able to backup to the selected media."},
    {ZYL_ERR_ASA_BACKUP_ABORTED, "ZYL_ERR_ASA_BACKUP_ABORTED", "User aborted backup operation."},
    {ZYL_ERR_ASA_BACKUP_RENAME_LOG, "ZYL_ERR_ASA_BACKUP_RENAME_LOG", "Unable to rename local transaction log."},
});

// The 16-bit constants the argument record points at: the caller's interface version.
const uint16_t kArgVersion45 = 4;
const uint16_t kArgVersion6 = 6;

constexpr int32_t kPoolCapacity = 32767;

// Binds a required entry point: its address, or ZylDummyProc in its place.
template <class P>
void Required(HMODULE Library, P& Target, const char* Name) {
  ZylAssignProcAddress(Target, reinterpret_cast<void*>(GetProcAddress(Library, Name)),
                       reinterpret_cast<P>(AsaDummyProc()));
}

// Binds an optional entry point: its address or nullptr.
template <class P>
void Optional(HMODULE Library, P& Target, const char* Name) {
  ZylAssignProcAddress(Target, reinterpret_cast<void*>(GetProcAddress(Library, Name)), static_cast<P>(nullptr));
}

}  // namespace

// ---- construction and streaming ----------------------------------------------------------------

const TMetaClass& TAsaSession::StaticClass() {
  static const TMetaClass Meta = [] {
    TMetaClass M("TAsaSession", &TZyloSession::StaticClass(), TMetaClass::Factory<TAsaSession>());
    M.Property("LibraryFile", &TAsaSession::GetLibraryFile, &TAsaSession::SetLibraryFile, AnsiString("dblib7.dll"));
    M.Property("LoginEngineName", &TAsaSession::GetLoginEngineName, &TAsaSession::SetLoginEngineName);
    M.Property("ServerParams", &TAsaSession::GetServerParams, &TAsaSession::SetServerParams);
    M.Property("ClientParams", &TAsaSession::GetClientParams, &TAsaSession::SetClientParams);
    M.EnumProperty("ServerType", {"stClient", "stServer", "stWorkgroup"}, &TAsaSession::GetServerType,
                   &TAsaSession::SetServerType, static_cast<int>(stClient));
    M.EnumProperty("TransIsolation",
                   {"atUnchanged", "atReadUncommitted", "atReadCommitted", "atReapeatableRead", "atSerializable"},
                   &TAsaSession::GetTransIsolation, &TAsaSession::SetTransIsolation, static_cast<int>(atUnchanged));
    M.Property("TrimBlanks", &TAsaSession::GetTrimBlanks, &TAsaSession::SetTrimBlanks, false);
    M.Property("WantRowCounts", &TAsaSession::GetWantRowCounts, &TAsaSession::SetWantRowCounts, true);
    return M;
  }();
  return Meta;
}

// Streams create the session by its class name.
const bool ClassRegistered = (RegisterClass(TAsaSession::StaticClass()), true);

TAsaSession::TAsaSession(TComponent* AOwner)
    : TZyloSession(AOwner), FStatementPool(std::make_unique<TAsaStatementPool>(this, kPoolCapacity)) {
  (void)Registered;
  (void)ClassRegistered;
  FLibraryFile = "dblib7.dll";
}

TAsaSession::~TAsaSession() {
  DestroySession();
  // Whatever the library still has registered must not reach a session that is gone.
  asa_detail::ReleaseSession(this);
}

// ---- client library ----------------------------------------------------------------------------

void TAsaSession::InternalLoadLibraryProcs() {
  HMODULE L = GetLibraryHandle();
  Optional(L, db_version_check, "db_version_check");
  Optional(L, db_get_property, "db_get_property");
  Optional(L, db_locate_servers, "db_locate_servers");
  Optional(L, db_string_ping_server, "db_string_ping_server");
  Optional(L, db_time_change, "db_time_change");
  Required(L, db_init, "db_init");
  Required(L, db_fini, "db_fini");
  Required(L, db_start_engine, "db_start_engine");
  Required(L, db_start_database, "db_start_database");
  Required(L, db_stop_database, "db_stop_database");
  Required(L, db_register_a_callback, "db_register_a_callback");
  Required(L, db_string_connect, "db_string_connect");
  Required(L, db_stop_engine, "db_stop_engine");
  Required(L, db_string_disconnect, "db_string_disconnect");
  Required(L, sqlerror_message, "sqlerror_message");
  Required(L, db_cancel_request, "db_cancel_request");
  Required(L, db_is_working, "db_is_working");
  Required(L, db_backup, "db_backup");
  Required(L, db_delete_file, "db_delete_file");
  Required(L, db_connection_info, "db_connection_info");
  Required(L, sql_needs_quotes, "sql_needs_quotes");
  Required(L, db_find_engine, "db_find_engine");
  Required(L, alloc_sqlda, "alloc_sqlda");
  Required(L, free_sqlda, "free_sqlda");
  dbpp_commit = AsaGetPPProc(L, "dbpp_commit");
  dbpp_rollback = AsaGetPPProc(L, "dbpp_rollback");
  dbpp_getoption = AsaGetPPProc(L, "dbpp_getoption");
  dbpp_setoption = AsaGetPPProc(L, "dbpp_setoption");
}

void TAsaSession::InternalInitLibrary() {
  std::memset(FArgRecord, 0, sizeof FArgRecord);
  FSQLCA = SQLCA{};
  if (db_init(&FSQLCA) == 0) RaiseLastError<EAsaException>(ZylLoadStr(ZYL_ERR_LIB_INIT_FAILED), 0);
  FLibraryVersion = 5;
  if (!db_version_check) {
    FLibraryVersion = 4;
  } else {
    for (uint8_t V = 10; V >= 6; --V)
      if (db_version_check(V) != 0) {
        FLibraryVersion = V;
        break;
      }
  }
  // Two pointers to the version constant after 14 zero bytes (unaligned, as the record is packed).
  const uint16_t* Constant = FLibraryVersion == 6 ? &kArgVersion6 : &kArgVersion45;
  std::memcpy(FArgRecord + 14, &Constant, sizeof Constant);
  std::memcpy(FArgRecord + 14 + sizeof Constant, &Constant, sizeof Constant);
  std::memcpy(FSQLCA.sqlcaid, "SQLCA", 5);
  FSQLCA.sqlcabc = 136;
}

void TAsaSession::InternalFiniLibrary() {
  asa_detail::ReleaseSession(this);
  FRegistered = 0;
  // The library is going whatever db_fini says, and this runs on destruction too: a failure of
  // it (ZylDummyProc in its place) has nobody to be reported to.
  try {
    if (db_fini) db_fini(&FSQLCA);
  } catch (const Exception&) {
  }
  FLibraryVersion = 0;
}

void TAsaSession::InternalSetHandle(void* Handle) {
  if (!Handle) {
    FActiveSQLCA = &FSQLCA;
    return;
  }
  if (std::memcmp(Handle, "SQLCA", 5) != 0)
    RaiseLastError<EAsaException>(ZylLoadStr(ZYL_ERR_SESS_INVALID_HANDLE), 0);
  FActiveSQLCA = static_cast<SQLCA*>(Handle);
}

// ---- error record ------------------------------------------------------------------------------

bool TAsaSession::Check(void*, int32_t, int32_t, bool RaiseOnError) {
  int32_t Code = FActiveSQLCA->sqlcode;
  FLastErrorCode = Code;
  FLastError.clear();
  if (Code == 0 || Code == SQLE_NONDETERMINISTIC_RESULT) return true;

  char Text[512] = {0};
  if (sqlerror_message && !sqlerror_message(FActiveSQLCA, Text, sizeof Text)) Text[0] = 0;
  Text[sizeof Text - 1] = 0;
  AnsiString Message = Text;
  if (FOEMConvert && !Message.empty()) {
    OemToCharBuffA(Message.data(), Message.data(), static_cast<DWORD>(Message.size()));
  }
  char State[6];
  std::memcpy(State, FActiveSQLCA->sqlstate, 5);
  State[5] = 0;

  if (Code > 0) {
    FLastError = Format("Warning: %s (%s)", Message, AnsiString(State));
    return false;
  }
  FLastError = Format("Error %d: %s (%s)", Code, Message, AnsiString(State));
  DoNotify(OnError);
  if ((Code == SQLE_NOT_CONNECTED || Code == SQLE_CONNECTION_TERMINATED) && GetConnected() && !FTerminating) {
    // Closing unprepares the statements, whose library calls fail the same way and come back
    // here: they must not start a second close.
    FTerminating = true;
    try {
      Close();
    } catch (...) {
      FTerminating = false;
      throw;
    }
    FTerminating = false;
    DoNotify(OnConnectionTerminated);
    FLastError = Format("Error %d: %s", Code, Message);
    FLastErrorCode = Code;
  }
  if (RaiseOnError) throw EAsaException(FLastError, Code);
  return false;
}

bool TAsaSession::CheckPopError(bool RaiseOnError) {
  FLastError = FPushedError;
  FLastErrorCode = FPushedErrorCode;
  if (FPushedErrorCode < 0 && RaiseOnError) throw EAsaException(FPushedError, FPushedErrorCode);
  return FPushedErrorCode == 0;
}

// ---- transactions ------------------------------------------------------------------------------

bool TAsaSession::InternalCommit(bool RaiseOnError) {
  InternalNeedLibrary();
  AsaCall<void>(dbpp_commit, ArgRecord(), FActiveSQLCA, 0u);
  return Check(nullptr, 0, 0, RaiseOnError);
}

bool TAsaSession::InternalRollback() {
  InternalNeedLibrary();
  AsaCall<void>(dbpp_rollback, ArgRecord(), FActiveSQLCA, 0u);
  return Check(nullptr, 0, 0, GetWantExceptions());
}

// ---- options -----------------------------------------------------------------------------------

void TAsaSession::TSqldaDeleter::operator()(SQLDA* Da) const {
  if (Da && Session->free_sqlda) Session->free_sqlda(Da);
}

TAsaSession::TSqldaPtr TAsaSession::NewStringSqlda(char* Buffer, a_sql_len Length) {
  TSqldaPtr Da(alloc_sqlda(1), TSqldaDeleter{this});
  if (!Da) throw EAsaException(ZylLoadStr(ZYL_ERR_LIB_INIT_FAILED), 0);
  Da->sqld = 1;
  Da->sqlvar[0].sqltype = DT_STRING;
  Da->sqlvar[0].sqllen = Length;
  Da->sqlvar[0].sqldata = Buffer;
  return Da;
}

bool TAsaSession::GetOption(const AnsiString& Name, AnsiString& Value) {
  InternalNeedLibrary();
  char Buffer[30] = {0};
  TSqldaPtr Da = NewStringSqlda(Buffer, sizeof Buffer);
  AnsiString Option = Name;
  AsaCall<void>(dbpp_getoption, ArgRecord(), FActiveSQLCA, 0, static_cast<char*>(nullptr), Option.data(), Da.get());
  Da.reset();
  bool Ok = Check(nullptr, 0, 0, GetWantExceptions());
  if (Ok) {
    Buffer[sizeof Buffer - 1] = 0;
    Value = Buffer;
  }
  return Ok;
}

bool TAsaSession::SetOption(const AnsiString& Name, const AnsiString& Value) {
  InternalNeedLibrary();
  AnsiString Text = Value;
  if (Text.size() + 1 > 32767) Text.resize(32766);  // the descriptor's length is 16-bit
  TSqldaPtr Da = NewStringSqlda(Text.data(), static_cast<a_sql_len>(Text.size() + 1));
  AnsiString Option = Name;
  AsaCall<void>(dbpp_setoption, ArgRecord(), FActiveSQLCA, 1, static_cast<char*>(nullptr), Option.data(), Da.get());
  Da.reset();
  return Check(nullptr, 0, 0, GetWantExceptions());
}

void TAsaSession::EnsureOption(const AnsiString& Name, const AnsiString& Wanted) {
  AnsiString Current;
  if (GetOption(Name, Current) && Current != Wanted) SetOption(Name, Wanted);
}

void TAsaSession::SetTransIsolation(TAsaTransIsolation Value) {
  if (!ComponentState().Contains(csReading) && GetConnected() && Value != atUnchanged)
    SetOption("isolation_level", Format("%d", static_cast<int>(Value) - 1));
  FTransIsolation = Value;
}

void TAsaSession::SetWantRowCounts(bool Value) {
  if (!ComponentState().Contains(csReading) && GetConnected()) EnsureOption("row_counts", Value ? "ON" : "OFF");
  FWantRowCounts = Value;
}

void TAsaSession::SetServerType(TAsaServerType Value) {
  if (Value == FServerType) return;
  if (!ComponentState().Contains(csReading)) Close();
  FServerType = Value;
}

void TAsaSession::ApplyConnectOptions() {
  SetTransIsolation(FTransIsolation);
  SetWantRowCounts(FWantRowCounts);
  // Cursors with joins or ORDER BY must stay updatable for positioned changes; a failure here
  // (an old server without the option) must not fail the connect.
  bool Saved = GetWantExceptions();
  SetWantExceptions(false);
  try {
    if (GetConnected()) EnsureOption("ansi_update_constraints", "OFF");
  } catch (...) {
    SetWantExceptions(Saved);
    throw;
  }
  SetWantExceptions(Saved);
}
