// The text form of components: TWriter writes a component tree with its
// published properties (defaults left out) and the data it defines itself;
// TReader parses that text back, creating components through the class registry,
// assigning properties, fixing up references by name and calling Loaded.
#include <algorithm>
#include <cmath>
#include <set>

#include "host/Classes.h"
#include "host/Messages.h"

std::function<TComponent*(const AnsiString& Name)> FindGlobalComponent;

namespace {

AnsiString QuoteText(const AnsiString& S) {
  // Printable characters inside quotes, control characters as #n outside.
  if (S.empty()) return "''";
  AnsiString R;
  bool InQuote = false;
  for (unsigned char C : S) {
    if (C < ' ' || C == 0x7F) {
      if (InQuote) {
        R += '\'';
        InQuote = false;
      }
      R += '#' + std::to_string(C);
    } else {
      if (!InQuote) {
        R += '\'';
        InQuote = true;
      }
      if (C == '\'') R += "''";
      else R += static_cast<char>(C);
    }
  }
  if (InQuote) R += '\'';
  return R;
}

AnsiString FloatText(double V) {
  if (std::isnan(V)) return "NAN";
  if (std::isinf(V)) return V < 0 ? "-INF" : "INF";
  AnsiString S = FloatToStr(V);
  if (S.find_first_of(".E") == AnsiString::npos) S += ".0";
  return S;
}

AnsiString SetText(const TPropInfo& P, uint64_t Bits) {
  AnsiString R = "[";
  bool First = true;
  for (unsigned I = 0; I < 64; ++I) {
    if (!(Bits & (uint64_t{1} << I))) continue;
    if (!First) R += ", ";
    First = false;
    R += I < P.EnumNames.size() ? P.EnumNames[I] : std::to_string(I);
  }
  return R + "]";
}

AnsiString EnumText(const TPropInfo& P, int64_t Ordinal) {
  if (Ordinal >= 0 && static_cast<size_t>(Ordinal) < P.EnumNames.size()) return P.EnumNames[static_cast<size_t>(Ordinal)];
  return std::to_string(Ordinal);
}

}  // namespace

// ===========================================================================
// TWriter

struct TWriter::TImpl {
  TStream& Stream;
  int Indent = 0;        // of the object being written
  int ListDepth = 0;     // lists open in the current value
  AnsiString Prefix;     // "SQL." while writing a nested object's properties

  explicit TImpl(TStream& S) : Stream(S) {}
  void Put(const AnsiString& S) { Stream.WriteBuffer(S.data(), static_cast<int64_t>(S.size())); }
  AnsiString Pad(int Extra = 0) const { return AnsiString(static_cast<size_t>(Indent + Extra), ' '); }
  void BeginValue() {
    if (ListDepth > 0) Put("\n" + Pad(2 + 2 * ListDepth));
  }
};

TWriter::TWriter(TStream& Stream) : FImpl(std::make_unique<TImpl>(Stream)) {}
TWriter::~TWriter() = default;

namespace {

AnsiString ReferenceName(TComponent* Root, TComponent* C) {
  if (!C) return "nil";
  // Inside the tree being written the name alone; elsewhere qualified by the
  // outermost owner, which FindGlobalComponent can find.
  for (TComponent* O = C; O; O = O->Owner())
    if (O == Root) return C->GetName();
  TComponent* Top = C;
  while (Top->Owner()) Top = Top->Owner();
  return Top == C ? C->GetName() : Top->GetName() + "." + C->GetName();
}

}  // namespace

void TWriter::WriteInteger(int64_t Value) {
  FImpl->BeginValue();
  FImpl->Put(std::to_string(Value));
}

void TWriter::WriteFloat(double Value) {
  FImpl->BeginValue();
  FImpl->Put(FloatText(Value));
}

void TWriter::WriteBoolean(bool Value) { WriteIdent(Value ? "True" : "False"); }

void TWriter::WriteString(const AnsiString& Value) {
  FImpl->BeginValue();
  FImpl->Put(QuoteText(Value));
}

void TWriter::WriteIdent(const AnsiString& Ident) {
  FImpl->BeginValue();
  FImpl->Put(Ident);
}

void TWriter::WriteListBegin() {
  FImpl->BeginValue();
  FImpl->Put("(");
  ++FImpl->ListDepth;
}

