// Pictures: signature checks, sizes from the headers, several images in one
// stream, the typed accessors of TPicture, files and the streamed "Data".
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "host/Graphics.h"

namespace {

void Put32(std::vector<uint8_t>& B, size_t At, uint32_t V) {
  for (int I = 0; I < 4; ++I) B[At + I] = static_cast<uint8_t>(V >> (8 * I));
}
void Put16(std::vector<uint8_t>& B, size_t At, uint16_t V) {
  B[At] = static_cast<uint8_t>(V);
  B[At + 1] = static_cast<uint8_t>(V >> 8);
}

// A 3 x 2 bitmap of 24-bit pixels (rows padded to 12 bytes).
std::vector<uint8_t> MakeBitmap(int32_t Height = 2) {
  std::vector<uint8_t> B(14 + 40 + 24, 0);
  B[0] = 'B';
  B[1] = 'M';
  Put32(B, 2, static_cast<uint32_t>(B.size()));
  Put32(B, 10, 54);
  Put32(B, 14, 40);
  Put32(B, 18, 3);
  Put32(B, 22, static_cast<uint32_t>(Height));
  Put16(B, 26, 1);
  Put16(B, 28, 24);
  for (size_t I = 54; I < B.size(); ++I) B[I] = static_cast<uint8_t>(I);
  return B;
}

std::vector<uint8_t> MakeEmf() {
  std::vector<uint8_t> B(108, 0);
  Put32(B, 0, 1);  // EMR_HEADER
  Put32(B, 4, 108);
  Put32(B, 8, 0);
  Put32(B, 12, 0);
  Put32(B, 16, 99);
  Put32(B, 20, 49);
  std::memcpy(B.data() + 40, " EMF", 4);
  return B;
}

std::vector<uint8_t> MakeIcon() {
  std::vector<uint8_t> B(6 + 16 + 8, 0);
  Put16(B, 2, 1);
  Put16(B, 4, 1);
  B[6] = 16;
  B[7] = 0;  // 0 means 256
  Put32(B, 6 + 8, 8);
  Put32(B, 6 + 12, 22);
  return B;
}

std::vector<uint8_t> Saved(const TGraphic& G) {
  TMemoryStream S;
  G.SaveToStream(S);
  const auto* P = static_cast<const uint8_t*>(S.Memory());
  return std::vector<uint8_t>(P, P + S.Size());
}

void Fill(TMemoryStream& S, const std::vector<uint8_t>& B) {
  S.WriteBuffer(B.data(), static_cast<int64_t>(B.size()));
  S.SetPosition(0);
}

}  // namespace

TEST(Bitmap, LoadsItsFileLengthAndKeepsTheBytes) {
  std::vector<uint8_t> Two = MakeBitmap();
  std::vector<uint8_t> Second = MakeBitmap(-5);  // top-down
  Two.insert(Two.end(), Second.begin(), Second.end());
  TMemoryStream S;
  Fill(S, Two);
  TBitmap A, B;
  A.LoadFromStream(S);
  EXPECT_EQ(S.GetPosition(), 78);  // stops at the end of the first image
  B.LoadFromStream(S);
  EXPECT_EQ(A.GetWidth(), 3);
  EXPECT_EQ(A.GetHeight(), 2);
  EXPECT_EQ(B.GetHeight(), 5);
  EXPECT_EQ(Saved(A), MakeBitmap());
}

TEST(Bitmap, BadSignatureOrTruncationRaisesAndKeepsTheOldImage) {
  TBitmap Bmp;
  TMemoryStream Good;
  Fill(Good, MakeBitmap());
  Bmp.LoadFromStream(Good);
  std::vector<uint8_t> Bad = MakeBitmap();
  Bad[0] = 'X';
  TMemoryStream S;
  Fill(S, Bad);
  EXPECT_THROW(Bmp.LoadFromStream(S), EInvalidGraphic);
  EXPECT_EQ(S.GetPosition(), 0);  // the stream is put back
  std::vector<uint8_t> Cut = MakeBitmap();
  Cut.resize(60);
  TMemoryStream T;
  Fill(T, Cut);
  EXPECT_THROW(Bmp.LoadFromStream(T), EInvalidGraphic);
  std::vector<uint8_t> Lying = MakeBitmap();
  Put32(Lying, 14, 4000);  // header larger than the file
  TMemoryStream L;
  Fill(L, Lying);
  EXPECT_THROW(Bmp.LoadFromStream(L), EInvalidGraphic);
  TMemoryStream Empty;
  EXPECT_THROW(Bmp.LoadFromStream(Empty), EInvalidGraphic);
  EXPECT_EQ(Saved(Bmp), MakeBitmap());
}

TEST(Metafile, EnhancedAndPlaceableFormats) {
  TMetafile M;
  TMemoryStream S;
  Fill(S, MakeEmf());
  M.LoadFromStream(S);
  EXPECT_TRUE(M.GetEnhanced());
  EXPECT_EQ(M.GetWidth(), 100);
  EXPECT_EQ(M.GetHeight(), 50);
  EXPECT_EQ(M.DefaultExtension(), "emf");
  std::vector<uint8_t> Wmf(22 + 18, 0);
  Put32(Wmf, 0, 0x9AC6CDD7u);
  Put16(Wmf, 10, 1440);  // one inch wide
  Put16(Wmf, 12, 720);
  Put16(Wmf, 14, 1440);
  TMemoryStream W;
  Fill(W, Wmf);
  M.LoadFromStream(W);
  EXPECT_FALSE(M.GetEnhanced());
  EXPECT_EQ(M.GetWidth(), 96);
  EXPECT_EQ(M.GetHeight(), 48);
  TMemoryStream B;
  Fill(B, MakeBitmap());
  EXPECT_THROW(M.LoadFromStream(B), EInvalidGraphic);
  EXPECT_EQ(Saved(M), Wmf);
}

