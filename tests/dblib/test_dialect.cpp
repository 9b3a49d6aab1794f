// Translation of the clients' SQL into SQLite's, statement kinds and SELECT shapes. Where a
// translation changes meaning, the translated text is also run on SQLite to check the result.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>

#include "dblib/sql/Dialect.h"

using dbl::AnalyzeSelect;
using dbl::Classify;
using dbl::DialectContext;
using dbl::StatementKind;
using dbl::TranslateSql;

namespace {

std::string T(const std::string& sql, const DialectContext& ctx = {}) { return TranslateSql(sql, ctx); }

// Runs a one-value SELECT on an in-memory SQLite database and returns the value as text.
class Sqlite {
 public:
  Sqlite() { sqlite3_open(":memory:", &db_); }
  ~Sqlite() { sqlite3_close(db_); }
  void Exec(const std::string& sql) {
    char* err = nullptr;
    ASSERT_EQ(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err), SQLITE_OK) << sql << ": " << (err ? err : "");
  }
  std::string Value(const std::string& sql) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) return "prepare failed: " + sql;
    std::string out = "<no row>";
    if (sqlite3_step(st) == SQLITE_ROW) {
      const unsigned char* t = sqlite3_column_text(st, 0);
      out = t ? reinterpret_cast<const char*>(t) : "<null>";
    }
    sqlite3_finalize(st);
    return out;
  }

 private:
  sqlite3* db_ = nullptr;
};

TEST(DialectIf, ExpressionBecomesCaseAndKeepsNesting) {
  EXPECT_EQ(T("select if a=1 then 'x' else 'y' endif from t"), "select CASE WHEN a=1 then 'x' else 'y' END from t");
  std::string nested =
      "select (if t='BASE' then 1 else (if t='VIEW' then 2 else 1 endif) endif) as k from s";
  EXPECT_EQ(T(nested), "select (CASE WHEN t='BASE' then 1 else (CASE WHEN t='VIEW' then 2 else 1 END) END) as k from s");
  Sqlite db;
  db.Exec("create table s(t text)");
  db.Exec("insert into s values('VIEW')");
  EXPECT_EQ(db.Value(T(nested)), "2");
  // IF without ENDIF is not an expression and stays
  EXPECT_EQ(T("drop table if exists t"), "drop table if exists t");
  // NULL condition: the ELSE branch, and without ELSE NULL (as the vendor documents)
  EXPECT_EQ(db.Value(T("select if null then 1 else 2 endif")), "2");
  EXPECT_EQ(db.Value(T("select if 1=0 then 1 endif")), "<null>");
}

TEST(DialectPlus, JoinsStringsOnlyWhereTheOperandsAreCharacter) {
  EXPECT_EQ(T("select user_name+'.'+table_name from x"), "select user_name||'.'||table_name from x");
  // numbers stay numbers
  EXPECT_EQ(T("select a + 1, b+c from x"), "select a + 1, b+c from x");
  // a mixed chain with '-' is arithmetic
  EXPECT_EQ(T("select a - 'x' + b from x"), "select a - 'x' + b from x");
  // operands of higher precedence are kept whole by parentheses
  Sqlite db;
  EXPECT_EQ(T("select 2*3 + 'x'"), "select (2*3) || 'x'");
  EXPECT_EQ(db.Value(T("select 2*3 + 'x'")), "6x");
  EXPECT_EQ(db.Value(T("select 'a' + 'b' + 'c'")), "abc");
  // the chain ends at a comparison: only the left side is joined
  EXPECT_EQ(db.Value(T("select if 'a'+'b' = 'ab' then 1 else 0 endif")), "1");
  // inside function arguments too
  EXPECT_EQ(db.Value(T("select upper('a' + 'b')")), "AB");
  // two character columns: only when the context says both are character
  DialectContext ctx;
  ctx.isCharColumn = [](std::string_view table, std::string_view col) { return col == "first" || col == "last"; };
  EXPECT_EQ(T("select first + last, first + n from p", ctx), "select first || last, first + n from p");
  EXPECT_EQ(T("select p.first + p.last from p", ctx), "select p.first || p.last from p");
  // string functions count as character operands
  EXPECT_EQ(T("select trim(a) + upper(b) from p"), "select trim(a) || upper(b) from p");
}

