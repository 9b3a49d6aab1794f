// TZyloSQL through the test binding: the order of the life-cycle steps, state flags, events,
// parameter variables, field access, dirty tracking, output variables, conversions and the
// exchange of blob fields with streams.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "tests/base/TestBinding.h"

namespace {

class StatementTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* Dir = std::getenv("ZYL_LIB_DIR");
    ASSERT_NE(Dir, nullptr);
    S.SetLibraryPath(Dir);
    Q.SetSession(&S);
    Q.Columns = {{"ID", ztInteger, 4}, {"NAME", ztString, 11}, {"NOTE", ztMemo, 8}};
    Q.Rows = {{1, "one", "first note"}, {2, Variant::Null(), Variant::Null()}};
    Q.AfterOpen = [this](TObject*) { ++AfterOpenCount; };
  }
  size_t Count(const std::string& Step) const { return static_cast<size_t>(std::count(Q.Log.begin(), Q.Log.end(), Step)); }
  bool Logged(const std::string& Step) const { return Count(Step) > 0; }

  TTestSession S;
  TTestSQL Q;
  int AfterOpenCount = 0;
};

AnsiString RaisedText(const std::function<void()>& F) {
  try {
    F();
  } catch (const EZyloException& E) {
    return E.Message();
  }
  return "(nothing raised)";
}

}  // namespace

TEST_F(StatementTest, OpenWithTheSameTextReusesThePreparedCursor) {
  ASSERT_TRUE(Q.Open("select * from t", {}, true));
  EXPECT_TRUE(Q.GetActive());
  EXPECT_TRUE(Q.GetReadOnly());
  EXPECT_EQ(AfterOpenCount, 1);
  EXPECT_EQ(Count("LoadLibraryProcs"), 1u);
  ASSERT_TRUE(Q.Open("select * from t", {}, true));
  EXPECT_EQ(Count("PrepareOpen select * from t"), 1u) << "same text: closed, not prepared again";
  EXPECT_EQ(Count("UnprepareOpen"), 0u);
  ASSERT_TRUE(Q.Open("select id from t", {}, true));
  EXPECT_EQ(Count("UnprepareOpen"), 1u);
  EXPECT_EQ(Q.GetOpenSQL(), "select id from t");
  EXPECT_EQ(S.GetLastStatement(), "select id from t");
  EXPECT_EQ(AfterOpenCount, 3);
}

TEST_F(StatementTest, OpenReadFetchesTheFirstRowAndFiresAfterOpenOnlyWithARow) {
  ASSERT_TRUE(Q.OpenRead("select * from t", {ZylEmptyParam}));
  EXPECT_EQ(AfterOpenCount, 1);
  EXPECT_EQ(Q.GetCurrentRow(), 0);
  Variant V;
  Q.GetFieldValue("id", V);
  EXPECT_EQ(V.AsInteger(), 1);
  Q.GetFieldValue(1, V);
  EXPECT_EQ(V.AsString(), "one");
  Q.GetFieldValue("NOTE", V);
  EXPECT_EQ(V.AsString(), "first note") << "a memo is read through its blob stream";

  Q.Rows.clear();
  EXPECT_FALSE(Q.OpenRead("select * from t", {}));
  EXPECT_EQ(AfterOpenCount, 1) << "an empty result fires no AfterOpen";

  Q.UniDirectional = true;
  Q.Rows = {{5, "x", "y"}};
  Q.Log.clear();
  EXPECT_TRUE(Q.OpenRead("select * from t", {}));
  EXPECT_TRUE(Logged("FetchNext"));
  EXPECT_FALSE(Logged("FetchFirst"));
}

TEST_F(StatementTest, OpenWriteAfterOpenReadPreparesAgain) {
  ASSERT_TRUE(Q.OpenRead("select * from t", {}));
  Q.Log.clear();
  ASSERT_TRUE(Q.OpenWrite("select * from t", {}));
  EXPECT_TRUE(Logged("UnprepareOpen"));
  EXPECT_TRUE(Logged("PrepareOpen select * from t"));
  EXPECT_TRUE(Logged("Open write"));
  EXPECT_FALSE(Q.GetReadOnly());
  EXPECT_TRUE(Q.CanModify());
  Q.Log.clear();
  ASSERT_TRUE(Q.OpenWrite("select * from t", {}));  // already writable: reused
  EXPECT_FALSE(Logged("UnprepareOpen"));
}

