// The parser of procedure definitions: catalog rows, what is refused at CREATE time, where
// statements end, and the identifier replacement the interpreter binds variables with.
#include <gtest/gtest.h>

#include "dblib/proc/ProcLang.h"
#include "dblib/sql/Errors.h"

using namespace dbl;

namespace {

int SyntaxErrorOffset(const std::string& text, std::string* message = nullptr) {
  try {
    ParseProcDdl(text);
  } catch (const SqlError& e) {
    EXPECT_EQ(e.Code(), SQLE_SYNTAX_ERROR);
    if (message && !e.Args().empty()) *message = e.Args()[0];
    return e.Offset();
  }
  ADD_FAILURE() << "accepted: " << text;
  return -2;
}

TEST(ProcParse, ParametersResultColumnsAndCatalogRows) {
  const std::string text =
      "CREATE PROCEDURE dba.sp_orders(IN cust integer, OUT total double, INOUT note varchar(40), flag bit DEFAULT 1)\n"
      "RESULT (id integer, name char(20))\n"
      "BEGIN\n  SELECT id, name FROM orders WHERE customer = cust;\nEND";
  ProcDef d = ParseProcDdl(text);
  EXPECT_EQ(d.verb, ProcDef::Verb::Create);
  EXPECT_FALSE(d.isFunction);
  EXPECT_EQ(d.owner, "dba");
  EXPECT_EQ(d.name, "sp_orders");
  EXPECT_EQ(d.text, text);  // kept as written for proc_defn
  ASSERT_EQ(d.params.size(), 4u);
  EXPECT_EQ(d.params[3].mode, ParmMode::InOut);  // no mode written means INOUT
  EXPECT_TRUE(d.params[3].hasDefault);
  EXPECT_EQ(d.params[3].defaultExpr, "1");
  EXPECT_EQ(d.params[2].type, "varchar(40)");
  EXPECT_TRUE(d.mayReturnResultSets);

  auto rows = d.CatalogRows();
  ASSERT_EQ(rows.size(), 6u);
  struct Want { int id, type; bool in, out; const char* name; };
  Want want[] = {{1, 0, true, false, "cust"}, {2, 0, false, true, "total"}, {3, 0, true, true, "note"},
                 {4, 0, true, true, "flag"},  {5, 1, false, true, "id"},    {6, 1, false, true, "name"}};
  for (size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(rows[i].parmId, want[i].id);
    EXPECT_EQ(rows[i].parmType, want[i].type);
    EXPECT_EQ(rows[i].modeIn, want[i].in);
    EXPECT_EQ(rows[i].modeOut, want[i].out);
    EXPECT_EQ(rows[i].name, want[i].name);
  }
  EXPECT_EQ(rows[5].type, "char(20)");
}

TEST(ProcParse, FunctionReturnValueIsFirstCatalogRow) {
  ProcDef d = ParseProcDdl("create function fn_tax(amount numeric(10,2)) returns numeric(10,2) begin return amount * 0.2; end");
  EXPECT_TRUE(d.isFunction);
  EXPECT_EQ(d.returns, "numeric(10,2)");
  EXPECT_FALSE(d.mayReturnResultSets);
  auto rows = d.CatalogRows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].parmType, 4);
  EXPECT_EQ(rows[0].name, "fn_tax");
  EXPECT_FALSE(rows[0].modeIn);
  EXPECT_TRUE(rows[0].modeOut);
  EXPECT_EQ(rows[1].parmId, 2);
  EXPECT_EQ(rows[1].parmType, 0);
  EXPECT_TRUE(rows[1].modeIn);
  EXPECT_FALSE(rows[1].modeOut);  // function parameters are IN whatever is written
  EXPECT_THROW(ParseProcDdl("create function g(out x int) returns int begin return 1 end"), SqlError);
}

