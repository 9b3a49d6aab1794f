// Zylbase: TZyloBlobStream (the written content of one long field of the current row) and
// TZyloBlobManager (the streams of a statement, by field name).
#include "base/Zylbase.h"

#include <algorithm>
#include <cstring>
#include <limits>

// ---- stream ------------------------------------------------------------------------------------

TZyloBlobStream::TZyloBlobStream(TZyloBlobManager* Manager, const AnsiString& Name) : FManager(Manager), FName(Name) {}

TZyloBlobStream::~TZyloBlobStream() = default;

int64_t TZyloBlobStream::Write(const void* Buffer, int64_t Count) {
  if (Count <= 0 || !Buffer || FPosition < 0) {
    if (FMemory.empty()) FEmpty = true;
    return 0;
  }
  // The content is counted in 32 bits: refuse what would not fit rather than wrap.
  const int64_t Limit = std::numeric_limits<int32_t>::max();
  if (FPosition > Limit || Count > Limit - FPosition) return 0;
  size_t End = static_cast<size_t>(FPosition + Count);
  if (End > FMemory.size()) FMemory.resize(End, 0);
  std::memcpy(FMemory.data() + FPosition, Buffer, static_cast<size_t>(Count));
  FPosition += Count;
  FBlobLength = static_cast<int32_t>(FMemory.size());
  FModified = true;
  FEmpty = false;
  return Count;
}

int64_t TZyloBlobStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  switch (Origin) {
    case soBeginning:
      FPosition = Offset;
      break;
    case soCurrent:
      FPosition += Offset;
      break;
    case soEnd:
      FPosition = Offset + GetBlobSize();
      break;
  }
  return FPosition;
}

int32_t TZyloBlobStream::GetBlobSize() { return FModified ? FBlobLength : 0; }

void TZyloBlobStream::Clear() {
  std::vector<uint8_t>().swap(FMemory);
  FBlobLength = 0;
  FPosition = 0;
  FModified = false;
  FEmpty = true;
}

void TZyloBlobStream::Truncate() {
  Clear();
  FModified = true;
}

int32_t TZyloBlobStream::GetFieldNo() const {
  if (!FManager || !FManager->GetStatement()) return -1;
  TZyloFieldDef* Def = FManager->GetStatement()->GetField(FName);
  return Def ? Def->FieldNo : -1;
}

int32_t TZyloBlobStream::GetFieldExtType() const {
  if (!FManager || !FManager->GetStatement()) return -1;
  TZyloFieldDef* Def = FManager->GetStatement()->GetField(FName);
  return Def ? Def->ExtType : -1;
}

// ---- manager -----------------------------------------------------------------------------------

TZyloBlobManager::~TZyloBlobManager() { Clear(); }

TZyloBlobStream* TZyloBlobManager::AddBlob(std::unique_ptr<TZyloBlobStream> Stream) {
  if (!Stream) return nullptr;
  Stream->FManager = this;
  FBlobs.push_back(std::move(Stream));
  return FBlobs.back().get();
}

std::unique_ptr<TZyloBlobStream> TZyloBlobManager::RemoveBlob(TZyloBlobStream* Stream) {
  auto It = std::find_if(FBlobs.begin(), FBlobs.end(), [Stream](const auto& P) { return P.get() == Stream; });
  if (It == FBlobs.end()) return nullptr;
  std::unique_ptr<TZyloBlobStream> Owned = std::move(*It);
  FBlobs.erase(It);
  Owned->FManager = nullptr;
  return Owned;
}

void TZyloBlobManager::Clear() {
  while (!FBlobs.empty()) FBlobs.pop_back();
}

void TZyloBlobManager::ClearBlobs() {
  for (auto& B : FBlobs) B->Clear();
}

TZyloBlobStream* TZyloBlobManager::GetBlob(int32_t Index) {
  if (Index < 0 || Index >= Count()) return nullptr;
  return BlobByName(FBlobs[static_cast<size_t>(Index)]->GetName());
}

TZyloBlobStream* TZyloBlobManager::BlobByName(const AnsiString& Name) {
  for (auto& B : FBlobs)
    if (AnsiSameText(B->GetName(), Name)) return B.get();
  AnsiString Message = Format(ZylLoadStr(ZYL_ERR_BLOB_REQUIRED), Name);
  if (FStatement && FStatement->GetSessionObject()) FStatement->RaiseLastError(Message, 0);
  throw EZyloException(Message, 0);
}
