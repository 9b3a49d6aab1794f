// The in-memory test data set: primitives of the record-buffer protocol.
#include "MemDataSet.h"

#include <algorithm>

namespace {

// Exposes the field layer's buffer conversions for rows held outside a data set.
struct TCodec : TField {
  TCodec(TFieldType Type, int Size) : TField(nullptr, "", Type, Size) { Transliterate = false; }
  using TField::BufferToVariant;
  using TField::VariantToBuffer;
};

const char* ModeName(TGetMode M) { return M == gmNext ? "next" : M == gmPrior ? "prior" : "current"; }

}  // namespace

class TMemBlobStream : public TStream {
public:
  TMemBlobStream(TMemDataSet* DataSet, TField* Field, TRecordBuffer Buffer, TBlobStreamMode Mode)
      : FDataSet(DataSet), FField(Field), FBuffer(Buffer), FMode(Mode) {
    int Blob = DataSet->BlobColumnIndex(Field->FieldNo() - 1);
    FData = DataSet->BlobSlot(Buffer, Blob);
    if (Mode == bmWrite) {
      FData->clear();
      FWritten = true;
      UpdateNull();
    }
  }
  ~TMemBlobStream() override {
    if (FWritten) {
      if (auto* B = dynamic_cast<TBlobField*>(FField)) B->Modified = true;
      FDataSet->DataEvent(deFieldChange, reinterpret_cast<intptr_t>(FField));
    }
  }
  int64_t Read(void* Buffer, int64_t Count) override {
    int64_t N = std::max<int64_t>(0, std::min<int64_t>(Count, int64_t(FData->size()) - FPos));
    if (N > 0) std::memcpy(Buffer, FData->data() + FPos, size_t(N));
    FPos += N;
    return N;
  }
  int64_t Write(const void* Buffer, int64_t Count) override {
    if (FMode == bmRead) throw EStreamError("The blob was opened for reading");
    if (FPos > int64_t(FData->size())) FData->resize(size_t(FPos));
    FData->replace(size_t(FPos), std::min<size_t>(size_t(Count), FData->size() - size_t(FPos)),
                   static_cast<const char*>(Buffer), size_t(Count));
    FPos += Count;
    FWritten = true;
    UpdateNull();
    return Count;
  }
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override {
    int64_t Base = Origin == soBeginning ? 0 : Origin == soCurrent ? FPos : int64_t(FData->size());
    FPos = std::max<int64_t>(0, Base + Offset);
    return FPos;
  }

private:
  void UpdateNull() { FBuffer[FDataSet->ColumnOffset(FField->FieldNo() - 1)] = FData->empty() ? 1 : 0; }
  TMemDataSet* FDataSet;
  TField* FField;
  TRecordBuffer FBuffer;
  TBlobStreamMode FMode;
  std::string* FData;
  int64_t FPos = 0;
  bool FWritten = false;
};

void TMemMasterLink::ActiveChanged() { FDetail->MasterChanged(); }
void TMemMasterLink::RecordChanged(TField* Field) {
  if (!Field) FDetail->MasterChanged();
}
void TMemMasterLink::CheckBrowseMode() {
  if (FDetail->Active()) FDetail->CheckBrowseMode();
}

TMemDataSet::TMemDataSet(TComponent* AOwner, std::vector<TMemColumn> Columns)
    : TDataSet(AOwner), FColumns(std::move(Columns)) {
  for (auto& C : FColumns) {
    FOffsets.push_back(FRecordSize);
    FRecordSize += 1 + TCodec(C.Type, C.Size).DataSize();
    if (IsBlobType(C.Type)) ++FBlobCount;
  }
}

TMemDataSet::~TMemDataSet() {
  // The primitives belong to this class: close while they still exist.
  Close();
  FMasterLink.SetDataSource(nullptr);
}

int TMemDataSet::BlobColumnIndex(int Column) const {
  int N = 0;
  for (int I = 0; I < Column; ++I)
    if (IsBlobType(FColumns[I].Type)) ++N;
  return N;
}

