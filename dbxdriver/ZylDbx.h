// ZylDbx: the dbExpress driver library. Its one export, getSQLDriverZYL, hands out a driver
// object; from there a host reaches connections (each owning one TAsaSession), commands (each
// owning one TAsaSQL on its connection's session), cursors over a command's open result set,
// and metadata objects that answer catalog requests through cursors of their own. Nothing but
// the export is visible outside the library, and no exception leaves it: every operation runs
// inside a guard that turns a failure into result 256 and a line in the object's error list.
//
// Object graph and lifetimes. Every object implements one interface, starts with one reference
// (the caller's) and frees itself on its last Release. A child holds a reference to the object
// it was made from (connection -> driver, command -> connection, cursor -> command, metadata ->
// connection), so a host may release them in any order; a parent never holds its children.
//
//   driver --getSQLConnection--> connection --getSQLCommand--> command --execute--> cursor
//                                            --getSQLMetaData--> metadata --getTables...-->
//                                                 metadata cursor (holds an internal command
//                                                 and its cursor)
//
// Command life cycle (its single statement):
//
//   unprepared --prepare--> prepared --execute / executeImmediate--> result set open, cursor
//   handed out (or executed: no cursor) --getNextCursor--> next result set (a new cursor) or
//   100 (the procedure completed: the statement's cursor is closed)
//   The last release of the cursor that reads the open result set closes it (a host treats that
//   release as the end of the result set); prepare again or release the command to unprepare.
//
// A stored procedure with output parameters is executed, so that the outputs arrive, unless it
// also returns result sets: opened as a cursor it would bring no outputs back, so its outputs
// become connection variables named in the call (created at prepare, dropped at the next prepare
// or the command's release) and are read into the parameters when the procedure has completed.
//
// A cursor reads the command's column list, whose items point into the statement's record
// buffer; the list is emptied whenever the statement is closed, unprepared or opens another
// result set, so a cursor of an earlier result set answers "out of range" instead of reading
// freed buffers.
//
// Messages of the driver use the identifiers 5000..5999 (host/Messages.h).
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "asa/ZylAsa.h"
#include "dbxdriver/DBXpress.h"

enum : TResourceId {
  ZYL_ERR_DBX_SERVER_NAME_TOO_LONG = 5000,  // "The server name is longer than %d characters"
  ZYL_ERR_DBX_OPTION_TOO_LONG,              // "The value of option %d needs %d bytes; the buffer holds %d"
  ZYL_ERR_DBX_CATALOG_NAME_TOO_LONG,        // "The name \"%s\" is too long for a catalog request"
  ZYL_ERR_DBX_PARAM_INVALID,                // "Parameter %d: %s is not a valid value of type %d"
  ZYL_ERR_DBX_PARAM_BUFFER,                 // "Parameter %d: the value needs %d bytes; the buffer holds %d"
  ZYL_ERR_DBX_UNEXPECTED,                   // "Unexpected failure: %s"
};

// ---- reference counting and errors ---------------------------------------------------------------

// The IUnknown part every driver object shares. The count starts at 1: objects are handed out
// with the caller's reference.
template <class I>
class TDbxInterfaced : public I {
 public:
  TDbxInterfaced(const TDbxInterfaced&) = delete;
  TDbxInterfaced& operator=(const TDbxInterfaced&) = delete;

  // Only IUnknown's identifier is known: the five interfaces carry none.
  int32_t ZYL_DBX_CALL QueryInterface(const TDBXGuid* IID, void** Obj) override;
  int32_t ZYL_DBX_CALL AddRef() override { return ++FRefCount; }
  int32_t ZYL_DBX_CALL Release() override {
    const int32_t N = --FRefCount;
    if (N == 0) delete this;
    return N;
  }

 protected:
  TDbxInterfaced() = default;
  virtual ~TDbxInterfaced() = default;

 private:
  int32_t FRefCount = 1;
};

template <class I>
int32_t ZYL_DBX_CALL TDbxInterfaced<I>::QueryInterface(const TDBXGuid* IID, void** Obj) {
  if (!Obj) return DBX_E_POINTER;
  *Obj = nullptr;
  if (!IID || std::memcmp(IID, &IID_IDBXUnknown, sizeof IID_IDBXUnknown) != 0) return DBX_E_NOINTERFACE;
  AddRef();
  *Obj = static_cast<I*>(this);
  return DBX_S_OK;
}

