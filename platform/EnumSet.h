#pragma once
// A set of the members of an enumeration with at most 32 members, as a bit per member ordinal.
#include <cstdint>
#include <initializer_list>

namespace korvane {

template <typename E> class TEnumSet {
public:
    constexpr TEnumSet() = default;
    constexpr TEnumSet(std::initializer_list<E> members) {
        for (E m : members)
            Include(m);
    }

    constexpr bool Contains(E m) const { return (FBits & Bit(m)) != 0; }
    constexpr TEnumSet& Include(E m) {
        FBits |= Bit(m);
        return *this;
    }
    constexpr TEnumSet& Exclude(E m) {
        FBits &= ~Bit(m);
        return *this;
    }
    constexpr bool Empty() const { return FBits == 0; }
    // Bit n set when the member of ordinal n is in the set.
    constexpr std::uint32_t Ordinals() const { return FBits; }
    constexpr bool operator==(const TEnumSet&) const = default;

private:
    static constexpr std::uint32_t Bit(E m) { return std::uint32_t{1} << static_cast<unsigned>(m); }
    std::uint32_t FBits = 0;
};

} // namespace korvane
