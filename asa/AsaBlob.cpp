// ZylAsa: long values — TAsaBlobStream loads the current row's value of a long column from the
// server cursor in pieces; values sent to the server travel through LONG BINARY connection
// variables that are created, filled piece by piece and dropped around the one statement using them.
#include <algorithm>
#include <cstring>

#include "asa/AsaSQLInternal.h"
#include "asa/ZylAsa.h"

using namespace zylasa;

// ---- stream --------------------------------------------------------------------------------------

TAsaBlobStream::TAsaBlobStream(TZyloBlobManager* Manager, const AnsiString& FieldName)
    : TZyloBlobStream(Manager, FieldName) {}

TAsaSQL* TAsaBlobStream::Statement() const {
  return FManager ? dynamic_cast<TAsaSQL*>(FManager->GetStatement()) : nullptr;
}

int32_t TAsaBlobStream::GetBlobSize() {
  int32_t Size = TZyloBlobStream::GetBlobSize();
  if (Size < 1 && !FModified) {
    // Nothing written: the value is the current row's on the server. It is not kept as
    // modified, so the next row (which clears the stream) loads its own.
    Clear();
    std::vector<uint8_t> Gathered;
    TAsaSQL* Q = Statement();
    if (Q && Q->LoadBlobValue(GetFieldNo(), Gathered)) {
      FMemory = std::move(Gathered);
      FBlobLength = static_cast<int32_t>(FMemory.size());
      FEmpty = FMemory.empty();
      Size = FBlobLength;
    }
  }
  return Size;
}

int64_t TAsaBlobStream::Read(void* Buffer, int64_t Count) {
  if (FMemory.empty()) GetBlobSize();
  FEmpty = FMemory.empty();
  if (FEmpty || !Buffer || Count <= 0 || FPosition < 0 || FPosition >= FBlobLength) return 0;
  const int64_t N = std::min<int64_t>(Count, FBlobLength - FPosition);
  std::memcpy(Buffer, FMemory.data() + FPosition, static_cast<size_t>(N));
  FPosition += N;
  return N;
}

TZyloBlobStream* TAsaSQL::InternalCreateBlobStream(const AnsiString& FieldName) {
  return GetBlobManager()->AddBlob(std::make_unique<TAsaBlobStream>(GetBlobManager(), FieldName));
}

// The failure of a piece is not raised and leaves LastError alone: the SQLCODE is read from the
// SQLCA directly, and the caller sees a value that could not be loaded.
bool TAsaSQL::LoadBlobValue(int32_t FieldNo, std::vector<uint8_t>& Gathered) {
  if (!GetActive() || FieldNo < 0 || FieldNo >= GetFieldCount()) return false;
  an_sql_code Code = SQLE_ERROR;
  try {
    TOwnedSqlda Piece{this, AllocSqlda(1), true};
    if (!Piece.Da) return false;
    std::vector<uint8_t> Work(kAsaPieceBuffer, 0);
    Piece.Da->sqld = Piece.Da->sqln;
    SQLVAR& V = Piece.Da->sqlvar[0];
    V.sqltype = DT_BINARY;
    V.sqllen = kAsaPieceBuffer;
    V.sqldata = Work.data();
    a_sql_int32 Offset = 0;
    do {
      Pp(FProcs.dbpp_get_data, FCursorName, static_cast<unsigned short>(FieldNo + 1), Offset, Piece.Da,
         static_cast<unsigned short>(0));
      Code = Sqlca()->sqlcode;
      if (Code != SQLE_NOERROR && Code != SQLE_TRUNCATED) break;
      uint16_t N;
      std::memcpy(&N, Work.data(), sizeof N);
      N = static_cast<uint16_t>(std::min<int32_t>(N, kAsaPieceSize));
      Gathered.insert(Gathered.end(), Work.begin() + 2, Work.begin() + 2 + N);
      Offset += N;
      ++FBlobPieceReads;
      if (N == 0 && Code == SQLE_TRUNCATED) {
        Code = SQLE_ERROR;  // a piece that brings nothing would never end the value
        break;
      }
    } while (Code == SQLE_TRUNCATED);
  } catch (const Exception&) {
    Code = SQLE_ERROR;  // a library without the entry point: the value cannot be loaded
  }
  if (Code != SQLE_NOERROR) {
    Gathered.clear();
    return false;
  }
  return true;
}

