// DB: the data set's buffer ring, navigation, editing, events and field binding.
// The order of the primitive calls here is the contract data-set authors rely on.
#include <algorithm>
#include <cstring>

#include "host/DB.h"
#include "host/Forms.h"

TDataSet::TDataSet(TComponent* AOwner) : TComponent(AOwner) {}

const TMetaClass& TDataSet::StaticClass() {
  static const TMetaClass Meta = [] {
    TMetaClass M("TDataSet", &TComponent::StaticClass());
    M.Property("Active", &TDataSet::Active, &TDataSet::SetActive, false);
    return M;
  }();
  return Meta;
}

TDataSet::~TDataSet() {
  // Closing calls the author's primitives; a derived data set whose destructor
  // already ran cannot take them any more, so derived classes close in their own
  // destructor. What is left here only detaches.
  for (TDataSource* S : std::vector<TDataSource*>(FDataSources)) {
    S->FDataSet = nullptr;
    S->UpdateState();
  }
  FDataSources.clear();
  FFields.clear();
}

void TDataSet::Loaded() {
  TComponent::Loaded();
  try {
    if (FStreamedActive) SetActive(true);
  } catch (...) {
    if (ComponentState().Contains(csDesigning))
      InternalHandleException();
    else
      throw;
  }
}

// ---------------------------------------------------------------------------
// Opening and closing.

void TDataSet::SetActive(bool Value) {
  if (ComponentState().Contains(csReading)) {
    if (Value) FStreamedActive = true;
    return;
  }
  if (Active() == Value) return;
  if (Value) {
    DoBeforeOpen();
    try {
      OpenCursor(false);
    } catch (...) {
      if (FState != dsOpening) OpenCursorComplete();
      throw;
    }
    if (FState != dsOpening) OpenCursorComplete();
  } else {
    bool Destroying = ComponentState().Contains(csDestroying);
    if (!Destroying) DoBeforeClose();
    SetState(dsInactive);
    CloseCursor();
    if (!Destroying) DoAfterClose();
  }
}

void TDataSet::OpenCursor(bool InfoQuery) {
  if (InfoQuery)
    InternalInitFieldDefs();
  else if (FState != dsOpening)
    DoInternalOpen();
}

void TDataSet::DoInternalOpen() {
  FDefaultFields = FFields.empty();
  InternalOpen();
  FInternalOpenComplete = true;
  UpdateBufferCount();
  FBOF = true;
}

void TDataSet::OpenCursorComplete() {
  if (FInternalOpenComplete) {
    SetState(dsBrowse);
    DoAfterOpen();
    if (!IsEmpty()) DoAfterScroll();
  } else {
    SetState(dsInactive);
    CloseCursor();
  }
}

void TDataSet::CloseCursor() {
  FInternalOpenComplete = false;
  ClearBuffers();
  SetBufListSize(0);
  FBufferCount = 0;
  InternalClose();
  FDefaultFields = false;
}

void TDataSet::CheckActive() const {
  if (!Active()) DatabaseError(DBMsg::DataSetClosed(), const_cast<TDataSet*>(this));
}

void TDataSet::CheckInactive() const {
  if (Active()) DatabaseError(DBMsg::DataSetOpen(), const_cast<TDataSet*>(this));
}

void TDataSet::InitFieldDefs() {
  if (IsCursorOpen()) {
    InternalInitFieldDefs();
  } else {
    // An information query opens the cursor only to describe it: it is closed again on every
    // path, so a data set whose cursor holds a server resource does not keep it.
    try {
      OpenCursor(true);
    } catch (...) {
      CloseCursor();
      throw;
    }
    CloseCursor();
  }
  FFieldDefs.Updated = true;
}

void TDataSet::InternalHandleException() {
  if (Application)
    Application->HandleException(this);
  else
    throw;
}

// ---------------------------------------------------------------------------
// Fields.

TField* TDataSet::Fields(int Index) const {
  if (Index < 0 || Index >= FieldCount()) throw EListError(Format("List index out of bounds (%d)", Index));
  return FFields[Index].get();
}

