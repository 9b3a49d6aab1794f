// Classes: the host's component model and its basic containers and streams.
//
//   TObject      root of every class that has a class name and run-time type data
//   TMetaClass   per-class record: name, parent, published properties, factory
//   TPersistent  Assign / AssignTo and DefineProperties (extra streamed data)
//   TComponent   owner/owned tree, name, state flags, Loaded, Notification
//   TList, TStrings / TStringList, TCollection / TCollectionItem
//   TStream, TMemoryStream, THandleStream / TFileStream, TStringStream
//   TFiler, TWriter, TReader: the readable text form of components
//
// Published properties. A class that publishes properties overrides ClassType()
// and defines StaticClass() in its .cpp, building its TMetaClass once:
//
//   const TMetaClass& TAsaSession::StaticClass() {
//     static const TMetaClass Meta = [] {
//       TMetaClass M("TAsaSession", &TZyloSession::StaticClass(),
//                    TMetaClass::Factory<TAsaSession>());
//       M.Property("ConnectOnLoading", &TAsaSession::GetConnectOnLoading,
//                  &TAsaSession::SetConnectOnLoading, true);
//       return M;
//     }();
//     return Meta;
//   }
//
// and registers it (RegisterClass) so that a stream can create it by name. The
// properties of the parents come first, then the class's own in the order added.
//
// Text form (what TWriter writes and TReader reads):
//
//   object Session1: TAsaSession
//     LibraryFile = 'dblib9.dll'
//     Connected = True
//     SQL.Strings = (
//       'select *'
//       'from t')
//     Params.Data = {
//       0102A0FF}
//     object SQL1: TAsaSQL
//       Session = Session1
//     end
//   end
//
// A property equal to its default is not written (a string property's default is
// the empty text unless given); a property without default is always written.
// Values: integers, floats with '.', 'quoted' strings ('' doubles a quote, #n
// stands for a control character, + joins pieces), identifiers for Booleans and
// enumerations, [a, b] for sets, (...) for lists, {hex} for binary data, <...>
// for collections, and a component's name for a reference to it.
//
// Component life cycle:
//
//   new T(Owner) ----------------> alive (in Owner's list; Owner and the other
//                                  owned components get Notification(opInsert))
//   reading from a stream ------> csLoading + csReading set on every component
//                                  read; properties assigned; references fixed
//                                  up; csReading cleared; Loaded() called on each
//                                  in reading order (TComponent::Loaded clears
//                                  csLoading, so overrides call it first)
//   delete (or owner's death) --> Destroying(): csDestroying set on it and on all
//                                  it owns; destructors run (most derived first);
//                                  then ~TComponent: everyone that asked for a
//                                  FreeNotification gets Notification(this,
//                                  opRemove); owned components are destroyed
//                                  last first, each removed from the list and
//                                  notified first; finally the component leaves
//                                  its owner, which notifies itself and its other
//                                  owned components (opRemove). While ~TComponent
//                                  runs the derived parts are gone, so from then
//                                  on only TComponent's own Notification is
//                                  reached on the dying component; its siblings
//                                  and holders are alive and get their overrides.
//
// Components must be created with new: deleting one runs Destroying() before any
// destructor, so virtual calls still reach the whole object there. A component
// on the stack works but is marked destroying only once ~TComponent runs.
#pragma once
#pragma GCC visibility push(default)

#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <type_traits>
#include <vector>

#include "host/Sets.h"
#include "host/SysUtils.h"
#include "host/Variants.h"

class TComponent;
class TFiler;
class TReader;
class TWriter;
class TStream;
class TMetaClass;

// ---------------------------------------------------------------------------
// TObject

class TObject {
public:
  TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  virtual ~TObject() = default;

  static const TMetaClass& StaticClass();
  // Every class with a TMetaClass of its own overrides this.
  virtual const TMetaClass& ClassType() const;
  AnsiString ClassName() const;
  bool InheritsFrom(const TMetaClass& Class) const;
};

using TNotifyEvent = std::function<void(TObject* Sender)>;

// ---------------------------------------------------------------------------
// Run-time type data

enum TTypeKind : uint8_t {
  tkUnknown = 0, tkInteger, tkChar, tkEnumeration, tkFloat, tkString, tkSet, tkClass,
  tkMethod, tkWChar, tkLString, tkWString, tkVariant, tkArray, tkRecord, tkInterface,
  tkInt64, tkDynArray
};

