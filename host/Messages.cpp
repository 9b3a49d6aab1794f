// The process-wide message table and the host's own texts.
#include "host/Messages.h"

#include <map>
#include <mutex>

#include "host/Classes.h"

namespace {

struct TEntry {
  AnsiString Name;
  AnsiString Default;
  AnsiString Text;
};

struct TTable {
  std::mutex Lock;
  std::map<TResourceId, TEntry> Entries;
  // Translations read before their identifier was registered, applied on
  // registration (a library may be loaded after the translation).
  std::map<AnsiString, AnsiString> Pending;
};

TTable& Table() {
  static TTable* T = new TTable;  // never destroyed: other units' static objects may still look up texts
  return *T;
}

AnsiString Unescape(const AnsiString& S) {
  AnsiString R;
  for (size_t I = 0; I < S.size(); ++I) {
    if (S[I] == '\\' && I + 1 < S.size()) {
      char N = S[++I];
      R += N == 'n' ? '\n' : N == 't' ? '\t' : N;
    } else {
      R += S[I];
    }
  }
  return R;
}

const bool HostTextsRegistered = RegisterResStrings({
    {SReadError, "SReadError", "Stream read error"},
    {SWriteError, "SWriteError", "Stream write error"},
    {SFCreateError, "SFCreateError", "Cannot create file \"%s\". %s"},
    {SFOpenError, "SFOpenError", "Cannot open file \"%s\". %s"},
    {SListIndexError, "SListIndexError", "List index out of bounds (%d)"},
    {SDuplicateString, "SDuplicateString", "String list does not allow duplicates"},
    {SSortedListError, "SSortedListError", "Operation not allowed on sorted list"},
    {SInvalidInteger, "SInvalidInteger", "'%s' is not a valid integer value"},
    {SInvalidFloat, "SInvalidFloat", "'%s' is not a valid floating point value"},
    {SInvalidBoolean, "SInvalidBoolean", "'%s' is not a valid boolean value"},
    {SInvalidDate, "SInvalidDate", "'%s' is not a valid date"},
    {SInvalidTime, "SInvalidTime", "'%s' is not a valid time"},
    {SInvalidDateTime, "SInvalidDateTime", "'%s' is not a valid date and time"},
    {SDateEncodeError, "SDateEncodeError", "Invalid argument to date encode"},
    {STimeEncodeError, "STimeEncodeError", "Invalid argument to time encode"},
    {SInvalidTimeStamp, "SInvalidTimeStamp", "'%d.%d' is not a valid timestamp"},
    {SInvalidFormat, "SInvalidFormat", "Format '%s' invalid or incompatible with argument"},
    {SArgumentMissing, "SArgumentMissing", "No argument for format '%s'"},
    {SInvalidCurrency, "SInvalidCurrency", "'%s' is not a valid currency value"},
    {SCurrencyOverflow, "SCurrencyOverflow", "Currency value out of range"},
    {SVarTypeCastError, "SVarTypeCastError", "Could not convert variant of type (%s) into type (%s)"},
    {SVarOverflow, "SVarOverflow", "Overflow while converting variant of type (%s) into type (%s)"},
    {SVarArrayCreate, "SVarArrayCreate", "Error creating variant array"},
    {SVarArrayBounds, "SVarArrayBounds", "Variant array index out of bounds"},
    {SVarNotArray, "SVarNotArray", "Variant is not an array"},
    {SAssignError, "SAssignError", "Cannot assign a %s to a %s"},
    {SDuplicateName, "SDuplicateName", "A component named %s already exists"},
    {SInvalidName, "SInvalidName", "''%s'' is not a valid component name"},
    {SClassNotFound, "SClassNotFound", "Class %s not found"},
    {SDuplicateClass, "SDuplicateClass", "A class named %s already exists"},
    {SUnknownProperty, "SUnknownProperty", "Property %s does not exist"},
    {SInvalidPropertyValue, "SInvalidPropertyValue", "Invalid property value"},
    {SReadingError, "SReadingError", "Error reading %s%s%s: %s"},
    {SParseError, "SParseError", "%s on line %d"},
    {SUnresolvedReference, "SUnresolvedReference", "Unresolved reference to %s"},
    {SInvalidBitmap, "SInvalidBitmap", "Bitmap image is not valid"},
    {SInvalidMetafile, "SInvalidMetafile", "Metafile is not valid"},
    {SInvalidIcon, "SInvalidIcon", "Icon image is not valid"},
    {SUnknownExtension, "SUnknownExtension", "Unknown picture file extension (.%s)"},
    {SNoGraphic, "SNoGraphic", "Picture holds no graphic"},
    {SModuleNotFound, "SModuleNotFound", "The specified module could not be found"},
    {SProcNotFound, "SProcNotFound", "The specified procedure could not be found"},
    {SUnknownError, "SUnknownError", "Unknown error %d"},
});

}  // namespace

