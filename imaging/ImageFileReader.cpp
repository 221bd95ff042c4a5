#include "imaging/ImageFileReader.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <jpeglib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <webp/decode.h>

#include "platform/Errors.h"
#include "platform/Translate.h"

namespace korvane {
namespace {

using TFile = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

TFile Open(const std::string& path) {
    // Opening a FIFO for reading would wait for a writer: it is opened without waiting, then refused.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) throw EFOpenError(path, errno);
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        throw EUnreadablePicture(Tr("not a regular file"));
    }
    TFile file(::fdopen(fd, "rb"), &std::fclose);
    if (!file) {
        const int cause = errno;
        ::close(fd);
        throw EFOpenError(path, cause);
    }
    return file;
}

void CheckLimits(std::uint32_t width, std::uint32_t height, const TImageLimits& limits) {
    if (width > static_cast<std::uint32_t>(limits.MaxWidth) ||
        height > static_cast<std::uint32_t>(limits.MaxHeight))
        throw EUnreadablePicture(
            FormatText(Tr("a picture of %1 x %2 pixels is larger than %3 x %4"),
                       {std::to_string(width), std::to_string(height), std::to_string(limits.MaxWidth),
                        std::to_string(limits.MaxHeight)}));
}

// What a picture leaves transparent is shown on white, as a page without a background is.
void OverWhite(const std::uint8_t* bgra, int count, std::uint8_t* bgr) {
    for (int x = 0; x < count; ++x, bgra += 4, bgr += 3)
        for (int c = 0; c < 3; ++c)
            bgr[c] = static_cast<std::uint8_t>((bgra[c] * bgra[3] + 255 * (255 - bgra[3]) + 127) / 255);
}

class TPngFileRows final : public TImageFileRows {
public:
    TPngFileRows(TFile file, const TImageLimits& limits)
        : FFile(std::move(file)), FReader(FFile.get(), static_cast<std::uint32_t>(limits.MaxWidth),
                                          static_cast<std::uint32_t>(limits.MaxHeight), true) {
        FWidth = FReader.Width();
        FHeight = FReader.Height();
        FRow.resize(static_cast<std::size_t>(FWidth) * 4);
    }
    void ReadRow(std::uint8_t* bgr) override {
        if (!FReader.ReadRow(FRow.data())) throw EUnreadablePicture(Tr("the file ends early"));
        OverWhite(FRow.data(), FWidth, bgr);
    }

private:
    TFile FFile;
    TPngReader FReader;
    std::vector<std::uint8_t> FRow;
};

class TJpegFileRows final : public TImageFileRows {
public:
    TJpegFileRows(TFile file, int leastWidth, const TImageLimits& limits) : FFile(std::move(file)) {
        FInfo.err = jpeg_std_error(&FErrors.Manager);
        FErrors.Manager.error_exit = [](j_common_ptr common) {
            std::longjmp(reinterpret_cast<TErrors*>(common->err)->Jump, 1);
        };
        jpeg_create_decompress(&FInfo);
        if (setjmp(FErrors.Jump)) {
            const std::string why = Message();
            jpeg_destroy_decompress(&FInfo); // no destructor runs for a constructor that throws
            throw EUnreadablePicture(why);
        }
        jpeg_stdio_src(&FInfo, FFile.get());
        jpeg_read_header(&FInfo, TRUE);
        try {
            CheckLimits(FInfo.image_width, FInfo.image_height, limits);
        } catch (...) {
            jpeg_destroy_decompress(&FInfo);
            throw;
        }
        FInfo.out_color_space = JCS_EXT_BGR;
        // The decoder scales down by itself, as far as the caller allows.
        FInfo.scale_num = 1;
        FInfo.scale_denom = 1;
        while (leastWidth > 0 && FInfo.scale_denom < 8 &&
               static_cast<int>(FInfo.image_width / (FInfo.scale_denom * 2)) >= leastWidth)
            FInfo.scale_denom *= 2;
        jpeg_start_decompress(&FInfo);
        FWidth = static_cast<int>(FInfo.output_width);
        FHeight = static_cast<int>(FInfo.output_height);
    }
    ~TJpegFileRows() override { jpeg_destroy_decompress(&FInfo); }
    void ReadRow(std::uint8_t* bgr) override {
        if (setjmp(FErrors.Jump)) throw EUnreadablePicture(Message());
        JSAMPROW target = bgr;
        while (jpeg_read_scanlines(&FInfo, &target, 1) != 1)
            if (FInfo.output_scanline >= FInfo.output_height)
                throw EUnreadablePicture(Tr("the file ends early"));
    }

private:
    struct TErrors {
        jpeg_error_mgr Manager;
        std::jmp_buf Jump;
    };
    // The decoder's own words for what went wrong.
    std::string Message() {
        char text[JMSG_LENGTH_MAX] = "JPEG";
        (*FInfo.err->format_message)(reinterpret_cast<j_common_ptr>(&FInfo), text);
        return text;
    }
    TFile FFile;
    jpeg_decompress_struct FInfo{};
    TErrors FErrors{};
};

std::uint32_t Le32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t{p[3]} << 24);
}

