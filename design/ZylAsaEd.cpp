// ZylAsaEd: registration of the SQL Anywhere components and their editors.
#include "design/ZylAsaEd.h"

#include <memory>

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

void TAsaStoredProcNameProperty::GetValues(const TGetStrProc& Proc) {
  auto* SP = dynamic_cast<TAsaCustomStoredProc*>(PropCount() > 0 ? GetComponent(0) : nullptr);
  std::unique_ptr<TAsaDataset> D(new TAsaDataset(nullptr));
  D->SetSession(SP ? SP->GetSession() : nullptr);
  D->GetSQL()->SetText(
      "select user_name, proc_name from sys.sysprocedure, sys.sysuserperms where creator=user_id order by 1,2");
  D->Open();
  for (D->First(); !D->Eof(); D->Next())
    Proc(TrimRight(D->FieldByName("user_name").GetAsString()) + "." +
         TrimRight(D->FieldByName("proc_name").GetAsString()));
  D->Close();
}

void ZylSaRegister() {
  // Unit by unit, as each unit registers its own components.
  RegisterComponents("Zylobase", {&TAsaSession::StaticClass(), &TAsaSQL::StaticClass()});
  RegisterComponents("Zylobase", {&TAsaDataset::StaticClass(), &TAsaStoredProc::StaticClass()});
  RegisterComponents("Zylobase", {&TAsaLogin::StaticClass()});
  RegisterComponents("Zylobase", {&TAsaAlert::StaticClass()});

  const TMetaClass* Session = &TAsaSession::StaticClass();
  RegisterPropertyEditor("AnsiString", Session, "LibraryFile", PropertyEditorOf<TZyloLibFileProperty>());
  RegisterPropertyEditor("AnsiString", Session, "LibraryPath", PropertyEditorOf<TZyloPathProperty>());
  RegisterPropertyEditor("AnsiString", Session, "LoginDatabase", PropertyEditorOf<TZyloDBFileProperty>());
  RegisterComponentEditor(Session, ComponentEditorOf<TAsaAboutComponentEditor>());
  RegisterComponentEditor(&TAsaLogin::StaticClass(), ComponentEditorOf<TAsaLoginComponentEditor>());
  RegisterPropertyEditor("AnsiString", &TAsaStoredProc::StaticClass(), "StoredProcName",
                         PropertyEditorOf<TAsaStoredProcNameProperty>());
}
