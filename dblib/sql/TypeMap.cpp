// Type names -> DT_ codes and domains, and the type of an expression (TypeMap.h).
#include "dblib/sql/TypeMap.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>

#include "dblib/esql.h"
#include "dblib/sql/Dialect.h"

namespace dbl {
namespace {

constexpr int kLongLen = 32767;
// DESCRIBE lengths of the date/time strings: the longest formatted value (fractions to the
// microsecond).
constexpr int kDateLen = 10, kTimeLen = 15, kTimestampLen = 26;

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = char(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

TypeInfo Make(short sqltype, int sqllen, int domain, int width, int precision = 0, int scale = 0) {
  TypeInfo t;
  t.sqltype = sqltype;
  t.sqllen = sqllen;
  t.domainId = domain;
  t.width = width;
  t.precision = precision;
  t.scale = scale;
  return t;
}

TypeInfo Decimal(int p, int s, int domain) {
  p = std::clamp(p, 1, 127);
  s = std::clamp(s, 0, p);
  return Make(DT_DECIMAL, s * 256 + p, domain, p, p, s);
}

TypeInfo Chars(short sqltype, int n, int domain) {
  if (n <= 0) n = 1;
  if (n > kLongLen) return Make(DT_LONGVARCHAR, kLongLen, domain, n);
  return Make(sqltype, n, domain, n);
}

TypeInfo Bytes(int n, int domain) {
  if (n <= 0) n = 1;
  if (n > kLongLen) return Make(DT_LONGBINARY, kLongLen, domain, n);
  return Make(DT_BINARY, n, domain, n);
}

bool IsChar(const TypeInfo& t) {
  return t.sqltype == DT_FIXCHAR || t.sqltype == DT_VARCHAR || t.sqltype == DT_LONGVARCHAR || t.sqltype == DT_STRING;
}
bool IsInteger(const TypeInfo& t) {
  switch (t.sqltype) {
    case DT_INT:
    case DT_SMALLINT:
    case DT_TINYINT:
    case DT_BIGINT:
    case DT_UNSINT:
    case DT_UNSSMALLINT:
    case DT_UNSBIGINT:
    case DT_BIT: return true;
    default: return false;
  }
}

TypeInfo IntType() { return Make(DT_INT, 4, 2, 4); }
TypeInfo BigintType() { return Make(DT_BIGINT, 8, 20, 8); }
TypeInfo DoubleType() { return Make(DT_DOUBLE, 8, 5, 8); }
TypeInfo VarcharType(int n) { return Chars(DT_VARCHAR, n, 9); }

// Result type of a numeric operator over two operand types.
TypeInfo Arithmetic(const TypeInfo& a, const TypeInfo& b) {
  if (!a.Known() || !b.Known()) return a.Known() ? a : b;
  if (a.sqltype == DT_DOUBLE || b.sqltype == DT_DOUBLE || a.sqltype == DT_FLOAT || b.sqltype == DT_FLOAT)
    return DoubleType();
  if (a.sqltype == DT_DECIMAL || b.sqltype == DT_DECIMAL) {
    auto digits = [](const TypeInfo& t) {
      if (t.sqltype == DT_DECIMAL) return std::pair<int, int>(t.precision, t.scale);
      return std::pair<int, int>(t.sqltype == DT_BIGINT || t.sqltype == DT_UNSBIGINT ? 20 : 10, 0);
    };
    auto [pa, sa] = digits(a);
    auto [pb, sb] = digits(b);
    int s = std::max(sa, sb);
    int p = std::max(pa - sa, pb - sb) + s + 1;
    return Decimal(std::min(p, 127), s, 3);
  }
  if (IsInteger(a) && IsInteger(b)) {
    if (a.sqltype == DT_BIGINT || b.sqltype == DT_BIGINT || a.sqltype == DT_UNSBIGINT || b.sqltype == DT_UNSBIGINT ||
        a.sqltype == DT_UNSINT || b.sqltype == DT_UNSINT)
      return BigintType();
    return IntType();
  }
  if (IsChar(a) || IsChar(b)) return DoubleType();  // a string in arithmetic converts to a number
  return a;
}

// One type for several candidates (CASE branches, COALESCE arguments): character types widen
// to the longest, numbers combine as in arithmetic, the first known type wins otherwise.
TypeInfo Unify(const TypeInfo& a, const TypeInfo& b) {
  if (!a.Known()) return b;
  if (!b.Known()) return a;
  if (a.sqltype == b.sqltype && a.sqltype != DT_DECIMAL) {
    TypeInfo r = a;
    r.sqllen = std::max(a.sqllen, b.sqllen);
    r.width = std::max(a.width, b.width);
    return r;
  }
  if (IsChar(a) && IsChar(b)) {
    if (a.sqltype == DT_LONGVARCHAR || b.sqltype == DT_LONGVARCHAR) return LongVarcharType();
    return VarcharType(std::max(a.sqllen, b.sqllen));
  }
  bool na = IsInteger(a) || a.sqltype == DT_DECIMAL || a.sqltype == DT_DOUBLE || a.sqltype == DT_FLOAT;
  bool nb = IsInteger(b) || b.sqltype == DT_DECIMAL || b.sqltype == DT_DOUBLE || b.sqltype == DT_FLOAT;
  if (na && nb) return Arithmetic(a, b);
  return LongVarcharType();  // mixed families: text holds every value
}

// ---- expression inference over tokens ----
class Inference {
 public:
  Inference(const std::vector<Token>& t, ColumnResolver& r) : t_(t), r_(r) {}

  TypeInfo Range(size_t b, size_t e) {
    if (b >= e) return {};
    // strip parentheses around the whole range
    while (t_[b].kind == Token::Open && Close(b) == e - 1) {
      ++b;
      --e;
      if (b >= e) return {};
    }
    // lowest precedence first: OR/AND/NOT and comparisons give a truth value
    bool concat = false, compare = false;
    std::vector<size_t> additive, multiplicative;
    int depth = 0;
    for (size_t k = b; k < e; ++k) {
      const Token& x = t_[k];
      if (x.kind == Token::Open) ++depth;
      else if (x.kind == Token::Close) --depth;
      if (depth != 0) continue;
      if (x.Is("case")) {
        k = CaseEnd(k, e);
        continue;
      }
      if (x.Is("or") || x.Is("and") || x.Is("not") || x.Is("is") || x.Is("like") || x.Is("between") ||
          x.Is("in") || x.Is("exists") || x.Is("glob") || x.Is("isnull") || x.Is("notnull"))
        compare = true;
      if (x.kind == Token::Op) {
        std::string_view o = x.text;
        if (o == "||") concat = true;
        else if (o == "=" || o == "==" || o == "<" || o == ">" || o == "<=" || o == ">=" || o == "<>" || o == "!=")
          compare = true;
        else if ((o == "+" || o == "-") && k > b && !IsOperatorBefore(k)) additive.push_back(k);
        else if (o == "*" || o == "/" || o == "%") multiplicative.push_back(k);
      }
    }
    if (compare) return IntType();
    if (concat) return LongVarcharType();
    if (!additive.empty() || !multiplicative.empty()) {
      std::vector<size_t>& ops = additive.empty() ? multiplicative : additive;
      TypeInfo acc = Range(b, ops[0]);
      for (size_t i = 0; i < ops.size(); ++i) {
        size_t next = i + 1 < ops.size() ? ops[i + 1] : e;
        acc = Arithmetic(acc, Range(ops[i] + 1, next));
      }
      return acc;
    }
    // unary sign
    if (t_[b].kind == Token::Op && (t_[b].text == "-" || t_[b].text == "+")) return Range(b + 1, e);
    return Primary(b, e);
  }

 private:
  size_t Close(size_t open) const {
    int depth = 0;
    for (size_t k = open; k < t_.size(); ++k) {
      if (t_[k].kind == Token::Open) ++depth;
      else if (t_[k].kind == Token::Close && --depth == 0) return k;
    }
    return t_.size();
  }
  bool IsOperatorBefore(size_t k) const {
    const Token& p = t_[k - 1];
    return p.kind == Token::Op || p.kind == Token::Comma || p.kind == Token::Open ||
           (p.kind == Token::Word && (p.Is("then") || p.Is("else") || p.Is("when") || p.Is("and") || p.Is("or")));
  }
  size_t CaseEnd(size_t k, size_t e) const {
    int nest = 0;
    for (size_t i = k; i < e; ++i) {
      if (t_[i].Is("case")) ++nest;
      else if (t_[i].Is("end") && --nest == 0) return i;
    }
    return e - 1;
  }

  TypeInfo Case(size_t b, size_t e) {
    // results: after THEN and ELSE at this CASE's level, up to the next WHEN/ELSE/END
    TypeInfo result;
    int nest = 0, depth = 0;
    size_t start = 0;
    bool inResult = false;
    for (size_t k = b; k < e; ++k) {
      const Token& x = t_[k];
      if (x.kind == Token::Open) ++depth;
      else if (x.kind == Token::Close) --depth;
      if (depth != 0) continue;
      if (x.Is("case")) {
        if (nest++ > 0) continue;
        continue;
      }
      bool levelEnd = x.Is("end") && nest == 1;
      if (x.Is("end")) --nest;
      if (nest != 1 && !levelEnd) continue;
      if (x.Is("when") || x.Is("else") || levelEnd) {
        if (inResult) result = Unify(result, Range(start, k));
        inResult = x.Is("else");
        start = k + 1;
      } else if (x.Is("then")) {
        inResult = true;
        start = k + 1;
      }
    }
    return result.Known() ? result : TypeInfo{};
  }

  std::vector<std::pair<size_t, size_t>> Args(size_t open, size_t close) const {
    std::vector<std::pair<size_t, size_t>> args;
    int depth = 0;
    size_t start = open + 1;
    for (size_t k = open + 1; k < close; ++k) {
      if (t_[k].kind == Token::Open) ++depth;
      else if (t_[k].kind == Token::Close) --depth;
      else if (depth == 0 && t_[k].kind == Token::Comma) {
        args.push_back({start, k});
        start = k + 1;
      }
    }
    if (close > start) args.push_back({start, close});
    return args;
  }

  TypeInfo Function(std::string name, size_t open, size_t close) {
    auto args = Args(open, close);
    auto arg = [&](size_t i) { return i < args.size() ? Range(args[i].first, args[i].second) : TypeInfo{}; };
    if (name == "cast" || name == "convert") {
      // CAST(expr AS type)
      for (size_t k = open + 1; k < close; ++k)
        if (t_[k].Is("as")) {
          size_t b = k + 1;
          std::string decl(t_[b].text.data(), t_[close - 1].pos + t_[close - 1].text.size() - t_[b].pos);
          TypeInfo ti = MapDeclaredType(decl);
          return ti.Known() ? ti : LongVarcharType();
        }
      return {};
    }
    if (name == "count") return IntType();
    if (name == "avg") return DoubleType();
    if (name == "sum" || name == "total") {
      TypeInfo a = arg(0);
      if (IsInteger(a)) return BigintType();
      if (a.sqltype == DT_DECIMAL) return Decimal(std::min(a.precision + 10, 127), a.scale, 3);
      return DoubleType();
    }
    if (name == "min" || name == "max") {
      TypeInfo r;
      for (size_t i = 0; i < args.size(); ++i) r = Unify(r, arg(i));
      return r;
    }
    if (name == "coalesce" || name == "ifnull" || name == "isnull" || name == "nullif") {
      TypeInfo r;
      size_t n = name == "nullif" ? 1 : args.size();
      for (size_t i = 0; i < n; ++i) r = Unify(r, arg(i));
      return r;
    }
    if (name == "upper" || name == "lower" || name == "ucase" || name == "lcase" || name == "trim" || name == "ltrim" ||
        name == "rtrim" || name == "substr" || name == "substring" || name == "left" || name == "right") {
      TypeInfo a = arg(0);
      if (a.sqltype == DT_FIXCHAR || a.sqltype == DT_VARCHAR) return VarcharType(a.sqllen);
      if (a.sqltype == DT_DATE || a.sqltype == DT_TIME || a.sqltype == DT_TIMESTAMP) return VarcharType(a.sqllen);
      return LongVarcharType();
    }
    if (name == "length" || name == "char_length" || name == "octet_length" || name == "locate" || name == "instr" ||
        name == "charindex" || name == "sign" || name == "unicode")
      return IntType();
    if (name == "abs" || name == "round" || name == "mod" || name == "floor" || name == "ceiling" || name == "ceil" ||
        name == "truncnum") {
      TypeInfo a = arg(0);
      return a.Known() ? a : DoubleType();
    }
    if (name == "sqrt" || name == "exp" || name == "log" || name == "power" || name == "pi" || name == "random" ||
        name == "sin" || name == "cos" || name == "tan")
      return name == "random" ? BigintType() : DoubleType();
    if (name == "date") return MapDeclaredType("date");
    if (name == "time") return MapDeclaredType("time");
    if (name == "datetime" || name == "now" || name == "getdate" || name == "julianday") {
      return name == "julianday" ? DoubleType() : MapDeclaredType("timestamp");
    }
    if (name == "strftime") {
      // the library's local time stamp is strftime('%Y-%m-%d %H:%M:%f', ...)
      if (!args.empty() && t_[args[0].first].kind == Token::String &&
          t_[args[0].first].text == "'%Y-%m-%d %H:%M:%f'")
        return MapDeclaredType("timestamp");
      return LongVarcharType();
    }
    if (name == "zyl_getvar" && !args.empty() && t_[args[0].first].kind == Token::String) {
      std::string_view q = t_[args[0].first].text;
      return r_.Variable(q.substr(1, q.size() >= 2 ? q.size() - 2 : 0));
    }
    if (name == "typeof") return VarcharType(7);
    if (name == "hex" || name == "quote" || name == "replace" || name == "printf" || name == "format" ||
        name == "string" || name == "group_concat" || name == "list")
      return LongVarcharType();
    if (name == "randomblob" || name == "zeroblob") return MapDeclaredType("long binary");
    return {};
  }

  TypeInfo Primary(size_t b, size_t e) {
    const Token& f = t_[b];
    if (f.Is("case")) return Case(b, e);
    if (e - b == 1) {
      switch (f.kind) {
        case Token::Number: {
          std::string s(f.text);
          if (s.find_first_of(".eE") == std::string::npos || s.rfind("0x", 0) == 0 || s.rfind("0X", 0) == 0) {
            long long v = std::strtoll(s.c_str(), nullptr, 0);
            bool big = s.size() > 10 || v > INT_MAX || v < INT_MIN;
            return big ? BigintType() : IntType();
          }
          if (s.find_first_of("eE") != std::string::npos) return DoubleType();
          size_t dot = s.find('.');
          int intDigits = int(dot), fracDigits = int(s.size() - dot - 1);
          return Decimal(std::max(intDigits + fracDigits, 1), fracDigits, 3);
        }
        case Token::String: {
          // length of the value: quotes off, doubled quotes count once
          int n = 0;
          for (size_t i = 1; i + 1 < f.text.size(); ++i, ++n)
            if (f.text[i] == '\'' && i + 2 < f.text.size() && f.text[i + 1] == '\'') ++i;
          return VarcharType(std::max(n, 1));
        }
        case Token::Word:
        case Token::QuotedId:
          if (f.Is("null")) return {};
          if (f.Is("true") || f.Is("false")) return IntType();
          return r_.Column("", f.Ident());
        default: return {};
      }
    }
    if (e - b == 2 && f.kind == Token::Word && SameIdent(f.text, "x") && t_[b + 1].kind == Token::String) {
      // x'..' (a blob literal, tokenised as word + string): binary of its byte count
      const int digits = static_cast<int>(t_[b + 1].text.size()) - 2;
      return Bytes(std::max(digits / 2, 1), 11);
    }
    if (e - b == 3 && f.IsIdent() && t_[b + 1].kind == Token::Dot && t_[b + 2].IsIdent())
      return r_.Column(f.Ident(), t_[b + 2].Ident());
    if (e - b == 5 && f.IsIdent() && t_[b + 1].kind == Token::Dot && t_[b + 3].kind == Token::Dot)
      return r_.Column(t_[b + 2].Ident(), t_[b + 4].Ident());
    if (f.kind == Token::Word && b + 1 < e && t_[b + 1].kind == Token::Open && Close(b + 1) == e - 1)
      return Function(Lower(f.text), b + 1, e - 1);
    if (f.kind == Token::Open && Close(b) < e && t_[b + 1].Is("select")) return {};  // scalar subquery
    return {};
  }

  const std::vector<Token>& t_;
  ColumnResolver& r_;
};

}  // namespace

TypeInfo LongVarcharType() { return Make(DT_LONGVARCHAR, kLongLen, 10, kLongLen); }

TypeInfo MapDeclaredType(std::string_view declIn) {
  // words before '(' and up to two numbers inside
  std::string decl = Lower(declIn);
  std::vector<std::string> words;
  std::vector<long> nums;
  size_t i = 0;
  while (i < decl.size()) {
    unsigned char c = static_cast<unsigned char>(decl[i]);
    if (std::isspace(c)) {
      ++i;
    } else if (c == '(') {
      size_t e = decl.find(')', i);
      std::string inside = decl.substr(i + 1, e == std::string::npos ? std::string::npos : e - i - 1);
      size_t k = 0;
      while (k < inside.size()) {
        while (k < inside.size() && !std::isdigit(static_cast<unsigned char>(inside[k]))) ++k;
        if (k >= inside.size()) break;
        nums.push_back(std::strtol(inside.c_str() + k, nullptr, 10));
        while (k < inside.size() && std::isdigit(static_cast<unsigned char>(inside[k]))) ++k;
      }
      i = e == std::string::npos ? decl.size() : e + 1;
    } else if (std::isalnum(c) || c == '_' || c == '.') {
      size_t b = i;
      while (i < decl.size() && (std::isalnum(static_cast<unsigned char>(decl[i])) || decl[i] == '_' || decl[i] == '.')) ++i;
      words.push_back(decl.substr(b, i - b));
    } else {
      ++i;
    }
  }
  if (words.empty()) return {};
  // modifiers that do not change the type
  words.erase(std::remove_if(words.begin(), words.end(),
                             [](const std::string& w) { return w == "signed" || w == "national" || w == "precision"; }),
              words.end());
  if (words.empty()) return {};
  // the affinity word the dialect puts before a binary column type
  if (words.size() > 1 && words[0] == "blob") words.erase(words.begin());
  bool unsignedType = words[0] == "unsigned";
  if (unsignedType) words.erase(words.begin());
  std::string w0 = words.empty() ? "int" : words[0];
  std::string w1 = words.size() > 1 ? words[1] : "";
  int n = nums.empty() ? -1 : int(std::min<long>(nums[0], INT_MAX));
  int s = nums.size() > 1 ? int(std::min<long>(nums[1], INT_MAX)) : -1;

  if (w0 == "long") {
    if (w1 == "binary" || w1 == "varbinary") return Make(DT_LONGBINARY, kLongLen, 12, kLongLen);
    return LongVarcharType();  // long varchar, long nvarchar
  }
  if (w0 == "integer" || w0 == "int" || w0 == "int4" || w0 == "mediumint")
    return unsignedType ? Make(DT_UNSINT, 4, 21, 4) : IntType();
  if (w0 == "smallint" || w0 == "int2") return unsignedType ? Make(DT_UNSSMALLINT, 2, 22, 2) : Make(DT_SMALLINT, 2, 1, 2);
  if (w0 == "tinyint") return Make(DT_TINYINT, 1, 19, 1);
  if (w0 == "bigint" || w0 == "int8") return unsignedType ? Make(DT_UNSBIGINT, 8, 23, 8) : BigintType();
  if (unsignedType) return Make(DT_UNSINT, 4, 21, 4);
  if (w0 == "bit" || w0 == "boolean" || w0 == "bool") return Make(DT_BIT, 1, 24, 1);
  if (w0 == "double") return DoubleType();
  if (w0 == "float") return n > 24 ? DoubleType() : Make(DT_FLOAT, 4, 4, 4);
  if (w0 == "real") return Make(DT_FLOAT, 4, 4, 4);
  if (w0 == "decimal" || w0 == "dec") return Decimal(n < 0 ? 30 : n, s < 0 ? (n < 0 ? 6 : 0) : s, 27);
  if (w0 == "numeric" || w0 == "number") return Decimal(n < 0 ? 30 : n, s < 0 ? (n < 0 ? 6 : 0) : s, 3);
  if (w0 == "money") return Decimal(19, 4, 3);
  if (w0 == "smallmoney") return Decimal(10, 4, 3);
  if (w0 == "date") return Make(DT_DATE, kDateLen, 6, 4);
  if (w0 == "time") return Make(DT_TIME, kTimeLen, 14, 8);
  if (w0 == "timestamp" || w0 == "datetime" || w0 == "smalldatetime") return Make(DT_TIMESTAMP, kTimestampLen, 13, 8);
  bool varying = w1 == "varying";
  if (w0 == "char" || w0 == "character" || w0 == "nchar")
    return varying ? Chars(DT_VARCHAR, n < 0 ? 1 : n, 9) : Chars(DT_FIXCHAR, n < 0 ? 1 : n, 7);
  if (w0 == "varchar" || w0 == "nvarchar" || w0 == "varchar2") return Chars(DT_VARCHAR, n < 0 ? 1 : n, 9);
  if (w0 == "text" || w0 == "clob" || w0 == "ntext") return LongVarcharType();
  if (w0 == "binary") return varying ? Bytes(n < 0 ? 1 : n, 28) : Bytes(n < 0 ? 1 : n, 11);
  if (w0 == "varbinary") return Bytes(n < 0 ? 1 : n, 28);
  if (w0 == "blob" || w0 == "image") return Make(DT_LONGBINARY, kLongLen, 12, kLongLen);
  if (w0 == "uniqueidentifierstr" || w0 == "uniqueidentifier") return Make(DT_FIXCHAR, 36, 29, 36);
  if (w0 == "java.lang.object") return Make(DT_LONGBINARY, kLongLen, 25, kLongLen);
  return {};
}

const std::vector<DomainRow>& Domains() {
  static const std::vector<DomainRow> rows = {
      {1, "smallint", 5, 5},           {2, "integer", 4, 10},          {3, "numeric", 2, -1},
      {4, "float", 7, 7},              {5, "double", 8, 15},           {6, "date", 9, -1},
      {7, "char", 1, -1},              {8, "char", 1, -1},             {9, "varchar", 12, -1},
      {10, "long varchar", -1, -1},    {11, "binary", -2, -1},         {12, "long binary", -4, -1},
      {13, "timestamp", 11, -1},       {14, "time", 10, -1},           {19, "tinyint", -6, 3},
      {20, "bigint", -5, 20},          {21, "unsigned int", -9, 10},   {22, "unsigned smallint", -10, 5},
      {23, "unsigned bigint", -11, 20}, {24, "bit", -7, 1},            {25, "java.lang.Object", -4, -1},
      {26, "java serialization", -4, -1}, {27, "decimal", 3, -1},      {28, "varbinary", -3, -1},
      {29, "uniqueidentifierstr", 1, -1},
  };
  return rows;
}

const char* DomainName(int id) {
  for (const DomainRow& d : Domains())
    if (d.id == id) return d.name;
  return nullptr;
}

std::string DomainTypeText(int id, int width, int scale) {
  const char* name = DomainName(id);
  if (!name) return "long varchar";
  std::string n = name;
  switch (id) {
    case 3:
    case 27: return n + "(" + std::to_string(width) + "," + std::to_string(scale) + ")";
    case 7:
    case 8:
    case 9:
    case 11:
    case 28: return n + "(" + std::to_string(width) + ")";
    default: return n;
  }
}

TypeInfo InferExpressionType(std::string_view expression, ColumnResolver& resolver) {
  std::vector<Token> t = Tokenize(expression);
  // a trailing alias ("expr AS name" or "expr name") is not part of the expression
  size_t e = t.size();
  bool lastIsName = e >= 2 && t[e - 1].IsIdent() && !t[e - 1].Is("end") && !t[e - 1].Is("null");
  if (e >= 2 && t[e - 2].Is("as")) {
    e -= 2;
  } else if (lastIsName) {
    const Token& p = t[e - 2];
    bool afterOperand = p.kind == Token::Close || p.kind == Token::String || p.kind == Token::Number ||
                        p.Is("end") || (p.IsIdent() && !p.Is("not") && !p.Is("distinct"));
    if (afterOperand) e -= 1;
  }
  Inference inf(t, resolver);
  return inf.Range(0, e);
}

}  // namespace dbl
