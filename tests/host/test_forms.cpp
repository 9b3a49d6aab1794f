// The headless forms model: modal runs driven by a scripted runner, buttons with
// modal results, default and cancel keys, tab order and focus, check boxes, item
// lists, the file-open dialog's option checks, the screen's lists and the
// application's exception handler.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "host/DB.h"
#include "host/Dialogs.h"
#include "host/Forms.h"

namespace {

// A small login-like form: two edits, a check box, OK and Cancel.
class TTestForm : public TForm {
public:
  explicit TTestForm(TComponent* Owner) : TForm(Owner) {
    BorderStyle = bsDialog;
    Position = poScreenCenter;
    SetClientSize(300, 150);
    Caption = "Test";
    User = new TEdit(this);
    User->SetParent(this);
    Password = new TEdit(this);
    Password->SetParent(this);
    Password->PasswordChar = '*';
    Remember = new TCheckBox(this);
    Remember->SetParent(this);
    Ok = new TButton(this);
    Ok->SetParent(this);
    Ok->Default = true;
    Ok->ModalResult = mrOk;
    Cancel = new TButton(this);
    Cancel->SetParent(this);
    Cancel->Cancel = true;
    Cancel->ModalResult = mrCancel;
  }
  TEdit *User, *Password;
  TCheckBox* Remember;
  TButton *Ok, *Cancel;
};

// Installs a runner for one test and puts the previous one back.
struct TRunnerScope {
  explicit TRunnerScope(TModalRunner R) : Old(SetModalRunner(std::move(R))) {}
  ~TRunnerScope() { SetModalRunner(std::move(Old)); }
  TModalRunner Old;
};

}  // namespace

TEST(Forms, ScriptedUserTypesAndPressesOk) {
  TTestForm F(nullptr);
  TRunnerScope Scope([](TCustomForm& Form) {
    auto& T = static_cast<TTestForm&>(Form);
    EXPECT_TRUE(T.Visible);
    EXPECT_TRUE(T.Modal());
    EXPECT_EQ(T.ActiveControl(), T.User) << "the first control in tab order has the focus";
    T.User->TypeText("dba");
    T.SelectNext();
    EXPECT_EQ(T.ActiveControl(), T.Password);
    T.Password->TypeText("sql");
    T.Ok->Click();
  });
  EXPECT_EQ(F.ShowModal(), mrOk);
  EXPECT_FALSE(F.Visible);
  EXPECT_EQ(F.User->Text(), "dba");
  EXPECT_EQ(F.Password->DisplayText(), "***");
  EXPECT_EQ(F.Password->Text(), "sql");
}

TEST(Forms, EnterAndEscapePressTheDefaultAndCancelButtons) {
  TTestForm F(nullptr);
  {
    TRunnerScope Scope([](TCustomForm& Form) { EXPECT_TRUE(Form.PressEscape()); });
    EXPECT_EQ(F.ShowModal(), mrCancel);
  }
  {
    TRunnerScope Scope([](TCustomForm& Form) { EXPECT_TRUE(Form.PressEnter()); });
    EXPECT_EQ(F.ShowModal(), mrOk);
  }
  F.Ok->Enabled = false;
  TRunnerScope Scope([](TCustomForm& Form) { EXPECT_FALSE(Form.PressEnter()) << "a disabled default button is not pressed"; });
  EXPECT_EQ(F.ShowModal(), mrCancel) << "a runner that leaves without an answer closes the window";
}

TEST(Forms, CloseQueryCanRefuseAndTheRunnerIsAskedAgain) {
  TTestForm F(nullptr);
  int Asked = 0;
  F.OnCloseQuery = [&](TObject*, bool& CanClose) { CanClose = F.User->Text() == "ok"; };
  TRunnerScope Scope([&](TCustomForm& Form) {
    ++Asked;
    if (Asked == 2) F.User->TypeText("ok");
    F.Ok->Click();
  });
  EXPECT_EQ(F.ShowModal(), mrOk);
  EXPECT_EQ(Asked, 2);
}

TEST(Forms, ButtonClickRunsHandlerBeforeEndingTheRun) {
  TTestForm F(nullptr);
  std::vector<std::string> Seen;
  F.Ok->OnClick = [&](TObject*) { Seen.push_back(F.ModalResult() == mrNone ? "click before result" : "late"); };
  TRunnerScope Scope([&](TCustomForm&) { F.Ok->Click(); });
  F.ShowModal();
  EXPECT_EQ(Seen, (std::vector<std::string>{"click before result"}));
}

