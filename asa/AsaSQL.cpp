// ZylAsa: TAsaSQL — the entry points, statement numbers, prepare for open, execute or both,
// describe at prepare and after open into the multi-row output descriptor, the mapping of server
// types to field types, binding of host variables, and the automatic commit.
#include <algorithm>
#include <cstring>

#include "asa/AsaSQLInternal.h"
#include "asa/ZylAsa.h"

using namespace zylasa;

const TMetaClass& TAsaSQL::StaticClass() {
  static const TMetaClass Meta = [] {
    TMetaClass M("TAsaSQL", &TZyloSQL::StaticClass(), TMetaClass::Factory<TAsaSQL>());
    M.EnumProperty("CursorType",
                   {"actDefault", "actDynamicScroll", "actFixedScroll", "actInsensitive", "actNoScroll", "actUnique"},
                   &TAsaSQL::GetCursorType, &TAsaSQL::SetCursorType, static_cast<int>(actDefault));
    M.EnumProperty("TransIsolation",
                   {"atUnchanged", "atReadUncommitted", "atReadCommitted", "atReapeatableRead", "atSerializable"},
                   &TAsaSQL::GetTransIsolation, &TAsaSQL::SetTransIsolation, static_cast<int>(atUnchanged));
    return M;
  }();
  return Meta;
}

// Streams create the statement by its class name.
namespace {
const bool ClassRegistered = (RegisterClass(TAsaSQL::StaticClass()), true);
}

TAsaSQL::TAsaSQL(TComponent* AOwner) : TZyloSQL(AOwner) {
  (void)ClassRegistered;
  FCursorType = actDefault;
  FTransIsolation = atUnchanged;
}

TAsaSQL::~TAsaSQL() {
  // Unprepare while this class's operations still dispatch; then nothing is left to free.
  DestroyStatement();
  FreeSqldaNoInd(FOutputSQLDA);
  FreeSqlda(FOpenInputSQLDA);
  FreeSqlda(FExecInputSQLDA);
  FreeSqlda(FExecOutputSQLDA);
}

// ---- library access ------------------------------------------------------------------------------

TAsaSession* TAsaSQL::AsaSession() const {
  TZyloSession* S = GetSession();
  auto* A = dynamic_cast<TAsaSession*>(S);
  if (!A) throw EAsaException(ZylLoadStr(ZYL_ERR_SESS_NIL), 0);
  return A;
}

SQLCA* TAsaSQL::Sqlca() const { return AsaSession()->GetSQLCA(); }

bool TAsaSQL::CheckResult() { return Check(nullptr, 0, 0, GetWantExceptions()); }

void TAsaSQL::InternalLoadLibraryProcs() {
  TAsaSession* S = AsaSession();
  FLibraryVersion = S->Version();
  FArgumentRecord = S->ArgRecord();
  HMODULE Lib = S->GetLibraryHandle();
  struct Entry {
    const char* Name;
    void* TProcs::*Slot;
  };
  static const Entry Table[] = {
      {"dbpp_prepare", &TProcs::dbpp_prepare},
      {"dbpp_dropstmt", &TProcs::dbpp_dropstmt},
      {"dbpp_execute_into", &TProcs::dbpp_execute_into},
      {"dbpp_execute_imm", &TProcs::dbpp_execute_imm},
      {"dbpp_describe", &TProcs::dbpp_describe},
      {"dbpp_describe_cursor", &TProcs::dbpp_describe_cursor},
      {"dbpp_describe_names", &TProcs::dbpp_describe_names},
      {"dbpp_declare", &TProcs::dbpp_declare},
      {"dbpp_open", &TProcs::dbpp_open},
      {"dbpp_explain", &TProcs::dbpp_explain},
      {"dbpp_fetch", &TProcs::dbpp_fetch},
      {"dbpp_fetch_array", &TProcs::dbpp_fetch_array},
      {"dbpp_get_data", &TProcs::dbpp_get_data},
      {"dbpp_put_into", &TProcs::dbpp_put_into},
      {"dbpp_update", &TProcs::dbpp_update},
      {"dbpp_delete", &TProcs::dbpp_delete},
      {"dbpp_resume", &TProcs::dbpp_resume},
      {"dbpp_close", &TProcs::dbpp_close},
      {"alloc_sqlda", &TProcs::alloc_sqlda},
      {"free_sqlda", &TProcs::free_sqlda},
      {"alloc_sqlda_noind", &TProcs::alloc_sqlda_noind},
      {"fill_sqlda", &TProcs::fill_sqlda},
      {"free_sqlda_noind", &TProcs::free_sqlda_noind},
      {"free_filled_sqlda", &TProcs::free_filled_sqlda},
      {"dbpp_commit", &TProcs::dbpp_commit},
      {"dbpp_rollback", &TProcs::dbpp_rollback},
  };
  for (const Entry& E : Table) {
    FProcs.*E.Slot = Lib ? AsaGetPPProc(Lib, E.Name) : AsaDummyProc();
  }
}

