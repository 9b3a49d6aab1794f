// TZyloSession through the test binding: library loading with the current directory restored,
// connecting and disconnecting in the fixed order, attached handles, reference counting by data
// sets, the statement registry, transactions, the error record, OEM translation and streaming.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "tests/base/TestBinding.h"

namespace {

AnsiString LibDir() {
  const char* Dir = std::getenv("ZYL_LIB_DIR");
  return Dir ? Dir : "";
}

AnsiString CurrentDir() {
  char Buffer[4096];
  DWORD N = GetCurrentDirectoryA(sizeof Buffer, Buffer);
  return AnsiString(Buffer, N);
}

bool Contains(const TStepLog& Log, const std::string& Step) {
  return std::find(Log.begin(), Log.end(), Step) != Log.end();
}

size_t CountOf(const TStepLog& Log, const std::string& Step) {
  return static_cast<size_t>(std::count(Log.begin(), Log.end(), Step));
}

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(LibDir().empty()) << "ZYL_LIB_DIR must name the folder of the stand-in library";
    S = std::make_unique<TTestSession>();
    S->SetLibraryPath(LibDir());
    S->BeforeConnect = [this](TObject*) { S->Log.push_back("BeforeConnect"); };
    S->AfterConnect = [this](TObject*) { S->Log.push_back("AfterConnect"); };
    S->BeforeDisconnect = [this](TObject*) { S->Log.push_back("BeforeDisconnect"); };
    S->AfterDisconnect = [this](TObject*) { S->Log.push_back("AfterDisconnect"); };
  }
  std::unique_ptr<TTestSession> S;
};

}  // namespace

TEST_F(SessionTest, OpenLoadsTheLibraryOnceAndConnectsInOrder) {
  AnsiString Before = CurrentDir();
  S->Open();
  EXPECT_TRUE(S->GetConnected());
  EXPECT_EQ(CurrentDir(), Before) << "the current directory must be restored after loading";
  TStepLog Want = {"BeforeConnect", "LoadLibraryProcs", "InitLibrary", "SetHandle(nil)", "OpenDatabase",
                   "AfterConnect"};
  EXPECT_EQ(S->Log, Want);
  EXPECT_NE(S->GetLibraryHandle(), nullptr);
  EXPECT_EQ(S->GetLibraryDir(), LibDir() + "/");
  EXPECT_EQ(S->GetHandle(), &S->OwnConnection);
  EXPECT_GT(S->OwnConnection, 0) << "the entry point of the loaded library was called";
  EXPECT_EQ(S->GetLibraryVersion(), "1.2.3");

  S->Open();  // already connected: nothing happens
  EXPECT_EQ(CountOf(S->Log, "OpenDatabase"), 1u);

  S->Close();
  S->Log.clear();
  S->Open();  // the library stayed loaded across the disconnect
  EXPECT_FALSE(Contains(S->Log, "LoadLibraryProcs"));
  EXPECT_TRUE(Contains(S->Log, "OpenDatabase"));
}

TEST_F(SessionTest, MissingEntryPointGetsTheSubstituteThatRaisesWhenUsed) {
  S->InternalNeedLibrary();
  ASSERT_NE(S->Missing, nullptr);
  EXPECT_THROW(S->Missing(), EZyloException);
}

TEST_F(SessionTest, LibraryIsFoundBySearchWhenNoPathIsGiven) {
  S->SetLibraryPath("");
  S->InternalNeedLibrary();
  EXPECT_NE(S->GetLibraryHandle(), nullptr);
  // The loader search runs through the test program's run path, which is the library folder.
  EXPECT_EQ(S->GetLibraryDir(), LibDir() + "/");
}

TEST_F(SessionTest, UnreachableLibraryPathRaisesWithThePathAndRestoresTheDirectory) {
  AnsiString Before = CurrentDir();
  S->SetLibraryPath("  /nonexistent/zyl-dir  ");
  try {
    S->Open();
    FAIL() << "no exception";
  } catch (const EZyloException& E) {
    EXPECT_EQ(E.GetErrorCode(), 0);
    EXPECT_EQ(E.Message().rfind("Could not find database library path (/nonexistent/zyl-dir/,", 0), 0u) << E.Message();
    EXPECT_EQ(E.Message().back(), ')');
    EXPECT_EQ(S->GetLastError(), E.Message());
    EXPECT_EQ(S->GetLastErrorCode(), 0);
  }
  EXPECT_FALSE(S->GetConnected());
  EXPECT_EQ(S->GetLibraryHandle(), nullptr);
  EXPECT_EQ(CurrentDir(), Before);
}

