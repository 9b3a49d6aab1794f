// Zylbase: the server-neutral core every server binding builds on.
//
// It owns the vocabulary the layers share (field types, field and variable definitions, the
// exception family and its translatable messages, the substitute entry points), the abstract
// session (TZyloSession: library loading, connecting, the registry of statements and data sets,
// transactions, the error record), the abstract statement (TZyloSQL: the fixed life cycle of
// prepare, bind, open, fetch, close, execute and unprepare, the buffers of the open cursor, value
// access and conversions) and the blob streams of long values.
//
// The base classes never talk to a server. A binding derives from TZyloSession and TZyloSQL and
// fills in their Internal... operations; the base fixes the order of every step, so no binding has
// to remember the bookkeeping (state flags, buffers, events, error texts).
#pragma once
#pragma GCC visibility push(default)

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "base/ZylUtil.h"
#include "host/Classes.h"
#include "host/Graphics.h"
#include "host/Messages.h"
#include "host/Platform.h"
#include "host/Sets.h"
#include "host/SysUtils.h"
#include "host/Variants.h"

// ---- core types ------------------------------------------------------------------------------

// Server-neutral field type. The ordinals are stored in definitions and compared numerically.
enum TZyloFieldTypes : uint8_t {
  ztUnknown = 0,
  ztString = 1,
  ztInteger = 2,
  ztInt64 = 3,
  ztFloat = 4,
  ztCurrency = 5,
  ztDate = 6,
  ztTime = 7,
  ztDateTime = 8,
  ztBoolean = 9,
  ztBinary = 10,
  ztMemo = 11,  // long character data, whole value in the field's blob stream
  ztBlob = 12,  // long byte string, whole value in the field's blob stream
};

// The one blob test of the system: the whole value lives in a blob stream.
inline bool ZylIsBlobType(TZyloFieldTypes FieldType) { return FieldType == ztMemo || FieldType == ztBlob; }

enum TZyloKeyIndicator : uint8_t { kiRegularField = 0, kiKeyField = 1, kiHiddenKeyField = 2 };

enum TZyloLocateOption : uint8_t { zloCaseInsensitive = 0, zloPartialKey = 1 };
using TZyloLocateOptions = TSet<TZyloLocateOption>;

enum TZyloGraphicType : uint8_t { gtBitmap = 0, gtMetafile = 1, gtIcon = 2 };

// Owned zero-filled byte block (record, fetch, indicator and variable buffers). Data() is null
// exactly when nothing is allocated.
class TZyloBuffer {
 public:
  void Allocate(int64_t Size);  // frees the old block; Size <= 0 leaves none
  void Free();
  void Zero();
  void Fill(uint8_t Byte, int64_t Count);  // the first Count bytes (clamped to the size)
  uint8_t* Data() const { return FData.get(); }
  int64_t Size() const { return FSize; }
  explicit operator bool() const { return FData != nullptr; }

 private:
  std::unique_ptr<uint8_t[]> FData;
  int64_t FSize = 0;
};

class TZyloFieldDefs;

// One result column or host variable. Plain data; owned by its TZyloFieldDefs.
class TZyloFieldDef {
 public:
  TZyloFieldDefs* Owner = nullptr;  // the list it belongs to
  AnsiString Name;                  // unique among a statement's result columns
  int32_t FieldNo = 0;              // zero-based position in Owner, fixed when added
  TZyloFieldTypes FieldType = ztUnknown;
  int32_t ExtType = 0;    // the binding's own type code
  int32_t Size = 0;       // bytes in a record buffer; set before the next definition is added
  int32_t Offset = 0;     // sum of the Sizes of the definitions added before this one
  int32_t Length = 0;     // declared length as the server reports it
  int32_t Precision = 0;
  int32_t Decimals = 0;
  bool Nulls = false;     // the column accepts NULL
  TZyloKeyIndicator KeyIndicator = kiRegularField;
};

// Ordered list of definitions; owns them.
class TZyloFieldDefs {
 public:
  TZyloFieldDefs() = default;
  TZyloFieldDefs(const TZyloFieldDefs&) = delete;
  TZyloFieldDefs& operator=(const TZyloFieldDefs&) = delete;
  virtual ~TZyloFieldDefs();

  // Appends a definition whose Offset is the current Size and whose FieldNo is its index.
  TZyloFieldDef* AddFieldDef(const AnsiString& Name);
  virtual void Clear();  // destroys the definitions from the last to the first
  void Remove(TZyloFieldDef* Def);  // destroys one definition (later FieldNo/Offset are kept)
  int32_t Size() const;
  int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
  TZyloFieldDef* Items(int32_t Index) const;  // null outside 0..Count-1
  int32_t IndexOf(const AnsiString& Name) const;  // case-insensitive; -1 when absent
  TZyloFieldDef* FieldByName(const AnsiString& Name) const;
  bool AnyBlob() const;

 private:
  std::vector<std::unique_ptr<TZyloFieldDef>> FItems;
};