TEST(ProcParse, DropAlterAndRecognisers) {
  ProcDef d = ParseProcDdl("DROP PROCEDURE dba.p1");
  EXPECT_EQ(d.verb, ProcDef::Verb::Drop);
  EXPECT_EQ(d.owner, "dba");
  EXPECT_EQ(d.name, "p1");
  EXPECT_EQ(ParseProcDdl("drop function f").isFunction, true);
  EXPECT_EQ(ParseProcDdl("ALTER PROCEDURE p() BEGIN END").verb, ProcDef::Verb::Alter);
  EXPECT_TRUE(ParseProcDdl("CREATE OR REPLACE PROCEDURE p() BEGIN END").orReplace);

  EXPECT_TRUE(IsProcDdl("  create procedure x() begin end"));
  EXPECT_TRUE(IsProcDdl("/* c */ CREATE OR REPLACE FUNCTION f() returns int begin return 1 end"));
  EXPECT_FALSE(IsProcDdl("create table procedure(a int)"));
  EXPECT_FALSE(IsProcDdl("select 'create procedure'"));
  EXPECT_TRUE(IsCallText("call p(1)"));
  EXPECT_TRUE(IsCallText("? = CALL f(?)"));
  EXPECT_TRUE(IsCallText(":r = call f(:a)"));
  EXPECT_FALSE(IsCallText("select * from callers"));
}

TEST(ProcParse, CallTextForms) {
  ProcCallText c = ParseCallText("? = CALL dba.f(?, 'x,y', (1+2))");
  EXPECT_EQ(c.target, "?");
  EXPECT_EQ(c.owner, "dba");
  EXPECT_EQ(c.name, "f");
  ASSERT_EQ(c.args.size(), 3u);
  EXPECT_EQ(c.args[1].expr, "'x,y'");
  EXPECT_EQ(c.args[2].expr, "(1+2)");
  c = ParseCallText(":r = call f(b = :a, c = 3)");
  EXPECT_EQ(c.target, ":r");
  ASSERT_EQ(c.args.size(), 2u);
  EXPECT_EQ(c.args[0].name, "b");
  EXPECT_EQ(c.args[0].expr, ":a");
  c = ParseCallText("call noargs");
  EXPECT_TRUE(c.args.empty());
  EXPECT_THROW(ParseCallText("call p(1"), SqlError);
  EXPECT_THROW(ParseCallText("call p(1) extra"), SqlError);
}

