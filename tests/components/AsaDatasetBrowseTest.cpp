// TAsaDataset browsing a real database: navigation both ways across fetch blocks, bookmarks,
// record counts and numbers, filters, calculated and lookup fields, the value of every column
// type read through the fields, old values, blob streams and data-aware links.
#include <algorithm>
#include <cstring>

#include "tests/components/AsaDatasetEnv.h"
#include "tests/host/MemDataSet.h"

using namespace zylasa;

namespace {

// Records what reaches a data-aware control; BufferCount makes it show several records.
class TRecordingLink : public TDataLink {
 public:
  std::vector<std::string> Events;

 protected:
  void ActiveChanged() override { Events.push_back(Active() ? "active" : "inactive"); }
  void DataSetChanged() override { Events.push_back("changed"); }
  void DataSetScrolled(int Distance) override { Events.push_back("scrolled " + std::to_string(Distance)); }
  void RecordChanged(TField* Field) override { Events.push_back(Field ? "field " + Field->FieldName() : "record"); }
  void EditingChanged() override { Events.push_back(Editing() ? "editing" : "not editing"); }
};

}  // namespace

// 100 rows are four blocks of the statement's 25-row fetch: every walk crosses block boundaries.
TEST_F(AsaDatasetTest, NavigatesBothWaysAcrossFetchBlocks) {
  Connect();
  MakeNumbers(100);
  TAsaDataset* D = NewDataset("select id, v from n order by id");
  D->Open();
  EXPECT_TRUE(D->Bof());
  EXPECT_EQ(D->RecNo(), 1);
  EXPECT_EQ(WalkForward(D), Range(1, 100));
  EXPECT_EQ(WalkBackward(D), Range(100, 1, -1));
  D->Last();
  EXPECT_EQ(Id(D), 100);
  EXPECT_EQ(D->RecNo(), 100);
  EXPECT_EQ(D->MoveBy(-30), -30);
  EXPECT_EQ(Id(D), 70);
  EXPECT_EQ(D->MoveBy(45), 30) << "stops at the last row";
  EXPECT_TRUE(D->Eof());
  D->First();
  D->SetRecNoValue(57);
  EXPECT_EQ(Id(D), 57);
  EXPECT_EQ(D->RecNo(), 57);
  EXPECT_EQ(D->FieldByName("v").GetAsString(), "r57");

  // A grid shows ten records at once: the ring holds more than one, the walks stay the same.
  TDataSource Source(nullptr);
  TRecordingLink Grid;
  Grid.SetBufferCount(10);
  Grid.SetDataSource(&Source);
  Source.SetDataSet(D);
  D->First();
  EXPECT_EQ(WalkForward(D), Range(1, 100));
  EXPECT_EQ(WalkBackward(D), Range(100, 1, -1));
  D->SetRecNoValue(40);
  EXPECT_EQ(Id(D), 40);
  EXPECT_EQ(D->RecordCountInBuffers(), 10);
  Grid.SetDataSource(nullptr);
}

TEST_F(AsaDatasetTest, BookmarksReturnToTheirRowsAndCompareByPosition) {
  Connect();
  MakeNumbers(100);
  TAsaDataset* D = NewDataset("select id from n order by id");
  D->Open();
  D->MoveBy(39);
  const TBookmark At40 = D->GetBookmark();
  D->MoveBy(50);
  const TBookmark At90 = D->GetBookmark();
  D->Last();
  D->GotoBookmark(At40);
  EXPECT_EQ(Id(D), 40);
  D->GotoBookmark(At90);
  EXPECT_EQ(Id(D), 90);
  D->Prior();
  EXPECT_EQ(Id(D), 89) << "the cursor stands where the bookmark put it";

  EXPECT_EQ(D->CompareBookmarks(At40.data(), At90.data()), -1);
  EXPECT_EQ(D->CompareBookmarks(At90.data(), At40.data()), 1);
  EXPECT_EQ(D->CompareBookmarks(At40.data(), At40.data()), 0);
  EXPECT_EQ(D->CompareBookmarks(nullptr, nullptr), 0);
  EXPECT_EQ(D->CompareBookmarks(At40.data(), nullptr), -1);
  EXPECT_EQ(D->CompareBookmarks(nullptr, At40.data()), 1);

  EXPECT_TRUE(D->BookmarkValid(At90.data()));
  TBookmark Row = At40;
  int32_t R = -1;
  std::memcpy(Row.data(), &R, 4);
  EXPECT_FALSE(D->BookmarkValid(Row.data())) << "no row";
  R = 100;
  std::memcpy(Row.data(), &R, 4);
  EXPECT_FALSE(D->BookmarkValid(Row.data())) << "one past the last row";

  D->Close();
  EXPECT_EQ(D->CompareBookmarks(At40.data(), At90.data()), 2) << "closed: no order";
  EXPECT_FALSE(D->BookmarkValid(At40.data()));
}

