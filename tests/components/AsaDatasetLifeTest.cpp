// TAsaDataset's life cycle on a real database: parameters reaching the server, session use by
// reason, explicit and implicit prepare, the query text, a statement or session closing under an
// open data set, errors, further result sets, ExecSQL and the stored text form.
#include <algorithm>

#include "tests/components/AsaDatasetEnv.h"

using namespace zylasa;

TEST_F(AsaDatasetTest, ParametersReachTheServerAndARepeatedNameUsesItsFirstValue) {
  Connect();
  MakeNumbers(50);
  TAsaDataset* D = NewDataset("select id from n where id between :lo and :hi or id = :lo - 1 order by id");
  ASSERT_EQ(D->GetParamsCount(), 3);
  D->ParamByName("LO")->SetAsInteger(10);
  D->ParamByName("hi")->SetAsString("12");
  EXPECT_EQ(D->GetParams()->GetParam(2), D->GetParams()->Items(0)) << "the second :lo is the first";
  D->Open();
  EXPECT_EQ(WalkForward(D), (std::vector<int>{9, 10, 11, 12}));
  D->Close();

  D->ParamByName("lo")->Clear();
  D->Open();
  EXPECT_TRUE(D->IsEmpty()) << "a NULL parameter matches nothing";
}

TEST_F(AsaDatasetTest, TwoDataSetsHoldTheSessionOnceEachAndKeepConnectionFalseLetsItGo) {
  Connect();
  MakeNumbers(5);
  TAsaDataset* A = NewDataset("select id from n");
  TAsaDataset* B = NewDataset("select v from n");
  Session->Close();
  Session->SetKeepConnection(false);
  A->Open();
  EXPECT_TRUE(Session->GetConnected()) << "the first use connects";
  EXPECT_EQ(Session->GetOpenCount(), 1);
  B->Open();
  EXPECT_EQ(Session->GetOpenCount(), 2);
  EXPECT_EQ(Session->DataSetCount(), 2);
  A->Close();
  EXPECT_EQ(Session->GetOpenCount(), 1);
  EXPECT_TRUE(Session->GetConnected());
  B->Close();
  EXPECT_EQ(Session->GetOpenCount(), 0);
  EXPECT_FALSE(Session->GetConnected()) << "the last user gone, the connection goes";
  EXPECT_TRUE(A->GetDBFlags().Empty());
}

TEST_F(AsaDatasetTest, ExplicitPrepareOutlivesCloseAndImplicitOneDoesNot) {
  Connect();
  MakeNumbers(5);
  TAsaDataset* D = NewDataset("select id from n");
  D->Open();
  EXPECT_TRUE(D->GetPrepared());
  D->Close();
  EXPECT_FALSE(D->GetPrepared());
  EXPECT_FALSE(D->GetStatement()->GetPrepared());
  EXPECT_EQ(Session->GetOpenCount(), 0);

  D->Prepare();
  EXPECT_EQ(Session->GetOpenCount(), 1);
  D->Open();
  D->Close();
  EXPECT_TRUE(D->GetPrepared());
  EXPECT_TRUE(D->GetStatement()->GetPrepared());
  EXPECT_THROW(D->SetReadOnly(false), EDatabaseError) << "only while unprepared";
  EXPECT_THROW(D->SetSession(nullptr), EDatabaseError);
  D->UnPrepare();
  EXPECT_FALSE(D->GetStatement()->GetPrepared());
  EXPECT_EQ(Session->GetOpenCount(), 0);
  D->SetReadOnly(false);
  D->Open();
  EXPECT_FALSE(D->GetStatement()->GetReadOnly()) << "a data set that can modify opens for update";
  EXPECT_TRUE(D->CanModify());
}

TEST_F(AsaDatasetTest, QueryTextChangesFollowTheParameterRules) {
  Connect();
  MakeNumbers(5);
  TAsaDataset* D = NewDataset("select id from n where id > :a ;; ");
  D->ParamByName("a")->SetAsInteger(3);
  D->Open();
  EXPECT_EQ(D->GetStatement()->GetOpenSQL(), "select id from n where id > :a ") << "the semicolons go, the blank before them stays";
  TStringList Same;
  Same.SetText(D->GetSQL()->GetText());
  D->SetQuery(&Same);
  EXPECT_TRUE(D->Active()) << "the same text does not close";

  D->GetSQL()->SetText("select id from n where id > :a and id < :b");
  EXPECT_FALSE(D->Active()) << "another text disconnects";
  ASSERT_EQ(D->GetParamsCount(), 2);
  EXPECT_EQ(D->ParamByName("a")->GetAsInteger(), 3) << "the value of a same-named parameter stays";
  EXPECT_FALSE(D->ParamByName("b")->GetValueAssigned());

  D->SetParamCheck(false);
  D->GetSQL()->SetText("select id from n where id = :c");
  EXPECT_EQ(D->GetParamsCount(), 2) << "without ParamCheck the list stays";
  D->ResetParamsList();
  ASSERT_EQ(D->GetParamsCount(), 1);
  EXPECT_EQ(D->GetParams()->Items(0)->GetName(), "c");
}

