// The CALL statement and the result-set cursor of a call, on any engine (dblib/proc/ProcCall.h).
#include "dblib/proc/ProcCall.h"

#include <cctype>
#include <map>
#include <mutex>
#include <optional>

#include "dblib/proc/ProcRun.h"
#include "dblib/sql/Errors.h"
#include "dblib/sql/TypeMap.h"

namespace dbl {

std::shared_ptr<const ProcDef> ParsedProcDefinition(const std::string& text) {
  static std::mutex mutex;
  static std::map<std::string, std::shared_ptr<const ProcDef>> parsed;  // definition text -> tree
  std::lock_guard<std::mutex> lock(mutex);
  auto it = parsed.find(text);
  if (it != parsed.end()) return it->second;
  auto def = std::make_shared<const ProcDef>(ParseProcDdl(text));
  parsed.emplace(text, def);
  return def;
}

std::string StoredProcText(const ProcDef& def, const std::string& text) {
  if (def.verb != ProcDef::Verb::Alter) return text;
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  return "CREATE" + text.substr(i + 5);
}

ColumnDesc DescribeProcColumn(const std::string& name, const std::string& type) {
  ColumnDesc c;
  c.name = name;
  TypeInfo t = MapDeclaredType(type);
  if (!t.Known()) t = LongVarcharType();
  c.sqltype = t.sqltype;
  c.sqllen = t.sqllen;
  c.precision = t.precision;
  c.scale = t.scale;
  c.domainId = t.domainId;
  return c;
}

namespace {

// The cursor OPEN or RESUME hands out: the result sets of one call, the current one first. A
// procedure that failed after it had produced a result set keeps its error for the RESUME that
// would go past the last set it made, so the caller reads what came before the failure and then
// learns of it, as when the procedure runs on from one result set to the next.
class ProcCursor : public Cursor {
 public:
  ProcCursor(std::unique_ptr<Cursor> current, std::deque<std::unique_ptr<Cursor>> rest,
             std::optional<SqlError> failure = std::nullopt)
      : cur_(std::move(current)), rest_(std::move(rest)), failure_(std::move(failure)) {}
  const std::vector<ColumnDesc>& Columns() const override { return cur_->Columns(); }
  int32_t OpenCount() const override { return cur_->OpenCount(); }
  int64_t Position() const override { return cur_->Position(); }
  bool MoveTo(int64_t n) override { return cur_->MoveTo(n); }
  int64_t Total() override { return cur_->Total(); }
  bool TotalKnown() const override { return cur_->TotalKnown(); }
  bool Scrollable() const override { return cur_->Scrollable(); }
  ValueRef Column(int i) override { return cur_->Column(i); }
  bool Refresh(bool forUpdate) override { return cur_->Refresh(forUpdate); }

  std::unique_ptr<Cursor> Next() {
    if (rest_.empty()) {
      if (!failure_) return nullptr;
      SqlError failure = std::move(*failure_);
      failure_.reset();  // reported once; after it the procedure has completed
      throw failure;
    }
    std::unique_ptr<Cursor> first = std::move(rest_.front());
    rest_.pop_front();
    return std::make_unique<ProcCursor>(std::move(first), std::move(rest_), std::move(failure_));
  }

 private:
  std::unique_ptr<Cursor> cur_;
  std::deque<std::unique_ptr<Cursor>> rest_;
  std::optional<SqlError> failure_;
};

bool IsSoleMarker(const std::string& e) {
  size_t b = e.find_first_not_of(" \t\r\n"), t = e.find_last_not_of(" \t\r\n");
  if (b == std::string::npos) return false;
  std::string s = e.substr(b, t - b + 1);
  return s == "?" || (s.size() > 1 && s[0] == ':' && s.find_first_of(" +-*/(),") == std::string::npos);
}

// The identifier an argument consists of (optionally double-quoted), or "".
std::string SoleIdentifier(const std::string& e) {
  size_t b = e.find_first_not_of(" \t\r\n"), t = e.find_last_not_of(" \t\r\n");
  if (b == std::string::npos) return std::string();
  std::string s = e.substr(b, t - b + 1);
  if (s.size() > 2 && s.front() == '"' && s.back() == '"') s = s.substr(1, s.size() - 2);
  if (s.empty() || !(std::isalpha(static_cast<unsigned char>(s[0])) || s[0] == '_' || s[0] == '@')) return std::string();
  for (char c : s)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '@' || c == '$' || c == '#')) return std::string();
  return s;
}

class CallStatement : public Statement {
 public:
  CallStatement(std::unique_ptr<ProcCallSite> site, std::string text, const ProcCallText& call,
                std::shared_ptr<const ProcDef> def)
      : site_(std::move(site)), text_(std::move(text)), call_(call), def_(std::move(def)) {
    std::vector<ProcArgValue> probe;
    for (const ProcArg& a : call_.args) probe.push_back({a.name, Value()});
    OrderArguments(*def_, probe);
    for (const ProcArg& a : call_.args) markers_.push_back(CountMarkers(a.expr));
  }

  const std::string& Text() const override { return text_; }
  bool HasResultSet() const override { return def_->mayReturnResultSets; }

  void DescribeOutput(std::vector<ColumnDesc>& out, bool& mayVary) override {
    out.clear();
    mayVary = def_->mayReturnResultSets;
    if (def_->mayReturnResultSets) {
      for (const ProcColumn& c : def_->result) out.push_back(DescribeProcColumn(c.name, c.type));
      return;
    }
    if (ReturnsValue()) out.push_back(DescribeProcColumn(def_->name, def_->isFunction ? def_->returns : "integer"));
    for (const ProcParam& p : def_->params)
      if (p.mode != ParmMode::In) out.push_back(DescribeProcColumn(p.name, p.type));
  }

