// Tab completion of the interactive SQL tool: what the word before the cursor may become.
//
// At the start of a line a "." word completes to the names of the built-in commands; in a
// command's arguments the command's table says what each argument is (a table, a file ...).
// In SQL the word before decides: after FROM, JOIN, INTO, UPDATE or TABLE come table and view
// names, after CALL procedure names; elsewhere keywords, tables and columns. Matching ignores
// case; keywords come back in the case the user started typing them in.
#include <algorithm>
#include <cctype>

#include "tools/isql/IsqlShell.h"
#include "tools/isql/IsqlText.h"

namespace zylisql {
namespace {

const char* const kKeywords[] = {
    "ADD", "ALL", "ALTER", "AND", "AS", "ASC", "AVG", "BEGIN", "BETWEEN", "BIGINT", "BINARY", "BIT", "BY", "CALL",
    "CASE", "CAST", "CHAR", "CHECK", "COLUMN", "COMMIT", "CONNECT", "COUNT", "CREATE", "CROSS", "DATE", "DECIMAL",
    "DECLARE", "DEFAULT", "DELETE", "DESC", "DISTINCT", "DOUBLE", "DROP", "ELSE", "END", "EXISTS", "FLOAT",
    "FOREIGN", "FROM", "FUNCTION", "GRANT", "GROUP", "HAVING", "IDENTIFIED", "IF", "IN", "INDEX", "INNER", "INSERT",
    "INTEGER", "INTO", "IS", "JOIN", "KEY", "LEFT", "LIKE", "LONG", "MAX", "MESSAGE", "MIN", "NOT", "NULL",
    "NUMERIC", "ON", "OR", "ORDER", "OUTER", "PRIMARY", "PROCEDURE", "REFERENCES", "RELEASE", "RESULT", "RETURN",
    "RETURNS", "REVOKE", "RIGHT", "ROLLBACK", "SAVEPOINT", "SELECT", "SET", "SMALLINT", "SUM", "TABLE", "THEN",
    "TIME", "TIMESTAMP", "TINYINT", "TO", "TOP", "TRANSACTION", "UNION", "UNIQUE", "UPDATE", "VALUES", "VARBINARY",
    "VARCHAR", "VARIABLE", "VIEW", "WHEN", "WHERE", "WHILE", "WITH",
};

bool StartsWithNoCase(const std::string& Text, const std::string& Prefix) {
  if (Prefix.size() > Text.size()) return false;
  for (size_t i = 0; i < Prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(Text[i])) != std::tolower(static_cast<unsigned char>(Prefix[i])))
      return false;
  return true;
}

void AddMatches(const std::vector<std::string>& From, const std::string& Word, const std::string& Prefix,
                std::vector<std::string>& Out) {
  for (const std::string& w : From)
    if (StartsWithNoCase(w, Word)) Out.push_back(Prefix + w);
}

// Words of Text (upper case), split at blanks and punctuation other than "." and "_".
std::vector<std::string> Words(const std::string& Text) {
  std::vector<std::string> out;
  std::string w;
  for (char c : Text) {
    if (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || static_cast<unsigned char>(c) >= 0x80) {
      w += c;
    } else if (!w.empty()) {
      out.push_back(Upper(w));
      w.clear();
    }
  }
  if (!w.empty()) out.push_back(Upper(w));
  return out;
}

TCompletion CompleteSql(const std::string& Before, const std::string& Word, const TCatalogNames& Names) {
  TCompletion c;
  std::vector<std::string> words = Words(Before);
  std::string previous = words.empty() ? std::string() : words.back();
  size_t dot = Word.rfind('.');
  if (dot != std::string::npos) {  // table.column or owner.table
    std::string prefix = Word.substr(0, dot + 1), rest = Word.substr(dot + 1);
    AddMatches(Names.Columns, rest, prefix, c.Words);
    AddMatches(Names.Tables, rest, prefix, c.Words);
  } else if (previous == "FROM" || previous == "JOIN" || previous == "INTO" || previous == "UPDATE" ||
             previous == "TABLE" || previous == "VIEW") {
    AddMatches(Names.Tables, Word, "", c.Words);
  } else if (previous == "CALL" || previous == "EXEC" || previous == "EXECUTE" || previous == "PROCEDURE") {
    AddMatches(Names.Procedures, Word, "", c.Words);
  } else {
    bool lower = !Word.empty() && std::islower(static_cast<unsigned char>(Word[0]));
    for (const char* k : kKeywords)
      if (StartsWithNoCase(k, Word)) c.Words.push_back(lower ? Lower(k) : std::string(k));
    if (!Word.empty()) {
      AddMatches(Names.Tables, Word, "", c.Words);
      AddMatches(Names.Columns, Word, "", c.Words);
      AddMatches(Names.Procedures, Word, "", c.Words);
    }
  }
  return c;
}

}  // namespace

