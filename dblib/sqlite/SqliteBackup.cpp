// Online backup of a SQLite database file (the Backup interface of Engine.h).
//
// What the backup files are:
//   0   the database: a copy made with SQLite's online backup facility when the backup starts,
//       inside a read transaction of the backup's own handle, so it holds the committed state
//       of that one moment however busy the writers are.
//   -2  the transaction log: the database's write-ahead log (<file>-wal), copied when it is
//       opened. It holds the transactions committed since the log last restarted, in SQLite's
//       own log format (every frame checksummed, so a copy cut in the middle of a transaction
//       only ever yields whole committed transactions). The read transaction, held from start
//       to end, keeps SQLite from recycling the log meanwhile, so the two copies fit together:
//       the database copy alone is a complete database; with the log copy placed beside it as
//       <file>-wal, opening it replays the transactions committed up to the log's copy.
//   -1  and 1..12 name no file (one file per database, no separate write file).
// Restarting the log (after the last page read with the read-and-rename operation): the log's
// copy is filed away next to the database as <prefix>-<yymmdd><nn>.wal, the backup's read
// transaction ends, and a truncating checkpoint moves the live log into the database file and
// leaves it empty. While another connection holds a transaction open the checkpoint cannot
// finish: -242, the filed-away copy is withdrawn, and the caller retries. Transactions
// committed between the log's copy and its restart land in the database file and in no log
// copy (the next backup's database copy holds them).
//
// Life cycle: StartBackup (claims the database, copies it) --Open/ReadPage/Close per file-->
// --RestartLog (at most once)--> destructor (the backup's handle closed, private copies gone).
// Nothing here writes the live database except the checkpoint of a restart, which SQLite
// makes safe for every other connection.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <mutex>
#include <regex>
#include <set>
#include <thread>

#include "dblib/engine/Registry.h"
#include "dblib/sqlite/SqliteEngine.h"
#include "dblib/sqlite/SqliteErrors.h"

namespace dbl {

namespace fs = std::filesystem;

namespace {

// Backups serve pages of the database's page size, but at most 16 KB: the caller's buffer is
// described by a 16-bit length.
constexpr uint32_t kMaxBackupPage = 16384;

// One backup per database at a time: within the process by canonical file name, across the
// user's processes by an advisory lock on a file in the engine registry directory named
// after the database (never a lock on SQLite's own files: closing a second descriptor of
// those would drop SQLite's locks). The lock files stay; they are empty.
class BackupClaim {
 public:
  explicit BackupClaim(const std::string& file) : file_(file) {
    {
      std::lock_guard<std::mutex> lock(Mutex());
      if (!Files().insert(file_).second) throw SqlError(SQLE_BACKUP_NOT_STARTED);
    }
    std::string dir = Registry::Get().Directory();
    std::error_code ec;
    fs::create_directories(dir, ec);
    // FNV-1a of the file name: a short, stable lock-file name.
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : file_) h = (h ^ c) * 1099511628211ull;
    char name[40];
    std::snprintf(name, sizeof name, "/backup-%016llx.lock", static_cast<unsigned long long>(h));
    fd_ = ::open((dir + name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      ::close(fd_);
      Release();
      throw SqlError(SQLE_BACKUP_NOT_STARTED);  // another process backs it up
    }
    // Without a registry directory to lock in, the claim holds for this process only.
  }
  ~BackupClaim() {
    if (fd_ >= 0) ::close(fd_);  // releases the lock
    Release();
  }
  BackupClaim(const BackupClaim&) = delete;
  BackupClaim& operator=(const BackupClaim&) = delete;

