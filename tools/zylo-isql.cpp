// zylo-isql: the interactive SQL tool.
//
//   zylo-isql -c "dbf=demo.db;uid=dba;pwd=sql" [-e SQL]... [-f FILE]... [--format ...]
//
// Exit status: 0 when every statement worked, 1 when one failed (under --on-error stop the run
// ends there), 2 when the connection could not be made or a -f file cannot be read, 130 when
// Ctrl-C ended a script (128 + the signal for SIGTERM and SIGHUP), 255 for a usage error.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "host/Platform.h"
#include "tools/isql/IsqlAlerts.h"
#include "tools/isql/IsqlAsa.h"
#include "tools/isql/IsqlShell.h"
#include "tools/isql/IsqlTerminal.h"

#ifndef ZYL_ISQL_VERSION
#define ZYL_ISQL_VERSION "1.0"
#endif

namespace {

// Each -f file must be a readable file before anything runs.
bool CheckFiles(const zylisql::TOptions& Options) {
  for (const zylisql::TSource& s : Options.Sources) {
    if (s.Kind != zylisql::TSource::skFile || s.Value == "-") continue;
    struct stat st;
    std::string problem;
    if (stat(s.Value.c_str(), &st) != 0) problem = std::strerror(errno);
    else if (S_ISDIR(st.st_mode)) problem = "it is a directory";
    else if (access(s.Value.c_str(), R_OK) != 0) problem = std::strerror(errno);
    if (!problem.empty()) {
      std::cerr << "zylo-isql: cannot read '" << s.Value << "': " << problem << "\n";
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace zylisql;
  std::vector<std::string> args(argv + 1, argv + argc);
  TOptions options;
  std::string error;
  if (!ParseArgs(args, options, error)) {
    std::cerr << "zylo-isql: " << error << "\n" << UsageText();
    return 255;
  }
  if (options.Help) {
    std::cout << UsageText();
    return 0;
  }
  if (options.Version) {
    std::cout << "zylo-isql " << ZYL_ISQL_VERSION << " (line editing: " << LineEditingVersion() << ")\n";
    return 0;
  }
  TConnectParams params;
  if (!ParseConnectParams(options.Connect, params, error)) {
    std::cerr << "zylo-isql: " << error << "\n";
    return 255;
  }
  if (!CheckFiles(options)) return 2;
  options.ProgressOnTerminal = isatty(STDERR_FILENO) != 0;
  const bool stdinTerminal = isatty(STDIN_FILENO) != 0;
  const bool interactive = options.Sources.empty() && stdinTerminal;

  TSignals signals;
  if (!params.HasPassword && stdinTerminal) {
    if (!ReadPassword("Password: ", params.Password)) return 130;
    params.HasPassword = true;
  }

  TAsaDatabase db;
  db.SetCancelCheck([] { return TSignals::Interrupted() || TSignals::Terminated() != 0; });
  if (!db.Connect(params, options)) {
    std::cerr << "zylo-isql: cannot connect: " << db.ErrorText() << "\n";
    return 2;
  }
  if (interactive && !options.Quiet)
    std::cout << "Connected. Statements end with ';' or a line 'go' and stay in one transaction until\n"
                 "COMMIT or ROLLBACK; .help lists the commands.\n";
  int status;
  {
    TShell shell(db, options, std::cout, std::cerr);
    shell.SetInterrupts(TSignals::Interrupted, TSignals::ClearInterrupt, [] { return TSignals::Terminated() != 0; });
    // .listen and .notify: a message received shows above the prompt while the user sits at
    // it; so does the error that ends a listener (the components report it as a message box).
    TIsqlAlerts alerts(db.Session());
    alerts.OnMessage = [&shell](const std::string& Line) { shell.PostNotice(Line); };
    AddAlertCommands(shell, alerts);
    shell.SetIdleHandler([&alerts] { alerts.Pump(); });
    TMessageBoxHandler oldBox = SetMessageBoxHandler([&shell](LPCSTR Text, LPCSTR Caption, UINT) {
      shell.PostNotice(std::string(Caption) + ": " + Text);
      return IDOK;
    });
    TCommandPager pager(DefaultPagerCommand());
    if (isatty(STDOUT_FILENO))
      shell.SetTerminal([](size_t& Columns, size_t& Rows) { return TerminalSize(STDOUT_FILENO, Columns, Rows); },
                        &pager);
    if (interactive) {
      TTerminalInput input(DefaultHistoryFile());
      input.SetCompleter([&shell](const std::string& Line, size_t Start, size_t End) {
        return shell.Complete(Line, Start, End);
      });
      status = shell.RunAll(input);
    } else {
      status = shell.RunAll(std::cin, false);
    }
    SetMessageBoxHandler(std::move(oldBox));
  }
  db.Disconnect();
  std::cout.flush();
  if (int sig = TSignals::Terminated()) return 128 + sig;
  return status;
}
