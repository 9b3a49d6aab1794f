// zylo-isql: the interactive SQL tool.
//
//   zylo-isql -c "dbf=demo.db;uid=dba;pwd=sql" [-e SQL]... [-f FILE]... [--format ...]
//
// Exit status: 0 when every statement worked, 1 when one failed (under --on-error stop the run
// ends there), 2 when the connection could not be made, 255 for a usage error.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "tools/isql/IsqlAsa.h"
#include "tools/isql/IsqlShell.h"

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
  TConnectParams params;
  if (!ParseConnectParams(options.Connect, params, error)) {
    std::cerr << "zylo-isql: " << error << "\n";
    return 255;
  }
  options.ProgressOnTerminal = isatty(STDERR_FILENO) != 0;
  bool interactive = options.Sources.empty() && isatty(STDIN_FILENO) != 0;

  TAsaDatabase db;
  if (!db.Connect(params, options)) {
    std::cerr << "zylo-isql: cannot connect: " << db.ErrorText() << "\n";
    return 2;
  }
  if (interactive && !options.Quiet)
    std::cout << "Connected. Statements end with ';' or a line 'go'; .help lists the commands.\n";
  int status;
  {
    TShell shell(db, options, std::cout, std::cerr);
    status = shell.RunAll(std::cin, interactive);
  }
  db.Disconnect();
  std::cout.flush();
  return status;
}
