// ZylDbx: TSQLMetaDataZYL and TSQLMetaDataCursorZYL — the catalog requests answered by fixed
// queries on the system tables, re-shaped into the dbExpress catalog layouts.
#include <algorithm>
#include <cstring>

#include "dbxdriver/ZylDbx.h"

namespace {

AnsiString Text(const char* S) { return S ? AnsiString(S) : AnsiString(); }

// ---- the queries ---------------------------------------------------------------------------------

const char* const kTablesQuery =
    "select null, null, user_name, user_name+'.'+table_name, (if table_type='BASE' then 1 else (if "
    "table_type='VIEW' then 2 else 1 endif) endif) as tab_type from sys.systable, sys.sysuserperms where "
    "creator=user_id and (table_type='%s' or table_type='%s') %s order by 3,4";

const char* const kProceduresQuery =
    "select null, null, user_name, user_name+'.'+proc_name, 1, 0, 0 from sys.sysprocedure, sys.sysuserperms "
    "where creator=user_id order by 3,4";

const char* const kColumnsQuery =
    "select null, null, user_name, table_name, column_name, column_id, 8, sc.domain_id as data_type, "
    "sd.domain_name as type_name, (if sc.domain_id=10 then 22 else (if sc.domain_id=12 then 23 else 0 endif) "
    "endif) as sub_type, sc.width as data_length, sc.width as data_prec, sc.scale as data_scale, (if "
    "sc.nulls='Y' then 1 else 0 endif) as data_nullable from sys.systable st, sys.syscolumn sc, sysdomain sd, "
    "sys.sysuserperms sp where st.table_id=sc.table_id and sc.domain_id=sd.domain_id and st.creator=user_id "
    "and st.table_name='%s' order by 6";

const char* const kProcedureParamsQuery =
    "select null, null, user_name, proc_name, parm_name, parm_id, (if (parm_mode_in='Y' and parm_mode_out='N' "
    "and parm_type=0) then 1 else (if (parm_mode_in='N' and parm_mode_out='Y' and parm_type=0) then 2 else (if "
    "(parm_mode_in='Y' and parm_mode_out='Y' and parm_type=0) then 3 else (if (parm_mode_in='N' and "
    "parm_mode_out='Y' and parm_type=4) then 4 else 0 endif) endif) endif) endif) as parm_type, pp.domain_id as "
    "data_type, (if pp.domain_id=10 then 22 else (if pp.domain_id=12 then 23 else 0 endif) endif) as sub_type, "
    "sd.domain_name as type_name, pp.width as data_length, pp.width as data_prec, pp.scale as data_scale, 1 as "
    "data_nullable from sys.sysprocedure sp, sys.sysprocparm pp, sysdomain sd, sys.sysuserperms up where "
    "sp.proc_id=pp.proc_id and pp.domain_id=sd.domain_id and sp.creator=user_id and proc_name='%s' order by 6";

// The sort order in upper case: the host tests SORT_ORDER for 'D'.
const char* const kIndicesQuery =
    "select null, null, user_name, table_name, index_name, column_name, sequence, null, (if \"unique\"='N' then "
    "1 else (if \"unique\"='Y' then 2 else (if \"unique\"='U' then 2 else 0 endif) endif) endif) as index_type, "
    "(if \"order\"='D' then 'D' else 'A' endif) as sort_order, null from sys.systable st, sys.sysindex si, "
    "sys.sysixcol sx, sys.syscolumn sc, sys.sysuserperms sp where st.table_id=si.table_id and "
    "si.table_id=sx.table_id and si.index_id=sx.index_id and sc.table_id=sx.table_id and "
    "sx.column_id=sc.column_id and si.creator=user_id and st.table_name='%s' order by 5,7";

// ---- the layouts ---------------------------------------------------------------------------------

enum : uint8_t { srcNone = 0, srcQuery = 1, srcNullText = 2, srcPrecision = 3, srcDomain = 4, srcRowNumber = 5 };

const TDbxCatalogColumn kTablesLayout[] = {
    {"RECNO", fldINT32, 4, srcRowNumber},        {"CATALOG_NAME", fldZSTRING, -1, srcNullText},
    {"SCHEMA_NAME", fldZSTRING, -1, srcQuery},   {"TABLE_NAME", fldZSTRING, -1, srcQuery},
    {"TABLE_TYPE", fldINT32, 4, srcQuery},
};
const TDbxCatalogColumn kProceduresLayout[] = {
    {"RECNO", fldINT32, 4, srcRowNumber},      {"CATALOG_NAME", fldZSTRING, -1, srcNullText},
    {"SCHEMA_NAME", fldZSTRING, -1, srcQuery}, {"PROC_NAME", fldZSTRING, -1, srcQuery},
    {"PROC_TYPE", fldINT32, 4, srcQuery},      {"IN_PARAMS", fldINT32, -1, srcQuery},
    {"OUT_PARAMS", fldINT32, -1, srcQuery},
};
const TDbxCatalogColumn kColumnsLayout[] = {
    {"RECNO", fldINT32, 4, srcRowNumber},          {"CATALOG_NAME", fldZSTRING, -1, srcNullText},
    {"SCHEMA_NAME", fldZSTRING, -1, srcQuery},     {"TABLE_NAME", fldZSTRING, -1, srcQuery},
    {"COLUMN_NAME", fldZSTRING, -1, srcQuery},     {"COLUMN_POSITION", fldINT32, -1, srcQuery},
    {"COLUMN_TYPE", fldINT32, -1, srcQuery},       {"COLUMN_DATATYPE", fldINT32, -1, srcDomain},
    {"COLUMN_TYPENAME", fldZSTRING, -1, srcQuery}, {"COLUMN_SUBTYPE", fldINT32, -1, srcQuery},
    {"COLUMN_LENGTH", fldINT32, -1, srcQuery},     {"COLUMN_PRECISION", fldINT32, -1, srcPrecision},
    {"COLUMN_SCALE", fldINT32, -1, srcQuery},      {"COLUMN_NULLABLE", fldINT32, -1, srcQuery},
};
const TDbxCatalogColumn kProcedureParamsLayout[] = {
    {"RECNO", fldINT32, 4, srcRowNumber},         {"CATALOG_NAME", fldZSTRING, -1, srcNullText},
    {"SCHEMA_NAME", fldZSTRING, -1, srcQuery},    {"PROCEDURE_NAME", fldZSTRING, -1, srcQuery},
    {"PARAM_NAME", fldZSTRING, -1, srcQuery},     {"PARAM_POSITION", fldINT32, -1, srcQuery},
    {"PARAM_TYPE", fldINT32, -1, srcQuery},       {"PARAM_DATATYPE", fldINT32, -1, srcDomain},
    {"PARAM_SUBTYPE", fldINT32, -1, srcQuery},    {"PARAM_TYPENAME", fldZSTRING, -1, srcQuery},
    {"PARAM_LENGTH", fldINT32, -1, srcQuery},     {"PARAM_PRECISION", fldINT32, -1, srcPrecision},
    {"PARAM_SCALE", fldINT32, -1, srcQuery},      {"PARAM_NULLABLE", fldINT32, -1, srcQuery},
};
const TDbxCatalogColumn kIndicesLayout[] = {
    {"RECNO", fldINT32, 4, srcRowNumber},       {"CATALOG_NAME", fldZSTRING, -1, srcNullText},
    {"SCHEMA_NAME", fldZSTRING, -1, srcQuery},  {"TABLE_NAME", fldZSTRING, -1, srcQuery},
    {"INDEX_NAME", fldZSTRING, -1, srcQuery},   {"COLUMN_NAME", fldZSTRING, -1, srcQuery},
    {"COLUMN_POSITION", fldINT32, -1, srcQuery}, {"PKEY_NAME", fldZSTRING, -1, srcNone},
    {"INDEX_TYPE", fldINT32, -1, srcQuery},     {"SORT_ORDER", fldZSTRING, -1, srcQuery},
    {"FILTER", fldZSTRING, -1, srcNone},
};

template <size_t N>
void Select(const TDbxCatalogColumn (&Layout)[N], const TDbxCatalogColumn*& Columns, uint16_t& Count) {
  Columns = Layout;
  Count = static_cast<uint16_t>(N);
}

const char* const kNullText = "<NULL>";
// The width given to a text column of unknown width (a long text in the catalog query): an
// owner, a dot and a name of 128 characters each, and the NUL.
constexpr uint32_t kWideCatalogText = 128 + 1 + 128 + 1;

// The domain number of query column 8 (COLUMN_DATATYPE, PARAM_DATATYPE).
constexpr uint16_t kDomainColumn = 8;

// The name of a request without its owner, quoted for the query text.
AnsiString QueryName(const AnsiString& Name) {
  const size_t Dot = Name.find('.');
  const AnsiString Bare = Dot == AnsiString::npos ? Name : Name.substr(Dot + 1);
  AnsiString Quoted;
  for (char C : Bare) {
    Quoted += C;
    if (C == '\'') Quoted += '\'';
  }
  return Quoted;
}

// Writes a bool option as a whole 32-bit value when the buffer takes one (a host's LongBool is
// otherwise left partly unset), as the published single byte when it does not.
SQLResult PutBoolean(bool Flag, void* Value, int16_t MaxLength, int16_t* Length) {
  if (!Value) return DBXERR_INVALIDPARAM;
  if (MaxLength >= 4) {
    const int32_t V = Flag ? 1 : 0;
    std::memcpy(Value, &V, sizeof V);
    if (Length) *Length = 4;
  } else {
    *static_cast<uint8_t*>(Value) = Flag ? 1 : 0;
    if (Length) *Length = 1;
  }
  return SQL_SUCCESS;
}

}  // namespace

