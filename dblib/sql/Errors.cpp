// SQLCODE texts and SQLSTATEs as the vendor publishes them, and SQLCA filling.
#include "dblib/sql/Errors.h"

#include <algorithm>
#include <cctype>
#include <cstring>


namespace dbl {
namespace {

struct ErrorText {
  int code;
  const char* state;
  const char* text;
};

const ErrorText kErrors[] = {
    {0, "00000", ""},
    {100, "02000", "Row not found"},
    {101, "01004", "Value truncated"},
    {102, "01W02", "Using temporary table"},
    {103, "01W03", "Invalid data conversion"},
    {104, "01W04", "Row has been updated since last time read"},
    {105, "01W05", "Procedure has completed"},
    {106, "01W06", "Value for column '%1' in table '%2' has changed"},
    {109, "01003", "Null value eliminated in aggregate function"},
    {111, "01W08", "Statement cannot be executed"},
    {122, "01W18", "The result returned is non-deterministic"},
    {124, "01W01", "Invalid data conversion"},
    {200, "01000", "Warning: %1"},
    {-72, "08W39", "No database file specified"},
    {-74, "08W30", "The selected database is currently inactive"},
    {-75, "08W29", "Request to start/stop database denied"},
    {-76, "08W28", "Request denied -- no active databases"},
    {-77, "08W27", "Database name not unique"},
    {-78, "08W26", "Dynamic memory exhausted"},
    {-79, "08W25", "Invalid local database option"},
    {-80, "08W07", "Unable to start database server"},
    {-81, "08W08", "Invalid database server command line"},
    {-82, "08W09", "Unable to start specified database: %1"},
    {-83, "08W10", "Specified database not found"},
    {-84, "08W11", "Specified database is invalid"},
    {-85, "08W12", "Communication error"},
    {-86, "08W13", "Not enough memory to start"},
    {-87, "08W14", "Database name required to start server"},
    {-88, "08W15", "Client/server communications protocol version mismatch"},
    {-89, "08W16", "Database server not running in multi-user mode"},
    {-96, "08W23", "Database server already running"},
    {-97, "08W22", "Database page size too big: %1"},
    {-98, "08W21", "Authentication violation"},
    {-99, "08W04", "Connections to database have been disabled"},
    {-100, "08W01", "Database server not found"},
    {-101, "08003", "Not connected to a database"},
    {-102, "08W03", "Database server connection limit exceeded"},
    {-103, "28000", "Invalid user ID or password"},
    {-104, "28W01", "Invalid user ID or password on preprocessed module"},
    {-105, "08001", "Database cannot be started -- %1"},
    {-106, "08W05", "Cannot open transaction log file -- %1"},
    {-107, "08W17", "Error writing to transaction log file"},
    {-108, "08W02", "Connection not found"},
    {-109, "08W06", "There are still active database connections"},
    {-140, "08004", "User ID '%1' does not exist"},
    {-230, "08W18", "sqlpp/dblib version mismatch"},
    {-231, "08W19", "Client/database server version mismatch"},
    {-308, "40W07", "Connection was terminated"},
    {-739, "55W07", "db_init has not been called or the call to db_init failed"},
    {-764, "08W55", "Server not found and unable to automatically start"},
    {-816, "08W56", "Specified database file already in use"},
    {-832, "08W60", "Connection error: %1"},
    {-840, "08W62", "Invalid or missing encryption key"},
    {-963, "08005", "Invalid password"},
    {-110, "52010", "Item '%1' already exists"},
    {-111, "52W04", "Index name '%1' not unique"},
    {-112, "55013", "Table already has a primary key"},
    {-116, "55W02", "Table must be empty"},
    {-118, "55008", "Table '%1' has no primary key"},
    {-121, "42501", "Permission denied: %1"},
    {-122, "42W02", "Operation would cause a group cycle"},
    {-130, "07W02", "Invalid statement"},
    {-131, "42W04", "Syntax error near '%1' %2"},
    {-132, "26501", "SQL statement error"},
    {-133, "07W03", "Invalid prepared statement type"},
    {-134, "0A000", "Feature '%1' not implemented"},
    {-135, "0AW01", "Language extension"},
    {-139, "52012", "More than one table is identified as '%1'"},
    {-141, "42W33", "Table '%1' not found"},
    {-142, "52W02", "Correlation name '%1' not found"},
    {-143, "52003", "Column '%1' not found"},
    {-144, "52002", "Column '%1' found in more than one table -- it needs a correlation name"},
    {-148, "42W05", "Unknown function '%1'"},
    {-149, "53003", "Function or column reference to '%1' must also appear in a GROUP BY"},
    {-150, "42W06", "Invalid use of an aggregate function"},
    {-154, "37505", "Wrong number of parameters to function '%1'"},
    {-155, "42W07", "Invalid host variable"},
    {-156, "42W08", "Invalid expression near '%1'"},
    {-157, "53018", "Cannot convert %1 to %2"},  // %2 with its article: WithArticle
    {-158, "22003", "Value %1 out of range for destination"},
    {-159, "42W13", "Invalid column number"},
    {-160, "07005", "Can only describe a SELECT statement"},
    {-161, "07W01", "Invalid type on DESCRIBE statement"},
    {-170, "24W01", "Cursor has not been declared"},
    {-171, "07003", "Error opening cursor"},
    {-172, "24502", "Cursor already open"},
    {-180, "24501", "Cursor not open"},
    {-181, "22002", "No indicator variable provided for NULL result"},
    {-182, "07002", "Not enough fields allocated in SQLDA"},
    {-183, "52W03", "Cannot find index named '%1'"},
    {-185, "21000", "SELECT returns more than one row"},
    {-186, "21W01", "Subquery cannot return more than one row"},
    {-187, "09W02", "Illegal cursor operation attempt"},
    {-188, "07001", "Not enough values for host variables"},
    {-190, "53W02", "Cannot update an expression"},
    {-191, "42W32", "Cannot modify column '%1' in table '%2'"},
    {-192, "42W31", "Update operation attempted on non-updatable query"},
    {-193, "23W01", "Primary key for table '%1' is not unique"},
    {-194, "23503", "No primary key value for foreign key '%1' in table '%2'"},
    {-195, "23502", "Column '%1' in table '%2' cannot be NULL"},
    {-196, "23505", "Index '%1' for table '%2' would not be unique"},
    {-197, "24503", "No current row of cursor"},
    {-198, "23W05", "Primary key for row in table '%1' is referenced by foreign key '%2' in table '%3'"},
    {-199, "09W04", "INSERT/DELETE on cursor can modify only one table"},
    {-200, "42W16", "Invalid option '%1' -- no PUBLIC setting exists"},
    {-201, "42W17", "Invalid setting for option '%1'"},
    {-207, "53002", "Wrong number of values for INSERT"},
    {-208, "22W02", "Row has changed since last read -- operation canceled"},
    {-209, "23506", "Constraint '%1' violated: Invalid value for column '%2' in table '%3'"},
    {-210, "42W18", "User '%1' has the row in '%2' locked"},
    {-211, "42W19", "Not allowed while '%1' is using the database"},
    {-214, "42W21", "Table in use"},
    {-215, "42W23", "Procedure in use by '%1'"},
    {-220, "3B001", "Savepoint '%1' not found"},
    {-240, "WB001", "Unknown backup operation"},
    {-241, "WB002", "Database backup not started"},
    {-242, "WB003", "Incomplete transactions prevent transaction log renaming"},
    {-243, "WB004", "Unable to delete database file"},
    {-244, "WB005", "Transaction log was truncated"},
    {-250, "54003", "Identifier '%1' too long"},
    {-260, "42W14", "Variable '%1' not found"},
    {-261, "42W15", "There is already a variable named '%1'"},
    {-262, "42W24", "Label '%1' not found"},
    {-263, "42W25", "Invalid absolute or relative offset in FETCH"},
    {-264, "42W26", "Wrong number of variables in FETCH"},
    {-265, "52W09", "Procedure '%1' not found"},
    {-267, "42W28", "COMMIT/ROLLBACK not allowed within atomic operation"},
    {-268, "52W10", "Trigger '%1' not found"},
    {-274, "42W29", "Procedure or trigger calls have nested too deeply"},
    {-294, "53W08", "Format string argument number %1 is invalid"},
    {-296, "53W07", "Error number %1 for RAISERROR must not be less than 17000"},
    {-297, "99999", "User-defined exception signaled"},
    {-298, "42W22", "Attempted two active database requests"},
    {-299, "57014", "Statement interrupted by user"},
    {-615, "42W47", "Parameter '%1' not found in procedure '%2'"},
    {-628, "22012", "Division by zero"},
    {-630, "22025", "Invalid escape sequence '%1'"},
    {-631, "WW012", "RAISERROR executed: %1"},
    {-633, "42W30", "Update operation attempted on a read-only cursor"},
    {-638, "22001", "Right truncation of string data"},
    {-639, "42W42", "Parameter name missing in call to procedure '%1'"},
    {-640, "07009", "Invalid descriptor index"},
    {-641, "22005", "Error in assignment"},
    {-700, "07W04", "SQLDA fields inconsistent for a multi-row SQLDA"},
    {-759, "07W05", "SQLDA data type invalid"},
    {-760, "07W06", "Invalid SQL identifier"},
    {-807, "07W07", "Host variables must not be used within a batch"},
    {-817, "52W41", "Too many temporary tables in connection"},
    {-856, "07W08", "Invalid sqllen field in SQLDA"},
    {-300, "40000", "Run time SQL error -- %1"},
    {-301, "40W01", "Internal database error %1 -- transaction rolled back"},
    {-302, "40W02", "Terminated by user -- transaction rolled back"},
    {-303, "40W05", "Disk write failure '%1' -- transaction rolled back"},
    {-304, "40W03", "Disk full '%1' -- transaction rolled back"},
    {-305, "40W04", "I/O error %1 -- transaction rolled back"},
    {-306, "40001", "Deadlock detected"},
    {-307, "40W06", "All threads are blocked"},
    {-309, "40W08", "Memory error -- transaction rolled back"},
    {-311, "WI004", "Internal rollback log corrupted"},
};

const ErrorText* Find(int code) {
  for (const auto& e : kErrors)
    if (e.code == code) return &e;
  return nullptr;
}

}  // namespace

const char* SqlError::what() const noexcept {
  if (what_.empty()) {
    try {
      what_ = FormatMessage(code_, args_);
    } catch (...) {
      return "SQL error";
    }
  }
  return what_.c_str();
}

const char* SqlStateOf(int code) {
  if (const auto* e = Find(code)) return e->state;
  return code < 0 ? "WW000" : (code == 0 ? "00000" : "01000");
}

const char* MessageFormatOf(int code) {
  if (code == 0) return nullptr;
  if (const auto* e = Find(code)) return e->text;
  return code < 0 ? "Run time SQL error -- %1" : "Warning: %1";
}

std::string WithArticle(std::string_view typeName) {
  std::string out(typeName);
  if (out.empty()) return out;
  char first = static_cast<char>(std::tolower(static_cast<unsigned char>(out[0])));
  // "an unsigned int", "an integer", but "a unique...": the sound, not the letter, decides.
  bool vowel = (first == 'a' || first == 'e' || first == 'i' || first == 'o' || first == 'u') &&
               !(out.size() >= 3 && std::tolower(static_cast<unsigned char>(out[1])) == 'n' &&
                 std::tolower(static_cast<unsigned char>(out[2])) == 'i');
  return (vowel ? "an " : "a ") + out;
}

std::string FormatMessage(int code, const std::vector<std::string>& args) {
  const char* f = MessageFormatOf(code);
  if (!f) return {};
  std::string out;
  for (const char* p = f; *p; ++p) {
    if (*p == '%' && p[1] >= '1' && p[1] <= '9') {
      size_t i = size_t(p[1] - '1');
      if (i < args.size()) out += args[i];
      ++p;
    } else {
      out += *p;
    }
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  if (Find(code) == nullptr && args.empty()) out += std::to_string(code);
  return out;
}

void ClearSqlca(SQLCA* ca) {
  ca->sqlcode = 0;
  ca->sqlerrml = 0;
  std::memset(ca->sqlerrmc, 0, sizeof ca->sqlerrmc);
  ca->sqlerrd[2] = 0;
  std::memcpy(ca->sqlstate, "00000", 6);
}

void SetSqlca(SQLCA* ca, int code, const std::vector<std::string>& args) {
  ca->sqlcode = code;
  std::memcpy(ca->sqlstate, SqlStateOf(code), 5);
  ca->sqlstate[5] = 0;
  // Parameters separated by 0xFF, cut to the 70 bytes of sqlerrmc.
  size_t n = 0;
  std::memset(ca->sqlerrmc, 0, sizeof ca->sqlerrmc);
  for (size_t i = 0; i < args.size() && n < sizeof ca->sqlerrmc; ++i) {
    if (i > 0) ca->sqlerrmc[n++] = 0xFF;
    size_t len = std::min(args[i].size(), sizeof ca->sqlerrmc - n);
    std::memcpy(ca->sqlerrmc + n, args[i].data(), len);
    n += len;
  }
  ca->sqlerrml = short(n);
}

void SetSqlca(SQLCA* ca, const SqlError& e) {
  SetSqlca(ca, e.Code(), e.Args());
  if (e.Code() == SQLE_SYNTAX_ERROR) ca->sqlerrd[2] = e.Offset() >= 0 ? e.Offset() : 0;
}

}  // namespace dbl
