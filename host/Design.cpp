// Design: the palette and editor registries and the designer's look-ups.
#include "host/Design.h"

#include <algorithm>
#include <mutex>

namespace {

struct TPropertyRegistration {
  AnsiString Type;
  const TMetaClass* Class;  // nullptr: any class
  AnsiString Name;          // empty: any property of the type
  TPropertyEditorFactory Factory;
  int Order;
};

struct TComponentRegistration {
  const TMetaClass* Class;
  TComponentEditorFactory Factory;
  int Order;
};

struct TRegistry {
  std::mutex Lock;
  std::vector<std::pair<AnsiString, std::vector<const TMetaClass*>>> Pages;
  std::vector<TPropertyRegistration> Properties;
  std::vector<TComponentRegistration> Components;
  int Next = 0;
};

TRegistry& Registry() {
  static TRegistry R;
  return R;
}

// Steps from Class up to Base; -1 when Class does not descend from Base.
int Distance(const TMetaClass& Class, const TMetaClass& Base) {
  int D = 0;
  for (const TMetaClass* C = &Class; C; C = C->ClassParent(), ++D)
    if (C == &Base) return D;
  return -1;
}

}  // namespace

void RegisterComponents(const AnsiString& Page, std::initializer_list<const TMetaClass*> Classes) {
  TRegistry& R = Registry();
  std::lock_guard<std::mutex> Guard(R.Lock);
  auto It = std::find_if(R.Pages.begin(), R.Pages.end(), [&](auto& P) { return P.first == Page; });
  if (It == R.Pages.end()) {
    R.Pages.emplace_back(Page, std::vector<const TMetaClass*>{});
    It = R.Pages.end() - 1;
  }
  for (const TMetaClass* C : Classes) {
    if (!C) continue;
    RegisterClass(*C);  // so that forms holding the component can be read back
    if (std::find(It->second.begin(), It->second.end(), C) == It->second.end()) It->second.push_back(C);
  }
}

std::vector<AnsiString> PalettePages() {
  TRegistry& R = Registry();
  std::lock_guard<std::mutex> Guard(R.Lock);
  std::vector<AnsiString> Result;
  for (auto& P : R.Pages) Result.push_back(P.first);
  return Result;
}

std::vector<const TMetaClass*> PaletteComponents(const AnsiString& Page) {
  TRegistry& R = Registry();
  std::lock_guard<std::mutex> Guard(R.Lock);
  for (auto& P : R.Pages)
    if (P.first == Page) return P.second;
  return {};
}

void RegisterPropertyEditor(const AnsiString& PropertyType, const TMetaClass* ComponentClass,
                            const AnsiString& PropertyName, TPropertyEditorFactory Factory) {
  TRegistry& R = Registry();
  std::lock_guard<std::mutex> Guard(R.Lock);
  R.Properties.push_back({PropertyType, ComponentClass, PropertyName, std::move(Factory), R.Next++});
}

void RegisterComponentEditor(const TMetaClass* ComponentClass, TComponentEditorFactory Factory) {
  TRegistry& R = Registry();
  std::lock_guard<std::mutex> Guard(R.Lock);
  R.Components.push_back({ComponentClass, std::move(Factory), R.Next++});
}

void ClearDesignRegistry() {
  TRegistry& R = Registry();
  std::lock_guard<std::mutex> Guard(R.Lock);
  R.Pages.clear();
  R.Properties.clear();
  R.Components.clear();
}

AnsiString PropertyTypeName(const TPropInfo& Info, const TObject& Instance) {
  switch (Info.Kind) {
    case tkInteger:
    case tkInt64: return "Integer";
    case tkFloat: return "Double";
    case tkEnumeration:
      return Info.EnumNames.size() == 2 && Info.EnumNames[0] == "False" ? "Boolean" : "Enumeration";
    case tkSet: return "Set";
    case tkVariant: return "Variant";
    case tkClass: {
      TObject* Value = Info.GetObject ? Info.GetObject(Instance) : nullptr;
      return Value ? Value->ClassName() : AnsiString("TObject");
    }
    default: return "AnsiString";
  }
}

// ---------------------------------------------------------------------------

TPropertyEditor::TPropertyEditor(TDesigner* Designer, std::vector<TPersistent*> Components, AnsiString PropName)
    : FDesigner(Designer), FComponents(std::move(Components)), FPropName(std::move(PropName)) {}

const TPropInfo* TPropertyEditor::PropInfo() const {
  return FComponents.empty() ? nullptr : FComponents[0]->ClassType().FindProperty(FPropName);
}

Variant TPropertyEditor::GetVarValue() const {
  const TPropInfo* P = PropInfo();
  if (!P || !P->Get) throw EInvalidOperation(Format("Property '%s' cannot be read", FPropName));
  return P->Get(*FComponents[0]);
}

void TPropertyEditor::SetVarValue(const Variant& Value) {
  for (TPersistent* C : FComponents) {
    const TPropInfo* P = C->ClassType().FindProperty(FPropName);
    if (!P || !P->Set) throw EInvalidOperation(Format("Property '%s' cannot be written", FPropName));
    P->Set(*C, Value);
  }
  Modified();
}

