// Zylbasds: the server-neutral data set over one statement, and its parameters.
//
// TZyloParam / TZyloParams hold the named, typed, directed parameters of a data set, scanned from
// its SQL text (":name") or described by a stored procedure, and stored with the component in a
// binary form ("Params.Data"). TZyloDataset turns the host framework's record-buffer protocol
// (host/DB.h) into moves of its statement's cursor: it keeps no rows of its own, every record the
// framework holds is a copy of the statement's current row, and every movement is a movement of
// the statement. A server binding derives from TZyloCustomDataset, supplies the statement class
// (CreateZyloSQL) and converts one column between the statement's row layout and the framework's
// field layout (RecBufToField / FieldToRecBuf).
//
// Life cycle of a data set (the reasons in FDBFlags hold the session open):
//
//   unprepared, closed --Prepare (holds suPrepare) | Open (implicitly)--> prepared
//   prepared --Open: OpenCursor (takes suOpen) -> CreateHandle -> CreateCursor: SetPrepared(true),
//              GetCursor: OpenPrepared; then InternalOpen builds field defs and buffers--> open
//   open --Close: CloseCursor: InternalClose, statement Close, suOpen released--> prepared or, when
//              no reason is left, unprepared (the last released reason unprepares the statement and
//              calls the session's CloseSession, which disconnects when KeepConnection is false)
//   open --Resume (the procedure has another result set)--> open, read-only, on the next result
//   any --SQL changed to another text | destruction: Disconnect = Close + UnPrepare--> unprepared
//   The statement's AfterClose / AfterUnprepare point at the data set while it is open / prepared,
//   and are cleared before the data set closes or unprepares the statement itself, so that only a
//   statement closed or unprepared from outside (its session disconnecting) is echoed back.
//
// Record buffer (one allocation, FRecBufSize bytes):
//
//   [row data: statement RecordSize][calculated fields: CalcFieldsSize][blob cache: one string
//    pointer per blob field][bookmark: int32 row (-1: none), flag byte, 3 unused][null indicators:
//    statement IndicatorSize]
//
// Messages of this unit use the identifiers 2000..2999 (host/Messages.h).
#pragma once
#pragma GCC visibility push(default)

#include <cstdint>
#include <memory>
#include <vector>

#include "base/Zylbase.h"
#include "host/DB.h"

// ---- messages ----------------------------------------------------------------------------------

enum : TResourceId {
  ZYL_ERR_DS_NO_SQL = 2000,         // "No SQL statement available"
  ZYL_ERR_DS_OPEN_OR_PREPARED,      // "Cannot perform this operation on an open or prepared dataset"
  ZYL_ERR_DS_PROC_COMPLETED,        // "The Stored Procedure has completed"
  ZYL_ERR_DS_UNKNOWN_FIELD_TYPE,    // "Field '%s' is of unknown type"
  ZYL_ERR_DS_TRUE,                  // "True"
  ZYL_ERR_DS_FALSE,                 // "False"
  ZYL_ERR_DS_BLOB_IN_FILTER,        // "Cannot access field '%s' in a filter"
  ZYL_ERR_DS_PARAM_DATA,            // "Parameter data is corrupt: %s"
  ZYL_ERR_DS_RECORD_CHANGED,        // "Couldn't perform the edit because another user changed the record"
  ZYL_ERR_DS_STORED_PROC,           // "Cannot perform this operation on a Stored Procedure"
  ZYL_ERR_DS_NO_ORDER_BY,           // "Missing or unsupported ORDER BY clause to build index"
  ZYL_ERR_DS_NO_PROC_NAME,          // "Empty or missing Stored Procedure name"
  ZYL_ERR_DS_NO_PARAM_TYPE,         // "No parameter type for parameter '%s'"
  ZYL_ERR_DS_TOO_MANY_RESULTS,      // "Too many Stored Function result parameters"
};

// ---- errors ------------------------------------------------------------------------------------

// A statement error that reached a data set: the server's text and its SQLCODE (negative).
class EZyloDatasetError : public EDatabaseError {
 public:
  EZyloDatasetError(const AnsiString& Message, int32_t ErrorCode) : EDatabaseError(Message), FErrorCode(ErrorCode) {}
  int32_t GetErrorCode() const { return FErrorCode; }

 private:
  int32_t FErrorCode;
};

