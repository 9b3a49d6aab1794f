// The interpreter (dblib/proc/ProcRun.h). Variables live in a stack of scopes, one per BEGIN block
// (the parameters form the outermost); LEAVE, ITERATE and RETURN travel up as a Flow value, errors
// as SqlError. Embedded SQL reaches the host with each procedure variable it names replaced by a
// marker; which names are variables is learnt from the engine's "unknown column" answers and
// remembered per statement text in the definition's cache, so only the first run pays.
#include <pthread.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <map>
#include <mutex>
#include <thread>

#include "dblib/proc/ProcRun.h"
#include "dblib/sql/Errors.h"
#include "dblib/sql/Fit.h"

namespace dbl {

struct ProcSqlCache {
  struct Entry {
    std::string sql;                // text with :zvK markers where variables are used
    std::string run;                // the same with every marker a positional '?'
    std::vector<std::string> vars;  // variable name of each '?' of run, in order
    std::vector<std::pair<std::string, std::string>> markers;  // marker -> variable it stands for
  };
  std::mutex mutex;
  // Keyed by the address of the text in the parsed tree (which lives as long as the cache) and
  // the form it is used in (0 as written, 1 compared with a simple CASE's value).
  std::map<std::pair<const void*, int>, Entry> entries;
};

std::shared_ptr<ProcSqlCache> MakeProcSqlCache() { return std::make_shared<ProcSqlCache>(); }

bool ProcHost::Wait(int64_t ms) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    if (Cancelled()) return false;
    auto now = std::chrono::steady_clock::now();
    if (now >= until) return true;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(until - now, std::chrono::milliseconds(20)));
  }
}

namespace {

thread_local int t_depth = 0;  // procedure calls active on this thread (nested and re-entrant)

// Calls nest with bodies nested up to kMaxProcNesting each, and SQLite's evaluation sits between
// the levels, so what a call chain takes from the stack depends on every body in it. Each
// nesting statement and each call therefore checks the stack that is left on its thread (the
// thread's bounds are read once) and refuses with -274 while a reserve for the engine's own
// work remains, whatever size of stack the calling thread was given.
constexpr size_t kStackReserve = 96 * 1024;

uintptr_t StackLow() {
  pthread_attr_t attr;
  void* addr = nullptr;
  size_t size = 0;
  if (pthread_getattr_np(pthread_self(), &attr) != 0) return 0;
  pthread_attr_getstack(&attr, &addr, &size);
  pthread_attr_destroy(&attr);
  return reinterpret_cast<uintptr_t>(addr);
}

void CheckStack() {
  thread_local const uintptr_t low = StackLow();
  uintptr_t here = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
  if (low && (here < low || here - low < kStackReserve)) throw SqlError(SQLE_NESTING_TOO_DEEP);
}

class DepthGuard {
 public:
  DepthGuard() {
    if (t_depth >= kMaxProcDepth) throw SqlError(SQLE_NESTING_TOO_DEEP);
    CheckStack();
    ++t_depth;
  }
  ~DepthGuard() { --t_depth; }
  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;
};

// A cancel interrupts work; it never refuses a statement that ends a transaction or the
// procedure. Otherwise a cancel arriving just after a change would fail the call with the change
// still open (refused COMMIT), or after the COMMIT, with the committed change unreported to the
// caller (refused RETURN): a message the alert receive had taken would be lost either way.
bool EndsWork(const ProcStmt& s) {
  if (s.kind == ProcStmt::Kind::Return) return true;
  if (s.kind != ProcStmt::Kind::Sql) return false;
  size_t i = 0;
  while (i < s.text.size() && std::isspace(static_cast<unsigned char>(s.text[i]))) ++i;
  size_t j = i;
  while (j < s.text.size() && std::isalpha(static_cast<unsigned char>(s.text[j]))) ++j;
  std::string word = s.text.substr(i, j - i);
  for (char& c : word) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return word == "COMMIT" || word == "ROLLBACK";
}

std::string Upper(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return r;
}

std::string Lower(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return r;
}

// An error raised by SIGNAL or RAISERROR (or caught and re-raised), with its SQLSTATE.
struct ProcError {
  SqlError error;
  std::string state;
};

ProcError FromSqlError(const SqlError& e) { return {e, SqlStateOf(e.Code())}; }

struct Flow {
  enum Kind { Next, Leave, Iterate, Return } kind = Next;
  std::string label;
};

struct Variable {
  std::string name;
  std::string type;  // empty: takes any value as it comes (FOR loop columns)
  Value value;
};

struct Scope {
  std::vector<Variable> vars;
  std::vector<std::pair<std::string, std::string>> exceptions;  // name -> SQLSTATE
};

class Runner {
 public:
  Runner(const ProcDef& def, ProcHost& host) : def_(def), host_(host) {}

