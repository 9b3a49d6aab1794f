// Our statement path next to SQLite's own loop and to the C++ database libraries users would
// otherwise pick (SOCI with its sqlite3 backend, Qt SQL with QSQLITE), on the same files and
// workloads in one run, each library in processes of its own so that each one's peak memory is
// its own (the child's maximum resident set, from wait4).
//
// The driver makes the files (through our client library, so that the catalog knows the types;
// the rows go in through SQLite directly), then runs every workload (bench/side/Side.h) for each
// library in turn, Repeat times, and prints one table of ratios: the best elapsed time of each
// library divided by the best of SQLite's loop (processor-time ratios in parentheses, which other
// work on a shared machine disturbs less), plus the peak and the growth of resident memory of
// the 10 000 000-row read. A library whose worker was not built (the peers are built only when
// their packages are installed: make bench installs them) is left out.
//
// Environment: ZYL_BENCH_ROWS (rows of the fetch table, 1 000 000), ZYL_SIDE_LOOKUPS (100 000),
// ZYL_SIDE_INSERTS (100 000), ZYL_SIDE_SCAN_ROWS (10 000 000), ZYL_SIDE_BACKWARD_ROWS (the fetch
// table's rows), ZYL_SIDE_REPEAT (3); ZYL_SIDE_ONLY (workloads to run, comma-separated),
// ZYL_SIDE_FILES (a folder that keeps the files).
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

#include "bench/BenchTable.h"
#include "bench/side/Side.h"

using namespace zylbench;
using namespace zylside;

namespace {

struct Peer {
  const char* name;
  std::string worker;
};

struct RunResult {
  std::map<std::string, double> values;  // what the worker printed
  long peakKb = 0;                       // the child's maximum resident set
};

// Starts a worker, collects its key=value lines and its peak memory; nullopt when it failed.
std::optional<RunResult> RunWorker(const std::string& worker, const std::string& workload, const std::string& file,
                                   long count) {
  int out[2];
  if (pipe(out) != 0) throw std::runtime_error("pipe");
  const std::string countText = std::to_string(count);
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    dup2(out[1], 1);
    close(out[0]);
    close(out[1]);
    execl(worker.c_str(), worker.c_str(), workload.c_str(), file.c_str(), countText.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  std::string text;
  char buf[4096];
  for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(n));
  close(out[0]);
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "%s %s failed\n", worker.c_str(), workload.c_str());
    return std::nullopt;
  }
  RunResult r;
  r.peakKb = usage.ru_maxrss;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    auto eq = line.find('=');
    if (eq != std::string::npos) r.values[line.substr(0, eq)] = std::atof(line.c_str() + eq + 1);
  }
  return r;
}

// The best of the repetitions of one library on one workload.
struct Best {
  bool ok = false;
  double wall = INFINITY, cpu = INFINITY, fwdWall = INFINITY, fwdCpu = INFINITY;
  double fetches = 0, fwdFetches = 0;
  long peakKb = 0, growthKb = 0;
  void Add(const RunResult& r) {
    ok = true;
    auto get = [&](const char* k) {
      auto it = r.values.find(k);
      return it == r.values.end() ? 0.0 : it->second;
    };
    wall = std::min(wall, get("wall"));
    cpu = std::min(cpu, get("cpu"));
    if (r.values.count("fwd_wall")) {
      fwdWall = std::min(fwdWall, get("fwd_wall"));
      fwdCpu = std::min(fwdCpu, get("fwd_cpu"));
      fwdFetches = get("fwd_fetches");
    }
    fetches = get("fetches");
    // Memory: the largest peak of the repetitions, and growth over what it held before the read.
    peakKb = std::max(peakKb, r.peakKb);
    growthKb = std::max(growthKb, r.peakKb - static_cast<long>(get("rss_before_kb")));
  }
};

std::string MachineText() {
  std::string cpu;
  std::ifstream in("/proc/cpuinfo");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("model name", 0) == 0) {
      cpu = line.substr(line.find(':') + 2);
      break;
    }
  utsname u{};
  uname(&u);
  return cpu + ", " + std::to_string(sysconf(_SC_NPROCESSORS_ONLN)) + " cores, " + u.sysname + " " + u.release;
}

std::string LoadText() {
  std::ifstream in("/proc/loadavg");
  std::string a, b, c;
  in >> a >> b >> c;
  return a + " " + b + " " + c;
}

