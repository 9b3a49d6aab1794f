// Parameters without a server: the scanner over SQL text, name resolution, the typed setters and
// getters, and the stored binary form with its older variant and its corrupt streams.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "dataset/Zylbasds.h"

namespace {

struct TScan {
  std::vector<std::string> Names;
  AnsiString Text;
};

TScan Scan(const AnsiString& Sql) {
  TZyloParams List;
  TScan R{{}, Sql};
  TZyloDataset::CreateParams(&List, R.Text);
  for (int I = 0; I < List.Count(); ++I) {
    R.Names.push_back(List.Items(I)->GetName());
    EXPECT_EQ(List.Items(I)->GetAlias(), List.Items(I)->GetName());
    EXPECT_EQ(List.Items(I)->GetDataType(), ztUnknown);
    EXPECT_EQ(List.Items(I)->GetParamType(), zptUnknown);
  }
  return R;
}

using Names = std::vector<std::string>;

AnsiString Bytes(const TZyloParams& List) {
  TMemoryStream S;
  List.WriteBinaryData(S);
  return AnsiString(static_cast<const char*>(S.Memory()), static_cast<size_t>(S.Size()));
}

void Read(TZyloParams& List, const AnsiString& Data) {
  TMemoryStream S;
  if (!Data.empty()) S.WriteBuffer(Data.data(), static_cast<int64_t>(Data.size()));
  S.SetPosition(0);
  List.ReadBinaryData(S);
}

// Little-endian pieces of a hand-made stored form.
AnsiString I32(int32_t V) { return AnsiString(reinterpret_cast<const char*>(&V), 4); }
AnsiString Text(const AnsiString& S) { return I32(static_cast<int32_t>(S.size())) + S; }

}  // namespace

TEST(ParamScanner, FindsNamesUpToTheirDelimiters) {
  EXPECT_EQ(Scan("insert into t values (:x,:y)").Names, (Names{"x", "y"}));
  EXPECT_EQ(Scan("select * from t where a=:x+1").Names, Names{"x+1"}) << "only blank ) , ; and line ends delimit";
  EXPECT_EQ(Scan("a = :first\r\nand b = :second;").Names, (Names{"first", "second"}));
  EXPECT_EQ(Scan("a = :x\ty").Names, Names{"x\ty"});
  EXPECT_EQ(Scan("a = :").Names, Names{""}) << "a colon at the end";
  EXPECT_EQ(Scan("f(:) and :,").Names, (Names{"", ""}));
  EXPECT_EQ(Scan("a = :x or b = :X or c = :x").Names, (Names{"x", "X", "x"})) << "every occurrence";
}

TEST(ParamScanner, SkipsQuotesAndCommentsAndTurnsDoubledColonsIntoOne) {
  EXPECT_TRUE(Scan("where s = 'a:b' and t = \"c:d\"").Names.empty());
  EXPECT_EQ(Scan("where s = 'it''s' and k = :k").Names, Names{"k"}) << "a doubled quote toggles twice";
  TScan Doubled = Scan("select a::b, '::' from t where c = :c");
  EXPECT_EQ(Doubled.Names, Names{"c"});
  EXPECT_EQ(Doubled.Text, "select a:b, '::' from t where c = :c") << "outside quotes the pair becomes one colon";
  EXPECT_EQ(Scan("select ::::x").Text, "select ::x");
  EXPECT_EQ(Scan("a = :'my name' and b = :\"other, one\"").Names, (Names{"my name", "other, one"}));
  EXPECT_EQ(Scan("-- at 10:30\nselect :p /* c:d */ from t // e:f\nwhere q = :q").Names, (Names{"p", "q"}));
  EXPECT_EQ(Scan("select 1 /* never closed :x").Names, Names{});
}

TEST(ParamScanner, WithoutAListOnlyTheTextChangesAndDeepTextsScanInOnePass) {
  AnsiString T = "select a::b where c = :c";
  TZyloDataset::CreateParams(nullptr, T);
  EXPECT_EQ(T, "select a:b where c = :c");
  // The scanner is a loop: ten thousand nested parentheses and quotes are just characters.
  AnsiString Deep = AnsiString(10000, '(') + ":x" + AnsiString(10000, ')');
  EXPECT_EQ(Scan(Deep).Names, Names{"x"});
}

