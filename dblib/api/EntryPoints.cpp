// Entry points for the library itself, connections and engines: db_init/db_fini, connect and
// disconnect, starting and stopping engines and databases, finding and pinging engines,
// callbacks, cancel, messages and the small utility calls.
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "dblib/api/Client.h"
#include "dblib/api/Flavour.h"
#include "dblib/api/Transfer.h"
#include "dblib/esql.h"
#include "dblib/sql/ConnectionString.h"
#include "dblib/sql/Identifiers.h"

namespace dbl {
namespace {

// Connection parameters: the string's own, then SQLCONNECT for the parameters the string lacks.
// Both are parsed first and merged as key/value pairs: the variable cannot reach into the
// application's values, and every character of its own values survives.
ConnectionString Params(const char* parms) {
  ConnectionString cs = ConnectionString::Parse(parms ? parms : "");
  if (const char* env = std::getenv("SQLCONNECT"); env && *env) cs.MergeDefaults(ConnectionString::Parse(env));
  return cs;
}

// A connection string that names a TCP/IP link reaches a database server over the network.
std::optional<ServerAddress> NetworkAddress(const ConnectionString& cs) {
  std::optional<TcpipLink> link = ParseTcpipLink(cs.Get("LINKS"));
  if (!link) return std::nullopt;
  ServerAddress a;
  a.host = link->host;
  a.port = link->port;
  a.timeoutSeconds = link->timeout;
  a.database = cs.Get("DBN");
  a.server = cs.Get("ENG");
  return a;
}

void RefuseNetwork(const ConnectionString& cs) {
  std::string links = UpperName(cs.Get("LINKS"));
  // Our engines live in the client's process: a network link cannot reach any of them yet.
  if (links.find("TCPIP") != std::string::npos || links.find("TCP") != std::string::npos ||
      links.find("SPX") != std::string::npos || links.find("NAMEDPIPES") != std::string::npos)
    throw SqlError(SQLE_ENGINE_NOT_RUNNING);
}

// Library and engine report the flavour's major version with one build number. The engine
// behind every flavour is the same one, but a binding derives server rules from the engine's
// major version (the utility-database check, the version-6 cursor positioning after a short
// block, which the fetch code reproduces for that flavour), so each flavour's engine answers
// as the server of its generation would.
std::string VersionText() { return std::to_string(dbl_flavour_version()) + ".0.1.3415"; }
std::string EngineVersionText() { return VersionText(); }

struct Located {
  std::shared_ptr<Engine> engine;            // this process
  std::optional<RemoteEngine> remote;        // another process
};

Located Locate(const std::string& engineName) {
  Located l;
  auto& reg = Registry::Get();
  if (engineName.empty()) {
    l.engine = reg.Default();
    if (!l.engine) l.remote = reg.AnyRemote();
  } else {
    l.engine = reg.Find(engineName);
    if (!l.engine) l.remote = reg.FindRemote(engineName);
  }
  return l;
}

// Starts the databases of a start line and the DBF on an engine.
void StartDatabases(Engine& e, const ConnectionString& cs, bool autoStop) {
  StartLine sl = StartLine::Parse(cs.Get("START"));
  for (auto& d : sl.databases) e.StartDatabase(d.file, d.name, autoStop);
  if (cs.Has("DBF") && !cs.Get("DBF").empty()) e.StartDatabase(cs.Get("DBF"), cs.Get("DBN"), autoStop);
  Registry::Get().Publish(e);
}

std::string EngineNameFor(const ConnectionString& cs) {
  if (!cs.Get("ENG").empty()) return cs.Get("ENG");
  if (!cs.Get("DBF").empty()) return FilePrefix(cs.Get("DBF"));
  StartLine sl = StartLine::Parse(cs.Get("START"));
  if (!sl.databases.empty()) return FilePrefix(sl.databases.front().file);
  return {};
}

bool IsUtility(const std::string& dbn) { return UpperName(dbn) == "UTILITY_DB"; }

// Where a connect goes: a database of an engine of this process, or a database file that an
// engine of another process serves (opened here as well).
struct Target {
  std::shared_ptr<Engine> engine;  // null for another process's database
  std::shared_ptr<Database> db;
  bool started = false;            // this connect started the database
};

// The database of that file wherever it runs: on an engine of this process (the one named, or
// any), else on an engine of another process (the one named, or any).
Target FindFile(const std::string& eng, const std::string& file) {
  Target t;
  auto& reg = Registry::Get();
  std::vector<std::shared_ptr<Engine>> here;
  if (!eng.empty()) {
    if (auto e = reg.Find(eng)) here.push_back(e);
  } else {
    here = reg.Engines();
  }
  for (auto& e : here)
    if (auto db = e->FindFile(file)) {
      t.engine = e;
      t.db = db;
      return t;
    }
  for (auto& r : reg.FindRemotes(eng)) {
    std::string name = r.NameOf(file);
    if (!name.empty()) {
      t.db = reg.AttachRemote(r, name, file);
      return t;
    }
  }
  return t;
}

// An engine of this process for a connect or a start that found none: named ENG, else after
// the first database file. It is this process's own even when another process runs an engine
// of that name (that one did not serve the file asked for).
std::shared_ptr<Engine> StartOwnEngine(const ConnectionString& cs, bool autoStop) {
  std::string name = EngineNameFor(cs);
  if (name.empty()) throw SqlError(SQLE_ENGINE_NOT_RUNNING);
  StartLine sl = StartLine::Parse(cs.Get("START"));
  auto e = Registry::Get().StartEngine(name, sl.suPassword, true);
  e->autoStop = autoStop;
  try {
    for (auto& d : sl.databases) e->StartDatabase(d.file, d.name, autoStop);
  } catch (...) {
    Registry::Get().StopEngine(name, true);
    throw;
  }
  return e;
}

// A database file named by DBF is exactly the database reached: found by its file wherever it
// runs, or started (under DBN, else under a name of its own: two files with the same base name
// are two databases).
Target ConnectTargetByFile(const ConnectionString& cs) {
  std::string eng = cs.Get("ENG"), dbn = cs.Get("DBN"), dbf = cs.Get("DBF");
  bool autoStop = cs.GetBool("ASTOP", true);
  Target t = FindFile(eng, dbf);
  if (t.db) return t;
  auto& reg = Registry::Get();
  t.engine = eng.empty() ? reg.Default() : reg.Find(eng);
  bool ownEngine = false;
  if (!t.engine) {
    if (!cs.GetBool("ASTART", true)) throw SqlError(SQLE_ENGINE_NOT_RUNNING);
    t.engine = StartOwnEngine(cs, autoStop);
    ownEngine = true;
  }
  try {
    t.db = t.engine->StartDatabase(dbf, dbn.empty() ? t.engine->FreeName(dbf) : dbn, autoStop);
  } catch (...) {
    if (ownEngine) reg.StopEngine(t.engine->Name(), true);
    throw;
  }
  t.started = true;
  reg.Publish(*t.engine);
  return t;
}

// Without DBF: the engine named (or the default one) and the database named (or its only one).
Target ConnectTargetByName(const ConnectionString& cs) {
  std::string eng = cs.Get("ENG"), dbn = cs.Get("DBN");
  Target t;
  Located l = Locate(eng);
  if (!l.engine && !l.remote) {
    bool canStart = cs.GetBool("ASTART", true) && (cs.Has("START") || IsUtility(dbn));
    if (!canStart) throw SqlError(SQLE_ENGINE_NOT_RUNNING);
    l.engine = StartOwnEngine(cs, cs.GetBool("ASTOP", true));
    Registry::Get().Publish(*l.engine);
  }
  if (l.engine) {
    Engine& e = *l.engine;
    t.engine = l.engine;
    if (IsUtility(dbn)) {
      t.db = e.Utility();
    } else if (!dbn.empty()) {
      t.db = e.Find(dbn);
      if (!t.db) throw SqlError(SQLE_DATABASE_NOT_FOUND);
    } else {
      t.db = e.Only();
      if (!t.db) throw SqlError(e.DatabaseCount() == 0 ? SQLE_REQUEST_DENIED_NO_DATABASES : SQLE_DATABASE_NAME_REQUIRED);
    }
    return t;
  }
  if (IsUtility(dbn)) throw SqlError(SQLE_CONNECTION_ERROR, {"the utility database of another process"});
  // Engines of other processes: the first of that name with the database named (or only one).
  for (auto& r : Registry::Get().FindRemotes(eng))
    for (auto& [n, f] : r.databases)
      if (dbn.empty() ? r.databases.size() == 1 : UpperName(n) == UpperName(dbn)) {
        t.db = Registry::Get().AttachRemote(r, n, f);
        return t;
      }
  throw SqlError(SQLE_DATABASE_NOT_FOUND);
}

// Keeps an engine from stopping between a connect's look-up and its login.
class Reservation {
 public:
  explicit Reservation(std::shared_ptr<Engine> e) : e_(std::move(e)) {
    if (e_) e_->Reserve();
  }
  ~Reservation() {
    if (e_) e_->Release();
  }
  Reservation(const Reservation&) = delete;
  Reservation& operator=(const Reservation&) = delete;

