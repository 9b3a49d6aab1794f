// SQLite databases and connections: opening files, users, options, variables, transactions.
#include "dblib/sqlite/SqliteEngine.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>

#include "dblib/engine/Auth.h"
#include "dblib/engine/Registry.h"
#include "dblib/sqlite/Catalog.h"
#include "dblib/sqlite/ProcAlerts.h"
#include "dblib/sqlite/ReadAheadVfs.h"
#include "dblib/sqlite/SqliteErrors.h"
#include "dblib/sqlite/SqliteStatement.h"
#include "dblib/sqlite/Users.h"
#include "dblib/sqlite/WriteChecks.h"

namespace dbl {
namespace fs = std::filesystem;

namespace {

long long NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

thread_local bool t_noLockWait = false;

void Exec(sqlite3* db, const char* sql) {
  int rc = sq::exec(db, sql, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) ThrowSqlite(db, rc, sql);
}

// zyl_getvar('name'): the value of a connection variable (NULL when it has none yet).
void GetVarFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  auto* conn = static_cast<SqliteConnection*>(sq::user_data(ctx));
  const unsigned char* name = sq::value_text(argv[0]);
  Value v;
  if (!name || !conn->GetVariable(reinterpret_cast<const char*>(name), v)) {
    FailFunction(ctx, SqlError(SQLE_VARIABLE_NOT_FOUND, {name ? reinterpret_cast<const char*>(name) : ""}));
    return;
  }
  switch (v.kind) {
    case Value::Kind::Null: sq::result_null(ctx); break;
    case Value::Kind::Integer: sq::result_int64(ctx, v.i); break;
    case Value::Kind::Real: sq::result_double(ctx, v.d); break;
    case Value::Kind::Text: sq::result_text(ctx, v.bytes.data(), int(v.bytes.size()), SQLITE_TRANSIENT); break;
    case Value::Kind::Blob: sq::result_blob(ctx, v.bytes.data(), int(v.bytes.size()), SQLITE_TRANSIENT); break;
  }
}

struct OptionDefault {
  const char* name;
  const char* value;
};
const OptionDefault kOptionDefaults[] = {
    {"isolation_level", "0"},        {"row_counts", "Off"},
    {"ansi_update_constraints", "Cursors"}, {"conversion_error", "On"},
    {"string_rtruncation", "On"},    {"date_format", "YYYY-MM-DD"},
    {"time_format", "HH:NN:SS.SSS"}, {"timestamp_format", "YYYY-MM-DD HH:NN:SS.SSS"},
    {"quoted_identifier", "On"},     {"chained", "On"},
    {"blocking", "On"},              {"auto_commit", "Off"},
};

bool IsBoolOption(std::string_view n) {
  for (const char* b : {"row_counts", "conversion_error", "string_rtruncation", "quoted_identifier", "chained",
                        "blocking", "auto_commit"})
    if (strcasecmp(std::string(n).c_str(), b) == 0) return true;
  return false;
}

// Normalises and checks a value for the options we understand; others are stored as given.
std::string CheckOptionValue(std::string_view name, std::string_view value) {
  std::string v(value);
  std::string n(name);
  if (strcasecmp(n.c_str(), "isolation_level") == 0) {
    if (v != "0" && v != "1" && v != "2" && v != "3") throw SqlError(SQLE_INVALID_OPTION_SETTING, {n});
    return v;
  }
  if (IsBoolOption(n)) {
    std::string u = UpperName(v);
    // Stored as written (read back as the client set it), checked case-insensitively.
    if (u == "ON" || u == "YES" || u == "TRUE" || u == "1" || u == "OFF" || u == "NO" || u == "FALSE" || u == "0")
      return v;
    throw SqlError(SQLE_INVALID_OPTION_SETTING, {n});
  }
  if (strcasecmp(n.c_str(), "ansi_update_constraints") == 0) {
    std::string u = UpperName(v);
    if (u == "OFF" || u == "CURSORS" || u == "STRICT") return v;
    throw SqlError(SQLE_INVALID_OPTION_SETTING, {n});
  }
  return v;
}

}  // namespace

// ---- files ----

