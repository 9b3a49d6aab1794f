// ZylFileEd: the file and directory property editors and the directory dialog.
#include "design/ZylFileEd.h"

#include <memory>

#include "design/ZylForms.h"
#include "host/Dialogs.h"

void TZyloFileProperty::Edit() {
  std::unique_ptr<TOpenDialog> Dialog(new TOpenDialog(Application));
  Dialog->FileName = GetValue();
  Dialog->Filter = Filter();
  Dialog->Options.Include(ofNoChangeDir).Include(ofPathMustExist).Include(ofFileMustExist);
  if (Dialog->Execute()) SetValue(Chosen(Dialog->FileName));
}

AnsiString TZyloDBFileProperty::Filter() const { return "Databases (*.db)|*.db|All Files (*.*)|*.*"; }

// The client libraries of this platform are shared objects; a name ending in ".dll" is still
// what stored forms hold, and the loader maps it to its shared object.
AnsiString TZyloLibFileProperty::Filter() const {
  return "Library Files (*.dll;*.so)|*.dll;*.so|All Files (*.*)|*.*";
}

AnsiString TZyloLibFileProperty::Chosen(const AnsiString& FileName) const { return ExtractFileName(FileName); }

// ---------------------------------------------------------------------------

TZyloPathDialog::TZyloPathDialog(TComponent* AOwner) : TForm(AOwner) {
  SetName("ZyloPathDialog");
  Caption = "Select Directory";
  BorderStyle = bsDialog;
  Position = poScreenCenter;
  SetClientSize(297, 289);
  edPath = ZylMakeControl<TEdit>(this, this, "edPath", 8, 24, 281, 21);
  edPath->SetTabOrder(0);
  ZylMakeLabel(this, this, "lblPath", "&Path:", 8, 8, edPath);
  dlDirList = ZylMakeControl<TDirectoryListBox>(this, this, "dlDirList", 8, 56, 281, 161);
  dlDirList->SetTabOrder(1);
  dcDrive = ZylMakeControl<TDriveComboBox>(this, this, "dcDrive", 8, 224, 281, 21);
  dcDrive->SetTabOrder(2);
  dcDrive->DirList = dlDirList;
  btnOK = ZylMakeButton(this, this, "btnOK", "OK", 134, 256, mrOk);
  btnOK->Default = true;
  btnOK->SetTabOrder(3);
  btnCancel = ZylMakeButton(this, this, "btnCancel", "Cancel", 214, 256, mrCancel);
  btnCancel->Cancel = true;
  btnCancel->SetTabOrder(4);

  dlDirList->OnChange = [this](TObject*) { edPath->SetText(dlDirList->Directory()); };
  edPath->OnChange = [this](TObject*) { FPath = edPath->Text(); };
}

void TZyloPathDialog::SetInitialPath(const AnsiString& Value) {
  if (Trim(Value).empty()) return;
  AnsiString Dir = ExtractFileDir(Value);
  if (!Dir.empty()) dcDrive->SetDrive(Dir[0]);
  try {
    dlDirList->SetDirectory(Value);
  } catch (const EFOpenError&) {
    dlDirList->SetDirectory("\\");
  }
}

void TZyloPathProperty::Edit() {
  std::unique_ptr<TZyloPathDialog> Dialog(new TZyloPathDialog(Application));
  Dialog->SetInitialPath(GetValue());
  if (Dialog->ShowModal() == mrOk) SetValue(Dialog->Path());
}
