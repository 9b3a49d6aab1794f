// Forms: modal runs, focus movement, the screen's lists and the application's
// exception handler.
#include "host/Forms.h"

#include <algorithm>
#include <cstdio>

#include "host/DB.h"
#include "host/Platform.h"
#include "host/Threads.h"

namespace {
TModalRunner& Runner() {
  static TModalRunner R;
  return R;
}
}  // namespace

TApplication* Application = new TApplication(nullptr);
TScreen* Screen = new TScreen(nullptr);

TModalRunner SetModalRunner(TModalRunner NewRunner) {
  TModalRunner Old = std::move(Runner());
  Runner() = std::move(NewRunner);
  return Old;
}

TCustomForm::TCustomForm(TComponent* AOwner) : TWinControl(AOwner) {
  Visible = false;
  if (Screen) Screen->FForms.push_back(this);
}

TCustomForm::~TCustomForm() {
  if (OnDestroy) {
    try {
      OnDestroy(this);
    } catch (...) {
      // a destructor must not throw; the handler's failure is shown instead
      if (Application) Application->HandleException(this);
    }
  }
  if (Screen) {
    auto& L = Screen->FForms;
    L.erase(std::remove(L.begin(), L.end(), this), L.end());
  }
  FActiveControl = nullptr;
}

void TCustomForm::SetActiveControl(TWinControl* Control) {
  if (Control == FActiveControl) return;
  if (Control && Control->ParentForm() != this) throw EInvalidOperation("The control is not on this form");
  TWinControl* Old = FActiveControl;
  FActiveControl = Control;
  if (Old) Old->DoExit();
  if (Control) Control->DoEnter();
}

void TCustomForm::SelectNext(bool GoForward) {
  std::vector<TWinControl*> List;
  GetTabOrderList(List);
  std::vector<TWinControl*> Focusable;
  for (TWinControl* W : List)
    if (W->TabStop && W->CanFocus()) Focusable.push_back(W);
  if (Focusable.empty()) return;
  auto It = std::find(Focusable.begin(), Focusable.end(), FActiveControl);
  if (It == Focusable.end()) {
    SetActiveControl(GoForward ? Focusable.front() : Focusable.back());
    return;
  }
  size_t I = static_cast<size_t>(It - Focusable.begin());
  size_t N = Focusable.size();
  SetActiveControl(Focusable[GoForward ? (I + 1) % N : (I + N - 1) % N]);
}

namespace {
TButton* FindButton(const TWinControl& Root, bool Default) {
  std::vector<TWinControl*> List;
  Root.GetTabOrderList(List);
  for (TWinControl* W : List)
    if (auto* B = dynamic_cast<TButton*>(W))
      if ((Default ? B->Default : B->Cancel) && B->Showing() && B->IsEnabled()) return B;
  return nullptr;
}
}  // namespace

bool TCustomForm::PressEnter() {
  if (TButton* B = FindButton(*this, true)) {
    B->Click();
    return true;
  }
  return false;
}

bool TCustomForm::PressEscape() {
  if (TButton* B = FindButton(*this, false)) {
    B->Click();
    return true;
  }
  return false;
}

bool TCustomForm::CloseQuery() {
  bool CanClose = true;
  if (OnCloseQuery) OnCloseQuery(this, CanClose);
  return CanClose;
}

void TCustomForm::Close() {
  if (FModal) {
    FModalResult = mrCancel;
    return;
  }
  if (!CloseQuery()) return;
  TCloseAction Action = caHide;
  if (OnClose) OnClose(this, Action);
  if (Action != caNone) Hide();
}

TModalResult TCustomForm::ShowModal() {
  if (FModal || Visible) throw EInvalidOperation("Cannot make a visible window modal");
  FModal = true;
  FModalResult = mrNone;
  Visible = true;
  try {
    DoShow();
    if (!FActiveControl) SelectNext(true);
    // Ask the runner until the form accepts to close; a runner that leaves without
    // an answer closes the window (mrCancel).
    for (int Round = 0;; ++Round) {
      if (FModalResult == mrNone && Runner()) Runner()(*this);
      if (FModalResult == mrNone) FModalResult = mrCancel;
      if (CloseQuery()) break;
      FModalResult = mrNone;
      if (Round > 1000) {  // a runner that never lets the form close
        FModalResult = mrCancel;
        break;
      }
    }
    TCloseAction Action = caHide;
    if (OnClose) OnClose(this, Action);
  } catch (...) {
    Visible = false;
    FModal = false;
    throw;
  }
  Visible = false;
  FModal = false;
  return FModalResult;
}

// ---------------------------------------------------------------------------

const TMetaClass& TForm::StaticClass() {
  static const TMetaClass Meta("TForm", &TComponent::StaticClass(), TMetaClass::Factory<TForm>());
  return Meta;
}

const TMetaClass& TDataModule::StaticClass() {
  static const TMetaClass Meta("TDataModule", &TComponent::StaticClass(), TMetaClass::Factory<TDataModule>());
  return Meta;
}

TDataModule::TDataModule(TComponent* AOwner) : TComponent(AOwner) {
  if (Screen) Screen->FDataModules.push_back(this);
}

TDataModule::~TDataModule() {
  if (OnDestroy) {
    try {
      OnDestroy(this);
    } catch (...) {
      if (Application) Application->HandleException(this);
    }
  }
  if (Screen) {
    auto& L = Screen->FDataModules;
    L.erase(std::remove(L.begin(), L.end(), this), L.end());
  }
}

TCustomForm* TScreen::ActiveForm() const {
  for (auto It = FForms.rbegin(); It != FForms.rend(); ++It)
    if ((*It)->Modal()) return *It;
  for (auto It = FForms.rbegin(); It != FForms.rend(); ++It)
    if ((*It)->Visible) return *It;
  return nullptr;
}

// ---------------------------------------------------------------------------

void TApplication::HandleException(TObject* Sender) {
  std::exception_ptr Current = std::current_exception();
  if (!Current) return;
  try {
    std::rethrow_exception(Current);
  } catch (const EAbortOperation&) {
    // silent by design
  } catch (const std::exception& E) {
    if (OnException)
      OnException(Sender, E);
    else
      ShowException(E);
  } catch (...) {
    std::runtime_error Unknown("Unknown exception");
    if (OnException)
      OnException(Sender, Unknown);
    else
      ShowException(Unknown);
  }
}

void TApplication::ShowException(const std::exception& E) {
  MessageBoxA(nullptr, E.what(), Title.empty() ? "Error" : Title.c_str(), MB_OK | MB_ICONERROR);
}

void TApplication::ProcessMessages() { CheckSynchronize(0); }

bool TApplication::HelpJump(const AnsiString& Topic) {
  FLastHelpTopic = Topic;
  return false;
}

int TApplication::MessageBox(const AnsiString& Text, const AnsiString& Caption, unsigned Flags) {
  return MessageBoxA(nullptr, Text.c_str(), Caption.c_str(), Flags);
}
