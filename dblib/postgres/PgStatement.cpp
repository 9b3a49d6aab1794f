// Statements on the network engine. Prepare sorts the application's text into
//   - statements the library carries out itself (connection variables, SET OPTION,
//     GRANT/REVOKE CONNECT as the server's users, CREATE/DROP DATABASE on the utility
//     database, COMMIT/ROLLBACK),
//   - queries and changes (SELECT, INSERT, UPDATE, DELETE): translated, prepared on the server
//     once (zs_<n>) and described there, then run as often as the client asks,
//   - everything else (definitions): translated and run when executed.
// A name the server knows as no column but the connection knows as a variable is sent as one
// more marker with the variable's value, as the embedded engine resolves it.
#include <cctype>
#include <functional>

#include "dblib/engine/Cursor.h"
#include "dblib/engine/LocalStatement.h"
#include "dblib/engine/Registry.h"
#include "dblib/postgres/PgEngine.h"
#include "dblib/postgres/PgProcedures.h"
#include "dblib/proc/ProcLang.h"
#include "dblib/sql/ConnectionString.h"
#include "dblib/sql/Dialect.h"

namespace dbl {
namespace {

std::string QuoteIdent(const std::string& name) {
  std::string out = "\"";
  for (char ch : name) {
    if (ch == '"') out += '"';
    out += ch;
  }
  return out + "\"";
}

std::string QuoteLiteral(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out + "'";
}

[[noreturn]] void Syntax(std::string_view text, size_t at) {
  std::string near(text.substr(std::min(at, text.size()), 20));
  if (auto nl = near.find_first_of("\r\n"); nl != std::string::npos) near.erase(nl);
  throw SqlError(SQLE_SYNTAX_ERROR, {near.empty() ? "end of statement" : near, ""}, int(at));
}

// The tokens of a statement with a cursor, for the statements parsed here.
struct Words {
  std::string_view text;
  std::vector<Token> t;
  size_t i = 0;
  explicit Words(std::string_view s) : text(s), t(Tokenize(s)) {
    while (!t.empty() && t.back().kind == Token::Semicolon) t.pop_back();
  }
  bool AtEnd() const { return i >= t.size(); }
  size_t Pos() const { return i < t.size() ? t[i].pos : text.size(); }
  bool Accept(std::string_view kw) {
    if (i < t.size() && t[i].Is(kw)) {
      ++i;
      return true;
    }
    return false;
  }
  bool Char(Token::Kind k) {
    if (i < t.size() && t[i].kind == k) {
      ++i;
      return true;
    }
    return false;
  }
  std::string Ident() {
    if (i < t.size() && t[i].IsIdent()) return t[i++].Ident();
    return {};
  }
  // 'string' or a word.
  std::optional<std::string> StringOrWord() {
    if (i >= t.size()) return std::nullopt;
    if (t[i].kind == Token::String) {
      std::string_view q = t[i++].text;
      std::string out;
      for (size_t k = 1; k + 1 < q.size(); ++k) {
        out += q[k];
        if (q[k] == '\'' && k + 2 < q.size() && q[k + 1] == '\'') ++k;
      }
      return out;
    }
    std::string w = Ident();
    if (w.empty()) return std::nullopt;
    return w;
  }
  std::string Rest() const {
    std::string r(text.substr(Pos()));
    while (!r.empty() && (r.back() == ';' || std::isspace(static_cast<unsigned char>(r.back())))) r.pop_back();
    return r;
  }
};

// Keeps a variable's value in the kind its declared type asks for.
Value Coerce(const std::string& type, Value v) {
  std::string t = UpperName(type);
  if (v.IsNull()) return v;
  if (t.find("BINARY") != std::string::npos || t.find("BLOB") != std::string::npos || t == "IMAGE")
    return v.kind == Value::Kind::Blob ? v : Value::Blob(v.ToText());
  if ((t.find("CHAR") != std::string::npos || t.find("TEXT") != std::string::npos) && v.kind != Value::Kind::Text)
    return Value::Text(v.ToText());
  return v;
}

// One expression evaluated by the server.
Value Evaluate(PgConnection& conn, const std::string& expr, const std::vector<Value>& in) {
  // A lone marker is its value (binary pieces of a long value keep every byte).
  std::vector<Token> t = Tokenize(expr);
  if (t.size() == 1 && t[0].kind == Token::Marker) {
    if (in.empty()) throw SqlError(SQLE_NOT_ENOUGH_HOST_VARS);
    return in[0];
  }
  int markers = 0;
  std::string sql = "SELECT " + conn.Translate(expr, {}, &markers);
  std::vector<Value> vals(in.begin(), in.begin() + std::min<long>(long(in.size()), markers));
  vals.resize(size_t(markers));
  pg::Result r = conn.RunOne(sql, vals, false);
  if (PQntuples(r.get()) == 0 || PQnfields(r.get()) == 0 || PQgetisnull(r.get(), 0, 0)) return Value();
  std::string scratch;
  return PgValue(PQgetvalue(r.get(), 0, 0), PQgetlength(r.get(), 0, 0), PQftype(r.get(), 0), scratch).ToValue();
}

std::unique_ptr<Statement> PrepareSetVariable(PgConnection& conn, std::string_view text, const std::string& name, Words& w) {
  std::string expr = w.Rest();
  if (expr.empty()) Syntax(text, w.Pos());
  // SET v = v || piece appends without a round trip through text (binary pieces keep every byte).
  std::optional<std::string> appended;
  {
    Words e(expr);
    if (e.Ident() == name || SameIdent(e.t.empty() ? "" : e.t[0].Ident(), name)) {
      if (e.i < e.t.size() && e.t[e.i].kind == Token::Op && e.t[e.i].text == "||") {
        ++e.i;
        appended = e.Rest();
      }
    }
  }
  return std::make_unique<LocalStatement>(std::string(text), [&conn, name, expr, appended](const std::vector<Value>& in) {
    Value current;
    if (!conn.GetVariable(name, current)) throw SqlError(SQLE_VARIABLE_NOT_FOUND, {name});
    std::string type = conn.VariableType(name);
    if (appended) {
      Value piece = Evaluate(conn, *appended, in);
      if (current.IsNull()) conn.SetVariable(name, Coerce(type, piece));
      else if (piece.IsNull()) conn.SetVariable(name, Value());
      else if (current.kind == Value::Kind::Blob || piece.kind == Value::Kind::Blob)
        conn.SetVariable(name, Coerce(type, Value::Blob(current.ToText() + piece.ToText())));
      else conn.SetVariable(name, Coerce(type, Value::Text(current.ToText() + piece.ToText())));
    } else {
      conn.SetVariable(name, Coerce(type, Evaluate(conn, expr, in)));
    }
    return ExecResult{};
  });
}

std::unique_ptr<Statement> PrepareSetOption(PgConnection& conn, std::string_view text, Words& w, bool temporary) {
  std::string first = w.Ident();
  if (first.empty()) Syntax(text, w.Pos());
  std::string user, name = first;
  if (w.Char(Token::Dot)) {
    user = first;
    name = w.Ident();
    if (name.empty()) Syntax(text, w.Pos());
  }
  if (!(w.i < w.t.size() && w.t[w.i].kind == Token::Op && w.t[w.i].text == "=")) Syntax(text, w.Pos());
  ++w.i;
  std::string value;
  if (w.i < w.t.size() && w.t[w.i].kind == Token::String) value = *w.StringOrWord();
  else {
    value = w.Rest();
    w.i = w.t.size();
  }
  if (!w.AtEnd()) Syntax(text, w.Pos());
  return std::make_unique<LocalStatement>(std::string(text), [&conn, user, name, value, temporary](const std::vector<Value>&) {
    conn.SetOption(user, name, value, temporary);
    return ExecResult{};
  });
}

// GRANT CONNECT TO u [IDENTIFIED BY p]: the server's login role; REVOKE CONNECT FROM u drops it.
std::unique_ptr<Statement> PrepareGrant(PgConnection& conn, std::string_view text, Words& w, bool grant) {
  if (!w.Accept("connect")) return nullptr;
  if (!w.Accept(grant ? "to" : "from")) Syntax(text, w.Pos());
  std::vector<std::string> names;
  do {
    std::string n = w.Ident();
    if (n.empty()) Syntax(text, w.Pos());
    names.push_back(n);
  } while (w.Char(Token::Comma));
  std::vector<std::optional<std::string>> passwords(names.size());
  if (grant && w.Accept("identified")) {
    if (!w.Accept("by")) Syntax(text, w.Pos());
    size_t k = 0;
    do {
      auto p = w.StringOrWord();
      if (!p || k >= names.size()) Syntax(text, w.Pos());
      passwords[k++] = *p;
    } while (w.Char(Token::Comma));
  }
  if (!w.AtEnd()) Syntax(text, w.Pos());
  return std::make_unique<LocalStatement>(std::string(text), [&conn, names, passwords, grant](const std::vector<Value>&) {
    conn.ImplicitCommit();
    for (size_t k = 0; k < names.size(); ++k) {
      std::string role = QuoteIdent(names[k]);
      // Unquoted names are the server's lower-case ones, as elsewhere in its dialect.
      bool plain = true;
      for (char c : names[k]) plain = plain && (std::isalnum(static_cast<unsigned char>(c)) || c == '_');
      if (plain) {
        std::string lower = names[k];
        for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
        role = QuoteIdent(lower);
      }
      std::string pw = passwords[k] ? " PASSWORD " + QuoteLiteral(*passwords[k]) : std::string();
      if (grant) {
        std::vector<Value> p{Value::Text(names[k])};
        pg::Result exists = conn.RunOne("SELECT 1 FROM pg_roles WHERE rolname = lower($1) OR rolname = $1", p, false);
        conn.RunOne((PQntuples(exists.get()) ? "ALTER ROLE " : "CREATE ROLE ") + role + " LOGIN" + pw, {}, false);
        if (!PQntuples(exists.get())) conn.RunOne("GRANT USAGE ON SCHEMA public TO " + role, {}, false);
      } else {
        conn.RunOne("DROP ROLE " + role, {}, false);
      }
    }
    return ExecResult{};
  });
}

// CREATE DATABASE 'name' / DROP DATABASE 'name' on the utility database. A path names the
// database by its file prefix ('/data/sales.db' is the database sales).
std::unique_ptr<Statement> PrepareDatabase(PgConnection& conn, std::string_view text, Words& w, bool create) {
  auto file = w.StringOrWord();
  if (!file) Syntax(text, w.Pos());
  std::string name = FilePrefix(*file);
  return std::make_unique<LocalStatement>(std::string(text), [&conn, name, create](const std::vector<Value>&) {
    if (!conn.Utility()) throw SqlError(SQLE_PERMISSION_DENIED, {"only in the utility database"});
    if (name.empty()) throw SqlError(SQLE_NO_DATABASE_FILE);
    conn.ImplicitCommit();
    if (create) {
      conn.RunOne("CREATE DATABASE " + QuoteIdent(name), {}, false);
      pg::Conn fresh = conn.ConnectOther(name);
      InstallCatalog(fresh.get());
    } else {
      conn.RunOne("DROP DATABASE " + QuoteIdent(name), {}, false);
    }
    return ExecResult{};
  });
}

// ---- queries, changes and definitions ----

class PgSqlStatement : public Statement {
 public:
  PgSqlStatement(PgConnection& conn, std::string text) : conn_(conn), text_(std::move(text)) {
    for (int attempt = 0;; ++attempt) {
      translated_ = conn_.Translate(text_, variables_, &markers_);
      kind_ = Classify(translated_);
      prepared_ = kind_ == StatementKind::Select || kind_ == StatementKind::Insert || kind_ == StatementKind::Update ||
                  kind_ == StatementKind::Delete;
      if (!prepared_) break;
      std::string name = conn_.NewName("zs_");
      try {
        std::vector<pg::Result> r = conn_.Run(
            {{translated_, name, nullptr, PgCommand::Prepare}, {{}, name, nullptr, PgCommand::Describe}}, false);
        name_ = name;
        for (int i = 0; i < PQnparams(r[1].get()); ++i) paramTypes_.push_back(PQparamtype(r[1].get(), i));
        if (PQnfields(r[1].get()) > 0) conn_.DescribeColumns(r[1].get(), columns_);
        break;
      } catch (const SqlError& e) {
        // The server runs the functions of a statement itself: ours are the library's.
        if (e.Code() == SQLE_UNKNOWN_FUNC && !e.Args().empty() && IsStoredFunction(conn_, e.Args()[0]))
          throw SqlError(SQLE_NOT_IMPLEMENTED,
                         {"stored function " + e.Args()[0] + " inside a statement on a network server (CALL it instead)"});
        // A column the server does not know may be a connection variable.
        if (attempt < 16 && e.Code() == SQLE_COLUMN_NOT_FOUND && !e.Args().empty() && conn_.HasVariable(e.Args()[0])) {
          bool known = false;
          for (auto& v : variables_) known = known || SameIdent(v, e.Args()[0]);
          if (!known) {
            variables_.push_back(e.Args()[0]);
            continue;
          }
        }
        throw;
      }
    }
  }

