// ZylUtil: list, file-name and character routines, and the SQL scanner with its extractors.
#include "base/ZylUtil.h"

#include <cstring>

namespace {

char AsciiUpper(char C) { return (C >= 'a' && C <= 'z') ? static_cast<char>(C - 'a' + 'A') : C; }

// Keywords are plain ASCII, so an ASCII case fold is the whole comparison.
bool SameWord(const AnsiString& A, const char* B) {
  size_t N = std::strlen(B);
  if (A.size() != N) return false;
  for (size_t I = 0; I < N; ++I)
    if (AsciiUpper(A[I]) != AsciiUpper(B[I])) return false;
  return true;
}

bool IsDirSeparator(char C) { return C == '/' || C == '\\'; }

bool HasDrive(const AnsiString& S) {
  if (S.size() >= 2 && S[1] == ':' && ((S[0] >= 'A' && S[0] <= 'Z') || (S[0] >= 'a' && S[0] <= 'z')))
    return true;
  return S.size() >= 2 && S[0] == '\\' && S[1] == '\\';  // a share name counts as a drive
}

// Position after the last directory separator or drive colon; 0 when there is none.
size_t FileNameStart(const AnsiString& S) {
  size_t Pos = S.find_last_of("/\\:");
  return Pos == AnsiString::npos ? 0 : Pos + 1;
}

AnsiString RemoveExtension(const AnsiString& S) {
  size_t Dot = S.find_last_of('.');
  if (Dot == AnsiString::npos || Dot < FileNameStart(S)) return S;
  return S.substr(0, Dot);
}

}  // namespace

void ZylConcateField(AnsiString& S, const AnsiString& Sep, const AnsiString& Field) {
  if (!S.empty()) S += Sep;
  S += Field;
}

void ZylConcateEmptyField(AnsiString& S, const AnsiString& Sep, const AnsiString& Field) {
  if (!S.empty() && !Field.empty()) S += Sep;
  S += Field;
}

AnsiString ZylExtractField(const AnsiString& S, const AnsiString& Sep, int Index) {
  if (Index < 1) return AnsiString();
  size_t Start = 0;
  for (int I = 1;; ++I) {
    size_t Stop = Sep.empty() ? AnsiString::npos : S.find(Sep, Start);
    if (I == Index) return S.substr(Start, Stop == AnsiString::npos ? AnsiString::npos : Stop - Start);
    if (Stop == AnsiString::npos) return AnsiString();
    Start = Stop + Sep.size();
  }
}

bool ZylIsPath(const AnsiString& S) {
  if (!S.empty() && IsDirSeparator(S[0])) return true;
  if (S.size() >= 2 && S[0] == '.' && IsDirSeparator(S[1])) return true;
  return S.size() >= 3 && S[0] == '.' && S[1] == '.' && IsDirSeparator(S[2]);
}

AnsiString ZylExtractFilePrefix(const AnsiString& S) {
  AnsiString Name = S;
  if (HasDrive(S) || ZylIsPath(S)) Name = S.substr(FileNameStart(S));
  return RemoveExtension(Name);
}

// One pass from left to right: the result equals repeated "replace the last From character" for
// every To that holds no From character, and it also ends when To does hold one.
AnsiString ZylReplaceChar(const AnsiString& From, const AnsiString& To, const AnsiString& S) {
  AnsiString Result;
  Result.reserve(S.size());
  for (char C : S) {
    if (From.find(C) != AnsiString::npos)
      Result += To;
    else
      Result += C;
  }
  return Result;
}

char* ZylTrimTrailBlanks(char* Buffer) {
  if (!Buffer) return Buffer;
  char* Cut = Buffer;  // one past the last character above the space
  for (char* P = Buffer; *P; ++P)
    if (static_cast<unsigned char>(*P) > 32) Cut = P + 1;
  *Cut = '\0';
  return Buffer;
}

// ---- SQL scanner -------------------------------------------------------------------------------

namespace {

class Scanner {
 public:
  Scanner(TZylSQLCursor& Cursor, AnsiString& Token, TZylTokenKind Section)
      : FCursor(Cursor), FToken(Token), FSection(Section) {}

  // Classify is false for the look-ahead of a next-token test: it only compares the text, and a
  // raw word compares exactly as its classified form would, so look-ahead never nests.
  TZylTokenKind Run(bool Classify);

 private:
  char At(const char* P) const { return P < FCursor.End ? *P : '\0'; }
  char Here() const { return At(FCursor.Pos); }
  char Next() const { return FCursor.Pos < FCursor.End ? At(FCursor.Pos + 1) : '\0'; }
  TZylTokenKind Quoted(bool DotStart, bool& Unclosed);
  TZylTokenKind Comment();
  TZylTokenKind ClassifyWord(bool DotStart);
  bool NextTokenIs(const char* Word);

