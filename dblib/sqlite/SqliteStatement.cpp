// Preparing and running statements on a SQLite connection, and the statements the library
// carries out itself.
#include "dblib/sqlite/SqliteStatement.h"

#include "dblib/sqlite/SqliteCursor.h"

#include <cctype>
#include <cstring>
#include <functional>
#include <map>
#include <optional>

#include "dblib/engine/Cursor.h"
#include "dblib/engine/LocalStatement.h"
#include "dblib/engine/Registry.h"
#include "dblib/sql/Dialect.h"
#include "dblib/sqlite/ForeignKeys.h"
#include "dblib/sqlite/SqliteErrors.h"
#include "dblib/sqlite/StatementSeams.h"
#include "dblib/sqlite/WriteChecks.h"
#include "dblib/sqlite/Users.h"

namespace dbl {
namespace {

std::vector<PrepareHook>& Hooks() {
  static std::vector<PrepareHook> hooks;
  return hooks;
}

// ---- a small lexer for the statements we parse ourselves ----
struct Lexer {
  std::string_view s;
  size_t i = 0;
  void Skip() {
    for (;;) {
      while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
      if (s.substr(i, 2) == "--" || s.substr(i, 2) == "//") {
        while (i < s.size() && s[i] != '\n') ++i;
      } else if (s.substr(i, 2) == "/*") {
        auto e = s.find("*/", i + 2);
        i = e == std::string_view::npos ? s.size() : e + 2;
      } else {
        return;
      }
    }
  }
  bool AtEnd() {
    Skip();
    while (i < s.size() && s[i] == ';') {
      ++i;
      Skip();
    }
    return i >= s.size();
  }
  // Identifier or keyword (plain, "quoted" or [bracketed]); empty when none.
  std::string Word() {
    Skip();
    if (i >= s.size()) return {};
    if (s[i] == '"' || s[i] == '[' || s[i] == '`') {
      char close = s[i] == '[' ? ']' : s[i];
      size_t e = s.find(close, i + 1);
      if (e == std::string_view::npos) return {};
      std::string w(s.substr(i + 1, e - i - 1));
      i = e + 1;
      return w;
    }
    size_t st = i;
    while (i < s.size() && (std::isalnum(static_cast<unsigned char>(s[i])) || s[i] == '_' || s[i] == '@' ||
                            s[i] == '$' || static_cast<unsigned char>(s[i]) >= 0x80))
      ++i;
    return std::string(s.substr(st, i - st));
  }
  std::string Keyword() { return UpperName(Word()); }
  bool Accept(std::string_view kw) {
    size_t save = i;
    if (Keyword() == kw) return true;
    i = save;
    return false;
  }
  bool Char(char c) {
    Skip();
    if (i < s.size() && s[i] == c) {
      ++i;
      return true;
    }
    return false;
  }
  // 'string' (doubled quote inside), "string", or a bare word.
  std::optional<std::string> StringOrWord() {
    Skip();
    if (i < s.size() && s[i] == '\'') {
      std::string out;
      for (++i; i < s.size(); ++i) {
        if (s[i] == '\'') {
          if (i + 1 < s.size() && s[i + 1] == '\'') {
            out += '\'';
            ++i;
            continue;
          }
          ++i;
          return out;
        }
        out += s[i];
      }
      return std::nullopt;
    }
    std::string w = Word();
    if (w.empty()) return std::nullopt;
    return w;
  }
  // What is left of the statement, without trailing comments and semicolons.
  std::string_view Rest() {
    Skip();
    return StatementBody(s.substr(i));
  }
};

[[noreturn]] void Syntax(std::string_view text, size_t at) {
  std::string near(text.substr(at, 20));
  if (auto nl = near.find_first_of("\r\n"); nl != std::string::npos) near.erase(nl);
  throw SqlError(SQLE_SYNTAX_ERROR, {near.empty() ? "end of statement" : near, ""}, int(at));
}

// EXPLAIN <statement>: the access plan of the statement as rows of one column, "plan", one
// step a row, indented by its depth in the plan. Executed without a cursor it has nowhere to
// put its rows, which is an error rather than a silent success.
class ExplainStatement : public Statement {
 public:
  ExplainStatement(SqliteConnection& conn, std::string text, std::string explained)
      : conn_(conn), text_(std::move(text)), explained_(std::move(explained)) {
    // Prepared now, so that a statement that cannot be explained fails at PREPARE.
    sq::finalize(conn_.PrepareRaw(PlanQuery()));
  }
  const std::string& Text() const override { return text_; }
  void DescribeOutput(std::vector<ColumnDesc>& out, bool& mayVary) override {
    mayVary = false;
    out.assign(1, PlanColumn());
  }
  void DescribeInput(std::vector<ParamDesc>& out) override { DescribeMarkers(explained_, out); }
  bool HasResultSet() const override { return true; }
  ExecResult Execute(const std::vector<Value>& in, std::vector<Value>* out) override {
    if (!out) throw SqlError(SQLE_NOT_IMPLEMENTED, {"EXPLAIN without a cursor for its rows"});
    std::vector<std::vector<Value>> rows = Plan(in);
    if (rows.size() > 1) throw SqlError(SQLE_TOO_MANY_RECORDS);
    out->clear();
    ExecResult r;
    if (rows.empty()) r.warning = SQLE_NOTFOUND;
    else *out = std::move(rows[0]);
    return r;
  }
  std::unique_ptr<Cursor> Open(const std::vector<Value>& in, const CursorOptions&) override {
    return MakeRowsCursor({PlanColumn()}, Plan(in));
  }

