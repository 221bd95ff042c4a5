#pragma once
// Small text helpers shared by every layer: ASCII case folding (schemes, section names, format names are
// ASCII and compared without case), trimming, and cutting UTF-8 text at a byte limit.
#include <cstddef>
#include <string>
#include <string_view>

namespace korvane {

char AsciiLower(char c);
std::string AsciiLower(std::string_view text);
std::string AsciiUpper(std::string_view text);
// ASCII letters compared without case; every other byte must match exactly.
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);
bool StartsWithIgnoringAsciiCase(std::string_view text, std::string_view prefix);

// Trims leading and trailing blanks and control characters (every byte up to and including " ").
std::string_view TrimText(std::string_view text);

// The text with its control characters (C0, DEL and the C1 range of UTF-8) written as \xNN or \u00NN, so
// that it can be shown on a terminal as it is: an address cannot move the cursor or change the colours.
std::string EscapeControlCharacters(std::string_view text);

// True for the second to last byte of a UTF-8 sequence.
inline bool IsUtf8Continuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}
// True when the text is well-formed UTF-8: no stray or missing continuation bytes, no overlong forms, no
// surrogates, nothing past U+10FFFF.
bool IsValidUtf8(std::string_view text);
// The longest prefix of at most `limit` bytes that does not end inside a UTF-8 sequence.
std::string_view CutUtf8(std::string_view text, std::size_t limit);

} // namespace korvane
