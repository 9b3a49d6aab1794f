// The write checks of typed columns on SQLite (WriteChecks.h): the rewrite of INSERT and UPDATE
// texts and the zyl_fit function it calls.
#include "dblib/sqlite/WriteChecks.h"

#include <algorithm>

#include "dblib/sql/Dialect.h"
#include "dblib/sql/Errors.h"
#include "dblib/sqlite/SqliteCursor.h"
#include "dblib/sqlite/SqliteEngine.h"
#include "dblib/sqlite/SqliteErrors.h"

namespace dbl {
namespace {

struct TableColumn {
  std::string name;
  ColumnType type;
};

// The columns of a table in order with their types; empty when there is no such table. Read
// from a statement prepared and never run: preparing loads the schema without keeping a read
// transaction, whereas a query of the schema run inside the caller's transaction would pin its
// snapshot before the write, and the write then fails at once (-210) whenever another
// connection has committed in between.
std::vector<TableColumn> TableColumns(sqlite3* db, const std::string& table) {
  std::vector<TableColumn> out;
  std::string sql = "SELECT * FROM \"";
  for (char ch : table) {
    if (ch == '"') sql += '"';
    sql += ch;
  }
  sql += '"';
  sqlite3_stmt* st = nullptr;
  if (sq::prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &st, nullptr) != SQLITE_OK || !st) {
    sq::finalize(st);
    return out;
  }
  const int n = sq::column_count(st);
  out.reserve(size_t(n));
  for (int i = 0; i < n; ++i) {
    const char* name = sq::column_name(st, i);
    const char* type = sq::column_decltype(st, i);
    out.push_back({name ? name : "", ColumnTypeOf(std::string_view(type ? type : ""))});
  }
  sq::finalize(st);
  return out;
}

ColumnType TypeOfColumn(const std::vector<TableColumn>& cols, std::string_view name) {
  for (const TableColumn& c : cols)
    if (SameIdent(c.name, name)) return c.type;
  return {};
}

// ", sqltype, length, precision, scale)": the end of a zyl_fit call.
std::string FitArguments(const ColumnType& t) {
  return ", " + std::to_string(t.sqltype) + ", " + std::to_string(t.length) + ", " + std::to_string(t.precision) +
         ", " + std::to_string(t.scale) + ")";
}

size_t EndOf(const Token& k) { return k.pos + k.text.size(); }

class Rewriter {
 public:
  Rewriter(SqliteConnection& conn, const std::string& text, MarkerTypes* bare)
      : conn_(conn), text_(text), t_(Tokenize(text)), bare_(bare) {
    for (size_t k = 0; k < t_.size(); ++k)
      if (t_[k].kind == Token::Marker) markers_.push_back(k);
    if (bare_) bare_->clear();
  }

