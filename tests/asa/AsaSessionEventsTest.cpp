// TAsaSession events and the error record: connection events and library callbacks in order,
// several sessions with callbacks at once, bindings released, the -308 disconnect rule, warnings
// that never raise, and the pushed error.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "asa/AsaLibrary.h"
#include "tests/asa/AsaTestEnv.h"

namespace {

using zylasa::AsaTest;
using zylasa::ExecImm;

using TLog = std::vector<std::string>;

bool StartsWith(const AnsiString& S, const AnsiString& Prefix) { return S.compare(0, Prefix.size(), Prefix) == 0; }
bool EndsWith(const AnsiString& S, const AnsiString& Suffix) {
  return S.size() >= Suffix.size() && S.compare(S.size() - Suffix.size(), Suffix.size(), Suffix) == 0;
}

class AsaEvents : public AsaTest {
 protected:
  // A started server on a fresh database and a session (not yet connected) in client mode.
  std::unique_ptr<TAsaSession> ServedSession(const std::string& Name, const char* Flavour = "dblib10.dll") {
    std::string File = CreateDb(Name);
    Server = NewSession(Flavour, File);
    Server->InternalNeedLibrary();
    std::string Start = "eng=" + Name + ";dbf=" + File;
    EXPECT_TRUE(Server->db_start_engine(Server->GetOwnSQLCA(), Start.data()));
    Engine = Name;
    return NewSession(Flavour, File);
  }
  void TearDown() override {
    if (Server) StopEngine(*Server, Engine);
    AsaTest::TearDown();
  }
  std::unique_ptr<TAsaSession> Server;
  std::string Engine;
};

TEST_F(AsaEvents, ConnectionEventsAndRequestCallbacksComeInOrder) {
  auto S = ServedSession("order");
  TLog Log;
  S->BeforeConnect = [&](TObject*) { Log.push_back("BeforeConnect"); };
  S->AfterConnect = [&](TObject*) { Log.push_back("AfterConnect"); };
  S->BeforeDisconnect = [&](TObject*) { Log.push_back("BeforeDisconnect"); };
  S->AfterDisconnect = [&](TObject*) { Log.push_back("AfterDisconnect"); };
  S->OnServerStart = [&](TObject* Sender) {
    EXPECT_EQ(Sender, S.get());
    Log.push_back("start");
  };
  S->OnServerFinish = [&](TObject*) { Log.push_back("finish"); };
  S->Open();
  Log.clear();  // the connect's own requests (information, options) are not the point here
  ASSERT_EQ(ExecImm(*S, "SELECT 1"), 0);
  EXPECT_EQ(Log, (TLog{"start", "finish"}));
  Log.clear();
  S->Close();
  ASSERT_GE(Log.size(), 3u);
  EXPECT_EQ(Log.front(), "BeforeDisconnect");
  EXPECT_EQ(Log.back(), "AfterDisconnect");
  // The commit and the disconnect ran as requests between the two.
  EXPECT_EQ(Log[1], "start");
  Log.clear();
  ASSERT_EQ(ExecImm(*S, "SELECT 1"), -101);
  EXPECT_TRUE(Log.empty()) << "callbacks are unregistered on disconnect";
}

TEST_F(AsaEvents, ServerMessagesReachTheirOwnSession) {
  auto A = ServedSession("msgs");
  auto B = NewSession("dblib10.dll", A->GetLoginDatabase());
  TLog GotA, GotB;
  A->OnServerMessage = [&](TObject* Sender, TServerMessageType Type, int32_t Code, const AnsiString& Msg) {
    EXPECT_EQ(Sender, A.get());
    GotA.push_back(std::to_string(Type) + ":" + Msg);
  };
  B->OnServerMessage = [&](TObject* Sender, TServerMessageType Type, int32_t, const AnsiString& Msg) {
    EXPECT_EQ(Sender, B.get());
    GotB.push_back(std::to_string(Type) + ":" + Msg);
  };
  A->Open();
  B->Open();
  ASSERT_EQ(ExecImm(*A, "CREATE PROCEDURE hello(IN who CHAR(10)) BEGIN MESSAGE 'hello ', who TYPE WARNING TO CLIENT; "
                        "MESSAGE 'done' TYPE INFO TO CLIENT; END"),
            0);
  A->Commit();
  ASSERT_EQ(ExecImm(*A, "CALL hello('a')"), 0);
  ASSERT_EQ(ExecImm(*B, "CALL hello('b')"), 0);
  EXPECT_EQ(GotA, (TLog{"2:hello a", "1:done"}));
  EXPECT_EQ(GotB, (TLog{"2:hello b", "1:done"}));
  EXPECT_EQ(asa_detail::CallbackBindingCount(), 2);
  A->Close();
  EXPECT_EQ(asa_detail::CallbackBindingCount(), 1) << "A's binding is released, B's kept";
  ASSERT_EQ(ExecImm(*B, "CALL hello('c')"), 0);
  EXPECT_EQ(GotB.size(), 4u);
  B->Close();
  EXPECT_EQ(asa_detail::CallbackBindingCount(), 0);
}

TEST(AsaCallbackTargets, MessageTypesAndLengthsAreMapped) {
  TAsaSession S;
  std::vector<std::pair<TServerMessageType, AnsiString>> Got;
  S.OnServerMessage = [&](TObject*, TServerMessageType Type, int32_t Code, const AnsiString& Msg) {
    Got.emplace_back(Type, Msg);
  };
  const char Text[] = "abcdef";
  S.DoServerMessage(MESSAGE_TYPE_INFO, 0, 3, Text);
  S.DoServerMessage(MESSAGE_TYPE_WARNING, 0, 6, Text);
  S.DoServerMessage(MESSAGE_TYPE_ACTION, 0, 0, Text);
  S.DoServerMessage(MESSAGE_TYPE_STATUS, 0, 1, Text);
  S.DoServerMessage(MESSAGE_TYPE_PROGRESS, 0, 1, Text);
  S.DoServerMessage(200, 0, 1, Text);
  ASSERT_EQ(Got.size(), 6u);
  EXPECT_EQ(Got[0], std::make_pair(smtInfo, AnsiString("abc"))) << "the length counts, not a NUL";
  EXPECT_EQ(Got[1], std::make_pair(smtWarning, AnsiString("abcdef")));
  EXPECT_EQ(Got[2], std::make_pair(smtAction, AnsiString()));
  EXPECT_EQ(Got[3].first, smtStatus);
  EXPECT_EQ(Got[4].first, smtUnknown);
  EXPECT_EQ(Got[5].first, smtUnknown);

  std::string Long(40000, 'x');
  S.DoServerMessage(MESSAGE_TYPE_INFO, 0, 40000, Long.data());
  EXPECT_EQ(Got.back().second.size(), 32766u);
}

TEST(AsaCallbackTargets, DebugOutputIsCutAtLineEnds) {
  TAsaSession S;
  TLog Got;
  S.OnDebugMessage = [&](TObject*, const AnsiString& Msg) { Got.push_back(Msg); };
  S.DoDebugMessage("one\r\ntwo\n\n\rthree");
  EXPECT_EQ(Got, (TLog{"one", "two", "three"}));
  Got.clear();
  S.DoDebugMessage("\nlead\n");
  EXPECT_EQ(Got, (TLog{"", "lead"})) << "a leading line end yields one empty piece first";
  Got.clear();
  S.DoDebugMessage("");
  S.DoDebugMessage(nullptr);
  EXPECT_TRUE(Got.empty());
}

TEST_F(AsaEvents, DebugOutputArrivesFromConnectOnAndStopsAtDisconnect) {
  auto S = ServedSession("debug");
  S->SetClientParams("LOG=" + Dir.File("client.log"));
  TLog Got;
  S->OnDebugMessage = [&](TObject*, const AnsiString& Msg) { Got.push_back(Msg); };
  S->Open();
  ASSERT_FALSE(Got.empty()) << "registered before the connect, so the connect itself reports";
  for (const std::string& Piece : Got) EXPECT_EQ(Piece.find('\n'), std::string::npos);
  size_t Before = Got.size();
  ASSERT_EQ(ExecImm(*S, "SELECT 42"), 0);
  ASSERT_GT(Got.size(), Before);
  EXPECT_NE(Got.back().find("SELECT 42"), std::string::npos) << Got.back();
  S->Close();
  EXPECT_EQ(asa_detail::CallbackBindingCount(), 0);
}

TEST_F(AsaEvents, FailedConnectLeavesNoCallbackRegistered) {
  auto S = ServedSession("failcb");
  S->SetClientParams("LOG=" + Dir.File("client.log"));
  S->SetLoginPassword("wrong");
  int Debug = 0;
  S->OnDebugMessage = [&](TObject*, const AnsiString&) { ++Debug; };
  S->OnServerStart = [&](TObject*) { ADD_FAILURE() << "start callback registered by a failed connect"; };
  EXPECT_THROW(S->Open(), EAsaException);
  EXPECT_EQ(asa_detail::CallbackBindingCount(), 0);
  S->SetLoginPassword("sql");
  S->OnServerStart = nullptr;
  S->OnDebugMessage = nullptr;
  S->Open();
  int Seen = Debug;
  ASSERT_EQ(ExecImm(*S, "SELECT 1"), 0);
  EXPECT_EQ(Debug, Seen) << "the debug callback of the failed attempt is gone";
  S->Close();
}

TEST_F(AsaEvents, HandlersAreNotCalledWhileTheSessionIsDestroyed) {
  auto S = ServedSession("dtor");
  int Starts = 0;
  S->OnServerStart = [&](TObject*) { ++Starts; };
  S->Open();
  ASSERT_EQ(ExecImm(*S, "SELECT 1"), 0);
  int Seen = Starts;
  ASSERT_GT(Seen, 0);
  S.reset();  // commits and disconnects: requests whose callbacks must not reach the handler
  EXPECT_EQ(Starts, Seen);
  EXPECT_EQ(asa_detail::CallbackBindingCount(), 0);
}

TEST_F(AsaEvents, DesignModeRegistersNoCallbacks) {
  auto S = ServedSession("design");
  S->SetDesigning(true);
  int Starts = 0;
  S->OnServerStart = [&](TObject*) { ++Starts; };
  S->OnDebugMessage = [&](TObject*, const AnsiString&) { ++Starts; };
  S->SetClientParams("LOG=" + Dir.File("client.log"));
  S->Open();
  ASSERT_EQ(ExecImm(*S, "SELECT 1"), 0);
  EXPECT_EQ(Starts, 0);
  EXPECT_EQ(asa_detail::CallbackBindingCount(), 0);
  S->Close();
}

TEST_F(AsaEvents, ServerEndingTheConnectionClosesTheSessionOnce) {
  auto S = ServedSession("drop");
  int Terminated = 0, Dropped = 0, Errors = 0;
  S->OnConnectionTerminated = [&](TObject*) { ++Terminated; };
  S->OnConnectionDropped = [&](TObject*) { ++Dropped; };
  S->OnError = [&](TObject*) { ++Errors; };
  S->Open();
  StopEngine(*Server, "drop");  // unconditionally: the server drops the connection
  Server.reset();
  S->SetWantExceptions(false);
  AnsiString Value;
  EXPECT_FALSE(S->GetOption("row_counts", Value));
  EXPECT_FALSE(S->GetConnected());
  EXPECT_EQ(Terminated, 1);
  EXPECT_EQ(Dropped, 1);
  EXPECT_EQ(Errors, 1);
  EXPECT_EQ(S->GetLastErrorCode(), -308);
  EXPECT_EQ(S->GetLastError(), "Error -308: Connection was terminated");
  // Further failures on the closed session do not fire the rule again.
  EXPECT_FALSE(S->GetOption("row_counts", Value));
  EXPECT_EQ(Terminated, 1);
  EXPECT_EQ(S->GetLastErrorCode(), -101);
}

TEST_F(AsaEvents, TerminationWithPreparedStatementsClosesOnce) {
  // Closing unprepares the statements and fires BeforeDisconnect; library calls made there fail
  // the same way and must not start a second close.
  auto S = ServedSession("drop2");
  int Terminated = 0, Disconnects = 0, Before = 0;
  S->OnConnectionTerminated = [&](TObject*) { ++Terminated; };
  S->AfterDisconnect = [&](TObject*) { ++Disconnects; };
  S->BeforeDisconnect = [&](TObject*) {
    ++Before;
    AnsiString Saved;
    if (Before < 3) S->GetOption("isolation_level", Saved);  // an application saving its settings
  };
  S->Open();
  TAsaSQL Q(nullptr);
  Q.SetSession(S.get());
  Q.SetWantExceptions(false);
  Q.PrepareOpen("SELECT 1");
  TAsaSQL Q2(nullptr);
  Q2.SetSession(S.get());
  Q2.PrepareExecute("SELECT 2");
  ASSERT_TRUE(Q.GetPrepared());
  StopEngine(*Server, "drop2");
  Server.reset();
  S->SetWantExceptions(false);
  AnsiString Value;
  EXPECT_FALSE(S->GetOption("row_counts", Value));
  EXPECT_FALSE(S->GetConnected());
  EXPECT_FALSE(Q.GetPrepared());
  EXPECT_FALSE(Q2.GetExecPrepared());
  EXPECT_EQ(Terminated, 1);
  EXPECT_EQ(Disconnects, 1);
  EXPECT_EQ(Before, 1);
  EXPECT_EQ(S->GetLastError(), "Error -308: Connection was terminated");
}

TEST_F(AsaEvents, WarningsNeverRaiseErrorsRaiseWhenAsked) {
  auto S = ServedSession("check");
  int Errors = 0;
  S->OnError = [&](TObject*) { ++Errors; };
  S->Open();
  ASSERT_EQ(ExecImm(*S, "CREATE TABLE e (n INTEGER)"), 0);
  ASSERT_EQ(zylasa::QueryText(*S, "SELECT n FROM e"), "<none>");  // leaves SQLCODE 100 in the SQLCA
  ASSERT_EQ(S->GetSQLCA()->sqlcode, 100);
  EXPECT_FALSE(S->Check(nullptr, 0, 0, true));
  EXPECT_EQ(S->GetLastErrorCode(), 100);
  EXPECT_TRUE(StartsWith(S->GetLastError(), "Warning: ")) << S->GetLastError();
  EXPECT_TRUE(EndsWith(S->GetLastError(), "(02000)")) << S->GetLastError();
  EXPECT_EQ(Errors, 0);

  ASSERT_LT(ExecImm(*S, "SELEC nonsense"), 0);
  int32_t Code = S->GetSQLCA()->sqlcode;
  EXPECT_FALSE(S->Check(nullptr, 0, 0, false));
  EXPECT_EQ(Errors, 1);
  EXPECT_TRUE(StartsWith(S->GetLastError(), "Error " + std::to_string(Code) + ": ")) << S->GetLastError();
  EXPECT_EQ(S->GetLastError().back(), ')');
  try {
    S->Check(nullptr, 0, 0, true);
    FAIL() << "no exception";
  } catch (const EAsaException& E) {
    EXPECT_EQ(E.GetErrorCode(), Code);
    EXPECT_EQ(E.Message(), S->GetLastError());
  }
  EXPECT_TRUE(S->GetConnected()) << "an ordinary error keeps the connection";

  // The pushed error survives clean-up calls and comes back.
  EXPECT_EQ(S->CheckPushError(), Code);
  ASSERT_EQ(ExecImm(*S, "SELECT 1"), 0);
  EXPECT_TRUE(S->Check(nullptr, 0, 0, true));
  EXPECT_EQ(S->GetLastError(), "");
  EXPECT_FALSE(S->CheckPopError(false));
  EXPECT_EQ(S->GetLastErrorCode(), Code);
  EXPECT_THROW(S->CheckPopError(true), EAsaException);
  S->Close();
}

TEST_F(AsaEvents, ServerTextIsTranslatedFromOemWhenAsked) {
  auto S = ServedSession("oem");
  S->Open();
  // The missing table's name comes back inside the message: 0xE9 is 'Ú' in the OEM code page,
  // 0xDA in the ANSI one.
  ASSERT_LT(ExecImm(*S, "SELECT * FROM t\xE9x"), 0);
  S->Check(nullptr, 0, 0, false);
  EXPECT_NE(S->GetLastError().find("t\xE9x"), AnsiString::npos) << S->GetLastError();
  S->SetOEMConvert(true);
  S->Check(nullptr, 0, 0, false);
  EXPECT_NE(S->GetLastError().find("t\xDAx"), AnsiString::npos) << S->GetLastError();
  S->Close();
}

TEST_F(AsaEvents, WaitHandlerCanCancelALongRequest) {
  auto S = ServedSession("wait");
  int Waits = 0;
  S->OnServerWait = [&](TObject*, bool& Abort) {
    ++Waits;
    Abort = Waits >= 2;
  };
  S->Open();
  int Code = ExecImm(*S,
                     "SELECT COUNT(*) FROM (WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c WHERE "
                     "n < 2000000000) SELECT n FROM c) AS x");
  EXPECT_GE(Waits, 2);
  EXPECT_EQ(Code, -299);
  S->Close();
}

}  // namespace