TEST_F(StatementTest, PreparedFormsRequireAPreparedSide) {
  EXPECT_EQ(RaisedText([&] { Q.OpenPrepared({}, true); }), "The cursor is not prepared");
  EXPECT_EQ(RaisedText([&] { Q.OpenReadPrepared({}); }), "The cursor is not prepared");
  EXPECT_EQ(RaisedText([&] { Q.ExecutePrepared({}); }), "The statement is not prepared");
  EXPECT_EQ(S.GetLastError(), "The statement is not prepared");
  EXPECT_EQ(S.GetLastErrorCode(), 0);
  EXPECT_EQ(RaisedText([&] { Q.MoveToFirst(); }), "The cursor is not opened");
  EXPECT_EQ(RaisedText([&] { Q.MoveTo(3); }), "The cursor is not opened");

  Q.PrepareOpen("select * from t");
  EXPECT_TRUE(Q.GetPrepared());
  Q.Log.clear();
  ASSERT_TRUE(Q.OpenWritePrepared({}));
  EXPECT_EQ(Q.Log, (TStepLog{"Close", "BindOpen", "Open write", "FetchFirst"}));
  EXPECT_EQ(AfterOpenCount, 1);
}

TEST_F(StatementTest, ClosingAndUnpreparingResetTheState) {
  ASSERT_TRUE(Q.OpenRead("select * from t", {1}));
  EXPECT_EQ(Q.GetOpenVariables()->Count(), 1);
  Q.Close();
  EXPECT_FALSE(Q.GetActive());
  EXPECT_TRUE(Q.GetBOF());
  EXPECT_TRUE(Q.GetEOF());
  EXPECT_EQ(Q.GetCurrentRow(), -1);
  EXPECT_TRUE(Q.GetPrepared());
  Q.UnprepareOpen();
  EXPECT_FALSE(Q.GetPrepared());
  EXPECT_EQ(Q.GetFieldCount(), 0);
  EXPECT_EQ(Q.GetOpenSQL(), "");
  EXPECT_EQ(Q.GetRecordBuffer(), nullptr);
  EXPECT_EQ(Q.GetRecordSize(), 0);
  EXPECT_EQ(Q.GetBlobManager()->Count(), 0);
  EXPECT_EQ(Q.GetOpenVariables()->Count(), 0);
}

TEST_F(StatementTest, BuffersHoldFetchCountRowsAndRepositioningResetsThem) {
  Q.SetMaxFetchCount(7);
  ASSERT_TRUE(Q.Open("select * from t", {}, true));
  EXPECT_EQ(Q.GetFetchCount(), 7);
  EXPECT_EQ(Q.GetAllocatedRows(), 7);
  EXPECT_EQ(Q.GetRecordSize(), 23);
  EXPECT_EQ(Q.GetIndicatorSize(), 6);
  Q.GetFetchBuffer()[0] = 0x5A;
  Q.GetFetchIndicators()[0] = 0;
  ASSERT_TRUE(Q.MoveToFirst());
  EXPECT_EQ(Q.FetchByteSeen, 0) << "the fetch buffer is zeroed before repositioning";
  EXPECT_EQ(Q.IndicatorByteSeen, 255) << "the indicators are filled with 255";
}

TEST_F(StatementTest, LimitsOfMaxFetchCountAndBlobSize) {
  EXPECT_EQ(Q.GetMaxFetchCount(), 25);
  Q.SetMaxFetchCount(0);
  Q.SetMaxFetchCount(1001);
  EXPECT_EQ(Q.GetMaxFetchCount(), 25);
  Q.SetMaxFetchCount(1000);
  EXPECT_EQ(Q.GetMaxFetchCount(), 1000);
  Q.SetBlobSize(32764);
  Q.SetBlobSize(-1);
  EXPECT_EQ(Q.GetBlobSize(), 0);
  Q.SetBlobSize(32763);
  EXPECT_EQ(Q.GetBlobSize(), 32763);
}

