// The system catalog over a database file: every catalog query the binding, the data sets,
// the driver, the catalog routines and the editors send, run as written (through the dialect
// translation) on the catalog views, with the rows they must give. This level drives the
// catalog directly on a SQLite handle, so procedures can be recorded without the procedure
// language; test_catalog_e2e.cpp runs the same queries through the C entry points.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "dblib/sql/Dialect.h"
#include "dblib/sql/Errors.h"
#include "dblib/sqlite/Catalog.h"
#include "dblib/sqlite/Sqlite.h"
#include "dblib/sqlite/Users.h"

namespace {

using Rows = std::vector<std::vector<std::string>>;

std::string Format(const char* fmt, const std::string& a, const std::string& b = "", const std::string& c = "") {
  char buf[2048];
  std::snprintf(buf, sizeof buf, fmt, a.c_str(), b.c_str(), c.c_str());
  return buf;
}

// The query texts exactly as their senders write them.
const char* kTables =
    "select null, null, user_name, user_name+'.'+table_name, (if table_type='BASE' then 1 else (if "
    "table_type='VIEW' then 2 else 1 endif) endif) as tab_type from sys.systable, sys.sysuserperms where "
    "creator=user_id and (table_type='%s' or table_type='%s') %s order by 3,4";
const char* kProcs =
    "select null, null, user_name, user_name+'.'+proc_name, 1, 0, 0 from sys.sysprocedure, sys.sysuserperms "
    "where creator=user_id order by 3,4";
const char* kColumns =
    "select null, null, user_name, table_name, column_name, column_id, 8, sc.domain_id as data_type, "
    "sd.domain_name as type_name, (if sc.domain_id=10 then 22 else (if sc.domain_id=12 then 23 else 0 endif) "
    "endif) as sub_type, sc.width as data_length, sc.width as data_prec, sc.scale as data_scale, (if "
    "sc.nulls='Y' then 1 else 0 endif) as data_nullable from sys.systable st, sys.syscolumn sc, sysdomain sd, "
    "sys.sysuserperms sp where st.table_id=sc.table_id and sc.domain_id=sd.domain_id and st.creator=user_id and "
    "st.table_name='%s' order by 6";
const char* kProcParms =
    "select null, null, user_name, proc_name, parm_name, parm_id, (if (parm_mode_in='Y' and parm_mode_out='N' "
    "and parm_type=0) then 1 else (if (parm_mode_in='N' and parm_mode_out='Y' and parm_type=0) then 2 else (if "
    "(parm_mode_in='Y' and parm_mode_out='Y' and parm_type=0) then 3 else (if (parm_mode_in='N' and "
    "parm_mode_out='Y' and parm_type=4) then 4 else 0 endif) endif) endif) endif) as parm_type, pp.domain_id as "
    "data_type, (if pp.domain_id=10 then 22 else (if pp.domain_id=12 then 23 else 0 endif) endif) as sub_type, "
    "sd.domain_name as type_name, pp.width as data_length, pp.width as data_prec, pp.scale as data_scale, 1 as "
    "data_nullable from sys.sysprocedure sp, sys.sysprocparm pp, sysdomain sd, sys.sysuserperms up where "
    "sp.proc_id=pp.proc_id and pp.domain_id=sd.domain_id and sp.creator=user_id and proc_name='%s' order by 6";
const char* kIndices =
    "select null, null, user_name, table_name, index_name, column_name, sequence, null, (if \"unique\"='N' then 1 "
    "else (if \"unique\"='Y' then 2 else (if \"unique\"='U' then 2 else 0 endif) endif) endif) as index_type, (if "
    "\"order\"='D' then 'd' else 'a' endif) as sort_order, null from sys.systable st, sys.sysindex si, "
    "sys.sysixcol sx, sys.syscolumn sc, sys.sysuserperms sp where st.table_id=si.table_id and "
    "si.table_id=sx.table_id and si.index_id=sx.index_id and sc.table_id=sx.table_id and "
    "sx.column_id=sc.column_id and si.creator=user_id and st.table_name='%s' order by 5,7";
const char* kPrimaryKey =
    "select column_name from sys.syscolumn, sys.systable where (sys.systable.table_id=sys.syscolumn.table_id) and "
    "(sys.systable.table_name=:table_name) and (pkey='Y')";
const char* kSpParams =
    "select parm_name, (if (parm_mode_in='Y' and parm_mode_out='N' and parm_type=0) then 1 else (if "
    "(parm_mode_in='Y' and parm_mode_out='Y' and parm_type=0) then 2 else (if (parm_mode_in='N' and "
    "parm_mode_out='Y' and parm_type=0) then 3 else (if (parm_mode_in='N' and parm_mode_out='Y' and parm_type=4) "
    "then 4 else 0 endif) endif) endif) endif) as parm_type, domain_id as data_type from sys.sysprocedure pr, "
    "sys.sysprocparm pp, sys.sysuserperms up where pr.proc_id=pp.proc_id and creator=user_id and "
    "proc_name=:proc_name ";
const char* kProcDefn =
    "select proc_defn from sys.sysprocedure, sys.sysuserperms where creator=user_id and proc_name=:proc_name";
const char* kProcOwner = "select user_name from sys.sysprocedure, sys.sysuserperms where creator=user_id and proc_name='%s'";
const char* kToolTables = "select user_name, table_name from sys.systable, sys.sysuserperms where creator=user_id and table_type='BASE'";
const char* kToolProcs = "select user_name, proc_name from sys.sysprocedure, sys.sysuserperms where creator=user_id order by 1,2";
const char* kToolColumns =
    "select column_name from sys.systable st, sys.syscolumn sc, sys.sysuserperms up where st.table_id=sc.table_id "
    "and creator=user_id and table_name=:table_name ";

class Catalog : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = (std::filesystem::temp_directory_path() / ("zyl-catalog-" + std::to_string(::getpid()) + ".db")).string();
    std::filesystem::remove(file_);
    ASSERT_EQ(sqlite3_open(file_.c_str(), &db_), SQLITE_OK);
    dbl::users::CreateSchema(db_);
    dbl::catalog::CreateSchema(db_);
    dbl::users::GrantConnect(db_, "fred", std::string("pw"));
    Exec("create table customer (id integer not null default autoincrement, name char(30) not null, "
         "city varchar(40), balance decimal(10,2), notes long varchar, photo long binary, primary key (id))",
         1, "customer");
    Exec("create table dba.orders (order_no int not null, line smallint not null, cust_id integer, amount double,"
         " primary key (order_no, line))",
         1, "orders");
    Exec("create unique index ix_orders on orders (cust_id desc, amount)", -1);
    Exec("create index ix_name on customer (name)", -1);
    Exec("create table t_unique (a int, b unsigned int, unique (a))", 1, "t_unique");
    Exec("create view v_cust as select id, name from customer", 1, "v_cust");
    Exec("create table fred.fredtab (x bit)", 3, "fredtab");
    Proc("p_in_out", 1, "create procedure p_in_out(in a int, out b varchar(10), inout c decimal(8,3)) begin end",
         {{1, 0, true, false, "a", "int"}, {2, 0, false, true, "b", "varchar(10)"}, {3, 0, true, true, "c", "decimal(8,3)"},
          {4, 1, false, true, "r1", "long varchar"}});
    Proc("f_len", 1, "create function f_len(s long varchar) returns integer begin return length(s) end",
         {{1, 4, false, true, "f_len", "integer"}, {2, 0, true, true, "s", "long varchar"}});
    Proc("zp_alert_send", 3, "create procedure fred.zp_alert_send() begin end", {});
    dbl::catalog::EnsureViews(db_, true);
  }
  void TearDown() override {
    sqlite3_close(db_);
    std::filesystem::remove(file_);
  }

  // DDL in the clients' dialect, with its creator recorded as the engine records it.
  void Exec(const std::string& sql, int creator, const char* name = nullptr) {
    std::string t = dbl::TranslateSql(sql, Context());
    char* err = nullptr;
    ASSERT_EQ(sqlite3_exec(db_, t.c_str(), nullptr, nullptr, &err), SQLITE_OK) << t << ": " << (err ? err : "");
    if (creator < 0) return;
    bool view = dbl::Classify(sql) == dbl::StatementKind::CreateView;
    dbl::catalog::RecordCreator(db_, name, view ? "VIEW" : "BASE", creator);
  }
  void Proc(const std::string& name, int creator, const std::string& defn, std::vector<dbl::catalog::ParmRow> parms) {
    dbl::catalog::ProcRow p;
    p.name = name;
    p.creator = creator;
    p.definition = defn;
    p.parms = std::move(parms);
    EXPECT_GT(dbl::catalog::PutProcedure(db_, p), 0);
  }
  dbl::DialectContext Context() {
    dbl::DialectContext ctx;
    ctx.isUser = [this](std::string_view n) { return dbl::catalog::UserId(db_, std::string(n)) >= 0; };
    return ctx;
  }
  // Runs a query of the clients' dialect; markers get the values in order.
  Rows Query(const std::string& sql, const std::vector<std::string>& params = {}) {
    std::string t = dbl::TranslateSql(sql, Context());
    sqlite3_stmt* st = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db_, t.c_str(), -1, &st, nullptr), SQLITE_OK) << t << ": " << sqlite3_errmsg(db_);
    if (!st) return {};
    EXPECT_EQ(sqlite3_bind_parameter_count(st), int(params.size()));
    for (size_t i = 0; i < params.size(); ++i)
      sqlite3_bind_text(st, int(i + 1), params[i].c_str(), -1, SQLITE_TRANSIENT);
    Rows rows;
    while (sqlite3_step(st) == SQLITE_ROW) {
      std::vector<std::string> row;
      for (int c = 0; c < sqlite3_column_count(st); ++c) {
        const unsigned char* v = sqlite3_column_text(st, c);
        row.push_back(v ? reinterpret_cast<const char*>(v) : "<null>");
      }
      rows.push_back(row);
    }
    sqlite3_finalize(st);
    return rows;
  }

  std::string file_;
  sqlite3* db_ = nullptr;
};

