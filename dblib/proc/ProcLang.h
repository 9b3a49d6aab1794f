// The procedure language: the parsed form of CREATE PROCEDURE / CREATE FUNCTION and the
// parser that produces it. SQLite has no stored procedures, so the library keeps the
// definition text in its catalog and runs the body itself (dblib/proc/ProcRun.h). Parsing happens at
// CREATE time and again when a stored definition is first called; both go through
// ParseProcDdl, so a body that was accepted once is accepted again.
//
// What the parser keeps as text: every expression, condition and embedded SQL statement. They
// are evaluated by the engine (SQLite) with the procedure's variables bound as parameters; the
// parser only finds where each one starts and ends. Everything it does not know as a statement
// of the language is refused here, at CREATE time, with a syntax error (-131) that names the
// statement, so nothing unsupported can fail later at run time.
//
// Accepted statements: BEGIN [ATOMIC] ... [EXCEPTION WHEN ... THEN ...] END, DECLARE (variable,
// EXCEPTION FOR SQLSTATE), SET, IF/ELSEIF/ELSE/END IF, CASE statements (simple and searched),
// WHILE ... LOOP / LOOP ... END LOOP with labels, LEAVE, ITERATE, RETURN, CALL (positional and
// named arguments), SELECT ... INTO, SELECT (result set), INSERT/UPDATE/DELETE, COMMIT,
// ROLLBACK, CREATE/DROP TABLE/VIEW/INDEX, MESSAGE, WAITFOR DELAY, SIGNAL, RESIGNAL, RAISERROR,
// FOR name AS cursor CURSOR FOR select DO ... END FOR.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace dbl {

enum class ParmMode { In, Out, InOut };

struct ProcParam {
  std::string name;
  ParmMode mode = ParmMode::InOut;  // a parameter without a mode is INOUT
  std::string type;                 // declared type text, e.g. "varchar(30)"
  std::string defaultExpr;          // empty: no default
  bool hasDefault = false;
};

struct ProcColumn {  // RESULT clause entry
  std::string name;
  std::string type;
};

struct ProcStmt;
using ProcBody = std::vector<std::unique_ptr<ProcStmt>>;

struct ProcHandler {              // EXCEPTION WHEN a, b THEN ... / WHEN OTHERS THEN ...
  std::vector<std::string> names;  // exception names; empty = OTHERS
  ProcBody body;
};

struct ProcBranch {  // IF/ELSEIF arm, or CASE WHEN arm
  std::string cond;  // condition text (searched) or value text (simple CASE)
  ProcBody body;
};

struct ProcArg {     // CALL argument
  std::string name;  // empty: positional
  std::string expr;
};

struct ProcStmt {
  enum class Kind {
    Block,        // body, handlers, label
    DeclareVar,   // names (one or more), type, expr = default (may be empty)
    DeclareExc,   // name, text = SQLSTATE
    Set,          // name = expr
    If,           // branches, elseBody
    Case,         // expr (empty: searched), branches, elseBody
    While,        // expr = condition (empty: LOOP), body, label
    For,          // name = loop name, text = SELECT, body, label
    Leave,        // label
    Iterate,      // label
    Return,       // expr (may be empty)
    Call,         // name = procedure (owner.name as written), args, targets[0] = v for v = CALL
    SelectInto,   // text = SELECT without INTO, targets
    Query,        // text = SELECT returning a result set to the caller
    Sql,          // text = INSERT/UPDATE/DELETE/COMMIT/ROLLBACK/DDL passed to the engine
    Message,      // exprs, type (0 INFO, 1 WARNING, 2 ACTION, 3 STATUS), toClient
    WaitFor,      // text = delay literal as written ('hh:mm:ss[.sss]')
    Signal,       // name
    Resignal,     // name (may be empty)
    RaisError,    // expr = number, text = format literal (may be empty), exprs = args
  };
  Kind kind;
  int offset = 0;  // character offset of the statement in the definition text
  std::string label;
  std::string name;
  std::string type;
  std::string expr;
  std::string text;
  std::vector<std::string> names;
  std::vector<std::string> exprs;
  std::vector<std::string> targets;
  std::vector<ProcArg> args;
  std::vector<ProcBranch> branches;
  ProcBody body;
  ProcBody elseBody;
  bool hasElse = false;
  std::vector<ProcHandler> handlers;
  int msgType = 0;
  bool toClient = false;
};

