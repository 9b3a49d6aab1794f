// The interactive SQL tool over TAsaSession and TAsaSQL.
//
// Statements that can return rows (SELECT, WITH, CALL ...) are opened read-only and printed
// result set by result set: a procedure's further result sets are reached with Resume until the
// statement is no longer inside the procedure. Other statements are executed directly and
// report the rows they affected; a statement with "?" markers (a CALL with output parameters) is
// prepared and executed instead, and its output variables are printed. Errors are the session's
// LastError; what the components raise (errors the library detects itself) is caught and kept
// the same way.
#include "tools/isql/IsqlAsa.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "asa/ZylAsa.h"
#include "components/ZylAsaDS.h"
#include "tools/isql/IsqlSplit.h"
#include "tools/isql/IsqlText.h"

namespace zylisql {
namespace {

bool IsNumericType(TZyloFieldTypes T) {
  return T == ztInteger || T == ztInt64 || T == ztFloat || T == ztCurrency || T == ztBoolean;
}

std::string Hex(const uint8_t* Data, size_t Size) {
  static const char digits[] = "0123456789abcdef";
  std::string out = "0x";
  out.reserve(2 + Size * 2);
  for (size_t i = 0; i < Size; ++i) {
    out += digits[Data[i] >> 4];
    out += digits[Data[i] & 15];
  }
  return out;
}

std::string FloatText(double V) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.15g", V);
  return buf;
}

// The text of one value as the printers want it.
TCell CellOfValue(const Variant& V, TZyloFieldTypes Type) {
  if (V.IsNull() || V.IsEmpty()) return TCell::NullCell();
  switch (Type) {
    case ztBinary:
    case ztBlob: {
      std::vector<uint8_t> bytes = VarArrayToBytes(V);
      if (bytes.empty() && VarIsStr(V)) {
        AnsiString s = V.AsString();
        bytes.assign(s.begin(), s.end());
      }
      TCell c = TCell::Of(Hex(bytes.data(), bytes.size()));
      c.Binary = true;
      c.Length = static_cast<int64_t>(bytes.size());
      return c;
    }
    case ztDate: return TCell::Of(DateToStr(V.AsDateTime()));
    case ztTime: return TCell::Of(TimeToStr(V.AsDateTime()));
    case ztDateTime: {
      TDateTime d = V.AsDateTime();
      return TCell::Of(DateToStr(d) + " " + TimeToStr(d));
    }
    case ztFloat: return TCell::Of(FloatText(V.AsDouble()));
    case ztCurrency: return TCell::Of(CurrToStr(V.AsCurrency()));
    case ztBoolean: return TCell::Of(V.AsBoolean() ? "1" : "0");
    case ztInteger:
    case ztInt64: return TCell::Of(std::to_string(V.AsInt64()));
    default: return TCell::Of(VarToStr(V));
  }
}

TCell CellOfField(TZyloSQL& Q, int32_t Index) {
  TZyloFieldDef* def = Q.GetField(Variant(Index));
  if (!def || Q.IsFieldNull(Variant(Index))) return TCell::NullCell();
  if (def->FieldType == ztMemo || def->FieldType == ztBlob) {
    // The whole long value, however long: the printers decide how much of it to show.
    TMemoryStream m;
    Q.BlobToStream(Variant(Index), &m);
    const uint8_t* p = static_cast<const uint8_t*>(m.Memory());
    size_t n = static_cast<size_t>(m.Size());
    if (def->FieldType == ztBlob) {
      TCell c = TCell::Of(Hex(p, n));
      c.Binary = true;
      c.Length = static_cast<int64_t>(n);
      return c;
    }
    return TCell::Of(std::string(reinterpret_cast<const char*>(p), n));
  }
  Variant v;
  Q.GetFieldValue(Variant(Index), v);
  return CellOfValue(v, def->FieldType);
}

std::vector<TColumn> ColumnsOf(TZyloFieldDefs& Defs) {
  std::vector<TColumn> cols;
  for (int32_t i = 0; i < Defs.Count(); ++i) {
    TZyloFieldDef* d = Defs.Items(i);
    cols.push_back({d ? d->Name : std::string(), d && IsNumericType(d->FieldType)});
  }
  return cols;
}

// A value typed in .update: 'text' (marked by the parser with a leading quote), NULL, or a
// number; anything else is taken as text.
Variant ValueOf(const std::string& Text) {
  if (!Text.empty() && Text[0] == '\'') return Variant(AnsiString(Text.substr(1)));
  std::string upper;
  for (char c : Text) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (upper == "NULL") return Variant::Null();
  char* end = nullptr;
  errno = 0;
  long long i = std::strtoll(Text.c_str(), &end, 10);
  if (!Text.empty() && *end == '\0' && errno == 0) {
    if (i >= INT32_MIN && i <= INT32_MAX) return Variant(static_cast<int>(i));
    return Variant(i);
  }
  errno = 0;
  double d = std::strtod(Text.c_str(), &end);
  if (!Text.empty() && *end == '\0' && errno == 0) return Variant(d);
  return Variant(AnsiString(Text));
}

bool IsRowCountVerb(const std::string& K) {
  return K == "INSERT" || K == "UPDATE" || K == "DELETE" || K == "MERGE";
}

// Data definition, which the server commits together with everything before it. Connection
// variables are no data definition.
bool CommitsImplicitly(const std::string& Sql) {
  std::string k = LeadingKeyword(Sql);
  if (k == "GRANT" || k == "REVOKE") return true;
  if (k != "CREATE" && k != "ALTER" && k != "DROP") return false;
  std::string rest = Sql.substr(Sql.find_first_not_of(" \t\r\n(") + k.size());
  return LeadingKeyword(rest) != "VARIABLE";
}

// Errors after which the server has rolled the whole transaction back.
bool RolledBackTransaction(int32_t Code) {
  return (Code <= -301 && Code >= -307) || Code == -309;
}

}  // namespace

