// zylo-design: the design-time side of the components without a development environment. It
// loads a form or data module from its text form file, lists the components and their published
// properties, sets properties, runs property editors (a value list, or a dialog played from the
// terminal through the forms model) and component editors' verbs, opens the data sets against
// their sessions to show their first rows, and writes the form back.
//
//   zylo-design [--echo] [-f SCRIPT] [-e COMMAND]... FILE
//
// Commands come from -e, then the script, then standard input (a prompt when it is a terminal).
// A dialog shown by an editor reads its own commands from the same input until a button closes
// it (see "help"). The exit status is 1 when a command failed, 2 on a usage error.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "components/ZylAsaDS.h"
#include "design/ZylApp.h"
#include "design/ZylAsaEd.h"
#include "design/ZylParamEd.h"
#include "host/Design.h"
#include "host/Dialogs.h"
#include "host/Forms.h"
#include "tools/isql/IsqlFormat.h"

namespace {

const char* const kHelp =
    "Commands:\n"
    "  components                     the components of the form, with their classes\n"
    "  props NAME                     published properties of a component (. for the form itself)\n"
    "  set NAME.PROP VALUE            sets a property (enumerations and sets by name, references by\n"
    "                                 component name, string lists with \\n between lines)\n"
    "  values NAME.PROP               the value list of the property's editor\n"
    "  edit NAME.PROP                 runs the property's editor (its dialog, or a pick from its values)\n"
    "  verbs NAME                     the verbs of the component's editor\n"
    "  verb NAME N|TEXT               runs a verb (by number or by its text)\n"
    "  add CLASS NAME                 places a new component of a registered class\n"
    "  delete NAME                    removes a component\n"
    "  palette                        the registered components, by page\n"
    "  databases                      the sessions of the loaded forms by database name\n"
    "  tables DB | procs DB | columns DB TABLE   the catalog through that session\n"
    "  open [NAME] [ROWS]             opens the data set(s), shows the first ROWS rows (5), closes\n"
    "  exec NAME                      runs a stored procedure, shows its output parameters\n"
    "  text                           the form as its file would hold it\n"
    "  write [FILE]                   writes the form back (to its own file by default)\n"
    "  help | quit\n"
    "In a dialog:\n"
    "  controls                       the dialog's controls and their state\n"
    "  type CONTROL TEXT              types into an edit (it takes the focus first)\n"
    "  click CONTROL                  clicks a button, check box or list\n"
    "  pick CONTROL N|TEXT            picks an item of a list or combo box\n"
    "  dir CONTROL PATH               moves a directory list\n"
    "  enter | escape                 the Enter or Escape key\n"
    "  close                          closes the window (Cancel); quit closes it and ends the tool\n"
    "In a file dialog: a file name, or cancel.\n";

// ---- input -------------------------------------------------------------------------------------

class TInput {
 public:
  TInput(std::vector<std::string> Commands, std::istream* Script, bool Echo)
      : FCommands(std::move(Commands)), FScript(Script), FEcho(Echo), FTerminal(isatty(0)) {}

  // The next command line; false at the end of all input.
  bool Next(const std::string& Prompt, std::string& Line) {
    for (;;) {
      if (FNext < FCommands.size()) {
        Line = FCommands[FNext++];
      } else if (FScript) {
        if (!std::getline(*FScript, Line)) {
          FScript = nullptr;
          continue;
        }
      } else {
        if (FTerminal) std::cout << Prompt << std::flush;
        if (!std::getline(std::cin, Line)) return false;
        if (!Command(Line)) continue;
        if (!FTerminal && FEcho) std::cout << Prompt << Line << "\n";
        return true;
      }
      if (!Command(Line)) continue;
      if (FEcho) std::cout << Prompt << Line << "\n";
      return true;
    }
  }

