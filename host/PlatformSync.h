// PlatformSync: named mutexes shared by every process of the machine, under the Windows calls the
// rest of the code is written against (CreateMutexA, WaitForSingleObject, ReleaseMutex,
// CloseHandle), plus a small RAII owner for the common "wait, work, release" shape.
//
// A named mutex is a lock file in the shared-memory directory (/dev/shm, else the temporary
// directory), one per name and user: "zyl-mutex-<uid>-<name>". Every handle opens the file on its
// own, so flock() on it excludes other handles of this process as well as other processes; the
// kernel drops the lock of a process that dies, so a crashed owner never blocks the others (the
// next waiter simply gets it; Windows would say "abandoned", which no caller here acts upon).
//
// Ownership follows Windows: the thread that acquired the mutex owns it, may acquire it again
// (each acquisition needs its own ReleaseMutex), and only the owner can release it. Closing the
// last handle of an owned mutex releases it.
//
// An unnamed mutex (Name nullptr or empty) is private to the process.
#pragma once
#pragma GCC visibility push(default)

#include "host/Platform.h"

constexpr DWORD INFINITE = 0xFFFFFFFF;
constexpr DWORD WAIT_OBJECT_0 = 0x00000000;
constexpr DWORD WAIT_ABANDONED = 0x00000080;
constexpr DWORD WAIT_TIMEOUT = 0x00000102;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;
constexpr DWORD ERROR_ALREADY_EXISTS = 0x200000B7;
constexpr DWORD ERROR_NOT_OWNER = 0x20000120;
constexpr DWORD ERROR_INVALID_HANDLE = 0x20000006;

// Returns a handle, or nullptr with GetLastError set. When the named mutex existed already (its
// lock file was there), GetLastError is ERROR_ALREADY_EXISTS and InitialOwner is still honoured
// by waiting without limit, as Windows does.
HANDLE CreateMutexA(void* MutexAttributes, BOOL InitialOwner, LPCSTR Name);
// WAIT_OBJECT_0 when acquired, WAIT_TIMEOUT after Milliseconds, WAIT_FAILED for a bad handle.
DWORD WaitForSingleObject(HANDLE Handle, DWORD Milliseconds);
// FALSE with ERROR_NOT_OWNER when the calling thread does not own it.
BOOL ReleaseMutex(HANDLE Handle);
BOOL CloseHandle(HANDLE Handle);

// Opens (or creates) the named mutex and waits for it at most TimeoutMs. Whether or not the wait
// succeeded the holder goes on (callers that must not proceed without it look at Acquired()); the
// destructor releases what was acquired and closes the handle.
class TNamedMutexHolder {
 public:
  TNamedMutexHolder(const char* Name, DWORD TimeoutMs);
  ~TNamedMutexHolder();
  TNamedMutexHolder(const TNamedMutexHolder&) = delete;
  TNamedMutexHolder& operator=(const TNamedMutexHolder&) = delete;

  bool Exists() const { return FHandle != nullptr; }  // the mutex could be created or opened
  bool Acquired() const { return FAcquired; }

 private:
  HANDLE FHandle = nullptr;
  bool FAcquired = false;
};
#pragma GCC visibility pop
