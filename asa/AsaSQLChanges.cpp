// ZylAsa: TAsaSQL positioned changes — update, insert, delete and lock through the cursor (an
// updatable cursor fetches one row per call, so the server cursor stands on the current row),
// the statements run on the side, the cursor's table name and the access plan.
#include <algorithm>
#include <cstring>

#include "asa/AsaSQLInternal.h"
#include "asa/ZylAsa.h"

using namespace zylasa;

void TAsaSQL::CheckModifiable() {
  if (GetReadOnly()) RaiseLastError<EAsaException>(ZylLoadStr(ZYL_ERR_CURS_READ_ONLY), 0);
}

// Fills the values descriptor of an update (Update: only changed fields, NULL as indicator -1)
// or an insert (NULL as no data, every column typed): variable i describes field i, with the
// column name of the output descriptor, and points at the field's place in RecordBuffer; a long
// value goes through the connection variable named after the field. Changed tells whether any
// field was filled; false when a long value could not be sent.
bool TAsaSQL::FillValues(SQLDA* Values, bool Update, TStrings* BlobNames, bool& Changed) {
  Changed = false;
  // The values go out from RecordBuffer, and an insert's row comes back through the fetch block.
  MaterializeRow();
  int32_t Offset = 0;
  for (int32_t I = 0; I < GetFieldCount() && I < Values->sqln; ++I) {
    TZyloFieldDef* Def = GetFieldDefs()->Items(I);
    if (!Def) continue;
    const int32_t Here = Offset;
    Offset += Def->Size;
    const Variant Field(static_cast<int>(I));
    if (Update && !IsFieldDirty(Field)) continue;
    Changed = true;
    SQLVAR& V = Values->sqlvar[I];
    const SQLVAR& Column = FOutputSQLDA->sqlvar[I];
    std::memcpy(&V.sqlname, &Column.sqlname, sizeof V.sqlname);
    const bool Blob = ZylIsBlobType(Def->FieldType);
    if (!Update && !Blob) {
      V.sqltype = Column.sqltype;
      V.sqllen = Column.sqllen;
    }
    if (IsFieldNull(Field)) {
      // An insert sends no data, so the server applies the column's default.
      if (V.sqlind) *V.sqlind = -1;
      continue;
    }
    if (V.sqlind) *V.sqlind = 0;
    if (Blob) {
      TZyloBlobStream* Stream = GetBlobManager()->BlobByName(Def->Name);
      if (!SendLongValue(Def->Name, Stream->GetMemory(), Stream->GetBlobLength(), BlobNames)) return false;
      V.sqltype = DT_VARIABLE;
      V.sqldata = const_cast<char*>(Def->Name.c_str());
    } else {
      V.sqltype = Column.sqltype;
      V.sqllen = Column.sqllen;
      V.sqldata = FRecordBuffer.Data() + Here;
    }
  }
  return true;
}

bool TAsaSQL::Modify() {
  CheckOpened();
  CheckModifiable();
  TOwnedSqlda Values(this, AllocSqlda(static_cast<unsigned>(GetFieldCount())), true);
  if (!Values.Da) return false;
  Values.Da->sqld = Values.Da->sqln;
  TStringList BlobNames;
  bool Changed = false;
  if (!FillValues(Values.Da, true, &BlobNames, Changed)) return false;
  if (!Changed) return true;  // nothing to send
  Pp(FProcs.dbpp_update, FCursorName, Values.Da);
  CheckPushError();
  InternalDropBlobVariables(&BlobNames);
  InternalAutoCommit();
  if (!CheckPopError(GetWantExceptions()) || !CheckResult()) return false;
  // The edited row is now the unchanged current row.
  std::memcpy(FOldRecordBuffer.Data(), FRecordBuffer.Data(), static_cast<size_t>(FRecordSize));
  std::memcpy(FOldIndicators.Data(), FIndicators.Data(), static_cast<size_t>(FIndicatorSize));
  GetBlobManager()->ClearBlobs();
  return true;
}

bool TAsaSQL::Append() {
  CheckOpened();
  CheckModifiable();
  TOwnedSqlda Values(this, AllocSqldaNoInd(static_cast<unsigned>(GetFieldCount())), false);
  if (!Values.Da) return false;
  Values.Da->sqld = Values.Da->sqln;
  TStringList BlobNames;
  bool Changed = false;
  if (!FillValues(Values.Da, false, &BlobNames, Changed)) return false;
  Pp(FProcs.dbpp_put_into, FCursorName, Values.Da, FOutputSQLDA);
  CheckPushError();
  // The insert's outcome, before anything else runs on the connection.
  const an_sql_code Code = Sqlca()->sqlcode;
  const bool Inserted = Code >= 0 && Code != SQLE_NOTFOUND;
  FBufferRows = Inserted ? std::clamp<int32_t>(Sqlca()->sqlerrd[2], 0, FAllocatedRows) : 0;
  if (FTrimFetched && Code >= 0) TrimFetchBuffer();
  InternalDropBlobVariables(&BlobNames);
  // The row as stored (defaults included) becomes current; a failed insert keeps the edited
  // record, so that nothing the application entered is lost.
  if (Inserted) {
    FBufferRow = 0;
    ConvertFetchedBuffers();
  }
  InternalAutoCommit();
  // The inserted row comes back through the fetch buffer, where long values do not fit: the
  // truncation warning that brings is the binding's own, not a failure of the insert.
  const int32_t Pushed = GetSession()->GetPushedErrorCode();
  const bool Clean = CheckPopError(GetWantExceptions()) || Pushed == SQLE_TRUNCATED;
  return Clean && (CheckResult() || GetLastErrorCode() == SQLE_TRUNCATED);
}