TEST_F(SessionTest, UnloadableLibraryRaisesWithTheFileName) {
  AnsiString Before = CurrentDir();
  S->SetLibraryFile("libzyl-no-such-library.so");
  try {
    S->Open();
    FAIL() << "no exception";
  } catch (const EZyloException& E) {
    EXPECT_EQ(E.Message().rfind("Could not load the Database Interface library (libzyl-no-such-library.so,", 0), 0u)
        << E.Message();
    EXPECT_GT(E.Message().size(), AnsiString("Could not load the Database Interface library (libzyl-no-such-library.so,)").size())
        << "the system's error text is appended";
  }
  EXPECT_FALSE(S->GetConnected());
  EXPECT_EQ(CurrentDir(), Before);
  EXPECT_FALSE(Contains(S->Log, "BeforeDisconnect"));
}

TEST_F(SessionTest, FailedInitialisationLeavesTheLibraryUnloaded) {
  S->FailInit = true;
  EXPECT_THROW(S->Open(), EZyloException);
  EXPECT_EQ(S->GetLibraryHandle(), nullptr);
  EXPECT_FALSE(S->GetConnected());
  S->FailInit = false;
  S->Log.clear();
  S->Open();  // loads again, entry points and all
  EXPECT_TRUE(Contains(S->Log, "LoadLibraryProcs"));
  EXPECT_TRUE(S->GetConnected());
}

TEST_F(SessionTest, FailedConnectLeavesTheSessionDisconnected) {
  S->FailConnect = true;
  EXPECT_THROW(S->Open(), EAsaException);
  EXPECT_FALSE(S->GetConnected());
  EXPECT_EQ(S->GetHandle(), nullptr);
  EXPECT_FALSE(Contains(S->Log, "AfterConnect"));
  EXPECT_EQ(S->GetLastErrorCode(), -100);
}

TEST_F(SessionTest, ExceptionInAfterConnectDisconnectsAgain) {
  S->AfterConnect = [](TObject*) { throw Exception("handler failed"); };
  EXPECT_THROW(S->Open(), Exception);
  EXPECT_FALSE(S->GetConnected());
  EXPECT_TRUE(Contains(S->Log, "CloseDatabase"));
}

TEST_F(SessionTest, LibraryFileChangesFollowTheConnectionRules) {
  S->Open();
  EXPECT_NO_THROW(S->SetLibraryFile("libzylstandin.so"));  // same value while connected
  EXPECT_NO_THROW(S->SetLibraryPath(LibDir()));
  try {
    S->SetLibraryFile("other.so");
    FAIL() << "no exception";
  } catch (const EZyloException& E) {
    EXPECT_EQ(E.Message(), "Cannot perform this operation while connected to a database");
  }
  EXPECT_THROW(S->SetLibraryPath("/tmp"), EZyloException);
  EXPECT_EQ(S->GetLibraryFile(), "libzylstandin.so");

  TTestSQL Q;
  Q.SetSession(S.get());
  Q.Columns = {{"a", ztInteger, 4}};
  Q.PrepareOpen("select a from t");
  EXPECT_FALSE(Q.GetNeedLibrary());
  S->Close();
  S->Log.clear();
  S->SetLibraryFile("libzylstandin2.so");  // disconnected: the old library goes
  EXPECT_EQ(S->Log, TStepLog{"FiniLibrary"});
  EXPECT_EQ(S->GetLibraryHandle(), nullptr);
  EXPECT_EQ(S->GetLibraryDir(), "");
  EXPECT_TRUE(Q.GetNeedLibrary()) << "statements fetch their entry points again";
}

TEST_F(SessionTest, CloseUnpreparesStatementsThenDisconnects) {
  S->Open();
  TTestSQL Q;
  Q.SetSession(S.get());
  Q.Columns = {{"a", ztInteger, 4}};
  ASSERT_TRUE(Q.Open("select a from t", {}, true));
  Q.PrepareExecute("update t set a = 1");
  S->StartTransaction();
  S->OpenSession(nullptr);
  S->Log.clear();
  S->Close();
  EXPECT_FALSE(Q.GetPrepared());
  EXPECT_FALSE(Q.GetExecPrepared());
  EXPECT_TRUE(Contains(Q.Log, "UnprepareOpen"));
  EXPECT_TRUE(Contains(Q.Log, "UnprepareExecute"));
  EXPECT_EQ(S->Log, (TStepLog{"BeforeDisconnect", "CloseDatabase", "AfterDisconnect"}));
  EXPECT_FALSE(S->GetInTransaction());
  EXPECT_EQ(S->GetOpenCount(), 0);
  EXPECT_EQ(S->GetHandle(), nullptr);
  S->Log.clear();
  S->Close();  // not connected: nothing
  EXPECT_TRUE(S->Log.empty());
}

