// Positioned changes through a cursor (UPDATE / DELETE WHERE CURRENT, PUT with the stored row
// delivered back) and long values read piece by piece, through the C entry points.
#include <string>
#include <vector>

#include "tests/dblib/DblibHarness.h"

using zyltest::DblibTest;
using zyltest::Message;

namespace {

char kProg[] = "ZYL";

class ChangesTest : public DblibTest {
 protected:
  void SetUp() override {
    DblibTest::SetUp();
    ConnectFile(CreateDb("chg"), "chgeng");
    MustExec("CREATE TABLE p(id INTEGER PRIMARY KEY, name VARCHAR(30), qty INTEGER DEFAULT 7, data LONG BINARY)");
    for (int i = 1; i <= 5; ++i)
      MustExec("INSERT INTO p(id, name) VALUES (" + std::to_string(i) + ", 'n" + std::to_string(i) + "')");
    MustExec("COMMIT");
  }
  void TearDown() override {
    if (open) dbpp_close(&ca, cur.data());
    for (SQLDA* d : das) free_sqlda(d);
    DblibTest::TearDown();
  }

  int Open(const std::string& sql, unsigned options) {
    std::string text = sql;
    dbpp_prepare(&ca, nullptr, kProg, &stmt, text.data(), nullptr, 0);
    if (ca.sqlcode < 0) return ca.sqlcode;
    dbpp_declare(&ca, cur.data(), nullptr, kProg, &stmt, options);
    dbpp_open(&ca, cur.data(), nullptr, kProg, &stmt, nullptr, 0, 0, options);
    open = ca.sqlcode >= 0;
    return ca.sqlcode;
  }
  SQLDA* Alloc(int n) {
    SQLDA* d = alloc_sqlda(static_cast<unsigned>(n));
    d->sqld = static_cast<short>(n);
    das.push_back(d);
    return d;
  }
  int Next() {
    dbpp_fetch(&ca, cur.data(), FETCH_RELATIVE, 1, nullptr, 0, 0);
    return ca.sqlcode;
  }

