// ZylAlert: named messages through the database server. TAsaAlert posts messages (Send), drops
// the ones still waiting under a name (Clear), and subscribes to names (Start): a listener thread
// (TAsaAlertThread) waits in the server on a connection of its own and hands each message to the
// main thread, where OnReceive runs.
//
// The work on the server is done by the zp_alert_* procedures installed in the database; the
// component only calls them ("?=call <owner>.zp_alert_<verb>(...)", the owner looked up in the
// catalog) and interprets their result codes (the table of Check).
//
// Listener life cycle:
//
//   idle --Start--> the listener session (a copy of Session's login) connects; the thread is
//        created suspended, recorded, given the subscription text and the timeout, started
//   waiting: subscribe, then receive until terminated; each message -> OnReceive, each
//        time-out -> OnTimeout (main thread, through the host's synchronise queue)
//   --Stop / OnTimeout declines / negative result / failed call / exception--> terminated:
//        the thread unsubscribes (when it subscribed), sets the done event, and its termination
//        handler (ThreadDone, main thread) fires OnStopped, shows an error, closes the listener
//        session --> idle
//
// Stop tells the listener to terminate and cancels the receive waiting in the server, then waits
// for the done event while it keeps serving the synchronise queue: a message the listener took
// from the server just before is still delivered (OnReceive runs inside Stop), and a listener on
// its way into the main thread cannot deadlock the wait. Called from OnReceive or OnTimeout, Stop
// returns at once and the listener ends after the handler.
//
// Threads: everything but the listener loop runs on the main thread. The listener touches only
// its own statement on the listener session, the done event and what Start handed it; the
// cancellation of its receive is the one cross-thread call into the client library, guarded so
// that it can only reach a receive (never the unsubscribe that follows the loop).
//
// An alert must not be destroyed from inside its own OnReceive, OnTimeout or OnStopped handler.
//
// Messages use the identifiers 4400..4449 of the components' range (host/Messages.h).
#pragma once
#pragma GCC visibility push(default)

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "asa/ZylAsa.h"
#include "host/Threads.h"

enum TSubscriptionType : uint8_t { mtByNames = 0, mtByUserID = 1, mtByUserIDAndNames = 2 };

using TReceiveEvent =
    std::function<void(TObject* Sender, const AnsiString& MsgName, const AnsiString& Msg, int32_t MsgParam)>;
using TTimeoutEvent = std::function<void(TObject* Sender, bool& Continue)>;

// A result code of the alert procedures, with its message.
class EAsaAlertException : public EAsaException {
 public:
  using EAsaException::EAsaException;
};

// The result codes' messages (the code is the negated position: -1 .. -10, -8 unused).
enum : TResourceId {
  ZYL_ERR_ALERT_INVALID_HANDLE = 4400,  // -1 "Invalid subscriber handle specified"
  ZYL_ERR_ALERT_CANCELLED,              // -2 "Operation was cancelled"
  ZYL_ERR_ALERT_UNKNOWN_NAME,           // -3 "The message-name is unknown"
  ZYL_ERR_ALERT_NO_MESSAGES,            // -4 "No messages are waiting"
  ZYL_ERR_ALERT_TIMED_OUT,              // -5 "The operation timed out"
  ZYL_ERR_ALERT_NO_SUBSCRIBERS,         // -6 "No subscribers registered for this message"
  ZYL_ERR_ALERT_NO_HANDLES,             // -7 "No subscriber handles available"
  ZYL_ERR_ALERT_NOT_INSTALLED,          // -9 "External functions not properly installed"
  ZYL_ERR_ALERT_UNSPECIFIED,            // -10 "Unspecified error"
};

class TAsaAlert;

// The listener: subscribes, receives until terminated, unsubscribes. Frees itself when it ends.
class TAsaAlertThread : public TThread {
 public:
  // Created suspended on the listener session (connected); Start hands over the subscription
  // text and the timeout before it lets the thread run.
  TAsaAlertThread(TAsaAlert* Alert, TAsaSession* ListenerSession);
  ~TAsaAlertThread() override;

  bool IsWaiting() const { return !Terminated(); }
  int32_t GetSubscriberHandle() const { return FSubscriberHandle.load(); }
  bool GetInSynchronize() const { return FInSynchronize.load(); }
  // Why the listener stopped: code 0 when no error. Read on the main thread once it has ended.
  const AnsiString& GetErrorText() const { return FErrorText; }
  int32_t GetErrorCode() const { return FErrorCode; }

 protected:
  void Execute() override;
  // A negative code ends the listener; without HaveMsg the text comes from the alert's table.
  void CheckToTerminate(const AnsiString& Msg, int32_t Code, bool HaveMsg);
  // The host's synchronise with the in-synchronize flag set around it.
  void Synchronize(const TThreadMethod& Method);
  void DoReceive();
  void DoTimeout();
  // Runs the termination handler through the synchronise queue, looking at it on the main thread.
  void DoTerminate() override;

