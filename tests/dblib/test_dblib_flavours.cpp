// The library flavours as the binding loads them: by file name from ZYL_LIB_DIR, entry points
// by name. Each reports its version, version 4 lacks the optional entry points, and below 7
// every dbpp call takes the argument record after the SQLCA.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "dblib/esql.h"

namespace {

struct Flavour {
  const char* file;
  int version;
};
const Flavour kFlavours[] = {{"libdbl40t.so", 4}, {"libdbl50t.so", 5},  {"libdblib6.so", 6}, {"libdblib7.so", 7},
                             {"libdblib8.so", 8}, {"libdblib9.so", 9}, {"libdblib10.so", 10}};

std::string LibDir() {
  const char* d = std::getenv("ZYL_LIB_DIR");
  return d ? d : ".";
}

class Library {
 public:
  explicit Library(const char* file) {
    std::string path = LibDir() + "/" + file;
    // NODELETE: the library's process-wide state (engines, clients) lives until the process
    // ends, as with the binding, which never unloads it either.
    h_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  }
  ~Library() {
    if (h_) dlclose(h_);
  }
  bool Loaded() const { return h_ != nullptr; }
  template <class F>
  F Get(const char* name) const {
    return reinterpret_cast<F>(dlsym(h_, name));
  }

 private:
  void* h_ = nullptr;
};

// The binding's 22-byte record: zero except two pointers at 14 and 18 to a 16-bit constant.
struct ArgumentRecord {
  unsigned char bytes[22] = {0};
  short constant;
  explicit ArgumentRecord(short version) : constant(version) {
    short* p = &constant;
    std::memcpy(bytes + 14, &p, 4);  // the low half is what a 32-bit caller would store
  }
};

class Flavours : public ::testing::TestWithParam<Flavour> {
 protected:
  void SetUp() override {
    tmp = std::filesystem::temp_directory_path() / ("zyl-flv-" + std::to_string(getpid()) + "-" +
                                                    std::to_string(GetParam().version));
    std::filesystem::create_directories(tmp);
    setenv("ZYL_ENGINE_DIR", (tmp / "engines").c_str(), 1);
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(tmp, ec);
  }
  std::filesystem::path tmp;
};

TEST_P(Flavours, ReportsItsVersionAndExportsWhatThatVersionHas) {
  Flavour f = GetParam();
  Library lib(f.file);
  ASSERT_TRUE(lib.Loaded()) << dlerror();
  auto check = lib.Get<short (*)(unsigned short)>("db_version_check");
  const char* optional[] = {"db_version_check", "db_get_property", "db_locate_servers", "db_string_ping_server",
                            "db_time_change"};
  for (const char* name : optional) EXPECT_EQ(lib.Get<void*>(name) != nullptr, f.version > 4) << name;
  if (f.version > 4) {
    // The binding probes 10, 9, 8, 7, 6 and takes the first that answers true, else 5.
    int found = 5;
    for (int v : {10, 9, 8, 7, 6})
      if (check(static_cast<unsigned short>(v))) {
        found = v;
        break;
      }
    EXPECT_EQ(found, f.version);
    EXPECT_TRUE(check(4));
  }
  for (const char* name : {"db_init", "db_fini", "db_string_connect", "dbpp_prepare", "dbpp_fetch_array",
                           "alloc_sqlda", "fill_sqlda", "free_filled_sqlda", "dbpp_commit", "sqlerror_message"})
    EXPECT_NE(lib.Get<void*>(name), nullptr) << name;
}

TEST_P(Flavours, RunsStatementsWithTheArgumentConventionOfItsVersion) {
  Flavour f = GetParam();
  Library lib(f.file);
  ASSERT_TRUE(lib.Loaded()) << dlerror();
  auto init = lib.Get<int (*)(SQLCA*)>("db_init");
  auto fini = lib.Get<int (*)(SQLCA*)>("db_fini");
  auto connect = lib.Get<unsigned (*)(SQLCA*, char*)>("db_string_connect");
  auto disconnect = lib.Get<unsigned (*)(SQLCA*, char*)>("db_string_disconnect");
  auto stop = lib.Get<unsigned (*)(SQLCA*, char*)>("db_stop_engine");
  SQLCA ca;
  ASSERT_EQ(init(&ca), 1);
  std::string cs = "ENG=flv" + std::to_string(f.version) + ";DBN=utility_db;UID=dba;PWD=x";
  ASSERT_EQ(connect(&ca, cs.data()), 1u);
  std::string file = (tmp / "f.db").string();
  std::string create = "CREATE DATABASE '" + file + "'";
  ArgumentRecord rec(short(f.version < 6 ? 4 : 6));
  if (f.version < 7) {
    auto imm = lib.Get<void (*)(SQLCA*, void*, char*, unsigned short)>("dbpp_execute_imm");
    imm(&ca, rec.bytes, create.data(), 2);
  } else {
    auto imm = lib.Get<void (*)(SQLCA*, char*, unsigned short)>("dbpp_execute_imm");
    imm(&ca, create.data(), 2);
  }
  EXPECT_EQ(ca.sqlcode, 0);
  EXPECT_TRUE(std::filesystem::exists(file));
  // A commit with the version's argument list.
  if (f.version < 7) lib.Get<void (*)(SQLCA*, void*, unsigned)>("dbpp_commit")(&ca, rec.bytes, 0);
  else lib.Get<void (*)(SQLCA*, unsigned)>("dbpp_commit")(&ca, 0);
  EXPECT_EQ(ca.sqlcode, 0);
  disconnect(&ca, nullptr);
  std::string s = "ENG=flv" + std::to_string(f.version) + ";UNC=YES";
  stop(&ca, s.data());
  fini(&ca);
}

// Calls a dbpp_* entry point with the flavour's argument list: below 7 the argument record
// follows the SQLCA.
class Pp {
 public:
  Pp(const Library& lib, int version) : lib_(lib), old_(version < 7), rec_(short(version < 6 ? 4 : 6)) {}
  template <class... A>
  void operator()(const char* name, SQLCA* ca, A... args) const {
    if (old_) lib_.Get<void (*)(SQLCA*, void*, A...)>(name)(ca, const_cast<unsigned char*>(rec_.bytes), args...);
    else lib_.Get<void (*)(SQLCA*, A...)>(name)(ca, args...);
  }

