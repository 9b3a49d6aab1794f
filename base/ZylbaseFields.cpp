// Zylbase: TZyloSQL value side — finding fields, moving values between variants and the record
// buffers, null and dirty tracking, output variables, building host variables from parameter
// values, the neutral conversions, and the exchange of blob fields with streams and pictures.
#include "base/Zylbase.h"

#include <cmath>
#include <cstring>

namespace {

bool IsIndexType(const Variant& V) { return V.VarType() == varSmallint || V.VarType() == varInteger; }

// NameOrIndex as the text of a "not found" message; never raises.
AnsiString AsText(const Variant& V) {
  try {
    return VarToStr(V);
  } catch (const Exception&) {
    return VarTypeAsText(V.VarType());
  }
}

TZyloFieldDef* Lookup(const TZyloFieldDefs& Defs, const Variant& NameOrIndex) {
  if (IsIndexType(NameOrIndex)) return Defs.Items(NameOrIndex.AsInteger());
  if (NameOrIndex.IsArray()) return nullptr;
  try {
    return Defs.FieldByName(VarToStr(NameOrIndex));
  } catch (const Exception&) {
    return nullptr;
  }
}

// A definition's bytes lie inside a buffer of Size bytes.
bool Inside(const TZyloBuffer& Buffer, const TZyloFieldDef* Def) {
  return Buffer && Def->Offset >= 0 && Def->Size >= 0 &&
         static_cast<int64_t>(Def->Offset) + Def->Size <= Buffer.Size();
}

}  // namespace

// ---- metadata ----------------------------------------------------------------------------------

AnsiString TZyloSQL::GetFieldName(int32_t Index) const {
  TZyloFieldDef* Def = FFieldDefs.Items(Index);
  return Def ? Def->Name : AnsiString();
}

TZyloFieldDef* TZyloSQL::GetField(const Variant& NameOrIndex) const { return Lookup(FFieldDefs, NameOrIndex); }

TZyloFieldTypes TZyloSQL::GetFieldType(const Variant& NameOrIndex) const {
  TZyloFieldDef* Def = GetField(NameOrIndex);
  return Def ? Def->FieldType : ztUnknown;
}
int32_t TZyloSQL::GetFieldSize(const Variant& NameOrIndex) const {
  TZyloFieldDef* Def = GetField(NameOrIndex);
  return Def ? Def->Size : 0;
}
int32_t TZyloSQL::GetFieldLength(const Variant& NameOrIndex) const {
  TZyloFieldDef* Def = GetField(NameOrIndex);
  return Def ? Def->Length : 0;
}
int32_t TZyloSQL::GetFieldPrecision(const Variant& NameOrIndex) const {
  TZyloFieldDef* Def = GetField(NameOrIndex);
  return Def ? Def->Precision : 0;
}
int32_t TZyloSQL::GetFieldDecimals(const Variant& NameOrIndex) const {
  TZyloFieldDef* Def = GetField(NameOrIndex);
  return Def ? Def->Decimals : 0;
}
bool TZyloSQL::GetFieldNulls(const Variant& NameOrIndex) const {
  TZyloFieldDef* Def = GetField(NameOrIndex);
  return Def ? Def->Nulls : false;
}

TZyloFieldDef* TZyloSQL::FieldOrRaise(const Variant& NameOrIndex) {
  TZyloFieldDef* Def = GetField(NameOrIndex);
  if (!Def) RaiseLastError(Format(ZylLoadStr(ZYL_ERR_FIELD_NOT_FOUND), AsText(NameOrIndex)), 0);
  return Def;
}

TZyloBlobStream* TZyloSQL::BlobOf(TZyloFieldDef* Def) {
  return ZylIsBlobType(Def->FieldType) ? FBlobManager->BlobByName(Def->Name) : nullptr;
}

TZyloBlobStream* TZyloSQL::BlobOrRaise(TZyloFieldDef* Def) { return FBlobManager->BlobByName(Def->Name); }

// ---- values ------------------------------------------------------------------------------------

