// The editors as a user meets them, scripted through the forms model: the query parameter dialog
// (cancel restores, OK keeps, the 255 limit, data type and null handling, reset from the text),
// the stored-procedure dialog, the file and directory editors, the about box, and every
// registration found through the design registry as an environment would look it up.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include <unistd.h>

#include "components/ZylAlert.h"
#include "components/ZylAsaDS.h"
#include "components/ZylAsaLg.h"
#include "design/ZylAsaEd.h"
#include "design/ZylFileEd.h"
#include "design/ZylParamEd.h"
#include "host/Dialogs.h"

namespace {

// Plays the user of every modal form shown in its scope.
struct TUser {
  explicit TUser(std::function<void(TCustomForm&)> Script)
      : Old(SetModalRunner([this, Script](TCustomForm& Form) {
          ++Runs;
          Script(Form);
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

std::string Stored(const TZyloParams& P) {
  TMemoryStream S;
  P.WriteBinaryData(S);
  return std::string(static_cast<const char*>(S.Memory()), static_cast<size_t>(S.Size()));
}

class EditorsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearDesignRegistry();
    ZylPackRegister();
    ZylSaRegister();
    Root = new TDataModule(nullptr);
    Root->SetName("Module1");
    DS = new TAsaDataset(Root);
    DS->SetName("Orders");
    DS->GetSQL()->SetText("select * from orders where id = :id and qty > :qty and note = :note");
    DS->ParamByName("id")->SetAsInteger(7);
    DS->ParamByName("note")->Clear();
    Designer = std::make_unique<TDesigner>(Root);
  }
  void TearDown() override {
    Designer.reset();
    delete Root;
    ClearDesignRegistry();
  }

  // Runs the Params editor of DS with Script as the user.
  TModalResult EditParams(std::function<void(TZyloParamsDlg&)> Script) {
    TModalResult Result = mrNone;
    TUser User([&](TCustomForm& F) {
      auto& D = dynamic_cast<TZyloParamsDlg&>(F);
      Script(D);
      Result = D.ModalResult();
    });
    EXPECT_TRUE(Designer->EditProperty(DS, "Params"));
    EXPECT_EQ(User.Runs, 1);
    return Result;
  }

  TDataModule* Root = nullptr;
  TAsaDataset* DS = nullptr;
  std::unique_ptr<TDesigner> Designer;
};

TEST_F(EditorsTest, CancellingTheParameterDialogLeavesTheListExactlyAsItWas) {
  std::string Before = Stored(*DS->GetParams());
  std::string Caption;
  EditParams([&](TZyloParamsDlg& D) {
    Caption = D.Caption;
    EXPECT_EQ(D.lbParamNames->ItemIndex(), 0);
    EXPECT_EQ(D.edParamName->Text(), "id");
    EXPECT_EQ(D.edParamValue->Text(), "7");
    D.edParamName->TypeText("renamed");
    EXPECT_EQ(D.lbParamNames->Items()[0], "renamed");
    D.lbParamNames->Pick(1);
    D.btnDelete->Click();
    D.btnNew->Click();
    D.cbDataType->Pick(ztFloat);
    D.btnCancel->Click();
  });
  EXPECT_EQ(Caption, "Orders.Params Parameters");
  EXPECT_EQ(Stored(*DS->GetParams()), Before);
  EXPECT_EQ(Designer->ModifiedCount(), 0);

  // A user who closes the window without a button cancels too.
  EditParams([](TZyloParamsDlg& D) { D.btnDelete->Click(); });
  EXPECT_EQ(Stored(*DS->GetParams()), Before);
}

TEST_F(EditorsTest, OkKeepsTheEditsAndTheValueBeingTyped) {
  EditParams([](TZyloParamsDlg& D) {
    D.lbParamNames->Pick(1);  // qty
    D.cbDataType->Pick(ztInteger);
    D.edParamValue->SetFocus();
    D.edParamValue->TypeText("12");
    D.lbParamNames->Pick(2);  // note: null
    EXPECT_TRUE(D.cbNull->Checked());
    D.cbNull->Click();        // unticked: the value from the (empty) value text
    D.edParamValue->SetFocus();
    D.edParamValue->TypeText("rush");
    D.btnOK->Click();         // the focus never left the edit: the text still counts
  });
  EXPECT_EQ(Designer->ModifiedCount(), 1);
  EXPECT_EQ(DS->ParamByName("qty")->GetDataType(), ztInteger);
  EXPECT_EQ(DS->ParamByName("qty")->GetAsInteger(), 12);
  EXPECT_FALSE(DS->ParamByName("note")->GetIsNull());
  EXPECT_EQ(DS->ParamByName("note")->GetAsString(), "rush");
}

TEST_F(EditorsTest, DataTypeNullNewDeleteAndReset) {
  EditParams([](TZyloParamsDlg& D) {
    ASSERT_EQ(D.cbDataType->Items().Count(), 13);
    EXPECT_EQ(D.cbDataType->Items()[0], "ztUnknown");
    EXPECT_EQ(D.cbDataType->Items()[12], "ztBlob");
    TZyloParam* Id = D.Selected();
    // A new type resets the value from empty text.
    D.cbDataType->Pick(ztString);
    EXPECT_EQ(Id->GetDataType(), ztString);
    EXPECT_EQ(Id->GetAsString(), "");
    EXPECT_FALSE(Id->GetIsNull());
    // Ticking the null box clears to null and empties the edit.
    D.edParamValue->SetFocus();
    D.edParamValue->TypeText("abc");
    D.edParamName->SetFocus();
    EXPECT_EQ(Id->GetAsString(), "abc");
    D.edParamValue->SetFocus();
    D.cbNull->Click();
    EXPECT_TRUE(Id->GetIsNull());
    EXPECT_EQ(D.edParamValue->Text(), "");

    // Up to 255 parameters: the 255th is p255, then New does nothing.
    TZyloParams* L = D.GetParams();
    while (L->Count() < 254) L->CreateParam("x");
    D.SetParams(L);
    D.btnNew->Click();
    EXPECT_EQ(L->Count(), 255);
    EXPECT_EQ(D.edParamName->Text(), "p255");
    EXPECT_EQ(D.lbParamNames->ItemIndex(), 254);
    D.btnNew->Click();
    EXPECT_EQ(L->Count(), 255);

    // Reset: the list as the query text makes it.
    D.btnReset->Click();
    ASSERT_EQ(L->Count(), 3);
    EXPECT_EQ(D.lbParamNames->Items().GetCommaText(), "id,qty,note");
    EXPECT_EQ(D.lbParamNames->ItemIndex(), 0);

    // Deleting everything leaves nothing to edit.
    for (int I = 0; I < 3; ++I) D.btnDelete->Click();
    EXPECT_EQ(L->Count(), 0);
    EXPECT_EQ(D.Selected(), nullptr);
    EXPECT_FALSE(D.edParamName->Enabled);
    EXPECT_FALSE(D.edParamValue->Enabled);
    EXPECT_FALSE(D.cbNull->Enabled);
    D.btnHelp->Click();
    EXPECT_EQ(Application->LastHelpTopic(), "Params_Property");
    D.btnOK->Click();
  });
  EXPECT_EQ(DS->GetParamsCount(), 0);
}

TEST_F(EditorsTest, TheProcedureDialogEditsTypesAndOnlyUnnamedProceduresGrow) {
  TZyloParams L;
  L.CreateParam("total")->SetParamType(zptOutput);
  L.CreateParam("id")->SetParamType(zptInput);
  {
    TZyloProcParamsDlg D(nullptr);
    D.SetProcParams(&L, "order_total");
    EXPECT_EQ(D.Caption, "order_total Parameters");
    EXPECT_FALSE(D.btnReset->Visible);
    EXPECT_FALSE(D.btnNew->Enabled);
    EXPECT_FALSE(D.btnDelete->Enabled);
    EXPECT_EQ(D.cbParamType->Text(), "Output");
    EXPECT_FALSE(D.edParamValue->Enabled);
    EXPECT_FALSE(D.cbNull->Enabled);
    D.cbParamType->Pick(1);  // Input/Output
    EXPECT_EQ(L.Items(0)->GetParamType(), zptInputOutput);
    EXPECT_TRUE(D.edParamValue->Enabled);
    D.lbParamNames->Pick(1);
    EXPECT_EQ(D.cbParamType->Text(), "Input");
    D.btnNew->Click();
    EXPECT_EQ(L.Count(), 2);
  }
  TZyloProcParamsDlg D(nullptr);
  D.SetProcParams(&L, "  ");
  EXPECT_TRUE(D.btnNew->Enabled);
  D.btnNew->Click();
  EXPECT_EQ(L.Count(), 3);
  EXPECT_EQ(L.Items(2)->GetName(), "p3");
  EXPECT_FALSE(D.edParamValue->Enabled) << "a parameter without a direction takes no value";
  D.btnDelete->Click();
  EXPECT_EQ(L.Count(), 2);
  // Edits go to the list itself; cancelling keeps them (the caller discards the copy).
  D.CancelEdits();
  EXPECT_EQ(L.Items(0)->GetParamType(), zptInputOutput);
}

TEST_F(EditorsTest, FileAndDirectoryEditors) {
  auto* S = new TAsaSession(Root);
  S->SetName("Session1");
  S->SetLoginDatabase("/old/place.db");
  std::filesystem::path Tmp = std::filesystem::temp_directory_path() / ("zyl-design-" + std::to_string(getpid()));
  std::filesystem::create_directories(Tmp);
  std::string Lib = (Tmp / "libdblib10.so").string();
  { TFileStream F(Lib, fmCreate); }
  TOpenDialog* Seen = nullptr;
  TOpenOptions Options;
  AnsiString Filter, Start;
  TPickFile Pick([&](TOpenDialog& D) {
    Seen = &D;
    Options = D.Options;
    Filter = D.Filter;
    Start = D.FileName;
    D.FileName = Lib;
    return true;
  });
  ASSERT_TRUE(Designer->EditProperty(S, "LibraryFile"));
  EXPECT_EQ(S->GetLibraryFile(), "libdblib10.so") << "the library is kept without its directory";
  EXPECT_EQ(Start, "dblib7.dll");
  EXPECT_TRUE(Options.Contains(ofNoChangeDir) && Options.Contains(ofPathMustExist) && Options.Contains(ofFileMustExist));
  ASSERT_NE(Seen, nullptr);

  // The dialog confirms only an existing file; the database keeps its full path.
  std::string Db = (Tmp / "zyl-design-editor.db").string();
  { TFileStream F(Db, fmCreate); }
  TPickFile PickDb([&](TOpenDialog& D) {
    Filter = D.Filter;
    Start = D.FileName;
    D.FileName = Db;
    return true;
  });
  ASSERT_TRUE(Designer->EditProperty(S, "LoginDatabase"));
  std::filesystem::remove_all(Tmp);
  EXPECT_EQ(Start, "/old/place.db");
  EXPECT_EQ(Filter, "Databases (*.db)|*.db|All Files (*.*)|*.*");
  EXPECT_EQ(S->GetLoginDatabase(), Db);
  int Modified = Designer->ModifiedCount();
  TPickFile Cancel([](TOpenDialog&) { return false; });
  Designer->EditProperty(S, "LoginDatabase");
  EXPECT_EQ(S->GetLoginDatabase(), Db);
  EXPECT_EQ(Designer->ModifiedCount(), Modified);

  // The directory dialog starts at the value, or at the root when that does not exist.
  S->SetLibraryPath("/no/such/directory");
  AnsiString Shown;
  {
    TUser User([&](TCustomForm& F) {
      auto& D = dynamic_cast<TZyloPathDialog&>(F);
      Shown = D.dlDirList->Directory();
      D.dlDirList->SetDirectory(Tmp.parent_path().string());
      EXPECT_EQ(D.edPath->Text(), D.dlDirList->Directory());
      D.btnOK->Click();
    });
    ASSERT_TRUE(Designer->EditProperty(S, "LibraryPath"));
  }
  EXPECT_EQ(Shown, "/");
  EXPECT_EQ(S->GetLibraryPath(), Tmp.parent_path().lexically_normal().string());
  {
    TUser User([&](TCustomForm& F) {
      auto& D = dynamic_cast<TZyloPathDialog&>(F);
      Shown = D.dlDirList->Directory();
      D.edPath->TypeText("/typed/by/hand");
      D.btnCancel->Click();
    });
    Designer->EditProperty(S, "LibraryPath");
  }
  EXPECT_EQ(Shown, S->GetLibraryPath());
  EXPECT_NE(S->GetLibraryPath(), "/typed/by/hand");
}

TEST_F(EditorsTest, RegistrationsAreFoundAsAnEnvironmentLooksThemUp) {
  std::vector<std::string> Palette;
  for (const TMetaClass* C : PaletteComponents("Zylobase")) Palette.push_back(C->ClassName());
  EXPECT_EQ(Palette, (std::vector<std::string>{"TAsaSession", "TAsaSQL", "TAsaDataset", "TAsaStoredProc", "TAsaLogin", "TAsaAlert"}));

  auto* S = new TAsaSession(Root);
  auto* Login = new TAsaLogin(Root);
  Login->SetSession(S);
  EXPECT_TRUE(dynamic_cast<TZyloLibFileProperty*>(Designer->GetPropertyEditor({S}, "LibraryFile").get()));
  EXPECT_TRUE(dynamic_cast<TZyloPathProperty*>(Designer->GetPropertyEditor({S}, "LibraryPath").get()));
  EXPECT_TRUE(dynamic_cast<TZyloDBFileProperty*>(Designer->GetPropertyEditor({S}, "LoginDatabase").get()));
  EXPECT_FALSE(dynamic_cast<TZyloFileProperty*>(Designer->GetPropertyEditor({S}, "LoginUser").get()));
  auto Params = Designer->GetPropertyEditor({DS}, "Params");
  ASSERT_TRUE(dynamic_cast<TZyloParamsProperty*>(Params.get()));
  EXPECT_TRUE(Params->GetAttributes().Contains(paDialog));
  EXPECT_EQ(Params->GetValue(), "(TZyloParams)");

  auto* Proc = new TAsaStoredProc(Root);
  auto Name = Designer->GetPropertyEditor({Proc}, "StoredProcName");
  ASSERT_TRUE(dynamic_cast<TAsaStoredProcNameProperty*>(Name.get()));
  EXPECT_TRUE(Name->GetAttributes().Contains(paValueList) && Name->GetAttributes().Contains(paSortList));
  EXPECT_THROW(Name->ValueList(), Exception) << "no session: the error reaches the environment";
  EXPECT_TRUE(dynamic_cast<TZyloProcParamsProperty*>(Designer->GetPropertyEditor({Proc}, "Params").get()));

  // The session's editor: the about box naming the server.
  auto SessionEditor = Designer->GetComponentEditor(S);
  ASSERT_TRUE(dynamic_cast<TAsaAboutComponentEditor*>(SessionEditor.get()));
  ASSERT_EQ(SessionEditor->GetVerbCount(), 1);
  AnsiString Server;
  {
    TUser User([&](TCustomForm& F) {
      Server = dynamic_cast<TZyloAboutBox&>(F).lblServer->Caption;
      F.PressEnter();
    });
    SessionEditor->Edit();
    EXPECT_EQ(User.Runs, 1);
  }
  EXPECT_EQ(Server, "for Sybase SQL Anywhere");

  // The login's editor runs the login dialog, then reports the form modified.
  auto LoginEditor = Designer->GetComponentEditor(Login);
  ASSERT_TRUE(dynamic_cast<TAsaLoginComponentEditor*>(LoginEditor.get()));
  EXPECT_EQ(LoginEditor->GetVerb(0), "&Login...");
  {
    TUser User([](TCustomForm& F) { dynamic_cast<TAsaLoginForm&>(F).btnCancel->Click(); });
    LoginEditor->ExecuteVerb(0);
    EXPECT_EQ(User.Runs, 1);
  }
  EXPECT_EQ(Designer->ModifiedCount(), 1);
  EXPECT_FALSE(S->GetConnected());
}

}  // namespace
