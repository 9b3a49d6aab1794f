// Zylbasds: the data set's record-buffer protocol — field definitions from the statement's
// columns, record buffers with their regions, fetching through the statement's cursor moves,
// bookmarks, record count and number, field data, and the filter callback.
#include <algorithm>
#include <cstring>

#include "dataset/Zylbasds.h"

namespace {

// Framework field type and size of a statement column.
void FrameworkType(TZyloFieldTypes Type, int32_t StatementSize, TFieldType& DataType, int& Size) {
  Size = 0;
  switch (Type) {
    case ztString: DataType = ftString; Size = StatementSize - 1; break;
    case ztInteger: DataType = ftInteger; break;
    case ztInt64: DataType = ftLargeint; break;
    case ztFloat: DataType = ftFloat; break;
    case ztCurrency: DataType = ftCurrency; break;
    case ztDate: DataType = ftDate; break;
    case ztTime: DataType = ftTime; break;
    case ztDateTime: DataType = ftDateTime; break;
    case ztBoolean: DataType = ftBoolean; break;
    case ztBinary: DataType = ftBytes; Size = StatementSize - 2; break;
    case ztMemo: DataType = ftMemo; break;
    case ztBlob: DataType = ftBlob; break;
    default: DataType = ftUnknown; break;
  }
}

}  // namespace

// ---- construction and the statement ------------------------------------------------------------

const TMetaClass& TZyloDataset::StaticClass() {
  static const TMetaClass Meta = [] {
    TMetaClass M("TZyloDataset", &TDataSet::StaticClass());
    M.Property("AutoCalcFields", &TZyloDataset::GetAutoCalcFields, &TZyloDataset::SetAutoCalcFields, true);
    M.Property("Filtered", &TDataSet::Filtered, &TDataSet::SetFiltered, false);
    return M;
  }();
  return Meta;
}

TZyloDataset::TZyloDataset(TComponent* AOwner)
    : TDataSet(AOwner),
      FSQL(std::make_unique<TStringList>()),
      FParams(std::make_unique<TZyloParams>(this)),
      FIndexDefs(std::make_unique<TZyloIndexDefs>(this)),
      FDataLink(std::make_unique<TZyloDataLink>(this)),
      FProviderParams(std::make_unique<TParams>()) {
  FSQL->OnChange = [this](TObject* Sender) { QueryChanged(Sender); };
}

TZyloDataset::~TZyloDataset() {
  // The framework's destructor cannot close (the primitives are ours): close and unprepare here,
  // which also gives the session back.
  FDataLink->SetDataSource(nullptr);
  try {
    Disconnect();
  } catch (...) {
  }
  FSQL->OnChange = nullptr;
  ClearStatementEvents();
  FStatement.reset();
}

TZyloSQL* TZyloDataset::Statement() {
  if (!FStatement) FStatement.reset(CreateZyloSQL());
  return FStatement.get();
}

void TZyloDataset::ClearStatementEvents() {
  if (!FStatement) return;
  FStatement->AfterClose = nullptr;
  FStatement->AfterUnprepare = nullptr;
}

void TZyloDataset::Check(bool Ok) {
  if (!Ok) ZyloCheckError(Statement()->GetLastError(), Statement()->GetLastErrorCode());
}

bool TZyloDataset::IsCursorOpen() { return FStatement && FStatement->GetActive(); }

// ---- field definitions and opening ---------------------------------------------------------------

void TZyloDataset::InternalInitFieldDefs() {
  FieldDefs().Clear();
  TZyloSQL* Q = Statement();
  for (int32_t I = 0; I < Q->GetFieldCount(); ++I) {
    const AnsiString Column = Q->GetFieldName(I);
    AnsiString Name = Column;
    for (int J = 1; FieldDefs().IndexOf(Name) >= 0; ++J) Name = Column + "_" + std::to_string(J);
    TFieldDef* Def = nullptr;
    const TZyloFieldDef* Col = Q->GetFieldDefs()->Items(I);
    TFieldType Type;
    int Size;
    FrameworkType(static_cast<TZyloFieldTypes>(Col->FieldType & 0x7F), Col->Size, Type, Size);
    Def = &FieldDefs().Add(Name, Type, Size, false, I + 1);
    Def->Precision = 0;
  }
}