TAsaDatabase::TAsaDatabase()
    : FSession(std::make_unique<TAsaSession>(nullptr)),
      FQuery(std::make_unique<TAsaSQL>(nullptr)),
      FCursor(std::make_unique<TAsaDataset>(nullptr)),
      FInsert(std::make_unique<TAsaSQL>(nullptr)) {
  FSession->SetWantExceptions(false);
  // The user's statements stay in one transaction until COMMIT or ROLLBACK, and the tool says
  // what becomes of uncommitted work at the end (TShell::Finish), not the disconnect.
  FSession->SetAutoCommit(false);
  FSession->SetCommitOnDisconnect(false);
  FQuery->SetSession(FSession.get());
  FCursor->SetSession(FSession.get());
  FCursor->SetReadOnly(false);
  FCursor->SetParamCheck(false);  // the user's text goes to the server as typed
  FInsert->SetSession(FSession.get());
  // The library calls this now and then while a request runs, on the thread inside the
  // request: a cancel asked for by the user (Ctrl-C) goes out through the session here.
  FSession->OnServerWait = [this](TObject*, bool& Abort) {
    if (CancelRequested()) Abort = true;
  };
  FSession->OnServerMessage = [this](TObject*, TServerMessageType Type, int32_t, const AnsiString& Msg) {
    if (!FSink) return;
    const char* kind = Type == smtWarning ? "warning" : Type == smtAction ? "action" : Type == smtStatus ? "status" : "message";
    FSink(std::string(kind) + ": " + Msg);
  };
}

bool TAsaDatabase::Guarded(const std::function<bool()>& Body, const std::function<void()>& Cleanup) {
  try {
    return Body();
  } catch (const EZyloException& e) {
    if (Cleanup) Cleanup();
    return Fail(e.Message(), e.GetErrorCode());
  } catch (const EZyloDatasetError& e) {
    if (Cleanup) Cleanup();
    return Fail(e.Message(), e.GetErrorCode());
  } catch (const Exception& e) {
    if (Cleanup) Cleanup();
    return Fail(e.Message(), 0);
  }
}

TAsaDatabase::~TAsaDatabase() {
  // Statements go before their session.
  FInsert.reset();
  FCursor.reset();
  FQuery.reset();
  Disconnect();
}

bool TAsaDatabase::Fail(const std::string& Text, int32_t Code) {
  FError = Text;
  FErrorCode = Code;
  return false;
}

int32_t TAsaDatabase::ErrorCode() { return FError.empty() ? FSession->GetLastErrorCode() : FErrorCode; }

std::string TAsaDatabase::ErrorText() {
  if (!FError.empty()) return FError;
  std::string t = FSession->GetLastError();
  return t.empty() ? std::string("the operation failed") : t;
}

void TAsaDatabase::SetMessageSink(std::function<void(const std::string&)> Sink) { FSink = std::move(Sink); }

