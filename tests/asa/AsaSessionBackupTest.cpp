// TAsaSession::Backup end to end: every backup type, progress and abort through OnBackup, writes
// going on meanwhile, the directory rewrite, media failures, and a restore that opens the copy.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "tests/asa/AsaTestEnv.h"

namespace {

namespace fs = std::filesystem;
using zylasa::AsaTest;
using zylasa::ExecImm;
using zylasa::LibDir;
using zylasa::QueryText;

struct TProgress {
  std::string File;
  int32_t Page;
  int32_t Pages;
};

// Archived logs ("<prefix>-yymmddnn.wal") in a folder.
std::vector<std::string> ArchivedLogs(const std::string& Folder, const std::string& Prefix) {
  std::vector<std::string> Found;
  for (auto& E : fs::directory_iterator(Folder)) {
    std::string N = E.path().filename().string();
    if (N.rfind(Prefix + "-", 0) == 0 && N.size() > 4 && N.substr(N.size() - 4) == ".wal") Found.push_back(N);
  }
  return Found;
}

class AsaBackup : public AsaTest {
 protected:
  void SetUp() override {
    AsaTest::SetUp();
    File = CreateDb("stock");
    S = NewSession("dblib10.dll", File);
    S->SetServerType(stServer);
    S->Open();
    ASSERT_EQ(ExecImm(*S, "CREATE TABLE item (id INTEGER PRIMARY KEY, name VARCHAR(40))"), 0);
    for (int I = 1; I <= 200; ++I)
      ASSERT_EQ(ExecImm(*S, "INSERT INTO item VALUES (" + std::to_string(I) + ", 'item " + std::to_string(I) + "')"),
                0);
    S->Commit();
    S->OnBackup = [this](TObject* Sender, const AnsiString& BackupFile, int32_t Page, int32_t Pages, bool& Abort) {
      EXPECT_EQ(Sender, S.get());
      Progress.push_back({BackupFile, Page, Pages});
      Abort = AbortAt >= 0 && static_cast<int>(Progress.size()) > AbortAt;
    };
    Target = Dir.File("bak");
    fs::create_directory(Target);
  }
  void TearDown() override {
    Restored.reset();
    if (S) {
      S->Close();
      StopEngine(*S, "stock");
      S.reset();
    }
    AsaTest::TearDown();
  }

  // Files reported by OnBackup, each once, in order.
  std::vector<std::string> ReportedFiles() const {
    std::vector<std::string> R;
    for (auto& P : Progress)
      if (R.empty() || R.back() != P.File) R.push_back(P.File);
    return R;
  }

  // Opens the copy in the backup folder under a server of its own and returns the item count.
  std::string RestoredCount() {
    Restored = NewSession("dblib10.dll", Target + "/stock.db");
    Restored->SetLoginEngineName("restored");
    Restored->SetServerType(stServer);
    Restored->Open();
    std::string N = QueryText(*Restored, "SELECT COUNT(*) FROM item");
    Restored->Close();
    StopEngine(*Restored, "restored");
    return N;
  }

