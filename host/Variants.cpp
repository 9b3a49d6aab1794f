// The Variant value: storage, conversions between the kinds, comparison and
// one-dimensional arrays. The one type switch for conversions lives in the As...
// members; everything else is built on them.
#include "host/Variants.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "host/Messages.h"

struct Variant::TArrayData {
  TVarType ElementType = varVariant;
  int Low = 0;
  int High = -1;
  std::vector<uint8_t> Bytes;   // ElementType == varByte
  std::vector<Variant> Items;   // every other element type

  size_t Count() const { return static_cast<size_t>(static_cast<int64_t>(High) - Low + 1); }
};

void Variant::TArrayDeleter::operator()(TArrayData* Data) const noexcept { delete Data; }

namespace {

bool IsIntegerType(TVarType T) {
  switch (T) {
    case varSmallint: case varInteger: case varShortInt: case varByte: case varWord:
    case varLongWord: case varInt64: return true;
    default: return false;
  }
}

bool IsScalarElementType(TVarType T) {
  return IsIntegerType(T) || T == varSingle || T == varDouble || T == varCurrency || T == varDate ||
         T == varOleStr || T == varBoolean || T == varVariant || T == varString;
}

// Rounds half to even, as the host converts floating point to integers.
bool RoundToInt64(double D, int64_t& Out) {
  if (!std::isfinite(D)) return false;
  const double R = std::nearbyint(D);
  if (R < -9223372036854775808.0 || R >= 9223372036854775808.0) return false;
  Out = static_cast<int64_t>(R);
  return true;
}

}  // namespace

Variant::Variant(unsigned long V) : Variant(static_cast<unsigned long long>(V)) {}

Variant::Variant(unsigned long long V) : FType(varInt64) {
  if (V > static_cast<unsigned long long>(INT64_MAX))
    throw EVariantOverflowError(Format(LoadResString(SVarOverflow), {"UInt64", "Int64"}));
  FData.Int = static_cast<int64_t>(V);
}

Variant::Variant(const Variant& O) : FType(O.FType), FData(O.FData), FStr(O.FStr) {
  if (O.FArray) FArray.reset(new TArrayData(*O.FArray));
}

Variant::Variant(Variant&& O) noexcept
    : FType(O.FType), FData(O.FData), FStr(std::move(O.FStr)), FArray(std::move(O.FArray)) {
  O.FType = varEmpty;
  O.FData.Int = 0;
}

Variant& Variant::operator=(const Variant& O) {
  if (this != &O) {
    Variant Copy(O);
    *this = std::move(Copy);
  }
  return *this;
}

Variant& Variant::operator=(Variant&& O) noexcept {
  if (this != &O) {
    FType = O.FType;
    FData = O.FData;
    FStr = std::move(O.FStr);
    FArray = std::move(O.FArray);
    O.FType = varEmpty;
    O.FData.Int = 0;
    O.FStr.clear();
  }
  return *this;
}

Variant::~Variant() = default;

void Variant::SetString(const char* Text, size_t Length) {
  FArray.reset();
  FType = varString;
  FData.Int = 0;
  FStr.assign(Text, Length);
}

void Variant::Release() noexcept {
  FType = varEmpty;
  FData.Int = 0;
  FStr.clear();
  FArray.reset();
}

Variant Variant::Null() noexcept {
  Variant V;
  V.FType = varNull;
  return V;
}

Variant Variant::FromDateTime(TDateTime D) noexcept {
  Variant V(D);
  V.FType = varDate;
  return V;
}

Variant Variant::FromOleStr(AnsiString S) {
  Variant V(std::move(S));
  V.FType = varOleStr;
  return V;
}

void Variant::CastError(TVarType To) const {
  throw EVariantTypeCastError(Format(LoadResString(SVarTypeCastError), {VarTypeAsText(FType), VarTypeAsText(To)}));
}

