// The component model: class records and the class registry, TPersistent,
// TComponent's ownership, naming, state and notifications, and TList.
#include <algorithm>
#include <map>
#include <mutex>

#include "host/Classes.h"
#include "host/Messages.h"

// ---------------------------------------------------------------------------
// TObject and TMetaClass

const TMetaClass& TObject::StaticClass() {
  static const TMetaClass Meta("TObject", nullptr);
  return Meta;
}

const TMetaClass& TObject::ClassType() const { return StaticClass(); }
AnsiString TObject::ClassName() const { return ClassType().ClassName(); }
bool TObject::InheritsFrom(const TMetaClass& Class) const { return ClassType().InheritsFrom(Class); }

bool TPropInfo::IsStored(const TObject& Instance) const {
  if (Stored && !Stored(Instance)) return false;
  if (Kind == tkClass) {
    if (IsReference()) return GetObject(Instance) != nullptr;
    return GetObject(Instance) != nullptr;  // nested objects decide per property
  }
  if (!Get) return false;
  const Variant Value = Get(Instance);
  if (Default.IsEmpty()) {
    // Strings default to the empty text; other kinds without default are always written.
    if (Kind == tkLString || Kind == tkString || Kind == tkWString) return !Value.AsString().empty();
    return true;
  }
  return !(Value == Default);
}

void ZylRtti::RaiseInvalidReference(const AnsiString& Property) {
  throw EReadError(LoadResString(SInvalidPropertyValue) + " (" + Property + ")");
}

TMetaClass::TMetaClass(AnsiString Name, const TMetaClass* Parent, TFactory Factory)
    : FName(std::move(Name)), FParent(Parent), FFactory(std::move(Factory)) {}

bool TMetaClass::InheritsFrom(const TMetaClass& Other) const {
  for (const TMetaClass* C = this; C; C = C->FParent)
    if (C == &Other) return true;
  return false;
}

std::vector<const TPropInfo*> TMetaClass::Properties() const {
  std::vector<const TPropInfo*> R = FParent ? FParent->Properties() : std::vector<const TPropInfo*>();
  for (const TPropInfo& P : FProps) {
    // A class may republish an inherited property with another default: it replaces it in place.
    auto It = std::find_if(R.begin(), R.end(), [&](const TPropInfo* Q) { return SameText(Q->Name, P.Name); });
    if (It != R.end()) *It = &P;
    else R.push_back(&P);
  }
  return R;
}

const TPropInfo* TMetaClass::FindProperty(const AnsiString& Name) const {
  for (const TMetaClass* C = this; C; C = C->FParent)
    for (const TPropInfo& P : C->FProps)
      if (SameText(P.Name, Name)) return &P;
  return nullptr;
}

TComponent* TMetaClass::CreateComponent(TComponent* Owner) const {
  if (!FFactory) throw EClassNotFound(Format(LoadResString(SClassNotFound), {FName}));
  return FFactory(Owner);
}

TMetaClass& TMetaClass::AddProperty(TPropInfo Info) {
  FProps.push_back(std::move(Info));
  return *this;
}

TMetaClass& TMetaClass::StoredWhen(std::function<bool(const TObject&)> Stored) {
  if (!FProps.empty()) FProps.back().Stored = std::move(Stored);
  return *this;
}

// ---------------------------------------------------------------------------
// Class registry

namespace {
struct TRegistry {
  std::mutex Lock;
  std::map<AnsiString, const TMetaClass*> Classes;  // key: upper-case name
};
TRegistry& Registry() {
  static TRegistry* R = new TRegistry;  // outlives every static that unregisters late
  return *R;
}
}  // namespace

void RegisterClass(const TMetaClass& Class) {
  TRegistry& R = Registry();
  std::lock_guard<std::mutex> Guard(R.Lock);
  auto [It, Inserted] = R.Classes.emplace(UpperCase(Class.ClassName()), &Class);
  if (!Inserted && It->second != &Class)
    throw EFilerError(Format(LoadResString(SDuplicateClass), {Class.ClassName()}));
}

void RegisterClasses(std::initializer_list<const TMetaClass*> Classes) {
  for (const TMetaClass* C : Classes)
    if (C) RegisterClass(*C);
}

void UnRegisterClass(const TMetaClass& Class) {
  TRegistry& R = Registry();
  std::lock_guard<std::mutex> Guard(R.Lock);
  auto It = R.Classes.find(UpperCase(Class.ClassName()));
  if (It != R.Classes.end() && It->second == &Class) R.Classes.erase(It);
}

const TMetaClass* GetClass(const AnsiString& ClassName) {
  TRegistry& R = Registry();
  std::lock_guard<std::mutex> Guard(R.Lock);
  auto It = R.Classes.find(UpperCase(ClassName));
  return It == R.Classes.end() ? nullptr : It->second;
}

