// DB: the record-buffer data-set protocol. TDataSet keeps a ring of record buffers,
// the state machine, the events and the field objects; a data-set author supplies
// the primitives (allocate a buffer, fetch a record into it, bookmarks, field data,
// open and close the cursor, post and delete) and the framework calls them in a fixed
// order. Also here: fields and field definitions, parameters, data sources and data
// links, index definitions and the provider operations with EUpdateError.
//
// States of a data set (SetState sends deUpdateState at every change):
//
//   dsInactive --Open: OpenCursor -> InternalOpen, buffers filled--> dsBrowse
//   dsBrowse --Edit: InternalEdit--> dsEdit --Post: InternalPost | Cancel: InternalCancel--> dsBrowse
//   dsBrowse --Insert/Append: InitRecord, InternalInsert--> dsInsert --Post | Cancel--> dsBrowse
//   dsBrowse --Delete: InternalDelete, Resync--> dsBrowse
//   any --Close: CloseCursor -> InternalClose--> dsInactive
//   dsCalcFields, dsFilter, dsNewValue, dsOldValue, dsCurValue, dsInternalCalc are
//   temporary states entered around one call (SetTempState / RestoreState).
//
// The buffer ring: FBuffers holds FBufferCount + 1 buffers. Entries 0..FRecordCount-1
// hold fetched records in cursor order; FActiveRecord is the one the fields show;
// FCurrentRecord is the buffer the cursor stands on (-1: unknown, CursorPosChanged).
// The entry at FRecordCount is the scratch buffer: GetNextRecord and GetPriorRecord
// fetch into it and then rotate it into the ring; TempBuffer returns it.
#pragma once
#pragma GCC visibility push(default)

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "host/Classes.h"
#include "host/Sets.h"
#include "host/SysUtils.h"
#include "host/Variants.h"

class TDataSet;
class TDataSource;
class TDataLink;
class TField;
class TFieldDefs;

using TRecordBuffer = char*;
// A bookmark's bytes as GetBookmarkData wrote them; empty when there is none.
using TBookmark = std::vector<uint8_t>;
using TBookmarkStr = TBookmark;

enum TDataSetState : uint8_t {
  dsInactive = 0, dsBrowse = 1, dsEdit = 2, dsInsert = 3, dsSetKey = 4, dsCalcFields = 5,
  dsFilter = 6, dsNewValue = 7, dsOldValue = 8, dsCurValue = 9, dsBlockRead = 10,
  dsInternalCalc = 11, dsOpening = 12
};

enum TDataEvent : uint8_t {
  deFieldChange = 0, deRecordChange = 1, deDataSetChange = 2, deDataSetScroll = 3,
  deLayoutChange = 4, deUpdateRecord = 5, deUpdateState = 6, deCheckBrowseMode = 7,
  dePropertyChange = 8, deFieldListChange = 9, deFocusControl = 10, deParentScroll = 11
};

enum TGetMode : uint8_t { gmCurrent = 0, gmNext = 1, gmPrior = 2 };
enum TGetResult : uint8_t { grOK = 0, grBOF = 1, grEOF = 2, grError = 3 };
enum TBookmarkFlag : uint8_t { bfCurrent = 0, bfBOF = 1, bfEOF = 2, bfInserted = 3 };
enum TResyncMode : uint8_t { rmExact = 0, rmCenter = 1 };
using TResyncModes = TSet<TResyncMode, uint8_t>;
enum TDataAction : uint8_t { daFail = 0, daAbort = 1, daRetry = 2 };
enum TUpdateKind : uint8_t { ukModify = 0, ukInsert = 1, ukDelete = 2 };
enum TUpdateAction : uint8_t { uaFail = 0, uaAbort = 1, uaSkip = 2, uaRetry = 3, uaApplied = 4 };
enum TBlobStreamMode : uint8_t { bmRead = 0, bmWrite = 1, bmReadWrite = 2 };
enum TLocateOption : uint8_t { loCaseInsensitive = 0, loPartialKey = 1 };
using TLocateOptions = TSet<TLocateOption, uint8_t>;
enum TFieldKind : uint8_t { fkData = 0, fkCalculated = 1, fkLookup = 2, fkInternalCalc = 3 };

