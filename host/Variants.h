// Variants: the host's dynamically typed value. A Variant holds one of Empty, Null,
// the integer kinds, Single, Double, Currency, Date, Boolean, a string, or a
// one-dimensional array with its own bounds. The type codes are the host's:
//
//   varEmpty 0  varNull 1  varSmallint 2  varInteger 3  varSingle 4  varDouble 5
//   varCurrency 6  varDate 7  varOleStr 8  varBoolean 11  varVariant 12
//   varShortInt 16  varByte 17  varWord 18  varLongWord 19  varInt64 20
//   varString 256  with varArray 0x2000 or'ed in for arrays (bytes: 0x2011 = 8209)
//
// Conversions (AsInteger ...) raise EVariantTypeCastError (an EConvertError) when
// the value cannot take the type, EVariantOverflowError when it does not fit.
// Empty converts to 0, "" and false; Null converts to nothing and raises (VarToStr
// alone maps it to ""). A Boolean converts to the number -1 (true) or 0, as the
// host's Booleans always have; floating-point values convert to integers by
// rounding half to even. Strings and OLE strings are both 8-bit here.
//
// Arrays have value semantics: copying a Variant copies its array. Byte arrays
// keep their elements packed, so VarArrayLock hands out the bytes directly; all
// other arrays hold Variants coerced to the element type on every store.
#pragma once
#pragma GCC visibility push(default)

#include <compare>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <vector>

#include "host/DateUtils.h"
#include "host/SysUtils.h"

using TVarType = uint16_t;

enum : TVarType {
  varEmpty = 0x0000,
  varNull = 0x0001,
  varSmallint = 0x0002,
  varInteger = 0x0003,
  varSingle = 0x0004,
  varDouble = 0x0005,
  varCurrency = 0x0006,
  varDate = 0x0007,
  varOleStr = 0x0008,
  varBoolean = 0x000B,
  varVariant = 0x000C,
  varShortInt = 0x0010,
  varByte = 0x0011,
  varWord = 0x0012,
  varLongWord = 0x0013,
  varInt64 = 0x0014,
  varString = 0x0100,
  varTypeMask = 0x0FFF,
  varArray = 0x2000,
};

// Result of VarCompareValue.
enum TVariantRelationship : uint8_t { vrEqual = 0, vrLessThan = 1, vrGreaterThan = 2, vrNotEqual = 3 };

class Variant;
using TVariantArray = std::vector<Variant>;

class Variant {
public:
  Variant() noexcept = default;  // Empty
  Variant(bool V) noexcept : FType(varBoolean) { FData.Int = V ? 1 : 0; }
  Variant(char V) : FType(varString), FStr(1, V) {}
  Variant(signed char V) noexcept : FType(varShortInt) { FData.Int = V; }
  Variant(unsigned char V) noexcept : FType(varByte) { FData.Int = V; }
  Variant(short V) noexcept : FType(varSmallint) { FData.Int = V; }
  Variant(unsigned short V) noexcept : FType(varWord) { FData.Int = V; }
  Variant(int V) noexcept : FType(varInteger) { FData.Int = V; }
  Variant(unsigned V) noexcept : FType(varLongWord) { FData.Int = V; }
  Variant(long V) noexcept : FType(varInt64) { FData.Int = V; }
  Variant(long long V) noexcept : FType(varInt64) { FData.Int = V; }
  // Values above the 64-bit signed range raise EVariantOverflowError.
  Variant(unsigned long V);
  Variant(unsigned long long V);
  Variant(float V) noexcept : FType(varSingle) { FData.Dbl = V; }
  Variant(double V) noexcept : FType(varDouble) { FData.Dbl = V; }
  Variant(Currency V) noexcept : FType(varCurrency) { FData.Int = V.Scaled(); }
  Variant(const char* V) : FType(varString), FStr(V ? V : "") {}
  Variant(AnsiString V) noexcept : FType(varString), FStr(std::move(V)) {}

  Variant(const Variant& O);
  Variant(Variant&& O) noexcept;
  Variant& operator=(const Variant& O);
  Variant& operator=(Variant&& O) noexcept;
  ~Variant();

  // Makes this a String holding a copy of Length bytes at Text, reusing the storage a previous
  // string value left behind: a loop reading texts into one Variant allocates only for growth.
  void SetString(const char* Text, size_t Length);
  // Make this an Integer, Double or Date in place, keeping the string storage for a later
  // SetString: a loop reading fields of mixed types into one Variant allocates nothing per row.
  void SetInteger(int32_t V) noexcept {
    BecomeScalar(varInteger);
    FData.Int = V;
  }
  void SetDouble(double V) noexcept {
    BecomeScalar(varDouble);
    FData.Dbl = V;
  }
  void SetDateTime(TDateTime V) noexcept {
    BecomeScalar(varDate);
    FData.Dbl = V;
  }

  static Variant Null() noexcept;
  static Variant FromDateTime(TDateTime V) noexcept;
  static Variant FromOleStr(AnsiString V);