void TMemDataSet::AddRow(const TVariantArray& Values) {
  TRow Row;
  Row.Id = FNextId++;
  Row.Data.assign(FRecordSize, 0);
  Row.Blobs.resize(FBlobCount);
  for (size_t C = 0; C < FColumns.size(); ++C) {
    const Variant V = C < Values.size() ? Values[C] : Variant::Null();
    char* P = Row.Data.data() + FOffsets[C];
    bool Null = V.IsNull() || V.IsEmpty();
    P[0] = Null ? 1 : 0;
    if (Null) continue;
    if (IsBlobType(FColumns[C].Type)) {
      Row.Blobs[BlobColumnIndex(int(C))] = V.AsString();
    } else {
      std::vector<char> B;
      TCodec(FColumns[C].Type, FColumns[C].Size).VariantToBuffer(V, B);
      std::memcpy(P + 1, B.data(), B.size());
    }
  }
  FRows.push_back(std::move(Row));
}

Variant TMemDataSet::RowValue(int Row, int Column) const {
  const TRow& R = FRows.at(Row);
  const char* P = R.Data.data() + FOffsets[Column];
  if (P[0]) return Variant::Null();
  if (IsBlobType(FColumns[Column].Type)) return Variant(AnsiString(R.Blobs[BlobColumnIndex(Column)]));
  return TCodec(FColumns[Column].Type, FColumns[Column].Size).BufferToVariant(P + 1);
}

// ---------------------------------------------------------------------------

TRecordBuffer TMemDataSet::AllocRecordBuffer() {
  TRecordBuffer B = new char[BookmarkOffset() + sizeof(int32_t) + 1]();
  for (int I = 0; I < FBlobCount; ++I) SetBlobSlot(B, I, new std::string);
  return B;
}

void TMemDataSet::FreeRecordBuffer(TRecordBuffer& Buffer) {
  for (int I = 0; I < FBlobCount; ++I) delete BlobSlot(Buffer, I);
  delete[] Buffer;
  Buffer = nullptr;
}

void TMemDataSet::InternalInitRecord(TRecordBuffer Buffer) {
  std::memset(Buffer, 0, FRecordSize);
  for (size_t C = 0; C < FColumns.size(); ++C) Buffer[FOffsets[C]] = 1;  // all NULL
  for (int I = 0; I < FBlobCount; ++I) BlobSlot(Buffer, I)->clear();
  int32_t None = -1;
  std::memcpy(Buffer + BookmarkOffset(), &None, 4);
}

void TMemDataSet::ClearCalcFields(TRecordBuffer Buffer) {
  std::memset(Buffer + FRecordSize, 0, CalcFieldsSize());
}

void TMemDataSet::CopyRowToBuffer(int Row, TRecordBuffer Buffer) {
  const TRow& R = FRows[Row];
  std::memcpy(Buffer, R.Data.data(), FRecordSize);
  for (int I = 0; I < FBlobCount; ++I) *BlobSlot(Buffer, I) = R.Blobs[I];
  std::memcpy(Buffer + BookmarkOffset(), &R.Id, 4);
  SetBookmarkFlag(Buffer, bfCurrent);
}

void TMemDataSet::StoreBuffer(TRecordBuffer Buffer, TRow& Row) {
  Row.Data.assign(Buffer, Buffer + FRecordSize);
  Row.Blobs.resize(FBlobCount);
  for (int I = 0; I < FBlobCount; ++I) Row.Blobs[I] = *BlobSlot(Buffer, I);
}

bool TMemDataSet::Accepts(int Row) {
  TRecordBuffer B = AllocRecordBuffer();
  CopyRowToBuffer(Row, B);
  bool Accept = true;
  TDataSetState Saved = SetTempState(dsFilter);
  FFilterBuffer = B;
  try {
    TDataSet* Master = FMasterLink.DataSet();
    if (Master && Master->Active() && !MasterField.empty() && !DetailField.empty()) {
      Variant M = Master->FieldByName(MasterField).GetValue();
      Variant D = FieldByName(DetailField).GetValue();
      Accept = !M.IsNull() && !D.IsNull() && VarCompareValue(M, D) == vrEqual;
    }
    if (Accept && Filtered() && OnFilterRecord()) {
      try {
        OnFilterRecord()(this, Accept);
      } catch (...) {
        InternalHandleException();  // shown; the row keeps the handler's answer
      }
    }
  } catch (...) {
    RestoreState(Saved);
    FreeRecordBuffer(B);
    throw;
  }
  RestoreState(Saved);
  FreeRecordBuffer(B);
  return Accept;
}

