// Values come back as they went in, end to end through TAsaSQL and our client library on real
// database files: byte arrays and strings of every length around the boundaries of the binary,
// string, memo and long paths; unsigned and 64-bit integers; dates bound to date, time and time
// stamp columns; field writes that cannot convert.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/asa/AsaStatementEnv.h"

namespace {

using zylasa::AsaSQLTest;
using zylasa::QueryText;

std::vector<uint8_t> Pattern(size_t N) {
  std::vector<uint8_t> V(N);
  for (size_t I = 0; I < N; ++I) V[I] = static_cast<uint8_t>((I * 131 + (I >> 8)) & 0xFF);
  return V;
}

class AsaValues : public AsaSQLTest {};

TEST_F(AsaValues, ParametersOfEveryLengthArriveWhole) {
  Connect();
  Exec("create table b (id integer primary key, data long binary, note long varchar)");
  const size_t Lengths[] = {0,     1,     2,     8191,  8192,  8193,  8194,  32764, 32765, 32766,
                            32767, 32768, 32769, 65534, 65535, 65536, 65537, 70000};
  TAsaSQL* Prepared = NewSQL();
  Prepared->PrepareExecute("insert into b (id, data, note) values (?, ?, ?)");
  TAsaSQL* Direct = NewSQL();
  int Id = 0;
  for (size_t N : Lengths) {
    const std::vector<uint8_t> Bytes = Pattern(N);
    const std::string Text(N, 'x');
    const Variant B = N ? VarByteArrayOf(Bytes.data(), N) : VarArrayCreate({0, -1}, varByte);
    ASSERT_TRUE(Prepared->ExecutePrepared({++Id, B, Variant(Text)})) << N << ": " << Session->GetLastError();
    ASSERT_TRUE(Direct->Execute("insert into b (id, data, note) values (?, ?, ?)", {++Id, B, Variant(Text)}))
        << N << ": " << Session->GetLastError();
  }
  EXPECT_EQ(QueryText(*Session, "select count(*) from b where data is null or note is null"), "0");
  TAsaSQL* Q = NewSQL();
  ASSERT_TRUE(Q->OpenRead("select id, data, note from b order by id", {ZylEmptyParam}));
  for (size_t K = 0; K < 2 * std::size(Lengths); ++K, Q->Next()) {
    const size_t N = Lengths[K / 2];
    Variant Data, Note;
    Q->GetFieldValue("data", Data);
    Q->GetFieldValue("note", Note);
    const std::vector<uint8_t> Got = Data.IsNull() ? std::vector<uint8_t>() : VarArrayToBytes(Data);
    EXPECT_EQ(Got.size(), N) << "bytes, row " << K;
    EXPECT_TRUE(Got == Pattern(N)) << "bytes, row " << K;
    EXPECT_EQ(Note.AsString().size(), N) << "text, row " << K;
  }
}

TEST_F(AsaValues, UnsignedAndSixtyFourBitIntegersReadBackExactly) {
  Connect();
  Exec("create table i (id integer, u unsigned int, us unsigned smallint, b bigint, ub unsigned bigint, n integer)");
  Exec("insert into i values (1, 4000000000, 65535, 9007199254740993, 9223372036854775807, -2147483648)");
  Exec("insert into i values (2, 0, 0, -9223372036854775808, 0, 2147483647)");
  TAsaSQL* Q = NewSQL();
  ASSERT_TRUE(Q->OpenRead("select u, us, b, ub, n from i order by id", {ZylEmptyParam}));
  EXPECT_EQ(Value(Q, "u").AsInt64(), 4000000000LL);
  EXPECT_EQ(Value(Q, "us").AsInt64(), 65535);
  EXPECT_EQ(Value(Q, "b").AsInt64(), 9007199254740993LL);
  EXPECT_EQ(Value(Q, "b").VarType(), varInt64);
  EXPECT_EQ(Value(Q, "ub").AsInt64(), INT64_MAX);
  EXPECT_EQ(Value(Q, "n").VarType(), varInteger) << "a plain integer keeps its 32-bit Variant";
  EXPECT_EQ(Value(Q, "n").AsInteger(), INT32_MIN);
  ASSERT_TRUE(Q->Next());
  EXPECT_EQ(Value(Q, "b").AsInt64(), INT64_MIN);
  Q->Close();
  // And a 64-bit parameter goes in exactly, too.
  TAsaSQL* W = NewSQL();
  ASSERT_TRUE(W->Execute("update i set b = ? where id = 2", {Variant(static_cast<long long>(9007199254740995LL))}));
  EXPECT_EQ(QueryText(*Session, "select b from i where id = 2"), "9007199254740995");
}

TEST_F(AsaValues, DatesBoundToDateTimeAndTimeStampColumnsKeepTheirKind) {
  Connect();
  Exec("create table d (id integer, d date, t time, ts timestamp)");
  const Variant Day = Variant::FromDateTime(EncodeDate(2005, 10, 26));
  const Variant Clock = Variant::FromDateTime(EncodeTime(13, 14, 15, 0));
  const Variant Stamp = Variant::FromDateTime(EncodeDateTime(2005, 10, 26, 13, 14, 15, 0));
  TAsaSQL* W = NewSQL();
  ASSERT_TRUE(W->Execute("insert into d values (?, ?, ?, ?)", {1, Day, Clock, Stamp}));
  W->PrepareExecute("insert into d values (?, ?, ?, ?)");
  ASSERT_TRUE(W->ExecutePrepared({2, Stamp, Stamp, Day}));
  EXPECT_EQ(QueryText(*Session, "select count(*) from d where d = '2005-10-26'"), "2");
  EXPECT_EQ(QueryText(*Session, "select count(*) from d where t = '13:14:15'"), "2");
  EXPECT_EQ(QueryText(*Session, "select ts from d where id = 1"), "2005-10-26 13:14:15");
  EXPECT_EQ(QueryText(*Session, "select count(*) from d where ts = '2005-10-26 00:00:00'"), "1");
  TAsaSQL* Q = NewSQL();
  ASSERT_TRUE(Q->OpenRead("select id from d where d = ? and t = ? order by id", {Day, Clock}));
  EXPECT_EQ(IntValue(Q, "id"), 1);
  EXPECT_TRUE(Q->Next());
  EXPECT_EQ(IntValue(Q, "id"), 2);
}

TEST_F(AsaValues, FieldWritesThatCannotConvertRaiseAndLeaveTheRecord) {
  Connect();
  Exec("create table f (id integer primary key, n integer, b bigint, x double, d date, v varchar(5), bn binary(3))");
  Exec("insert into f values (1, 7, 8, 1.5, '2001-02-03', 'abc', 0x0102)");
  TAsaSQL* Q = NewSQL();
  ASSERT_TRUE(Q->Open("select * from f", {ZylEmptyParam}, false));
  ASSERT_TRUE(Q->Next());
  struct Bad {
    const char* Field;
    Variant Value;
  } const Cases[] = {
      {"n", Variant("abc")},        {"n", Variant(5e9)},          {"b", Variant("12x")}, {"x", Variant("one")},
      {"d", Variant("not a date")}, {"v", Variant("too long")}, {"bn", Variant(12)},
  };
  for (const Bad& C : Cases) {
    EXPECT_THROW(Q->SetFieldValue(C.Field, C.Value), Exception) << C.Field << " = " << C.Value.AsString();
    EXPECT_FALSE(Q->IsFieldDirty(C.Field)) << C.Field;
  }
  EXPECT_EQ(IntValue(Q, "n"), 7);
  EXPECT_EQ(Value(Q, "v").AsString(), "abc");
  EXPECT_FALSE(Q->IsDirty());
  // What does convert is written; the row then updates with it.
  Q->SetFieldValue("n", Variant("42"));
  Q->SetFieldValue("bn", Variant("xyz"));
  ASSERT_TRUE(Q->Modify());
  EXPECT_EQ(QueryText(*Session, "select n from f"), "42");
  EXPECT_EQ(QueryText(*Session, "select bn from f"), "xyz");
}

}  // namespace
