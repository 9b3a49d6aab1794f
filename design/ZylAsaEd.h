// ZylAsaEd: the design-time side of the SQL Anywhere package — ZylSaRegister puts its components
// on the palette page "Zylobase" (in the order of their units: session and statement, data sets,
// login, alert) and registers the editors that apply to them:
//   TAsaSession.LibraryFile    TZyloLibFileProperty
//   TAsaSession.LibraryPath    TZyloPathProperty
//   TAsaSession.LoginDatabase  TZyloDBFileProperty
//   TAsaSession                TAsaAboutComponentEditor (the about box naming the server)
//   TAsaLogin                  TAsaLoginComponentEditor ("&Login...": runs the login dialog)
//   TAsaStoredProc.StoredProcName  TAsaStoredProcNameProperty (the procedures of its database)
// Nothing here runs in an application at run time.
#pragma once
#pragma GCC visibility push(default)

#include "design/ZylAbout.h"
#include "host/Design.h"

class TAsaAboutComponentEditor : public TZyloAboutComponentEditor {
 public:
  using TZyloAboutComponentEditor::TZyloAboutComponentEditor;

 protected:
  AnsiString ServerName() const override { return "Sybase SQL Anywhere"; }
};

class TAsaLoginComponentEditor : public TComponentEditor {
 public:
  using TComponentEditor::TComponentEditor;
  int GetVerbCount() override { return 1; }
  AnsiString GetVerb(int Index) override { return Index == 0 ? "&Login..." : AnsiString(); }
  // Runs the login dialog of the edited TAsaLogin, then reports the form modified.
  void ExecuteVerb(int Index) override;
};

// The procedures of the database the (first selected) stored procedure's session reaches, as
// "owner.name", for a drop-down list. Errors (a session that cannot connect) reach the caller.
class TAsaStoredProcNameProperty : public TPropertyEditor {
 public:
  using TPropertyEditor::TPropertyEditor;
  TPropertyAttributes GetAttributes() override { return {paValueList, paMultiSelect, paSortList}; }
  void GetValues(const TGetStrProc& Proc) override;
};

// What the package does when the environment loads it.
void ZylSaRegister();
#pragma GCC visibility pop
