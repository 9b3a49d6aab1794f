// The Linux platform layer: library loading with the .dll rule, the search
// path, current directory, last-error texts, code-page tables, message boxes,
// Sleep and CompareStringA.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/Platform.h"
#include "host/SysUtils.h"

namespace {

AnsiString LibDir() {
  const char* D = std::getenv("ZYL_LIB_DIR");
  return D ? D : "";
}

// Runs a test in a temporary directory and puts the previous current directory back.
class PlatformDirs : public ::testing::Test {
protected:
  void SetUp() override {
    Saved = GetCurrentDir();
    char Template[] = "/tmp/zylhost-platform-XXXXXX";
    ASSERT_NE(mkdtemp(Template), nullptr);
    Dir = Template;
    ASSERT_FALSE(LibDir().empty()) << "ZYL_LIB_DIR not set";
  }
  void TearDown() override {
    SetCurrentDir(Saved);
    std::system(("rm -rf '" + Dir + "'").c_str());
  }
  void CopyProbe(const AnsiString& Name) {
    const AnsiString Cmd = "cp '" + LibDir() + "/libzylhostprobe.so' '" + Dir + "/" + Name + "'";
    ASSERT_EQ(std::system(Cmd.c_str()), 0);
  }
  static int CallAnswer(HMODULE M) {
    FARPROC P = GetProcAddress(M, "ZylProbeAnswer");
    return P ? reinterpret_cast<int (*)()>(P)() : -1;
  }
  AnsiString Saved, Dir;
};

}  // namespace

TEST_F(PlatformDirs, DllNameFallsBackToLibSoInTheSameDirectory) {
  HMODULE M = LoadLibraryA((LibDir() + "/zylhostprobe.dll").c_str());
  ASSERT_NE(M, nullptr) << SysErrorMessage(GetLastError());
  EXPECT_EQ(CallAnswer(M), 42);
  char Path[MAX_PATH];
  ASSERT_GT(GetModuleFileNameA(M, Path, MAX_PATH), 0u);
  EXPECT_EQ(ExtractFileName(Path), "libzylhostprobe.so");
  EXPECT_EQ(FreeLibrary(M), TRUE);
  // The suffix is matched without case.
  M = LoadLibraryA((LibDir() + "/zylhostprobe.DLL").c_str());
  ASSERT_NE(M, nullptr);
  FreeLibrary(M);
}

TEST_F(PlatformDirs, AFileThatExistsAsGivenIsLoadedAsGiven) {
  CopyProbe("probe.dll");  // no libprobe.so anywhere
  HMODULE M = LoadLibraryA((Dir + "/probe.dll").c_str());
  ASSERT_NE(M, nullptr) << SysErrorMessage(GetLastError());
  EXPECT_EQ(CallAnswer(M), 42);
  FreeLibrary(M);
}

TEST_F(PlatformDirs, BareNamesAreFoundInTheCurrentDirectory) {
  CopyProbe("libcwdprobe.so");
  EXPECT_EQ(LoadLibraryA("cwdprobe.dll"), nullptr);  // not in any searched place yet
  ASSERT_TRUE(SetCurrentDir(Dir));
  HMODULE M = LoadLibraryA("cwdprobe.dll");
  ASSERT_NE(M, nullptr) << SysErrorMessage(GetLastError());
  EXPECT_EQ(CallAnswer(M), 42);
  FreeLibrary(M);
}

