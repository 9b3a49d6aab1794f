// TAsaStoredProc on a real database: parameters discovered from the catalog for every direction
// and type, the generated call, ExecProc with inputs sent and outputs and a function's result copied
// back, result sets opened and resumed to the end, late description, owners, CopyParams, the
// stored form, and every failure the component reports itself.
#include <memory>
#include <string>
#include <vector>

#include "tests/components/AsaDatasetEnv.h"

using namespace zylasa;

namespace {

class AsaStoredProcTest : public AsaDatasetTest {
 protected:
  void TearDown() override {
    Procs.clear();
    AsaDatasetTest::TearDown();
  }

  TAsaStoredProc* NewProc(const std::string& Name = std::string()) {
    Procs.push_back(std::make_unique<TAsaStoredProc>(nullptr));
    TAsaStoredProc* P = Procs.back().get();
    P->SetSession(Session.get());
    if (!Name.empty()) P->SetProcName(Name);
    return P;
  }

  // "name direction type" for each parameter, in order.
  static std::vector<std::string> Shape(TZyloDataset* D) {
    static const char* const Directions[] = {"?", "in", "inout", "out", "result"};
    static const char* const Types[] = {"unknown", "string", "integer", "int64", "float",  "currency", "date",
                                        "time",    "datetime", "boolean", "binary", "memo", "blob"};
    std::vector<std::string> R;
    for (int32_t I = 0; I < D->GetParams()->Count(); ++I) {
      const TZyloParam* P = D->GetParams()->Items(I);
      R.push_back(P->GetName() + " " + Directions[P->GetParamType()] + " " + Types[P->GetDataType()]);
    }
    return R;
  }

  template <class F>
  static std::string MessageOf(F&& Action) {
    try {
      Action();
    } catch (const Exception& E) {
      return E.Message();
    }
    return "(no error)";
  }

  std::vector<std::unique_ptr<TAsaStoredProc>> Procs;
};

}  // namespace

TEST_F(AsaStoredProcTest, CatalogGivesEveryDirectionAndTypeAndTheCallIsBuiltFromIt) {
  Connect();
  Exec("create procedure sp_types(in p_int integer, in p_small smallint, in p_tiny tinyint, in p_big bigint, "
       "in p_ubig unsigned bigint, in p_uint unsigned int, in p_dbl double, in p_real real, in p_num numeric(10,2), "
       "in p_dec decimal(8,3), out p_date date, out p_time time, out p_ts timestamp, inout p_bit bit, "
       "inout p_char char(10), inout p_vc varchar(20), in p_long long varchar, in p_bin binary(8), "
       "in p_vbin varbinary(8), in p_lbin long binary) result (r1 integer, r2 varchar(5)) "
       "begin select 1, 'x'; end");
  TAsaStoredProc* P = NewProc("sp_types");
  EXPECT_EQ(P->GetParamsCount(), 0) << "nothing is looked up before the first prepare";
  P->Prepare();
  EXPECT_EQ(Shape(P), (std::vector<std::string>{
                          "p_int in integer", "p_small in integer", "p_tiny in integer", "p_big in int64",
                          "p_ubig in int64", "p_uint in integer", "p_dbl in float", "p_real in float",
                          "p_num in float", "p_dec in float", "p_date out date", "p_time out time",
                          "p_ts out datetime", "p_bit inout boolean", "p_char inout string", "p_vc inout string",
                          "p_long in memo", "p_bin in binary", "p_vbin in binary", "p_lbin in blob"}));
  EXPECT_EQ(TrimRight(P->GetText()),
            "call sp_types(:p_int,:p_small,:p_tiny,:p_big,:p_ubig,:p_uint,:p_dbl,:p_real,:p_num,:p_dec,:p_date,"
            ":p_time,:p_ts,:p_bit,:p_char,:p_vc,:p_long,:p_bin,:p_vbin,:p_lbin)");
  P->UnPrepare();

  Exec("create procedure sp_none() begin end");
  TAsaStoredProc* None = NewProc("sp_none");
  None->Prepare();
  EXPECT_EQ(None->GetParamsCount(), 0);
  EXPECT_EQ(TrimRight(None->GetText()), "call sp_none()");

  // Parameters the catalog names with an at sign are called without it.
  Exec("create procedure sp_at(in @a integer, out @b integer) begin set @b = @a + 1; end");
  TAsaStoredProc* At = NewProc("sp_at");
  At->Prepare();
  EXPECT_EQ(Shape(At), (std::vector<std::string>{"@a in integer", "@b out integer"}));
  EXPECT_EQ(TrimRight(At->GetText()), "call sp_at(:a,:b)");
  At->ParamByName("@a")->SetAsInteger(41);
  At->ExecProc();
  EXPECT_EQ(At->ParamByName("@b")->GetAsInteger(), 42);
}