  std::string Run() {
    if (t_.empty()) return text_;
    if (t_[0].Is("insert") || t_[0].Is("replace")) Insert();
    else if (t_[0].Is("update")) Update();
    if (edits_.empty()) return text_;
    std::stable_sort(edits_.begin(), edits_.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::string out;
    out.reserve(text_.size() + edits_.size() * 24);
    size_t at = 0;
    for (const auto& [pos, insert] : edits_) {
      out.append(text_, at, pos - at);
      out += insert;
      at = pos;
    }
    out.append(text_, at, std::string::npos);
    return out;
  }

 private:
  size_t Size() const { return t_.size(); }
  bool Is(size_t i, const char* word) const { return i < Size() && t_[i].Is(word); }
  bool Kind(size_t i, Token::Kind k) const { return i < Size() && t_[i].kind == k; }

  size_t MatchClose(size_t open) const {
    int depth = 0;
    for (size_t k = open; k < Size(); ++k) {
      if (t_[k].kind == Token::Open) ++depth;
      else if (t_[k].kind == Token::Close && --depth == 0) return k;
    }
    return Size();
  }

  // [schema.]table at i; i moves past it. Empty when there is none.
  std::string TableAt(size_t& i) const {
    if (i >= Size() || !t_[i].IsIdent()) return {};
    std::string name = t_[i].Ident();
    ++i;
    if (Kind(i, Token::Dot) && i + 1 < Size() && t_[i + 1].IsIdent()) {
      name = t_[i + 1].Ident();
      i += 2;
    }
    return name;
  }

  // The value in tokens [b, e) goes to a column of type `type`.
  void Value(size_t b, size_t e, const ColumnType& type) {
    if (!type.Checked() || b >= e) return;
    if (e == b + 1 && t_[b].Is("null")) return;
    if (e == b + 1 && t_[b].kind == Token::Marker && bare_) {
      size_t ordinal = static_cast<size_t>(std::find(markers_.begin(), markers_.end(), b) - markers_.begin());
      bare_->resize(markers_.size());
      (*bare_)[ordinal] = type;
      return;
    }
    edits_.emplace_back(t_[b].pos, "zyl_fit(");
    edits_.emplace_back(EndOf(t_[e - 1]), FitArguments(type));
  }

  // INSERT [OR x] INTO [schema.]t [AS a] [(columns)] VALUES (...), ... | query | DEFAULT VALUES
  void Insert() {
    size_t i = 1;
    if (t_[0].Is("insert") && Is(i, "or")) i += 2;
    if (!Is(i, "into")) return;
    ++i;
    std::string table = TableAt(i);
    if (table.empty()) return;
    if (Is(i, "as")) i += 2;
    std::vector<TableColumn> cols = TableColumns(conn_.Handle(), table);
    if (cols.empty()) return;
    std::vector<ColumnType> targets;
    if (Kind(i, Token::Open)) {
      size_t close = MatchClose(i);
      for (size_t k = i + 1; k < close; ++k)
        if (t_[k].IsIdent()) targets.push_back(TypeOfColumn(cols, t_[k].Ident()));
      i = close + 1;
    } else {
      for (const TableColumn& c : cols) targets.push_back(c.type);
    }
    if (std::none_of(targets.begin(), targets.end(), [](const ColumnType& c) { return c.Checked(); })) return;
    if (Is(i, "values")) Rows(i + 1, targets);
    else if (Is(i, "select") || Is(i, "with") || Kind(i, Token::Open)) Query(i, targets);
  }

  // VALUES (a, b), (c, d) ... from token i.
  void Rows(size_t i, const std::vector<ColumnType>& targets) {
    while (Kind(i, Token::Open)) {
      size_t close = MatchClose(i);
      if (close >= Size()) return;
      size_t column = 0, start = i + 1;
      int depth = 0;
      for (size_t k = i + 1; k <= close; ++k) {
        if (t_[k].kind == Token::Open) ++depth;
        else if (t_[k].kind == Token::Close && k < close) --depth;
        if (k == close || (depth == 0 && t_[k].kind == Token::Comma)) {
          if (column < targets.size()) Value(start, k, targets[column]);
          ++column;
          start = k + 1;
        }
      }
      i = close + 1;
      if (!Kind(i, Token::Comma)) return;
      ++i;
    }
  }

  // INSERT ... <query>: its rows go through zyl_src, each checked column through zyl_fit.
  void Query(size_t i, const std::vector<ColumnType>& targets) {
    size_t end = i;
    int depth = 0;
    for (; end < Size(); ++end) {
      const Token& k = t_[end];
      if (k.kind == Token::Open) ++depth;
      else if (k.kind == Token::Close) --depth;
      else if (depth == 0 && (k.kind == Token::Semicolon || k.Is("returning") || (k.Is("on") && Is(end + 1, "conflict"))))
        break;
    }
    if (end == i) return;
    std::string names, select;
    for (size_t c = 0; c < targets.size(); ++c) {
      std::string name = "zyl_c" + std::to_string(c + 1);
      names += (c ? ", " : "") + name;
      select += (c ? ", " : "") + (targets[c].Checked() ? "zyl_fit(" + name + FitArguments(targets[c]) : name);
    }
    edits_.emplace_back(t_[i].pos, "WITH zyl_src(" + names + ") AS (");
    // The query may end in a line comment: the close goes on a line of its own.
    edits_.emplace_back(EndOf(t_[end - 1]), "\n) SELECT " + select + " FROM zyl_src");
  }

  // UPDATE [OR x] [schema.]t [[AS] a] [INDEXED BY i | NOT INDEXED] SET c = v, ... [FROM ...] ...
  void Update() {
    size_t i = 1;
    if (Is(i, "or")) i += 2;
    std::string table = TableAt(i);
    if (table.empty()) return;
    if (Is(i, "as")) i += 2;
    else if (i < Size() && t_[i].IsIdent() && !Is(i, "set") && !Is(i, "indexed") && !Is(i, "not")) ++i;
    if (Is(i, "indexed")) i += 3;
    else if (Is(i, "not")) i += 2;
    if (!Is(i, "set")) return;
    ++i;
    std::vector<TableColumn> cols = TableColumns(conn_.Handle(), table);
    if (cols.empty()) return;
    while (i < Size()) {
      // the assignment's value: up to a comma or a clause at this level
      const bool single = t_[i].IsIdent() && i + 1 < Size() && t_[i + 1].kind == Token::Op && t_[i + 1].text == "=";
      size_t b = single ? i + 2 : i, e = b;
      int depth = 0;
      for (; e < Size(); ++e) {
        const Token& k = t_[e];
        if (k.kind == Token::Open) ++depth;
        else if (k.kind == Token::Close) --depth;
        else if (depth == 0 && (k.kind == Token::Comma || k.kind == Token::Semicolon || k.Is("from") ||
                                k.Is("where") || k.Is("order") || k.Is("limit") || k.Is("returning")))
          break;
      }
      // (a, b) = (...) assigns several columns at once: not checked
      if (single) Value(b, e, TypeOfColumn(cols, t_[i].Ident()));
      if (!Kind(e, Token::Comma)) return;
      i = e + 1;
    }
  }

  SqliteConnection& conn_;
  const std::string& text_;
  std::vector<Token> t_;
  MarkerTypes* bare_;
  std::vector<size_t> markers_;                        // token index of each marker, in order
  std::vector<std::pair<size_t, std::string>> edits_;  // (offset, text inserted there)
};

// zyl_fit(value, sqltype, length, precision, scale)
void FitFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  auto* conn = static_cast<SqliteConnection*>(sq::user_data(ctx));
  ColumnType type;
  type.sqltype = static_cast<short>(sq::value_int64(argv[1]));
  type.length = static_cast<int>(sq::value_int64(argv[2]));
  type.precision = static_cast<int>(sq::value_int64(argv[3]));
  type.scale = static_cast<int>(sq::value_int64(argv[4]));
  try {
    Value out;
    if (FitValue(type, RefOf(argv[0]), conn->WriteRules(), out)) {
      sq::result_value(ctx, argv[0]);
      return;
    }
    switch (out.kind) {
      case Value::Kind::Null: sq::result_null(ctx); break;
      case Value::Kind::Integer: sq::result_int64(ctx, out.i); break;
      case Value::Kind::Real: sq::result_double(ctx, out.d); break;
      case Value::Kind::Text:
        sq::result_text(ctx, out.bytes.data(), static_cast<int>(out.bytes.size()), SQLITE_TRANSIENT);
        break;
      case Value::Kind::Blob:
        sq::result_blob(ctx, out.bytes.data(), static_cast<int>(out.bytes.size()), SQLITE_TRANSIENT);
        break;
    }
  } catch (const SqlError& e) {
    FailFunction(ctx, e);
  }
}

}  // namespace

std::string AddWriteChecks(SqliteConnection& conn, const std::string& text, MarkerTypes* bareMarkers) {
  if (bareMarkers) bareMarkers->clear();
  StatementKind kind = Classify(text);
  if (kind != StatementKind::Insert && kind != StatementKind::Update) return text;
  return Rewriter(conn, text, bareMarkers).Run();
}

void RegisterWriteChecks(SqliteConnection& conn) {
  sq::create_function_v2(conn.Handle(), "zyl_fit", 5, SQLITE_UTF8 | SQLITE_DETERMINISTIC, &conn, FitFunction, nullptr,
                         nullptr, nullptr);
}

}  // namespace dbl
