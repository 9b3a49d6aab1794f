// The printers of the interactive SQL tool: aligned tables with NULL and long values, CSV and
// JSON that carry every value whole and stay machine-readable.
#include <gtest/gtest.h>

#include <sstream>

#include "tools/isql/IsqlFormat.h"

using namespace zylisql;

namespace {

struct Streams {
  std::ostringstream data, notes, errors;
  std::unique_ptr<TPrinter> Make(TFormat f) { return MakePrinter(f, data, notes, errors); }
};

const std::vector<TColumn> kCols = {{"id", true}, {"name", false}, {"note", false}};

void Feed(TPrinter& p) {
  p.BeginResult(kCols);
  p.Row({TCell::Of("1"), TCell::Of("one"), TCell::NullCell()});
  p.Row({TCell::Of("22"), TCell::Of(""), TCell::Of("a, \"b\"")});
  p.EndResult(2);
}

}  // namespace

TEST(IsqlFormat, TableAlignsColumnsAndMarksNull) {
  Streams s;
  auto p = s.Make(TFormat::fmTable);
  Feed(*p);
  EXPECT_EQ(s.data.str(),
            "id | name | note\n"
            "---+------+-------\n"
            " 1 | one  | (NULL)\n"
            "22 |      | a, \"b\"\n"
            "(2 rows)\n");
  p->Affected(1);
  EXPECT_NE(s.data.str().find("1 row affected\n"), std::string::npos);
}

TEST(IsqlFormat, TableWithNoRowsStillShowsTheColumns) {
  Streams s;
  auto p = s.Make(TFormat::fmTable);
  p->BeginResult({{"a", false}});
  p->EndResult(0);
  EXPECT_EQ(s.data.str(), "a\n-\n(0 rows)\n");
}

TEST(IsqlFormat, LongValuesAreCutForDisplayWithTheirLength) {
  TCell big = TCell::Of(std::string(70000, 'x'));
  std::string shown = DisplayCell(big);
  EXPECT_EQ(shown, std::string(kDisplayWidth, 'x') + "... (70000 chars)");
  // A value the database side only partly delivered notes the full length all the same.
  TCell part{false, "abc", false, 5000};
  EXPECT_EQ(DisplayCell(part), "abc... (5000 chars)");
  TCell bin{false, "0x" + std::string(200, 'a'), true, 100};
  EXPECT_EQ(DisplayCell(bin), "0x" + std::string(kDisplayWidth - 2, 'a') + "... (100 bytes)");
  EXPECT_EQ(DisplayCell(TCell::Of(std::string(kDisplayWidth, 'y'))), std::string(kDisplayWidth, 'y'));
}

TEST(IsqlFormat, DisplayMakesLineEndsVisibleAndNeverSplitsACharacter) {
  EXPECT_EQ(DisplayCell(TCell::Of("a\nb\tc\rd\x01")), "a\\nb\\tc\\rd?");
  std::string umlauts;
  for (int i = 0; i < 50; ++i) umlauts += "\xc3\xa4";  // 50 x "ä"
  std::string shown = DisplayCell(TCell::Of(umlauts), 10);
  std::string expected;
  for (int i = 0; i < 10; ++i) expected += "\xc3\xa4";
  EXPECT_EQ(shown, expected + "... (50 chars)");
}

TEST(IsqlFormat, TableWidthsCountCharactersNotBytes) {
  Streams s;
  auto p = s.Make(TFormat::fmTable);
  p->BeginResult({{"w", false}, {"n", true}});
  p->Row({TCell::Of("\xc3\xa4\xc3\xa4"), TCell::Of("1")});
  p->Row({TCell::Of("abc"), TCell::Of("10")});
  p->EndResult(2);
  EXPECT_EQ(s.data.str(), "w   | n\n----+---\n\xc3\xa4\xc3\xa4  |  1\nabc | 10\n(2 rows)\n");
}