TEST_F(StatementTest, NoParametersInAnyOfItsForms) {
  for (const TVariantArray& P : {TVariantArray{}, TVariantArray{ZylEmptyParam}, TVariantArray{Variant::Null()},
                                 TVariantArray{Variant()}}) {
    Variant V = Q.InternalCheckVarValues(P);
    EXPECT_TRUE(V.IsNull());
    ASSERT_TRUE(Q.Execute("update t", P));
    EXPECT_EQ(Q.GetExecVariables()->Count(), 0);
  }
  Variant Two = Q.InternalCheckVarValues({1, "a"});
  ASSERT_TRUE(Two.IsArray());
  EXPECT_EQ(Two.ElementCount(), 2);
  Variant Packed = VarArrayOf({7, 8, 9});
  Variant Same = Q.InternalCheckVarValues({Packed});
  EXPECT_EQ(Same.ElementCount(), 3) << "an array given as the only value is the parameter list";
  Variant OneNullOfTwo = Q.InternalCheckVarValues({Variant::Null(), 1});
  EXPECT_EQ(OneNullOfTwo.ElementCount(), 2);
}

TEST_F(StatementTest, VariablesFollowTheValues) {
  ASSERT_TRUE(Q.Execute("update t set a = ?, b = ?", {42, "short"}));
  TZyloVariableDefs* V = Q.GetExecVariables();
  ASSERT_EQ(V->Count(), 2);
  EXPECT_EQ(V->Items(0)->Name, "?");
  EXPECT_EQ(V->Items(0)->FieldType, ztInteger);
  EXPECT_EQ(V->Items(0)->ExtType, 502);
  EXPECT_EQ(V->Items(0)->Size, 4);
  EXPECT_EQ(V->Items(1)->FieldType, ztString);
  EXPECT_EQ(V->Items(1)->Size, 11);
  EXPECT_EQ(V->BufSize, 15);
  int32_t Stored;
  std::memcpy(&Stored, V->Buffer.Data(), 4);
  EXPECT_EQ(Stored, 42);
  EXPECT_STREQ(reinterpret_cast<char*>(V->Buffer.Data() + 4), "short");
  EXPECT_EQ(Q.GetRowsProcessed(), 2);

  // Same types and lengths: definitions and the bound descriptor are kept.
  ASSERT_TRUE(Q.Execute("update t set a = ?, b = ?", {43, "other"}));
  EXPECT_EQ(Count("BindExec"), 1u);
  EXPECT_EQ(Count("PrepareExecute update t set a = ?, b = ?"), 1u);
  std::memcpy(&Stored, V->Buffer.Data(), 4);
  EXPECT_EQ(Stored, 43);

  // A string longer than the binding's length becomes a memo of its own length...
  ASSERT_TRUE(Q.Execute("update t set a = ?, b = ?", {43, "a text of twenty ch"}));
  EXPECT_EQ(V->Items(1)->FieldType, ztMemo);
  EXPECT_EQ(V->Items(1)->Size, 19);
  EXPECT_EQ(Count("BindExec"), 2u);
  // ...and the next short string rebuilds the variables (long values always do).
  ASSERT_TRUE(Q.Execute("update t set a = ?, b = ?", {43, "short"}));
  EXPECT_EQ(V->Items(1)->FieldType, ztString);
  EXPECT_EQ(Count("BindExec"), 3u);

  // A different text unprepares the previous one.
  ASSERT_TRUE(Q.Execute("delete from t", {}));
  EXPECT_EQ(Count("UnprepareExecute"), 1u);
  EXPECT_EQ(Q.GetExecSQL(), "delete from t");
}