TField* TDataSet::FindField(const AnsiString& FieldName) const {
  for (auto& F : FFields)
    if (AnsiSameText(F->FieldName(), FieldName)) return F.get();
  return nullptr;
}

TField& TDataSet::FieldByName(const AnsiString& FieldName) const {
  TField* F = FindField(FieldName);
  if (!F) DatabaseError(DBMsg::FieldNotFound(FieldName), const_cast<TDataSet*>(this));
  return *F;
}

void TDataSet::GetFieldList(std::vector<TField*>& List, const AnsiString& FieldNames) const {
  size_t Pos = 0;
  while (Pos <= FieldNames.size()) {
    size_t End = FieldNames.find(';', Pos);
    if (End == AnsiString::npos) End = FieldNames.size();
    AnsiString Name = Trim(FieldNames.substr(Pos, End - Pos));
    if (!Name.empty()) List.push_back(&FieldByName(Name));
    Pos = End + 1;
  }
}

Variant TDataSet::GetFieldValues(const AnsiString& FieldNames) const {
  std::vector<TField*> List;
  GetFieldList(List, FieldNames);
  if (List.size() == 1) return List[0]->GetValue();
  Variant Result = VarArrayCreate({0, static_cast<int>(List.size()) - 1}, varVariant);
  for (size_t I = 0; I < List.size(); ++I) Result.PutElement(static_cast<int>(I), List[I]->GetValue());
  return Result;
}

TField* TDataSet::AddField(const AnsiString& FieldName, TFieldType DataType, int Size, TFieldKind Kind) {
  CheckInactive();
  if (FindField(FieldName)) DatabaseError(Format("Duplicate field name '%s'", FieldName), this);
  std::unique_ptr<TField> F;
  if (IsBlobType(DataType) && Kind == fkData)
    F = std::make_unique<TBlobField>(this, FieldName, DataType, Size);
  else
    F = std::make_unique<TField>(this, FieldName, DataType, Size, Kind);
  FFields.push_back(std::move(F));
  return FFields.back().get();
}

void TDataSet::CreateFields() {
  for (int I = 0; I < FFieldDefs.Count(); ++I) {
    TFieldDef& D = FFieldDefs.Items(I);
    if (D.DataType == ftUnknown) continue;  // nothing the framework can show
    TField* F = AddField(D.Name, D.DataType, D.Size, fkData);
    F->Required = D.Required;
    F->ReadOnly = D.ReadOnly;
  }
}

void TDataSet::BindFields(bool Binding) {
  FCalcFieldsSize = 0;
  FBlobFieldCount = 0;
  for (auto& F : FFields) {
    if (!Binding) {
      F->SetFieldNo(0);
      F->SetOffset(0);
      continue;
    }
    if (F->FieldKind() == fkCalculated || F->FieldKind() == fkLookup) {
      F->SetFieldNo(-1);
      F->SetOffset(FCalcFieldsSize);
      FCalcFieldsSize += F->DataSize() + 1;  // presence byte, then the data
      continue;
    }
    TFieldDef* D = FFieldDefs.Find(F->FieldName());
    if (!D) DatabaseError(DBMsg::FieldNotFound(F->FieldName()), this);
    if (D->DataType != F->DataType())
      DatabaseError(DBMsg::FieldTypeMismatch(F->FieldName(), F->DataType(), D->DataType), this);
    F->SetFieldNo(D->FieldNo);
    if (F->IsBlob()) {
      F->SetOffset(FBlobFieldCount++);
    } else {
      F->SetOffset(0);
    }
    if (F->DataType() == ftString || F->DataType() == ftBytes || F->DataType() == ftVarBytes ||
        F->DataType() == ftWideString)
      F->SetSize(D->Size);
  }
}

void TDataSet::DestroyFields() {
  FFields.erase(std::remove_if(FFields.begin(), FFields.end(),
                               [](const std::unique_ptr<TField>& F) { return F->FieldKind() == fkData; }),
                FFields.end());
}

// ---------------------------------------------------------------------------
// Buffer ring.