struct TPropInfo {
  AnsiString Name;
  TTypeKind Kind = tkUnknown;
  std::vector<AnsiString> EnumNames;  // tkEnumeration and tkSet: names by ordinal
  Variant Default;  // Empty: no default, always written (strings: the empty text)
  // Scalar kinds: the value as a Variant (enumerations as their ordinal, sets as
  // their bits, Booleans as Booleans).
  std::function<Variant(const TObject&)> Get;
  std::function<void(TObject&, const Variant&)> Set;
  // tkClass: the object held. With SetObject the property references a component
  // (streamed by name); without it the object is owned by the instance and its own
  // properties are streamed nested ("SQL.Strings").
  // The class of the object held; a function, since a class may hold its own kind.
  const TMetaClass& (*PropClass)() = nullptr;
  std::function<TObject*(const TObject&)> GetObject;
  std::function<void(TObject&, TObject*)> SetObject;
  std::function<bool(const TObject&)> Stored;  // unset: stored

  bool IsReference() const { return Kind == tkClass && SetObject != nullptr; }
  bool IsNested() const { return Kind == tkClass && SetObject == nullptr; }
  // Is the current value worth writing (not its default, and stored)?
  bool IsStored(const TObject& Instance) const;
};

namespace ZylRtti {
template <typename T> using Bare = std::remove_cvref_t<T>;
template <typename T> struct IsSet : std::false_type {};
template <typename E, typename S> struct IsSet<TSet<E, S>> : std::true_type {};

template <typename T> Variant ToVariant(const T& V) {
  if constexpr (std::is_enum_v<T>) return Variant(static_cast<int>(V));
  else if constexpr (IsSet<T>::value) return Variant(static_cast<long long>(V.Bits()));
  else if constexpr (std::is_same_v<T, int64_t> || std::is_same_v<T, uint32_t>)
    return Variant(static_cast<long long>(V));
  else return Variant(V);
}
template <typename T> T FromVariant(const Variant& V) {
  if constexpr (std::is_same_v<T, bool>) return V.AsBoolean();
  else if constexpr (std::is_enum_v<T>) return static_cast<T>(V.AsInteger());
  else if constexpr (IsSet<T>::value) return T::FromBits(static_cast<decltype(T().Bits())>(V.AsInt64()));
  else if constexpr (std::is_integral_v<T>) return static_cast<T>(V.AsInt64());
  else if constexpr (std::is_floating_point_v<T>) return static_cast<T>(V.AsDouble());
  else if constexpr (std::is_same_v<T, Currency>) return V.AsCurrency();
  else if constexpr (std::is_same_v<T, AnsiString>) return V.AsString();
  else return V;
}
template <typename T> constexpr TTypeKind KindOf() {
  if constexpr (std::is_same_v<T, bool> || std::is_enum_v<T>) return tkEnumeration;
  else if constexpr (IsSet<T>::value) return tkSet;
  else if constexpr (std::is_integral_v<T> && sizeof(T) > 4) return tkInt64;
  else if constexpr (std::is_same_v<T, uint32_t>) return tkInt64;
  else if constexpr (std::is_integral_v<T>) return tkInteger;
  else if constexpr (std::is_floating_point_v<T> || std::is_same_v<T, Currency>) return tkFloat;
  else if constexpr (std::is_same_v<T, AnsiString>) return tkLString;
  else return tkVariant;
}
[[noreturn]] void RaiseInvalidReference(const AnsiString& Property);
}  // namespace ZylRtti

class TMetaClass {
public:
  using TFactory = std::function<TComponent*(TComponent* Owner)>;

  TMetaClass(AnsiString Name, const TMetaClass* Parent, TFactory Factory = nullptr);

  const AnsiString& ClassName() const { return FName; }
  const TMetaClass* ClassParent() const { return FParent; }
  bool InheritsFrom(const TMetaClass& Other) const;
  // Inherited properties first, then the class's own, in the order added.
  std::vector<const TPropInfo*> Properties() const;
  // Case-insensitive; inherited properties included.
  const TPropInfo* FindProperty(const AnsiString& Name) const;
  bool CanCreate() const { return static_cast<bool>(FFactory); }
  // Raises EClassNotFound for a class without factory.
  TComponent* CreateComponent(TComponent* Owner) const;

