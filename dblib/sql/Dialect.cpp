// Tokens, statement kinds and the translation of the clients' SQL into SQLite's (Dialect.h).
#include "dblib/sql/Dialect.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>
#include <set>

#include "dblib/sql/Nesting.h"

namespace dbl {
namespace {

bool IsIdentChar(unsigned char c) { return std::isalnum(c) || c == '_' || c == '@' || c == '$' || c == '#' || c >= 0x80; }

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = char(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// Words after which an identifier is not a correlation name, and which end an expression.
const std::set<std::string>& Keywords() {
  static const std::set<std::string> k = {
      "all",     "and",       "as",        "asc",     "at",       "between", "by",        "case",     "check",
      "collate", "constraint", "cross",    "default", "delete",   "desc",    "distinct",  "else",     "end",
      "endif",   "escape",    "except",    "exists",  "for",      "from",    "full",      "group",    "having",
      "if",      "in",        "inner",     "insert",  "intersect", "into",   "is",        "join",     "key",
      "left",    "like",      "limit",     "natural", "not",      "null",    "offset",    "on",       "or",
      "order",   "outer",     "primary",   "references", "right", "select",  "set",       "start",    "then",
      "top",     "union",     "unique",    "update",  "using",    "values",  "when",      "where",    "window",
      "with",    "glob",      "regexp",    "match",   "isnull",   "notnull", "returning", "cast",     "over"};
  return k;
}
bool IsKeyword(const Token& t) { return t.kind == Token::Word && Keywords().count(Lower(t.text)) > 0; }

// Top-level clause words that end a select list or a FROM list.
bool EndsFromList(const Token& t) {
  static const char* words[] = {"where", "group", "having", "order", "limit", "union", "except",
                                "intersect", "window", "for", "offset"};
  for (const char* w : words)
    if (t.Is(w)) return true;
  return t.kind == Token::Semicolon;
}

struct Edit {
  size_t pos, len;
  std::string text;
};

std::string Apply(std::string_view sql, std::vector<Edit> edits) {
  std::stable_sort(edits.begin(), edits.end(), [](const Edit& a, const Edit& b) { return a.pos < b.pos; });
  std::string out;
  out.reserve(sql.size() + 32);
  size_t at = 0;
  for (const Edit& e : edits) {
    if (e.pos < at) continue;  // overlapping edit: the first one wins
    out.append(sql.substr(at, e.pos - at));
    out += e.text;
    at = e.pos + e.len;
  }
  out.append(sql.substr(std::min(at, sql.size())));
  return out;
}

size_t EndOf(const Token& t) { return t.pos + t.text.size(); }

// Index of the token that closes the group opened at i (tokens.size() when unbalanced).
size_t MatchClose(const std::vector<Token>& t, size_t i) {
  int depth = 0;
  for (size_t k = i; k < t.size(); ++k) {
    if (t[k].kind == Token::Open) ++depth;
    else if (t[k].kind == Token::Close && --depth == 0) return k;
  }
  return t.size();
}

bool DefaultIsUser(std::string_view n) { return SameIdent(n, "sys") || SameIdent(n, "dba"); }

// ---- pass 1: markers, IF expressions, owners, CURRENT x, FOR UPDATE ----
std::string TokenPass(std::string_view sql, const DialectContext& ctx) {
  std::vector<Token> t = Tokenize(sql);
  std::vector<Edit> edits;
  auto isUser = [&](std::string_view n) { return ctx.isUser ? ctx.isUser(n) : DefaultIsUser(n); };
  auto isTable = [&](std::string_view n) { return ctx.isTable && ctx.isTable(n); };

  std::set<std::string> aliases;
  for (size_t i = 1; i < t.size(); ++i) {
    if (!t[i].IsIdent() || IsKeyword(t[i])) continue;
    if (i + 1 < t.size() && (t[i + 1].kind == Token::Dot || t[i + 1].kind == Token::Open)) continue;
    const Token& p = t[i - 1];
    if (p.Is("as") || p.kind == Token::Close || (p.IsIdent() && !IsKeyword(p))) aliases.insert(Lower(t[i].Ident()));
  }

  bool isSelect = Classify(sql) == StatementKind::Select;
  std::vector<size_t> ifs;
  int depth = 0;
  for (size_t i = 0; i < t.size(); ++i) {
    const Token& k = t[i];
    if (k.kind == Token::Open) ++depth;
    if (k.kind == Token::Close) --depth;
    if (k.kind == Token::Marker && k.text.size() > 1 && k.text[0] == ':') {
      edits.push_back({k.pos, k.text.size(), "?"});
    } else if (k.Is("if")) {
      ifs.push_back(i);
    } else if (k.Is("endif") && !ifs.empty()) {
      edits.push_back({t[ifs.back()].pos, 2, "CASE WHEN"});
      edits.push_back({k.pos, k.text.size(), "END"});
      ifs.pop_back();
    } else if (k.Is("current") && i + 1 < t.size() &&
               (t[i + 1].Is("timestamp") || t[i + 1].Is("date") || t[i + 1].Is("time"))) {
      const char* repl = t[i + 1].Is("timestamp") ? "(strftime('%Y-%m-%d %H:%M:%f','now','localtime'))"
                         : t[i + 1].Is("date")    ? "(date('now','localtime'))"
                                                  : "(time('now','localtime'))";
      edits.push_back({k.pos, EndOf(t[i + 1]) - k.pos, repl});
      ++i;
    } else if (k.Is("current_timestamp") || k.Is("current_date") || k.Is("current_time")) {
      const char* repl = k.Is("current_timestamp") ? "(strftime('%Y-%m-%d %H:%M:%f','now','localtime'))"
                         : k.Is("current_date")    ? "(date('now','localtime'))"
                                                   : "(time('now','localtime'))";
      edits.push_back({k.pos, k.text.size(), repl});
    } else if (isSelect && depth == 0 && k.Is("for") && i + 1 < t.size() &&
               (t[i + 1].Is("update") || (t[i + 1].Is("read") && i + 2 < t.size() && t[i + 2].Is("only")))) {
      size_t end = i;
      while (end < t.size() && t[end].kind != Token::Semicolon) ++end;
      size_t stop = end < t.size() ? t[end].pos : sql.size();
      edits.push_back({k.pos, stop - k.pos, ""});
      break;
    } else if (k.IsIdent() && i + 2 < t.size() && t[i + 1].kind == Token::Dot && t[i + 2].IsIdent() &&
               (i == 0 || t[i - 1].kind != Token::Dot)) {
      std::string owner = k.Ident();
      bool threeParts = i + 4 < t.size() && t[i + 3].kind == Token::Dot && t[i + 4].IsIdent();
      bool strip = false;
      if (isUser(owner) && !SameIdent(owner, "main") && !SameIdent(owner, "temp")) {
        if (threeParts) strip = true;
        else if (!aliases.count(Lower(owner)) && (!isTable(owner) || isTable(t[i + 2].Ident()))) strip = true;
      }
      if (strip) edits.push_back({k.pos, t[i + 2].pos - k.pos, ""});
    }
  }
  return Apply(sql, std::move(edits));
}

// ---- pass 2: `+` joining strings ----
const std::set<std::string>& StringFunctions() {
  static const std::set<std::string> f = {"upper", "lower", "ucase", "lcase", "trim", "ltrim", "rtrim", "substr",
                                          "substring", "left", "right", "replace", "string", "char", "printf",
                                          "format", "quote", "hex", "typeof", "repeat", "space", "str"};
  return f;
}

bool ChainBoundary(const Token& k) {
  if (k.kind == Token::Comma || k.kind == Token::Semicolon || k.kind == Token::Close) return true;
  if (k.kind == Token::Op) {
    std::string_view o = k.text;
    return o == "=" || o == "==" || o == "<" || o == ">" || o == "<=" || o == ">=" || o == "<>" || o == "!=" ||
           o == "||" || o == "&" || o == "|" || o == "<<" || o == ">>";
  }
  return IsKeyword(k);
}

void ConcatRange(const std::vector<Token>& t, size_t b, size_t e, const DialectContext& ctx, std::vector<Edit>& edits) {
  size_t i = b;
  while (i < e) {
    // one chain: terms separated by binary + or -, up to a boundary at this level
    struct Term {
      size_t first, last;  // tokens [first, last)
    };
    std::vector<Term> terms;
    std::vector<size_t> ops;
    size_t termStart = i;
    bool onlyPlus = true;
    bool expectOperand = true;
    while (i < e && !ChainBoundary(t[i])) {
      if (t[i].kind == Token::Open) {
        size_t c = MatchClose(t, i);
        ConcatRange(t, i + 1, std::min(c, e), ctx, edits);
        i = std::min(c, e) + (c < e ? 1 : 0);
        expectOperand = false;
        continue;
      }
      if (t[i].kind == Token::Op && (t[i].text == "+" || t[i].text == "-") && !expectOperand) {
        terms.push_back({termStart, i});
        ops.push_back(i);
        if (t[i].text == "-") onlyPlus = false;
        termStart = i + 1;
        expectOperand = true;
        ++i;
        continue;
      }
      expectOperand = t[i].kind == Token::Op;
      ++i;
    }
    terms.push_back({termStart, i});
    if (!ops.empty() && onlyPlus) {
      bool anyLiteral = false, allChar = true;
      for (const Term& term : terms) {
        size_t n = term.last - term.first;
        if (n == 0) {
          allChar = false;
          continue;
        }
        const Token& f = t[term.first];
        if (n == 1 && f.kind == Token::String) {
          anyLiteral = true;
          continue;
        }
        bool isChar = false;
        if (n == 1 && f.IsIdent()) {
          isChar = ctx.isCharColumn && ctx.isCharColumn("", f.Ident());
        } else if (n == 3 && f.IsIdent() && t[term.first + 1].kind == Token::Dot && t[term.first + 2].IsIdent()) {
          isChar = ctx.isCharColumn && ctx.isCharColumn(f.Ident(), t[term.first + 2].Ident());
        } else if (f.kind == Token::Word && term.first + 1 < term.last && t[term.first + 1].kind == Token::Open &&
                   MatchClose(t, term.first + 1) == term.last - 1) {
          isChar = StringFunctions().count(Lower(f.text)) > 0;
        }
        if (!isChar) allChar = false;
      }
      if (anyLiteral || allChar) {
        for (size_t op : ops) edits.push_back({t[op].pos, 1, "||"});
        for (const Term& term : terms) {
          if (term.last - term.first <= 1) continue;
          // only an operator at the term's own level needs parentheses (|| binds tighter)
          bool hasOperator = false;
          int d = 0;
          for (size_t k = term.first; k < term.last; ++k) {
            if (t[k].kind == Token::Open) ++d;
            else if (t[k].kind == Token::Close) --d;
            else if (d == 0 && (t[k].kind == Token::Op || IsKeyword(t[k]))) hasOperator = true;
          }
          if (!hasOperator) continue;
          edits.push_back({t[term.first].pos, 0, "("});
          edits.push_back({EndOf(t[term.last - 1]), 0, ")"});
        }
      }
    }
    if (i < e) ++i;  // the boundary
  }
}

std::string ConcatPass(std::string_view sql, const DialectContext& ctx) {
  if (sql.find('+') == std::string_view::npos) return std::string(sql);
  std::vector<Token> t = Tokenize(sql);
  std::vector<Edit> edits;
  ConcatRange(t, 0, t.size(), ctx, edits);
  return Apply(sql, std::move(edits));
}

// ---- pass 3: TOP n [START AT m] ----

// The stretches of a token list that one SELECT's LIMIT belongs to: a group runs from an
// opening parenthesis (or the start) to its close, a ';' or a stray ')' at that level; one pass
// gives each token its group, each group its end and its last top-level LIMIT, so the pass
// below costs the same for the thousandth SELECT as for the first.
struct Groups {
  std::vector<size_t> of;         // token -> group
  std::vector<size_t> end;        // group -> index of the token that ends it (t.size(): none)
  std::vector<size_t> lastLimit;  // group -> index of its last LIMIT + 1 (0: none)
  explicit Groups(const std::vector<Token>& t) {
    std::vector<size_t> open;  // groups of the enclosing parentheses
    size_t cur = New();
    of.resize(t.size());
    for (size_t i = 0; i < t.size(); ++i) {
      of[i] = cur;
      if (t[i].kind == Token::Open) {
        open.push_back(cur);
        cur = New();
      } else if (t[i].kind == Token::Close) {
        end[cur] = i;
        if (open.empty()) {
          cur = New();  // a stray ')' ends the stretch; what follows starts another
        } else {
          cur = open.back();
          open.pop_back();
        }
      } else if (t[i].kind == Token::Semicolon) {
        end[cur] = i;
        cur = New();
      } else if (t[i].Is("limit")) {
        lastLimit[cur] = i + 1;
      }
    }
  }
  size_t New() {
    end.push_back(size_t(-1));
    lastLimit.push_back(0);
    return end.size() - 1;
  }
  size_t EndOf(size_t group, size_t size) const { return end[group] == size_t(-1) ? size : end[group]; }
};

std::string TopPass(std::string_view sql) {
  std::vector<Token> t = Tokenize(sql);
  std::vector<Edit> edits;
  std::unique_ptr<Groups> groups;  // made at the first TOP
  for (size_t i = 0; i < t.size(); ++i) {
    if (!t[i].Is("select")) continue;
    size_t k = i + 1;
    if (k < t.size() && (t[k].Is("distinct") || t[k].Is("all"))) ++k;
    if (!(k + 1 < t.size() && t[k].Is("top"))) continue;
    const Token& n = t[k + 1];
    if (n.kind != Token::Number && n.kind != Token::Marker) continue;
    std::string limit = " LIMIT " + std::string(n.kind == Token::Marker ? std::string_view("?") : n.text);
    size_t endTok = k + 2;
    if (endTok + 2 < t.size() && t[endTok].Is("start") && t[endTok + 1].Is("at")) {
      const Token& m = t[endTok + 2];
      if (m.kind == Token::Number) {
        long long v = std::atoll(std::string(m.text).c_str());
        limit += " OFFSET " + std::to_string(v > 0 ? v - 1 : 0);
      } else {
        limit += " OFFSET (" + std::string(m.kind == Token::Marker ? std::string_view("?") : m.text) + ")-1";
      }
      endTok += 3;
    }
    // The end of this SELECT: the close of the enclosing group, or the end of the statement. A
    // LIMIT of its own after the TOP leaves the text alone.
    if (!groups) groups = std::make_unique<Groups>(t);
    size_t group = groups->of[i];
    if (groups->lastLimit[group] > endTok) continue;
    size_t end = groups->EndOf(group, t.size());
    size_t cut = EndOf(t[endTok - 1]);
    while (cut < sql.size() && std::isspace(static_cast<unsigned char>(sql[cut]))) ++cut;
    edits.push_back({t[k].pos, cut - t[k].pos, ""});
    size_t at = end < t.size() ? t[end].pos : sql.size();
    // keep the limit next to the last token so trailing blanks and comments stay after it
    size_t last = end > endTok ? EndOf(t[end - 1]) : EndOf(t[endTok - 1]);
    edits.push_back({std::min(at, last), 0, limit});
  }
  return Apply(sql, std::move(edits));
}

// ---- pass 4: DEFAULT AUTOINCREMENT in column definitions ----
bool IsIntegerFamily(const std::vector<Token>& t, size_t b, size_t e) {
  for (size_t k = b; k < e; ++k) {
    std::string w = Lower(t[k].text);
    if (w == "integer" || w == "int" || w == "bigint" || w == "smallint" || w == "tinyint" || w == "unsigned") continue;
    return false;
  }
  return e > b;
}

std::string AutoincrementPass(std::string_view sql) {
  StatementKind kind = Classify(sql);
  if (kind != StatementKind::CreateTable && kind != StatementKind::AlterTable) return std::string(sql);
  std::vector<Token> t = Tokenize(sql);
  std::vector<Edit> edits;
  for (size_t i = 0; i + 1 < t.size(); ++i) {
    if (!t[i].Is("default")) continue;
    size_t a = i + 1;
    if (t[a].Is("global") && a + 1 < t.size()) ++a;
    if (!t[a].Is("autoincrement")) continue;
    if (a + 1 < t.size() && t[a + 1].kind == Token::Open) a = MatchClose(t, a + 1);  // GLOBAL AUTOINCREMENT(n)
    if (a >= t.size()) break;
    edits.push_back({t[i].pos, EndOf(t[a]) - t[i].pos, ""});
    // the column definition around it: back to '(' / ',' or ADD [COLUMN], on to ',' / ')'
    size_t b = i;
    int depth = 0;
    while (b > 0) {
      const Token& p = t[b - 1];
      if (p.kind == Token::Close) ++depth;
      else if (p.kind == Token::Open && depth-- == 0) break;
      else if (depth == 0 && (p.kind == Token::Comma || p.Is("add") || p.Is("column"))) break;
      --b;
    }
    size_t e = a + 1;
    depth = 0;
    bool primary = false;
    for (; e < t.size(); ++e) {
      if (t[e].kind == Token::Open) ++depth;
      else if (t[e].kind == Token::Close && depth-- == 0) break;
      else if (depth == 0 && t[e].kind == Token::Comma) break;
      else if (t[e].Is("primary")) primary = true;
    }
    for (size_t k = b; k < i; ++k)
      if (t[k].Is("primary")) primary = true;
    // type: the words after the column name up to the first constraint word
    size_t typeBegin = b + 1, typeEnd = typeBegin;
    while (typeEnd < i && t[typeEnd].kind == Token::Word && !IsKeyword(t[typeEnd]) && !t[typeEnd].Is("identity"))
      ++typeEnd;
    if (primary && IsIntegerFamily(t, typeBegin, typeEnd))
      edits.push_back({t[typeBegin].pos, EndOf(t[typeEnd - 1]) - t[typeBegin].pos, "INTEGER"});
    i = a;
  }
  return Apply(sql, std::move(edits));
}

// ---- pass 4: binary types keep their bytes ----
// SQLite gives a declared type without one of its affinity words NUMERIC affinity, which turns a
// binary value that looks like a number ('000000') into an integer, and CAST(x AS VARBINARY(n))
// into a number too. So a binary column type is declared behind a leading BLOB word (the type
// mapping drops it again: the catalog and DESCRIBE still see the type as written), and a cast to a
// binary type becomes a cast to BLOB.

// Length of the binary type starting at t[i] in tokens (0 when it is none): BINARY, VARBINARY,
// LONG BINARY, LONG VARBINARY, IMAGE, BINARY VARYING, each with an optional (n).
size_t BinaryTypeLength(const std::vector<Token>& t, size_t i) {
  size_t e = i;
  if (t[i].Is("long") && i + 1 < t.size() && (t[i + 1].Is("binary") || t[i + 1].Is("varbinary"))) e = i + 2;
  else if (t[i].Is("binary") || t[i].Is("varbinary") || t[i].Is("image")) e = i + 1;
  else return 0;
  if (e < t.size() && t[e].Is("varying")) ++e;
  if (e < t.size() && t[e].kind == Token::Open) {
    size_t c = MatchClose(t, e);
    if (c >= t.size()) return 0;
    e = c + 1;
  }
  return e - i;
}

std::string BinaryAffinityPass(std::string_view sql) {
  StatementKind kind = Classify(sql);
  const bool defines = kind == StatementKind::CreateTable || kind == StatementKind::AlterTable;
  std::vector<Token> t = Tokenize(sql);
  std::vector<Edit> edits;
  for (size_t i = 1; i < t.size(); ++i) {
    size_t n = BinaryTypeLength(t, i);
    if (!n) continue;
    const size_t after = i + n;
    if (t[i - 1].Is("as") && after < t.size() && t[after].kind == Token::Close) {
      // CAST(expr AS type): the group closed right after the type must be a CAST's
      size_t open = after;
      for (int depth = 0; open-- > 0;) {
        if (t[open].kind == Token::Close) ++depth;
        else if (t[open].kind == Token::Open && depth-- == 0) break;
      }
      if (open < t.size() && open > 0 && t[open - 1].Is("cast"))
        edits.push_back({t[i].pos, t[after].pos - t[i].pos, "BLOB"});
    } else if (defines && i >= 2 && t[i - 1].IsIdent() && !IsKeyword(t[i - 1]) &&
               (t[i - 2].kind == Token::Open || t[i - 2].kind == Token::Comma || t[i - 2].Is("add") ||
                t[i - 2].Is("column"))) {
      edits.push_back({t[i].pos, 0, "BLOB "});  // a column definition: ( or , then name, then type
    }
    i = after - 1;
  }
  return Apply(sql, std::move(edits));
}

// ---- pass 5: `//` line comments, which SQLite does not know, become `--` ----
std::string SlashCommentPass(std::string_view sql) {
  std::string out(sql);
  if (sql.find("//") == std::string_view::npos) return out;
  for (size_t i = 0; i < out.size(); ++i) {
    char c = out[i];
    if (c == '\'' || c == '"' || c == '`' || c == '[') {
      const char close = c == '[' ? ']' : c;
      for (++i; i < out.size() && out[i] != close; ++i) {
      }
    } else if (c == '-' && i + 1 < out.size() && out[i + 1] == '-') {
      while (i < out.size() && out[i] != '\n') ++i;
    } else if (c == '/' && i + 1 < out.size() && out[i + 1] == '*') {
      size_t e = out.find("*/", i + 2);
      i = e == std::string::npos ? out.size() : e + 1;
    } else if (c == '/' && i + 1 < out.size() && out[i + 1] == '/') {
      out[i] = out[i + 1] = '-';
      while (i < out.size() && out[i] != '\n') ++i;
    }
  }
  return out;
}

}  // namespace

bool SameIdent(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

std::string Token::Ident() const {
  if (kind != QuotedId || text.size() < 2) return std::string(text);
  char q = text[0];
  char close = q == '[' ? ']' : q;
  std::string out;
  std::string_view in = text.substr(1, text.back() == close ? text.size() - 2 : text.size() - 1);
  for (size_t i = 0; i < in.size(); ++i) {
    out += in[i];
    if (in[i] == close && close != ']' && i + 1 < in.size() && in[i + 1] == close) ++i;
  }
  return out;
}

bool Token::Is(std::string_view keyword) const { return kind == Word && SameIdent(text, keyword); }

namespace {

// Calls each(token) for the tokens of s in order; each may stop the walk by throwing.
template <class Each>
void ForEachToken(std::string_view s, Each&& each) {
  size_t i = 0, n = s.size();
  auto push = [&](Token::Kind k, size_t b, size_t e) { each(Token{k, s.substr(b, e - b), b}); };
  while (i < n) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (std::isspace(c)) {
      ++i;
      continue;
    }
    if ((c == '-' && i + 1 < n && s[i + 1] == '-') || (c == '/' && i + 1 < n && s[i + 1] == '/')) {
      while (i < n && s[i] != '\n') ++i;
      continue;
    }
    if (c == '/' && i + 1 < n && s[i + 1] == '*') {
      size_t e = s.find("*/", i + 2);
      i = e == std::string_view::npos ? n : e + 2;
      continue;
    }
    size_t b = i;
    if (c == '\'' || c == '"' || c == '`' || c == '[') {
      char close = c == '[' ? ']' : char(c);
      ++i;
      while (i < n) {
        if (s[i] == close) {
          if (close != ']' && i + 1 < n && s[i + 1] == close) {
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        ++i;
      }
      push(c == '\'' ? Token::String : Token::QuotedId, b, i);
      continue;
    }
    if (std::isdigit(c) || (c == '.' && i + 1 < n && std::isdigit(static_cast<unsigned char>(s[i + 1])))) {
      if (c == '0' && i + 1 < n && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        i += 2;
        while (i < n && std::isxdigit(static_cast<unsigned char>(s[i]))) ++i;
      } else {
        while (i < n && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
        if (i < n && s[i] == '.') {
          ++i;
          while (i < n && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
        }
        if (i < n && (s[i] == 'e' || s[i] == 'E')) {
          size_t k = i + 1;
          if (k < n && (s[k] == '+' || s[k] == '-')) ++k;
          if (k < n && std::isdigit(static_cast<unsigned char>(s[k]))) {
            i = k;
            while (i < n && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
          }
        }
      }
      push(Token::Number, b, i);
      continue;
    }
    if (c == '?') {
      ++i;
      while (i < n && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
      push(Token::Marker, b, i);
      continue;
    }
    if (c == ':' && (i == 0 || s[i - 1] != ':') && i + 1 < n && IsIdentChar(static_cast<unsigned char>(s[i + 1])) &&
        !std::isdigit(static_cast<unsigned char>(s[i + 1]))) {
      ++i;
      while (i < n && IsIdentChar(static_cast<unsigned char>(s[i]))) ++i;
      push(Token::Marker, b, i);
      continue;
    }
    if (IsIdentChar(c)) {
      while (i < n && IsIdentChar(static_cast<unsigned char>(s[i]))) ++i;
      push(Token::Word, b, i);
      continue;
    }
    switch (c) {
      case '(': push(Token::Open, b, ++i); continue;
      case ')': push(Token::Close, b, ++i); continue;
      case ',': push(Token::Comma, b, ++i); continue;
      case '.': push(Token::Dot, b, ++i); continue;
      case ';': push(Token::Semicolon, b, ++i); continue;
      default: break;
    }
    static const char* twoChar[] = {"||", "<=", ">=", "<>", "!=", "==", "<<", ">>"};
    bool two = false;
    for (const char* op : twoChar)
      if (i + 1 < n && s[i] == op[0] && s[i + 1] == op[1]) two = true;
    i += two ? 2 : 1;
    push(Token::Op, b, i);
  }
}

}  // namespace

std::vector<Token> Tokenize(std::string_view s) {
  std::vector<Token> out;
  ForEachToken(s, [&](const Token& t) { out.push_back(t); });
  return out;
}

StatementKind Classify(std::string_view sql) {
  std::vector<Token> t = Tokenize(sql);
  size_t i = 0;
  while (i < t.size() && t[i].kind == Token::Open) ++i;
  if (i >= t.size()) return StatementKind::Other;
  auto at = [&](size_t k) -> const Token* { return i + k < t.size() ? &t[i + k] : nullptr; };
  auto is = [&](size_t k, std::string_view w) { return at(k) && at(k)->Is(w); };
  if (is(0, "select") || is(0, "with") || is(0, "values")) return StatementKind::Select;
  if (is(0, "insert") || is(0, "replace")) return StatementKind::Insert;
  if (is(0, "update")) return StatementKind::Update;
  if (is(0, "delete")) return StatementKind::Delete;
  if (is(0, "call") || is(0, "exec") || is(0, "execute")) return StatementKind::Call;
  // ? = CALL p(...), :r = CALL p(...)
  if (at(0) && at(0)->kind == Token::Marker && at(1) && at(1)->text == "=" && is(2, "call")) return StatementKind::Call;
  if (is(0, "commit")) return StatementKind::Commit;
  if (is(0, "rollback")) return StatementKind::Rollback;
  if (is(0, "grant")) return StatementKind::Grant;
  if (is(0, "revoke")) return StatementKind::Revoke;
  if (is(0, "set")) {
    if (is(1, "option") || (is(1, "temporary") && is(2, "option"))) return StatementKind::SetOption;
    return StatementKind::Set;
  }
  bool create = is(0, "create"), drop = is(0, "drop"), alter = is(0, "alter");
  if (!create && !drop && !alter) return StatementKind::Other;
  size_t k = 1;
  // CREATE [OR REPLACE] [GLOBAL] [TEMPORARY|TEMP|LOCAL] [UNIQUE|CLUSTERED|VIRTUAL] <object>
  if (is(k, "or") && is(k + 1, "replace")) k += 2;
  while (is(k, "global") || is(k, "local") || is(k, "temporary") || is(k, "temp") || is(k, "unique") ||
         is(k, "clustered") || is(k, "nonclustered") || is(k, "virtual") || is(k, "materialized"))
    ++k;
  if (is(k, "table")) return create ? StatementKind::CreateTable : drop ? StatementKind::DropTable : StatementKind::AlterTable;
  if (is(k, "view")) return drop ? StatementKind::DropView : StatementKind::CreateView;
  if (is(k, "index")) return drop ? StatementKind::DropIndex : StatementKind::CreateIndex;
  if (is(k, "procedure") || is(k, "function") || is(k, "proc"))
    return drop ? StatementKind::DropProcedure : StatementKind::CreateProcedure;
  if (is(k, "variable")) return drop ? StatementKind::DropVariable : create ? StatementKind::CreateVariable : StatementKind::Other;
  if (is(k, "database")) return drop ? StatementKind::DropDatabase : create ? StatementKind::CreateDatabase : StatementKind::Other;
  return StatementKind::Other;
}

bool DefinesObjects(StatementKind kind) {
  switch (kind) {
    case StatementKind::CreateTable:
    case StatementKind::AlterTable:
    case StatementKind::DropTable:
    case StatementKind::CreateView:
    case StatementKind::DropView:
    case StatementKind::CreateIndex:
    case StatementKind::DropIndex:
    case StatementKind::CreateProcedure:
    case StatementKind::DropProcedure: return true;
    default: return false;
  }
}

namespace {

// Refuses a text nested deeper than the translation recurses (ConcatRange) before any pass
// runs, at the first parenthesis too many: SQLite would refuse it anyway, and the passes never
// see (or pay for) the rest of it.
void CheckNesting(std::string_view sql) {
  int depth = 0;
  ForEachToken(sql, [&](const Token& k) {
    if (k.kind == Token::Open && ++depth > kMaxSqlNesting) RefuseNesting(kMaxSqlNesting, k.text, k.pos);
    if (k.kind == Token::Close && depth > 0) --depth;
  });
}

}  // namespace

std::string TranslateSql(std::string_view sql, const DialectContext& ctx) {
  CheckNesting(sql);
  std::string s = TokenPass(sql, ctx);
  s = ConcatPass(s, ctx);
  s = TopPass(s);
  s = BinaryAffinityPass(s);
  s = AutoincrementPass(s);
  return SlashCommentPass(s);
}

std::string_view StatementBody(std::string_view sql) {
  std::vector<Token> t = Tokenize(sql);
  size_t last = t.size();
  while (last > 0 && t[last - 1].kind == Token::Semicolon) --last;
  if (last == 0) return sql.substr(0, 0);
  return sql.substr(t[0].pos, EndOf(t[last - 1]) - t[0].pos);
}

std::vector<std::string> MarkerNames(std::string_view sql) {
  std::vector<std::string> out;
  for (const Token& k : Tokenize(sql))
    if (k.kind == Token::Marker) out.push_back(k.text[0] == ':' ? std::string(k.text.substr(1)) : std::string());
  return out;
}

SelectShape AnalyzeSelect(std::string_view sql) {
  SelectShape shape;
  std::vector<Token> t = Tokenize(sql);
  size_t i = 0;
  if (i < t.size() && t[i].Is("with")) {
    shape.isSelect = true;
    shape.compound = true;  // a common table expression: not a plain table read
    return shape;
  }
  if (i >= t.size() || !t[i].Is("select")) return shape;
  shape.isSelect = true;
  ++i;
  if (i < t.size() && t[i].Is("distinct")) {
    shape.distinct = true;
    ++i;
  } else if (i < t.size() && t[i].Is("all")) {
    ++i;
  }
  static const std::set<std::string> aggregates = {"count", "sum", "avg", "min", "max", "total", "group_concat", "list"};
  // select list
  size_t itemStart = i;
  int depth = 0;
  for (; i < t.size(); ++i) {
    if (t[i].kind == Token::Open) ++depth;
    else if (t[i].kind == Token::Close) --depth;
    if (depth == 0 && (t[i].kind == Token::Comma || t[i].Is("from") || EndsFromList(t[i]))) {
      if (i > itemStart) shape.items.push_back({itemStart, i});
      itemStart = i + 1;
      if (t[i].kind != Token::Comma) break;
    }
    if (t[i].kind == Token::Word && i + 1 < t.size() && t[i + 1].kind == Token::Open &&
        aggregates.count(Lower(t[i].text)))
      shape.aggregate = true;
  }
  if (i >= t.size() && i > itemStart) shape.items.push_back({itemStart, i});
  for (auto [b, e] : shape.items)
    shape.itemTexts.emplace_back(sql.substr(t[b].pos, EndOf(t[e - 1]) - t[b].pos));
  shape.selectEnd = i < t.size() ? t[i].pos : sql.size();
  if (i < t.size() && t[i].Is("from")) {
    shape.fromPos = t[i].pos;
    ++i;
    TableRef ref;
    size_t refTokens = 0;
    auto flush = [&]() {
      if (refTokens) shape.from.push_back(ref);
      ref = TableRef();
      refTokens = 0;
    };
    for (; i < t.size(); ++i) {
      const Token& k = t[i];
      if (k.kind == Token::Open) {
        size_t c = MatchClose(t, i);
        if (refTokens == 0) ref.name.clear();  // subquery
        else ref.name.clear();                 // table function: no table to update
        ++refTokens;
        i = c;
        continue;
      }
      if (k.kind == Token::Close) break;
      if (EndsFromList(k)) break;
      if (k.kind == Token::Comma) {
        shape.joined = true;
        flush();
        continue;
      }
      if (k.Is("join") || k.Is("inner") || k.Is("left") || k.Is("right") || k.Is("cross") || k.Is("natural") ||
          k.Is("full") || k.Is("outer")) {
        shape.joined = true;
        if (refTokens) flush();
        continue;
      }
      if (k.Is("on") || k.Is("using")) {
        // skip the join condition up to the next join word or the end of the list
        int d = 0;
        while (i + 1 < t.size()) {
          const Token& n = t[i + 1];
          if (n.kind == Token::Open) ++d;
          else if (n.kind == Token::Close && --d < 0) break;
          if (d == 0 && (n.Is("join") || n.Is("inner") || n.Is("left") || n.Is("right") || n.Is("cross") ||
                         n.Is("natural") || n.kind == Token::Comma || EndsFromList(n)))
            break;
          ++i;
        }
        continue;
      }
      if (k.Is("as") || k.Is("indexed") || k.Is("not") || k.Is("by")) continue;
      if (k.IsIdent()) {
        if (refTokens == 0) {
          ref.name = k.Ident();
        } else if (i > 0 && t[i - 1].kind == Token::Dot) {
          ref.name = k.Ident();  // owner.table or schema.table: the table part
        } else {
          ref.alias = k.Ident();
        }
        ++refTokens;
      }
    }
    flush();
    if (shape.from.size() > 1) shape.joined = true;
  }
  depth = 0;
  for (const Token& k : t) {
    if (k.kind == Token::Open) ++depth;
    else if (k.kind == Token::Close) --depth;
    if (depth != 0) continue;
    if (k.Is("union") || k.Is("intersect") || k.Is("except")) shape.compound = true;
    if (k.Is("group") || k.Is("having")) shape.grouped = true;
    if (k.Is("limit")) shape.limited = true;
  }
  return shape;
}

bool SingleTableSelect(std::string_view sql, std::string& table) {
  SelectShape s = AnalyzeSelect(sql);
  if (!s.isSelect || s.distinct || s.grouped || s.compound || s.joined || s.aggregate || s.from.size() != 1 ||
      s.from[0].name.empty())
    return false;
  table = s.from[0].name;
  return true;
}

std::string WithRowidColumn(std::string_view sql, std::string_view column) {
  std::string table;
  if (!SingleTableSelect(sql, table)) return {};
  SelectShape s = AnalyzeSelect(sql);
  std::string q = s.from[0].alias.empty() ? table : s.from[0].alias;
  std::string quoted = "\"";
  for (char c : q) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  quoted += '"';
  // Right after the select list's last token: a comment between it and FROM stays behind the
  // added column instead of swallowing it.
  size_t at = s.fromPos;
  for (const Token& k : Tokenize(sql.substr(0, s.fromPos))) at = EndOf(k);
  std::string out(sql.substr(0, at));
  out += ", " + quoted + ".rowid AS " + std::string(column);
  out += sql.substr(at);
  return out;
}

}  // namespace dbl
