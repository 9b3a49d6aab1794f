// ZylDbx: TSQLCommandZYL — preparing SQL text or a stored procedure's call, executing with the
// parameter values, handing out cursors over result sets and walking further result sets.
#include <algorithm>
#include <cstring>

#include "dbxdriver/ZylDbx.h"

namespace {

AnsiString Text(const char* S) { return S ? AnsiString(S) : AnsiString(); }

// Releases an interface reference when it goes out of scope.
template <class I>
struct TDbxRef {
  I* Ptr = nullptr;
  TDbxRef() = default;
  TDbxRef(const TDbxRef&) = delete;
  TDbxRef& operator=(const TDbxRef&) = delete;
  ~TDbxRef() {
    if (Ptr) Ptr->Release();
  }
};

// A var parameter of the host already holding a cursor: assigning to it releases the old one.
void ReleaseOld(ISQLCursor** Cursor) {
  ISQLCursor* Old = *Cursor;
  *Cursor = nullptr;
  if (Old) Old->Release();
}

}  // namespace

TSQLCommandZYL::TSQLCommandZYL(TSQLConnectionZYL* Connection)
    : FConnection(Connection), FStatement(new TAsaSQL(nullptr)) {
  FConnection->AddRef();
  FStatement->SetCursorType(actDefault);
  FStatement->SetSession(FConnection->GetSession());
  FStatement->SetWantExceptions(false);
  // Whoever closes or unprepares the statement (its session before a disconnect, too) leaves the
  // column list pointing at buffers that are about to go.
  auto Forget = [this](TObject*) { FColumns.Clear(); };
  FStatement->AfterClose = Forget;
  FStatement->AfterUnprepare = Forget;
}

TSQLCommandZYL::~TSQLCommandZYL() {
  FColumns.Clear();
  DropOutputVariables();
  try {
    FStatement.reset();
  } catch (...) {
  }
  FConnection->Release();
}

TSQLColumnZYL* TSQLCommandZYL::Column(uint16_t Number) const {
  if (Number == 0) return nullptr;
  return static_cast<TSQLColumnZYL*>(FColumns.Get(static_cast<uint16_t>(Number - 1)));
}

void TSQLCommandZYL::CheckStatement(bool Ok) {
  if (Ok) return;
  const int32_t Code = FStatement->GetLastErrorCode();
  if (Code < 0) throw EAsaException(FStatement->GetLastError(), Code);
}

AnsiString TSQLCommandZYL::CleanSQL(const AnsiString& SQL) {
  size_t End = SQL.size();
  while (End > 0 && static_cast<unsigned char>(SQL[End - 1]) <= ' ') --End;
  while (End > 0 && SQL[End - 1] == ';') --End;
  return SQL.substr(0, End);
}

void TSQLCommandZYL::ForgetResultSet() {
  FColumns.Clear();
  FCurrentCursor = nullptr;
}

void TSQLCommandZYL::CursorReleased(TSQLCursorZYL* Cursor) noexcept {
  if (Cursor != FCurrentCursor) return;
  FCurrentCursor = nullptr;
  try {
    FStatement->Close();  // the end of the result set, with its automatic commit
    ReadOutputVariables();
  } catch (...) {
  }
}

// ---- options -------------------------------------------------------------------------------------

SQLResult TSQLCommandZYL::SetOption(uint32_t eSqlCommandOption, TDBXOptionValue ulValue) {
  switch (eSqlCommandOption) {
    case eCommBlobSize:
      FBlobSize = static_cast<int32_t>(ulValue);
      return SQL_SUCCESS;
    case eCommStoredProc:
      FStoredProc = (ulValue & 0xFF) != 0;
      return SQL_SUCCESS;
    case eCommPackageName:
      return SQL_SUCCESS;
    default:
      return DBXERR_NOTSUPPORTED;
  }
}

