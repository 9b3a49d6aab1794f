// ZylAsaDS: TAsaCustomDataset, TAsaDataset, TAsaCustomStoredProc and TAsaStoredProc (see the
// header for the value conversions).
#include "components/ZylAsaDS.h"

#include <cmath>
#include <cstring>
#include <memory>

namespace {

// Streams create the component by its class name.
const bool ClassRegistered =
    (RegisterClass(TAsaDataset::StaticClass()), RegisterClass(TAsaStoredProc::StaticClass()), true);

// An unsigned 32-bit column keeps its values above 2^31 only in a 64-bit field.
bool IsUnsignedInteger(const TZyloFieldDef* Def) { return Def->FieldType == ztInteger && Def->ExtType == DT_UNSINT; }

Tsqldatetime StampAt(const uint8_t* RecBuf) {
  Tsqldatetime Stamp;
  std::memcpy(&Stamp, RecBuf, sizeof Stamp);
  return Stamp;
}

void PutStamp(uint8_t* RecBuf, bool WithDate, TDateTime Value) {
  Tsqldatetime Stamp;
  PutAsaTimeStamp(WithDate, Value, Stamp);
  std::memcpy(RecBuf, &Stamp, sizeof Stamp);
}

// Unsigned 32-bit columns are shown in 64-bit fields (see AsaRecBufToField).
void WidenUnsignedFields(TFieldDefs& Defs, TZyloSQL* Q) {
  for (int I = 0; I < Defs.Count(); ++I) {
    TFieldDef& D = Defs.Items(I);
    const TZyloFieldDef* Col = Q->GetFieldDefs()->Items(D.FieldNo - 1);
    if (Col && IsUnsignedInteger(Col)) D.DataType = ftLargeint;
  }
}

TZyloSQL* NewAsaStatement() {
  // Not owned through the component tree (it would be streamed as a child): the data set holds it.
  auto* Q = new TAsaSQL(nullptr);
  Q->SetWantExceptions(false);
  return Q;
}

bool AsaSequenced(TAsaSession* S) { return S && S->GetWantRowCounts(); }

// A text inside '...' of a statement: each quote doubled.
AnsiString QuotedText(const AnsiString& Text) {
  AnsiString Result;
  for (char C : Text) {
    if (C == '\'') Result += '\'';
    Result += C;
  }
  return Result;
}

}  // namespace

const TMetaClass& TAsaCustomDataset::StaticClass() {
  static const TMetaClass Meta("TAsaCustomDataset", &TZyloCustomDataset::StaticClass());
  return Meta;
}

TAsaCustomDataset::TAsaCustomDataset(TComponent* AOwner) : TZyloCustomDataset(AOwner) { (void)ClassRegistered; }

TZyloSQL* TAsaCustomDataset::CreateZyloSQL() { return NewAsaStatement(); }

bool TAsaCustomDataset::IsSequenced() { return TZyloCustomDataset::IsSequenced() && AsaSequenced(GetSession()); }

void TAsaCustomDataset::QueryUniqueFields(AnsiString& Sql) {
  Sql =
      "select column_name from sys.syscolumn, sys.systable where (sys.systable.table_id=sys.syscolumn.table_id) "
      "and (sys.systable.table_name=:table_name) and (pkey='Y')";
}

int TAsaCustomDataset::PSExecuteStatement(const AnsiString& ASQL, TParams* AParams, TDataSet** ResultSet) {
  const bool Held = SetDBFlag(suProvider, true);
  // The provider's hold goes back to what it was, whatever happens.
  struct Restore {
    TAsaCustomDataset* Self;
    bool Held;
    ~Restore() {
      try {
        Self->SetDBFlag(suProvider, Held);
      } catch (...) {
      }
    }
  } Guard{this, Held};
  auto Q = std::make_unique<TAsaCustomDataset>(nullptr);
  Q->SetSession(GetSession());
  Q->GetSQL()->SetText(ASQL);
  if (AParams) Q->GetParams()->Assign(AParams);
  if (ResultSet) {
    *ResultSet = nullptr;
    Q->Open();
    const int Rows = Q->GetRowsAffected();
    *ResultSet = Q.release();
    return Rows;
  }
  Q->ExecSQL();
  return Q->GetRowsAffected();
}

