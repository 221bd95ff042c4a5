#include "dragdrop/ShortcutFile.h"

#include "platform/Files.h"
#include "platform/Text.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvane {

namespace {

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

std::string_view FileName(std::string_view path) {
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string LowerExtension(std::string_view path) {
    const std::string_view name = FileName(path);
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos) return {};
    return AsciiLower(name.substr(dot));
}

// The index of the first line that equals header (ignoring case), scanning all lines but the last.
std::optional<std::size_t> FindSection(const std::vector<std::string>& lines, std::string_view header) {
    for (std::size_t i = 0; i + 1 < lines.size(); ++i)
        if (EqualsIgnoringAsciiCase(lines[i], header)) return i;
    return std::nullopt;
}

} // namespace

TShortcutKind ShortcutKindOf(std::string_view path) {
    const std::string ext = LowerExtension(path);
    if (ext == ".url") return TShortcutKind::InternetShortcut;
    if (ext == ".desktop") return TShortcutKind::DesktopLink;
    return TShortcutKind::None;
}

std::string ShortcutTitle(std::string_view path) {
    const std::string_view name = FileName(path);
    switch (ShortcutKindOf(path)) {
    case TShortcutKind::InternetShortcut:
        return std::string(name.substr(0, name.size() - 4));
    case TShortcutKind::DesktopLink:
        return std::string(name.substr(0, name.size() - 8));
    case TShortcutKind::None:
        break;
    }
    return std::string(name);
}

std::vector<std::string> SplitTextLines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == '\r' || text[i] == '\n') {
            lines.emplace_back(text.substr(start, i - start));
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            start = ++i;
        } else {
            ++i;
        }
    }
    if (start < text.size()) lines.emplace_back(text.substr(start));
    return lines;
}

std::optional<std::string> ReadInternetShortcut(std::string_view text) {
    const std::vector<std::string> lines = SplitTextLines(text);
    const auto header = FindSection(lines, "[InternetShortcut]");
    if (!header) return std::nullopt;
    for (std::size_t i = *header + 1; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (StartsWithIgnoringAsciiCase(line, "URL=")) return line.substr(4);
        if (!line.empty() && line.front() == '[') break;
    }
    return std::nullopt;
}

std::optional<std::string> ReadDesktopLink(std::string_view text) {
    const std::vector<std::string> lines = SplitTextLines(text);
    const auto header = FindSection(lines, "[Desktop Entry]");
    if (!header) return std::nullopt;
    std::optional<std::string> url;
    bool isLink = false;
    for (std::size_t i = *header + 1; i < lines.size(); ++i) {
        const std::string_view line = lines[i];
        if (!line.empty() && line.front() == '[') break;
        const auto eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        const std::string_view key = TrimBlanks(line.substr(0, eq));
        const std::string_view value = TrimBlanks(line.substr(eq + 1));
        if (key == "Type")
            isLink = value == "Link";
        else if (!url && (EqualsIgnoringAsciiCase(key, "URL") || EqualsIgnoringAsciiCase(key, "URL[$e]")))
            url = std::string(value);
    }
    if (!isLink || !url || url->empty()) return std::nullopt;
    return url;
}

std::optional<std::string> ReadShortcutFile(const std::string& path) noexcept {
    try {
        const TShortcutKind kind = ShortcutKindOf(path);
        if (kind == TShortcutKind::None) return std::nullopt;
        const std::string text = ReadWholeFile(path, MaxShortcutFileSize);
        return kind == TShortcutKind::InternetShortcut ? ReadInternetShortcut(text) : ReadDesktopLink(text);
    } catch (...) {
        return std::nullopt; // unreadable, too large, or no memory to read it: no URL
    }
}

} // namespace korvane