sqlite3* OpenHandle(const std::string& file, bool create) {
  if (!create) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) throw SqlError(SQLE_DATABASE_NOT_FOUND);
  }
  sqlite3* db = nullptr;
  // Each handle belongs to one connection, and a client uses a connection from one thread at a
  // time (the other thread of a cancel only interrupts, which needs no lock), so SQLite's own
  // per-call mutex would guard nothing and cost a lock on every column read.
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
  // Through the read-ahead file layer: scans and row counts read the file in large pieces.
  int rc = sq::open_v2(file.c_str(), &db, flags, ReadAheadVfsName());
  if (rc != SQLITE_OK) {
    SqlError e = FromSqlite(db, rc);
    sq::close_v2(db);
    if (e.Code() == SQLE_UNABLE_TO_START_DATABASE || e.Code() == SQLE_PERMISSION_DENIED)
      throw SqlError(SQLE_UNABLE_TO_START_DATABASE, {file});
    throw e;
  }
  try {
    sq::busy_timeout(db, 5000);
    // The first real read tells whether this is a database at all.
    int jrc = sq::exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    if (jrc == SQLITE_NOTADB || jrc == SQLITE_CORRUPT) throw SqlError(SQLE_INVALID_DATABASE);
    if (jrc != SQLITE_OK) ThrowSqlite(db, jrc);
    Exec(db, "PRAGMA foreign_keys=ON; PRAGMA synchronous=NORMAL");
  } catch (...) {
    sq::close_v2(db);
    throw;
  }
  return db;
}

void CreateDatabaseFile(const std::string& file) {
  std::error_code ec;
  if (file.empty()) throw SqlError(SQLE_NO_DATABASE_FILE);
  if (fs::exists(file, ec)) throw SqlError(SQLE_UNABLE_TO_START_DATABASE, {file + " already exists"});
  sqlite3* db = OpenHandle(file, true);
  try {
    Exec(db, "BEGIN");
    users::CreateSchema(db);
    catalog::CreateSchema(db);
    Exec(db, "COMMIT");
  } catch (...) {
    sq::close_v2(db);
    fs::remove(file, ec);
    fs::remove(file + "-wal", ec);
    fs::remove(file + "-shm", ec);
    throw;
  }
  sq::close_v2(db);
}

void DropDatabaseFile(const std::string& file) {
  sqlite3* db = OpenHandle(file, false);
  bool ours = users::HasSchema(db);
  sq::close_v2(db);
  if (!ours) throw SqlError(SQLE_INVALID_DATABASE);
  std::error_code ec;
  fs::remove(file, ec);
  if (ec) throw SqlError(SQLE_BACKUP_UNABLE_TO_DELETE_FILE);
  fs::remove(file + "-wal", ec);
  fs::remove(file + "-shm", ec);
}

// ---- factory ----

namespace {
class SqliteFactory : public DatabaseFactory {
 public:
  std::shared_ptr<Database> Open(const std::string& file, const std::string& name, const std::string& engine) override {
    // Check the file once now, so a start reports -83/-84 instead of the first connect.
    sqlite3* db = OpenHandle(file, false);
    try {
      if (!users::HasSchema(db) || !catalog::HasSchema(db)) {
        // A plain SQLite file (or one from before a catalog table existed): give it our
        // catalog so users, owners and procedures work. Nothing else in the file is touched.
        Exec(db, "BEGIN IMMEDIATE");
        users::CreateSchema(db);
        catalog::CreateSchema(db);
        Exec(db, "COMMIT");
      }
    } catch (...) {
      sq::close_v2(db);
      throw;
    }
    sq::close_v2(db);
    return std::make_shared<SqliteDatabase>(file, name, engine, false, std::string());
  }
  void Create(const std::string& file) override { CreateDatabaseFile(file); }
  std::shared_ptr<Database> Utility(const std::string& engine, const std::string& suPassword) override {
    return std::make_shared<SqliteDatabase>(":memory:", "utility_db", engine, true, suPassword);
  }
};
}  // namespace

std::unique_ptr<DatabaseFactory> MakeSqliteFactory() { return std::make_unique<SqliteFactory>(); }

// ---- database ----

SqliteDatabase::SqliteDatabase(std::string file, std::string name, std::string engine, bool utility,
                               std::string suPassword)
    : file_(std::move(file)), name_(std::move(name)), engine_(std::move(engine)), utility_(utility),
      su_(std::move(suPassword)) {}