TEST_F(Catalog, DriverTablesQueryListsTablesAndViewsWithOwners) {
  // without the system-table flag the driver adds "and creator=1"
  Rows r = Query(Format(kTables, "BASE", "VIEW", "and creator=1"));
  Rows expected = {{"<null>", "<null>", "DBA", "DBA.customer", "1"},
                   {"<null>", "<null>", "DBA", "DBA.orders", "1"},
                   {"<null>", "<null>", "DBA", "DBA.t_unique", "1"},
                   {"<null>", "<null>", "DBA", "DBA.v_cust", "2"}};
  EXPECT_EQ(r, expected);
  // with it, every owner's tables, the catalog's own (owned by SYS) included; never our
  // internal tables
  Rows all = Query(Format(kTables, "BASE", "VIEW", ""));
  ASSERT_EQ(all.size(), 4u + 12u + 1u);
  // user names sort without regard to case, as the vendor's catalog compares them
  EXPECT_EQ(all[4], (std::vector<std::string>{"<null>", "<null>", "fred", "fred.fredtab", "1"}));
  EXPECT_EQ(all[5][3], "SYS.DUMMY");
  EXPECT_EQ(all[10][3], "SYS.SYSINDEX");
  for (const auto& row : all) EXPECT_EQ(row[3].find("zyl_"), std::string::npos) << row[3];
  EXPECT_EQ(Query(Format(kTables, "VIEW", "VIEW", "")).size(), 2u);  // v_cust, SYS.SYSUSERPERMS
  EXPECT_EQ(Query(Format(kTables, "BASE", "BASE", "and creator=3")).size(), 1u);
}

