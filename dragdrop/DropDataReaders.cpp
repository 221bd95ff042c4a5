#include "dragdrop/DropDataReaders.h"

#include "platform/DataObject.h"
#include "platform/Text.h"

namespace korvane {

namespace {

const std::uint8_t* Bytes(std::string_view block) {
    return reinterpret_cast<const std::uint8_t*>(block.data());
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

} // namespace

std::optional<std::string> ReadZeroTerminatedText(std::string_view block) {
    const auto end = block.find('\0');
    if (end == std::string_view::npos) return std::nullopt;
    return std::string(block.substr(0, end));
}

std::vector<std::string> ReadDropFiles(std::string_view block) {
    if (block.size() < DROPFILES_SIZE) return {};
    const std::uint8_t* p = Bytes(block);
    const std::size_t offset = ReadUInt32LE(p);
    const bool wide = ReadUInt32LE(p + DROPFILES_WIDE_OFFSET) != 0;
    if (offset > block.size()) return {};

    std::vector<std::string> names;
    std::size_t at = offset;
    const std::size_t unit = wide ? 2 : 1;
    for (;;) {
        // Find the zero character ending this name, on whole characters of the list's width.
        std::size_t end = at;
        while (end + unit <= block.size() && (wide ? ReadUInt16LE(p + end) != 0 : p[end] != 0))
            end += unit;
        if (end + unit > block.size()) return {}; // the name or the list runs past the block
        if (end == at) break;                     // the empty name ends the list
        if (wide)
            names.push_back(Utf16LEToUtf8(p + at, (end - at) / 2));
        else
            names.emplace_back(block.substr(at, end - at));
        at = end + unit;
    }
    return names;
}

std::optional<std::string> ReadFirstDescriptorName(std::string_view block) {
    if (block.size() < FILEGROUPDESCRIPTOR_MIN_SIZE) return std::nullopt;
    if (ReadUInt32LE(Bytes(block)) == 0) return std::nullopt;
    const std::string_view field = block.substr(FILEGROUPDESCRIPTOR_FIRST_NAME, MAX_PATH);
    const auto end = field.find('\0');
    if (end != std::string_view::npos) return std::string(field.substr(0, end));
    return std::string(WithoutCutCharacter(field));
}

std::string FileContentsUrl(std::string_view text) {
    constexpr std::size_t start = 23;
    constexpr std::size_t longest = 250;
    if (text.size() <= start) return {};
    std::string_view rest = text.substr(start);
    while (!rest.empty() && IsUtf8Continuation(rest.front()))
        rest.remove_prefix(1);
    return std::string(CutUtf8(rest, longest));
}

std::string Utf16LEToUtf8(const std::uint8_t* units, std::size_t count) {
    std::string out;
    out.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t u = ReadUInt16LE(units + 2 * i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < count) {
            const std::uint32_t low = ReadUInt16LE(units + 2 * (i + 1));
            if (low >= 0xDC00 && low <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        if (u >= 0xD800 && u <= 0xDFFF) u = 0xFFFD;
        AppendUtf8(out, u);
    }
    return out;
}

std::string_view WithoutCutCharacter(std::string_view text) {
    std::size_t i = text.size();
    std::size_t continuation = 0;
    while (i > 0 && continuation < 3 && IsUtf8Continuation(text[i - 1]))
        --i, ++continuation;
    if (i == 0) return text;
    const auto lead = static_cast<std::uint8_t>(text[i - 1]);
    const std::size_t length = (lead & 0xE0) == 0xC0   ? 2
                               : (lead & 0xF0) == 0xE0 ? 3
                               : (lead & 0xF8) == 0xF0 ? 4
                                                       : 1;
    return length > continuation + 1 ? text.substr(0, i - 1) : text;
}

std::string RemoveLastChars(std::string_view text, std::size_t count) {
    std::size_t end = text.size();
    for (std::size_t removed = 0; removed < count; ++removed) {
        if (end == 0) return std::string(text);
        --end;
        while (end > 0 && IsUtf8Continuation(text[end]))
            --end;
    }
    return std::string(text.substr(0, end));
}

} // namespace korvane
