// Connections: the two forms of the server name, errors and their list, trace texts, options and
// transactions.
#include "tests/dbxdriver/DbxHost.h"

using namespace dbxtest;

TEST_F(DbxTest, FailuresAccumulateInTheErrorListUntilRead) {
  TraceLog Log;
  TraceLog::Current = &Log;
  Ref<ISQLDriver> D = NewDriver("");
  Ref<ISQLConnection> C = NewConnection(D.Get());
  ASSERT_EQ(C->SetOption(eConnCallBack, reinterpret_cast<TDBXOptionValue>(&TraceLog::Callback)), SQL_SUCCESS);
  ASSERT_EQ(C->SetOption(eConnCallBackInfo, 4242), SQL_SUCCESS);
  std::string S = "somedb";
  EXPECT_EQ(C->connect(S.data(), nullptr, nullptr), DBXERR_DRIVERERROR);
  EXPECT_EQ(C->connect(S.data(), nullptr, nullptr), DBXERR_DRIVERERROR);
  int16_t Len = 0;
  ASSERT_EQ(C->getErrorMessageLen(&Len), SQL_SUCCESS);
  const std::string Text = ErrorText(C.Get());
  EXPECT_EQ(static_cast<size_t>(Len), Text.size());
  ASSERT_EQ(Text.rfind("Could not load the Database Interface library", 0), 0u) << Text;
  const size_t Break = Text.find("\r\n");
  ASSERT_NE(Break, std::string::npos);
  EXPECT_EQ(Text.substr(0, Break + 2) + Text.substr(0, Break + 2), Text);  // two equal lines
  ASSERT_EQ(C->getErrorMessageLen(&Len), SQL_SUCCESS);
  EXPECT_EQ(Len, 0);  // reading emptied the list
  EXPECT_EQ(Log.Texts, (std::vector<std::string>{"ZYL - Connect", "ZYL - Connect", "ZYL - Error", "ZYL - Error",
                                                 "ZYL - Error"}));
  EXPECT_EQ(Log.ClientData.front(), 4242);
  TraceLog::Current = nullptr;
}

TEST_F(DbxTest, ConnectsByKeyValuePairsAndByPlainDatabaseName) {
  const std::string Db = CreateDb("word");
  // The pairs start a server for the file (engine "word", database "word"); a plain word then
  // names both. A token without '=' is dropped.
  Ref<ISQLConnection> First = Connect("servertype=server ; ENG=word;dbf=" + Db + ";;trimblanks=on;garbage");
  Ref<ISQLConnection> Second = Connect("word");
  Exec(First.Get(), "create table t(c char(8))");
  Exec(First.Get(), "insert into t values ('ab   ')");
  Exec(First.Get(), "commit");
  for (ISQLConnection* C : {First.Get(), Second.Get()}) {
    Ref<ISQLCommand> Cmd = Command(C);
    Ref<ISQLCursor> Cur = Open(Cmd.Get(), "select c from t");
    ASSERT_EQ(Cur->next(), SQL_SUCCESS);
    EXPECT_EQ(Str(Cur.Get(), 1), C == First.Get() ? "ab" : "ab   ");  // trimblanks=on trims
  }
  // A value in quotes keeps its semicolon.
  const std::string Odd = CreateDb("a;b");
  Ref<ISQLConnection> Quoted = Connect("servertype=server;dbf='" + Odd + "'");
}

TEST_F(DbxTest, CommitOnDisconnectIsReadAsABoolean) {
  const std::string Db = CreateDb();
  Ref<ISQLConnection> Keep = Connect(ServerFor(Db));  // keeps the server up between connections
  Exec(Keep.Get(), "create table t(v int)");
  Exec(Keep.Get(), "commit");
  for (const char* Word : {"yes", "TRUE"}) {
    Ref<ISQLConnection> C = Connect(ServerFor(Db) + ";CommitOnDisconnect=" + Word);
    ASSERT_EQ(C->SetOption(eConnAutoCommit, 0), SQL_SUCCESS);
    Exec(C.Get(), "insert into t values (1)");
    EXPECT_EQ(C->disconnect(), SQL_SUCCESS);
  }
  Ref<ISQLCommand> Cmd = Command(Keep.Get());
  Ref<ISQLCursor> Cur = Open(Cmd.Get(), "select count(*) from t");
  ASSERT_EQ(Cur->next(), SQL_SUCCESS);
  EXPECT_EQ(Long(Cur.Get(), 1), 1);  // "yes" is false, "TRUE" is true
}

