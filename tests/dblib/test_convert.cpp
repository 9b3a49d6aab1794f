// Value conversion between engine values and host variables: the date-time record, numeric
// ranges, character buffers of every kind with truncation, NULL and the send direction.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dblib/sql/Convert.h"
#include "dblib/sql/Errors.h"

using namespace dbl;

namespace {

SQLVAR Var(short type, short len, void* data, short* ind) {
  SQLVAR v{};
  v.sqltype = type;
  v.sqllen = len;
  v.sqldata = data;
  v.sqlind = ind;
  return v;
}

int CodeOf(const Value& v, short type, short len = 0) {
  char buf[64];
  short ind = 0;
  SQLVAR var = Var(type, len, buf, &ind);
  try {
    return PutValue(v, 0, var);
  } catch (const SqlError& e) {
    return e.Code();
  }
}

TEST(DateTimeRecord, LeapDayCarriesWeekdayYearDayAndMicroseconds) {
  DateTimeParts p;
  ASSERT_TRUE(ParseDateTime("2000-02-29 13:05:09.123456", p));
  SQLDATETIME rec;
  ToRecord(p, rec);
  EXPECT_EQ(int{rec.year}, 2000);
  EXPECT_EQ(rec.month, 1);
  EXPECT_EQ(rec.day, 29);
  EXPECT_EQ(rec.day_of_week, 2);  // a Tuesday
  EXPECT_EQ(int{rec.day_of_year}, 59);
  EXPECT_EQ(rec.hour, 13);
  EXPECT_EQ(rec.minute, 5);
  EXPECT_EQ(rec.second, 9);
  EXPECT_EQ(a_sql_uint32{rec.microsecond}, 123456u);  // copied out of the packed record
  DateTimeParts q;
  ASSERT_TRUE(ParseDateTime("2026-12-31", q));
  ToRecord(q, rec);
  EXPECT_EQ(rec.day_of_week, 4);  // Thursday
  EXPECT_EQ(int{rec.day_of_year}, 364);
  EXPECT_EQ(rec.hour, 0);
}

TEST(DateTimeRecord, TextFormsMatchTheGeneralFormatterOverTheWholeRange) {
  // Reference: the printf forms the text is defined by.
  auto Reference = [](const DateTimeParts& p, short kind) {
    char buf[96];
    int n = 0;
    bool date = kind == DT_DATE || kind == DT_TIMESTAMP || (kind == 0 && p.hasDate);
    bool time = kind == DT_TIME || kind == DT_TIMESTAMP || (kind == 0 && p.hasTime);
    if (date) n += std::snprintf(buf + n, sizeof buf - n, "%04d-%02d-%02d", p.year, p.month, p.day);
    if (date && time) buf[n++] = ' ';
    if (time) {
      n += std::snprintf(buf + n, sizeof buf - n, "%02d:%02d:%02d", p.hour, p.minute, p.second);
      if (kind != 0 || (p.microsecond % 1000 == 0 && p.microsecond != 0))
        n += std::snprintf(buf + n, sizeof buf - n, ".%03d", p.microsecond / 1000);
      else if (p.microsecond != 0)
        n += std::snprintf(buf + n, sizeof buf - n, ".%06d", p.microsecond);
    }
    return std::string(buf, static_cast<size_t>(n));
  };
  const std::vector<int> years = {0, 1, 9, 10, 99, 100, 999, 1000, 1999, 2024, 9999, 10000, -1};
  const std::vector<int> micros = {0, 1, 999, 1000, 7000, 123456, 999000, 999999};
  int checked = 0;
  for (int y : years)
    for (int mo : {1, 9, 12})
      for (int d : {1, 9, 10, 31})
        for (int h : {0, 9, 23})
          for (int us : micros)
            for (short kind : {short(0), short(DT_DATE), short(DT_TIME), short(DT_TIMESTAMP)})
              for (int flags = 1; flags <= 3; ++flags) {
                DateTimeParts p;
                p.year = y, p.month = mo, p.day = d, p.hour = h, p.minute = 59 - h, p.second = h % 60;
                p.microsecond = us;
                p.hasDate = (flags & 1) != 0;
                p.hasTime = (flags & 2) != 0;
                ASSERT_EQ(FormatDateTime(p, kind), Reference(p, kind))
                    << y << "-" << mo << "-" << d << " " << h << " us " << us << " kind " << kind << " flags " << flags;
                ++checked;
              }
  EXPECT_GT(checked, 10000);
}

TEST(DateTimeRecord, TextFormsAreCheckedStrictly) {
  DateTimeParts p;
  EXPECT_FALSE(ParseDateTime("1999-02-29", p));  // no leap year
  EXPECT_FALSE(ParseDateTime("2000-04-31", p));
  EXPECT_FALSE(ParseDateTime("2000-13-01", p));
  EXPECT_FALSE(ParseDateTime("24:00:00", p));
  EXPECT_FALSE(ParseDateTime("2000-01-01 10:00 trailing", p));
  EXPECT_FALSE(ParseDateTime("", p));
  EXPECT_TRUE(ParseDateTime("2000/01/02", p));
  EXPECT_TRUE(ParseDateTime("2000-01-02T03:04:05", p));
  EXPECT_TRUE(ParseDateTime(" 10:30 ", p));
  EXPECT_FALSE(p.hasDate);
  EXPECT_EQ(p.minute, 30);
}

TEST(DateTimeRecord, RecordGoesInAsDateTimeOrTimeStampByDestination) {
  SQLDATETIME rec{};
  rec.year = 2000;
  rec.month = 1;
  rec.day = 29;
  rec.hour = 13;
  rec.minute = 5;
  rec.second = 9;
  rec.microsecond = 123000;
  SQLVAR v = Var(DT_TIMESTAMP_STRUCT, 14, &rec, nullptr);
  Value out;
  ASSERT_TRUE(ReadValue(v, DT_DATE, out, nullptr));
  EXPECT_EQ(out.bytes, "2000-02-29");
  ASSERT_TRUE(ReadValue(v, DT_TIME, out, nullptr));
  EXPECT_EQ(out.bytes, "13:05:09.123");
  ASSERT_TRUE(ReadValue(v, 0, out, nullptr));
  EXPECT_EQ(out.bytes, "2000-02-29 13:05:09.123");
  rec.microsecond = 123456;
  ASSERT_TRUE(ReadValue(v, DT_TIMESTAMP, out, nullptr));
  EXPECT_EQ(out.bytes, "2000-02-29 13:05:09.123456");
  // A time value leaves the date fields at zero.
  SQLDATETIME t{};
  t.hour = 10;
  t.minute = 30;
  SQLVAR tv = Var(DT_TIMESTAMP_STRUCT, 14, &t, nullptr);
  ASSERT_TRUE(ReadValue(tv, 0, out, nullptr));
  EXPECT_EQ(out.bytes, "10:30:00");
  // Day 31 of April is no date: refused, not stored as garbage.
  rec.month = 3;
  rec.day = 31;
  try {
    ReadValue(v, 0, out, nullptr);
    ADD_FAILURE() << "invalid record accepted";
  } catch (const SqlError& e) {
    EXPECT_EQ(e.Code(), SQLE_CONVERSION_ERROR);
  }
}

TEST(FetchConversion, DateTextBecomesRecordOrFormattedText) {
  SQLDATETIME rec;
  std::memset(&rec, 0xAB, sizeof rec);
  short ind = 5;
  SQLVAR v = Var(DT_TIMESTAMP_STRUCT | 1, 14, &rec, &ind);
  EXPECT_EQ(PutValue(Value::Text("1999-12-31"), DT_DATE, v), 0);
  EXPECT_EQ(ind, 0);
  EXPECT_EQ(int{rec.year}, 1999);
  EXPECT_EQ(rec.month, 11);
  EXPECT_EQ(rec.day, 31);
  EXPECT_EQ(rec.hour, 0);
  EXPECT_EQ(a_sql_uint32{rec.microsecond}, 0u);
  char buf[40];
  SQLVAR s = Var(DT_TIMESTAMP, sizeof buf, buf, &ind);
  EXPECT_EQ(PutValue(Value::Text("1999-12-31"), DT_DATE, s), 0);
  EXPECT_STREQ(buf, "1999-12-31 00:00:00.000");
  // A date column read as a plain string comes in the date format.
  SQLVAR str = Var(DT_STRING, sizeof buf, buf, &ind);
  EXPECT_EQ(PutValue(Value::Text("1999-12-31 00:00:00"), DT_DATE, str), 0);
  EXPECT_STREQ(buf, "1999-12-31");
  EXPECT_EQ(CodeOf(Value::Text("not a date"), DT_TIMESTAMP_STRUCT, 14), SQLE_CONVERSION_ERROR);
  EXPECT_EQ(CodeOf(Value::Int(5), DT_DATE, 20), SQLE_CONVERSION_ERROR);
}

TEST(FetchConversion, IntegersAreRangeCheckedPerType) {
  EXPECT_EQ(CodeOf(Value::Int(32767), DT_SMALLINT), 0);
  EXPECT_EQ(CodeOf(Value::Int(32768), DT_SMALLINT), SQLE_OVERFLOW_ERROR);
  EXPECT_EQ(CodeOf(Value::Int(-1), DT_UNSINT), SQLE_OVERFLOW_ERROR);
  EXPECT_EQ(CodeOf(Value::Int(255), DT_TINYINT), 0);
  EXPECT_EQ(CodeOf(Value::Int(256), DT_TINYINT), SQLE_OVERFLOW_ERROR);
  EXPECT_EQ(CodeOf(Value::Int(INT64_MIN), DT_BIGINT), 0);
  EXPECT_EQ(CodeOf(Value::Int(INT64_MIN), DT_UNSBIGINT), SQLE_OVERFLOW_ERROR);
  EXPECT_EQ(CodeOf(Value::Int(2147483648LL), DT_INT), SQLE_OVERFLOW_ERROR);
  EXPECT_EQ(CodeOf(Value::Real(1e300), DT_FLOAT), SQLE_OVERFLOW_ERROR);
  EXPECT_EQ(CodeOf(Value::Text("4x"), DT_INT), SQLE_CONVERSION_ERROR);
  EXPECT_EQ(CodeOf(Value::Blob("\x01"), DT_DOUBLE), SQLE_CONVERSION_ERROR);

  int32_t i = 0;
  SQLVAR v = Var(DT_INT, 4, &i, nullptr);
  EXPECT_EQ(PutValue(Value::Text(" 42 "), 0, v), 0);
  EXPECT_EQ(i, 42);
  EXPECT_EQ(PutValue(Value::Real(-2.9), 0, v), 0);
  EXPECT_EQ(i, -2);  // toward zero
  uint64_t u = 0;
  SQLVAR uv = Var(DT_UNSBIGINT, 8, &u, nullptr);
  EXPECT_EQ(PutValue(Value::Real(1.8446744073709550e19), 0, uv), 0);
  EXPECT_EQ(u, 18446744073709549568ULL);
  unsigned char bit = 7;
  SQLVAR bv = Var(DT_BIT, 1, &bit, nullptr);
  EXPECT_EQ(PutValue(Value::Int(-5), 0, bv), 0);
  EXPECT_EQ(bit, 1);
  EXPECT_EQ(PutValue(Value::Text("0"), 0, bv), 0);
  EXPECT_EQ(bit, 0);
}

TEST(FetchConversion, CharacterBuffersTruncateWithTheFullLengthInTheIndicator) {
  short ind = 0;
  char s[6];
  SQLVAR sv = Var(DT_STRING | 1, sizeof s, s, &ind);
  EXPECT_EQ(PutValue(Value::Text("abcdefgh"), 0, sv), SQLE_TRUNCATED);
  EXPECT_STREQ(s, "abcde");
  EXPECT_EQ(ind, 8);

  char f[5];
  SQLVAR fv = Var(DT_FIXCHAR | 1, sizeof f, f, &ind);
  EXPECT_EQ(PutValue(Value::Text("ab"), 0, fv), 0);
  EXPECT_EQ(std::string(f, 5), "ab   ");
  EXPECT_EQ(ind, 0);

  // VARCHAR: sqllen is the size of the structure, 2 bytes of it the length.
  std::vector<char> vb(9);
  SQLVAR vv = Var(DT_VARCHAR | 1, 7, vb.data(), &ind);
  EXPECT_EQ(PutValue(Value::Text("abcdefg"), 0, vv), SQLE_TRUNCATED);
  auto* vc = reinterpret_cast<VARCHAR*>(vb.data());
  EXPECT_EQ(vc->len, 5);
  EXPECT_EQ(std::string(vc->array, 5), "abcde");
  EXPECT_EQ(ind, 7);
  vv.sqllen = 1;
  EXPECT_THROW(PutValue(Value::Text("x"), 0, vv), SqlError);

  std::vector<char> lb(LONGVARCHARSIZE(4));
  auto* lv = reinterpret_cast<LONGVARCHAR*>(lb.data());
  lv->array_len = 4;
  SQLVAR lvv = Var(DT_LONGBINARY | 1, 0, lv, &ind);
  std::string big(40000, 'z');
  EXPECT_EQ(PutValue(Value::Blob(big), 0, lvv), SQLE_TRUNCATED);
  EXPECT_EQ(lv->stored_len, 4u);
  EXPECT_EQ(lv->untrunc_len, 40000u);
  EXPECT_EQ(ind, 32767);  // capped

  // Binary bytes keep embedded NULs; numbers come as their shortest text.
  std::vector<char> bb(12);
  SQLVAR bv = Var(DT_BINARY, 12, bb.data(), nullptr);
  EXPECT_EQ(PutValue(Value::Blob(std::string("a\0b", 3)), 0, bv), 0);
  EXPECT_EQ(reinterpret_cast<BINARY*>(bb.data())->len, 3);
  EXPECT_EQ(bb[3], '\0');
  char n[32];
  SQLVAR nv = Var(DT_STRING, sizeof n, n, nullptr);
  EXPECT_EQ(PutValue(Value::Real(1.5), 0, nv), 0);
  EXPECT_STREQ(n, "1.5");
  EXPECT_EQ(PutValue(Value::Int(-12), 0, nv), 0);
  EXPECT_STREQ(n, "-12");
}

TEST(FetchConversion, NullNeedsAnIndicatorAndUnboundColumnsAreLeftAlone) {
  short ind = 0;
  int32_t i = 99;
  SQLVAR v = Var(DT_INT | 1, 4, &i, &ind);
  EXPECT_EQ(PutValue(Value::Null(), 0, v), 0);
  EXPECT_EQ(ind, -1);
  EXPECT_EQ(i, 99);
  v.sqlind = nullptr;
  EXPECT_EQ(CodeOf(Value::Null(), DT_INT), 0);  // CodeOf passes an indicator
  try {
    PutValue(Value::Null(), 0, v);
    ADD_FAILURE();
  } catch (const SqlError& e) {
    EXPECT_EQ(e.Code(), SQLE_NO_INDICATOR);
  }
  SQLVAR unbound = Var(DT_INT, 4, nullptr, &ind);
  ind = 3;
  EXPECT_EQ(PutValue(Value::Int(1), 0, unbound), 0);
  EXPECT_EQ(ind, 3);
  EXPECT_EQ(CodeOf(Value::Int(1), DT_DECIMAL, 522), SQLE_SQLDA_INVALID_DATATYPE);
  EXPECT_EQ(CodeOf(Value::Int(1), DT_VARIABLE, 10), SQLE_SQLDA_INVALID_DATATYPE);
}

TEST(SendConversion, HostValuesBecomeEngineValues) {
  Value out;
  short ind = -1;
  int32_t i = 5;
  SQLVAR v = Var(DT_INT | 1, 4, &i, &ind);
  ASSERT_TRUE(ReadValue(v, 0, out, nullptr));
  EXPECT_TRUE(out.IsNull());  // a negative indicator sends NULL
  ind = 0;
  ASSERT_TRUE(ReadValue(v, 0, out, nullptr));
  EXPECT_EQ(out, Value::Int(5));
  SQLVAR none = Var(DT_INT, 4, nullptr, nullptr);
  EXPECT_FALSE(ReadValue(none, 0, out, nullptr));  // takes no part

  std::vector<char> vb(8);
  auto* b = reinterpret_cast<BINARY*>(vb.data());
  b->len = 3;
  std::memcpy(b->array, "x\0y", 3);
  SQLVAR bv = Var(DT_BINARY, 8, b, nullptr);
  ASSERT_TRUE(ReadValue(bv, 0, out, nullptr));
  EXPECT_EQ(out, Value::Blob(std::string("x\0y", 3)));

  uint8_t tiny = 200;
  SQLVAR tv = Var(DT_TINYINT, 1, &tiny, nullptr);
  ASSERT_TRUE(ReadValue(tv, 0, out, nullptr));
  EXPECT_EQ(out, Value::Int(200));
  uint64_t big = UINT64_MAX;
  SQLVAR uv = Var(DT_UNSBIGINT, 8, &big, nullptr);
  ASSERT_TRUE(ReadValue(uv, 0, out, nullptr));
  EXPECT_EQ(out.kind, Value::Kind::Real);

  char s[8] = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'};  // no terminator within sqllen
  SQLVAR sv = Var(DT_STRING, 4, s, nullptr);
  ASSERT_TRUE(ReadValue(sv, 0, out, nullptr));
  EXPECT_EQ(out.bytes, "abcd");

  char name[] = "myvar";
  SQLVAR var = Var(DT_VARIABLE, sizeof name, name, nullptr);
  std::string vn;
  ASSERT_TRUE(ReadValue(var, 0, out, &vn));
  EXPECT_EQ(vn, "myvar");
  EXPECT_THROW(ReadValue(var, 0, out, nullptr), SqlError);
}

int CodeOf(const SQLVAR& v) {
  Value out;
  try {
    ReadValue(v, 0, out, nullptr);
  } catch (const SqlError& e) {
    return e.Code();
  }
  return 0;
}

// A length field is the caller's claim; the buffer size bounds it. The buffers below are
// exactly as large as the descriptor says, so AddressSanitizer sees any read past them.
TEST(SendConversion, LengthFieldsBeyondTheBufferAreRefused) {
  auto vb = std::make_unique<char[]>(6);  // sqllen 6: a 2-byte length and 4 bytes
  auto* b = reinterpret_cast<VARCHAR*>(vb.get());
  b->len = 5;
  for (short type : {DT_VARCHAR, DT_BINARY, DT_NVARCHAR}) EXPECT_EQ(CodeOf(Var(type, 6, b, nullptr)), SQLE_INVALID_SQLLEN);
  b->len = 4;
  std::memcpy(b->array, "abcd", 4);
  Value out;
  ASSERT_TRUE(ReadValue(Var(DT_VARCHAR, 6, b, nullptr), 0, out, nullptr));
  EXPECT_EQ(out.bytes, "abcd");
  EXPECT_EQ(CodeOf(Var(DT_VARCHAR, 1, b, nullptr)), SQLE_INVALID_SQLLEN);

  auto lb = std::make_unique<char[]>(LONGVARCHARSIZE(4));
  auto* l = reinterpret_cast<LONGVARCHAR*>(lb.get());
  l->array_len = 4;
  l->stored_len = 100000;
  for (short type : {DT_LONGVARCHAR, DT_LONGBINARY}) EXPECT_EQ(CodeOf(Var(type, 0, l, nullptr)), SQLE_INVALID_SQLLEN);
  l->stored_len = 4;
  ASSERT_TRUE(ReadValue(Var(DT_LONGBINARY, 0, l, nullptr), 0, out, nullptr));
  EXPECT_EQ(out.bytes.size(), 4u);
}

// DECL_DECIMAL(p, s): p/2 + 1 bytes of digits, the sign in the last nibble; sqllen s*256 + p.
TEST(SendConversion, PackedDecimalsBecomeTheirExactText) {
  Value out;
  unsigned char v[6] = {0x00, 0x01, 0x23, 0x45, 0x67, 0x8C};  // NUMERIC(10,2): 12345678 -> 123456.78
  ASSERT_TRUE(ReadValue(Var(DT_DECIMAL, 2 * 256 + 10, v, nullptr), 0, out, nullptr));
  EXPECT_EQ(out.bytes, "123456.78");
  v[5] = 0x8D;
  ASSERT_TRUE(ReadValue(Var(DT_DECIMAL, 2 * 256 + 10, v, nullptr), 0, out, nullptr));
  EXPECT_EQ(out.bytes, "-123456.78");
  unsigned char small[2] = {0x00, 0x5C};  // NUMERIC(3,3): .005
  ASSERT_TRUE(ReadValue(Var(DT_DECIMAL, 3 * 256 + 3, small, nullptr), 0, out, nullptr));
  EXPECT_EQ(out.bytes, "0.005");
  unsigned char whole[3] = {0x00, 0x04, 0x2F};  // NUMERIC(5,0): 42
  ASSERT_TRUE(ReadValue(Var(DT_DECIMAL, 5, whole, nullptr), 0, out, nullptr));
  EXPECT_EQ(out.bytes, "42");
  v[2] = 0xA3;  // a nibble that is no digit
  EXPECT_EQ(CodeOf(Var(DT_DECIMAL, 2 * 256 + 10, v, nullptr)), SQLE_CONVERSION_ERROR);
  EXPECT_EQ(CodeOf(Var(DT_DECIMAL, 11 * 256 + 10, v, nullptr)), SQLE_INVALID_SQLLEN);  // scale above precision
  EXPECT_EQ(CodeOf(Var(DT_DECIMAL, 0, v, nullptr)), SQLE_INVALID_SQLLEN);
}

}  // namespace