// The descriptor calls take no SQLCA. A library without them gets ZylDummyProc, which raises.
SQLDA* TAsaSQL::AllocSqlda(unsigned N) {
  return reinterpret_cast<SQLDA* (*)(unsigned)>(FProcs.alloc_sqlda)(N);
}
SQLDA* TAsaSQL::AllocSqldaNoInd(unsigned N) {
  return reinterpret_cast<SQLDA* (*)(unsigned)>(FProcs.alloc_sqlda_noind)(N);
}
void TAsaSQL::FreeSqlda(SQLDA*& Da) {
  SQLDA* D = Da;
  Da = nullptr;
  if (D && FProcs.free_sqlda) reinterpret_cast<void (*)(SQLDA*)>(FProcs.free_sqlda)(D);
}
void TAsaSQL::FreeSqldaNoInd(SQLDA*& Da) {
  SQLDA* D = Da;
  Da = nullptr;
  if (D && FProcs.free_sqlda_noind) reinterpret_cast<void (*)(SQLDA*)>(FProcs.free_sqlda_noind)(D);
}

// ---- prepare and unprepare -------------------------------------------------------------------------

bool TAsaSQL::PrepareStatement(int16_t& Statement, const AnsiString& SQL) {
  TAsaStatementPool* Pool = AsaSession()->GetStatementPool();
  Statement = static_cast<int16_t>(Pool->Next());
  Pp(FProcs.dbpp_prepare, static_cast<char*>(nullptr), ModuleName(), &Statement, const_cast<char*>(SQL.c_str()),
     static_cast<struct sqlda*>(nullptr), 1u);
  if (!CheckResult()) return false;  // the number was never marked used
  Pool->Use(Statement);
  return true;
}

bool TAsaSQL::InternalPrepareOpen(const AnsiString& SQL) {
  InternalNeedLibrary();
  FResumable = false;
  if (!PrepareStatement(FOpenStatement, SQL)) return false;

  // From here a failure drops the number again, so no library statement is left behind.
  bool Result = false;
  try {
    TOwnedSqlda Probe{this, AllocSqldaNoInd(0), false};
    Pp(FProcs.dbpp_describe, static_cast<char*>(nullptr), ModuleName(), &FOpenStatement, Probe.Da,
       static_cast<unsigned>(DESCRIBE_OUTPUT_VARIABLE));
    if (CheckResult()) {
      // sqlerrd[2] 0: the shape of the result may change from one execution to the next.
      FResumable = Sqlca()->sqlerrd[2] == 0 && FLibraryVersion >= 5;
      if (FResumable) {
        AsaSession()->GetStatementPool()->Clear();
        Result = true;
      } else if (Probe.Da && Probe.Da->sqld > 0) {
        Result = InternalDescribePrepare();
      } else {
        Result = true;
      }
    }
  } catch (...) {
    FreeSqldaNoInd(FOutputSQLDA);
    InternalDropStatement(FOpenStatement);
    throw;
  }
  if (!Result) {
    FreeSqldaNoInd(FOutputSQLDA);
    InternalDropStatement(FOpenStatement);
    return false;
  }
  TZyloSQL::InternalPrepareOpen(SQL);
  DoNotify(AfterPrepare);
  return true;
}