  std::string cur = "ZYL-7";
  short stmt = 0;
  bool open = false;
  std::vector<SQLDA*> das;
};

TEST_F(ChangesTest, UpdateSendsOnlyTheVariablesThatCarryTypeAndData) {
  ASSERT_EQ(Open("SELECT id, name, qty FROM p ORDER BY id", CUR_FOR_UPDATE), 0) << Message(ca);
  ASSERT_EQ(Next(), 0);
  SQLDA* v = Alloc(3);  // variables 0 and 2 stay as allocated: no type, no data
  char name[] = "renamed";
  v->sqlvar[1].sqltype = DT_STRING;
  v->sqlvar[1].sqllen = sizeof name;
  v->sqlvar[1].sqldata = name;
  dbpp_update(&ca, cur.data(), v);
  ASSERT_EQ(ca.sqlcode, 0) << Message(ca);
  EXPECT_EQ(ca.sqlerrd[2], 1);
  EXPECT_EQ(Query("SELECT name || '/' || qty FROM p WHERE id = 1"), "renamed/7");
  // A NULL goes by the indicator alone.
  SQLDA* n = Alloc(3);
  *n->sqlvar[2].sqlind = -1;
  dbpp_update(&ca, cur.data(), n);
  ASSERT_EQ(ca.sqlcode, 0) << Message(ca);
  EXPECT_EQ(Query("SELECT qty FROM p WHERE id = 1"), "<null>");
  EXPECT_EQ(Query("SELECT count(*) FROM p WHERE qty IS NULL"), "1");  // only the current row
}

TEST_F(ChangesTest, ChangedIntegerKeyKeepsTheCursorOnItsRow) {
  ASSERT_EQ(Open("SELECT id, name FROM p ORDER BY id", CUR_FOR_UPDATE), 0);
  ASSERT_EQ(Next(), 0);
  ASSERT_EQ(Next(), 0);  // id 2
  SQLDA* v = Alloc(2);
  int id = 200;
  v->sqlvar[0].sqltype = DT_INT;
  v->sqlvar[0].sqldata = &id;
  dbpp_update(&ca, cur.data(), v);
  ASSERT_EQ(ca.sqlcode, 0) << Message(ca);
  // The row is found again under its new key: re-read, change again, delete.
  SQLDA* r = Alloc(2);
  int rid = 0;
  char nm[31];
  r->sqlvar[0].sqltype = DT_INT;
  r->sqlvar[0].sqldata = &rid;
  r->sqlvar[1].sqltype = DT_STRING | 1;
  r->sqlvar[1].sqllen = sizeof nm;
  r->sqlvar[1].sqldata = nm;
  dbpp_fetch(&ca, cur.data(), FETCH_RELATIVE, 0, r, 0, 0);
  ASSERT_EQ(ca.sqlcode, 0) << Message(ca);
  EXPECT_EQ(rid, 200);
  EXPECT_STREQ(nm, "n2");
  char again[] = "moved";
  SQLDA* w = Alloc(2);
  w->sqlvar[1].sqltype = DT_STRING;
  w->sqlvar[1].sqllen = sizeof again;
  w->sqlvar[1].sqldata = again;
  dbpp_update(&ca, cur.data(), w);
  ASSERT_EQ(ca.sqlcode, 0) << Message(ca);
  EXPECT_EQ(ca.sqlerrd[2], 1);
  EXPECT_EQ(Query("SELECT name FROM p WHERE id = 200"), "moved");
}

TEST_F(ChangesTest, UpdateTakesAConnectionVariableByName) {
  MustExec("CREATE VARIABLE newname VARCHAR(30)");
  MustExec("SET newname = 'from variable'");
  ASSERT_EQ(Open("SELECT id, name FROM p ORDER BY id", CUR_FOR_UPDATE), 0);
  ASSERT_EQ(Next(), 0);
  ASSERT_EQ(Next(), 0);
  SQLDA* v = Alloc(2);
  char var[] = "newname";
  v->sqlvar[1].sqltype = DT_VARIABLE;
  v->sqlvar[1].sqllen = sizeof var;
  v->sqlvar[1].sqldata = var;
  dbpp_update(&ca, cur.data(), v);
  ASSERT_EQ(ca.sqlcode, 0) << Message(ca);
  EXPECT_EQ(Query("SELECT name FROM p WHERE id = 2"), "from variable");
  char missing[] = "nosuchvar";
  v->sqlvar[1].sqldata = missing;
  dbpp_update(&ca, cur.data(), v);
  EXPECT_EQ(ca.sqlcode, SQLE_VARIABLE_NOT_FOUND);
}

TEST_F(ChangesTest, DeleteRemovesTheCurrentRowAndNextDeliversTheFollowingOne) {
  ASSERT_EQ(Open("SELECT id FROM p ORDER BY id", CUR_FOR_UPDATE), 0);
  ASSERT_EQ(Next(), 0);
  ASSERT_EQ(Next(), 0);  // row 2
  dbpp_delete(&ca, cur.data(), nullptr, nullptr);
  ASSERT_EQ(ca.sqlcode, 0) << Message(ca);
  EXPECT_EQ(Query("SELECT count(*) FROM p WHERE id = 2"), "0");
  SQLDA* d = Alloc(1);
  int id = 0;
  d->sqlvar[0].sqltype = DT_INT;
  d->sqlvar[0].sqldata = &id;
  dbpp_fetch(&ca, cur.data(), FETCH_RELATIVE, 1, d, 0, 0);
  ASSERT_EQ(ca.sqlcode, 0);
  EXPECT_EQ(id, 3);
  dbpp_fetch(&ca, cur.data(), FETCH_ABSOLUTE, 2, d, 0, 0);
  EXPECT_EQ(id, 3);  // the deleted row left the numbering
  dbpp_fetch(&ca, cur.data(), FETCH_ABSOLUTE, -1, d, 0, 0);
  EXPECT_EQ(id, 5);
  dbpp_fetch(&ca, cur.data(), FETCH_ABSOLUTE, 5, d, 0, 0);
  EXPECT_EQ(ca.sqlcode, SQLE_NOTFOUND);
}

TEST_F(ChangesTest, PutDeliversTheStoredRowWithItsDefaults) {
  ASSERT_EQ(Open("SELECT id, name, qty FROM p", CUR_FOR_UPDATE), 0);
  SQLDA* in = alloc_sqlda_noind(3);
  das.push_back(in);
  in->sqld = 3;
  int id = 10;
  char name[] = "put";
  in->sqlvar[0] = {DT_INT, 4, &id, nullptr, {}};
  in->sqlvar[1] = {DT_STRING, sizeof name, name, nullptr, {}};
  in->sqlvar[2] = {DT_INT | 1, 4, nullptr, nullptr, {}};  // no data: the column default applies
  SQLDA* out = Alloc(3);
  int oid = 0, oqty = 0;
  char oname[31] = "";
  out->sqlvar[0].sqltype = DT_INT;
  out->sqlvar[0].sqldata = &oid;
  out->sqlvar[1].sqltype = DT_STRING | 1;
  out->sqlvar[1].sqllen = sizeof oname;
  out->sqlvar[1].sqldata = oname;
  out->sqlvar[2].sqltype = DT_INT | 1;
  out->sqlvar[2].sqldata = &oqty;
  dbpp_put_into(&ca, cur.data(), in, out);
  ASSERT_EQ(ca.sqlcode, 0) << Message(ca);
  EXPECT_EQ(ca.sqlerrd[2], 1);
  EXPECT_EQ(oid, 10);
  EXPECT_STREQ(oname, "put");
  EXPECT_EQ(oqty, 7);
  // The inserted row is the current row: re-reading it gives the row as stored.
  oqty = 0;
  dbpp_fetch(&ca, cur.data(), FETCH_RELATIVE, 0, out, 0, 0);
  ASSERT_EQ(ca.sqlcode, 0) << Message(ca);
  EXPECT_EQ(oqty, 7);
  // A key that exists already is refused with the vendor's code; nothing is added.
  dbpp_put_into(&ca, cur.data(), in, out);
  EXPECT_EQ(ca.sqlcode, SQLE_PRIMARY_KEY_NOT_UNIQUE);
  EXPECT_EQ(Query("SELECT count(*) FROM p"), "6");
}

TEST_F(ChangesTest, CursorsThatCannotChangeRowsSaySo) {
  SQLDA* v = Alloc(1);
  int x = 1;
  v->sqlvar[0].sqltype = DT_INT;
  v->sqlvar[0].sqldata = &x;
  ASSERT_EQ(Open("SELECT id FROM p", CUR_READ_ONLY), 0);
  ASSERT_EQ(Next(), 0);
  dbpp_update(&ca, cur.data(), v);
  EXPECT_EQ(ca.sqlcode, SQLE_READ_ONLY_CURSOR);
  dbpp_delete(&ca, cur.data(), nullptr, nullptr);
  EXPECT_EQ(ca.sqlcode, SQLE_READ_ONLY_CURSOR);
  dbpp_close(&ca, cur.data());

  ASSERT_EQ(Open("SELECT a.id FROM p a JOIN p b ON b.id = a.id", CUR_FOR_UPDATE), 0) << Message(ca);
  ASSERT_EQ(Next(), 0);
  dbpp_update(&ca, cur.data(), v);
  EXPECT_EQ(ca.sqlcode, SQLE_NON_UPDATEABLE_VIEW);
  dbpp_close(&ca, cur.data());

  ASSERT_EQ(Open("SELECT id * 2 FROM p", CUR_FOR_UPDATE), 0);
  ASSERT_EQ(Next(), 0);
  dbpp_update(&ca, cur.data(), v);
  EXPECT_EQ(ca.sqlcode, SQLE_NON_UPDATEABLE_COLUMN);
  EXPECT_EQ(Query("SELECT count(*) FROM p WHERE id = 1"), "1");  // nothing changed
  // Before the first row there is no current row to change.
  dbpp_fetch(&ca, cur.data(), FETCH_ABSOLUTE, 0, nullptr, 0, 0);
  dbpp_delete(&ca, cur.data(), nullptr, nullptr);
  EXPECT_EQ(ca.sqlcode, SQLE_NO_CURRENT_ROW);
}

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return s;
}

