// The library as a host meets it: one exported symbol, no run-time need of our other shared
// libraries, the export and the driver object, reference counts, and calls with null pointers.
#include <cstdio>

#include "tests/dbxdriver/DbxHost.h"

using namespace dbxtest;

namespace {

std::vector<std::string> Lines(const std::string& Command) {
  std::vector<std::string> Out;
  FILE* P = popen(Command.c_str(), "r");
  if (!P) return Out;
  char Buf[1024];
  while (std::fgets(Buf, sizeof Buf, P)) {
    std::string L(Buf);
    while (!L.empty() && (L.back() == '\n' || L.back() == '\r')) L.pop_back();
    Out.push_back(L);
  }
  pclose(P);
  return Out;
}

}  // namespace

TEST(DbxLibrary, ExportsOnlyTheDriverFunctionAndNeedsNoneOfOurLibraries) {
  std::vector<std::string> Symbols;
  for (const std::string& L : Lines(std::string("nm -D --defined-only ") + ZYL_DBX_LIBRARY))
    Symbols.push_back(L.substr(L.rfind(' ') + 1));
  EXPECT_EQ(Symbols, std::vector<std::string>{"getSQLDriverZYL"});

  std::vector<std::string> Needed;
  for (const std::string& L : Lines(std::string("readelf -d ") + ZYL_DBX_LIBRARY))
    if (L.find("(NEEDED)") != std::string::npos) Needed.push_back(L);
  ASSERT_FALSE(Needed.empty()) << "readelf gave no NEEDED entries";
  for (const std::string& L : Needed) EXPECT_EQ(L.find("libzyl"), std::string::npos) << L;
}

TEST_F(DbxTest, ExportHandsOutANewDriverEachCallAndDriverOptions) {
  void* A = nullptr;
  void* B = nullptr;
  EXPECT_EQ(Export(nullptr, nullptr, &A), SQL_SUCCESS);  // a nil vendor library counts as empty
  EXPECT_EQ(Export(const_cast<char*>("x"), nullptr, &B), SQL_SUCCESS);
  ASSERT_NE(A, nullptr);
  ASSERT_NE(A, B);
  EXPECT_EQ(Export(nullptr, nullptr, nullptr), DBXERR_INVALIDPARAM);
  Ref<ISQLDriver> D(static_cast<ISQLDriver*>(A)), E(static_cast<ISQLDriver*>(B));

  EXPECT_EQ(D->SetOption(eDrvRestrict, 0x12345), SQL_SUCCESS);  // the host's restriction code
  EXPECT_EQ(D->SetOption(eDrvBlobSize, 1), DBXERR_NOTSUPPORTED);
  int32_t V = 0;
  int16_t L = 0;
  EXPECT_EQ(D->GetOption(eDrvRestrict, &V, 4, &L), DBXERR_NOTSUPPORTED);

  // Counting: handed out with one reference; IUnknown answers, nothing else does.
  EXPECT_EQ(D->AddRef(), 2);
  EXPECT_EQ(D->Release(), 1);
  void* Obj = &V;
  TDBXGuid Other{1, 2, 3, {4}};
  EXPECT_EQ(D->QueryInterface(&Other, &Obj), DBX_E_NOINTERFACE);
  EXPECT_EQ(Obj, nullptr);
  EXPECT_EQ(D->QueryInterface(&IID_IDBXUnknown, &Obj), DBX_S_OK);
  EXPECT_EQ(Obj, static_cast<void*>(D.Get()));
  EXPECT_EQ(D->Release(), 1);
  EXPECT_EQ(D->QueryInterface(&IID_IDBXUnknown, nullptr), DBX_E_POINTER);
}

