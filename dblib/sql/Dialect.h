// The SQL dialect of our clients and SQLite's. Applications and the binding write SQL the way
// the vendor's server takes it; this unit sorts statements into kinds, translates the places
// where the two dialects differ in what is commonly written, and answers the questions the
// cursor layer asks about a SELECT (one base table? which? the text with its rowid added).
//
// Translation works on tokens and rewrites only what it recognises, so everything else reaches
// SQLite exactly as written (including comments and blanks):
//   :name and ?            -> ?              (one value per marker, in marker order, even when a
//                                             name repeats; DESCRIBE INPUT reads the names from
//                                             the application's text)
//   IF c THEN a ELSE b ENDIF -> CASE WHEN c THEN a ELSE b END
//   a + 'x' + b            -> (a) || 'x' || (b)   (a chain of + with a string literal operand, or
//                                             whose operands are all known character columns)
//   owner.table, owner.table.column          -> table, table.column (owner: a user of the database)
//   SELECT [DISTINCT] TOP n [START AT m] ...  -> SELECT [DISTINCT] ... LIMIT n [OFFSET m-1]
//   ... FOR UPDATE [BY ...] / FOR READ ONLY   -> removed (the cursor options carry the request)
//   CURRENT TIMESTAMP / DATE / TIME           -> the local time stamp, date or time
//   col type DEFAULT AUTOINCREMENT PRIMARY KEY -> col INTEGER PRIMARY KEY (SQLite's own key
//                                             counter); without an inline key the clause is dropped
//   // comment                                -> -- comment
// SELECT ... FROM dummy and the sys.* catalog tables need no rewriting once the owner is gone:
// they are views every connection gets (Catalog.h).
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace dbl {

class SqliteConnection;

struct Token {
  enum Kind : unsigned char { Word, QuotedId, String, Number, Marker, Op, Open, Close, Comma, Dot, Semicolon };
  Kind kind;
  std::string_view text;  // view into the tokenised text (quotes included)
  size_t pos;             // byte offset in the text
  // Identifier spelling: Word as written, QuotedId without its quotes (doubled quotes undone).
  std::string Ident() const;
  bool Is(std::string_view keyword) const;  // Word equal to keyword, case-insensitively
  bool IsIdent() const { return kind == Word || kind == QuotedId; }
};

// Tokens of a SQL text; comments and blanks are skipped. An unterminated quote runs to the end
// of the text (SQLite reports the error when it sees the text).
std::vector<Token> Tokenize(std::string_view sql);

enum class StatementKind {
  Other,
  Select,  // SELECT, WITH ..., VALUES, a parenthesised SELECT
  Insert,
  Update,
  Delete,
  CreateTable,
  AlterTable,
  DropTable,
  CreateView,
  DropView,
  CreateIndex,
  DropIndex,
  CreateProcedure,  // also CREATE FUNCTION, ALTER PROCEDURE/FUNCTION
  DropProcedure,    // also DROP FUNCTION
  Call,             // CALL p, ? = CALL p, :r = CALL p
  CreateVariable,
  DropVariable,
  Set,  // SET v = expr (connection variable) or another SET statement
  SetOption,
  Grant,
  Revoke,
  CreateDatabase,
  DropDatabase,
  Commit,
  Rollback,
};

StatementKind Classify(std::string_view sql);
// Statements that change the schema (commit before and after, catalog refresh).
bool DefinesObjects(StatementKind kind);

// What the translation may ask about the database. Each callback may be empty (then the
// answer is no).
struct DialectContext {
  std::function<bool(std::string_view)> isUser;   // a user (owner) of the database
  std::function<bool(std::string_view)> isTable;  // a table or view of the database
  // A column known to hold characters, for `a + b`; table is the qualifier as written (may be
  // empty).
  std::function<bool(std::string_view table, std::string_view column)> isCharColumn;
};

// The application's text in SQLite's dialect (see the head of this file). Never fails: what it
// does not understand it leaves alone.
std::string TranslateSql(std::string_view sql, const DialectContext& ctx);

// The statement without what surrounds it: leading and trailing blanks and comments, and
// trailing semicolons. Text the library builds around a statement ("SELECT count(*) FROM
// (...)") takes this, so it can never end inside the statement's last line comment.
std::string_view StatementBody(std::string_view sql);

// Host-variable markers of a text in order: the name after the colon, empty for '?'.
std::vector<std::string> MarkerNames(std::string_view sql);

// The shape of a SELECT (on SQLite's dialect, i.e. after translation).
struct TableRef {
  std::string name;   // table or view name, empty for a subquery or table function
  std::string alias;  // correlation name, empty when none
};
struct SelectShape {
  bool isSelect = false;
  bool distinct = false;
  bool grouped = false;   // GROUP BY or HAVING
  bool compound = false;  // UNION / INTERSECT / EXCEPT at the top level
  bool joined = false;    // more than one table reference, or JOIN
  bool aggregate = false; // an aggregate function in the select list
  bool limited = false;   // LIMIT at the top level
  std::vector<std::pair<size_t, size_t>> items;  // token ranges [first, last) of the select list
  std::vector<std::string> itemTexts;            // the items' text
  std::vector<TableRef> from;                    // table references of the top-level FROM
  size_t fromPos = std::string::npos;            // offset of the top-level FROM keyword
  size_t selectEnd = 0;                          // offset after the select list (FROM or end)
};
SelectShape AnalyzeSelect(std::string_view sql);

// A SELECT over exactly one base-table reference without DISTINCT, grouping, aggregates or
// set operations: the kind whose rows a cursor can update. table receives the table's name.
bool SingleTableSelect(std::string_view sql, std::string& table);

// The SELECT with `<qualifier>.rowid AS <column>` appended to its select list (qualifier: the
// table's alias or name), so a cursor can find its current row again. Empty when sql is not a
// single-table SELECT.
std::string WithRowidColumn(std::string_view sql, std::string_view column);

// The connection's translation: TranslateSql with the users, tables and columns of the
// connection's database, after making sure the catalog views exist on the connection.
std::string TranslateForConnection(SqliteConnection& conn, std::string_view sql);

// Case-insensitive ASCII comparison of identifiers.
bool SameIdent(std::string_view a, std::string_view b);

}  // namespace dbl
