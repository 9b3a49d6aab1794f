// Threads: the worker-thread object, the main thread's synchronise queue and the
// event object. A worker reaches the main thread only through Synchronize; the main
// thread runs the queued calls when it pumps (CheckSynchronize, or the application's
// message processing in host/Forms.h).
//
// Life cycle of a TThread:
//
//   created --(CreateSuspended false)--> running      created suspended --Start--> running
//   running --Execute returns or throws--> finishing: OnTerminate runs on the main
//        thread through Synchronize --> finished --(FreeOnTerminate)--> deleted by itself
//   Terminate only sets Terminated(); Execute must look at it and return.
//   WaitFor blocks until finished; called on the main thread it keeps pumping the
//   synchronise queue, so a worker inside Synchronize cannot deadlock it.
#pragma once
#pragma GCC visibility push(default)

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

#include "host/SysUtils.h"

class EThread : public Exception { using Exception::Exception; };

constexpr uint32_t INFINITE = 0xFFFFFFFFu;

using TThreadMethod = std::function<void()>;

// The thread that counts as the application's main thread: the one that loaded the
// host library, unless a program names another with SetMainThread.
std::thread::id MainThreadID();
void SetMainThread(std::thread::id Id);
bool IsMainThread();

// Runs Method on the main thread and returns when it has run. Called on the main
// thread it runs at once. An exception raised by Method is raised again here, on the
// calling thread.
void Synchronize(const TThreadMethod& Method);

// The main thread's pump: runs every queued synchronise call. Waits up to Timeout
// milliseconds for a first call when the queue is empty. Returns whether any ran.
// Called on another thread it does nothing and returns false.
bool CheckSynchronize(uint32_t Timeout = 0);

enum TWaitResult : uint8_t { wrSignaled = 0, wrTimeout = 1, wrAbandoned = 2, wrError = 3 };

// An event object: signalled or not; a manual-reset event stays signalled until
// ResetEvent, an automatic one releases one waiter and resets itself.
class TEvent {
public:
  explicit TEvent(bool ManualReset = true, bool InitialState = false)
      : FManualReset(ManualReset), FSignaled(InitialState) {}
  TEvent(const TEvent&) = delete;
  TEvent& operator=(const TEvent&) = delete;

  void SetEvent();
  void ResetEvent();
  // Waits until signalled, at most Timeout milliseconds (INFINITE: no limit).
  TWaitResult WaitFor(uint32_t Timeout = INFINITE);
  bool IsSet() const;

private:
  const bool FManualReset;
  mutable std::mutex FLock;
  std::condition_variable FChanged;
  bool FSignaled;  // guarded by FLock
};

class TThread {
public:
  using TThreadNotifyEvent = std::function<void(TThread* Sender)>;

  // A thread is never started by its constructor: Execute is virtual and the derived
  // object is not built yet there. A thread created with CreateSuspended false
  // starts in AfterConstruction, which NewThread calls; one created suspended
  // starts with Start.
  explicit TThread(bool CreateSuspended);
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;
  // Asks a running thread to terminate and waits for it (a thread freeing itself is
  // past Execute when this runs). This is a safety net only: it runs after the derived
  // object's members are gone, while Execute may still use them. A derived class whose
  // Execute touches its own members calls TerminateAndWait in its own destructor.
  virtual ~TThread();

  // Lets a thread created suspended run. Calling it twice, or on a thread that was
  // not created suspended, raises EThread.
  void Start();
  // Starts a thread that was not created suspended.
  void AfterConstruction();
  void Terminate() { FTerminated = true; }
  bool Terminated() const { return FTerminated; }
  bool Finished() const { return FFinished; }
  bool Suspended() const { return !FStarted; }
  // Waits for the end of Execute and the termination handler; returns ReturnValue.
  int WaitFor();
  // Terminate and WaitFor for a thread that runs or has run and is not waited for yet;
  // nothing for one never started, already waited for, or freeing itself on its own thread.
  void TerminateAndWait();

  // The thread deletes itself after its termination handler. Such a thread must not
  // be waited for or deleted by anyone else once it has been started.
  bool FreeOnTerminate = false;
  // Runs on the main thread after Execute has returned.
  TThreadNotifyEvent OnTerminate;
  int ReturnValue = 0;
  // The exception that ended Execute, if one did.
  std::exception_ptr FatalException() const { return FFatalException; }

protected:
  virtual void Execute() = 0;
  // The thread's own way to reach the main thread (the same queue as the free routine).
  void Synchronize(const TThreadMethod& Method) { ::Synchronize(Method); }
  virtual void DoTerminate();

private:
  void Run();

  std::thread FThread;
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FFinished{false};  // Execute and the termination handler are done
  const bool FCreateSuspended;
  bool FStarted = false;               // Start ran: FThread runs or has run Run()
  std::exception_ptr FFatalException;
  std::mutex FDoneLock;
  std::condition_variable FDone;
};


// Creates a thread object and, unless it was created suspended, starts it: the
// counterpart of "new T(...)" for threads created running.
template <typename T, typename... A>
T* NewThread(A&&... Args) {
  T* Thread = new T(std::forward<A>(Args)...);
  Thread->AfterConstruction();
  return Thread;
}
#pragma GCC visibility pop
