// TAsaDataset writing and searching on a real database: edits, inserts and deletes through the
// statement's own cursor and where the data set stands afterwards, the check against a row another
// connection changed, finding inserted rows again, and the searches that scan the server cursor.
#include "tests/components/AsaDatasetEnv.h"

using namespace zylasa;

namespace {

class AsaDatasetEdit : public AsaDatasetTest {
 protected:
  void TearDown() override {
    if (Other) {
      try {
        Other->Close();
      } catch (const Exception&) {
      }
      Other.reset();
    }
    AsaDatasetTest::TearDown();
  }

  // A second connection to the test's database.
  TAsaSession& Second() {
    if (!Other) {
      Other = NewSession("dblib10.dll", File);
      if (ServerDb.empty()) {
        Other->SetLoginEngineName(Engine);
        Other->SetClientParams("dbf=" + File);
      }
      Other->Open();
    }
    return *Other;
  }

  TAsaDataset* Editable(const std::string& Sql) {
    TAsaDataset* D = NewDataset(Sql);
    D->SetReadOnly(false);
    return D;
  }

  // The fetch-path server calls of the data set's statement so far.
  static int64_t Fetches(TAsaDataset* D) { return D->GetAsaStatement()->GetFetchCalls(); }

  static std::string V(TDataSet* D) { return D->FieldByName("v").GetAsString(); }

  std::unique_ptr<TAsaSession> Other;
};

std::string EditErrorText(TDataSet* D) {
  try {
    D->Edit();
  } catch (const EDatabaseError& E) {
    return E.Message();
  }
  return "no error";
}

}  // namespace

TEST_F(AsaDatasetEdit, PostDeleteAndCancelChangeTheDatabaseAndKeepThePlace) {
  Connect();
  MakeNumbers(60);
  TAsaDataset* D = Editable("select id, v from n order by id");
  D->Open();
  D->MoveBy(29);
  ASSERT_EQ(Id(D), 30);
  D->Edit();
  D->FieldByName("v").SetAsString("edited");
  D->Post();
  EXPECT_EQ(QueryText(*Session, "select v from n where id = 30"), "edited");
  EXPECT_EQ(QueryText(*Session, "select count(*) from n where v like 'r%'"), "59") << "no other row touched";
  EXPECT_EQ(Id(D), 30) << "the reopened cursor stands on the same row";
  EXPECT_EQ(D->RecNo(), 30);
  EXPECT_EQ(V(D), "edited");

  D->Edit();
  D->FieldByName("v").SetAsString("dropped");
  D->Cancel();
  EXPECT_EQ(V(D), "edited");
  EXPECT_EQ(QueryText(*Session, "select v from n where id = 30"), "edited");

  D->Delete();
  EXPECT_EQ(QueryText(*Session, "select count(*) from n where id = 30"), "0");
  EXPECT_EQ(D->RecNo(), 30) << "the same row number now holds the row that followed";
  EXPECT_EQ(Id(D), 31);
  D->Prior();
  EXPECT_EQ(Id(D), 29);

  // A row reached from the end is found again from the end.
  D->Last();
  D->Edit();
  D->FieldByName("v").SetAsString("last");
  D->Post();
  EXPECT_EQ(Id(D), 60);
  EXPECT_EQ(V(D), "last");
  D->Next();
  EXPECT_TRUE(D->Eof());

  // Without SyncInserts an appended row is shown at the end.
  D->Append();
  D->FieldByName("id").SetAsInteger(61);
  D->FieldByName("v").SetAsString("new");
  D->Post();
  EXPECT_EQ(Id(D), 61);
  EXPECT_EQ(QueryText(*Session, "select v from n where id = 61"), "new");

  // A rejected insert keeps the entered values and the insert state; nothing is stored.
  D->Append();
  D->FieldByName("id").SetAsInteger(61);
  D->FieldByName("v").SetAsString("twice");
  try {
    D->Post();
    ADD_FAILURE() << "a duplicate key was posted";
  } catch (const EZyloDatasetError& E) {
    EXPECT_LT(E.GetErrorCode(), 0);
  }
  EXPECT_EQ(D->State(), dsInsert);
  EXPECT_EQ(V(D), "twice");
  D->Cancel();
  EXPECT_EQ(QueryText(*Session, "select count(*) from n"), "60");

  // InsertRecord goes through the same path.
  D->InsertRecord({Variant(0), Variant("zero")});
  EXPECT_EQ(QueryText(*Session, "select v from n where id = 0"), "zero");
}

