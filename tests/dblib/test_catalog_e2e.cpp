// The system catalog and the dialect through the C entry points, the way the binding meets
// them: DDL in the clients' dialect, the catalog queries as their senders write them (with
// :name markers bound through an input SQLDA), what DESCRIBE says about their columns, and the
// catalog following the schema as it changes.
#include <string>
#include <vector>

#include "tests/dblib/DblibHarness.h"

using zyltest::DblibTest;
using zyltest::Message;

namespace {

char kProg[] = "ZYL";
using Rows = std::vector<std::vector<std::string>>;

std::string Format(const char* fmt, const std::string& a) {
  char buf[2048];
  std::snprintf(buf, sizeof buf, fmt, a.c_str());
  return buf;
}

const char* kColumns =
    "select null, null, user_name, table_name, column_name, column_id, 8, sc.domain_id as data_type, "
    "sd.domain_name as type_name, (if sc.domain_id=10 then 22 else (if sc.domain_id=12 then 23 else 0 endif) "
    "endif) as sub_type, sc.width as data_length, sc.width as data_prec, sc.scale as data_scale, (if "
    "sc.nulls='Y' then 1 else 0 endif) as data_nullable from sys.systable st, sys.syscolumn sc, sysdomain sd, "
    "sys.sysuserperms sp where st.table_id=sc.table_id and sc.domain_id=sd.domain_id and st.creator=user_id and "
    "st.table_name='%s' order by 6";
const char* kTables =
    "select null, null, user_name, user_name+'.'+table_name, (if table_type='BASE' then 1 else (if "
    "table_type='VIEW' then 2 else 1 endif) endif) as tab_type from sys.systable, sys.sysuserperms where "
    "creator=user_id and (table_type='BASE' or table_type='VIEW') and creator<>0 order by 3,4";
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
const char* kToolColumns =
    "select column_name from sys.systable st, sys.syscolumn sc, sys.sysuserperms up where st.table_id=sc.table_id "
    "and creator=user_id and table_name=:table_name and user_name=:user_name order by column_id";

class CatalogE2E : public DblibTest {
 protected:
  void SetUp() override {
    DblibTest::SetUp();
    ConnectFile(CreateDb("cat"), "cateng");
  }
  void TearDown() override {
    for (SQLDA* d : das_) free_sqlda(d);
    DblibTest::TearDown();
  }

  // Prepares and describes; the caller owns nothing (descriptors are freed at tear-down).
  SQLDA* Describe(const std::string& sql, short& stmt, unsigned what = 1) {
    std::string text = sql;
    stmt = 0;
    dbpp_prepare(&ca, nullptr, kProg, &stmt, text.data(), nullptr, 0);
    if (ca.sqlcode < 0) return nullptr;
    SQLDA* d = alloc_sqlda(64);
    das_.push_back(d);
    dbpp_describe(&ca, nullptr, kProg, &stmt, d, what);
    return ca.sqlcode < 0 ? nullptr : d;
  }

  // Every row of a query as text ("<null>" for NULL); params bind the markers in order.
  Rows Query(const std::string& sql, const std::vector<std::string>& params = {}) {
    short stmt = 0;
    SQLDA* out = Describe(sql, stmt);
    EXPECT_NE(out, nullptr) << sql << ": " << Message(ca);
    if (!out) return {};
    int cols = out->sqld;
    std::vector<std::vector<char>> bufs(static_cast<size_t>(cols), std::vector<char>(4096));
    std::vector<short> inds(static_cast<size_t>(cols));
    for (int c = 0; c < cols; ++c) {
      out->sqlvar[c].sqltype = DT_STRING | 1;
      out->sqlvar[c].sqllen = 4096;
      out->sqlvar[c].sqldata = bufs[size_t(c)].data();
      out->sqlvar[c].sqlind = &inds[size_t(c)];
    }
    SQLDA* in = nullptr;
    std::vector<std::string> values = params;
    if (!params.empty()) {
      in = alloc_sqlda(unsigned(params.size()));
      das_.push_back(in);
      in->sqld = short(params.size());
      for (size_t i = 0; i < params.size(); ++i) {
        in->sqlvar[i].sqltype = DT_STRING;
        in->sqlvar[i].sqllen = short(values[i].size() + 1);
        in->sqlvar[i].sqldata = values[i].data();
        in->sqlvar[i].sqlind = nullptr;
      }
    }
    char cursor[] = "CATCUR";
    dbpp_declare(&ca, cursor, nullptr, kProg, &stmt, CUR_READ_ONLY);
    dbpp_open(&ca, cursor, nullptr, kProg, &stmt, in, 0, 0, CUR_READ_ONLY);
    EXPECT_GE(ca.sqlcode, 0) << sql << ": " << Message(ca);
    Rows rows;
    for (int guard = 0; ca.sqlcode >= 0 && guard < 10000; ++guard) {
      dbpp_fetch(&ca, cursor, FETCH_RELATIVE, 1, out, 0, 0);
      if (ca.sqlcode != 0) break;
      std::vector<std::string> row;
      for (int c = 0; c < cols; ++c) row.push_back(inds[size_t(c)] < 0 ? "<null>" : bufs[size_t(c)].data());
      rows.push_back(row);
    }
    EXPECT_EQ(ca.sqlcode, SQLE_NOTFOUND) << Message(ca);
    dbpp_close(&ca, cursor);
    dbpp_dropstmt(&ca, nullptr, kProg, &stmt);
    return rows;
  }

