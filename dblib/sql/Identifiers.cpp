// Identifier quoting (see Identifiers.h).
#include "dblib/sql/Identifiers.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <iterator>
#include <string>

namespace dbl {

namespace {

// The dialect's reserved words, upper case, sorted: the SQL words of statements, clauses,
// operators, types and the procedure language that a bare name could be mistaken for.
constexpr std::string_view kReserved[] = {
    "ADD",        "ALL",          "ALTER",      "AND",        "ANY",        "AS",         "ASC",
    "BACKUP",     "BEGIN",        "BETWEEN",    "BIGINT",     "BINARY",     "BIT",        "BREAK",
    "BY",         "CALL",         "CASCADE",    "CASE",       "CAST",       "CHAR",       "CHARACTER",
    "CHECK",      "CHECKPOINT",   "CLOSE",      "COMMENT",    "COMMIT",     "CONNECT",    "CONSTRAINT",
    "CONTINUE",   "CONVERT",      "CREATE",     "CROSS",      "CUBE",       "CURRENT",    "CURRENT_DATE",
    "CURRENT_TIME", "CURRENT_TIMESTAMP", "CURRENT_USER", "CURSOR", "DATE", "DEALLOCATE", "DEC",
    "DECIMAL",    "DECLARE",      "DEFAULT",    "DELETE",     "DESC",       "DISTINCT",   "DO",
    "DOUBLE",     "DROP",         "DYNAMIC",    "ELSE",       "ELSEIF",     "END",        "ENDIF",
    "ESCAPE",     "EXCEPT",       "EXCEPTION",  "EXEC",       "EXECUTE",    "EXISTS",     "FETCH",
    "FIRST",      "FLOAT",        "FOR",        "FOREIGN",    "FROM",       "FULL",       "GOTO",
    "GRANT",      "GROUP",        "HAVING",     "IDENTIFIED", "IF",         "IN",         "INDEX",
    "INNER",      "INOUT",        "INSENSITIVE", "INSERT",    "INT",        "INTEGER",    "INTERSECT",
    "INTO",       "IS",           "ISOLATION",  "JOIN",       "KEY",        "LEFT",       "LIKE",
    "LOCK",       "LONG",         "MATCH",      "MESSAGE",    "MODE",       "NATURAL",    "NCHAR",
    "NEW",        "NO",           "NOT",        "NULL",       "NUMERIC",    "NVARCHAR",   "OF",
    "OFF",        "ON",           "OPEN",       "OPTION",     "OR",         "ORDER",      "OTHERS",
    "OUT",        "OUTER",        "OVER",       "PRECISION",  "PREPARE",    "PRIMARY",    "PRINT",
    "PRIVILEGES", "PROC",         "PROCEDURE",  "RAISERROR",  "REAL",       "REFERENCES", "RELEASE",
    "REMOTE",     "RENAME",       "RESOURCE",   "RESTORE",    "RESTRICT",   "RETURN",     "REVOKE",
    "RIGHT",      "ROLLBACK",     "ROLLUP",     "SAVE",       "SAVEPOINT",  "SCROLL",     "SELECT",
    "SENSITIVE",  "SESSION_USER", "SET",        "SHARE",      "SMALLINT",   "SOME",       "SQLCODE",
    "SQLSTATE",   "START",        "STOP",       "TABLE",      "TEMPORARY",  "THEN",       "TIME",
    "TIMESTAMP",  "TINYINT",      "TO",         "TOP",        "TRAN",       "TRIGGER",    "TRUNCATE",
    "UNION",      "UNIQUE",       "UNKNOWN",    "UNSIGNED",   "UPDATE",     "USER",       "USING",
    "VALUES",     "VARBINARY",    "VARCHAR",    "VARIABLE",   "VARYING",    "VIEW",       "WAITFOR",
    "WHEN",       "WHERE",        "WHILE",      "WINDOW",     "WITH",       "WITHIN",     "WORK",
};

bool Letter(unsigned char c) { return std::isalpha(c) || c >= 0x80; }

}  // namespace

bool IsReservedWord(std::string_view word) {
  std::string upper(word);
  for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
  return std::binary_search(std::begin(kReserved), std::end(kReserved), std::string_view(upper));
}

bool NeedsQuotes(std::string_view id) {
  if (id.empty()) return true;
  unsigned char first = static_cast<unsigned char>(id[0]);
  if (!(Letter(first) || first == '_' || first == '@' || first == '#')) return true;
  for (char ch : id) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (!(Letter(c) || std::isdigit(c) || c == '_' || c == '@' || c == '#' || c == '$')) return true;
  }
  return IsReservedWord(id);
}

bool NoCaseLess::operator()(const std::string& a, const std::string& b) const {
  return strcasecmp(a.c_str(), b.c_str()) < 0;
}

}  // namespace dbl
