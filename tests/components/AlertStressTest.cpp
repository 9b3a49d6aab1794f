// Alerts under load: 2 processes x 4 sender threads x 1 000 messages to 3 listening alerts of this
// process. Every listener must see every message exactly once and each sender's messages in the
// order sent. A fourth alert is stopped and started again all the while; it may miss what was
// waiting for it when it unsubscribed, but must never see a message twice or out of order.
//
// Measured and printed (not asserted): the throughput from the senders' start to the last
// delivery, and how long Stop took, both while the fourth listener was busy and for the three
// idle listeners at the end.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "tests/components/AlertEnv.h"

namespace {

using zylalert::AlertTest;
using zylalert::PumpUntil;
using zylalert::Subscribed;
using Clock = std::chrono::steady_clock;

constexpr int kProcesses = 2;
constexpr int kSenders = 4;
// Messages per sender: 1 000, or ZYL_ALERT_STRESS_MESSAGES (the ThreadSanitizer run sends fewer:
// its build is many times slower and the interleavings, not the volume, are what it checks).
int MessagesPerSender() {
  static const int N = [] {
    const char* E = std::getenv("ZYL_ALERT_STRESS_MESSAGES");
    int V = E ? std::atoi(E) : 0;
    return V > 0 && V <= 1000000 ? V : 1000;
  }();
  return N;
}
constexpr int kListeners = 3;
constexpr int kStreams = kProcesses * kSenders;

double Seconds(Clock::duration D) { return std::chrono::duration<double>(D).count(); }

// One sender process: waits for the go byte, then kSenders threads each send MessagesPerSender() messages
// "<process>:<sender>" with the sequence number as the parameter. Exit status 0 when all went out.
[[noreturn]] void RunSenders(int Process, int GoFd, const std::string& LibDir, const std::string& File,
                             const std::string& Engine) {
  char Go = 0;
  if (::read(GoFd, &Go, 1) != 1) ::_exit(20);
  std::atomic<int> Failures{0};
  std::vector<std::thread> Threads;
  for (int S = 0; S < kSenders; ++S) {
    Threads.emplace_back([&, S] {
      try {
        TAsaSession Session(nullptr);
        Session.SetLibraryPath(LibDir);
        Session.SetLibraryFile("dblib10.dll");
        Session.SetLoginEngineName(Engine);
        Session.SetClientParams("dbf=" + File);
        Session.SetLoginUser("dba");
        Session.SetLoginPassword("sql");
        Session.SetWantExceptions(true);
        Session.Open();
        TAsaAlert Sender(nullptr);
        Sender.SetSession(&Session);
        std::string Tag = std::to_string(Process) + ":" + std::to_string(S);
        for (int I = 0; I < MessagesPerSender(); ++I) Sender.Send("stress", Tag, I);
      } catch (const std::exception& E) {
        std::fprintf(stderr, "sender %d:%d: %s\n", Process, S, E.what());
        ++Failures;
      }
    });
  }
  for (auto& T : Threads) T.join();
  ::_exit(Failures == 0 ? 0 : 21);
}

struct TListenerLog {
  int Next[kStreams] = {};  // the sequence number expected next from each sender
  int Received = 0;
  std::vector<std::string> Faults;
  Clock::time_point Last;
};

// Checks one delivery against the stream's expected order. Strict: exactly the next number;
// otherwise (the restarted listener) only increasing.
void Record(TListenerLog& Log, const AnsiString& Msg, int32_t Param, bool Strict) {
  int P = -1, S = -1;
  if (std::sscanf(Msg.c_str(), "%d:%d", &P, &S) != 2 || P < 0 || P >= kProcesses || S < 0 || S >= kSenders) {
    Log.Faults.push_back("unexpected message '" + Msg + "'");
    return;
  }
  int& Next = Log.Next[P * kSenders + S];
  if (Strict ? Param != Next : Param < Next)
    Log.Faults.push_back(Msg + " #" + std::to_string(Param) + " where #" + std::to_string(Next) + " was due");
  Next = Param + 1;
  ++Log.Received;
  Log.Last = Clock::now();
}

TEST_F(AlertTest, TwoProcessesFourSendersThreeListenersExactlyOnceInOrder) {
  // The sender processes are forked before this process has started an engine or a thread.
  const std::string DbFile = Dir.File("alerts.db");
  const std::string EngineName = "eng_alerts_" + std::to_string(::getpid());
  pid_t Children[kProcesses];
  int GoFds[kProcesses];
  for (int P = 0; P < kProcesses; ++P) {
    int Pipe[2];
    ASSERT_EQ(::pipe(Pipe), 0);
    pid_t Child = ::fork();
    ASSERT_GE(Child, 0);
    if (Child == 0) {
      ::close(Pipe[1]);
      RunSenders(P, Pipe[0], zylasa::LibDir(), DbFile, EngineName);
    }
    ::close(Pipe[0]);
    Children[P] = Child;
    GoFds[P] = Pipe[1];
  }
  struct TReleaseChildren {
    int* Fds;
    ~TReleaseChildren() {
      for (int P = 0; P < kProcesses; ++P) ::close(Fds[P]);  // a child still waiting reads EOF and ends
    }
  } Release{GoFds};

  Prepare();
  ASSERT_EQ(File, DbFile);
  ASSERT_EQ(Engine, EngineName);
  TListenerLog Logs[kListeners + 1];
  TAsaAlert* Listeners[kListeners + 1];
  for (int L = 0; L <= kListeners; ++L) {
    TAsaAlert* A = NewAlert(Main, "stress");
    TListenerLog& Log = Logs[L];
    bool Strict = L < kListeners;
    A->OnReceive = [&Log, Strict](TObject*, const AnsiString&, const AnsiString& Msg, int32_t Param) {
      Record(Log, Msg, Param, Strict);
    };
    A->Start();
    ASSERT_TRUE(Subscribed(*A));
    Listeners[L] = A;
  }

  const Clock::time_point Begin = Clock::now();
  for (int P = 0; P < kProcesses; ++P) ASSERT_EQ(::write(GoFds[P], "g", 1), 1);
  // While the three take everything, the fourth is stopped and started again every 200 ms (at
  // most kRestarts times: each start is a new connection, whose login costs a password hash).
  TAsaAlert& Restarted = *Listeners[kListeners];
  std::vector<double> BusyStops;
  constexpr size_t kRestarts = 25;
  Clock::time_point NextRestart = Clock::now() + std::chrono::milliseconds(200);
  auto AllIn = [&] {
    for (int L = 0; L < kListeners; ++L)
      if (Logs[L].Received < kStreams * MessagesPerSender()) return false;
    return true;
  };
  bool Complete = PumpUntil(
      [&] {
        if (Clock::now() >= NextRestart && BusyStops.size() < kRestarts && !AllIn()) {
          Clock::time_point T0 = Clock::now();
          Restarted.Stop();
          BusyStops.push_back(Seconds(Clock::now() - T0));
          Restarted.Start();
          NextRestart = Clock::now() + std::chrono::milliseconds(200);
        }
        return AllIn();
      },
      600);
  Clock::time_point LastDelivery = Begin;
  for (int L = 0; L < kListeners; ++L) LastDelivery = std::max(LastDelivery, Logs[L].Last);

  for (int P = 0; P < kProcesses; ++P) {
    int Status = 0;
    ASSERT_EQ(::waitpid(Children[P], &Status, 0), Children[P]);
    EXPECT_TRUE(WIFEXITED(Status) && WEXITSTATUS(Status) == 0) << "sender process " << P << " status " << Status;
  }
  for (int L = 0; L <= kListeners; ++L) {
    EXPECT_TRUE(Logs[L].Faults.empty()) << "listener " << L << ": " << Logs[L].Faults.size() << " faults, first: "
                                        << (Logs[L].Faults.empty() ? "" : Logs[L].Faults[0]);
  }
  ASSERT_TRUE(Complete) << "received " << Logs[0].Received << ", " << Logs[1].Received << ", " << Logs[2].Received;
  for (int L = 0; L < kListeners; ++L) EXPECT_EQ(Logs[L].Received, kStreams * MessagesPerSender()) << "listener " << L;

  // Stop on idle listeners, each waiting in the server.
  std::vector<double> IdleStops;
  for (int L = 0; L <= kListeners; ++L) {
    Clock::time_point T0 = Clock::now();
    Listeners[L]->Stop();
    IdleStops.push_back(Seconds(Clock::now() - T0));
    EXPECT_FALSE(Listeners[L]->IsWaiting());
  }
  double Elapsed = Seconds(LastDelivery - Begin);
  double BusyMax = BusyStops.empty() ? 0 : *std::max_element(BusyStops.begin(), BusyStops.end());
  double IdleMax = *std::max_element(IdleStops.begin(), IdleStops.end());
  std::printf("[ measured ] %d messages sent by %d processes x %d threads, each delivered to %d listeners in %.2f s: "
              "%.0f messages/s sent, %.0f deliveries/s\n",
              kStreams * MessagesPerSender(), kProcesses, kSenders, kListeners, Elapsed, kStreams * MessagesPerSender() / Elapsed,
              kListeners * kStreams * MessagesPerSender() / Elapsed);
  std::printf("[ measured ] Stop: %zu stops of a busy listener, longest %.3f s; idle listeners, longest %.3f s; "
              "the restarted listener got %d messages\n",
              BusyStops.size(), BusyMax, IdleMax, Logs[kListeners].Received);
  RecordProperty("messages_per_second", std::to_string(kStreams * MessagesPerSender() / Elapsed));
  RecordProperty("longest_stop_ms", std::to_string(1000 * std::max(BusyMax, IdleMax)));
}

}  // namespace
