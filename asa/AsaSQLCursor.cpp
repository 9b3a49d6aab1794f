// ZylAsa: TAsaSQL cursor — open with options and isolation, block fetch into the base's fetch
// buffer with the first-block shrink, the moves inside and across blocks, repositioning without
// delivering a row, several result sets of a procedure, execution and closing.
//
// Position bookkeeping: CurrentRow is the zero-based row of the result that RecordBuffer holds;
// the block in FetchBuffer holds BufferRows rows of which BufferRow is current; the server cursor
// stands on the last row a block fetch delivered (after it, for a short block of a version-6
// server). Moves inside the block make no server call.
#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>

#include "asa/AsaSQLInternal.h"
#include "asa/ZylAsa.h"

using namespace zylasa;

namespace {

// "ZYL-<OpenStatement>", written without the formatter: a statement prepared once and opened
// many times (look-ups by key) names its cursor at every open.
template <size_t N>
void WriteCursorName(char (&Name)[N], int Statement) {
  static_assert(N >= 16, "room for the prefix and a statement number");
  const size_t Prefix = std::min(std::strlen(szZyloLibraryShortName), N - 8);
  std::memcpy(Name, szZyloLibraryShortName, Prefix);
  Name[Prefix] = '-';
  *std::to_chars(Name + Prefix + 1, Name + N - 1, Statement).ptr = '\0';
}

int32_t AbsCount(a_sql_int32 V) {
  int64_t A = V < 0 ? -static_cast<int64_t>(V) : V;
  return static_cast<int32_t>(std::min<int64_t>(A, INT32_MAX));
}

}  // namespace

bool TAsaSQL::InternalIsUniDirectional() { return FCursorType == actNoScroll; }

void TAsaSQL::CheckOpened() {
  if (!GetActive()) RaiseLastError<EAsaException>(ZylLoadStr(ZYL_ERR_CURS_NOT_OPENED), 0);
}

uint32_t TAsaSQL::CursorOptions(bool ReadOnly, int16_t& Isolation) const {
  uint32_t Options = ReadOnly ? CUR_READ_ONLY : CUR_FOR_UPDATE;
  switch (FCursorType) {
    case actFixedScroll:
      Options |= CUR_SCROLL;
      break;
    case actInsensitive:
      Options |= CUR_INSENSITIVE;
      break;
    case actNoScroll:
      Options |= CUR_NO_SCROLL_OLD;
      break;
    case actUnique:
      Options |= CUR_UNIQUE;
      break;
    default:
      break;
  }
  Isolation = 0;
  if (FTransIsolation != atUnchanged) {
    Options |= CUR_ISOLATION_GIVEN;
    Isolation = static_cast<int16_t>(FTransIsolation - 1);
  }
  return Options;
}

// ---- open and close --------------------------------------------------------------------------------

bool TAsaSQL::InternalOpen(bool ReadOnly) {
  int16_t Isolation = 0;
  const uint32_t Options = CursorOptions(ReadOnly, Isolation);
  DoNotify(BeforeOpen);
  WriteCursorName(FCursorName, FOpenStatement);
  Pp(FProcs.dbpp_declare, FCursorName, static_cast<char*>(nullptr), ModuleName(), &FOpenStatement,
     static_cast<a_sql_uint32>(Options));
  Pp(FProcs.dbpp_open, FCursorName, static_cast<char*>(nullptr), ModuleName(), &FOpenStatement, FOpenInputSQLDA,
     static_cast<short>(0), static_cast<short>(Isolation), static_cast<a_sql_uint32>(Options));
  const int32_t Estimate = AbsCount(Sqlca()->sqlerrd[2]);
  CheckResult();
  if (GetLastErrorCode() < 0) return false;
  FRowCountEstimate = Estimate;

  bool Described = true;
  FTrimFetched = AsaSession()->GetTrimBlanks();
  // A server cursor that was opened is always marked open, also when describing raises, so that
  // it can be closed.
  auto MarkOpen = [&] {
    FStillInProc = Described && FResumable;
    TZyloSQL::InternalOpen(ReadOnly);
    FRowCountEstimate = Estimate;
    FFirstFetchPending = true;
  };
  try {
    if (!FResumable && FCursorType != actUnique) {
      // Described at prepare: one row per call for updates and long values, else whole blocks.
      FFetchCount = (GetFieldDefs()->AnyBlob() || !ReadOnly) ? 1 : GetAllocatedRows();
    } else if (GetLastErrorCode() == SQLE_PROCEDURE_COMPLETE) {
      Described = false;
      MarkOpen();
      RaiseLastError<EAsaException>(ZylLoadStr(ZYL_ERR_CURS_NOT_QUERY), 0);
    } else {
      Described = InternalDescribeOpen(ReadOnly);
    }
  } catch (...) {
    if (!GetActive()) {
      Described = false;
      MarkOpen();
    }
    throw;
  }
  MarkOpen();
  return Described;
}

