// The in-memory test binding: records steps, serves rows from memory, keeps values in the record
// buffers in a simple layout of its own (strings NUL-terminated, numbers native, binary values
// after a 16-bit length, 16-bit null indicators with -1 for NULL).
#include "tests/base/TestBinding.h"

#include <algorithm>
#include <cstring>

// ---- session -----------------------------------------------------------------------------------

TTestSession::TTestSession(TComponent* AOwner) : TZyloSession(AOwner) { SetLibraryFile("libzylstandin.so"); }

TTestSession::~TTestSession() { DestroySession(); }

const TMetaClass& TTestSession::StaticClass() {
  static const TMetaClass Meta = [] {
    TMetaClass M("TTestSession", &TZyloSession::StaticClass(), TMetaClass::Factory<TTestSession>());
    M.Property("LibraryFile", &TTestSession::GetLibraryFile, &TTestSession::SetLibraryFile,
               AnsiString("libzylstandin.so"));
    return M;
  }();
  return Meta;
}

void TTestSession::InternalLoadLibraryProcs() {
  Log.push_back("LoadLibraryProcs");
  ZylAssignProcAddress(Connect, reinterpret_cast<void*>(GetProcAddress(GetLibraryHandle(), "standin_connect")),
                       +[]() -> int { return 0; });
  ZylAssignProcAddress(Missing, reinterpret_cast<void*>(GetProcAddress(GetLibraryHandle(), "standin_missing")),
                       &ZylDummyProc);
  ZylAssignProcAddress(Version, reinterpret_cast<void*>(GetProcAddress(GetLibraryHandle(), "standin_version")),
                       static_cast<const char* (*)()>(nullptr));
}

void TTestSession::InternalInitLibrary() {
  Log.push_back("InitLibrary");
  if (FailInit) RaiseLastError(ZylLoadStr(ZYL_ERR_LIB_INIT_FAILED), 0);
}

void TTestSession::InternalFiniLibrary() { Log.push_back("FiniLibrary"); }

void TTestSession::InternalOpenDatabase(void*& Handle) {
  Log.push_back("OpenDatabase");
  if (FailConnect) {
    Code = -100;
    Check(nullptr, 0, 0, true);
  }
  OwnConnection = Connect();
  Handle = &OwnConnection;
}

void TTestSession::InternalCloseDatabase() { Log.push_back("CloseDatabase"); }

void TTestSession::InternalSetHandle(void* Handle) {
  if (!Handle) {
    Log.push_back("SetHandle(nil)");
    return;
  }
  Log.push_back("SetHandle(foreign)");
  if (std::memcmp(Handle, "FOREIGN", 8) != 0) RaiseLastError(ZylLoadStr(ZYL_ERR_SESS_INVALID_HANDLE), 0);
}

bool TTestSession::Check(void*, int32_t, int32_t, bool RaiseOnError) {
  FLastErrorCode = Code;
  FLastError.clear();
  if (Code == 0) return true;
  if (Code > 0) {
    FLastError = Format("Warning: code %d", Code);
    return false;
  }
  FLastError = Format("Error %d: simulated", Code);
  DoNotify(OnError);
  if (RaiseOnError) throw EAsaException(FLastError, Code);
  return false;
}

bool TTestSession::CheckPopError(bool RaiseOnError) {
  FLastError = FPushedError;
  FLastErrorCode = FPushedErrorCode;
  if (FPushedErrorCode < 0 && RaiseOnError) throw EAsaException(FPushedError, FPushedErrorCode);
  return FPushedErrorCode == 0;
}

bool TTestSession::InternalCommit(bool RaiseOnError) {
  Log.push_back("Commit");
  return Check(nullptr, 0, 0, RaiseOnError);
}

bool TTestSession::InternalRollback() {
  Log.push_back("Rollback");
  return Check(nullptr, 0, 0, GetWantExceptions());
}

AnsiString TTestSession::GetLibraryVersion() {
  InternalNeedLibrary();
  return Version ? Version() : "";
}

// ---- blob stream -------------------------------------------------------------------------------

