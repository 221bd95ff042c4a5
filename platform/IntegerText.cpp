#include "IntegerText.h"

namespace korvane {

namespace {
int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
} // namespace

std::optional<std::int32_t> ParseIntegerText(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';

    bool hex = false;
    if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
        hex = true;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    if (i == text.size()) return std::nullopt;

    std::uint64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        int digit = hex ? HexDigit(text[i]) : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);
        if (digit < 0) return std::nullopt;
        magnitude = magnitude * (hex ? 16 : 10) + static_cast<unsigned>(digit);
        if (magnitude > 0xFFFFFFFFull) return std::nullopt;
    }

    if (hex) {
        // Hexadecimal text names the 32 bits themselves: $FFFFFFFF is -1.
        auto bits = static_cast<std::int32_t>(static_cast<std::uint32_t>(magnitude));
        return negative ? static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(bits)) : bits;
    }
    if (negative) {
        if (magnitude > 0x80000000ull) return std::nullopt;
        return static_cast<std::int32_t>(-static_cast<std::int64_t>(magnitude));
    }
    if (magnitude > 0x7FFFFFFFull) return std::nullopt;
    return static_cast<std::int32_t>(magnitude);
}

std::string IntToStr(std::int64_t value) {
    return std::to_string(value);
}

} // namespace korvane
