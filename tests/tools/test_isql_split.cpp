// Statement splitting of the interactive SQL tool: terminators, quotes, comments, "go" lines,
// compound bodies and built-in command lines.
#include <gtest/gtest.h>

#include "tools/isql/IsqlSplit.h"

using namespace zylisql;

namespace {

std::vector<std::string> Texts(const std::string& Input) {
  std::vector<std::string> out;
  for (auto& p : TStatementSplitter::SplitText(Input)) out.push_back((p.Kind == TPiece::pkCommand ? "." : "") + p.Text);
  return out;
}

using V = std::vector<std::string>;

}  // namespace

TEST(IsqlSplit, SemicolonsEndStatementsAndEmptyOnesVanish) {
  EXPECT_EQ(Texts("select 1; select 2;;  ; select 3"), (V{"select 1", "select 2", "select 3"}));
  EXPECT_EQ(Texts("insert into t\nvalues (1);\n\n"), (V{"insert into t\nvalues (1)"}));
  EXPECT_EQ(Texts(""), V{});
  EXPECT_EQ(Texts(";\n;\n"), V{});
}

TEST(IsqlSplit, SemicolonsInsideQuotesBelongToTheText) {
  EXPECT_EQ(Texts("select 'a;b', \"c;d\" from t; select 2"), (V{"select 'a;b', \"c;d\" from t", "select 2"}));
  EXPECT_EQ(Texts("select 'it''s; fine'; x"), (V{"select 'it''s; fine'", "x"}));
  // A literal over several lines keeps its line ends, and a "go" inside it is text.
  EXPECT_EQ(Texts("insert into t values ('one\ngo\ntwo');"), (V{"insert into t values ('one\ngo\ntwo')"}));
}

TEST(IsqlSplit, CommentsHideSemicolonsAndLeadingCommentsAreDropped) {
  EXPECT_EQ(Texts("-- the first; with a semicolon\nselect 1 -- trailing; note\n, 2;"),
            (V{"select 1 -- trailing; note\n, 2"}));
  EXPECT_EQ(Texts("/* a; b */ select /* c; */ 3; // x; y\nselect 4;"), (V{"select /* c; */ 3", "select 4"}));
  EXPECT_EQ(Texts("-- only a comment;\n/* and\n another; */\n"), V{});
  EXPECT_EQ(Texts("select '--not a comment;' ; select 5"), (V{"select '--not a comment;'", "select 5"}));
}

TEST(IsqlSplit, GoLineEndsAStatementWhateverItsCase) {
  EXPECT_EQ(Texts("select 1\ngo\nselect 2\n  GO  \nselect 3\ngone\n"), (V{"select 1", "select 2", "select 3\ngone"}));
  EXPECT_EQ(Texts("go\ngo\n"), V{});
}

TEST(IsqlSplit, ProcedureBodiesKeepTheirSemicolons) {
  const std::string proc =
      "CREATE PROCEDURE p(IN a INTEGER, OUT b INTEGER)\n"
      "BEGIN\n"
      "  DECLARE x INTEGER;\n"
      "  IF a > 0 THEN SET x = 1; ELSE SET x = 2; END IF;\n"
      "  SET b = CASE WHEN x = 1 THEN 10 ELSE 20 END;\n"
      "  lbl: LOOP LEAVE lbl; END LOOP lbl;\n"
      "  BEGIN SELECT 'inner;'; END;\n"
      "  CASE x WHEN 1 THEN SET b = 3; END CASE;\n"
      "  SELECT b;\n"
      "END";
  auto got = Texts(proc + ";\nselect 9;");
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], proc);
  EXPECT_EQ(got[1], "select 9");
  // The same with "go" and the other compound kinds.
  EXPECT_EQ(Texts("create or replace function f() returns int begin return 1; end\ngo\nselect f()").size(), 2u);
  EXPECT_EQ(Texts("CREATE TRIGGER tr AFTER INSERT ON t FOR EACH ROW BEGIN UPDATE u SET n = n + 1; END; x").size(), 2u);
  EXPECT_EQ(Texts("begin declare v int; set v = 1; select v; end; select 2"),
            (V{"begin declare v int; set v = 1; select v; end", "select 2"}));
}

TEST(IsqlSplit, PlainStatementsWithBlockWordsStillEndAtSemicolon) {
  EXPECT_EQ(Texts("begin transaction; select 1; commit"), (V{"begin transaction", "select 1", "commit"}));
  EXPECT_EQ(Texts("select case when 1=1 then 'a' end from t; select 2"),
            (V{"select case when 1=1 then 'a' end from t", "select 2"}));
  EXPECT_EQ(Texts("create table begin_end(\"begin\" int); select 1"),
            (V{"create table begin_end(\"begin\" int)", "select 1"}));
}

TEST(IsqlSplit, DotLinesAreCommandsOnlyBetweenStatements) {
  EXPECT_EQ(Texts(".tables\nselect 1;\n  .describe  t  \n"), (V{".tables", "select 1", ".describe  t"}));
  // Inside a pending statement a line starting with "." is part of it.
  EXPECT_EQ(Texts("select a\n.5 from t;"), (V{"select a\n.5 from t"}));
}