  std::string File;
  std::string Target;
  std::unique_ptr<TAsaSession> S;
  std::unique_ptr<TAsaSession> Restored;
  std::vector<TProgress> Progress;
  int AbortAt = -1;  // abort in the handler call after this many calls
};

TEST_F(AsaBackup, FullBackupCopiesDatabaseAndLogAndRestores) {
  int Requests = 0;
  S->OnServerStart = [&](TObject*) { ++Requests; };
  S->Close();
  S->Open();  // registers the start callback
  Requests = 0;
  ASSERT_TRUE(S->Backup(Target, btFull)) << S->GetLastError();
  std::vector<std::string> Files = ReportedFiles();
  ASSERT_EQ(Files.size(), 2u);
  // start; file 0 (open, pages, close); file 1 tried and the loop stops; file -1 tried;
  // file -2 (open, pages, close); end.
  int DbPages = Progress.front().Pages, LogPages = Progress.back().Pages;
  EXPECT_EQ(Requests, 1 + (DbPages + 2) + 1 + 1 + (LogPages + 2) + 1);
  S->OnServerStart = nullptr;  // Requests goes out of scope before TearDown disconnects
  EXPECT_EQ(Files[0], Target + "/stock.db");
  EXPECT_EQ(Files[1], Target + "/stock.db-wal");
  // Progress counts pages from 1 to the file's page count.
  EXPECT_EQ(Progress.front().Page, 1);
  for (size_t I = 1; I < Progress.size(); ++I)
    if (Progress[I].File == Progress[I - 1].File) {
      EXPECT_EQ(Progress[I].Page, Progress[I - 1].Page + 1);
    }
  EXPECT_EQ(Progress.back().Page, Progress.back().Pages);
  EXPECT_TRUE(fs::exists(Target + "/stock.db"));
  EXPECT_TRUE(fs::exists(Target + "/stock.db-wal"));
  EXPECT_TRUE(ArchivedLogs(Dir.Path(), "stock").empty()) << "a full backup leaves the live log alone";
  EXPECT_EQ(RestoredCount(), "200");
}

TEST_F(AsaBackup, BackslashDirectoryIsRewritten) {
  // A Windows-style relative folder: C:\bak becomes C:/bak/ under the current directory.
  fs::path Old = fs::current_path();
  fs::current_path(Dir.Path());
  fs::create_directories("C:/bak");
  bool Ok = S->Backup("C:\\bak", btFull);
  fs::current_path(Old);
  ASSERT_TRUE(Ok) << S->GetLastError();
  ASSERT_FALSE(Progress.empty());
  EXPECT_EQ(Progress.front().File, "C:/bak/stock.db");
  EXPECT_TRUE(fs::exists(Dir.File("C:/bak/stock.db")));
}

TEST_F(AsaBackup, AbortInTheFirstProgressCallEndsTheBackup) {
  S->SetWantExceptions(false);
  AbortAt = 0;
  EXPECT_FALSE(S->Backup(Target, btFull));
  EXPECT_EQ(S->GetLastError(), "User aborted backup operation.");
  EXPECT_EQ(S->GetLastErrorCode(), 0);
  EXPECT_EQ(Progress.size(), 1u);
  // The library's backup was ended: a new one can start.
  AbortAt = -1;
  Progress.clear();
  EXPECT_TRUE(S->Backup(Target, btFull)) << S->GetLastError();
}

TEST_F(AsaBackup, AbortRaisesWithWantExceptions) {
  AbortAt = 2;
  try {
    S->Backup(Target, btFull);
    FAIL() << "no exception";
  } catch (const EAsaException&) {
    FAIL() << "the package's own message is an EZyloException, not a server error";
  } catch (const EZyloException& E) {
    EXPECT_EQ(E.Message(), "User aborted backup operation.");
    EXPECT_EQ(E.GetErrorCode(), 0);
  }
  AbortAt = -1;
  EXPECT_TRUE(S->Backup(Target, btFull)) << "the backup was ended before the exception left";
}

TEST_F(AsaBackup, AbortAtEveryFileAndPagePositionFailsTheBackup) {
  ASSERT_TRUE(S->Backup(Target, btFull)) << S->GetLastError();
  const std::vector<TProgress> Full = Progress;
  ASSERT_EQ(ReportedFiles().size(), 2u) << "the database and its log";
  for (size_t At = 0; At < Full.size(); ++At) {
    SCOPED_TRACE(Full[At].File + " page " + std::to_string(Full[At].Page));
    const bool Raise = At % 2 == 1;
    S->SetWantExceptions(Raise);
    Progress.clear();
    AbortAt = static_cast<int>(At);
    bool Result = true;
    try {
      Result = S->Backup(Target, btFull);
      EXPECT_FALSE(Raise) << "no exception";
    } catch (const EZyloException& E) {
      EXPECT_TRUE(Raise);
      EXPECT_EQ(E.Message(), "User aborted backup operation.");
      Result = false;
    }
    EXPECT_FALSE(Result);
    EXPECT_EQ(S->GetLastError(), "User aborted backup operation.");
    EXPECT_EQ(Progress.size(), At + 1) << "nothing is copied after the abort";
  }
  // Every aborted backup was ended: a whole one still runs.
  AbortAt = -1;
  S->SetWantExceptions(false);
  Progress.clear();
  EXPECT_TRUE(S->Backup(Target, btFull)) << S->GetLastError();
  EXPECT_EQ(Progress.size(), Full.size());
}

TEST_F(AsaBackup, UnwritableTargetIsAMediaError) {
  S->SetWantExceptions(false);
  EXPECT_FALSE(S->Backup(Dir.File("no/such/folder"), btFull));
  EXPECT_EQ(S->GetLastError(), "Not able to backup to the selected media.");
  EXPECT_EQ(S->GetLastErrorCode(), 0);
  S->SetWantExceptions(true);
  try {
    S->Backup(Dir.File("no/such/folder"), btFull);
    FAIL() << "no exception";
  } catch (const EZyloException& E) {
    EXPECT_EQ(E.Message(), "Not able to backup to the selected media.");
  }
  EXPECT_TRUE(S->Backup(Target, btFull));
}

TEST_F(AsaBackup, LogOnlyTypesTouchFileMinusTwoAlone) {
  for (TBackupType T : {btRenameLog, btRenameLocalLog, btRestartLog}) {
    Progress.clear();
    ASSERT_TRUE(S->Backup(Target, T)) << int(T) << " " << S->GetLastError();
    std::vector<std::string> Files = ReportedFiles();
    ASSERT_EQ(Files.size(), 1u) << int(T);
    EXPECT_EQ(Files[0], Target + "/stock.db-wal");
  }
  EXPECT_FALSE(fs::exists(Target + "/stock.db")) << "no database copy for the log-only types";
}

TEST_F(AsaBackup, RenameAndRestartTypesTreatTheLogAsDocumented) {
  // btFullRenameLog: the live log is filed away next to the database; the copy keeps its name.
  ASSERT_TRUE(S->Backup(Target, btFullRenameLog)) << S->GetLastError();
  EXPECT_TRUE(fs::exists(Target + "/stock.db-wal"));
  EXPECT_EQ(ArchivedLogs(Dir.Path(), "stock").size(), 1u);
  fs::remove(Target + "/stock.db-wal");

  // btRenameLog writes no local file at all.
  ASSERT_EQ(ExecImm(*S, "INSERT INTO item VALUES (1000, 'late')"), 0);
  S->Commit();
  ASSERT_TRUE(S->Backup(Target, btRenameLog)) << S->GetLastError();
  EXPECT_FALSE(fs::exists(Target + "/stock.db-wal"));
  EXPECT_EQ(ArchivedLogs(Dir.Path(), "stock").size(), 2u);

  // btFullRenameLocalLog: the local copy takes the archive's name.
  ASSERT_TRUE(S->Backup(Target, btFullRenameLocalLog)) << S->GetLastError();
  EXPECT_FALSE(fs::exists(Target + "/stock.db-wal"));
  std::vector<std::string> Local = ArchivedLogs(Target, "stock");
  ASSERT_EQ(Local.size(), 1u);
  std::vector<std::string> Live = ArchivedLogs(Dir.Path(), "stock");
  EXPECT_EQ(Live.size(), 3u);
  EXPECT_NE(std::find(Live.begin(), Live.end(), Local[0]), Live.end()) << Local[0];

  // btFullRestartLog and btRestartLog delete the archive the library made.
  ASSERT_TRUE(S->Backup(Target, btFullRestartLog)) << S->GetLastError();
  EXPECT_EQ(ArchivedLogs(Dir.Path(), "stock").size(), 3u);
  EXPECT_TRUE(fs::exists(Target + "/stock.db-wal"));
  fs::remove(Target + "/stock.db-wal");
  ASSERT_TRUE(S->Backup(Target, btRestartLog)) << S->GetLastError();
  EXPECT_EQ(ArchivedLogs(Dir.Path(), "stock").size(), 3u);
  EXPECT_FALSE(fs::exists(Target + "/stock.db-wal")) << "btRestartLog writes no local file";
  EXPECT_EQ(RestoredCount(), "201");
}

TEST_F(AsaBackup, CopyUnderConcurrentWritesIsConsistent) {
  auto Writer = NewSession("dblib10.dll", File);
  Writer->Open();
  std::atomic<bool> Stop{false};
  std::atomic<int> Written{0};
  std::thread T([&] {
    for (int I = 1; !Stop.load() && I < 100000; ++I) {
      if (ExecImm(*Writer, "INSERT INTO item VALUES (" + std::to_string(10000 + I) + ", 'w')") != 0) break;
      Writer->Commit();
      Written.store(I);
    }
  });
  int Before = 0;
  while (Written.load() < 5) std::this_thread::yield();
  Before = Written.load();
  // The first progress call waits (at most 30 s) until the writer has committed again, so the
  // writes are known to go on while the backup runs, however loaded the machine.
  auto Report = S->OnBackup;
  bool Waited = false;
  S->OnBackup = [&](TObject* Sender, const AnsiString& BackupFile, int32_t Page, int32_t Pages, bool& Abort) {
    if (!Waited) {
      Waited = true;
      const int Seen = Written.load();
      const auto Until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
      while (Written.load() == Seen && std::chrono::steady_clock::now() < Until) std::this_thread::yield();
    }
    Report(Sender, BackupFile, Page, Pages, Abort);
  };
  bool Ok = S->Backup(Target, btFull);
  int After = Written.load();
  Stop.store(true);
  T.join();
  Writer->Close();
  ASSERT_TRUE(Ok) << S->GetLastError();
  int Copied = std::stoi(RestoredCount());
  EXPECT_GE(Copied, 200 + Before) << "rows committed before the backup started are in the copy";
  EXPECT_LE(Copied, 200 + After + 1);
  EXPECT_GT(After, Before) << "the writer went on during the backup";
}

TEST_F(AsaBackup, LogRestartWaitsForOpenTransactions) {
  auto Other = NewSession("dblib10.dll", File);
  Other->Open();
  ASSERT_EQ(ExecImm(*Other, "INSERT INTO item VALUES (5000, 'open')"), 0);  // transaction stays open
  std::atomic<bool> Committed{false};
  std::thread T([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    Committed.store(true);
    Other->Commit();
  });
  bool Ok = S->Backup(Target, btRenameLog);
  bool WasCommitted = Committed.load();
  T.join();
  Other->Close();
  EXPECT_TRUE(Ok) << S->GetLastError();
  EXPECT_TRUE(WasCommitted) << "the rename waited for the open transaction";
}

TEST_F(AsaBackup, WithoutConnectionTheStartFails) {
  S->Close();
  S->SetWantExceptions(false);
  EXPECT_FALSE(S->Backup(Target, btFull));
  EXPECT_EQ(S->GetLastErrorCode(), -101);
  EXPECT_TRUE(Progress.empty());
}

}  // namespace