TEST_F(StatementTest, VariableTypesOfEveryKindOfValue) {
  int32_t L = 0;
  EXPECT_EQ(Q.InternalGetVariableTypeAndLength(Variant(short(1)), L), ztInteger);
  EXPECT_EQ(Q.InternalGetVariableTypeAndLength(Variant(static_cast<unsigned char>(1)), L), ztInteger);
  EXPECT_EQ(Q.InternalGetVariableTypeAndLength(Variant(1.5), L), ztFloat);
  EXPECT_EQ(L, 8);
  EXPECT_EQ(Q.InternalGetVariableTypeAndLength(Variant(1.5f), L), ztFloat);
  EXPECT_EQ(Q.InternalGetVariableTypeAndLength(Variant(Currency::FromInt(3)), L), ztCurrency);
  EXPECT_EQ(Q.InternalGetVariableTypeAndLength(Variant::FromDateTime(36000.5), L), ztDateTime);
  EXPECT_EQ(Q.InternalGetVariableTypeAndLength(Variant(true), L), ztBoolean);
  EXPECT_EQ(Q.InternalGetVariableTypeAndLength(Variant::FromOleStr("x"), L), ztString);
  EXPECT_EQ(Q.InternalGetVariableTypeAndLength(Variant(static_cast<long long>(1) << 40), L), ztInt64);
  EXPECT_EQ(Q.InternalGetVariableTypeAndLength(Variant::Null(), L), ztUnknown);
  EXPECT_EQ(L, 0);
  uint8_t Bytes[7] = {1, 2, 3, 4, 5, 6, 7};
  EXPECT_EQ(Q.InternalGetVariableTypeAndLength(VarByteArrayOf(Bytes, 6), L), ztBinary);
  EXPECT_EQ(L, 6);
  EXPECT_EQ(Q.InternalGetVariableTypeAndLength(VarByteArrayOf(Bytes, 7), L), ztBlob);
  EXPECT_EQ(L, 7);
  EXPECT_EQ(Q.InternalGetVariableTypeAndLength(VarArrayOf({1, 2}), L), ztUnknown);
  EXPECT_EQ(Q.InternalGetVariableTypeAndLength(Variant("ten chars!"), L), ztString);
  EXPECT_EQ(Q.InternalGetVariableTypeAndLength(Variant("eleven char"), L), ztMemo);
  EXPECT_EQ(L, 11);
}

TEST_F(StatementTest, DuplicateColumnNamesGetCounters) {
  Q.Columns = {{"ID", ztInteger, 4}, {"id", ztInteger, 4}, {"ID", ztInteger, 4}, {"ID_1", ztInteger, 4}};
  Q.Rows.clear();
  Q.PrepareOpen("select * from a, b");
  ASSERT_EQ(Q.GetFieldCount(), 4);
  EXPECT_EQ(Q.GetFieldName(0), "ID");
  EXPECT_EQ(Q.GetFieldName(1), "id_1");
  EXPECT_EQ(Q.GetFieldName(2), "ID_2");
  EXPECT_EQ(Q.GetFieldName(3), "ID_1_1");
  EXPECT_EQ(Q.GetFieldName(4), "");
}

TEST_F(StatementTest, MetadataNeverRaisesButValueAccessDoes) {
  ASSERT_TRUE(Q.OpenRead("select * from t", {}));
  EXPECT_EQ(Q.GetFieldType(5), ztUnknown);
  EXPECT_EQ(Q.GetFieldType("name"), ztString);
  EXPECT_EQ(Q.GetFieldType(Variant(short(2))), ztMemo);
  EXPECT_EQ(Q.GetFieldSize("nope"), 0);
  EXPECT_EQ(Q.GetField(-1), nullptr);
  EXPECT_TRUE(Q.GetFieldNulls("ID"));
  EXPECT_TRUE(Q.FindField("Note"));
  EXPECT_FALSE(Q.FindField("x"));
  Variant V = 99;
  EXPECT_EQ(RaisedText([&] { Q.GetFieldValue(5, V); }), "Field \"5\" not found");
  EXPECT_TRUE(V.IsNull()) << "the value is Null when the field is not found";
  EXPECT_EQ(S.GetLastError(), "Field \"5\" not found");
  EXPECT_EQ(RaisedText([&] { Q.GetOldValue("zip", V); }), "Field \"zip\" not found");
  EXPECT_EQ(RaisedText([&] { Q.IsFieldNull("zip"); }), "Field \"zip\" not found");
  EXPECT_EQ(RaisedText([&] { Q.IsFieldDirty(Variant(3)); }), "Field \"3\" not found");
}

