// The one door to SQLite. Every sqlite3_* call of the library goes through these thin wrappers
// (same names without the prefix), so that a test can make the n-th counted call fail with a
// chosen result code and the error paths run for real. Calls that report a result code are
// counted; pure accessors (column values, error texts, counts) are not, so the fault seam
// cannot turn a successful read into garbage.
//
// Seam life cycle:   disarmed --FailAfter(n, rc)--> armed(n) --n-th counted call--> fires once
//                    (that call returns rc without touching SQLite) --> disarmed
//                    FailAfter(0, 0) disarms at any time.
// The countdown is process-wide (atomic); errcode/errmsg report the injected failure on the
// thread that received it until that thread's next counted call.
#pragma once

#include <sqlite3.h>

#include <atomic>

namespace dbl::sq {

namespace detail {
extern std::atomic<int> countdown;  // > 0: counted calls left before the failure fires
extern std::atomic<int> failCode;   // result code the firing call returns
extern thread_local int injected;   // != 0: this thread's last counted call was injected

// Returns the code to fail with, or SQLITE_OK to run the call for real.
inline int Tick() {
  injected = 0;
  if (__builtin_expect(countdown.load(std::memory_order_relaxed) == 0, 1)) return SQLITE_OK;
  int left = countdown.fetch_sub(1, std::memory_order_acq_rel);
  if (left == 1) {
    injected = failCode.load(std::memory_order_relaxed);
    return injected;
  }
  if (left <= 0) countdown.store(0, std::memory_order_relaxed);  // raced past the end
  return SQLITE_OK;
}
}  // namespace detail

// Arms the seam: the n-th counted call from now returns rc. FailAfter(0, 0) disarms.
void FailAfter(int n, int rc);

// ---- connections ----

// The deepest expression tree a statement may hold. SQLite's default (1000) evaluates
// recursively deeper than a thread with 256 KB of stack can take (such a thread overflows at
// about 700 levels of `a + b + ...`); a quarter of that stays well inside it, and deeper text is
// refused as a syntax error ("Expression tree is too large").
inline constexpr int kMaxExprDepth = 250;

// What every connection we open gets before its first statement: a double-quoted name is an
// identifier and never falls back to being a string (SQLite's compatibility quirk would turn a
// misspelt column into its own name as text), and the expression depth above.
inline void Harden(sqlite3* db) {
  sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DML, 0, static_cast<int*>(nullptr));
  sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DDL, 0, static_cast<int*>(nullptr));
  sqlite3_limit(db, SQLITE_LIMIT_EXPR_DEPTH, kMaxExprDepth);
}

inline int open_v2(const char* file, sqlite3** db, int flags, const char* vfs) {
  if (int rc = detail::Tick()) {
    *db = nullptr;
    return rc;
  }
  int rc = sqlite3_open_v2(file, db, flags, vfs);
  if (rc == SQLITE_OK && *db) Harden(*db);
  return rc;
}
inline int close_v2(sqlite3* db) { return sqlite3_close_v2(db); }
inline int exec(sqlite3* db, const char* sql, int (*cb)(void*, int, char**, char**), void* arg, char** err) {
  if (int rc = detail::Tick()) return rc;
  return sqlite3_exec(db, sql, cb, arg, err);
}
inline int busy_timeout(sqlite3* db, int ms) { return sqlite3_busy_timeout(db, ms); }
inline int busy_handler(sqlite3* db, int (*cb)(void*, int), void* arg) { return sqlite3_busy_handler(db, cb, arg); }
inline void interrupt(sqlite3* db) { sqlite3_interrupt(db); }
inline const char* db_filename(sqlite3* db, const char* name) { return sqlite3_db_filename(db, name); }
inline int get_autocommit(sqlite3* db) { return sqlite3_get_autocommit(db); }
inline int changes(sqlite3* db) { return sqlite3_changes(db); }
inline sqlite3_int64 last_insert_rowid(sqlite3* db) { return sqlite3_last_insert_rowid(db); }
inline int errcode(sqlite3* db) { return detail::injected ? detail::injected : sqlite3_errcode(db); }
inline int extended_errcode(sqlite3* db) { return detail::injected ? detail::injected : sqlite3_extended_errcode(db); }
inline const char* errmsg(sqlite3* db) { return detail::injected ? "simulated failure" : sqlite3_errmsg(db); }
inline int error_offset(sqlite3* db) {
#if SQLITE_VERSION_NUMBER >= 3038000
  return detail::injected ? -1 : sqlite3_error_offset(db);
#else
  (void)db;
  return -1;
#endif
}
inline const char* errstr(int rc) { return sqlite3_errstr(rc); }
inline void free(void* p) { sqlite3_free(p); }
inline int create_function_v2(sqlite3* db, const char* name, int nArg, int enc, void* app,
                              void (*xFunc)(sqlite3_context*, int, sqlite3_value**),
                              void (*xStep)(sqlite3_context*, int, sqlite3_value**), void (*xFinal)(sqlite3_context*),
                              void (*xDestroy)(void*)) {
  if (int rc = detail::Tick()) return rc;
  return sqlite3_create_function_v2(db, name, nArg, enc, app, xFunc, xStep, xFinal, xDestroy);
}
inline void progress_handler(sqlite3* db, int n, int (*cb)(void*), void* arg) { sqlite3_progress_handler(db, n, cb, arg); }
inline int table_column_metadata(sqlite3* db, const char* dbName, const char* table, const char* column,
                                 const char** declType, const char** collSeq, int* notNull, int* primaryKey,
                                 int* autoinc) {
  if (int rc = detail::Tick()) return rc;
  return sqlite3_table_column_metadata(db, dbName, table, column, declType, collSeq, notNull, primaryKey, autoinc);
}
inline int wal_checkpoint_v2(sqlite3* db, const char* name, int mode, int* log, int* ckpt) {
  if (int rc = detail::Tick()) return rc;
  return sqlite3_wal_checkpoint_v2(db, name, mode, log, ckpt);
}

