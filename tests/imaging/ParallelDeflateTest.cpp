// The PNG encoder's compression on several cores: one valid zlib stream whatever the number of threads
// (read back by libspng and by zlib's inflate in one call), the chunks laid out as before, the size within
// 1 % of one stream, and on one thread the very bytes of one stream.
#include <gtest/gtest.h>

#include <zlib.h>

#include "ImagingTestSupport.h"
#include "imaging/ParallelDeflate.h"
#include "imaging/PngWriteStream.h"

namespace korvane {
namespace {

using namespace korvane::test;

Bytes Encode(const TBitmap& bitmap, int threads, int filter = 1, int level = -1) {
    return EncodePng(bitmap, [&](TPngWriteStream& e) {
        e.Threads = threads;
        e.FilterMode = filter;
        e.CompressionLevel = level;
        e.UseCurrentTime = false;
    });
}

std::uint32_t Crc(const Bytes& bytes) {
    return static_cast<std::uint32_t>(crc32(0, bytes.data(), static_cast<uInt>(bytes.size())));
}

TEST(ParallelDeflate, OneThreadWritesTheBytesOfOneStream) {
    // The files the encoder wrote before it had more than one thread, for filters adaptive, None, Paeth and
    // levels default, 1 and 9.
    const TBitmap bitmap = PageLikeBitmap(1024, 1200);
    struct Expected {
        int filter, level;
        std::size_t size;
        std::uint32_t crc;
    };
    for (const Expected& e : {Expected{0, -1, 452098, 0xc08795f9}, Expected{0, 1, 509217, 0x16130cb8},
                              Expected{0, 9, 411864, 0x11556935}, Expected{1, -1, 533265, 0x80cd966d},
                              Expected{1, 1, 642368, 0x895cd2ab}, Expected{1, 9, 483759, 0xc1ab55ac},
                              Expected{5, -1, 410613, 0x65deb4cf}, Expected{5, 1, 437329, 0x7df86d77},
                              Expected{5, 9, 408984, 0x418797a4}}) {
        SCOPED_TRACE(::testing::Message() << "filter " << e.filter << " level " << e.level);
        const Bytes png = Encode(bitmap, 1, e.filter, e.level);
        EXPECT_EQ(png.size(), e.size);
        EXPECT_EQ(Crc(png), e.crc);
    }
    // An image of fewer than two bands is one stream whatever the threads.
    const TBitmap small = PageLikeBitmap(300, 500);
    EXPECT_EQ(Encode(small, 4), Encode(small, 1));
}

TEST(ParallelDeflate, AnyNumberOfThreadsMakesOneValidStreamOfTheSameRows) {
    const TBitmap bitmap = PageLikeBitmap(1024, 1500); // 4.6 MB of rows: 18 bands
    const Bytes single = Encode(bitmap, 1, 0);
    const Bytes rows = InflateImageData(single);
    ASSERT_FALSE(rows.empty());
    for (const int threads : {2, 4}) {
        SCOPED_TRACE(threads);
        const Bytes png = Encode(bitmap, threads, 0);
        EXPECT_NE(png, single) << "the bands were not deflated apart";
        // The same chunks in the same order; IDAT data in full chunks but the last.
        EXPECT_EQ(ChunkTypes(png).front(), "IHDR");
        std::vector<std::string> kinds, singleKinds;
        for (const auto& type : ChunkTypes(png))
            if (kinds.empty() || kinds.back() != type) kinds.push_back(type);
        for (const auto& type : ChunkTypes(single))
            if (singleKinds.empty() || singleKinds.back() != type) singleKinds.push_back(type);
        EXPECT_EQ(kinds, singleKinds);
        bool parsed = false;
        const auto chunks = ParseChunks(png, &parsed);
        ASSERT_TRUE(parsed);
        std::vector<std::size_t> idat;
        for (const auto& c : chunks)
            if (c.type == "IDAT") idat.push_back(c.data.size());
        ASSERT_GE(idat.size(), 2u);
        for (std::size_t i = 0; i + 1 < idat.size(); ++i)
            EXPECT_EQ(idat[i], 32768u) << i;
        EXPECT_GT(idat.back(), 0u);

        // zlib's inflate, in one call, over the joined data: the same rows, and the stream's own header.
        const Bytes joined = JoinedImageData(png);
        const Bytes singleJoined = JoinedImageData(single);
        EXPECT_EQ(Bytes(joined.begin(), joined.begin() + 2),
                  Bytes(singleJoined.begin(), singleJoined.begin() + 2))
            << "header";
        Bytes out(rows.size() + 16);
        uLongf length = static_cast<uLongf>(out.size());
        ASSERT_EQ(uncompress(out.data(), &length, joined.data(), static_cast<uLong>(joined.size())), Z_OK);
        out.resize(length);
        EXPECT_TRUE(out == rows) << "inflated " << out.size() << " bytes, expected " << rows.size();

        // libspng: every pixel.
        const Decoded d = DecodePng(png);
        ASSERT_EQ(d.error, "");
        bool same = true;
        for (int y = 0; y < bitmap.Height() && same; ++y)
            for (int x = 0; x < bitmap.Width() && same; ++x) {
                const std::uint8_t* p = bitmap.ScanLine(y) + x * 3;
                const std::uint8_t* q = &d.rgba[(static_cast<std::size_t>(y) * bitmap.Width() + x) * 4];
                same = q[0] == p[2] && q[1] == p[1] && q[2] == p[0];
                EXPECT_TRUE(same) << x << "," << y;
            }
    }
}

TEST(ParallelDeflate, TheSizeStaysWithinOnePercentOfOneStream) {
    const TBitmap bitmap = PageLikeBitmap(1024, 8000);
    for (const int level : {-1, 1, 9}) {
        SCOPED_TRACE(level);
        const double one = static_cast<double>(Encode(bitmap, 1, 1, level).size());
        const double two = static_cast<double>(Encode(bitmap, 2, 1, level).size());
        EXPECT_LE(two, one * 1.01);
        EXPECT_GE(two, one * 0.99);
    }
}

TEST(ParallelDeflate, TheHeaderIsZlibsForEveryLevel) {
    for (int level = -1; level <= 9; ++level) {
        z_stream s{};
        ASSERT_EQ(deflateInit2(&s, level, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY), Z_OK);
        std::uint8_t in = 0, out[64];
        s.next_in = &in;
        s.avail_in = 1;
        s.next_out = out;
        s.avail_out = sizeof out;
        ASSERT_EQ(deflate(&s, Z_FINISH), Z_STREAM_END);
        deflateEnd(&s);
        std::uint8_t header[2];
        ParallelDeflateWriter::ZlibHeader(level, header);
        EXPECT_EQ(header[0], out[0]) << level;
        EXPECT_EQ(header[1], out[1]) << level;
    }
}

TEST(ParallelDeflate, AStreamOfExactlyWholeBandsAndAnEmptyOneAreValid) {
    // The last band empty (the input ends where a band ends), and no input at all.
    for (const std::size_t size : {2 * ParallelDeflateWriter::kBandBytes, std::size_t{0}, std::size_t{1}}) {
        SCOPED_TRACE(size);
        Bytes input(size);
        for (std::size_t i = 0; i < size; ++i)
            input[i] = static_cast<std::uint8_t>(Noise(static_cast<std::uint32_t>(i % 5000), 1) % 7);
        Bytes stream;
        ParallelDeflateWriter writer;
        ASSERT_TRUE(writer.Setup(
            6, 32768, [&](const std::uint8_t* d, std::size_t n) { stream.insert(stream.end(), d, d + n); },
            3));
        ASSERT_TRUE(writer.Write(input.data(), input.size()));
        writer.Finish();
        Bytes out(size + 16);
        uLongf length = static_cast<uLongf>(out.size());
        ASSERT_EQ(uncompress(out.data(), &length, stream.data(), static_cast<uLong>(stream.size())), Z_OK);
        out.resize(length);
        EXPECT_TRUE(out == input);
    }
}

} // namespace
} // namespace korvane
