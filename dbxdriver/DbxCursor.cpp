// ZylDbx: TSQLCursorZYL — the columns of an open result set described for the host and read in
// place from the statement's record buffer.
#include <algorithm>
#include <cstring>

#include "dbxdriver/ZylDbx.h"

namespace {

// The name buffer a host passes holds 31 characters and a NUL.
constexpr size_t kMaxColumnName = sizeof(DBINAME) - 1;

template <class T>
void Write(void* Target, const T& Value) {
  std::memcpy(Target, &Value, sizeof Value);
}

SQLResult PutFlag(int32_t* Flag, bool Value) {
  if (!Flag) return DBXERR_INVALIDPARAM;
  *Flag = Value ? 1 : 0;  // exactly 1: a host may read only the low byte
  return SQL_SUCCESS;
}

Tsqldatetime StampOf(const TSQLColumnZYL& C) {
  Tsqldatetime S;
  std::memcpy(&S, C.Data, sizeof S);
  return S;
}

}  // namespace

bool TSQLColumnZYL::IsNull() const {
  if (!Indicator || !Data) return true;
  int16_t V;
  std::memcpy(&V, Indicator, sizeof V);
  return V == -1;
}

// ---- the column list ---------------------------------------------------------------------------------

SQLResult TSQLCommandZYL::RebuildColumns() {
  FColumns.Clear();
  TZyloFieldDefs* Defs = FStatement->GetFieldDefs();
  uint8_t* Record = FStatement->GetRecordBuffer();
  uint8_t* Indicators = FStatement->GetIndicators();
  const int64_t RecordSize = FStatement->GetRecordSize();
  const int64_t IndicatorSize = FStatement->GetIndicatorSize();
  TZyloBlobManager* Blobs = FStatement->GetBlobManager();
  bool Unknown = false;
  for (int32_t I = 0; I < Defs->Count(); ++I) {
    const TZyloFieldDef* Def = Defs->Items(I);
    auto* Col = FColumns.Add<TSQLColumnZYL>();
    Col->Name = Def->Name;
    Col->FieldType = Def->FieldType;
    zyldbx::MapFieldType(Def->FieldType, Col->DbxType, Col->SubType);
    Unknown = Unknown || Col->DbxType == fldUNKNOWN;
    Col->Size = Def->Size;
    Col->Length = static_cast<uint32_t>(std::max(Def->Size, 0));
    Col->Scale = static_cast<int16_t>(Def->Decimals);
    if (Col->DbxType == fldZSTRING) Col->Precision = static_cast<int16_t>(std::clamp(Def->Size - 1, 1, 32767));
    if (Col->DbxType == fldVARBYTES) Col->Precision = static_cast<int16_t>(std::clamp(Def->Size - 2, 1, 32767));
    if (Col->DbxType == fldBCD) {
      Col->Length = sizeof(TBcd);
      Col->Precision = 19;
      Col->Scale = 0;
    }
    // Only a field that lies inside the buffers is read.
    if (Record && Def->Offset >= 0 && Def->Size > 0 && Def->Offset + int64_t(Def->Size) <= RecordSize)
      Col->Data = Record + Def->Offset;
    if (Indicators && (I + 1) * int64_t(2) <= IndicatorSize) Col->Indicator = Indicators + I * 2;
    if (Col->DbxType == fldBLOB && Blobs) {
      for (int32_t B = 0; B < Blobs->Count(); ++B) {
        TZyloBlobStream* S = Blobs->GetBlob(B);
        if (S && SameText(S->GetName(), Def->Name)) Col->BlobStream = S;
      }
    }
  }
  return Unknown ? DBXERR_INVALIDFLDTYPE : SQL_SUCCESS;
}

// ---- cursor ------------------------------------------------------------------------------------

TSQLCursorZYL::TSQLCursorZYL(TSQLCommandZYL* Command, bool RowPending) : FCommand(Command), FRowPending(RowPending) {
  FCommand->AddRef();
}

TSQLCursorZYL::~TSQLCursorZYL() {
  FCommand->CursorReleased(this);
  FCommand->Release();
}

SQLResult TSQLCursorZYL::SetOption(uint32_t, TDBXOptionValue) { return DBXERR_NOTSUPPORTED; }
SQLResult TSQLCursorZYL::GetOption(uint32_t, void*, int16_t, int16_t*) { return DBXERR_NOTSUPPORTED; }
SQLResult TSQLCursorZYL::getErrorMessage(char* Error) { return FCommand->getErrorMessage(Error); }
SQLResult TSQLCursorZYL::getErrorMessageLen(int16_t* ErrorLen) { return FCommand->getErrorMessageLen(ErrorLen); }

