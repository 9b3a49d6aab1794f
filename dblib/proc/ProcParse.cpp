// The parser of procedure and function definitions (dblib/proc/ProcLang.h). A small lexer turns the
// text into tokens with offsets; the parser walks the statements of the procedure language and
// cuts out the spans of expressions and embedded SQL as text. A span ends at a terminator
// keyword (THEN, LOOP, END ...) or ';' only where no parenthesis, CASE ... END or
// IF ... ENDIF expression is open, so the ELSE and END of expressions never end a statement.
#include <algorithm>
#include <cctype>
#include <initializer_list>
#include <optional>

#include "dblib/proc/ProcLang.h"
#include "dblib/sql/Errors.h"
#include "dblib/sql/Nesting.h"

namespace dbl {
namespace {

struct Token {
  enum class Kind { Ident, QIdent, String, Number, Param, Op, End };
  Kind kind = Kind::End;
  std::string text;   // as written (QIdent: without quotes; String: with quotes)
  std::string upper;  // upper-cased text of Ident tokens, else text
  size_t begin = 0;
  size_t end = 0;
};

std::string Upper(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return r;
}

bool IsIdentStart(char c) {
  return std::isalpha(static_cast<unsigned char>(c)) || c == '_' || c == '@' || c == '#' ||
         c == '$' || (static_cast<unsigned char>(c) >= 0x80);
}
bool IsIdentChar(char c) {
  return IsIdentStart(c) || std::isdigit(static_cast<unsigned char>(c));
}

[[noreturn]] void SyntaxError(const std::string& what, size_t offset) {
  throw SqlError(SQLE_SYNTAX_ERROR, {what}, static_cast<int>(offset));
}

std::vector<Token> Lex(std::string_view s) {
  std::vector<Token> out;
  size_t i = 0;
  const size_t n = s.size();
  while (i < n) {
    char c = s[i];
    if (std::isspace(static_cast<unsigned char>(c))) { ++i; continue; }
    if ((c == '-' && i + 1 < n && s[i + 1] == '-') || (c == '/' && i + 1 < n && s[i + 1] == '/')) {
      while (i < n && s[i] != '\n') ++i;
      continue;
    }
    if (c == '/' && i + 1 < n && s[i + 1] == '*') {
      size_t e = s.find("*/", i + 2);
      if (e == std::string_view::npos) SyntaxError("unterminated comment", i);
      i = e + 2;
      continue;
    }
    Token t;
    t.begin = i;
    if (c == '\'') {
      size_t j = i + 1;
      for (;;) {
        if (j >= n) SyntaxError("unterminated string", i);
        if (s[j] == '\'') {
          if (j + 1 < n && s[j + 1] == '\'') { j += 2; continue; }
          break;
        }
        ++j;
      }
      t.kind = Token::Kind::String;
      t.text = std::string(s.substr(i, j + 1 - i));
      i = j + 1;
    } else if (c == '"' || c == '[' || c == '`') {
      char close = c == '[' ? ']' : c;
      size_t j = s.find(close, i + 1);
      if (j == std::string_view::npos) SyntaxError("unterminated quoted identifier", i);
      t.kind = Token::Kind::QIdent;
      t.text = std::string(s.substr(i + 1, j - i - 1));
      i = j + 1;
    } else if (std::isdigit(static_cast<unsigned char>(c)) ||
               (c == '.' && i + 1 < n && std::isdigit(static_cast<unsigned char>(s[i + 1])))) {
      size_t j = i;
      while (j < n && (std::isalnum(static_cast<unsigned char>(s[j])) || s[j] == '.')) ++j;
      t.kind = Token::Kind::Number;
      t.text = std::string(s.substr(i, j - i));
      i = j;
    } else if (IsIdentStart(c)) {
      size_t j = i;
      while (j < n && IsIdentChar(s[j])) ++j;
      t.kind = Token::Kind::Ident;
      t.text = std::string(s.substr(i, j - i));
      i = j;
    } else if (c == '?' || (c == ':' && i + 1 < n && IsIdentStart(s[i + 1]))) {
      size_t j = i + 1;
      while (j < n && IsIdentChar(s[j])) ++j;
      t.kind = Token::Kind::Param;
      t.text = std::string(s.substr(i, j - i));
      i = j;
    } else {
      static const char* two[] = {"<=", ">=", "<>", "!=", "||", "==", "!<", "!>"};
      t.kind = Token::Kind::Op;
      t.text = std::string(1, c);
      for (const char* op : two) {
        if (i + 1 < n && s[i] == op[0] && s[i + 1] == op[1]) { t.text = op; break; }
      }
      i += t.text.size();
    }
    t.end = i;
    t.upper = t.kind == Token::Kind::Ident ? Upper(t.text) : t.text;
    out.push_back(std::move(t));
  }
  Token e;
  e.begin = e.end = n;
  out.push_back(e);
  return out;
}

using Words = std::initializer_list<const char*>;

void CheckScopes(const ProcStmt& body);  // below

class Parser {
 public:
  explicit Parser(std::string_view text) : src_(text), toks_(Lex(text)) {}

