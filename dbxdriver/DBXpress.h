// DBXpress: the dbExpress driver interfaces (version 1/2) as a dbExpress host sees them: the five
// interfaces with their slot orders, the export's signature, the option ordinals, the logical
// types and sub-types, the packed records and the result codes. The driver implements these; a
// host (our tests, zylo-dbx) includes this header alone and reaches the driver only through the
// method tables, after loading the library by file name.
//
// Binary form. Each interface is an abstract struct of pure virtual functions in the published
// slot order after the three IUnknown-shaped slots (QueryInterface, AddRef, Release); there is no
// virtual destructor, since it would add table entries and shift every slot. All methods, the
// export and the trace callback use the standard calling convention of 32-bit x86 (ZYL_DBX_CALL:
// stdcall there, the one System V convention on x86-64). 16-bit results and arguments keep their
// exact widths. Records are packed.
//
// 64-bit widening. The published interface passes pointers in some 32-bit fields. On a 64-bit
// build each such field is pointer-wide, and nothing else changes:
//   - the Value argument of SetOption on all five interfaces (published LongInt): TDBXOptionValue,
//     intptr_t, so string options, the trace callback and its client data arrive whole;
//   - the TranID argument of beginTransaction, commit and rollback (published LongWord, the
//     address of a TTransactionDesc): TDBXTransactionId, uintptr_t;
//   - SQLTRACEDesc.ClientData (published Integer): intptr_t, so the trace descriptor is 1038 bytes
//     instead of 1034 (the message field and the field order are unchanged);
//   - GetOption of connection option 7 (the native connection handle, published as 4 bytes) writes
//     a pointer-wide value and reports its size in Length.
// On a 32-bit build every one of these is the published 32-bit width again.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__i386__)
#define ZYL_DBX_CALL __attribute__((stdcall))
#else
#define ZYL_DBX_CALL
#endif

using SQLResult = uint16_t;
using TDBXOptionValue = intptr_t;
using TDBXTransactionId = uintptr_t;

// ---- result codes ------------------------------------------------------------------------------

constexpr SQLResult SQL_SUCCESS = 0;
constexpr SQLResult DBXERR_NOMEMORY = 1;
constexpr SQLResult DBXERR_INVALIDFLDTYPE = 2;
constexpr SQLResult DBXERR_NOTSUPPORTED = 5;
constexpr SQLResult DBXERR_INVALIDXLATION = 6;  // a getter that does not match the column's type
constexpr SQLResult DBXERR_INVALIDPARAM = 7;    // a null pointer where a value or buffer is needed
constexpr SQLResult DBXERR_OUTOFRANGE = 8;
constexpr SQLResult DBXERR_EOF = 10;
constexpr SQLResult DBXERR_INVALIDLEN = 13;     // a buffer shorter than the value it must take
constexpr SQLResult SQL_NULL_DATA = 100;
// Codes from 255 on make the host ask the object for its error text; the driver uses this one.
constexpr SQLResult DBXERR_DRIVERERROR = 256;

// ---- option ordinals -----------------------------------------------------------------------------

enum TSQLDriverOption : uint32_t {
  eDrvBlobSize = 0,
  eDrvCallBack = 1,
  eDrvCallBackInfo = 2,
  eDrvRestrict = 3,
};

enum TSQLConnectionOption : uint32_t {
  eConnAutoCommit = 0,
  eConnBlockingMode = 1,
  eConnBlobSize = 2,
  eConnRoleName = 3,
  eConnWaitOnLocks = 4,
  eConnCommitRetain = 5,
  eConnTxnIsoLevel = 6,
  eConnNativeHandle = 7,
  eConnServerVersion = 8,
  eConnCallBack = 9,
  eConnHostName = 10,
  eConnDatabaseName = 11,
  eConnCallBackInfo = 12,
  eConnObjectMode = 13,
  eConnMaxActiveComm = 14,
  eConnServerCharSet = 15,
  eConnSqlDialect = 16,
  eConnRollbackRetain = 17,
  eConnObjectQuoteChar = 18,
  eConnConnectionName = 19,
  eConnOSAuthentication = 20,
  eConnSupportsTransaction = 21,
  eConnMultipleTransaction = 22,
  eConnServerPort = 23,
  eConnOnLine = 24,
  eConnTrimChar = 25,
  eConnQualifiedName = 26,
  eConnCatalogName = 27,
  eConnSchemaName = 28,
  eConnObjectName = 29,
  eConnQuotedObjectName = 30,
  eConnCustomInfo = 31,
  eConnTimeOut = 32,
};

