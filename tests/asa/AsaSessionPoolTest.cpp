// The statement pool: numbers recycled in order of addition, new numbers recorded only above
// library version 5.
#include <gtest/gtest.h>

#include "tests/asa/AsaTestEnv.h"

namespace {

using zylasa::LoadFlavour;

TEST(AsaStatementPool, EmptyPoolHasNoFreeNumber) {
  TAsaSession S;
  TAsaStatementPool* P = S.GetStatementPool();
  ASSERT_NE(P, nullptr);
  EXPECT_EQ(P->Next(), 0);
  EXPECT_EQ(P->Count(), 0);
  EXPECT_EQ(P->Find(1), nullptr);
}

TEST(AsaStatementPool, DroppedNumberIsHandedOutUntilUsedAgain) {
  TAsaSession S;
  LoadFlavour(S, "dblib6.dll");
  TAsaStatementPool& P = *S.GetStatementPool();
  P.Use(5);
  P.Use(7);
  P.Drop(5);
  EXPECT_EQ(P.Next(), 5);
  P.Use(5);
  EXPECT_EQ(P.Next(), 0);
  P.Drop(7);
  P.Drop(5);
  EXPECT_EQ(P.Next(), 5) << "first entry in order of addition, not the last dropped";
  EXPECT_EQ(P.Count(), 2);
}

TEST(AsaStatementPool, NewNumbersAreNotRecordedUpToVersionFive) {
  for (const char* File : {"dbl50t.dll", "dbl40t.dll"}) {
    TAsaSession S;
    LoadFlavour(S, File);
    S.GetStatementPool()->Use(3);
    EXPECT_EQ(S.GetStatementPool()->Count(), 0) << File;
    EXPECT_EQ(S.GetStatementPool()->Next(), 0) << File;
  }
}

TEST(AsaStatementPool, DropOfUnknownNumberChangesNothing) {
  TAsaSession S;
  LoadFlavour(S, "dblib10.dll");
  TAsaStatementPool& P = *S.GetStatementPool();
  P.Use(2);
  P.Drop(9);
  EXPECT_EQ(P.Count(), 1);
  EXPECT_EQ(P.Next(), 0);
  ASSERT_NE(P.Find(2), nullptr);
  EXPECT_TRUE(P.Find(2)->InUse);
  P.Clear();
  EXPECT_EQ(P.Count(), 0);
}

}  // namespace
