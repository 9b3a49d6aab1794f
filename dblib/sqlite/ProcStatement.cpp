// Stored procedures on the SQLite engine: the statements that define them (CREATE/ALTER/DROP
// PROCEDURE|FUNCTION, kept in the catalog as written), the CALL statements clients send
// (CALL p(...), ? = CALL f(...), :r = CALL f(:a)), functions inside SQL (each stored function
// is an SQLite user function on every connection), and the ProcHost that lets the interpreter
// run a body's SQL on the caller's connection. It joins the statement layer through a prepare
// hook, registered at load time.
//
// A call's result sets are read when the procedure's SELECT runs (so each holds the data of
// that moment); the CALL statement itself is the engine-neutral one (dblib/proc/ProcCall.h).
#include <cctype>
#include <deque>
#include <map>
#include <mutex>
#include <set>

#include "dblib/engine/Cursor.h"
#include "dblib/proc/ProcCall.h"
#include "dblib/proc/ProcHost.h"
#include "dblib/proc/ProcLang.h"
#include "dblib/proc/ProcRun.h"
#include "dblib/sqlite/ForeignKeys.h"
#include "dblib/sqlite/Catalog.h"
#include "dblib/sqlite/ProcAlerts.h"
#include "dblib/sqlite/Sqlite.h"
#include "dblib/sqlite/SqliteErrors.h"
#include "dblib/sqlite/SqliteStatement.h"
#include "dblib/sqlite/TypeMapDescribe.h"

namespace dbl {
namespace {

// The procedure a name means on this connection: owner given -> that user's; otherwise the
// connection user's, then DBA's, then anybody's.
std::shared_ptr<const ProcDef> LoadProcedure(SqliteConnection& conn, std::string_view owner, std::string_view name) {
  sqlite3* db = conn.Handle();
  if (!catalog::HasSchema(db)) return nullptr;
  catalog::ProcRow row;
  std::string n(name);
  bool found = false;
  if (!owner.empty()) {
    int creator = catalog::UserId(db, std::string(owner));
    found = creator >= 0 && catalog::FindProcedure(db, n, row, creator);
  } else {
    found = catalog::FindProcedure(db, n, row, conn.UserId()) || catalog::FindProcedure(db, n, row, 1) ||
            catalog::FindProcedure(db, n, row, -1);
  }
  if (!found) return nullptr;
  return ParsedProcDefinition(row.definition);
}

// ---- the interpreter's host on a connection ----

class StmtGuard {
 public:
  explicit StmtGuard(sqlite3_stmt* st) : st_(st) {}
  ~StmtGuard() { sq::finalize(st_); }
  StmtGuard(const StmtGuard&) = delete;
  StmtGuard& operator=(const StmtGuard&) = delete;
  sqlite3_stmt* get() const { return st_; }

 private:
  sqlite3_stmt* st_;
};

std::string FirstWord(std::string_view sql) {
  std::vector<std::string> w = LeadingWords(sql, 1);
  return w.empty() ? std::string() : w[0];
}

class ConnectionHost : public ProcResultHost {
 public:
  explicit ConnectionHost(SqliteConnection& conn) : conn_(conn) {}

  ProcRows Query(const std::string& sql, const std::vector<Value>& params, size_t maxRows) override {
    std::string translated = conn_.Translate(sql);
    StmtGuard st(conn_.PrepareRaw(translated));
    SqliteConnection::Bind(st.get(), params);
    ProcRows out;
    int n = sq::column_count(st.get());
    for (int c = 0; c < n; ++c) out.columns.push_back(sq::column_name(st.get(), c) ? sq::column_name(st.get(), c) : "");
    Step(st.get(), translated, n, maxRows, out.rows);
    return out;
  }

  int64_t Execute(const std::string& sql, const std::vector<Value>& params) override {
    std::string w = FirstWord(sql);
    if (w == "INSERT" || w == "UPDATE" || w == "DELETE") {
      std::string translated = conn_.Translate(sql);
      StmtGuard st(conn_.PrepareRaw(translated));
      SqliteConnection::Bind(st.get(), params);
      conn_.BeginIfNeeded();
      int rc;
      while ((rc = sq::step(st.get())) == SQLITE_ROW) {}
      if (rc != SQLITE_DONE) ThrowWriteFailure(conn_, st.get(), rc, translated);
      return sq::changes(conn_.Handle());
    }
    // COMMIT, ROLLBACK and definitions take the statement layer's way (implicit commits,
    // catalog bookkeeping).
    auto st = conn_.Prepare(sql);
    return st->Execute(params, nullptr).rowsAffected;
  }