SQLResult TSQLCursorZYL::getColumnCount(uint16_t* pColumns) {
  if (!pColumns) return DBXERR_INVALIDPARAM;
  *pColumns = static_cast<uint16_t>(std::min(FCommand->ColumnCount(), 0xFFFF));
  return SQL_SUCCESS;
}

SQLResult TSQLCursorZYL::getColumnNameLength(uint16_t ColumnNumber, uint16_t* pLen) {
  const TSQLColumnZYL* C = Column(ColumnNumber);
  if (!C) return DBXERR_OUTOFRANGE;
  if (!pLen) return DBXERR_INVALIDPARAM;
  *pLen = static_cast<uint16_t>(std::min(C->Name.size(), kMaxColumnName) + 1);
  return SQL_SUCCESS;
}

SQLResult TSQLCursorZYL::getColumnName(uint16_t ColumnNumber, char* pColumnName) {
  const TSQLColumnZYL* C = Column(ColumnNumber);
  if (!C) return DBXERR_OUTOFRANGE;
  if (!pColumnName) return DBXERR_INVALIDPARAM;
  const size_t N = std::min(C->Name.size(), kMaxColumnName);
  std::memcpy(pColumnName, C->Name.data(), N);
  pColumnName[N] = '\0';
  return SQL_SUCCESS;
}

SQLResult TSQLCursorZYL::getColumnType(uint16_t ColumnNumber, uint16_t* puType, uint16_t* puSubType) {
  const TSQLColumnZYL* C = Column(ColumnNumber);
  if (!C) return DBXERR_OUTOFRANGE;
  if (!puType || !puSubType) return DBXERR_INVALIDPARAM;
  *puType = C->DbxType;
  *puSubType = C->SubType;
  return SQL_SUCCESS;
}

SQLResult TSQLCursorZYL::getColumnLength(uint16_t ColumnNumber, uint32_t* pLength) {
  const TSQLColumnZYL* C = Column(ColumnNumber);
  if (!C) return DBXERR_OUTOFRANGE;
  if (!pLength) return DBXERR_INVALIDPARAM;
  *pLength = C->Length;
  return SQL_SUCCESS;
}

SQLResult TSQLCursorZYL::getColumnPrecision(uint16_t ColumnNumber, int16_t* piPrecision) {
  const TSQLColumnZYL* C = Column(ColumnNumber);
  if (!C) return DBXERR_OUTOFRANGE;
  if (!piPrecision) return DBXERR_INVALIDPARAM;
  *piPrecision = C->Precision;
  return SQL_SUCCESS;
}

SQLResult TSQLCursorZYL::getColumnScale(uint16_t ColumnNumber, int16_t* piScale) {
  const TSQLColumnZYL* C = Column(ColumnNumber);
  if (!C) return DBXERR_OUTOFRANGE;
  if (!piScale) return DBXERR_INVALIDPARAM;
  *piScale = C->Scale;
  return SQL_SUCCESS;
}

SQLResult TSQLCursorZYL::isNullable(uint16_t, int32_t* Nullable) { return PutFlag(Nullable, true); }
SQLResult TSQLCursorZYL::isAutoIncrement(uint16_t, int32_t* AutoIncr) { return PutFlag(AutoIncr, false); }

SQLResult TSQLCursorZYL::isReadOnly(uint16_t ColumnNumber, int32_t* ReadOnly) {
  if (!Column(ColumnNumber)) return DBXERR_OUTOFRANGE;
  return PutFlag(ReadOnly, false);
}

SQLResult TSQLCursorZYL::isSearchable(uint16_t ColumnNumber, int32_t* Searchable) {
  const TSQLColumnZYL* C = Column(ColumnNumber);
  if (!C) return DBXERR_OUTOFRANGE;
  return PutFlag(Searchable, !ZylIsBlobType(C->FieldType));
}

SQLResult TSQLCursorZYL::isBlobSizeExact(uint16_t, int32_t* IsExact) { return PutFlag(IsExact, true); }

// ---- moving ----------------------------------------------------------------------------------------

