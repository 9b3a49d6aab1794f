// Type names to DESCRIBE types and domains, and the types inferred for expressions.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "dblib/esql.h"
#include "dblib/sql/TypeMap.h"

using dbl::InferExpressionType;
using dbl::MapDeclaredType;
using dbl::TypeInfo;

namespace {

struct Row {
  const char* decl;
  short sqltype;
  int sqllen;
  int domain;
};

TEST(TypeMapDeclared, VendorTypeNamesGiveTheDescribeTypes) {
  const Row rows[] = {
      {"char(10)", DT_FIXCHAR, 10, 7},
      {"CHARACTER(3)", DT_FIXCHAR, 3, 7},
      {"char", DT_FIXCHAR, 1, 7},
      {"varchar(30)", DT_VARCHAR, 30, 9},
      {"character varying(200)", DT_VARCHAR, 200, 9},
      {"varchar(40000)", DT_LONGVARCHAR, 32767, 9},
      {"long varchar", DT_LONGVARCHAR, 32767, 10},
      {"text", DT_LONGVARCHAR, 32767, 10},
      {"binary(16)", DT_BINARY, 16, 11},
      {"varbinary(8)", DT_BINARY, 8, 28},
      {"long binary", DT_LONGBINARY, 32767, 12},
      {"blob", DT_LONGBINARY, 32767, 12},
      {"integer", DT_INT, 4, 2},
      {"int", DT_INT, 4, 2},
      {"smallint", DT_SMALLINT, 2, 1},
      {"tinyint", DT_TINYINT, 1, 19},
      {"bigint", DT_BIGINT, 8, 20},
      {"unsigned int", DT_UNSINT, 4, 21},
      {"UNSIGNED INTEGER", DT_UNSINT, 4, 21},
      {"unsigned smallint", DT_UNSSMALLINT, 2, 22},
      {"unsigned bigint", DT_UNSBIGINT, 8, 23},
      {"bit", DT_BIT, 1, 24},
      {"double", DT_DOUBLE, 8, 5},
      {"double precision", DT_DOUBLE, 8, 5},
      {"float", DT_FLOAT, 4, 4},
      {"float(20)", DT_FLOAT, 4, 4},
      {"float(53)", DT_DOUBLE, 8, 5},
      {"real", DT_FLOAT, 4, 4},
      {"decimal(10,2)", DT_DECIMAL, 2 * 256 + 10, 27},
      {"numeric(5)", DT_DECIMAL, 5, 3},
      {"numeric", DT_DECIMAL, 6 * 256 + 30, 3},
      {"money", DT_DECIMAL, 4 * 256 + 19, 3},
      {"date", DT_DATE, 10, 6},
      {"time", DT_TIME, 15, 14},
      {"timestamp", DT_TIMESTAMP, 26, 13},
      {"datetime", DT_TIMESTAMP, 26, 13},
      {"uniqueidentifierstr", DT_FIXCHAR, 36, 29},
  };
  for (const Row& r : rows) {
    TypeInfo t = MapDeclaredType(r.decl);
    EXPECT_EQ(t.sqltype, r.sqltype) << r.decl;
    EXPECT_EQ(t.sqllen, r.sqllen) << r.decl;
    EXPECT_EQ(t.domainId, r.domain) << r.decl;
    ASSERT_NE(dbl::DomainName(t.domainId), nullptr) << r.decl;
  }
  TypeInfo d = MapDeclaredType("decimal(10,2)");
  EXPECT_EQ(d.precision, 10);
  EXPECT_EQ(d.scale, 2);
  EXPECT_EQ(d.width, 10);
  EXPECT_EQ(MapDeclaredType("varchar(30)").width, 30);
  EXPECT_EQ(MapDeclaredType("integer").width, 4);
}

TEST(TypeMapDeclared, UnknownAndMalformedTextsAreNotGuessed) {
  EXPECT_FALSE(MapDeclaredType("").Known());
  EXPECT_FALSE(MapDeclaredType("geometry").Known());
  EXPECT_FALSE(MapDeclaredType("((").Known());
  // absurd sizes are bounded, never negative or wrapped
  TypeInfo big = MapDeclaredType("decimal(999999999999,5)");
  EXPECT_EQ(big.sqltype, DT_DECIMAL);
  EXPECT_LE(big.precision, 127);
  EXPECT_EQ(MapDeclaredType("varchar(99999999999)").sqltype, DT_LONGVARCHAR);
  EXPECT_EQ(MapDeclaredType("char(0)").sqllen, 1);
  EXPECT_EQ(dbl::LongVarcharType().sqltype, DT_LONGVARCHAR);
}

TEST(TypeMapDomains, TableMatchesTheCatalogIdsAndFormats) {
  std::map<int, std::string> expected = {{1, "smallint"},  {2, "integer"},      {3, "numeric"},  {4, "float"},
                                         {5, "double"},    {6, "date"},         {7, "char"},     {9, "varchar"},
                                         {10, "long varchar"}, {11, "binary"},  {12, "long binary"},
                                         {13, "timestamp"}, {14, "time"},       {19, "tinyint"}, {20, "bigint"},
                                         {21, "unsigned int"}, {22, "unsigned smallint"},
                                         {23, "unsigned bigint"}, {24, "bit"},  {27, "decimal"}, {28, "varbinary"}};
  for (auto& [id, name] : expected) EXPECT_EQ(dbl::DomainName(id), name) << id;
  EXPECT_EQ(dbl::DomainName(15), nullptr);
  int last = 0;
  for (const auto& d : dbl::Domains()) {
    EXPECT_GT(d.id, last);  // id order, no duplicates
    last = d.id;
  }
  EXPECT_EQ(dbl::DomainTypeText(3, 10, 2), "numeric(10,2)");
  EXPECT_EQ(dbl::DomainTypeText(9, 30, 0), "varchar(30)");
  EXPECT_EQ(dbl::DomainTypeText(2, 4, 0), "integer");
  // every domain's own name maps back to that domain (7 and 8 are both char)
  for (const auto& d : dbl::Domains()) {
    if (d.id == 8 || d.id == 25 || d.id == 26) continue;
    TypeInfo t = MapDeclaredType(d.name);
    EXPECT_EQ(t.domainId, d.id) << d.name;
  }
}

// Columns a(int), b(varchar(20)), c(decimal(10,2)), d(double), n(char(5)) of table t.
class FakeColumns : public dbl::ColumnResolver {
 public:
  TypeInfo Column(std::string_view q, std::string_view c) override {
    if (!q.empty() && q != "t") return {};
    if (c == "a") return MapDeclaredType("integer");
    if (c == "b") return MapDeclaredType("varchar(20)");
    if (c == "c") return MapDeclaredType("decimal(10,2)");
    if (c == "d") return MapDeclaredType("double");
    if (c == "n") return MapDeclaredType("char(5)");
    if (c == "big") return MapDeclaredType("bigint");
    return {};
  }
  TypeInfo Variable(std::string_view name) override {
    return name == "v" ? MapDeclaredType("long binary") : TypeInfo{};
  }
};

TypeInfo Infer(const char* e) {
  FakeColumns cols;
  return InferExpressionType(e, cols);
}

TEST(TypeMapInfer, LiteralsCastsAndColumns) {
  EXPECT_EQ(Infer("42").sqltype, DT_INT);
  EXPECT_EQ(Infer("-42").sqltype, DT_INT);
  EXPECT_EQ(Infer("5000000000").sqltype, DT_BIGINT);
  TypeInfo dec = Infer("12.345");
  EXPECT_EQ(dec.sqltype, DT_DECIMAL);
  EXPECT_EQ(dec.precision, 5);
  EXPECT_EQ(dec.scale, 3);
  EXPECT_EQ(Infer("1e3").sqltype, DT_DOUBLE);
  TypeInfo s = Infer("'it''s'");
  EXPECT_EQ(s.sqltype, DT_VARCHAR);
  EXPECT_EQ(s.sqllen, 4);
  EXPECT_EQ(Infer("cast(b as integer)").sqltype, DT_INT);
  EXPECT_EQ(Infer("CAST(a AS varchar(7))").sqllen, 7);
  EXPECT_EQ(Infer("t.b").sqltype, DT_VARCHAR);
  EXPECT_EQ(Infer("t.b as name").sqllen, 20);
  EXPECT_EQ(Infer("(n) x").sqltype, DT_FIXCHAR);
  EXPECT_EQ(Infer("zyl_getvar('v')").sqltype, DT_LONGBINARY);
}

TEST(TypeMapInfer, AggregatesArithmeticAndFunctions) {
  EXPECT_EQ(Infer("count(*)").sqltype, DT_INT);
  EXPECT_EQ(Infer("sum(a)").sqltype, DT_BIGINT);
  EXPECT_EQ(Infer("sum(d)").sqltype, DT_DOUBLE);
  EXPECT_EQ(Infer("sum(c)").sqltype, DT_DECIMAL);
  EXPECT_EQ(Infer("avg(a)").sqltype, DT_DOUBLE);
  EXPECT_EQ(Infer("max(b)").sqltype, DT_VARCHAR);
  EXPECT_EQ(Infer("min(c)").scale, 2);
  EXPECT_EQ(Infer("a + 1").sqltype, DT_INT);
  EXPECT_EQ(Infer("a * big").sqltype, DT_BIGINT);
  EXPECT_EQ(Infer("a * d").sqltype, DT_DOUBLE);
  TypeInfo sum = Infer("c + a");
  EXPECT_EQ(sum.sqltype, DT_DECIMAL);
  EXPECT_EQ(sum.scale, 2);
  EXPECT_GE(sum.precision, 11);
  EXPECT_EQ(Infer("-(a + 2) * 3").sqltype, DT_INT);
  EXPECT_EQ(Infer("b || 'x'").sqltype, DT_LONGVARCHAR);
  EXPECT_EQ(Infer("upper(b)").sqllen, 20);
  EXPECT_EQ(Infer("length(b)").sqltype, DT_INT);
  EXPECT_EQ(Infer("coalesce(null, a)").sqltype, DT_INT);
  EXPECT_EQ(Infer("a = 1").sqltype, DT_INT);
  EXPECT_EQ(Infer("a between 1 and 2").sqltype, DT_INT);
}

TEST(TypeMapInfer, CaseBranchesAreUnified) {
  EXPECT_EQ(Infer("CASE WHEN a=1 THEN 1 ELSE 2 END as k").sqltype, DT_INT);
  TypeInfo w = Infer("CASE WHEN a=1 THEN 'ab' ELSE 'abcd' END");
  EXPECT_EQ(w.sqltype, DT_VARCHAR);
  EXPECT_EQ(w.sqllen, 4);
  EXPECT_EQ(Infer("CASE WHEN a=1 THEN null ELSE d END").sqltype, DT_DOUBLE);
  // nested CASE inside a branch
  EXPECT_EQ(Infer("(CASE WHEN t='B' then 1 else (CASE WHEN t='V' then 2 else 1 END) END) as tab_type").sqltype, DT_INT);
  // a number and a string: text holds both
  EXPECT_EQ(Infer("CASE WHEN a=1 THEN 1 ELSE 'x' END").sqltype, DT_LONGVARCHAR);
}

TEST(TypeMapInfer, NothingKnownStaysUnknown) {
  EXPECT_FALSE(Infer("unknown_col").Known());
  EXPECT_FALSE(Infer("no_such_function(a)").Known());
  EXPECT_FALSE(Infer("(select a from t)").Known());
  EXPECT_FALSE(Infer("?").Known());
  EXPECT_FALSE(Infer("").Known());
  EXPECT_FALSE(Infer("((((").Known());
}

}  // namespace
