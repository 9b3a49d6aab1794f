// The network engine: the engine interface (dblib/engine/Engine.h) over a PostgreSQL server,
// reached through libpq. A PgDatabase is one database on one server; each PgConnection is one
// libpq connection of the user who logged in with the server's own users and passwords.
//
// Transactions follow the chained mode: the first statement that writes (or opens a cursor)
// opens a transaction that lasts until Commit or Rollback; reads outside a transaction run on
// their own, so committed changes of other connections are seen. A statement that fails inside
// a transaction undoes only itself: each one runs behind a savepoint, sent in the same round
// trip (libpq's pipeline mode), so the server's rule that one error aborts the whole transaction
// never reaches the client. Definitions (CREATE/ALTER/DROP) commit before and after themselves.
//
// Statement and cursor names on the server: zs_<n> (prepared statements), zc_<n> (cursors).
// Cursors are declared WITH HOLD, so they live on after the commits the client makes while they
// are open, as the vendor's do; a cursor closed inside the transaction that opened it costs the
// server nothing at commit.
//
// Connection life cycle: open (logged in, session settings sent) --Prepare/Execute/Commit/
//   Rollback--> open --destructor--> rolled back and closed.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "dblib/engine/Cursor.h"
#include "dblib/engine/Engine.h"
#include "dblib/postgres/Pg.h"
#include "dblib/sql/Describe.h"
#include "dblib/sql/Identifiers.h"
#include "dblib/sql/TypeMap.h"

namespace dbl {

class PgDatabase;

// One command of a round trip: SQL text with $n markers, or the name of a prepared statement.
struct PgCommand {
  enum Kind { Query, Execute, Prepare, Describe };
  std::string text;                        // Query, Prepare: SQL text
  std::string prepared;                    // Execute, Prepare, Describe: the statement's name
  const std::vector<Value>* params = nullptr;
  Kind kind = Query;
  bool typed = false;      // Query: integers and numbers go typed (int4/int8, numeric), not as untyped text
  bool nullsAsText = false;  // typed: NULLs go as text (where nothing else gives them a type)
  static PgCommand Sql(std::string text, const std::vector<Value>* params = nullptr) { return {std::move(text), {}, params, Query}; }
};

class PgConnection : public Connection {
 public:
  PgConnection(std::shared_ptr<PgDatabase> db, pg::Conn conn, std::string user, std::string password);
  ~PgConnection() override;

  std::unique_ptr<Statement> Prepare(std::string_view text) override;
  ExecResult ExecuteImmediate(std::string_view text) override;
  void Commit() override;
  void Rollback() override;
  std::string GetOption(std::string_view name) override;
  void SetOption(std::string_view user, std::string_view name, std::string_view value, bool temporary) override;
  bool GetVariable(std::string_view name, Value& out) override;
  std::string Explain(std::string_view text) override;
  void Cancel() override;
  void BeginRequest() override;
  void EndRequest() override;
  std::unique_ptr<Backup> StartBackup() override;
  void DeleteLogFile(const std::string& name) override;
  void SetMessageSink(MessageSink* sink) override { sink_ = sink; }
  std::string UserName() const override { return user_; }
  std::string DatabaseName() const override;
  std::string EngineName() const override;

  // ---- for the statements and cursors of this engine ----
  PGconn* Raw() const { return conn_.get(); }
  bool Utility() const;
  MessageSink* Sink() const { return sink_; }
  // Whether the client asked to cancel the running request (the interpreter of a procedure
  // looks between the statements of a body).
  bool Cancelled() const { return cancelled_.load(); }
  // Alerts: whether this connection listens for them, and the notifications that arrived (true
  // when there was one). Every round trip drops those that came before it.
  bool Listening() const { return listening_; }
  void SetListening() { listening_ = true; }
  bool DrainNotifications();
  bool InTransaction() const { return inTx_; }
  uint64_t TransactionNumber() const { return txNumber_; }
  // Runs the commands in one round trip and returns their results (all succeeded). needTx:
  // the commands must run inside the chained transaction (opened first when there is none).
  // A failure undoes the failed command only and throws its error.
  std::vector<pg::Result> Run(const std::vector<PgCommand>& cmds, bool needTx);
  pg::Result RunOne(const std::string& text, const std::vector<Value>& params, bool needTx);
  // Commits the open transaction before/after an object definition.
  void ImplicitCommit();
  // A cursor closed on our side: the server's cursor goes with the next round trip.
  void CloseLater(const std::string& cursor, uint64_t txNumber);
  void DeallocateLater(const std::string& statement);
  std::string NewName(const char* prefix);
  // The application's text in the server's dialect ($n markers). variables: names of
  // connection variables to bind after the statement's own markers (their markers follow).
  std::string Translate(std::string_view text, const std::vector<std::string>& variables, int* markers = nullptr);
  // Result columns of a described statement or a result, with what the server's catalog says
  // about base columns (declared type, NOT NULL, table).
  void DescribeColumns(const PGresult* r, std::vector<ColumnDesc>& out);
  void ForgetDescriptions() { baseCols_.clear(); }
  // Option as text with the defaults applied; booleans: "On"/"Off" compared case-insensitively.
  bool OptionIsOn(std::string_view name);
  int IsolationLevel();
  // Connection variables.
  void CreateVariable(const std::string& name, const std::string& type);
  void SetVariable(const std::string& name, Value v);
  void DropVariable(const std::string& name);
  bool HasVariable(const std::string& name) const { return vars_.count(name) != 0; }
  std::string VariableType(const std::string& name) const;
  // Roles of the server (owner prefixes), read once per connection.
  bool IsRole(std::string_view name);
  // Another libpq connection of the same user to database dbname of the same server.
  pg::Conn ConnectOther(const std::string& dbname) const;

