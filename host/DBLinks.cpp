// DB: data sources and data links, the path by which a data set's events reach
// controls and detail data sets.
#include <algorithm>

#include "host/DB.h"

TDataSource::TDataSource(TComponent* AOwner) : TComponent(AOwner) {}

const TMetaClass& TDataSource::StaticClass() {
  static const TMetaClass Meta = [] {
    TMetaClass M("TDataSource", &TComponent::StaticClass(), TMetaClass::Factory<TDataSource>());
    M.ComponentProperty("DataSet", &TDataSource::GetDataSet, &TDataSource::SetDataSet);
    return M;
  }();
  return Meta;
}

TDataSource::~TDataSource() {
  for (TDataLink* L : std::vector<TDataLink*>(FDataLinks)) L->SetDataSource(nullptr);
  SetDataSet(nullptr);
}

void TDataSource::SetDataSet(TDataSet* Value) {
  if (Value == FDataSet) return;
  if (Value && IsLinkedTo(Value)) DatabaseError(DBMsg::CircularDataLink(), this);
  if (FDataSet) {
    FDataSet->RemoveDataSource(this);
    RemoveFreeNotification(FDataSet);
  }
  FDataSet = Value;
  if (FDataSet) {
    FreeNotification(FDataSet);
    FDataSet->AddDataSource(this);
  }
  UpdateState();
}

void TDataSource::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent == FDataSet) {
    FDataSet = nullptr;
    UpdateState();
  }
}

void TDataSource::SetEnabled(bool Value) {
  FEnabled = Value;
  UpdateState();
}

void TDataSource::UpdateState() {
  SetState(FEnabled && FDataSet ? FDataSet->State() : dsInactive);
}

void TDataSource::SetState(TDataSetState Value) {
  if (FState == Value) return;
  FState = Value;
  NotifyDataLinks(deUpdateState, 0);
  if (OnStateChange) OnStateChange(this);
}

void TDataSource::Edit() {
  if (AutoEdit && FState == dsBrowse && FDataSet) FDataSet->Edit();
}

bool TDataSource::IsLinkedTo(TDataSet* DataSet) const {
  // Walks the masters of DataSet: meeting this source again closes a circle.
  while (DataSet) {
    TDataSource* Source = DataSet->GetDataSource();
    if (!Source) return false;
    if (Source == this) return true;
    DataSet = Source->FDataSet;
  }
  return false;
}

void TDataSource::DataEvent(TDataEvent Event, intptr_t Info) {
  if (Event == deUpdateState) {
    UpdateState();
    return;
  }
  if (FState == dsInactive) return;
  NotifyDataLinks(Event, Info);
  switch (Event) {
    case deFieldChange:
    case deRecordChange:
      if (OnDataChange) OnDataChange(this, reinterpret_cast<TField*>(Info));
      break;
    case deDataSetChange:
    case deDataSetScroll:
    case deLayoutChange:
      if (OnDataChange) OnDataChange(this, nullptr);
      break;
    case deUpdateRecord:
      if (OnUpdateData) OnUpdateData(this);
      break;
    default: break;
  }
}

void TDataSource::NotifyDataLinks(TDataEvent Event, intptr_t Info) {
  // A link may detach itself while it is told (a detail closing), so walk a copy.
  for (TDataLink* L : std::vector<TDataLink*>(FDataLinks))
    if (std::find(FDataLinks.begin(), FDataLinks.end(), L) != FDataLinks.end()) L->DataEvent(Event, Info);
}

void TDataSource::AddDataLink(TDataLink* Link) {
  FDataLinks.push_back(Link);
  if (FDataSet) FDataSet->UpdateBufferCount();
}

void TDataSource::RemoveDataLink(TDataLink* Link) {
  FDataLinks.erase(std::remove(FDataLinks.begin(), FDataLinks.end(), Link), FDataLinks.end());
  if (FDataSet && !FDataSet->ComponentState().Contains(csDestroying)) FDataSet->UpdateBufferCount();
}

// ---------------------------------------------------------------------------

TDataLink::~TDataLink() {
  if (FDataSource) FDataSource->RemoveDataLink(this);
  FDataSource = nullptr;
}

void TDataLink::SetDataSource(TDataSource* Value) {
  if (Value == FDataSource) return;
  if (FDataSource) FDataSource->RemoveDataLink(this);
  FDataSource = Value;
  if (FDataSource) FDataSource->AddDataLink(this);
  UpdateState();
}

TDataSet* TDataLink::DataSet() const { return FDataSource ? FDataSource->GetDataSet() : nullptr; }

void TDataLink::SetBufferCount(int Value) {
  if (Value < 1) Value = 1;
  if (FBufferCount == Value) return;
  FBufferCount = Value;
  if (TDataSet* D = DataSet()) {
    D->UpdateBufferCount();
    if (FActive) DataEvent(deLayoutChange, 0);
  }
}

int TDataLink::ActiveRecord() const {
  TDataSet* D = DataSet();
  if (!D || FDataSource->State() == dsSetKey) return 0;
  return D->ActiveRecordIndex() - FFirstRecord;
}

int TDataLink::RecordCount() const {
  TDataSet* D = DataSet();
  if (!D || !FActive) return 0;
  int N = D->RecordCountInBuffers() - FFirstRecord;
  return std::clamp(N, 0, FBufferCount);
}

bool TDataLink::Edit() {
  if (!ReadOnly && FDataSource) FDataSource->Edit();
  return FEditing;
}

void TDataLink::UpdateRecord() {
  FUpdating = true;
  try {
    UpdateData();
  } catch (...) {
    FUpdating = false;
    throw;
  }
  FUpdating = false;
}

void TDataLink::UpdateState() {
  SetActive(FDataSource && FDataSource->State() != dsInactive);
  SetEditing(FDataSource && (FDataSource->State() == dsEdit || FDataSource->State() == dsInsert ||
                             FDataSource->State() == dsSetKey) && !ReadOnly);
}

void TDataLink::SetActive(bool Value) {
  if (FActive == Value) return;
  FActive = Value;
  if (Value) FFirstRecord = 0;
  ActiveChanged();
}

void TDataLink::SetEditing(bool Value) {
  if (FEditing == Value) return;
  FEditing = Value;
  EditingChanged();
}

void TDataLink::DataEvent(TDataEvent Event, intptr_t Info) {
  if (Event == deUpdateState) {
    UpdateState();
    return;
  }
  if (!FActive) return;
  switch (Event) {
    case deFieldChange:
    case deRecordChange:
      if (!FUpdating) RecordChanged(reinterpret_cast<TField*>(Info));
      break;
    case deDataSetChange:
    case deDataSetScroll:
    case deLayoutChange: {
      // Keep the active record inside the window of records this link shows.
      int Count = 0;
      if (FDataSource->State() != dsSetKey) {
        int Active = DataSet()->ActiveRecordIndex();
        int First = FFirstRecord + static_cast<int>(Info);
        int Last = First + FBufferCount - 1;
        if (Active > Last)
          Count = Active - Last;
        else if (Active < First)
          Count = Active - First;
        FFirstRecord = std::max(0, First + Count);
      }
      if (Event == deDataSetChange)
        DataSetChanged();
      else if (Event == deDataSetScroll)
        DataSetScrolled(Count);
      else
        LayoutChanged();
      break;
    }
    case deUpdateRecord: UpdateRecord(); break;
    case deCheckBrowseMode: CheckBrowseMode(); break;
    case deFocusControl: FocusControl(reinterpret_cast<TField**>(Info)); break;
    default: break;
  }
}
