// Lists, file-name tests, character routines, and the SQL scanner with its three extractors.
#include "base/ZylUtil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/common/SmallStack.h"

TEST(ZylUtilLists, ConcateFieldAlwaysAppendsAfterTheFirst) {
  AnsiString S;
  ZylConcateField(S, ";", "a");
  EXPECT_EQ(S, "a");
  ZylConcateField(S, ";", "");
  ZylConcateField(S, ";", "b");
  EXPECT_EQ(S, "a;;b");
}

TEST(ZylUtilLists, ConcateEmptyFieldLeavesNoSeparatorForEmptyPieces) {
  AnsiString S;
  ZylConcateEmptyField(S, ";", "");
  EXPECT_EQ(S, "");
  ZylConcateEmptyField(S, ";", "a");
  ZylConcateEmptyField(S, ";", "");
  EXPECT_EQ(S, "a");
  ZylConcateEmptyField(S, ";", "b");
  EXPECT_EQ(S, "a;b");
}

TEST(ZylUtilLists, ExtractFieldCountsFromOneAndGivesEmptyOutsideTheList) {
  EXPECT_EQ(ZylExtractField("7.0.1", ".", 1), "7");
  EXPECT_EQ(ZylExtractField("7.0.1", ".", 2), "0");
  EXPECT_EQ(ZylExtractField("7.0.1", ".", 3), "1");
  EXPECT_EQ(ZylExtractField("7.0.1", ".", 4), "");
  EXPECT_EQ(ZylExtractField("7.0.1", ".", 0), "");
  EXPECT_EQ(ZylExtractField("7.0.1", ".", -3), "");
  EXPECT_EQ(ZylExtractField("a..b", ".", 2), "");
  EXPECT_EQ(ZylExtractField("a..b", ".", 3), "b");
  EXPECT_EQ(ZylExtractField("abc", ".", 1), "abc");
  EXPECT_EQ(ZylExtractField("", ".", 1), "");
  EXPECT_EQ(ZylExtractField("a.", ".", 2), "");
}

TEST(ZylUtilFiles, IsPathRecognisesRootAndRelativeStarts) {
  EXPECT_TRUE(ZylIsPath("..\\db"));
  EXPECT_TRUE(ZylIsPath("../db"));
  EXPECT_TRUE(ZylIsPath(".\\db"));
  EXPECT_TRUE(ZylIsPath("/var/db"));
  EXPECT_TRUE(ZylIsPath("\\db"));
  EXPECT_FALSE(ZylIsPath(".db"));
  EXPECT_FALSE(ZylIsPath("..db"));
  EXPECT_FALSE(ZylIsPath("db"));
  EXPECT_FALSE(ZylIsPath(""));
  EXPECT_FALSE(ZylIsPath("."));
}

TEST(ZylUtilFiles, FilePrefixDropsDirectoriesOnlyForPathsAndDrives) {
  EXPECT_EQ(ZylExtractFilePrefix("C:\\data\\sales.db"), "sales");
  EXPECT_EQ(ZylExtractFilePrefix("c:sales.db"), "sales");
  EXPECT_EQ(ZylExtractFilePrefix("/srv/db/sales.db"), "sales");
  EXPECT_EQ(ZylExtractFilePrefix("..\\db\\sales.db"), "sales");
  EXPECT_EQ(ZylExtractFilePrefix("data\\sales.db"), "data\\sales");
  EXPECT_EQ(ZylExtractFilePrefix("sales.db"), "sales");
  EXPECT_EQ(ZylExtractFilePrefix("sales"), "sales");
  EXPECT_EQ(ZylExtractFilePrefix("my.dir\\sales"), "my.dir\\sales");  // a dot in a directory is no extension
  EXPECT_EQ(ZylExtractFilePrefix(""), "");
}

TEST(ZylUtilText, ReplaceCharReplacesEveryOccurrenceByText) {
  EXPECT_EQ(ZylReplaceChar(";,", "\r\n", "a;b,c"), "a\r\nb\r\nc");
  EXPECT_EQ(ZylReplaceChar("x", "", "xaxx"), "a");
  EXPECT_EQ(ZylReplaceChar("", "-", "abc"), "abc");
  // A replacement that holds a character of From still ends (one pass over the text).
  EXPECT_EQ(ZylReplaceChar("a", "aa", "bab"), "baab");
}

