// Strings, Format, numbers as text, Currency, file names and exceptions.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>

#include "host/Classes.h"
#include "host/SysUtils.h"

TEST(SysUtilsTrim, RemovesBlanksAndControlCharactersOnly) {
  EXPECT_EQ(Trim(" \t\r\nab c\x01 "), "ab c");
  EXPECT_EQ(TrimLeft("  x "), "x ");
  EXPECT_EQ(TrimRight("  x \n"), "  x");
  EXPECT_EQ(Trim(""), "");
  EXPECT_EQ(Trim("   "), "");
  EXPECT_EQ(Trim("\xE9t\xE9"), "\xE9t\xE9");  // high bytes are letters, not blanks
  EXPECT_EQ(Trim(AnsiString("\0a\0", 3)), "a");
}

TEST(SysUtilsCase, AsciiFormsLeaveAccentsAlone) {
  EXPECT_EQ(UpperCase("abc\xE9"), "ABC\xE9");
  EXPECT_EQ(LowerCase("ABC\xC9"), "abc\xC9");
  EXPECT_EQ(CompareText("abc", "ABD"), -1);
  EXPECT_TRUE(SameText("Name", "NAME"));
  EXPECT_FALSE(SameText("\xE9", "\xC9"));
}

TEST(SysUtilsCase, AnsiFormsFoldTheWholeCodePage) {
  EXPECT_EQ(AnsiUpperCase("\xE9t\xE9 \xFF \x9A"), "\xC9T\xC9 \x9F \x8A");  // é ÿ š
  EXPECT_EQ(AnsiLowerCase("\xC4\xD6\xDC"), "\xE4\xF6\xFC");
  EXPECT_EQ(AnsiUpperCase("\xDF"), "\xDF");  // ß has no single upper-case letter
  EXPECT_TRUE(AnsiSameText("\xC9T\xC9", "\xE9t\xE9"));
  EXPECT_EQ(AnsiCompareText("\xC9T\xC9", "\xE9t\xE9"), 0);
  EXPECT_FALSE(AnsiSameStr("a", "A"));
}

TEST(SysUtilsCompare, AnsiOrderFollowsLettersNotBytes) {
  // Bytes would put 'Z' before 'a' and 'é' after 'z'.
  EXPECT_LT(AnsiCompareText("apple", "Zebra"), 0);
  EXPECT_LT(AnsiCompareStr("\xE9t\xE9", "zoo"), 0);
  EXPECT_LT(AnsiCompareStr("ete", "\xE9t\xE9"), 0);  // accent decides after letters tie
  EXPECT_LT(AnsiCompareStr("abc", "Abc"), 0);        // lower before upper
  EXPECT_GT(AnsiCompareStr("abd", "Abc"), 0);        // but letters first
  EXPECT_NE(AnsiCompareStr("co-op", "coop"), 0);     // never equal when bytes differ
  EXPECT_EQ(AnsiCompareText("", ""), 0);
  EXPECT_LT(AnsiCompareText("", "a"), 0);
}

TEST(SysUtilsSearch, PositionsAreOneBasedAndZeroWhenAbsent) {
  EXPECT_EQ(AnsiPos("lo", "hello"), 4);
  EXPECT_EQ(AnsiPos("LO", "hello"), 0);
  EXPECT_EQ(AnsiPos("", "hello"), 0);
  EXPECT_EQ(AnsiPosText("LO", "hello"), 4);
  EXPECT_EQ(AnsiPosText("\xC9T\xC9", "l'\xE9t\xE9"), 3);
  EXPECT_TRUE(AnsiContainsText("Select * From T", "FROM"));
  EXPECT_FALSE(AnsiContainsText("Select", "from"));
  EXPECT_TRUE(AnsiStartsText("SEL", "select"));
  EXPECT_FALSE(AnsiStartsText("selection", "select"));
}