TEST_F(Catalog, CatalogTablesDescribeTheirOwnColumns) {
  Rows r = Query(Format(kColumns, "SYSTABLE"));
  ASSERT_EQ(r.size(), 24u);
  EXPECT_EQ(r[0][2], "SYS");
  EXPECT_EQ(r[0][4], "table_id");
  EXPECT_EQ(r[0][8], "unsigned int");
  EXPECT_EQ(r[11][4], "table_name");
  EXPECT_EQ(r[11][8], "char");
  EXPECT_EQ(r[11][10], "128");
  // a user table of the same name as a catalog column type lookup does not confuse them
  EXPECT_EQ(Query(Format(kColumns, "fredtab"))[0][8], "bit");
}

TEST_F(Catalog, DriverColumnsQueryGivesDomainsWidthsAndNullability) {
  Rows r = Query(Format(kColumns, "customer"));
  ASSERT_EQ(r.size(), 6u);
  // user, table, column, id, 8, domain, domain name, sub type, length, precision, scale, nullable
  EXPECT_EQ(r[0], (std::vector<std::string>{"<null>", "<null>", "DBA", "customer", "id", "1", "8", "2", "integer", "0",
                                            "4", "4", "0", "0"}));
  EXPECT_EQ(r[1][4], "name");
  EXPECT_EQ(r[1][7], "7");
  EXPECT_EQ(r[1][10], "30");
  EXPECT_EQ(r[1][13], "0");  // not null
  EXPECT_EQ(r[2][8], "varchar");
  EXPECT_EQ(r[2][13], "1");
  EXPECT_EQ(r[3][7], "27");  // decimal(10,2)
  EXPECT_EQ(r[3][10], "10");
  EXPECT_EQ(r[3][12], "2");
  EXPECT_EQ(r[4][7], "10");  // long varchar: sub type 22
  EXPECT_EQ(r[4][9], "22");
  EXPECT_EQ(r[5][7], "12");  // long binary: sub type 23
  EXPECT_EQ(r[5][9], "23");
  // a view's columns are listed like a table's
  EXPECT_EQ(Query(Format(kColumns, "v_cust")).size(), 2u);
  EXPECT_TRUE(Query(Format(kColumns, "no_such_table")).empty());
}

