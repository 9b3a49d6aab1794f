// Dialogs: the file-open dialog and message dialogs. Like modal forms, each hands
// its run to a replaceable runner: tests pick a file or a button; the default
// runner (no screen) answers Cancel, and message dialogs fall back to MessageBoxA.
#pragma once
#pragma GCC visibility push(default)

#include <functional>

#include "host/Classes.h"
#include "host/Controls.h"
#include "host/Sets.h"

enum TOpenOption : uint8_t {
  ofReadOnly = 0, ofOverwritePrompt, ofHideReadOnly, ofNoChangeDir, ofShowHelp, ofNoValidate,
  ofAllowMultiSelect, ofExtensionDifferent, ofPathMustExist, ofFileMustExist, ofCreatePrompt,
  ofShareAware, ofNoReadOnlyReturn, ofNoTestFileCreate, ofNoNetworkButton, ofNoLongNames,
  ofOldStyleDialog, ofNoDereferenceLinks, ofEnableIncludeNotify, ofEnableSizing
};
using TOpenOptions = TSet<TOpenOption, uint32_t>;

class TOpenDialog : public TComponent {
public:
  explicit TOpenDialog(TComponent* AOwner) : TComponent(AOwner) {}
  AnsiString FileName;    // the initial file, and the chosen one after Execute
  AnsiString Filter;      // "Text (*.txt)|*.txt|All Files (*.*)|*.*"
  int FilterIndex = 1;    // 1-based pair of Filter
  AnsiString InitialDir;
  AnsiString DefaultExt;
  AnsiString Title;
  TOpenOptions Options = {ofHideReadOnly, ofEnableSizing};
  // Runs the dialog: true when the user confirmed a choice that passes the options
  // (ofPathMustExist, ofFileMustExist). ofNoChangeDir keeps the current directory
  // whatever the runner does.
  virtual bool Execute();
  // The (description, pattern) pairs of Filter.
  std::vector<std::pair<AnsiString, AnsiString>> FilterPairs() const;
};

// The runner plays the user: it sets Dialog.FileName (and FilterIndex) and returns
// true for OK, false for Cancel.
using TFileDialogRunner = std::function<bool(TOpenDialog& Dialog)>;
TFileDialogRunner SetFileDialogRunner(TFileDialogRunner Runner);  // returns the previous one

enum TMsgDlgType : uint8_t { mtWarning = 0, mtError, mtInformation, mtConfirmation, mtCustom };
enum TMsgDlgBtn : uint8_t { mbYes = 0, mbNo, mbOK, mbCancel, mbAbort, mbRetry, mbIgnore, mbAll, mbNoToAll, mbYesToAll, mbHelp };
using TMsgDlgButtons = TSet<TMsgDlgBtn, uint16_t>;

// Shows a message and returns the modal result of the button pressed.
int MessageDlg(const AnsiString& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons, int HelpCtx = 0);
void ShowMessage(const AnsiString& Msg);
using TMessageDialogRunner =
    std::function<int(const AnsiString& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons)>;
TMessageDialogRunner SetMessageDialogRunner(TMessageDialogRunner Runner);
#pragma GCC visibility pop
