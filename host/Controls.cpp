// Controls: parent/child bookkeeping, tab order and focus, and what each control
// does when a user acts on it.
#include "host/Controls.h"

#include <algorithm>
#include <filesystem>

#include "host/Forms.h"

TControl::TControl(TComponent* AOwner) : TComponent(AOwner) {}

TControl::~TControl() { SetParent(nullptr); }

void TControl::SetParent(TWinControl* Value) {
  if (Value == FParent) return;
  for (TWinControl* P = Value; P; P = P->Parent())
    if (P == this) throw EInvalidOperation("A control cannot be its own parent");
  if (FParent) FParent->RemoveControl(this);
  FParent = Value;
  if (FParent) FParent->InsertControl(this);
}

TCustomForm* TControl::ParentForm() const {
  const TControl* C = this;
  while (C) {
    if (auto* F = dynamic_cast<const TCustomForm*>(C)) return const_cast<TCustomForm*>(F);
    C = C->Parent();
  }
  return nullptr;
}

void TControl::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
  Left = ALeft;
  Top = ATop;
  Width = AWidth;
  Height = AHeight;
}

bool TControl::Showing() const {
  for (const TControl* C = this; C; C = C->Parent())
    if (!C->Visible) return false;
  return true;
}

bool TControl::IsEnabled() const {
  for (const TControl* C = this; C; C = C->Parent())
    if (!C->Enabled) return false;
  return true;
}

void TControl::Click() {
  if (IsEnabled() && OnClick) OnClick(this);
}

// ---------------------------------------------------------------------------

TWinControl::~TWinControl() {
  for (TControl* C : std::vector<TControl*>(FControls)) C->SetParent(nullptr);
  if (TCustomForm* F = ParentForm())
    if (F->FActiveControl == this) F->FActiveControl = nullptr;
}

void TWinControl::InsertControl(TControl* Control) {
  FControls.push_back(Control);
  if (auto* W = dynamic_cast<TWinControl*>(Control)) {
    int Count = 0;
    for (TControl* C : FControls)
      if (C != Control && dynamic_cast<TWinControl*>(C)) ++Count;
    W->FTabOrder = Count;
  }
}

void TWinControl::RemoveControl(TControl* Control) {
  FControls.erase(std::remove(FControls.begin(), FControls.end(), Control), FControls.end());
  if (auto* W = dynamic_cast<TWinControl*>(Control)) {
    for (TControl* C : FControls)
      if (auto* S = dynamic_cast<TWinControl*>(C))
        if (S->FTabOrder > W->FTabOrder) --S->FTabOrder;
    W->FTabOrder = -1;
  }
  if (TCustomForm* F = ParentForm())
    if (F->FActiveControl == Control) F->FActiveControl = nullptr;
}

void TWinControl::SetTabOrder(int Value) {
  if (!Parent()) {
    FTabOrder = Value;
    return;
  }
  std::vector<TWinControl*> Siblings;
  for (TControl* C : Parent()->FControls)
    if (auto* W = dynamic_cast<TWinControl*>(C); W && W != this) Siblings.push_back(W);
  std::sort(Siblings.begin(), Siblings.end(), [](auto* A, auto* B) { return A->FTabOrder < B->FTabOrder; });
  Value = std::clamp(Value, 0, static_cast<int>(Siblings.size()));
  Siblings.insert(Siblings.begin() + Value, this);
  for (size_t I = 0; I < Siblings.size(); ++I) Siblings[I]->FTabOrder = static_cast<int>(I);
}

bool TWinControl::CanFocus() const { return Showing() && IsEnabled(); }

void TWinControl::SetFocus() {
  TCustomForm* F = ParentForm();
  if (!F || !CanFocus()) throw EInvalidOperation("Cannot focus a disabled or invisible window");
  F->SetActiveControl(this);
}

bool TWinControl::Focused() const {
  TCustomForm* F = ParentForm();
  return F && F->ActiveControl() == this;
}

void TWinControl::GetTabOrderList(std::vector<TWinControl*>& List) const {
  std::vector<TWinControl*> Children;
  for (TControl* C : FControls)
    if (auto* W = dynamic_cast<TWinControl*>(C)) Children.push_back(W);
  std::stable_sort(Children.begin(), Children.end(), [](auto* A, auto* B) { return A->FTabOrder < B->FTabOrder; });
  for (TWinControl* W : Children) {
    List.push_back(W);
    W->GetTabOrderList(List);
  }
}

