// ZylDbx: command parameters — values in the host's buffers by logical type into parameter
// values, and output values of the statement back into the host's buffers.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "dbxdriver/ZylDbx.h"

namespace {

// The longest value a byte or text parameter may have: the statement counts bytes in 32 bits.
constexpr uint32_t kMaxParamBytes = 0x7FFFFFFF;

[[noreturn]] void InvalidValue(uint16_t Number, const AnsiString& Shown, uint16_t LogType) {
  throw EZyloException(Format(ZylLoadStr(ZYL_ERR_DBX_PARAM_INVALID), static_cast<int>(Number), Shown,
                              static_cast<int>(LogType)),
                       0);
}

template <class T>
T ReadAs(const void* Buffer) {
  T V;
  std::memcpy(&V, Buffer, sizeof V);
  return V;
}

size_t TextLength(const void* Buffer, uint32_t Length) {
  const char* S = static_cast<const char*>(Buffer);
  return Length > 0 ? strnlen(S, Length) : std::strlen(S);
}

// The parameter type the Variant kind of an output value stands for.
TZyloFieldTypes TypeOfValue(const Variant& V) {
  switch (V.VarType()) {
    case varSmallint: case varInteger: case varShortInt: case varByte: case varWord:
      return ztInteger;
    case varSingle: case varDouble: case varLongWord:
      return ztFloat;
    case varCurrency:
      return ztCurrency;
    case varDate:
      return ztDateTime;
    case varOleStr: case varString:
      return ztString;
    case varBoolean:
      return ztBoolean;
    case varInt64:
      return ztInt64;
    case varArray | varByte:
      return ztBlob;
    default:
      return ztUnknown;
  }
}

}  // namespace

// ---- host value -> parameter -------------------------------------------------------------------------