// ---- metadata object ---------------------------------------------------------------------------------

TSQLMetaDataZYL::TSQLMetaDataZYL(TSQLConnectionZYL* Connection) : FConnection(Connection) {
  FConnection->AddRef();
}

TSQLMetaDataZYL::~TSQLMetaDataZYL() { FConnection->Release(); }

AnsiString TSQLMetaDataZYL::BuildQuery(TDbxCatalogKind Kind, uint32_t Flags, const AnsiString& Name) {
  AnsiString Query;
  switch (Kind) {
    case ckTables:
      Query = Format(kTablesQuery, (Flags & eSQLTable) ? "BASE" : "", (Flags & eSQLView) ? "VIEW" : "",
                     (Flags & eSQLSystemTable) ? "" : "and creator=1");
      break;
    case ckProcedures:
      Query = kProceduresQuery;
      break;
    case ckColumns:
      Query = Format(kColumnsQuery, QueryName(Name));
      break;
    case ckProcedureParams:
      Query = Format(kProcedureParamsQuery, QueryName(Name));
      break;
    case ckIndices:
      Query = Format(kIndicesQuery, QueryName(Name));
      break;
  }
  if (Query.size() > kMaxQueryLength)
    throw EZyloException(Format(ZylLoadStr(ZYL_ERR_DBX_CATALOG_NAME_TOO_LONG), Name.substr(0, 64)), 0);
  return Query;
}

