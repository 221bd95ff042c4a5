#include "Addresses.h"
#include "platform/Translate.h"

#include "platform/Files.h"
#include "platform/Text.h"

#include <cctype>
#include <climits>
#include <cstdlib>

namespace korvane {

namespace {

// The scheme of "scheme:rest" when the text starts with one (letters, digits, "+", "-", "." after a letter).
std::optional<std::string> SchemeOf(const std::string& text) {
    auto colon = text.find(':');
    if (colon == std::string::npos || colon < 2 || !std::isalpha(static_cast<unsigned char>(text[0])))
        return std::nullopt;
    for (std::size_t i = 1; i < colon; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return std::nullopt;
    }
    return AsciiLower(text.substr(0, colon));
}

} // namespace

std::string PercentEncodePath(const std::string& path) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

TPageAddress ResolvePageAddress(const std::string& argument) {
    if (auto scheme = SchemeOf(argument)) {
        if (*scheme == "http" || *scheme == "https" || *scheme == "file") return {argument, {}};
        return {{}, Tr("unsupported address (only http:, https: and file: are captured)")};
    }
    char resolved[PATH_MAX];
    if (!::realpath(argument.c_str(), resolved)) return {{}, Tr("no such file or address")};
    if (DirectoryExists(resolved)) return {{}, Tr("is a folder, not a page")};
    if (!FileExists(resolved)) return {{}, Tr("no such file or address")};
    return {"file://" + PercentEncodePath(resolved), {}};
}

} // namespace korvane