TEST(IsqlFormat, CsvQuotesWhatNeedsItAndTellsNullFromEmpty) {
  EXPECT_EQ(CsvField(TCell::NullCell()), "");
  EXPECT_EQ(CsvField(TCell::Of("")), "\"\"");
  EXPECT_EQ(CsvField(TCell::Of("plain")), "plain");
  EXPECT_EQ(CsvField(TCell::Of("a,b")), "\"a,b\"");
  EXPECT_EQ(CsvField(TCell::Of("say \"hi\"")), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(CsvField(TCell::Of("two\nlines")), "\"two\nlines\"");
  EXPECT_EQ(CsvField(TCell::Of(" padded")), "\" padded\"");
  Streams s;
  auto p = s.Make(TFormat::fmCsv);
  Feed(*p);
  p->BeginResult({{"x", false}});
  p->EndResult(0);
  EXPECT_EQ(s.data.str(), "id,name,note\r\n1,one,\r\n22,\"\",\"a, \"\"b\"\"\"\r\n\r\nx\r\n");
  EXPECT_EQ(s.notes.str(), "(2 rows)\n(0 rows)\n");  // counts stay out of the data
}

TEST(IsqlFormat, CsvAndJsonCarryLongValuesWhole) {
  std::string big(50000, 'z');
  Streams s;
  auto csv = s.Make(TFormat::fmCsv);
  csv->BeginResult({{"v", false}});
  csv->Row({TCell::Of(big)});
  EXPECT_NE(s.data.str().find(big), std::string::npos);
  Streams t;
  auto json = t.Make(TFormat::fmJson);
  json->BeginResult({{"v", false}});
  json->Row({TCell::Of(big)});
  json->EndResult(1);
  EXPECT_NE(t.data.str().find("\"" + big + "\""), std::string::npos);
}

TEST(IsqlFormat, JsonEscapesAndKeepsNumbersUnquotedOnlyWhenValid) {
  EXPECT_EQ(JsonString("a\"b\\c\n\x01"), "\"a\\\"b\\\\c\\n\\u0001\"");
  EXPECT_EQ(JsonString("\xc3\xa4"), "\"\xc3\xa4\"");   // UTF-8 passes
  EXPECT_EQ(JsonString("\xe4x"), "\"\\u00e4x\"");       // a stray byte as Latin-1
  EXPECT_EQ(JsonValue(TCell::Of("-12.5e3"), true), "-12.5e3");
  EXPECT_EQ(JsonValue(TCell::Of("0"), true), "0");
  EXPECT_EQ(JsonValue(TCell::Of("inf"), true), "\"inf\"");
  EXPECT_EQ(JsonValue(TCell::Of("007"), true), "\"007\"");
  EXPECT_EQ(JsonValue(TCell::Of("1."), true), "\"1.\"");
  EXPECT_EQ(JsonValue(TCell::Of("12"), false), "\"12\"");
  EXPECT_EQ(JsonValue(TCell::NullCell(), true), "null");
  Streams s;
  auto p = s.Make(TFormat::fmJson);
  Feed(*p);
  p->Affected(3);
  p->OutParams({{"total", true}, {"note", false}}, {TCell::Of("42"), TCell::NullCell()});
  EXPECT_EQ(s.data.str(),
            "{\"columns\":[\"id\",\"name\",\"note\"],\"rows\":[[1,\"one\",null],[22,\"\",\"a, \\\"b\\\"\"]],\"count\":2}\n"
            "{\"affected\":3}\n"
            "{\"out\":{\"total\":42,\"note\":null}}\n");
}

TEST(IsqlFormat, ErrorsGoToTheErrorStreamWithTheirCode) {
  Streams s;
  auto p = s.Make(TFormat::fmTable);
  p->Error(-141, "Error -141: Table 'x' not found (42W33)");
  p->Error(0, "The cursor is not opened");
  EXPECT_EQ(s.errors.str(), "Error -141: Table 'x' not found (42W33)\nError 0: The cursor is not opened\n");
  EXPECT_EQ(s.data.str(), "");
}

TEST(IsqlFormat, FormatNames) {
  TFormat f = TFormat::fmTable;
  EXPECT_TRUE(ParseFormat("json", f));
  EXPECT_EQ(f, TFormat::fmJson);
  EXPECT_TRUE(ParseFormat("csv", f));
  EXPECT_EQ(f, TFormat::fmCsv);
  EXPECT_FALSE(ParseFormat("xml", f));
  EXPECT_EQ(f, TFormat::fmCsv);
}

TEST(IsqlFormat, LongResultsPrintTheirHeaderOnceWithWidthsFromTheFirstPage) {
  Streams s;
  auto p = s.Make(TFormat::fmTable);
  p->BeginResult({{"v", false}});
  for (int i = 0; i < 1000; ++i) p->Row({TCell::Of("ab")});
  // The first page is out before the result ends, so a long run of rows streams.
  EXPECT_NE(s.data.str().find("v\n--\nab\n"), std::string::npos);
  p->Row({TCell::Of("wider")});
  p->EndResult(1001);
  const std::string out = s.data.str();
  EXPECT_EQ(out.find("v\n--\n"), out.rfind("v\n--\n"));  // one header
  EXPECT_NE(out.find("\nwider\n(1001 rows)\n"), std::string::npos);
}

// Whatever bytes a value holds, the JSON text is well-formed UTF-8 without raw control characters.
TEST(IsqlFormat, JsonOfArbitraryBytesIsWellFormedUtf8) {
  uint32_t seed = 777;
  for (int round = 0; round < 3000; ++round) {
    std::string v;
    int n = static_cast<int>(seed % 12);
    for (int i = 0; i < n; ++i) {
      seed = seed * 1664525u + 1013904223u;
      v += static_cast<char>(seed >> 24);
    }
    seed = seed * 1664525u + 1013904223u;
    std::string j = JsonString(v);
    for (size_t i = 0; i < j.size();) {
      unsigned char c = static_cast<unsigned char>(j[i]);
      ASSERT_GE(c, 0x20) << "raw control byte";
      size_t len = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
      ASSERT_NE(len, 0u) << "invalid lead byte";
      ASSERT_LE(i + len, j.size());
      for (size_t k = 1; k < len; ++k) ASSERT_EQ(static_cast<unsigned char>(j[i + k]) & 0xC0, 0x80);
      i += len;
    }
    std::string shown = DisplayCell(TCell::Of(v), 5);  // cutting never splits a character
    EXPECT_LE(shown.size(), v.size() * 2 + 40);
  }
}

TEST(IsqlFormat, JsonTakesOnlyWellFormedUtf8AsIs) {
  EXPECT_EQ(JsonString("\xf0\x9f\x98\x80"), "\"\xf0\x9f\x98\x80\"");   // U+1F600
  EXPECT_EQ(JsonString("\xf8\x80\x80"), "\"\\u00f8\\u0080\\u0080\"");  // no 5-byte forms
  EXPECT_EQ(JsonString("\xc0\xaf"), "\"\\u00c0\\u00af\"");              // overlong "/"
  EXPECT_EQ(JsonString("\xed\xa0\x80"), "\"\\u00ed\\u00a0\\u0080\"");    // a surrogate
  EXPECT_EQ(JsonString("\xe2\x82"), "\"\\u00e2\\u0082\"");              // cut short
}
