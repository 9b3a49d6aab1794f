// DateUtils: the host's date-time value and its calendar arithmetic.
//
// TDateTime is a double: the whole part counts days since 30 December 1899 (day 0),
// the fraction is the time of day. For dates before that day the time is
// subtracted: -1.25 is 29 December 1899 06:00, not 28 December 18:00. Every
// conversion here honours that rule, so -1.25 decodes and re-encodes to itself.
//
// TTimeStamp is the split form: Date counts days with 1 January of the year 1 as
// day 1 (so 30 December 1899 is 693594), Time counts milliseconds since midnight.
//
// The one text format is 'yyyy-mm-dd hh:nn:ss.zzz'; a date alone ('yyyy-mm-dd') and
// a time alone ('hh:nn', 'hh:nn:ss', 'hh:nn:ss.zzz') are read as well, and a 'T'
// may stand for the blank. Dates range over the years 1 to 9999; the calendar is
// the proleptic Gregorian one.
#pragma once
#pragma GCC visibility push(default)

#include <cstdint>

#include "host/SysUtils.h"

using TDateTime = double;

struct TTimeStamp {
  int32_t Time = 0;  // milliseconds since midnight, 0..86399999
  int32_t Date = 0;  // days since 1 January 0001 plus one
};

constexpr int32_t HoursPerDay = 24;
constexpr int32_t MinsPerDay = 24 * 60;
constexpr int32_t SecsPerDay = MinsPerDay * 60;
constexpr int32_t MSecsPerDay = SecsPerDay * 1000;
constexpr int32_t DateDelta = 693594;  // TTimeStamp.Date of 30 December 1899
constexpr double UnixDateDelta = 25569;  // TDateTime of 1 January 1970
constexpr TDateTime MinDateTime = -693593.0;        // 1 January 0001
constexpr TDateTime MaxDateTime = 2958465.99999999;  // 31 December 9999 23:59:59.999

bool IsLeapYear(int Year);
// Days in Month of Year, 0 for a month outside 1..12.
int DaysInAMonth(int Year, int Month);
int DaysInAYear(int Year);

// Encoding raises EConvertError for values outside the calendar; the Try forms
// return false instead and leave Value untouched.
TDateTime EncodeDate(int Year, int Month, int Day);
bool TryEncodeDate(int Year, int Month, int Day, TDateTime& Value);
TDateTime EncodeTime(int Hour, int Min, int Sec, int MSec);
bool TryEncodeTime(int Hour, int Min, int Sec, int MSec, TDateTime& Value);
// Date plus time by the pre-epoch rule above.
TDateTime EncodeDateTime(int Year, int Month, int Day, int Hour, int Min, int Sec, int MSec);
bool TryEncodeDateTime(int Year, int Month, int Day, int Hour, int Min, int Sec, int MSec,
                       TDateTime& Value);

// Decoding rounds to the nearest millisecond. Values outside MinDateTime..
// MaxDateTime (and NaN) raise EConvertError.
void DecodeDate(TDateTime Value, int& Year, int& Month, int& Day);
void DecodeTime(TDateTime Value, int& Hour, int& Min, int& Sec, int& MSec);
void DecodeDateTime(TDateTime Value, int& Year, int& Month, int& Day, int& Hour, int& Min,
                    int& Sec, int& MSec);
// As DecodeDate, also giving the day of the week (Sunday = 1); returns IsLeapYear.
bool DecodeDateFully(TDateTime Value, int& Year, int& Month, int& Day, int& DOW);

int DayOfWeek(TDateTime Value);     // Sunday = 1 .. Saturday = 7
int DayOfTheYear(TDateTime Value);  // 1 January = 1
TDateTime DateOf(TDateTime Value);  // the date alone (time 00:00)
TDateTime TimeOf(TDateTime Value);  // the time alone (on day 0)

TTimeStamp DateTimeToTimeStamp(TDateTime Value);
// Raises EConvertError for a stamp whose Time is outside 0..86399999 or whose Date
// is below 1.
TDateTime TimeStampToDateTime(const TTimeStamp& Stamp);
// Milliseconds since 1 January 0001 00:00 (as day 1) and back.
int64_t TimeStampToMSecs(const TTimeStamp& Stamp);
TTimeStamp MSecsToTimeStamp(int64_t MSecs);

TDateTime Now();   // local time
TDateTime Date();  // today, 00:00
TDateTime Time();  // the time of day, on day 0

// Text in the documented format: 'yyyy-mm-dd' when the time is 00:00:00.000,
// 'hh:nn:ss.zzz' when the date is day 0 and there is a time, else both.
AnsiString DateTimeToStr(TDateTime Value);
AnsiString DateToStr(TDateTime Value);  // 'yyyy-mm-dd'
AnsiString TimeToStr(TDateTime Value);  // 'hh:nn:ss.zzz'
TDateTime StrToDateTime(const AnsiString& S);  // any of the accepted forms
TDateTime StrToDate(const AnsiString& S);      // a date alone
TDateTime StrToTime(const AnsiString& S);      // a time alone
bool TryStrToDateTime(const AnsiString& S, TDateTime& Value);
bool TryStrToDate(const AnsiString& S, TDateTime& Value);
bool TryStrToTime(const AnsiString& S, TDateTime& Value);
#pragma GCC visibility pop
