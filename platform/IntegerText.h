#pragma once
// The one reader of numbers typed by the user or stored in the settings file: optional leading spaces, an
// optional sign, then decimal digits, or hexadecimal digits after "$", "x", "X", "0x" or "0X". Nothing may
// follow the digits; a value that does not fit in 32 bits is unreadable.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace korvane {

std::optional<std::int32_t> ParseIntegerText(std::string_view text);

// The value of the text, or the default when it is unreadable.
inline std::int32_t StrToIntDef(std::string_view text, std::int32_t def) {
    return ParseIntegerText(text).value_or(def);
}

// Decimal, with a leading "-" when negative.
std::string IntToStr(std::int64_t value);

} // namespace korvane