  TZylSQLCursor& FCursor;
  AnsiString& FToken;
  TZylTokenKind FSection;
};

bool IsQuote(char C) { return C == '"' || C == '\'' || C == '`'; }
bool IsPredicateChar(char C) { return C == '<' || C == '=' || C == '>'; }
bool IsDigit(char C) { return C >= '0' && C <= '9'; }

TZylTokenKind Scanner::Run(bool Classify) {
  FToken.clear();
  bool DotStart = false;
  bool Started = false;
  for (;;) {
    char C = Here();
    if (C == '\0' || C == '\n' || C == '\r' || C == ' ' || C == ',') {
      if (Started) return Classify ? ClassifyWord(DotStart) : tkFieldName;
      if (C == '\0') return tkEnd;
      ++FCursor.Pos;
      continue;
    }
    if (!Started && IsQuote(C)) {
      bool Unclosed = false;
      TZylTokenKind Kind = Quoted(DotStart, Unclosed);
      if (!Unclosed) return Kind;
      ++FCursor.Pos;  // go on after the opening quote as if it were not there
      continue;
    }
    if (C == '.') {
      if (Started) return tkTableName;
      DotStart = true;
      ++FCursor.Pos;
      continue;
    }
    if (C == '/' && (Next() == '/' || Next() == '*')) {
      if (Started) return Classify ? ClassifyWord(DotStart) : tkFieldName;
      return Comment();
    }
    if (!Started && IsDigit(C)) {
      while (IsDigit(Here()) || Here() == '.') FToken += *FCursor.Pos++;
      return tkNumber;
    }
    if (C == ':' && Next() == '=') {
      FToken += ":=";
      FCursor.Pos += 2;
      return tkAssignment;
    }
    if (!Started && IsPredicateChar(C)) {
      while (IsPredicateChar(Here())) FToken += *FCursor.Pos++;
      return tkPredicate;
    }
    FToken += C;
    ++FCursor.Pos;
    Started = true;
  }
}

// At an opening quote: the token is the text up to the matching quote with doubled quotes
// undoubled. Without a closing quote nothing is consumed and Unclosed is set.
TZylTokenKind Scanner::Quoted(bool DotStart, bool& Unclosed) {
  const char Quote = Here();
  const char* P = FCursor.Pos + 1;
  AnsiString Text;
  for (;;) {
    char C = At(P);
    if (C == '\0') {
      Unclosed = true;
      return tkNone;
    }
    if (C == Quote) {
      if (At(P + 1) == Quote) {
        Text += Quote;
        P += 2;
        continue;
      }
      break;
    }
    Text += C;
    ++P;
  }
  FCursor.Pos = P + 1;
  FToken = Text;
  if (DotStart) return tkFieldName;
  if (Here() == '.') return tkTableName;
  return tkValue;
}

// At "//" (to the end of the line) or "/*" (to the next "*/", which is consumed but not part of
// the token; an unclosed comment runs to the end of the text).
TZylTokenKind Scanner::Comment() {
  bool Block = Next() == '*';
  FToken += *FCursor.Pos++;
  FToken += *FCursor.Pos++;
  for (;;) {
    char C = Here();
    if (C == '\0') break;
    if (!Block && (C == '\n' || C == '\r')) break;
    if (Block && C == '*' && Next() == '/') {
      FCursor.Pos += 2;
      break;
    }
    FToken += C;
    ++FCursor.Pos;
  }
  return tkComment;
}

bool Scanner::NextTokenIs(const char* Word) {
  TZylSQLCursor Saved = FCursor;
  AnsiString Look;
  Scanner Ahead(FCursor, Look, FSection);
  Ahead.Run(false);
  if (SameWord(Look, Word)) {
    FToken += ' ';
    FToken += Look;
    return true;
  }
  FCursor = Saved;
  return false;
}

TZylTokenKind Scanner::ClassifyWord(bool DotStart) {
  const AnsiString& W = FToken;
  if (W.empty()) return tkEnd;
  if (W == "*" && FSection == tkSelect) return tkAllFields;
  if (DotStart) return tkFieldName;
  if (FSection == tkSelect && SameWord(W, "DISTINCT")) return tkDistinct;
  if (SameWord(W, "ASC") || SameWord(W, "ASCENDING")) return tkAscending;
  if (SameWord(W, "DESC") || SameWord(W, "DESCENDING")) return tkDescending;
  if (SameWord(W, "SELECT")) return tkSelect;
  if (SameWord(W, "AND")) return tkAnd;
  if (SameWord(W, "OR")) return tkOr;
  if (SameWord(W, "LIKE")) return tkLike;
  if (SameWord(W, "IS")) {
    if (NextTokenIs("NULL")) return tkIsNull;
    TZylSQLCursor Saved = FCursor;
    AnsiString Word = FToken;
    if (NextTokenIs("NOT") && NextTokenIs("NULL")) return tkIsNotNull;
    FCursor = Saved;
    FToken = Word;
    return tkValue;
  }
  if (SameWord(W, "FROM")) return tkFrom;
  if (SameWord(W, "WHERE")) return tkWhere;
  if (SameWord(W, "HAVING")) return tkHaving;
  if (SameWord(W, "UNION")) return tkUnion;
  if (SameWord(W, "PLAN")) return tkPlan;
  if (SameWord(W, "GROUP") && NextTokenIs("BY")) return tkGroupBy;
  if (SameWord(W, "FOR") && NextTokenIs("UPDATE")) return tkForUpdate;
  if (SameWord(W, "ORDER") && NextTokenIs("BY")) return tkOrderBy;
  if (SameWord(W, "NULL")) return tkValue;
  return FSection == tkFrom ? tkTableName : tkFieldName;
}

// Scans until a token of kind Wanted or the end; Section follows the clauses seen.
bool SkipTo(TZylSQLCursor& Cursor, TZylTokenKind Wanted, TZylTokenKind& Section) {
  AnsiString Token;
  for (;;) {
    TZylTokenKind Kind = ZylNextToken(Cursor, Token, Section);
    if (Kind == tkEnd) return false;
    if (ZylIsClauseToken(Kind)) Section = Kind;
    if (Kind == Wanted) return true;
  }
}

}  // namespace