  void ResultSet(const std::string& sql, const std::vector<Value>& params, const std::vector<ProcColumn>& declared) override {
    std::string translated = conn_.Translate(sql);
    StmtGuard st(conn_.PrepareRaw(translated));
    SqliteConnection::Bind(st.get(), params);
    std::vector<ColumnDesc> cols;
    DescribeResultColumns(conn_, st.get(), translated, cols);
    // A RESULT clause names and types the columns when it matches the select list.
    if (declared.size() == cols.size()) {
      for (size_t i = 0; i < cols.size(); ++i) cols[i] = DescribeProcColumn(declared[i].name, declared[i].type);
    }
    std::vector<std::vector<Value>> rows;
    Step(st.get(), translated, static_cast<int>(cols.size()), SIZE_MAX, rows);
    results.push_back(MakeRowsCursor(std::move(cols), std::move(rows)));
  }

  void Message(int type, std::string_view text) override {
    if (MessageSink* sink = conn_.Sink()) sink->Message(type, 0, text);
  }
  bool Cancelled() override { return conn_.Cancelled(); }
  std::shared_ptr<const ProcDef> FindProcedure(std::string_view owner, std::string_view name) override {
    return LoadProcedure(conn_, owner, name);
  }

 private:
  void Step(sqlite3_stmt* st, const std::string& translated, int n, size_t maxRows, std::vector<std::vector<Value>>& rows) {
    int rc = SQLITE_DONE;
    while (rows.size() < maxRows && (rc = sq::step(st)) == SQLITE_ROW) {
      std::vector<Value> row;
      row.reserve(size_t(n));
      for (int c = 0; c < n; ++c) row.push_back(SqliteConnection::ColumnValue(st, c));
      rows.push_back(std::move(row));
    }
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) ThrowSqlite(conn_.Handle(), rc, translated);
  }

  SqliteConnection& conn_;
};

// ---- stored functions as SQLite functions ----

// Per handle: which stored functions are registered. Lives as the user data of a marker
// function, so it goes away exactly when the handle closes (a later handle at the same
// address starts afresh).
struct FunctionTable {
  SqliteConnection* conn;
  std::set<std::string> names;  // lower case
  int64_t dataVersion = -1;     // PRAGMA data_version when last looked at
  bool alertsTried = false;     // the alert procedures were looked for (and installed if missing)
};

std::mutex g_tablesMutex;
std::map<sqlite3*, FunctionTable*> g_tables;

struct FunctionSlot {
  FunctionTable* table;
  std::string name;
};

void CallStoredFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  auto* slot = static_cast<FunctionSlot*>(sq::user_data(ctx));
  try {
    SqliteConnection& conn = *slot->table->conn;
    std::shared_ptr<const ProcDef> def = LoadProcedure(conn, {}, slot->name);
    if (!def || !def->isFunction) throw SqlError(SQLE_PROCEDURE_NOT_FOUND, {slot->name});
    std::vector<ProcArgValue> args;
    for (int i = 0; i < argc; ++i) {
      sqlite3_value* v = argv[i];
      switch (sq::value_type(v)) {
        case SQLITE_INTEGER: args.push_back({{}, Value::Int(sq::value_int64(v))}); break;
        case SQLITE_FLOAT: args.push_back({{}, Value::Real(sq::value_double(v))}); break;
        case SQLITE_TEXT: {
          const unsigned char* t = sq::value_text(v);
          args.push_back({{}, Value::Text(std::string(reinterpret_cast<const char*>(t), size_t(sq::value_bytes(v))))});
          break;
        }
        case SQLITE_BLOB: {
          const void* b = sq::value_blob(v);
          int n = sq::value_bytes(v);
          args.push_back({{}, Value::Blob(n ? std::string(static_cast<const char*>(b), size_t(n)) : std::string())});
          break;
        }
        default: args.push_back({{}, Value()}); break;
      }
    }
    ConnectionHost host(conn);
    ProcCallResult r = RunProc(*def, OrderArguments(*def, args), host);
    const Value& v = r.returnValue;
    switch (v.kind) {
      case Value::Kind::Null: sq::result_null(ctx); break;
      case Value::Kind::Integer: sq::result_int64(ctx, v.i); break;
      case Value::Kind::Real: sq::result_double(ctx, v.d); break;
      case Value::Kind::Text: sq::result_text(ctx, v.bytes.data(), int(v.bytes.size()), SQLITE_TRANSIENT); break;
      case Value::Kind::Blob: sq::result_blob(ctx, v.bytes.data(), int(v.bytes.size()), SQLITE_TRANSIENT); break;
    }
  } catch (const SqlError& e) {
    FailFunction(ctx, e);
  } catch (const std::bad_alloc&) {
    FailFunction(ctx, SqlError(SQLE_DYNAMIC_MEMORY_EXHAUSTED));
  } catch (const std::exception& e) {
    sq::result_error(ctx, e.what(), -1);
  }
}

