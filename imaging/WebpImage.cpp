#include "imaging/WebpImage.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include <webp/encode.h>

#include "imaging/Bitmap.h"
#include "imaging/RowGate.h"
#include "platform/Files.h"
#include "platform/Translate.h"

namespace korvane {
namespace {

// Peak bytes beside the bitmap a pixel, measured on a page-like picture of 1024 x 8000 (imaging_bench's
// BM_Webp_Korvane_*, peak_MB less the bitmap and the program): 17.7 lossless (the encoder's 32-bit copy, its
// hash chains and backward references), 7.2 lossy (the copy and its planes); a margin on top.
constexpr std::int64_t kLosslessBytesPerPixel = 20, kLossyBytesPerPixel = 8;

std::string EncodingErrorText(WebPEncodingError error) {
    switch (error) {
    case VP8_ENC_ERROR_OUT_OF_MEMORY:
    case VP8_ENC_ERROR_BITSTREAM_OUT_OF_MEMORY:
        return Tr("out of memory");
    case VP8_ENC_ERROR_BAD_DIMENSION:
        return FormatText(Tr("a side is 0 or larger than %1 pixels"), {std::to_string(kMaxWebpSide)});
    case VP8_ENC_ERROR_PARTITION0_OVERFLOW:
    case VP8_ENC_ERROR_PARTITION_OVERFLOW:
    case VP8_ENC_ERROR_FILE_TOO_BIG:
        return Tr("the picture is too large for the format");
    case VP8_ENC_ERROR_USER_ABORT:
        return Tr("stopped");
    default:
        return FormatText(Tr("encoder error %1"), {std::to_string(static_cast<int>(error))});
    }
}

[[noreturn]] void Fail(WebPEncodingError error) {
    throw EWebpError(FormatText(Tr("WebP: %1"), {EncodingErrorText(error)}));
}

struct TPicture {
    WebPPicture Picture{};
    WebPMemoryWriter Output{};
    TPicture() {
        WebPPictureInit(&Picture);
        WebPMemoryWriterInit(&Output);
    }
    ~TPicture() {
        WebPPictureFree(&Picture);
        WebPMemoryWriterClear(&Output);
    }
    TPicture(const TPicture&) = delete;
    TPicture& operator=(const TPicture&) = delete;
};

// The rows into the encoder's 32-bit picture (libwebp's ARGB words: blue, green, red, alpha bytes on this
// machine, as a 32-bit bitmap holds them), each once it is drawn.
void CopyRows(const TBitmap& bitmap, bool alpha, WebPPicture& picture) {
    const int width = bitmap.Width();
    for (int y = 0; y < bitmap.Height(); ++y) {
        const std::uint8_t* row = bitmap.ReadyScanLine(y);
        if (!row) throw EIncompletePicture();
        std::uint32_t* out = picture.argb + static_cast<std::size_t>(y) * picture.argb_stride;
        if (bitmap.BitsPerPixel() == 32) {
            for (int x = 0; x < width; ++x, row += 4)
                out[x] = std::uint32_t{alpha ? row[3] : std::uint8_t{0xFF}} << 24 |
                         std::uint32_t{row[2]} << 16 | std::uint32_t{row[1]} << 8 | row[0];
        } else {
            for (int x = 0; x < width; ++x, row += 3)
                out[x] = 0xFF000000u | std::uint32_t{row[2]} << 16 | std::uint32_t{row[1]} << 8 | row[0];
        }
    }
}

} // namespace

std::vector<std::uint8_t> EncodeWebp(const TBitmap& bitmap, const TWebpSettings& settings) {
    if (bitmap.BitsPerPixel() != 24 && bitmap.BitsPerPixel() != 32)
        throw EConvertError(Tr("Only 24- and 32-bit pictures can be saved as WebP"));
    if (bitmap.Width() > kMaxWebpSide || bitmap.Height() > kMaxWebpSide) Fail(VP8_ENC_ERROR_BAD_DIMENSION);
    WebPConfig config;
    if (!WebPConfigInit(&config)) Fail(VP8_ENC_ERROR_INVALID_CONFIGURATION);
    const bool lossless = settings.Quality <= 0;
    config.lossless = lossless ? 1 : 0;
    config.quality = lossless ? 75.0f : static_cast<float>(std::min(settings.Quality, 100));
    config.method = std::clamp(settings.Method, 0, 6);
    config.exact = lossless ? 1 : 0; // the colour under transparent pixels stays as well
    config.thread_level = 1;
    if (!WebPValidateConfig(&config)) Fail(VP8_ENC_ERROR_INVALID_CONFIGURATION);

    TPicture encoding;
    WebPPicture& picture = encoding.Picture;
    picture.use_argb = 1;
    picture.width = bitmap.Width();
    picture.height = bitmap.Height();
    if (!WebPPictureAlloc(&picture)) Fail(picture.error_code);
    CopyRows(bitmap, settings.Alpha && bitmap.BitsPerPixel() == 32, picture);
    picture.writer = WebPMemoryWrite;
    picture.custom_ptr = &encoding.Output;
    // A drawing given up meanwhile ends the encoding too.
    picture.user_data = bitmap.RowGate();
    picture.progress_hook = [](int, const WebPPicture* p) {
        const auto* gate = static_cast<const TRowGate*>(p->user_data);
        return gate && gate->Cancelled() ? 0 : 1;
    };
    if (!WebPEncode(&config, &picture)) {
        if (picture.error_code == VP8_ENC_ERROR_USER_ABORT) throw EIncompletePicture();
        Fail(picture.error_code);
    }
    return {encoding.Output.mem, encoding.Output.mem + encoding.Output.size};
}

void SaveWebpFile(const TBitmap& bitmap, const std::string& path, const TWebpSettings& settings) {
    AtomicFile file(path);
    const std::vector<std::uint8_t> data = EncodeWebp(bitmap, settings);
    file.Write(data.data(), data.size());
    file.Commit();
}

std::int64_t WebpWorkingBytes(std::int64_t width, std::int64_t height, bool lossless) {
    const std::int64_t pixels = width * height;
    return pixels * (lossless ? kLosslessBytesPerPixel : kLossyBytesPerPixel);
}

} // namespace korvane
