// Zylbasds: parameters — TZyloParam's typed setters and getters, its buffer representation, the
// list TZyloParams with its name resolution, and the binary stored form "Data".
//
// Buffer representation of a value (GetData / SetData, and the data of the stored form):
//   ztString, ztMemo   the characters and a terminating zero
//   ztInteger          32-bit signed integer
//   ztInt64            64-bit signed integer (a floating value rounded)
//   ztFloat, ztCurrency 8-byte floating point
//   ztDate             32-bit day number of the host time-stamp form
//   ztTime             32-bit milliseconds since midnight
//   ztDateTime         8-byte floating count of milliseconds of the host time-stamp form
//   ztBoolean          16-bit, non-zero for true
//   ztBinary, ztBlob   the bytes
#include "dataset/Zylbasds.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "host/Graphics.h"

namespace {

const bool MessagesRegistered = RegisterResStrings({
    {ZYL_ERR_DS_NO_SQL, "ZYL_ERR_DS_NO_SQL", "No SQL statement available"},
    {ZYL_ERR_DS_OPEN_OR_PREPARED, "ZYL_ERR_DS_OPEN_OR_PREPARED",
     "Cannot perform this operation on an open or prepared dataset"},
    {ZYL_ERR_DS_PROC_COMPLETED, "ZYL_ERR_DS_PROC_COMPLETED", "The Stored Procedure has completed"},
    {ZYL_ERR_DS_UNKNOWN_FIELD_TYPE, "ZYL_ERR_DS_UNKNOWN_FIELD_TYPE", "Field '%s' is of unknown type"},
    {ZYL_ERR_DS_TRUE, "ZYL_ERR_DS_TRUE", "True"},
    {ZYL_ERR_DS_FALSE, "ZYL_ERR_DS_FALSE", "False"},
    {ZYL_ERR_DS_BLOB_IN_FILTER, "ZYL_ERR_DS_BLOB_IN_FILTER", "Cannot access field '%s' in a filter"},
    {ZYL_ERR_DS_PARAM_DATA, "ZYL_ERR_DS_PARAM_DATA", "Parameter data is corrupt: %s"},
    {ZYL_ERR_DS_RECORD_CHANGED, "ZYL_ERR_DS_RECORD_CHANGED",
     "Couldn't perform the edit because another user changed the record"},
    {ZYL_ERR_DS_STORED_PROC, "ZYL_ERR_DS_STORED_PROC", "Cannot perform this operation on a Stored Procedure"},
    {ZYL_ERR_DS_NO_ORDER_BY, "ZYL_ERR_DS_NO_ORDER_BY", "Missing or unsupported ORDER BY clause to build index"},
    {ZYL_ERR_DS_NO_PROC_NAME, "ZYL_ERR_DS_NO_PROC_NAME", "Empty or missing Stored Procedure name"},
    {ZYL_ERR_DS_NO_PARAM_TYPE, "ZYL_ERR_DS_NO_PARAM_TYPE", "No parameter type for parameter '%s'"},
    {ZYL_ERR_DS_TOO_MANY_RESULTS, "ZYL_ERR_DS_TOO_MANY_RESULTS", "Too many Stored Function result parameters"},
});

// The largest value a stored parameter keeps; longer ones are stored cut.
constexpr int32_t kMaxStoredData = 2048;

Variant DateTimeValue(TDateTime Value) { return Variant::FromDateTime(Value); }

// Doubles up to 2^53 hold every integer exactly; beyond, a 64-bit value is kept as an integer.
bool FitsDouble(int64_t V) { return V >= -(int64_t{1} << 53) && V <= (int64_t{1} << 53); }

// A floating value rounded to 64 bits, clamped instead of undefined outside the range.
int64_t RoundToInt64(double V) {
  if (std::isnan(V)) return 0;
  if (V >= 9223372036854775807.0) return std::numeric_limits<int64_t>::max();
  if (V <= -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(std::llround(V));
}

}  // namespace

void ZyloCheckError(const AnsiString& Message, int32_t Code) {
  if (Code < 0) throw EZyloDatasetError(Message, Code);
}

// ---- TZyloParam ----------------------------------------------------------------------------------

const TMetaClass& TZyloParam::StaticClass() {
  static const TMetaClass Meta("TZyloParam", &TPersistent::StaticClass());
  return Meta;
}

TZyloParam::TZyloParam(const AnsiString& Name) : FName(Name) {}

TZyloParam::~TZyloParam() {
  // Leaving the list without being freed a second time by it.
  if (FParams) {
    auto& Items = FParams->FItems;
    auto It = std::find_if(Items.begin(), Items.end(), [this](const auto& P) { return P.get() == this; });
    if (It != Items.end()) {
      It->release();
      Items.erase(It);
    }
  }
}

void TZyloParam::SetDataType(TZyloParamDataType Value) {
  FValue = Variant(0);
  FDataType = Value;
}

void TZyloParam::Clear() {
  FIsNull = true;
  FValue = Variant(0);
}

void TZyloParam::InitValue() {
  FValueAssigned = true;
  FIsNull = false;
}

void TZyloParam::SetTypedValue(TZyloParamDataType Type, Variant Value) {
  InitValue();
  FDataType = Type;
  FValue = std::move(Value);
}

void TZyloParam::SetAsString(const AnsiString& Value) { SetTypedValue(ztString, Variant(Value)); }
void TZyloParam::SetAsInteger(int32_t Value) { SetTypedValue(ztInteger, Variant(Value)); }
void TZyloParam::SetAsFloat(double Value) { SetTypedValue(ztFloat, Variant(Value)); }
void TZyloParam::SetAsCurrency(double Value) { SetTypedValue(ztCurrency, Variant(Value)); }
void TZyloParam::SetAsDate(TDateTime Value) { SetTypedValue(ztDate, DateTimeValue(DateOf(Value))); }
void TZyloParam::SetAsTime(TDateTime Value) { SetTypedValue(ztTime, DateTimeValue(TimeOf(Value))); }
void TZyloParam::SetAsDateTime(TDateTime Value) { SetTypedValue(ztDateTime, DateTimeValue(Value)); }
void TZyloParam::SetAsBoolean(bool Value) { SetTypedValue(ztBoolean, Variant(Value)); }
void TZyloParam::SetAsMemo(const AnsiString& Value) { SetTypedValue(ztMemo, Variant(Value)); }
void TZyloParam::SetAsBinary(const AnsiString& Value) { SetTypedValue(ztBinary, Variant(Value)); }
void TZyloParam::SetAsBlob(const AnsiString& Value) { SetTypedValue(ztBlob, Variant(Value)); }

void TZyloParam::SetBlobData(const void* Buffer, int32_t Size) {
  AnsiString Bytes;
  if (Buffer && Size > 0) Bytes.assign(static_cast<const char*>(Buffer), static_cast<size_t>(Size));
  SetTypedValue(ztBlob, Variant(std::move(Bytes)));
}

void TZyloParam::SetAsVariant(const Variant& Value) {
  switch (Value.VarType()) {
    case varSmallint:
    case varInteger:
    case varByte:
    case varShortInt:
    case varWord: SetTypedValue(ztInteger, Value); return;
    // 64-bit and unsigned 32-bit values keep every digit as 64-bit integers.
    case varLongWord:
    case varInt64: SetTypedValue(ztInt64, Value); return;
    case varSingle:
    case varDouble: SetTypedValue(ztFloat, Value); return;
    case varCurrency: SetTypedValue(ztCurrency, Value); return;
    case varDate: SetTypedValue(ztDateTime, Value); return;
    case varOleStr:
    case varString: SetTypedValue(ztString, Value); return;
    case varBoolean: SetTypedValue(ztBoolean, Value); return;
    case varArray | varByte: {
      // A byte array is a binary value, not a missing one.
      const std::vector<uint8_t> Bytes = VarArrayToBytes(Value);
      SetBlobData(Bytes.data(), static_cast<int32_t>(Bytes.size()));
      return;
    }
    default:
      InitValue();
      Clear();
      FDataType = ztUnknown;
      FValue = Value;
      return;
  }
}

void TZyloParam::SetText(const AnsiString& Value) {
  InitValue();
  if (FDataType == ztUnknown) FDataType = ztString;
  FValue = Variant(Value);
  try {
    switch (FDataType) {
      case ztInteger: FValue = Variant(Variant(Value).AsInteger()); break;
      case ztInt64: {
        int64_t I;
        FValue = TryStrToInt64(Trim(Value), I) ? Variant(static_cast<long long>(I)) : Variant(Variant(Value).AsDouble());
        break;
      }
      case ztFloat:
      case ztCurrency: FValue = Variant(Variant(Value).AsDouble()); break;
      case ztDate:
      case ztTime:
      case ztDateTime: FValue = DateTimeValue(Variant(Value).AsDateTime()); break;
      case ztBoolean: FValue = Variant(Variant(Value).AsBoolean()); break;
      default: break;
    }
  } catch (const Exception&) {
    FValue = Variant(0);
  }
}

int32_t TZyloParam::GetAsInteger() const { return FValue.AsInteger(); }
double TZyloParam::GetAsFloat() const { return FValue.AsDouble(); }
bool TZyloParam::GetAsBoolean() const { return FValue.AsBoolean(); }
AnsiString TZyloParam::GetAsMemo() const { return FValue.AsString(); }

TDateTime TZyloParam::GetAsDateTime() const { return FIsNull ? 0 : FValue.AsDateTime(); }

AnsiString TZyloParam::GetAsString() const {
  if (FIsNull) return {};
  switch (FDataType) {
    case ztDate:
    case ztTime:
    case ztDateTime:
      try {
        return DateTimeToStr(FValue.AsDateTime());
      } catch (const Exception&) {
        return {};
      }
    case ztBoolean: return ZylLoadStr(FValue.AsBoolean() ? ZYL_ERR_DS_TRUE : ZYL_ERR_DS_FALSE);
    default: return FValue.AsString();
  }
}

Variant TZyloParam::GetAsVariant() const {
  if (FDataType == ztBinary || FDataType == ztBlob) return GetAsByteArray();
  return FValue;
}

Variant TZyloParam::GetAsByteArray() const {
  const AnsiString Text = FValue.IsArray() ? AnsiString() : VarToStr(FValue);
  if (Text.empty()) return Variant::Null();
  return VarByteArrayOf(Text.data(), Text.size());
}

void TZyloParam::RaiseUnknownType() const {
  DatabaseError(Format(ZylLoadStr(ZYL_ERR_DS_UNKNOWN_FIELD_TYPE), FName));
}

int32_t TZyloParam::GetDataSize() const {
  switch (FDataType) {
    case ztString:
    case ztMemo: return static_cast<int32_t>(std::min<size_t>(FValue.AsString().size(), INT32_MAX - 1)) + 1;
    case ztInteger:
    case ztDate:
    case ztTime: return 4;
    case ztInt64:
    case ztFloat:
    case ztCurrency:
    case ztDateTime: return 8;
    case ztBoolean: return 2;
    case ztBinary:
    case ztBlob: return static_cast<int32_t>(std::min<size_t>(FValue.AsString().size(), INT32_MAX));
    default: RaiseUnknownType();
  }
}

void TZyloParam::GetData(void* Buffer) const {
  auto* B = static_cast<char*>(Buffer);
  switch (FDataType) {
    case ztString:
    case ztMemo: {
      const AnsiString S = FValue.AsString();
      std::memcpy(B, S.c_str(), S.size() + 1);
      return;
    }
    case ztInteger: {
      const int32_t V = FValue.AsInteger();
      std::memcpy(B, &V, 4);
      return;
    }
    case ztInt64: {
      const TVarType T = FValue.VarType();
      const bool Floating = T == varSingle || T == varDouble || T == varCurrency || T == varDate || VarIsStr(FValue);
      const int64_t V = Floating ? RoundToInt64(FValue.AsDouble()) : FValue.AsInt64();
      std::memcpy(B, &V, 8);
      return;
    }
    case ztFloat:
    case ztCurrency: {
      const double V = FValue.AsDouble();
      std::memcpy(B, &V, 8);
      return;
    }
    case ztDate: {
      const int32_t V = DateTimeToTimeStamp(FValue.AsDateTime()).Date;
      std::memcpy(B, &V, 4);
      return;
    }
    case ztTime: {
      const int32_t V = DateTimeToTimeStamp(FValue.AsDateTime()).Time;
      std::memcpy(B, &V, 4);
      return;
    }
    case ztDateTime: {
      const double V = static_cast<double>(TimeStampToMSecs(DateTimeToTimeStamp(FValue.AsDateTime())));
      std::memcpy(B, &V, 8);
      return;
    }
    case ztBoolean: {
      const int16_t V = FValue.AsBoolean() ? 1 : 0;
      std::memcpy(B, &V, 2);
      return;
    }
    case ztBinary:
    case ztBlob: {
      const AnsiString S = FValue.AsString();
      if (!S.empty()) std::memcpy(B, S.data(), S.size());
      return;
    }
    default: RaiseUnknownType();
  }
}

void TZyloParam::SetData(const void* Buffer) {
  const auto* B = static_cast<const char*>(Buffer);
  switch (FDataType) {
    case ztString: SetAsString(AnsiString(B)); return;
    case ztMemo: SetAsMemo(AnsiString(B)); return;
    case ztInteger: {
      int32_t V;
      std::memcpy(&V, B, 4);
      SetAsInteger(V);
      return;
    }
    case ztInt64: {
      int64_t V;
      std::memcpy(&V, B, 8);
      // Comes back as a floating value; one a double cannot hold exactly stays a 64-bit integer.
      if (FitsDouble(V))
        SetAsFloat(static_cast<double>(V));
      else
        SetTypedValue(ztInt64, Variant(static_cast<long long>(V)));
      return;
    }
    case ztFloat:
    case ztCurrency: {
      double V;
      std::memcpy(&V, B, 8);
      if (FDataType == ztFloat)
        SetAsFloat(V);
      else
        SetAsCurrency(V);
      return;
    }
    case ztDate: {
      TTimeStamp S;
      std::memcpy(&S.Date, B, 4);
      S.Time = 0;
      SetAsDate(TimeStampToDateTime(S));  // raises EConvertError for a day outside the calendar
      return;
    }
    case ztTime: {
      TTimeStamp S;
      std::memcpy(&S.Time, B, 4);
      S.Date = DateDelta;
      SetAsTime(TimeStampToDateTime(S));
      return;
    }
    case ztDateTime: {
      double Ms;
      std::memcpy(&Ms, B, 8);
      // The cast to an integer is defined only within range.
      if (!std::isfinite(Ms) || std::fabs(Ms) > 9.0e15) throw EConvertError(FloatToStr(Ms));
      SetAsDateTime(TimeStampToDateTime(MSecsToTimeStamp(static_cast<int64_t>(Ms))));
      return;
    }
    case ztBoolean: {
      int16_t V;
      std::memcpy(&V, B, 2);
      SetAsBoolean(V != 0);
      return;
    }
    case ztBinary:
    case ztBlob: SetBlobData(B, static_cast<int32_t>(std::strlen(B))); return;
    default: RaiseUnknownType();
  }
}

void TZyloParam::LoadFromStream(TStream& Stream, TZyloParamBlobType BlobType) {
  InitValue();
  FDataType = BlobType;
  Stream.SetPosition(0);
  const int64_t Size = Stream.GetSize();
  AnsiString Data;
  if (Size > 0) {
    Data.resize(static_cast<size_t>(Size));
    Stream.ReadBuffer(Data.data(), Size);
  }
  FValue = Variant(std::move(Data));
}

void TZyloParam::LoadFromFile(const AnsiString& FileName, TZyloParamBlobType BlobType) {
  TFileStream Stream(FileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(Stream, BlobType);
}

void TZyloParam::Assign(const TPersistent* Source) {
  if (auto* P = dynamic_cast<const TZyloParam*>(Source)) {
    AssignParam(P);
  } else if (auto* F = dynamic_cast<const TField*>(Source)) {
    AssignField(const_cast<TField*>(F));
  } else if (auto* S = dynamic_cast<const TStrings*>(Source)) {
    SetAsMemo(S->GetText());
  } else if (auto* Bmp = dynamic_cast<const TBitmap*>(Source)) {
    TMemoryStream Data;
    Bmp->SaveToStream(Data);
    LoadFromStream(Data, ztBlob);
  } else if (auto* Pic = dynamic_cast<const TPicture*>(Source); Pic && dynamic_cast<TBitmap*>(Pic->GetGraphic())) {
    TMemoryStream Data;
    Pic->GetGraphic()->SaveToStream(Data);
    LoadFromStream(Data, ztBlob);
  } else {
    TPersistent::Assign(Source);
  }
}

void TZyloParam::AssignTo(TPersistent* Dest) const {
  if (auto* F = dynamic_cast<TField*>(Dest)) {
    // A NULL parameter clears the field rather than writing the 0 its value holds.
    F->SetValue(FIsNull ? Variant::Null() : GetAsVariant());
    return;
  }
  TPersistent::AssignTo(Dest);
}

void TZyloParam::AssignParam(const TZyloParam* Source) {
  if (!Source || Source == this) return;
  SetDataType(Source->FDataType);
  if (Source->FIsNull) {
    Clear();
  } else {
    InitValue();
    if (Source->FDataType == ztBinary || Source->FDataType == ztBlob) {
      const AnsiString Bytes = Source->FValue.AsString();
      SetBlobData(Bytes.data(), static_cast<int32_t>(Bytes.size()));
    } else {
      FValue = Source->GetAsVariant();
    }
  }
  FValueAssigned = Source->FValueAssigned;
  FName = Source->FName;
  FAlias = Source->FAlias;
  if (FParamType == zptUnknown) FParamType = Source->FParamType;
}

void TZyloParam::AssignField(TField* Field) {
  if (!Field) return;
  FName = Field->FieldName();
  FAlias = FName;
  if (Field->IsNull()) {
    Clear();
  } else {
    InitValue();
    if (Field->DataType() == ftBytes || Field->DataType() == ftBlob) {
      // The field's bytes as text; a blob field has no data size of its own, its text has.
      const AnsiString Bytes = Field->GetAsString();
      SetBlobData(Bytes.data(), static_cast<int32_t>(Bytes.size()));
    } else {
      SetAsVariant(Field->GetValue());
    }
  }
  FValueAssigned = true;
}

void TZyloParam::AssignFieldValue(TField* Field, const Variant& Value) {
  if (!Field) return;
  if (Field->IsNull()) {
    Clear();
  } else {
    InitValue();
    SetAsVariant(Value);
  }
  FValueAssigned = true;
}

bool TZyloParam::IsEqual(const TZyloParam* Other) const {
  if (!Other) return false;
  return FValue.VarType() == Other->FValue.VarType() && VarCompareValue(FValue, Other->FValue) == vrEqual &&
         FName == Other->FName && FAlias == Other->FAlias && FDataType == Other->FDataType &&
         FIsNull == Other->FIsNull && FValueAssigned == Other->FValueAssigned && FParamType == Other->FParamType;
}

// ---- TZyloParams ---------------------------------------------------------------------------------

const TMetaClass& TZyloParams::StaticClass() {
  static const TMetaClass Meta("TZyloParams", &TPersistent::StaticClass());
  return Meta;
}

TZyloParams::~TZyloParams() { Clear(); }

TZyloParam* TZyloParams::CreateParam(const AnsiString& Name) {
  auto P = std::make_unique<TZyloParam>(Name);
  TZyloParam* Raw = P.get();
  AddParam(std::move(P));
  return Raw;
}

void TZyloParams::AddParam(std::unique_ptr<TZyloParam> Param) {
  if (!Param) return;
  if (Param->FParams && Param->FParams != this) Param->FParams->RemoveParam(Param.get()).release();
  Param->FParams = this;
  FItems.push_back(std::move(Param));
}

std::unique_ptr<TZyloParam> TZyloParams::RemoveParam(TZyloParam* Param) {
  auto It = std::find_if(FItems.begin(), FItems.end(), [Param](const auto& P) { return P.get() == Param; });
  if (It == FItems.end()) return nullptr;
  std::unique_ptr<TZyloParam> Result = std::move(*It);
  FItems.erase(It);
  Result->FParams = nullptr;
  return Result;
}

void TZyloParams::Clear() {
  while (!FItems.empty()) {
    std::unique_ptr<TZyloParam> P = std::move(FItems.back());
    FItems.pop_back();
    P->FParams = nullptr;
  }
}

TZyloParam* TZyloParams::Items(int32_t Index) const {
  if (Index < 0 || Index >= Count()) throw EListError(Format("List index out of bounds (%d)", Index));
  return FItems[static_cast<size_t>(Index)].get();
}

TZyloParam* TZyloParams::GetParam(int32_t Index) const {
  TZyloParam* P = Items(Index);
  if (!P->GetName().empty() && P->GetName() != "?") return ParamByName(P->GetName());
  return P;
}

TZyloParam* TZyloParams::FindParam(const AnsiString& Name) const {
  for (const auto& P : FItems)
    if (AnsiSameText(P->GetName(), Name)) return P.get();
  return nullptr;
}

TZyloParam* TZyloParams::ParamByName(const AnsiString& Name) const {
  TZyloParam* P = FindParam(Name);
  if (!P) throw EZyloException(Format(ZylLoadStr(ZYL_ERR_PARAM_NOT_FOUND), Name), 0);
  return P;
}

TZyloParam* TZyloParams::ParamByAlias(const AnsiString& Alias) const {
  for (const auto& P : FItems)
    if (AnsiSameText(P->GetAlias(), Alias)) return P.get();
  throw EZyloException(Format(ZylLoadStr(ZYL_ERR_PARAM_NOT_FOUND), Alias), 0);
}

void TZyloParams::Assign(const TPersistent* Source) {
  if (auto* Src = dynamic_cast<const TZyloParams*>(Source)) {
    if (Src == this) return;
    Clear();
    for (int32_t I = 0; I < Src->Count(); ++I) CreateParam()->Assign(Src->GetParam(I));
    return;
  }
  if (auto* Host = dynamic_cast<const TParams*>(Source)) {
    Clear();
    for (int I = 0; I < Host->Count(); ++I) {
      const TParam& Item = Host->Items(I);
      TZyloParam* P = CreateParam(Item.Name);
      P->SetAlias(Item.Name);
      switch (Item.ParamType) {
        case ptInput: P->SetParamType(zptInput); break;
        case ptOutput: P->SetParamType(zptOutput); break;
        case ptInputOutput: P->SetParamType(zptInputOutput); break;
        case ptResult: P->SetParamType(zptResult); break;
        default: P->SetParamType(zptUnknown); break;
      }
      P->SetAsVariant(Item.Value);
    }
    return;
  }
  TPersistent::Assign(Source);
}

void TZyloParams::AssignTo(TPersistent* Dest) const {
  if (auto* D = dynamic_cast<TZyloParams*>(Dest)) {
    D->Assign(this);
    return;
  }
  TPersistent::AssignTo(Dest);
}

void TZyloParams::AssignValues(const TZyloParams* Source) {
  if (!Source) return;
  for (int32_t I = 0; I < Count(); ++I) {
    TZyloParam* Own = GetParam(I);
    for (int32_t J = 0; J < Source->Count(); ++J) {
      TZyloParam* Other = Source->GetParam(J);
      if (Other->GetName() == Own->GetName()) {
        Own->Assign(Other);
        break;
      }
    }
  }
}

bool TZyloParams::IsEqual(const TZyloParams* Other) const {
  if (!Other || Other->Count() != Count()) return false;
  for (int32_t I = 0; I < Count(); ++I)
    if (!GetParam(I)->IsEqual(Other->GetParam(I))) return false;
  return true;
}

void TZyloParams::DefineProperties(TFiler& Filer) {
  TPersistent::DefineProperties(Filer);
  // The host's filer keeps no ancestor, so the list is stored whenever it has parameters.
  Filer.DefineBinaryProperty(
      "Data", [this](TStream& S) { ReadBinaryData(S); }, [this](TStream& S) { WriteBinaryData(S); }, Count() > 0);
}

// ---- the stored form -----------------------------------------------------------------------------

namespace {

void WriteInt32(TStream& S, int32_t V) { S.WriteBuffer(&V, 4); }
void WriteByte(TStream& S, uint8_t V) { S.WriteBuffer(&V, 1); }
void WriteText(TStream& S, const AnsiString& Text) {
  WriteInt32(S, static_cast<int32_t>(Text.size()));
  if (!Text.empty()) S.WriteBuffer(Text.data(), static_cast<int64_t>(Text.size()));
}

// Reads the stored form with every length checked against what the stream still holds; any
// inconsistency is a corrupt stream (EReadError).
class TFormReader {
 public:
  explicit TFormReader(TStream& S) : FStream(S), FEnd(S.GetSize()) {}
  int64_t Left() { return std::max<int64_t>(0, FEnd - FStream.GetPosition()); }
  int32_t Int32() {
    int32_t V;
    FStream.ReadBuffer(&V, 4);
    return V;
  }
  uint8_t Byte(uint8_t Max, const char* What) {
    uint8_t V;
    FStream.ReadBuffer(&V, 1);
    if (V > Max) Fail(What);
    return V;
  }
  // A length-prefixed block of at most Max bytes.
  AnsiString Block(int32_t Max, const char* What) {
    const int32_t N = Int32();
    if (N < 0 || N > Max || N > Left()) Fail(What);
    AnsiString Text(static_cast<size_t>(N), '\0');
    if (N > 0) FStream.ReadBuffer(Text.data(), N);
    return Text;
  }
  [[noreturn]] static void Fail(const char* What) { throw EReadError(What); }

 private:
  TStream& FStream;
  int64_t FEnd;
};

// Bytes of a value's data in the stored form: fixed for the scalar types, -1 where it varies.
int32_t FixedDataSize(TZyloParamDataType Type) {
  switch (Type) {
    case ztInteger:
    case ztDate:
    case ztTime: return 4;
    case ztInt64:
    case ztFloat:
    case ztCurrency:
    case ztDateTime: return 8;
    case ztBoolean: return 2;
    default: return -1;
  }
}

}  // namespace

void TZyloParams::WriteBinaryData(TStream& Stream) const {
  WriteInt32(Stream, GetVersion());
  WriteInt32(Stream, Count());
  std::vector<char> Data;
  for (int32_t I = 0; I < Count(); ++I) {
    const TZyloParam* P = GetParam(I);
    WriteText(Stream, P->GetName());
    WriteText(Stream, P->GetAlias());
    WriteByte(Stream, static_cast<uint8_t>(P->GetDataType()));
    if (P->GetDataType() != ztUnknown) {
      const int32_t Size = P->GetDataSize();
      Data.assign(static_cast<size_t>(Size) + 1, 0);
      P->GetData(Data.data());
      const int32_t Stored = std::min(Size, kMaxStoredData);
      WriteInt32(Stream, Stored);
      if (Stored > 0) Stream.WriteBuffer(Data.data(), Stored);
    }
    WriteByte(Stream, P->GetIsNull() ? 1 : 0);
    WriteByte(Stream, P->GetValueAssigned() ? 1 : 0);
    WriteByte(Stream, static_cast<uint8_t>(P->GetParamType()));
  }
}

void TZyloParams::ReadBinaryData(TStream& Stream) {
  Clear();
  try {
    ReadParameters(Stream);
  } catch (const Exception& E) {
    Clear();
    throw EReadError(Format(ZylLoadStr(ZYL_ERR_DS_PARAM_DATA), E.Message()));
  }
}

void TZyloParams::ReadParameters(TStream& Stream) {
  TFormReader R(Stream);
  int32_t Count = R.Int32();
  const bool Current = Count == GetVersion();
  if (Current) Count = R.Int32();
  // The smallest parameter takes two lengths and a type byte (and three flag bytes now).
  const int64_t Smallest = Current ? 12 : 9;
  if (Count < 0 || Count > R.Left() / Smallest) TFormReader::Fail("parameter count");
  std::vector<char> Data;
  for (int32_t I = 0; I < Count; ++I) {
    TZyloParam* P = CreateParam();
    P->SetName(R.Block(INT32_MAX, "name length"));
    P->SetAlias(R.Block(INT32_MAX, "alias length"));
    const auto Type = static_cast<TZyloParamDataType>(R.Byte(ztBlob, "data type"));
    if (Type != ztUnknown) {
      const AnsiString Bytes = R.Block(kMaxStoredData, "data size");
      const int32_t Fixed = FixedDataSize(Type);
      if (Fixed >= 0 && static_cast<int32_t>(Bytes.size()) != Fixed) TFormReader::Fail("data size");
      P->FDataType = Type;
      if (Type == ztBinary || Type == ztBlob) {
        P->SetBlobData(Bytes.data(), static_cast<int32_t>(Bytes.size()));
      } else {
        // A cut text ends where the stored bytes end: the buffer carries its own terminator.
        Data.assign(Bytes.begin(), Bytes.end());
        Data.push_back('\0');
        P->SetData(Data.data());
      }
    }
    if (Current) {
      P->SetIsNull(R.Byte(1, "is-null flag") != 0);
      P->SetValueAssigned(R.Byte(1, "assigned flag") != 0);
      P->SetParamType(static_cast<TZyloParamType>(R.Byte(zptResult, "direction")));
    }
  }
}
