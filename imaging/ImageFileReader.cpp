#include "imaging/ImageFileReader.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <jpeglib.h>
#include <sys/stat.h>
#include <unistd.h>

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

class TPngFileRows final : public TImageFileRows {
public:
    TPngFileRows(TFile file, const TImageLimits& limits)
        : FFile(std::move(file)), FReader(FFile.get(), static_cast<std::uint32_t>(limits.MaxWidth),
                                          static_cast<std::uint32_t>(limits.MaxHeight)) {
        FWidth = FReader.Width();
        FHeight = FReader.Height();
    }
    void ReadRow(std::uint8_t* bgr) override {
        if (!FReader.ReadRow(bgr)) throw EUnreadablePicture(Tr("the file ends early"));
    }

private:
    TFile FFile;
    TPngReader FReader;
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

} // namespace

std::unique_ptr<TImageFileRows> OpenImageFile(const std::string& path, int leastWidth, TImageLimits limits) {
    TFile file = Open(path);
    unsigned char magic[4] = {};
    const std::size_t n = std::fread(magic, 1, sizeof magic, file.get());
    std::rewind(file.get());
    if (n >= 4 && std::memcmp(magic, "\x89PNG", 4) == 0)
        return std::make_unique<TPngFileRows>(std::move(file), limits);
    if (n >= 3 && magic[0] == 0xff && magic[1] == 0xd8 && magic[2] == 0xff)
        return std::make_unique<TJpegFileRows>(std::move(file), leastWidth, limits);
    if (n >= 2 && magic[0] == 'B' && magic[1] == 'M')
        return std::make_unique<TBmpFileRows>(std::move(file), limits);
    throw EUnreadablePicture(Tr("neither PNG, JPEG nor BMP"));
}

} // namespace korvane
