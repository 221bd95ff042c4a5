#include "cli/Thumbnail.h"

#include "imaging/Bitmap.h"
#include "imaging/JpegImage.h"
#include "platform/Errors.h"
#include "platform/Translate.h"

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include <jpeglib.h>
#include <spng.h>

namespace korvane {
namespace {

// The rows of the page's top, red-green-blue, as wide as the image.
struct TTop {
    int Width = 0, Height = 0;
    std::vector<std::uint8_t> Rgb;
};

using TFile = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

TFile Open(const std::string& path) {
    TFile file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) throw EFOpenError(path, errno);
    return file;
}

// The rows the thumbnail shows of an image `width` wide and `height` high.
int RowsShown(int width, int height) {
    return std::min(height, std::max(1, width * kThumbnailHeight / kThumbnailWidth));
}

[[noreturn]] void Unreadable(const std::string& path, const std::string& why) {
    throw Error(FormatText(Tr("cannot read the image '%1' for its thumbnail: %2"), {path, why}));
}

TTop ReadPng(const std::string& path) {
    TFile file = Open(path);
    std::unique_ptr<spng_ctx, void (*)(spng_ctx*)> png(spng_ctx_new(0), spng_ctx_free);
    spng_ihdr header{};
    std::size_t size = 0;
    if (!png || spng_set_png_file(png.get(), file.get()) || spng_get_ihdr(png.get(), &header) ||
        spng_decoded_image_size(png.get(), SPNG_FMT_RGB8, &size) ||
        spng_decode_image(png.get(), nullptr, 0, SPNG_FMT_RGB8, SPNG_DECODE_PROGRESSIVE))
        Unreadable(path, "PNG");
    if (header.interlace_method != SPNG_INTERLACE_NONE) Unreadable(path, Tr("an interlaced PNG"));
    TTop top;
    top.Width = static_cast<int>(header.width);
    top.Height = RowsShown(top.Width, static_cast<int>(header.height));
    const std::size_t stride = std::size_t{header.width} * 3;
    top.Rgb.resize(stride * top.Height);
    for (int y = 0; y < top.Height; ++y)
        if (spng_decode_row(png.get(), top.Rgb.data() + y * stride, stride) != 0 && y + 1 < top.Height)
            Unreadable(path, "PNG");
    return top;
}

struct TJpegErrors {
    jpeg_error_mgr Manager;
    std::jmp_buf Jump;
};

TTop ReadJpeg(const std::string& path) {
    TFile file = Open(path);
    jpeg_decompress_struct info{};
    TJpegErrors errors{};
    info.err = jpeg_std_error(&errors.Manager);
    errors.Manager.error_exit = [](j_common_ptr common) {
        std::longjmp(reinterpret_cast<TJpegErrors*>(common->err)->Jump, 1);
    };
    TTop top;
    if (setjmp(errors.Jump)) {
        jpeg_destroy_decompress(&info);
        Unreadable(path, "JPEG");
    }
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, file.get());
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    // The decoder scales down by itself, as far as the thumbnail allows.
    info.scale_num = 1;
    info.scale_denom = 1;
    while (info.scale_denom < 8 &&
           static_cast<int>(info.image_width / (info.scale_denom * 2)) >= kThumbnailWidth)
        info.scale_denom *= 2;
    jpeg_start_decompress(&info);
    top.Width = static_cast<int>(info.output_width);
    top.Height = RowsShown(top.Width, static_cast<int>(info.output_height));
    const std::size_t stride = std::size_t{info.output_width} * 3;
    top.Rgb.resize(stride * top.Height);
    for (int y = 0; y < top.Height;) {
        JSAMPROW target = top.Rgb.data() + y * stride;
        y += static_cast<int>(jpeg_read_scanlines(&info, &target, 1));
    }
    jpeg_abort_decompress(&info);
    jpeg_destroy_decompress(&info);
    return top;
}

std::uint32_t Le32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t{p[3]} << 24);
}

