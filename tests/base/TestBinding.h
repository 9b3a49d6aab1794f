// A small in-memory binding over the base classes, for the base-layer tests. It records every
// overridable step it is asked to perform, so that tests can check the order the base fixes, and
// serves rows of variants from memory as a cursor would. The session loads the stand-in client
// library (libzylstandin.so, built next to the other libraries) and takes two entry points from it.
#pragma once

#include <string>
#include <vector>

#include "base/Zylbase.h"

// Steps recorded by the test classes, in order.
using TStepLog = std::vector<std::string>;

class TTestSession : public TZyloSession {
 public:
  explicit TTestSession(TComponent* AOwner = nullptr);
  ~TTestSession() override;
  // Registered under "TTestSession" so that the text form can create it; adds LibraryFile with
  // this binding's default, as a real binding does.
  static const TMetaClass& StaticClass();
  const TMetaClass& ClassType() const override { return StaticClass(); }

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
  AnsiString GetLibraryVersion() override;
  bool Stop() override { return false; }

  // Streaming state, as the host's reader would set it.
  void SetLoading(bool Value) { SetComponentStateFlag(csLoading, Value); }

  TStepLog Log;
  int32_t Code = 0;            // the simulated result of the last library call
  bool FailInit = false;       // InternalInitLibrary raises
  bool FailConnect = false;    // InternalOpenDatabase reports Code -100 and raises
  int (*Connect)() = nullptr;  // entry points taken from the stand-in library
  intptr_t (*Missing)() = nullptr;
  const char* (*Version)() = nullptr;
  int OwnConnection = 0;       // what Handle points at while connected by Open
};

// A handle that InternalSetHandle accepts: it begins with this tag.
struct TTestForeignHandle {
  char Tag[8] = "FOREIGN";
};

struct TTestColumn {
  AnsiString Name;
  TZyloFieldTypes Type;
  int32_t Size;
  TZyloKeyIndicator Key = kiRegularField;
};

class TTestBlobStream : public TZyloBlobStream {
 public:
  using TZyloBlobStream::TZyloBlobStream;
  // Written content when the field was written, else the fetched row's value (Server).
  int64_t Read(void* Buffer, int64_t Count) override;
  int32_t GetBlobSize() override;
  std::vector<uint8_t> Server;  // the current row's value as the "server" holds it
};

class TTestSQL : public TZyloSQL {
 public:
  explicit TTestSQL(TComponent* AOwner = nullptr);
  ~TTestSQL() override;

  void InternalLoadLibraryProcs() override;
  void InternalInitFieldDef(TZyloFieldDefs* Defs, int32_t Index, void* Descriptor, int32_t Extra) override;
  bool InternalPrepare(const AnsiString& SQL) override;
  bool InternalPrepareOpen(const AnsiString& SQL) override;
  bool InternalDescribePrepare() override;
  bool InternalBindOpenVariables(TStrings* Names) override;
  bool InternalIsUniDirectional() override { return UniDirectional; }
  bool InternalOpen(bool ReadOnly) override;
  bool InternalDescribeOpen(bool ReadOnly) override { return true; }
  void InternalClose() override;
  void InternalUnprepareOpen() override;
  bool InternalPrepareExecute(const AnsiString& SQL) override;
  bool InternalBindExecVariables(TStrings* Names) override;
  bool InternalExecute(TStrings* Names) override;
  void InternalUnprepareExecute() override;
  int32_t InternalGetVariableLength(TZyloFieldTypes FieldType) override;
  int32_t InternalGetVariableExtType(TZyloFieldTypes FieldType) override { return 500 + FieldType; }
  bool InternalBindVariables(void*, TZyloVariableDefs*, void*&, TStrings*) override { return true; }
  bool InternalBindOutVariables(void*, TZyloVariableDefs*, void*&, TStrings*) override { return true; }
  bool InternalFetchFirst() override;
  bool InternalFetchNext() override;
  bool InternalMoveToFirst() override;
  bool InternalMoveToLast() override;
  bool InternalMoveTo(int32_t Row) override;
  TZyloBlobStream* InternalCreateBlobStream(const AnsiString& FieldName) override;
  Variant GetFieldData(uint8_t* Buffer, int32_t Offset, int32_t Size, TZyloFieldTypes FieldType,
                       TZyloBlobStream* Blob) override;
  void PutFieldData(uint8_t* Buffer, int32_t Offset, int32_t Size, TZyloFieldTypes FieldType, const Variant& Value,
                    TZyloBlobStream* Blob) override;
  bool First() override { return InternalMoveTo(0); }
  bool Last() override { return InternalMoveTo(static_cast<int32_t>(Rows.size()) - 1); }
  bool Next() override { return InternalMoveTo(FCurrentRow + 1); }
  bool Curr() override { return FCurrentRow >= 0; }
  bool Prev() override { return InternalMoveTo(FCurrentRow - 1); }
  bool Modify() override;
  bool Append() override;
  bool Delete() override;
  bool GetNullIndicator(uint8_t* Indicators, int32_t FieldNo) override;
  void PutNullIndicator(uint8_t* Indicators, int32_t FieldNo, bool IsNull) override;
  bool GetBlobTruncIndicator(uint8_t*, int32_t) override { return true; }

  // The result every prepared text describes, and the rows an open cursor serves.
  std::vector<TTestColumn> Columns;
  std::vector<std::vector<Variant>> Rows;
  bool UniDirectional = false;
  bool FailPrepare = false;  // InternalPrepareOpen / InternalPrepareExecute report Code -1
  TStepLog Log;
  // What the fetch buffers held when the last InternalMove... ran.
  int FetchByteSeen = -1;
  int IndicatorByteSeen = -1;

  // Protected state the tests look at or set directly.
  void SetReadOnlyState(bool Value) { FReadOnly = Value; }
  void SetActiveState(bool Value) { FActive = Value; }

 private:
  bool LoadRow(int32_t Row);
  bool Fail();
};
