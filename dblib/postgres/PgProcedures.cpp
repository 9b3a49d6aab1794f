// Stored procedures on the network engine. The library's own interpreter runs them over the
// connection (dblib/proc/ProcRun.h): the server keeps nothing but the definitions, in
// zyl.procedure and zyl.procparm (PgCatalog.cpp; sys.sysprocedure and sys.sysprocparm show them),
// and every statement of a body is one more statement of the connection, in its transaction.
// So the language, its error codes and its EXCEPTION handling are those of the embedded engine.
//
// What this design cannot do: the server runs a statement's functions itself, so a stored
// function inside an SQL statement is refused (-134 naming the function); CALL it instead
// (? = CALL f(...), or CALL inside a procedure).
#include <cctype>
#include <cstdlib>

#include "dblib/postgres/PgEngine.h"
#include "dblib/postgres/PgProcedures.h"
#include "dblib/proc/ProcCall.h"
#include "dblib/proc/ProcRun.h"
#include "dblib/sql/Dialect.h"
#include "dblib/sql/Identifiers.h"

namespace dbl {
namespace {

const char* const kFindProcedure =
    "SELECT p.proc_defn FROM zyl.procedure p LEFT JOIN pg_roles r ON r.oid = p.creator"
    " WHERE lower(p.proc_name) = lower($1) AND ($2 = '' OR r.rolname = $2 OR r.rolname = lower($2))"
    " ORDER BY coalesce(r.rolname = current_user, false) DESC, coalesce(r.rolname = 'dba', false) DESC, p.proc_id"
    " LIMIT 1";

// The interpreter's host: a body's SQL on the caller's connection.
class PgHost : public ProcResultHost {
 public:
  explicit PgHost(PgConnection& conn) : conn_(conn) {}

  ProcRows Query(const std::string& sql, const std::vector<Value>& params, size_t maxRows) override {
    if (std::optional<double> ms = AlertWaitRequest(sql, params))
      return {{"zyl_alert_wait"}, {{Value::Real(WaitForAlert(conn_, *ms))}}};
    pg::Result r = Run(sql, params, false);
    ProcRows out;
    const PGresult* res = r.get();
    for (int c = 0; c < PQnfields(res); ++c) out.columns.push_back(PQfname(res, c));
    size_t rows = std::min(size_t(PQntuples(res)), maxRows);
    for (size_t i = 0; i < rows; ++i) out.rows.push_back(Row(res, int(i)));
    return out;
  }

  int64_t Execute(const std::string& sql, const std::vector<Value>& params) override {
    StatementKind kind = Classify(sql);
    if (kind == StatementKind::Insert || kind == StatementKind::Update || kind == StatementKind::Delete) {
      pg::Result r = Run(sql, params, true);
      return std::strtoll(PQcmdTuples(r.get()), nullptr, 10);
    }
    // COMMIT, ROLLBACK and definitions take the statement layer's way (implicit commits).
    return PreparePgStatement(conn_, sql)->Execute(params, nullptr).rowsAffected;
  }

  void ResultSet(const std::string& sql, const std::vector<Value>& params, const std::vector<ProcColumn>& declared) override {
    pg::Result r = Run(sql, params, false);
    std::vector<ColumnDesc> cols;
    conn_.DescribeColumns(r.get(), cols);
    // A RESULT clause names and types the columns when it matches the select list.
    if (declared.size() == cols.size())
      for (size_t i = 0; i < cols.size(); ++i) cols[i] = DescribeProcColumn(declared[i].name, declared[i].type);
    std::vector<std::vector<Value>> rows;
    for (int i = 0; i < PQntuples(r.get()); ++i) rows.push_back(Row(r.get(), i));
    results.push_back(MakeRowsCursor(std::move(cols), std::move(rows)));
  }

  void Message(int type, std::string_view text) override {
    if (MessageSink* sink = conn_.Sink()) sink->Message(type, 0, text);
  }
  bool Cancelled() override { return conn_.Cancelled(); }
  std::shared_ptr<const ProcDef> FindProcedure(std::string_view owner, std::string_view name) override {
    return LoadPgProcedure(conn_, owner, name);
  }