// Host variables of one statement side plus the buffer holding their values (each at its
// definition's Offset).
class TZyloVariableDefs : public TZyloFieldDefs {
 public:
  ~TZyloVariableDefs() override;
  void Clear() override;  // also drops the buffer and Bound, so the binding binds again
  void ClearBuffer();
  void SetBufSize(int32_t Size);  // new zero-filled buffer of Size bytes

  TZyloBuffer Buffer;   // zero-filled, BufSize bytes
  int32_t BufSize = 0;  // bytes allocated for Buffer
  // The binding's indicators of the values it delivered into Buffer (output variables), in the
  // layout its GetNullIndicator reads; empty when it keeps none, and then no value reads as NULL.
  TZyloBuffer Indicators;
  bool Bound = false;   // the binding built its server descriptor for these variables
};

// ---- errors ----------------------------------------------------------------------------------

// ErrorCode is the server's SQLCODE (negative) for server errors and 0 for errors the library
// detects itself.
class EZyloException : public Exception {
 public:
  EZyloException(const AnsiString& Message, int32_t ErrorCode);
  int32_t GetErrorCode() const { return FErrorCode; }

 private:
  int32_t FErrorCode;
};

// The exception the SQL Anywhere binding raises; it adds nothing.
class EAsaException : public EZyloException {
 public:
  using EZyloException::EZyloException;
};

// Message identifiers (the base layer's range of the host message table, host/Messages.h). The
// texts are looked up at run time so that a translation can replace them; the names are the ones
// other packages import.
enum : TResourceId {
  ZYL_ERR_LIB_PATH_NOT_FOUND = 1000,
  ZYL_ERR_LIB_LOAD_FAILED,
  ZYL_ERR_LIB_INIT_FAILED,
  ZYL_ERR_LIB_WRONG,
  ZYL_ERR_SESS_NIL,
  ZYL_ERR_SESS_TRANS_ACTIVE,
  ZYL_ERR_SESS_CONNECTED,
  ZYL_ERR_SESS_INVALID_HANDLE,
  ZYL_ERR_STMT_NOT_PREPARED,
  ZYL_ERR_CURS_NOT_QUERY,
  ZYL_ERR_CURS_IS_QUERY,
  ZYL_ERR_CURS_BI_NOT_SUPP,
  ZYL_ERR_CURS_NOT_PREPARED,
  ZYL_ERR_CURS_NOT_OPENED,
  ZYL_ERR_CURS_READ_ONLY,
  ZYL_ERR_CURS_MISSING_ROWID,
  ZYL_ERR_FIELD_NOT_FOUND,
  ZYL_ERR_PARAM_NOT_FOUND,
  ZYL_ERR_BLOB_REQUIRED,
  ZYL_ERR_BLOB_STREAM_INVALID,
  ZYL_ERR_BLOB_PICTURE_INVALID,
};

// The current text of a message (a translation, when one replaced it).
AnsiString ZylLoadStr(TResourceId Id);

// ---- unit-level constants and substitute entry points -----------------------------------------

extern const char* const szZyloLibraryName;       // "Zylobase": caption of design-time message boxes
extern const char* const szZyloLibraryShortName;  // "ZYL": module name handed to the client library
extern Variant ZylEmptyParam;                     // Null; pass {ZylEmptyParam} for "no parameters"

// Installed in every entry-point variable whose function the loaded library lacks, so the failure
// surfaces when, and only when, the function is used. Both take no parameters so that they fit any
// entry-point variable after a cast; ZylDummyProc raises EZyloException (code 0, ZYL_ERR_LIB_WRONG).
// It is called through a pointer of another type only by code that expects the exception, and the
// exception crosses no C frame, because every entry-point call is made from C++.
intptr_t ZylDummyProc();
intptr_t ZylDummyProcNoExcept() noexcept;

class TZyloSQL;
class TZyloBlobStream;
class TZyloBlobManager;

// ---- session ---------------------------------------------------------------------------------
//
// Life cycle
//
//   library:     not loaded --InternalNeedLibrary--> loaded --InternalFreeLibrary--> not loaded
//                (freed on a change of LibraryFile/LibraryPath and on destruction; it stays
//                loaded across disconnects)
//
//   connection:  disconnected --Open / SetHandle(h)--> connected --Close--> disconnected
//                Open:  BeforeConnect, InternalNeedLibrary, InternalSetHandle(nullptr),
//                       InternalOpenDatabase(Handle), InTransaction := false, AfterConnect
//                Close: InternalCloseQueries, BeforeDisconnect, InternalCloseDatabase (or, for an
//                       attached handle, InternalSetHandle(nullptr) only), clear state,
//                       AfterDisconnect
//
//   streaming:   while loading, Connected := true only records StreamedConnected; Loaded applies
//                it (at run time only when ConnectOnLoading).
//
//   destruction: a binding's destructor calls DestroySession() first: Close, InternalFreeLibrary
//                and the unlinking of every statement need the binding's operations, which C++
//                no longer dispatches to once the binding's destructor has finished.
class TZyloSession : public TComponent {
 public:
  explicit TZyloSession(TComponent* AOwner);
  ~TZyloSession() override;
  // Publishes the base properties with their defaults (AutoCommit, CommitOnDisconnect, Connected,
  // ConnectOnLoading, KeepConnection, LibraryPath, LoginDatabase, LoginUser, LoginPassword,
  // OEMConvert, WantExceptions); a binding adds LibraryFile with its own default.
  static const TMetaClass& StaticClass();
  const TMetaClass& ClassType() const override { return StaticClass(); }