TEST_F(StatementTest, NullsAndDirtyTracking) {
  ASSERT_TRUE(Q.OpenWrite("select * from t", {}));
  EXPECT_FALSE(Q.IsFieldNull("NAME"));
  EXPECT_FALSE(Q.IsDirty());
  Q.SetFieldValue("NAME", Variant::Null());
  EXPECT_TRUE(Q.IsFieldNull("NAME"));
  TZyloFieldDef* Name = Q.GetField("NAME");
  for (int I = 0; I < Name->Size; ++I) EXPECT_EQ(Q.GetRecordBuffer()[Name->Offset + I], 0);
  EXPECT_TRUE(Q.IsFieldDirty("NAME")) << "the old value was not null";
  EXPECT_TRUE(Q.IsDirty());
  Q.SetFieldValue("NAME", "one");
  EXPECT_FALSE(Q.IsFieldDirty("NAME")) << "the same text again is no change";
  Q.SetFieldValue("NAME", "two");
  EXPECT_TRUE(Q.IsFieldDirty("NAME"));
  Variant Old;
  Q.GetOldValue("NAME", Old);
  EXPECT_EQ(Old.AsString(), "one");

  Q.SetFieldValue("ID", 1);
  EXPECT_FALSE(Q.IsFieldDirty("ID"));
  Q.SetFieldValue("ID", 2);
  EXPECT_TRUE(Q.IsFieldDirty("ID"));

  EXPECT_FALSE(Q.IsFieldDirty("NOTE"));
  Q.SetFieldValue("NOTE", "new note");
  EXPECT_TRUE(Q.IsFieldDirty("NOTE")) << "a written blob stream is a change";
  Variant Note;
  Q.GetFieldValue("NOTE", Note);
  EXPECT_EQ(Note.AsString(), "new note");

  ASSERT_TRUE(Q.Next());  // row 2: NAME is NULL in the row
  EXPECT_TRUE(Q.IsFieldNull("NAME"));
  EXPECT_FALSE(Q.IsFieldDirty("NOTE")) << "a row change clears the streams";
  Q.ClearFieldNotNull("NAME");
  EXPECT_FALSE(Q.IsFieldNull("NAME"));
  EXPECT_TRUE(Q.IsFieldDirty("NAME"));
  Q.ClearField("NAME");
  EXPECT_TRUE(Q.IsFieldNull("NAME"));
  Q.ClearField("unknown");  // does nothing
  EXPECT_EQ(RaisedText([&] { Q.SetFieldValue("zip", 1); }), "Field \"zip\" not found");
}

TEST_F(StatementTest, ReadOnlyCursorRefusesWrites) {
  ASSERT_TRUE(Q.OpenRead("select * from t", {}));
  EXPECT_FALSE(Q.CanModify());
  EXPECT_EQ(RaisedText([&] { Q.SetFieldValue("ID", 3); }), "The cursor is read-only");
  EXPECT_EQ(RaisedText([&] { Q.Clear(); }), "The cursor is read-only");
  TMemoryStream M;
  EXPECT_EQ(RaisedText([&] { Q.StreamToBlob("NOTE", &M); }), "The cursor is read-only");
  Variant V;
  Q.GetFieldValue("ID", V);
  EXPECT_EQ(V.AsInteger(), 1) << "nothing was written";
}