  ProcDef ParseDdl();
  ProcCallText ParseCall();

 private:
  const Token& Peek(size_t k = 0) const { return toks_[std::min(pos_ + k, toks_.size() - 1)]; }
  bool AtEnd() const { return Peek().kind == Token::Kind::End; }
  bool IsWord(const Token& t, const char* w) const { return t.kind == Token::Kind::Ident && t.upper == w; }
  bool IsWord(const char* w, size_t k = 0) const { return IsWord(Peek(k), w); }
  bool IsOp(const char* op, size_t k = 0) const { return Peek(k).kind == Token::Kind::Op && Peek(k).text == op; }
  bool IsAnyWord(Words ws, size_t k = 0) const {
    for (const char* w : ws) if (IsWord(w, k)) return true;
    return false;
  }
  bool Accept(const char* w) {
    if (IsWord(w)) { ++pos_; return true; }
    return false;
  }
  bool AcceptOp(const char* op) {
    if (IsOp(op)) { ++pos_; return true; }
    return false;
  }
  void Expect(const char* w) {
    if (!Accept(w)) Fail(std::string(w) + " expected");
  }
  void ExpectOp(const char* op) {
    if (!AcceptOp(op)) Fail(std::string("'") + op + "' expected");
  }
  [[noreturn]] void Fail(const std::string& what) const {
    const Token& t = Peek();
    std::string near = t.kind == Token::Kind::End ? "end of text" : "'" + std::string(src_.substr(t.begin, t.end - t.begin)) + "'";
    SyntaxError(what + " near " + near, t.begin);
  }
  std::string Name() {
    const Token& t = Peek();
    if (t.kind != Token::Kind::Ident && t.kind != Token::Kind::QIdent) Fail("name expected");
    ++pos_;
    return t.text;
  }
  // [owner.]name
  void QualifiedName(std::string& owner, std::string& name) {
    name = Name();
    if (AcceptOp(".")) {
      owner = name;
      name = Name();
    }
  }
  std::string Text(size_t fromTok, size_t toTok) const {  // tokens [from, to)
    if (toTok <= fromTok) return {};
    return std::string(src_.substr(toks_[fromTok].begin, toks_[toTok - 1].end - toks_[fromTok].begin));
  }
  // Advances over an expression or SQL span and returns its text; stops before ';', before an
  // unbalanced ')' or ',' (when stopAtComma), or before one of the terminator words, wherever
  // no parenthesis, CASE or IF expression is open.
  std::string Span(Words terminators, bool stopAtComma = false, bool required = true);
  std::string TypeText();

  void ParseParams(ProcDef& def);
  ProcBody StatementList(Words stops);
  std::unique_ptr<ProcStmt> Statement();
  std::unique_ptr<ProcStmt> Block(std::string label, size_t start);
  std::unique_ptr<ProcStmt> Declare(size_t start);
  std::unique_ptr<ProcStmt> If(size_t start);
  std::unique_ptr<ProcStmt> Case(size_t start);
  std::unique_ptr<ProcStmt> Loop(std::string label, size_t start);
  std::unique_ptr<ProcStmt> For(std::string label, size_t start);
  std::unique_ptr<ProcStmt> CallStmt(size_t start);
  std::unique_ptr<ProcStmt> Select(size_t start);
  std::unique_ptr<ProcStmt> Message(size_t start);
  std::unique_ptr<ProcStmt> RaisError(size_t start);
  std::vector<ProcArg> CallArgs();
  void EndOfStatement();
  std::unique_ptr<ProcStmt> Make(ProcStmt::Kind k, size_t start) {
    auto s = std::make_unique<ProcStmt>();
    s->kind = k;
    s->offset = static_cast<int>(toks_[start].begin);
    return s;
  }

