// Ownership, naming, state flags, notifications and free-notification of
// components; Assign; the class registry; TList.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/Classes.h"

namespace {

// Records every notification it receives, and where it was in its life.
class TProbe : public TComponent {
public:
  explicit TProbe(TComponent* Owner, std::vector<std::string>* Log = nullptr) : TComponent(Owner), FLog(Log) {}
  ~TProbe() override {
    if (FLog) FLog->push_back("~" + GetName() + (ComponentState().Contains(csDestroying) ? " destroying" : ""));
  }
  void Notification(TComponent* AComponent, TOperation Operation) override {
    TComponent::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent == Ref) Ref = nullptr;
    if (FLog && AComponent)
      FLog->push_back(GetName() + (Operation == opInsert ? " +" : " -") + AComponent->GetName());
  }
  TComponent* Ref = nullptr;  // cleared when the referenced component goes

private:
  std::vector<std::string>* FLog;
};

class TAssignable : public TPersistent {
public:
  int Value = 0;
  void Assign(const TPersistent* Source) override {
    if (auto* A = dynamic_cast<const TAssignable*>(Source)) {
      Value = A->Value;
      return;
    }
    TPersistent::Assign(Source);
  }
};

// Knows how to copy itself into a TAssignable, which knows nothing of it.
class TExporter : public TPersistent {
protected:
  void AssignTo(TPersistent* Dest) const override {
    if (auto* A = dynamic_cast<TAssignable*>(Dest)) {
      A->Value = 99;
      return;
    }
    TPersistent::AssignTo(Dest);
  }
};

}  // namespace

TEST(ComponentOwnership, OwnerListsAndFreesWhatItOwns) {
  std::vector<std::string> Log;
  auto* Owner = new TProbe(nullptr, &Log);
  Owner->SetName("Owner");
  auto* A = new TProbe(Owner, &Log);
  A->SetName("A");
  auto* B = new TProbe(Owner, &Log);
  B->SetName("B");
  auto* AChild = new TProbe(A, &Log);
  AChild->SetName("AChild");
  EXPECT_EQ(Owner->ComponentCount(), 2);
  EXPECT_EQ(Owner->Components(1), B);
  EXPECT_EQ(B->ComponentIndex(), 1);
  EXPECT_EQ(AChild->Owner(), A);
  EXPECT_EQ(Owner->FindComponent("b"), B);  // names compare without case
  EXPECT_EQ(Owner->FindComponent("AChild"), nullptr);  // only directly owned ones
  EXPECT_THROW(Owner->Components(2), EListError);
  Log.clear();
  delete Owner;
  // The owner's destructor body runs first, already marked destroying; then the
  // owned ones go last first, each removed (the remaining siblings, and what they
  // own, told) before it dies. The owner's own override is no longer reached.
  const std::vector<std::string> Expected = {"~Owner destroying", "AChild -B", "A -B", "~B destroying",
                                             "~A destroying", "~AChild destroying"};
  EXPECT_EQ(Log, Expected);
}

TEST(ComponentOwnership, DeletingAnOwnedComponentLeavesTheOwner) {
  TComponent Owner(nullptr);
  auto* C = new TComponent(&Owner);
  auto* D = new TComponent(&Owner);
  delete C;
  EXPECT_EQ(Owner.ComponentCount(), 1);
  EXPECT_EQ(Owner.Components(0), D);
}

TEST(ComponentOwnership, InsertMovesBetweenOwners) {
  TComponent First(nullptr), Second(nullptr);
  auto* C = new TComponent(&First);
  Second.InsertComponent(C);
  EXPECT_EQ(First.ComponentCount(), 0);
  EXPECT_EQ(Second.ComponentCount(), 1);
  EXPECT_EQ(C->Owner(), &Second);
  Second.RemoveComponent(C);
  EXPECT_EQ(C->Owner(), nullptr);
  delete C;  // unowned: the creator frees it
}

TEST(ComponentNames, MustBeIdentifiersAndUniqueWithinTheOwner) {
  TComponent Owner(nullptr);
  auto* A = new TComponent(&Owner);
  auto* B = new TComponent(&Owner);
  A->SetName("Session1");
  EXPECT_THROW(B->SetName("SESSION1"), EComponentError);
  EXPECT_EQ(B->GetName(), "");
  EXPECT_THROW(B->SetName("1abc"), EComponentError);
  EXPECT_THROW(B->SetName("a b"), EComponentError);
  B->SetName("Session2");
  A->SetName("session1");  // renaming to itself in another case is fine
  EXPECT_EQ(A->GetName(), "session1");
  // Inserting a component whose name is taken fails and leaves it where it was.
  TComponent Other(nullptr);
  auto* C = new TComponent(&Other);
  C->SetName("Session2");
  EXPECT_THROW(Owner.InsertComponent(C), EComponentError);
  EXPECT_EQ(C->Owner(), &Other);
}

