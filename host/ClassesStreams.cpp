// Streams: the abstract TStream with its checked transfers, memory, string,
// handle and file streams.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "host/Classes.h"
#include "host/Messages.h"
#include "host/Platform.h"

namespace {
// Largest single transfer handed to the system and the size limit of in-memory
// streams (the vector's own limit, well above anything the libraries hold).
constexpr int64_t ChunkSize = int64_t{1} << 30;
constexpr int64_t MaxMemorySize = std::numeric_limits<int64_t>::max() / 2;
}  // namespace

// ---------------------------------------------------------------------------
// TStream

int64_t TStream::GetSize() {
  const int64_t Pos = Seek(0, soCurrent);
  const int64_t Size = Seek(0, soEnd);
  Seek(Pos, soBeginning);
  return Size;
}

void TStream::SetSize(int64_t) {}

void TStream::ReadBuffer(void* Buffer, int64_t Count) {
  if (Count < 0 || (Count != 0 && Read(Buffer, Count) != Count)) throw EReadError(LoadResString(SReadError));
}

void TStream::WriteBuffer(const void* Buffer, int64_t Count) {
  if (Count < 0 || (Count != 0 && Write(Buffer, Count) != Count)) throw EWriteError(LoadResString(SWriteError));
}

int64_t TStream::CopyFrom(TStream& Source, int64_t Count) {
  if (Count < 0) throw EReadError(LoadResString(SReadError));
  if (Count == 0) {
    Source.SetPosition(0);
    Count = Source.GetSize();
  }
  const int64_t Result = Count;
  std::vector<uint8_t> Buffer(static_cast<size_t>(std::min<int64_t>(Count, 64 * 1024)));
  while (Count > 0) {
    const int64_t N = std::min<int64_t>(Count, static_cast<int64_t>(Buffer.size()));
    Source.ReadBuffer(Buffer.data(), N);
    WriteBuffer(Buffer.data(), N);
    Count -= N;
  }
  return Result;
}

// ---------------------------------------------------------------------------
// TMemoryStream

int64_t TMemoryStream::Read(void* Buffer, int64_t Count) {
  if (Count <= 0 || FPosition < 0 || FPosition >= Size()) return 0;
  const int64_t N = std::min(Count, Size() - FPosition);
  std::memcpy(Buffer, FData.data() + FPosition, static_cast<size_t>(N));
  FPosition += N;
  return N;
}

int64_t TMemoryStream::Write(const void* Buffer, int64_t Count) {
  if (Count <= 0 || FPosition < 0 || FPosition > MaxMemorySize - Count) return 0;
  const int64_t End = FPosition + Count;
  if (End > Size()) SetSize(End);
  std::memcpy(FData.data() + FPosition, Buffer, static_cast<size_t>(Count));
  FPosition = End;
  return Count;
}

int64_t TMemoryStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  int64_t Base = Origin == soBeginning ? 0 : Origin == soCurrent ? FPosition : Size();
  // Saturate rather than overflow on absurd offsets.
  if (Offset > 0 && Base > std::numeric_limits<int64_t>::max() - Offset) FPosition = std::numeric_limits<int64_t>::max();
  else if (Offset < 0 && Base < std::numeric_limits<int64_t>::min() - Offset) FPosition = std::numeric_limits<int64_t>::min();
  else FPosition = Base + Offset;
  return FPosition;
}

void TMemoryStream::SetSize(int64_t NewSize) {
  if (NewSize < 0 || NewSize > MaxMemorySize) throw EStreamError(LoadResString(SWriteError));
  FData.resize(static_cast<size_t>(NewSize), 0);
  if (FPosition > NewSize) FPosition = NewSize;
}

void TMemoryStream::Clear() {
  std::vector<uint8_t>().swap(FData);
  FPosition = 0;
}

void TMemoryStream::LoadFromStream(TStream& Stream) {
  Stream.SetPosition(0);
  const int64_t Count = Stream.GetSize();
  std::vector<uint8_t> Data(static_cast<size_t>(Count > 0 ? Count : 0));
  if (Count > 0) Stream.ReadBuffer(Data.data(), Count);
  FData.swap(Data);  // only now: a failed read leaves the old content
  FPosition = 0;
}

void TMemoryStream::SaveToStream(TStream& Stream) const {
  if (!FData.empty()) Stream.WriteBuffer(FData.data(), Size());
}

