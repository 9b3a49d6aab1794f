// PostgreSQL databases and connections: logging in, round trips with statement-level undo,
// transactions, options, variables, the dialect and result descriptions.
#include "dblib/postgres/PgEngine.h"

#include <strings.h>

#include <charconv>
#include <cstring>

#include "dblib/sql/ConnectionString.h"
#include "dblib/sql/Convert.h"
#include "dblib/sql/Dialect.h"

namespace dbl {
namespace {

const char* const kSavepoint = "SAVEPOINT zyl_stmt";
const char* const kRelease = "RELEASE SAVEPOINT zyl_stmt";

struct OptionDefault {
  const char* name;
  const char* value;
};
const OptionDefault kOptionDefaults[] = {
    {"isolation_level", "1"},        {"row_counts", "Off"},
    {"ansi_update_constraints", "Cursors"}, {"conversion_error", "On"},
    {"string_rtruncation", "On"},    {"date_format", "YYYY-MM-DD"},
    {"time_format", "HH:NN:SS.SSS"}, {"timestamp_format", "YYYY-MM-DD HH:NN:SS.SSS"},
    {"quoted_identifier", "On"},     {"chained", "On"},
    {"blocking", "On"},              {"auto_commit", "Off"},
};

bool IsBoolOption(const std::string& n) {
  for (const char* b : {"row_counts", "conversion_error", "string_rtruncation", "quoted_identifier", "chained",
                        "blocking", "auto_commit"})
    if (strcasecmp(n.c_str(), b) == 0) return true;
  return false;
}

std::string Upper(std::string s) {
  for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string CheckOptionValue(const std::string& n, const std::string& v) {
  if (strcasecmp(n.c_str(), "isolation_level") == 0) {
    if (v != "0" && v != "1" && v != "2" && v != "3") throw SqlError(SQLE_INVALID_OPTION_SETTING, {n});
    return v;
  }
  if (IsBoolOption(n)) {
    std::string u = Upper(v);
    if (u == "ON" || u == "YES" || u == "TRUE" || u == "1" || u == "OFF" || u == "NO" || u == "FALSE" || u == "0")
      return v;
    throw SqlError(SQLE_INVALID_OPTION_SETTING, {n});
  }
  if (strcasecmp(n.c_str(), "ansi_update_constraints") == 0) {
    std::string u = Upper(v);
    if (u == "OFF" || u == "CURSORS" || u == "STRICT") return v;
    throw SqlError(SQLE_INVALID_OPTION_SETTING, {n});
  }
  return v;
}

// Parameters as the server takes them: text, except binary values (binary format).
struct Params {
  std::vector<std::string> text;
  std::vector<const char*> values;
  std::vector<int> lengths, formats;
  std::vector<Oid> types;
  explicit Params(const std::vector<Value>* in, bool typed = false, bool nullsAsText = false) {
    size_t n = in ? in->size() : 0;
    text.resize(n);
    values.resize(n);
    lengths.resize(n);
    formats.resize(n);
    types.resize(n);
    for (size_t i = 0; i < n; ++i) {
      const Value& v = (*in)[i];
      switch (v.kind) {
        case Value::Kind::Null:
          values[i] = nullptr;
          if (typed && nullsAsText) types[i] = 25;
          break;
        case Value::Kind::Integer:
        case Value::Kind::Real:
          text[i] = v.ToText();
          values[i] = text[i].c_str();
          if (typed) types[i] = v.kind == Value::Kind::Real ? 1700 : v.i == int32_t(v.i) ? 23 : 20;
          break;
        case Value::Kind::Text:
          // The server's text cannot hold NUL bytes; it refuses the value (a conversion error).
          values[i] = v.bytes.c_str();
          lengths[i] = int(v.bytes.size());
          break;
        case Value::Kind::Blob:
          // The bytes as they are, typed by where they go: a binary column takes them as bytes,
          // a character column as text (as the embedded engine stores a long value either way).
          values[i] = v.bytes.data();
          lengths[i] = int(v.bytes.size());
          formats[i] = 1;
          break;
      }
    }
  }
};

bool Send(PGconn* c, const PgCommand& cmd) {
  Params p(cmd.params, cmd.typed, cmd.nullsAsText);
  int n = int(p.values.size());
  switch (cmd.kind) {
    case PgCommand::Prepare: return PQsendPrepare(c, cmd.prepared.c_str(), cmd.text.c_str(), 0, nullptr) == 1;
    case PgCommand::Describe: return PQsendDescribePrepared(c, cmd.prepared.c_str()) == 1;
    case PgCommand::Execute:
      return PQsendQueryPrepared(c, cmd.prepared.c_str(), n, p.values.data(), p.lengths.data(), p.formats.data(), 0) == 1;
    default:
      return PQsendQueryParams(c, cmd.text.c_str(), n, p.types.data(), p.values.data(), p.lengths.data(),
                               p.formats.data(), 0) == 1;
  }
}

// The same command on its own, waiting for its result.
PGresult* ExecOne(PGconn* c, const PgCommand& cmd) {
  Params p(cmd.params, cmd.typed, cmd.nullsAsText);
  int n = int(p.values.size());
  switch (cmd.kind) {
    case PgCommand::Prepare: return PQprepare(c, cmd.prepared.c_str(), cmd.text.c_str(), 0, nullptr);
    case PgCommand::Describe: return PQdescribePrepared(c, cmd.prepared.c_str());
    case PgCommand::Execute:
      return PQexecPrepared(c, cmd.prepared.c_str(), n, p.values.data(), p.lengths.data(), p.formats.data(), 0);
    default:
      return PQexecParams(c, cmd.text.c_str(), n, p.types.data(), p.values.data(), p.lengths.data(), p.formats.data(), 0);
  }
}

bool Failed(const PGresult* r) {
  if (!r) return true;
  ExecStatusType s = PQresultStatus(r);
  return s == PGRES_BAD_RESPONSE || s == PGRES_FATAL_ERROR || s == PGRES_PIPELINE_ABORTED || s == PGRES_NONFATAL_ERROR;
}

void NoticeToSink(void* arg, const PGresult* r) {
  auto* conn = static_cast<PgConnection*>(arg);
  if (MessageSink* sink = conn->Sink()) {
    const char* m = PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY);
    if (m) sink->Message(0, 0, m);
  }
}

}  // namespace

// ---- database ----

PgDatabase::PgDatabase(ServerAddress address) : address_(std::move(address)) {
  utility_ = Upper(address_.database) == "UTILITY_DB";
}

std::string PgDatabase::EngineName() const {
  return address_.server.empty() ? address_.host + ":" + std::to_string(address_.port) : address_.server;
}

pg::Conn ConnectServer(const ServerAddress& a, const std::string& dbname, std::string_view uid, std::string_view pwd) {
  std::string port = std::to_string(a.port);
  std::string timeout = std::to_string(a.timeoutSeconds > 0 ? a.timeoutSeconds : 15);
  std::string user(uid), password(pwd);
  // Session settings the library relies on: ISO dates, our schema of catalog views and the
  // vendor's types after the user's own.
  const char* options = "-c DateStyle=ISO,YMD -c search_path=\"$user\",public,sys,zyl -c extra_float_digits=3";
  const char* keys[] = {"host", "port", "dbname", "user", "password", "connect_timeout",
                        "application_name", "options", "client_encoding", nullptr};
  const char* values[] = {a.host.c_str(), port.c_str(), dbname.c_str(), user.c_str(), password.c_str(),
                          timeout.c_str(), "zylobase", options, "UTF8", nullptr};
  pg::Conn c(PQconnectdbParams(keys, values, 0));
  if (!c) throw SqlError(SQLE_DYNAMIC_MEMORY_EXHAUSTED);
  if (PQstatus(c.get()) != CONNECTION_OK) throw pg::FromConnect(c.get());
  // The server's notices reach the client through its message callback, never stderr.
  PQsetNoticeProcessor(c.get(), [](void*, const char*) {}, nullptr);
  return c;
}

std::unique_ptr<Connection> PgDatabase::Connect(std::string_view uid, std::string_view pwd) {
  // The utility database is the server's maintenance database: CREATE/DROP DATABASE there.
  pg::Conn c = ConnectServer(address_, utility_ ? "postgres" : address_.database, uid, pwd);
  if (!utility_) {
    // A database prepared by nobody yet (or by an older library): install what the library
    // needs when this user may.
    try {
      InstallCatalog(c.get());
    } catch (const SqlError&) {
    }
  }
  ++connections_;
  return std::make_unique<PgConnection>(shared_from_this(), std::move(c), std::string(uid), std::string(pwd));
}

std::shared_ptr<Database> OpenServerDatabase(const ServerAddress& address) {
  if (address.database.empty()) throw SqlError(SQLE_DATABASE_NAME_REQUIRED);
  return std::make_shared<PgDatabase>(address);
}

void PingServer(const ServerAddress& a) {
  std::string port = std::to_string(a.port);
  std::string timeout = std::to_string(a.timeoutSeconds > 0 ? a.timeoutSeconds : 15);
  const char* keys[] = {"host", "port", "dbname", "connect_timeout", nullptr};
  const char* values[] = {a.host.c_str(), port.c_str(), "postgres", timeout.c_str(), nullptr};
  PGPing p = PQpingParams(keys, values, 0);
  if (p != PQPING_OK && p != PQPING_REJECT) throw SqlError(SQLE_ENGINE_NOT_RUNNING);
}

// ---- connection ----

PgConnection::PgConnection(std::shared_ptr<PgDatabase> db, pg::Conn conn, std::string user, std::string password)
    : database_(std::move(db)), conn_(std::move(conn)), user_(std::move(user)), password_(std::move(password)) {
  cancel_ = PQgetCancel(conn_.get());
  PQsetNoticeReceiver(conn_.get(), NoticeToSink, this);
}

PgConnection::~PgConnection() {
  // An open transaction is lost with the connection, as after a crash (the server rolls back).
  if (cancel_) PQfreeCancel(cancel_);
  conn_.reset();
  database_->ConnectionClosed();
}

bool PgConnection::Utility() const { return database_->IsUtility(); }
std::string PgConnection::DatabaseName() const { return database_->Name(); }
std::string PgConnection::EngineName() const { return database_->EngineName(); }

pg::Conn PgConnection::ConnectOther(const std::string& dbname) const {
  return ConnectServer(database_->Address(), dbname, user_, password_);
}

std::unique_ptr<Statement> PgConnection::Prepare(std::string_view text) { return PreparePgStatement(*this, text); }

ExecResult PgConnection::ExecuteImmediate(std::string_view text) { return Prepare(text)->Execute({}, nullptr); }

std::string PgConnection::NewName(const char* prefix) { return std::string(prefix) + std::to_string(++names_); }

void PgConnection::BeginRequest() {
  cancelled_.store(false);
  running_.store(true);
}
void PgConnection::EndRequest() { running_.store(false); }

void PgConnection::Cancel() {
  if (!running_.load() || !cancel_) return;
  cancelled_.store(true);
  char err[256];
  PQcancel(cancel_, err, sizeof err);
}

void PgConnection::CloseLater(const std::string& cursor, uint64_t txNumber) { pendingCloses_.emplace_back(cursor, txNumber); }
void PgConnection::DeallocateLater(const std::string& statement) { pendingDeallocs_.push_back(statement); }

// Commands for the server objects our side has let go of: they ride along with the next round
// trip. A cursor opened in a transaction that was rolled back is gone on the server already.
void PgConnection::Flush(std::vector<PgCommand>& front) {
  for (auto& [name, tx] : pendingCloses_) front.push_back(PgCommand::Sql("CLOSE " + name));
  for (auto& name : pendingDeallocs_) front.push_back(PgCommand::Sql("DEALLOCATE " + name));
  pendingCloses_.clear();
  pendingDeallocs_.clear();
}

bool PgConnection::DrainNotifications() {
  bool any = false;
  while (PGnotify* n = PQnotifies(conn_.get())) {
    PQfreemem(n);
    any = true;
  }
  return any;
}

std::vector<pg::Result> PgConnection::Run(const std::vector<PgCommand>& cmds, bool needTx) {
  PGconn* c = conn_.get();
  if (PQstatus(c) != CONNECTION_OK) throw SqlError(SQLE_CONNECTION_TERMINATED);
  // A wake-up that came before these commands is answered by them (they see what its sender
  // committed); dropping it keeps a listener that stopped waiting from piling them up.
  if (listening_) DrainNotifications();
  std::vector<PgCommand> all;
  Flush(all);
  bool begin = needTx && !inTx_;
  bool guard = inTx_;
  if (begin) {
    std::string level = IsolationLevel() >= 3 ? "SERIALIZABLE" : IsolationLevel() == 2 ? "REPEATABLE READ" : "READ COMMITTED";
    all.push_back(PgCommand::Sql("BEGIN ISOLATION LEVEL " + level));
  }
  if (guard) all.push_back(PgCommand::Sql(kSavepoint));
  size_t first = all.size();
  for (const PgCommand& cmd : cmds) all.push_back(cmd);
  size_t last = all.size();
  if (guard) all.push_back(PgCommand::Sql(kRelease));

  std::vector<pg::Result> results(all.size());
  if (all.size() == 1 && !guard) {
    // One command on its own: no pipeline needed.
    results[0].reset(ExecOne(c, all[0]));
  } else {
    if (PQenterPipelineMode(c) != 1) throw pg::FromResult(nullptr, c);
    bool sent = true;
    for (const PgCommand& cmd : all) sent = sent && Send(c, cmd);
    sent = sent && PQpipelineSync(c) == 1;
    if (!sent) {
      PQexitPipelineMode(c);
      throw pg::FromResult(nullptr, c);
    }
    // Each command's result is followed by a null; the sync point ends the round trip.
    size_t k = 0;
    for (;;) {
      PGresult* r = PQgetResult(c);
      if (!r) {
        if (PQstatus(c) != CONNECTION_OK) break;
        ++k;
        continue;
      }
      if (PQresultStatus(r) == PGRES_PIPELINE_SYNC) {
        PQclear(r);
        break;
      }
      if (k < results.size() && !results[k]) results[k].reset(r);
      else PQclear(r);
    }
    PQexitPipelineMode(c);
  }

  // The first failure decides; a failure in our own bookkeeping commands is reported too.
  size_t failed = all.size();
  for (size_t k = 0; k < all.size(); ++k) {
    if (Failed(results[k].get())) {
      failed = k;
      break;
    }
  }
  if (begin && failed >= first) inTx_ = true;
  if (failed == all.size()) {
    if (begin) inTx_ = true;
    std::vector<pg::Result> out;
    for (size_t k = first; k < last; ++k) out.push_back(std::move(results[k]));
    return out;
  }
  SqlError e = pg::FromResult(results[failed].get(), c, failed < all.size() ? all[failed].text : std::string());
  if (PQstatus(c) != CONNECTION_OK) throw SqlError(SQLE_CONNECTION_TERMINATED);
  if (guard) {
    // Undo the failed command alone; the transaction's earlier work stays.
    pg::Result u(PQexec(c, "ROLLBACK TO SAVEPOINT zyl_stmt; RELEASE SAVEPOINT zyl_stmt"));
    if (Failed(u.get())) {
      pg::Result r(PQexec(c, "ROLLBACK"));
      inTx_ = false;
      ++txNumber_;
    }
  } else if (begin || PQtransactionStatus(c) == PQTRANS_INERROR) {
    // The transaction this round trip opened held nothing yet: give it up.
    pg::Result r(PQexec(c, "ROLLBACK"));
    inTx_ = false;
    ++txNumber_;
  }
  throw e;
}

pg::Result PgConnection::RunOne(const std::string& text, const std::vector<Value>& params, bool needTx) {
  std::vector<pg::Result> r = Run({PgCommand::Sql(text, &params)}, needTx);
  return std::move(r.front());
}

void PgConnection::ImplicitCommit() {
  if (inTx_) Commit();
}

void PgConnection::Commit() {
  if (!inTx_ && pendingCloses_.empty()) return;
  std::vector<PgCommand> cmds;
  Flush(cmds);
  if (inTx_) cmds.push_back(PgCommand::Sql("COMMIT"));
  bool wasIn = inTx_;
  inTx_ = false;  // the commands run as they are, without a savepoint of their own
  try {
    Run(cmds, false);
  } catch (...) {
    // A commit that fails ends the transaction on the server (it rolls back).
    if (PQtransactionStatus(conn_.get()) == PQTRANS_IDLE) {
      ++txNumber_;
    } else {
      inTx_ = wasIn;
    }
    throw;
  }
  if (wasIn) ++txNumber_;
}

void PgConnection::Rollback() {
  if (!inTx_) return;
  // Cursors opened in this transaction disappear with it; their CLOSE would fail.
  std::vector<std::pair<std::string, uint64_t>> keep;
  for (auto& p : pendingCloses_)
    if (p.second != txNumber_) keep.push_back(p);
  pendingCloses_ = keep;
  inTx_ = false;
  ++txNumber_;
  pg::Result r(PQexec(conn_.get(), "ROLLBACK"));
  if (Failed(r.get())) throw pg::FromResult(r.get(), conn_.get());
}

// ---- options ----

std::string PgConnection::GetOption(std::string_view nameView) {
  std::string name(nameView);
  if (auto it = tempOptions_.find(name); it != tempOptions_.end()) return it->second;
  if (!Utility()) {
    pg::Result r(PQexecParams(conn_.get(),
                              "SELECT setting FROM zyl.option WHERE lower(option) = lower($1) AND user_name IN ($2, 'PUBLIC')"
                              " ORDER BY user_name = 'PUBLIC' LIMIT 1",
                              2, nullptr, std::vector<const char*>{name.c_str(), user_.c_str()}.data(), nullptr, nullptr, 0));
    if (PQresultStatus(r.get()) == PGRES_TUPLES_OK && PQntuples(r.get()) == 1) return PQgetvalue(r.get(), 0, 0);
    if (Failed(r.get()) && inTx_) {
      // Reading an option never costs the transaction: the table may be missing (no catalog).
      pg::Result u(PQexec(conn_.get(), "SELECT 1"));
    }
  }
  for (const auto& d : kOptionDefaults)
    if (strcasecmp(d.name, name.c_str()) == 0) return d.value;
  throw SqlError(SQLE_INVALID_OPTION, {name});
}

bool PgConnection::OptionIsOn(std::string_view name) {
  std::string v = Upper(GetOption(name));
  return v == "ON" || v == "YES" || v == "TRUE" || v == "1";
}

int PgConnection::IsolationLevel() {
  auto it = tempOptions_.find("isolation_level");
  return it == tempOptions_.end() ? 1 : std::atoi(it->second.c_str());
}

void PgConnection::SetOption(std::string_view userView, std::string_view nameView, std::string_view value, bool temporary) {
  std::string name(nameView);
  if (name.empty()) throw SqlError(SQLE_INVALID_OPTION, {name});
  std::string v = CheckOptionValue(name, std::string(value));
  if (temporary || Utility()) {
    tempOptions_[name] = v;
    return;
  }
  std::string owner = userView.empty() ? user_ : std::string(userView);
  ImplicitCommit();
  std::vector<Value> params{Value::Text(Upper(owner) == "PUBLIC" ? "PUBLIC" : owner), Value::Text(name), Value::Text(v)};
  RunOne("INSERT INTO zyl.option(user_name, option, setting) VALUES ($1, $2, $3)"
         " ON CONFLICT (user_name, option) DO UPDATE SET setting = excluded.setting",
         params, true);
  Commit();
  tempOptions_.erase(name);
}

// ---- variables ----

void PgConnection::CreateVariable(const std::string& name, const std::string& type) {
  if (vars_.count(name)) throw SqlError(SQLE_VARIABLE_EXISTS, {name});
  vars_[name] = {type, Value()};
}

void PgConnection::SetVariable(const std::string& name, Value v) {
  auto it = vars_.find(name);
  if (it == vars_.end()) throw SqlError(SQLE_VARIABLE_NOT_FOUND, {name});
  it->second.value = std::move(v);
}

void PgConnection::DropVariable(const std::string& name) {
  if (!vars_.erase(name)) throw SqlError(SQLE_VARIABLE_NOT_FOUND, {name});
}

std::string PgConnection::VariableType(const std::string& name) const {
  auto it = vars_.find(name);
  return it == vars_.end() ? std::string() : it->second.type;
}

bool PgConnection::GetVariable(std::string_view name, Value& out) {
  auto it = vars_.find(std::string(name));
  if (it == vars_.end()) return false;
  out = it->second.value;
  return true;
}

bool PgConnection::IsRole(std::string_view name) {
  if (!rolesLoaded_) {
    rolesLoaded_ = true;
    pg::Result r(PQexec(conn_.get(), "SELECT lower(rolname) FROM pg_roles"));
    if (PQresultStatus(r.get()) == PGRES_TUPLES_OK)
      for (int i = 0; i < PQntuples(r.get()); ++i) roles_.insert(PQgetvalue(r.get(), i, 0));
  }
  std::string n(name);
  for (char& ch : n) ch = char(std::tolower(static_cast<unsigned char>(ch)));
  return roles_.count(n) != 0;
}

// ---- explain, backup ----

std::string PgConnection::Explain(std::string_view text) {
  int markers = 0;
  std::string sql = Translate(text, {}, &markers);
  std::vector<Value> nulls(static_cast<size_t>(markers));
  // The plan without running the statement: markers stand for values of unknown type.
  pg::Result r = RunOne("EXPLAIN " + sql, nulls, false);
  std::string plan;
  for (int i = 0; i < PQntuples(r.get()); ++i) {
    if (!plan.empty()) plan += '\n';
    plan += PQgetvalue(r.get(), i, 0);
  }
  return plan;
}

std::unique_ptr<Backup> PgConnection::StartBackup() {
  // A consistent copy of a server's database is the server's own base backup, taken with its
  // tools on the server's machine; the client library cannot page it over a connection.
  throw SqlError(SQLE_NOT_IMPLEMENTED, {"BACKUP on a network server (use the server's own base backup)"});
}

void PgConnection::DeleteLogFile(const std::string&) { throw SqlError(SQLE_BACKUP_UNABLE_TO_DELETE_FILE); }

// ---- the dialect ----

std::string PgConnection::Translate(std::string_view text, const std::vector<std::string>& variables, int* markers) {
  // Pre-pass: what the shared translation would turn into SQLite's forms.
  std::vector<Token> t = Tokenize(text);
  std::string pre;
  size_t at = 0;
  auto put = [&](size_t pos, size_t len, const std::string& repl) {
    pre.append(text.substr(at, pos - at));
    pre += repl;
    at = pos + len;
  };
  for (size_t i = 0; i < t.size(); ++i) {
    const Token& k = t[i];
    auto end = [&](size_t j) { return t[j].pos + t[j].text.size(); };
    if (k.Is("current") && i + 1 < t.size() && (t[i + 1].Is("timestamp") || t[i + 1].Is("date") || t[i + 1].Is("time"))) {
      put(k.pos, end(i + 1) - k.pos,
          t[i + 1].Is("timestamp") ? "LOCALTIMESTAMP" : t[i + 1].Is("date") ? "(CAST(LOCALTIMESTAMP AS date))" : "LOCALTIME");
      ++i;
    } else if (k.Is("current_timestamp")) {
      put(k.pos, k.text.size(), "LOCALTIMESTAMP");
    } else if (k.Is("current_date")) {
      put(k.pos, k.text.size(), "(CAST(LOCALTIMESTAMP AS date))");
    } else if (k.Is("current_time")) {
      put(k.pos, k.text.size(), "LOCALTIME");
    } else if (k.Is("default") && i + 1 < t.size() &&
               (t[i + 1].Is("autoincrement") || (t[i + 1].Is("global") && i + 2 < t.size() && t[i + 2].Is("autoincrement")))) {
      size_t a = t[i + 1].Is("global") ? i + 2 : i + 1;
      size_t e = a;
      if (a + 1 < t.size() && t[a + 1].kind == Token::Open) {
        e = a + 1;
        while (e < t.size() && t[e].kind != Token::Close) ++e;
      }
      if (e >= t.size()) e = t.size() - 1;
      put(k.pos, end(e) - k.pos, "GENERATED BY DEFAULT AS IDENTITY");
      i = e;
    }
  }
  pre.append(text.substr(at));

  DialectContext ctx;
  ctx.isUser = [this](std::string_view n) { return !SameIdent(n, "sys") && IsRole(n); };
  std::string s = TranslateSql(pre, ctx);

  // Post-pass: markers become $n, the vendor's types the server's, variables their markers.
  t = Tokenize(s);
  std::string out;
  at = 0;
  int n = 0;
  auto emit = [&](size_t pos, size_t len, const std::string& repl) {
    out.append(s, at, pos - at);
    out += repl;
    at = pos + len;
  };
  StatementKind kind = Classify(s);
  bool defines = kind == StatementKind::CreateTable || kind == StatementKind::AlterTable;
  std::vector<size_t> opens;  // token index of each open parenthesis
  for (size_t i = 0; i < t.size(); ++i) {
    const Token& k = t[i];
    if (k.kind == Token::Open) opens.push_back(i);
    if (k.kind == Token::Close && !opens.empty()) {
      // A derived table needs a name here: FROM (SELECT ...) gets one when it has none.
      size_t o = opens.back();
      opens.pop_back();
      bool derived = o > 0 && o + 1 < t.size() && t[o + 1].Is("select") && (t[o - 1].Is("from") || t[o - 1].Is("join"));
      bool named = i + 1 < t.size() && (t[i + 1].Is("as") || (t[i + 1].IsIdent() && !IsReservedWord(t[i + 1].Ident())));
      if (derived && !named) {
        out.append(s, at, k.pos + 1 - at);
        out += " AS zyl_d" + std::to_string(i);
        at = k.pos + 1;
      }
    }
    if (k.kind == Token::Marker) {
      emit(k.pos, k.text.size(), "$" + std::to_string(++n));
      continue;
    }
    if (k.kind == Token::Number && k.text.size() > 2 && k.text[0] == '0' && (k.text[1] == 'x' || k.text[1] == 'X')) {
      // A binary literal: 0x0102 is the bytes 01 02.
      std::string hex(k.text.substr(2));
      if (hex.size() % 2) hex = "0" + hex;
      emit(k.pos, k.text.size(), "'\\x" + hex + "'::bytea");
      continue;
    }
    if (k.kind == Token::Word && (k.text == "x" || k.text == "X") && i + 1 < t.size() &&
        t[i + 1].kind == Token::String && t[i + 1].pos == k.pos + 1) {
      // X'0102', the other form of a binary literal (the server would read a bit string).
      const std::string_view lit = t[i + 1].text;  // with its quotes
      std::string hex(lit.size() >= 2 ? lit.substr(1, lit.size() - 2) : std::string_view());
      if (hex.size() % 2) hex = "0" + hex;
      emit(k.pos, k.text.size() + lit.size(), "'\\x" + hex + "'::bytea");
      ++i;
      continue;
    }
    // A type: after AS inside CAST( ... ), or after a column name in a column definition.
    bool typePlace = false;
    if (i > 0 && t[i - 1].Is("as") && !opens.empty() && opens.back() > 0 && t[opens.back() - 1].Is("cast")) typePlace = true;
    if (defines && i >= 2 && t[i - 1].IsIdent() &&
        (t[i - 2].kind == Token::Open || t[i - 2].kind == Token::Comma || t[i - 2].Is("add") || t[i - 2].Is("column")) &&
        (t[i - 2].kind != Token::Open || opens.size() == 1 || t[i - 2].Is("add") || t[i - 2].Is("column")))
      typePlace = true;
    if (!typePlace || k.kind != Token::Word) continue;
    // The type's words (and its parenthesised length).
    size_t e = i;
    if (k.Is("blob") && e + 1 < t.size() && t[e + 1].kind == Token::Word) ++e;  // the binary pass's marker word
    size_t wordsBegin = e;
    while (e + 1 < t.size() && t[e + 1].kind == Token::Word &&
           (t[e].Is("long") || t[e].Is("unsigned") || t[e].Is("double") || t[e + 1].Is("varying") || t[e + 1].Is("precision")))
      ++e;
    size_t last = e;
    std::string args;
    if (last + 1 < t.size() && t[last + 1].kind == Token::Open) {
      size_t c = last + 1;
      while (c < t.size() && t[c].kind != Token::Close) ++c;
      if (c < t.size()) {
        args = s.substr(t[last + 1].pos, t[c].pos + 1 - t[last + 1].pos);
        last = c;
      }
    }
    std::string words;
    for (size_t w = wordsBegin; w <= e; ++w) words += (words.empty() ? "" : " ") + Upper(std::string(t[w].text));
    std::string repl;
    if (words == "BLOB" || words == "IMAGE" || words == "LONG BINARY" || words == "LONG VARBINARY" || words == "VARBINARY" ||
        words == "BINARY VARYING")
      repl = args.empty() || words != "VARBINARY" ? "bytea" : "zyl.\"varbinary" + args + "\"";
    else if (words == "BINARY")
      repl = "zyl.\"binary" + (args.empty() ? std::string("(1)") : args) + "\"";
    else if (words == "LONG VARCHAR" || words == "LONG NVARCHAR" || words == "TEXT" || words == "NTEXT") repl = "text";
    else if (words == "TINYINT") repl = "zyl.tinyint";
    else if (words == "UNSIGNED INT" || words == "UNSIGNED INTEGER") repl = "zyl.\"unsigned int\"";
    else if (words == "UNSIGNED SMALLINT") repl = "zyl.\"unsigned smallint\"";
    else if (words == "UNSIGNED BIGINT") repl = "zyl.\"unsigned bigint\"";
    else if (words == "BIT") repl = "zyl.bit";
    else if (words == "DOUBLE") repl = "double precision";
    else if (words == "DATETIME" || words == "SMALLDATETIME") repl = "timestamp";
    else if (words == "MONEY") repl = "numeric(19,4)";
    else if (words == "SMALLMONEY") repl = "numeric(10,4)";
    else if (words == "UNIQUEIDENTIFIER") repl = "uuid";
    else if (words == "NVARCHAR" || words == "NCHAR") repl = (words == "NCHAR" ? "char" : "varchar") + args;
    if (repl.empty()) continue;
    emit(t[i].pos, t[last].pos + t[last].text.size() - t[i].pos, repl);
    i = last;
  }
  out.append(s, at, std::string::npos);
  if (markers) *markers = n;

  // Connection variables the text names where the server knows no column: markers after the
  // statement's own.
  for (size_t v = 0; v < variables.size(); ++v) {
    std::vector<Token> tt = Tokenize(out);
    std::string res;
    size_t from = 0;
    std::string marker = "$" + std::to_string(n + int(v) + 1);
    for (size_t i = 0; i < tt.size(); ++i) {
      const Token& k = tt[i];
      if (!k.IsIdent() || !SameIdent(k.Ident(), variables[v])) continue;
      if (i > 0 && tt[i - 1].kind == Token::Dot) continue;
      if (i + 1 < tt.size() && (tt[i + 1].kind == Token::Dot || tt[i + 1].kind == Token::Open)) continue;
      res.append(out, from, k.pos - from);
      res += marker;
      from = k.pos + k.text.size();
    }
    res.append(out, from, std::string::npos);
    out = res;
  }
  return out;
}

// ---- describing results ----

TypeInfo PgTypeInfo(unsigned oid, int typmod, const std::string& domainName) {
  if (!domainName.empty()) {
    TypeInfo t = MapDeclaredType(domainName);
    if (t.Known()) return t;
  }
  auto chars = [&](const char* base) {
    if (typmod < 4) return MapDeclaredType("long varchar");
    return MapDeclaredType(std::string(base) + "(" + std::to_string(typmod - 4) + ")");
  };
  switch (oid) {
    case 16: return MapDeclaredType("bit");
    case 20: return MapDeclaredType("bigint");
    case 21: return MapDeclaredType("smallint");
    case 23: return MapDeclaredType("integer");
    case 26: return MapDeclaredType("unsigned int");
    case 700: return MapDeclaredType("real");
    case 701: return MapDeclaredType("double");
    case 1700:
      if (typmod >= 4) {
        int p = ((typmod - 4) >> 16) & 0xFFFF, s = (typmod - 4) & 0xFFFF;
        return MapDeclaredType("numeric(" + std::to_string(p) + "," + std::to_string(s) + ")");
      }
      return MapDeclaredType("numeric(30,6)");
    case 25: return MapDeclaredType("long varchar");
    case 1043: return chars("varchar");
    case 1042: return chars("char");
    case 19: return MapDeclaredType("varchar(64)");
    case 18: return MapDeclaredType("char(1)");
    case 17: return MapDeclaredType("long binary");
    case 1082: return MapDeclaredType("date");
    case 1083:
    case 1266: return MapDeclaredType("time");
    case 1114:
    case 1184: return MapDeclaredType("timestamp");
    case 2950: return MapDeclaredType("uniqueidentifier").Known() ? MapDeclaredType("uniqueidentifier") : MapDeclaredType("char(36)");
    default: return LongVarcharType();
  }
}

void PgConnection::DescribeColumns(const PGresult* r, std::vector<ColumnDesc>& out) {
  out.clear();
  int n = PQnfields(r);
  // What the server's catalog says about the base columns not seen yet: one query for all.
  std::string wanted;
  for (int i = 0; i < n; ++i) {
    Oid table = PQftable(r, i);
    int col = PQftablecol(r, i);
    if (table == InvalidOid || col <= 0 || baseCols_.count({table, col})) continue;
    wanted += (wanted.empty() ? "" : ",") + std::string("(") + std::to_string(table) + "," + std::to_string(col) + ")";
  }
  if (!wanted.empty()) {
    std::string q =
        "SELECT a.attrelid, a.attnum, c.relname, a.attname, a.attnotnull, c.relkind,"
        " CASE WHEN tn.nspname = 'zyl' THEN t.typname ELSE '' END"
        " FROM pg_attribute a JOIN pg_class c ON c.oid = a.attrelid JOIN pg_type t ON t.oid = a.atttypid"
        " JOIN pg_namespace tn ON tn.oid = t.typnamespace"
        " WHERE (a.attrelid, a.attnum) IN (VALUES " + wanted + ")";
    pg::Result cr(PQexec(conn_.get(), q.c_str()));
    if (PQresultStatus(cr.get()) == PGRES_TUPLES_OK) {
      for (int k = 0; k < PQntuples(cr.get()); ++k) {
        BaseColumn b;
        unsigned table = unsigned(std::strtoul(PQgetvalue(cr.get(), k, 0), nullptr, 10));
        int attnum = std::atoi(PQgetvalue(cr.get(), k, 1));
        b.table = PQgetvalue(cr.get(), k, 2);
        b.column = PQgetvalue(cr.get(), k, 3);
        b.notNull = PQgetvalue(cr.get(), k, 4)[0] == 't';
        char kind = PQgetvalue(cr.get(), k, 5)[0];
        b.updatable = kind == 'r' || kind == 'p';
        b.typeName = PQgetvalue(cr.get(), k, 6);
        baseCols_[{table, attnum}] = b;
      }
    } else if (inTx_) {
      // A failed catalog read must not leave the transaction aborted.
      throw pg::FromResult(cr.get(), conn_.get());
    }
  }
  for (int i = 0; i < n; ++i) {
    ColumnDesc c;
    c.name = PQfname(r, i);
    std::string domain;
    auto it = baseCols_.find({PQftable(r, i), PQftablecol(r, i)});
    if (it != baseCols_.end()) {
      c.baseTable = it->second.table;
      c.baseColumn = it->second.column;
      c.nullable = !it->second.notNull;
      c.readOnly = !it->second.updatable;
      domain = it->second.typeName;
    }
    TypeInfo t = PgTypeInfo(PQftype(r, i), PQfmod(r, i), domain);
    c.sqltype = t.sqltype;
    c.sqllen = t.sqllen;
    c.precision = t.precision;
    c.scale = t.scale;
    c.domainId = t.domainId;
    out.push_back(std::move(c));
  }
}

// ---- values ----

ValueRef PgValue(const char* text, int length, unsigned oid, std::string& scratch) {
  ValueRef v;
  switch (oid) {
    case 16:
      v.kind = Value::Kind::Integer;
      v.i = text[0] == 't' ? 1 : 0;
      return v;
    case 20:
    case 21:
    case 23:
    case 26:
      v.kind = Value::Kind::Integer;
      v.i = std::strtoll(text, nullptr, 10);
      return v;
    case 700:
    case 701:
      v.kind = Value::Kind::Real;
      v.d = std::strtod(text, nullptr);
      return v;
    case 1700: {
      // A double holds 15 digits: a whole number that fits 64 bits comes as an integer, any
      // other numeric as its exact text (an unsigned bigint above 2^63, a 30-digit decimal).
      v.i = 0;
      auto r = std::from_chars(text, text + length, v.i);
      if (r.ec == std::errc() && r.ptr == text + length) {
        v.kind = Value::Kind::Integer;
        return v;
      }
      v.kind = Value::Kind::Text;
      v.p = text;
      v.n = size_t(length);
      return v;
    }
    case 17: {
      // bytea in hex form: \x0a1b...
      scratch.clear();
      if (length >= 2 && text[0] == '\\' && text[1] == 'x') {
        scratch.reserve(size_t(length - 2) / 2);
        auto hex = [](char ch) { return ch <= '9' ? ch - '0' : (ch | 0x20) - 'a' + 10; };
        for (int k = 2; k + 1 < length; k += 2) scratch.push_back(char(hex(text[k]) << 4 | hex(text[k + 1])));
      } else {
        size_t n = 0;
        unsigned char* raw = PQunescapeBytea(reinterpret_cast<const unsigned char*>(text), &n);
        if (raw) {
          scratch.assign(reinterpret_cast<char*>(raw), n);
          PQfreemem(raw);
        }
      }
      v.kind = Value::Kind::Blob;
      v.p = scratch.data();
      v.n = scratch.size();
      return v;
    }
    case 1083:
    case 1114:
    case 1184: {
      // Times in the form the embedded engine stores them (milliseconds when they suffice), so
      // both engines hand out the same text; the server's form differs only in a fraction of
      // other than 3 or 6 digits and in a time zone.
      std::string_view t(text, size_t(length));
      if (oid == 1184 && t.size() > 19) {
        auto zone = t.find_first_of("+-", 19);
        if (zone != std::string_view::npos) t = t.substr(0, zone);
      }
      auto dot = t.rfind('.');
      size_t digits = dot == std::string_view::npos ? 0 : t.size() - dot - 1;
      if (digits == 0 || digits == 3 || digits == 6) {
        if (t.size() == size_t(length)) break;
        v.kind = Value::Kind::Text;
        v.p = text;
        v.n = t.size();
        return v;
      }
      DateTimeParts parts;
      if (ParseDateTime(t, parts)) {
        scratch = FormatDateTime(parts, 0);
        v.kind = Value::Kind::Text;
        v.p = scratch.data();
        v.n = scratch.size();
        return v;
      }
      break;
    }
    default: break;
  }
  v.kind = Value::Kind::Text;
  v.p = text;
  v.n = size_t(length);
  return v;
}

}  // namespace dbl