void DestroySlot(void* p) { delete static_cast<FunctionSlot*>(p); }
void DestroyTable(void* p) {
  auto* t = static_cast<FunctionTable*>(p);
  {
    std::lock_guard<std::mutex> lock(g_tablesMutex);
    for (auto it = g_tables.begin(); it != g_tables.end(); ++it) {
      if (it->second == t) {
        g_tables.erase(it);
        break;
      }
    }
  }
  delete t;
}
void MarkerFunction(sqlite3_context* ctx, int, sqlite3_value**) { sq::result_null(ctx); }

FunctionTable* TableOf(SqliteConnection& conn) {
  sqlite3* db = conn.Handle();
  {
    std::lock_guard<std::mutex> lock(g_tablesMutex);
    auto it = g_tables.find(db);
    if (it != g_tables.end()) return it->second;
  }
  auto* t = new FunctionTable{&conn, {}, -1, false};
  if (sq::create_function_v2(db, "zyl_stored_functions", 0, SQLITE_UTF8, t, MarkerFunction, nullptr, nullptr,
                             DestroyTable) != SQLITE_OK) {
    // SQLite has called DestroyTable already: a failed registration runs the destructor.
    ThrowSqlite(db, sq::errcode(db));
  }
  std::lock_guard<std::mutex> lock(g_tablesMutex);
  g_tables[db] = t;
  return t;
}