int32_t TAsaSQL::ReadBlobPiece(const Variant& NameOrIndex, int32_t Offset, uint8_t* Buffer, int32_t Count,
                               bool& Complete) {
  Complete = true;
  TZyloFieldDef* Def = FieldOrRaise(NameOrIndex);
  // Only a long field guarantees a fetch of one row at a time, so that the server cursor stands
  // on the current row.
  if (!ZylIsBlobType(Def->FieldType)) RaiseLastError(Format(ZylLoadStr(ZYL_ERR_BLOB_REQUIRED), Def->Name), 0);
  CheckOpened();
  if (!Buffer || Count <= 0 || Offset < 0) return 0;
  const int32_t Want = std::min(Count, kAsaPieceSize);
  TOwnedSqlda Piece{this, AllocSqlda(1), true};
  if (!Piece.Da) return -1;
  std::vector<uint8_t> Work(static_cast<size_t>(Want) + 2, 0);
  Piece.Da->sqld = Piece.Da->sqln;
  SQLVAR& V = Piece.Da->sqlvar[0];
  V.sqltype = DT_BINARY | 1;
  V.sqllen = static_cast<short>(Want + 2);
  V.sqldata = Work.data();
  Pp(FProcs.dbpp_get_data, FCursorName, static_cast<unsigned short>(Def->FieldNo + 1), static_cast<a_sql_int32>(Offset),
     Piece.Da, static_cast<unsigned short>(0));
  const an_sql_code Code = Sqlca()->sqlcode;
  ++FBlobPieceReads;
  if (Code != SQLE_NOERROR && Code != SQLE_TRUNCATED) {
    CheckResult();
    return -1;
  }
  if (V.sqlind && *V.sqlind < 0) return 0;  // NULL
  uint16_t N;
  std::memcpy(&N, Work.data(), sizeof N);
  N = static_cast<uint16_t>(std::min<int32_t>(N, Want));
  std::memcpy(Buffer, Work.data() + 2, N);
  // A truncated piece that brought nothing would never end the value.
  Complete = Code == SQLE_NOERROR || N == 0;
  return N;
}

// ---- connection variables ------------------------------------------------------------------------

bool TAsaSQL::InternalCreateBlobVariable(const AnsiString& Name, const uint8_t* Data, int32_t Length) {
  if (!InternalLocalExecute(Format("create variable %s long binary", Name), Variant::Null())) return false;
  // Once created, a variable whose value could not be completed is dropped again (keeping the
  // error), so that the name is free for the next statement.
  auto DropOnFailure = [&] {
    CheckPushError();
    try {
      InternalLocalExecute(Format("drop variable %s", Name), Variant::Null());
    } catch (const Exception&) {
    }
    CheckPopError(false);
  };
  try {
    bool Ok = InternalLocalExecute(Format("set %s=''", Name), Variant::Null());
    if (Ok && Data) {
      const AnsiString Append = Format("set %s=%s || :blob_host", Name, Name);
      int32_t Offset = 0;
      do {
        const int32_t N = std::min(std::max(Length - Offset, 0), kAsaPieceSize);
        Variant Params = VarArrayOf({StrToVarByte(Data + Offset, N)});
        InternalLocalExecute(Append, Params);
        Offset += N;
      } while (Offset < Length && GetLastErrorCode() >= 0);
    }
    if (!Ok || GetLastErrorCode() != 0) {
      DropOnFailure();
      return false;
    }
  } catch (...) {
    DropOnFailure();
    throw;
  }
  return true;
}

bool TAsaSQL::SendLongValue(const AnsiString& Name, const uint8_t* Data, int32_t Length, TStrings* BlobNames) {
  // A long value that cannot be sent stops the statement: running it without the value would
  // store NULL and report success. The variables made so far for the statement are dropped
  // with the error kept.
  auto DropSent = [&] {
    CheckPushError();
    InternalDropBlobVariables(BlobNames);
    BlobNames->Clear();
    CheckPopError(false);
  };
  bool Ok = false;
  try {
    Ok = InternalCreateBlobVariable(Name, Data, Length);
  } catch (...) {
    DropSent();
    throw;
  }
  if (!Ok) {
    DropSent();
    return false;
  }
  BlobNames->Add(Name);
  return true;
}

void TAsaSQL::InternalDropBlobVariables(TStrings* Names) {
  if (!Names) return;
  for (int I = 0; I < Names->Count(); ++I) {
    // The caller saved its own error; what a drop reports is not evaluated.
    try {
      InternalLocalExecute(Format("drop variable %s", Names->Strings(I)), Variant::Null());
    } catch (const Exception&) {
    }
  }
}