// The error list of one object: each failure adds a line, reading the text empties the list. The
// text is every line followed by CR LF, cut to what the 16-bit length of getErrorMessageLen can
// announce.
class TDbxErrorList {
 public:
  void Add(const AnsiString& Line) { FLines.Add(Line); }
  void Clear() { FLines.Clear(); }
  // Adds the lines of Text (the form Text() gives); Assign replaces the list by them.
  void AddText(const AnsiString& Text);
  void Assign(const AnsiString& Text) {
    FLines.Clear();
    AddText(Text);
  }
  AnsiString Text() const;
  int32_t Count() const { return FLines.GetCount(); }
  SQLResult GetLength(int16_t* Length) const;  // without the terminating NUL
  SQLResult GetMessage(char* Buffer);          // the text with a NUL; empties the list

 private:
  TStringList FLines;
};

// Adds Line to Errors (as far as memory allows) and returns 256.
SQLResult DbxFailed(TDbxErrorList& Errors, const AnsiString& Line) noexcept;
SQLResult DbxFailedUnexpected(TDbxErrorList& Errors, const char* What) noexcept;

// Runs one operation: what it returns, or 256 and a line in Errors for any exception (the
// EZyloException family and the host's exceptions with their own message; anything else with a
// message that says so).
template <class F>
SQLResult DbxGuard(TDbxErrorList& Errors, F&& Body) noexcept {
  try {
    return Body();
  } catch (const Exception& E) {
    return DbxFailed(Errors, E.Message());
  } catch (const std::exception& E) {
    return DbxFailedUnexpected(Errors, E.what());
  } catch (...) {
    return DbxFailedUnexpected(Errors, "unknown exception");
  }
}

// Copies Text with a NUL into Buffer when it has room for MaxLength bytes (the NUL included);
// otherwise raises with the option number. Length (may be null) receives the text's length.
void DbxPutOptionText(uint32_t Option, const AnsiString& Text, void* Buffer, int16_t MaxLength, int16_t* Length);

class TSQLConnectionZYL;
class TSQLCommandZYL;
class TSQLCursorZYL;

// ---- driver ------------------------------------------------------------------------------------

class TSQLDriverZYL : public TDbxInterfaced<ISQLDriver> {
 public:
  explicit TSQLDriverZYL(const AnsiString& VendorLib) : FVendorLib(VendorLib) {}

  SQLResult ZYL_DBX_CALL getSQLConnection(ISQLConnection** pConn) override;
  SQLResult ZYL_DBX_CALL SetOption(uint32_t eDOption, TDBXOptionValue PropValue) override;
  SQLResult ZYL_DBX_CALL GetOption(uint32_t eDOption, void* PropValue, int16_t MaxLength, int16_t* Length) override;

  const AnsiString& GetVendorLib() const { return FVendorLib; }

 private:
  AnsiString FVendorLib;  // the client library's path or file name; may be empty
};

// ---- connection ------------------------------------------------------------------------------

// Reads the server-name string when it is a list of key=value pairs: the driver's own keys become
// typed entries, every other pair is passed on to the session as a connection parameter.
class TSQLConnectionParamsParser {
 public:
  enum TEntryKind : uint8_t {
    pkOther = 1,  // the other pairs, joined by ';' (always present after a parse)
    pkCommitOnDisconnect = 2,
    pkOEMConvert = 3,
    pkServerType = 4,
    pkTrimBlanks = 5,
    pkWantRowCounts = 6,
  };
  // The longest server-name string taken; a longer one is refused when it is parsed.
  static constexpr size_t kMaxTextLength = 32767;

  void SetText(const AnsiString& Text);  // stores it and marks the entries stale
  bool GetCommitOnDisconnect(bool Default) { return ReadBoolean(pkCommitOnDisconnect, Default); }
  bool GetOEMConvert(bool Default) { return ReadBoolean(pkOEMConvert, Default); }
  bool GetTrimBlanks(bool Default) { return ReadBoolean(pkTrimBlanks, Default); }
  bool GetWantRowCounts(bool Default) { return ReadBoolean(pkWantRowCounts, Default); }
  TAsaServerType GetServerType(TAsaServerType Default);
  AnsiString GetOtherParams(const AnsiString& Default);

