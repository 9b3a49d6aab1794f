// The design-time registry: palette pages, property-editor look-up from most to
// least specific, component editors with verbs, and the designer running them.
#include <gtest/gtest.h>

#include "host/Design.h"

namespace {

class TThing : public TComponent {
public:
  using TComponent::TComponent;
  static const TMetaClass& StaticClass() {
    static const TMetaClass Meta = [] {
      TMetaClass M("TThing", &TComponent::StaticClass(), TMetaClass::Factory<TThing>());
      M.Property("FileName", &TThing::GetFileName, &TThing::SetFileName, Variant(AnsiString()));
      M.Property("Path", &TThing::GetPath, &TThing::SetPath, Variant(AnsiString()));
      return M;
    }();
    return Meta;
  }
  const TMetaClass& ClassType() const override { return StaticClass(); }
  AnsiString GetFileName() const { return FFileName; }
  void SetFileName(AnsiString V) { FFileName = std::move(V); }
  AnsiString GetPath() const { return FPath; }
  void SetPath(AnsiString V) { FPath = std::move(V); }

private:
  AnsiString FFileName, FPath;
};

class TSubThing : public TThing {
public:
  using TThing::TThing;
  static const TMetaClass& StaticClass() {
    static const TMetaClass Meta("TSubThing", &TThing::StaticClass(), TMetaClass::Factory<TSubThing>());
    return Meta;
  }
  const TMetaClass& ClassType() const override { return StaticClass(); }
};

// Editors that say who they are through their value.
template <int N>
class TTaggedEditor : public TPropertyEditor {
public:
  using TPropertyEditor::TPropertyEditor;
  TPropertyAttributes GetAttributes() override { return {paDialog, paRevertable}; }
  AnsiString GetValue() override { return "editor" + std::to_string(N); }
  void Edit() override { SetStrValue("picked by " + std::to_string(N)); }
};

class TListEditor : public TPropertyEditor {
public:
  using TPropertyEditor::TPropertyEditor;
  TPropertyAttributes GetAttributes() override { return {paValueList, paMultiSelect, paSortList}; }
  void GetValues(const TGetStrProc& Proc) override {
    for (const char* V : {"dba.zeta", "dba.alpha", "sys.mid"}) Proc(V);
  }
};

class TVerbEditor : public TComponentEditor {
public:
  using TComponentEditor::TComponentEditor;
  int GetVerbCount() override { return 2; }
  AnsiString GetVerb(int Index) override { return Index == 0 ? "&Login..." : "About"; }
  void ExecuteVerb(int Index) override {
    Ran.push_back(Index);
    Designer()->Modified();
  }
  static inline std::vector<int> Ran;
};

class DesignTest : public ::testing::Test {
protected:
  void SetUp() override { ClearDesignRegistry(); }
  void TearDown() override { ClearDesignRegistry(); }
};

}  // namespace

TEST_F(DesignTest, PalettePagesKeepRegistrationOrderAndIgnoreRepeats) {
  RegisterComponents("Zylobase", {&TThing::StaticClass(), &TSubThing::StaticClass()});
  RegisterComponents("Other", {&TThing::StaticClass()});
  RegisterComponents("Zylobase", {&TThing::StaticClass()});
  EXPECT_EQ(PalettePages(), (std::vector<AnsiString>{"Zylobase", "Other"}));
  auto On = PaletteComponents("Zylobase");
  ASSERT_EQ(On.size(), 2u);
  EXPECT_EQ(On[0]->ClassName(), "TThing");
  EXPECT_EQ(On[1]->ClassName(), "TSubThing");
  EXPECT_TRUE(PaletteComponents("None").empty());
  EXPECT_NE(GetClass("TSubThing"), nullptr) << "registered components can be read from forms";
}