int64_t TTestBlobStream::Read(void* Buffer, int64_t Count) {
  const uint8_t* Source = FModified ? FMemory.data() : Server.data();
  int64_t Length = FModified ? FBlobLength : static_cast<int64_t>(Server.size());
  if (FPosition < 0 || FPosition >= Length || Count <= 0) return 0;
  int64_t N = std::min<int64_t>(Count, Length - FPosition);
  std::memcpy(Buffer, Source + FPosition, static_cast<size_t>(N));
  FPosition += N;
  return N;
}

int32_t TTestBlobStream::GetBlobSize() {
  return FModified ? TZyloBlobStream::GetBlobSize() : static_cast<int32_t>(Server.size());
}

// ---- statement ---------------------------------------------------------------------------------

TTestSQL::TTestSQL(TComponent* AOwner) : TZyloSQL(AOwner) {}

TTestSQL::~TTestSQL() { DestroyStatement(); }

bool TTestSQL::Fail() {
  auto* S = static_cast<TTestSession*>(GetSession());
  S->Code = -1;
  bool Ok = Check(nullptr, 0, 0, GetWantExceptions());
  S->Code = 0;
  return Ok;
}

void TTestSQL::InternalLoadLibraryProcs() { Log.push_back("LoadLibraryProcs"); }

void TTestSQL::InternalInitFieldDef(TZyloFieldDefs* Defs, int32_t, void* Descriptor, int32_t) {
  auto* Col = static_cast<TTestColumn*>(Descriptor);
  InternalAddFieldDef(Defs, Col->Name, Col->Type, 100 + Col->Type, Col->Size, Col->Size, 0, 0, true, Col->Key);
}

bool TTestSQL::InternalPrepare(const AnsiString& SQL) {
  Log.push_back("Prepare");
  return InternalPrepareOpen(SQL) && TZyloSQL::InternalPrepareExecute(SQL);
}

bool TTestSQL::InternalPrepareOpen(const AnsiString& SQL) {
  InternalNeedLibrary();
  Log.push_back("PrepareOpen " + SQL);
  if (FailPrepare) return Fail();
  if (!InternalDescribePrepare()) return false;
  return TZyloSQL::InternalPrepareOpen(SQL);
}

bool TTestSQL::InternalDescribePrepare() {
  FFieldDefs.Clear();
  FRecordSize = 0;
  FIndicatorSize = 0;
  for (size_t I = 0; I < Columns.size(); ++I) {
    InternalInitFieldDef(&FFieldDefs, static_cast<int32_t>(I), &Columns[I], 0);
    FRecordSize += Columns[I].Size;
    FIndicatorSize += 2;
  }
  FFetchCount = GetMaxFetchCount();
  InternalAllocOpenBuffer();
  GetBlobManager()->Clear();
  for (int32_t I = 0; I < FFieldDefs.Count(); ++I)
    if (ZylIsBlobType(FFieldDefs.Items(I)->FieldType)) InternalCreateBlobStream(FFieldDefs.Items(I)->Name);
  return true;
}

bool TTestSQL::InternalBindOpenVariables(TStrings*) {
  Log.push_back("BindOpen");
  FOpenVariables.Bound = true;
  return true;
}

bool TTestSQL::InternalOpen(bool ReadOnly) {
  Log.push_back(ReadOnly ? "Open read" : "Open write");
  return TZyloSQL::InternalOpen(ReadOnly);
}

void TTestSQL::InternalClose() {
  Log.push_back("Close");
  TZyloSQL::InternalClose();
}

void TTestSQL::InternalUnprepareOpen() {
  Log.push_back("UnprepareOpen");
  TZyloSQL::InternalUnprepareOpen();
}

bool TTestSQL::InternalPrepareExecute(const AnsiString& SQL) {
  InternalNeedLibrary();
  Log.push_back("PrepareExecute " + SQL);
  if (FailPrepare) return Fail();
  return TZyloSQL::InternalPrepareExecute(SQL);
}

bool TTestSQL::InternalBindExecVariables(TStrings* Names) {
  Log.push_back("BindExec");
  FExecVariables.Bound = true;
  // One output variable: the number of input variables the execution saw.
  FOutVariables.Clear();
  InternalAddFieldDef(&FOutVariables, "count", ztInteger, 502, 4, 4, 0, 0, false, kiRegularField);
  FOutVariables.SetBufSize(FOutVariables.Size());
  FOutVariables.Bound = true;
  if (Names) Names->Add("bound");
  return true;
}