TAsaCursorType TAsaCustomDataset::GetCursorType() const {
  auto* Q = dynamic_cast<TAsaSQL*>(GetStatement());
  return Q ? Q->GetCursorType() : actDefault;
}

void TAsaCustomDataset::SetCursorType(TAsaCursorType Value) {
  if (Value == GetCursorType()) return;
  CheckInactive();
  GetAsaStatement()->SetCursorType(Value);
}

TAsaSession* TAsaCustomDataset::GetSession() const { return dynamic_cast<TAsaSession*>(TZyloDataset::GetSession()); }

void TAsaCustomDataset::SetSession(TAsaSession* Value) { TZyloDataset::SetSession(Value); }

void TAsaCustomDataset::InternalInitFieldDefs() {
  TZyloCustomDataset::InternalInitFieldDefs();
  WidenUnsignedFields(FieldDefs(), Statement());
}

// ---- value conversions, shared by both data sets -------------------------------------------------

namespace {

void AsaRecBufToField(const TZyloFieldDef* Def, const uint8_t* RecBuf, void* FieldBuf) {
  auto* Out = static_cast<uint8_t*>(FieldBuf);
  const int32_t Size = Def->Size;
  switch (Def->FieldType) {
    case ztString:
      if (Size <= 0) return;
      std::memcpy(Out, RecBuf, static_cast<size_t>(Size));
      Out[Size - 1] = 0;
      return;
    case ztInteger:
      if (IsUnsignedInteger(Def)) {
        uint32_t U;
        std::memcpy(&U, RecBuf, 4);
        const int64_t Wide = U;
        std::memcpy(Out, &Wide, 8);
        return;
      }
      std::memcpy(Out, RecBuf, 4);
      return;
    // The record holds these in their fixed widths (32 and 64 bits), whatever else the size says.
    case ztInt64:
    case ztFloat:
    case ztCurrency: std::memcpy(Out, RecBuf, 8); return;
    case ztDate: {
      const int32_t Day = DateTimeToTimeStamp(GetAsaTimeStamp(StampAt(RecBuf))).Date;
      std::memcpy(Out, &Day, 4);
      return;
    }
    case ztTime: {
      const int32_t MSec = DateTimeToTimeStamp(GetAsaTimeStamp(StampAt(RecBuf))).Time;
      std::memcpy(Out, &MSec, 4);
      return;
    }
    case ztDateTime: {
      const double MSecs = static_cast<double>(TimeStampToMSecs(DateTimeToTimeStamp(GetAsaTimeStamp(StampAt(RecBuf)))));
      std::memcpy(Out, &MSecs, 8);
      return;
    }
    case ztBoolean: {
      const int16_t V = RecBuf[0] != 0 ? 1 : 0;
      std::memcpy(Out, &V, 2);
      return;
    }
    case ztBinary:
      if (Size > 2) std::memcpy(Out, RecBuf + 2, static_cast<size_t>(Size - 2));
      return;
    default: return;  // long values and unknown types: nothing in the record to show
  }
}

void AsaFieldToRecBuf(TComponent* DataSet, const TZyloFieldDef* Def, uint8_t* RecBuf, const void* FieldBuf) {
  const auto* In = static_cast<const uint8_t*>(FieldBuf);
  const int32_t Size = Def->Size;
  switch (Def->FieldType) {
    case ztString:
      if (Size <= 0) return;
      std::memcpy(RecBuf, In, static_cast<size_t>(Size - 1));
      RecBuf[Size - 1] = 0;
      return;
    case ztInteger:
      if (IsUnsignedInteger(Def)) {
        int64_t Wide;
        std::memcpy(&Wide, In, 8);
        if (Wide < 0 || Wide > UINT32_MAX) DatabaseError(DBMsg::FieldValueError(Def->Name), DataSet);
        const uint32_t U = static_cast<uint32_t>(Wide);
        std::memcpy(RecBuf, &U, 4);
        return;
      }
      std::memcpy(RecBuf, In, 4);
      return;
    case ztInt64:
    case ztFloat:
    case ztCurrency: std::memcpy(RecBuf, In, 8); return;
    case ztDate: {
      TTimeStamp S;
      std::memcpy(&S.Date, In, 4);
      S.Time = 0;
      PutStamp(RecBuf, true, TimeStampToDateTime(S));
      return;
    }
    case ztTime: {
      TTimeStamp S;
      std::memcpy(&S.Time, In, 4);
      S.Date = DateDelta;
      PutStamp(RecBuf, false, TimeStampToDateTime(S));
      return;
    }
    case ztDateTime: {
      double MSecs;
      std::memcpy(&MSecs, In, 8);
      // A count outside the calendar gives the all-zero record rather than undefined arithmetic.
      Tsqldatetime Stamp{};
      if (std::isfinite(MSecs) && std::fabs(MSecs) <= 9.0e15) {
        try {
          PutAsaTimeStamp(true, TimeStampToDateTime(MSecsToTimeStamp(static_cast<int64_t>(MSecs))), Stamp);
        } catch (const EConvertError&) {
          Stamp = Tsqldatetime{};
        }
      }
      std::memcpy(RecBuf, &Stamp, sizeof Stamp);
      return;
    }
    case ztBoolean: {
      int16_t V;
      std::memcpy(&V, In, 2);
      RecBuf[0] = V != 0 ? 1 : 0;
      return;
    }
    case ztBinary: {
      if (Size < 2) return;
      const uint16_t Length = static_cast<uint16_t>(Size - 2);
      std::memcpy(RecBuf, &Length, 2);
      std::memcpy(RecBuf + 2, In, Length);
      return;
    }
    default: return;
  }
}

}  // namespace

