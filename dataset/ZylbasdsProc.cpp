// Zylbasds: the stored-procedure data set — naming the procedure, discovering its parameters from
// the catalog, generating and checking the call, running it and copying the outputs back.
#include "dataset/Zylbasds.h"

#include <memory>

const TMetaClass& TZyloCustomStoredProc::StaticClass() {
  static const TMetaClass Meta("TZyloCustomStoredProc", &TZyloDataset::StaticClass());
  return Meta;
}

// ---- naming --------------------------------------------------------------------------------------

void TZyloCustomStoredProc::SetProcName(const AnsiString& Value) {
  if (ComponentState().Contains(csLoading)) {
    // The stored form brings its parameters and prepares nothing.
    FProcName = Value;
    return;
  }
  CheckInactive();
  if (Value == FProcName) return;
  FProcName = Trim(Value);
  SetPrepared(false);
  GetParams()->Clear();
  GetSQL()->Clear();
}

void TZyloCustomStoredProc::SplitProcName(const AnsiString& ProcName, AnsiString& Owner, AnsiString& Name) {
  const size_t Dot = ProcName.find('.');
  if (Dot == AnsiString::npos) {
    Owner.clear();
    Name = Trim(ProcName);
    return;
  }
  Owner = Trim(ProcName.substr(0, Dot));
  // "dba. proc" calls dba.proc on the server, so the blanks after the dot are not looked up either.
  Name = Trim(ProcName.substr(Dot + 1));
}

TZyloParamDataType TZyloCustomStoredProc::DataTypeOfDomain(int32_t Domain) {
  switch (Domain) {
    case 1: case 2: case 19: case 21: case 22: return ztInteger;
    case 20: case 23: return ztInt64;
    case 3: case 4: case 5: case 27: return ztFloat;
    case 6: return ztDate;
    case 14: return ztTime;
    case 13: return ztDateTime;
    case 24: return ztBoolean;
    case 7: case 8: case 9: return ztString;
    case 10: return ztMemo;
    case 11: case 28: return ztBinary;
    case 12: return ztBlob;
    default: return ztUnknown;
  }
}

// ---- parameters and the call text -----------------------------------------------------------------

namespace {

int32_t IntegerOf(const Variant& V) {
  if (V.IsNull() || V.IsEmpty()) return 0;
  try {
    return V.AsInteger();
  } catch (const Exception&) {
    return 0;
  }
}

}  // namespace

void TZyloCustomStoredProc::CreateParamDesc() {
  AnsiString Owner, Name;
  SplitProcName(FProcName, Owner, Name);
  AnsiString Sql;
  QuerySPParamList(Owner, Sql);
  {
    std::unique_ptr<TZyloSQL> Q(CreateZyloSQL());
    Q->SetSession(GetSession());
    // A catalog that cannot be read leaves the list empty: the call is made without arguments.
    if (!Sql.empty() && Q->Open(Sql, TVariantArray{Variant(Name)}, true)) {
      while (Q->Next()) {
        Variant V;
        Q->GetFieldValue("parm_name", V);
        const AnsiString ParmName = (V.IsNull() || V.IsEmpty()) ? AnsiString() : TrimRight(V.AsString());
        Q->GetFieldValue("parm_type", V);
        const int32_t Direction = IntegerOf(V);
        Q->GetFieldValue("data_type", V);
        const TZyloParamDataType Type = DataTypeOfDomain(IntegerOf(V));
        // 0: a column of the procedure's result set, no parameter.
        if (Direction < zptInput || Direction > zptResult) continue;
        TZyloParam* P = GetParams()->CreateParam(ParmName);
        P->SetAlias(ParmName);
        P->SetDataType(Type);
        P->SetParamType(static_cast<TZyloParamType>(Direction));
      }
      Q->Close();
    }
  }
  SetServerParams();
}

