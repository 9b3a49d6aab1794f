// The alert procedures every database offers (zp_alert_subscribe, _receive, _unsubscribe,
// _send, _clear, _stop), owned by DBA and listed in the catalog like any procedure. They are
// written in the procedure language and run by the interpreter; their state lives in three
// tables of the database file, so subscribers on other connections and in other processes on
// the same file see the same messages, each delivered once, in the order sent:
//
//   zyl_alert_sub(sub_id, stopped)            one row per subscriber handle
//   zyl_alert_name(sub_id, alert_name)        the names a handle subscribed to (';'-separated)
//   zyl_alert_msg(seq, sub_id, alert_name, body, param_value)
//                                             one row per message and subscriber still to read
//
// A receive looks for a message to its handle (each look is a fresh read, so another process's
// committed send is seen), and between two looks waits in zyl_alert_wait for the next commit to
// the database by anybody: every commit writes the database's write-ahead log, and an inotify
// watch on that file wakes the wait at once, whichever process wrote. Where the file cannot be
// watched the wait falls back to looking again every 20 ms. It ends when a message waits (0), the
// handle is stopped by zp_alert_stop (-2), the timeout in milliseconds runs out (-5; 0 waits
// without limit), or the request is cancelled (-299). Result codes: 0 or a handle on success,
// -1 unknown handle, -2 stopped, -5 timed out, -6 nobody subscribes to the name.
#include "dblib/sqlite/ProcAlerts.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

#include "dblib/proc/ProcLang.h"
#include "dblib/sqlite/Catalog.h"
#include "dblib/sqlite/Sqlite.h"
#include "dblib/sqlite/SqliteEngine.h"
#include "dblib/sqlite/SqliteErrors.h"