enum TFieldType : uint8_t {
  ftUnknown = 0, ftString = 1, ftSmallint = 2, ftInteger = 3, ftWord = 4, ftBoolean = 5,
  ftFloat = 6, ftCurrency = 7, ftBCD = 8, ftDate = 9, ftTime = 10, ftDateTime = 11,
  ftBytes = 12, ftVarBytes = 13, ftAutoInc = 14, ftBlob = 15, ftMemo = 16, ftGraphic = 17,
  ftWideString = 24, ftLargeint = 25
};
AnsiString FieldTypeName(TFieldType Type);  // "String", "Integer", ... "Unknown"
bool IsBlobType(TFieldType Type);           // ftBlob, ftMemo, ftGraphic
// Length of a blob field's value (0 for other fields).
int BlobSizeOf(const TField* Field);

enum TParamType : uint8_t { ptUnknown = 0, ptInput = 1, ptOutput = 2, ptInputOutput = 3, ptResult = 4 };

// Raised by CheckOperation when an error handler answers daAbort: a silent
// exception that ends the operation without a message.
class EAbortOperation : public Exception {
public:
  EAbortOperation() : Exception("Operation aborted") {}
};

// The provider's form of a failed update: the original error with its code and the
// code of the error before it.
class EUpdateError : public EDatabaseError {
public:
  EUpdateError(const AnsiString& Message, const AnsiString& Context, int ErrorCode,
               int PreviousError, std::exception_ptr OriginalException)
      : EDatabaseError(Message), Context(Context), ErrorCode(ErrorCode),
        PreviousError(PreviousError), OriginalException(std::move(OriginalException)) {}
  AnsiString Context;
  int ErrorCode;
  int PreviousError;
  std::exception_ptr OriginalException;
};

using TDataSetNotifyEvent = std::function<void(TDataSet* DataSet)>;
using TDataSetErrorEvent = std::function<void(TDataSet* DataSet, EDatabaseError& E, TDataAction& Action)>;
using TFilterRecordEvent = std::function<void(TDataSet* DataSet, bool& Accept)>;
using TUpdateRecordEvent = std::function<void(TDataSet* DataSet, TUpdateKind UpdateKind, TUpdateAction& UpdateAction)>;
using TFieldNotifyEvent = std::function<void(TField* Sender)>;

// ---------------------------------------------------------------------------
// Field definitions: what the cursor offers, built by InternalInitFieldDefs.

class TFieldDef {
public:
  AnsiString Name;
  TFieldType DataType = ftUnknown;
  int Size = 0;
  int FieldNo = 0;    // 1-based column number the data set's author gives
  int Precision = 0;
  bool Required = false;
  bool ReadOnly = false;
};

class TFieldDefs {
public:
  explicit TFieldDefs(TDataSet* DataSet) : FDataSet(DataSet) {}
  // Appends a definition; FieldNo is the new count unless given.
  TFieldDef& Add(const AnsiString& Name, TFieldType DataType, int Size = 0, bool Required = false,
                 int FieldNo = 0);
  void Clear() { FItems.clear(); }
  int Count() const { return static_cast<int>(FItems.size()); }
  TFieldDef& Items(int Index) const;  // raises EListError out of range
  int IndexOf(const AnsiString& Name) const;   // case-insensitive, -1
  TFieldDef* Find(const AnsiString& Name) const;  // nullptr
  // Rebuilds the definitions from the data set when they are not up to date.
  void Update();
  bool Updated = false;

private:
  TDataSet* FDataSet;
  std::vector<std::unique_ptr<TFieldDef>> FItems;
};

// ---------------------------------------------------------------------------
// Fields. A field reads and writes its value through the data set's GetFieldData /
// SetFieldData in the framework's buffer representation of its type:
//   ftString, ftWideString: Size characters and a terminating zero (DataSize Size+1)
//   ftSmallint int16, ftWord uint16, ftInteger and ftAutoInc int32, ftLargeint int64
//   ftBoolean: 16-bit, non-zero for true
//   ftFloat, ftCurrency, ftBCD: 8-byte floating point
//   ftDate: int32 day number of the time-stamp form; ftTime: int32 milliseconds since
//   midnight; ftDateTime: 8-byte floating count of milliseconds of the time-stamp form
//   ftBytes: Size bytes; ftVarBytes: 16-bit length, then Size bytes
//   ftMemo, ftBlob, ftGraphic: no buffer (DataSize 0); values go through blob streams.

class TField : public TPersistent {
public:
  TField(TDataSet* DataSet, const AnsiString& FieldName, TFieldType DataType, int Size = 0,
         TFieldKind Kind = fkData);
  ~TField() override;

