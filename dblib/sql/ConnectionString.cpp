// Connection-string and start-line parsing.
#include "dblib/sql/ConnectionString.h"

#include <algorithm>
#include <cctype>

#include "dblib/sql/Errors.h"

namespace dbl {
namespace {

std::string Upper(std::string_view s) {
  std::string r(s);
  for (auto& c : r) c = char(std::toupper(static_cast<unsigned char>(c)));
  return r;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

[[noreturn]] void Garbage(std::string what) { throw SqlError(SQLE_CONNECTION_ERROR, {"Parse error: " + what}); }

struct Alias {
  const char* name;
  const char* key;
};
const Alias kAliases[] = {
    {"ENG", "ENG"},          {"ENGINENAME", "ENG"},  {"SERVERNAME", "ENG"},        {"SERVER", "ENG"},
    {"DBN", "DBN"},          {"DATABASENAME", "DBN"}, {"DBF", "DBF"},              {"DATABASEFILE", "DBF"},
    {"DBS", "DBS"},          {"DATABASESWITCHES", "DBS"}, {"UID", "UID"},          {"USERID", "UID"},
    {"PWD", "PWD"},          {"PASSWORD", "PWD"},    {"ENP", "ENP"},               {"ENCRYPTEDPASSWORD", "ENP"},
    {"START", "START"},      {"STARTLINE", "START"}, {"ASTART", "ASTART"},         {"AUTOSTART", "ASTART"},
    {"ASTOP", "ASTOP"},      {"AUTOSTOP", "ASTOP"},  {"FORCE", "FORCE"},           {"FORCESTART", "FORCE"},
    {"UNC", "UNC"},          {"UNCONDITIONAL", "UNC"}, {"CON", "CON"},             {"CONNECTIONNAME", "CON"},
    {"LINKS", "LINKS"},      {"COMMLINKS", "LINKS"}, {"CS", "CS"},                 {"CHARSET", "CS"},
    {"DBKEY", "DBKEY"},      {"DATABASEKEY", "DBKEY"}, {"DSN", "DSN"},             {"DATASOURCENAME", "DSN"},
    {"FILEDSN", "FILEDSN"},  {"FILEDATASOURCENAME", "FILEDSN"}, {"INT", "INT"},     {"INTEGRATED", "INT"},
    {"LTO", "LTO"},          {"LIVENESSTIMEOUT", "LTO"}, {"IDLE", "IDLE"},         {"IDLETIMEOUT", "IDLE"},
    {"LOG", "LOG"},          {"LOGFILE", "LOG"},     {"DBG", "DBG"},               {"DEBUG", "DBG"},
    {"AGENT", "AGENT"},      {"CBSIZE", "CBSIZE"},   {"COMMBUFFERSIZE", "CBSIZE"}, {"CBSPACE", "CBSPACE"},
    {"COMMBUFFERSPACE", "CBSPACE"}, {"DMRF", "DMRF"}, {"DISABLEMULTIROWFETCH", "DMRF"}, {"ENC", "ENC"},
    {"ENCRYPTION", "ENC"},   {"APP", "APP"},         {"APPINFO", "APP"},
};

}  // namespace

std::string ConnectionString::CanonicalKey(std::string_view key) {
  std::string k = Upper(Trim(key));
  for (const auto& a : kAliases)
    if (k == a.name) return a.key;
  return {};
}

ConnectionString ConnectionString::Parse(std::string_view text) {
  ConnectionString cs;
  size_t i = 0;
  while (i < text.size()) {
    // key
    size_t keyStart = i;
    while (i < text.size() && text[i] != '=' && text[i] != '#' && text[i] != ';') ++i;
    std::string_view rawKey = Trim(text.substr(keyStart, i - keyStart));
    if (i >= text.size() || text[i] == ';') {
      if (!rawKey.empty()) Garbage("'" + std::string(rawKey) + "' has no value");
      ++i;  // empty piece: tolerated (";;" or a trailing ';')
      continue;
    }
    ++i;  // '=' or '#'
    std::string key = CanonicalKey(rawKey);
    if (rawKey.empty()) Garbage("missing parameter name");
    if (key.empty()) Garbage("unknown parameter '" + std::string(rawKey) + "'");
    // value
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    std::string value;
    if (i < text.size() && (text[i] == '\'' || text[i] == '"')) {
      char q = text[i++];
      bool closed = false;
      while (i < text.size()) {
        if (text[i] == q) {
          if (i + 1 < text.size() && text[i + 1] == q) {
            value += q;
            i += 2;
            continue;
          }
          ++i;
          closed = true;
          break;
        }
        value += text[i++];
      }
      if (!closed) Garbage("unterminated quote in '" + std::string(rawKey) + "'");
      while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
      if (i < text.size() && text[i] != ';') Garbage("text after the quoted value of '" + std::string(rawKey) + "'");
    } else {
      // A parenthesised (or braced) part keeps its ';': links=tcpip(host=h;port=p).
      size_t start = i;
      int depth = 0;
      while (i < text.size() && (text[i] != ';' || depth > 0)) {
        if (text[i] == '(' || text[i] == '{') ++depth;
        else if ((text[i] == ')' || text[i] == '}') && depth > 0) --depth;
        ++i;
      }
      value = std::string(Trim(text.substr(start, i - start)));
    }
    if (i < text.size()) ++i;  // ';'
    cs.values_[key] = value;  // a later repetition wins
  }
  return cs;
}

std::string ConnectionString::Get(std::string_view key, std::string_view def) const {
  auto it = values_.find(std::string(key));
  return it == values_.end() ? std::string(def) : it->second;
}

void ConnectionString::MergeDefaults(const ConnectionString& defaults) {
  for (const auto& [key, value] : defaults.values_) values_.emplace(key, value);  // present keys stay
}

bool ConnectionString::GetBool(std::string_view key, bool def) const {
  auto it = values_.find(std::string(key));
  if (it == values_.end() || Trim(it->second).empty()) return def;
  std::string v = Upper(Trim(it->second));
  if (v == "YES" || v == "Y" || v == "ON" || v == "TRUE" || v == "T" || v == "1") return true;
  if (v == "NO" || v == "N" || v == "OFF" || v == "FALSE" || v == "F" || v == "0") return false;
  Garbage("'" + it->second + "' is not a boolean value for " + std::string(key));
}

StartLine StartLine::Parse(std::string_view text) {
  // Tokenise on blanks, honouring double quotes around file names with blanks.
  std::vector<std::string> tokens;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    if (i >= text.size()) break;
    std::string tok;
    if (text[i] == '"') {
      ++i;
      while (i < text.size() && text[i] != '"') tok += text[i++];
      if (i < text.size()) ++i;
    } else {
      while (i < text.size() && !std::isspace(static_cast<unsigned char>(text[i]))) tok += text[i++];
    }
    tokens.push_back(tok);
  }
  // Switches that take a value (the rest are flags).
  static const char* kWithValue[] = {"-c", "-ca", "-ch", "-cl", "-cs", "-ec", "-gd", "-gk", "-gn", "-gp",
                                     "-o", "-ot", "-ti", "-tl", "-x", "-xo", "-n", "-su", "-qi", "-ud"};
  StartLine sl;
  for (size_t t = tokens.empty() ? 0 : 1; t < tokens.size(); ++t) {
    const std::string& tok = tokens[t];
    if (!tok.empty() && tok[0] == '-') {
      std::string sw = tok;
      for (auto& c : sw) c = char(std::tolower(static_cast<unsigned char>(c)));
      bool takes = std::any_of(std::begin(kWithValue), std::end(kWithValue), [&](const char* s) { return sw == s; });
      std::string value = takes && t + 1 < tokens.size() ? tokens[++t] : std::string();
      if (sw == "-n") {
        if (sl.databases.empty()) sl.serverName = value;
        else sl.databases.back().name = value;
      } else if (sw == "-su") {
        sl.suPassword = value;
      }
      continue;
    }
    sl.databases.push_back({tok, {}});
  }
  return sl;
}

std::string FilePrefix(std::string_view file) {
  auto slash = file.find_last_of("/\\:");
  if (slash != std::string_view::npos) file.remove_prefix(slash + 1);
  auto dot = file.rfind('.');
  if (dot != std::string_view::npos && dot > 0) file = file.substr(0, dot);
  return std::string(file);
}

std::optional<TcpipLink> ParseTcpipLink(std::string_view links) {
  // Links are separated by ',' outside parentheses: find the one that is TCP/IP.
  size_t i = 0;
  while (i <= links.size()) {
    size_t start = i;
    int depth = 0;
    while (i < links.size() && (links[i] != ',' || depth > 0)) {
      if (links[i] == '(' || links[i] == '{') ++depth;
      else if ((links[i] == ')' || links[i] == '}') && depth > 0) --depth;
      ++i;
    }
    std::string_view one = Trim(links.substr(start, i - start));
    ++i;
    size_t open = one.find_first_of("({");
    std::string name = Upper(Trim(one.substr(0, open)));
    if (name != "TCPIP" && name != "TCP") continue;
    TcpipLink link;
    if (open == std::string_view::npos) return link;
    size_t close = one.find_last_of(")}");
    if (close == std::string_view::npos || close < open) Garbage("unbalanced parentheses in LINKS");
    std::string_view args = one.substr(open + 1, close - open - 1);
    size_t k = 0;
    while (k < args.size()) {
      size_t e = args.find_first_of(";,", k);
      if (e == std::string_view::npos) e = args.size();
      std::string_view piece = Trim(args.substr(k, e - k));
      k = e + 1;
      if (piece.empty()) continue;
      size_t eq = piece.find('=');
      if (eq == std::string_view::npos) Garbage("'" + std::string(piece) + "' has no value");
      std::string key = Upper(Trim(piece.substr(0, eq)));
      std::string value(Trim(piece.substr(eq + 1)));
      auto number = [&](const std::string& v) {
        if (v.empty() || v.size() > 5 || v.find_first_not_of("0123456789") != std::string::npos)
          Garbage("'" + v + "' is not a port or time-out");
        return std::stoi(v);
      };
      if (key == "HOST" || key == "IP") {
        // host:port (an IPv6 address in brackets keeps its colons)
        size_t colon = value.rfind(':');
        if (colon != std::string::npos && value.find(']') == std::string::npos && value.find(':') == colon) {
          link.port = number(value.substr(colon + 1));
          value.erase(colon);
        }
        if (value.size() > 2 && value.front() == '[' && value.back() == ']') value = value.substr(1, value.size() - 2);
        link.host = value;
      } else if (key == "PORT" || key == "SERVERPORT") {
        link.port = number(value);
      } else if (key == "TIMEOUT" || key == "TO") {
        link.timeout = number(value);
      }
      // other TCP/IP parameters (broadcast, DoBroadcast ...) have no meaning for a known host
    }
    if (link.port < 1 || link.port > 65535) Garbage("port out of range");
    return link;
  }
  return std::nullopt;
}

}  // namespace dbl
