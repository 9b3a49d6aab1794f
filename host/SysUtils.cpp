// Strings, numbers as text, Format, Currency, file names and the current
// directory. Locale-aware routines go through the platform layer's collation.
#include "host/SysUtils.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "host/Classes.h"
#include "host/Messages.h"
#include "host/Platform.h"
#include "host/PlatformInt.h"

AnsiString ZylLoaderErrorText(DWORD Code);  // Platform.cpp

void DatabaseError(const AnsiString& Message, TComponent* Component) {
  if (Component && !Component->GetName().empty())
    throw EDatabaseError(Component->GetName() + ": " + Message);
  throw EDatabaseError(Message);
}

// ---------------------------------------------------------------------------
// Strings

AnsiString Trim(const AnsiString& S) { return TrimLeft(TrimRight(S)); }

AnsiString TrimLeft(const AnsiString& S) {
  size_t I = 0;
  while (I < S.size() && static_cast<unsigned char>(S[I]) <= ' ') ++I;
  return S.substr(I);
}

AnsiString TrimRight(const AnsiString& S) {
  size_t N = S.size();
  while (N > 0 && static_cast<unsigned char>(S[N - 1]) <= ' ') --N;
  return S.substr(0, N);
}

AnsiString UpperCase(const AnsiString& S) {
  AnsiString R(S);
  for (char& C : R)
    if (C >= 'a' && C <= 'z') C = static_cast<char>(C - 'a' + 'A');
  return R;
}

AnsiString LowerCase(const AnsiString& S) {
  AnsiString R(S);
  for (char& C : R)
    if (C >= 'A' && C <= 'Z') C = static_cast<char>(C - 'A' + 'a');
  return R;
}

int CompareStr(const AnsiString& S1, const AnsiString& S2) {
  int R = S1.compare(S2);
  return R < 0 ? -1 : R > 0 ? 1 : 0;
}

int CompareText(const AnsiString& S1, const AnsiString& S2) { return CompareStr(UpperCase(S1), UpperCase(S2)); }
bool SameText(const AnsiString& S1, const AnsiString& S2) { return CompareText(S1, S2) == 0; }

AnsiString AnsiUpperCase(const AnsiString& S) {
  AnsiString R(S);
  for (char& C : R) C = static_cast<char>(ZylCodePage::AnsiUpper[static_cast<uint8_t>(C)]);
  return R;
}

AnsiString AnsiLowerCase(const AnsiString& S) {
  AnsiString R(S);
  for (char& C : R) C = static_cast<char>(ZylCodePage::AnsiLower[static_cast<uint8_t>(C)]);
  return R;
}

namespace {
int Collate(const AnsiString& S1, const AnsiString& S2, DWORD Flags) {
  const int R = CompareStringA(LOCALE_USER_DEFAULT, Flags, S1.data(), static_cast<int>(S1.size()),
                               S2.data(), static_cast<int>(S2.size()));
  return R - CSTR_EQUAL;
}
}  // namespace

// Strings that collate equal but differ in bytes (only in ignored characters)
// are ordered by their bytes, so that a sorted list never calls them duplicates.
int AnsiCompareStr(const AnsiString& S1, const AnsiString& S2) {
  int R = Collate(S1, S2, 0);
  return R != 0 ? R : CompareStr(S1, S2);
}

int AnsiCompareText(const AnsiString& S1, const AnsiString& S2) {
  int R = Collate(S1, S2, NORM_IGNORECASE);
  return R != 0 ? R : CompareStr(AnsiUpperCase(S1), AnsiUpperCase(S2));
}

bool AnsiSameStr(const AnsiString& S1, const AnsiString& S2) { return S1 == S2; }
bool AnsiSameText(const AnsiString& S1, const AnsiString& S2) { return AnsiUpperCase(S1) == AnsiUpperCase(S2); }

int AnsiPos(const AnsiString& SubStr, const AnsiString& S) {
  if (SubStr.empty()) return 0;
  size_t P = S.find(SubStr);
  return P == AnsiString::npos ? 0 : static_cast<int>(P) + 1;
}

int AnsiPosText(const AnsiString& SubStr, const AnsiString& S) { return AnsiPos(AnsiUpperCase(SubStr), AnsiUpperCase(S)); }
bool AnsiContainsText(const AnsiString& S, const AnsiString& SubStr) {
  return SubStr.empty() || AnsiPosText(SubStr, S) > 0;
}
bool AnsiStartsText(const AnsiString& SubStr, const AnsiString& S) {
  return SubStr.size() <= S.size() && AnsiSameText(SubStr, S.substr(0, SubStr.size()));
}