SQLResult TSQLCommandZYL::StoreParameter(TSQLParamZYL& Param, uint16_t Number, uint16_t LogType, uint16_t SubType,
                                         uint32_t Length, const void* Buffer) {
  if (!Buffer) return DBXERR_INVALIDPARAM;
  // A fixed-size value needs that many bytes; a Length below it (0 means "not given") is refused.
  auto Fixed = [&](size_t Size) {
    if (Length != 0 && Length < Size)
      throw EZyloException(Format(ZylLoadStr(ZYL_ERR_DBX_PARAM_BUFFER), static_cast<int>(Number),
                                  static_cast<int>(Size), static_cast<int>(Length)),
                           0);
  };
  auto Bytes = [&](const void* Data, uint32_t Count) {
    if (Count > kMaxParamBytes) InvalidValue(Number, Format("%u bytes", Count), LogType);
    return VarByteArrayOf(Data, Count);
  };
  TZyloFieldTypes Type = ztUnknown;
  Variant Value;
  switch (LogType) {
    case fldZSTRING:
      Type = ztString;
      Value = AnsiString(static_cast<const char*>(Buffer), TextLength(Buffer, Length));
      break;
    case fldDATE: {
      Fixed(4);
      const int32_t Day = ReadAs<int32_t>(Buffer);
      // 1 January of the year 1 to 31 December 9999.
      if (Day < 1 || Day > 3652059) InvalidValue(Number, IntToStr(Day), LogType);
      Type = ztDate;
      Value = Variant::FromDateTime(static_cast<TDateTime>(Day - DBXDateDelta));
      break;
    }
    case fldBLOB:
      if (SubType == fldstMEMO) {
        Type = ztMemo;
        Value = AnsiString(static_cast<const char*>(Buffer), TextLength(Buffer, Length));
      } else if (SubType == fldstBINARY) {
        Type = ztBlob;
        Value = Bytes(Buffer, Length);
      } else {
        return DBXERR_INVALIDFLDTYPE;
      }
      break;
    case fldBOOL: {
      // The host sends a 16-bit boolean; any non-zero byte of the value is true.
      const uint32_t N = Length == 0 ? 1 : std::min<uint32_t>(Length, 4);
      bool Flag = false;
      for (uint32_t I = 0; I < N; ++I) Flag = Flag || static_cast<const uint8_t*>(Buffer)[I] != 0;
      Type = ztBoolean;
      Value = Flag;
      break;
    }
    case fldINT16:
      Fixed(2);
      Type = ztInteger;
      Value = static_cast<int32_t>(ReadAs<int16_t>(Buffer));
      break;
    case fldUINT16:
      Fixed(2);
      Type = ztInteger;
      Value = static_cast<int32_t>(ReadAs<uint16_t>(Buffer));
      break;
    case fldINT32:
      Fixed(4);
      Type = ztInteger;
      Value = ReadAs<int32_t>(Buffer);
      break;
    case fldUINT32: {
      Fixed(4);
      const uint32_t V = ReadAs<uint32_t>(Buffer);
      Type = V > INT32_MAX ? ztInt64 : ztInteger;
      Value = V > INT32_MAX ? Variant(static_cast<int64_t>(V)) : Variant(static_cast<int32_t>(V));
      break;
    }
    case fldFLOAT:
      Type = ztFloat;
      if (Length == 4) {
        Value = static_cast<double>(ReadAs<float>(Buffer));
      } else {
        Fixed(8);
        Value = ReadAs<double>(Buffer);
      }
      break;
    case fldBYTES:
      Type = ztBlob;
      Value = Bytes(Buffer, Length);
      break;
    case fldVARBYTES: {
      // A 16-bit length, then the bytes: the value is what the length says, within Length.
      uint32_t Count = 0;
      if (Length >= 2) Count = std::min<uint32_t>(ReadAs<uint16_t>(Buffer), Length - 2);
      Type = ztBlob;
      Value = Bytes(static_cast<const uint8_t*>(Buffer) + 2, Count);
      break;
    }
    case fldTIME: {
      Fixed(4);
      const int32_t MSecs = ReadAs<int32_t>(Buffer);
      if (MSecs < 0 || MSecs >= MSecsPerDay) InvalidValue(Number, IntToStr(MSecs), LogType);
      const int32_t Secs = MSecs / 1000;  // the milliseconds are dropped
      Type = ztTime;
      Value = Variant::FromDateTime(EncodeTime(Secs / 3600, Secs / 60 % 60, Secs % 60, 0));
      break;
    }
    case fldTIMESTAMP: {
      Fixed(8);
      const double MSecs = std::round(ReadAs<double>(Buffer));
      // Milliseconds from the start of day 1 (1 January 0001) to the end of 31 December 9999.
      constexpr double First = static_cast<double>(MSecsPerDay);
      constexpr double Last = 3652060.0 * MSecsPerDay - 1;
      if (!std::isfinite(MSecs) || MSecs < First || MSecs > Last)
        InvalidValue(Number, FloatToStr(ReadAs<double>(Buffer)), LogType);
      Type = ztDateTime;
      Value = Variant::FromDateTime(TimeStampToDateTime(MSecsToTimeStamp(static_cast<int64_t>(MSecs))));
      break;
    }
    case fldINT64:
      Fixed(8);
      // Exact: the statement binds a 64-bit integer.
      Type = ztInt64;
      Value = static_cast<int64_t>(ReadAs<int64_t>(Buffer));
      break;
    case fldDATETIME: {
      Fixed(sizeof(TSQLTimeStamp));
      const auto Stamp = ReadAs<TSQLTimeStamp>(Buffer);
      TDateTime DateTime = 0;
      if (!zyldbx::SQLTimeStampToDateTime(Stamp, DateTime))
        InvalidValue(Number,
                     Format("%d-%d-%d %d:%d:%d.%u", Stamp.Year, Stamp.Month, Stamp.Day, Stamp.Hour, Stamp.Minute,
                            Stamp.Second, Stamp.Fractions),
                     LogType);
      Type = ztDateTime;
      Value = Variant::FromDateTime(DateTime);
      break;
    }
    default:
      return DBXERR_INVALIDFLDTYPE;
  }
  Param.FieldType = Type;
  Param.Value = std::move(Value);
  return SQL_SUCCESS;
}

