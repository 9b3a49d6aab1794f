// The engine interface: everything the entry points need from a database engine, with no
// SQLite (or any other engine) type in sight, so a second engine can come later without
// touching the entry points. SqliteEngine.h implements it.
//
//   Engine      a named server object in this process serving started databases by name
//               (engine-neutral bookkeeping: dblib/engine/Registry.h; it starts Databases through
//               a DatabaseFactory, so only the factory knows the engine).
//   Database    one started database file; hands out connections after checking the user.
//   Connection  one user's session: statements, transactions (chained: work stays in a
//               transaction until Commit/Rollback), options, connection variables, cancel.
//   Statement   one prepared statement: describe output/input, execute, open a cursor.
//
// Life cycles:
//   Engine:     (Registry::StartEngine) running --StartDatabase/StopDatabase--> running
//               --Stop (no connections, or unconditional)--> stopped (removed from registry)
//   Database:   started --Connect--> in use (n connections) --last disconnect--> started
//               --Stop--> stopped (file closed)
//   Connection: open --Prepare/Execute*/Commit/Rollback--> open --destructor--> closed
//               (an open transaction is rolled back; cursors and statements must be gone)
//   Statement:  prepared --Open--> (cursor owns its own run) ; Execute may run repeatedly
//
// Errors: every operation throws dbl::SqlError (Errors.h) with the vendor's SQLCODE.
// Threads: an Engine/Database may be shared by connections on several threads (internally
// guarded); a Connection and its Statements are used by one thread at a time, except Cancel,
// which any thread may call.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dblib/sql/Value.h"

namespace dbl {

struct ColumnDesc;  // dblib/sql/Describe.h
struct ParamDesc;   // dblib/sql/Describe.h
class Cursor;       // dblib/engine/Cursor.h

// Cursor request as dbpp_declare/dbpp_open pass it (esql.h CUR_* bits).
struct CursorOptions {
  uint32_t bits = 0;
  int isolation = -1;       // -1: unchanged; else 0..3
  bool exactCount = false;  // option row_counts: OPEN reports the exact row count
  bool ReadOnly() const { return (bits & 0x0002) != 0 || (bits & 0x1000) == 0; }
  bool ForUpdate() const { return (bits & 0x1000) != 0; }
  bool NoScroll() const { return (bits & 0x4004) != 0; }
  bool Insensitive() const { return (bits & 0x0400) != 0; }
};

struct ExecResult {
  int64_t rowsAffected = 0;  // INSERT/UPDATE/DELETE: rows changed; else 0
  int warning = 0;           // > 0: a warning code the caller reports (e.g. 100 for no row)
};

// MESSAGE ... TO CLIENT and debug output reach the client through this sink (set by the
// entry layer on each connection; called on the thread inside the request).
class MessageSink {
 public:
  virtual ~MessageSink() = default;
  virtual void Message(int type, int code, std::string_view text) = 0;
  // Called now and then while a long request runs (the client's wait callback).
  virtual void Waiting() {}
};

class Statement {
 public:
  virtual ~Statement() = default;
  virtual const std::string& Text() const = 0;
  // Result columns; mayVary: the shape is known only after open (procedure calls).
  virtual void DescribeOutput(std::vector<ColumnDesc>& out, bool& mayVary) = 0;
  // Host variables in marker order.
  virtual void DescribeInput(std::vector<ParamDesc>& out) = 0;
  // Whether Open makes sense (a result set can come out).
  virtual bool HasResultSet() const = 0;
  // Runs without a cursor. out (may be null): the values of a single-row result (SELECT ...
  // INTO, procedure outputs); more than one row -> -185, none -> warning 100.
  virtual ExecResult Execute(const std::vector<Value>& in, std::vector<Value>* out) = 0;
  virtual std::unique_ptr<Cursor> Open(const std::vector<Value>& in, const CursorOptions& options) = 0;
  // Procedure calls: the next result set of an open cursor, or nullptr when the procedure has
  // completed (the caller reports 105). Plain statements return nullptr.
  virtual std::unique_ptr<Cursor> Resume(Cursor& current);
};

// One online backup of a database (db_backup). The moment it copies is taken when it starts:
// the database is copied then, and the transaction log when it is opened, into private
// copies, and every page is served from those, so writers on other connections go on
// meanwhile and the live files are only read (restarting the log aside).
// File numbers: 0 the database, -2 the transaction log; every other number names no file.
struct BackupFile {
  std::string name;      // the live file's operating-system name
  uint32_t pages = 0;    // pages of PageSize() bytes, the last one possibly shorter
  int64_t created = 0;   // creation time of the live file (time_t)
};

class Backup {
 public:
  virtual ~Backup() = default;
  virtual uint32_t PageSize() const = 0;
  // False when the number names no file.
  virtual bool Open(int file, BackupFile& out) = 0;
  // Pages of an open file (0 when it is not open).
  virtual uint32_t PageCount(int file) const = 0;
  // -241 when the file is not open, warning 100 for a page past its end.
  virtual std::string ReadPage(int file, uint32_t page) = 0;
  // After the log's last page: files its copy away under a new name next to the database and
  // starts the live log empty. Returns the name of the filed-away log; -242 while other
  // transactions keep the log from restarting (the caller retries).
  virtual std::string RestartLog() = 0;
  // -241 when the file is not open.
  virtual void Close(int file) = 0;
};

class Connection {
 public:
  virtual ~Connection() = default;
  virtual std::unique_ptr<Statement> Prepare(std::string_view text) = 0;
  virtual ExecResult ExecuteImmediate(std::string_view text) = 0;
  virtual void Commit() = 0;
  virtual void Rollback() = 0;
  // Whether a transaction is open (work neither committed nor rolled back yet).
  virtual bool InTransaction() const { return false; }

