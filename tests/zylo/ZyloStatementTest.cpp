// Connections, statements and transactions: errors as zylo::error, typed rows, one/maybe,
// positional and named parameters, prepared statements reused, the transaction guard on every
// way out, and long values streamed in and out in pieces.
#include <sstream>

#include "tests/zylo/ZyloTestEnv.h"

namespace zylotest {
namespace {

class ZyloStatements : public ZyloTest {
 protected:
  void SetUp() override {
    ZyloTest::SetUp();
    db_.emplace(Params());
    db_->execute("CREATE TABLE customer (id INTEGER PRIMARY KEY, name VARCHAR(40), city VARCHAR(40))");
    db_->execute("INSERT INTO customer VALUES (1, 'Anna', 'Basel'), (2, NULL, 'Basel'), (3, 'Carl', 'Bern')");
  }
  void TearDown() override {
    db_.reset();
    ZyloTest::TearDown();
  }
  std::int64_t Count(const std::string& where = "1 = 1") {
    return db_->one<std::int64_t>("SELECT COUNT(*) FROM customer WHERE " + where);
  }
  std::optional<zylo::connection> db_;
};

TEST_F(ZyloStatements, FailuresArriveAsZyloErrorWithCodeStateAndText) {
  const zylo::error bad_sql = ErrorOf([&] { db_->execute("SELEC 1"); });
  EXPECT_LT(bad_sql.sqlcode(), 0);
  EXPECT_EQ(bad_sql.sqlstate().size(), 5u);
  EXPECT_NE(std::string(bad_sql.what()).find("SELEC"), std::string::npos) << bad_sql.what();
  const zylo::error no_table = ErrorOf([&] { db_->query<int>("SELECT x FROM nowhere"); });
  EXPECT_LT(no_table.sqlcode(), 0) << no_table.what();
  const zylo::error password = ErrorOf([&] { zylo::connection("dbf=" + file_ + ";uid=dba;pwd=wrong;" + LibraryParams()); });
  EXPECT_EQ(password.sqlcode(), -103) << password.what();
  EXPECT_EQ(password.sqlstate(), "28000");
  EXPECT_EQ(ErrorOf([&] { zylo::connection("dbf=" + file_ + ";uid"); }).sqlstate(), "08001");
  EXPECT_EQ(ErrorOf([&] { zylo::connection("servertype=cloud;" + Params()); }).sqlstate(), "08001");
  // A failure leaves the connection usable.
  EXPECT_EQ(Count(), 3);
  static_assert(std::is_base_of_v<std::runtime_error, zylo::error>);
}

TEST_F(ZyloStatements, QueriesGiveTypedRowsAndOneAndMaybeCountThem) {
  std::vector<std::pair<std::int64_t, std::optional<std::string>>> seen;
  for (auto [id, name] : db_->query<std::int64_t, std::optional<std::string>>(
           "SELECT id, name FROM customer WHERE city = ? ORDER BY id", "Basel"))
    seen.emplace_back(id, name);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], std::make_pair(std::int64_t{1}, std::optional<std::string>("Anna")));
  EXPECT_EQ(seen[1], std::make_pair(std::int64_t{2}, std::optional<std::string>()));
  EXPECT_TRUE(db_->query<int>("SELECT id FROM customer WHERE id > 99").begin() == std::default_sentinel);

  EXPECT_EQ(db_->one<std::string>("SELECT name FROM customer WHERE id = ?", 3), "Carl");
  auto [id, city] = db_->one<int, std::string>("SELECT id, city FROM customer WHERE name = 'Anna'");
  EXPECT_EQ(id, 1);
  EXPECT_EQ(city, "Basel");
  EXPECT_EQ(db_->maybe<std::string>("SELECT name FROM customer WHERE id = 7"), std::nullopt);
  EXPECT_EQ(db_->maybe<std::string>("SELECT name FROM customer WHERE id = 1"), "Anna");
  EXPECT_EQ(ErrorOf([&] { db_->one<int>("SELECT id FROM customer WHERE id = 7"); }).sqlstate(), "02000");
  EXPECT_EQ(ErrorOf([&] { db_->one<int>("SELECT id FROM customer"); }).sqlstate(), "21000");
  EXPECT_EQ(ErrorOf([&] { db_->maybe<int>("SELECT id FROM customer"); }).sqlstate(), "21000");
  EXPECT_EQ(ErrorOf([&] { db_->one<int, int>("SELECT id FROM customer WHERE id = 1"); }).sqlstate(), "07008");

  EXPECT_EQ(db_->execute("UPDATE customer SET city = ? WHERE city = ?", "Zurich", "Basel"), 2);
  EXPECT_EQ(db_->execute("DELETE FROM customer WHERE id = 99"), 0);
  // A query inside the loop over the same text runs on a statement of its own.
  int pairs = 0;
  for (auto [a] : db_->query<int>("SELECT id FROM customer"))
    for (auto [b] : db_->query<int>("SELECT id FROM customer")) pairs += a != b;
  EXPECT_EQ(pairs, 6);
}

