#pragma once
// Readers of the blocks that dragged data arrives in. Each one checks every offset and length against the
// size of its block; a block that would be read past its end delivers nothing.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvane {

// The text up to the first zero byte; none when the block holds no zero byte.
std::optional<std::string> ReadZeroTerminatedText(std::string_view block);

// The names of a DROPFILES block in order (UTF-8; 16-bit names converted). Empty when the block is shorter
// than its header, its name offset lies outside it, or a name or the empty name ending the list runs past it.
std::vector<std::string> ReadDropFiles(std::string_view block);

// The name of the first file descriptor of a FILEGROUPDESCRIPTOR block, up to its first zero byte and at
// most 260 bytes (cut on a character boundary). None when the block is shorter than one descriptor or
// counts no item.
std::optional<std::string> ReadFirstDescriptorName(std::string_view block);

// The address in the text of a dragged shortcut's contents: from the 24th character on (right after
// "[InternetShortcut]", a line break and "URL="), at most 250 bytes, cut on a character boundary.
std::string FileContentsUrl(std::string_view text);

// UTF-16 little-endian code units to UTF-8; unpaired surrogates become U+FFFD.
std::string Utf16LEToUtf8(const std::uint8_t* units, std::size_t count);
// The text without a last character whose UTF-8 sequence is incomplete.
std::string_view WithoutCutCharacter(std::string_view text);
// The text without its last count characters (UTF-8 sequences count as one); shorter text stays whole.
std::string RemoveLastChars(std::string_view text, std::size_t count);

} // namespace korvane