enum TSQLCommandOption : uint32_t {
  eCommRowsetSize = 0,
  eCommBlobSize = 1,
  eCommBlockRead = 2,
  eCommBlockWrite = 3,
  eCommParamCount = 4,
  eCommNativeHandle = 5,
  eCommCursorName = 6,
  eCommStoredProc = 7,
  eCommSQLDialect = 8,
  eCommTransactionID = 9,
  eCommPackageName = 10,
  eCommTrimChar = 11,
  eCommQualifiedName = 12,
  eCommCatalogName = 13,
  eCommSchemaName = 14,
  eCommObjectName = 15,
  eCommQuotedObjectName = 16,
};

enum TSQLCursorOption : uint32_t {
  eCurObjectAttrName = 0,
  eCurObjectTypeName = 1,
  eCurParentFieldID = 2,
};

enum TSQLMetaDataOption : uint32_t {
  eMetaCatalogName = 0,
  eMetaSchemaName = 1,
  eMetaDatabaseName = 2,
  eMetaDatabaseVersion = 3,
  eMetaTransactionIsoLevel = 4,
  eMetaSupportsTransaction = 5,
  eMetaMaxObjectNameLength = 6,
  eMetaMaxColumnsInTable = 7,
  eMetaMaxColumnsInSelect = 8,
  eMetaMaxRowSize = 9,
  eMetaMaxSQLLength = 10,
  eMetaObjectQuoteChar = 11,
  eMetaSQLEscapeChar = 12,
  eMetaProcSupportsCursor = 13,
  eMetaProcSupportsCursors = 14,
  eMetaSupportsTransactions = 15,
  eMetaPackageName = 16,
};

enum TSQLObjectType : uint32_t {
  eObjTypeDatabase = 0,
  eObjTypeDataType = 1,
  eObjTypeTable = 2,
  eObjTypeView = 3,
  eObjTypeSynonym = 4,
  eObjTypeProcedure = 5,
  eObjTypeUser = 6,
  eObjTypeRole = 7,
  eObjTypeUDT = 8,
  eObjTypePackage = 9,
};

enum TTransIsolationLevel : uint32_t {
  xilREADCOMMITTED = 0,
  xilREPEATABLEREAD = 1,
  xilDIRTYREAD = 2,
  xilCUSTOM = 3,
};

enum TSTMTParamType : uint32_t {
  paramUNKNOWN = 0,
  paramIN = 1,
  paramOUT = 2,
  paramINOUT = 3,
  paramRET = 4,
};

// Callback types and results (the trace uses cbTRACE).
constexpr int32_t cbTRACE = 27;
constexpr uint32_t cbrUSEDEF = 0;

// ---- logical types and sub-types --------------------------------------------------------------

enum : uint16_t {
  fldUNKNOWN = 0,
  fldZSTRING = 1,
  fldDATE = 2,
  fldBLOB = 3,
  fldBOOL = 4,
  fldINT16 = 5,
  fldINT32 = 6,
  fldFLOAT = 7,
  fldBCD = 8,
  fldBYTES = 9,
  fldTIME = 10,
  fldTIMESTAMP = 11,
  fldUINT16 = 12,
  fldUINT32 = 13,
  fldFLOATIEEE = 14,
  fldVARBYTES = 15,
  fldLOCKINFO = 16,
  fldCURSOR = 17,
  fldINT64 = 18,
  fldUINT64 = 19,
  fldADT = 20,
  fldARRAY = 21,
  fldREF = 22,
  fldTABLE = 23,
  fldDATETIME = 24,
  fldFMTBCD = 25,
};

enum : uint16_t {
  fldstPASSWORD = 1,
  fldstMONEY = 21,
  fldstMEMO = 22,
  fldstBINARY = 23,
  fldstFMTMEMO = 24,
  fldstOLEOBJ = 25,
  fldstGRAPHIC = 26,
  fldstDBSOLEOBJ = 27,
  fldstTYPEDBINARY = 28,
  fldstAUTOINC = 29,
  fldstACCOLEOBJ = 30,
  fldstFIXED = 31,
  fldstUNICODE = 32,
  fldstHMEMO = 33,
  fldstHBINARY = 34,
};