const TMetaClass& FindClass(const AnsiString& ClassName) {
  const TMetaClass* C = GetClass(ClassName);
  if (!C) throw EClassNotFound(Format(LoadResString(SClassNotFound), {ClassName}));
  return *C;
}

// ---------------------------------------------------------------------------
// TPersistent

const TMetaClass& TPersistent::StaticClass() {
  static const TMetaClass Meta("TPersistent", &TObject::StaticClass());
  return Meta;
}

void TPersistent::Assign(const TPersistent* Source) {
  if (Source) Source->AssignTo(this);
  else AssignError(nullptr);
}

void TPersistent::AssignTo(TPersistent* Dest) const { Dest->AssignError(this); }

void TPersistent::DefineProperties(TFiler&) {}

void TPersistent::AssignError(const TPersistent* Source) const {
  const AnsiString SourceName = Source ? Source->ClassName() : AnsiString("nil");
  throw EConvertError(Format(LoadResString(SAssignError), {SourceName, ClassName()}));
}

// ---------------------------------------------------------------------------
// TComponent

const TMetaClass& TComponent::StaticClass() {
  static const TMetaClass Meta = [] {
    TMetaClass M("TComponent", &TPersistent::StaticClass(), TMetaClass::Factory<TComponent>());
    M.Property("Tag", &TComponent::GetTag, &TComponent::SetTag, 0);
    return M;
  }();
  return Meta;
}

TComponent::TComponent(TComponent* AOwner) {
  if (AOwner) AOwner->InsertComponent(this);
}

void TComponent::operator delete(TComponent* Component, std::destroying_delete_t) {
  // The allocation starts at the most derived object, which a TComponent* need not point to.
  void* Storage = dynamic_cast<void*>(Component);
  Component->Destroying();
  Component->~TComponent();
  ::operator delete(Storage);
}

TComponent::~TComponent() {
  Destroying();
  // Everyone holding a reference to this component is told first.
  while (!FFreeNotifies.empty()) {
    TComponent* Other = FFreeNotifies.back();
    FFreeNotifies.pop_back();
    Other->RemoveNotification(this);
    Other->Notification(this, opRemove);
  }
  DestroyComponents();
  if (FOwner) FOwner->RemoveComponent(this);
}

void TComponent::Destroying() {
  if (FComponentState.Contains(csDestroying)) return;
  FComponentState.Include(csDestroying);
  for (TComponent* C : FComponents) C->Destroying();
}

void TComponent::DestroyComponents() {
  // Last first; each leaves the list (with notification) before it is destroyed,
  // so the list never holds a dangling pointer.
  while (!FComponents.empty()) {
    TComponent* Instance = FComponents.back();
    RemoveComponent(Instance);
    delete Instance;
  }
}

TComponent* TComponent::Components(int Index) const {
  if (Index < 0 || Index >= ComponentCount())
    throw EListError(Format(LoadResString(SListIndexError), {Index}));
  return FComponents[static_cast<size_t>(Index)];
}

int TComponent::ComponentIndex() const {
  if (!FOwner) return -1;
  auto& L = FOwner->FComponents;
  auto It = std::find(L.begin(), L.end(), this);
  return It == L.end() ? -1 : static_cast<int>(It - L.begin());
}

TComponent* TComponent::FindComponent(const AnsiString& Name) const {
  if (Name.empty()) return nullptr;
  for (TComponent* C : FComponents)
    if (AnsiSameText(C->FName, Name)) return C;
  return nullptr;
}

void TComponent::InsertComponent(TComponent* AComponent) {
  if (!AComponent || AComponent->FOwner == this) return;
  ValidateRename(AComponent, AnsiString(), AComponent->FName);
  if (AComponent->FOwner) AComponent->FOwner->RemoveComponent(AComponent);
  Insert(AComponent);
  Notification(AComponent, opInsert);
}

void TComponent::RemoveComponent(TComponent* AComponent) {
  if (!AComponent || AComponent->FOwner != this) return;
  Notification(AComponent, opRemove);
  Remove(AComponent);
}

void TComponent::Insert(TComponent* AComponent) {
  FComponents.push_back(AComponent);
  AComponent->FOwner = this;
}

void TComponent::Remove(TComponent* AComponent) {
  auto It = std::find(FComponents.begin(), FComponents.end(), AComponent);
  if (It != FComponents.end()) FComponents.erase(It);
  AComponent->FOwner = nullptr;
}

void TComponent::Notification(TComponent* AComponent, TOperation Operation) {
  if (Operation == opRemove && AComponent) RemoveNotification(AComponent);
  // Passed on to the owned components, by index from the end: a handler may
  // free an owned component and shrink the list.
  for (int I = ComponentCount() - 1; I >= 0; --I) {
    if (I >= ComponentCount()) continue;
    TComponent* C = FComponents[static_cast<size_t>(I)];
    if (C != AComponent) C->Notification(AComponent, Operation);
  }
}