TEST(ZylUtilText, TrimTrailBlanksCutsAfterTheLastVisibleCharacter) {
  char Blanks[] = "   ";
  EXPECT_EQ(ZylTrimTrailBlanks(Blanks), Blanks);
  EXPECT_STREQ(Blanks, "");
  char Mixed[] = " ab c \t\r\n ";
  ZylTrimTrailBlanks(Mixed);
  EXPECT_STREQ(Mixed, " ab c");
  char High[] = "ab\xE9  ";  // characters above 127 are text, not blanks
  ZylTrimTrailBlanks(High);
  EXPECT_STREQ(High, "ab\xE9");
  EXPECT_EQ(ZylTrimTrailBlanks(nullptr), nullptr);
}

namespace {
int Substitute() { return 7; }
int Real() { return 1; }
}  // namespace

TEST(ZylUtilProcs, AssignProcAddressFallsBackToTheDefault) {
  int (*Proc)() = nullptr;
  ZylAssignProcAddress(Proc, nullptr, &Substitute);
  EXPECT_EQ(Proc(), 7);
  ZylAssignProcAddress(Proc, reinterpret_cast<void*>(&Real), &Substitute);
  EXPECT_EQ(Proc(), 1);
}

// ---- scanner ------------------------------------------------------------------------------------

namespace {

struct Tok {
  TZylTokenKind Kind;
  AnsiString Text;
};

std::vector<Tok> Scan(const AnsiString& SQL, TZylTokenKind Section = tkNone, bool Track = true) {
  std::vector<Tok> Out;
  TZylSQLCursor Cursor(SQL);
  AnsiString Token;
  for (int Guard = 0; Guard < 1000; ++Guard) {
    TZylTokenKind Kind = ZylNextToken(Cursor, Token, Section);
    if (Kind == tkEnd) {
      EXPECT_EQ(Token, "");
      return Out;
    }
    if (Track && ZylIsClauseToken(Kind)) Section = Kind;
    Out.push_back({Kind, Token});
  }
  ADD_FAILURE() << "scanner did not reach the end of " << SQL;
  return Out;
}

}  // namespace

TEST(ZylUtilScanner, ClassifiesClausesWordsAndOperators) {
  auto T = Scan("SELECT DISTINCT * FROM t WHERE a >= 10.5 AND b LIKE 'x%' OR c GROUP BY d HAVING e "
                "ORDER BY f DESC");
  std::vector<TZylTokenKind> Want = {tkSelect,  tkDistinct, tkAllFields, tkFrom,      tkTableName, tkWhere,
                                     tkFieldName, tkPredicate, tkNumber,  tkAnd,       tkFieldName, tkLike,
                                     tkValue,   tkOr,       tkFieldName, tkGroupBy,   tkFieldName, tkHaving,
                                     tkFieldName, tkOrderBy,  tkFieldName, tkDescending};
  ASSERT_EQ(T.size(), Want.size());
  for (size_t I = 0; I < Want.size(); ++I) EXPECT_EQ(T[I].Kind, Want[I]) << "token " << I << " " << T[I].Text;
  EXPECT_EQ(T[7].Text, ">=");
  EXPECT_EQ(T[8].Text, "10.5");
  EXPECT_EQ(T[12].Text, "x%");
  EXPECT_EQ(T[15].Text, "GROUP BY");
  EXPECT_EQ(T[19].Text, "ORDER BY");
}

TEST(ZylUtilScanner, StarAndDistinctAreSpecialOnlyInTheSelectList) {
  auto T = Scan("* DISTINCT", tkWhere, false);
  ASSERT_EQ(T.size(), 2u);
  EXPECT_EQ(T[0].Kind, tkFieldName);
  EXPECT_EQ(T[1].Kind, tkFieldName);
}

TEST(ZylUtilScanner, IsNullFormsOneTokenAndOtherIsIsAValue) {
  auto T = Scan("a IS NOT NULL", tkWhere, false);
  ASSERT_EQ(T.size(), 2u);
  EXPECT_EQ(T[1].Kind, tkIsNotNull);
  EXPECT_EQ(T[1].Text, "IS NOT NULL");

  T = Scan("a is  null", tkWhere, false);
  ASSERT_EQ(T.size(), 2u);
  EXPECT_EQ(T[1].Kind, tkIsNull);

  // IS followed by anything else: a value, and the following words are scanned again.
  T = Scan("a IS NOT b", tkWhere, false);
  ASSERT_EQ(T.size(), 4u);
  EXPECT_EQ(T[1].Kind, tkValue);
  EXPECT_EQ(T[1].Text, "IS");
  EXPECT_EQ(T[2].Text, "NOT");
  EXPECT_EQ(T[3].Text, "b");

  T = Scan("IS", tkWhere, false);
  ASSERT_EQ(T.size(), 1u);
  EXPECT_EQ(T[0].Kind, tkValue);
  EXPECT_EQ(Scan("NULL", tkWhere, false)[0].Kind, tkValue);
}