void TWriter::WriteListEnd() {
  FImpl->Put(")");
  if (FImpl->ListDepth > 0) --FImpl->ListDepth;
}

void TWriter::WriteVariant(const Variant& Value) {
  if (Value.IsNull()) return WriteIdent("Null");
  if (Value.IsEmpty()) return WriteIdent("Unassigned");
  if (Value.IsArray()) {
    WriteListBegin();
    for (int I = Value.LowBound(); I <= Value.HighBound(); ++I) WriteVariant(Value.GetElement(I));
    WriteListEnd();
    return;
  }
  if (Value.VarType() == varBoolean) return WriteBoolean(Value.AsBoolean());
  if (VarIsOrdinal(Value)) return WriteInteger(Value.AsInt64());
  if (VarIsFloat(Value) || Value.VarType() == varDate) return WriteFloat(Value.AsDouble());
  WriteString(Value.AsString());
}

void TWriter::DefineProperty(const AnsiString& Name, TReaderProc, TWriterProc WriteData, bool HasData) {
  if (!HasData || !WriteData) return;
  FImpl->Put(FImpl->Pad(2) + FImpl->Prefix + Name + " = ");
  FImpl->ListDepth = 0;
  WriteData(*this);
  FImpl->ListDepth = 0;
  FImpl->Put("\n");
}

void TWriter::DefineBinaryProperty(const AnsiString& Name, TStreamProc, TStreamProc WriteData, bool HasData) {
  if (!HasData || !WriteData) return;
  TMemoryStream Data;
  WriteData(Data);
  static const char Hex[] = "0123456789ABCDEF";
  AnsiString Text = FImpl->Pad(2) + FImpl->Prefix + Name + " = {";
  const auto* P = static_cast<const uint8_t*>(Data.Memory());
  for (int64_t I = 0; I < Data.Size(); ++I) {
    if (I % 32 == 0) Text += "\n" + FImpl->Pad(4);
    Text += Hex[P[I] >> 4];
    Text += Hex[P[I] & 15];
  }
  FImpl->Put(Text + "}\n");
}

void TWriter::WriteCollection(const AnsiString& Name, TCollection* C) {
  TImpl& Impl = *FImpl;
  if (C->Count() == 0) return;
  Impl.Put(Impl.Pad(2) + Impl.Prefix + Name + " = <");
  const AnsiString SavedPrefix = Impl.Prefix;
  const int SavedIndent = Impl.Indent;
  Impl.Prefix.clear();
  for (int I = 0; I < C->Count(); ++I) {
    Impl.Indent = SavedIndent + 2;
    Impl.Put("\n" + Impl.Pad(2) + "item\n");
    Impl.Indent = SavedIndent + 4;
    WriteProperties(C->Items(I));
    Impl.Indent = SavedIndent + 2;
    Impl.Put(Impl.Pad(2) + "end");
  }
  Impl.Indent = SavedIndent;
  Impl.Prefix = SavedPrefix;
  Impl.Put(">\n");
}

void TWriter::WriteProperties(TPersistent* Obj) {
  TImpl& Impl = *FImpl;
  TWriter& W = *this;
  TComponent* Root = FRoot;
  for (const TPropInfo* P : Obj->ClassType().Properties()) {
    if (P->Stored && !P->Stored(*Obj)) continue;
    if (P->IsNested()) {
      TObject* Sub = P->GetObject(*Obj);
      if (auto* C = dynamic_cast<TCollection*>(Sub)) {
        WriteCollection(P->Name, C);
      } else if (auto* Nested = dynamic_cast<TPersistent*>(Sub)) {
        const AnsiString Saved = Impl.Prefix;
        Impl.Prefix += P->Name + ".";
        WriteProperties(Nested);
        Impl.Prefix = Saved;
      }
      continue;
    }
    if (!P->IsStored(*Obj)) continue;
    AnsiString Value;
    if (P->IsReference()) {
      Value = ReferenceName(Root, dynamic_cast<TComponent*>(P->GetObject(*Obj)));
    } else {
      const Variant V = P->Get(*Obj);
      switch (P->Kind) {
        case tkInteger: case tkInt64: Value = std::to_string(V.AsInt64()); break;
        case tkFloat: Value = FloatText(V.AsDouble()); break;
        case tkEnumeration:
          Value = V.VarType() == varBoolean ? BoolToStr(V.AsBoolean()) : EnumText(*P, V.AsInt64());
          break;
        case tkSet: Value = SetText(*P, static_cast<uint64_t>(V.AsInt64())); break;
        case tkVariant: {
          Impl.Put(Impl.Pad(2) + Impl.Prefix + P->Name + " = ");
          W.WriteVariant(V);
          Impl.Put("\n");
          continue;
        }
        default: Value = QuoteText(V.AsString()); break;
      }
    }
    Impl.Put(Impl.Pad(2) + Impl.Prefix + P->Name + " = " + Value + "\n");
  }
  Obj->DefineProperties(*this);
}

