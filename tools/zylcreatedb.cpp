// zylcreatedb: creates database files from the command line, through the client library's own
// entry points (the utility database's CREATE DATABASE), so a file made here is exactly what
// an application's CREATE DATABASE makes.
//
//   zylcreatedb [-p dba-password] [-q] file...
//   zylcreatedb --server "host=H;port=P;dbname=D;user=U[;password=W]" [-q]
//       prepares an existing database of a PostgreSQL server for the library (the catalog
//       views, the vendor's types, the options table): ALTER DATABASE UPGRADE on it, which is
//       idempotent and brings an older preparation up to this library's version.
//
// Exit codes: 0 all created, 1 a file could not be created (the others are still tried),
// 255 usage error.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "dblib/esql.h"

namespace {

std::string Message(SQLCA& ca) {
  char buf[512] = {0};
  return sqlerror_message(&ca, buf, sizeof buf) ? std::string(buf) : std::string("unknown error");
}

int Usage() {
  std::fprintf(stderr,
               "usage: zylcreatedb [-p dba-password] [-q] file...\n"
               "       zylcreatedb --server \"host=H;port=P;dbname=D;user=U[;password=W]\" [-q]\n");
  return 255;
}

// Quotes a file name for a SQL string literal.
std::string Literal(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out + "'";
}

bool Run(SQLCA& ca, const std::string& sql) {
  std::string s = sql;
  dbpp_execute_imm(&ca, s.data(), 2);
  return ca.sqlcode >= 0;
}

// --server: the key=value pieces of the server string as a connection string of ours.
int PrepareServerDatabase(const std::string& conninfo, bool quiet) {
  std::string host = "localhost", port = "5432", dbname, user, password;
  size_t i = 0;
  while (i < conninfo.size()) {
    size_t e = conninfo.find(';', i);
    if (e == std::string::npos) e = conninfo.size();
    std::string piece = conninfo.substr(i, e - i);
    i = e + 1;
    if (piece.empty()) continue;
    size_t eq = piece.find('=');
    if (eq == std::string::npos) return Usage();
    std::string k = piece.substr(0, eq), v = piece.substr(eq + 1);
    if (k == "host") host = v;
    else if (k == "port") port = v;
    else if (k == "dbname") dbname = v;
    else if (k == "user") user = v;
    else if (k == "password") password = v;
    else return Usage();
  }
  if (dbname.empty() || user.empty()) return Usage();
  SQLCA ca;
  if (!db_init(&ca)) {
    std::fprintf(stderr, "zylcreatedb: cannot initialise the client library\n");
    return 1;
  }
  std::string cs = "LINKS=tcpip(host=" + host + ";port=" + port + ");DBN='" + dbname + "';UID='" + user + "';PWD='" +
                   password + "'";
  int result = 0;
  if (!db_string_connect(&ca, cs.data()) || !Run(ca, "ALTER DATABASE UPGRADE")) {
    std::fprintf(stderr, "zylcreatedb: %s on %s:%s: %s\n", dbname.c_str(), host.c_str(), port.c_str(), Message(ca).c_str());
    result = 1;
  } else if (!quiet) {
    std::printf("prepared %s on %s:%s\n", dbname.c_str(), host.c_str(), port.c_str());
  }
  db_string_disconnect(&ca, nullptr);
  db_fini(&ca);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  std::string password;
  bool quiet = false;
  std::vector<std::string> files;
  std::string server;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--server") {
      if (++i >= argc) return Usage();
      server = argv[i];
    } else if (a == "-p") {
      if (++i >= argc) return Usage();
      password = argv[i];
    } else if (a == "-q") {
      quiet = true;
    } else if (a == "-h" || a == "--help") {
      Usage();
      return 0;
    } else if (!a.empty() && a[0] == '-') {
      return Usage();
    } else {
      files.push_back(a);
    }
  }
  if (!server.empty()) return files.empty() && password.empty() ? PrepareServerDatabase(server, quiet) : Usage();
  if (files.empty()) return Usage();

  SQLCA ca;
  if (!db_init(&ca)) {
    std::fprintf(stderr, "zylcreatedb: cannot initialise the client library\n");
    return 1;
  }
  // A private engine for the utility database; stopped again before leaving.
  std::string engine = "zylcreatedb_" + std::to_string(long(getpid()));
  std::string cs = "ENG=" + engine + ";DBN=utility_db;UID=DBA;PWD=x;ASTOP=YES";
  if (!db_string_connect(&ca, cs.data())) {
    std::fprintf(stderr, "zylcreatedb: %s\n", Message(ca).c_str());
    db_fini(&ca);
    return 1;
  }
  int result = 0;
  for (const auto& f : files) {
    if (!Run(ca, "CREATE DATABASE " + Literal(f))) {
      std::fprintf(stderr, "zylcreatedb: %s: %s\n", f.c_str(), Message(ca).c_str());
      result = 1;
      continue;
    }
    if (!password.empty()) {
      SQLCA db;
      db_init(&db);
      std::string dbcs = "ENG=" + engine + "_set;DBF=" + f + ";UID=DBA;PWD=sql;CON=setpw";
      bool ok = db_string_connect(&db, dbcs.data()) && Run(db, "GRANT CONNECT TO DBA IDENTIFIED BY " + Literal(password));
      if (!ok) {
        std::fprintf(stderr, "zylcreatedb: %s: cannot set the password: %s\n", f.c_str(), Message(db).c_str());
        result = 1;
      }
      db_string_disconnect(&db, nullptr);
      db_fini(&db);
    }
    if (!quiet) std::printf("created %s\n", f.c_str());
  }
  db_string_disconnect(&ca, nullptr);
  std::string stop = "ENG=" + engine + ";UNC=YES";
  db_stop_engine(&ca, stop.data());
  db_fini(&ca);
  return result;
}
