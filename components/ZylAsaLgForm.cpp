// ZylAsaLg: TAsaLoginForm — its controls as designed, showing and hiding the details, the
// version list and the database file dialog.
#include "components/ZylAsaLg.h"

const TAsaLoginVersion AsaLoginVersions[9] = {
    {"(Not listed)", nullptr},          {"Watcom SQL 3.2", "dbl30t.dll"},   {"Watcom SQL 4.0", "dbl40t.dll"},
    {"SQL Anywhere 5", "dbl50t.dll"},   {"SQL Anywhere 6", "dblib6.dll"},   {"SQL Anywhere 7", "dblib7.dll"},
    {"SQL Anywhere 8", "dblib8.dll"},   {"SQL Anywhere 9", "dblib9.dll"},   {"SQL Anywhere 10", "dblib10.dll"},
};

namespace {

// The designed heights: the whole form with and without the details, its client area (313 x 310)
// and so the frame, and the group box in both states.
constexpr int kFormHeightShown = 335;
constexpr int kFormHeightHidden = 151;
constexpr int kClientWidth = 313;
constexpr int kClientHeight = 310;
constexpr int kFrameHeight = kFormHeightShown - kClientHeight;
constexpr int kGroupHeightShown = 266;
constexpr int kGroupHeightHidden = 82;
constexpr int kButtonPanelHeight = 39;

template <class T>
T* Make(TComponent* Owner, TWinControl* Parent, const char* Name, int Left, int Top, int Width, int Height) {
  T* C = new T(Owner);
  C->SetName(Name);
  C->SetParent(Parent);
  C->SetBounds(Left, Top, Width, Height);
  return C;
}

TLabel* MakeLabel(TComponent* Owner, TWinControl* Parent, const char* Name, const char* Caption, int Left, int Top,
                  TWinControl* Focus) {
  TLabel* L = Make<TLabel>(Owner, Parent, Name, Left, Top, 0, 13);
  L->Caption = Caption;
  L->FocusControl = Focus;
  return L;
}

}  // namespace

TAsaLoginForm::TAsaLoginForm(TComponent* AOwner) : TForm(AOwner) {
  SetName("AsaLoginForm");
  Caption = "Sybase SQL Anywhere Login";
  BorderStyle = bsDialog;
  FormStyle = fsStayOnTop;
  Position = poScreenCenter;
  SetClientSize(kClientWidth, kClientHeight);

  gbLogin = Make<TGroupBox>(this, this, "gbLogin", 8, 3, 297, kGroupHeightShown);
  gbLogin->SetTabOrder(0);
  edUserID = Make<TEdit>(this, gbLogin, "edUserID", 96, 19, 185, 21);
  edUserID->SetTabOrder(0);
  lblUserID = MakeLabel(this, gbLogin, "lblUserID", "&User ID:", 16, 22, edUserID);
  edPassword = Make<TEdit>(this, gbLogin, "edPassword", 96, 47, 185, 21);
  edPassword->PasswordChar = '*';
  edPassword->SetTabOrder(1);
  lblPassword = MakeLabel(this, gbLogin, "lblPassword", "&Password:", 16, 49, edPassword);
  Bevel1 = Make<TBevel>(this, gbLogin, "Bevel1", 1, 72, 295, 9);
  Bevel1->Shape = bsBottomLine;

  pnlDatabaseParams = Make<TPanel>(this, gbLogin, "pnlDatabaseParams", 8, 88, 281, 169);
  pnlDatabaseParams->BevelOuter = bvNone;
  pnlDatabaseParams->SetTabOrder(2);
  TPanel* P = pnlDatabaseParams;
  cbVersion = Make<TComboBox>(this, P, "cbVersion", 88, 3, 185, 21);
  cbVersion->Style = csDropDownList;
  for (const TAsaLoginVersion& V : AsaLoginVersions) cbVersion->Items().Add(V.Caption);
  cbVersion->SetTabOrder(0);
  lblVersion = MakeLabel(this, P, "lblVersion", "&Version:", 8, 5, cbVersion);
  edServerName = Make<TEdit>(this, P, "edServerName", 88, 31, 185, 21);
  edServerName->SetTabOrder(1);
  lblServerName = MakeLabel(this, P, "lblServerName", "&Server name:", 8, 34, edServerName);
  edStartLine = Make<TEdit>(this, P, "edStartLine", 88, 60, 185, 21);
  edStartLine->SetTabOrder(2);
  lblStartLine = MakeLabel(this, P, "lblStartLine", "Sta&rt line:", 8, 63, edStartLine);
  edConnParams = Make<TEdit>(this, P, "edConnParams", 88, 88, 185, 21);
  edConnParams->SetTabOrder(3);
  lblConnParams = MakeLabel(this, P, "lblConnParams", "&Conn. params:", 8, 90, edConnParams);
  edDatabase = Make<TEdit>(this, P, "edDatabase", 88, 116, 185, 21);
  edDatabase->SetTabOrder(4);
  lblDatabase = MakeLabel(this, P, "lblDatabase", "&Database:", 8, 119, edDatabase);
  btnBrowse = Make<TButton>(this, P, "btnBrowse", 200, 145, 73, 23);
  btnBrowse->Caption = "&Browse...";
  btnBrowse->TabStop = false;
  btnBrowse->SetTabOrder(5);
  btnBrowse->OnClick = [this](TObject* Sender) { btnBrowseClick(Sender); };

  pnlButtons = Make<TPanel>(this, this, "pnlButtons", 0, kClientHeight - kButtonPanelHeight, kClientWidth,
                            kButtonPanelHeight);
  pnlButtons->Align = alBottom;
  pnlButtons->BevelOuter = bvNone;
  pnlButtons->SetTabOrder(1);
  btnOK = Make<TButton>(this, pnlButtons, "btnOK", 72, 7, 75, 23);
  btnOK->Caption = "OK";
  btnOK->Default = true;
  btnOK->ModalResult = mrOk;
  btnOK->SetTabOrder(0);
  btnCancel = Make<TButton>(this, pnlButtons, "btnCancel", 152, 7, 75, 23);
  btnCancel->Caption = "Cancel";
  btnCancel->Cancel = true;
  btnCancel->ModalResult = mrCancel;
  btnCancel->SetTabOrder(1);
  btnMore = Make<TButton>(this, pnlButtons, "btnMore", 232, 7, 75, 23);
  btnMore->Caption = "More >>";
  btnMore->SetTabOrder(2);
  btnMore->OnClick = [this](TObject* Sender) { btnMoreClick(Sender); };

  odDatabase = new TOpenDialog(this);
  odDatabase->SetName("odDatabase");
  odDatabase->Filter = "Databases (*.db)|*.db|All Files (*.*)|*.*";
  odDatabase->Options.Include(ofPathMustExist).Include(ofFileMustExist).Include(ofNoChangeDir);

  OnCreate = [this](TObject* Sender) { FormCreate(Sender); };
  OnShow = [this](TObject* Sender) { FormShow(Sender); };
  DoCreate();
}