AnsiString Variant::AsString() const {
  switch (FType) {
    case varEmpty: return {};
    case varBoolean: return FData.Int ? "True" : "False";
    case varSingle: {
      // A Single printed with double digits would show noise ("0.1" as 0.100000001).
      char Buf[32];
      std::snprintf(Buf, sizeof(Buf), "%.7G", FData.Dbl);
      return Buf;
    }
    case varDouble: return FloatToStr(FData.Dbl);
    case varCurrency: return CurrToStr(Currency::FromScaled(FData.Int));
    case varDate: return DateTimeToStr(FData.Dbl);
    case varString: case varOleStr: return FStr;
    default:
      if (IsIntegerType(FType)) return IntToStr(FData.Int);
      CastError(varString);
  }
}

int64_t Variant::AsInt64() const {
  switch (FType) {
    case varEmpty: return 0;
    case varBoolean: return FData.Int ? -1 : 0;
    case varSingle: case varDouble: case varDate: {
      int64_t R;
      if (!RoundToInt64(FData.Dbl, R))
        throw EVariantOverflowError(Format(LoadResString(SVarOverflow), {VarTypeAsText(FType), "Int64"}));
      return R;
    }
    case varCurrency: {
      // Ten-thousandths to units, halves to even.
      const int64_t Q = FData.Int / Currency::Scale, Rm = FData.Int % Currency::Scale;
      const int64_t Twice = 2 * (Rm < 0 ? -Rm : Rm);
      if (Twice > Currency::Scale || (Twice == Currency::Scale && (Q % 2) != 0)) return Q + (Rm < 0 ? -1 : 1);
      return Q;
    }
    case varString: case varOleStr: {
      int64_t I;
      if (TryStrToInt64(FStr, I)) return I;
      double D;
      if (TryStrToFloat(FStr, D) && RoundToInt64(D, I)) return I;
      CastError(varInt64);
    }
    default:
      if (IsIntegerType(FType)) return FData.Int;
      CastError(varInt64);
  }
}

int32_t Variant::AsInteger() const {
  // Field and parameter indexes arrive as Integer: no conversion to go through.
  if (FType == varInteger || FType == varSmallint) return static_cast<int32_t>(FData.Int);
  const int64_t V = AsInt64();
  if (V < INT32_MIN || V > INT32_MAX)
    throw EVariantOverflowError(Format(LoadResString(SVarOverflow), {VarTypeAsText(FType), "Integer"}));
  return static_cast<int32_t>(V);
}

double Variant::AsDouble() const {
  switch (FType) {
    case varEmpty: return 0;
    case varBoolean: return FData.Int ? -1.0 : 0.0;
    case varSingle: case varDouble: case varDate: return FData.Dbl;
    case varCurrency: return Currency::FromScaled(FData.Int).ToDouble();
    case varString: case varOleStr: {
      double D;
      if (TryStrToFloat(FStr, D)) return D;
      CastError(varDouble);
    }
    default:
      if (IsIntegerType(FType)) return static_cast<double>(FData.Int);
      CastError(varDouble);
  }
}

Currency Variant::AsCurrency() const {
  switch (FType) {
    case varCurrency: return Currency::FromScaled(FData.Int);
    case varString: case varOleStr: {
      Currency C;
      if (TryStrToCurr(FStr, C)) return C;
      CastError(varCurrency);
    }
    default: {
      if (IsIntegerType(FType) || FType == varBoolean || FType == varEmpty) {
        const int64_t I = AsInt64();
        if (I > INT64_MAX / Currency::Scale || I < INT64_MIN / Currency::Scale)
          throw EVariantOverflowError(Format(LoadResString(SVarOverflow), {VarTypeAsText(FType), "Currency"}));
        return Currency::FromInt(I);
      }
      const double D = AsDouble();
      try {
        return Currency::FromDouble(D);
      } catch (const EConvertError&) {
        throw EVariantOverflowError(Format(LoadResString(SVarOverflow), {VarTypeAsText(FType), "Currency"}));
      }
    }
  }
}