 private:
  // Blank lines and # comments are skipped.
  static bool Command(const std::string& Line) {
    std::string T = Trim(Line);
    return !T.empty() && T[0] != '#';
  }
  std::vector<std::string> FCommands;
  size_t FNext = 0;
  std::istream* FScript;
  bool FEcho;
  bool FTerminal;
};

// Words of a command: blanks separate them; 'single' or "double" quotes keep blanks ('' inside
// single quotes is one quote). The rest of the line after N words is available unsplit.
std::vector<std::string> Words(const std::string& Line) {
  std::vector<std::string> R;
  size_t I = 0;
  while (I < Line.size()) {
    while (I < Line.size() && isspace(static_cast<unsigned char>(Line[I]))) ++I;
    if (I >= Line.size()) break;
    std::string W;
    if (Line[I] == '\'' || Line[I] == '"') {
      char Q = Line[I++];
      for (; I < Line.size(); ++I) {
        if (Line[I] == Q) {
          if (Q == '\'' && I + 1 < Line.size() && Line[I + 1] == '\'') {
            W += Q;
            ++I;
            continue;
          }
          ++I;
          break;
        }
        W += Line[I];
      }
    } else {
      while (I < Line.size() && !isspace(static_cast<unsigned char>(Line[I]))) W += Line[I++];
    }
    R.push_back(W);
  }
  return R;
}

// The text after the first N words, unquoted when it is one quoted word.
std::string Rest(const std::string& Line, size_t N) {
  size_t I = 0;
  for (size_t K = 0; K < N; ++K) {
    while (I < Line.size() && isspace(static_cast<unsigned char>(Line[I]))) ++I;
    if (I < Line.size() && (Line[I] == '\'' || Line[I] == '"')) {
      char Q = Line[I++];
      while (I < Line.size() && Line[I] != Q) ++I;
      if (I < Line.size()) ++I;
    } else {
      while (I < Line.size() && !isspace(static_cast<unsigned char>(Line[I]))) ++I;
    }
  }
  std::string R = Trim(Line.substr(std::min(I, Line.size())));
  if (R.size() >= 2 && (R[0] == '\'' || R[0] == '"')) {
    std::vector<std::string> W = Words(R);
    if (W.size() == 1) return W[0];
  }
  return R;
}

// Sessions of the form that a command connects are disconnected again when it ends, so that the
// form is written as it was loaded and its connection properties stay editable.
class TConnectionsUsed {
 public:
  explicit TConnectionsUsed(TComponent& Root) {
    for (int I = 0; I < Root.ComponentCount(); ++I)
      if (auto* S = dynamic_cast<TZyloSession*>(Root.Components(I)); S && !S->GetConnected()) FIdle.push_back(S);
  }
  ~TConnectionsUsed() {
    for (TZyloSession* S : FIdle) try {
        S->Close();
      } catch (const std::exception& E) {
        std::cout << "error: " << E.what() << "\n";
      }
  }
  TConnectionsUsed(const TConnectionsUsed&) = delete;
  TConnectionsUsed& operator=(const TConnectionsUsed&) = delete;

 private:
  std::vector<TZyloSession*> FIdle;
};

class EUsage : public Exception {
  using Exception::Exception;
};

// ---- the designer ------------------------------------------------------------------------------

class TDesignTool {
 public:
  TDesignTool(TInput& Input, std::string File) : FInput(Input), FFile(std::move(File)) {}
  ~TDesignTool() {
    SetModalRunner(std::move(FOldRunner));
    SetFileDialogRunner(std::move(FOldFileRunner));
    FDesigner.reset();
    delete FRoot;
  }

  void Load() {
    TStringList Text;
    Text.LoadFromFile(FFile);
    // The form is read in design state, as an environment reads it: a session stored connected
    // that cannot connect, or a data set stored active that cannot open, reports it and the form
    // still loads.
    FRoot = DesignRoot(Text.GetText());
    try {
      TextToComponent(Text.GetText(), FRoot);
    } catch (...) {
      delete FRoot;
      FRoot = nullptr;
      throw;
    }
    FDesigner = std::make_unique<TDesigner>(FRoot);
    FOldRunner = SetModalRunner([this](TCustomForm& F) { RunDialog(F); });
    FOldFileRunner = SetFileDialogRunner([this](TOpenDialog& D) { return RunFileDialog(D); });
    std::cout << "loaded " << FRoot->GetName() << ": " << FRoot->ClassName() << " from " << FFile << " ("
              << FRoot->ComponentCount() << " components)\n";
  }

  // The root component named by the file's first line ("object Name: TClass"), in design state.
  static TComponent* DesignRoot(const std::string& Text) {
    std::string First = Trim(Text.substr(0, Text.find('\n')));
    size_t Colon = First.find(':');
    if (First.compare(0, 7, "object ") != 0 || Colon == std::string::npos)
      throw Exception("not a form file: it does not begin with 'object Name: TClass'");
    TComponent* Root = FindClass(Trim(First.substr(Colon + 1))).CreateComponent(nullptr);
    Root->SetDesigning(true);
    return Root;
  }