 private:
  void Flush(std::vector<PgCommand>& front);
  void SetSessionIsolation();

  std::shared_ptr<PgDatabase> database_;
  pg::Conn conn_;
  PGcancel* cancel_ = nullptr;  // owned
  std::string user_;
  std::string password_;  // for the connection CREATE DATABASE makes to the new database
  MessageSink* sink_ = nullptr;
  bool inTx_ = false;
  uint64_t txNumber_ = 1;       // counts transactions, so cursors know whether theirs ended
  uint64_t names_ = 0;
  std::atomic<bool> running_{false};
  std::atomic<bool> cancelled_{false};
  bool listening_ = false;
  std::vector<std::pair<std::string, uint64_t>> pendingCloses_;  // (cursor, its transaction)
  std::vector<std::string> pendingDeallocs_;
  std::map<std::string, std::string, NoCaseLess> tempOptions_;
  struct Variable {
    std::string type;
    Value value;
  };
  std::map<std::string, Variable, NoCaseLess> vars_;
  struct BaseColumn {
    std::string table, column, typeName;  // typeName: a vendor type kept as a domain, else empty
    bool notNull = false, updatable = false;
  };
  std::map<std::pair<unsigned, int>, BaseColumn> baseCols_;  // (table oid, attnum)
  std::set<std::string> roles_;
  bool rolesLoaded_ = false;
};

class PgDatabase : public Database, public std::enable_shared_from_this<PgDatabase> {
 public:
  explicit PgDatabase(ServerAddress address);
  std::string Name() const override { return utility_ ? "utility_db" : address_.database; }
  std::string File() const override { return {}; }
  std::unique_ptr<Connection> Connect(std::string_view uid, std::string_view pwd) override;
  int ConnectionCount() const override { return connections_.load(); }
  const ServerAddress& Address() const { return address_; }
  bool IsUtility() const { return utility_; }
  std::string EngineName() const;
  void ConnectionClosed() { --connections_; }

 private:
  ServerAddress address_;
  bool utility_;
  std::atomic<int> connections_{0};
};

// A libpq connection to database dbname of the server (no session settings). Throws -103,
// -83 or -100 as FromConnect says.
pg::Conn ConnectServer(const ServerAddress& a, const std::string& dbname, std::string_view uid, std::string_view pwd);

// Statements of the engine (PgStatement.cpp).
std::unique_ptr<Statement> PreparePgStatement(PgConnection& conn, std::string_view text);
// Result values: the text the server sent for a column of type oid as a neutral value.
ValueRef PgValue(const char* text, int length, unsigned oid, std::string& scratch);
// Type of a result column or parameter: a vendor type kept as a domain by its name, else by the
// server's type and modifier.
TypeInfo PgTypeInfo(unsigned oid, int typmod, const std::string& domainName);

// A cursor over the statement's result (PgCursor.cpp).
std::unique_ptr<Cursor> OpenPgCursor(PgConnection& conn, const std::string& translated, std::vector<ColumnDesc> columns,
                                     const std::vector<Value>& in, const CursorOptions& options);

// The catalog our library needs in a database of the server (PgCatalog.cpp): the sys views, the
// vendor's types, the options table. Idempotent and versioned: skipped when this version is
// there already, unless always (ALTER DATABASE UPGRADE).
void InstallCatalog(PGconn* c, bool always = false);
int CatalogVersion(PGconn* c);  // 0 when not installed

}  // namespace dbl
