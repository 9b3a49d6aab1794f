// The cursor of TAsaSQL end to end: block fetch and the first-block shrink, moves inside and
// across blocks, the repositioning arithmetic (also against the version-6 flavour, whose server
// stands after the last row of a short block), several result sets, positioned changes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/asa/AsaStatementEnv.h"

namespace {

using zylasa::AsaSQLTest;
using zylasa::ExecImm;
using zylasa::QueryText;

class AsaCursor : public AsaSQLTest {};

TEST_F(AsaCursor, SevenRowBlockShrinksAndNextStaysInsideIt) {
  Connect();
  MakeNumbers(7);
  TAsaSQL* Q = NewSQL();
  ASSERT_TRUE(Q->OpenRead("select id, v from n order by id", {ZylEmptyParam}));
  EXPECT_EQ(Q->GetAllocatedRows(), 25);
  EXPECT_EQ(Q->GetFetchCount(), 7) << "the first block asked for 25 rows and got 7";
  EXPECT_EQ(IntValue(Q, 0), 1);
  const int64_t Calls = Q->GetFetchCalls();
  for (int I = 2; I <= 7; ++I) {
    ASSERT_TRUE(Q->Next());
    EXPECT_EQ(IntValue(Q, 0), I);
    EXPECT_EQ(Value(Q, "v").AsString(), "r" + std::to_string(I));
    EXPECT_EQ(Q->GetCurrentRow(), I - 1);
  }
  EXPECT_EQ(Q->GetFetchCalls(), Calls) << "the six moves stay inside the block";
  EXPECT_FALSE(Q->Next());
  EXPECT_TRUE(Q->GetEOF());
  EXPECT_EQ(Q->GetFetchCalls(), Calls + 1);
  EXPECT_TRUE(Q->IsFieldNull(0)) << "after the end the current row reads as NULL";
}

TEST_F(AsaCursor, UpdatableCursorFetchesOneRowPerCall) {
  Connect();
  MakeNumbers(5);
  TAsaSQL* Q = NewSQL();
  ASSERT_TRUE(Q->OpenWrite("select id, v from n order by id", {ZylEmptyParam}));
  EXPECT_EQ(Q->GetFetchCount(), 1);
  int64_t Calls = Q->GetFetchCalls();
  for (int I = 2; I <= 5; ++I) {
    ASSERT_TRUE(Q->Next());
    EXPECT_EQ(IntValue(Q, "id"), I);
    EXPECT_EQ(Q->GetFetchCalls(), ++Calls);
  }
}

TEST_F(AsaCursor, LastOfHundredRowsDeliversTheFinalBlock) {
  Connect();
  MakeNumbers(100);
  TAsaSQL* Q = NewSQL();
  Q->SetMaxFetchCount(10);
  ASSERT_TRUE(Q->OpenRead("select id from n order by id", {ZylEmptyParam}));
  ASSERT_EQ(Q->GetRowCountEstimate(), 100);
  ASSERT_TRUE(Q->Last());
  EXPECT_EQ(Q->GetBufferRows(), 10);
  EXPECT_EQ(Q->GetBufferRow(), 9);
  EXPECT_EQ(Q->GetCurrentRow(), 99);
  EXPECT_EQ(IntValue(Q, 0), 100);
  const int64_t Calls = Q->GetFetchCalls();
  for (int I = 99; I >= 91; --I) {
    ASSERT_TRUE(Q->Prev());
    EXPECT_EQ(IntValue(Q, 0), I);
  }
  EXPECT_EQ(Q->GetFetchCalls(), Calls) << "rows 91 to 99 came with the last block";
  EXPECT_FALSE(Q->Next() && IntValue(Q, 0) != 92) << "Next goes forward again";
}

TEST_F(AsaCursor, PrevAcrossBlockBoundariesWalksBackToTheStart) {
  Connect();
  MakeNumbers(30);
  TAsaSQL* Q = NewSQL();
  Q->SetMaxFetchCount(10);
  ASSERT_TRUE(Q->OpenRead("select id from n order by id", {ZylEmptyParam}));
  for (int I = 2; I <= 11; ++I) ASSERT_TRUE(Q->Next());
  ASSERT_EQ(IntValue(Q, 0), 11);
  ASSERT_EQ(Q->GetBufferRow(), 0) << "row 11 is the first of the second block";
  const int64_t Calls = Q->GetFetchCalls();
  ASSERT_TRUE(Q->Prev());
  EXPECT_EQ(IntValue(Q, 0), 10);
  EXPECT_EQ(Q->GetBufferRow(), 9) << "the new block ends one row before the old one";
  EXPECT_EQ(Q->GetCurrentRow(), 9);
  for (int I = 9; I >= 1; --I) {
    ASSERT_TRUE(Q->Prev()) << I;
    EXPECT_EQ(IntValue(Q, 0), I);
    EXPECT_EQ(Q->GetCurrentRow(), I - 1);
  }
  EXPECT_EQ(Q->GetFetchCalls(), Calls + 1) << "rows 1 to 10 came in one block";
  EXPECT_FALSE(Q->Prev());
  EXPECT_TRUE(Q->GetBOF());
  EXPECT_FALSE(Q->Prev()) << "at BOF no further server call moves anything";
  ASSERT_TRUE(Q->First());
  EXPECT_EQ(IntValue(Q, 0), 1);
}

// What a walk sees on one row: where the statement says it stands, the row as the record holds it
// (bytes and null indicators) and every value as the application reads it.
struct RowSeen {
  int32_t Row;
  std::string Record, Values;
  bool operator==(const RowSeen&) const = default;
};

RowSeen See(TAsaSQL* Q) {
  RowSeen S{Q->GetCurrentRow(), {}, {}};
  S.Record.assign(reinterpret_cast<const char*>(Q->PeekRecordBuffer()), static_cast<size_t>(Q->GetRecordSize()));
  S.Record.append(reinterpret_cast<const char*>(Q->PeekIndicators()), static_cast<size_t>(Q->GetIndicatorSize()));
  for (int32_t I = 0; I < Q->GetFieldCount(); ++I) {
    Variant V;
    Q->GetFieldValue(I, V);
    if (Q->IsFieldNull(I)) {
      S.Values += "NULL";
    } else if (V.IsNull()) {
      S.Values += "(no value)";
    } else if (V.IsArray()) {
      for (uint8_t Byte : VarArrayToBytes(V)) S.Values += std::to_string(Byte) + ' ';
    } else {
      S.Values += V.AsString();
    }
    S.Values += '|';
  }
  return S;
}

// Forward from the first row to the end, then Last and Prev back to the start: the same rows, in
// the opposite order, with the same positions; and no more server fetches than forward, give or
// take the step before the first row.
class AsaBackwardScan : public AsaSQLTest {
 protected:
  void CompareBackwardWithForward(const std::string& Sql, int32_t MaxFetchCount, int32_t Rows);
  void BackwardScansMatchForwardScans();
};

void AsaBackwardScan::CompareBackwardWithForward(const std::string& Sql, int32_t MaxFetchCount, int32_t Rows) {
  SCOPED_TRACE(Sql + ", MaxFetchCount " + std::to_string(MaxFetchCount));
  TAsaSQL* Q = NewSQL();
  Q->SetMaxFetchCount(MaxFetchCount);
  ASSERT_EQ(Q->OpenRead(Sql, {ZylEmptyParam}), Rows > 0);
  std::vector<RowSeen> Forward;
  int64_t Calls = Q->GetFetchCalls();
  for (bool Have = !Q->GetEOF(); Have; Have = Q->Next()) Forward.push_back(See(Q));
  const int64_t ForwardCalls = Q->GetFetchCalls() - Calls;
  EXPECT_TRUE(Q->GetEOF());
  ASSERT_EQ(static_cast<int32_t>(Forward.size()), Rows);

  std::vector<RowSeen> Backward;
  Calls = Q->GetFetchCalls();
  for (bool Have = Q->Last(); Have; Have = Q->Prev()) Backward.push_back(See(Q));
  const int64_t BackwardCalls = Q->GetFetchCalls() - Calls;
  EXPECT_TRUE(Q->GetBOF());
  EXPECT_FALSE(Q->Prev());
  std::reverse(Backward.begin(), Backward.end());
  ASSERT_EQ(Backward.size(), Forward.size());
  for (size_t I = 0; I < Forward.size(); ++I) EXPECT_EQ(Backward[I], Forward[I]) << "row " << I;
  EXPECT_LE(BackwardCalls, ForwardCalls + 2);
  // And forward again from the start, as from a fresh open.
  ASSERT_EQ(Q->Next(), Rows > 0);
  if (Rows > 0) {
    EXPECT_EQ(See(Q), Forward[0]);
  }
}

// Every column type, NULLs and long values, on results that end in a short block and that fit in
// one block, empty ones, and a cursor reading a row per call.
void AsaBackwardScan::BackwardScansMatchForwardScans() {
  Exec("create table t (k integer primary key, s varchar(30), c char(4), i integer, b bigint, u unsigned int, "
         "f double, m decimal(19,4), d date, t time, ts timestamp, bo bit, bi binary(8))");
  for (int K = 1; K <= 103; ++K) {
    char Row[512];
    if (K % 3 == 0)  // every third row all NULL
      std::snprintf(Row, sizeof Row, "insert into t (k) values (%d)", K);
    else
      std::snprintf(Row, sizeof Row,
                    "insert into t values (%d, 'text %d  ', 'c%d', %d, %lld, %u, %d.25, %d.1234, '2001-02-%02d', "
                    "'13:05:%02d', '1999-12-31 23:59:%02d.500', %d, X'01020304050607%02x')",
                    K, K, K % 100, -K * 1000, K * 1000000000000LL, 4000000000u + K, K, K, 1 + K % 28, 10 + K % 50,
                    10 + K % 50, K % 2, K);
    Exec(Row);
  }
  Exec("create table l (k integer primary key, me long varchar, bl long binary)");
  // The long value is written out in the statement: both engines take a literal of that size, and
  // not both have a function that repeats text.
  Exec("insert into l values (1, '" + std::string(70000, 'm') +
       "', X'00FF00'), (2, NULL, NULL), (3, '', X''), (4, 'short', X'7F')");
  Exec("commit");
  for (int32_t Max : {1, 10, 25, 200}) CompareBackwardWithForward("select * from t order by k", Max, 103);
  CompareBackwardWithForward("select * from t where k <= 7 order by k", 25, 7);
  CompareBackwardWithForward("select * from t where k < 0", 25, 0);
  CompareBackwardWithForward("select * from l order by k", 25, 4);
}

TEST_F(AsaBackwardScan, SeesWhatTheForwardScanSeesWithAsManyFetches) {
  Connect();
  BackwardScansMatchForwardScans();
}

TEST_F(AsaBackwardScan, OfAVersionSixServerSeesWhatTheForwardScanSees) {
  Connect("dblib6.dll");
  ASSERT_EQ(Session->GetServerVersion(), 6);
  BackwardScansMatchForwardScans();
}

TEST_F(AsaCursor, MoveToFromAFullBlockAsksForTheRemainingOffset) {
  Connect();
  MakeNumbers(40);
  TAsaSQL* Q = NewSQL();
  Q->SetMaxFetchCount(10);
  ASSERT_TRUE(Q->OpenRead("select id from n order by id", {ZylEmptyParam}));
  for (int I = 0; I < 3; ++I) ASSERT_TRUE(Q->Next());
  ASSERT_EQ(Q->GetBufferRow(), 3);
  ASSERT_TRUE(Q->MoveTo(20));
  EXPECT_EQ(Q->GetLastMoveOffset(), 11);
  EXPECT_EQ(Q->GetCurrentRow(), 20);
  EXPECT_TRUE(Q->IsFieldNull(0)) << "the move delivers no row";
  ASSERT_TRUE(Q->Curr());
  EXPECT_EQ(IntValue(Q, 0), 21);
  ASSERT_TRUE(Q->Next());
  EXPECT_EQ(IntValue(Q, 0), 22);
}

// A partial block of 4 rows, current row 1 of it: the server stands on its last row (offset -3),
// or, for a version-6 server, after it (offset -4). Either way row 10 is reached.
void MoveBackInPartialBlock(AsaSQLTest& T, TAsaSQL* Q, int ExpectedOffset) {
  Q->SetMaxFetchCount(10);
  ASSERT_TRUE(Q->OpenRead("select id from n order by id", {ZylEmptyParam}));
  for (int I = 0; I < 11; ++I) ASSERT_TRUE(Q->Next());
  ASSERT_EQ(Q->GetBufferRows(), 4);
  ASSERT_EQ(Q->GetBufferRow(), 1);
  ASSERT_EQ(Q->GetCurrentRow(), 11);
  ASSERT_TRUE(Q->MoveTo(10));
  EXPECT_EQ(Q->GetLastMoveOffset(), ExpectedOffset);
  ASSERT_TRUE(Q->Curr());
  Variant V;
  Q->GetFieldValue(0, V);
  EXPECT_EQ(V.AsInteger(), 11);
  (void)T;
}

TEST_F(AsaCursor, MoveToFromAPartialBlock) {
  Connect("dblib10.dll");
  MakeNumbers(14);
  MoveBackInPartialBlock(*this, NewSQL(), -3);
}

TEST_F(AsaCursor, MoveToFromAPartialBlockOfAVersionSixServer) {
  Connect("dblib6.dll");
  ASSERT_EQ(Session->GetServerVersion(), 6);
  MakeNumbers(14);
  MoveBackInPartialBlock(*this, NewSQL(), -4);
}

TEST_F(AsaCursor, MovesToTheEndsAndOutsideTheResult) {
  Connect();
  MakeNumbers(12);
  TAsaSQL* Q = NewSQL();
  Q->SetMaxFetchCount(5);
  ASSERT_TRUE(Q->OpenRead("select id from n order by id", {ZylEmptyParam}));
  ASSERT_TRUE(Q->MoveToLast());
  EXPECT_EQ(Q->GetCurrentRow(), 12);
  EXPECT_TRUE(Q->GetEOF());
  ASSERT_TRUE(Q->Prev());
  EXPECT_EQ(IntValue(Q, 0), 12);
  ASSERT_TRUE(Q->MoveToFirst());
  EXPECT_EQ(Q->GetCurrentRow(), -1);
  EXPECT_TRUE(Q->GetBOF());
  ASSERT_TRUE(Q->Next());
  EXPECT_EQ(IntValue(Q, 0), 1);
  // Beyond the end the move lands after the last row.
  ASSERT_TRUE(Q->MoveTo(50));
  EXPECT_EQ(Q->GetCurrentRow(), 12);
  EXPECT_TRUE(Q->GetEOF());
  EXPECT_FALSE(Q->Resume()) << "a plain select has no further result";
  EXPECT_EQ(Session->GetLastErrorCode(), SQLE_PROCEDURE_COMPLETE);
}

TEST_F(AsaCursor, ResumeWalksEveryResultSetOfAProcedure) {
  Connect();
  MakeNumbers(3);
  Exec(
      "create procedure two_sets(in k integer) begin\n"
      " select id, v from n where id >= k order by id;\n"
      " select count(*) as total, 'done' as what from n;\n"
      "end");
  TAsaSQL* Q = NewSQL(false);
  Q->PrepareOpen("call two_sets(?)");
  EXPECT_TRUE(Q->GetResumable());
  EXPECT_EQ(Q->GetFieldCount(), 0) << "a result that may vary is described after open";
  ASSERT_TRUE(Q->OpenReadPrepared({2}));
  EXPECT_TRUE(Q->GetStillInProc());
  ASSERT_EQ(Q->GetFieldCount(), 2);
  EXPECT_EQ(IntValue(Q, "id"), 2);
  ASSERT_TRUE(Q->Next());
  EXPECT_EQ(IntValue(Q, "id"), 3);
  EXPECT_FALSE(Q->Next());
  ASSERT_TRUE(Q->Resume());
  ASSERT_EQ(Q->GetFieldCount(), 2);
  EXPECT_EQ(Q->GetFieldName(0), "total");
  EXPECT_EQ(IntValue(Q, "total"), 3);
  EXPECT_EQ(Value(Q, "what").AsString(), "done");
  EXPECT_FALSE(Q->Resume());
  EXPECT_FALSE(Q->GetStillInProc());
  EXPECT_EQ(Q->GetLastErrorCode(), SQLE_PROCEDURE_COMPLETE);
}

TEST_F(AsaCursor, PositionedUpdateAndDeleteChangeTheCurrentRow) {
  Connect();
  MakeNumbers(5);
  TAsaSQL* Q = NewSQL();
  ASSERT_TRUE(Q->OpenWrite("select id, v from n order by id", {ZylEmptyParam}));
  ASSERT_TRUE(Q->Next());
  ASSERT_TRUE(Q->Next());
  ASSERT_EQ(IntValue(Q, "id"), 3);
  Q->SetFieldValue("v", "changed");
  EXPECT_TRUE(Q->IsFieldDirty("v"));
  EXPECT_FALSE(Q->IsFieldDirty("id"));
  ASSERT_TRUE(Q->Modify());
  EXPECT_FALSE(Q->IsDirty()) << "the edited row becomes the unchanged current row";
  EXPECT_EQ(QueryText(*Session, "select v from n where id = 3"), "changed");
  EXPECT_EQ(QueryText(*Session, "select v from n where id = 2"), "r2");

  ASSERT_TRUE(Q->Next());
  ASSERT_EQ(IntValue(Q, "id"), 4);
  Q->SetFieldValue("v", Null());
  ASSERT_TRUE(Q->Modify());
  EXPECT_EQ(QueryText(*Session, "select v from n where id = 4"), "<null>");
  ASSERT_TRUE(Q->Delete());
  EXPECT_EQ(IntValue(Q, "id"), 4) << "the deleted row's values stay current until the next move";
  EXPECT_EQ(QueryText(*Session, "select count(*) from n"), "4");
  EXPECT_EQ(QueryText(*Session, "select count(*) from n where id = 4"), "0");
  ASSERT_TRUE(Q->Next());
  EXPECT_EQ(IntValue(Q, "id"), 5);
}

TEST_F(AsaCursor, RowReadInPlaceCopiesOutOnTheFirstChangeAndNotAfter) {
  Connect();
  MakeNumbers(25);
  TAsaSQL* Q = NewSQL();
  Q->SetMaxFetchCount(10);
  ASSERT_TRUE(Q->OpenRead("select id, v from n order by id", {ZylEmptyParam}));
  for (int I = 2; I <= 3; ++I) ASSERT_TRUE(Q->Next());
  ASSERT_EQ(IntValue(Q, "id"), 3);
  // Clearing a field edits the record (even of a read-only cursor): the fetched row stays the
  // old record, and the block it came from stays as fetched.
  Q->ClearField("v");
  EXPECT_TRUE(Q->IsFieldNull("v"));
  EXPECT_TRUE(Q->IsFieldDirty("v"));
  Variant Old;
  Q->GetOldValue("v", Old);
  EXPECT_EQ(Old.AsString(), "r3");
  EXPECT_EQ(Q->GetRecordBuffer()[Q->GetFieldDefs()->FieldByName("v")->Offset], 0);
  // Every later row of the block, and of the next, reads as fetched, with nothing dirty.
  for (int I = 4; I <= 12; ++I) {
    ASSERT_TRUE(Q->Next()) << I;
    EXPECT_EQ(IntValue(Q, "id"), I);
    EXPECT_EQ(Value(Q, "v").AsString(), "r" + std::to_string(I));
    EXPECT_FALSE(Q->IsFieldNull("v")) << I;
    EXPECT_FALSE(Q->IsDirty()) << I;
  }
  ASSERT_TRUE(Q->Next());
  Q->GetOldValue("v", Old);
  EXPECT_EQ(Old.AsString(), "r13") << "the old record of an unedited row is the row itself";
  // The last row stays current through the failed fetch past the end as it did before.
  while (Q->Next()) {
  }
  EXPECT_TRUE(Q->GetEOF());
  ASSERT_TRUE(Q->First());
  EXPECT_EQ(Value(Q, "v").AsString(), "r1");
  // A record buffer asked for holds the current row, and what is written into it is the record.
  uint8_t* Record = Q->GetRecordBuffer();
  TZyloFieldDef* V = Q->GetFieldDefs()->FieldByName("v");
  EXPECT_STREQ(reinterpret_cast<const char*>(Record + V->Offset), "r1");
  Record[V->Offset + 1] = '9';
  EXPECT_EQ(Value(Q, "v").AsString(), "r9");
  Q->GetOldValue("v", Old);
  EXPECT_EQ(Old.AsString(), "r1");
}

TEST_F(AsaCursor, ModifyWithNothingChangedSendsNothing) {
  Connect();
  MakeNumbers(2);
  TAsaSQL* Q = NewSQL();
  ASSERT_TRUE(Q->OpenWrite("select id, v from n order by id", {ZylEmptyParam}));
  // Leave an error in the record: a Modify that talked to the server would replace it.
  Q->SetWantExceptions(false);
  EXPECT_FALSE(Q->ExecuteImmediate("select from"));
  const int32_t Before = Session->GetLastErrorCode();
  ASSERT_LT(Before, 0);
  const int64_t Side = Q->GetSideStatements();
  Q->SetFieldValue("v", "r1");  // the same value: not a change
  EXPECT_TRUE(Q->Modify());
  EXPECT_EQ(Session->GetLastErrorCode(), Before);
  EXPECT_EQ(Q->GetSideStatements(), Side);
  Variant Old;
  Q->GetOldValue("v", Old);
  EXPECT_EQ(Old.AsString(), "r1");
}

TEST_F(AsaCursor, AppendReturnsTheRowAsStoredWithServerDefaults) {
  Connect();
  Exec("create table d (id integer primary key, s varchar(10) default 'dflt', t integer default 42, u varchar(5))");
  TAsaSQL* Q = NewSQL();
  EXPECT_FALSE(Q->OpenWrite("select id, s, t, u from d", {ZylEmptyParam})) << "no row yet";
  ASSERT_TRUE(Q->GetActive());
  Q->Clear();
  Q->SetFieldValue("id", 7);
  Q->SetFieldValue("u", "abc");
  ASSERT_TRUE(Q->Append());
  EXPECT_EQ(IntValue(Q, "id"), 7);
  EXPECT_EQ(Value(Q, "s").AsString(), "dflt");
  EXPECT_EQ(IntValue(Q, "t"), 42);
  EXPECT_EQ(Value(Q, "u").AsString(), "abc");
  EXPECT_FALSE(Q->IsFieldNull("s"));
  EXPECT_FALSE(Q->IsDirty()) << "the inserted row is the current and the old record";
  EXPECT_EQ(QueryText(*Session, "select s || '/' || t from d where id = 7"), "dflt/42");

  // A rejected insert reports the server's error and keeps what was entered.
  Q->SetWantExceptions(false);
  Q->SetFieldValue("u", "xyz");
  EXPECT_FALSE(Q->Append());
  EXPECT_EQ(Session->GetLastErrorCode(), SQLE_PRIMARY_KEY_NOT_UNIQUE);
  EXPECT_EQ(Value(Q, "u").AsString(), "xyz");
  EXPECT_EQ(QueryText(*Session, "select count(*) from d"), "1");
}

TEST_F(AsaCursor, GuardsAndErrorsReachTheSession) {
  Connect();
  MakeNumbers(3);
  TAsaSQL* Q = NewSQL(false);
  EXPECT_FALSE(Q->OpenRead("select id frm n", {ZylEmptyParam}));
  EXPECT_EQ(Session->GetLastErrorCode(), SQLE_SYNTAX_ERROR);
  EXPECT_EQ(Session->GetLastError().rfind("Error -131:", 0), 0u) << Session->GetLastError();
  EXPECT_FALSE(Q->GetActive());

  Q->SetWantExceptions(true);
  try {
    Q->OpenRead("select nothing_here from n", {ZylEmptyParam});
    FAIL() << "no exception";
  } catch (const EAsaException& E) {
    EXPECT_EQ(E.GetErrorCode(), SQLE_COLUMN_NOT_FOUND);
    EXPECT_EQ(AnsiString(E.Message()), Session->GetLastError());
  }

  EXPECT_THROW(Q->Explain(), EAsaException);
  EXPECT_THROW(Q->Next(), EAsaException);
  ASSERT_TRUE(Q->OpenRead("select id, v from n", {ZylEmptyParam}));
  EXPECT_FALSE(Q->Explain().empty());
  EXPECT_EQ(Q->GetTableName(), "n");
  EXPECT_THROW(Q->Modify(), EAsaException);
  EXPECT_THROW(Q->Delete(), EAsaException);
  Q->Close();
  try {
    Q->Lock();
    FAIL() << "no exception";
  } catch (const EAsaException& E) {
    EXPECT_EQ(AnsiString(E.Message()), "The cursor is read-only") << "read-only is tested before open";
  }
}

TEST_F(AsaCursor, LockOfTheCurrentRowOfAnUpdatableCursor) {
  Connect();
  MakeNumbers(2);
  TAsaSQL* Q = NewSQL();
  ASSERT_TRUE(Q->OpenWrite("select id, v from n order by id", {ZylEmptyParam}));
  EXPECT_TRUE(Q->Lock());
  EXPECT_EQ(IntValue(Q, "id"), 1) << "no values are transferred";
}

TEST_F(AsaCursor, CursorOptionsAndIsolationOpenEveryKind) {
  Connect();
  MakeNumbers(3);
  for (int Kind = actDefault; Kind <= actUnique; ++Kind) {
    TAsaSQL* Q = NewSQL();
    Q->SetCursorType(static_cast<TAsaCursorType>(Kind));
    Q->SetTransIsolation(atReadCommitted);
    ASSERT_TRUE(Q->OpenRead("select id from n order by id", {ZylEmptyParam})) << Kind;
    EXPECT_EQ(IntValue(Q, 0), 1) << Kind;
    EXPECT_EQ(Q->InternalIsUniDirectional(), Kind == actNoScroll);
    ASSERT_TRUE(Q->Next());
    EXPECT_EQ(IntValue(Q, 0), 2) << Kind;
    Q->Close();
  }
}

TEST_F(AsaCursor, CurrRereadsTheCurrentRowFromTheServer) {
  Connect();
  MakeNumbers(12);
  TAsaSQL* Q = NewSQL();
  Q->SetMaxFetchCount(5);
  ASSERT_TRUE(Q->OpenRead("select id, v from n order by id", {ZylEmptyParam}));
  for (int I = 0; I < 6; ++I) ASSERT_TRUE(Q->Next());
  ASSERT_EQ(IntValue(Q, "id"), 7);
  ASSERT_EQ(ExecImm(*Session, "update n set v = 'fresh' where id = 7"), 0);
  EXPECT_EQ(Value(Q, "v").AsString(), "r7") << "the buffered row is as fetched";
  ASSERT_TRUE(Q->Curr());
  EXPECT_EQ(IntValue(Q, "id"), 7);
  EXPECT_EQ(Value(Q, "v").AsString(), "fresh");
  EXPECT_EQ(Q->GetCurrentRow(), 6);
  ASSERT_TRUE(Q->Next());
  EXPECT_EQ(IntValue(Q, "id"), 8);
}

}  // namespace