void TAsaDatabase::Warn() {
  int32_t code = FSession->GetLastErrorCode();
  if (code > 0 && code != 100 && code != 105 && FSink && !FSession->GetLastError().empty())
    FSink(FSession->GetLastError());
}

bool TAsaDatabase::Connect(const TConnectParams& P, const TOptions& Options) {
  FError.clear();
  return Guarded([&] {
    if (!Options.Library.empty()) FSession->SetLibraryFile(Options.Library);
    if (!Options.LibraryPath.empty()) FSession->SetLibraryPath(Options.LibraryPath);
    FSession->SetLoginEngineName(P.Engine);
    // The session enters the library's directory while it connects, so a database file named
    // relative to where the user stands is made absolute first.
    std::string database = P.Database;
    if (P.DatabaseIsFile && !database.empty() && std::filesystem::path(database).is_relative())
      database = std::filesystem::absolute(database).string();
    FSession->SetLoginDatabase(database);
    FSession->SetLoginUser(P.User);
    FSession->SetLoginPassword(P.Password);
    FSession->SetClientParams(P.ClientParams);
    FSession->SetServerParams(P.ServerParams);
    // A database given as a file is started on a server of its own unless told otherwise.
    TAsaServerType type = P.DatabaseIsFile ? stServer : stClient;
    if (P.ServerType == "client") type = stClient;
    else if (P.ServerType == "server") type = stServer;
    else if (P.ServerType == "workgroup") type = stWorkgroup;
    FSession->SetServerType(type);
    FSession->Open();
    return FSession->GetConnected() || Fail("not connected", 0);
  });
}

void TAsaDatabase::Disconnect() {
  if (!FSession) return;
  try {
    FSession->Close();
  } catch (const Exception&) {
    // Leaving anyway: the error has nowhere to go.
  }
}

bool TAsaDatabase::Run(const std::string& Sql, TPrinter& Out) {
  FError.clear();
  const std::string verb = LeadingKeyword(Sql);
  int64_t rows = 0;
  bool ok = Guarded(
      [&] {
        bool markers = HasMarkers(Sql);
        if (verb == "CALL" || verb == "EXEC" || verb == "EXECUTE") return RunCall(Sql, markers, Out);
        if (ReturnsRows(Sql) && !markers) return RunQuery(Sql, Out);
        bool done = RunExecute(Sql, markers, Out);
        rows = FQuery->GetRowsProcessed();
        return done;
      },
      [&] { FQuery->Close(); });
  if (ok && CommitsImplicitly(Sql)) FUncommitted = false;
  else Track(verb, ok, rows);
  return ok;
}

void TAsaDatabase::Track(const std::string& Verb, bool Ok, int64_t Rows) {
  if (Ok) {
    if ((IsRowCountVerb(Verb) && Rows > 0) || Verb == "CALL" || Verb == "EXEC" || Verb == "EXECUTE" ||
        Verb == "BEGIN" || Verb == "TRUNCATE" || Verb == "LOAD")
      FUncommitted = true;
    return;
  }
  if (RolledBackTransaction(ErrorCode())) {
    // The server ended the transaction; the session learns it too, so that both agree. The
    // error stays the statement's.
    std::string text = ErrorText();
    int32_t code = ErrorCode();
    FSession->Rollback();
    if (text.find("rolled back") == std::string::npos) text += " (the transaction was rolled back)";
    Fail(text, code);
    FUncommitted = false;
  }
}

bool TAsaDatabase::Execute(const std::string& Sql) {
  FError.clear();
  return Guarded([&] { return FQuery->ExecuteImmediate(AnsiString(Sql)) || FSession->GetLastErrorCode() >= 0; });
}

bool TAsaDatabase::Query(const std::string& Sql, std::vector<std::vector<TCell>>& Rows) {
  FError.clear();
  Rows.clear();
  TAsaSQL q(nullptr);
  q.SetSession(FSession.get());
  return Guarded(
      [&] {
        bool row = q.OpenRead(AnsiString(Sql), {ZylEmptyParam});
        if (!q.GetActive()) return false;
        if (!row && FSession->GetLastErrorCode() < 0) return false;
        for (; row; row = q.Next()) {
          std::vector<TCell> cells;
          for (int32_t i = 0; i < q.GetFieldCount(); ++i) cells.push_back(CellOfField(q, i));
          Rows.push_back(std::move(cells));
        }
        bool ok = FSession->GetLastErrorCode() >= 0;
        q.Close();
        return ok;
      },
      [&] { q.Close(); });
}