 private:
  static ColumnDesc PlanColumn() {
    ColumnDesc c;
    c.name = "plan";
    c.sqltype = DT_LONGVARCHAR;
    c.sqllen = 32767;
    c.domainId = 10;
    c.nullable = false;
    return c;
  }
  std::string PlanQuery() { return "EXPLAIN QUERY PLAN " + conn_.Translate(explained_); }
  std::vector<std::vector<Value>> Plan(const std::vector<Value>& in) {
    sqlite3_stmt* st = conn_.PrepareRaw(PlanQuery());
    std::vector<std::vector<Value>> rows;
    std::map<int64_t, int> depth;  // plan step id -> depth
    try {
      SqliteConnection::Bind(st, in);
      int rc;
      while ((rc = sq::step(st)) == SQLITE_ROW) {
        const int64_t id = sq::column_int64(st, 0), parent = sq::column_int64(st, 1);
        const int d = depth.count(parent) ? depth[parent] + 1 : 0;
        depth[id] = d;
        const unsigned char* detail = sq::column_text(st, 3);
        rows.push_back({Value::Text(std::string(size_t(d) * 2, ' ') + (detail ? reinterpret_cast<const char*>(detail) : ""))});
      }
      if (rc != SQLITE_DONE) ThrowSqlite(conn_.Handle(), rc);
    } catch (...) {
      sq::finalize(st);
      throw;
    }
    sq::finalize(st);
    return rows;
  }

