// Date-time encoding, the pre-epoch rule, time stamps and the text format.
#include <gtest/gtest.h>

#include <cmath>

#include "host/DateUtils.h"

TEST(DateUtilsEncode, EpochAndKnownDays) {
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_EQ(EncodeDate(1900, 1, 1), 2.0);
  EXPECT_EQ(EncodeDate(2000, 2, 29), 36585.0);
  EXPECT_EQ(EncodeDate(1, 1, 1), MinDateTime);
  EXPECT_EQ(EncodeDate(9999, 12, 31), 2958465.0);
  EXPECT_DOUBLE_EQ(EncodeTime(12, 0, 0, 0), 0.5);
  EXPECT_DOUBLE_EQ(EncodeTime(6, 0, 0, 0), 0.25);
}

TEST(DateUtilsEncode, RejectsImpossibleDatesAndTimes) {
  EXPECT_THROW(EncodeDate(1900, 2, 29), EConvertError);  // century, not leap
  EXPECT_THROW(EncodeDate(2001, 13, 1), EConvertError);
  EXPECT_THROW(EncodeDate(0, 1, 1), EConvertError);
  EXPECT_THROW(EncodeDate(10000, 1, 1), EConvertError);
  EXPECT_THROW(EncodeTime(24, 0, 0, 0), EConvertError);
  EXPECT_THROW(EncodeTime(0, 0, 0, 1000), EConvertError);
  TDateTime V = 42;
  EXPECT_FALSE(TryEncodeDate(2023, 4, 31, V));
  EXPECT_EQ(V, 42);  // untouched on failure
}

TEST(DateUtilsCalendar, LeapYearsAndMonthLengths) {
  EXPECT_TRUE(IsLeapYear(2000));
  EXPECT_FALSE(IsLeapYear(1900));
  EXPECT_TRUE(IsLeapYear(2024));
  EXPECT_FALSE(IsLeapYear(2023));
  EXPECT_EQ(DaysInAMonth(2024, 2), 29);
  EXPECT_EQ(DaysInAMonth(2023, 2), 28);
  EXPECT_EQ(DaysInAMonth(2023, 4), 30);
  EXPECT_EQ(DaysInAMonth(2023, 13), 0);
  EXPECT_EQ(DaysInAYear(2000), 366);
}

TEST(DateUtilsCalendar, DayOfWeekStartsOnSunday) {
  EXPECT_EQ(DayOfWeek(EncodeDate(1899, 12, 30)), 7);  // a Saturday
  EXPECT_EQ(DayOfWeek(EncodeDate(2000, 2, 29)), 3);   // a Tuesday
  EXPECT_EQ(DayOfWeek(EncodeDate(2024, 6, 2)), 1);    // a Sunday
  EXPECT_EQ(DayOfWeek(EncodeDateTime(1899, 12, 29, 23, 0, 0, 0)), 6);
  EXPECT_EQ(DayOfTheYear(EncodeDate(2000, 2, 29)), 60);
  EXPECT_EQ(DayOfTheYear(EncodeDate(2001, 12, 31)), 365);
  int Y, M, D, W;
  EXPECT_TRUE(DecodeDateFully(EncodeDate(2000, 3, 1), Y, M, D, W));
  EXPECT_EQ(W, 4);
}

TEST(DateUtilsPreEpoch, TimeIsSubtractedFromNegativeDates) {
  const TDateTime V = EncodeDateTime(1899, 12, 29, 6, 0, 0, 0);
  EXPECT_DOUBLE_EQ(V, -1.25);
  int Y, M, D, H, N, S, Z;
  DecodeDateTime(-1.25, Y, M, D, H, N, S, Z);
  EXPECT_EQ(Y, 1899);
  EXPECT_EQ(M, 12);
  EXPECT_EQ(D, 29);
  EXPECT_EQ(H, 6);
  EXPECT_EQ(DateOf(-1.25), -1.0);
  EXPECT_DOUBLE_EQ(TimeOf(-1.25), 0.25);
  // Day 0 with a time and day -0 are the same moment.
  DecodeDateTime(-0.5, Y, M, D, H, N, S, Z);
  EXPECT_EQ(D, 30);
  EXPECT_EQ(H, 12);
}

TEST(DateUtilsRoundTrip, EveryFieldSurvivesEncodeAndDecode) {
  struct Case { int Y, M, D, H, N, S, Z; };
  for (Case C : {Case{1, 1, 1, 0, 0, 0, 0}, Case{1582, 10, 4, 23, 59, 59, 999}, Case{1899, 12, 29, 0, 0, 0, 1},
                 Case{1899, 12, 30, 0, 0, 0, 0}, Case{1970, 1, 1, 12, 34, 56, 789}, Case{2000, 2, 29, 13, 5, 9, 123},
                 Case{9999, 12, 31, 23, 59, 59, 999}}) {
    const TDateTime V = EncodeDateTime(C.Y, C.M, C.D, C.H, C.N, C.S, C.Z);
    int Y, M, D, H, N, S, Z;
    DecodeDateTime(V, Y, M, D, H, N, S, Z);
    EXPECT_EQ((std::vector<int>{Y, M, D, H, N, S, Z}), (std::vector<int>{C.Y, C.M, C.D, C.H, C.N, C.S, C.Z}))
        << C.Y << "-" << C.M << "-" << C.D;
  }
}

