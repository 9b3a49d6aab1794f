// Fixture of the zylo tests: a temporary folder per test (database file and engine registry), a
// database made through the utility database with zylo itself, and the connection string that
// reaches it with the client library of the build. Engines the test started are stopped at the end.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "asa/ZylAsa.h"
#include "zylo/zylo.h"

namespace zylotest {

inline std::string LibDir() {
  const char* d = std::getenv("ZYL_LIB_DIR");
  return d && *d ? d : ".";
}

inline std::string LibraryParams() { return "library=dblib10.dll;librarypath=" + LibDir(); }

class ZyloTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string t = (std::filesystem::temp_directory_path() / "zyl-zylo-XXXXXX").string();
    ASSERT_TRUE(mkdtemp(t.data()));
    dir_ = t;
    setenv("ZYL_ENGINE_DIR", (dir_ + "/engines").c_str(), 1);
    unsetenv("SQLCONNECT");
    file_ = dir_ + "/z.db";
    {
      zylo::connection u("eng=maker;dbn=utility_db;uid=DBA;pwd=x;" + LibraryParams());
      u.execute("CREATE DATABASE '" + file_ + "'");
    }
    StopEngine("maker");
  }
  void TearDown() override {
    StopEngine("z");
    std::error_code e;
    std::filesystem::remove_all(dir_, e);
  }

  // Reaches the test's database; the engine ("z") is started by the first connection.
  std::string Params() const { return "dbf=" + file_ + ";uid=dba;pwd=sql;" + LibraryParams(); }

  static void StopEngine(const std::string& engine) {
    TAsaSession s;
    s.SetLibraryPath(LibDir());
    s.SetLibraryFile("dblib10.dll");
    std::string stop = "eng=" + engine + ";UNC=YES";
    s.InternalNeedLibrary();
    s.db_stop_engine(s.GetOwnSQLCA(), stop.data());
  }

  std::string dir_;
  std::string file_;
};

// The error a statement throws, or a note that it threw none.
template <class F>
zylo::error ErrorOf(F&& f) {
  try {
    f();
  } catch (const zylo::error& e) {
    return e;
  }
  return zylo::error("<no error>", 1, "none");
}

}  // namespace zylotest
