// The workgroup connect mode across processes, and the named mutex it waits for: exclusion between
// handles and processes, recursion by the owner, release on close and on a crash, time-outs.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

#include "host/PlatformSync.h"
#include "tests/asa/AsaTestEnv.h"

namespace {

using zylasa::AsaTest;
using zylasa::ExecImm;
using zylasa::QueryText;

// A name private to this test process, so parallel test runs do not meet.
std::string UniqueName(const char* Stem) { return std::string(Stem) + "_" + std::to_string(::getpid()); }

// Waits for a child at most TimeoutMs; returns its exit status, or -1 when it is still running.
int WaitChild(pid_t Child, int TimeoutMs) {
  auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
  while (true) {
    int Status = 0;
    pid_t R = ::waitpid(Child, &Status, WNOHANG);
    if (R == Child) return WIFEXITED(Status) ? WEXITSTATUS(Status) : 128;
    if (std::chrono::steady_clock::now() >= Deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

TEST(NamedMutex, HandlesExcludeEachOtherAndTheOwnerMayRecurse) {
  std::string Name = UniqueName("zyl_test_mutex");
  HANDLE A = CreateMutexA(nullptr, FALSE, Name.c_str());
  ASSERT_NE(A, nullptr);
  HANDLE B = CreateMutexA(nullptr, FALSE, Name.c_str());
  ASSERT_NE(B, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);

  EXPECT_EQ(WaitForSingleObject(A, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(A, 0), WAIT_OBJECT_0) << "the owner acquires again";
  EXPECT_EQ(WaitForSingleObject(B, 50), WAIT_TIMEOUT) << "another handle waits";
  std::thread([&] { EXPECT_FALSE(ReleaseMutex(A)); }).join();
  EXPECT_TRUE(ReleaseMutex(A));
  EXPECT_EQ(WaitForSingleObject(B, 50), WAIT_TIMEOUT) << "one acquisition is still held";
  EXPECT_TRUE(ReleaseMutex(A));
  EXPECT_FALSE(ReleaseMutex(A)) << "nothing left to release";
  EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
  EXPECT_EQ(WaitForSingleObject(B, 50), WAIT_OBJECT_0);

  // Closing an owned handle releases it.
  EXPECT_TRUE(CloseHandle(B));
  EXPECT_EQ(WaitForSingleObject(A, 50), WAIT_OBJECT_0);
  EXPECT_TRUE(ReleaseMutex(A));
  EXPECT_TRUE(CloseHandle(A));
}

TEST(NamedMutex, BadHandlesFailCleanly) {
  int NotAMutex = 0;
  EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
  EXPECT_EQ(WaitForSingleObject(&NotAMutex, 0), WAIT_FAILED);
  EXPECT_FALSE(ReleaseMutex(&NotAMutex));
  EXPECT_FALSE(CloseHandle(nullptr));
}

TEST(NamedMutex, NamesWithPathCharactersStillNameOneMutex) {
  std::string Name = UniqueName("Global\\zyl/test:mutex*");
  HANDLE A = CreateMutexA(nullptr, FALSE, Name.c_str());
  HANDLE B = CreateMutexA(nullptr, FALSE, Name.c_str());
  ASSERT_NE(A, nullptr);
  ASSERT_NE(B, nullptr);
  EXPECT_EQ(WaitForSingleObject(A, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(B, 0), WAIT_TIMEOUT);
  ReleaseMutex(A);
  CloseHandle(A);
  CloseHandle(B);
}

TEST(NamedMutex, UnnamedMutexIsPrivateToItsHandle) {
  HANDLE A = CreateMutexA(nullptr, TRUE, nullptr);
  ASSERT_NE(A, nullptr);
  HANDLE B = CreateMutexA(nullptr, FALSE, nullptr);
  EXPECT_EQ(WaitForSingleObject(B, 0), WAIT_OBJECT_0) << "two unnamed mutexes are two mutexes";
  std::atomic<DWORD> Other{0};
  std::thread([&] { Other = WaitForSingleObject(A, 20); }).join();
  EXPECT_EQ(Other.load(), WAIT_TIMEOUT) << "InitialOwner made this thread the owner";
  EXPECT_TRUE(ReleaseMutex(A));
  CloseHandle(A);
  CloseHandle(B);
}

TEST(NamedMutex, ExcludesOtherProcessesAndSurvivesACrashedOwner) {
  std::string Name = UniqueName("zyl_test_xproc");
  int Ready[2];
  ASSERT_EQ(::pipe(Ready), 0);
  pid_t Child = ::fork();
  ASSERT_GE(Child, 0);
  if (Child == 0) {
    HANDLE H = CreateMutexA(nullptr, FALSE, Name.c_str());
    if (!H || WaitForSingleObject(H, 5000) != WAIT_OBJECT_0) ::_exit(2);
    char C = 'x';
    if (::write(Ready[1], &C, 1) != 1) ::_exit(3);
    ::usleep(600 * 1000);
    ::_exit(0);  // dies holding it
  }
  ::close(Ready[1]);
  char C = 0;
  ASSERT_EQ(::read(Ready[0], &C, 1), 1);
  ::close(Ready[0]);
  HANDLE H = CreateMutexA(nullptr, FALSE, Name.c_str());
  ASSERT_NE(H, nullptr);
  EXPECT_EQ(WaitForSingleObject(H, 100), WAIT_TIMEOUT) << "the other process holds it";
  EXPECT_EQ(WaitForSingleObject(H, 10000), WAIT_OBJECT_0) << "its death frees it";
  EXPECT_EQ(WaitChild(Child, 5000), 0);
  ReleaseMutex(H);
  CloseHandle(H);
}

TEST(NamedMutex, HolderGoesOnAfterTheTimeOut) {
  std::string Name = UniqueName("zyl_test_holder");
  TNamedMutexHolder First(Name.c_str(), 0);
  ASSERT_TRUE(First.Exists());
  ASSERT_TRUE(First.Acquired());
  std::thread([&] {
    TNamedMutexHolder Second(Name.c_str(), 30);
    EXPECT_TRUE(Second.Exists());
    EXPECT_FALSE(Second.Acquired());
  }).join();
}

// The timing mutex is machine-wide by its name, so other tests running at the same time (and
// the ten-second test below) may hold it too: waits here allow for one such holder.
class AsaWorkgroup : public AsaTest {
 protected:
  // Forks a process that connects to File in workgroup mode, runs Sql when given, disconnects and
  // stops Engine when given. Its exit status: 0 done, 4 the statement failed, 5 an exception.
  pid_t ForkWorkgroupClient(const std::string& File, const std::string& Engine, const std::string& Sql = "") {
    pid_t Child = ::fork();
    if (Child != 0) return Child;
    int Code = 0;
    try {
      auto S = NewSession("dblib10.dll", File);
      S->SetServerType(stWorkgroup);
      S->Open();
      if (!Sql.empty() && ExecImm(*S, Sql) != 0) Code = 4;
      S->Commit();
      S->Close();
      if (!Engine.empty()) StopEngine(*S, Engine);
    } catch (...) {
      Code = 5;
    }
    ::_exit(Code);
  }
};

// The child connects in workgroup mode while the parent holds the timing mutex: its connect must
// wait for the parent's release (well inside the ten seconds the session waits at most).
TEST_F(AsaWorkgroup, ConnectWaitsForTheTimingMutexOfAnotherProcess) {
  std::string File = CreateDb("shared");
  auto Holder = std::make_unique<TNamedMutexHolder>("ASA_CONNECTION_TIMING_MUTEX", 30000);
  ASSERT_TRUE(Holder->Acquired());
  pid_t Child = ForkWorkgroupClient(File, "shared", "CREATE TABLE child_was_here (n INTEGER)");
  ASSERT_GE(Child, 0);
  EXPECT_EQ(WaitChild(Child, 700), -1) << "the child connected while the mutex was held";
  Holder.reset();
  EXPECT_EQ(WaitChild(Child, 25000), 0);

  // This process sees the table the child made, through its own workgroup connect.
  auto S = NewSession("dblib10.dll", File);
  S->SetServerType(stWorkgroup);
  S->Open();
  EXPECT_EQ(QueryText(*S, "SELECT COUNT(*) FROM child_was_here"), "0");
  S->Close();
  StopEngine(*S, "shared");
}

TEST_F(AsaWorkgroup, TwoProcessesConnectOneAfterTheOther) {
  std::string File = CreateDb("pair");
  pid_t Children[2];
  for (pid_t& Child : Children) {
    Child = ForkWorkgroupClient(File, "", "SELECT 1");
    ASSERT_GE(Child, 0);
  }
  for (pid_t Child : Children) EXPECT_EQ(WaitChild(Child, 45000), 0);
}

TEST_F(AsaWorkgroup, ConnectGoesOnAfterTenSecondsWithoutTheMutex) {
  std::string File = CreateDb("late");
  TNamedMutexHolder Holder("ASA_CONNECTION_TIMING_MUTEX", 30000);
  ASSERT_TRUE(Holder.Acquired());
  pid_t Child = ForkWorkgroupClient(File, "late");
  ASSERT_GE(Child, 0);
  EXPECT_EQ(WaitChild(Child, 9000), -1) << "gave up waiting too early";
  EXPECT_EQ(WaitChild(Child, 8000), 0) << "the connect did not go on after the time-out";
}

}  // namespace
