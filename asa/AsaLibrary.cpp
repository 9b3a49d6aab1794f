// The process-wide callback table and the other private helpers of the session.
//
// Why a table rather than generated code: every callback the session registers receives the
// SQLCA of the request as its first argument, and each session registers on its own SQLCA, so
// (SQLCA, index) identifies the session exactly. Six plain functions (one per index) look the
// session up and call it. This needs no executable memory, works the same under sanitizers and on
// systems that forbid writable+executable pages, and releasing a binding is erasing an entry.
#include "asa/AsaLibrary.h"

#include <map>
#include <mutex>
#include <utility>

namespace asa_detail {

namespace {

std::mutex& TableMutex() {
  static std::mutex M;
  return M;
}

std::map<std::pair<SQLCA*, int>, TAsaSession*>& Table() {
  static std::map<std::pair<SQLCA*, int>, TAsaSession*> T;
  return T;
}

void StartCb(SQLCA* Ca) {
  if (TAsaSession* S = FindCallbackSession(Ca, DB_CALLBACK_START)) S->DoServerStart();
}
void WaitCb(SQLCA* Ca) {
  if (TAsaSession* S = FindCallbackSession(Ca, DB_CALLBACK_WAIT)) S->DoServerWait(Ca);
}
void FinishCb(SQLCA* Ca) {
  if (TAsaSession* S = FindCallbackSession(Ca, DB_CALLBACK_FINISH)) S->DoServerFinish();
}
void MessageCb(SQLCA* Ca, unsigned char Type, an_sql_code Code, unsigned short Length, char* Msg) {
  if (TAsaSession* S = FindCallbackSession(Ca, DB_CALLBACK_MESSAGE)) S->DoServerMessage(Type, Code, Length, Msg);
}
void DroppedCb(SQLCA* Ca, char*) {
  if (TAsaSession* S = FindCallbackSession(Ca, DB_CALLBACK_CONN_DROPPED)) S->DoConnectionDropped();
}
void DebugCb(SQLCA* Ca, char* Text) {
  if (TAsaSession* S = FindCallbackSession(Ca, DB_CALLBACK_DEBUG_MESSAGE)) S->DoDebugMessage(Text);
}

}  // namespace

SQL_CALLBACK_PARM CallbackFunction(a_db_callback_index Index) {
  switch (Index) {
    case DB_CALLBACK_START: return reinterpret_cast<SQL_CALLBACK_PARM>(&StartCb);
    case DB_CALLBACK_WAIT: return reinterpret_cast<SQL_CALLBACK_PARM>(&WaitCb);
    case DB_CALLBACK_FINISH: return reinterpret_cast<SQL_CALLBACK_PARM>(&FinishCb);
    case DB_CALLBACK_MESSAGE: return reinterpret_cast<SQL_CALLBACK_PARM>(&MessageCb);
    case DB_CALLBACK_CONN_DROPPED: return reinterpret_cast<SQL_CALLBACK_PARM>(&DroppedCb);
    case DB_CALLBACK_DEBUG_MESSAGE: return reinterpret_cast<SQL_CALLBACK_PARM>(&DebugCb);
    default: return nullptr;
  }
}

void BindCallback(SQLCA* Ca, a_db_callback_index Index, TAsaSession* Session) {
  std::lock_guard<std::mutex> Lock(TableMutex());
  Table()[{Ca, static_cast<int>(Index)}] = Session;
}

void ReleaseCallback(SQLCA* Ca, a_db_callback_index Index) {
  std::lock_guard<std::mutex> Lock(TableMutex());
  Table().erase({Ca, static_cast<int>(Index)});
}

void ReleaseSession(TAsaSession* Session) {
  std::lock_guard<std::mutex> Lock(TableMutex());
  for (auto It = Table().begin(); It != Table().end();) {
    if (It->second == Session) It = Table().erase(It);
    else ++It;
  }
}

TAsaSession* FindCallbackSession(SQLCA* Ca, a_db_callback_index Index) {
  std::lock_guard<std::mutex> Lock(TableMutex());
  auto It = Table().find({Ca, static_cast<int>(Index)});
  return It == Table().end() ? nullptr : It->second;
}

int CallbackBindingCount() {
  std::lock_guard<std::mutex> Lock(TableMutex());
  return static_cast<int>(Table().size());
}

int LocateServersCallback(SQLCA*, a_server_address* Address, void* User) {
  auto* S = static_cast<TAsaSession*>(User);
  return S && Address && S->DoLocateServer(Address) ? 1 : 0;
}

AnsiString FileNamePart(const AnsiString& Path) {
  size_t Cut = Path.find_last_of("/\\:");
  return Cut == AnsiString::npos ? Path : Path.substr(Cut + 1);
}

}  // namespace asa_detail

void* AsaGetPPProc(HMODULE Library, const char* Name) {
  void* P = Library ? reinterpret_cast<void*>(GetProcAddress(Library, Name)) : nullptr;
  return P ? P : AsaDummyProc();
}
