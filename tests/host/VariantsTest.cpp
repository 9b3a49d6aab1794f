// Variant type codes, conversions and their errors, comparison and arrays.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "host/DateUtils.h"
#include "host/Variants.h"

TEST(VariantTypes, ConstructorsPickTheHostTypeCodes) {
  EXPECT_EQ(Variant().VarType(), 0);
  EXPECT_EQ(Null().VarType(), 1);
  EXPECT_EQ(Variant(short(1)).VarType(), 2);
  EXPECT_EQ(Variant(1).VarType(), 3);
  EXPECT_EQ(Variant(1.0f).VarType(), 4);
  EXPECT_EQ(Variant(1.0).VarType(), 5);
  EXPECT_EQ(Variant(Currency::FromInt(1)).VarType(), 6);
  EXPECT_EQ(VarFromDateTime(1.5).VarType(), 7);
  EXPECT_EQ(Variant::FromOleStr("x").VarType(), 8);
  EXPECT_EQ(Variant(true).VarType(), 11);
  EXPECT_EQ(Variant(static_cast<signed char>(1)).VarType(), 16);
  EXPECT_EQ(Variant(static_cast<unsigned char>(1)).VarType(), 17);
  EXPECT_EQ(Variant(static_cast<unsigned short>(1)).VarType(), 18);
  EXPECT_EQ(Variant(1u).VarType(), 19);
  EXPECT_EQ(Variant(1LL).VarType(), 20);
  EXPECT_EQ(Variant("x").VarType(), 256);
  EXPECT_EQ(VarByteArrayOf("ab", 2).VarType(), 8209);
  EXPECT_EQ(VarArrayOf({1, "a"}).VarType(), varArray | varVariant);
  EXPECT_THROW(Variant(static_cast<unsigned long long>(UINT64_MAX)), EVariantOverflowError);
}

TEST(VariantTypes, Tests) {
  EXPECT_TRUE(VarIsNull(Null()));
  EXPECT_TRUE(VarIsEmpty(Variant()));
  EXPECT_FALSE(VarIsNull(Variant()));
  EXPECT_TRUE(VarIsOrdinal(Variant(true)));
  EXPECT_TRUE(VarIsFloat(Variant(Currency())));
  EXPECT_FALSE(VarIsNumeric(Variant("1")));
  EXPECT_TRUE(VarIsStr(Variant::FromOleStr("")));
  EXPECT_TRUE(VarIsArray(VarByteArrayOf("", 0)));
  EXPECT_TRUE(VarIsType(Variant(2), varInteger));
  EXPECT_EQ(VarTypeAsText(varArray | varByte), "Array Byte");
}

TEST(VariantConvert, ToText) {
  EXPECT_EQ(Variant(-5).AsString(), "-5");
  EXPECT_EQ(Variant(2.5).AsString(), "2.5");
  EXPECT_EQ(Variant(0.1f).AsString(), "0.1");
  EXPECT_EQ(Variant(true).AsString(), "True");
  EXPECT_EQ(Variant(Currency::FromScaled(12345)).AsString(), "1.2345");
  EXPECT_EQ(VarFromDateTime(EncodeDate(2000, 2, 29) + 0.5).AsString(), "2000-02-29 12:00:00.000");
  EXPECT_EQ(Variant().AsString(), "");
  EXPECT_THROW(Null().AsString(), EVariantTypeCastError);
  EXPECT_EQ(VarToStr(Null()), "");
  EXPECT_EQ(VarToStrDef(Null(), "-"), "-");
  EXPECT_THROW(VarByteArrayOf("a", 1).AsString(), EConvertError);
}

TEST(VariantConvert, ToIntegersRoundHalfToEvenAndCheckRange) {
  EXPECT_EQ(Variant(2.5).AsInteger(), 2);
  EXPECT_EQ(Variant(3.5).AsInteger(), 4);
  EXPECT_EQ(Variant(-2.5).AsInt64(), -2);
  EXPECT_EQ(Variant(" 42 ").AsInteger(), 42);
  EXPECT_EQ(Variant("2.5").AsInteger(), 2);
  EXPECT_EQ(Variant(true).AsInteger(), -1);
  EXPECT_EQ(Variant().AsInteger(), 0);
  EXPECT_EQ(Variant(Currency::FromScaled(25000)).AsInteger(), 2);
  EXPECT_EQ(Variant(Currency::FromScaled(-35000)).AsInteger(), -4);
  EXPECT_EQ(Variant(static_cast<long long>(INT64_MAX)).AsInt64(), INT64_MAX);
  EXPECT_THROW(Variant(static_cast<long long>(INT64_MAX)).AsInteger(), EVariantOverflowError);
  EXPECT_THROW(Variant(1e19).AsInt64(), EVariantOverflowError);
  EXPECT_THROW(Variant("abc").AsInteger(), EVariantTypeCastError);
  EXPECT_THROW(Null().AsInteger(), EConvertError);
  try {
    Variant("abc").AsInteger();
    FAIL();
  } catch (const EVariantTypeCastError& E) {
    EXPECT_EQ(E.Message(), "Could not convert variant of type (String) into type (Int64)");
  }
}

