// zylo: connections — the connection string read into the session's properties, the session
// opened and closed, the statement cache, transactions, and component exceptions turned into
// zylo::error.
#include <algorithm>
#include <cctype>
#include <filesystem>

#include "zylo/internal.h"

namespace zylo {

namespace detail {

void rethrow(const Exception& e) {
  std::int32_t code = 0;
  if (auto* z = dynamic_cast<const EZyloException*>(&e)) code = z->GetErrorCode();
  const std::string& text = e.Message();
  std::string state;
  // The session writes a server error as "Error <code>: <text> (<SQL state>)".
  if (code < 0 && text.size() >= 8 && text.back() == ')' && text[text.size() - 7] == '(')
    state = text.substr(text.size() - 6, 5);
  else if (dynamic_cast<const EConvertError*>(&e))
    state = "22018";
  throw error(text, code, std::move(state));
}

namespace {

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

// A value as written, without its quotes ('a;b' -> a;b, 'it''s' -> it's).
std::string unquote(std::string_view v) {
  if (v.size() < 2 || (v.front() != '\'' && v.front() != '"') || v.back() != v.front()) return std::string(v);
  const char q = v.front();
  std::string out;
  for (std::size_t i = 1; i + 1 < v.size(); ++i) {
    out += v[i];
    if (v[i] == q && i + 2 < v.size() && v[i + 1] == q) ++i;
  }
  return out;
}

// The pieces of a connection string, split at the ';' that lie outside quotes.
std::vector<std::string_view> pieces(std::string_view s) {
  std::vector<std::string_view> out;
  std::size_t start = 0, i = 0;
  char quote = 0;
  for (; i < s.size(); ++i) {
    const char c = s[i];
    if (quote) {
      if (c == quote) quote = 0;  // a doubled quote closes and opens again
    } else if (c == '\'' || c == '"') {
      quote = c;
    } else if (c == ';') {
      out.push_back(s.substr(start, i - start));
      start = i + 1;
    }
  }
  if (quote) throw error("connection string: a quote is not closed", 0, "08001");
  out.push_back(s.substr(start));
  return out;
}

bool flag(const std::string& key, std::string_view value) {
  const std::string v = lower(value);
  if (v == "yes" || v == "y" || v == "on" || v == "true" || v == "1") return true;
  if (v == "no" || v == "n" || v == "off" || v == "false" || v == "0") return false;
  throw error("connection string: " + key + " takes yes or no, not '" + std::string(value) + "'", 0, "08001");
}

// Sets the session up from the string; the keys the session has properties for become those
// properties, every other piece goes to the server as it was written.
void configure(TAsaSession& s, std::string_view text) {
  std::string database, client;
  bool is_file = false;
  std::string server_type;
  for (std::string_view piece : pieces(text)) {
    piece = trim(piece);
    if (piece.empty()) continue;
    const std::size_t eq = piece.find('=');
    if (eq == std::string_view::npos || eq == 0)
      throw error("connection string: '" + std::string(piece) + "' is not of the form key=value", 0, "08001");
    const std::string key = lower(trim(piece.substr(0, eq)));
    const std::string_view raw = trim(piece.substr(eq + 1));
    const std::string value = unquote(raw);
    if (key == "eng" || key == "enginename" || key == "servername") {
      s.SetLoginEngineName(value);
    } else if (key == "dbf" || key == "databasefile") {
      database = value;
      is_file = true;
    } else if (key == "dbn" || key == "databasename") {
      if (!is_file) database = value;
    } else if (key == "uid" || key == "userid") {
      s.SetLoginUser(std::string(raw));  // as written: the session passes it on quoted or not
    } else if (key == "pwd" || key == "password") {
      s.SetLoginPassword(std::string(raw));
    } else if (key == "servertype") {
      server_type = lower(value);
      if (server_type != "client" && server_type != "server" && server_type != "workgroup")
        throw error("connection string: servertype takes client, server or workgroup, not '" + value + "'", 0, "08001");
    } else if (key == "serverparams") {
      s.SetServerParams(value);
    } else if (key == "library" || key == "libraryfile") {
      s.SetLibraryFile(value);
    } else if (key == "librarypath") {
      s.SetLibraryPath(value);
    } else if (key == "isolation") {
      if (value.size() != 1 || value[0] < '0' || value[0] > '3')
        throw error("connection string: isolation takes 0, 1, 2 or 3, not '" + value + "'", 0, "08001");
      s.SetTransIsolation(static_cast<TAsaTransIsolation>(value[0] - '0' + 1));
    } else if (key == "autocommit") {
      s.SetAutoCommit(flag(key, value));
    } else if (key == "rowcounts") {
      s.SetWantRowCounts(flag(key, value));
    } else if (key == "trimblanks") {
      s.SetTrimBlanks(flag(key, value));
    } else if (key == "commitondisconnect") {
      s.SetCommitOnDisconnect(flag(key, value));
    } else if (key == "oemconvert") {
      s.SetOEMConvert(flag(key, value));
    } else {
      if (!client.empty()) client += ";";
      client += piece;
    }
  }
  // The session enters the client library's folder while it connects, so a database file named
  // relative to where the program stands is made absolute first.
  if (is_file && !database.empty() && std::filesystem::path(database).is_relative())
    database = std::filesystem::absolute(database).string();
  if (database.find(';') != std::string::npos)
    throw error("connection string: a database name with ';' in it cannot be passed on", 0, "08001");
  s.SetLoginDatabase(database);
  s.SetClientParams(client);
  TAsaServerType type = is_file ? stServer : stClient;
  if (server_type == "client") type = stClient;
  else if (server_type == "server") type = stServer;
  else if (server_type == "workgroup") type = stWorkgroup;
  s.SetServerType(type);
}

// Runs a session operation and reports its failure also when the session does not raise.
template <class F>
void session_call(TAsaSession& s, F f) {
  guarded([&] { f(); });
  if (!s.GetWantExceptions() && s.GetLastErrorCode() < 0) {
    const std::string& text = s.GetLastError();
    std::string state;
    if (text.size() >= 8 && text.back() == ')' && text[text.size() - 7] == '(') state = text.substr(text.size() - 6, 5);
    throw error(text, s.GetLastErrorCode(), state);
  }
}

}  // namespace

conn::conn(std::string_view connection_string) : owned_(std::make_unique<TAsaSession>(nullptr)) {
  session_ = owned_.get();
  session_->SetWantExceptions(true);
  guarded([&] {
    configure(*session_, connection_string);
    session_->Open();
  });
  if (!session_->GetConnected()) throw error("the session did not connect", 0, "08001");
}

conn::conn(TAsaSession& attached) : session_(&attached) {
  if (!session_->GetConnected()) throw error("the session is not connected", 0, "08003");
}

conn::~conn() {
  // The statements go before the session they are registered with.
  side_.reset();
  cache.clear();
  if (owned_) {
    try {
      owned_->Close();
    } catch (const Exception&) {
      // The connection is gone either way; a destructor has nobody to tell.
    }
  }
}

void conn::flush_cache() noexcept {
  for (auto it = cache.begin(); it != cache.end();) {
    if (it->second->busy) {
      ++it;
    } else {
      it->second->cached = false;
      it = cache.erase(it);
    }
  }
}

TAsaSQL& conn::side() {
  if (!side_) {
    side_ = std::make_unique<TAsaSQL>(nullptr);
    side_->SetSession(session_);
    side_->SetWantExceptions(true);
  }
  return *side_;
}

void conn::run_side(const std::string& sql) {
  guarded([&] { side().Execute(sql, {ZylEmptyParam}); });
}

void conn::append_piece(const std::string& variable, const uint8_t* data, int32_t size) {
  // The same text for every piece of a value: prepared once, executed per piece.
  const std::string sql = "SET " + variable + " = " + variable + " || ?";
  guarded([&] { side().Execute(sql, {VarByteArrayOf(data, static_cast<size_t>(size))}); });
}

// ---- hold -----------------------------------------------------------------------------------------

hold& hold::operator=(hold&& o) noexcept {
  if (this != &o) {
    finish();
    conn_ = std::move(o.conn_);
    stmt_ = std::move(o.stmt_);
    leased_ = o.leased_;
    serial_ = o.serial_;
    o.leased_ = false;
    o.serial_ = 0;
  }
  return *this;
}

void hold::finish() noexcept {
  if (!stmt_) return;
  if (serial_ && stmt_->serial == serial_) stmt_->close_cursor();
  serial_ = 0;
  if (leased_) stmt_->busy = false;
  leased_ = false;
  stmt_.reset();
  conn_.reset();
}

stmt& hold::get() const {
  if (!stmt_) throw error("the rows are closed", 0, "24000");
  return *stmt_;
}

hold acquire(const std::shared_ptr<conn>& c, std::string_view sql) {
  conn& k = *c;
  auto it = k.cache.find(sql);
  if (it != k.cache.end() && !it->second->busy) {
    stmt& s = *it->second;
    s.busy = true;
    s.last_use = ++k.tick;
    return hold(c, it->second, true);
  }
  auto s = std::make_shared<stmt>(k, std::string(sql));
  if (it == k.cache.end()) {
    if (k.cache.size() >= k.capacity) {
      // Room for the new text: the statement unused the longest goes.
      auto oldest = k.cache.end();
      for (auto e = k.cache.begin(); e != k.cache.end(); ++e)
        if (!e->second->busy && (oldest == k.cache.end() || e->second->last_use < oldest->second->last_use)) oldest = e;
      if (oldest != k.cache.end()) {
        oldest->second->cached = false;
        k.cache.erase(oldest);
      }
    }
    if (k.cache.size() < k.capacity) {
      s->cached = true;
      s->busy = true;
      s->last_use = ++k.tick;
      k.cache.emplace(s->text, s);
      return hold(c, std::move(s), true);
    }
  }
  // The text is in use already (a query inside the loop over the same query's rows), or every
  // cached statement is: this one lives for this use only.
  return hold(c, std::move(s), false);
}

std::shared_ptr<stmt> make_statement(const std::shared_ptr<conn>& c, std::string_view sql) {
  return std::make_shared<stmt>(*c, std::string(sql));
}

}  // namespace detail

// ---- connection -----------------------------------------------------------------------------------

connection::connection(std::string_view connection_string)
    : conn_(std::make_shared<detail::conn>(connection_string)) {}
connection::connection(TAsaSession& session) : conn_(std::make_shared<detail::conn>(session)) {}
connection::connection(connection&&) noexcept = default;
connection& connection::operator=(connection&&) noexcept = default;
connection::~connection() = default;

statement connection::prepare(std::string_view sql) { return statement(conn_, detail::make_statement(conn_, sql)); }

void connection::commit() {
  TAsaSession& s = conn_->session();
  detail::session_call(s, [&] { s.Commit(); });
}

void connection::rollback() {
  TAsaSession& s = conn_->session();
  detail::session_call(s, [&] { s.Rollback(); });
}

bool connection::in_transaction() const { return conn_->session().GetInTransaction(); }
bool connection::connected() const { return conn_->session().GetConnected(); }

bool connection::ping() noexcept {
  try {
    return connected() && one<std::int32_t>("SELECT 1") == 1;
  } catch (const std::exception&) {
    return false;
  }
}

connection::statistics connection::stats() const {
  statistics s = conn_->stats;
  s.cached = conn_->cache.size();
  return s;
}

TAsaSession& connection::session() const { return conn_->session(); }

// ---- statement ------------------------------------------------------------------------------------

detail::hold statement::hold() const {
  if (!stmt_) throw error("the statement is empty: make it with connection::prepare", 0, "HY010");
  return detail::hold(conn_, stmt_, false);
}

const std::string& statement::sql() const {
  static const std::string none;
  return stmt_ ? stmt_->text : none;
}

TAsaSQL& statement::component() const { return *hold().get().sql; }

// ---- transaction ----------------------------------------------------------------------------------

transaction::transaction(connection& db) : conn_(db.conn_) {
  TAsaSession& s = conn_->session();
  if (s.GetInTransaction())
    throw error("a transaction is already active on this connection; transactions do not nest", 0, "25001");
  detail::session_call(s, [&] { s.StartTransaction(); });
  active_ = true;
}

transaction::~transaction() {
  if (!active_) return;
  try {
    rollback();
  } catch (const std::exception&) {
    // A destructor cannot report; the server ends the transaction with the connection anyway.
  }
}

void transaction::commit() {
  if (!active_) throw error("the transaction has already ended", 0, "25000");
  TAsaSession& s = conn_->session();
  detail::session_call(s, [&] { s.Commit(); });
  active_ = false;  // only after the commit worked: otherwise the destructor rolls back
}

void transaction::rollback() {
  if (!active_) throw error("the transaction has already ended", 0, "25000");
  active_ = false;
  TAsaSession& s = conn_->session();
  detail::session_call(s, [&] { s.Rollback(); });
}

}  // namespace zylo