class TBmpFileRows final : public TImageFileRows {
public:
    TBmpFileRows(TFile file, const TImageLimits& limits) : FFile(std::move(file)) {
        std::uint8_t header[54];
        if (std::fread(header, 1, sizeof header, FFile.get()) != sizeof header || header[0] != 'B' ||
            header[1] != 'M' || (header[28] | (header[29] << 8)) != 24 || Le32(header + 30) != 0)
            throw EUnreadablePicture(Tr("not a 24-bit bitmap"));
        FOffset = Le32(header + 10);
        const auto width = static_cast<std::int32_t>(Le32(header + 18));
        const auto height = static_cast<std::int32_t>(Le32(header + 22));
        if (width <= 0 || height == 0 || height == INT32_MIN)
            throw EUnreadablePicture(Tr("not a 24-bit bitmap"));
        FBottomUp = height > 0;
        CheckLimits(static_cast<std::uint32_t>(width),
                    static_cast<std::uint32_t>(FBottomUp ? height : -height), limits);
        FWidth = width;
        FHeight = FBottomUp ? height : -height;
        FStride = (std::size_t{static_cast<std::uint32_t>(width)} * 3 + 3) / 4 * 4;
        FRow.resize(FStride);
    }
    void ReadRow(std::uint8_t* bgr) override {
        const std::size_t stored =
            FBottomUp ? static_cast<std::size_t>(FHeight - 1 - FNext) : static_cast<std::size_t>(FNext);
        ++FNext;
        if (FNext > FHeight ||
            std::fseek(FFile.get(), static_cast<long>(FOffset + stored * FStride), SEEK_SET) != 0 ||
            std::fread(FRow.data(), 1, FStride, FFile.get()) != FStride)
            throw EUnreadablePicture(Tr("the file ends early"));
        std::memcpy(bgr, FRow.data(), static_cast<std::size_t>(FWidth) * 3);
    }

private:
    TFile FFile;
    std::uint32_t FOffset = 0;
    bool FBottomUp = true;
    std::size_t FStride = 0;
    int FNext = 0;
    std::vector<std::uint8_t> FRow;
};

// A WebP file is read whole (its pixels need not be) and decoded a band of rows at a time, each band twice
// as high as the one before: a reader of the top rows decodes little, one of every row about three times
// the picture.
class TWebpFileRows final : public TImageFileRows {
public:
    TWebpFileRows(TFile file, const TImageLimits& limits) {
        std::uint8_t chunk[65536];
        for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, file.get())) > 0;) {
            if (FData.size() + n > kMaxFileBytes) throw EUnreadablePicture(Tr("the file is too large"));
            FData.insert(FData.end(), chunk, chunk + n);
        }
        WebPBitstreamFeatures features{};
        if (WebPGetFeatures(FData.data(), FData.size(), &features) != VP8_STATUS_OK || features.width < 1 ||
            features.height < 1)
            throw EUnreadablePicture(Tr("not a WebP picture"));
        if (features.has_animation) throw EUnreadablePicture(Tr("an animated WebP picture"));
        CheckLimits(static_cast<std::uint32_t>(features.width), static_cast<std::uint32_t>(features.height),
                    limits);
        FWidth = features.width;
        FHeight = features.height;
        FAlpha = features.has_alpha != 0;
    }
    void ReadRow(std::uint8_t* bgr) override {
        if (FNext >= FHeight) throw EUnreadablePicture(Tr("the file ends early"));
        if (FNext >= FBandTop + FBandRows) DecodeBand();
        const std::uint8_t* row = FBand.data() + static_cast<std::size_t>(FNext - FCropTop) * Stride();
        if (FAlpha)
            OverWhite(row, FWidth, bgr);
        else
            std::memcpy(bgr, row, static_cast<std::size_t>(FWidth) * 3);
        ++FNext;
    }