SQLResult TSQLCommandZYL::GetOption(uint32_t eSqlCommandOption, void* PropValue, int16_t MaxLength, int16_t*) {
  if (eSqlCommandOption != eCommBlobSize) return DBXERR_NOTSUPPORTED;
  if (!PropValue) return DBXERR_INVALIDPARAM;
  if (MaxLength < static_cast<int16_t>(sizeof FBlobSize)) return DBXERR_INVALIDLEN;
  std::memcpy(PropValue, &FBlobSize, sizeof FBlobSize);
  return SQL_SUCCESS;
}

// ---- prepare -----------------------------------------------------------------------------------

namespace {

// The declared SQL type of a procedure parameter row of the catalog (type name, length, scale),
// as a connection variable is declared with it.
AnsiString DeclaredType(ISQLCursor* Row) {
  uint32_t Length = 0;
  int32_t Blank = 0, Width = 0, Scale = 0;
  if (Row->getColumnLength(10, &Length) != SQL_SUCCESS) return AnsiString();
  std::vector<char> Name(static_cast<size_t>(Length) + 1, '\0');
  if (Row->getString(10, Name.data(), &Blank) != SQL_SUCCESS || Blank) return AnsiString();
  Row->getLong(11, &Width, &Blank);
  Row->getLong(13, &Scale, &Blank);
  const AnsiString Type = Name.data();
  const AnsiString Upper = UpperCase(Type);
  if (Upper == "DECIMAL" || Upper == "NUMERIC") return Format("%s(%d,%d)", Type, Width, Scale);
  if (Upper == "CHAR" || Upper == "VARCHAR" || Upper == "BINARY" || Upper == "VARBINARY")
    return Format("%s(%d)", Type, Width);
  return Type;
}

}  // namespace

// The call text of a procedure from its parameters in the catalog: a placeholder for every
// parameter but the return value, "? = " in front when there is one.
SQLResult TSQLCommandZYL::BuildProcedureCall(const AnsiString& Name, AnsiString& SQL) {
  TDbxRef<ISQLMetaData> Meta;
  TDbxRef<ISQLCursor> Params;
  SQLResult R = FConnection->getSQLMetaData(&Meta.Ptr);
  if (R != SQL_SUCCESS) return R;
  R = Meta.Ptr->getProcedureParams(const_cast<char*>(Name.c_str()), const_cast<char*>(""), &Params.Ptr);
  if (R != SQL_SUCCESS) {
    // The host asks the command for the text, so it is taken over before the metadata goes.
    int16_t Len = 0;
    if (Meta.Ptr->getErrorMessageLen(&Len) == SQL_SUCCESS && Len > 0) {
      std::vector<char> Message(static_cast<size_t>(Len) + 1, '\0');
      if (Meta.Ptr->getErrorMessage(Message.data()) == SQL_SUCCESS) FErrors.AddText(Message.data());
    }
    return R;
  }
  AnsiString Placeholders;
  bool HasResult = false;
  for (int32_t I = 0; Params.Ptr->next() == SQL_SUCCESS; ++I) {
    if (I >= FParams.Count()) continue;  // beyond ParamCount: neither named nor a placeholder
    auto* Param = static_cast<TSQLParamZYL*>(FParams.Get(static_cast<uint16_t>(I)));
    uint32_t NameLength = 0;
    int32_t Blank = 0;
    if (Params.Ptr->getColumnLength(5, &NameLength) == SQL_SUCCESS) {
      std::vector<char> Buffer(static_cast<size_t>(NameLength) + 1, '\0');
      if (Params.Ptr->getString(5, Buffer.data(), &Blank) == SQL_SUCCESS && !Blank && Buffer[0])
        Param->Name = AnsiString(Buffer.data(), strnlen(Buffer.data(), 255));
    }
    Param->SqlType = DeclaredType(Params.Ptr);
    int32_t Kind = 0;
    if (Params.Ptr->getLong(7, &Kind, &Blank) != SQL_SUCCESS) continue;
    if (Kind == paramRET) {
      HasResult = true;
      Param->Direction = paramRET;
    } else if (Kind != paramUNKNOWN) {
      Placeholders += Placeholders.empty() ? "?" : ",?";
      Param->Direction = static_cast<uint32_t>(Kind);
      if (Kind == paramOUT || Kind == paramINOUT) FHasOutput = true;
    }
  }
  SQL = Format(HasResult ? "? = call %s(%s)" : "call %s(%s)", Name, Placeholders);
  return SQL_SUCCESS;
}

