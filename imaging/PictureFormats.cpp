#include "imaging/PictureFormats.h"

#include "platform/Text.h"

#include <algorithm>
#include <cctype>

namespace korvane {

namespace {

std::vector<TPictureFormat>& Registry() {
    static std::vector<TPictureFormat> formats;
    return formats;
}

std::string Normalised(std::string extension) {
    if (!extension.empty() && extension.front() == '.') extension.erase(0, 1);
    return AsciiUpper(extension);
}

} // namespace

void RegisterFileFormat(const std::string& extension, const std::string& description,
                        std::function<std::unique_ptr<TGraphic>()> create) {
    UnregisterFileFormat(extension);
    Registry().push_back({Normalised(extension), description, std::move(create)});
}

void UnregisterFileFormat(const std::string& extension) {
    const std::string key = Normalised(extension);
    auto& formats = Registry();
    formats.erase(std::remove_if(formats.begin(), formats.end(),
                                 [&](const TPictureFormat& f) { return f.extension == key; }),
                  formats.end());
}

const TPictureFormat* FindFileFormat(const std::string& extension) {
    const std::string key = Normalised(extension);
    for (const auto& format : Registry())
        if (format.extension == key) return &format;
    return nullptr;
}

std::vector<TPictureFormat> FileFormats() {
    return Registry();
}

} // namespace korvane