void TMemoryStream::LoadFromFile(const AnsiString& FileName) {
  TFileStream Stream(FileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(Stream);
}

void TMemoryStream::SaveToFile(const AnsiString& FileName) const {
  TFileStream Stream(FileName, fmCreate);
  SaveToStream(Stream);
}

// ---------------------------------------------------------------------------
// TStringStream

int64_t TStringStream::Read(void* Buffer, int64_t Count) {
  const int64_t Size = static_cast<int64_t>(FData.size());
  if (Count <= 0 || FPosition < 0 || FPosition >= Size) return 0;
  const int64_t N = std::min(Count, Size - FPosition);
  std::memcpy(Buffer, FData.data() + FPosition, static_cast<size_t>(N));
  FPosition += N;
  return N;
}

int64_t TStringStream::Write(const void* Buffer, int64_t Count) {
  if (Count <= 0 || FPosition < 0 || FPosition > MaxMemorySize - Count) return 0;
  const int64_t End = FPosition + Count;
  if (End > static_cast<int64_t>(FData.size())) FData.resize(static_cast<size_t>(End), '\0');
  std::memcpy(FData.data() + FPosition, Buffer, static_cast<size_t>(Count));
  FPosition = End;
  return Count;
}

int64_t TStringStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  const int64_t Size = static_cast<int64_t>(FData.size());
  int64_t Base = Origin == soBeginning ? 0 : Origin == soCurrent ? FPosition : Size;
  FPosition = std::clamp<int64_t>(Base + std::clamp<int64_t>(Offset, -MaxMemorySize, MaxMemorySize), 0, Size);
  return FPosition;
}

void TStringStream::SetSize(int64_t NewSize) {
  if (NewSize < 0 || NewSize > MaxMemorySize) throw EStreamError(LoadResString(SWriteError));
  FData.resize(static_cast<size_t>(NewSize), '\0');
  if (FPosition > NewSize) FPosition = NewSize;
}

AnsiString TStringStream::ReadString(int64_t Count) {
  const int64_t Avail = static_cast<int64_t>(FData.size()) - FPosition;
  const int64_t N = std::max<int64_t>(0, std::min(Count, Avail));
  AnsiString R = FData.substr(static_cast<size_t>(FPosition), static_cast<size_t>(N));
  FPosition += N;
  return R;
}

// ---------------------------------------------------------------------------
// THandleStream and TFileStream

int64_t THandleStream::Read(void* Buffer, int64_t Count) {
  if (FHandle < 0 || Count <= 0) return 0;
  int64_t Done = 0;
  auto* P = static_cast<uint8_t*>(Buffer);
  while (Done < Count) {
    const ssize_t N = ::read(FHandle, P + Done, static_cast<size_t>(std::min(Count - Done, ChunkSize)));
    if (N < 0 && errno == EINTR) continue;
    if (N <= 0) {
      if (N < 0) SetLastError(static_cast<DWORD>(errno));
      break;
    }
    Done += N;
  }
  return Done;
}

int64_t THandleStream::Write(const void* Buffer, int64_t Count) {
  if (FHandle < 0 || Count <= 0) return 0;
  int64_t Done = 0;
  auto* P = static_cast<const uint8_t*>(Buffer);
  while (Done < Count) {
    const ssize_t N = ::write(FHandle, P + Done, static_cast<size_t>(std::min(Count - Done, ChunkSize)));
    if (N < 0 && errno == EINTR) continue;
    if (N <= 0) {
      if (N < 0) SetLastError(static_cast<DWORD>(errno));
      break;
    }
    Done += N;
  }
  return Done;
}

int64_t THandleStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  const int Whence = Origin == soBeginning ? SEEK_SET : Origin == soCurrent ? SEEK_CUR : SEEK_END;
  const off_t R = ::lseek(FHandle, static_cast<off_t>(Offset), Whence);
  if (R < 0) {
    SetLastError(static_cast<DWORD>(errno));
    return -1;
  }
  return static_cast<int64_t>(R);
}

void THandleStream::SetSize(int64_t NewSize) {
  const int64_t Pos = Seek(0, soCurrent);
  if (NewSize < 0 || ::ftruncate(FHandle, static_cast<off_t>(NewSize)) != 0)
    throw EStreamError(LoadResString(SWriteError) + ": " + SysErrorMessage(static_cast<uint32_t>(errno)));
  if (Pos > NewSize) Seek(NewSize, soBeginning);
}

TFileStream::TFileStream(const AnsiString& FileName, uint16_t Mode) : THandleStream(-1), FFileName(FileName) {
  if (Mode == fmCreate) {
    FHandle = ::open(FileName.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (FHandle < 0)
      throw EFCreateError(Format(LoadResString(SFCreateError), {FileName, SysErrorMessage(static_cast<uint32_t>(errno))}));
    return;
  }
  const int Access = (Mode & 3) == fmOpenWrite ? O_WRONLY : (Mode & 3) == fmOpenReadWrite ? O_RDWR : O_RDONLY;
  FHandle = ::open(FileName.c_str(), Access | O_CLOEXEC);
  if (FHandle >= 0) {
    struct stat St;
    if (fstat(FHandle, &St) == 0 && S_ISDIR(St.st_mode)) {
      ::close(FHandle);
      FHandle = -1;
      errno = EISDIR;
    }
  }
  if (FHandle < 0)
    throw EFOpenError(Format(LoadResString(SFOpenError), {FileName, SysErrorMessage(static_cast<uint32_t>(errno))}));
}

TFileStream::~TFileStream() {
  if (FHandle >= 0) ::close(FHandle);
}
