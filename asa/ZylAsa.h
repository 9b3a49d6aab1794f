// ZylAsa: the SQL Anywhere binding over the embedded-SQL client library (our DBLIB).
//
// TAsaSession implements TZyloSession over the client library it loads by file name: it binds the
// library's entry points by name (ZylDummyProc for missing required ones, nullptr for optional
// ones), probes the library version (10 down to 4), composes connection strings from its
// properties piece by piece, connects in client, server or workgroup mode, evaluates every library
// result into the session's error record (Check), sets the connection options the statements rely
// on, turns the library's callbacks into component events, and offers the library's utility calls
// (engine and database start/stop, backup, connection information, ping, cancel ...).
// TAsaStatementPool, owned by the session, recycles the library's statement numbers.
//
// The statements (TAsaSQL) call the dbpp_* entry points through AsaCall with the session's
// argument record, so that one call site serves the version-4..6 argument lists (a record
// pointer after the SQLCA) and the version-7+ lists alike.
//
// Session life cycle (on top of the base's, base/Zylbase.h):
//
//   disconnected --Open--> connecting: library loaded and initialised (own SQLCA, version,
//                          argument record), debug callback registered, connect by ServerType
//                          (a server started here is stopped again when the connect fails)
//   connecting --success--> connected: other callbacks registered, Handle = own SQLCA,
//                          ServerVersion known, options applied (not on the utility database)
//   connected --Close--> disconnected: statement pool cleared, commit when CommitOnDisconnect,
//                          db_string_disconnect, every callback unregistered
//   connected --Check sees -101/-308--> disconnected (Close), OnConnectionTerminated
//
// Callbacks: the library calls plain functions and hands them the SQLCA of the request. A
// process-wide table (guarded by a mutex) maps (SQLCA, callback index) to the session that
// registered it, so several sessions can register at once and each callback reaches its own
// session; an entry is removed when the callback is unregistered or the session goes.
//
// Messages of this unit use the identifiers 3000..3049 of the binding's range (host/Messages.h);
// the statement half uses 3050 and above.
#pragma once
#pragma GCC visibility push(default)

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "base/Zylbase.h"
#include "dblib/esql.h"

// ---- enumerations and events -------------------------------------------------------------------

enum TAsaServerType : uint8_t { stClient = 0, stServer = 1, stWorkgroup = 2 };

enum TAsaTransIsolation : uint8_t {
  atUnchanged = 0,
  atReadUncommitted = 1,
  atReadCommitted = 2,
  atReapeatableRead = 3,
  atSerializable = 4,
};

enum TServerMessageType : uint8_t { smtUnknown = 0, smtInfo = 1, smtWarning = 2, smtAction = 3, smtStatus = 4 };

// 0, 1, 3, 5 copy the database files, then files -1 and -2; 2, 4, 6 handle file -2 alone.
enum TBackupType : uint8_t {
  btFull = 0,
  btFullRenameLog = 1,
  btRenameLog = 2,
  btFullRenameLocalLog = 3,
  btRenameLocalLog = 4,
  btFullRestartLog = 5,
  btRestartLog = 6,
};

enum TAsaConnectionInfo : uint8_t { ciEngineVersion = 0, ciEngineName = 1, ciDatabaseName = 2 };

enum TAsaPropertyType : uint8_t { ptServerAddress = 0 };

using TServerWaitEvent = std::function<void(TObject* Sender, bool& AbortRequest)>;
using TServerMessageEvent =
    std::function<void(TObject* Sender, TServerMessageType MessageType, int32_t MessageCode, const AnsiString& Msg)>;
using TDebugMessageEvent = std::function<void(TObject* Sender, const AnsiString& Msg)>;
using TBackupEvent = std::function<void(TObject* Sender, const AnsiString& BackupFile, int32_t CurrPage,
                                        int32_t NumOfPages, bool& AbortBackup)>;
using TLocateServersEvent = std::function<void(TObject* Sender, const AnsiString& ServerName,
                                               const AnsiString& ServerAddress, int32_t ServerPort,
                                               bool& AbortLocate)>;

