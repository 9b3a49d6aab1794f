// ZylAsa: value conversion — one value in a record buffer (in the form it was bound with) to a
// host Variant and back, the 16-bit null and truncation indicators, and the library's date-time
// record to and from the host TDateTime.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "asa/AsaSQLInternal.h"
#include "asa/ZylAsa.h"
#include "host/Messages.h"

using namespace zylasa;

namespace {

int16_t ReadIndicator(const uint8_t* Indicators, int32_t FieldNo) {
  int16_t V;
  std::memcpy(&V, Indicators + static_cast<size_t>(FieldNo) * 2, sizeof V);
  return V;
}

// Text of a byte array or string Variant; false for every other kind.
bool BytesOf(const Variant& Value, const uint8_t*& Data, size_t& Length, AnsiString& Holder) {
  if (Value.VarType() == (varArray | varByte)) {
    Data = static_cast<const uint8_t*>(VarArrayLock(Value));
    Length = static_cast<size_t>(std::max(0, Value.ElementCount()));
    return true;
  }
  if (Value.VarType() == varString || Value.VarType() == varOleStr) {
    Holder = Value.AsString();
    Data = reinterpret_cast<const uint8_t*>(Holder.data());
    Length = Holder.size();
    return true;
  }
  return false;
}

}  // namespace

// ---- date-time records ---------------------------------------------------------------------------

namespace {

// Days from 0001-01-01 (day 0) to the given proleptic Gregorian date, by the era arithmetic
// (no month loop): every value of every fetched date column passes through here.
int32_t CivilDayNumber(int Year, int Month, int Day) {
  const int Y = Year - (Month <= 2 ? 1 : 0);
  const int Era = Y / 400;  // Y >= 0 for years 1..9999
  const int YearOfEra = Y - Era * 400;
  const int DayOfYear = (153 * (Month + (Month > 2 ? -3 : 9)) + 2) / 5 + Day - 1;  // from March 1
  const int DayOfEra = YearOfEra * 365 + YearOfEra / 4 - YearOfEra / 100 + DayOfYear;
  return Era * 146097 + DayOfEra - 306;  // 0000-03-01 lies 306 days before 0001-01-01
}

bool ValidDate(int Year, int Month, int Day) {
  static const uint8_t Days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (Year < 1 || Year > 9999 || Month < 1 || Month > 12 || Day < 1) return false;
  const bool Leap = (Year % 4 == 0 && Year % 100 != 0) || Year % 400 == 0;
  return Day <= Days[Month - 1] + (Month == 2 && Leap ? 1 : 0);
}

}  // namespace

TDateTime GetAsaTimeStamp(const Tsqldatetime& Stamp) {
  // The host's day 0 is 1899-12-30.
  static const int32_t HostEpoch = CivilDayNumber(1899, 12, 30);
  TDateTime Date = 0;
  const int Year = Stamp.year, Month = Stamp.month + 1, Day = Stamp.day;
  if (ValidDate(Year, Month, Day)) Date = static_cast<TDateTime>(CivilDayNumber(Year, Month, Day) - HostEpoch);
  TDateTime Time = 0;
  const a_sql_uint32 Micro = Stamp.microsecond;
  if (Stamp.hour <= 23 && Stamp.minute <= 59 && Stamp.second <= 59 && Micro <= 999999) {
    const int MSec = ((Stamp.hour * 60 + Stamp.minute) * 60 + Stamp.second) * 1000 + static_cast<int>(Micro / 1000);
    Time = static_cast<TDateTime>(MSec) / MSecsPerDay;  // as EncodeTime computes it
  }
  // Before the epoch the host counts the time of day away from zero.
  return Date >= 0 ? Date + Time : Date - Time;
}

void PutAsaTimeStamp(bool WithDate, TDateTime Value, Tsqldatetime& Stamp) {
  std::memset(&Stamp, 0, sizeof Stamp);
  if (!std::isfinite(Value)) return;
  int Hour, Min, Sec, MSec;
  DecodeTime(Value, Hour, Min, Sec, MSec);
  Stamp.hour = static_cast<unsigned char>(Hour);
  Stamp.minute = static_cast<unsigned char>(Min);
  Stamp.second = static_cast<unsigned char>(Sec);
  Stamp.microsecond = static_cast<a_sql_uint32>(MSec) * 1000u;
  if (!WithDate && std::trunc(Value) == 0) return;  // a time of day keeps its date fields 0
  int Year, Month, Day;
  DecodeDate(Value, Year, Month, Day);
  if (Year < 1 || Year > 9999) return;  // the host cannot encode it: the date stays 0
  Stamp.year = static_cast<unsigned short>(Year);
  Stamp.month = static_cast<unsigned char>(Month - 1);
  Stamp.day = static_cast<unsigned char>(Day);
  Stamp.day_of_week = static_cast<unsigned char>(DayOfWeek(Value) - 1);
  Stamp.day_of_year = static_cast<unsigned short>(DayOfTheYear(Value) - 1);
}

