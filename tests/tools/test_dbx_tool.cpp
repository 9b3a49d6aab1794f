// zylo-dbx as its user runs it: a separate process that loads the driver by file name, against
// a database file of its own; what it prints, and its exit statuses for refusals.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

class DbxTool : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string Tmpl = (std::filesystem::temp_directory_path() / "zyl-dbx-tool-XXXXXX").string();
    ASSERT_NE(mkdtemp(Tmpl.data()), nullptr);
    Dir = Tmpl;
    setenv("ZYL_ENGINE_DIR", (Dir + "/engines").c_str(), 1);
    File = Dir + "/tool.db";
    ASSERT_EQ(std::system((std::string(ZYL_CREATEDB_TOOL) + " -q " + File).c_str()), 0);
    Server = "servertype=server;dbf=" + File;
  }
  void TearDown() override {
    std::error_code Ec;
    std::filesystem::remove_all(Dir, Ec);
  }

  // Runs the tool with Args after the server name; its exit status, standard output and
  // standard error in one text (stderr after stdout).
  int Run(const std::string& Args) {
    const std::string Err = Dir + "/stderr.txt";
    const std::string Command =
        std::string(ZYL_DBX_TOOL) + " -s '" + Server + "' " + Args + " 2>'" + Err + "' </dev/null";
    Out.clear();
    FILE* P = popen(Command.c_str(), "r");
    if (!P) return -1;
    char Buf[4096];
    size_t N;
    while ((N = fread(Buf, 1, sizeof Buf, P)) > 0) Out.append(Buf, N);
    const int Rc = pclose(P);
    if (FILE* E = std::fopen(Err.c_str(), "r")) {
      while ((N = fread(Buf, 1, sizeof Buf, E)) > 0) Out.append(Buf, N);
      std::fclose(E);
    }
    return WIFEXITED(Rc) ? WEXITSTATUS(Rc) : -1;
  }
  bool Has(const std::string& Text) const { return Out.find(Text) != std::string::npos; }

  std::string Dir, File, Server, Out;
};

}  // namespace

TEST_F(DbxTool, StatementsRowsAndCatalogLists) {
  ASSERT_EQ(Run("\"create table city(id int primary key, name varchar(20), note long varchar)\""), 0) << Out;
  // Parameters go in as text, quotes and all, and come back unchanged.
  ASSERT_EQ(Run("--param 1 --param \"O'Neil; Basel\" \"insert into city(id, name) values(?, ?)\""), 0) << Out;
  EXPECT_TRUE(Has("1 row affected")) << Out;
  ASSERT_EQ(Run("--format csv \"select id, name, note from city\""), 0) << Out;
  EXPECT_EQ(Out.rfind("id,name,note\r\n1,O'Neil; Basel,\r\n", 0), 0u) << Out;  // CSV lines end in CR LF

  ASSERT_EQ(Run("--tables"), 0) << Out;
  EXPECT_TRUE(Has("DBA.city")) << Out;
  ASSERT_EQ(Run("--format csv --columns DBA.city"), 0) << Out;
  EXPECT_TRUE(Has("COLUMN_NAME")) << Out;
  EXPECT_TRUE(Has(",city,name,2,")) << Out;  // the owner part only qualifies the request
}

TEST_F(DbxTool, ProcedureOutputsAndResultSets) {
  ASSERT_EQ(Run("\"create procedure twice(in a integer, out b integer) begin set b = a * 2; end\""), 0) << Out;
  ASSERT_EQ(Run("--proc twice --param 21"), 0) << Out;
  EXPECT_TRUE(Has("output parameters:")) << Out;
  EXPECT_TRUE(Has("b = 42")) << Out;

  ASSERT_EQ(Run("\"create procedure two_sets() begin select 1 as first_set; select 'x' as second_set; end\""), 0)
      << Out;
  ASSERT_EQ(Run("\"call two_sets()\""), 0) << Out;
  EXPECT_TRUE(Has("first_set")) << Out;
  EXPECT_TRUE(Has("second_set")) << Out;
}

TEST_F(DbxTool, RefusalsExitWithTheirMessage) {
  EXPECT_EQ(Run("\"select * from no_such_table\""), 1);
  EXPECT_TRUE(Has("Error -141")) << Out;
  EXPECT_EQ(Run("-p wrong \"select 1\""), 1);
  EXPECT_TRUE(Has("Error -103")) << Out;
  EXPECT_EQ(Run("--format xml \"select 1\""), 255);
  EXPECT_TRUE(Has("usage:")) << Out;
  EXPECT_EQ(Run("--driver " + Dir + "/no-such-driver.so \"select 1\""), 1);
  EXPECT_TRUE(Has("no-such-driver.so")) << Out;
}