bool TAsaDatabase::Transaction(TTxnOp Op) {
  FError.clear();
  return Guarded([&] {
    switch (Op) {
      case TTxnOp::toBegin:
        // Already in one: the transaction the user asked for is there.
        if (!FSession->GetInTransaction()) FSession->StartTransaction();
        return FSession->GetLastErrorCode() >= 0;
      case TTxnOp::toCommit:
        FCursor->Close();
        FSession->Commit();
        if (FSession->GetLastErrorCode() < 0) return false;
        FUncommitted = false;
        return true;
      case TTxnOp::toRollback:
        FCursor->Close();
        FSession->Rollback();
        if (FSession->GetLastErrorCode() < 0) return false;
        FUncommitted = false;
        return true;
    }
    return false;
  });
}

bool TAsaDatabase::PrepareInsert(const std::string& Table, const std::vector<std::string>& Columns) {
  FError.clear();
  std::string sql = "INSERT INTO " + Table + " (";
  for (size_t i = 0; i < Columns.size(); ++i) sql += (i ? ", " : "") + Columns[i];
  sql += ") VALUES (";
  for (size_t i = 0; i < Columns.size(); ++i) sql += i ? ", ?" : "?";
  sql += ")";
  return Guarded([&] {
    FInsert->PrepareExecute(AnsiString(sql));
    return FInsert->GetExecPrepared() || Fail("the INSERT could not be prepared", 0);
  });
}

bool TAsaDatabase::InsertRow(const std::vector<TCell>& Values) {
  FError.clear();
  TVariantArray params;
  for (const TCell& c : Values) params.push_back(c.Null ? Variant::Null() : Variant(AnsiString(c.Text)));
  bool ok = Guarded([&] { return FInsert->ExecutePrepared(params) || FSession->GetLastErrorCode() >= 0; });
  Track("INSERT", ok, 1);
  return ok;
}

void TAsaDatabase::EndInsert() {
  try {
    FInsert->UnprepareExecute();
  } catch (const Exception&) {
    // Nothing is left to clean up that matters.
  }
}

void TAsaDatabase::PrintResultSet(TZyloSQL& Q, bool HasRow, TPrinter& Out) {
  Out.BeginResult(ColumnsOf(*Q.GetFieldDefs()));
  int64_t rows = 0;
  const int32_t n = Q.GetFieldCount();
  std::vector<TCell> cells(static_cast<size_t>(n));
  for (bool more = HasRow; more; more = Q.Next()) {
    // Ctrl-C between rows, or a pager that was quit: no more rows are fetched.
    if (CancelRequested()) {
      Out.EndResult(rows);
      Fail("Statement interrupted by user", -299);
      throw EZyloException("Statement interrupted by user", -299);
    }
    if (Out.Stopped()) break;
    for (int32_t i = 0; i < n; ++i) cells[static_cast<size_t>(i)] = CellOfField(Q, i);
    Out.Row(cells);
    ++rows;
  }
  Out.EndResult(rows);
}

// A procedure call is prepared first: one that returns result sets is opened as a cursor and
// every result set printed; any other one is executed, so that its output parameters ("?"
// markers, or connection variables named as arguments) come back.
bool TAsaDatabase::RunCall(const std::string& Sql, bool WithMarkers, TPrinter& Out) {
  TAsaSQL& q = *FQuery;
  q.PrepareOpen(Sql);
  if (!q.GetPrepared()) return false;
  if (q.GetResumable()) {
    q.UnprepareOpen();
    return WithMarkers ? RunCallWithOutputs(Sql, Out) : RunQuery(Sql, Out);
  }
  // A library before version 6 cannot say whether a result varies: described columns without
  // markers are then taken for the procedure's one result set. From version 6 on, a call whose
  // result does not vary returns none, and its described columns are its output parameters.
  if (FSession->Version() < 6 && q.GetFieldCount() > 0 && !WithMarkers) {
    bool ok = RunQuery(Sql, Out);
    q.UnprepareOpen();
    return ok;
  }
  q.UnprepareOpen();
  return RunExecute(Sql, WithMarkers, Out);
}