std::string Ratio(const Best& ours, const Best& theirs) {
  if (!ours.ok || !theirs.ok) return "-";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.2f (%.2f)", ours.wall / theirs.wall, ours.cpu / theirs.cpu);
  return buf;
}

std::string Mb(long kb) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.0f MB", static_cast<double>(kb) / 1024.0);
  return buf;
}

void FillLookupTable(const std::string& file) {
  sqlite3* db = nullptr;
  sqlite3_open(file.c_str(), &db);
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO k VALUES (?, ?, ?)", -1, &st, nullptr);
  for (int id = 1; id <= kKeys; ++id) {
    std::string name = "item " + std::to_string(id);
    sqlite3_bind_int(st, 1, id);
    sqlite3_bind_text(st, 2, name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_double(st, 3, id * 0.5);
    sqlite3_step(st);
    sqlite3_reset(st);
  }
  sqlite3_finalize(st);
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(db);
}

void FillScanTable(const std::string& file, long rows) {
  sqlite3* db = nullptr;
  sqlite3_open(file.c_str(), &db);
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO m VALUES (?, ?)", -1, &st, nullptr);
  char s[24];
  for (long r = 0; r < rows; ++r) {
    int n = std::snprintf(s, sizeof s, "value %ld", r * 7);
    sqlite3_bind_int64(st, 1, r);
    sqlite3_bind_text(st, 2, s, n, SQLITE_TRANSIENT);
    sqlite3_step(st);
    sqlite3_reset(st);
  }
  sqlite3_finalize(st);
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(db);
}

}  // namespace

