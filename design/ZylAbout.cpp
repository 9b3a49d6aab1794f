// ZylAbout: the about box and its component editor.
#include "design/ZylAbout.h"

#include <memory>

#include "design/ZylForms.h"

#ifndef ZYL_VERSION
#define ZYL_VERSION "1.0.0"
#endif
const char* const ZylVersionText = ZYL_VERSION;

TZyloAboutBox::TZyloAboutBox(TComponent* AOwner) : TForm(AOwner) {
  SetName("ZyloAboutBox");
  Caption = "About Zylobase";
  BorderStyle = bsDialog;
  Position = poScreenCenter;
  SetClientSize(289, 153);
  lblProduct = ZylMakeLabel(this, this, "lblProduct", "Zylobase data-access components", 16, 16);
  lblVersion = ZylMakeLabel(this, this, "lblVersion", "", 16, 40);
  lblVersion->Caption = AnsiString("Version ") + ZylVersionText;
  lblServer = ZylMakeLabel(this, this, "lblServer", "", 16, 64);
  lblServer->Visible = false;
  lblCopyright = ZylMakeLabel(this, this, "lblCopyright", "Direct access through the embedded-SQL client library",
                              16, 88);
  btnOK = ZylMakeButton(this, this, "btnOK", "OK", 107, 120, mrOk);
  btnOK->Default = true;
  btnOK->Cancel = true;
  btnOK->SetTabOrder(0);
}

void TZyloAboutBox::SetServerName(const AnsiString& Value) {
  lblServer->Caption = Trim(Value).empty() ? AnsiString() : "for " + Value;
  lblServer->Visible = !lblServer->Caption.empty();
}

AnsiString TZyloAboutComponentEditor::GetVerb(int Index) { return Index == 0 ? "&About Zylobase..." : AnsiString(); }

void TZyloAboutComponentEditor::ExecuteVerb(int Index) {
  if (Index == 0) ShowAboutBox(ServerName());
}

void TZyloAboutComponentEditor::ShowAboutBox(const AnsiString& ServerName) {
  std::unique_ptr<TZyloAboutBox> Box(new TZyloAboutBox(Application));
  Box->SetServerName(ServerName);
  Box->ShowModal();
}
