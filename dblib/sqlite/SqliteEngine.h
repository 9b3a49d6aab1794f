// The SQLite implementation of the engine interface (Engine.h).
//
// A SqliteDatabase is one database file; each SqliteConnection opens its own sqlite3 handle on
// it (WAL journal, busy timeout), so connections of one process and of other processes are kept
// consistent by SQLite's own locking. The phantom utility database is a SqliteDatabase over a
// private in-memory handle that accepts CREATE DATABASE / DROP DATABASE.
//
// Transactions follow the chained mode: the first statement that writes opens a transaction
// (BEGIN) that lasts until Commit or Rollback; reading statements outside a transaction run on
// a fresh snapshot each time, so committed changes of other connections are seen. Statements
// that define objects (CREATE/ALTER/DROP, GRANT/REVOKE) commit the work before and after
// themselves, as the vendor's server does.
//
// Connection life cycle: open (handle opened, user checked, catalog functions registered)
//   --Prepare/Execute/Commit/Rollback--> open --destructor--> rolled back and closed.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "dblib/engine/Engine.h"
#include "dblib/sql/Fit.h"
#include "dblib/sql/Identifiers.h"
#include "dblib/sqlite/Sqlite.h"

namespace dbl {

class SqliteDatabase;

class SqliteConnection : public Connection {
 public:
  SqliteConnection(std::shared_ptr<SqliteDatabase> db, sqlite3* handle, std::string user, int userId);
  ~SqliteConnection() override;

  std::unique_ptr<Statement> Prepare(std::string_view text) override;
  ExecResult ExecuteImmediate(std::string_view text) override;
  void Commit() override;
  void Rollback() override;
  std::string GetOption(std::string_view name) override;
  void SetOption(std::string_view user, std::string_view name, std::string_view value, bool temporary) override;
  bool GetVariable(std::string_view name, Value& out) override;
  std::string Explain(std::string_view text) override;
  void Cancel() override;
  std::unique_ptr<Backup> StartBackup() override;        // SqliteBackup.cpp
  void DeleteLogFile(const std::string& name) override;  // SqliteBackup.cpp
  void SetMessageSink(MessageSink* sink) override { sink_ = sink; }
  std::string UserName() const override { return user_; }
  std::string DatabaseName() const override;
  std::string EngineName() const override;

  // ---- for the SQLite side of the library (cursors, procedures, catalog) ----
  sqlite3* Handle() const { return db_; }
  SqliteDatabase& Db() const { return *database_; }
  int UserId() const { return userId_; }
  bool IsDba() const { return userId_ == 1 || dba_; }
  MessageSink* Sink() const { return sink_; }
  bool Utility() const;
  // Opens the chained transaction before a statement that writes.
  void BeginIfNeeded();
  bool InTransaction() const override;
  // Commits the open transaction before/after an object definition.
  void ImplicitCommit();
  // Option as text with the defaults applied; booleans: "On"/"Off" compared case-insensitively.
  bool OptionIsOn(std::string_view name);
  // Connection variables.
  void CreateVariable(const std::string& name, const std::string& type);
  void SetVariable(const std::string& name, Value v);
  void DropVariable(const std::string& name);
  bool HasVariable(const std::string& name) const;
  std::string VariableType(const std::string& name) const;
  // Prepares text (already in SQLite's dialect) on this handle; variables that SQLite does not
  // know as columns are resolved through the zyl_getvar() function. Throws SqlError.
  sqlite3_stmt* PrepareRaw(const std::string& text);
  // Binds values 1..n to a prepared statement (-188 when fewer values than markers). SQLite
  // copies text and bytes unless borrow is set: then it reads them where they lie in `in`, which
  // must outlive every step of the statement and be unbound (clear_bindings) before it goes.
  static void Bind(sqlite3_stmt* st, const std::vector<Value>& in, bool borrow = false);
  // The same, value k made to fit types[k] first where that type is checked (the bare markers
  // of a statement that writes typed columns, WriteChecks.h).
  void Bind(sqlite3_stmt* st, const std::vector<Value>& in, const std::vector<ColumnType>& types,
            bool borrow = false);
  // The options that choose between refusing and changing a value a column cannot hold
  // (string_rtruncation, conversion_error): read when the connection opens and after this
  // connection sets an option (a PUBLIC change by another connection counts from its next connect).
  const FitRules& WriteRules() const { return writeRules_; }
  static Value ColumnValue(sqlite3_stmt* st, int i);
  // Translation of the application's dialect into SQLite's, values written to typed columns
  // checked (WriteChecks.h). bareMarkers: see AddWriteChecks.
  std::string Translate(std::string_view text, std::vector<ColumnType>* bareMarkers = nullptr);
  // Request bracket: resets the cancel flag; the progress handler calls the sink's Waiting.
  void BeginRequest() override;
  void EndRequest() override;
  bool Cancelled() const { return cancel_.load(); }

 private:
  std::shared_ptr<SqliteDatabase> database_;
  sqlite3* db_;         // owned; closed in the destructor
  std::string user_;
  int userId_;
  bool dba_ = false;
  MessageSink* sink_ = nullptr;
  std::atomic<bool> cancel_{false};
  std::atomic<bool> running_{false};
  // Held by a cancel and by the statements that end a transaction: a cancel never interrupts a
  // COMMIT half-way, which would leave the transaction open with its changes for the
  // connection's next statement to commit.
  std::mutex endLock_;
  std::map<std::string, std::string, NoCaseLess> tempOptions_;
  struct Variable {
    std::string type;
    Value value;
  };
  std::map<std::string, Variable, NoCaseLess> vars_;
  long long lastWait_ = 0;
  void LoadWriteRules();
  FitRules writeRules_;  // from the options when the connection opened or this one last set one
  static int Progress(void* self);
  static int Busy(void* self, int count);
};

// While one lives, lock waits on this thread give up at once (work done on the way to a
// prepare must not wait for another connection's lock).
class NoLockWait {
 public:
  NoLockWait();
  ~NoLockWait();
  NoLockWait(const NoLockWait&) = delete;
  NoLockWait& operator=(const NoLockWait&) = delete;

 private:
  bool saved_;
};

class SqliteDatabase : public Database, public std::enable_shared_from_this<SqliteDatabase> {
 public:
  SqliteDatabase(std::string file, std::string name, std::string engine, bool utility, std::string suPassword);
  std::string Name() const override { return name_; }
  std::string File() const override { return utility_ ? std::string() : file_; }
  std::unique_ptr<Connection> Connect(std::string_view uid, std::string_view pwd) override;
  int ConnectionCount() const override { return connections_.load(); }
  const std::string& EngineName() const { return engine_; }
  bool IsUtility() const { return utility_; }
  void ConnectionClosed() { --connections_; }

 private:
  std::string file_, name_, engine_;
  bool utility_;
  std::string su_;
  std::atomic<int> connections_{0};
};

// Opens a handle on a database file with the library's settings (WAL, busy timeout, foreign
// keys, our SQL functions). Throws SqlError: -83 missing file, -84 not a database.
sqlite3* OpenHandle(const std::string& file, bool create);
// Creates a new database file with the catalog (-82 when the file exists or cannot be made).
void CreateDatabaseFile(const std::string& file);
// Deletes a database file created by the library (-84 when it is not one, -211 while in use).
void DropDatabaseFile(const std::string& file);

}  // namespace dbl
