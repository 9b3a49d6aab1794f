// ZylDbx: TSQLConnectionParamsParser — the server-name string as a list of key=value pairs.
//
// The tokenizer makes one pass over the text: every character is looked at once, quotes and
// brackets only skip ahead to their closing character (brackets are not counted, so nothing
// nests), and the text is refused beyond kMaxTextLength characters.
#include "dbxdriver/ZylDbx.h"

namespace {

bool SameText(const AnsiString& A, const char* B) { return LowerCase(A) == B; }

}  // namespace

void TSQLConnectionParamsParser::SetText(const AnsiString& Text) {
  FText = Text;
  FEntries.clear();
  FParsed = false;
}

AnsiString TSQLConnectionParamsParser::NextToken(const AnsiString& Text, size_t& Pos) {
  const size_t N = Text.size();
  size_t Start = AnsiString::npos;  // first character of the token, once it has begun
  while (true) {
    const char C = Pos < N ? Text[Pos] : '\0';
    if (C == '\0' || C == ';') {
      const size_t End = Pos;
      if (C == '\0') Pos = N;  // a NUL ends the text: nothing after it is read
      if (Start != AnsiString::npos) return Text.substr(Start, End - Start);
      if (C == '\0') return AnsiString();
      while (Pos < N && Text[Pos] == ';') ++Pos;
      continue;
    }
    if (Start == AnsiString::npos) Start = Pos;
    char Close = 0;
    if (C == '"' || C == '\'' || C == '`') Close = C;
    else if (C == '(') Close = ')';
    else if (C == '{') Close = '}';
    ++Pos;
    if (Close) {
      // Up to the next closing character or the end; the span stays part of the token.
      while (Pos < N && Text[Pos] != Close && Text[Pos] != '\0') ++Pos;
      if (Pos < N && Text[Pos] == Close) ++Pos;
    }
  }
}

void TSQLConnectionParamsParser::Parse() {
  FEntries.clear();
  if (FText.size() > kMaxTextLength)
    throw EZyloException(Format(ZylLoadStr(ZYL_ERR_DBX_SERVER_NAME_TOO_LONG), static_cast<int>(kMaxTextLength)), 0);
  // A NUL ends the text, as it ends the string the host passed.
  const AnsiString Text = FText.substr(0, FText.find('\0'));
  AnsiString Others;
  size_t Pos = 0;
  while (Pos < Text.size()) {
    const AnsiString Token = Trim(NextToken(Text, Pos));
    const size_t Eq = Token.find('=');
    if (Eq == AnsiString::npos) continue;  // not a pair: dropped
    const AnsiString Key = Trim(Token.substr(0, Eq));
    const AnsiString Value = Trim(Token.substr(Eq + 1));
    TEntryKind Kind = pkOther;
    if (SameText(Key, "commitondisconnect")) Kind = pkCommitOnDisconnect;
    else if (SameText(Key, "oemconvert")) Kind = pkOEMConvert;
    else if (SameText(Key, "servertype")) Kind = pkServerType;
    else if (SameText(Key, "trimblanks")) Kind = pkTrimBlanks;
    else if (SameText(Key, "wantrowcounts")) Kind = pkWantRowCounts;
    if (Kind == pkOther) {
      if (!Others.empty()) Others += FSeparator;
      Others += Token;
    } else {
      FEntries.push_back({Kind, Value});
    }
  }
  FEntries.push_back({pkOther, Others});
  FParsed = true;
}

const TSQLConnectionParamsParser::TEntry* TSQLConnectionParamsParser::Find(TEntryKind Kind) {
  if (!FParsed) Parse();
  for (const TEntry& E : FEntries)
    if (E.Kind == Kind) return &E;
  return nullptr;
}

bool TSQLConnectionParamsParser::ReadBooleanText(const AnsiString& Value) {
  const AnsiString V = LowerCase(Value);
  return V == "true" || V == "on" || V == "1";
}

TAsaServerType TSQLConnectionParamsParser::ReadServerTypeText(const AnsiString& Value) {
  const AnsiString V = LowerCase(Value);
  if (V == "stserver" || V == "server" || V == "1") return stServer;
  if (V == "stworkgroup" || V == "workgroup" || V == "2") return stWorkgroup;
  return stClient;
}

bool TSQLConnectionParamsParser::ReadBoolean(TEntryKind Kind, bool Default) {
  const TEntry* E = Find(Kind);
  return E ? ReadBooleanText(E->Value) : Default;
}

TAsaServerType TSQLConnectionParamsParser::GetServerType(TAsaServerType Default) {
  const TEntry* E = Find(pkServerType);
  return E ? ReadServerTypeText(E->Value) : Default;
}

AnsiString TSQLConnectionParamsParser::GetOtherParams(const AnsiString& Default) {
  const TEntry* E = Find(pkOther);
  return E ? E->Value : Default;
}
