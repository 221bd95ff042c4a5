#include "cli/Thumbnail.h"

#include "imaging/Bitmap.h"
#include "imaging/Downscale.h"
#include "imaging/ImageFileReader.h"
#include "imaging/JpegImage.h"
#include "platform/Errors.h"
#include "platform/Translate.h"

#include <algorithm>
#include <vector>

namespace korvane {

TThumbnailSize WriteThumbnail(const std::string& image, const std::string& jpeg) {
    // Only the rows the thumbnail shows are read: the top of the page, in the thumbnail's proportions.
    std::vector<std::uint8_t> top;
    int width = 0, rows = 0;
    try {
        const auto file = OpenImageFile(image, kThumbnailWidth);
        width = file->Width();
        rows = std::min(file->Height(), std::max(1, width * kThumbnailHeight / kThumbnailWidth));
        const std::size_t stride = std::size_t{static_cast<std::uint32_t>(width)} * 3;
        top.resize(stride * rows);
        for (int y = 0; y < rows; ++y)
            file->ReadRow(top.data() + stride * y);
    } catch (const EUnreadablePicture& e) {
        throw Error(FormatText(Tr("cannot read the image '%1' for its thumbnail: %2"), {image, e.what()}));
    }
    TBitmap bitmap;
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    bitmap.SetSize(
        std::min(kThumbnailWidth, width),
        std::max(1, static_cast<int>(std::int64_t{rows} * std::min(kThumbnailWidth, width) / width)));
    ScaleDownInto(top.data(), std::size_t{static_cast<std::uint32_t>(width)} * 3, width, rows, bitmap);
    const TThumbnailSize size{bitmap.Width(), bitmap.Height()};
    TJPEGImage picture;
    picture.SetCompressionQuality(80);
    picture.TakeBitmap(std::move(bitmap));
    picture.SaveToFile(jpeg);
    return size;
}

} // namespace korvane
