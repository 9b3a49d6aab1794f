// ZylFileEd: the string-property editors that pick a file or a directory — a database file
// (stored with its full path), a client library (stored without its directory) and a directory
// (through TZyloPathDialog). All three are dialog editors whose value can be reverted; the SQL
// Anywhere package registers them for its session's properties.
//
// The file editors run the host's file-open dialog, owned by the application, starting at the
// property's value; the dialog leaves the current directory alone and accepts only an existing
// path and file. Cancel leaves the property as it was.
#pragma once
#pragma GCC visibility push(default)

#include "host/Design.h"
#include "host/Forms.h"

class TZyloFileProperty : public TPropertyEditor {
 public:
  using TPropertyEditor::TPropertyEditor;
  TPropertyAttributes GetAttributes() override { return {paDialog, paRevertable}; }
  void Edit() override;

 protected:
  virtual AnsiString Filter() const = 0;
  // What the property stores of the chosen file.
  virtual AnsiString Chosen(const AnsiString& FileName) const = 0;
};

class TZyloDBFileProperty : public TZyloFileProperty {
 public:
  using TZyloFileProperty::TZyloFileProperty;

 protected:
  AnsiString Filter() const override;
  AnsiString Chosen(const AnsiString& FileName) const override { return FileName; }
};

class TZyloLibFileProperty : public TZyloFileProperty {
 public:
  using TZyloFileProperty::TZyloFileProperty;

 protected:
  AnsiString Filter() const override;
  AnsiString Chosen(const AnsiString& FileName) const override;
};

// The directory dialog: drive box, directory list and the path edit, linked so that choosing a
// drive moves the list, moving the list fills the edit, and editing the edit sets Path.
class TZyloPathDialog : public TForm {
 public:
  explicit TZyloPathDialog(TComponent* AOwner);
  // Starts the dialog at Value: blank leaves the defaults; a directory that cannot be shown
  // falls back to the root.
  void SetInitialPath(const AnsiString& Value);
  const AnsiString& Path() const { return FPath; }

  TDriveComboBox* dcDrive;
  TDirectoryListBox* dlDirList;
  TEdit* edPath;
  TButton* btnOK;
  TButton* btnCancel;

 private:
  AnsiString FPath;
};

class TZyloPathProperty : public TPropertyEditor {
 public:
  using TPropertyEditor::TPropertyEditor;
  TPropertyAttributes GetAttributes() override { return {paDialog, paRevertable}; }
  void Edit() override;
};
#pragma GCC visibility pop
