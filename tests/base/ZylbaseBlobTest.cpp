// Blob streams and the blob manager, on their own and through a statement's blob fields.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "tests/base/TestBinding.h"

namespace {

// A stream as the base defines it, with the binding's Read reduced to reading what was written.
class TPlainBlob : public TZyloBlobStream {
 public:
  using TZyloBlobStream::TZyloBlobStream;
  int64_t Read(void* Buffer, int64_t Count) override {
    int64_t N = std::max<int64_t>(0, std::min<int64_t>(Count, FBlobLength - FPosition));
    if (N > 0) std::memcpy(Buffer, FMemory.data() + FPosition, static_cast<size_t>(N));
    FPosition += N;
    return N;
  }
};

}  // namespace

TEST(ZylbaseBlobStream, WritesGrowTheContentAndMoveThePosition) {
  TPlainBlob B(nullptr, "DOC");
  EXPECT_EQ(B.Seek(0, soEnd), 0) << "nothing written: the size is 0";
  char Ten[10] = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(B.Write(Ten, 10), 10);
  EXPECT_EQ(B.Write(Ten, 5), 5);
  EXPECT_EQ(B.GetBlobSize(), 15);
  EXPECT_EQ(B.GetStreamPosition(), 15);
  EXPECT_TRUE(B.GetModified());
  EXPECT_FALSE(B.GetEmpty());
  EXPECT_EQ(B.Seek(-5, soEnd), 10);
  EXPECT_EQ(B.Seek(2, soCurrent), 12);
  char Out[10];
  EXPECT_EQ(B.Read(Out, 10), 3);
  EXPECT_EQ(std::memcmp(Out, "234", 3), 0);
}

TEST(ZylbaseBlobStream, ClearAndTruncateDifferInModified) {
  TPlainBlob B(nullptr, "DOC");
  B.Write("abc", 3);
  B.Clear();
  EXPECT_EQ(B.GetBlobSize(), 0);
  EXPECT_FALSE(B.GetModified());
  EXPECT_TRUE(B.GetEmpty());
  B.Write("abc", 3);
  B.Truncate();
  EXPECT_EQ(B.GetBlobSize(), 0);
  EXPECT_TRUE(B.GetModified());
  EXPECT_EQ(B.GetStreamPosition(), 0);
}

TEST(ZylbaseBlobStream, ZeroAndOutOfPlaceWritesAreSafe) {
  TPlainBlob B(nullptr, "DOC");
  EXPECT_EQ(B.Write("x", 0), 0);
  EXPECT_TRUE(B.GetEmpty());
  EXPECT_FALSE(B.GetModified());
  B.Seek(-4, soBeginning);  // no clamping...
  EXPECT_EQ(B.Write("abc", 3), 0) << "...but a write before the start writes nothing";
  B.Seek(4, soBeginning);
  EXPECT_EQ(B.Write("ab", 2), 2);
  EXPECT_EQ(B.GetBlobSize(), 6);
  EXPECT_EQ(B.GetMemory()[0], 0) << "the gap reads as zeros";
  EXPECT_EQ(B.GetMemory()[5], 'b');
  B.Seek(INT64_MAX - 1, soBeginning);
  EXPECT_EQ(B.Write("ab", 2), 0) << "content beyond the 32-bit length is refused";
  EXPECT_EQ(B.GetFieldNo(), -1);
  EXPECT_EQ(B.GetFieldExtType(), -1);
}

TEST(ZylbaseBlobManager, OwnsFindsAndReleasesStreams) {
  TZyloBlobManager M(nullptr);
  TZyloBlobStream* A = M.AddBlob(std::make_unique<TPlainBlob>(nullptr, "Photo"));
  TZyloBlobStream* B = M.AddBlob(std::make_unique<TPlainBlob>(nullptr, "Notes"));
  EXPECT_EQ(A->GetManager(), &M);
  EXPECT_EQ(M.Count(), 2);
  EXPECT_EQ(M.BlobByName("NOTES"), B);
  EXPECT_EQ(M.GetBlob(0), A);
  EXPECT_EQ(M.GetBlob(2), nullptr);
  try {
    M.BlobByName("Price");
    FAIL() << "no exception";
  } catch (const EZyloException& E) {
    EXPECT_EQ(E.Message(), "Field \"Price\" is not a blob");
    EXPECT_EQ(E.GetErrorCode(), 0);
  }
  A->Write("data", 4);
  M.ClearBlobs();
  EXPECT_EQ(M.Count(), 2);
  EXPECT_FALSE(A->GetModified());
  std::unique_ptr<TZyloBlobStream> Back = M.RemoveBlob(A);
  EXPECT_EQ(Back.get(), A);
  EXPECT_EQ(Back->GetManager(), nullptr);
  EXPECT_EQ(M.Count(), 1);
  EXPECT_EQ(M.RemoveBlob(A), nullptr);
  M.Clear();
  EXPECT_EQ(M.Count(), 0);
}

