// A small dbExpress host for the driver tests: it loads libdbexpzyl.so by file name, takes the
// export with dlsym and from there uses the interfaces' method tables only. Each test has its own
// folder (also the engine registry) and creates its databases there with zylcreatedb.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "dbxdriver/DBXpress.h"

namespace dbxtest {

inline TGetSQLDriver DriverExport() {
  static void* Library = dlopen(ZYL_DBX_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  if (!Library) return nullptr;
  return reinterpret_cast<TGetSQLDriver>(dlsym(Library, kGetSQLDriverName));
}

inline std::string LibDir() {
  const char* D = std::getenv("ZYL_LIB_DIR");
  return D && *D ? D : ".";
}

// One interface reference, released at the end of the scope (or earlier by Reset).
template <class I>
class Ref {
 public:
  Ref() = default;
  explicit Ref(I* P) : FPtr(P) {}
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  Ref(Ref&& O) noexcept : FPtr(O.FPtr) { O.FPtr = nullptr; }
  Ref& operator=(Ref&& O) noexcept {
    if (this != &O) {
      Reset();
      FPtr = O.FPtr;
      O.FPtr = nullptr;
    }
    return *this;
  }
  ~Ref() { Reset(); }
  void Reset() {
    if (FPtr) FPtr->Release();
    FPtr = nullptr;
  }
  I* operator->() const { return FPtr; }
  I* Get() const { return FPtr; }
  I** Out() {  // an out parameter: the caller lets go of the old value first
    Reset();
    return &FPtr;
  }
  I** Var() { return &FPtr; }  // a var parameter: the callee replaces (and releases) it

 private:
  I* FPtr = nullptr;
};

// The text an object's error list holds (reading empties it).
template <class I>
std::string ErrorText(I* Object) {
  int16_t Len = -1;
  if (Object->getErrorMessageLen(&Len) != SQL_SUCCESS || Len < 0) return "<getErrorMessageLen failed>";
  std::vector<char> Buf(static_cast<size_t>(Len) + 1, '\x7f');
  if (Object->getErrorMessage(Buf.data()) != SQL_SUCCESS) return "<getErrorMessage failed>";
  return std::string(Buf.data());
}

// Trace texts the driver sent to the host's callback.
struct TraceLog {
  std::vector<std::string> Texts;
  std::vector<intptr_t> ClientData;
  static uint32_t ZYL_DBX_CALL Callback(int32_t CallType, void* Info);
  static TraceLog* Current;
};
inline TraceLog* TraceLog::Current = nullptr;
inline uint32_t ZYL_DBX_CALL TraceLog::Callback(int32_t CallType, void* Info) {
  if (Current && CallType == cbTRACE && Info) {
    const auto* D = static_cast<const SQLTRACEDesc*>(Info);
    Current->Texts.emplace_back(D->pszTrace, strnlen(D->pszTrace, sizeof D->pszTrace));
    intptr_t Data;  // the packed record leaves the field unaligned
    std::memcpy(&Data, static_cast<const char*>(Info) + offsetof(SQLTRACEDesc, ClientData), sizeof Data);
    Current->ClientData.push_back(Data);
  }
  return cbrUSEDEF;
}

class DbxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char Template[] = "/tmp/zyl-dbx-XXXXXX";
    ASSERT_NE(mkdtemp(Template), nullptr);
    Dir = Template;
    setenv("ZYL_ENGINE_DIR", (Dir + "/engines").c_str(), 1);
    unsetenv("SQLCONNECT");
    Export = DriverExport();
    ASSERT_NE(Export, nullptr) << "cannot load " << ZYL_DBX_LIBRARY << ": " << dlerror();
  }
  void TearDown() override {
    std::error_code E;
    std::filesystem::remove_all(Dir, E);
  }

  // A new database file in the test's folder.
  std::string CreateDb(const std::string& Name = "test") {
    const std::string File = Dir + "/" + Name + ".db";
    const std::string Cmd = std::string(ZYL_CREATEDB_TOOL) + " -q '" + File + "'";
    EXPECT_EQ(std::system(Cmd.c_str()), 0) << Cmd;
    return File;
  }
  static std::string ServerFor(const std::string& File) { return "servertype=server;dbf=" + File; }

  Ref<ISQLDriver> NewDriver(const std::string& VendorLib = LibDir() + "/libdblib10.so") {
    Ref<ISQLDriver> D;
    std::string Vendor = VendorLib;
    EXPECT_EQ(Export(Vendor.data(), nullptr, reinterpret_cast<void**>(D.Out())), SQL_SUCCESS);
    return D;
  }
  Ref<ISQLConnection> NewConnection(ISQLDriver* Driver) {
    Ref<ISQLConnection> C;
    EXPECT_EQ(Driver->getSQLConnection(C.Out()), SQL_SUCCESS);
    return C;
  }
  // A connected connection (and its driver, released first by the connection's own reference).
  Ref<ISQLConnection> Connect(const std::string& ServerName, const std::string& User = "dba",
                              const std::string& Password = "sql") {
    Ref<ISQLDriver> D = NewDriver();
    Ref<ISQLConnection> C = NewConnection(D.Get());
    std::string S = ServerName, U = User, P = Password;
    const SQLResult R = C->connect(S.data(), U.data(), P.data());
    EXPECT_EQ(R, SQL_SUCCESS) << ErrorText(C.Get());
    return C;
  }
  Ref<ISQLCommand> Command(ISQLConnection* Conn) {
    Ref<ISQLCommand> Cmd;
    EXPECT_EQ(Conn->getSQLCommand(Cmd.Out()), SQL_SUCCESS);
    return Cmd;
  }
  // Runs SQL without parameters; fails the test on an error.
  void Exec(ISQLConnection* Conn, const std::string& Sql) {
    Ref<ISQLCommand> Cmd = Command(Conn);
    Ref<ISQLCursor> Cursor;
    std::string S = Sql;
    EXPECT_EQ(Cmd->executeImmediate(S.data(), Cursor.Var()), SQL_SUCCESS) << Sql << ": " << ErrorText(Cmd.Get());
  }
  // Prepares and executes SQL on Cmd; the cursor it gives.
  Ref<ISQLCursor> Open(ISQLCommand* Cmd, const std::string& Sql) {
    std::string S = Sql;
    Ref<ISQLCursor> Cursor;
    EXPECT_EQ(Cmd->prepare(S.data(), 0), SQL_SUCCESS) << Sql << ": " << ErrorText(Cmd);
    EXPECT_EQ(Cmd->execute(Cursor.Var()), SQL_SUCCESS) << Sql << ": " << ErrorText(Cmd);
    return Cursor;
  }
  // Column Col of the current row as getString reads it ("<null>" when blank).
  static std::string Str(ISQLCursor* C, uint16_t Col) {
    uint32_t Len = 0;
    if (C->getColumnLength(Col, &Len) != SQL_SUCCESS) return "<no length>";
    std::vector<char> Buf(Len + 1, '\x7f');
    int32_t Blank = -5;
    const SQLResult R = C->getString(Col, Buf.data(), &Blank);
    if (R != SQL_SUCCESS) return "<result " + std::to_string(R) + ">";
    return Blank == 1 ? "<null>" : std::string(Buf.data());
  }
  static int32_t Long(ISQLCursor* C, uint16_t Col) {
    int32_t V = -1, Blank = -5;
    EXPECT_EQ(C->getLong(Col, &V, &Blank), SQL_SUCCESS);
    return Blank == 1 ? INT32_MIN : V;
  }

  std::string Dir;
  TGetSQLDriver Export = nullptr;
};

}  // namespace dbxtest
