// The alert procedures (zp_alert_subscribe, _receive, _unsubscribe, _send, _clear, _stop) on the
// network engine: the same procedures, result codes and catalog rows as on the embedded engine,
// written for the server's SQL and run by the library's interpreter like any stored procedure.
// Their state lives in three tables of schema zyl, so every client of the database on any host
// sees the same messages, each delivered once, in the order sent:
//
//   zyl.zyl_alert_sub(sub_id, stopped)                 one row per subscriber handle
//   zyl.zyl_alert_name(sub_id, alert_name)             the names a handle subscribed to
//   zyl.zyl_alert_msg(seq, sub_id, alert_name, body, param_value)
//                                                  one row per message and subscriber still to read
//
// A message waits in the table until it is read, so a receiver that was away still gets it. A
// waiting receive does not poll: send and stop notify channel zyl_alert when they commit, and
// zyl_alert_wait(ms) -- the one function of a procedure the library answers itself instead of
// the server -- waits on the connection's socket for that notification (LISTEN, made at the
// first wait). It returns the milliseconds it waited; the receive then looks at the tables again.
// Inside a transaction of the caller the server holds notifications back, so the wait there looks
// again every 20 ms instead.
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

#include "dblib/postgres/PgEngine.h"
#include "dblib/postgres/PgProcedures.h"
#include "dblib/proc/ProcLang.h"
#include "dblib/sql/Dialect.h"
#include "dblib/sql/TypeMap.h"