// ---- indicators ----------------------------------------------------------------------------------

bool TAsaSQL::GetNullIndicator(uint8_t* Indicators, int32_t FieldNo) {
  if (!Indicators || FieldNo < 0) return true;
  return ReadIndicator(Indicators, FieldNo) == -1;
}

void TAsaSQL::PutNullIndicator(uint8_t* Indicators, int32_t FieldNo, bool IsNull) {
  if (!Indicators || FieldNo < 0) return;
  const int16_t V = IsNull ? -1 : 0;
  std::memcpy(Indicators + static_cast<size_t>(FieldNo) * 2, &V, sizeof V);
}

bool TAsaSQL::GetBlobTruncIndicator(uint8_t* Indicators, int32_t FieldNo) {
  if (GetBlobSize() == 0) return true;
  if (!Indicators || FieldNo < 0) return false;
  return ReadIndicator(Indicators, FieldNo) > 0;
}

bool TAsaSQL::IsBlobTruncated(TZyloBlobStream* BlobStream) {
  if (!BlobStream) return false;
  const int32_t FieldNo = BlobStream->GetFieldNo();
  if (FieldNo < 0 || FieldNo >= GetFieldCount()) return false;
  return GetBlobTruncIndicator(CurrentIndicators(), FieldNo);
}

bool TAsaSQL::GetFieldTimeStamp(const Variant& NameOrIndex, Tsqldatetime& Stamp) {
  std::memset(&Stamp, 0, sizeof Stamp);
  TZyloFieldDef* Def = FieldOrRaise(NameOrIndex);
  if (Def->FieldType != ztDate && Def->FieldType != ztTime && Def->FieldType != ztDateTime) return false;
  const uint8_t* Row = CurrentRecord();
  if (!Row || Def->Offset < 0 || Def->Size < static_cast<int32_t>(sizeof Stamp) ||
      static_cast<int64_t>(Def->Offset) + Def->Size > GetRecordSize())
    return true;  // nothing described into the buffer yet: the zero record
  std::memcpy(&Stamp, Row + Def->Offset, sizeof Stamp);
  return true;
}

// ---- buffer to Variant ---------------------------------------------------------------------------

// The length of a fetched text: at most what the 32767-byte work buffer of the design holds, up to
// the first NUL.
static size_t FetchedLength(const uint8_t* Data, int32_t Size) {
  const size_t Cap = static_cast<size_t>(std::clamp(Size, 0, kAsaPieceBuffer - 1));
  return strnlen(reinterpret_cast<const char*>(Data), Cap);
}

AnsiString TAsaSQL::FetchedText(const uint8_t* Data, int32_t Size) {
  AnsiString Text(reinterpret_cast<const char*>(Data), FetchedLength(Data, Size));
  TZyloSession* S = GetSessionObject();
  if (S && S->GetOEMConvert() && !Text.empty())
    S->TranslateChar(Text.data(), Text.data(), false, static_cast<int32_t>(Text.size()));
  return Text;
}

Variant TAsaSQL::ReadWholeBlob(TZyloBlobStream* Blob, bool AsText) {
  const int32_t Size = Blob->GetBlobSize();  // loads the current row's value when needed
  std::vector<uint8_t> Bytes(static_cast<size_t>(std::max(Size, 0)));
  Blob->Seek(0, soBeginning);
  int64_t Got = Bytes.empty() ? 0 : Blob->Read(Bytes.data(), static_cast<int64_t>(Bytes.size()));
  Bytes.resize(static_cast<size_t>(std::max<int64_t>(Got, 0)));
  if (!AsText) return StrToVarByte(Bytes.data(), static_cast<int32_t>(Bytes.size()));
  AnsiString Text(Bytes.begin(), Bytes.end());
  TZyloSession* S = GetSessionObject();
  if (S && S->GetOEMConvert() && !Text.empty())
    S->TranslateChar(Text.data(), Text.data(), false, static_cast<int32_t>(Text.size()));
  return Variant(std::move(Text));
}