 private:
  void Release() {
    std::lock_guard<std::mutex> lock(Mutex());
    Files().erase(file_);
  }
  static std::mutex& Mutex() {
    static std::mutex m;
    return m;
  }
  static std::set<std::string>& Files() {
    static std::set<std::string> s;
    return s;
  }
  std::string file_;
  int fd_ = -1;
};

void Run(sqlite3* db, const char* sql) {
  int rc = sq::exec(db, sql, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) ThrowSqlite(db, rc);
}

// Creation time where the file system records one, else the last change.
int64_t CreationTime(const std::string& file) {
  struct statx sx {};
  if (::statx(AT_FDCWD, file.c_str(), 0, STATX_BTIME | STATX_MTIME, &sx) == 0) {
    if (sx.stx_mask & STATX_BTIME) return sx.stx_btime.tv_sec;
    return sx.stx_mtime.tv_sec;
  }
  return 0;
}

// Copies a file's bytes as they are now; a missing source gives an empty copy.
// Returns the bytes copied.
uint64_t CopyBytes(const std::string& from, const std::string& to, bool exclusive) {
  int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (exclusive ? O_EXCL : O_TRUNC), 0600);
  if (out < 0) throw SqlError(SQLE_DEVICE_ERROR, {to});
  int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  uint64_t total = 0;
  bool ok = true;
  if (in >= 0) {
    char buf[65536];
    for (;;) {
      ssize_t n = ::read(in, buf, sizeof buf);
      if (n == 0) break;
      if (n < 0) {
        ok = false;
        break;
      }
      for (ssize_t done = 0; done < n;) {
        ssize_t w = ::write(out, buf + done, size_t(n - done));
        if (w <= 0) {
          ok = false;
          break;
        }
        done += w;
      }
      if (!ok) break;
      total += uint64_t(n);
    }
    ::close(in);
  } else if (errno != ENOENT) {
    ok = false;
  }
  if (::fsync(out) != 0) ok = false;
  if (::close(out) != 0) ok = false;
  if (!ok) {
    ::unlink(to.c_str());
    throw SqlError(SQLE_DEVICE_ERROR, {to});
  }
  return total;
}

// The message area holds 70 bytes: a longer path is reported by its file name, which the
// library resolves in the database's directory (a file name longer than that is cut: the
// area allows no more).
std::string Reported(const std::string& path) {
  return path.size() <= 70 ? path : fs::path(path).filename().string();
}

class SqliteBackup : public Backup {
 public:
  explicit SqliteBackup(std::string file) : file_(std::move(file)), log_(file_ + "-wal"), claim_(file_) {
    try {
      Begin();
    } catch (...) {
      Cleanup();
      throw;
    }
  }
  ~SqliteBackup() override { Cleanup(); }

  uint32_t PageSize() const override { return unit_; }

  bool Open(int file, BackupFile& out) override {
    if (file == 0) {
      out.name = Reported(file_);
      out.pages = Pages(dbBytes_);
    } else if (file == DB_BACKUP_TRANS_LOG_FILE) {
      logBytes_ = CopyBytes(log_, dir_ + "/log", false);
      logCopied_ = true;
      restartedAs_.clear();
      // An empty log still has one (empty) page, so that reading it can restart the log.
      out.name = Reported(log_);
      out.pages = std::max<uint32_t>(1, Pages(logBytes_));
    } else {
      return false;
    }
    out.created = CreationTime(file == 0 ? file_ : log_);
    open_.insert(file);
    pages_[file] = out.pages;
    return true;
  }

  uint32_t PageCount(int file) const override {
    auto it = pages_.find(file);
    return open_.count(file) && it != pages_.end() ? it->second : 0;
  }

  std::string ReadPage(int file, uint32_t page) override {
    if (!open_.count(file)) throw SqlError(SQLE_BACKUP_NOT_STARTED);
    if (page >= pages_[file]) throw SqlError(SQLE_NOTFOUND);
    std::string copy = dir_ + (file == 0 ? "/db" : "/log");
    uint64_t size = file == 0 ? dbBytes_ : logBytes_;
    uint64_t at = uint64_t(page) * unit_;
    size_t want = size > at ? size_t(std::min<uint64_t>(unit_, size - at)) : 0;
    std::string bytes(want, '\0');
    if (want) {
      int fd = ::open(copy.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) throw SqlError(SQLE_DEVICE_ERROR, {copy});
      size_t got = 0;
      while (got < want) {
        ssize_t n = ::pread(fd, bytes.data() + got, want - got, off_t(at + got));
        if (n <= 0) break;
        got += size_t(n);
      }
      ::close(fd);
      if (got != want) throw SqlError(SQLE_DEVICE_ERROR, {copy});
    }
    return bytes;
  }