void TDataSet::SetBufListSize(int Value) {
  int Old = static_cast<int>(FBuffers.size());
  if (Value < Old) {
    for (int I = Value; I < Old; ++I) FreeRecordBuffer(FBuffers[I]);
    FBuffers.resize(Value);
  } else {
    FBuffers.reserve(Value);
    while (static_cast<int>(FBuffers.size()) < Value) FBuffers.push_back(AllocRecordBuffer());
  }
}

void TDataSet::SetBufferCount(int Value) {
  if (Value < 1) Value = 1;
  if (Value == FBufferCount) return;
  // Shrinking drops the records beyond the new count; the active record stays.
  if (Value < FRecordCount) {
    int Drop = FRecordCount - Value;
    int FromStart = std::min(Drop, FActiveRecord);
    for (int I = 0; I < FromStart; ++I) MoveBuffer(0, FRecordCount);
    FActiveRecord -= FromStart;
    FRecordCount = Value;
    CursorPosChanged();
  }
  SetBufListSize(Value + 1);
  FBufferCount = Value;
  if (FState != dsInactive || FInternalOpenComplete) GetNextRecords();
}

void TDataSet::UpdateBufferCount() {
  if (!IsCursorOpen()) return;
  int Count = 1;
  for (TDataSource* S : FDataSources)
    for (TDataLink* L : S->FDataLinks) Count = std::max(Count, L->BufferCount());
  SetBufferCount(Count);
}

void TDataSet::MoveBuffer(int CurIndex, int NewIndex) {
  if (CurIndex == NewIndex) return;
  TRecordBuffer B = FBuffers[CurIndex];
  if (CurIndex < NewIndex)
    std::move(FBuffers.begin() + CurIndex + 1, FBuffers.begin() + NewIndex + 1, FBuffers.begin() + CurIndex);
  else
    std::move_backward(FBuffers.begin() + NewIndex, FBuffers.begin() + CurIndex, FBuffers.begin() + CurIndex + 1);
  FBuffers[NewIndex] = B;
}

void TDataSet::ClearBuffers() {
  FRecordCount = 0;
  FActiveRecord = 0;
  FCurrentRecord = -1;
  FBOF = true;
  FEOF = true;
}

void TDataSet::ActivateBuffers() {
  FRecordCount = 1;
  FActiveRecord = 0;
  FCurrentRecord = 0;
  FBOF = false;
  FEOF = false;
}

TRecordBuffer TDataSet::ActiveBuffer() const {
  return FBuffers.empty() ? nullptr : FBuffers[FActiveRecord];
}

void TDataSet::SetCurrentRecord(int Index) {
  if (FCurrentRecord == Index) return;
  TRecordBuffer B = FBuffers[Index];
  switch (GetBookmarkFlag(B)) {
    case bfCurrent:
    case bfInserted: InternalSetToRecord(B); break;
    case bfBOF: InternalFirst(); break;
    case bfEOF: InternalLast(); break;
  }
  FCurrentRecord = Index;
}

void TDataSet::UpdateCursorPos() {
  if (FRecordCount > 0) SetCurrentRecord(FActiveRecord);
}

bool TDataSet::GetNextRecord() {
  TGetMode Mode = gmNext;
  if (FRecordCount > 0) {
    SetCurrentRecord(FRecordCount - 1);
    // A record being inserted at the end has no row yet: the cursor already stands
    // on the record that follows it.
    if (FState == dsInsert && FCurrentRecord == FActiveRecord && GetBookmarkFlag(ActiveBuffer()) == bfCurrent)
      Mode = gmCurrent;
  }
  bool Ok = GetRecord(FBuffers[FRecordCount], Mode, true) == grOK;
  if (Ok) {
    if (FRecordCount == 0)
      ActivateBuffers();
    else if (FRecordCount < FBufferCount)
      ++FRecordCount;
    else
      MoveBuffer(0, FRecordCount);
    FCurrentRecord = FRecordCount - 1;
  } else {
    CursorPosChanged();
  }
  return Ok;
}

bool TDataSet::GetPriorRecord() {
  if (FRecordCount > 0) SetCurrentRecord(0);
  bool Ok = GetRecord(FBuffers[FRecordCount], gmPrior, true) == grOK;
  if (Ok) {
    if (FRecordCount == 0) {
      ActivateBuffers();
    } else {
      MoveBuffer(FRecordCount, 0);
      if (FRecordCount < FBufferCount) {
        ++FRecordCount;
        ++FActiveRecord;
      }
    }
    FCurrentRecord = 0;
  } else {
    CursorPosChanged();
  }
  return Ok;
}