void TZyloSQL::GetFieldValue(const Variant& NameOrIndex, Variant& Value) {
  // Value is assigned exactly once on every path (Null when the field is unknown or not yet
  // described): this runs for every field of every fetched row.
  TZyloFieldDef* Def = GetField(NameOrIndex);
  if (!Def) {
    Value = Variant::Null();
    FieldOrRaise(NameOrIndex);
  }
  TZyloBlobStream* Blob = BlobOf(Def);
  if (!Inside(FRecordBuffer, Def)) {  // nothing described into the buffer yet
    Value = Variant::Null();
    return;
  }
  GetFieldDataInto(Value, CurrentRecord(), Def->Offset, Def->Size, Def->FieldType, Blob);
}

void TZyloSQL::GetOldValue(const Variant& NameOrIndex, Variant& Value) {
  Value = Variant::Null();
  TZyloFieldDef* Def = FieldOrRaise(NameOrIndex);
  MaterializeRow();
  TZyloBlobStream* Blob = BlobOf(Def);  // the current stream: there is no old copy of a blob
  if (!Inside(FOldRecordBuffer, Def)) return;
  Value = GetFieldData(FOldRecordBuffer.Data(), Def->Offset, Def->Size, Def->FieldType, Blob);
}

void TZyloSQL::SetFieldValue(const Variant& NameOrIndex, const Variant& Value) {
  CheckWritable();
  TZyloFieldDef* Def = FieldOrRaise(NameOrIndex);
  MaterializeRow();
  if (!Inside(FRecordBuffer, Def) || !FIndicators) RaiseLastError(ZylLoadStr(ZYL_ERR_CURS_NOT_OPENED), 0);
  if (Value.IsNull()) {
    InternalClearField(Def, true);
    return;
  }
  TZyloBlobStream* Blob = BlobOf(Def);
  PutFieldData(FRecordBuffer.Data(), Def->Offset, Def->Size, Def->FieldType, Value, Blob);
  PutNullIndicator(FIndicators.Data(), Def->FieldNo, false);
}

bool TZyloSQL::IsFieldNull(const Variant& NameOrIndex) {
  TZyloFieldDef* Def = FieldOrRaise(NameOrIndex);
  if (!FIndicators) return true;
  return GetNullIndicator(CurrentIndicators(), Def->FieldNo);
}

void TZyloSQL::InternalClearField(TZyloFieldDef* Def, bool SetNull) {
  if (!Def) return;
  MaterializeRow();
  if (Inside(FRecordBuffer, Def) && Def->Size > 0)
    std::memset(FRecordBuffer.Data() + Def->Offset, 0, static_cast<size_t>(Def->Size));
  if (FIndicators) PutNullIndicator(FIndicators.Data(), Def->FieldNo, SetNull);
}

void TZyloSQL::ClearField(const AnsiString& Name) { InternalClearField(FFieldDefs.FieldByName(Name), true); }

void TZyloSQL::ClearFieldNotNull(const AnsiString& Name) { InternalClearField(FFieldDefs.FieldByName(Name), false); }

void TZyloSQL::ClearAll(bool SetNull) {
  CheckActive();
  CheckWritable();
  for (int32_t I = 0; I < FFieldDefs.Count(); ++I) {
    TZyloFieldDef* Def = FFieldDefs.Items(I);
    if (Def->KeyIndicator != kiHiddenKeyField) InternalClearField(Def, SetNull);
  }
}

void TZyloSQL::Clear() { ClearAll(true); }
void TZyloSQL::ClearNotNull() { ClearAll(false); }

bool TZyloSQL::IsFieldDirty(const Variant& NameOrIndex) {
  TZyloFieldDef* Def = FieldOrRaise(NameOrIndex);
  MaterializeRow();
  if (!FIndicators || !FOldIndicators) return false;
  if (GetNullIndicator(FIndicators.Data(), Def->FieldNo) != GetNullIndicator(FOldIndicators.Data(), Def->FieldNo))
    return true;
  if (ZylIsBlobType(Def->FieldType)) return BlobOrRaise(Def)->GetModified();
  if (Def->Size <= 0 || !Inside(FRecordBuffer, Def) || !Inside(FOldRecordBuffer, Def)) return false;
  const char* Now = reinterpret_cast<const char*>(FRecordBuffer.Data() + Def->Offset);
  const char* Old = reinterpret_cast<const char*>(FOldRecordBuffer.Data() + Def->Offset);
  if (Def->FieldType == ztString) return std::strncmp(Now, Old, static_cast<size_t>(Def->Size - 1)) != 0;
  return std::memcmp(Now, Old, static_cast<size_t>(Def->Size)) != 0;
}