TEST_F(AsaDatasetEdit, EditOfARowAnotherConnectionChangedFailsOnceThenARetryPasses) {
  Connect();
  MakeNumbers(40);
  TAsaDataset* D = Editable("select id, v from n order by id");
  D->Open();
  // A row fetched long ago but unchanged edits without complaint.
  D->Last();
  D->First();
  D->Edit();
  D->FieldByName("v").SetAsString("one");
  D->Post();
  EXPECT_EQ(QueryText(*Session, "select v from n where id = 1"), "one");

  D->MoveBy(3);
  ASSERT_EQ(Id(D), 4);
  ASSERT_EQ(ExecImm(Second(), "update n set v = 'theirs' where id = 4"), 0);
  ASSERT_EQ(ExecImm(Second(), "commit"), 0);
  EXPECT_EQ(EditErrorText(D), "Couldn't perform the edit because another user changed the record");
  EXPECT_EQ(D->State(), dsBrowse);
  EXPECT_EQ(V(D), "r4") << "the values the user saw stay";

  // The same edit, retried from the edit-error handler, is not checked a second time.
  ASSERT_EQ(ExecImm(Second(), "update n set v = 'theirs again' where id = 4"), 0);
  ASSERT_EQ(ExecImm(Second(), "commit"), 0);
  int Errors = 0;
  D->OnEditError = [&Errors](TDataSet*, EDatabaseError&, TDataAction& Action) {
    ++Errors;
    Action = daRetry;
  };
  D->Edit();
  EXPECT_EQ(Errors, 1);
  EXPECT_EQ(D->State(), dsEdit);
  D->FieldByName("v").SetAsString("mine");
  D->Post();
  EXPECT_EQ(QueryText(Second(), "select v from n where id = 4"), "mine") << "committed after the post";

  // Refresh shows what the other connection changed since.
  ASSERT_EQ(ExecImm(Second(), "update n set v = 'fresh' where id = 4"), 0);
  ASSERT_EQ(ExecImm(Second(), "commit"), 0);
  D->Refresh();
  EXPECT_EQ(Id(D), 4);
  EXPECT_EQ(V(D), "fresh");
}

TEST_F(AsaDatasetEdit, PostsInsideAUserTransactionAreNotCommitted) {
  Connect();
  MakeNumbers(5);
  TAsaDataset* D = Editable("select id, v from n order by id");
  D->Open();
  Session->StartTransaction();
  D->Edit();
  D->FieldByName("v").SetAsString("undone");
  D->Post();
  EXPECT_EQ(QueryText(*Session, "select v from n where id = 1"), "undone");
  Session->Rollback();
  EXPECT_EQ(QueryText(*Session, "select v from n where id = 1"), "r1");
}

TEST_F(AsaDatasetEdit, SyncInsertsFindsTheInsertedRowByKeyWhereverItLands) {
  Connect();
  Exec("create table n (id integer primary key, v varchar(20))");
  for (int I = 10; I <= 400; I += 10) Exec("insert into n values (" + std::to_string(I) + ", 'r')");
  Exec("commit");
  TAsaDataset* D = Editable("select v, id from n order by id");
  D->SetSyncInserts(true);
  D->Open();
  ASSERT_EQ(D->GetKeyFields().size(), 1u);
  EXPECT_EQ(D->GetKeyFields()[0]->FieldName(), "id") << "the primary key alone";
  D->Last();
  D->Append();
  D->FieldByName("id").SetAsInteger(155);
  D->FieldByName("v").SetAsString("middle");
  D->Post();
  EXPECT_EQ(Id(D), 155) << "found in the middle of the reopened result";
  EXPECT_EQ(D->RecNo(), 16);
  D->Insert();
  D->FieldByName("id").SetAsInteger(1);
  D->Post();
  EXPECT_EQ(Id(D), 1);
  EXPECT_EQ(D->RecNo(), 1);

  // Without a primary key every field takes part.
  Exec("create table k (a integer, b varchar(10))");
  Exec("insert into k values (1, 'x'), (2, 'x'), (3, 'y'), (3, 'z')");
  Exec("commit");
  TAsaDataset* K = Editable("select a, b from k order by a, b");
  K->SetSyncInserts(true);
  K->Open();
  EXPECT_EQ(K->GetKeyFields().size(), 2u);
  K->Append();
  K->FieldByName("a").SetAsInteger(3);
  K->FieldByName("b").SetAsString("w");
  K->Post();
  EXPECT_EQ(K->FieldByName("a").GetAsInteger(), 3);
  EXPECT_EQ(K->FieldByName("b").GetAsString(), "w");
  EXPECT_EQ(K->RecNo(), 3);
}

