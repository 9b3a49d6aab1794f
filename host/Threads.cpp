// Threads: the synchronise queue shared by all workers, the event object and the
// worker thread's run frame.
#include "host/Threads.h"

#include <chrono>
#include <deque>

namespace {

// One queued call. The caller waits on Done until the main thread has run it.
struct TSyncRequest {
  TThreadMethod Method;
  std::exception_ptr Error;
  bool Done = false;
};

struct TSyncQueue {
  std::mutex Lock;
  std::condition_variable Changed;  // a call was queued, or a thread finished
  std::condition_variable Ran;      // a queued call has run
  std::deque<TSyncRequest*> Pending;
};

// Never destroyed: a thread that frees itself still signals the queue on its way out, and may do
// so while the process exits and runs the destructors of static objects.
TSyncQueue& Queue() {
  static TSyncQueue* Q = new TSyncQueue;
  return *Q;
}

std::atomic<std::thread::id>& MainId() {
  static std::atomic<std::thread::id> Id{std::this_thread::get_id()};
  return Id;
}
// Taken when the library is loaded, which happens on the program's main thread.
const bool MainIdTaken = (MainId(), true);

}  // namespace

std::thread::id MainThreadID() { return MainId().load(); }
void SetMainThread(std::thread::id Id) { MainId().store(Id); }
bool IsMainThread() { return std::this_thread::get_id() == MainThreadID(); }

void Synchronize(const TThreadMethod& Method) {
  if (!Method) return;
  if (IsMainThread()) {
    Method();
    return;
  }
  TSyncRequest Request;
  Request.Method = Method;
  TSyncQueue& Q = Queue();
  std::unique_lock<std::mutex> Guard(Q.Lock);
  Q.Pending.push_back(&Request);
  Q.Changed.notify_all();
  Q.Ran.wait(Guard, [&] { return Request.Done; });
  if (Request.Error) std::rethrow_exception(Request.Error);
}

bool CheckSynchronize(uint32_t Timeout) {
  if (!IsMainThread()) return false;
  TSyncQueue& Q = Queue();
  std::unique_lock<std::mutex> Guard(Q.Lock);
  if (Q.Pending.empty() && Timeout > 0) {
    auto Ready = [&] { return !Q.Pending.empty(); };
    if (Timeout == INFINITE)
      Q.Changed.wait(Guard, Ready);
    else
      Q.Changed.wait_for(Guard, std::chrono::milliseconds(Timeout), Ready);
  }
  bool RanAny = false;
  while (!Q.Pending.empty()) {
    TSyncRequest* Request = Q.Pending.front();
    Q.Pending.pop_front();
    // The call runs unlocked: it may itself queue work or start threads.
    Guard.unlock();
    try {
      Request->Method();
    } catch (...) {
      Request->Error = std::current_exception();
    }
    Guard.lock();
    Request->Done = true;
    RanAny = true;
    Q.Ran.notify_all();
  }
  return RanAny;
}

// ---------------------------------------------------------------------------

void TEvent::SetEvent() {
  std::lock_guard<std::mutex> Guard(FLock);
  FSignaled = true;
  if (FManualReset)
    FChanged.notify_all();
  else
    FChanged.notify_one();
}

void TEvent::ResetEvent() {
  std::lock_guard<std::mutex> Guard(FLock);
  FSignaled = false;
}

bool TEvent::IsSet() const {
  std::lock_guard<std::mutex> Guard(FLock);
  return FSignaled;
}

TWaitResult TEvent::WaitFor(uint32_t Timeout) {
  std::unique_lock<std::mutex> Guard(FLock);
  auto Ready = [&] { return FSignaled; };
  if (Timeout == INFINITE)
    FChanged.wait(Guard, Ready);
  else if (!FChanged.wait_for(Guard, std::chrono::milliseconds(Timeout), Ready))
    return wrTimeout;
  if (!FManualReset) FSignaled = false;
  return wrSignaled;
}

// ---------------------------------------------------------------------------

TThread::TThread(bool CreateSuspended) : FCreateSuspended(CreateSuspended) {}

void TThread::AfterConstruction() {
  if (!FCreateSuspended && !FStarted) Start();
}

void TThread::Start() {
  if (FStarted) throw EThread("Cannot call Start on a running or terminated thread");
  FStarted = true;
  FThread = std::thread([this] { Run(); });
}

void TThread::Run() {
  try {
    Execute();
  } catch (...) {
    FFatalException = std::current_exception();
  }
  try {
    DoTerminate();
  } catch (...) {
    if (!FFatalException) FFatalException = std::current_exception();
  }
  bool FreeSelf = FreeOnTerminate;
  {
    std::lock_guard<std::mutex> Guard(FDoneLock);
    FFinished = true;
  }
  FDone.notify_all();
  {
    // Wake a main thread that pumps in WaitFor.
    TSyncQueue& Q = Queue();
    std::lock_guard<std::mutex> Guard(Q.Lock);
    Q.Changed.notify_all();
  }
  if (FreeSelf) {
    FThread.detach();
    delete this;
  }
}

void TThread::DoTerminate() {
  if (OnTerminate) Synchronize([this] { OnTerminate(this); });
}

int TThread::WaitFor() {
  if (!FStarted) throw EThread("Cannot wait for a thread that was never started");
  if (std::this_thread::get_id() == FThread.get_id())
    throw EThread("A thread cannot wait for itself");
  if (IsMainThread()) {
    // Keep serving the queue: the worker may be inside Synchronize (its termination
    // handler is one such call).
    while (!FFinished) CheckSynchronize(10);
  } else {
    std::unique_lock<std::mutex> Guard(FDoneLock);
    FDone.wait(Guard, [this] { return FFinished.load(); });
  }
  if (FThread.joinable()) FThread.join();
  return ReturnValue;
}

void TThread::TerminateAndWait() {
  if (!FThread.joinable() || std::this_thread::get_id() == FThread.get_id()) return;
  FTerminated = true;
  WaitFor();
}

TThread::~TThread() {
  if (FThread.joinable() && std::this_thread::get_id() == FThread.get_id())
    FThread.detach();  // freeing itself after its termination handler
  else
    TerminateAndWait();
}
