// Fuzz target: whole statements through the C entry points on a scratch database, the way the
// binding drives them: prepare, describe output and input, bind every input marker, then open a
// scroll cursor and move around it (for a statement with columns) or execute it; everything is
// rolled back after each input. A watchdog cancels an input that runs for more than two
// seconds (a procedure that loops), so only a hang that cancel cannot end is reported.
//
// Statements that would reach outside the scratch folder (CREATE/DROP DATABASE with any path,
// ATTACH, VACUUM INTO, WAITFOR) are skipped: they are not what this target probes.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "dblib/esql.h"

namespace {

SQLCA g_ca;
char kCursor[] = "FUZZ";
std::string g_dir;  // the scratch folder, removed when the run ends

// Cancels the running request when an input takes longer than its allowance.
class Watchdog {
 public:
  Watchdog() : thread_([this] { Run(); }) {}
  void Arm() {
    std::lock_guard<std::mutex> l(m_);
    deadline_ = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    armed_ = true;
    cv_.notify_all();
  }
  void Disarm() {
    std::lock_guard<std::mutex> l(m_);
    armed_ = false;
  }

 private:
  void Run() {
    std::unique_lock<std::mutex> l(m_);
    for (;;) {
      if (!armed_) {
        cv_.wait(l);
        continue;
      }
      if (cv_.wait_until(l, deadline_) == std::cv_status::timeout && armed_ &&
          std::chrono::steady_clock::now() >= deadline_) {
        db_cancel_request(&g_ca);
        deadline_ += std::chrono::seconds(1);
      }
    }
  }
  std::mutex m_;
  std::condition_variable cv_;
  std::chrono::steady_clock::time_point deadline_;
  bool armed_ = false;
  std::thread thread_;
};

Watchdog* g_watchdog = nullptr;

void Exec(const char* sql) {
  std::string s = sql;
  dbpp_execute_imm(&g_ca, s.data(), 2);
}

bool Skipped(const std::string& text) {
  std::string upper(text);
  for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
  for (const char* w : {"DATABASE", "ATTACH", "VACUUM", "WAITFOR", "BACKUP", "DELETE_FILE"})
    if (upper.find(w) != std::string::npos) return true;
  return false;
}

// An SQLDA of n string variables with their own buffers and indicators.
struct Vars {
  explicit Vars(int n) : da(alloc_sqlda(unsigned(std::max(n, 1)))), buf(size_t(std::max(n, 1)) * 256), ind(size_t(std::max(n, 1))) {
    da->sqld = short(n);
    for (int i = 0; i < n; ++i) {
      da->sqlvar[i].sqltype = DT_STRING | 1;
      da->sqlvar[i].sqllen = 256;
      da->sqlvar[i].sqldata = &buf[size_t(i) * 256];
      da->sqlvar[i].sqlind = &ind[size_t(i)];
    }
  }
  ~Vars() { free_sqlda(da); }
  SQLDA* da;
  std::vector<char> buf;
  std::vector<short> ind;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Everything the target makes stays in a folder of its own (the engine registry included).
  std::string dir = (std::filesystem::temp_directory_path() / ("zyl-fuzz-" + std::to_string(getpid()))).string();
  std::filesystem::create_directories(dir);
  g_dir = dir;
  std::atexit([] {
    std::error_code ec;
    std::filesystem::remove_all(g_dir, ec);
  });
  setenv("ZYL_ENGINE_DIR", (dir + "/engines").c_str(), 1);
  unsetenv("SQLCONNECT");
  if (chdir(dir.c_str()) != 0) std::abort();
  db_init(&g_ca);
  std::string make = "ENG=fuzzmaker;DBN=utility_db;UID=DBA;PWD=x";
  if (!db_string_connect(&g_ca, make.data())) std::abort();
  Exec(("CREATE DATABASE '" + dir + "/scratch.db'").c_str());
  db_string_disconnect(&g_ca, nullptr);
  std::string cs = "ENG=fuzz;DBF=" + dir + "/scratch.db;UID=dba;PWD=sql";
  if (!db_string_connect(&g_ca, cs.data())) std::abort();
  Exec("CREATE TABLE t(id INTEGER PRIMARY KEY, name VARCHAR(30), amount NUMERIC(10,2), born DATE, data LONG BINARY)");
  Exec("INSERT INTO t VALUES (1, 'one', 1.5, '2001-02-03', 'x'), (2, 'two', NULL, NULL, NULL), (3, 'three', -7, '1999-12-31', '')");
  Exec("CREATE PROCEDURE p(IN a INTEGER, OUT b VARCHAR(10)) BEGIN SET b = 'b' || a; SELECT id, name FROM t WHERE id <= a; END");
  Exec("COMMIT");
  g_watchdog = new Watchdog();  // lives as long as the process
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  text = text.substr(0, text.find('\0'));  // the entry points take C strings
  if (Skipped(text)) return 0;
  g_watchdog->Arm();
  short stmt = 0;
  dbpp_prepare(&g_ca, nullptr, nullptr, &stmt, text.data(), nullptr, 0);
  if (g_ca.sqlcode >= 0) {
    Vars out(8), in(8);
    dbpp_describe(&g_ca, nullptr, nullptr, &stmt, out.da, DESCRIBE_OUTPUT);
    int columns = g_ca.sqlcode >= 0 ? std::min<int>(out.da->sqld, 8) : 0;
    dbpp_describe(&g_ca, nullptr, nullptr, &stmt, in.da, DESCRIBE_INPUT);
    int markers = g_ca.sqlcode >= 0 ? std::min<int>(in.da->sqld, 8) : 0;
    Vars values(markers);
    for (int i = 0; i < markers; ++i) {
      std::snprintf(&values.buf[size_t(i) * 256], 256, "%d", i + 1);
      values.ind[size_t(i)] = (size + size_t(i)) % 5 == 0 ? -1 : 0;  // some NULLs
    }
    Vars row(columns);
    if (columns > 0) {
      dbpp_declare(&g_ca, kCursor, nullptr, nullptr, &stmt, CUR_SCROLL | CUR_READ_ONLY);
      dbpp_open(&g_ca, kCursor, nullptr, nullptr, &stmt, values.da, 0, 0, CUR_SCROLL | CUR_READ_ONLY);
      if (g_ca.sqlcode >= 0) {
        const struct {
          unsigned short type;
          int offset;
        } moves[] = {{FETCH_RELATIVE, 1}, {FETCH_RELATIVE, 1}, {FETCH_ABSOLUTE, -1}, {FETCH_RELATIVE, -1},
                     {FETCH_ABSOLUTE, 1}, {FETCH_ABSOLUTE, 0}, {FETCH_ABSOLUTE, 1000}};
        for (auto m : moves) dbpp_fetch(&g_ca, kCursor, m.type, m.offset, row.da, 0, 0);
        dbpp_close(&g_ca, kCursor);
      }
    } else {
      dbpp_execute_into(&g_ca, nullptr, nullptr, &stmt, values.da, row.da);
    }
    dbpp_dropstmt(&g_ca, nullptr, nullptr, &stmt);
  }
  g_watchdog->Disarm();
  dbpp_rollback(&g_ca, 0);
  return 0;
}