  // One token of Text from Pos on: ';' ends a token except inside quotes ('"`) and brackets
  // ((){}), which stay part of it; Pos is left on the character that ended it. Empty at the end.
  static AnsiString NextToken(const AnsiString& Text, size_t& Pos);
  static bool ReadBooleanText(const AnsiString& Value);        // "true", "on", "1"
  static TAsaServerType ReadServerTypeText(const AnsiString& Value);

 private:
  struct TEntry {
    TEntryKind Kind;
    AnsiString Value;
  };
  void Parse();  // raises for a text longer than kMaxTextLength
  const TEntry* Find(TEntryKind Kind);
  bool ReadBoolean(TEntryKind Kind, bool Default);

  AnsiString FText;
  bool FParsed = false;           // the entries reflect FText
  std::vector<TEntry> FEntries;   // in the order of the text: the first of a key counts
  char FSeparator = ';';
};

class TSQLConnectionZYL : public TDbxInterfaced<ISQLConnection> {
 public:
  explicit TSQLConnectionZYL(TSQLDriverZYL* Driver);
  ~TSQLConnectionZYL() override;

  SQLResult ZYL_DBX_CALL connect(char* ServerName, char* UserName, char* Password) override;
  SQLResult ZYL_DBX_CALL disconnect() override;
  SQLResult ZYL_DBX_CALL getSQLCommand(ISQLCommand** pComm) override;
  SQLResult ZYL_DBX_CALL getSQLMetaData(ISQLMetaData** pMetaData) override;
  SQLResult ZYL_DBX_CALL SetOption(uint32_t eConnectOption, TDBXOptionValue lValue) override;
  SQLResult ZYL_DBX_CALL GetOption(uint32_t eDOption, void* PropValue, int16_t MaxLength, int16_t* Length) override;
  SQLResult ZYL_DBX_CALL beginTransaction(TDBXTransactionId TranID) override;
  SQLResult ZYL_DBX_CALL commit(TDBXTransactionId TranID) override;
  SQLResult ZYL_DBX_CALL rollback(TDBXTransactionId TranID) override;
  SQLResult ZYL_DBX_CALL getErrorMessage(char* Error) override;
  SQLResult ZYL_DBX_CALL getErrorMessageLen(int16_t* ErrorLen) override;

  // Sends Text (cut to 1024 characters) to the host's trace callback, when one is set.
  void Trace(const AnsiString& Text);
  TAsaSession* GetSession() const { return FSession.get(); }
  TSQLConnectionParamsParser& GetParser() { return FParser; }
  TDbxErrorList& GetErrors() { return FErrors; }
  uint32_t NextVariableNumber() { return ++FVariableNumber; }  // names the commands' variables
  // Option 6 as the host reads it: 0 read committed, 1 repeatable read, 2 dirty read, 3 other.
  uint32_t IsolationLevel() const;

 private:
  void Configure(const AnsiString& ServerName);  // steps of connect that set the session up

  TSQLDriverZYL* FDriver;                   // holds a reference
  TSQLConnectionParamsParser FParser;
  std::unique_ptr<TAsaSession> FSession;    // created at once, with no owner
  int32_t FBlobSize = 0;                    // option 2; handed to each new command
  TSQLCallbackEvent FTraceCallback = nullptr;  // option 9
  intptr_t FTraceClientData = 0;            // option 12
  SQLTRACEDesc FTraceDesc{};                // filled for each trace text
  AnsiString FQualifiedName;                // option 26
  uint32_t FVariableNumber = 0;             // connection variables made by its commands so far
  TDbxErrorList FErrors;
};

// ---- columns and parameters ------------------------------------------------------------------

class TSQLItemsZYL;

// A result column or a command parameter.
class TSQLDataItemZYL {
 public:
  explicit TSQLDataItemZYL(TSQLItemsZYL* Owner, const char* AName = "") : Owner(Owner), Name(AName) {}
  virtual ~TSQLDataItemZYL() = default;
  virtual bool IsNull() const = 0;