  ~PgSqlStatement() override {
    if (!name_.empty()) conn_.DeallocateLater(name_);
  }

  const std::string& Text() const override { return text_; }
  bool HasResultSet() const override { return !columns_.empty(); }

  void DescribeOutput(std::vector<ColumnDesc>& out, bool& mayVary) override {
    mayVary = false;
    out = columns_;
  }

  void DescribeInput(std::vector<ParamDesc>& out) override {
    out.clear();
    std::vector<std::string> names = MarkerNames(text_);
    for (size_t i = 0; i < names.size(); ++i) {
      ParamDesc p;
      p.name = names[i];
      if (i < paramTypes_.size() && paramTypes_[i] != 705 && paramTypes_[i] != 0) {
        TypeInfo t = PgTypeInfo(paramTypes_[i], -1, {});
        p.sqltype = t.sqltype;
        p.sqllen = t.sqllen;
      }
      out.push_back(p);
    }
  }

  ExecResult Execute(const std::vector<Value>& in, std::vector<Value>* out) override {
    if (out) out->clear();
    ExecResult res;
    bool defines = DefinesObjects(kind_);
    if (!prepared_) {
      if (defines) {
        conn_.ImplicitCommit();
        EnsureTypes();
      }
      pg::Result r = conn_.RunOne(translated_, Values(in), !defines);
      if (defines) {
        conn_.ForgetDescriptions();
        conn_.ImplicitCommit();
      }
      return res;
    }
    std::vector<Value> vals = Values(in);
    std::vector<pg::Result> r =
        conn_.Run({{{}, name_, &vals, PgCommand::Execute}}, kind_ != StatementKind::Select);
    PGresult* result = r.front().get();
    if (kind_ != StatementKind::Select) res.rowsAffected = std::strtoll(PQcmdTuples(result), nullptr, 10);
    if (out && PQnfields(result) > 0) {
      int rows = PQntuples(result);
      if (rows > 1) throw SqlError(SQLE_TOO_MANY_RECORDS);
      if (rows == 0) {
        res.warning = SQLE_NOTFOUND;
      } else {
        std::string scratch;
        for (int i = 0; i < PQnfields(result); ++i) {
          if (PQgetisnull(result, 0, i)) out->push_back(Value());
          else out->push_back(PgValue(PQgetvalue(result, 0, i), PQgetlength(result, 0, i), PQftype(result, i), scratch).ToValue());
        }
      }
    }
    return res;
  }