SQLResult TSQLMetaDataZYL::Request(TDbxCatalogKind Kind, uint32_t Flags, const AnsiString& Name,
                                   const AnsiString& Pattern, ISQLCursor** Cursor) {
  if (!Cursor) return DBXERR_INVALIDPARAM;
  *Cursor = nullptr;
  if (!FConnection) return SQL_NULL_DATA;
  return DbxGuard(FErrors, [&]() -> SQLResult {
    FKind = Kind;
    FFlags = Flags;
    ISQLCommand* Command = nullptr;
    SQLResult R = FConnection->getSQLCommand(&Command);
    if (R != SQL_SUCCESS) return R;
    AnsiString Query;
    try {
      Query = BuildQuery(Kind, Flags, Name);
    } catch (const EZyloException& E) {
      Command->Release();
      FErrors.Add(E.Message());
      return DBXERR_NOTSUPPORTED;
    }
    ISQLCursor* Catalog = nullptr;
    R = Command->prepare(const_cast<char*>(Query.c_str()), 0);
    if (R == SQL_SUCCESS) R = Command->execute(&Catalog);
    if (R == SQL_SUCCESS && !Catalog) R = DBXERR_DRIVERERROR;
    if (R != SQL_SUCCESS) {
      int16_t Len = 0;
      FErrors.Clear();
      if (Command->getErrorMessageLen(&Len) == SQL_SUCCESS && Len > 0) {
        std::vector<char> Message(static_cast<size_t>(Len) + 1, '\0');
        if (Command->getErrorMessage(Message.data()) == SQL_SUCCESS) FErrors.Assign(Message.data());
      }
      if (Catalog) Catalog->Release();
      Command->Release();
      return R;
    }
    *Cursor = new TSQLMetaDataCursorZYL(Command, static_cast<TSQLCursorZYL*>(Catalog), Kind, Flags, Pattern);
    return SQL_SUCCESS;
  });
}

