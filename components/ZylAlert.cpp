// ZylAlert: TAsaAlert (sending, clearing, starting and stopping the listener, the result-code
// table, the owner look-up) and TAsaAlertThread (the listener loop).
#include "components/ZylAlert.h"

#include <thread>

#include "host/Platform.h"

namespace {

const bool Registered = RegisterResStrings({
    {ZYL_ERR_ALERT_INVALID_HANDLE, "ZYL_ERR_ALERT_INVALID_HANDLE", "Invalid subscriber handle specified"},
    {ZYL_ERR_ALERT_CANCELLED, "ZYL_ERR_ALERT_CANCELLED", "Operation was cancelled"},
    {ZYL_ERR_ALERT_UNKNOWN_NAME, "ZYL_ERR_ALERT_UNKNOWN_NAME", "The message-name is unknown"},
    {ZYL_ERR_ALERT_NO_MESSAGES, "ZYL_ERR_ALERT_NO_MESSAGES", "No messages are waiting"},
    {ZYL_ERR_ALERT_TIMED_OUT, "ZYL_ERR_ALERT_TIMED_OUT", "The operation timed out"},
    {ZYL_ERR_ALERT_NO_SUBSCRIBERS, "ZYL_ERR_ALERT_NO_SUBSCRIBERS", "No subscribers registered for this message"},
    {ZYL_ERR_ALERT_NO_HANDLES, "ZYL_ERR_ALERT_NO_HANDLES", "No subscriber handles available"},
    {ZYL_ERR_ALERT_NOT_INSTALLED, "ZYL_ERR_ALERT_NOT_INSTALLED", "External functions not properly installed"},
    {ZYL_ERR_ALERT_UNSPECIFIED, "ZYL_ERR_ALERT_UNSPECIFIED", "Unspecified error"},
});

const bool ClassRegistered = (RegisterClass(TAsaAlert::StaticClass()), true);

struct TCodeText {
  int32_t Code;
  TResourceId Id;
};
constexpr TCodeText kCodeTexts[] = {
    {-1, ZYL_ERR_ALERT_INVALID_HANDLE}, {-2, ZYL_ERR_ALERT_CANCELLED},    {-3, ZYL_ERR_ALERT_UNKNOWN_NAME},
    {-4, ZYL_ERR_ALERT_NO_MESSAGES},    {-5, ZYL_ERR_ALERT_TIMED_OUT},    {-6, ZYL_ERR_ALERT_NO_SUBSCRIBERS},
    {-7, ZYL_ERR_ALERT_NO_HANDLES},     {-9, ZYL_ERR_ALERT_NOT_INSTALLED}, {-10, ZYL_ERR_ALERT_UNSPECIFIED},
};

constexpr int32_t kTimedOut = -5;
constexpr int32_t kUnspecified = -10;

// Codes the listener ends with silently: stopped by the user (the receive was cancelled or told
// to stop) or the connection went away under it.
bool SilentEnd(int32_t Code) { return Code == -302 || Code == -299 || Code == -2; }

// The procedure's result code: output variable 0. A result the procedure left NULL is no success.
int32_t ResultCode(TAsaSQL& Statement) {
  Variant V;
  Statement.GetOutVar(Variant(0), V);
  return V.IsNull() || V.IsEmpty() ? kUnspecified : V.AsInteger();
}

AnsiString OutText(TAsaSQL& Statement, const char* Name) {
  Variant V;
  Statement.GetOutVar(Variant(Name), V);
  return V.IsNull() || V.IsEmpty() ? AnsiString() : V.AsString();
}

// Stop waits in slices this long, serving the synchronise queue in between; every
// kCancelEvery slices it cancels the receive again (a cancel sent while the listener was between
// two calls is forgotten by the library).
constexpr uint32_t kWaitSliceMs = 5;
constexpr int kCancelEvery = 10;

}  // namespace