namespace {

// Connection variables made for one call, dropped again however the call ends.
class TOutputVariables {
 public:
  explicit TOutputVariables(TAsaSQL& Q) : FQuery(Q) {}
  TOutputVariables(const TOutputVariables&) = delete;
  TOutputVariables& operator=(const TOutputVariables&) = delete;
  ~TOutputVariables() {
    for (const std::string& n : FNames) {
      try {
        FQuery.ExecuteImmediate(AnsiString("DROP VARIABLE " + n));
      } catch (const Exception&) {
        // The connection is gone or the variable with it: nothing is left to drop.
      }
    }
  }
  bool Create(const std::string& Name, const std::string& Type) {
    if (!FQuery.ExecuteImmediate(AnsiString("CREATE VARIABLE " + Name + " " + Type))) return false;
    FNames.push_back(Name);
    return true;
  }
  const std::vector<std::string>& Names() const { return FNames; }

 private:
  TAsaSQL& FQuery;
  std::vector<std::string> FNames;
};

}  // namespace

// A call with output markers that also returns result sets. Opening it as a cursor brings no
// output values back, so each marker becomes a connection variable of its parameter's declared
// type (from the catalog): the procedure stores into the variables, the result sets are
// printed, then the variables are read and shown as the output parameters.
bool TAsaDatabase::RunCallWithOutputs(const std::string& Sql, TPrinter& Out) {
  TAsaSQL& q = *FQuery;
  struct TParam {
    std::string Name, Type;
    bool Output = false;
  };
  TCallText call = ParseCallText(Sql);
  std::vector<TParam> params;
  if (call.Ok) {
    std::string name = call.Name;
    for (size_t p = name.find('\''); p != std::string::npos; p = name.find('\'', p + 2)) name.insert(p, 1, '\'');
    TAsaSQL catalog(nullptr);
    catalog.SetSession(FSession.get());
    bool row = catalog.OpenRead(
        AnsiString("SELECT pp.parm_name, pp.parm_mode_out, d.domain_name, pp.width, pp.scale FROM sys.sysprocparm pp "
                   "JOIN sys.sysprocedure p ON p.proc_id = pp.proc_id JOIN sys.sysdomain d ON d.domain_id = pp.domain_id "
                   "WHERE p.proc_name = '" + name + "' AND pp.parm_type = 0 ORDER BY pp.parm_id"),
        {ZylEmptyParam});
    for (; row; row = catalog.Next()) {
      Variant v;
      auto text = [&](int32_t i) {
        catalog.GetFieldValue(Variant(i), v);
        return catalog.IsFieldNull(Variant(i)) ? std::string() : std::string(v.AsString());
      };
      TParam p;
      p.Name = text(0);
      p.Output = Upper(text(1)) == "Y";
      std::string domain = text(2), width = text(3), scale = text(4);
      const std::string d = Upper(domain);
      if (d == "DECIMAL" || d == "NUMERIC") p.Type = domain + "(" + width + "," + scale + ")";
      else if (d == "CHAR" || d == "VARCHAR" || d == "BINARY" || d == "VARBINARY") p.Type = domain + "(" + width + ")";
      else p.Type = domain;
      params.push_back(p);
    }
    catalog.Close();
  }
  // Each marker must be a whole argument standing for an output parameter.
  std::vector<const TParam*> outputs;
  size_t positional = 0;
  bool usable = call.Ok && !params.empty();
  for (const std::string& arg : call.Args) {
    if (!usable) break;
    const TParam* target = nullptr;
    std::string value = arg;
    size_t eq = arg.find('=');
    std::string named = eq == std::string::npos ? std::string() : Trim(arg.substr(0, eq));
    bool isName = !named.empty() && HasMarkers(arg.substr(eq + 1)) && !HasMarkers(named);
    if (isName) {
      value = Trim(arg.substr(eq + 1));
      for (const TParam& p : params)
        if (Upper(p.Name) == Upper(named)) target = &p;
    } else if (positional < params.size()) {
      target = &params[positional++];
    }
    if (!HasMarkers(value)) continue;
    if (value != "?" || !target || !target->Output) usable = false;
    else outputs.push_back(target);
  }
  if (!usable || outputs.size() != MarkerPositions(Sql).size()) {
    bool ok = RunQuery(Sql, Out);
    if (ok) Out.Info("(output parameters are not returned by a procedure that returns result sets)");
    return ok;
  }
  TOutputVariables vars(q);
  for (size_t k = 0; k < outputs.size(); ++k)
    if (!vars.Create("zyl_isql_out_" + std::to_string(k + 1), outputs[k]->Type)) return false;
  if (!RunQuery(ReplaceMarkers(Sql, vars.Names()), Out)) return false;
  std::string select = "SELECT ";
  for (size_t k = 0; k < vars.Names().size(); ++k) select += (k ? ", " : "") + vars.Names()[k];
  if (!q.OpenRead(AnsiString(select), {ZylEmptyParam})) {
    q.Close();
    return FSession->GetLastErrorCode() >= 0;
  }
  std::vector<TColumn> labels;
  std::vector<TCell> values;
  for (size_t k = 0; k < outputs.size(); ++k) {
    const int32_t i = static_cast<int32_t>(k);
    labels.push_back({outputs[k]->Name, IsNumericType(q.GetFieldType(Variant(i)))});
    values.push_back(CellOfField(q, i));
  }
  q.Close();
  Out.OutParams(labels, values);
  return true;
}