  // Options: user empty = this connection's user; temporary = this connection only.
  virtual std::string GetOption(std::string_view name) = 0;
  virtual void SetOption(std::string_view user, std::string_view name, std::string_view value, bool temporary) = 0;

  // Connection variables (CREATE VARIABLE ...). GetVariable: false when it does not exist.
  virtual bool GetVariable(std::string_view name, Value& out) = 0;

  virtual std::string Explain(std::string_view text) = 0;

  // Any thread: interrupts the running request (it fails with -299). A cancel that arrives
  // while nothing runs is forgotten.
  virtual void Cancel() = 0;

  // Brackets one client request (cancel applies to the request in between).
  virtual void BeginRequest() {}
  virtual void EndRequest() {}

  // Starts an online backup of this connection's database (DBA only; one at a time per
  // database: -241 while another runs).
  virtual std::unique_ptr<Backup> StartBackup() = 0;
  // Deletes a transaction log that a backup filed away next to this connection's database;
  // any other file, the live database and its log included, is refused with -243.
  virtual void DeleteLogFile(const std::string& name) = 0;

  virtual void SetMessageSink(MessageSink* sink) = 0;
  virtual std::string UserName() const = 0;
  virtual std::string DatabaseName() const = 0;
  virtual std::string EngineName() const = 0;
};

class Database {
 public:
  virtual ~Database() = default;
  virtual std::string Name() const = 0;
  virtual std::string File() const = 0;  // empty for the utility database
  // Checks uid/pwd (-103 for an unknown user or a wrong password alike).
  virtual std::unique_ptr<Connection> Connect(std::string_view uid, std::string_view pwd) = 0;
  virtual int ConnectionCount() const = 0;
};

// Makes Database objects for files: the only place that knows which engine runs them.
class DatabaseFactory {
 public:
  virtual ~DatabaseFactory() = default;
  // Opens an existing database file (-83 when missing, -82 when it is not a database).
  virtual std::shared_ptr<Database> Open(const std::string& file, const std::string& name, const std::string& engine) = 0;
  // Creates a new database file with the catalog, users SYS and DBA (-82 when it exists).
  virtual void Create(const std::string& file) = 0;
  // The phantom utility database of an engine (CREATE/DROP DATABASE only).
  virtual std::shared_ptr<Database> Utility(const std::string& engine, const std::string& suPassword) = 0;
};

// The embedded engine's factory: database files served by SQLite (dblib/sqlite/).
std::unique_ptr<DatabaseFactory> MakeSqliteFactory();

// A database on a network server, as a connection string names it: LINKS=tcpip(host=H;port=P)
// with DBN (the database) and ENG (the server's name as the client calls it).
struct ServerAddress {
  std::string host;
  int port = 0;
  std::string database;    // DBN; "utility_db" for the server's utility database
  std::string server;      // ENG; empty: host:port stands for it
  int timeoutSeconds = 0;  // connect time-out; 0: the library's default
};

// The network engine (dblib/postgres/): the database at that address. Connect() logs in with
// the server's own users and passwords.
std::shared_ptr<Database> OpenServerDatabase(const ServerAddress& address);
// Whether a server answers at that address (-100 when none does).
void PingServer(const ServerAddress& address);

}  // namespace dbl