  TVarType VarType() const noexcept { return FType; }
  bool IsEmpty() const noexcept { return FType == varEmpty; }
  bool IsNull() const noexcept { return FType == varNull; }
  bool IsArray() const noexcept { return (FType & varArray) != 0; }

  AnsiString AsString() const;
  int32_t AsInteger() const;
  int64_t AsInt64() const;
  double AsDouble() const;
  Currency AsCurrency() const;
  bool AsBoolean() const;
  TDateTime AsDateTime() const;

  // Array access; an index outside the bounds raises EVariantArrayError, so does
  // any of these on a value that is not an array.
  Variant GetElement(int Index) const;
  void PutElement(int Index, const Variant& Value);
  int LowBound() const;
  int HighBound() const;
  int ElementCount() const;  // HighBound - LowBound + 1

  // Equality by VarCompareValue: Null equals Null and nothing else.
  bool operator==(const Variant& O) const;

private:
  friend Variant VarArrayCreate(std::initializer_list<int> Bounds, TVarType ElementType);
  friend void* VarArrayLock(Variant& V);
  friend const void* VarArrayLock(const Variant& V);
  friend void VarArrayRedim(Variant& V, int HighBound);
  struct TArrayData;
  struct TArrayDeleter {
    void operator()(TArrayData* Data) const noexcept;  // out of line: TArrayData is private
  };

  [[noreturn]] void CastError(TVarType To) const;
  void Release() noexcept;
  // Drops the value but not the string's capacity (clear keeps it), then takes the scalar type.
  void BecomeScalar(TVarType Type) noexcept {
    FArray.reset();
    FStr.clear();
    FType = Type;
  }

  TVarType FType = varEmpty;
  union {
    int64_t Int;  // every integer kind, Boolean (0/1), Currency (scaled units)
    double Dbl;   // Single, Double, Date
  } FData{0};
  AnsiString FStr;                     // String, OleStr
  std::unique_ptr<TArrayData, TArrayDeleter> FArray;  // set exactly when IsArray()
};

inline Variant Null() { return Variant::Null(); }
inline Variant Unassigned() { return Variant(); }

inline TVarType VarType(const Variant& V) { return V.VarType(); }
inline bool VarIsEmpty(const Variant& V) { return V.IsEmpty(); }
inline bool VarIsNull(const Variant& V) { return V.IsNull(); }
inline bool VarIsClear(const Variant& V) { return V.IsEmpty(); }
inline bool VarIsArray(const Variant& V) { return V.IsArray(); }
bool VarIsType(const Variant& V, TVarType Type);
bool VarIsOrdinal(const Variant& V);  // integer kinds and Boolean
bool VarIsFloat(const Variant& V);    // Single, Double, Currency
bool VarIsNumeric(const Variant& V);  // ordinal or float
bool VarIsStr(const Variant& V);      // String or OleStr
// The type's name as the host writes it ("Integer", "String", "Array Byte").
AnsiString VarTypeAsText(TVarType Type);

// A copy of V converted to Type (a scalar type); raises as the As... functions.
Variant VarAsType(const Variant& V, TVarType Type);
// "" for Null and Empty, else AsString.
AnsiString VarToStr(const Variant& V);
AnsiString VarToStrDef(const Variant& V, const AnsiString& Default);
TDateTime VarToDateTime(const Variant& V);
Variant VarFromDateTime(TDateTime V);

// Null and Empty sort before everything; Null against a non-null value is
// vrNotEqual for equality purposes and vrLessThan for ordering (VarCompareOrder).
// Numbers compare by value, strings by AnsiCompareStr, a string against a number
// by the string's numeric value when it has one. Arrays are equal when their
// bounds and elements are.
TVariantRelationship VarCompareValue(const Variant& A, const Variant& B);
// Total order for sorting: -1, 0, 1.
int VarCompareOrder(const Variant& A, const Variant& B);

// Arrays.
Variant VarArrayCreate(std::initializer_list<int> Bounds, TVarType ElementType);
Variant VarArrayOf(const TVariantArray& Values);  // varVariant elements from 0
Variant VarByteArrayOf(const void* Data, size_t Count);  // bytes 0..Count-1
int VarArrayDimCount(const Variant& V);  // 1 for an array, 0 otherwise
int VarArrayLowBound(const Variant& V, int Dim);
int VarArrayHighBound(const Variant& V, int Dim);
Variant VarArrayGet(const Variant& V, int Index);
void VarArrayPut(Variant& V, const Variant& Value, int Index);
// New high bound, keeping the elements that remain within it; new ones are zero
// (bytes) or Empty.
void VarArrayRedim(Variant& V, int HighBound);
// Direct access to the elements: bytes (uint8_t*) for a byte array, Variant* for
// every other array; raises EVariantArrayError for a value that is not an array.
// The pointer stays valid until the array is resized, assigned or destroyed.
void* VarArrayLock(Variant& V);
const void* VarArrayLock(const Variant& V);
inline void VarArrayUnlock(const Variant&) {}
// The elements of a byte array as one block (Empty for any other value).
std::vector<uint8_t> VarArrayToBytes(const Variant& V);
#pragma GCC visibility pop
