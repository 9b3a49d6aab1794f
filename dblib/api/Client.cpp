// Per-SQLCA client state: connections, statement numbers, cursors, callbacks.
#include "dblib/api/Client.h"

#include <algorithm>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "dblib/engine/Cursor.h"
#include "dblib/sql/Describe.h"

namespace dbl {
namespace {

// Never destroyed while in use (entry points may run from exit paths); see FreeTableAtUnload.
std::mutex* g_tableMutex = nullptr;
std::map<SQLCA*, std::shared_ptr<Client>>* g_table = nullptr;

std::mutex& TableMutex() {
  static std::mutex* m = g_tableMutex = new std::mutex();
  return *m;
}
std::map<SQLCA*, std::shared_ptr<Client>>& Table() {
  static auto* t = g_table = new std::map<SQLCA*, std::shared_ptr<Client>>();
  return *t;
}

// A program that unloads the library (FreeLibrary after its last db_fini) gets the table back,
// instead of losing it with every load; a table still holding clients stays as it is.
__attribute__((destructor)) void FreeTableAtUnload() {
  if (g_table && g_table->empty()) {
    delete g_table;
    delete g_tableMutex;
  }
}

using VoidCb = void (*)(SQLCA*);
using MessageCb = void (*)(SQLCA*, unsigned char, an_sql_code, unsigned short, char*);
using DroppedCb = void (*)(SQLCA*, char*);
using DebugCb = void (*)(SQLCA*, char*);

}  // namespace

std::shared_ptr<Client> ClientFor(SQLCA* ca) {
  if (!ca) return nullptr;
  std::lock_guard<std::mutex> lock(TableMutex());
  auto it = Table().find(ca);
  return it == Table().end() ? nullptr : it->second;
}

std::shared_ptr<Client> CreateClient(SQLCA* ca) {
  std::lock_guard<std::mutex> lock(TableMutex());
  auto& slot = Table()[ca];
  if (!slot) slot = std::make_shared<Client>(ca);
  return slot;
}

void DestroyClient(SQLCA* ca) {
  std::shared_ptr<Client> c;
  {
    std::lock_guard<std::mutex> lock(TableMutex());
    auto it = Table().find(ca);
    if (it == Table().end()) return;
    c = it->second;
    Table().erase(it);
  }
  c->RemoveAll();
}

void DropConnectionsOf(const std::string& engineName) {
  std::vector<std::shared_ptr<Client>> all;
  {
    std::lock_guard<std::mutex> lock(TableMutex());
    for (auto& [k, c] : Table()) all.push_back(c);
  }
  for (auto& c : all) {
    std::lock_guard<std::mutex> lock(c->m);
    for (auto* cc : c->Connections())
      if (cc->engine && UpperName(cc->engine->Name()) == UpperName(engineName)) cc->dropped.store(true);
  }
}

void ReportError(Client& c, const SqlError& e) {
  SetSqlca(c.sqlca, e);
  c.lastCode = e.Code();
  c.lastMessage = FormatMessage(e.Code(), e.Args());
}

void ReportCode(Client& c, int code, const std::vector<std::string>& args) {
  SetSqlca(c.sqlca, code, args);
  c.lastCode = code;
  c.lastMessage = FormatMessage(code, args);
}

CursorSlot::CursorSlot() = default;
CursorSlot::~CursorSlot() = default;
CursorSlot::CursorSlot(CursorSlot&&) noexcept = default;

// ---- ClientConnection ----

ClientConnection::~ClientConnection() {
  // Cursors before statements before the connection: each refers to the one after it.
  cursors_.clear();
  statements_.clear();
  backup.reset();
  conn.reset();
}

void ClientConnection::Message(int type, int code, std::string_view text) { client_.CallMessage(type, code, text); }
void ClientConnection::Waiting() { client_.Call(DB_CALLBACK_WAIT); }

short ClientConnection::Store(short requested, std::unique_ptr<Statement> st, uint32_t options) {
  int n = requested;
  if (n <= 0) {
    // The lowest number not in use: a dropped one, else the next never used.
    if (!free_.empty()) {
      n = *free_.begin();
      free_.erase(free_.begin());
    } else {
      if (next_ > 32767) throw SqlError(SQLE_DYNAMIC_MEMORY_EXHAUSTED);
      n = next_++;
    }
  } else if (statements_.count(short(n))) {
    // Re-preparing a number replaces its statement; cursors on the old one are closed.
    CloseCursorsOf(short(n));
  } else if (n >= next_) {
    for (int k = next_; k < n; ++k) free_.insert(short(k));  // skipped numbers stay free
    next_ = n + 1;
  } else {
    free_.erase(short(n));
  }
  Slot& slot = statements_[short(n)];
  slot = Slot{};
  slot.st = std::move(st);
  slot.options = options;
  return short(n);
}

Statement* ClientConnection::Find(short number) const {
  auto it = statements_.find(number);
  return it == statements_.end() ? nullptr : it->second.st.get();
}

const std::vector<short>& ClientConnection::InputTypesOf(short number) {
  static const std::vector<short> none;
  auto it = statements_.find(number);
  if (it == statements_.end()) return none;
  Slot& s = it->second;
  if (!s.inputTypesKnown) {
    std::vector<ParamDesc> params;
    s.st->DescribeInput(params);
    // One per marker, as the input descriptor has them (output-only ones included).
    for (const ParamDesc& p : params) s.inputTypes.push_back(p.sqltype);
    s.inputTypesKnown = true;
  }
  return s.inputTypes;
}

uint32_t ClientConnection::OptionsOf(short number) const {
  auto it = statements_.find(number);
  return it == statements_.end() ? 0 : it->second.options;
}

void ClientConnection::Drop(short number) {
  auto it = statements_.find(number);
  if (it == statements_.end()) throw SqlError(SQLE_INVALID_STATEMENT);
  CloseCursorsOf(number);
  for (auto& [k, c] : cursors_)
    if (c.stmtnum == number) c.stmtnum = 0;
  statements_.erase(it);
  free_.insert(number);
  ReleaseMemoryAfterMassDrop();
  for (auto nit = statementNames.begin(); nit != statementNames.end();)
    nit = nit->second == number ? statementNames.erase(nit) : std::next(nit);
}

// The engine frees what a statement held when it is dropped, but the C library keeps the freed
// pages for the process. After a connection held many statements and dropped most of them
// (thousands of prepares, as a statement cache may make), those pages go back to the system
// once; the high-water mark then starts again, so the cost is paid rarely.
void ClientConnection::ReleaseMemoryAfterMassDrop() {
  highWater_ = std::max(highWater_, statements_.size() + 1);
  if (highWater_ < 1024 || statements_.size() > highWater_ / 4) return;
  highWater_ = statements_.size();
#if defined(__GLIBC__)
  malloc_trim(0);
#endif
}

CursorSlot* ClientConnection::FindCursor(const char* name) {
  // Cursor names are compared without case; the name found last is tried first as written.
  if (lastCursor_ && lastCursor_->name == name) return lastCursor_;
  auto it = cursors_.find(name);
  if (it == cursors_.end()) return nullptr;
  return lastCursor_ = &it->second;
}

CursorSlot& ClientConnection::DeclareCursor(const std::string& name) {
  auto& slot = cursors_[name];
  slot.name = name;
  return *(lastCursor_ = &slot);
}

void ClientConnection::CloseCursorsOf(short number) {
  for (auto& [k, c] : cursors_)
    if (c.stmtnum == number) c.cursor.reset();
}

// ---- Client ----

Client::~Client() { RemoveAll(); }

ClientConnection& Client::Current() {
  if (!current_) throw SqlError(SQLE_NOT_CONNECTED);
  if (current_->dropped.load()) {
    std::string name = current_->name;
    Remove(current_);
    CallDropped(name);
    throw SqlError(SQLE_CONNECTION_TERMINATED);
  }
  return *current_;
}

ClientConnection* Client::FindConnection(const std::string& name) {
  for (auto& c : connections_)
    if (UpperName(c->name) == UpperName(name)) return c.get();
  return nullptr;
}

ClientConnection& Client::Add(std::unique_ptr<ClientConnection> c) {
  std::lock_guard<std::mutex> lock(m);
  connections_.push_back(std::move(c));
  current_ = connections_.back().get();
  return *current_;
}

void Client::Remove(ClientConnection* c) {
  std::unique_ptr<ClientConnection> gone;
  {
    std::lock_guard<std::mutex> lock(m);
    auto it = std::find_if(connections_.begin(), connections_.end(), [&](auto& p) { return p.get() == c; });
    if (it == connections_.end()) return;
    gone = std::move(*it);
    connections_.erase(it);
    if (current_ == c) current_ = connections_.empty() ? nullptr : connections_.back().get();
  }
  gone.reset();  // closes the connection outside the lock
  Registry::Get().SweepAutoStop();
}

bool Client::InTransaction() {
  std::lock_guard<std::mutex> lock(m);
  return current_ && current_->conn && current_->conn->InTransaction();
}

void Client::SetCurrent(ClientConnection* c) {
  std::lock_guard<std::mutex> lock(m);
  current_ = c;
}

void Client::RemoveAll() {
  while (true) {
    ClientConnection* c;
    {
      std::lock_guard<std::mutex> lock(m);
      if (connections_.empty()) return;
      c = connections_.back().get();
    }
    Remove(c);
  }
}

std::vector<ClientConnection*> Client::Connections() {
  std::vector<ClientConnection*> v;
  for (auto& c : connections_) v.push_back(c.get());
  return v;
}

void Client::Call(int index) {
  if (auto cb = callbacks[index]) reinterpret_cast<VoidCb>(cb)(sqlca);
}

void Client::CallMessage(int type, int code, std::string_view text) {
  if (auto cb = callbacks[DB_CALLBACK_MESSAGE]) {
    std::string copy(text.substr(0, 65535));
    reinterpret_cast<MessageCb>(cb)(sqlca, static_cast<unsigned char>(type), code,
                                    static_cast<unsigned short>(copy.size()), copy.data());
  }
}

void Client::CallDropped(const std::string& name) {
  if (auto cb = callbacks[DB_CALLBACK_CONN_DROPPED]) {
    std::string copy = name;
    reinterpret_cast<DroppedCb>(cb)(sqlca, name.empty() ? nullptr : copy.data());
  }
}

void Client::CallDebug(const std::string& text) {
  if (!debug) return;
  if (auto cb = callbacks[DB_CALLBACK_DEBUG_MESSAGE]) {
    std::string copy = text + "\n";
    reinterpret_cast<DebugCb>(cb)(sqlca, copy.data());
  }
}

// ---- EngineRequest ----

EngineRequest::EngineRequest(ClientConnection& c) : c_(c.conn.get()) {
  if (c_) c_->BeginRequest();
}
EngineRequest::~EngineRequest() {
  if (c_) c_->EndRequest();
}

}  // namespace dbl