void TAsaSQL::InternalClose() {
  if (!GetActive()) {
    TZyloSQL::InternalClose();
    return;
  }
  if (!IsDestroying()) DoNotify(BeforeClose);
  Pp(FProcs.dbpp_close, FCursorName);
  InternalAutoCommit();
  FStillInProc = false;
  TZyloSQL::InternalClose();
  if (!IsDestroying()) DoNotify(AfterClose);
}

// ---- the fetch block -------------------------------------------------------------------------------

void TAsaSQL::ConvertFetchedBuffers() {
  if (FBufferRow < 0 || FBufferRow >= FAllocatedRows || FRecordSize <= 0) {
    GetBlobManager()->ClearBlobs();
    return;
  }
  // The row is read where the fetch put it; the base copies it into the record buffers when
  // it is first edited (and ClearFetchBlock does before the block is overwritten).
  const size_t Rs = static_cast<size_t>(FRecordSize), Is = static_cast<size_t>(FIndicatorSize);
  ViewFetchedRow(FFetchBuffer.Data() + FBufferRow * Rs, Is > 0 ? FFetchIndicators.Data() + FBufferRow * Is : nullptr);
  GetBlobManager()->ClearBlobs();
}

void TAsaSQL::TrimFetchBuffer() {
  if (!FFetchBuffer) return;
  const int32_t Rows = std::min(FBufferRows, FAllocatedRows);
  for (int32_t I = 0; I < GetFieldDefs()->Count(); ++I) {
    TZyloFieldDef* Def = GetFieldDefs()->Items(I);
    if (!Def || Def->FieldType != ztString || Def->Size <= 0) continue;
    for (int32_t R = 0; R < Rows; ++R) {
      char* Field = reinterpret_cast<char*>(FFetchBuffer.Data() + static_cast<size_t>(R) * FRecordSize + Def->Offset);
      // The server writes a NUL within the field; make sure of it before scanning.
      Field[Def->Size - 1] = '\0';
      ZylTrimTrailBlanks(Field);
    }
  }
}

void TAsaSQL::ClearFetchBlock() {
  MaterializeRow();  // the current row may still be read from the block about to be rewritten
  const int64_t Rows = std::min(FFetchCount, FAllocatedRows);
  if (Rows <= 0) return;
  if (FFetchBuffer) std::memset(FFetchBuffer.Data(), 0, static_cast<size_t>(Rows * FRecordSize));
  if (FFetchIndicators) std::memset(FFetchIndicators.Data(), 0xFF, static_cast<size_t>(Rows * FIndicatorSize));
}

bool TAsaSQL::FetchBlock(uint16_t Mode, int32_t Offset) {
  ClearFetchBlock();
  ++FFetchCalls;
  const int32_t Rows = std::max(1, std::min(FFetchCount, std::max(FAllocatedRows, 1)));
  Pp(FProcs.dbpp_fetch_array, FCursorName, static_cast<unsigned short>(Mode), static_cast<a_sql_int32>(Offset),
     FOutputSQLDA, static_cast<short>(0), static_cast<unsigned short>(0), static_cast<unsigned short>(Rows));
  CheckResult();
  return GetLastErrorCode() >= 0;
}