TEST_F(AsaDatasetEdit, LocateScansTheServerCursorAndStopsEarlyAlongTheOrder) {
  Connect();
  MakeNumbers(1000);
  TAsaDataset* D = NewDataset("select id, v from n order by id");
  D->Open();
  // The whole result is 40 blocks of 25 rows; a search that stops early reads a handful.
  D->SetRecNoValue(990);
  int64_t Before = Fetches(D);
  EXPECT_TRUE(D->Locate("id;v", VarArrayOf({Variant(990), Variant("r990")}), {}));
  EXPECT_LE(Fetches(D) - Before, 8) << "the active record matches where it stands, no scan from the start";
  EXPECT_EQ(D->RecNo(), 990);

  Before = Fetches(D);
  EXPECT_FALSE(D->Locate("id", Variant(0), {}));
  EXPECT_LE(Fetches(D) - Before, 10) << "ordered by id: the first row already lies past the key";
  Before = Fetches(D);
  EXPECT_FALSE(D->Locate("v", Variant("none"), {}));
  EXPECT_GE(Fetches(D) - Before, 1000 / 25) << "an unordered field is read to the end";
  EXPECT_EQ(Id(D), 990) << "a failed search leaves the active record";

  EXPECT_TRUE(D->Locate("id", Variant(777), {}));
  EXPECT_EQ(Id(D), 777);
  EXPECT_EQ(D->RecNo(), 777);
  D->Next();
  EXPECT_EQ(Id(D), 778) << "browsing goes on from the found row";

  // Descending order stops early the other way.
  TAsaDataset* Down = NewDataset("select id, v from n order by id desc");
  Down->Open();
  Before = Fetches(Down);
  EXPECT_FALSE(Down->Locate("id", Variant(5000), {}));
  EXPECT_LE(Fetches(Down) - Before, 10);
  EXPECT_TRUE(Down->Locate("id", Variant(3), {}));
  EXPECT_EQ(Down->RecNo(), 998);
}

TEST_F(AsaDatasetEdit, LocateOptionsNullsLocateNextAndLookup) {
  Connect();
  Exec("create table s (id integer primary key, name varchar(20), grp integer)");
  Exec("insert into s values (1, 'ABC', 1), (2, 'abd', 2), (3, NULL, 1), (4, 'Xyz', 1), (5, 'ab', 2)");
  Exec("commit");
  TAsaDataset* D = NewDataset("select id, name, grp from s order by id");
  D->Open();
  EXPECT_FALSE(D->Locate("name", Variant("abc"), {}));
  EXPECT_TRUE(D->Locate("name", Variant("abc"), {loCaseInsensitive}));
  EXPECT_EQ(Id(D), 1);
  EXPECT_FALSE(D->Locate("name", Variant("AB"), {}));
  EXPECT_TRUE(D->Locate("name", Variant("AB"), {loPartialKey}));
  EXPECT_EQ(Id(D), 1);
  EXPECT_TRUE(D->Locate("name", Variant("xy"), {loPartialKey, loCaseInsensitive}));
  EXPECT_EQ(Id(D), 4);
  EXPECT_TRUE(D->Locate("name", Variant::Null(), {}));
  EXPECT_EQ(Id(D), 3) << "a NULL key matches a NULL column";

  D->First();
  ASSERT_TRUE(D->Locate("grp", Variant(1), {}));
  EXPECT_EQ(Id(D), 1);
  ASSERT_TRUE(D->LocateNext("grp", Variant(1), {}));
  EXPECT_EQ(Id(D), 3);
  ASSERT_TRUE(D->LocateNext("grp", Variant(1), {}));
  EXPECT_EQ(Id(D), 4);
  EXPECT_FALSE(D->LocateNext("grp", Variant(1), {})) << "never back to earlier rows";

  D->First();
  EXPECT_EQ(D->Lookup("id", Variant(4), "name").AsString(), "Xyz");
  const Variant Both = D->Lookup("name;grp", VarArrayOf({Variant("ab"), Variant(2)}), "id;grp");
  EXPECT_EQ(Both.GetElement(0).AsInteger(), 5);
  EXPECT_TRUE(D->Lookup("id", Variant(99), "name").IsNull());
  EXPECT_EQ(Id(D), 1) << "Lookup leaves the active record";
  D->Next();
  EXPECT_EQ(Id(D), 2);

  EXPECT_THROW(D->Locate("missing", Variant(1), {}), EDatabaseError);
}