SQLResult TSQLMetaDataZYL::getObjectList(uint32_t, ISQLCursor** Cursor) {
  if (Cursor) *Cursor = nullptr;
  return DBXERR_NOTSUPPORTED;
}

SQLResult TSQLMetaDataZYL::getTables(char* TableName, uint32_t TableType, ISQLCursor** Cursor) {
  return Request(ckTables, TableType ? TableType : eSQLTable, "", Text(TableName), Cursor);
}

SQLResult TSQLMetaDataZYL::getProcedures(char* ProcedureName, uint32_t ProcType, ISQLCursor** Cursor) {
  return Request(ckProcedures, ProcType ? ProcType : eSQLProcedure, "", Text(ProcedureName), Cursor);
}

SQLResult TSQLMetaDataZYL::getColumns(char* TableName, char* ColumnName, uint32_t ColType, ISQLCursor** Cursor) {
  return Request(ckColumns, ColType, Text(TableName), Text(ColumnName), Cursor);
}

SQLResult TSQLMetaDataZYL::getProcedureParams(char* ProcName, char* ParamName, ISQLCursor** Cursor) {
  return Request(ckProcedureParams, 1, Text(ProcName), Text(ParamName), Cursor);
}

SQLResult TSQLMetaDataZYL::getIndices(char* TableName, uint32_t IndexType, ISQLCursor** Cursor) {
  return Request(ckIndices, IndexType, Text(TableName), "", Cursor);
}

SQLResult TSQLMetaDataZYL::SetOption(uint32_t eDOption, TDBXOptionValue) {
  switch (eDOption) {
    case eMetaCatalogName:
    case eMetaSchemaName:
    case eMetaDatabaseName:
    case eMetaPackageName:
      return SQL_SUCCESS;
    default:
      return DBXERR_NOTSUPPORTED;
  }
}

SQLResult TSQLMetaDataZYL::GetOption(uint32_t eDOption, void* PropValue, int16_t MaxLength, int16_t* Length) {
  return DbxGuard(FErrors, [&]() -> SQLResult {
    switch (eDOption) {
      case eMetaCatalogName:
      case eMetaSchemaName:
      case eMetaDatabaseName:
      case eMetaDatabaseVersion:
        if (!PropValue) return DBXERR_INVALIDPARAM;
        DbxPutOptionText(eDOption, "", PropValue, MaxLength, Length);
        return SQL_SUCCESS;
      case eMetaTransactionIsoLevel: {
        if (!PropValue) return DBXERR_INVALIDPARAM;
        if (MaxLength < 4) return DBXERR_INVALIDLEN;
        const uint32_t Level = FConnection->IsolationLevel();
        std::memcpy(PropValue, &Level, sizeof Level);
        return SQL_SUCCESS;
      }
      case eMetaSupportsTransaction:
      case eMetaProcSupportsCursor:
      case eMetaProcSupportsCursors:
        return PutBoolean(true, PropValue, MaxLength, Length);
      case eMetaSupportsTransactions:
        return PutBoolean(false, PropValue, MaxLength, Length);
      case eMetaObjectQuoteChar:
        // No quote character; a buffer of another size is left as it is.
        if (MaxLength != 1) return SQL_SUCCESS;
        if (!PropValue) return DBXERR_INVALIDPARAM;
        *static_cast<char*>(PropValue) = '\0';
        if (Length) *Length = 1;
        return SQL_SUCCESS;
      default:
        return DBXERR_NOTSUPPORTED;
    }
  });
}

