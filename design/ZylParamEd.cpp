// ZylParamEd: the parameter-list dialogs and their property editors.
#include "design/ZylParamEd.h"

#include "design/ZylForms.h"

const char* const ZyloParamDataTypeNames[13] = {
    "ztUnknown", "ztString", "ztInteger", "ztInt64",   "ztFloat",  "ztCurrency", "ztDate",
    "ztTime",    "ztDateTime", "ztBoolean", "ztBinary", "ztMemo", "ztBlob"};

namespace {

// Item by item, each parameter itself: the list's own Assign resolves a repeated name to its
// first parameter, and a restored list must be exactly the one that came in.
void CopyList(TZyloParams& To, const TZyloParams& From) {
  To.Clear();
  for (int32_t I = 0; I < From.Count(); ++I) To.CreateParam()->AssignParam(From.Items(I));
}

}  // namespace

TZyloParamsDlg::TZyloParamsDlg(TComponent* AOwner) : TForm(AOwner), FBackup(std::make_unique<TZyloParams>()) {
  SetName("ZyloParamsDlg");
  BorderStyle = bsDialog;
  Position = poScreenCenter;
  SetClientSize(377, 265);

  lbParamNames = ZylMakeControl<TListBox>(this, this, "lbParamNames", 8, 24, 145, 193);
  lbParamNames->SetTabOrder(0);
  lblParamNames = ZylMakeLabel(this, this, "lblParamNames", "&Parameters:", 8, 8, lbParamNames);
  edParamName = ZylMakeControl<TEdit>(this, this, "edParamName", 168, 24, 201, 21);
  edParamName->SetTabOrder(1);
  lblParamName = ZylMakeLabel(this, this, "lblParamName", "N&ame:", 168, 8, edParamName);
  cbDataType = ZylMakeControl<TComboBox>(this, this, "cbDataType", 168, 72, 201, 21);
  cbDataType->Style = csDropDownList;
  for (const char* Name : ZyloParamDataTypeNames) cbDataType->Items().Add(Name);
  cbDataType->SetTabOrder(2);
  lblDataType = ZylMakeLabel(this, this, "lblDataType", "&Data type:", 168, 56, cbDataType);
  edParamValue = ZylMakeControl<TEdit>(this, this, "edParamValue", 168, 120, 201, 21);
  edParamValue->SetTabOrder(3);
  lblParamValue = ZylMakeLabel(this, this, "lblParamValue", "&Value:", 168, 104, edParamValue);
  cbNull = ZylMakeControl<TCheckBox>(this, this, "cbNull", 168, 148, 201, 17);
  cbNull->Caption = "&Null Value";
  cbNull->SetTabOrder(4);
  btnNew = ZylMakeButton(this, this, "btnNew", "New", 8, 228);
  btnNew->SetTabOrder(5);
  btnDelete = ZylMakeButton(this, this, "btnDelete", "Delete", 88, 228);
  btnDelete->SetTabOrder(6);
  btnReset = ZylMakeButton(this, this, "btnReset", "Reset", 168, 192);
  btnReset->SetTabOrder(7);
  btnOK = ZylMakeButton(this, this, "btnOK", "OK", 168, 228, mrOk);
  btnOK->Default = true;
  btnOK->SetTabOrder(8);
  btnCancel = ZylMakeButton(this, this, "btnCancel", "Cancel", 248, 228, mrCancel);
  btnCancel->Cancel = true;
  btnCancel->SetTabOrder(9);
  btnHelp = ZylMakeButton(this, this, "btnHelp", "&Help", 294, 192);
  btnHelp->SetTabOrder(10);

  lbParamNames->OnClick = [this](TObject*) {
    CommitValue();
    LoadParam();
  };
  edParamName->OnChange = [this](TObject*) { NameChange(); };
  cbDataType->OnChange = [this](TObject*) { DataTypeChange(); };
  edParamValue->OnEnter = [this](TObject*) { FEnteredValue = edParamValue->Text(); };
  edParamValue->OnExit = [this](TObject*) { CommitValue(); };
  cbNull->OnClick = [this](TObject*) { NullClick(); };
  btnNew->OnClick = [this](TObject*) { NewClick(); };
  btnDelete->OnClick = [this](TObject*) { DeleteClick(); };
  btnReset->OnClick = [this](TObject*) { ResetClick(); };
  btnHelp->OnClick = [](TObject*) {
    if (Application) Application->HelpJump("Params_Property");
  };
  // A value typed just before OK counts; anything but OK puts the list back as it came.
  OnClose = [this](TObject*, TCloseAction&) {
    if (ModalResult() == mrOk) CommitValue();
    else CancelEdits();
  };
  LoadParam();
}