TEST(SysUtilsReplace, AllFirstAndIgnoringCase) {
  EXPECT_EQ(StringReplace("a-b-c", "-", "+"), "a+b+c");
  EXPECT_EQ(StringReplace("a-b-c", "-", "+", false), "a+b-c");
  EXPECT_EQ(StringReplace("aXbxc", "x", "", true, true), "abc");
  EXPECT_EQ(StringReplace("abc", "", "z"), "abc");
  EXPECT_EQ(QuotedStr("It's"), "'It''s'");
}

TEST(SysUtilsFormat, SubstitutesStringsAndIntegers) {
  EXPECT_EQ(Format("Field \"%s\" not found", {"Name"}), "Field \"Name\" not found");
  EXPECT_EQ(Format("%d rows, %s", 12, AnsiString("done")), "12 rows, done");
  EXPECT_EQ(Format("%d", INT64_MIN), "-9223372036854775808");
  EXPECT_EQ(Format("100%%", {}), "100%");
  EXPECT_EQ(Format("100%%"), "100%");
  EXPECT_EQ(Format("[%5d|%-4s|%.3d]", 42, "ab", 7), "[   42|ab  |007]");
  EXPECT_EQ(Format("%x %X %u", 255, 255, 3u), "ff FF 3");
  EXPECT_EQ(Format("%.2f", 3.14159), "3.14");
  EXPECT_EQ(Format("%s", {AnsiString("a\0b", 3)}), AnsiString("a\0b", 3));
}

TEST(SysUtilsFormat, MismatchedOrMissingArgumentsRaise) {
  EXPECT_THROW(Format("%d", {"text"}), EConvertError);
  EXPECT_THROW(Format("%s", 5), EConvertError);
  EXPECT_THROW(Format("%s %s", {"one"}), EConvertError);
  EXPECT_THROW(Format("%q", 1), EConvertError);
  EXPECT_THROW(Format("trailing %", {}), EConvertError);
  EXPECT_THROW(Format("%999999d", 1), EConvertError);  // absurd width, not a huge allocation
}

TEST(SysUtilsNumbers, IntegersReadWithinTheirRange) {
  EXPECT_EQ(StrToInt(" 42 "), 42);
  EXPECT_EQ(StrToInt("-2147483648"), INT_MIN);
  EXPECT_THROW(StrToInt("2147483648"), EConvertError);
  EXPECT_EQ(StrToInt64("9223372036854775807"), INT64_MAX);
  EXPECT_EQ(StrToInt64("-9223372036854775808"), INT64_MIN);
  EXPECT_THROW(StrToInt64("9223372036854775808"), EConvertError);
  EXPECT_EQ(StrToInt("$1F"), 31);
  EXPECT_EQ(StrToInt("0x1f"), 31);
  EXPECT_THROW(StrToInt("12abc"), EConvertError);
  EXPECT_THROW(StrToInt(""), EConvertError);
  EXPECT_THROW(StrToInt("-"), EConvertError);
  EXPECT_EQ(StrToIntDef("x", -7), -7);
  try {
    StrToInt("abc");
    FAIL();
  } catch (const EConvertError& E) {
    EXPECT_EQ(E.Message(), "'abc' is not a valid integer value");
  }
}

TEST(SysUtilsNumbers, FloatsRoundTripThroughText) {
  for (double V : {0.1, 1.0 / 3, 1e300, -2.5e-300, 123456789.125, 0.0})
    EXPECT_EQ(StrToFloat(FloatToStr(V)), V) << FloatToStr(V);
  EXPECT_EQ(FloatToStr(0.1), "0.1");
  EXPECT_EQ(FloatToStr(2.5), "2.5");
  EXPECT_THROW(StrToFloat("1,5"), EConvertError);
  EXPECT_THROW(StrToFloat("0x1p3"), EConvertError);
  EXPECT_THROW(StrToFloat("1e999"), EConvertError);
  EXPECT_TRUE(std::isinf(StrToFloat("INF")));
}

