// DB: fields, field definitions, parameters, index definitions and the data-set
// framework's message texts.
#include <cstring>

#include "host/DB.h"
#include "host/DateUtils.h"
#include "host/Messages.h"

namespace {

// Identifiers 900..919 of the host range belong to the data-set framework.
enum : TResourceId {
  SNotEditing = 900, SFieldReadOnly, SFieldNotFound, SDataSetClosed, SDataSetOpen,
  SDataSetReadOnly, SDataSetEmpty, SCircularDataLink, SRecordNotFound, SFieldValueError,
  SFieldTypeMismatch, SParamNotFound
};

const bool Registered = RegisterResStrings({
    {SNotEditing, "SNotEditing", "Dataset not in edit or insert mode"},
    {SFieldReadOnly, "SFieldReadOnly", "Field '%s' cannot be modified"},
    {SFieldNotFound, "SFieldNotFound", "Field '%s' not found"},
    {SDataSetClosed, "SDataSetClosed", "Cannot perform this operation on a closed dataset"},
    {SDataSetOpen, "SDataSetOpen", "Cannot perform this operation on an open dataset"},
    {SDataSetReadOnly, "SDataSetReadOnly", "Cannot modify a read-only dataset"},
    {SDataSetEmpty, "SDataSetEmpty", "Cannot perform this operation on an empty dataset"},
    {SCircularDataLink, "SCircularDataLink", "Circular datalinks are not allowed"},
    {SRecordNotFound, "SRecordNotFound", "Record not found"},
    {SFieldValueError, "SFieldValueError", "Invalid value for field '%s'"},
    {SFieldTypeMismatch, "SFieldTypeMismatch", "Type mismatch for field '%s', expecting: %s actual: %s"},
    {SParamNotFound, "SParamNotFound", "Parameter '%s' not found"},
});

}  // namespace

namespace DBMsg {
AnsiString NotEditing() { return LoadResString(SNotEditing); }
AnsiString FieldReadOnly(const AnsiString& N) { return Format(LoadResString(SFieldReadOnly), N); }
AnsiString FieldNotFound(const AnsiString& N) { return Format(LoadResString(SFieldNotFound), N); }
AnsiString DataSetClosed() { return LoadResString(SDataSetClosed); }
AnsiString DataSetOpen() { return LoadResString(SDataSetOpen); }
AnsiString DataSetReadOnly() { return LoadResString(SDataSetReadOnly); }
AnsiString DataSetEmpty() { return LoadResString(SDataSetEmpty); }
AnsiString CircularDataLink() { return LoadResString(SCircularDataLink); }
AnsiString RecordNotFound() { return LoadResString(SRecordNotFound); }
AnsiString FieldValueError(const AnsiString& N) { return Format(LoadResString(SFieldValueError), N); }
AnsiString FieldTypeMismatch(const AnsiString& N, TFieldType E, TFieldType A) {
  return Format(LoadResString(SFieldTypeMismatch), N, FieldTypeName(E), FieldTypeName(A));
}
}  // namespace DBMsg

AnsiString FieldTypeName(TFieldType Type) {
  switch (Type) {
    case ftString: return "String";
    case ftSmallint: return "Smallint";
    case ftInteger: return "Integer";
    case ftWord: return "Word";
    case ftBoolean: return "Boolean";
    case ftFloat: return "Float";
    case ftCurrency: return "Currency";
    case ftBCD: return "BCD";
    case ftDate: return "Date";
    case ftTime: return "Time";
    case ftDateTime: return "DateTime";
    case ftBytes: return "Bytes";
    case ftVarBytes: return "VarBytes";
    case ftAutoInc: return "AutoInc";
    case ftBlob: return "Blob";
    case ftMemo: return "Memo";
    case ftGraphic: return "Graphic";
    case ftWideString: return "WideString";
    case ftLargeint: return "Largeint";
    default: return "Unknown";
  }
}

bool IsBlobType(TFieldType Type) { return Type == ftBlob || Type == ftMemo || Type == ftGraphic; }

// ---------------------------------------------------------------------------