TEST_F(AsaDatasetTest, RecordCountAndRecNoComeFromTheServerOnlyWithRowCounts) {
  Connect();
  MakeNumbers(60);
  TAsaDataset* D = NewDataset("select id from n order by id");
  D->Open();
  EXPECT_TRUE(D->IsSequenced());
  EXPECT_EQ(D->RecordCount(), 60);
  D->SetRecNoValue(33);
  EXPECT_EQ(Id(D), 33);
  D->Close();

  Session->SetWantRowCounts(false);
  D->Open();
  EXPECT_FALSE(D->IsSequenced());
  EXPECT_EQ(D->RecordCount(), -1) << "the framework's own answer";
  D->SetRecNoValue(33);
  EXPECT_EQ(Id(D), 1) << "RecNo cannot be set";
  D->Next();
  EXPECT_EQ(D->RecNo(), 2) << "the record number is still the row's";
}

TEST_F(AsaDatasetTest, FilterSkipsRejectedRowsInBothDirections) {
  Connect();
  MakeNumbers(90);
  TAsaDataset* D = NewDataset("select id, v from n order by id");
  int Asked = 0;
  D->SetOnFilterRecord([&](TDataSet* S, bool& Accept) {
    ++Asked;
    Accept = S->FieldByName("id").GetAsInteger() % 3 == 0;
  });
  D->SetFiltered(true);
  D->Open();
  EXPECT_EQ(Id(D), 3);
  EXPECT_EQ(WalkForward(D), Range(3, 90, 3));
  EXPECT_EQ(WalkBackward(D), Range(90, 3, -3));
  EXPECT_GE(Asked, 90) << "every row passes the filter";
  EXPECT_FALSE(D->IsSequenced());
  EXPECT_EQ(D->RecordCount(), -1) << "the server's count does not know the filter";

  D->SetFiltered(false);
  EXPECT_EQ(Id(D), 1) << "switching the filter off starts again at the first row";
  EXPECT_EQ(WalkForward(D).size(), 90u);
}

TEST_F(AsaDatasetTest, CalculatedAndLookupFieldsFollowEveryRow) {
  Connect();
  MakeNumbers(60);
  TMemDataSet Names(nullptr, {{"KEY", ftInteger}, {"NAME", ftString, 20}});
  for (int I = 1; I <= 60; I += 2) Names.AddRow({Variant(I), Variant(AnsiString("odd ") + IntToStr(I))});
  Names.Open();

  TAsaDataset* D = NewDataset("select id, v from n order by id");
  D->AddField("id", ftInteger);
  D->AddField("v", ftString, 20);
  D->AddField("twice", ftInteger, 0, fkCalculated);
  TField* Name = D->AddField("name", ftString, 20, fkLookup);
  Name->LookupDataSet = &Names;
  Name->LookupKeyFields = "KEY";
  Name->LookupResultField = "NAME";
  Name->KeyFields = "id";
  D->OnCalcFields = [](TDataSet* S) {
    S->FieldByName("twice").SetAsInteger(S->FieldByName("id").GetAsInteger() * 2);
  };
  D->Open();
  auto Check = [&] {
    const int I = Id(D);
    EXPECT_EQ(D->FieldByName("twice").GetAsInteger(), 2 * I);
    if (I % 2)
      EXPECT_EQ(Name->GetAsString(), "odd " + std::to_string(I));
    else
      EXPECT_TRUE(Name->IsNull()) << I;
  };
  for (; !D->Eof(); D->Next()) Check();
  for (D->Last(); !D->Bof(); D->Prior()) Check();
  EXPECT_THROW(D->FieldByName("twice").SetAsInteger(1), EDatabaseError) << "not editing";
}

