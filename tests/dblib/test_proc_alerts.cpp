// The built-in alert procedures through the C entry points, called the way the alert component
// calls them ("?=call dba.zp_alert_...(?,...)"): between two connections in two threads and
// between two processes; timeout, stop from another connection, cancel of a waiting receive,
// result codes. Also measures how long a receive takes to see a message another process sent.
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "tests/dblib/DblibHarness.h"

using zyltest::DblibTest;
using zyltest::Message;

namespace {

// One connection's view of the alert procedures.
class AlertClient {
 public:
  explicit AlertClient(SQLCA& ca) : ca_(ca) {}

  // Runs "?=call dba.<proc>(?,...)" with the inputs, then outputs; returns the result code,
  // or the SQLCODE when the call itself failed.
  int Call(const std::string& proc, const std::vector<std::string>& inputs, int outputs = 0,
           std::vector<std::string>* got = nullptr) {
    std::string text = "?=call dba." + proc + "(";
    for (int i = 0; i < int(inputs.size()) + outputs; ++i) text += i ? ",?" : "?";
    text += ")";
    short n = 0;
    dbpp_prepare(&ca_, nullptr, const_cast<char*>("A"), &n, text.data(), nullptr, 0);
    if (ca_.sqlcode < 0) return ca_.sqlcode;
    int total = 1 + int(inputs.size()) + outputs;
    std::vector<std::string> buf(size_t(total) + 1 + outputs, std::string(512, '\0'));
    SQLDA* in = alloc_sqlda(unsigned(total));
    in->sqld = short(total);
    for (int i = 0; i < total; ++i) {
      in->sqlvar[i].sqltype = DT_STRING | 1;
      in->sqlvar[i].sqllen = 512;
      in->sqlvar[i].sqldata = buf[size_t(i)].data();
      *in->sqlvar[i].sqlind = -1;
    }
    for (size_t i = 0; i < inputs.size(); ++i) {
      std::snprintf(buf[i + 1].data(), 512, "%s", inputs[i].c_str());
      *in->sqlvar[i + 1].sqlind = 0;
    }
    SQLDA* out = alloc_sqlda(unsigned(1 + outputs));
    out->sqld = short(1 + outputs);
    for (int i = 0; i <= outputs; ++i) {
      out->sqlvar[i].sqltype = DT_STRING | 1;
      out->sqlvar[i].sqllen = 512;
      out->sqlvar[i].sqldata = buf[size_t(total + i)].data();
    }
    dbpp_execute_into(&ca_, nullptr, const_cast<char*>("A"), &n, in, out);
    int code = ca_.sqlcode;
    if (code >= 0) {
      code = std::atoi(buf[size_t(total)].c_str());
      if (got) {
        got->clear();
        for (int i = 1; i <= outputs; ++i)
          got->push_back(*out->sqlvar[i].sqlind < 0 ? "<null>" : buf[size_t(total + i)].c_str());
      }
    }
    SQLCA saved = ca_;
    dbpp_dropstmt(&ca_, nullptr, const_cast<char*>("A"), &n);
    ca_ = saved;
    free_sqlda(in);
    free_sqlda(out);
    return code;
  }
  int Subscribe(const std::string& names) { return Call("zp_alert_subscribe", {names}); }
  int Send(const std::string& name, const std::string& msg, int param) {
    return Call("zp_alert_send", {name, msg, std::to_string(param)});
  }
  int Receive(int handle, int timeout, std::vector<std::string>& got) {
    return Call("zp_alert_receive", {std::to_string(handle), std::to_string(timeout)}, 3, &got);
  }