  ProcCallResult Run(const std::vector<std::optional<Value>>& args);

 private:
  Flow Exec(const ProcBody& body);
  Flow ExecStmt(const ProcStmt& s);
  Flow ExecBlock(const ProcStmt& s);
  Flow RunHandler(const ProcStmt& s, const ProcError& err, Flow& f);
  Flow ExecLoop(const ProcStmt& s);
  Flow ExecFor(const ProcStmt& s);
  void ExecCall(const ProcStmt& s);
  void Raise(const ProcStmt& s);

  Variable* Find(std::string_view name);
  void Assign(std::string_view name, const Value& v);
  std::string FindException(std::string_view name) const;
  void CheckCancel() {
    if (host_.Cancelled()) throw SqlError(SQLE_INTERRUPTED);
  }

  // Embedded SQL with the variables it uses bound. run() is called with the final text and
  // values; unknown names that are variables are turned into markers, then run() again.
  template <class F>
  auto WithVariables(const std::string& text, F run, int form = 0, const std::string* composed = nullptr)
      -> decltype(run(text, std::vector<Value>{}));
  Value Eval(const std::string& expr);
  bool Cond(const std::string& cond, int form = 0, const std::string* composed = nullptr);

  const ProcDef& def_;
  ProcHost& host_;
  std::vector<Scope> scopes_;
  std::vector<ProcError> active_;  // errors whose handlers are running (RESIGNAL)
  Value return_;
};

Variable* Runner::Find(std::string_view name) {
  for (auto s = scopes_.rbegin(); s != scopes_.rend(); ++s)
    for (Variable& v : s->vars)
      if (SameName(v.name, name)) return &v;
  return nullptr;
}

void Runner::Assign(std::string_view name, const Value& v) {
  Variable* var = Find(name);
  if (!var) throw SqlError(SQLE_VARIABLE_NOT_FOUND, {std::string(name)});
  var->value = var->type.empty() ? v : CoerceToType(v, var->type);
}

std::string Runner::FindException(std::string_view name) const {
  for (auto s = scopes_.rbegin(); s != scopes_.rend(); ++s)
    for (const auto& e : s->exceptions)
      if (SameName(e.first, name)) return e.second;
  return {};
}

template <class F>
auto Runner::WithVariables(const std::string& text, F run, int form, const std::string* composed)
    -> decltype(run(text, std::vector<Value>{})) {
  const auto key = std::make_pair(static_cast<const void*>(&text), form);
  ProcSqlCache& cache = *def_.sqlCache;
  ProcSqlCache::Entry entry;
  bool cached = false;
  {
    std::lock_guard<std::mutex> lock(cache.mutex);
    auto it = cache.entries.find(key);
    if (it != cache.entries.end()) {
      entry = it->second;
      cached = true;
    }
  }
  // Every use of a variable becomes one positional marker, bound in order of appearance.
  auto renumber = [&entry] {
    std::vector<std::string> order;
    entry.run = PositionalMarkers(entry.sql, order);
    entry.vars.clear();
    for (const std::string& m : order) {
      for (const auto& [mk, var] : entry.markers)
        if (mk == m) entry.vars.push_back(var);
    }
  };
  if (!cached) {
    entry.sql = entry.run = composed ? *composed : text;
    // A variable named with a leading at sign is taken by the engine for a parameter of its own,
    // not reported as an unknown column, so it is made a marker before the first run.
    bool any = false;
    for (const std::string& name : AtSignNames(entry.sql)) {
      if (!Find(name)) continue;
      std::string marker = ":zv" + std::to_string(entry.markers.size());
      if (ReplaceIdentifier(entry.sql, name, marker) == 0) continue;
      entry.markers.emplace_back(marker, name);
      any = true;
    }
    if (any) renumber();
  }
  for (int attempt = 0;; ++attempt) {
    std::vector<Value> values;
    values.reserve(entry.vars.size());
    for (const std::string& n : entry.vars) {
      Variable* v = Find(n);
      if (!v) throw SqlError(SQLE_VARIABLE_NOT_FOUND, {n});
      values.push_back(v->value);
    }
    bool learnt = false;
    try {
      auto result = run(entry.run, values);
      if (!cached || attempt > 0) {
        std::lock_guard<std::mutex> lock(cache.mutex);
        cache.entries[key] = entry;
      }
      return result;
    } catch (const SqlError& e) {
      if ((e.Code() != SQLE_COLUMN_NOT_FOUND && e.Code() != SQLE_VARIABLE_NOT_FOUND) || e.Args().empty()) throw;
      const std::string& unknown = e.Args()[0];
      if (!Find(unknown) || attempt > 256) throw;
      std::string marker = ":zv" + std::to_string(entry.markers.size());
      if (ReplaceIdentifier(entry.sql, unknown, marker) == 0) throw;
      entry.markers.emplace_back(marker, unknown);
      learnt = true;
    }
    if (learnt) renumber();
  }
}


// An integer literal ("0", "-5"): its value without a trip through SQL. Besides being cheaper,
// this keeps RETURN <literal> out of reach of a cancel (see EndsWork).
bool IntegerLiteral(const std::string& expr, int64_t& out) {
  size_t b = expr.find_first_not_of(" \t\r\n"), e = expr.find_last_not_of(" \t\r\n");
  if (b == std::string::npos) return false;
  size_t i = b;
  bool negative = expr[i] == '-';
  if (negative) ++i;
  if (i > e || e - i + 1 > 18) return false;  // up to 18 digits always fits
  int64_t v = 0;
  for (; i <= e; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(expr[i]))) return false;
    v = v * 10 + (expr[i] - '0');
  }
  out = negative ? -v : v;
  return true;
}