// Raises EZyloDatasetError(Message, Code) when Code is negative; warnings and success pass.
void ZyloCheckError(const AnsiString& Message, int32_t Code);

enum TZyloFetchError : uint8_t { NoError = 0, BOFError = 1, EOFError = 2, FetchError = 3 };

// ---- parameters --------------------------------------------------------------------------------

enum TZyloParamType : uint8_t { zptUnknown = 0, zptInput = 1, zptInputOutput = 2, zptOutput = 3, zptResult = 4 };
// The subrange ztUnknown..ztBlob of the field types; ztMemo..ztBlob for blob loads.
using TZyloParamDataType = TZyloFieldTypes;
using TZyloParamBlobType = TZyloFieldTypes;

class TZyloParams;

// One parameter. Value holds the integer 0, not Null, after SetDataType and Clear; SQL NULL is
// IsNull. A parameter in a list is owned by the list (TZyloParams::CreateParam); one made on its
// own belongs to its creator. Destroying a parameter takes it out of its list.
class TZyloParam : public TPersistent {
 public:
  explicit TZyloParam(const AnsiString& Name = AnsiString());
  ~TZyloParam() override;
  static const TMetaClass& StaticClass();
  const TMetaClass& ClassType() const override { return StaticClass(); }

  void Assign(const TPersistent* Source) override;
  void AssignParam(const TZyloParam* Source);
  void AssignField(TField* Field);
  void AssignFieldValue(TField* Field, const Variant& Value);
  bool IsEqual(const TZyloParam* Other) const;

  void Clear();      // IsNull := true, Value := 0 (the type stays)
  void InitValue();  // ValueAssigned := true, IsNull := false

  // Setters: InitValue, then the type and the value.
  void SetAsString(const AnsiString& Value);
  void SetAsInteger(int32_t Value);
  void SetAsFloat(double Value);
  void SetAsCurrency(double Value);
  void SetAsDate(TDateTime Value);      // the date part only
  void SetAsTime(TDateTime Value);      // the time of day on day 0
  void SetAsDateTime(TDateTime Value);
  void SetAsBoolean(bool Value);
  void SetAsMemo(const AnsiString& Value);
  void SetAsBinary(const AnsiString& Value);  // bytes held in a string
  void SetAsBlob(const AnsiString& Value);
  void SetAsVariant(const Variant& Value);    // type from the variant; Null/Empty/arrays clear
  void SetBlobData(const void* Buffer, int32_t Size);  // always ztBlob
  // Text converted to the parameter's type (ztUnknown becomes ztString); a text that does not
  // convert leaves the integer 0 and raises nothing.
  void SetText(const AnsiString& Value);

  // Getters convert with the host variant conversions (and raise as they do).
  int32_t GetAsInteger() const;
  double GetAsFloat() const;
  bool GetAsBoolean() const;
  AnsiString GetAsMemo() const;
  TDateTime GetAsDateTime() const;  // 0 when null
  AnsiString GetAsString() const;   // empty when null; "True"/"False" for booleans
  Variant GetAsVariant() const;     // byte arrays for ztBinary and ztBlob
  Variant GetAsByteArray() const;   // Null for an empty text

  // The value in its buffer representation (see the unit's .cpp for the table). GetDataSize,
  // GetData and SetData raise "Field '%s' is of unknown type" for ztUnknown.
  int32_t GetDataSize() const;
  void GetData(void* Buffer) const;
  void SetData(const void* Buffer);

  void LoadFromStream(TStream& Stream, TZyloParamBlobType BlobType);
  void LoadFromFile(const AnsiString& FileName, TZyloParamBlobType BlobType);

  TZyloParams* GetParams() const { return FParams; }
  const AnsiString& GetName() const { return FName; }
  void SetName(const AnsiString& Value) { FName = Value; }
  const AnsiString& GetAlias() const { return FAlias; }
  void SetAlias(const AnsiString& Value) { FAlias = Value; }
  TZyloParamDataType GetDataType() const { return FDataType; }
  void SetDataType(TZyloParamDataType Value);  // Value := 0 as well
  const Variant& GetValue() const { return FValue; }
  bool GetIsNull() const { return FIsNull; }
  void SetIsNull(bool Value) { FIsNull = Value; }
  bool GetValueAssigned() const { return FValueAssigned; }
  void SetValueAssigned(bool Value) { FValueAssigned = Value; }
  TZyloParamType GetParamType() const { return FParamType; }
  void SetParamType(TZyloParamType Value) { FParamType = Value; }

