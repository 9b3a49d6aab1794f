// Zylbase: TZyloSQL life cycle — prepare, bind, open, fetch position, close, execute, unprepare,
// the open-cursor buffers and the session link.
#include "base/Zylbase.h"

#include <algorithm>
#include <cstring>

const TMetaClass& TZyloSQL::StaticClass() {
  static const TMetaClass Meta = [] {
    TMetaClass M("TZyloSQL", &TComponent::StaticClass());
    M.ComponentProperty("Session", &TZyloSQL::GetSessionObject, &TZyloSQL::SetSession);
    M.Property("WantExceptions", &TZyloSQL::GetWantExceptions, &TZyloSQL::SetWantExceptions, false);
    return M;
  }();
  return Meta;
}

TZyloSQL::TZyloSQL(TComponent* AOwner) : TComponent(AOwner), FBlobManager(std::make_unique<TZyloBlobManager>(this)) {}

TZyloSQL::~TZyloSQL() {
  if (!FDestroyed) {
    // The binding did not call DestroyStatement; its operations are gone. Unlink only.
    FDestroyed = true;
    if (FSession) FSession->RemoveQuery(this);
  }
  // The streams go first: they look their fields up through this statement.
  FBlobManager.reset();
}

void TZyloSQL::DestroyStatement() {
  if (FDestroyed) return;
  FDestroyed = true;
  try {
    UnprepareOpen();
  } catch (...) {
  }
  try {
    UnprepareExecute();
  } catch (...) {
  }
  if (FSession) FSession->RemoveQuery(this);  // skips the unprepare: we are being destroyed
}

bool TZyloSQL::IsDestroying() const { return FDestroyed || ComponentState().Contains(csDestroying); }

void TZyloSQL::DoNotify(const TNotifyEvent& Event) {
  if (Event) Event(this);
}

void TZyloSQL::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent && AComponent == FSession) FSession = nullptr;
}

// ---- session link ------------------------------------------------------------------------------

TZyloSession* TZyloSQL::GetSession() const {
  if (!FSession) {
    if (ComponentState().Contains(csDesigning)) return nullptr;
    throw EZyloException(ZylLoadStr(ZYL_ERR_SESS_NIL), 0);
  }
  return FSession;
}

void TZyloSQL::SetSession(TZyloSession* Value) {
  if (Value == FSession) return;
  if (FSession) FSession->RemoveQuery(this);
  if (Value) {
    Value->AddQuery(this);
    Value->FreeNotification(this);
  }
}

// The session is required for everything below; in design mode without one GetSession returns
// null, and these fail with the same text rather than crash.
static TZyloSession* Required(const TZyloSQL& SQL) {
  TZyloSession* S = SQL.GetSession();
  if (!S) throw EZyloException(ZylLoadStr(ZYL_ERR_SESS_NIL), 0);
  return S;
}

bool TZyloSQL::Check(void* Context, int32_t Arg1, int32_t Arg2, bool RaiseOnError) {
  return Required(*this)->Check(Context, Arg1, Arg2, RaiseOnError);
}
int32_t TZyloSQL::CheckPushError() { return Required(*this)->CheckPushError(); }
bool TZyloSQL::CheckPopError(bool RaiseOnError) { return Required(*this)->CheckPopError(RaiseOnError); }
AnsiString TZyloSQL::GetLastError() const { return FSession ? FSession->GetLastError() : AnsiString(); }
int32_t TZyloSQL::GetLastErrorCode() const { return FSession ? FSession->GetLastErrorCode() : 0; }

AnsiString TZyloSQL::StatementToOem(const AnsiString& SQL) {
  TZyloSession* S = GetSession();
  if (!S) return SQL;
  S->SetLastStatement(SQL);
  AnsiString Text = SQL;
  if (S->GetOEMConvert() && !Text.empty())
    S->TranslateChar(Text.data(), Text.data(), true, static_cast<int32_t>(Text.size()));
  return Text;
}