AnsiString ZylAlertCallText(const AnsiString& Creator, const AnsiString& Proc, int Markers) {
  AnsiString Text = "?=call " + Creator + Proc + "(";
  for (int I = 0; I < Markers; ++I) Text += I ? ",?" : "?";
  return Text + ")";
}

// ---- listener ----------------------------------------------------------------------------------

TAsaAlertThread::TAsaAlertThread(TAsaAlert* Alert, TAsaSession* ListenerSession)
    : TThread(true), FAlert(Alert), FListenerSession(ListenerSession), FStatement(std::make_unique<TAsaSQL>(nullptr)) {
  FStatement->SetSession(ListenerSession);
  FStatement->SetWantExceptions(false);
}

TAsaAlertThread::~TAsaAlertThread() = default;

void TAsaAlertThread::Synchronize(const TThreadMethod& Method) {
  FInSynchronize = true;
  struct Clear {
    std::atomic<bool>& Flag;
    ~Clear() { Flag = false; }
  } Guard{FInSynchronize};
  TThread::Synchronize(Method);
}

void TAsaAlertThread::CheckToTerminate(const AnsiString& Msg, int32_t Code, bool HaveMsg) {
  if (Code >= 0) return;
  AnsiString Text = Msg;
  if (!HaveMsg) FAlert->Check(Code, false, Text);
  FErrorText = Text;
  FErrorCode = Code;
  Terminate();
}

bool TAsaAlertThread::CallProc(const TVariantArray& Params, int32_t& Result) {
  Result = 0;
  if (!FStatement->ExecutePrepared(Params)) return false;
  Result = ResultCode(*FStatement);
  return true;
}

void TAsaAlertThread::CancelReceive() {
  std::lock_guard<std::mutex> Guard(FCancelLock);
  // Only the library's cancel: Stop of the session would also record the outcome in the
  // listener session, which the listener thread is using.
  if (FReceiving && FListenerSession->db_cancel_request) FListenerSession->db_cancel_request(FListenerSession->GetOwnSQLCA());
}

void TAsaAlertThread::DoReceive() { FAlert->FireReceive(FMsgName, FMsg, FMsgParam); }

void TAsaAlertThread::DoTimeout() {
  if (!FAlert->FireTimeout()) Terminate();
}

