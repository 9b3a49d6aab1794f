// SysUtils: the host's 8-bit string type and the routines over it, the exception
// family every layer raises, numeric text conversion, Format, the currency value
// type, file-name helpers and the current directory.
//
// Strings are 8-bit, in the Windows-1252 ("ANSI") code page. Routines named Ansi...
// compare and fold case by the host's user locale (see CompareStringA in
// host/Platform.h); the plain ones (UpperCase, CompareText) touch ASCII only.
#pragma once
#pragma GCC visibility push(default)

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <string>
#include <vector>

using AnsiString = std::string;

class TComponent;

// ---------------------------------------------------------------------------
// Exceptions. Thrown by value, caught by reference.

class Exception : public std::exception {
public:
  explicit Exception(AnsiString Msg) : FMessage(std::move(Msg)) {}
  ~Exception() override = default;
  const AnsiString& Message() const noexcept { return FMessage; }
  void SetMessage(AnsiString Msg) { FMessage = std::move(Msg); }
  const char* what() const noexcept override { return FMessage.c_str(); }

private:
  AnsiString FMessage;
};

class EConvertError : public Exception { using Exception::Exception; };
class EVariantError : public Exception { using Exception::Exception; };
// A variant that cannot take the requested type. Derives from EConvertError so that
// one handler catches every failed conversion.
class EVariantTypeCastError : public EConvertError { using EConvertError::EConvertError; };
class EVariantOverflowError : public EConvertError { using EConvertError::EConvertError; };
class EVariantArrayError : public EVariantError { using EVariantError::EVariantError; };
class EStreamError : public Exception { using Exception::Exception; };
class EFCreateError : public EStreamError { using EStreamError::EStreamError; };
class EFOpenError : public EStreamError { using EStreamError::EStreamError; };
class EFilerError : public EStreamError { using EStreamError::EStreamError; };
class EReadError : public EFilerError { using EFilerError::EFilerError; };
class EWriteError : public EFilerError { using EFilerError::EFilerError; };
class EClassNotFound : public EFilerError { using EFilerError::EFilerError; };
class EListError : public Exception { using Exception::Exception; };
class EStringListError : public Exception { using Exception::Exception; };
class EComponentError : public Exception { using Exception::Exception; };
class EInvalidOperation : public Exception { using Exception::Exception; };
class EOSError : public Exception {
public:
  EOSError(AnsiString Msg, uint32_t Code) : Exception(std::move(Msg)), ErrorCode(Code) {}
  uint32_t ErrorCode;  // the system's error code (GetLastError)
};
class EDatabaseError : public Exception { using Exception::Exception; };

// Raises EDatabaseError with Message; with a named Component the text becomes
// "Name: Message" so that the user sees which component failed.
[[noreturn]] void DatabaseError(const AnsiString& Message, TComponent* Component = nullptr);

// ---------------------------------------------------------------------------
// Currency: a fixed-point number with four decimals, held as a 64-bit count of
// ten-thousandths, so that sums of money stay exact.

class Currency {
public:
  static constexpr int64_t Scale = 10000;
  constexpr Currency() = default;
  static constexpr Currency FromScaled(int64_t Units) {
    Currency C;
    C.FUnits = Units;
    return C;
  }
  // Rounds to the nearest ten-thousandth, halves to even; raises EConvertError
  // when the value lies outside the 64-bit range or is not a number.
  static Currency FromDouble(double Value);
  static constexpr Currency FromInt(int64_t Value) { return FromScaled(Value * Scale); }
  constexpr int64_t Scaled() const { return FUnits; }
  double ToDouble() const { return static_cast<double>(FUnits) / Scale; }
  constexpr auto operator<=>(const Currency&) const = default;
  constexpr Currency operator+(Currency O) const { return FromScaled(FUnits + O.FUnits); }
  constexpr Currency operator-(Currency O) const { return FromScaled(FUnits - O.FUnits); }
  constexpr Currency operator-() const { return FromScaled(-FUnits); }

private:
  int64_t FUnits = 0;  // value * 10000
};

AnsiString CurrToStr(Currency Value);
Currency StrToCurr(const AnsiString& S);
bool TryStrToCurr(const AnsiString& S, Currency& Value);

// ---------------------------------------------------------------------------
// Strings.

// Blanks and control characters (everything up to and including ' ') are trimmed.
AnsiString Trim(const AnsiString& S);
AnsiString TrimLeft(const AnsiString& S);
AnsiString TrimRight(const AnsiString& S);

AnsiString UpperCase(const AnsiString& S);  // ASCII letters only
AnsiString LowerCase(const AnsiString& S);
int CompareStr(const AnsiString& S1, const AnsiString& S2);   // byte order; <0, 0, >0
int CompareText(const AnsiString& S1, const AnsiString& S2);  // ASCII case folded
bool SameText(const AnsiString& S1, const AnsiString& S2);