bool Variant::AsBoolean() const {
  switch (FType) {
    case varEmpty: return false;
    case varBoolean: return FData.Int != 0;
    case varString: case varOleStr: {
      bool B;
      if (TryStrToBool(FStr, B)) return B;
      CastError(varBoolean);
    }
    case varSingle: case varDouble: case varDate: return FData.Dbl != 0;
    case varCurrency: return FData.Int != 0;
    default:
      if (IsIntegerType(FType)) return FData.Int != 0;
      CastError(varBoolean);
  }
}

TDateTime Variant::AsDateTime() const {
  switch (FType) {
    case varEmpty: return 0;
    case varDate: return FData.Dbl;
    case varString: case varOleStr: {
      TDateTime D;
      if (TryStrToDateTime(FStr, D)) return D;
      CastError(varDate);
    }
    case varBoolean: CastError(varDate);
    default:
      if (IsIntegerType(FType) || FType == varSingle || FType == varDouble || FType == varCurrency)
        return AsDouble();
      CastError(varDate);
  }
}

// ---------------------------------------------------------------------------
// Arrays

namespace {
[[noreturn]] void NotArray() { throw EVariantArrayError(LoadResString(SVarNotArray)); }
[[noreturn]] void OutOfBounds() { throw EVariantArrayError(LoadResString(SVarArrayBounds)); }
}  // namespace

Variant VarArrayCreate(std::initializer_list<int> Bounds, TVarType ElementType) {
  // One dimension: {low, high}. The host allows more; the libraries use one.
  if (Bounds.size() != 2 || !IsScalarElementType(ElementType))
    throw EVariantArrayError(LoadResString(SVarArrayCreate));
  const int Low = *Bounds.begin(), High = *(Bounds.begin() + 1);
  const int64_t Count = static_cast<int64_t>(High) - Low + 1;
  if (Count < 0 || Count > (int64_t{1} << 31)) throw EVariantArrayError(LoadResString(SVarArrayCreate));
  Variant V;
  V.FArray.reset(new Variant::TArrayData);
  V.FArray->ElementType = ElementType;
  V.FArray->Low = Low;
  V.FArray->High = High;
  if (ElementType == varByte) V.FArray->Bytes.assign(static_cast<size_t>(Count), 0);
  else V.FArray->Items.assign(static_cast<size_t>(Count), ElementType == varVariant ? Variant() : VarAsType(Variant(), ElementType));
  V.FType = static_cast<TVarType>(varArray | ElementType);
  return V;
}

Variant Variant::GetElement(int Index) const {
  if (!FArray) NotArray();
  if (Index < FArray->Low || Index > FArray->High) OutOfBounds();
  const size_t I = static_cast<size_t>(static_cast<int64_t>(Index) - FArray->Low);
  if (FArray->ElementType == varByte) return Variant(FArray->Bytes[I]);
  return FArray->Items[I];
}

void Variant::PutElement(int Index, const Variant& Value) {
  if (!FArray) NotArray();
  if (Index < FArray->Low || Index > FArray->High) OutOfBounds();
  const size_t I = static_cast<size_t>(static_cast<int64_t>(Index) - FArray->Low);
  if (FArray->ElementType == varByte) {
    const int64_t B = Value.AsInt64();
    if (B < 0 || B > 255) throw EVariantOverflowError(Format(LoadResString(SVarOverflow), {VarTypeAsText(Value.VarType()), "Byte"}));
    FArray->Bytes[I] = static_cast<uint8_t>(B);
  } else if (FArray->ElementType == varVariant) {
    FArray->Items[I] = Value;
  } else {
    FArray->Items[I] = VarAsType(Value, FArray->ElementType);
  }
}

int Variant::LowBound() const {
  if (!FArray) NotArray();
  return FArray->Low;
}