void TAsaCustomDataset::RecBufToField(const TZyloFieldDef* Def, const uint8_t* RecBuf, void* FieldBuf) {
  AsaRecBufToField(Def, RecBuf, FieldBuf);
}

void TAsaCustomDataset::FieldToRecBuf(const TZyloFieldDef* Def, uint8_t* RecBuf, const void* FieldBuf) {
  AsaFieldToRecBuf(this, Def, RecBuf, FieldBuf);
}

// ---- the published component ---------------------------------------------------------------------

const TMetaClass& TAsaDataset::StaticClass() {
  static const TMetaClass Meta = [] {
    TMetaClass M("TAsaDataset", &TAsaCustomDataset::StaticClass(), TMetaClass::Factory<TAsaDataset>());
    M.EnumProperty("CursorType",
                   {"actDefault", "actDynamicScroll", "actFixedScroll", "actInsensitive", "actNoScroll", "actUnique"},
                   &TAsaCustomDataset::GetCursorType, &TAsaCustomDataset::SetCursorType, static_cast<int>(actDefault));
    M.ObjectProperty("Params", &TZyloDataset::GetParams);
    M.Property("ParamCheck", &TZyloDataset::GetParamCheck, &TZyloDataset::SetParamCheck, true);
    M.Property("ReadOnly", &TZyloDataset::GetReadOnly, &TZyloDataset::SetReadOnly, true);
    M.ComponentProperty("Session", &TAsaCustomDataset::GetSession, &TAsaCustomDataset::SetSession);
    M.ObjectProperty("SQL", &TZyloDataset::GetSQL);
    M.Property("SyncInserts", &TZyloDataset::GetSyncInserts, &TZyloDataset::SetSyncInserts, false);
    return M;
  }();
  return Meta;
}

// ---- stored procedures -----------------------------------------------------------------------------

const TMetaClass& TAsaCustomStoredProc::StaticClass() {
  static const TMetaClass Meta("TAsaCustomStoredProc", &TZyloCustomStoredProc::StaticClass());
  return Meta;
}

TAsaCustomStoredProc::TAsaCustomStoredProc(TComponent* AOwner) : TZyloCustomStoredProc(AOwner) {
  (void)ClassRegistered;
}

TZyloSQL* TAsaCustomStoredProc::CreateZyloSQL() { return NewAsaStatement(); }

void TAsaCustomStoredProc::RecBufToField(const TZyloFieldDef* Def, const uint8_t* RecBuf, void* FieldBuf) {
  AsaRecBufToField(Def, RecBuf, FieldBuf);
}

void TAsaCustomStoredProc::FieldToRecBuf(const TZyloFieldDef* Def, uint8_t* RecBuf, const void* FieldBuf) {
  AsaFieldToRecBuf(this, Def, RecBuf, FieldBuf);
}

