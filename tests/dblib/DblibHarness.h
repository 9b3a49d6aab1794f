// A small harness for driving the client library through its C entry points only, the way
// the binding does: an SQLCA per test, a temporary folder per test for database files and the
// engine registry, and helpers that run SQL and read single values.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "dblib/esql.h"

namespace zyltest {

inline std::string Message(SQLCA& ca) {
  char buf[512] = {0};
  return sqlerror_message(&ca, buf, sizeof buf) ? std::string(buf) : std::string();
}

// A fresh folder, also used as the engine registry directory so tests do not see each other.
class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "zyl-dblib-XXXXXX").string();
    char* p = mkdtemp(tmpl.data());
    if (!p) throw std::runtime_error("mkdtemp failed");
    path_ = p;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// The network engine's server for the suites that run on both engines: ZYL_PG_SERVER=host:port
// (superuser dba, password sql; scripts/pg-cluster starts one, .ci/run does). A suite runs on it
// when ZYL_TEST_ENGINE=postgres; CTest registers those suites a second time that way.
inline std::string PgServer() {
  const char* s = std::getenv("ZYL_PG_SERVER");
  return s ? s : "";
}
inline bool OnPostgres() {
  const char* e = std::getenv("ZYL_TEST_ENGINE");
  return e && std::string(e) == "postgres";
}
// LINKS=tcpip(...) for the server.
inline std::string PgLinks() {
  std::string s = PgServer();
  auto colon = s.rfind(':');
  return "LINKS=tcpip(host=" + s.substr(0, colon) + ";port=" + s.substr(colon + 1) + ")";
}
constexpr const char* kPgSkip =
    "needs a PostgreSQL server: set ZYL_PG_SERVER=host:port (superuser dba/sql), e.g. from "
    "'scripts/pg-cluster start DIR' (.ci/run starts one)";

class DblibTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("ZYL_ENGINE_DIR", dir.File("engines").c_str(), 1);
    unsetenv("SQLCONNECT");
    if (OnPostgres() && PgServer().empty()) GTEST_SKIP() << kPgSkip;
    ASSERT_EQ(db_init(&ca), 1);
    initialised_ = true;
  }
  void TearDown() override {
    // A test that skips itself after the set-up still leaves connections to close.
    if (!initialised_) return;
    // Disconnect everything this SQLCA holds, then stop the engines tests started.
    while (db_string_disconnect(&ca, nullptr)) {
    }
    for (auto& e : engines) {
      std::string s = "ENG=" + e + ";UNC=YES";
      db_stop_engine(&ca, s.data());
    }
    for (auto& d : serverDbs) ServerUtility("DROP DATABASE '" + d + "'");
    db_fini(&ca);
  }

  // Runs one statement on the server's utility database.
  void ServerUtility(const std::string& sql) {
    SQLCA u;
    db_init(&u);
    std::string cs = PgLinks() + ";DBN=utility_db;UID=dba;PWD=sql";
    EXPECT_EQ(db_string_connect(&u, cs.data()), 1u) << Message(u);
    std::string s = sql;
    dbpp_execute_imm(&u, s.data(), 2);
    EXPECT_EQ(u.sqlcode, 0) << sql << ": " << Message(u);
    db_string_disconnect(&u, nullptr);
    db_fini(&u);
  }

  // Creates a database through the utility database of a throw-away engine (on the server:
  // a fresh database there, named "pg:<name>" for ConnectFile).
  std::string CreateDb(const std::string& name) {
    if (IsSkipped()) return {};  // a fixture's set-up goes on after the base skipped
    if (OnPostgres()) {
      static int serial = 0;
      std::string db = "zt_" + name + "_" + std::to_string(getpid()) + "_" + std::to_string(++serial);
      ServerUtility("CREATE DATABASE '" + db + "'");
      serverDbs.push_back(db);
      return "pg:" + db;
    }
    std::string file = dir.File(name + ".db");
    SQLCA u;
    db_init(&u);
    std::string cs = "ENG=maker_" + name + ";DBN=utility_db;UID=DBA;PWD=x;CON=maker";
    EXPECT_EQ(db_string_connect(&u, cs.data()), 1u) << Message(u);
    std::string sql = "CREATE DATABASE '" + file + "'";
    dbpp_execute_imm(&u, sql.data(), 2);
    EXPECT_EQ(u.sqlcode, 0) << Message(u);
    db_string_disconnect(&u, nullptr);
    std::string stop = "ENG=maker_" + name + ";UNC=YES";
    db_stop_engine(&u, stop.data());
    db_fini(&u);
    return file;
  }

  bool Connect(const std::string& cs) {
    std::string s = cs;
    return db_string_connect(&ca, s.data()) == 1;
  }
  // dbf=<file>;uid=dba;pwd=sql with an engine name remembered for tear-down.
  void ConnectFile(const std::string& file, const std::string& engine = "eng1", const std::string& extra = "") {
    if (IsSkipped()) return;
    if (file.rfind("pg:", 0) == 0) {
      ASSERT_TRUE(Connect(PgLinks() + ";ENG=" + engine + ";DBN=" + file.substr(3) + ";UID=dba;PWD=sql" + extra))
          << Message(ca);
      return;
    }
    engines.push_back(engine);
    ASSERT_TRUE(Connect("ENG=" + engine + ";DBF=" + file + ";UID=dba;PWD=sql" + extra)) << Message(ca);
  }

  // A connection string for another connection to the database CreateDb made.
  std::string ConnectionTo(const std::string& file, const std::string& engine) {
    if (file.rfind("pg:", 0) == 0) return PgLinks() + ";ENG=" + engine + ";DBN=" + file.substr(3) + ";UID=dba;PWD=sql";
    std::string base = file.substr(file.find_last_of('/') + 1);
    return "ENG=" + engine + ";DBN=" + base.substr(0, base.rfind('.')) + ";UID=dba;PWD=sql";
  }

  int Exec(const std::string& sql) {
    if (IsSkipped()) return 0;
    std::string s = sql;
    dbpp_execute_imm(&ca, s.data(), 2);
    return ca.sqlcode;
  }
  void MustExec(const std::string& sql) { ASSERT_EQ(Exec(sql), 0) << sql << ": " << Message(ca); }

  // First column of the single row of a SELECT, as text ("<null>" for NULL); empty on error.
  std::string Query(const std::string& sql, SQLCA* on = nullptr) {
    SQLCA& c = on ? *on : ca;
    short n = 0;
    std::string s = sql;
    dbpp_prepare(&c, nullptr, const_cast<char*>("T"), &n, s.data(), nullptr, 0);
    if (c.sqlcode < 0) return "";
    SQLDA* out = alloc_sqlda(1);
    char buf[4096];
    out->sqld = 1;
    out->sqlvar[0].sqltype = DT_STRING | 1;
    out->sqlvar[0].sqllen = sizeof buf;
    out->sqlvar[0].sqldata = buf;
    dbpp_execute_into(&c, nullptr, const_cast<char*>("T"), &n, nullptr, out);
    std::string r;
    if (c.sqlcode >= 0 && c.sqlcode != 100) r = *out->sqlvar[0].sqlind < 0 ? "<null>" : buf;
    SQLCA saved = c;
    dbpp_dropstmt(&c, nullptr, const_cast<char*>("T"), &n);
    c = saved;
    free_sqlda(out);
    return r;
  }

  TempDir dir;
  SQLCA ca{};
  std::vector<std::string> engines;
  std::vector<std::string> serverDbs;  // databases made on the server, dropped at the end
  bool initialised_ = false;
};

}  // namespace zyltest