// One catalog row of sys.sysprocparm, in parm_id order (1-based): for a function the return
// value comes first and carries the function's name; then the parameters; then RESULT columns.
struct ProcParmRow {
  int parmId = 0;
  int parmType = 0;  // 0 normal parameter, 1 result column, 4 return value
  bool modeIn = false;
  bool modeOut = false;
  std::string name;
  std::string type;  // declared type text; the catalog maps it to domain_id/width/scale
};

struct ProcSqlCache;  // dblib/proc/ProcRun.cpp: embedded SQL with the variables it names made markers

struct ProcDef {
  enum class Verb { Create, Alter, Drop };
  Verb verb = Verb::Create;
  bool isFunction = false;
  bool orReplace = false;
  std::string owner;     // empty when not written
  std::string name;
  std::vector<ProcParam> params;
  std::vector<ProcColumn> result;  // RESULT clause (procedures)
  std::string returns;             // RETURNS type (functions)
  std::unique_ptr<ProcStmt> body;  // the outer BEGIN ... END (Create/Alter)
  std::string text;                // the statement as written (sys.sysprocedure.proc_defn)
  bool mayReturnResultSets = false;  // a SELECT without INTO (or a CALL) somewhere in the body
  // Filled while the procedure runs (guarded inside); shared by every call of this definition.
  std::shared_ptr<ProcSqlCache> sqlCache;

  std::vector<ProcParmRow> CatalogRows() const;
  // Index of the parameter named (case-insensitive), or -1.
  int FindParam(std::string_view name) const;
};

std::shared_ptr<ProcSqlCache> MakeProcSqlCache();

// Parses CREATE [OR REPLACE] PROCEDURE|FUNCTION, ALTER PROCEDURE|FUNCTION, DROP
// PROCEDURE|FUNCTION. Throws SqlError(-131) naming what was wrong or unsupported, with the
// character offset of the offending token.
ProcDef ParseProcDdl(std::string_view text);

// True when text starts with one of the statements ParseProcDdl handles.
bool IsProcDdl(std::string_view text);

// Parses CALL [owner.]p(args), "? = CALL f(args)" and ":r = CALL f(args)" as the client sends
// them. target: the text before "=" ("?" or ":r"), empty for a plain CALL. Throws -131.
struct ProcCallText {
  std::string target;
  std::string owner;
  std::string name;
  std::vector<ProcArg> args;
};
bool IsCallText(std::string_view text);
ProcCallText ParseCallText(std::string_view text);

// Replaces each use of identifier `name` (case-insensitive, not qualified as t.name, not a
// function name, not an alias after AS, not in the column list of an INSERT) by `marker`.
// Returns the number of replacements.
int ReplaceIdentifier(std::string& sql, std::string_view name, std::string_view marker);
// Host-variable markers ('?' and ':name') in a text, every occurrence counted.
int CountMarkers(std::string_view sql);
// Replaces every `:name` marker by '?' and lists the names in order of occurrence, so values can
// be bound by position whatever the engine does with named markers.
std::string PositionalMarkers(std::string_view sql, std::vector<std::string>& names);
// The distinct identifiers of a text that begin with an at sign ("@total"), in order of first
// appearance: a variable so named is a host parameter to an engine, never an unknown column.
std::vector<std::string> AtSignNames(std::string_view sql);
// The distinct `:name` markers of a text in the order SQLite numbers them (first appearance).
std::vector<std::string> NamedMarkers(std::string_view sql);

// The offsets of the expression texts are relative to the definition; helpers for the
// interpreter: case-insensitive identifier comparison.
bool SameName(std::string_view a, std::string_view b);

}  // namespace dbl