TEST_F(AsaStoredProcTest, ExecProcSendsInputsAndCopiesOutputsAndAFunctionResultBack) {
  Connect();
  Exec("create procedure sp_echo(in i integer, in b bigint, in d double, in dt date, in t time, in ts timestamp, "
       "in f bit, in s varchar(20), in bin varbinary(8), out o_i integer, out o_b bigint, out o_d double, "
       "out o_dt date, out o_t time, out o_ts timestamp, out o_f bit, out o_s varchar(20), out o_bin varbinary(8), "
       "inout io integer, out o_null integer) begin "
       "set o_i = i + 1; set o_b = b * 2; set o_d = d / 4; set o_dt = dt; set o_t = t; set o_ts = ts; "
       "set o_f = f; set o_s = s || '!'; set o_bin = bin; set io = io * 3; set o_null = null; end");
  TAsaStoredProc* P = NewProc("sp_echo");
  P->Prepare();
  P->ParamByName("i")->SetAsInteger(-41);
  P->ParamByName("b")->SetAsFloat(1099511627777.0);
  P->ParamByName("d")->SetAsFloat(10.5);
  P->ParamByName("dt")->SetAsDate(EncodeDate(2024, 2, 29));
  P->ParamByName("t")->SetAsTime(EncodeTime(23, 59, 58, 500));
  P->ParamByName("ts")->SetAsDateTime(EncodeDateTime(1999, 12, 31, 12, 0, 1, 0));
  P->ParamByName("f")->SetAsBoolean(true);
  P->ParamByName("s")->SetAsString("it's");
  P->ParamByName("bin")->SetAsBinary(AnsiString("\x00\xff\x01", 3));
  P->ParamByName("io")->SetAsInteger(7);
  P->ParamByName("o_null")->SetAsInteger(5);
  P->ExecProc();
  EXPECT_EQ(P->ParamByName("o_i")->GetAsInteger(), -40);
  EXPECT_EQ(P->ParamByName("o_b")->GetAsString(), "2199023255554");
  EXPECT_DOUBLE_EQ(P->ParamByName("o_d")->GetAsFloat(), 2.625);
  EXPECT_EQ(P->ParamByName("o_dt")->GetAsDateTime(), EncodeDate(2024, 2, 29));
  EXPECT_EQ(P->ParamByName("o_dt")->GetDataType(), ztDateTime) << "the date came back as a date-time value";
  EXPECT_NEAR(P->ParamByName("o_t")->GetAsDateTime(), EncodeTime(23, 59, 58, 500), 1e-9);
  EXPECT_NEAR(P->ParamByName("o_ts")->GetAsDateTime(), EncodeDateTime(1999, 12, 31, 12, 0, 1, 0), 1e-9);
  EXPECT_TRUE(P->ParamByName("o_f")->GetAsBoolean());
  EXPECT_EQ(P->ParamByName("o_s")->GetAsString(), "it's!");
  EXPECT_EQ(VarArrayToBytes(P->ParamByName("o_bin")->GetAsVariant()), (std::vector<uint8_t>{0, 0xff, 1}));
  EXPECT_EQ(P->ParamByName("io")->GetAsInteger(), 21);
  EXPECT_TRUE(P->ParamByName("o_null")->GetIsNull());
  EXPECT_EQ(P->ParamByName("o_null")->GetDataType(), ztInteger) << "a NULL output keeps the declared type";
  EXPECT_EQ(P->ParamByName("i")->GetAsInteger(), -41) << "inputs stay as they were";
  EXPECT_TRUE(P->GetPrepared()) << "Prepare holds the call across ExecProc";
  P->ExecProc();
  EXPECT_EQ(P->ParamByName("io")->GetAsInteger(), 63) << "the inout value went out again";
  P->UnPrepare();
  EXPECT_EQ(Session->GetOpenCount(), 0);

  Exec("create function fn_scale(in x integer, in factor double default 2) returns double begin "
       "return x * factor; end");
  TAsaStoredProc* F = NewProc("fn_scale");
  F->Prepare();
  EXPECT_EQ(Shape(F), (std::vector<std::string>{"fn_scale result float", "x in integer", "factor in float"}));
  EXPECT_EQ(TrimRight(F->GetText()), ":fn_scale = call fn_scale(:x,:factor)");
  F->UnPrepare();
  F->ParamByName("x")->SetAsInteger(21);
  F->ParamByName("factor")->SetAsFloat(0.5);
  F->ExecProc();
  EXPECT_DOUBLE_EQ(F->ParamByName("fn_scale")->GetAsFloat(), 10.5);
  EXPECT_FALSE(F->GetPrepared()) << "ExecProc alone prepares for its own run";
  EXPECT_TRUE(F->GetDBFlags().Empty());
  EXPECT_EQ(Session->GetOpenCount(), 0);
}