  // Runs commands until quit or the end of the input; false when one failed.
  bool Run() {
    std::string Line;
    while (!FQuit && FInput.Next("design> ", Line)) {
      std::vector<std::string> W = Words(Line);
      if (W[0] == "quit" || W[0] == "exit") break;
      try {
        Command(W, Line);
      } catch (const EUsage& E) {
        std::cout << "usage: " << E.what() << "\n";
        FFailed = true;
      } catch (const std::exception& E) {
        std::cout << "error: " << E.what() << "\n";
        FFailed = true;
      }
    }
    return !FFailed;
  }

 private:
  void Command(const std::vector<std::string>& W, const std::string& Line) {
    const std::string& C = W[0];
    auto Need = [&](size_t N, const char* Usage) {
      if (W.size() < N + 1) throw EUsage(Usage);
    };
    if (C == "help") std::cout << kHelp;
    else if (C == "components" || C == "ls") ListComponents();
    else if (C == "props") Need(1, "props NAME"), ListProperties(Find(W[1]));
    else if (C == "set") Need(2, "set NAME.PROP VALUE"), SetProperty(W[1], Rest(Line, 2));
    else if (C == "values") Need(1, "values NAME.PROP"), ShowValues(W[1]);
    else if (C == "edit") Need(1, "edit NAME.PROP"), EditProperty(W[1]);
    else if (C == "verbs") Need(1, "verbs NAME"), ListVerbs(Find(W[1]));
    else if (C == "verb") Need(2, "verb NAME N|TEXT"), RunVerb(Find(W[1]), Rest(Line, 2));
    else if (C == "add") Need(2, "add CLASS NAME"), AddComponent(W[1], W[2]);
    else if (C == "delete") Need(1, "delete NAME"), DeleteComponent(W[1]);
    else if (C == "palette") ListPalette();
    else if (C == "databases") ListDatabases();
    else if (C == "tables") Need(1, "tables DB"), Catalog(W, 't');
    else if (C == "procs") Need(1, "procs DB"), Catalog(W, 'p');
    else if (C == "columns") Need(2, "columns DB TABLE"), Catalog(W, 'c');
    else if (C == "open") OpenDataSets(W);
    else if (C == "exec") Need(1, "exec NAME"), ExecProc(W[1]);
    else if (C == "text") std::cout << ComponentToText(FRoot);
    else if (C == "write") Write(W.size() > 1 ? Rest(Line, 1) : FFile);
    else throw EUsage("unknown command '" + C + "' (help lists them)");
  }

  TComponent* Find(const std::string& Name) const {
    if (Name == "." || SameText(Name, FRoot->GetName())) return FRoot;
    TComponent* C = FDesigner->FindComponent(Name);
    if (!C) throw Exception("no component '" + Name + "'");
    return C;
  }

  // "Name.Prop" -> the component and its published property.
  std::pair<TComponent*, const TPropInfo*> FindProperty(const std::string& Path) const {
    size_t Dot = Path.find('.');
    if (Dot == std::string::npos) throw EUsage("NAME.PROP");
    TComponent* C = Find(Path.substr(0, Dot));
    const TPropInfo* P = C->ClassType().FindProperty(Path.substr(Dot + 1));
    if (!P) throw Exception(Format("%s has no published property '%s'", C->ClassName(), Path.substr(Dot + 1)));
    return {C, P};
  }

  static std::string ValueText(TComponent& C, const TPropInfo& P) {
    if (P.Kind == tkClass) {
      TObject* O = P.GetObject ? P.GetObject(C) : nullptr;
      if (P.IsReference()) return O ? static_cast<TComponent*>(O)->GetName() : std::string("(none)");
      if (auto* S = dynamic_cast<TStrings*>(O)) {
        std::string T = S->GetText();
        while (!T.empty() && (T.back() == '\n' || T.back() == '\r')) T.pop_back();
        return QuotedStr(StringReplace(StringReplace(T, "\r\n", "\\n"), "\n", "\\n"));
      }
      if (auto* L = dynamic_cast<TZyloParams*>(O)) {
        std::string R = "(" + std::to_string(L->Count()) + " parameters";
        for (int I = 0; I < L->Count(); ++I) {
          TZyloParam* Q = L->Items(I);
          R += (I ? ", " : ": ") + Q->GetName() + "=" + (Q->GetIsNull() ? std::string("null") : Q->GetAsString());
        }
        return R + ")";
      }
      return O ? "(" + O->ClassName() + ")" : std::string("(none)");
    }
    Variant V = P.Get ? P.Get(C) : Variant();
    switch (P.Kind) {
      case tkEnumeration: {
        if (P.EnumNames.size() == 2 && P.EnumNames[0] == "False") return V.AsBoolean() ? "True" : "False";
        int I = V.AsInteger();
        return I >= 0 && I < static_cast<int>(P.EnumNames.size()) ? P.EnumNames[I] : std::to_string(I);
      }
      case tkSet: {
        int64_t Bits = V.AsInt64();
        std::string R;
        for (size_t I = 0; I < P.EnumNames.size(); ++I)
          if (Bits & (int64_t{1} << I)) R += (R.empty() ? "" : ", ") + P.EnumNames[I];
        return "[" + R + "]";
      }
      case tkLString:
      case tkString: return QuotedStr(VarToStr(V));
      default: return VarToStr(V);
    }
  }