// The SQL Anywhere package's own messages (raised as EZyloException with code 0).
enum : TResourceId {
  ZYL_ERR_ASA_BACKUP_MEDIA = 3000,  // "Not able to backup to the selected media."
  ZYL_ERR_ASA_BACKUP_ABORTED,       // "User aborted backup operation."
  ZYL_ERR_ASA_BACKUP_RENAME_LOG,    // "Unable to rename local transaction log."
};

// ---- calling the dbpp_* entry points -------------------------------------------------------------

// Calls a dbpp_* entry point (or the session's commit, rollback and option calls) with the
// argument list of the loaded library: with ArgRecord (versions 4 to 6) the record pointer follows
// the SQLCA, without it (nullptr, version 7 on) the call has the exact esql.h prototype. A spells
// the prototype's parameter types after the SQLCA exactly; callers pass exactly typed arguments
// (AsaCall<void>(p, rec, ca, (char*)nullptr, 0u) rather than a bare 0), since nothing converts them.
// A missing entry point holds ZylDummyProc, which raises EZyloException whatever it was given.
template <class R, class... A>
R AsaCall(void* Proc, void* ArgRecord, SQLCA* Ca, A... Args) {
  if (ArgRecord) return reinterpret_cast<R (*)(SQLCA*, void*, A...)>(Proc)(Ca, ArgRecord, Args...);
  return reinterpret_cast<R (*)(SQLCA*, A...)>(Proc)(Ca, Args...);
}

// The address of ZylDummyProc as an untyped entry point.
inline void* AsaDummyProc() { return reinterpret_cast<void*>(&ZylDummyProc); }

// Binds a dbpp_* entry point by name: its address, or ZylDummyProc when the library lacks it.
void* AsaGetPPProc(HMODULE Library, const char* Name);

class TAsaSession;

// ---- statement pool ----------------------------------------------------------------------------

// One statement number this connection has used.
struct TAsaStatement {
  int32_t StatementNumber = 0;  // the key; unique in the pool
  bool InUse = true;            // a prepared statement holds it
};

// The statement numbers of one connection and whether each is in use, so that a new prepare can
// hand a free number back to the library and reuse its slot. Owned by the session; cleared when
// the session disconnects (numbers mean something only within one connection).
class TAsaStatementPool {
 public:
  TAsaStatementPool(TAsaSession* Session, int32_t Capacity);
  ~TAsaStatementPool();
  TAsaStatementPool(const TAsaStatementPool&) = delete;
  TAsaStatementPool& operator=(const TAsaStatementPool&) = delete;

  TAsaStatement* Find(int32_t StatementNumber);  // nullptr when absent
  int32_t Next() const;  // first entry (in order of addition) not in use; 0 when none
  // Marks the entry in use; a number not yet in the pool is added (in use) only when the
  // session's library version is above 5.
  void Use(int32_t StatementNumber);
  void Drop(int32_t StatementNumber);  // marks the entry, when there is one, not in use
  void Clear();                        // frees every entry, last first
  int32_t Count() const { return static_cast<int32_t>(FStatements.size()); }
  TAsaSession* GetSession() const { return FSession; }

 private:
  TAsaSession* FSession;  // not owned
  std::vector<std::unique_ptr<TAsaStatement>> FStatements;  // in order of addition
};

// ---- session -----------------------------------------------------------------------------------

class TAsaSession : public TZyloSession {
 public:
  explicit TAsaSession(TComponent* AOwner = nullptr);
  ~TAsaSession() override;
  // Registered as "TAsaSession"; publishes the base properties plus the ones below.
  static const TMetaClass& StaticClass();
  const TMetaClass& ClassType() const override { return StaticClass(); }

