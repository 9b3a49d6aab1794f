// TAsaSQL before and around the cursor: the type mapping of described columns, the multi-row
// output descriptor, long names by library version, statement numbers shared by Prepare, host
// variables with direction bits, output variables, execution with row counts and the automatic
// commit.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/asa/AsaStatementEnv.h"

namespace {

using zylasa::AsaSQLTest;
using zylasa::QueryText;

class AsaStatement : public AsaSQLTest {};

TEST_F(AsaStatement, DescribedColumnsMapToFieldTypes) {
  Connect();
  Exec(
      "create table m (c194 decimal(19,4), c184 decimal(18,4), vs varchar(8192) not null, vm varchar(8193), "
      "lb long binary, lv long varchar, i integer, si smallint, bi bigint, b bit not null, d date, t time, "
      "ts timestamp, bn binary(6), f double)");
  TAsaSQL* Q = NewSQL();
  Q->SetBlobSize(100);
  Q->PrepareOpen("select * from m");
  ASSERT_TRUE(Q->GetPrepared());
  struct Expect {
    const char* Name;
    TZyloFieldTypes Type;
    int32_t Size;
  };
  const Expect Table[] = {
      {"c194", ztCurrency, 8}, {"c184", ztFloat, 8},     {"vs", ztString, 8193}, {"vm", ztMemo, 104},
      {"lb", ztBlob, 104},     {"lv", ztMemo, 104},      {"i", ztInteger, 4},    {"si", ztInteger, 4},
      {"bi", ztInt64, 8},      {"b", ztBoolean, 1},      {"d", ztDate, 14},      {"t", ztTime, 14},
      {"ts", ztDateTime, 14},  {"bn", ztBinary, 8},      {"f", ztFloat, 8},
  };
  ASSERT_EQ(Q->GetFieldCount(), 15);
  for (const Expect& E : Table) {
    EXPECT_EQ(Q->GetFieldType(E.Name), E.Type) << E.Name;
    EXPECT_EQ(Q->GetFieldSize(E.Name), E.Size) << E.Name;
  }
  EXPECT_EQ(Q->GetFieldPrecision("c194"), 19);
  EXPECT_EQ(Q->GetFieldDecimals("c194"), 4);
  EXPECT_EQ(Q->GetFieldLength("vs"), 8192);
  EXPECT_EQ(Q->GetField("lb")->ExtType, DT_STRING) << "long binary is fetched as a string of BlobSize + 4";
  // The nullable bit stays in the bound type of the descriptor, not in the definition.
  const SQLDA* Out = Q->GetOutputSQLDA();
  EXPECT_EQ(Q->GetField("i")->ExtType, DT_INT);
  EXPECT_EQ(Out->sqlvar[6].sqltype, DT_INT | DT_NULLS_ALLOWED);
  EXPECT_EQ(Out->sqlvar[2].sqltype, DT_STRING) << "vs is not null";
  EXPECT_TRUE(Q->GetFieldNulls("i"));
  EXPECT_FALSE(Q->GetFieldNulls("vs"));
  EXPECT_EQ(Q->GetRecordSize(), 8 + 8 + 8193 + 104 * 3 + 4 + 4 + 8 + 1 + 14 * 3 + 8 + 8);
}

TEST_F(AsaStatement, OutputDescriptorHoldsOneRowOfVariablesPerBufferedRow) {
  Connect();
  MakeNumbers(1);
  TAsaSQL* Q = NewSQL();
  Q->PrepareOpen("select id, v, id + 1 as nxt from n");
  const SQLDA* Out = Q->GetOutputSQLDA();
  ASSERT_NE(Out, nullptr);
  EXPECT_EQ(Out->sqln, 75);
  EXPECT_EQ(Out->sqld, 75);
  for (int R = 1; R < 25; ++R)
    for (int I = 0; I < 3; ++I) {
      const SQLVAR& A = Out->sqlvar[I];
      const SQLVAR& B = Out->sqlvar[R * 3 + I];
      EXPECT_EQ(B.sqltype, A.sqltype);
      EXPECT_EQ(B.sqllen, A.sqllen);
      EXPECT_EQ(0, std::memcmp(&A.sqlname, &B.sqlname, sizeof A.sqlname));
      // Row r's values follow row r-1's in the fetch buffer.
      EXPECT_EQ(static_cast<uint8_t*>(B.sqldata) - static_cast<uint8_t*>(A.sqldata), R * Q->GetRecordSize());
    }
}

void ExpectAliasName(AsaSQLTest& T, TAsaSQL* Q, size_t Expected) {
  const std::string Alias = "a_column_alias_of_forty_characters_xyzw";  // 39 + below
  const std::string Full = Alias + "q";
  ASSERT_EQ(Full.size(), 40u);
  ASSERT_TRUE(Q->OpenRead("select id as " + Full + " from n", {ZylEmptyParam}));
  EXPECT_EQ(Q->GetFieldName(0), Full.substr(0, Expected));
  Variant V;
  Q->GetFieldValue(0, V);
  EXPECT_EQ(V.AsInteger(), 1);
  (void)T;
}

TEST_F(AsaStatement, LongColumnAliasesComeInFullFromVersionFive) {
  Connect("dblib10.dll");
  MakeNumbers(1);
  ExpectAliasName(*this, NewSQL(), 40);
  TAsaSQL* Q = NewSQL();
  ASSERT_TRUE(Q->OpenRead("select id as " + std::string(40, 'k') + " from n", {ZylEmptyParam}));
  EXPECT_EQ(Q->GetFieldName(0), std::string(40, 'k')) << "also after an open (described at prepare)";
}

TEST_F(AsaStatement, LongColumnAliasesAreCutBelowVersionFive) {
  Connect("dbl40t.dll");
  MakeNumbers(1);
  ExpectAliasName(*this, NewSQL(), 30);
}

TEST_F(AsaStatement, PrepareSharesOneStatementNumberDroppedOnce) {
  Connect();
  MakeNumbers(3);
  TAsaSQL* Q = NewSQL();
  Q->Prepare("select count(*) as c from n where id > ?");
  const int16_t Number = Q->GetOpenStatement();
  ASSERT_GT(Number, 0);
  EXPECT_EQ(Q->GetExecStatement(), Number);
  TAsaStatementPool* Pool = Session->GetStatementPool();
  ASSERT_NE(Pool->Find(Number), nullptr);
  EXPECT_TRUE(Pool->Find(Number)->InUse);
  ASSERT_TRUE(Q->OpenReadPrepared({1}));
  EXPECT_EQ(IntValue(Q, "c"), 2);
  Q->UnprepareOpen();
  EXPECT_EQ(Q->GetExecStatement(), 0) << "the shared number is cleared on the execute side";
  EXPECT_FALSE(Pool->Find(Number)->InUse);
  Q->UnprepareExecute();
  EXPECT_EQ(Pool->Next(), Number);
  // The number comes back with the next prepare.
  TAsaSQL* R = NewSQL();
  R->PrepareOpen("select id from n");
  EXPECT_EQ(R->GetOpenStatement(), Number);
  EXPECT_EQ(Pool->Next(), 0);
}

TEST_F(AsaStatement, ExecuteWithParametersReusesTheBinding) {
  Connect();
  Exec("create table p (id integer, name varchar(30), amount double, big bigint, flag bit, at timestamp)");
  TAsaSQL* Q = NewSQL();
  Q->PrepareExecute("insert into p values (?, ?, ?, ?, ?, ?)");
  TDateTime When = EncodeDateTime(2001, 7, 4, 12, 30, 15, 250);
  ASSERT_TRUE(Q->ExecutePrepared({1, "one", 1.5, Variant(static_cast<long long>(1) << 40), true,
                                  Variant::FromDateTime(When)}));
  EXPECT_EQ(Q->GetRowsProcessed(), 1);
  ASSERT_TRUE(Q->GetExecVariables()->Bound);
  const void* Definition = Q->GetExecVariables()->Items(0);
  const SQLDA* Descriptor = Q->GetExecInputSQLDA();
  ASSERT_TRUE(Q->ExecutePrepared({2, "two", 2.5, Variant(static_cast<long long>(7)), false,
                                  Variant::FromDateTime(When + 1)}));
  EXPECT_EQ(Q->GetExecVariables()->Items(0), Definition) << "same types and lengths keep the definitions";
  EXPECT_EQ(Q->GetExecInputSQLDA(), Descriptor) << "and the bound descriptor";
  ASSERT_TRUE(Q->ExecutePrepared({3, Null(), Null(), Null(), Null(), Null()}));
  EXPECT_EQ(QueryText(*Session, "select name || amount || big || flag from p where id = 1"), "one1.510995116277761");
  EXPECT_EQ(QueryText(*Session, "select at from p where id = 2"), "2001-07-05 12:30:15.250");
  EXPECT_EQ(QueryText(*Session, "select name from p where id = 3"), "<null>");
  EXPECT_EQ(QueryText(*Session, "select count(*) from p"), "3");
}

TEST_F(AsaStatement, OutputOnlyParameterConsumesNoValue) {
  Connect();
  Exec("create procedure pio(in a integer, out b varchar(30), in c integer) begin set b = 'sum ' || (a + c); end");
  TAsaSQL* Q = NewSQL();
  ASSERT_TRUE(Q->Execute("call pio(?, ?, ?)", {5, 10}));
  ASSERT_EQ(Q->GetExecVariables()->Count(), 2);
  EXPECT_EQ(Q->GetExecVariables()->Items(1)->Name, "c") << "the second value went to c";
  Variant Out;
  Q->GetOutVar("b", Out);
  EXPECT_EQ(Out.AsString(), "sum 15");
  EXPECT_THROW(Q->GetOutVar("nope", Out), EZyloException);
}

TEST_F(AsaStatement, NullOutputsReadBackAsNull) {
  Connect();
  Exec("create procedure pn(in a integer, out n integer, out s varchar(10)) begin "
       "if a > 0 then set n = a; set s = 'x'; end if; end");
  TAsaSQL* Q = NewSQL();
  Variant Out;
  ASSERT_TRUE(Q->Execute("call pn(?, ?, ?)", {0}));
  Q->GetOutVar("n", Out);
  EXPECT_TRUE(Out.IsNull()) << "an output the procedure left NULL is not read as 0";
  Q->GetOutVar("s", Out);
  EXPECT_TRUE(Out.IsNull());
  ASSERT_TRUE(Q->ExecutePrepared({4}));
  Q->GetOutVar("n", Out);
  EXPECT_EQ(Out.AsInteger(), 4);
  Q->GetOutVar("s", Out);
  EXPECT_EQ(Out.AsString(), "x");
  ASSERT_TRUE(Q->ExecutePrepared({0}));
  Q->GetOutVar("n", Out);
  EXPECT_TRUE(Out.IsNull()) << "a later NULL replaces the earlier value";
}

TEST_F(AsaStatement, ExecuteImmediateCountsRowsAndCommits) {
  Connect();
  MakeNumbers(10);
  TAsaSQL* Q = NewSQL();
  ASSERT_TRUE(Q->ExecuteImmediate("update n set v = 'x' where id <= 4"));
  EXPECT_EQ(Q->GetRowsProcessed(), 4);
  // A second connection sees the change: the statement was committed.
  auto Other = NewSession("dblib10.dll", File);
  Other->SetLoginEngineName(Engine);
  Other->Open();
  EXPECT_EQ(QueryText(*Other, "select count(*) from n where v = 'x'"), "4");

  // Inside a user transaction nothing is committed until the session commits.
  Session->StartTransaction();
  ASSERT_TRUE(Q->ExecuteImmediate("update n set v = 'y' where id = 10"));
  EXPECT_EQ(QueryText(*Other, "select v from n where id = 10"), "r10");
  Session->Rollback();
  EXPECT_EQ(QueryText(*Session, "select v from n where id = 10"), "r10");
  Other->Close();
}

TEST_F(AsaStatement, ExecuteErrorsComeFromTheStatementNotTheCommit) {
  Connect();
  MakeNumbers(2);
  TAsaSQL* Q = NewSQL(false);
  EXPECT_FALSE(Q->Execute("insert into n values (1, 'dup')", {ZylEmptyParam}));
  EXPECT_EQ(Q->GetLastErrorCode(), SQLE_PRIMARY_KEY_NOT_UNIQUE);
  EXPECT_EQ(Q->GetLastError().rfind("Error -193:", 0), 0u) << Q->GetLastError();
  EXPECT_FALSE(Q->ExecuteImmediate("delete frm n"));
  EXPECT_EQ(Q->GetLastErrorCode(), SQLE_SYNTAX_ERROR);
  ASSERT_TRUE(Q->ExecuteImmediate("delete from n where id = 2"));
  EXPECT_EQ(Q->GetLastErrorCode(), 0);
  EXPECT_TRUE(Q->GetLastError().empty());
  Q->SetWantExceptions(true);
  EXPECT_THROW(Q->Execute("insert into n values (1, 'dup')", {ZylEmptyParam}), EAsaException);
}

TEST_F(AsaStatement, SideStatementsWithAndWithoutParameters) {
  Connect();
  MakeNumbers(1);
  TAsaSQL* Q = NewSQL();
  TAsaStatementPool* Pool = Session->GetStatementPool();
  const int32_t Count = Pool->Count();
  ASSERT_TRUE(Q->InternalLocalExecute("insert into n values (2, 'two')", Null()));
  EXPECT_EQ(Pool->Count(), Count) << "no statement number without parameters";
  ASSERT_TRUE(Q->InternalLocalExecute("insert into n values (?, ?)", VarArrayOf({3, "three"})));
  ASSERT_EQ(Pool->Count(), Count + 1);
  EXPECT_EQ(Pool->Next(), Pool->Find(Pool->Next())->StatementNumber) << "its number went back to the pool";
  EXPECT_FALSE(Pool->Find(Pool->Next())->InUse);
  EXPECT_EQ(QueryText(*Session, "select v from n where id = 2"), "two");
  EXPECT_EQ(QueryText(*Session, "select v from n where id = 3"), "three");
}

TEST_F(AsaStatement, StatementsWorkWithEveryLibraryVersion) {
  int Round = 0;
  for (const char* Flavour : {"dbl40t.dll", "dbl50t.dll", "dblib6.dll", "dblib7.dll", "dblib9.dll"}) {
    SCOPED_TRACE(Flavour);
    Connect(Flavour, "v" + std::to_string(++Round));
    MakeNumbers(30);
    TAsaSQL* Q = NewSQL();
    Q->SetMaxFetchCount(8);
    ASSERT_TRUE(Q->OpenRead("select id, v from n where id > ? order by id", {10}));
    int Seen = 1;
    while (Q->Next()) ++Seen;
    EXPECT_EQ(Seen, 20);
    EXPECT_EQ(Q->GetTableName(), "n") << "from the library, or from the text below version 5";
    ASSERT_TRUE(Q->Execute("update n set v = ? where id = ?", {"w", 3}));
    EXPECT_EQ(Q->GetRowsProcessed(), 1);
    EXPECT_EQ(QueryText(*Session, "select v from n where id = 3"), "w");
    Statements.clear();
    Session->Close();
    StopEngine(*Session, Engine);
    Session.reset();
  }
}

TEST_F(AsaStatement, EventsFireAroundPrepareOpenCloseAndUnprepare) {
  Connect();
  MakeNumbers(2);
  TAsaSQL* Q = NewSQL();
  std::vector<std::string> Log;
  auto Note = [&Log](const char* What) { return [&Log, What](TObject*) { Log.push_back(What); }; };
  Q->AfterPrepare = Note("AfterPrepare");
  Q->BeforeOpen = Note("BeforeOpen");
  Q->AfterOpen = Note("AfterOpen");
  Q->BeforeClose = Note("BeforeClose");
  Q->AfterClose = Note("AfterClose");
  Q->AfterUnprepare = Note("AfterUnprepare");
  ASSERT_TRUE(Q->OpenRead("select id from n", {ZylEmptyParam}));
  Q->Close();
  Q->UnprepareOpen();
  EXPECT_EQ(Log, (std::vector<std::string>{"AfterPrepare", "BeforeOpen", "AfterOpen", "BeforeClose", "AfterClose",
                                           "AfterUnprepare"}));
}

TEST(AsaStatementProperties, CursorTypeAndIsolationStreamWithTheirDefaults) {
  TAsaSQL Q(nullptr);
  EXPECT_EQ(Q.GetCursorType(), actDefault);
  EXPECT_EQ(Q.GetTransIsolation(), atUnchanged);
  const TPropInfo* Cursor = TAsaSQL::StaticClass().FindProperty("CursorType");
  ASSERT_NE(Cursor, nullptr);
  EXPECT_FALSE(Cursor->IsStored(Q)) << "the default is not written";
  Q.SetName("Query1");
  Q.SetCursorType(actInsensitive);
  Q.SetTransIsolation(atSerializable);
  TMemoryStream M;
  M.WriteComponent(&Q);
  M.SetPosition(0);
  std::unique_ptr<TComponent> Read(M.ReadComponent(nullptr));
  auto* R = dynamic_cast<TAsaSQL*>(Read.get());
  ASSERT_NE(R, nullptr) << "created by its class name";
  EXPECT_EQ(R->GetCursorType(), actInsensitive);
  EXPECT_EQ(R->GetTransIsolation(), atSerializable);
}

TEST_F(AsaStatement, FailingAutomaticCommitIsRolledBackAndReported) {
  if (zylasa::OnPostgres()) GTEST_SKIP() << "the fault seam is the embedded engine's";
  Connect();
  MakeNumbers(3);
  using TFailAfter = void (*)(int, int);
  auto FailAfter = reinterpret_cast<TFailAfter>(GetProcAddress(Session->GetLibraryHandle(), "zyl_fault_fail_after"));
  ASSERT_NE(FailAfter, nullptr);
  TAsaSQL* Q = NewSQL(false);
  int CommitFailures = 0;
  for (int N = 1; N <= 40; ++N) {
    FailAfter(N, 13 /* SQLITE_FULL */);
    const bool Ok = Q->ExecuteImmediate("update n set v = 'x' where id = 1");
    const int32_t Rows = Q->GetRowsProcessed();
    const int32_t Code = Q->GetLastErrorCode();
    FailAfter(0, 0);
    if (Ok) {
      EXPECT_EQ(QueryText(*Session, "select v from n where id = 1"), "x") << N;
      ASSERT_TRUE(Q->ExecuteImmediate("update n set v = 'r1' where id = 1"));
      continue;
    }
    EXPECT_LT(Code, 0) << N;
    EXPECT_EQ(QueryText(*Session, "select v from n where id = 1"), "r1") << "nothing half-done at call " << N;
    if (Rows == 1) ++CommitFailures;  // the update ran, its commit failed
  }
  EXPECT_GT(CommitFailures, 0) << "some position hit the commit";
  ASSERT_TRUE(Q->ExecuteImmediate("update n set v = 'y' where id = 2"));
  EXPECT_EQ(QueryText(*Session, "select v from n where id = 2"), "y");
}

TEST_F(AsaStatement, VeryWideResultGetsFewerRowsPerBlock) {
  Connect();
  std::string Create = "create table wide (", Insert = "insert into wide values (";
  for (int I = 1; I <= 1400; ++I) {
    Create += (I > 1 ? ", c" : "c") + std::to_string(I) + " integer";
    Insert += (I > 1 ? ", " : "") + std::to_string(I);
  }
  Exec(Create + ")");
  Exec(Insert + ")");
  Exec(Insert + ")");
  TAsaSQL* Q = NewSQL();
  ASSERT_TRUE(Q->OpenRead("select * from wide", {ZylEmptyParam}));
  EXPECT_EQ(Q->GetAllocatedRows(), 23) << "32767 variables hold 23 rows of 1400 columns";
  EXPECT_EQ(IntValue(Q, "c1400"), 1400);
  ASSERT_TRUE(Q->Next());
  EXPECT_EQ(IntValue(Q, "c700"), 700);
  EXPECT_FALSE(Q->Next());
}

}  // namespace
