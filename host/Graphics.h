// Graphics: pictures as the data layer stores them in long binary fields. A graphic
// holds the bytes of one image file (BMP, EMF/WMF, ICO), checks the format's
// signature when it loads, and writes the same bytes back; pixels are never
// decoded. Width and Height come from the format's header.
//
//   TGraphic (abstract) -> TBitmap, TMetafile, TIcon
//   TPicture: holds at most one graphic (owned) and hands out a typed one on
//   request: Bitmap() replaces a graphic of another kind by an empty bitmap.
//
// Loading reads: a bitmap, the length its file header gives (so several may follow
// each other in one stream); a metafile or an icon, the rest of the stream. A bad
// signature or a truncated image raises EInvalidGraphic and leaves the graphic as
// it was.
#pragma once
#pragma GCC visibility push(default)

#include <cstdint>
#include <memory>
#include <vector>

#include "host/Classes.h"

class EInvalidGraphic : public Exception { using Exception::Exception; };

class TGraphic : public TPersistent {
public:
  static const TMetaClass& StaticClass();
  const TMetaClass& ClassType() const override { return StaticClass(); }

  virtual void LoadFromStream(TStream& Stream) = 0;
  virtual void SaveToStream(TStream& Stream) const;  // the held bytes
  void LoadFromFile(const AnsiString& FileName);
  void SaveToFile(const AnsiString& FileName) const;
  void Assign(const TPersistent* Source) override;  // same class: copies the bytes
  bool Empty() const { return FData.empty(); }
  void Clear();
  int GetWidth() const { return FWidth; }
  int GetHeight() const { return FHeight; }
  const std::vector<uint8_t>& Data() const { return FData; }
  // The file extension of the format, without dot ("bmp").
  virtual AnsiString DefaultExtension() const = 0;
  TNotifyEvent OnChange;

protected:
  // Takes the complete image; the caller has checked it.
  void SetImage(std::vector<uint8_t> Data, int Width, int Height);
  static std::vector<uint8_t> ReadRest(TStream& Stream);

private:
  std::vector<uint8_t> FData;  // the image file's bytes, empty for no image
  int FWidth = 0;
  int FHeight = 0;
};

class TBitmap : public TGraphic {
public:
  static const TMetaClass& StaticClass();
  const TMetaClass& ClassType() const override { return StaticClass(); }
  // "BM", the file length, a header of at least 12 bytes.
  void LoadFromStream(TStream& Stream) override;
  AnsiString DefaultExtension() const override { return "bmp"; }
};

class TMetafile : public TGraphic {
public:
  static const TMetaClass& StaticClass();
  const TMetaClass& ClassType() const override { return StaticClass(); }
  // An enhanced metafile (header record with " EMF") or a placeable Windows
  // metafile (key 9AC6CDD7); Enhanced tells which was loaded.
  void LoadFromStream(TStream& Stream) override;
  AnsiString DefaultExtension() const override { return FEnhanced ? "emf" : "wmf"; }
  bool GetEnhanced() const { return FEnhanced; }

private:
  bool FEnhanced = true;
};

class TIcon : public TGraphic {
public:
  static const TMetaClass& StaticClass();
  const TMetaClass& ClassType() const override { return StaticClass(); }
  // Reserved 0, type 1, at least one directory entry whose image lies in the data.
  void LoadFromStream(TStream& Stream) override;
  AnsiString DefaultExtension() const override { return "ico"; }
};

class TPicture : public TPersistent {
public:
  TPicture();
  ~TPicture() override;
  static const TMetaClass& StaticClass();
  const TMetaClass& ClassType() const override { return StaticClass(); }

  TGraphic* GetGraphic() const { return FGraphic.get(); }
  // Stores a copy of Value (nullptr empties the picture).
  void SetGraphic(const TGraphic* Value);
  TBitmap* Bitmap();
  TMetafile* Metafile();
  TIcon* Icon();
  int GetWidth() const { return FGraphic ? FGraphic->GetWidth() : 0; }
  int GetHeight() const { return FGraphic ? FGraphic->GetHeight() : 0; }
  // By extension: .bmp, .emf, .wmf, .ico; another raises EInvalidGraphic.
  void LoadFromFile(const AnsiString& FileName);
  void SaveToFile(const AnsiString& FileName) const;  // raises with no graphic
  void Assign(const TPersistent* Source) override;    // a TPicture or a TGraphic
  TNotifyEvent OnChange;

protected:
  void AssignTo(TPersistent* Dest) const override;
  // "Data": the graphic's class name and its bytes, so a picture streams whole.
  void DefineProperties(TFiler& Filer) override;

private:
  template <typename G> G* Typed();
  void Changed();
  std::unique_ptr<TGraphic> FGraphic;
};
#pragma GCC visibility pop
