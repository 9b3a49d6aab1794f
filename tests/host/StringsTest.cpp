// String lists: text, objects, sorting with duplicates, names and values,
// update nesting and change notification; collections.
#include <gtest/gtest.h>

#include "host/Classes.h"

namespace {
struct TCounted : TObject {
  explicit TCounted(int* Alive) : FAlive(Alive) { ++*FAlive; }
  ~TCounted() override { --*FAlive; }
  int* FAlive;
};
}  // namespace

TEST(StringList, TextJoinsAndSplitsLines) {
  TStringList L;
  L.SetText("one\r\ntwo\nthree\rfour");
  ASSERT_EQ(L.Count(), 4);
  EXPECT_EQ(L[3], "four");
  EXPECT_EQ(L.GetText(), "one\ntwo\nthree\nfour\n");
  L.SetText("a\n\nb\n");
  EXPECT_EQ(L.Count(), 3);  // the empty line stays, the final break ends the last line
  EXPECT_EQ(L[1], "");
  L.SetText("");
  EXPECT_EQ(L.Count(), 0);
  EXPECT_EQ(L.GetText(), "");
  L.SetText(AnsiString("x\0y", 3));
  EXPECT_EQ(L[0].size(), 3u);  // an embedded NUL is data, not an end
}

TEST(StringList, ObjectsTravelWithTheirStrings) {
  TStringList L;
  TObject A, B;
  L.AddObject("b", &B);
  L.AddObject("a", &A);
  EXPECT_EQ(L.Objects(1), &A);
  EXPECT_EQ(L.IndexOfObject(&B), 0);
  L.SetSorted(true);
  EXPECT_EQ(L[0], "a");
  EXPECT_EQ(L.Objects(0), &A);
  L.Exchange(0, 1);
  EXPECT_EQ(L.Objects(0), &B);
  EXPECT_THROW(L.Objects(2), EStringListError);
  EXPECT_THROW(L.Get(-1), EStringListError);
}

TEST(StringList, OwnedObjectsAreFreedOnDeleteClearAndDestruction) {
  int Alive = 0;
  {
    TStringList L;
    L.SetOwnsObjects(true);
    L.AddObject("a", new TCounted(&Alive));
    L.AddObject("b", new TCounted(&Alive));
    L.AddObject("c", new TCounted(&Alive));
    L.Delete(0);
    EXPECT_EQ(Alive, 2);
    L.Clear();
    EXPECT_EQ(Alive, 0);
    L.AddObject("d", new TCounted(&Alive));
  }
  EXPECT_EQ(Alive, 0);
}

TEST(StringList, SortedListKeepsOrderAndHandlesDuplicates) {
  TStringList L;
  L.SetSorted(true);
  EXPECT_EQ(L.Add("pear"), 0);
  EXPECT_EQ(L.Add("Apple"), 0);
  EXPECT_EQ(L.Add("\xE9clair"), 1);  // é sorts with e, between Apple and pear
  EXPECT_EQ(L.Add("PEAR"), 2);       // dupIgnore: the index of the existing one
  EXPECT_EQ(L.Count(), 3);
  EXPECT_EQ(L.IndexOf("APPLE"), 0);
  EXPECT_EQ(L.IndexOf("plum"), -1);
  int Index = -1;
  EXPECT_FALSE(L.Find("banana", Index));
  EXPECT_EQ(Index, 1);
  L.SetDuplicates(dupError);
  EXPECT_THROW(L.Add("apple"), EStringListError);
  EXPECT_EQ(L.Count(), 3);
  L.SetDuplicates(dupAccept);
  L.Add("apple");
  EXPECT_EQ(L.Count(), 4);
  EXPECT_THROW(L.Insert(0, "x"), EStringListError);
  EXPECT_THROW(L.Put(0, "x"), EStringListError);
  L.SetCaseSensitive(true);
  L.SetDuplicates(dupIgnore);
  EXPECT_EQ(L.Count(), 4);
  const int Before = L.Count();
  L.Add("Apple");
  EXPECT_EQ(L.Count(), Before);  // exactly this spelling exists
}

TEST(StringList, UnsortedIndexOfIsCaseInsensitiveUnlessAsked) {
  TStringList L;
  L.Add("Name");
  EXPECT_EQ(L.IndexOf("NAME"), 0);
  L.SetCaseSensitive(true);
  EXPECT_EQ(L.IndexOf("NAME"), -1);
}

