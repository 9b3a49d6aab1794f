// Zylbasds: the data set's life cycle — session use by reason, preparing and unpreparing,
// opening and closing the statement's cursor, the statement's own events echoed back, the query
// text with its parameter scanner, the values handed to the statement, and further result sets.
#include "dataset/Zylbasds.h"

// ---- session use ---------------------------------------------------------------------------------

TZyloSession* TZyloDataset::GetSession() const { return FStatement ? FStatement->GetSessionObject() : nullptr; }

void TZyloDataset::SetSession(TZyloSession* Value) {
  if (Value == GetSession()) return;
  CheckUnPrepared();
  Statement()->SetSession(Value);
  DataEvent(dePropertyChange, 0);
}

bool TZyloDataset::SetDBFlag(TZyloSessionUse Reason, bool Value) {
  const bool Held = FDBFlags.Contains(Reason);
  if (Value && !Held) {
    if (FDBFlags.Empty()) {
      TZyloSession* S = GetSession();
      if (!S) throw EZyloException(ZylLoadStr(ZYL_ERR_SESS_NIL), 0);
      S->OpenSession(this);  // a failure here leaves the reason unset
    }
    FDBFlags.Include(Reason);
  } else if (!Value && Held) {
    FDBFlags.Exclude(Reason);
    if (FDBFlags.Empty()) {
      // The session is given back even when unpreparing fails.
      try {
        SetPrepared(false);
      } catch (...) {
        if (TZyloSession* S = GetSession()) S->CloseSession(this);
        throw;
      }
      if (TZyloSession* S = GetSession()) S->CloseSession(this);
    }
  }
  return Held;
}

// ---- preparing -----------------------------------------------------------------------------------

void TZyloDataset::SetPrepared(bool Value) {
  CheckInactive();
  if (Value == FPrepared) return;
  if (Value) {
    if (FParams->Count() > 0)
      SetServerParams();
    else
      CreateParamDesc();
    if (!FDescribeOnly) {
      if (FText.size() < 2) DatabaseError(ZylLoadStr(ZYL_ERR_DS_NO_SQL), this);
      PrepareSQL(FText);
    }
  } else {
    FreeStatement();
  }
  FPrepared = Value;
}

void TZyloDataset::Prepare() {
  const bool Held = SetDBFlag(suPrepare, true);
  try {
    SetPrepared(true);
  } catch (...) {
    // A prepare that failed holds nothing: the session is not kept open for it.
    if (!Held) SetDBFlag(suPrepare, false);
    throw;
  }
}

void TZyloDataset::UnPrepare() {
  SetPrepared(false);
  SetDBFlag(suPrepare, false);
}

void TZyloDataset::SetPrepare(bool Value) {
  if (Value)
    Prepare();
  else
    UnPrepare();
}

void TZyloDataset::CreateParamDesc() {}
void TZyloDataset::SetServerParams() {}

AnsiString TZyloDataset::TrimSQL(const AnsiString& Text) {
  AnsiString Result = TrimRight(Text);
  // One semicolon at a time: a blank between two of them stops the removal.
  while (!Result.empty() && Result.back() == ';') Result.pop_back();
  return Result;
}

void TZyloDataset::PrepareSQL(const AnsiString& Text) {
  TZyloSQL* Q = Statement();
  Q->Prepare(TrimSQL(Text));
  Check(Q->GetPrepared());
  Q->AfterUnprepare = [this](TObject* Sender) { FDoAfterUnPrepare(Sender); };
}

void TZyloDataset::FreeStatement() {
  if (!FStatement) return;
  // Cleared first: only an unprepare from outside is echoed back.
  FStatement->AfterUnprepare = nullptr;
  FStatement->Unprepare();
}

void TZyloDataset::FDoAfterUnPrepare(TObject*) { UnPrepare(); }

void TZyloDataset::CheckUnPrepared() {
  if (FPrepared) DatabaseError(ZylLoadStr(ZYL_ERR_DS_OPEN_OR_PREPARED), this);
}

// ---- opening and closing -------------------------------------------------------------------------

void TZyloDataset::OpenCursor(bool InfoQuery) {
  if (!FResuming) {
    SetDBFlag(suOpen, true);
    FResumed = false;
    CreateHandle();
  }
  TDataSet::OpenCursor(InfoQuery);
}

void TZyloDataset::CreateHandle() {
  CreateCursor(true);
  Statement()->AfterClose = [this](TObject* Sender) { FDoAfterClose(Sender); };
}