TZyloParamsDlg::~TZyloParamsDlg() = default;

void TZyloParamsDlg::SetParams(TZyloParams* List) {
  FParams = List;
  FBackup->Clear();
  if (List && KeepsBackup()) CopyList(*FBackup, *List);
  FillNames();
  SelectParam(lbParamNames->Items().Count() > 0 ? 0 : -1);
}

void TZyloParamsDlg::CancelEdits() {
  if (FParams && KeepsBackup()) CopyList(*FParams, *FBackup);
}

TZyloParam* TZyloParamsDlg::Selected() const {
  int I = lbParamNames->ItemIndex();
  return FParams && I >= 0 && I < FParams->Count() ? FParams->Items(I) : nullptr;
}

void TZyloParamsDlg::FillNames() {
  TStrings& Items = lbParamNames->Items();
  Items.BeginUpdate();
  Items.Clear();
  if (FParams)
    for (int I = 0; I < FParams->Count(); ++I) Items.Add(FParams->Items(I)->GetName());
  Items.EndUpdate();
}

void TZyloParamsDlg::SelectParam(int Index) {
  lbParamNames->SetItemIndex(Index < lbParamNames->Items().Count() ? Index : -1);
  LoadParam();
}

void TZyloParamsDlg::LoadParam() {
  FLoading = true;
  TZyloParam* P = Selected();
  for (TWinControl* C : std::initializer_list<TWinControl*>{edParamName, cbDataType, edParamValue, cbNull})
    C->Enabled = P != nullptr;
  edParamName->SetText(P ? P->GetName() : AnsiString());
  cbDataType->SetItemIndex(P ? static_cast<int>(P->GetDataType()) : -1);
  // A parameter without a type has no value worth showing.
  edParamValue->SetText(P && P->GetDataType() != ztUnknown ? P->GetAsString() : AnsiString());
  FEnteredValue = edParamValue->Text();
  FValueParam = P;
  cbNull->SetChecked(P && P->GetIsNull());
  btnNew->Enabled = CanAddOrDelete();
  btnDelete->Enabled = CanAddOrDelete() && P != nullptr;
  FLoading = false;
}

void TZyloParamsDlg::CommitValue() {
  TZyloParam* P = FValueParam;
  if (FLoading || !P || !edParamValue->Enabled || edParamValue->Text() == FEnteredValue) return;
  P->SetText(edParamValue->Text());
  FEnteredValue = edParamValue->Text();
  FLoading = true;
  cbNull->SetChecked(false);
  FLoading = false;
}

void TZyloParamsDlg::NameChange() {
  TZyloParam* P = Selected();
  if (FLoading || !P) return;
  P->SetName(edParamName->Text());
  lbParamNames->Items().Put(lbParamNames->ItemIndex(), edParamName->Text());
}

void TZyloParamsDlg::DataTypeChange() {
  TZyloParam* P = Selected();
  int I = cbDataType->ItemIndex();
  if (FLoading || !P || I < 0) return;
  P->SetDataType(static_cast<TZyloParamDataType>(I));
  FLoading = true;
  edParamValue->SetText(AnsiString());
  FEnteredValue.clear();
  P->SetText(AnsiString());
  // Text on an untyped parameter makes it a string one: show what it became.
  cbDataType->SetItemIndex(static_cast<int>(P->GetDataType()));
  FLoading = false;
}

void TZyloParamsDlg::NullClick() {
  TZyloParam* P = Selected();
  if (FLoading || !P) return;
  if (cbNull->Checked()) P->Clear();
  else P->SetText(edParamValue->Text());
  FLoading = true;
  edParamValue->SetText(AnsiString());
  FEnteredValue.clear();
  FLoading = false;
}

void TZyloParamsDlg::NewClick() {
  if (!FParams || !CanAddOrDelete() || FParams->Count() >= ZyloMaxDialogParams) return;
  CommitValue();
  TZyloParam* P = FParams->CreateParam(Format("p%d", FParams->Count() + 1));
  lbParamNames->Items().Add(P->GetName());
  SelectParam(FParams->Count() - 1);
}

void TZyloParamsDlg::DeleteClick() {
  TZyloParam* P = Selected();
  if (!P || !CanAddOrDelete()) return;
  int I = lbParamNames->ItemIndex();
  FParams->RemoveParam(P);  // the parameter is freed here
  lbParamNames->Items().Delete(I);
  SelectParam(lbParamNames->Items().Count() > 0 ? 0 : -1);
}

