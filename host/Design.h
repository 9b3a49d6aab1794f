// Design: what a development environment offers components at design time — the
// palette (components registered on named pages), property editors and component
// editors registered by property type, component class and property name, and a
// small designer that holds a form's components, finds the editor for a property
// and runs it, so that editors can run and be tested outside an environment.
//
// Looking up a property editor, most specific first:
//   1. a registration naming the property beats one for every property of the type;
//   2. then the registration whose component class is nearest the component's own
//      class (no class = farthest);
//   3. then the later registration.
// A property type is named as registered: "AnsiString", "Integer", "Boolean",
// "Double", "Variant", or a class name; a class-typed property also matches the
// registrations of its ancestors' names.
#pragma once
#pragma GCC visibility push(default)

#include <functional>
#include <memory>
#include <vector>

#include "host/Classes.h"
#include "host/Sets.h"

class TDesigner;

enum TPropertyAttribute : uint8_t {
  paValueList = 0, paSubProperties, paDialog, paMultiSelect, paAutoUpdate, paSortList,
  paReadOnly, paRevertable
};
using TPropertyAttributes = TSet<TPropertyAttribute, uint16_t>;

using TGetStrProc = std::function<void(const AnsiString& Value)>;

class TPropertyEditor {
public:
  TPropertyEditor(TDesigner* Designer, std::vector<TPersistent*> Components, AnsiString PropName);
  virtual ~TPropertyEditor() = default;

  virtual TPropertyAttributes GetAttributes() { return {paRevertable}; }
  virtual AnsiString GetValue();
  virtual void SetValue(const AnsiString& Value);
  // The dialog of a paDialog editor.
  virtual void Edit() {}
  // The values of a paValueList editor, handed one by one to Proc.
  virtual void GetValues(const TGetStrProc& Proc) {}
  // A list the environment shows: GetValues collected, sorted for paSortList.
  std::vector<AnsiString> ValueList();

  const AnsiString& GetName() const { return FPropName; }
  int PropCount() const { return static_cast<int>(FComponents.size()); }
  TPersistent* GetComponent(int Index) const { return FComponents.at(Index); }
  TDesigner* Designer() const { return FDesigner; }
  // The published property behind the editor, when the class registered one.
  const TPropInfo* PropInfo() const;

protected:
  // Read from the first component, written to all, through the registered accessors.
  Variant GetVarValue() const;
  void SetVarValue(const Variant& Value);
  AnsiString GetStrValue() const;
  void SetStrValue(const AnsiString& Value) { SetVarValue(Variant(Value)); }
  // Tells the designer that the form changed.
  void Modified();

private:
  TDesigner* FDesigner;
  std::vector<TPersistent*> FComponents;  // the selection being edited; not owned
  AnsiString FPropName;
};

class TComponentEditor {
public:
  TComponentEditor(TComponent* Component, TDesigner* Designer) : FComponent(Component), FDesigner(Designer) {}
  virtual ~TComponentEditor() = default;
  virtual int GetVerbCount() { return 0; }
  virtual AnsiString GetVerb(int Index) { return {}; }
  virtual void ExecuteVerb(int Index) {}
  // A double click: the first verb when there is one.
  virtual void Edit() {
    if (GetVerbCount() > 0) ExecuteVerb(0);
  }
  TComponent* Component() const { return FComponent; }
  TDesigner* Designer() const { return FDesigner; }

private:
  TComponent* FComponent;
  TDesigner* FDesigner;
};

using TPropertyEditorFactory =
    std::function<std::unique_ptr<TPropertyEditor>(TDesigner*, std::vector<TPersistent*>, const AnsiString& PropName)>;
using TComponentEditorFactory = std::function<std::unique_ptr<TComponentEditor>(TComponent*, TDesigner*)>;

template <typename E>
TPropertyEditorFactory PropertyEditorOf() {
  return [](TDesigner* D, std::vector<TPersistent*> C, const AnsiString& N) -> std::unique_ptr<TPropertyEditor> {
    return std::make_unique<E>(D, std::move(C), N);
  };
}
template <typename E>
TComponentEditorFactory ComponentEditorOf() {
  return [](TComponent* C, TDesigner* D) -> std::unique_ptr<TComponentEditor> { return std::make_unique<E>(C, D); };
}

// --- registration (process-wide, guarded: packages register while loading)
void RegisterComponents(const AnsiString& Page, std::initializer_list<const TMetaClass*> Classes);
std::vector<AnsiString> PalettePages();                            // in order of first use
std::vector<const TMetaClass*> PaletteComponents(const AnsiString& Page);  // in registration order
// ComponentClass nullptr: any class; PropertyName empty: every property of the type.
void RegisterPropertyEditor(const AnsiString& PropertyType, const TMetaClass* ComponentClass,
                            const AnsiString& PropertyName, TPropertyEditorFactory Factory);
void RegisterComponentEditor(const TMetaClass* ComponentClass, TComponentEditorFactory Factory);
// Forgets every registration (a package unloading; tests).
void ClearDesignRegistry();

// The type name under which a published property's editor is looked up.
AnsiString PropertyTypeName(const TPropInfo& Info, const TObject& Instance);

// Holds the components of one form being designed.
class TDesigner {
public:
  explicit TDesigner(TComponent* Root) : FRoot(Root) {}
  TComponent* Root() const { return FRoot; }
  // The form's components: the root's owned components.
  std::vector<TComponent*> Components() const;
  TComponent* FindComponent(const AnsiString& Name) const;

  // The editor for a property of the selection, or nullptr when no registration
  // fits. With an empty PropertyType the type comes from the published property.
  std::unique_ptr<TPropertyEditor> GetPropertyEditor(std::vector<TPersistent*> Selection,
                                                     const AnsiString& PropName,
                                                     const AnsiString& PropertyType = {});
  // The nearest registered component editor, else a default one without verbs.
  std::unique_ptr<TComponentEditor> GetComponentEditor(TComponent* Component);
  // Finds the property's editor and runs its dialog; false when there is none or
  // it is not a dialog editor.
  bool EditProperty(TComponent* Component, const AnsiString& PropName, const AnsiString& PropertyType = {});

  // The designer's modified notification.
  void Modified() {
    ++FModifiedCount;
    if (OnModified) OnModified();
  }
  int ModifiedCount() const { return FModifiedCount; }
  std::function<void()> OnModified;

private:
  TComponent* FRoot;
  int FModifiedCount = 0;
};
#pragma GCC visibility pop
