// Sets: the small value type that stands for a set of an enumeration. The ordinal of
// each enumeration value is its bit position, so a set streams and compares as the
// unsigned integer it holds. Store must be wide enough for the highest ordinal.
#pragma once
#pragma GCC visibility push(default)

#include <cstdint>
#include <initializer_list>
#include <type_traits>

template <typename E, typename Store = uint32_t>
class TSet {
  static_assert(std::is_unsigned_v<Store>, "a set is stored in an unsigned integer");

public:
  constexpr TSet() = default;
  constexpr TSet(std::initializer_list<E> Values) {
    for (E V : Values) Include(V);
  }
  // Builds a set from its stored form (for example a value read from a stream);
  // bits beyond the enumeration are kept so that nothing read is lost.
  static constexpr TSet FromBits(Store Bits) {
    TSet S;
    S.FBits = Bits;
    return S;
  }

  constexpr bool Contains(E V) const { return Valid(V) && (FBits & Bit(V)) != 0; }
  constexpr TSet& Include(E V) {
    if (Valid(V)) FBits |= Bit(V);
    return *this;
  }
  constexpr TSet& Exclude(E V) {
    if (Valid(V)) FBits &= static_cast<Store>(~Bit(V));
    return *this;
  }
  constexpr bool Empty() const { return FBits == 0; }
  constexpr Store Bits() const { return FBits; }

  constexpr TSet operator|(TSet O) const { return FromBits(FBits | O.FBits); }
  constexpr TSet operator&(TSet O) const { return FromBits(FBits & O.FBits); }
  constexpr TSet operator-(TSet O) const { return FromBits(FBits & static_cast<Store>(~O.FBits)); }
  constexpr TSet operator|(E V) const { return TSet(*this).Include(V); }
  constexpr TSet& operator|=(TSet O) {
    FBits |= O.FBits;
    return *this;
  }
  constexpr TSet& operator-=(TSet O) {
    FBits &= static_cast<Store>(~O.FBits);
    return *this;
  }
  constexpr bool operator==(const TSet&) const = default;

private:
  static constexpr bool Valid(E V) {
    auto Ord = static_cast<long long>(V);
    return Ord >= 0 && Ord < static_cast<long long>(sizeof(Store) * 8);
  }
  static constexpr Store Bit(E V) { return static_cast<Store>(Store{1} << static_cast<unsigned>(V)); }

  Store FBits = 0;  // bit n set <=> the value with ordinal n is in the set
};
#pragma GCC visibility pop