  SqliteConnection& conn_;
  std::string text_;
  std::string explained_;
};

// Evaluates one expression on the connection ("SELECT expr").
Value Evaluate(SqliteConnection& conn, std::string_view expr, const std::vector<Value>& in) {
  std::string sql = "SELECT " + conn.Translate(expr);
  sqlite3_stmt* st = conn.PrepareRaw(sql);
  Value v;
  try {
    SqliteConnection::Bind(st, in);
    int rc = sq::step(st);
    if (rc == SQLITE_ROW) v = SqliteConnection::ColumnValue(st, 0);
    else if (rc != SQLITE_DONE) ThrowSqlite(conn.Handle(), rc, sql);
  } catch (...) {
    sq::finalize(st);
    throw;
  }
  sq::finalize(st);
  return v;
}

// Keeps a variable's value in the storage class its declared type asks for.
Value Coerce(const std::string& type, Value v) {
  std::string t = UpperName(type);
  if (v.IsNull()) return v;
  if (t.find("BINARY") != std::string::npos || t.find("BLOB") != std::string::npos || t == "IMAGE") {
    if (v.kind != Value::Kind::Blob) return Value::Blob(v.ToText());
    return v;
  }
  if (t.find("CHAR") != std::string::npos || t.find("TEXT") != std::string::npos) {
    if (v.kind != Value::Kind::Text) return Value::Text(v.ToText());
  }
  return v;
}

std::unique_ptr<Statement> PrepareVariable(SqliteConnection& conn, std::string_view text, Lexer& lx, bool create) {
  std::string name = lx.Word();
  if (name.empty()) Syntax(text, lx.i);
  if (create) {
    std::string type(lx.Rest());
    if (type.empty()) Syntax(text, lx.i);
    return std::make_unique<LocalStatement>(std::string(text), [&conn, name, type](const std::vector<Value>&) {
      conn.CreateVariable(name, type);
      return ExecResult{};
    });
  }
  if (!lx.AtEnd()) Syntax(text, lx.i);
  return std::make_unique<LocalStatement>(std::string(text), [&conn, name](const std::vector<Value>&) {
    conn.DropVariable(name);
    return ExecResult{};
  });
}

// SET v = expr, with `SET v = v || expr` appending to the value without a round trip through
// text (binary pieces keep every byte).
std::unique_ptr<Statement> PrepareSetVariable(SqliteConnection& conn, std::string_view text, const std::string& name,
                                              Lexer& lx) {
  std::string expr(lx.Rest());
  if (expr.empty()) Syntax(text, lx.i);
  std::optional<std::string> appended;
  {
    Lexer e{expr};
    if (UpperName(e.Word()) == UpperName(name)) {
      e.Skip();
      if (e.s.substr(e.i, 2) == "||") {
        e.i += 2;
        appended = std::string(e.Rest());
      }
    }
  }
  return std::make_unique<LocalStatement>(
      std::string(text), [&conn, name, expr, appended](const std::vector<Value>& in) {
        Value current;
        if (!conn.GetVariable(name, current)) throw SqlError(SQLE_VARIABLE_NOT_FOUND, {name});
        std::string type = conn.VariableType(name);
        if (appended) {
          Value piece = Evaluate(conn, *appended, in);
          if (current.IsNull()) {
            conn.SetVariable(name, Coerce(type, piece));
          } else if (!piece.IsNull()) {
            Value joined = current.kind == Value::Kind::Blob || piece.kind == Value::Kind::Blob
                               ? Value::Blob(current.ToText() + piece.ToText())
                               : Value::Text(current.ToText() + piece.ToText());
            conn.SetVariable(name, Coerce(type, std::move(joined)));
          } else {
            conn.SetVariable(name, Value());  // NULL || x is NULL in SQL
          }
        } else {
          conn.SetVariable(name, Coerce(type, Evaluate(conn, expr, in)));
        }
        return ExecResult{};
      });
}

std::unique_ptr<Statement> PrepareSetOption(SqliteConnection& conn, std::string_view text, Lexer& lx, bool temporary) {
  std::string first = lx.Word();
  if (first.empty()) Syntax(text, lx.i);
  std::string user, name = first;
  if (lx.Char('.')) {
    user = first;
    name = lx.Word();
    if (name.empty()) Syntax(text, lx.i);
  }
  if (!lx.Char('=')) Syntax(text, lx.i);
  lx.Skip();
  std::string value;
  if (lx.i < lx.s.size() && lx.s[lx.i] == '\'') {
    auto v = lx.StringOrWord();
    if (!v) Syntax(text, lx.i);
    value = *v;
  } else {
    value = std::string(lx.Rest());
    lx.i = lx.s.size();
  }
  if (!lx.AtEnd()) Syntax(text, lx.i);
  return std::make_unique<LocalStatement>(std::string(text), [&conn, user, name, value, temporary](const std::vector<Value>&) {
    conn.SetOption(user, name, value, temporary);
    return ExecResult{};
  });
}

std::unique_ptr<Statement> PrepareGrant(SqliteConnection& conn, std::string_view text, Lexer& lx, bool grant) {
  if (!lx.Accept("CONNECT")) throw SqlError(SQLE_NOT_IMPLEMENTED, {grant ? "GRANT" : "REVOKE"});
  if (!lx.Accept(grant ? "TO" : "FROM")) Syntax(text, lx.i);
  std::vector<std::string> names;
  do {
    std::string n = lx.Word();
    if (n.empty()) Syntax(text, lx.i);
    names.push_back(n);
  } while (lx.Char(','));
  std::vector<std::optional<std::string>> passwords(names.size());
  if (grant && lx.Accept("IDENTIFIED")) {
    if (!lx.Accept("BY")) Syntax(text, lx.i);
    size_t k = 0;
    do {
      auto p = lx.StringOrWord();
      if (!p || k >= names.size()) Syntax(text, lx.i);
      passwords[k++] = *p;
    } while (lx.Char(','));
    if (k != names.size()) Syntax(text, lx.i);
  }
  if (!lx.AtEnd()) Syntax(text, lx.i);
  return std::make_unique<LocalStatement>(std::string(text), [&conn, names, passwords, grant](const std::vector<Value>&) {
    if (conn.Utility()) throw SqlError(SQLE_PERMISSION_DENIED, {"not in the utility database"});
    bool self = names.size() == 1 && UpperName(names[0]) == UpperName(conn.UserName());
    // Anyone may change their own password; everything else needs DBA authority.
    if (!conn.IsDba() && !(grant && self)) throw SqlError(SQLE_PERMISSION_DENIED, {grant ? "GRANT" : "REVOKE"});
    conn.ImplicitCommit();
    sq::exec(conn.Handle(), "BEGIN", nullptr, nullptr, nullptr);
    try {
      for (size_t k = 0; k < names.size(); ++k) {
        if (grant) users::GrantConnect(conn.Handle(), names[k], passwords[k]);
        else users::RevokeConnect(conn.Handle(), names[k]);
      }
      conn.Commit();
    } catch (...) {
      conn.Rollback();
      throw;
    }
    return ExecResult{};
  });
}

std::unique_ptr<Statement> PrepareDatabaseFile(SqliteConnection& conn, std::string_view text, Lexer& lx, bool create) {
  auto file = lx.StringOrWord();
  if (!file) Syntax(text, lx.i);
  // Options after the file name (page size, collation ...) have no meaning for our files.
  std::string f = *file;
  return std::make_unique<LocalStatement>(std::string(text), [&conn, f, create](const std::vector<Value>&) {
    if (!conn.Utility()) throw SqlError(SQLE_PERMISSION_DENIED, {"only in the utility database"});
    if (create) {
      CreateDatabaseFile(f);
    } else {
      for (auto& engineName : std::vector<std::string>{conn.EngineName()}) {
        if (auto e = Registry::Get().Find(engineName); e && e->FindFile(f))
          throw SqlError(SQLE_MUST_BE_ONLY_CONNECTION, {engineName});
      }
      DropDatabaseFile(f);
    }
    return ExecResult{};
  });
}

// Replaces identifier `name` (outside quotes, not after '.' or ':') with zyl_getvar('name').
std::string ResolveVariable(const std::string& sql, const std::string& name) {
  std::string out;
  size_t i = 0;
  while (i < sql.size()) {
    char c = sql[i];
    // Comments go through as written: a name or a quote inside one is no code.
    if ((c == '-' || c == '/') && i + 1 < sql.size() && sql[i + 1] == c) {
      size_t e = sql.find('\n', i);
      e = e == std::string::npos ? sql.size() : e;
      out.append(sql, i, e - i);
      i = e;
      continue;
    }
    if (c == '/' && i + 1 < sql.size() && sql[i + 1] == '*') {
      size_t e = sql.find("*/", i + 2);
      e = e == std::string::npos ? sql.size() : e + 2;
      out.append(sql, i, e - i);
      i = e;
      continue;
    }
    if (c == '\'' || c == '"') {
      size_t e = i + 1;
      while (e < sql.size()) {
        if (sql[e] == c) {
          if (e + 1 < sql.size() && sql[e + 1] == c) {
            e += 2;
            continue;
          }
          break;
        }
        ++e;
      }
      out.append(sql, i, e + 1 - i);
      i = e + 1;
      continue;
    }
    if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
      size_t e = i;
      while (e < sql.size() && (std::isalnum(static_cast<unsigned char>(sql[e])) || sql[e] == '_')) ++e;
      std::string word = sql.substr(i, e - i);
      char before = i > 0 ? sql[i - 1] : ' ';
      if (strcasecmp(word.c_str(), name.c_str()) == 0 && before != '.' && before != ':' && before != '@') {
        out += "zyl_getvar('" + name + "')";
      } else {
        out += word;
      }
      i = e;
      continue;
    }
    out += c;
    ++i;
  }
  return out;
}

}  // namespace

