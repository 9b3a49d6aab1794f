// What the library keeps per SQLCA (per client thread): its connections (named and unnamed,
// one current), their prepared statements by number and their cursors by name, the client's
// callbacks, and whether a request is running. Entry points reach it through ClientFor(sqlca);
// only db_cancel_request and db_is_working may touch a Client that another thread is using.
//
// Client life cycle:      db_init --> idle <--> working (one request) --> db_fini (all
//                         connections closed, their open transactions rolled back)
// Connection life cycle:  db_string_connect --> current --dbpp_setconnect--> (another current)
//                         --disconnect--> gone (cursors closed, statements dropped, auto-stop)
//                         A connection whose engine was stopped unconditionally is marked
//                         dropped; its next request fails with -308 and removes it.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "dblib/engine/Engine.h"
#include "dblib/engine/Registry.h"
#include "dblib/esql.h"
#include "dblib/sql/Errors.h"
#include "dblib/sql/Identifiers.h"

namespace dbl {

class Client;

struct CursorSlot {
  CursorSlot();
  ~CursorSlot();
  CursorSlot(CursorSlot&&) noexcept;
  std::string name;
  short stmtnum = 0;           // statement the cursor was declared for
  uint32_t declareOptions = 0;
  std::unique_ptr<Cursor> cursor;  // null: declared but not open
};

class ClientConnection : public MessageSink {
 public:
  ClientConnection(Client& client, std::string name) : client_(client), name(std::move(name)) {}
  ~ClientConnection() override;
  void Message(int type, int code, std::string_view text) override;
  void Waiting() override;

  // Statement numbers: 16-bit, from 1; the lowest free number first, so a dropped one is
  // reused; finding it costs a set look-up, not a probe from 1.
  short Store(short requested, std::unique_ptr<Statement> st, uint32_t options);
  Statement* Find(short number) const;
  uint32_t OptionsOf(short number) const;
  // The DT_ codes DESCRIBE INPUT gives the statement's markers, found once.
  const std::vector<short>& InputTypesOf(short number);
  void Drop(short number);
  CursorSlot* FindCursor(const char* name);
  CursorSlot& DeclareCursor(const std::string& name);
  void CloseCursorsOf(short number);

  Client& client_;
  std::string name;  // CON; empty for the unnamed connection
  std::shared_ptr<Engine> engine;        // null when attached to another process's engine
  std::shared_ptr<Database> database;
  std::unique_ptr<Connection> conn;
  std::unique_ptr<Backup> backup;  // db_backup between start and end; goes before conn
  bool autoStopDatabase = false;  // this connect started the database with AutoStop
  std::atomic<bool> dropped{false};
  std::map<std::string, short, NoCaseLess> statementNames;  // named statements

 private:
  struct Slot {
    std::unique_ptr<Statement> st;
    uint32_t options = 0;
    std::vector<short> inputTypes;  // valid when inputTypesKnown
    bool inputTypesKnown = false;
  };
  std::map<short, Slot> statements_;
  // Numbers to hand out without probing: below next_, every number is in statements_ or in
  // free_; from next_ on, none is used.
  std::set<short> free_;
  int next_ = 1;
  size_t highWater_ = 0;  // most statements held at once since memory was last given back
  void ReleaseMemoryAfterMassDrop();
  std::map<std::string, CursorSlot, NoCaseLess> cursors_;
  CursorSlot* lastCursor_ = nullptr;  // the slot found last: a statement reopens the same cursor
};

class Client {
 public:
  explicit Client(SQLCA* ca) : sqlca(ca) {}
  ~Client();
  // The current connection; -101 when there is none, -308 when it was dropped.
  ClientConnection& Current();
  ClientConnection* FindConnection(const std::string& name);
  ClientConnection& Add(std::unique_ptr<ClientConnection> c);
  void Remove(ClientConnection* c);
  void RemoveAll();
  void SetCurrent(ClientConnection* c);
  std::vector<ClientConnection*> Connections();
  void Call(int index);                          // start / wait / finish
  void CallMessage(int type, int code, std::string_view text);
  void CallDropped(const std::string& name);
  void CallDebug(const std::string& text);
  // Whether the current connection has a transaction open. The second form is for the thread
  // running a request, which alone changes the connections, so it reads them without the lock.
  bool InTransaction();
  bool InTransactionOwnThread() const {
    return current_ && current_->conn && current_->conn->InTransaction();
  }

  SQLCA* sqlca;
  SQL_CALLBACK_PARM callbacks[DB_MAX_CALLBACK] = {};
  std::atomic<bool> working{false};
  int lastCode = 0;          // code of the last message kept in full
  std::string lastMessage;   // full text (sqlerrmc holds only 70 bytes of parameters)
  bool debug = false;        // LOG/DBG given on connect: debug lines go to callback 9
  std::mutex m;              // guards connections_/current_ against db_cancel_request

 private:
  std::vector<std::unique_ptr<ClientConnection>> connections_;
  ClientConnection* current_ = nullptr;
};

// nullptr for NULL or unknown SQLCAs.
std::shared_ptr<Client> ClientFor(SQLCA* ca);
std::shared_ptr<Client> CreateClient(SQLCA* ca);
void DestroyClient(SQLCA* ca);
// Marks every connection of every client on that engine as dropped.
void DropConnectionsOf(const std::string& engineName);

// Records an error in the SQLCA and keeps its full text for sqlerror_message.
void ReportError(Client& c, const SqlError& e);
void ReportCode(Client& c, int code, const std::vector<std::string>& args = {});

// Runs one request: checks the SQLCA, -298 when a request already runs on it, callbacks
// start/finish, clears the SQLCA, turns every exception into an SQLCODE. Returns false when
// the request did not run or failed (SQLCODE < 0).
template <class F>
bool Request(SQLCA* ca, F&& body) {
  if (!ca) return false;
  auto client = ClientFor(ca);
  if (!client) {
    SetSqlca(ca, SQLE_DB_INIT_NOT_CALLED);
    return false;
  }
  if (client->working.exchange(true)) {
    SetSqlca(ca, SQLE_DOUBLE_REQUEST);
    return false;
  }
  client->Call(DB_CALLBACK_START);
  ClearSqlca(ca);
  // An engine may have to end the whole transaction to stop a statement that changes data;
  // the caller learns it from the code (-302 instead of -299).
  const bool inTransaction = client->InTransactionOwnThread();
  try {
    body(*client);
  } catch (const SqlError& e) {
    if (e.Code() == SQLE_INTERRUPTED && inTransaction && !client->InTransactionOwnThread())
      ReportError(*client, SqlError(SQLE_TERMINATED_BY_USER));
    else
      ReportError(*client, e);
  } catch (const std::bad_alloc&) {
    ReportCode(*client, SQLE_DYNAMIC_MEMORY_EXHAUSTED);
  } catch (const std::exception& e) {
    ReportCode(*client, SQLE_ERROR, {e.what()});
  } catch (...) {
    ReportCode(*client, SQLE_ERROR, {"internal error"});
  }
  client->Call(DB_CALLBACK_FINISH);
  client->working.store(false);
  return ca->sqlcode >= 0;
}

// Brackets an engine request on a connection (cancel flag, wait callbacks).
class EngineRequest {
 public:
  explicit EngineRequest(ClientConnection& c);
  ~EngineRequest();

 private:
  Connection* c_;
};

}  // namespace dbl