inline int txn_state(sqlite3* db) { return sqlite3_txn_state(db, nullptr); }
inline sqlite3_backup* backup_init(sqlite3* dst, const char* dstName, sqlite3* src, const char* srcName) {
  if (detail::Tick()) return nullptr;
  return sqlite3_backup_init(dst, dstName, src, srcName);
}
inline int backup_step(sqlite3_backup* b, int pages) {
  if (int rc = detail::Tick()) return rc;
  return sqlite3_backup_step(b, pages);
}
inline int backup_finish(sqlite3_backup* b) { return sqlite3_backup_finish(b); }

// ---- statements ----
inline int prepare_v2(sqlite3* db, const char* sql, int n, sqlite3_stmt** stmt, const char** tail) {
  if (int rc = detail::Tick()) {
    *stmt = nullptr;
    if (tail) *tail = sql;
    return rc;
  }
  return sqlite3_prepare_v2(db, sql, n, stmt, tail);
}
inline int step(sqlite3_stmt* s) {
  if (int rc = detail::Tick()) return rc;
  return sqlite3_step(s);
}
inline int reset(sqlite3_stmt* s) { return sqlite3_reset(s); }
inline int finalize(sqlite3_stmt* s) { return sqlite3_finalize(s); }
inline int clear_bindings(sqlite3_stmt* s) { return sqlite3_clear_bindings(s); }
inline const char* sql(sqlite3_stmt* s) { return sqlite3_sql(s); }
inline int stmt_readonly(sqlite3_stmt* s) { return sqlite3_stmt_readonly(s); }
inline int stmt_busy(sqlite3_stmt* s) { return sqlite3_stmt_busy(s); }
inline sqlite3* db_handle(sqlite3_stmt* s) { return sqlite3_db_handle(s); }
inline int data_count(sqlite3_stmt* s) { return sqlite3_data_count(s); }
inline int stmt_status(sqlite3_stmt* s, int op) { return sqlite3_stmt_status(s, op, 0); }