  TSQLItemsZYL* Owner;            // the list it belongs to
  AnsiString Name;                // column name, or parameter name ("?" until named)
  TZyloFieldTypes FieldType = ztUnknown;
};

// A column of the open result set; reads the statement's buffers in place.
class TSQLColumnZYL : public TSQLDataItemZYL {
 public:
  using TSQLDataItemZYL::TSQLDataItemZYL;
  bool IsNull() const override;  // no indicator, or the indicator holds -1

  uint16_t DbxType = fldUNKNOWN;
  uint16_t SubType = 0;
  uint32_t Length = 0;              // bytes the host's value buffer needs
  int16_t Precision = 0;
  int16_t Scale = 0;
  int32_t Size = 0;                 // the field's bytes in the record buffer
  const uint8_t* Data = nullptr;    // the statement's record buffer + the field's offset
  const uint8_t* Indicator = nullptr;  // the field's 16-bit entry in the statement's indicators
  TZyloBlobStream* BlobStream = nullptr;  // blob columns: the statement's stream for the field
};

// A parameter value as the host gave it.
class TSQLParamZYL : public TSQLDataItemZYL {
 public:
  explicit TSQLParamZYL(TSQLItemsZYL* Owner) : TSQLDataItemZYL(Owner, "?") {}
  bool IsNull() const override { return Value.IsNull(); }

  Variant Value = Variant::Null();
  uint32_t Direction = paramUNKNOWN;  // from the catalog or the host; outputs take no input slot
  // The logical type the host gave the parameter (fldUNKNOWN when it gave none): an output value
  // is written to the host's buffer in this form, which is the form the host reads.
  uint16_t LogType = fldUNKNOWN;
  uint16_t SubType = 0;
  AnsiString SqlType;   // the declared type, from the catalog ("decimal(19,4)"); empty when unknown
  AnsiString Variable;  // the connection variable standing for an output in the call; or empty
};

// An owning, ordered list of columns or parameters.
class TSQLItemsZYL {
 public:
  template <class T>
  T* Add() {
    FItems.push_back(std::make_unique<T>(this));
    return static_cast<T*>(FItems.back().get());
  }
  TSQLDataItemZYL* Get(uint16_t Index) const { return Index < FItems.size() ? FItems[Index].get() : nullptr; }
  int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
  void Clear() {
    while (!FItems.empty()) FItems.pop_back();  // last first
  }

 private:
  std::vector<std::unique_ptr<TSQLDataItemZYL>> FItems;
};

// ---- command ---------------------------------------------------------------------------------

class TSQLCommandZYL : public TDbxInterfaced<ISQLCommand> {
 public:
  explicit TSQLCommandZYL(TSQLConnectionZYL* Connection);
  ~TSQLCommandZYL() override;

  SQLResult ZYL_DBX_CALL SetOption(uint32_t eSqlCommandOption, TDBXOptionValue ulValue) override;
  SQLResult ZYL_DBX_CALL GetOption(uint32_t eSqlCommandOption, void* PropValue, int16_t MaxLength,
                                   int16_t* Length) override;
  SQLResult ZYL_DBX_CALL setParameter(uint16_t ulParameter, uint16_t ulChildPos, uint32_t eParamType,
                                      uint16_t uLogType, uint16_t uSubType, int32_t iPrecision, int32_t iScale,
                                      uint32_t Length, void* pBuffer, int32_t lInd) override;
  SQLResult ZYL_DBX_CALL getParameter(uint16_t ParameterNumber, uint16_t ulChildPos, void* Value, int32_t Length,
                                      int32_t* IsBlank) override;
  SQLResult ZYL_DBX_CALL prepare(char* SQL, uint16_t ParamCount) override;
  SQLResult ZYL_DBX_CALL execute(ISQLCursor** Cursor) override;
  SQLResult ZYL_DBX_CALL executeImmediate(char* SQL, ISQLCursor** Cursor) override;
  SQLResult ZYL_DBX_CALL getNextCursor(ISQLCursor** Cursor) override;
  SQLResult ZYL_DBX_CALL getRowsAffected(uint32_t* Rows) override;
  SQLResult ZYL_DBX_CALL close() override;
  SQLResult ZYL_DBX_CALL getErrorMessage(char* Error) override;
  SQLResult ZYL_DBX_CALL getErrorMessageLen(int16_t* ErrorLen) override;