 protected:
  void AssignTo(TPersistent* Dest) const override;

 private:
  friend class TZyloParams;
  void SetTypedValue(TZyloParamDataType Type, Variant Value);
  [[noreturn]] void RaiseUnknownType() const;

  TZyloParams* FParams = nullptr;  // the list holding it, or none
  AnsiString FName;                // as written in the SQL text, without the colon; "?" positional
  AnsiString FAlias;               // second name; stored procedures keep the server's name here
  TZyloParamDataType FDataType = ztUnknown;
  Variant FValue{0};
  bool FIsNull = false;
  bool FValueAssigned = false;  // set by an accessor, an assignment or a field
  TZyloParamType FParamType = zptUnknown;
};

// The ordered parameters of a data set; owns them. Streams as the binary property "Data".
class TZyloParams : public TPersistent {
 public:
  explicit TZyloParams(TComponent* Owner = nullptr) : FOwner(Owner) {}
  ~TZyloParams() override;
  TZyloParams(const TZyloParams&) = delete;
  TZyloParams& operator=(const TZyloParams&) = delete;
  static const TMetaClass& StaticClass();
  const TMetaClass& ClassType() const override { return StaticClass(); }

  TComponent* GetOwner() const { return FOwner; }
  // A new parameter at the end of the list, owned by it.
  TZyloParam* CreateParam(const AnsiString& Name = AnsiString());
  void AddParam(std::unique_ptr<TZyloParam> Param);     // appends and takes ownership
  std::unique_ptr<TZyloParam> RemoveParam(TZyloParam* Param);  // hands it back; null if absent
  int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
  void Clear();  // frees the parameters, last first

  // The item at Index as the data set sees it: a named item resolves to the first parameter of
  // that name, so one value serves every occurrence of a name. Raises EListError out of range.
  TZyloParam* GetParam(int32_t Index) const;
  TZyloParam* Items(int32_t Index) const;  // the item itself; raises EListError out of range
  TZyloParam* FindParam(const AnsiString& Name) const;  // case-insensitive; null when absent
  TZyloParam* ParamByName(const AnsiString& Name) const;   // raises "Host variable "%s" not found"
  TZyloParam* ParamByAlias(const AnsiString& Alias) const;

  void Assign(const TPersistent* Source) override;  // a TZyloParams or the host's TParams
  // For each own parameter the first of Source with exactly the same name (case-sensitive).
  void AssignValues(const TZyloParams* Source);
  bool IsEqual(const TZyloParams* Other) const;

  // The binary form: version tag, count, then per parameter name, alias, type, at most 2048
  // bytes of data, is-null, assigned and direction. Reading a stream of the older form (no tag,
  // no last three bytes per parameter) is supported. A truncated or inconsistent stream raises
  // EReadError and leaves the list empty; nothing is read past the stream.
  static int32_t GetVersion() { return static_cast<int32_t>(0x7FFFFF01); }
  void ReadBinaryData(TStream& Stream);
  void WriteBinaryData(TStream& Stream) const;

 protected:
  void AssignTo(TPersistent* Dest) const override;
  void DefineProperties(TFiler& Filer) override;

 private:
  friend class TZyloParam;
  void ReadParameters(TStream& Stream);
  TComponent* FOwner;  // the data set; may be none
  std::vector<std::unique_ptr<TZyloParam>> FItems;
};

// ---- index definitions ---------------------------------------------------------------------------

class TZyloIndexDefs;

// One column of the text's ORDER BY clause that is a field of the data set.
class TZyloIndexDef {
 public:
  TZyloIndexDef(TZyloIndexDefs* AOwner, const AnsiString& AFieldName, bool ADescending);
  TZyloIndexDefs* GetOwner() const { return FOwner; }
  AnsiString FieldName;
  bool Descending;

 private:
  TZyloIndexDefs* FOwner;
};

