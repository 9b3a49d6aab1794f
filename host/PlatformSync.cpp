// Named mutexes over lock files (see PlatformSync.h for the contract).
#include "host/PlatformSync.h"

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uint32_t kMutexTag = 0x5A4D5458;  // marks a live handle ("ZMTX")

// One handle: its own open file (so flock excludes other handles too) and the owner's state.
// The owner fields are touched by the owning thread, and by others only to see that they are
// not the owner, so they are guarded by Guard.
struct MutexHandle {
  uint32_t Tag = kMutexTag;
  int Fd = -1;                     // the lock file; -1 for a process-private mutex
  std::timed_mutex Private;        // used when Fd is -1
  std::mutex Guard;                // protects Owner and Count
  std::thread::id Owner;           // default id: not owned
  unsigned Count = 0;              // recursive acquisitions by Owner
};

std::string LockDirectory() {
  struct stat st {};
  if (::stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) && ::access("/dev/shm", W_OK) == 0) return "/dev/shm";
  const char* tmp = std::getenv("TMPDIR");
  return tmp && *tmp ? tmp : "/tmp";
}

// Names may hold characters a file name cannot; everything outside [A-Za-z0-9_.-] becomes '_'.
std::string LockFileName(const char* Name) {
  std::string safe;
  for (const char* p = Name; *p; ++p) {
    char c = *p;
    bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '.' ||
              c == '-';
    safe += ok ? c : '_';
  }
  return LockDirectory() + "/zyl-mutex-" + std::to_string(::getuid()) + "-" + safe;
}

MutexHandle* AsMutex(HANDLE Handle) {
  auto* M = static_cast<MutexHandle*>(Handle);
  return M && M->Tag == kMutexTag ? M : nullptr;
}

bool TryLockOnce(MutexHandle& M) {
  if (M.Fd < 0) return M.Private.try_lock();
  return ::flock(M.Fd, LOCK_EX | LOCK_NB) == 0;
}

void UnlockOnce(MutexHandle& M) {
  if (M.Fd < 0) M.Private.unlock();
  else ::flock(M.Fd, LOCK_UN);
}

}  // namespace

HANDLE CreateMutexA(void* MutexAttributes, BOOL InitialOwner, LPCSTR Name) {
  auto M = std::make_unique<MutexHandle>();
  DWORD Created = ERROR_SUCCESS;
  if (Name && *Name) {
    std::string File = LockFileName(Name);
    int Fd = ::open(File.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (Fd < 0 && errno == EEXIST) {
      Created = ERROR_ALREADY_EXISTS;
      Fd = ::open(File.c_str(), O_RDWR | O_CLOEXEC);
    }
    if (Fd < 0) {
      SetLastError(static_cast<DWORD>(errno));
      return nullptr;
    }
    M->Fd = Fd;
  }
  HANDLE H = M.release();
  if (InitialOwner) WaitForSingleObject(H, INFINITE);
  SetLastError(Created);
  return H;
}

DWORD WaitForSingleObject(HANDLE Handle, DWORD Milliseconds) {
  MutexHandle* M = AsMutex(Handle);
  if (!M) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  std::thread::id Self = std::this_thread::get_id();
  {
    std::lock_guard<std::mutex> Lock(M->Guard);
    if (M->Count > 0 && M->Owner == Self) {
      ++M->Count;
      return WAIT_OBJECT_0;
    }
  }
  // flock has no timed form: poll, with a short pause that grows to 10 ms, so that a release is
  // noticed quickly without spinning.
  auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(Milliseconds);
  auto Pause = std::chrono::microseconds(200);
  while (!TryLockOnce(*M)) {
    if (Milliseconds != INFINITE && std::chrono::steady_clock::now() >= Deadline) return WAIT_TIMEOUT;
    std::this_thread::sleep_for(Pause);
    if (Pause < std::chrono::milliseconds(10)) Pause *= 2;
  }
  std::lock_guard<std::mutex> Lock(M->Guard);
  M->Owner = Self;
  M->Count = 1;
  return WAIT_OBJECT_0;
}

BOOL ReleaseMutex(HANDLE Handle) {
  MutexHandle* M = AsMutex(Handle);
  if (!M) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::lock_guard<std::mutex> Lock(M->Guard);
  if (M->Count == 0 || M->Owner != std::this_thread::get_id()) {
    SetLastError(ERROR_NOT_OWNER);
    return FALSE;
  }
  if (--M->Count == 0) {
    M->Owner = std::thread::id();
    UnlockOnce(*M);
  }
  return TRUE;
}

BOOL CloseHandle(HANDLE Handle) {
  MutexHandle* M = AsMutex(Handle);
  if (!M) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  {
    std::lock_guard<std::mutex> Lock(M->Guard);
    if (M->Count > 0 && M->Fd < 0) M->Private.unlock();
    M->Count = 0;
  }
  // Closing the file drops its flock, so an owned named mutex is released here as well. The lock
  // file stays: removing it would let a later opener lock a new file while a waiter still holds
  // the old one.
  if (M->Fd >= 0) ::close(M->Fd);
  M->Tag = 0;
  delete M;
  return TRUE;
}

TNamedMutexHolder::TNamedMutexHolder(const char* Name, DWORD TimeoutMs) {
  FHandle = CreateMutexA(nullptr, FALSE, Name);
  if (FHandle) FAcquired = WaitForSingleObject(FHandle, TimeoutMs) == WAIT_OBJECT_0;
}

TNamedMutexHolder::~TNamedMutexHolder() {
  if (!FHandle) return;
  if (FAcquired) ReleaseMutex(FHandle);
  CloseHandle(FHandle);
}
