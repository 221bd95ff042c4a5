// JPEG output decoded with libjpeg: colours, fidelity, the quality-90 tables, the frame and its sampling.
#include <gtest/gtest.h>

#include <cmath>
#include <csetjmp>
#include <cstdio>

#include <jerror.h>
#include <jpeglib.h>

#include "ImagingTestSupport.h"
#include "imaging/JpegImage.h"
#include "platform/Errors.h"

namespace korvane {
namespace {

using namespace korvane::test;

struct DecodedJpeg {
    int width = 0, height = 0, components = 0;
    bool progressive = false, jfif = false;
    int jfifMajor = 0, jfifMinor = 0, densityUnit = -1, xDensity = 0, yDensity = 0;
    int restartInterval = -1;
    std::array<std::array<int, 2>, 3> sampling{};
    std::array<int, 3> ids{}, tables{};
    std::array<std::array<int, 64>, 2> quant{}; // natural order
    std::vector<std::uint8_t> rgb;
    bool ok = false;
};

struct JumpError {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

void Quit(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<JumpError*>(cinfo->err)->jump, 1);
}

DecodedJpeg DecodeJpeg(const Bytes& bytes) {
    DecodedJpeg d;
    jpeg_decompress_struct cinfo{};
    JumpError err{};
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = Quit;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        d.ok = false;
        return d;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, bytes.data(), bytes.size());
    jpeg_read_header(&cinfo, TRUE);
    d.width = static_cast<int>(cinfo.image_width);
    d.height = static_cast<int>(cinfo.image_height);
    d.components = cinfo.num_components;
    d.progressive = cinfo.progressive_mode;
    d.jfif = cinfo.saw_JFIF_marker;
    d.jfifMajor = cinfo.JFIF_major_version;
    d.jfifMinor = cinfo.JFIF_minor_version;
    d.densityUnit = cinfo.density_unit;
    d.xDensity = cinfo.X_density;
    d.yDensity = cinfo.Y_density;
    d.restartInterval = static_cast<int>(cinfo.restart_interval);
    for (int c = 0; c < std::min(cinfo.num_components, 3); ++c) {
        d.sampling[static_cast<std::size_t>(c)] = {cinfo.comp_info[c].h_samp_factor,
                                                   cinfo.comp_info[c].v_samp_factor};
        d.ids[static_cast<std::size_t>(c)] = cinfo.comp_info[c].component_id;
        d.tables[static_cast<std::size_t>(c)] = cinfo.comp_info[c].quant_tbl_no;
    }
    for (int t = 0; t < 2; ++t)
        if (cinfo.quant_tbl_ptrs[t])
            for (int i = 0; i < 64; ++i)
                d.quant[static_cast<std::size_t>(t)][static_cast<std::size_t>(i)] =
                    cinfo.quant_tbl_ptrs[t]->quantval[i];
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    d.rgb.resize(static_cast<std::size_t>(d.width) * static_cast<std::size_t>(d.height) * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row =
            &d.rgb[static_cast<std::size_t>(cinfo.output_scanline) * static_cast<std::size_t>(d.width) * 3];
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    d.ok = true;
    return d;
}

// The markers of the stream in order (segments only; entropy-coded data skipped).
std::vector<int> Markers(const Bytes& b) {
    std::vector<int> markers;
    std::size_t at = 2;
    if (b.size() < 2 || b[0] != 0xFF || b[1] != 0xD8) return markers;
    markers.push_back(0xD8);
    while (at + 2 <= b.size() && b[at] == 0xFF) {
        const int m = b[at + 1];
        markers.push_back(m);
        if (m == 0xD9 || at + 4 > b.size()) break;
        const std::size_t length = static_cast<std::size_t>(b[at + 2] << 8 | b[at + 3]);
        at += 2 + length;
        if (m == 0xDA) {
            while (at + 1 < b.size() &&
                   !(b[at] == 0xFF && b[at + 1] != 0 && !(b[at + 1] >= 0xD0 && b[at + 1] <= 0xD7)))
                ++at;
        }
    }
    return markers;
}

Bytes Segments(const Bytes& b, int marker) {
    Bytes all;
    for (std::size_t at = 2; at + 4 <= b.size() && b[at] == 0xFF && b[at + 1] != 0xDA;) {
        const std::size_t length = static_cast<std::size_t>(b[at + 2] << 8 | b[at + 3]);
        if (b[at + 1] == marker)
            all.insert(all.end(), b.begin() + static_cast<std::ptrdiff_t>(at),
                       b.begin() + static_cast<std::ptrdiff_t>(at + 2 + length));
        at += 2 + length;
    }
    return all;
}

TBitmap PhotoLike(int width, int height) {
    return MakeRgbBitmap(width, height, [](int x, int y) {
        const double r = 128 + 90 * std::sin(x / 37.0) * std::cos(y / 23.0);
        const double g = 128 + 80 * std::sin((x + y) / 51.0);
        const double b = 110 + 70 * std::cos(std::hypot(x - 120, y - 90) / 19.0);
        const int n =
            static_cast<int>(Noise(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y)) % 9) - 4;
        auto clamp = [](double v) { return static_cast<std::uint8_t>(std::clamp(v, 0.0, 255.0)); };
        return Rgb{clamp(r + n), clamp(g + n), clamp(b + n)};
    });
}

Bytes Jpeg(const TBitmap& bitmap, const std::function<void(TJPEGImage&)>& configure = {}) {
    TJPEGImage jpeg;
    jpeg.Assign(bitmap);
    if (configure) configure(jpeg);
    jpeg.Compress();
    return jpeg.Data();
}

TEST(JpegImage, PureRedStaysRed) {
    const TBitmap red = MakeRgbBitmap(32, 16, [](int, int) { return Rgb{255, 0, 0}; });
    const DecodedJpeg d = DecodeJpeg(Jpeg(red));
    ASSERT_TRUE(d.ok);
    for (std::size_t i = 0; i < d.rgb.size(); i += 3) {
        ASSERT_GE(d.rgb[i], 250) << i;
        ASSERT_LE(d.rgb[i + 1], 5);
        ASSERT_LE(d.rgb[i + 2], 5);
    }
}

TEST(JpegImage, PhotoLikeImageDecodesWithinThirtyFiveDecibels) {
    const TBitmap photo = PhotoLike(256, 192);
    const DecodedJpeg d = DecodeJpeg(Jpeg(photo));
    ASSERT_TRUE(d.ok);
    ASSERT_EQ(d.width, 256);
    ASSERT_EQ(d.height, 192);
    double squared = 0;
    for (int y = 0; y < 192; ++y)
        for (int x = 0; x < 256; ++x)
            for (int c = 0; c < 3; ++c) {
                const int source = photo.ScanLine(y)[x * 3 + 2 - c];
                const int decoded =
                    d.rgb[(static_cast<std::size_t>(y) * 256 + static_cast<std::size_t>(x)) * 3 +
                          static_cast<std::size_t>(c)];
                squared += (source - decoded) * (source - decoded);
            }
    const double mse = squared / (256.0 * 192.0 * 3.0);
    const double psnr = 10.0 * std::log10(255.0 * 255.0 / mse);
    EXPECT_GE(psnr, 35.0);
}

TEST(JpegImage, StreamIsBaselineJfifWithQuality90TablesAndStandardSampling) {
    // ITU-T T.81 Annex K, tables K.1 and K.2, in natural order.
    const int k1[64] = {16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
                        14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
                        18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
                        49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
    int k2[64];
    std::fill(std::begin(k2), std::end(k2), 99);
    const int k2top[4][4] = {{17, 18, 24, 47}, {18, 21, 26, 66}, {24, 26, 56, 99}, {47, 66, 99, 99}};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            k2[r * 8 + c] = k2top[r][c];
    auto scaled = [](int e) { return std::clamp((e * 20 + 50) / 100, 1, 255); };

    const Bytes bytes = Jpeg(PhotoLike(64, 48));
    const DecodedJpeg d = DecodeJpeg(bytes);
    ASSERT_TRUE(d.ok);
    for (int i = 0; i < 64; ++i) {
        EXPECT_EQ(d.quant[0][static_cast<std::size_t>(i)], scaled(k1[i])) << i;
        EXPECT_EQ(d.quant[1][static_cast<std::size_t>(i)], scaled(k2[i])) << i;
    }
    EXPECT_EQ((std::vector<int>(d.quant[0].begin(), d.quant[0].begin() + 8)),
              (std::vector<int>{3, 2, 2, 3, 5, 8, 10, 12}));
    EXPECT_EQ(d.components, 3);
    EXPECT_EQ(d.ids, (std::array<int, 3>{1, 2, 3}));
    EXPECT_EQ(d.sampling[0], (std::array<int, 2>{2, 2}));
    EXPECT_EQ(d.sampling[1], (std::array<int, 2>{1, 1}));
    EXPECT_EQ(d.sampling[2], (std::array<int, 2>{1, 1}));
    EXPECT_EQ(d.tables, (std::array<int, 3>{0, 1, 1}));
    EXPECT_FALSE(d.progressive);
    EXPECT_TRUE(d.jfif);
    EXPECT_EQ(d.jfifMajor, 1);
    EXPECT_EQ(d.jfifMinor, 1);
    EXPECT_EQ(d.densityUnit, 0);
    EXPECT_EQ(d.xDensity, 1);
    EXPECT_EQ(d.yDensity, 1);
    EXPECT_EQ(d.restartInterval, 0);
    const std::vector<int> markers = Markers(bytes);
    ASSERT_FALSE(markers.empty());
    EXPECT_EQ(markers.front(), 0xD8);
    EXPECT_EQ(markers[1], 0xE0);
    EXPECT_EQ(std::count(markers.begin(), markers.end(), 0xC0), 1); // SOF0
    EXPECT_EQ(std::count(markers.begin(), markers.end(), 0xDA), 1); // one scan
    EXPECT_EQ(std::count(markers.begin(), markers.end(), 0xDD), 0); // no restart interval
    EXPECT_EQ(markers.back(), 0xD9);
    // Standard Huffman tables: the same for any picture.
    EXPECT_EQ(Segments(bytes, 0xC4), Segments(Jpeg(MakeRgbBitmap(16, 16,
                                                                 [](int, int) {
                                                                     return Rgb{0, 0, 0};
                                                                 })),
                                              0xC4));
}

TEST(JpegImage, OneRowAndEmptyPictures) {
    const DecodedJpeg row = DecodeJpeg(Jpeg(PhotoLike(50, 1)));
    ASSERT_TRUE(row.ok);
    EXPECT_EQ(row.height, 1);
    EXPECT_EQ(row.width, 50);

    TempFolder folder;
    TJPEGImage jpeg;
    TBitmap empty;
    empty.SetSize(10, 0);
    jpeg.Assign(empty);
    const std::string path = folder.Path("empty.jpg");
    jpeg.SaveToFile(path);
    EXPECT_TRUE(ReadBytes(path).empty());
    EXPECT_EQ(folder.Files(), (std::vector<std::string>{"empty.jpg"}));
}

TEST(JpegImage, OptionsAndOtherSourceFormats) {
    const TBitmap photo = PhotoLike(40, 30);
    const DecodedJpeg gray = DecodeJpeg(Jpeg(photo, [](TJPEGImage& j) { j.SetGrayscale(true); }));
    ASSERT_TRUE(gray.ok);
    EXPECT_EQ(gray.components, 1);
    const DecodedJpeg progressive =
        DecodeJpeg(Jpeg(photo, [](TJPEGImage& j) { j.SetProgressiveEncoding(true); }));
    ASSERT_TRUE(progressive.ok);
    EXPECT_TRUE(progressive.progressive);
    EXPECT_GT(Jpeg(photo, [](TJPEGImage& j) { j.SetCompressionQuality(100); }).size(), Jpeg(photo).size());
    TJPEGImage jpeg;
    EXPECT_EQ(jpeg.CompressionQuality(), 90);
    jpeg.SetCompressionQuality(500);
    EXPECT_EQ(jpeg.CompressionQuality(), 100);

    // A palette bitmap goes in through its colours.
    TBitmap palette = MakeBitmap(TPixelFormat::pf8bit, 16, 16, [](std::uint8_t*, int, int) {});
    palette.SetPalette({{0, 0, 255}});
    const DecodedJpeg blue = DecodeJpeg(Jpeg(palette));
    ASSERT_TRUE(blue.ok);
    EXPECT_LE(blue.rgb[0], 5);
    EXPECT_GE(blue.rgb[2], 250);
}

TEST(JpegImage, LibjpegErrorsCarryTheirCodeAndLeaveNoFile) {
    TempFolder folder;
    TBitmap wide;
    wide.SetSize(70000, 1); // beyond JPEG_MAX_DIMENSION
    TJPEGImage jpeg;
    jpeg.Assign(wide);
    const std::string path = folder.Path("wide.jpg");
    WriteBytes(path, Bytes{7, 7, 7});
    try {
        jpeg.SaveToFile(path);
        FAIL();
    } catch (const EJPEG& e) {
        EXPECT_EQ(std::string(e.what()), "JPEG error #" + std::to_string(JERR_IMAGE_TOO_BIG));
        EXPECT_EQ(e.Code(), JERR_IMAGE_TOO_BIG);
    }
    EXPECT_EQ(ReadBytes(path), (Bytes{7, 7, 7}));
    EXPECT_EQ(folder.Files(), (std::vector<std::string>{"wide.jpg"}));
    EXPECT_THROW(jpeg.SaveToFile(folder.Path("nowhere/x.jpg")), EFCreateError);
}

TEST(JpegImage, FileHoldsExactlyTheCompressedStream) {
    TempFolder folder;
    TJPEGImage jpeg;
    jpeg.Assign(PhotoLike(30, 20));
    const std::string path = folder.Path("p.jpg");
    jpeg.SaveToFile(path);
    EXPECT_EQ(ReadBytes(path), jpeg.Data());
    // A new bitmap discards the old stream.
    jpeg.Assign(PhotoLike(10, 10));
    jpeg.Compress();
    EXPECT_EQ(DecodeJpeg(jpeg.Data()).width, 10);
    // djpeg (libjpeg-turbo's own tool) reads the file too.
    const int status = std::system(("djpeg -outfile /dev/null '" + path + "'").c_str());
    EXPECT_EQ(status, 0);
}

} // namespace
} // namespace korvane