 private:
  friend class TAsaAlert;
  // Runs the prepared procedure call: false when the call itself failed (the statement's error
  // is then in LastError and LastErrorCode), else true with the procedure's result code.
  bool CallProc(const TVariantArray& Params, int32_t& Result);
  // Main thread: cancels the receive the listener is inside, if it is inside one.
  void CancelReceive();

  TAsaAlert* FAlert;
  TAsaSession* FListenerSession;  // the alert's
  std::unique_ptr<TAsaSQL> FStatement;
  AnsiString FSubscription;       // handed over by Start
  int32_t FTimeout = 0;           // handed over by Start
  std::atomic<int32_t> FSubscriberHandle{0};
  AnsiString FMsgName, FMsg;
  int32_t FMsgParam = 0;
  AnsiString FErrorText;
  int32_t FErrorCode = 0;
  std::atomic<bool> FInSynchronize{false};
  // Receiving: the loop may be inside a receive call. Cancels are sent only under this lock and
  // only while it is set, so none can reach the unsubscribe after the loop.
  std::mutex FCancelLock;
  bool FReceiving = false;
};

class TAsaAlert : public TComponent {
 public:
  explicit TAsaAlert(TComponent* AOwner);
  ~TAsaAlert() override;
  // Registered as "TAsaAlert": Session, MessageNames, SubscriptionType, Timeout.
  static const TMetaClass& StaticClass();
  const TMetaClass& ClassType() const override { return StaticClass(); }

  // Posts a message: EAsaAlertException for a result code of the table (but -4), EAsaException
  // for an SQL error of the call.
  void Send(const AnsiString& MsgName, const AnsiString& Msg, int32_t MsgParam);
  // Drops the messages waiting under MsgName.
  void Clear(const AnsiString& MsgName);
  // Starts listening; nothing happens while a listener waits.
  void Start();
  // Stops listening; nothing happens while none waits.
  void Stop();
  bool IsWaiting() const;
  // The subscription text while a listener is recorded, else empty.
  AnsiString SubscribingFor() const;
  // Msg := the message of Code (empty for a code outside the table); with RaiseIt, a code of the
  // table other than -4 raises EAsaAlertException instead.
  void Check(int32_t Code, bool RaiseIt, AnsiString& Msg);
  // "<owner>." of the procedure, or empty when it cannot be found (any error is swallowed).
  AnsiString GetProcCreator(const AnsiString& ProcName, TAsaSQL* Statement);
  // The listener's termination handler (main thread).
  void ThreadDone(TThread* Sender);

  // Properties.
  TAsaSession* GetSession() const;
  void SetSession(TAsaSession* Value);
  const AnsiString& GetMessageNames() const { return FMessageNames; }
  void SetMessageNames(const AnsiString& Value) { FMessageNames = Value; }
  TSubscriptionType GetSubscriptionType() const { return FSubscriptionType; }
  void SetSubscriptionType(TSubscriptionType Value) { FSubscriptionType = Value; }
  int32_t GetTimeout() const { return FTimeout; }
  void SetTimeout(int32_t Value) { FTimeout = Value; }

  // State, for tests and tools.
  TAsaAlertThread* GetThread() const { return FThread; }
  TAsaSession* GetListenerSession() const { return FListenerSession.get(); }
  TEvent& GetDoneEvent() { return FDoneEvent; }

  TReceiveEvent OnReceive;
  TNotifyEvent OnStopped;
  TTimeoutEvent OnTimeout;

 private:
  friend class TAsaAlertThread;
  // Runs one alert procedure through the alert's statement on Session with raising on; the
  // prepared call is kept for the next call of the same procedure.
  int32_t CallOnSession(const AnsiString& Proc, int Markers, const TVariantArray& Params);
  // Waits for the done event while serving the synchronise queue, cancelling the receive now
  // and then.
  void WaitForListener();
  // The events as the listener runs them on the main thread; FireTimeout returns Continue.
  void FireReceive(const AnsiString& MsgName, const AnsiString& Msg, int32_t MsgParam);
  bool FireTimeout();

  TAsaAlertThread* FThread = nullptr;  // the listener while one runs
  TEvent FDoneEvent{true, false};
  std::unique_ptr<TAsaSession> FListenerSession;
  std::unique_ptr<TAsaSQL> FStatement;
  AnsiString FPreparedProc;            // the procedure FStatement's execute side is prepared for
  int FHandlerDepth = 0;               // OnReceive / OnTimeout calls running (main thread)
  AnsiString FMessageNames;
  TSubscriptionType FSubscriptionType = mtByNames;
  int32_t FTimeout = 0;
  bool FDestroying = false;
};

// "?=call <Creator>zp_alert_<Verb>(?,...)" with Markers input and output markers after the result.
AnsiString ZylAlertCallText(const AnsiString& Creator, const AnsiString& Proc, int Markers);
#pragma GCC visibility pop