  // TZyloSession's operations, in slot order.
  void InternalLoadLibraryProcs() override;
  void InternalInitLibrary() override;
  void InternalFiniLibrary() override;
  void InternalOpenDatabase(void*& Handle) override;
  void InternalCloseDatabase() override;
  void InternalSetHandle(void* Handle) override;
  bool Check(void* Context, int32_t Arg1, int32_t Arg2, bool RaiseOnError) override;
  bool CheckPopError(bool RaiseOnError) override;
  bool InternalCommit(bool RaiseOnError) override;
  bool InternalRollback() override;
  AnsiString GetLibraryVersion() override;  // the engine version text
  bool Ping(const AnsiString& ConnectString) override;
  bool Stop() override;

  // Options of the connection (one-variable string descriptor; follow WantExceptions).
  bool GetOption(const AnsiString& Name, AnsiString& Value);
  bool SetOption(const AnsiString& Name, const AnsiString& Value);

  // Engine, database and server control.
  void StartDatabaseEngine(bool& Started);
  bool StartDatabase(const AnsiString& Params);
  bool StopDatabase(const AnsiString& Params);
  bool Backup(const AnsiString& Directory, TBackupType BackupType);
  bool GetConnectionInfo(TAsaConnectionInfo Info, AnsiString& Value);
  bool GetProperty(TAsaPropertyType Prop, AnsiString& Value);
  bool LocateServers();
  bool NeedQuotes(const AnsiString& Name);
  bool IsWorking();
  bool TimeChange();

  // Connection-string compositions (pieces joined by ";", empty pieces leave no separator).
  AnsiString ConnectString() const;          // connect to a database
  AnsiString EngineConnectString() const;    // connect to an engine only
  AnsiString StartServerString() const;      // start a server
  AnsiString StartDatabaseString() const;    // start a database
  AnsiString RemoteStartString() const;      // start a database remotely
  AnsiString RemoteStopString() const;       // stop a database remotely
  AnsiString EnginePiece() const;            // "eng=..."

  // What the statements need.
  uint8_t Version() const { return FLibraryVersion; }  // library version 4..10; 0 before loading
  uint8_t GetServerVersion() const { return FServerVersion; }
  void* ArgRecord() { return FLibraryVersion < 7 ? static_cast<void*>(FArgRecord) : nullptr; }
  SQLCA* GetSQLCA() const { return FActiveSQLCA; }  // the active SQLCA (own or attached)
  SQLCA* GetOwnSQLCA() { return &FSQLCA; }
  TAsaStatementPool* GetStatementPool() const { return FStatementPool.get(); }

  // Properties.
  const AnsiString& GetLoginEngineName() const { return FLoginEngineName; }
  void SetLoginEngineName(const AnsiString& Value) { FLoginEngineName = Value; }
  const AnsiString& GetServerParams() const { return FServerParams; }
  void SetServerParams(const AnsiString& Value) { FServerParams = Value; }
  const AnsiString& GetClientParams() const { return FClientParams; }
  void SetClientParams(const AnsiString& Value) { FClientParams = Value; }
  TAsaServerType GetServerType() const { return FServerType; }
  void SetServerType(TAsaServerType Value);  // a new value closes the connection first
  TAsaTransIsolation GetTransIsolation() const { return FTransIsolation; }
  void SetTransIsolation(TAsaTransIsolation Value);
  bool GetTrimBlanks() const { return FTrimBlanks; }
  void SetTrimBlanks(bool Value) { FTrimBlanks = Value; }
  bool GetWantRowCounts() const { return FWantRowCounts; }
  void SetWantRowCounts(bool Value);

  TNotifyEvent OnServerStart;
  TNotifyEvent OnServerFinish;
  TServerWaitEvent OnServerWait;
  TServerMessageEvent OnServerMessage;
  TNotifyEvent OnConnectionDropped;
  TDebugMessageEvent OnDebugMessage;
  TBackupEvent OnBackup;
  TLocateServersEvent OnLocateServers;

