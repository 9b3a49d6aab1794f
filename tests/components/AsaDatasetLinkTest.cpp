// TAsaDataset as the detail of a master data source, and the provider operations against a real
// database.
#include "tests/components/AsaDatasetEnv.h"

using namespace zylasa;

namespace {

void Record(TDataSet* D, std::vector<std::string>& Events) {
  D->BeforeOpen = [&Events](TDataSet*) { Events.push_back("before open"); };
  D->AfterOpen = [&Events](TDataSet*) { Events.push_back("after open"); };
  D->BeforeClose = [&Events](TDataSet*) { Events.push_back("before close"); };
  D->AfterClose = [&Events](TDataSet*) { Events.push_back("after close"); };
  D->AfterScroll = [&Events](TDataSet*) { Events.push_back("after scroll"); };
}

}  // namespace

TEST_F(AsaDatasetTest, DetailFollowsTheMasterWithoutClosingAndKeepsAssignedParameters) {
  Connect();
  Exec("create table c (id integer primary key, name varchar(10))");
  Exec("create table o (id integer primary key, cust integer, qty integer)");
  Exec("insert into c values (1, 'a'), (2, 'b'), (3, 'c')");
  Exec("insert into o values (10, 1, 1), (11, 1, 5), (12, 1, 7), (20, 2, 9), (21, 2, 1), (30, 3, 1)");
  Exec("commit");
  TAsaDataset* M = NewDataset("select id, name from c order by id");
  TDataSource Source(nullptr);
  Source.SetDataSet(M);
  TAsaDataset* D = NewDataset("select id, cust, qty from o where cust = :id and qty >= :minqty order by id");
  D->ParamByName("minqty")->SetAsInteger(2);
  D->SetDataSource(&Source);
  EXPECT_EQ(D->GetDataSource(), &Source);
  M->Open();
  D->Open();
  EXPECT_EQ(WalkForward(D), (std::vector<int>{11, 12}));

  std::vector<std::string> Events;
  Record(D, Events);
  M->Next();
  EXPECT_EQ(Events, (std::vector<std::string>{"after open", "after scroll"})) << "re-queried, not closed and opened";
  EXPECT_EQ(WalkForward(D), (std::vector<int>{20}));
  EXPECT_EQ(D->ParamByName("minqty")->GetAsInteger(), 2) << "the application's value stays";
  EXPECT_EQ(D->ParamByName("id")->GetAsInteger(), 2);
  EXPECT_FALSE(D->ParamByName("id")->GetValueAssigned()) << "still bound to the master";
  M->Next();
  EXPECT_TRUE(D->IsEmpty());
  M->First();
  EXPECT_EQ(WalkForward(D), (std::vector<int>{11, 12}));

  // A master that links back to its detail is refused.
  TDataSource DetailSource(nullptr);
  DetailSource.SetDataSet(D);
  EXPECT_THROW(M->SetDataSource(&DetailSource), EDatabaseError);
  EXPECT_EQ(M->GetDataSource(), nullptr);

  // A detail parameter the master has no field for fails the open.
  TAsaDataset* Bad = NewDataset("select id from o where cust = :nosuch");
  Bad->SetDataSource(&Source);
  EXPECT_THROW(Bad->Open(), EDatabaseError);
  EXPECT_FALSE(Bad->Active());
  D->SetDataSource(nullptr);
  Bad->SetDataSource(nullptr);
}

TEST_F(AsaDatasetTest, ProviderOperationsRunAgainstTheDatabase) {
  Connect();
  MakeNumbers(20);
  TAsaDataset* D = NewDataset("select id, v from n where id > :low order by v desc, id");
  D->ParamByName("low")->SetAsInteger(15);
  EXPECT_EQ(ZylPackHostVersion(), 5);
  EXPECT_TRUE(D->PSIsSQLBased());
  EXPECT_EQ(D->PSGetQuoteChar(), "\"");
  EXPECT_EQ(D->PSGetTableName(), "n");
  TParams* P = D->PSGetParams();
  ASSERT_EQ(P->Count(), 1);
  EXPECT_EQ(P->Items(0).Name, "low");
  EXPECT_EQ(P->Items(0).Value.AsInteger(), 15);
  D->Open();
  const std::unique_ptr<TIndexDef> Order = D->PSGetDefaultOrder();
  ASSERT_NE(Order, nullptr);
  EXPECT_EQ(Order->Fields, "id");
  EXPECT_EQ(Order->DescFields, "v");

  // Without a result set: the rows affected, nothing left behind.
  TParams Values;
  Values.CreateParam(ftString, "v", ptInput)->SetValue(Variant("x"));
  Values.CreateParam(ftInteger, "id", ptInput)->SetValue(Variant(5));
  EXPECT_EQ(D->PSExecuteStatement("update n set v = :v where id <= :id", &Values), 5);
  EXPECT_EQ(QueryText(*Session, "select count(*) from n where v = 'x'"), "5");
  // With one: an open data set the caller owns.
  TParams One;
  One.CreateParam(ftString, "v", ptInput)->SetValue(Variant("x"));
  TDataSet* Result = nullptr;
  D->PSExecuteStatement("select count(*) as c from n where v = :v", &One, &Result);
  ASSERT_NE(Result, nullptr);
  std::unique_ptr<TDataSet> Owned(Result);
  EXPECT_TRUE(Owned->Active());
  EXPECT_EQ(Owned->FieldByName("c").GetAsInteger(), 5);
  Owned.reset();
  EXPECT_THROW(D->PSExecuteStatement("select from nowhere", nullptr, &Result), EZyloDatasetError);

  // Transactions: rolled back on request, the session given back at the end.
  D->PSStartTransaction();
  EXPECT_TRUE(D->PSInTransaction());
  Exec("delete from n");
  D->PSEndTransaction(false);
  EXPECT_FALSE(D->PSInTransaction());
  EXPECT_EQ(QueryText(*Session, "select count(*) from n"), "20");
  EXPECT_FALSE(D->GetDBFlags().Contains(suProvider));

  // Updates go to the handler; only uaApplied counts as done.
  EXPECT_FALSE(D->PSUpdateRecord(ukModify, D));
  TUpdateKind Seen = ukInsert;
  D->OnUpdateRecord = [&Seen](TDataSet*, TUpdateKind Kind, TUpdateAction&) { Seen = Kind; };
  EXPECT_FALSE(D->PSUpdateRecord(ukDelete, D));
  EXPECT_EQ(Seen, ukDelete);
  D->OnUpdateRecord = [](TDataSet*, TUpdateKind, TUpdateAction& Action) { Action = uaApplied; };
  EXPECT_TRUE(D->PSUpdateRecord(ukModify, D));

  const EZyloDatasetError Failure("no such row", -100);
  const std::unique_ptr<EUpdateError> Wrapped = D->PSGetUpdateException(Failure, nullptr, nullptr);
  ASSERT_NE(Wrapped, nullptr);
  EXPECT_EQ(Wrapped->ErrorCode, -100);
  EXPECT_EQ(Wrapped->Message(), "no such row");

  // New parameters close the data set; the next open uses them.
  TParams Low;
  Low.CreateParam(ftInteger, "low", ptInput)->SetValue(Variant(18));
  D->PSSetParams(&Low);
  EXPECT_FALSE(D->Active());
  D->Open();
  EXPECT_EQ(WalkForward(D), (std::vector<int>{20, 19}));
}
