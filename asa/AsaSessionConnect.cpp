// TAsaSession: connection strings, connecting in the three server modes, disconnecting, and the
// callbacks turned into events.
#include <algorithm>
#include <cstring>

#include "asa/AsaLibrary.h"
#include "host/PlatformSync.h"

namespace {

const char* const kTimingMutex = "ASA_CONNECTION_TIMING_MUTEX";
constexpr DWORD kTimingMutexWaitMs = 10000;

bool IsBlank(const AnsiString& S) { return Trim(S).empty(); }

AnsiString Piece(const char* Key, const AnsiString& Value) { return IsBlank(Value) ? AnsiString() : Key + Value; }

AnsiString Join(std::initializer_list<AnsiString> Pieces) {
  AnsiString S;
  for (const AnsiString& P : Pieces) ZylConcateEmptyField(S, ";", P);
  return S;
}

bool InDesignMode(const TComponent& C) { return C.ComponentState().Contains(csDesigning); }

}  // namespace

// ---- connection strings ------------------------------------------------------------------------

AnsiString TAsaSession::EnginePiece() const {
  if (!IsBlank(FLoginEngineName)) return "eng=" + FLoginEngineName;
  AnsiString Prefix = ZylExtractFilePrefix(FLoginDatabase);
  return Prefix.empty() ? AnsiString() : "eng=" + Prefix;
}

AnsiString TAsaSession::ConnectString() const {
  return Join({EnginePiece(), FClientParams, Piece("dbn=", ZylExtractFilePrefix(FLoginDatabase)),
               Piece("uid=", FLoginUser), Piece("pwd=", FLoginPassword)});
}

AnsiString TAsaSession::EngineConnectString() const { return Join({EnginePiece(), FClientParams}); }

AnsiString TAsaSession::StartServerString() const {
  if (FLibraryVersion > 5)
    return Join({FServerParams, EnginePiece(), Piece("dbf=", FLoginDatabase),
                 Piece("dbn=", ZylExtractFilePrefix(FLoginDatabase))});
  return Join({FServerParams, EnginePiece()});
}

AnsiString TAsaSession::StartDatabaseString() const {
  return Join({EnginePiece(), Piece("dbf=", FLoginDatabase), Piece("dbn=", ZylExtractFilePrefix(FLoginDatabase))});
}

AnsiString TAsaSession::RemoteStartString() const {
  return Join({EnginePiece(), FClientParams, Piece("dbf=", FLoginDatabase),
               Piece("dbn=", ZylExtractFilePrefix(FLoginDatabase))});
}

AnsiString TAsaSession::RemoteStopString() const {
  return Join({EnginePiece(), FClientParams, Piece("dbf=", asa_detail::FileNamePart(FLoginDatabase)),
               Piece("dbn=", ZylExtractFilePrefix(FLoginDatabase))});
}

// ---- connecting --------------------------------------------------------------------------------

void TAsaSession::StartDatabaseEngine(bool& Started) {
  AnsiString Start = StartServerString();
  db_start_engine(&FSQLCA, Start.data());
  int32_t Code = FSQLCA.sqlcode;
  Started = Code == 0;
  if (Code != SQLE_ENGINE_ALREADY_RUNNING && FLibraryVersion > 5) {
    // From version 6 the start line carries the database: nothing more to start.
    Check(nullptr, 0, 0, true);
    return;
  }
  if (Code != SQLE_ENGINE_ALREADY_RUNNING) Check(nullptr, 0, 0, true);
  AnsiString Database = StartDatabaseString();
  db_start_database(&FSQLCA, Database.data());
  Code = FSQLCA.sqlcode;
  // -77 is not "already running": the library answers it only when another file runs under the
  // same database name (two files of one base name), and the connect by name that follows would
  // reach that other file. It raises, so the application never works on a database it did not name.
  if (Code != SQLE_DATABASE_NOT_FOUND && Code != SQLE_ENGINE_NOT_RUNNING && Code != SQLE_FILE_IN_USE)
    Check(nullptr, 0, 0, true);
}