int main() {
  const long lookups = EnvCount("ZYL_SIDE_LOOKUPS", 100000);
  const long inserts = EnvCount("ZYL_SIDE_INSERTS", 100000);
  const long scanRows = EnvCount("ZYL_SIDE_SCAN_ROWS", 10000000);
  // The backward scan reads the whole fetch table by default, as the forward fetch does.
  const long backRows = std::min<long>(EnvCount("ZYL_SIDE_BACKWARD_ROWS", kRows), kRows);
  const int repeat = EnvCount("ZYL_SIDE_REPEAT", 3);

  std::vector<Peer> peers = {{"SQLite loop", ZYL_SIDE_DIR "/zylside-sqlite"},
                             {"ours", ZYL_SIDE_DIR "/zylside-ours"},
                             {"SOCI", ZYL_SIDE_DIR "/zylside-soci"},
                             {"Qt SQL", ZYL_SIDE_DIR "/zylside-qt"}};
  std::vector<Peer> present;
  for (const Peer& p : peers)
    if (access(p.worker.c_str(), X_OK) == 0) present.push_back(p);
    else std::printf("(%s not built: its packages are missing; make bench installs them)\n", p.name);

  // ZYL_SIDE_FILES names a folder that keeps the files for later runs (a profiler's, say).
  const char* keep = std::getenv("ZYL_SIDE_FILES");
  std::string dir;
  if (keep) {
    dir = keep;
    std::filesystem::create_directories(dir + "/engines");
    setenv("ZYL_ENGINE_DIR", (dir + "/engines").c_str(), 1);
  } else {
    dir = MakeRunDir("zyl-side");
  }
  const std::string file = dir + "/side.db", wide = dir + "/wide.db";
  const std::string loadBefore = LoadText();
  if (!std::filesystem::exists(file)) {
  CreateDatabaseWith(file, "sidemake",
                     {"CREATE TABLE b" + std::string(kTable), "CREATE TABLE ins" + std::string(kTable),
                      "CREATE TABLE k (id INTEGER PRIMARY KEY, name VARCHAR(30), price DOUBLE)"});
  FillRows(file, kRows);
  FillLookupTable(file);
  CreateDatabaseWith(wide, "sidemakewide", {"CREATE TABLE m (i INTEGER, s VARCHAR(20))"});
  FillScanTable(wide, scanRows);
  }

  struct Workload {
    std::string name, file;
    long count, expected;
    bool oursOnly;
  };
  const std::vector<Workload> workloads = {
      {"fetch", file, 0, kRows, false},       {"fetch-dblib", file, 0, kRows, true},
      {"lookup", file, lookups, lookups, false}, {"insert", file, inserts, inserts, false},
      {"backward", file, backRows, backRows, true},     {"scan", wide, 0, scanRows, false}};
  std::map<std::string, std::map<std::string, Best>> best;  // workload -> library -> best
  // ZYL_SIDE_ONLY: a comma-separated list of the workloads to run (all when unset).
  const std::string only = std::getenv("ZYL_SIDE_ONLY") ? std::getenv("ZYL_SIDE_ONLY") : "";
  for (const Workload& w : workloads) {
    if (!only.empty() && ("," + only + ",").find("," + w.name + ",") == std::string::npos) continue;
    for (int rep = 0; rep < repeat; ++rep) {
      for (const Peer& p : present) {
        const bool isOurs = std::string(p.name) == "ours";
        const bool isLoop = std::string(p.name) == "SQLite loop";
        if (w.oursOnly && !isOurs && !(isLoop && w.name == "fetch-dblib")) continue;
        const std::string workload = isLoop && w.name == "fetch-dblib" ? "fetch" : w.name;
        if (w.name == "backward" && !isOurs) continue;
        auto r = RunWorker(p.worker, workload, w.file, w.count);
        if (!r) continue;
        if (static_cast<long>(r->values["rows"]) != w.expected) {
          std::fprintf(stderr, "%s %s: %ld rows, expected %ld\n", p.name, w.name.c_str(),
                       static_cast<long>(r->values["rows"]), w.expected);
          continue;
        }
        best[w.name][p.name].Add(*r);
      }
    }
  }
  std::error_code ec;
  if (!keep) std::filesystem::remove_all(dir, ec);

  char date[32];
  std::time_t now = std::time(nullptr);
  std::strftime(date, sizeof date, "%Y-%m-%d %H:%M", std::localtime(&now));
  std::printf("\nSide by side, %s; %s; load average %s before, %s after\n", date, MachineText().c_str(),
              loadBefore.c_str(), LoadText().c_str());
  std::printf("Best of %d runs each; ratio = time / SQLite loop's time, elapsed (processor) time.\n\n", repeat);
  std::printf("| workload | SQLite loop | ours | SOCI | Qt SQL | target (ours) |\n|---|---|---|---|---|---|\n");
  auto row = [&](const char* title, const std::string& w, const char* target) {
    auto& b = best[w];
    const Best& loop = b["SQLite loop"];
    char base[48] = "-";
    if (loop.ok) std::snprintf(base, sizeof base, "1 (%.3f s)", loop.wall);
    std::printf("| %s | %s | %s | %s | %s | %s |\n", title, base, Ratio(b["ours"], loop).c_str(),
                Ratio(b["SOCI"], loop).c_str(), Ratio(b["Qt SQL"], loop).c_str(), target);
  };
  char title[160];
  std::snprintf(title, sizeof title, "fetch %d x 5, every value read (TAsaSQL: OpenRead, Next, GetFieldValue)", kRows);
  row(title, "fetch", "<= 1.6");
  std::snprintf(title, sizeof title, "the same through dbpp_fetch_array alone");
  row(title, "fetch-dblib", "<= 1.15");
  std::snprintf(title, sizeof title, "%ld point look-ups by key, prepared once", lookups);
  row(title, "lookup", "<= 1.3");
  std::snprintf(title, sizeof title, "%ld prepared inserts, one transaction", inserts);
  row(title, "insert", "<= 1.2");
  std::snprintf(title, sizeof title, "forward read of %ld x 2", scanRows);
  row(title, "scan", "");
  {
    auto& b = best["scan"];
    std::printf("| peak memory of that read (growth during it) |");
    for (const char* name : {"SQLite loop", "ours", "SOCI", "Qt SQL"}) {
      const Best& x = b[name];
      std::printf(" %s |", x.ok ? (Mb(x.peakKb) + " (+" + Mb(x.growthKb) + ")").c_str() : "-");
    }
    std::printf(" growth <= 32 MB |\n");
  }
  {
    const Best& o = best["backward"]["ours"];
    if (o.ok) {
      std::printf(
          "| backward scan of %ld rows (Last, Prev to the start) | - | %.2f (%.2f) x the forward scan; %.0f fetches, "
          "forward %.0f | - | - | <= 1.3 x; fetches within 10 %% |\n",
          backRows, o.wall / o.fwdWall, o.cpu / o.fwdCpu, o.fetches, o.fwdFetches);
    }
  }
  return 0;
}