SQLResult TSQLMetaDataZYL::getErrorMessage(char* Error) { return FErrors.GetMessage(Error); }
SQLResult TSQLMetaDataZYL::getErrorMessageLen(int16_t* ErrorLen) { return FErrors.GetLength(ErrorLen); }

// ---- metadata cursor -----------------------------------------------------------------------------

TSQLMetaDataCursorZYL::TSQLMetaDataCursorZYL(ISQLCommand* Command, TSQLCursorZYL* Catalog, TDbxCatalogKind Kind,
                                             uint32_t Flags, const AnsiString& Pattern)
    : FCommand(Command), FCatalog(Catalog), FKind(Kind), FFlags(Flags), FPattern(Pattern) {
  switch (Kind) {
    case ckTables: Select(kTablesLayout, FLayout, FLayoutCount); break;
    case ckProcedures: Select(kProceduresLayout, FLayout, FLayoutCount); break;
    case ckColumns: Select(kColumnsLayout, FLayout, FLayoutCount); break;
    case ckProcedureParams: Select(kProcedureParamsLayout, FLayout, FLayoutCount); break;
    case ckIndices: Select(kIndicesLayout, FLayout, FLayoutCount); break;
  }
}

TSQLMetaDataCursorZYL::~TSQLMetaDataCursorZYL() {
  if (FCatalog) FCatalog->Release();
  if (FCommand) FCommand->Release();
}

uint16_t TSQLMetaDataCursorZYL::MapDomain(int64_t Domain) {
  static const uint16_t Types[30] = {
      fldUNKNOWN, fldINT16,  fldINT32,  fldFLOAT,  fldFLOAT,     fldFLOAT,   fldDATE,   fldZSTRING,
      fldZSTRING, fldZSTRING, fldBLOB,  fldBYTES,  fldBLOB,      fldTIMESTAMP, fldTIME, fldUNKNOWN,
      fldUNKNOWN, fldUNKNOWN, fldUNKNOWN, fldINT16, fldINT64,    fldUINT32,  fldUINT16, fldUINT64,
      fldBOOL,    fldUNKNOWN, fldUNKNOWN, fldFLOAT, fldVARBYTES, fldUNKNOWN};
  return Domain >= 0 && Domain < 30 ? Types[Domain] : static_cast<uint16_t>(fldUNKNOWN);
}

const TDbxCatalogColumn* TSQLMetaDataCursorZYL::Layout(uint16_t ColumnNumber) const {
  return ColumnNumber >= 1 && ColumnNumber <= FLayoutCount ? &FLayout[ColumnNumber - 1] : nullptr;
}

SQLResult TSQLMetaDataCursorZYL::CatalogFailed(SQLResult Result) {
  int16_t Len = 0;
  FErrors.Clear();
  if (FCommand->getErrorMessageLen(&Len) == SQL_SUCCESS && Len > 0) {
    std::vector<char> Message(static_cast<size_t>(Len) + 1, '\0');
    if (FCommand->getErrorMessage(Message.data()) == SQL_SUCCESS) FErrors.Assign(Message.data());
  }
  return Result;
}

SQLResult TSQLMetaDataCursorZYL::ReadInteger(uint16_t ColumnNumber, int32_t& Value, bool& IsNull) {
  Value = 0;
  IsNull = true;
  const TSQLColumnZYL* C = FCatalog->Column(ColumnNumber);
  if (!C) return DBXERR_OUTOFRANGE;
  if (C->IsNull()) return SQL_SUCCESS;
  // An engine may describe a catalog number as a 64-bit integer; the catalogs' numbers are small.
  if (C->FieldType == ztInteger) {
    std::memcpy(&Value, C->Data, sizeof Value);
  } else if (C->FieldType == ztInt64) {
    int64_t V;
    std::memcpy(&V, C->Data, sizeof V);
    if (V < INT32_MIN || V > INT32_MAX) return DBXERR_OUTOFRANGE;
    Value = static_cast<int32_t>(V);
  } else {
    return DBXERR_INVALIDXLATION;
  }
  IsNull = false;
  return SQL_SUCCESS;
}