TEST_F(SessionTest, AttachedHandleIsLeftOpenByClose) {
  TTestForeignHandle Foreign;
  S->SetHandle(&Foreign);
  EXPECT_TRUE(S->GetConnected());
  EXPECT_TRUE(S->GetHandleIsExternal());
  EXPECT_EQ(S->GetHandle(), &Foreign);
  EXPECT_EQ(S->Log, (TStepLog{"LoadLibraryProcs", "InitLibrary", "BeforeConnect", "SetHandle(foreign)", "AfterConnect"}));
  S->Log.clear();
  S->Close();
  EXPECT_FALSE(Contains(S->Log, "CloseDatabase"));
  EXPECT_TRUE(Contains(S->Log, "SetHandle(nil)"));
  EXPECT_FALSE(S->GetHandleIsExternal());
  EXPECT_FALSE(S->GetConnected());

  S->Open();
  S->Log.clear();
  S->SetHandle(&Foreign);  // connected by Open: closed first, for real
  EXPECT_EQ(S->Log.front(), "BeforeDisconnect");
  EXPECT_TRUE(Contains(S->Log, "CloseDatabase"));

  S->Log.clear();
  S->SetHandle(nullptr);  // connected: Close, then only the deselection
  EXPECT_FALSE(S->GetConnected());
  EXPECT_EQ(S->Log.back(), "SetHandle(nil)");
}

TEST_F(SessionTest, InvalidHandleIsRefused) {
  char Bad[8] = "garbage";
  try {
    S->SetHandle(Bad);
    FAIL() << "no exception";
  } catch (const EZyloException& E) {
    EXPECT_EQ(E.Message(), "Invalid database handle");
  }
  EXPECT_FALSE(S->GetConnected());
}

TEST_F(SessionTest, DataSetsHoldTheSessionOpenByCount) {
  S->SetKeepConnection(false);
  auto* A = new TComponent(nullptr);
  auto* B = new TComponent(nullptr);
  S->OpenSession(A);
  S->OpenSession(B);
  EXPECT_EQ(S->GetOpenCount(), 2);
  EXPECT_EQ(S->DataSetCount(), 2);
  EXPECT_EQ(S->GetDataSet(1), B);
  EXPECT_EQ(S->GetDataSet(2), nullptr);
  EXPECT_EQ(S->GetDataSet(-1), nullptr);
  S->CloseSession(A);
  EXPECT_TRUE(S->GetConnected());
  S->CloseSession(B);
  EXPECT_FALSE(S->GetConnected());
  EXPECT_EQ(S->DataSetCount(), 0);
  S->CloseSession(nullptr);
  EXPECT_EQ(S->GetOpenCount(), 0) << "the count never goes negative";
  S->OpenSession(A);
  EXPECT_EQ(S->GetOpenCount(), 1) << "a CloseSession below zero must not eat the next OpenSession";
  delete A;  // a data set that goes away unregisters
  EXPECT_EQ(S->DataSetCount(), 0);
  delete B;
}

TEST_F(SessionTest, KeepConnectionFalseClosesAtOnceWhenNoDataSetHoldsTheSession) {
  S->Open();
  S->OpenSession(nullptr);
  S->SetKeepConnection(false);
  EXPECT_TRUE(S->GetConnected());
  S->CloseSession(nullptr);
  EXPECT_FALSE(S->GetConnected());
  S->SetKeepConnection(true);
  S->Open();
  S->SetKeepConnection(false);
  EXPECT_FALSE(S->GetConnected());
}

TEST_F(SessionTest, DataSetReleasingTheSessionWhileItClosesDisconnectsOnce) {
  // A data set closed by the disconnect gives the session back from inside Close.
  auto* D = new TComponent(nullptr);
  S->SetKeepConnection(false);
  S->OpenSession(D);
  S->BeforeDisconnect = [&](TObject*) { S->CloseSession(D); };
  S->Log.clear();
  S->Close();
  EXPECT_FALSE(S->GetConnected());
  EXPECT_EQ(CountOf(S->Log, "CloseDatabase"), 1u);
  delete D;
}

