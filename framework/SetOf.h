#pragma once

#include <cstdint>
#include <initializer_list>

namespace fw {

// A set of enumeration members held in a small integer: member n is bit n.
template <typename Enum, typename Bits = std::uint16_t> class SetOf {
public:
    constexpr SetOf() = default;
    constexpr SetOf(std::initializer_list<Enum> members) {
        for (Enum m : members)
            include(m);
    }
    static constexpr SetOf fromBits(Bits bits) {
        SetOf s;
        s.bits_ = bits;
        return s;
    }

    constexpr bool contains(Enum m) const { return (bits_ >> static_cast<unsigned>(m)) & 1u; }
    constexpr SetOf& include(Enum m) {
        bits_ = static_cast<Bits>(bits_ | (Bits{1} << static_cast<unsigned>(m)));
        return *this;
    }
    constexpr bool empty() const { return bits_ == 0; }
    constexpr Bits bits() const { return bits_; }

    constexpr SetOf operator|(SetOf o) const {
        return fromBits(static_cast<Bits>(bits_ | o.bits_));
    }
    constexpr SetOf operator&(SetOf o) const {
        return fromBits(static_cast<Bits>(bits_ & o.bits_));
    }
    constexpr bool operator==(const SetOf&) const = default;

private:
    Bits bits_ = 0;
};

} // namespace fw
