// Metadata: the catalog lists of a real database with tables, views, procedures and indices,
// re-shaped into the dbExpress layouts and filtered by name.
#include "tests/dbxdriver/DbxHost.h"

using namespace dbxtest;

namespace {

class DbxMetaDataTest : public DbxTest {
 protected:
  void SetUp() override {
    DbxTest::SetUp();
    Conn = Connect(ServerFor(CreateDb()));
    Exec(Conn.Get(), "create table customer(id integer not null primary key, name char(20), city varchar(30))");
    Exec(Conn.Get(), "create view basel as select * from customer where city = 'Basel'");
    Exec(Conn.Get(), "create index ix_city on customer(city, name desc)");
    Exec(Conn.Get(), "create procedure sp_count(in c varchar(30), out n integer) begin"
                     " select count(*) into n from customer where city = c; end");
    ASSERT_EQ(Conn->getSQLMetaData(Meta.Out()), SQL_SUCCESS);
  }
  void TearDown() override {
    Meta.Reset();
    Conn.Reset();
    DbxTest::TearDown();
  }
  // Column Col of every row.
  static std::vector<std::string> Column(ISQLCursor* C, uint16_t Col) {
    std::vector<std::string> Out;
    while (C->next() == SQL_SUCCESS) Out.push_back(Str(C, Col));
    return Out;
  }
  Ref<ISQLConnection> Conn;
  Ref<ISQLMetaData> Meta;
};

}  // namespace

TEST_F(DbxMetaDataTest, TablesByTypeAndQualifiedPattern) {
  Ref<ISQLCursor> C;
  ASSERT_EQ(Meta->getTables(nullptr, 0, C.Out()), SQL_SUCCESS) << ErrorText(Meta.Get());
  EXPECT_EQ(Column(C.Get(), 4), std::vector<std::string>{"DBA.customer"});  // base tables of DBA only
  ASSERT_EQ(Meta->getTables(nullptr, eSQLTable | eSQLView | eSQLSystemTable, C.Out()), SQL_SUCCESS);
  std::vector<std::string> All = Column(C.Get(), 4);
  EXPECT_NE(std::find(All.begin(), All.end(), "DBA.basel"), All.end());
  EXPECT_NE(std::find(All.begin(), All.end(), "SYS.SYSTABLE"), All.end());

  ASSERT_EQ(Meta->getTables(const_cast<char*>("DBA.basel"), eSQLView, C.Out()), SQL_SUCCESS);
  ASSERT_EQ(C->next(), SQL_SUCCESS);
  EXPECT_EQ(Long(C.Get(), 1), 1);  // RECNO
  EXPECT_EQ(Str(C.Get(), 2), "<NULL>");  // a text, not blank
  EXPECT_EQ(Str(C.Get(), 3), "DBA");
  EXPECT_EQ(Long(C.Get(), 5), 2);  // a view
  EXPECT_EQ(C->next(), DBXERR_EOF);
  uint16_t Len = 0;
  EXPECT_EQ(C->getColumnNameLength(4, &Len), SQL_SUCCESS);
  EXPECT_EQ(Len, 10);  // "TABLE_NAME"
  int16_t Prec = 0;
  EXPECT_EQ(C->getColumnPrecision(4, &Prec), SQL_SUCCESS);
  EXPECT_GT(Prec, 128);  // owner, dot and name fit what the host allocates
  EXPECT_EQ(C->getColumnType(6, nullptr, nullptr), DBXERR_OUTOFRANGE);
  ASSERT_EQ(Meta->getTables(const_cast<char*>("customer"), 0, C.Out()), SQL_SUCCESS);
  EXPECT_EQ(C->next(), DBXERR_EOF);  // the pattern is the qualified name

  EXPECT_EQ(Meta->getObjectList(eObjTypeTable, C.Out()), DBXERR_NOTSUPPORTED);
  EXPECT_EQ(C.Get(), nullptr);
}

