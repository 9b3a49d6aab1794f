// The data-set framework driven through the in-memory test data set: navigation
// across buffer boundaries, bookmarks, editing with events and errors, filters,
// calculated and lookup fields, field values and master/detail through a link.
#include <gtest/gtest.h>

#include <algorithm>

#include "MemDataSet.h"
#include "host/Forms.h"

namespace {

std::unique_ptr<TMemDataSet> People(int Rows = 10) {
  auto D = std::make_unique<TMemDataSet>(nullptr, std::vector<TMemColumn>{
      {"ID", ftInteger}, {"NAME", ftString, 20}, {"DEPT", ftInteger}});
  for (int I = 1; I <= Rows; ++I)
    D->AddRow({Variant(I), Variant(AnsiString("P") + IntToStr(I)), Variant(I % 3)});
  return D;
}

// A link that records what reaches it and shows several records, like a grid.
class TRecordingLink : public TDataLink {
public:
  std::vector<std::string> Events;

protected:
  void ActiveChanged() override { Events.push_back(Active() ? "active" : "inactive"); }
  void DataSetChanged() override { Events.push_back("changed"); }
  void DataSetScrolled(int Distance) override { Events.push_back("scrolled " + std::to_string(Distance)); }
  void RecordChanged(TField* Field) override { Events.push_back(Field ? "field " + Field->FieldName() : "record"); }
  void EditingChanged() override { Events.push_back(Editing() ? "editing" : "not editing"); }
  void CheckBrowseMode() override { Events.push_back("check"); }
};

int Id(TDataSet& D) { return D.FieldByName("ID").GetAsInteger(); }

}  // namespace

TEST(DataSetOpen, CallsPrimitivesInOrderAndCreatesDefaultFields) {
  auto D = People(3);
  D->LogCalls = true;
  std::vector<std::string> Events;
  D->BeforeOpen = [&](TDataSet*) { Events.push_back("BeforeOpen"); };
  D->AfterOpen = [&](TDataSet* S) { Events.push_back(S->State() == dsBrowse ? "AfterOpen browse" : "AfterOpen ?"); };
  D->AfterScroll = [&](TDataSet*) { Events.push_back("AfterScroll"); };
  D->Open();
  EXPECT_EQ(Events, (std::vector<std::string>{"BeforeOpen", "AfterOpen browse", "AfterScroll"}));
  ASSERT_GE(D->Log.size(), 3u);
  EXPECT_EQ(D->Log[0], "InternalOpen");
  EXPECT_EQ(D->Log[1], "InternalInitFieldDefs");
  EXPECT_EQ(D->Log[2], "GetRecord(next)");
  EXPECT_TRUE(D->DefaultFields());
  EXPECT_EQ(D->FieldCount(), 3);
  EXPECT_EQ(D->FieldByName("name").FieldNo(), 2);
  EXPECT_TRUE(D->Bof());
  EXPECT_FALSE(D->Eof());
  EXPECT_EQ(Id(*D), 1);
  D->Close();
  EXPECT_EQ(D->FieldCount(), 0) << "default fields go with the cursor";
  EXPECT_EQ(D->Log.back(), "InternalClose");
}

TEST(DataSetOpen, EmptyDataSetIsBofAndEofAndOperationsCheckState) {
  auto D = People(0);
  EXPECT_THROW(D->First(), EDatabaseError) << "closed";
  D->Open();
  EXPECT_TRUE(D->IsEmpty());
  EXPECT_TRUE(D->Bof());
  EXPECT_TRUE(D->Eof());
  EXPECT_THROW(D->Delete(), EDatabaseError);
  EXPECT_THROW(D->CheckInactive(), EDatabaseError);
  EXPECT_THROW(D->FieldByName("nope"), EDatabaseError);
  EXPECT_EQ(D->FindField("nope"), nullptr);
  EXPECT_TRUE(D->FieldByName("ID").IsNull());
}