// Catalog flags: table types, procedure types, index types.
enum : uint32_t { eSQLTable = 1, eSQLView = 2, eSQLSystemTable = 4, eSQLSynonym = 8 };
enum : uint32_t { eSQLProcedure = 1, eSQLFunction = 2, eSQLPackage = 4, eSQLSysProcedure = 8 };
enum : uint32_t { eSQLNonUnique = 1, eSQLUnique = 2, eSQLPrimaryKey = 4 };

// A date (fldDATE) counts days with 1 January of the year 1 as day 1: 30 December 1899 is this.
constexpr int32_t DBXDateDelta = 693594;

// ---- records ---------------------------------------------------------------------------------------

#pragma pack(push, 1)

struct TSQLTimeStamp {  // fldDATETIME values, 16 bytes
  int16_t Year;
  uint16_t Month;
  uint16_t Day;
  uint16_t Hour;
  uint16_t Minute;
  uint16_t Second;
  uint32_t Fractions;  // milliseconds, 0..999
};

struct TTransactionDesc {  // what TranID points to, 16 bytes
  uint32_t TransactionID;
  uint32_t GlobalID;
  uint32_t IsolationLevel;  // TTransIsolationLevel
  uint32_t CustomIsolation;
};

struct TBcd {  // fldBCD values, 34 bytes
  uint8_t Precision;          // digits stored, 1..64
  uint8_t SignSpecialPlaces;  // bit 7 negative, bit 6 special, bits 0..5 digits after the point
  uint8_t Fraction[32];       // two digits a byte, high nibble first, from the first digit on
};

struct SQLTRACEDesc {  // handed to the trace callback
  char pszTrace[1024];   // the message, NUL-terminated
  int32_t eTraceCat;
  intptr_t ClientData;   // the value last set through eConnCallBackInfo (pointer-wide, see above)
  uint16_t uTotalMsgLen;
};

#pragma pack(pop)

static_assert(sizeof(TSQLTimeStamp) == 16);
static_assert(sizeof(TTransactionDesc) == 16);
static_assert(sizeof(TBcd) == 34);
static_assert(sizeof(SQLTRACEDesc) == 1030 + sizeof(intptr_t));
static_assert(offsetof(TSQLTimeStamp, Fractions) == 12);
static_assert(offsetof(TTransactionDesc, IsolationLevel) == 8);
static_assert(offsetof(SQLTRACEDesc, eTraceCat) == 1024 && offsetof(SQLTRACEDesc, ClientData) == 1028);
static_assert(offsetof(SQLTRACEDesc, uTotalMsgLen) == 1028 + sizeof(intptr_t));

using DBINAME = char[32];  // the name buffer a host passes to getColumnName

using TSQLCallbackEvent = uint32_t(ZYL_DBX_CALL*)(int32_t CallType, void* CBInfo);

// ---- the interfaces ------------------------------------------------------------------------------

struct TDBXGuid {
  uint32_t D1;
  uint16_t D2;
  uint16_t D3;
  uint8_t D4[8];
};