TEST(Icon, DirectoryEntriesMustLieInsideTheData) {
  TIcon I;
  TMemoryStream S;
  Fill(S, MakeIcon());
  I.LoadFromStream(S);
  EXPECT_EQ(I.GetWidth(), 16);
  EXPECT_EQ(I.GetHeight(), 256);
  std::vector<uint8_t> Bad = MakeIcon();
  Put32(Bad, 6 + 8, 9);  // one byte beyond the end
  TMemoryStream B;
  Fill(B, Bad);
  EXPECT_THROW(I.LoadFromStream(B), EInvalidGraphic);
  std::vector<uint8_t> Cursor = MakeIcon();
  Put16(Cursor, 2, 2);  // a cursor, not an icon
  TMemoryStream C;
  Fill(C, Cursor);
  EXPECT_THROW(I.LoadFromStream(C), EInvalidGraphic);
}

TEST(Picture, TypedAccessorsReplaceAGraphicOfAnotherKind) {
  TPicture P;
  int Changes = 0;
  P.OnChange = [&](TObject*) { ++Changes; };
  EXPECT_EQ(P.GetGraphic(), nullptr);
  TMemoryStream S;
  Fill(S, MakeBitmap());
  P.Bitmap()->LoadFromStream(S);
  EXPECT_EQ(P.GetWidth(), 3);
  EXPECT_GE(Changes, 2);  // the new bitmap, then its content
  TBitmap* Same = P.Bitmap();
  EXPECT_EQ(Same, P.GetGraphic());
  EXPECT_FALSE(Same->Empty());
  TIcon* Icon = P.Icon();  // a bitmap is no icon: replaced by an empty one
  EXPECT_TRUE(Icon->Empty());
  EXPECT_EQ(P.GetWidth(), 0);
}

TEST(Picture, AssignCopiesTheGraphic) {
  TPicture A, B;
  TMemoryStream S;
  Fill(S, MakeEmf());
  A.Metafile()->LoadFromStream(S);
  B.Assign(&A);
  ASSERT_NE(B.GetGraphic(), nullptr);
  EXPECT_NE(B.GetGraphic(), A.GetGraphic());
  EXPECT_EQ(Saved(*B.GetGraphic()), MakeEmf());
  TMetafile M;
  M.Assign(&A);  // a picture into a graphic of its kind
  EXPECT_EQ(M.GetWidth(), 100);
  TBitmap Bmp;
  EXPECT_THROW(Bmp.Assign(&M), EConvertError);
  B.Assign(nullptr);
  EXPECT_EQ(B.GetGraphic(), nullptr);
}

TEST(Picture, FilesByExtension) {
  char Template[] = "/tmp/zylhost-graphics-XXXXXX";
  ASSERT_NE(mkdtemp(Template), nullptr);
  const AnsiString Dir = Template;
  TPicture P;
  EXPECT_THROW(P.SaveToFile(Dir + "/none.bmp"), EInvalidGraphic);
  TMemoryStream S;
  Fill(S, MakeIcon());
  P.Icon()->LoadFromStream(S);
  P.SaveToFile(Dir + "/a.ico");
  TPicture Q;
  Q.LoadFromFile(Dir + "/a.ico");
  EXPECT_EQ(Q.GetGraphic()->ClassName(), "TIcon");
  EXPECT_EQ(Saved(*Q.GetGraphic()), MakeIcon());
  EXPECT_THROW(Q.LoadFromFile(Dir + "/a.gif"), EInvalidGraphic);
  std::system(("cp '" + Dir + "/a.ico' '" + Dir + "/b.bmp'").c_str());
  EXPECT_THROW(Q.LoadFromFile(Dir + "/b.bmp"), EInvalidGraphic);  // the content decides
  EXPECT_EQ(Q.GetGraphic()->ClassName(), "TIcon");                // and nothing is lost
  std::system(("rm -rf '" + Dir + "'").c_str());
}

namespace {
class TImageHolder : public TComponent {
public:
  explicit TImageHolder(TComponent* Owner) : TComponent(Owner) {}
  static const TMetaClass& StaticClass() {
    static const TMetaClass Meta = [] {
      TMetaClass M("TImageHolder", &TComponent::StaticClass(), TMetaClass::Factory<TImageHolder>());
      M.ObjectProperty("Picture", &TImageHolder::GetPicture);
      return M;
    }();
    return Meta;
  }
  const TMetaClass& ClassType() const override { return StaticClass(); }
  TPicture* GetPicture() const { return const_cast<TPicture*>(&FPicture); }

private:
  TPicture FPicture;
};
}  // namespace

TEST(Picture, StreamsWithItsClassNameAsHexData) {
  RegisterClass(TImageHolder::StaticClass());
  TImageHolder H(nullptr);
  H.SetName("Image1");
  EXPECT_EQ(ComponentToText(&H), "object Image1: TImageHolder\nend\n");  // no picture, no data
  TMemoryStream S;
  Fill(S, MakeBitmap());
  H.GetPicture()->Bitmap()->LoadFromStream(S);
  const AnsiString Text = ComponentToText(&H);
  EXPECT_NE(Text.find("Picture.Data = {\n    0754426974"), AnsiString::npos) << Text;  // 7 "TBit"
  TComponent* Copy = TextToComponent(Text);
  auto* Back = static_cast<TImageHolder*>(Copy);
  ASSERT_NE(Back->GetPicture()->GetGraphic(), nullptr);
  EXPECT_EQ(Back->GetPicture()->GetGraphic()->ClassName(), "TBitmap");
  EXPECT_EQ(Saved(*Back->GetPicture()->GetGraphic()), MakeBitmap());
  delete Copy;
}