bool TAsaSQL::InternalPrepareExecute(const AnsiString& SQL) {
  InternalNeedLibrary();
  if (!PrepareStatement(FExecStatement, SQL)) return false;
  bool Result = TZyloSQL::InternalPrepareExecute(SQL);
  DoNotify(AfterPrepare);
  return Result;
}

bool TAsaSQL::InternalPrepare(const AnsiString& SQL) {
  if (!InternalPrepareOpen(SQL)) return false;
  FExecStatement = FOpenStatement;  // one library statement serves both paths
  return TZyloSQL::InternalPrepareExecute(SQL);
}

void TAsaSQL::InternalDropStatement(int16_t& Statement) {
  if (TZyloSession* S = GetSessionObject())
    if (auto* A = dynamic_cast<TAsaSession*>(S)) A->GetStatementPool()->Drop(Statement);
  // Without a connection there is no statement left to drop in the library.
  if (GetSessionObject() && GetSessionObject()->GetConnected() && FProcs.dbpp_dropstmt)
    Pp(FProcs.dbpp_dropstmt, static_cast<char*>(nullptr), ModuleName(), &Statement);
  Statement = 0;
}

void TAsaSQL::InternalUnprepareOpen() {
  FreeSqldaNoInd(FOutputSQLDA);
  FreeSqlda(FOpenInputSQLDA);
  FOpenVariableNames.clear();
  if (GetPrepared() && FOpenStatement != 0) {
    if (FExecStatement == FOpenStatement) FExecStatement = 0;  // the shared number is dropped once
    FResumable = false;
    InternalDropStatement(FOpenStatement);
    TZyloSQL::InternalUnprepareOpen();
    if (!IsDestroying()) DoNotify(AfterUnprepare);
  } else {
    TZyloSQL::InternalUnprepareOpen();
  }
}

void TAsaSQL::InternalUnprepareExecute() {
  FreeSqlda(FExecInputSQLDA);
  FreeSqlda(FExecOutputSQLDA);
  FExecVariableNames.clear();
  if (GetExecPrepared() && FExecStatement != 0) {
    if (FOpenStatement == FExecStatement) FOpenStatement = 0;
    FResumable = false;
    InternalDropStatement(FExecStatement);
    TZyloSQL::InternalUnprepareExecute();
    if (!IsDestroying()) DoNotify(AfterUnprepare);
  } else {
    TZyloSQL::InternalUnprepareExecute();
  }
}

// ---- describe ------------------------------------------------------------------------------------

// Rows per block: a descriptor holds at most 32767 variables, so a very wide result gets fewer
// rows per block rather than a descriptor the library cannot allocate.
static int32_t BlockRows(int32_t Columns, int32_t MaxRows) {
  if (Columns <= 0) return MaxRows;
  return std::max<int32_t>(1, std::min<int32_t>(MaxRows, 32767 / Columns));
}

bool TAsaSQL::InternalDescribePrepare() {
  FreeSqldaNoInd(FOutputSQLDA);
  FOutputSQLDA = AllocSqldaNoInd(0);
  Pp(FProcs.dbpp_describe, static_cast<char*>(nullptr), ModuleName(), &FOpenStatement, FOutputSQLDA,
     static_cast<unsigned>(DESCRIBE_OUTPUT));
  if (!CheckResult()) return false;
  const int32_t N = FOutputSQLDA->sqld;
  FreeSqldaNoInd(FOutputSQLDA);
  FFetchCount = BlockRows(N, GetMaxFetchCount());
  FOutputSQLDA = AllocSqldaNoInd(static_cast<unsigned>(N * FFetchCount));
  if (!FOutputSQLDA) return false;
  Pp(FProcs.dbpp_describe, static_cast<char*>(nullptr), ModuleName(), &FOpenStatement, FOutputSQLDA,
     static_cast<unsigned>(DESCRIBE_OUTPUT));
  FOutputSQLDA->sqld = FOutputSQLDA->sqln;
  return DescribeColumns(false);
}

