// Values go in through parameters and come back through typed rows unchanged, at the edges of
// each type; what cannot come back unchanged is an error, never another value.
#include <limits>
#include <random>

#include "tests/zylo/ZyloTestEnv.h"

namespace zylotest {
namespace {

using namespace std::chrono;

class ZyloTypes : public ZyloTest {
 protected:
  void SetUp() override {
    ZyloTest::SetUp();
    db_.emplace(Params());
    db_->execute(
        "CREATE TABLE v (k INTEGER PRIMARY KEY, ti TINYINT, si SMALLINT, i INTEGER, bi BIGINT, ui UNSIGNED INT, "
        "us UNSIGNED SMALLINT, ub UNSIGNED BIGINT, f DOUBLE, r REAL, d DECIMAL(20,6), b BIT, s VARCHAR(200), "
        "ls LONG VARCHAR, vb VARBINARY(200), lb LONG BINARY, dt DATE, tm TIME, ts TIMESTAMP)");
  }
  void TearDown() override {
    db_.reset();
    ZyloTest::TearDown();
  }

  // Stores value in column and reads it back as T.
  template <class T, class V>
  T RoundTrip(const std::string& column, const V& value) {
    db_->execute("DELETE FROM v");
    db_->execute("INSERT INTO v (k, " + column + ") VALUES (1, ?)", value);
    return db_->one<T>("SELECT " + column + " FROM v");
  }
  // Stores SQL text in column; the error of reading it as T.
  template <class T>
  zylo::error ReadError(const std::string& column, const std::string& literal) {
    db_->execute("DELETE FROM v");
    db_->execute("INSERT INTO v (k, " + column + ") VALUES (1, " + literal + ")");
    return ErrorOf([&] { db_->one<T>("SELECT " + column + " FROM v"); });
  }