void TZyloDataset::CreateCursor(bool GenHandle) {
  if (FSQL->Count() == 0) DatabaseError(ZylLoadStr(ZYL_ERR_DS_NO_SQL), this);
  SetPrepared(true);
  if (FDataLink->GetDataSource()) SetParamsFromCursor();
  GetCursor(GenHandle);
}

void TZyloDataset::GetCursor(bool GenHandle) {
  Variant Values;
  GetParamValues(Values);
  const TVariantArray List{Values};
  // The cursor is read-only exactly when the data set cannot modify.
  if (GenHandle)
    Check(Statement()->OpenPrepared(List, !GetCanModify()));
  else
    Check(Statement()->ExecutePrepared(List));
}

void TZyloDataset::CloseCursor() {
  TDataSet::CloseCursor();
  if (FResuming) return;
  try {
    if (FStatement) {
      FStatement->AfterClose = nullptr;  // our own close is not echoed back
      FStatement->Close();
    }
  } catch (...) {
    SetDBFlag(suOpen, false);
    throw;
  }
  SetDBFlag(suOpen, false);
}

void TZyloDataset::FDoAfterClose(TObject*) {
  Close();
  DataEvent(dePropertyChange, 0);
}

void TZyloDataset::Disconnect() {
  Close();
  UnPrepare();
}

// ---- query text ----------------------------------------------------------------------------------

void TZyloDataset::SetQuery(TStrings* Value) {
  if (!Value || Value->GetText() == FSQL->GetText()) return;
  Disconnect();
  FSQL->BeginUpdate();
  try {
    FSQL->Assign(Value);
  } catch (...) {
    FSQL->EndUpdate();
    throw;
  }
  FSQL->EndUpdate();
}

void TZyloDataset::QueryChanged(TObject*) {
  FText = FSQL->GetText();
  if (ComponentState().Contains(csLoading)) {
    // The parameters come from the stored form; the text only loses its doubled colons.
    CreateParams(nullptr, FText);
    return;
  }
  Disconnect();
  if (FParamCheck || ComponentState().Contains(csDesigning)) {
    AnsiString Text = FText;
    TZyloParams Fresh(this);
    bool Built = false;
    try {
      CreateParams(&Fresh, Text);
      Fresh.AssignValues(FParams.get());
      Built = true;
    } catch (const Exception&) {
      // The old list stays; the text is kept as it was given.
    }
    if (Built) {
      FText = Text;
      // The list object stays the same (editors and callers hold it); its items are replaced.
      FParams->Clear();
      while (Fresh.Count() > 0) FParams->AddParam(Fresh.RemoveParam(Fresh.Items(0)));
    }
  }
  DataEvent(dePropertyChange, 0);
}

void TZyloDataset::SetParamsList(TZyloParams* Value) {
  CheckInactive();
  FParams->AssignValues(Value);
}

void TZyloDataset::ResetParamsList() {
  CheckInactive();
  FParams->Clear();
  // Scanned from the lines again: FText may have lost its doubled colons already.
  AnsiString Text = FSQL->GetText();
  CreateParams(FParams.get(), Text);
  FText = Text;
}

void TZyloDataset::SetReadOnly(bool Value) {
  if (Value == FReadOnly) return;
  CheckUnPrepared();
  FReadOnly = Value;
}

void TZyloDataset::SetSyncInserts(bool Value) {
  if (Value == FSyncInserts) return;
  CheckInactive();
  FSyncInserts = Value;
}

// ---- the parameter scanner -----------------------------------------------------------------------

namespace {

bool IsNameDelimiter(char C) { return C == '\n' || C == '\r' || C == ' ' || C == ')' || C == ',' || C == ';'; }
bool IsQuote(char C) { return C == '\'' || C == '"'; }

// Where the comment starting at I ends (the position after it), or I when none starts there.
size_t SkipComment(const AnsiString& Text, size_t I) {
  const size_t N = Text.size();
  if (I + 1 >= N) return I;
  if ((Text[I] == '-' && Text[I + 1] == '-') || (Text[I] == '/' && Text[I + 1] == '/')) {
    size_t End = Text.find_first_of("\r\n", I + 2);
    return End == AnsiString::npos ? N : End;
  }
  if (Text[I] == '/' && Text[I + 1] == '*') {
    size_t End = Text.find("*/", I + 2);
    return End == AnsiString::npos ? N : End + 2;
  }
  return I;
}

AnsiString StripOneQuote(AnsiString Name, char Quote) {
  if (!Name.empty() && Name.front() == Quote) Name.erase(0, 1);
  if (!Name.empty() && Name.back() == Quote) Name.pop_back();
  return Name;
}

}  // namespace