  TDataSet* DataSet() const { return FDataSet; }
  const AnsiString& FieldName() const { return FFieldName; }
  TFieldType DataType() const { return FDataType; }
  TFieldKind FieldKind() const { return FFieldKind; }
  bool Calculated() const { return FFieldKind == fkCalculated; }
  bool Lookup() const { return FFieldKind == fkLookup; }
  bool IsBlob() const { return IsBlobType(FDataType); }
  int Size() const { return FSize; }
  int FieldNo() const { return FFieldNo; }
  // Data fields: the data set's choice (0 by default). Calculated and lookup fields:
  // the start of the field in the calculated-field region. Blob fields: the index
  // of the field among the blob fields.
  int Offset() const { return FOffset; }
  int DataSize() const;
  int Index() const;  // position in the data set's field list

  AnsiString DisplayLabel;  // empty: the field name is shown
  AnsiString DisplayName() const { return DisplayLabel.empty() ? FFieldName : DisplayLabel; }
  bool ReadOnly = false;
  bool Required = false;
  bool Visible = true;
  bool Transliterate = true;  // string values pass through the data set's Translate
  bool CanModify() const;

  // Lookup fields: the value of LookupResultField of the LookupDataSet row whose
  // LookupKeyFields equal this data set's KeyFields.
  TDataSet* LookupDataSet = nullptr;
  AnsiString LookupKeyFields, LookupResultField, KeyFields;

  TFieldNotifyEvent OnValidate;  // may raise to refuse the value
  TFieldNotifyEvent OnChange;

  // Raw access. GetData returns whether the field has a value (is not null).
  bool GetData(void* Buffer) const;
  void SetData(const void* Buffer);
  // Runs OnValidate with the value about to be written readable through the field.
  void Validate(const void* Buffer);

  bool IsNull() const;
  virtual void Clear() { SetData(nullptr); }
  virtual Variant GetValue() const;        // Null when the field has no value
  virtual void SetValue(const Variant& Value);
  // The value as the record was read, before edits: the data set answers in its dsOldValue state.
  Variant GetOldValue() const;
  virtual AnsiString GetAsString() const;  // empty for null
  virtual void SetAsString(const AnsiString& Value);
  int32_t GetAsInteger() const;
  void SetAsInteger(int32_t Value) { SetValue(Variant(Value)); }
  int64_t GetAsLargeInt() const;
  double GetAsFloat() const;
  void SetAsFloat(double Value) { SetValue(Variant(Value)); }
  TDateTime GetAsDateTime() const;
  void SetAsDateTime(TDateTime Value) { SetValue(Variant::FromDateTime(Value)); }
  bool GetAsBoolean() const;
  void SetAsBoolean(bool Value) { SetValue(Variant(Value)); }
  // Assigns a variant (the framework's AssignValue): Null clears the field.
  void AssignValue(const Variant& Value) { SetValue(Value); }

  // Binding state, set by the data set.
  void SetFieldNo(int Value) { FFieldNo = Value; }
  void SetOffset(int Value) { FOffset = Value; }
  void SetSize(int Value) { FSize = Value; }
  void SetDataSet(TDataSet* Value) { FDataSet = Value; }

protected:
  // Value of the bytes a GetData/SetData buffer holds, by DataType (the one type
  // switch of the field layer).
  Variant BufferToVariant(const char* Buffer) const;
  void VariantToBuffer(const Variant& Value, std::vector<char>& Buffer) const;

private:
  TDataSet* FDataSet;
  AnsiString FFieldName;
  TFieldType FDataType;
  int FSize;
  TFieldKind FFieldKind;
  int FFieldNo = 0;
  int FOffset = 0;
  const void* FValidateBuffer = nullptr;  // set while OnValidate runs
  bool FValidating = false;
};

// Memo, blob and graphic fields: values through the data set's blob streams.
class TBlobField : public TField {
public:
  // Only a memo holds text: the bytes of a blob or graphic are never transliterated.
  TBlobField(TDataSet* DataSet, const AnsiString& FieldName, TFieldType DataType, int Size = 0)
      : TField(DataSet, FieldName, DataType, Size, fkData) {
    Transliterate = DataType == ftMemo;
  }
  // Set by blob streams that wrote the value; cleared when the record is posted,
  // cancelled or re-read.
  bool Modified = false;
  void Clear() override { SetAsString({}); }
  Variant GetValue() const override;  // string of the bytes; Null when empty
  void SetValue(const Variant& Value) override;
  AnsiString GetAsString() const override;
  void SetAsString(const AnsiString& Value) override;
  void LoadFromStream(TStream& Stream);
  void SaveToStream(TStream& Stream) const;
  int BlobSize() const;
};