bool TAsaSQL::InternalDescribeOpen(bool ReadOnly) {
  FreeSqldaNoInd(FOutputSQLDA);
  InternalFreeOpenBuffer();
  FOutputSQLDA = AllocSqldaNoInd(0);
  Pp(FProcs.dbpp_describe_cursor, FCursorName, FOutputSQLDA, static_cast<unsigned>(DESCRIBE_OUTPUT));
  if (!CheckResult()) return false;
  const int32_t N = FOutputSQLDA->sqld;
  FreeSqldaNoInd(FOutputSQLDA);
  FOutputSQLDA = AllocSqldaNoInd(static_cast<unsigned>(N));
  if (!FOutputSQLDA) return false;
  Pp(FProcs.dbpp_describe_cursor, FCursorName, FOutputSQLDA, static_cast<unsigned>(DESCRIBE_OUTPUT));

  FFetchCount = BlockRows(N, GetMaxFetchCount());
  if (!ReadOnly) FFetchCount = 1;
  for (int32_t I = 0; I < N && FFetchCount > 1; ++I) {
    int Code = FOutputSQLDA->sqlvar[I].sqltype & DT_TYPES;
    if (Code == DT_LONGVARCHAR || Code == DT_LONGBINARY) FFetchCount = 1;
  }
  if (FFetchCount > 1) {
    FreeSqldaNoInd(FOutputSQLDA);
    FOutputSQLDA = AllocSqldaNoInd(static_cast<unsigned>(N * FFetchCount));
    if (!FOutputSQLDA) return false;
    Pp(FProcs.dbpp_describe_cursor, FCursorName, FOutputSQLDA, static_cast<unsigned>(DESCRIBE_OUTPUT));
  }
  FOutputSQLDA->sqld = FOutputSQLDA->sqln;
  return DescribeColumns(true);
}

bool TAsaSQL::DescribeColumns(bool OfCursor) {
  SQLDA* Da = FOutputSQLDA;
  const int32_t Rows = FFetchCount;
  const int32_t N = Rows > 0 ? Da->sqln / Rows : 0;
  FRecordSize = 0;
  FIndicatorSize = 0;
  GetFieldDefs()->Clear();
  bool LongNames = false;
  for (int32_t R = 0; R < Rows; ++R) {
    for (int32_t I = 0; I < N; ++I) {
      if (R == 0) {
        if (Da->sqlvar[I].sqlname.length >= SQL_MAX_NAME_LEN) LongNames = true;
        InternalInitFieldDef(GetFieldDefs(), I, &FOutputSQLDA, GetBlobSize() + 4);
        FRecordSize += Da->sqlvar[I].sqllen;
        FIndicatorSize += 2;
      } else {
        SQLVAR& Src = Da->sqlvar[I];
        SQLVAR& Dst = Da->sqlvar[R * N + I];
        Dst.sqltype = Src.sqltype;
        Dst.sqllen = Src.sqllen;
        std::memcpy(&Dst.sqlname, &Src.sqlname, sizeof Dst.sqlname);
      }
    }
  }
  if (LongNames && FLibraryVersion >= 5) ReadLongNames(OfCursor, N);

  InternalAllocOpenBuffer();
  GetBlobManager()->Clear();

  // Row r's values lie contiguously in the fetch buffer, row after row, in field order.
  uint8_t* Data = GetFetchBuffer();
  uint8_t* Ind = GetFetchIndicators();
  for (int32_t R = 0; R < Rows; ++R) {
    for (int32_t I = 0; I < N; ++I) {
      TZyloFieldDef* Def = GetFieldDefs()->Items(I);
      if (!Def) continue;
      SQLVAR& V = Da->sqlvar[R * N + I];
      V.sqldata = Data;
      V.sqlind = reinterpret_cast<a_sql_len*>(Ind);
      if (R == 0 && ZylIsBlobType(Def->FieldType)) InternalCreateBlobStream(Def->Name);
      Data += Def->Size;
      Ind += 2;
    }
  }
  return true;
}