  template <typename T> static TFactory Factory() {
    return [](TComponent* Owner) -> TComponent* { return new T(Owner); };
  }

  TMetaClass& AddProperty(TPropInfo Info);
  // Applies to the property added last.
  TMetaClass& StoredWhen(std::function<bool(const TObject&)> Stored);

  // Scalar property: integers, floats, Currency, Booleans, strings, Variants.
  template <typename T, typename R, typename A>
  TMetaClass& Property(const AnsiString& Name, R (T::*Getter)() const, void (T::*Setter)(A),
                       Variant Default = Variant()) {
    using V = ZylRtti::Bare<R>;
    TPropInfo P;
    P.Name = Name;
    P.Kind = ZylRtti::KindOf<V>();
    if constexpr (std::is_same_v<V, bool>) P.EnumNames = {"False", "True"};
    P.Default = std::move(Default);
    P.Get = [Getter](const TObject& O) { return ZylRtti::ToVariant<V>((static_cast<const T&>(O).*Getter)()); };
    P.Set = [Setter](TObject& O, const Variant& Val) {
      (static_cast<T&>(O).*Setter)(ZylRtti::FromVariant<ZylRtti::Bare<A>>(Val));
    };
    return AddProperty(std::move(P));
  }
  // Enumeration property; Names[i] is the name of ordinal i. Default is an ordinal.
  template <typename T, typename R, typename A>
  TMetaClass& EnumProperty(const AnsiString& Name, std::vector<AnsiString> Names,
                           R (T::*Getter)() const, void (T::*Setter)(A), Variant Default = Variant()) {
    TMetaClass& M = Property(Name, Getter, Setter, std::move(Default));
    M.FProps.back().Kind = tkEnumeration;
    M.FProps.back().EnumNames = std::move(Names);
    return M;
  }
  // Set property over an enumeration whose names are given; Default is the bits.
  template <typename T, typename R, typename A>
  TMetaClass& SetProperty(const AnsiString& Name, std::vector<AnsiString> Names,
                          R (T::*Getter)() const, void (T::*Setter)(A), Variant Default = Variant()) {
    TMetaClass& M = Property(Name, Getter, Setter, std::move(Default));
    M.FProps.back().Kind = tkSet;
    M.FProps.back().EnumNames = std::move(Names);
    return M;
  }
  // Owned sub-object streamed nested (a TStrings, a TCollection, a TPicture ...).
  template <typename T, typename P>
  TMetaClass& ObjectProperty(const AnsiString& Name, P* (T::*Getter)() const) {
    TPropInfo Info;
    Info.Name = Name;
    Info.Kind = tkClass;
    Info.PropClass = &P::StaticClass;
    Info.GetObject = [Getter](const TObject& O) -> TObject* { return (static_cast<const T&>(O).*Getter)(); };
    return AddProperty(std::move(Info));
  }
  // Reference to another component, streamed by its name; nil is the default.
  template <typename T, typename C>
  TMetaClass& ComponentProperty(const AnsiString& Name, C* (T::*Getter)() const, void (T::*Setter)(C*)) {
    TPropInfo Info;
    Info.Name = Name;
    Info.Kind = tkClass;
    Info.PropClass = &C::StaticClass;
    Info.GetObject = [Getter](const TObject& O) -> TObject* { return (static_cast<const T&>(O).*Getter)(); };
    Info.SetObject = [Setter, Name](TObject& O, TObject* Value) {
      C* Typed = dynamic_cast<C*>(Value);
      if (Value && !Typed) ZylRtti::RaiseInvalidReference(Name);
      (static_cast<T&>(O).*Setter)(Typed);
    };
    return AddProperty(std::move(Info));
  }

private:
  AnsiString FName;
  const TMetaClass* FParent;
  TFactory FFactory;
  std::vector<TPropInfo> FProps;  // this class's own properties only
};

// The class registry: streams create components by class name. Registering the
// same class again is harmless; another class under a registered name raises
// EFilerError. Guarded for use from several threads.
void RegisterClass(const TMetaClass& Class);
void RegisterClasses(std::initializer_list<const TMetaClass*> Classes);
void UnRegisterClass(const TMetaClass& Class);
const TMetaClass* GetClass(const AnsiString& ClassName);   // nullptr when unknown
const TMetaClass& FindClass(const AnsiString& ClassName);  // raises EClassNotFound