TEST_F(AsaDatasetTest, EveryColumnTypeReadsBackExactlyThroughItsField) {
  Connect();
  Exec("create table t (k integer primary key, s varchar(30), i integer, b bigint, u unsigned int, f double, "
       "m decimal(19,4), d date, t time, ts timestamp, bo bit, bi binary(8), me long varchar, bl long binary)");
  const std::string Memo(40000, 'm');
  std::string Blob("\x00\x01\xff", 3);
  Blob += std::string(5000, '\x7f') + std::string(1, '\0');
  std::string BlobHex = "X'0001ff";
  for (int I = 0; I < 5000; ++I) BlobHex += "7f";
  BlobHex += "00'";
  // Binary values as literals: a binary host variable is bound at whatever offset its buffer gives
  // it, which the client library reads as an aligned structure.
  Exec("insert into t values (1, 'hello', -2147483648, 9007199254740993, 4294967295, 0.1, 12345.6789, "
       "'2000-02-29', '13:05:09.123', '1999-12-31 23:59:58.500', 1, X'0102030405060708', replace(hex(zeroblob(4000)), '00', 'mmmmmmmmmm'), " +
       BlobHex + ")");
  Exec("insert into t (k) values (2)");
  Exec("commit");

  TAsaDataset* D = NewDataset("select * from t order by k");
  D->Open();
  auto F = [&](const char* Name) -> TField& { return D->FieldByName(Name); };
  EXPECT_EQ(F("s").DataType(), ftString);
  EXPECT_EQ(F("s").Size(), 30);
  EXPECT_EQ(F("s").GetAsString(), "hello");
  EXPECT_EQ(F("i").DataType(), ftInteger);
  EXPECT_EQ(F("i").GetAsInteger(), INT32_MIN);
  EXPECT_EQ(F("b").DataType(), ftLargeint);
  EXPECT_EQ(F("b").GetAsLargeInt(), 9007199254740993LL) << "a 64-bit value keeps every digit";
  EXPECT_EQ(F("u").DataType(), ftLargeint) << "unsigned 32-bit values need 64 bits";
  EXPECT_EQ(F("u").GetAsLargeInt(), 4294967295LL);
  EXPECT_EQ(F("f").DataType(), ftFloat);
  EXPECT_EQ(F("f").GetAsFloat(), 0.1);
  EXPECT_EQ(F("m").DataType(), ftCurrency);
  EXPECT_EQ(F("m").GetAsFloat(), 12345.6789);
  EXPECT_EQ(F("d").DataType(), ftDate);
  EXPECT_EQ(F("d").GetAsDateTime(), EncodeDate(2000, 2, 29));
  EXPECT_EQ(F("t").DataType(), ftTime);
  EXPECT_EQ(F("t").GetAsDateTime(), EncodeTime(13, 5, 9, 123));
  EXPECT_EQ(F("ts").DataType(), ftDateTime);
  EXPECT_EQ(F("ts").GetAsDateTime(), EncodeDateTime(1999, 12, 31, 23, 59, 58, 500));
  EXPECT_EQ(F("bo").DataType(), ftBoolean);
  EXPECT_TRUE(F("bo").GetAsBoolean());
  EXPECT_EQ(F("bi").DataType(), ftBytes);
  EXPECT_EQ(F("bi").Size(), 8);
  EXPECT_EQ(F("bi").GetAsString(), AnsiString("\x01\x02\x03\x04\x05\x06\x07\x08", 8));
  EXPECT_EQ(F("me").DataType(), ftMemo);
  EXPECT_TRUE(F("me").GetAsString() == Memo) << F("me").GetAsString().size();
  EXPECT_EQ(F("bl").DataType(), ftBlob);
  const AnsiString Read = F("bl").GetAsString();
  EXPECT_TRUE(Read == Blob) << "bytes with zeros among them: " << Read.size() << " read, first differs at "
                            << std::mismatch(Read.begin(), Read.end(), Blob.begin(), Blob.end()).first - Read.begin();

  D->Next();
  EXPECT_EQ(F("k").GetAsInteger(), 2);
  for (const char* Name : {"s", "i", "b", "u", "f", "m", "d", "t", "ts", "bo", "bi", "me", "bl"}) {
    EXPECT_TRUE(F(Name).IsNull()) << Name;
    EXPECT_TRUE(F(Name).GetValue().IsNull()) << Name;
  }
  D->Prior();
  EXPECT_TRUE(F("me").GetAsString() == Memo) << "the long value of a row passed before";
}

TEST_F(AsaDatasetTest, DuplicateColumnNamesGetNumberedFieldNames) {
  Connect();
  MakeNumbers(3);
  TAsaDataset* D = NewDataset("select id, id, v, id from n");
  D->Open();
  ASSERT_EQ(D->FieldCount(), 4);
  EXPECT_EQ(D->Fields(0)->FieldName(), "id");
  EXPECT_EQ(D->Fields(1)->FieldName(), "id_1");
  EXPECT_EQ(D->Fields(3)->FieldName(), "id_2");
}

