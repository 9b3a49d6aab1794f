// Calendar arithmetic of the host date-time value. Everything goes through the
// time-stamp form (day number + milliseconds), which keeps the pre-epoch rule
// (negative dates subtract the time) in one place: DateTimeToTimeStamp and
// TimeStampToDateTime.
#include "host/DateUtils.h"

#include <cmath>
#include <cstdio>
#include <ctime>

#include "host/Messages.h"

namespace {

constexpr int MonthDays[2][13] = {{0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
                                  {0, 31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31}};

// Days before 1 January of Year, counting 1 January 0001 as day 1's predecessor.
int32_t DaysBeforeYear(int Year) {
  const int Y = Year - 1;
  return Y * 365 + Y / 4 - Y / 100 + Y / 400;
}

bool ValidStamp(const TTimeStamp& S) { return S.Time >= 0 && S.Time < MSecsPerDay && S.Date > 0; }

// Day number (TTimeStamp.Date) to year, month, day.
void DecodeDayNumber(int32_t DayNumber, int& Year, int& Month, int& Day) {
  int32_t D = DayNumber - 1;  // days since 1 January 0001
  const int32_t Y400 = D / 146097;
  D %= 146097;
  int32_t Y100 = D / 36524;
  if (Y100 == 4) Y100 = 3;  // the last day of a 400-year cycle
  D -= Y100 * 36524;
  const int32_t Y4 = D / 1461;
  D %= 1461;
  int32_t Y1 = D / 365;
  if (Y1 == 4) Y1 = 3;  // the last day of a leap cycle
  D -= Y1 * 365;
  Year = static_cast<int>(Y400 * 400 + Y100 * 100 + Y4 * 4 + Y1 + 1);
  const auto& Table = MonthDays[IsLeapYear(Year) ? 1 : 0];
  Month = 1;
  while (D >= Table[Month]) D -= Table[Month++];
  Day = static_cast<int>(D) + 1;
}

TTimeStamp CheckedStamp(TDateTime Value) {
  if (!(Value >= MinDateTime - 1 && Value < MaxDateTime + 1))  // also false for NaN
    throw EConvertError(Format(LoadResString(SInvalidDateTime), {FloatToStr(Value)}));
  TTimeStamp S = DateTimeToTimeStamp(Value);
  if (!ValidStamp(S)) throw EConvertError(Format(LoadResString(SInvalidDateTime), {FloatToStr(Value)}));
  return S;
}

}  // namespace

bool IsLeapYear(int Year) { return (Year % 4 == 0) && (Year % 100 != 0 || Year % 400 == 0); }

int DaysInAMonth(int Year, int Month) {
  if (Month < 1 || Month > 12) return 0;
  return MonthDays[IsLeapYear(Year) ? 1 : 0][Month];
}

int DaysInAYear(int Year) { return IsLeapYear(Year) ? 366 : 365; }

bool TryEncodeDate(int Year, int Month, int Day, TDateTime& Value) {
  if (Year < 1 || Year > 9999 || Month < 1 || Month > 12 || Day < 1 || Day > DaysInAMonth(Year, Month))
    return false;
  int32_t N = DaysBeforeYear(Year);
  for (int M = 1; M < Month; ++M) N += DaysInAMonth(Year, M);
  N += Day;  // N is now the time-stamp day number
  Value = static_cast<TDateTime>(N - DateDelta);
  return true;
}

TDateTime EncodeDate(int Year, int Month, int Day) {
  TDateTime V;
  if (!TryEncodeDate(Year, Month, Day, V)) throw EConvertError(LoadResString(SDateEncodeError));
  return V;
}

bool TryEncodeTime(int Hour, int Min, int Sec, int MSec, TDateTime& Value) {
  if (Hour < 0 || Hour > 23 || Min < 0 || Min > 59 || Sec < 0 || Sec > 59 || MSec < 0 || MSec > 999)
    return false;
  Value = static_cast<TDateTime>(((Hour * 60 + Min) * 60 + Sec) * 1000 + MSec) / MSecsPerDay;
  return true;
}

TDateTime EncodeTime(int Hour, int Min, int Sec, int MSec) {
  TDateTime V;
  if (!TryEncodeTime(Hour, Min, Sec, MSec, V)) throw EConvertError(LoadResString(STimeEncodeError));
  return V;
}

bool TryEncodeDateTime(int Year, int Month, int Day, int Hour, int Min, int Sec, int MSec, TDateTime& Value) {
  TDateTime D, T;
  if (!TryEncodeDate(Year, Month, Day, D) || !TryEncodeTime(Hour, Min, Sec, MSec, T)) return false;
  Value = D >= 0 ? D + T : D - T;
  return true;
}

TDateTime EncodeDateTime(int Year, int Month, int Day, int Hour, int Min, int Sec, int MSec) {
  TDateTime D = EncodeDate(Year, Month, Day);
  TDateTime T = EncodeTime(Hour, Min, Sec, MSec);
  return D >= 0 ? D + T : D - T;
}

TTimeStamp DateTimeToTimeStamp(TDateTime Value) {
  // Round the whole value to milliseconds once, then split: the day is the whole
  // part toward zero, the time the magnitude of what is left.
  TTimeStamp S;
  if (!std::isfinite(Value)) {
    S.Date = 0;
    S.Time = -1;
    return S;
  }
  const double MS = std::round(std::fabs(Value) * MSecsPerDay);
  if (MS > 9.0e15) {  // far outside the calendar: keep the arithmetic defined
    S.Date = 0;
    S.Time = -1;
    return S;
  }
  const int64_t Total = static_cast<int64_t>(MS);
  const int64_t Days = Total / MSecsPerDay;
  S.Time = static_cast<int32_t>(Total % MSecsPerDay);
  S.Date = static_cast<int32_t>(DateDelta + (Value < 0 ? -Days : Days));
  return S;
}

TDateTime TimeStampToDateTime(const TTimeStamp& Stamp) {
  if (!ValidStamp(Stamp))
    throw EConvertError(Format(LoadResString(SInvalidTimeStamp), {Stamp.Date, Stamp.Time}));
  const double Days = static_cast<double>(Stamp.Date - DateDelta);
  const double T = static_cast<double>(Stamp.Time) / MSecsPerDay;
  return Days >= 0 ? Days + T : Days - T;
}

int64_t TimeStampToMSecs(const TTimeStamp& Stamp) {
  return static_cast<int64_t>(Stamp.Date) * MSecsPerDay + Stamp.Time;
}

TTimeStamp MSecsToTimeStamp(int64_t MSecs) {
  TTimeStamp S;
  int64_t Days = MSecs / MSecsPerDay;
  int64_t Rest = MSecs % MSecsPerDay;
  if (Rest < 0) {
    Rest += MSecsPerDay;
    --Days;
  }
  S.Date = static_cast<int32_t>(Days);
  S.Time = static_cast<int32_t>(Rest);
  return S;
}

void DecodeDate(TDateTime Value, int& Year, int& Month, int& Day) {
  DecodeDayNumber(CheckedStamp(Value).Date, Year, Month, Day);
}

void DecodeTime(TDateTime Value, int& Hour, int& Min, int& Sec, int& MSec) {
  int32_t T = CheckedStamp(Value).Time;
  MSec = T % 1000;
  T /= 1000;
  Sec = T % 60;
  T /= 60;
  Min = T % 60;
  Hour = T / 60;
}

void DecodeDateTime(TDateTime Value, int& Year, int& Month, int& Day, int& Hour, int& Min, int& Sec,
                    int& MSec) {
  DecodeDate(Value, Year, Month, Day);
  DecodeTime(Value, Hour, Min, Sec, MSec);
}

bool DecodeDateFully(TDateTime Value, int& Year, int& Month, int& Day, int& DOW) {
  DecodeDate(Value, Year, Month, Day);
  DOW = DayOfWeek(Value);
  return IsLeapYear(Year);
}

int DayOfWeek(TDateTime Value) {
  // Day 1 (1 January 0001) was a Monday, so day number 7 was a Sunday.
  const int32_t D = CheckedStamp(Value).Date;
  return static_cast<int>(D % 7) + 1;
}

int DayOfTheYear(TDateTime Value) {
  const int32_t D = CheckedStamp(Value).Date;
  int Y, M, Dd;
  DecodeDayNumber(D, Y, M, Dd);
  return static_cast<int>(D - DaysBeforeYear(Y));
}

TDateTime DateOf(TDateTime Value) {
  TTimeStamp S = CheckedStamp(Value);
  S.Time = 0;
  return TimeStampToDateTime(S);
}

TDateTime TimeOf(TDateTime Value) { return static_cast<TDateTime>(CheckedStamp(Value).Time) / MSecsPerDay; }

TDateTime Now() {
  timespec Ts;
  clock_gettime(CLOCK_REALTIME, &Ts);
  tm Local;
  localtime_r(&Ts.tv_sec, &Local);
  return EncodeDateTime(Local.tm_year + 1900, Local.tm_mon + 1, Local.tm_mday, Local.tm_hour, Local.tm_min,
                        Local.tm_sec > 59 ? 59 : Local.tm_sec, static_cast<int>(Ts.tv_nsec / 1000000));
}

TDateTime Date() { return DateOf(Now()); }
TDateTime Time() { return TimeOf(Now()); }

// ---------------------------------------------------------------------------
// Text

AnsiString DateToStr(TDateTime Value) {
  int Y, M, D;
  DecodeDate(Value, Y, M, D);
  char Buf[16];
  std::snprintf(Buf, sizeof(Buf), "%04d-%02d-%02d", Y, M, D);
  return Buf;
}

AnsiString TimeToStr(TDateTime Value) {
  int H, N, S, Z;
  DecodeTime(Value, H, N, S, Z);
  char Buf[16];
  std::snprintf(Buf, sizeof(Buf), "%02d:%02d:%02d.%03d", H, N, S, Z);
  return Buf;
}

AnsiString DateTimeToStr(TDateTime Value) {
  const TTimeStamp S = CheckedStamp(Value);
  if (S.Time == 0) return DateToStr(Value);
  if (S.Date == DateDelta) return TimeToStr(Value);
  return DateToStr(Value) + " " + TimeToStr(Value);
}

namespace {

// Reads exactly Count digits (Count 0: one or more) at Pos.
bool Digits(const AnsiString& S, size_t& Pos, int MinCount, int MaxCount, int& Out) {
  int N = 0, V = 0;
  while (Pos < S.size() && N < MaxCount && S[Pos] >= '0' && S[Pos] <= '9') {
    V = V * 10 + (S[Pos++] - '0');
    ++N;
  }
  Out = V;
  return N >= MinCount;
}

bool ParseDate(const AnsiString& S, size_t& Pos, TDateTime& Value) {
  int Y, M, D;
  if (!Digits(S, Pos, 1, 4, Y) || Pos >= S.size() || S[Pos++] != '-') return false;
  if (!Digits(S, Pos, 1, 2, M) || Pos >= S.size() || S[Pos++] != '-') return false;
  if (!Digits(S, Pos, 1, 2, D)) return false;
  return TryEncodeDate(Y, M, D, Value);
}

bool ParseTime(const AnsiString& S, size_t& Pos, TDateTime& Value) {
  int H, N, Sec = 0, MSec = 0;
  if (!Digits(S, Pos, 1, 2, H) || Pos >= S.size() || S[Pos++] != ':') return false;
  if (!Digits(S, Pos, 2, 2, N)) return false;
  if (Pos < S.size() && S[Pos] == ':') {
    ++Pos;
    if (!Digits(S, Pos, 2, 2, Sec)) return false;
    if (Pos < S.size() && S[Pos] == '.') {
      ++Pos;
      size_t Start = Pos;
      if (!Digits(S, Pos, 1, 3, MSec)) return false;
      for (size_t L = Pos - Start; L < 3; ++L) MSec *= 10;  // ".5" is 500 ms
    }
  }
  return TryEncodeTime(H, N, Sec, MSec, Value);
}

}  // namespace

bool TryStrToDate(const AnsiString& S, TDateTime& Value) {
  const AnsiString T = Trim(S);
  size_t Pos = 0;
  TDateTime D;
  if (!ParseDate(T, Pos, D) || Pos != T.size()) return false;
  Value = D;
  return true;
}

bool TryStrToTime(const AnsiString& S, TDateTime& Value) {
  const AnsiString T = Trim(S);
  size_t Pos = 0;
  TDateTime V;
  if (!ParseTime(T, Pos, V) || Pos != T.size()) return false;
  Value = V;
  return true;
}

bool TryStrToDateTime(const AnsiString& S, TDateTime& Value) {
  const AnsiString T = Trim(S);
  if (TryStrToTime(T, Value)) return true;
  size_t Pos = 0;
  TDateTime D, Tm = 0;
  if (!ParseDate(T, Pos, D)) return false;
  if (Pos < T.size()) {
    if (T[Pos] != ' ' && T[Pos] != 'T') return false;
    ++Pos;
    if (!ParseTime(T, Pos, Tm) || Pos != T.size()) return false;
  }
  Value = D >= 0 ? D + Tm : D - Tm;
  return true;
}

TDateTime StrToDate(const AnsiString& S) {
  TDateTime V;
  if (!TryStrToDate(S, V)) throw EConvertError(Format(LoadResString(SInvalidDate), {S}));
  return V;
}

TDateTime StrToTime(const AnsiString& S) {
  TDateTime V;
  if (!TryStrToTime(S, V)) throw EConvertError(Format(LoadResString(SInvalidTime), {S}));
  return V;
}

TDateTime StrToDateTime(const AnsiString& S) {
  TDateTime V;
  if (!TryStrToDateTime(S, V)) throw EConvertError(Format(LoadResString(SInvalidDateTime), {S}));
  return V;
}