TGetResult TMemDataSet::GetRecord(TRecordBuffer Buffer, TGetMode GetMode, bool DoCheck) {
  Note(std::string("GetRecord(") + ModeName(GetMode) + ")");
  const int N = RowCount();
  for (;;) {
    if (GetMode == gmNext) {
      if (FCursor < N) ++FCursor;
      if (FCursor >= N) {
        FCursor = N;
        return grEOF;
      }
    } else if (GetMode == gmPrior) {
      if (FCursor >= 0) --FCursor;
      if (FCursor < 0) {
        FCursor = -1;
        return grBOF;
      }
    } else if (FCursor < 0 || FCursor >= N) {
      return FCursor < 0 ? grBOF : grEOF;
    }
    if (Accepts(FCursor)) break;
    if (GetMode == gmCurrent) GetMode = gmNext;  // a rejected current row: the next one
  }
  CopyRowToBuffer(FCursor, Buffer);
  GetCalcFields(Buffer);
  return grOK;
}

void TMemDataSet::InternalInitFieldDefs() {
  Note("InternalInitFieldDefs");
  FieldDefs().Clear();
  for (auto& C : FColumns) FieldDefs().Add(C.Name, C.Type, C.Size);
}

void TMemDataSet::InternalOpen() {
  Note("InternalOpen");
  // The cursor is open before the definitions are read from it, as with a server cursor.
  FCursor = -1;
  FOpen = true;
  FieldDefs().Updated = false;
  FieldDefs().Update();
  if (DefaultFields()) CreateFields();
  BindFields(true);
  SetBookmarkSize(4);
}

void TMemDataSet::InternalClose() {
  Note("InternalClose");
  BindFields(false);
  if (DefaultFields()) DestroyFields();
  FOpen = false;
}

void TMemDataSet::InternalFirst() {
  Note("InternalFirst");
  FCursor = -1;
}

void TMemDataSet::InternalLast() {
  Note("InternalLast");
  FCursor = RowCount();
}

void TMemDataSet::GetBookmarkData(TRecordBuffer Buffer, void* Data) { std::memcpy(Data, Buffer + BookmarkOffset(), 4); }
void TMemDataSet::SetBookmarkData(TRecordBuffer Buffer, const void* Data) { std::memcpy(Buffer + BookmarkOffset(), Data, 4); }
TBookmarkFlag TMemDataSet::GetBookmarkFlag(TRecordBuffer Buffer) {
  return static_cast<TBookmarkFlag>(Buffer[BookmarkOffset() + 4]);
}
void TMemDataSet::SetBookmarkFlag(TRecordBuffer Buffer, TBookmarkFlag Value) { Buffer[BookmarkOffset() + 4] = char(Value); }

int TMemDataSet::IndexOfId(int Id) const {
  for (int I = 0; I < RowCount(); ++I)
    if (FRows[I].Id == Id) return I;
  return -1;
}

void TMemDataSet::InternalGotoBookmark(const void* Bookmark) {
  int32_t Id;
  std::memcpy(&Id, Bookmark, 4);
  Note("InternalGotoBookmark");
  int I = IndexOfId(Id);
  // A row that is gone leaves the cursor on no row, so that reading it fails.
  FCursor = I >= 0 ? I : RowCount();
}

void TMemDataSet::InternalSetToRecord(TRecordBuffer Buffer) { InternalGotoBookmark(Buffer + BookmarkOffset()); }

bool TMemDataSet::BookmarkValid(const void* Bookmark) {
  if (!FOpen || !Bookmark) return false;
  int32_t Id;
  std::memcpy(&Id, Bookmark, 4);
  return IndexOfId(Id) >= 0;
}

int TMemDataSet::CompareBookmarks(const void* B1, const void* B2) {
  if (!B1 || !B2) return B1 ? -1 : B2 ? 1 : 0;
  int32_t I1, I2;
  std::memcpy(&I1, B1, 4);
  std::memcpy(&I2, B2, 4);
  int P1 = IndexOfId(I1), P2 = IndexOfId(I2);
  return P1 < P2 ? -1 : P1 > P2 ? 1 : 0;
}

void TMemDataSet::InternalAddRecord(TRecordBuffer Buffer, bool Append) {
  Note("InternalAddRecord");
  TRow Row;
  Row.Id = FNextId++;
  StoreBuffer(Buffer, Row);
  int At = Append ? RowCount() : std::clamp(FCursor, 0, RowCount());
  FRows.insert(FRows.begin() + At, std::move(Row));
  FCursor = At;
}