  // Overridable operations, in slot order.
  virtual void InternalLoadLibraryProcs() = 0;  // fetch the client library's entry points
  virtual void InternalInitLibrary();
  virtual void InternalFiniLibrary();
  virtual void InternalOpenDatabase(void*& Handle) = 0;  // connect and return the handle
  virtual void InternalCloseDatabase() = 0;
  virtual void InternalSetHandle(void* Handle) = 0;  // nullptr selects the session's own
  // Inspects the result of the last library call, records LastError/LastErrorCode, raises when
  // RaiseOnError. Returns true on success.
  virtual bool Check(void* Context, int32_t Arg1, int32_t Arg2, bool RaiseOnError) = 0;
  virtual bool CheckPopError(bool RaiseOnError) = 0;  // restore the pushed error, raise when asked
  virtual bool InternalCommit(bool RaiseOnError) = 0;
  virtual bool InternalRollback() = 0;
  virtual bool Execute(const AnsiString& SQL);  // false
  virtual AnsiString GetLibraryVersion() = 0;
  virtual bool Ping(const AnsiString& ConnectString);  // false
  virtual bool Stop() = 0;  // cancel the running request

  void Loaded() override;
  // Forgets a data set (or statement) that goes away while registered.
  void Notification(TComponent* AComponent, TOperation Operation) override;

  void Open();
  void Close();
  bool GetConnected() const { return FHandle != nullptr; }
  void SetConnected(bool Value);

  void OpenSession(TComponent* DataSet);
  void CloseSession(TComponent* DataSet);
  TComponent* GetDataSet(int32_t Index) const;  // null outside the list
  int32_t DataSetCount() const { return static_cast<int32_t>(FDataSets.size()); }

  void AddQuery(TZyloSQL* SQL);
  void RemoveQuery(TZyloSQL* SQL);
  int32_t QueryCount() const { return static_cast<int32_t>(FQueries.size()); }
  TZyloSQL* GetQuery(int32_t Index) const;  // null outside the list

  void InternalNeedLibrary();
  void InternalLoadLibrary();
  void InternalFreeLibrary();
  void InternalCloseQueries();       // unprepare every registered statement, both sides
  void InternalInvalidateQueries();  // every registered statement fetches its entry points again

  void SetHandle(void* Handle);  // attach a foreign connection (nullptr: only deselect)
  void* GetHandle() const { return FHandle; }
  bool GetHandleIsExternal() const { return FHandleIsExternal; }

  void StartTransaction();
  void Commit();
  void Rollback();
  bool GetInTransaction() const { return FInTransaction; }

  int32_t CheckPushError();
  // Records Message/Code as the last error and throws E(Message, Code). Every library-detected
  // error goes through here so the error record matches what was raised.
  template <class E = EZyloException>
  [[noreturn]] void RaiseLastError(const AnsiString& Message, int32_t Code) {
    FLastError = Message;
    FLastErrorCode = Code;
    throw E(Message, Code);
  }

  // ANSI <-> OEM translation of Length characters when OEMConvert is set (Source may be Dest).
  void TranslateChar(const char* Source, char* Dest, bool ToOem, int32_t Length) const;

  // Properties.
  bool GetAutoCommit() const { return FAutoCommit; }
  void SetAutoCommit(bool Value) { FAutoCommit = Value; }
  bool GetCommitOnDisconnect() const { return FCommitOnDisconnect; }
  void SetCommitOnDisconnect(bool Value) { FCommitOnDisconnect = Value; }
  bool GetKeepConnection() const { return FKeepConnection; }
  void SetKeepConnection(bool Value);  // false while no data set holds the session closes it
  int32_t GetOpenCount() const { return FOpenCount; }
  HMODULE GetLibraryHandle() const { return FLibraryHandle; }
  const AnsiString& GetLibraryFile() const { return FLibraryFile; }
  void SetLibraryFile(const AnsiString& Value);  // raises while connected; unloads the old one
  const AnsiString& GetLibraryPath() const { return FLibraryPath; }
  void SetLibraryPath(const AnsiString& Value);
  const AnsiString& GetLibraryDir() const { return FLibraryDir; }
  const AnsiString& GetLoginDatabase() const { return FLoginDatabase; }
  void SetLoginDatabase(const AnsiString& Value) { FLoginDatabase = Value; }
  const AnsiString& GetLoginUser() const { return FLoginUser; }
  void SetLoginUser(const AnsiString& Value) { FLoginUser = Value; }
  const AnsiString& GetLoginPassword() const { return FLoginPassword; }
  void SetLoginPassword(const AnsiString& Value) { FLoginPassword = Value; }
  bool GetOEMConvert() const { return FOEMConvert; }
  void SetOEMConvert(bool Value) { FOEMConvert = Value; }
  bool GetConnectOnLoading() const { return FConnectOnLoading; }
  void SetConnectOnLoading(bool Value) { FConnectOnLoading = Value; }
  bool GetWantExceptions() const { return FWantExceptions; }
  void SetWantExceptions(bool Value) { FWantExceptions = Value; }
  bool GetStreamedConnected() const { return FStreamedConnected; }
  const AnsiString& GetLastError() const { return FLastError; }
  int32_t GetLastErrorCode() const { return FLastErrorCode; }
  const AnsiString& GetPushedError() const { return FPushedError; }
  int32_t GetPushedErrorCode() const { return FPushedErrorCode; }
  const AnsiString& GetLastStatement() const { return FLastStatement; }
  void SetLastStatement(const AnsiString& Value) { FLastStatement = Value; }