SQLResult TSQLCommandZYL::prepare(char* SQL, uint16_t ParamCount) {
  return DbxGuard(FErrors, [&] {
    ForgetResultSet();
    DropOutputVariables();
    FParams.Clear();
    for (uint16_t I = 0; I < ParamCount; ++I) FParams.Add<TSQLParamZYL>();
    FHasOutput = false;
    AnsiString Statement = Text(SQL);
    const AnsiString Name = Statement;
    const bool Procedure = FStoredProc;
    if (FStoredProc) {
      FStoredProc = false;  // also when the catalog request fails
      SQLResult R = BuildProcedureCall(Name, Statement);
      if (R != SQL_SUCCESS) return R;
    }
    FConnection->Trace(Statement);
    FConnection->Trace("ZYL - Prepare");
    FStatement->Prepare(CleanSQL(Statement));
    CheckStatement(FStatement->GetPrepared());
    if (Procedure && FHasOutput && FStatement->GetResumable()) UseOutputVariables(Name);
    return SQL_SUCCESS;
  });
}

// ---- parameter values --------------------------------------------------------------------------------

// The values of the input parameters in order. Output-only parameters and the return value take
// no place: the statement binds values to the input and in-out placeholders only.
Variant TSQLCommandZYL::ParamValues() const {
  if (FParams.Count() == 0) return Variant::Null();
  TVariantArray Values;
  for (int32_t I = 0; I < FParams.Count(); ++I) {
    const auto* Param = static_cast<const TSQLParamZYL*>(FParams.Get(static_cast<uint16_t>(I)));
    if (Param->Direction == paramOUT || Param->Direction == paramRET || !Param->Variable.empty()) continue;
    const bool Bytes = Param->FieldType == ztBinary || Param->FieldType == ztBlob;
    if (Bytes && (!Param->Value.IsArray() || Param->Value.ElementCount() == 0))
      Values.push_back(Variant::Null());
    else
      Values.push_back(Param->Value);
  }
  if (Values.empty()) return Variant::Null();
  return VarArrayOf(Values);
}

// ---- outputs of a procedure that returns result sets ----------------------------------------------
//
// Such a procedure is opened as a cursor, which brings no output values back. So each of its
// output and in-out parameters becomes a connection variable of the parameter's declared type,
// named in the call where the placeholder stood: the procedure stores into the variables, and
// when it has completed (its last result set is done) the variables are read into the
// parameters. An in-out parameter's value is set into its variable before each execution.

void TSQLCommandZYL::UseOutputVariables(const AnsiString& Name) {
  AnsiString Args;
  for (int32_t I = 0; I < FParams.Count(); ++I) {
    auto* Param = static_cast<TSQLParamZYL*>(FParams.Get(static_cast<uint16_t>(I)));
    if (Param->Direction == paramRET) return;  // a function: no result sets, nothing to do
    if (Param->Direction == paramUNKNOWN) continue;
    if (!Args.empty()) Args += ",";
    if (Param->Direction == paramIN) {
      Args += "?";
      continue;
    }
    if (Param->SqlType.empty()) return;  // the type is not known: the outputs stay placeholders
    const AnsiString Variable = Format("zyl_dbx_out_%u_%d", FConnection->NextVariableNumber(), I + 1);
    CheckStatement(FStatement->ExecuteImmediate("CREATE VARIABLE " + Variable + " " + Param->SqlType));
    Param->Variable = Variable;
    Args += Variable;
  }
  const AnsiString Call = Format("call %s(%s)", Name, Args);
  FConnection->Trace(Call);
  FConnection->Trace("ZYL - Prepare");
  FStatement->Prepare(Call);
  CheckStatement(FStatement->GetPrepared());
  FHasOutput = false;  // the outputs are no longer placeholders: the call opens its result sets
}