TEST_F(DbxMetaDataTest, ColumnsIndicesProceduresAndParameters) {
  Ref<ISQLCursor> C;
  ASSERT_EQ(Meta->getColumns(const_cast<char*>("DBA.customer"), const_cast<char*>(""), 0, C.Out()), SQL_SUCCESS);
  ASSERT_EQ(C->next(), SQL_SUCCESS);
  EXPECT_EQ(Str(C.Get(), 5), "id");
  EXPECT_EQ(Long(C.Get(), 8), fldINT32);
  EXPECT_EQ(Long(C.Get(), 12), 0);  // COLUMN_PRECISION of an integer
  ASSERT_EQ(C->next(), SQL_SUCCESS);
  EXPECT_EQ(Str(C.Get(), 5), "name");
  EXPECT_EQ(Long(C.Get(), 8), fldZSTRING);
  EXPECT_EQ(Long(C.Get(), 12), 20);
  EXPECT_EQ(Long(C.Get(), 1), 2);
  ASSERT_EQ(Meta->getColumns(const_cast<char*>("customer"), const_cast<char*>("city"), 0, C.Out()), SQL_SUCCESS);
  EXPECT_EQ(Column(C.Get(), 5), std::vector<std::string>{"city"});

  ASSERT_EQ(Meta->getIndices(const_cast<char*>("customer"), 0, C.Out()), SQL_SUCCESS);
  std::vector<std::string> Index;
  while (C->next() == SQL_SUCCESS) Index.push_back(Str(C.Get(), 5) + ":" + Str(C.Get(), 6) + ":" + Str(C.Get(), 10));
  EXPECT_EQ(Index, (std::vector<std::string>{"ix_city:city:A", "ix_city:name:D"}));

  ASSERT_EQ(Meta->getProcedures(nullptr, 0, C.Out()), SQL_SUCCESS);
  std::vector<std::string> Procs = Column(C.Get(), 4);
  EXPECT_NE(std::find(Procs.begin(), Procs.end(), "DBA.sp_count"), Procs.end());
  ASSERT_EQ(Meta->getProcedureParams(const_cast<char*>("DBA.sp_count"), nullptr, C.Out()), SQL_SUCCESS);
  std::vector<std::string> Params;
  while (C->next() == SQL_SUCCESS)
    Params.push_back(Str(C.Get(), 5) + ":" + std::to_string(Long(C.Get(), 7)) + ":" + std::to_string(Long(C.Get(), 8)));
  EXPECT_EQ(Params, (std::vector<std::string>{"c:1:1", "n:2:6"}));  // in string, out integer

  // A quote in a name is part of the name; a name too long for the query is refused.
  ASSERT_EQ(Meta->getColumns(const_cast<char*>("x' or 'a'='a"), nullptr, 0, C.Out()), SQL_SUCCESS);
  EXPECT_EQ(C->next(), DBXERR_EOF);
  std::string Long(2000, 't');
  EXPECT_EQ(Meta->getColumns(Long.data(), nullptr, 0, C.Out()), DBXERR_NOTSUPPORTED);
  EXPECT_NE(ErrorText(Meta.Get()).find("too long"), std::string::npos);
}

TEST_F(DbxMetaDataTest, OptionsTheHostAsksAfterConnect) {
  int32_t V = 0x7f7f7f7f;
  int16_t L = 0;
  EXPECT_EQ(Meta->GetOption(eMetaSupportsTransaction, &V, 4, &L), SQL_SUCCESS);
  EXPECT_EQ(V, 1);  // the whole LongBool, exactly 1
  V = 0x7f7f7f7f;
  EXPECT_EQ(Meta->GetOption(eMetaSupportsTransactions, &V, 4, &L), SQL_SUCCESS);
  EXPECT_EQ(V, 0);
  char Quote = 'x';
  EXPECT_EQ(Meta->GetOption(eMetaObjectQuoteChar, &Quote, 1, &L), SQL_SUCCESS);
  EXPECT_EQ(Quote, '\0');
  EXPECT_EQ(Meta->SetOption(eMetaSchemaName, reinterpret_cast<TDBXOptionValue>("DBA")), SQL_SUCCESS);
  EXPECT_EQ(Meta->SetOption(eMetaPackageName, reinterpret_cast<TDBXOptionValue>("")), SQL_SUCCESS);
  EXPECT_EQ(Meta->SetOption(eMetaMaxRowSize, 1), DBXERR_NOTSUPPORTED);
  EXPECT_EQ(Meta->GetOption(eMetaMaxRowSize, &V, 4, &L), DBXERR_NOTSUPPORTED);
}