private:
    static constexpr std::size_t kMaxFileBytes = std::size_t{1} << 30;
    // Rows decoded above and below a band: a lossy picture's colours are made from the rows around each, and
    // its crops begin on an even row.
    static constexpr int kMargin = 2;
    std::size_t Stride() const { return static_cast<std::size_t>(FWidth) * (FAlpha ? 4 : 3); }
    void DecodeBand() {
        FBandTop = FNext;
        FBandRows = std::min(FHeight - FBandTop, FBandRows == 0 ? 256 : FBandRows * 2);
        FCropTop = std::max(0, FBandTop - kMargin);
        const int cropRows = std::min(FHeight, FBandTop + FBandRows + kMargin) - FCropTop;
        FBand.resize(Stride() * static_cast<std::size_t>(cropRows));
        WebPDecoderConfig config;
        if (!WebPInitDecoderConfig(&config)) throw EUnreadablePicture(Tr("not a WebP picture"));
        config.options.use_cropping = 1;
        config.options.crop_left = 0;
        config.options.crop_top = FCropTop;
        config.options.crop_width = FWidth;
        config.options.crop_height = cropRows;
        config.output.colorspace = FAlpha ? MODE_BGRA : MODE_BGR;
        config.output.is_external_memory = 1;
        config.output.u.RGBA.rgba = FBand.data();
        config.output.u.RGBA.stride = static_cast<int>(Stride());
        config.output.u.RGBA.size = FBand.size();
        const VP8StatusCode status = WebPDecode(FData.data(), FData.size(), &config);
        WebPFreeDecBuffer(&config.output);
        if (status != VP8_STATUS_OK)
            throw EUnreadablePicture(status == VP8_STATUS_NOT_ENOUGH_DATA
                                         ? Tr("the file ends early")
                                         : Tr("the WebP data cannot be decoded"));
    }
    std::vector<std::uint8_t> FData;
    bool FAlpha = false;
    int FNext = 0, FBandTop = 0, FBandRows = 0, FCropTop = 0;
    std::vector<std::uint8_t> FBand;
};

} // namespace

std::unique_ptr<TImageFileRows> OpenImageFile(const std::string& path, int leastWidth, TImageLimits limits) {
    TFile file = Open(path);
    unsigned char magic[12] = {};
    const std::size_t n = std::fread(magic, 1, sizeof magic, file.get());
    std::rewind(file.get());
    if (n >= 4 && std::memcmp(magic, "\x89PNG", 4) == 0)
        return std::make_unique<TPngFileRows>(std::move(file), limits);
    if (n >= 3 && magic[0] == 0xff && magic[1] == 0xd8 && magic[2] == 0xff)
        return std::make_unique<TJpegFileRows>(std::move(file), leastWidth, limits);
    if (n >= 2 && magic[0] == 'B' && magic[1] == 'M')
        return std::make_unique<TBmpFileRows>(std::move(file), limits);
    if (n >= 12 && std::memcmp(magic, "RIFF", 4) == 0 && std::memcmp(magic + 8, "WEBP", 4) == 0)
        return std::make_unique<TWebpFileRows>(std::move(file), limits);
    throw EUnreadablePicture(Tr("neither PNG, JPEG, BMP nor WebP"));
}

} // namespace korvane