bool TAsaSQL::Delete() {
  CheckOpened();
  CheckModifiable();
  Pp(FProcs.dbpp_delete, FCursorName, static_cast<char*>(nullptr), static_cast<char*>(nullptr));
  CheckPushError();
  InternalAutoCommit();
  return CheckPopError(GetWantExceptions()) && CheckResult();
}

bool TAsaSQL::Lock() {
  CheckModifiable();
  CheckOpened();
  PlainFetch(FETCH_RELATIVE, 0, FETCH_OPT_FOR_UPDATE);
  return GetLastErrorCode() >= 0;
}

// ---- table name, side statements, access plan ------------------------------------------------------

AnsiString TAsaSQL::GetTableName() {
  AnsiString Result;
  if (GetActive() && FLibraryVersion >= 5) {
    SQLDA* Names = nullptr;
    try {
      Names = AllocSqldaNoInd(1);
      if (Names) {
        Names->sqlvar[0].sqltype = DT_STRING;
        Names->sqlvar[0].sqllen = 128;
        Names->sqld = Names->sqln;
        if (!reinterpret_cast<SQLDA* (*)(SQLDA*)>(FProcs.fill_sqlda)(Names)) {
          FreeSqldaNoInd(Names);
        } else {
          Pp(FProcs.dbpp_describe_names, static_cast<char*>(nullptr), static_cast<char*>(nullptr),
             static_cast<short*>(nullptr), FCursorName, Names, static_cast<unsigned>(DESCRIBE_LONG_NAMES),
             static_cast<unsigned short>(DESCRIBE_NAMES_TABLE));
          const char* Text = static_cast<const char*>(Names->sqlvar[0].sqldata);
          if (Sqlca()->sqlcode == 0 && Text) {
            Result.assign(Text, strnlen(Text, 128));
            if (TZyloSession* S = GetSessionObject(); S && S->GetOEMConvert() && !Result.empty())
              S->TranslateChar(Result.data(), Result.data(), false, static_cast<int32_t>(Result.size()));
          }
          reinterpret_cast<void (*)(SQLDA*)>(FProcs.free_filled_sqlda)(Names);
        }
      }
    } catch (const Exception&) {
      // Any library problem leads to the text of the statement.
      Result.clear();
    }
  }
  if (Result.empty()) Result = TZyloSQL::GetTableName();
  return Result;
}

bool TAsaSQL::InternalLocalExecute(const AnsiString& SQL, const Variant& Params) {
  InternalNeedLibrary();
  ++FSideStatements;
  if (Params.IsNull() || Params.IsEmpty()) {
    Pp(FProcs.dbpp_execute_imm, const_cast<char*>(SQL.c_str()), static_cast<unsigned short>(2));
    return CheckResult();
  }
  int16_t Statement = 0;
  if (!PrepareStatement(Statement, SQL)) return false;
  // The statement is dropped on every path and its number goes back to the pool; the SQLCA keeps
  // the outcome of the statement, which callers may evaluate again (CheckPushError).
  struct TDrop {
    TAsaSQL* Q;
    int16_t& N;
    ~TDrop() {
      SQLCA* Ca = Q->Sqlca();
      const SQLCA Saved = *Ca;
      Q->InternalDropStatement(N);
      *Ca = Saved;
    }
  } Drop{this, Statement};
  TZyloVariableDefs Vars;
  InternalSetVariables(Params, &Vars);
  void* D = nullptr;
  bool Bound = false;
  try {
    Bound = InternalBindVariables(&Statement, &Vars, D, nullptr);
  } catch (...) {
    SQLDA* Da = static_cast<SQLDA*>(D);
    FreeSqlda(Da);
    throw;
  }
  TOwnedSqlda Da{this, static_cast<SQLDA*>(D), true};
  if (!Bound) return false;
  Pp(FProcs.dbpp_execute_into, static_cast<char*>(nullptr), ModuleName(), &Statement, Da.Da,
     static_cast<struct sqlda*>(nullptr));
  return CheckResult();
}

AnsiString TAsaSQL::Explain() {
  AnsiString Result;
  CheckOpened();
  TOwnedSqlda Plan{this, AllocSqlda(1), true};
  if (!Plan.Da) return Result;
  char Buffer[301] = {0};
  Plan.Da->sqlvar[0].sqltype = DT_STRING;
  Plan.Da->sqlvar[0].sqllen = 300;
  Plan.Da->sqlvar[0].sqldata = Buffer;
  Plan.Da->sqld = Plan.Da->sqln;
  Pp(FProcs.dbpp_explain, FCursorName, static_cast<unsigned short>(0), Plan.Da);
  if (CheckResult()) Result.assign(Buffer, strnlen(Buffer, 300));
  return Result;
}