Value Runner::Eval(const std::string& expr) {
  int64_t literal = 0;
  if (IntegerLiteral(expr, literal)) return Value::Int(literal);
  return WithVariables(expr, [&](const std::string& e, const std::vector<Value>& values) {
    ProcRows r = host_.Query("SELECT " + e, values, 1);
    if (r.rows.empty() || r.rows[0].empty()) return Value();
    return r.rows[0][0];
  });
}

bool Runner::Cond(const std::string& cond, int form, const std::string* composed) {
  // NULL (unknown) counts as false, as the language's IF and WHILE have it.
  return WithVariables(cond, [&](const std::string& c, const std::vector<Value>& values) {
    ProcRows r = host_.Query("SELECT CASE WHEN (" + c + ") THEN 1 ELSE 0 END", values, 1);
    return !r.rows.empty() && !r.rows[0].empty() && r.rows[0][0].kind == Value::Kind::Integer && r.rows[0][0].i != 0;
  }, form, composed);
}

Flow Runner::Exec(const ProcBody& body) {
  for (const auto& s : body) {
    Flow f = ExecStmt(*s);
    if (f.kind != Flow::Next) return f;
  }
  return {};
}

Flow Runner::ExecBlock(const ProcStmt& s) {
  scopes_.emplace_back();
  struct Pop {
    std::vector<Scope>& s;
    size_t depth;
    ~Pop() { s.resize(depth); }
  } pop{scopes_, scopes_.size() - 1};
  Flow f;
  try {
    f = Exec(s.body);
  } catch (const SqlError& e) {
    if (e.Code() == SQLE_INTERRUPTED || e.Code() == SQLE_NESTING_TOO_DEEP || s.handlers.empty()) throw;
    ProcError pe = FromSqlError(e);
    return RunHandler(s, pe, f);
  } catch (const ProcError& e) {
    if (s.handlers.empty()) throw;
    return RunHandler(s, e, f);
  }
  if (f.kind == Flow::Leave && !s.label.empty() && SameName(f.label, s.label)) return {};
  return f;
}