SQLResult TSQLMetaDataCursorZYL::Step() {
  const SQLResult R = FCatalog->next();
  if (R != SQL_SUCCESS && R != DBXERR_EOF) return CatalogFailed(R);
  return R;
}

bool TSQLMetaDataCursorZYL::PatternMatches() {
  AnsiString Value;
  bool IsNull = true;
  const uint16_t Filter = (FKind == ckTables || FKind == ckProcedures) ? 4 : 5;
  return FCatalog->ReadText(Filter, Value, IsNull) == SQL_SUCCESS && !IsNull && Value == FPattern;
}

SQLResult TSQLMetaDataCursorZYL::next() {
  if (!FCatalog) return DBXERR_EOF;
  SQLResult R = Step();
  while (R == SQL_SUCCESS && !FPattern.empty() && !PatternMatches()) R = Step();
  if (R == SQL_SUCCESS) ++FRowNumber;
  return R;
}

// ---- describing ----------------------------------------------------------------------------------

SQLResult TSQLMetaDataCursorZYL::SetOption(uint32_t, TDBXOptionValue) { return DBXERR_NOTSUPPORTED; }
SQLResult TSQLMetaDataCursorZYL::GetOption(uint32_t, void*, int16_t, int16_t*) { return DBXERR_NOTSUPPORTED; }
SQLResult TSQLMetaDataCursorZYL::getErrorMessage(char* Error) { return FErrors.GetMessage(Error); }
SQLResult TSQLMetaDataCursorZYL::getErrorMessageLen(int16_t* ErrorLen) { return FErrors.GetLength(ErrorLen); }

SQLResult TSQLMetaDataCursorZYL::getColumnCount(uint16_t* pColumns) {
  if (!pColumns) return DBXERR_INVALIDPARAM;
  *pColumns = FLayoutCount;
  return SQL_SUCCESS;
}

SQLResult TSQLMetaDataCursorZYL::getColumnNameLength(uint16_t ColumnNumber, uint16_t* pLen) {
  const TDbxCatalogColumn* L = Layout(ColumnNumber);
  if (!L) return DBXERR_OUTOFRANGE;
  if (!pLen) return DBXERR_INVALIDPARAM;
  *pLen = static_cast<uint16_t>(std::strlen(L->Name));
  return SQL_SUCCESS;
}

SQLResult TSQLMetaDataCursorZYL::getColumnName(uint16_t ColumnNumber, char* pColumnName) {
  const TDbxCatalogColumn* L = Layout(ColumnNumber);
  if (!L) return DBXERR_OUTOFRANGE;
  if (!pColumnName) return DBXERR_INVALIDPARAM;
  std::memcpy(pColumnName, L->Name, std::strlen(L->Name) + 1);
  return SQL_SUCCESS;
}

SQLResult TSQLMetaDataCursorZYL::getColumnType(uint16_t ColumnNumber, uint16_t* puType, uint16_t* puSubType) {
  const TDbxCatalogColumn* L = Layout(ColumnNumber);
  if (!L) return DBXERR_OUTOFRANGE;
  if (!puType || !puSubType) return DBXERR_INVALIDPARAM;
  *puType = L->DbxType;
  *puSubType = 0;
  return SQL_SUCCESS;
}

SQLResult TSQLMetaDataCursorZYL::getColumnLength(uint16_t ColumnNumber, uint32_t* pLength) {
  const TDbxCatalogColumn* L = Layout(ColumnNumber);
  if (!L) return DBXERR_OUTOFRANGE;
  if (!pLength) return DBXERR_INVALIDPARAM;
  if (L->Length >= 0) {
    *pLength = static_cast<uint32_t>(L->Length);
  } else if (L->Source == srcNullText) {
    *pLength = static_cast<uint32_t>(std::strlen(kNullText) + 1);
  } else if (L->DbxType == fldZSTRING) {
    // The query column's width, or a wide one for a text of unknown width (the buffer the host
    // makes from it must take every value getString writes).
    const TSQLColumnZYL* C = FCatalog->Column(ColumnNumber);
    *pLength = C && C->FieldType == ztString ? C->Length : kWideCatalogText;
  } else {
    return FCatalog->getColumnLength(ColumnNumber, pLength);
  }
  return SQL_SUCCESS;
}