// ---------------------------------------------------------------------------
// TPersistent

class TPersistent : public TObject {
public:
  static const TMetaClass& StaticClass();
  const TMetaClass& ClassType() const override { return StaticClass(); }
  // Copies Source into this object; the base asks Source->AssignTo(this) and
  // raises EConvertError ("Cannot assign a X to a Y") when neither knows how.
  virtual void Assign(const TPersistent* Source);

protected:
  friend class TWriter;
  friend class TReader;
  virtual void AssignTo(TPersistent* Dest) const;
  // Declares data streamed besides the published properties.
  virtual void DefineProperties(TFiler& Filer);
  [[noreturn]] void AssignError(const TPersistent* Source) const;
};

// ---------------------------------------------------------------------------
// TComponent

enum TComponentStateFlag : uint8_t {
  csLoading = 0, csReading = 1, csWriting = 2, csDestroying = 3, csDesigning = 4,
  csAncestor = 5, csUpdating = 6, csFixups = 7, csFreeNotification = 8, csInline = 9,
  csDesignInstance = 10
};
using TComponentState = TSet<TComponentStateFlag, uint16_t>;

enum TOperation : uint8_t { opInsert = 0, opRemove = 1 };

class TComponent : public TPersistent {
public:
  explicit TComponent(TComponent* AOwner);
  ~TComponent() override;
  // Runs Destroying() while the whole object is still alive, then the destructors.
  static void operator delete(TComponent* Component, std::destroying_delete_t);

  static const TMetaClass& StaticClass();
  const TMetaClass& ClassType() const override { return StaticClass(); }

  TComponent* Owner() const { return FOwner; }
  const AnsiString& GetName() const { return FName; }
  // Raises EComponentError for a name that is not an identifier or that another
  // component of the same owner already has (names compare case-insensitively).
  virtual void SetName(const AnsiString& NewName);
  int32_t GetTag() const { return FTag; }
  void SetTag(int32_t Value) { FTag = Value; }
  TComponentState ComponentState() const { return FComponentState; }

  int ComponentCount() const { return static_cast<int>(FComponents.size()); }
  TComponent* Components(int Index) const;  // raises EListError out of range
  int ComponentIndex() const;               // position in the owner's list, -1
  TComponent* FindComponent(const AnsiString& Name) const;  // owned ones; nullptr
  void InsertComponent(TComponent* AComponent);
  void RemoveComponent(TComponent* AComponent);
  void DestroyComponents();

  // Asks to be told (Notification opRemove) when AComponent goes away; the
  // relation is mutual and ends by itself when either side is destroyed.
  void FreeNotification(TComponent* AComponent);
  void RemoveFreeNotification(TComponent* AComponent);

  // Marks this component and all it owns as being destroyed.
  void Destroying();
  // Called once streaming has set every property; clears csLoading.
  virtual void Loaded();
  // Told when a component is inserted into or removed from the owner tree, or when
  // a component this one asked FreeNotification of goes away. The base removes a
  // departing component from the free-notification list and passes the event on
  // to every owned component.
  virtual void Notification(TComponent* AComponent, TOperation Operation);
  void SetDesigning(bool Value, bool SetChildren = true);

protected:
  friend class TReader;
  friend class TWriter;
  void SetComponentStateFlag(TComponentStateFlag Flag, bool Value);
  virtual void ValidateRename(TComponent* AComponent, const AnsiString& CurName,
                              const AnsiString& NewName);

private:
  void Insert(TComponent* AComponent);
  void Remove(TComponent* AComponent);
  void RemoveNotification(TComponent* AComponent);

  TComponent* FOwner = nullptr;
  AnsiString FName;
  int32_t FTag = 0;
  TComponentState FComponentState;
  std::vector<TComponent*> FComponents;     // owned, in insertion order
  std::vector<TComponent*> FFreeNotifies;   // both sides of every FreeNotification
};

// ---------------------------------------------------------------------------
// TList: an ordered list of untyped pointers; indexes outside 0..Count-1 raise
// EListError.