// ---------------------------------------------------------------------------
// Parameters in the framework's own form (the provider hands them over).

class TParams;

class TParam {
public:
  TParam(TParams* Owner, const AnsiString& Name = {}, TFieldType DataType = ftUnknown,
         TParamType ParamType = ptUnknown)
      : Name(Name), DataType(DataType), ParamType(ParamType), FOwner(Owner) {}
  AnsiString Name;
  TFieldType DataType;
  TParamType ParamType;
  Variant Value;  // Empty until set; Null for SQL NULL
  bool Bound = false;
  bool IsNull() const { return Value.IsNull() || Value.IsEmpty(); }
  void Clear() { Value = Variant::Null(); }
  void SetValue(const Variant& V) { Value = V; Bound = true; }
  AnsiString AsString() const { return IsNull() ? AnsiString() : Value.AsString(); }
  TParams* Owner() const { return FOwner; }

private:
  TParams* FOwner;
};

class TParams : public TPersistent {
public:
  TParams() = default;
  TParam* CreateParam(TFieldType DataType, const AnsiString& Name, TParamType ParamType);
  int Count() const { return static_cast<int>(FItems.size()); }
  TParam& Items(int Index) const;   // raises EListError out of range
  TParam* FindParam(const AnsiString& Name) const;  // case-insensitive, nullptr
  TParam& ParamByName(const AnsiString& Name) const;  // raises "Parameter '%s' not found"
  void Clear() { FItems.clear(); }
  void Assign(const TPersistent* Source) override;

private:
  std::vector<std::unique_ptr<TParam>> FItems;
};

// ---------------------------------------------------------------------------
// Index definitions (the provider asks a data set for its default order).

class TIndexDef {
public:
  AnsiString Name;
  AnsiString Fields;      // field names separated by ";"
  AnsiString DescFields;  // those of Fields sorted descending
};

class TIndexDefs {
public:
  TIndexDef& Add(const AnsiString& Name, const AnsiString& Fields);
  int Count() const { return static_cast<int>(FItems.size()); }
  TIndexDef& Items(int Index) const;
  void Clear() { FItems.clear(); }

private:
  std::vector<std::unique_ptr<TIndexDef>> FItems;
};

// ---------------------------------------------------------------------------
// Data sources and data links: how controls and detail data sets follow a data set.

class TDataSource : public TComponent {
public:
  explicit TDataSource(TComponent* AOwner);
  ~TDataSource() override;
  static const TMetaClass& StaticClass();
  const TMetaClass& ClassType() const override { return StaticClass(); }

  TDataSet* GetDataSet() const { return FDataSet; }
  void SetDataSet(TDataSet* Value);
  TDataSetState State() const { return FState; }
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool Value);
  bool AutoEdit = true;
  // Puts the data set into dsEdit when AutoEdit and it browses.
  void Edit();
  // DataSet, or one of its masters, is fed by this source (so it cannot feed it).
  bool IsLinkedTo(TDataSet* DataSet) const;

  TNotifyEvent OnStateChange;
  std::function<void(TObject* Sender, TField* Field)> OnDataChange;
  TNotifyEvent OnUpdateData;

  int LinkCount() const { return static_cast<int>(FDataLinks.size()); }

protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;

private:
  friend class TDataSet;
  friend class TDataLink;
  void DataEvent(TDataEvent Event, intptr_t Info);
  void NotifyDataLinks(TDataEvent Event, intptr_t Info);
  void SetState(TDataSetState Value);
  void UpdateState();
  void AddDataLink(TDataLink* Link);
  void RemoveDataLink(TDataLink* Link);

  TDataSet* FDataSet = nullptr;
  TDataSetState FState = dsInactive;  // the data set's state, dsInactive when disabled
  bool FEnabled = true;
  std::vector<TDataLink*> FDataLinks;  // not owned; each link removes itself
};

class TDataLink : public TPersistent {
public:
  TDataLink() = default;
  ~TDataLink() override;

