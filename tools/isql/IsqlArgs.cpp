// Command-line parsing of the interactive SQL tool.
#include "tools/isql/IsqlArgs.h"

#include <cctype>

#include "tools/isql/IsqlText.h"

namespace zylisql {
const char* UsageText() {
  return "usage: zylo-isql [-c PARAMS] [-e SQL]... [-f FILE]... [--format table|csv|json]\n"
         "                 [--timing] [--on-error stop|continue] [--on-exit commit|rollback]\n"
         "                 [--library FILE] [--library-path DIR] [--echo] [-q] [--version]\n"
         "  -c PARAMS   connection parameters, e.g. \"dbf=demo.db;uid=dba;pwd=sql\"\n"
         "              (eng, dbf, dbn, uid, pwd, servertype=client|server|workgroup,\n"
         "              serverparams; other keys are passed on as client parameters;\n"
         "              without pwd the password is asked for when input is a terminal)\n"
         "  -e SQL      run these statements (may be repeated)\n"
         "  -f FILE     run the statements of a file, '-' for standard input (may be repeated)\n"
         "  --on-error  stop: end the run at the first error (the default for -e and -f);\n"
         "              continue: report errors and go on (the default for standard input)\n"
         "  --on-exit   commit (the default) or rollback: what becomes of uncommitted work\n"
         "              when the run ends normally\n"
         "Without -e and -f, statements are read from standard input, with line editing,\n"
         "history (~/.zylo_isql_history) and tab completion when it is a terminal. A statement\n"
         "ends with ';' or with a line holding only 'go'. Type .help for the built-in commands.\n"
         "\n"
         "Transactions: statements stay in one transaction until COMMIT or ROLLBACK, in -e and\n"
         "-f runs as at the prompt (data definition commits, as the server does). When the run\n"
         "ends normally (end of input, Ctrl-D, .quit) uncommitted work is committed, or rolled\n"
         "back with --on-exit rollback. It is rolled back when the run ends because of an\n"
         "error (-e or -f under --on-error stop), Ctrl-C in a script, or a signal; a killed\n"
         "tool loses only its uncommitted work. Ctrl-C cancels the running statement.\n"
         "\n"
         "Exit status: 0 all statements worked, 1 a statement failed, 2 no connection or an\n"
         "unreadable -f file, 130 a script ended by Ctrl-C, 255 a usage error.\n";
}

bool ParseArgs(const std::vector<std::string>& Args, TOptions& Options, std::string& Error) {
  for (size_t i = 0; i < Args.size(); ++i) {
    std::string a = Args[i];
    std::string value;
    bool inlineValue = false;
    if (a.rfind("--", 0) == 0) {
      size_t eq = a.find('=');
      if (eq != std::string::npos) {
        value = a.substr(eq + 1);
        a = a.substr(0, eq);
        inlineValue = true;
      }
    }
    auto need = [&](const char* what) -> bool {
      if (inlineValue) return true;
      if (i + 1 >= Args.size()) {
        Error = "option " + a + " needs " + what;
        return false;
      }
      value = Args[++i];
      return true;
    };
    if (a == "-h" || a == "--help") {
      Options.Help = true;
    } else if (a == "-V" || a == "--version") {
      Options.Version = true;
    } else if (a == "-q" || a == "--quiet") {
      Options.Quiet = true;
    } else if (a == "--timing") {
      Options.Timing = true;
    } else if (a == "--echo") {
      Options.Echo = true;
    } else if (a == "-c" || a == "--connect") {
      if (!need("connection parameters")) return false;
      Options.Connect = value;
    } else if (a == "-e" || a == "--execute") {
      if (!need("SQL text")) return false;
      Options.Sources.push_back({TSource::skText, value});
    } else if (a == "-f" || a == "--file") {
      if (!need("a file name")) return false;
      Options.Sources.push_back({TSource::skFile, value});
    } else if (a == "--format") {
      if (!need("table, csv or json")) return false;
      if (!ParseFormat(value, Options.Format)) {
        Error = "unknown format '" + value + "' (table, csv or json)";
        return false;
      }
    } else if (a == "--on-error") {
      if (!need("stop or continue")) return false;
      if (value == "stop") Options.OnError = TOnError::oeStop;
      else if (value == "continue") Options.OnError = TOnError::oeContinue;
      else {
        Error = "--on-error takes stop or continue, not '" + value + "'";
        return false;
      }
    } else if (a == "--on-exit") {
      if (!need("commit or rollback")) return false;
      if (value == "commit") Options.RollbackOnExit = false;
      else if (value == "rollback") Options.RollbackOnExit = true;
      else {
        Error = "--on-exit takes commit or rollback, not '" + value + "'";
        return false;
      }
    } else if (a == "--library") {
      if (!need("a file name")) return false;
      Options.Library = value;
    } else if (a == "--library-path") {
      if (!need("a directory")) return false;
      Options.LibraryPath = value;
    } else {
      Error = "unknown option '" + Args[i] + "'";
      return false;
    }
    if (inlineValue && (a == "-h" || a == "--help" || a == "--version" || a == "-q" || a == "--quiet" || a == "--timing" || a == "--echo")) {
      Error = "option " + a + " takes no value";
      return false;
    }
  }
  return true;
}

bool ParseConnectParams(const std::string& Text, TConnectParams& Params, std::string& Error) {
  size_t start = 0;
  while (start <= Text.size()) {
    size_t semi = Text.find(';', start);
    std::string piece = Trim(Text.substr(start, semi == std::string::npos ? std::string::npos : semi - start));
    start = semi == std::string::npos ? Text.size() + 1 : semi + 1;
    if (piece.empty()) continue;
    size_t eq = piece.find('=');
    if (eq == std::string::npos || eq == 0) {
      Error = "connection parameter '" + piece + "' is not of the form key=value";
      return false;
    }
    std::string key = Lower(Trim(piece.substr(0, eq)));
    std::string value = Trim(piece.substr(eq + 1));
    if (key == "eng" || key == "enginename" || key == "servername") {
      Params.Engine = value;
    } else if (key == "dbf" || key == "databasefile") {
      Params.Database = value;
      Params.DatabaseIsFile = true;
    } else if (key == "dbn" || key == "databasename") {
      if (!Params.DatabaseIsFile) Params.Database = value;
    } else if (key == "uid" || key == "userid") {
      Params.User = value;
    } else if (key == "pwd" || key == "password") {
      Params.Password = value;
      Params.HasPassword = true;
    } else if (key == "servertype") {
      std::string v = Lower(value);
      if (v != "client" && v != "server" && v != "workgroup") {
        Error = "servertype takes client, server or workgroup, not '" + value + "'";
        return false;
      }
      Params.ServerType = v;
    } else if (key == "serverparams") {
      Params.ServerParams = value;
    } else {
      if (!Params.ClientParams.empty()) Params.ClientParams += ";";
      Params.ClientParams += piece;
    }
  }
  return true;
}

}  // namespace zylisql
