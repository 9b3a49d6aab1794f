// Alerts in the interactive SQL tool: .listen NAME subscribes the tool to messages of a name,
// .notify NAME TEXT posts one, .unlisten [NAME] ends a subscription. Two people at two terminals
// (or two processes of any kind) on the same database see each other's messages appear above
// their prompt while they sit at it; a message that arrives while a statement runs shows as
// soon as the prompt is back.
//
// Both sides are TAsaAlert components on a connection of their own (the listener's thread opens
// one more), never on the tool's session: the alert procedures commit, and the user's
// transaction must stay the user's to commit or roll back.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

class TAsaAlert;
class TAsaSession;

namespace zylisql {

class TShell;

class TIsqlAlerts {
 public:
  // Login: the tool's session, whose login the alerts' own connection copies when first needed.
  explicit TIsqlAlerts(TAsaSession& Login);
  ~TIsqlAlerts();
  TIsqlAlerts(const TIsqlAlerts&) = delete;
  TIsqlAlerts& operator=(const TIsqlAlerts&) = delete;

  // Each returns false with Error when the name is not a usable one or the server refuses.
  // Listen returns once the listener has subscribed: what is posted after it arrives.
  bool Listen(const std::string& Name, std::string& Error);
  bool Unlisten(const std::string& Name, std::string& Error);  // "" ends every subscription
  bool Notify(const std::string& Name, const std::string& Text, std::string& Error);
  // The names listened to, in the order they were given.
  const std::vector<std::string>& Names() const { return FNames; }
  // Hands the messages the listener has received to OnMessage (main thread; the tool calls it
  // while its prompt waits).
  void Pump();

  // A received message, as the tool shows it ("NAME: TEXT").
  std::function<void(const std::string& Line)> OnMessage;

 private:
  bool Connected(std::string& Error);  // opens the alerts' connection when it is not open
  bool Restart(std::string& Error);    // the listener on FNames (none: stopped)

  TAsaSession& FLogin;
  std::unique_ptr<TAsaSession> FSession;
  std::unique_ptr<TAsaAlert> FSender;
  std::unique_ptr<TAsaAlert> FListener;
  std::vector<std::string> FNames;
  std::string FStopError;  // why the listener last ended, when it ended on an error
};

// Adds .listen, .unlisten and .notify to the shell.
void AddAlertCommands(TShell& Shell, TIsqlAlerts& Alerts);

}  // namespace zylisql
