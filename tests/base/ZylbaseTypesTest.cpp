// Field definitions and lists, variable buffers, the exception family, the message table entries
// and the substitute entry points.
#include <gtest/gtest.h>

#include "base/Zylbase.h"

TEST(ZylbaseFieldDefs, IndexesOutsideTheListAndUnknownNamesGiveNothing) {
  TZyloFieldDefs Defs;
  Defs.AddFieldDef("Name");
  Defs.AddFieldDef("City");
  EXPECT_EQ(Defs.Items(-1), nullptr);
  EXPECT_EQ(Defs.Items(2), nullptr);
  EXPECT_EQ(Defs.FieldByName("Zip"), nullptr);
  EXPECT_EQ(Defs.IndexOf("NAME"), 0);
  EXPECT_EQ(Defs.IndexOf("city"), 1);
  EXPECT_EQ(Defs.IndexOf("Zip"), -1);
  ASSERT_NE(Defs.FieldByName("cItY"), nullptr);
  EXPECT_EQ(Defs.FieldByName("cItY")->FieldNo, 1);
  EXPECT_EQ(Defs.Items(1)->Owner, &Defs);
}

TEST(ZylbaseFieldDefs, OffsetsAreTheSizesAddedBefore) {
  TZyloFieldDefs Defs;
  int32_t Sizes[] = {4, 8, 30};
  int32_t Offsets[3];
  for (int I = 0; I < 3; ++I) {
    TZyloFieldDef* D = Defs.AddFieldDef("f" + IntToStr(I));
    D->Size = Sizes[I];
    Offsets[I] = D->Offset;
    EXPECT_EQ(D->FieldNo, I);
    EXPECT_EQ(D->FieldType, ztUnknown);
  }
  EXPECT_EQ(Offsets[0], 0);
  EXPECT_EQ(Offsets[1], 4);
  EXPECT_EQ(Offsets[2], 12);
  EXPECT_EQ(Defs.Size(), 42);
  Defs.Clear();
  EXPECT_EQ(Defs.Count(), 0);
  EXPECT_EQ(Defs.Size(), 0);
  EXPECT_EQ(Defs.AddFieldDef("again")->Offset, 0);
}

TEST(ZylbaseFieldDefs, AnyBlobLooksForMemoAndBlobOnly) {
  TZyloFieldDefs Defs;
  Defs.AddFieldDef("b")->FieldType = ztBinary;
  EXPECT_FALSE(Defs.AnyBlob());
  Defs.AddFieldDef("m")->FieldType = ztMemo;
  EXPECT_TRUE(Defs.AnyBlob());
  TZyloFieldDefs Blobs;
  Blobs.AddFieldDef("x")->FieldType = ztBlob;
  EXPECT_TRUE(Blobs.AnyBlob());
}

TEST(ZylbaseVariableDefs, ClearDropsBufferAndBoundSoTheNextUseBindsAgain) {
  TZyloVariableDefs Vars;
  Vars.AddFieldDef("?")->Size = 8;
  Vars.SetBufSize(Vars.Size());
  ASSERT_NE(Vars.Buffer.Data(), nullptr);
  EXPECT_EQ(Vars.BufSize, 8);
  for (int I = 0; I < 8; ++I) EXPECT_EQ(Vars.Buffer.Data()[I], 0) << "buffer must start zero-filled";
  Vars.Buffer.Data()[3] = 7;
  Vars.ClearBuffer();
  EXPECT_EQ(Vars.Buffer.Data()[3], 0);
  Vars.Bound = true;
  Vars.Clear();
  EXPECT_EQ(Vars.Count(), 0);
  EXPECT_EQ(Vars.Buffer.Data(), nullptr);
  EXPECT_EQ(Vars.BufSize, 0);
  EXPECT_FALSE(Vars.Bound);
  Vars.ClearBuffer();  // no buffer: nothing to do, no crash
  Vars.SetBufSize(0);
  EXPECT_EQ(Vars.Buffer.Data(), nullptr);
}

TEST(ZylbaseBuffer, FillStopsAtTheEndOfTheBlock) {
  TZyloBuffer B;
  B.Fill(1, 10);  // nothing allocated
  B.Allocate(4);
  B.Fill(255, 100);
  for (int I = 0; I < 4; ++I) EXPECT_EQ(B.Data()[I], 255);
  B.Allocate(-1);
  EXPECT_FALSE(B);
  EXPECT_EQ(B.Size(), 0);
}

TEST(ZylbaseErrors, DummyProcRaisesTheNotSupportedErrorWithCodeZero) {
  intptr_t (*Entry)() = &ZylDummyProc;
  try {
    Entry();
    FAIL() << "ZylDummyProc returned";
  } catch (const EZyloException& E) {
    EXPECT_EQ(E.GetErrorCode(), 0);
    EXPECT_EQ(E.Message(), "Function not supported by this version of the Database Interface library");
  }
  EXPECT_EQ(ZylDummyProcNoExcept(), 0);
}

TEST(ZylbaseErrors, AsaExceptionIsCaughtAsTheBaseAndKeepsItsCode) {
  try {
    throw EAsaException("Error -100: x", -100);
  } catch (const EZyloException& E) {
    EXPECT_EQ(E.GetErrorCode(), -100);
    EXPECT_STREQ(E.what(), "Error -100: x");
  }
}

TEST(ZylbaseMessages, TextsAreRegisteredUnderTheirNamesAndCanBeTranslated) {
  EXPECT_EQ(ZylLoadStr(ZYL_ERR_FIELD_NOT_FOUND), "Field \"%s\" not found");
  EXPECT_EQ(ZylLoadStr(ZYL_ERR_CURS_BI_NOT_SUPP), "Bidirectional cursors not supported");
  EXPECT_EQ(FindResStringId("ZYL_ERR_BLOB_PICTURE_INVALID"), ZYL_ERR_BLOB_PICTURE_INVALID);
  ASSERT_TRUE(ReplaceResStringByName("ZYL_ERR_SESS_NIL", "Keine Sitzung"));
  EXPECT_EQ(ZylLoadStr(ZYL_ERR_SESS_NIL), "Keine Sitzung");
  RestoreResString(ZYL_ERR_SESS_NIL);
  EXPECT_EQ(ZylLoadStr(ZYL_ERR_SESS_NIL), "The session property is not linked to a session");
}

TEST(ZylbaseConstants, UnitConstants) {
  EXPECT_STREQ(szZyloLibraryName, "Zylobase");
  EXPECT_STREQ(szZyloLibraryShortName, "ZYL");
  EXPECT_TRUE(ZylEmptyParam.IsNull());
  EXPECT_TRUE(ZylIsBlobType(ztMemo));
  EXPECT_TRUE(ZylIsBlobType(ztBlob));
  EXPECT_FALSE(ZylIsBlobType(ztBinary));
}