// The ORDER BY columns in order, with the data set's fields they name (not owned).
class TZyloIndexDefs {
 public:
  explicit TZyloIndexDefs(TDataSet* ADataSet) : FDataSet(ADataSet) {}
  TZyloIndexDefs(const TZyloIndexDefs&) = delete;
  TZyloIndexDefs& operator=(const TZyloIndexDefs&) = delete;
  ~TZyloIndexDefs() { Clear(); }
  // With a data set, FieldName must name one of its fields (the framework raises otherwise).
  void Add(const AnsiString& FieldName, bool Descending);
  void Clear();  // frees the definitions, last first
  int32_t GetCount() const { return static_cast<int32_t>(FItems.size()); }
  TZyloIndexDef* GetItem(int32_t Index) const;  // raises EListError out of range
  const std::vector<TField*>& Fields() const { return FFields; }

 private:
  TDataSet* FDataSet;
  std::vector<std::unique_ptr<TZyloIndexDef>> FItems;
  std::vector<TField*> FFields;
};

// ---- data set ----------------------------------------------------------------------------------

class TZyloDataset;

// Makes a data set the detail of a master data source: re-queried when the master moves.
class TZyloDataLink : public TDataLink {
 public:
  explicit TZyloDataLink(TZyloDataset* ADataSet) : FDataSet(ADataSet) {}
  TZyloDataset* GetDetail() const { return FDataSet; }

 protected:
  void ActiveChanged() override;
  void RecordChanged(TField* Field) override;
  void CheckBrowseMode() override;

 private:
  TZyloDataset* FDataSet;
};

// The version of the host framework this package was built for: 5 (libzylpack), 4 (libzylpack4) or
// 3 (libzylpack3). Built for a version before 5, the data sets have no provider operations of their
// own: every PS operation answers as the framework's data set does.
int32_t ZylPackHostVersion();

// Why a data set holds its session open (bits of FDBFlags).
enum TZyloSessionUse : uint8_t { suOpen = 0, suPrepare = 1, suExecSQL = 2, suExecProc = 3, suProvider = 4 };
using TZyloSessionUses = TSet<TZyloSessionUse, uint8_t>;

class TZyloDataset : public TDataSet {
 public:
  explicit TZyloDataset(TComponent* AOwner);
  ~TZyloDataset() override;
  // Abstract (no factory); publishes Active, AutoCalcFields and Filtered.
  static const TMetaClass& StaticClass();
  const TMetaClass& ClassType() const override { return StaticClass(); }

  // Operations this class introduces, in slot order (QueryUniqueFields names the primary key
  // that finds an inserted row again).
  virtual TZyloSQL* CreateZyloSQL() = 0;
  // One column between the statement's row layout at RecBuf and the framework's field layout.
  virtual void RecBufToField(const TZyloFieldDef* Def, const uint8_t* RecBuf, void* FieldBuf) = 0;
  virtual void FieldToRecBuf(const TZyloFieldDef* Def, uint8_t* RecBuf, const void* FieldBuf) = 0;
  virtual void CreateHandle();
  virtual void PrepareSQL(const AnsiString& Text);
  virtual void CreateCursor(bool GenHandle);  // true: prepare and open; false: execute
  virtual void CreateParamDesc();             // the parameter list is empty at prepare
  virtual void SetServerParams();             // the parameter list is not empty at prepare
  virtual void GetParamValues(Variant& Values);
  virtual void Disconnect();                  // Close, then UnPrepare
  virtual bool SetDBFlag(TZyloSessionUse Reason, bool Value);  // was Reason held before?
  virtual void GetCursor(bool GenHandle);
  virtual void CheckUnPrepared();
  virtual void QueryUniqueFields(AnsiString& Sql);  // empty here
  virtual void SetQuery(TStrings* Value);
  virtual void QueryChanged(TObject* Sender);
  virtual void SetParamsList(TZyloParams* Value);

  // Framework operations overridden (public in the framework).
  bool BookmarkValid(const void* Bookmark) override;
  int CompareBookmarks(const void* B1, const void* B2) override;
  bool GetFieldData(TField* Field, void* Buffer) override;
  void SetFieldData(TField* Field, const void* Buffer) override;
  TStream* CreateBlobStream(TField* Field, TBlobStreamMode Mode) override;
  int Translate(const char* Src, char* Dest, bool ToOem) override;
  bool GetCurrentRecord(TRecordBuffer Buffer) override;
  bool IsSequenced() override;
  void SetFiltered(bool Value) override;

