// A small set of the values of an 8-bit enumeration, held in a fixed-width bit
// word: bit n stands for the value with ordinal n. The bit word is the set's
// stored form (TComEvents in 16 bits, the others in 8), so ToBits/FromBits are
// exact. A plain value type; no thread rules of its own.
#pragma once

#include <cstdint>
#include <initializer_list>

namespace cport {

template <class Enum, class Bits>
class EnumSet {
 public:
  constexpr EnumSet() = default;
  constexpr EnumSet(std::initializer_list<Enum> values) {
    for (Enum value : values)
      Include(value);
  }

  static constexpr EnumSet FromBits(Bits bits) {
    EnumSet set;
    set.bits_ = bits;
    return set;
  }
  constexpr Bits ToBits() const { return bits_; }

  constexpr bool Contains(Enum value) const { return (bits_ & BitOf(value)) != 0; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr EnumSet& Include(Enum value) {
    bits_ = static_cast<Bits>(bits_ | BitOf(value));
    return *this;
  }
  constexpr EnumSet& Exclude(Enum value) {
    bits_ = static_cast<Bits>(bits_ & ~BitOf(value));
    return *this;
  }

  friend constexpr EnumSet operator|(EnumSet a, EnumSet b) {
    return FromBits(static_cast<Bits>(a.bits_ | b.bits_));
  }
  friend constexpr EnumSet operator&(EnumSet a, EnumSet b) {
    return FromBits(static_cast<Bits>(a.bits_ & b.bits_));
  }
  friend constexpr bool operator==(EnumSet a, EnumSet b) = default;

 private:
  static constexpr Bits BitOf(Enum value) {
    return static_cast<Bits>(Bits{1} << static_cast<unsigned>(value));
  }

  Bits bits_ = 0;
};

}  // namespace cport