  TDataSource* GetDataSource() const { return FDataSource; }
  void SetDataSource(TDataSource* Value);
  TDataSet* DataSet() const;
  bool Active() const { return FActive; }
  bool Editing() const { return FEditing; }
  bool ReadOnly = false;
  // Records the link shows at once (a grid shows many); the data set keeps at least
  // the largest BufferCount of its links in its ring.
  int BufferCount() const { return FBufferCount; }
  void SetBufferCount(int Value);
  // The active record relative to the first record the link shows.
  int ActiveRecord() const;
  int RecordCount() const;
  bool Edit();
  void UpdateRecord();

protected:
  friend class TDataSource;
  virtual void ActiveChanged() {}
  virtual void CheckBrowseMode() {}
  virtual void DataSetChanged() { RecordChanged(nullptr); }
  virtual void DataSetScrolled(int Distance) { DataSetChanged(); }
  virtual void EditingChanged() {}
  virtual void FocusControl(TField** Field) {}
  virtual void LayoutChanged() { DataSetChanged(); }
  virtual void RecordChanged(TField* Field) {}
  virtual void UpdateData() {}

private:
  void DataEvent(TDataEvent Event, intptr_t Info);
  void UpdateState();
  void SetActive(bool Value);
  void SetEditing(bool Value);

  TDataSource* FDataSource = nullptr;
  bool FActive = false;
  bool FEditing = false;
  bool FUpdating = false;
  int FBufferCount = 1;
  int FFirstRecord = 0;  // ring index of the first record this link shows
};

// ---------------------------------------------------------------------------

class TDataSet : public TComponent {
public:
  explicit TDataSet(TComponent* AOwner);
  // Detaches data sources and frees the fields. It cannot close the cursor: the
  // primitives belong to the derived class, whose destructor must call Close.
  ~TDataSet() override;
  static const TMetaClass& StaticClass();  // abstract: no factory; publishes Active
  const TMetaClass& ClassType() const override { return StaticClass(); }