TEST_F(SessionTest, StatementRegistry) {
  auto* Q1 = new TTestSQL(nullptr);
  auto* Q2 = new TTestSQL(nullptr);
  Q1->SetSession(S.get());
  Q2->SetSession(S.get());
  Q1->SetSession(S.get());  // no second entry
  EXPECT_EQ(S->QueryCount(), 2);
  EXPECT_EQ(S->GetQuery(0), Q1);
  EXPECT_EQ(S->GetQuery(-1), nullptr);
  EXPECT_EQ(S->GetQuery(2), nullptr);

  S->Open();
  Q1->Columns = {{"a", ztInteger, 4}};
  Q1->PrepareOpen("select a from t");
  EXPECT_FALSE(Q1->GetNeedLibrary());
  S->RemoveQuery(Q1);
  EXPECT_EQ(Q1->GetSessionObject(), nullptr);
  EXPECT_FALSE(Q1->GetPrepared()) << "leaving the session unprepares";
  EXPECT_TRUE(Q1->GetNeedLibrary());
  EXPECT_EQ(S->QueryCount(), 1);

  TTestSession Other;
  Q2->SetSession(&Other);
  EXPECT_EQ(S->QueryCount(), 0);
  EXPECT_EQ(Other.QueryCount(), 1);
  delete Q2;  // a statement destroyed first leaves the registry
  EXPECT_EQ(Other.QueryCount(), 0);

  Q1->SetSession(S.get());
  S.reset();  // a session destroyed first clears the statements' link
  EXPECT_EQ(Q1->GetSessionObject(), nullptr);
  delete Q1;
}

TEST_F(SessionTest, DestroyingTheSessionDisconnectsAndUnloads) {
  auto* Q = new TTestSQL(nullptr);
  Q->SetSession(S.get());
  Q->Columns = {{"a", ztInteger, 4}};
  S->Open();
  Q->PrepareOpen("select a from t");
  bool Disconnected = false;
  S->AfterDisconnect = [&](TObject*) { Disconnected = true; };
  S.reset();
  EXPECT_FALSE(Disconnected) << "no disconnect events while being destroyed";
  EXPECT_FALSE(Q->GetPrepared()) << "closing unprepared the registered statements";
  EXPECT_EQ(Q->GetSessionObject(), nullptr);
  EXPECT_TRUE(Q->GetNeedLibrary());
  delete Q;
}

TEST_F(SessionTest, TransactionsCommitPendingWorkAndRefuseNesting) {
  S->Open();
  S->Log.clear();
  S->StartTransaction();
  EXPECT_EQ(S->Log, TStepLog{"Commit"});
  EXPECT_TRUE(S->GetInTransaction());
  try {
    S->StartTransaction();
    FAIL() << "no exception";
  } catch (const EZyloException& E) {
    EXPECT_EQ(E.Message(), "A user transaction is already in progress");
    EXPECT_EQ(S->GetLastError(), E.Message());
  }
  S->Commit();
  EXPECT_FALSE(S->GetInTransaction());
  S->StartTransaction();
  S->Rollback();
  EXPECT_FALSE(S->GetInTransaction());
  EXPECT_EQ(S->Log.back(), "Rollback");
  S->StartTransaction();
  S->Close();
  EXPECT_FALSE(S->GetInTransaction());
}

TEST_F(SessionTest, FailedCommitFollowsWantExceptions) {
  S->Open();
  S->Code = -3;
  EXPECT_NO_THROW(S->Commit());
  EXPECT_EQ(S->GetLastErrorCode(), -3);
  S->SetWantExceptions(true);
  EXPECT_THROW(S->Commit(), EAsaException);
  S->Code = 0;
}

TEST_F(SessionTest, PushedErrorSurvivesCleanUpCalls) {
  S->Code = -7;
  EXPECT_EQ(S->CheckPushError(), -7);
  EXPECT_EQ(S->GetPushedError(), "Error -7: simulated");
  S->Code = 0;
  EXPECT_TRUE(S->Check(nullptr, 0, 0, true));  // a clean-up call overwrites the record
  EXPECT_EQ(S->GetLastErrorCode(), 0);
  EXPECT_FALSE(S->CheckPopError(false));
  EXPECT_EQ(S->GetLastErrorCode(), -7);
  EXPECT_EQ(S->GetLastError(), "Error -7: simulated");
  EXPECT_THROW(S->CheckPopError(true), EAsaException);
}

TEST_F(SessionTest, RaiseLastErrorRecordsWhatItRaises) {
  try {
    S->RaiseLastError<EAsaException>("boom", -42);
  } catch (const EAsaException& E) {
    EXPECT_EQ(E.GetErrorCode(), -42);
  }
  EXPECT_EQ(S->GetLastError(), "boom");
  EXPECT_EQ(S->GetLastErrorCode(), -42);
}

