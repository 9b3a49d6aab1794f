// A small in-memory data set for the tests: the record-buffer protocol over a
// vector of rows, written as a data-set author would write one. It records the
// primitive calls the framework makes so that tests can check their order.
//
// Record buffer: [row data: per column one null byte then the field's DataSize
// bytes][calculated fields: CalcFieldsSize bytes][blob slots: one std::string* per
// blob field][bookmark: int32 row id, one flag byte].
#pragma once

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host/DB.h"

struct TMemColumn {
  AnsiString Name;
  TFieldType Type;
  int Size = 0;
};

class TMemDataSet;

class TMemMasterLink : public TDataLink {
public:
  explicit TMemMasterLink(TMemDataSet* Detail) : FDetail(Detail) {}

protected:
  void ActiveChanged() override;
  void RecordChanged(TField* Field) override;
  void CheckBrowseMode() override;

private:
  TMemDataSet* FDetail;
};

class TMemDataSet : public TDataSet {
public:
  explicit TMemDataSet(TComponent* AOwner, std::vector<TMemColumn> Columns = {});
  ~TMemDataSet() override;

  // Rows in the framework's representation: one Variant per column (Null for NULL).
  void AddRow(const TVariantArray& Values);
  int RowCount() const { return static_cast<int>(FRows.size()); }
  Variant RowValue(int Row, int Column) const;

  std::vector<std::string> Log;  // primitive calls, in order
  bool LogCalls = false;
  bool ReadOnlyData = false;     // GetCanModify answers false
  int FailEditTimes = 0;         // InternalEdit raises EDatabaseError this many times
  int FailPostTimes = 0;         // InternalPost raises this many times
  int FailDeleteTimes = 0;
  int Position() const { return FCursor; }  // -1 before the first row, RowCount after the last

  // Master/detail: rows whose DetailField equals the master's MasterField.
  void SetMasterSource(TDataSource* Source) {
    if (Source && IsLinkedTo(Source)) DatabaseError(DBMsg::CircularDataLink(), this);
    FMasterLink.SetDataSource(Source);
  }
  TDataSource* GetDataSource() const override { return FMasterLink.GetDataSource(); }
  AnsiString MasterField, DetailField;

  bool Locate(const AnsiString& KeyFields, const Variant& KeyValues, TLocateOptions Options) override;
  Variant Lookup(const AnsiString& KeyFields, const Variant& KeyValues, const AnsiString& ResultFields) override;
  bool BookmarkValid(const void* Bookmark) override;
  int CompareBookmarks(const void* B1, const void* B2) override;
  bool GetFieldData(TField* Field, void* Buffer) override;
  void SetFieldData(TField* Field, const void* Buffer) override;
  TStream* CreateBlobStream(TField* Field, TBlobStreamMode Mode) override;
  bool IsSequenced() override { return !(Filtered() && OnFilterRecord()) && !GetDataSource(); }

  // Lets tests reach the ring's internals.
  using TDataSet::GetNextRecord;
  using TDataSet::SetBufferCount;
  void MasterChanged();
  TRecordBuffer RecordBufferOf();  // the buffer field access uses now

protected:
  TRecordBuffer AllocRecordBuffer() override;
  void FreeRecordBuffer(TRecordBuffer& Buffer) override;
  TGetResult GetRecord(TRecordBuffer Buffer, TGetMode GetMode, bool DoCheck) override;
  int GetRecordSize() override { return FRecordSize; }
  void InternalInitRecord(TRecordBuffer Buffer) override;
  void ClearCalcFields(TRecordBuffer Buffer) override;
  void InternalOpen() override;
  void InternalClose() override;
  void InternalInitFieldDefs() override;
  bool IsCursorOpen() override { return FOpen; }
  void InternalFirst() override;
  void InternalLast() override;
  void GetBookmarkData(TRecordBuffer Buffer, void* Data) override;
  void SetBookmarkData(TRecordBuffer Buffer, const void* Data) override;
  TBookmarkFlag GetBookmarkFlag(TRecordBuffer Buffer) override;
  void SetBookmarkFlag(TRecordBuffer Buffer, TBookmarkFlag Value) override;
  void InternalGotoBookmark(const void* Bookmark) override;
  void InternalSetToRecord(TRecordBuffer Buffer) override;
  void InternalAddRecord(TRecordBuffer Buffer, bool Append) override;
  void InternalPost() override;
  void InternalDelete() override;
  void InternalEdit() override;
  void InternalInsert() override { Note("InternalInsert"); }
  void InternalCancel() override { Note("InternalCancel"); }
  void InternalRefresh() override { Note("InternalRefresh"); }
  bool GetCanModify() override { return !ReadOnlyData; }
  int GetRecNo() override;
  void SetRecNo(int Value) override;
  int GetRecordCount() override;
  bool FindRecord(bool Restart, bool GoForward) override;

private:
  friend class TMemMasterLink;
  friend class TMemBlobStream;
  struct TRow {
    int Id;
    std::vector<char> Data;           // row-data region
    std::vector<std::string> Blobs;   // one per blob column
  };
  void Note(const std::string& S) {
    if (LogCalls) Log.push_back(S);
  }
  int ColumnOffset(int Column) const { return FOffsets[Column]; }
  int BookmarkOffset() const { return FRecordSize + CalcFieldsSize() + FBlobCount * int(sizeof(std::string*)); }
  // The slots are not aligned (they follow the row data), so they are copied, not
  // dereferenced in place.
  char* BlobSlotAt(TRecordBuffer Buffer, int BlobIndex) {
    return Buffer + FRecordSize + CalcFieldsSize() + BlobIndex * sizeof(std::string*);
  }
  std::string* BlobSlot(TRecordBuffer Buffer, int BlobIndex) {
    std::string* S;
    std::memcpy(&S, BlobSlotAt(Buffer, BlobIndex), sizeof S);
    return S;
  }
  void SetBlobSlot(TRecordBuffer Buffer, int BlobIndex, std::string* S) {
    std::memcpy(BlobSlotAt(Buffer, BlobIndex), &S, sizeof S);
  }
  int IndexOfId(int Id) const;
  void CopyRowToBuffer(int Row, TRecordBuffer Buffer);
  void StoreBuffer(TRecordBuffer Buffer, TRow& Row);
  bool Accepts(int Row);
  bool MatchRow(int Row, const std::vector<TField*>& Fields, const Variant& Values, TLocateOptions Options);
  int BlobColumnIndex(int Column) const;

  std::vector<TMemColumn> FColumns;
  std::vector<int> FOffsets;   // start of each column in the row-data region
  std::vector<TRow> FRows;
  int FNextId = 1;
  int FRecordSize = 0;
  int FBlobCount = 0;
  int FCursor = -1;
  bool FOpen = false;
  TRecordBuffer FFilterBuffer = nullptr;
  TMemMasterLink FMasterLink{this};
};