// Column aliases longer than the descriptor's 30 characters come through a name descriptor.
void TAsaSQL::ReadLongNames(bool OfCursor, int32_t N) {
  SQLDA* Names = AllocSqldaNoInd(static_cast<unsigned>(N));
  if (!Names) return;
  for (int32_t I = 0; I < Names->sqln; ++I) {
    Names->sqlvar[I].sqltype = DT_STRING;
    Names->sqlvar[I].sqllen = 128;
  }
  Names->sqld = Names->sqln;
  if (!reinterpret_cast<SQLDA* (*)(SQLDA*)>(FProcs.fill_sqlda)(Names)) {
    FreeSqldaNoInd(Names);
    return;
  }
  if (OfCursor)
    Pp(FProcs.dbpp_describe_names, static_cast<char*>(nullptr), static_cast<char*>(nullptr),
       static_cast<short*>(nullptr), FCursorName, Names, static_cast<unsigned>(DESCRIBE_LONG_NAMES),
       static_cast<unsigned short>(DESCRIBE_NAMES_COLUMN));
  else
    Pp(FProcs.dbpp_describe_names, static_cast<char*>(nullptr), ModuleName(), &FOpenStatement,
       static_cast<char*>(nullptr), Names, static_cast<unsigned>(DESCRIBE_LONG_NAMES),
       static_cast<unsigned short>(DESCRIBE_NAMES_COLUMN));
  // A failed describe leaves the name buffers as they were: only a clean result is taken.
  if (Sqlca()->sqlcode >= 0) {
    for (int32_t I = 0; I < N && I < Names->sqln; ++I) {
      TZyloFieldDef* Def = GetFieldDefs()->Items(I);
      const char* Text = static_cast<const char*>(Names->sqlvar[I].sqldata);
      if (!Def || !Text) continue;
      size_t Len = strnlen(Text, 128);
      if (Len >= 29) Def->Name.assign(Text, Len);
    }
  }
  SQLDA* D = Names;
  reinterpret_cast<void (*)(SQLDA*)>(FProcs.free_filled_sqlda)(D);
}

// ---- type mapping ----------------------------------------------------------------------------------

void TAsaSQL::InternalInitFieldDef(TZyloFieldDefs* Defs, int32_t Index, void* Descriptor, int32_t Extra) {
  SQLDA* Da = *static_cast<SQLDA**>(Descriptor);
  SQLVAR& V = Da->sqlvar[Index];
  const int32_t LongSize = Extra;
  size_t NameLen = strnlen(V.sqlname.data, SQL_MAX_NAME_LEN);
  if (V.sqlname.length >= 0 && static_cast<size_t>(V.sqlname.length) < NameLen) NameLen = V.sqlname.length;
  AnsiString Name(V.sqlname.data, NameLen);
  TZyloSession* S = GetSessionObject();
  if (S && S->GetOEMConvert() && !Name.empty())
    S->TranslateChar(Name.data(), Name.data(), false, static_cast<int32_t>(Name.size()));
  const bool Nulls = (V.sqltype & DT_NULLS_ALLOWED) != 0;
  const int32_t Len = static_cast<uint16_t>(V.sqllen);

  TAsaTypeMapping M = AsaMapServerType(V.sqltype & DT_TYPES, Len, LongSize);
  V.sqltype = static_cast<short>(M.ExtType | (Nulls ? DT_NULLS_ALLOWED : 0));
  V.sqllen = static_cast<a_sql_len>(M.Size);
  InternalAddFieldDef(Defs, Name, M.FieldType, M.ExtType, M.Size, M.Length, M.Precision, M.Decimals, Nulls,
                      kiRegularField);
}