  void ListComponents() {
    std::cout << FRoot->GetName() << ": " << FRoot->ClassName() << "\n";
    for (TComponent* C : FDesigner->Components()) std::cout << "  " << C->GetName() << ": " << C->ClassName() << "\n";
  }

  void ListProperties(TComponent* C) {
    std::cout << C->GetName() << ": " << C->ClassName() << "\n";
    for (const TPropInfo* P : C->ClassType().Properties()) {
      std::string Line = "  " + P->Name + " = " + ValueText(*C, *P);
      if (auto E = FDesigner->GetPropertyEditor({C}, P->Name)) {
        TPropertyAttributes A = E->GetAttributes();
        Line += A.Contains(paDialog) ? "   [dialog]" : A.Contains(paValueList) ? "   [values]" : "   [editor]";
      } else if (P->Kind == tkEnumeration) {
        Line += "   [values]";
      }
      std::cout << Line << "\n";
    }
  }

  // Sets a property from the text a user types, and tells the designer.
  void SetProperty(const std::string& Path, const std::string& Text) {
    auto [C, P] = FindProperty(Path);
    Assign(*C, *P, Text);
    FDesigner->Modified();
    std::cout << C->GetName() << "." << P->Name << " = " << ValueText(*C, *P) << "\n";
  }

  void Assign(TComponent& C, const TPropInfo& P, const std::string& Text) {
    if (P.Kind == tkClass) {
      TObject* O = P.GetObject ? P.GetObject(C) : nullptr;
      if (P.IsReference()) {
        TComponent* Target = Text.empty() || SameText(Text, "nil") || SameText(Text, "(none)") ? nullptr : Find(Text);
        if (Target && !Target->ClassType().InheritsFrom(P.PropClass()))
          throw Exception(Format("%s is not a %s", Target->GetName(), P.PropClass().ClassName()));
        P.SetObject(C, Target);
        return;
      }
      if (auto* S = dynamic_cast<TStrings*>(O)) {
        S->SetText(StringReplace(Text, "\\n", "\n"));
        return;
      }
      throw Exception(P.Name + " is edited by its editor (edit " + C.GetName() + "." + P.Name + ")");
    }
    if (!P.Set) throw Exception(P.Name + " is read-only");
    switch (P.Kind) {
      case tkEnumeration: {
        for (size_t I = 0; I < P.EnumNames.size(); ++I)
          if (SameText(P.EnumNames[I], Text)) return P.Set(C, Variant(static_cast<int>(I)));
        std::string Names;
        for (auto& N : P.EnumNames) Names += (Names.empty() ? "" : ", ") + N;
        throw Exception(Format("'%s' is not one of %s", Text, Names));
      }
      case tkSet: {
        std::string Inner = Trim(Text);
        if (!Inner.empty() && Inner.front() == '[') Inner.erase(0, 1);
        if (!Inner.empty() && Inner.back() == ']') Inner.pop_back();
        int64_t Bits = 0;
        std::stringstream In(Inner);
        for (std::string Item; std::getline(In, Item, ',');) {
          Item = Trim(Item);
          if (Item.empty()) continue;
          size_t I = 0;
          while (I < P.EnumNames.size() && !SameText(P.EnumNames[I], Item)) ++I;
          if (I == P.EnumNames.size()) throw Exception(Format("'%s' is not an element of %s", Item, P.Name));
          Bits |= int64_t{1} << I;
        }
        return P.Set(C, Variant(static_cast<long long>(Bits)));
      }
      case tkInteger:
      case tkInt64: return P.Set(C, Variant(static_cast<long long>(StrToInt64(Trim(Text)))));
      case tkFloat: return P.Set(C, Variant(StrToFloat(Trim(Text))));
      default: {
        // A string property with an editor goes through it, as the environment's grid would.
        if (auto E = FDesigner->GetPropertyEditor({&C}, P.Name)) return E->SetValue(Text);
        return P.Set(C, Variant(Text));
      }
    }
  }