 private:
  const Library& lib_;
  bool old_;
  ArgumentRecord rec_;
};

TEST_P(Flavours, EngineAnswersAsTheServerOfItsGeneration) {
  Flavour f = GetParam();
  Library lib(f.file);
  ASSERT_TRUE(lib.Loaded()) << dlerror();
  Pp pp(lib, f.version);
  auto init = lib.Get<int (*)(SQLCA*)>("db_init");
  auto fini = lib.Get<int (*)(SQLCA*)>("db_fini");
  auto connect = lib.Get<unsigned (*)(SQLCA*, char*)>("db_string_connect");
  auto disconnect = lib.Get<unsigned (*)(SQLCA*, char*)>("db_string_disconnect");
  auto stop = lib.Get<unsigned (*)(SQLCA*, char*)>("db_stop_engine");
  auto info = lib.Get<unsigned short (*)(SQLCA*, short, SQLDA*)>("db_connection_info");
  auto alloc = lib.Get<SQLDA* (*)(unsigned)>("alloc_sqlda");
  auto release = lib.Get<void (*)(SQLDA*)>("free_sqlda");
  auto property = lib.Get<unsigned (*)(SQLCA*, a_db_property, char*, int)>("db_get_property");
  SQLCA ca;
  ASSERT_EQ(init(&ca), 1);
  std::string eng = "gen" + std::to_string(f.version);
  std::string file = (tmp / "g.db").string();
  std::string cs = "ENG=" + eng + ";DBN=utility_db;UID=dba;PWD=x";
  ASSERT_EQ(connect(&ca, cs.data()), 1u);
  std::string create = "CREATE DATABASE '" + file + "'";
  pp("dbpp_execute_imm", &ca, create.data(), (unsigned short)2);
  ASSERT_EQ(ca.sqlcode, 0);
  disconnect(&ca, nullptr);
  cs = "ENG=" + eng + ";DBF=" + file + ";UID=dba;PWD=sql";
  ASSERT_EQ(connect(&ca, cs.data()), 1u);

  char text[64];
  SQLDA* da = alloc(1);
  da->sqld = 1;
  da->sqlvar[0].sqltype = DT_STRING;
  da->sqlvar[0].sqllen = sizeof text;
  da->sqlvar[0].sqldata = text;
  ASSERT_EQ(info(&ca, DB_CONNINFO_ENGINE_VERSION, da), 1);
  std::string version = text;
  EXPECT_EQ(version.substr(0, version.find('.')), std::to_string(f.version)) << version;
  EXPECT_EQ(std::count(version.begin(), version.end(), '.'), 3) << version;
  ASSERT_EQ(info(&ca, DB_CONNINFO_ENGINE_NAME, da), 1);
  EXPECT_STREQ(text, eng.c_str());
  ASSERT_EQ(info(&ca, DB_CONNINFO_DATABASE_NAME, da), 1);
  EXPECT_STREQ(text, "g");
  if (property) {
    char buf[32];
    ASSERT_EQ(property(&ca, DB_PROP_DBLIB_VERSION, buf, sizeof buf), 1u);
    EXPECT_EQ(std::string(buf), version);
  }

  // Position after a short block: on the last row delivered, except for a version-6 server,
  // which leaves the cursor after it.
  for (const char* sql : {"CREATE TABLE t(id INTEGER)", "INSERT INTO t VALUES (1)", "INSERT INTO t VALUES (2)",
                          "INSERT INTO t VALUES (3)", "COMMIT"}) {
    std::string s = sql;
    pp("dbpp_execute_imm", &ca, s.data(), (unsigned short)2);
    ASSERT_EQ(ca.sqlcode, 0) << sql;
  }
  short stmt = 0;
  char prog[] = "G";
  char cur[] = "C1";
  std::string q = "SELECT id FROM t ORDER BY id";
  pp("dbpp_prepare", &ca, (char*)nullptr, prog, &stmt, q.data(), (SQLDA*)nullptr, 0u);
  ASSERT_EQ(ca.sqlcode, 0);
  pp("dbpp_declare", &ca, cur, (char*)nullptr, prog, &stmt, (a_sql_uint32)CUR_READ_ONLY);
  pp("dbpp_open", &ca, cur, (char*)nullptr, prog, &stmt, (SQLDA*)nullptr, (short)0, (short)0,
     (a_sql_uint32)CUR_READ_ONLY);
  ASSERT_EQ(ca.sqlcode, 0);
  const int rows = 10;
  SQLDA* block = alloc(rows);
  int ids[rows] = {0};
  block->sqld = rows;
  for (int r = 0; r < rows; ++r) {
    block->sqlvar[r].sqltype = DT_INT;
    block->sqlvar[r].sqllen = 4;
    block->sqlvar[r].sqldata = &ids[r];
  }
  pp("dbpp_fetch_array", &ca, cur, (unsigned short)FETCH_RELATIVE, (a_sql_int32)1, block, (short)0,
     (unsigned short)0, (unsigned short)rows);
  ASSERT_EQ(ca.sqlcode, 0);
  ASSERT_EQ(ca.sqlerrd[2], 3);
  EXPECT_EQ(ids[2], 3);
  ids[0] = 0;
  pp("dbpp_fetch", &ca, cur, (unsigned short)FETCH_RELATIVE, (a_sql_int32)-1, block, (short)0, (unsigned short)0);
  ASSERT_EQ(ca.sqlcode, 0);
  EXPECT_EQ(ids[0], f.version == 6 ? 3 : 2);
  pp("dbpp_close", &ca, cur);
  release(block);
  release(da);
  disconnect(&ca, nullptr);
  std::string s = "ENG=" + eng + ";UNC=YES";
  stop(&ca, s.data());
  fini(&ca);
}

INSTANTIATE_TEST_SUITE_P(AllVersions, Flavours, ::testing::ValuesIn(kFlavours),
                         [](const auto& info) { return "v" + std::to_string(info.param.version); });

}  // namespace