Flow Runner::RunHandler(const ProcStmt& s, const ProcError& err, Flow& f) {
  for (const ProcHandler& h : s.handlers) {
    bool match = h.names.empty();
    for (const std::string& n : h.names) {
      std::string state = FindException(n);
      if (state.empty()) throw SqlError(SQLE_SYNTAX_ERROR, {"exception '" + n + "' is not declared"});
      if (state == err.state) match = true;
    }
    if (!match) continue;
    // The handler sees SQLCODE and SQLSTATE of the error it handles.
    scopes_.emplace_back();
    scopes_.back().vars.push_back({"SQLCODE", {}, Value::Int(err.error.Code())});
    scopes_.back().vars.push_back({"SQLSTATE", {}, Value::Text(err.state)});
    active_.push_back(err);
    struct Pop {
      Runner& r;
      ~Pop() {
        r.active_.pop_back();
        r.scopes_.pop_back();
      }
    } pop{*this};
    f = Exec(h.body);
    if (f.kind == Flow::Leave && !s.label.empty() && SameName(f.label, s.label)) return {};
    return f;  // after a handler the compound statement is left
  }
  throw err;
}

Flow Runner::ExecLoop(const ProcStmt& s) {
  for (;;) {
    CheckCancel();
    if (!s.expr.empty() && !Cond(s.expr)) return {};
    Flow f = Exec(s.body);
    if (f.kind == Flow::Return) return f;
    if (f.kind == Flow::Leave) {
      if (!s.label.empty() && SameName(f.label, s.label)) return {};
      return f;
    }
    if (f.kind == Flow::Iterate && !(s.label.empty() || SameName(f.label, s.label))) return f;
  }
}

Flow Runner::ExecFor(const ProcStmt& s) {
  ProcRows rows = WithVariables(s.text, [&](const std::string& q, const std::vector<Value>& values) {
    return host_.Query(q, values, SIZE_MAX);
  });
  for (auto& row : rows.rows) {
    CheckCancel();
    scopes_.emplace_back();
    struct Pop {
      std::vector<Scope>& s;
      ~Pop() { s.pop_back(); }
    } pop{scopes_};
    for (size_t c = 0; c < rows.columns.size() && c < row.size(); ++c)
      scopes_.back().vars.push_back({rows.columns[c], {}, std::move(row[c])});
    Flow f = Exec(s.body);
    if (f.kind == Flow::Return) return f;
    if (f.kind == Flow::Leave) {
      if (!s.label.empty() && SameName(f.label, s.label)) return {};
      return f;
    }
    if (f.kind == Flow::Iterate && !(s.label.empty() || SameName(f.label, s.label))) return f;
  }
  return {};
}

void Runner::ExecCall(const ProcStmt& s) {
  std::string owner, name = s.name;
  if (auto dot = name.find('.'); dot != std::string::npos) {
    owner = name.substr(0, dot);
    name = name.substr(dot + 1);
  }
  std::shared_ptr<const ProcDef> callee = host_.FindProcedure(owner, name);
  if (!callee) throw SqlError(SQLE_PROCEDURE_NOT_FOUND, {name});
  std::vector<ProcArgValue> given;
  for (const ProcArg& a : s.args) given.push_back({a.name, Eval(a.expr)});
  std::vector<std::optional<Value>> ordered = OrderArguments(*callee, given);
  // Run directly (not through RunProc) so a signalled SQLSTATE reaches this procedure's handlers.
  if (!callee->body) throw SqlError(SQLE_PROCEDURE_NOT_FOUND, {name});
  DepthGuard depth;
  ProcCallResult r = Runner(*callee, host_).Run(ordered);
  // Output parameters flow back into the variables that were passed for them.
  size_t positional = 0;
  for (const ProcArg& a : s.args) {
    int index = a.name.empty() ? static_cast<int>(positional++) : callee->FindParam(a.name);
    if (index < 0 || callee->params[index].mode == ParmMode::In) continue;
    if (Find(a.expr)) Assign(a.expr, r.params[index]);
  }
}

std::string FormatRaisError(std::string fmt, const std::vector<Value>& args) {
  // %1! ... %20! take the arguments in order.
  std::string out;
  for (size_t i = 0; i < fmt.size(); ++i) {
    if (fmt[i] == '%' && i + 1 < fmt.size() && std::isdigit(static_cast<unsigned char>(fmt[i + 1]))) {
      size_t j = i + 1;
      while (j < fmt.size() && std::isdigit(static_cast<unsigned char>(fmt[j]))) ++j;
      if (j < fmt.size() && fmt[j] == '!') {
        int n = std::atoi(fmt.substr(i + 1, j - i - 1).c_str());
        if (n < 1 || n > 20) throw SqlError(SQLE_INVALID_FORMAT_STRING_ARG_NUM, {std::to_string(n)});
        if (static_cast<size_t>(n) <= args.size()) out += args[n - 1].ToText();
        i = j;
        continue;
      }
    }
    out += fmt[i];
  }
  return out;
}