 private:
  // A name the server knows as no column may be a connection variable (sent as one more
  // marker); otherwise the interpreter hears of it and binds the procedure's variable.
  pg::Result Run(const std::string& sql, const std::vector<Value>& params, bool needTx) {
    std::vector<std::string> variables;
    bool nullsAsText = false;
    for (;;) {
      int markers = 0;
      std::string translated = conn_.Translate(sql, variables, &markers);
      if (markers != int(params.size())) throw SqlError(SQLE_NOT_ENOUGH_HOST_VARS);
      std::vector<Value> values = params;
      for (const std::string& v : variables) {
        Value x;
        conn_.GetVariable(v, x);
        values.push_back(std::move(x));
      }
      PgCommand cmd = PgCommand::Sql(translated, &values);
      cmd.typed = true;  // a variable's value keeps its kind, whatever the expression around it
      cmd.nullsAsText = nullsAsText;
      try {
        std::vector<pg::Result> r = conn_.Run({cmd}, needTx);
        return std::move(r.front());
      } catch (const SqlError& e) {
        // A NULL variable where nothing gives it a type (IF v IS NULL): the server needs one.
        if (!nullsAsText && e.Code() == SQLE_CONVERSION_ERROR && !e.Args().empty() &&
            e.Args()[0].rfind("could not determine data type", 0) == 0) {
          nullsAsText = true;
          continue;
        }
        if (e.Code() != SQLE_COLUMN_NOT_FOUND || e.Args().empty() || !conn_.HasVariable(e.Args()[0]) ||
            variables.size() >= 16)
          throw;
        for (const std::string& v : variables)
          if (SameIdent(v, e.Args()[0])) throw;
        variables.push_back(e.Args()[0]);
      }
    }
  }

  static std::vector<Value> Row(const PGresult* r, int row) {
    std::vector<Value> out;
    std::string scratch;
    for (int c = 0; c < PQnfields(r); ++c) {
      if (PQgetisnull(r, row, c)) out.push_back(Value());
      else out.push_back(PgValue(PQgetvalue(r, row, c), PQgetlength(r, row, c), PQftype(r, c), scratch).ToValue());
    }
    return out;
  }

  PgConnection& conn_;
};

class PgCallSite : public ProcCallSite {
 public:
  explicit PgCallSite(PgConnection& conn) : conn_(conn) {}
  std::unique_ptr<ProcResultHost> NewHost() override { return std::make_unique<PgHost>(conn_); }
  bool InTransaction() const override { return conn_.InTransaction(); }
  void Rollback() override { conn_.Rollback(); }
  bool HasVariable(const std::string& name) const override { return conn_.HasVariable(name); }
  void SetVariable(const std::string& name, Value v) override { conn_.SetVariable(name, std::move(v)); }

 private:
  PgConnection& conn_;
};

// CREATE / ALTER / DROP PROCEDURE|FUNCTION: the definition as written, and its parameters as the
// catalog lists them, replaced in one transaction.
class PgProcDdlStatement : public Statement {
 public:
  PgProcDdlStatement(PgConnection& conn, std::string text) : conn_(conn), text_(std::move(text)), def_(ParseProcDdl(text_)) {}
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
    if (conn_.Utility()) throw SqlError(SQLE_PERMISSION_DENIED, {"procedures"});
    // Definitions commit the work before and after themselves, as other definitions do.
    conn_.ImplicitCommit();
    std::vector<Value> who{Value::Text(def_.owner)};
    pg::Result owner = conn_.RunOne(def_.owner.empty() ? "SELECT oid::bigint FROM pg_roles WHERE rolname = current_user"
                                                        : "SELECT oid::bigint FROM pg_roles WHERE rolname = $1 OR rolname = lower($1)"
                                                          " ORDER BY rolname = $1 DESC LIMIT 1",
                                    def_.owner.empty() ? std::vector<Value>{} : who, false);
    if (PQntuples(owner.get()) == 0) throw SqlError(SQLE_UNKNOWN_USERID, {def_.owner});
    const Value creator = Value::Int(std::strtoll(PQgetvalue(owner.get(), 0, 0), nullptr, 10));
    const std::vector<Value> key{Value::Text(def_.name), creator};
    const char* where = " WHERE lower(proc_name) = lower($1) AND creator = $2";
    bool exists = PQntuples(conn_.RunOne(std::string("SELECT 1 FROM zyl.procedure") + where, key, false).get()) > 0;
    if (def_.verb == ProcDef::Verb::Drop && !exists) throw SqlError(SQLE_PROCEDURE_NOT_FOUND, {def_.name});
    if (def_.verb == ProcDef::Verb::Create && exists && !def_.orReplace) throw SqlError(SQLE_NAME_NOT_UNIQUE, {def_.name});
    if (def_.verb == ProcDef::Verb::Alter && !exists) throw SqlError(SQLE_PROCEDURE_NOT_FOUND, {def_.name});

