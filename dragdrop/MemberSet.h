#pragma once
// A set of the members of a small enumeration (at most 32), kept as one bit per member ordinal.
#include <cstdint>
#include <initializer_list>

namespace korvane {

template <class E> class TMemberSet {
public:
    constexpr TMemberSet() = default;
    constexpr TMemberSet(std::initializer_list<E> members) {
        for (E m : members)
            Include(m);
    }
    constexpr bool Contains(E m) const { return (bits_ & Bit(m)) != 0; }
    constexpr TMemberSet& Include(E m) {
        bits_ |= Bit(m);
        return *this;
    }
    constexpr TMemberSet& Exclude(E m) {
        bits_ &= ~Bit(m);
        return *this;
    }
    constexpr bool Empty() const { return bits_ == 0; }
    friend constexpr bool operator==(TMemberSet, TMemberSet) = default;

private:
    static constexpr std::uint32_t Bit(E m) { return std::uint32_t{1} << static_cast<unsigned>(m); }
    std::uint32_t bits_ = 0;
};

} // namespace korvane