  std::vector<std::string> Values(TComponent* C, const TPropInfo* P) {
    if (auto E = FDesigner->GetPropertyEditor({C}, P->Name))
      if (E->GetAttributes().Contains(paValueList)) return E->ValueList();
    if (P->Kind == tkEnumeration) return P->EnumNames;
    throw Exception(P->Name + " has no value list");
  }

  void ShowValues(const std::string& Path) {
    auto [C, P] = FindProperty(Path);
    TConnectionsUsed Used(*FRoot);
    std::vector<std::string> V = Values(C, P);
    for (size_t I = 0; I < V.size(); ++I) std::cout << "  " << I + 1 << ". " << V[I] << "\n";
    if (V.empty()) std::cout << "  (no values)\n";
  }

  void EditProperty(const std::string& Path) {
    auto [C, P] = FindProperty(Path);
    // Editors that read the database (a procedure's names or parameters) leave no connection.
    TConnectionsUsed Used(*FRoot);
    std::unique_ptr<TPropertyEditor> E = FDesigner->GetPropertyEditor({C}, P->Name);
    if (E && E->GetAttributes().Contains(paDialog)) {
      int Before = FDesigner->ModifiedCount();
      E->Edit();
      std::cout << C->GetName() << "." << P->Name << " = " << ValueText(*C, *P)
                << (FDesigner->ModifiedCount() != Before ? "  (modified)" : "  (unchanged)") << "\n";
      return;
    }
    // A value list: the user picks one by number or text; an empty line keeps the value.
    std::vector<std::string> V = Values(C, P);
    for (size_t I = 0; I < V.size(); ++I) std::cout << "  " << I + 1 << ". " << V[I] << "\n";
    std::string Line;
    if (!FInput.Next("pick> ", Line)) return;
    std::string Choice = Trim(Line);
    int N = 0;
    if (TryStrToInt(Choice, N)) {
      if (N < 1 || N > static_cast<int>(V.size())) throw Exception("no value " + Choice);
      Choice = V[N - 1];
    }
    SetProperty(Path, Choice);
  }

  void ListVerbs(TComponent* C) {
    auto E = FDesigner->GetComponentEditor(C);
    if (E->GetVerbCount() == 0) std::cout << "  (" << C->ClassName() << " has no verbs)\n";
    for (int I = 0; I < E->GetVerbCount(); ++I) std::cout << "  " << I + 1 << ". " << E->GetVerb(I) << "\n";
  }

  void RunVerb(TComponent* C, const std::string& Which) {
    auto E = FDesigner->GetComponentEditor(C);
    int Index = -1, N = 0;
    if (TryStrToInt(Which, N)) Index = N - 1;
    else
      for (int I = 0; I < E->GetVerbCount(); ++I)
        if (SameText(StringReplace(E->GetVerb(I), "&", ""), StringReplace(Which, "&", "")))
          Index = I;
    if (Index < 0 || Index >= E->GetVerbCount()) throw Exception("no verb '" + Which + "' (verbs " + C->GetName() + ")");
    int Before = FDesigner->ModifiedCount();
    E->ExecuteVerb(Index);
    std::cout << "done" << (FDesigner->ModifiedCount() != Before ? " (modified)" : "") << "\n";
  }

  void AddComponent(const std::string& ClassName, const std::string& Name) {
    const TMetaClass& Class = FindClass(ClassName);
    TComponent* C = Class.CreateComponent(FRoot);
    try {
      C->SetName(Name);
    } catch (...) {
      delete C;
      throw;
    }
    FDesigner->Modified();
    std::cout << "added " << Name << ": " << ClassName << "\n";
  }

  void DeleteComponent(const std::string& Name) {
    TComponent* C = Find(Name);
    if (C == FRoot) throw Exception("the form itself cannot be deleted");
    delete C;
    FDesigner->Modified();
    std::cout << "deleted " << Name << "\n";
  }

  void ListPalette() {
    for (const AnsiString& Page : PalettePages()) {
      std::cout << Page << ":";
      for (const TMetaClass* C : PaletteComponents(Page)) std::cout << " " << C->ClassName();
      std::cout << "\n";
    }
  }

  void ListDatabases() {
    TStringList L;
    ZylGetDatabaseNames(&L);
    for (int I = 0; I < L.Count(); ++I)
      std::cout << "  " << L[I] << "  (" << static_cast<TComponent*>(L.Objects(I))->GetName() << ")\n";
    if (L.Count() == 0) std::cout << "  (no sessions with a database)\n";
  }