TEST(ParamList, NamesResolveToTheFirstEntryAndMissingOnesRaise) {
  TZyloParams List;
  TZyloParam* A = List.CreateParam("a");
  List.CreateParam("b");
  TZyloParam* A2 = List.CreateParam("A");
  TZyloParam* Positional = List.CreateParam("?");
  EXPECT_EQ(List.GetParam(2), A) << "a name used twice resolves to its first entry";
  EXPECT_EQ(List.Items(2), A2);
  EXPECT_EQ(List.GetParam(3), Positional);
  EXPECT_EQ(List.FindParam("B"), List.Items(1));
  EXPECT_EQ(List.FindParam("zz"), nullptr);
  try {
    List.ParamByName("zz");
    FAIL();
  } catch (const EZyloException& E) {
    EXPECT_EQ(E.Message(), "Host variable \"zz\" not found");
    EXPECT_EQ(E.GetErrorCode(), 0);
  }
  A->SetAlias("server_a");
  EXPECT_EQ(List.ParamByAlias("SERVER_A"), A);
  EXPECT_THROW(List.ParamByAlias("a"), EZyloException);
  EXPECT_THROW(List.Items(4), EListError);

  // AssignValues matches names exactly, ParamByName ignores case.
  TZyloParams Upper, Lower;
  Upper.CreateParam("B")->SetAsInteger(1);
  Lower.CreateParam("b")->SetAsInteger(2);
  List.AssignValues(&Upper);
  EXPECT_FALSE(List.Items(1)->GetValueAssigned());
  List.AssignValues(&Lower);
  EXPECT_EQ(List.Items(1)->GetAsInteger(), 2);
  EXPECT_FALSE(A->GetValueAssigned());

  delete A2;  // a parameter that goes leaves its list
  EXPECT_EQ(List.Count(), 3);
  std::unique_ptr<TZyloParam> Taken = List.RemoveParam(Positional);
  EXPECT_EQ(Taken->GetParams(), nullptr);
  EXPECT_EQ(List.Count(), 2);
}

TEST(ParamValues, SettersGettersAndTheirConversions) {
  TZyloParam P("p");
  const TDateTime When = EncodeDateTime(2024, 2, 29, 13, 5, 9, 123);
  P.SetAsDate(When);
  EXPECT_EQ(P.GetDataType(), ztDate);
  EXPECT_EQ(P.GetAsDateTime(), EncodeDate(2024, 2, 29));
  P.SetAsTime(When);
  EXPECT_EQ(P.GetAsDateTime(), EncodeTime(13, 5, 9, 123));
  P.SetAsBoolean(true);
  EXPECT_EQ(P.GetAsString(), "True");
  P.SetAsCurrency(1.25);
  EXPECT_EQ(P.GetDataType(), ztCurrency);
  EXPECT_EQ(P.GetAsFloat(), 1.25);

  P.Clear();
  EXPECT_TRUE(P.GetIsNull());
  EXPECT_EQ(P.GetAsString(), "");
  EXPECT_EQ(P.GetAsVariant().VarType(), varInteger) << "a cleared value is 0, not Null";
  EXPECT_EQ(P.GetAsVariant().AsInteger(), 0);
  EXPECT_EQ(P.GetAsDateTime(), 0);

  P.SetAsVariant(Variant(static_cast<long long>(9007199254740993LL)));
  EXPECT_EQ(P.GetDataType(), ztInt64);
  EXPECT_EQ(P.GetAsVariant().AsInt64(), 9007199254740993LL) << "every digit of a 64-bit value";
  P.SetAsVariant(VarByteArrayOf("\x00\x01", 2));
  EXPECT_EQ(P.GetDataType(), ztBlob) << "a byte array is a value, not a missing one";
  EXPECT_EQ(VarArrayToBytes(P.GetAsVariant()), (std::vector<uint8_t>{0, 1}));
  P.SetAsVariant(Variant::Null());
  EXPECT_TRUE(P.GetIsNull());
  EXPECT_EQ(P.GetDataType(), ztUnknown);
  EXPECT_TRUE(P.GetValueAssigned());

  TZyloParam T("t");
  T.SetText("abc");
  EXPECT_EQ(T.GetDataType(), ztString);
  T.SetDataType(ztInteger);
  T.SetText("42");
  EXPECT_EQ(T.GetAsVariant().AsInteger(), 42);
  T.SetText("forty-two");
  EXPECT_EQ(T.GetAsVariant().AsInteger(), 0) << "a failed conversion leaves 0 and raises nothing";
  T.SetDataType(ztInt64);
  T.SetText("-9007199254740993");
  EXPECT_EQ(T.GetAsVariant().AsInt64(), -9007199254740993LL);
  T.SetDataType(ztDate);
  T.SetText("2024-02-29");
  EXPECT_EQ(T.GetAsDateTime(), EncodeDate(2024, 2, 29));

  TZyloParam U("u");
  EXPECT_THROW(U.GetDataSize(), EDatabaseError);
  try {
    U.SetData("x");
    FAIL();
  } catch (const EDatabaseError& E) {
    EXPECT_EQ(E.Message(), "Field 'u' is of unknown type");
  }
  U.SetAsString("abc");
  EXPECT_EQ(U.GetDataSize(), 4);

  TZyloParam Bin("bin"), Copy("copy");
  Bin.SetAsBinary(AnsiString("\x01\x00\x02", 3));
  Copy.Assign(&Bin);
  EXPECT_EQ(Copy.GetDataType(), ztBlob) << "a binary copy is a blob";
  EXPECT_EQ(Copy.GetName(), "bin");
  EXPECT_EQ(VarArrayToBytes(Copy.GetAsVariant()), (std::vector<uint8_t>{1, 0, 2}));
}