TEST(ZylUtilScanner, GroupForAndOrderNeedTheirSecondWord) {
  auto T = Scan("GROUP x FOR UPDATE ORDER", tkWhere, false);
  ASSERT_EQ(T.size(), 4u);
  EXPECT_EQ(T[0].Kind, tkFieldName);
  EXPECT_EQ(T[1].Text, "x");
  EXPECT_EQ(T[2].Kind, tkForUpdate);
  EXPECT_EQ(T[2].Text, "FOR UPDATE");
  EXPECT_EQ(T[3].Kind, tkFieldName);
}

TEST(ZylUtilScanner, QuotesDotsAndOwnerNames) {
  auto T = Scan("\"my \"\"odd\"\" table\".'col' `v`", tkFrom, false);
  ASSERT_EQ(T.size(), 3u);
  EXPECT_EQ(T[0].Kind, tkTableName);
  EXPECT_EQ(T[0].Text, "my \"odd\" table");
  EXPECT_EQ(T[1].Kind, tkFieldName);
  EXPECT_EQ(T[1].Text, "col");
  EXPECT_EQ(T[2].Kind, tkValue);

  T = Scan("own.tab", tkWhere, false);
  ASSERT_EQ(T.size(), 2u);
  EXPECT_EQ(T[0].Kind, tkTableName);
  EXPECT_EQ(T[1].Kind, tkFieldName);
}

TEST(ZylUtilScanner, UnclosedQuoteIsSkippedAndScanningGoesOn) {
  auto T = Scan("'abc def", tkWhere, false);
  ASSERT_EQ(T.size(), 2u);
  EXPECT_EQ(T[0].Text, "abc");
  EXPECT_EQ(T[1].Text, "def");
  EXPECT_TRUE(Scan("'", tkWhere, false).empty());
}

TEST(ZylUtilScanner, CommentsNumbersAssignmentsAndLoneSlash) {
  auto T = Scan("a // line\n/* block */ 12.3x b:=1 c/d", tkWhere, false);
  ASSERT_EQ(T.size(), 8u);
  EXPECT_EQ(T[1].Kind, tkComment);
  EXPECT_EQ(T[1].Text, "// line");
  EXPECT_EQ(T[2].Kind, tkComment);
  EXPECT_EQ(T[2].Text, "/* block ");
  EXPECT_EQ(T[3].Kind, tkNumber);
  EXPECT_EQ(T[3].Text, "12.3");
  EXPECT_EQ(T[4].Text, "x");
  EXPECT_EQ(T[5].Kind, tkAssignment);
  EXPECT_EQ(T[5].Text, "b:=");
  EXPECT_EQ(T[6].Kind, tkNumber);
  EXPECT_EQ(T[7].Kind, tkFieldName);  // a lone "/" is part of a word
  EXPECT_EQ(T[7].Text, "c/d");
}

TEST(ZylUtilScanner, StopsAtAnEmbeddedNulAndAtTheEndOfTheRange) {
  AnsiString SQL("a b", 3);
  SQL += '\0';
  SQL += "FROM hidden";
  auto T = Scan(SQL, tkWhere, false);
  ASSERT_EQ(T.size(), 2u);
  EXPECT_EQ(T[1].Text, "b");

  // A range without terminator: the scanner stops at its end.
  const char Raw[] = {'x', 'y', '/', '*', 'z'};
  TZylSQLCursor Cursor(Raw, Raw + 2);
  AnsiString Token;
  EXPECT_EQ(ZylNextToken(Cursor, Token, tkWhere), tkFieldName);
  EXPECT_EQ(Token, "xy");
  EXPECT_EQ(ZylNextToken(Cursor, Token, tkWhere), tkEnd);
  EXPECT_EQ(Cursor.Pos, Raw + 2);
  TZylSQLCursor Open(Raw + 2, Raw + 5);
  EXPECT_EQ(ZylNextToken(Open, Token, tkWhere), tkComment);
  EXPECT_EQ(Token, "/*z");
  EXPECT_EQ(Open.Pos, Raw + 5);
}