TEST(DataSetNavigation, WalksBothWaysAcrossBufferBoundaries) {
  auto D = People(10);
  D->Open();
  TDataSource Src(nullptr);
  TRecordingLink Link;
  Src.SetDataSet(D.get());
  Link.SetDataSource(&Src);
  Link.SetBufferCount(4);  // the ring holds 4 records: the walk must rotate it
  EXPECT_EQ(D->BufferCount(), 4);
  EXPECT_EQ(D->RecordCountInBuffers(), 4);

  std::vector<int> Forward;
  for (D->First(); !D->Eof(); D->Next()) Forward.push_back(Id(*D));
  EXPECT_EQ(Forward, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
  EXPECT_EQ(Id(*D), 10) << "Next at the end stays on the last record";

  std::vector<int> Backward;
  for (D->Last(); !D->Bof(); D->Prior()) Backward.push_back(Id(*D));
  EXPECT_EQ(Backward, (std::vector<int>{10, 9, 8, 7, 6, 5, 4, 3, 2, 1}));
  EXPECT_EQ(Id(*D), 1);

  D->First();
  EXPECT_EQ(D->MoveBy(6), 6);
  EXPECT_EQ(Id(*D), 7);
  EXPECT_EQ(D->MoveBy(-3), -3);
  EXPECT_EQ(Id(*D), 4);
  EXPECT_EQ(D->MoveBy(100), 6);
  EXPECT_TRUE(D->Eof());
  EXPECT_EQ(Id(*D), 10);
  EXPECT_EQ(D->MoveBy(-100), -9);
  EXPECT_TRUE(D->Bof());
  Link.SetDataSource(nullptr);
}

TEST(DataSetNavigation, ScrollEventsReachLinksWithTheShift) {
  auto D = People(10);
  TDataSource Src(nullptr);
  TRecordingLink Link;
  Src.SetDataSet(D.get());
  Link.SetDataSource(&Src);
  Link.SetBufferCount(3);
  D->Open();
  EXPECT_EQ(Link.Events.front(), "active");
  Link.Events.clear();
  D->Next();  // inside the window
  D->Next();
  D->Next();  // past the window: the ring shifts by one
  // Each move first asks the links to finish their edits, then reports the shift.
  EXPECT_EQ(Link.Events, (std::vector<std::string>{"check", "scrolled 0", "check", "scrolled 0", "check", "scrolled 1"}));
  EXPECT_EQ(Link.ActiveRecord(), 2);
  D->Close();
  EXPECT_EQ(Link.Events.back(), "inactive");
}

TEST(DataSetNavigation, RecNoAndRecordCountAndSettingRecNo) {
  auto D = People(10);
  D->Open();
  EXPECT_EQ(D->RecNo(), 1);
  EXPECT_EQ(D->RecordCount(), 10);
  D->SetRecNoValue(7);
  EXPECT_EQ(Id(*D), 7);
  EXPECT_EQ(D->RecNo(), 7);
  D->Last();
  EXPECT_EQ(D->RecNo(), 10);
}

TEST(DataSetBookmarks, GotoAndCompareAndValidity) {
  auto D = People(10);
  D->Open();
  D->MoveBy(5);
  TBookmark B6 = D->GetBookmark();
  ASSERT_EQ(B6.size(), 4u);
  D->Last();
  TBookmark B10 = D->GetBookmark();
  D->First();
  D->GotoBookmark(B6);
  EXPECT_EQ(Id(*D), 6);
  EXPECT_EQ(D->CompareBookmarks(B6.data(), B10.data()), -1);
  EXPECT_EQ(D->CompareBookmarks(B10.data(), B6.data()), 1);
  EXPECT_EQ(D->CompareBookmarks(B6.data(), B6.data()), 0);
  EXPECT_EQ(D->CompareBookmarks(nullptr, nullptr), 0);
  EXPECT_TRUE(D->BookmarkValid(B6.data()));
  D->Delete();  // deletes row 6
  EXPECT_FALSE(D->BookmarkValid(B6.data()));
  EXPECT_EQ(Id(*D), 7) << "after a delete the following record is shown";
  EXPECT_THROW(D->GotoBookmark(B6), EDatabaseError) << "a bookmark of a gone row is not found";
  TBookmark None;
  D->GotoBookmark(None);  // nothing happens
  EXPECT_EQ(Id(*D), 7);
}

TEST(DataSetEditing, EditPostFiresEventsInOrderAndStoresTheRow) {
  auto D = People(5);
  D->Open();
  D->MoveBy(2);
  std::vector<std::string> Events;
  D->BeforeEdit = [&](TDataSet*) { Events.push_back("BeforeEdit"); };
  D->AfterEdit = [&](TDataSet* S) { Events.push_back(S->State() == dsEdit ? "AfterEdit edit" : "?"); };
  D->BeforePost = [&](TDataSet*) { Events.push_back("BeforePost"); };
  D->AfterPost = [&](TDataSet* S) { Events.push_back(S->State() == dsBrowse ? "AfterPost browse" : "?"); };
  D->Edit();
  EXPECT_FALSE(D->Modified());
  D->FieldByName("NAME").SetAsString("Changed");
  EXPECT_TRUE(D->Modified());
  D->Post();
  EXPECT_EQ(Events, (std::vector<std::string>{"BeforeEdit", "AfterEdit edit", "BeforePost", "AfterPost browse"}));
  EXPECT_EQ(D->RowValue(2, 1).AsString(), "Changed");
  EXPECT_EQ(D->FieldByName("NAME").GetAsString(), "Changed");
  EXPECT_EQ(Id(*D), 3);
}

TEST(DataSetEditing, CancelRestoresTheShownValue) {
  auto D = People(3);
  D->Open();
  D->Edit();
  D->FieldByName("NAME").SetAsString("Temp");
  D->Cancel();
  EXPECT_EQ(D->State(), dsBrowse);
  EXPECT_EQ(D->FieldByName("NAME").GetAsString(), "P1");
  EXPECT_EQ(D->RowValue(0, 1).AsString(), "P1");
}

TEST(DataSetEditing, InsertGoesBeforeTheCurrentRecordAndAppendAtTheEnd) {
  auto D = People(3);
  D->Open();
  D->Next();  // on 2
  D->Insert();
  EXPECT_EQ(D->State(), dsInsert);
  EXPECT_TRUE(D->FieldByName("ID").IsNull()) << "a new record starts empty";
  D->FieldByName("ID").SetAsInteger(99);
  D->Post();
  EXPECT_EQ(D->RowCount(), 4);
  EXPECT_EQ(D->RowValue(1, 0).AsInteger(), 99);
  EXPECT_EQ(Id(*D), 99);

  D->Append();
  D->FieldByName("ID").SetAsInteger(100);
  D->Post();
  EXPECT_EQ(D->RowValue(4, 0).AsInteger(), 100);
  EXPECT_EQ(Id(*D), 100);
  std::vector<int> All;
  for (D->First(); !D->Eof(); D->Next()) All.push_back(Id(*D));
  EXPECT_EQ(All, (std::vector<int>{1, 99, 2, 3, 100}));
}

TEST(DataSetEditing, OnNewRecordSetsDefaultsAndEditOfEmptyInserts) {
  auto D = People(0);
  D->OnNewRecord = [](TDataSet* S) { S->FieldByName("DEPT").SetAsInteger(7); };
  D->Open();
  D->Edit();  // empty: becomes an insert
  EXPECT_EQ(D->State(), dsInsert);
  EXPECT_EQ(D->FieldByName("DEPT").GetAsInteger(), 7);
  EXPECT_FALSE(D->Modified()) << "defaults from OnNewRecord do not count as a change";
  D->FieldByName("ID").SetAsInteger(1);
  D->Post();
  EXPECT_EQ(D->RowCount(), 1);
  EXPECT_EQ(D->RowValue(0, 2).AsInteger(), 7);
}

TEST(DataSetEditing, CheckBrowseModePostsAModifiedRecordWhenScrolling) {
  auto D = People(3);
  D->Open();
  D->Edit();
  D->FieldByName("NAME").SetAsString("Kept");
  D->Next();  // leaving the record posts it
  EXPECT_EQ(D->RowValue(0, 1).AsString(), "Kept");
  D->Edit();
  D->Next();  // nothing changed: cancelled
  EXPECT_EQ(D->State(), dsBrowse);
}

TEST(DataSetEditing, EditErrorRetryAbortAndFail) {
  auto D = People(3);
  D->Open();
  int Calls = 0;
  D->FailEditTimes = 1;
  D->OnEditError = [&](TDataSet*, EDatabaseError& E, TDataAction& Action) {
    ++Calls;
    EXPECT_NE(std::string(E.what()).find("changed by another user"), std::string::npos);
    Action = daRetry;
  };
  D->Edit();  // fails once, the retry passes
  EXPECT_EQ(Calls, 1);
  EXPECT_EQ(D->State(), dsEdit);
  D->Cancel();

  D->FailEditTimes = 1;
  D->OnEditError = [&](TDataSet*, EDatabaseError&, TDataAction& Action) { Action = daAbort; };
  EXPECT_THROW(D->Edit(), EAbortOperation);
  EXPECT_EQ(D->State(), dsBrowse);

  D->FailEditTimes = 1;
  D->OnEditError = nullptr;
  EXPECT_THROW(D->Edit(), EDatabaseError);
  EXPECT_EQ(D->State(), dsBrowse);
}

TEST(DataSetEditing, PostAndDeleteErrorsLeaveTheStateUntouchedOnFail) {
  auto D = People(3);
  D->Open();
  D->Edit();
  D->FieldByName("NAME").SetAsString("X");
  D->FailPostTimes = 1;
  EXPECT_THROW(D->Post(), EDatabaseError);
  EXPECT_EQ(D->State(), dsEdit) << "a failed post keeps the edit";
  int Retries = 0;
  D->FailPostTimes = 2;
  D->OnPostError = [&](TDataSet*, EDatabaseError&, TDataAction& A) { ++Retries; A = daRetry; };
  D->Post();
  EXPECT_EQ(Retries, 2);
  EXPECT_EQ(D->RowValue(0, 1).AsString(), "X");

  D->FailDeleteTimes = 1;
  EXPECT_THROW(D->Delete(), EDatabaseError);
  EXPECT_EQ(D->RowCount(), 3);
}

TEST(DataSetEditing, ReadOnlyDataSetAndReadOnlyFieldRefuseChanges) {
  auto D = People(2);
  D->ReadOnlyData = true;
  D->Open();
  EXPECT_THROW(D->Edit(), EDatabaseError);
  EXPECT_THROW(D->Insert(), EDatabaseError);
  D->Close();
  D->ReadOnlyData = false;
  D->Open();
  D->FieldByName("ID").ReadOnly = true;
  D->Edit();
  try {
    D->FieldByName("ID").SetAsInteger(5);
    FAIL() << "a read-only field took a value";
  } catch (const EDatabaseError& E) {
    EXPECT_NE(std::string(E.what()).find("Field 'ID' cannot be modified"), std::string::npos);
  }
  D->Cancel();
  EXPECT_THROW(D->FieldByName("NAME").SetAsString("x"), EDatabaseError) << "not editing";
}

TEST(DataSetEditing, DeleteOfTheLastRecordShowsThePreviousOne) {
  auto D = People(3);
  D->Open();
  D->Last();
  D->Delete();
  EXPECT_EQ(Id(*D), 2);
  D->Delete();
  D->Delete();
  EXPECT_TRUE(D->IsEmpty());
}

TEST(DataSetEditing, InsertRecordAndAppendRecordGoThroughInternalAddRecord) {
  auto D = People(2);
  D->Open();
  D->LogCalls = true;
  D->AppendRecord({Variant(50), Variant("Fifty"), Variant(1)});
  EXPECT_NE(std::find(D->Log.begin(), D->Log.end(), "InternalAddRecord"), D->Log.end());
  EXPECT_EQ(D->RowValue(2, 1).AsString(), "Fifty");
  EXPECT_EQ(Id(*D), 50);
}

TEST(DataSetFields, ValidateSeesTheNewValueAndCanRefuseIt) {
  auto D = People(2);
  D->Open();
  TField& Dept = D->FieldByName("DEPT");
  int Seen = -1;
  Dept.OnValidate = [&](TField* F) {
    Seen = F->GetAsInteger();
    if (Seen < 0) throw EDatabaseError("negative");
  };
  D->Edit();
  Dept.SetAsInteger(4);
  EXPECT_EQ(Seen, 4);
  EXPECT_THROW(Dept.SetAsInteger(-1), EDatabaseError);
  EXPECT_EQ(Dept.GetAsInteger(), 4) << "a refused value is not written";
  D->Post();
}

TEST(DataSetFields, ValueKindsRoundTripThroughTheirBufferForms) {
  TMemDataSet D(nullptr, {{"S", ftString, 5}, {"SI", ftSmallint}, {"W", ftWord}, {"B", ftBoolean},
                          {"L", ftLargeint}, {"F", ftFloat}, {"DT", ftDateTime}, {"D", ftDate},
                          {"T", ftTime}, {"BY", ftBytes, 3}, {"VB", ftVarBytes, 4}});
  D.AddRow({});
  D.Open();
  D.Edit();
  D.FieldByName("S").SetAsString("abcdefgh");
  EXPECT_EQ(D.FieldByName("S").GetAsString(), "abcde") << "cut at the field size, never overrun";
  D.FieldByName("SI").SetAsInteger(-300);
  EXPECT_EQ(D.FieldByName("SI").GetAsInteger(), -300);
  EXPECT_THROW(D.FieldByName("SI").SetAsInteger(70000), EDatabaseError);
  EXPECT_THROW(D.FieldByName("W").SetAsInteger(-1), EDatabaseError);
  D.FieldByName("B").SetAsBoolean(true);
  EXPECT_TRUE(D.FieldByName("B").GetAsBoolean());
  D.FieldByName("L").SetValue(Variant(static_cast<long long>(1) << 40));
  EXPECT_EQ(D.FieldByName("L").GetAsLargeInt(), static_cast<long long>(1) << 40);
  D.FieldByName("F").SetAsFloat(2.5);
  EXPECT_DOUBLE_EQ(D.FieldByName("F").GetAsFloat(), 2.5);
  TDateTime Stamp = EncodeDateTime(2024, 2, 29, 13, 14, 15, 160);
  D.FieldByName("DT").SetAsDateTime(Stamp);
  EXPECT_NEAR(D.FieldByName("DT").GetAsDateTime(), Stamp, 1e-8);
  D.FieldByName("D").SetAsDateTime(Stamp);
  EXPECT_DOUBLE_EQ(D.FieldByName("D").GetAsDateTime(), EncodeDate(2024, 2, 29)) << "a date keeps no time";
  D.FieldByName("T").SetAsDateTime(Stamp);
  EXPECT_NEAR(D.FieldByName("T").GetAsDateTime(), EncodeTime(13, 14, 15, 160), 1e-8) << "a time keeps no date";
  D.FieldByName("BY").SetAsString("xyz!");
  EXPECT_EQ(D.FieldByName("BY").GetAsString(), "xyz");
  D.FieldByName("VB").SetAsString("ab");
  EXPECT_EQ(D.FieldByName("VB").GetAsString(), "ab") << "variable bytes keep their length";
  EXPECT_THROW(D.FieldByName("F").SetAsString("not a number"), EDatabaseError);
  D.FieldByName("F").Clear();
  EXPECT_TRUE(D.FieldByName("F").IsNull());
  EXPECT_TRUE(D.FieldByName("F").GetValue().IsNull());
  D.Post();
}

TEST(DataSetFields, BlobFieldWritesThroughStreamsAndMarksModified) {
  TMemDataSet D(nullptr, {{"ID", ftInteger}, {"NOTE", ftMemo}});
  D.AddRow({Variant(1), Variant("first memo")});
  D.Open();
  auto* Note = dynamic_cast<TBlobField*>(&D.FieldByName("NOTE"));
  ASSERT_NE(Note, nullptr);
  EXPECT_EQ(Note->GetAsString(), "first memo");
  EXPECT_THROW(Note->SetAsString("x"), EDatabaseError) << "writing outside an edit";
  D.Edit();
  Note->SetAsString("second");
  EXPECT_TRUE(Note->Modified);
  EXPECT_TRUE(D.Modified());
  D.Post();
  EXPECT_FALSE(Note->Modified);
  EXPECT_EQ(D.RowValue(0, 1).AsString(), "second");
  D.Edit();
  Note->Clear();
  D.Post();
  EXPECT_TRUE(Note->IsNull());
}

TEST(DataSetFilter, RejectedRowsAreSkippedBothWays) {
  auto D = People(10);
  D->SetOnFilterRecord([](TDataSet* S, bool& Accept) { Accept = S->FieldByName("ID").GetAsInteger() % 2 == 0; });
  D->SetFiltered(true);
  D->Open();
  std::vector<int> Seen;
  for (D->First(); !D->Eof(); D->Next()) Seen.push_back(Id(*D));
  EXPECT_EQ(Seen, (std::vector<int>{2, 4, 6, 8, 10}));
  Seen.clear();
  for (D->Last(); !D->Bof(); D->Prior()) Seen.push_back(Id(*D));
  EXPECT_EQ(Seen, (std::vector<int>{10, 8, 6, 4, 2}));
  EXPECT_FALSE(D->IsSequenced());
  EXPECT_EQ(D->RecordCount(), 5);
  D->SetFiltered(false);
  EXPECT_EQ(Id(*D), 1) << "changing Filtered on an open data set goes to the first record";
  EXPECT_EQ(D->RecordCount(), 10);
}

TEST(DataSetFilter, FilterExceptionGoesToTheApplicationAndTheRowKeepsTheAnswer) {
  auto D = People(3);
  std::vector<std::string> Shown;
  auto Old = Application->OnException;
  Application->OnException = [&](TObject*, const std::exception& E) { Shown.push_back(E.what()); };
  D->SetOnFilterRecord([](TDataSet* S, bool& Accept) {
    if (S->FieldByName("ID").GetAsInteger() == 2) {
      Accept = false;
      throw EDatabaseError("filter broke");
    }
  });
  D->SetFiltered(true);
  D->Open();
  std::vector<int> Seen;
  for (D->First(); !D->Eof(); D->Next()) Seen.push_back(Id(*D));
  Application->OnException = Old;
  EXPECT_EQ(Seen, (std::vector<int>{1, 3}));
  EXPECT_FALSE(Shown.empty());
  EXPECT_EQ(Shown.front(), "filter broke");
}

TEST(DataSetFind, FindFirstNextPriorLastHonourTheFilter) {
  auto D = People(9);
  D->SetOnFilterRecord([](TDataSet* S, bool& Accept) { Accept = S->FieldByName("DEPT").GetAsInteger() == 0; });
  D->SetFiltered(true);
  D->Open();
  ASSERT_TRUE(D->FindFirst());
  EXPECT_EQ(Id(*D), 3);
  ASSERT_TRUE(D->FindNext());
  EXPECT_EQ(Id(*D), 6);
  ASSERT_TRUE(D->FindLast());
  EXPECT_EQ(Id(*D), 9);
  ASSERT_TRUE(D->FindPrior());
  EXPECT_EQ(Id(*D), 6);
  D->FindLast();
  EXPECT_FALSE(D->FindNext());
  EXPECT_FALSE(D->Found());
}

TEST(DataSetFind, LocateAndLookup) {
  auto D = People(10);
  D->Open();
  EXPECT_TRUE(D->Locate("NAME", Variant("p7"), TLocateOptions{loCaseInsensitive}));
  EXPECT_EQ(Id(*D), 7);
  EXPECT_FALSE(D->Locate("NAME", Variant("p7"), {})) << "case matters without the option";
  EXPECT_TRUE(D->Locate("NAME", Variant("P1"), TLocateOptions{loPartialKey}));
  EXPECT_EQ(Id(*D), 1);
  EXPECT_EQ(D->Lookup("ID", Variant(4), "NAME").AsString(), "P4");
  EXPECT_EQ(Id(*D), 1) << "Lookup leaves the active record";
  EXPECT_TRUE(D->Lookup("ID", Variant(44), "NAME").IsNull());
  Variant Keys = VarArrayOf({Variant(5), Variant(2)});
  EXPECT_TRUE(D->Locate("ID;DEPT", Keys, {}));
  EXPECT_EQ(Id(*D), 5);
}

TEST(DataSetCalcFields, CalculatedAndLookupFieldsFollowTheRecord) {
  auto Depts = std::make_unique<TMemDataSet>(nullptr, std::vector<TMemColumn>{{"DID", ftInteger}, {"DNAME", ftString, 10}});
  Depts->AddRow({Variant(0), Variant("Zero")});
  Depts->AddRow({Variant(1), Variant("One")});
  Depts->AddRow({Variant(2), Variant("Two")});
  Depts->Open();

  auto D = People(4);
  D->AddField("ID", ftInteger);
  D->AddField("NAME", ftString, 20);
  D->AddField("DEPT", ftInteger);
  D->AddField("DOUBLE", ftInteger, 0, fkCalculated);
  TField* DeptName = D->AddField("DEPTNAME", ftString, 10, fkLookup);
  DeptName->LookupDataSet = Depts.get();
  DeptName->KeyFields = "DEPT";
  DeptName->LookupKeyFields = "DID";
  DeptName->LookupResultField = "DNAME";
  int Calcs = 0;
  D->OnCalcFields = [&](TDataSet* S) {
    ++Calcs;
    EXPECT_EQ(S->State(), dsCalcFields);
    S->FieldByName("DOUBLE").SetAsInteger(S->FieldByName("ID").GetAsInteger() * 2);
  };
  D->Open();
  EXPECT_FALSE(D->DefaultFields());
  EXPECT_EQ(D->CalcFieldsSize(), (4 + 1) + (11 + 1));
  EXPECT_EQ(D->FieldByName("DOUBLE").GetAsInteger(), 2);
  EXPECT_EQ(D->FieldByName("DEPTNAME").GetAsString(), "One");
  D->Next();
  EXPECT_EQ(D->FieldByName("DOUBLE").GetAsInteger(), 4);
  EXPECT_EQ(D->FieldByName("DEPTNAME").GetAsString(), "Two");
  D->Edit();
  int Before = Calcs;
  D->FieldByName("ID").SetAsInteger(21);
  EXPECT_GT(Calcs, Before) << "AutoCalcFields recomputes after a change";
  EXPECT_EQ(D->FieldByName("DOUBLE").GetAsInteger(), 42);
  D->Cancel();
  D->Close();
  EXPECT_EQ(D->FieldCount(), 5) << "persistent fields stay after closing";
}

TEST(DataSetFields, PersistentFieldOfTheWrongTypeIsRefusedOnOpen) {
  auto D = People(1);
  D->AddField("ID", ftString, 5);
  EXPECT_THROW(D->Open(), EDatabaseError);
  EXPECT_FALSE(D->Active());
}

TEST(DataSetLinks, MasterDetailFollowsTheMasterRecord) {
  auto Master = std::make_unique<TMemDataSet>(nullptr, std::vector<TMemColumn>{{"DID", ftInteger}});
  for (int I = 0; I < 3; ++I) Master->AddRow({Variant(I)});
  auto Detail = People(9);
  TDataSource MasterSource(nullptr);
  MasterSource.SetDataSet(Master.get());
  Detail->MasterField = "DID";
  Detail->DetailField = "DEPT";
  Detail->SetMasterSource(&MasterSource);
  Master->Open();
  Detail->Open();
  auto Ids = [&] {
    std::vector<int> R;
    for (Detail->First(); !Detail->Eof(); Detail->Next()) R.push_back(Id(*Detail));
    return R;
  };
  EXPECT_EQ(Ids(), (std::vector<int>{3, 6, 9}));
  Master->Next();
  EXPECT_EQ(Id(*Detail), 1) << "the detail is re-read when the master scrolls";
  EXPECT_EQ(Ids(), (std::vector<int>{1, 4, 7}));
  // Editing the detail and moving the master posts the detail first.
  Detail->First();
  Detail->Edit();
  Detail->FieldByName("NAME").SetAsString("Posted");
  Master->Next();
  EXPECT_EQ(Detail->RowValue(0, 1).AsString(), "Posted");
  // A circular link is refused.
  TDataSource DetailSource(nullptr);
  DetailSource.SetDataSet(Detail.get());
  EXPECT_THROW(Master->SetMasterSource(&DetailSource), EDatabaseError);
  EXPECT_THROW(MasterSource.SetDataSet(Detail.get()), EDatabaseError);
  Detail->Close();
  Master->Close();
}

TEST(DataSetLinks, DisableControlsHoldsEventsUntilEnabled) {
  auto D = People(5);
  TDataSource Src(nullptr);
  TRecordingLink Link;
  Src.SetDataSet(D.get());
  Link.SetDataSource(&Src);
  D->Open();
  Link.Events.clear();
  D->DisableControls();
  D->Next();
  D->Next();
  EXPECT_TRUE(Link.Events.empty());
  D->EnableControls();
  EXPECT_EQ(Link.Events, (std::vector<std::string>{"changed"}));
  Link.Events.clear();
  D->Edit();
  EXPECT_NE(std::find(Link.Events.begin(), Link.Events.end(), "editing"), Link.Events.end());
  D->FieldByName("NAME").SetAsString("x");
  EXPECT_EQ(Link.Events.back(), "field NAME");
  D->Cancel();
  EXPECT_NE(std::find(Link.Events.begin(), Link.Events.end(), "check"), Link.Events.end());
}

TEST(DataSetLinks, DataSourceForgetsADataSetThatGoes) {
  auto D = new TMemDataSet(nullptr, {{"ID", ftInteger}});
  TDataSource Src(nullptr);
  TRecordingLink Link;
  Src.SetDataSet(D);
  Link.SetDataSource(&Src);
  D->Open();
  delete D;
  EXPECT_EQ(Src.GetDataSet(), nullptr);
  EXPECT_FALSE(Link.Active());
}

TEST(DataSetProvider, UpdateExceptionWrapsDatabaseErrorsOnly) {
  auto D = People(1);
  EDatabaseError E("server said no");
  EUpdateError Prev("earlier", "", 17, 0, nullptr);
  auto U = D->PSGetUpdateException(E, &Prev, std::make_exception_ptr(E));
  ASSERT_NE(U, nullptr);
  EXPECT_EQ(U->Message(), "server said no");
  EXPECT_EQ(U->PreviousError, 17);
  EXPECT_THROW(std::rethrow_exception(U->OriginalException), EDatabaseError);
  Exception Other("other");
  EXPECT_EQ(D->PSGetUpdateException(Other, nullptr, nullptr), nullptr);
  EXPECT_FALSE(D->PSUpdateRecord(ukModify, nullptr));
}

TEST(DataSetParams, ParamsFindByNameAndCopy) {
  TParams P;
  P.CreateParam(ftInteger, "Id", ptInput)->SetValue(Variant(5));
  P.CreateParam(ftString, "Name", ptOutput);
  EXPECT_EQ(P.ParamByName("ID").Value.AsInteger(), 5);
  EXPECT_THROW(P.ParamByName("missing"), EDatabaseError);
  EXPECT_TRUE(P.Items(1).IsNull());
  TParams Copy;
  Copy.Assign(&P);
  ASSERT_EQ(Copy.Count(), 2);
  EXPECT_EQ(Copy.Items(0).ParamType, ptInput);
  EXPECT_EQ(Copy.Items(0).Value.AsInteger(), 5);
  EXPECT_THROW(Copy.Items(2), EListError);
}

TEST(DataSetNavigation, RefreshKeepsThePositionAndShrinkingTheRingKeepsTheActiveRecord) {
  auto D = People(10);
  TDataSource Src(nullptr);
  TRecordingLink Link;
  Src.SetDataSet(D.get());
  Link.SetDataSource(&Src);
  Link.SetBufferCount(5);
  D->Open();
  D->MoveBy(6);
  D->LogCalls = true;
  std::vector<std::string> Events;
  D->BeforeRefresh = [&](TDataSet*) { Events.push_back("BeforeRefresh"); };
  D->AfterRefresh = [&](TDataSet*) { Events.push_back("AfterRefresh"); };
  D->Refresh();
  EXPECT_EQ(Events, (std::vector<std::string>{"BeforeRefresh", "AfterRefresh"}));
  EXPECT_NE(std::find(D->Log.begin(), D->Log.end(), "InternalRefresh"), D->Log.end());
  EXPECT_EQ(Id(*D), 7);
  Link.SetBufferCount(1);
  EXPECT_EQ(D->BufferCount(), 1);
  EXPECT_EQ(D->RecordCountInBuffers(), 1);
  EXPECT_EQ(Id(*D), 7);
  D->Next();
  EXPECT_EQ(Id(*D), 8);
  Link.SetDataSource(nullptr);
}

namespace {
// Counts the cursors its information queries leave open.
class TCountingDataSet : public TMemDataSet {
public:
  using TMemDataSet::TMemDataSet;
  int OpenCursors = 0;

protected:
  void OpenCursor(bool InfoQuery) override {
    ++OpenCursors;
    TMemDataSet::OpenCursor(InfoQuery);
  }
  void CloseCursor() override {
    --OpenCursors;
    TMemDataSet::CloseCursor();
  }
};
}  // namespace

TEST(DataSetFieldDefs, InformationQueryOfAClosedDataSetClosesTheCursorAgain) {
  TCountingDataSet D(nullptr, {{"ID", ftInteger}, {"NAME", ftString, 20}});
  D.FieldDefs().Update();
  EXPECT_EQ(D.FieldDefs().Count(), 2);
  EXPECT_EQ(D.OpenCursors, 0);
  EXPECT_FALSE(D.Active());
}

namespace {
// Records the state each field read happens in.
class TStateRecordingDataSet : public TMemDataSet {
public:
  using TMemDataSet::TMemDataSet;
  std::vector<TDataSetState> ReadStates;
  bool GetFieldData(TField* Field, void* Buffer) override {
    ReadStates.push_back(State());
    return TMemDataSet::GetFieldData(Field, Buffer);
  }
};
}  // namespace

TEST(DataSetFields, OldValueIsReadInTheOldValueStateWhichIsLeftAgain) {
  TStateRecordingDataSet D(nullptr, {{"ID", ftInteger}});
  D.AddRow({Variant(7)});
  D.Open();
  EXPECT_EQ(D.FieldByName("ID").GetOldValue().AsInteger(), 7);
  EXPECT_EQ(D.ReadStates, std::vector<TDataSetState>{dsOldValue});
  EXPECT_EQ(D.State(), dsBrowse);
  EXPECT_FALSE(D.ControlsDisabled()) << "the temporary state is left completely";
}