namespace {

// A binding that makes no call text.
class TShortCallProc : public TAsaStoredProc {
 public:
  using TAsaStoredProc::TAsaStoredProc;
  void BuildSPCallStatement(const AnsiString&, const AnsiString&) override {}
};

}  // namespace

TEST_F(AsaStoredProcTest, EveryFailureItReportsItselfHasItsMessageAndHoldsNothing) {
  Connect();
  Exec("create procedure sp_two() begin select 1 as a; select 'b' as b; end");
  Exec("create procedure sp_one(in a integer) begin end");
  TAsaStoredProc* P = NewProc();
  EXPECT_EQ(MessageOf([&] { P->Open(); }), "Empty or missing Stored Procedure name");
  EXPECT_EQ(MessageOf([&] { P->ExecProc(); }), "Empty or missing Stored Procedure name");
  EXPECT_TRUE(P->GetDBFlags().Empty());

  P->SetProcName("sp_one");
  TZyloParam* A = P->GetParams()->CreateParam("a");
  A->SetAlias("@a");
  EXPECT_EQ(MessageOf([&] { P->ExecProc(); }), "No parameter type for parameter '@a'");
  A->SetParamType(zptInput);
  for (const char* Name : {"r1", "r2"}) P->GetParams()->CreateParam(Name)->SetParamType(zptResult);
  EXPECT_EQ(MessageOf([&] { P->ExecProc(); }), "Too many Stored Function result parameters");
  EXPECT_TRUE(P->GetDBFlags().Empty());
  EXPECT_FALSE(P->GetPrepared());
  EXPECT_EQ(Session->GetOpenCount(), 0);

  P->SetProcName("sp_two");
  P->Open();
  EXPECT_EQ(MessageOf([&] { P->Refresh(); }), "Cannot perform this operation on a Stored Procedure");
  P->Resume();
  EXPECT_EQ(P->FieldByName("b").GetAsString(), "b");
  P->Resume();
  EXPECT_FALSE(P->Active());
  EXPECT_EQ(MessageOf([&] { P->Resume(); }), "The Stored Procedure has completed");

  Procs.push_back(std::make_unique<TShortCallProc>(nullptr));
  TAsaStoredProc* Short = Procs.back().get();
  Short->SetSession(Session.get());
  Short->SetProcName("sp_two");
  EXPECT_EQ(MessageOf([&] { Short->ExecProc(); }), "No SQL statement available");

  // The server's own refusal comes with its code.
  TAsaStoredProc* Missing = NewProc("sp_nowhere");
  try {
    Missing->ExecProc();
    FAIL() << "a missing procedure ran";
  } catch (const EZyloDatasetError& E) {
    EXPECT_EQ(E.GetErrorCode(), -265) << E.Message();
  }
  EXPECT_TRUE(Missing->GetDBFlags().Empty());
  EXPECT_EQ(Session->GetOpenCount(), 0);
}