void RegisterPrepareHook(PrepareHook hook) { Hooks().push_back(hook); }

std::vector<std::string> LeadingWords(std::string_view text, size_t n) {
  Lexer lx{text};
  std::vector<std::string> out;
  while (out.size() < n) {
    std::string w = lx.Keyword();
    if (w.empty()) break;
    out.push_back(w);
  }
  return out;
}

// ---- SqliteConnection: preparing ----

std::string SqliteConnection::Translate(std::string_view text, std::vector<ColumnType>* bareMarkers) {
  return AddWriteChecks(*this, TranslateDialect(*this, text), bareMarkers);
}

sqlite3_stmt* SqliteConnection::PrepareRaw(const std::string& textIn) {
  std::string text = textIn;
  for (int attempt = 0; attempt < 16; ++attempt) {
    sqlite3_stmt* st = nullptr;
    const char* tail = nullptr;
    int rc = sq::prepare_v2(db_, text.c_str(), int(text.size()), &st, &tail);
    if (rc == SQLITE_OK) {
      if (!st) throw SqlError(SQLE_SYNTAX_ERROR, {"end of statement", ""}, 0);  // blank text
      // Only one statement per request: trailing text other than blanks, comments and ';' is
      // an error.
      if (tail && *tail) {
        std::string_view rest(tail);
        std::string_view body = StatementBody(rest);
        if (!body.empty()) {
          sq::finalize(st);
          Syntax(text, size_t(tail - text.c_str()) + size_t(body.data() - rest.data()));
        }
      }
      return st;
    }
    SqlError e = FromSqlite(db_, rc, text);
    if (e.Code() == SQLE_COLUMN_NOT_FOUND && !e.Args().empty() && HasVariable(e.Args()[0])) {
      std::string resolved = ResolveVariable(text, e.Args()[0]);
      if (resolved != text) {
        text = resolved;
        continue;
      }
    }
    throw e;
  }
  throw SqlError(SQLE_STATEMENT_ERROR);
}