int Variant::HighBound() const {
  if (!FArray) NotArray();
  return FArray->High;
}

int Variant::ElementCount() const {
  if (!FArray) NotArray();
  return static_cast<int>(FArray->Count());
}

void VarArrayRedim(Variant& V, int HighBound) {
  if (!V.FArray) NotArray();
  auto& A = *V.FArray;
  const int64_t Count = static_cast<int64_t>(HighBound) - A.Low + 1;
  if (Count < 0 || Count > (int64_t{1} << 31)) throw EVariantArrayError(LoadResString(SVarArrayCreate));
  if (A.ElementType == varByte) A.Bytes.resize(static_cast<size_t>(Count), 0);
  else A.Items.resize(static_cast<size_t>(Count), A.ElementType == varVariant ? Variant() : VarAsType(Variant(), A.ElementType));
  A.High = HighBound;
}

void* VarArrayLock(Variant& V) {
  if (!V.FArray) NotArray();
  if (V.FArray->ElementType == varByte) return V.FArray->Bytes.data();
  return V.FArray->Items.data();
}

const void* VarArrayLock(const Variant& V) {
  if (!V.FArray) NotArray();
  if (V.FArray->ElementType == varByte) return V.FArray->Bytes.data();
  return V.FArray->Items.data();
}

Variant VarArrayOf(const TVariantArray& Values) {
  Variant V = VarArrayCreate({0, static_cast<int>(Values.size()) - 1}, varVariant);
  auto* Items = static_cast<Variant*>(VarArrayLock(V));
  for (size_t I = 0; I < Values.size(); ++I) Items[I] = Values[I];
  return V;
}

Variant VarByteArrayOf(const void* Data, size_t Count) {
  if (Count > (size_t{1} << 31)) throw EVariantArrayError(LoadResString(SVarArrayCreate));
  Variant V = VarArrayCreate({0, static_cast<int>(Count) - 1}, varByte);
  if (Count) std::memcpy(VarArrayLock(V), Data, Count);
  return V;
}

int VarArrayDimCount(const Variant& V) { return V.IsArray() ? 1 : 0; }

int VarArrayLowBound(const Variant& V, int Dim) {
  if (Dim != 1 || !V.IsArray()) throw EVariantArrayError(LoadResString(V.IsArray() ? SVarArrayBounds : SVarNotArray));
  return V.LowBound();
}

int VarArrayHighBound(const Variant& V, int Dim) {
  if (Dim != 1 || !V.IsArray()) throw EVariantArrayError(LoadResString(V.IsArray() ? SVarArrayBounds : SVarNotArray));
  return V.HighBound();
}

Variant VarArrayGet(const Variant& V, int Index) { return V.GetElement(Index); }
void VarArrayPut(Variant& V, const Variant& Value, int Index) { V.PutElement(Index, Value); }

std::vector<uint8_t> VarArrayToBytes(const Variant& V) {
  if (V.VarType() != (varArray | varByte)) return {};
  const auto* P = static_cast<const uint8_t*>(VarArrayLock(V));
  return std::vector<uint8_t>(P, P + V.ElementCount());
}

// ---------------------------------------------------------------------------
// Type tests and names

bool VarIsType(const Variant& V, TVarType Type) { return V.VarType() == Type; }
bool VarIsOrdinal(const Variant& V) { return IsIntegerType(V.VarType()) || V.VarType() == varBoolean; }
bool VarIsFloat(const Variant& V) {
  const TVarType T = V.VarType();
  return T == varSingle || T == varDouble || T == varCurrency;
}
bool VarIsNumeric(const Variant& V) { return VarIsOrdinal(V) || VarIsFloat(V); }
bool VarIsStr(const Variant& V) { return V.VarType() == varString || V.VarType() == varOleStr; }