bool TAsaDatabase::RunQuery(const std::string& Sql, TPrinter& Out) {
  TAsaSQL& q = *FQuery;
  bool hasRow = false;
  try {
    // Open reuses a cursor already prepared with the same text.
    hasRow = q.OpenRead(Sql, {ZylEmptyParam});
  } catch (const EZyloException& e) {
    // A procedure that made no result set: it ran, and there is nothing to show.
    if (q.GetActive() && FSession->GetLastErrorCode() >= 0) {
      q.Close();
      Out.Info("procedure completed");
      return true;
    }
    throw;
  }
  int32_t code = FSession->GetLastErrorCode();
  if (!q.GetActive()) {
    if (code < 0) return false;
    Out.Info("procedure completed");
    return true;
  }
  if (!hasRow && code < 0) {
    q.Close();
    return false;
  }
  if (q.GetFieldCount() > 0) PrintResultSet(q, hasRow, Out);
  while (q.GetStillInProc()) {
    bool row = q.Resume();
    if (!q.GetStillInProc()) break;
    if (FSession->GetLastErrorCode() < 0) {
      q.Close();
      return false;
    }
    PrintResultSet(q, row, Out);
  }
  int32_t last = FSession->GetLastErrorCode();
  if (last < 0) {
    q.Close();
    return false;
  }
  Warn();
  q.Close();
  return true;
}

bool TAsaDatabase::RunExecute(const std::string& Sql, bool WithMarkers, TPrinter& Out) {
  TAsaSQL& q = *FQuery;
  std::string verb = LeadingKeyword(Sql);
  if (!WithMarkers) {
    if (!q.ExecuteImmediate(Sql)) {
      if (FSession->GetLastErrorCode() < 0) return false;
    }
    Warn();
    if (IsRowCountVerb(verb)) Out.Affected(q.GetRowsProcessed());
    else Out.Info("ok");
    return true;
  }
  // Markers stand for output parameters (a procedure call); inputs are given in the text.
  bool ok = q.Execute(Sql, {ZylEmptyParam});
  if (!ok && FSession->GetLastErrorCode() < 0) {
    q.UnprepareExecute();
    return false;
  }
  Warn();
  TZyloVariableDefs* outs = q.GetOutVariables();
  if (outs->Count() > 0) {
    std::vector<TColumn> names;
    std::vector<TCell> values;
    for (int32_t i = 0; i < outs->Count(); ++i) {
      TZyloFieldDef* d = outs->Items(i);
      Variant v;
      q.GetOutVar(Variant(i), v);
      names.push_back({d->Name, IsNumericType(d->FieldType)});
      values.push_back(CellOfValue(v, d->FieldType));
    }
    Out.OutParams(names, values);
  } else if (IsRowCountVerb(verb)) {
    Out.Affected(q.GetRowsProcessed());
  } else {
    Out.Info("ok");
  }
  q.UnprepareExecute();
  return true;
}

bool TAsaDatabase::Explain(const std::string& Sql, std::string& Plan) {
  FError.clear();
  TAsaSQL& q = *FQuery;
  return Guarded(
      [&] {
        if (!q.Open(Sql, {ZylEmptyParam}, true)) return false;
        Plan = q.Explain();
        bool ok = FSession->GetLastErrorCode() >= 0;
        q.Close();
        return ok;
      },
      [&] { q.Close(); });
}

bool TAsaDatabase::Backup(const std::string& Directory, const TBackupProgress& Progress) {
  FError.clear();
  std::error_code ec;
  std::filesystem::create_directories(Directory, ec);
  if (ec) return Fail("cannot create the directory '" + Directory + "': " + ec.message(), 0);
  FSession->OnBackup = [&](TObject*, const AnsiString& File, int32_t Page, int32_t Pages, bool&) {
    if (Progress) Progress(File, Page, Pages);
  };
  bool ok = Guarded([&] { return FSession->Backup(Directory, btFull); });
  FSession->OnBackup = nullptr;
  return ok;
}