void TSQLCommandZYL::DropOutputVariables() noexcept {
  for (int32_t I = 0; I < FParams.Count(); ++I) {
    auto* Param = static_cast<TSQLParamZYL*>(FParams.Get(static_cast<uint16_t>(I)));
    if (Param->Variable.empty()) continue;
    try {
      FStatement->ExecuteImmediate("DROP VARIABLE " + Param->Variable);
    } catch (...) {
      // Disconnected: the variable went with the connection.
    }
    Param->Variable.clear();
  }
}

// Before an execution: in-out values into their variables, outputs NULL until delivered.
void TSQLCommandZYL::SetOutputVariables() {
  for (int32_t I = 0; I < FParams.Count(); ++I) {
    auto* Param = static_cast<TSQLParamZYL*>(FParams.Get(static_cast<uint16_t>(I)));
    if (Param->Variable.empty()) continue;
    const bool In = Param->Direction == paramINOUT && !Param->Value.IsNull();
    CheckStatement(FStatement->InternalLocalExecute("SET " + Param->Variable + (In ? " = ?" : " = NULL"),
                                                    In ? VarArrayOf({Param->Value}) : Variant::Null()));
    Param->Value = Variant::Null();
  }
}

// After the procedure completed: the variables' values become the parameters' values.
void TSQLCommandZYL::ReadOutputVariables() {
  AnsiString Select;
  std::vector<TSQLParamZYL*> Outputs;
  for (int32_t I = 0; I < FParams.Count(); ++I) {
    auto* Param = static_cast<TSQLParamZYL*>(FParams.Get(static_cast<uint16_t>(I)));
    if (Param->Variable.empty()) continue;
    Select += (Outputs.empty() ? "select " : ", ") + Param->Variable;
    Outputs.push_back(Param);
  }
  if (Outputs.empty()) return;
  TAsaSQL Query(nullptr);
  Query.SetSession(FConnection->GetSession());
  Query.SetWantExceptions(false);
  const bool Row = Query.OpenRead(Select, {ZylEmptyParam});
  CheckStatement(Row || Query.GetLastErrorCode() >= 0);
  for (size_t K = 0; Row && K < Outputs.size(); ++K) {
    Variant V;
    Query.GetFieldValue(Variant(static_cast<int32_t>(K)), V);
    Outputs[K]->Value = Query.IsFieldNull(Variant(static_cast<int32_t>(K))) ? Variant::Null() : V;
  }
  Query.Close();
}

// ---- execution ---------------------------------------------------------------------------------

// A procedure call with output parameters is executed, so that the outputs arrive; the outputs
// are what describing its result gives, so they do not count as result columns. The host's
// parameter directions say so too when the call text was not built from the catalog.
bool TSQLCommandZYL::OpensResultSet() {
  bool HasOutput = FHasOutput;
  for (int32_t I = 0; I < FParams.Count() && !HasOutput; ++I) {
    const auto* Param = static_cast<const TSQLParamZYL*>(FParams.Get(static_cast<uint16_t>(I)));
    const uint32_t D = Param->Direction;
    HasOutput = (D == paramOUT || D == paramINOUT || D == paramRET) && Param->Variable.empty();
  }
  return !HasOutput && (FStatement->GetFieldCount() > 0 || FStatement->GetResumable());
}

SQLResult TSQLCommandZYL::HandOutCursor(ISQLCursor** Cursor, bool RowPending) {
  auto* C = new TSQLCursorZYL(this, RowPending);
  FCurrentCursor = C;
  *Cursor = C;
  return RebuildColumns();
}