TEST(Controls, CheckBoxFromCodeDoesNotFireClick) {
  TTestForm F(nullptr);
  int Clicks = 0;
  F.Remember->OnClick = [&](TObject*) { ++Clicks; };
  F.Remember->SetChecked(true);
  EXPECT_TRUE(F.Remember->Checked());
  EXPECT_EQ(Clicks, 0);
  F.Remember->Click();
  EXPECT_FALSE(F.Remember->Checked());
  EXPECT_EQ(Clicks, 1);
  F.Remember->Enabled = false;
  F.Remember->Click();
  EXPECT_EQ(Clicks, 1) << "a disabled box ignores clicks";
}

TEST(Controls, TabOrderFocusAndDisabledOrHiddenControls) {
  TTestForm F(nullptr);
  F.SelectNext();
  EXPECT_EQ(F.ActiveControl(), nullptr) << "nothing on a hidden form takes the focus";
  F.Show();
  F.Password->SetTabOrder(0);
  F.SelectNext();
  EXPECT_EQ(F.ActiveControl(), F.Password);
  F.User->Visible = false;
  F.Remember->Enabled = false;
  F.SelectNext();
  EXPECT_EQ(F.ActiveControl(), F.Ok) << "hidden and disabled controls are skipped";
  F.SelectNext(false);
  EXPECT_EQ(F.ActiveControl(), F.Password);
  EXPECT_THROW(F.User->SetFocus(), EInvalidOperation);
  int Entered = 0, Left = 0;
  F.Remember->Enabled = true;
  F.Remember->OnEnter = [&](TObject*) { ++Entered; };
  F.Password->OnExit = [&](TObject*) { ++Left; };
  F.Remember->SetFocus();
  EXPECT_TRUE(F.Remember->Focused());
  EXPECT_EQ(Entered, 1);
  EXPECT_EQ(Left, 1);
}

TEST(Controls, EditHonoursReadOnlyAndMaxLength) {
  TEdit E(nullptr);
  int Changes = 0;
  E.OnChange = [&](TObject*) { ++Changes; };
  E.MaxLength = 3;
  E.TypeText("abcdef");
  EXPECT_EQ(E.Text(), "abc");
  E.ReadOnly = true;
  E.TypeText("zz");
  EXPECT_EQ(E.Text(), "abc");
  E.SetText("code");  // from code: allowed
  EXPECT_EQ(E.Text(), "code");
  EXPECT_EQ(Changes, 2);
}

TEST(Controls, ComboAndListBoxesKeepTheirIndexInRange) {
  TComboBox C(nullptr);
  C.Style = csDropDownList;
  C.Items().Add("one");
  C.Items().Add("two");
  int Changes = 0;
  C.OnChange = [&](TObject*) { ++Changes; };
  C.SetItemIndex(1);
  EXPECT_EQ(C.Text(), "two");
  EXPECT_EQ(Changes, 0);
  EXPECT_THROW(C.SetItemIndex(2), EListError);
  EXPECT_THROW(C.SetItemIndex(-2), EListError);
  C.Pick(0);
  EXPECT_EQ(Changes, 1);
  C.SetText("absent");
  EXPECT_EQ(C.ItemIndex(), -1);
  EXPECT_EQ(C.Text(), "");
  C.Items().Clear();
  EXPECT_EQ(C.ItemIndex(), -1) << "an index beyond the items reads as none";

  TListBox L(nullptr);
  L.Items().Add("a");
  int Clicks = 0;
  L.OnClick = [&](TObject*) { ++Clicks; };
  L.Pick(0);
  EXPECT_EQ(L.ItemIndex(), 0);
  EXPECT_EQ(Clicks, 1);
}

TEST(Controls, DirectorySelectorsFollowTheFileSystem) {
  auto Root = std::filesystem::temp_directory_path() / ("zyl_forms_" + std::to_string(::getpid()));
  std::filesystem::create_directories(Root / "b");
  std::filesystem::create_directories(Root / "a");
  TDirectoryListBox Dirs(nullptr);
  TEdit Label(nullptr);
  Dirs.DirLabel = &Label;
  Dirs.SetDirectory(Root.string() + "/a/..");
  EXPECT_EQ(Dirs.Directory(), Root.string());
  EXPECT_EQ(Label.Text(), Root.string());
  EXPECT_EQ(Dirs.SubDirectories(), (std::vector<AnsiString>{"a", "b"}));
  EXPECT_THROW(Dirs.SetDirectory(Root.string() + "/missing"), EFOpenError);
  EXPECT_EQ(Dirs.Directory(), Root.string()) << "a failed change keeps the directory";
  Dirs.SetDirectory("\\");
  EXPECT_EQ(Dirs.Directory(), "/") << "a backslash root names this platform's root";
  TDriveComboBox Drive(nullptr);
  Drive.DirList = &Dirs;
  Drive.SetDrive('c');
  EXPECT_EQ(Dirs.Directory(), "/");
  std::filesystem::remove_all(Root);
}