void TAsaLoginForm::FormCreate(TObject*) {
  FDetailsShown = false;
  cbVersion->SetItemIndex(0);
}

void TAsaLoginForm::FormShow(TObject*) {
  SizeLoginForm(FDetailsShown);
  if (!FDetailsShown && !edUserID->Text().empty()) {
    // From the user id (the first control) on to the password.
    if (!ActiveControl()) SelectNext(true);
    SelectNext(true);
  }
}

void TAsaLoginForm::btnMoreClick(TObject*) {
  FDetailsShown = !FDetailsShown;
  btnMore->Caption = FDetailsShown ? "More <<" : "More >>";
  SizeLoginForm(FDetailsShown);
}

void TAsaLoginForm::btnBrowseClick(TObject*) {
  if (odDatabase->Execute()) edDatabase->SetText(odDatabase->FileName);
}

void TAsaLoginForm::SizeLoginForm(bool Shown) {
  pnlDatabaseParams->Visible = Shown;
  Bevel1->Visible = Shown;
  if (Shown) {
    Height = kFormHeightShown;
    gbLogin->Height = kGroupHeightShown;
  } else {
    gbLogin->Height = kGroupHeightHidden;
    Height = kFormHeightHidden;
  }
  PlaceButtonPanel();
}

void TAsaLoginForm::PlaceButtonPanel() {
  pnlButtons->SetBounds(0, Height - kFrameHeight - kButtonPanelHeight, Width, kButtonPanelHeight);
}

void TAsaLoginForm::SetVisibleMore(bool Visible) {
  btnMore->Visible = Visible;
  if (Visible) {
    btnOK->Left = 72;
    btnCancel->Left = 152;
  } else {
    btnOK->Left = 152;
    btnCancel->Left = btnMore->Left;
  }
}

AnsiString TAsaLoginForm::GetComboVendorLib(const AnsiString& Current) const {
  int I = cbVersion->ItemIndex();
  if (I <= 0 || I >= static_cast<int>(std::size(AsaLoginVersions))) return Current;
  return AsaLoginVersions[I].LibraryFile;
}

void TAsaLoginForm::SetComboVendorLib(const AnsiString& FileName) {
  cbVersion->SetItemIndex(0);
  for (int I = 1; I < static_cast<int>(std::size(AsaLoginVersions)); ++I)
    if (FileName == AsaLoginVersions[I].LibraryFile) cbVersion->SetItemIndex(I);
}