  // What the cursors read.
  TAsaSQL* GetStatement() const { return FStatement.get(); }
  TSQLColumnZYL* Column(uint16_t Number) const;  // 1-based; null outside the list
  int32_t ColumnCount() const { return FColumns.Count(); }
  TDbxErrorList& GetErrors() { return FErrors; }
  // A cursor's last release: the one that reads the open result set closes it.
  void CursorReleased(TSQLCursorZYL* Cursor) noexcept;
  // Blanks, control characters and the semicolons that end SQL are cut off the end.
  static AnsiString CleanSQL(const AnsiString& SQL);

 private:
  void CheckStatement(bool Ok);  // a failure with a negative code raises EAsaException
  SQLResult BuildProcedureCall(const AnsiString& Name, AnsiString& SQL);
  Variant ParamValues() const;
  void UseOutputVariables(const AnsiString& Name);
  void DropOutputVariables() noexcept;
  void SetOutputVariables();
  void ReadOutputVariables();
  bool OpensResultSet();
  // Opens the prepared statement's result set and hands out a new cursor in Cursor.
  SQLResult OpenCursor(const Variant& Values, ISQLCursor** Cursor);
  SQLResult HandOutCursor(ISQLCursor** Cursor, bool RowPending);
  SQLResult RebuildColumns();
  void ForgetResultSet();  // empties the columns and detaches the current cursor
  SQLResult StoreParameter(TSQLParamZYL& Param, uint16_t Number, uint16_t LogType, uint16_t SubType,
                           uint32_t Length, const void* Buffer);
  SQLResult WriteParameter(uint16_t Number, TSQLParamZYL& Param, void* Value, int32_t Length, int32_t* IsBlank);
  Variant OutputValue(uint16_t Number, const TSQLParamZYL& Param);

  TSQLConnectionZYL* FConnection;        // holds a reference
  std::unique_ptr<TAsaSQL> FStatement;   // no owner, exceptions off, on the connection's session
  int32_t FBlobSize = 0;                 // option 1; stored and reported only
  TSQLItemsZYL FColumns;                 // of the open result set
  TSQLItemsZYL FParams;                  // made by prepare
  bool FStoredProc = false;              // option 7; until the next prepare
  bool FHasOutput = false;               // the prepared procedure has output parameters
  TSQLCursorZYL* FCurrentCursor = nullptr;  // the cursor reading the open result set, not held
  TDbxErrorList FErrors;
};

// ---- cursor ----------------------------------------------------------------------------------

class TSQLCursorZYL : public TDbxInterfaced<ISQLCursor> {
 public:
  // RowPending: the statement already stands on the result's first row (a resumed procedure),
  // which the first next hands out without moving.
  TSQLCursorZYL(TSQLCommandZYL* Command, bool RowPending);
  ~TSQLCursorZYL() override;