void TMemDataSet::InternalPost() {
  Note("InternalPost");
  if (FailPostTimes > 0) {
    --FailPostTimes;
    DatabaseError("Post failed", this);
  }
  if (State() == dsEdit) {
    StoreBuffer(ActiveBuffer(), FRows.at(FCursor));
  } else {
    // UpdateCursorPos put the cursor on the record the new one goes before (or at
    // the end for an appended record).
    InternalAddRecord(ActiveBuffer(), GetBookmarkFlag(ActiveBuffer()) == bfEOF);
  }
  for (int I = 0; I < FieldCount(); ++I)
    if (auto* B = dynamic_cast<TBlobField*>(Fields(I))) B->Modified = false;
}

void TMemDataSet::InternalDelete() {
  Note("InternalDelete");
  if (FailDeleteTimes > 0) {
    --FailDeleteTimes;
    DatabaseError("Delete failed", this);
  }
  FRows.erase(FRows.begin() + FCursor);
}

void TMemDataSet::InternalEdit() {
  Note("InternalEdit");
  if (FailEditTimes > 0) {
    --FailEditTimes;
    DatabaseError("Record changed by another user", this);
  }
}

int TMemDataSet::GetRecNo() {
  CheckActive();
  TRecordBuffer B = State() == dsCalcFields ? CalcBuffer() : ActiveBuffer();
  if (!B || IsEmpty() || GetBookmarkFlag(B) != bfCurrent) return -1;
  int32_t Id;
  std::memcpy(&Id, B + BookmarkOffset(), 4);
  int I = IndexOfId(Id);
  return I < 0 ? -1 : I + 1;
}

void TMemDataSet::SetRecNo(int Value) {
  CheckBrowseMode();
  if (!IsSequenced() || Value < 1 || Value > RowCount() || Value == RecNo()) return;
  DoBeforeScroll();
  FCursor = Value - 1;
  CursorPosChanged();
  Resync(TResyncModes{rmCenter});
  DoAfterScroll();
}

int TMemDataSet::GetRecordCount() {
  CheckActive();
  if (IsSequenced()) return RowCount();
  int N = 0;
  for (int I = 0; I < RowCount(); ++I)
    if (Accepts(I)) ++N;
  return N;
}

bool TMemDataSet::FindRecord(bool Restart, bool GoForward) {
  CheckBrowseMode();
  DoBeforeScroll();
  SetFound(false);
  UpdateCursorPos();
  CursorPosChanged();
  if (Restart) {
    if (GoForward)
      InternalFirst();
    else
      InternalLast();
  }
  bool Ok = GetRecord(TempBuffer(), GoForward ? gmNext : gmPrior, true) == grOK;
  if (Ok) {
    Resync(TResyncModes{rmExact, rmCenter});
    SetFound(true);
    DoAfterScroll();
  }
  return Ok;
}

bool TMemDataSet::MatchRow(int Row, const std::vector<TField*>& Fields, const Variant& Values, TLocateOptions Options) {
  TRecordBuffer B = AllocRecordBuffer();
  CopyRowToBuffer(Row, B);
  TDataSetState Saved = SetTempState(dsFilter);
  FFilterBuffer = B;
  bool Match = true;
  try {
    for (size_t I = 0; I < Fields.size() && Match; ++I) {
      Variant Key = Fields.size() == 1 && !Values.IsArray() ? Values : Values.GetElement(int(I));
      Variant V = Fields[I]->GetValue();
      if (Key.IsNull() || V.IsNull()) {
        Match = Key.IsNull() && V.IsNull();
      } else if (Fields[I]->DataType() == ftString) {
        AnsiString K = Key.AsString(), S = V.AsString();
        if (Options.Contains(loPartialKey)) S = S.substr(0, K.size());
        Match = Options.Contains(loCaseInsensitive) ? AnsiSameText(K, S) : K == S;
      } else {
        Match = VarCompareValue(Key, V) == vrEqual;
      }
    }
  } catch (...) {
    RestoreState(Saved);
    FreeRecordBuffer(B);
    throw;
  }
  RestoreState(Saved);
  FreeRecordBuffer(B);
  return Match && Accepts(Row);
}

