// Commands and cursors: every getter with its type check, blobs, parameters in every logical
// type, stored-procedure calls, several result sets, statements without a result, traces.
#include <cmath>

#include "tests/dbxdriver/DbxHost.h"

using namespace dbxtest;

namespace {

class DbxCommandTest : public DbxTest {
 protected:
  void SetUp() override {
    DbxTest::SetUp();
    Conn = Connect(ServerFor(CreateDb()));
  }
  void TearDown() override {
    Conn.Reset();
    DbxTest::TearDown();
  }
  template <class T>
  SQLResult Set(ISQLCommand* Cmd, uint16_t N, uint16_t Type, const T& Value, uint16_t Sub = 0) {
    return Cmd->setParameter(N, 0, paramIN, Type, Sub, 0, 0, sizeof Value, const_cast<T*>(&Value), 0);
  }
  Ref<ISQLConnection> Conn;
};

std::string BcdDigits(const TBcd& B) {
  std::string S = (B.SignSpecialPlaces & 0x80) ? "-" : "";
  for (int I = 0; I < B.Precision; ++I) S += char('0' + ((I % 2 == 0) ? B.Fraction[I / 2] >> 4 : B.Fraction[I / 2] & 15));
  return S;
}

}  // namespace

TEST_F(DbxCommandTest, EveryGetterReadsItsOwnTypeOnly) {
  Exec(Conn.Get(),
       "create table t(id int, bi bigint, d double, c char(20), lvc long varchar, vb varbinary(8), lb long binary,"
       " dt date, tm time, ts timestamp, bt bit)");
  Exec(Conn.Get(),
       "insert into t values (1, 5000000000, 1.5, 'ab', replace(hex(zeroblob(7000)), '00', '0123456789'), x'0a0b', x'00ff0001',"
       " '2000-01-01', '13:45:10.250', '2001-02-03 04:05:06.789', 1)");
  Exec(Conn.Get(), "insert into t(id) values (2)");
  Ref<ISQLCommand> Cmd = Command(Conn.Get());
  Ref<ISQLCursor> C = Open(Cmd.Get(), "select * from t order by id");
  ASSERT_NE(C.Get(), nullptr);

  const uint16_t Types[] = {fldINT32, fldBCD, fldFLOAT, fldZSTRING, fldBLOB, fldVARBYTES,
                            fldBLOB,  fldDATE, fldTIME, fldDATETIME, fldBOOL};
  uint16_t Count = 0, Type = 0, Sub = 0;
  ASSERT_EQ(C->getColumnCount(&Count), SQL_SUCCESS);
  ASSERT_EQ(Count, 11);
  for (uint16_t I = 1; I <= Count; ++I) {
    ASSERT_EQ(C->getColumnType(I, &Type, &Sub), SQL_SUCCESS);
    EXPECT_EQ(Type, Types[I - 1]) << "column " << I;
  }
  ASSERT_EQ(C->getColumnType(5, &Type, &Sub), SQL_SUCCESS);
  EXPECT_EQ(Sub, fldstMEMO);
  ASSERT_EQ(C->getColumnType(7, &Type, &Sub), SQL_SUCCESS);
  EXPECT_EQ(Sub, fldstBINARY);
  uint32_t Len = 0;
  int16_t Prec = 0;
  EXPECT_EQ(C->getColumnLength(4, &Len), SQL_SUCCESS);
  EXPECT_EQ(C->getColumnPrecision(4, &Prec), SQL_SUCCESS);
  EXPECT_EQ(Len, 21u);
  EXPECT_EQ(Prec, 20);
  EXPECT_EQ(C->getColumnType(0, &Type, &Sub), DBXERR_OUTOFRANGE);
  EXPECT_EQ(C->getColumnType(12, &Type, &Sub), DBXERR_OUTOFRANGE);
  int32_t Flag = -5;
  EXPECT_EQ(C->isNullable(99, &Flag), SQL_SUCCESS);
  EXPECT_EQ(Flag, 1);
  EXPECT_EQ(C->isSearchable(5, &Flag), SQL_SUCCESS);
  EXPECT_EQ(Flag, 0);
  EXPECT_EQ(C->isReadOnly(12, &Flag), DBXERR_OUTOFRANGE);

  ASSERT_EQ(C->next(), SQL_SUCCESS);
  int32_t I32 = 0, Blank = -5;
  EXPECT_EQ(C->getLong(4, &I32, &Blank), DBXERR_INVALIDXLATION);
  EXPECT_EQ(C->getBlobSize(4, &Len, &Blank), DBXERR_INVALIDFLDTYPE);
  EXPECT_EQ(C->getBlob(4, &I32, &Blank, 4), DBXERR_INVALIDXLATION);
  EXPECT_EQ(Long(C.Get(), 1), 1);
  TBcd Bcd{};
  ASSERT_EQ(C->getBcd(2, &Bcd, &Blank), SQL_SUCCESS);  // exact: no 64-bit value is cut to 32 bits
  EXPECT_EQ(BcdDigits(Bcd), "5000000000");
  double D = 0;
  EXPECT_EQ(C->getDouble(3, &D, &Blank), SQL_SUCCESS);
  EXPECT_EQ(D, 1.5);
  EXPECT_EQ(Str(C.Get(), 4), "ab");
  ASSERT_EQ(C->getBlobSize(5, &Len, &Blank), SQL_SUCCESS);
  ASSERT_EQ(Len, 70000u);
  std::string Memo(Len, '\0');
  ASSERT_EQ(C->getBlob(5, Memo.data(), &Blank, Len), SQL_SUCCESS);
  EXPECT_EQ(Memo.substr(69990), "0123456789");
  uint8_t Bytes[10] = {0xee, 0xee, 0xee, 0xee, 0xee, 0xee, 0xee, 0xee, 0xee, 0xee};
  ASSERT_EQ(C->getBytes(6, Bytes, &Blank), SQL_SUCCESS);  // its own length, then the bytes
  EXPECT_EQ(std::vector<uint8_t>(Bytes, Bytes + 4), (std::vector<uint8_t>{2, 0, 0x0a, 0x0b}));
  ASSERT_EQ(C->getBlobSize(7, &Len, &Blank), SQL_SUCCESS);
  ASSERT_EQ(Len, 4u);
  ASSERT_EQ(C->getBlob(7, Bytes, &Blank, Len), SQL_SUCCESS);
  EXPECT_EQ(std::vector<uint8_t>(Bytes, Bytes + 4), (std::vector<uint8_t>{0, 0xff, 0, 1}));
  EXPECT_EQ(C->getDate(8, &I32, &Blank), SQL_SUCCESS);
  EXPECT_EQ(I32, 730120);
  EXPECT_EQ(C->getTime(9, &I32, &Blank), SQL_SUCCESS);
  EXPECT_EQ(I32, 49510000);  // whole seconds
  TSQLTimeStamp Ts{};
  ASSERT_EQ(C->getTimeStamp(10, &Ts, &Blank), SQL_SUCCESS);
  EXPECT_EQ((std::vector<int>{Ts.Year, Ts.Month, Ts.Day, Ts.Hour, Ts.Minute, Ts.Second, int(Ts.Fractions)}),
            (std::vector<int>{2001, 2, 3, 4, 5, 6, 789}));
  int16_t Short = 0;
  ASSERT_EQ(C->getShort(11, &Short, &Blank), SQL_SUCCESS);
  EXPECT_EQ(Short, 1);
  EXPECT_EQ(Blank, 0);

  ASSERT_EQ(C->next(), SQL_SUCCESS);  // the row of NULLs
  EXPECT_EQ(Str(C.Get(), 4), "<null>");
  EXPECT_EQ(C->getBcd(2, &Bcd, &Blank), SQL_SUCCESS);
  EXPECT_EQ(Blank, 1);
  I32 = 77;
  EXPECT_EQ(C->getDate(8, &I32, &Blank), SQL_SUCCESS);
  EXPECT_EQ(Blank, 1);
  EXPECT_EQ(I32, 0);
  EXPECT_EQ(C->getBlobSize(5, &Len, &Blank), SQL_SUCCESS);
  EXPECT_EQ(Blank, 1);
  EXPECT_EQ(C->next(), DBXERR_EOF);
  EXPECT_EQ(C->next(), DBXERR_EOF);
}