TCompletion CompleteWord(const std::string& Pending, const std::string& Line, size_t Start, size_t End,
                         const std::vector<TCommand>& Commands, const TCatalogNames& Names) {
  if (Start > Line.size()) Start = Line.size();
  if (End > Line.size() || End < Start) End = Line.size();
  const std::string word = Line.substr(Start, End - Start);
  const std::string before = Line.substr(0, Start);
  const std::string lead = Trim(before);
  TCompletion c;
  if (Pending.empty() && lead.empty() && !word.empty() && word[0] == '.') {
    const std::string typed = word.substr(1);
    for (const TCommand& cmd : Commands) {
      if (StartsWithNoCase(cmd.Name, typed)) c.Words.push_back("." + cmd.Name);
      for (const std::string& a : cmd.Aliases)
        if (a.size() > 1 && StartsWithNoCase(a, typed) && !StartsWithNoCase(cmd.Name, typed)) c.Words.push_back("." + a);
    }
  } else if (Pending.empty() && !lead.empty() && lead[0] == '.') {
    // An argument of a command: which one decides what it is.
    std::vector<std::string> parts;
    std::string w;
    for (char ch : lead) {
      if (std::isspace(static_cast<unsigned char>(ch))) {
        if (!w.empty()) parts.push_back(w);
        w.clear();
      } else {
        w += ch;
      }
    }
    if (!w.empty()) parts.push_back(w);
    const TCommand* cmd = nullptr;
    std::string name = Lower(parts[0].substr(1));
    for (const TCommand& k : Commands) {
      if (k.Name == name || std::find(k.Aliases.begin(), k.Aliases.end(), name) != k.Aliases.end()) cmd = &k;
    }
    if (!cmd || cmd->Args.empty()) return c;
    size_t index = parts.size() - 1;  // arguments before the word
    TArgKind kind = TArgKind::akNone;
    if (index < cmd->Args.size()) kind = cmd->Args[index];
    else if (cmd->Args.back() == TArgKind::akSql) kind = TArgKind::akSql;
    switch (kind) {
      case TArgKind::akTable: AddMatches(Names.Tables, word, "", c.Words); break;
      case TArgKind::akProcedure: AddMatches(Names.Procedures, word, "", c.Words); break;
      case TArgKind::akFile: c.Files = true; break;
      case TArgKind::akWords: AddMatches(cmd->Words, word, "", c.Words); break;
      case TArgKind::akSql: {
        size_t after = before.find(parts[0]) + parts[0].size();
        c = CompleteSql(before.substr(after), word, Names);
        break;
      }
      case TArgKind::akNone: break;
    }
  } else {
    c = CompleteSql(Pending + "\n" + before, word, Names);
  }
  std::sort(c.Words.begin(), c.Words.end());
  c.Words.erase(std::unique(c.Words.begin(), c.Words.end()), c.Words.end());
  return c;
}

}  // namespace zylisql