void TWriter::WriteObject(TComponent* C) {
  TImpl& I = *FImpl;
  C->SetComponentStateFlag(csWriting, true);
  try {
    I.Put(I.Pad() + "object " + (C->GetName().empty() ? C->ClassName() : C->GetName() + ": " + C->ClassName()) + "\n");
    WriteProperties(C);
    for (int K = 0; K < C->ComponentCount(); ++K) {
      I.Indent += 2;
      WriteObject(C->Components(K));
      I.Indent -= 2;
    }
    I.Put(I.Pad() + "end\n");
  } catch (...) {
    C->SetComponentStateFlag(csWriting, false);
    throw;
  }
  C->SetComponentStateFlag(csWriting, false);
}

void TWriter::WriteRootComponent(TComponent* Root) {
  if (!Root) return;
  FRoot = Root;
  FImpl->Indent = 0;
  WriteObject(Root);
}

// ===========================================================================
// TReader

namespace {

enum TTokenKind : uint8_t { tkEof, tkIdentTok, tkIntegerTok, tkFloatTok, tkStringTok, tkBinaryTok, tkSymbolTok };

struct TToken {
  TTokenKind Kind = tkEof;
  AnsiString Text;  // identifier, symbol, decoded string or binary bytes
  int64_t Int = 0;
  double Float = 0;
  int Line = 1;
};

class TLexer {
public:
  explicit TLexer(AnsiString Text) : FText(std::move(Text)) { Advance(); }
  const TToken& Peek() const { return FTok; }
  TToken Take() {
    TToken T = FTok;
    Advance();
    return T;
  }
  [[noreturn]] void Fail(const AnsiString& What) const {
    throw EReadError(Format(LoadResString(SParseError), {What, FTok.Line}));
  }

private:
  void SkipBlanks() {
    while (FPos < FText.size() && static_cast<unsigned char>(FText[FPos]) <= ' ') {
      if (FText[FPos] == '\n') ++FLine;
      ++FPos;
    }
  }
  static bool IdentStart(char C) { return (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z') || C == '_'; }
  static bool IdentChar(char C) { return IdentStart(C) || (C >= '0' && C <= '9') || C == '.'; }
  bool StringStart() const {
    return FPos < FText.size() && (FText[FPos] == '\'' || FText[FPos] == '#');
  }
  void ReadStringPiece(AnsiString& Out) {
    // 'text' pieces and #n characters follow each other directly.
    while (StringStart()) {
      if (FText[FPos] == '\'') {
        ++FPos;
        while (true) {
          if (FPos >= FText.size()) Fail("Unterminated string");
          char C = FText[FPos++];
          if (C == '\'') {
            if (FPos < FText.size() && FText[FPos] == '\'') {
              Out += '\'';
              ++FPos;
              continue;
            }
            break;
          }
          if (C == '\n') Fail("Unterminated string");
          Out += C;
        }
      } else {
        ++FPos;
        int V = 0, N = 0;
        while (FPos < FText.size() && FText[FPos] >= '0' && FText[FPos] <= '9' && N < 4) {
          V = V * 10 + (FText[FPos++] - '0');
          ++N;
        }
        if (N == 0 || V > 255) Fail("Invalid character code");
        Out += static_cast<char>(V);
      }
    }
  }
  void Advance() {
    SkipBlanks();
    FTok = TToken();
    FTok.Line = FLine;
    if (FPos >= FText.size()) return;
    const char C = FText[FPos];
    if (IdentStart(C)) {
      size_t Start = FPos;
      while (FPos < FText.size() && IdentChar(FText[FPos])) ++FPos;
      FTok.Kind = tkIdentTok;
      FTok.Text = FText.substr(Start, FPos - Start);
      return;
    }
    if (StringStart()) {
      FTok.Kind = tkStringTok;
      ReadStringPiece(FTok.Text);
      // Pieces joined with '+', possibly across lines.
      while (true) {
        size_t Save = FPos;
        int SaveLine = FLine;
        SkipBlanks();
        if (FPos < FText.size() && FText[FPos] == '+') {
          ++FPos;
          SkipBlanks();
          if (!StringStart()) Fail("String expected");
          ReadStringPiece(FTok.Text);
        } else {
          FPos = Save;
          FLine = SaveLine;
          break;
        }
      }
      return;
    }
    if ((C >= '0' && C <= '9') || C == '-' || C == '+' || C == '$') {
      size_t Start = FPos++;
      if (C == '$' || (FPos < FText.size() && FText[FPos] == '$')) {
        if (C != '$') ++FPos;
        while (FPos < FText.size() && std::isxdigit(static_cast<unsigned char>(FText[FPos]))) ++FPos;
      } else {
        while (FPos < FText.size() &&
               (std::isalnum(static_cast<unsigned char>(FText[FPos])) || FText[FPos] == '.' ||
                ((FText[FPos] == '-' || FText[FPos] == '+') && (FText[FPos - 1] == 'E' || FText[FPos - 1] == 'e'))))
          ++FPos;
      }
      const AnsiString Num = FText.substr(Start, FPos - Start);
      if ((Num == "-" || Num == "+") && FPos < FText.size() && IdentStart(FText[FPos])) {
        // "-INF"
        size_t S2 = FPos;
        while (FPos < FText.size() && IdentChar(FText[FPos])) ++FPos;
        const AnsiString Id = FText.substr(S2, FPos - S2);
        if (!SameText(Id, "INF")) Fail("Number expected");
        FTok.Kind = tkFloatTok;
        FTok.Float = Num == "-" ? -HUGE_VAL : HUGE_VAL;
        return;
      }
      if (TryStrToInt64(Num, FTok.Int)) {
        FTok.Kind = tkIntegerTok;
      } else if (TryStrToFloat(Num, FTok.Float)) {
        FTok.Kind = tkFloatTok;
      } else {
        Fail("Invalid number '" + Num + "'");
      }
      return;
    }
    if (C == '{') {
      ++FPos;
      FTok.Kind = tkBinaryTok;
      int Half = -1;
      while (true) {
        SkipBlanks();
        if (FPos >= FText.size()) Fail("Unterminated binary value");
        const char H = FText[FPos++];
        if (H == '}') break;
        int V;
        if (H >= '0' && H <= '9') V = H - '0';
        else if (H >= 'A' && H <= 'F') V = H - 'A' + 10;
        else if (H >= 'a' && H <= 'f') V = H - 'a' + 10;
        else Fail("Invalid binary value");
        if (Half < 0) {
          Half = V;
        } else {
          FTok.Text += static_cast<char>(Half * 16 + V);
          Half = -1;
        }
      }
      if (Half >= 0) Fail("Odd number of hex digits");
      return;
    }
    FTok.Kind = tkSymbolTok;
    FTok.Text = AnsiString(1, C);
    ++FPos;
  }

  AnsiString FText;
  size_t FPos = 0;
  int FLine = 1;
  TToken FTok;
};

}  // namespace

struct TReader::TImpl {
  struct TFixup {
    TObject* Instance;
    const TPropInfo* Prop;
    AnsiString Name;
    TComponent* Component;  // the component whose property it is (for messages)
  };

