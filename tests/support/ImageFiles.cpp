#include "ImageFiles.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include <jpeglib.h>
#include <spng.h>
#include <webp/decode.h>

namespace korvane::testing {

std::uint32_t TDecodedImage::Pixel(int x, int y) const {
    const std::size_t at = (static_cast<std::size_t>(y) * Width + x) * 3;
    return (std::uint32_t{Rgb.at(at)} << 16) | (std::uint32_t{Rgb.at(at + 1)} << 8) | Rgb.at(at + 2);
}

int TDecodedImage::AlphaAt(int x, int y) const {
    return Alpha.empty() ? 255 : Alpha.at(static_cast<std::size_t>(y) * Width + x);
}

namespace {

// Red, green, blue, alpha pixels into the image's colours, and its alpha when it has one.
void TakeRgba(TDecodedImage& image, const std::uint8_t* rgba, bool alpha) {
    const std::size_t pixels = static_cast<std::size_t>(image.Width) * image.Height;
    image.Rgb.resize(pixels * 3);
    if (alpha) image.Alpha.resize(pixels);
    for (std::size_t i = 0; i < pixels; ++i) {
        std::memcpy(&image.Rgb[i * 3], rgba + i * 4, 3);
        if (alpha) image.Alpha[i] = rgba[i * 4 + 3];
    }
}

TDecodedImage Fail(std::string why) {
    TDecodedImage image;
    image.Error = std::move(why);
    return image;
}

TDecodedImage DecodePng(const std::vector<std::uint8_t>& bytes) {
    spng_ctx* ctx = spng_ctx_new(0);
    spng_set_image_limits(ctx, 1u << 20, 1u << 20);
    spng_set_chunk_limits(ctx, 1u << 30, 1u << 30);
    spng_set_png_buffer(ctx, bytes.data(), bytes.size());
    TDecodedImage image;
    spng_ihdr ihdr{};
    std::size_t size = 0;
    int rc = spng_get_ihdr(ctx, &ihdr);
    if (rc == 0) rc = spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &size);
    if (rc == 0) {
        image.Format = "png";
        image.Width = static_cast<int>(ihdr.width);
        image.Height = static_cast<int>(ihdr.height);
        std::vector<std::uint8_t> rgba(size);
        rc = spng_decode_image(ctx, rgba.data(), size, SPNG_FMT_RGBA8, 0);
        if (rc == 0)
            TakeRgba(image, rgba.data(),
                     ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA ||
                         ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA);
    }
    if (rc != 0) image.Error = std::string("libspng: ") + spng_strerror(rc);
    spng_ctx_free(ctx);
    return image;
}

struct JpegFailure {
    jpeg_error_mgr pub;
    char message[JMSG_LENGTH_MAX];
};

TDecodedImage DecodeJpeg(const std::vector<std::uint8_t>& bytes) {
    TDecodedImage image;
    jpeg_decompress_struct cinfo{};
    JpegFailure err{};
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = [](j_common_ptr c) {
        auto* e = reinterpret_cast<JpegFailure*>(c->err);
        (*c->err->format_message)(c, e->message);
        throw std::runtime_error(e->message);
    };
    try {
        jpeg_create_decompress(&cinfo);
        jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
        jpeg_read_header(&cinfo, TRUE);
        cinfo.out_color_space = JCS_RGB;
        jpeg_start_decompress(&cinfo);
        image.Format = "jpg";
        image.Width = static_cast<int>(cinfo.output_width);
        image.Height = static_cast<int>(cinfo.output_height);
        image.Rgb.resize(static_cast<std::size_t>(image.Width) * image.Height * 3);
        while (cinfo.output_scanline < cinfo.output_height) {
            JSAMPROW row =
                image.Rgb.data() + static_cast<std::size_t>(cinfo.output_scanline) * image.Width * 3;
            jpeg_read_scanlines(&cinfo, &row, 1);
        }
        jpeg_finish_decompress(&cinfo);
    } catch (const std::exception& e) {
        image.Error = std::string("libjpeg: ") + e.what();
    }
    jpeg_destroy_decompress(&cinfo);
    return image;
}

TDecodedImage DecodeBmp(const std::vector<std::uint8_t>& bytes) {
    auto le32 = [&](std::size_t at) {
        std::int32_t v;
        std::memcpy(&v, bytes.data() + at, 4);
        return v;
    };
    if (bytes.size() < 54) return Fail("BMP: short header");
    const int w = le32(18), h = le32(22);
    if (w <= 0 || h <= 0 || le32(10) != 54 || bytes[28] != 24)
        return Fail("BMP: not a bottom-up 24-bit file");
    const std::size_t stride = (static_cast<std::size_t>(w) * 3 + 3) / 4 * 4;
    if (bytes.size() < 54 + stride * h) return Fail("BMP: pixel rows missing");
    TDecodedImage image;
    image.Format = "bmp";
    image.Width = w;
    image.Height = h;
    image.Rgb.resize(static_cast<std::size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* src = bytes.data() + 54 + stride * (h - 1 - y);
        std::uint8_t* dst = image.Rgb.data() + static_cast<std::size_t>(y) * w * 3;
        for (int x = 0; x < w; ++x) {
            dst[3 * x] = src[3 * x + 2];
            dst[3 * x + 1] = src[3 * x + 1];
            dst[3 * x + 2] = src[3 * x];
        }
    }
    return image;
}

TDecodedImage DecodeWebp(const std::vector<std::uint8_t>& bytes) {
    WebPBitstreamFeatures features{};
    if (WebPGetFeatures(bytes.data(), bytes.size(), &features) != VP8_STATUS_OK)
        return Fail("libwebp: no WebP");
    TDecodedImage image;
    std::uint8_t* rgba = WebPDecodeRGBA(bytes.data(), bytes.size(), &image.Width, &image.Height);
    if (!rgba) return Fail("libwebp: the data cannot be decoded");
    image.Format = features.format == 2 ? "webp-lossless" : "webp-lossy";
    TakeRgba(image, rgba, features.has_alpha != 0);
    WebPFree(rgba);
    return image;
}

} // namespace

TDecodedImage DecodeImageFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return Fail("cannot open " + path);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() >= 8 && std::memcmp(bytes.data(), "\x89PNG", 4) == 0) return DecodePng(bytes);
    if (bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8) return DecodeJpeg(bytes);
    if (bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M') return DecodeBmp(bytes);
    if (bytes.size() >= 12 && std::memcmp(bytes.data(), "RIFF", 4) == 0 &&
        std::memcmp(bytes.data() + 8, "WEBP", 4) == 0)
        return DecodeWebp(bytes);
    return Fail("not a PNG, JPEG, BMP or WebP file: " + path);
}

} // namespace korvane::testing
