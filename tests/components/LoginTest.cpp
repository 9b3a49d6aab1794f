// TAsaLogin and its form, with the user scripted through the forms model: the form as designed
// (captions, positions, tab order, details shown and hidden), the silent connect and its fallback
// to the form, Cancel, OK with and without details, the start line both ways, the version list,
// the library path taken from the database, browsing, and a failed connect putting the library
// file and path back.
#include <gtest/gtest.h>

#include <functional>

#include "components/ZylAsaLg.h"
#include "tests/asa/AsaTestEnv.h"

namespace {

using zylasa::AsaTest;

// Installs a modal runner (the scripted user) for one scope; counts the runs.
struct TUser {
  explicit TUser(std::function<void(TAsaLoginForm&)> Script)
      : Old(SetModalRunner([this, Script](TCustomForm& Form) {
          ++Runs;
          Script(dynamic_cast<TAsaLoginForm&>(Form));
        })) {}
  ~TUser() { SetModalRunner(std::move(Old)); }
  TModalRunner Old;
  int Runs = 0;
};

struct TPickFile {
  explicit TPickFile(TFileDialogRunner R) : Old(SetFileDialogRunner(std::move(R))) {}
  ~TPickFile() { SetFileDialogRunner(std::move(Old)); }
  TFileDialogRunner Old;
};

// The focus order a user tabbing through the form meets, from the first control.
std::vector<std::string> TabWalk(TAsaLoginForm& F) {
  std::vector<std::string> Names;
  F.SetActiveControl(nullptr);
  F.SelectNext(true);
  TWinControl* First = F.ActiveControl();
  do {
    Names.push_back(F.ActiveControl()->GetName());
    F.SelectNext(true);
  } while (F.ActiveControl() != First && Names.size() < 30);
  return Names;
}

class LoginTest : public AsaTest {
 protected:
  void TearDown() override {
    if (Session) {
      Session->Close();
      TAsaSession Stopper(nullptr);
      Stopper.SetLibraryPath(zylasa::LibDir());
      Stopper.SetLibraryFile("dblib10.dll");
      StopEngine(Stopper, "login");
    }
    AsaTest::TearDown();
  }
  // A session on a fresh database (not connected), for an engine "login" that the connect starts.
  void Prepare() {
    File = CreateDb("login");
    Session = NewSession("dblib10.dll", File);
    Session->SetLoginEngineName("login");
    Session->SetClientParams("dbf=" + File);
    Login.SetSession(Session.get());
  }
  std::string File;
  std::unique_ptr<TAsaSession> Session;
  TAsaLogin Login{nullptr};
};

TEST(LoginForm, AsDesigned) {
  TAsaLoginForm F(nullptr);
  EXPECT_EQ(F.Caption, "Sybase SQL Anywhere Login");
  EXPECT_EQ(F.BorderStyle, bsDialog);
  EXPECT_EQ(F.FormStyle, fsStayOnTop);
  EXPECT_EQ(F.Position, poScreenCenter);
  EXPECT_EQ(F.ClientWidth(), 313);
  EXPECT_EQ(F.ClientHeight(), 310);
  EXPECT_FALSE(F.GetDetailsShown());
  EXPECT_EQ(F.cbVersion->Text(), "(Not listed)");
  EXPECT_EQ(F.cbVersion->Style, csDropDownList);
  ASSERT_EQ(F.cbVersion->Items().Count(), 9);
  EXPECT_EQ(F.cbVersion->Items().Strings(8), "SQL Anywhere 10");
  struct TExpect {
    TControl* C;
    const char* Caption;
    int Left, Top, Width, Height;
  };
  for (const TExpect& E : std::vector<TExpect>{
           {F.gbLogin, "", 8, 3, 297, 266},          {F.lblUserID, "&User ID:", 16, 22, -1, -1},
           {F.edUserID, "", 96, 19, 185, 21},        {F.lblPassword, "&Password:", 16, 49, -1, -1},
           {F.edPassword, "", 96, 47, 185, 21},      {F.Bevel1, "", 1, 72, 295, 9},
           {F.pnlDatabaseParams, "", 8, 88, 281, 169}, {F.lblVersion, "&Version:", 8, 5, -1, -1},
           {F.cbVersion, "", 88, 3, 185, 21},        {F.lblServerName, "&Server name:", 8, 34, -1, -1},
           {F.edServerName, "", 88, 31, 185, 21},    {F.lblStartLine, "Sta&rt line:", 8, 63, -1, -1},
           {F.edStartLine, "", 88, 60, 185, 21},     {F.lblConnParams, "&Conn. params:", 8, 90, -1, -1},
           {F.edConnParams, "", 88, 88, 185, 21},    {F.lblDatabase, "&Database:", 8, 119, -1, -1},
           {F.edDatabase, "", 88, 116, 185, 21},     {F.btnBrowse, "&Browse...", 200, 145, 73, 23},
           {F.btnOK, "OK", 72, 7, 75, 23},           {F.btnCancel, "Cancel", 152, 7, 75, 23},
           {F.btnMore, "More >>", 232, 7, 75, 23},
       }) {
    SCOPED_TRACE(E.C->GetName());
    EXPECT_EQ(E.C->Caption, E.Caption);
    EXPECT_EQ(E.C->Left, E.Left);
    EXPECT_EQ(E.C->Top, E.Top);
    if (E.Width >= 0) {
      EXPECT_EQ(E.C->Width, E.Width);
    }
    if (E.Height >= 0) {
      EXPECT_EQ(E.C->Height, E.Height);
    }
  }
  EXPECT_EQ(F.lblUserID->FocusControl, F.edUserID);
  EXPECT_EQ(F.lblDatabase->FocusControl, F.edDatabase);
  EXPECT_EQ(F.edPassword->PasswordChar, '*');
  EXPECT_EQ(F.pnlDatabaseParams->Parent(), F.gbLogin);
  EXPECT_EQ(F.btnBrowse->Parent(), F.pnlDatabaseParams);
  EXPECT_EQ(F.btnOK->Parent(), F.pnlButtons);
  EXPECT_EQ(F.pnlButtons->Align, alBottom);
  EXPECT_EQ(F.pnlButtons->Height, 39);
  EXPECT_TRUE(F.btnOK->Default);
  EXPECT_EQ(F.btnOK->ModalResult, mrOk);
  EXPECT_TRUE(F.btnCancel->Cancel);
  EXPECT_EQ(F.btnCancel->ModalResult, mrCancel);
  EXPECT_EQ(F.odDatabase->Filter, "Databases (*.db)|*.db|All Files (*.*)|*.*");
  EXPECT_TRUE(F.odDatabase->Options.Contains(ofFileMustExist));
  EXPECT_TRUE(F.odDatabase->Options.Contains(ofPathMustExist));
  EXPECT_TRUE(F.odDatabase->Options.Contains(ofNoChangeDir));

  // Details shown: everything in tab order, Browse skipped (no tab stop).
  F.Visible = true;
  F.SizeLoginForm(true);
  EXPECT_EQ(TabWalk(F), (std::vector<std::string>{"edUserID", "edPassword", "cbVersion", "edServerName", "edStartLine",
                                                  "edConnParams", "edDatabase", "btnOK", "btnCancel", "btnMore"}));
  // Hidden: the panel and the bevel go, the form shrinks, the buttons stay at the bottom.
  F.SizeLoginForm(false);
  EXPECT_FALSE(F.pnlDatabaseParams->Visible);
  EXPECT_FALSE(F.Bevel1->Visible);
  EXPECT_EQ(F.Height, 151);
  EXPECT_EQ(F.gbLogin->Height, 82);
  EXPECT_EQ(F.pnlButtons->Top, F.ClientHeight() - 39 - 25);
  EXPECT_EQ(TabWalk(F), (std::vector<std::string>{"edUserID", "edPassword", "btnOK", "btnCancel", "btnMore"}));
  F.btnMore->Click();
  EXPECT_TRUE(F.GetDetailsShown());
  EXPECT_EQ(F.btnMore->Caption, "More <<");
  EXPECT_EQ(F.Height, 335);
  EXPECT_EQ(F.gbLogin->Height, 266);
  EXPECT_TRUE(F.pnlDatabaseParams->Visible);
  EXPECT_GT(F.pnlButtons->Top, F.gbLogin->Top + F.gbLogin->Height);
  F.btnMore->Click();
  EXPECT_EQ(F.btnMore->Caption, "More >>");
  EXPECT_EQ(F.Height, 151);

  F.SetVisibleMore(false);
  EXPECT_FALSE(F.btnMore->Visible);
  EXPECT_EQ(F.btnOK->Left, 152);
  EXPECT_EQ(F.btnCancel->Left, 232);
  F.SetVisibleMore(true);
  EXPECT_EQ(F.btnOK->Left, 72);
  EXPECT_EQ(F.btnCancel->Left, 152);

  // The version list and its library files.
  F.SetComboVendorLib("dblib7.dll");
  EXPECT_EQ(F.cbVersion->Text(), "SQL Anywhere 7");
  EXPECT_EQ(F.GetComboVendorLib("mine.dll"), "dblib7.dll");
  F.SetComboVendorLib("DBLIB7.DLL");  // exactly, case included
  EXPECT_EQ(F.cbVersion->Text(), "(Not listed)");
  EXPECT_EQ(F.GetComboVendorLib("mine.dll"), "mine.dll");
  F.cbVersion->Pick(1);
  EXPECT_EQ(F.GetComboVendorLib("mine.dll"), "dbl30t.dll");
}

TEST(LoginOptions, AlwaysDetailsDropsAllowDetails) {
  TAsaLogin L(nullptr);
  EXPECT_EQ(L.GetOptions(), (TAsaLoginOptions{loAutoLibraryPath, loAllowDetails}));
  L.SetOptions({loAllowDetails, loAlwaysDetails});
  EXPECT_EQ(L.GetOptions(), TAsaLoginOptions{loAlwaysDetails});
  L.SetOptions({loAutoConnect});
  EXPECT_EQ(L.GetOptions(), TAsaLoginOptions{loAutoConnect});
  EXPECT_THROW(L.Execute(), EZyloException) << "no session";
}

TEST_F(LoginTest, AutoConnectConnectsWithoutTheFormAndFallsBackToItOnFailure) {
  Prepare();
  Login.SetOptions({loAutoConnect});
  {
    TUser User([](TAsaLoginForm&) { ADD_FAILURE() << "no form when the silent connect works"; });
    Login.Execute();
    EXPECT_EQ(User.Runs, 0);
    EXPECT_TRUE(Session->GetConnected());
  }
  // A wrong password: the application shows the error, then the form asks; the user corrects it.
  Session->Close();
  Session->SetLoginPassword("wrong");
  std::vector<std::string> Shown;
  Application->OnException = [&](TObject*, const std::exception& E) { Shown.push_back(E.what()); };
  TUser User([](TAsaLoginForm& F) {
    EXPECT_EQ(F.edUserID->Text(), "dba");
    EXPECT_EQ(F.edPassword->DisplayText(), "*****");
    EXPECT_EQ(F.ActiveControl(), F.edPassword) << "a known user id: the focus waits at the password";
    F.edPassword->TypeText("sql");
    F.PressEnter();
  });
  Login.Execute();
  Application->OnException = nullptr;
  EXPECT_EQ(User.Runs, 1);
  ASSERT_EQ(Shown.size(), 1u);
  EXPECT_TRUE(Session->GetConnected());
  EXPECT_EQ(Session->GetLoginPassword(), "sql");
}

TEST_F(LoginTest, CancelLeavesTheSessionAsItWas) {
  Prepare();
  Session->Open();
  Login.SetOptions({loAlwaysDetails});
  TUser User([](TAsaLoginForm& F) {
    EXPECT_TRUE(F.GetDetailsShown());
    EXPECT_FALSE(F.btnMore->Visible) << "always shown: no button";
    EXPECT_EQ(F.Height, 335);
    EXPECT_EQ(F.ActiveControl(), F.edUserID) << "details shown: the focus starts at the top";
    F.edUserID->TypeText("someone");
    F.cbVersion->Pick(2);
    F.PressEscape();
  });
  Login.Execute();
  EXPECT_EQ(User.Runs, 1);
  EXPECT_TRUE(Session->GetConnected()) << "not closed, not reconnected";
  EXPECT_EQ(Session->GetLoginUser(), "dba");
  EXPECT_EQ(Session->GetLibraryFile(), "dblib10.dll");
}

TEST_F(LoginTest, OkWritesTheDetailsAndConnects) {
  Prepare();
  Session->SetLibraryFile("dblib7.dll");
  Session->SetServerParams("START=dbeng8 -c 8m");
  Session->SetLoginPassword("");
  TUser User([&](TAsaLoginForm& F) {
    EXPECT_FALSE(F.GetDetailsShown());
    EXPECT_TRUE(F.btnMore->Visible);
    EXPECT_EQ(F.cbVersion->Text(), "SQL Anywhere 7") << "the session's file selects its version";
    EXPECT_EQ(F.edStartLine->Text(), "dbeng8 -c 8m") << "START= in capitals is cut out too";
    EXPECT_EQ(F.edServerName->Text(), "login");
    EXPECT_EQ(F.edConnParams->Text(), "dbf=" + File);
    EXPECT_EQ(F.edDatabase->Text(), File);
    EXPECT_EQ(F.odDatabase->FileName, File);
    F.btnMore->Click();
    F.edPassword->TypeText("sql");
    F.cbVersion->Pick(8);  // SQL Anywhere 10
    F.edStartLine->TypeText("");
    F.btnOK->Click();
  });
  Login.Execute();
  EXPECT_TRUE(Session->GetConnected());
  EXPECT_EQ(Session->GetLibraryFile(), "dblib10.dll");
  EXPECT_EQ(Session->Version(), 10);
  EXPECT_EQ(Session->GetServerParams(), "");
  EXPECT_EQ(Session->GetServerType(), stClient);
  EXPECT_EQ(Session->GetClientParams(), "dbf=" + File);
  EXPECT_EQ(Session->GetLoginEngineName(), "login");
}

TEST_F(LoginTest, AFailedConnectPutsLibraryFileAndPathBack) {
  Prepare();
  Session->SetLibraryPath("");
  Session->SetLibraryFile("mine.dll");
  AnsiString PathAtConnect;
  Session->BeforeConnect = [&](TObject*) { PathAtConnect = Session->GetLibraryPath(); };
  std::string Elsewhere = Dir.File("elsewhere");
  std::filesystem::create_directory(Elsewhere);
  TUser User([&](TAsaLoginForm& F) {
    F.btnMore->Click();
    F.cbVersion->Pick(5);  // SQL Anywhere 7
    F.edStartLine->TypeText("-x tcpip myserver");
    F.edDatabase->TypeText(Elsewhere + "/sales.db");
    F.btnOK->Click();
  });
  EXPECT_THROW(Login.Execute(), Exception);
  EXPECT_EQ(PathAtConnect, Elsewhere + "/") << "the database's folder, with its trailing delimiter";
  EXPECT_EQ(Session->GetLibraryFile(), "mine.dll");
  EXPECT_EQ(Session->GetLibraryPath(), "");
  EXPECT_EQ(Session->GetServerParams(), "start=-x tcpip myserver");
  EXPECT_EQ(Session->GetServerType(), stServer);
  EXPECT_EQ(Session->GetLoginDatabase(), Elsewhere + "/sales.db");
  EXPECT_FALSE(Session->GetConnected());
}

TEST_F(LoginTest, WithoutDetailsOnlyUserAndPasswordChange) {
  Prepare();
  Login.SetOptions({});
  Session->SetLoginUser("");
  Session->SetLibraryPath(zylasa::LibDir());
  TUser User([](TAsaLoginForm& F) {
    EXPECT_FALSE(F.btnMore->Visible);
    EXPECT_EQ(F.btnOK->Left, 152);
    EXPECT_EQ(F.edDatabase->Text(), "") << "details are not even filled in";
    EXPECT_EQ(F.ActiveControl(), F.edUserID) << "no user id yet: the focus starts there";
    F.edUserID->TypeText("dba");
    F.edDatabase->TypeText("/elsewhere/other.db");  // hidden; never read
    F.btnOK->Click();
  });
  Login.Execute();
  EXPECT_TRUE(Session->GetConnected());
  EXPECT_EQ(Session->GetLoginUser(), "dba");
  EXPECT_EQ(Session->GetLoginDatabase(), File);
  EXPECT_EQ(Session->GetLibraryPath(), zylasa::LibDir());

  // With details but a library path of its own, the path stays.
  Login.SetOptions({loAllowDetails, loAutoLibraryPath});
  TUser Again([](TAsaLoginForm& F) { F.btnOK->Click(); });
  Login.Execute();
  EXPECT_EQ(Session->GetLibraryPath(), zylasa::LibDir());
  EXPECT_TRUE(Session->GetConnected());
}

TEST_F(LoginTest, BrowsePicksAnExistingDatabaseAndKeepsTheCurrentDirectory) {
  Prepare();
  Login.SetOptions({loAlwaysDetails});
  std::string Cwd = GetCurrentDir();
  std::string Picked;
  TPickFile Files([&](TOpenDialog& D) {
    EXPECT_EQ(D.FileName, File) << "starts at the session's database";
    SetCurrentDir(Dir.Path());
    D.FileName = Picked;
    return true;
  });
  TUser User([&](TAsaLoginForm& F) {
    Picked = Dir.File("missing.db");
    F.btnBrowse->Click();
    EXPECT_EQ(F.edDatabase->Text(), File) << "a file that does not exist is refused";
    Picked = File;
    F.edDatabase->TypeText("");
    F.btnBrowse->Click();
    EXPECT_EQ(F.edDatabase->Text(), File);
    F.PressEscape();
  });
  Login.Execute();
  EXPECT_EQ(GetCurrentDir(), Cwd);
}

}  // namespace