TEST_F(Catalog, ColumnRowsFollowTheSchemaAtOnce) {
  ASSERT_EQ(sqlite3_exec(db_, "alter table customer add column fax varchar(20)", nullptr, nullptr, nullptr), SQLITE_OK);
  Rows r = Query(Format(kColumns, "customer"));
  ASSERT_EQ(r.size(), 7u);
  EXPECT_EQ(r[6][4], "fax");
  ASSERT_EQ(sqlite3_exec(db_, "drop table t_unique", nullptr, nullptr, nullptr), SQLITE_OK);
  dbl::catalog::ForgetObject(db_, "t_unique");
  EXPECT_EQ(Query(Format(kTables, "BASE", "VIEW", "and creator=1")).size(), 3u);
  // the key column default tells of the key counter
  Rows d = Query("select \"default\" from sys.syscolumn c, sys.systable t where c.table_id=t.table_id and "
                 "t.table_name='customer' and c.column_name='id'");
  ASSERT_EQ(d.size(), 1u);
  EXPECT_EQ(d[0][0], "autoincrement");
}

TEST_F(Catalog, PrimaryKeyQueriesOfTheDataSetsAndTheTools) {
  Rows pk = Query(kPrimaryKey, {"orders"});
  EXPECT_EQ(pk, (Rows{{"order_no"}, {"line"}}));
  EXPECT_EQ(Query(kPrimaryKey, {"customer"}), (Rows{{"id"}}));
  EXPECT_TRUE(Query(kPrimaryKey, {"t_unique"}).empty());

  EXPECT_EQ(Query(std::string(kToolTables) + " and creator=1" + " order by 1,2"),
            (Rows{{"DBA", "customer"}, {"DBA", "orders"}, {"DBA", "t_unique"}}));
  Rows allTables = Query(std::string(kToolTables) + " order by 1,2");
  EXPECT_EQ(allTables[3], (std::vector<std::string>{"fred", "fredtab"}));
  EXPECT_EQ(allTables.size(), 3u + 11u + 1u);  // the catalog's base tables are listed with all creators
  EXPECT_EQ(Query(std::string(kToolColumns) + "order by column_id", {"orders"}),
            (Rows{{"order_no"}, {"line"}, {"cust_id"}, {"amount"}}));
  EXPECT_EQ(Query(std::string(kToolColumns) + "and user_name=:user_name " + "order by column_id", {"fredtab", "fred"}),
            (Rows{{"x"}}));
  EXPECT_TRUE(Query(std::string(kToolColumns) + "and user_name=:user_name " + "order by column_id", {"fredtab", "DBA"})
                  .empty());
}

TEST_F(Catalog, IndexQueryListsIndexColumnsInOrderButNotThePrimaryKey) {
  Rows r = Query(Format(kIndices, "orders"));
  ASSERT_EQ(r.size(), 2u);
  // user, table, index, column, sequence, null, type (2 unique), order
  EXPECT_EQ(r[0], (std::vector<std::string>{"<null>", "<null>", "DBA", "orders", "ix_orders", "cust_id", "0", "<null>", "2",
                                            "d", "<null>"}));
  EXPECT_EQ(r[1][5], "amount");
  EXPECT_EQ(r[1][6], "1");
  EXPECT_EQ(r[1][9], "a");
  Rows c = Query(Format(kIndices, "customer"));
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c[0][8], "1");  // non-unique
  Rows u = Query(Format(kIndices, "t_unique"));
  ASSERT_EQ(u.size(), 1u);  // the UNIQUE constraint
  EXPECT_EQ(u[0][8], "2");
  Rows flag = Query("select \"unique\" from sys.sysindex i, sys.systable t where i.table_id=t.table_id and t.table_name='t_unique'");
  EXPECT_EQ(flag, (Rows{{"U"}}));
}