void TAsaAlertThread::Execute() {
  FInSynchronize = false;
  FErrorCode = 0;
  FErrorText.clear();
  FSubscriberHandle = 0;
  TAsaSQL& Q = *FStatement;
  // A failed call ends the listener; one that failed without a server code (which would keep the
  // loop calling) ends it as an unspecified error.
  auto Failed = [&] {
    int32_t Code = Q.GetLastErrorCode();
    CheckToTerminate(Q.GetLastError(), Code < 0 ? Code : kUnspecified, true);
  };
  bool Subscribed = false;
  int32_t Handle = 0;
  try {
    int32_t Result = 0;
    Q.PrepareExecute(ZylAlertCallText(FAlert->GetProcCreator("zp_alert_subscribe", &Q), "zp_alert_subscribe", 1));
    if (!Q.GetExecPrepared()) {
      Failed();
    } else if (!CallProc({FSubscription}, Result)) {
      Failed();
    } else if (Result >= 0) {
      Handle = Result;
      FSubscriberHandle = Handle;
      Subscribed = true;
    } else {
      CheckToTerminate(AnsiString(), Result, false);
    }
    if (!Terminated()) {
      const int32_t Timeout = FTimeout;
      Q.PrepareExecute(ZylAlertCallText(FAlert->GetProcCreator("zp_alert_receive", &Q), "zp_alert_receive", 5));
      if (!Q.GetExecPrepared()) Failed();
      struct Receiving {
        TAsaAlertThread& T;
        explicit Receiving(TAsaAlertThread& AT) : T(AT) { Set(true); }
        ~Receiving() { Set(false); }
        void Set(bool Value) {
          std::lock_guard<std::mutex> Guard(T.FCancelLock);
          T.FReceiving = Value;
        }
      } Scope(*this);
      while (!Terminated()) {
        if (!CallProc({Handle, Timeout}, Result)) {
          Failed();
        } else if (Result == 0) {
          FMsgName = OutText(Q, "msg_name");
          FMsg = OutText(Q, "msg");
          Variant Param;
          Q.GetOutVar(Variant("msg_param"), Param);
          FMsgParam = Param.IsNull() || Param.IsEmpty() ? 0 : Param.AsInteger();
          Synchronize([this] { DoReceive(); });
        } else if (Result == kTimedOut) {
          Synchronize([this] { DoTimeout(); });
        } else {
          CheckToTerminate(AnsiString(), Result, false);
        }
      }
    }
  } catch (const EZyloException& E) {
    FErrorText = E.Message();
    FErrorCode = E.GetErrorCode() < 0 ? E.GetErrorCode() : kUnspecified;
    Terminate();
  } catch (const std::exception& E) {
    FErrorText = E.what();
    FErrorCode = kUnspecified;
    Terminate();
  } catch (...) {
    FErrorText = "Unknown exception";
    FErrorCode = kUnspecified;
    Terminate();
  }
  // Also after an exception: a handle left subscribed would collect messages for nobody.
  if (Subscribed) {
    try {
      Q.PrepareExecute(
          ZylAlertCallText(FAlert->GetProcCreator("zp_alert_unsubscribe", &Q), "zp_alert_unsubscribe", 1));
      int32_t Ignored = 0;
      if (Q.GetExecPrepared()) CallProc({Handle}, Ignored);
    } catch (...) {
      // its outcome is of no interest
    }
  }
  // The statement belongs to the listener session, which the alert may free once the done event
  // is set.
  FStatement.reset();
  FAlert->FDoneEvent.SetEvent();
}

void TAsaAlertThread::DoTerminate() {
  // The termination handler is looked at on the main thread, where the alert may cut it.
  TThread::Synchronize([this] {
    if (OnTerminate) OnTerminate(this);
  });
}

// ---- alert -------------------------------------------------------------------------------------

const TMetaClass& TAsaAlert::StaticClass() {
  static const TMetaClass Meta = [] {
    TMetaClass M("TAsaAlert", &TComponent::StaticClass(), TMetaClass::Factory<TAsaAlert>());
    M.ComponentProperty("Session", &TAsaAlert::GetSession, &TAsaAlert::SetSession);
    M.Property("MessageNames", &TAsaAlert::GetMessageNames, &TAsaAlert::SetMessageNames);
    M.EnumProperty("SubscriptionType", {"mtByNames", "mtByUserID", "mtByUserIDAndNames"}, &TAsaAlert::GetSubscriptionType,
                   &TAsaAlert::SetSubscriptionType, static_cast<int>(mtByNames));
    M.Property("Timeout", &TAsaAlert::GetTimeout, &TAsaAlert::SetTimeout, 0);
    return M;
  }();
  return Meta;
}

TAsaAlert::TAsaAlert(TComponent* AOwner)
    : TComponent(AOwner),
      FListenerSession(std::make_unique<TAsaSession>(nullptr)),
      FStatement(std::make_unique<TAsaSQL>(nullptr)) {
  (void)Registered;
  (void)ClassRegistered;
  FListenerSession->SetWantExceptions(false);
  FStatement->SetWantExceptions(true);
}

TAsaAlert::~TAsaAlert() {
  FDestroying = true;
  try {
    Stop();
  } catch (...) {
    // a destructor must not throw; the listener is told to end all the same
    if (FThread) FThread->Terminate();
  }
  // Wait for the listener's termination handler, which forgets it, unless this runs inside one
  // of the listener's own events (not supported: the listener waits for that very call).
  if (FThread && FHandlerDepth == 0 && IsMainThread()) {
    FThread->Terminate();
    while (FThread) {
      FThread->CancelReceive();
      CheckSynchronize(kWaitSliceMs * kCancelEvery);
    }
  }
  FStatement.reset();
  FListenerSession.reset();
}