TEST_F(AsaDatasetTest, SessionDisconnectingUnderAnOpenDataSetClosesAndUnpreparesIt) {
  Connect();
  MakeNumbers(5);
  TAsaDataset* D = NewDataset("select id from n");
  TDataSource Source(nullptr);
  Source.SetDataSet(D);
  D->Open();
  ASSERT_EQ(Source.State(), dsBrowse);
  Session->Close();
  EXPECT_FALSE(D->Active());
  EXPECT_EQ(Source.State(), dsInactive) << "its data sources are told";
  EXPECT_FALSE(D->GetPrepared());
  EXPECT_TRUE(D->GetDBFlags().Empty());
  D->Open();  // takes the session again, which connects
  EXPECT_TRUE(Session->GetConnected());
  EXPECT_EQ(Id(D), 1);

  // The same with KeepConnection false: the data set gives the session back from inside Close.
  D->Close();
  D->Prepare();
  D->Open();
  Session->SetKeepConnection(false);
  Session->Close();
  EXPECT_FALSE(Session->GetConnected());
  EXPECT_FALSE(D->Active());
  EXPECT_FALSE(D->GetPrepared());
  EXPECT_EQ(Session->GetOpenCount(), 0);
}

TEST_F(AsaDatasetTest, StatementClosedOrUnpreparedFromOutsideIsEchoed) {
  Connect();
  MakeNumbers(5);
  TAsaDataset* D = NewDataset("select id from n");
  std::vector<std::string> Events;
  D->AfterClose = [&](TDataSet*) { Events.push_back("AfterClose"); };
  D->Open();
  D->GetStatement()->Close();
  EXPECT_FALSE(D->Active());
  EXPECT_EQ(Events, std::vector<std::string>{"AfterClose"});

  D->Prepare();
  D->GetStatement()->Unprepare();
  EXPECT_FALSE(D->GetPrepared());
  EXPECT_TRUE(D->GetDBFlags().Empty());
  EXPECT_EQ(Session->GetOpenCount(), 0);
}

TEST_F(AsaDatasetTest, ErrorsReachTheApplicationWithTheServersCodeAndText) {
  Connect();
  MakeNumbers(5);
  TAsaDataset* D = NewDataset("select id from nowhere");
  try {
    D->Open();
    FAIL() << "opened";
  } catch (const EZyloDatasetError& E) {
    EXPECT_LT(E.GetErrorCode(), 0);
    EXPECT_EQ(E.Message(), Session->GetLastError());
    EXPECT_NE(E.Message().find("nowhere"), AnsiString::npos) << E.Message();
  }
  EXPECT_FALSE(D->Active());
  EXPECT_TRUE(D->GetDBFlags().Empty()) << "a failed open holds nothing";
  EXPECT_EQ(Session->GetOpenCount(), 0);

  D->GetSQL()->Clear();
  try {
    D->Open();
    FAIL() << "opened";
  } catch (const EDatabaseError& E) {
    EXPECT_EQ(E.Message(), "No SQL statement available");
  }
  TAsaDataset* Lone = NewDataset("select 1");
  Lone->SetSession(nullptr);
  try {
    Lone->Open();
    FAIL() << "opened";
  } catch (const EZyloException& E) {
    EXPECT_EQ(E.Message(), "The session property is not linked to a session");
    EXPECT_EQ(E.GetErrorCode(), 0);
  }
}

TEST_F(AsaDatasetTest, ResumeReopensOnTheNextResultReadOnlyAndDisconnectsAtTheEnd) {
  Connect();
  MakeNumbers(5);
  Exec("create procedure two() begin select id from n where id <= 2 order by id; "
       "select v from n where id > 3 order by id; end");
  TAsaDataset* D = NewDataset("call two()");
  D->SetReadOnly(false);
  D->Open();
  EXPECT_EQ(WalkForward(D), (std::vector<int>{1, 2}));
  EXPECT_TRUE(D->GetStillInProc());
  D->Resume();
  EXPECT_TRUE(D->Active());
  EXPECT_TRUE(D->GetResumed());
  EXPECT_FALSE(D->CanModify()) << "a further result set is read-only";
  ASSERT_NE(D->FindField("v"), nullptr);
  EXPECT_EQ(D->FieldByName("v").GetAsString(), "r4");
  D->Next();
  EXPECT_EQ(D->FieldByName("v").GetAsString(), "r5");
  D->Resume();
  EXPECT_FALSE(D->Active()) << "no result left: disconnected";
  EXPECT_FALSE(D->GetPrepared());
  try {
    D->Resume();
    FAIL() << "resumed";
  } catch (const EDatabaseError& E) {
    EXPECT_EQ(E.Message(), "The Stored Procedure has completed");
  }
}

