// The message table: registration, replacement, translations, defaults.
#include <gtest/gtest.h>

#include "host/Classes.h"
#include "host/Messages.h"

namespace {
// Identifiers of the design range, unused by the libraries.
enum : TResourceId { TestMsgA = 6901, TestMsgB, TestMsgLate, TestMsgUnknown = 6999 };
const bool Registered = RegisterResStrings({{TestMsgA, "TEST_MSG_A", "Field \"%s\" not found"},
                                            {TestMsgB, "TEST_MSG_B", "Plain"}});
}  // namespace

class Messages : public ::testing::Test {
protected:
  void TearDown() override { RestoreAllResStrings(); }
};

TEST_F(Messages, HostTextsAreRegistered) {
  EXPECT_EQ(LoadResString(SReadError), "Stream read error");
  EXPECT_EQ(FindResStringId("SListIndexError"), SListIndexError);
  EXPECT_GE(ResStringIds().size(), 40u);
}

TEST_F(Messages, ReplaceAndRestore) {
  ASSERT_TRUE(Registered);
  EXPECT_TRUE(ReplaceResString(TestMsgA, "Feld \"%s\" fehlt"));
  EXPECT_EQ(Format(LoadResString(TestMsgA), {"ID"}), "Feld \"ID\" fehlt");
  EXPECT_TRUE(RestoreResString(TestMsgA));
  EXPECT_EQ(LoadResString(TestMsgA), "Field \"%s\" not found");
  EXPECT_FALSE(ReplaceResString(TestMsgUnknown, "x"));
  EXPECT_EQ(LoadResString(TestMsgUnknown), "<resource 6999>");
  // A host message is translatable too, and the streams use the new text.
  ReplaceResStringByName("SReadError", "Lesefehler");
  TMemoryStream S;
  char C;
  try {
    S.ReadBuffer(&C, 1);
    FAIL();
  } catch (const EReadError& E) {
    EXPECT_EQ(E.Message(), "Lesefehler");
  }
}

TEST_F(Messages, RegisteringAgainKeepsTheTextButAnotherNameRaises) {
  ReplaceResString(TestMsgB, "Changed");
  RegisterResString(TestMsgB, "TEST_MSG_B", "Plain");
  EXPECT_EQ(LoadResString(TestMsgB), "Changed");
  EXPECT_THROW(RegisterResString(TestMsgB, "OTHER_NAME", "x"), EInvalidOperation);
}

TEST_F(Messages, TranslationsLoadByNameOrNumber) {
  int Unknown = -1;
  const int Applied = LoadResStrings(
      "; a comment\n"
      "TEST_MSG_A=Champ \"%s\" introuvable\r\n"
      "\n"
      "6902 = Ligne 1\\nLigne 2\n"
      "NO_SUCH_MESSAGE=ignored\n"
      "garbage line\n",
      &Unknown);
  EXPECT_EQ(Applied, 2);
  EXPECT_EQ(Unknown, 1);
  EXPECT_EQ(LoadResString(TestMsgA), "Champ \"%s\" introuvable");
  EXPECT_EQ(LoadResString(TestMsgB), "Ligne 1\nLigne 2");
}

TEST_F(Messages, ATranslationReadEarlyAppliesWhenItsTextIsRegistered) {
  LoadResStrings("TEST_MSG_LATE=Spät\n");
  RegisterResString(TestMsgLate, "TEST_MSG_LATE", "Late");
  EXPECT_EQ(LoadResString(TestMsgLate), "Spät");
  RestoreResString(TestMsgLate);
  EXPECT_EQ(LoadResString(TestMsgLate), "Late");
}

TEST_F(Messages, TranslationsFromStreams) {
  TStringStream S("TEST_MSG_B=From a stream\n");
  EXPECT_EQ(LoadResStringsFromStream(S), 1);
  EXPECT_EQ(LoadResString(TestMsgB), "From a stream");
  EXPECT_THROW(LoadResStringsFromFile("/nonexistent/translation.txt"), EFOpenError);
}