  std::unique_ptr<TLexer> Lexer;
  TStream& Stream;
  std::vector<TComponent*> Read;     // every component read, in reading order
  std::vector<TComponent*> Created;  // the ones this read created
  std::vector<TFixup> Fixups;
  AnsiString PropName;               // DefineProperties lookup: the property wanted
  bool Handled = false;
  int Depth = 0;                     // objects and lists open around the reading position

  explicit TImpl(TStream& S) : Stream(S) {}

  // Objects within objects and lists within lists are read recursively: a text nested deeper
  // than kMaxNesting is a parse error, long before the stack of a small thread runs out.
  static constexpr int kMaxNesting = 64;
  class TNested {
   public:
    explicit TNested(TImpl& I) : FDepth(I.Depth) {
      if (FDepth >= kMaxNesting) I.Lexer->Fail("nesting deeper than " + std::to_string(kMaxNesting) + " levels");
      ++FDepth;
    }
    ~TNested() { --FDepth; }
    TNested(const TNested&) = delete;
    TNested& operator=(const TNested&) = delete;

   private:
    int& FDepth;
  };

  bool IsSymbol(const char* S) const {
    return Lexer->Peek().Kind == tkSymbolTok && Lexer->Peek().Text == S;
  }
  bool IsIdent(const char* S) const {
    return Lexer->Peek().Kind == tkIdentTok && SameText(Lexer->Peek().Text, S);
  }
  void Expect(const char* S) {
    if (!IsSymbol(S)) Lexer->Fail(AnsiString("'") + S + "' expected");
    Lexer->Take();
  }
  AnsiString Ident() {
    if (Lexer->Peek().Kind != tkIdentTok) Lexer->Fail("Identifier expected");
    return Lexer->Take().Text;
  }
};

TReader::TReader(TStream& Stream) : FImpl(std::make_unique<TImpl>(Stream)) {}
TReader::~TReader() = default;

TValueType TReader::NextValue() {
  const TToken& T = FImpl->Lexer->Peek();
  switch (T.Kind) {
    case tkIntegerTok: return T.Int >= INT32_MIN && T.Int <= INT32_MAX ? vaInt32 : vaInt64;
    case tkFloatTok: return vaExtended;
    case tkStringTok: return vaString;
    case tkBinaryTok: return vaBinary;
    case tkIdentTok:
      if (SameText(T.Text, "True")) return vaTrue;
      if (SameText(T.Text, "False")) return vaFalse;
      if (SameText(T.Text, "nil")) return vaNil;
      if (SameText(T.Text, "Null")) return vaNull;
      return vaIdent;
    case tkSymbolTok:
      if (T.Text == "(") return vaList;
      if (T.Text == "[") return vaSet;
      if (T.Text == "<") return vaCollection;
      return vaNull;
    default: FImpl->Lexer->Fail("Value expected");
  }
}

int64_t TReader::ReadInteger() {
  if (FImpl->Lexer->Peek().Kind != tkIntegerTok) FImpl->Lexer->Fail("Integer expected");
  return FImpl->Lexer->Take().Int;
}

double TReader::ReadFloat() {
  const TToken& T = FImpl->Lexer->Peek();
  if (T.Kind == tkIntegerTok) return static_cast<double>(FImpl->Lexer->Take().Int);
  if (T.Kind == tkFloatTok) return FImpl->Lexer->Take().Float;
  if (T.Kind == tkIdentTok && (SameText(T.Text, "INF") || SameText(T.Text, "NAN"))) {
    const bool Inf = SameText(FImpl->Lexer->Take().Text, "INF");
    return Inf ? HUGE_VAL : std::nan("");
  }
  FImpl->Lexer->Fail("Number expected");
}

bool TReader::ReadBoolean() {
  const TValueType V = NextValue();
  if (V != vaTrue && V != vaFalse) FImpl->Lexer->Fail("Boolean expected");
  FImpl->Lexer->Take();
  return V == vaTrue;
}

AnsiString TReader::ReadString() {
  if (FImpl->Lexer->Peek().Kind != tkStringTok) FImpl->Lexer->Fail("String expected");
  return FImpl->Lexer->Take().Text;
}

AnsiString TReader::ReadIdent() { return FImpl->Ident(); }
void TReader::ReadListBegin() { FImpl->Expect("("); }
void TReader::ReadListEnd() { FImpl->Expect(")"); }
bool TReader::EndOfList() {
  if (FImpl->Lexer->Peek().Kind == tkEof) FImpl->Lexer->Fail("')' expected");
  return FImpl->IsSymbol(")");
}

Variant TReader::ReadVariant() {
  switch (NextValue()) {
    case vaInt32: return Variant(static_cast<int>(ReadInteger()));
    case vaInt64: return Variant(static_cast<long long>(ReadInteger()));
    case vaExtended: return Variant(ReadFloat());
    case vaString: return Variant(ReadString());
    case vaTrue: case vaFalse: return Variant(ReadBoolean());
    case vaNull: FImpl->Lexer->Take(); return Variant::Null();
    case vaBinary: {
      const AnsiString B = FImpl->Lexer->Take().Text;
      return VarByteArrayOf(B.data(), B.size());
    }
    case vaList: {
      TImpl::TNested Nested(*FImpl);
      TVariantArray Items;
      ReadListBegin();
      while (!EndOfList()) Items.push_back(ReadVariant());
      ReadListEnd();
      return VarArrayOf(Items);
    }
    case vaIdent:
      if (SameText(FImpl->Lexer->Peek().Text, "Unassigned")) {
        FImpl->Lexer->Take();
        return Variant();
      }
      [[fallthrough]];
    default: FImpl->Lexer->Fail("Value expected");
  }
}

void TReader::DefineProperty(const AnsiString& Name, TReaderProc ReadData, TWriterProc, bool) {
  if (FImpl->Handled || !ReadData || !SameText(Name, FImpl->PropName)) return;
  FImpl->Handled = true;
  ReadData(*this);
}

void TReader::DefineBinaryProperty(const AnsiString& Name, TStreamProc ReadData, TStreamProc, bool) {
  if (FImpl->Handled || !ReadData || !SameText(Name, FImpl->PropName)) return;
  FImpl->Handled = true;
  if (FImpl->Lexer->Peek().Kind != tkBinaryTok) FImpl->Lexer->Fail("Binary value expected");
  const AnsiString Bytes = FImpl->Lexer->Take().Text;
  TMemoryStream Data;
  Data.WriteBuffer(Bytes.data(), static_cast<int64_t>(Bytes.size()));
  Data.SetPosition(0);
  ReadData(Data);
}

void TReader::ReadPropertyValue(TPersistent* Obj, const TPropInfo& P, TComponent* Owner) {
  TImpl& I = *FImpl;
  if (P.IsReference()) {
    AnsiString Name = I.Ident();
    if (SameText(Name, "nil")) P.SetObject(*Obj, nullptr);
    else I.Fixups.push_back({Obj, &P, Name, Owner});
    return;
  }
  if (P.IsNested()) {
    auto* C = dynamic_cast<TCollection*>(P.GetObject(*Obj));
    if (!C || !I.IsSymbol("<")) I.Lexer->Fail(LoadResString(SInvalidPropertyValue));
    ReadCollection(C, Owner);
    return;
  }
  switch (P.Kind) {
    case tkInteger: case tkInt64: P.Set(*Obj, Variant(static_cast<long long>(ReadInteger()))); break;
    case tkFloat: P.Set(*Obj, Variant(ReadFloat())); break;
    case tkEnumeration: {
      if (I.Lexer->Peek().Kind == tkIntegerTok) {
        P.Set(*Obj, Variant(static_cast<int>(ReadInteger())));
        break;
      }
      const AnsiString Name = I.Ident();
      auto It = std::find_if(P.EnumNames.begin(), P.EnumNames.end(), [&](const AnsiString& N) { return SameText(N, Name); });
      if (It == P.EnumNames.end()) I.Lexer->Fail(LoadResString(SInvalidPropertyValue) + " '" + Name + "'");
      const int Ordinal = static_cast<int>(It - P.EnumNames.begin());
      if (P.EnumNames.size() == 2 && SameText(P.EnumNames[0], "False")) P.Set(*Obj, Variant(Ordinal == 1));
      else P.Set(*Obj, Variant(Ordinal));
      break;
    }
    case tkSet: {
      I.Expect("[");
      uint64_t Bits = 0;
      while (!I.IsSymbol("]")) {
        unsigned Ordinal;
        if (I.Lexer->Peek().Kind == tkIntegerTok) {
          const int64_t V = ReadInteger();
          if (V < 0 || V > 63) I.Lexer->Fail(LoadResString(SInvalidPropertyValue));
          Ordinal = static_cast<unsigned>(V);
        } else {
          const AnsiString Name = I.Ident();
          auto It = std::find_if(P.EnumNames.begin(), P.EnumNames.end(), [&](const AnsiString& N) { return SameText(N, Name); });
          if (It == P.EnumNames.end()) I.Lexer->Fail(LoadResString(SInvalidPropertyValue) + " '" + Name + "'");
          Ordinal = static_cast<unsigned>(It - P.EnumNames.begin());
        }
        Bits |= uint64_t{1} << Ordinal;
        if (I.IsSymbol(",")) I.Lexer->Take();
        else if (!I.IsSymbol("]")) I.Lexer->Fail("']' expected");
      }
      I.Lexer->Take();
      P.Set(*Obj, Variant(static_cast<long long>(Bits)));
      break;
    }
    case tkVariant: P.Set(*Obj, ReadVariant()); break;
    default: P.Set(*Obj, Variant(ReadString())); break;
  }
}

void TReader::ReadProperty(TPersistent* Target, const AnsiString& Path, TComponent* Owner) {
  TImpl& I = *FImpl;
  TPersistent* Obj = Target;
  AnsiString Rest = Path;
  // Walk "SQL.Strings": every part but the last names a nested object.
  for (size_t Dot; (Dot = Rest.find('.')) != AnsiString::npos;) {
    const AnsiString Part = Rest.substr(0, Dot);
    const TPropInfo* P = Obj->ClassType().FindProperty(Part);
    TPersistent* Sub = P && P->IsNested() ? dynamic_cast<TPersistent*>(P->GetObject(*Obj)) : nullptr;
    if (!Sub) throw EReadError(Format(LoadResString(SUnknownProperty), {Part}));
    Obj = Sub;
    Rest = Rest.substr(Dot + 1);
  }
  if (const TPropInfo* P = Obj->ClassType().FindProperty(Rest); P && (P->Set || P->SetObject || P->IsNested())) {
    ReadPropertyValue(Obj, *P, Owner);
    return;
  }
  const AnsiString SavedName = I.PropName;
  const bool SavedHandled = I.Handled;
  I.PropName = Rest;
  I.Handled = false;
  Obj->DefineProperties(*this);
  const bool Handled = I.Handled;
  I.PropName = SavedName;
  I.Handled = SavedHandled;
  if (!Handled) throw EReadError(Format(LoadResString(SUnknownProperty), {Rest}));
}

void TReader::ReadCollection(TCollection* C, TComponent* Owner) {
  TImpl& I = *FImpl;
  I.Expect("<");
  C->BeginUpdate();
  try {
    C->Clear();
    while (!I.IsSymbol(">")) {
      if (!I.IsIdent("item")) I.Lexer->Fail("'item' expected");
      I.Lexer->Take();
      TCollectionItem* Item = C->Add();
      while (!I.IsIdent("end")) {
        const AnsiString Path = I.Ident();
        I.Expect("=");
        ReadProperty(Item, Path, Owner);
      }
      I.Lexer->Take();
    }
    I.Lexer->Take();
  } catch (...) {
    C->EndUpdate();
    throw;
  }
  C->EndUpdate();
}

TComponent* TReader::ReadObject(TComponent* Instance, TComponent* Owner) {
  TImpl& I = *FImpl;
  if (!I.IsIdent("object") && !I.IsIdent("inherited")) I.Lexer->Fail("'object' expected");
  TImpl::TNested Nested(I);
  I.Lexer->Take();
  AnsiString Name, ClassName = I.Ident();
  if (I.IsSymbol(":")) {
    I.Lexer->Take();
    Name = ClassName;
    ClassName = I.Ident();
  }
  TComponent* C = Instance;
  if (C) {
    const TMetaClass* Class = GetClass(ClassName);
    if (!SameText(C->ClassName(), ClassName) && !(Class && C->InheritsFrom(*Class)))
      throw EReadError(Format(LoadResString(SClassNotFound), {ClassName}));
  } else {
    TComponent* Existing = Owner && !Name.empty() ? Owner->FindComponent(Name) : nullptr;
    if (Existing && SameText(Existing->ClassName(), ClassName)) {
      C = Existing;
    } else {
      C = FindClass(ClassName).CreateComponent(Owner);
      I.Created.push_back(C);
      if (Owner && Owner->ComponentState().Contains(csDesigning)) C->SetDesigning(true);
    }
  }
  if (!FRoot) FRoot = C;
  C->SetComponentStateFlag(csLoading, true);
  C->SetComponentStateFlag(csReading, true);
  I.Read.push_back(C);
  if (!Name.empty()) C->SetName(Name);
  while (!I.IsIdent("end")) {
    if (I.Lexer->Peek().Kind == tkEof) I.Lexer->Fail("'end' expected");
    if (I.IsIdent("object") || I.IsIdent("inherited")) {
      ReadObject(nullptr, C);
      continue;
    }
    const int Line = I.Lexer->Peek().Line;
    const AnsiString Path = I.Ident();
    I.Expect("=");
    try {
      ReadProperty(C, Path, C);
    } catch (const EReadError& E) {
      // Parse errors carry their line already; an inner object's error its own context.
      if (E.Message().rfind("Error reading", 0) == 0) throw;
      throw EReadError(Format(LoadResString(SReadingError), {C->GetName(), AnsiString("."), Path, E.Message()}));
    } catch (const Exception& E) {
      // A setter refused the value (a conversion, a state check).
      throw EReadError(Format(LoadResString(SReadingError), {C->GetName(), AnsiString("."), Path,
                                                             Format(LoadResString(SParseError), {E.Message(), Line})}));
    }
  }
  I.Lexer->Take();
  return C;
}

namespace {

TComponent* FindInTree(TComponent* Root, const AnsiString& Name) {
  if (!Root) return nullptr;
  if (AnsiSameText(Root->GetName(), Name)) return Root;
  for (int K = 0; K < Root->ComponentCount(); ++K)
    if (TComponent* F = FindInTree(Root->Components(K), Name)) return F;
  return nullptr;
}

}  // namespace

TComponent* TReader::ReadRootComponent(TComponent* Root, TComponent* Owner) {
  TImpl& I = *FImpl;
  const int64_t Size = I.Stream.GetSize() - I.Stream.GetPosition();
  AnsiString Text(static_cast<size_t>(Size > 0 ? Size : 0), '\0');
  if (Size > 0) I.Stream.ReadBuffer(Text.data(), Size);
  FRoot = Root;
  TComponent* Result = nullptr;
  try {
    I.Lexer = std::make_unique<TLexer>(std::move(Text));
    Result = ReadObject(Root, Owner);
    if (I.Lexer->Peek().Kind != tkEof) I.Lexer->Fail("End of text expected");
    for (const TImpl::TFixup& F : I.Fixups) {
      TComponent* Target = FindInTree(FRoot, F.Name);
      const size_t Dot = F.Name.find('.');
      if (!Target && Dot != AnsiString::npos && FindGlobalComponent) {
        TComponent* Top = FindGlobalComponent(F.Name.substr(0, Dot));
        Target = Top ? Top->FindComponent(F.Name.substr(Dot + 1)) : nullptr;
      }
      if (!Target && FindGlobalComponent) Target = FindGlobalComponent(F.Name);
      if (!Target) throw EReadError(Format(LoadResString(SUnresolvedReference), {F.Name}));
      F.Prop->SetObject(*F.Instance, Target);
    }
    for (TComponent* C : I.Read) C->SetComponentStateFlag(csReading, false);
    // Loaded may free nothing it did not create, but guard against a component
    // that destroyed another read one: only the survivors are told.
    for (size_t K = 0; K < I.Read.size(); ++K) I.Read[K]->Loaded();
  } catch (...) {
    std::set<TComponent*> CreatedSet(I.Created.begin(), I.Created.end());
    for (TComponent* C : I.Read) {
      C->SetComponentStateFlag(csReading, false);
      C->SetComponentStateFlag(csLoading, false);
    }
    // Destroy the outermost created ones; each takes what it owns with it.
    for (auto It = I.Created.rbegin(); It != I.Created.rend(); ++It)
      if (!CreatedSet.count((*It)->Owner())) {
        TComponent* C = *It;
        CreatedSet.erase(C);
        delete C;
      }
    throw;
  }
  return Result;
}

// ===========================================================================

void TStream::WriteComponent(TComponent* Instance) {
  TWriter Writer(*this);
  Writer.WriteRootComponent(Instance);
}

TComponent* TStream::ReadComponent(TComponent* Instance, TComponent* Owner) {
  TReader Reader(*this);
  return Reader.ReadRootComponent(Instance, Owner);
}

AnsiString ComponentToText(TComponent* Instance) {
  TStringStream S;
  S.WriteComponent(Instance);
  return S.DataString();
}

TComponent* TextToComponent(const AnsiString& Text, TComponent* Instance, TComponent* Owner) {
  TStringStream S(Text);
  return S.ReadComponent(Instance, Owner);
}
