#pragma once
// A small picture of the top of a captured page, for the run's report: read from the image file (PNG, JPEG
// or BMP, only as many rows as the thumbnail shows) and written as a JPEG.
#include <string>

namespace korvane {

constexpr int kThumbnailWidth = 240;
constexpr int kThumbnailHeight = 320; // at most: the top of the page, in the proportions of a portrait

struct TThumbnailSize {
    int Width = 0, Height = 0;
};

// Writes the thumbnail of `image` to `jpeg`. Throws Error when the image cannot be read or the thumbnail not
// written.
TThumbnailSize WriteThumbnail(const std::string& image, const std::string& jpeg);

} // namespace korvane