namespace dbl {
namespace {

const char* const kTables =
    "CREATE TABLE IF NOT EXISTS zyl_alert_sub(sub_id INTEGER PRIMARY KEY AUTOINCREMENT, stopped INTEGER NOT NULL DEFAULT 0);"
    "CREATE TABLE IF NOT EXISTS zyl_alert_name(sub_id INTEGER NOT NULL, alert_name TEXT NOT NULL);"
    "CREATE INDEX IF NOT EXISTS zyl_alert_name_ix ON zyl_alert_name(alert_name COLLATE NOCASE);"
    "CREATE TABLE IF NOT EXISTS zyl_alert_msg(seq INTEGER PRIMARY KEY AUTOINCREMENT, sub_id INTEGER NOT NULL,"
    " alert_name TEXT NOT NULL, body TEXT, param_value INTEGER);"
    "CREATE INDEX IF NOT EXISTS zyl_alert_msg_ix ON zyl_alert_msg(sub_id, seq);";

const char* const kProcedures[] = {
    "CREATE PROCEDURE dba.zp_alert_subscribe(IN names long varchar)\n"
    "BEGIN\n"
    "  DECLARE h integer;\n"
    "  DECLARE rest long varchar;\n"
    "  DECLARE pos integer;\n"
    "  DECLARE one varchar(128);\n"
    "  INSERT INTO zyl_alert_sub(stopped) VALUES (0);\n"
    "  SET h = last_insert_rowid();\n"
    "  SET rest = coalesce(names, '') || ';';\n"
    "  WHILE length(rest) > 0 LOOP\n"
    "    SET pos = instr(rest, ';');\n"
    "    SET one = trim(substr(rest, 1, pos - 1));\n"
    "    SET rest = substr(rest, pos + 1);\n"
    "    IF length(one) > 0 THEN\n"
    "      INSERT INTO zyl_alert_name(sub_id, alert_name) VALUES (h, one);\n"
    "    END IF;\n"
    "  END LOOP;\n"
    "  COMMIT;\n"
    "  RETURN h;\n"
    "END",

    "CREATE PROCEDURE dba.zp_alert_receive(IN handle integer, IN timeout integer, OUT msg_name varchar(128),\n"
    "  OUT msg long varchar, OUT msg_param integer)\n"
    "BEGIN\n"
    "  DECLARE waited double = 0;\n"
    "  DECLARE next_seq integer;\n"
    "  DECLARE flag integer;\n"
    "  LOOP\n"
    "    SET flag = NULL;\n"
    "    SELECT stopped INTO flag FROM zyl_alert_sub WHERE sub_id = handle;\n"
    "    IF flag IS NULL THEN RETURN -1; END IF;\n"
    "    IF flag <> 0 THEN\n"
    "      UPDATE zyl_alert_sub SET stopped = 0 WHERE sub_id = handle;\n"
    "      COMMIT;\n"
    "      RETURN -2;\n"
    "    END IF;\n"
    "    SET next_seq = NULL;\n"
    "    SELECT min(seq) INTO next_seq FROM zyl_alert_msg WHERE sub_id = handle;\n"
    "    IF next_seq IS NOT NULL THEN\n"
    "      SELECT alert_name, body, param_value INTO msg_name, msg, msg_param FROM zyl_alert_msg WHERE seq = next_seq;\n"
    "      DELETE FROM zyl_alert_msg WHERE seq = next_seq;\n"
    "      COMMIT;\n"
    "      RETURN 0;\n"
    "    END IF;\n"
    "    IF coalesce(timeout, 0) > 0 AND waited >= timeout THEN RETURN -5; END IF;\n"
    "    SET waited = waited + zyl_alert_wait(CASE WHEN coalesce(timeout, 0) > 0 THEN timeout - waited ELSE 1000 END);\n"
    "  END LOOP;\n"
    "END",

    "CREATE PROCEDURE dba.zp_alert_unsubscribe(IN handle integer)\n"
    "BEGIN\n"
    "  DECLARE n integer;\n"
    "  SELECT count(*) INTO n FROM zyl_alert_sub WHERE sub_id = handle;\n"
    "  IF n = 0 THEN RETURN -1; END IF;\n"
    "  DELETE FROM zyl_alert_msg WHERE sub_id = handle;\n"
    "  DELETE FROM zyl_alert_name WHERE sub_id = handle;\n"
    "  DELETE FROM zyl_alert_sub WHERE sub_id = handle;\n"
    "  COMMIT;\n"
    "  RETURN 0;\n"
    "END",

    "CREATE PROCEDURE dba.zp_alert_send(IN name varchar(128), IN msg long varchar, IN param integer)\n"
    "BEGIN\n"
    "  DECLARE n integer;\n"
    "  SELECT count(*) INTO n FROM zyl_alert_name WHERE alert_name = name COLLATE NOCASE;\n"
    "  IF n = 0 THEN RETURN -6; END IF;\n"
    "  INSERT INTO zyl_alert_msg(sub_id, alert_name, body, param_value)\n"
    "    SELECT DISTINCT sub_id, name, msg, param FROM zyl_alert_name WHERE alert_name = name COLLATE NOCASE;\n"
    "  COMMIT;\n"
    "  RETURN 0;\n"
    "END",

    "CREATE PROCEDURE dba.zp_alert_clear(IN name varchar(128))\n"
    "BEGIN\n"
    "  DELETE FROM zyl_alert_msg WHERE alert_name = name COLLATE NOCASE;\n"
    "  COMMIT;\n"
    "  RETURN 0;\n"
    "END",

    "CREATE PROCEDURE dba.zp_alert_stop(IN handle integer)\n"
    "BEGIN\n"
    "  DECLARE n integer;\n"
    "  SELECT count(*) INTO n FROM zyl_alert_sub WHERE sub_id = handle;\n"
    "  IF n = 0 THEN RETURN -1; END IF;\n"
    "  UPDATE zyl_alert_sub SET stopped = 1 WHERE sub_id = handle;\n"
    "  COMMIT;\n"
    "  RETURN 0;\n"
    "END",
};

// The wait of one connection: an inotify watch on the database's write-ahead log, made at the
// first wait and kept for the connection's life (so a commit between one wait and the next still
// wakes the next). The connection's own writes wake it too; the receive then just looks again.
class ChangeWait {
 public:
  explicit ChangeWait(SqliteConnection& conn) : conn_(conn) {}
  ~ChangeWait() {
    if (fd_ >= 0) ::close(fd_);
  }
  ChangeWait(const ChangeWait&) = delete;
  ChangeWait& operator=(const ChangeWait&) = delete;