TFieldDef& TFieldDefs::Add(const AnsiString& Name, TFieldType DataType, int Size, bool Required,
                           int FieldNo) {
  auto Def = std::make_unique<TFieldDef>();
  Def->Name = Name;
  Def->DataType = DataType;
  Def->Size = Size;
  Def->Required = Required;
  Def->FieldNo = FieldNo > 0 ? FieldNo : Count() + 1;
  FItems.push_back(std::move(Def));
  return *FItems.back();
}

TFieldDef& TFieldDefs::Items(int Index) const {
  if (Index < 0 || Index >= Count()) throw EListError(Format("List index out of bounds (%d)", Index));
  return *FItems[Index];
}

int TFieldDefs::IndexOf(const AnsiString& Name) const {
  for (int I = 0; I < Count(); ++I)
    if (AnsiSameText(FItems[I]->Name, Name)) return I;
  return -1;
}

TFieldDef* TFieldDefs::Find(const AnsiString& Name) const {
  int I = IndexOf(Name);
  return I < 0 ? nullptr : FItems[I].get();
}

void TFieldDefs::Update() {
  if (Updated || !FDataSet) return;
  FDataSet->InitFieldDefs();
}

// ---------------------------------------------------------------------------

TField::TField(TDataSet* DataSet, const AnsiString& FieldName, TFieldType DataType, int Size,
               TFieldKind Kind)
    : FDataSet(DataSet), FFieldName(FieldName), FDataType(DataType), FSize(Size), FFieldKind(Kind) {}

TField::~TField() = default;

int TField::DataSize() const {
  switch (FDataType) {
    case ftString:
    case ftWideString: return FSize + 1;
    case ftSmallint:
    case ftWord:
    case ftBoolean: return 2;
    case ftInteger:
    case ftAutoInc:
    case ftDate:
    case ftTime: return 4;
    case ftLargeint:
    case ftFloat:
    case ftCurrency:
    case ftBCD:
    case ftDateTime: return 8;
    case ftBytes: return FSize;
    case ftVarBytes: return FSize + 2;
    default: return 0;
  }
}

int TField::Index() const {
  if (!FDataSet) return -1;
  for (int I = 0; I < FDataSet->FieldCount(); ++I)
    if (FDataSet->Fields(I) == this) return I;
  return -1;
}

bool TField::CanModify() const {
  return !ReadOnly && FDataSet && FDataSet->Active() && (FFieldKind == fkData ? FDataSet->CanModify() : true);
}

bool TField::GetData(void* Buffer) const {
  if (!FDataSet) DatabaseError(Format("Field '%s' has no dataset", FFieldName));
  if (FValidating) {
    // OnValidate reads the value about to be written.
    if (!FValidateBuffer) return false;
    if (Buffer) std::memcpy(Buffer, FValidateBuffer, DataSize());
    return true;
  }
  return FDataSet->GetFieldData(const_cast<TField*>(this), Buffer);
}

void TField::SetData(const void* Buffer) {
  if (!FDataSet) DatabaseError(Format("Field '%s' has no dataset", FFieldName));
  FDataSet->SetFieldData(this, Buffer);
}

void TField::Validate(const void* Buffer) {
  if (!OnValidate) return;
  FValidating = true;
  FValidateBuffer = Buffer;
  try {
    OnValidate(this);
  } catch (...) {
    FValidating = false;
    FValidateBuffer = nullptr;
    throw;
  }
  FValidating = false;
  FValidateBuffer = nullptr;
}

bool TField::IsNull() const {
  if (IsBlob()) return BlobSizeOf(this) == 0;
  return !GetData(nullptr);
}