TEST(Dialogs, OpenDialogChecksTheOptionsAndKeepsTheDirectory) {
  auto Root = std::filesystem::temp_directory_path() / ("zyl_dialog_" + std::to_string(::getpid()));
  std::filesystem::create_directories(Root);
  std::ofstream(Root / "db.db") << "x";
  AnsiString Before = GetCurrentDir();
  TOpenDialog D(nullptr);
  D.Filter = "Databases (*.db)|*.db|All Files (*.*)|*.*";
  D.FileName = "start.db";
  D.Options = {ofNoChangeDir, ofPathMustExist, ofFileMustExist};
  auto Pairs = D.FilterPairs();
  ASSERT_EQ(Pairs.size(), 2u);
  EXPECT_EQ(Pairs[0].second, "*.db");
  AnsiString Pick = (Root / "db.db").string();
  auto Old = SetFileDialogRunner([&](TOpenDialog& Dlg) {
    EXPECT_EQ(Dlg.FileName, "start.db") << "the dialog opens on the current value";
    SetCurrentDir(Root.string());
    Dlg.FileName = Pick;
    return true;
  });
  EXPECT_TRUE(D.Execute());
  EXPECT_EQ(D.FileName, Pick);
  EXPECT_EQ(GetCurrentDir(), Before);
  Pick = (Root / "missing.db").string();
  D.FileName = "start.db";
  EXPECT_FALSE(D.Execute()) << "a file that must exist but does not is refused";
  EXPECT_EQ(D.FileName, "start.db");
  SetFileDialogRunner([](TOpenDialog&) { return false; });
  EXPECT_FALSE(D.Execute());
  SetFileDialogRunner(std::move(Old));
  std::filesystem::remove_all(Root);
}

TEST(Dialogs, MessageDialogGoesToItsRunner) {
  auto Old = SetMessageDialogRunner([](const AnsiString& Msg, TMsgDlgType T, TMsgDlgButtons B) {
    return Msg == "Sure?" && T == mtConfirmation && B.Contains(mbNo) ? int(mrNo) : int(mrNone);
  });
  EXPECT_EQ(MessageDlg("Sure?", mtConfirmation, {mbYes, mbNo}), mrNo);
  SetMessageDialogRunner(std::move(Old));
}

TEST(Application, ScreenListsFormsAndDataModulesWhileTheyLive) {
  int Forms = Screen->FormCount(), Modules = Screen->DataModuleCount();
  {
    TForm F(nullptr);
    TDataModule M(nullptr);
    EXPECT_EQ(Screen->FormCount(), Forms + 1);
    EXPECT_EQ(Screen->Forms(Screen->FormCount() - 1), &F);
    EXPECT_EQ(Screen->DataModuleCount(), Modules + 1);
    EXPECT_EQ(Screen->DataModules(Screen->DataModuleCount() - 1), &M);
  }
  EXPECT_EQ(Screen->FormCount(), Forms);
  EXPECT_EQ(Screen->DataModuleCount(), Modules);
}

TEST(Application, HandleExceptionReachesTheHandlerAndAbortIsSilent) {
  std::vector<std::string> Seen;
  auto Old = Application->OnException;
  Application->OnException = [&](TObject*, const std::exception& E) { Seen.push_back(E.what()); };
  try {
    throw EDatabaseError("boom");
  } catch (...) {
    Application->HandleException(nullptr);
  }
  Application->HandleException(nullptr);  // outside a handler: nothing to show
  try {
    throw EAbortOperation();
  } catch (...) {
    Application->HandleException(nullptr);  // silent
  }
  Application->OnException = Old;
  EXPECT_EQ(Seen, (std::vector<std::string>{"boom"}));
  EXPECT_FALSE(Application->HelpJump("Params_Property"));
  EXPECT_EQ(Application->LastHelpTopic(), "Params_Property");
}
