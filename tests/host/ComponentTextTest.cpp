// The readable text form: published properties with defaults, nested objects,
// binary data as hex, references, collections, owned components, Loaded and the
// loading flags, and what reading does with bad text.
#include <gtest/gtest.h>

#include <vector>

#include "host/Classes.h"
#include "tests/common/SmallStack.h"

namespace {

enum TMode : uint8_t { mdRead = 0, mdWrite = 1, mdBoth = 2 };
using TModes = TSet<TMode, uint8_t>;

// A component with one property of every kind the streaming supports.
class TGadget : public TComponent {
public:
  explicit TGadget(TComponent* Owner) : TComponent(Owner), FLines(new TStringList) {}
  ~TGadget() override { delete FLines; }
  static const TMetaClass& StaticClass();
  const TMetaClass& ClassType() const override { return StaticClass(); }

  bool GetActive() const { return FActive; }
  void SetActive(bool V) {
    // While reading, the value only waits for Loaded (as a session's Connected does).
    if (ComponentState().Contains(csReading)) StreamedActive = V;
    else FActive = V;
  }
  int32_t GetCount() const { return FCount; }
  void SetCount(int32_t V) { FCount = V; }
  int64_t GetBig() const { return FBig; }
  void SetBig(int64_t V) { FBig = V; }
  double GetRatio() const { return FRatio; }
  void SetRatio(double V) { FRatio = V; }
  AnsiString GetCaption() const { return FCaption; }
  void SetCaption(const AnsiString& V) { FCaption = V; }
  AnsiString GetLibrary() const { return FLibrary; }
  void SetLibrary(const AnsiString& V) { FLibrary = V; }
  TMode GetMode() const { return FMode; }
  void SetMode(TMode V) { FMode = V; }
  TModes GetModes() const { return FModes; }
  void SetModes(TModes V) { FModes = V; }
  TStrings* GetLines() const { return FLines; }
  TGadget* GetPeer() const { return FPeer; }
  void SetPeer(TGadget* V) {
    if (FPeer == V) return;
    if (FPeer) FPeer->RemoveFreeNotification(this);
    FPeer = V;
    if (FPeer) FPeer->FreeNotification(this);
  }

  void Loaded() override {
    TComponent::Loaded();
    WasLoading = ComponentState().Contains(csLoading);
    WasReading = ComponentState().Contains(csReading);
    PeerAtLoaded = FPeer;
    ++LoadedCalls;
    if (StreamedActive) FActive = true;
    if (FailInLoaded) throw EDatabaseError("cannot activate");
  }
  void Notification(TComponent* AComponent, TOperation Operation) override {
    TComponent::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent == FPeer) FPeer = nullptr;
  }

  std::vector<uint8_t> Blob;  // streamed through DefineProperties as "Data"
  bool StreamedActive = false;
  bool WasLoading = true, WasReading = true;
  TGadget* PeerAtLoaded = nullptr;
  int LoadedCalls = 0;
  static inline bool FailInLoaded = false;

protected:
  void DefineProperties(TFiler& Filer) override {
    TComponent::DefineProperties(Filer);
    Filer.DefineBinaryProperty(
        "Data",
        [this](TStream& S) {
          Blob.resize(static_cast<size_t>(S.GetSize()));
          if (!Blob.empty()) S.ReadBuffer(Blob.data(), static_cast<int64_t>(Blob.size()));
        },
        [this](TStream& S) { S.WriteBuffer(Blob.data(), static_cast<int64_t>(Blob.size())); }, !Blob.empty());
  }

private:
  bool FActive = false;
  int32_t FCount = 25;
  int64_t FBig = 0;
  double FRatio = 1.5;
  AnsiString FCaption;
  AnsiString FLibrary = "dblib9.dll";
  TMode FMode = mdRead;
  TModes FModes = {mdRead};
  TStringList* FLines;
  TGadget* FPeer = nullptr;
};

const TMetaClass& TGadget::StaticClass() {
  static const TMetaClass Meta = [] {
    TMetaClass M("TGadget", &TComponent::StaticClass(), TMetaClass::Factory<TGadget>());
    M.Property("Active", &TGadget::GetActive, &TGadget::SetActive, false);
    M.Property("Count", &TGadget::GetCount, &TGadget::SetCount, 25);
    M.Property("Big", &TGadget::GetBig, &TGadget::SetBig);  // no default: always written
    M.Property("Ratio", &TGadget::GetRatio, &TGadget::SetRatio, 1.5);
    M.Property("Caption", &TGadget::GetCaption, &TGadget::SetCaption);
    M.Property("Library", &TGadget::GetLibrary, &TGadget::SetLibrary, AnsiString("dblib9.dll"));
    M.EnumProperty("Mode", {"mdRead", "mdWrite", "mdBoth"}, &TGadget::GetMode, &TGadget::SetMode, 0);
    M.SetProperty("Modes", {"mdRead", "mdWrite", "mdBoth"}, &TGadget::GetModes, &TGadget::SetModes, 1);
    M.ObjectProperty("Lines", &TGadget::GetLines);
    M.ComponentProperty("Peer", &TGadget::GetPeer, &TGadget::SetPeer);
    return M;
  }();
  return Meta;
}

