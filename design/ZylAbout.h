// ZylAbout: the about box of the components, and the component editor whose one verb opens it.
// A binding's editor names its server in the box (ServerName).
#pragma once
#pragma GCC visibility push(default)

#include "host/Design.h"
#include "host/Forms.h"

// The version of the libraries, as the about box and the installed package files give it.
extern const char* const ZylVersionText;

class TZyloAboutBox : public TForm {
 public:
  explicit TZyloAboutBox(TComponent* AOwner);
  // Fills in the server line ("for <server>"; blank hides it).
  void SetServerName(const AnsiString& Value);

  TLabel* lblProduct;
  TLabel* lblVersion;
  TLabel* lblServer;
  TLabel* lblCopyright;
  TButton* btnOK;
};

class TZyloAboutComponentEditor : public TComponentEditor {
 public:
  using TComponentEditor::TComponentEditor;
  int GetVerbCount() override { return 1; }
  AnsiString GetVerb(int Index) override;
  void ExecuteVerb(int Index) override;

 protected:
  // Shows the box modally and frees it.
  void ShowAboutBox(const AnsiString& ServerName);
  virtual AnsiString ServerName() const { return {}; }
};
#pragma GCC visibility pop