Variant TField::BufferToVariant(const char* B) const {
  switch (FDataType) {
    case ftString:
    case ftWideString: {
      // At most Size characters (the buffer's last byte is the terminator's place), translated in
      // the string itself.
      AnsiString Text(B, strnlen(B, static_cast<size_t>(FSize)));
      if (Transliterate && FDataSet && !Text.empty()) FDataSet->Translate(Text.data(), Text.data(), false);
      return Variant(std::move(Text));
    }
    case ftSmallint: { int16_t V; std::memcpy(&V, B, 2); return Variant(static_cast<short>(V)); }
    case ftWord: { uint16_t V; std::memcpy(&V, B, 2); return Variant(static_cast<int>(V)); }
    case ftBoolean: { int16_t V; std::memcpy(&V, B, 2); return Variant(V != 0); }
    case ftInteger:
    case ftAutoInc: { int32_t V; std::memcpy(&V, B, 4); return Variant(static_cast<int>(V)); }
    case ftLargeint: { int64_t V; std::memcpy(&V, B, 8); return Variant(static_cast<long long>(V)); }
    case ftFloat:
    case ftBCD: { double V; std::memcpy(&V, B, 8); return Variant(V); }
    case ftCurrency: { double V; std::memcpy(&V, B, 8); return Variant(Currency::FromDouble(V)); }
    case ftDate: {
      TTimeStamp S; std::memcpy(&S.Date, B, 4); S.Time = 0;
      return Variant::FromDateTime(TimeStampToDateTime(S));
    }
    case ftTime: {
      TTimeStamp S; std::memcpy(&S.Time, B, 4); S.Date = DateDelta;
      return Variant::FromDateTime(TimeStampToDateTime(S));
    }
    case ftDateTime: {
      double Ms; std::memcpy(&Ms, B, 8);
      return Variant::FromDateTime(TimeStampToDateTime(MSecsToTimeStamp(static_cast<int64_t>(Ms))));
    }
    case ftBytes: return VarByteArrayOf(B, FSize);
    case ftVarBytes: {
      uint16_t Len; std::memcpy(&Len, B, 2);
      if (Len > FSize) Len = static_cast<uint16_t>(FSize);
      return VarByteArrayOf(B + 2, Len);
    }
    default: return Variant::Null();
  }
}

void TField::VariantToBuffer(const Variant& V, std::vector<char>& Buffer) const {
  Buffer.assign(DataSize() > 0 ? DataSize() : 1, 0);
  char* B = Buffer.data();
  try {
    switch (FDataType) {
      case ftString:
      case ftWideString: {
        AnsiString S = V.AsString();
        size_t N = std::min<size_t>(S.size(), FSize);
        std::memcpy(B, S.data(), N);
        B[N] = '\0';
        if (Transliterate && FDataSet) FDataSet->Translate(B, B, true);
        break;
      }
      case ftSmallint:
      case ftWord:
      case ftBoolean: {
        int32_t I = FDataType == ftBoolean ? (V.AsBoolean() ? 1 : 0) : V.AsInteger();
        if ((FDataType == ftSmallint && (I < -32768 || I > 32767)) || (FDataType == ftWord && (I < 0 || I > 65535)))
          throw EConvertError("out of range");
        uint16_t W = static_cast<uint16_t>(I);
        std::memcpy(B, &W, 2);
        break;
      }
      case ftInteger:
      case ftAutoInc: { int32_t I = V.AsInteger(); std::memcpy(B, &I, 4); break; }
      case ftLargeint: { int64_t I = V.AsInt64(); std::memcpy(B, &I, 8); break; }
      case ftFloat:
      case ftCurrency:
      case ftBCD: { double D = V.AsDouble(); std::memcpy(B, &D, 8); break; }
      case ftDate: { int32_t D = DateTimeToTimeStamp(V.AsDateTime()).Date; std::memcpy(B, &D, 4); break; }
      case ftTime: { int32_t T = DateTimeToTimeStamp(V.AsDateTime()).Time; std::memcpy(B, &T, 4); break; }
      case ftDateTime: {
        double Ms = static_cast<double>(TimeStampToMSecs(DateTimeToTimeStamp(V.AsDateTime())));
        std::memcpy(B, &Ms, 8);
        break;
      }
      case ftBytes:
      case ftVarBytes: {
        std::vector<uint8_t> Bytes = V.IsArray() ? VarArrayToBytes(V) : std::vector<uint8_t>();
        if (!V.IsArray()) {
          AnsiString S = V.AsString();
          Bytes.assign(S.begin(), S.end());
        }
        size_t N = std::min<size_t>(Bytes.size(), FSize);
        if (FDataType == ftVarBytes) {
          uint16_t Len = static_cast<uint16_t>(N);
          std::memcpy(B, &Len, 2);
          if (N) std::memcpy(B + 2, Bytes.data(), N);
        } else if (N) {
          std::memcpy(B, Bytes.data(), N);
        }
        break;
      }
      default: DatabaseError(DBMsg::FieldValueError(DisplayName()));
    }
  } catch (const EConvertError&) {
    DatabaseError(DBMsg::FieldValueError(DisplayName()));
  }
}

