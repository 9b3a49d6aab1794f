// TAsaSession: the utility calls of the client library (database start/stop on a running server,
// connection information, server property, locating servers, ping, quoting, cancel, time change).
// Each loads the library on demand and evaluates the result with Check and WantExceptions unless
// said otherwise.
#include <cstring>

#include "asa/AsaLibrary.h"

namespace {

// The engine name inside a connection string: what follows "eng=" (any case) up to the next ';',
// with its case kept; the whole string when there is no "eng=".
AnsiString EngineNameOf(const AnsiString& ConnectString) {
  AnsiString Upper = UpperCase(ConnectString);
  size_t At = Upper.find("ENG=");
  if (At == AnsiString::npos) return ConnectString;
  size_t Start = At + 4;
  size_t Stop = ConnectString.find(';', Start);
  return ConnectString.substr(Start, Stop == AnsiString::npos ? AnsiString::npos : Stop - Start);
}

}  // namespace

// ---- databases on a running server -------------------------------------------------------------

bool TAsaSession::StartDatabase(const AnsiString& Params) { return StartOrStopDatabase(Params, true); }

bool TAsaSession::StopDatabase(const AnsiString& Params) { return StartOrStopDatabase(Params, false); }

bool TAsaSession::StartOrStopDatabase(const AnsiString& Params, bool Start) {
  if (GetConnected()) RaiseLastError<EAsaException>(ZylLoadStr(ZYL_ERR_SESS_CONNECTED), 0);
  InternalNeedLibrary();
  auto Call = Start ? db_start_database : db_stop_database;
  AnsiString Text = Start ? RemoteStartString() : RemoteStopString();
  bool Raise = GetWantExceptions();
  if (!Trim(Params).empty()) {
    // Through a connection of its own to the running server, ended on every path.
    AnsiString Connect = Params;
    db_string_connect(&FSQLCA, Connect.data());
    if (FSQLCA.sqlcode < 0) return Check(nullptr, 0, 0, Raise);
    bool Ok = false;
    try {
      Call(&FSQLCA, Text.data());
      Ok = Check(nullptr, 0, 0, Raise);
    } catch (...) {
      db_string_disconnect(&FSQLCA, Connect.data());
      throw;
    }
    db_string_disconnect(&FSQLCA, Connect.data());
    return Ok;
  }
  Call(&FSQLCA, Text.data());
  if (FSQLCA.sqlcode == SQLE_ENGINE_NOT_RUNNING) {
    // No server found: reach one through an engine connection (it stays open) and ask again.
    AnsiString Engine = EngineConnectString();
    db_string_connect(&FSQLCA, Engine.data());
    Call(&FSQLCA, Text.data());
  }
  return Check(nullptr, 0, 0, Raise);
}

// ---- information -------------------------------------------------------------------------------

bool TAsaSession::GetConnectionInfo(TAsaConnectionInfo Info, AnsiString& Value) {
  InternalNeedLibrary();
  std::vector<char> Buffer(32767, 0);
  TSqldaPtr Da = NewStringSqlda(Buffer.data(), static_cast<a_sql_len>(Buffer.size()));
  short Kind = static_cast<short>(Info) + 1;
  unsigned short Result = db_connection_info(FActiveSQLCA, Kind, Da.get());
  Da.reset();
  if (Result == 1) {
    Buffer.back() = 0;
    Value = Buffer.data();
  }
  return Check(nullptr, 0, 0, false);
}

AnsiString TAsaSession::GetLibraryVersion() {
  AnsiString Value;
  GetConnectionInfo(ciEngineVersion, Value);
  return Value;
}

bool TAsaSession::GetProperty(TAsaPropertyType Prop, AnsiString& Value) {
  InternalNeedLibrary();
  if (!db_get_property) return false;
  char Buffer[30] = {0};
  unsigned Result = db_get_property(FActiveSQLCA, static_cast<a_db_property>(Prop), Buffer, sizeof Buffer);
  bool Ok = Check(nullptr, 0, 0, GetWantExceptions());
  if (Ok && Result) {
    Buffer[sizeof Buffer - 1] = 0;
    Value = Buffer;
  }
  return Ok && Result != 0;
}

bool TAsaSession::LocateServers() {
  InternalNeedLibrary();
  if (!db_locate_servers || !OnLocateServers) return false;
  db_locate_servers(FActiveSQLCA, reinterpret_cast<SQL_CALLBACK_PARM>(reinterpret_cast<void*>(&asa_detail::LocateServersCallback)), this);
  return Check(nullptr, 0, 0, GetWantExceptions());
}

bool TAsaSession::DoLocateServer(const a_server_address* Address) {
  if (IsDestroying() || !OnLocateServers) return false;
  bool Abort = false;
  OnLocateServers(this, Address->name ? AnsiString(Address->name) : AnsiString(),
                  Address->address ? AnsiString(Address->address) : AnsiString(),
                  static_cast<int32_t>(Address->port_num), Abort);
  return !Abort;
}

// ---- servers and requests ----------------------------------------------------------------------

bool TAsaSession::Ping(const AnsiString& ConnectString) {
  InternalNeedLibrary();
  AnsiString Text = ConnectString;
  if (db_string_ping_server) {
    db_string_ping_server(FActiveSQLCA, Text.data(), 0);
  } else {
    AnsiString Engine = EngineNameOf(ConnectString);
    if (db_find_engine(FActiveSQLCA, Engine.data()) == 0 && FActiveSQLCA->sqlcode == 0) {
      // "No such server" comes back as a zero result with a clean SQLCA; report it as the error
      // it is, or a ping of a missing server would succeed.
      FActiveSQLCA->sqlcode = SQLE_ENGINE_NOT_RUNNING;
      std::memcpy(FActiveSQLCA->sqlstate, "08W01", 6);
      FActiveSQLCA->sqlerrml = 0;
    }
  }
  return Check(nullptr, 0, 0, GetWantExceptions());
}

bool TAsaSession::NeedQuotes(const AnsiString& Name) {
  InternalNeedLibrary();
  AnsiString Text = Name;
  sql_needs_quotes(FActiveSQLCA, Text.data());
  Check(nullptr, 0, 0, GetWantExceptions());
  return FActiveSQLCA->sqlcode == SQLE_WARNING;
}

bool TAsaSession::IsWorking() {
  InternalNeedLibrary();
  return db_is_working(FActiveSQLCA) == 1;
}

bool TAsaSession::Stop() {
  if (!IsWorking()) return true;
  db_cancel_request(FActiveSQLCA);
  return Check(nullptr, 0, 0, GetWantExceptions());
}

bool TAsaSession::TimeChange() {
  InternalNeedLibrary();
  if (!db_time_change) return false;
  db_time_change(FActiveSQLCA);
  return Check(nullptr, 0, 0, GetWantExceptions());
}
