// The read-ahead file layer (see ReadAheadVfs.h for when the buffer is filled and dropped).
#include "dblib/sqlite/ReadAheadVfs.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace dbl {

namespace {

constexpr int kChunk = 64 * 1024;

// Our file: SQLite's own file object follows it in the same allocation.
struct File {
  sqlite3_file base;       // methods: ours
  sqlite3_file* real;      // the default layer's file
  bool mainDb;             // only main database files get a buffer
  char* buf;               // kChunk bytes, allocated at the first sequential read
  sqlite3_int64 bufOff;    // file offset of buf[0]
  int bufLen;              // bytes of buf that hold the file (0: nothing)
  sqlite3_int64 nextOff;   // where the last read ended
};

constexpr size_t kRealOffset = (sizeof(File) + 15) & ~size_t{15};

File* Of(sqlite3_file* f) { return reinterpret_cast<File*>(f); }
sqlite3_file* Real(sqlite3_file* f) { return Of(f)->real; }
void Drop(sqlite3_file* f) { Of(f)->bufLen = 0; }

int Close(sqlite3_file* f) {
  File* p = Of(f);
  int rc = p->real->pMethods->xClose(p->real);
  std::free(p->buf);
  p->buf = nullptr;
  p->bufLen = 0;
  return rc;
}

int Read(sqlite3_file* f, void* out, int amt, sqlite3_int64 off) {
  File* p = Of(f);
  sqlite3_file* r = p->real;
  if (!p->mainDb) return r->pMethods->xRead(r, out, amt, off);
  if (p->bufLen > 0 && off >= p->bufOff && off + amt <= p->bufOff + p->bufLen) {
    std::memcpy(out, p->buf + (off - p->bufOff), static_cast<size_t>(amt));
    p->nextOff = off + amt;
    return SQLITE_OK;
  }
  // In sequence: right after the previous read, or right after the buffer's end (pages taken
  // from the log or the cache in between are not read from the file).
  const bool sequential = off == p->nextOff || (p->bufLen > 0 && off == p->bufOff + p->bufLen);
  p->nextOff = off + amt;
  p->bufLen = 0;
  if (sequential && amt > 0 && amt < kChunk) {
    if (!p->buf) p->buf = static_cast<char*>(std::malloc(kChunk));
    // A short read (the chunk runs past the end of the file) or an error reads the page alone.
    if (p->buf && r->pMethods->xRead(r, p->buf, kChunk, off) == SQLITE_OK) {
      p->bufOff = off;
      p->bufLen = kChunk;
      std::memcpy(out, p->buf, static_cast<size_t>(amt));
      return SQLITE_OK;
    }
  }
  return r->pMethods->xRead(r, out, amt, off);
}

int Write(sqlite3_file* f, const void* in, int amt, sqlite3_int64 off) {
  Drop(f);
  return Real(f)->pMethods->xWrite(Real(f), in, amt, off);
}
int Truncate(sqlite3_file* f, sqlite3_int64 size) {
  Drop(f);
  return Real(f)->pMethods->xTruncate(Real(f), size);
}
int Sync(sqlite3_file* f, int flags) { return Real(f)->pMethods->xSync(Real(f), flags); }
int FileSize(sqlite3_file* f, sqlite3_int64* size) { return Real(f)->pMethods->xFileSize(Real(f), size); }
int Lock(sqlite3_file* f, int level) {
  Drop(f);
  return Real(f)->pMethods->xLock(Real(f), level);
}
int Unlock(sqlite3_file* f, int level) {
  Drop(f);
  return Real(f)->pMethods->xUnlock(Real(f), level);
}
int CheckReservedLock(sqlite3_file* f, int* out) { return Real(f)->pMethods->xCheckReservedLock(Real(f), out); }
int FileControl(sqlite3_file* f, int op, void* arg) {
  Drop(f);
  return Real(f)->pMethods->xFileControl(Real(f), op, arg);
}
int SectorSize(sqlite3_file* f) { return Real(f)->pMethods->xSectorSize(Real(f)); }
int DeviceCharacteristics(sqlite3_file* f) { return Real(f)->pMethods->xDeviceCharacteristics(Real(f)); }
int ShmMap(sqlite3_file* f, int page, int size, int extend, void volatile** out) {
  Drop(f);
  return Real(f)->pMethods->xShmMap(Real(f), page, size, extend, out);
}
int ShmLock(sqlite3_file* f, int offset, int n, int flags) {
  Drop(f);
  return Real(f)->pMethods->xShmLock(Real(f), offset, n, flags);
}
void ShmBarrier(sqlite3_file* f) {
  Drop(f);
  Real(f)->pMethods->xShmBarrier(Real(f));
}
int ShmUnmap(sqlite3_file* f, int deleteFlag) {
  Drop(f);
  return Real(f)->pMethods->xShmUnmap(Real(f), deleteFlag);
}
int Fetch(sqlite3_file* f, sqlite3_int64 off, int amt, void** out) {
  return Real(f)->pMethods->xFetch(Real(f), off, amt, out);
}
int Unfetch(sqlite3_file* f, sqlite3_int64 off, void* p) { return Real(f)->pMethods->xUnfetch(Real(f), off, p); }

// Our methods in each version a default layer's file may have: we offer what it offers.
const sqlite3_io_methods* MethodsFor(int version) {
  static const sqlite3_io_methods v1 = {1,         Close,     Read,     Write,       Truncate,          Sync,
                                        FileSize,  Lock,      Unlock,   CheckReservedLock, FileControl, SectorSize,
                                        DeviceCharacteristics, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
  static const sqlite3_io_methods v2 = {2,         Close,     Read,     Write,       Truncate,          Sync,
                                        FileSize,  Lock,      Unlock,   CheckReservedLock, FileControl, SectorSize,
                                        DeviceCharacteristics, ShmMap, ShmLock, ShmBarrier, ShmUnmap, nullptr, nullptr};
  static const sqlite3_io_methods v3 = {3,         Close,     Read,     Write,       Truncate,          Sync,
                                        FileSize,  Lock,      Unlock,   CheckReservedLock, FileControl, SectorSize,
                                        DeviceCharacteristics, ShmMap, ShmLock, ShmBarrier, ShmUnmap, Fetch, Unfetch};
  return version >= 3 ? &v3 : version == 2 ? &v2 : &v1;
}

sqlite3_vfs* Inner(sqlite3_vfs* v) { return static_cast<sqlite3_vfs*>(v->pAppData); }

int Open(sqlite3_vfs* v, const char* name, sqlite3_file* f, int flags, int* outFlags) {
  File* p = Of(f);
  std::memset(p, 0, sizeof(File));
  p->real = reinterpret_cast<sqlite3_file*>(reinterpret_cast<char*>(f) + kRealOffset);
  p->mainDb = (flags & SQLITE_OPEN_MAIN_DB) != 0;
  sqlite3_vfs* inner = Inner(v);
  int rc = inner->xOpen(inner, name, p->real, flags, outFlags);
  // SQLite closes a file whose methods are set, also after a failed open.
  p->base.pMethods = p->real->pMethods ? MethodsFor(p->real->pMethods->iVersion) : nullptr;
  return rc;
}

int Delete(sqlite3_vfs* v, const char* name, int syncDir) { return Inner(v)->xDelete(Inner(v), name, syncDir); }
int Access(sqlite3_vfs* v, const char* name, int flags, int* out) {
  return Inner(v)->xAccess(Inner(v), name, flags, out);
}
int FullPathname(sqlite3_vfs* v, const char* name, int n, char* out) {
  return Inner(v)->xFullPathname(Inner(v), name, n, out);
}
void* DlOpen(sqlite3_vfs* v, const char* name) { return Inner(v)->xDlOpen(Inner(v), name); }
void DlError(sqlite3_vfs* v, int n, char* out) { Inner(v)->xDlError(Inner(v), n, out); }
void (*DlSym(sqlite3_vfs* v, void* h, const char* sym))(void) { return Inner(v)->xDlSym(Inner(v), h, sym); }
void DlClose(sqlite3_vfs* v, void* h) { Inner(v)->xDlClose(Inner(v), h); }
int Randomness(sqlite3_vfs* v, int n, char* out) { return Inner(v)->xRandomness(Inner(v), n, out); }
int Sleep(sqlite3_vfs* v, int us) { return Inner(v)->xSleep(Inner(v), us); }
int CurrentTime(sqlite3_vfs* v, double* out) { return Inner(v)->xCurrentTime(Inner(v), out); }
int GetLastError(sqlite3_vfs* v, int n, char* out) { return Inner(v)->xGetLastError(Inner(v), n, out); }
int CurrentTimeInt64(sqlite3_vfs* v, sqlite3_int64* out) { return Inner(v)->xCurrentTimeInt64(Inner(v), out); }

// Registered once per loaded copy of the library (each client-library flavour carries its own,
// under a name of its own), unregistered when that copy is unloaded: SQLite must never keep a
// pointer into a library that is gone.
class Registration {
 public:
  Registration() {
    sqlite3_vfs* inner = sqlite3_vfs_find(nullptr);
    if (!inner || inner->iVersion < 2) return;
    std::snprintf(name_, sizeof name_, "zyl-readahead-%p", static_cast<void*>(this));
    vfs_.iVersion = 2;
    vfs_.szOsFile = static_cast<int>(kRealOffset) + inner->szOsFile;
    vfs_.mxPathname = inner->mxPathname;
    vfs_.zName = name_;
    vfs_.pAppData = inner;
    vfs_.xOpen = Open;
    vfs_.xDelete = Delete;
    vfs_.xAccess = Access;
    vfs_.xFullPathname = FullPathname;
    vfs_.xDlOpen = DlOpen;
    vfs_.xDlError = DlError;
    vfs_.xDlSym = DlSym;
    vfs_.xDlClose = DlClose;
    vfs_.xRandomness = Randomness;
    vfs_.xSleep = Sleep;
    vfs_.xCurrentTime = CurrentTime;
    vfs_.xGetLastError = GetLastError;
    vfs_.xCurrentTimeInt64 = CurrentTimeInt64;
    registered_ = sqlite3_vfs_register(&vfs_, 0) == SQLITE_OK;
  }
  ~Registration() {
    if (registered_) sqlite3_vfs_unregister(&vfs_);
  }
  Registration(const Registration&) = delete;
  Registration& operator=(const Registration&) = delete;
  // nullptr (SQLite's default layer) when registering failed.
  const char* Name() const { return registered_ ? name_ : nullptr; }

 private:
  sqlite3_vfs vfs_{};
  char name_[48] = {};
  bool registered_ = false;
};

}  // namespace

const char* ReadAheadVfsName() {
  static Registration registration;
  return registration.Name();
}

}  // namespace dbl