namespace {
void BindOne(sqlite3_stmt* st, int i, const Value& v, bool borrow) {
  int rc;
  const auto keep = borrow ? SQLITE_STATIC : SQLITE_TRANSIENT;
  switch (v.kind) {
    case Value::Kind::Null: rc = sq::bind_null(st, i); break;
    case Value::Kind::Integer: rc = sq::bind_int64(st, i, v.i); break;
    case Value::Kind::Real: rc = sq::bind_double(st, i, v.d); break;
    case Value::Kind::Text: rc = sq::bind_text(st, i, v.bytes.data(), int(v.bytes.size()), keep); break;
    default: rc = sq::bind_blob(st, i, v.bytes.data(), int(v.bytes.size()), keep); break;
  }
  if (rc != SQLITE_OK) ThrowSqlite(sq::db_handle(st), rc);
}
}  // namespace

void SqliteConnection::Bind(sqlite3_stmt* st, const std::vector<Value>& in, bool borrow) {
  int n = sq::bind_parameter_count(st);
  if (int(in.size()) < n) throw SqlError(SQLE_NOT_ENOUGH_HOST_VARS);
  for (int i = 1; i <= n; ++i) BindOne(st, i, in[size_t(i - 1)], borrow);
}

void SqliteConnection::Bind(sqlite3_stmt* st, const std::vector<Value>& in, const std::vector<ColumnType>& types,
                            bool borrow) {
  int n = sq::bind_parameter_count(st);
  if (int(in.size()) < n) throw SqlError(SQLE_NOT_ENOUGH_HOST_VARS);
  Value fitted;
  for (int i = 1; i <= n; ++i) {
    const Value& v = in[size_t(i - 1)];
    const size_t k = size_t(i - 1);
    // A fitted value lives in storage the next marker reuses: SQLite keeps its own copy.
    if (k < types.size() && types[k].Checked() && !FitValue(types[k], ValueRef::Of(v), WriteRules(), fitted))
      BindOne(st, i, fitted, false);
    else
      BindOne(st, i, v, borrow);
  }
}