int TDataSet::GetNextRecords() {
  int N = 0;
  while (FRecordCount < FBufferCount && GetNextRecord()) ++N;
  return N;
}

int TDataSet::GetPriorRecords() {
  int N = 0;
  while (FRecordCount < FBufferCount && GetPriorRecord()) ++N;
  return N;
}

void TDataSet::Resync(TResyncModes Mode) {
  if (Mode.Contains(rmExact)) {
    CursorPosChanged();
    if (GetRecord(FBuffers[FRecordCount], gmCurrent, true) != grOK) DatabaseError(DBMsg::RecordNotFound(), this);
  } else if (GetRecord(FBuffers[FRecordCount], gmCurrent, false) != grOK &&
             GetRecord(FBuffers[FRecordCount], gmNext, false) != grOK &&
             GetRecord(FBuffers[FRecordCount], gmPrior, false) != grOK) {
    ClearBuffers();
    DataEvent(deDataSetChange, 0);
    return;
  }
  int Count = Mode.Contains(rmCenter) ? (FBufferCount - 1) / 2 : FActiveRecord;
  MoveBuffer(FRecordCount, 0);
  ActivateBuffers();
  try {
    while (Count > 0 && GetPriorRecord()) --Count;
    GetNextRecords();
    GetPriorRecords();
  } catch (...) {
    DataEvent(deDataSetChange, 0);
    throw;
  }
  DataEvent(deDataSetChange, 0);
}

// ---------------------------------------------------------------------------
// Navigation.

void TDataSet::First() {
  CheckBrowseMode();
  DoBeforeScroll();
  ClearBuffers();
  try {
    InternalFirst();
    GetNextRecord();
    GetNextRecords();
  } catch (...) {
    FBOF = true;
    DataEvent(deDataSetChange, 0);
    throw;
  }
  FBOF = true;
  DataEvent(deDataSetChange, 0);
  DoAfterScroll();
}

void TDataSet::Last() {
  CheckBrowseMode();
  DoBeforeScroll();
  ClearBuffers();
  try {
    InternalLast();
    GetPriorRecord();
    GetPriorRecords();
  } catch (...) {
    FEOF = true;
    DataEvent(deDataSetChange, 0);
    throw;
  }
  FEOF = true;
  DataEvent(deDataSetChange, 0);
  DoAfterScroll();
}

int TDataSet::MoveBy(int Distance) {
  CheckBrowseMode();
  int Result = 0;
  DoBeforeScroll();
  if ((Distance > 0 && !FEOF) || (Distance < 0 && !FBOF)) {
    FBOF = false;
    FEOF = false;
    int OldRecordCount = FRecordCount;
    int ScrollCount = 0;
    auto Finish = [&] {
      if (FRecordCount != OldRecordCount)
        DataEvent(deDataSetChange, 0);
      else
        DataEvent(deDataSetScroll, ScrollCount);
    };
    try {
      while (Distance > 0) {
        if (FActiveRecord < FRecordCount - 1) {
          ++FActiveRecord;
        } else {
          int Shift = FRecordCount < FBufferCount ? 0 : 1;
          if (!GetNextRecord()) {
            FEOF = true;
            break;
          }
          ScrollCount -= Shift;
          if (FActiveRecord < FRecordCount - 1) ++FActiveRecord;
        }
        --Distance;
        ++Result;
      }
      while (Distance < 0) {
        if (FActiveRecord > 0) {
          --FActiveRecord;
        } else {
          int Shift = FRecordCount < FBufferCount ? 0 : 1;
          if (!GetPriorRecord()) {
            FBOF = true;
            break;
          }
          ScrollCount += Shift;
          if (FActiveRecord > 0) --FActiveRecord;
        }
        ++Distance;
        --Result;
      }
    } catch (...) {
      Finish();
      throw;
    }
    Finish();
    DoAfterScroll();
  }
  return Result;
}