Variant TAsaSQL::GetFieldData(uint8_t* Buffer, int32_t Offset, int32_t Size, TZyloFieldTypes FieldType,
                              TZyloBlobStream* Blob) {
  if (!Buffer) return Variant::Null();
  const uint8_t* P = Buffer + Offset;
  switch (FieldType) {
    case ztString:
      return Variant(FetchedText(P, Size));
    case ztInteger: {
      int32_t V;
      std::memcpy(&V, P, sizeof V);
      return Variant(V);
    }
    case ztInt64: {
      // Exactly, as a 64-bit integer Variant: a double would lose the digits above 2^53.
      int64_t V;
      std::memcpy(&V, P, sizeof V);
      return Variant(static_cast<long long>(V));
    }
    case ztFloat:
    case ztCurrency: {
      double V;
      std::memcpy(&V, P, sizeof V);
      return Variant(V);
    }
    case ztDate:
    case ztTime:
    case ztDateTime: {
      Tsqldatetime Stamp;
      std::memcpy(&Stamp, P, sizeof Stamp);
      return Variant::FromDateTime(GetAsaTimeStamp(Stamp));
    }
    case ztBoolean:
      return Variant(*P != 0);
    case ztBinary: {
      // The value is as long as the server says, not as long as the column may hold: a
      // VARBINARY(10) holding two bytes reads as those two bytes.
      if (Size < 2) return Variant::Null();
      uint16_t Stored;
      std::memcpy(&Stored, P, sizeof Stored);
      return StrToVarByte(P + 2, std::min<int32_t>(Stored, Size - 2));
    }
    case ztMemo:
      if (IsBlobTruncated(Blob)) return ReadWholeBlob(Blob, true);
      return Variant(FetchedText(P, Size));
    case ztBlob:
      // Bytes may hold NULs, so the buffer cannot tell where a short value ends: a value is
      // always taken whole from the stream when there is one.
      if (Blob) return ReadWholeBlob(Blob, false);
      return StrToVarByte(P, Size);
    default:
      return Variant::Null();
  }
}

void TAsaSQL::GetFieldDataInto(Variant& Value, uint8_t* Buffer, int32_t Offset, int32_t Size,
                               TZyloFieldTypes FieldType, TZyloBlobStream* Blob) {
  // The kinds of nearly every fetched value go into the Variant in place, so that one Variant
  // read field after field keeps its string storage; the rest (and text that the OEM conversion
  // rewrites) takes the general path. Each case gives what GetFieldData gives.
  if (Buffer) {
    const uint8_t* P = Buffer + Offset;
    switch (FieldType) {
      case ztString: {
        TZyloSession* S = GetSessionObject();
        if (S && S->GetOEMConvert()) break;
        Value.SetString(reinterpret_cast<const char*>(P), FetchedLength(P, Size));
        return;
      }
      case ztInteger: {
        int32_t V;
        std::memcpy(&V, P, sizeof V);
        Value.SetInteger(V);
        return;
      }
      case ztFloat:
      case ztCurrency: {
        double V;
        std::memcpy(&V, P, sizeof V);
        Value.SetDouble(V);
        return;
      }
      case ztDate:
      case ztTime:
      case ztDateTime: {
        Tsqldatetime Stamp;
        std::memcpy(&Stamp, P, sizeof Stamp);
        Value.SetDateTime(GetAsaTimeStamp(Stamp));
        return;
      }
      default: break;
    }
  }
  Value = GetFieldData(Buffer, Offset, Size, FieldType, Blob);
}

// ---- Variant to buffer ---------------------------------------------------------------------------

namespace {

// A value this field cannot take raises the host's conversion error, before any byte of the
// buffer is written: the record keeps what it held.
[[noreturn]] void CannotTake(const Variant& Value, const char* FieldKind) {
  throw EVariantTypeCastError(Format(LoadResString(SVarTypeCastError), {VarTypeAsText(Value.VarType()), FieldKind}));
}

// Text or bytes longer than the field holds: the server would refuse them (or cut them, which
// nothing here may do silently).
[[noreturn]] void TooLong(size_t Length, int32_t Room) {
  throw EConvertError("Right truncation of string data: " + std::to_string(Length) + " bytes for a field of " +
                      std::to_string(std::max(Room, 0)));
}

int64_t ExactInt64(const Variant& Value) {
  switch (Value.VarType()) {
    case varBoolean: return Value.AsBoolean() ? 1 : 0;
    case varSmallint: case varInteger: case varShortInt: case varByte: case varWord: case varLongWord: case varInt64:
      return Value.AsInt64();
    default: break;
  }
  const double D = Value.AsDouble();  // raises for what is no number
  const double R = std::nearbyint(D);  // nearest, halves to even
  if (!(R >= -9223372036854775808.0 && R < 9223372036854775808.0))
    throw EVariantOverflowError(Format(LoadResString(SVarOverflow), {VarTypeAsText(Value.VarType()), "Int64"}));
  return static_cast<int64_t>(R);
}

}  // namespace

