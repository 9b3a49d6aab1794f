// Zylbasds: the master/detail link and the provider operations. A detail data set takes the
// values of its parameters from the master's fields of the same names and is re-queried, not
// closed and opened, when the master moves; the provider reads, parameterises and updates a data
// set through the framework's PS operations.
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

// ---- provider ------------------------------------------------------------------------------------

bool TZyloDataset::PSInTransaction() {
  TZyloSession* S = FStatement ? FStatement->GetSessionObject() : nullptr;
  return S && S->GetInTransaction();
}

void TZyloDataset::PSStartTransaction() {
  SetDBFlag(suProvider, true);
  try {
    if (TZyloSession* S = GetSession()) S->StartTransaction();
  } catch (...) {
    SetDBFlag(suProvider, false);
    throw;
  }
}

void TZyloDataset::PSEndTransaction(bool Commit) {
  try {
    if (TZyloSession* S = GetSession()) {
      if (Commit)
        S->Commit();
      else
        S->Rollback();
    }
  } catch (...) {
    SetDBFlag(suProvider, false);
    throw;
  }
  SetDBFlag(suProvider, false);
}

TParams* TZyloDataset::PSGetParams() {
  FProviderParams->Clear();
  for (int32_t I = 0; I < FParams->Count(); ++I) {
    const TZyloParam* P = FParams->GetParam(I);
    TParamType Direction = ptUnknown;
    switch (P->GetParamType()) {
      case zptInput: Direction = ptInput; break;
      case zptInputOutput: Direction = ptInputOutput; break;
      case zptOutput: Direction = ptOutput; break;
      case zptResult: Direction = ptResult; break;
      default: break;
    }
    FProviderParams->CreateParam(ftUnknown, P->GetName(), Direction)->SetValue(P->GetAsVariant());
  }
  return FProviderParams.get();
}

void TZyloDataset::PSSetParams(TParams* AParams) {
  if (AParams && AParams->Count() > 0) FParams->Assign(AParams);
  Close();
}

void TZyloDataset::PSReset() {
  TDataSet::PSReset();
  if (IsCursorOpen() && !GetStillInProc()) RefreshCursor(nullptr, nullptr, bfCurrent);
}

bool TZyloDataset::PSUpdateRecord(TUpdateKind UpdateKind, TDataSet* Delta) {
  if (!OnUpdateRecord) return false;
  TUpdateAction Action = uaFail;
  OnUpdateRecord(Delta, UpdateKind, Action);
  return Action == uaApplied;
}

std::unique_ptr<EUpdateError> TZyloDataset::PSGetUpdateException(const Exception& E, const EUpdateError* Prev,
                                                                 std::exception_ptr Original) {
  if (const auto* Z = dynamic_cast<const EZyloDatasetError*>(&E))
    return std::make_unique<EUpdateError>(Z->Message(), AnsiString(), Z->GetErrorCode(), Prev ? Prev->ErrorCode : 0,
                                          std::move(Original));
  return TDataSet::PSGetUpdateException(E, Prev, std::move(Original));
}

void TZyloCustomDataset::PSExecute() { ExecSQL(); }

AnsiString TZyloCustomDataset::PSGetTableName() { return ZylGetTableNameFromSQL(GetSQL()->GetText()); }

void TZyloCustomDataset::PSSetCommandText(const AnsiString& CommandText) {
  if (!CommandText.empty()) GetSQL()->SetText(CommandText);
}

std::unique_ptr<TIndexDef> TZyloCustomDataset::PSGetDefaultOrder() {
  std::unique_ptr<TIndexDef> Inherited = TZyloDataset::PSGetDefaultOrder();
  if (Inherited || GetIndexDefs()->GetCount() == 0) return Inherited;
  auto Def = std::make_unique<TIndexDef>();
  for (int32_t I = 0; I < GetIndexDefs()->GetCount(); ++I) {
    const TZyloIndexDef* Item = GetIndexDefs()->GetItem(I);
    AnsiString& List = Item->Descending ? Def->DescFields : Def->Fields;
    if (!List.empty()) List += ";";
    List += Item->FieldName;
  }
  return Def;
}
