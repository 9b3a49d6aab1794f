// ZylParamEd: the editors of parameter lists — TZyloParamsDlg for the Params of a query data set,
// TZyloProcParamsDlg for those of a stored procedure — and their property editors; ZylPackRegister
// registers them, as the base package does when the environment loads it.
//
// Query parameters: the dialog edits the component's own list as the user works and keeps a
// copy made when the list was handed to it (SetParams); closing with anything but OK puts the
// copy back, so the list is exactly what it was. Stored-procedure parameters: the property
// editor hands the dialog a fresh copy of the procedure's list and assigns it back on OK.
//
// Controls and their effect on the selected parameter:
//   lbParamNames  picks the parameter shown
//   edParamName   renames it (and its list entry)
//   cbDataType    the data-type names in ordinal order; a choice sets the type and then the
//                 value from empty text
//   edParamValue  applied when the edit is left with a changed text (or the dialog closes)
//   cbNull        ticked: the value is cleared to null; unticked: set from the value text; the
//                 value edit is emptied either way
//   btnNew        adds "p<count>" while the list holds fewer than 255 parameters
//   btnDelete     frees the selected parameter and selects the first
//   btnReset      rebuilds the list from the data set's query text
//   btnHelp       the help topic "Params_Property"
// With nothing selected every edit control is empty and disabled.
#pragma once
#pragma GCC visibility push(default)

#include <memory>

#include "dataset/Zylbasds.h"
#include "host/Design.h"
#include "host/Forms.h"

// The names of the parameter data types, by ordinal (ztUnknown .. ztBlob).
extern const char* const ZyloParamDataTypeNames[13];
// The most parameters the dialogs add.
constexpr int ZyloMaxDialogParams = 255;

class TZyloParamsDlg : public TForm {
 public:
  explicit TZyloParamsDlg(TComponent* AOwner);
  ~TZyloParamsDlg() override;

  // Starts editing List: remembers it, keeps the copy, shows its names and selects the first.
  virtual void SetParams(TZyloParams* List);
  TZyloParams* GetParams() const { return FParams; }
  // Puts the list back as SetParams found it (what closing without OK does).
  void CancelEdits();
  // The parameter shown, or nullptr.
  TZyloParam* Selected() const;

  TLabel* lblParamNames;
  TListBox* lbParamNames;
  TLabel* lblParamName;
  TEdit* edParamName;
  TLabel* lblDataType;
  TComboBox* cbDataType;
  TLabel* lblParamValue;
  TEdit* edParamValue;
  TCheckBox* cbNull;
  TButton* btnNew;
  TButton* btnDelete;
  TButton* btnReset;
  TButton* btnOK;
  TButton* btnCancel;
  TButton* btnHelp;

 protected:
  // Selects Index in the list (-1: none) and shows that parameter.
  void SelectParam(int Index);
  // Shows the selected parameter in the edit controls (all cleared and disabled for none).
  virtual void LoadParam();
  void FillNames();
  // Applies a changed value text now (leaving the edit, or the dialog closing).
  void CommitValue();
  // Does closing without OK restore the list? (The procedure dialog edits a copy.)
  virtual bool KeepsBackup() const { return true; }
  virtual bool CanAddOrDelete() const { return true; }

  TZyloParams* FParams = nullptr;  // the list edited; not owned
  std::unique_ptr<TZyloParams> FBackup;
  bool FLoading = false;  // controls set from the program: no edits applied
  AnsiString FEnteredValue;
  // The parameter the value edit belongs to: a pick in the list selects another one before the
  // edit is left.
  TZyloParam* FValueParam = nullptr;

 private:
  void NameChange();
  void DataTypeChange();
  void NullClick();
  void NewClick();
  void DeleteClick();
  void ResetClick();
};

// The stored-procedure variant: a parameter-type box (Input, Input/Output, Output, Result); value
// and null box only for input parameters; New and Delete only while the procedure is not named
// (a named procedure's parameters come from the server); no Reset.
class TZyloProcParamsDlg : public TZyloParamsDlg {
 public:
  explicit TZyloProcParamsDlg(TComponent* AOwner);
  void SetProcParams(TZyloParams* List, const AnsiString& ProcName);

  TLabel* lblParamType;
  TComboBox* cbParamType;

 protected:
  void LoadParam() override;
  bool KeepsBackup() const override { return false; }
  bool CanAddOrDelete() const override { return Trim(FProcName).empty(); }

 private:
  AnsiString FProcName;
};

// Params of a query data set: the dialog above; OK reports the component modified.
class TZyloParamsProperty : public TPropertyEditor {
 public:
  using TPropertyEditor::TPropertyEditor;
  TPropertyAttributes GetAttributes() override { return {paDialog}; }
  AnsiString GetValue() override { return "(TZyloParams)"; }
  void Edit() override;

 protected:
  TZyloParams* EditedList() const;
};

// Params of a stored procedure: a fresh copy of its parameters (for a named procedure not yet
// prepared, the catalog's) in the procedure dialog; OK assigns the copy back.
class TZyloProcParamsProperty : public TZyloParamsProperty {
 public:
  using TZyloParamsProperty::TZyloParamsProperty;
  void Edit() override;
};

// Registers the parameter editors for the Params of TZyloCustomDataset and TZyloCustomStoredProc.
void ZylPackRegister();
#pragma GCC visibility pop