TEST_F(DbxTest, ConnectionOptionsReadBackAndRefuseShortBuffers) {
  const std::string Db = CreateDb();
  Ref<ISQLConnection> C = Connect(ServerFor(Db));
  int32_t V = 0x7f7f7f7f;
  int16_t L = -1;
  EXPECT_EQ(C->SetOption(eConnTxnIsoLevel, xilREPEATABLEREAD), SQL_SUCCESS);
  EXPECT_EQ(C->GetOption(eConnTxnIsoLevel, &V, 4, &L), SQL_SUCCESS);
  EXPECT_EQ(V, 1);
  EXPECT_EQ(C->SetOption(eConnTxnIsoLevel, 3), SQL_SUCCESS);  // unchanged: read back as custom
  EXPECT_EQ(C->GetOption(eConnTxnIsoLevel, &V, 4, &L), SQL_SUCCESS);
  EXPECT_EQ(V, 3);
  V = 0x7f7f7f7f;
  EXPECT_EQ(C->SetOption(eConnAutoCommit, 1), SQL_SUCCESS);
  EXPECT_EQ(C->GetOption(eConnAutoCommit, &V, 4, &L), SQL_SUCCESS);
  EXPECT_EQ(V, 1);  // the whole variable, exactly 1
  EXPECT_EQ(C->SetOption(eConnBlobSize, -1), SQL_SUCCESS);
  EXPECT_EQ(C->GetOption(eConnBlobSize, &V, 4, &L), SQL_SUCCESS);
  EXPECT_EQ(V, -1);
  EXPECT_EQ(C->GetOption(eConnBlobSize, &V, 2, &L), DBXERR_INVALIDLEN);

  void* Handle = nullptr;
  EXPECT_EQ(C->GetOption(eConnNativeHandle, &Handle, sizeof Handle, &L), SQL_SUCCESS);
  EXPECT_NE(Handle, nullptr);
  EXPECT_EQ(L, static_cast<int16_t>(sizeof(void*)));  // pointer-wide

  char Buf[256];
  EXPECT_EQ(C->GetOption(eConnServerVersion, Buf, 4, &L), SQL_SUCCESS);
  EXPECT_EQ(L, 3);  // cut to the buffer
  const std::string Name = "DBA.customer";
  EXPECT_EQ(C->SetOption(eConnQualifiedName, reinterpret_cast<TDBXOptionValue>(Name.c_str())), SQL_SUCCESS);
  for (uint32_t Opt : {eConnQualifiedName, eConnObjectName, eConnQuotedObjectName}) {
    EXPECT_EQ(C->GetOption(Opt, Buf, sizeof Buf, &L), SQL_SUCCESS);
    EXPECT_EQ(std::string(Buf), Name);
    EXPECT_EQ(L, static_cast<int16_t>(Name.size()));
  }
  EXPECT_EQ(C->GetOption(eConnSchemaName, Buf, sizeof Buf, &L), SQL_SUCCESS);
  EXPECT_EQ(std::string(Buf), "");
  EXPECT_EQ(C->GetOption(eConnQualifiedName, Buf, 5, &L), DBXERR_DRIVERERROR);  // never cut silently
  EXPECT_NE(ErrorText(C.Get()).find("option 26"), std::string::npos);
  EXPECT_EQ(C->GetOption(eConnHostName, Buf, sizeof Buf, &L), DBXERR_NOTSUPPORTED);
  EXPECT_EQ(C->SetOption(eConnHostName, 0), DBXERR_NOTSUPPORTED);
  // The host clears its callbacks on every close and insists on success.
  EXPECT_EQ(C->SetOption(eConnCallBack, 0), SQL_SUCCESS);
  EXPECT_EQ(C->SetOption(eConnCallBackInfo, 0), SQL_SUCCESS);
}

TEST_F(DbxTest, TransactionsOneAtATime) {
  const std::string Db = CreateDb();
  Ref<ISQLConnection> C = Connect(ServerFor(Db));
  Exec(C.Get(), "create table t(v int)");
  TTransactionDesc Desc{1, 0, xilREADCOMMITTED, 0};
  const auto Id = reinterpret_cast<TDBXTransactionId>(&Desc);
  ASSERT_EQ(C->beginTransaction(Id), SQL_SUCCESS);
  EXPECT_EQ(C->beginTransaction(Id), DBXERR_DRIVERERROR);
  EXPECT_NE(ErrorText(C.Get()).find("A user transaction is already in progress"), std::string::npos);
  Exec(C.Get(), "insert into t values (1)");
  EXPECT_EQ(C->rollback(Id), SQL_SUCCESS);
  ASSERT_EQ(C->beginTransaction(Id), SQL_SUCCESS);
  Exec(C.Get(), "insert into t values (2)");
  EXPECT_EQ(C->commit(Id), SQL_SUCCESS);
  Ref<ISQLCommand> Cmd = Command(C.Get());
  Ref<ISQLCursor> Cur = Open(Cmd.Get(), "select v from t");
  ASSERT_EQ(Cur->next(), SQL_SUCCESS);
  EXPECT_EQ(Long(Cur.Get(), 1), 2);
}

TEST_F(DbxTest, OverlongServerNameIsRefused) {
  Ref<ISQLDriver> D = NewDriver();
  Ref<ISQLConnection> C = NewConnection(D.Get());
  std::string S = "servertype=server;dbf='" + std::string(40000, 'x');  // unterminated quote as well
  EXPECT_EQ(C->connect(S.data(), nullptr, nullptr), DBXERR_DRIVERERROR);
  EXPECT_NE(ErrorText(C.Get()).find("The server name is longer than 32767 characters"), std::string::npos);
}