TEST_F(ZyloStatements, PositionalAndNamedParametersMixAndEveryMistakeIsNamed) {
  EXPECT_EQ(db_->one<std::string>("SELECT name FROM customer WHERE city = ? AND id = :id", zylo::arg("id", 1), "Basel"),
            "Anna");
  // A name used twice takes one value; names match without regard to case.
  EXPECT_EQ(db_->one<std::int64_t>("SELECT COUNT(*) FROM customer WHERE id >= :n AND id <= :N + 1", zylo::arg(":n", 2)), 2);
  // Markers inside literals, quoted names and comments are none; '::' is a cast.
  EXPECT_EQ(db_->one<std::string>("SELECT '?:x' || \"name\" FROM customer -- :y ?\n WHERE id = ? /* ? */", 1), "?:xAnna");

  auto state = [&](auto&&... args) {
    return ErrorOf([&] { db_->one<std::string>("SELECT name FROM customer WHERE city = ? AND id = :id", args...); })
        .sqlstate();
  };
  EXPECT_EQ(state("Basel"), "07002") << "no value for :id";
  EXPECT_EQ(state(zylo::arg("id", 1)), "07002") << "no value for the '?'";
  EXPECT_EQ(state("Basel", zylo::arg("id", 1), 5), "07001") << "a value without a marker";
  EXPECT_EQ(state("Basel", zylo::arg("nope", 1)), "07001") << "a name the text does not have";
  EXPECT_EQ(state("Basel", zylo::arg("id", 1), zylo::arg("id", 2)), "07001") << "a name given twice";
  const zylo::error e = ErrorOf([&] { db_->one<std::string>("SELECT name FROM customer WHERE id = :id"); });
  EXPECT_NE(std::string(e.what()).find(":id"), std::string::npos) << e.what();
}

TEST_F(ZyloStatements, PreparedTextsAreReusedWithNewValues) {
  const auto before = db_->stats();
  for (int k = 1; k <= 3; ++k) EXPECT_EQ(db_->one<int>("SELECT id FROM customer WHERE id = ?", k), k);
  const auto after = db_->stats();
  EXPECT_EQ(after.prepares - before.prepares, 1u) << "the cached text is prepared once";
  EXPECT_EQ(after.reuses - before.reuses, 2u);

  zylo::statement find = db_->prepare("SELECT name FROM customer WHERE id = :id");
  EXPECT_EQ(find.one<std::string>(zylo::arg("id", 1)), "Anna");
  EXPECT_EQ(find.maybe<std::string>(zylo::arg("id", 3)), "Carl");
  zylo::statement insert = db_->prepare("INSERT INTO customer (id, name) VALUES (?, ?)");
  for (int k = 10; k < 20; ++k) EXPECT_EQ(insert.execute(k, "n" + std::to_string(k)), 1);
  EXPECT_EQ(db_->stats().prepares - after.prepares, 2u);
  EXPECT_EQ(Count("id >= 10"), 10);
  // Running a statement again ends the rows of its previous run.
  auto first = find.query<std::string>(zylo::arg("id", 1));
  auto it = first.begin();
  find.one<std::string>(zylo::arg("id", 3));
  EXPECT_EQ(ErrorOf([&] { ++it; }).sqlstate(), "24000");
  // The statement component is there for what the layer does not do.
  EXPECT_EQ(find.component().GetOpenSQL(), "SELECT name FROM customer WHERE id = :id");
  // A change of the schema drops the cached descriptions of the old one.
  using row3 = std::tuple<int, std::optional<std::string>, std::optional<std::string>>;
  EXPECT_EQ((db_->one<int, std::optional<std::string>, std::optional<std::string>>("SELECT * FROM customer WHERE id = 1")),
            row3(1, "Anna", "Basel"));
  db_->execute("ALTER TABLE customer ADD born DATE");
  EXPECT_EQ(ErrorOf([&] {
              db_->one<int, std::optional<std::string>, std::optional<std::string>>("SELECT * FROM customer WHERE id = 1");
            }).sqlstate(),
            "07008");
}