 private:
  std::shared_ptr<Engine> e_;
};

// A database on a server: log in there (the server's users and passwords).
void ConnectNetwork(Client& client, const ConnectionString& cs, const ServerAddress& a) {
  std::string conName = cs.Get("CON");
  ServerAddress at = a;
  // A server's databases go by name: a file names the database by its prefix.
  if (at.database.empty() && !cs.Get("DBF").empty()) at.database = FilePrefix(cs.Get("DBF"));
  auto cc = std::make_unique<ClientConnection>(client, conName);
  cc->database = OpenServerDatabase(at);
  cc->conn = cc->database->Connect(cs.Get("UID"), cs.Get("PWD"));
  cc->conn->SetMessageSink(cc.get());
  client.CallDebug("connected to " + cc->database->Name() + " on " + cc->conn->EngineName() + " as " + cs.Get("UID"));
  client.Add(std::move(cc));
}

// db_string_connect: find (or auto-start) the engine and database, then log in. Finding and
// starting are one step across threads and processes; the login runs outside it.
void Connect(Client& client, const char* parms) {
  ConnectionString cs = Params(parms);
  std::string conName = cs.Get("CON");
  if (client.FindConnection(conName))
    throw SqlError(SQLE_CONNECTION_ERROR, {"connection '" + conName + "' already exists on this SQLCA"});
  if (std::optional<ServerAddress> a = NetworkAddress(cs)) return ConnectNetwork(client, cs, *a);
  RefuseNetwork(cs);
  if (cs.Has("LOG") || cs.GetBool("DBG", false)) client.debug = true;
  cs.GetBool("ASTART", true);  // a value that is no boolean is refused before anything starts
  cs.GetBool("ASTOP", true);

  Target t;
  std::unique_ptr<Reservation> reserved;
  {
    StartLock hold(Registry::Get());
    bool byFile = !cs.Get("DBF").empty() && !IsUtility(cs.Get("DBN"));
    t = byFile ? ConnectTargetByFile(cs) : ConnectTargetByName(cs);
    reserved = std::make_unique<Reservation>(t.engine);
  }
  auto cc = std::make_unique<ClientConnection>(client, conName);
  cc->engine = t.engine;
  cc->database = t.db;
  cc->autoStopDatabase = t.started && cs.GetBool("ASTOP", true);
  try {
    cc->conn = t.db->Connect(cs.Get("UID"), cs.Get("PWD"));
  } catch (...) {
    cc.reset();
    reserved.reset();
    Registry::Get().SweepAutoStop();
    throw;
  }
  reserved.reset();
  cc->conn->SetMessageSink(cc.get());
  client.CallDebug("connected to " + t.db->Name() + " as " + cs.Get("UID"));
  client.Add(std::move(cc));
}

// db_backup: the backup lives on the current connection from start to end.
void RunBackup(Client& c, int op, int file, a_sql_uint32 page, SQLDA* da) {
  ClientConnection& cc = c.Current();
  if (op < DB_BACKUP_START || op > DB_BACKUP_READ_RENAME_LOG) throw SqlError(SQLE_UNKNOWN_BACKUP_OPERATION);
  if (op == DB_BACKUP_START) {
    if (cc.backup) throw SqlError(SQLE_BACKUP_NOT_STARTED);  // one at a time
    cc.backup = cc.conn->StartBackup();
    c.sqlca->sqlerrd[2] = a_sql_int32(cc.backup->PageSize());
    return;
  }
  if (!cc.backup) throw SqlError(SQLE_BACKUP_NOT_STARTED);
  Backup& b = *cc.backup;
  switch (op) {
    case DB_BACKUP_OPEN_FILE: {
      BackupFile f;
      if (!b.Open(file, f)) throw SqlError(SQLE_NOTFOUND);
      SetSqlca(c.sqlca, 0, {f.name});
      c.sqlca->sqlerrd[2] = a_sql_int32(f.pages);
      c.sqlca->sqlerrd[3] = a_sql_int32(f.created);
      return;
    }
    case DB_BACKUP_READ_PAGE:
    case DB_BACKUP_READ_RENAME_LOG: {
      if (op == DB_BACKUP_READ_RENAME_LOG && file != DB_BACKUP_TRANS_LOG_FILE)
        throw SqlError(SQLE_UNKNOWN_BACKUP_OPERATION);
      std::string bytes = b.ReadPage(file, page);
      // A page cut short would make a broken copy: a buffer too small is an error.
      if (!da || da->sqld < 1 || da->sqln < 1) throw SqlError(SQLE_SQLDA_TOO_SMALL);
      if (WriteValue(da->sqlvar[0], Value::Blob(std::move(bytes))) == SQLE_TRUNCATED)
        throw SqlError(SQLE_INVALID_SQLLEN);
      // The log restarts after its last page; the message area then names the filed-away log.
      if (op == DB_BACKUP_READ_RENAME_LOG && page + 1 == b.PageCount(file)) SetSqlca(c.sqlca, 0, {b.RestartLog()});
      return;
    }
    case DB_BACKUP_CLOSE_FILE: b.Close(file); return;
    case DB_BACKUP_END: cc.backup.reset(); return;
  }
}

}  // namespace

// Option values and connection information pass through one-variable string descriptors.
void WriteText(SQLDA* da, const std::string& text) {
  if (!da || da->sqld < 1 || da->sqln < 1) throw SqlError(SQLE_SQLDA_TOO_SMALL);
  // A cut value is still delivered; the warning says so.
  if (int w = WriteValue(da->sqlvar[0], Value::Text(text))) throw SqlError(w);
}

}  // namespace dbl