SQLResult TSQLMetaDataCursorZYL::getColumnPrecision(uint16_t ColumnNumber, int16_t* piPrecision) {
  const TDbxCatalogColumn* L = Layout(ColumnNumber);
  if (!L) return DBXERR_OUTOFRANGE;
  if (!piPrecision) return DBXERR_INVALIDPARAM;
  *piPrecision = 0;
  if (L->Length >= 0) return SQL_SUCCESS;
  if (L->DbxType == fldZSTRING) {
    // A text column's precision is its width without the NUL; the host ignores a text of 0.
    uint32_t Length = 0;
    if (SQLResult R = getColumnLength(ColumnNumber, &Length)) return R;
    *piPrecision = static_cast<int16_t>(std::clamp<uint32_t>(Length, 2, 32768) - 1);
    return SQL_SUCCESS;
  }
  return FCatalog->getColumnPrecision(ColumnNumber, piPrecision);
}

SQLResult TSQLMetaDataCursorZYL::getColumnScale(uint16_t, int16_t* piScale) {
  if (!piScale) return DBXERR_INVALIDPARAM;
  *piScale = 0;
  return SQL_SUCCESS;
}

SQLResult TSQLMetaDataCursorZYL::isNullable(uint16_t ColumnNumber, int32_t* Nullable) {
  if (!Layout(ColumnNumber)) return DBXERR_OUTOFRANGE;
  if (!Nullable) return DBXERR_INVALIDPARAM;
  *Nullable = 0;
  return SQL_SUCCESS;
}

SQLResult TSQLMetaDataCursorZYL::isAutoIncrement(uint16_t ColumnNumber, int32_t* AutoIncr) {
  return isNullable(ColumnNumber, AutoIncr);
}

SQLResult TSQLMetaDataCursorZYL::isSearchable(uint16_t ColumnNumber, int32_t* Searchable) {
  return isNullable(ColumnNumber, Searchable);
}

SQLResult TSQLMetaDataCursorZYL::isReadOnly(uint16_t ColumnNumber, int32_t* ReadOnly) {
  if (!Layout(ColumnNumber)) return DBXERR_OUTOFRANGE;
  if (!ReadOnly) return DBXERR_INVALIDPARAM;
  *ReadOnly = 1;
  return SQL_SUCCESS;
}

SQLResult TSQLMetaDataCursorZYL::isBlobSizeExact(uint16_t, int32_t*) { return DBXERR_NOTSUPPORTED; }

// ---- values ------------------------------------------------------------------------------------

SQLResult TSQLMetaDataCursorZYL::getString(uint16_t ColumnNumber, char* Value, int32_t* IsBlank) {
  const TDbxCatalogColumn* L = Layout(ColumnNumber);
  if (!L) return DBXERR_OUTOFRANGE;
  if (L->Source != srcQuery && L->Source != srcNullText) return DBXERR_NOTSUPPORTED;
  if (!Value || !IsBlank) return DBXERR_INVALIDPARAM;
  if (L->Source == srcNullText) {
    std::memcpy(Value, kNullText, std::strlen(kNullText) + 1);
    *IsBlank = 0;
    return SQL_SUCCESS;
  }
  if (L->DbxType != fldZSTRING) return DBXERR_INVALIDXLATION;
  AnsiString Text;
  bool IsNull = true;
  if (SQLResult R = FCatalog->ReadText(ColumnNumber, Text, IsNull)) return R;
  uint32_t Length = 0;
  if (SQLResult R = getColumnLength(ColumnNumber, &Length)) return R;
  // No more than the announced width, the NUL included.
  const size_t N = std::min<size_t>(Text.size(), Length > 0 ? Length - 1 : 0);
  std::memcpy(Value, Text.data(), N);
  Value[N] = '\0';
  *IsBlank = IsNull ? 1 : 0;
  return SQL_SUCCESS;
}