  SQLResult ZYL_DBX_CALL SetOption(uint32_t eOption, TDBXOptionValue PropValue) override;
  SQLResult ZYL_DBX_CALL GetOption(uint32_t eOption, void* PropValue, int16_t MaxLength, int16_t* Length) override;
  SQLResult ZYL_DBX_CALL getErrorMessage(char* Error) override;
  SQLResult ZYL_DBX_CALL getErrorMessageLen(int16_t* ErrorLen) override;
  SQLResult ZYL_DBX_CALL getColumnCount(uint16_t* pColumns) override;
  SQLResult ZYL_DBX_CALL getColumnNameLength(uint16_t ColumnNumber, uint16_t* pLen) override;
  SQLResult ZYL_DBX_CALL getColumnName(uint16_t ColumnNumber, char* pColumnName) override;
  SQLResult ZYL_DBX_CALL getColumnType(uint16_t ColumnNumber, uint16_t* puType, uint16_t* puSubType) override;
  SQLResult ZYL_DBX_CALL getColumnLength(uint16_t ColumnNumber, uint32_t* pLength) override;
  SQLResult ZYL_DBX_CALL getColumnPrecision(uint16_t ColumnNumber, int16_t* piPrecision) override;
  SQLResult ZYL_DBX_CALL getColumnScale(uint16_t ColumnNumber, int16_t* piScale) override;
  SQLResult ZYL_DBX_CALL isNullable(uint16_t ColumnNumber, int32_t* Nullable) override;
  SQLResult ZYL_DBX_CALL isAutoIncrement(uint16_t ColumnNumber, int32_t* AutoIncr) override;
  SQLResult ZYL_DBX_CALL isReadOnly(uint16_t ColumnNumber, int32_t* ReadOnly) override;
  SQLResult ZYL_DBX_CALL isSearchable(uint16_t ColumnNumber, int32_t* Searchable) override;
  SQLResult ZYL_DBX_CALL isBlobSizeExact(uint16_t ColumnNumber, int32_t* IsExact) override;
  SQLResult ZYL_DBX_CALL next() override;
  SQLResult ZYL_DBX_CALL getString(uint16_t ColumnNumber, char* Value, int32_t* IsBlank) override;
  SQLResult ZYL_DBX_CALL getShort(uint16_t ColumnNumber, void* Value, int32_t* IsBlank) override;
  SQLResult ZYL_DBX_CALL getLong(uint16_t ColumnNumber, void* Value, int32_t* IsBlank) override;
  SQLResult ZYL_DBX_CALL getDouble(uint16_t ColumnNumber, void* Value, int32_t* IsBlank) override;
  SQLResult ZYL_DBX_CALL getBcd(uint16_t ColumnNumber, void* Value, int32_t* IsBlank) override;
  SQLResult ZYL_DBX_CALL getTimeStamp(uint16_t ColumnNumber, void* Value, int32_t* IsBlank) override;
  SQLResult ZYL_DBX_CALL getTime(uint16_t ColumnNumber, void* Value, int32_t* IsBlank) override;
  SQLResult ZYL_DBX_CALL getDate(uint16_t ColumnNumber, void* Value, int32_t* IsBlank) override;
  SQLResult ZYL_DBX_CALL getBytes(uint16_t ColumnNumber, void* Value, int32_t* IsBlank) override;
  SQLResult ZYL_DBX_CALL getBlobSize(uint16_t ColumnNumber, uint32_t* Length, int32_t* IsBlank) override;
  SQLResult ZYL_DBX_CALL getBlob(uint16_t ColumnNumber, void* Value, int32_t* IsBlank, uint32_t Length) override;

  // For the metadata cursor, which re-shapes a catalog query's rows: a column's field type, its
  // text (strings and long texts alike) and its integer value.
  TSQLColumnZYL* Column(uint16_t Number) const { return FCommand->Column(Number); }
  SQLResult ReadText(uint16_t ColumnNumber, AnsiString& Text, bool& IsNull);
  TSQLCommandZYL* GetCommand() const { return FCommand; }

 private:
  // The column for a value getter after the range check (8) and the type check (6).
  SQLResult ValueColumn(uint16_t ColumnNumber, std::initializer_list<uint16_t> Types, TSQLColumnZYL*& Col) const;
  template <class F>
  SQLResult GetValue(uint16_t ColumnNumber, std::initializer_list<uint16_t> Types, void* Value, int32_t* IsBlank,
                     bool ZeroWhenNull, F&& Read);

  TSQLCommandZYL* FCommand;  // holds a reference
  bool FRowPending;          // next hands out the current row without moving
};

// ---- metadata ----------------------------------------------------------------------------------

enum TDbxCatalogKind : uint8_t { ckTables = 1, ckProcedures, ckColumns, ckProcedureParams, ckIndices };

class TSQLMetaDataZYL : public TDbxInterfaced<ISQLMetaData> {
 public:
  explicit TSQLMetaDataZYL(TSQLConnectionZYL* Connection);
  ~TSQLMetaDataZYL() override;

