// The catalog routines over the screen's forms and data modules and a real database: sessions by
// database name (blank, duplicate, path and case), tables by creator, procedures, columns with
// and without an owner, the session held open only for the call, and a failing connect leaving
// the list empty and the session released.
#include <gtest/gtest.h>

#include "components/ZylAsaDS.h"
#include "design/ZylApp.h"
#include "design/ZylAsaEd.h"
#include "design/ZylParamEd.h"
#include "host/Forms.h"
#include "tests/asa/AsaStatementEnv.h"

namespace {

using zylasa::AsaSQLTest;

std::vector<std::string> Lines(const TStrings& L) {
  std::vector<std::string> R;
  for (int I = 0; I < L.Count(); ++I) R.push_back(L[I]);
  return R;
}

class CatalogTest : public AsaSQLTest {
 protected:
  void TearDown() override {
    delete Module;  // its sessions disconnect before the engine stops
    delete Form;
    AsaSQLTest::TearDown();
  }

  // A session owned by Owner on the test's database (not connected), as a form would hold it.
  TAsaSession* PlaceSession(TComponent* Owner, const std::string& LoginDatabase) {
    auto* S = new TAsaSession(Owner);
    S->SetLibraryPath(zylasa::LibDir());
    S->SetLibraryFile("dblib10.dll");
    S->SetLoginDatabase(LoginDatabase);
    S->SetLoginEngineName(Engine);
    S->SetClientParams(Links.empty() ? "dbf=" + File : Links);
    S->SetLoginUser("dba");
    S->SetLoginPassword("sql");
    S->SetKeepConnection(false);
    return S;
  }