std::string Unquote(const std::string& lit) {
  std::string r;
  for (size_t i = 1; i + 1 < lit.size(); ++i) {
    r += lit[i];
    if (lit[i] == '\'' && lit[i + 1] == '\'') ++i;
  }
  return r;
}

void Runner::Raise(const ProcStmt& s) {
  Value number = std::isdigit(static_cast<unsigned char>(s.expr[0])) ? Value::Int(std::atoll(s.expr.c_str())) : Eval(s.expr);
  Value n = CoerceToType(number, "integer");
  if (n.IsNull() || n.i < 17000) throw SqlError(SQLE_ERROR_NUMBER_OUT_OF_RANGE, {n.ToText()});
  std::vector<Value> args;
  for (const std::string& e : s.exprs) args.push_back(Eval(e));
  std::string fmt = s.text.empty() ? std::string() : Unquote(s.text);
  if (fmt.size() > 255) fmt.resize(255);
  std::string msg = FormatRaisError(fmt, args);
  throw ProcError{SqlError(SQLE_RAISERROR_STMT, {msg}), SqlStateOf(SQLE_RAISERROR_STMT)};
}

Flow Runner::ExecStmt(const ProcStmt& s) {
  using K = ProcStmt::Kind;
  if (!EndsWork(s)) CheckCancel();
  if (s.kind == K::Block || s.kind == K::If || s.kind == K::Case || s.kind == K::While || s.kind == K::For)
    CheckStack();
  switch (s.kind) {
    case K::Block: return ExecBlock(s);
    case K::DeclareVar: {
      Value init = s.expr.empty() ? Value() : Eval(s.expr);
      for (const std::string& n : s.names) {
        for (const Variable& v : scopes_.back().vars)
          if (SameName(v.name, n)) throw SqlError(SQLE_VARIABLE_EXISTS, {n});
        scopes_.back().vars.push_back({n, s.type, init.IsNull() ? Value() : CoerceToType(init, s.type)});
      }
      return {};
    }
    case K::DeclareExc: scopes_.back().exceptions.emplace_back(s.name, s.text); return {};
    case K::Set: Assign(s.name, Eval(s.expr)); return {};
    case K::If:
      for (const ProcBranch& b : s.branches)
        if (Cond(b.cond)) return Exec(b.body);
      return Exec(s.elseBody);
    case K::Case: {
      if (s.expr.empty()) {
        for (const ProcBranch& b : s.branches)
          if (Cond(b.cond)) return Exec(b.body);
      } else {
        for (const ProcBranch& b : s.branches) {
          const std::string compare = "(" + s.expr + ") = (" + b.cond + ")";
          if (Cond(b.cond, 1, &compare)) return Exec(b.body);
        }
      }
      return Exec(s.elseBody);
    }
    case K::While: return ExecLoop(s);
    case K::For: return ExecFor(s);
    case K::Leave: return {Flow::Leave, s.label};
    case K::Iterate: return {Flow::Iterate, s.label};
    case K::Return:
      if (!s.expr.empty()) return_ = Eval(s.expr);
      return {Flow::Return, {}};
    case K::Call: ExecCall(s); return {};
    case K::SelectInto: {
      ProcRows r = WithVariables(s.text, [&](const std::string& q, const std::vector<Value>& values) {
        return host_.Query(q, values, 2);
      });
      if (r.rows.size() > 1) throw SqlError(SQLE_TOO_MANY_RECORDS);
      if (r.rows.empty()) return {};  // warning 100: the variables keep their values
      if (r.rows[0].size() != s.targets.size()) throw SqlError(SQLE_WRONG_NUM_OF_FETCH_VARIABLES);
      for (size_t i = 0; i < s.targets.size(); ++i) Assign(s.targets[i], r.rows[0][i]);
      return {};
    }
    case K::Query:
      WithVariables(s.text, [&](const std::string& q, const std::vector<Value>& values) {
        host_.ResultSet(q, values, def_.result);
        return 0;
      });
      return {};
    case K::Sql:
      WithVariables(s.text, [&](const std::string& q, const std::vector<Value>& values) {
        return host_.Execute(q, values);
      });
      return {};
    case K::Message: {
      std::string text;
      for (const std::string& e : s.exprs) text += Eval(e).ToText();
      if (s.toClient) host_.Message(s.msgType, text);
      return {};
    }
    case K::WaitFor: {
      int64_t ms = ParseDelay(Unquote(s.text));
      if (ms < 0) throw SqlError(SQLE_CONVERSION_ERROR, {Unquote(s.text), WithArticle("time")});
      if (!host_.Wait(ms)) throw SqlError(SQLE_INTERRUPTED);
      return {};
    }
    case K::Signal: {
      std::string state = FindException(s.name);
      if (state.empty()) throw SqlError(SQLE_SYNTAX_ERROR, {"exception '" + s.name + "' is not declared"});
      throw ProcError{SqlError(SQLE_USER_DEFINED_EXCEPTION, {s.name}), state};
    }
    case K::Resignal: {
      if (!s.name.empty()) {
        std::string state = FindException(s.name);
        if (state.empty()) throw SqlError(SQLE_SYNTAX_ERROR, {"exception '" + s.name + "' is not declared"});
        throw ProcError{SqlError(SQLE_USER_DEFINED_EXCEPTION, {s.name}), state};
      }
      if (active_.empty()) throw SqlError(SQLE_SYNTAX_ERROR, {"RESIGNAL outside an exception handler"});
      throw active_.back();
    }
    case K::RaisError: Raise(s); return {};
  }
  return {};
}