bool TZyloSQL::IsDirty() {
  CheckActive();
  for (int32_t I = 0; I < FFieldDefs.Count(); ++I)
    if (IsFieldDirty(I)) return true;
  return false;
}

void TZyloSQL::GetOutVar(const Variant& NameOrIndex, Variant& Value) {
  Value = Variant::Null();
  TZyloVariableDefs* Defs = &FOutVariables;
  TZyloFieldDef* Def = Lookup(FOutVariables, NameOrIndex);
  if (!Def) {
    Defs = &FExecVariables;
    Def = Lookup(FExecVariables, NameOrIndex);
  }
  if (!Def) RaiseLastError(Format(ZylLoadStr(ZYL_ERR_PARAM_NOT_FOUND), AsText(NameOrIndex)), 0);
  if (!Inside(Defs->Buffer, Def)) return;
  // A NULL the server delivered stays Null instead of reading the zeroed buffer as 0 or ''.
  if (Def->FieldNo >= 0 && (Def->FieldNo + 1) * 2 <= Defs->Indicators.Size() &&
      GetNullIndicator(Defs->Indicators.Data(), Def->FieldNo))
    return;
  Value = GetFieldData(Defs->Buffer.Data(), Def->Offset, Def->Size, Def->FieldType, nullptr);
}

// ---- host variables ----------------------------------------------------------------------------

TZyloFieldDef* TZyloSQL::InternalAddFieldDef(TZyloFieldDefs* Defs, const AnsiString& Name, TZyloFieldTypes FieldType,
                                             int32_t ExtType, int32_t Size, int32_t Length, int32_t Precision,
                                             int32_t Decimals, bool Nulls, TZyloKeyIndicator KeyIndicator) {
  // Unique in the list it joins: an output variable keeps its own name even when the prepare
  // described the same value as a result column (a procedure call's output parameters are both),
  // so that it can be read back by the parameter's name.
  AnsiString Candidate = Name;
  for (int32_t Counter = 1; Defs->IndexOf(Candidate) >= 0; ++Counter) Candidate = Name + "_" + IntToStr(Counter);
  TZyloFieldDef* Def = Defs->AddFieldDef(Candidate);
  Def->FieldType = FieldType;
  Def->ExtType = ExtType;
  Def->Size = Size;
  Def->Length = Length;
  Def->Precision = Precision;
  Def->Decimals = Decimals;
  Def->Nulls = Nulls;
  Def->KeyIndicator = KeyIndicator;
  return Def;
}

TZyloFieldTypes TZyloSQL::InternalGetVariableTypeAndLength(const Variant& Value, int32_t& Length) {
  TZyloFieldTypes Type = ztUnknown;
  switch (Value.VarType()) {
    case varSmallint:
    case varInteger:
    case varByte:
    case varShortInt:
    case varWord:
      Type = ztInteger;
      break;
    case varLongWord:  // above the 32-bit signed range
    case varInt64:
      Type = ztInt64;
      break;
    case varSingle:
    case varDouble:
      Type = ztFloat;
      break;
    case varCurrency:
      Type = ztCurrency;
      break;
    case varDate:
      Type = ztDateTime;
      break;
    case varOleStr:
    case varString:
      Type = ztString;
      break;
    case varBoolean:
      Type = ztBoolean;
      break;
    case varArray | varByte:
      Type = ztBinary;
      break;
    default:
      break;
  }
  Length = InternalGetVariableLength(Type);
  if (Type == ztString) {
    int64_t L = static_cast<int64_t>(Value.AsString().size());
    if (L + 1 > Length) {
      Type = ztMemo;
      Length = static_cast<int32_t>(L);
    }
  } else if (Type == ztBinary) {
    int32_t N = Value.ElementCount();
    if (N > Length) {
      Type = ztBlob;
      Length = N;
    }
  }
  return Type;
}

bool TZyloSQL::InternalNeedNewVariables(const Variant& Value, TZyloVariableDefs* Defs) {
  if (!Value.IsArray() || Value.ElementCount() != Defs->Count()) return true;
  int Low = Value.LowBound();
  for (int32_t I = 0; I < Defs->Count(); ++I) {
    int32_t Length = 0;
    TZyloFieldTypes Type = InternalGetVariableTypeAndLength(Value.GetElement(Low + I), Length);
    TZyloFieldDef* Def = Defs->Items(I);
    if (Type != Def->FieldType || Length != Def->Size || ZylIsBlobType(Type)) return true;
  }
  return false;
}

