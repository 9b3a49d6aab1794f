// Long values end to end: read from the cursor in pieces into TAsaBlobStream, sent to the server
// through connection variables for host variables, updates and inserts.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/asa/AsaStatementEnv.h"

namespace {

using zylasa::AsaSQLTest;
using zylasa::QueryText;

std::vector<uint8_t> Pattern(size_t N, unsigned Seed) {
  std::vector<uint8_t> V(N);
  for (size_t I = 0; I < N; ++I) V[I] = static_cast<uint8_t>((I * 131 + Seed * 7 + (I >> 8)) & 0xFF);
  return V;
}

Variant Bytes(const std::vector<uint8_t>& V) { return VarByteArrayOf(V.data(), V.size()); }

class AsaBlob : public AsaSQLTest {
 protected:
  void MakeBlobs() { Exec("create table b (id integer primary key, data long binary, note long varchar)"); }
};

TEST_F(AsaBlob, HundredThousandBytesAreReadInFourPieces) {
  Connect();
  MakeBlobs();
  const std::vector<uint8_t> Value = Pattern(100000, 1);
  TAsaSQL* W = NewSQL();
  ASSERT_TRUE(W->Execute("insert into b (id, data) values (?, ?)", {1, Bytes(Value)}));
  ASSERT_EQ(QueryText(*Session, "select length(data) from b where id = 1"), "100000");

  TAsaSQL* Q = NewSQL();
  ASSERT_TRUE(Q->OpenRead("select id, data from b", {ZylEmptyParam}));
  ASSERT_EQ(Q->GetFieldType("data"), ztBlob);
  TZyloBlobStream* Blob = Q->GetBlobManager()->BlobByName("data");
  EXPECT_EQ(Blob->GetBlobSize(), 100000);
  EXPECT_EQ(Q->GetBlobPieceReads(), 4) << "32765, 32765, 32765 and 1705 bytes";
  Variant V;
  Q->GetFieldValue("data", V);
  EXPECT_EQ(VarArrayToBytes(V), Value);
  EXPECT_EQ(Q->GetBlobPieceReads(), 8) << "the value is loaded again: it is not kept as written";
  TMemoryStream M;
  Q->BlobToStream("data", &M);
  ASSERT_EQ(M.Size(), 100000);
  EXPECT_EQ(0, std::memcmp(M.Memory(), Value.data(), Value.size()));
}

TEST_F(AsaBlob, SeventyThousandByteParameterTravelsThroughAConnectionVariable) {
  Connect();
  MakeBlobs();
  const std::vector<uint8_t> Value = Pattern(70000, 2);
  TAsaSQL* W = NewSQL();
  const int64_t Before = W->GetSideStatements();
  ASSERT_TRUE(W->Execute("insert into b (data, id) values (?, ?)", {Bytes(Value), 5}));
  EXPECT_EQ(W->GetSideStatements() - Before, 6) << "create, set, three appends, drop";
  EXPECT_EQ(W->GetExecVariables()->Items(0)->FieldType, ztBlob);
  const SQLDA* In = W->GetExecInputSQLDA();
  ASSERT_NE(In, nullptr);
  EXPECT_EQ(In->sqlvar[0].sqltype & DT_TYPES, DT_VARIABLE);
  EXPECT_STREQ(static_cast<const char*>(In->sqlvar[0].sqldata), "blobparam1");
  EXPECT_EQ(QueryText(*Session, "select length(data) from b where id = 5"), "70000");

  TAsaSQL* Q = NewSQL();
  ASSERT_TRUE(Q->OpenRead("select data from b where id = 5", {ZylEmptyParam}));
  Variant V;
  Q->GetFieldValue("data", V);
  EXPECT_EQ(VarArrayToBytes(V), Value);
  // The variable is gone: the same statement can run again.
  ASSERT_TRUE(W->Execute("insert into b (data, id) values (?, ?)", {Bytes(Value), 6}));
  EXPECT_EQ(QueryText(*Session, "select length(data) from b where id = 6"), "70000");
}

TEST_F(AsaBlob, WrittenValueIsReportedWithoutAServerCall) {
  Connect();
  MakeBlobs();
  Exec("insert into b values (1, 0x010203, 'memo text')");
  TAsaSQL* Q = NewSQL();
  ASSERT_TRUE(Q->OpenWrite("select id, data, note from b", {ZylEmptyParam}));
  TZyloBlobStream* Blob = Q->GetBlobManager()->BlobByName("data");
  const uint8_t New[5] = {9, 8, 7, 6, 5};
  Q->SetFieldValue("data", VarByteArrayOf(New, 5));
  const int64_t Reads = Q->GetBlobPieceReads();
  EXPECT_EQ(Blob->GetBlobSize(), 5);
  EXPECT_EQ(Q->GetBlobPieceReads(), Reads);
  EXPECT_TRUE(Q->IsFieldDirty("data"));
  Blob->Truncate();
  EXPECT_EQ(Blob->GetBlobSize(), 0);
  EXPECT_EQ(Q->GetBlobPieceReads(), Reads);
  EXPECT_TRUE(Q->IsFieldDirty("data"));
  // The emptied value is what the update sends.
  ASSERT_TRUE(Q->Modify());
  EXPECT_EQ(QueryText(*Session, "select length(data) from b where id = 1"), "0");
  EXPECT_EQ(Value(Q, "note").AsString(), "memo text");
}

TEST_F(AsaBlob, ModifyAndAppendSendLongValuesThroughVariablesNamedAfterTheField) {
  Connect();
  MakeBlobs();
  Exec("insert into b values (1, 0x00, 'short')");
  const std::vector<uint8_t> Big = Pattern(40000, 3);
  const std::string Text(50000, 'm');
  TAsaSQL* Q = NewSQL();
  ASSERT_TRUE(Q->OpenWrite("select id, data, note from b", {ZylEmptyParam}));
  Q->SetFieldValue("data", Bytes(Big));
  Q->SetFieldValue("note", Text);
  ASSERT_TRUE(Q->Modify());
  EXPECT_FALSE(Q->IsDirty());
  EXPECT_EQ(QueryText(*Session, "select length(data) || '/' || length(note) from b where id = 1"), "40000/50000");

  Q->Clear();
  Q->SetFieldValue("id", 2);
  Q->SetFieldValue("note", AnsiString("appended note"));
  TMemoryStream M;
  M.Write(Big.data(), 1000);
  Q->StreamToBlob("data", &M);
  ASSERT_TRUE(Q->Append()) << Session->GetLastError() << " " << Session->GetLastErrorCode() << " " << Session->GetPushedErrorCode();
  EXPECT_EQ(QueryText(*Session, "select length(data) || '/' || note from b where id = 2"), "1000/appended note");

  TAsaSQL* R = NewSQL();
  ASSERT_TRUE(R->OpenRead("select data, note from b order by id", {ZylEmptyParam}));
  EXPECT_EQ(VarArrayToBytes(Value(R, "data")), Big);
  EXPECT_EQ(Value(R, "note").AsString(), Text);
  ASSERT_TRUE(R->Next());
  EXPECT_EQ(VarArrayToBytes(Value(R, "data")), std::vector<uint8_t>(Big.begin(), Big.begin() + 1000));
  // Nothing of the connection variables outlives the statements.
  EXPECT_LT(zylasa::ExecImm(*Session, "drop variable data"), 0);
  EXPECT_LT(zylasa::ExecImm(*Session, "drop variable note"), 0);
}

TEST_F(AsaBlob, FailingVariableCreationIsReportedAndLosesNothing) {
  Connect();
  MakeBlobs();
  // A variable of that name exists already, so the statement's own cannot be created.
  Exec("create variable blobparam2 long binary");
  TAsaSQL* W = NewSQL(false);
  const std::vector<uint8_t> Value = Pattern(40000, 4);
  EXPECT_FALSE(W->Execute("insert into b (id, data) values (?, ?)", {1, Bytes(Value)}));
  EXPECT_EQ(W->GetLastErrorCode(), SQLE_VARIABLE_EXISTS) << "the statement did not run without its value";
  EXPECT_EQ(QueryText(*Session, "select count(*) from b"), "0");
  EXPECT_EQ(zylasa::ExecImm(*Session, "set blobparam2 = 0x01"), 0) << "a variable this statement did not make stays";
  EXPECT_EQ(zylasa::ExecImm(*Session, "drop variable blobparam2"), 0);
  // With the name free again the same statement runs.
  ASSERT_TRUE(W->Execute("insert into b (id, data) values (?, ?)", {1, Bytes(Value)}));
  EXPECT_EQ(QueryText(*Session, "select length(data) from b"), "40000");
}

}  // namespace