TEST_F(PlatformDirs, FailuresReportTheLoadersText) {
  EXPECT_EQ(LoadLibraryA((Dir + "/absent.dll").c_str()), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  EXPECT_NE(SysErrorMessage(GetLastError()).find("absent"), AnsiString::npos);
  // A file that is no library at all: the loader says why.
  ASSERT_EQ(std::system(("echo text > '" + Dir + "/fake.dll'").c_str()), 0);
  EXPECT_EQ(LoadLibraryA((Dir + "/fake.dll").c_str()), nullptr);
  EXPECT_NE(SysErrorMessage(GetLastError()).find("fake.dll"), AnsiString::npos);
  EXPECT_EQ(LoadLibraryA(nullptr), nullptr);
  HMODULE M = LoadLibraryA((LibDir() + "/libzylhostprobe.so").c_str());
  ASSERT_NE(M, nullptr);
  EXPECT_EQ(GetProcAddress(M, "ZylNoSuchProc"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
  EXPECT_NE(SysErrorMessage(GetLastError()).find("ZylNoSuchProc"), AnsiString::npos);
  EXPECT_EQ(GetProcAddress(nullptr, "x"), nullptr);
  FreeLibrary(M);
  EXPECT_EQ(FreeLibrary(nullptr), FALSE);
  SetLastError(0);
  EXPECT_EQ(GetLastError(), 0u);
}

TEST_F(PlatformDirs, SearchPathAppliesTheSameRules) {
  char Buf[MAX_PATH];
  LPSTR FilePart = nullptr;
  DWORD N = SearchPathA(LibDir().c_str(), "zylhostprobe.dll", nullptr, MAX_PATH, Buf, &FilePart);
  ASSERT_GT(N, 0u);
  EXPECT_EQ(N, std::strlen(Buf));
  EXPECT_EQ(ExtractFileName(Buf), "libzylhostprobe.so");
  EXPECT_STREQ(FilePart, "libzylhostprobe.so");
  // Too small a buffer: the size needed, NUL included, and nothing written.
  char Tiny[4] = "abc";
  EXPECT_EQ(SearchPathA(LibDir().c_str(), "zylhostprobe.dll", nullptr, 4, Tiny, nullptr), N + 1);
  EXPECT_STREQ(Tiny, "abc");
  // No path: the current directory is searched.
  CopyProbe("probe2.dll");
  ASSERT_TRUE(SetCurrentDir(Dir));
  N = SearchPathA(nullptr, "probe2", ".dll", MAX_PATH, Buf, nullptr);
  ASSERT_GT(N, 0u);
  EXPECT_EQ(ExtractFilePath(Buf), IncludeTrailingPathDelimiter(GetCurrentDir()));
  // The loader's own directories: the run path of the host library is the build's lib folder.
  ASSERT_TRUE(SetCurrentDir("/"));
  N = SearchPathA(nullptr, "zylhostprobe.dll", nullptr, MAX_PATH, Buf, nullptr);
  ASSERT_GT(N, 0u);
  EXPECT_EQ(ExtractFileName(Buf), "libzylhostprobe.so");
  EXPECT_EQ(SearchPathA(nullptr, "nowhere-to-be-found.dll", nullptr, MAX_PATH, Buf, nullptr), 0u);
  EXPECT_EQ(SearchPathA(nullptr, nullptr, nullptr, MAX_PATH, Buf, nullptr), 0u);
}

TEST_F(PlatformDirs, CurrentDirectoryGetAndSet) {
  ASSERT_TRUE(SetCurrentDir(Dir));
  char* Real = realpath(Dir.c_str(), nullptr);
  EXPECT_EQ(GetCurrentDir(), Real);
  const DWORD Need = GetCurrentDirectoryA(0, nullptr);
  EXPECT_EQ(Need, std::strlen(Real) + 1);
  std::free(Real);
  EXPECT_FALSE(SetCurrentDir(Dir + "/missing"));
  EXPECT_EQ(GetLastError(), 2u);  // ENOENT
  EXPECT_EQ(SysErrorMessage(GetLastError()), "No such file or directory");
  EXPECT_EQ(SetCurrentDirectoryA(nullptr), FALSE);
}

TEST(PlatformOem, CharactersInBothPagesRoundTrip) {
  int RoundTrips = 0;
  for (int B = 0; B < 256; ++B) {
    char In = static_cast<char>(B), Oem, Back;
    ASSERT_EQ(CharToOemBuffA(&In, &Oem, 1), TRUE);
    ASSERT_EQ(OemToCharBuffA(&Oem, &Back, 1), TRUE);
    if (Back == In) ++RoundTrips;
  }
  // ASCII, the 96 Latin-1 characters and the florin sign are in both pages.
  EXPECT_EQ(RoundTrips, 128 + 96 + 1);
}

TEST(PlatformOem, KnownCharactersAndSubstitutes) {
  char Buf[8];
  ASSERT_TRUE(CharToOemBuffA("\xE9\xC4\xFC\xDF\xA0", Buf, 5));  // é Ä ü ß nbsp
  EXPECT_EQ(std::string(Buf, 5), "\x82\x8E\x81\xE1\xFF");
  ASSERT_TRUE(CharToOemBuffA("\x80\x8A\x93\x85", Buf, 4));  // € Š “ …
  EXPECT_EQ(std::string(Buf, 4), "?S\".");
  ASSERT_TRUE(OemToCharBuffA("\xC4\xB3\xC5\xB0", Buf, 4));  // ─ │ ┼ ░
  EXPECT_EQ(std::string(Buf, 4), "-|+?");
  char Same[] = "D\xE9j\xE0 vu";  // in place
  ASSERT_TRUE(CharToOemBuffA(Same, Same, 7));
  ASSERT_TRUE(OemToCharBuffA(Same, Same, 7));
  EXPECT_STREQ(Same, "D\xE9j\xE0 vu");
  EXPECT_EQ(CharToOemBuffA(nullptr, Buf, 1), FALSE);
  EXPECT_EQ(CharToOemBuffA("x", Buf, 0), TRUE);
}

TEST(PlatformCompare, ResultsAreOneTwoThree) {
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, 0, "abc", -1, "abd", -1), CSTR_LESS_THAN);
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, 0, "abc", -1, "abc", -1), CSTR_EQUAL);
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, 0, "b", -1, "abc", -1), CSTR_GREATER_THAN);
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, 0, "abcX", 3, "abcY", 3), CSTR_EQUAL);  // counts honoured
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, 0, nullptr, -1, "a", -1), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, 0x80000000, "a", -1, "a", -1), 0);
}