  SQLResult ZYL_DBX_CALL SetOption(uint32_t eDOption, TDBXOptionValue PropValue) override;
  SQLResult ZYL_DBX_CALL GetOption(uint32_t eDOption, void* PropValue, int16_t MaxLength, int16_t* Length) override;
  SQLResult ZYL_DBX_CALL getObjectList(uint32_t eObjType, ISQLCursor** Cursor) override;
  SQLResult ZYL_DBX_CALL getTables(char* TableName, uint32_t TableType, ISQLCursor** Cursor) override;
  SQLResult ZYL_DBX_CALL getProcedures(char* ProcedureName, uint32_t ProcType, ISQLCursor** Cursor) override;
  SQLResult ZYL_DBX_CALL getColumns(char* TableName, char* ColumnName, uint32_t ColType,
                                    ISQLCursor** Cursor) override;
  SQLResult ZYL_DBX_CALL getProcedureParams(char* ProcName, char* ParamName, ISQLCursor** Cursor) override;
  SQLResult ZYL_DBX_CALL getIndices(char* TableName, uint32_t IndexType, ISQLCursor** Cursor) override;
  SQLResult ZYL_DBX_CALL getErrorMessage(char* Error) override;
  SQLResult ZYL_DBX_CALL getErrorMessageLen(int16_t* ErrorLen) override;

  // The catalog query of a request, with its name argument ("" for tables and procedures).
  static AnsiString BuildQuery(TDbxCatalogKind Kind, uint32_t Flags, const AnsiString& Name);
  static constexpr size_t kMaxQueryLength = 1023;  // what the query's 1024-character buffer holds

 private:
  SQLResult Request(TDbxCatalogKind Kind, uint32_t Flags, const AnsiString& Name, const AnsiString& Pattern,
                    ISQLCursor** Cursor);

  TSQLConnectionZYL* FConnection;  // holds a reference
  TDbxCatalogKind FKind = ckTables;
  uint32_t FFlags = 0;
  TDbxErrorList FErrors;
};

// One column of a catalog result layout.
struct TDbxCatalogColumn {
  const char* Name;
  uint16_t DbxType;  // fldINT32 or fldZSTRING
  int32_t Length;    // -1: the query column's
  uint8_t Source;    // 0 none, 1 query column, 2 "<NULL>", 3 precision, 4 mapped domain, 5 row number
};

class TSQLMetaDataCursorZYL : public TDbxInterfaced<ISQLCursor> {
 public:
  // Takes over the caller's references to Command and Catalog.
  TSQLMetaDataCursorZYL(ISQLCommand* Command, TSQLCursorZYL* Catalog, TDbxCatalogKind Kind, uint32_t Flags,
                        const AnsiString& Pattern);
  ~TSQLMetaDataCursorZYL() override;

