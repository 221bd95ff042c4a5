#include "platform/Translate.h"

#include "platform/Files.h"

#include <clocale>
#include <libintl.h>

#ifndef KORVANE_LOCALEDIR
#define KORVANE_LOCALEDIR "/usr/share/locale"
#endif
#ifndef KORVANE_BUILD_DIR
#define KORVANE_BUILD_DIR ""
#endif

namespace korvane {

namespace {

constexpr const char* kDomain = "korvane";

std::string FindCatalogueFolder() {
    // A program of the build tree uses the catalogues built there; a portable copy those in a "locale"
    // folder beside it (as the build tree has them); an installed one those of its prefix (<prefix>/bin ->
    // <prefix>/share/locale); else the folder it was built for.
    const std::string build = KORVANE_BUILD_DIR;
    const std::string exe = ExecutablePath();
    if (!build.empty() && exe.rfind(IncludeTrailingPathDelimiter(build), 0) == 0) return build + "/locale";
    for (const char* folder : {"locale", "../share/locale"})
        if (const std::string beside = ExtractFilePath(exe) + folder; DirectoryExists(beside)) return beside;
    return KORVANE_LOCALEDIR;
}

} // namespace

const char* Tr(const char* english) {
    return ::dgettext(kDomain, english);
}

std::string FormatText(std::string_view pattern, std::initializer_list<std::string_view> args) {
    std::string out;
    out.reserve(pattern.size() + 32);
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c == '%' && i + 1 < pattern.size()) {
            const char next = pattern[i + 1];
            if (next == '%') {
                out += '%';
                ++i;
                continue;
            }
            if (next >= '1' && next <= '9' && static_cast<std::size_t>(next - '1') < args.size()) {
                out += *(args.begin() + (next - '1'));
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

std::string CatalogueFolder() {
    static const std::string folder = FindCatalogueFolder();
    return folder;
}

void SetUpTranslations() {
    std::setlocale(LC_MESSAGES, "");
    std::setlocale(LC_CTYPE, "");
    std::setlocale(LC_NUMERIC, "C"); // numbers are read and written the one way, whoever runs the program
    ::bindtextdomain(kDomain, CatalogueFolder().c_str());
    ::bind_textdomain_codeset(kDomain, "UTF-8");
}

} // namespace korvane