AnsiString VarTypeAsText(TVarType Type) {
  AnsiString Name;
  switch (Type & varTypeMask) {
    case varEmpty: Name = "Empty"; break;
    case varNull: Name = "Null"; break;
    case varSmallint: Name = "Smallint"; break;
    case varInteger: Name = "Integer"; break;
    case varSingle: Name = "Single"; break;
    case varDouble: Name = "Double"; break;
    case varCurrency: Name = "Currency"; break;
    case varDate: Name = "Date"; break;
    case varOleStr: Name = "OleStr"; break;
    case varBoolean: Name = "Boolean"; break;
    case varVariant: Name = "Variant"; break;
    case varShortInt: Name = "ShortInt"; break;
    case varByte: Name = "Byte"; break;
    case varWord: Name = "Word"; break;
    case varLongWord: Name = "LongWord"; break;
    case varInt64: Name = "Int64"; break;
    case varString: Name = "String"; break;
    default: Name = "$" + IntToHex(Type & varTypeMask, 4);
  }
  return (Type & varArray) ? "Array " + Name : Name;
}

Variant VarAsType(const Variant& V, TVarType Type) {
  if (V.IsArray()) {
    if (Type == V.VarType()) return V;
    throw EVariantTypeCastError(Format(LoadResString(SVarTypeCastError), {VarTypeAsText(V.VarType()), VarTypeAsText(Type)}));
  }
  if (Type != varEmpty && Type != varNull && Type != varVariant && V.IsNull())
    throw EVariantTypeCastError(Format(LoadResString(SVarTypeCastError), {"Null", VarTypeAsText(Type)}));
  auto Ranged = [&](int64_t Lo, int64_t Hi) {
    const int64_t I = V.AsInt64();
    if (I < Lo || I > Hi)
      throw EVariantOverflowError(Format(LoadResString(SVarOverflow), {VarTypeAsText(V.VarType()), VarTypeAsText(Type)}));
    return I;
  };
  switch (Type) {
    case varEmpty: return Variant();
    case varNull: return Variant::Null();
    case varVariant: return V;
    case varSmallint: return Variant(static_cast<short>(Ranged(INT16_MIN, INT16_MAX)));
    case varInteger: return Variant(V.AsInteger());
    case varShortInt: return Variant(static_cast<signed char>(Ranged(INT8_MIN, INT8_MAX)));
    case varByte: return Variant(static_cast<unsigned char>(Ranged(0, UINT8_MAX)));
    case varWord: return Variant(static_cast<unsigned short>(Ranged(0, UINT16_MAX)));
    case varLongWord: return Variant(static_cast<unsigned>(Ranged(0, UINT32_MAX)));
    case varInt64: return Variant(static_cast<long long>(V.AsInt64()));
    case varSingle: {
      const double D = V.AsDouble();
      if (std::isfinite(D) && std::fabs(D) > std::numeric_limits<float>::max())
        throw EVariantOverflowError(Format(LoadResString(SVarOverflow), {VarTypeAsText(V.VarType()), "Single"}));
      return Variant(static_cast<float>(D));
    }
    case varDouble: return Variant(V.AsDouble());
    case varCurrency: return Variant(V.AsCurrency());
    case varDate: return Variant::FromDateTime(V.AsDateTime());
    case varBoolean: return Variant(V.AsBoolean());
    case varString: return Variant(V.AsString());
    case varOleStr: return Variant::FromOleStr(V.AsString());
    default:
      throw EVariantTypeCastError(Format(LoadResString(SVarTypeCastError), {VarTypeAsText(V.VarType()), VarTypeAsText(Type)}));
  }
}

AnsiString VarToStr(const Variant& V) { return VarToStrDef(V, AnsiString()); }
AnsiString VarToStrDef(const Variant& V, const AnsiString& Default) {
  return V.IsNull() || V.IsEmpty() ? Default : V.AsString();
}
TDateTime VarToDateTime(const Variant& V) { return V.AsDateTime(); }
Variant VarFromDateTime(TDateTime V) { return Variant::FromDateTime(V); }