class TList {
public:
  virtual ~TList() = default;
  int Add(void* Item);
  void Insert(int Index, void* Item);
  void Delete(int Index);
  int Remove(void* Item);  // index it had, -1
  void* Extract(void* Item);
  int IndexOf(void* Item) const;
  void Clear();
  int Count() const { return static_cast<int>(FItems.size()); }
  void* Items(int Index) const;
  void SetItem(int Index, void* Item);
  void* First() const;
  void* Last() const;
  void Exchange(int Index1, int Index2);
  void Move(int CurIndex, int NewIndex);
  void Pack();  // drops nullptr entries
  void Sort(const std::function<int(void*, void*)>& Compare);

private:
  void Check(int Index) const;
  std::vector<void*> FItems;
};

// ---------------------------------------------------------------------------
// TStrings: abstract list of strings with an attached object per string. Text
// joins the lines with sLineBreak after each; setting Text splits at CR, LF and
// CR LF. Streams as "Strings = ('line1' 'line2')".

constexpr const char* sLineBreak = "\n";

enum TDuplicates : uint8_t { dupIgnore = 0, dupAccept = 1, dupError = 2 };

class TStrings : public TPersistent {
public:
  static const TMetaClass& StaticClass();
  const TMetaClass& ClassType() const override { return StaticClass(); }

  virtual AnsiString Get(int Index) const = 0;
  virtual void Put(int Index, const AnsiString& S);
  virtual TObject* GetObject(int Index) const;
  virtual void PutObject(int Index, TObject* AObject);
  virtual int GetCount() const = 0;
  virtual void Insert(int Index, const AnsiString& S) = 0;
  virtual void Delete(int Index) = 0;
  virtual void Clear() = 0;
  virtual int Add(const AnsiString& S);
  virtual int AddObject(const AnsiString& S, TObject* AObject);
  virtual int IndexOf(const AnsiString& S) const;  // case-insensitive, -1
  virtual void AddStrings(const TStrings& Strings);
  virtual AnsiString GetText() const;
  virtual void SetText(const AnsiString& Value);
  void Assign(const TPersistent* Source) override;

  int Count() const { return GetCount(); }
  AnsiString Strings(int Index) const { return Get(Index); }
  AnsiString operator[](int Index) const { return Get(Index); }
  TObject* Objects(int Index) const { return GetObject(Index); }
  void Append(const AnsiString& S) { Add(S); }
  void InsertObject(int Index, const AnsiString& S, TObject* AObject);
  int IndexOfObject(TObject* AObject) const;
  int IndexOfName(const AnsiString& Name) const;  // "Name=Value" lines
  AnsiString Names(int Index) const;
  AnsiString GetValue(const AnsiString& Name) const;
  void SetValue(const AnsiString& Name, const AnsiString& Value);  // "" deletes
  AnsiString GetCommaText() const;
  void SetCommaText(const AnsiString& Value);
  virtual void Exchange(int Index1, int Index2);
  virtual void Move(int CurIndex, int NewIndex);
  bool Equals(const TStrings& Strings) const;
  // Nested updates: the change notification waits for the outermost EndUpdate.
  void BeginUpdate();
  void EndUpdate();
  int UpdateCount() const { return FUpdateCount; }
  void LoadFromStream(TStream& Stream);
  void SaveToStream(TStream& Stream) const;
  void LoadFromFile(const AnsiString& FileName);
  void SaveToFile(const AnsiString& FileName) const;

protected:
  void DefineProperties(TFiler& Filer) override;
  // Called with true when the first BeginUpdate starts, false after the last EndUpdate.
  virtual void SetUpdateState(bool Updating);
  [[noreturn]] void Error(int Index) const;

private:
  int FUpdateCount = 0;
};

class TStringList : public TStrings {
public:
  TStringList() = default;
  ~TStringList() override;
  static const TMetaClass& StaticClass();
  const TMetaClass& ClassType() const override { return StaticClass(); }

  AnsiString Get(int Index) const override;
  void Put(int Index, const AnsiString& S) override;  // raises on a sorted list
  TObject* GetObject(int Index) const override;
  void PutObject(int Index, TObject* AObject) override;
  int GetCount() const override { return static_cast<int>(FList.size()); }
  void Insert(int Index, const AnsiString& S) override;  // raises on a sorted list
  void Delete(int Index) override;
  void Clear() override;
  // On a sorted list the string goes to its place; an equal one already there is
  // kept and its index returned (dupIgnore), or raises EStringListError (dupError).
  int Add(const AnsiString& S) override;
  int AddObject(const AnsiString& S, TObject* AObject) override;
  int IndexOf(const AnsiString& S) const override;
  void Exchange(int Index1, int Index2) override;
  // Binary search of a sorted list: true when found; Index is the match or the
  // place where S would go.
  bool Find(const AnsiString& S, int& Index) const;
  virtual void Sort();
  void CustomSort(const std::function<int(TStringList&, int, int)>& Compare);