TAsaTypeMapping zylasa::AsaMapServerType(int32_t Code, int32_t Len, int32_t LongSize) {
  TAsaTypeMapping M;
  switch (Code) {
    case DT_DATE:
      M = {ztDate, DT_TIMESTAMP_STRUCT, 14, 10, 0, 0};
      break;
    case DT_TIME:
      M = {ztTime, DT_TIMESTAMP_STRUCT, 14, 8, 0, 0};
      break;
    case DT_TIMESTAMP_STRUCT:
    case DT_TIMESTAMP:
      M = {ztDateTime, DT_TIMESTAMP_STRUCT, 14, 19, 0, 0};
      break;
    case DT_VARCHAR:
    case DT_FIXCHAR:
    case DT_STRING:
      if (Len <= 8192)
        M = {ztString, DT_STRING, Len + 1, Len, 0, 0};
      else
        M = {ztMemo, DT_STRING, LongSize, 0, 0, 0};
      break;
    case DT_LONGVARCHAR:
      M = {ztMemo, DT_STRING, LongSize, 0, 0, 0};
      break;
    case DT_DOUBLE:
    case DT_FLOAT:
      M = {ztFloat, DT_DOUBLE, 8, 10, 0, 0};
      break;
    case DT_DECIMAL: {
      int32_t P = Len & 0xFF, D = (Len >> 8) & 0xFF;
      bool Money = D == 4 && (P == 10 || P == 19 || P == 20);
      M = {Money ? ztCurrency : ztFloat, DT_DOUBLE, 8, 10, P, D};
      break;
    }
    case DT_INT:
    case DT_SMALLINT:
    case DT_TINYINT:
    case DT_UNSSMALLINT:
      M = {ztInteger, DT_INT, 4, 10, 0, 0};
      break;
    case DT_UNSINT:
      // Read as a 64-bit integer: values from 2^31 on do not fit the 32-bit one.
      M = {ztInt64, DT_BIGINT, 8, 10, 0, 0};
      break;
    case DT_BIGINT:
    case DT_UNSBIGINT:
      M = {ztInt64, DT_BIGINT, 8, 10, 0, 0};
      break;
    case DT_BIT:
      M = {ztBoolean, DT_BIT, 1, 5, 0, 0};
      break;
    case DT_BINARY:
      M = {ztBinary, DT_BINARY, Len + 2, Len, 0, 0};
      break;
    case DT_LONGBINARY:
      M = {ztBlob, DT_STRING, LongSize, 0, 0, 0};
      break;
    default:
      M = {ztUnknown, 0, 0, 0, 0, 0};
      break;
  }
  return M;
}

int32_t TAsaSQL::InternalGetVariableLength(TZyloFieldTypes FieldType) {
  switch (FieldType) {
    case ztString:
      return 8193;
    case ztInteger:
      return 4;
    case ztInt64:
    case ztFloat:
    case ztCurrency:
      return 8;
    case ztDate:
    case ztTime:
    case ztDateTime:
      return 14;
    case ztBoolean:
      return 1;
    case ztBinary:
    case ztMemo:
    case ztBlob:
      return 32767;
    default:
      return 0;
  }
}

TZyloFieldTypes TAsaSQL::InternalGetVariableTypeAndLength(const Variant& Value, int32_t& Length) {
  TZyloFieldTypes Type = TZyloSQL::InternalGetVariableTypeAndLength(Value, Length);
  // A binary variable is bound as the library's binary structure: a 16-bit length and then the
  // bytes, so its 32767 bytes carry 32765 of them. Longer arrays go whole as long values.
  if (Type == ztBinary && Value.ElementCount() + 2 > Length) {
    Type = ztBlob;
    Length = Value.ElementCount();
  }
  return Type;
}

int32_t TAsaSQL::InternalGetVariableExtType(TZyloFieldTypes FieldType) {
  switch (FieldType) {
    case ztString:
    case ztMemo:
      return DT_STRING;
    case ztInteger:
      return DT_INT;
    case ztInt64:
      return DT_BIGINT;
    case ztFloat:
    case ztCurrency:
      return DT_DOUBLE;
    case ztDate:
    case ztTime:
    case ztDateTime:
      return DT_TIMESTAMP_STRUCT;
    case ztBoolean:
      return DT_BIT;
    case ztBinary:
    case ztBlob:
      return DT_BINARY;
    default:
      return 0;
  }
}