TEST_F(AsaDatasetEdit, KeysFollowTheOrderByColumnsAndFindHonoursTheFilter) {
  Connect();
  Exec("create table n (id integer primary key, v varchar(20))");
  for (int I = 10; I <= 400; I += 10) Exec("insert into n values (" + std::to_string(I) + ", 'r')");
  Exec("commit");
  TAsaDataset* D = NewDataset("select v, id from n order by id");
  D->Open();
  ASSERT_EQ(D->GetIndexDefs()->GetCount(), 1);
  EXPECT_FALSE(D->GetIndexDefs()->GetItem(0)->Descending);
  EXPECT_TRUE(D->FindKey({Variant(150)}));
  EXPECT_EQ(Id(D), 150);
  EXPECT_FALSE(D->FindKey({Variant(155)}));
  D->FindNearest({Variant(155)});
  EXPECT_EQ(Id(D), 160) << "the larger neighbour";
  D->FindNearest({Variant(5)});
  EXPECT_EQ(Id(D), 10);

  TAsaDataset* Two = NewDataset("select id, v from n order by v desc, id desc");
  Two->Open();
  ASSERT_EQ(Two->GetIndexDefs()->GetCount(), 2);
  EXPECT_TRUE(Two->GetIndexDefs()->GetItem(1)->Descending);
  EXPECT_TRUE(Two->FindKey({Variant("r"), Variant(30)}));
  EXPECT_EQ(Id(Two), 30);
  EXPECT_EQ(Two->RecNo(), 38);

  TAsaDataset* None = NewDataset("select id from n");
  None->Open();
  try {
    None->FindKey({Variant(10)});
    ADD_FAILURE() << "searched without an ORDER BY";
  } catch (const EDatabaseError& E) {
    EXPECT_EQ(E.Message(), "Missing or unsupported ORDER BY clause to build index");
  }

  // FindFirst and the others see only the rows the filter lets through.
  D->SetOnFilterRecord([](TDataSet* DataSet, bool& Accept) { Accept = DataSet->FieldByName("id").GetAsInteger() % 100 == 0; });
  D->SetFiltered(true);
  ASSERT_TRUE(D->FindFirst());
  EXPECT_EQ(Id(D), 100);
  ASSERT_TRUE(D->FindNext());
  EXPECT_EQ(Id(D), 200);
  ASSERT_TRUE(D->FindLast());
  EXPECT_EQ(Id(D), 400);
  ASSERT_TRUE(D->FindPrior());
  EXPECT_EQ(Id(D), 300);
  EXPECT_TRUE(D->Found());
}