ProcCallResult Runner::Run(const std::vector<std::optional<Value>>& args) {
  if (args.size() != def_.params.size()) throw SqlError(SQLE_WRONG_PARAMETER_COUNT, {def_.name});
  scopes_.emplace_back();
  for (size_t i = 0; i < def_.params.size(); ++i) {
    const ProcParam& p = def_.params[i];
    Value v;
    if (args[i]) {
      v = *args[i];
    } else if (p.hasDefault) {
      v = Eval(p.defaultExpr);
    } else if (p.mode == ParmMode::In) {
      throw SqlError(SQLE_WRONG_PARAMETER_COUNT, {def_.name});
    }
    // OUT parameters start NULL whatever the caller passed.
    if (p.mode == ParmMode::Out) v = Value();
    scopes_.back().vars.push_back({p.name, p.type, v.IsNull() ? Value() : CoerceToType(v, p.type)});
  }
  Flow f = ExecBlock(*def_.body);
  if (f.kind == Flow::Leave || f.kind == Flow::Iterate) throw SqlError(SQLE_LABEL_NOT_FOUND, {f.label});
  ProcCallResult r;
  for (const Variable& v : scopes_.front().vars) r.params.push_back(v.value);
  if (def_.isFunction) {
    r.returnValue = return_.IsNull() ? Value() : CoerceToType(return_, def_.returns);
  } else {
    r.returnValue = return_.IsNull() ? Value::Int(0) : CoerceToType(return_, "integer");
  }
  return r;
}