TEST_F(Catalog, ProcedureQueriesOfTheDriver) {
  Rows p = Query(kProcs);
  EXPECT_EQ(p, (Rows{{"<null>", "<null>", "DBA", "DBA.f_len", "1", "0", "0"},
                     {"<null>", "<null>", "DBA", "DBA.p_in_out", "1", "0", "0"},
                     {"<null>", "<null>", "fred", "fred.zp_alert_send", "1", "0", "0"}}));
  Rows parms = Query(Format(kProcParms, "p_in_out"));
  ASSERT_EQ(parms.size(), 4u);
  // name, id, kind (1 in, 2 out, 3 inout, 0 result column), domain, sub type, type name, width
  EXPECT_EQ(parms[0][4], "a");
  EXPECT_EQ(parms[0][6], "1");
  EXPECT_EQ(parms[0][7], "2");
  EXPECT_EQ(parms[1][6], "2");
  EXPECT_EQ(parms[1][9], "varchar");
  EXPECT_EQ(parms[1][10], "10");
  EXPECT_EQ(parms[2][6], "3");
  EXPECT_EQ(parms[2][12], "3");  // scale of decimal(8,3)
  EXPECT_EQ(parms[3][6], "0");
  EXPECT_EQ(parms[3][8], "22");
  Rows f = Query(Format(kProcParms, "f_len"));
  ASSERT_EQ(f.size(), 2u);
  EXPECT_EQ(f[0][4], "f_len");
  EXPECT_EQ(f[0][6], "4");  // return value
}

TEST_F(Catalog, ProcedureQueriesOfTheDataSetsAlertsAndTools) {
  Rows sp = Query(std::string(kSpParams) + "order by pp.proc_id, parm_id", {"p_in_out"});
  // data-set numbering: 1 in, 2 inout, 3 out, 0 not a parameter
  EXPECT_EQ(sp, (Rows{{"a", "1", "2"}, {"b", "3", "9"}, {"c", "2", "27"}, {"r1", "0", "10"}}));
  EXPECT_EQ(Query(std::string(kSpParams) + "and user_name='%s' " + "order by pp.proc_id, parm_id", {"p_in_out"}).size(),
            0u);  // literally formatted owner that does not exist
  EXPECT_EQ(Query(std::string(kSpParams) + "and user_name='DBA' order by pp.proc_id, parm_id", {"f_len"}),
            (Rows{{"f_len", "4", "2"}, {"s", "2", "10"}}));
  Rows defn = Query(kProcDefn, {"f_len"});
  ASSERT_EQ(defn.size(), 1u);
  EXPECT_EQ(defn[0][0], "create function f_len(s long varchar) returns integer begin return length(s) end");
  EXPECT_EQ(Query(std::string(kProcDefn) + " and user_name='fred' ", {"f_len"}).size(), 0u);
  EXPECT_EQ(Query(Format(kProcOwner, "zp_alert_send")), (Rows{{"fred"}}));
  EXPECT_TRUE(Query(Format(kProcOwner, "nothing")).empty());
  EXPECT_EQ(Query(kToolProcs), (Rows{{"DBA", "f_len"}, {"DBA", "p_in_out"}, {"fred", "zp_alert_send"}}));
}

TEST_F(Catalog, ProcedureRowsCanBeFoundReplacedAndDropped) {
  dbl::catalog::ProcRow row;
  ASSERT_TRUE(dbl::catalog::FindProcedure(db_, "P_IN_OUT", row));
  EXPECT_EQ(row.parms.size(), 4u);
  EXPECT_EQ(row.parms[2].type, "decimal(8,3)");
  EXPECT_TRUE(row.parms[2].modeIn && row.parms[2].modeOut);
  EXPECT_FALSE(dbl::catalog::FindProcedure(db_, "p_in_out", row, 3));
  Proc("p_in_out", 1, "create procedure p_in_out() begin end", {});
  ASSERT_TRUE(dbl::catalog::FindProcedure(db_, "p_in_out", row, 1));
  EXPECT_TRUE(row.parms.empty());
  EXPECT_EQ(Query(Format(kProcParms, "p_in_out")).size(), 0u);  // old parameter rows are gone
  EXPECT_TRUE(dbl::catalog::DropProcedure(db_, "p_in_out"));
  EXPECT_FALSE(dbl::catalog::DropProcedure(db_, "p_in_out"));
  EXPECT_EQ(Query(kToolProcs).size(), 2u);
}