TEST_F(AsaDatasetEdit, LongValuesAreWrittenThroughFieldStreamsAndPosted) {
  Connect();
  Exec("create table l (id integer primary key, note long varchar, pic long binary)");
  Exec("insert into l values (1, 'first', NULL), (2, NULL, NULL)");
  Exec("commit");
  TAsaDataset* D = Editable("select id, note, pic from l order by id");
  D->Open();
  EXPECT_EQ(D->FieldByName("note").GetAsString(), "first");
  D->Edit();  // a row with long values reads back equal: no false alarm
  const AnsiString Long(70000, 'n');
  {
    std::unique_ptr<TStream> S(D->CreateBlobStream(&D->FieldByName("note"), bmWrite));
    EXPECT_EQ(S->Write(Long.data(), static_cast<int64_t>(Long.size())), static_cast<int64_t>(Long.size()));
  }
  const uint8_t Bytes[] = {0, 1, 2, 255, 0};
  {
    std::unique_ptr<TStream> S(D->CreateBlobStream(&D->FieldByName("pic"), bmWrite));
    S->Write(Bytes, sizeof Bytes);
  }
  D->Post();
  EXPECT_EQ(QueryText(*Session, "select length(note) from l where id = 1"), "70000");
  EXPECT_EQ(QueryText(*Session, "select length(pic) from l where id = 1"), "5");
  EXPECT_EQ(D->FieldByName("note").GetAsString(), Long);

  // A cancelled edit stores nothing of what was written.
  D->Next();
  D->Edit();
  {
    std::unique_ptr<TStream> S(D->CreateBlobStream(&D->FieldByName("note"), bmWrite));
    S->Write("dropped", 7);
  }
  D->Cancel();
  EXPECT_TRUE(D->FieldByName("note").IsNull());
  EXPECT_EQ(QueryText(*Session, "select count(*) from l where note is null"), "1");
  D->Edit();
  D->FieldByName("note").SetAsString("kept");
  D->Post();
  EXPECT_EQ(QueryText(*Session, "select note from l where id = 2"), "kept");

  // Writing outside an edit is refused.
  EXPECT_THROW(std::unique_ptr<TStream>(D->CreateBlobStream(&D->FieldByName("note"), bmWrite)), EDatabaseError);
}

TEST_F(AsaDatasetEdit, OemConvertTranslatesMemoStreamsAndLeavesBinaryAndTheCallersBytesAlone) {
  if (OnPostgres()) GTEST_SKIP() << "single-byte text is the embedded engine's";
  Connect();
  Exec("create table l (id integer primary key, note long varchar, pic long binary)");
  Exec("insert into l values (1, NULL, NULL)");
  Exec("commit");
  Session->SetOEMConvert(true);
  TAsaDataset* D = Editable("select id, note, pic from l order by id");
  D->Open();
  D->Edit();
  const std::string Ansi = "caf\xe9 \xe0 la cr\xe8me";  // accented letters of the ANSI code page
  std::string Given = Ansi;
  {
    std::unique_ptr<TStream> S(D->CreateBlobStream(&D->FieldByName("note"), bmWrite));
    EXPECT_EQ(S->Write(Given.data(), static_cast<int64_t>(Given.size())), static_cast<int64_t>(Given.size()));
  }
  EXPECT_EQ(Given, Ansi) << "the caller's buffer is not translated under its feet";
  const std::string Binary("\xe9\x82\x00\xff\xe0", 5);  // bytes a translation would change
  {
    std::unique_ptr<TStream> S(D->CreateBlobStream(&D->FieldByName("pic"), bmWrite));
    S->Write(Binary.data(), static_cast<int64_t>(Binary.size()));
  }
  D->Post();
  EXPECT_EQ(D->FieldByName("note").GetAsString(), Ansi) << "read back through the translation";

  Session->SetOEMConvert(false);
  const std::string Stored = QueryText(*Session, "select note from l");
  EXPECT_EQ(Stored.size(), Ansi.size());
  EXPECT_NE(Stored, Ansi) << "the server holds the OEM form";
  TAsaDataset* Raw = NewDataset("select note, pic from l");
  Raw->Open();
  EXPECT_EQ(Raw->FieldByName("note").GetAsString(), Stored);
  EXPECT_EQ(Raw->FieldByName("pic").GetAsString(), Binary) << "a binary value is never translated";
  Raw->Close();
  Session->SetOEMConvert(true);
  Raw->Open();
  EXPECT_EQ(Raw->FieldByName("note").GetAsString(), Ansi);
  EXPECT_EQ(Raw->FieldByName("pic").GetAsString(), Binary);
}