  std::string RestartLog() override {
    if (!logCopied_) throw SqlError(SQLE_BACKUP_NOT_STARTED);
    if (!restartedAs_.empty()) return Reported(restartedAs_);
    std::string archive = FileAway();
    // The backup's own read transaction would hold the checkpoint back: end it first.
    if (sq::txn_state(src_) != SQLITE_TXN_NONE) Run(src_, "COMMIT");
    sq::busy_timeout(src_, 200);
    int logFrames = 0, done = 0;
    int rc = sq::wal_checkpoint_v2(src_, "main", SQLITE_CHECKPOINT_TRUNCATE, &logFrames, &done);
    if (rc != SQLITE_OK) {
      ::unlink(archive.c_str());
      if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) throw SqlError(SQLE_BACKUP_CANNOT_RENAME_LOG_YET);
      ThrowSqlite(src_, rc);
    }
    restartedAs_ = archive;
    return Reported(archive);
  }

  void Close(int file) override {
    if (!open_.erase(file)) throw SqlError(SQLE_BACKUP_NOT_STARTED);
  }

 private:
  void Begin() {
    src_ = OpenHandle(file_, false);
    // The read transaction fixes the moment and keeps the log from being recycled until end.
    Run(src_, "BEGIN");
    Run(src_, "SELECT count(*) FROM sqlite_master");

    const char* root = std::getenv("TMPDIR");
    std::string tmpl = std::string(root && *root ? root : "/tmp") + "/zyl-backup-XXXXXX";
    if (!::mkdtemp(tmpl.data())) throw SqlError(SQLE_DEVICE_ERROR, {tmpl});
    dir_ = tmpl;

    std::string copy = dir_ + "/db";
    sqlite3* dst = nullptr;
    int rc = sq::open_v2(copy.c_str(), &dst, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK) {
      sq::close_v2(dst);
      throw SqlError(SQLE_DEVICE_ERROR, {copy});
    }
    try {
      sqlite3_backup* b = sq::backup_init(dst, "main", src_, "main");
      if (!b) ThrowSqlite(dst, sq::errcode(dst));
      // The source is in a read transaction already, so the copy is one step of that snapshot;
      // a busy destination is our own private file and cannot stay busy.
      auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
      do {
        rc = sq::backup_step(b, -1);
        if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      } while ((rc == SQLITE_BUSY || rc == SQLITE_LOCKED) && std::chrono::steady_clock::now() < until);
      int frc = sq::backup_finish(b);
      if (rc != SQLITE_DONE) ThrowSqlite(dst, rc);
      if (frc != SQLITE_OK) ThrowSqlite(dst, frc);
    } catch (...) {
      sq::close_v2(dst);
      throw;
    }
    sq::close_v2(dst);

    struct stat st {};
    if (::stat(copy.c_str(), &st) != 0) throw SqlError(SQLE_DEVICE_ERROR, {copy});
    dbBytes_ = uint64_t(st.st_size);
    // The page size from the copy's header (bytes 16-17, big-endian; 1 stands for 65536).
    unsigned char header[18] = {0};
    int fd = ::open(copy.c_str(), O_RDONLY | O_CLOEXEC);
    ssize_t n = fd >= 0 ? ::pread(fd, header, sizeof header, 0) : -1;
    if (fd >= 0) ::close(fd);
    if (n != ssize_t(sizeof header)) throw SqlError(SQLE_DEVICE_ERROR, {copy});
    uint32_t pageSize = (uint32_t(header[16]) << 8) | header[17];
    if (pageSize == 1) pageSize = 65536;
    if (pageSize < 512) throw SqlError(SQLE_DATABASE_ERROR, {file_});
    unit_ = std::min(pageSize, kMaxBackupPage);
  }