  TNotifyEvent AfterConnect;
  TNotifyEvent BeforeConnect;
  TNotifyEvent AfterDisconnect;
  TNotifyEvent BeforeDisconnect;
  TNotifyEvent OnError;                 // fired by the binding's Check on a server error
  TNotifyEvent OnConnectionTerminated;  // fired by the binding when the server ended the connection

 protected:
  // First step of destruction; see the life cycle above. Idempotent.
  void DestroySession();
  bool IsDestroying() const;
  void DoNotify(const TNotifyEvent& Event);

  std::vector<TZyloSQL*> FQueries;      // registered statements (not owned)
  std::vector<TComponent*> FDataSets;   // data sets holding the session open (not owned)
  bool FAutoCommit = true;
  bool FCommitOnDisconnect = true;
  bool FInTransaction = false;          // a StartTransaction is active
  bool FKeepConnection = true;
  int32_t FOpenCount = 0;               // OpenSession calls not matched by CloseSession
  bool FHandleIsExternal = false;       // attached through SetHandle
  void* FHandle = nullptr;              // non-null exactly while connected
  HMODULE FLibraryHandle = nullptr;
  AnsiString FLibraryFile;
  AnsiString FLibraryPath;
  AnsiString FLibraryDir;               // with trailing backslash; empty when not loaded
  AnsiString FLoginDatabase;
  AnsiString FLoginUser;
  AnsiString FLoginPassword;
  bool FOEMConvert = false;
  bool FConnectOnLoading = true;
  bool FStreamedConnected = false;      // Connected as read from the stream, applied in Loaded
  AnsiString FLastError;                // empty after a successful check
  int32_t FLastErrorCode = 0;
  AnsiString FPushedError;
  int32_t FPushedErrorCode = 0;
  AnsiString FLastStatement;            // last text handed to the server
  bool FWantExceptions = false;
  bool FClosing = false;                // Close is running (a nested Close does nothing)

 private:
  bool FDestroyed = false;  // DestroySession ran
};

// ---- statement -------------------------------------------------------------------------------
//
// Life cycle (the two sides are independent and may both be prepared at once)
//
//   open side:    unprepared --PrepareOpen / Open / Describe--> prepared (Prepared)
//                 prepared --OpenPrepared / Open--> open (Active) --Close--> prepared
//                 prepared / open --UnprepareOpen--> unprepared
//   execute side: unprepared --PrepareExecute / Execute--> prepared (ExecPrepared)
//                 --UnprepareExecute--> unprepared; executing does not change the state
//   Prepare / Unprepare act on both sides.
//
//   destruction: a binding's destructor calls DestroyStatement() first (UnprepareOpen and
//                UnprepareExecute call the binding), then the base unlinks the session and frees
//                the blob manager and the definition lists.
class TZyloSQL : public TComponent {
 public:
  explicit TZyloSQL(TComponent* AOwner);
  ~TZyloSQL() override;
  // Publishes Session (a reference) and WantExceptions.
  static const TMetaClass& StaticClass();
  const TMetaClass& ClassType() const override { return StaticClass(); }
  // Clears the session link when the session component goes away first.
  void Notification(TComponent* AComponent, TOperation Operation) override;