int64_t DataVersion(sqlite3* db) {
  sqlite3_stmt* st = nullptr;
  if (sq::prepare_v2(db, "PRAGMA data_version", -1, &st, nullptr) != SQLITE_OK) return -2;
  StmtGuard g(st);
  return sq::step(st) == SQLITE_ROW ? sq::column_int64(st, 0) : -2;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Registers the stored functions not registered yet on this handle. Cheap when nothing
// changed: other connections' commits move data_version; our own definitions pass force.
void RefreshFunctions(SqliteConnection& conn, bool force) {
  sqlite3* db = conn.Handle();
  if (conn.Utility() || !catalog::HasSchema(db)) return;
  FunctionTable* t = TableOf(conn);
  if (!t->alertsTried) {
    t->alertsTried = true;
    EnsureAlertProcedures(db, false);
  }
  int64_t version = DataVersion(db);
  if (!force && version == t->dataVersion) return;
  t->dataVersion = version;
  sqlite3_stmt* st = nullptr;
  if (sq::prepare_v2(db, "SELECT proc_name, proc_defn FROM zyl_procedure", -1, &st, nullptr) != SQLITE_OK) return;
  StmtGuard g(st);
  while (sq::step(st) == SQLITE_ROW) {
    const char* name = reinterpret_cast<const char*>(sq::column_text(st, 0));
    const char* defn = reinterpret_cast<const char*>(sq::column_text(st, 1));
    if (!name || !defn) continue;
    std::string key = Lower(name);
    if (t->names.count(key)) continue;
    std::shared_ptr<const ProcDef> def;
    try {
      def = ParsedProcDefinition(defn);
    } catch (const SqlError&) {
      continue;  // a definition we cannot read is reported when it is called
    }
    if (!def->isFunction) continue;
    auto* slot = new FunctionSlot{t, name};
    if (sq::create_function_v2(db, name, -1, SQLITE_UTF8, slot, CallStoredFunction, nullptr, nullptr, DestroySlot) ==
        SQLITE_OK)
      t->names.insert(key);
    // On failure SQLite has already called DestroySlot.
  }
}

// ---- CREATE / ALTER / DROP PROCEDURE ----

class ProcDdlStatement : public Statement {
 public:
  ProcDdlStatement(SqliteConnection& conn, std::string text) : conn_(conn), text_(std::move(text)), def_(ParseProcDdl(text_)) {}
  const std::string& Text() const override { return text_; }
  void DescribeOutput(std::vector<ColumnDesc>& out, bool& mayVary) override {
    out.clear();
    mayVary = false;
  }
  void DescribeInput(std::vector<ParamDesc>& out) override { out.clear(); }
  bool HasResultSet() const override { return false; }
  std::unique_ptr<Cursor> Open(const std::vector<Value>&, const CursorOptions&) override {
    throw SqlError(SQLE_OPEN_CURSOR_ERROR);
  }

  ExecResult Execute(const std::vector<Value>&, std::vector<Value>* out) override {
    if (out) out->clear();
    sqlite3* db = conn_.Handle();
    if (conn_.Utility() || !catalog::HasSchema(db)) throw SqlError(SQLE_PERMISSION_DENIED, {"procedures"});
    int creator = conn_.UserId();
    if (!def_.owner.empty()) {
      creator = catalog::UserId(db, def_.owner);
      if (creator < 0) throw SqlError(SQLE_UNKNOWN_USERID, {def_.owner});
    }
    // Definitions commit the work before and after themselves, as other definitions do.
    conn_.ImplicitCommit();
    catalog::ProcRow existing;
    bool exists = catalog::FindProcedure(db, def_.name, existing, creator);
    if (def_.verb == ProcDef::Verb::Drop) {
      if (!exists) throw SqlError(SQLE_PROCEDURE_NOT_FOUND, {def_.name});
      conn_.BeginIfNeeded();
      catalog::DropProcedure(db, def_.name, creator);
      conn_.ImplicitCommit();
      return {};
    }
    if (def_.verb == ProcDef::Verb::Create && exists && !def_.orReplace) throw SqlError(SQLE_NAME_NOT_UNIQUE, {def_.name});
    if (def_.verb == ProcDef::Verb::Alter && !exists) throw SqlError(SQLE_PROCEDURE_NOT_FOUND, {def_.name});
    catalog::ProcRow row;
    row.creator = creator;
    row.name = def_.name;
    row.definition = StoredProcText(def_, text_);
    for (const ProcParmRow& r : def_.CatalogRows()) {
      catalog::ParmRow p;
      p.parmId = r.parmId;
      p.parmType = r.parmType;
      p.modeIn = r.modeIn;
      p.modeOut = r.modeOut;
      p.name = r.name;
      p.type = r.type;
      int i = r.parmType == 0 ? def_.FindParam(r.name) : -1;
      if (i >= 0) p.defaultText = def_.params[size_t(i)].defaultExpr;
      row.parms.push_back(std::move(p));
    }
    conn_.BeginIfNeeded();
    catalog::PutProcedure(db, row);
    conn_.ImplicitCommit();
    RefreshFunctions(conn_, true);
    return {};
  }

 private:
 private:
  SqliteConnection& conn_;
  std::string text_;
  ProcDef def_;
};

// ---- CALL ----

class ConnectionSite : public ProcCallSite {
 public:
  explicit ConnectionSite(SqliteConnection& conn) : conn_(conn) {}
  std::unique_ptr<ProcResultHost> NewHost() override { return std::make_unique<ConnectionHost>(conn_); }
  bool InTransaction() const override { return conn_.InTransaction(); }
  void Rollback() override { conn_.Rollback(); }
  bool HasVariable(const std::string& name) const override { return conn_.HasVariable(name); }
  void SetVariable(const std::string& name, Value v) override { conn_.SetVariable(name, std::move(v)); }

 private:
  SqliteConnection& conn_;
};

std::unique_ptr<Statement> PrepareCall(SqliteConnection& conn, std::string_view text) {
  ProcCallText call = ParseCallText(text);
  std::shared_ptr<const ProcDef> def = LoadProcedure(conn, call.owner, call.name);
  // The alert procedures may still be missing when a busy database kept them from being
  // installed on the way in: install them now, waiting for the lock this time.
  if (!def && call.name.size() > 9 && Lower(call.name.substr(0, 9)) == "zp_alert_" &&
      EnsureAlertProcedures(conn.Handle(), true))
    def = LoadProcedure(conn, call.owner, call.name);
  if (!def) throw SqlError(SQLE_PROCEDURE_NOT_FOUND, {call.name});
  return MakeCallStatement(std::make_unique<ConnectionSite>(conn), std::string(text), call, std::move(def));
}

std::unique_ptr<Statement> ProcedureHook(SqliteConnection& conn, std::string_view text) {
  if (IsProcDdl(text)) return std::make_unique<ProcDdlStatement>(conn, std::string(text));
  RefreshFunctions(conn, false);
  if (IsCallText(text)) return PrepareCall(conn, text);
  return nullptr;
}

const bool registered = (RegisterPrepareHook(ProcedureHook), true);

}  // namespace
}  // namespace dbl
