#pragma once
// The registry of picture file formats: a file extension, its description and a way to make an empty
// picture object of that format.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "imaging/Graphic.h"

namespace korvane {

struct TPictureFormat {
    std::string extension;   // without the dot, as registered ("PNG")
    std::string description; // "PNG Format"
    std::function<std::unique_ptr<TGraphic>()> create;
};

// Registers a format; one registered earlier under the same extension (compared without case) is replaced.
void RegisterFileFormat(const std::string& extension, const std::string& description,
                        std::function<std::unique_ptr<TGraphic>()> create);
void UnregisterFileFormat(const std::string& extension);
// The format of an extension, with or without its dot, compared without case; null when none.
const TPictureFormat* FindFileFormat(const std::string& extension);
std::vector<TPictureFormat> FileFormats();

} // namespace korvane