  std::string_view src_;
  std::vector<Token> toks_;
  size_t pos_ = 0;
  bool sawResultSet_ = false;
  int depth_ = 0;  // statements open around the one being parsed (kMaxProcNesting)
};

std::string Parser::Span(Words terminators, bool stopAtComma, bool required) {
  size_t start = pos_;
  int paren = 0, caseDepth = 0, ifDepth = 0;
  while (!AtEnd()) {
    const Token& t = Peek();
    bool open = paren > 0 || caseDepth > 0 || ifDepth > 0;
    if (t.kind == Token::Kind::Op) {
      if (t.text == "(") ++paren;
      else if (t.text == ")") {
        if (paren == 0) break;
        --paren;
      } else if (!open && t.text == ";") break;
      else if (!open && stopAtComma && t.text == ",") break;
    } else if (t.kind == Token::Kind::Ident) {
      if (t.upper == "CASE") ++caseDepth;
      else if (t.upper == "END" && caseDepth > 0) --caseDepth;
      else if (t.upper == "IF" && !(pos_ > start && IsWord(toks_[pos_ - 1], "END"))) ++ifDepth;
      else if (t.upper == "ENDIF" && ifDepth > 0) --ifDepth;
      else if (!open) {
        bool stop = false;
        for (const char* w : terminators) if (t.upper == w) stop = true;
        if (stop) break;
      }
    }
    ++pos_;
  }
  if (required && pos_ == start) Fail("expression expected");
  return Text(start, pos_);
}

std::string Parser::TypeText() {
  size_t start = pos_;
  if (Peek().kind != Token::Kind::Ident) Fail("data type expected");
  // Type names are words plus an optional parenthesised length/precision.
  while (Peek().kind == Token::Kind::Ident && !IsAnyWord({"DEFAULT", "NOT", "NULL", "BEGIN", "RESULT", "RETURNS"})) {
    ++pos_;
    if (IsOp("(")) {
      while (!AtEnd() && !IsOp(")")) ++pos_;
      ExpectOp(")");
      break;
    }
  }
  if (pos_ == start) Fail("data type expected");
  return Text(start, pos_);
}

void Parser::ParseParams(ProcDef& def) {
  if (!AcceptOp("(")) return;
  if (AcceptOp(")")) return;
  for (;;) {
    ProcParam p;
    if (def.isFunction) {
      // Function parameters are input only.
      p.mode = ParmMode::In;
      if (IsWord("OUT") || IsWord("INOUT")) Fail("a function takes IN parameters only");
      Accept("IN");
    } else if (Accept("IN")) p.mode = ParmMode::In;
    else if (Accept("OUT")) p.mode = ParmMode::Out;
    else if (Accept("INOUT")) p.mode = ParmMode::InOut;
    size_t at = pos_;
    p.name = Name();
    if (SameName(p.name, "SQLSTATE") || SameName(p.name, "SQLCODE"))
      SyntaxError("the special parameter " + Upper(p.name) + " is not supported", toks_[at].begin);
    if (def.FindParam(p.name) >= 0) SyntaxError("parameter '" + p.name + "' declared twice", toks_[at].begin);
    p.type = TypeText();
    if (Accept("DEFAULT") || AcceptOp("=")) {
      p.defaultExpr = Span({}, true);
      p.hasDefault = true;
    }
    def.params.push_back(std::move(p));
    if (AcceptOp(",")) continue;
    ExpectOp(")");
    return;
  }
}

ProcDef Parser::ParseDdl() {
  ProcDef def;
  def.text = std::string(src_);
  if (Accept("CREATE")) {
    def.verb = ProcDef::Verb::Create;
    if (Accept("OR")) {
      Expect("REPLACE");
      def.orReplace = true;
    }
    if (IsWord("TEMPORARY")) Fail("TEMPORARY procedures are not supported");
  } else if (Accept("ALTER")) {
    def.verb = ProcDef::Verb::Alter;
  } else if (Accept("DROP")) {
    def.verb = ProcDef::Verb::Drop;
  } else {
    Fail("CREATE, ALTER or DROP expected");
  }
  if (Accept("FUNCTION")) def.isFunction = true;
  else if (!Accept("PROCEDURE")) Fail("PROCEDURE or FUNCTION expected");

  if (def.verb == ProcDef::Verb::Drop) {
    if (IsWord("IF") && IsWord("EXISTS", 1)) Fail("DROP ... IF EXISTS is not supported");
    QualifiedName(def.owner, def.name);
    AcceptOp(";");
    if (!AtEnd()) Fail("end of statement expected");
    return def;
  }
  QualifiedName(def.owner, def.name);
  ParseParams(def);
  for (;;) {
    if (Accept("RESULT")) {
      if (def.isFunction) Fail("RESULT is not allowed for a function");
      ExpectOp("(");
      for (;;) {
        ProcColumn c;
        c.name = Name();
        c.type = TypeText();
        def.result.push_back(std::move(c));
        if (AcceptOp(",")) continue;
        ExpectOp(")");
        break;
      }
    } else if (Accept("RETURNS")) {
      if (!def.isFunction) Fail("RETURNS is only allowed for a function");
      def.returns = TypeText();
    } else if (IsWord("NO") && IsWord("RESULT", 1)) {
      pos_ += 2;
      Expect("SET");
    } else if (Accept("SQL")) {
      Expect("SECURITY");
      if (!Accept("INVOKER")) Expect("DEFINER");
    } else if (IsAnyWord({"DETERMINISTIC"})) {
      ++pos_;
    } else if (IsWord("NOT") && IsWord("DETERMINISTIC", 1)) {
      pos_ += 2;
    } else if (IsWord("ON") && IsWord("EXCEPTION", 1)) {
      Fail("ON EXCEPTION RESUME is not supported");
    } else if (IsWord("AS")) {
      Fail("Transact-SQL procedure bodies are not supported");
    } else if (IsWord("EXTERNAL") || IsWord("URL")) {
      Fail("external procedures are not supported");
    } else {
      break;
    }
  }
  if (def.isFunction && def.returns.empty()) Fail("RETURNS expected");
  if (!IsWord("BEGIN")) Fail("BEGIN expected");
  size_t start = pos_;
  ++pos_;
  def.body = Block({}, start);
  def.sqlCache = MakeProcSqlCache();
  AcceptOp(";");
  if (!AtEnd()) Fail("end of statement expected");
  def.mayReturnResultSets = sawResultSet_;
  CheckScopes(*def.body);
  return def;
}

void Parser::EndOfStatement() {
  if (AcceptOp(";")) return;
  // The last statement of a list may omit its ';'.
  if (AtEnd() || IsAnyWord({"END", "ELSE", "ELSEIF", "WHEN", "EXCEPTION"})) return;
  Fail("';' expected");
}

ProcBody Parser::StatementList(Words stops) {
  ProcBody out;
  for (;;) {
    while (AcceptOp(";")) {}
    if (AtEnd()) Fail("END expected");
    for (const char* w : stops) if (IsWord(w)) return out;
    out.push_back(Statement());
  }
}

std::unique_ptr<ProcStmt> Parser::Block(std::string label, size_t start) {
  // BEGIN has been consumed.
  auto b = Make(ProcStmt::Kind::Block, start);
  b->label = std::move(label);
  Accept("ATOMIC");
  b->body = StatementList({"END", "EXCEPTION"});
  if (Accept("EXCEPTION")) {
    while (Accept("WHEN")) {
      ProcHandler h;
      if (!Accept("OTHERS")) {
        for (;;) {
          h.names.push_back(Name());
          if (!AcceptOp(",")) break;
        }
      }
      Expect("THEN");
      h.body = StatementList({"WHEN", "END"});
      b->handlers.push_back(std::move(h));
    }
    if (b->handlers.empty()) Fail("WHEN expected");
  }
  Expect("END");
  if (!b->label.empty() && Peek().kind == Token::Kind::Ident && SameName(Peek().text, b->label)) ++pos_;
  return b;
}

std::unique_ptr<ProcStmt> Parser::Statement() {
  size_t start = pos_;
  // Every statement that holds statements parses its body through here, so this bounds the
  // recursion of the parser, of the scope check and of the interpreter over the tree.
  std::optional<NestingGuard> nested;
  if (Peek().kind == Token::Kind::Ident &&
      (IsAnyWord({"BEGIN", "IF", "CASE", "WHILE", "LOOP", "FOR"}) || IsOp(":", 1)))
    nested.emplace(depth_, kMaxProcNesting, Peek().text, Peek().begin);
  std::string label;
  // label: BEGIN / WHILE / LOOP / FOR
  if ((Peek().kind == Token::Kind::Ident) && IsOp(":", 1) &&
      IsAnyWord({"BEGIN", "WHILE", "LOOP", "FOR"}, 2)) {
    label = Peek().text;
    pos_ += 2;
  } else if (Peek().kind == Token::Kind::Ident && Peek(1).kind == Token::Kind::Param &&
             Peek(1).text.size() > 1 && Peek(1).text[0] == ':' &&
             (Upper(Peek(1).text.substr(1)) == "BEGIN" || Upper(Peek(1).text.substr(1)) == "LOOP")) {
    Fail("a blank is needed after the label's ':'");
  }
  const Token& t = Peek();
  if (t.kind != Token::Kind::Ident) Fail("statement expected");
  const std::string w = t.upper;
  if (w == "BEGIN") { ++pos_; auto s = Block(label, start); EndOfStatement(); return s; }
  if (w == "WHILE" || w == "LOOP") return Loop(label, start);
  if (w == "FOR") return For(label, start);
  if (!label.empty()) Fail("BEGIN, WHILE, LOOP or FOR expected after a label");
  if (w == "DECLARE") return Declare(start);
  if (w == "SET") {
    ++pos_;
    if (IsWord("OPTION") || IsWord("TEMPORARY")) Fail("SET OPTION is not supported in a procedure");
    auto s = Make(ProcStmt::Kind::Set, start);
    s->name = Name();
    ExpectOp("=");
    s->expr = Span({"END", "ELSE", "ELSEIF", "WHEN", "EXCEPTION"});
    EndOfStatement();
    return s;
  }
  if (w == "IF") return If(start);
  if (w == "CASE") return Case(start);
  if (w == "LEAVE" || w == "ITERATE") {
    ++pos_;
    auto s = Make(w == "LEAVE" ? ProcStmt::Kind::Leave : ProcStmt::Kind::Iterate, start);
    s->label = Name();
    EndOfStatement();
    return s;
  }
  if (w == "RETURN") {
    ++pos_;
    auto s = Make(ProcStmt::Kind::Return, start);
    s->expr = Span({"END", "ELSE", "ELSEIF", "WHEN", "EXCEPTION"}, false, false);
    EndOfStatement();
    return s;
  }
  if (w == "CALL") return CallStmt(start);
  if (w == "SELECT" || w == "WITH") return Select(start);
  if (w == "INSERT" || w == "UPDATE" || w == "DELETE" || w == "COMMIT" || w == "ROLLBACK") {
    auto s = Make(ProcStmt::Kind::Sql, start);
    s->text = Span({"END", "ELSE", "ELSEIF", "WHEN", "EXCEPTION"});
    EndOfStatement();
    return s;
  }
  if (w == "CREATE" || w == "DROP") {
    if (!IsAnyWord({"TABLE", "VIEW", "INDEX", "UNIQUE"}, 1))
      Fail(w + " " + (Peek(1).kind == Token::Kind::Ident ? Peek(1).upper : std::string()) +
           " is not supported in a procedure");
    auto s = Make(ProcStmt::Kind::Sql, start);
    s->text = Span({"END", "ELSE", "ELSEIF", "WHEN", "EXCEPTION"});
    EndOfStatement();
    return s;
  }
  if (w == "MESSAGE" || w == "PRINT") {
    if (w == "PRINT") Fail("PRINT is not supported (use MESSAGE)");
    return Message(start);
  }
  if (w == "WAITFOR") {
    ++pos_;
    if (!Accept("DELAY")) Fail("WAITFOR " + (Peek().kind == Token::Kind::Ident ? Peek().upper : std::string()) + " is not supported (WAITFOR DELAY is)");
    auto s = Make(ProcStmt::Kind::WaitFor, start);
    if (Peek().kind != Token::Kind::String) Fail("delay string expected");
    s->text = Peek().text;
    ++pos_;
    if (IsWord("CHECK") || IsWord("AFTER")) Fail("WAITFOR options are not supported");
    EndOfStatement();
    return s;
  }
  if (w == "SIGNAL" || w == "RESIGNAL") {
    ++pos_;
    auto s = Make(w == "SIGNAL" ? ProcStmt::Kind::Signal : ProcStmt::Kind::Resignal, start);
    if (w == "SIGNAL" || Peek().kind == Token::Kind::Ident) {
      if (!(w == "RESIGNAL" && IsAnyWord({"END", "ELSE", "ELSEIF", "WHEN"}))) s->name = Name();
    }
    EndOfStatement();
    return s;
  }
  if (w == "RAISERROR") return RaisError(start);
  Fail(w + " statements are not supported in a procedure");
}

std::unique_ptr<ProcStmt> Parser::Declare(size_t start) {
  ++pos_;
  std::vector<std::string> names;
  names.push_back(Name());
  while (AcceptOp(",")) names.push_back(Name());
  if (IsWord("EXCEPTION")) {
    ++pos_;
    if (names.size() != 1) Fail("one exception name expected");
    auto s = Make(ProcStmt::Kind::DeclareExc, start);
    s->name = names[0];
    Expect("FOR");
    Expect("SQLSTATE");
    Accept("VALUE");
    if (Peek().kind != Token::Kind::String) Fail("SQLSTATE string expected");
    std::string lit = Peek().text;
    s->text = lit.substr(1, lit.size() - 2);
    if (s->text.size() != 5) Fail("SQLSTATE must have five characters");
    ++pos_;
    EndOfStatement();
    return s;
  }
  if (IsAnyWord({"CURSOR", "SCROLL", "NO", "DYNAMIC", "INSENSITIVE", "SENSITIVE", "UNIQUE"}))
    Fail("DECLARE CURSOR is not supported (use FOR ... CURSOR FOR ... DO)");
  if (IsWord("LOCAL") || IsWord("TEMPORARY")) Fail("DECLARE LOCAL TEMPORARY TABLE is not supported");
  auto s = Make(ProcStmt::Kind::DeclareVar, start);
  s->names = std::move(names);
  s->type = TypeText();
  if (Accept("DEFAULT") || AcceptOp("=")) s->expr = Span({"END", "ELSE", "ELSEIF", "WHEN", "EXCEPTION"});
  EndOfStatement();
  return s;
}

std::unique_ptr<ProcStmt> Parser::If(size_t start) {
  ++pos_;
  auto s = Make(ProcStmt::Kind::If, start);
  for (;;) {
    ProcBranch b;
    b.cond = Span({"THEN"});
    Expect("THEN");
    b.body = StatementList({"ELSEIF", "ELSE", "END"});
    s->branches.push_back(std::move(b));
    if (Accept("ELSEIF")) continue;
    if (IsWord("ELSE") && IsWord("IF", 1)) {
      pos_ += 2;
      continue;
    }
    break;
  }
  if (Accept("ELSE")) {
    s->hasElse = true;
    s->elseBody = StatementList({"END"});
  }
  Expect("END");
  Expect("IF");
  EndOfStatement();
  return s;
}

std::unique_ptr<ProcStmt> Parser::Case(size_t start) {
  ++pos_;
  auto s = Make(ProcStmt::Kind::Case, start);
  if (!IsWord("WHEN")) s->expr = Span({"WHEN"});
  while (Accept("WHEN")) {
    ProcBranch b;
    b.cond = Span({"THEN"});
    Expect("THEN");
    b.body = StatementList({"WHEN", "ELSE", "END"});
    s->branches.push_back(std::move(b));
  }
  if (s->branches.empty()) Fail("WHEN expected");
  if (Accept("ELSE")) {
    s->hasElse = true;
    s->elseBody = StatementList({"END"});
  }
  Expect("END");
  Expect("CASE");
  EndOfStatement();
  return s;
}

std::unique_ptr<ProcStmt> Parser::Loop(std::string label, size_t start) {
  auto s = Make(ProcStmt::Kind::While, start);
  s->label = std::move(label);
  if (Accept("WHILE")) {
    s->expr = Span({"LOOP"});
  }
  Expect("LOOP");
  s->body = StatementList({"END"});
  Expect("END");
  Expect("LOOP");
  if (!s->label.empty() && Peek().kind == Token::Kind::Ident && SameName(Peek().text, s->label)) ++pos_;
  EndOfStatement();
  return s;
}

std::unique_ptr<ProcStmt> Parser::For(std::string label, size_t start) {
  ++pos_;
  auto s = Make(ProcStmt::Kind::For, start);
  s->label = std::move(label);
  s->name = Name();
  Expect("AS");
  Name();  // the cursor's name: nothing refers to it
  Accept("NO");
  Accept("SCROLL");
  Expect("CURSOR");
  Expect("FOR");
  if (!IsWord("SELECT") && !IsWord("WITH")) Fail("SELECT expected");
  s->text = Span({"DO"});
  Expect("DO");
  s->body = StatementList({"END"});
  Expect("END");
  Expect("FOR");
  if (!s->label.empty() && Peek().kind == Token::Kind::Ident && SameName(Peek().text, s->label)) ++pos_;
  EndOfStatement();
  return s;
}

std::vector<ProcArg> Parser::CallArgs() {
  std::vector<ProcArg> args;
  if (!AcceptOp("(")) return args;
  if (AcceptOp(")")) return args;
  for (;;) {
    ProcArg a;
    if ((Peek().kind == Token::Kind::Ident || Peek().kind == Token::Kind::QIdent) && IsOp("=", 1)) {
      a.name = Peek().text;
      pos_ += 2;
    }
    a.expr = Span({}, true);
    args.push_back(std::move(a));
    if (AcceptOp(",")) continue;
    ExpectOp(")");
    return args;
  }
}

std::unique_ptr<ProcStmt> Parser::CallStmt(size_t start) {
  ++pos_;
  auto s = Make(ProcStmt::Kind::Call, start);
  std::string owner, name;
  QualifiedName(owner, name);
  s->name = owner.empty() ? name : owner + "." + name;
  s->args = CallArgs();
  sawResultSet_ = true;  // the callee may return result sets through this procedure
  EndOfStatement();
  return s;
}

std::unique_ptr<ProcStmt> Parser::Select(size_t start) {
  // Find a top-level INTO: SELECT list INTO v1, v2 FROM ...
  size_t from = pos_;
  std::string whole = Span({"END", "ELSE", "ELSEIF", "WHEN", "EXCEPTION"});
  size_t to = pos_;
  int paren = 0;
  size_t intoAt = 0;
  for (size_t k = from; k < to; ++k) {
    const Token& t = toks_[k];
    if (t.kind == Token::Kind::Op && t.text == "(") ++paren;
    else if (t.kind == Token::Kind::Op && t.text == ")") --paren;
    else if (paren == 0 && IsWord(t, "INTO")) { intoAt = k; break; }
  }
  if (intoAt == 0) {
    auto s = Make(ProcStmt::Kind::Query, start);
    s->text = whole;
    sawResultSet_ = true;
    EndOfStatement();
    return s;
  }
  auto s = Make(ProcStmt::Kind::SelectInto, start);
  size_t k = intoAt + 1;
  for (;;) {
    bool keyword = toks_[k].kind == Token::Kind::Ident &&
                   (toks_[k].upper == "FROM" || toks_[k].upper == "WHERE" || toks_[k].upper == "GROUP" ||
                    toks_[k].upper == "ORDER" || toks_[k].upper == "HAVING" || toks_[k].upper == "UNION");
    if (k >= to || keyword || (toks_[k].kind != Token::Kind::Ident && toks_[k].kind != Token::Kind::QIdent)) {
      pos_ = k;
      Fail("variable expected after INTO");
    }
    s->targets.push_back(toks_[k].text);
    ++k;
    if (k < to && toks_[k].kind == Token::Kind::Op && toks_[k].text == ",") { ++k; continue; }
    break;
  }
  std::string head = Text(from, intoAt);
  std::string tail = Text(k, to);
  s->text = tail.empty() ? head : head + " " + tail;
  EndOfStatement();
  return s;
}

std::unique_ptr<ProcStmt> Parser::Message(size_t start) {
  ++pos_;
  auto s = Make(ProcStmt::Kind::Message, start);
  Words stops = {"TYPE", "TO", "FOR", "DEBUG", "END", "ELSE", "ELSEIF", "WHEN", "EXCEPTION"};
  s->exprs.push_back(Span(stops, true));
  while (AcceptOp(",")) s->exprs.push_back(Span(stops, true));
  if (Accept("TYPE")) {
    if (Accept("INFO")) s->msgType = 0;
    else if (Accept("WARNING")) s->msgType = 1;
    else if (Accept("ACTION")) s->msgType = 2;
    else if (Accept("STATUS")) s->msgType = 3;
    else Fail("INFO, WARNING, ACTION or STATUS expected");
  }
  if (IsWord("FOR") || IsWord("DEBUG")) Fail("MESSAGE ... " + Peek().upper + " is not supported");
  if (Accept("TO")) {
    if (Accept("CLIENT")) s->toClient = true;
    else if (!Accept("CONSOLE") && !Accept("LOG")) Fail("CLIENT, CONSOLE or LOG expected");
  }
  EndOfStatement();
  return s;
}

std::unique_ptr<ProcStmt> Parser::RaisError(size_t start) {
  ++pos_;
  auto s = Make(ProcStmt::Kind::RaisError, start);
  if (IsOp("(")) Fail("RAISERROR ( ... ) is not supported: write RAISERROR number 'format', args");
  const Token& t = Peek();
  if (t.kind != Token::Kind::Number && t.kind != Token::Kind::Ident) Fail("error number expected");
  s->expr = t.text;
  ++pos_;
  if (Peek().kind == Token::Kind::String) {
    s->text = Peek().text;
    ++pos_;
  }
  while (AcceptOp(",")) s->exprs.push_back(Span({"END", "ELSE", "ELSEIF", "WHEN", "EXCEPTION"}, true));
  EndOfStatement();
  return s;
}

ProcCallText Parser::ParseCall() {
  ProcCallText c;
  if (Peek().kind == Token::Kind::Param && IsOp("=", 1)) {
    c.target = Peek().text;
    pos_ += 2;
  }
  Expect("CALL");
  QualifiedName(c.owner, c.name);
  c.args = CallArgs();
  AcceptOp(";");
  if (!AtEnd()) Fail("end of statement expected");
  return c;
}

// Checks what the grammar alone cannot: LEAVE/ITERATE name an enclosing label, SIGNAL and
// exception handlers name an exception declared in an enclosing block. Run at CREATE, so these
// mistakes never surface at run time.
class ScopeCheck {
 public:
  void Body(const ProcBody& body) {
    for (const auto& s : body) Stmt(*s);
  }
  void Stmt(const ProcStmt& s) {
    using K = ProcStmt::Kind;
    switch (s.kind) {
      case K::Block: {
        labels_.push_back(s.label);
        size_t excMark = exceptions_.size();
        Body(s.body);
        for (const ProcHandler& h : s.handlers) {
          for (const std::string& n : h.names) Declared(n, s.offset);
          handlerDepth_++;
          Body(h.body);
          handlerDepth_--;
        }
        exceptions_.resize(excMark);
        labels_.pop_back();
        break;
      }
      case K::DeclareExc: exceptions_.push_back(s.name); break;
      case K::While:
      case K::For:
        labels_.push_back(s.label);
        Body(s.body);
        labels_.pop_back();
        break;
      case K::If:
      case K::Case:
        for (const ProcBranch& b : s.branches) Body(b.body);
        Body(s.elseBody);
        break;
      case K::Leave:
      case K::Iterate: {
        bool found = false;
        for (const std::string& l : labels_) found = found || (!l.empty() && SameName(l, s.label));
        if (!found) SyntaxError("label '" + s.label + "' not found", size_t(s.offset));
        break;
      }
      case K::Signal: Declared(s.name, s.offset); break;
      case K::Resignal:
        if (!s.name.empty()) Declared(s.name, s.offset);
        else if (handlerDepth_ == 0) SyntaxError("RESIGNAL outside an exception handler", size_t(s.offset));
        break;
      default: break;
    }
  }