TEST(SysUtilsNumbers, Booleans) {
  EXPECT_EQ(BoolToStr(true), "True");
  EXPECT_TRUE(StrToBool("true"));
  EXPECT_FALSE(StrToBool("0"));
  EXPECT_TRUE(StrToBool("-1"));
  EXPECT_THROW(StrToBool("yes"), EConvertError);
}

TEST(SysUtilsCurrency, KeepsFourDecimalsExactly) {
  EXPECT_EQ(StrToCurr("12.3456").Scaled(), 123456);
  EXPECT_EQ(StrToCurr("-0.5").Scaled(), -5000);
  EXPECT_EQ(StrToCurr("1.00005").Scaled(), 10000);   // half to even
  EXPECT_EQ(StrToCurr("1.00015").Scaled(), 10002);
  EXPECT_EQ(StrToCurr("1.000050001").Scaled(), 10001);  // past the half: up
  EXPECT_EQ(StrToCurr("-1.00015").Scaled(), -10002);
  EXPECT_EQ(CurrToStr(Currency::FromScaled(123450)), "12.345");
  EXPECT_EQ(CurrToStr(Currency::FromScaled(-5)), "-0.0005");
  EXPECT_EQ(CurrToStr(Currency::FromInt(7)), "7");
  EXPECT_EQ(Currency::FromDouble(0.00005).Scaled(), 0);
  EXPECT_EQ(Currency::FromDouble(2.5).Scaled(), 25000);
  EXPECT_THROW(Currency::FromDouble(1e300), EConvertError);
  EXPECT_THROW(Currency::FromDouble(std::nan("")), EConvertError);
  EXPECT_THROW(StrToCurr("abc"), EConvertError);
  EXPECT_THROW(StrToCurr("99999999999999999999"), EConvertError);
}

TEST(SysUtilsFiles, NamesSplitAtTheLastDelimiter) {
  EXPECT_EQ(ExtractFilePath("/opt/lib/libx.so"), "/opt/lib/");
  EXPECT_EQ(ExtractFileDir("/opt/lib/libx.so"), "/opt/lib");
  EXPECT_EQ(ExtractFileDir("/x"), "/");
  EXPECT_EQ(ExtractFileName("/opt/lib/libx.so"), "libx.so");
  EXPECT_EQ(ExtractFileExt("/a.b/c"), "");
  EXPECT_EQ(ExtractFileExt("c.tar.gz"), ".gz");
  EXPECT_EQ(ChangeFileExt("a/b.dll", ".so"), "a/b.so");
  EXPECT_EQ(IncludeTrailingPathDelimiter("/tmp"), "/tmp/");
  EXPECT_EQ(IncludeTrailingPathDelimiter("/tmp/"), "/tmp/");
  EXPECT_EQ(ExcludeTrailingPathDelimiter("/tmp/"), "/tmp");
  EXPECT_EQ(ExcludeTrailingPathDelimiter("/"), "/");
}

TEST(SysUtilsErrors, DatabaseErrorNamesTheComponent) {
  TComponent C(nullptr);
  C.SetName("Session1");
  try {
    DatabaseError("Not connected", &C);
    FAIL();
  } catch (const EDatabaseError& E) {
    EXPECT_EQ(E.Message(), "Session1: Not connected");
  }
  try {
    DatabaseError("Plain");
    FAIL();
  } catch (const Exception& E) {
    EXPECT_STREQ(E.what(), "Plain");
  }
}

TEST(SysUtilsErrors, ExceptionFamilyCatchesByBase) {
  EXPECT_THROW(throw EVariantTypeCastError("x"), EConvertError);
  EXPECT_THROW(throw EReadError("x"), EStreamError);
  EXPECT_THROW(throw EFOpenError("x"), Exception);
  EXPECT_EQ(SysErrorMessage(2), "No such file or directory");
}