  // Overridable operations, in slot order. Descriptor arguments are the binding's own.
  virtual void InternalLoadLibraryProcs() = 0;
  virtual void InternalInitFieldDef(TZyloFieldDefs* Defs, int32_t Index, void* Descriptor, int32_t Extra) = 0;
  virtual bool InternalPrepare(const AnsiString& SQL) = 0;
  virtual bool InternalPrepareOpen(const AnsiString& SQL);  // stores OpenSQL, Prepared := true
  virtual bool InternalDescribePrepare() = 0;
  virtual bool InternalBindOpenVariables(TStrings* Names) = 0;
  virtual bool InternalIsUniDirectional() = 0;
  virtual bool InternalOpen(bool ReadOnly);  // sets the open state
  virtual bool InternalDescribeOpen(bool ReadOnly) = 0;
  virtual void InternalClose();              // resets the cursor state
  virtual void InternalUnprepareOpen();      // frees the open buffers and definitions
  virtual bool InternalPrepareExecute(const AnsiString& SQL);  // stores ExecSQL, ExecPrepared := true
  virtual bool InternalBindExecVariables(TStrings* Names) = 0;
  virtual bool InternalExecute(TStrings* Names) = 0;
  virtual void InternalUnprepareExecute();   // ExecSQL := "", ExecPrepared := false
  virtual int32_t InternalGetVariableLength(TZyloFieldTypes FieldType) = 0;
  virtual int32_t InternalGetVariableExtType(TZyloFieldTypes FieldType) = 0;
  virtual bool InternalBindVariables(void* Statement, TZyloVariableDefs* Variables, void*& Descriptor,
                                     TStrings* BlobNames) = 0;
  virtual bool InternalBindOutVariables(void* Statement, TZyloVariableDefs* Variables, void*& Descriptor,
                                        TStrings* BlobNames) = 0;
  virtual bool InternalFetchFirst() = 0;
  virtual bool InternalFetchNext() = 0;
  virtual bool InternalMoveToFirst() = 0;
  virtual bool InternalMoveToLast() = 0;
  virtual bool InternalMoveTo(int32_t Row) = 0;
  virtual TZyloBlobStream* InternalCreateBlobStream(const AnsiString& FieldName) = 0;
  virtual bool GetStillInProc();  // false
  virtual AnsiString GetTableName();  // table of OpenSQL
  virtual Variant GetFieldData(uint8_t* Buffer, int32_t Offset, int32_t Size, TZyloFieldTypes FieldType,
                               TZyloBlobStream* Blob) = 0;
  // GetFieldData into the caller's Variant, for the per-field read of every fetched row; a binding
  // may override it to reuse the Variant's storage. Same result as Value = GetFieldData(...).
  virtual void GetFieldDataInto(Variant& Value, uint8_t* Buffer, int32_t Offset, int32_t Size,
                                TZyloFieldTypes FieldType, TZyloBlobStream* Blob) {
    Value = GetFieldData(Buffer, Offset, Size, FieldType, Blob);
  }
  virtual void PutFieldData(uint8_t* Buffer, int32_t Offset, int32_t Size, TZyloFieldTypes FieldType,
                            const Variant& Value, TZyloBlobStream* Blob) = 0;
  virtual bool Resume();  // false
  virtual bool First() = 0;
  virtual bool Last() = 0;
  virtual bool Next() = 0;
  virtual bool Curr() = 0;
  virtual bool Prev() = 0;
  virtual bool Modify() = 0;
  virtual bool Append() = 0;
  virtual bool Delete() = 0;
  virtual bool GetNullIndicator(uint8_t* Indicators, int32_t FieldNo) = 0;
  virtual void PutNullIndicator(uint8_t* Indicators, int32_t FieldNo, bool IsNull) = 0;
  virtual bool GetBlobTruncIndicator(uint8_t* Indicators, int32_t FieldNo) = 0;

  // Open side.
  void PrepareOpen(const AnsiString& SQL);
  bool Describe(const AnsiString& SQL);
  bool OpenPrepared(const TVariantArray& Params, bool ReadOnly);
  bool OpenReadPrepared(const TVariantArray& Params);
  bool OpenWritePrepared(const TVariantArray& Params);
  bool Open(const AnsiString& SQL, const TVariantArray& Params, bool ReadOnly);
  bool OpenRead(const AnsiString& SQL, const TVariantArray& Params);
  bool OpenWrite(const AnsiString& SQL, const TVariantArray& Params);
  bool MoveToFirst();
  bool MoveToLast();
  bool MoveTo(int32_t Row);
  void Close();
  void UnprepareOpen();

  // Execute side.
  void PrepareExecute(const AnsiString& SQL);
  bool ExecutePrepared(const TVariantArray& Params);
  bool Execute(const AnsiString& SQL, const TVariantArray& Params);
  void GetOutVar(const Variant& NameOrIndex, Variant& Value);
  void UnprepareExecute();

  // Both sides.
  void Prepare(const AnsiString& SQL);
  void Unprepare();

  // Session link and errors.
  TZyloSession* GetSession() const;  // raises when none is linked (nullptr in design mode)
  void SetSession(TZyloSession* Value);
  TZyloSession* GetSessionObject() const { return FSession; }
  bool Check(void* Context, int32_t Arg1, int32_t Arg2, bool RaiseOnError);
  int32_t CheckPushError();
  bool CheckPopError(bool RaiseOnError);
  template <class E = EZyloException>
  [[noreturn]] void RaiseLastError(const AnsiString& Message, int32_t Code) {
    // Without a session (a statement in design mode) there is no error record to keep.
    if (FSession) FSession->RaiseLastError<E>(Message, Code);
    throw E(Message, Code);
  }
  AnsiString GetLastError() const;
  int32_t GetLastErrorCode() const;