inline int bind_parameter_count(sqlite3_stmt* s) { return sqlite3_bind_parameter_count(s); }
inline const char* bind_parameter_name(sqlite3_stmt* s, int i) { return sqlite3_bind_parameter_name(s, i); }
inline int bind_parameter_index(sqlite3_stmt* s, const char* name) { return sqlite3_bind_parameter_index(s, name); }
inline int bind_null(sqlite3_stmt* s, int i) {
  if (int rc = detail::Tick()) return rc;
  return sqlite3_bind_null(s, i);
}
inline int bind_int64(sqlite3_stmt* s, int i, sqlite3_int64 v) {
  if (int rc = detail::Tick()) return rc;
  return sqlite3_bind_int64(s, i, v);
}
inline int bind_int(sqlite3_stmt* s, int i, int v) {
  if (int rc = detail::Tick()) return rc;
  return sqlite3_bind_int(s, i, v);
}
inline int bind_double(sqlite3_stmt* s, int i, double v) {
  if (int rc = detail::Tick()) return rc;
  return sqlite3_bind_double(s, i, v);
}
inline int bind_text(sqlite3_stmt* s, int i, const char* v, int n, void (*d)(void*)) {
  if (int rc = detail::Tick()) return rc;
  return sqlite3_bind_text(s, i, v, n, d);
}
inline int bind_blob(sqlite3_stmt* s, int i, const void* v, int n, void (*d)(void*)) {
  if (int rc = detail::Tick()) return rc;
  return sqlite3_bind_blob(s, i, v, n, d);
}
inline int bind_zeroblob(sqlite3_stmt* s, int i, int n) {
  if (int rc = detail::Tick()) return rc;
  return sqlite3_bind_zeroblob(s, i, n);
}

inline int column_count(sqlite3_stmt* s) { return sqlite3_column_count(s); }
inline int column_type(sqlite3_stmt* s, int i) { return sqlite3_column_type(s, i); }
inline sqlite3_int64 column_int64(sqlite3_stmt* s, int i) { return sqlite3_column_int64(s, i); }
inline int column_int(sqlite3_stmt* s, int i) { return sqlite3_column_int(s, i); }
inline double column_double(sqlite3_stmt* s, int i) { return sqlite3_column_double(s, i); }
inline const unsigned char* column_text(sqlite3_stmt* s, int i) { return sqlite3_column_text(s, i); }
inline const void* column_blob(sqlite3_stmt* s, int i) { return sqlite3_column_blob(s, i); }
inline int column_bytes(sqlite3_stmt* s, int i) { return sqlite3_column_bytes(s, i); }
inline const char* column_name(sqlite3_stmt* s, int i) { return sqlite3_column_name(s, i); }
inline const char* column_decltype(sqlite3_stmt* s, int i) { return sqlite3_column_decltype(s, i); }
// Column origin: the system SQLite is built with column metadata.
inline const char* column_table_name(sqlite3_stmt* s, int i) { return sqlite3_column_table_name(s, i); }
inline const char* column_origin_name(sqlite3_stmt* s, int i) { return sqlite3_column_origin_name(s, i); }
inline sqlite3_value* column_value(sqlite3_stmt* s, int i) { return sqlite3_column_value(s, i); }

// ---- values and results (user functions) ----
inline int value_type(sqlite3_value* v) { return sqlite3_value_type(v); }
inline sqlite3_int64 value_int64(sqlite3_value* v) { return sqlite3_value_int64(v); }
inline double value_double(sqlite3_value* v) { return sqlite3_value_double(v); }
inline const unsigned char* value_text(sqlite3_value* v) { return sqlite3_value_text(v); }
inline const void* value_blob(sqlite3_value* v) { return sqlite3_value_blob(v); }
inline int value_bytes(sqlite3_value* v) { return sqlite3_value_bytes(v); }
inline void* user_data(sqlite3_context* c) { return sqlite3_user_data(c); }
inline sqlite3* context_db_handle(sqlite3_context* c) { return sqlite3_context_db_handle(c); }
inline void result_null(sqlite3_context* c) { sqlite3_result_null(c); }
inline void result_int64(sqlite3_context* c, sqlite3_int64 v) { sqlite3_result_int64(c, v); }
inline void result_double(sqlite3_context* c, double v) { sqlite3_result_double(c, v); }
inline void result_text(sqlite3_context* c, const char* v, int n, void (*d)(void*)) { sqlite3_result_text(c, v, n, d); }
inline void result_blob(sqlite3_context* c, const void* v, int n, void (*d)(void*)) { sqlite3_result_blob(c, v, n, d); }
inline void result_error(sqlite3_context* c, const char* msg, int n) { sqlite3_result_error(c, msg, n); }
inline void result_error_code(sqlite3_context* c, int rc) { sqlite3_result_error_code(c, rc); }
inline void result_value(sqlite3_context* c, sqlite3_value* v) { sqlite3_result_value(c, v); }

}  // namespace dbl::sq