  double Wait(double ms) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    Watch();
    // A commit writes the log before it becomes visible: a look right after a wake-up may still
    // miss it, so the first slice after a recent wake-up is short.
    bool soon = fd_ >= 0 && start - lastWake_ < std::chrono::milliseconds(2);
    for (;;) {
      double elapsed = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
      double left = ms - elapsed;
      if (left <= 0 || conn_.Cancelled()) return elapsed;
      // Slices short enough to notice a cancel in time.
      double slice = std::min(left, soon ? 1.0 : 20.0);
      soon = false;
      if (fd_ < 0) {
        std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(slice));
        continue;
      }
      pollfd p{fd_, POLLIN, 0};
      timespec t{static_cast<time_t>(slice / 1000), static_cast<long>(std::fmod(slice, 1000.0) * 1e6)};
      if (::ppoll(&p, 1, &t, nullptr) > 0) {
        char events[4096];
        while (::read(fd_, events, sizeof events) > 0) {
        }
        lastWake_ = Clock::now();
        return std::chrono::duration<double, std::milli>(lastWake_ - start).count();
      }
    }
  }

 private:
  void Watch() {
    if (tried_) return;
    tried_ = true;
    const char* file = sq::db_filename(conn_.Handle(), "main");
    if (!file || !*file) return;
    int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) return;  // out of inotify instances: look every 20 ms
    std::string log = std::string(file) + "-wal";
    if (::inotify_add_watch(fd, log.c_str(), IN_MODIFY) < 0) {
      ::close(fd);
      return;
    }
    fd_ = fd;
  }

  SqliteConnection& conn_;
  int fd_ = -1;
  bool tried_ = false;
  std::chrono::steady_clock::time_point lastWake_{};
};

void AlertWaitFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  auto* wait = static_cast<ChangeWait*>(sq::user_data(ctx));
  double ms = sq::value_double(argv[0]);
  if (!(ms > 0)) ms = 0;  // NaN and negatives too
  sq::result_double(ctx, wait->Wait(std::min(ms, 3600000.0)));
}

void DestroyAlertWait(void* p) { delete static_cast<ChangeWait*>(p); }

bool Installed(sqlite3* db) {
  sqlite3_stmt* st = nullptr;
  if (sq::prepare_v2(db, "SELECT count(*) FROM zyl_procedure WHERE proc_name = 'zp_alert_stop'", -1, &st, nullptr) !=
      SQLITE_OK)
    return false;
  bool yes = sq::step(st) == SQLITE_ROW && sq::column_int64(st, 0) > 0;
  sq::finalize(st);
  return yes;
}

}  // namespace

const std::vector<std::string>& AlertProcedureTexts() {
  static const std::vector<std::string> texts(std::begin(kProcedures), std::end(kProcedures));
  return texts;
}

void RegisterAlertFunctions(SqliteConnection& conn) {
  auto* wait = new ChangeWait(conn);
  // On failure SQLite has already called the destructor.
  sq::create_function_v2(conn.Handle(), "zyl_alert_wait", 1, SQLITE_UTF8, wait, AlertWaitFunction, nullptr, nullptr,
                         DestroyAlertWait);
}

bool EnsureAlertProcedures(sqlite3* db, bool mayWait) {
  if (!catalog::HasSchema(db)) return false;
  if (Installed(db)) return true;
  // Only outside the caller's transaction: installing commits, and must not commit their work.
  if (!sq::get_autocommit(db)) return false;
  // Unless asked to, never wait for another connection's write lock: this runs on the way to
  // preparing the client's statement.
  int rc;
  if (mayWait) {
    rc = sq::exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  } else {
    NoLockWait noWait;
    rc = sq::exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  }
  if (rc != SQLITE_OK) return false;
  try {
    if (!Installed(db)) {  // another connection may have won the race
      if (sq::exec(db, kTables, nullptr, nullptr, nullptr) != SQLITE_OK) ThrowSqlite(db, sq::errcode(db));
      for (const std::string& text : AlertProcedureTexts()) {
        ProcDef def = ParseProcDdl(text);
        catalog::ProcRow row;
        row.creator = 1;  // DBA
        row.name = def.name;
        row.definition = text;
        for (const ProcParmRow& r : def.CatalogRows()) {
          catalog::ParmRow p;
          p.parmId = r.parmId;
          p.parmType = r.parmType;
          p.modeIn = r.modeIn;
          p.modeOut = r.modeOut;
          p.name = r.name;
          p.type = r.type;
          row.parms.push_back(std::move(p));
        }
        catalog::PutProcedure(db, row);
      }
    }
    if (sq::exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) ThrowSqlite(db, sq::errcode(db));
    return true;
  } catch (const SqlError&) {
    sq::exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    return false;
  }
}

}  // namespace dbl