  // For bindings.
  void InternalNeedLibrary();
  void InternalInvalidateLibrary() { FNeedLibrary = true; }
  void InternalAllocOpenBuffer();
  void InternalFreeOpenBuffer();
  Variant InternalCheckVarValues(const TVariantArray& Params);
  AnsiString StatementToOem(const AnsiString& SQL);  // records LastStatement; OEM copy when asked

  // Field metadata (never raise).
  int32_t GetFieldCount() const { return FFieldDefs.Count(); }
  bool FindField(const AnsiString& Name) const { return FFieldDefs.IndexOf(Name) >= 0; }
  AnsiString GetFieldName(int32_t Index) const;
  TZyloFieldDef* GetField(const Variant& NameOrIndex) const;
  TZyloFieldTypes GetFieldType(const Variant& NameOrIndex) const;
  int32_t GetFieldSize(const Variant& NameOrIndex) const;
  int32_t GetFieldLength(const Variant& NameOrIndex) const;
  int32_t GetFieldPrecision(const Variant& NameOrIndex) const;
  int32_t GetFieldDecimals(const Variant& NameOrIndex) const;
  bool GetFieldNulls(const Variant& NameOrIndex) const;

  // Values.
  void GetFieldValue(const Variant& NameOrIndex, Variant& Value);
  void GetOldValue(const Variant& NameOrIndex, Variant& Value);
  void SetFieldValue(const Variant& NameOrIndex, const Variant& Value);
  bool IsFieldNull(const Variant& NameOrIndex);
  bool IsFieldDirty(const Variant& NameOrIndex);
  bool IsDirty();
  bool CanModify() const { return FActive && !FReadOnly; }
  void ClearField(const AnsiString& Name);
  void ClearFieldNotNull(const AnsiString& Name);
  void Clear();
  void ClearNotNull();

  // Blobs.
  void StreamToBlob(const Variant& NameOrIndex, TStream* Stream);
  void BlobToStream(const Variant& NameOrIndex, TStream* Stream);
  void GraphicToBlob(const Variant& NameOrIndex, TPicture* Picture, TZyloGraphicType GraphicType);
  void BlobToGraphic(const Variant& NameOrIndex, TPicture* Picture, TZyloGraphicType GraphicType);

  // For bindings: definitions and variables.
  TZyloFieldDef* InternalAddFieldDef(TZyloFieldDefs* Defs, const AnsiString& Name, TZyloFieldTypes FieldType,
                                     int32_t ExtType, int32_t Size, int32_t Length, int32_t Precision,
                                     int32_t Decimals, bool Nulls, TZyloKeyIndicator KeyIndicator);
  void InternalClearField(TZyloFieldDef* Def, bool SetNull);
  // Virtual so that a binding whose variables carry more than their data (a length word) can
  // send a value that its variable of the ordinary size would not hold whole as a long one.
  virtual TZyloFieldTypes InternalGetVariableTypeAndLength(const Variant& Value, int32_t& Length);
  bool InternalNeedNewVariables(const Variant& Value, TZyloVariableDefs* Defs);
  void InternalSetVariables(const Variant& Value, TZyloVariableDefs* Defs);
  static bool CheckVarType(const Variant& Value, TVarType VarType);

  // Conversions that bindings use to coerce values; each returns a neutral value on failure.
  static AnsiString SetVarToStr(const Variant& Value);
  static int32_t SetVarToInt(const Variant& Value);
  static int64_t SetVarToInt64(const Variant& Value);
  static double SetVarToFloat(const Variant& Value);
  static bool SetVarToBoolean(const Variant& Value);
  static TDateTime SetVarToDateTime(const Variant& Value);
  static Variant StrToVarByte(const void* Buffer, int32_t Length);  // Null when Length < 1
  static Variant StreamToVarByte(TMemoryStream* Stream);
  static AnsiString StreamToStr(TMemoryStream* Stream);