TEST(DialectOwners, OwnerQualifiersOfUsersAreRemoved) {
  EXPECT_EQ(T("select * from dba.customer"), "select * from customer");
  EXPECT_EQ(T("select * from \"DBA\".\"customer\" c"), "select * from \"customer\" c");
  EXPECT_EQ(T("select sys.systable.table_id from sys.systable"), "select systable.table_id from systable");
  // correlation names are not owners, even when they are spelled like one
  EXPECT_EQ(T("select st.table_id from sys.systable st"), "select st.table_id from systable st");
  EXPECT_EQ(T("select dba.x from t dba"), "select dba.x from t dba");
  // a user the context does not know stays (it may be an attached schema)
  DialectContext ctx;
  ctx.isUser = [](std::string_view n) { return dbl::SameIdent(n, "fred"); };
  EXPECT_EQ(T("select * from fred.orders, other.t", ctx), "select * from orders, other.t");
  // a table that has a user's name keeps its column references
  ctx.isTable = [](std::string_view n) { return dbl::SameIdent(n, "fred"); };
  EXPECT_EQ(T("select fred.id from fred", ctx), "select fred.id from fred");
  // the main schema is never stripped
  EXPECT_EQ(T("select * from main.t", ctx), "select * from main.t");
}

TEST(DialectText, QuotedTextAndCommentsAreLeftAlone) {
  std::string sql = "select 'dba.customer + if x endif :v', \"a+b\" -- dba.t + 'x'\n from t /* if endif */";
  EXPECT_EQ(T(sql), sql);
  // an unterminated quote does not make the translation run off the end
  EXPECT_EQ(T("select 'abc"), "select 'abc");
  EXPECT_EQ(T(""), "");
}

TEST(DialectMarkers, NamedMarkersBecomePositionalInOrder) {
  EXPECT_EQ(T("select * from t where a=:a or b=:a or c=?"), "select * from t where a=? or b=? or c=?");
  auto names = dbl::MarkerNames("set v = v || :blob_host, ':no' ? :x2");
  ASSERT_EQ(names.size(), 3u);
  EXPECT_EQ(names[0], "blob_host");
  EXPECT_EQ(names[1], "");
  EXPECT_EQ(names[2], "x2");
  // time literals and casts with a colon are no markers
  EXPECT_EQ(T("select '10:30', a::int"), "select '10:30', a::int");
}

TEST(DialectTop, TopBecomesLimitAtTheEndOfItsSelect) {
  EXPECT_EQ(T("select top 10 * from t order by a"), "select * from t order by a LIMIT 10");
  EXPECT_EQ(T("select distinct top 5 start at 3 a from t"), "select distinct a from t LIMIT 5 OFFSET 2");
  EXPECT_EQ(T("select a from t where a in (select top 1 b from u order by b) order by a"),
            "select a from t where a in (select b from u order by b LIMIT 1) order by a");
  Sqlite db;
  db.Exec("create table t(a int)");
  db.Exec("insert into t values(1),(2),(3),(4),(5)");
  EXPECT_EQ(db.Value(T("select top 1 start at 4 a from t order by a")), "4");
  // a statement that already limits itself is left as it is
  EXPECT_EQ(T("select top 2 a from t limit 1"), "select top 2 a from t limit 1");
}

TEST(DialectClauses, CursorClausesAndCurrentValues) {
  EXPECT_EQ(T("select a from t for update"), "select a from t ");
  EXPECT_EQ(T("select a from t for read only;"), "select a from t ;");
  EXPECT_EQ(T("select a from t where b = 1 for update by lock"), "select a from t where b = 1 ");
  Sqlite db;
  std::string ts = db.Value(T("select current timestamp"));
  ASSERT_EQ(ts.size(), 23u) << ts;  // YYYY-MM-DD HH:MM:SS.SSS
  EXPECT_EQ(ts[10], ' ');
  EXPECT_EQ(db.Value(T("select current date")).size(), 10u);
  EXPECT_EQ(db.Value(T("select length(current time)")), "8");
  db.Exec(T("create table s(id int, stamp timestamp default current timestamp)"));
  db.Exec("insert into s(id) values(1)");
  EXPECT_EQ(db.Value("select length(stamp) from s"), "23");
}