void TZyloParamsDlg::ResetClick() {
  auto* D = FParams ? dynamic_cast<TZyloDataset*>(FParams->GetOwner()) : nullptr;
  if (!D) return;
  D->ResetParamsList();
  FillNames();
  SelectParam(lbParamNames->Items().Count() > 0 ? 0 : -1);
}

// ---------------------------------------------------------------------------

TZyloProcParamsDlg::TZyloProcParamsDlg(TComponent* AOwner) : TZyloParamsDlg(AOwner) {
  SetName("ZyloProcParamsDlg");
  cbParamType = ZylMakeControl<TComboBox>(this, this, "cbParamType", 168, 168, 201, 21);
  cbParamType->Style = csDropDownList;
  for (const char* Name : {"Input", "Input/Output", "Output", "Result"}) cbParamType->Items().Add(Name);
  cbParamType->SetTabOrder(5);
  lblParamType = ZylMakeLabel(this, this, "lblParamType", "Parameter &type:", 168, 152, cbParamType);
  cbNull->SetBounds(168, 196, 201, 17);
  btnReset->Visible = false;
  cbParamType->OnChange = [this](TObject*) {
    TZyloParam* P = Selected();
    if (FLoading || !P || cbParamType->ItemIndex() < 0) return;
    CommitValue();
    P->SetParamType(static_cast<TZyloParamType>(cbParamType->ItemIndex() + 1));
    LoadParam();
  };
  LoadParam();
}

void TZyloProcParamsDlg::SetProcParams(TZyloParams* List, const AnsiString& ProcName) {
  FProcName = ProcName;
  Caption = Trim(ProcName).empty() ? AnsiString("Parameters") : ProcName + " Parameters";
  SetParams(List);
}

void TZyloProcParamsDlg::LoadParam() {
  TZyloParamsDlg::LoadParam();
  FLoading = true;
  TZyloParam* P = Selected();
  int Type = P ? static_cast<int>(P->GetParamType()) : 0;
  cbParamType->Enabled = P != nullptr;
  cbParamType->SetItemIndex(Type >= zptInput && Type <= zptResult ? Type - 1 : -1);
  // Only what is sent to the server has a value to give.
  bool Input = P && (P->GetParamType() == zptInput || P->GetParamType() == zptInputOutput);
  edParamValue->Enabled = Input;
  cbNull->Enabled = Input;
  FLoading = false;
}

// ---------------------------------------------------------------------------

TZyloParams* TZyloParamsProperty::EditedList() const {
  const TPropInfo* Info = PropInfo();
  TObject* Value = Info && Info->GetObject && PropCount() > 0 ? Info->GetObject(*GetComponent(0)) : nullptr;
  auto* List = dynamic_cast<TZyloParams*>(Value);
  if (!List) throw EInvalidOperation(Format("Property '%s' is not a parameter list", GetName()));
  return List;
}

void TZyloParamsProperty::Edit() {
  TZyloParams* List = EditedList();
  std::unique_ptr<TZyloParamsDlg> Dialog(new TZyloParamsDlg(Application));
  auto* Owner = dynamic_cast<TComponent*>(GetComponent(0));
  Dialog->Caption = (Owner ? Owner->GetName() + "." : AnsiString()) + GetName() + " Parameters";
  Dialog->SetParams(List);
  TModalResult Result;
  try {
    Result = Dialog->ShowModal();
  } catch (...) {
    Dialog->CancelEdits();  // a run that failed half way leaves nothing behind
    throw;
  }
  if (Result == mrOk) Modified();
}

void TZyloProcParamsProperty::Edit() {
  auto* Proc = dynamic_cast<TZyloCustomStoredProc*>(PropCount() > 0 ? GetComponent(0) : nullptr);
  if (!Proc) throw EInvalidOperation(Format("Property '%s' is not the parameters of a stored procedure", GetName()));
  TZyloParams List;
  Proc->CopyParams(&List);
  std::unique_ptr<TZyloProcParamsDlg> Dialog(new TZyloProcParamsDlg(Application));
  Dialog->SetProcParams(&List, Proc->GetStoredProcName());
  if (Dialog->ShowModal() != mrOk) return;
  Proc->SetParamsList(&List);
  Modified();
}

void ZylPackRegister() {
  RegisterPropertyEditor("TZyloParams", &TZyloCustomDataset::StaticClass(), "Params",
                         PropertyEditorOf<TZyloParamsProperty>());
  RegisterPropertyEditor("TZyloParams", &TZyloCustomStoredProc::StaticClass(), "Params",
                         PropertyEditorOf<TZyloProcParamsProperty>());
}