TEST(DateUtilsRoundTrip, DecodingRoundsToTheNearestMillisecond) {
  // 0.1 ms short of 10:00:00.001 still reads as .001, and 23:59:59.9996 as the next day.
  const TDateTime Almost = EncodeTime(10, 0, 0, 1) - 0.0001 / MSecsPerDay;
  int H, N, S, Z;
  DecodeTime(Almost, H, N, S, Z);
  EXPECT_EQ(Z, 1);
  const TDateTime Late = 1 + (MSecsPerDay - 0.4) / MSecsPerDay;
  int Y, M, D;
  DecodeDate(Late, Y, M, D);
  EXPECT_EQ(D, 1);  // 1 January 1900
}

TEST(DateUtilsRoundTrip, OutOfRangeValuesRaise) {
  int Y, M, D;
  EXPECT_THROW(DecodeDate(std::nan(""), Y, M, D), EConvertError);
  EXPECT_THROW(DecodeDate(MaxDateTime + 2, Y, M, D), EConvertError);
  EXPECT_THROW(DecodeDate(MinDateTime - 1, Y, M, D), EConvertError);
  EXPECT_THROW(DecodeDate(1e300, Y, M, D), EConvertError);
}

TEST(DateUtilsTimeStamp, EpochIsDay693594) {
  const TTimeStamp S = DateTimeToTimeStamp(EncodeDateTime(1899, 12, 30, 0, 0, 1, 500));
  EXPECT_EQ(S.Date, 693594);
  EXPECT_EQ(S.Time, 1500);
  const TTimeStamp P = DateTimeToTimeStamp(-1.25);
  EXPECT_EQ(P.Date, 693593);
  EXPECT_EQ(P.Time, 6 * 3600 * 1000);
  EXPECT_DOUBLE_EQ(TimeStampToDateTime(P), -1.25);
  EXPECT_EQ(DateTimeToTimeStamp(EncodeDate(1, 1, 1)).Date, 1);
}

TEST(DateUtilsTimeStamp, MillisecondsRoundTrip) {
  const TTimeStamp S{45296789, 730000};
  const int64_t MS = TimeStampToMSecs(S);
  EXPECT_EQ(MS, int64_t{730000} * 86400000 + 45296789);
  const TTimeStamp Back = MSecsToTimeStamp(MS);
  EXPECT_EQ(Back.Date, S.Date);
  EXPECT_EQ(Back.Time, S.Time);
  const TTimeStamp Neg = MSecsToTimeStamp(-1);
  EXPECT_EQ(Neg.Date, -1);
  EXPECT_EQ(Neg.Time, 86399999);
}

TEST(DateUtilsTimeStamp, InvalidStampsRaise) {
  EXPECT_THROW(TimeStampToDateTime(TTimeStamp{-1, 1}), EConvertError);
  EXPECT_THROW(TimeStampToDateTime(TTimeStamp{86400000, 1}), EConvertError);
  EXPECT_THROW(TimeStampToDateTime(TTimeStamp{0, 0}), EConvertError);
}

TEST(DateUtilsText, WritesTheDocumentedFormat) {
  EXPECT_EQ(DateTimeToStr(EncodeDateTime(2000, 2, 29, 13, 5, 9, 123)), "2000-02-29 13:05:09.123");
  EXPECT_EQ(DateTimeToStr(EncodeDate(2000, 2, 29)), "2000-02-29");
  EXPECT_EQ(DateTimeToStr(EncodeTime(7, 8, 9, 10)), "07:08:09.010");
  EXPECT_EQ(DateTimeToStr(-1.25), "1899-12-29 06:00:00.000");
  EXPECT_EQ(DateToStr(EncodeDate(1, 1, 1)), "0001-01-01");
}

TEST(DateUtilsText, ReadsAllAcceptedForms) {
  EXPECT_DOUBLE_EQ(StrToDateTime("2000-02-29 13:05:09.123"), EncodeDateTime(2000, 2, 29, 13, 5, 9, 123));
  EXPECT_DOUBLE_EQ(StrToDateTime("2000-02-29T13:05"), EncodeDateTime(2000, 2, 29, 13, 5, 0, 0));
  EXPECT_DOUBLE_EQ(StrToDateTime("2000-02-29"), EncodeDate(2000, 2, 29));
  EXPECT_DOUBLE_EQ(StrToDateTime("13:05:09"), EncodeTime(13, 5, 9, 0));
  EXPECT_DOUBLE_EQ(StrToTime("13:05:09.5"), EncodeTime(13, 5, 9, 500));
  EXPECT_DOUBLE_EQ(StrToDateTime("1899-12-29 06:00"), -1.25);
  for (const char* Bad : {"2000-02-30", "2000-2", "13:5", "25:00", "2000-01-01 10:00 x", "", "yesterday",
                          "2000-01-01  10:00"})
    EXPECT_THROW(StrToDateTime(Bad), EConvertError) << Bad;
  EXPECT_THROW(StrToDate("10:00"), EConvertError);
  EXPECT_THROW(StrToTime("2000-01-01"), EConvertError);
}

TEST(DateUtilsClock, NowIsTodayPlusTime) {
  const TDateTime Before = Now();
  const TDateTime Today = Date();
  EXPECT_GE(Before, Today);
  EXPECT_LT(Before, Today + 1.01);
  EXPECT_GT(Today, EncodeDate(2020, 1, 1));
  EXPECT_GE(Time(), 0.0);
  EXPECT_LT(Time(), 1.0);
}
