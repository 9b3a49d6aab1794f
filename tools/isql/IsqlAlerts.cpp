#include "tools/isql/IsqlAlerts.h"

#include <algorithm>
#include <chrono>

#include "components/ZylAlert.h"
#include "host/Platform.h"
#include "tools/isql/IsqlShell.h"
#include "tools/isql/IsqlText.h"

namespace zylisql {
namespace {

// The server keeps a name in a varchar(128) and separates the names of a subscription by ';'.
constexpr size_t kMaxNameLength = 128;
// How long .listen waits for the listener to subscribe (a connection and one call; the server
// waits up to 5 s for another connection's lock).
constexpr int kSubscribeSeconds = 30;

bool CheckName(const std::string& Name, std::string& Error) {
  if (Name.empty()) Error = "a message name is needed";
  else if (Name.find(';') != std::string::npos) Error = "a message name cannot hold ';'";
  else if (Name.size() > kMaxNameLength) Error = "a message name is at most 128 characters long";
  else return true;
  return false;
}

bool SameName(const std::string& A, const std::string& B) { return Lower(A) == Lower(B); }

// Runs Body; what the components raise becomes Error.
template <typename F>
bool Guard(std::string& Error, F Body) {
  try {
    Body();
    return true;
  } catch (const Exception& E) {
    Error = E.Message();
  } catch (const std::exception& E) {
    Error = E.what();
  }
  return false;
}

}  // namespace

TIsqlAlerts::TIsqlAlerts(TAsaSession& Login) : FLogin(Login) {}

TIsqlAlerts::~TIsqlAlerts() {
  // The listener first: it copied its login from the alerts' session.
  if (FListener) {
    try {
      FListener->Stop();
    } catch (...) {
      // Leaving anyway.
    }
  }
  FListener.reset();
  FSender.reset();
  if (FSession) {
    try {
      FSession->Close();
    } catch (...) {
    }
  }
}

bool TIsqlAlerts::Connected(std::string& Error) {
  if (FSession && FSession->GetConnected()) return true;
  return Guard(Error, [&] {
    if (!FSession) {
      FSession = std::make_unique<TAsaSession>(nullptr);
      FSender = std::make_unique<TAsaAlert>(nullptr);
      FSender->SetSession(FSession.get());
      FListener = std::make_unique<TAsaAlert>(nullptr);
      FListener->SetSession(FSession.get());
      FListener->OnStopped = [this](TObject*) {
        if (TAsaAlertThread* T = FListener->GetThread(); T && T->GetErrorCode() < 0) FStopError = T->GetErrorText();
      };
      FListener->OnReceive = [this](TObject*, const AnsiString& Name, const AnsiString& Msg, int32_t) {
        if (OnMessage) OnMessage(Name + ": " + Msg);
      };
    }
    TAsaSession& S = *FSession;
    S.SetLibraryFile(FLogin.GetLibraryFile());
    S.SetLibraryPath(FLogin.GetLibraryPath());
    S.SetLoginEngineName(FLogin.GetLoginEngineName());
    S.SetLoginDatabase(FLogin.GetLoginDatabase());
    S.SetLoginUser(FLogin.GetLoginUser());
    S.SetLoginPassword(FLogin.GetLoginPassword());
    S.SetClientParams(FLogin.GetClientParams());
    S.SetServerParams(FLogin.GetServerParams());
    S.SetServerType(FLogin.GetServerType());
    S.Open();
  });
}

bool TIsqlAlerts::Restart(std::string& Error) {
  bool Started = Guard(Error, [&] {
    FListener->Stop();
    if (FNames.empty()) return;
    std::string Names;
    for (const std::string& N : FNames) Names += (Names.empty() ? "" : ";") + N;
    FListener->SetMessageNames(Names);
    FListener->Start();
  });
  if (!Started || FNames.empty()) return Started;
  // A user who typed .listen expects every message posted from then on: wait until the listener
  // has subscribed. A listener that fails to ends itself; its error becomes this command's
  // (not a message of its own, hence the silent message box meanwhile).
  FStopError.clear();
  TMessageBoxHandler Shown = SetMessageBoxHandler([](LPCSTR, LPCSTR, UINT) { return IDOK; });
  auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kSubscribeSeconds);
  while (FListener->GetThread() && FListener->GetThread()->GetSubscriberHandle() <= 0 &&
         std::chrono::steady_clock::now() < Deadline)
    CheckSynchronize(10);
  SetMessageBoxHandler(std::move(Shown));
  if (FListener->GetThread() && FListener->GetThread()->GetSubscriberHandle() > 0) return true;
  Error = FStopError.empty() ? "the listener did not subscribe" : FStopError;
  std::string Ignored;
  Guard(Ignored, [&] { FListener->Stop(); });
  return false;
}