TEST(ComponentNotification, InsertAndRemoveReachOwnerAndSiblings) {
  std::vector<std::string> Log;
  TProbe Owner(nullptr, &Log);
  Owner.SetName("Owner");
  auto* A = new TProbe(&Owner, &Log);
  A->SetName("A");
  auto* B = new TProbe(nullptr, &Log);
  B->SetName("B");
  Log.clear();
  Owner.InsertComponent(B);
  // The probe passes the event on before it logs, so the sibling comes first.
  EXPECT_EQ(Log, (std::vector<std::string>{"A +B", "Owner +B"}));
  Log.clear();
  Owner.RemoveComponent(B);
  EXPECT_EQ(Log, (std::vector<std::string>{"A -B", "Owner -B"}));
  Log.clear();
  delete B;
  EXPECT_EQ(Log, (std::vector<std::string>{"~B destroying"}));
}

TEST(ComponentNotification, FreeNotificationClearsReferencesAcrossOwners) {
  auto* FormA = new TComponent(nullptr);
  auto* FormB = new TComponent(nullptr);
  auto* Holder = new TProbe(FormA);
  auto* Target = new TProbe(FormB);
  Holder->Ref = Target;
  Holder->FreeNotification(Target);
  EXPECT_TRUE(Target->ComponentState().Contains(csFreeNotification));
  delete FormB;  // takes Target with it
  EXPECT_EQ(Holder->Ref, nullptr);
  // The relation is mutual and ended: deleting the holder now touches nothing freed.
  delete FormA;
}

TEST(ComponentNotification, HolderDestroyedFirstUnregistersItself) {
  auto* Target = new TProbe(nullptr);
  auto* Holder = new TProbe(nullptr);
  Holder->Ref = Target;
  Holder->FreeNotification(Target);
  delete Holder;
  EXPECT_FALSE(Target->ComponentState().Contains(csFreeNotification));
  delete Target;  // must not notify the freed holder (ASan would catch it)
}

TEST(ComponentNotification, RemoveFreeNotificationStopsTheMessage) {
  std::vector<std::string> Log;
  auto* Target = new TProbe(nullptr, &Log);
  Target->SetName("T");
  TProbe Holder(nullptr, &Log);
  Holder.SetName("H");
  Holder.FreeNotification(Target);
  Holder.RemoveFreeNotification(Target);
  Log.clear();
  delete Target;
  EXPECT_EQ(Log, (std::vector<std::string>{"~T destroying"}));
}

TEST(ComponentState, DesigningReachesOwnedComponents) {
  TComponent Owner(nullptr);
  auto* C = new TComponent(&Owner);
  Owner.SetDesigning(true);
  EXPECT_TRUE(C->ComponentState().Contains(csDesigning));
  Owner.SetDesigning(false, false);
  EXPECT_FALSE(Owner.ComponentState().Contains(csDesigning));
  EXPECT_TRUE(C->ComponentState().Contains(csDesigning));
}

TEST(ComponentClasses, RegistryFindsClassesByNameWithoutCase) {
  RegisterClass(TComponent::StaticClass());
  RegisterClass(TComponent::StaticClass());  // again: harmless
  EXPECT_EQ(GetClass("tcomponent"), &TComponent::StaticClass());
  EXPECT_EQ(GetClass("TNoSuchClass"), nullptr);
  EXPECT_THROW(FindClass("TNoSuchClass"), EClassNotFound);
  static const TMetaClass Impostor("TComponent", &TPersistent::StaticClass());
  EXPECT_THROW(RegisterClass(Impostor), EFilerError);
  TComponent* C = FindClass("TComponent").CreateComponent(nullptr);
  EXPECT_EQ(C->ClassName(), "TComponent");
  delete C;
  EXPECT_THROW(TPersistent::StaticClass().CreateComponent(nullptr), EClassNotFound);
  EXPECT_TRUE(TStringList::StaticClass().InheritsFrom(TPersistent::StaticClass()));
  EXPECT_FALSE(TPersistent::StaticClass().InheritsFrom(TStringList::StaticClass()));
}

TEST(PersistentAssign, SourceAndDestinationBothGetAChance) {
  TAssignable A, B;
  B.Value = 5;
  A.Assign(&B);
  EXPECT_EQ(A.Value, 5);
  TExporter E;
  A.Assign(&E);  // A does not know TExporter; TExporter::AssignTo does the work
  EXPECT_EQ(A.Value, 99);
  TStringList L;
  try {
    A.Assign(&L);
    FAIL();
  } catch (const EConvertError& Err) {
    EXPECT_EQ(Err.Message(), "Cannot assign a TStringList to a TPersistent");
  }
  EXPECT_THROW(A.Assign(nullptr), EConvertError);
}

TEST(List, IndexesAreChecked) {
  int X = 1, Y = 2, Z = 3;
  TList L;
  L.Add(&X);
  L.Add(&Y);
  L.Insert(0, &Z);
  EXPECT_EQ(L.Items(0), &Z);
  EXPECT_EQ(L.IndexOf(&Y), 2);
  EXPECT_EQ(L.Remove(&X), 1);
  EXPECT_EQ(L.Remove(&X), -1);
  EXPECT_THROW(L.Items(2), EListError);
  EXPECT_THROW(L.Items(-1), EListError);
  EXPECT_THROW(L.Insert(5, &X), EListError);
  L.Add(nullptr);
  L.Pack();
  EXPECT_EQ(L.Count(), 2);
  L.Move(0, 1);
  EXPECT_EQ(L.First(), &Y);
  L.Sort([](void* A, void* B) { return *static_cast<int*>(B) - *static_cast<int*>(A); });
  EXPECT_EQ(L.First(), &Z);
  EXPECT_EQ(L.Extract(&Z), &Z);
  EXPECT_EQ(L.Count(), 1);
}