void TZyloSQL::InternalSetVariables(const Variant& Value, TZyloVariableDefs* Defs) {
  // This runs at every execution of a prepared statement: the values are read where they lie in
  // the array (an array of other elements is copied out once), not copied once to compare their
  // types and again to store them.
  TVariantArray Copied;
  const Variant* Values = nullptr;
  int32_t Count = 0;
  if (Value.VarType() == (varArray | varVariant)) {
    Values = static_cast<const Variant*>(VarArrayLock(Value));
    Count = Value.ElementCount();
  } else if (Value.IsArray()) {
    const int Low = Value.LowBound();
    for (int I = 0; I < Value.ElementCount(); ++I) Copied.push_back(Value.GetElement(Low + I));
    Values = Copied.data();
    Count = static_cast<int32_t>(Copied.size());
  }
  bool NeedNew = !Value.IsArray() || Count != Defs->Count();
  for (int32_t I = 0; !NeedNew && I < Count; ++I) {
    int32_t Length = 0;
    TZyloFieldTypes Type = InternalGetVariableTypeAndLength(Values[I], Length);
    TZyloFieldDef* Def = Defs->Items(I);
    NeedNew = Type != Def->FieldType || Length != Def->Size || ZylIsBlobType(Type);
  }
  if (NeedNew) {
    Defs->Clear();  // drops the buffer and Bound as well, so the binding binds again
    for (int32_t I = 0; I < Count; ++I) {
      int32_t Length = 0;
      TZyloFieldTypes Type = InternalGetVariableTypeAndLength(Values[I], Length);
      TZyloFieldDef* Def = Defs->AddFieldDef("?");
      Def->FieldType = Type;
      Def->ExtType = InternalGetVariableExtType(Type);
      Def->Size = Length;
      Def->KeyIndicator = kiRegularField;
    }
    Defs->SetBufSize(Defs->Size());
  }
  for (int32_t I = 0; I < Defs->Count() && I < Count; ++I) {
    TZyloFieldDef* Def = Defs->Items(I);
    if (!Inside(Defs->Buffer, Def)) continue;
    PutFieldData(Defs->Buffer.Data(), Def->Offset, Def->Size, Def->FieldType, Values[I], nullptr);
  }
}

bool TZyloSQL::CheckVarType(const Variant& Value, TVarType VarType) {
  TVarType Have = Value.VarType();
  auto IsInt = [](TVarType T) { return T == varSmallint || T == varInteger; };
  if (IsInt(VarType)) return IsInt(Have);
  return Have == VarType;
}

// ---- neutral conversions -----------------------------------------------------------------------

AnsiString TZyloSQL::SetVarToStr(const Variant& Value) {
  try {
    return Value.AsString();
  } catch (const Exception&) {
    return AnsiString();
  }
}

int32_t TZyloSQL::SetVarToInt(const Variant& Value) {
  if (Value.VarType() == varBoolean) return Value.AsBoolean() ? 1 : 0;
  try {
    return Value.AsInteger();
  } catch (const Exception&) {
    return 0;
  }
}

int64_t TZyloSQL::SetVarToInt64(const Variant& Value) {
  switch (Value.VarType()) {
    case varBoolean:
      return Value.AsBoolean() ? 1 : 0;
    // Integers are taken as they are: a detour through a double would lose the low digits of
    // values above 2^53.
    case varSmallint:
    case varInteger:
    case varShortInt:
    case varByte:
    case varWord:
    case varLongWord:
    case varInt64:
      return Value.AsInt64();
    default:
      break;
  }
  double D = 0;
  try {
    D = Value.AsDouble();
  } catch (const Exception&) {
    return 0;
  }
  if (!std::isfinite(D)) return 0;
  double R = std::nearbyint(D);  // the default rounding mode: nearest, halves to even
  if (R < -9223372036854775808.0 || R >= 9223372036854775808.0) return 0;
  return static_cast<int64_t>(R);
}

double TZyloSQL::SetVarToFloat(const Variant& Value) {
  if (Value.VarType() == varBoolean) return Value.AsBoolean() ? 1.0 : 0.0;
  try {
    return Value.AsDouble();
  } catch (const Exception&) {
    return 0.0;
  }
}

