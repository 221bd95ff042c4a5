#include "ImagingTestSupport.h"

#include "platform/Files.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>

#include <spng.h>
#include <sys/wait.h>
#include <zlib.h>

namespace korvane::test {

std::uint32_t BE32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

std::uint16_t BE16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

std::vector<Chunk> ParseChunks(const Bytes& png, bool* ok) {
    std::vector<Chunk> chunks;
    if (ok) *ok = false;
    if (png.size() < 8) return chunks;
    std::size_t at = 8;
    while (at + 12 <= png.size()) {
        const std::uint32_t length = BE32(&png[at]);
        if (at + 12 + length > png.size()) return chunks;
        Chunk c;
        c.type.assign(reinterpret_cast<const char*>(&png[at + 4]), 4);
        c.data.assign(png.begin() + static_cast<std::ptrdiff_t>(at + 8),
                      png.begin() + static_cast<std::ptrdiff_t>(at + 8 + length));
        c.crc = BE32(&png[at + 8 + length]);
        c.crcValid = crc32(0, &png[at + 4], length + 4) == c.crc;
        chunks.push_back(std::move(c));
        at += 12 + length;
    }
    if (ok) *ok = at == png.size();
    return chunks;
}

std::vector<std::string> ChunkTypes(const Bytes& png) {
    std::vector<std::string> types;
    for (const auto& c : ParseChunks(png))
        types.push_back(c.type);
    return types;
}

Bytes ChunkData(const Bytes& png, const std::string& type) {
    for (auto& c : ParseChunks(png))
        if (c.type == type) return c.data;
    return {};
}

Bytes JoinedImageData(const Bytes& png) {
    Bytes data;
    for (const auto& c : ParseChunks(png))
        if (c.type == "IDAT") data.insert(data.end(), c.data.begin(), c.data.end());
    return data;
}

Bytes InflateImageData(const Bytes& png) {
    const Bytes compressed = JoinedImageData(png);
    Bytes out;
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return out;
    z.next_in = const_cast<Bytef*>(compressed.data());
    z.avail_in = static_cast<uInt>(compressed.size());
    std::uint8_t buffer[65536];
    int status = Z_OK;
    while (status == Z_OK) {
        z.next_out = buffer;
        z.avail_out = sizeof buffer;
        status = inflate(&z, Z_NO_FLUSH);
        out.insert(out.end(), buffer, buffer + (sizeof buffer - z.avail_out));
    }
    inflateEnd(&z);
    if (status != Z_STREAM_END) out.clear();
    return out;
}

Decoded DecodePng(const Bytes& png) {
    Decoded d;
    spng_ctx* ctx = spng_ctx_new(0);
    auto fail = [&](const char* what, int rc) {
        d.error = std::string(what) + ": " + spng_strerror(rc);
        spng_ctx_free(ctx);
        return d;
    };
    // Every CRC must be right, ancillary ones included.
    spng_set_crc_action(ctx, SPNG_CRC_ERROR, SPNG_CRC_ERROR);
    int rc = spng_set_png_buffer(ctx, png.data(), png.size());
    if (rc) return fail("buffer", rc);
    spng_ihdr ihdr{};
    if ((rc = spng_get_ihdr(ctx, &ihdr))) return fail("ihdr", rc);
    size_t size = 0;
    if ((rc = spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &size))) return fail("size", rc);
    d.rgba.resize(size);
    if ((rc = spng_decode_image(ctx, d.rgba.data(), size, SPNG_FMT_RGBA8, 0))) return fail("decode", rc);
    d.width = ihdr.width;
    d.height = ihdr.height;
    d.bitDepth = ihdr.bit_depth;
    d.colourType = ihdr.color_type;
    d.interlace = ihdr.interlace_method;
    spng_ctx_free(ctx);
    return d;
}

std::string RunPngcheck(const std::string& path, bool* passed) {
    const std::string command = "pngcheck -v '" + path + "' 2>&1";
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        *passed = false;
        return "cannot run pngcheck";
    }
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
        output.append(buffer, n);
    const int status = pclose(pipe);
    *passed = WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
              output.find("No errors detected") != std::string::npos;
    return output;
}

Bytes ReadBytes(const std::string& path) {
    const std::string bytes = ReadWholeFile(path);
    return Bytes(bytes.begin(), bytes.end());
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

TBitmap MakeBitmap(TPixelFormat format, int width, int height,
                   const std::function<void(std::uint8_t* row, int x, int y)>& store) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(format);
    bitmap.SetSize(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            store(bitmap.ScanLine(y), x, y);
    return bitmap;
}

TBitmap MakeRgbBitmap(int width, int height, const std::function<Rgb(int x, int y)>& colour) {
    return MakeBitmap(TPixelFormat::pf24bit, width, height, [&](std::uint8_t* row, int x, int y) {
        const Rgb c = colour(x, y);
        row[x * 3 + 0] = c.b;
        row[x * 3 + 1] = c.g;
        row[x * 3 + 2] = c.r;
    });
}

std::uint32_t Noise(std::uint32_t x, std::uint32_t y, std::uint32_t seed) {
    std::uint32_t h = x * 374761393u + y * 668265263u + seed * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return h ^ (h >> 16);
}

} // namespace korvane::test

#include "imaging/PngWriteStream.h"

namespace korvane::test {

TBitmap PageLikeBitmap(int width, int height) {
    return MakeRgbBitmap(width, height, [width](int x, int y) {
        if (y % 1200 > 100 && y % 1200 < 300)
            return Rgb{static_cast<std::uint8_t>(x * 255 / width), 80, static_cast<std::uint8_t>(y)};
        if (x > width * 600 / 1024 && y % 1200 > 400 && y % 1200 < 700) {
            const std::uint32_t n = Noise(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y));
            return Rgb{static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
                       static_cast<std::uint8_t>(n >> 16)};
        }
        const bool ink =
            (y % 14) < 9 &&
            (Noise(static_cast<std::uint32_t>(x / 3), static_cast<std::uint32_t>(y / 14)) % 3) == 0;
        return ink ? Rgb{20, 20, 20} : Rgb{255, 255, 255};
    });
}

Bytes EncodePng(const TBitmap& bitmap, const std::function<void(TPngWriteStream&)>& configure) {
    TPngWriteStream encoder;
    if (configure) configure(encoder);
    TMemoryStream target;
    encoder.SaveBitmap(bitmap, target);
    return target.Bytes();
}

std::vector<int> FilterTypes(const Bytes& png, std::size_t rowLength) {
    const Bytes rows = InflateImageData(png);
    std::vector<int> types;
    for (std::size_t at = 0; at < rows.size(); at += rowLength + 1)
        types.push_back(rows[at]);
    return types;
}

TBitmap NoiseRgbBitmap(int width, int height, std::uint32_t seed) {
    return MakeRgbBitmap(width, height, [&](int x, int y) {
        const std::uint32_t n = Noise(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y), seed);
        return Rgb{static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
                   static_cast<std::uint8_t>(n >> 16)};
    });
}

} // namespace korvane::test