const bool GadgetRegistered = (RegisterClass(TGadget::StaticClass()), true);

}  // namespace

TEST(ComponentText, DefaultsAreLeftOut) {
  TGadget G(nullptr);
  G.SetName("Gadget1");
  EXPECT_EQ(ComponentToText(&G), "object Gadget1: TGadget\n  Big = 0\nend\n");
}

TEST(ComponentText, EveryKindIsWrittenReadably) {
  auto* Root = new TGadget(nullptr);
  Root->SetName("Root");
  Root->SetActive(true);
  Root->SetCount(-3);
  Root->SetBig(INT64_MIN);
  Root->SetRatio(0.1);
  Root->SetCaption("It's\tdone");
  Root->SetLibrary("");
  Root->SetMode(mdBoth);
  Root->SetModes({mdWrite, mdBoth});
  Root->GetLines()->SetText("select *\nfrom t");
  Root->Blob = {0x01, 0xAB, 0x00, 0xFF};
  auto* Child = new TGadget(Root);
  Child->SetName("Child");
  Child->SetPeer(Root);
  const AnsiString Text = ComponentToText(Root);
  const AnsiString Expected =
      "object Root: TGadget\n"
      "  Active = True\n"
      "  Count = -3\n"
      "  Big = -9223372036854775808\n"
      "  Ratio = 0.1\n"
      "  Caption = 'It''s'#9'done'\n"
      "  Library = ''\n"
      "  Mode = mdBoth\n"
      "  Modes = [mdWrite, mdBoth]\n"
      "  Lines.Strings = (\n"
      "    'select *'\n"
      "    'from t')\n"
      "  Data = {\n"
      "    01AB00FF}\n"
      "  object Child: TGadget\n"
      "    Big = 0\n"
      "    Peer = Root\n"
      "  end\n"
      "end\n";
  EXPECT_EQ(Text, Expected);
  delete Root;
}

TEST(ComponentText, RoundTripRestoresEveryPropertyAndTheTree) {
  auto* Root = new TGadget(nullptr);
  Root->SetName("Root");
  Root->SetCaption(AnsiString("line1\r\nline2 \xE9", 14));
  Root->SetRatio(-2.5e-300);
  Root->SetModes({});
  Root->GetLines()->Add("");
  Root->GetLines()->Add("'quoted'");
  Root->Blob.assign(100, 0x5A);
  auto* A = new TGadget(Root);
  A->SetName("A");
  auto* B = new TGadget(Root);
  B->SetName("B");
  B->SetPeer(A);
  A->SetPeer(B);  // a reference to a component read later
  const AnsiString Text = ComponentToText(Root);
  delete Root;

  auto* Copy = static_cast<TGadget*>(TextToComponent(Text));
  ASSERT_NE(Copy, nullptr);
  EXPECT_EQ(Copy->GetName(), "Root");
  EXPECT_EQ(Copy->GetCaption(), AnsiString("line1\r\nline2 \xE9", 14));
  EXPECT_EQ(Copy->GetRatio(), -2.5e-300);
  EXPECT_TRUE(Copy->GetModes().Empty());
  ASSERT_EQ(Copy->GetLines()->Count(), 2);
  EXPECT_EQ((*Copy->GetLines())[1], "'quoted'");
  EXPECT_EQ(Copy->Blob, std::vector<uint8_t>(100, 0x5A));
  ASSERT_EQ(Copy->ComponentCount(), 2);
  auto* CA = static_cast<TGadget*>(Copy->FindComponent("A"));
  auto* CB = static_cast<TGadget*>(Copy->FindComponent("B"));
  ASSERT_TRUE(CA && CB);
  EXPECT_EQ(CA->GetPeer(), CB);
  EXPECT_EQ(CB->GetPeer(), CA);
  EXPECT_EQ(ComponentToText(Copy), Text);  // and it writes back identically
  delete Copy;
}