  bool GetSorted() const { return FSorted; }
  void SetSorted(bool Value);
  TDuplicates GetDuplicates() const { return FDuplicates; }
  void SetDuplicates(TDuplicates Value) { FDuplicates = Value; }
  bool GetCaseSensitive() const { return FCaseSensitive; }
  void SetCaseSensitive(bool Value);
  // The list frees its objects when they are deleted and when it is destroyed.
  bool GetOwnsObjects() const { return FOwnsObjects; }
  void SetOwnsObjects(bool Value) { FOwnsObjects = Value; }

  TNotifyEvent OnChange;    // after every change (outside BeginUpdate/EndUpdate)
  TNotifyEvent OnChanging;  // before every change

protected:
  void SetUpdateState(bool Updating) override;
  virtual void Changed();
  virtual void Changing();
  int CompareStrings(const AnsiString& S1, const AnsiString& S2) const;

private:
  struct TItem {
    AnsiString Str;
    TObject* Object = nullptr;
  };
  void InsertItem(int Index, const AnsiString& S, TObject* AObject);
  void Check(int Index) const;

  std::vector<TItem> FList;
  bool FSorted = false;
  TDuplicates FDuplicates = dupIgnore;
  bool FCaseSensitive = false;
  bool FOwnsObjects = false;
};

// ---------------------------------------------------------------------------
// TCollection: an owned list of items of one class, streamed as <item ... end>.

class TCollection;

class TCollectionItem : public TPersistent {
public:
  explicit TCollectionItem(TCollection* Collection);
  ~TCollectionItem() override;  // leaves its collection
  static const TMetaClass& StaticClass();
  const TMetaClass& ClassType() const override { return StaticClass(); }
  TCollection* Collection() const { return FCollection; }
  void SetCollection(TCollection* Value);
  int Index() const;
  void SetIndex(int Value);
  int ID() const { return FID; }
  virtual AnsiString GetDisplayName() const;

protected:
  // Tells the collection that this item changed (Update(this)).
  void Changed(bool AllItems);

private:
  friend class TCollection;
  TCollection* FCollection = nullptr;
  int FID = 0;
};

class TCollection : public TPersistent {
public:
  using TItemFactory = std::function<TCollectionItem*(TCollection*)>;
  // ItemFactory makes one item already inserted into the collection it is given.
  TCollection(const TMetaClass& ItemClass, TItemFactory ItemFactory);
  ~TCollection() override;  // frees the items
  static const TMetaClass& StaticClass();
  const TMetaClass& ClassType() const override { return StaticClass(); }

  TCollectionItem* Add();
  TCollectionItem* Insert(int Index);
  void Delete(int Index);
  void Clear();
  int Count() const { return static_cast<int>(FItems.size()); }
  TCollectionItem* Items(int Index) const;  // raises EListError
  TCollectionItem* FindItemID(int ID) const;
  const TMetaClass& ItemClass() const { return *FItemClass; }
  void BeginUpdate();
  void EndUpdate();
  void Assign(const TPersistent* Source) override;
  // The object that holds this collection as a property (for names in messages).
  virtual TPersistent* GetOwner() const { return nullptr; }

protected:
  friend class TCollectionItem;
  // Item is the item that changed, nullptr for the whole collection.
  virtual void Update(TCollectionItem* Item);
  void Changed();

private:
  void InsertItem(TCollectionItem* Item);
  void RemoveItem(TCollectionItem* Item);
  const TMetaClass* FItemClass;
  TItemFactory FItemFactory;
  std::vector<TCollectionItem*> FItems;  // owned
  int FNextID = 0;
  int FUpdateCount = 0;
};

// ---------------------------------------------------------------------------
// Streams

