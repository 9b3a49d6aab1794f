// ZylUtil: the small text routines every layer shares — delimited lists, file-name tests used
// to derive database and engine names, character replacement, trimming of fixed-length character
// buffers, entry-point assignment, and a light SQL scanner with the three extractors built on it
// (table name of a query, ORDER BY list, parameter names). Free functions without state.
//
// The scanner reads a text up to its first NUL or its end, whichever comes first, and never looks
// past either: the texts come from applications and from forms, so they are untrusted input.
#pragma once
#pragma GCC visibility push(default)

#include <cstdint>
#include <string>

// The host's 8-bit string (host/SysUtils.h declares the same alias); repeated here so that the
// unit also builds alone, as the fuzz target does.
using AnsiString = std::string;

// Proc := Address when it is not null, else Default. Address comes from a symbol lookup of the
// loaded client library; Default is a substitute such as ZylDummyProc.
template <typename Proc>
void ZylAssignProcAddress(Proc& Target, void* Address, Proc Default) {
  Target = Address ? reinterpret_cast<Proc>(Address) : Default;
}

// When S is not empty append Sep; then append Field.
void ZylConcateField(AnsiString& S, const AnsiString& Sep, const AnsiString& Field);
// Append Sep only when S and Field are both not empty; then append Field (empty fields leave no
// separator behind, so connection strings never get ";;").
void ZylConcateEmptyField(AnsiString& S, const AnsiString& Sep, const AnsiString& Field);
// The Index-th field (1-based) of S split at Sep; empty when Index is 0 or beyond the last field.
AnsiString ZylExtractField(const AnsiString& S, const AnsiString& Sep, int Index);
// S starts with "/" or "\", or with "./", ".\", "../" or "..\".
bool ZylIsPath(const AnsiString& S);
// The name a database file is known by: with a drive, or when S is a path, the file-name part;
// otherwise S with its directories. The extension is removed in every case.
// Both "/" and "\" separate directories, so Windows-style values read the same on Linux.
AnsiString ZylExtractFilePrefix(const AnsiString& S);
// Every character of S that occurs in From is replaced by the text To.
AnsiString ZylReplaceChar(const AnsiString& From, const AnsiString& To, const AnsiString& S);
// In place: cuts a NUL-terminated text after its last character above the space character.
// Returns the same buffer (null stays null).
char* ZylTrimTrailBlanks(char* Buffer);

// ---- SQL scanner -------------------------------------------------------------------------------
// Token kinds; the ordinals are fixed (extractors compare them, and tkSelect..tkForUpdate are the
// clause kinds an extractor keeps as its Section).
enum TZylTokenKind : uint8_t {
  tkNone = 0,
  tkTableName = 1,
  tkFieldName = 2,
  tkAscending = 3,
  tkDescending = 4,
  tkSelect = 5,
  tkFrom = 6,
  tkWhere = 7,
  tkGroupBy = 8,
  tkHaving = 9,
  tkUnion = 10,
  tkPlan = 11,
  tkOrderBy = 12,
  tkForUpdate = 13,
  tkEnd = 14,
  tkPredicate = 15,
  tkValue = 16,
  tkIsNull = 17,
  tkIsNotNull = 18,
  tkLike = 19,
  tkAnd = 20,
  tkOr = 21,
  tkNumber = 22,
  tkAllFields = 23,
  tkComment = 24,
  tkDistinct = 25,
  tkAssignment = 26,
};

inline bool ZylIsClauseToken(TZylTokenKind Kind) { return Kind >= tkSelect && Kind <= tkForUpdate; }

// Reading position in a text. Pos == End or a NUL at Pos is the end of the text; the scanner never
// dereferences End.
struct TZylSQLCursor {
  const char* Pos;
  const char* End;
  explicit TZylSQLCursor(const AnsiString& Text) : Pos(Text.data()), End(Text.data() + Text.size()) {}
  TZylSQLCursor(const char* Begin, const char* Stop) : Pos(Begin), End(Stop) {}
};

// Reads one token and advances Cursor past it. Section is the clause the caller is in (it decides
// "*", DISTINCT and whether a bare word is a table or a field name).
TZylTokenKind ZylNextToken(TZylSQLCursor& Cursor, AnsiString& Token, TZylTokenKind Section);

// The table a query reads from: the first name after FROM ("owner.table" gives table); empty
// when the text has no FROM.
AnsiString ZylGetTableNameFromSQL(const AnsiString& SQL);
// The ORDER BY list as "a;b;x" and, in Directions, "ASC;DESC;ASC"; both empty without ORDER BY.
AnsiString ZylGetOrderByFromSQL(const AnsiString& SQL, AnsiString& Directions);
// The names of the ":name" parameters of a text, in order, separated by ";".
AnsiString ZylGetParamsFromSQL(const AnsiString& SQL);

#pragma GCC visibility pop