std::unique_ptr<Connection> SqliteDatabase::Connect(std::string_view uid, std::string_view pwd) {
  if (utility_) {
    // Personal engine: DBA with any password, unless the engine was started with -su.
    if (UpperName(std::string(uid)) != "DBA" || (!su_.empty() && pwd != su_)) throw SqlError(SQLE_INVALID_LOGON);
    sqlite3* db = nullptr;
    int rc = sq::open_v2(":memory:", &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
      sq::close_v2(db);
      ThrowSqlite(nullptr, rc);
    }
    ++connections_;
    return std::make_unique<SqliteConnection>(shared_from_this(), db, "DBA", 1);
  }
  sqlite3* db = OpenHandle(file_, false);
  int userId = -1;
  try {
    userId = users::Authenticate(db, std::string(uid), std::string(pwd));
  } catch (...) {
    sq::close_v2(db);
    throw;
  }
  ++connections_;
  std::string name = users::NameOf(db, userId);
  return std::make_unique<SqliteConnection>(shared_from_this(), db, name.empty() ? std::string(uid) : name, userId);
}

// ---- connection ----

SqliteConnection::SqliteConnection(std::shared_ptr<SqliteDatabase> db, sqlite3* handle, std::string user, int userId)
    : database_(std::move(db)), db_(handle), user_(std::move(user)), userId_(userId) {
  sq::create_function_v2(db_, "zyl_getvar", 1, SQLITE_UTF8, this, GetVarFunction, nullptr, nullptr, nullptr);
  sq::progress_handler(db_, 2000, &SqliteConnection::Progress, this);
  sq::busy_handler(db_, &SqliteConnection::Busy, this);
  RegisterAlertFunctions(*this);
  if (!database_->IsUtility()) dba_ = users::IsDba(db_, userId_);
  RegisterConnectionFunctions(*this);
  RegisterWriteChecks(*this);
  LoadWriteRules();
}

SqliteConnection::~SqliteConnection() {
  // An open transaction is lost with the connection, as after a crash.
  if (db_ && !sq::get_autocommit(db_)) sq::exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  sq::close_v2(db_);
  database_->ConnectionClosed();
}

bool SqliteConnection::Utility() const { return database_->IsUtility(); }
std::string SqliteConnection::DatabaseName() const { return database_->Name(); }
std::string SqliteConnection::EngineName() const { return database_->EngineName(); }

int SqliteConnection::Progress(void* self) {
  auto* c = static_cast<SqliteConnection*>(self);
  if (c->cancel_.load()) return 1;  // SQLITE_INTERRUPT
  long long now = NowMs();
  if (c->sink_ && now - c->lastWait_ >= 50) {
    c->lastWait_ = now;
    c->sink_->Waiting();
    if (c->cancel_.load()) return 1;
  }
  return 0;
}

// Waiting for another connection's lock: short sleeps (SQLite's own handler sleeps up to 100 ms
// at a time, long after a lock held for a fraction of a millisecond is free again), 5 s in all as
// before, and no longer than the request is wanted: a cancel ends the wait at once.
int SqliteConnection::Busy(void* self, int count) {
  auto* c = static_cast<SqliteConnection*>(self);
  if (t_noLockWait) return 0;
  if (c->cancel_.load()) {
    NoteLockWaitCancelled();
    return 0;
  }
  // 50, 100, 200, 400, 800 us, then 1 ms a time: 5 s after about 5 000 calls.
  constexpr int kFull = 5;
  constexpr long kGiveUpAfterUs = 5000000;
  long slept = count < kFull ? 50L * ((1L << count) - 1) : 1550L + 1000L * (count - kFull);
  if (slept >= kGiveUpAfterUs) return 0;
  ::usleep(count < kFull ? 50u << count : 1000u);
  return 1;
}

NoLockWait::NoLockWait() : saved_(t_noLockWait) { t_noLockWait = true; }
NoLockWait::~NoLockWait() { t_noLockWait = saved_; }

void SqliteConnection::BeginRequest() {
  cancel_.store(false);
  running_.store(true);
  lastWait_ = NowMs();
}

void SqliteConnection::EndRequest() { running_.store(false); }

void SqliteConnection::Cancel() {
  std::lock_guard<std::mutex> lock(endLock_);
  if (!running_.load()) return;  // nothing runs: the cancel is forgotten
  cancel_.store(true);
  sq::interrupt(db_);
}

bool SqliteConnection::InTransaction() const { return !sq::get_autocommit(db_); }

void SqliteConnection::BeginIfNeeded() {
  if (sq::get_autocommit(db_)) Exec(db_, "BEGIN");
}

void SqliteConnection::ImplicitCommit() {
  std::lock_guard<std::mutex> lock(endLock_);
  if (!sq::get_autocommit(db_)) Exec(db_, "COMMIT");
}