constexpr int32_t DBX_S_OK = 0;
constexpr int32_t DBX_E_NOINTERFACE = static_cast<int32_t>(0x80004002u);
constexpr int32_t DBX_E_POINTER = static_cast<int32_t>(0x80004003u);
// {00000000-0000-0000-C000-000000000046}; the five interfaces have no identifier of their own.
constexpr TDBXGuid IID_IDBXUnknown{0, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

struct ISQLCursor;
struct ISQLCommand;
struct ISQLMetaData;
struct ISQLConnection;

struct IDBXInterface {
  virtual int32_t ZYL_DBX_CALL QueryInterface(const TDBXGuid* IID, void** Obj) = 0;
  virtual int32_t ZYL_DBX_CALL AddRef() = 0;
  virtual int32_t ZYL_DBX_CALL Release() = 0;

 protected:
  ~IDBXInterface() = default;  // objects die through Release, never through delete
};

struct ISQLDriver : IDBXInterface {
  virtual SQLResult ZYL_DBX_CALL getSQLConnection(ISQLConnection** pConn) = 0;
  virtual SQLResult ZYL_DBX_CALL SetOption(uint32_t eDOption, TDBXOptionValue PropValue) = 0;
  virtual SQLResult ZYL_DBX_CALL GetOption(uint32_t eDOption, void* PropValue, int16_t MaxLength,
                                           int16_t* Length) = 0;

 protected:
  ~ISQLDriver() = default;
};

struct ISQLConnection : IDBXInterface {
  virtual SQLResult ZYL_DBX_CALL connect(char* ServerName, char* UserName, char* Password) = 0;
  virtual SQLResult ZYL_DBX_CALL disconnect() = 0;
  virtual SQLResult ZYL_DBX_CALL getSQLCommand(ISQLCommand** pComm) = 0;
  virtual SQLResult ZYL_DBX_CALL getSQLMetaData(ISQLMetaData** pMetaData) = 0;
  virtual SQLResult ZYL_DBX_CALL SetOption(uint32_t eConnectOption, TDBXOptionValue lValue) = 0;
  virtual SQLResult ZYL_DBX_CALL GetOption(uint32_t eDOption, void* PropValue, int16_t MaxLength,
                                           int16_t* Length) = 0;
  virtual SQLResult ZYL_DBX_CALL beginTransaction(TDBXTransactionId TranID) = 0;
  virtual SQLResult ZYL_DBX_CALL commit(TDBXTransactionId TranID) = 0;
  virtual SQLResult ZYL_DBX_CALL rollback(TDBXTransactionId TranID) = 0;
  virtual SQLResult ZYL_DBX_CALL getErrorMessage(char* Error) = 0;
  virtual SQLResult ZYL_DBX_CALL getErrorMessageLen(int16_t* ErrorLen) = 0;

 protected:
  ~ISQLConnection() = default;
};

struct ISQLCommand : IDBXInterface {
  virtual SQLResult ZYL_DBX_CALL SetOption(uint32_t eSqlCommandOption, TDBXOptionValue ulValue) = 0;
  virtual SQLResult ZYL_DBX_CALL GetOption(uint32_t eSqlCommandOption, void* PropValue, int16_t MaxLength,
                                           int16_t* Length) = 0;
  virtual SQLResult ZYL_DBX_CALL setParameter(uint16_t ulParameter, uint16_t ulChildPos, uint32_t eParamType,
                                              uint16_t uLogType, uint16_t uSubType, int32_t iPrecision,
                                              int32_t iScale, uint32_t Length, void* pBuffer, int32_t lInd) = 0;
  virtual SQLResult ZYL_DBX_CALL getParameter(uint16_t ParameterNumber, uint16_t ulChildPos, void* Value,
                                              int32_t Length, int32_t* IsBlank) = 0;
  virtual SQLResult ZYL_DBX_CALL prepare(char* SQL, uint16_t ParamCount) = 0;
  virtual SQLResult ZYL_DBX_CALL execute(ISQLCursor** Cursor) = 0;
  virtual SQLResult ZYL_DBX_CALL executeImmediate(char* SQL, ISQLCursor** Cursor) = 0;
  virtual SQLResult ZYL_DBX_CALL getNextCursor(ISQLCursor** Cursor) = 0;
  virtual SQLResult ZYL_DBX_CALL getRowsAffected(uint32_t* Rows) = 0;
  virtual SQLResult ZYL_DBX_CALL close() = 0;
  virtual SQLResult ZYL_DBX_CALL getErrorMessage(char* Error) = 0;
  virtual SQLResult ZYL_DBX_CALL getErrorMessageLen(int16_t* ErrorLen) = 0;

 protected:
  ~ISQLCommand() = default;
};

struct ISQLCursor : IDBXInterface {
  virtual SQLResult ZYL_DBX_CALL SetOption(uint32_t eOption, TDBXOptionValue PropValue) = 0;
  virtual SQLResult ZYL_DBX_CALL GetOption(uint32_t eOption, void* PropValue, int16_t MaxLength,
                                           int16_t* Length) = 0;
  virtual SQLResult ZYL_DBX_CALL getErrorMessage(char* Error) = 0;
  virtual SQLResult ZYL_DBX_CALL getErrorMessageLen(int16_t* ErrorLen) = 0;
  virtual SQLResult ZYL_DBX_CALL getColumnCount(uint16_t* pColumns) = 0;
  virtual SQLResult ZYL_DBX_CALL getColumnNameLength(uint16_t ColumnNumber, uint16_t* pLen) = 0;
  virtual SQLResult ZYL_DBX_CALL getColumnName(uint16_t ColumnNumber, char* pColumnName) = 0;
  virtual SQLResult ZYL_DBX_CALL getColumnType(uint16_t ColumnNumber, uint16_t* puType, uint16_t* puSubType) = 0;
  virtual SQLResult ZYL_DBX_CALL getColumnLength(uint16_t ColumnNumber, uint32_t* pLength) = 0;
  virtual SQLResult ZYL_DBX_CALL getColumnPrecision(uint16_t ColumnNumber, int16_t* piPrecision) = 0;
  virtual SQLResult ZYL_DBX_CALL getColumnScale(uint16_t ColumnNumber, int16_t* piScale) = 0;
  virtual SQLResult ZYL_DBX_CALL isNullable(uint16_t ColumnNumber, int32_t* Nullable) = 0;
  virtual SQLResult ZYL_DBX_CALL isAutoIncrement(uint16_t ColumnNumber, int32_t* AutoIncr) = 0;
  virtual SQLResult ZYL_DBX_CALL isReadOnly(uint16_t ColumnNumber, int32_t* ReadOnly) = 0;
  virtual SQLResult ZYL_DBX_CALL isSearchable(uint16_t ColumnNumber, int32_t* Searchable) = 0;
  virtual SQLResult ZYL_DBX_CALL isBlobSizeExact(uint16_t ColumnNumber, int32_t* IsExact) = 0;
  virtual SQLResult ZYL_DBX_CALL next() = 0;
  virtual SQLResult ZYL_DBX_CALL getString(uint16_t ColumnNumber, char* Value, int32_t* IsBlank) = 0;
  virtual SQLResult ZYL_DBX_CALL getShort(uint16_t ColumnNumber, void* Value, int32_t* IsBlank) = 0;
  virtual SQLResult ZYL_DBX_CALL getLong(uint16_t ColumnNumber, void* Value, int32_t* IsBlank) = 0;
  virtual SQLResult ZYL_DBX_CALL getDouble(uint16_t ColumnNumber, void* Value, int32_t* IsBlank) = 0;
  virtual SQLResult ZYL_DBX_CALL getBcd(uint16_t ColumnNumber, void* Value, int32_t* IsBlank) = 0;
  virtual SQLResult ZYL_DBX_CALL getTimeStamp(uint16_t ColumnNumber, void* Value, int32_t* IsBlank) = 0;
  virtual SQLResult ZYL_DBX_CALL getTime(uint16_t ColumnNumber, void* Value, int32_t* IsBlank) = 0;
  virtual SQLResult ZYL_DBX_CALL getDate(uint16_t ColumnNumber, void* Value, int32_t* IsBlank) = 0;
  virtual SQLResult ZYL_DBX_CALL getBytes(uint16_t ColumnNumber, void* Value, int32_t* IsBlank) = 0;
  virtual SQLResult ZYL_DBX_CALL getBlobSize(uint16_t ColumnNumber, uint32_t* Length, int32_t* IsBlank) = 0;
  virtual SQLResult ZYL_DBX_CALL getBlob(uint16_t ColumnNumber, void* Value, int32_t* IsBlank, uint32_t Length) = 0;

 protected:
  ~ISQLCursor() = default;
};

struct ISQLMetaData : IDBXInterface {
  virtual SQLResult ZYL_DBX_CALL SetOption(uint32_t eDOption, TDBXOptionValue PropValue) = 0;
  virtual SQLResult ZYL_DBX_CALL GetOption(uint32_t eDOption, void* PropValue, int16_t MaxLength,
                                           int16_t* Length) = 0;
  virtual SQLResult ZYL_DBX_CALL getObjectList(uint32_t eObjType, ISQLCursor** Cursor) = 0;
  virtual SQLResult ZYL_DBX_CALL getTables(char* TableName, uint32_t TableType, ISQLCursor** Cursor) = 0;
  virtual SQLResult ZYL_DBX_CALL getProcedures(char* ProcedureName, uint32_t ProcType, ISQLCursor** Cursor) = 0;
  virtual SQLResult ZYL_DBX_CALL getColumns(char* TableName, char* ColumnName, uint32_t ColType,
                                            ISQLCursor** Cursor) = 0;
  virtual SQLResult ZYL_DBX_CALL getProcedureParams(char* ProcName, char* ParamName, ISQLCursor** Cursor) = 0;
  virtual SQLResult ZYL_DBX_CALL getIndices(char* TableName, uint32_t IndexType, ISQLCursor** Cursor) = 0;
  virtual SQLResult ZYL_DBX_CALL getErrorMessage(char* Error) = 0;
  virtual SQLResult ZYL_DBX_CALL getErrorMessageLen(int16_t* ErrorLen) = 0;

 protected:
  ~ISQLMetaData() = default;
};

// The export a host looks up by name after loading the library.
using TGetSQLDriver = SQLResult(ZYL_DBX_CALL*)(char* VendorLib, char* ResourceFile, void** Driver);
constexpr const char* kGetSQLDriverName = "getSQLDriverZYL";