SQLResult TSQLCursorZYL::next() {
  return DbxGuard(FCommand->GetErrors(), [&]() -> SQLResult {
    TAsaSQL* S = FCommand->GetStatement();
    bool Moved;
    if (FRowPending) {
      FRowPending = false;
      Moved = true;
    } else {
      Moved = S->Next();
    }
    if (Moved) {
      // The statement reads a fetched row in place; the columns read the record buffer.
      S->GetRecordBuffer();
      return SQL_SUCCESS;
    }
    if (S->GetEOF()) return DBXERR_EOF;
    FCommand->GetErrors().Add(S->GetLastError());
    return DBXERR_DRIVERERROR;
  });
}

// ---- values ------------------------------------------------------------------------------------

SQLResult TSQLCursorZYL::ValueColumn(uint16_t ColumnNumber, std::initializer_list<uint16_t> Types,
                                     TSQLColumnZYL*& Col) const {
  Col = Column(ColumnNumber);
  if (!Col) return DBXERR_OUTOFRANGE;
  if (std::find(Types.begin(), Types.end(), Col->DbxType) == Types.end()) return DBXERR_INVALIDXLATION;
  return SQL_SUCCESS;
}

// The steps every value getter shares: the range and type checks, the out-pointers, NULL (with
// a 32-bit 0 written for the getters that promise one); then Read writes the value.
template <class F>
SQLResult TSQLCursorZYL::GetValue(uint16_t ColumnNumber, std::initializer_list<uint16_t> Types, void* Value,
                                  int32_t* IsBlank, bool ZeroWhenNull, F&& Read) {
  TSQLColumnZYL* C = nullptr;
  if (SQLResult R = ValueColumn(ColumnNumber, Types, C)) return R;
  if (!IsBlank) return DBXERR_INVALIDPARAM;
  if (C->IsNull()) {
    if (ZeroWhenNull && Value) Write(Value, int32_t(0));
    *IsBlank = 1;
    return SQL_SUCCESS;
  }
  if (!Value) return DBXERR_INVALIDPARAM;
  *IsBlank = 0;
  Read(*C, Value);
  return SQL_SUCCESS;
}

SQLResult TSQLCursorZYL::getString(uint16_t ColumnNumber, char* Value, int32_t* IsBlank) {
  return GetValue(ColumnNumber, {fldZSTRING}, Value, IsBlank, false, [](const TSQLColumnZYL& C, void* Out) {
    auto* Text = static_cast<char*>(Out);
    std::memcpy(Text, C.Data, static_cast<size_t>(C.Size));
    Text[C.Size - 1] = '\0';
  });
}

SQLResult TSQLCursorZYL::getShort(uint16_t ColumnNumber, void* Value, int32_t* IsBlank) {
  return GetValue(ColumnNumber, {fldINT16, fldBOOL}, Value, IsBlank, false, [](const TSQLColumnZYL& C, void* Out) {
    int16_t V;
    if (C.Size == 1)
      V = C.Data[0];
    else
      std::memcpy(&V, C.Data, sizeof V);
    Write(Out, V);
  });
}

SQLResult TSQLCursorZYL::getLong(uint16_t ColumnNumber, void* Value, int32_t* IsBlank) {
  return GetValue(ColumnNumber, {fldINT32}, Value, IsBlank, false, [](const TSQLColumnZYL& C, void* Out) {
    std::memcpy(Out, C.Data, sizeof(int32_t));
  });
}

SQLResult TSQLCursorZYL::getDouble(uint16_t ColumnNumber, void* Value, int32_t* IsBlank) {
  return GetValue(ColumnNumber, {fldFLOAT}, Value, IsBlank, false, [](const TSQLColumnZYL& C, void* Out) {
    std::memcpy(Out, C.Data, sizeof(double));
  });
}

SQLResult TSQLCursorZYL::getBcd(uint16_t ColumnNumber, void* Value, int32_t* IsBlank) {
  return GetValue(ColumnNumber, {fldBCD}, Value, IsBlank, false, [](const TSQLColumnZYL& C, void* Out) {
    int64_t V;
    std::memcpy(&V, C.Data, sizeof V);
    Write(Out, zyldbx::Int64ToBcd(V));
  });
}

SQLResult TSQLCursorZYL::getTimeStamp(uint16_t ColumnNumber, void* Value, int32_t* IsBlank) {
  return GetValue(ColumnNumber, {fldDATETIME}, Value, IsBlank, false, [](const TSQLColumnZYL& C, void* Out) {
    Write(Out, zyldbx::AsaToSQLTimeStamp(StampOf(C)));
  });
}