TEST(ParamStoredForm, RoundTripsEveryTypeWithTheFormsOwnNormalisation) {
  TZyloParams List;
  List.CreateParam("s")->SetAsString("it's");
  List.CreateParam("i")->SetAsInteger(-7);
  List.CreateParam("f")->SetAsFloat(0.1);
  List.CreateParam("c")->SetAsCurrency(12.5);
  List.CreateParam("d")->SetAsDate(EncodeDate(1600, 3, 1));
  List.CreateParam("t")->SetAsTime(EncodeTime(23, 59, 59, 999));
  List.CreateParam("dt")->SetAsDateTime(EncodeDateTime(2024, 2, 29, 12, 30, 0, 250));
  List.CreateParam("b")->SetAsBoolean(true);
  List.CreateParam("m")->SetAsMemo("memo");
  List.CreateParam("bl")->SetAsBlob(AnsiString("\x00\xff", 2));
  TZyloParam* Null = List.CreateParam("n");
  Null->SetAsInteger(3);
  Null->Clear();
  Null->SetParamType(zptInputOutput);
  List.CreateParam("u")->SetParamType(zptOutput);
  List.CreateParam("i")->SetAsInteger(99);  // the second "i" is stored as the first
  TZyloParams Back;
  Read(Back, Bytes(List));
  EXPECT_TRUE(Back.IsEqual(&List));
  EXPECT_EQ(Bytes(Back), Bytes(List));
  EXPECT_EQ(Back.Items(12)->GetAsInteger(), -7);

  TZyloParams Wide;
  Wide.CreateParam("small")->SetAsVariant(Variant(static_cast<long long>(5)));
  Wide.CreateParam("large")->SetAsVariant(Variant(static_cast<long long>(9007199254740993LL)));
  Wide.CreateParam("bin")->SetAsBinary("xyz");
  Wide.CreateParam("long")->SetAsString(AnsiString(3000, 'q'));
  TZyloParams WideBack;
  Read(WideBack, Bytes(Wide));
  EXPECT_EQ(WideBack.Items(0)->GetDataType(), ztFloat) << "a 64-bit value comes back floating";
  EXPECT_EQ(WideBack.Items(0)->GetAsFloat(), 5);
  EXPECT_EQ(WideBack.Items(1)->GetDataType(), ztInt64) << "one a double cannot hold stays exact";
  EXPECT_EQ(WideBack.Items(1)->GetAsVariant().AsInt64(), 9007199254740993LL);
  EXPECT_EQ(WideBack.Items(2)->GetDataType(), ztBlob);
  EXPECT_EQ(WideBack.Items(3)->GetAsString(), AnsiString(2048, 'q')) << "cut to the stored 2048 bytes";
}