  std::vector<SQLDA*> das_;
};

TEST_F(CatalogE2E, TablesMadeThroughTheLibraryAppearWithTheirCreators) {
  MustExec("create table dba.customer (id integer not null default autoincrement, name char(30) not null, "
           "balance decimal(10,2), primary key (id))");
  MustExec("create view v_names as select name from customer");
  MustExec("grant connect to fred identified by 'pw'");
  MustExec("create table fred.fredtab (x bit)");
  Rows t = Query(kTables);
  EXPECT_EQ(t, (Rows{{"<null>", "<null>", "DBA", "DBA.customer", "1"},
                     {"<null>", "<null>", "DBA", "DBA.v_names", "2"},
                     {"<null>", "<null>", "fred", "fred.fredtab", "1"}}));
  // a renamed table keeps its owner and id
  Rows before = Query("select table_id, creator from sys.systable where table_name='fredtab'");
  ASSERT_EQ(before.size(), 1u);
  EXPECT_EQ(before[0][1], "3");
  MustExec("alter table fred.fredtab rename to fredtab2");
  EXPECT_EQ(Query("select table_id, creator from sys.systable where table_name='fredtab2'"), before);
  MustExec("alter table fredtab2 rename to fredtab");
  // dropping a table takes its rows away at once
  MustExec("drop table fred.fredtab");
  EXPECT_EQ(Query(kTables).size(), 2u);
  // the key counter of the autoincrement column works through the library
  MustExec("insert into customer(name) values ('a')");
  MustExec("insert into customer(name) values ('b')");
  EXPECT_EQ(Query("select max(id) from dba.customer"), (Rows{{"2"}}));
}

TEST_F(CatalogE2E, ColumnPrimaryKeyAndIndexQueries) {
  MustExec("create table orders (order_no int not null, line smallint not null, note long varchar, amount double,"
           " primary key (order_no, line))");
  MustExec("create index ix_amount on orders (amount desc)");
  Rows cols = Query(Format(kColumns, "orders"));
  ASSERT_EQ(cols.size(), 4u);
  EXPECT_EQ(cols[0][4], "order_no");
  EXPECT_EQ(cols[1][8], "smallint");
  EXPECT_EQ(cols[2][9], "22");
  EXPECT_EQ(cols[3][13], "1");
  EXPECT_EQ(Query(kPrimaryKey, {"orders"}), (Rows{{"order_no"}, {"line"}}));
  Rows ix = Query(Format(kIndices, "orders"));
  ASSERT_EQ(ix.size(), 1u);
  EXPECT_EQ(ix[0][4], "ix_amount");
  EXPECT_EQ(ix[0][5], "amount");
  EXPECT_EQ(ix[0][9], "d");
  EXPECT_EQ(Query(kToolColumns, {"orders", "DBA"}), (Rows{{"order_no"}, {"line"}, {"note"}, {"amount"}}));
  // a column added later is there on the next query
  MustExec("alter table orders add column qty integer");
  EXPECT_EQ(Query(kToolColumns, {"orders", "DBA"}).size(), 5u);
}

TEST_F(CatalogE2E, DescribeOfCatalogAndExpressionColumns) {
  short stmt = 0;
  SQLDA* d = Describe(kTables, stmt);
  ASSERT_NE(d, nullptr) << Message(ca);
  ASSERT_EQ(d->sqld, 5);
  EXPECT_EQ(d->sqlvar[2].sqltype & DT_TYPES, DT_FIXCHAR);  // user_name char(128)
  EXPECT_EQ(d->sqlvar[2].sqllen, 128);
  EXPECT_EQ(d->sqlvar[3].sqltype & DT_TYPES, DT_LONGVARCHAR);  // a string joined with +
  EXPECT_EQ(d->sqlvar[4].sqltype & DT_TYPES, DT_INT);          // the IF expression
  dbpp_dropstmt(&ca, nullptr, kProg, &stmt);

  // every column of a catalog table read with *
  d = Describe("select * from sys.sysuserperms", stmt);
  ASSERT_NE(d, nullptr) << Message(ca);
  ASSERT_EQ(d->sqld, 9);
  EXPECT_EQ(d->sqlvar[0].sqltype & DT_TYPES, DT_UNSINT);
  EXPECT_EQ(d->sqlvar[1].sqltype & DT_TYPES, DT_FIXCHAR);
  EXPECT_EQ(d->sqlvar[1].sqllen, 128);
  EXPECT_EQ(d->sqlvar[8].sqltype & DT_TYPES, DT_LONGVARCHAR);
  dbpp_dropstmt(&ca, nullptr, kProg, &stmt);

  MustExec("create table p (id int primary key, price decimal(10,2), name varchar(20), stamp timestamp)");
  d = Describe("select top 3 id * 2, price + 1, upper(name), count(*), cast(id as varchar(5)), "
               "if id > 1 then name else 'none' endif, stamp, 'abc', ? from dba.p group by id, price, name, stamp",
               stmt);
  ASSERT_NE(d, nullptr) << Message(ca);
  ASSERT_EQ(d->sqld, 9);
  EXPECT_EQ(d->sqlvar[0].sqltype & DT_TYPES, DT_INT);
  EXPECT_EQ(d->sqlvar[1].sqltype & DT_TYPES, DT_DECIMAL);
  EXPECT_EQ(d->sqlvar[1].sqllen >> 8, 2);  // scale in the high byte
  EXPECT_EQ(d->sqlvar[2].sqltype & DT_TYPES, DT_VARCHAR);
  EXPECT_EQ(d->sqlvar[2].sqllen, 20);
  EXPECT_EQ(d->sqlvar[3].sqltype & DT_TYPES, DT_INT);
  EXPECT_EQ(d->sqlvar[4].sqllen, 5);
  EXPECT_EQ(d->sqlvar[5].sqltype & DT_TYPES, DT_VARCHAR);
  EXPECT_EQ(d->sqlvar[6].sqltype & DT_TYPES, DT_TIMESTAMP);
  EXPECT_EQ(d->sqlvar[7].sqltype & DT_TYPES, DT_VARCHAR);
  EXPECT_EQ(d->sqlvar[8].sqltype & DT_TYPES, DT_LONGVARCHAR);  // nothing known: never cut short
  dbpp_dropstmt(&ca, nullptr, kProg, &stmt);
}

TEST_F(CatalogE2E, DescribeInputGivesMarkerNamesAndComparedTypes) {
  MustExec("create table p (id int primary key, name varchar(20), price double)");
  short stmt = 0;
  SQLDA* d = Describe("update p set name = :new_name, price = ? where id = :id and :id2 < id", stmt, 2);
  ASSERT_NE(d, nullptr) << Message(ca);
  ASSERT_EQ(d->sqld, 4);
  EXPECT_EQ(std::string(d->sqlvar[0].sqlname.data, size_t(d->sqlvar[0].sqlname.length)), "new_name");
  EXPECT_EQ(d->sqlvar[0].sqltype & DT_TYPES, DT_VARCHAR);
  EXPECT_EQ(d->sqlvar[1].sqltype & DT_TYPES, DT_DOUBLE);
  EXPECT_EQ(std::string(d->sqlvar[2].sqlname.data, size_t(d->sqlvar[2].sqlname.length)), "id");
  EXPECT_EQ(d->sqlvar[2].sqltype & DT_TYPES, DT_INT);
  EXPECT_EQ(d->sqlvar[3].sqltype & DT_TYPES, DT_INT);
  dbpp_dropstmt(&ca, nullptr, kProg, &stmt);
  // the same name twice takes two values, one per marker
  MustExec("insert into p values (1, 'a', 1.5), (2, 'b', 2.5)");
  EXPECT_EQ(Query("select count(*) from p where id = :x or id = :x", {"1", "2"}), (Rows{{"2"}}));
}

TEST_F(CatalogE2E, DialectErrorsKeepTheVendorCodes) {
  EXPECT_EQ(Exec("select * from sys.no_such_table"), SQLE_TABLE_NOT_FOUND) << Message(ca);
  EXPECT_EQ(Exec("select no_such_column from dummy"), SQLE_COLUMN_NOT_FOUND) << Message(ca);
  EXPECT_EQ(Query("select 'a' + 'b' from dummy"), (Rows{{"ab"}}));
  // + between two character columns joins them; between numbers it adds
  MustExec("create table names (first char(10), last varchar(10), n integer)");
  MustExec("insert into names values ('ada', 'king', 40)");
  EXPECT_EQ(Query("select first + last, n + n, nm.first + nm.last from dba.names nm"), (Rows{{"adaking", "80", "adaking"}}));
  // a user's own table named like a catalog table is not hidden by the owner rule
  MustExec("create table items (sys integer)");
  MustExec("insert into items values (5)");
  EXPECT_EQ(Query("select items.sys from dba.items"), (Rows{{"5"}}));
}

TEST_F(CatalogE2E, ProceduresMadeThroughTheLibraryAreInTheCatalog) {
  MustExec("create procedure dba.p_add(in a integer, out b varchar(10), inout c decimal(8,3)) "
           "result (r1 integer) begin set b = 'x'; select a; end");
  MustExec("create function f_twice(x integer) returns integer begin return x * 2; end");
  const char* procs =
      "select null, null, user_name, user_name+'.'+proc_name, 1, 0, 0 from sys.sysprocedure, sys.sysuserperms "
      "where creator=user_id order by 3,4";
  // new databases carry the alert procedures too; ours come first in name order
  Rows all = Query(procs);
  ASSERT_GE(all.size(), 2u);
  EXPECT_EQ(all[0], (std::vector<std::string>{"<null>", "<null>", "DBA", "DBA.f_twice", "1", "0", "0"}));
  EXPECT_EQ(all[1], (std::vector<std::string>{"<null>", "<null>", "DBA", "DBA.p_add", "1", "0", "0"}));
  const char* spParams =
      "select parm_name, (if (parm_mode_in='Y' and parm_mode_out='N' and parm_type=0) then 1 else (if "
      "(parm_mode_in='Y' and parm_mode_out='Y' and parm_type=0) then 2 else (if (parm_mode_in='N' and "
      "parm_mode_out='Y' and parm_type=0) then 3 else (if (parm_mode_in='N' and parm_mode_out='Y' and parm_type=4) "
      "then 4 else 0 endif) endif) endif) endif) as parm_type, domain_id as data_type from sys.sysprocedure pr, "
      "sys.sysprocparm pp, sys.sysuserperms up where pr.proc_id=pp.proc_id and creator=user_id and "
      "proc_name=:proc_name and user_name='DBA' order by pp.proc_id, parm_id";
  EXPECT_EQ(Query(spParams, {"p_add"}), (Rows{{"a", "1", "2"}, {"b", "3", "9"}, {"c", "2", "27"}, {"r1", "0", "2"}}));
  Rows f = Query(spParams, {"f_twice"});
  ASSERT_EQ(f.size(), 2u);
  EXPECT_EQ(f[0][1], "4");  // the return value comes first
  EXPECT_EQ(f[1][0], "x");
  Rows defn = Query("select proc_defn from sys.sysprocedure, sys.sysuserperms where creator=user_id and "
                    "proc_name=:proc_name",
                    {"f_twice"});
  ASSERT_EQ(defn.size(), 1u);
  EXPECT_NE(defn[0][0].find("return x * 2"), std::string::npos);
  EXPECT_EQ(Query("select user_name from sys.sysprocedure, sys.sysuserperms where creator=user_id and "
                  "proc_name='p_add'"),
            (Rows{{"DBA"}}));
  MustExec("drop procedure p_add");
  EXPECT_TRUE(Query(spParams, {"p_add"}).empty());
  EXPECT_EQ(Query(procs).size(), all.size() - 1);
}

}  // namespace