using namespace dbl;

extern "C" {

_esqlentry_ int db_init(SQLCA* ca) {
  if (!ca) return 0;
  try {
    CreateClient(ca);
  } catch (...) {
    return 0;
  }
  std::memset(ca, 0, sizeof *ca);
  std::memcpy(ca->sqlcaid, "SQLCA   ", 8);
  ca->sqlcabc = sizeof(SQLCA);
  std::memcpy(ca->sqlstate, "00000", 6);
  return 1;
}

_esqlentry_ int db_fini(SQLCA* ca) {
  if (!ca) return 0;
  auto c = ClientFor(ca);
  if (!c) {
    SetSqlca(ca, SQLE_DB_INIT_NOT_CALLED);
    return 0;
  }
  if (c->working.load()) {
    SetSqlca(ca, SQLE_DOUBLE_REQUEST);
    return 0;
  }
  try {
    DestroyClient(ca);
  } catch (...) {
  }
  ClearSqlca(ca);
  return 1;
}

_esqlentry_ unsigned db_string_connect(SQLCA* ca, char* parms) {
  return Request(ca, [&](Client& c) { Connect(c, parms); }) ? 1 : 0;
}

_esqlentry_ unsigned db_string_disconnect(SQLCA* ca, char* parms) {
  bool ended = false;
  Request(ca, [&](Client& c) {
    ConnectionString cs = ConnectionString::Parse(parms ? parms : "");
    ClientConnection* cc = cs.Has("CON") ? c.FindConnection(cs.Get("CON")) : c.FindConnection("");
    if (!cc && !cs.Has("CON")) {
      auto all = c.Connections();
      if (!all.empty()) cc = &c.Current();
    }
    if (!cc) throw SqlError(SQLE_NOT_CONNECTED);
    c.Remove(cc);
    ended = true;
  });
  return ended ? 1 : 0;
}

_esqlentry_ unsigned db_start_engine(SQLCA* ca, char* parms) {
  bool running = false;
  Request(ca, [&](Client& c) {
    ConnectionString cs = Params(parms);
    RefuseNetwork(cs);
    std::string name = EngineNameFor(cs);
    if (name.empty()) throw SqlError(SQLE_INVALID_COMMAND_LINE);
    StartLock hold(Registry::Get());
    bool own = false;
    if (!cs.GetBool("FORCE", false)) {
      if (Registry::Get().Find(name)) {
        running = true;
        throw SqlError(SQLE_ENGINE_ALREADY_RUNNING);
      }
      // Another process's engine of that name is the one asked for when it serves every file
      // to start; otherwise this process starts its own under the name.
      auto others = Registry::Get().FindRemotes(name);
      if (!others.empty()) {
        std::vector<std::string> files;
        for (auto& d : StartLine::Parse(cs.Get("START")).databases) files.push_back(d.file);
        if (!cs.Get("DBF").empty()) files.push_back(cs.Get("DBF"));
        bool serves = true;
        for (auto& f : files) serves = serves && !others.front().NameOf(f).empty();
        if (serves) {
          running = true;
          throw SqlError(SQLE_ENGINE_ALREADY_RUNNING);
        }
        own = true;
      }
    }
    StartLine sl = StartLine::Parse(cs.Get("START"));
    auto e = Registry::Get().StartEngine(name, sl.suPassword, own);
    try {
      StartDatabases(*e, cs, false);
    } catch (...) {
      Registry::Get().StopEngine(name, true);
      throw;
    }
    running = true;
  });
  return running ? 1 : 0;
}

_esqlentry_ unsigned db_stop_engine(SQLCA* ca, char* parms) {
  return Request(ca, [&](Client& c) {
           ConnectionString cs = ConnectionString::Parse(parms ? parms : "");
           std::string name = cs.Get("ENG");
           auto e = name.empty() ? Registry::Get().Default() : Registry::Get().Find(name);
           if (!e) throw SqlError(SQLE_ENGINE_NOT_RUNNING);
           bool unc = cs.GetBool("UNC", false);
           Registry::Get().StopEngine(e->Name(), unc);
           if (unc) DropConnectionsOf(e->Name());
         })
             ? 1
             : 0;
}

_esqlentry_ unsigned db_start_database(SQLCA* ca, char* parms) {
  return Request(ca, [&](Client& c) {
           ConnectionString cs = Params(parms);
           RefuseNetwork(cs);
           std::string dbf = cs.Get("DBF");
           if (dbf.empty()) throw SqlError(SQLE_NO_DATABASE_FILE);
           std::string eng = cs.Get("ENG");
           auto& reg = Registry::Get();
           StartLock hold(reg);
           auto e = eng.empty() ? reg.Default() : reg.Find(eng);
           if (!e) {
             // An engine of another process that serves the file already runs it; otherwise
             // this process starts the file on an engine of its own of that name.
             for (auto& r : reg.FindRemotes(eng))
               if (!r.NameOf(dbf).empty()) return;
             e = reg.StartEngine(eng.empty() ? FilePrefix(dbf) : eng, std::nullopt, true);
             e->autoStop = false;
           }
           e->StartDatabase(dbf, cs.Get("DBN"), false);
           reg.Publish(*e);
         })
             ? 1
             : 0;
}

_esqlentry_ unsigned db_stop_database(SQLCA* ca, char* parms) {
  return Request(ca, [&](Client& c) {
           ConnectionString cs = ConnectionString::Parse(parms ? parms : "");
           std::string eng = cs.Get("ENG");
           auto e = eng.empty() ? Registry::Get().Default() : Registry::Get().Find(eng);
           if (!e) throw SqlError(SQLE_ENGINE_NOT_RUNNING);
           std::string dbn = cs.Get("DBN");
           if (dbn.empty() && !cs.Get("DBF").empty()) {
             if (auto db = e->FindFile(cs.Get("DBF"))) dbn = db->Name();
             else dbn = FilePrefix(cs.Get("DBF"));
           }
           if (dbn.empty()) {
             auto only = e->Only();
             if (!only) throw SqlError(SQLE_DATABASE_NAME_REQUIRED);
             dbn = only->Name();
           }
           if (!e->StopDatabase(dbn, cs.GetBool("UNC", false))) throw SqlError(SQLE_DATABASE_NOT_FOUND);
           Registry::Get().Publish(*e);
         })
             ? 1
             : 0;
}

_esqlentry_ unsigned short db_find_engine(SQLCA* ca, char* name) {
  unsigned short flags = 0;
  Request(ca, [&](Client&) {
    std::string n = name ? name : "";
    Located l = Locate(n);
    int dbs = 0;
    if (l.engine) dbs = l.engine->DatabaseCount();
    else if (l.remote) dbs = int(l.remote->databases.size());
    else return;
    flags = DB_ENGINE | DB_CLIENT | DB_DATABASE_SPECIFIED | DB_ACTIVE_CONNECTION | (dbs == 0 ? DB_NO_DATABASES : 0);
  });
  return flags;
}

_esqlentry_ unsigned db_string_ping_server(SQLCA* ca, char* parms, unsigned connect_to_db) {
  return Request(ca, [&](Client&) {
           ConnectionString cs = Params(parms);
           if (std::optional<ServerAddress> a = NetworkAddress(cs)) {
             // The server answers; with a database and a user given, that user logs in there.
             if (a->database.empty()) a->database = "utility_db";
             if (!connect_to_db || !cs.Has("UID")) return PingServer(*a);
             OpenServerDatabase(*a)->Connect(cs.Get("UID"), cs.Get("PWD"));
             return;
           }
           RefuseNetwork(cs);
           Located l = Locate(cs.Get("ENG"));
           if (!l.engine && !l.remote) throw SqlError(SQLE_ENGINE_NOT_RUNNING);
           if (!connect_to_db) return;
           // A connection to the named (or only) database must be possible: it runs, and
           // with a user given, that user logs in (the trial connection ends at once).
           std::string dbn = cs.Get("DBN");
           std::shared_ptr<Database> db;
           if (IsUtility(dbn)) {
             if (!l.engine) return;  // the other process's utility database is not ours to try
             db = l.engine->Utility();
           } else if (l.engine) {
             db = dbn.empty() ? l.engine->Only() : l.engine->Find(dbn);
             if (!db && dbn.empty() && l.engine->DatabaseCount() > 1) throw SqlError(SQLE_DATABASE_NAME_REQUIRED);
           } else {
             for (auto& [n, f] : l.remote->databases)
               if ((dbn.empty() && l.remote->databases.size() == 1) || UpperName(n) == UpperName(dbn))
                 db = Registry::Get().AttachRemote(*l.remote, n, f);
           }
           if (!db) throw SqlError(SQLE_DATABASE_NOT_FOUND);
           if (cs.Has("UID")) db->Connect(cs.Get("UID"), cs.Get("PWD"));
         })
             ? 1
             : 0;
}

_esqlentry_ void db_register_a_callback(SQLCA* ca, a_db_callback_index index, SQL_CALLBACK_PARM callback) {
  auto c = ClientFor(ca);
  if (!c) {
    if (ca) SetSqlca(ca, SQLE_DB_INIT_NOT_CALLED);
    return;
  }
  if (int(index) < 0 || int(index) >= DB_MAX_CALLBACK) return;
  c->callbacks[index] = callback;
}

_esqlentry_ int db_cancel_request(SQLCA* ca) {
  auto c = ClientFor(ca);
  if (!c || !c->working.load()) return 0;
  std::lock_guard<std::mutex> lock(c->m);
  bool sent = false;
  for (auto* cc : c->Connections())
    if (cc->conn) {
      cc->conn->Cancel();
      sent = true;
    }
  return sent ? 1 : 0;
}

_esqlentry_ unsigned short db_is_working(SQLCA* ca) {
  auto c = ClientFor(ca);
  return c && c->working.load() ? 1 : 0;
}

_esqlentry_ void db_delete_file(SQLCA* ca, char* filename) {
  // What a backup's log restart filed away is the only thing a client may delete this way.
  Request(ca, [&](Client& c) { c.Current().conn->DeleteLogFile(filename ? filename : ""); });
}

_esqlentry_ unsigned db_locate_servers(SQLCA* ca, SQL_CALLBACK_PARM callback, void* user) {
  return db_locate_servers_ex(ca, callback, user, 0);
}

_esqlentry_ unsigned db_locate_servers_ex(SQLCA* ca, SQL_CALLBACK_PARM callback, void* user, unsigned bitmask) {
  // The servers there are to find are the engines this user runs on this machine, in this
  // process and in others (the registry directory). They are reached in-process or through
  // the database file, not over a network, so every one is reported at this host with the
  // vendor's default port.
  return Request(ca, [&](Client&) {
           if (!callback) return;
           using Cb = int (*)(SQLCA*, a_server_address*, void*);
           std::string address = "127.0.0.1";
           if (!(bitmask & DB_LOOKUP_FLAG_NUMERIC)) {
             char host[256] = {0};
             address = gethostname(host, sizeof host - 1) == 0 && host[0] ? host : "localhost";
           }
           if (bitmask & DB_LOOKUP_FLAG_ADDRESS_INCLUDES_PORT) address += ":" + std::to_string(DB_DEFAULT_SERVER_PORT);
           for (const RemoteEngine& server : Registry::Get().Servers()) {
             // Copies the callback may read but not keep.
             std::string name = server.name, at = address;
             std::vector<std::string> dbs;
             if (bitmask & DB_LOOKUP_FLAG_DATABASES)
               for (auto& [dbName, file] : server.databases) dbs.push_back(dbName);
             if (dbs.empty()) dbs.emplace_back();
             bool more = true;
             for (std::string& db : dbs) {
               a_server_address a{PORT_TYPE_TCP, DB_DEFAULT_SERVER_PORT, name.data(), at.data(),
                                  (bitmask & DB_LOOKUP_FLAG_DATABASES) ? db.data() : nullptr};
               if (!reinterpret_cast<Cb>(callback)(ca, &a, user)) {
                 more = false;
                 break;
               }
             }
             if (!more) break;
           }
         })
             ? 1
             : 0;
}

_esqlentry_ void db_backup(SQLCA* ca, int op, int file_num, a_sql_uint32 page_num, struct sqlda* descriptor) {
  Request(ca, [&](Client& c) { RunBackup(c, op, file_num, page_num, descriptor); });
}

_esqlentry_ unsigned db_get_property(SQLCA* ca, a_db_property property, char* buf, int bufsize) {
  return Request(ca, [&](Client&) {
           std::string v;
           switch (property) {
             case DB_PROP_SERVER_ADDRESS: v = ""; break;
             case DB_PROP_DBLIB_VERSION: v = VersionText(); break;
             case DB_PROP_CLIENT_CHARSET: v = "utf-8"; break;
             default: throw SqlError(SQLE_INVALID_OPTION_SETTING, {"property"});
           }
           if (!buf || bufsize <= 0) throw SqlError(SQLE_INVALID_SQLLEN);
           size_t n = std::min(v.size(), size_t(bufsize - 1));
           std::memcpy(buf, v.data(), n);
           buf[n] = 0;
           if (n < v.size()) throw SqlError(SQLE_TRUNCATED);
         })
             ? 1
             : 0;
}

_esqlentry_ unsigned db_time_change(SQLCA* ca) {
  // Engine and client share the process: re-reading the time zone is the whole adjustment.
  return Request(ca, [&](Client&) { tzset(); }) ? 1 : 0;
}

_esqlentry_ char* sqlerror_message(SQLCA* ca, char* buffer, int max) {
  if (!ca || !buffer || max <= 0 || ca->sqlcode == 0) return nullptr;
  std::string text;
  auto c = ClientFor(ca);
  if (c && c->lastCode == ca->sqlcode && !c->working.load()) {
    text = c->lastMessage;
  } else {
    std::vector<std::string> args;
    std::string cur;
    for (int i = 0; i < std::min<int>(ca->sqlerrml, int(sizeof ca->sqlerrmc)); ++i) {
      if (ca->sqlerrmc[i] == 0xFF) {
        args.push_back(cur);
        cur.clear();
      } else {
        cur += char(ca->sqlerrmc[i]);
      }
    }
    args.push_back(cur);
    text = FormatMessage(ca->sqlcode, args);
  }
  size_t n = std::min(text.size(), size_t(max - 1));
  std::memcpy(buffer, text.data(), n);
  buffer[n] = 0;
  return buffer;
}

_esqlentry_ unsigned sql_needs_quotes(SQLCA* ca, char* identifier) {
  bool needs = false;
  Request(ca, [&](Client& c) {
    needs = NeedsQuotes(identifier ? identifier : "");
    if (needs) ReportCode(c, SQLE_WARNING, {"identifier needs quotes"});
  });
  return needs ? 1 : 0;
}

_esqlentry_ unsigned short db_connection_info(SQLCA* ca, short kind, struct sqlda* descriptor) {
  return Request(ca, [&](Client& c) {
           ClientConnection& cc = c.Current();
           switch (kind) {
             case DB_CONNINFO_ENGINE_VERSION: WriteText(descriptor, EngineVersionText()); break;
             case DB_CONNINFO_ENGINE_NAME: WriteText(descriptor, cc.conn->EngineName()); break;
             case DB_CONNINFO_DATABASE_NAME: WriteText(descriptor, cc.conn->DatabaseName()); break;
             default: throw SqlError(SQLE_INVALID_OPTION_SETTING, {"connection information"});
           }
         })
             ? 1
             : 0;
}

_esqlentry_ short db_version_check(unsigned short version) { return version <= dbl_flavour_version() ? 1 : 0; }

_esqlentry_ void db_interface_option(SQLCA* ca, int option, a_sql_int32 value) {}

}  // extern "C"
