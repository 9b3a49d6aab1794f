// Statement splitting for the interactive SQL tool.
//
// Input arrives line by line (a terminal, a script file or a -e argument). A statement ends at a
// ";" outside quotes and comments, or at a line that holds only "go". Inside the body of a
// CREATE/ALTER PROCEDURE, FUNCTION, TRIGGER or EVENT, and inside a BEGIN ... END batch, a ";"
// belongs to the body: only the ";" after the outermost END (or a "go" line) ends it.
//
// A line that starts with "." while no statement is pending is a built-in command of the tool;
// it is handed back whole as its own piece and never reaches the server.
#pragma once

#include <string>
#include <vector>

namespace zylisql {

struct TPiece {
  enum TKind { pkSql, pkCommand };
  TKind Kind = pkSql;
  std::string Text;  // statement without its terminator, or the command line without the "."
  int Line = 0;      // input line the piece started on (1-based)
};

class TStatementSplitter {
 public:
  // Adds one line of input (without its line end); returns the pieces it completed.
  std::vector<TPiece> AddLine(const std::string& Line);
  // End of input: the unterminated rest, when it holds any code, becomes a last piece.
  std::vector<TPiece> Finish();
  // True while part of a statement is buffered (the prompt shows a continuation).
  bool Pending() const { return FHasCode || FInQuote || FInBlockComment; }
  // Splits a whole text at once (lines separated by LF or CR LF).
  static std::vector<TPiece> SplitText(const std::string& Text);

 private:
  void Scan(const std::string& Line, std::vector<TPiece>& Out);
  void Word(const std::string& Upper);
  void ResolvePendingEnd(const std::string* Next);
  void Emit(std::vector<TPiece>& Out);
  void Reset();

  std::string FBuffer;         // text of the pending statement
  int FLineNo = 0;             // lines seen
  int FStartLine = 0;          // line the pending statement began on
  bool FHasCode = false;       // the buffer holds something other than blanks and comments
  char FInQuote = 0;           // the quote character of an open literal or identifier, or 0
  bool FInBlockComment = false;
  std::vector<std::string> FLeadWords;  // first words of the statement (upper case), up to 5
  bool FCompound = false;      // the statement has a body whose ";" do not end it
  bool FCompoundDecided = false;
  int FDepth = 0;              // open BEGIN/CASE blocks of the body
  bool FPendingEnd = false;    // an END whose meaning depends on the next word
};

// The first keyword of a statement, upper case ("" when it starts otherwise; a leading "(" is
// passed over, so "(SELECT ...) UNION ..." gives SELECT).
std::string LeadingKeyword(const std::string& Sql);
// Where the text holds "?" host-variable markers outside quotes and comments, in order.
std::vector<size_t> MarkerPositions(const std::string& Sql);
// True when the text holds a "?" host-variable marker outside quotes and comments.
bool HasMarkers(const std::string& Sql);
// The text with its first Names.size() markers replaced by those names, in order.
std::string ReplaceMarkers(const std::string& Sql, const std::vector<std::string>& Names);
// Whether a statement can return a result set and is therefore opened as a cursor.
bool ReturnsRows(const std::string& Sql);

// A procedure call taken apart: the procedure's name (without owner or quotes) and the text of
// each argument, split at the commas outside quotes and parentheses. Ok is false when the text
// is no "CALL name" / "CALL name(...)" with balanced parentheses.
struct TCallText {
  bool Ok = false;
  std::string Name;
  std::vector<std::string> Args;
};
TCallText ParseCallText(const std::string& Sql);

}  // namespace zylisql
