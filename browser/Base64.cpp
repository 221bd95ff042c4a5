#include "browser/Base64.h"

#include <array>

namespace korvane {
namespace {

constexpr std::uint8_t kBad = 0xFF;

constexpr std::array<std::uint8_t, 256> MakeTable() {
    std::array<std::uint8_t, 256> t{};
    for (auto& v : t)
        v = kBad;
    const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (int i = 0; i < 64; ++i)
        t[static_cast<unsigned char>(alphabet[i])] = static_cast<std::uint8_t>(i);
    return t;
}

constexpr std::array<std::uint8_t, 256> kTable = MakeTable();

} // namespace

bool DecodeBase64(std::string_view text, std::vector<std::uint8_t>& out) {
    if (text.size() % 4 != 0) return false;
    std::size_t padding = 0;
    if (!text.empty() && text.back() == '=') padding = text[text.size() - 2] == '=' ? 2 : 1;
    const std::size_t groups = text.size() / 4;
    out.resize(groups * 3 - padding);
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    std::uint8_t* dst = out.data();
    const std::size_t fullGroups = padding ? groups - 1 : groups;
    std::uint8_t bad = 0;
    for (std::size_t g = 0; g < fullGroups; ++g, in += 4, dst += 3) {
        const std::uint8_t a = kTable[in[0]], b = kTable[in[1]], c = kTable[in[2]], d = kTable[in[3]];
        bad |= (a | b | c | d) & 0x80;
        const std::uint32_t v =
            (std::uint32_t{a} << 18) | (std::uint32_t{b} << 12) | (std::uint32_t{c} << 6) | d;
        dst[0] = static_cast<std::uint8_t>(v >> 16);
        dst[1] = static_cast<std::uint8_t>(v >> 8);
        dst[2] = static_cast<std::uint8_t>(v);
    }
    if (bad) return false;
    if (padding) {
        const std::uint8_t a = kTable[in[0]], b = kTable[in[1]];
        const std::uint8_t c = padding == 2 ? 0 : kTable[in[2]];
        if ((a | b | c) & 0x80) return false;
        const std::uint32_t v = (std::uint32_t{a} << 18) | (std::uint32_t{b} << 12) | (std::uint32_t{c} << 6);
        dst[0] = static_cast<std::uint8_t>(v >> 16);
        if (padding == 1) dst[1] = static_cast<std::uint8_t>(v >> 8);
    }
    return true;
}

std::string EncodeBase64(std::string_view bytes) {
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out((bytes.size() + 2) / 3 * 4, '=');
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    char* dst = out.data();
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3, dst += 4) {
        const std::uint32_t v = (std::uint32_t{in[i]} << 16) | (std::uint32_t{in[i + 1]} << 8) | in[i + 2];
        dst[0] = kAlphabet[v >> 18];
        dst[1] = kAlphabet[(v >> 12) & 63];
        dst[2] = kAlphabet[(v >> 6) & 63];
        dst[3] = kAlphabet[v & 63];
    }
    if (const std::size_t rest = bytes.size() - i; rest > 0) {
        std::uint32_t v = std::uint32_t{in[i]} << 16;
        if (rest == 2) v |= std::uint32_t{in[i + 1]} << 8;
        dst[0] = kAlphabet[v >> 18];
        dst[1] = kAlphabet[(v >> 12) & 63];
        if (rest == 2) dst[2] = kAlphabet[(v >> 6) & 63];
    }
    return out;
}

} // namespace korvane
