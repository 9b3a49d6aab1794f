// Zylbasds: the master/detail link. A detail data set takes the values of its parameters from the
// master's fields of the same names and is re-queried, not closed and opened, when the master
// moves.
#include "dataset/Zylbasds.h"

// ---- master/detail -------------------------------------------------------------------------------

void TZyloDataLink::ActiveChanged() {
  if (FDataSet->Active()) FDataSet->RefreshParams();
}

void TZyloDataLink::RecordChanged(TField* Field) {
  // No field: the master stands on another record.
  if (!Field && FDataSet->Active()) FDataSet->RefreshParams();
}

void TZyloDataLink::CheckBrowseMode() {
  if (FDataSet->Active()) FDataSet->CheckBrowseMode();
}

TDataSource* TZyloDataset::GetDataSource() const { return FDataLink->GetDataSource(); }

void TZyloDataset::SetDataSource(TDataSource* Value) {
  if (Value && IsLinkedTo(Value)) DatabaseError(DBMsg::CircularDataLink(), this);
  FDataLink->SetDataSource(Value);
}

void TZyloDataset::SetParamsFromCursor() {
  TDataSource* Source = FDataLink->GetDataSource();
  if (!Source || !Source->GetDataSet()) return;
  TDataSet* Master = Source->GetDataSet();
  Master->FieldDefs().Update();
  for (int32_t I = 0; I < FParams->Count(); ++I) {
    TZyloParam* P = FParams->GetParam(I);
    if (P->GetValueAssigned()) continue;  // the application's own value stays
    P->AssignField(&Master->FieldByName(P->GetName()));
    // Still bound to the master: the next refresh takes the field again.
    P->SetValueAssigned(false);
  }
}

void TZyloDataset::RefreshParams() {
  DisableControls();
  try {
    TDataSource* Source = FDataLink->GetDataSource();
    TDataSet* Master = Source ? Source->GetDataSet() : nullptr;
    if (Master && Master->Active() && Master->State() != dsSetKey) {
      SetParamsFromCursor();
      TZyloSQL* Q = Statement();
      Q->AfterClose = nullptr;  // a re-query, not a close of the data set
      try {
        Q->Close();
      } catch (...) {
        Q->AfterClose = [this](TObject* Sender) { FDoAfterClose(Sender); };
        throw;
      }
      Q->AfterClose = [this](TObject* Sender) { FDoAfterClose(Sender); };
      Variant Values;
      GetParamValues(Values);
      if (Q->OpenPrepared(TVariantArray{Values}, !GetCanModify())) {
        Q->MoveToFirst();
        FAtEnd = false;
        Resync(TResyncModes{});
        DoAfterOpen();
        DoAfterScroll();
      } else {
        // The error is raised by opening again, through the usual path.
        Close();
        Open();
      }
    }
  } catch (...) {
    EnableControls();
    throw;
  }
  EnableControls();
}