void SqliteConnection::Commit() {
  if (sq::get_autocommit(db_)) return;
  std::lock_guard<std::mutex> lock(endLock_);
  int rc = sq::exec(db_, "COMMIT", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) {
    SqlError e = FromSqlite(db_, rc);
    // A commit that cannot complete leaves the transaction open; the caller may roll back.
    throw e;
  }
}

void SqliteConnection::Rollback() {
  if (sq::get_autocommit(db_)) return;
  std::lock_guard<std::mutex> lock(endLock_);
  int rc = sq::exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) ThrowSqlite(db_, rc);
}

std::string SqliteConnection::GetOption(std::string_view nameView) {
  std::string name(nameView);
  if (auto it = tempOptions_.find(name); it != tempOptions_.end()) return it->second;
  if (!Utility()) {
    std::string v;
    if (users::GetPermanentOption(db_, user_, name, v)) return v;
    if (users::GetPermanentOption(db_, "PUBLIC", name, v)) return v;
  }
  for (const auto& d : kOptionDefaults)
    if (strcasecmp(d.name, name.c_str()) == 0) return d.value;
  throw SqlError(SQLE_INVALID_OPTION, {name});
}

// Read when the connection opens and again when this connection sets an option, never in the
// middle of a write: a look-up there would start a read inside the caller's transaction, and
// the write that follows could then no longer wait for another writer (SQLite fails it at once).
void SqliteConnection::LoadWriteRules() {
  writeRules_.cutStrings = !OptionIsOn("string_rtruncation");
  writeRules_.nullOnError = !OptionIsOn("conversion_error");
}

bool SqliteConnection::OptionIsOn(std::string_view name) {
  std::string v = UpperName(GetOption(name));
  return v == "ON" || v == "YES" || v == "TRUE" || v == "1";
}

void SqliteConnection::SetOption(std::string_view user, std::string_view nameView, std::string_view value,
                                 bool temporary) {
  std::string name(nameView);
  if (name.empty()) throw SqlError(SQLE_INVALID_OPTION, {name});
  std::string v = CheckOptionValue(name, value);
  if (temporary || Utility()) {
    tempOptions_[name] = v;
    LoadWriteRules();
    return;
  }
  std::string owner = user.empty() ? user_ : std::string(user);
  if (UpperName(owner) != UpperName(user_) && !IsDba()) throw SqlError(SQLE_PERMISSION_DENIED, {"SET OPTION"});
  ImplicitCommit();
  users::SetPermanentOption(db_, owner, name, v);
  // A permanent setting replaces this connection's temporary one, as the server does.
  tempOptions_.erase(name);
  LoadWriteRules();
}

void SqliteConnection::CreateVariable(const std::string& name, const std::string& type) {
  if (vars_.count(name)) throw SqlError(SQLE_VARIABLE_EXISTS, {name});
  vars_[name] = {type, Value()};
}

void SqliteConnection::SetVariable(const std::string& name, Value v) {
  auto it = vars_.find(name);
  if (it == vars_.end()) throw SqlError(SQLE_VARIABLE_NOT_FOUND, {name});
  it->second.value = std::move(v);
}

void SqliteConnection::DropVariable(const std::string& name) {
  if (!vars_.erase(name)) throw SqlError(SQLE_VARIABLE_NOT_FOUND, {name});
}

bool SqliteConnection::HasVariable(const std::string& name) const { return vars_.count(name) != 0; }

std::string SqliteConnection::VariableType(const std::string& name) const {
  auto it = vars_.find(name);
  return it == vars_.end() ? std::string() : it->second.type;
}

bool SqliteConnection::GetVariable(std::string_view name, Value& out) {
  auto it = vars_.find(std::string(name));
  if (it == vars_.end()) return false;
  out = it->second.value;
  return true;
}

std::string SqliteConnection::Explain(std::string_view text) {
  std::string sql = "EXPLAIN QUERY PLAN " + Translate(text);
  sqlite3_stmt* st = PrepareRaw(sql);
  std::string plan;
  int rc;
  while ((rc = sq::step(st)) == SQLITE_ROW) {
    const unsigned char* detail = sq::column_text(st, 3);
    if (!plan.empty()) plan += '\n';
    plan += detail ? reinterpret_cast<const char*>(detail) : "";
  }
  sq::finalize(st);
  if (rc != SQLITE_DONE) ThrowSqlite(db_, rc, sql);
  return plan;
}

}  // namespace dbl