// ---------------------------------------------------------------------------

void TEdit::SetText(const AnsiString& Value) {
  if (Value == FText) return;
  FText = Value;
  if (OnChange) OnChange(this);
}

AnsiString TEdit::DisplayText() const {
  return PasswordChar ? AnsiString(FText.size(), PasswordChar) : FText;
}

void TEdit::TypeText(const AnsiString& Value) {
  if (ReadOnly || !IsEnabled()) return;
  SetText(MaxLength > 0 && static_cast<int>(Value.size()) > MaxLength ? Value.substr(0, MaxLength) : Value);
}

void TButton::Click() {
  if (!IsEnabled()) return;
  TControl::Click();
  if (ModalResult != mrNone)
    if (TCustomForm* F = ParentForm()) F->SetModalResult(ModalResult);
}

void TCheckBox::Click() {
  if (!IsEnabled()) return;
  FChecked = !FChecked;
  TControl::Click();
}

TItemsControl::TItemsControl(TComponent* AOwner) : TWinControl(AOwner), FItems(std::make_unique<TStringList>()) {}

int TItemsControl::ItemIndex() const { return FItemIndex < FItems->Count() ? FItemIndex : -1; }

void TItemsControl::SetItemIndex(int Value) {
  if (Value < -1 || Value >= FItems->Count()) throw EListError(Format("List index out of bounds (%d)", Value));
  FItemIndex = Value;
}

void TItemsControl::Pick(int Index) {
  if (!IsEnabled()) return;
  SetItemIndex(Index);
  if (OnChange) OnChange(this);
}

AnsiString TComboBox::Text() const {
  if (Style == csDropDownList || FText.empty()) {
    int I = ItemIndex();
    return I >= 0 ? FItems->Strings(I) : (Style == csDropDownList ? AnsiString() : FText);
  }
  return FText;
}

void TComboBox::SetText(const AnsiString& Value) {
  int I = FItems->IndexOf(Value);
  if (Style == csDropDownList) {
    FItemIndex = I;  // a text that is no item leaves nothing selected
    FText.clear();
    return;
  }
  FItemIndex = I;
  FText = Value;
}

void TComboBox::Pick(int Index) {
  FText.clear();
  TItemsControl::Pick(Index);
}

void TListBox::Pick(int Index) {
  if (!IsEnabled()) return;
  SetItemIndex(Index);
  TControl::Click();
  if (OnChange) OnChange(this);
}

// ---------------------------------------------------------------------------

void TDriveComboBox::SetDrive(char Value) {
  // Every path of this platform lies on the one root; any letter names it.
  FDrive = '/';
  if (DirList) DirList->SetDirectory("/");
  if (OnChange) OnChange(this);
}

void TDirectoryListBox::SetDirectory(const AnsiString& Value) {
  // Paths written with backslashes (stored forms from other systems) name the same
  // directories with this platform's delimiter; "\\" alone is the root.
  AnsiString Path = Value.empty() ? AnsiString("/") : Value;
  std::replace(Path.begin(), Path.end(), '\\', '/');
  std::error_code Ec;
  std::filesystem::path P = std::filesystem::absolute(std::filesystem::path(Path), Ec);
  if (Ec || !std::filesystem::is_directory(P, Ec))
    throw EFOpenError(Format("Directory '%s' does not exist", Value));
  AnsiString Dir = P.lexically_normal().string();
  if (Dir.size() > 1 && Dir.back() == '/') Dir.pop_back();
  FDirectory = Dir;
  if (DirLabel) DirLabel->SetText(FDirectory);
  if (OnChange) OnChange(this);
}

std::vector<AnsiString> TDirectoryListBox::SubDirectories() const {
  std::vector<AnsiString> Result;
  std::error_code Ec;
  for (auto It = std::filesystem::directory_iterator(FDirectory, Ec); !Ec && It != std::filesystem::directory_iterator();
       It.increment(Ec))
    if (It->is_directory(Ec)) Result.push_back(It->path().filename().string());
  std::sort(Result.begin(), Result.end());
  return Result;
}
