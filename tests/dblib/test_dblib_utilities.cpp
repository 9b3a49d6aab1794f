// The server utilities: locating engines (this process's and another's), pinging with and
// without a trial login, identifier quoting and the time-change notice.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <set>
#include <tuple>

#include "tests/dblib/DblibHarness.h"

using zyltest::DblibTest;
using zyltest::Message;

namespace {

struct Found {
  std::string name, address, dbname;
  unsigned port, type;
  bool hasDb;
};
struct Seen {
  std::vector<Found> all;
  size_t stopAfter = 0;  // 0: go on forever
};

int Collect(SQLCA*, a_server_address* a, void* user) {
  auto* s = static_cast<Seen*>(user);
  s->all.push_back({a->name, a->address, a->dbname ? a->dbname : "", a->port_num, a->port_type, a->dbname != nullptr});
  return s->stopAfter && s->all.size() >= s->stopAfter ? 0 : 1;
}

class Utilities : public DblibTest {
 protected:
  void TearDown() override {
    if (child > 0) {
      char go = 1;
      (void)!write(release[1], &go, 1);
      int status = 0;
      waitpid(child, &status, 0);
    }
    DblibTest::TearDown();
  }

  unsigned Start(const std::string& cs) {
    std::string s = cs;
    return db_start_engine(&ca, s.data());
  }
  Seen Locate(unsigned flags, size_t stopAfter = 0) {
    Seen s;
    s.stopAfter = stopAfter;
    using Cb = int (*)(SQLCA*, a_server_address*, void*);
    Cb fn = Collect;
    EXPECT_EQ(db_locate_servers_ex(&ca, reinterpret_cast<SQL_CALLBACK_PARM>(fn), &s, flags), 1u) << Message(ca);
    return s;
  }

  // Another process running engine `name` with the database file; it stays until tear-down.
  void RunElsewhere(const std::string& name, const std::string& file) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    child = fork();
    if (child == 0) {
      close(ready[0]);
      SQLCA c;
      db_init(&c);
      std::string s = "ENG=" + name + ";DBF=" + file;
      char code = db_start_engine(&c, s.data()) == 1 ? 0 : 1;
      (void)!write(ready[1], &code, 1);
      char go = 0;
      (void)!read(release[0], &go, 1);
      std::string stop = "ENG=" + name + ";UNC=YES";
      db_stop_engine(&c, stop.data());
      _exit(0);
    }
    close(ready[1]);
    char code = 9;
    ASSERT_EQ(read(ready[0], &code, 1), 1);
    close(ready[0]);
    ASSERT_EQ(code, 0) << "the other process could not start its engine";
  }

  pid_t child = -1;
  int release[2] = {-1, -1};
};

TEST_F(Utilities, LocateReportsEveryEngineWithAddressPortAndDatabases) {
  std::string one = CreateDb("one"), two = CreateDb("two"), far = CreateDb("far");
  engines.push_back("here");
  engines.push_back("empty");
  ASSERT_EQ(Start("ENG=here;DBF=" + one), 1u) << Message(ca);
  std::string startTwo = "ENG=here;DBF=" + two;
  ASSERT_EQ(db_start_database(&ca, startTwo.data()), 1u) << Message(ca);
  ASSERT_EQ(Start("ENG=empty"), 1u) << Message(ca);
  RunElsewhere("faraway", far);

  Seen plain = Locate(0);
  std::set<std::string> names;
  for (auto& f : plain.all) {
    names.insert(f.name);
    EXPECT_EQ(f.type, unsigned(PORT_TYPE_TCP));
    EXPECT_EQ(f.port, 2638u);
    EXPECT_FALSE(f.address.empty());
    EXPECT_EQ(f.address.find(':'), std::string::npos);
    EXPECT_FALSE(f.hasDb);
  }
  EXPECT_EQ(names, (std::set<std::string>{"here", "empty", "faraway"}));
  EXPECT_EQ(plain.all.size(), 3u);

  Seen numeric = Locate(DB_LOOKUP_FLAG_NUMERIC | DB_LOOKUP_FLAG_ADDRESS_INCLUDES_PORT);
  ASSERT_EQ(numeric.all.size(), 3u);
  for (auto& f : numeric.all) EXPECT_EQ(f.address, "127.0.0.1:2638");

  // One call per database; an engine without databases still appears once.
  Seen perDb = Locate(DB_LOOKUP_FLAG_DATABASES);
  std::set<std::pair<std::string, std::string>> pairs;
  for (auto& f : perDb.all) {
    EXPECT_TRUE(f.hasDb);
    pairs.insert({f.name, f.dbname});
  }
  EXPECT_EQ(pairs, (std::set<std::pair<std::string, std::string>>{
                       {"here", "one"}, {"here", "two"}, {"empty", ""}, {"faraway", "far"}}));

  // The callback ends the search by returning 0.
  EXPECT_EQ(Locate(0, 1).all.size(), 1u);
  // db_locate_servers is the flag-less form; no callback is no harm.
  Seen legacy;
  using Cb = int (*)(SQLCA*, a_server_address*, void*);
  Cb fn = Collect;
  EXPECT_EQ(db_locate_servers(&ca, reinterpret_cast<SQL_CALLBACK_PARM>(fn), &legacy), 1u);
  EXPECT_EQ(legacy.all.size(), 3u);
  EXPECT_EQ(db_locate_servers(&ca, nullptr, nullptr), 1u);
}

