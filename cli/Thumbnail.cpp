#include "cli/Thumbnail.h"

#include "capture/CaptureSize.h"
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
    TBitmap bitmap;
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    try {
        // No file of ours is larger than a capture may be; a row at a time is held.
        const auto file = OpenImageFile(image, kThumbnailWidth, {kMaxCaptureWidth, kMaxCaptureHeight});
        const std::int64_t width = file->Width();
        // Only the rows the thumbnail shows are read: the top of the page, in the thumbnail's proportions.
        const std::int64_t rows = std::min<std::int64_t>(
            file->Height(), std::max<std::int64_t>(1, width * kThumbnailHeight / kThumbnailWidth));
        const std::int64_t outWidth = std::min<std::int64_t>(kThumbnailWidth, width);
        bitmap.SetSize(static_cast<int>(outWidth),
                       static_cast<int>(std::max<std::int64_t>(1, rows * outWidth / width)));
        TBoxScaler scaler(static_cast<int>(width), static_cast<int>(rows), bitmap);
        std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 3);
        for (std::int64_t y = 0; y < rows; ++y) {
            file->ReadRow(row.data());
            scaler.AddRow(row.data());
        }
    } catch (const EUnreadablePicture& e) {
        throw Error(FormatText(Tr("cannot read the image '%1' for its thumbnail: %2"), {image, e.what()}));
    }
    const TThumbnailSize size{bitmap.Width(), bitmap.Height()};
    TJPEGImage picture;
    picture.SetCompressionQuality(80);
    picture.TakeBitmap(std::move(bitmap));
    picture.SaveToFile(jpeg);
    return size;
}

} // namespace korvane
