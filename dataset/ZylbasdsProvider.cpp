// Zylbasds: the provider operations, through which a data-set provider of the host framework reads,
// parameterises and updates a data set.
//
// This unit is the one part of the package that depends on the version of the host framework it is
// built for (ZYL_HOST_VERSION, 5 unless the build says otherwise). The framework's provider
// interface arrived with version 5: built for version 4 or 3, a data set has no provider operations
// of its own and answers every PS operation as the framework's data set does. The class layout is
// the same in every build, so the rest of the package is compiled once and shared by all of them.
#include "dataset/Zylbasds.h"

#ifndef ZYL_HOST_VERSION
#define ZYL_HOST_VERSION 5
#endif

int32_t ZylPackHostVersion() { return ZYL_HOST_VERSION; }

#if ZYL_HOST_VERSION >= 5

AnsiString TZyloDataset::PSGetQuoteChar() { return "\""; }
bool TZyloDataset::PSIsSQLBased() { return true; }
bool TZyloDataset::PSIsSQLSupported() { return true; }

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

void TZyloCustomStoredProc::PSExecute() { ExecProc(); }

void TZyloCustomStoredProc::PSSetCommandText(const AnsiString& CommandText) {
  if (!CommandText.empty()) SetProcName(CommandText);
}

#else  // before version 5: the framework's own answers

AnsiString TZyloDataset::PSGetQuoteChar() { return TDataSet::PSGetQuoteChar(); }
bool TZyloDataset::PSIsSQLBased() { return TDataSet::PSIsSQLBased(); }
bool TZyloDataset::PSIsSQLSupported() { return TDataSet::PSIsSQLSupported(); }
bool TZyloDataset::PSInTransaction() { return TDataSet::PSInTransaction(); }
void TZyloDataset::PSStartTransaction() { TDataSet::PSStartTransaction(); }
void TZyloDataset::PSEndTransaction(bool Commit) { TDataSet::PSEndTransaction(Commit); }
TParams* TZyloDataset::PSGetParams() { return TDataSet::PSGetParams(); }
void TZyloDataset::PSSetParams(TParams* AParams) { TDataSet::PSSetParams(AParams); }
void TZyloDataset::PSReset() { TDataSet::PSReset(); }
bool TZyloDataset::PSUpdateRecord(TUpdateKind UpdateKind, TDataSet* Delta) {
  return TDataSet::PSUpdateRecord(UpdateKind, Delta);
}
std::unique_ptr<EUpdateError> TZyloDataset::PSGetUpdateException(const Exception& E, const EUpdateError* Prev,
                                                                 std::exception_ptr Original) {
  return TDataSet::PSGetUpdateException(E, Prev, std::move(Original));
}
void TZyloCustomDataset::PSExecute() { TZyloDataset::PSExecute(); }
AnsiString TZyloCustomDataset::PSGetTableName() { return TZyloDataset::PSGetTableName(); }
void TZyloCustomDataset::PSSetCommandText(const AnsiString& CommandText) {
  TZyloDataset::PSSetCommandText(CommandText);
}
std::unique_ptr<TIndexDef> TZyloCustomDataset::PSGetDefaultOrder() { return TZyloDataset::PSGetDefaultOrder(); }
void TZyloCustomStoredProc::PSExecute() { TZyloDataset::PSExecute(); }
void TZyloCustomStoredProc::PSSetCommandText(const AnsiString& CommandText) {
  TZyloDataset::PSSetCommandText(CommandText);
}

#endif