TEST(ProcParse, UnsupportedStatementsAreNamedAtCreate) {
  struct Case { const char* body; const char* named; };
  Case cases[] = {
      {"DECLARE c CURSOR FOR SELECT 1;", "DECLARE CURSOR"},
      {"WAITFOR TIME '10:00';", "WAITFOR TIME"},
      {"PRINT 'x';", "PRINT"},
      {"GRANT CONNECT TO u;", "GRANT"},
      {"CREATE PROCEDURE q() BEGIN END;", "CREATE PROCEDURE"},
      {"SET OPTION x = 1;", "SET OPTION"},
      {"blah blah;", "BLAH"},
      {"MESSAGE 'x' FOR CONNECTION 3;", "FOR"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    std::string msg;
    std::string text = std::string("CREATE PROCEDURE p() BEGIN ") + c.body + " END";
    int off = SyntaxErrorOffset(text, &msg);
    EXPECT_NE(msg.find(c.named), std::string::npos) << msg;
    EXPECT_GE(off, 27);  // points into the body, not at the start
  }
  EXPECT_NE(SyntaxErrorOffset("CREATE PROCEDURE p() ON EXCEPTION RESUME BEGIN END"), -2);
  EXPECT_NE(SyntaxErrorOffset("CREATE PROCEDURE p() AS SELECT 1"), -2);
}

TEST(ProcParse, GarbageAndUnbalancedBodiesAreRefused) {
  const char* bad[] = {
      "CREATE PROCEDURE p() BEGIN IF 1 = 1 THEN SET x = 1; END",          // END IF missing
      "CREATE PROCEDURE p() BEGIN SET x = 'open; END",                     // unterminated string
      "CREATE PROCEDURE p() BEGIN WHILE 1 = 1 LOOP END",                   // END LOOP missing
      "CREATE PROCEDURE p() BEGIN SELECT 1 END extra",                     // text after END
      "CREATE PROCEDURE p(IN) BEGIN END",                                  // parameter without name
      "CREATE PROCEDURE p(a int, a int) BEGIN END",                        // duplicate parameter
      "CREATE FUNCTION f() BEGIN RETURN 1 END",                            // RETURNS missing
      "CREATE PROCEDURE p() BEGIN SET = 3; END",                           // no variable
      "CREATE PROCEDURE p() BEGIN SELECT a INTO FROM t; END",              // INTO without target
      "CREATE PROCEDURE p() BEGIN DECLARE e EXCEPTION FOR SQLSTATE '123'; END",
      "CREATE PROCEDURE p() BEGIN /* never closed END",
      "CREATE PROCEDURE p() BEGIN BEGIN END",
      "CREATE PROCEDURE p() BEGIN CASE x WHEN 1 THEN SET y = 1; END; END",  // END CASE missing
      "CREATE PROCEDURE p() BEGIN RAISERROR(17000, 'x'); END",
      "",
  };
  for (const char* t : bad) {
    SCOPED_TRACE(t);
    EXPECT_NE(SyntaxErrorOffset(t), -2);
  }
}

TEST(ProcParse, ExpressionKeywordsDoNotEndStatements) {
  ProcDef d = ParseProcDdl(
      "CREATE PROCEDURE p(a int) BEGIN\n"
      "  DECLARE x int = CASE WHEN a > 1 THEN 1 ELSE 2 END;\n"
      "  IF (IF a > 1 THEN 1 ELSE 0 ENDIF) = 1 THEN SET x = (SELECT CASE a WHEN 1 THEN 'e' END FROM dummy) ELSEIF a = 0 THEN SET x = 0 ELSE SET x = 3 END IF;\n"
      "  lbl: WHILE x < 10 LOOP SET x = x + 1; IF x = 5 THEN LEAVE lbl; END IF END LOOP lbl;\n"
      "  CASE a WHEN 1 THEN SET x = 1; WHEN 2 THEN SET x = 2; ELSE SET x = 9; END CASE;\n"
      "  SELECT a, b INTO x, y FROM t WHERE c = (SELECT max(c) FROM t);\n"
      "  MESSAGE 'a=', a TYPE WARNING TO CLIENT;\n"
      "  FOR f AS cur CURSOR FOR SELECT id FROM t DO SET x = x + id; END FOR;\n"
      "  RETURN\n"
      "END");
  const ProcBody& b = d.body->body;
  ASSERT_EQ(b.size(), 8u);
  EXPECT_EQ(b[0]->kind, ProcStmt::Kind::DeclareVar);
  EXPECT_EQ(b[0]->expr, "CASE WHEN a > 1 THEN 1 ELSE 2 END");
  ASSERT_EQ(b[1]->kind, ProcStmt::Kind::If);
  ASSERT_EQ(b[1]->branches.size(), 2u);
  EXPECT_EQ(b[1]->branches[0].cond, "(IF a > 1 THEN 1 ELSE 0 ENDIF) = 1");
  EXPECT_EQ(b[1]->branches[0].body[0]->expr, "(SELECT CASE a WHEN 1 THEN 'e' END FROM dummy)");
  EXPECT_TRUE(b[1]->hasElse);
  EXPECT_EQ(b[2]->kind, ProcStmt::Kind::While);
  EXPECT_EQ(b[2]->label, "lbl");
  EXPECT_EQ(b[2]->expr, "x < 10");
  EXPECT_EQ(b[3]->kind, ProcStmt::Kind::Case);
  EXPECT_EQ(b[3]->branches.size(), 2u);
  ASSERT_EQ(b[4]->kind, ProcStmt::Kind::SelectInto);
  EXPECT_EQ(b[4]->text, "SELECT a, b FROM t WHERE c = (SELECT max(c) FROM t)");
  ASSERT_EQ(b[4]->targets.size(), 2u);
  EXPECT_EQ(b[4]->targets[1], "y");
  ASSERT_EQ(b[5]->kind, ProcStmt::Kind::Message);
  EXPECT_EQ(b[5]->exprs.size(), 2u);
  EXPECT_EQ(b[5]->msgType, 1);
  EXPECT_TRUE(b[5]->toClient);
  EXPECT_EQ(b[6]->kind, ProcStmt::Kind::For);
  EXPECT_EQ(b[6]->text, "SELECT id FROM t");
  EXPECT_EQ(b[7]->kind, ProcStmt::Kind::Return);
  EXPECT_TRUE(b[7]->expr.empty());
  EXPECT_FALSE(d.mayReturnResultSets);
}

TEST(ProcParse, LabelsAndExceptionsMustBeInScope) {
  const char* bad[] = {
      "CREATE PROCEDURE p() BEGIN LEAVE nowhere; END",
      "CREATE PROCEDURE p() BEGIN a: LOOP LEAVE a; END LOOP a; LEAVE a; END",       // a no longer encloses
      "CREATE PROCEDURE p() BEGIN SIGNAL undeclared; END",
      "CREATE PROCEDURE p() BEGIN BEGIN DECLARE e EXCEPTION FOR SQLSTATE '99001'; END; SIGNAL e; END",
      "CREATE PROCEDURE p() BEGIN SELECT 1; EXCEPTION WHEN missing THEN SELECT 2; END",
      "CREATE PROCEDURE p() BEGIN RESIGNAL; END",
  };
  for (const char* t : bad) {
    SCOPED_TRACE(t);
    EXPECT_NE(SyntaxErrorOffset(t), -2);
  }
  EXPECT_NO_THROW(ParseProcDdl(
      "CREATE PROCEDURE p() BEGIN DECLARE e EXCEPTION FOR SQLSTATE '99001';\n"
      " outer_l: WHILE 1 = 1 LOOP inner_l: LOOP LEAVE outer_l; END LOOP; END LOOP;\n"
      " blk: BEGIN LEAVE blk; END;\n"
      " BEGIN SIGNAL e; EXCEPTION WHEN e THEN RESIGNAL; END;\n"
      "END"));
}

TEST(ProcParse, HandlersAndDeclaredExceptions) {
  ProcDef d = ParseProcDdl(
      "CREATE PROCEDURE p() BEGIN DECLARE bad EXCEPTION FOR SQLSTATE '99001'; DECLARE other EXCEPTION FOR SQLSTATE '99002'; SIGNAL bad;\n"
      "EXCEPTION WHEN bad, other THEN MESSAGE 'x' TO CLIENT; WHEN OTHERS THEN RESIGNAL; END");
  const ProcStmt& b = *d.body;
  ASSERT_EQ(b.handlers.size(), 2u);
  EXPECT_EQ(b.handlers[0].names.size(), 2u);
  EXPECT_TRUE(b.handlers[1].names.empty());
  EXPECT_EQ(b.body[0]->text, "99001");
  EXPECT_EQ(b.body[2]->kind, ProcStmt::Kind::Signal);
}

TEST(ProcParse, ReplaceIdentifierSkipsColumnsFunctionsAndAliases) {
  std::string sql = "SELECT t.v, v, \"v\", 'v', v(1), v AS v, count(*) AS c FROM t WHERE v = 1";
  EXPECT_EQ(ReplaceIdentifier(sql, "V", ":zv0"), 4);
  EXPECT_EQ(sql, "SELECT t.v, :zv0, :zv0, 'v', v(1), :zv0 AS v, count(*) AS c FROM t WHERE :zv0 = 1");
  std::string ins = "INSERT INTO dba.t (a, b) VALUES (a, b + a)";
  EXPECT_EQ(ReplaceIdentifier(ins, "a", ":zv1"), 2);
  EXPECT_EQ(ins, "INSERT INTO dba.t (a, b) VALUES (:zv1, b + :zv1)");
  EXPECT_EQ(NamedMarkers("select :zv2, :zv0, :zv2, ?"), (std::vector<std::string>{":zv2", ":zv0"}));
}

}  // namespace