TEST(ComponentText, ReadingSetsFlagsThenCallsLoadedAfterFixups) {
  const AnsiString Text =
      "object Root: TGadget\n"
      "  Active = True\n"
      "  object Inner: TGadget\n"
      "    Peer = Later\n"
      "  end\n"
      "  object Later: TGadget\n"
      "  end\n"
      "end\n";
  TGadget Root(nullptr);
  TextToComponent(Text, &Root);
  EXPECT_TRUE(Root.StreamedActive);  // the setter saw csReading
  EXPECT_TRUE(Root.GetActive());     // and Loaded applied it
  EXPECT_EQ(Root.LoadedCalls, 1);
  EXPECT_FALSE(Root.WasLoading);  // cleared by TComponent::Loaded
  EXPECT_FALSE(Root.WasReading);  // cleared before any Loaded
  auto* Inner = static_cast<TGadget*>(Root.FindComponent("Inner"));
  ASSERT_NE(Inner, nullptr);
  EXPECT_EQ(Inner->PeerAtLoaded, Root.FindComponent("Later"));  // fixed up before Loaded
  EXPECT_FALSE(Inner->ComponentState().Contains(csLoading));
  EXPECT_EQ(Inner->LoadedCalls, 1);
}

TEST(ComponentText, ReadingIntoAnInstanceReusesItsNamedChildren) {
  TGadget Root(nullptr);
  auto* Existing = new TGadget(&Root);
  Existing->SetName("Kid");
  TextToComponent("object Root: TGadget\n  object Kid: TGadget\n    Count = 7\n  end\nend\n", &Root);
  ASSERT_EQ(Root.ComponentCount(), 1);
  EXPECT_EQ(Root.Components(0), Existing);
  EXPECT_EQ(Existing->GetCount(), 7);
}

TEST(ComponentText, DesigningOwnerMarksCreatedComponents) {
  TComponent Form(nullptr);
  Form.SetDesigning(true);
  TComponent* C = TextToComponent("object G: TGadget\nend\n", nullptr, &Form);
  EXPECT_EQ(C->Owner(), &Form);
  EXPECT_TRUE(C->ComponentState().Contains(csDesigning));
}

TEST(ComponentText, BadTextRaisesAndLeavesNothingBehind) {
  struct Case {
    const char* Text;
    const char* Fragment;  // part of the expected message
  };
  const Case Cases[] = {
      {"object G: TGadget\n  Nope = 1\nend\n", "Property Nope does not exist"},
      {"object G: TGadget\n  Count = 'x'\nend\n", "Error reading G.Count"},
      {"object G: TGadget\n  Mode = mdFly\nend\n", "mdFly"},
      {"object G: TGadget\n  Peer = Nobody\nend\n", "Unresolved reference to Nobody"},
      {"object G: TGadget\n  Data = {0A1}\nend\n", "hex"},
      {"object G: TGadget\n  Caption = 'open\nend\n", "Unterminated string"},
      {"object G: TGadget\n  Count = 1\n", "'end' expected"},
      {"object G: TGadget\nend\nend\n", "End of text expected"},
      {"object G: TGadget\n  Lines.Strings = ('a' 'b'\nend\n", ""},
      {"thing G: TGadget\nend\n", "'object' expected"},
      {"object G: TGadget\n  Modes = [mdRead mdBoth]\nend\n", "']' expected"},
      {"object G: TGadget\n  Caption = #300\nend\n", "Invalid character code"},
  };
  for (const Case& C : Cases) {
    TComponent Owner(nullptr);
    try {
      TextToComponent(C.Text, nullptr, &Owner);
      ADD_FAILURE() << "no error for: " << C.Text;
    } catch (const EReadError& E) {
      EXPECT_NE(E.Message().find(C.Fragment), AnsiString::npos) << E.Message();
    }
    EXPECT_EQ(Owner.ComponentCount(), 0) << C.Text;  // the half-read component was freed
  }
  TComponent Owner(nullptr);
  EXPECT_THROW(TextToComponent("object X: TNoSuchClass\nend\n", nullptr, &Owner), EClassNotFound);
  EXPECT_THROW(TextToComponent("object G: TGadget\n  object X: TNoSuchClass\n  end\nend\n", nullptr, &Owner),
               EClassNotFound);
  EXPECT_EQ(Owner.ComponentCount(), 0);  // the outer one went too
}

// Objects nest recursively: on a thread with 256 KB of stack, 64 levels read and anything deeper
// is a parse error, not a stack overflow.
TEST(ComponentText, NestingIsLimitedWellInsideASmallStack) {
  auto Nested = [](int Levels) {
    AnsiString Text;
    for (int I = 0; I < Levels; ++I) Text += "object K: TGadget\n";
    for (int I = 0; I < Levels; ++I) Text += "end\n";
    return Text;
  };
  zyltest::RunOnSmallStack([&] {
    TComponent Owner(nullptr);
    EXPECT_NO_THROW(TextToComponent(Nested(64), nullptr, &Owner));
    TComponent Other(nullptr);
    for (int Levels : {65, 100000}) {
      try {
        TextToComponent(Nested(Levels), nullptr, &Other);
        ADD_FAILURE() << Levels << " levels were read";
      } catch (const EReadError& E) {
        EXPECT_NE(E.Message().find("nesting deeper than 64 levels"), AnsiString::npos) << E.Message();
      }
      EXPECT_EQ(Other.ComponentCount(), 0);
    }
  });
}