SQLResult TSQLCommandZYL::setParameter(uint16_t ulParameter, uint16_t, uint32_t eParamType, uint16_t uLogType,
                                       uint16_t uSubType, int32_t, int32_t, uint32_t Length, void* pBuffer,
                                       int32_t lInd) {
  if (eParamType == paramUNKNOWN) return SQL_SUCCESS;
  if (ulParameter < 1 || ulParameter > FParams.Count()) return DBXERR_OUTOFRANGE;
  auto& Param = *static_cast<TSQLParamZYL*>(FParams.Get(static_cast<uint16_t>(ulParameter - 1)));
  // A host reads the text of a failed setParameter from the connection (it checks the call as
  // part of its own parameter handling), while it asks the command for every other failure of
  // a command: the text goes into both lists.
  TDbxErrorList Failure;
  const SQLResult Result = DbxGuard(Failure, [&] {
    SQLResult R = SQL_SUCCESS;
    if (lInd != 0) {
      Param.Value = Variant::Null();
      Param.FieldType = ztUnknown;
    } else {
      R = StoreParameter(Param, ulParameter, uLogType, uSubType, Length, pBuffer);
    }
    if (R == SQL_SUCCESS) {
      if (eParamType <= paramRET) Param.Direction = eParamType;
      Param.LogType = uLogType;
      Param.SubType = uSubType;
    }
    return R;
  });
  if (Failure.Count() > 0) {
    try {
      const AnsiString Text = Failure.Text();
      FErrors.AddText(Text);
      FConnection->GetErrors().AddText(Text);
    } catch (...) {
      // Out of memory for the message: the result code still reports the failure.
    }
  }
  return Result;
}

// ---- output value -> host --------------------------------------------------------------------------

// An output parameter by its place among the outputs the statement delivered, when the host or
// the catalog said which parameters are outputs: the statement may have renamed an output whose
// name a result column already has. Otherwise by the parameter's name.
Variant TSQLCommandZYL::OutputValue(uint16_t Number, const TSQLParamZYL& Param) {
  if (!Param.Variable.empty()) return Param.Value;  // read from its variable when the procedure completed
  auto IsOutput = [](uint32_t D) { return D == paramOUT || D == paramINOUT || D == paramRET; };
  Variant V;
  int32_t Index = 0;
  for (uint16_t I = 1; I < Number; ++I)
    if (IsOutput(static_cast<const TSQLParamZYL*>(FParams.Get(static_cast<uint16_t>(I - 1)))->Direction)) ++Index;
  if (IsOutput(Param.Direction) && Index < FStatement->GetOutVariables()->Count())
    FStatement->GetOutVar(Variant(Index), V);
  else
    FStatement->GetOutVar(Variant(Param.Name), V);
  return V;
}

// The form an output value is written in: the logical type the host declared for the parameter,
// or else the one the value's own type stands for.
static uint16_t OutputForm(const TSQLParamZYL& Param, uint16_t& SubType) {
  switch (Param.LogType) {
    case fldZSTRING: case fldDATE: case fldBOOL: case fldINT16: case fldINT32: case fldFLOAT:
    case fldBYTES: case fldTIME: case fldTIMESTAMP: case fldUINT16: case fldUINT32: case fldVARBYTES:
    case fldINT64: case fldDATETIME:
      SubType = 0;
      return Param.LogType;
    case fldBLOB:
      SubType = Param.SubType == fldstMEMO ? fldstMEMO : fldstBINARY;
      return fldBLOB;
    default:
      break;
  }
  SubType = 0;
  switch (Param.FieldType) {
    case ztString: return fldZSTRING;
    case ztInteger: return fldINT32;
    case ztInt64: return fldINT64;
    case ztFloat: case ztCurrency: return fldFLOAT;
    case ztDateTime: return fldDATETIME;
    case ztBoolean: return fldBOOL;
    case ztBlob: SubType = fldstBINARY; return fldBLOB;
    default: return fldUNKNOWN;
  }
}