// ---------------------------------------------------------------------------
// Comparison

namespace {

bool AsNumber(const Variant& V, double& Out) {
  if (VarIsNumeric(V) || V.VarType() == varDate) {
    Out = V.AsDouble();
    return true;
  }
  if (VarIsStr(V)) return TryStrToFloat(V.AsString(), Out);
  return false;
}

int Sign(double A, double B) { return A < B ? -1 : A > B ? 1 : 0; }

int CompareScalars(const Variant& A, const Variant& B, bool& Comparable) {
  Comparable = true;
  const bool AStr = VarIsStr(A), BStr = VarIsStr(B);
  if (AStr && BStr) return AnsiCompareStr(A.AsString(), B.AsString());
  // Two integers compare exactly (doubles would lose the low bits of large ones).
  if (VarIsOrdinal(A) && VarIsOrdinal(B)) {
    const int64_t X = A.AsInt64(), Y = B.AsInt64();
    return X < Y ? -1 : X > Y ? 1 : 0;
  }
  if (A.VarType() == varCurrency && B.VarType() == varCurrency) {
    const auto X = A.AsCurrency(), Y = B.AsCurrency();
    return X < Y ? -1 : X > Y ? 1 : 0;
  }
  double X, Y;
  if (AsNumber(A, X) && AsNumber(B, Y)) return Sign(X, Y);
  if (AStr || BStr) return AnsiCompareStr(VarToStr(A), VarToStr(B));
  Comparable = false;
  return 0;
}

}  // namespace

TVariantRelationship VarCompareValue(const Variant& A, const Variant& B) {
  const bool AClear = A.IsNull() || A.IsEmpty(), BClear = B.IsNull() || B.IsEmpty();
  if (AClear || BClear) {
    if (A.IsNull() && B.IsNull()) return vrEqual;
    if (A.IsEmpty() && B.IsEmpty()) return vrEqual;
    if (A.IsNull() || B.IsNull()) return vrNotEqual;
    return AClear ? vrLessThan : vrGreaterThan;  // Empty before every value
  }
  if (A.IsArray() || B.IsArray()) {
    if (!A.IsArray() || !B.IsArray() || A.LowBound() != B.LowBound() || A.HighBound() != B.HighBound())
      return vrNotEqual;
    for (int I = A.LowBound(); I <= A.HighBound(); ++I)
      if (VarCompareValue(A.GetElement(I), B.GetElement(I)) != vrEqual) return vrNotEqual;
    return vrEqual;
  }
  bool Comparable;
  const int R = CompareScalars(A, B, Comparable);
  if (!Comparable) return vrNotEqual;
  return R < 0 ? vrLessThan : R > 0 ? vrGreaterThan : vrEqual;
}

int VarCompareOrder(const Variant& A, const Variant& B) {
  auto Rank = [](const Variant& V) { return V.IsEmpty() ? 0 : V.IsNull() ? 1 : V.IsArray() ? 3 : 2; };
  const int RA = Rank(A), RB = Rank(B);
  if (RA != RB) return RA < RB ? -1 : 1;
  if (RA == 3) {
    const int N = std::min(A.ElementCount(), B.ElementCount());
    for (int I = 0; I < N; ++I)
      if (int R = VarCompareOrder(A.GetElement(A.LowBound() + I), B.GetElement(B.LowBound() + I))) return R;
    return A.ElementCount() < B.ElementCount() ? -1 : A.ElementCount() > B.ElementCount() ? 1 : 0;
  }
  if (RA != 2) return 0;
  bool Comparable;
  const int R = CompareScalars(A, B, Comparable);
  if (Comparable) return R;
  // Kinds that have no order between them (a Boolean and a date) sort by type code.
  return A.VarType() < B.VarType() ? -1 : A.VarType() > B.VarType() ? 1 : 0;
}

bool Variant::operator==(const Variant& O) const { return VarCompareValue(*this, O) == vrEqual; }
