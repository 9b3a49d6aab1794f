// Nesting limits, on a thread with 256 KB of stack: text nested to a limit works, text nested
// beyond it is a syntax error naming the limit, and text nested a thousand times deeper is the
// same error, not a stack overflow.
#include <gtest/gtest.h>

#include "dblib/proc/ProcLang.h"
#include "dblib/sql/Dialect.h"
#include "dblib/sql/Errors.h"
#include "dblib/sql/Nesting.h"
#include "tests/common/SmallStack.h"

using namespace dbl;
using zyltest::RunOnSmallStack;

namespace {

std::string Repeat(const std::string& s, int n) {
  std::string out;
  out.reserve(s.size() * size_t(n));
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

// A procedure whose body nests `levels` statements of one kind inside its outer BEGIN.
std::string Nested(const std::string& open, const std::string& close, int levels) {
  return "CREATE PROCEDURE p() BEGIN " + Repeat(open + " ", levels) + "SET x = 1; " + Repeat(close + "; ", levels) +
         "END";
}

// The text of the syntax error a call raises ("" when it raises none).
template <class F>
std::string SyntaxErrorOf(F&& f) {
  try {
    f();
  } catch (const SqlError& e) {
    EXPECT_EQ(e.Code(), SQLE_SYNTAX_ERROR);
    return FormatMessage(e.Code(), e.Args());
  }
  return "";
}

TEST(Nesting, ProcedureBodiesNestToTheLimitAndNoFurther) {
  struct Kind {
    const char* open;
    const char* close;
  };
  const Kind kinds[] = {{"BEGIN", "END"}, {"IF 1 = 1 THEN", "END IF"}, {"WHILE 1 = 0 LOOP", "END LOOP"},
                        {"CASE WHEN 1 = 1 THEN", "END CASE"}};
  RunOnSmallStack([&] {
    for (const Kind& k : kinds) {
      SCOPED_TRACE(k.open);
      ProcDef ok = ParseProcDdl(Nested(k.open, k.close, kMaxProcNesting));
      ParseProcDdl(ok.text);  // the stored text parses again
      std::string over = SyntaxErrorOf([&] { ParseProcDdl(Nested(k.open, k.close, kMaxProcNesting + 1)); });
      EXPECT_NE(over.find("nesting deeper than 32 levels"), std::string::npos) << over;
      EXPECT_FALSE(SyntaxErrorOf([&] { ParseProcDdl(Nested(k.open, k.close, 12000)); }).empty());
    }
  });
}

TEST(Nesting, TranslationRefusesDeepParenthesesBeforeItsPassesRun) {
  DialectContext none;
  RunOnSmallStack([&] {
    std::string ok = "SELECT " + Repeat("(", kMaxSqlNesting) + "'a' + b" + Repeat(")", kMaxSqlNesting);
    EXPECT_NE(TranslateSql(ok, none).find("||"), std::string::npos);
    std::string over = SyntaxErrorOf([&] {
      TranslateSql("SELECT " + Repeat("(", kMaxSqlNesting + 1) + "1" + Repeat(")", kMaxSqlNesting + 1), none);
    });
    EXPECT_EQ(over, "Syntax error near '(' (nesting deeper than 100 levels)");
    // The shape the issue measured: 40 000 nested derived tables with TOP.
    std::string deep = Repeat("SELECT TOP 1 * FROM (", 40000) + "SELECT 1" + Repeat(") x", 40000);
    EXPECT_FALSE(SyntaxErrorOf([&] { TranslateSql(deep, none); }).empty());
  });
}

}  // namespace