// Rows the last block fetch delivered. A failed fetch delivered none, and the count never exceeds
// the rows the buffers hold, whatever the library reports.
void TAsaSQL::TakeDeliveredRows() {
  const int32_t Code = GetLastErrorCode();
  if (Code == SQLE_NOTFOUND || Code < 0) {
    FBufferRows = 0;
    return;
  }
  FBufferRows = std::clamp<int32_t>(Sqlca()->sqlerrd[2], 0, FAllocatedRows);
  if (FTrimFetched) TrimFetchBuffer();
}

void TAsaSQL::ShrinkFirstBlock() {
  if (!FFirstFetchPending) return;
  if (FBufferRows < FFetchCount) FFetchCount = std::max(FBufferRows, 1);
  FFirstFetchPending = false;
}

bool TAsaSQL::PlainFetch(uint16_t Mode, int32_t Offset, uint16_t Option) {
  ++FFetchCalls;
  Pp(FProcs.dbpp_fetch, FCursorName, static_cast<unsigned short>(Mode), static_cast<a_sql_int32>(Offset),
     static_cast<struct sqlda*>(nullptr), static_cast<short>(0), static_cast<unsigned short>(Option));
  CheckResult();
  return GetLastErrorCode() >= 0;
}

// ---- fetching --------------------------------------------------------------------------------------

bool TAsaSQL::InternalFetchFirst() {
  FetchBlock(FETCH_ABSOLUTE, 1);
  FBOF = FEOF = GetLastErrorCode() == SQLE_NOTFOUND;
  TakeDeliveredRows();
  ShrinkFirstBlock();
  FBufferRow = 0;
  ConvertFetchedBuffers();
  FCurrentRow = FBufferRows > 0 ? 0 : -1;
  return FBufferRows > 0;
}

bool TAsaSQL::InternalFetchNext() {
  if (FBufferRow < FBufferRows - 1) {
    ++FBufferRow;
    ++FCurrentRow;
  } else {
    FetchBlock(FETCH_RELATIVE, 1);
    if (!FEOF) ++FCurrentRow;
    FEOF = GetLastErrorCode() == SQLE_NOTFOUND;
    TakeDeliveredRows();
    if (FBufferRows > 0) FBOF = false;
    ShrinkFirstBlock();
    FBufferRow = 0;
  }
  ConvertFetchedBuffers();
  return FBufferRows > 0;
}

bool TAsaSQL::First() {
  CheckOpened();
  return InternalFetchFirst();
}

bool TAsaSQL::Next() {
  CheckOpened();
  return InternalFetchNext();
}

bool TAsaSQL::Last() {
  CheckOpened();
  FetchBlock(FETCH_ABSOLUTE, -FFetchCount);
  FBOF = FEOF = GetLastErrorCode() == SQLE_NOTFOUND;
  TakeDeliveredRows();
  FBufferRow = std::max(FBufferRows - 1, 0);
  ConvertFetchedBuffers();
  FCurrentRow = FBufferRows > 0 ? FRowCountEstimate - 1 : FRowCountEstimate;
  return FBufferRows > 0;
}

bool TAsaSQL::Prev() {
  CheckOpened();
  if (FBufferRow > 0) {
    --FBufferRow;
    --FCurrentRow;
  } else {
    ClearFetchBlock();
    if (!FBOF) {
      FetchBlockBefore();
      --FCurrentRow;
    }
    if (FBOF || GetLastErrorCode() < 0) {
      FBufferRow = 0;
      FBufferRows = 0;
    }
    if (FBufferRows > 0) FEOF = false;
  }
  ConvertFetchedBuffers();
  return FBufferRows > 0;
}

