// zylo-design as its user runs it, a separate process over a data module file on a real database:
// listing, setting, a parameter dialog played from the script, the catalog, a data set's first
// rows, a component editor's verb, writing the form back; and hostile input (a damaged form
// file, a dialog whose input ends, unknown commands) failing clearly without touching the file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

std::string Slurp(const std::string& Path) {
  std::ifstream f(Path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

void Spit(const std::string& Path, const std::string& Text) { std::ofstream(Path, std::ios::binary) << Text; }

std::pair<int, std::string> Shell(const std::string& Command) {
  std::string out;
  FILE* p = popen((Command + " 2>&1").c_str(), "r");
  if (!p) return {-1, out};
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int rc = pclose(p);
  return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, out};
}

class DesignTool : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (std::filesystem::temp_directory_path() / "zyl-design-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir = tmpl;
    setenv("ZYL_ENGINE_DIR", (dir + "/engines").c_str(), 1);
    db = dir + "/shop.db";
    ASSERT_EQ(std::system((std::string(ZYL_CREATEDB_TOOL) + " -q " + db).c_str()), 0);
    Spit(dir + "/schema.sql",
         "create table orders (id integer primary key, qty integer, note varchar(20));\n"
         "insert into orders values (1, 5, 'a'), (2, 50, 'b'), (3, 7, null), (4, 70, 'd');\n"
         "create procedure big_orders() begin select id from orders where qty > 10; end;\n");
    auto [rc, out] = Shell(std::string(ZYL_ISQL_TOOL) + " -q -c 'dbf=" + db + ";uid=dba;pwd=sql' -f " + dir + "/schema.sql");
    ASSERT_EQ(rc, 0) << out;
    form = dir + "/shop.dfm";
    Spit(form,
         "object ShopData: TDataModule\n"
         "  object Session1: TAsaSession\n"
         "    LoginDatabase = '" + db + "'\n"
         "    LoginUser = 'dba'\n"
         "    LoginPassword = 'sql'\n"
         "    LibraryFile = 'dblib10.dll'\n"
         "    ServerType = stServer\n"
         "  end\n"
         "  object Orders: TAsaDataset\n"
         "    Session = Session1\n"
         "    SQL.Strings = (\n"
         "      'select id, qty, note from orders where qty > :lim order by id')\n"
         "  end\n"
         "  object Big: TAsaStoredProc\n"
         "    Session = Session1\n"
         "  end\n"
         "end\n");
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }

  std::pair<int, std::string> Design(const std::string& Script) {
    Spit(dir + "/script.txt", Script);
    return Shell(std::string(ZYL_DESIGN_TOOL) + " --echo -f " + dir + "/script.txt " + form + " </dev/null");
  }

  std::string dir, db, form;
};

TEST_F(DesignTool, EditsADataModuleOnARealDatabaseAndWritesItBack) {
  auto [rc, out] = Design(
      "components\n"
      "set Orders.ReadOnly False\n"
      "edit Orders.Params\n"
      "click btnReset\n"
      "pick cbDataType ztInteger\n"
      "type edParamValue 6\n"
      "click btnOK\n"
      "open Orders 2\n"
      "procs shop\n"
      "values Big.StoredProcName\n"
      "edit Big.StoredProcName\n"
      "DBA.big_orders\n"
      "open Big\n"
      "columns shop orders\n"
      "verb Session1 1\n"
      "enter\n"
      "edit Session1.TransIsolation\n"
      "3\n"
      "write\n");
  EXPECT_EQ(rc, 0) << out;
  EXPECT_NE(out.find("  Orders: TAsaDataset"), std::string::npos) << out;
  EXPECT_NE(out.find("Orders.Params = (1 parameters: lim=6)  (modified)"), std::string::npos) << out;
  // qty > 6: ids 2, 3, 4; two shown.
  EXPECT_NE(out.find("id | qty | note"), std::string::npos) << out;
  EXPECT_NE(out.find(" 2 |  50 | b"), std::string::npos) << out;
  EXPECT_NE(out.find(" 3 |   7 | (NULL)"), std::string::npos) << out;
  EXPECT_EQ(out.find(" 4 |  70"), std::string::npos) << out;
  EXPECT_NE(out.find("  DBA.big_orders"), std::string::npos) << out;
  EXPECT_NE(out.find("  1. DBA.big_orders"), std::string::npos) << out;  // the procedure's value list
  EXPECT_NE(out.find("Big.StoredProcName = 'DBA.big_orders'"), std::string::npos) << out;
  size_t big = out.find("Big:\n");
  ASSERT_NE(big, std::string::npos) << out;
  EXPECT_NE(out.find("(2 rows)", big), std::string::npos) << out;  // qty > 10: ids 2 and 4
  EXPECT_NE(out.find("  id\n  qty\n  note\n"), std::string::npos) << out;
  EXPECT_NE(out.find("for Sybase SQL Anywhere"), std::string::npos) << out;

  std::string written = Slurp(form);
  EXPECT_NE(written.find("ReadOnly = False"), std::string::npos) << written;
  EXPECT_NE(written.find("StoredProcName = 'DBA.big_orders'"), std::string::npos) << written;
  EXPECT_NE(written.find("Params.Data = {"), std::string::npos) << written;
  EXPECT_NE(written.find("TransIsolation = atReadCommitted"), std::string::npos) << written;
  EXPECT_EQ(written.find("Connected"), std::string::npos) << "the data sets' connections are not stored";

  // What was written loads again and keeps the value of the parameter.
  auto [rc2, out2] = Design("open Orders\n");
  EXPECT_EQ(rc2, 0) << out2;
  EXPECT_NE(out2.find("(3 rows)"), std::string::npos) << out2;
}

TEST_F(DesignTool, BadInputFailsClearlyAndLeavesTheFileAlone) {
  std::string before = Slurp(form);
  // A dialog whose input ends is cancelled: the list is as it was; unknown commands and values fail.
  auto [rc, out] = Design(
      "edit Orders.Params\n"
      "click btnReset\n"
      "type edParamName renamed\n");
  EXPECT_EQ(rc, 0) << out;
  EXPECT_NE(out.find("dialog closed: Cancel"), std::string::npos) << out;
  EXPECT_NE(out.find("Orders.Params = (0 parameters)  (unchanged)"), std::string::npos) << out;
  auto [rc2, out2] = Design("frobnicate\nset Orders.CursorType sideways\nset Nobody.Tag 1\nset Orders.Tag many\n");
  EXPECT_EQ(rc2, 1) << out2;
  EXPECT_NE(out2.find("unknown command 'frobnicate'"), std::string::npos) << out2;
  EXPECT_NE(out2.find("'sideways' is not one of actDefault"), std::string::npos) << out2;
  EXPECT_NE(out2.find("no component 'Nobody'"), std::string::npos) << out2;
  EXPECT_EQ(Slurp(form), before);

  // A damaged file: a clear error, exit status 1, and the file as it was.
  std::string cut = before.substr(0, before.find("SQL.Strings") + 20);
  Spit(form, cut);
  auto [rc3, out3] = Design("write\n");
  EXPECT_EQ(rc3, 1) << out3;
  EXPECT_NE(out3.find("zylo-design: "), std::string::npos) << out3;
  EXPECT_EQ(Slurp(form), cut);
}

}  // namespace