TEST(VariantConvert, ToDoubleCurrencyBooleanAndDate) {
  EXPECT_DOUBLE_EQ(Variant(" 1.5e3").AsDouble(), 1500);
  EXPECT_DOUBLE_EQ(Variant(7).AsDouble(), 7);
  EXPECT_THROW(Variant("1.5x").AsDouble(), EVariantTypeCastError);
  EXPECT_EQ(Variant(1.23456).AsCurrency().Scaled(), 12346);
  EXPECT_EQ(Variant("0.0001").AsCurrency().Scaled(), 1);
  EXPECT_THROW(Variant(1e300).AsCurrency(), EVariantOverflowError);
  EXPECT_TRUE(Variant("TRUE").AsBoolean());
  EXPECT_TRUE(Variant(2).AsBoolean());
  EXPECT_FALSE(Variant(0.0).AsBoolean());
  EXPECT_THROW(Variant("maybe").AsBoolean(), EVariantTypeCastError);
  EXPECT_DOUBLE_EQ(Variant("2000-02-29 12:00").AsDateTime(), EncodeDate(2000, 2, 29) + 0.5);
  EXPECT_DOUBLE_EQ(Variant(36585.25).AsDateTime(), 36585.25);
  EXPECT_THROW(Variant("not a date").AsDateTime(), EVariantTypeCastError);
  EXPECT_THROW(Variant(true).AsDateTime(), EVariantTypeCastError);
}

TEST(VariantConvert, VarAsTypeChecksTheTargetRange) {
  EXPECT_EQ(VarAsType(Variant(300), varSmallint).VarType(), varSmallint);
  EXPECT_THROW(VarAsType(Variant(70000), varSmallint), EVariantOverflowError);
  EXPECT_THROW(VarAsType(Variant(-1), varByte), EVariantOverflowError);
  EXPECT_EQ(VarAsType(Variant("12"), varByte).AsInteger(), 12);
  EXPECT_EQ(VarAsType(Variant(5), varString).AsString(), "5");
  EXPECT_EQ(VarAsType(Variant(0.5), varDate).VarType(), varDate);
  EXPECT_THROW(VarAsType(Null(), varInteger), EVariantTypeCastError);
  EXPECT_TRUE(VarAsType(Null(), varNull).IsNull());
  EXPECT_THROW(VarAsType(Variant(1e40), varSingle), EVariantOverflowError);
}

TEST(VariantCompare, NumbersStringsAndNull) {
  EXPECT_EQ(VarCompareValue(Variant(1), Variant(1.0)), vrEqual);
  EXPECT_EQ(VarCompareValue(Variant(1), Variant(2LL)), vrLessThan);
  EXPECT_EQ(VarCompareValue(Variant("10"), Variant(9)), vrGreaterThan);  // numeric, not text
  EXPECT_EQ(VarCompareValue(Variant("b"), Variant("a")), vrGreaterThan);
  EXPECT_EQ(VarCompareValue(Null(), Null()), vrEqual);
  EXPECT_EQ(VarCompareValue(Null(), Variant(0)), vrNotEqual);
  EXPECT_EQ(VarCompareValue(Variant(), Variant(0)), vrLessThan);
  // 2^53 + 1 and 2^53 differ as integers even though they share a double.
  EXPECT_EQ(VarCompareValue(Variant(9007199254740993LL), Variant(9007199254740992LL)), vrGreaterThan);
  EXPECT_TRUE(Variant(3) == Variant(3.0));
  EXPECT_FALSE(Variant(3) == Null());
  EXPECT_LT(VarCompareOrder(Null(), Variant(-100)), 0);
  EXPECT_GT(VarCompareOrder(Variant("b"), Variant("a")), 0);
}