TEST_F(AsaStoredProcTest, OwnersAreLookedUpWithoutTheirBlanksAndCannotBreakTheCatalogQuery) {
  Connect();
  Exec("grant connect to sales identified by pw");
  Exec("create procedure sales.sp_same(in a integer, out r varchar(20)) begin set r = 'sales ' || a; end");
  Exec("create procedure dba.sp_same(out r varchar(20), in a integer) begin set r = 'dba ' || a; end");
  TAsaStoredProc* S = NewProc("  sales . sp_same  ");
  EXPECT_EQ(S->GetStoredProcName(), "sales . sp_same");
  S->Prepare();
  EXPECT_EQ(Shape(S), (std::vector<std::string>{"a in integer", "r out string"}));
  EXPECT_EQ(TrimRight(S->GetText()), "call sales . sp_same(:a,:r)");
  S->ParamByName("a")->SetAsInteger(1);
  S->ExecProc();
  EXPECT_EQ(S->ParamByName("r")->GetAsString(), "sales 1");

  TAsaStoredProc* D = NewProc("DBA.sp_same");
  D->Prepare();
  EXPECT_EQ(Shape(D), (std::vector<std::string>{"r out string", "a in integer"}));
  D->ParamByName("a")->SetAsInteger(2);
  D->ExecProc();
  EXPECT_EQ(D->ParamByName("r")->GetAsString(), "dba 2");

  // The owner is a literal of the catalog query: a quote in it cannot widen the search.
  TAsaStoredProc* Sly = NewProc("x' or '1'='1.sp_same");
  TZyloParams Found;
  Sly->CopyParams(&Found);
  EXPECT_EQ(Found.Count(), 0);
  EXPECT_FALSE(Sly->SPNeedsLateDescribe());
}

TEST_F(AsaStoredProcTest, CopyParamsAskTheCatalogOnceAndSettingParamsRegeneratesTheCall) {
  Connect();
  Exec("create procedure sp_def(in a integer, in b integer default 10, out s integer) begin set s = a + b; end");
  TAsaStoredProc* P = NewProc("sp_def");
  TZyloParams Copy;
  P->CopyParams(&Copy);
  EXPECT_EQ(Shape(P), (std::vector<std::string>{"a in integer", "b in integer", "s out integer"}));
  EXPECT_TRUE(Copy.IsEqual(P->GetParams()));
  EXPECT_FALSE(P->GetPrepared());
  EXPECT_TRUE(P->GetDBFlags().Empty());
  EXPECT_EQ(Session->GetOpenCount(), 0);
  Exec("drop procedure sp_def");
  TZyloParams Again;
  P->CopyParams(&Again);
  EXPECT_TRUE(Again.IsEqual(&Copy)) << "the discovered list is kept, the catalog is not asked again";

  Exec("create procedure sp_def(in a integer, in b integer default 10, out s integer) begin set s = a + b; end");
  P->Prepare();
  EXPECT_EQ(TrimRight(P->GetText()), "call sp_def(:a,:b,:s)");
  TZyloParams Mine;
  for (const char* Name : {"@x", "@y"}) {
    TZyloParam* Q = Mine.CreateParam(Name);
    Q->SetAlias(Name);
    Q->SetParamType(zptInput);
    Q->SetAsInteger(20);
  }
  P->SetParamsList(&Mine);
  EXPECT_TRUE(P->GetPrepared());
  EXPECT_EQ(TrimRight(P->GetText()), "call sp_def(:x,:y)") << "the list replaces the old one and the call follows";
  EXPECT_EQ(P->GetParamsCount(), 2);
  EXPECT_NO_THROW(P->ExecProc());

  // The provider names and runs the procedure the same way.
  P->UnPrepare();
  P->PSSetCommandText("");
  EXPECT_EQ(P->GetStoredProcName(), "sp_def") << "an empty command text changes nothing";
  P->PSSetCommandText("sp_def");
  EXPECT_EQ(P->GetParamsCount(), 2) << "the same name keeps the list";
  Exec("create table logged(v integer)");
  Exec("create procedure sp_log(in v integer) begin insert into logged values (v); end");
  P->PSSetCommandText(" sp_log");
  EXPECT_EQ(P->GetParamsCount(), 0) << "another procedure, another list";
  P->Prepare();
  P->ParamByName("v")->SetAsInteger(9);
  P->PSExecute();
  EXPECT_EQ(QueryText(*Session, "select v from logged"), "9");
}

