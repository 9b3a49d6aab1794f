// The Linux side of the platform layer: library loading over dlopen, the search
// path, the current directory, per-thread last error, code-page translation,
// message boxes, Sleep and string comparison. See host/Platform.h for the rules.
#include "host/Platform.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/PlatformInt.h"
#include "host/SysUtils.h"

namespace {

thread_local DWORD LastError = 0;
thread_local std::string LoaderText;  // the loader's text for the last loader error

void SetLoaderError(DWORD Code, const char* Text) {
  LastError = Code;
  LoaderText = Text ? Text : "";
}

bool HasDirectory(const std::string& Name) { return Name.find('/') != std::string::npos; }

bool IsRegularFile(const std::string& Path) { return FileExists(Path); }

std::string ExecutableDir() {
  char Buf[4096];
  ssize_t N = readlink("/proc/self/exe", Buf, sizeof(Buf) - 1);
  if (N <= 0) return {};
  std::string Path(Buf, static_cast<size_t>(N));
  return ExtractFilePath(Path);
}

// "X.dll" -> "libX.so" in the same directory; empty when the rule does not apply.
std::string SharedObjectName(const std::string& Name) {
  const size_t Slash = Name.rfind('/');
  const std::string Dir = Slash == std::string::npos ? std::string() : Name.substr(0, Slash + 1);
  const std::string File = Slash == std::string::npos ? Name : Name.substr(Slash + 1);
  if (File.size() <= 4 || !SameText(File.substr(File.size() - 4), ".dll")) return {};
  return Dir + "lib" + File.substr(0, File.size() - 4) + ".so";
}

std::vector<std::string> Candidates(const std::string& Name) {
  std::vector<std::string> C{Name};
  std::string So = SharedObjectName(Name);
  if (!So.empty()) C.push_back(So);
  return C;
}

// The directories the system loader searches for a library that this library
// opens: LD_LIBRARY_PATH, run paths, system directories.
std::vector<std::string> LoaderDirectories() {
  std::vector<std::string> Dirs;
  Dl_info Info;
  void* Self = nullptr;
  if (dladdr(reinterpret_cast<void*>(&LoaderDirectories), &Info) && Info.dli_fname)
    Self = dlopen(Info.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
  if (!Self) Self = dlopen(nullptr, RTLD_LAZY);
  if (Self) {
    Dl_serinfo Size;
    if (dlinfo(Self, RTLD_DI_SERINFOSIZE, &Size) == 0 && Size.dls_size >= sizeof(Dl_serinfo)) {
      std::vector<unsigned char> Buffer(Size.dls_size);
      auto* Serinfo = reinterpret_cast<Dl_serinfo*>(Buffer.data());
      Serinfo->dls_size = Size.dls_size;
      Serinfo->dls_cnt = Size.dls_cnt;
      if (dlinfo(Self, RTLD_DI_SERINFO, Serinfo) == 0)
        for (unsigned I = 0; I < Serinfo->dls_cnt; ++I)
          if (Serinfo->dls_serpath[I].dls_name) Dirs.emplace_back(Serinfo->dls_serpath[I].dls_name);
    }
    dlclose(Self);
  }
  for (const char* D : {"/lib", "/usr/lib", "/usr/local/lib"}) Dirs.emplace_back(D);
  return Dirs;
}

std::vector<std::string> SplitPath(const std::string& List) {
  std::vector<std::string> Dirs;
  std::string Cur;
  for (char Ch : List) {
    if (Ch == ':' || Ch == ';') {
      if (!Cur.empty()) Dirs.push_back(Cur);
      Cur.clear();
    } else {
      Cur += Ch;
    }
  }
  if (!Cur.empty()) Dirs.push_back(Cur);
  return Dirs;
}

std::string FindFile(const std::vector<std::string>& Dirs, const std::string& Name) {
  if (HasDirectory(Name)) return IsRegularFile(Name) ? Name : std::string();
  for (const std::string& D : Dirs) {
    std::string Path = IncludeTrailingPathDelimiter(D) + Name;
    if (IsRegularFile(Path)) return Path;
  }
  return {};
}

std::string AbsolutePath(const std::string& Path) {
  if (!Path.empty() && Path[0] == '/') return Path;
  char* Real = realpath(Path.c_str(), nullptr);
  if (!Real) return IncludeTrailingPathDelimiter(GetCurrentDir()) + Path;
  std::string R(Real);
  free(Real);
  return R;
}

std::mutex MessageBoxLock;
TMessageBoxHandler& MessageBoxHook() {
  static TMessageBoxHandler Hook;
  return Hook;
}

int DefaultButtonResult(UINT Type) {
  static const int Buttons[][3] = {
      {IDOK, IDOK, IDOK},          {IDOK, IDCANCEL, IDCANCEL},  {IDABORT, IDRETRY, IDIGNORE},
      {IDYES, IDNO, IDCANCEL},     {IDYES, IDNO, IDNO},         {IDRETRY, IDCANCEL, IDCANCEL}};
  const UINT Kind = Type & 0xF;
  const UINT Default = (Type >> 8) & 0xF;
  if (Kind > 5 || Default > 2) return IDOK;
  return Buttons[Kind][Default];
}

int StandardMessageBox(LPCSTR Text, LPCSTR Caption, UINT Type) {
  std::fprintf(stderr, "%s: %s\n", Caption ? Caption : "Error", Text ? Text : "");
  std::fflush(stderr);
  return DefaultButtonResult(Type);
}

}  // namespace

DWORD GetLastError() { return LastError; }
void SetLastError(DWORD Code) {
  LastError = Code;
  LoaderText.clear();
}

// Used by SysErrorMessage: the loader's own text when Code is the last loader error.
AnsiString ZylLoaderErrorText(DWORD Code) {
  if ((Code == ERROR_MOD_NOT_FOUND || Code == ERROR_PROC_NOT_FOUND) && Code == LastError)
    return LoaderText;
  return {};
}

HMODULE LoadLibraryA(LPCSTR FileName) {
  if (!FileName || !*FileName) {
    SetLoaderError(ERROR_MOD_NOT_FOUND, "no library name given");
    return nullptr;
  }
  std::string FirstError;
  for (const std::string& Name : Candidates(FileName)) {
    std::vector<std::string> Tries;
    if (HasDirectory(Name)) {
      Tries.push_back(Name);
    } else {
      // Windows looks in the executable's directory and the current directory
      // before the system paths; dlopen would look in neither for a bare name.
      for (const std::string& Dir : {ExecutableDir(), GetCurrentDir()}) {
        if (Dir.empty()) continue;
        std::string Path = IncludeTrailingPathDelimiter(Dir) + Name;
        if (IsRegularFile(Path)) Tries.push_back(Path);
      }
      Tries.push_back(Name);
    }
    for (const std::string& Path : Tries) {
      dlerror();
      if (void* Handle = dlopen(Path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
        SetLastError(ERROR_SUCCESS);
        return Handle;
      }
      const char* Err = dlerror();
      // A file that exists but fails to load says more than "not found" does.
      if (FirstError.empty() || IsRegularFile(Path)) FirstError = Err ? Err : "cannot load";
    }
  }
  SetLoaderError(ERROR_MOD_NOT_FOUND, FirstError.c_str());
  return nullptr;
}

FARPROC GetProcAddress(HMODULE Module, LPCSTR ProcName) {
  if (!Module || !ProcName) {
    SetLoaderError(ERROR_PROC_NOT_FOUND, "no module or procedure name given");
    return nullptr;
  }
  dlerror();
  void* Sym = dlsym(Module, ProcName);
  if (!Sym) {
    const char* Err = dlerror();
    SetLoaderError(ERROR_PROC_NOT_FOUND, Err ? Err : "symbol is null");
    return nullptr;
  }
  FARPROC Proc;
  static_assert(sizeof(Proc) == sizeof(Sym));
  std::memcpy(&Proc, &Sym, sizeof(Proc));
  return Proc;
}

BOOL FreeLibrary(HMODULE Module) {
  if (!Module) {
    SetLoaderError(ERROR_MOD_NOT_FOUND, "no module given");
    return FALSE;
  }
  if (dlclose(Module) != 0) {
    const char* Err = dlerror();
    SetLoaderError(ERROR_MOD_NOT_FOUND, Err ? Err : "cannot unload");
    return FALSE;
  }
  return TRUE;
}

DWORD GetModuleFileNameA(HMODULE Module, LPSTR Filename, DWORD Size) {
  if (!Filename || Size == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string Path;
  if (!Module) {
    char Buf[4096];
    ssize_t N = readlink("/proc/self/exe", Buf, sizeof(Buf) - 1);
    if (N > 0) Path.assign(Buf, static_cast<size_t>(N));
  } else {
    link_map* Map = nullptr;
    if (dlinfo(Module, RTLD_DI_LINKMAP, &Map) == 0 && Map && Map->l_name) Path = Map->l_name;
  }
  if (Path.empty()) {
    SetLoaderError(ERROR_MOD_NOT_FOUND, "module has no file name");
    return 0;
  }
  const DWORD N = static_cast<DWORD>(Path.size()) < Size - 1 ? static_cast<DWORD>(Path.size()) : Size - 1;
  std::memcpy(Filename, Path.data(), N);
  Filename[N] = '\0';
  if (N < Path.size()) SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return N;
}

DWORD SearchPathA(LPCSTR Path, LPCSTR FileName, LPCSTR Extension, DWORD BufferLength,
                  LPSTR Buffer, LPSTR* FilePart) {
  if (!FileName || !*FileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string Name(FileName);
  if (Extension && *Extension && ExtractFileExt(Name).empty()) Name += Extension;
  std::vector<std::string> Dirs;
  if (Path) {
    Dirs = SplitPath(Path);
  } else {
    for (const std::string& D : {ExecutableDir(), GetCurrentDir()})
      if (!D.empty()) Dirs.push_back(D);
    for (std::string& D : LoaderDirectories()) Dirs.push_back(std::move(D));
  }
  std::string Found;
  for (const std::string& C : Candidates(Name)) {
    Found = FindFile(Dirs, C);
    if (!Found.empty()) break;
  }
  if (Found.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
  }
  Found = AbsolutePath(Found);
  if (!Buffer || BufferLength < Found.size() + 1) return static_cast<DWORD>(Found.size() + 1);
  std::memcpy(Buffer, Found.c_str(), Found.size() + 1);
  if (FilePart) *FilePart = Buffer + Found.rfind('/') + 1;
  return static_cast<DWORD>(Found.size());
}

DWORD GetCurrentDirectoryA(DWORD BufferLength, LPSTR Buffer) {
  std::string Dir;
  std::vector<char> Buf(4096);
  while (!getcwd(Buf.data(), Buf.size())) {
    if (errno != ERANGE || Buf.size() > (1u << 20)) {
      LastError = static_cast<DWORD>(errno);
      return 0;
    }
    Buf.resize(Buf.size() * 2);
  }
  Dir = Buf.data();
  if (!Buffer || BufferLength < Dir.size() + 1) return static_cast<DWORD>(Dir.size() + 1);
  std::memcpy(Buffer, Dir.c_str(), Dir.size() + 1);
  return static_cast<DWORD>(Dir.size());
}

BOOL SetCurrentDirectoryA(LPCSTR PathName) {
  if (!PathName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (chdir(PathName) != 0) {
    SetLastError(static_cast<DWORD>(errno));
    return FALSE;
  }
  return TRUE;
}

namespace {
std::recursive_mutex& CurrentDirectoryLock() {
  static std::recursive_mutex Lock;
  return Lock;
}
}  // namespace

TCurrentDirectoryScope::TCurrentDirectoryScope() : FLock(CurrentDirectoryLock()) {
  DWORD N = GetCurrentDirectoryA(0, nullptr);
  if (N == 0) return;
  std::vector<char> Buf(N + 1);
  N = GetCurrentDirectoryA(static_cast<DWORD>(Buf.size()), Buf.data());
  if (N > 0 && N < Buf.size()) FSaved.assign(Buf.data(), N);
}

TCurrentDirectoryScope::~TCurrentDirectoryScope() {
  if (!FSaved.empty()) SetCurrentDirectoryA(FSaved.c_str());
}

BOOL CharToOemBuffA(LPCSTR Src, LPSTR Dst, DWORD Length) {
  if (!Src || !Dst) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  for (DWORD I = 0; I < Length; ++I)
    Dst[I] = static_cast<char>(ZylCodePage::AnsiToOem[static_cast<uint8_t>(Src[I])]);
  return TRUE;
}

BOOL OemToCharBuffA(LPCSTR Src, LPSTR Dst, DWORD Length) {
  if (!Src || !Dst) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  for (DWORD I = 0; I < Length; ++I)
    Dst[I] = static_cast<char>(ZylCodePage::OemToAnsi[static_cast<uint8_t>(Src[I])]);
  return TRUE;
}

int MessageBoxA(HWND, LPCSTR Text, LPCSTR Caption, UINT Type) {
  TMessageBoxHandler Hook;
  {
    std::lock_guard<std::mutex> Guard(MessageBoxLock);
    Hook = MessageBoxHook();
  }
  return Hook ? Hook(Text, Caption, Type) : StandardMessageBox(Text, Caption, Type);
}

TMessageBoxHandler SetMessageBoxHandler(TMessageBoxHandler Handler) {
  std::lock_guard<std::mutex> Guard(MessageBoxLock);
  TMessageBoxHandler Old = std::move(MessageBoxHook());
  MessageBoxHook() = std::move(Handler);
  return Old;
}

void Sleep(DWORD Milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(Milliseconds)); }

int CompareStringA(LCID Locale, DWORD CmpFlags, LPCSTR String1, int Count1, LPCSTR String2,
                   int Count2) {
  constexpr DWORD Known = NORM_IGNORECASE | NORM_IGNORENONSPACE | NORM_IGNORESYMBOLS | SORT_STRINGSORT;
  if (!String1 || !String2 || (CmpFlags & ~Known) || Count1 < -1 || Count2 < -1) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const size_t N1 = Count1 < 0 ? std::strlen(String1) : static_cast<size_t>(Count1);
  const size_t N2 = Count2 < 0 ? std::strlen(String2) : static_cast<size_t>(Count2);
  const int R = ZylCodePage::Collate(String1, N1, String2, N2, CmpFlags);
  return R < 0 ? CSTR_LESS_THAN : R > 0 ? CSTR_GREATER_THAN : CSTR_EQUAL;
}