TEST(VariantArray, BoundsAndElementAccess) {
  Variant A = VarArrayCreate({1, 3}, varInteger);
  EXPECT_EQ(A.VarType(), varArray | varInteger);
  EXPECT_EQ(VarArrayDimCount(A), 1);
  EXPECT_EQ(VarArrayLowBound(A, 1), 1);
  EXPECT_EQ(VarArrayHighBound(A, 1), 3);
  EXPECT_EQ(A.ElementCount(), 3);
  EXPECT_EQ(A.GetElement(1).VarType(), varInteger);  // elements start as zero of their type
  A.PutElement(2, Variant("7"));
  EXPECT_EQ(A.GetElement(2).VarType(), varInteger);  // coerced on store
  EXPECT_EQ(VarArrayGet(A, 2).AsInteger(), 7);
  EXPECT_THROW(A.GetElement(0), EVariantArrayError);
  EXPECT_THROW(A.PutElement(4, 1), EVariantArrayError);
  EXPECT_THROW(A.PutElement(1, "x"), EConvertError);
  EXPECT_THROW(VarArrayHighBound(A, 2), EVariantArrayError);
  EXPECT_THROW(Variant(1).GetElement(0), EVariantArrayError);
  EXPECT_THROW(VarArrayHighBound(Variant(1), 1), EVariantArrayError);
  EXPECT_THROW(VarArrayCreate({2, 0}, varInteger), EVariantArrayError);
  EXPECT_EQ(VarArrayCreate({0, -1}, varVariant).ElementCount(), 0);  // empty is allowed
}

TEST(VariantArray, ByteArraysArePackedAndCopiedByValue) {
  const char Raw[] = {'a', '\0', 'b', '\xFF'};
  Variant B = VarByteArrayOf(Raw, sizeof(Raw));
  EXPECT_EQ(B.HighBound(), 3);
  EXPECT_EQ(B.GetElement(3).AsInteger(), 255);
  EXPECT_EQ(std::memcmp(VarArrayLock(B), Raw, sizeof(Raw)), 0);
  Variant Copy = B;
  static_cast<uint8_t*>(VarArrayLock(Copy))[0] = 'z';
  EXPECT_EQ(B.GetElement(0).AsInteger(), 'a');  // the original is untouched
  EXPECT_THROW(B.PutElement(0, 256), EVariantOverflowError);
  VarArrayRedim(B, 5);
  EXPECT_EQ(B.ElementCount(), 6);
  EXPECT_EQ(B.GetElement(5).AsInteger(), 0);
  EXPECT_EQ(VarArrayToBytes(B).size(), 6u);
  EXPECT_TRUE(VarArrayToBytes(Variant(1)).empty());
  Variant Moved = std::move(Copy);
  EXPECT_TRUE(Copy.IsEmpty());
  EXPECT_EQ(Moved.GetElement(0).AsInteger(), 'z');
}

TEST(VariantArray, VariantArraysNestAndCompare) {
  Variant A = VarArrayOf({1, "two", Null(), VarArrayOf({3.5})});
  EXPECT_EQ(A.HighBound(), 3);
  EXPECT_EQ(A.GetElement(1).VarType(), varString);
  EXPECT_TRUE(A.GetElement(2).IsNull());
  EXPECT_DOUBLE_EQ(A.GetElement(3).GetElement(0).AsDouble(), 3.5);
  Variant B = A;
  EXPECT_TRUE(A == B);
  B.PutElement(0, 2);
  EXPECT_FALSE(A == B);
  EXPECT_EQ(VarCompareValue(A, Variant(1)), vrNotEqual);
  A = A;  // self-assignment keeps the array
  EXPECT_EQ(A.ElementCount(), 4);
}

TEST(VariantTypes, SetStringReplacesAnyEarlierValueWholly) {
  Variant V = VarArrayCreate({0, 2}, varInteger);
  const char Bytes[] = {'a', '\0', 'b'};
  V.SetString(Bytes, sizeof Bytes);
  EXPECT_EQ(V.VarType(), varString);
  EXPECT_FALSE(V.IsArray());
  EXPECT_EQ(V.AsString(), std::string(Bytes, sizeof Bytes));
  V = Variant(7);
  V.SetString("longer than any small-string buffer holds", 41);
  EXPECT_EQ(V.AsString(), "longer than any small-string buffer holds");
  V.SetString("x", 1);
  EXPECT_EQ(V.AsString(), "x") << "a shorter text leaves nothing of the longer one";
}

TEST(VariantTypes, ScalarSettersReplaceStringsAndArraysAndReadBack) {
  Variant V("a text longer than a small-string buffer holds");
  V.SetInteger(-7);
  EXPECT_EQ(V.VarType(), varInteger);
  EXPECT_EQ(V.AsInteger(), -7);
  EXPECT_EQ(V.AsString(), "-7") << "no trace of the earlier text";
  V.SetString("short", 5);
  EXPECT_EQ(V.AsString(), "short");
  V.SetDouble(0.125);
  EXPECT_EQ(V.VarType(), varDouble);
  EXPECT_EQ(V.AsDouble(), 0.125);
  V = VarArrayCreate({0, 1}, varInteger);
  V.SetDateTime(EncodeDate(2000, 2, 29));
  EXPECT_EQ(V.VarType(), varDate);
  EXPECT_FALSE(V.IsArray());
  EXPECT_TRUE(V == Variant::FromDateTime(EncodeDate(2000, 2, 29)));
  Variant Copy = V;
  EXPECT_EQ(Copy.AsDateTime(), EncodeDate(2000, 2, 29));
}