// ---- extractors ---------------------------------------------------------------------------------

TEST(ZylUtilExtractors, TableNameTakesTheTablePartOfOwnerDotTable) {
  EXPECT_EQ(ZylGetTableNameFromSQL("SELECT * FROM dba.customer WHERE id = :id"), "customer");
  EXPECT_EQ(ZylGetTableNameFromSQL("select a,b from orders o where x=1"), "orders");
  EXPECT_EQ(ZylGetTableNameFromSQL("SELECT * FROM \"Order Lines\""), "Order Lines");
  EXPECT_EQ(ZylGetTableNameFromSQL("SELECT * FROM \"dba\".\"Order Lines\" ORDER BY 1"), "Order Lines");
  EXPECT_EQ(ZylGetTableNameFromSQL("SELECT 1"), "");
  EXPECT_EQ(ZylGetTableNameFromSQL("SELECT * FROM WHERE x = 1"), "");
  EXPECT_EQ(ZylGetTableNameFromSQL(""), "");
  EXPECT_EQ(ZylGetTableNameFromSQL("SELECT a FROM /* note */ t"), "t");
}

TEST(ZylUtilExtractors, OrderByListsFieldsWithTheirDirections) {
  AnsiString Dirs;
  EXPECT_EQ(ZylGetOrderByFromSQL("SELECT * FROM t ORDER BY a, b DESC, x", Dirs), "a;b;x");
  EXPECT_EQ(Dirs, "ASC;DESC;ASC");
  EXPECT_EQ(ZylGetOrderByFromSQL("SELECT a FROM t ORDER BY 2 DESC", Dirs), "2");
  EXPECT_EQ(Dirs, "DESC");
  EXPECT_EQ(ZylGetOrderByFromSQL("SELECT a FROM t ORDER BY a ASC, t.b DESCENDING FOR UPDATE", Dirs), "a;b");
  EXPECT_EQ(Dirs, "ASC;DESC");
  Dirs = "stale";
  EXPECT_EQ(ZylGetOrderByFromSQL("SELECT a FROM t", Dirs), "");
  EXPECT_EQ(Dirs, "");
  // A direction without a field does not shift the directions of the fields that follow.
  EXPECT_EQ(ZylGetOrderByFromSQL("SELECT a FROM t ORDER BY DESC a", Dirs), "a");
  EXPECT_EQ(Dirs, "ASC");
}

TEST(ZylUtilExtractors, ParamsAreTheColonNamesOfFieldTokens) {
  EXPECT_EQ(ZylGetParamsFromSQL("SELECT * FROM dba.customer WHERE id = :id"), "id");
  EXPECT_EQ(ZylGetParamsFromSQL("CALL p(:a,:b)"), "a;b");
  EXPECT_EQ(ZylGetParamsFromSQL("UPDATE t SET x=:x, y = :y WHERE k=:key"), "x;y;key");
  EXPECT_EQ(ZylGetParamsFromSQL("SELECT ':notparam', 12 FROM t WHERE a = b"), "");
  EXPECT_EQ(ZylGetParamsFromSQL("BEGIN x := 1; y:=2 END"), "");
  EXPECT_EQ(ZylGetParamsFromSQL("SELECT * FROM t WHERE a = :"), "");
}

// The scanner keeps no nesting state and its look-ahead never nests, so it needs no limit: text
// nested a hundred thousand levels deep scans on a thread with 256 KB of stack.
TEST(ZylUtilExtractors, DeeplyNestedTextScansOnASmallStack) {
  AnsiString Deep = "SELECT * FROM t WHERE a = :a";
  for (int I = 0; I < 100000; ++I) Deep += " AND (x IS IS ((b";
  Deep += " ORDER BY c DESC";
  zyltest::RunOnSmallStack([&] {
    AnsiString Dirs;
    EXPECT_EQ(ZylGetTableNameFromSQL(Deep), "t");
    EXPECT_EQ(ZylGetParamsFromSQL(Deep), "a");
    EXPECT_EQ(ZylGetOrderByFromSQL(Deep, Dirs), "c");
  });
}
