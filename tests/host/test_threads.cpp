// Worker threads, the synchronise queue and the event object.
#include "host/Threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

// Pumps the main thread's queue until Done holds or about five seconds pass.
template <typename F>
bool PumpUntil(F Done) {
  auto Limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!Done()) {
    if (std::chrono::steady_clock::now() > Limit) return false;
    CheckSynchronize(5);
  }
  return true;
}

class TCountingThread : public TThread {
public:
  explicit TCountingThread(bool Suspended) : TThread(Suspended) {}
  // Execute uses the members below: stop it before they go.
  ~TCountingThread() override { TerminateAndWait(); }
  std::atomic<int> Loops{0};
  // Shared with the synchronised calls: the base destructor pumps calls queued before it
  // terminated the thread, after this class's members are gone.
  std::shared_ptr<std::vector<std::thread::id>> SyncRanOn = std::make_shared<std::vector<std::thread::id>>();

protected:
  void Execute() override {
    while (!Terminated()) {
      ++Loops;
      Synchronize([Log = SyncRanOn] { Log->push_back(std::this_thread::get_id()); });
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ReturnValue = 42;
  }
};

}  // namespace

TEST(Threads, SynchronizeRunsOnMainThreadWhileWorkerWaits) {
  TCountingThread T(true);
  EXPECT_TRUE(T.Suspended());
  T.Start();
  ASSERT_TRUE(PumpUntil([&] { return T.SyncRanOn->size() >= 3; }));
  T.Terminate();
  EXPECT_EQ(T.WaitFor(), 42);
  for (auto Id : *T.SyncRanOn) EXPECT_EQ(Id, std::this_thread::get_id());
  EXPECT_TRUE(T.Finished());
}

TEST(Threads, SuspendedThreadDoesNotRunUntilStarted) {
  TCountingThread T(true);
  CheckSynchronize(20);
  EXPECT_EQ(T.Loops.load(), 0);
  T.Start();
  EXPECT_THROW(T.Start(), EThread);
  T.Terminate();
  T.WaitFor();
}

TEST(Threads, NewThreadStartsAThreadCreatedRunning) {
  std::unique_ptr<TCountingThread> T(NewThread<TCountingThread>(false));
  ASSERT_TRUE(PumpUntil([&] { return T->Loops.load() > 0; }));
  T->Terminate();
  T->WaitFor();
}

TEST(Threads, TerminationHandlerRunsOnMainThreadAndSelfFreeingThreadGoes) {
  std::atomic<bool> HandlerRan{false};
  std::thread::id HandlerThread;
  auto* T = new TCountingThread(true);
  T->FreeOnTerminate = true;
  T->OnTerminate = [&](TThread* Sender) {
    EXPECT_EQ(Sender, T);
    HandlerThread = std::this_thread::get_id();
    HandlerRan = true;
  };
  T->Start();
  T->Terminate();
  ASSERT_TRUE(PumpUntil([&] { return HandlerRan.load(); }));
  EXPECT_EQ(HandlerThread, std::this_thread::get_id());
  // The object deletes itself; the sanitizer build reports a leak if it does not.
}

TEST(Threads, ExceptionInSynchronizedCallReachesTheWorker) {
  class TThrower : public TThread {
  public:
    TThrower() : TThread(true) {}
    bool Caught = false;

  protected:
    void Execute() override {
      try {
        Synchronize([] { throw std::runtime_error("main thread failed"); });
      } catch (const std::runtime_error& E) {
        Caught = std::string(E.what()) == "main thread failed";
      }
    }
  } T;
  T.Start();
  T.WaitFor();
  EXPECT_TRUE(T.Caught);
}

TEST(Threads, ExceptionEndingExecuteIsKept) {
  class TFailing : public TThread {
  public:
    TFailing() : TThread(true) {}

  protected:
    void Execute() override { throw Exception("worker failed"); }
  } T;
  T.Start();
  T.WaitFor();
  ASSERT_TRUE(T.FatalException());
  EXPECT_THROW(std::rethrow_exception(T.FatalException()), Exception);
}

TEST(Threads, DestroyingARunningThreadTerminatesAndWaits) {
  auto T = std::make_unique<TCountingThread>(true);
  T->Start();
  ASSERT_TRUE(PumpUntil([&] { return T->Loops.load() > 0; }));
  T.reset();  // must not hang: the destructor terminates and pumps while waiting
  SUCCEED();
}

TEST(Threads, CheckSynchronizeOnMainThreadRunsDirectCallsAndReportsIdle) {
  EXPECT_FALSE(CheckSynchronize(0));
  int Ran = 0;
  Synchronize([&] { ++Ran; });  // main thread: runs at once
  EXPECT_EQ(Ran, 1);
  EXPECT_FALSE(CheckSynchronize(1));
}

TEST(Events, ManualResetStaysSignalledUntilReset) {
  TEvent E(true, false);
  EXPECT_EQ(E.WaitFor(10), wrTimeout);
  E.SetEvent();
  EXPECT_EQ(E.WaitFor(0), wrSignaled);
  EXPECT_EQ(E.WaitFor(INFINITE), wrSignaled);
  E.ResetEvent();
  EXPECT_FALSE(E.IsSet());
  EXPECT_EQ(E.WaitFor(5), wrTimeout);
}

TEST(Events, AutoResetReleasesOneWait) {
  TEvent E(false, true);
  EXPECT_EQ(E.WaitFor(0), wrSignaled);
  EXPECT_EQ(E.WaitFor(5), wrTimeout);
}

TEST(Events, WaitWithoutLimitWakesWhenAnotherThreadSets) {
  TEvent E(true, false);
  std::thread Setter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    E.SetEvent();
  });
  EXPECT_EQ(E.WaitFor(INFINITE), wrSignaled);
  Setter.join();
}