// ---------------------------------------------------------------------------
// Bookmarks.

bool TDataSet::BookmarkAvailable() {
  return Active() && !IsEmpty() && GetBookmarkFlag(ActiveBuffer()) == bfCurrent;
}

TBookmark TDataSet::GetBookmark() {
  TBookmark B;
  if (BookmarkAvailable() && FBookmarkSize > 0) {
    B.resize(FBookmarkSize);
    GetBookmarkData(ActiveBuffer(), B.data());
  }
  return B;
}

void TDataSet::GotoBookmark(const TBookmark& Bookmark) {
  if (Bookmark.empty()) return;
  CheckBrowseMode();
  DoBeforeScroll();
  InternalGotoBookmark(Bookmark.data());
  Resync(TResyncModes{rmExact, rmCenter});
  DoAfterScroll();
}

// ---------------------------------------------------------------------------
// Editing.

void TDataSet::CheckCanModify() {
  if (!GetCanModify()) DatabaseError(DBMsg::DataSetReadOnly(), this);
}

void TDataSet::CheckOperation(const std::function<void()>& Operation, const TDataSetErrorEvent& ErrorEvent) {
  for (;;) {
    try {
      UpdateCursorPos();
      Operation();
      return;
    } catch (EDatabaseError& E) {
      TDataAction Action = daFail;
      if (ErrorEvent) ErrorEvent(this, E, Action);
      if (Action == daFail) throw;
      if (Action == daAbort) throw EAbortOperation();
      // daRetry: run the operation again
    }
  }
}

void TDataSet::Edit() {
  if (FState == dsEdit || FState == dsInsert) return;
  if (FRecordCount == 0) {
    Insert();
    return;
  }
  CheckBrowseMode();
  CheckCanModify();
  DoBeforeEdit();
  CheckOperation([this] { InternalEdit(); }, OnEditError);
  GetCalcFields(ActiveBuffer());
  SetState(dsEdit);
  DataEvent(deRecordChange, 0);
  DoAfterEdit();
}

void TDataSet::BeginInsertAppend() {
  CheckBrowseMode();
  CheckCanModify();
  DoBeforeInsert();
}

void TDataSet::EndInsertAppend() {
  SetState(dsInsert);
  try {
    DoOnNewRecord();
  } catch (...) {
    UpdateCursorPos();
    SetState(dsBrowse);
    Resync({});
    throw;
  }
  FModified = false;
  DataEvent(deDataSetChange, 0);
  DoAfterInsert();
}

void TDataSet::Insert() {
  BeginInsertAppend();
  TBookmark OldCurrent = GetBookmark();
  MoveBuffer(FRecordCount, FActiveRecord);
  TRecordBuffer B = ActiveBuffer();
  InitRecord(B);
  if (FRecordCount == 0)
    SetBookmarkFlag(B, bfBOF);
  else if (!OldCurrent.empty())
    SetBookmarkData(B, OldCurrent.data());
  if (FRecordCount < FBufferCount) ++FRecordCount;
  InternalInsert();
  EndInsertAppend();
}

void TDataSet::Append() {
  BeginInsertAppend();
  ClearBuffers();
  TRecordBuffer B = FBuffers[0];
  InitRecord(B);
  SetBookmarkFlag(B, bfEOF);
  FRecordCount = 1;
  FBOF = false;
  GetPriorRecords();
  InternalInsert();
  EndInsertAppend();
}

void TDataSet::InternalInsertRecord(const TVariantArray& Values, bool Append) {
  BeginInsertAppend();
  if (!Append) UpdateCursorPos();
  DisableControls();
  try {
    MoveBuffer(FRecordCount, FActiveRecord);
    try {
      TRecordBuffer B = ActiveBuffer();
      InitRecord(B);
      FState = dsInsert;
      try {
        for (size_t I = 0; I < Values.size() && I < FFields.size(); ++I)
          if (!Values[I].IsEmpty()) FFields[I]->SetValue(Values[I]);
        DoBeforePost();
        InternalAddRecord(B, Append);
      } catch (...) {
        FState = dsBrowse;
        FModified = false;
        throw;
      }
      FState = dsBrowse;
      FModified = false;
    } catch (...) {
      MoveBuffer(FActiveRecord, FRecordCount);
      throw;
    }
    Resync({});
    DoAfterPost();
  } catch (...) {
    EnableControls();
    throw;
  }
  EnableControls();
}