// Going backward reads a whole block too: the FetchCount rows that end just before the block's
// first row (the current row, BufferRow 0), so a walk to the start costs the fetches a forward walk
// does. The block fetch always reads forward from where it positions, so it positions FetchCount
// rows before the current row, counted from where the last block left the server cursor (see
// InternalMoveTo). When fewer rows lie before the current one, that position is outside the result:
// the server says how far (a count of zero or less), which tells how many rows there are, and the
// block from the first row holds them.
void TAsaSQL::FetchBlockBefore() {
  const int32_t K = FBufferRows;
  const int32_t N = std::max(1, std::min(FFetchCount, std::max(FAllocatedRows, 1)));
  const bool OnLastDelivered = K >= FFetchCount || (K > 0 && AsaSession()->GetServerVersion() != 6);
  const int32_t Behind = OnLastDelivered ? K - 1 : K;  // the server cursor, past the current row
  FetchBlock(FETCH_RELATIVE, -(Behind + N));
  int32_t Wanted = N - 1;  // the row before the current one, in the new block
  if (GetLastErrorCode() == SQLE_NOTFOUND) {
    const int64_t Before = int64_t(Sqlca()->sqlerrd[2]) + N - 1;  // rows before the current one
    if (Sqlca()->sqlerrd[2] > 0 || Before <= 0) {
      FBOF = true;
      return;
    }
    FetchBlock(FETCH_ABSOLUTE, 1);
    Wanted = static_cast<int32_t>(Before - 1);
    FBOF = GetLastErrorCode() == SQLE_NOTFOUND;
    if (FBOF) return;
  }
  if (GetLastErrorCode() < 0) return;
  const int32_t Delivered = std::clamp<int32_t>(Sqlca()->sqlerrd[2], 0, FAllocatedRows);
  FBufferRows = Delivered;
  FBufferRow = std::clamp(Wanted, 0, std::max(Delivered - 1, 0));
  if (FTrimFetched) TrimFetchBuffer();
}

bool TAsaSQL::Curr() {
  CheckOpened();
  if (FFetchCount >= 2 && FBufferRows >= 1)
    MoveTo(FCurrentRow);  // puts the server cursor back on the current row
  else
    ClearFetchBlock();
  MaterializeRow();  // the fetch below rewrites the block the current row is read from
  ++FFetchCalls;
  const int32_t Rows = std::max(1, std::min(FFetchCount, std::max(FAllocatedRows, 1)));
  Pp(FProcs.dbpp_fetch_array, FCursorName, static_cast<unsigned short>(FETCH_RELATIVE), static_cast<a_sql_int32>(0),
     FOutputSQLDA, static_cast<short>(0), static_cast<unsigned short>(0), static_cast<unsigned short>(Rows));
  CheckResult();
  if (GetLastErrorCode() == SQLE_NOTFOUND || GetLastErrorCode() < 0) {
    FBufferRows = 0;
  } else {
    FBufferRows = std::clamp<int32_t>(Sqlca()->sqlerrd[2], 0, FAllocatedRows);
    if (FBufferRows < FFetchCount) FFetchCount = std::max(FBufferRows, 1);
    if (FTrimFetched) TrimFetchBuffer();
  }
  FBufferRow = 0;
  ConvertFetchedBuffers();
  return FBufferRows > 0;
}

// ---- positioning without a row -------------------------------------------------------------------

bool TAsaSQL::InternalMoveToFirst() {
  PlainFetch(FETCH_ABSOLUTE, 1, 0);
  FEOF = GetLastErrorCode() == SQLE_NOTFOUND;
  if (GetLastErrorCode() != SQLE_NOTFOUND && GetLastErrorCode() >= 0) {
    PlainFetch(FETCH_RELATIVE, -1, 0);
    FBOF = GetLastErrorCode() == SQLE_NOTFOUND;
  }
  FBufferRow = 0;
  FBufferRows = 0;
  ConvertFetchedBuffers();
  FCurrentRow = -1;
  return GetLastErrorCode() >= 0;
}

bool TAsaSQL::InternalMoveToLast() {
  PlainFetch(FETCH_ABSOLUTE, -1, 0);
  FBOF = GetLastErrorCode() == SQLE_NOTFOUND;
  if (GetLastErrorCode() != SQLE_NOTFOUND && GetLastErrorCode() >= 0) {
    PlainFetch(FETCH_RELATIVE, 1, 0);
    FEOF = GetLastErrorCode() == SQLE_NOTFOUND;
  }
  FBufferRow = 0;
  FBufferRows = 0;
  ConvertFetchedBuffers();
  FCurrentRow = FRowCountEstimate;
  return GetLastErrorCode() >= 0;
}