TEST_F(DesignTest, PropertyEditorLookupPrefersNameThenNearestClassThenLatest) {
  TComponent Root(nullptr);
  auto* Sub = new TSubThing(&Root);
  auto* Plain = new TThing(&Root);
  TDesigner Designer(&Root);
  EXPECT_EQ(Designer.GetPropertyEditor({Sub}, "FileName"), nullptr) << "nothing registered";

  RegisterPropertyEditor("AnsiString", nullptr, "", PropertyEditorOf<TTaggedEditor<1>>());
  EXPECT_EQ(Designer.GetPropertyEditor({Sub}, "FileName")->GetValue(), "editor1");
  RegisterPropertyEditor("AnsiString", &TThing::StaticClass(), "", PropertyEditorOf<TTaggedEditor<2>>());
  EXPECT_EQ(Designer.GetPropertyEditor({Sub}, "FileName")->GetValue(), "editor2") << "a class beats no class";
  RegisterPropertyEditor("AnsiString", &TSubThing::StaticClass(), "", PropertyEditorOf<TTaggedEditor<3>>());
  EXPECT_EQ(Designer.GetPropertyEditor({Sub}, "FileName")->GetValue(), "editor3") << "the nearer class wins";
  EXPECT_EQ(Designer.GetPropertyEditor({Plain}, "FileName")->GetValue(), "editor2") << "a subclass's editor is not a base's";
  RegisterPropertyEditor("AnsiString", &TThing::StaticClass(), "filename", PropertyEditorOf<TTaggedEditor<4>>());
  EXPECT_EQ(Designer.GetPropertyEditor({Sub}, "FileName")->GetValue(), "editor4") << "a named property beats any class";
  EXPECT_EQ(Designer.GetPropertyEditor({Sub}, "Path")->GetValue(), "editor3");
  RegisterPropertyEditor("AnsiString", &TSubThing::StaticClass(), "", PropertyEditorOf<TTaggedEditor<5>>());
  EXPECT_EQ(Designer.GetPropertyEditor({Sub}, "Path")->GetValue(), "editor5") << "the later of equals wins";
  RegisterPropertyEditor("Integer", nullptr, "Path", PropertyEditorOf<TTaggedEditor<6>>());
  EXPECT_EQ(Designer.GetPropertyEditor({Sub}, "Path")->GetValue(), "editor5") << "another type does not match";
  EXPECT_EQ(Designer.GetPropertyEditor({Sub, Plain}, "Path")->GetValue(), "editor2")
      << "a multi-selection takes what fits every component";
}

TEST_F(DesignTest, DialogEditorRunsThroughTheDesignerAndReportsModified) {
  TComponent Root(nullptr);
  auto* Thing = new TThing(&Root);
  Thing->SetName("Thing1");
  TDesigner Designer(&Root);
  RegisterPropertyEditor("AnsiString", &TThing::StaticClass(), "FileName", PropertyEditorOf<TTaggedEditor<7>>());
  EXPECT_EQ(Designer.FindComponent("Thing1"), Thing);
  EXPECT_EQ(Designer.Components().size(), 1u);
  EXPECT_TRUE(Designer.EditProperty(Thing, "FileName"));
  EXPECT_EQ(Thing->GetFileName(), "picked by 7");
  EXPECT_EQ(Designer.ModifiedCount(), 1);
  EXPECT_FALSE(Designer.EditProperty(Thing, "Path")) << "no editor for it";
  EXPECT_FALSE(Designer.EditProperty(Thing, "NoSuchProperty"));
}

TEST_F(DesignTest, ValueListEditorSortsWhenAskedAndPlainEditorWritesEveryComponent) {
  TComponent Root(nullptr);
  auto* A = new TThing(&Root);
  auto* B = new TThing(&Root);
  TDesigner Designer(&Root);
  RegisterPropertyEditor("AnsiString", nullptr, "Path", PropertyEditorOf<TListEditor>());
  auto Editor = Designer.GetPropertyEditor({A}, "Path");
  ASSERT_NE(Editor, nullptr);
  EXPECT_TRUE(Editor->GetAttributes().Contains(paMultiSelect));
  EXPECT_EQ(Editor->ValueList(), (std::vector<AnsiString>{"dba.alpha", "dba.zeta", "sys.mid"}));
  RegisterPropertyEditor("AnsiString", nullptr, "", PropertyEditorOf<TPropertyEditor>());
  auto Plain = Designer.GetPropertyEditor({A, B}, "FileName");
  Plain->SetValue("x.db");
  EXPECT_EQ(A->GetFileName(), "x.db");
  EXPECT_EQ(B->GetFileName(), "x.db");
  EXPECT_EQ(Plain->GetValue(), "x.db");
  EXPECT_EQ(Designer.ModifiedCount(), 1);
}

TEST_F(DesignTest, ComponentEditorsByNearestClassWithVerbs) {
  TComponent Root(nullptr);
  auto* Sub = new TSubThing(&Root);
  auto* Plain = new TComponent(&Root);
  TDesigner Designer(&Root);
  int Notified = 0;
  Designer.OnModified = [&] { ++Notified; };
  auto None = Designer.GetComponentEditor(Plain);
  EXPECT_EQ(None->GetVerbCount(), 0);
  None->Edit();  // nothing to run
  RegisterComponentEditor(&TThing::StaticClass(), ComponentEditorOf<TVerbEditor>());
  auto E = Designer.GetComponentEditor(Sub);
  ASSERT_EQ(E->GetVerbCount(), 2);
  EXPECT_EQ(E->GetVerb(0), "&Login...");
  TVerbEditor::Ran.clear();
  E->Edit();
  E->ExecuteVerb(1);
  EXPECT_EQ(TVerbEditor::Ran, (std::vector<int>{0, 1}));
  EXPECT_EQ(Notified, 2);
  EXPECT_EQ(Designer.GetComponentEditor(Plain)->GetVerbCount(), 0) << "a base class does not get a subclass's editor";
}