TZylTokenKind ZylNextToken(TZylSQLCursor& Cursor, AnsiString& Token, TZylTokenKind Section) {
  return Scanner(Cursor, Token, Section).Run(true);
}

AnsiString ZylGetTableNameFromSQL(const AnsiString& SQL) {
  TZylSQLCursor Cursor(SQL);
  TZylTokenKind Section = tkNone;
  if (!SkipTo(Cursor, tkFrom, Section)) return AnsiString();
  AnsiString Token;
  while (Section == tkFrom) {
    TZylTokenKind Kind = ZylNextToken(Cursor, Token, Section);
    if (Kind == tkEnd) break;
    if (ZylIsClauseToken(Kind)) {
      Section = Kind;
      continue;
    }
    if (Kind == tkTableName || Kind == tkValue) {
      AnsiString Result = Token;
      TZylSQLCursor Saved = Cursor;
      if (ZylNextToken(Cursor, Token, Section) == tkFieldName) return Token;
      Cursor = Saved;
      return Result;
    }
  }
  return AnsiString();
}

AnsiString ZylGetOrderByFromSQL(const AnsiString& SQL, AnsiString& Directions) {
  Directions.clear();
  TZylSQLCursor Cursor(SQL);
  TZylTokenKind Section = tkNone;
  AnsiString Result;
  if (!SkipTo(Cursor, tkOrderBy, Section)) return Result;
  bool Pending = false;  // a field was listed and has no direction yet
  AnsiString Token;
  while (Section == tkOrderBy) {
    TZylTokenKind Kind = ZylNextToken(Cursor, Token, Section);
    if (Kind == tkEnd) break;
    if (ZylIsClauseToken(Kind)) {
      Section = Kind;
    } else if (Kind == tkFieldName || Kind == tkValue || Kind == tkNumber) {
      if (Pending) ZylConcateEmptyField(Directions, ";", "ASC");
      ZylConcateEmptyField(Result, ";", Token);
      Pending = true;
    } else if (Kind == tkDescending && Pending) {
      // Only a listed field takes a direction, so the two lists stay in step.
      ZylConcateEmptyField(Directions, ";", "DESC");
      Pending = false;
    }
  }
  if (Pending) ZylConcateEmptyField(Directions, ";", "ASC");
  return Result;
}

AnsiString ZylGetParamsFromSQL(const AnsiString& SQL) {
  TZylSQLCursor Cursor(SQL);
  TZylTokenKind Section = tkNone;
  AnsiString Result;
  AnsiString Token;
  for (;;) {
    TZylTokenKind Kind = ZylNextToken(Cursor, Token, Section);
    if (Kind == tkEnd) break;
    if (ZylIsClauseToken(Kind)) Section = Kind;
    if (Kind != tkFieldName) continue;
    size_t Colon = Token.find(':');
    if (Colon == AnsiString::npos || Colon + 1 >= Token.size()) continue;
    size_t Stop = Token.find_first_of(" ),", Colon + 1);
    ZylConcateEmptyField(Result, ";", Token.substr(Colon + 1, Stop == AnsiString::npos ? AnsiString::npos : Stop - Colon - 1));
  }
  return Result;
}