enum TSeekOrigin : uint8_t { soBeginning = 0, soCurrent = 1, soEnd = 2 };
constexpr TSeekOrigin soFromBeginning = soBeginning;
constexpr TSeekOrigin soFromCurrent = soCurrent;
constexpr TSeekOrigin soFromEnd = soEnd;

class TStream : public TObject {
public:
  // Return the number of bytes moved, which may be less than Count.
  virtual int64_t Read(void* Buffer, int64_t Count) = 0;
  virtual int64_t Write(const void* Buffer, int64_t Count) = 0;
  // Returns the new position.
  virtual int64_t Seek(int64_t Offset, TSeekOrigin Origin) = 0;
  virtual int64_t GetSize();
  virtual void SetSize(int64_t NewSize);
  int64_t GetPosition() { return Seek(0, soCurrent); }
  void SetPosition(int64_t Pos) { Seek(Pos, soBeginning); }

  // Raise EReadError / EWriteError when fewer than Count bytes move.
  void ReadBuffer(void* Buffer, int64_t Count);
  void WriteBuffer(const void* Buffer, int64_t Count);
  // Copies Count bytes from the source's position; Count 0 copies the whole
  // source from its beginning. A short source raises EReadError.
  int64_t CopyFrom(TStream& Source, int64_t Count);

  // The text form of components (see the top of this unit).
  void WriteComponent(TComponent* Instance);
  // Reads one object into Instance, or creates it by class name (owned by Owner)
  // when Instance is nullptr. On failure the components the read created are
  // destroyed again and EReadError (or EClassNotFound) propagates.
  TComponent* ReadComponent(TComponent* Instance, TComponent* Owner = nullptr);
};

class TMemoryStream : public TStream {
public:
  int64_t Read(void* Buffer, int64_t Count) override;
  int64_t Write(const void* Buffer, int64_t Count) override;
  // Any position may be set; reading past the end moves nothing, writing there
  // fills the gap with zeros. A negative position reads and writes nothing.
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  int64_t GetSize() override { return static_cast<int64_t>(FData.size()); }
  void SetSize(int64_t NewSize) override;
  int64_t Size() const { return static_cast<int64_t>(FData.size()); }
  // Valid until the size changes.
  void* Memory() { return FData.data(); }
  const void* Memory() const { return FData.data(); }
  void Clear();
  void LoadFromStream(TStream& Stream);  // the whole stream from its beginning
  void SaveToStream(TStream& Stream) const;
  void LoadFromFile(const AnsiString& FileName);
  void SaveToFile(const AnsiString& FileName) const;

private:
  std::vector<uint8_t> FData;
  int64_t FPosition = 0;
};

// Holds its bytes in a string (DataString).
class TStringStream : public TStream {
public:
  explicit TStringStream(AnsiString Data = AnsiString()) : FData(std::move(Data)) {}
  int64_t Read(void* Buffer, int64_t Count) override;
  int64_t Write(const void* Buffer, int64_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  void SetSize(int64_t NewSize) override;
  const AnsiString& DataString() const { return FData; }
  AnsiString ReadString(int64_t Count);
  void WriteString(const AnsiString& S) { Write(S.data(), static_cast<int64_t>(S.size())); }

private:
  AnsiString FData;
  int64_t FPosition = 0;
};

enum : uint16_t {
  fmOpenRead = 0x0000, fmOpenWrite = 0x0001, fmOpenReadWrite = 0x0002,
  fmShareCompat = 0x0000, fmShareExclusive = 0x0010, fmShareDenyWrite = 0x0020,
  fmShareDenyRead = 0x0030, fmShareDenyNone = 0x0040, fmCreate = 0xFFFF
};

// A stream over an operating-system file descriptor it does not own.
class THandleStream : public TStream {
public:
  explicit THandleStream(int AHandle) : FHandle(AHandle) {}
  int64_t Read(void* Buffer, int64_t Count) override;
  int64_t Write(const void* Buffer, int64_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  void SetSize(int64_t NewSize) override;  // raises EStreamError on failure
  int Handle() const { return FHandle; }

protected:
  int FHandle;  // -1 once closed
};

// Opens (or with fmCreate creates and empties) a file and closes it on
// destruction. The share modes are accepted and not enforced: this platform has
// no mandatory file sharing. Failure raises EFOpenError / EFCreateError with the
// system's text.
class TFileStream : public THandleStream {
public:
  TFileStream(const AnsiString& FileName, uint16_t Mode);
  ~TFileStream() override;
  const AnsiString& FileName() const { return FFileName; }

private:
  AnsiString FFileName;
};

// ---------------------------------------------------------------------------
// Filers: the text form's writer and reader.

using TReaderProc = std::function<void(TReader&)>;
using TWriterProc = std::function<void(TWriter&)>;
using TStreamProc = std::function<void(TStream&)>;

// Kinds of value as NextValue reports them.
enum TValueType : uint8_t {
  vaNull = 0, vaList, vaInt8, vaInt16, vaInt32, vaExtended, vaString, vaIdent, vaFalse,
  vaTrue, vaBinary, vaSet, vaLString, vaNil, vaCollection, vaSingle, vaCurrency, vaDate,
  vaWString, vaInt64
};

class TFiler {
public:
  virtual ~TFiler() = default;
  // Declares a property written and read by the given procedures (which use the
  // TWriter / TReader value routines); written only when HasData.
  virtual void DefineProperty(const AnsiString& Name, TReaderProc ReadData, TWriterProc WriteData,
                              bool HasData) = 0;
  // Declares a property whose value is a block of bytes, written as hex.
  virtual void DefineBinaryProperty(const AnsiString& Name, TStreamProc ReadData,
                                    TStreamProc WriteData, bool HasData) = 0;
  TComponent* Root() const { return FRoot; }

protected:
  TComponent* FRoot = nullptr;  // the outermost component being streamed
};

class TWriter : public TFiler {
public:
  explicit TWriter(TStream& Stream);
  ~TWriter() override;
  void WriteRootComponent(TComponent* Root);