  // Entry points of the loaded library, typed after dblib/esql.h. Optional ones stay nullptr when
  // missing; the others hold ZylDummyProc (cast) when missing. The dbpp_* ones are untyped because
  // their argument list depends on the version (call them through AsaCall with ArgRecord()).
  decltype(&::db_version_check) db_version_check = nullptr;            // optional
  decltype(&::db_get_property) db_get_property = nullptr;              // optional
  decltype(&::db_locate_servers) db_locate_servers = nullptr;          // optional
  decltype(&::db_string_ping_server) db_string_ping_server = nullptr;  // optional
  decltype(&::db_time_change) db_time_change = nullptr;                // optional
  decltype(&::db_init) db_init = nullptr;
  decltype(&::db_fini) db_fini = nullptr;
  decltype(&::db_start_engine) db_start_engine = nullptr;
  decltype(&::db_start_database) db_start_database = nullptr;
  decltype(&::db_stop_database) db_stop_database = nullptr;
  decltype(&::db_register_a_callback) db_register_a_callback = nullptr;
  decltype(&::db_string_connect) db_string_connect = nullptr;
  decltype(&::db_stop_engine) db_stop_engine = nullptr;
  decltype(&::db_string_disconnect) db_string_disconnect = nullptr;
  decltype(&::sqlerror_message) sqlerror_message = nullptr;
  decltype(&::db_cancel_request) db_cancel_request = nullptr;
  decltype(&::db_is_working) db_is_working = nullptr;
  decltype(&::db_backup) db_backup = nullptr;
  decltype(&::db_delete_file) db_delete_file = nullptr;
  decltype(&::db_connection_info) db_connection_info = nullptr;
  decltype(&::sql_needs_quotes) sql_needs_quotes = nullptr;
  decltype(&::db_find_engine) db_find_engine = nullptr;
  decltype(&::alloc_sqlda) alloc_sqlda = nullptr;
  decltype(&::free_sqlda) free_sqlda = nullptr;
  void* dbpp_commit = nullptr;     // (SQLCA*, [record,] unsigned)
  void* dbpp_rollback = nullptr;   // (SQLCA*, [record,] unsigned)
  void* dbpp_getoption = nullptr;  // (SQLCA*, [record,] int, char*, char*, SQLDA*)
  void* dbpp_setoption = nullptr;  // (SQLCA*, [record,] int, char*, char*, SQLDA*)

  // Callback targets: what the process-wide table dispatches to (see the unit comment).
  void DoServerStart();
  void DoServerFinish();
  void DoServerWait(SQLCA* Ca);
  void DoServerMessage(unsigned char MessageType, an_sql_code Code, unsigned short Length, const char* Msg);
  void DoConnectionDropped();
  void DoDebugMessage(const char* Text);
  bool DoLocateServer(const a_server_address* Address);  // false stops the search

 protected:
  void RegisterCallback(a_db_callback_index Index, bool Register);
  void RegisterEventCallbacks();  // start, finish, wait, message, dropped: the assigned ones
  void UnregisterCallbacks();     // 9, 8, 7, 0, 2, 1
  bool StartOrStopDatabase(const AnsiString& Params, bool Start);
  void ConnectByServerType();
  void ConnectAsServer();         // start a server (when needed), connect, stop it on failure
  void ConnectStringCheck();      // db_string_connect + the -103 rule + Check(raise)
  void ApplyConnectOptions();
  void EnsureOption(const AnsiString& Name, const AnsiString& Wanted);
  // One-variable string descriptor freed on every path.
  struct TSqldaDeleter {
    TAsaSession* Session;
    void operator()(SQLDA* Da) const;
  };
  using TSqldaPtr = std::unique_ptr<SQLDA, TSqldaDeleter>;
  TSqldaPtr NewStringSqlda(char* Buffer, a_sql_len Length);
  // Backup helpers (AsaSessionBackup.cpp).
  // Missing (when given) tells a file the library does not know from one that failed.
  bool BackupFile(const AnsiString& Directory, TBackupType BackupType, int FileNumber, SQLDA* Da, uint8_t* Buffer,
                  bool* Missing = nullptr);
  bool BackupFailure(TResourceId Message);  // raise (WantExceptions) or record with code 0

