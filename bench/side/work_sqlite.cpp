// The yardstick: SQLite's own loops (prepare, bind, step, column, reset) on the same file, opened
// with SQLite's defaults plus the journal mode our databases use (WAL, which the file keeps).
#include <sqlite3.h>

#include "bench/side/Side.h"

using namespace zylside;

namespace {

sqlite3* OpenFile(const std::string& file, bool readOnly) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.c_str(), &db, readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
    throw std::runtime_error("open " + file);
  if (!readOnly) sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
  return db;
}

sqlite3_stmt* Prepare(sqlite3* db, const char* sql) {
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK) throw std::runtime_error(sqlite3_errmsg(db));
  return st;
}

void Fail(sqlite3* db) { throw std::runtime_error(sqlite3_errmsg(db)); }

}  // namespace

int main(int argc, char** argv) {
  const Args a = ParseArgs(argc, argv);
  return RunWorker([&] {
    double sum = 0;
    long rows = 0;
    const long before = StatusKb("VmRSS");
    Timing t;
    if (a.workload == "fetch" || a.workload == "scan") {
      const bool wide = a.workload == "fetch";
      t = Measure([&] {
        sqlite3* db = OpenFile(a.file, true);
        sqlite3_stmt* st = Prepare(db, wide ? kFetchSelect : kScanSelect);
        int rc;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
          if (wide) {
            const int i = sqlite3_column_int(st, 0);
            const double d = sqlite3_column_double(st, 1);
            const unsigned char* s = sqlite3_column_text(st, 2);
            const int sn = sqlite3_column_bytes(st, 2);
            const unsigned char* dt = sqlite3_column_text(st, 3);
            const unsigned char* l = sqlite3_column_text(st, 4);
            const int ln = sqlite3_column_bytes(st, 4);
            sum += i + d + (sn ? s[0] : 0) + (dt ? dt[9] : 0) + (ln ? l[0] : 0);
          } else {
            const int i = sqlite3_column_int(st, 0);
            const unsigned char* s = sqlite3_column_text(st, 1);
            const int sn = sqlite3_column_bytes(st, 1);
            sum += i + (sn ? s[0] : 0);
          }
          ++rows;
        }
        if (rc != SQLITE_DONE) Fail(db);
        sqlite3_finalize(st);
        sqlite3_close(db);
      });
    } else if (a.workload == "lookup") {
      sqlite3* db = OpenFile(a.file, true);
      t = Measure([&] {
        sqlite3_stmt* st = Prepare(db, kLookupSelect);
        for (long r = 0; r < a.count; ++r) {
          sqlite3_bind_int(st, 1, LookupKey(static_cast<int>(r)));
          if (sqlite3_step(st) != SQLITE_ROW) Fail(db);
          const unsigned char* name = sqlite3_column_text(st, 0);
          const int n = sqlite3_column_bytes(st, 0);
          const double price = sqlite3_column_double(st, 1);
          sum += (n ? name[0] : 0) + n + price;
          sqlite3_reset(st);
          ++rows;
        }
        sqlite3_finalize(st);
      });
      sqlite3_close(db);
    } else if (a.workload == "insert") {
      sqlite3* db = OpenFile(a.file, false);
      sqlite3_exec(db, "DELETE FROM ins", nullptr, nullptr, nullptr);
      t = Measure([&] {
        sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
        sqlite3_stmt* st = Prepare(db, kInsert);
        InsertRow v;
        char date[16];
        for (long r = 0; r < a.count; ++r) {
          v.Make(static_cast<int>(r));
          std::snprintf(date, sizeof date, "%04d-%02d-%02d", v.year, v.month, v.day);
          sqlite3_bind_int(st, 1, static_cast<int>(r));
          sqlite3_bind_double(st, 2, static_cast<double>(r) * 0.25);
          sqlite3_bind_text(st, 3, v.s, v.sn, SQLITE_TRANSIENT);
          sqlite3_bind_text(st, 4, date, 10, SQLITE_TRANSIENT);
          sqlite3_bind_text(st, 5, v.l.data(), v.ln, SQLITE_TRANSIENT);
          if (sqlite3_step(st) != SQLITE_DONE) Fail(db);
          sqlite3_reset(st);
          ++rows;
        }
        sqlite3_finalize(st);
        if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) Fail(db);
      });
      sqlite3_close(db);
    } else {
      throw std::runtime_error("no such workload: " + a.workload);
    }
    if (sum == 0.5) std::printf("#\n");  // keeps the reads
    Report("", t, rows, before);
  });
}