  void DefineProperty(const AnsiString& Name, TReaderProc ReadData, TWriterProc WriteData,
                      bool HasData) override;
  void DefineBinaryProperty(const AnsiString& Name, TStreamProc ReadData, TStreamProc WriteData,
                            bool HasData) override;

  // Values, for DefineProperty procedures.
  void WriteInteger(int64_t Value);
  void WriteFloat(double Value);
  void WriteBoolean(bool Value);
  void WriteString(const AnsiString& Value);
  void WriteIdent(const AnsiString& Ident);
  void WriteListBegin();
  void WriteListEnd();
  void WriteVariant(const Variant& Value);

private:
  struct TImpl;
  void WriteObject(TComponent* Component);
  void WriteProperties(TPersistent* Instance);
  void WriteCollection(const AnsiString& Name, TCollection* Collection);
  std::unique_ptr<TImpl> FImpl;
};

class TReader : public TFiler {
public:
  explicit TReader(TStream& Stream);
  ~TReader() override;
  // Reads one object. Root nullptr: created by class name with Owner as owner.
  TComponent* ReadRootComponent(TComponent* Root, TComponent* Owner = nullptr);

  void DefineProperty(const AnsiString& Name, TReaderProc ReadData, TWriterProc WriteData,
                      bool HasData) override;
  void DefineBinaryProperty(const AnsiString& Name, TStreamProc ReadData, TStreamProc WriteData,
                            bool HasData) override;

  // Values, for DefineProperty procedures; a value of another kind raises
  // EReadError.
  TValueType NextValue();
  int64_t ReadInteger();
  double ReadFloat();
  bool ReadBoolean();
  AnsiString ReadString();
  AnsiString ReadIdent();
  void ReadListBegin();
  void ReadListEnd();
  bool EndOfList();
  Variant ReadVariant();

private:
  struct TImpl;
  TComponent* ReadObject(TComponent* Instance, TComponent* Owner);
  void ReadProperty(TPersistent* Instance, const AnsiString& Path, TComponent* Component);
  void ReadPropertyValue(TPersistent* Instance, const TPropInfo& Prop, TComponent* Component);
  void ReadCollection(TCollection* Collection, TComponent* Component);
  std::unique_ptr<TImpl> FImpl;
};

// Looks up a component that a stream references but that is not in the tree
// being read (for references between forms); unset by default.
extern std::function<TComponent*(const AnsiString& Name)> FindGlobalComponent;

AnsiString ComponentToText(TComponent* Instance);
TComponent* TextToComponent(const AnsiString& Text, TComponent* Instance = nullptr,
                            TComponent* Owner = nullptr);
#pragma GCC visibility pop