bool TAsaCustomStoredProc::IsSequenced() {
  return TZyloCustomStoredProc::IsSequenced() && AsaSequenced(GetSession());
}

void TAsaCustomStoredProc::QuerySPParamList(const AnsiString& Owner, AnsiString& Sql) {
  Sql =
      "select parm_name, (if (parm_mode_in='Y' and parm_mode_out='N' and parm_type=0) then 1 else (if "
      "(parm_mode_in='Y' and parm_mode_out='Y' and parm_type=0) then 2 else (if (parm_mode_in='N' and "
      "parm_mode_out='Y' and parm_type=0) then 3 else (if (parm_mode_in='N' and parm_mode_out='Y' and parm_type=4) "
      "then 4 else 0 endif) endif) endif) endif) as parm_type, domain_id as data_type from sys.sysprocedure pr, "
      "sys.sysprocparm pp, sys.sysuserperms up where pr.proc_id=pp.proc_id and creator=user_id and "
      "proc_name=:proc_name ";
  // The owner is the application's text: its quotes are doubled so that it stays one literal.
  if (!Owner.empty()) Sql += Format("and user_name='%s' ", QuotedText(Owner));
  Sql += "order by pp.proc_id, parm_id";
}

void TAsaCustomStoredProc::BuildSPCallStatement(const AnsiString& ResultParam, const AnsiString& ParamList) {
  if (!ResultParam.empty())
    GetSQL()->SetText(Format("%s = call %s(%s)", ResultParam, GetStoredProcName(), ParamList));
  else
    GetSQL()->SetText(Format("call %s(%s)", GetStoredProcName(), ParamList));
}

bool TAsaCustomStoredProc::SPNeedsLateDescribe() {
  AnsiString Owner, Name;
  SplitProcName(GetStoredProcName(), Owner, Name);
  AnsiString Sql = "select proc_defn from sys.sysprocedure, sys.sysuserperms where creator=user_id and proc_name=:proc_name";
  if (!Owner.empty()) Sql += Format(" and user_name='%s' ", QuotedText(Owner));
  std::unique_ptr<TZyloSQL> Q(CreateZyloSQL());
  Q->SetSession(GetSession());
  // A definition that cannot be read needs nothing special.
  if (!Q->Open(Sql, TVariantArray{Variant(Name)}, true)) return false;
  bool Late = false;
  if (Q->Next()) {
    Variant V;
    Q->GetFieldValue("proc_defn", V);
    const AnsiString Defn = (V.IsNull() || V.IsEmpty()) ? AnsiString() : V.AsString();
    const size_t Out = Defn.find("out"), Result = Defn.find("result(");
    Late = Out != AnsiString::npos && Result != AnsiString::npos && Out < Result;
  }
  Q->Close();
  return Late;
}

void TAsaCustomStoredProc::GetCursor(bool GenHandle) {
  if (GenHandle && SPNeedsLateDescribe()) GetAsaStatement()->SetResumable(true);
  TZyloCustomStoredProc::GetCursor(GenHandle);
}

TAsaSession* TAsaCustomStoredProc::GetSession() const {
  return dynamic_cast<TAsaSession*>(TZyloDataset::GetSession());
}

void TAsaCustomStoredProc::SetSession(TAsaSession* Value) { TZyloDataset::SetSession(Value); }

void TAsaCustomStoredProc::InternalInitFieldDefs() {
  TZyloCustomStoredProc::InternalInitFieldDefs();
  WidenUnsignedFields(FieldDefs(), Statement());
}

const TMetaClass& TAsaStoredProc::StaticClass() {
  static const TMetaClass Meta = [] {
    TMetaClass M("TAsaStoredProc", &TAsaCustomStoredProc::StaticClass(), TMetaClass::Factory<TAsaStoredProc>());
    M.ObjectProperty("Params", &TZyloDataset::GetParams);
    M.ComponentProperty("Session", &TAsaCustomStoredProc::GetSession, &TAsaCustomStoredProc::SetSession);
    M.Property("StoredProcName", &TZyloCustomStoredProc::GetStoredProcName, &TZyloCustomStoredProc::SetProcName,
               AnsiString());
    return M;
  }();
  return Meta;
}