  // --- opening and closing
  bool Active() const { return FState != dsInactive && FState != dsOpening; }
  void SetActive(bool Value);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }
  TDataSetState State() const { return FState; }

  // --- navigation
  void First();
  void Last();
  void Next() { MoveBy(1); }
  void Prior() { MoveBy(-1); }
  int MoveBy(int Distance);
  bool Bof() const { return FBOF; }
  bool Eof() const { return FEOF; }
  bool IsEmpty() const { return FActiveRecord >= FRecordCount; }
  int RecNo() { return GetRecNo(); }
  void SetRecNoValue(int Value) { SetRecNo(Value); }
  int RecordCount() { return GetRecordCount(); }
  void Resync(TResyncModes Mode);
  void CursorPosChanged() { FCurrentRecord = -1; }
  void UpdateCursorPos();

  // --- bookmarks
  int BookmarkSize() const { return FBookmarkSize; }
  bool BookmarkAvailable();
  TBookmark GetBookmark();
  void GotoBookmark(const TBookmark& Bookmark);
  void FreeBookmark(TBookmark& Bookmark) { Bookmark.clear(); }
  virtual bool BookmarkValid(const void* Bookmark) { return false; }
  // -1, 0, 1 as B1 lies before, at or after B2; nullptr is a missing bookmark.
  virtual int CompareBookmarks(const void* B1, const void* B2) { return 0; }

  // --- editing
  void Edit();
  void Insert();
  void Append();
  void Post();
  void Cancel();
  void Delete();
  void Refresh();
  void InsertRecord(const TVariantArray& Values) { InternalInsertRecord(Values, false); }
  void AppendRecord(const TVariantArray& Values) { InternalInsertRecord(Values, true); }
  void CheckBrowseMode();
  void CheckActive() const;
  void CheckInactive() const;
  void UpdateRecord();
  bool Modified() const { return FModified; }
  bool CanModify() { return GetCanModify(); }

  // --- controls
  void DisableControls();
  void EnableControls();
  bool ControlsDisabled() const { return FDisableCount != 0; }

  // --- finding
  bool FindFirst() { return FindRecord(true, true); }
  bool FindNext() { return FindRecord(false, true); }
  bool FindPrior() { return FindRecord(false, false); }
  bool FindLast() { return FindRecord(true, false); }
  bool Found() const { return FFound; }
  virtual bool Locate(const AnsiString& KeyFields, const Variant& KeyValues, TLocateOptions Options) {
    return false;
  }
  virtual Variant Lookup(const AnsiString& KeyFields, const Variant& KeyValues,
                         const AnsiString& ResultFields) {
    return Variant::Null();
  }

  // --- fields
  TFieldDefs& FieldDefs() { return FFieldDefs; }
  int FieldCount() const { return static_cast<int>(FFields.size()); }
  TField* Fields(int Index) const;  // raises EListError out of range
  TField* FindField(const AnsiString& FieldName) const;
  TField& FieldByName(const AnsiString& FieldName) const;  // raises "Field '%s' not found"
  // The fields named in FieldNames (separated by ";"); raises for an unknown name.
  void GetFieldList(std::vector<TField*>& List, const AnsiString& FieldNames) const;
  // Values of several fields: one field gives its value, several a variant array.
  Variant GetFieldValues(const AnsiString& FieldNames) const;
  // Adds a persistent field (for example a calculated or lookup one) before opening;
  // the data set owns it.
  TField* AddField(const AnsiString& FieldName, TFieldType DataType, int Size = 0,
                   TFieldKind Kind = fkData);
  bool DefaultFields() const { return FDefaultFields; }
  int CalcFieldsSize() const { return FCalcFieldsSize; }
  int BlobFieldCount() const { return FBlobFieldCount; }
  bool AutoCalcFields = true;

  // --- filtering
  bool Filtered() const { return FFiltered; }
  virtual void SetFiltered(bool Value);
  const TFilterRecordEvent& OnFilterRecord() const { return FOnFilterRecord; }
  virtual void SetOnFilterRecord(const TFilterRecordEvent& Value);

  // --- data sources and events
  virtual TDataSource* GetDataSource() const { return nullptr; }
  bool IsLinkedTo(TDataSource* DataSource) const;
  void DataEvent(TDataEvent Event, intptr_t Info);
  TRecordBuffer ActiveBuffer() const;
  TRecordBuffer CalcBuffer() const { return FCalcBuffer; }
  // The scratch buffer of the ring (after the last fetched record).
  TRecordBuffer TempBuffer() const { return FBuffers.empty() ? nullptr : FBuffers[FRecordCount]; }
  int BufferCount() const { return FBufferCount; }
  int RecordCountInBuffers() const { return FRecordCount; }
  int ActiveRecordIndex() const { return FActiveRecord; }
  int CurrentRecordIndex() const { return FCurrentRecord; }
  TRecordBuffer Buffers(int Index) const { return FBuffers.at(Index); }

  // --- field data and blobs (data-set author's side, called by fields)
  virtual bool GetFieldData(TField* Field, void* Buffer) = 0;
  virtual void SetFieldData(TField* Field, const void* Buffer) = 0;
  virtual TStream* CreateBlobStream(TField* Field, TBlobStreamMode Mode) { return nullptr; }
  // Copies Src to Dest translated (ToOem: to the OEM code page); returns the length.
  virtual int Translate(const char* Src, char* Dest, bool ToOem);
  virtual bool GetCurrentRecord(TRecordBuffer Buffer) { return false; }
  virtual bool IsSequenced() { return true; }

  // --- provider operations
  virtual void PSEndTransaction(bool Commit) {}
  virtual void PSExecute() { DatabaseError("Provider operation not supported", this); }
  virtual int PSExecuteStatement(const AnsiString& ASQL, TParams* AParams, TDataSet** ResultSet = nullptr) {
    DatabaseError("Provider operation not supported", this);
  }
  virtual std::unique_ptr<TIndexDef> PSGetDefaultOrder() { return nullptr; }
  virtual AnsiString PSGetKeyFields() { return {}; }
  virtual TParams* PSGetParams() { return nullptr; }
  virtual AnsiString PSGetQuoteChar() { return {}; }
  virtual AnsiString PSGetTableName() { return {}; }
  // The provider's form of an update failure; the base wraps database errors only.
  virtual std::unique_ptr<EUpdateError> PSGetUpdateException(const Exception& E, const EUpdateError* Prev,
                                                             std::exception_ptr Original);
  virtual bool PSInTransaction() { return false; }
  virtual bool PSIsSQLBased() { return false; }
  virtual bool PSIsSQLSupported() { return false; }
  virtual void PSReset() {}
  virtual void PSSetCommandText(const AnsiString& CommandText) {}
  virtual void PSSetParams(TParams* AParams) {}
  virtual void PSStartTransaction() {}
  virtual bool PSUpdateRecord(TUpdateKind UpdateKind, TDataSet* Delta) { return false; }

  // --- events
  TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose, BeforeInsert, AfterInsert,
      BeforeEdit, AfterEdit, BeforePost, AfterPost, BeforeCancel, AfterCancel, BeforeDelete,
      AfterDelete, BeforeScroll, AfterScroll, BeforeRefresh, AfterRefresh, OnCalcFields,
      OnNewRecord;
  TDataSetErrorEvent OnEditError, OnPostError, OnDeleteError;