 private:
  void Declared(const std::string& name, int offset) {
    for (const std::string& e : exceptions_)
      if (SameName(e, name)) return;
    SyntaxError("exception '" + name + "' is not declared", size_t(offset));
  }
  std::vector<std::string> labels_;
  std::vector<std::string> exceptions_;
  int handlerDepth_ = 0;
};

void CheckScopes(const ProcStmt& body) { ScopeCheck().Stmt(body); }

}  // namespace

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

int ProcDef::FindParam(std::string_view n) const {
  for (size_t i = 0; i < params.size(); ++i)
    if (SameName(params[i].name, n)) return static_cast<int>(i);
  return -1;
}

std::vector<ProcParmRow> ProcDef::CatalogRows() const {
  std::vector<ProcParmRow> rows;
  int id = 0;
  if (isFunction) rows.push_back({++id, 4, false, true, name, returns});
  for (const ProcParam& p : params)
    rows.push_back({++id, 0, p.mode != ParmMode::Out, p.mode != ParmMode::In, p.name, p.type});
  for (const ProcColumn& c : result) rows.push_back({++id, 1, false, true, c.name, c.type});
  return rows;
}

ProcDef ParseProcDdl(std::string_view text) { return Parser(text).ParseDdl(); }

bool IsProcDdl(std::string_view text) {
  std::vector<Token> t;
  try {
    t = Lex(text.substr(0, std::min<size_t>(text.size(), 200)));
  } catch (const SqlError&) {
    return false;
  }
  auto word = [&](size_t k) { return k < t.size() && t[k].kind == Token::Kind::Ident ? t[k].upper : std::string(); };
  size_t k = 0;
  std::string verb = word(k++);
  if (verb != "CREATE" && verb != "ALTER" && verb != "DROP") return false;
  if (verb == "CREATE" && word(k) == "OR" && word(k + 1) == "REPLACE") k += 2;
  std::string what = word(k);
  return what == "PROCEDURE" || what == "FUNCTION";
}

bool IsCallText(std::string_view text) {
  std::vector<Token> t;
  try {
    t = Lex(text.substr(0, std::min<size_t>(text.size(), 200)));
  } catch (const SqlError&) {
    return false;
  }
  if (!t.empty() && t[0].kind == Token::Kind::Ident && t[0].upper == "CALL") return true;
  return t.size() >= 3 && t[0].kind == Token::Kind::Param && t[1].kind == Token::Kind::Op && t[1].text == "=" &&
         t[2].kind == Token::Kind::Ident && t[2].upper == "CALL";
}

ProcCallText ParseCallText(std::string_view text) { return Parser(text).ParseCall(); }

}  // namespace dbl