AnsiString TPropertyEditor::GetStrValue() const { return VarToStr(GetVarValue()); }

AnsiString TPropertyEditor::GetValue() { return GetStrValue(); }
void TPropertyEditor::SetValue(const AnsiString& Value) { SetStrValue(Value); }

std::vector<AnsiString> TPropertyEditor::ValueList() {
  std::vector<AnsiString> Values;
  GetValues([&](const AnsiString& V) { Values.push_back(V); });
  if (GetAttributes().Contains(paSortList))
    std::sort(Values.begin(), Values.end(), [](auto& A, auto& B) { return AnsiCompareText(A, B) < 0; });
  return Values;
}

void TPropertyEditor::Modified() {
  if (FDesigner) FDesigner->Modified();
}

// ---------------------------------------------------------------------------

std::vector<TComponent*> TDesigner::Components() const {
  std::vector<TComponent*> Result;
  if (!FRoot) return Result;
  for (int I = 0; I < FRoot->ComponentCount(); ++I) Result.push_back(FRoot->Components(I));
  return Result;
}

TComponent* TDesigner::FindComponent(const AnsiString& Name) const {
  return FRoot ? FRoot->FindComponent(Name) : nullptr;
}

std::unique_ptr<TPropertyEditor> TDesigner::GetPropertyEditor(std::vector<TPersistent*> Selection,
                                                              const AnsiString& PropName,
                                                              const AnsiString& PropertyType) {
  if (Selection.empty()) return nullptr;
  // Every type name the property answers to: its own, and for a class its ancestors'.
  std::vector<AnsiString> Types;
  if (!PropertyType.empty()) {
    Types.push_back(PropertyType);
  } else {
    const TPropInfo* Info = Selection[0]->ClassType().FindProperty(PropName);
    if (!Info) return nullptr;
    Types.push_back(PropertyTypeName(*Info, *Selection[0]));
    if (Info->Kind == tkClass && Info->GetObject)
      if (TObject* Value = Info->GetObject(*Selection[0]))
        for (const TMetaClass* C = Value->ClassType().ClassParent(); C; C = C->ClassParent())
          Types.push_back(C->ClassName());
  }
  TRegistry& R = Registry();
  TPropertyEditorFactory Best;
  {
    std::lock_guard<std::mutex> Guard(R.Lock);
    const TPropertyRegistration* Found = nullptr;
    int BestType = 0, BestDistance = 0;
    for (auto& Reg : R.Properties) {
      auto T = std::find(Types.begin(), Types.end(), Reg.Type);
      if (T == Types.end()) continue;
      if (!Reg.Name.empty() && !AnsiSameText(Reg.Name, PropName)) continue;
      int Dist = 1 << 20;  // no class: farther than any ancestor
      if (Reg.Class) {
        int Worst = 0;
        bool All = true;
        for (TPersistent* S : Selection) {
          int D = Distance(S->ClassType(), *Reg.Class);
          if (D < 0) All = false;
          Worst = std::max(Worst, D);
        }
        if (!All) continue;
        Dist = Worst;
      }
      int TypeRank = static_cast<int>(T - Types.begin());
      auto Better = [&] {
        if (!Found) return true;
        bool Named = !Reg.Name.empty(), FoundNamed = !Found->Name.empty();
        if (Named != FoundNamed) return Named;
        if (TypeRank != BestType) return TypeRank < BestType;
        if (Dist != BestDistance) return Dist < BestDistance;
        return Reg.Order > Found->Order;
      };
      if (Better()) {
        Found = &Reg;
        BestType = TypeRank;
        BestDistance = Dist;
      }
    }
    if (Found) Best = Found->Factory;
  }
  return Best ? Best(this, std::move(Selection), PropName) : nullptr;
}

std::unique_ptr<TComponentEditor> TDesigner::GetComponentEditor(TComponent* Component) {
  TComponentEditorFactory Best;
  {
    TRegistry& R = Registry();
    std::lock_guard<std::mutex> Guard(R.Lock);
    int BestDist = -1, BestOrder = -1;
    for (auto& Reg : R.Components) {
      int D = Reg.Class ? Distance(Component->ClassType(), *Reg.Class) : (1 << 20);
      if (D < 0) continue;
      if (BestDist < 0 || D < BestDist || (D == BestDist && Reg.Order > BestOrder)) {
        BestDist = D;
        BestOrder = Reg.Order;
        Best = Reg.Factory;
      }
    }
  }
  if (Best) return Best(Component, this);
  return std::make_unique<TComponentEditor>(Component, this);
}

bool TDesigner::EditProperty(TComponent* Component, const AnsiString& PropName, const AnsiString& PropertyType) {
  auto Editor = GetPropertyEditor({Component}, PropName, PropertyType);
  if (!Editor || !Editor->GetAttributes().Contains(paDialog)) return false;
  Editor->Edit();
  return true;
}