void TDataSet::UpdateRecord() {
  if (FState != dsEdit && FState != dsInsert && FState != dsSetKey) DatabaseError(DBMsg::NotEditing(), this);
  DataEvent(deUpdateRecord, 0);
}

void TDataSet::Post() {
  UpdateRecord();
  if (FState != dsEdit && FState != dsInsert) return;
  DataEvent(deCheckBrowseMode, 0);
  DoBeforePost();
  CheckOperation([this] { InternalPost(); }, OnPostError);
  SetState(dsBrowse);
  Resync({});
  DoAfterPost();
}

void TDataSet::Cancel() {
  if (FState != dsEdit && FState != dsInsert) return;
  DataEvent(deCheckBrowseMode, 0);
  DoBeforeCancel();
  bool ScrollEvents = FState == dsInsert;
  if (ScrollEvents) DoBeforeScroll();
  UpdateCursorPos();
  InternalCancel();
  SetState(dsBrowse);
  Resync({});
  DoAfterCancel();
  if (ScrollEvents) DoAfterScroll();
}

void TDataSet::Delete() {
  CheckActive();
  if (FState == dsInsert || FState == dsSetKey) {
    Cancel();
    return;
  }
  if (FRecordCount == 0) DatabaseError(DBMsg::DataSetEmpty(), this);
  DataEvent(deCheckBrowseMode, 0);
  DoBeforeDelete();
  DoBeforeScroll();
  CheckOperation([this] { InternalDelete(); }, OnDeleteError);
  SetState(dsBrowse);
  Resync({});
  DoAfterDelete();
  DoAfterScroll();
}

void TDataSet::Refresh() {
  DoBeforeRefresh();
  CheckBrowseMode();
  UpdateCursorPos();
  try {
    InternalRefresh();
  } catch (...) {
    Resync({});
    DoAfterRefresh();
    throw;
  }
  Resync({});
  DoAfterRefresh();
}

void TDataSet::CheckBrowseMode() {
  CheckActive();
  DataEvent(deCheckBrowseMode, 0);
  switch (FState) {
    case dsEdit:
    case dsInsert:
      UpdateRecord();
      if (FModified)
        Post();
      else
        Cancel();
      break;
    case dsSetKey: Post(); break;
    default: break;
  }
}

void TDataSet::InitRecord(TRecordBuffer Buffer) {
  InternalInitRecord(Buffer);
  ClearCalcFields(Buffer);
  SetBookmarkFlag(Buffer, bfInserted);
}

// ---------------------------------------------------------------------------
// Calculated and lookup fields.

void TDataSet::GetCalcFields(TRecordBuffer Buffer) {
  if (FCalcFieldsSize <= 0 && !OnCalcFields) return;
  TDataSetState Save = FState;
  FState = dsCalcFields;
  try {
    CalculateFields(Buffer);
  } catch (...) {
    FState = Save;
    throw;
  }
  FState = Save;
}

void TDataSet::CalculateFields(TRecordBuffer Buffer) {
  FCalcBuffer = Buffer;
  if (FState != dsInternalCalc) {
    ClearCalcFields(Buffer);
    for (auto& F : FFields)
      if (F->FieldKind() == fkLookup) CalcLookupValue(F.get());
  }
  DoOnCalcFields();
}

void TDataSet::CalcLookupValue(TField* Field) {
  TDataSet* Source = Field->LookupDataSet;
  if (!Source || !Source->Active() || Field->LookupKeyFields.empty() || Field->KeyFields.empty()) return;
  Variant Keys = GetFieldValues(Field->KeyFields);
  if (Keys.IsNull()) return;
  Variant Value = Source->Lookup(Field->LookupKeyFields, Keys, Field->LookupResultField);
  if (!Value.IsNull()) Field->SetValue(Value);
}

// ---------------------------------------------------------------------------
// States, filters and events.