namespace dbl {
namespace {

const char* const kProcedures[] = {
    "CREATE PROCEDURE zp_alert_subscribe(IN names long varchar)\n"
    "BEGIN\n"
    "  DECLARE h integer;\n"
    "  DECLARE rest long varchar;\n"
    "  DECLARE pos integer;\n"
    "  DECLARE one varchar(128);\n"
    "  SELECT nextval('zyl.zyl_alert_sub_sub_id_seq') INTO h;\n"
    "  INSERT INTO zyl.zyl_alert_sub(sub_id, stopped) VALUES (h, 0);\n"
    "  SET rest = coalesce(names, '') || ';';\n"
    "  WHILE length(rest) > 0 LOOP\n"
    "    SET pos = strpos(rest, ';');\n"
    "    SET one = trim(substr(rest, 1, pos - 1));\n"
    "    SET rest = substr(rest, pos + 1);\n"
    "    IF length(one) > 0 THEN\n"
    "      INSERT INTO zyl.zyl_alert_name(sub_id, alert_name) VALUES (h, one);\n"
    "    END IF;\n"
    "  END LOOP;\n"
    "  COMMIT;\n"
    "  RETURN h;\n"
    "END",

    "CREATE PROCEDURE zp_alert_receive(IN handle integer, IN timeout integer, OUT msg_name varchar(128),\n"
    "  OUT msg long varchar, OUT msg_param integer)\n"
    "BEGIN\n"
    "  DECLARE waited double = 0;\n"
    "  DECLARE slice double;\n"
    "  DECLARE next_seq bigint;\n"
    "  DECLARE flag integer;\n"
    "  LOOP\n"
    "    SET flag = NULL;\n"
    "    SELECT stopped INTO flag FROM zyl.zyl_alert_sub WHERE sub_id = handle;\n"
    "    IF flag IS NULL THEN RETURN -1; END IF;\n"
    "    IF flag <> 0 THEN\n"
    "      UPDATE zyl.zyl_alert_sub SET stopped = 0 WHERE sub_id = handle;\n"
    "      COMMIT;\n"
    "      RETURN -2;\n"
    "    END IF;\n"
    "    SET next_seq = NULL;\n"
    "    SELECT min(seq) INTO next_seq FROM zyl.zyl_alert_msg WHERE sub_id = handle;\n"
    "    IF next_seq IS NOT NULL THEN\n"
    "      SELECT alert_name, body, param_value INTO msg_name, msg, msg_param FROM zyl.zyl_alert_msg WHERE seq = next_seq;\n"
    "      DELETE FROM zyl.zyl_alert_msg WHERE seq = next_seq;\n"
    "      COMMIT;\n"
    "      RETURN 0;\n"
    "    END IF;\n"
    "    IF coalesce(timeout, 0) > 0 AND waited >= timeout THEN RETURN -5; END IF;\n"
    "    SET slice = CASE WHEN coalesce(timeout, 0) > 0 THEN timeout - waited ELSE 1000 END;\n"
    "    SET slice = zyl_alert_wait(slice);\n"
    "    SET waited = waited + slice;\n"
    "  END LOOP;\n"
    "END",

    "CREATE PROCEDURE zp_alert_unsubscribe(IN handle integer)\n"
    "BEGIN\n"
    "  DECLARE n integer;\n"
    "  SELECT count(*) INTO n FROM zyl.zyl_alert_sub WHERE sub_id = handle;\n"
    "  IF n = 0 THEN RETURN -1; END IF;\n"
    "  DELETE FROM zyl.zyl_alert_msg WHERE sub_id = handle;\n"
    "  DELETE FROM zyl.zyl_alert_name WHERE sub_id = handle;\n"
    "  DELETE FROM zyl.zyl_alert_sub WHERE sub_id = handle;\n"
    "  COMMIT;\n"
    "  RETURN 0;\n"
    "END",

    "CREATE PROCEDURE zp_alert_send(IN name varchar(128), IN msg long varchar, IN param integer)\n"
    "BEGIN\n"
    "  DECLARE n integer;\n"
    "  DECLARE woken long varchar;\n"
    "  SELECT count(*) INTO n FROM zyl.zyl_alert_name WHERE lower(alert_name) = lower(name);\n"
    "  IF n = 0 THEN RETURN -6; END IF;\n"
    "  INSERT INTO zyl.zyl_alert_msg(sub_id, alert_name, body, param_value)\n"
    "    SELECT DISTINCT sub_id, name, msg, param FROM zyl.zyl_alert_name WHERE lower(alert_name) = lower(name);\n"
    "  SELECT coalesce(pg_notify('zyl_alert', '')::text, '') INTO woken;\n"
    "  COMMIT;\n"
    "  RETURN 0;\n"
    "END",

    "CREATE PROCEDURE zp_alert_clear(IN name varchar(128))\n"
    "BEGIN\n"
    "  DELETE FROM zyl.zyl_alert_msg WHERE lower(alert_name) = lower(name);\n"
    "  COMMIT;\n"
    "  RETURN 0;\n"
    "END",

    "CREATE PROCEDURE zp_alert_stop(IN handle integer)\n"
    "BEGIN\n"
    "  DECLARE n integer;\n"
    "  DECLARE woken long varchar;\n"
    "  SELECT count(*) INTO n FROM zyl.zyl_alert_sub WHERE sub_id = handle;\n"
    "  IF n = 0 THEN RETURN -1; END IF;\n"
    "  UPDATE zyl.zyl_alert_sub SET stopped = 1 WHERE sub_id = handle;\n"
    "  SELECT coalesce(pg_notify('zyl_alert', '')::text, '') INTO woken;\n"
    "  COMMIT;\n"
    "  RETURN 0;\n"
    "END",
};

std::string Literal(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out + "'";
}

}  // namespace

std::string AlertCatalogSql() {
  std::string s =
      "CREATE TABLE IF NOT EXISTS zyl.zyl_alert_sub(sub_id integer GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY,"
      " stopped integer NOT NULL DEFAULT 0);"
      "CREATE TABLE IF NOT EXISTS zyl.zyl_alert_name(sub_id integer NOT NULL, alert_name text NOT NULL);"
      "CREATE INDEX IF NOT EXISTS zyl_alert_name_ix ON zyl.zyl_alert_name(lower(alert_name));"
      "CREATE TABLE IF NOT EXISTS zyl.zyl_alert_msg(seq bigint GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY,"
      " sub_id integer NOT NULL, alert_name text NOT NULL, body text, param_value integer);"
      "CREATE INDEX IF NOT EXISTS zyl_alert_msg_ix ON zyl.zyl_alert_msg(sub_id, seq);"
      "GRANT SELECT, INSERT, UPDATE, DELETE ON zyl.zyl_alert_sub, zyl.zyl_alert_name, zyl.zyl_alert_msg TO PUBLIC;"
      "GRANT USAGE, SELECT ON ALL SEQUENCES IN SCHEMA zyl TO PUBLIC;";
  // The procedures belong to the user who prepares the database, replaced by each version.
  const std::string creator = "(SELECT oid::bigint FROM pg_roles WHERE rolname = current_user)";
  s += "DELETE FROM zyl.procedure WHERE lower(proc_name) LIKE 'zp^_alert^_%' ESCAPE '^';";
  for (const char* text : kProcedures) {
    ProcDef def = ParseProcDdl(text);
    s += "INSERT INTO zyl.procedure(creator, proc_name, proc_defn) VALUES (" + creator + "," + Literal(def.name) + "," +
         Literal(text) + ");";
    for (const ProcParmRow& r : def.CatalogRows()) {
      TypeInfo t = MapDeclaredType(r.type);
      if (!t.Known()) t = LongVarcharType();
      s += "INSERT INTO zyl.procparm(proc_id, parm_id, parm_type, parm_mode_in, parm_mode_out, domain_id, width, scale,"
           " parm_name, type_text) VALUES ((SELECT proc_id FROM zyl.procedure WHERE lower(proc_name) = lower(" +
           Literal(def.name) + ") AND creator = " + creator + ")," + std::to_string(r.parmId) + "," +
           std::to_string(r.parmType) + ",'" + (r.modeIn ? "Y" : "N") + "','" + (r.modeOut ? "Y" : "N") + "'," +
           std::to_string(t.domainId) + "," + std::to_string(t.width) + "," + std::to_string(t.scale) + "," +
           Literal(r.name) + "," + Literal(r.type) + ");";
    }
  }
  return s;
}

std::optional<double> AlertWaitRequest(const std::string& sql, const std::vector<Value>& params) {
  std::vector<Token> t = Tokenize(sql);
  if (t.size() != 5 || !t[0].Is("select") || !t[1].Is("zyl_alert_wait") || t[2].kind != Token::Open ||
      t[4].kind != Token::Close)
    return std::nullopt;
  // The interpreter binds a procedure variable once the host has said it knows no such column.
  if (t[3].IsIdent()) throw SqlError(SQLE_COLUMN_NOT_FOUND, {t[3].Ident()});
  if (t[3].kind == Token::Number) return std::strtod(std::string(t[3].text).c_str(), nullptr);
  if (t[3].kind != Token::Marker || params.size() != 1) return std::nullopt;
  const Value& v = params[0];
  return v.kind == Value::Kind::Integer ? double(v.i) : v.kind == Value::Kind::Real ? v.d : std::strtod(v.ToText().c_str(), nullptr);
}

double WaitForAlert(PgConnection& conn, double ms) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  auto elapsed = [&] { return std::chrono::duration<double, std::milli>(Clock::now() - start).count(); };
  PGconn* c = conn.Raw();
  if (!conn.InTransaction() && !conn.Listening()) {
    // From now on a send wakes this connection; one that came before is in the tables already,
    // so the receive looks again at once.
    conn.RunOne("LISTEN zyl_alert", {}, false);
    conn.SetListening();
    return elapsed();
  }
  for (;;) {
    if (conn.Listening() && !conn.InTransaction()) {
      if (PQconsumeInput(c) != 1) throw SqlError(SQLE_CONNECTION_TERMINATED);
      if (conn.DrainNotifications()) return elapsed();
    }
    double left = ms - elapsed();
    if (left <= 0 || conn.Cancelled()) return elapsed();
    // Slices short enough to notice a cancel in time.
    double slice = std::min(left, conn.InTransaction() ? 20.0 : 100.0);
    if (conn.Listening() && !conn.InTransaction()) {
      pollfd p{PQsocket(c), POLLIN, 0};
      ::poll(&p, 1, int(std::ceil(slice)));
    } else {
      std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(slice));
    }
  }
}

}  // namespace dbl
