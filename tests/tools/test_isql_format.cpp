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
  // Control characters and bytes that are no UTF-8 never reach the terminal raw.
  EXPECT_EQ(DisplayCell(TCell::Of("a\nb\tc\rd\x01\xff")), "a\\nb\\tc\\rd\\x01\\xff");
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
  p->Error(-131, "Syntax error", "tour.sql:12: ");
  // The tool's own errors (code 0) carry no code; a script's name and line go first.
  EXPECT_EQ(s.errors.str(),
            "Error -141: Table 'x' not found (42W33)\nThe cursor is not opened\ntour.sql:12: Error -131: Syntax error\n");
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

TEST(IsqlFormat, WidthsComeFromTheWholeResultAndLaterWiderValuesWrapInTheirColumn) {
  Streams s;
  auto p = s.Make(TFormat::fmTable);
  p->BeginResult({{"v", false}, {"n", true}});
  p->Row({TCell::Of("ab"), TCell::Of("1")});
  p->Row({TCell::Of("wide value"), TCell::Of("2")});  // the last row widens the first
  p->EndResult(2);
  EXPECT_EQ(s.data.str(), "v          | n\n-----------+--\nab         | 1\nwide value | 2\n(2 rows)\n");
  Streams t;
  auto q = t.Make(TFormat::fmTable);
  q->BeginResult({{"v", false}, {"n", true}});
  for (size_t i = 0; i < kBufferedRows; ++i) q->Row({TCell::Of("abcd"), TCell::Of("1")});
  // The collected rows are out before the result ends, so a long run of rows streams.
  EXPECT_NE(t.data.str().find("v    | n\n-----+--\nabcd | 1\n"), std::string::npos);
  q->Row({TCell::Of("abcdefghij"), TCell::Of("7")});
  q->EndResult(static_cast<int64_t>(kBufferedRows) + 1);
  const std::string out = t.data.str();
  EXPECT_EQ(out.find("v    | n\n"), out.rfind("v    | n\n"));  // one header
  EXPECT_NE(out.find("\nabcd | 7\nefgh |\nij   |\n(10001 rows)\n"), std::string::npos) << out.substr(out.size() - 80);
}

TEST(IsqlFormat, WideCharactersTakeTwoColumnsAndCombiningMarksNone) {
  Streams s;
  auto p = s.Make(TFormat::fmTable);
  p->BeginResult({{"name", false}, {"n", true}});
  p->Row({TCell::Of("\xe6\x9d\xb1\xe4\xba\xac"), TCell::Of("1")});  // 東京: four columns
  p->Row({TCell::Of("e\xcc\x81t\xc3\xa9"), TCell::Of("2")});          // e + combining acute, é: three
  p->Row({TCell::Of("\xf0\x9f\x98\x80!"), TCell::Of("3")});             // an emoji and !: three
  p->EndResult(3);
  EXPECT_EQ(s.data.str(),
            "name | n\n-----+--\n\xe6\x9d\xb1\xe4\xba\xac | 1\ne\xcc\x81t\xc3\xa9  | 2\n\xf0\x9f\x98\x80!  | 3\n(3 rows)\n");
  // A cut never leaves half a wide character: 5 columns hold two of them.
  EXPECT_EQ(DisplayCell(TCell::Of("\xe6\x9d\xb1\xe4\xba\xac\xe6\x9d\xb1"), 5), "\xe6\x9d\xb1\xe4\xba\xac... (3 chars)");
}

TEST(IsqlFormat, SettingsChangeNullHeadersAndLayout) {
  TPrintSettings set;
  set.NullText = "<null>";
  set.Headers = false;
  Streams s;
  auto p = MakePrinter(set, s.data, s.data, s.errors);
  Feed(*p);
  EXPECT_EQ(s.data.str(), " 1 | one | <null>\n22 |     | a, \"b\"\n(2 rows)\n");
  // Expanded: one field per line, automatically when the table is wider than the terminal.
  set = TPrintSettings();
  set.Expanded = TExpanded::exAuto;
  set.TerminalWidth = 12;
  Streams t;
  auto x = MakePrinter(set, t.data, t.data, t.errors);
  Feed(*x);
  EXPECT_EQ(t.data.str(),
            "-[ RECORD 1 ]\nid   | 1\nname | one\nnote | (NULL)\n-[ RECORD 2 ]\nid   | 22\nname |\nnote | a, \"b\"\n(2 rows)\n");
  set.TerminalWidth = 200;  // wide enough: a table
  Streams u;
  auto y = MakePrinter(set, u.data, u.data, u.errors);
  Feed(*y);
  EXPECT_EQ(u.data.str().rfind("id | name", 0), 0u);
  set.Format = TFormat::fmCsv;
  set.Headers = false;
  Streams c;
  auto z = MakePrinter(set, c.data, c.notes, c.errors);
  Feed(*z);
  EXPECT_EQ(c.data.str(), "1,one,\r\n22,\"\",\"a, \"\"b\"\"\"\r\n");
}

namespace {
// Records what reaches the pager, and whether it was asked for.
class TRecordingPager : public TPager {
 public:
  std::ostringstream Shown;
  int Opened = 0, Closed = 0;
  std::ostream* Open() override {
    ++Opened;
    return &Shown;
  }
  void Close() override { ++Closed; }
};
}  // namespace

TEST(IsqlFormat, TablesLongerThanTheScreenGoThroughThePager) {
  TPrintSettings set;
  set.TerminalWidth = 80;
  set.TerminalHeight = 10;
  TRecordingPager pager;
  Streams s;
  auto p = MakePrinter(set, s.data, s.data, s.errors, &pager);
  Feed(*p);  // five lines: fits
  EXPECT_EQ(pager.Opened, 0);
  p->BeginResult({{"n", true}});
  for (int i = 0; i < 20; ++i) p->Row({TCell::Of(std::to_string(i))});
  p->EndResult(20);
  EXPECT_EQ(pager.Opened, 1);
  EXPECT_EQ(pager.Closed, 1);
  EXPECT_NE(pager.Shown.str().find("19\n(20 rows)\n"), std::string::npos);
  EXPECT_EQ(s.data.str().find("19"), std::string::npos);
  p->Affected(2);  // after the table, back on the screen
  EXPECT_NE(s.data.str().find("2 rows affected"), std::string::npos);
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