TEST(PlatformCompare, CaseAccentsAndLigatures) {
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, 0, "abc", -1, "ABC", -1), CSTR_LESS_THAN);
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, "abc", -1, "ABC", -1), CSTR_EQUAL);
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, "\xE9t\xE9", -1, "\xC9T\xC9", -1), CSTR_EQUAL);
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, "\xE9t\xE9", -1, "ete", -1), CSTR_GREATER_THAN);
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE | NORM_IGNORENONSPACE, "\xE9t\xE9", -1, "ete", -1),
            CSTR_EQUAL);
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, 0, "\xE9t\xE9", -1, "f", -1), CSTR_LESS_THAN);  // é with e
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, 0, "Z", -1, "\xE4", -1), CSTR_GREATER_THAN);   // ä with a
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, 0, "\xE6on", -1, "af", -1), CSTR_LESS_THAN);   // æ as ae
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, 0, "ma\xDF", -1, "masse", -1), CSTR_LESS_THAN);  // ß as ss
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, 0, "9", -1, "a", -1), CSTR_LESS_THAN);
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, 0, "!", -1, "0", -1), CSTR_LESS_THAN);
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORESYMBOLS, "a.b", -1, "ab", -1), CSTR_EQUAL);
}

TEST(PlatformCompare, StringSortCountsTheHyphenWordSortPassesOverIt) {
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, 0, "co-op", -1, "cooa", -1), CSTR_GREATER_THAN);
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, SORT_STRINGSORT, "co-op", -1, "cooa", -1), CSTR_LESS_THAN);
  // Ignored, yet it still tells two otherwise equal strings apart.
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, 0, "co-op", -1, "coop", -1), CSTR_GREATER_THAN);
}

TEST(PlatformMessageBox, WritesToStandardErrorOrToTheHandler) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(MessageBoxA(nullptr, "Could not connect", "Zylobase", MB_OK | MB_ICONERROR), IDOK);
  EXPECT_EQ(MessageBoxA(nullptr, "Go on?", "Q", MB_YESNO | MB_DEFBUTTON2), IDNO);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Zylobase: Could not connect\nQ: Go on?\n");
  std::string Seen;
  SetMessageBoxHandler([&](LPCSTR Text, LPCSTR Caption, UINT Type) {
    Seen = std::string(Caption) + "|" + Text + "|" + std::to_string(Type);
    return IDCANCEL;
  });
  EXPECT_EQ(MessageBoxA(nullptr, "t", "c", MB_OKCANCEL), IDCANCEL);
  EXPECT_EQ(Seen, "c|t|1");
  TMessageBoxHandler Old = SetMessageBoxHandler(nullptr);
  EXPECT_TRUE(static_cast<bool>(Old));
  testing::internal::CaptureStderr();
  MessageBoxA(nullptr, nullptr, nullptr, MB_OK);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: \n");
}

TEST(PlatformSleep, WaitsAtLeastTheTimeAsked) {
  const auto Start = std::chrono::steady_clock::now();
  Sleep(20);
  EXPECT_GE(std::chrono::steady_clock::now() - Start, std::chrono::milliseconds(20));
}
