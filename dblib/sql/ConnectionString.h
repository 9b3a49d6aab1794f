// Connection strings as the vendor's client library reads them: `key=value;...` (or `key#value`),
// keys case-insensitive in their long or short form, values that contain `;` quoted with ' or "
// (a doubled quote inside stands for itself). Parsing normalises every key to its short form
// (ENG, DBN, DBF, UID, PWD, START, ASTART, ASTOP, FORCE, UNC, CON, LINKS ...). Anything that is
// not a known parameter, a piece without '=', or an unterminated quote is refused with -832.
// Also parses the START line of a personal engine (database files, -n names, -su password).
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dbl {

class ConnectionString {
 public:
  // Throws SqlError(-832) on garbage.
  static ConnectionString Parse(std::string_view text);

  bool Has(std::string_view key) const { return values_.count(std::string(key)) != 0; }
  // Value of a short key, or def when absent.
  std::string Get(std::string_view key, std::string_view def = {}) const;
  // Boolean parameter (YES/Y/ON/TRUE/T/1 vs NO/N/OFF/FALSE/F/0); -832 on anything else.
  bool GetBool(std::string_view key, bool def) const;

  // Adds every parameter of defaults that this string lacks, value for value (no text is
  // re-parsed, so a quote inside a value cannot open or close anything).
  void MergeDefaults(const ConnectionString& defaults);

  // Canonical short name of a key, or empty when unknown.
  static std::string CanonicalKey(std::string_view key);

 private:
  std::map<std::string, std::string> values_;  // short upper-case key -> value as written
};

// A personal engine's start line: `prog [switches] [file [-n name]]...`.
struct StartLine {
  struct Db {
    std::string file;
    std::string name;  // from -n after the file, else empty
  };
  std::string serverName;  // -n before the first file
  std::optional<std::string> suPassword;  // -su
  std::vector<Db> databases;
  static StartLine Parse(std::string_view text);
};

// File name without directory and extension: "/data/sales.db" -> "sales".
std::string FilePrefix(std::string_view file);

// The TCP/IP link of a LINKS value: tcpip(host=h;port=p;timeout=s) (also with braces, HOST=h:p,
// or a plain "tcpip" with the defaults), or nullopt when the value names no TCP/IP link.
struct TcpipLink {
  std::string host = "localhost";
  int port = 5432;
  int timeout = 0;  // seconds; 0: the default
};
std::optional<TcpipLink> ParseTcpipLink(std::string_view links);

}  // namespace dbl
