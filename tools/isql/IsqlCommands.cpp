// The built-in commands of the interactive SQL tool: one table entry each (name, arguments,
// help line, completion, and what it does). A new command is one more entry here, or one
// TShell::AddCommand call from the program.
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "tools/isql/IsqlCsv.h"
#include "tools/isql/IsqlShell.h"
#include "tools/isql/IsqlText.h"
#include "tools/isql/IsqlWidth.h"

namespace zylisql {
namespace {

using TArgs = std::vector<TArgKind>;

bool OnOff(TShell& S, const std::string& Arg, const char* Name, bool& Value) {
  std::string v = Lower(Arg);
  if (v == "on") Value = true;
  else if (v == "off") Value = false;
  else if (!v.empty()) return S.CommandError(std::string("usage: .") + Name + " on|off");
  S.Printer().Info(std::string(Name) + (Value ? " on" : " off"));
  return true;
}

// A name as SQL text: plain identifiers as they are, anything else in double quotes.
std::string Identifier(const std::string& Name) {
  bool plain = !Name.empty() && !std::isdigit(static_cast<unsigned char>(Name[0]));
  for (char c : Name)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') plain = false;
  if (plain) return Name;
  std::string out = "\"";
  for (char c : Name) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

std::string FileProblem(const std::string& Path) {
  struct stat st;
  if (stat(Path.c_str(), &st) != 0) return std::strerror(errno);
  if (S_ISDIR(st.st_mode)) return "it is a directory";
  return std::string();
}

bool Help(TShell& S, const std::string&) {
  std::ostream& out = S.Out();
  out << "Statements end with ';' or with a line holding only 'go'. They stay in one transaction\n"
         "until COMMIT or ROLLBACK; uncommitted work is committed when the tool ends normally.\n"
         "Ctrl-C cancels the running statement, or clears what is typed. Built-in commands:\n";
  for (const TCommand& c : S.Commands()) {
    std::string head = "." + c.Name + (c.Syntax.empty() ? "" : " " + c.Syntax);
    out << "  " << head;
    if (DisplayWidth(head) > 24) out << "\n" << std::string(28, ' ');
    else out << std::string(26 - DisplayWidth(head), ' ');
    out << c.Help << "\n";
  }
  out << "Also: help, \\?, quit, exit, \\q.\n";
  out.flush();
  return true;
}

bool Describe(TShell& S, const std::string& Arg) {
  if (Arg.empty()) return S.CommandError("usage: .describe TABLE");
  std::vector<std::vector<TCell>> rows;
  if (!S.Db().Query(FindTableSql(Arg), rows)) return S.Failed();
  if (rows.empty() || rows[0].empty()) return S.CommandError("no table " + Arg);
  const std::string id = rows[0][0].Text;
  if (!S.Db().Run(DescribeTableSql(id), S.Printer())) return S.Failed();
  // Rows shorter than the queries ask for are dropped, whatever the server sends.
  auto rowsOf = [&](const std::string& Sql, size_t Width, std::vector<std::vector<TCell>>& Out) {
    if (!S.Db().Query(Sql, Out)) return false;
    Out.erase(std::remove_if(Out.begin(), Out.end(), [&](const std::vector<TCell>& r) { return r.size() < Width; }),
              Out.end());
    return true;
  };
  std::vector<std::vector<TCell>> ix;
  if (!rowsOf(IndexesSql(id), 4, ix)) return S.Failed();
  std::vector<std::string> lines;
  for (size_t i = 0; i < ix.size();) {
    const std::string name = ix[i][0].Text;
    const std::string unique = ix[i][1].Text;
    std::string cols;
    for (; i < ix.size() && ix[i][0].Text == name; ++i)
      cols += (cols.empty() ? "" : ", ") + ix[i][2].Text + (ix[i][3].Text == "D" ? " DESC" : "");
    lines.push_back("  " + name + " (" + cols + ")" + (unique == "Y" || unique == "U" ? " unique" : ""));
  }
  if (!lines.empty()) {
    S.Printer().Info("indexes:");
    for (auto& l : lines) S.Printer().Info(l);
  }
  std::vector<std::vector<TCell>> fk;
  if (!rowsOf(ForeignKeysSql(id), 5, fk)) return S.Failed();
  lines.clear();
  for (size_t i = 0; i < fk.size();) {
    const std::string key = fk[i][0].Text, role = fk[i][1].Text, parent = fk[i][3].Text;
    std::string from, to;
    for (; i < fk.size() && fk[i][0].Text == key; ++i) {
      from += (from.empty() ? "" : ", ") + fk[i][2].Text;
      to += (to.empty() ? "" : ", ") + fk[i][4].Text;
    }
    lines.push_back("  " + role + ": (" + from + ") references " + parent + " (" + to + ")");
  }
  if (!lines.empty()) {
    S.Printer().Info("foreign keys:");
    for (auto& l : lines) S.Printer().Info(l);
  }
  return true;
}

bool Explain(TShell& S, const std::string& Arg) {
  if (Arg.empty()) return S.CommandError("usage: .explain QUERY");
  std::string plan;
  if (!S.Db().Explain(Arg, plan)) return S.Failed();
  std::string shown;
  for (char c : plan) shown += c == '\n' ? std::string("\n      ") : std::string(1, c);
  S.Printer().Info("plan: " + shown);
  return true;
}

bool Backup(TShell& S, const std::string& Arg) {
  if (Arg.empty()) return S.CommandError("usage: .backup DIRECTORY");
  bool drawn = false;
  // On a terminal the bar is redrawn in place; otherwise one finished bar per file is printed.
  bool terminal = S.Options().ProgressOnTerminal;
  auto progress = [&](const std::string& File, int32_t Page, int32_t Pages) {
    if (terminal) {
      S.Err() << "\r" << ProgressBar(File, Page, Pages) << std::flush;
      drawn = true;
      if (Page >= Pages) {
        S.Err() << "\n";
        drawn = false;
      }
    } else if (Page >= Pages) {
      S.Printer().Info(ProgressBar(File, Page, Pages));
    }
  };
  bool ok = S.Db().Backup(Arg, progress);
  if (drawn) S.Err() << "\n";
  if (!ok) return S.Failed();
  S.Printer().Info("backup written to " + Arg);
  return true;
}

TCommand MoveCommand(const char* Name, std::vector<std::string> Aliases, const char* Help, TMove Move) {
  return {Name, std::move(Aliases), "", Help, {}, {},
          [Move](TShell& S, const std::string&) { return S.Db().CursorMove(Move, 0, S.Printer()) || S.Failed(); }};
}

bool Goto(TShell& S, const std::string& Arg) {
  char* end = nullptr;
  long n = std::strtol(Arg.c_str(), &end, 10);
  if (Arg.empty() || *end || n < 1 || n > 2147483647L) return S.CommandError("usage: .goto N (N from 1)");
  return S.Db().CursorMove(TMove::mvAbsolute, static_cast<int32_t>(n - 1), S.Printer()) || S.Failed();
}

bool Update(TShell& S, const std::string& Arg) {
  std::vector<std::pair<std::string, std::string>> values;
  std::string error;
  if (!ParseAssignments(Arg, values, error)) return S.CommandError(".update: " + error);
  return S.Db().CursorUpdate(values, S.Printer()) || S.Failed();
}

bool Insert(TShell& S, const std::string& Arg) {
  std::vector<std::pair<std::string, std::string>> values;
  std::string error;
  if (!ParseAssignments(Arg, values, error)) return S.CommandError(".insert: " + error);
  if (values.empty()) return S.CommandError("usage: .insert COL = VALUE, ...");
  return S.Db().CursorInsert(values, S.Printer()) || S.Failed();
}

// .find [-i] [-p] COL = VALUE, ...: -i ignores case, -p matches texts that start with the value.
bool Find(TShell& S, const std::string& Arg) {
  std::string rest = Trim(Arg);
  bool caseless = false, partial = false;
  for (;;) {
    if (rest.rfind("-i", 0) == 0 && (rest.size() == 2 || rest[2] == ' ' || rest[2] == '\t')) {
      caseless = true;
    } else if (rest.rfind("-p", 0) == 0 && (rest.size() == 2 || rest[2] == ' ' || rest[2] == '\t')) {
      partial = true;
    } else {
      break;
    }
    rest = Trim(rest.substr(2));
  }
  std::vector<std::pair<std::string, std::string>> values;
  std::string error;
  if (!ParseAssignments(rest, values, error)) return S.CommandError(".find: " + error);
  if (values.empty()) return S.CommandError("usage: .find [-i] [-p] COL = VALUE, ...");
  return S.Db().CursorFind(values, caseless, partial, S.Printer()) || S.Failed();
}

bool Read(TShell& S, const std::string& Arg) {
  std::vector<std::string> a = SplitArguments(Arg);
  if (a.size() != 1) return S.CommandError("usage: .read FILE");
  return S.ReadFile(a[0]);
}

bool Output(TShell& S, const std::string& Arg) {
  std::vector<std::string> a = SplitArguments(Arg);
  if (a.size() > 1) return S.CommandError("usage: .output [FILE]");
  std::string problem = a.empty() ? std::string() : FileProblem(a[0]);
  if (problem == "it is a directory") return S.CommandError("cannot write '" + a[0] + "': " + problem);
  std::string error;
  if (!S.RedirectOutput(a.empty() ? std::string() : a[0], error)) return S.CommandError(error);
  return true;
}

bool SetFormat(TShell& S, const std::string& Arg) {
  TFormat f = S.Settings().Format;
  if (!Arg.empty() && !ParseFormat(Lower(Arg), f)) return S.CommandError("usage: .format table|csv|json");
  S.Settings().Format = f;
  S.SettingsChanged();
  S.Printer().Info(std::string("format ") + FormatName(f));
  return true;
}

bool SetExpanded(TShell& S, const std::string& Arg) {
  std::string v = Lower(Arg);
  TExpanded& e = S.Settings().Expanded;
  if (v == "on") e = TExpanded::exOn;
  else if (v == "off") e = TExpanded::exOff;
  else if (v == "auto") e = TExpanded::exAuto;
  else if (!v.empty()) return S.CommandError("usage: .expanded on|off|auto");
  S.SettingsChanged();
  S.Printer().Info(std::string("expanded ") + (e == TExpanded::exOn ? "on" : e == TExpanded::exOff ? "off" : "auto"));
  return true;
}

bool SetNullValue(TShell& S, const std::string& Arg) {
  std::vector<std::string> a = SplitArguments(Arg);
  if (a.size() > 1) return S.CommandError("usage: .nullvalue TEXT ('quoted' when it holds blanks)");
  S.Settings().NullText = a.empty() ? std::string(kNullMarker) : a[0];
  S.SettingsChanged();
  S.Printer().Info("NULL shows as '" + S.Settings().NullText + "'");
  return true;
}

// .export: the last word is the file; before it a table name or a query.
bool Export(TShell& S, const std::string& Arg) {
  std::string text = Trim(Arg), file, what;
  if (!text.empty() && (text.back() == '\'' || text.back() == '"')) {
    char q = text.back();
    size_t open = text.size() - 1;
    while (open > 0) {
      size_t at = text.rfind(q, open - 1);
      if (at == std::string::npos) break;
      if (at > 0 && text[at - 1] == q) {
        open = at - 1;
        continue;
      }
      open = at;
      break;
    }
    std::vector<std::string> w = SplitArguments(text.substr(open));
    file = w.empty() ? std::string() : w[0];
    what = Trim(text.substr(0, open));
  } else {
    size_t sp = text.find_last_of(" \t");
    if (sp != std::string::npos) {
      file = text.substr(sp + 1);
      what = Trim(text.substr(0, sp));
    }
  }
  if (file.empty() || what.empty()) return S.CommandError("usage: .export TABLE|QUERY FILE");
  std::string sql = what.find_first_of(" \t\n(") == std::string::npos ? "SELECT * FROM " + what : what;
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  if (!out) return S.CommandError("cannot write '" + file + "': " + std::strerror(errno));
  std::ostringstream notes;
  TPrintSettings settings;
  settings.Format = TFormat::fmCsv;
  auto printer = MakePrinter(settings, out, notes, S.Err());
  // Count the rows through the notes the printer writes ("(N rows)").
  bool ok = S.Db().Run(sql, *printer);
  out.close();
  if (!ok || !out) {
    std::remove(file.c_str());
    if (!ok) return S.Failed();
    return S.CommandError("cannot write '" + file + "'");
  }
  int64_t rows = 0;
  std::string line;
  std::istringstream counts(notes.str());
  while (std::getline(counts, line))
    if (line.size() > 2 && line[0] == '(') rows += std::strtoll(line.c_str() + 1, nullptr, 10);
  S.Printer().Info(std::to_string(rows) + (rows == 1 ? " row" : " rows") + " exported to " + file);
  return true;
}

// The column of a row that a conversion error names: the value the message quotes.
int GuessColumn(const std::string& Message, const std::vector<TCell>& Values) {
  int found = -1;
  for (size_t i = 0; i < Values.size(); ++i) {
    if (Values[i].Null || Values[i].Text.empty()) continue;
    if (Message.find("'" + Values[i].Text + "'") != std::string::npos) {
      if (found >= 0) return -1;  // two columns hold it: say neither
      found = static_cast<int>(i);
    }
  }
  return found;
}

bool Import(TShell& S, const std::string& Arg) {
  std::vector<std::string> a = SplitArguments(Arg);
  if (a.size() != 2) return S.CommandError("usage: .import FILE TABLE");
  const std::string& file = a[0];
  std::string problem = FileProblem(file);
  if (!problem.empty()) return S.CommandError("cannot read '" + file + "': " + problem);
  std::ifstream in(file, std::ios::binary);
  if (!in) return S.CommandError("cannot read '" + file + "': " + std::strerror(errno));
  std::vector<std::vector<TCell>> found;
  if (!S.Db().Query(FindTableSql(a[1]), found)) return S.Failed();
  if (found.empty()) return S.CommandError("no table " + a[1]);
  const std::string owner = found[0][1].Text, table = found[0][2].Text;
  std::vector<std::vector<TCell>> columns;
  if (!S.Db().Query(DescribeTableSql(found[0][0].Text), columns)) return S.Failed();

  TCsvReader csv(in);
  std::vector<TCsvField> record;
  if (!csv.Next(record))
    return S.CommandError(file + ": " + (csv.Error().empty() ? "no header row" : csv.Error()));
  std::vector<std::string> names, headers;
  for (size_t i = 0; i < record.size(); ++i) {
    std::string name = Trim(record[i].Text);
    headers.push_back(name);
    auto match = std::find_if(columns.begin(), columns.end(),
                              [&](const std::vector<TCell>& c) { return Lower(c[0].Text) == Lower(name); });
    if (match == columns.end())
      return S.CommandError(file + ":1: column " + std::to_string(i + 1) + ": table " + table + " has no column '" +
                            name + "'");
    names.push_back(Identifier((*match)[0].Text));
  }
  // One transaction: rows go in together or not at all. Work the user had not committed
  // stays, behind a savepoint; without any, a failed import rolls back just itself.
  const bool hadWork = S.Db().Uncommitted();
  if (hadWork && !S.Db().Execute("SAVEPOINT zyl_import")) return S.Failed();
  auto undo = [&] {
    if (hadWork) S.Db().Execute("ROLLBACK TO SAVEPOINT zyl_import");
    else S.Db().Transaction(TTxnOp::toRollback);
  };
  std::string target = (owner.empty() ? "" : Identifier(owner) + ".") + Identifier(table);
  if (!S.Db().PrepareInsert(target, names)) {
    bool go = S.Failed();
    undo();
    return go;
  }
  int64_t rows = 0;
  std::vector<TCell> values;
  std::string failure;
  while (csv.Next(record)) {
    std::string where = file + ":" + std::to_string(csv.Line()) + ": ";
    if (record.size() != names.size()) {
      failure = where + std::to_string(record.size()) + (record.size() == 1 ? " field" : " fields") +
                " where the header has " + std::to_string(names.size());
      break;
    }
    values.clear();
    for (const TCsvField& f : record) values.push_back(!f.Quoted && f.Text.empty() ? TCell::NullCell() : TCell::Of(f.Text));
    if (!S.Db().InsertRow(values)) {
      std::string message = S.Db().ErrorText();
      int column = GuessColumn(message, values);
      if (column >= 0) where += "column " + std::to_string(column + 1) + " (" + headers[static_cast<size_t>(column)] + "): ";
      failure = where + message;
      break;
    }
    ++rows;
  }
  if (failure.empty() && !csv.Error().empty()) failure = file + ": " + csv.Error();
  S.Db().EndInsert();
  if (!failure.empty()) {
    undo();
    return S.CommandError(failure + " (nothing imported)");
  }
  S.Printer().Info(std::to_string(rows) + (rows == 1 ? " row" : " rows") + " imported into " + table);
  return true;
}

bool ListWith(TShell& S, const std::string& Sql) { return S.Db().Run(Sql, S.Printer()) || S.Failed(); }

}  // namespace

std::vector<TCommand> BuiltinCommands() {
  const std::vector<std::string> onOff = {"on", "off"};
  return {
      {"help", {"?"}, "", "this text", {}, {}, Help},
      {"quit", {"exit", "q"}, "", "leave (uncommitted work is committed)", {}, {},
       [](TShell& S, const std::string&) {
         S.RequestQuit();
         return false;
       }},
      {"tables", {}, "[PATTERN]", "list the tables and views (PATTERN may hold * and ?)", {TArgKind::akTable}, {},
       [](TShell& S, const std::string& A) { return ListWith(S, ListTablesSql(A)); }},
      {"describe", {"desc"}, "TABLE", "the columns, indexes and foreign keys of a table", {TArgKind::akTable}, {},
       Describe},
      {"procs", {}, "[PATTERN]", "list the procedures and functions", {TArgKind::akProcedure}, {},
       [](TShell& S, const std::string& A) { return ListWith(S, ListProceduresSql(A)); }},
      {"proc", {}, "NAME", "the parameters of a procedure (direction, type) and the call made of them",
       {TArgKind::akProcedure}, {},
       [](TShell& S, const std::string& A) {
         if (A.empty()) return S.CommandError("usage: .proc NAME");
         return S.Db().ProcParams(A, S.Printer()) || S.Failed();
       }},
      {"explain", {}, "QUERY", "the access plan of a query", {TArgKind::akSql}, {}, Explain},
      {"read", {}, "FILE", "run the statements of a file", {TArgKind::akFile}, {}, Read},
      {"output", {}, "[FILE]", "send results to a file; without FILE to the screen again", {TArgKind::akFile}, {},
       Output},
      {"import", {}, "FILE TABLE", "load CSV with a header row into a table, in one transaction",
       {TArgKind::akFile, TArgKind::akTable}, {}, Import},
      {"export", {}, "TABLE|QUERY FILE", "write a table or a query's rows to a CSV file",
       {TArgKind::akTable, TArgKind::akFile}, {}, Export},
      {"format", {}, "table|csv|json", "how results are shown", {TArgKind::akWords}, {"table", "csv", "json"},
       SetFormat},
      {"headers", {}, "on|off", "column names above tables and CSV", {TArgKind::akWords}, onOff,
       [](TShell& S, const std::string& A) {
         bool ok = OnOff(S, A, "headers", S.Settings().Headers);
         S.SettingsChanged();
         return ok;
       }},
      {"expanded", {"x"}, "on|off|auto", "one field per line (auto: when a table is wider than the screen)",
       {TArgKind::akWords}, {"on", "off", "auto"}, SetExpanded},
      {"nullvalue", {}, "TEXT", "how NULL is shown in tables", {}, {}, SetNullValue},
      {"pager", {}, "on|off", "long tables on a terminal through $PAGER", {TArgKind::akWords}, onOff,
       [](TShell& S, const std::string& A) {
         bool on = S.PagerOn();
         bool ok = OnOff(S, A, "pager", on);
         S.SetPagerOn(on);
         S.SettingsChanged();
         return ok;
       }},
      {"timing", {}, "on|off", "show the time each statement took", {TArgKind::akWords}, onOff,
       [](TShell& S, const std::string& A) { return OnOff(S, A, "timing", S.Options().Timing); }},
      {"backup", {}, "DIRECTORY", "back the database up into a directory", {TArgKind::akFile}, {}, Backup},
      {"open", {}, "QUERY", "open a scrolling cursor for update and show its first row", {TArgKind::akSql}, {},
       [](TShell& S, const std::string& A) {
         if (A.empty()) return S.CommandError("usage: .open QUERY");
         return S.Db().CursorOpen(A, S.Printer()) || S.Failed();
       }},
      MoveCommand("next", {}, "move the cursor to the next row and show it", TMove::mvNext),
      MoveCommand("prior", {"prev"}, "... to the row before", TMove::mvPrior),
      MoveCommand("first", {}, "... to the first row", TMove::mvFirst),
      MoveCommand("last", {}, "... to the last row", TMove::mvLast),
      MoveCommand("refresh", {"current"}, "read the cursor's rows again and show its row as the server has it now",
                  TMove::mvCurrent),
      {"goto", {}, "N", "move the cursor to row N (from 1)", {}, {}, Goto},
      {"update", {}, "COL = VALUE, ...", "change the cursor's row ('text', NULL or a number)", {}, {}, Update},
      {"insert", {}, "COL = VALUE, ...", "insert a row through the cursor and stand on it", {}, {}, Insert},
      {"find", {}, "[-i] [-p] COL = VALUE, ...", "move to the first row with these values (-i: any case, -p: prefix)",
       {}, {}, Find},
      {"delete", {}, "", "delete the cursor's row", {}, {},
       [](TShell& S, const std::string&) { return S.Db().CursorDelete(S.Printer()) || S.Failed(); }},
      {"close", {}, "", "close the cursor", {}, {},
       [](TShell& S, const std::string&) { return S.Db().CursorClose() || S.Failed(); }},
  };
}

}  // namespace zylisql