TEST(DialectDdl, AutoincrementUsesSqlitesKeyCounter) {
  std::string t1 = T("create table c (id integer not null default autoincrement, name char(20), primary key (id))");
  EXPECT_EQ(t1, "create table c (id integer not null , name char(20), primary key (id))");
  std::string t2 = T("create table c (id int default autoincrement primary key, name varchar(20))");
  EXPECT_EQ(t2, "create table c (id INTEGER  primary key, name varchar(20))");
  Sqlite db;
  db.Exec(t2);
  db.Exec("insert into c(name) values('a')");
  db.Exec("insert into c(name) values('b')");
  EXPECT_EQ(db.Value("select max(id) from c"), "2");
  // SQL Anywhere type names reach SQLite as written (binary ones behind their affinity word)
  std::string ddl = "create table x (a long varchar, b unsigned int, c decimal(10,2), d long binary, e bit)";
  EXPECT_EQ(T(ddl), "create table x (a long varchar, b unsigned int, c decimal(10,2), d BLOB long binary, e bit)");
  db.Exec(ddl);
}

TEST(DialectClassify, KindsOfStatements) {
  EXPECT_EQ(Classify("  (select 1)"), StatementKind::Select);
  EXPECT_EQ(Classify("with x as (select 1) select * from x"), StatementKind::Select);
  EXPECT_EQ(Classify("insert into t values(1)"), StatementKind::Insert);
  EXPECT_EQ(Classify("UPDATE t set a=1"), StatementKind::Update);
  EXPECT_EQ(Classify("delete from t"), StatementKind::Delete);
  EXPECT_EQ(Classify("create global temporary table t(a int)"), StatementKind::CreateTable);
  EXPECT_EQ(Classify("create unique index i on t(a)"), StatementKind::CreateIndex);
  EXPECT_EQ(Classify("drop view v"), StatementKind::DropView);
  EXPECT_EQ(Classify("create or replace procedure p() begin end"), StatementKind::CreateProcedure);
  EXPECT_EQ(Classify("drop function f"), StatementKind::DropProcedure);
  EXPECT_EQ(Classify("?=call dba.p(?)"), StatementKind::Call);
  EXPECT_EQ(Classify(":r = call p(:a)"), StatementKind::Call);
  EXPECT_EQ(Classify("create variable v long binary"), StatementKind::CreateVariable);
  EXPECT_EQ(Classify("set temporary option row_counts = 'On'"), StatementKind::SetOption);
  EXPECT_EQ(Classify("set v = 1"), StatementKind::Set);
  EXPECT_EQ(Classify("grant connect to u identified by p"), StatementKind::Grant);
  EXPECT_EQ(Classify("CREATE DATABASE 'x.db'"), StatementKind::CreateDatabase);
  EXPECT_EQ(Classify("-- comment\n commit work"), StatementKind::Commit);
  EXPECT_EQ(Classify(""), StatementKind::Other);
  EXPECT_TRUE(dbl::DefinesObjects(StatementKind::AlterTable));
  EXPECT_FALSE(dbl::DefinesObjects(StatementKind::Insert));
}