  // State, read by data sets and drivers.
  bool GetNeedLibrary() const { return FNeedLibrary; }
  uint8_t* GetFetchBuffer() const { return FFetchBuffer.Data(); }
  // The record buffers: whoever asks for one may write into it, so the current row is first
  // copied out of the fetch block when it is still read in place (see ViewFetchedRow).
  uint8_t* GetRecordBuffer() const { return MaterializeRow(), FRecordBuffer.Data(); }
  uint8_t* GetOldRecordBuffer() const { return MaterializeRow(), FOldRecordBuffer.Data(); }
  uint8_t* GetFetchIndicators() const { return FFetchIndicators.Data(); }
  uint8_t* GetIndicators() const { return MaterializeRow(), FIndicators.Data(); }
  uint8_t* GetOldIndicators() const { return MaterializeRow(), FOldIndicators.Data(); }
  // A look at the current row and its indicators wherever they lie (in the fetch block or the
  // record buffers), without copying the row out of the block: for readers that only copy it.
  const uint8_t* PeekRecordBuffer() const { return CurrentRecord(); }
  const uint8_t* PeekIndicators() const { return CurrentIndicators(); }
  bool GetReadOnly() const { return FReadOnly; }
  bool GetPrepared() const { return FPrepared; }
  bool GetExecPrepared() const { return FExecPrepared; }
  bool GetActive() const { return FActive; }
  const AnsiString& GetOpenSQL() const { return FOpenSQL; }
  const AnsiString& GetExecSQL() const { return FExecSQL; }
  TZyloFieldDefs* GetFieldDefs() { return &FFieldDefs; }
  TZyloVariableDefs* GetOpenVariables() { return &FOpenVariables; }
  TZyloVariableDefs* GetExecVariables() { return &FExecVariables; }
  TZyloVariableDefs* GetOutVariables() { return &FOutVariables; }
  int32_t GetFetchCount() const { return FFetchCount; }
  int32_t GetAllocatedRows() const { return FAllocatedRows; }
  int32_t GetBufferRow() const { return FBufferRow; }
  int32_t GetBufferRows() const { return FBufferRows; }
  int32_t GetCurrentRow() const { return FCurrentRow; }
  int32_t GetRecordSize() const { return FRecordSize; }
  int32_t GetIndicatorSize() const { return FIndicatorSize; }
  int32_t GetRowCountEstimate() const { return FRowCountEstimate; }
  bool GetBOF() const { return FBOF; }
  bool GetEOF() const { return FEOF; }
  bool GetWantExceptions() const { return FWantExceptions; }
  void SetWantExceptions(bool Value) { FWantExceptions = Value; }
  TZyloBlobManager* GetBlobManager() const { return FBlobManager.get(); }
  int32_t GetBlobSize() const { return FBlobSize; }
  void SetBlobSize(int32_t Value);  // 0..32763, other values ignored
  int32_t GetRowsProcessed() const { return FRowsProcessed; }
  void SetRowsProcessed(int32_t Value) { FRowsProcessed = Value; }
  int32_t GetMaxFetchCount() const { return FMaxFetchCount; }
  void SetMaxFetchCount(int32_t Value);  // 1..1000, other values ignored

  TNotifyEvent AfterOpen;  // fired by the base
  TNotifyEvent BeforeOpen;  // the others are the binding's to fire
  TNotifyEvent AfterClose;
  TNotifyEvent BeforeClose;
  TNotifyEvent AfterPrepare;
  TNotifyEvent AfterUnprepare;

 protected:
  // First step of destruction; see the life cycle above. Idempotent.
  void DestroyStatement();
  bool IsDestroying() const;
  void DoNotify(const TNotifyEvent& Event);
  // The definition for NameOrIndex, or raises "Field "%s" not found".
  TZyloFieldDef* FieldOrRaise(const Variant& NameOrIndex);
  TZyloBlobStream* BlobOf(TZyloFieldDef* Def);  // the field's stream for blob types, else null
  TZyloBlobStream* BlobOrRaise(TZyloFieldDef* Def);  // "Field "%s" is not a blob" without one
  void CheckActive();
  void CheckWritable();
  void ClearAll(bool SetNull);
  bool FinishOpen(bool Ok);  // fires AfterOpen when Ok
  bool FetchAfterOpen(bool Ok);  // first row, then AfterOpen when there is one
  bool OpenPreparedSteps(const TVariantArray& Params, bool ReadOnly);
  bool OpenTextSteps(const AnsiString& SQL, const TVariantArray& Params, bool ReadOnly);

  // The current row, read in place. A block fetch makes a fetched row current without copying
  // it: Row (RecordSize bytes) and RowIndicators (IndicatorSize bytes, or null) are read where
  // they lie until the first write to the record, the first look at the old record, or a request
  // for a record buffer, which copies the row into RecordBuffer and OldRecordBuffer (and the
  // indicators alike) and ends the view. The binding must end the view (MaterializeRow) before
  // anything rewrites the fetch block; freeing or reallocating the buffers ends it too.
  void ViewFetchedRow(uint8_t* Row, uint8_t* RowIndicators);
  void MaterializeRow() const;
  uint8_t* CurrentRecord() const { return FRowView ? FRowView : FRecordBuffer.Data(); }
  uint8_t* CurrentIndicators() const { return FRowView ? FRowIndicatorsView : FIndicators.Data(); }