TEST_F(AsaDatasetEdit, FindNearestOnADescendingOrderStopsEarly) {
  Connect();
  Exec("create table n (id integer primary key, v varchar(20))");
  std::string Sql = "insert into n values ";
  for (int I = 1; I <= 1000; ++I) Sql += (I > 1 ? ",(" : "(") + std::to_string(I * 10) + ",'r')";
  Exec(Sql);
  Exec("commit");
  // 1000 rows, 40 blocks of 25: 10000, 9990, ... 10.
  TAsaDataset* D = NewDataset("select id, v from n order by id desc");
  D->Open();
  int64_t Before = Fetches(D);
  D->FindNearest({Variant(9955)});
  EXPECT_EQ(Id(D), 9950) << "the next row along the descending order";
  EXPECT_EQ(D->RecNo(), 6);
  EXPECT_LE(Fetches(D) - Before, 8) << "stops at the first row past the key";
  Before = Fetches(D);
  D->FindNearest({Variant(7000)});
  EXPECT_EQ(Id(D), 7000);
  EXPECT_EQ(D->RecNo(), 301);
  EXPECT_LE(Fetches(D) - Before, 301 / 25 + 6) << "reads up to the row, not the rest";
  D->FindNearest({Variant(99999)});
  EXPECT_EQ(Id(D), 10000);
  D->Last();
  D->FindNearest({Variant(5)});
  EXPECT_EQ(Id(D), 10) << "nothing lies past the key: the data set stays at the end";
  D->Next();
  EXPECT_TRUE(D->Eof());
}

TEST_F(AsaDatasetEdit, PSResetReopensTheCursorWhereTheDataSetStands) {
  Connect();
  MakeNumbers(100);
  TAsaDataset* D = NewDataset("select id, v from n order by id");
  D->PSReset();  // closed: nothing to do
  EXPECT_FALSE(D->Active());
  D->Open();
  D->SetRecNoValue(40);  // the statement holds the block of rows 26..50 now
  Exec("update n set v = 'changed' where id in (40, 41, 42)");
  Exec("commit");
  D->Next();
  EXPECT_EQ(V(D), "r41") << "served from the block read before the change";
  D->Prior();
  D->PSReset();
  EXPECT_EQ(D->RecNo(), 40);
  D->Next();
  EXPECT_EQ(Id(D), 41);
  EXPECT_EQ(V(D), "changed") << "the reopened cursor reads the rows as they are now";
  D->Next();
  EXPECT_EQ(V(D), "changed");
}

TEST_F(AsaDatasetEdit, BinaryKeysMatchWholeValuesAndNeverStopTheScanEarly) {
  Connect();
  Exec("create table b (id integer primary key, k varbinary(4))");
  Exec("insert into b values (1, X'0102'), (2, X'01020304'), (3, X'0102'), (4, X'FF'), (5, NULL)");
  for (int I = 7; I <= 200; ++I) Exec("insert into b values (" + std::to_string(I) + ", X'7F7F7F7F')");
  Exec("commit");
  TAsaDataset* D = NewDataset("select id, k from b order by k, id");
  D->Open();
  const auto Key = [](std::initializer_list<uint8_t> Bytes) { return VarByteArrayOf(Bytes.begin(), Bytes.size()); };
  ASSERT_TRUE(D->Locate("k", Key({0x01, 0x02, 0x03, 0x04}), {}));
  EXPECT_EQ(Id(D), 2);
  EXPECT_FALSE(D->Locate("k", Key({0x01, 0x02, 0x03}), {})) << "a prefix of a value is another value";
  ASSERT_TRUE(D->Locate("k", Key({0xFF}), {}));
  EXPECT_EQ(Id(D), 4);
  ASSERT_TRUE(D->Locate("k", Key({0x01, 0x02}), {}));
  EXPECT_EQ(Id(D), 1);
  ASSERT_TRUE(D->LocateNext("k", Key({0x01, 0x02}), {}));
  EXPECT_EQ(Id(D), 3);
  EXPECT_FALSE(D->LocateNext("k", Key({0x01, 0x02}), {}));
  ASSERT_TRUE(D->Locate("k", Variant::Null(), {}));
  EXPECT_EQ(Id(D), 5);
  // Bytes have no order the scan may rely on: a missing value is looked for to the end.
  const int64_t Before = Fetches(D);
  EXPECT_FALSE(D->Locate("k", Key({0x00}), {}));
  EXPECT_GE(Fetches(D) - Before, 200 / 25);
  EXPECT_EQ(Id(D), 5) << "a failed search leaves the active record";
}
