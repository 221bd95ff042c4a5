#include "OutputPath.h"

#include "platform/Files.h"
#include "platform/Text.h"

namespace korvane {

namespace {
constexpr std::size_t kMaxStemBytes = 100;
} // namespace

std::string UrlToFileName(std::string_view address) {
    std::string stem(address);
    for (char reserved : {'/', '\\', '"', '*', '?', '<', '>', ':', '|'})
        for (char& c : stem)
            if (c == reserved) c = '_';
    // Control characters (a line break, a tab) are no part of a name either.
    for (char& c : stem)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '_';
    return stem;
}

std::string LimitStem(std::string stem) {
    if (stem.size() <= kMaxStemBytes) return stem;
    return std::string(CutUtf8(stem, kMaxStemBytes)) + "~";
}

std::string OutputFolder(const std::string& chosen, const std::string& fallback) {
    return DirectoryExists(chosen) ? IncludeTrailingPathDelimiter(chosen) : fallback;
}

const char* ExtensionOf(TSaveFormat format) {
    switch (format) {
    case TSaveFormat::Bmp:
        return ".bmp";
    case TSaveFormat::Jpg:
        return ".jpg";
    case TSaveFormat::Png:
        return ".png";
    case TSaveFormat::Webp:
        return ".webp";
    }
    return ".bmp";
}

std::string CapturePath(std::string_view address, const std::string& chosenFolder,
                        const std::string& fallback, TSaveFormat format, int number, std::string_view tag) {
    std::string stem = UrlToFileName(address);
    if (number < 2 && tag.empty()) {
        stem = LimitStem(std::move(stem));
    } else {
        const std::string suffix = std::string(tag) + (number < 2 ? "" : "~" + std::to_string(number));
        stem = std::string(CutUtf8(stem, kMaxStemBytes - suffix.size())) + suffix;
    }
    return OutputFolder(chosenFolder, fallback) + stem + ExtensionOf(format);
}

} // namespace korvane