TEST(DialectShape, SingleTableSelectsAndTheirRowid) {
  std::string table;
  EXPECT_TRUE(dbl::SingleTableSelect("select a, b from customer c where a > 1 order by b", table));
  EXPECT_EQ(table, "customer");
  EXPECT_FALSE(dbl::SingleTableSelect("select a from t, u", table));
  EXPECT_FALSE(dbl::SingleTableSelect("select a from t join u on t.a = u.a", table));
  EXPECT_FALSE(dbl::SingleTableSelect("select distinct a from t", table));
  EXPECT_FALSE(dbl::SingleTableSelect("select count(*) from t", table));
  EXPECT_FALSE(dbl::SingleTableSelect("select a from t group by a", table));
  EXPECT_FALSE(dbl::SingleTableSelect("select a from t union select b from u", table));
  EXPECT_FALSE(dbl::SingleTableSelect("select a from (select a from t) x", table));
  EXPECT_FALSE(dbl::SingleTableSelect("insert into t values(1)", table));
  // subqueries in the WHERE clause do not make a join
  EXPECT_TRUE(dbl::SingleTableSelect("select a from t where a in (select b from u, v)", table));

  auto shape = AnalyzeSelect("select a, f(b, c) as x, 'p,q' from t as q, u");
  ASSERT_EQ(shape.itemTexts.size(), 3u);
  EXPECT_EQ(shape.itemTexts[1], "f(b, c) as x");
  ASSERT_EQ(shape.from.size(), 2u);
  EXPECT_EQ(shape.from[0].alias, "q");
  EXPECT_EQ(shape.from[1].name, "u");

  std::string with = dbl::WithRowidColumn("select * from customer c where id = ?", "zyl_rowid");
  EXPECT_EQ(with, "select *, \"c\".rowid AS zyl_rowid from customer c where id = ?");
  EXPECT_EQ(dbl::WithRowidColumn("select a from t, u", "r"), "");
  Sqlite db;
  db.Exec("create table customer(id int, name text)");
  db.Exec("insert into customer values(7, 'x')");
  EXPECT_EQ(db.Value("select zyl_rowid from (" + dbl::WithRowidColumn("select name from customer", "zyl_rowid") + ")"),
            "1");
}

// Whatever bytes arrive, the translation and the shape analysis return without reading past
// the text (run under the sanitizers) and never lose text outside what they rewrite.
TEST(DialectRobustness, ArbitraryTextNeverBreaksTheScanner) {
  const char* pieces[] = {"select", " ", "top", "10", "if", "then", "else", "endif", "'", "\"", "[", "]", "(", ")",
                          "+", "-", "||", ":", "?", ".", ",", ";", "dba", "sys", "from", "for", "update", "case",
                          "end", "/*", "*/", "--", "\n", "default", "autoincrement", "primary", "key", "current",
                          "timestamp", "start", "at", "x'00'", "\x80", "join", "on", "create", "table"};
  unsigned seed = 12345;
  auto next = [&]() { return seed = seed * 1103515245u + 12345u; };
  for (int round = 0; round < 3000; ++round) {
    std::string sql;
    int n = int(next() % 24);
    for (int i = 0; i < n; ++i) sql += pieces[next() % (sizeof pieces / sizeof *pieces)];
    if (round % 7 == 0) sql += std::string(1, char(next() % 256));
    std::string out = T(sql);
    // text inside the first quote that is never closed survives untouched
    auto shape = AnalyzeSelect(out);
    for (auto [b, e] : shape.items) ASSERT_LE(b, e);
    std::string table;
    dbl::SingleTableSelect(out, table);
    dbl::WithRowidColumn(out, "r");
    dbl::MarkerNames(sql);
    Classify(sql);
  }
  std::string nul("select 'a\0b' + 'c' from t", 26);
  EXPECT_EQ(T(nul), std::string("select 'a\0b' || 'c' from t", 27));  // embedded NUL kept
}

}  // namespace

TEST(DialectBinary, BinaryColumnTypesGetByteAffinityAndCastsBecomeBlob) {
  EXPECT_EQ(T("create table t (a long binary, b varbinary(10) not null, c int)"),
            "create table t (a BLOB long binary, b BLOB varbinary(10) not null, c int)");
  EXPECT_EQ(T("alter table t add column d binary(4)"), "alter table t add column d BLOB binary(4)");
  EXPECT_EQ(T("select cast(x as varbinary(10)), cast((y) as long binary) from t"),
            "select cast(x as BLOB), cast((y) as BLOB) from t");
  EXPECT_EQ(T("select cast(x as varchar(10)) from t"), "select cast(x as varchar(10)) from t");
  EXPECT_EQ(T("insert into t values ('long binary')"), "insert into t values ('long binary')");
}