TEST(StringList, NamesValuesAndCommaText) {
  TStringList L;
  L.Add("uid=dba");
  L.Add("pwd=sql");
  EXPECT_EQ(L.GetValue("UID"), "dba");
  EXPECT_EQ(L.Names(1), "pwd");
  L.SetValue("pwd", "secret");
  EXPECT_EQ(L[1], "pwd=secret");
  L.SetValue("eng", "demo");
  EXPECT_EQ(L.Count(), 3);
  L.SetValue("uid", "");
  EXPECT_EQ(L.IndexOfName("uid"), -1);
  L.SetCommaText("a, \"b c\",\"d\"\"e\",");
  ASSERT_EQ(L.Count(), 4);
  EXPECT_EQ(L[1], "b c");
  EXPECT_EQ(L[2], "d\"e");
  EXPECT_EQ(L[3], "");
  EXPECT_EQ(L.GetCommaText(), "a,\"b c\",\"d\"\"e\",\"\"");
}

TEST(StringList, ChangeEventsWaitForTheOutermostEndUpdate) {
  TStringList L;
  int Changes = 0, Changings = 0;
  L.OnChange = [&](TObject* Sender) {
    EXPECT_EQ(Sender, &L);
    ++Changes;
  };
  L.OnChanging = [&](TObject*) { ++Changings; };
  L.Add("a");
  EXPECT_EQ(Changes, 1);
  EXPECT_EQ(Changings, 1);
  L.BeginUpdate();
  L.BeginUpdate();
  L.Add("b");
  L.Add("c");
  L.EndUpdate();
  EXPECT_EQ(Changes, 1);
  L.EndUpdate();
  EXPECT_EQ(Changes, 2);
  EXPECT_EQ(Changings, 2);
  L.EndUpdate();  // unbalanced: ignored
  L.SetText("x\ny");
  EXPECT_EQ(Changes, 3);  // SetText batches its work into one change
}

TEST(StringList, AssignCopiesStringsAndObjects) {
  TStringList A, B;
  TObject O;
  A.AddObject("x", &O);
  A.Add("y");
  B.Add("old");
  B.Assign(&A);
  EXPECT_TRUE(B.Equals(A));
  EXPECT_EQ(B.Objects(0), &O);
  B.Assign(&B);
  EXPECT_EQ(B.Count(), 2);
  B.Move(0, 1);
  EXPECT_EQ(B[1], "x");
  EXPECT_EQ(B.Objects(1), &O);
}

namespace {
class TNamedItem : public TCollectionItem {
public:
  using TCollectionItem::TCollectionItem;
  AnsiString Name;
  void Assign(const TPersistent* Source) override {
    if (auto* I = dynamic_cast<const TNamedItem*>(Source)) {
      Name = I->Name;
      return;
    }
    TCollectionItem::Assign(Source);
  }
};
TCollection::TItemFactory NamedItems() {
  return [](TCollection* C) { return new TNamedItem(C); };
}
}  // namespace

TEST(Collection, ItemsBelongToOneCollection) {
  TCollection C(TCollectionItem::StaticClass(), NamedItems());
  auto* A = static_cast<TNamedItem*>(C.Add());
  A->Name = "a";
  auto* B = static_cast<TNamedItem*>(C.Insert(0));
  B->Name = "b";
  EXPECT_EQ(C.Items(0), B);
  EXPECT_EQ(A->Index(), 1);
  EXPECT_NE(A->ID(), B->ID());
  EXPECT_EQ(C.FindItemID(A->ID()), A);
  delete B;  // an item leaves its collection when destroyed
  EXPECT_EQ(C.Count(), 1);
  TCollection D(TCollectionItem::StaticClass(), NamedItems());
  D.Assign(&C);
  ASSERT_EQ(D.Count(), 1);
  EXPECT_EQ(static_cast<TNamedItem*>(D.Items(0))->Name, "a");
  A->SetCollection(&D);
  EXPECT_EQ(C.Count(), 0);
  EXPECT_EQ(D.Count(), 2);
  EXPECT_THROW(D.Items(2), EListError);
  D.Delete(0);
  EXPECT_EQ(D.Items(0), A);
}
