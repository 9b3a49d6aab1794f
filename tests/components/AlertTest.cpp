// TAsaAlert against our DBLIB's alert procedures: delivery between connections in order, the
// subscription text, result codes and their exceptions, time-outs with and without a handler,
// Stop from outside, from inside OnReceive and while the receive waits in the server, restarts
// from OnStopped, failures shown by the termination handler, and the owner prefix.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "host/Platform.h"
#include "tests/components/AlertEnv.h"

namespace {

using zylalert::AlertTest;
using zylalert::PumpUntil;
using zylalert::Subscribed;
using zylasa::QueryText;

struct TReceived {
  std::string Name, Msg;
  int32_t Param;
};

// Records every message an alert receives.
void Collect(TAsaAlert& A, std::vector<TReceived>& Into) {
  A.OnReceive = [&Into](TObject*, const AnsiString& Name, const AnsiString& Msg, int32_t Param) {
    Into.push_back({Name, Msg, Param});
  };
}

// Captures message boxes for the duration of a test.
struct TMessageBoxes {
  std::vector<std::string> Texts;
  TMessageBoxHandler Old;
  TMessageBoxes() {
    Old = SetMessageBoxHandler([this](LPCSTR Text, LPCSTR Caption, UINT) {
      Texts.push_back(std::string(Caption) + ": " + Text);
      return IDOK;
    });
  }
  ~TMessageBoxes() { SetMessageBoxHandler(Old); }
};

TEST_F(AlertTest, MessagesFromAnotherConnectionArriveOnceInOrder) {
  Prepare();
  TAsaAlert* Listener = NewAlert(Main, "orders;stock");
  std::vector<TReceived> Got;
  Collect(*Listener, Got);
  int Stopped = 0;
  Listener->OnStopped = [&](TObject*) { ++Stopped; };
  EXPECT_EQ(Listener->SubscribingFor(), "") << "no listener yet";
  Listener->Start();
  EXPECT_TRUE(Listener->IsWaiting());
  EXPECT_EQ(Listener->SubscribingFor(), "orders;stock");
  ASSERT_TRUE(Listener->GetListenerSession()->GetConnected()) << "a connection of its own";
  ASSERT_TRUE(Subscribed(*Listener));

  TAsaAlert* Sender = NewAlert(Connect(), "");
  Sender->Send("orders", "first", 1);
  Sender->Send("STOCK", "second", 2);  // names compare without case
  Sender->Send("orders", "", -3);
  ASSERT_TRUE(PumpUntil([&] { return Got.size() >= 3; }));
  ASSERT_EQ(Got.size(), 3u);
  EXPECT_EQ(Got[0].Name, "orders");
  EXPECT_EQ(Got[0].Msg, "first");
  EXPECT_EQ(Got[0].Param, 1);
  EXPECT_EQ(Got[1].Msg, "second");
  EXPECT_EQ(Got[2].Msg, "");
  EXPECT_EQ(Got[2].Param, -3);

  // Clear drops what waits under a name; a message for a name nobody subscribed to is refused.
  Listener->Stop();
  EXPECT_FALSE(Listener->IsWaiting());
  EXPECT_EQ(Listener->SubscribingFor(), "");
  ASSERT_TRUE(PumpUntil([&] { return Stopped == 1; }));
  EXPECT_FALSE(Listener->GetListenerSession()->GetConnected()) << "closed when the listener ended";
  EXPECT_EQ(QueryText(*Main, "select count(*) from zyl_alert_sub"), "0") << "the listener unsubscribed";
  try {
    Sender->Send("orders", "nobody", 0);
    ADD_FAILURE() << "no subscriber: the send must fail";
  } catch (const EAsaAlertException& E) {
    EXPECT_EQ(E.GetErrorCode(), -6);
    EXPECT_STREQ(E.what(), "No subscribers registered for this message");
  }
  EXPECT_NO_THROW(Sender->Clear("orders"));

  // Started again, it receives again.
  Listener->Start();
  ASSERT_TRUE(Subscribed(*Listener));
  Sender->Send("orders", "again", 4);
  ASSERT_TRUE(PumpUntil([&] { return Got.size() == 4; }));
  EXPECT_EQ(Got[3].Msg, "again");
  Listener->Stop();
  EXPECT_TRUE(PumpUntil([&] { return Stopped == 2; }));
}

TEST_F(AlertTest, SubscriptionTextFollowsTheType) {
  Prepare();
  TAsaAlert* A = NewAlert(Main, "a;b");
  A->SetSubscriptionType(mtByUserIDAndNames);
  A->Start();
  EXPECT_EQ(A->SubscribingFor(), "a;b;dba");
  ASSERT_TRUE(Subscribed(*A));
  // The user's name is one of the names: a message sent to it arrives.
  std::vector<TReceived> Got;
  Collect(*A, Got);
  TAsaAlert* Sender = NewAlert(Connect(), "");
  Sender->Send("dba", "to the user", 0);
  Sender->Send("b", "to a name", 0);
  ASSERT_TRUE(PumpUntil([&] { return Got.size() == 2; }));
  A->Stop();
  A->SetSubscriptionType(mtByUserID);
  A->Start();
  EXPECT_EQ(A->SubscribingFor(), "dba");
  A->Stop();
}

TEST_F(AlertTest, CheckMapsTheResultCodes) {
  TAsaAlert A(nullptr);
  AnsiString Msg = "stale";
  A.Check(-3, false, Msg);
  EXPECT_EQ(Msg, "The message-name is unknown");
  A.Check(-8, false, Msg);
  EXPECT_EQ(Msg, "") << "a code outside the table";
  A.Check(3, true, Msg);
  A.Check(-4, true, Msg);  // never raised
  EXPECT_EQ(Msg, "No messages are waiting");
  try {
    A.Check(-3, true, Msg);
    ADD_FAILURE() << "-3 must raise";
  } catch (const EAsaAlertException& E) {
    EXPECT_EQ(E.GetErrorCode(), -3);
    EXPECT_STREQ(E.what(), "The message-name is unknown");
  }
  EXPECT_THROW(A.Check(-10, true, Msg), EAsaAlertException);
  EXPECT_EQ(ZylAlertCallText("dba.", "zp_alert_receive", 5), "?=call dba.zp_alert_receive(?,?,?,?,?)");
  EXPECT_EQ(ZylAlertCallText("", "zp_alert_subscribe", 1), "?=call zp_alert_subscribe(?)");
  // Without a session there is nothing to start, send or look up.
  EXPECT_THROW(A.Start(), EZyloException);
  EXPECT_THROW(A.Send("x", "y", 0), EZyloException);
  EXPECT_EQ(A.GetProcCreator("zp_alert_send", nullptr), "");
}

TEST_F(AlertTest, OwnerPrefixComesFromTheCatalog) {
  Prepare();
  TAsaAlert* A = NewAlert(Main, "");
  TAsaSQL Q(nullptr);
  Q.SetSession(Main);
  EXPECT_EQ(UpperCase(A->GetProcCreator("zp_alert_subscribe", &Q)), "DBA.");
  EXPECT_EQ(A->GetProcCreator("no_such_procedure", &Q), "") << "no owner found: no prefix";
  Main->Close();
  Q.SetWantExceptions(true);
  EXPECT_EQ(A->GetProcCreator("zp_alert_subscribe", &Q), "") << "errors are swallowed";
}

TEST_F(AlertTest, TimeoutsKeepWaitingUntilTheHandlerDeclines) {
  Prepare();
  TAsaAlert* A = NewAlert(Main, "quiet");
  A->SetTimeout(30);  // milliseconds, the receive procedure's unit
  bool StoppedFired = false;
  A->OnStopped = [&](TObject*) { StoppedFired = true; };
  std::vector<TReceived> Got;
  Collect(*A, Got);

  // Without a handler a time-out just waits again: a message long after the first time-outs
  // still arrives.
  A->Start();
  ASSERT_TRUE(Subscribed(*A));
  TAsaAlert* Sender = NewAlert(Connect(), "");
  auto Until = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
  PumpUntil([&] { return std::chrono::steady_clock::now() >= Until; });
  EXPECT_TRUE(A->IsWaiting());
  Sender->Send("quiet", "late", 0);
  ASSERT_TRUE(PumpUntil([&] { return Got.size() == 1; }));
  A->Stop();
  ASSERT_TRUE(PumpUntil([&] { return StoppedFired; }));

  // With a handler that declines the third time, the listener unsubscribes and ends by itself.
  StoppedFired = false;
  int Timeouts = 0;
  A->OnTimeout = [&](TObject* Sender, bool& Continue) {
    EXPECT_EQ(Sender, A);
    EXPECT_TRUE(Continue);
    if (++Timeouts == 3) Continue = false;
  };
  A->Start();
  ASSERT_TRUE(PumpUntil([&] { return StoppedFired; }));
  EXPECT_EQ(Timeouts, 3);
  EXPECT_FALSE(A->IsWaiting());
  EXPECT_EQ(QueryText(*Main, "select count(*) from zyl_alert_sub"), "0");
}

TEST_F(AlertTest, StopInsideOnReceiveReturnsAndTheListenerEndsAfterTheHandler) {
  Prepare();
  TAsaAlert* A = NewAlert(Main, "once");
  bool Returned = false, Stopped = false;
  int Received = 0;
  A->OnReceive = [&](TObject*, const AnsiString&, const AnsiString&, int32_t) {
    ++Received;
    A->Stop();  // the listener is blocked in this very call: Stop must not wait for it
    Returned = true;
    EXPECT_FALSE(A->IsWaiting());
  };
  A->OnStopped = [&](TObject*) { Stopped = true; };
  A->Start();
  ASSERT_TRUE(Subscribed(*A));
  TAsaAlert* Sender = NewAlert(Connect(), "");
  Sender->Send("once", "1", 1);
  Sender->Send("once", "2", 2);
  ASSERT_TRUE(PumpUntil([&] { return Stopped; }));
  EXPECT_TRUE(Returned);
  EXPECT_EQ(Received, 1) << "nothing is received after the handler stopped the listener";
}

// Start and Stop in rounds; Stop returns once the listener is done, and stopping shows nothing.
void StopRounds(TAsaAlert& A) {
  int Stopped = 0;
  A.OnStopped = [&](TObject*) { ++Stopped; };
  TMessageBoxes Boxes;
  for (int Round = 0; Round < 5; ++Round) {
    A.Start();  // no time limit: the receive waits in the server until stopped
    ASSERT_TRUE(Subscribed(A));
    A.Stop();
    EXPECT_TRUE(A.GetDoneEvent().IsSet()) << "Stop returns once the listener is done";
    ASSERT_TRUE(PumpUntil([&] { return Stopped == Round + 1; }));
  }
  // A Stop right after Start, before the listener subscribed, ends it as well.
  A.Start();
  A.Stop();
  ASSERT_TRUE(PumpUntil([&] { return Stopped == 6; }));
  EXPECT_TRUE(Boxes.Texts.empty()) << "stopping is no error: " << (Boxes.Texts.empty() ? "" : Boxes.Texts[0]);
}

TEST_F(AlertTest, StopCancelsAReceiveWaitingInTheServer) {
  Prepare("dblib10.dll");
  StopRounds(*NewAlert(Main, "never"));
  EXPECT_EQ(QueryText(*Main, "select count(*) from zyl_alert_sub"), "0") << "every listener unsubscribed";
}

TEST_F(AlertTest, StopOfAVersion6ServerUsesTheStopProcedure) {
  Prepare("dblib6.dll");
  StopRounds(*NewAlert(Main, "never"));
  EXPECT_EQ(QueryText(*Main, "select count(*) from zyl_alert_sub"), "0");
}

TEST_F(AlertTest, OnStoppedMayStartAgainAndDestroyingStops) {
  Prepare();
  TAsaAlert* A = NewAlert(Main, "loop");
  int Stopped = 0;
  A->OnTimeout = [](TObject*, bool& Continue) { Continue = false; };
  A->SetTimeout(20);
  A->OnStopped = [&](TObject*) {
    if (++Stopped < 3) A->Start();
  };
  A->Start();
  ASSERT_TRUE(PumpUntil([&] { return Stopped == 3 && !A->GetThread(); }));
  EXPECT_FALSE(A->GetListenerSession()->GetConnected());

  // Destroying a waiting alert stops its listener and fires nothing more.
  A->SetTimeout(0);
  A->Start();
  ASSERT_TRUE(Subscribed(*A));
  Alerts.clear();
  EXPECT_EQ(Stopped, 3);
  EXPECT_EQ(QueryText(*Main, "select count(*) from zyl_alert_sub"), "0");
}

TEST_F(AlertTest, AFailedSubscriptionIsShownByTheTerminationHandler) {
  Prepare();
  TAsaAlert* A = NewAlert(Main, "x");
  // A subscribe procedure that answers with -7 ("No subscriber handles available"). (The first
  // statement on the database installs the alert procedures.)
  ASSERT_EQ(QueryText(*Main, "select count(*) from sys.sysprocedure where proc_name = 'zp_alert_subscribe'"), "1");
  ASSERT_EQ(zylasa::ExecImm(*Main, "drop procedure dba.zp_alert_subscribe"), 0);
  ASSERT_EQ(zylasa::ExecImm(*Main, "create procedure dba.zp_alert_subscribe(in names long varchar) begin return -7; end"), 0);
  TMessageBoxes Boxes;
  bool Stopped = false;
  A->OnStopped = [&](TObject*) { Stopped = true; };
  A->Start();
  ASSERT_TRUE(PumpUntil([&] { return Stopped && !A->GetThread(); }));
  ASSERT_EQ(Boxes.Texts.size(), 1u);
  EXPECT_EQ(Boxes.Texts[0], "Zylobase: No subscriber handles available");

  // A procedure that is missing altogether: the server's error is shown.
  ASSERT_EQ(zylasa::ExecImm(*Main, "drop procedure dba.zp_alert_subscribe"), 0);
  Stopped = false;
  A->Start();
  ASSERT_TRUE(PumpUntil([&] { return Stopped && !A->GetThread(); }));
  ASSERT_EQ(Boxes.Texts.size(), 2u);
  EXPECT_NE(Boxes.Texts[1].find("zp_alert_subscribe"), std::string::npos) << Boxes.Texts[1];
}

}  // namespace