protected:
  void Loaded() override;

  // --- record buffers (the data-set author's primitives)
  virtual TRecordBuffer AllocRecordBuffer() = 0;
  virtual void FreeRecordBuffer(TRecordBuffer& Buffer) = 0;
  virtual TGetResult GetRecord(TRecordBuffer Buffer, TGetMode GetMode, bool DoCheck) = 0;
  virtual int GetRecordSize() { return 0; }
  virtual void InternalInitRecord(TRecordBuffer Buffer) = 0;
  virtual void InitRecord(TRecordBuffer Buffer);
  virtual void ClearCalcFields(TRecordBuffer Buffer) {}
  virtual void GetCalcFields(TRecordBuffer Buffer);
  virtual void CalculateFields(TRecordBuffer Buffer);

  // --- cursor
  virtual void OpenCursor(bool InfoQuery);
  virtual void CloseCursor();
  virtual void InternalOpen() = 0;
  virtual void InternalClose() = 0;
  virtual void InternalInitFieldDefs() = 0;
  virtual bool IsCursorOpen() = 0;
  virtual void InternalFirst() = 0;
  virtual void InternalLast() = 0;
  virtual void InternalHandleException();

  // --- bookmarks
  virtual void GetBookmarkData(TRecordBuffer Buffer, void* Data) = 0;
  virtual void SetBookmarkData(TRecordBuffer Buffer, const void* Data) = 0;
  virtual TBookmarkFlag GetBookmarkFlag(TRecordBuffer Buffer) = 0;
  virtual void SetBookmarkFlag(TRecordBuffer Buffer, TBookmarkFlag Value) = 0;
  virtual void InternalGotoBookmark(const void* Bookmark) = 0;
  virtual void InternalSetToRecord(TRecordBuffer Buffer) = 0;

  // --- editing primitives
  virtual void InternalAddRecord(TRecordBuffer Buffer, bool Append) = 0;
  virtual void InternalPost() = 0;
  virtual void InternalDelete() = 0;
  virtual void InternalEdit() {}
  virtual void InternalInsert() {}
  virtual void InternalCancel() {}
  virtual void InternalRefresh() {}
  virtual bool GetCanModify() { return true; }

  // --- record number and count
  virtual int GetRecNo() { return -1; }
  virtual void SetRecNo(int Value) {}
  virtual int GetRecordCount() { return -1; }

  // --- finding
  virtual bool FindRecord(bool Restart, bool GoForward) { return false; }

  // --- event firing points (overridable, as the data-set layer does with DoBeforeEdit)
  virtual void DoBeforeOpen() { Fire(BeforeOpen); }
  virtual void DoAfterOpen() { Fire(AfterOpen); }
  virtual void DoBeforeClose() { Fire(BeforeClose); }
  virtual void DoAfterClose() { Fire(AfterClose); }
  virtual void DoBeforeInsert() { Fire(BeforeInsert); }
  virtual void DoAfterInsert() { Fire(AfterInsert); }
  virtual void DoBeforeEdit() { Fire(BeforeEdit); }
  virtual void DoAfterEdit() { Fire(AfterEdit); }
  virtual void DoBeforePost() { Fire(BeforePost); }
  virtual void DoAfterPost() { Fire(AfterPost); }
  virtual void DoBeforeCancel() { Fire(BeforeCancel); }
  virtual void DoAfterCancel() { Fire(AfterCancel); }
  virtual void DoBeforeDelete() { Fire(BeforeDelete); }
  virtual void DoAfterDelete() { Fire(AfterDelete); }
  virtual void DoBeforeScroll() { Fire(BeforeScroll); }
  virtual void DoAfterScroll() { Fire(AfterScroll); }
  virtual void DoBeforeRefresh() { Fire(BeforeRefresh); }
  virtual void DoAfterRefresh() { Fire(AfterRefresh); }
  virtual void DoOnCalcFields() { Fire(OnCalcFields); }
  virtual void DoOnNewRecord() { Fire(OnNewRecord); }

  // --- framework services for the author
  void SetState(TDataSetState Value);
  TDataSetState SetTempState(TDataSetState Value);
  void RestoreState(TDataSetState Value);
  void SetModified(bool Value) { FModified = Value; }
  void SetBookmarkSize(int Value) { FBookmarkSize = Value; }
  void ClearBuffers();
  void ActivateBuffers();
  bool GetNextRecord();
  bool GetPriorRecord();
  int GetNextRecords();
  int GetPriorRecords();
  void SetCurrentRecord(int Index);
  void SetBufferCount(int Value);
  void CheckCanModify();
  void CreateFields();
  void BindFields(bool Binding);
  void DestroyFields();
  void InitFieldDefs();
  // Repeats Operation while the error handler answers daRetry.
  void CheckOperation(const std::function<void()>& Operation, const TDataSetErrorEvent& ErrorEvent);
  void SetFound(bool Value) { FFound = Value; }
  // The field list: data sets may add or reorder fields before binding.
  std::vector<std::unique_ptr<TField>>& FieldList() { return FFields; }
  bool FFiltered = false;
  TFilterRecordEvent FOnFilterRecord;

