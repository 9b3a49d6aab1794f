// String lists and collections.
#include <algorithm>

#include "host/Classes.h"
#include "host/Messages.h"

// ---------------------------------------------------------------------------
// TStrings

const TMetaClass& TStrings::StaticClass() {
  static const TMetaClass Meta("TStrings", &TPersistent::StaticClass());
  return Meta;
}

void TStrings::Error(int Index) const { throw EStringListError(Format(LoadResString(SListIndexError), {Index})); }

void TStrings::Put(int Index, const AnsiString& S) {
  TObject* O = GetObject(Index);
  BeginUpdate();
  try {
    Delete(Index);
    InsertObject(Index, S, O);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

TObject* TStrings::GetObject(int) const { return nullptr; }
void TStrings::PutObject(int, TObject*) {}

int TStrings::Add(const AnsiString& S) {
  const int I = GetCount();
  Insert(I, S);
  return I;
}

int TStrings::AddObject(const AnsiString& S, TObject* AObject) {
  const int I = Add(S);
  PutObject(I, AObject);
  return I;
}

void TStrings::InsertObject(int Index, const AnsiString& S, TObject* AObject) {
  Insert(Index, S);
  PutObject(Index, AObject);
}

int TStrings::IndexOf(const AnsiString& S) const {
  for (int I = 0; I < GetCount(); ++I)
    if (AnsiCompareText(Get(I), S) == 0) return I;
  return -1;
}

int TStrings::IndexOfObject(TObject* AObject) const {
  for (int I = 0; I < GetCount(); ++I)
    if (GetObject(I) == AObject) return I;
  return -1;
}

void TStrings::AddStrings(const TStrings& Strings) {
  BeginUpdate();
  try {
    for (int I = 0; I < Strings.GetCount(); ++I) AddObject(Strings.Get(I), Strings.GetObject(I));
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

AnsiString TStrings::GetText() const {
  AnsiString R;
  for (int I = 0; I < GetCount(); ++I) {
    R += Get(I);
    R += sLineBreak;
  }
  return R;
}

void TStrings::SetText(const AnsiString& Value) {
  BeginUpdate();
  try {
    Clear();
    size_t Pos = 0;
    while (Pos < Value.size()) {
      size_t End = Value.find_first_of("\r\n", Pos);
      if (End == AnsiString::npos) End = Value.size();
      Add(Value.substr(Pos, End - Pos));
      Pos = End;
      if (Pos < Value.size() && Value[Pos] == '\r') ++Pos;
      if (Pos < Value.size() && Value[Pos] == '\n') ++Pos;
    }
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TStrings::Assign(const TPersistent* Source) {
  if (auto* S = dynamic_cast<const TStrings*>(Source)) {
    if (S == this) return;
    BeginUpdate();
    try {
      Clear();
      AddStrings(*S);
    } catch (...) {
      EndUpdate();
      throw;
    }
    EndUpdate();
    return;
  }
  TPersistent::Assign(Source);
}

int TStrings::IndexOfName(const AnsiString& Name) const {
  for (int I = 0; I < GetCount(); ++I) {
    const AnsiString S = Get(I);
    const size_t Eq = S.find('=');
    if (Eq != AnsiString::npos && AnsiCompareText(S.substr(0, Eq), Name) == 0) return I;
  }
  return -1;
}

AnsiString TStrings::Names(int Index) const {
  const AnsiString S = Get(Index);
  const size_t Eq = S.find('=');
  return Eq == AnsiString::npos ? AnsiString() : S.substr(0, Eq);
}

AnsiString TStrings::GetValue(const AnsiString& Name) const {
  const int I = IndexOfName(Name);
  if (I < 0) return {};
  const AnsiString S = Get(I);
  return S.substr(S.find('=') + 1);
}

void TStrings::SetValue(const AnsiString& Name, const AnsiString& Value) {
  const int I = IndexOfName(Name);
  if (Value.empty()) {
    if (I >= 0) Delete(I);
  } else if (I >= 0) {
    Put(I, Name + "=" + Value);
  } else {
    Add(Name + "=" + Value);
  }
}

AnsiString TStrings::GetCommaText() const {
  AnsiString R;
  for (int I = 0; I < GetCount(); ++I) {
    if (I) R += ',';
    const AnsiString S = Get(I);
    bool Quote = S.empty();
    for (char C : S)
      if (static_cast<unsigned char>(C) <= ' ' || C == ',' || C == '"') Quote = true;
    if (Quote) R += "\"" + StringReplace(S, "\"", "\"\"") + "\"";
    else R += S;
  }
  return R;
}

void TStrings::SetCommaText(const AnsiString& Value) {
  BeginUpdate();
  try {
    Clear();
    size_t I = 0;
    const size_t N = Value.size();
    auto SkipBlanks = [&] {
      while (I < N && static_cast<unsigned char>(Value[I]) <= ' ') ++I;
    };
    SkipBlanks();
    while (I < N) {
      AnsiString Item;
      if (Value[I] == '"') {
        ++I;
        while (I < N) {
          if (Value[I] == '"') {
            if (I + 1 < N && Value[I + 1] == '"') {
              Item += '"';
              I += 2;
              continue;
            }
            ++I;
            break;
          }
          Item += Value[I++];
        }
      } else {
        while (I < N && Value[I] != ',' && static_cast<unsigned char>(Value[I]) > ' ') Item += Value[I++];
      }
      Add(Item);
      SkipBlanks();
      if (I < N && Value[I] == ',') {
        ++I;
        SkipBlanks();
        if (I >= N) Add(AnsiString());
      }
    }
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TStrings::Exchange(int Index1, int Index2) {
  BeginUpdate();
  try {
    TObject* O1 = GetObject(Index1);
    TObject* O2 = GetObject(Index2);
    const AnsiString S1 = Get(Index1);
    Put(Index1, Get(Index2));
    PutObject(Index1, O2);
    Put(Index2, S1);
    PutObject(Index2, O1);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TStrings::Move(int CurIndex, int NewIndex) {
  if (CurIndex == NewIndex) return;
  BeginUpdate();
  try {
    const AnsiString S = Get(CurIndex);
    TObject* O = GetObject(CurIndex);
    Delete(CurIndex);
    InsertObject(NewIndex, S, O);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

bool TStrings::Equals(const TStrings& Strings) const {
  if (GetCount() != Strings.GetCount()) return false;
  for (int I = 0; I < GetCount(); ++I)
    if (Get(I) != Strings.Get(I)) return false;
  return true;
}

void TStrings::BeginUpdate() {
  if (FUpdateCount++ == 0) SetUpdateState(true);
}

void TStrings::EndUpdate() {
  if (FUpdateCount == 0) return;
  if (--FUpdateCount == 0) SetUpdateState(false);
}

void TStrings::SetUpdateState(bool) {}

void TStrings::LoadFromStream(TStream& Stream) {
  const int64_t Size = Stream.GetSize() - Stream.GetPosition();
  AnsiString Text(static_cast<size_t>(Size > 0 ? Size : 0), '\0');
  if (Size > 0) Stream.ReadBuffer(Text.data(), Size);
  SetText(Text);
}

void TStrings::SaveToStream(TStream& Stream) const {
  const AnsiString Text = GetText();
  Stream.WriteBuffer(Text.data(), static_cast<int64_t>(Text.size()));
}

void TStrings::LoadFromFile(const AnsiString& FileName) {
  TFileStream Stream(FileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(Stream);
}

void TStrings::SaveToFile(const AnsiString& FileName) const {
  TFileStream Stream(FileName, fmCreate);
  SaveToStream(Stream);
}

void TStrings::DefineProperties(TFiler& Filer) {
  Filer.DefineProperty(
      "Strings",
      [this](TReader& Reader) {
        BeginUpdate();
        try {
          Clear();
          Reader.ReadListBegin();
          while (!Reader.EndOfList()) Add(Reader.ReadString());
          Reader.ReadListEnd();
        } catch (...) {
          EndUpdate();
          throw;
        }
        EndUpdate();
      },
      [this](TWriter& Writer) {
        Writer.WriteListBegin();
        for (int I = 0; I < GetCount(); ++I) Writer.WriteString(Get(I));
        Writer.WriteListEnd();
      },
      GetCount() > 0);
}

// ---------------------------------------------------------------------------
// TStringList

const TMetaClass& TStringList::StaticClass() {
  static const TMetaClass Meta("TStringList", &TStrings::StaticClass());
  return Meta;
}

TStringList::~TStringList() {
  OnChange = nullptr;
  OnChanging = nullptr;
  if (FOwnsObjects)
    for (TItem& I : FList) delete I.Object;
}

void TStringList::Check(int Index) const {
  if (Index < 0 || Index >= GetCount()) Error(Index);
}

void TStringList::Changed() {
  if (UpdateCount() == 0 && OnChange) OnChange(this);
}

void TStringList::Changing() {
  if (UpdateCount() == 0 && OnChanging) OnChanging(this);
}

void TStringList::SetUpdateState(bool Updating) {
  if (Updating) {
    if (OnChanging) OnChanging(this);
  } else if (OnChange) {
    OnChange(this);
  }
}

int TStringList::CompareStrings(const AnsiString& S1, const AnsiString& S2) const {
  return FCaseSensitive ? AnsiCompareStr(S1, S2) : AnsiCompareText(S1, S2);
}

AnsiString TStringList::Get(int Index) const {
  Check(Index);
  return FList[static_cast<size_t>(Index)].Str;
}

void TStringList::Put(int Index, const AnsiString& S) {
  if (FSorted) throw EStringListError(LoadResString(SSortedListError));
  Check(Index);
  Changing();
  FList[static_cast<size_t>(Index)].Str = S;
  Changed();
}

TObject* TStringList::GetObject(int Index) const {
  Check(Index);
  return FList[static_cast<size_t>(Index)].Object;
}

void TStringList::PutObject(int Index, TObject* AObject) {
  Check(Index);
  Changing();
  FList[static_cast<size_t>(Index)].Object = AObject;
  Changed();
}

void TStringList::InsertItem(int Index, const AnsiString& S, TObject* AObject) {
  Changing();
  FList.insert(FList.begin() + Index, TItem{S, AObject});
  Changed();
}

void TStringList::Insert(int Index, const AnsiString& S) {
  if (FSorted) throw EStringListError(LoadResString(SSortedListError));
  if (Index < 0 || Index > GetCount()) Error(Index);
  InsertItem(Index, S, nullptr);
}

void TStringList::Delete(int Index) {
  Check(Index);
  Changing();
  TObject* O = FList[static_cast<size_t>(Index)].Object;
  FList.erase(FList.begin() + Index);
  if (FOwnsObjects) delete O;
  Changed();
}

void TStringList::Clear() {
  if (FList.empty()) return;
  Changing();
  std::vector<TItem> Old;
  Old.swap(FList);
  if (FOwnsObjects)
    for (TItem& I : Old) delete I.Object;
  Changed();
}

int TStringList::Add(const AnsiString& S) { return AddObject(S, nullptr); }

int TStringList::AddObject(const AnsiString& S, TObject* AObject) {
  int Index;
  if (!FSorted) {
    Index = GetCount();
  } else if (Find(S, Index)) {
    if (FDuplicates == dupIgnore) return Index;
    if (FDuplicates == dupError) throw EStringListError(LoadResString(SDuplicateString));
  }
  InsertItem(Index, S, AObject);
  return Index;
}

bool TStringList::Find(const AnsiString& S, int& Index) const {
  // Lower bound, so that the first of several equal strings is found.
  int Lo = 0, Hi = GetCount() - 1;
  bool Found = false;
  while (Lo <= Hi) {
    const int Mid = Lo + (Hi - Lo) / 2;
    const int C = CompareStrings(FList[static_cast<size_t>(Mid)].Str, S);
    if (C < 0) {
      Lo = Mid + 1;
    } else {
      Hi = Mid - 1;
      if (C == 0) Found = true;
    }
  }
  Index = Lo;
  return Found;
}

int TStringList::IndexOf(const AnsiString& S) const {
  if (!FSorted) {
    for (int I = 0; I < GetCount(); ++I)
      if (CompareStrings(FList[static_cast<size_t>(I)].Str, S) == 0) return I;
    return -1;
  }
  int I;
  return Find(S, I) ? I : -1;
}

void TStringList::Exchange(int Index1, int Index2) {
  Check(Index1);
  Check(Index2);
  Changing();
  std::swap(FList[static_cast<size_t>(Index1)], FList[static_cast<size_t>(Index2)]);
  Changed();
}

void TStringList::Sort() {
  if (GetCount() < 2) return;
  Changing();
  std::stable_sort(FList.begin(), FList.end(),
                   [this](const TItem& A, const TItem& B) { return CompareStrings(A.Str, B.Str) < 0; });
  Changed();
}

void TStringList::CustomSort(const std::function<int(TStringList&, int, int)>& Compare) {
  if (FSorted || GetCount() < 2) return;
  Changing();
  // Sort a permutation with the caller's index-based comparison, then apply it.
  std::vector<int> Order(FList.size());
  for (size_t I = 0; I < Order.size(); ++I) Order[I] = static_cast<int>(I);
  std::stable_sort(Order.begin(), Order.end(), [&](int A, int B) { return Compare(*this, A, B) < 0; });
  std::vector<TItem> Sorted;
  Sorted.reserve(FList.size());
  for (int I : Order) Sorted.push_back(FList[static_cast<size_t>(I)]);
  FList.swap(Sorted);
  Changed();
}

void TStringList::SetSorted(bool Value) {
  if (FSorted == Value) return;
  if (Value) Sort();
  FSorted = Value;
}

void TStringList::SetCaseSensitive(bool Value) {
  if (FCaseSensitive == Value) return;
  FCaseSensitive = Value;
  if (FSorted) Sort();
}

// ---------------------------------------------------------------------------
// TCollection

const TMetaClass& TCollectionItem::StaticClass() {
  static const TMetaClass Meta("TCollectionItem", &TPersistent::StaticClass());
  return Meta;
}

TCollectionItem::TCollectionItem(TCollection* Collection) { SetCollection(Collection); }

TCollectionItem::~TCollectionItem() {
  if (FCollection) FCollection->RemoveItem(this);
}

void TCollectionItem::SetCollection(TCollection* Value) {
  if (FCollection == Value) return;
  if (FCollection) FCollection->RemoveItem(this);
  if (Value) Value->InsertItem(this);
}

int TCollectionItem::Index() const {
  if (!FCollection) return -1;
  auto& L = FCollection->FItems;
  auto It = std::find(L.begin(), L.end(), this);
  return It == L.end() ? -1 : static_cast<int>(It - L.begin());
}

void TCollectionItem::SetIndex(int Value) {
  const int Cur = Index();
  if (Cur < 0 || Cur == Value) return;
  auto& L = FCollection->FItems;
  if (Value < 0) Value = 0;
  if (Value >= static_cast<int>(L.size())) Value = static_cast<int>(L.size()) - 1;
  L.erase(L.begin() + Cur);
  L.insert(L.begin() + Value, this);
  Changed(true);
}

AnsiString TCollectionItem::GetDisplayName() const { return ClassName(); }

void TCollectionItem::Changed(bool AllItems) {
  if (FCollection && FCollection->FUpdateCount == 0) FCollection->Update(AllItems ? nullptr : this);
}

const TMetaClass& TCollection::StaticClass() {
  static const TMetaClass Meta("TCollection", &TPersistent::StaticClass());
  return Meta;
}

TCollection::TCollection(const TMetaClass& ItemClass, TItemFactory ItemFactory)
    : FItemClass(&ItemClass), FItemFactory(std::move(ItemFactory)) {}

TCollection::~TCollection() {
  FUpdateCount = 1;  // no Update calls while the items go
  Clear();
}

void TCollection::InsertItem(TCollectionItem* Item) {
  FItems.push_back(Item);
  Item->FCollection = this;
  Item->FID = FNextID++;
  Changed();
}

void TCollection::RemoveItem(TCollectionItem* Item) {
  auto It = std::find(FItems.begin(), FItems.end(), Item);
  if (It != FItems.end()) FItems.erase(It);
  Item->FCollection = nullptr;
  Changed();
}

TCollectionItem* TCollection::Add() {
  if (!FItemFactory) throw EInvalidOperation(Format(LoadResString(SClassNotFound), {FItemClass->ClassName()}));
  TCollectionItem* Item = FItemFactory(this);
  if (Item && Item->FCollection != this) Item->SetCollection(this);
  return Item;
}

TCollectionItem* TCollection::Insert(int Index) {
  TCollectionItem* Item = Add();
  Item->SetIndex(Index);
  return Item;
}

void TCollection::Delete(int Index) { delete Items(Index); }

void TCollection::Clear() {
  if (FItems.empty()) return;
  BeginUpdate();
  while (!FItems.empty()) delete FItems.back();
  EndUpdate();
}

TCollectionItem* TCollection::Items(int Index) const {
  if (Index < 0 || Index >= Count()) throw EListError(Format(LoadResString(SListIndexError), {Index}));
  return FItems[static_cast<size_t>(Index)];
}

TCollectionItem* TCollection::FindItemID(int ID) const {
  for (TCollectionItem* I : FItems)
    if (I->FID == ID) return I;
  return nullptr;
}

void TCollection::BeginUpdate() { ++FUpdateCount; }

void TCollection::EndUpdate() {
  if (FUpdateCount > 0 && --FUpdateCount == 0) Changed();
}

void TCollection::Changed() {
  if (FUpdateCount == 0) Update(nullptr);
}

void TCollection::Update(TCollectionItem*) {}

void TCollection::Assign(const TPersistent* Source) {
  if (auto* S = dynamic_cast<const TCollection*>(Source)) {
    if (S == this) return;
    BeginUpdate();
    try {
      Clear();
      for (TCollectionItem* I : S->FItems) Add()->Assign(I);
    } catch (...) {
      EndUpdate();
      throw;
    }
    EndUpdate();
    return;
  }
  TPersistent::Assign(Source);
}