bool TTestSQL::InternalExecute(TStrings* Names) {
  Log.push_back("Execute " + IntToStr(Names ? Names->Count() : -1));
  SetRowsProcessed(FExecVariables.Count());
  int32_t N = FExecVariables.Count();
  if (TZyloFieldDef* Out = FOutVariables.Items(0)) std::memcpy(FOutVariables.Buffer.Data() + Out->Offset, &N, 4);
  return true;
}

void TTestSQL::InternalUnprepareExecute() {
  Log.push_back("UnprepareExecute");
  TZyloSQL::InternalUnprepareExecute();
}

int32_t TTestSQL::InternalGetVariableLength(TZyloFieldTypes FieldType) {
  switch (FieldType) {
    case ztString: return 11;  // strings of 10 characters fit, longer ones become memos
    case ztInteger: return 4;
    case ztBoolean: return 1;
    case ztBinary: return 6;
    case ztInt64:
    case ztFloat:
    case ztCurrency:
    case ztDate:
    case ztTime:
    case ztDateTime: return 8;
    default: return 0;
  }
}

bool TTestSQL::LoadRow(int32_t Row) {
  if (Row < 0 || Row >= static_cast<int32_t>(Rows.size())) {
    if (Row < 0) FBOF = true;
    else FEOF = true;
    return false;
  }
  FRecordBuffer.Zero();
  GetBlobManager()->ClearBlobs();
  for (int32_t I = 0; I < FFieldDefs.Count(); ++I) {
    TZyloFieldDef* Def = FFieldDefs.Items(I);
    const Variant& V = Rows[static_cast<size_t>(Row)][static_cast<size_t>(I)];
    PutNullIndicator(FIndicators.Data(), I, V.IsNull());
    if (V.IsNull()) continue;
    if (ZylIsBlobType(Def->FieldType)) {
      auto* Blob = static_cast<TTestBlobStream*>(GetBlobManager()->BlobByName(Def->Name));
      if (Def->FieldType == ztBlob) {
        Blob->Server = VarArrayToBytes(V);
      } else {
        AnsiString S = V.AsString();
        Blob->Server.assign(S.begin(), S.end());
      }
      continue;
    }
    PutFieldData(FRecordBuffer.Data(), Def->Offset, Def->Size, Def->FieldType, V, nullptr);
  }
  std::memcpy(FOldRecordBuffer.Data(), FRecordBuffer.Data(), static_cast<size_t>(FRecordSize));
  std::memcpy(FOldIndicators.Data(), FIndicators.Data(), static_cast<size_t>(FIndicatorSize));
  FCurrentRow = Row;
  FBOF = FEOF = false;
  return true;
}

bool TTestSQL::InternalFetchFirst() {
  Log.push_back("FetchFirst");
  return LoadRow(0);
}

bool TTestSQL::InternalFetchNext() {
  Log.push_back("FetchNext");
  return LoadRow(FCurrentRow + 1);
}

bool TTestSQL::InternalMoveToFirst() {
  FetchByteSeen = FFetchBuffer ? FFetchBuffer.Data()[0] : -1;
  IndicatorByteSeen = FFetchIndicators ? FFetchIndicators.Data()[0] : -1;
  return LoadRow(0);
}

bool TTestSQL::InternalMoveToLast() { return LoadRow(static_cast<int32_t>(Rows.size()) - 1); }

bool TTestSQL::InternalMoveTo(int32_t Row) { return LoadRow(Row); }

TZyloBlobStream* TTestSQL::InternalCreateBlobStream(const AnsiString& FieldName) {
  return GetBlobManager()->AddBlob(std::make_unique<TTestBlobStream>(GetBlobManager(), FieldName));
}