bool TMemDataSet::Locate(const AnsiString& KeyFields, const Variant& KeyValues, TLocateOptions Options) {
  CheckBrowseMode();
  std::vector<TField*> List;
  GetFieldList(List, KeyFields);
  for (int I = 0; I < RowCount(); ++I) {
    if (!MatchRow(I, List, KeyValues, Options)) continue;
    DoBeforeScroll();
    FCursor = I;
    Resync(TResyncModes{rmExact, rmCenter});
    DoAfterScroll();
    return true;
  }
  return false;
}

Variant TMemDataSet::Lookup(const AnsiString& KeyFields, const Variant& KeyValues, const AnsiString& ResultFields) {
  std::vector<TField*> List;
  GetFieldList(List, KeyFields);
  for (int I = 0; I < RowCount(); ++I) {
    if (!MatchRow(I, List, KeyValues, {})) continue;
    TRecordBuffer B = AllocRecordBuffer();
    CopyRowToBuffer(I, B);
    TDataSetState Saved = SetTempState(dsFilter);
    FFilterBuffer = B;
    Variant Result;
    try {
      Result = GetFieldValues(ResultFields);
    } catch (...) {
      RestoreState(Saved);
      FreeRecordBuffer(B);
      throw;
    }
    RestoreState(Saved);
    FreeRecordBuffer(B);
    return Result;
  }
  return Variant::Null();
}

TRecordBuffer TMemDataSet::RecordBufferOf() {
  switch (State()) {
    case dsCalcFields: return CalcBuffer();
    case dsFilter: return FFilterBuffer;
    case dsBrowse:
    case dsBlockRead: return IsEmpty() ? nullptr : ActiveBuffer();
    case dsEdit:
    case dsInsert:
    case dsSetKey:
    case dsNewValue:
    case dsOldValue:
    case dsCurValue: return ActiveBuffer();
    default: return nullptr;
  }
}

bool TMemDataSet::GetFieldData(TField* Field, void* Buffer) {
  TRecordBuffer R = RecordBufferOf();
  if (!R) return false;
  if (Field->FieldKind() == fkCalculated || Field->FieldKind() == fkLookup) {
    const char* P = R + FRecordSize + Field->Offset();
    if (!P[0]) return false;
    if (Buffer) std::memcpy(Buffer, P + 1, Field->DataSize());
    return true;
  }
  const char* P = R + FOffsets[Field->FieldNo() - 1];
  if (P[0]) return false;
  if (Buffer && Field->DataSize() > 0) std::memcpy(Buffer, P + 1, Field->DataSize());
  return true;
}

void TMemDataSet::SetFieldData(TField* Field, const void* Buffer) {
  TDataSetState S = State();
  if (!(S == dsEdit || S == dsInsert || S == dsSetKey || S == dsCalcFields || S == dsFilter ||
        S == dsNewValue || S == dsInternalCalc))
    DatabaseError(DBMsg::NotEditing(), this);
  TRecordBuffer R = RecordBufferOf();
  if (!R) DatabaseError(DBMsg::NotEditing(), this);
  if (Field->FieldKind() == fkCalculated || Field->FieldKind() == fkLookup) {
    char* P = R + FRecordSize + Field->Offset();
    P[0] = Buffer ? 1 : 0;
    if (Buffer) std::memcpy(P + 1, Buffer, Field->DataSize());
  } else {
    if (S == dsCalcFields) DatabaseError(DBMsg::NotEditing(), this);
    if (Field->ReadOnly && S != dsSetKey && S != dsFilter) DatabaseError(DBMsg::FieldReadOnly(Field->DisplayName()), this);
    Field->Validate(Buffer);
    char* P = R + FOffsets[Field->FieldNo() - 1];
    P[0] = Buffer ? 0 : 1;
    if (Buffer) std::memcpy(P + 1, Buffer, Field->DataSize());
  }
  if (S != dsCalcFields && S != dsFilter && S != dsNewValue)
    DataEvent(deFieldChange, reinterpret_cast<intptr_t>(Field));
}

TStream* TMemDataSet::CreateBlobStream(TField* Field, TBlobStreamMode Mode) {
  TRecordBuffer R = RecordBufferOf();
  if (!R) return nullptr;
  if (Mode != bmRead) {
    if (State() != dsEdit && State() != dsInsert) DatabaseError(DBMsg::NotEditing(), this);
    if (Field->ReadOnly) DatabaseError(DBMsg::FieldReadOnly(Field->DisplayName()), this);
  }
  return new TMemBlobStream(this, Field, R, Mode);
}

void TMemDataSet::MasterChanged() {
  if (Active()) First();
}