TEST_F(DbxCommandTest, ParametersInEveryLogicalTypeArriveExactly) {
  Exec(Conn.Get(),
       "create table p(s varchar(40), dt date, memo long varchar, bin long binary, bo bit, i16 smallint,"
       " i32 int, f double, byt varbinary(10), vby varbinary(10), tm time, ts timestamp, i64 bigint,"
       " dts timestamp, u32 bigint)");
  Ref<ISQLCommand> Cmd = Command(Conn.Get());
  std::string Sql = "insert into p values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
  ASSERT_EQ(Cmd->prepare(Sql.data(), 15), SQL_SUCCESS) << ErrorText(Cmd.Get());
  char Text[] = "text; with 'quotes'";
  EXPECT_EQ(Cmd->setParameter(1, 0, paramIN, fldZSTRING, 0, 0, 0, sizeof Text, Text, 0), SQL_SUCCESS);
  EXPECT_EQ(Set(Cmd.Get(), 2, fldDATE, int32_t(730120)), SQL_SUCCESS);
  char Memo[] = "memo text";
  EXPECT_EQ(Cmd->setParameter(3, 0, paramIN, fldBLOB, fldstMEMO, 0, 0, sizeof Memo - 1, Memo, 0), SQL_SUCCESS);
  uint8_t Bin[] = {0, 1, 0, 2};
  EXPECT_EQ(Cmd->setParameter(4, 0, paramIN, fldBLOB, fldstBINARY, 0, 0, sizeof Bin, Bin, 0), SQL_SUCCESS);
  EXPECT_EQ(Set(Cmd.Get(), 5, fldBOOL, int16_t(-1)), SQL_SUCCESS);
  EXPECT_EQ(Set(Cmd.Get(), 6, fldINT16, int16_t(-32768)), SQL_SUCCESS);
  EXPECT_EQ(Set(Cmd.Get(), 7, fldINT32, int32_t(2147483647)), SQL_SUCCESS);
  EXPECT_EQ(Set(Cmd.Get(), 8, fldFLOAT, 0.1), SQL_SUCCESS);
  EXPECT_EQ(Cmd->setParameter(9, 0, paramIN, fldBYTES, 0, 0, 0, 3, Bin, 0), SQL_SUCCESS);
  uint8_t Var[] = {2, 0, 0xab, 0xcd, 0xef};  // a 16-bit length: only two bytes are the value
  EXPECT_EQ(Cmd->setParameter(10, 0, paramIN, fldVARBYTES, 0, 0, 0, sizeof Var, Var, 0), SQL_SUCCESS);
  EXPECT_EQ(Set(Cmd.Get(), 11, fldTIME, int32_t(3723500)), SQL_SUCCESS);
  // 2001-02-03 04:05:06.789 as milliseconds of the host's time-stamp count.
  const double MSecs = (730519.0 * 86400.0 + 4 * 3600 + 5 * 60 + 6) * 1000 + 789;
  EXPECT_EQ(Set(Cmd.Get(), 12, fldTIMESTAMP, MSecs), SQL_SUCCESS);
  EXPECT_EQ(Set(Cmd.Get(), 13, fldINT64, int64_t((1LL << 53) + 1)), SQL_SUCCESS);
  const TSQLTimeStamp Sent{1999, 12, 31, 23, 59, 58, 5};
  EXPECT_EQ(Set(Cmd.Get(), 14, fldDATETIME, Sent), SQL_SUCCESS);
  EXPECT_EQ(Set(Cmd.Get(), 15, fldUINT32, uint32_t(4000000000u)), SQL_SUCCESS);
  // Refused without storing anything: unknown types, a bad number, an impossible time stamp.
  EXPECT_EQ(Set(Cmd.Get(), 1, fldBLOB, int32_t(0), fldstGRAPHIC), DBXERR_INVALIDFLDTYPE);
  EXPECT_EQ(Set(Cmd.Get(), 1, fldBCD, TBcd{}), DBXERR_INVALIDFLDTYPE);
  EXPECT_EQ(Set(Cmd.Get(), 16, fldINT32, int32_t(0)), DBXERR_OUTOFRANGE);
  EXPECT_EQ(Cmd->setParameter(1, 0, paramUNKNOWN, fldINT32, 0, 0, 0, 0, nullptr, 0), SQL_SUCCESS);
  EXPECT_EQ(Set(Cmd.Get(), 14, fldDATETIME, TSQLTimeStamp{2000, 1, 1, 0, 0, 0, 1000}), DBXERR_DRIVERERROR);
  EXPECT_EQ(Set(Cmd.Get(), 12, fldTIMESTAMP, std::nan("")), DBXERR_DRIVERERROR);
  EXPECT_NE(ErrorText(Cmd.Get()).find("Parameter 14:"), std::string::npos);
  EXPECT_NE(ErrorText(Conn.Get()).find("Parameter 14:"), std::string::npos);  // where a host reads it

  Ref<ISQLCursor> None;
  ASSERT_EQ(Cmd->execute(None.Var()), SQL_SUCCESS) << ErrorText(Cmd.Get());
  EXPECT_EQ(None.Get(), nullptr);
  uint32_t Rows = 0;
  EXPECT_EQ(Cmd->getRowsAffected(&Rows), SQL_SUCCESS);
  EXPECT_EQ(Rows, 1u);

  Ref<ISQLCursor> C = Open(Cmd.Get(), "select * from p");
  ASSERT_EQ(C->next(), SQL_SUCCESS);
  int32_t I32 = 0, Blank = 0;
  int16_t I16 = 0;
  double D = 0;
  TSQLTimeStamp Ts{};
  TBcd Bcd{};
  uint32_t Len = 0;
  uint8_t Bytes[16] = {0};
  auto Stamp = [](const TSQLTimeStamp& T) {
    return std::vector<int>{T.Year, T.Month, T.Day, T.Hour, T.Minute, T.Second, int(T.Fractions)};
  };
  EXPECT_EQ(Str(C.Get(), 1), "text; with 'quotes'");
  EXPECT_EQ(C->getDate(2, &I32, &Blank), SQL_SUCCESS);
  EXPECT_EQ(I32, 730120);
  ASSERT_EQ(C->getBlobSize(3, &Len, &Blank), SQL_SUCCESS);
  std::string MemoBack(Len, '\0');
  EXPECT_EQ(C->getBlob(3, MemoBack.data(), &Blank, Len), SQL_SUCCESS);
  EXPECT_EQ(MemoBack, "memo text");
  ASSERT_EQ(C->getBlobSize(4, &Len, &Blank), SQL_SUCCESS);
  ASSERT_EQ(Len, 4u);
  EXPECT_EQ(C->getBlob(4, Bytes, &Blank, Len), SQL_SUCCESS);
  EXPECT_EQ(std::vector<uint8_t>(Bytes, Bytes + 4), std::vector<uint8_t>(Bin, Bin + 4));
  EXPECT_EQ(C->getShort(5, &I16, &Blank), SQL_SUCCESS);
  EXPECT_EQ(I16, 1);
  EXPECT_EQ(Long(C.Get(), 6), -32768);
  EXPECT_EQ(Long(C.Get(), 7), 2147483647);
  EXPECT_EQ(C->getDouble(8, &D, &Blank), SQL_SUCCESS);
  EXPECT_EQ(D, 0.1);
  EXPECT_EQ(C->getBytes(9, Bytes, &Blank), SQL_SUCCESS);
  EXPECT_EQ(std::vector<uint8_t>(Bytes, Bytes + 5), (std::vector<uint8_t>{3, 0, 0, 1, 0}));
  EXPECT_EQ(C->getBytes(10, Bytes, &Blank), SQL_SUCCESS);  // the prefix is not part of the value
  EXPECT_EQ(std::vector<uint8_t>(Bytes, Bytes + 4), (std::vector<uint8_t>{2, 0, 0xab, 0xcd}));
  EXPECT_EQ(C->getTime(11, &I32, &Blank), SQL_SUCCESS);
  EXPECT_EQ(I32, 3723000);  // 01:02:03, the 500 ms dropped
  ASSERT_EQ(C->getTimeStamp(12, &Ts, &Blank), SQL_SUCCESS);
  EXPECT_EQ(Stamp(Ts), (std::vector<int>{2001, 2, 3, 4, 5, 6, 789}));
  ASSERT_EQ(C->getBcd(13, &Bcd, &Blank), SQL_SUCCESS);
  EXPECT_EQ(BcdDigits(Bcd), "9007199254740993");  // 2^53 + 1, not rounded through a double
  ASSERT_EQ(C->getTimeStamp(14, &Ts, &Blank), SQL_SUCCESS);
  EXPECT_EQ(Stamp(Ts), (std::vector<int>{1999, 12, 31, 23, 59, 58, 5}));
  ASSERT_EQ(C->getBcd(15, &Bcd, &Blank), SQL_SUCCESS);
  EXPECT_EQ(BcdDigits(Bcd), "4000000000");
}