TEST_F(StatementTest, ClearLeavesHiddenKeyFieldsAlone) {
  Q.Columns = {{"K", ztInteger, 4, kiHiddenKeyField}, {"V", ztInteger, 4}};
  Q.Rows = {{7, 8}};
  EXPECT_EQ(RaisedText([&] { Q.Clear(); }), "The cursor is not opened");
  ASSERT_TRUE(Q.OpenWrite("select k, v from t", {}));
  Q.Clear();
  Variant K, V;
  Q.GetFieldValue("K", K);
  Q.GetFieldValue("V", V);
  EXPECT_EQ(K.AsInteger(), 7);
  EXPECT_FALSE(Q.IsFieldNull("K"));
  EXPECT_EQ(V.AsInteger(), 0);
  EXPECT_TRUE(Q.IsFieldNull("V"));
  Q.ClearNotNull();
  EXPECT_FALSE(Q.IsFieldNull("V"));
  EXPECT_EQ(RaisedText([&] { Q.Close(); Q.IsDirty(); }), "The cursor is not opened");
}

TEST_F(StatementTest, OutputVariablesAreFoundByNameOrNumber) {
  ASSERT_TRUE(Q.Execute("call p(?, ?, ?)", {1, 2, 3}));
  Variant V;
  Q.GetOutVar("COUNT", V);
  EXPECT_EQ(V.AsInteger(), 3);
  Q.GetOutVar(0, V);
  EXPECT_EQ(V.AsInteger(), 3);
  Q.GetOutVar("?", V);  // not an output: the input variables are searched next
  EXPECT_EQ(V.AsInteger(), 1);
  V = 5;
  EXPECT_EQ(RaisedText([&] { Q.GetOutVar("missing", V); }), "Host variable \"missing\" not found");
  EXPECT_TRUE(V.IsNull());
}

TEST_F(StatementTest, SessionLinkIsRequiredOutsideDesignMode) {
  TTestSQL Alone;
  EXPECT_EQ(RaisedText([&] { Alone.GetSession(); }), "The session property is not linked to a session");
  EXPECT_EQ(RaisedText([&] { Alone.Open("select 1", {}, true); }), "The session property is not linked to a session");
  EXPECT_EQ(Alone.GetSessionObject(), nullptr);
  Alone.SetDesigning(true);
  EXPECT_EQ(Alone.GetSession(), nullptr);
  EXPECT_EQ(RaisedText([&] { Alone.MoveToFirst(); }), "The cursor is not opened") << "raised without a session";
  EXPECT_EQ(RaisedText([&] { Alone.ExecutePrepared({}); }), "The statement is not prepared");
  EXPECT_EQ(Alone.GetLastErrorCode(), 0);
}

TEST_F(StatementTest, TextsAreConvertedToOemAndTableNamesBack) {
  S.SetOEMConvert(true);
  ASSERT_TRUE(Q.Open("select * from caf\xE9", {}, true));
  EXPECT_EQ(S.GetLastStatement(), "select * from caf\xE9") << "the session keeps the text as given";
  EXPECT_EQ(Q.GetOpenSQL(), "select * from caf\x82");
  EXPECT_EQ(Q.GetTableName(), "caf\xE9");
  ASSERT_TRUE(Q.Open("select * from caf\xE9", {}, true));
  EXPECT_EQ(std::count(Q.Log.begin(), Q.Log.end(), "UnprepareOpen"), 0) << "converted texts compare equal";
}

TEST_F(StatementTest, DescribeReportsWhetherThereAreColumns) {
  EXPECT_TRUE(Q.Describe("select * from t"));
  EXPECT_EQ(Q.GetFieldCount(), 3);
  EXPECT_TRUE(Q.Describe("select * from t"));
  EXPECT_EQ(Count("PrepareOpen select * from t"), 1u);
  Q.Columns.clear();
  EXPECT_FALSE(Q.Describe("update t set a = 1"));
  Q.FailPrepare = true;
  EXPECT_FALSE(Q.Describe("select broken"));
  EXPECT_EQ(S.GetLastErrorCode(), -1);
  Q.SetWantExceptions(true);
  EXPECT_THROW(Q.Describe("select broken again"), EAsaException);
}

TEST_F(StatementTest, PrepareServesBothSidesAndUnprepareClearsBoth) {
  Q.Prepare("select * from t");
  EXPECT_TRUE(Q.GetPrepared());
  EXPECT_TRUE(Q.GetExecPrepared());
  Q.Unprepare();
  EXPECT_FALSE(Q.GetPrepared());
  EXPECT_FALSE(Q.GetExecPrepared());
  EXPECT_EQ(Q.GetExecSQL(), "");
}