  SQLCA FSQLCA{};                          // the session's own communication area
  SQLCA* FActiveSQLCA = &FSQLCA;           // Handle's target: own, or one given to SetHandle
  uint8_t FLibraryVersion = 0;             // 4..10 once the library is initialised
  uint8_t FServerVersion = 0;              // major version of the connected server
  // Argument record handed to dbpp calls below version 7: 14 zero bytes, then two pointers to the
  // record's version constant. On 64-bit the pointers take 8 bytes each (30 bytes in all).
  alignas(8) uint8_t FArgRecord[30] = {};
  std::unique_ptr<TAsaStatementPool> FStatementPool;
  uint16_t FRegistered = 0;                // bit i: callback i registered with the library
  bool FTerminating = false;               // Check is closing after -101/-308 (the clean-up's
                                           // own failures must not close again)

  AnsiString FLoginEngineName;
  AnsiString FServerParams;
  AnsiString FClientParams;
  TAsaServerType FServerType = stClient;
  TAsaTransIsolation FTransIsolation = atUnchanged;
  bool FTrimBlanks = false;
  bool FWantRowCounts = true;
};

// ---- Statements ----
//
// TAsaSQL fills in the base statement's Internal... operations over the client library's embedded-
// SQL entry points. It holds two library statements: OpenStatement (the cursor path) and
// ExecStatement (the execute path); Prepare makes them one number, which each unprepare clears in
// the other path before dropping it, so a shared number is dropped exactly once. The result
// columns travel through one multi-row output descriptor (variable r * N + i is column i of
// buffered row r, pointing into the base's fetch buffer), so one library call fills a block.

// Cursor kinds; the ordinals are fixed (cursor option bits added at open in brackets).
enum TAsaCursorType : uint8_t {
  actDefault = 0,        // (none)
  actDynamicScroll = 1,  // (none)
  actFixedScroll = 2,    // 0x0080
  actInsensitive = 3,    // 0x0400
  actNoScroll = 4,       // 0x0004; the statement reports itself uni-directional
  actUnique = 5,         // 0x0800; the result is always described after open
};

// The client library's date-time record (14 bytes, packed; month 0-based).
using Tsqldatetime = SQLDATETIME;

// Date-time record <-> host date-time. Invalid parts of a record read as the epoch date or
// midnight instead of failing; a time value (WithDate false) on day 0 keeps the date fields 0.
TDateTime GetAsaTimeStamp(const Tsqldatetime& Stamp);
void PutAsaTimeStamp(bool WithDate, TDateTime Value, Tsqldatetime& Stamp);

class TAsaSQL;

// The whole value of one long field of the current row. What the application wrote is held by the
// base stream; content nobody wrote is loaded from the server cursor on first need, in pieces, and
// forgotten at the next row change.
class TAsaBlobStream : public TZyloBlobStream {
 public:
  TAsaBlobStream(TZyloBlobManager* Manager, const AnsiString& FieldName);
  int64_t Read(void* Buffer, int64_t Count) override;
  int32_t GetBlobSize() override;  // loads the current row's value when nothing was written

 private:
  TAsaSQL* Statement() const;
};

class TAsaSQL : public TZyloSQL {
 public:
  explicit TAsaSQL(TComponent* AOwner);
  ~TAsaSQL() override;
  // Publishes CursorType, TransIsolation and the base properties.
  static const TMetaClass& StaticClass();
  const TMetaClass& ClassType() const override { return StaticClass(); }

