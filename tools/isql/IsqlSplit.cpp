// Statement splitting: a small scanner that knows quotes, comments and compound bodies, and
// nothing else of SQL. It runs over the input once, character by character.
#include "tools/isql/IsqlSplit.h"

#include <cctype>

#include "tools/isql/IsqlText.h"

namespace zylisql {
namespace {

bool IsWordChar(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return std::isalnum(u) || c == '_' || c == '$' || c == '#' || c == '@' || u >= 0x80;
}

bool IsGoLine(const std::string& Line) { return Upper(Trim(Line)) == "GO"; }

// The words people type to leave or to get help, as in other interactive SQL tools: the
// command they stand for, or "" for none.
std::string QuickCommand(const std::string& Trimmed) {
  std::string t = Trimmed;
  while (!t.empty() && (t.back() == ';' || std::isspace(static_cast<unsigned char>(t.back())))) t.pop_back();
  std::string w = Lower(t);
  if (w == "help" || w == "\\?" || w == "\\h") return "help";
  if (w == "quit" || w == "exit" || w == "\\q") return "quit";
  return std::string();
}

}  // namespace

std::vector<TPiece> TStatementSplitter::AddLine(const std::string& Line) {
  std::vector<TPiece> out;
  ++FLineNo;
  std::string line = Line;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (!FInQuote && !FInBlockComment) {
    if (IsGoLine(line)) {
      ResolvePendingEnd(nullptr);
      Emit(out);
      return out;
    }
    std::string t = Trim(line);
    if (!FHasCode && !t.empty() && t[0] == '.') {
      Reset();
      out.push_back({TPiece::pkCommand, Trim(t.substr(1)), FLineNo});
      return out;
    }
    std::string quick = FHasCode ? std::string() : QuickCommand(t);
    if (!quick.empty()) {
      Reset();
      out.push_back({TPiece::pkCommand, quick, FLineNo});
      return out;
    }
  }
  Scan(line, out);
  return out;
}

std::vector<TPiece> TStatementSplitter::Finish() {
  std::vector<TPiece> out;
  ResolvePendingEnd(nullptr);
  Emit(out);
  Reset();
  return out;
}

std::vector<TPiece> TStatementSplitter::SplitText(const std::string& Text) {
  TStatementSplitter s;
  std::vector<TPiece> all;
  size_t start = 0;
  while (start <= Text.size()) {
    size_t nl = Text.find('\n', start);
    std::string line = Text.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
    for (auto& p : s.AddLine(line)) all.push_back(std::move(p));
    if (nl == std::string::npos) break;
    start = nl + 1;
  }
  for (auto& p : s.Finish()) all.push_back(std::move(p));
  return all;
}

void TStatementSplitter::Scan(const std::string& Line, std::vector<TPiece>& Out) {
  std::string word;
  auto markCode = [&] {
    if (!FHasCode) {
      FHasCode = true;
      FStartLine = FLineNo;
    }
  };
  auto flushWord = [&] {
    if (!word.empty()) {
      Word(Upper(word));
      word.clear();
    }
  };
  const size_t n = Line.size();
  for (size_t i = 0; i < n; ++i) {
    char c = Line[i];
    char next = i + 1 < n ? Line[i + 1] : '\0';
    if (FInBlockComment) {
      if (c == '*' && next == '/') {
        FInBlockComment = false;
        if (FHasCode) FBuffer += "*/";
        ++i;
      } else if (FHasCode) {
        FBuffer += c;
      }
      continue;
    }
    if (FInQuote) {
      FBuffer += c;
      if (c == FInQuote) FInQuote = 0;  // a doubled quote closes and at once reopens
      continue;
    }
    if ((c == '-' && next == '-') || (c == '/' && next == '/')) {
      flushWord();
      if (FHasCode) FBuffer.append(Line, i, std::string::npos);
      break;
    }
    if (c == '/' && next == '*') {
      flushWord();
      FInBlockComment = true;
      if (FHasCode) FBuffer += "/*";
      ++i;
      continue;
    }
    if (c == '\'' || c == '"' || c == '`') {
      flushWord();
      markCode();
      FInQuote = c;
      FBuffer += c;
      continue;
    }
    if (IsWordChar(c)) {
      markCode();
      word += c;
      FBuffer += c;
      continue;
    }
    flushWord();
    if (c == ';') {
      ResolvePendingEnd(nullptr);
      if (FCompound && FDepth > 0) {
        FBuffer += c;
      } else {
        Emit(Out);
      }
      continue;
    }
    if (!std::isspace(static_cast<unsigned char>(c))) markCode();
    if (FHasCode) FBuffer += c;
  }
  flushWord();
  if (FHasCode) FBuffer += '\n';
}

void TStatementSplitter::Word(const std::string& W) {
  if (FLeadWords.size() < 6) FLeadWords.push_back(W);
  if (!FCompoundDecided) {
    const auto& lw = FLeadWords;
    if (lw[0] == "CREATE" || lw[0] == "ALTER") {
      size_t k = 1;
      if (k < lw.size() && lw[k] == "OR") k += 2;  // OR REPLACE
      if (k < lw.size() && (lw[k] == "TEMPORARY" || lw[k] == "TEMP")) ++k;
      if (k < lw.size()) {
        const std::string& what = lw[k];
        FCompound = what == "PROCEDURE" || what == "PROC" || what == "FUNCTION" || what == "TRIGGER" ||
                    what == "EVENT";
        FCompoundDecided = true;
      }
    } else if (lw[0] == "BEGIN") {
      if (lw.size() >= 2) {
        FCompound = lw[1] != "TRAN" && lw[1] != "TRANSACTION" && lw[1] != "WORK";
        FCompoundDecided = true;
      }
    } else {
      FCompoundDecided = true;
    }
  }
  if (FPendingEnd) {
    bool consumed = W == "IF" || W == "LOOP" || W == "WHILE" || W == "FOR" || W == "REPEAT" || W == "CASE";
    ResolvePendingEnd(&W);
    if (consumed) return;
  }
  if (W == "BEGIN" || W == "CASE") {
    ++FDepth;
  } else if (W == "END") {
    FPendingEnd = true;
  }
}

// An END closes a BEGIN or CASE block unless it is the END of END IF, END LOOP and the like
// (those statements open no block of their own here).
void TStatementSplitter::ResolvePendingEnd(const std::string* Next) {
  if (!FPendingEnd) return;
  FPendingEnd = false;
  if (Next && (*Next == "IF" || *Next == "LOOP" || *Next == "WHILE" || *Next == "FOR" || *Next == "REPEAT"))
    return;
  if (FDepth > 0) --FDepth;
}

void TStatementSplitter::Emit(std::vector<TPiece>& Out) {
  std::string text = Trim(FBuffer);
  if (FHasCode && !text.empty()) Out.push_back({TPiece::pkSql, text, FStartLine});
  Reset();
}

void TStatementSplitter::Reset() {
  FBuffer.clear();
  FHasCode = false;
  FInQuote = 0;
  FInBlockComment = false;
  FLeadWords.clear();
  FCompound = false;
  FCompoundDecided = false;
  FDepth = 0;
  FPendingEnd = false;
  FStartLine = 0;
}

std::string LeadingKeyword(const std::string& Sql) {
  size_t i = 0;
  while (i < Sql.size() && (std::isspace(static_cast<unsigned char>(Sql[i])) || Sql[i] == '(')) ++i;
  size_t b = i;
  while (i < Sql.size() && IsWordChar(Sql[i])) ++i;
  return Upper(Sql.substr(b, i - b));
}

std::vector<size_t> MarkerPositions(const std::string& Sql) {
  std::vector<size_t> at;
  char quote = 0;
  const size_t n = Sql.size();
  for (size_t i = 0; i < n; ++i) {
    char c = Sql[i];
    char next = i + 1 < n ? Sql[i + 1] : '\0';
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '\'' || c == '"' || c == '`') {
      quote = c;
    } else if ((c == '-' && next == '-') || (c == '/' && next == '/')) {
      while (i < n && Sql[i] != '\n') ++i;
    } else if (c == '/' && next == '*') {
      size_t end = Sql.find("*/", i + 2);
      if (end == std::string::npos) break;
      i = end + 1;
    } else if (c == '?') {
      at.push_back(i);
    }
  }
  return at;
}

