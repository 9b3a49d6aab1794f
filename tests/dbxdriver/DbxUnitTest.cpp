// The driver's pieces on their own: the server-name parser and its tokenizer, the cleaning of SQL
// text, the catalog query texts and the value forms.
#include <gtest/gtest.h>

#include <cstring>

#include "dbxdriver/ZylDbx.h"

namespace {

std::vector<std::string> Tokens(const std::string& Text) {
  std::vector<std::string> Out;
  size_t Pos = 0;
  while (Pos < Text.size()) {
    std::string T = TSQLConnectionParamsParser::NextToken(Text, Pos);
    if (!T.empty()) Out.push_back(T);
  }
  return Out;
}

}  // namespace

TEST(DbxParamsParser, TokensKeepQuotesAndBracketsWhole) {
  EXPECT_EQ(Tokens(";;a=1;;b='x;y' ; c=\"p;q\";d=`r;s`"),
            (std::vector<std::string>{"a=1", "b='x;y' ", " c=\"p;q\"", "d=`r;s`"}));
  // Brackets are not counted: the first closing character ends the span.
  EXPECT_EQ(Tokens("LINKS=tcpip(HOST=h;PORT=2638);x={a;(b;c};d"),
            (std::vector<std::string>{"LINKS=tcpip(HOST=h;PORT=2638)", "x={a;(b;c}", "d"}));
  EXPECT_EQ(Tokens("dbf='unterminated;still one"), std::vector<std::string>{"dbf='unterminated;still one"});
  EXPECT_EQ(Tokens(std::string("a=1\0b=2", 7)), std::vector<std::string>{"a=1"});  // a NUL ends the text
}

TEST(DbxParamsParser, DriverKeysAreTypedAndTheRestIsPassedOn) {
  TSQLConnectionParamsParser P;
  P.SetText(" ENG=srv ; DBN=db;trimblanks=on;nonsense;TrimBlanks=off; servertype=server ;"
            "LINKS=tcpip(HOST=h;PORT=2638);CommitOnDisconnect=TRUE;oemconvert=1;wantrowcounts=yes");
  EXPECT_EQ(P.GetOtherParams("-"), "ENG=srv;DBN=db;LINKS=tcpip(HOST=h;PORT=2638)");
  EXPECT_TRUE(P.GetTrimBlanks(false));  // the first of a key counts
  EXPECT_EQ(P.GetServerType(stClient), stServer);
  EXPECT_TRUE(P.GetCommitOnDisconnect(false));
  EXPECT_TRUE(P.GetOEMConvert(false));
  EXPECT_FALSE(P.GetWantRowCounts(true));  // "yes" is not a true word
  P.SetText("a=b");
  EXPECT_TRUE(P.GetCommitOnDisconnect(true));  // absent: the default
  EXPECT_EQ(P.GetServerType(stWorkgroup), stWorkgroup);
  P.SetText("x");
  EXPECT_EQ(P.GetOtherParams("-"), "");  // always present after a parse
  EXPECT_EQ(TSQLConnectionParamsParser::ReadServerTypeText("WorkGroup"), stWorkgroup);
  EXPECT_EQ(TSQLConnectionParamsParser::ReadServerTypeText("2"), stWorkgroup);
  EXPECT_EQ(TSQLConnectionParamsParser::ReadServerTypeText("stserver"), stServer);
  EXPECT_EQ(TSQLConnectionParamsParser::ReadServerTypeText("client"), stClient);
  P.SetText(std::string(TSQLConnectionParamsParser::kMaxTextLength + 1, ';'));
  EXPECT_THROW(P.GetTrimBlanks(false), EZyloException);
}

TEST(DbxCommandText, TrailingBlanksAndSemicolonsAreCut) {
  EXPECT_EQ(TSQLCommandZYL::CleanSQL("select 1;"), "select 1");
  EXPECT_EQ(TSQLCommandZYL::CleanSQL("select 1;;\r\n\t "), "select 1");
  EXPECT_EQ(TSQLCommandZYL::CleanSQL("select 1; ;"), "select 1; ");  // the blank stops the cutting
  EXPECT_EQ(TSQLCommandZYL::CleanSQL(";;  "), "");
}