void TAsaSQL::PutFieldData(uint8_t* Buffer, int32_t Offset, int32_t Size, TZyloFieldTypes FieldType,
                           const Variant& Value, TZyloBlobStream* Blob) {
  if (!Buffer) return;
  uint8_t* P = Buffer + Offset;
  TZyloSession* S = GetSessionObject();
  const bool Oem = S && S->GetOEMConvert();
  switch (FieldType) {
    case ztString: {
      if (Size <= 0) return;
      const uint8_t* Data = nullptr;
      size_t N = 0;
      AnsiString Holder;
      if (!BytesOf(Value, Data, N, Holder)) {
        Holder = Value.AsString();  // raises for what has no text form
        Data = reinterpret_cast<const uint8_t*>(Holder.data());
        N = Holder.size();
      }
      if (N > static_cast<size_t>(Size - 1)) TooLong(N, Size - 1);
      std::memcpy(P, Data, N);
      P[N] = 0;
      if (Oem && N) S->TranslateChar(reinterpret_cast<char*>(P), reinterpret_cast<char*>(P), true, int32_t(N));
      return;
    }
    case ztInteger: {
      int32_t V = Value.VarType() == varBoolean ? (Value.AsBoolean() ? 1 : 0) : Value.AsInteger();
      std::memcpy(P, &V, sizeof V);
      return;
    }
    case ztInt64: {
      int64_t V = ExactInt64(Value);
      std::memcpy(P, &V, sizeof V);
      return;
    }
    case ztFloat:
    case ztCurrency: {
      double V = Value.VarType() == varBoolean ? (Value.AsBoolean() ? 1.0 : 0.0) : Value.AsDouble();
      std::memcpy(P, &V, sizeof V);
      return;
    }
    case ztDate:
    case ztDateTime:
    case ztTime: {
      Tsqldatetime Stamp;
      PutAsaTimeStamp(FieldType != ztTime, Value.AsDateTime(), Stamp);
      std::memcpy(P, &Stamp, sizeof Stamp);
      return;
    }
    case ztBoolean: {
      const bool V = Value.AsBoolean();
      *P = V ? 1 : 0;
      return;
    }
    case ztBinary: {
      // Bytes, or the bytes of a text.
      const uint8_t* Data = nullptr;
      size_t N = 0;
      AnsiString Holder;
      if (Size < 2) return;
      if (!BytesOf(Value, Data, N, Holder)) CannotTake(Value, "Binary");
      if (N > static_cast<size_t>(Size - 2)) TooLong(N, Size - 2);
      uint16_t Len = static_cast<uint16_t>(N);
      std::memcpy(P, &Len, sizeof Len);
      if (N) std::memcpy(P + 2, Data, N);
      return;
    }
    case ztMemo:
    case ztBlob: {
      const uint8_t* Data = nullptr;
      size_t Len = 0;
      AnsiString Holder;
      if (!BytesOf(Value, Data, Len, Holder)) {
        // A long text takes any value that has a text form; long bytes only bytes and texts.
        if (FieldType == ztBlob || Value.IsArray()) CannotTake(Value, FieldType == ztBlob ? "Blob" : "Memo");
        Holder = Value.AsString();
        Data = reinterpret_cast<const uint8_t*>(Holder.data());
        Len = Holder.size();
      }
      if (FieldType == ztMemo && Oem && Len) {
        if (Data != reinterpret_cast<const uint8_t*>(Holder.data())) {
          Holder.assign(reinterpret_cast<const char*>(Data), Len);
          Data = reinterpret_cast<const uint8_t*>(Holder.data());
        }
        S->TranslateChar(Holder.data(), Holder.data(), true, static_cast<int32_t>(Len));
      }
      if (Blob) {
        Blob->Clear();
        if (Len) Blob->Write(Data, static_cast<int64_t>(Len));
        else Blob->Truncate();  // an empty value is still a change of the field
      } else if (Size > 0 && Len) {
        if (Len > static_cast<size_t>(Size)) TooLong(Len, Size);
        std::memcpy(P, Data, Len);
      }
      return;
    }
    default:
      return;
  }
}