TEST(ParamStoredForm, OlderFormWithoutTagAndFlagsIsRead) {
  const AnsiString Older = I32(2) + Text("x") + Text("x") + AnsiString(1, '\x02') + I32(4) + I32(5) + Text("y") +
                           Text("alias") + AnsiString(1, '\0');
  TZyloParams List;
  Read(List, Older);
  ASSERT_EQ(List.Count(), 2);
  EXPECT_EQ(List.Items(0)->GetAsInteger(), 5);
  EXPECT_TRUE(List.Items(0)->GetValueAssigned()) << "set through the setters";
  EXPECT_EQ(List.Items(0)->GetParamType(), zptUnknown);
  EXPECT_EQ(List.Items(1)->GetAlias(), "alias");
  EXPECT_FALSE(List.Items(1)->GetValueAssigned());
}

TEST(ParamStoredForm, TruncatedOrLyingStreamsRaiseAndLeaveTheListEmpty) {
  TZyloParams Good;
  Good.CreateParam("a")->SetAsInteger(1);
  Good.CreateParam("b")->SetAsString("text");
  Good.CreateParam("c")->SetAsDateTime(EncodeDateTime(2024, 1, 2, 3, 4, 5, 6));
  const AnsiString Whole = Bytes(Good);
  auto Refused = [](const AnsiString& Data) {
    TZyloParams List;
    List.CreateParam("stale");
    try {
      Read(List, Data);
    } catch (const EReadError& E) {
      EXPECT_EQ(List.Count(), 0);
      EXPECT_EQ(E.Message().rfind("Parameter data is corrupt: ", 0), 0u) << E.Message();
      return true;
    }
    return false;
  };
  for (size_t N = 0; N < Whole.size(); ++N) EXPECT_TRUE(Refused(Whole.substr(0, N))) << "cut at " << N;

  const AnsiString Tag = I32(0x7FFFFF01);
  const AnsiString Flags("\x00\x01\x01", 3);
  EXPECT_TRUE(Refused(Tag + I32(-1)));
  EXPECT_TRUE(Refused(Tag + I32(0x7FFFFFFF) + Text("a")));
  EXPECT_TRUE(Refused(Tag + I32(1) + I32(0x7FFFFFF0) + "a")) << "a name longer than the stream";
  EXPECT_TRUE(Refused(Tag + I32(1) + I32(-5) + "a"));
  EXPECT_TRUE(Refused(Tag + I32(1) + Text("a") + Text("a") + AnsiString(1, '\x0D') + Flags)) << "no such type";
  EXPECT_TRUE(Refused(Tag + I32(1) + Text("a") + Text("a") + AnsiString(1, '\x02') + I32(2) + "zz" + Flags))
      << "an integer of two bytes";
  EXPECT_TRUE(Refused(Tag + I32(1) + Text("a") + Text("a") + AnsiString(1, '\x01') + I32(4000) +
                      AnsiString(4000, 'x') + Flags))
      << "more than the form ever stores";
  EXPECT_TRUE(Refused(Tag + I32(1) + Text("a") + Text("a") + AnsiString(1, '\0') + AnsiString("\x00\x02\x01", 3)));
  EXPECT_TRUE(Refused(Tag + I32(1) + Text("a") + Text("a") + AnsiString(1, '\0') + AnsiString("\x00\x01\x05", 3)))
      << "no such direction";
  double NotANumber = std::nan("");
  EXPECT_TRUE(Refused(Tag + I32(1) + Text("a") + Text("a") + AnsiString(1, '\x08') + I32(8) +
                      AnsiString(reinterpret_cast<const char*>(&NotANumber), 8) + Flags))
      << "a date-time outside the calendar";
  EXPECT_TRUE(Refused(Tag + I32(1) + Text("a") + Text("a") + AnsiString(1, '\x06') + I32(4) + I32(0) + Flags))
      << "day 0 is before the calendar";

  TZyloParams List;
  Read(List, Whole);
  EXPECT_TRUE(List.IsEqual(&Good)) << "the intact stream still reads";
}