// ---- binding ---------------------------------------------------------------------------------------

bool TAsaSQL::InternalBindVariables(void* Statement, TZyloVariableDefs* Variables, void*& Descriptor,
                                    TStrings* BlobNames) {
  auto* Stmt = static_cast<int16_t*>(Statement);
  SQLDA* Da = AllocSqlda(0);
  Descriptor = Da;
  Pp(FProcs.dbpp_describe, static_cast<char*>(nullptr), ModuleName(), Stmt, Da, static_cast<unsigned>(DESCRIBE_INPUT));
  if (!CheckResult()) return false;
  const int32_t N = Da->sqld;
  FreeSqlda(Da);
  Descriptor = nullptr;
  Da = AllocSqlda(static_cast<unsigned>(N));
  Descriptor = Da;
  if (!Da) return false;
  Pp(FProcs.dbpp_describe, static_cast<char*>(nullptr), ModuleName(), Stmt, Da, static_cast<unsigned>(DESCRIBE_INPUT));

  // Names of connection variables must outlive this call: the descriptor points at them. Side
  // statements (any other number) create no variables, and must not touch these lists while a
  // binding that fills them is running.
  std::deque<AnsiString>* VarNames = Stmt == &FOpenStatement   ? &FOpenVariableNames
                                     : Stmt == &FExecStatement ? &FExecVariableNames
                                                               : nullptr;
  if (!VarNames) BlobNames = nullptr;
  if (VarNames) VarNames->clear();
  uint8_t* Data = Variables->Buffer.Data();
  int32_t J = 0;
  for (int32_t I = 0; I < N && I < Da->sqln; ++I) {
    SQLVAR& V = Da->sqlvar[I];
    a_sql_len Direction = V.sqlind ? *V.sqlind : 0;
    const bool OutOnly = (Direction & DT_PROCEDURE_OUT) != 0 && (Direction & DT_PROCEDURE_IN) == 0;
    auto SetInd = [&V](a_sql_len Value) {
      if (V.sqlind) *V.sqlind = Value;
    };
    if (OutOnly) {
      SetInd(-1);
      continue;
    }
    TZyloFieldDef* Def = J < Variables->Count() ? Variables->Items(J) : nullptr;
    ++J;
    if (!Def) {
      SetInd(-1);
      continue;
    }
    size_t NameLen = strnlen(V.sqlname.data, SQL_MAX_NAME_LEN);
    if (V.sqlname.length >= 0 && static_cast<size_t>(V.sqlname.length) < NameLen) NameLen = V.sqlname.length;
    Def->Name.assign(V.sqlname.data, NameLen);
    // A definition whose bytes would leave the buffer is sent as NULL rather than read past it.
    const bool Fits = Data && static_cast<int64_t>(Def->Offset) + Def->Size <= Variables->Buffer.Size();
    if (Def->FieldType == ztUnknown || !Fits) {
      SetInd(-1);
    } else if (!ZylIsBlobType(Def->FieldType)) {
      V.sqltype = static_cast<short>(Def->ExtType);
      V.sqllen = static_cast<a_sql_len>(Def->Size);
      V.sqldata = Data + Def->Offset;
      SetInd(0);
    } else {
      if (BlobNames) {
        AnsiString Name = Format("blobparam%d", I + 1);
        if (!SendLongValue(Name, Data + Def->Offset, Def->Size, BlobNames)) return false;
        VarNames->push_back(Name);
        V.sqltype = DT_VARIABLE;
        V.sqldata = const_cast<char*>(VarNames->back().c_str());
      }
      SetInd(0);
    }
  }
  return true;
}