void TDataSet::SetState(TDataSetState Value) {
  if (FState == Value) return;
  // An edit ends (posted, cancelled or closed): what its blob streams wrote is no longer pending.
  if (Value == dsBrowse || Value == dsInactive)
    for (auto& F : FFields)
      if (auto* B = dynamic_cast<TBlobField*>(F.get())) B->Modified = false;
  FState = Value;
  FModified = false;
  DataEvent(deUpdateState, 0);
}

TDataSetState TDataSet::SetTempState(TDataSetState Value) {
  TDataSetState Old = FState;
  FState = Value;
  ++FDisableCount;
  FModified = false;
  return Old;
}

void TDataSet::RestoreState(TDataSetState Value) {
  FState = Value;
  if (FDisableCount > 0) --FDisableCount;
  FModified = false;
}

void TDataSet::SetFiltered(bool Value) {
  if (Active()) {
    CheckBrowseMode();
    if (FFiltered != Value) {
      FFiltered = Value;
      First();
    }
  } else {
    FFiltered = Value;
  }
}

void TDataSet::SetOnFilterRecord(const TFilterRecordEvent& Value) {
  if (Active()) {
    CheckBrowseMode();
    FOnFilterRecord = Value;
    if (FFiltered) First();
  } else {
    FOnFilterRecord = Value;
  }
}

int TDataSet::Translate(const char* Src, char* Dest, bool ToOem) {
  if (!Src) return 0;
  size_t N = std::strlen(Src);
  if (Dest && Dest != Src) std::memmove(Dest, Src, N + 1);
  return static_cast<int>(N);
}

void TDataSet::DisableControls() {
  if (FDisableCount == 0) {
    FDisableState = FState;
    FEnableEvent = deDataSetChange;
  }
  ++FDisableCount;
}

void TDataSet::EnableControls() {
  if (FDisableCount == 0) return;
  if (--FDisableCount == 0) {
    if (FDisableState != FState) DataEvent(deUpdateState, 0);
    if (FDisableState != dsInactive && FState != dsInactive) DataEvent(FEnableEvent, 0);
  }
}

void TDataSet::DataEvent(TDataEvent Event, intptr_t Info) {
  switch (Event) {
    case deFieldChange: {
      auto* F = reinterpret_cast<TField*>(Info);
      if (F && (F->FieldKind() == fkData || F->FieldKind() == fkInternalCalc)) FModified = true;
      if (FState != dsSetKey && AutoCalcFields && (FCalcFieldsSize > 0 || OnCalcFields) && ActiveBuffer())
        GetCalcFields(ActiveBuffer());
      if (F && F->OnChange) F->OnChange(F);
      break;
    }
    case dePropertyChange: FFieldDefs.Updated = false; break;
    default: break;
  }
  if (FDisableCount == 0) {
    for (TDataSource* S : std::vector<TDataSource*>(FDataSources)) S->DataEvent(Event, Info);
  } else if ((Event == deUpdateState && FState == dsInactive) || Event == deLayoutChange) {
    FEnableEvent = deLayoutChange;
  }
}

bool TDataSet::IsLinkedTo(TDataSource* DataSource) const {
  while (DataSource) {
    TDataSet* D = DataSource->GetDataSet();
    if (!D) break;
    if (D == this) return true;
    DataSource = D->GetDataSource();
  }
  return false;
}

void TDataSet::AddDataSource(TDataSource* Source) {
  FDataSources.push_back(Source);
  UpdateBufferCount();
}

void TDataSet::RemoveDataSource(TDataSource* Source) {
  FDataSources.erase(std::remove(FDataSources.begin(), FDataSources.end(), Source), FDataSources.end());
  if (!ComponentState().Contains(csDestroying)) UpdateBufferCount();
}

std::unique_ptr<EUpdateError> TDataSet::PSGetUpdateException(const Exception& E, const EUpdateError* Prev,
                                                             std::exception_ptr Original) {
  if (!dynamic_cast<const EDatabaseError*>(&E)) return nullptr;
  return std::make_unique<EUpdateError>(E.Message(), AnsiString(), 0, Prev ? Prev->ErrorCode : 0,
                                        std::move(Original));
}
