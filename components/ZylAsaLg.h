// ZylAsaLg: the login dialog. TAsaLogin logs a TAsaSession on: silently with the credentials the
// session holds (loAutoConnect), or through the modal form TAsaLoginForm, where the user gives
// user id and password and, optionally, the connection details (client library version, server
// name, start line, connection parameters, database file); the answers go into the session,
// which then connects.
//
// Execute:
//   no Session -> EZyloException
//   loAutoConnect, user and password set -> close and open the session; done, unless that fails:
//        the application shows the error and the form follows
//   form: filled from the session -> the user answers -> Cancel: session untouched
//        -> OK: session closed, the answers written, session opened; a failed open puts the
//           library file and path back and raises to the caller
//
// The form is laid out in code with the positions, captions and tab order of its design. The
// host's forms have no window frame: a form's Height is its whole height, and the client area
// is that less the dialog frame (25: caption and borders), where the button panel sits at the
// bottom (the forms model does not align controls itself).
//
// Messages: none of its own (the session's and the base's).
#pragma once
#pragma GCC visibility push(default)

#include <memory>

#include "asa/ZylAsa.h"
#include "host/Dialogs.h"
#include "host/Forms.h"

enum TAsaLoginOption : uint8_t { loAutoConnect = 0, loAutoLibraryPath = 1, loAllowDetails = 2, loAlwaysDetails = 3 };
using TAsaLoginOptions = TSet<TAsaLoginOption, uint8_t>;

// The version entries of the form, in list order, with the client library file of each; the
// first, "(Not listed)", has none (the session's file stays).
struct TAsaLoginVersion {
  const char* Caption;
  const char* LibraryFile;
};
extern const TAsaLoginVersion AsaLoginVersions[9];

class TAsaLoginForm : public TForm {
 public:
  explicit TAsaLoginForm(TComponent* AOwner);

  // Handlers, wired to the form's and the buttons' events.
  void FormCreate(TObject* Sender);
  void FormShow(TObject* Sender);
  void btnMoreClick(TObject* Sender);
  void btnBrowseClick(TObject* Sender);

  // Shows or hides the details and sizes the form for it.
  void SizeLoginForm(bool Shown);
  // The "More" button's visibility, with OK and Cancel moved to fill its place.
  void SetVisibleMore(bool Visible);
  // The library file of the selected version; Current for "(Not listed)".
  AnsiString GetComboVendorLib(const AnsiString& Current) const;
  // Selects the version whose file is FileName (exactly); "(Not listed)" when none is.
  void SetComboVendorLib(const AnsiString& FileName);

  bool GetDetailsShown() const { return FDetailsShown; }
  void SetDetailsShown(bool Value) { FDetailsShown = Value; }

  TGroupBox* gbLogin;
  TLabel* lblUserID;
  TEdit* edUserID;
  TLabel* lblPassword;
  TEdit* edPassword;
  TBevel* Bevel1;
  TPanel* pnlDatabaseParams;
  TLabel* lblVersion;
  TComboBox* cbVersion;
  TLabel* lblServerName;
  TEdit* edServerName;
  TLabel* lblStartLine;
  TEdit* edStartLine;
  TLabel* lblConnParams;
  TEdit* edConnParams;
  TLabel* lblDatabase;
  TEdit* edDatabase;
  TButton* btnBrowse;
  TPanel* pnlButtons;
  TButton* btnOK;
  TButton* btnCancel;
  TButton* btnMore;
  TOpenDialog* odDatabase;

 private:
  void PlaceButtonPanel();
  bool FDetailsShown = false;
};

class TAsaLogin : public TComponent {
 public:
  explicit TAsaLogin(TComponent* AOwner);
  ~TAsaLogin() override;
  // Registered as "TAsaLogin": Options, Session.
  static const TMetaClass& StaticClass();
  const TMetaClass& ClassType() const override { return StaticClass(); }

  // Logs the session on (see the unit comment).
  void Execute();

  TAsaLoginOptions GetOptions() const { return FOptions; }
  // A set holding loAlwaysDetails is stored without loAllowDetails.
  void SetOptions(TAsaLoginOptions Value);
  TAsaSession* GetSession() const;
  void SetSession(TAsaSession* Value);

 private:
  void RunForm(TAsaSession& Session);

  std::unique_ptr<TAsaSQL> FStatement;  // carries the session link
  TAsaLoginOptions FOptions{loAutoLibraryPath, loAllowDetails};
};
#pragma GCC visibility pop