void TZyloDataset::InternalOpen() {
  FieldDefs().Updated = false;
  FieldDefs().Update();
  if (DefaultFields()) CreateFields();
  BindFields(true);
  SetBookmarkSize(8);
  TZyloSQL* Q = Statement();
  FRecordSize = Q->GetRecordSize();
  FIndicatorSize = Q->GetIndicatorSize();
  FBlobSlots = BlobFieldCount();
  FBlobCacheOfs = FRecordSize + CalcFieldsSize();
  FBookmarkOfs = FBlobCacheOfs + FBlobSlots * static_cast<int32_t>(sizeof(AnsiString*));
  FNullOfs = FBookmarkOfs + 8;
  FRecBufSize = FNullOfs + FIndicatorSize;
  FOldRecBuf.assign(static_cast<size_t>(FRecBufSize), 0);
  Check(Q->MoveToFirst());
  FAtEnd = false;
  UpdateKeyFields();
  UpdateIndexFields();
}

void TZyloDataset::InternalClose() {
  FOldRecBuf.clear();
  FKeyFields.clear();
  FIndexDefs->Clear();
  FKeyBuffer = nullptr;
  BindFields(false);
  if (DefaultFields()) DestroyFields();
}

// ---- record buffers ------------------------------------------------------------------------------

AnsiString* TZyloDataset::BlobSlot(TRecordBuffer Buffer, int Index) const {
  // The slots follow the calculated fields and are not aligned: copied, never dereferenced in place.
  AnsiString* S;
  std::memcpy(&S, Buffer + FBlobCacheOfs + Index * sizeof(AnsiString*), sizeof S);
  return S;
}

TRecordBuffer TZyloDataset::AllocRecordBuffer() {
  TRecordBuffer B = new char[static_cast<size_t>(FRecBufSize)]();
  for (int I = 0; I < FBlobSlots; ++I) {
    AnsiString* S = new AnsiString;
    std::memcpy(B + FBlobCacheOfs + I * sizeof(AnsiString*), &S, sizeof S);
  }
  WriteBookmark(B, -1, bfCurrent);
  return B;
}

void TZyloDataset::FreeRecordBuffer(TRecordBuffer& Buffer) {
  if (!Buffer) return;
  for (int I = 0; I < FBlobSlots; ++I) delete BlobSlot(Buffer, I);
  delete[] Buffer;
  Buffer = nullptr;
}

void TZyloDataset::InternalInitRecord(TRecordBuffer Buffer) {
  std::memset(Buffer, 0, static_cast<size_t>(FRecordSize));
  std::memset(Buffer + FNullOfs, 0xFF, static_cast<size_t>(FIndicatorSize));  // every column NULL
}

void TZyloDataset::InitRecord(TRecordBuffer Buffer) {
  TDataSet::InitRecord(Buffer);
  ClearBlobCache(Buffer);
  WriteBookmark(Buffer, -1, bfInserted);
}

void TZyloDataset::ClearCalcFields(TRecordBuffer Buffer) {
  std::memset(Buffer + FRecordSize, 0, static_cast<size_t>(CalcFieldsSize()));
}

void TZyloDataset::ClearBlobCache(TRecordBuffer Buffer) {
  if (!Buffer) return;
  for (int I = 0; I < FBlobSlots; ++I) BlobSlot(Buffer, I)->clear();
}

AnsiString TZyloDataset::GetBlobData(TField* Field, TRecordBuffer Buffer) const {
  if (!Buffer || Field->Offset() < 0 || Field->Offset() >= FBlobSlots) return {};
  return *BlobSlot(Buffer, Field->Offset());
}

void TZyloDataset::SetBlobData(TField* Field, TRecordBuffer Buffer, const AnsiString& Value) {
  if (Buffer != ActiveBuffer() || Field->Offset() < 0 || Field->Offset() >= FBlobSlots) return;
  *BlobSlot(Buffer, Field->Offset()) = Value;
}