TTop ReadBmp(const std::string& path) {
    TFile file = Open(path);
    std::uint8_t header[54];
    if (std::fread(header, 1, sizeof header, file.get()) != sizeof header || header[0] != 'B' ||
        header[1] != 'M' || (header[28] | (header[29] << 8)) != 24 || Le32(header + 30) != 0)
        Unreadable(path, Tr("not a 24-bit bitmap"));
    const std::uint32_t offset = Le32(header + 10);
    const auto width = static_cast<std::int32_t>(Le32(header + 18));
    const auto height = static_cast<std::int32_t>(Le32(header + 22));
    if (width <= 0 || height == 0) Unreadable(path, Tr("not a 24-bit bitmap"));
    const bool bottomUp = height > 0;
    const int rows = bottomUp ? height : -height;
    TTop top;
    top.Width = width;
    top.Height = RowsShown(width, rows);
    const std::size_t stride = (std::size_t{static_cast<std::uint32_t>(width)} * 3 + 3) / 4 * 4;
    const std::size_t line = std::size_t{static_cast<std::uint32_t>(width)} * 3;
    top.Rgb.resize(line * top.Height);
    std::vector<std::uint8_t> bgr(stride);
    for (int y = 0; y < top.Height; ++y) {
        const std::size_t stored =
            bottomUp ? static_cast<std::size_t>(rows - 1 - y) : static_cast<std::size_t>(y);
        if (std::fseek(file.get(), static_cast<long>(offset + stored * stride), SEEK_SET) != 0 ||
            std::fread(bgr.data(), 1, stride, file.get()) != stride)
            Unreadable(path, Tr("the file ends early"));
        std::uint8_t* out = top.Rgb.data() + y * line;
        for (std::size_t x = 0; x < line; x += 3) {
            out[x] = bgr[x + 2];
            out[x + 1] = bgr[x + 1];
            out[x + 2] = bgr[x];
        }
    }
    return top;
}

TTop ReadTop(const std::string& path) {
    TFile file = Open(path);
    unsigned char magic[4] = {};
    const std::size_t n = std::fread(magic, 1, sizeof magic, file.get());
    if (n >= 4 && std::memcmp(magic, "\x89PNG", 4) == 0) return ReadPng(path);
    if (n >= 3 && magic[0] == 0xff && magic[1] == 0xd8 && magic[2] == 0xff) return ReadJpeg(path);
    if (n >= 2 && magic[0] == 'B' && magic[1] == 'M') return ReadBmp(path);
    Unreadable(path, Tr("neither PNG, JPEG nor BMP"));
}

} // namespace

TThumbnailSize WriteThumbnail(const std::string& image, const std::string& jpeg) {
    const TTop top = ReadTop(image);
    // Each pixel of the thumbnail is the mean of the block of the page's pixels it stands for.
    const int width = std::min(kThumbnailWidth, top.Width);
    const int height = std::max(1, static_cast<int>(std::int64_t{top.Height} * width / top.Width));
    TBitmap bitmap;
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    bitmap.SetSize(width, height);
    const std::size_t stride = std::size_t{static_cast<std::uint32_t>(top.Width)} * 3;
    for (int ty = 0; ty < height; ++ty) {
        const int y0 = static_cast<int>(std::int64_t{ty} * top.Height / height);
        const int y1 = std::max(y0 + 1, static_cast<int>(std::int64_t{ty + 1} * top.Height / height));
        std::uint8_t* out = bitmap.ScanLine(ty);
        for (int tx = 0; tx < width; ++tx) {
            const int x0 = static_cast<int>(std::int64_t{tx} * top.Width / width);
            const int x1 = std::max(x0 + 1, static_cast<int>(std::int64_t{tx + 1} * top.Width / width));
            std::uint64_t sum[3] = {};
            for (int y = y0; y < y1; ++y)
                for (int x = x0; x < x1; ++x)
                    for (int c = 0; c < 3; ++c)
                        sum[c] += top.Rgb[y * stride + x * 3 + c];
            const std::uint64_t count = std::uint64_t(y1 - y0) * std::uint64_t(x1 - x0);
            // Bitmap rows are blue-green-red.
            for (int c = 0; c < 3; ++c)
                out[tx * 3 + c] = static_cast<std::uint8_t>((sum[2 - c] + count / 2) / count);
        }
    }
    TJPEGImage picture;
    picture.SetCompressionQuality(80);
    picture.TakeBitmap(std::move(bitmap));
    picture.SaveToFile(jpeg);
    return {width, height};
}

} // namespace korvane
