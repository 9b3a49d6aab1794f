// What the procedure interpreter (dblib/proc/ProcRun.h) needs from the engine it runs on. The
// interpreter owns the control flow, the variables and the error handling of a procedure; every
// expression and embedded SQL statement goes to the host as text with markers (:zv0, :zv1 ...)
// and the values to bind to them in marker order, so the engine alone decides what SQL means.
//
// Contract for the SQL-running calls (Query, Execute, ResultSet):
//   - they throw dbl::SqlError with the vendor's code on failure;
//   - a name the engine does not know as a column must fail with -143 (column not found) or
//     -260 (variable not found) with the name as first argument: the interpreter then binds the
//     procedure variable of that name and tries again (columns win over variables, as the
//     vendor's name resolution has it);
//   - the host translates the client's dialect (IF ... ENDIF expressions, '+' on strings ...)
//     before running the text; markers pass through unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dblib/proc/ProcLang.h"
#include "dblib/sql/Value.h"

namespace dbl {

struct ProcRows {
  std::vector<std::string> columns;
  std::vector<std::vector<Value>> rows;
};

class ProcHost {
 public:
  virtual ~ProcHost() = default;

  // Runs a SELECT and returns at most maxRows rows (with the column names).
  virtual ProcRows Query(const std::string& sql, const std::vector<Value>& params, size_t maxRows) = 0;
  // Runs INSERT/UPDATE/DELETE/COMMIT/ROLLBACK/DDL; returns the rows affected.
  virtual int64_t Execute(const std::string& sql, const std::vector<Value>& params) = 0;
  // A SELECT without INTO: hands its result set to the caller of the outermost CALL. The host
  // runs the query now, so the result holds the data of this moment of the procedure.
  // declared: the procedure's RESULT clause (empty when there is none).
  virtual void ResultSet(const std::string& sql, const std::vector<Value>& params,
                         const std::vector<ProcColumn>& declared) = 0;
  // MESSAGE ... TO CLIENT (type: 0 info, 1 warning, 2 action, 3 status).
  virtual void Message(int type, std::string_view text) = 0;
  // True once the client asked to cancel the running request.
  virtual bool Cancelled() = 0;
  // The definition of a procedure for a nested CALL; nullptr when there is none (-265).
  virtual std::shared_ptr<const ProcDef> FindProcedure(std::string_view owner, std::string_view name) = 0;

  // WAITFOR DELAY: waits ms milliseconds; returns false when cancelled first. The default
  // sleeps in short slices and asks Cancelled() between them.
  virtual bool Wait(int64_t ms);
};

}  // namespace dbl