  // Searching on the server cursor (see ZylbasdsLocate.cpp). Locate and LocateNext move to the
  // row found; Lookup leaves the active record where it is and gives Null when nothing matches.
  bool Locate(const AnsiString& KeyFields, const Variant& KeyValues, TLocateOptions Options) override;
  bool LocateNext(const AnsiString& KeyFields, const Variant& KeyValues, TLocateOptions Options);
  Variant Lookup(const AnsiString& KeyFields, const Variant& KeyValues, const AnsiString& ResultFields) override;
  // Keys along the ORDER BY columns: Values[i] for column i up to HighIndex, NULL after it.
  void SetKeyFields(const TVariantArray& Values, int HighIndex);
  bool FindKey(const TVariantArray& Values);
  void FindNearest(const TVariantArray& Values);
  bool GotoKey();
  void GotoNearest();
  // Are Fields the first ORDER BY columns, in order (names compared case-insensitively)?
  bool MapsToIndex(const std::vector<TField*>& Fields) const;
  TZyloIndexDefs* GetIndexDefs() const { return FIndexDefs.get(); }
  const std::vector<TField*>& GetKeyFields() const { return FKeyFields; }

  // Master/detail: parameters not assigned by the application take the values of the master's
  // fields of the same names (ZylbasdsLink.cpp).
  TDataSource* GetDataSource() const override;
  void SetDataSource(TDataSource* Value);  // raises on a circular link
  void SetParamsFromCursor();
  void RefreshParams();  // re-queries with the master's values; no close or open events

  // Provider operations (ZylbasdsProvider.cpp; built for a host framework before version 5, the
  // framework's own answers).
  void PSEndTransaction(bool Commit) override;
  TParams* PSGetParams() override;
  AnsiString PSGetQuoteChar() override;
  std::unique_ptr<EUpdateError> PSGetUpdateException(const Exception& E, const EUpdateError* Prev,
                                                     std::exception_ptr Original) override;
  bool PSInTransaction() override;
  bool PSIsSQLBased() override;
  bool PSIsSQLSupported() override;
  void PSReset() override;
  void PSSetParams(TParams* AParams) override;
  void PSStartTransaction() override;
  bool PSUpdateRecord(TUpdateKind UpdateKind, TDataSet* Delta) override;

  // Public operations.
  void Prepare();
  void UnPrepare();
  void SetPrepare(bool Value);
  bool GetPrepared() const { return FPrepared; }
  TZyloParam* ParamByName(const AnsiString& Name) const { return FParams->ParamByName(Name); }
  int32_t GetParamsCount() const { return FParams->Count(); }
  void ResetParamsList();
  int32_t GetRowsAffected();
  bool GetStillInProc();
  void Resume();
  TZyloSession* GetSession() const;
  void SetSession(TZyloSession* Value);
  void Check(bool Ok);  // the statement's last error as EZyloDatasetError, when negative
  AnsiString GetBlobData(TField* Field, TRecordBuffer Buffer) const;
  void SetBlobData(TField* Field, TRecordBuffer Buffer, const AnsiString& Value);
  void ClearBlobCache(TRecordBuffer Buffer);
  bool GetActiveRecBuf(TRecordBuffer& Buffer);
  TRecordBuffer GetOldRecord();
  // The text with trailing blanks and then trailing semicolons removed.
  static AnsiString TrimSQL(const AnsiString& Text);
  void FreeStatement();
  void FDoAfterClose(TObject* Sender);
  void FDoAfterUnPrepare(TObject* Sender);
  // Builds parameters from Text (edited in place: "::" becomes ":"); with List null only the text
  // is edited. The scanner is a loop over the characters, not recursive.
  static void CreateParams(TZyloParams* List, AnsiString& Text);

  // The statement, created on first need (CreateZyloSQL is virtual, so not in the constructor).
  TZyloSQL* Statement();
  TZyloSQL* GetStatement() const { return FStatement.get(); }

