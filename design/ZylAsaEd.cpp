// ZylAsaEd: registration of the SQL Anywhere components and their editors.
#include "design/ZylAsaEd.h"

#include "asa/ZylAsa.h"
#include "components/ZylAlert.h"
#include "components/ZylAsaDS.h"
#include "components/ZylAsaLg.h"
#include "design/ZylFileEd.h"

void TAsaLoginComponentEditor::ExecuteVerb(int Index) {
  if (Index != 0) return;
  if (auto* Login = dynamic_cast<TAsaLogin*>(Component())) {
    Login->Execute();
    if (Designer()) Designer()->Modified();
  }
}

void ZylSaRegister() {
  // Unit by unit, as each unit registers its own components.
  RegisterComponents("Zylobase", {&TAsaSession::StaticClass(), &TAsaSQL::StaticClass()});
  RegisterComponents("Zylobase", {&TAsaDataset::StaticClass()});
  RegisterComponents("Zylobase", {&TAsaLogin::StaticClass()});
  RegisterComponents("Zylobase", {&TAsaAlert::StaticClass()});

  const TMetaClass* Session = &TAsaSession::StaticClass();
  RegisterPropertyEditor("AnsiString", Session, "LibraryFile", PropertyEditorOf<TZyloLibFileProperty>());
  RegisterPropertyEditor("AnsiString", Session, "LibraryPath", PropertyEditorOf<TZyloPathProperty>());
  RegisterPropertyEditor("AnsiString", Session, "LoginDatabase", PropertyEditorOf<TZyloDBFileProperty>());
  RegisterComponentEditor(Session, ComponentEditorOf<TAsaAboutComponentEditor>());
  RegisterComponentEditor(&TAsaLogin::StaticClass(), ComponentEditorOf<TAsaLoginComponentEditor>());
}