AnsiString StringReplace(const AnsiString& S, const AnsiString& OldPattern, const AnsiString& NewPattern,
                         bool ReplaceAll, bool IgnoreCase) {
  if (OldPattern.empty()) return S;
  const AnsiString Hay = IgnoreCase ? AnsiUpperCase(S) : S;
  const AnsiString Needle = IgnoreCase ? AnsiUpperCase(OldPattern) : OldPattern;
  AnsiString R;
  size_t Pos = 0;
  while (true) {
    size_t P = Hay.find(Needle, Pos);
    if (P == AnsiString::npos) break;
    R.append(S, Pos, P - Pos);
    R += NewPattern;
    Pos = P + Needle.size();
    if (!ReplaceAll) break;
  }
  R.append(S, Pos, AnsiString::npos);
  return R;
}

AnsiString QuotedStr(const AnsiString& S) { return "'" + StringReplace(S, "'", "''") + "'"; }

// ---------------------------------------------------------------------------
// Format

namespace {

[[noreturn]] void FormatError(const AnsiString& Fmt) {
  throw EConvertError(Format(LoadResString(SInvalidFormat), {Fmt}));
}

AnsiString Pad(const AnsiString& S, int Width, bool Left) {
  if (Width <= 0 || static_cast<int>(S.size()) >= Width) return S;
  AnsiString Fill(static_cast<size_t>(Width) - S.size(), ' ');
  return Left ? S + Fill : Fill + S;
}

}  // namespace

AnsiString Format(const AnsiString& Fmt, std::initializer_list<TFormatArg> Args) {
  return Format(Fmt, std::vector<TFormatArg>(Args));
}

AnsiString Format(const AnsiString& Fmt, const std::vector<TFormatArg>& Args) {
  AnsiString R;
  size_t Next = 0;
  for (size_t I = 0; I < Fmt.size(); ++I) {
    if (Fmt[I] != '%') {
      R += Fmt[I];
      continue;
    }
    if (++I >= Fmt.size()) FormatError(Fmt);
    if (Fmt[I] == '%') {
      R += '%';
      continue;
    }
    bool Left = false;
    int Width = -1, Prec = -1;
    if (Fmt[I] == '-') {
      Left = true;
      ++I;
    }
    auto Number = [&](int& Out) {
      if (I < Fmt.size() && Fmt[I] == '*') {
        if (Next >= Args.size() || Args[Next].Kind() != TFormatArg::fkInteger)
          FormatError(Fmt);
        Out = static_cast<int>(Args[Next++].AsInteger());
        ++I;
        return;
      }
      int V = -1;
      while (I < Fmt.size() && Fmt[I] >= '0' && Fmt[I] <= '9') {
        V = (V < 0 ? 0 : V) * 10 + (Fmt[I++] - '0');
        if (V > 100000) FormatError(Fmt);
      }
      Out = V;
    };
    Number(Width);
    if (I < Fmt.size() && Fmt[I] == '.') {
      ++I;
      Number(Prec);
      if (Prec < 0) Prec = 0;
    }
    if (I >= Fmt.size()) FormatError(Fmt);
    const char Conv = static_cast<char>(std::tolower(static_cast<unsigned char>(Fmt[I])));
    if (Next >= Args.size()) throw EConvertError(Format(LoadResString(SArgumentMissing), {Fmt}));
    const TFormatArg& A = Args[Next++];
    AnsiString Piece;
    char Buf[512];
    switch (Conv) {
      case 's':
        if (A.Kind() != TFormatArg::fkString) FormatError(Fmt);
        Piece = Prec >= 0 && static_cast<size_t>(Prec) < A.AsString().size() ? A.AsString().substr(0, Prec)
                                                                             : A.AsString();
        break;
      case 'd':
      case 'u':
      case 'x': {
        if (A.Kind() != TFormatArg::fkInteger) FormatError(Fmt);
        const int64_t V = A.AsInteger();
        if (Conv == 'd') Piece = std::to_string(V);
        else if (Conv == 'u') Piece = std::to_string(static_cast<uint64_t>(V));
        else {
          std::snprintf(Buf, sizeof(Buf), Fmt[I] == 'X' ? "%llX" : "%llx", static_cast<unsigned long long>(V));
          Piece = Buf;
        }
        // The precision of an integer is its least number of digits.
        bool Neg = !Piece.empty() && Piece[0] == '-';
        AnsiString Digits = Neg ? Piece.substr(1) : Piece;
        if (Prec > static_cast<int>(Digits.size())) Digits.insert(0, static_cast<size_t>(Prec) - Digits.size(), '0');
        Piece = (Neg ? "-" : "") + Digits;
        break;
      }
      case 'f':
      case 'g':
      case 'e': {
        double V;
        if (A.Kind() == TFormatArg::fkFloat) V = A.AsFloat();
        else FormatError(Fmt);
        const char Pattern[] = {'%', '.', '*', Conv, '\0'};
        std::snprintf(Buf, sizeof(Buf), Pattern, Prec < 0 ? (Conv == 'g' ? 15 : 2) : (Prec > 100 ? 100 : Prec), V);
        Piece = Buf;
        break;
      }
      default:
        FormatError(Fmt);
    }
    R += Pad(Piece, Width, Left);
  }
  return R;
}

