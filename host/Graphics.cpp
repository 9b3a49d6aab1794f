// Pictures held as the bytes of their image files, checked by signature.
#include "host/Graphics.h"

#include <cstring>

#include "host/Messages.h"

namespace {

uint32_t Le32(const uint8_t* P) {
  return static_cast<uint32_t>(P[0]) | static_cast<uint32_t>(P[1]) << 8 | static_cast<uint32_t>(P[2]) << 16 |
         static_cast<uint32_t>(P[3]) << 24;
}
uint16_t Le16(const uint8_t* P) { return static_cast<uint16_t>(P[0] | P[1] << 8); }
int32_t LeS32(const uint8_t* P) { return static_cast<int32_t>(Le32(P)); }

// Bytes left in the stream, without moving it.
int64_t Remaining(TStream& S) {
  const int64_t R = S.GetSize() - S.GetPosition();
  return R > 0 ? R : 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// TGraphic

const TMetaClass& TGraphic::StaticClass() {
  static const TMetaClass Meta("TGraphic", &TPersistent::StaticClass());
  return Meta;
}

void TGraphic::SaveToStream(TStream& Stream) const {
  if (!FData.empty()) Stream.WriteBuffer(FData.data(), static_cast<int64_t>(FData.size()));
}

void TGraphic::LoadFromFile(const AnsiString& FileName) {
  TFileStream S(FileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(S);
}

void TGraphic::SaveToFile(const AnsiString& FileName) const {
  TFileStream S(FileName, fmCreate);
  SaveToStream(S);
}

void TGraphic::Assign(const TPersistent* Source) {
  if (Source && &Source->ClassType() == &ClassType()) {
    const auto* G = static_cast<const TGraphic*>(Source);
    if (G != this) SetImage(G->FData, G->FWidth, G->FHeight);
    return;
  }
  TPersistent::Assign(Source);
}

void TGraphic::Clear() { SetImage({}, 0, 0); }

void TGraphic::SetImage(std::vector<uint8_t> Data, int Width, int Height) {
  FData = std::move(Data);
  FWidth = Width;
  FHeight = Height;
  if (OnChange) OnChange(this);
}

std::vector<uint8_t> TGraphic::ReadRest(TStream& Stream) {
  std::vector<uint8_t> Data(static_cast<size_t>(Remaining(Stream)));
  if (!Data.empty()) Stream.ReadBuffer(Data.data(), static_cast<int64_t>(Data.size()));
  return Data;
}

// ---------------------------------------------------------------------------
// TBitmap: BITMAPFILEHEADER (14 bytes) then a DIB header whose first field is its size.

const TMetaClass& TBitmap::StaticClass() {
  static const TMetaClass Meta("TBitmap", &TGraphic::StaticClass());
  return Meta;
}

void TBitmap::LoadFromStream(TStream& Stream) {
  const int64_t Start = Stream.GetPosition();
  uint8_t Head[26] = {};
  const int64_t Avail = Remaining(Stream);
  if (Avail < 26 || Stream.Read(Head, 26) != 26 || Head[0] != 'B' || Head[1] != 'M') {
    Stream.SetPosition(Start);
    throw EInvalidGraphic(LoadResString(SInvalidBitmap));
  }
  const uint32_t FileSize = Le32(Head + 2);
  const uint32_t DibSize = Le32(Head + 14);
  if (FileSize < 26 || FileSize > Avail || DibSize < 12 || DibSize > FileSize - 14) {
    Stream.SetPosition(Start);
    throw EInvalidGraphic(LoadResString(SInvalidBitmap));
  }
  std::vector<uint8_t> Data(FileSize);
  std::memcpy(Data.data(), Head, 26);
  Stream.ReadBuffer(Data.data() + 26, FileSize - 26);
  int W, H;
  if (DibSize == 12) {  // the old core header: 16-bit sizes
    W = Le16(Data.data() + 18);
    H = Le16(Data.data() + 20);
  } else {
    W = LeS32(Data.data() + 18);
    const int32_t RawH = LeS32(Data.data() + 22);
    H = RawH < 0 ? -RawH : RawH;  // negative height: stored top-down
  }
  SetImage(std::move(Data), W, H);
}

// ---------------------------------------------------------------------------
// TMetafile

const TMetaClass& TMetafile::StaticClass() {
  static const TMetaClass Meta("TMetafile", &TGraphic::StaticClass());
  return Meta;
}

void TMetafile::LoadFromStream(TStream& Stream) {
  const int64_t Start = Stream.GetPosition();
  std::vector<uint8_t> Data = ReadRest(Stream);
  auto Bad = [&] {
    Stream.SetPosition(Start);
    throw EInvalidGraphic(LoadResString(SInvalidMetafile));
  };
  if (Data.size() >= 88 && Le32(Data.data()) == 1 && std::memcmp(Data.data() + 40, " EMF", 4) == 0) {
    // EMR_HEADER: rclFrame (offset 24) in hundredths of a millimetre, rclBounds (8) in pixels.
    const int32_t L = LeS32(Data.data() + 8), T = LeS32(Data.data() + 12);
    const int32_t R = LeS32(Data.data() + 16), B = LeS32(Data.data() + 20);
    FEnhanced = true;
    SetImage(std::move(Data), R - L + 1, B - T + 1);
    return;
  }
  if (Data.size() >= 22 + 18 && Le32(Data.data()) == 0x9AC6CDD7u) {
    // Placeable header: bounding box (offset 6) in units of Inch per inch (offset 14).
    const int16_t L = static_cast<int16_t>(Le16(Data.data() + 6)), T = static_cast<int16_t>(Le16(Data.data() + 8));
    const int16_t R = static_cast<int16_t>(Le16(Data.data() + 10)), B = static_cast<int16_t>(Le16(Data.data() + 12));
    const uint16_t Inch = Le16(Data.data() + 14);
    if (Inch == 0) Bad();
    FEnhanced = false;
    SetImage(std::move(Data), (R - L) * 96 / Inch, (B - T) * 96 / Inch);
    return;
  }
  Bad();
}

// ---------------------------------------------------------------------------
// TIcon: ICONDIR (6 bytes) and 16-byte directory entries.

const TMetaClass& TIcon::StaticClass() {
  static const TMetaClass Meta("TIcon", &TGraphic::StaticClass());
  return Meta;
}

void TIcon::LoadFromStream(TStream& Stream) {
  const int64_t Start = Stream.GetPosition();
  std::vector<uint8_t> Data = ReadRest(Stream);
  auto Bad = [&] {
    Stream.SetPosition(Start);
    throw EInvalidGraphic(LoadResString(SInvalidIcon));
  };
  if (Data.size() < 6 + 16 || Le16(Data.data()) != 0 || Le16(Data.data() + 2) != 1) Bad();
  const uint16_t Count = Le16(Data.data() + 4);
  if (Count == 0 || Data.size() < 6 + 16u * Count) Bad();
  for (uint16_t I = 0; I < Count; ++I) {
    const uint8_t* E = Data.data() + 6 + 16 * I;
    const uint64_t Size = Le32(E + 8), Offset = Le32(E + 12);
    if (Size == 0 || Offset < 6 + 16u * Count || Offset + Size > Data.size()) Bad();
  }
  const int W = Data[6] ? Data[6] : 256, H = Data[7] ? Data[7] : 256;
  SetImage(std::move(Data), W, H);
}

// ---------------------------------------------------------------------------
// TPicture

const TMetaClass& TPicture::StaticClass() {
  static const TMetaClass Meta("TPicture", &TPersistent::StaticClass());
  return Meta;
}

TPicture::TPicture() = default;
TPicture::~TPicture() { OnChange = nullptr; }

void TPicture::Changed() {
  if (OnChange) OnChange(this);
}

template <typename G> G* TPicture::Typed() {
  if (auto* Existing = dynamic_cast<G*>(FGraphic.get()); Existing && &Existing->ClassType() == &G::StaticClass())
    return Existing;
  auto Fresh = std::make_unique<G>();
  G* Raw = Fresh.get();
  Raw->OnChange = [this](TObject*) { Changed(); };
  FGraphic = std::move(Fresh);
  Changed();
  return Raw;
}

TBitmap* TPicture::Bitmap() { return Typed<TBitmap>(); }
TMetafile* TPicture::Metafile() { return Typed<TMetafile>(); }
TIcon* TPicture::Icon() { return Typed<TIcon>(); }

namespace {
std::unique_ptr<TGraphic> NewGraphic(const TMetaClass& Class) {
  if (&Class == &TBitmap::StaticClass()) return std::make_unique<TBitmap>();
  if (&Class == &TMetafile::StaticClass()) return std::make_unique<TMetafile>();
  if (&Class == &TIcon::StaticClass()) return std::make_unique<TIcon>();
  return nullptr;
}
}  // namespace

void TPicture::SetGraphic(const TGraphic* Value) {
  if (!Value) {
    FGraphic.reset();
    Changed();
    return;
  }
  if (Value == FGraphic.get()) return;
  std::unique_ptr<TGraphic> G = NewGraphic(Value->ClassType());
  if (!G) throw EInvalidGraphic(Format(LoadResString(SAssignError), {Value->ClassName(), ClassName()}));
  G->Assign(Value);
  G->OnChange = [this](TObject*) { Changed(); };
  FGraphic = std::move(G);
  Changed();
}

void TPicture::LoadFromFile(const AnsiString& FileName) {
  const AnsiString Ext = LowerCase(ExtractFileExt(FileName));
  std::unique_ptr<TGraphic> G;
  if (Ext == ".bmp") G = std::make_unique<TBitmap>();
  else if (Ext == ".emf" || Ext == ".wmf") G = std::make_unique<TMetafile>();
  else if (Ext == ".ico") G = std::make_unique<TIcon>();
  else throw EInvalidGraphic(Format(LoadResString(SUnknownExtension), {Ext.empty() ? Ext : Ext.substr(1)}));
  G->LoadFromFile(FileName);
  G->OnChange = [this](TObject*) { Changed(); };
  FGraphic = std::move(G);
  Changed();
}

void TPicture::SaveToFile(const AnsiString& FileName) const {
  if (!FGraphic) throw EInvalidGraphic(LoadResString(SNoGraphic));
  FGraphic->SaveToFile(FileName);
}

void TPicture::Assign(const TPersistent* Source) {
  if (!Source) {
    SetGraphic(nullptr);
  } else if (auto* P = dynamic_cast<const TPicture*>(Source)) {
    if (P != this) SetGraphic(P->FGraphic.get());
  } else if (auto* G = dynamic_cast<const TGraphic*>(Source)) {
    SetGraphic(G);
  } else {
    TPersistent::Assign(Source);
  }
}

void TPicture::AssignTo(TPersistent* Dest) const {
  if (auto* G = dynamic_cast<TGraphic*>(Dest); G && FGraphic) {
    G->Assign(FGraphic.get());
    return;
  }
  TPersistent::AssignTo(Dest);
}

void TPicture::DefineProperties(TFiler& Filer) {
  // The class name as a length-prefixed text, then the image bytes.
  Filer.DefineBinaryProperty(
      "Data",
      [this](TStream& S) {
        uint8_t Len = 0;
        S.ReadBuffer(&Len, 1);
        AnsiString Name(Len, '\0');
        if (Len) S.ReadBuffer(Name.data(), Len);
        const TMetaClass* Class = GetClass(Name);
        if (!Class) {
          if (SameText(Name, "TBitmap")) Class = &TBitmap::StaticClass();
          else if (SameText(Name, "TMetafile")) Class = &TMetafile::StaticClass();
          else if (SameText(Name, "TIcon")) Class = &TIcon::StaticClass();
        }
        std::unique_ptr<TGraphic> G = Class ? NewGraphic(*Class) : nullptr;
        if (!G) throw EReadError(Format(LoadResString(SClassNotFound), {Name}));
        G->LoadFromStream(S);
        G->OnChange = [this](TObject*) { Changed(); };
        FGraphic = std::move(G);
        Changed();
      },
      [this](TStream& S) {
        const AnsiString Name = FGraphic->ClassName();
        const uint8_t Len = static_cast<uint8_t>(Name.size());
        S.WriteBuffer(&Len, 1);
        S.WriteBuffer(Name.data(), Len);
        FGraphic->SaveToStream(S);
      },
      FGraphic && !FGraphic->Empty());
}
