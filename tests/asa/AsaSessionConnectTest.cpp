// TAsaSession end to end: connection strings, the three server modes against every client-library
// flavour, options read back from the server, transactions seen from a second connection, and
// the library's failures reaching the application with their texts and codes.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "tests/asa/AsaTestEnv.h"

namespace {

using zylasa::AsaTest;
using zylasa::ExecImm;
using zylasa::LibDir;
using zylasa::LoadFlavour;
using zylasa::QueryText;

bool StartsWith(const AnsiString& S, const AnsiString& Prefix) { return S.compare(0, Prefix.size(), Prefix) == 0; }

// ---- connection strings -----------------------------------------------------------------------

TEST(AsaConnectionString, DatabaseFileGivesEngineAndDatabaseNames) {
  TAsaSession S;
  S.SetLoginDatabase("C:\\data\\sales.db");
  EXPECT_EQ(S.ConnectString(), "eng=sales;dbn=sales");
  S.SetLoginUser("dba");
  EXPECT_EQ(S.ConnectString(), "eng=sales;dbn=sales;uid=dba");
  S.SetLoginPassword("   ");
  EXPECT_EQ(S.ConnectString(), "eng=sales;dbn=sales;uid=dba") << "a blank password adds nothing";
  S.SetLoginPassword(" sql");
  EXPECT_EQ(S.ConnectString(), "eng=sales;dbn=sales;uid=dba;pwd= sql") << "values are inserted as typed";
}

TEST(AsaConnectionString, EmptyPiecesLeaveNoSeparator) {
  TAsaSession S;
  EXPECT_EQ(S.ConnectString(), "");
  S.SetLoginUser("dba");
  EXPECT_EQ(S.ConnectString(), "uid=dba");
  S.SetClientParams("");
  S.SetLoginEngineName("srv");
  EXPECT_EQ(S.ConnectString(), "eng=srv;uid=dba");
  EXPECT_EQ(S.ConnectString().find(";;"), AnsiString::npos);
  S.SetClientParams("links=shmem");
  EXPECT_EQ(S.ConnectString(), "eng=srv;links=shmem;uid=dba");
  EXPECT_EQ(S.EngineConnectString(), "eng=srv;links=shmem");
}

TEST(AsaConnectionString, EngineNameWinsOverFilePrefix) {
  TAsaSession S;
  S.SetLoginDatabase("/srv/db/Orders.2024.db");
  EXPECT_EQ(S.EnginePiece(), "eng=Orders.2024");
  S.SetLoginEngineName("  ");
  EXPECT_EQ(S.EnginePiece(), "eng=Orders.2024") << "a blank engine name does not count";
  S.SetLoginEngineName("main");
  EXPECT_EQ(S.EnginePiece(), "eng=main");
  EXPECT_EQ(S.StartDatabaseString(), "eng=main;dbf=/srv/db/Orders.2024.db;dbn=Orders.2024");
  S.SetClientParams("cs=utf8");
  EXPECT_EQ(S.RemoteStartString(), "eng=main;cs=utf8;dbf=/srv/db/Orders.2024.db;dbn=Orders.2024");
  EXPECT_EQ(S.RemoteStopString(), "eng=main;cs=utf8;dbf=Orders.2024.db;dbn=Orders.2024")
      << "the remote stop names the file without its directory";
}

TEST(AsaConnectionString, StartLineCarriesTheDatabaseOnlyAboveVersionFive) {
  TAsaSession Old;
  LoadFlavour(Old, "dbl50t.dll");
  Old.SetLoginDatabase("/d/stock.db");
  Old.SetServerParams("-c 8M");
  EXPECT_EQ(Old.StartServerString(), "-c 8M;eng=stock");
  TAsaSession New;
  LoadFlavour(New, "dblib6.dll");
  New.SetLoginDatabase("/d/stock.db");
  New.SetServerParams("-c 8M");
  EXPECT_EQ(New.StartServerString(), "-c 8M;eng=stock;dbf=/d/stock.db;dbn=stock");
}

// ---- library loading and initialisation --------------------------------------------------------

TEST(AsaLibrary, VersionProbeAndArgumentRecordFollowTheFlavour) {
  struct Case {
    const char* File;
    int Version;
  } Cases[] = {{"dbl40t.dll", 4}, {"dbl50t.dll", 5}, {"dblib6.dll", 6}, {"dblib7.dll", 7},
               {"dblib8.dll", 8}, {"dblib9.dll", 9}, {"dblib10.dll", 10}};
  for (const Case& C : Cases) {
    TAsaSession S;
    LoadFlavour(S, C.File);
    EXPECT_EQ(S.Version(), C.Version) << C.File;
    EXPECT_EQ(S.ArgRecord() != nullptr, C.Version < 7) << C.File;
    EXPECT_EQ(std::memcmp(S.GetOwnSQLCA()->sqlcaid, "SQLCA", 5), 0);
    EXPECT_EQ(S.GetOwnSQLCA()->sqlcabc, 136);
    // The optional entry points exist from version 5 on in our flavours; version 4 lacks them.
    EXPECT_EQ(S.db_version_check == nullptr, C.Version == 4) << C.File;
    EXPECT_EQ(S.db_time_change == nullptr, C.Version == 4) << C.File;
  }
}

TEST(AsaLibrary, ArgumentRecordPointsAtTheInterfaceVersion) {
  for (auto [File, Constant] : {std::pair{"dbl40t.dll", 4}, {"dbl50t.dll", 4}, {"dblib6.dll", 6}}) {
    TAsaSession S;
    LoadFlavour(S, File);
    auto* Record = static_cast<uint8_t*>(S.ArgRecord());
    ASSERT_NE(Record, nullptr);
    for (int I = 0; I < 14; ++I) EXPECT_EQ(Record[I], 0) << File << " byte " << I;
    const uint16_t* First = nullptr;
    const uint16_t* Second = nullptr;
    std::memcpy(&First, Record + 14, sizeof First);
    std::memcpy(&Second, Record + 14 + sizeof First, sizeof Second);
    ASSERT_NE(First, nullptr);
    EXPECT_EQ(First, Second);
    EXPECT_EQ(*First, Constant) << File;
  }
}

class AsaLibraryFailure : public AsaTest {};

TEST_F(AsaLibraryFailure, MissingFileReportsTheLoaderText) {
  TAsaSession S;
  S.SetLibraryFile("nosuchdblib.dll");
  S.SetLoginDatabase(Dir.File("x.db"));
  try {
    S.Open();
    FAIL() << "no exception";
  } catch (const EZyloException& E) {
    EXPECT_EQ(E.GetErrorCode(), 0);
    EXPECT_TRUE(StartsWith(E.Message(), "Could not load the Database Interface library (nosuchdblib.dll,"))
        << E.Message();
    EXPECT_EQ(S.GetLastError(), E.Message());
  }
  EXPECT_FALSE(S.GetConnected());
  EXPECT_EQ(S.GetLibraryHandle(), nullptr);
}

TEST_F(AsaLibraryFailure, MissingDirectoryReportsThePath) {
  TAsaSession S;
  S.SetLibraryPath(Dir.File("no/such/dir"));
  try {
    S.Open();
    FAIL() << "no exception";
  } catch (const EZyloException& E) {
    EXPECT_TRUE(StartsWith(E.Message(), "Could not find database library path (" + Dir.File("no/such/dir") + "/,"))
        << E.Message();
  }
}

TEST_F(AsaLibraryFailure, MissingRequiredEntryPointSurfacesWhenCalled) {
  // The stand-in library has none of the client library's entry points: db_init holds
  // ZylDummyProc, so initialisation fails with its text and the library is not kept.
  TAsaSession S;
  S.SetLibraryPath(LibDir());
  S.SetLibraryFile("libzylstandin.so");
  try {
    S.Open();
    FAIL() << "no exception";
  } catch (const EZyloException& E) {
    EXPECT_EQ(E.GetErrorCode(), 0);
    EXPECT_EQ(E.Message(), "Function not supported by this version of the Database Interface library");
  }
  EXPECT_EQ(S.GetLibraryHandle(), nullptr);
  EXPECT_FALSE(S.GetConnected());
}

TEST_F(AsaLibraryFailure, MissingOptionalEntryPointsMakeTheirOperationsFalse) {
  TAsaSession S;
  LoadFlavour(S, "dbl40t.dll");
  AnsiString Value = "unchanged";
  EXPECT_FALSE(S.GetProperty(ptServerAddress, Value));
  EXPECT_EQ(Value, "unchanged");
  EXPECT_FALSE(S.TimeChange());
  S.OnLocateServers = [](TObject*, const AnsiString&, const AnsiString&, int32_t, bool&) {};
  EXPECT_FALSE(S.LocateServers());
}

// ---- connecting in the three modes -----------------------------------------------------------

class AsaFlavourConnect : public AsaTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(AsaFlavourConnect, ServerModeStartsConnectsAndAppliesOptions) {
  std::string File = CreateDb("sales");
  auto S = NewSession(GetParam(), File);
  S->SetServerType(stServer);
  S->SetTransIsolation(atSerializable);
  S->Open();
  ASSERT_TRUE(S->GetConnected());
  EXPECT_EQ(S->GetHandle(), S->GetOwnSQLCA());
  EXPECT_EQ(S->GetServerVersion(), S->Version()) << "each flavour's engine reports its own major version";