TAsaSession* TAsaAlert::GetSession() const { return dynamic_cast<TAsaSession*>(FStatement->GetSessionObject()); }

void TAsaAlert::SetSession(TAsaSession* Value) {
  FStatement->SetSession(Value);
  FPreparedProc.clear();
}

bool TAsaAlert::IsWaiting() const { return FThread && FThread->IsWaiting(); }

AnsiString TAsaAlert::SubscribingFor() const {
  if (!IsWaiting()) return AnsiString();
  switch (FSubscriptionType) {
    case mtByNames: return FMessageNames;
    case mtByUserID: return Trim(FListenerSession->GetLoginUser());
    case mtByUserIDAndNames: return Trim(FMessageNames + ";" + FListenerSession->GetLoginUser());
  }
  return AnsiString();
}

void TAsaAlert::Check(int32_t Code, bool RaiseIt, AnsiString& Msg) {
  Msg.clear();
  for (const TCodeText& C : kCodeTexts) {
    if (C.Code != Code) continue;
    Msg = ZylLoadStr(C.Id);
    if (RaiseIt && Code != -4) FStatement->RaiseLastError<EAsaAlertException>(Msg, Code);
    return;
  }
}

AnsiString TAsaAlert::GetProcCreator(const AnsiString& ProcName, TAsaSQL* Statement) {
  if (!Statement) return AnsiString();
  AnsiString Creator;
  try {
    AnsiString Sql = Format(
        "select user_name from sys.sysprocedure, sys.sysuserperms where creator=user_id and proc_name='%s'", ProcName);
    if (Statement->OpenRead(Sql, {ZylEmptyParam})) {
      Variant Owner;
      Statement->GetFieldValue(Variant(0), Owner);
      if (!Owner.IsNull() && !Owner.IsEmpty()) Creator = Owner.AsString() + ".";
    }
    Statement->Close();
  } catch (...) {
    try {
      Statement->Close();
    } catch (...) {
    }
    return AnsiString();
  }
  return Creator;
}

int32_t TAsaAlert::CallOnSession(const AnsiString& Proc, int Markers, const TVariantArray& Params) {
  TAsaSQL& Q = *FStatement;
  Q.GetSession();  // raises when none is linked
  // The prepared call survives until the session drops it (disconnect) or another call replaces it.
  if (!(Q.GetExecPrepared() && FPreparedProc == Proc)) {
    FPreparedProc.clear();
    Q.PrepareExecute(ZylAlertCallText(GetProcCreator(Proc, &Q), Proc, Markers));
    FPreparedProc = Proc;
  }
  Q.ExecutePrepared(Params);
  return ResultCode(Q);
}

void TAsaAlert::Send(const AnsiString& MsgName, const AnsiString& Msg, int32_t MsgParam) {
  int32_t Code = CallOnSession("zp_alert_send", 3, {Variant(MsgName), Variant(Msg), Variant(MsgParam)});
  AnsiString Text;
  Check(Code, true, Text);
}

void TAsaAlert::Clear(const AnsiString& MsgName) {
  int32_t Code = CallOnSession("zp_alert_clear", 1, {Variant(MsgName)});
  AnsiString Text;
  Check(Code, true, Text);
}

void TAsaAlert::WaitForListener() {
  int Slice = 0;
  while (FDoneEvent.WaitFor(kWaitSliceMs) != wrSignaled) {
    CheckSynchronize(0);
    if (++Slice % kCancelEvery == 0 && FThread) FThread->CancelReceive();
  }
}