SQLResult TSQLCursorZYL::getTime(uint16_t ColumnNumber, void* Value, int32_t* IsBlank) {
  return GetValue(ColumnNumber, {fldTIME}, Value, IsBlank, true, [](const TSQLColumnZYL& C, void* Out) {
    Write(Out, zyldbx::AsaToDbxTime(StampOf(C)));
  });
}

SQLResult TSQLCursorZYL::getDate(uint16_t ColumnNumber, void* Value, int32_t* IsBlank) {
  return GetValue(ColumnNumber, {fldDATE}, Value, IsBlank, true, [](const TSQLColumnZYL& C, void* Out) {
    Write(Out, zyldbx::AsaToDbxDate(StampOf(C)));
  });
}

SQLResult TSQLCursorZYL::getBytes(uint16_t ColumnNumber, void* Value, int32_t* IsBlank) {
  return GetValue(ColumnNumber, {fldBYTES, fldVARBYTES}, Value, IsBlank, false,
                  [](const TSQLColumnZYL& C, void* Out) {
                    // The 16-bit length, clamped to the field, then the bytes; the rest is zero.
                    const size_t Room = static_cast<size_t>(std::max(C.Size - 2, 0));
                    uint16_t Len;
                    std::memcpy(&Len, C.Data, sizeof Len);
                    const size_t N = std::min<size_t>(Len, Room);
                    auto* Bytes = static_cast<uint8_t*>(Out);
                    const uint16_t Shown = static_cast<uint16_t>(N);
                    std::memcpy(Bytes, &Shown, sizeof Shown);
                    std::memcpy(Bytes + 2, C.Data + 2, N);
                    std::memset(Bytes + 2 + N, 0, Room - N);
                  });
}

SQLResult TSQLCursorZYL::getBlobSize(uint16_t ColumnNumber, uint32_t* Length, int32_t* IsBlank) {
  TSQLColumnZYL* C = Column(ColumnNumber);
  if (!C) return DBXERR_OUTOFRANGE;
  if (C->DbxType != fldBLOB) return DBXERR_INVALIDFLDTYPE;
  if (!Length || !IsBlank) return DBXERR_INVALIDPARAM;
  if (C->IsNull() || !C->BlobStream) {
    *Length = 0;
    *IsBlank = 1;
    return SQL_SUCCESS;
  }
  return DbxGuard(FCommand->GetErrors(), [&] {
    *Length = static_cast<uint32_t>(std::max(C->BlobStream->GetBlobSize(), 0));
    *IsBlank = 0;
    return SQL_SUCCESS;
  });
}

SQLResult TSQLCursorZYL::getBlob(uint16_t ColumnNumber, void* Value, int32_t* IsBlank, uint32_t Length) {
  TSQLColumnZYL* C = nullptr;
  if (SQLResult R = ValueColumn(ColumnNumber, {fldBLOB}, C)) return R;
  if (!IsBlank) return DBXERR_INVALIDPARAM;
  if (C->IsNull() || !C->BlobStream) {
    *IsBlank = 1;
    return SQL_SUCCESS;
  }
  if (!Value && Length > 0) return DBXERR_INVALIDPARAM;
  return DbxGuard(FCommand->GetErrors(), [&] {
    C->BlobStream->Seek(0, soBeginning);
    if (Length > 0) C->BlobStream->Read(Value, Length);
    *IsBlank = 0;
    return SQL_SUCCESS;
  });
}

SQLResult TSQLCursorZYL::ReadText(uint16_t ColumnNumber, AnsiString& Text, bool& IsNull) {
  Text.clear();
  TSQLColumnZYL* C = Column(ColumnNumber);
  if (!C) return DBXERR_OUTOFRANGE;
  IsNull = C->IsNull();
  if (IsNull) return SQL_SUCCESS;
  if (C->DbxType == fldZSTRING) {
    Text.assign(reinterpret_cast<const char*>(C->Data), strnlen(reinterpret_cast<const char*>(C->Data), C->Size));
    return SQL_SUCCESS;
  }
  if (C->FieldType != ztMemo || !C->BlobStream) return DBXERR_INVALIDXLATION;
  return DbxGuard(FCommand->GetErrors(), [&] {
    const int32_t Size = std::max(C->BlobStream->GetBlobSize(), 0);
    Text.assign(static_cast<size_t>(Size), '\0');
    C->BlobStream->Seek(0, soBeginning);
    const int64_t Got = Size > 0 ? C->BlobStream->Read(Text.data(), Size) : 0;
    Text.resize(static_cast<size_t>(std::max<int64_t>(Got, 0)));
    return SQL_SUCCESS;
  });
}