  void Catalog(const std::vector<std::string>& W, char What) {
    TConnectionsUsed Used(*FRoot);
    TStringList L;
    const TMetaClass& DS = TAsaDataset::StaticClass();
    if (What == 't') ZylGetTableNames(W[1], true, true, &L, DS);
    else if (What == 'p') ZylGetStoredProcNames(W[1], true, &L, DS);
    else ZylGetFieldNames(W[1], W[2], &L, DS);
    for (int I = 0; I < L.Count(); ++I) std::cout << "  " << L[I] << "\n";
    if (L.Count() == 0) std::cout << "  (none)\n";
  }

  void OpenDataSets(const std::vector<std::string>& W) {
    int Rows = 5;
    std::vector<TDataSet*> Sets;
    for (size_t I = 1; I < W.size(); ++I) {
      int N;
      if (TryStrToInt(W[I], N) && N >= 0) Rows = N;
      else if (auto* D = dynamic_cast<TDataSet*>(Find(W[I]))) Sets.push_back(D);
      else throw Exception(W[I] + " is not a data set");
    }
    if (Sets.empty())
      for (TComponent* C : FDesigner->Components())
        if (auto* D = dynamic_cast<TDataSet*>(C)) Sets.push_back(D);
    if (Sets.empty()) std::cout << "  (no data sets)\n";
    TConnectionsUsed Used(*FRoot);
    for (TDataSet* D : Sets) ShowRows(*D, Rows);
  }

  void ExecProc(const std::string& Name) {
    auto* Proc = dynamic_cast<TZyloCustomStoredProc*>(Find(Name));
    if (!Proc) throw Exception(Name + " is not a stored procedure");
    TConnectionsUsed Used(*FRoot);
    Proc->ExecProc();
    TZyloParams* L = Proc->GetParams();
    bool Any = false;
    for (int I = 0; I < L->Count(); ++I) {
      TZyloParam* P = L->Items(I);
      if (P->GetParamType() != zptOutput && P->GetParamType() != zptInputOutput && P->GetParamType() != zptResult)
        continue;
      if (!Any) std::cout << "output parameters:\n";
      Any = true;
      std::cout << "  " << P->GetName() << " = " << (P->GetIsNull() ? std::string("(NULL)") : P->GetAsString()) << "\n";
    }
    if (!Any) std::cout << "done (no output parameters)\n";
  }

  static bool Numeric(TFieldType T) {
    switch (T) {
      case ftSmallint: case ftInteger: case ftWord: case ftFloat: case ftCurrency: case ftBCD: case ftAutoInc:
      case ftLargeint: return true;
      default: return false;
    }
  }

  void ShowRows(TDataSet& D, int Rows) {
    bool WasActive = D.Active();
    std::cout << D.GetName() << ":\n";
    D.Open();
    struct TCloser {
      TDataSet& D;
      bool Keep;
      ~TCloser() {
        if (!Keep) D.Close();
      }
    } Closer{D, WasActive};
    std::vector<zylisql::TColumn> Columns;
    for (int I = 0; I < D.FieldCount(); ++I) Columns.push_back({D.Fields(I)->FieldName(), Numeric(D.Fields(I)->DataType())});
    auto Printer = zylisql::MakePrinter(zylisql::TFormat::fmTable, std::cout, std::cout, std::cout);
    Printer->BeginResult(Columns);
    int64_t Shown = 0;
    for (D.First(); !D.Eof() && Shown < Rows; D.Next(), ++Shown) {
      std::vector<zylisql::TCell> Cells;
      for (int I = 0; I < D.FieldCount(); ++I) {
        TField* F = D.Fields(I);
        Cells.push_back(F->IsNull() ? zylisql::TCell::NullCell() : zylisql::TCell::Of(F->GetAsString()));
      }
      Printer->Row(Cells);
    }
    bool More = !D.Eof();
    Printer->EndResult(Shown);
    if (More) std::cout << "(first " << Shown << " rows shown)\n";
  }

  void Write(const std::string& File) {
    std::string Text = ComponentToText(FRoot);
    // Written beside the target first, then moved over it: a failed write loses nothing.
    std::string Temp = File + ".tmp";
    {
      std::ofstream Out(Temp, std::ios::binary | std::ios::trunc);
      Out << Text;
      Out.close();
      if (!Out) {
        DeleteFile(Temp);
        throw Exception("cannot write " + Temp);
      }
    }
    if (std::rename(Temp.c_str(), File.c_str()) != 0) {
      DeleteFile(Temp);
      throw Exception("cannot write " + File);
    }
    std::cout << "wrote " << File << "\n";
  }

