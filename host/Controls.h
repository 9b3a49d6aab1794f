// Controls: the headless control model the dialogs are written against. A control
// has a parent (the container it sits in), bounds, visibility, enabled state, a tab
// order and, for the focusable ones, focus handled by the form. Nothing is drawn:
// a modal runner (host/Forms.h) drives the controls as a user would, through the
// same operations a real screen would call (typing, clicking, picking an item).
#pragma once
#pragma GCC visibility push(default)

#include <functional>
#include <memory>
#include <vector>

#include "host/Classes.h"
#include "host/SysUtils.h"

class TWinControl;
class TCustomForm;

enum TModalResult : int {
  mrNone = 0, mrOk = 1, mrCancel = 2, mrAbort = 3, mrRetry = 4, mrIgnore = 5, mrYes = 6, mrNo = 7
};

enum TAlign : uint8_t { alNone = 0, alTop, alBottom, alLeft, alRight, alClient };

class TControl : public TComponent {
public:
  explicit TControl(TComponent* AOwner);
  ~TControl() override;

  TWinControl* Parent() const { return FParent; }
  virtual void SetParent(TWinControl* Value);
  // The form the control sits on (walking up the parents), or nullptr.
  TCustomForm* ParentForm() const;

  int Left = 0, Top = 0, Width = 0, Height = 0;
  void SetBounds(int ALeft, int ATop, int AWidth, int AHeight);
  bool Visible = true;
  bool Enabled = true;
  AnsiString Caption;
  AnsiString Hint;
  TAlign Align = alNone;
  // Visible and enabled, and so are all parents.
  bool Showing() const;
  bool IsEnabled() const;

  TNotifyEvent OnClick;
  // What a user's click does; the base runs OnClick when the control is enabled.
  virtual void Click();

private:
  TWinControl* FParent = nullptr;
};

// A control that can hold others and take the focus.
class TWinControl : public TControl {
public:
  explicit TWinControl(TComponent* AOwner) : TControl(AOwner) {}
  ~TWinControl() override;

  int ControlCount() const { return static_cast<int>(FControls.size()); }
  TControl* Controls(int Index) const { return FControls.at(Index); }
  int TabOrder() const { return FTabOrder; }
  void SetTabOrder(int Value);
  bool TabStop = true;
  virtual bool CanFocus() const;
  // Gives this control the focus on its form (raises when it cannot take it).
  void SetFocus();
  bool Focused() const;

  TNotifyEvent OnEnter, OnExit;
  // The focusable controls inside this one, in tab order (depth first).
  void GetTabOrderList(std::vector<TWinControl*>& List) const;

protected:
  friend class TControl;
  friend class TCustomForm;
  virtual void DoEnter() {
    if (OnEnter) OnEnter(this);
  }
  virtual void DoExit() {
    if (OnExit) OnExit(this);
  }

private:
  void InsertControl(TControl* Control);
  void RemoveControl(TControl* Control);
  std::vector<TControl*> FControls;  // children; each child removes itself
  int FTabOrder = -1;                // position among the siblings that are TWinControls
};

class TLabel : public TControl {
public:
  using TControl::TControl;
  TWinControl* FocusControl = nullptr;  // takes the focus for the label's accelerator
};

enum TBevelShape : uint8_t { bsBox = 0, bsFrame, bsTopLine, bsBottomLine, bsLeftLine, bsRightLine, bsSpacer };

class TBevel : public TControl {
public:
  using TControl::TControl;
  TBevelShape Shape = bsBox;
};

class TGroupBox : public TWinControl {
public:
  explicit TGroupBox(TComponent* AOwner) : TWinControl(AOwner) { TabStop = false; }
};

enum TPanelBevel : uint8_t { bvNone = 0, bvLowered, bvRaised, bvSpace };

class TPanel : public TWinControl {
public:
  explicit TPanel(TComponent* AOwner) : TWinControl(AOwner) { TabStop = false; }
  TPanelBevel BevelOuter = bvRaised;
  TPanelBevel BevelInner = bvNone;
};

class TEdit : public TWinControl {
public:
  using TWinControl::TWinControl;
  const AnsiString& Text() const { return FText; }
  // Setting the text from code fires OnChange, as typing does.
  void SetText(const AnsiString& Value);
  char PasswordChar = '\0';  // shown instead of each character when not zero
  int MaxLength = 0;         // 0: no limit
  bool ReadOnly = false;
  // What the screen shows: the text, or as many password characters.
  AnsiString DisplayText() const;
  // A user typing: replaces the text unless read-only or disabled; honours MaxLength.
  void TypeText(const AnsiString& Value);
  TNotifyEvent OnChange;

private:
  AnsiString FText;
};

class TButton : public TWinControl {
public:
  using TWinControl::TWinControl;
  bool Default = false;  // pressed by the Enter key
  bool Cancel = false;   // pressed by the Escape key
  TModalResult ModalResult = mrNone;
  // Runs OnClick, then hands ModalResult to the form (which ends a modal run).
  void Click() override;
};

class TCheckBox : public TWinControl {
public:
  using TWinControl::TWinControl;
  bool Checked() const { return FChecked; }
  // From code: changes the box without running OnClick.
  void SetChecked(bool Value) { FChecked = Value; }
  // A user's click: toggles the box, then runs OnClick.
  void Click() override;

private:
  bool FChecked = false;
};

// The item list of combo boxes and list boxes.
class TItemsControl : public TWinControl {
public:
  explicit TItemsControl(TComponent* AOwner);
  TStringList& Items() { return *FItems; }
  const TStringList& Items() const { return *FItems; }
  int ItemIndex() const;
  // From code: -1 or an index of Items; anything else raises EListError. No event.
  void SetItemIndex(int Value);
  // A user's pick: selects Index and runs OnChange (combo) / OnClick (list).
  virtual void Pick(int Index);
  TNotifyEvent OnChange;

protected:
  std::unique_ptr<TStringList> FItems;
  int FItemIndex = -1;
};

enum TComboBoxStyle : uint8_t { csDropDown = 0, csSimple, csDropDownList };

class TComboBox : public TItemsControl {
public:
  using TItemsControl::TItemsControl;
  TComboBoxStyle Style = csDropDown;
  // The edit part: the picked item, or free text for csDropDown.
  AnsiString Text() const;
  void SetText(const AnsiString& Value);
  void Pick(int Index) override;

private:
  AnsiString FText;
};

class TListBox : public TItemsControl {
public:
  using TItemsControl::TItemsControl;
  bool Sorted = false;
  void Pick(int Index) override;
};

// Drive and directory selectors. This platform has one root ("/"), so the drive box
// lists that single drive; the directory list follows a directory of the file system.
class TDirectoryListBox;

class TDriveComboBox : public TWinControl {
public:
  using TWinControl::TWinControl;
  char Drive() const { return FDrive; }
  void SetDrive(char Value);  // changes the drive and moves the linked directory list
  TDirectoryListBox* DirList = nullptr;
  TNotifyEvent OnChange;

private:
  char FDrive = '/';
};

class TDirectoryListBox : public TWinControl {
public:
  using TWinControl::TWinControl;
  const AnsiString& Directory() const { return FDirectory; }
  // Raises EFOpenError when the directory does not exist; the directory stays.
  void SetDirectory(const AnsiString& Value);
  TEdit* DirLabel = nullptr;  // shows the directory when set
  TNotifyEvent OnChange;
  // The sub-directories of Directory, sorted.
  std::vector<AnsiString> SubDirectories() const;

private:
  AnsiString FDirectory = "/";
};
#pragma GCC visibility pop