TEST(ComponentText, AnExceptionFromLoadedPropagatesAndFreesTheCreatedTree) {
  TComponent Owner(nullptr);
  TGadget::FailInLoaded = true;
  EXPECT_THROW(TextToComponent("object G: TGadget\n  object H: TGadget\n  end\nend\n", nullptr, &Owner),
               EDatabaseError);
  TGadget::FailInLoaded = false;
  EXPECT_EQ(Owner.ComponentCount(), 0);
}

TEST(ComponentText, ReadingIntoAnInstanceClearsItsFlagsOnFailure) {
  TGadget Root(nullptr);
  EXPECT_THROW(TextToComponent("object Root: TGadget\n  Nope = 1\nend\n", &Root), EReadError);
  EXPECT_FALSE(Root.ComponentState().Contains(csLoading));
  EXPECT_FALSE(Root.ComponentState().Contains(csReading));
  EXPECT_THROW(TextToComponent("object Root: TStringList\nend\n", &Root), EReadError);  // wrong class
}

TEST(ComponentText, StringsJoinedWithPlusAndIntegersInHex) {
  TGadget G(nullptr);
  TextToComponent("object G: TGadget\n  Caption = 'ab' +\n    'cd'#13#10\n  Count = $10\n  Ratio = 2\nend\n", &G);
  EXPECT_EQ(G.GetCaption(), "abcd\r\n");
  EXPECT_EQ(G.GetCount(), 16);
  EXPECT_EQ(G.GetRatio(), 2.0);
}

namespace {
class TColumn : public TCollectionItem {
public:
  using TCollectionItem::TCollectionItem;
  static const TMetaClass& StaticClass() {
    static const TMetaClass Meta = [] {
      TMetaClass M("TColumn", &TCollectionItem::StaticClass());
      M.Property("Title", &TColumn::GetTitle, &TColumn::SetTitle);
      M.Property("Width", &TColumn::GetWidth, &TColumn::SetWidth, 64);
      return M;
    }();
    return Meta;
  }
  const TMetaClass& ClassType() const override { return StaticClass(); }
  AnsiString GetTitle() const { return FTitle; }
  void SetTitle(const AnsiString& V) { FTitle = V; }
  int GetWidth() const { return FWidth; }
  void SetWidth(int V) { FWidth = V; }

private:
  AnsiString FTitle;
  int FWidth = 64;
};

class TGrid : public TComponent {
public:
  explicit TGrid(TComponent* Owner)
      : TComponent(Owner), FColumns(TColumn::StaticClass(), [](TCollection* C) { return new TColumn(C); }) {}
  static const TMetaClass& StaticClass() {
    static const TMetaClass Meta = [] {
      TMetaClass M("TGrid", &TComponent::StaticClass(), TMetaClass::Factory<TGrid>());
      M.ObjectProperty("Columns", &TGrid::GetColumns);
      return M;
    }();
    return Meta;
  }
  const TMetaClass& ClassType() const override { return StaticClass(); }
  TCollection* GetColumns() const { return const_cast<TCollection*>(&FColumns); }

private:
  TCollection FColumns;
};
}  // namespace

TEST(ComponentText, CollectionsRoundTrip) {
  RegisterClass(TGrid::StaticClass());
  TGrid Grid(nullptr);
  Grid.SetName("Grid1");
  static_cast<TColumn*>(Grid.GetColumns()->Add())->SetTitle("ID");
  auto* Wide = static_cast<TColumn*>(Grid.GetColumns()->Add());
  Wide->SetTitle("Name");
  Wide->SetWidth(200);
  const AnsiString Text = ComponentToText(&Grid);
  EXPECT_EQ(Text,
            "object Grid1: TGrid\n"
            "  Columns = <\n"
            "    item\n"
            "      Title = 'ID'\n"
            "    end\n"
            "    item\n"
            "      Title = 'Name'\n"
            "      Width = 200\n"
            "    end>\n"
            "end\n");
  TComponent* Copy = TextToComponent(Text);
  auto* G = static_cast<TGrid*>(Copy);
  ASSERT_EQ(G->GetColumns()->Count(), 2);
  EXPECT_EQ(static_cast<TColumn*>(G->GetColumns()->Items(1))->GetWidth(), 200);
  EXPECT_EQ(static_cast<TColumn*>(G->GetColumns()->Items(0))->GetWidth(), 64);
  delete Copy;
}
