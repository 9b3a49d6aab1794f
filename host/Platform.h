// Platform: the one unit that knows it runs on Linux. Every operating-system call
// the libraries make goes through here, under the Windows name the rest of the
// code is written against, with Windows' contract (return values, buffer rules,
// last-error reporting) kept wherever Linux allows.
//
// Library loading. LoadLibraryA looks for a file name without directory in the
// directory of the executable, then in the current directory, then wherever the
// system loader looks (LD_LIBRARY_PATH, the run paths of this library, the loader
// cache, the system directories) - the order Windows uses, so that a client library
// in the current directory is found by its name alone. A name ending in ".dll"
// (any case) that cannot be found as given is then tried as "lib" + stem + ".so"
// in the same directory or search, so "dblib9.dll" finds libdblib9.so. SearchPathA
// applies the same rule and the same search order when no path is given.
//
// Errors are kept per thread as Windows does: GetLastError returns the code of
// the last failed call (errno values for file-system calls, ERROR_MOD_NOT_FOUND /
// ERROR_PROC_NOT_FOUND for the loader), and SysErrorMessage of a loader code gives
// the loader's own text for that failure.
//
// Code pages. Strings are Windows-1252; CharToOemBuffA and OemToCharBuffA
// translate to and from code page 850 by table. Characters present in both pages
// round-trip exactly; the others get the nearest look-alike ("Š" -> 'S', box
// drawing -> '+', '-', '|') and '?' when there is none, as Windows does.
//
// CompareStringA collates Windows-1252 text the way the user locale (a Western
// European one) does: letters compare by their base letter first, then by accent,
// then by case (lower before upper) unless NORM_IGNORECASE; ligatures count as two
// letters ("æ" = "ae", "ß" = "ss"); symbols sort before digits, digits before
// letters. Without SORT_STRINGSORT the hyphen and the apostrophe are ignored (the
// "word sort"), except to break ties.
//
// MessageBoxA writes "Caption: Text" to standard error and returns the default
// button's result, since a program here has no screen; SetMessageBoxHandler
// replaces that (a test, a text console, a GUI layer).
#pragma once
#pragma GCC visibility push(default)

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

using BOOL = int;
using DWORD = uint32_t;
using UINT = unsigned int;
using LCID = uint32_t;
using HANDLE = void*;
using HWND = void*;
using HMODULE = void*;
using HINSTANCE = HMODULE;
using FARPROC = void (*)();
using LPSTR = char*;
using LPCSTR = const char*;

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;
constexpr DWORD MAX_PATH = 260;

// Loader error codes (outside the errno range).
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;  // errno ENOENT
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 0x2000007A;
constexpr DWORD ERROR_INVALID_PARAMETER = 0x20000057;
constexpr DWORD ERROR_MOD_NOT_FOUND = 0x2000007E;
constexpr DWORD ERROR_PROC_NOT_FOUND = 0x2000007F;

DWORD GetLastError();
void SetLastError(DWORD Code);

HMODULE LoadLibraryA(LPCSTR FileName);
FARPROC GetProcAddress(HMODULE Module, LPCSTR ProcName);
BOOL FreeLibrary(HMODULE Module);
// The file the module was loaded from; returns the length copied, 0 on failure.
DWORD GetModuleFileNameA(HMODULE Module, LPSTR Filename, DWORD Size);

// Windows' contract: returns the length of the full path copied (without the NUL),
// or, when Buffer is too small, the size needed including the NUL; 0 when not
// found. FilePart (may be nullptr) points at the file name inside Buffer. Path
// nullptr means the loader's search order described above; otherwise Path is a
// list of directories separated by ':' or ';'. Extension is appended when
// FileName has none.
DWORD SearchPathA(LPCSTR Path, LPCSTR FileName, LPCSTR Extension, DWORD BufferLength,
                  LPSTR Buffer, LPSTR* FilePart);

// Returns the length without the NUL, or the size needed including the NUL when
// BufferLength is too small; 0 on failure.
DWORD GetCurrentDirectoryA(DWORD BufferLength, LPSTR Buffer);
BOOL SetCurrentDirectoryA(LPCSTR PathName);

// A stretch of code that enters another current directory for a while (to load a library or
// connect from the library's folder). The process has one current directory: the scope remembers
// it, keeps every other thread's scope waiting until it ends (two interleaved scopes would leave
// the process in the wrong folder), and puts the remembered directory back at its end, however
// it ends. Scopes nest on one thread.
class TCurrentDirectoryScope {
 public:
  TCurrentDirectoryScope();
  ~TCurrentDirectoryScope();
  TCurrentDirectoryScope(const TCurrentDirectoryScope&) = delete;
  TCurrentDirectoryScope& operator=(const TCurrentDirectoryScope&) = delete;

 private:
  std::unique_lock<std::recursive_mutex> FLock;
  std::string FSaved;  // empty when it could not be read (nothing is put back then)
};

// Length bytes from Src to Dst; Src and Dst may be the same buffer.
BOOL CharToOemBuffA(LPCSTR Src, LPSTR Dst, DWORD Length);
BOOL OemToCharBuffA(LPCSTR Src, LPSTR Dst, DWORD Length);

constexpr UINT MB_OK = 0x0, MB_OKCANCEL = 0x1, MB_ABORTRETRYIGNORE = 0x2,
               MB_YESNOCANCEL = 0x3, MB_YESNO = 0x4, MB_RETRYCANCEL = 0x5;
constexpr UINT MB_ICONERROR = 0x10, MB_ICONQUESTION = 0x20, MB_ICONWARNING = 0x30,
               MB_ICONINFORMATION = 0x40;
constexpr UINT MB_DEFBUTTON1 = 0x000, MB_DEFBUTTON2 = 0x100, MB_DEFBUTTON3 = 0x200;
constexpr int IDOK = 1, IDCANCEL = 2, IDABORT = 3, IDRETRY = 4, IDIGNORE = 5, IDYES = 6,
              IDNO = 7;

using TMessageBoxHandler = std::function<int(LPCSTR Text, LPCSTR Caption, UINT Type)>;
int MessageBoxA(HWND Owner, LPCSTR Text, LPCSTR Caption, UINT Type);
// Returns the handler it replaces; an empty handler restores the standard one.
TMessageBoxHandler SetMessageBoxHandler(TMessageBoxHandler Handler);

void Sleep(DWORD Milliseconds);

constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;
constexpr DWORD NORM_IGNORECASE = 0x00000001;
constexpr DWORD NORM_IGNORENONSPACE = 0x00000002;
constexpr DWORD NORM_IGNORESYMBOLS = 0x00000004;
constexpr DWORD SORT_STRINGSORT = 0x00001000;
constexpr int CSTR_LESS_THAN = 1, CSTR_EQUAL = 2, CSTR_GREATER_THAN = 3;

// Count -1 means up to the NUL. Returns CSTR_..., or 0 with ERROR_INVALID_PARAMETER
// for a null string or unknown flags.
int CompareStringA(LCID Locale, DWORD CmpFlags, LPCSTR String1, int Count1, LPCSTR String2,
                   int Count2);
#pragma GCC visibility pop