// ---------------------------------------------------------------------------
// Numbers as text

AnsiString IntToStr(int64_t Value) { return std::to_string(Value); }

AnsiString IntToHex(int64_t Value, int Digits) {
  char Buf[32];
  std::snprintf(Buf, sizeof(Buf), "%0*llX", Digits < 0 ? 0 : (Digits > 16 ? 16 : Digits),
                static_cast<unsigned long long>(Value));
  return Buf;
}

bool TryStrToInt64(const AnsiString& S, int64_t& Value) {
  const AnsiString T = Trim(S);
  if (T.empty()) return false;
  size_t I = 0;
  bool Neg = false;
  if (T[I] == '+' || T[I] == '-') Neg = T[I++] == '-';
  int Base = 10;
  if (I < T.size() && T[I] == '$') {
    Base = 16;
    ++I;
  } else if (I + 1 < T.size() && T[I] == '0' && (T[I + 1] == 'x' || T[I + 1] == 'X')) {
    Base = 16;
    I += 2;
  }
  if (I >= T.size()) return false;
  uint64_t Magnitude = 0;
  auto [End, Ec] = std::from_chars(T.data() + I, T.data() + T.size(), Magnitude, Base);
  if (Ec != std::errc() || End != T.data() + T.size()) return false;
  if (Base == 16 && !Neg) {
    Value = static_cast<int64_t>(Magnitude);  // "$FFFFFFFFFFFFFFFF" is -1, as the host reads hex
    return true;
  }
  if (Neg) {
    if (Magnitude > static_cast<uint64_t>(INT64_MAX) + 1) return false;
    Value = static_cast<int64_t>(0 - Magnitude);
  } else {
    if (Magnitude > static_cast<uint64_t>(INT64_MAX)) return false;
    Value = static_cast<int64_t>(Magnitude);
  }
  return true;
}

bool TryStrToInt(const AnsiString& S, int& Value) {
  int64_t V;
  if (!TryStrToInt64(S, V) || V < INT32_MIN || V > INT32_MAX) return false;
  Value = static_cast<int>(V);
  return true;
}

int StrToInt(const AnsiString& S) {
  int V;
  if (!TryStrToInt(S, V)) throw EConvertError(Format(LoadResString(SInvalidInteger), {S}));
  return V;
}

int StrToIntDef(const AnsiString& S, int Default) {
  int V;
  return TryStrToInt(S, V) ? V : Default;
}

int64_t StrToInt64(const AnsiString& S) {
  int64_t V;
  if (!TryStrToInt64(S, V)) throw EConvertError(Format(LoadResString(SInvalidInteger), {S}));
  return V;
}

int64_t StrToInt64Def(const AnsiString& S, int64_t Default) {
  int64_t V;
  return TryStrToInt64(S, V) ? V : Default;
}

AnsiString FloatToStr(double Value) {
  if (std::isnan(Value)) return "NAN";
  if (std::isinf(Value)) return Value < 0 ? "-INF" : "INF";
  char Buf[64];
  for (int Digits : {15, 17}) {
    std::snprintf(Buf, sizeof(Buf), "%.*G", Digits, Value);
    if (Digits == 17 || std::strtod(Buf, nullptr) == Value) break;
  }
  return Buf;
}