  // ---- dialogs played from the terminal ----

  static std::string ControlLine(TControl& C) {
    std::string Kind, State;
    if (auto* E = dynamic_cast<TEdit*>(&C)) Kind = "edit", State = QuotedStr(E->DisplayText());
    else if (auto* B = dynamic_cast<TButton*>(&C)) Kind = "button", State = QuotedStr(B->Caption);
    else if (auto* X = dynamic_cast<TCheckBox*>(&C)) Kind = "check box", State = QuotedStr(X->Caption) + (X->Checked() ? " [x]" : " [ ]");
    else if (auto* L = dynamic_cast<TItemsControl*>(&C)) {
      Kind = dynamic_cast<TComboBox*>(&C) ? "combo box" : "list";
      for (int I = 0; I < L->Items().Count(); ++I)
        State += std::string(I ? " " : "") + (I == L->ItemIndex() ? "[" + L->Items()[I] + "]" : L->Items()[I]);
      if (L->Items().Count() > 20) {
        int Sel = L->ItemIndex();
        State = std::to_string(L->Items().Count()) + " items" + (Sel >= 0 ? ", selected " + std::to_string(Sel + 1) + ": " + L->Items()[Sel] : std::string(", none selected"));
      }
    } else if (auto* Dir = dynamic_cast<TDirectoryListBox*>(&C)) Kind = "directories", State = QuotedStr(Dir->Directory());
    else if (dynamic_cast<TDriveComboBox*>(&C)) Kind = "drive", State = "'/'";
    else if (auto* Lb = dynamic_cast<TLabel*>(&C)) {
      if (Lb->Caption.empty() || !Lb->Showing()) return {};
      return "  " + StringReplace(Lb->Caption, "&", "") + "\n";
    } else return {};
    if (!C.Showing()) return {};
    std::string Flags;
    if (!C.IsEnabled()) Flags += " (disabled)";
    if (auto* W = dynamic_cast<TWinControl*>(&C); W && W->Focused()) Flags += " (focus)";
    return "  " + C.GetName() + " " + Kind + ": " + State + Flags + "\n";
  }

  static std::vector<std::string> ControlLines(TCustomForm& F) {
    std::vector<std::string> R;
    for (int I = 0; I < F.ComponentCount(); ++I)
      if (auto* C = dynamic_cast<TControl*>(F.Components(I))) R.push_back(ControlLine(*C));
    return R;
  }

  static void ListControls(TCustomForm& F) {
    std::cout << "[" << F.Caption << "]\n";
    for (const std::string& L : ControlLines(F)) std::cout << L;
  }

  static TControl* FindControl(TCustomForm& F, const std::string& Name) {
    for (int I = 0; I < F.ComponentCount(); ++I)
      if (auto* C = dynamic_cast<TControl*>(F.Components(I)); C && SameText(C->GetName(), Name)) return C;
    throw Exception("the dialog has no control '" + Name + "' (controls lists them)");
  }

  // A user's hand on a control gives it the focus first, as a click or a tab would.
  static void Touch(TControl& C) {
    if (!C.IsEnabled() || !C.Showing()) throw Exception(C.GetName() + " is disabled");
    if (auto* W = dynamic_cast<TWinControl*>(&C); W && W->TabStop && W->CanFocus()) W->SetFocus();
  }

  void RunDialog(TCustomForm& F) {
    std::cout << "-- dialog " << F.Caption << " (enter/escape, controls, help)\n";
    ListControls(F);
    std::string Line;
    while (F.ModalResult() == mrNone && FInput.Next("dialog> ", Line)) {
      std::vector<std::string> W = Words(Line);
      try {
        DialogCommand(F, W, Line);
      } catch (const std::exception& E) {
        std::cout << "error: " << E.what() << "\n";
        FFailed = true;
      }
    }
    std::cout << "-- dialog closed: " << (F.ModalResult() == mrOk ? "OK" : F.ModalResult() == mrNone ? "Cancel (the input ended)" : "Cancel") << "\n";
  }