TEST_F(CatalogE2E, BinaryColumnsAndCastsKeepTheirBytes) {
  MustExec("create table bin (id int, lb long binary, vb varbinary(10), b binary(4), img image)");
  MustExec("alter table bin add column extra binary varying(8)");
  // texts that look like numbers stay bytes; a cast to a binary type is a cast to bytes
  MustExec("insert into bin values (1, '000000', cast('xyz' as varbinary(10)), '0012', '1e5', '007')");
  EXPECT_EQ(Query("select hex(lb), typeof(vb), hex(vb), hex(b), hex(img), hex(extra) from bin"),
            (Rows{{"303030303030", "blob", "78797A", "30303132", "316535", "303037"}}));
  EXPECT_EQ(Query("select hex(cast('42' as long binary)), cast(cast('12' as binary(4)) as varchar(10))"),
            (Rows{{"3432", "12"}}));
  // the catalog still sees the types as written
  Rows cols = Query(Format(kColumns, "bin"));
  ASSERT_EQ(cols.size(), 6u);
  EXPECT_EQ(cols[1][8], "long binary");
  EXPECT_EQ(cols[2][8], "varbinary");
  EXPECT_EQ(cols[2][10], "10");
  EXPECT_EQ(cols[3][8], "binary");
  EXPECT_EQ(cols[3][10], "4");
  EXPECT_EQ(cols[4][8], "long binary");
  // a table or column merely named like a type is left alone
  MustExec("create table image (binary int)");
  MustExec("insert into image values ('12')");
  EXPECT_EQ(Query("select typeof(binary) from image"), (Rows{{"integer"}}));
}