bool ParseInteger(std::string_view s, int64_t& out) {
  size_t i = 0;
  while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
  size_t e = s.size();
  while (e > i && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  std::string t(s.substr(i, e - i));
  if (t.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(t.c_str(), &end, 10);
  if (errno == 0 && *end == 0) {
    out = v;
    return true;
  }
  double d = std::strtod(t.c_str(), &end);
  if (*end != 0 || !std::isfinite(d) || d >= 9.3e18 || d <= -9.3e18) return false;
  out = static_cast<int64_t>(std::trunc(d));
  return true;
}

}  // namespace

std::vector<std::optional<Value>> OrderArguments(const ProcDef& def, const std::vector<ProcArgValue>& args) {
  std::vector<std::optional<Value>> out(def.params.size());
  size_t positional = 0;
  bool named = false;
  for (const ProcArgValue& a : args) {
    if (a.name.empty()) {
      if (named) throw SqlError(SQLE_PARAMETER_NAME_MISSING, {def.name});
      if (positional >= def.params.size()) throw SqlError(SQLE_WRONG_PARAMETER_COUNT, {def.name});
      out[positional++] = a.value;
    } else {
      named = true;
      int i = def.FindParam(a.name);
      if (i < 0) throw SqlError(SQLE_INVALID_PARAMETER_NAME, {a.name, def.name});
      out[i] = a.value;
    }
  }
  return out;
}

ProcCallResult RunProc(const ProcDef& def, const std::vector<std::optional<Value>>& args, ProcHost& host) {
  if (!def.body) throw SqlError(SQLE_PROCEDURE_NOT_FOUND, {def.name});
  DepthGuard depth;
  Runner r(def, host);
  try {
    return r.Run(args);
  } catch (const ProcError& e) {
    throw e.error;
  }
}

Value CoerceToType(const Value& value, std::string_view type) {
  if (value.IsNull()) return value;
  // A typed variable holds what a column of its type holds (refusing what does not fit), in
  // the storage class its type asks for.
  const Value v = FittedValue(ColumnTypeOf(type), value, FitRules{});
  if (v.IsNull()) return v;
  std::string t = Upper(type);
  auto has = [&](const char* w) { return t.find(w) != std::string::npos; };
  auto fail = [&]() -> Value { throw SqlError(SQLE_CONVERSION_ERROR, {v.ToText(), WithArticle(Lower(type))}); };
  if (has("BINARY") || has("BLOB") || has("IMAGE")) {
    if (v.kind == Value::Kind::Blob) return v;
    return Value::Blob(v.kind == Value::Kind::Text ? v.bytes : v.ToText());
  }
  if (has("CHAR") || has("TEXT") || has("DATE") || has("TIME") || has("XML") || has("UNIQUEIDENTIFIER")) {
    if (v.kind == Value::Kind::Text) return v;
    return Value::Text(v.kind == Value::Kind::Blob ? v.bytes : v.ToText());
  }
  if (has("INT") || has("BIT")) {
    int64_t out = 0;
    switch (v.kind) {
      case Value::Kind::Integer: out = v.i; break;
      case Value::Kind::Real:
        if (!std::isfinite(v.d) || v.d >= 9.3e18 || v.d <= -9.3e18) return fail();
        out = static_cast<int64_t>(std::trunc(v.d));
        break;
      default:
        if (!ParseInteger(v.bytes, out)) return fail();
    }
    if (has("BIT") && out != 0 && out != 1) return fail();
    return Value::Int(out);
  }
  if (has("DOUBLE") || has("FLOAT") || has("REAL") || has("NUMERIC") || has("DECIMAL") || has("MONEY")) {
    switch (v.kind) {
      case Value::Kind::Integer: return Value::Real(static_cast<double>(v.i));
      case Value::Kind::Real: return v;
      default: {
        std::string s = v.bytes;
        char* end = nullptr;
        double d = std::strtod(s.c_str(), &end);
        while (end && *end && std::isspace(static_cast<unsigned char>(*end))) ++end;
        if (s.empty() || end == s.c_str() || *end != 0) return fail();
        return Value::Real(d);
      }
    }
  }
  return v;
}

int64_t ParseDelay(std::string_view lit) {
  // [[hh:]mm:]ss[.fff]
  std::vector<std::string> parts;
  std::string cur;
  for (char c : lit) {
    if (c == ':') {
      parts.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  parts.push_back(cur);
  if (parts.empty() || parts.size() > 3) return -1;
  int64_t ms = 0;
  for (size_t i = 0; i < parts.size(); ++i) {
    const std::string& p = parts[i];
    bool last = i + 1 == parts.size();
    if (p.empty()) return -1;
    size_t dot = p.find('.');
    if (dot != std::string::npos && !last) return -1;
    std::string whole = p.substr(0, dot);
    if (whole.empty() || whole.size() > 6) return -1;
    for (char c : whole)
      if (!std::isdigit(static_cast<unsigned char>(c))) return -1;
    ms = ms * 60 + std::atoll(whole.c_str());
    if (last) {
      ms *= 1000;
      if (dot != std::string::npos) {
        std::string frac = p.substr(dot + 1);
        if (frac.empty() || frac.size() > 9) return -1;
        for (char c : frac)
          if (!std::isdigit(static_cast<unsigned char>(c))) return -1;
        frac.resize(3, '0');
        ms += std::atoll(frac.substr(0, 3).c_str());
      }
    }
  }
  return ms;
}

}  // namespace dbl