TEST_F(SessionTest, TranslateCharOnlyWithOemConvert) {
  char Text[] = "caf\xE9";  // e acute in the ANSI page
  S->TranslateChar(Text, Text, true, 4);
  EXPECT_STREQ(Text, "caf\xE9");
  S->SetOEMConvert(true);
  char Dest[5] = {};
  S->TranslateChar(Text, Dest, true, 4);
  EXPECT_EQ(static_cast<unsigned char>(Dest[3]), 0x82) << "e acute in the OEM page";
  S->TranslateChar(Dest, Dest, false, 4);
  EXPECT_STREQ(Dest, "caf\xE9");
  S->TranslateChar(nullptr, Dest, true, 4);  // bad input: nothing happens
  S->TranslateChar(Text, Dest, true, -1);
}

TEST_F(SessionTest, StreamedConnectedWaitsForLoadedAndHonoursConnectOnLoading) {
  S->SetLoading(true);
  S->SetConnected(true);
  EXPECT_FALSE(S->GetConnected());
  EXPECT_TRUE(S->GetStreamedConnected());
  S->SetConnectOnLoading(false);
  S->Loaded();
  EXPECT_FALSE(S->GetConnected()) << "run time with ConnectOnLoading false stays disconnected";

  auto D = std::make_unique<TTestSession>();
  D->SetLibraryPath(LibDir());
  D->SetDesigning(true);
  D->SetLoading(true);
  D->SetConnected(true);
  D->SetConnectOnLoading(false);
  D->Loaded();
  EXPECT_TRUE(D->GetConnected()) << "design time always connects";

  auto R = std::make_unique<TTestSession>();
  R->SetLibraryPath(LibDir());
  R->SetLoading(true);
  R->SetConnected(true);
  R->Loaded();
  EXPECT_TRUE(R->GetConnected());
}

TEST_F(SessionTest, ConnectFailureWhileLoadingIsShownAtDesignTimeAndRaisedAtRunTime) {
  std::string Shown;
  TMessageBoxHandler Old = SetMessageBoxHandler([&](LPCSTR Text, LPCSTR Caption, UINT) {
    Shown = std::string(Caption) + "|" + Text;
    return IDOK;
  });
  S->FailConnect = true;
  S->SetDesigning(true);
  S->SetLoading(true);
  S->SetConnected(true);
  EXPECT_NO_THROW(S->Loaded());
  EXPECT_EQ(Shown, "Zylobase|Error -100: simulated");

  auto R = std::make_unique<TTestSession>();
  R->SetLibraryPath(LibDir());
  R->FailConnect = true;
  R->SetLoading(true);
  R->SetConnected(true);
  EXPECT_THROW(R->Loaded(), EAsaException);
  SetMessageBoxHandler(Old);
}

TEST(ZylbaseSessionStreaming, TextFormConnectsWhenLoadingEndsAndWritesOnlyChangedProperties) {
  RegisterClass(TTestSession::StaticClass());
  AnsiString Text = "object Session1: TTestSession\n"
                    "  Connected = True\n"
                    "  LibraryPath = '" + LibDir() + "'\n"
                    "  KeepConnection = False\n"
                    "end\n";
  std::unique_ptr<TComponent> C(TextToComponent(Text));
  auto* S = dynamic_cast<TTestSession*>(C.get());
  ASSERT_NE(S, nullptr);
  EXPECT_TRUE(S->GetConnected()) << "Connected was applied after LibraryPath, in Loaded";
  EXPECT_FALSE(S->GetKeepConnection());
  EXPECT_TRUE(S->GetAutoCommit());

  AnsiString Written = ComponentToText(S);
  EXPECT_NE(Written.find("Connected = True"), AnsiString::npos) << Written;
  EXPECT_NE(Written.find("KeepConnection = False"), AnsiString::npos) << Written;
  EXPECT_EQ(Written.find("AutoCommit"), AnsiString::npos) << "defaults are not written: " << Written;
  EXPECT_EQ(Written.find("LibraryFile"), AnsiString::npos) << Written;

  AnsiString Off = "object Session2: TTestSession\n"
                   "  ConnectOnLoading = False\n"
                   "  Connected = True\n"
                   "  LibraryPath = '" + LibDir() + "'\n"
                   "end\n";
  std::unique_ptr<TComponent> D(TextToComponent(Off));
  EXPECT_FALSE(static_cast<TTestSession*>(D.get())->GetConnected());
}