void TAsaAlert::Start() {
  if (IsWaiting()) return;
  // A listener told to end may still be on its way out (using the listener session).
  if (FThread) WaitForListener();
  FListenerSession->Close();
  TAsaSession* S = GetSession();
  if (!S) FStatement->RaiseLastError<EZyloException>(ZylLoadStr(ZYL_ERR_SESS_NIL), 0);
  TAsaSession& L = *FListenerSession;
  L.SetClientParams(S->GetClientParams());
  L.SetLibraryFile(S->GetLibraryFile());
  L.SetLibraryPath(S->GetLibraryPath());
  L.SetLoginDatabase(S->GetLoginDatabase());
  L.SetLoginEngineName(S->GetLoginEngineName());
  L.SetLoginPassword(S->GetLoginPassword());
  L.SetLoginUser(S->GetLoginUser());
  L.SetServerParams(S->GetServerParams());
  L.SetServerType(S->GetServerType());
  L.Open();
  // Recorded before it runs, so SubscribingFor already answers for it; the text and the timeout
  // are taken here, on the main thread, rather than read by the listener while the application
  // may be changing them.
  auto* T = new TAsaAlertThread(this, &L);
  T->FreeOnTerminate = true;
  T->OnTerminate = [this](TThread* Sender) { ThreadDone(Sender); };
  FThread = T;
  T->FSubscription = SubscribingFor();
  T->FTimeout = FTimeout;
  // Reset here rather than by the listener: a Stop right after Start must not find the event of
  // the previous listener still set.
  FDoneEvent.ResetEvent();
  T->Start();
}

void TAsaAlert::Stop() {
  if (!IsWaiting()) return;
  TAsaSession* S = GetSession();
  if (!S) FStatement->RaiseLastError<EZyloException>(ZylLoadStr(ZYL_ERR_SESS_NIL), 0);
  int Version = 0;
  AnsiString VersionText;
  if (S->GetConnectionInfo(ciEngineVersion, VersionText)) {
    size_t Dot = VersionText.find('.');
    Version = StrToIntDef(Trim(VersionText.substr(0, Dot)), 0);
  }
  TAsaAlertThread* T = FThread;
  T->Terminate();
  std::this_thread::yield();
  bool Stopped = false;
  if (Version >= 1 && Version <= 6) {
    try {
      Stopped = CallOnSession("zp_alert_stop", 1, {Variant(T->GetSubscriberHandle())}) >= 0;
    } catch (const Exception&) {
      Stopped = false;
    }
  }
  if (!Stopped) T->CancelReceive();
  // Inside the listener's own OnReceive or OnTimeout the listener waits for this very call.
  if (FHandlerDepth > 0) return;
  WaitForListener();
}

void TAsaAlert::ThreadDone(TThread* Sender) {
  auto* T = static_cast<TAsaAlertThread*>(Sender);
  if (FDestroying) {
    if (T == FThread) FThread = nullptr;
    return;
  }
  // Forget the listener and close its session however the events below end, unless a Start
  // from OnStopped has replaced it already.
  struct Forget {
    TAsaAlert& A;
    TAsaAlertThread* T;
    ~Forget() {
      if (A.FThread != T) return;
      A.FThread = nullptr;
      try {
        A.FListenerSession->Close();
      } catch (...) {
      }
    }
  } Scope{*this, T};
  if (OnStopped) OnStopped(this);
  if (T->GetErrorCode() < 0 && !SilentEnd(T->GetErrorCode()))
    MessageBoxA(nullptr, T->GetErrorText().c_str(), szZyloLibraryName, MB_OK | MB_ICONERROR);
}

void TAsaAlert::FireReceive(const AnsiString& MsgName, const AnsiString& Msg, int32_t MsgParam) {
  if (!OnReceive) return;
  ++FHandlerDepth;
  struct Leave {
    int& Depth;
    ~Leave() { --Depth; }
  } Scope{FHandlerDepth};
  OnReceive(this, MsgName, Msg, MsgParam);
}

bool TAsaAlert::FireTimeout() {
  if (!OnTimeout) return true;
  bool Continue = true;
  ++FHandlerDepth;
  struct Leave {
    int& Depth;
    ~Leave() { --Depth; }
  } Scope{FHandlerDepth};
  OnTimeout(this, Continue);
  return Continue;
}