void TAsaSession::ConnectStringCheck() {
  AnsiString Connect = ConnectString();
  db_string_connect(&FSQLCA, Connect.data());
  if (FLibraryVersion <= 5 && FSQLCA.sqlcode == SQLE_INVALID_LOGON) {
    // Old libraries leave the engine the failed logon started running; stop it, keeping the code.
    AnsiString Engine = EnginePiece();
    db_stop_engine(&FSQLCA, Engine.data());
    FSQLCA.sqlcode = SQLE_INVALID_LOGON;
  }
  Check(nullptr, 0, 0, true);
}

void TAsaSession::ConnectAsServer() {
  bool Started = false;
  try {
    StartDatabaseEngine(Started);
    AnsiString Connect = ConnectString();
    db_string_connect(&FSQLCA, Connect.data());
    Check(nullptr, 0, 0, true);
  } catch (...) {
    if (Started) {
      // The check above already holds the error to report; stopping must not replace it.
      SQLCA Saved = FSQLCA;
      AnsiString Engine = EnginePiece();
      try {
        db_stop_engine(&FSQLCA, Engine.data());
      } catch (const Exception&) {
      }
      FSQLCA = Saved;
    }
    throw;
  }
}

void TAsaSession::ConnectByServerType() {
  switch (FServerType) {
    case stClient: ConnectStringCheck(); break;
    case stServer: ConnectAsServer(); break;
    case stWorkgroup: {
      // Serialises connection attempts of every process on the machine; after the time-out the
      // attempt goes on without it.
      TNamedMutexHolder Timing(kTimingMutex, kTimingMutexWaitMs);
      AnsiString Connect = ConnectString();
      db_string_connect(&FSQLCA, Connect.data());
      int32_t Code = FSQLCA.sqlcode;
      if (Code == SQLE_START_STOP_DATABASE_DENIED || Code == SQLE_ALIAS_CLASH ||
          Code == SQLE_UNABLE_TO_START_DATABASE || Code == SQLE_DATABASE_NOT_FOUND || Code == SQLE_ENGINE_NOT_RUNNING) {
        ConnectAsServer();
      } else {
        if (FLibraryVersion <= 5 && Code == SQLE_INVALID_LOGON) {
          AnsiString Engine = EnginePiece();
          db_stop_engine(&FSQLCA, Engine.data());
          FSQLCA.sqlcode = SQLE_INVALID_LOGON;
        }
        Check(nullptr, 0, 0, true);
      }
      break;
    }
  }
}

void TAsaSession::InternalOpenDatabase(void*& Handle) {
  TCurrentDirectoryScope RestoreDirectory;
  if (!FLibraryDir.empty() && !SetCurrentDirectoryA(FLibraryDir.c_str()))
    RaiseLastError<EAsaException>(ZylLoadStr(ZYL_ERR_LIB_PATH_NOT_FOUND) + " (" + FLibraryDir + ")", 0);

  bool Design = InDesignMode(*this);
  if (!Design && OnDebugMessage) RegisterCallback(DB_CALLBACK_DEBUG_MESSAGE, true);
  try {
    ConnectByServerType();
  } catch (...) {
    if (FRegistered & (1u << DB_CALLBACK_DEBUG_MESSAGE)) RegisterCallback(DB_CALLBACK_DEBUG_MESSAGE, false);
    throw;
  }
  if (!Design) RegisterEventCallbacks();

  // Connected from here on: the option setters and Check's disconnect rule look at Handle.
  Handle = &FSQLCA;
  FHandle = &FSQLCA;

  FServerVersion = FLibraryVersion;
  if (FLibraryVersion >= 6) {
    AnsiString EngineVersion;
    if (GetConnectionInfo(ciEngineVersion, EngineVersion)) {
      AnsiString Major = EngineVersion.substr(0, EngineVersion.find('.'));
      int32_t V = 0;
      if (TryStrToInt(Major, V) && V > 0 && V < 256) FServerVersion = static_cast<uint8_t>(V);
    }
  }
  AnsiString DatabaseName;
  bool Utility = FLibraryVersion >= 6 && GetConnectionInfo(ciDatabaseName, DatabaseName) &&
                 SameText(DatabaseName, "UTILITY_DB");
  if (!Utility) ApplyConnectOptions();
}