int TZyloDataset::GetRecordSize() { return FStatement ? FStatement->GetRecordSize() : 0; }

// ---- fetching ------------------------------------------------------------------------------------

// The statement's current row (read where the fetch put it, not copied out of the block first)
// and its null indicators into Buffer; without WithRow only the indicators.
void TZyloDataset::CopyCurrentRow(TRecordBuffer Buffer, bool WithRow) {
  TZyloSQL* Q = Statement();
  if (WithRow && FRecordSize > 0)
    if (const uint8_t* Row = Q->PeekRecordBuffer()) std::memcpy(Buffer, Row, static_cast<size_t>(FRecordSize));
  if (FIndicatorSize > 0)
    if (const uint8_t* Nulls = Q->PeekIndicators())
      std::memcpy(Buffer + FNullOfs, Nulls, static_cast<size_t>(FIndicatorSize));
}

void TZyloDataset::WriteBookmark(TRecordBuffer Buffer, int32_t Row, TBookmarkFlag Flag) {
  std::memcpy(Buffer + FBookmarkOfs, &Row, 4);
  Buffer[FBookmarkOfs + 4] = static_cast<char>(Flag);
}

int32_t TZyloDataset::RowOfBuffer(TRecordBuffer Buffer) const {
  int32_t Row = -1;
  if (Buffer) std::memcpy(&Row, Buffer + FBookmarkOfs, 4);
  return Row;
}

TGetResult TZyloDataset::GetRecord(TRecordBuffer Buffer, TGetMode GetMode, bool DoCheck) {
  TZyloSQL* Q = Statement();
  for (;;) {
    const bool Moved = GetMode == gmCurrent ? Q->Curr() : GetMode == gmNext ? Q->Next() : Q->Prev();
    if (!Moved) {
      TGetResult Result = grError;
      if (GetMode == gmCurrent)
        Result = Q->GetBOF() ? grBOF : Q->GetEOF() ? grEOF : grError;
      else if (GetMode == gmNext)
        Result = Q->GetEOF() ? grEOF : grError;
      else
        Result = Q->GetBOF() ? grBOF : grError;
      if (Result == grError) {
        if (DoCheck) Check(false);
        return grError;
      }
      CopyCurrentRow(Buffer, false);
      WriteBookmark(Buffer, -1, Result == grBOF ? bfBOF : bfEOF);
      return Result;
    }
    CopyCurrentRow(Buffer, true);
    // Before the calculated fields: a handler may ask for RecNo, which reads this bookmark.
    WriteBookmark(Buffer, Q->GetCurrentRow(), bfCurrent);
    ClearBlobCache(Buffer);
    GetCalcFields(Buffer);
    if (!Filtered() || !OnFilterRecord() || RecordFilter(Buffer)) return grOK;
    if (GetMode == gmCurrent) {
      // A rejected current row: the framework goes on from there with gmNext or gmPrior.
      CopyCurrentRow(Buffer, false);
      WriteBookmark(Buffer, -1, bfEOF);
      return grEOF;
    }
  }
}

bool TZyloDataset::GetCurrentRecord(TRecordBuffer Buffer) {
  if (IsEmpty() || GetBookmarkFlag(ActiveBuffer()) != bfCurrent) return false;
  UpdateCursorPos();
  if (Buffer && FRecordSize > 0)
    if (const uint8_t* Row = Statement()->PeekRecordBuffer())
      std::memcpy(Buffer, Row, static_cast<size_t>(FRecordSize));
  return Buffer != nullptr;
}

bool TZyloDataset::RecordFilter(TRecordBuffer Buffer) {
  bool Accept = true;
  const TDataSetState Saved = SetTempState(dsFilter);
  TRecordBuffer SavedFilter = FFilterBuffer;
  FFilterBuffer = Buffer;
  try {
    try {
      OnFilterRecord()(this, Accept);
    } catch (...) {
      InternalHandleException();  // shown; the row keeps the handler's answer
    }
  } catch (...) {
    FFilterBuffer = SavedFilter;
    RestoreState(Saved);
    throw;
  }
  FFilterBuffer = SavedFilter;
  RestoreState(Saved);
  return Accept;
}