void TZyloCustomStoredProc::SetServerParams() {
  AnsiString ResultParam, ParamList;
  TZyloParams* List = GetParams();
  for (int32_t I = 0; I < List->Count(); ++I) {
    const TZyloParam* P = List->GetParam(I);
    // The server's name; a parameter the application made without one goes by its own name.
    AnsiString Text = P->GetAlias().empty() ? P->GetName() : P->GetAlias();
    if (!Text.empty() && Text.front() == '@') Text.erase(0, 1);
    switch (P->GetParamType()) {
      case zptResult: ResultParam = ":" + Text; break;
      case zptUnknown: break;
      default:
        if (!ParamList.empty()) ParamList += ",";
        ParamList += ":" + Text;
        break;
    }
  }
  SetPreparedText(AnsiString());
  GetSQL()->Clear();
  if (!FProcName.empty()) BuildSPCallStatement(ResultParam, ParamList);
}

void TZyloCustomStoredProc::QueryChanged(TObject*) { SetPreparedText(GetSQL()->GetText()); }

void TZyloCustomStoredProc::PrepareSQL(const AnsiString& Text) {
  TZyloParams* List = GetParams();
  int32_t Results = 0;
  for (int32_t I = 0; I < List->Count(); ++I) {
    const TZyloParam* P = List->GetParam(I);
    if (P->GetParamType() == zptUnknown)
      DatabaseError(Format(ZylLoadStr(ZYL_ERR_DS_NO_PARAM_TYPE), P->GetAlias()), this);
    if (P->GetParamType() == zptResult && ++Results > 1)
      DatabaseError(ZylLoadStr(ZYL_ERR_DS_TOO_MANY_RESULTS), this);
  }
  TZyloDataset::PrepareSQL(Text);
}

void TZyloCustomStoredProc::SetParamsList(TZyloParams* Value) {
  CheckInactive();
  if (GetPrepared()) {
    SetPrepared(false);
    GetParams()->Assign(Value);
    SetPrepared(true);
  } else {
    GetParams()->Assign(Value);
  }
}

// ---- running -------------------------------------------------------------------------------------

void TZyloCustomStoredProc::CreateCursor(bool GenHandle) {
  if (FProcName.empty()) DatabaseError(ZylLoadStr(ZYL_ERR_DS_NO_PROC_NAME), this);
  SetPrepared(true);
  GetCursor(GenHandle);
}

void TZyloCustomStoredProc::GetCursor(bool GenHandle) {
  TZyloDataset::GetCursor(GenHandle);
  GetResults();
}

void TZyloCustomStoredProc::GetResults() {
  TZyloSQL* Q = Statement();
  TZyloVariableDefs* Outs = Q->GetOutVariables();
  TZyloParams* List = GetParams();
  for (int32_t I = 0; I < List->Count(); ++I) {
    TZyloParam* P = List->GetParam(I);
    const TZyloParamType Dir = P->GetParamType();
    if (Dir != zptInputOutput && Dir != zptOutput && Dir != zptResult) continue;
    if (Outs->IndexOf(P->GetName()) < 0) continue;
    Variant Value;
    Q->GetOutVar(Variant(P->GetName()), Value);
    if (Value.IsNull() || Value.IsEmpty()) {
      // NULL keeps the parameter's type: the next call binds it as what the procedure declares.
      P->InitValue();
      P->Clear();
    } else if ((P->GetDataType() == ztBinary || P->GetDataType() == ztBlob) && Value.IsArray()) {
      const std::vector<uint8_t> Bytes = VarArrayToBytes(Value);
      P->SetBlobData(Bytes.data(), static_cast<int32_t>(Bytes.size()));
    } else {
      P->SetAsVariant(Value);
    }
  }
}

void TZyloCustomStoredProc::ExecProc() {
  CheckInactive();
  SetDBFlag(suExecProc, true);
  try {
    CreateCursor(false);
  } catch (...) {
    SetDBFlag(suExecProc, false);
    throw;
  }
  SetDBFlag(suExecProc, false);
}

void TZyloCustomStoredProc::CopyParams(TZyloParams* Dest) {
  if (!Dest) return;
  if (GetPrepared() || GetParams()->Count() > 0) {
    Dest->Assign(GetParams());
    return;
  }
  SetDescribeOnly(true);
  try {
    Prepare();
    Dest->Assign(GetParams());
  } catch (...) {
    SetDescribeOnly(false);
    try {
      UnPrepare();
    } catch (...) {
    }
    throw;
  }
  SetDescribeOnly(false);
  UnPrepare();
}