SQLResult TSQLCommandZYL::WriteParameter(uint16_t Number, TSQLParamZYL& Param, void* Value, int32_t Length,
                                         int32_t* IsBlank) {
  const Variant V = OutputValue(Number, Param);
  Param.FieldType = TypeOfValue(V);
  Param.Value = V;
  if (V.IsNull() || V.IsEmpty()) {
    *IsBlank = 1;
    return SQL_SUCCESS;
  }
  *IsBlank = 0;
  uint16_t SubType = 0;
  const uint16_t Form = OutputForm(Param, SubType);
  if (Form == fldUNKNOWN) return SQL_SUCCESS;
  if (!Value) return DBXERR_INVALIDPARAM;
  // Length, when the host gives it, is the size of its buffer: a value that does not fit is refused.
  auto Put = [&](const void* Data, size_t Size) {
    if (Length > 0 && Size > static_cast<size_t>(Length))
      throw EZyloException(Format(ZylLoadStr(ZYL_ERR_DBX_PARAM_BUFFER), static_cast<int>(Number),
                                  static_cast<int>(std::min<size_t>(Size, INT32_MAX)), static_cast<int>(Length)),
                           0);
    if (Size) std::memcpy(Value, Data, Size);
  };
  // A value outside the declared type's range is refused rather than cut.
  auto Integer = [&](int64_t Low, int64_t High) {
    const int64_t I = V.AsInt64();
    if (I < Low || I > High) InvalidValue(Number, VarToStr(V), Form);
    return I;
  };
  auto Bytes = [&]() {
    if (!VarIsStr(V)) return VarArrayToBytes(V);
    const AnsiString S = V.AsString();
    return std::vector<uint8_t>(S.begin(), S.end());
  };
  switch (Form) {
    case fldZSTRING: {
      const AnsiString S = V.AsString();
      Put(S.c_str(), S.size() + 1);
      break;
    }
    case fldBLOB:
      if (SubType == fldstMEMO) {
        const AnsiString S = V.AsString();
        Put(S.c_str(), S.size() + 1);
      } else {
        const std::vector<uint8_t> B = Bytes();
        Put(B.data(), B.size());
      }
      break;
    case fldBYTES: {
      const std::vector<uint8_t> B = Bytes();
      Put(B.data(), B.size());
      break;
    }
    case fldVARBYTES: {
      std::vector<uint8_t> B = Bytes();
      if (B.size() > 0xFFFF) InvalidValue(Number, Format("%d bytes", static_cast<int>(B.size())), Form);
      const uint16_t N = static_cast<uint16_t>(B.size());
      B.insert(B.begin(), reinterpret_cast<const uint8_t*>(&N), reinterpret_cast<const uint8_t*>(&N) + 2);
      Put(B.data(), B.size());
      break;
    }
    case fldBOOL: {
      const int16_t B = V.AsBoolean() ? 1 : 0;
      Put(&B, Param.LogType == fldBOOL ? sizeof B : 1);  // the declared WordBool, else one byte
      break;
    }
    case fldINT16: {
      const int16_t I = static_cast<int16_t>(Integer(INT16_MIN, INT16_MAX));
      Put(&I, sizeof I);
      break;
    }
    case fldUINT16: {
      const uint16_t I = static_cast<uint16_t>(Integer(0, UINT16_MAX));
      Put(&I, sizeof I);
      break;
    }
    case fldINT32: {
      const int32_t I = static_cast<int32_t>(Integer(INT32_MIN, INT32_MAX));
      Put(&I, sizeof I);
      break;
    }
    case fldUINT32: {
      const uint32_t I = static_cast<uint32_t>(Integer(0, UINT32_MAX));
      Put(&I, sizeof I);
      break;
    }
    case fldINT64: {
      const int64_t I = V.AsInt64();
      Put(&I, sizeof I);
      break;
    }
    case fldFLOAT: {
      const double D = V.AsDouble();
      Put(&D, sizeof D);
      break;
    }
    case fldDATE: {
      const int32_t Day = static_cast<int32_t>(std::trunc(V.AsDateTime())) + DBXDateDelta;
      Put(&Day, sizeof Day);
      break;
    }
    case fldTIME: {
      int Hour, Min, Sec, MSec;
      DecodeTime(V.AsDateTime(), Hour, Min, Sec, MSec);
      const int32_t MSecs = ((Hour * 60 + Min) * 60 + Sec) * 1000;  // whole seconds
      Put(&MSecs, sizeof MSecs);
      break;
    }
    case fldTIMESTAMP: {
      const double MSecs = static_cast<double>(TimeStampToMSecs(DateTimeToTimeStamp(V.AsDateTime())));
      Put(&MSecs, sizeof MSecs);
      break;
    }
    case fldDATETIME: {
      const TSQLTimeStamp Stamp = zyldbx::DateTimeToSQLTimeStamp(V.AsDateTime());
      Put(&Stamp, sizeof Stamp);
      break;
    }
    default:
      break;
  }
  return SQL_SUCCESS;
}

SQLResult TSQLCommandZYL::getParameter(uint16_t ParameterNumber, uint16_t, void* Value, int32_t Length,
                                       int32_t* IsBlank) {
  if (ParameterNumber < 1 || ParameterNumber > FParams.Count()) return DBXERR_OUTOFRANGE;
  if (!IsBlank) return DBXERR_INVALIDPARAM;
  auto& Param = *static_cast<TSQLParamZYL*>(FParams.Get(static_cast<uint16_t>(ParameterNumber - 1)));
  return DbxGuard(FErrors, [&] { return WriteParameter(ParameterNumber, Param, Value, Length, IsBlank); });
}