Value SqliteConnection::ColumnValue(sqlite3_stmt* st, int i) {
  switch (sq::column_type(st, i)) {
    case SQLITE_INTEGER: return Value::Int(sq::column_int64(st, i));
    case SQLITE_FLOAT: return Value::Real(sq::column_double(st, i));
    case SQLITE_TEXT: {
      const unsigned char* t = sq::column_text(st, i);
      return Value::Text(std::string(reinterpret_cast<const char*>(t), size_t(sq::column_bytes(st, i))));
    }
    case SQLITE_BLOB: {
      const void* b = sq::column_blob(st, i);
      int n = sq::column_bytes(st, i);
      return Value::Blob(n ? std::string(static_cast<const char*>(b), size_t(n)) : std::string());
    }
    default: return Value();
  }
}

std::unique_ptr<Statement> SqliteConnection::Prepare(std::string_view text) {
  Lexer lx{text};
  std::string w1 = lx.Keyword();
  if (w1.empty()) {
    // Texts that do not start with a word (e.g. "? = CALL f(?)") may still be a hook's.
    for (PrepareHook hook : Hooks())
      if (auto st = hook(*this, text)) return st;
    throw SqlError(SQLE_SYNTAX_ERROR, {"end of statement", ""}, 0);
  }
  size_t afterFirst = lx.i;
  std::string w2 = lx.Keyword();
  size_t afterSecond = lx.i;
  if (w1 == "CREATE" && w2 == "VARIABLE") return PrepareVariable(*this, text, lx, true);
  if (w1 == "DROP" && w2 == "VARIABLE") return PrepareVariable(*this, text, lx, false);
  if (w1 == "SET" && w2 == "OPTION") return PrepareSetOption(*this, text, lx, false);
  if (w1 == "SET" && w2 == "TEMPORARY" && lx.Accept("OPTION")) return PrepareSetOption(*this, text, lx, true);
  if (w1 == "GRANT" || w1 == "REVOKE") {
    lx.i = afterFirst;
    return PrepareGrant(*this, text, lx, w1 == "GRANT");
  }
  if ((w1 == "CREATE" || w1 == "DROP") && w2 == "DATABASE") return PrepareDatabaseFile(*this, text, lx, w1 == "CREATE");
  if (w1 == "EXPLAIN") {
    lx.i = afterFirst;
    if (lx.Accept("QUERY") && !lx.Accept("PLAN")) Syntax(text, lx.i);
    std::string explained(lx.Rest());
    if (explained.empty()) Syntax(text, lx.i);
    return std::make_unique<ExplainStatement>(*this, std::string(text), std::move(explained));
  }
  if ((w1 == "COMMIT" || w1 == "ROLLBACK") && (w2.empty() || w2 == "WORK" || w2 == "TRANSACTION" || w2 == "TRAN")) {
    if (!lx.AtEnd()) Syntax(text, lx.i);
    bool commit = w1 == "COMMIT";
    return std::make_unique<LocalStatement>(std::string(text), [this, commit](const std::vector<Value>&) {
      if (commit) Commit();
      else Rollback();
      return ExecResult{};
    });
  }
  if (w1 == "SET" && !w2.empty()) {
    // SET v = expr for a connection variable; other SET statements go on to the dialect.
    lx.i = afterSecond;
    if (HasVariable(w2) && lx.Char('=')) {
      Lexer nameLx{text};
      nameLx.Word();
      return PrepareSetVariable(*this, text, nameLx.Word(), lx);
    }
    lx.i = afterSecond;
    if (!HasVariable(w2) && lx.Char('=')) throw SqlError(SQLE_VARIABLE_NOT_FOUND, {w2});
  }
  for (PrepareHook hook : Hooks())
    if (auto st = hook(*this, text)) return st;
  if (Utility() && !(w1 == "SELECT" || w1 == "VALUES"))
    throw SqlError(SQLE_PERMISSION_DENIED, {"only CREATE DATABASE and DROP DATABASE in the utility database"});
  bool defines = w1 == "CREATE" || w1 == "ALTER" || w1 == "DROP";
  std::vector<ColumnType> bare;
  std::string translated = Translate(text, &bare);
  return std::make_unique<SqlStatement>(*this, std::string(text), std::move(translated), defines, std::move(bare));
}