bool TZyloSQL::SetVarToBoolean(const Variant& Value) {
  try {
    return Value.AsBoolean();
  } catch (const Exception&) {
    return false;
  }
}

TDateTime TZyloSQL::SetVarToDateTime(const Variant& Value) {
  try {
    return Value.AsDateTime();
  } catch (const Exception&) {
    return 0;
  }
}

Variant TZyloSQL::StrToVarByte(const void* Buffer, int32_t Length) {
  if (Length < 1 || !Buffer) return Variant::Null();
  return VarByteArrayOf(Buffer, static_cast<size_t>(Length));
}

Variant TZyloSQL::StreamToVarByte(TMemoryStream* Stream) {
  if (!Stream) return Variant::Null();
  return VarByteArrayOf(Stream->Memory(), static_cast<size_t>(Stream->Size()));
}

AnsiString TZyloSQL::StreamToStr(TMemoryStream* Stream) {
  if (!Stream || Stream->Size() == 0) return AnsiString();
  return AnsiString(static_cast<const char*>(Stream->Memory()), static_cast<size_t>(Stream->Size()));
}

// ---- blobs and pictures ------------------------------------------------------------------------

void TZyloSQL::StreamToBlob(const Variant& NameOrIndex, TStream* Stream) {
  CheckWritable();
  if (!Stream) RaiseLastError(ZylLoadStr(ZYL_ERR_BLOB_STREAM_INVALID), 0);
  TZyloFieldDef* Def = FieldOrRaise(NameOrIndex);
  TZyloBlobStream* Blob = BlobOrRaise(Def);
  Blob->Clear();
  Blob->CopyFrom(*Stream, 0);
  // An empty source empties the field: without this the stream would count as unwritten, and the
  // server's old value would come back.
  if (!Blob->GetModified()) Blob->Truncate();
  MaterializeRow();
  if (FIndicators) PutNullIndicator(FIndicators.Data(), Def->FieldNo, false);
}

void TZyloSQL::BlobToStream(const Variant& NameOrIndex, TStream* Stream) {
  if (!Stream) RaiseLastError(ZylLoadStr(ZYL_ERR_BLOB_STREAM_INVALID), 0);
  TZyloFieldDef* Def = FieldOrRaise(NameOrIndex);
  TZyloBlobStream* Blob = BlobOrRaise(Def);
  Blob->Seek(0, soBeginning);
  if (auto* Memory = dynamic_cast<TMemoryStream*>(Stream)) {
    Memory->SetSize(Blob->GetBlobSize());
    Memory->Seek(0, soBeginning);
  }
  Stream->CopyFrom(*Blob, 0);
  Stream->Seek(0, soBeginning);
}

namespace {

TGraphic* GraphicOf(TPicture* Picture, TZyloGraphicType GraphicType) {
  switch (GraphicType) {
    case gtMetafile:
      return Picture->Metafile();
    case gtIcon:
      return Picture->Icon();
    case gtBitmap:
    default:
      return Picture->Bitmap();
  }
}

}  // namespace

void TZyloSQL::GraphicToBlob(const Variant& NameOrIndex, TPicture* Picture, TZyloGraphicType GraphicType) {
  CheckWritable();
  if (!Picture) RaiseLastError(ZylLoadStr(ZYL_ERR_BLOB_PICTURE_INVALID), 0);
  TZyloFieldDef* Def = FieldOrRaise(NameOrIndex);
  TZyloBlobStream* Blob = BlobOrRaise(Def);
  Blob->Clear();
  GraphicOf(Picture, GraphicType)->SaveToStream(*Blob);
  if (!Blob->GetModified()) Blob->Truncate();
  MaterializeRow();
  if (FIndicators) PutNullIndicator(FIndicators.Data(), Def->FieldNo, false);
}

void TZyloSQL::BlobToGraphic(const Variant& NameOrIndex, TPicture* Picture, TZyloGraphicType GraphicType) {
  if (!Picture) RaiseLastError(ZylLoadStr(ZYL_ERR_BLOB_PICTURE_INVALID), 0);
  TZyloFieldDef* Def = FieldOrRaise(NameOrIndex);
  TZyloBlobStream* Blob = BlobOrRaise(Def);
  Blob->Seek(0, soBeginning);
  GraphicOf(Picture, GraphicType)->LoadFromStream(*Blob);
}