  // Properties.
  TStrings* GetSQL() const { return FSQL.get(); }
  const AnsiString& GetText() const { return FText; }
  TZyloParams* GetParams() const { return FParams.get(); }
  bool GetParamCheck() const { return FParamCheck; }
  void SetParamCheck(bool Value) { FParamCheck = Value; }
  bool GetReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool Value);
  bool GetSyncInserts() const { return FSyncInserts; }
  void SetSyncInserts(bool Value);
  bool GetAutoCalcFields() const { return AutoCalcFields; }
  void SetAutoCalcFields(bool Value) { AutoCalcFields = Value; }
  TZyloSessionUses GetDBFlags() const { return FDBFlags; }
  bool GetResumed() const { return FResumed; }
  bool GetAtEnd() const { return FAtEnd; }

  TUpdateRecordEvent OnUpdateRecord;  // the provider's update hook

 protected:

  // Record buffers.
  TRecordBuffer AllocRecordBuffer() override;
  void FreeRecordBuffer(TRecordBuffer& Buffer) override;
  void InternalInitRecord(TRecordBuffer Buffer) override;
  void InitRecord(TRecordBuffer Buffer) override;
  void ClearCalcFields(TRecordBuffer Buffer) override;
  TGetResult GetRecord(TRecordBuffer Buffer, TGetMode GetMode, bool DoCheck) override;
  int GetRecordSize() override;

  // Bookmarks.
  void GetBookmarkData(TRecordBuffer Buffer, void* Data) override;
  void SetBookmarkData(TRecordBuffer Buffer, const void* Data) override;
  TBookmarkFlag GetBookmarkFlag(TRecordBuffer Buffer) override;
  void SetBookmarkFlag(TRecordBuffer Buffer, TBookmarkFlag Value) override;
  void InternalGotoBookmark(const void* Bookmark) override;
  void InternalSetToRecord(TRecordBuffer Buffer) override;

  // Cursor.
  void OpenCursor(bool InfoQuery) override;
  void CloseCursor() override;
  void InternalOpen() override;
  void InternalClose() override;
  void InternalInitFieldDefs() override;
  bool IsCursorOpen() override;
  void InternalFirst() override;
  void InternalLast() override;

  // Changes, through the statement's positioned operations on its own cursor (ZylbasdsEdit.cpp).
  void DoBeforeEdit() override;
  void InternalEdit() override;
  void InternalAddRecord(TRecordBuffer Buffer, bool Append) override;
  void InternalPost() override;
  void InternalDelete() override;
  void InternalCancel() override;
  void InternalRefresh() override;
  bool GetCanModify() override;
  virtual void UpdateKeyFields();
  virtual void SynchronizeCursor(bool AtEnd);
  // Closes and reopens the statement's cursor; finds the row of KeyFields in Buffer when given,
  // else stands by Flag (bfCurrent: the same row number).
  virtual void RefreshCursor(const std::vector<TField*>* KeyFields, TRecordBuffer Buffer, TBookmarkFlag Flag);

  // Searching.
  bool FindRecord(bool Restart, bool GoForward) override;
  virtual void UpdateIndexFields();
  virtual bool LocateRecord(const AnsiString& KeyFields, const Variant& KeyValues, TLocateOptions Options,
                            bool Continue, bool Sync);
  // The scan behind every search; KeyBuffer's row and null regions hold the searched values.
  virtual bool LocateRecordForKey(const std::vector<TField*>& Fields, TRecordBuffer KeyBuffer, bool Continue,
                                  bool TryCurrent, bool CheckOrder, bool MoveToFound, bool Nearest, bool Partial,
                                  bool CaseInsensitive);
  // The sign of key - row for two raw values of the statement's record layout.
  virtual int CompareValues(const uint8_t* KeyValue, const uint8_t* RowValue, bool CaseInsensitive,
                            TFieldType FieldType, const TZyloFieldDef* Def, int32_t Length);
  virtual int CompareNulls(const uint8_t* KeyNulls, const uint8_t* RowNulls, const TZyloFieldDef* Def,
                           bool& KeyPresent, bool& RowPresent);
  // Collates by the user locale (string sort); Length < 0: the whole texts.
  virtual int CompareStringValue(const char* Key, const char* Row, bool CaseInsensitive, int32_t Length);

  // Record count and number.
  int GetRecordCount() override;
  int GetRecNo() override;
  void SetRecNo(int Value) override;

  // The filter callback for one fetched record (see GetRecord).
  bool RecordFilter(TRecordBuffer Buffer);
  void SetPrepared(bool Value);

  // Regions of a record buffer (see the unit comment); computed in InternalOpen.
  int32_t RowOfBuffer(TRecordBuffer Buffer) const;
  uint8_t* NullsOf(TRecordBuffer Buffer) const {
    return reinterpret_cast<uint8_t*>(Buffer) + FNullOfs;
  }
  AnsiString* BlobSlot(TRecordBuffer Buffer, int Index) const;

 private:
  friend class TZyloDatasetBlobStream;
  // The statement's field definition behind a data field; null for other fields.
  const TZyloFieldDef* DefOf(const TField* Field);
  void WriteBookmark(TRecordBuffer Buffer, int32_t Row, TBookmarkFlag Flag);
  void CopyCurrentRow(TRecordBuffer Buffer, bool WithRow);
  void ClearStatementEvents();
  void PutRecord(TRecordBuffer Buffer);         // Buffer's row and nulls into the statement
  void CopyStatementRow(TRecordBuffer Buffer);  // the statement's row and nulls into Buffer
  void FillKeyBuffer(const std::vector<TField*>& Fields, TRecordBuffer KeyBuffer, const Variant& KeyValues);
  bool LocateWith(const AnsiString& KeyFields, const Variant& KeyValues, TLocateOptions Options, bool Continue);

  std::unique_ptr<TZyloSQL> FStatement;  // created by CreateZyloSQL on first need
  std::unique_ptr<TStringList> FSQL;     // change notification: QueryChanged
  AnsiString FText;                      // FSQL's text as scanned; what is prepared
  bool FParamCheck = true;               // rebuild the parameter list when the text changes
  bool FPrepared = false;                // the statement is prepared on this data set's behalf
  TRecordBuffer FFilterBuffer = nullptr; // the record field access sees in dsFilter
  std::vector<char> FOldRecBuf;          // the statement's old row, for dsOldValue
  int32_t FRecBufSize = 0;
  int32_t FRecordSize = 0;               // the statement's RecordSize at open
  int32_t FIndicatorSize = 0;            // the statement's IndicatorSize at open
  int32_t FBlobSlots = 0;                // blob fields bound at open
  bool FReadOnly = true;
  int32_t FBlobCacheOfs = 0, FBookmarkOfs = 0, FNullOfs = 0;
  std::unique_ptr<TZyloParams> FParams;
  TZyloSessionUses FDBFlags;             // reasons currently holding the session
  bool FAtEnd = false;                   // the last absolute positioning was InternalLast
  bool FDescribeOnly = false;            // prepare describes parameters but prepares no SQL
  bool FResuming = false;                // Resume reopens; the statement stays open meanwhile
  bool FResumed = false;                 // showing a further result set: cannot modify
  bool FSyncInserts = false;
  std::vector<TField*> FKeyFields;       // fields that find an inserted row again (SyncInserts)
  bool FEditChecked = false;             // this Edit compared the row with the server's already
  std::unique_ptr<TZyloIndexDefs> FIndexDefs;  // the ORDER BY columns that are fields
  TRecordBuffer FKeyBuffer = nullptr;    // the key record of SetKeyFields
  std::unique_ptr<TZyloDataLink> FDataLink;    // to the master data source
  std::unique_ptr<TParams> FProviderParams;    // what PSGetParams hands out

 protected:
  bool GetDescribeOnly() const { return FDescribeOnly; }
  void SetDescribeOnly(bool Value) { FDescribeOnly = Value; }
  // The text that is prepared, for classes that generate it instead of scanning SQL.
  void SetPreparedText(const AnsiString& Value) { FText = Value; }
};