ExecResult SqliteConnection::ExecuteImmediate(std::string_view text) {
  auto st = Prepare(text);
  return st->Execute({}, nullptr);
}

// ---- SqlStatement ----

SqlStatement::SqlStatement(SqliteConnection& conn, std::string text, std::string translated, bool definesObjects,
                           std::vector<ColumnType> markerTypes)
    : conn_(conn),
      text_(std::move(text)),
      translated_(std::move(translated)),
      definesObjects_(definesObjects),
      markerTypes_(std::move(markerTypes)) {
  st_ = conn_.PrepareRaw(translated_);
  // Keep the variable-resolved text, so cursors opened later prepare what SQLite accepted.
  if (const char* s = sq::sql(st_)) translated_ = s;
}

SqlStatement::~SqlStatement() {
  plan_.reset();  // its statements go before the statement's own
  sq::finalize(st_);
}

void SqlStatement::Reprepare() {
  sqlite3_stmt* fresh = conn_.PrepareRaw(translated_);
  sq::finalize(st_);
  st_ = fresh;
}

bool SqlStatement::HasResultSet() const { return sq::column_count(st_) > 0; }

void SqlStatement::DescribeOutput(std::vector<ColumnDesc>& out, bool& mayVary) {
  mayVary = false;
  // A cursor found that the schema changed under its plan: the statement itself is prepared
  // again, so that it describes the tables as they are now.
  if (plan_ && plan_->Stale()) {
    plan_.reset();
    Reprepare();
  }
  DescribeColumns(conn_, st_, translated_, out);
}

void SqlStatement::DescribeInput(std::vector<ParamDesc>& out) { DescribeParameters(conn_, st_, text_, out); }

ExecResult SqlStatement::Execute(const std::vector<Value>& in, std::vector<Value>* out) {
  if (out) out->clear();
  bool writes = !sq::stmt_readonly(st_);
  if (definesObjects_) conn_.ImplicitCommit();
  else if (writes) conn_.BeginIfNeeded();
  sq::reset(st_);
  ExecResult r;
  // The values' text is bound where it lies in `in` (no copy per execution) and unbound before
  // this returns, on every path.
  struct Unbind {
    sqlite3_stmt* st;
    ~Unbind() { sq::clear_bindings(st); }
  } unbind{st_};
  try {
    if (markerTypes_.empty()) SqliteConnection::Bind(st_, in, true);
    else conn_.Bind(st_, in, markerTypes_, true);
    int rows = 0, rc;
    while ((rc = sq::step(st_)) == SQLITE_ROW) {
      if (out) {
        if (++rows > 1) throw SqlError(SQLE_TOO_MANY_RECORDS);
        int n = sq::column_count(st_);
        for (int i = 0; i < n; ++i) out->push_back(SqliteConnection::ColumnValue(st_, i));
      }
    }
    if (rc != SQLITE_DONE) ThrowWriteFailure(conn_, st_, rc, translated_);
    if (out && rows == 0 && sq::column_count(st_) > 0) r.warning = SQLE_NOTFOUND;
    if (writes && !definesObjects_) r.rowsAffected = sq::changes(conn_.Handle());
  } catch (...) {
    sq::reset(st_);
    throw;
  }
  sq::reset(st_);
  if (definesObjects_) {
    AfterDefinition(conn_, text_);
    conn_.ImplicitCommit();
  }
  return r;
}

std::unique_ptr<Cursor> SqlStatement::Open(const std::vector<Value>& in, const CursorOptions& options) {
  if (!HasResultSet()) throw SqlError(SQLE_OPEN_CURSOR_ERROR);
  return OpenCursor(*this, in, options);
}

}  // namespace dbl
