// Command line and connection parameters of the interactive SQL tool.
//
//   zylo-isql [-c PARAMS] [-e SQL]... [-f FILE]... [--format table|csv|json] [--timing]
//             [--on-error stop|continue] [--on-exit commit|rollback] [--library FILE]
//             [--library-path DIR] [--echo] [-q] [--version]
//
// -e and -f may be repeated and run in the order given; with neither, statements are read from
// standard input (with line editing when it is a terminal). Errors stop the run with exit
// status 1 by default when statements come from -e or -f, and are reported and passed over
// when they come from standard input; --on-error chooses either explicitly. --on-exit says
// what becomes of uncommitted work when the run ends normally.
#pragma once

#include <string>
#include <vector>

#include "tools/isql/IsqlFormat.h"

namespace zylisql {

enum class TOnError { oeDefault, oeStop, oeContinue };

struct TSource {
  enum TKind { skText, skFile };
  TKind Kind = skText;
  std::string Value;  // the statements (-e) or the file name (-f; "-" is standard input)
};

struct TOptions {
  std::string Connect;  // -c
  std::vector<TSource> Sources;
  TFormat Format = TFormat::fmTable;
  bool Timing = false;
  TOnError OnError = TOnError::oeDefault;
  std::string Library;      // client library file name (the session's default when empty)
  std::string LibraryPath;  // its directory (searched for when empty)
  bool Quiet = false;       // no banner and no prompt
  bool Echo = false;        // each statement is printed before it runs (scripts read like a session)
  bool ProgressOnTerminal = false;  // set by the program: progress bars are redrawn in place
  bool Help = false;
  bool Version = false;
  bool RollbackOnExit = false;      // --on-exit rollback

  bool StopOnError() const {
    return OnError == TOnError::oeStop || (OnError == TOnError::oeDefault && !Sources.empty());
  }
};

// False with a one-line reason in Error for an unknown option or a missing or bad value.
bool ParseArgs(const std::vector<std::string>& Args, TOptions& Options, std::string& Error);
const char* UsageText();

// The session properties a -c string sets. Keys are case-insensitive; the short and the long
// names of each are accepted. Keys the tool does not know travel on as client parameters.
struct TConnectParams {
  std::string Engine;        // eng, enginename, servername
  std::string Database;      // dbf, databasefile (a file) or dbn, databasename (a name)
  std::string User;          // uid, userid
  std::string Password;      // pwd, password
  std::string ServerType;    // servertype: client, server or workgroup (empty: chosen by the tool)
  std::string ServerParams;  // serverparams: extra switches for starting a server
  std::string ClientParams;  // everything else, "key=value" pieces joined by ";"
  bool DatabaseIsFile = false;  // given as dbf (then a server may be started for it)
  bool HasPassword = false;     // pwd was given (perhaps empty)
};

bool ParseConnectParams(const std::string& Text, TConnectParams& Params, std::string& Error);

}  // namespace zylisql