void TZyloDataset::SetFiltered(bool Value) {
  if (!Active()) {
    TDataSet::SetFiltered(Value);
    return;
  }
  CheckBrowseMode();
  FFiltered = Value;
  First();
}

// ---- navigation and bookmarks --------------------------------------------------------------------

void TZyloDataset::InternalFirst() {
  Check(Statement()->MoveToFirst());
  FAtEnd = false;
}

void TZyloDataset::InternalLast() {
  Check(Statement()->MoveToLast());
  FAtEnd = true;
}

void TZyloDataset::GetBookmarkData(TRecordBuffer Buffer, void* Data) {
  std::memcpy(Data, Buffer + FBookmarkOfs, static_cast<size_t>(BookmarkSize()));
}

void TZyloDataset::SetBookmarkData(TRecordBuffer Buffer, const void* Data) {
  std::memcpy(Buffer + FBookmarkOfs, Data, static_cast<size_t>(BookmarkSize()));
}

TBookmarkFlag TZyloDataset::GetBookmarkFlag(TRecordBuffer Buffer) {
  return static_cast<TBookmarkFlag>(Buffer[FBookmarkOfs + 4]);
}

void TZyloDataset::SetBookmarkFlag(TRecordBuffer Buffer, TBookmarkFlag Value) {
  Buffer[FBookmarkOfs + 4] = static_cast<char>(Value);
}

void TZyloDataset::InternalGotoBookmark(const void* Bookmark) {
  int32_t Row;
  std::memcpy(&Row, Bookmark, 4);
  TZyloSQL* Q = Statement();
  if (Q->MoveTo(Row)) Q->Curr();
}

void TZyloDataset::InternalSetToRecord(TRecordBuffer Buffer) { InternalGotoBookmark(Buffer + FBookmarkOfs); }

int TZyloDataset::CompareBookmarks(const void* B1, const void* B2) {
  if (!B1 && !B2) return 0;
  if (B1 && !B2) return -1;
  if (!B1) return 1;
  if (!IsCursorOpen()) return 2;
  int32_t R1, R2;
  std::memcpy(&R1, B1, 4);
  std::memcpy(&R2, B2, 4);
  return R1 < R2 ? -1 : R1 > R2 ? 1 : 0;
}

bool TZyloDataset::BookmarkValid(const void* Bookmark) {
  if (!IsCursorOpen()) return false;
  CursorPosChanged();
  if (!Bookmark) return false;
  int32_t Row;
  std::memcpy(&Row, Bookmark, 4);
  return Row >= 0 && Row < GetRecordCount();
}

// ---- record count and number ---------------------------------------------------------------------

bool TZyloDataset::IsSequenced() { return !(Filtered() && OnFilterRecord()); }

int TZyloDataset::GetRecordCount() {
  CheckActive();
  if (IsSequenced()) return Statement()->GetRowCountEstimate();
  return TDataSet::GetRecordCount();
}

int TZyloDataset::GetRecNo() {
  CheckActive();
  const int32_t Row = RowOfBuffer(State() == dsCalcFields ? CalcBuffer() : ActiveBuffer());
  return Row == -1 ? -1 : Row + 1;
}

void TZyloDataset::SetRecNo(int Value) {
  CheckBrowseMode();
  if (!IsSequenced() || Value == GetRecNo()) return;
  DoBeforeScroll();
  CursorPosChanged();
  if (Statement()->MoveTo(Value - 1)) {
    Resync(TResyncModes{rmCenter});
    DoAfterScroll();
  }
}

// ---- field data ----------------------------------------------------------------------------------

bool TZyloDataset::GetActiveRecBuf(TRecordBuffer& Buffer) {
  switch (State()) {
    case dsBrowse:
    case dsBlockRead: Buffer = IsEmpty() ? nullptr : ActiveBuffer(); break;
    case dsEdit:
    case dsInsert:
    case dsNewValue: Buffer = ActiveBuffer(); break;
    case dsCalcFields: Buffer = CalcBuffer(); break;
    case dsFilter: Buffer = FFilterBuffer; break;
    case dsOldValue: Buffer = GetOldRecord(); break;
    default: Buffer = nullptr; break;
  }
  return Buffer != nullptr;
}