namespace {
class TFailing : public TComponent {
public:
  explicit TFailing(TComponent* Owner) : TComponent(Owner) { throw EComponentError("refused"); }
};
}  // namespace

TEST(ComponentOwnership, AConstructorThatThrowsLeavesNoDanglingEntry) {
  TComponent Owner(nullptr);
  EXPECT_THROW(new TFailing(&Owner), EComponentError);  // ASan reports a wrong deallocation
  EXPECT_EQ(Owner.ComponentCount(), 0);
}

namespace {
enum TFlag : uint8_t { fA = 0, fB = 1, fC = 7 };
using TFlags = TSet<TFlag, uint8_t>;
}  // namespace

TEST(Sets, OrdinalsAreBitPositions) {
  TFlags S{fA, fC};
  EXPECT_EQ(S.Bits(), 0x81);
  EXPECT_TRUE(S.Contains(fC));
  EXPECT_FALSE(S.Contains(fB));
  S.Include(fB).Exclude(fA);
  EXPECT_EQ(S.Bits(), 0x82);
  EXPECT_EQ((S | fA).Bits(), 0x83);
  EXPECT_EQ((S - TFlags{fB}).Bits(), 0x80);
  EXPECT_EQ((S & TFlags{fB, fA}).Bits(), 0x02);
  EXPECT_TRUE(TFlags().Empty());
  EXPECT_EQ(TFlags::FromBits(0x81), (TFlags{fA, fC}));
  // An ordinal beyond the storage is neither stored nor found.
  EXPECT_FALSE(TFlags().Include(static_cast<TFlag>(9)).Contains(static_cast<TFlag>(9)));
}

namespace {
class TBase : public TComponent {
public:
  using TComponent::TComponent;
  static const TMetaClass& StaticClass() {
    static const TMetaClass Meta = [] {
      TMetaClass M("TBase", &TComponent::StaticClass());
      M.Property("Size", &TBase::GetSize, &TBase::SetSize, 10);
      M.Property("Label", &TBase::GetLabel, &TBase::SetLabel);
      return M;
    }();
    return Meta;
  }
  const TMetaClass& ClassType() const override { return StaticClass(); }
  int GetSize() const { return FSize; }
  void SetSize(int V) { FSize = V; }
  AnsiString GetLabel() const { return FLabel; }
  void SetLabel(const AnsiString& V) { FLabel = V; }

protected:
  int FSize = 10;
  AnsiString FLabel;
};
class TDerived : public TBase {
public:
  explicit TDerived(TComponent* Owner) : TBase(Owner) { FSize = 20; }
  static const TMetaClass& StaticClass() {
    static const TMetaClass Meta = [] {
      TMetaClass M("TDerived", &TBase::StaticClass(), TMetaClass::Factory<TDerived>());
      M.Property("Size", &TBase::GetSize, &TBase::SetSize, 20);  // republished, new default
      M.Property("Extra", &TBase::GetSize, &TBase::SetSize).StoredWhen([](const TObject&) { return false; });
      return M;
    }();
    return Meta;
  }
  const TMetaClass& ClassType() const override { return StaticClass(); }
};
}  // namespace

TEST(ComponentClasses, PropertiesAreInheritedInOrderAndRepublishingReplaces) {
  std::vector<AnsiString> Names;
  for (const TPropInfo* P : TDerived::StaticClass().Properties()) Names.push_back(P->Name);
  EXPECT_EQ(Names, (std::vector<AnsiString>{"Tag", "Size", "Label", "Extra"}));
  EXPECT_EQ(TDerived::StaticClass().FindProperty("size")->Default.AsInteger(), 20);
  EXPECT_EQ(TBase::StaticClass().FindProperty("Size")->Default.AsInteger(), 10);
  EXPECT_EQ(TBase::StaticClass().FindProperty("Extra"), nullptr);
  TDerived D(nullptr);
  D.SetName("D");
  EXPECT_EQ(ComponentToText(&D), "object D: TDerived\nend\n");  // 20 is its default; Extra never stored
  D.SetSize(10);
  D.SetLabel("x");
  EXPECT_EQ(ComponentToText(&D), "object D: TDerived\n  Size = 10\n  Label = 'x'\nend\n");
  const TPropInfo* Size = TDerived::StaticClass().FindProperty("Size");
  Size->Set(D, Variant("33"));  // the accessors convert the value
  EXPECT_EQ(D.GetSize(), 33);
  EXPECT_THROW(Size->Set(D, Variant("big")), EConvertError);
  EXPECT_EQ(D.GetSize(), 33);
}
