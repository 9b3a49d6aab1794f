// TAsaSession's utility calls end to end: databases started and stopped on a running server,
// ping (also through db_find_engine on the version-4 flavour), server location, connection
// information, properties, quoting, cancel and time change.
#include <gtest/gtest.h>

#include "tests/asa/AsaTestEnv.h"

namespace {

using zylasa::AsaTest;
using zylasa::ExecImm;
using zylasa::LibDir;
using zylasa::QueryText;

class AsaControl : public AsaTest {
 protected:
  // Starts an engine without databases under the session's library.
  static void StartBareEngine(TAsaSession& S, const std::string& Name) {
    S.InternalNeedLibrary();
    std::string Start = "eng=" + Name;
    ASSERT_TRUE(S.db_start_engine(S.GetOwnSQLCA(), Start.data())) << Name;
  }
};

TEST_F(AsaControl, StartDatabaseWhileConnectedRaisesBeforeAnyRequest) {
  std::string File = CreateDb("busy");
  auto S = NewSession("dblib10.dll", File);
  S->SetServerType(stServer);
  int Requests = 0;
  S->OnServerStart = [&](TObject*) { ++Requests; };
  S->Open();
  Requests = 0;
  for (int Stop = 0; Stop < 2; ++Stop) {
    try {
      if (Stop) S->StopDatabase("");
      else S->StartDatabase("eng=busy");
      FAIL() << "no exception";
    } catch (const EAsaException& E) {
      EXPECT_EQ(E.Message(), "Cannot perform this operation while connected to a database");
      EXPECT_EQ(E.GetErrorCode(), 0);
    }
  }
  EXPECT_EQ(Requests, 0);
  S->Close();
  StopEngine(*S, "busy");
}

TEST_F(AsaControl, StartAndStopDatabaseOnARunningServer) {
  std::string File = CreateDb("books");
  auto S = NewSession("dblib10.dll", File);
  S->SetLoginEngineName("host");
  StartBareEngine(*S, "host");
  ASSERT_TRUE(S->StartDatabase("")) << S->GetLastError();
  EXPECT_FALSE(S->GetConnected()) << "starting a database does not connect";
  S->Open();  // client mode: the database runs on host now
  ASSERT_TRUE(S->GetConnected());
  AnsiString Name;
  EXPECT_TRUE(S->GetConnectionInfo(ciDatabaseName, Name));
  EXPECT_TRUE(SameText(Name, "books")) << Name;
  S->Close();
  ASSERT_TRUE(S->StopDatabase("")) << S->GetLastError();
  EXPECT_THROW(S->Open(), EAsaException);
  EXPECT_LT(S->GetLastErrorCode(), 0);
  StopEngine(*S, "host");
}

TEST_F(AsaControl, StartAndStopDatabaseThroughAConnectionString) {
  std::string File = CreateDb("maps");
  auto S = NewSession("dblib10.dll", File);
  S->SetLoginEngineName("remote");
  StartBareEngine(*S, "remote");
  std::string Params = "eng=remote;dbn=utility_db;uid=DBA;pwd=x";
  ASSERT_TRUE(S->StartDatabase(Params)) << S->GetLastError();
  EXPECT_FALSE(S->GetConnected());
  S->Open();
  EXPECT_TRUE(S->GetConnected());
  S->Close();
  ASSERT_TRUE(S->StopDatabase(Params)) << S->GetLastError();
  EXPECT_THROW(S->Open(), EAsaException);

  // A connection string that reaches no server: the connect's error is the result.
  S->SetWantExceptions(false);
  EXPECT_FALSE(S->StartDatabase("eng=nowhere;dbn=nodb;uid=dba;pwd=sql"));
  EXPECT_EQ(S->GetLastErrorCode(), -100);
  S->SetWantExceptions(true);
  EXPECT_THROW(S->StopDatabase("eng=nowhere;dbn=nodb;uid=dba;pwd=sql"), EAsaException);
  StopEngine(*S, "remote");
}

TEST_F(AsaControl, StopDatabaseWithoutServerFails) {
  auto S = NewSession("dblib10.dll", Dir.File("gone.db"));
  S->SetWantExceptions(false);
  EXPECT_FALSE(S->StopDatabase(""));
  EXPECT_EQ(S->GetLastErrorCode(), -100);
  EXPECT_TRUE(S->GetLastError().rfind("Error -100: ", 0) == 0) << S->GetLastError();
}

TEST_F(AsaControl, PingWithThePingEntryPoint) {
  auto S = NewSession("dblib10.dll", Dir.File("p.db"));
  S->SetWantExceptions(false);
  StartBareEngine(*S, "Srv1");
  EXPECT_TRUE(S->Ping("eng=Srv1"));
  EXPECT_EQ(S->GetLastError(), "");
  EXPECT_FALSE(S->Ping("eng=Srv2"));
  EXPECT_EQ(S->GetLastErrorCode(), -100);
  S->SetWantExceptions(true);
  EXPECT_THROW(S->Ping("eng=Srv2"), EAsaException);
  StopEngine(*S, "Srv1");
}

TEST_F(AsaControl, PingWithoutThePingEntryPointLooksForTheEngine) {
  auto S = NewSession("dbl40t.dll", Dir.File("p.db"));
  S->SetWantExceptions(false);
  S->InternalNeedLibrary();
  ASSERT_EQ(S->db_string_ping_server, nullptr);
  StartBareEngine(*S, "Srv1");
  EXPECT_TRUE(S->Ping("uid=dba;ENG=Srv1;dbn=x")) << S->GetLastError();
  EXPECT_TRUE(S->Ping("Srv1")) << "without eng= the whole string is the name";
  EXPECT_FALSE(S->Ping("uid=dba;eng=Srv9;dbn=x")) << "a missing server must not look found";
  EXPECT_EQ(S->GetLastErrorCode(), -100);
  EXPECT_TRUE(S->GetLastError().rfind("Error -100: ", 0) == 0) << S->GetLastError();
  StopEngine(*S, "Srv1");
}

TEST_F(AsaControl, LocateServersReportsEachUntilAborted) {
  auto S = NewSession("dblib10.dll", Dir.File("l.db"));
  S->SetWantExceptions(false);
  EXPECT_FALSE(S->LocateServers()) << "no handler: nothing to report to";
  StartBareEngine(*S, "alpha");
  StartBareEngine(*S, "beta");
  std::vector<std::string> Found;
  bool AbortAfterFirst = false;
  S->OnLocateServers = [&](TObject* Sender, const AnsiString& Name, const AnsiString& Address, int32_t Port,
                           bool& Abort) {
    EXPECT_EQ(Sender, S.get());
    Found.push_back(Name);
    Abort = AbortAfterFirst;
  };
  EXPECT_TRUE(S->LocateServers()) << S->GetLastError();
  std::sort(Found.begin(), Found.end());
  EXPECT_EQ(Found, (std::vector<std::string>{"alpha", "beta"}));
  Found.clear();
  AbortAfterFirst = true;
  EXPECT_TRUE(S->LocateServers());
  EXPECT_EQ(Found.size(), 1u);
  StopEngine(*S, "alpha");
  StopEngine(*S, "beta");
}

TEST_F(AsaControl, InformationPropertiesAndSmallCalls) {
  std::string File = CreateDb("info");
  auto S = NewSession("dblib10.dll", File);
  AnsiString Value = "before";
  // Not connected: connection information fails without raising, whatever WantExceptions says.
  EXPECT_FALSE(S->GetConnectionInfo(ciEngineName, Value));
  EXPECT_EQ(S->GetLastErrorCode(), -101);
  EXPECT_EQ(Value, "before");
  S->SetServerType(stServer);
  S->Open();
  EXPECT_TRUE(S->GetConnectionInfo(ciEngineVersion, Value));
  EXPECT_EQ(Value.substr(0, 3), "10.");
  EXPECT_EQ(S->GetLibraryVersion(), Value);
  EXPECT_TRUE(S->GetProperty(ptServerAddress, Value));
  EXPECT_EQ(Value, "") << "shared memory has no address";

  EXPECT_FALSE(S->NeedQuotes("plain_name"));
  EXPECT_TRUE(S->NeedQuotes("two words"));
  EXPECT_TRUE(S->NeedQuotes("1st"));

  EXPECT_FALSE(S->IsWorking());
  EXPECT_TRUE(S->Stop()) << "nothing running: nothing to cancel";
  EXPECT_TRUE(S->TimeChange());
  S->Close();
  StopEngine(*S, "info");
}

}  // namespace