TEST(DbxCatalogQuery, NamesAreUnqualifiedQuotedAndBounded) {
  const AnsiString Q = TSQLMetaDataZYL::BuildQuery(ckColumns, 0, "DBA.o'brien.x");
  EXPECT_NE(Q.find("st.table_name='o''brien.x'"), AnsiString::npos);
  const AnsiString T = TSQLMetaDataZYL::BuildQuery(ckTables, eSQLView, "");
  EXPECT_NE(T.find("(table_type='' or table_type='VIEW') and creator=1 order"), AnsiString::npos);
  EXPECT_NE(TSQLMetaDataZYL::BuildQuery(ckTables, 7, "").find("table_type='VIEW')  order"), AnsiString::npos);
  EXPECT_THROW(TSQLMetaDataZYL::BuildQuery(ckIndices, 0, std::string(400, '\'')), EZyloException);
  EXPECT_EQ(TSQLMetaDataCursorZYL::MapDomain(20), fldINT64);
  EXPECT_EQ(TSQLMetaDataCursorZYL::MapDomain(28), fldVARBYTES);
  EXPECT_EQ(TSQLMetaDataCursorZYL::MapDomain(30), fldUNKNOWN);
  EXPECT_EQ(TSQLMetaDataCursorZYL::MapDomain(-1), fldUNKNOWN);
}

TEST(DbxValues, BcdAndTimeStampForms) {
  const TBcd Min = zyldbx::Int64ToBcd(INT64_MIN);
  EXPECT_EQ(Min.Precision, 19);
  EXPECT_EQ(Min.SignSpecialPlaces, 0x80);
  EXPECT_EQ(Min.Fraction[0], 0x92);  // 9223372036854775808
  EXPECT_EQ(Min.Fraction[9], 0x80);
  const TBcd Zero = zyldbx::Int64ToBcd(0);
  EXPECT_EQ(Zero.Precision, 1);
  EXPECT_EQ(Zero.Fraction[0], 0);

  TDateTime V = -1;
  EXPECT_TRUE(zyldbx::SQLTimeStampToDateTime(TSQLTimeStamp{}, V));  // all zero: blank, day 0
  EXPECT_EQ(V, 0);
  EXPECT_FALSE(zyldbx::SQLTimeStampToDateTime(TSQLTimeStamp{2001, 2, 29, 0, 0, 0, 0}, V));
  EXPECT_FALSE(zyldbx::SQLTimeStampToDateTime(TSQLTimeStamp{2001, 2, 28, 24, 0, 0, 0}, V));
  ASSERT_TRUE(zyldbx::SQLTimeStampToDateTime(TSQLTimeStamp{1800, 1, 1, 6, 0, 0, 0}, V));
  const TSQLTimeStamp Back = zyldbx::DateTimeToSQLTimeStamp(V);  // before the epoch, too
  EXPECT_EQ((std::vector<int>{Back.Year, Back.Month, Back.Day, Back.Hour}), (std::vector<int>{1800, 1, 1, 6}));

  Tsqldatetime Bad{};  // an invalid record reads as the epoch date at midnight
  Bad.month = 13;
  Bad.hour = 25;
  EXPECT_EQ(zyldbx::AsaToDbxDate(Bad), DBXDateDelta);
  EXPECT_EQ(zyldbx::AsaToDbxTime(Bad), 0);
}

// A host calls the methods by their place in the method table, so the places are the published
// ones whatever the declarations look like. A pointer to a virtual member holds 1 + the byte
// offset of its slot in its first word (the C++ ABI of this platform).
template <class I, class M>
size_t Slot(M I::*Method) {
  static_assert(sizeof Method == 2 * sizeof(uintptr_t));
  uintptr_t Word;
  std::memcpy(&Word, &Method, sizeof Word);
  return (Word - 1) / sizeof(void*);
}