void TAsaSession::InternalCloseDatabase() {
  FStatementPool->Clear();
  if (FCommitOnDisconnect) {
    try {
      AsaCall<void>(dbpp_commit, ArgRecord(), &FSQLCA, 0u);
    } catch (const Exception&) {
      // The commit's result is not evaluated; a missing entry point must not keep us connected.
    }
  }
  db_string_disconnect(&FSQLCA, nullptr);
  if (!InDesignMode(*this)) UnregisterCallbacks();
}

// ---- callbacks ---------------------------------------------------------------------------------

void TAsaSession::RegisterCallback(a_db_callback_index Index, bool Register) {
  if (Register) {
    asa_detail::BindCallback(&FSQLCA, Index, this);
    db_register_a_callback(&FSQLCA, Index, asa_detail::CallbackFunction(Index));
    FRegistered |= static_cast<uint16_t>(1u << Index);
  } else {
    FRegistered &= static_cast<uint16_t>(~(1u << Index));
    try {
      db_register_a_callback(&FSQLCA, Index, nullptr);
    } catch (const Exception&) {
    }
    asa_detail::ReleaseCallback(&FSQLCA, Index);
  }
}

void TAsaSession::RegisterEventCallbacks() {
  if (OnServerStart) RegisterCallback(DB_CALLBACK_START, true);
  if (OnServerFinish) RegisterCallback(DB_CALLBACK_FINISH, true);
  if (OnServerWait) RegisterCallback(DB_CALLBACK_WAIT, true);
  if (OnServerMessage) RegisterCallback(DB_CALLBACK_MESSAGE, true);
  if (OnConnectionDropped) RegisterCallback(DB_CALLBACK_CONN_DROPPED, true);
}

void TAsaSession::UnregisterCallbacks() {
  for (a_db_callback_index I : {DB_CALLBACK_DEBUG_MESSAGE, DB_CALLBACK_CONN_DROPPED, DB_CALLBACK_MESSAGE,
                                DB_CALLBACK_START, DB_CALLBACK_FINISH, DB_CALLBACK_WAIT})
    RegisterCallback(I, false);
}

void TAsaSession::DoServerStart() {
  if (!IsDestroying() && OnServerStart) OnServerStart(this);
}

void TAsaSession::DoServerFinish() {
  if (!IsDestroying() && OnServerFinish) OnServerFinish(this);
}

void TAsaSession::DoServerWait(SQLCA* Ca) {
  if (IsDestroying() || !OnServerWait) return;
  bool Abort = false;
  OnServerWait(this, Abort);
  if (Abort) db_cancel_request(Ca);
}

void TAsaSession::DoServerMessage(unsigned char MessageType, an_sql_code Code, unsigned short Length,
                                  const char* Msg) {
  if (IsDestroying() || !OnServerMessage) return;
  size_t N = Msg ? std::min<size_t>(Length, 32766) : 0;
  AnsiString Text(Msg ? Msg : "", N);
  TServerMessageType Type = smtUnknown;
  switch (MessageType) {
    case MESSAGE_TYPE_INFO: Type = smtInfo; break;
    case MESSAGE_TYPE_WARNING: Type = smtWarning; break;
    case MESSAGE_TYPE_ACTION: Type = smtAction; break;
    case MESSAGE_TYPE_STATUS: Type = smtStatus; break;
    default: break;
  }
  OnServerMessage(this, Type, Code, Text);
}

void TAsaSession::DoConnectionDropped() {
  if (!IsDestroying() && OnConnectionDropped) OnConnectionDropped(this);
}

void TAsaSession::DoDebugMessage(const char* Text) {
  if (IsDestroying() || !OnDebugMessage || !Text) return;
  // Cut at every run of line ends; a last piece without one is reported when not empty.
  const char* P = Text;
  while (*P) {
    const char* End = P;
    while (*End && *End != '\r' && *End != '\n') ++End;
    if (!*End) {
      if (End != P) OnDebugMessage(this, AnsiString(P, static_cast<size_t>(End - P)));
      return;
    }
    OnDebugMessage(this, AnsiString(P, static_cast<size_t>(End - P)));
    while (*End == '\r' || *End == '\n') ++End;
    P = End;
  }
}