bool TIsqlAlerts::Listen(const std::string& Name, std::string& Error) {
  if (!CheckName(Name, Error) || !Connected(Error)) return false;
  for (const std::string& N : FNames)
    if (SameName(N, Name)) return true;
  FNames.push_back(Name);
  if (Restart(Error)) return true;
  FNames.pop_back();
  std::string Ignored;
  Restart(Ignored);  // back to what was listened to before
  return false;
}

bool TIsqlAlerts::Unlisten(const std::string& Name, std::string& Error) {
  if (Name.empty()) {
    FNames.clear();
  } else {
    auto It = std::find_if(FNames.begin(), FNames.end(), [&](const std::string& N) { return SameName(N, Name); });
    if (It == FNames.end()) {
      Error = "not listening to '" + Name + "'";
      return false;
    }
    FNames.erase(It);
  }
  return !FListener || Restart(Error);
}

bool TIsqlAlerts::Notify(const std::string& Name, const std::string& Text, std::string& Error) {
  if (!CheckName(Name, Error) || !Connected(Error)) return false;
  return Guard(Error, [&] { FSender->Send(Name, Text, 0); });
}

void TIsqlAlerts::Pump() {
  if (FListener && FListener->GetThread()) CheckSynchronize(0);
}

void AddAlertCommands(TShell& Shell, TIsqlAlerts& Alerts) {
  Shell.AddCommand({"listen", {}, "[NAME]",
                    "show the messages posted under NAME as they arrive; without NAME the names listened to",
                    {}, {}, [&Alerts](TShell& S, const std::string& Arg) {
                      std::vector<std::string> A = SplitArguments(Arg);
                      if (A.size() > 1) return S.CommandError("usage: .listen [NAME]");
                      if (A.empty()) {
                        if (Alerts.Names().empty()) S.Printer().Info("not listening");
                        for (const std::string& N : Alerts.Names()) S.Printer().Info("listening to " + N);
                        return true;
                      }
                      std::string Error;
                      if (!Alerts.Listen(A[0], Error)) return S.CommandError("listen: " + Error);
                      return true;
                    }});
  Shell.AddCommand({"unlisten", {}, "[NAME]", "stop showing the messages of NAME; without NAME of every name",
                    {}, {}, [&Alerts](TShell& S, const std::string& Arg) {
                      std::vector<std::string> A = SplitArguments(Arg);
                      if (A.size() > 1) return S.CommandError("usage: .unlisten [NAME]");
                      std::string Error;
                      if (!Alerts.Unlisten(A.empty() ? std::string() : A[0], Error))
                        return S.CommandError("unlisten: " + Error);
                      return true;
                    }});
  Shell.AddCommand({"notify", {}, "NAME TEXT", "post TEXT under NAME to whoever listens (committed at once)",
                    {}, {}, [&Alerts](TShell& S, const std::string& Arg) {
                      // NAME is one word (quoted when it holds blanks); TEXT is the rest of the
                      // line as typed, or the one quoted word there.
                      std::vector<std::string> A = SplitArguments(Arg);
                      if (A.empty()) return S.CommandError("usage: .notify NAME TEXT");
                      std::string Rest = Trim(Arg);
                      if (!Rest.empty() && (Rest[0] == '\'' || Rest[0] == '"')) {
                        size_t Close = Rest.find(Rest[0], 1);
                        while (Close != std::string::npos && Close + 1 < Rest.size() && Rest[Close + 1] == Rest[0])
                          Close = Rest.find(Rest[0], Close + 2);
                        Rest = Close == std::string::npos ? std::string() : Rest.substr(Close + 1);
                      } else {
                        size_t Blank = Rest.find_first_of(" \t");
                        Rest = Blank == std::string::npos ? std::string() : Rest.substr(Blank);
                      }
                      std::string Text = Trim(Rest);
                      if (A.size() == 2 && !Text.empty() && (Text[0] == '\'' || Text[0] == '"')) Text = A[1];
                      std::string Error;
                      if (!Alerts.Notify(A[0], Text, Error)) return S.CommandError("notify: " + Error);
                      return true;
                    }});
}

}  // namespace zylisql