  uint32_t Pages(uint64_t bytes) const {
    uint64_t p = (bytes + unit_ - 1) / unit_;
    if (p > UINT32_MAX) throw SqlError(SQLE_DEVICE_ERROR, {file_});
    return uint32_t(p);
  }

  // The log's copy under the first free archive name beside the database.
  std::string FileAway() {
    fs::path db(file_);
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char day[16];
    std::strftime(day, sizeof day, "%y%m%d", &tm);
    for (int i = 0; i < 100; ++i) {
      char nn[4];
      std::snprintf(nn, sizeof nn, "%02d", i);
      std::string name = (db.parent_path() / (db.stem().string() + "-" + day + nn + ".wal")).string();
      struct stat st {};
      if (::lstat(name.c_str(), &st) == 0) continue;
      CopyBytes(dir_ + "/log", name, true);
      return name;
    }
    throw SqlError(SQLE_DEVICE_ERROR, {db.parent_path().string()});
  }

  void Cleanup() {
    if (src_) {
      sq::close_v2(src_);  // an open read transaction ends with the handle
      src_ = nullptr;
    }
    if (!dir_.empty()) {
      std::error_code ec;
      fs::remove_all(dir_, ec);
      dir_.clear();
    }
  }

  std::string file_, log_;
  BackupClaim claim_;
  sqlite3* src_ = nullptr;  // the backup's own handle on the live database
  std::string dir_;         // private folder of the copies ("db", "log")
  uint32_t unit_ = 4096;
  uint64_t dbBytes_ = 0, logBytes_ = 0;
  bool logCopied_ = false;
  std::string restartedAs_;  // the filed-away log once the log restarted
  std::set<int> open_;
  std::map<int, uint32_t> pages_;
};

}  // namespace

std::unique_ptr<Backup> SqliteConnection::StartBackup() {
  if (Utility() || Db().File().empty()) throw SqlError(SQLE_BACKUP_NOT_STARTED);
  if (!IsDba()) throw SqlError(SQLE_PERMISSION_DENIED, {"backup requires DBA authority"});
  std::error_code ec;
  fs::path file = fs::canonical(Db().File(), ec);
  if (ec) throw SqlError(SQLE_BACKUP_NOT_STARTED);
  return std::make_unique<SqliteBackup>(file.string());
}

void SqliteConnection::DeleteLogFile(const std::string& name) {
  if (!IsDba()) throw SqlError(SQLE_PERMISSION_DENIED, {"deleting a database file requires DBA authority"});
  if (Utility() || Db().File().empty() || name.empty()) throw SqlError(SQLE_BACKUP_UNABLE_TO_DELETE_FILE);
  std::error_code ec;
  fs::path db = fs::canonical(Db().File(), ec);
  if (ec) throw SqlError(SQLE_BACKUP_UNABLE_TO_DELETE_FILE);
  fs::path target(name);
  if (!target.has_parent_path()) target = db.parent_path() / target;
  fs::path dir = fs::canonical(target.parent_path(), ec);
  if (ec || dir != db.parent_path()) throw SqlError(SQLE_BACKUP_UNABLE_TO_DELETE_FILE);
  // Only a filed-away log of this database: <prefix>-<8 digits>.wal, a plain file.
  static const std::regex kArchive("-[0-9]{8}\\.wal");
  std::string leaf = target.filename().string(), prefix = db.stem().string();
  if (leaf.size() <= prefix.size() || leaf.compare(0, prefix.size(), prefix) != 0 ||
      !std::regex_match(leaf.substr(prefix.size()), kArchive))
    throw SqlError(SQLE_BACKUP_UNABLE_TO_DELETE_FILE);
  fs::path path = dir / leaf;
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || ::unlink(path.c_str()) != 0)
    throw SqlError(SQLE_BACKUP_UNABLE_TO_DELETE_FILE);
}

}  // namespace dbl