// The query base of the server bindings: adds running the text without a result (ExecSQL).
class TZyloCustomDataset : public TZyloDataset {
 public:
  using TZyloDataset::TZyloDataset;
  static const TMetaClass& StaticClass();
  const TMetaClass& ClassType() const override { return StaticClass(); }

  // Prepares and executes the text with the parameter values; GetRowsAffected then reports the
  // rows processed.
  void ExecSQL();

  // Provider operations: the table of the text, the text itself, the order of its ORDER BY.
  void PSExecute() override;
  AnsiString PSGetTableName() override;
  void PSSetCommandText(const AnsiString& CommandText) override;
  std::unique_ptr<TIndexDef> PSGetDefaultOrder() override;
};

// The data set of a stored procedure or function. The application names the procedure
// (StoredProcName, "owner.name" or "name"); the parameters are discovered from the server's catalog
// at the first prepare while Params is empty (a list the application filled is taken as it is),
// and the call text is generated from the list: ExecProc runs it and copies output and result
// values back into Params; Open shows its result set, Resume the further ones. A binding supplies
// the catalog query (QuerySPParamList) and the call syntax (BuildSPCallStatement).
//
//   unnamed --StoredProcName--> named (Params and SQL empty) --Prepare | ExecProc | Open--> prepared
//   (parameters discovered, call text generated and prepared) --ExecProc--> outputs in Params, and
//   unprepared again unless Prepare holds it; --Open--> open on the procedure's result set.
//   Naming another procedure returns to the named state.
class TZyloCustomStoredProc : public TZyloDataset {
 public:
  explicit TZyloCustomStoredProc(TComponent* AOwner) : TZyloDataset(AOwner) {}
  static const TMetaClass& StaticClass();
  const TMetaClass& ClassType() const override { return StaticClass(); }