TEST(IsqlSplit, LineByLineFeedingReportsPendingAndStartLines) {
  TStatementSplitter s;
  EXPECT_TRUE(s.AddLine("-- heading").empty());
  EXPECT_FALSE(s.Pending());
  EXPECT_TRUE(s.AddLine("select 'a").empty());
  EXPECT_TRUE(s.Pending());
  auto got = s.AddLine("b'; select 2;");
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].Text, "select 'a\nb'");
  EXPECT_EQ(got[0].Line, 2);
  EXPECT_EQ(got[1].Line, 3);
  EXPECT_FALSE(s.Pending());
  EXPECT_TRUE(s.AddLine("select 3 -- no end").empty());
  auto rest = s.Finish();
  ASSERT_EQ(rest.size(), 1u);
  EXPECT_EQ(rest[0].Text, "select 3 -- no end");
  EXPECT_TRUE(s.Finish().empty());
}

TEST(IsqlSplit, CarriageReturnsAreLineEnds) {
  EXPECT_EQ(Texts("select 1\r\ngo\r\nselect 2;\r\n"), (V{"select 1", "select 2"}));
}

TEST(IsqlSplit, KeywordAndMarkerHelpers) {
  EXPECT_EQ(LeadingKeyword("  select 1"), "SELECT");
  EXPECT_EQ(LeadingKeyword("((Select 1) union select 2)"), "SELECT");
  EXPECT_EQ(LeadingKeyword("'x'"), "");
  EXPECT_TRUE(ReturnsRows("call p(1)"));
  EXPECT_TRUE(ReturnsRows("WITH x AS (select 1) select * from x"));
  EXPECT_FALSE(ReturnsRows("insert into t select * from u"));
  EXPECT_TRUE(HasMarkers("call p(1, ?)"));
  EXPECT_FALSE(HasMarkers("select '?', \"a?\" from t -- ?\n/* ? */"));
  EXPECT_FALSE(HasMarkers("select 1 /* unterminated ?"));
  EXPECT_EQ(MarkerPositions("call p('?', ?, \"?\", ? /* ? */)"), (std::vector<size_t>{12, 20}));
  EXPECT_EQ(ReplaceMarkers("call p('?', ?, ?)", {"a", "bb"}), "call p('?', a, bb)");
  EXPECT_EQ(ReplaceMarkers("call p(?, ?)", {"a"}), "call p(a, ?)") << "markers beyond the names stay";
}

TEST(IsqlSplit, CallTextsComeApartIntoNameAndArguments) {
  TCallText c = ParseCallText("  call dba.\"my proc\"( 1, 'a,b', f(2, 3), x = ? ) ;");
  ASSERT_TRUE(c.Ok);
  EXPECT_EQ(c.Name, "my proc");
  EXPECT_EQ(c.Args, (std::vector<std::string>{"1", "'a,b'", "f(2, 3)", "x = ?"}));
  c = ParseCallText("EXEC p");
  EXPECT_TRUE(c.Ok);
  EXPECT_EQ(c.Name, "p");
  EXPECT_TRUE(c.Args.empty());
  EXPECT_TRUE(ParseCallText("call p()").Ok);
  EXPECT_TRUE(ParseCallText("call p()").Args.empty());
  EXPECT_FALSE(ParseCallText("call p(1, (2)").Ok) << "unbalanced";
  EXPECT_FALSE(ParseCallText("call p(1) extra").Ok);
  EXPECT_FALSE(ParseCallText("select 1").Ok);
  EXPECT_FALSE(ParseCallText("call").Ok);
  EXPECT_FALSE(ParseCallText("call \"open").Ok);
}

// Arbitrary mixtures of the scanner's special tokens: no piece is empty or untrimmed, every
// statement keeps its text in input order, and nothing is lost between statements except
// terminators, blanks and leading comments.
TEST(IsqlSplit, ArbitraryTokenSoupSplitsSafely) {
  const char* tokens[] = {";", "'", "\"", "--", "/*", "*/", " BEGIN ", " END ", " CASE ", " IF ", "\ngo\n",
                          "CREATE PROCEDURE p ", "select 1", "\n", ".cmd\n", "x", "''", "//", "\r\n", "`"};
  uint32_t seed = 12345;
  auto next = [&] {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) & 0x7fff;
  };
  for (int round = 0; round < 2000; ++round) {
    std::string input;
    int n = 1 + static_cast<int>(next() % 30);
    for (int i = 0; i < n; ++i) input += tokens[next() % (sizeof tokens / sizeof tokens[0])];
    auto pieces = TStatementSplitter::SplitText(input);
    for (auto& p : pieces) {
      ASSERT_FALSE(p.Text.empty() && p.Kind == TPiece::pkSql) << input;
      if (p.Kind == TPiece::pkSql) {
        EXPECT_FALSE(std::isspace(static_cast<unsigned char>(p.Text.front()))) << input;
        EXPECT_FALSE(std::isspace(static_cast<unsigned char>(p.Text.back()))) << input;
      }
      EXPECT_GE(p.Line, 1);
    }
  }
}