TEST_F(AsaStoredProcTest, StoredFormKeepsNameAndParameters) {
  auto P = std::make_unique<TAsaStoredProc>(nullptr);
  P->SetName("Proc1");
  P->SetProcName(" dba.sp_store ");
  TZyloParam* A = P->GetParams()->CreateParam("a");
  A->SetAlias("a");
  A->SetParamType(zptInput);
  A->SetAsInteger(-5);
  P->GetParams()->CreateParam("r")->SetParamType(zptOutput);
  const AnsiString Text = ComponentToText(P.get());
  EXPECT_NE(Text.find("StoredProcName = 'dba.sp_store'"), AnsiString::npos) << Text;
  std::unique_ptr<TComponent> Read(TextToComponent(Text));
  auto* Back = dynamic_cast<TAsaStoredProc*>(Read.get());
  ASSERT_NE(Back, nullptr);
  EXPECT_EQ(Back->GetStoredProcName(), "dba.sp_store");
  EXPECT_TRUE(Back->GetParams()->IsEqual(P->GetParams())) << "loading the name does not clear the list";
  EXPECT_EQ(ComponentToText(Back), Text);
}

TEST_F(AsaStoredProcTest, ResultSetsOfDifferentShapesAreResumedToTheEndAndAFailureMidwayIsRaised) {
  Connect();
  Exec("create table item(id integer primary key, name varchar(20), price double)");
  Exec("insert into item values (1,'pen',2.5),(2,'ink',4.0),(3,'pad',1.25)");
  Exec("commit");
  Exec("create procedure sp_three(in k integer) begin "
       "select id, name from item where id >= k order by id; "
       "select count(*) as n, sum(price) as total from item; "
       "select name, price, id * 10 as code from item where id = k; end");
  TAsaStoredProc* P = NewProc("sp_three");
  P->Prepare();
  P->ParamByName("k")->SetAsInteger(2);
  P->Open();
  EXPECT_EQ(WalkForward(P), (std::vector<int>{2, 3}));
  P->Resume();
  ASSERT_EQ(P->FieldCount(), 2);
  EXPECT_EQ(P->FieldByName("n").GetAsInteger(), 3);
  EXPECT_DOUBLE_EQ(P->FieldByName("total").GetAsFloat(), 7.75);
  P->Resume();
  ASSERT_EQ(P->FieldCount(), 3);
  EXPECT_EQ(P->FieldByName("name").GetAsString(), "ink");
  EXPECT_EQ(P->FieldByName("code").GetAsInteger(), 20);
  P->Resume();
  EXPECT_FALSE(P->Active());
  EXPECT_EQ(MessageOf([&] { P->Resume(); }), "The Stored Procedure has completed");
  EXPECT_FALSE(P->GetPrepared()) << "the completed call is let go";
  EXPECT_EQ(Session->GetOpenCount(), 0);
  P->ParamByName("k")->SetAsInteger(3);
  P->Open();
  EXPECT_EQ(WalkForward(P), (std::vector<int>{3})) << "opened again with the kept list and its new value";
  P->Close();

  // The second result set fails half way: the first one is read, Resume raises the server's
  // error, and the call is let go.
  Exec("create function f_check(in n integer) returns integer begin if n > 2 then "
       "raiserror 17500 'item %1! refused', n; end if; return n; end");
  Exec("create procedure sp_fails() begin select id from item order by id; "
       "select f_check(id) as checked, name from item order by id; select 1 as never; end");
  TAsaStoredProc* F = NewProc("sp_fails");
  F->Open();
  EXPECT_EQ(WalkForward(F), (std::vector<int>{1, 2, 3}));
  try {
    F->Resume();
    FAIL() << "the failure was taken for the end";
  } catch (const EZyloDatasetError& E) {
    EXPECT_EQ(E.GetErrorCode(), -631);
    EXPECT_NE(E.Message().find("item 3 refused"), AnsiString::npos) << E.Message();
  }
  EXPECT_FALSE(F->Active());
  EXPECT_FALSE(F->GetPrepared());
  EXPECT_EQ(Session->GetOpenCount(), 0);
  EXPECT_EQ(QueryText(*Session, "select count(*) from item"), "3") << "the connection goes on";
}