  // Operations this class introduces, in slot order.
  // The text of a query with one parameter, the procedure name, giving one row per parameter in
  // order with "parm_name", "parm_type" (1 in, 2 in/out, 3 out, 4 result, 0 not a parameter) and
  // "data_type" (the server's domain number); restricted to Owner when it is not empty.
  virtual void QuerySPParamList(const AnsiString& Owner, AnsiString& Sql) = 0;
  // Sets SQL to the call; ResultParam (":name" or empty) receives a function's value, ParamList
  // is the other parameters as ":name", joined by ",".
  virtual void BuildSPCallStatement(const AnsiString& ResultParam, const AnsiString& ParamList) = 0;

  // Data set operations overridden.
  void CreateCursor(bool GenHandle) override;  // needs a name; no master fills the parameters
  void CreateParamDesc() override;             // the catalog's parameters, then the call text
  void SetServerParams() override;             // the call text from Params
  void PrepareSQL(const AnsiString& Text) override;  // every parameter directed, one result at most
  void GetCursor(bool GenHandle) override;     // and the output values back into Params
  void QueryChanged(TObject* Sender) override; // the generated text is taken as it is
  void SetParamsList(TZyloParams* Value) override;  // replaces the list; regenerates when prepared
  // Provider operations (ZylbasdsProvider.cpp): runs the procedure; the text names the procedure.
  void PSExecute() override;
  void PSSetCommandText(const AnsiString& CommandText) override;

  // Runs the procedure once (no result set) with the input values; outputs land in Params.
  void ExecProc();
  // Copies the statement's output variables into the output and result parameters of that name.
  void GetResults();
  // The procedure's parameters into Dest: Params when prepared or filled, else the catalog's
  // (which then stay in Params; the procedure is left unprepared).
  void CopyParams(TZyloParams* Dest);

  const AnsiString& GetStoredProcName() const { return FProcName; }
  void SetProcName(const AnsiString& Value);  // the setter of StoredProcName

  // The parameter type of the server's domain number (0..29; any other: ztUnknown).
  static TZyloParamDataType DataTypeOfDomain(int32_t Domain);
  // "owner.name" split at the first dot; both parts without surrounding blanks. Owner is empty
  // when there is no dot.
  static void SplitProcName(const AnsiString& ProcName, AnsiString& Owner, AnsiString& Name);

 private:
  AnsiString FProcName;
};

// The stream through which memo and blob fields of a TZyloDataset are read and written: over the
// statement's own blob stream of the column, with the value cached in the record buffer once it
// has been read from the start to the end, until the record is fetched again.
class TZyloDatasetBlobStream : public TStream {
 public:
  TZyloDatasetBlobStream(TBlobField* Field, TBlobStreamMode Mode);
  ~TZyloDatasetBlobStream() override;
  int64_t Read(void* Buffer, int64_t Count) override;
  int64_t Write(const void* Buffer, int64_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  void Truncate();
  bool GetIsNull();
  void SetIsNull(bool Value);

 private:
  void Translate(void* Buffer, int64_t Count, bool ToOem);
  void ClearCache();

  TBlobField* FField;
  TZyloDataset* FDataSet;
  TRecordBuffer FBuffer = nullptr;  // the record the stream belongs to
  TBlobStreamMode FMode;
  bool FOpened = false;             // a record and a statement stream were found
  int32_t FFieldNo;
  AnsiString FCacheText;            // bytes read so far, in order from the start
  bool FCached = false;             // served from the record's blob cache
  int64_t FPosition = 0;
  int64_t FCacheLength = 0;
  TZyloBlobStream* FBlobStream = nullptr;
};
#pragma GCC visibility pop
