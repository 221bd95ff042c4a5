#pragma once
// Base64 decoding of the engine's binary replies (screenshots of hundreds of megabytes): one pass, straight
// into a byte buffer sized up front.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korvane {

// Decodes standard base64 with optional '=' padding. Returns false (and leaves `out` unspecified) for a
// character outside the alphabet or a length that is no multiple of 4.
bool DecodeBase64(std::string_view text, std::vector<std::uint8_t>& out);
// Standard base64 with '=' padding.
std::string EncodeBase64(std::string_view bytes);

} // namespace korvane