TEST_F(AsaDatasetTest, OldValuesOfNullColumnsReadAsPresent) {
  Connect();
  Exec("create table o (id integer, v varchar(10))");
  Exec("insert into o values (1, null), (2, 'two')");
  Exec("commit");
  TAsaDataset* D = NewDataset("select id, v from o order by id");
  D->Open();
  EXPECT_TRUE(D->FieldByName("v").GetValue().IsNull());
  const Variant Old = D->FieldByName("v").GetOldValue();
  EXPECT_FALSE(Old.IsNull()) << "old values carry no indicators";
  EXPECT_EQ(Old.AsString(), "");
  D->Next();
  EXPECT_EQ(D->FieldByName("v").GetOldValue().AsString(), "two");
  EXPECT_EQ(D->FieldByName("id").GetOldValue().AsInteger(), 2);
}

TEST_F(AsaDatasetTest, LongValueIsFetchedOncePerRecordAndServedFromTheCache) {
  Connect();
  Exec("create table l (id integer, note long varchar)");
  TAsaSQL* Q = NewSQL();
  Q->Execute("insert into l values (1, ?)", {Variant(AnsiString(100000, 'x'))});
  Exec("insert into l values (2, 'short')");
  Exec("commit");
  TAsaDataset* D = NewDataset("select id, note from l order by id");
  D->Open();
  TField& Note = D->FieldByName("note");
  EXPECT_EQ(Note.GetAsString().size(), 100000u);
  const int64_t Pieces = D->GetAsaStatement()->GetBlobPieceReads();
  EXPECT_GT(Pieces, 0);
  EXPECT_EQ(Note.GetAsString().size(), 100000u);
  EXPECT_FALSE(Note.IsNull());
  EXPECT_EQ(D->GetAsaStatement()->GetBlobPieceReads(), Pieces) << "the second read comes from the record";
  D->Next();
  EXPECT_EQ(Note.GetAsString(), "short");
  D->Prior();
  EXPECT_EQ(Note.GetAsString().size(), 100000u);
  EXPECT_GT(D->GetAsaStatement()->GetBlobPieceReads(), Pieces) << "a record fetched again reads again";

  // Through a stream: read to the end in small steps after a read that stopped short, the value is
  // fetched once, and seeks and reads of it then touch the server no more.
  D->Next();
  D->Prior();
  const auto Reads = [D] { return D->GetAsaStatement()->GetBlobPieceReads(); };
  char Chunk[4096];
  int64_t Before = Reads();
  {
    std::unique_ptr<TStream> S(D->CreateBlobStream(&Note, bmRead));
    EXPECT_EQ(S->Read(Chunk, 10), 10);
  }
  EXPECT_GT(Reads(), Before);
  AnsiString Whole;
  {
    std::unique_ptr<TStream> S(D->CreateBlobStream(&Note, bmRead));
    for (int64_t N; (N = S->Read(Chunk, sizeof Chunk)) > 0;) Whole.append(Chunk, static_cast<size_t>(N));
  }
  EXPECT_EQ(Whole, AnsiString(100000, 'x'));
  EXPECT_LE(Reads() - Before, (100000 + 32764) / 32765) << "one server read of each piece";
  Before = Reads();
  for (int I = 0; I < 3; ++I) {
    std::unique_ptr<TStream> S(D->CreateBlobStream(&Note, bmRead));
    EXPECT_EQ(S->Seek(0, soEnd), 100000);
    S->Seek(99990, soBeginning);
    EXPECT_EQ(S->Read(Chunk, sizeof Chunk), 10);
  }
  EXPECT_EQ(Note.GetAsString().size(), 100000u);
  EXPECT_EQ(Reads(), Before) << "read to its end once: served from the record from then on";
}

