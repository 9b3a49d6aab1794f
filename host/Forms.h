// Forms: forms and data modules, the screen that lists them, and the application
// object with its exception handler and message pump.
//
// A modal run of a form:
//   ShowModal: form visible, ModalResult mrNone, OnShow, focus on the first control
//     --> the modal runner drives the form (a test scripts the user; an on-screen
//         runner would process input) until ModalResult is set (a button with a
//         modal result, Close, or code)
//     --> OnCloseQuery may refuse (the runner is asked again), OnClose, hidden
//     --> ShowModal returns the modal result.
// A runner that returns without a result ends the run with mrCancel, as closing the
// window would.
#pragma once
#pragma GCC visibility push(default)

#include <functional>
#include <vector>

#include "host/Controls.h"

enum TFormBorderStyle : uint8_t { bsNone = 0, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
enum TPosition : uint8_t { poDesigned = 0, poDefault, poDefaultPosOnly, poDefaultSizeOnly, poScreenCenter, poDesktopCenter, poMainFormCenter, poOwnerFormCenter };
enum TFormStyle : uint8_t { fsNormal = 0, fsMDIChild, fsMDIForm, fsStayOnTop };
enum TCloseAction : uint8_t { caNone = 0, caHide, caFree, caMinimize };

class TCustomForm : public TWinControl {
public:
  explicit TCustomForm(TComponent* AOwner);
  ~TCustomForm() override;

  TFormBorderStyle BorderStyle = bsSizeable;
  TPosition Position = poDesigned;
  TFormStyle FormStyle = fsNormal;
  int ClientWidth() const { return Width; }
  int ClientHeight() const { return Height; }
  void SetClientSize(int AWidth, int AHeight) { Width = AWidth; Height = AHeight; }

  TModalResult ModalResult() const { return FModalResult; }
  void SetModalResult(TModalResult Value) { FModalResult = Value; }
  bool Modal() const { return FModal; }
  TModalResult ShowModal();
  void Show() { Visible = true; DoShow(); }
  void Hide() { Visible = false; }
  // Ends a modal run with mrCancel; hides a modeless form.
  void Close();

  TWinControl* ActiveControl() const { return FActiveControl; }
  void SetActiveControl(TWinControl* Control);
  // Moves the focus to the next (or previous) focusable control in tab order.
  void SelectNext(bool GoForward = true);
  // The Enter and Escape keys: click the default or the cancel button.
  bool PressEnter();
  bool PressEscape();

  TNotifyEvent OnCreate, OnShow, OnDestroy;
  std::function<void(TObject* Sender, bool& CanClose)> OnCloseQuery;
  std::function<void(TObject* Sender, TCloseAction& Action)> OnClose;

protected:
  friend class TWinControl;
  virtual void DoShow() {
    if (OnShow) OnShow(this);
  }
  // Called by constructors of derived forms once their controls exist.
  void DoCreate() {
    if (OnCreate) OnCreate(this);
  }
  bool CloseQuery();

private:
  TModalResult FModalResult = mrNone;
  bool FModal = false;
  TWinControl* FActiveControl = nullptr;  // cleared when the control goes
};

class TForm : public TCustomForm {
public:
  using TCustomForm::TCustomForm;
  static const TMetaClass& StaticClass();
  const TMetaClass& ClassType() const override { return StaticClass(); }
};

// A non-visual container of components (sessions, data sets) that the screen lists.
class TDataModule : public TComponent {
public:
  explicit TDataModule(TComponent* AOwner);
  ~TDataModule() override;
  static const TMetaClass& StaticClass();
  const TMetaClass& ClassType() const override { return StaticClass(); }
  TNotifyEvent OnCreate, OnDestroy;
};

// Drives one modal run. The default runner has no screen: it leaves the form
// unanswered, so ShowModal returns mrCancel. Tests install a runner that types and
// clicks; a real on-screen runner can be installed the same way.
using TModalRunner = std::function<void(TCustomForm& Form)>;
TModalRunner SetModalRunner(TModalRunner Runner);  // returns the previous one

class TScreen : public TComponent {
public:
  explicit TScreen(TComponent* AOwner) : TComponent(AOwner) {}
  int FormCount() const { return static_cast<int>(FForms.size()); }
  TCustomForm* Forms(int Index) const { return FForms.at(Index); }
  int DataModuleCount() const { return static_cast<int>(FDataModules.size()); }
  TDataModule* DataModules(int Index) const { return FDataModules.at(Index); }
  TCustomForm* ActiveForm() const;

private:
  friend class TCustomForm;
  friend class TDataModule;
  std::vector<TCustomForm*> FForms;         // in creation order; each form removes itself
  std::vector<TDataModule*> FDataModules;   // likewise
};

using TExceptionEvent = std::function<void(TObject* Sender, const std::exception& E)>;

class TApplication : public TComponent {
public:
  explicit TApplication(TComponent* AOwner) : TComponent(AOwner) {}
  AnsiString Title;
  AnsiString HelpFile;
  // Shows the exception being handled (call inside a catch block): OnException
  // when assigned, else ShowException. A silent abort is not shown.
  void HandleException(TObject* Sender);
  // Writes the message to standard error (a program without a screen).
  void ShowException(const std::exception& E);
  // Runs queued synchronise calls of worker threads (host/Threads.h).
  void ProcessMessages();
  // Opens a help topic; without a help viewer it records the request and returns false.
  bool HelpJump(const AnsiString& Topic);
  AnsiString LastHelpTopic() const { return FLastHelpTopic; }
  TExceptionEvent OnException;
  int MessageBox(const AnsiString& Text, const AnsiString& Caption, unsigned Flags);

private:
  AnsiString FLastHelpTopic;
};

// The process's application and screen objects, created when the library loads.
extern TApplication* Application;
extern TScreen* Screen;
#pragma GCC visibility pop