void TZyloSQL::InternalNeedLibrary() {
  if (!FNeedLibrary) return;
  Required(*this)->InternalNeedLibrary();
  InternalLoadLibraryProcs();
  FNeedLibrary = false;
}

// ---- base versions of the overridable steps ----------------------------------------------------

bool TZyloSQL::InternalPrepareOpen(const AnsiString& SQL) {
  FOpenSQL = SQL;
  FPrepared = true;
  return true;
}

bool TZyloSQL::InternalOpen(bool ReadOnly) {
  FCurrentRow = -1;
  FBOF = false;
  FEOF = false;
  FReadOnly = ReadOnly;
  FActive = true;
  return true;
}

void TZyloSQL::InternalClose() {
  FBufferRow = 0;
  FBufferRows = 0;
  FCurrentRow = -1;
  FBOF = true;
  FEOF = true;
  FRowCountEstimate = 0;
  FActive = false;
}

void TZyloSQL::InternalUnprepareOpen() {
  InternalFreeOpenBuffer();
  FFieldDefs.Clear();
  FOpenSQL.clear();
  FPrepared = false;
}

bool TZyloSQL::InternalPrepareExecute(const AnsiString& SQL) {
  FExecSQL = SQL;
  FExecPrepared = true;
  return true;
}

void TZyloSQL::InternalUnprepareExecute() {
  FExecSQL.clear();
  FExecPrepared = false;
}

bool TZyloSQL::GetStillInProc() { return false; }
bool TZyloSQL::Resume() { return false; }

AnsiString TZyloSQL::GetTableName() {
  AnsiString Name = ZylGetTableNameFromSQL(FOpenSQL);
  if (FSession && FSession->GetOEMConvert() && !Name.empty())
    FSession->TranslateChar(Name.data(), Name.data(), false, static_cast<int32_t>(Name.size()));
  return Name;
}

// ---- buffers -----------------------------------------------------------------------------------

void TZyloSQL::InternalAllocOpenBuffer() {
  FRowView = FRowIndicatorsView = nullptr;
  FAllocatedRows = FFetchCount > 0 ? FFetchCount : 0;
  int64_t Rows = FAllocatedRows;
  FFetchBuffer.Allocate(Rows * FRecordSize);
  FRecordBuffer.Allocate(FRecordSize);
  FOldRecordBuffer.Allocate(FRecordSize);
  FFetchIndicators.Allocate(Rows * FIndicatorSize);
  FIndicators.Allocate(FIndicatorSize);
  FOldIndicators.Allocate(FIndicatorSize);
}

void TZyloSQL::InternalFreeOpenBuffer() {
  FRowView = FRowIndicatorsView = nullptr;
  FBlobManager->Clear();
  FFetchBuffer.Free();
  FRecordBuffer.Free();
  FOldRecordBuffer.Free();
  FFetchIndicators.Free();
  FIndicators.Free();
  FOldIndicators.Free();
  FAllocatedRows = 0;
  FRecordSize = 0;
  FIndicatorSize = 0;
}

void TZyloSQL::ViewFetchedRow(uint8_t* Row, uint8_t* RowIndicators) {
  FRowView = Row;
  FRowIndicatorsView = FIndicatorSize > 0 ? RowIndicators : nullptr;
}

void TZyloSQL::MaterializeRow() const {
  if (!FRowView) return;
  const uint8_t* Row = FRowView;
  const uint8_t* Indicators = FRowIndicatorsView;
  FRowView = FRowIndicatorsView = nullptr;
  const size_t Rs = static_cast<size_t>(std::max<int64_t>(0, std::min<int64_t>(FRecordSize, FRecordBuffer.Size())));
  if (Rs > 0) {
    std::memcpy(FRecordBuffer.Data(), Row, Rs);
    if (static_cast<size_t>(FOldRecordBuffer.Size()) >= Rs) std::memcpy(FOldRecordBuffer.Data(), Row, Rs);
  }
  const size_t Is = static_cast<size_t>(std::max<int64_t>(0, std::min<int64_t>(FIndicatorSize, FIndicators.Size())));
  if (Indicators && Is > 0) {
    std::memcpy(FIndicators.Data(), Indicators, Is);
    if (static_cast<size_t>(FOldIndicators.Size()) >= Is) std::memcpy(FOldIndicators.Data(), Indicators, Is);
  }
}