bool TAsaSQL::InternalBindOutVariables(void* Statement, TZyloVariableDefs* Variables, void*& Descriptor,
                                       TStrings* /*BlobNames*/) {
  auto* Stmt = static_cast<int16_t*>(Statement);
  SQLDA* Da = AllocSqlda(0);
  Descriptor = Da;
  Pp(FProcs.dbpp_describe, static_cast<char*>(nullptr), ModuleName(), Stmt, Da, static_cast<unsigned>(DESCRIBE_OUTPUT));
  if (!CheckResult()) return false;
  const int32_t N = Da->sqld;
  FreeSqlda(Da);
  Descriptor = nullptr;
  if (N <= 0) return true;
  Da = AllocSqlda(static_cast<unsigned>(N));
  Descriptor = Da;
  if (!Da) return false;
  Pp(FProcs.dbpp_describe, static_cast<char*>(nullptr), ModuleName(), Stmt, Da, static_cast<unsigned>(DESCRIBE_OUTPUT));
  Variables->Clear();
  for (int32_t I = 0; I < N && I < Da->sqln; ++I) InternalInitFieldDef(Variables, I, &Da, 32767);
  Variables->SetBufSize(Variables->Size());
  // Nothing delivered yet: every output reads as NULL until an execute fills it.
  Variables->Indicators.Allocate(static_cast<int64_t>(N) * 2);
  Variables->Indicators.Fill(0xFF, Variables->Indicators.Size());
  uint8_t* Data = Variables->Buffer.Data();
  for (int32_t I = 0; I < N && I < Da->sqln; ++I) {
    TZyloFieldDef* Def = Variables->Items(I);
    if (!Def) continue;
    Da->sqlvar[I].sqldata = Data ? Data + Def->Offset : nullptr;
  }
  return true;
}

bool TAsaSQL::InternalBindOpenVariables(TStrings* BlobNames) {
  FreeSqlda(FOpenInputSQLDA);
  void* D = nullptr;
  bool Ok = InternalBindVariables(&FOpenStatement, GetOpenVariables(), D, BlobNames);
  FOpenInputSQLDA = static_cast<SQLDA*>(D);
  GetOpenVariables()->Bound = Ok;
  return Ok;
}

bool TAsaSQL::InternalBindExecVariables(TStrings* BlobNames) {
  FreeSqlda(FExecInputSQLDA);
  FreeSqlda(FExecOutputSQLDA);
  void* In = nullptr;
  bool Ok = InternalBindVariables(&FExecStatement, GetExecVariables(), In, BlobNames);
  FExecInputSQLDA = static_cast<SQLDA*>(In);
  if (Ok) {
    void* Out = nullptr;
    Ok = InternalBindOutVariables(&FExecStatement, GetOutVariables(), Out, BlobNames);
    FExecOutputSQLDA = static_cast<SQLDA*>(Out);
  }
  GetExecVariables()->Bound = Ok;
  GetOutVariables()->Bound = Ok;
  return Ok;
}

// ---- automatic commit --------------------------------------------------------------------------------

void TAsaSQL::InternalAutoCommit() {
  TZyloSession* S = GetSession();
  if (!S || S->GetInTransaction() || !S->GetAutoCommit()) return;
  Pp(FProcs.dbpp_commit, 0u);
  // The commit's own outcome is what the following Check reports, not the rollback's.
  SQLCA* Ca = Sqlca();
  const an_sql_code Code = Ca->sqlcode;
  an_sql_state State;
  std::memcpy(State, Ca->sqlstate, sizeof State);
  const short ErrMl = Ca->sqlerrml;
  unsigned char ErrMc[sizeof Ca->sqlerrmc];
  std::memcpy(ErrMc, Ca->sqlerrmc, sizeof ErrMc);
  if (Code < 0) {
    Pp(FProcs.dbpp_rollback, 0u);
    Ca->sqlcode = Code;
    std::memcpy(Ca->sqlstate, State, sizeof State);
    Ca->sqlerrml = ErrMl;
    std::memcpy(Ca->sqlerrmc, ErrMc, sizeof ErrMc);
  }
}