namespace dbl {

int ReplaceIdentifier(std::string& sql, std::string_view name, std::string_view marker) {
  std::vector<Token> t = Lex(sql);
  std::vector<size_t> hits;
  // The column list of INSERT INTO name (...) names columns, never variables.
  size_t skipFrom = 0, skipTo = 0;
  for (size_t k = 0; k + 3 < t.size(); ++k) {
    if (t[k].kind == Token::Kind::Ident && t[k].upper == "INSERT") {
      size_t j = k + 1;
      if (t[j].kind == Token::Kind::Ident && t[j].upper == "INTO") ++j;
      ++j;  // table name
      while (j + 1 < t.size() && t[j].kind == Token::Kind::Op && t[j].text == ".") j += 2;
      if (j < t.size() && t[j].kind == Token::Kind::Op && t[j].text == "(") {
        size_t e = j;
        while (e < t.size() && !(t[e].kind == Token::Kind::Op && t[e].text == ")")) ++e;
        skipFrom = j;
        skipTo = e;
      }
      break;
    }
  }
  for (size_t k = 0; k + 1 < t.size(); ++k) {
    const Token& x = t[k];
    if (x.kind != Token::Kind::Ident && x.kind != Token::Kind::QIdent) continue;
    if (!SameName(x.text, name)) continue;
    if (k >= skipFrom && k < skipTo) continue;
    if (k > 0 && t[k - 1].kind == Token::Kind::Op && t[k - 1].text == ".") continue;
    if (k > 0 && t[k - 1].kind == Token::Kind::Ident && t[k - 1].upper == "AS") continue;
    const Token& next = t[k + 1];
    if (next.kind == Token::Kind::Op && (next.text == "(" || next.text == ".")) continue;
    hits.push_back(k);
  }
  for (auto it = hits.rbegin(); it != hits.rend(); ++it) {
    const Token& x = t[*it];
    sql.replace(x.begin, x.end - x.begin, marker);
  }
  return static_cast<int>(hits.size());
}

std::string PositionalMarkers(std::string_view sql, std::vector<std::string>& names) {
  names.clear();
  std::string out;
  size_t at = 0;
  for (const Token& t : Lex(sql)) {
    if (t.kind != Token::Kind::Param || t.text.size() < 2 || t.text[0] != ':') continue;
    out.append(sql.substr(at, t.begin - at));
    out += '?';
    names.push_back(t.text);
    at = t.end;
  }
  out.append(sql.substr(at));
  return out;
}

std::vector<std::string> AtSignNames(std::string_view sql) {
  std::vector<std::string> names;
  for (const Token& t : Lex(sql)) {
    if (t.kind != Token::Kind::Ident || t.text.size() < 2 || t.text[0] != '@') continue;
    bool seen = false;
    for (const std::string& n : names) seen = seen || SameName(n, t.text);
    if (!seen) names.push_back(t.text);
  }
  return names;
}

int CountMarkers(std::string_view sql) {
  int n = 0;
  for (const Token& t : Lex(sql))
    if (t.kind == Token::Kind::Param) ++n;
  return n;
}

std::vector<std::string> NamedMarkers(std::string_view sql) {
  std::vector<std::string> out;
  for (const Token& t : Lex(sql)) {
    if (t.kind != Token::Kind::Param || t.text.size() < 2 || t.text[0] != ':') continue;
    if (std::find(out.begin(), out.end(), t.text) == out.end()) out.push_back(t.text);
  }
  return out;
}

}  // namespace dbl