TEST_F(Utilities, PingTriesTheDatabaseAndTheLoginWhenAsked) {
  std::string file = CreateDb("pinged"), far = CreateDb("remote");
  engines.push_back("local");
  ASSERT_EQ(Start("ENG=local;DBF=" + file), 1u) << Message(ca);
  RunElsewhere("elsewhere", far);
  struct Case {
    std::string parms;
    unsigned connect;
    int code;
  };
  const Case cases[] = {
      {"ENG=local", 0, 0},
      {"ENG=local;DBN=nosuch", 0, 0},  // only the engine is looked for
      {"ENG=local;DBN=pinged", 1, 0},
      {"ENG=local", 1, 0},  // its only database
      {"ENG=local;DBN=nosuch", 1, SQLE_DATABASE_NOT_FOUND},
      {"ENG=local;DBN=pinged;UID=dba;PWD=sql", 1, 0},
      {"ENG=local;DBN=pinged;UID=dba;PWD=wrong", 1, SQLE_INVALID_LOGON},
      {"ENG=local;DBN=pinged;UID=dba;PWD=wrong", 0, 0},
      {"ENG=local;DBN=utility_db;UID=dba;PWD=x", 1, 0},
      {"ENG=nowhere", 0, SQLE_ENGINE_NOT_RUNNING},
      {"ENG=local;LINKS=tcpip", 0, SQLE_ENGINE_NOT_RUNNING},
      {"ENG=elsewhere", 0, 0},
      {"ENG=elsewhere;DBN=remote;UID=dba;PWD=sql", 1, 0},
      {"ENG=elsewhere;UID=dba;PWD=sql", 1, 0},
      {"ENG=elsewhere;DBN=remote;UID=nobody;PWD=sql", 1, SQLE_INVALID_LOGON},
      {"ENG=elsewhere;DBN=gone", 1, SQLE_DATABASE_NOT_FOUND},
  };
  for (const Case& c : cases) {
    std::string p = c.parms;
    unsigned r = db_string_ping_server(&ca, p.data(), c.connect);
    EXPECT_EQ(ca.sqlcode, c.code) << c.parms << " / " << c.connect << ": " << Message(ca);
    EXPECT_EQ(r, c.code == 0 ? 1u : 0u) << c.parms;
  }
  // A trial login leaves no connection behind.
  EXPECT_EQ(db_string_disconnect(&ca, nullptr), 0u);
}

TEST_F(Utilities, NamesNeedQuotesForKeywordsBlanksAndLeadingDigits) {
  const char* quoted[] = {"order", "SELECT", "Begin", "table", "user", "two words", " lead", "trail ", "1st",
                          "9", "", "a-b", "a\"b", "a.b", "semi;colon", "tab\there", "$cash"};
  const char* bare[] = {"customer", "Customer_2", "_private", "@variable", "#temp", "a$b", "x1", "orders",
                        "selected", "caf\xc3\xa9", "EndDate"};
  for (const char* n : quoted) {
    EXPECT_EQ(sql_needs_quotes(&ca, const_cast<char*>(n)), 1u) << "'" << n << "'";
    EXPECT_EQ(ca.sqlcode, SQLE_WARNING) << n;
  }
  for (const char* n : bare) {
    EXPECT_EQ(sql_needs_quotes(&ca, const_cast<char*>(n)), 0u) << n;
    EXPECT_EQ(ca.sqlcode, 0) << n;
  }
  EXPECT_EQ(sql_needs_quotes(&ca, nullptr), 1u);
  // Without db_init the answer is inconclusive: false with an error.
  SQLCA raw{};
  EXPECT_EQ(sql_needs_quotes(&raw, const_cast<char*>("order")), 0u);
  EXPECT_EQ(raw.sqlcode, SQLE_DB_INIT_NOT_CALLED);
}

TEST_F(Utilities, TimeChangeMakesTheNewZoneTheEnginesOwn) {
  std::string saved = std::getenv("TZ") ? std::getenv("TZ") : "";
  bool had = std::getenv("TZ") != nullptr;
  std::string file = CreateDb("clock");
  ConnectFile(file, "clock");
  setenv("TZ", "UTC0", 1);
  ASSERT_EQ(db_time_change(&ca), 1u);
  EXPECT_EQ(Query("SELECT strftime('%H', 0, 'unixepoch', 'localtime')"), "00");
  // The zone moves three hours east; the engine follows once told.
  setenv("TZ", "ZZZ-3", 1);
  ASSERT_EQ(db_time_change(&ca), 1u);
  EXPECT_EQ(ca.sqlcode, 0);
  EXPECT_EQ(Query("SELECT strftime('%H', 0, 'unixepoch', 'localtime')"), "03");
  if (had) setenv("TZ", saved.c_str(), 1);
  else unsetenv("TZ");
  db_time_change(&ca);
}

}  // namespace