Variant TField::GetValue() const {
  // Every value of a browsed column passes here: small values use a buffer on the stack.
  const size_t Size = DataSize() > 0 ? static_cast<size_t>(DataSize()) : 1;
  char Small[256];
  std::vector<char> Large;
  char* Buffer = Small;
  if (Size > sizeof Small) {
    Large.assign(Size, 0);
    Buffer = Large.data();
  } else {
    std::memset(Small, 0, Size);
  }
  if (!GetData(Buffer)) return Variant::Null();
  return BufferToVariant(Buffer);
}

void TField::SetValue(const Variant& Value) {
  if (Value.IsNull() || Value.IsEmpty()) {
    SetData(nullptr);
    return;
  }
  std::vector<char> Buffer;
  VariantToBuffer(Value, Buffer);
  SetData(Buffer.data());
}

Variant TField::GetOldValue() const {
  if (!FDataSet) DatabaseError(Format("Field '%s' has no dataset", FFieldName));
  const TDataSetState Saved = FDataSet->SetTempState(dsOldValue);
  try {
    Variant V = GetValue();
    FDataSet->RestoreState(Saved);
    return V;
  } catch (...) {
    FDataSet->RestoreState(Saved);
    throw;
  }
}

AnsiString TField::GetAsString() const {
  Variant V = GetValue();
  if (V.IsNull()) return {};
  switch (FDataType) {
    case ftDate: return DateToStr(V.AsDateTime());
    case ftTime: return TimeToStr(V.AsDateTime());
    case ftDateTime: return DateTimeToStr(V.AsDateTime());
    case ftBytes:
    case ftVarBytes: {
      std::vector<uint8_t> Bytes = VarArrayToBytes(V);
      return AnsiString(Bytes.begin(), Bytes.end());
    }
    default: return V.AsString();
  }
}

void TField::SetAsString(const AnsiString& Value) {
  if (Value.empty() && FDataType != ftString && FDataType != ftWideString) {
    SetData(nullptr);
    return;
  }
  switch (FDataType) {
    case ftDate:
    case ftTime:
    case ftDateTime: {
      TDateTime D;
      if (!TryStrToDateTime(Value, D)) DatabaseError(DBMsg::FieldValueError(DisplayName()));
      SetValue(Variant::FromDateTime(D));
      return;
    }
    case ftBoolean: {
      bool B;
      if (!TryStrToBool(Value, B)) DatabaseError(DBMsg::FieldValueError(DisplayName()));
      SetValue(Variant(B));
      return;
    }
    default: SetValue(Variant(Value));
  }
}

int32_t TField::GetAsInteger() const {
  Variant V = GetValue();
  return V.IsNull() ? 0 : V.AsInteger();
}
int64_t TField::GetAsLargeInt() const {
  Variant V = GetValue();
  return V.IsNull() ? 0 : V.AsInt64();
}
double TField::GetAsFloat() const {
  Variant V = GetValue();
  return V.IsNull() ? 0 : V.AsDouble();
}
TDateTime TField::GetAsDateTime() const {
  Variant V = GetValue();
  return V.IsNull() ? 0 : V.AsDateTime();
}
bool TField::GetAsBoolean() const {
  Variant V = GetValue();
  return V.IsNull() ? false : V.AsBoolean();
}

// ---------------------------------------------------------------------------

