// Value conversion of TAsaSQL: the date-time record both ways, buffers to Variants and back with
// truncation, indicators, and round trips of dates, times, time stamps, currency and long text
// through a real database.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "tests/asa/AsaStatementEnv.h"

namespace {

using zylasa::AsaSQLTest;
using zylasa::QueryText;

Tsqldatetime Stamp(unsigned short Year, unsigned char Month, unsigned char Dow, unsigned short Doy, unsigned char Day,
                   unsigned char Hour, unsigned char Min, unsigned char Sec, unsigned Micro) {
  Tsqldatetime S;
  std::memset(&S, 0, sizeof S);
  S.year = Year;
  S.month = Month;
  S.day_of_week = Dow;
  S.day_of_year = Doy;
  S.day = Day;
  S.hour = Hour;
  S.minute = Min;
  S.second = Sec;
  S.microsecond = Micro;
  return S;
}

TEST(AsaTimeStamp, RecordReadsAsDateTimeWithMilliseconds) {
  TDateTime V = GetAsaTimeStamp(Stamp(2000, 1, 2, 59, 29, 13, 5, 9, 123456));
  int Y, Mo, D, H, Mi, S, Ms;
  DecodeDateTime(V, Y, Mo, D, H, Mi, S, Ms);
  EXPECT_EQ(Y, 2000);
  EXPECT_EQ(Mo, 2);
  EXPECT_EQ(D, 29);
  EXPECT_EQ(H, 13);
  EXPECT_EQ(Mi, 5);
  EXPECT_EQ(S, 9);
  EXPECT_EQ(Ms, 123);
}

TEST(AsaTimeStamp, InvalidPartsReadAsZeroInsteadOfFailing) {
  TDateTime April31 = GetAsaTimeStamp(Stamp(2001, 3, 0, 0, 31, 8, 15, 0, 0));
  EXPECT_DOUBLE_EQ(April31, EncodeTime(8, 15, 0, 0)) << "day 31 of April: date 0 plus the time";
  TDateTime BadTime = GetAsaTimeStamp(Stamp(2001, 3, 0, 0, 30, 24, 0, 0, 0));
  EXPECT_DOUBLE_EQ(BadTime, EncodeDate(2001, 4, 30));
  EXPECT_DOUBLE_EQ(GetAsaTimeStamp(Stamp(0, 0, 0, 0, 0, 0, 0, 0, 0)), 0.0);
  EXPECT_DOUBLE_EQ(GetAsaTimeStamp(Stamp(2001, 12, 0, 0, 1, 0, 0, 0, 0)), 0.0) << "month 12 does not exist";
  // Before the epoch the time of day counts away from zero.
  TDateTime Early = GetAsaTimeStamp(Stamp(1899, 11, 0, 0, 29, 12, 0, 0, 0));
  EXPECT_DOUBLE_EQ(Early, -1.5);
}

TEST(AsaTimeStamp, EveryCalendarDayMatchesTheHostEncoding) {
  // The whole calendar 1..9999 against the host's checked EncodeDate, including each 31st and
  // 29 February so that invalid days must read as date 0 exactly where EncodeDate refuses them.
  int Mismatches = 0;
  for (int Year = 1; Year <= 9999; ++Year) {
    for (int Month = 1; Month <= 12; ++Month) {
      for (int Day = 1; Day <= 31; ++Day) {
        TDateTime Expected = 0;
        if (!TryEncodeDate(Year, Month, Day, Expected)) Expected = 0;
        const TDateTime Got = GetAsaTimeStamp(Stamp(static_cast<unsigned short>(Year), static_cast<unsigned char>(Month - 1),
                                                    0, 0, static_cast<unsigned char>(Day), 0, 0, 0, 0));
        if (Got != Expected && ++Mismatches <= 5)
          ADD_FAILURE() << Year << "-" << Month << "-" << Day << ": " << Got << " instead of " << Expected;
      }
    }
  }
  EXPECT_EQ(Mismatches, 0);
  EXPECT_DOUBLE_EQ(GetAsaTimeStamp(Stamp(10000, 0, 0, 0, 1, 0, 0, 0, 0)), 0.0) << "year 10000 is outside the host calendar";
}

TEST(AsaTimeStamp, TimeOfDayMatchesTheHostEncodingOnBothSidesOfTheEpoch) {
  for (int MSecOfDay : {0, 1, 999, 1000, 43200000, 86399999}) {
    const int H = MSecOfDay / 3600000, Mi = MSecOfDay / 60000 % 60, S = MSecOfDay / 1000 % 60, Ms = MSecOfDay % 1000;
    const TDateTime T = EncodeTime(H, Mi, S, Ms);
    const auto Micro = static_cast<unsigned>(Ms * 1000 + 999);  // sub-millisecond digits are dropped
    EXPECT_DOUBLE_EQ(GetAsaTimeStamp(Stamp(2024, 5, 0, 0, 17, static_cast<unsigned char>(H), static_cast<unsigned char>(Mi),
                                           static_cast<unsigned char>(S), Micro)),
                     EncodeDate(2024, 6, 17) + T);
    EXPECT_DOUBLE_EQ(GetAsaTimeStamp(Stamp(1800, 0, 0, 0, 1, static_cast<unsigned char>(H), static_cast<unsigned char>(Mi),
                                           static_cast<unsigned char>(S), Micro)),
                     EncodeDate(1800, 1, 1) - T);
  }
}

TEST(AsaTimeStamp, PutWritesEveryFieldOfTheRecord) {
  Tsqldatetime S;
  PutAsaTimeStamp(true, EncodeDateTime(2000, 2, 29, 13, 5, 9, 123), S);
  EXPECT_EQ(+S.year, 2000);
  EXPECT_EQ(+S.month, 1);
  EXPECT_EQ(+S.day, 29);
  EXPECT_EQ(+S.day_of_week, 2) << "a Tuesday";
  EXPECT_EQ(+S.day_of_year, 59);
  EXPECT_EQ(+S.hour, 13);
  EXPECT_EQ(+S.minute, 5);
  EXPECT_EQ(+S.second, 9);
  const a_sql_uint32 Micro = S.microsecond;  // a packed field: read it by value
  EXPECT_EQ(Micro, 123000u);
}

TEST(AsaTimeStamp, TimeValuesOnDayZeroKeepNoDate) {
  Tsqldatetime S;
  PutAsaTimeStamp(false, EncodeTime(10, 30, 0, 0), S);
  EXPECT_EQ(+S.year, 0);
  EXPECT_EQ(+S.month, 0);
  EXPECT_EQ(+S.day, 0);
  EXPECT_EQ(+S.day_of_week, 0);
  EXPECT_EQ(+S.day_of_year, 0);
  EXPECT_EQ(+S.hour, 10);
  EXPECT_EQ(+S.minute, 30);
  PutAsaTimeStamp(false, EncodeDateTime(2000, 3, 1, 10, 30, 0, 0), S);
  EXPECT_EQ(+S.year, 2000);
  EXPECT_EQ(+S.month, 2);
  EXPECT_EQ(+S.day, 1);
  EXPECT_EQ(+S.day_of_year, 60);
  PutAsaTimeStamp(true, NAN, S);
  EXPECT_EQ(+S.year, 0) << "a value the host cannot split writes an empty record";
}

// Buffer conversions need no server: a statement without a session converts as any other.
TEST(AsaFieldData, BinaryTakesBytesOrTextAndRefusesWhatDoesNotFit) {
  TAsaSQL Q(nullptr);
  uint8_t Buffer[5] = {0};
  const uint8_t Bytes[5] = {1, 2, 3, 4, 5};
  Q.PutFieldData(Buffer, 0, 5, ztBinary, VarByteArrayOf(Bytes, 3), nullptr);
  uint16_t Len;
  std::memcpy(&Len, Buffer, 2);
  EXPECT_EQ(Len, 3);
  Variant V = Q.GetFieldData(Buffer, 0, 5, ztBinary, nullptr);
  EXPECT_EQ(VarArrayToBytes(V), (std::vector<uint8_t>{1, 2, 3}));
  // More bytes than the field holds, or a value that has no bytes, raise and leave the buffer.
  EXPECT_THROW(Q.PutFieldData(Buffer, 0, 5, ztBinary, VarByteArrayOf(Bytes, 5), nullptr), EConvertError);
  EXPECT_THROW(Q.PutFieldData(Buffer, 0, 5, ztBinary, Variant("text"), nullptr), EConvertError);
  EXPECT_THROW(Q.PutFieldData(Buffer, 0, 5, ztBinary, Variant(7), nullptr), EConvertError);
  EXPECT_EQ(VarArrayToBytes(Q.GetFieldData(Buffer, 0, 5, ztBinary, nullptr)), (std::vector<uint8_t>{1, 2, 3}));
  Q.PutFieldData(Buffer, 0, 5, ztBinary, Variant("ab"), nullptr);
  EXPECT_EQ(VarArrayToBytes(Q.GetFieldData(Buffer, 0, 5, ztBinary, nullptr)), (std::vector<uint8_t>{'a', 'b'}))
      << "a shorter value reads back with its own length";
}

TEST(AsaFieldData, BinaryReadsAsLongAsItsStoredLength) {
  TAsaSQL Q(nullptr);
  uint8_t Buffer[12] = {2, 0, 0xAB, 0xCD, 0xEF};  // a VARBINARY(10) holding two bytes
  EXPECT_EQ(VarArrayToBytes(Q.GetFieldData(Buffer, 0, 12, ztBinary, nullptr)), (std::vector<uint8_t>{0xAB, 0xCD}));
  const uint16_t Lying = 500;  // longer than the field: cut to the field
  std::memcpy(Buffer, &Lying, 2);
  EXPECT_EQ(VarArrayToBytes(Q.GetFieldData(Buffer, 0, 12, ztBinary, nullptr)).size(), 10u);
}

TEST(AsaFieldData, ScalarsRoundTripThroughTheirBufferForms) {
  TAsaSQL Q(nullptr);
  uint8_t Buffer[64] = {0};
  Q.PutFieldData(Buffer, 0, 8, ztInt64, Variant(9007199254740993LL), nullptr);
  Variant Big = Q.GetFieldData(Buffer, 0, 8, ztInt64, nullptr);
  EXPECT_EQ(Big.VarType(), varInt64);
  EXPECT_EQ(Big.AsInt64(), 9007199254740993LL);
  Q.PutFieldData(Buffer, 0, 8, ztInt64, Variant(2.5), nullptr);
  EXPECT_EQ(Q.GetFieldData(Buffer, 0, 8, ztInt64, nullptr).AsInt64(), 2) << "halves to even";

  // Text up to Size - 1 characters, always terminated; longer text raises and writes nothing.
  std::memset(Buffer, 'z', sizeof Buffer);
  Q.PutFieldData(Buffer, 0, 6, ztString, Variant("abcde"), nullptr);
  EXPECT_EQ(Q.GetFieldData(Buffer, 0, 6, ztString, nullptr).AsString(), "abcde");
  EXPECT_EQ(Buffer[5], 0);
  EXPECT_EQ(Buffer[6], 'z');
  EXPECT_THROW(Q.PutFieldData(Buffer, 0, 6, ztString, Variant("abcdefgh"), nullptr), EConvertError);
  EXPECT_EQ(Q.GetFieldData(Buffer, 0, 6, ztString, nullptr).AsString(), "abcde");
  // A value that does not convert raises the host's conversion error; the buffer keeps its value.
  Q.PutFieldData(Buffer, 0, 4, ztInteger, Variant(77), nullptr);
  EXPECT_THROW(Q.PutFieldData(Buffer, 0, 4, ztInteger, Variant("not a number"), nullptr), EConvertError);
  EXPECT_THROW(Q.PutFieldData(Buffer, 0, 4, ztInteger, Variant(5e9), nullptr), EConvertError);
  EXPECT_THROW(Q.PutFieldData(Buffer, 0, 8, ztInt64, Variant(1e300), nullptr), EConvertError);
  EXPECT_EQ(Q.GetFieldData(Buffer, 0, 4, ztInteger, nullptr).AsInteger(), 77);
}

TEST(AsaFieldData, ReadingIntoAVariantGivesWhatTheGeneralReadGives) {
  // The in-place read of every kind, into one Variant that held each other kind before.
  TAsaSQL Q(nullptr);
  uint8_t Buffer[128] = {0};
  struct Field {
    TZyloFieldTypes Type;
    int32_t Offset, Size;
    Variant Put;
  } Fields[] = {
      {ztInteger, 0, 4, Variant(-123456)},
      {ztFloat, 8, 8, Variant(2.5e-3)},
      {ztCurrency, 16, 8, Variant(Currency::FromDouble(-98.7654))},
      {ztDate, 24, sizeof(Tsqldatetime), Variant::FromDateTime(EncodeDate(1999, 12, 31))},
      {ztTime, 40, sizeof(Tsqldatetime), Variant::FromDateTime(EncodeTime(23, 59, 58, 987))},
      {ztDateTime, 56, sizeof(Tsqldatetime), Variant::FromDateTime(EncodeDateTime(1850, 6, 1, 6, 0, 0, 500))},
      {ztString, 72, 41, Variant("a text longer than a small-string buffer")},
      {ztBoolean, 113, 2, Variant(true)},
  };
  for (const Field& F : Fields) Q.PutFieldData(Buffer, F.Offset, F.Size, F.Type, F.Put, nullptr);
  Variant Into("a string the next reads must replace whole");
  for (int Round = 0; Round < 2; ++Round) {
    for (const Field& F : Fields) {
      const Variant General = Q.GetFieldData(Buffer, F.Offset, F.Size, F.Type, nullptr);
      Q.GetFieldDataInto(Into, Buffer, F.Offset, F.Size, F.Type, nullptr);
      EXPECT_EQ(Into.VarType(), General.VarType()) << F.Type;
      EXPECT_TRUE(Into == General) << F.Type;
    }
  }
  Q.GetFieldDataInto(Into, nullptr, 0, 4, ztInteger, nullptr);
  EXPECT_TRUE(Into.IsNull()) << "no buffer reads as Null, as the general read does";
}

TEST(AsaFieldData, IndicatorsMarkNullAndTruncation) {
  TAsaSQL Q(nullptr);
  uint8_t Ind[6];
  std::memset(Ind, 0, sizeof Ind);
  Q.PutNullIndicator(Ind, 1, true);
  EXPECT_TRUE(Q.GetNullIndicator(Ind, 1));
  EXPECT_FALSE(Q.GetNullIndicator(Ind, 0));
  const int16_t Long = 500;
  std::memcpy(Ind + 4, &Long, 2);
  EXPECT_TRUE(Q.GetBlobTruncIndicator(Ind, 0)) << "BlobSize 0: every long value goes through its stream";
  Q.SetBlobSize(100);
  EXPECT_FALSE(Q.GetBlobTruncIndicator(Ind, 0));
  EXPECT_TRUE(Q.GetBlobTruncIndicator(Ind, 2));
  EXPECT_FALSE(Q.IsBlobTruncated(nullptr));
}

class AsaConvert : public AsaSQLTest {};

TEST_F(AsaConvert, DatesTimesAndTimeStampsRoundTrip) {
  Connect();
  Exec("create table dt (id integer, d date, t time, ts timestamp)");
  TAsaSQL* Q = NewSQL();
  const TDateTime Day = EncodeDate(1999, 12, 31);
  const TDateTime Clock = EncodeTime(23, 59, 58, 987);
  const TDateTime Both = EncodeDateTime(2000, 2, 29, 13, 5, 9, 123);
  const TDateTime Old = EncodeDateTime(1850, 6, 1, 6, 0, 0, 500);
  ASSERT_TRUE(Q->Execute("insert into dt values (?, ?, ?, ?)",
                         {1, Variant::FromDateTime(Day), Variant::FromDateTime(Clock), Variant::FromDateTime(Both)}));
  ASSERT_TRUE(Q->Execute("insert into dt values (?, ?, ?, ?)",
                         {2, Variant::FromDateTime(Old), Variant::FromDateTime(Clock), Variant::FromDateTime(Old)}));
  EXPECT_EQ(QueryText(*Session, "select ts from dt where id = 1"), "2000-02-29 13:05:09.123");
  ASSERT_TRUE(Q->OpenRead("select d, t, ts from dt order by id", {ZylEmptyParam}));
  EXPECT_EQ(Q->GetFieldType("t"), ztTime);
  EXPECT_DOUBLE_EQ(Value(Q, "d").AsDateTime(), Day);
  EXPECT_NEAR(Value(Q, "t").AsDateTime(), Clock, 1e-9);
  EXPECT_NEAR(Value(Q, "ts").AsDateTime(), Both, 1e-9);
  EXPECT_EQ(Value(Q, "ts").VarType(), varDate);
  ASSERT_TRUE(Q->Next());
  EXPECT_NEAR(Value(Q, "ts").AsDateTime(), Old, 1e-9) << "a time stamp before the epoch";
}

TEST_F(AsaConvert, DecimalNineteenFourIsCurrencyAndKeepsItsValue) {
  Connect();
  Exec("create table money (id integer, price decimal(19,4), ratio decimal(18,4))");
  Exec("insert into money values (1, 12345.6789, 0.5)");
  TAsaSQL* Q = NewSQL();
  ASSERT_TRUE(Q->Execute("insert into money values (2, ?, ?)", {Variant(Currency::FromDouble(-98.7654)), 1.25}));
  ASSERT_TRUE(Q->OpenRead("select price, ratio from money order by id", {ZylEmptyParam}));
  EXPECT_EQ(Q->GetFieldType("price"), ztCurrency);
  EXPECT_EQ(Q->GetFieldType("ratio"), ztFloat);
  EXPECT_DOUBLE_EQ(Value(Q, "price").AsDouble(), 12345.6789);
  ASSERT_TRUE(Q->Next());
  EXPECT_DOUBLE_EQ(Value(Q, "price").AsDouble(), -98.7654);
  EXPECT_DOUBLE_EQ(Value(Q, "ratio").AsDouble(), 1.25);
}

TEST_F(AsaConvert, VarcharLimitSeparatesStringFromMemo) {
  Connect();
  Exec("create table w (a varchar(8192), b varchar(8193))");
  const std::string A(8192, 'a'), B(8193, 'b');
  TAsaSQL* Q = NewSQL();
  ASSERT_TRUE(Q->Execute("insert into w values (?, ?)", {A, B}));
  EXPECT_EQ(Q->GetExecVariables()->Items(0)->FieldType, ztString);
  EXPECT_EQ(Q->GetExecVariables()->Items(1)->FieldType, ztMemo) << "8193 characters do not fit 8193 bytes";
  ASSERT_TRUE(Q->OpenRead("select a, b from w", {ZylEmptyParam}));
  EXPECT_EQ(Q->GetFieldType("a"), ztString);
  EXPECT_EQ(Q->GetFieldSize("a"), 8193);
  EXPECT_EQ(Q->GetFieldType("b"), ztMemo);
  EXPECT_EQ(Q->GetFieldSize("b"), 4);
  EXPECT_EQ(Value(Q, "a").AsString(), A);
  EXPECT_EQ(Value(Q, "b").AsString(), B) << "read whole through the blob stream";
}

TEST_F(AsaConvert, ShortMemoComesFromTheBufferLongOneFromTheServer) {
  Connect();
  Exec("create table memo (id integer, m long varchar)");
  const std::string Long(200, 'L');
  Exec("insert into memo values (1, 'ten chars!'), (2, '" + Long + "')");
  TAsaSQL* Q = NewSQL();
  Q->SetBlobSize(100);
  ASSERT_TRUE(Q->OpenRead("select id, m from memo order by id", {ZylEmptyParam}));
  EXPECT_EQ(Q->GetFetchCount(), 1) << "a result with long values fetches one row per call";
  EXPECT_EQ(Value(Q, "m").AsString(), "ten chars!");
  EXPECT_EQ(Q->GetBlobPieceReads(), 0) << "no piece was read from the server";
  ASSERT_TRUE(Q->Next());
  EXPECT_EQ(Value(Q, "m").AsString(), Long);
  EXPECT_EQ(Q->GetBlobPieceReads(), 1);
  EXPECT_TRUE(Q->IsBlobTruncated(Q->GetBlobManager()->BlobByName("m")));
}

TEST_F(AsaConvert, TrimBlanksStripsFetchedCharacterFields) {
  Connect();
  Exec("create table c (f char(8), v varchar(8))");
  Exec("insert into c values ('ab', 'cd   ')");
  Session->SetTrimBlanks(true);
  TAsaSQL* Q = NewSQL();
  ASSERT_TRUE(Q->OpenRead("select f, v from c", {ZylEmptyParam}));
  EXPECT_EQ(Value(Q, "f").AsString(), "ab");
  EXPECT_EQ(Value(Q, "v").AsString(), "cd");
  Session->SetTrimBlanks(false);
  ASSERT_TRUE(Q->OpenRead("select f, v from c", {ZylEmptyParam}));
  EXPECT_EQ(Value(Q, "v").AsString(), "cd   ");
}

TEST_F(AsaConvert, OemConversionTranslatesTextBothWays) {
  // The server keeps text in its encoding (UTF-8) and refuses bytes that are none of it.
  if (zylasa::OnPostgres()) GTEST_SKIP() << "single-byte text is the embedded engine's";
  Connect();
  Exec("create table o (id integer, s varchar(10), m long varchar)");
  Session->SetOEMConvert(true);
  TAsaSQL* Q = NewSQL();
  const std::string Ansi = "caf\xe9";  // e acute in the ANSI code page
  ASSERT_TRUE(Q->Execute("insert into o values (?, ?, ?)", {1, Ansi, Ansi}));
  Session->SetOEMConvert(false);
  const std::string Stored = QueryText(*Session, "select s from o");
  EXPECT_NE(Stored, Ansi) << "the server received the OEM form";
  EXPECT_EQ(Stored.size(), Ansi.size());
  Session->SetOEMConvert(true);
  ASSERT_TRUE(Q->OpenRead("select s, m from o", {ZylEmptyParam}));
  EXPECT_EQ(Value(Q, "s").AsString(), Ansi);
  EXPECT_EQ(Value(Q, "m").AsString(), Ansi) << "memo through the blob stream";
}

}  // namespace