  AnsiString Value;
  ASSERT_TRUE(S->GetOption("isolation_level", Value)) << S->GetLastError();
  EXPECT_EQ(Value, "3");
  ASSERT_TRUE(S->GetOption("row_counts", Value));
  EXPECT_TRUE(SameText(Value, "ON")) << Value;
  ASSERT_TRUE(S->GetOption("ansi_update_constraints", Value));
  EXPECT_TRUE(SameText(Value, "OFF")) << Value;

  S->SetWantRowCounts(false);
  ASSERT_TRUE(S->GetOption("row_counts", Value));
  EXPECT_TRUE(SameText(Value, "OFF")) << Value;
  S->SetTransIsolation(atReadCommitted);
  ASSERT_TRUE(S->GetOption("isolation_level", Value));
  EXPECT_EQ(Value, "1");
  S->SetTransIsolation(atUnchanged);
  ASSERT_TRUE(S->GetOption("isolation_level", Value));
  EXPECT_EQ(Value, "1") << "atUnchanged sets nothing";

  AnsiString Engine;
  EXPECT_TRUE(S->GetConnectionInfo(ciEngineName, Engine));
  EXPECT_TRUE(SameText(Engine, "sales")) << Engine;
  EXPECT_TRUE(S->GetConnectionInfo(ciDatabaseName, Engine));
  EXPECT_TRUE(SameText(Engine, "sales")) << Engine;
  EXPECT_EQ(S->GetLibraryVersion().substr(0, S->GetLibraryVersion().find('.')),
            std::to_string(S->GetServerVersion()));
  S->Close();
  EXPECT_FALSE(S->GetConnected());
  StopEngine(*S, "sales");
}

TEST_P(AsaFlavourConnect, CommitAndRollbackAreSeenByASecondConnection) {
  std::string File = CreateDb("shop");
  auto A = NewSession(GetParam(), File);
  A->SetServerType(stServer);
  A->Open();
  ASSERT_EQ(ExecImm(*A, "CREATE TABLE t (n INTEGER)"), 0);
  A->Commit();
  auto B = NewSession(GetParam(), File);  // client mode: the server A started is running
  B->Open();
  ASSERT_TRUE(B->GetConnected());

  A->StartTransaction();
  ASSERT_EQ(ExecImm(*A, "INSERT INTO t VALUES (1)"), 0);
  A->Rollback();
  EXPECT_FALSE(A->GetInTransaction());
  EXPECT_EQ(QueryText(*B, "SELECT COUNT(*) FROM t"), "0");

  ASSERT_EQ(ExecImm(*A, "INSERT INTO t VALUES (2)"), 0);
  A->Commit();
  EXPECT_EQ(QueryText(*B, "SELECT COUNT(*) FROM t"), "1");
  EXPECT_EQ(QueryText(*B, "SELECT MAX(n) FROM t"), "2");

  // CommitOnDisconnect (the default) commits pending work before disconnecting.
  ASSERT_EQ(ExecImm(*A, "INSERT INTO t VALUES (3)"), 0);
  A->Close();
  EXPECT_EQ(QueryText(*B, "SELECT COUNT(*) FROM t"), "2");
  B->SetCommitOnDisconnect(false);
  ASSERT_EQ(ExecImm(*B, "INSERT INTO t VALUES (4)"), 0);
  B->Close();
  A->Open();
  EXPECT_EQ(QueryText(*A, "SELECT COUNT(*) FROM t"), "2") << "without CommitOnDisconnect the work is lost";
  A->Close();
  StopEngine(*A, "shop");
}

TEST_P(AsaFlavourConnect, WrongPasswordReportsTheServerText) {
  std::string File = CreateDb("locked");
  auto S = NewSession(GetParam(), File);
  S->SetServerType(stServer);
  S->SetLoginPassword("wrong");
  try {
    S->Open();
    FAIL() << "no exception";
  } catch (const EAsaException& E) {
    EXPECT_EQ(E.GetErrorCode(), -103);
    EXPECT_EQ(E.Message(), "Error -103: Invalid user ID or password (28000)");
    EXPECT_EQ(S->GetLastErrorCode(), -103);
  }
  EXPECT_FALSE(S->GetConnected());
  // The server this connect started was stopped again.
  S->SetWantExceptions(false);
  EXPECT_FALSE(S->Ping("eng=locked"));
  EXPECT_EQ(S->GetLastErrorCode(), -100);
}

INSTANTIATE_TEST_SUITE_P(Flavours, AsaFlavourConnect,
                         ::testing::Values("dbl40t.dll", "dbl50t.dll", "dblib6.dll", "dblib7.dll", "dblib8.dll",
                                           "dblib9.dll", "dblib10.dll"),
                         [](const auto& Info) {
                           std::string N = Info.param;
                           return N.substr(0, N.find('.'));
                         });

class AsaConnect : public AsaTest {};

TEST_F(AsaConnect, ClientModeWithoutServerFailsWithServerNotFound) {
  auto S = NewSession("dblib10.dll", Dir.File("none.db"));
  try {
    S->Open();
    FAIL() << "no exception";
  } catch (const EAsaException& E) {
    EXPECT_EQ(E.GetErrorCode(), -100);
    EXPECT_TRUE(StartsWith(E.Message(), "Error -100: ")) << E.Message();
    EXPECT_NE(E.Message().find("(08W01)"), AnsiString::npos) << E.Message();
  }
  EXPECT_FALSE(S->GetConnected());
}

TEST_F(AsaConnect, OldLibrariesStopTheEngineAfterAFailedClientLogon) {
  // Up to version 5 a failed logon stops the engine named in the string; from 6 on it stays.
  for (auto [Flavour, Stays] : {std::pair{"dbl50t.dll", false}, {"dblib6.dll", true}}) {
    std::string File = CreateDb(std::string("logon") + Flavour[4]);
    std::string Engine = ZylExtractFilePrefix(File);
    auto S = NewSession(Flavour, File);
    S->InternalNeedLibrary();
    std::string Start = "eng=" + Engine + ";dbf=" + File;
    ASSERT_TRUE(S->db_start_engine(S->GetOwnSQLCA(), Start.data())) << Flavour;
    S->SetLoginPassword("bad");
    EXPECT_THROW(S->Open(), EAsaException);
    EXPECT_EQ(S->GetLastErrorCode(), -103) << "the code survives the engine stop";
    S->SetWantExceptions(false);
    EXPECT_EQ(S->Ping("eng=" + Engine), Stays) << Flavour;
    StopEngine(*S, Engine);
  }
}

TEST_F(AsaConnect, WorkgroupModeStartsAServerWhenNoneRuns) {
  std::string File = CreateDb("team");
  auto S = NewSession("dblib9.dll", File);
  S->SetServerType(stWorkgroup);
  S->Open();
  EXPECT_TRUE(S->GetConnected());
  auto Other = NewSession("dblib9.dll", File);
  Other->SetServerType(stWorkgroup);
  Other->Open();  // the server runs now: a plain connect
  EXPECT_TRUE(Other->GetConnected());
  Other->Close();
  S->Close();
  EXPECT_TRUE(S->Ping("eng=team")) << "a server started by a successful connect stays running";
  StopEngine(*S, "team");
}

TEST_F(AsaConnect, WorkgroupModeStopsTheServerItStartedWhenTheConnectFails) {
  std::string File = CreateDb("team2");
  auto S = NewSession("dblib10.dll", File);
  S->SetServerType(stWorkgroup);
  S->SetLoginUser("nobody");
  EXPECT_THROW(S->Open(), EAsaException);
  EXPECT_LT(S->GetLastErrorCode(), 0);
  S->SetWantExceptions(false);
  EXPECT_FALSE(S->Ping("eng=team2"));
}

TEST_F(AsaConnect, ServerModeLeavesAServerItDidNotStartRunning) {
  std::string File = CreateDb("kept");
  auto Owner = NewSession("dblib10.dll", File);
  Owner->SetServerType(stServer);
  Owner->Open();
  auto S = NewSession("dblib10.dll", File);
  S->SetServerType(stServer);
  S->SetLoginPassword("bad");
  EXPECT_THROW(S->Open(), EAsaException);
  EXPECT_EQ(S->GetLastErrorCode(), -103);
  EXPECT_TRUE(Owner->Ping("eng=kept"));
  Owner->Close();
  StopEngine(*Owner, "kept");
}

TEST_F(AsaConnect, ServerModeNeverReachesAnotherFileOfTheSameBaseName) {
  // Two files named ledger.db in two folders: one engine "ledger" would serve both under the
  // database name "ledger". The second start must fail, not connect to the first file.
  std::string First = CreateDb("ledger");
  std::filesystem::create_directory(Dir.File("other"));
  std::string Second = Dir.File("other/ledger.db");
  std::filesystem::copy_file(First, Second);
  auto A = NewSession("dblib10.dll", First);
  A->SetServerType(stServer);
  A->Open();
  ASSERT_EQ(ExecImm(*A, "CREATE TABLE only_in_first (n INTEGER)"), 0);
  A->Commit();
  auto B = NewSession("dblib10.dll", Second);
  B->SetServerType(stServer);
  try {
    B->Open();
    ADD_FAILURE() << "connected; the table of the first file is "
                  << QueryText(*B, "SELECT COUNT(*) FROM only_in_first");
  } catch (const EAsaException& E) {
    EXPECT_EQ(E.GetErrorCode(), -77) << E.Message();
  }
  EXPECT_FALSE(B->GetConnected());
  A->Close();
  StopEngine(*A, "ledger");
}

TEST_F(AsaConnect, ChangingServerTypeClosesTheConnection) {
  std::string File = CreateDb("mode");
  auto S = NewSession("dblib10.dll", File);
  S->SetServerType(stServer);
  S->Open();
  S->SetServerType(stServer);
  EXPECT_TRUE(S->GetConnected()) << "the same value changes nothing";
  S->SetServerType(stClient);
  EXPECT_FALSE(S->GetConnected());
  EXPECT_EQ(S->GetServerType(), stClient);
  S->Open();  // the server is still running: client mode reaches it
  EXPECT_TRUE(S->GetConnected());
  S->Close();
  StopEngine(*S, "mode");
}

TEST_F(AsaConnect, UtilityDatabaseGetsNoOptions) {
  TAsaSession S;
  S.SetLibraryPath(LibDir());
  S.SetLibraryFile("dblib10.dll");
  S.SetLoginEngineName("util");
  S.SetClientParams("dbn=utility_db");
  S.SetLoginUser("DBA");
  S.SetLoginPassword("x");
  S.SetWantExceptions(true);
  int Requests = 0;
  S.OnServerStart = [&](TObject*) { ++Requests; };
  S.Open();
  ASSERT_TRUE(S.GetConnected());
  // After the connect only the two connection-information requests ran (engine version and
  // database name); applying options would have read and set them.
  EXPECT_EQ(Requests, 2);
  S.Close();
  StopEngine(S, "util");
}

TEST_F(AsaConnect, OptionsAreAppliedOnConnect) {
  std::string File = CreateDb("opts");
  auto S = NewSession("dblib10.dll", File);
  S->SetServerType(stServer);
  S->SetWantRowCounts(false);
  S->Open();
  AnsiString Value;
  ASSERT_TRUE(S->GetOption("row_counts", Value));
  EXPECT_TRUE(SameText(Value, "OFF")) << Value;
  S->SetWantExceptions(false);
  EXPECT_FALSE(S->SetOption("isolation_level", "banana"));
  EXPECT_LT(S->GetLastErrorCode(), 0);
  EXPECT_TRUE(StartsWith(S->GetLastError(), "Error ")) << S->GetLastError();
  S->SetWantExceptions(true);
  EXPECT_THROW(S->SetOption("isolation_level", "banana"), EAsaException);
  S->Close();
  StopEngine(*S, "opts");
}

TEST_F(AsaConnect, AttachedHandleMustBeAnSqlca) {
  std::string File = CreateDb("attach");
  auto Owner = NewSession("dblib10.dll", File);
  Owner->SetServerType(stServer);
  Owner->Open();
  ASSERT_EQ(ExecImm(*Owner, "CREATE TABLE a (n INTEGER)"), 0);
  Owner->Commit();

  auto S = NewSession("dblib10.dll", File);
  char NotAnSqlca[16] = "SQLDA";
  try {
    S->SetHandle(NotAnSqlca);
    FAIL() << "no exception";
  } catch (const EAsaException& E) {
    EXPECT_EQ(E.Message(), "Invalid database handle");
    EXPECT_EQ(E.GetErrorCode(), 0);
  }
  EXPECT_FALSE(S->GetConnected());

  S->SetHandle(Owner->GetOwnSQLCA());
  ASSERT_TRUE(S->GetConnected());
  EXPECT_EQ(S->GetSQLCA(), Owner->GetOwnSQLCA());
  ASSERT_EQ(ExecImm(*S, "INSERT INTO a VALUES (7)"), 0);
  S->Commit();
  S->Close();
  EXPECT_TRUE(Owner->GetConnected());
  EXPECT_EQ(S->GetSQLCA(), S->GetOwnSQLCA());
  EXPECT_EQ(QueryText(*Owner, "SELECT n FROM a"), "7") << "the foreign connection stays open";
  Owner->Close();
  StopEngine(*Owner, "attach");
}

}  // namespace