void TZyloSQL::SetBlobSize(int32_t Value) {
  if (Value >= 0 && Value <= 32763) FBlobSize = Value;
}

void TZyloSQL::SetMaxFetchCount(int32_t Value) {
  if (Value >= 1 && Value <= 1000) FMaxFetchCount = Value;
}

// ---- prepare -----------------------------------------------------------------------------------

void TZyloSQL::Prepare(const AnsiString& SQL) {
  AnsiString Text = StatementToOem(SQL);
  Unprepare();
  InternalPrepare(Text);
}

void TZyloSQL::PrepareOpen(const AnsiString& SQL) {
  AnsiString Text = StatementToOem(SQL);
  UnprepareOpen();
  InternalPrepareOpen(Text);
}

void TZyloSQL::PrepareExecute(const AnsiString& SQL) {
  AnsiString Text = StatementToOem(SQL);
  UnprepareExecute();
  InternalPrepareExecute(Text);
}

bool TZyloSQL::Describe(const AnsiString& SQL) {
  AnsiString Text = StatementToOem(SQL);
  if (Text != FOpenSQL)
    UnprepareOpen();
  else
    InternalClose();
  if (FPrepared) return true;
  return InternalPrepareOpen(Text) && FFieldDefs.Count() > 0;
}

// ---- open --------------------------------------------------------------------------------------

Variant TZyloSQL::InternalCheckVarValues(const TVariantArray& Params) {
  if (!Params.empty() && Params[0].VarType() == (varArray | varVariant)) return Params[0];
  if (Params.empty() || (Params.size() == 1 && (Params[0].IsNull() || Params[0].IsEmpty()))) return Variant::Null();
  return VarArrayOf(Params);
}

bool TZyloSQL::FinishOpen(bool Ok) {
  if (Ok) DoNotify(AfterOpen);
  return Ok;
}

// Positions an opened cursor on its first row; AfterOpen only when there is one.
bool TZyloSQL::FetchAfterOpen(bool Ok) {
  if (Ok) Ok = InternalIsUniDirectional() ? InternalFetchNext() : InternalFetchFirst();
  return FinishOpen(Ok);
}

// Steps 1-4 of opening a prepared cursor, shared by the three prepared forms.
bool TZyloSQL::OpenPreparedSteps(const TVariantArray& Params, bool ReadOnly) {
  if (!FPrepared) RaiseLastError(ZylLoadStr(ZYL_ERR_CURS_NOT_PREPARED), 0);
  InternalClose();
  InternalSetVariables(InternalCheckVarValues(Params), &FOpenVariables);
  bool Ok = FOpenVariables.Bound || InternalBindOpenVariables(nullptr);
  return Ok && InternalOpen(ReadOnly);
}

bool TZyloSQL::OpenPrepared(const TVariantArray& Params, bool ReadOnly) {
  return FinishOpen(OpenPreparedSteps(Params, ReadOnly));
}

bool TZyloSQL::OpenReadPrepared(const TVariantArray& Params) { return FetchAfterOpen(OpenPreparedSteps(Params, true)); }

bool TZyloSQL::OpenWritePrepared(const TVariantArray& Params) {
  return FetchAfterOpen(OpenPreparedSteps(Params, false));
}

// Opening by text, without the event: reuses the prepared cursor when the text is the same.
bool TZyloSQL::OpenTextSteps(const AnsiString& SQL, const TVariantArray& Params, bool ReadOnly) {
  AnsiString Text = StatementToOem(SQL);
  if (Text != FOpenSQL)
    UnprepareOpen();
  else
    InternalClose();
  // The variables are computed before any preparation, so the binding binds them right away.
  InternalSetVariables(InternalCheckVarValues(Params), &FOpenVariables);
  return (FPrepared || InternalPrepareOpen(Text)) && (FOpenVariables.Bound || InternalBindOpenVariables(nullptr)) &&
         InternalOpen(ReadOnly);
}