private:
  friend class TDataSource;
  friend class TDataLink;
  friend class TField;
  friend class TFieldDefs;
  void Fire(const TDataSetNotifyEvent& E) {
    if (E) E(this);
  }
  void DoInternalOpen();
  void OpenCursorComplete();
  void MoveBuffer(int CurIndex, int NewIndex);
  void UpdateBufferCount();
  void SetBufListSize(int Value);
  void BeginInsertAppend();
  void EndInsertAppend();
  void InternalInsertRecord(const TVariantArray& Values, bool Append);
  void CalcLookupValue(TField* Field);
  void AddDataSource(TDataSource* Source);
  void RemoveDataSource(TDataSource* Source);

  TDataSetState FState = dsInactive;
  TDataSetState FDisableState = dsInactive;  // state when DisableControls began
  TDataEvent FEnableEvent = deDataSetChange;  // what EnableControls sends
  std::vector<TRecordBuffer> FBuffers;  // FBufferCount + 1 while open, else empty
  int FBufferCount = 0;
  int FRecordCount = 0;      // fetched records in FBuffers[0..FRecordCount-1]
  int FActiveRecord = 0;
  int FCurrentRecord = -1;   // buffer the cursor stands on; -1 unknown
  TRecordBuffer FCalcBuffer = nullptr;  // buffer whose calculated fields are computed
  bool FBOF = true, FEOF = true;
  bool FModified = false;
  bool FFound = false;
  bool FDefaultFields = false;
  bool FInternalOpenComplete = false;
  bool FStreamedActive = false;
  int FDisableCount = 0;
  int FBookmarkSize = 0;
  int FCalcFieldsSize = 0;
  int FBlobFieldCount = 0;
  TFieldDefs FFieldDefs{this};
  std::vector<std::unique_ptr<TField>> FFields;  // owned, in field order
  std::vector<TDataSource*> FDataSources;          // not owned; each removes itself
};

// Host message texts of the data-set framework (translatable through the message
// table, see host/Messages.h).
namespace DBMsg {
AnsiString NotEditing();               // "Dataset not in edit or insert mode"
AnsiString FieldReadOnly(const AnsiString& DisplayName);  // "Field '%s' cannot be modified"
AnsiString FieldNotFound(const AnsiString& Name);         // "Field '%s' not found"
AnsiString DataSetClosed();            // "Cannot perform this operation on a closed dataset"
AnsiString DataSetOpen();              // "Cannot perform this operation on an open dataset"
AnsiString DataSetReadOnly();          // "Cannot modify a read-only dataset"
AnsiString DataSetEmpty();             // "Cannot perform this operation on an empty dataset"
AnsiString CircularDataLink();         // "Circular datalinks are not allowed"
AnsiString RecordNotFound();           // "Record not found"
AnsiString FieldValueError(const AnsiString& DisplayName);  // "Invalid value for field '%s'"
AnsiString FieldTypeMismatch(const AnsiString& Name, TFieldType Expected, TFieldType Actual);
}  // namespace DBMsg
#pragma GCC visibility pop