    // Parameter rows go with their procedure (ON DELETE CASCADE).
    std::vector<PgCommand> cmds{PgCommand::Sql(std::string("DELETE FROM zyl.procedure") + where, &key)};
    std::vector<std::vector<Value>> values;
    std::vector<ProcParmRow> parms = def_.verb == ProcDef::Verb::Drop ? std::vector<ProcParmRow>{} : def_.CatalogRows();
    values.reserve(parms.size() + 1);
    if (def_.verb != ProcDef::Verb::Drop) {
      values.push_back({creator, Value::Text(def_.name), Value::Text(StoredProcText(def_, text_))});
      cmds.push_back(PgCommand::Sql("INSERT INTO zyl.procedure(creator, proc_name, proc_defn) VALUES ($1, $2, $3)", &values.back()));
    }
    for (const ProcParmRow& r : parms) {
      TypeInfo t = MapDeclaredType(r.type);
      if (!t.Known()) t = LongVarcharType();
      int i = r.parmType == 0 ? def_.FindParam(r.name) : -1;
      std::string dflt = i >= 0 ? def_.params[size_t(i)].defaultExpr : std::string();
      values.push_back({Value::Text(def_.name), creator, Value::Int(r.parmId), Value::Int(r.parmType),
                        Value::Text(r.modeIn ? "Y" : "N"), Value::Text(r.modeOut ? "Y" : "N"), Value::Int(t.domainId),
                        Value::Int(t.width), Value::Int(t.scale), Value::Text(r.name),
                        dflt.empty() ? Value() : Value::Text(dflt), Value::Text(r.type)});
      cmds.push_back(PgCommand::Sql(
          "INSERT INTO zyl.procparm(proc_id, parm_id, parm_type, parm_mode_in, parm_mode_out, domain_id, width, scale,"
          " parm_name, \"default\", type_text) VALUES ((SELECT proc_id FROM zyl.procedure WHERE lower(proc_name) ="
          " lower($1) AND creator = $2), $3, $4, $5, $6, $7, $8, $9, $10, $11, $12)",
          &values.back()));
    }
    conn_.Run(cmds, true);
    conn_.ImplicitCommit();
    return {};
  }

 private:
  PgConnection& conn_;
  std::string text_;
  ProcDef def_;
};

}  // namespace

std::shared_ptr<const ProcDef> LoadPgProcedure(PgConnection& conn, std::string_view owner, std::string_view name) {
  std::vector<Value> p{Value::Text(std::string(name)), Value::Text(std::string(owner))};
  pg::Result r = conn.RunOne(kFindProcedure, p, false);
  if (PQntuples(r.get()) == 0 || PQgetisnull(r.get(), 0, 0)) return nullptr;
  return ParsedProcDefinition(PQgetvalue(r.get(), 0, 0));
}

std::unique_ptr<Statement> PreparePgProcedureStatement(PgConnection& conn, std::string_view text) {
  if (IsProcDdl(text)) return std::make_unique<PgProcDdlStatement>(conn, std::string(text));
  if (!IsCallText(text)) return nullptr;
  if (conn.Utility()) throw SqlError(SQLE_PERMISSION_DENIED, {"procedures"});
  ProcCallText call = ParseCallText(text);
  std::shared_ptr<const ProcDef> def = LoadPgProcedure(conn, call.owner, call.name);
  if (!def) throw SqlError(SQLE_PROCEDURE_NOT_FOUND, {call.name});
  return MakeCallStatement(std::make_unique<PgCallSite>(conn), std::string(text), call, std::move(def));
}

bool IsStoredFunction(PgConnection& conn, const std::string& name) {
  std::shared_ptr<const ProcDef> def;
  try {
    def = LoadPgProcedure(conn, {}, name);
  } catch (const SqlError&) {
    return false;
  }
  return def && def->isFunction;
}

}  // namespace dbl