// One pass over the characters with a single in-quote flag (single and double quotes are not told
// apart). Comments outside quotes are skipped whole, so that a colon in a remark starts no
// parameter the server never sees.
void TZyloDataset::CreateParams(TZyloParams* List, AnsiString& Text) {
  bool InQuote = false;
  size_t I = 0;
  while (I < Text.size()) {
    const char C = Text[I];
    if (IsQuote(C)) {
      InQuote = !InQuote;
      ++I;
      continue;
    }
    if (InQuote) {
      ++I;
      continue;
    }
    if (const size_t After = SkipComment(Text, I); After != I) {
      I = After;
      continue;
    }
    if (C != ':') {
      ++I;
      continue;
    }
    if (I + 1 < Text.size() && Text[I + 1] == ':') {
      Text.erase(I, 1);  // the pair stands for one literal colon
      ++I;
      continue;
    }
    const size_t Start = I + 1;
    size_t End = Start;
    while (End < Text.size()) {
      const char D = Text[End];
      if (IsQuote(D))
        InQuote = !InQuote;  // a quoted name may hold delimiters
      else if (!InQuote && IsNameDelimiter(D))
        break;
      ++End;
    }
    AnsiString Name = Text.substr(Start, End - Start);
    if (Start < Text.size() && IsQuote(Text[Start])) Name = StripOneQuote(StripOneQuote(Name, '\''), '"');
    if (List) {
      TZyloParam* P = List->CreateParam(Name);
      P->SetAlias(Name);
    }
    I = End;
  }
}

// ---- values for the statement --------------------------------------------------------------------

void TZyloDataset::GetParamValues(Variant& Values) {
  Values = Variant::Null();
  // One value per occurrence, in the order of the text: the client library describes one host
  // variable per marker, so a name used twice is passed twice (through GetParam, with the value of
  // its first entry). Passing it once would leave the later markers without a value (NULL).
  std::vector<const TZyloParam*> Passed;
  for (int32_t I = 0; I < FParams->Count(); ++I) {
    const TZyloParam* P = FParams->GetParam(I);
    const TZyloParamType Dir = P->GetParamType();
    if (Dir == zptUnknown || Dir == zptInput || Dir == zptInputOutput) Passed.push_back(P);
  }
  if (Passed.empty()) return;
  Values = VarArrayCreate({0, static_cast<int>(Passed.size()) - 1}, varVariant);
  for (size_t I = 0; I < Passed.size(); ++I)
    Values.PutElement(static_cast<int>(I), Passed[I]->GetIsNull() ? Variant::Null() : Passed[I]->GetAsVariant());
}

// ---- statement state -----------------------------------------------------------------------------

int32_t TZyloDataset::GetRowsAffected() { return Statement()->GetRowsProcessed(); }

bool TZyloDataset::GetStillInProc() { return FStatement && FStatement->GetStillInProc(); }

void TZyloDataset::Resume() {
  if (!GetStillInProc()) DatabaseError(ZylLoadStr(ZYL_ERR_DS_PROC_COMPLETED), this);
  CheckActive();
  Statement()->Resume();
  if (!Statement()->GetStillInProc()) {
    // The procedure completed, or failed on its way to the next result: a failure is not taken
    // for the end, it is raised once the data set has let go of the call.
    const int32_t Code = Statement()->GetLastErrorCode();
    const AnsiString Message = Statement()->GetLastError();
    Disconnect();
    ZyloCheckError(Message, Code);
    return;
  }
  // The statement stays open on its next result; the data set reopens over it, read-only.
  FResumed = true;
  FResuming = true;
  try {
    Close();
    Open();
  } catch (...) {
    FResuming = false;
    throw;
  }
  FResuming = false;
}

void TZyloDataset::QueryUniqueFields(AnsiString& Sql) { Sql.clear(); }

// ---- the query base ------------------------------------------------------------------------------

const TMetaClass& TZyloCustomDataset::StaticClass() {
  static const TMetaClass Meta("TZyloCustomDataset", &TZyloDataset::StaticClass());
  return Meta;
}

void TZyloCustomDataset::ExecSQL() {
  CheckInactive();
  SetDBFlag(suExecSQL, true);
  try {
    CreateCursor(false);
  } catch (...) {
    SetDBFlag(suExecSQL, false);
    throw;
  }
  SetDBFlag(suExecSQL, false);
}