TRecordBuffer TZyloDataset::GetOldRecord() {
  UpdateCursorPos();
  if (!IsCursorOpen() || FOldRecBuf.empty()) return nullptr;
  if (FRecordSize > 0) std::memcpy(FOldRecBuf.data(), Statement()->GetOldRecordBuffer(), static_cast<size_t>(FRecordSize));
  return FOldRecBuf.data();
}

const TZyloFieldDef* TZyloDataset::DefOf(const TField* Field) {
  if (Field->FieldNo() <= 0 || !FStatement) return nullptr;
  return FStatement->GetFieldDefs()->Items(Field->FieldNo() - 1);
}

bool TZyloDataset::GetFieldData(TField* Field, void* Buffer) {
  TRecordBuffer Record;
  if (!GetActiveRecBuf(Record)) return false;
  if (Field->FieldNo() > 0) {
    const TZyloFieldDef* Def = DefOf(Field);
    if (!Def) return false;
    // Old values carry no indicators of their own: every data field has one.
    const bool Present = State() == dsOldValue || !FStatement->GetNullIndicator(NullsOf(Record), Def->FieldNo);
    if (Present && Buffer) RecBufToField(Def, reinterpret_cast<const uint8_t*>(Record) + Def->Offset, Buffer);
    return Present;
  }
  const TDataSetState S = State();
  if (S != dsBrowse && S != dsEdit && S != dsInsert && S != dsCalcFields) return false;
  const char* Calc = Record + FRecordSize + Field->Offset();
  const bool Present = Calc[0] != 0;
  if (Present && Buffer) std::memcpy(Buffer, Calc + 1, static_cast<size_t>(Field->DataSize()));
  return Present;
}

void TZyloDataset::SetFieldData(TField* Field, const void* Buffer) {
  const TDataSetState S = State();
  if (!((S >= dsEdit && S <= dsNewValue) || S == dsInternalCalc)) DatabaseError(DBMsg::NotEditing(), this);
  TRecordBuffer Record;
  if (!GetActiveRecBuf(Record)) return;
  if (Field->FieldNo() <= 0) {
    char* Calc = Record + FRecordSize + Field->Offset();
    Calc[0] = Buffer ? 1 : 0;
    if (Buffer) std::memcpy(Calc + 1, Buffer, static_cast<size_t>(Field->DataSize()));
  } else {
    if (S == dsCalcFields) DatabaseError(DBMsg::NotEditing(), this);
    if (Field->ReadOnly && S != dsSetKey && S != dsFilter) DatabaseError(DBMsg::FieldReadOnly(Field->DisplayName()), this);
    Field->Validate(Buffer);
    if (const TZyloFieldDef* Def = DefOf(Field)) {
      if (Buffer) FieldToRecBuf(Def, reinterpret_cast<uint8_t*>(Record) + Def->Offset, Buffer);
      FStatement->PutNullIndicator(NullsOf(Record), Def->FieldNo, Buffer == nullptr);
    }
  }
  if (S != dsCalcFields && S != dsFilter && S != dsNewValue) DataEvent(deFieldChange, reinterpret_cast<intptr_t>(Field));
}

TStream* TZyloDataset::CreateBlobStream(TField* Field, TBlobStreamMode Mode) {
  auto* Blob = dynamic_cast<TBlobField*>(Field);
  if (!Blob) DatabaseError(Format(ZylLoadStr(ZYL_ERR_BLOB_REQUIRED), Field ? Field->FieldName() : AnsiString()), this);
  return new TZyloDatasetBlobStream(Blob, Mode);
}

int TZyloDataset::Translate(const char* Src, char* Dest, bool ToOem) {
  const int N = TDataSet::Translate(Src, Dest, ToOem);
  if (N > 0)
    if (TZyloSession* S = GetSession()) S->TranslateChar(Src, Dest, ToOem, N);
  return N;
}

bool TZyloDataset::GetCanModify() { return TDataSet::GetCanModify() && !FReadOnly && !FResumed; }