TEST_F(AsaDatasetTest, TwoLinksFollowTheDataSetAndDisabledControlsGetOneRefresh) {
  Connect();
  MakeNumbers(30);
  TAsaDataset* D = NewDataset("select id from n order by id");
  TDataSource Source(nullptr);
  TRecordingLink A, B;
  A.SetDataSource(&Source);
  B.SetDataSource(&Source);
  std::vector<TDataSetState> States;
  Source.OnStateChange = [&](TObject*) { States.push_back(Source.State()); };
  Source.SetDataSet(D);
  D->Open();
  D->Next();
  D->Next();
  EXPECT_EQ(A.Events, (std::vector<std::string>{"active", "scrolled 1", "scrolled 1"}));
  EXPECT_EQ(A.Events, B.Events);
  EXPECT_EQ(A.ActiveRecord(), 0);

  A.Events.clear();
  D->DisableControls();
  for (int I = 0; I < 5; ++I) D->Next();
  EXPECT_TRUE(A.Events.empty()) << "held back";
  D->EnableControls();
  EXPECT_EQ(A.Events, std::vector<std::string>{"changed"}) << "one refresh";
  EXPECT_EQ(Id(D), 8);

  A.Events.clear();
  D->Close();
  EXPECT_EQ(A.Events, std::vector<std::string>{"inactive"});
  EXPECT_EQ(B.Events.back(), "inactive");
  EXPECT_EQ(States, (std::vector<TDataSetState>{dsBrowse, dsInactive}));
  A.SetDataSource(nullptr);
  B.SetDataSource(nullptr);
}

TEST_F(AsaDatasetTest, UnidirectionalCursorBrowsesForwardOnly) {
  Connect();
  MakeNumbers(80);
  TAsaDataset* D = NewDataset("select id from n order by id");
  D->SetCursorType(actNoScroll);
  D->Open();
  EXPECT_EQ(WalkForward(D), Range(1, 80));
  EXPECT_THROW(D->First(), EZyloDatasetError) << "a forward-only cursor cannot go back";
  EXPECT_THROW(D->SetCursorType(actDefault), EDatabaseError) << "only while closed";
}

// The conversions on their own, both ways (writing is what editing will use).
TEST(AsaDatasetConversion, ColumnValuesConvertBetweenRecordAndFieldLayouts) {
  TAsaDataset D(nullptr);
  TZyloFieldDef Def;
  uint8_t Record[32] = {};
  uint8_t Field[32] = {};

  Def.FieldType = ztBoolean;
  Def.Size = 1;
  Record[0] = 2;
  D.RecBufToField(&Def, Record, Field);
  int16_t Flag;
  std::memcpy(&Flag, Field, 2);
  EXPECT_EQ(Flag, 1);
  Flag = -5;
  std::memcpy(Field, &Flag, 2);
  D.FieldToRecBuf(&Def, Record, Field);
  EXPECT_EQ(Record[0], 1);

  Def.FieldType = ztBinary;
  Def.Size = 10;
  std::memcpy(Field, "abcdefgh", 8);
  D.FieldToRecBuf(&Def, Record, Field);
  uint16_t Length;
  std::memcpy(&Length, Record, 2);
  EXPECT_EQ(Length, 8);
  EXPECT_EQ(std::memcmp(Record + 2, "abcdefgh", 8), 0);
  std::memset(Field, 0, sizeof Field);
  D.RecBufToField(&Def, Record, Field);
  EXPECT_EQ(std::memcmp(Field, "abcdefgh", 8), 0);

  Def.Size = 14;
  for (TZyloFieldTypes Type : {ztDate, ztTime, ztDateTime}) {
    Def.FieldType = Type;
    const TDateTime Value = Type == ztDate   ? EncodeDate(1600, 2, 29)
                            : Type == ztTime ? EncodeTime(23, 59, 59, 999)
                                             : EncodeDateTime(2038, 1, 19, 3, 14, 8, 1);
    const TTimeStamp Stamp = DateTimeToTimeStamp(Value);
    if (Type == ztDateTime) {
      const double MSecs = static_cast<double>(TimeStampToMSecs(Stamp));
      std::memcpy(Field, &MSecs, 8);
    } else {
      std::memcpy(Field, Type == ztDate ? &Stamp.Date : &Stamp.Time, 4);
    }
    D.FieldToRecBuf(&Def, Record, Field);
    uint8_t Again[32] = {};
    D.RecBufToField(&Def, Record, Again);
    EXPECT_EQ(std::memcmp(Field, Again, Type == ztDateTime ? 8 : 4), 0) << Type;
  }

  Def.FieldType = ztInteger;
  Def.ExtType = DT_UNSINT;
  Def.Size = 4;
  const int64_t TooLarge = int64_t{1} << 32;
  std::memcpy(Field, &TooLarge, 8);
  EXPECT_THROW(D.FieldToRecBuf(&Def, Record, Field), EDatabaseError) << "an unsigned column refuses 2^32";
}