bool TAsaSQL::InternalMoveTo(int32_t Row) {
  // Where the server cursor stands, derived from the block: on the last row delivered, except
  // after a short block of a version-6 server (or an empty block), where it stands one further.
  const bool OnLastDelivered =
      FBufferRows >= FFetchCount || (FBufferRows > 0 && AsaSession()->GetServerVersion() != 6);
  const int64_t Position = OnLastDelivered ? int64_t(FCurrentRow) + (FBufferRows - 1 - FBufferRow)
                                           : int64_t(FCurrentRow) + FBufferRows - FBufferRow;
  const int32_t Offset = static_cast<int32_t>(std::clamp<int64_t>(int64_t(Row) - Position, INT32_MIN, INT32_MAX));
  FLastMoveOffset = Offset;
  PlainFetch(FETCH_RELATIVE, Offset, 0);
  const int32_t Code = GetLastErrorCode();
  if (Code == SQLE_NOTFOUND) {
    const a_sql_int32 Side = Sqlca()->sqlerrd[2];
    if (Side < 0 || Offset < 0) return InternalMoveToFirst();
    if (Side > 0 || Offset > 0) return InternalMoveToLast();
    return true;
  }
  if (Code < 0) return false;
  FBOF = FEOF = false;
  FBufferRow = 0;
  FBufferRows = 0;
  ConvertFetchedBuffers();
  FCurrentRow = Row;
  return true;
}

// ---- several result sets -------------------------------------------------------------------------

bool TAsaSQL::Resume() {
  CheckOpened();
  Pp(FProcs.dbpp_resume, FCursorName);
  FRowCountEstimate = AbsCount(Sqlca()->sqlerrd[2]);
  CheckResult();
  if (GetLastErrorCode() < 0 || GetLastErrorCode() == SQLE_PROCEDURE_COMPLETE) {
    FStillInProc = false;
    return false;
  }
  FBufferRow = 0;
  FBufferRows = 0;
  FCurrentRow = -1;
  FBOF = FEOF = false;
  return InternalDescribeOpen(GetReadOnly()) && InternalFetchNext();
}

// ---- execution -----------------------------------------------------------------------------------

// The output descriptor's indicators live in the library's descriptor; the values' owner keeps a
// copy so that a NULL output reads back as Null. A failed execute delivered nothing.
static void KeepOutputIndicators(const SQLDA* Da, bool Delivered, TZyloVariableDefs& Variables) {
  const int64_t Count = Variables.Indicators.Size() / 2;
  for (int64_t I = 0; I < Count; ++I) {
    int16_t V = -1;
    if (Delivered && Da && I < Da->sqld && Da->sqlvar[I].sqlind) V = static_cast<int16_t>(*Da->sqlvar[I].sqlind);
    std::memcpy(Variables.Indicators.Data() + I * 2, &V, sizeof V);
  }
}

bool TAsaSQL::InternalExecute(TStrings* BlobNames) {
  Pp(FProcs.dbpp_execute_into, static_cast<char*>(nullptr), ModuleName(), &FExecStatement, FExecInputSQLDA,
     FExecOutputSQLDA);
  KeepOutputIndicators(FExecOutputSQLDA, Sqlca()->sqlcode >= 0, *GetOutVariables());
  CheckPushError();
  SetRowsProcessed(Sqlca()->sqlerrd[2]);
  // The statement's own error is kept across the drops and the commit.
  InternalDropBlobVariables(BlobNames);
  InternalAutoCommit();
  if (CheckPopError(GetWantExceptions())) return CheckResult();
  return false;
}

bool TAsaSQL::ExecuteImmediate(const AnsiString& SQL) {
  AnsiString Text = StatementToOem(SQL);
  InternalNeedLibrary();
  Pp(FProcs.dbpp_execute_imm, const_cast<char*>(Text.c_str()), static_cast<unsigned short>(2));
  CheckPushError();
  SetRowsProcessed(Sqlca()->sqlerrd[2]);
  InternalAutoCommit();
  if (CheckPopError(GetWantExceptions())) return CheckResult();
  return false;
}