TEST_F(Catalog, DomainsUsersAndDummy) {
  Rows d = Query("select domain_id, domain_name, type_id from sysdomain where domain_id in (2, 9, 27) order by 1");
  EXPECT_EQ(d, (Rows{{"2", "integer", "4"}, {"9", "varchar", "12"}, {"27", "decimal", "3"}}));
  Rows users = Query("select user_id, user_name from sys.sysuserperms order by user_id");
  EXPECT_EQ(users, (Rows{{"0", "SYS"}, {"1", "DBA"}, {"2", "PUBLIC"}, {"3", "fred"}}));
  // hashes are there for a DBA, never the password itself
  Rows pw = Query("select password from sys.sysuserperm where user_name='DBA'");
  ASSERT_EQ(pw.size(), 1u);
  EXPECT_NE(pw[0][0], "sql");
  EXPECT_NE(pw[0][0], "<null>");
  EXPECT_EQ(Query("select 1+1 from dummy"), (Rows{{"2"}}));
  EXPECT_EQ(Query("select dummy_col from sys.dummy"), (Rows{{"0"}}));
}

TEST(CatalogViews, NonDbaConnectionsSeeNoPasswordHashes) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  dbl::users::CreateSchema(db);
  dbl::catalog::EnsureViews(db, false);
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "select count(*) from sysuserperm where password is not null", -1, &st, nullptr),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(st, 0), 0);
  sqlite3_finalize(st);
  // a second call finds the views in place and does not fail
  dbl::catalog::EnsureViews(db, false);
  sqlite3_close(db);
}

TEST(CatalogViews, DeclaredViewTypesMatchTheViews) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  dbl::users::CreateSchema(db);
  dbl::catalog::EnsureViews(db, true);
  const char* views[] = {"systable", "syscolumn", "sysdomain", "sysuserperm", "sysuserperms",
                         "sysprocedure", "sysprocparm", "sysindex", "sysixcol", "dummy",
                         "sysforeignkey", "sysfkcol"};
  for (const char* v : views) {
    std::string sql = std::string("select name from pragma_table_info('") + v + "')";
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr), SQLITE_OK);
    int n = 0;
    while (sqlite3_step(st) == SQLITE_ROW) {
      const char* col = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
      EXPECT_TRUE(dbl::catalog::ViewColumnType(v, col).Known()) << v << "." << col;
      ++n;
    }
    sqlite3_finalize(st);
    EXPECT_GT(n, 0) << v;
    EXPECT_TRUE(dbl::catalog::IsCatalogView(v));
  }
  sqlite3_close(db);
}

// A failure anywhere while the views are being made (each SQLite call in turn) leaves a
// connection on which the next attempt succeeds and every view answers.
TEST(CatalogViews, FailureWhileMakingTheViewsIsRepairedByTheNextUse) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  dbl::users::CreateSchema(db);
  int failures = 0;
  for (int n = 1; n < 400; ++n) {
    sqlite3_exec(db, "drop view if exists temp.dummy; drop view if exists temp.systable", nullptr, nullptr, nullptr);
    dbl::sq::FailAfter(n, SQLITE_IOERR);
    bool failed = false;
    try {
      dbl::catalog::EnsureViews(db, true);
    } catch (const dbl::SqlError&) {
      failed = true;
      ++failures;
    }
    dbl::sq::FailAfter(0, 0);
    ASSERT_NO_THROW(dbl::catalog::EnsureViews(db, true)) << "after failing call " << n;
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "select count(*) from systable, dummy", -1, &st, nullptr), SQLITE_OK) << n;
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(st, 0), 12);
    sqlite3_finalize(st);
    if (!failed) break;  // n passed the last counted call
  }
  EXPECT_GT(failures, 3);  // the seam really reached the view making
  sqlite3_close(db);
}

}  // namespace