TEST_F(DbxCommandTest, StoredProcedureCallsAreBuiltFromTheCatalog) {
  Exec(Conn.Get(),
       "CREATE PROCEDURE sp_io(IN a integer, OUT b varchar(30), INOUT c integer) BEGIN"
       " SET b = 'a was ' || a; SET c = c + a; END");
  Exec(Conn.Get(), "CREATE FUNCTION fn_add(a integer, b integer) RETURNS integer BEGIN RETURN a + b; END");
  TraceLog Log;
  TraceLog::Current = &Log;
  ASSERT_EQ(Conn->SetOption(eConnCallBack, reinterpret_cast<TDBXOptionValue>(&TraceLog::Callback)), SQL_SUCCESS);

  Ref<ISQLCommand> Cmd = Command(Conn.Get());
  ASSERT_EQ(Cmd->SetOption(eCommStoredProc, 1), SQL_SUCCESS);
  ASSERT_EQ(Cmd->prepare(const_cast<char*>("sp_io"), 3), SQL_SUCCESS) << ErrorText(Cmd.Get());
  EXPECT_NE(std::find(Log.Texts.begin(), Log.Texts.end(), "call sp_io(?,?,?)"), Log.Texts.end());
  EXPECT_EQ(Set(Cmd.Get(), 1, fldINT32, int32_t(5)), SQL_SUCCESS);
  EXPECT_EQ(Cmd->setParameter(2, 0, paramOUT, fldZSTRING, 0, 0, 0, 0, nullptr, 1), SQL_SUCCESS);
  const int32_t C10 = 10;
  EXPECT_EQ(Cmd->setParameter(3, 0, paramINOUT, fldINT32, 0, 0, 0, 4, const_cast<int32_t*>(&C10), 0), SQL_SUCCESS);
  Ref<ISQLCursor> None;
  ASSERT_EQ(Cmd->execute(None.Var()), SQL_SUCCESS) << ErrorText(Cmd.Get());
  EXPECT_EQ(None.Get(), nullptr);  // outputs: executed, not opened
  char B[31] = {0};
  int32_t Blank = -5, C = 0;
  ASSERT_EQ(Cmd->getParameter(2, 0, B, sizeof B, &Blank), SQL_SUCCESS) << ErrorText(Cmd.Get());
  EXPECT_EQ(std::string(B), "a was 5");
  ASSERT_EQ(Cmd->getParameter(3, 0, &C, 4, &Blank), SQL_SUCCESS);
  EXPECT_EQ(C, 15);
  EXPECT_EQ(Cmd->getParameter(2, 0, B, 3, &Blank), DBXERR_DRIVERERROR);  // no room: refused, not cut
  EXPECT_EQ(Cmd->getParameter(4, 0, B, 3, &Blank), DBXERR_OUTOFRANGE);

  // A function: the return value takes the first place, "? = call".
  ASSERT_EQ(Cmd->SetOption(eCommStoredProc, 1), SQL_SUCCESS);
  ASSERT_EQ(Cmd->prepare(const_cast<char*>("fn_add"), 3), SQL_SUCCESS) << ErrorText(Cmd.Get());
  EXPECT_NE(std::find(Log.Texts.begin(), Log.Texts.end(), "? = call fn_add(?,?)"), Log.Texts.end());
  EXPECT_EQ(Set(Cmd.Get(), 2, fldINT32, int32_t(2)), SQL_SUCCESS);
  EXPECT_EQ(Set(Cmd.Get(), 3, fldINT32, int32_t(40)), SQL_SUCCESS);
  ASSERT_EQ(Cmd->execute(None.Var()), SQL_SUCCESS) << ErrorText(Cmd.Get());
  ASSERT_EQ(Cmd->getParameter(1, 0, &C, 4, &Blank), SQL_SUCCESS) << ErrorText(Cmd.Get());
  EXPECT_EQ(C, 42);

  // A procedure that is not there: the catalog lists nothing, the prepare fails with the server's text.
  ASSERT_EQ(Cmd->SetOption(eCommStoredProc, 1), SQL_SUCCESS);
  EXPECT_EQ(Cmd->prepare(const_cast<char*>("no_such_proc"), 0), DBXERR_DRIVERERROR);
  EXPECT_NE(ErrorText(Cmd.Get()), "");
  TraceLog::Current = nullptr;
}