void TComponent::FreeNotification(TComponent* AComponent) {
  if (!AComponent || AComponent == this) return;
  if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent) == FFreeNotifies.end())
    FFreeNotifies.push_back(AComponent);
  if (std::find(AComponent->FFreeNotifies.begin(), AComponent->FFreeNotifies.end(), this) ==
      AComponent->FFreeNotifies.end())
    AComponent->FFreeNotifies.push_back(this);
  AComponent->FComponentState.Include(csFreeNotification);
  FComponentState.Include(csFreeNotification);
}

void TComponent::RemoveFreeNotification(TComponent* AComponent) {
  if (!AComponent) return;
  RemoveNotification(AComponent);
  AComponent->RemoveNotification(this);
}

void TComponent::RemoveNotification(TComponent* AComponent) {
  auto It = std::find(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent);
  if (It != FFreeNotifies.end()) FFreeNotifies.erase(It);
  if (FFreeNotifies.empty()) FComponentState.Exclude(csFreeNotification);
}

void TComponent::Loaded() { FComponentState.Exclude(csLoading); }

void TComponent::SetDesigning(bool Value, bool SetChildren) {
  SetComponentStateFlag(csDesigning, Value);
  if (SetChildren)
    for (TComponent* C : FComponents) C->SetDesigning(Value, true);
}

void TComponent::SetComponentStateFlag(TComponentStateFlag Flag, bool Value) {
  if (Value) FComponentState.Include(Flag);
  else FComponentState.Exclude(Flag);
}

namespace {
bool IsValidIdent(const AnsiString& S) {
  if (S.empty()) return false;
  auto Alpha = [](char C) { return (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z') || C == '_'; };
  if (!Alpha(S[0])) return false;
  for (char C : S)
    if (!Alpha(C) && !(C >= '0' && C <= '9')) return false;
  return true;
}
}  // namespace

void TComponent::ValidateRename(TComponent* AComponent, const AnsiString& CurName, const AnsiString& NewName) {
  if (NewName.empty() || AnsiSameText(CurName, NewName)) return;
  TComponent* Existing = FindComponent(NewName);
  if (Existing && Existing != AComponent)
    throw EComponentError(Format(LoadResString(SDuplicateName), {NewName}));
}

void TComponent::SetName(const AnsiString& NewName) {
  if (FName == NewName) return;
  if (!NewName.empty() && !IsValidIdent(NewName))
    throw EComponentError(Format(LoadResString(SInvalidName), {NewName}));
  if (FOwner) FOwner->ValidateRename(this, FName, NewName);
  else ValidateRename(nullptr, FName, NewName);
  FName = NewName;
}

// ---------------------------------------------------------------------------
// TList

void TList::Check(int Index) const {
  if (Index < 0 || Index >= Count()) throw EListError(Format(LoadResString(SListIndexError), {Index}));
}

int TList::Add(void* Item) {
  FItems.push_back(Item);
  return Count() - 1;
}

void TList::Insert(int Index, void* Item) {
  if (Index < 0 || Index > Count()) throw EListError(Format(LoadResString(SListIndexError), {Index}));
  FItems.insert(FItems.begin() + Index, Item);
}

void TList::Delete(int Index) {
  Check(Index);
  FItems.erase(FItems.begin() + Index);
}

int TList::Remove(void* Item) {
  const int I = IndexOf(Item);
  if (I >= 0) Delete(I);
  return I;
}

void* TList::Extract(void* Item) { return Remove(Item) >= 0 ? Item : nullptr; }

int TList::IndexOf(void* Item) const {
  auto It = std::find(FItems.begin(), FItems.end(), Item);
  return It == FItems.end() ? -1 : static_cast<int>(It - FItems.begin());
}

void TList::Clear() { FItems.clear(); }

void* TList::Items(int Index) const {
  Check(Index);
  return FItems[static_cast<size_t>(Index)];
}

void TList::SetItem(int Index, void* Item) {
  Check(Index);
  FItems[static_cast<size_t>(Index)] = Item;
}

void* TList::First() const { return Items(0); }
void* TList::Last() const { return Items(Count() - 1); }

void TList::Exchange(int Index1, int Index2) {
  Check(Index1);
  Check(Index2);
  std::swap(FItems[static_cast<size_t>(Index1)], FItems[static_cast<size_t>(Index2)]);
}

void TList::Move(int CurIndex, int NewIndex) {
  if (CurIndex == NewIndex) return;
  Check(CurIndex);
  Check(NewIndex);
  void* Item = FItems[static_cast<size_t>(CurIndex)];
  FItems.erase(FItems.begin() + CurIndex);
  FItems.insert(FItems.begin() + NewIndex, Item);
}

void TList::Pack() { FItems.erase(std::remove(FItems.begin(), FItems.end(), nullptr), FItems.end()); }

void TList::Sort(const std::function<int(void*, void*)>& Compare) {
  std::stable_sort(FItems.begin(), FItems.end(), [&](void* A, void* B) { return Compare(A, B) < 0; });
}