bool TryStrToFloat(const AnsiString& S, double& Value) {
  const AnsiString T = Trim(S);
  if (T.empty()) return false;
  if (SameText(T, "NAN")) {
    Value = std::nan("");
    return true;
  }
  if (SameText(T, "INF") || SameText(T, "+INF") || SameText(T, "-INF")) {
    Value = T[0] == '-' ? -HUGE_VAL : HUGE_VAL;
    return true;
  }
  // Only plain decimal notation: no hex floats, no "infinity" spellings.
  for (char C : T)
    if (!((C >= '0' && C <= '9') || C == '.' || C == '-' || C == '+' || C == 'e' || C == 'E')) return false;
  const char* Begin = T.c_str();
  char* End = nullptr;
  errno = 0;
  double V = std::strtod(Begin, &End);
  if (End != Begin + T.size() || End == Begin) return false;
  if (errno == ERANGE && std::isinf(V)) return false;
  Value = V;
  return true;
}

double StrToFloat(const AnsiString& S) {
  double V;
  if (!TryStrToFloat(S, V)) throw EConvertError(Format(LoadResString(SInvalidFloat), {S}));
  return V;
}

AnsiString BoolToStr(bool Value) { return Value ? "True" : "False"; }

bool TryStrToBool(const AnsiString& S, bool& Value) {
  const AnsiString T = Trim(S);
  if (SameText(T, "True")) {
    Value = true;
    return true;
  }
  if (SameText(T, "False")) {
    Value = false;
    return true;
  }
  double D;
  if (TryStrToFloat(T, D) && !std::isnan(D)) {
    Value = D != 0;
    return true;
  }
  return false;
}

bool StrToBool(const AnsiString& S) {
  bool V;
  if (!TryStrToBool(S, V)) throw EConvertError(Format(LoadResString(SInvalidBoolean), {S}));
  return V;
}

// ---------------------------------------------------------------------------
// Currency

Currency Currency::FromDouble(double Value) {
  const double Scaled = std::nearbyint(Value * Scale);  // the default rounding mode: halves to even
  if (!std::isfinite(Scaled) || Scaled >= 9223372036854775807.0 || Scaled < -9223372036854775808.0)
    throw EConvertError(LoadResString(SCurrencyOverflow));
  return FromScaled(static_cast<int64_t>(Scaled));
}

AnsiString CurrToStr(Currency Value) {
  const int64_t U = Value.Scaled();
  const bool Neg = U < 0;
  const uint64_t M = Neg ? 0 - static_cast<uint64_t>(U) : static_cast<uint64_t>(U);
  AnsiString R = (Neg ? "-" : "") + std::to_string(M / Currency::Scale);
  uint64_t Frac = M % Currency::Scale;
  if (Frac != 0) {
    char Buf[8];
    std::snprintf(Buf, sizeof(Buf), "%04llu", static_cast<unsigned long long>(Frac));
    AnsiString F(Buf);
    while (!F.empty() && F.back() == '0') F.pop_back();
    R += "." + F;
  }
  return R;
}

bool TryStrToCurr(const AnsiString& S, Currency& Value) {
  // Exact decimal reading: integer part and up to four decimals (more are rounded).
  const AnsiString T = Trim(S);
  size_t I = 0;
  bool Neg = false;
  if (I < T.size() && (T[I] == '+' || T[I] == '-')) Neg = T[I++] == '-';
  __int128 Units = 0;
  bool AnyDigit = false;
  while (I < T.size() && T[I] >= '0' && T[I] <= '9') {
    Units = Units * 10 + (T[I++] - '0');
    AnyDigit = true;
    if (Units > static_cast<__int128>(INT64_MAX)) return false;
  }
  Units *= Currency::Scale;
  if (I < T.size() && T[I] == '.') {
    ++I;
    int64_t Place = Currency::Scale / 10;
    int Round = -1;     // the first digit past the fourth decimal
    bool Tail = false;  // any non-zero digit after that one
    while (I < T.size() && T[I] >= '0' && T[I] <= '9') {
      AnyDigit = true;
      if (Place > 0) Units += (T[I] - '0') * Place;
      else if (Round < 0) Round = T[I] - '0';
      else if (T[I] != '0') Tail = true;
      Place /= 10;
      ++I;
    }
    // Half to even, counted on the magnitude (the sign is applied below).
    if (Round > 5 || (Round == 5 && (Tail || (Units % 2) != 0))) ++Units;
  }
  if (!AnyDigit || I != T.size()) {
    double D;  // exponent forms such as "1e3"
    if (!TryStrToFloat(T, D)) return false;
    try {
      Value = Currency::FromDouble(D);
    } catch (const EConvertError&) {
      return false;
    }
    return true;
  }
  if (Neg) Units = -Units;
  if (Units > INT64_MAX || Units < INT64_MIN) return false;
  Value = Currency::FromScaled(static_cast<int64_t>(Units));
  return true;
}