  void DescribeInput(std::vector<ParamDesc>& out) override {
    out.clear();
    if (!call_.target.empty()) {
      ColumnDesc c = DescribeProcColumn(def_->name, def_->isFunction ? def_->returns : "integer");
      out.push_back({def_->name, c.sqltype, c.sqllen, false, true});
    }
    size_t positional = 0;
    for (size_t k = 0; k < call_.args.size(); ++k) {
      const ProcArg& a = call_.args[k];
      int index = a.name.empty() ? int(positional++) : def_->FindParam(a.name);
      const ProcParam& p = def_->params[size_t(index)];
      bool sole = markers_[k] == 1 && IsSoleMarker(a.expr);
      for (int m = 0; m < markers_[k]; ++m) {
        if (sole) {
          ColumnDesc c = DescribeProcColumn(p.name, p.type);
          out.push_back({p.name, c.sqltype, c.sqllen, p.mode != ParmMode::Out, p.mode != ParmMode::In});
        } else {
          out.push_back({std::string(), 0, 0, true, false});  // a marker inside an argument expression
        }
      }
    }
  }

  ExecResult Execute(const std::vector<Value>& in, std::vector<Value>* out) override {
    std::unique_ptr<ProcResultHost> host = site_->NewHost();
    ProcCallResult r = Run(in, *host);
    if (out) {
      out->clear();
      if (ReturnsValue()) out->push_back(r.returnValue);
      for (size_t i = 0; i < def_->params.size(); ++i)
        if (def_->params[i].mode != ParmMode::In) out->push_back(r.params[i]);
    }
    return {};
  }

  std::unique_ptr<Cursor> Open(const std::vector<Value>& in, const CursorOptions&) override {
    std::unique_ptr<ProcResultHost> host = site_->NewHost();
    std::optional<SqlError> failure;
    try {
      Run(in, *host);
    } catch (const SqlError& e) {
      if (host->results.empty()) throw;
      failure = e;
    }
    if (host->results.empty()) return MakeRowsCursor({}, {});
    std::unique_ptr<Cursor> first = std::move(host->results.front());
    host->results.pop_front();
    return std::make_unique<ProcCursor>(std::move(first), std::move(host->results), std::move(failure));
  }

  std::unique_ptr<Cursor> Resume(Cursor& current) override {
    auto* pc = dynamic_cast<ProcCursor*>(&current);
    return pc ? pc->Next() : nullptr;
  }

 private:
  bool ReturnsValue() const { return def_->isFunction || !call_.target.empty(); }

  ProcCallResult Run(const std::vector<Value>& in, ProcHost& host) {
    // Input values follow the markers: the target's (ignored) first, then each argument's.
    size_t next = call_.target.empty() ? 0 : 1;
    std::vector<ProcArgValue> args;
    for (size_t k = 0; k < call_.args.size(); ++k) {
      const ProcArg& a = call_.args[k];
      size_t count = size_t(markers_[k]);
      if (next + count > in.size()) throw SqlError(SQLE_NOT_ENOUGH_HOST_VARS);
      std::vector<Value> vals(in.begin() + long(next), in.begin() + long(next + count));
      next += count;
      if (count == 1 && IsSoleMarker(a.expr)) {
        args.push_back({a.name, vals[0]});
      } else {
        ProcRows rows = host.Query("SELECT " + a.expr, vals, 1);
        args.push_back({a.name, rows.rows.empty() || rows.rows[0].empty() ? Value() : rows.rows[0][0]});
      }
    }
    // A call that fails undoes the transaction it began itself (none was open when it started):
    // its changes go, as a failed statement's do, and the connection is not left inside a
    // transaction nobody asked for, holding a snapshot its next statements would read.
    const bool ownTransaction = !site_->InTransaction();
    try {
      ProcCallResult r = RunProc(*def_, OrderArguments(*def_, args), host);
      StoreIntoVariables(r);
      return r;
    } catch (...) {
      if (ownTransaction && site_->InTransaction()) {
        try {
          site_->Rollback();
        } catch (const SqlError&) {
          // the call's own error is the one to report
        }
      }
      throw;
    }
  }

  // An OUT or INOUT argument written as a connection variable's name receives the parameter's
  // final value, as an output marker would.
  void StoreIntoVariables(const ProcCallResult& r) {
    size_t positional = 0;
    for (size_t k = 0; k < call_.args.size(); ++k) {
      const ProcArg& a = call_.args[k];
      int index = a.name.empty() ? int(positional++) : def_->FindParam(a.name);
      if (index < 0 || size_t(index) >= def_->params.size() || size_t(index) >= r.params.size()) continue;
      if (def_->params[size_t(index)].mode == ParmMode::In || markers_[k] != 0) continue;
      std::string name = SoleIdentifier(a.expr);
      if (!name.empty() && site_->HasVariable(name)) site_->SetVariable(name, r.params[size_t(index)]);
    }
  }

  std::unique_ptr<ProcCallSite> site_;
  std::string text_;
  ProcCallText call_;
  std::shared_ptr<const ProcDef> def_;
  std::vector<int> markers_;  // markers in each argument
};

}  // namespace

std::unique_ptr<Statement> MakeCallStatement(std::unique_ptr<ProcCallSite> site, std::string text,
                                             const ProcCallText& call, std::shared_ptr<const ProcDef> def) {
  return std::make_unique<CallStatement>(std::move(site), std::move(text), call, std::move(def));
}

}  // namespace dbl