bool HasMarkers(const std::string& Sql) { return !MarkerPositions(Sql).empty(); }

std::string ReplaceMarkers(const std::string& Sql, const std::vector<std::string>& Names) {
  std::vector<size_t> at = MarkerPositions(Sql);
  std::string out;
  size_t from = 0;
  for (size_t k = 0; k < at.size() && k < Names.size(); ++k) {
    out.append(Sql, from, at[k] - from);
    out += Names[k];
    from = at[k] + 1;
  }
  out.append(Sql, from, std::string::npos);
  return out;
}

bool ReturnsRows(const std::string& Sql) {
  std::string k = LeadingKeyword(Sql);
  return k == "SELECT" || k == "WITH" || k == "CALL" || k == "EXEC" || k == "EXECUTE" || k == "VALUES" || k == "EXPLAIN";
}

namespace {

// One identifier at i, double-quoted or plain; i moves past it. Empty when there is none.
std::string IdentifierAt(const std::string& Sql, size_t& i) {
  const size_t n = Sql.size();
  if (i < n && Sql[i] == '"') {
    size_t e = Sql.find('"', i + 1);
    if (e == std::string::npos) return std::string();
    std::string name = Sql.substr(i + 1, e - i - 1);
    i = e + 1;
    return name;
  }
  size_t b = i;
  while (i < n && IsWordChar(Sql[i])) ++i;
  return Sql.substr(b, i - b);
}

}  // namespace

TCallText ParseCallText(const std::string& Sql) {
  TCallText call;
  const size_t n = Sql.size();
  size_t i = 0;
  auto skipSpace = [&] {
    while (i < n && std::isspace(static_cast<unsigned char>(Sql[i]))) ++i;
  };
  skipSpace();
  std::string verb = Upper(IdentifierAt(Sql, i));
  if (verb != "CALL" && verb != "EXEC" && verb != "EXECUTE") return call;
  skipSpace();
  std::string name = IdentifierAt(Sql, i);
  while (!name.empty() && i < n && Sql[i] == '.') {  // owner.name: the last part names it
    ++i;
    name = IdentifierAt(Sql, i);
  }
  if (name.empty()) return call;
  call.Name = name;
  skipSpace();
  if (i == n || Sql[i] == ';') {
    call.Ok = true;
    return call;
  }
  if (Sql[i] != '(') return call;
  int depth = 0;
  char quote = 0;
  std::string arg;
  for (++i; i < n; ++i) {
    char c = Sql[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '\'' || c == '"') {
      quote = c;
    } else if (c == '(') {
      ++depth;
    } else if (c == ')' && depth > 0) {
      --depth;
    } else if (c == ')') {
      std::string last = Trim(arg);
      if (!last.empty() || !call.Args.empty()) call.Args.push_back(last);
      ++i;
      skipSpace();
      call.Ok = i == n || Sql[i] == ';';
      return call;
    } else if (c == ',' && depth == 0) {
      call.Args.push_back(Trim(arg));
      arg.clear();
      continue;
    }
    arg += c;
  }
  return call;  // unbalanced
}

}  // namespace zylisql