 private:
  SQLCA& ca_;
};

class Alerts : public DblibTest {
 protected:
  void SetUp() override {
    DblibTest::SetUp();
    if (IsSkipped()) return;
    file = CreateDb("alerts");
    ConnectFile(file, "alerts");
    db_init(&other);
    std::string cs = ConnectionTo(file, "alerts");
    ASSERT_EQ(db_string_connect(&other, cs.data()), 1u) << Message(other);
  }
  void TearDown() override {
    if (IsSkipped()) return DblibTest::TearDown();
    db_string_disconnect(&other, nullptr);
    db_fini(&other);
    DblibTest::TearDown();
  }
  std::string file;
  SQLCA other{};
};

TEST_F(Alerts, ProceduresAreInTheCatalogOwnedByDba) {
  EXPECT_EQ(Query("select count(*) from sys.sysprocedure p, sys.sysuserperms u where p.creator = u.user_id "
                  "and upper(u.user_name) = 'DBA' and p.proc_name like 'zp_alert_%'"),
            "6");
  // The receive procedure's outputs as the component reads them.
  EXPECT_EQ(Query("select count(*) from sys.sysprocparm pp, sys.sysprocedure p where p.proc_id = pp.proc_id and "
                  "p.proc_name = 'zp_alert_receive' and pp.parm_mode_out = 'Y' and pp.parm_name in ('msg_name', 'msg', 'msg_param')"),
            "3");
}

TEST_F(Alerts, SendReachesEverySubscriberOnceInOrder) {
  AlertClient a(ca), b(other);
  int h1 = a.Subscribe("orders;Shipping");
  int h2 = b.Subscribe("orders");
  ASSERT_GT(h1, 0);
  ASSERT_GT(h2, 0);
  EXPECT_NE(h1, h2);
  EXPECT_EQ(b.Send("orders", "first", 1), 0);
  EXPECT_EQ(b.Send("SHIPPING", "second", 2), 0);  // names compare without case
  EXPECT_EQ(b.Send("orders", "third", 3), 0);
  std::vector<std::string> got;
  EXPECT_EQ(a.Receive(h1, 100, got), 0);
  EXPECT_EQ(got, (std::vector<std::string>{"orders", "first", "1"}));
  EXPECT_EQ(a.Receive(h1, 100, got), 0);
  EXPECT_EQ(got[1], "second");
  EXPECT_EQ(a.Receive(h1, 100, got), 0);
  EXPECT_EQ(got[1], "third");
  EXPECT_EQ(a.Receive(h1, 50, got), -5);  // each message once
  EXPECT_EQ(b.Receive(h2, 100, got), 0);
  EXPECT_EQ(got[1], "first");
  EXPECT_EQ(b.Receive(h2, 100, got), 0);
  EXPECT_EQ(got[1], "third");  // h2 never subscribed to Shipping
  // Clear drops what waits under a name.
  EXPECT_EQ(a.Send("orders", "dropped", 4), 0);
  EXPECT_EQ(a.Call("zp_alert_clear", {"orders"}), 0);
  EXPECT_EQ(b.Receive(h2, 50, got), -5);
  EXPECT_EQ(a.Call("zp_alert_unsubscribe", {std::to_string(h1)}), 0);
  EXPECT_EQ(a.Send("shipping", "nobody", 0), -6);
}

TEST_F(Alerts, ResultCodesForBadInput) {
  AlertClient a(ca);
  std::vector<std::string> got;
  EXPECT_EQ(a.Send("nobody_listens", "x", 0), -6);
  EXPECT_EQ(a.Receive(987654, 10, got), -1);
  EXPECT_EQ(a.Call("zp_alert_unsubscribe", {"987654"}), -1);
  EXPECT_EQ(a.Call("zp_alert_stop", {"987654"}), -1);
  int h = a.Subscribe("");
  ASSERT_GT(h, 0);  // a handle without names receives nothing but is valid
  EXPECT_EQ(a.Receive(h, 30, got), -5);
}

TEST_F(Alerts, ReceiveWaitsForAMessageFromAnotherThread) {
  AlertClient a(ca), b(other);
  int h = a.Subscribe("wake");
  ASSERT_GT(h, 0);
  std::thread sender([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    b.Send("wake", "up", 7);
  });
  std::vector<std::string> got;
  int code = a.Receive(h, 0, got);  // 0: no time limit
  sender.join();
  EXPECT_EQ(code, 0) << Message(ca);
  EXPECT_EQ(got, (std::vector<std::string>{"wake", "up", "7"}));
}

TEST_F(Alerts, StopFromAnotherConnectionEndsTheWait) {
  AlertClient a(ca), b(other);
  int h = a.Subscribe("never");
  ASSERT_GT(h, 0);
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    b.Call("zp_alert_stop", {std::to_string(h)});
  });
  std::vector<std::string> got;
  int code = a.Receive(h, 0, got);
  stopper.join();
  EXPECT_EQ(code, -2);
  // The handle stays usable after a stop.
  EXPECT_EQ(b.Send("never", "now", 1), 0);
  EXPECT_EQ(a.Receive(h, 500, got), 0);
}