bool RegisterResString(TResourceId Id, const AnsiString& Name, const AnsiString& Text) {
  TTable& T = Table();
  std::lock_guard<std::mutex> Guard(T.Lock);
  auto It = T.Entries.find(Id);
  if (It != T.Entries.end()) {
    if (It->second.Name != Name)
      throw EInvalidOperation("Message " + std::to_string(Id) + " registered as " + It->second.Name +
                              " and as " + Name);
    return true;
  }
  TEntry E{Name, Text, Text};
  auto P = T.Pending.find(Name);
  if (P == T.Pending.end()) P = T.Pending.find(std::to_string(Id));
  if (P != T.Pending.end()) {
    E.Text = P->second;
    T.Pending.erase(P);
  }
  T.Entries.emplace(Id, std::move(E));
  return true;
}

bool RegisterResStrings(std::initializer_list<TResStringRec> Records) {
  for (const TResStringRec& R : Records) RegisterResString(R.Id, R.Name, R.Text);
  return true;
}

bool ReplaceResString(TResourceId Id, const AnsiString& Text) {
  TTable& T = Table();
  std::lock_guard<std::mutex> Guard(T.Lock);
  auto It = T.Entries.find(Id);
  if (It == T.Entries.end()) return false;
  It->second.Text = Text;
  return true;
}

bool ReplaceResStringByName(const AnsiString& Name, const AnsiString& Text) {
  TTable& T = Table();
  std::lock_guard<std::mutex> Guard(T.Lock);
  for (auto& [Id, E] : T.Entries)
    if (E.Name == Name) {
      E.Text = Text;
      return true;
    }
  return false;
}

bool RestoreResString(TResourceId Id) {
  TTable& T = Table();
  std::lock_guard<std::mutex> Guard(T.Lock);
  auto It = T.Entries.find(Id);
  if (It == T.Entries.end()) return false;
  It->second.Text = It->second.Default;
  return true;
}

void RestoreAllResStrings() {
  TTable& T = Table();
  std::lock_guard<std::mutex> Guard(T.Lock);
  for (auto& [Id, E] : T.Entries) E.Text = E.Default;
  T.Pending.clear();
}

AnsiString LoadResString(TResourceId Id) {
  TTable& T = Table();
  std::lock_guard<std::mutex> Guard(T.Lock);
  auto It = T.Entries.find(Id);
  if (It == T.Entries.end()) return "<resource " + std::to_string(Id) + ">";
  return It->second.Text;
}

bool ResStringExists(TResourceId Id) {
  TTable& T = Table();
  std::lock_guard<std::mutex> Guard(T.Lock);
  return T.Entries.count(Id) != 0;
}

TResourceId FindResStringId(const AnsiString& Name) {
  TTable& T = Table();
  std::lock_guard<std::mutex> Guard(T.Lock);
  for (const auto& [Id, E] : T.Entries)
    if (E.Name == Name) return Id;
  return -1;
}

int LoadResStrings(const AnsiString& Translation, int* Unknown) {
  int Applied = 0, Missing = 0;
  size_t Pos = 0;
  while (Pos <= Translation.size()) {
    size_t End = Translation.find('\n', Pos);
    if (End == AnsiString::npos) End = Translation.size();
    AnsiString Line = Translation.substr(Pos, End - Pos);
    Pos = End + 1;
    if (!Line.empty() && Line.back() == '\r') Line.pop_back();
    AnsiString Trimmed = TrimLeft(Line);
    if (Trimmed.empty() || Trimmed[0] == ';' || Trimmed[0] == '#') continue;
    const size_t Eq = Trimmed.find('=');
    if (Eq == AnsiString::npos) continue;
    const AnsiString Key = Trim(Trimmed.substr(0, Eq));
    const AnsiString Text = Unescape(TrimLeft(Trimmed.substr(Eq + 1)));
    int Numeric = 0;
    bool Done = TryStrToInt(Key, Numeric) ? ReplaceResString(Numeric, Text) : ReplaceResStringByName(Key, Text);
    if (Done) {
      ++Applied;
    } else {
      ++Missing;
      TTable& T = Table();
      std::lock_guard<std::mutex> Guard(T.Lock);
      T.Pending[Key] = Text;
    }
  }
  if (Unknown) *Unknown = Missing;
  return Applied;
}

int LoadResStringsFromStream(TStream& Stream, int* Unknown) {
  const int64_t Size = Stream.GetSize() - Stream.GetPosition();
  AnsiString Text(static_cast<size_t>(Size > 0 ? Size : 0), '\0');
  if (Size > 0) Stream.ReadBuffer(Text.data(), Size);
  return LoadResStrings(Text, Unknown);
}

int LoadResStringsFromFile(const AnsiString& FileName, int* Unknown) {
  TFileStream Stream(FileName, fmOpenRead | fmShareDenyWrite);
  return LoadResStringsFromStream(Stream, Unknown);
}

std::vector<TResStringRec> ResStringIds() {
  TTable& T = Table();
  std::lock_guard<std::mutex> Guard(T.Lock);
  std::vector<TResStringRec> R;
  // The names and defaults live in the never-destroyed table, so the pointers stay valid.
  for (const auto& [Id, E] : T.Entries) R.push_back({Id, E.Name.c_str(), E.Default.c_str()});
  return R;
}