  TZyloSession* FSession = nullptr;
  bool FNeedLibrary = true;           // entry points must be fetched before the next library call
  TZyloBuffer FFetchBuffer;           // FetchCount rows of RecordSize bytes
  TZyloBuffer FRecordBuffer;          // the current row
  TZyloBuffer FOldRecordBuffer;       // the current row as fetched
  TZyloBuffer FFetchIndicators;       // FetchCount rows of IndicatorSize bytes
  TZyloBuffer FIndicators;            // null indicators of RecordBuffer
  TZyloBuffer FOldIndicators;         // null indicators of OldRecordBuffer
  bool FReadOnly = false;             // the open cursor was opened read-only
  bool FPrepared = false;             // open side prepared
  bool FExecPrepared = false;         // execute side prepared
  bool FActive = false;               // cursor open
  AnsiString FOpenSQL;                // text of the prepared cursor (OEM when converted)
  AnsiString FExecSQL;                // text of the prepared statement
  TZyloFieldDefs FFieldDefs;          // result columns
  TZyloVariableDefs FOpenVariables;   // host variables of the cursor
  TZyloVariableDefs FExecVariables;   // input host variables of the execute side
  TZyloVariableDefs FOutVariables;    // output host variables of the execute side
  int32_t FFetchCount = 0;            // rows per array fetch, at most AllocatedRows
  int32_t FAllocatedRows = 0;         // rows the fetch buffers hold
  int32_t FBufferRow = 0;             // current row inside FetchBuffer
  int32_t FBufferRows = 0;            // rows held in FetchBuffer
  int32_t FCurrentRow = -1;           // position in the result, -1 for none
  int32_t FRecordSize = 0;            // bytes of one row
  int32_t FIndicatorSize = 0;         // bytes of one row's null indicators
  int32_t FRowCountEstimate = 0;      // row count reported at open; 0 when closed
  bool FBOF = true;
  bool FEOF = true;
  bool FWantExceptions = false;
  std::unique_ptr<TZyloBlobManager> FBlobManager;
  int32_t FBlobSize = 0;              // long data fetched with the row, 0..32763
  int32_t FRowsProcessed = 0;         // rows affected by the last execution
  int32_t FMaxFetchCount = 25;        // upper bound for FetchCount, 1..1000

 private:
  friend class TZyloSession;
  bool FDestroyed = false;
  // Set while the current row is read in place from the fetch block; null when the record
  // buffers hold it. Mutable: materialising does not change the row the statement shows.
  mutable uint8_t* FRowView = nullptr;
  mutable uint8_t* FRowIndicatorsView = nullptr;
};

// ---- blob streams ----------------------------------------------------------------------------
//
// One stream per long field of an open cursor, holding what the application wrote into it;
// reading content nobody wrote is the binding's Read. Created by InternalCreateBlobStream when a
// cursor with blob fields is described, cleared when a new row becomes current, freed with the
// open buffers.
class TZyloBlobStream : public TStream {
 public:
  TZyloBlobStream(TZyloBlobManager* Manager, const AnsiString& Name);
  ~TZyloBlobStream() override;

  int64_t Read(void* Buffer, int64_t Count) override = 0;  // the binding reads content
  // Writes at Position and grows the content to cover what was written (a gap after a seek past
  // the end reads as zeros; a negative Position writes nothing).
  int64_t Write(const void* Buffer, int64_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;  // no clamping
  virtual int32_t GetBlobSize();  // BlobLength when Modified, else 0

  void Truncate();  // Clear, then Modified: an emptied field is a change
  void Clear();     // no memory, nothing modified
  int32_t GetFieldNo() const;       // -1 without manager or definition
  int32_t GetFieldExtType() const;  // -1 without manager or definition

  TZyloBlobManager* GetManager() const { return FManager; }
  const AnsiString& GetName() const { return FName; }
  int32_t GetBlobLength() const { return FBlobLength; }
  int64_t GetStreamPosition() const { return FPosition; }
  const uint8_t* GetMemory() const { return FMemory.data(); }
  bool GetModified() const { return FModified; }
  bool GetEmpty() const { return FEmpty; }

 protected:
  friend class TZyloBlobManager;
  TZyloBlobManager* FManager;   // registered with, or none
  AnsiString FName;             // field name
  int32_t FBlobLength = 0;      // bytes held in FMemory
  std::vector<uint8_t> FMemory; // written (or loaded) content
  int64_t FPosition = 0;        // may lie anywhere after a Seek
  bool FModified = false;       // written or truncated since the last clear
  bool FEmpty = true;           // no memory held
};

// The streams of a statement's current row, found by field name. Owns the streams.
class TZyloBlobManager {
 public:
  explicit TZyloBlobManager(TZyloSQL* Statement) : FStatement(Statement) {}
  TZyloBlobManager(const TZyloBlobManager&) = delete;
  TZyloBlobManager& operator=(const TZyloBlobManager&) = delete;
  ~TZyloBlobManager();

  TZyloBlobStream* AddBlob(std::unique_ptr<TZyloBlobStream> Stream);  // takes ownership
  std::unique_ptr<TZyloBlobStream> RemoveBlob(TZyloBlobStream* Stream);  // gives it back, unregistered
  int32_t Count() const { return static_cast<int32_t>(FBlobs.size()); }
  void Clear();       // frees every stream, last first
  void ClearBlobs();  // clears every stream's content, keeps the streams
  TZyloBlobStream* GetBlob(int32_t Index);  // BlobByName of the stream at Index; null outside
  TZyloBlobStream* BlobByName(const AnsiString& Name);  // raises "Field "%s" is not a blob"
  TZyloSQL* GetStatement() const { return FStatement; }

 private:
  TZyloSQL* FStatement;
  std::vector<std::unique_ptr<TZyloBlobStream>> FBlobs;
};

#pragma GCC visibility pop