TEST_F(AsaStoredProcTest, OutputsDeclaredBeforeTheResultSetMakeTheCallResumable) {
  Connect();
  Exec("create table item(id integer primary key, name varchar(20))");
  Exec("insert into item values (1,'pen'),(2,'ink'),(3,'pad')");
  Exec("commit");
  Exec("create procedure sp_late(in k integer, out found integer) result(id integer, name varchar(20)) begin "
       "select count(*) into found from item where id <= k; "
       "select id, name from item where id <= k order by id; end");
  // "out" appears only after "result(": in the result column's name.
  Exec("create procedure sp_plain(in k integer) result(id integer, outcome varchar(20)) begin "
       "select id, name from item where id > k order by id; end");
  TAsaStoredProc* Late = NewProc("sp_late");
  EXPECT_TRUE(Late->SPNeedsLateDescribe());
  Late->Prepare();
  EXPECT_EQ(Shape(Late), (std::vector<std::string>{"k in integer", "found out integer"}));
  Late->ParamByName("k")->SetAsInteger(2);
  Late->Open();
  EXPECT_TRUE(Late->GetAsaStatement()->GetResumable());
  ASSERT_EQ(Late->FieldCount(), 2) << "the result set is described, not the outputs";
  EXPECT_EQ(WalkForward(Late), (std::vector<int>{1, 2}));
  Late->Close();

  TAsaStoredProc* Plain = NewProc("sp_plain");
  EXPECT_FALSE(Plain->SPNeedsLateDescribe());
  EXPECT_FALSE(NewProc("sp_nowhere")->SPNeedsLateDescribe()) << "a definition that cannot be read";
  Plain->Prepare();
  Plain->ParamByName("k")->SetAsInteger(1);
  Plain->Open();
  EXPECT_EQ(WalkForward(Plain), (std::vector<int>{2, 3}));
  EXPECT_EQ(Plain->FieldByName("outcome").GetAsString(), "pad") << "named as the RESULT clause says";
}


TEST_F(AsaStoredProcTest, TheOldestLibraryFlavourRunsTheSameCalls) {
  Connect("dblib6.dll", "old");
  Exec("create procedure sp_io(in a integer, out b varchar(30), inout c integer) begin "
       "set b = 'a was ' || a; set c = c + a; end");
  Exec("create procedure sp_two(in k integer) begin select k as first; select 'x' as second, k + 1 as third; end");
  TAsaStoredProc* P = NewProc("sp_io");
  P->Prepare();
  EXPECT_EQ(Shape(P), (std::vector<std::string>{"a in integer", "b out string", "c inout integer"}));
  P->ParamByName("a")->SetAsInteger(5);
  P->ParamByName("c")->SetAsInteger(10);
  P->ExecProc();
  EXPECT_EQ(P->ParamByName("b")->GetAsString(), "a was 5");
  EXPECT_EQ(P->ParamByName("c")->GetAsInteger(), 15);
  TAsaStoredProc* Two = NewProc("sp_two");
  Two->Prepare();
  Two->ParamByName("k")->SetAsInteger(7);
  Two->Open();
  EXPECT_EQ(Two->FieldByName("first").GetAsInteger(), 7);
  Two->Resume();
  EXPECT_EQ(Two->FieldByName("third").GetAsInteger(), 8);
  Two->Resume();
  EXPECT_FALSE(Two->Active());
}

TEST_F(AsaStoredProcTest, HostileNamesFailCleanlyAndChangeNothing) {
  Connect();
  Exec("create table item(id integer)");
  Exec("insert into item values (1)");
  Exec("commit");
  const std::string Names[] = {"nosuch'; drop table item; --", "x(); drop table item; call y", ".", "a.b.c",
                               "dba.", std::string(5000, 'p'), "\"dba\".\"item\"", "sp\x01\xff"};
  for (const std::string& Name : Names) {
    TAsaStoredProc* P = NewProc(Name);
    TZyloParams Found;
    EXPECT_NO_THROW(P->CopyParams(&Found)) << Name;
    EXPECT_EQ(Found.Count(), 0) << Name;
    EXPECT_THROW(P->ExecProc(), EDatabaseError) << Name;
    EXPECT_THROW(P->Open(), EDatabaseError) << Name;
    EXPECT_TRUE(P->GetDBFlags().Empty()) << Name;
  }
  EXPECT_EQ(QueryText(*Session, "select count(*) from item"), "1");
  EXPECT_EQ(Session->GetOpenCount(), 0);
}