TEST_F(DbxCommandTest, ProcedureResultSetsOneCursorEach) {
  Exec(Conn.Get(), "create table item(id integer, name varchar(20))");
  Exec(Conn.Get(), "insert into item values (1, 'one'), (2, 'two'), (3, 'three')");
  Exec(Conn.Get(),
       "CREATE PROCEDURE sp_sets(IN k integer) BEGIN"
       " SELECT id, name FROM item WHERE id >= k ORDER BY id;"
       " SELECT count(*) AS n, 'done' AS what FROM item; END");
  Exec(Conn.Get(), "CREATE PROCEDURE sp_quiet(IN k integer) BEGIN UPDATE item SET name = 'x' WHERE id = k; END");
  Ref<ISQLCommand> Cmd = Command(Conn.Get());
  ASSERT_EQ(Cmd->prepare(const_cast<char*>("call sp_sets(?)"), 1), SQL_SUCCESS) << ErrorText(Cmd.Get());
  EXPECT_EQ(Set(Cmd.Get(), 1, fldINT32, int32_t(2)), SQL_SUCCESS);
  Ref<ISQLCursor> C;
  ASSERT_EQ(Cmd->execute(C.Var()), SQL_SUCCESS) << ErrorText(Cmd.Get());
  ASSERT_EQ(C->next(), SQL_SUCCESS);
  EXPECT_EQ(Str(C.Get(), 2), "two");
  ASSERT_EQ(C->next(), SQL_SUCCESS);
  EXPECT_EQ(C->next(), DBXERR_EOF);
  ASSERT_EQ(Cmd->getNextCursor(C.Var()), SQL_SUCCESS) << ErrorText(Cmd.Get());
  ASSERT_NE(C.Get(), nullptr);
  ASSERT_EQ(C->next(), SQL_SUCCESS);  // the second set's first row is not skipped
  EXPECT_EQ(Long(C.Get(), 1), 3);
  EXPECT_EQ(Str(C.Get(), 2), "done");
  EXPECT_EQ(C->next(), DBXERR_EOF);
  EXPECT_EQ(Cmd->getNextCursor(C.Var()), SQL_NULL_DATA);
  EXPECT_EQ(C.Get(), nullptr);

  // A procedure with result sets and outputs: the sets as cursors, then the outputs.
  Exec(Conn.Get(),
       "CREATE PROCEDURE sp_both(IN k integer, OUT total decimal(10,2), INOUT seen varchar(20)) BEGIN"
       " SELECT name FROM item WHERE id >= k ORDER BY id;"
       " SELECT id FROM item WHERE id < k;"
       " SELECT sum(id) * 1.5, seen || '!' INTO total, seen FROM item; END");
  ASSERT_EQ(Cmd->SetOption(eCommStoredProc, 1), SQL_SUCCESS);
  ASSERT_EQ(Cmd->prepare(const_cast<char*>("sp_both"), 3), SQL_SUCCESS) << ErrorText(Cmd.Get());
  for (int Run = 0; Run < 2; ++Run) {  // again without a new prepare: fresh outputs
    char Seen[] = "hi";
    EXPECT_EQ(Set(Cmd.Get(), 1, fldINT32, int32_t(3)), SQL_SUCCESS);
    EXPECT_EQ(Cmd->setParameter(2, 0, paramOUT, fldFLOAT, 0, 0, 0, 0, nullptr, 1), SQL_SUCCESS);
    EXPECT_EQ(Cmd->setParameter(3, 0, paramINOUT, fldZSTRING, 0, 0, 0, sizeof Seen, Seen, 0), SQL_SUCCESS);
    ASSERT_EQ(Cmd->execute(C.Var()), SQL_SUCCESS) << ErrorText(Cmd.Get());
    ASSERT_NE(C.Get(), nullptr);
    double Total = 0;
    int32_t Blank = 0;
    ASSERT_EQ(Cmd->getParameter(2, 0, &Total, 8, &Blank), SQL_SUCCESS) << ErrorText(Cmd.Get());
    EXPECT_EQ(Blank, 1);  // not yet: the procedure has not completed
    ASSERT_EQ(C->next(), SQL_SUCCESS);
    EXPECT_EQ(Str(C.Get(), 1), "three");
    ASSERT_EQ(Cmd->getNextCursor(C.Var()), SQL_SUCCESS) << ErrorText(Cmd.Get());
    ASSERT_EQ(C->next(), SQL_SUCCESS);
    EXPECT_EQ(Long(C.Get(), 1), 1);
    EXPECT_EQ(Cmd->getNextCursor(C.Var()), SQL_NULL_DATA) << ErrorText(Cmd.Get());
    ASSERT_EQ(Cmd->getParameter(2, 0, &Total, 8, &Blank), SQL_SUCCESS) << ErrorText(Cmd.Get());
    EXPECT_EQ(Blank, 0);
    EXPECT_EQ(Total, 9.0);
    char Back[21] = {0};
    ASSERT_EQ(Cmd->getParameter(3, 0, Back, 20, &Blank), SQL_SUCCESS) << ErrorText(Cmd.Get());
    EXPECT_EQ(std::string(Back), "hi!");
  }

  // A call that gives no result set runs and hands out no cursor.
  ASSERT_EQ(Cmd->prepare(const_cast<char*>("call sp_quiet(1)"), 0), SQL_SUCCESS);
  ASSERT_EQ(Cmd->execute(C.Var()), SQL_SUCCESS) << ErrorText(Cmd.Get());
  EXPECT_EQ(C.Get(), nullptr);
  C = Open(Cmd.Get(), "select name from item where id = 1");
  ASSERT_EQ(C->next(), SQL_SUCCESS);
  EXPECT_EQ(Str(C.Get(), 1), "x");
}

