// What every engine shares about stored procedures once it has found a definition: the CALL
// statement a client prepares (CALL p(...), ? = CALL f(...), :r = CALL f(:a)), the cursor that
// hands out a call's result sets one after another (OPEN gives the first, RESUME the next, and
// after the last RESUME the caller reports 105 "Procedure has completed"), and the parsed form
// of stored definitions. Where definitions live and how a body's SQL runs is the engine's: it
// supplies a ProcCallSite.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "dblib/engine/Cursor.h"
#include "dblib/engine/Engine.h"
#include "dblib/proc/ProcHost.h"
#include "dblib/proc/ProcLang.h"
#include "dblib/sql/Describe.h"

namespace dbl {

// A host that keeps the result sets a run makes, in the order the procedure made them.
class ProcResultHost : public ProcHost {
 public:
  std::deque<std::unique_ptr<Cursor>> results;
};

// The connection a CALL statement runs on, as the statement needs it.
class ProcCallSite {
 public:
  virtual ~ProcCallSite() = default;
  // A fresh host for one run of the procedure.
  virtual std::unique_ptr<ProcResultHost> NewHost() = 0;
  virtual bool InTransaction() const = 0;
  virtual void Rollback() = 0;
  virtual bool HasVariable(const std::string& name) const = 0;
  virtual void SetVariable(const std::string& name, Value v) = 0;
};

// The CALL statement for a definition the engine found (def must not be null). The argument
// list is checked here, so a bad call fails at PREPARE.
std::unique_ptr<Statement> MakeCallStatement(std::unique_ptr<ProcCallSite> site, std::string text,
                                             const ProcCallText& call, std::shared_ptr<const ProcDef> def);

// A result column or output of a procedure as describe reports it (unknown types: long varchar).
ColumnDesc DescribeProcColumn(const std::string& name, const std::string& type);

// The parsed tree of a stored definition text, parsed once per process (throws -131).
std::shared_ptr<const ProcDef> ParsedProcDefinition(const std::string& text);

// The text the catalog keeps for a definition statement: ALTER replaces the definition, so it is
// kept as the CREATE it now amounts to.
std::string StoredProcText(const ProcDef& def, const std::string& text);

}  // namespace dbl