  SQLResult ZYL_DBX_CALL SetOption(uint32_t eOption, TDBXOptionValue PropValue) override;
  SQLResult ZYL_DBX_CALL GetOption(uint32_t eOption, void* PropValue, int16_t MaxLength, int16_t* Length) override;
  SQLResult ZYL_DBX_CALL getErrorMessage(char* Error) override;
  SQLResult ZYL_DBX_CALL getErrorMessageLen(int16_t* ErrorLen) override;
  SQLResult ZYL_DBX_CALL getColumnCount(uint16_t* pColumns) override;
  SQLResult ZYL_DBX_CALL getColumnNameLength(uint16_t ColumnNumber, uint16_t* pLen) override;
  SQLResult ZYL_DBX_CALL getColumnName(uint16_t ColumnNumber, char* pColumnName) override;
  SQLResult ZYL_DBX_CALL getColumnType(uint16_t ColumnNumber, uint16_t* puType, uint16_t* puSubType) override;
  SQLResult ZYL_DBX_CALL getColumnLength(uint16_t ColumnNumber, uint32_t* pLength) override;
  SQLResult ZYL_DBX_CALL getColumnPrecision(uint16_t ColumnNumber, int16_t* piPrecision) override;
  SQLResult ZYL_DBX_CALL getColumnScale(uint16_t ColumnNumber, int16_t* piScale) override;
  SQLResult ZYL_DBX_CALL isNullable(uint16_t ColumnNumber, int32_t* Nullable) override;
  SQLResult ZYL_DBX_CALL isAutoIncrement(uint16_t ColumnNumber, int32_t* AutoIncr) override;
  SQLResult ZYL_DBX_CALL isReadOnly(uint16_t ColumnNumber, int32_t* ReadOnly) override;
  SQLResult ZYL_DBX_CALL isSearchable(uint16_t ColumnNumber, int32_t* Searchable) override;
  SQLResult ZYL_DBX_CALL isBlobSizeExact(uint16_t ColumnNumber, int32_t* IsExact) override;
  SQLResult ZYL_DBX_CALL next() override;
  SQLResult ZYL_DBX_CALL getString(uint16_t ColumnNumber, char* Value, int32_t* IsBlank) override;
  SQLResult ZYL_DBX_CALL getShort(uint16_t ColumnNumber, void* Value, int32_t* IsBlank) override;
  SQLResult ZYL_DBX_CALL getLong(uint16_t ColumnNumber, void* Value, int32_t* IsBlank) override;
  SQLResult ZYL_DBX_CALL getDouble(uint16_t ColumnNumber, void* Value, int32_t* IsBlank) override;
  SQLResult ZYL_DBX_CALL getBcd(uint16_t ColumnNumber, void* Value, int32_t* IsBlank) override;
  SQLResult ZYL_DBX_CALL getTimeStamp(uint16_t ColumnNumber, void* Value, int32_t* IsBlank) override;
  SQLResult ZYL_DBX_CALL getTime(uint16_t ColumnNumber, void* Value, int32_t* IsBlank) override;
  SQLResult ZYL_DBX_CALL getDate(uint16_t ColumnNumber, void* Value, int32_t* IsBlank) override;
  SQLResult ZYL_DBX_CALL getBytes(uint16_t ColumnNumber, void* Value, int32_t* IsBlank) override;
  SQLResult ZYL_DBX_CALL getBlobSize(uint16_t ColumnNumber, uint32_t* Length, int32_t* IsBlank) override;
  SQLResult ZYL_DBX_CALL getBlob(uint16_t ColumnNumber, void* Value, int32_t* IsBlank, uint32_t Length) override;

  // dbExpress type of an SQL Anywhere domain number (0 outside the table).
  static uint16_t MapDomain(int64_t Domain);

 private:
  const TDbxCatalogColumn* Layout(uint16_t ColumnNumber) const;  // null outside the layout
  SQLResult CatalogFailed(SQLResult Result);  // takes the command's error text
  SQLResult ReadInteger(uint16_t ColumnNumber, int32_t& Value, bool& IsNull);
  SQLResult Step();  // the catalog cursor's next, errors taken over
  bool PatternMatches();

  ISQLCommand* FCommand;       // the internal command (held)
  TSQLCursorZYL* FCatalog;     // its cursor over the query's rows (held)
  TDbxCatalogKind FKind;
  [[maybe_unused]] uint32_t FFlags;  // the request's type flags; the query already applied them
  AnsiString FPattern;         // empty: no filtering
  int32_t FRowNumber = 0;      // rows handed out
  const TDbxCatalogColumn* FLayout;
  uint16_t FLayoutCount;
  TDbxErrorList FErrors;
};

// ---- value conversions shared by the command and the cursor --------------------------------------

namespace zyldbx {

// The dbExpress type and sub-type a field type is reported as.
void MapFieldType(TZyloFieldTypes FieldType, uint16_t& DbxType, uint16_t& SubType);
// A 64-bit integer as a BCD value of scale 0.
TBcd Int64ToBcd(int64_t Value);
// The library's date-time record in dbExpress forms (invalid dates read as 30 December 1899,
// invalid times as midnight, as the statement reads them).
TSQLTimeStamp AsaToSQLTimeStamp(const Tsqldatetime& Stamp);
int32_t AsaToDbxDate(const Tsqldatetime& Stamp);
int32_t AsaToDbxTime(const Tsqldatetime& Stamp);  // whole seconds, in milliseconds
TSQLTimeStamp DateTimeToSQLTimeStamp(TDateTime Value);
// false when the record holds no valid date and time (an all-zero record is day 0, midnight).
bool SQLTimeStampToDateTime(const TSQLTimeStamp& Stamp, TDateTime& Value);

}  // namespace zyldbx