  // Overridable operations, in slot order.
  void InternalLoadLibraryProcs() override;
  // Descriptor is the address of the SQLDA pointer; Extra the size of a long value's buffer.
  void InternalInitFieldDef(TZyloFieldDefs* Defs, int32_t Index, void* Descriptor, int32_t Extra) override;
  bool InternalPrepare(const AnsiString& SQL) override;
  bool InternalPrepareOpen(const AnsiString& SQL) override;
  bool InternalDescribePrepare() override;
  bool InternalBindOpenVariables(TStrings* BlobNames) override;
  bool InternalIsUniDirectional() override;
  bool InternalOpen(bool ReadOnly) override;  // true when the result columns are known
  bool InternalDescribeOpen(bool ReadOnly) override;
  void InternalClose() override;
  void InternalUnprepareOpen() override;
  bool InternalPrepareExecute(const AnsiString& SQL) override;
  bool InternalBindExecVariables(TStrings* BlobNames) override;
  bool InternalExecute(TStrings* BlobNames) override;
  void InternalUnprepareExecute() override;
  int32_t InternalGetVariableLength(TZyloFieldTypes FieldType) override;
  TZyloFieldTypes InternalGetVariableTypeAndLength(const Variant& Value, int32_t& Length) override;
  int32_t InternalGetVariableExtType(TZyloFieldTypes FieldType) override;
  // Statement is the address of a 16-bit statement number.
  bool InternalBindVariables(void* Statement, TZyloVariableDefs* Variables, void*& Descriptor,
                             TStrings* BlobNames) override;
  bool InternalBindOutVariables(void* Statement, TZyloVariableDefs* Variables, void*& Descriptor,
                                TStrings* BlobNames) override;
  bool InternalFetchFirst() override;
  bool InternalFetchNext() override;
  bool InternalMoveToFirst() override;
  bool InternalMoveToLast() override;
  bool InternalMoveTo(int32_t Row) override;
  TZyloBlobStream* InternalCreateBlobStream(const AnsiString& FieldName) override;
  bool GetStillInProc() override { return FStillInProc; }
  AnsiString GetTableName() override;
  Variant GetFieldData(uint8_t* Buffer, int32_t Offset, int32_t Size, TZyloFieldTypes FieldType,
                       TZyloBlobStream* Blob) override;
  void GetFieldDataInto(Variant& Value, uint8_t* Buffer, int32_t Offset, int32_t Size, TZyloFieldTypes FieldType,
                        TZyloBlobStream* Blob) override;
  void PutFieldData(uint8_t* Buffer, int32_t Offset, int32_t Size, TZyloFieldTypes FieldType, const Variant& Value,
                    TZyloBlobStream* Blob) override;
  bool Resume() override;
  bool First() override;
  bool Last() override;
  bool Next() override;
  bool Curr() override;
  bool Prev() override;
  bool Modify() override;
  bool Append() override;
  bool Delete() override;
  bool GetNullIndicator(uint8_t* Indicators, int32_t FieldNo) override;
  void PutNullIndicator(uint8_t* Indicators, int32_t FieldNo, bool IsNull) override;
  bool GetBlobTruncIndicator(uint8_t* Indicators, int32_t FieldNo) override;

  // Exact access to the current row for callers that need more than a Variant carries.
  // GetFieldTimeStamp: the date-time record of a date, time or time-stamp field as fetched, with
  // its microseconds (a TDateTime keeps milliseconds); false for a field of another type.
  // ReadBlobPiece: up to Count bytes (at most one piece) of a long field's value, read from the
  // server cursor at byte Offset and kept nowhere else, so a value of any length can be streamed;
  // Complete tells whether the value ends with this piece (a NULL value reads as 0 bytes,
  // complete). Returns the bytes read, or -1 when the server refused (raised with WantExceptions).
  // Both raise "Field \"%s\" not found" for an unknown field; ReadBlobPiece raises "Field \"%s\" is
  // not a blob" for a field that is not long, whose row the server cursor need not stand on.
  bool GetFieldTimeStamp(const Variant& NameOrIndex, Tsqldatetime& Stamp);
  int32_t ReadBlobPiece(const Variant& NameOrIndex, int32_t Offset, uint8_t* Buffer, int32_t Count, bool& Complete);

  // Positioned lock of the current row; the access plan of the open cursor.
  bool Lock();
  AnsiString Explain();
  // Runs SQL at once (no statement of this object is touched); RowsProcessed as the server says.
  bool ExecuteImmediate(const AnsiString& SQL);
  // One statement on the side: Params Null runs the text immediately, otherwise it is prepared,
  // bound with the values, executed once and dropped again.
  bool InternalLocalExecute(const AnsiString& SQL, const Variant& Params);