bool TZyloSQL::Open(const AnsiString& SQL, const TVariantArray& Params, bool ReadOnly) {
  return FinishOpen(OpenTextSteps(SQL, Params, ReadOnly));
}

bool TZyloSQL::OpenRead(const AnsiString& SQL, const TVariantArray& Params) {
  return FetchAfterOpen(OpenTextSteps(SQL, Params, true));
}

bool TZyloSQL::OpenWrite(const AnsiString& SQL, const TVariantArray& Params) {
  // A cursor prepared for reading is prepared again for update.
  if (FReadOnly && FPrepared) UnprepareOpen();
  return FetchAfterOpen(OpenTextSteps(SQL, Params, false));
}

bool TZyloSQL::MoveToFirst() {
  CheckActive();
  FFetchBuffer.Fill(0, static_cast<int64_t>(FFetchCount) * FRecordSize);
  FFetchIndicators.Fill(255, static_cast<int64_t>(FFetchCount) * FIndicatorSize);
  return InternalMoveToFirst();
}

bool TZyloSQL::MoveToLast() {
  CheckActive();
  FFetchBuffer.Fill(0, static_cast<int64_t>(FFetchCount) * FRecordSize);
  FFetchIndicators.Fill(255, static_cast<int64_t>(FFetchCount) * FIndicatorSize);
  return InternalMoveToLast();
}

bool TZyloSQL::MoveTo(int32_t Row) {
  CheckActive();
  FFetchBuffer.Fill(0, static_cast<int64_t>(FFetchCount) * FRecordSize);
  FFetchIndicators.Fill(255, static_cast<int64_t>(FFetchCount) * FIndicatorSize);
  return InternalMoveTo(Row);
}

void TZyloSQL::Close() { InternalClose(); }

void TZyloSQL::UnprepareOpen() {
  InternalClose();
  if (FPrepared) InternalUnprepareOpen();
  FOpenVariables.Clear();
}

// ---- execute -----------------------------------------------------------------------------------

bool TZyloSQL::ExecutePrepared(const TVariantArray& Params) {
  if (!FExecPrepared) RaiseLastError(ZylLoadStr(ZYL_ERR_STMT_NOT_PREPARED), 0);
  InternalSetVariables(InternalCheckVarValues(Params), &FExecVariables);
  FOutVariables.ClearBuffer();
  TStringList Names;
  return (FExecVariables.Bound || InternalBindExecVariables(&Names)) && InternalExecute(&Names);
}

bool TZyloSQL::Execute(const AnsiString& SQL, const TVariantArray& Params) {
  AnsiString Text = StatementToOem(SQL);
  if (Text != FExecSQL) UnprepareExecute();
  InternalSetVariables(InternalCheckVarValues(Params), &FExecVariables);
  FOutVariables.ClearBuffer();
  TStringList Names;
  return (FExecPrepared || InternalPrepareExecute(Text)) && (FExecVariables.Bound || InternalBindExecVariables(&Names)) &&
         InternalExecute(&Names);
}

void TZyloSQL::UnprepareExecute() {
  if (FExecPrepared) InternalUnprepareExecute();
  FExecVariables.Clear();
  FOutVariables.Clear();
}

void TZyloSQL::Unprepare() {
  UnprepareOpen();
  UnprepareExecute();
}

void TZyloSQL::CheckActive() {
  if (!FActive) RaiseLastError(ZylLoadStr(ZYL_ERR_CURS_NOT_OPENED), 0);
}

void TZyloSQL::CheckWritable() {
  if (FReadOnly) RaiseLastError(ZylLoadStr(ZYL_ERR_CURS_READ_ONLY), 0);
}
