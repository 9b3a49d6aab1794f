// Nesting limits through the C entry points, on a thread with 256 KB of stack: a procedure text
// nested far too deep is a syntax error at PREPARE, and the deepest body the parser accepts runs
// at the deepest call chain the interpreter allows.
#include "dblib/sql/Nesting.h"
#include "tests/common/SmallStack.h"
#include "tests/dblib/DblibHarness.h"

using zyltest::RunOnSmallStack;

namespace {

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

class NestingThroughEntryPoints : public zyltest::DblibTest {};

// What a client reaches before any permission check: PREPARE.
TEST_F(NestingThroughEntryPoints, DeepProcedureTextIsASyntaxErrorAtPrepare) {
  ConnectFile(CreateDb("nest_prep"), "nest_prep");
  RunOnSmallStack([&] {
    for (const char* open : {"BEGIN", "IF 1 = 1 THEN", "WHILE 1 = 1 LOOP"}) {
      std::string text = "CREATE PROCEDURE p() BEGIN " + Repeat(std::string(open) + " ", 12000);
      short n = 0;
      dbpp_prepare(&ca, nullptr, const_cast<char*>("S"), &n, text.data(), nullptr, 0);
      EXPECT_EQ(ca.sqlcode, SQLE_SYNTAX_ERROR) << open;
      EXPECT_NE(zyltest::Message(ca).find("nesting deeper than"), std::string::npos) << "[" << zyltest::Message(ca) << "]";
    }
  });
}

// The interpreter walks what the parser accepted, and calls nest on top: on a small stack the
// deepest body runs, a short call chain runs (sanitizer builds take several times the stack of a
// release build per call), and a chain that would not fit is refused with -274 before the stack
// runs out.
TEST_F(NestingThroughEntryPoints, DeepestBodiesCalledDeeplyAreRefusedBeforeTheStackRunsOut) {
  ConnectFile(CreateDb("nest"), "nest");
  std::string body = Repeat("BEGIN ", dbl::kMaxProcNesting - 1) + "IF n > 0 THEN CALL deep(n - 1); END IF; " +
                     Repeat("END; ", dbl::kMaxProcNesting - 1);
  MustExec("CREATE PROCEDURE deep(IN n INTEGER) BEGIN " + body + "END");
  MustExec("CREATE PROCEDURE flat(IN n INTEGER) BEGIN IF n > 0 THEN CALL flat(n - 1); END IF; END");
  RunOnSmallStack([&] {
    EXPECT_EQ(Exec("CALL deep(0)"), 0) << zyltest::Message(ca);
    EXPECT_EQ(Exec("CALL flat(5)"), 0) << zyltest::Message(ca);
    EXPECT_EQ(Exec("CALL deep(30)"), SQLE_NESTING_TOO_DEEP);
    EXPECT_EQ(Exec("CALL flat(1000)"), SQLE_NESTING_TOO_DEEP);
  });
}

// The engine's own expression trees: the deepest our connections accept evaluates on a small
// stack (with SQLite's default depth, 800 levels of + overflowed it).
TEST_F(NestingThroughEntryPoints, DeepestExpressionAcceptedFitsASmallStack) {
  ConnectFile(CreateDb("nest_expr"), "nest_expr");
  RunOnSmallStack([&] {
    EXPECT_EQ(Query("SELECT 0" + Repeat(" + 1", 248)), "248") << zyltest::Message(ca);
    std::string ors = "SELECT count(*) FROM dummy WHERE 0 = 1" + Repeat(" OR 0 = 1", 248);
    EXPECT_EQ(Query(ors), "0") << zyltest::Message(ca);
    EXPECT_LT(Exec("SELECT 0" + Repeat(" + 1", 800)), 0);
    EXPECT_NE(zyltest::Message(ca).find("Expression tree is too large"), std::string::npos) << zyltest::Message(ca);
  });
}

}  // namespace
