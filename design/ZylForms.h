// ZylForms: laying out the editors' dialogs in code — a control created on its form, named,
// placed in its parent and sized, as a form designer would have stored it.
#pragma once
#pragma GCC visibility push(default)

#include "host/Controls.h"

template <class T>
T* ZylMakeControl(TComponent* Owner, TWinControl* Parent, const char* Name, int Left, int Top, int Width,
                  int Height) {
  T* C = new T(Owner);
  C->SetName(Name);
  C->SetParent(Parent);
  C->SetBounds(Left, Top, Width, Height);
  return C;
}

inline TButton* ZylMakeButton(TComponent* Owner, TWinControl* Parent, const char* Name, const char* Caption, int Left,
                              int Top, TModalResult Result = mrNone) {
  TButton* B = ZylMakeControl<TButton>(Owner, Parent, Name, Left, Top, 75, 25);
  B->Caption = Caption;
  B->ModalResult = Result;
  return B;
}

inline TLabel* ZylMakeLabel(TComponent* Owner, TWinControl* Parent, const char* Name, const char* Caption, int Left,
                            int Top, TWinControl* Focus = nullptr) {
  TLabel* L = ZylMakeControl<TLabel>(Owner, Parent, Name, Left, Top, 0, 13);
  L->Caption = Caption;
  L->FocusControl = Focus;
  return L;
}
#pragma GCC visibility pop
