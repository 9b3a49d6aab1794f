// ZylDbx: the value forms of dbExpress (dates as day numbers, times in milliseconds, SQL time
// stamps, BCD) to and from the statement's forms, and the field-type mapping.
#include <cmath>
#include <cstring>

#include "dbxdriver/ZylDbx.h"

namespace zyldbx {

void MapFieldType(TZyloFieldTypes FieldType, uint16_t& DbxType, uint16_t& SubType) {
  SubType = 0;
  switch (FieldType) {
    case ztString: DbxType = fldZSTRING; break;
    case ztInteger: DbxType = fldINT32; break;
    // A host of this interface has no 64-bit integer getter: BCD carries every value exactly.
    case ztInt64: DbxType = fldBCD; break;
    case ztFloat:
    case ztCurrency: DbxType = fldFLOAT; break;
    case ztDate: DbxType = fldDATE; break;
    case ztTime: DbxType = fldTIME; break;
    case ztDateTime: DbxType = fldDATETIME; break;
    case ztBoolean: DbxType = fldBOOL; break;
    // The record buffer holds a binary value behind its 16-bit length, which is the var-bytes
    // form: the host gets the value's own length instead of the column's padded width.
    case ztBinary: DbxType = fldVARBYTES; break;
    case ztMemo: DbxType = fldBLOB; SubType = fldstMEMO; break;
    case ztBlob: DbxType = fldBLOB; SubType = fldstBINARY; break;
    default: DbxType = fldUNKNOWN; break;
  }
}

TBcd Int64ToBcd(int64_t Value) {
  TBcd Bcd{};
  const bool Negative = Value < 0;
  uint64_t Magnitude = Negative ? 0 - static_cast<uint64_t>(Value) : static_cast<uint64_t>(Value);
  char Digits[20];
  int N = 0;
  do {
    Digits[N++] = static_cast<char>(Magnitude % 10);
    Magnitude /= 10;
  } while (Magnitude != 0);
  Bcd.Precision = static_cast<uint8_t>(N);
  Bcd.SignSpecialPlaces = Negative ? 0x80 : 0;
  for (int I = 0; I < N; ++I) {  // most significant digit first, two to a byte
    const uint8_t D = static_cast<uint8_t>(Digits[N - 1 - I]);
    Bcd.Fraction[I / 2] |= (I % 2 == 0) ? static_cast<uint8_t>(D << 4) : D;
  }
  return Bcd;
}

namespace {

bool ValidTime(const Tsqldatetime& S) {
  return S.hour <= 23 && S.minute <= 59 && S.second <= 59 && S.microsecond <= 999999;
}

}  // namespace

int32_t AsaToDbxDate(const Tsqldatetime& Stamp) {
  return static_cast<int32_t>(std::trunc(GetAsaTimeStamp(Stamp))) + DBXDateDelta;
}

int32_t AsaToDbxTime(const Tsqldatetime& Stamp) {
  if (!ValidTime(Stamp)) return 0;
  return ((Stamp.hour * 60 + Stamp.minute) * 60 + Stamp.second) * 1000;
}

TSQLTimeStamp AsaToSQLTimeStamp(const Tsqldatetime& Stamp) {
  // The date as the statement reads it (whole days: exact), the time from the record's own fields.
  int Year = 0, Month = 0, Day = 0;
  DecodeDate(std::trunc(GetAsaTimeStamp(Stamp)), Year, Month, Day);
  TSQLTimeStamp R{};
  R.Year = static_cast<int16_t>(Year);
  R.Month = static_cast<uint16_t>(Month);
  R.Day = static_cast<uint16_t>(Day);
  if (ValidTime(Stamp)) {
    R.Hour = Stamp.hour;
    R.Minute = Stamp.minute;
    R.Second = Stamp.second;
    R.Fractions = Stamp.microsecond / 1000;
  }
  return R;
}

TSQLTimeStamp DateTimeToSQLTimeStamp(TDateTime Value) {
  int Year, Month, Day, Hour, Min, Sec, MSec;
  DecodeDateTime(Value, Year, Month, Day, Hour, Min, Sec, MSec);
  TSQLTimeStamp R{};
  R.Year = static_cast<int16_t>(Year);
  R.Month = static_cast<uint16_t>(Month);
  R.Day = static_cast<uint16_t>(Day);
  R.Hour = static_cast<uint16_t>(Hour);
  R.Minute = static_cast<uint16_t>(Min);
  R.Second = static_cast<uint16_t>(Sec);
  R.Fractions = static_cast<uint32_t>(MSec);
  return R;
}

bool SQLTimeStampToDateTime(const TSQLTimeStamp& Stamp, TDateTime& Value) {
  static const TSQLTimeStamp Blank{};
  if (std::memcmp(&Stamp, &Blank, sizeof Blank) == 0) {
    Value = 0;
    return true;
  }
  if (Stamp.Fractions > 999) return false;
  return TryEncodeDateTime(Stamp.Year, Stamp.Month, Stamp.Day, Stamp.Hour, Stamp.Minute, Stamp.Second,
                           static_cast<int>(Stamp.Fractions), Value);
}

}  // namespace zyldbx