// The guard ends its transaction on every way out of the scope.
TEST_F(ZyloStatements, ATransactionRollsBackUnlessCommittedOnEveryWayOut) {
  auto insert_and_return = [&](int id) {
    zylo::transaction tx(*db_);
    db_->execute("INSERT INTO customer (id) VALUES (?)", id);
    EXPECT_TRUE(db_->in_transaction());
  };
  insert_and_return(10);
  EXPECT_FALSE(db_->in_transaction());
  EXPECT_EQ(Count("id = 10"), 0) << "left by return";

  try {
    zylo::transaction tx(*db_);
    db_->execute("INSERT INTO customer (id) VALUES (11)");
    db_->execute("INSERT INTO customer (id) VALUES (1)");  // duplicate key
    tx.commit();
  } catch (const zylo::error& e) {
    EXPECT_LT(e.sqlcode(), 0);
  }
  EXPECT_EQ(Count("id = 11"), 0) << "left by an exception";

  {
    zylo::transaction tx(*db_);
    db_->execute("INSERT INTO customer (id) VALUES (12)");
    tx.commit();
    EXPECT_FALSE(tx.active());
    EXPECT_EQ(ErrorOf([&] { tx.commit(); }).sqlstate(), "25000");
  }
  EXPECT_EQ(Count("id = 12"), 1) << "committed";

  {
    zylo::transaction tx(*db_);
    db_->execute("DELETE FROM customer");
    tx.rollback();
  }
  EXPECT_EQ(Count(), 4) << "rolled back explicitly";

  zylo::transaction outer(*db_);
  EXPECT_EQ(ErrorOf([&] { zylo::transaction inner(*db_); }).sqlstate(), "25001") << "transactions do not nest";
  EXPECT_TRUE(outer.active());
}

TEST_F(ZyloStatements, TheGuardsDestructorSurvivesALostConnection) {
  auto tx = std::make_unique<zylo::transaction>(*db_);
  db_->session().Close();
  EXPECT_NO_THROW(tx.reset());
  EXPECT_FALSE(db_->ping());
}

TEST_F(ZyloStatements, LongValuesStreamInAndOutInPieces) {
  db_->execute("CREATE TABLE files (id INTEGER PRIMARY KEY, data LONG BINARY, note LONG VARCHAR)");
  std::string payload(100000, '\0');
  for (std::size_t k = 0; k < payload.size(); ++k) payload[k] = static_cast<char>(k * 131 % 251);
  std::istringstream in(payload);
  EXPECT_EQ(db_->execute("INSERT INTO files VALUES (1, ?, :note)", in, zylo::arg("note", std::string(70000, 'n'))), 1);
  std::istringstream empty;
  db_->execute("INSERT INTO files VALUES (2, ?, NULL)", empty);

  for (const auto& [id, data] : db_->query<int, zylo::blob>("SELECT id, data FROM files ORDER BY id")) {
    zylo::blob b = data;
    if (id == 1) {
      std::ostringstream out;
      EXPECT_EQ(b.copy_to(out), payload.size());
      EXPECT_TRUE(out.str() == payload);
      // The stream reads from the start again, piece by piece.
      std::istream& s = b.stream();
      char head[4];
      s.read(head, 4);
      EXPECT_EQ(std::string(head, 4), payload.substr(0, 4));
    } else {
      EXPECT_TRUE(b.read_bytes().empty());
    }
  }
  auto rows = db_->query<zylo::blob, std::string>("SELECT data, note FROM files WHERE id = 1");
  auto it = rows.begin();
  zylo::blob kept = std::get<0>(*it);
  TAsaSQL& q = rows.component();
  const auto pieces = q.GetBlobPieceReads();
  EXPECT_EQ(kept.read_bytes().size(), payload.size());
  EXPECT_EQ(q.GetBlobPieceReads() - pieces, 4) << "100 000 bytes in pieces of at most 32 765";
  EXPECT_EQ(std::get<1>(*it), std::string(70000, 'n'));
  ++it;
  EXPECT_EQ(ErrorOf([&] { kept.read_bytes(); }).sqlstate(), "24000") << "the blob's row is gone";
  EXPECT_EQ(ErrorOf([&] { db_->one<zylo::blob>("SELECT id FROM files WHERE id = 1"); }).sqlstate(), "22018");
  // A stream that cannot be read stops the statement before it runs.
  std::istringstream broken;
  broken.setstate(std::ios::failbit);
  EXPECT_EQ(ErrorOf([&] { db_->execute("UPDATE files SET data = ? WHERE id = 1", broken); }).sqlstate(), "HY000");
  EXPECT_EQ(db_->one<std::int64_t>("SELECT LENGTH(data) FROM files WHERE id = 1"), 100000);
}

TEST_F(ZyloStatements, AConnectionAttachesToASessionTheCallerOwns) {
  TAsaSession s;
  s.SetLibraryPath(LibDir());
  s.SetLibraryFile("dblib10.dll");
  s.SetLoginDatabase(file_);
  s.SetLoginUser("dba");
  s.SetLoginPassword("sql");
  s.SetServerType(stServer);
  s.Open();
  {
    zylo::connection on(s);
    EXPECT_EQ(on.one<std::int64_t>("SELECT COUNT(*) FROM customer"), 3);
    EXPECT_EQ(&on.session(), &s);
    // The session does not raise here: failures are found in its error record all the same.
    EXPECT_FALSE(s.GetWantExceptions());
    zylo::transaction tx(on);
    on.execute("DELETE FROM customer");
  }
  EXPECT_TRUE(s.GetConnected());
  EXPECT_EQ(Count(), 3);
  s.Close();
}

}  // namespace
}  // namespace zylotest