TEST_F(ChangesTest, LongValueComesInPiecesOf32765Bytes) {
  const std::string value = Pattern(100000);
  ASSERT_EQ(Open("SELECT id, data FROM p", CUR_FOR_UPDATE), 0);
  // Store the value through the cursor as one long binary.
  std::vector<char> lb(LONGBINARYSIZE(value.size()));
  auto* l = reinterpret_cast<LONGBINARY*>(lb.data());
  l->array_len = l->stored_len = static_cast<a_sql_uint32>(value.size());
  std::memcpy(l->array, value.data(), value.size());
  SQLDA* in = Alloc(2);
  int id = 20;
  in->sqlvar[0].sqltype = DT_INT;
  in->sqlvar[0].sqldata = &id;
  in->sqlvar[1].sqltype = DT_LONGBINARY;
  in->sqlvar[1].sqldata = l;
  dbpp_put_into(&ca, cur.data(), in, nullptr);
  ASSERT_EQ(ca.sqlcode, 0) << Message(ca);
  dbpp_close(&ca, cur.data());
  open = false;

  ASSERT_EQ(Open("SELECT id, data FROM p WHERE id = 20", CUR_READ_ONLY), 0);
  // A long column fetched into a small long-binary buffer: truncated, full length reported.
  SQLDA* row = Alloc(2);
  int rid = 0;
  std::vector<char> small(LONGBINARYSIZE(1000));
  auto* s = reinterpret_cast<LONGBINARY*>(small.data());
  s->array_len = 1000;
  row->sqlvar[0].sqltype = DT_INT;
  row->sqlvar[0].sqldata = &rid;
  row->sqlvar[1].sqltype = DT_LONGBINARY | 1;
  row->sqlvar[1].sqldata = s;
  dbpp_fetch(&ca, cur.data(), FETCH_RELATIVE, 1, row, 0, 0);
  ASSERT_EQ(ca.sqlcode, SQLE_TRUNCATED) << Message(ca);
  EXPECT_EQ(s->stored_len, 1000u);
  EXPECT_EQ(s->untrunc_len, 100000u);
  EXPECT_EQ(*row->sqlvar[1].sqlind, 32767);

  // GET DATA in DT_BINARY pieces of sqllen 32767: 32765 data bytes each.
  SQLDA* piece = Alloc(1);
  std::vector<char> work(32767);
  piece->sqlvar[0].sqltype = DT_BINARY | 1;
  piece->sqlvar[0].sqllen = 32767;
  piece->sqlvar[0].sqldata = work.data();
  std::string gathered;
  std::vector<int> codes, sizes;
  int offset = 0;
  do {
    dbpp_get_data(&ca, cur.data(), 2, offset, piece, 0);
    auto* b = reinterpret_cast<BINARY*>(work.data());
    codes.push_back(ca.sqlcode);
    sizes.push_back(b->len);
    EXPECT_EQ(ca.sqlerrd[2], 100000);
    if (ca.sqlcode < 0) break;
    gathered.append(b->array, b->len);
    offset += b->len;
  } while (ca.sqlcode == SQLE_TRUNCATED);
  EXPECT_EQ(codes, (std::vector<int>{101, 101, 101, 0}));
  EXPECT_EQ(sizes, (std::vector<int>{32765, 32765, 32765, 1705}));
  EXPECT_TRUE(gathered == value);
  // Column numbers are checked.
  dbpp_get_data(&ca, cur.data(), 3, 0, piece, 0);
  EXPECT_EQ(ca.sqlcode, SQLE_INVALID_COLUMN_NUMBER);
}

}  // namespace