namespace {

class BlobFieldTest : public ::testing::Test {
 protected:
  void SetUp() override {
    S.SetLibraryPath(std::getenv("ZYL_LIB_DIR") ? std::getenv("ZYL_LIB_DIR") : "");
    Q.SetSession(&S);
    Q.Columns = {{"ID", ztInteger, 4}, {"DOC", ztBlob, 8}};
    uint8_t Doc[3] = {9, 8, 7};
    Q.Rows = {{1, VarByteArrayOf(Doc, 3)}};
    ASSERT_TRUE(Q.OpenWrite("select id, doc from t", {}));
  }
  TTestSession S;
  TTestSQL Q;
};

}  // namespace

TEST_F(BlobFieldTest, StreamsKnowTheirFieldThroughTheManager) {
  TZyloBlobStream* B = Q.GetBlobManager()->BlobByName("doc");
  EXPECT_EQ(B->GetFieldNo(), 1);
  EXPECT_EQ(B->GetFieldExtType(), 100 + ztBlob);
  EXPECT_EQ(Q.GetBlobManager()->Count(), 1);
}

TEST_F(BlobFieldTest, StreamToBlobAndBack) {
  TMemoryStream In;
  In.Write("hello", 5);
  In.Seek(2, soBeginning);  // the whole source is copied, whatever its position
  Q.StreamToBlob("DOC", &In);
  EXPECT_TRUE(Q.IsFieldDirty("DOC"));
  EXPECT_FALSE(Q.IsFieldNull("DOC"));
  TMemoryStream Out;
  Out.Write("old content that is longer", 26);
  Q.BlobToStream(1, &Out);
  EXPECT_EQ(Out.Size(), 5);
  EXPECT_EQ(Out.GetPosition(), 0) << "the destination is rewound";
  EXPECT_EQ(std::memcmp(Out.Memory(), "hello", 5), 0);
}

TEST_F(BlobFieldTest, ReadingTheFetchedValueThroughAStream) {
  TMemoryStream Out;
  Q.BlobToStream("DOC", &Out);
  ASSERT_EQ(Out.Size(), 3);
  EXPECT_EQ(static_cast<uint8_t*>(Out.Memory())[2], 7);
  EXPECT_FALSE(Q.IsFieldDirty("DOC"));
}

TEST_F(BlobFieldTest, AnEmptySourceEmptiesTheField) {
  TMemoryStream Empty;
  Q.StreamToBlob("DOC", &Empty);
  EXPECT_TRUE(Q.IsFieldDirty("DOC")) << "emptying a field is a change to send";
  Variant V;
  Q.GetFieldValue("DOC", V);
  EXPECT_TRUE(V.IsNull() || VarArrayToBytes(V).empty());
}

TEST_F(BlobFieldTest, BadArgumentsRaiseTheirTexts) {
  auto Text = [](const std::function<void()>& F) -> AnsiString {
    try {
      F();
    } catch (const EZyloException& E) {
      return E.Message();
    }
    return "(nothing raised)";
  };
  TMemoryStream M;
  EXPECT_EQ(Text([&] { Q.StreamToBlob("DOC", nullptr); }), "Not a valid stream parameter");
  EXPECT_EQ(Text([&] { Q.BlobToStream("DOC", nullptr); }), "Not a valid stream parameter");
  EXPECT_EQ(Text([&] { Q.StreamToBlob("ID", &M); }), "Field \"ID\" is not a blob");
  EXPECT_EQ(Text([&] { Q.BlobToStream("NOPE", &M); }), "Field \"NOPE\" not found");
  EXPECT_EQ(Text([&] { Q.GraphicToBlob("DOC", nullptr, gtBitmap); }), "Not a valid picture parameter");
  EXPECT_EQ(Text([&] { Q.BlobToGraphic("DOC", nullptr, gtIcon); }), "Not a valid picture parameter");
}

TEST_F(BlobFieldTest, PicturesRoundTripThroughABlob) {
  // A 1x1 24-bit bitmap: file header, information header, one padded pixel row.
  uint8_t Bmp[58] = {'B', 'M', 58, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 24, 0};
  Bmp[54] = 0x10;
  Bmp[55] = 0x20;
  Bmp[56] = 0x30;
  TMemoryStream Src;
  Src.Write(Bmp, sizeof Bmp);
  Src.Seek(0, soBeginning);
  TPicture In;
  In.Bitmap()->LoadFromStream(Src);
  Q.GraphicToBlob("DOC", &In, gtBitmap);
  EXPECT_TRUE(Q.IsFieldDirty("DOC"));
  EXPECT_EQ(Q.GetBlobManager()->BlobByName("DOC")->GetBlobSize(), 58);
  TPicture Out;
  Q.BlobToGraphic("DOC", &Out, gtBitmap);
  TMemoryStream Saved;
  Out.Bitmap()->SaveToStream(Saved);
  ASSERT_EQ(Saved.Size(), 58);
  EXPECT_EQ(std::memcmp(Saved.Memory(), Bmp, sizeof Bmp), 0);
}
