// Where the interactive SQL tool reads its lines: a stream (a script, a pipe, a test), or a
// terminal with line editing (IsqlTerminal.h). The driver asks for one line at a time with
// the prompt to show, and hands back each finished entry for the history.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>

namespace zylisql {

enum class TReadResult {
  rrLine,         // Line holds the next line (without its line end)
  rrEnd,          // end of input (Ctrl-D on an empty line at a terminal)
  rrInterrupted,  // Ctrl-C at the prompt: whatever was typed is dropped
};

class TLineInput {
 public:
  virtual ~TLineInput() = default;
  virtual TReadResult ReadLine(const std::string& Prompt, std::string& Line) = 0;
  // A whole entry (a statement of several lines, or a command) for the history.
  virtual void AddHistory(const std::string& Entry) { (void)Entry; }
  // A person types here: prompts are shown and errors do not end the run.
  virtual bool Interactive() const { return false; }

  // While ReadLine waits, Idle runs on the reading thread whenever Wake is called (from any
  // thread) and, when Periodic, at least every 100 ms. What it wants shown it passes to
  // ShowAbovePrompt, which prints it above the prompt line without disturbing what is typed.
  virtual void SetIdle(std::function<void()> Idle, bool Periodic) {
    (void)Idle;
    (void)Periodic;
  }
  virtual void Wake() {}
  virtual void ShowAbovePrompt(const std::string& Text) = 0;
};

// Lines of a stream; the prompt (when Prompts is given) is written there before each line.
class TStreamInput : public TLineInput {
 public:
  TStreamInput(std::istream& In, std::ostream* Prompts, bool Interactive = false)
      : FIn(In), FPrompts(Prompts), FInteractive(Interactive) {}
  TReadResult ReadLine(const std::string& Prompt, std::string& Line) override;
  bool Interactive() const override { return FInteractive; }
  void ShowAbovePrompt(const std::string& Text) override;

 private:
  std::istream& FIn;
  std::ostream* FPrompts;
  bool FInteractive;
};

// The history file's form of an entry: one line, "\n" and "\\" escaped; and back.
std::string EncodeHistoryEntry(const std::string& Entry);
std::string DecodeHistoryEntry(const std::string& Line);

}  // namespace zylisql