  std::optional<zylo::connection> db_;
};

template <class T>
constexpr T Min() {
  return std::numeric_limits<T>::min();
}
template <class T>
constexpr T Max() {
  return std::numeric_limits<T>::max();
}

TEST_F(ZyloTypes, IntegersOfEveryWidthRoundTripAtTheirLimits) {
  EXPECT_EQ(RoundTrip<std::int8_t>("si", Min<std::int8_t>()), Min<std::int8_t>());
  EXPECT_EQ(RoundTrip<std::int8_t>("si", Max<std::int8_t>()), Max<std::int8_t>());
  EXPECT_EQ(RoundTrip<std::uint8_t>("ti", Max<std::uint8_t>()), Max<std::uint8_t>());
  EXPECT_EQ(RoundTrip<std::int16_t>("si", Min<std::int16_t>()), Min<std::int16_t>());
  EXPECT_EQ(RoundTrip<std::int16_t>("si", Max<std::int16_t>()), Max<std::int16_t>());
  EXPECT_EQ(RoundTrip<std::uint16_t>("us", Max<std::uint16_t>()), Max<std::uint16_t>());
  EXPECT_EQ(RoundTrip<std::int32_t>("i", Min<std::int32_t>()), Min<std::int32_t>());
  EXPECT_EQ(RoundTrip<std::int32_t>("i", Max<std::int32_t>()), Max<std::int32_t>());
  EXPECT_EQ(RoundTrip<std::int64_t>("i", Min<std::int32_t>()), Min<std::int32_t>());
}

TEST_F(ZyloTypes, AValueThatDoesNotFitItsTypeIsAnErrorNotAnotherValue) {
  zylo::error e = ReadError<std::int8_t>("si", "300");
  EXPECT_EQ(e.sqlstate(), "22003") << e.what();
  EXPECT_NE(std::string(e.what()).find("column 1 (si)"), std::string::npos) << e.what();
  EXPECT_EQ(ReadError<std::uint32_t>("i", "-1").sqlstate(), "22003");
  EXPECT_EQ(ReadError<std::int32_t>("f", "2.5").sqlstate(), "22003");
  EXPECT_EQ(ReadError<std::int64_t>("f", "1e19").sqlstate(), "22003");
  EXPECT_EQ(ReadError<float>("f", "0.1").sqlstate(), "22003");
  EXPECT_EQ(ReadError<bool>("i", "2").sqlstate(), "22003");
  EXPECT_EQ(RoundTrip<std::int32_t>("f", 2.0), 2) << "a whole floating value reads into an integer";
  EXPECT_EQ(RoundTrip<float>("f", 0.5), 0.5f);
  // Another kind of value altogether.
  EXPECT_EQ(ReadError<std::int32_t>("s", "'12'").sqlstate(), "22018");
  EXPECT_EQ(ReadError<std::string>("i", "12").sqlstate(), "22018");
  EXPECT_EQ(ReadError<year_month_day>("i", "12").sqlstate(), "22018");
}

TEST_F(ZyloTypes, NullReadsAsAnEmptyOptionalAndIsAnErrorForAnyOtherType) {
  db_->execute("INSERT INTO v (k) VALUES (1)");
  auto [i, s, b, d, t, l] =
      db_->one<std::optional<std::int32_t>, std::optional<std::string>, std::optional<zylo::bytes>,
               std::optional<year_month_day>, std::optional<sys_time<microseconds>>, std::optional<zylo::blob>>(
          "SELECT i, s, vb, dt, ts, lb FROM v");
  EXPECT_FALSE(i || s || b || d || t || l);
  const zylo::error e = ErrorOf([&] { db_->one<std::int32_t, std::string>("SELECT k, s FROM v"); });
  EXPECT_EQ(e.sqlstate(), "22002");
  EXPECT_NE(std::string(e.what()).find("column 2 (s) is NULL"), std::string::npos) << e.what();
  EXPECT_EQ(ErrorOf([&] { db_->one<zylo::blob>("SELECT lb FROM v"); }).sqlstate(), "22002");
  // NULL goes in from an empty optional and from std::nullopt.
  db_->execute("UPDATE v SET i = ?, s = ?", std::optional<int>(), std::nullopt);
  EXPECT_EQ(db_->one<std::int64_t>("SELECT COUNT(*) FROM v WHERE i IS NULL AND s IS NULL"), 1);
}

TEST_F(ZyloTypes, TextAndBytesRoundTripEmptyLongAndWithEveryByteValue) {
  EXPECT_EQ(RoundTrip<std::string>("s", std::string()), "");
  EXPECT_EQ(RoundTrip<std::string>("s", std::string("Grüezi 'quoted' ?")), "Grüezi 'quoted' ?");
  std::string long_text(100000, ' ');
  for (std::size_t k = 0; k < long_text.size(); ++k) long_text[k] = static_cast<char>('a' + k % 26);
  EXPECT_EQ(RoundTrip<std::string>("ls", long_text), long_text);
  EXPECT_EQ(RoundTrip<std::string>("ls", std::string()), "");

  zylo::bytes every(256);
  for (int k = 0; k < 256; ++k) every[static_cast<std::size_t>(k)] = static_cast<std::byte>(k);
  zylo::bytes short_value(every.begin(), every.begin() + 200);
  EXPECT_EQ(RoundTrip<zylo::bytes>("vb", short_value), short_value);
  zylo::bytes two{std::byte{0}, std::byte{7}};
  EXPECT_EQ(RoundTrip<zylo::bytes>("vb", two), two) << "a short value reads as long as it is, not as its column";
  EXPECT_EQ(RoundTrip<zylo::bytes>("vb", zylo::bytes()), zylo::bytes());
  std::mt19937 gen(7);
  zylo::bytes long_value(100000);
  for (auto& x : long_value) x = static_cast<std::byte>(gen());
  EXPECT_EQ(RoundTrip<zylo::bytes>("lb", long_value), long_value);
  EXPECT_EQ((RoundTrip<zylo::bytes, std::span<const std::byte>>("lb", std::span<const std::byte>(long_value))), long_value);

  // A NUL inside text would end it on the way: refused rather than cut.
  EXPECT_EQ(ErrorOf([&] { db_->execute("UPDATE v SET s = ?", std::string("a\0b", 3)); }).sqlstate(), "22023");
}

TEST_F(ZyloTypes, DecimalsKeepTheirDigitsAndBooleansAndDoublesTheirValue) {
  for (const char* t : {"123456.789012", "-0.000001", "0.5", "999999999.999999"})
    EXPECT_EQ(RoundTrip<zylo::decimal>("d", zylo::decimal(t)), zylo::decimal(t)) << t;
  // More digits than the components carry (a double's 15) would come back changed: refused.
  EXPECT_EQ(ErrorOf([&] { RoundTrip<zylo::decimal>("d", zylo::decimal("99999999999.999999")); }).sqlstate(), "22003");
  EXPECT_EQ(RoundTrip<zylo::decimal>("d", zylo::decimal("12.5")).str(), "12.500000") << "printed at the column's scale";
  EXPECT_EQ((RoundTrip<zylo::decimal, std::int32_t>("i", -42)), zylo::decimal("-42"));
  EXPECT_EQ(ErrorOf([] { zylo::decimal("1.2.3"); }).sqlstate(), "22018");
  EXPECT_EQ(ErrorOf([] { zylo::decimal("1e5"); }).sqlstate(), "22018");

  EXPECT_TRUE(RoundTrip<bool>("b", true));
  EXPECT_FALSE(RoundTrip<bool>("b", false));
  for (double x : {0.1, -1.7976931348623157e308, 4.9406564584124654e-324, 1.0 / 3})
    EXPECT_EQ(RoundTrip<double>("f", x), x);
  EXPECT_EQ(RoundTrip<float>("r", 1.5f), 1.5f);
}

TEST_F(ZyloTypes, DatesTimesAndTimeStampsRoundTripToTheMicrosecond) {
  for (year_month_day d : {year(1) / 1 / 1, year(1066) / 10 / 14, year(1899) / 12 / 29, year(1899) / 12 / 30,
                           year(1900) / 2 / 28, year(2000) / 2 / 29, year(2100) / 3 / 1, year(9999) / 12 / 31})
    EXPECT_EQ(RoundTrip<year_month_day>("dt", d), d) << static_cast<int>(d.year());
  EXPECT_EQ(RoundTrip<sys_days>("dt", sys_days(year(1492) / 10 / 12)), sys_days(year(1492) / 10 / 12));

  using hms = hh_mm_ss<microseconds>;
  for (microseconds t : {microseconds(0), microseconds(1), hours(12) + minutes(34) + seconds(56) + microseconds(789),
                         hours(23) + minutes(59) + seconds(59) + microseconds(999999)})
    EXPECT_EQ(RoundTrip<hms>("tm", hms(t)).to_duration(), t);
  EXPECT_EQ(RoundTrip<hh_mm_ss<seconds>>("tm", hh_mm_ss<seconds>(hours(7))).to_duration(), hours(7));

  for (sys_time<microseconds> t :
       {sys_days(year(1) / 1 / 1) + microseconds(1), sys_days(year(1583) / 1 / 1) + hours(13) + microseconds(123456),
        sys_days(year(1899) / 12 / 30) + microseconds(999999), sys_days(year(1969) / 12 / 31) + hours(23) + microseconds(1),
        sys_days(year(2150) / 6 / 15) + seconds(45296) + microseconds(7),
        sys_days(year(9999) / 12 / 31) + hours(23) + minutes(59) + seconds(59) + microseconds(999999)})
    EXPECT_EQ(RoundTrip<sys_time<microseconds>>("ts", t), t) << t.time_since_epoch().count();
  EXPECT_EQ(RoundTrip<sys_time<microseconds>>("dt", sys_time<microseconds>(sys_days(year(1700) / 3 / 1))),
            sys_time<microseconds>(sys_days(year(1700) / 3 / 1)))
      << "a date reads as its midnight";

  // Reads that would drop part of the value, and values the server cannot hold.
  db_->execute("DELETE FROM v");
  db_->execute("INSERT INTO v (k, ts, tm) VALUES (1, '2024-05-06 07:08:09.5', '10:00:00.5')");
  EXPECT_EQ(ErrorOf([&] { db_->one<year_month_day>("SELECT ts FROM v"); }).sqlstate(), "22003");
  EXPECT_EQ(ErrorOf([&] { db_->one<hh_mm_ss<seconds>>("SELECT tm FROM v"); }).sqlstate(), "22003");
  EXPECT_EQ(ErrorOf([&] { db_->one<sys_time<seconds>>("SELECT ts FROM v"); }).sqlstate(), "22003");
  EXPECT_EQ(ErrorOf([&] { db_->execute("UPDATE v SET dt = ?", year(10000) / 1 / 1); }).sqlstate(), "22023");
  EXPECT_EQ(ErrorOf([&] { db_->execute("UPDATE v SET dt = ?", year(2023) / 2 / 29); }).sqlstate(), "22023");
  EXPECT_EQ(ErrorOf([&] { db_->execute("UPDATE v SET ts = ?", sys_time<nanoseconds>(nanoseconds(1))); }).sqlstate(),
            "22023");
  // Text in the server's forms reads as dates and times too.
  EXPECT_EQ(db_->one<year_month_day>("SELECT '2024-02-29'"), year(2024) / 2 / 29);
  EXPECT_EQ(db_->one<sys_time<microseconds>>("SELECT '2024-02-29 01:02:03.000004'"),
            sys_days(year(2024) / 2 / 29) + hours(1) + minutes(2) + seconds(3) + microseconds(4));
}

}  // namespace
}  // namespace zylotest