TEST_F(Alerts, CancelEndsAWaitingReceive) {
  AlertClient a(ca);
  int h = a.Subscribe("quiet");
  ASSERT_GT(h, 0);
  std::atomic<bool> done{false};
  std::thread canceller([&] {
    while (!done) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      if (db_is_working(&ca)) {
        db_cancel_request(&ca);
        return;
      }
    }
  });
  std::vector<std::string> got;
  int code = a.Receive(h, 0, got);
  done = true;
  canceller.join();
  EXPECT_EQ(code, SQLE_INTERRUPTED);
  EXPECT_EQ(a.Call("zp_alert_unsubscribe", {std::to_string(h)}), 0);
}

TEST_F(Alerts, CancelsNeverLoseOrRepeatAMessage) {
  // The receiving connection is cancelled at random moments while messages stream in: a receive
  // either delivers the next message or fails with -299 and leaves it waiting, never both and
  // never neither.
  AlertClient a(ca), b(other);
  int h = a.Subscribe("busy");
  ASSERT_GT(h, 0);
  constexpr int kMessages = 300;
  std::atomic<bool> sent{false}, done{false};
  std::thread sender([&] {
    for (int i = 0; i < kMessages; ++i) b.Send("busy", "m", i);
    sent = true;
  });
  // Every other receive is cancelled, at a random moment within the time a receive takes here,
  // so the cancels land anywhere in the call, however slow the build, and half the calls finish.
  std::atomic<int> attempt{0};
  std::atomic<long> lastUs{100};
  std::thread canceller([&] {
    unsigned seed = 7;
    int seen = 0;
    while (!done) {
      int now = attempt.load();
      if (now == seen) {
        std::this_thread::sleep_for(std::chrono::microseconds(10));
        continue;
      }
      seen = now;
      seed = seed * 1103515245u + 12345u;
      if ((seed >> 16) % 2) continue;
      seed = seed * 1103515245u + 12345u;
      std::this_thread::sleep_for(std::chrono::microseconds((seed >> 16) % (lastUs.load() + 1)));
      if (attempt.load() == seen && db_is_working(&ca)) db_cancel_request(&ca);
    }
  });
  int next = 0, cancelled = 0;
  std::vector<std::string> got;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (next < kMessages && std::chrono::steady_clock::now() < deadline) {
    ++attempt;
    auto t0 = std::chrono::steady_clock::now();
    int code = a.Receive(h, 200, got);
    if (code == SQLE_INTERRUPTED) {
      ++cancelled;
    } else if (code == 0) {
      lastUs = long(std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0).count());
      if (got[2] != std::to_string(next)) break;
      ++next;
    } else if (code == -5 && sent) {
      break;  // everything was sent and nothing waits: the rest is lost
    }
  }
  done = true;
  canceller.join();
  sender.join();
  EXPECT_EQ(next, kMessages) << "message " << next << (got.size() > 2 ? " was skipped: " + got[2] + " came" : " never came")
                             << " (" << cancelled << " receives cancelled)";
  EXPECT_GT(cancelled, 0);
}

TEST_F(Alerts, MessagesCrossProcessesAndTheDelayIsMeasured) {
  AlertClient a(ca);
  int h = a.Subscribe("xproc");
  ASSERT_GT(h, 0);
  constexpr int kMessages = 10;
  pid_t child = fork();
  if (child == 0) {
    SQLCA c;
    db_init(&c);
    std::string s = ConnectionTo(file, "alerts");
    if (db_string_connect(&c, s.data()) != 1) _exit(10);
    AlertClient sender(c);
    for (int i = 0; i < kMessages; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(60));
      // The send time rides in the message (CLOCK_MONOTONIC is the same clock in both processes).
      auto ns = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
      if (sender.Send("xproc", std::to_string(ns), i) != 0) _exit(11);
    }
    db_string_disconnect(&c, nullptr);
    _exit(0);
  }
  std::vector<std::string> got;
  double total = 0, worst = 0;
  int received = 0;
  for (int i = 0; i < kMessages; ++i) {
    int code = a.Receive(h, 10000, got);
    auto now = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
    ASSERT_EQ(code, 0) << Message(ca);
    ASSERT_EQ(got[2], std::to_string(i)) << "in order";
    double ms = double(now - std::stoll(got[1])) / 1000.0;
    total += ms;
    worst = std::max(worst, ms);
    ++received;
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(received, kMessages);
  std::printf("[ measured ] cross-process send -> receive: mean %.1f ms, worst %.1f ms over %d messages\n",
              total / received, worst, received);
  RecordProperty("mean_ms", std::to_string(total / received));
}

}  // namespace
