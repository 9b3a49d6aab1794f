// What the side-by-side benchmark's workers share: the workloads' SQL texts and keys, the
// command line they are started with, and how they report.
//
// A worker runs one workload once, in its own process, through one library:
//
//     <worker> <workload> <database file> <count>
//
// and prints what it measured as key=value lines on its standard output:
//     wall=<s> cpu=<s>        elapsed and processor time of the workload alone (connecting,
//                             preparing the file and starting an engine are not counted)
//     rows=<n>                rows read, inserted or looked up (the driver checks the count)
//     rss_before_kb=<k>       resident memory just before the workload started
//     fetches=<n>             (our statement only) block fetches it asked the server for
// and, for the backward workload, the same keys prefixed "fwd_" for its forward pass. Any failure
// ends the worker with status 1 and a message on standard error.
//
// Workloads (the database file is made by the driver, bench_side_by_side.cpp):
//     fetch     SELECT i, d, s, dt, l FROM b: every row, every value read as its type
//     lookup    <count> look-ups SELECT name, price FROM k WHERE id = ? through one statement
//               prepared once, a new key each time, both values read
//     insert    <count> rows INSERT INTO ins VALUES (?, ?, ?, ?, ?) through one prepared
//               statement in one transaction (the table is emptied first, not timed)
//     scan      SELECT i, s FROM m: every row, both values read (the 10 000 000-row read whose
//               peak memory the driver takes)
//     backward  (ours) the first <count> rows of the fetch read forward with Next, then with
//               Last and Prev to the start
//     fetch-dblib (ours) the fetch read through the client library's block fetch alone
#pragma once

#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>

namespace zylside {

inline const char* kFetchSelect = "SELECT i, d, s, dt, l FROM b";
inline const char* kLookupSelect = "SELECT name, price FROM k WHERE id = ?";
inline const char* kInsert = "INSERT INTO ins VALUES (?, ?, ?, ?, ?)";
inline const char* kScanSelect = "SELECT i, s FROM m";

constexpr int kKeys = 10000;  // rows of table k, keys 1 .. kKeys

// The key of look-up r: every key in turn, in an order that is not the table's.
inline int LookupKey(int r) { return static_cast<int>((static_cast<long long>(r) * 7919) % kKeys) + 1; }

struct Args {
  std::string workload, file;
  long count = 0;
};

inline Args ParseArgs(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s workload database-file [count]\n", argv[0]);
    std::exit(2);
  }
  Args a;
  a.workload = argv[1];
  a.file = argv[2];
  a.count = argc > 3 ? std::atol(argv[3]) : 0;
  return a;
}

inline double ProcessCpuSeconds() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// A field of /proc/self/status in kB (VmRSS, VmHWM), 0 when it cannot be read.
inline long StatusKb(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const size_t n = std::strlen(field);
  while (std::getline(in, line))
    if (line.compare(0, n, field) == 0 && line.size() > n && line[n] == ':') return std::atol(line.c_str() + n + 1);
  return 0;
}

// Elapsed and processor time of one piece of work.
struct Timing {
  double wall = 0, cpu = 0;
};

template <class Work>
Timing Measure(Work&& work) {
  const double c0 = ProcessCpuSeconds();
  const auto t0 = std::chrono::steady_clock::now();
  work();
  const auto t1 = std::chrono::steady_clock::now();
  const double c1 = ProcessCpuSeconds();
  return Timing{std::chrono::duration<double>(t1 - t0).count(), c1 - c0};
}

inline void Report(const char* prefix, const Timing& t, long rows, long rssBeforeKb) {
  std::printf("%swall=%.6f\n%scpu=%.6f\n%srows=%ld\n%srss_before_kb=%ld\n", prefix, t.wall, prefix, t.cpu, prefix, rows,
              prefix, rssBeforeKb);
}

// Runs a worker's main body: failures end the process with status 1 and the reason.
template <class Body>
int RunWorker(Body&& body) {
  try {
    body();
    std::fflush(stdout);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "worker failed: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "worker failed\n");
  }
  return 1;
}

// The values of inserted row r, as the reference table's loader makes them (BenchTable.h).
struct InsertRow {
  char s[40];
  int sn = 0;
  int year = 0, month = 0, day = 0;
  std::string l = std::string(200, 'x');
  int ln = 0;
  void Make(int r) {
    sn = std::snprintf(s, sizeof s, "name number %d of the set", r);
    if (sn > 30) sn = 30;
    s[sn] = 0;
    year = 1990 + r % 30;
    month = 1 + r % 12;
    day = 1 + r % 28;
    for (int k = 0; k < 8; ++k) l[static_cast<size_t>(k)] = static_cast<char>('a' + (r >> k) % 26);
    ln = 120 + r % 81;
  }
};

}  // namespace zylside