  TDataModule* Module = nullptr;
  TForm* Form = nullptr;
};

TEST_F(CatalogTest, SessionsAreFoundByDatabaseNameOnFormsAndDataModules) {
  Form = new TForm(nullptr);
  Module = new TDataModule(nullptr);
  PlaceSession(Form, "   ");                                    // blank: neither listed nor found
  TAsaSession* First = PlaceSession(Form, "/data/shop/Sample.db");
  TAsaSession* Second = PlaceSession(Module, "sample");          // same name: the first one stays
  TAsaSession* Other = PlaceSession(Module, "orders.db");

  TStringList Names;
  Names.Add("stale");
  ZylGetDatabaseNames(&Names);
  EXPECT_EQ(Lines(Names), (std::vector<std::string>{"orders", "Sample"}));
  EXPECT_EQ(Names.Objects(1), First);

  EXPECT_EQ(ZylFindDatabase("SAMPLE"), First);
  EXPECT_EQ(ZylFindDatabase("c:\\elsewhere\\sample.DB"), First);
  EXPECT_EQ(ZylFindDatabase("orders"), Other);
  EXPECT_EQ(ZylFindDatabase(""), nullptr);
  EXPECT_EQ(ZylFindDatabase("missing"), nullptr);
  (void)Second;

  // A session that goes away leaves the list with its owner.
  delete Form;
  Form = nullptr;
  EXPECT_EQ(ZylFindDatabase("sample"), Second);
}

TEST_F(CatalogTest, TablesProceduresAndColumnsComeFromTheConnectedDatabase) {
  ASSERT_NO_FATAL_FAILURE(Connect("dblib10.dll", "catalog"));
  Exec("create table orders (id integer primary key, qty integer, note varchar(20))");
  Exec("create table customers (id integer primary key, name varchar(30))");
  Exec("create view big_orders as select * from orders where qty > 10");
  Exec("create procedure order_count() begin select count(*) from orders; end");
  Exec("grant connect to joe identified by 'pw'");
  Exec("create table joe.notes (id integer, body varchar(10))");
  Exec("commit");

  Module = new TDataModule(nullptr);
  TAsaSession* S = PlaceSession(Module, File);
  const TMetaClass& DS = TAsaDataset::StaticClass();
  const std::string Db = "catalog";

  TStringList L;
  ZylGetTableNames(Db, true, true, &L, DS);
  auto All = Lines(L);
  EXPECT_NE(std::find(All.begin(), All.end(), "DBA.customers"), All.end()) << L.GetText();
  EXPECT_NE(std::find(All.begin(), All.end(), "joe.notes"), All.end()) << L.GetText();
  EXPECT_EQ(std::find(All.begin(), All.end(), "DBA.big_orders"), All.end()) << "views are not base tables";
  EXPECT_TRUE(std::is_sorted(All.begin(), All.end(), [](auto& A, auto& B) { return AnsiCompareText(A, B) < 0; }));

  ZylGetTableNames(Db, false, false, &L, DS);
  auto Own = Lines(L);
  EXPECT_NE(std::find(Own.begin(), Own.end(), "orders"), Own.end());
  EXPECT_EQ(std::find(Own.begin(), Own.end(), "notes"), Own.end()) << "only tables of user id 1";
  EXPECT_FALSE(S->GetConnected()) << "the call connects the session only while it runs";

  ZylGetStoredProcNames(Db, true, &L, DS);
  auto Procs = Lines(L);
  EXPECT_NE(std::find(Procs.begin(), Procs.end(), "DBA.order_count"), Procs.end()) << L.GetText();

  ZylGetFieldNames(Db, "orders", &L, DS);
  EXPECT_EQ(Lines(L), (std::vector<std::string>{"id", "qty", "note"}));
  ZylGetFieldNames(Db, "  joe . notes", &L, DS);  // blanks around the owner do not count
  EXPECT_EQ(Lines(L), (std::vector<std::string>{}));  // ...but those around the table do
  ZylGetFieldNames(Db, "  joe .notes", &L, DS);
  EXPECT_EQ(Lines(L), (std::vector<std::string>{"id", "body"}));
  ZylGetFieldNames(Db, "joe.orders", &L, DS);
  EXPECT_EQ(L.Count(), 0) << "the owner narrows the table";
  ZylGetFieldNames(Db, "dba.", &L, DS);
  EXPECT_EQ(L.Count(), 0);
  ZylGetFieldNames("nowhere", "orders", &L, DS);
  EXPECT_EQ(L.Count(), 0) << "no session is not an error";
  EXPECT_FALSE(S->GetConnected());

  // A session that keeps its connection and was connected before stays connected.
  S->SetKeepConnection(true);
  S->Open();
  ZylGetStoredProcNames(Db, false, &L, DS);
  EXPECT_TRUE(S->GetConnected());
  EXPECT_EQ(S->DataSetCount(), 0);
}

// The stored procedure's editors on a real database: names listed from its catalog, parameters
// copied from it into the dialog, OK assigning them back and Cancel leaving the procedure alone.
TEST_F(CatalogTest, StoredProcedureEditorsReadTheDatabase) {
  ASSERT_NO_FATAL_FAILURE(Connect("dblib10.dll", "procs"));
  Exec("create procedure order_count(IN cust integer, OUT n integer) begin set n = cust * 2; end");
  Exec("create procedure zeta() begin select 1; end");
  Exec("commit");
  ClearDesignRegistry();
  ZylPackRegister();
  ZylSaRegister();
  Module = new TDataModule(nullptr);
  TAsaSession* S = PlaceSession(Module, File);
  auto* Proc = new TAsaStoredProc(Module);
  Proc->SetSession(S);
  TDesigner Designer(Module);

  std::vector<std::string> Names = Designer.GetPropertyEditor({Proc}, "StoredProcName")->ValueList();
  EXPECT_NE(std::find(Names.begin(), Names.end(), "DBA.order_count"), Names.end());
  EXPECT_NE(std::find(Names.begin(), Names.end(), "DBA.zeta"), Names.end());
  EXPECT_TRUE(std::is_sorted(Names.begin(), Names.end(), [](auto& A, auto& B) { return AnsiCompareText(A, B) < 0; }));
  Designer.GetPropertyEditor({Proc}, "StoredProcName")->SetValue("DBA.order_count");
  EXPECT_EQ(Proc->GetStoredProcName(), "DBA.order_count");

  auto Run = [&](bool Ok) {
    TModalRunner Old = SetModalRunner([&](TCustomForm& F) {
      auto& D = dynamic_cast<TZyloProcParamsDlg&>(F);
      EXPECT_EQ(D.lbParamNames->Items().GetCommaText(), "cust,n");
      EXPECT_FALSE(D.btnNew->Enabled) << "a named procedure's parameters come from the server";
      EXPECT_EQ(D.cbParamType->Text(), "Input");
      D.edParamValue->SetFocus();
      D.edParamValue->TypeText("21");
      D.lbParamNames->Pick(1);
      EXPECT_EQ(D.cbParamType->Text(), "Output");
      EXPECT_FALSE(D.edParamValue->Enabled);
      (Ok ? D.btnOK : D.btnCancel)->Click();
    });
    EXPECT_TRUE(Designer.EditProperty(Proc, "Params"));
    SetModalRunner(std::move(Old));
  };
  Run(false);
  ASSERT_EQ(Proc->GetParamsCount(), 2) << "the catalog's parameters stay with the procedure";
  EXPECT_FALSE(Proc->ParamByName("cust")->GetValueAssigned());
  EXPECT_EQ(Designer.ModifiedCount(), 1);  // the name set above
  Run(true);
  EXPECT_EQ(Designer.ModifiedCount(), 2);
  EXPECT_EQ(Proc->ParamByName("cust")->GetAsInteger(), 21);
  Proc->ExecProc();
  EXPECT_EQ(Proc->ParamByName("n")->GetAsInteger(), 42);
  EXPECT_FALSE(Proc->GetPrepared());
}

TEST_F(CatalogTest, AFailingConnectPropagatesAndLeavesNothingBehind) {
  ASSERT_NO_FATAL_FAILURE(Connect("dblib10.dll", "failing"));
  Module = new TDataModule(nullptr);
  TAsaSession* S = PlaceSession(Module, File);
  S->SetLoginPassword("wrong");
  S->SetWantExceptions(true);
  TStringList L;
  L.Add("old");
  EXPECT_THROW(ZylGetTableNames("failing", true, true, &L, TAsaDataset::StaticClass()), Exception);
  EXPECT_EQ(L.Count(), 0);
  EXPECT_EQ(L.UpdateCount(), 0);
  EXPECT_FALSE(S->GetConnected());
  // The data set class must be one.
  S->SetLoginPassword("sql");
  EXPECT_THROW(ZylGetTableNames("failing", true, true, &L, TAsaSession::StaticClass()), EInvalidOperation);
  EXPECT_FALSE(S->GetConnected());
}

}  // namespace
