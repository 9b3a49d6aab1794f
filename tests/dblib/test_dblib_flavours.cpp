// The library flavours as the binding loads them: by file name from ZYL_LIB_DIR, entry points
// by name. Each reports its version, version 4 lacks the optional entry points, and below 7
// every dbpp call takes the argument record after the SQLCA.
#include <dlfcn.h>
#include <gtest/gtest.h>

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

INSTANTIATE_TEST_SUITE_P(AllVersions, Flavours, ::testing::ValuesIn(kFlavours),
                         [](const auto& info) { return "v" + std::to_string(info.param.version); });

}  // namespace