  // The current row from the fetch block; trailing blanks of the delivered rows.
  void ConvertFetchedBuffers();
  void TrimFetchBuffer();
  bool IsBlobTruncated(TZyloBlobStream* BlobStream);

  // Long values sent to the server: a LONG BINARY connection variable filled piece by piece, and
  // the drop of the variables one statement used.
  bool InternalCreateBlobVariable(const AnsiString& Name, const uint8_t* Data, int32_t Length);
  void InternalDropBlobVariables(TStrings* Names);
  // Creates and fills the variable for one value of a statement and adds its name to BlobNames;
  // when that fails, drops the statement's variables made so far and returns false.
  bool SendLongValue(const AnsiString& Name, const uint8_t* Data, int32_t Length, TStrings* BlobNames);
  void InternalDropStatement(int16_t& Statement);
  void InternalAutoCommit();

  // Properties.
  TAsaCursorType GetCursorType() const { return FCursorType; }
  void SetCursorType(TAsaCursorType Value) { FCursorType = Value; }  // takes effect at the next open
  TAsaTransIsolation GetTransIsolation() const { return FTransIsolation; }
  void SetTransIsolation(TAsaTransIsolation Value) { FTransIsolation = Value; }
  bool GetResumable() const { return FResumable && FLibraryVersion >= 6; }
  void SetResumable(bool Value) { FResumable = Value; }

  // State, for the blob streams, data sets and tests.
  uint8_t GetStatementLibraryVersion() const { return FLibraryVersion; }
  int16_t GetOpenStatement() const { return FOpenStatement; }
  int16_t GetExecStatement() const { return FExecStatement; }
  const char* GetCursorName() const { return FCursorName; }
  SQLDA* GetOutputSQLDA() const { return FOutputSQLDA; }
  bool GetFirstFetchPending() const { return FFirstFetchPending; }
  // Server calls made on the fetch path (block fetches and plain moves) since the statement was
  // created: lets callers see which moves stay inside the buffered block.
  int64_t GetFetchCalls() const { return FFetchCalls; }
  // Relative offset of the last plain move InternalMoveTo asked for.
  int32_t GetLastMoveOffset() const { return FLastMoveOffset; }
  // Statements run on the side (InternalLocalExecute) and pieces of long values read from the
  // server since the statement was created.
  int64_t GetSideStatements() const { return FSideStatements; }
  int64_t GetBlobPieceReads() const { return FBlobPieceReads; }
  SQLDA* GetExecInputSQLDA() const { return FExecInputSQLDA; }

 private:
  friend class TAsaBlobStream;

  // The 26 entry points, in the order they are fetched.
  struct TProcs {
    void* dbpp_prepare = nullptr;
    void* dbpp_dropstmt = nullptr;
    void* dbpp_execute_into = nullptr;
    void* dbpp_execute_imm = nullptr;
    void* dbpp_describe = nullptr;
    void* dbpp_describe_cursor = nullptr;
    void* dbpp_describe_names = nullptr;
    void* dbpp_declare = nullptr;
    void* dbpp_open = nullptr;
    void* dbpp_explain = nullptr;
    void* dbpp_fetch = nullptr;
    void* dbpp_fetch_array = nullptr;
    void* dbpp_get_data = nullptr;
    void* dbpp_put_into = nullptr;
    void* dbpp_update = nullptr;
    void* dbpp_delete = nullptr;
    void* dbpp_resume = nullptr;
    void* dbpp_close = nullptr;
    void* alloc_sqlda = nullptr;
    void* free_sqlda = nullptr;
    void* alloc_sqlda_noind = nullptr;
    void* fill_sqlda = nullptr;
    void* free_sqlda_noind = nullptr;
    void* free_filled_sqlda = nullptr;
    void* dbpp_commit = nullptr;
    void* dbpp_rollback = nullptr;
  };

