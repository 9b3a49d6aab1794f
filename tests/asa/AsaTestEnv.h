// Shared fixture helpers for the SQL Anywhere binding tests: a temporary folder per test (also the
// engine registry, so tests never see each other's servers), sessions loading a client-library
// flavour from ZYL_LIB_DIR, databases created through the utility database, and direct calls of
// the library's statement entry points (through the session's own argument record) to set up
// and inspect data without the statement classes.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "asa/ZylAsa.h"

namespace zylasa {

inline std::string LibDir() {
  const char* D = std::getenv("ZYL_LIB_DIR");
  return D && *D ? D : ".";
}

// Points the session at a flavour ("dblib6.dll" -> libdblib6.so in ZYL_LIB_DIR) and loads it.
inline void LoadFlavour(TAsaSession& S, const std::string& File) {
  S.SetLibraryPath(LibDir());
  S.SetLibraryFile(File);
  S.InternalNeedLibrary();
}

class TempDir {
 public:
  TempDir() {
    std::string T = (std::filesystem::temp_directory_path() / "zyl-asa-XXXXXX").string();
    char* P = mkdtemp(T.data());
    if (!P) throw std::runtime_error("mkdtemp failed");
    FPath = P;
  }
  ~TempDir() {
    std::error_code E;
    std::filesystem::remove_all(FPath, E);
  }
  std::string File(const std::string& Name) const { return FPath + "/" + Name; }
  const std::string& Path() const { return FPath; }

 private:
  std::string FPath;
};

// EXECUTE IMMEDIATE on the session's active connection; returns the SQLCODE.
inline int ExecImm(TAsaSession& S, const std::string& Sql) {
  std::string Text = Sql;
  AsaCall<void>(AsaGetPPProc(S.GetLibraryHandle(), "dbpp_execute_imm"), S.ArgRecord(), S.GetSQLCA(), Text.data(),
                static_cast<unsigned short>(2));
  return S.GetSQLCA()->sqlcode;
}

// First column of the single row of a SELECT as text ("<null>" for NULL, "<error N>" on error).
inline std::string QueryText(TAsaSession& S, const std::string& Sql) {
  HMODULE L = S.GetLibraryHandle();
  SQLCA* Ca = S.GetSQLCA();
  void* Rec = S.ArgRecord();
  char* Prog = const_cast<char*>("T");
  short Number = 0;
  std::string Text = Sql;
  AsaCall<void>(AsaGetPPProc(L, "dbpp_prepare"), Rec, Ca, static_cast<char*>(nullptr), Prog, &Number, Text.data(),
                static_cast<SQLDA*>(nullptr), 0u);
  if (Ca->sqlcode < 0) return "<error " + std::to_string(Ca->sqlcode) + ">";
  SQLDA* Out = S.alloc_sqlda(1);
  char Buf[4096] = {0};
  Out->sqld = 1;
  Out->sqlvar[0].sqltype = DT_STRING | 1;
  Out->sqlvar[0].sqllen = sizeof Buf;
  Out->sqlvar[0].sqldata = Buf;
  AsaCall<void>(AsaGetPPProc(L, "dbpp_execute_into"), Rec, Ca, static_cast<char*>(nullptr), Prog, &Number,
                static_cast<SQLDA*>(nullptr), Out);
  std::string R;
  if (Ca->sqlcode < 0) R = "<error " + std::to_string(Ca->sqlcode) + ">";
  else if (Ca->sqlcode == 100) R = "<none>";
  else R = (Out->sqlvar[0].sqlind && *Out->sqlvar[0].sqlind < 0) ? "<null>" : Buf;
  SQLCA Saved = *Ca;
  AsaCall<void>(AsaGetPPProc(L, "dbpp_dropstmt"), Rec, Ca, static_cast<char*>(nullptr), Prog, &Number);
  *Ca = Saved;
  S.free_sqlda(Out);
  return R;
}

// The network engine's server for the suites that run on both engines: ZYL_TEST_ENGINE=postgres
// with ZYL_PG_SERVER=host:port (superuser dba, password sql; .ci/run starts one).
inline bool OnPostgres() {
  const char* e = std::getenv("ZYL_TEST_ENGINE");
  return e && std::string(e) == "postgres";
}
inline bool PgServerMissing() {
  const char* srv = std::getenv("ZYL_PG_SERVER");
  return OnPostgres() && (!srv || !*srv);
}
constexpr const char* kPgSkip =
    "needs a PostgreSQL server: set ZYL_PG_SERVER=host:port (superuser dba/sql), e.g. from "
    "'scripts/pg-cluster start DIR' (.ci/run starts one)";
// The server's LINKS parameter.
inline std::string PgServerLinks() {
  std::string a = std::getenv("ZYL_PG_SERVER");
  return "links=tcpip(host=" + a.substr(0, a.rfind(':')) + ";port=" + a.substr(a.rfind(':') + 1) + ")";
}
// One statement on the server's utility database (CREATE/DROP DATABASE).
inline void OnPgServer(const std::string& Links, const std::string& Sql, const std::string& Flavour) {
  TAsaSession U;
  U.SetLibraryPath(LibDir());
  U.SetLibraryFile(Flavour);
  U.SetClientParams(Links + ";dbn=utility_db");
  U.SetLoginUser("dba");
  U.SetLoginPassword("sql");
  U.SetWantExceptions(true);
  U.Open();
  EXPECT_EQ(ExecImm(U, Sql), 0) << Sql << ": " << U.GetLastError();
  U.Close();
}

// A test with its own folder and engine registry. Engines the tests start are stopped in
// TearDown through a session of the version-10 flavour.
class AsaTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("ZYL_ENGINE_DIR", Dir.File("engines").c_str(), 1);
    unsetenv("SQLCONNECT");
    char Cwd[4096];
    if (getcwd(Cwd, sizeof Cwd)) StartDir = Cwd;
  }
  void TearDown() override {
    char Cwd[4096];
    if (getcwd(Cwd, sizeof Cwd)) {
      EXPECT_EQ(StartDir, Cwd) << "the current directory was not restored";
    }
  }

  // A session of the given flavour pointed at File with user dba / sql.
  std::unique_ptr<TAsaSession> NewSession(const std::string& Flavour, const std::string& File) {
    auto S = std::make_unique<TAsaSession>();
    S->SetLibraryPath(LibDir());
    S->SetLibraryFile(Flavour);
    S->SetLoginDatabase(File);
    S->SetLoginUser("dba");
    S->SetLoginPassword("sql");
    S->SetWantExceptions(true);
    return S;
  }

  // Creates Name.db in the folder through the utility database of a throw-away engine.
  std::string CreateDb(const std::string& Name, const std::string& Flavour = "dblib10.dll") {
    std::string File = Dir.File(Name + ".db");
    TAsaSession U;
    U.SetLibraryPath(LibDir());
    U.SetLibraryFile(Flavour);
    U.SetLoginEngineName("maker_" + Name);
    U.SetClientParams("dbn=utility_db");
    U.SetLoginUser("DBA");
    U.SetLoginPassword("x");
    U.SetWantExceptions(true);
    U.Open();
    EXPECT_EQ(ExecImm(U, "CREATE DATABASE '" + File + "'"), 0) << File;
    U.Close();
    StopEngine(U, "maker_" + Name);
    return File;
  }

  static void StopEngine(TAsaSession& S, const std::string& Engine) {
    std::string Stop = "eng=" + Engine + ";UNC=YES";
    S.InternalNeedLibrary();
    S.db_stop_engine(S.GetOwnSQLCA(), Stop.data());
  }

  TempDir Dir;
  std::string StartDir;
};

}  // namespace zylasa