SQLResult TSQLCommandZYL::OpenCursor(const Variant& Values, ISQLCursor** Cursor) {
  FConnection->Trace("ZYL - Open");
  bool Ok;
  try {
    // Read-only: the driver never changes rows through its cursors, and only a read-only cursor
    // fetches its rows in blocks (an updatable one fetches them one at a time).
    Ok = FStatement->OpenPrepared({Values}, true);
  } catch (const EZyloException& E) {
    // A procedure call that completed without a result set: it ran, and there is nothing to read.
    if (FStatement->GetActive() && !FStatement->GetStillInProc() && E.Message() == ZylLoadStr(ZYL_ERR_CURS_NOT_QUERY)) {
      FStatement->Close();
      ReadOutputVariables();
      return SQL_SUCCESS;
    }
    throw;
  }
  CheckStatement(Ok);
  return HandOutCursor(Cursor, false);
}

SQLResult TSQLCommandZYL::execute(ISQLCursor** Cursor) {
  if (!Cursor) return DBXERR_INVALIDPARAM;
  return DbxGuard(FErrors, [&] {
    ReleaseOld(Cursor);
    ForgetResultSet();
    const Variant Values = ParamValues();
    SetOutputVariables();
    if (OpensResultSet()) return OpenCursor(Values, Cursor);
    FConnection->Trace("ZYL - Execute");
    CheckStatement(FStatement->ExecutePrepared({Values}));
    return SQL_SUCCESS;
  });
}

SQLResult TSQLCommandZYL::executeImmediate(char* SQL, ISQLCursor** Cursor) {
  if (!Cursor) return DBXERR_INVALIDPARAM;
  return DbxGuard(FErrors, [&] {
    ReleaseOld(Cursor);
    ForgetResultSet();
    const AnsiString Statement = Text(SQL);
    FConnection->Trace(Statement);
    FStatement->Prepare(CleanSQL(Statement));
    CheckStatement(FStatement->GetPrepared());
    if (OpensResultSet()) return OpenCursor(Variant::Null(), Cursor);
    FConnection->Trace("ZYL - ExecuteImmediate");
    CheckStatement(FStatement->ExecuteImmediate(Statement));
    return SQL_SUCCESS;
  });
}

SQLResult TSQLCommandZYL::getNextCursor(ISQLCursor** Cursor) {
  if (!Cursor) return DBXERR_INVALIDPARAM;
  return DbxGuard(FErrors, [&]() -> SQLResult {
    // The cursor of the previous result set no longer reads anything; releasing it must not close
    // the statement, which goes on to the next result set.
    ForgetResultSet();
    ReleaseOld(Cursor);
    FConnection->Trace("ZYL - Resume");
    const bool Row = FStatement->Resume();
    CheckStatement(Row);
    if (!FStatement->GetStillInProc() || FStatement->GetFieldCount() == 0) {
      FStatement->Close();
      ReadOutputVariables();
      return SQL_NULL_DATA;
    }
    FConnection->Trace("ZYL - Open");
    return HandOutCursor(Cursor, Row);
  });
}

SQLResult TSQLCommandZYL::getRowsAffected(uint32_t* Rows) {
  if (!Rows) return DBXERR_INVALIDPARAM;
  const int32_t N = FStatement->GetRowsProcessed();
  *Rows = N < 0 ? 0u : static_cast<uint32_t>(N);
  return SQL_SUCCESS;
}

SQLResult TSQLCommandZYL::close() { return SQL_SUCCESS; }

// ---- errors ------------------------------------------------------------------------------------

SQLResult TSQLCommandZYL::getErrorMessageLen(int16_t* ErrorLen) {
  return DbxGuard(FErrors, [&] {
    FConnection->Trace("ZYL - Error");
    return FErrors.GetLength(ErrorLen);
  });
}

SQLResult TSQLCommandZYL::getErrorMessage(char* Error) { return FErrors.GetMessage(Error); }