TEST(ZylbaseConversions, NeutralValuesInsteadOfErrors) {
  EXPECT_EQ(TZyloSQL::SetVarToInt64(2.5), 2);
  EXPECT_EQ(TZyloSQL::SetVarToInt64(3.5), 4);
  EXPECT_EQ(TZyloSQL::SetVarToInt64(-2.5), -2);
  EXPECT_EQ(TZyloSQL::SetVarToInt64("abc"), 0);
  EXPECT_EQ(TZyloSQL::SetVarToInt64(true), 1);
  EXPECT_EQ(TZyloSQL::SetVarToInt64(1e300), 0) << "out of range is a failed conversion";
  EXPECT_EQ(TZyloSQL::SetVarToInt64(Variant(9007199254740993LL)), 9007199254740993LL);
  EXPECT_EQ(TZyloSQL::SetVarToInt(true), 1);
  EXPECT_EQ(TZyloSQL::SetVarToInt(false), 0);
  EXPECT_EQ(TZyloSQL::SetVarToInt("12"), 12);
  EXPECT_EQ(TZyloSQL::SetVarToInt("x"), 0);
  EXPECT_EQ(TZyloSQL::SetVarToInt(Variant::Null()), 0);
  EXPECT_EQ(TZyloSQL::SetVarToFloat(true), 1.0);
  EXPECT_EQ(TZyloSQL::SetVarToFloat("2.25"), 2.25);
  EXPECT_EQ(TZyloSQL::SetVarToFloat("x"), 0.0);
  EXPECT_EQ(TZyloSQL::SetVarToStr(Variant::Null()), "");
  EXPECT_EQ(TZyloSQL::SetVarToStr(12), "12");
  EXPECT_FALSE(TZyloSQL::SetVarToBoolean("maybe"));
  EXPECT_TRUE(TZyloSQL::SetVarToBoolean(1));
  EXPECT_EQ(TZyloSQL::SetVarToDateTime("not a date"), 0.0);
  EXPECT_EQ(TZyloSQL::SetVarToDateTime("1899-12-31"), 1.0);
}

TEST(ZylbaseConversions, BytesAndStreams) {
  const char Raw[] = "ab\0c";
  EXPECT_TRUE(TZyloSQL::StrToVarByte(Raw, 0).IsNull());
  EXPECT_TRUE(TZyloSQL::StrToVarByte(Raw, -1).IsNull());
  Variant B = TZyloSQL::StrToVarByte(Raw, 4);
  ASSERT_EQ(B.VarType(), varArray | varByte);
  EXPECT_EQ(B.LowBound(), 0);
  EXPECT_EQ(B.HighBound(), 3);
  EXPECT_EQ(VarArrayToBytes(B), (std::vector<uint8_t>{'a', 'b', 0, 'c'}));
  EXPECT_TRUE(TZyloSQL::StreamToVarByte(nullptr).IsNull());
  EXPECT_EQ(TZyloSQL::StreamToStr(nullptr), "");
  TMemoryStream M;
  M.Write(Raw, 4);
  EXPECT_EQ(VarArrayToBytes(TZyloSQL::StreamToVarByte(&M)).size(), 4u);
  EXPECT_EQ(TZyloSQL::StreamToStr(&M), AnsiString(Raw, 4));
}

TEST(ZylbaseConversions, IntegerKindsMatchEachOther) {
  EXPECT_TRUE(TZyloSQL::CheckVarType(Variant(short(1)), varInteger));
  EXPECT_TRUE(TZyloSQL::CheckVarType(Variant(1), varSmallint));
  EXPECT_FALSE(TZyloSQL::CheckVarType(Variant(1.0), varInteger));
  EXPECT_TRUE(TZyloSQL::CheckVarType(Variant("s"), varString));
  EXPECT_FALSE(TZyloSQL::CheckVarType(Variant::FromOleStr("s"), varString));
}