SQLResult TSQLMetaDataCursorZYL::getShort(uint16_t ColumnNumber, void* Value, int32_t* IsBlank) {
  const TDbxCatalogColumn* L = Layout(ColumnNumber);
  if (!L) return DBXERR_OUTOFRANGE;
  if (L->Source != srcQuery) return DBXERR_NOTSUPPORTED;
  return FCatalog->getShort(ColumnNumber, Value, IsBlank);
}

SQLResult TSQLMetaDataCursorZYL::getLong(uint16_t ColumnNumber, void* Value, int32_t* IsBlank) {
  const TDbxCatalogColumn* L = Layout(ColumnNumber);
  if (!L) return DBXERR_OUTOFRANGE;
  if (L->DbxType != fldINT32 || L->Source == srcNone || L->Source == srcNullText) return DBXERR_NOTSUPPORTED;
  if (!Value || !IsBlank) return DBXERR_INVALIDPARAM;
  int32_t V = 0;
  bool IsNull = false;
  switch (L->Source) {
    case srcRowNumber:
      V = FRowNumber;
      break;
    case srcDomain:
      if (SQLResult R = ReadInteger(ColumnNumber, V, IsNull)) return R;
      V = MapDomain(V);
      break;
    case srcPrecision: {
      int32_t Domain = 0;
      if (SQLResult R = ReadInteger(kDomainColumn, Domain, IsNull)) return R;
      const uint16_t Type = MapDomain(Domain);
      if (Type == fldZSTRING || Type == fldBYTES) {
        if (SQLResult R = ReadInteger(ColumnNumber, V, IsNull)) return R;
      }
      break;
    }
    default:
      if (SQLResult R = ReadInteger(ColumnNumber, V, IsNull)) return R;
      break;
  }
  std::memcpy(Value, &V, sizeof V);
  *IsBlank = IsNull ? 1 : 0;
  return SQL_SUCCESS;
}

SQLResult TSQLMetaDataCursorZYL::getDouble(uint16_t ColumnNumber, void*, int32_t*) {
  return Layout(ColumnNumber) ? DBXERR_NOTSUPPORTED : DBXERR_OUTOFRANGE;
}
SQLResult TSQLMetaDataCursorZYL::getBcd(uint16_t ColumnNumber, void*, int32_t*) {
  return Layout(ColumnNumber) ? DBXERR_NOTSUPPORTED : DBXERR_OUTOFRANGE;
}
SQLResult TSQLMetaDataCursorZYL::getTimeStamp(uint16_t ColumnNumber, void*, int32_t*) {
  return Layout(ColumnNumber) ? DBXERR_NOTSUPPORTED : DBXERR_OUTOFRANGE;
}
SQLResult TSQLMetaDataCursorZYL::getTime(uint16_t ColumnNumber, void*, int32_t*) {
  return Layout(ColumnNumber) ? DBXERR_NOTSUPPORTED : DBXERR_OUTOFRANGE;
}
SQLResult TSQLMetaDataCursorZYL::getDate(uint16_t ColumnNumber, void*, int32_t*) {
  return Layout(ColumnNumber) ? DBXERR_NOTSUPPORTED : DBXERR_OUTOFRANGE;
}
SQLResult TSQLMetaDataCursorZYL::getBytes(uint16_t ColumnNumber, void*, int32_t*) {
  return Layout(ColumnNumber) ? DBXERR_NOTSUPPORTED : DBXERR_OUTOFRANGE;
}
SQLResult TSQLMetaDataCursorZYL::getBlobSize(uint16_t ColumnNumber, uint32_t*, int32_t*) {
  return Layout(ColumnNumber) ? DBXERR_NOTSUPPORTED : DBXERR_OUTOFRANGE;
}
SQLResult TSQLMetaDataCursorZYL::getBlob(uint16_t ColumnNumber, void*, int32_t*, uint32_t) {
  return Layout(ColumnNumber) ? DBXERR_NOTSUPPORTED : DBXERR_OUTOFRANGE;
}