void TAsaDatabase::PrintCurrentRow(TPrinter& Out) {
  TAsaDataset& d = *FCursor;
  if (d.IsEmpty()) {
    Out.Info("no rows");
    return;
  }
  TZyloSQL* q = d.GetStatement();
  Out.BeginResult(ColumnsOf(*q->GetFieldDefs()));
  std::vector<TCell> cells;
  for (int i = 0; i < d.FieldCount(); ++i) {
    TField* f = d.Fields(i);
    const TZyloFieldDef* def = f->FieldNo() > 0 ? q->GetFieldDefs()->Items(f->FieldNo() - 1) : nullptr;
    if (!def || f->IsNull()) {
      cells.push_back(TCell::NullCell());
    } else if (def->FieldType == ztMemo) {
      cells.push_back(TCell::Of(f->GetAsString()));
    } else if (def->FieldType == ztBlob) {
      const AnsiString bytes = f->GetAsString();
      TCell c = TCell::Of(Hex(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
      c.Binary = true;
      c.Length = static_cast<int64_t>(bytes.size());
      cells.push_back(c);
    } else {
      cells.push_back(CellOfValue(f->GetValue(), def->FieldType));
    }
  }
  Out.Row(cells);
  Out.EndResult(1);
  Out.Info("at row " + std::to_string(d.RecNo()));
}

bool TAsaDatabase::ProcParams(const std::string& Name, TPrinter& Out) {
  FError.clear();
  static const char* const Directions[] = {"unknown", "in", "inout", "out", "result"};
  static const char* const Types[] = {"unknown", "string",   "integer", "int64",  "float", "currency", "date",
                                      "time",    "datetime", "boolean", "binary", "memo",  "blob"};
  return Guarded([&] {
    // Discovered exactly as an application's procedure component discovers them.
    TAsaStoredProc proc(nullptr);
    proc.SetSession(FSession.get());
    proc.SetProcName(AnsiString(Name));
    TZyloParams params;
    proc.CopyParams(&params);
    if (params.Count() == 0) {
      // No parameters, or no such procedure: the catalog tells which.
      AnsiString owner, name;
      TZyloCustomStoredProc::SplitProcName(proc.GetStoredProcName(), owner, name);
      std::string sql = "SELECT count(*) FROM sys.sysprocedure p JOIN sys.sysuserperms u ON u.user_id = p.creator"
                        " WHERE p.proc_name = " + SqlLiteral(name);
      if (!owner.empty()) sql += " AND u.user_name = " + SqlLiteral(owner);
      std::vector<std::vector<TCell>> found;
      if (!Query(sql, found)) return false;
      if (found.empty() || found[0].empty() || found[0][0].Text == "0") return Fail("no procedure " + Name, 0);
    }
    Out.BeginResult({{"parameter", false}, {"direction", false}, {"type", false}});
    for (int32_t i = 0; i < params.Count(); ++i) {
      const TZyloParam* p = params.Items(i);
      const unsigned dir = p->GetParamType(), type = p->GetDataType();
      Out.Row({TCell::Of(p->GetName()), TCell::Of(dir <= zptResult ? Directions[dir] : "unknown"),
               TCell::Of(type <= ztBlob ? Types[type] : "unknown")});
    }
    Out.EndResult(params.Count());
    Out.Info("call: " + std::string(Trim(proc.GetSQL()->GetText())));
    return true;
  });
}

bool TAsaDatabase::CursorOpen(const std::string& Sql, TPrinter& Out) {
  FError.clear();
  return Guarded([&] {
    FCursor->Close();
    FCursor->GetSQL()->SetText(Sql);
    FCursor->Open();
    PrintCurrentRow(Out);
    return true;
  });
}

bool TAsaDatabase::CursorMove(TMove Move, int32_t Row, TPrinter& Out) {
  FError.clear();
  TAsaDataset& d = *FCursor;
  if (!d.Active()) return Fail("no cursor is open (.open QUERY)", 0);
  return Guarded([&] {
    switch (Move) {
      case TMove::mvFirst: d.First(); break;
      case TMove::mvLast: d.Last(); break;
      // The cursor never leaves the result: at either end it stays on the row it stands on.
      case TMove::mvNext:
        if (d.MoveBy(1) == 0) {
          Out.Info(d.IsEmpty() ? "no rows" : "no row after row " + std::to_string(d.RecNo()) + " (the last)");
          return true;
        }
        break;
      case TMove::mvPrior:
        if (d.MoveBy(-1) == 0) {
          Out.Info(d.IsEmpty() ? "no rows" : "no row before row 1");
          return true;
        }
        break;
      case TMove::mvCurrent: d.Refresh(); break;
      case TMove::mvAbsolute: {
        const TBookmark Here = d.GetBookmark();
        d.First();
        if (d.MoveBy(Row) != Row) {
          if (!Here.empty()) d.GotoBookmark(Here);
          return Fail("the result has no row " + std::to_string(Row + 1), 0);
        }
        break;
      }
    }
    PrintCurrentRow(Out);
    return true;
  });
}

bool TAsaDatabase::AssignCursorFields(const std::vector<std::pair<std::string, std::string>>& Values) {
  for (auto& [col, text] : Values) {
    TField* f = FCursor->FindField(col);
    if (!f) return Fail("the cursor has no column " + col, 0);
    f->SetValue(ValueOf(text));
  }
  return true;
}

bool TAsaDatabase::CursorUpdate(const std::vector<std::pair<std::string, std::string>>& Values, TPrinter& Out) {
  FError.clear();
  TAsaDataset& d = *FCursor;
  if (!d.Active()) return Fail("no cursor is open (.open QUERY)", 0);
  if (d.IsEmpty()) return Fail("the cursor has no row to change", 0);
  for (auto& v : Values)
    if (!d.FindField(v.first)) return Fail("the cursor has no column " + v.first, 0);
  return Guarded(
      [&] {
        // A row another connection changed since it was read is reported, not overwritten.
        d.Edit();
        if (!AssignCursorFields(Values)) {
          d.Cancel();
          return false;
        }
        d.Post();
        FUncommitted = true;
        Out.Affected(1);
        PrintCurrentRow(Out);
        return true;
      },
      [&] { d.Cancel(); });
}

bool TAsaDatabase::CursorInsert(const std::vector<std::pair<std::string, std::string>>& Values, TPrinter& Out) {
  FError.clear();
  TAsaDataset& d = *FCursor;
  if (!d.Active()) return Fail("no cursor is open (.open QUERY)", 0);
  for (auto& v : Values)
    if (!d.FindField(v.first)) return Fail("the cursor has no column " + v.first, 0);
  return Guarded(
      [&] {
        d.Append();
        if (!AssignCursorFields(Values)) {
          d.Cancel();
          return false;
        }
        d.Post();
        FUncommitted = true;
        Out.Affected(1);
        PrintCurrentRow(Out);
        return true;
      },
      [&] { d.Cancel(); });
}

bool TAsaDatabase::CursorFind(const std::vector<std::pair<std::string, std::string>>& Values, bool CaseInsensitive,
                              bool Partial, TPrinter& Out) {
  FError.clear();
  TAsaDataset& d = *FCursor;
  if (!d.Active()) return Fail("no cursor is open (.open QUERY)", 0);
  for (auto& v : Values)
    if (!d.FindField(v.first)) return Fail("the cursor has no column " + v.first, 0);
  return Guarded([&] {
    std::string names;
    TVariantArray keys;
    for (auto& [col, text] : Values) {
      names += (names.empty() ? "" : ";") + col;
      keys.push_back(ValueOf(text));
    }
    TLocateOptions options;
    if (CaseInsensitive) options.Include(loCaseInsensitive);
    if (Partial) options.Include(loPartialKey);
    if (!d.Locate(names, keys.size() == 1 ? keys[0] : VarArrayOf(keys), options)) {
      Out.Info("no row matches");
      return true;
    }
    PrintCurrentRow(Out);
    return true;
  });
}

bool TAsaDatabase::CursorDelete(TPrinter& Out) {
  FError.clear();
  TAsaDataset& d = *FCursor;
  if (!d.Active()) return Fail("no cursor is open (.open QUERY)", 0);
  if (d.IsEmpty()) return Fail("the cursor has no row to delete", 0);
  return Guarded([&] {
    d.Delete();
    FUncommitted = true;
    Out.Affected(1);
    return true;
  });
}

bool TAsaDatabase::CursorClose() {
  FError.clear();
  return Guarded([&] {
    FCursor->Close();
    return true;
  });
}

}  // namespace zylisql