// Locale-aware forms: letters of the whole code page, accents and ligatures sorted
// by the user locale's rules.
AnsiString AnsiUpperCase(const AnsiString& S);
AnsiString AnsiLowerCase(const AnsiString& S);
int AnsiCompareStr(const AnsiString& S1, const AnsiString& S2);   // <0, 0, >0
int AnsiCompareText(const AnsiString& S1, const AnsiString& S2);  // case ignored
bool AnsiSameStr(const AnsiString& S1, const AnsiString& S2);
bool AnsiSameText(const AnsiString& S1, const AnsiString& S2);
// 1-based position of SubStr in S, 0 when absent (an empty SubStr is never found).
int AnsiPos(const AnsiString& SubStr, const AnsiString& S);
// As AnsiPos, with the case of letters ignored.
int AnsiPosText(const AnsiString& SubStr, const AnsiString& S);
bool AnsiContainsText(const AnsiString& S, const AnsiString& SubStr);
bool AnsiStartsText(const AnsiString& SubStr, const AnsiString& S);
// Replaces every occurrence (or, with ReplaceAll false, the first).
AnsiString StringReplace(const AnsiString& S, const AnsiString& OldPattern,
                         const AnsiString& NewPattern, bool ReplaceAll = true,
                         bool IgnoreCase = false);
AnsiString QuotedStr(const AnsiString& S);  // 'It''s'

// ---------------------------------------------------------------------------
// Format: the directives %s, %d, %u, %x, %f, %g, %e and %% with optional '-',
// width and precision ("%-10s", "%5d", "%.2f"), as in printf. An argument of the
// wrong kind, or too few arguments, raises EConvertError.

class TFormatArg {
public:
  enum TKind : uint8_t { fkInteger, fkFloat, fkString };
  TFormatArg(int V) : FKind(fkInteger), FInt(V) {}
  TFormatArg(long V) : FKind(fkInteger), FInt(V) {}
  TFormatArg(long long V) : FKind(fkInteger), FInt(V) {}
  TFormatArg(unsigned V) : FKind(fkInteger), FInt(V) {}
  TFormatArg(unsigned long V) : FKind(fkInteger), FInt(static_cast<int64_t>(V)) {}
  TFormatArg(unsigned long long V) : FKind(fkInteger), FInt(static_cast<int64_t>(V)) {}
  TFormatArg(double V) : FKind(fkFloat), FFloat(V) {}
  TFormatArg(const char* V) : FKind(fkString), FStr(V ? V : "") {}
  TFormatArg(AnsiString V) : FKind(fkString), FStr(std::move(V)) {}
  TKind Kind() const { return FKind; }
  int64_t AsInteger() const { return FInt; }
  double AsFloat() const { return FFloat; }
  const AnsiString& AsString() const { return FStr; }

private:
  TKind FKind;
  int64_t FInt = 0;
  double FFloat = 0;
  AnsiString FStr;
};

AnsiString Format(const AnsiString& Fmt, std::initializer_list<TFormatArg> Args);
inline AnsiString Format(const AnsiString& Fmt) { return Format(Fmt, std::initializer_list<TFormatArg>{}); }
AnsiString Format(const AnsiString& Fmt, const std::vector<TFormatArg>& Args);
template <typename... A>
  requires(sizeof...(A) > 0)
AnsiString Format(const AnsiString& Fmt, const A&... Args) {
  return Format(Fmt, std::vector<TFormatArg>{TFormatArg(Args)...});
}

// ---------------------------------------------------------------------------
// Numbers as text. StrTo... raise EConvertError ("'abc' is not a valid integer
// value"); the ...Def forms return the default instead. Leading and trailing
// blanks are accepted; hexadecimal is written "$1F" or "0x1F".

AnsiString IntToStr(int64_t Value);
AnsiString IntToHex(int64_t Value, int Digits);
int StrToInt(const AnsiString& S);
int StrToIntDef(const AnsiString& S, int Default);
bool TryStrToInt(const AnsiString& S, int& Value);
int64_t StrToInt64(const AnsiString& S);
int64_t StrToInt64Def(const AnsiString& S, int64_t Default);
bool TryStrToInt64(const AnsiString& S, int64_t& Value);
// Shortest text that reads back to the same double (at most 15 significant digits
// where that is exact, else 17), '.' as decimal separator, "INF"/"NAN" for the
// special values.
AnsiString FloatToStr(double Value);
double StrToFloat(const AnsiString& S);
bool TryStrToFloat(const AnsiString& S, double& Value);
// "True"/"False"; StrToBool accepts those (any case) and numbers (0 is false).
AnsiString BoolToStr(bool Value);
bool StrToBool(const AnsiString& S);
bool TryStrToBool(const AnsiString& S, bool& Value);

// ---------------------------------------------------------------------------
// Files and directories. The path delimiter is '/' on this platform.

constexpr char PathDelim = '/';
AnsiString IncludeTrailingPathDelimiter(const AnsiString& S);
AnsiString ExcludeTrailingPathDelimiter(const AnsiString& S);
AnsiString ExtractFilePath(const AnsiString& FileName);  // with trailing delimiter
AnsiString ExtractFileDir(const AnsiString& FileName);   // without
AnsiString ExtractFileName(const AnsiString& FileName);
AnsiString ExtractFileExt(const AnsiString& FileName);   // ".txt", or empty
AnsiString ChangeFileExt(const AnsiString& FileName, const AnsiString& Extension);
bool FileExists(const AnsiString& FileName);
bool DirectoryExists(const AnsiString& Directory);
bool DeleteFile(const AnsiString& FileName);
AnsiString GetCurrentDir();
bool SetCurrentDir(const AnsiString& Dir);

// The system's text for an error code as returned by GetLastError (host/Platform.h).
AnsiString SysErrorMessage(uint32_t ErrorCode);
// Raises EOSError with the last error's code and text.
[[noreturn]] void RaiseLastOSError();
#pragma GCC visibility pop