  std::unique_ptr<Cursor> Open(const std::vector<Value>& in, const CursorOptions& options) override {
    if (!HasResultSet()) throw SqlError(SQLE_OPEN_CURSOR_ERROR);
    return OpenPgCursor(conn_, translated_, columns_, Values(in), options);
  }

 private:
  // The client's values for the statement's markers, then the variables' values.
  std::vector<Value> Values(const std::vector<Value>& in) {
    if (int(in.size()) < markers_) throw SqlError(SQLE_NOT_ENOUGH_HOST_VARS);
    std::vector<Value> vals(in.begin(), in.begin() + markers_);
    for (const std::string& v : variables_) {
      Value x;
      if (!conn_.GetVariable(v, x)) throw SqlError(SQLE_VARIABLE_NOT_FOUND, {v});
      vals.push_back(std::move(x));
    }
    return vals;
  }

  // Binary types of a given length are domains of our schema, made on first use.
  void EnsureTypes() {
    for (const char* kind : {"binary", "varbinary"}) {
      std::string needle = std::string("zyl.\"") + kind + "(";
      for (size_t at = translated_.find(needle); at != std::string::npos; at = translated_.find(needle, at + 1)) {
        size_t close = translated_.find(")\"", at);
        if (close == std::string::npos) break;
        std::string n = translated_.substr(at + needle.size(), close - at - needle.size());
        if (n.empty() || n.size() > 5 || n.find_first_not_of("0123456789") != std::string::npos) continue;
        std::string type = std::string(kind) + "(" + n + ")";
        conn_.RunOne("DO $$ BEGIN CREATE DOMAIN zyl.\"" + type + "\" AS bytea CHECK (octet_length(VALUE) <= " + n +
                         "); EXCEPTION WHEN duplicate_object THEN NULL; END $$",
                     {}, false);
      }
    }
  }