namespace {

// ---- streaming ----------------------------------------------------------------------------------

TEST(AsaSessionStreaming, PropertiesRoundTripAndDefaultsAreNotWritten) {
  TAsaSession S;
  S.SetName("Sales");
  AnsiString Plain = ComponentToText(&S);
  EXPECT_EQ(Plain.find("LibraryFile"), AnsiString::npos) << Plain;
  EXPECT_EQ(Plain.find("ServerType"), AnsiString::npos) << Plain;
  EXPECT_EQ(Plain.find("WantRowCounts"), AnsiString::npos) << Plain;

  S.SetLibraryFile("dblib9.dll");
  S.SetLoginEngineName("main");
  S.SetServerType(stWorkgroup);
  S.SetTransIsolation(atReadCommitted);
  S.SetWantRowCounts(false);
  S.SetTrimBlanks(true);
  S.SetClientParams("links=shmem");
  AnsiString Text = ComponentToText(&S);
  std::unique_ptr<TComponent> Copy(TextToComponent(Text));
  auto* C = dynamic_cast<TAsaSession*>(Copy.get());
  ASSERT_NE(C, nullptr) << Text;
  EXPECT_EQ(C->GetLibraryFile(), "dblib9.dll");
  EXPECT_EQ(C->GetLoginEngineName(), "main");
  EXPECT_EQ(C->GetServerType(), stWorkgroup);
  EXPECT_EQ(C->GetTransIsolation(), atReadCommitted);
  EXPECT_FALSE(C->GetWantRowCounts());
  EXPECT_TRUE(C->GetTrimBlanks());
  EXPECT_EQ(C->GetClientParams(), "links=shmem");
  EXPECT_FALSE(C->GetConnected());
}

}  // namespace

// Each connect enters the library's folder for a while; sessions connecting on several threads at
// once must still leave the process in the folder it was in (the fixture checks at the end).
TEST_F(AsaConnect, SessionsConnectingOnSeveralThreadsLeaveTheCurrentDirectoryAlone) {
  const std::string File = CreateDb("threads");
  std::vector<std::thread> Threads;
  std::atomic<int> Connected{0};
  for (int T = 0; T < 4; ++T)
    Threads.emplace_back([&] {
      for (int K = 0; K < 5; ++K) {
        std::unique_ptr<TAsaSession> S = NewSession("dblib10.dll", File);
        S->SetServerType(stServer);
        S->Open();
        Connected += S->GetConnected();
        S->Close();
      }
    });
  for (auto& T : Threads) T.join();
  EXPECT_EQ(Connected.load(), 20);
  StopEngine(*NewSession("dblib10.dll", File), "threads");
}