  TAsaSession* AsaSession() const;  // the linked session as a TAsaSession, or raises
  SQLCA* Sqlca() const;             // the session's active SQLCA
  // Calls a dbpp entry point with the active SQLCA (and the argument record below version 7);
  // the arguments are typed exactly as the prototypes in dblib/esql.h.
  template <class... A>
  void Pp(void* Proc, A... Args) {
    AsaCall<void>(Proc, FArgumentRecord, Sqlca(), Args...);
  }
  SQLDA* AllocSqlda(unsigned N);
  SQLDA* AllocSqldaNoInd(unsigned N);
  void FreeSqlda(SQLDA*& Da);
  void FreeSqldaNoInd(SQLDA*& Da);
  bool CheckResult();  // the statement's Check: no context, WantExceptions as the raise flag
  // Frees a descriptor with the routine matching its allocation when it goes out of scope.
  struct TOwnedSqlda {
    TAsaSQL* Owner;
    SQLDA* Da;
    bool WithIndicators;
    TOwnedSqlda(TAsaSQL* AOwner, SQLDA* ADa, bool AWithIndicators)
        : Owner(AOwner), Da(ADa), WithIndicators(AWithIndicators) {}
    TOwnedSqlda(const TOwnedSqlda&) = delete;
    TOwnedSqlda& operator=(const TOwnedSqlda&) = delete;
    ~TOwnedSqlda() {
      if (WithIndicators)
        Owner->FreeSqlda(Da);
      else
        Owner->FreeSqldaNoInd(Da);
    }
  };
  // Prepares SQL under a number from the pool (0 asks the library for a new one) and marks the
  // number used; false when the server refused the text.
  bool PrepareStatement(int16_t& Statement, const AnsiString& SQL);
  bool FillValues(SQLDA* Values, bool Update, TStrings* BlobNames, bool& Changed);

  bool DescribeColumns(bool OfCursor);  // the shared steps of both describes
  void ReadLongNames(bool OfCursor, int32_t N);
  uint32_t CursorOptions(bool ReadOnly, int16_t& Isolation) const;
  void ClearFetchBlock();
  bool FetchBlock(uint16_t Mode, int32_t Offset);  // false only on a negative code
  void TakeDeliveredRows();
  void ShrinkFirstBlock();
  void FetchBlockBefore();  // Prev from the first row of a block: the rows ending before it
  bool PlainFetch(uint16_t Mode, int32_t Offset, uint16_t Option);
  void CheckOpened();
  void CheckModifiable();
  AnsiString FetchedText(const uint8_t* Data, int32_t Size);
  Variant ReadWholeBlob(TZyloBlobStream* Blob, bool AsText);
  // Loads the current row's value of FieldNo into Gathered; false when a piece read failed.
  bool LoadBlobValue(int32_t FieldNo, std::vector<uint8_t>& Gathered);

  uint8_t FLibraryVersion = 0;         // copy of the session's, taken when the entry points load
  void* FArgumentRecord = nullptr;     // the session's 22-byte record below version 7, else null
  SQLDA* FOutputSQLDA = nullptr;       // result columns, FetchCount rows, no indicators
  SQLDA* FOpenInputSQLDA = nullptr;    // cursor's host variables
  int16_t FOpenStatement = 0;
  SQLDA* FExecInputSQLDA = nullptr;
  SQLDA* FExecOutputSQLDA = nullptr;
  int16_t FExecStatement = 0;
  bool FResumable = false;             // the cursor statement may return several result sets
  bool FTrimFetched = false;           // the session's TrimBlanks, taken at open
  TProcs FProcs;
  char FCursorName[31] = {0};          // "ZYL-<OpenStatement>", built at open
  TAsaCursorType FCursorType = actDefault;
  TAsaTransIsolation FTransIsolation = atUnchanged;
  bool FStillInProc = false;
  bool FFirstFetchPending = false;
  // Names of connection variables that bound descriptors point at (sqldata of type 600); they
  // must stay put until the next binding of the same side.
  std::deque<AnsiString> FOpenVariableNames;
  std::deque<AnsiString> FExecVariableNames;
  int64_t FFetchCalls = 0;
  int32_t FLastMoveOffset = 0;
  int64_t FSideStatements = 0;
  int64_t FBlobPieceReads = 0;
};
#pragma GCC visibility pop