Currency StrToCurr(const AnsiString& S) {
  Currency V;
  if (!TryStrToCurr(S, V)) throw EConvertError(Format(LoadResString(SInvalidCurrency), {S}));
  return V;
}

// ---------------------------------------------------------------------------
// Files

AnsiString IncludeTrailingPathDelimiter(const AnsiString& S) {
  return !S.empty() && S.back() == PathDelim ? S : S + PathDelim;
}

AnsiString ExcludeTrailingPathDelimiter(const AnsiString& S) {
  return S.size() > 1 && S.back() == PathDelim ? S.substr(0, S.size() - 1) : S;
}

AnsiString ExtractFilePath(const AnsiString& FileName) {
  size_t P = FileName.rfind(PathDelim);
  return P == AnsiString::npos ? AnsiString() : FileName.substr(0, P + 1);
}

AnsiString ExtractFileDir(const AnsiString& FileName) {
  size_t P = FileName.rfind(PathDelim);
  if (P == AnsiString::npos) return {};
  return P == 0 ? AnsiString(1, PathDelim) : FileName.substr(0, P);
}

AnsiString ExtractFileName(const AnsiString& FileName) {
  size_t P = FileName.rfind(PathDelim);
  return P == AnsiString::npos ? FileName : FileName.substr(P + 1);
}

AnsiString ExtractFileExt(const AnsiString& FileName) {
  const AnsiString Name = ExtractFileName(FileName);
  size_t P = Name.rfind('.');
  return P == AnsiString::npos ? AnsiString() : Name.substr(P);
}

AnsiString ChangeFileExt(const AnsiString& FileName, const AnsiString& Extension) {
  const AnsiString Ext = ExtractFileExt(FileName);
  return FileName.substr(0, FileName.size() - Ext.size()) + Extension;
}

bool FileExists(const AnsiString& FileName) {
  struct stat St;
  return !FileName.empty() && stat(FileName.c_str(), &St) == 0 && S_ISREG(St.st_mode);
}

bool DirectoryExists(const AnsiString& Directory) {
  struct stat St;
  return !Directory.empty() && stat(Directory.c_str(), &St) == 0 && S_ISDIR(St.st_mode);
}

bool DeleteFile(const AnsiString& FileName) {
  if (unlink(FileName.c_str()) == 0) return true;
  SetLastError(static_cast<DWORD>(errno));
  return false;
}

AnsiString GetCurrentDir() {
  DWORD Need = GetCurrentDirectoryA(0, nullptr);
  if (Need == 0) return {};
  AnsiString Dir(Need, '\0');
  DWORD Got = GetCurrentDirectoryA(Need, Dir.data());
  Dir.resize(Got < Need ? Got : 0);
  return Dir;
}

bool SetCurrentDir(const AnsiString& Dir) { return SetCurrentDirectoryA(Dir.c_str()) != FALSE; }

AnsiString SysErrorMessage(uint32_t ErrorCode) {
  if (ErrorCode == ERROR_MOD_NOT_FOUND || ErrorCode == ERROR_PROC_NOT_FOUND) {
    AnsiString Loader = ZylLoaderErrorText(ErrorCode);
    if (!Loader.empty()) return Loader;
    return LoadResString(ErrorCode == ERROR_MOD_NOT_FOUND ? SModuleNotFound : SProcNotFound);
  }
  if (ErrorCode >= 0x20000000) return Format(LoadResString(SUnknownError), {static_cast<int64_t>(ErrorCode)});
  char Buf[256];
  // The GNU strerror_r returns its text (possibly a static one) rather than filling Buf.
  const char* Text = strerror_r(static_cast<int>(ErrorCode), Buf, sizeof(Buf));
  return Text ? Text : "";
}

void RaiseLastOSError() {
  const DWORD Code = GetLastError();
  throw EOSError(SysErrorMessage(Code), Code);
}