TEST_F(DbxCommandTest, StatementsErrorsAndTraces) {
  TraceLog Log;
  TraceLog::Current = &Log;
  ASSERT_EQ(Conn->SetOption(eConnCallBack, reinterpret_cast<TDBXOptionValue>(&TraceLog::Callback)), SQL_SUCCESS);
  Ref<ISQLCommand> Cmd = Command(Conn.Get());
  Ref<ISQLCursor> C;
  ASSERT_EQ(Cmd->executeImmediate(const_cast<char*>("create table t(v int);;"), C.Var()), SQL_SUCCESS)
      << ErrorText(Cmd.Get());
  EXPECT_EQ(C.Get(), nullptr);
  EXPECT_EQ(Log.Texts, (std::vector<std::string>{"create table t(v int);;", "ZYL - ExecuteImmediate"}));
  Log.Texts.clear();
  ASSERT_EQ(Cmd->prepare(const_cast<char*>("insert into t values (1);  "), 0), SQL_SUCCESS);
  ASSERT_EQ(Cmd->execute(C.Var()), SQL_SUCCESS);
  EXPECT_EQ(Cmd->close(), SQL_SUCCESS);
  ASSERT_EQ(Cmd->execute(C.Var()), SQL_SUCCESS);  // still prepared after close
  EXPECT_EQ(Log.Texts,
            (std::vector<std::string>{"insert into t values (1);  ", "ZYL - Prepare", "ZYL - Execute", "ZYL - Execute"}));

  C = Open(Cmd.Get(), "select v as a_column_name_longer_than_the_host_buffer from t");
  uint16_t Type = 0, Sub = 0, NameLen = 0;
  ASSERT_EQ(C->getColumnType(1, &Type, &Sub), SQL_SUCCESS);
  DBINAME Name;  // the host's 32-byte buffer: the name is cut to fit it
  std::memset(Name, 'x', sizeof Name);
  ASSERT_EQ(C->getColumnName(1, Name), SQL_SUCCESS);
  EXPECT_EQ(std::string(Name), "a_column_name_longer_than_the_h");
  EXPECT_EQ(C->getColumnNameLength(1, &NameLen), SQL_SUCCESS);
  EXPECT_EQ(NameLen, 32);
  ASSERT_EQ(Cmd->executeImmediate(const_cast<char*>("update t set v = v + 1"), nullptr), DBXERR_INVALIDPARAM);
  Ref<ISQLCursor> None;
  ASSERT_EQ(Cmd->executeImmediate(const_cast<char*>("update t set v = v + 1"), None.Var()), SQL_SUCCESS);
  uint32_t Rows = 0;
  EXPECT_EQ(Cmd->getRowsAffected(&Rows), SQL_SUCCESS);
  EXPECT_EQ(Rows, 2u);
  EXPECT_EQ(C->getColumnType(1, &Type, &Sub), DBXERR_OUTOFRANGE);  // its result set is gone

  // A statement error: 256 and the server's text, read through the command or its cursor.
  EXPECT_EQ(Cmd->prepare(const_cast<char*>("select nothing from nowhere"), 0), DBXERR_DRIVERERROR);
  EXPECT_EQ(ErrorText(C.Get()).rfind("Error -", 0), 0u);
  // A trace text is cut to the 1024 bytes of the descriptor.
  Log.Texts.clear();
  std::string Long = "select 1 as x" + std::string(2000, ' ');
  ASSERT_EQ(Cmd->prepare(Long.data(), 0), SQL_SUCCESS);
  ASSERT_FALSE(Log.Texts.empty());
  EXPECT_EQ(Log.Texts[0], Long.substr(0, 1024));
  TraceLog::Current = nullptr;
}