// Every child holds its parent: released in any order, nothing dangles and nothing leaks (the
// sanitizer build checks the leaks).
TEST_F(DbxTest, ObjectsMayBeReleasedInAnyOrder) {
  const std::string Db = CreateDb();
  Ref<ISQLDriver> D = NewDriver();
  Ref<ISQLConnection> C = NewConnection(D.Get());
  std::string S = ServerFor(Db);
  ASSERT_EQ(C->connect(S.data(), const_cast<char*>("dba"), const_cast<char*>("sql")), SQL_SUCCESS);
  Ref<ISQLCommand> Cmd = Command(C.Get());
  Ref<ISQLCursor> Cur = Open(Cmd.Get(), "select 1 as a union all select 2");
  Ref<ISQLMetaData> Meta;
  ASSERT_EQ(C->getSQLMetaData(Meta.Out()), SQL_SUCCESS);
  Ref<ISQLCursor> Tables;
  ASSERT_EQ(Meta->getTables(nullptr, 0, Tables.Out()), SQL_SUCCESS);
  D.Reset();
  C.Reset();
  Meta.Reset();
  Cmd.Reset();
  ASSERT_EQ(Cur->next(), SQL_SUCCESS);
  EXPECT_EQ(Long(Cur.Get(), 1), 1);
  EXPECT_EQ(Tables->next(), DBXERR_EOF);  // no base tables of DBA yet
  Cur.Reset();
  Tables.Reset();
}

// Null pointers where the interface wants a buffer or an out-variable give 7, never a crash.
TEST_F(DbxTest, NullPointersGiveInvalidParameter) {
  Ref<ISQLDriver> D = NewDriver("/nonexistent/libnone.so");
  EXPECT_EQ(D->getSQLConnection(nullptr), DBXERR_INVALIDPARAM);
  Ref<ISQLConnection> C = NewConnection(D.Get());
  EXPECT_EQ(C->connect(nullptr, nullptr, nullptr), DBXERR_DRIVERERROR);  // the library cannot load
  EXPECT_EQ(C->getErrorMessageLen(nullptr), DBXERR_INVALIDPARAM);
  EXPECT_EQ(C->getErrorMessage(nullptr), DBXERR_INVALIDPARAM);
  EXPECT_EQ(C->getSQLCommand(nullptr), DBXERR_INVALIDPARAM);
  EXPECT_EQ(C->getSQLMetaData(nullptr), DBXERR_INVALIDPARAM);
  EXPECT_EQ(C->GetOption(eConnBlobSize, nullptr, 4, nullptr), DBXERR_INVALIDPARAM);
  EXPECT_EQ(C->SetOption(eConnQualifiedName, 0), SQL_SUCCESS);  // a nil name is empty

  Ref<ISQLCommand> Cmd = Command(C.Get());
  EXPECT_EQ(Cmd->prepare(nullptr, 2), DBXERR_DRIVERERROR);  // not connected; the parameters exist
  EXPECT_EQ(Cmd->setParameter(1, 0, paramIN, fldINT32, 0, 0, 0, 4, nullptr, 0), DBXERR_INVALIDPARAM);
  EXPECT_EQ(Cmd->getParameter(1, 0, nullptr, 0, nullptr), DBXERR_INVALIDPARAM);
  EXPECT_EQ(Cmd->execute(nullptr), DBXERR_INVALIDPARAM);
  EXPECT_EQ(Cmd->executeImmediate(nullptr, nullptr), DBXERR_INVALIDPARAM);
  EXPECT_EQ(Cmd->getNextCursor(nullptr), DBXERR_INVALIDPARAM);
  EXPECT_EQ(Cmd->getRowsAffected(nullptr), DBXERR_INVALIDPARAM);
  ISQLCursor* Cursor = nullptr;
  EXPECT_EQ(Cmd->executeImmediate(nullptr, &Cursor), DBXERR_DRIVERERROR);
  EXPECT_EQ(Cursor, nullptr);

  Ref<ISQLMetaData> Meta;
  ASSERT_EQ(C->getSQLMetaData(Meta.Out()), SQL_SUCCESS);
  EXPECT_EQ(Meta->getTables(nullptr, 0, nullptr), DBXERR_INVALIDPARAM);
  EXPECT_EQ(Meta->GetOption(eMetaSupportsTransaction, nullptr, 4, nullptr), DBXERR_INVALIDPARAM);
}