TEST(DbxInterfaces, MethodsSitInThePublishedSlots) {
  EXPECT_EQ(Slot(&IDBXInterface::QueryInterface), 0u);
  EXPECT_EQ(Slot(&IDBXInterface::AddRef), 1u);
  EXPECT_EQ(Slot(&IDBXInterface::Release), 2u);

  EXPECT_EQ(Slot(&ISQLDriver::getSQLConnection), 3u);
  EXPECT_EQ(Slot(&ISQLDriver::SetOption), 4u);
  EXPECT_EQ(Slot(&ISQLDriver::GetOption), 5u);

  const std::vector<size_t> Connection = {
      Slot(&ISQLConnection::connect),          Slot(&ISQLConnection::disconnect),
      Slot(&ISQLConnection::getSQLCommand),    Slot(&ISQLConnection::getSQLMetaData),
      Slot(&ISQLConnection::SetOption),        Slot(&ISQLConnection::GetOption),
      Slot(&ISQLConnection::beginTransaction), Slot(&ISQLConnection::commit),
      Slot(&ISQLConnection::rollback),         Slot(&ISQLConnection::getErrorMessage),
      Slot(&ISQLConnection::getErrorMessageLen)};
  const std::vector<size_t> Command = {
      Slot(&ISQLCommand::SetOption),        Slot(&ISQLCommand::GetOption),       Slot(&ISQLCommand::setParameter),
      Slot(&ISQLCommand::getParameter),     Slot(&ISQLCommand::prepare),         Slot(&ISQLCommand::execute),
      Slot(&ISQLCommand::executeImmediate), Slot(&ISQLCommand::getNextCursor),   Slot(&ISQLCommand::getRowsAffected),
      Slot(&ISQLCommand::close),            Slot(&ISQLCommand::getErrorMessage), Slot(&ISQLCommand::getErrorMessageLen)};
  const std::vector<size_t> Cursor = {
      Slot(&ISQLCursor::SetOption),          Slot(&ISQLCursor::GetOption),       Slot(&ISQLCursor::getErrorMessage),
      Slot(&ISQLCursor::getErrorMessageLen), Slot(&ISQLCursor::getColumnCount),  Slot(&ISQLCursor::getColumnNameLength),
      Slot(&ISQLCursor::getColumnName),      Slot(&ISQLCursor::getColumnType),   Slot(&ISQLCursor::getColumnLength),
      Slot(&ISQLCursor::getColumnPrecision), Slot(&ISQLCursor::getColumnScale),  Slot(&ISQLCursor::isNullable),
      Slot(&ISQLCursor::isAutoIncrement),    Slot(&ISQLCursor::isReadOnly),      Slot(&ISQLCursor::isSearchable),
      Slot(&ISQLCursor::isBlobSizeExact),    Slot(&ISQLCursor::next),            Slot(&ISQLCursor::getString),
      Slot(&ISQLCursor::getShort),           Slot(&ISQLCursor::getLong),         Slot(&ISQLCursor::getDouble),
      Slot(&ISQLCursor::getBcd),             Slot(&ISQLCursor::getTimeStamp),    Slot(&ISQLCursor::getTime),
      Slot(&ISQLCursor::getDate),            Slot(&ISQLCursor::getBytes),        Slot(&ISQLCursor::getBlobSize),
      Slot(&ISQLCursor::getBlob)};
  const std::vector<size_t> MetaData = {
      Slot(&ISQLMetaData::SetOption),          Slot(&ISQLMetaData::GetOption),
      Slot(&ISQLMetaData::getObjectList),      Slot(&ISQLMetaData::getTables),
      Slot(&ISQLMetaData::getProcedures),      Slot(&ISQLMetaData::getColumns),
      Slot(&ISQLMetaData::getProcedureParams), Slot(&ISQLMetaData::getIndices),
      Slot(&ISQLMetaData::getErrorMessage),    Slot(&ISQLMetaData::getErrorMessageLen)};
  // In the published order from slot 3 on, with nothing between them.
  for (const auto* Methods : {&Connection, &Command, &Cursor, &MetaData})
    for (size_t I = 0; I < Methods->size(); ++I) EXPECT_EQ((*Methods)[I], 3 + I) << "method " << I;
}