  void DialogCommand(TCustomForm& F, const std::vector<std::string>& W, const std::string& Line) {
    const std::string& C = W[0];
    std::vector<std::string> Before = ControlLines(F);
    if (C == "controls") ListControls(F);
    else if (C == "enter") F.PressEnter();
    else if (C == "escape") F.PressEscape();
    else if (C == "close" || C == "cancel") F.Close();  // the window's close box: Cancel
    else if (C == "quit" || C == "exit") {
      F.Close();
      FQuit = true;
    }
    else if (C == "help") std::cout << kHelp;
    else if (C == "type" && W.size() >= 2) {
      auto* E = dynamic_cast<TEdit*>(FindControl(F, W[1]));
      if (!E) throw Exception(W[1] + " is not an edit");
      Touch(*E);
      E->TypeText(Rest(Line, 2));
    } else if (C == "click" && W.size() >= 2) {
      TControl* Ctl = FindControl(F, W[1]);
      Touch(*Ctl);
      Ctl->Click();
    } else if (C == "pick" && W.size() >= 3) {
      auto* L = dynamic_cast<TItemsControl*>(FindControl(F, W[1]));
      if (!L) throw Exception(W[1] + " has no items");
      std::string Which = Rest(Line, 2);
      int N = 0, Index = L->Items().IndexOf(Which);
      if (Index < 0 && TryStrToInt(Which, N)) Index = N - 1;
      if (Index < 0 || Index >= L->Items().Count()) throw Exception("no item '" + Which + "'");
      Touch(*L);
      L->Pick(Index);
    } else if (C == "dir" && W.size() >= 3) {
      auto* D = dynamic_cast<TDirectoryListBox*>(FindControl(F, W[1]));
      if (!D) throw Exception(W[1] + " is not a directory list");
      Touch(*D);
      D->SetDirectory(Rest(Line, 2));
    } else {
      throw EUsage("in a dialog: type CONTROL TEXT | click CONTROL | pick CONTROL N|TEXT | dir CONTROL PATH | "
                   "enter | escape | close | controls | quit");
    }
    // What the action changed on the dialog.
    if (C == "controls" || C == "help" || F.ModalResult() != mrNone) return;
    std::vector<std::string> After = ControlLines(F);
    for (size_t I = 0; I < After.size(); ++I)
      if (I >= Before.size() || After[I] != Before[I]) std::cout << After[I];
  }

  bool RunFileDialog(TOpenDialog& D) {
    std::cout << "-- file dialog (" << D.Filter << "), now: " << QuotedStr(D.FileName) << "\n";
    std::string Line;
    if (!FInput.Next("file> ", Line)) return false;
    std::string Name = Trim(Line);
    if (SameText(Name, "cancel")) return false;
    std::vector<std::string> W = Words(Name);
    D.FileName = W.size() == 1 ? W[0] : Name;
    return true;
  }

  TInput& FInput;
  std::string FFile;
  TComponent* FRoot = nullptr;
  std::unique_ptr<TDesigner> FDesigner;
  TModalRunner FOldRunner;
  TFileDialogRunner FOldFileRunner;
  bool FFailed = false;
  bool FQuit = false;  // asked for inside a dialog
};

int Usage() {
  std::cerr << "usage: zylo-design [--echo] [-f SCRIPT] [-e COMMAND]... FILE\n" << kHelp;
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> Commands;
  std::string Script, File;
  bool Echo = false;
  for (int I = 1; I < argc; ++I) {
    std::string A = argv[I];
    if (A == "--echo") Echo = true;
    else if ((A == "-f" || A == "-e") && I + 1 < argc) (A == "-f" ? Script : (Commands.emplace_back(), Commands.back())) = argv[++I];
    else if (A == "-h" || A == "--help") return Usage(), 0;
    else if (!A.empty() && A[0] == '-') return Usage();
    else if (File.empty()) File = A;
    else return Usage();
  }
  if (File.empty()) return Usage();
  std::ifstream ScriptStream;
  if (!Script.empty()) {
    ScriptStream.open(Script);
    if (!ScriptStream) {
      std::cerr << "zylo-design: cannot read " << Script << "\n";
      return 2;
    }
  }
  // What the environment does when it loads the packages: classes for streaming, palette, editors.
  RegisterClasses({&TForm::StaticClass(), &TDataModule::StaticClass()});
  ZylPackRegister();
  ZylSaRegister();

  TInput Input(Commands, Script.empty() ? nullptr : &ScriptStream, Echo);
  try {
    TDesignTool Tool(Input, File);
    Tool.Load();
    return Tool.Run() ? 0 : 1;
  } catch (const std::exception& E) {
    std::cerr << "zylo-design: " << E.what() << "\n";
    return 1;
  }
}