TEST_F(AsaDatasetTest, ExecSQLRunsWithParametersAndGivesTheSessionBack) {
  Connect();
  MakeNumbers(20);
  TAsaDataset* D = NewDataset("delete from n where id > :keep");
  D->ParamByName("keep")->SetAsInteger(15);
  D->ExecSQL();
  EXPECT_EQ(D->GetRowsAffected(), 5);
  EXPECT_TRUE(D->GetDBFlags().Empty());
  EXPECT_FALSE(D->GetPrepared());
  EXPECT_EQ(QueryText(*Session, "select count(*) from n"), "15");
}

TEST_F(AsaDatasetTest, DataSetWithParametersStreamsThroughTheTextFormAndBack) {
  Connect();
  auto* D = new TAsaDataset(nullptr);
  D->SetName("Query1");
  D->GetSQL()->SetText("select * from t where a = :a and b = :b and c = :c and ratio::real > 0");
  D->ParamByName("a")->SetAsInteger(-7);
  D->ParamByName("b")->SetAsString("it's");
  D->ParamByName("c")->SetAsDateTime(EncodeDateTime(2024, 2, 29, 12, 30, 0, 250));
  D->ParamByName("c")->SetParamType(zptInput);
  D->SetReadOnly(false);
  D->SetCursorType(actInsensitive);
  const AnsiString Text = ComponentToText(D);
  EXPECT_NE(Text.find("Params.Data = {"), AnsiString::npos) << Text;

  std::unique_ptr<TComponent> Read(TextToComponent(Text));
  auto* Back = dynamic_cast<TAsaDataset*>(Read.get());
  ASSERT_NE(Back, nullptr);
  EXPECT_TRUE(Back->GetParams()->IsEqual(D->GetParams()));
  EXPECT_EQ(Back->GetSQL()->GetText(), D->GetSQL()->GetText());
  EXPECT_EQ(Back->GetText(), D->GetText()) << "the doubled colon is read as one, as when it was typed";
  EXPECT_FALSE(Back->GetReadOnly());
  EXPECT_EQ(Back->GetCursorType(), actInsensitive);
  EXPECT_EQ(ComponentToText(Back), Text);
  delete D;
}

TEST(AsaDatasetValues, ParameterValuesGoOutPerOccurrenceWithoutOutputsAndWithNulls) {
  TAsaDataset D(nullptr);
  D.GetSQL()->SetText("select * from t where a = :a and b = :b and c = :c and d = :A");
  D.ParamByName("a")->SetAsInteger(1);
  D.ParamByName("b")->SetAsBinary(AnsiString("\x00\x07", 2));
  D.ParamByName("c")->SetParamType(zptOutput);
  Variant Values;
  D.GetParamValues(Values);
  ASSERT_EQ(Values.ElementCount(), 3) << "the output parameter is not sent";
  EXPECT_EQ(Values.GetElement(0).AsInteger(), 1);
  EXPECT_EQ(VarArrayToBytes(Values.GetElement(1)), (std::vector<uint8_t>{0, 7})) << "binary as bytes";
  EXPECT_EQ(Values.GetElement(2).AsInteger(), 1) << "the second :a carries the first one's value";
  D.ParamByName("a")->Clear();
  D.GetParamValues(Values);
  EXPECT_TRUE(Values.GetElement(0).IsNull());
  EXPECT_TRUE(Values.GetElement(2).IsNull());

  D.GetSQL()->SetText("select 1");
  D.GetParamValues(Values);
  EXPECT_TRUE(Values.IsNull()) << "no parameters: Null";
}

TEST_F(AsaDatasetTest, PrimaryKeyQueryFindsTheKeyColumnsInTheCatalog) {
  Connect();
  Exec("create table k (a integer, b varchar(5), c integer, primary key (c, a))");
  TAsaDataset* D = NewDataset();
  AnsiString Sql;
  D->QueryUniqueFields(Sql);
  TAsaDataset* Keys = NewDataset(Sql);
  Keys->ParamByName("table_name")->SetAsString("k");
  Keys->Open();
  std::vector<std::string> Names;
  for (; !Keys->Eof(); Keys->Next()) Names.push_back(TrimRight(Keys->FieldByName("column_name").GetAsString()));
  std::sort(Names.begin(), Names.end());
  EXPECT_EQ(Names, (std::vector<std::string>{"a", "c"}));
}

TEST_F(AsaDatasetTest, SessionDestroyedFirstLeavesTheDataSetClosedAndUnlinked) {
  Connect();
  MakeNumbers(3);
  TAsaDataset* D = NewDataset("select id from n");
  D->Open();
  TAsaSession* Gone = Session.get();
  StopEngine(*Gone, Engine);
  Session.reset();
  EXPECT_FALSE(D->Active());
  EXPECT_EQ(D->GetSession(), nullptr);
  EXPECT_THROW(D->Open(), EZyloException) << "no session any more";
}
