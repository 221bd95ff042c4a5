#pragma once
// Link files dropped from a file manager: Internet shortcuts (".url", an "[InternetShortcut]" section with a
// "URL=" line) and the desktop's link entries (".desktop", a "[Desktop Entry]" section with "Type=Link" and
// "URL=").
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvane {

enum class TShortcutKind { None, InternetShortcut, DesktopLink };

// By the extension of the file name (from its last "." after the last "/"), ignoring case.
TShortcutKind ShortcutKindOf(std::string_view path);
// The file name without its folder and without its extension (".url" or ".desktop").
std::string ShortcutTitle(std::string_view path);

// Text lines as a line list loads them: CR, LF and CR LF end a line; a break at the end adds no empty line.
std::vector<std::string> SplitTextLines(std::string_view text);

// The URL of an "[InternetShortcut]" section (the header compared whole, ignoring ASCII case, and not the
// last line); the rest of its first line beginning "URL=" in any case. None at the next section or the end.
std::optional<std::string> ReadInternetShortcut(std::string_view text);
// The URL of the "[Desktop Entry]" section when its Type is Link: the value of its "URL=" key (also
// "URL[$e]="; blanks around "=" are allowed).
std::optional<std::string> ReadDesktopLink(std::string_view text);

// Files larger than this are not read as shortcuts.
inline constexpr std::size_t MaxShortcutFileSize = 1 << 20;

// The URL of the shortcut file at path, by its kind. None when it is no shortcut, is not a regular file,
// cannot be opened or read, is too large, or holds no URL. Never throws.
std::optional<std::string> ReadShortcutFile(const std::string& path) noexcept;

} // namespace korvane