namespace {
AnsiString ReadBlob(const TBlobField* Field) {
  std::unique_ptr<TStream> Stream(Field->DataSet()->CreateBlobStream(const_cast<TBlobField*>(Field), bmRead));
  if (!Stream) return {};
  AnsiString Data;
  char Chunk[4096];
  for (;;) {
    int64_t N = Stream->Read(Chunk, sizeof Chunk);
    if (N <= 0) break;
    Data.append(Chunk, static_cast<size_t>(N));
  }
  return Data;
}
}  // namespace

int BlobSizeOf(const TField* Field) {
  auto* Blob = dynamic_cast<const TBlobField*>(Field);
  return Blob ? Blob->BlobSize() : 0;
}

int TBlobField::BlobSize() const { return static_cast<int>(ReadBlob(this).size()); }

AnsiString TBlobField::GetAsString() const { return ReadBlob(this); }

Variant TBlobField::GetValue() const {
  AnsiString S = ReadBlob(this);
  return S.empty() ? Variant::Null() : Variant(S);
}

void TBlobField::SetAsString(const AnsiString& Value) {
  std::unique_ptr<TStream> Stream(DataSet()->CreateBlobStream(this, bmWrite));
  if (!Stream) DatabaseError(DBMsg::FieldReadOnly(DisplayName()));
  if (!Value.empty()) Stream->WriteBuffer(Value.data(), static_cast<int64_t>(Value.size()));
}

void TBlobField::SetValue(const Variant& Value) {
  if (Value.IsNull() || Value.IsEmpty()) {
    SetAsString({});
  } else if (Value.IsArray()) {
    std::vector<uint8_t> Bytes = VarArrayToBytes(Value);
    SetAsString(AnsiString(Bytes.begin(), Bytes.end()));
  } else {
    SetAsString(Value.AsString());
  }
}

void TBlobField::LoadFromStream(TStream& Stream) {
  Stream.SetPosition(0);
  AnsiString Data(static_cast<size_t>(Stream.GetSize()), '\0');
  if (!Data.empty()) Stream.ReadBuffer(Data.data(), static_cast<int64_t>(Data.size()));
  SetAsString(Data);
}

void TBlobField::SaveToStream(TStream& Stream) const {
  AnsiString Data = ReadBlob(this);
  if (!Data.empty()) Stream.WriteBuffer(Data.data(), static_cast<int64_t>(Data.size()));
}

// ---------------------------------------------------------------------------

TParam* TParams::CreateParam(TFieldType DataType, const AnsiString& Name, TParamType ParamType) {
  FItems.push_back(std::make_unique<TParam>(this, Name, DataType, ParamType));
  return FItems.back().get();
}

TParam& TParams::Items(int Index) const {
  if (Index < 0 || Index >= Count()) throw EListError(Format("List index out of bounds (%d)", Index));
  return *FItems[Index];
}

TParam* TParams::FindParam(const AnsiString& Name) const {
  for (auto& P : FItems)
    if (AnsiSameText(P->Name, Name)) return P.get();
  return nullptr;
}

TParam& TParams::ParamByName(const AnsiString& Name) const {
  TParam* P = FindParam(Name);
  if (!P) DatabaseError(Format(LoadResString(SParamNotFound), Name));
  return *P;
}

void TParams::Assign(const TPersistent* Source) {
  if (auto* Src = dynamic_cast<const TParams*>(Source)) {
    if (Src == this) return;
    Clear();
    for (auto& P : Src->FItems) {
      TParam* N = CreateParam(P->DataType, P->Name, P->ParamType);
      N->Value = P->Value;
      N->Bound = P->Bound;
    }
    return;
  }
  TPersistent::Assign(Source);
}

// ---------------------------------------------------------------------------

TIndexDef& TIndexDefs::Add(const AnsiString& Name, const AnsiString& Fields) {
  auto D = std::make_unique<TIndexDef>();
  D->Name = Name;
  D->Fields = Fields;
  FItems.push_back(std::move(D));
  return *FItems.back();
}

TIndexDef& TIndexDefs::Items(int Index) const {
  if (Index < 0 || Index >= Count()) throw EListError(Format("List index out of bounds (%d)", Index));
  return *FItems[Index];
}