Variant TTestSQL::GetFieldData(uint8_t* Buffer, int32_t Offset, int32_t Size, TZyloFieldTypes FieldType,
                               TZyloBlobStream* Blob) {
  uint8_t* P = Buffer + Offset;
  switch (FieldType) {
    case ztString: return AnsiString(reinterpret_cast<char*>(P), strnlen(reinterpret_cast<char*>(P), Size));
    case ztInteger: {
      int32_t V;
      std::memcpy(&V, P, 4);
      return V;
    }
    case ztInt64: {
      int64_t V;
      std::memcpy(&V, P, 8);
      return static_cast<long long>(V);
    }
    case ztFloat:
    case ztCurrency:
    case ztDate:
    case ztTime:
    case ztDateTime: {
      double V;
      std::memcpy(&V, P, 8);
      return FieldType >= ztDate && FieldType <= ztDateTime ? Variant::FromDateTime(V) : Variant(V);
    }
    case ztBoolean: return *P != 0;
    case ztBinary: {
      uint16_t N;
      std::memcpy(&N, P, 2);
      return StrToVarByte(P + 2, std::min<int32_t>(N, Size - 2));
    }
    case ztMemo:
    case ztBlob: {
      if (!Blob) return Variant::Null();
      std::vector<char> All(static_cast<size_t>(Blob->GetBlobSize()));
      Blob->Seek(0, soBeginning);
      int64_t N = All.empty() ? 0 : Blob->Read(All.data(), static_cast<int64_t>(All.size()));
      if (FieldType == ztBlob) return StrToVarByte(All.data(), static_cast<int32_t>(N));
      return AnsiString(All.data(), static_cast<size_t>(N));
    }
    default: return Variant::Null();
  }
}

void TTestSQL::PutFieldData(uint8_t* Buffer, int32_t Offset, int32_t Size, TZyloFieldTypes FieldType,
                            const Variant& Value, TZyloBlobStream* Blob) {
  uint8_t* P = Buffer + Offset;
  switch (FieldType) {
    case ztString: {
      AnsiString S = SetVarToStr(Value);
      size_t N = std::min<size_t>(S.size(), Size > 0 ? static_cast<size_t>(Size - 1) : 0);
      std::memcpy(P, S.data(), N);
      if (Size > 0) P[N] = 0;
      break;
    }
    case ztInteger: {
      int32_t V = SetVarToInt(Value);
      std::memcpy(P, &V, 4);
      break;
    }
    case ztInt64: {
      int64_t V = SetVarToInt64(Value);
      std::memcpy(P, &V, 8);
      break;
    }
    case ztFloat:
    case ztCurrency: {
      double V = SetVarToFloat(Value);
      std::memcpy(P, &V, 8);
      break;
    }
    case ztDate:
    case ztTime:
    case ztDateTime: {
      double V = SetVarToDateTime(Value);
      std::memcpy(P, &V, 8);
      break;
    }
    case ztBoolean: *P = SetVarToBoolean(Value) ? 1 : 0; break;
    case ztBinary: {
      std::vector<uint8_t> Bytes = VarArrayToBytes(Value);
      uint16_t N = static_cast<uint16_t>(std::min<size_t>(Bytes.size(), static_cast<size_t>(Size - 2)));
      std::memcpy(P, &N, 2);
      if (N) std::memcpy(P + 2, Bytes.data(), N);
      break;
    }
    case ztMemo:
    case ztBlob: {
      AnsiString S = FieldType == ztMemo ? SetVarToStr(Value) : AnsiString();
      std::vector<uint8_t> Bytes = FieldType == ztBlob ? VarArrayToBytes(Value) : std::vector<uint8_t>(S.begin(), S.end());
      if (Blob) {
        Blob->Clear();
        Blob->Write(Bytes.data(), static_cast<int64_t>(Bytes.size()));
      } else if (Size > 0) {
        std::memcpy(P, Bytes.data(), std::min<size_t>(Bytes.size(), static_cast<size_t>(Size)));
      }
      break;
    }
    default: break;
  }
}

bool TTestSQL::Modify() { Log.push_back("Modify"); return true; }
bool TTestSQL::Append() { Log.push_back("Append"); return true; }
bool TTestSQL::Delete() { Log.push_back("Delete"); return true; }

bool TTestSQL::GetNullIndicator(uint8_t* Indicators, int32_t FieldNo) {
  int16_t V;
  std::memcpy(&V, Indicators + FieldNo * 2, 2);
  return V == -1;
}

void TTestSQL::PutNullIndicator(uint8_t* Indicators, int32_t FieldNo, bool IsNull) {
  int16_t V = IsNull ? -1 : 0;
  std::memcpy(Indicators + FieldNo * 2, &V, 2);
}