  PgConnection& conn_;
  std::string text_;        // as the application wrote it
  std::string translated_;  // what the server runs
  StatementKind kind_ = StatementKind::Other;
  bool prepared_ = false;
  std::string name_;        // the server's prepared statement, empty when not prepared
  int markers_ = 0;         // the client's markers
  std::vector<std::string> variables_;  // connection variables sent after them
  std::vector<unsigned> paramTypes_;
  std::vector<ColumnDesc> columns_;
};

}  // namespace

std::unique_ptr<Statement> PreparePgStatement(PgConnection& conn, std::string_view text) {
  Words w(text);
  if (w.t.empty()) throw SqlError(SQLE_SYNTAX_ERROR, {"end of statement", ""}, 0);
  std::string w1 = w.t[0].kind == Token::Word ? UpperName(std::string(w.t[0].text)) : std::string();
  std::string w2 = w.t.size() > 1 && w.t[1].IsIdent() ? UpperName(w.t[1].Ident()) : std::string();
  w.i = 2;
  if (w1 == "CREATE" && w2 == "VARIABLE") {
    std::string name = w.Ident();
    std::string type = w.Rest();
    if (name.empty() || type.empty()) Syntax(text, w.Pos());
    return std::make_unique<LocalStatement>(std::string(text), [&conn, name, type](const std::vector<Value>&) {
      conn.CreateVariable(name, type);
      return ExecResult{};
    });
  }
  if (w1 == "DROP" && w2 == "VARIABLE") {
    std::string name = w.Ident();
    if (name.empty() || !w.AtEnd()) Syntax(text, w.Pos());
    return std::make_unique<LocalStatement>(std::string(text), [&conn, name](const std::vector<Value>&) {
      conn.DropVariable(name);
      return ExecResult{};
    });
  }
  if (w1 == "SET" && w2 == "OPTION") return PrepareSetOption(conn, text, w, false);
  if (w1 == "SET" && w2 == "TEMPORARY" && w.Accept("option")) return PrepareSetOption(conn, text, w, true);
  if (w1 == "SET" && !w2.empty() && w.i < w.t.size() && w.t[w.i].kind == Token::Op && w.t[w.i].text == "=") {
    std::string name = w.t[1].Ident();
    if (!conn.HasVariable(name)) throw SqlError(SQLE_VARIABLE_NOT_FOUND, {name});
    ++w.i;
    return PrepareSetVariable(conn, text, name, w);
  }
  if (w1 == "GRANT" || w1 == "REVOKE") {
    w.i = 1;
    if (auto st = PrepareGrant(conn, text, w, w1 == "GRANT")) return st;
  }
  if ((w1 == "CREATE" || w1 == "DROP") && w2 == "DATABASE") return PrepareDatabase(conn, text, w, w1 == "CREATE");
  if ((w1 == "COMMIT" || w1 == "ROLLBACK") && (w2.empty() || w2 == "WORK" || w2 == "TRANSACTION" || w2 == "TRAN")) {
    if (w.t.size() > 2) Syntax(text, w.t[2].pos);
    bool commit = w1 == "COMMIT";
    return std::make_unique<LocalStatement>(std::string(text), [&conn, commit](const std::vector<Value>&) {
      if (commit) conn.Commit();
      else conn.Rollback();
      return ExecResult{};
    });
  }
  if (w1 == "ALTER" && w2 == "DATABASE" && w.Accept("upgrade")) {
    if (!w.AtEnd()) Syntax(text, w.Pos());
    // What the library needs in this database, installed or brought up to date.
    return std::make_unique<LocalStatement>(std::string(text), [&conn](const std::vector<Value>&) {
      if (conn.Utility()) throw SqlError(SQLE_PERMISSION_DENIED, {"not in the utility database"});
      conn.ImplicitCommit();
      InstallCatalog(conn.Raw(), true);
      return ExecResult{};
    });
  }
  if (auto st = PreparePgProcedureStatement(conn, text)) return st;
  if (conn.Utility() && !(w1 == "SELECT" || w1 == "VALUES"))
    throw SqlError(SQLE_PERMISSION_DENIED, {"only CREATE DATABASE and DROP DATABASE in the utility database"});
  return std::make_unique<PgSqlStatement>(conn, std::string(text));
}

}  // namespace dbl
