// Encoding speed of a 1024 x 8000 web-page-like capture, each format against a peer in the same run:
// PNG against libpng with the same filter and level, JPEG against libjpeg-turbo driven directly with the same
// parameters, BMP against a plain write of the same bytes, WebP against the cwebp program (libwebp's own) at
// the same effort, given the same pixels as a PAM file. Each WebP run reports its peak memory: run one of
// them alone
// (--benchmark_filter) to read it.
#include <benchmark/benchmark.h>

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <jpeglib.h>
#include <png.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "imaging/Bitmap.h"
#include "imaging/BmpWriter.h"
#include "imaging/JpegImage.h"
#include "imaging/PngGraphic.h"
#include "imaging/Streams.h"
#include "imaging/WebpImage.h"

namespace korvane {
namespace {

constexpr int Width = 1024;
constexpr int Height = 8000;

std::uint32_t Hash(std::uint32_t x, std::uint32_t y) {
    std::uint32_t h = x * 374761393u + y * 668265263u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return h ^ (h >> 16);
}

// White page, a coloured header band with a gradient, lines of dark "text", a few photos and a gradient box.
const TBitmap& Page() {
    static const TBitmap page = [] {
        TBitmap bitmap;
        bitmap.SetPixelFormat(TPixelFormat::pf24bit);
        bitmap.SetSize(Width, Height);
        for (int y = 0; y < Height; ++y) {
            std::uint8_t* row = bitmap.ScanLine(y);
            for (int x = 0; x < Width; ++x) {
                std::uint8_t r = 255, g = 255, b = 255;
                const int block = y / 1000;
                if (y < 120) { // header: horizontal gradient
                    r = static_cast<std::uint8_t>(30 + x * 60 / Width);
                    g = static_cast<std::uint8_t>(60 + y / 2);
                    b = 140;
                } else if (x >= 640 && x < 960 && (y % 1000) >= 200 && (y % 1000) < 440 && block % 3 == 0) {
                    // a photo: smooth shapes with grain
                    const double v = 120 + 60 * std::sin(x / 23.0) * std::cos(y / 17.0);
                    const int n =
                        static_cast<int>(Hash(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y)) %
                                         21) -
                        10;
                    r = static_cast<std::uint8_t>(std::clamp(v + n, 0.0, 255.0));
                    g = static_cast<std::uint8_t>(std::clamp(v * 0.8 + 30 + n, 0.0, 255.0));
                    b = static_cast<std::uint8_t>(std::clamp(200 - v * 0.5 + n, 0.0, 255.0));
                } else if (x >= 40 && x < 600 && (y % 1000) >= 500 && (y % 1000) < 620 && block % 2 == 1) {
                    // a gradient box
                    r = static_cast<std::uint8_t>(200 - (y % 1000 - 500));
                    g = static_cast<std::uint8_t>(220);
                    b = static_cast<std::uint8_t>(180 + x / 8);
                } else if (x >= 40 && x < 600 && (y % 24) >= 6 && (y % 24) < 18) {
                    // text: glyph-like strokes with anti-aliased edges
                    const std::uint32_t glyph =
                        Hash(static_cast<std::uint32_t>(x / 9), static_cast<std::uint32_t>(y / 24));
                    const int cx = x % 9, cy = y % 24 - 6;
                    const bool stroke =
                        (glyph & (1u << ((cx * 3 + cy / 4) % 31))) != 0 && cx < 7 && (glyph % 7) != 0;
                    if (stroke) {
                        const std::uint8_t ink = static_cast<std::uint8_t>(20 + (glyph >> 24) % 120);
                        r = g = b = ink;
                    }
                }
                row[x * 3] = b;
                row[x * 3 + 1] = g;
                row[x * 3 + 2] = r;
            }
        }
        return bitmap;
    }();
    return page;
}

// Counts the bytes it is given, like a fast disk that never fills.
class CountingStream : public TStream {
public:
    void WriteBuffer(const void* data, std::size_t count) override {
        benchmark::DoNotOptimize(data);
        bytes += count;
    }
    std::size_t bytes = 0;
};

void Report(benchmark::State& state, std::size_t outputBytes) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * Width * Height * 3);
    state.counters["output_bytes"] = static_cast<double>(outputBytes);
}

void KorvanePng(benchmark::State& state, int filterMode) {
    const TBitmap& page = Page();
    std::size_t out = 0;
    for (auto _ : state) {
        TPngGraphic png;
        png.CopyFrom(page); // the capture path copies the bitmap into the graphic
        png.FilterMode = static_cast<std::uint8_t>(filterMode);
        CountingStream sink;
        png.WriteToStream(sink);
        out = sink.bytes;
    }
    Report(state, out);
}

void LibpngWrite(png_structp png, png_bytep data, png_size_t length) {
    static_cast<CountingStream*>(png_get_io_ptr(png))->WriteBuffer(data, length);
}
void LibpngFlush(png_structp) {}

void LibPng(benchmark::State& state, int filters) {
    const TBitmap& page = Page();
    std::size_t out = 0;
    for (auto _ : state) {
        CountingStream sink;
        png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        if (setjmp(png_jmpbuf(png))) {
            png_destroy_write_struct(&png, &info);
            state.SkipWithError("libpng failed");
            return;
        }
        png_set_write_fn(png, &sink, LibpngWrite, LibpngFlush);
        png_set_IHDR(png, info, Width, Height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_set_filter(png, PNG_FILTER_TYPE_BASE, filters);
        png_set_compression_level(png, 6);
        png_set_gAMA_fixed(png, info, 45455);
        png_write_info(png, info);
        png_set_bgr(png);
        for (int y = 0; y < Height; ++y)
            png_write_row(png, const_cast<png_bytep>(page.ScanLine(y)));
        png_write_end(png, info);
        png_destroy_write_struct(&png, &info);
        out = sink.bytes;
    }
    Report(state, out);
}

// The encoder alone: the graphic refers to the page instead of copying it.
void KorvanePngEncodeOnly(benchmark::State& state, int filterMode, int threads = 0) {
    TBitmap& page = const_cast<TBitmap&>(Page());
    std::size_t out = 0;
    for (auto _ : state) {
        TPngGraphic png;
        png.SetImageReference(&page);
        png.FilterMode = static_cast<std::uint8_t>(filterMode);
        png.Threads = threads;
        CountingStream sink;
        png.WriteToStream(sink);
        out = sink.bytes;
    }
    Report(state, out);
}

void BM_Png_Korvane_FilterNone(benchmark::State& state) {
    KorvanePng(state, 1);
}
void BM_Png_Korvane_FilterNone_EncodeOnly(benchmark::State& state) {
    KorvanePngEncodeOnly(state, 1);
}
void BM_Png_Korvane_Adaptive_EncodeOnly(benchmark::State& state) {
    KorvanePngEncodeOnly(state, 0);
}
// One zlib stream on this thread, as on a machine of one core.
void BM_Png_Korvane_FilterNone_EncodeOnly_OneThread(benchmark::State& state) {
    KorvanePngEncodeOnly(state, 1, 1);
}
void BM_Png_Korvane_Adaptive_EncodeOnly_OneThread(benchmark::State& state) {
    KorvanePngEncodeOnly(state, 0, 1);
}
void BM_Png_Libpng_FilterNone(benchmark::State& state) {
    LibPng(state, PNG_FILTER_NONE);
}
void BM_Png_Korvane_Adaptive(benchmark::State& state) {
    KorvanePng(state, 0);
}
void BM_Png_Libpng_AllFilters(benchmark::State& state) {
    LibPng(state, PNG_ALL_FILTERS);
}

void BM_Jpeg_Korvane(benchmark::State& state) {
    const TBitmap& page = Page();
    std::size_t out = 0;
    for (auto _ : state) {
        TJPEGImage jpeg;
        jpeg.Assign(page); // the capture path hands its bitmap over, as here
        CountingStream sink;
        jpeg.SaveToStream(sink);
        out = sink.bytes;
    }
    Report(state, out);
}

// The encoder alone: the copy into the JPEG image is made outside the timing.
void BM_Jpeg_Korvane_EncodeOnly(benchmark::State& state) {
    const TBitmap& page = Page();
    std::size_t out = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto jpeg = std::make_unique<TJPEGImage>();
        jpeg->Assign(page);
        state.ResumeTiming();
        CountingStream sink;
        jpeg->SaveToStream(sink);
        out = sink.bytes;
        state.PauseTiming();
        jpeg.reset();
        state.ResumeTiming();
    }
    Report(state, out);
}

struct JumpError {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};
void JumpExit(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<JumpError*>(cinfo->err)->jump, 1);
}

void BM_Jpeg_LibjpegTurbo(benchmark::State& state) {
    const TBitmap& page = Page();
    std::size_t out = 0;
    for (auto _ : state) {
        jpeg_compress_struct cinfo{};
        JumpError err{};
        cinfo.err = jpeg_std_error(&err.pub);
        err.pub.error_exit = JumpExit;
        unsigned char* buffer = nullptr;
        unsigned long size = 0;
        if (setjmp(err.jump)) {
            jpeg_destroy_compress(&cinfo);
            state.SkipWithError("libjpeg failed");
            return;
        }
        jpeg_create_compress(&cinfo);
        jpeg_mem_dest(&cinfo, &buffer, &size);
        cinfo.image_width = Width;
        cinfo.image_height = Height;
        cinfo.input_components = 3;
        cinfo.in_color_space = JCS_EXT_BGR;
        jpeg_set_defaults(&cinfo);
        cinfo.dct_method = JDCT_FLOAT;
        jpeg_set_quality(&cinfo, 90, TRUE);
        jpeg_start_compress(&cinfo, TRUE);
        while (cinfo.next_scanline < cinfo.image_height) {
            JSAMPROW row = const_cast<JSAMPROW>(page.ScanLine(static_cast<int>(cinfo.next_scanline)));
            jpeg_write_scanlines(&cinfo, &row, 1);
        }
        jpeg_finish_compress(&cinfo);
        jpeg_destroy_compress(&cinfo);
        CountingStream sink;
        sink.WriteBuffer(buffer, size); // one write of the whole stream, as the JPEG image does
        out = sink.bytes;
        std::free(buffer);
    }
    Report(state, out);
}

std::string BenchFile(const char* name) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/korvane-bench-" + std::to_string(::getpid()) + name;
}

void BM_Bmp_Korvane(benchmark::State& state) {
    const TBitmap& page = Page();
    const std::string path = BenchFile(".bmp");
    for (auto _ : state)
        WriteBmpFile(page, path);
    Report(state, page.ImageSize() + 54);
    ::unlink(path.c_str());
}

void BM_Bmp_PlainWrite(benchmark::State& state) {
    const TBitmap& page = Page();
    const std::vector<std::uint8_t> headers = BmpHeaders(page);
    const std::string path = BenchFile("-plain.bmp");
    for (auto _ : state) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || ::write(fd, headers.data(), headers.size()) != static_cast<ssize_t>(headers.size()) ||
            ::write(fd, page.Bits(), page.ImageSize()) != static_cast<ssize_t>(page.ImageSize())) {
            state.SkipWithError("write failed");
        }
        if (fd >= 0) ::close(fd);
    }
    Report(state, page.ImageSize() + 54);
    ::unlink(path.c_str());
}

// Peak resident memory of this process (self) or of the programs it ran (children), in MB.
double PeakMegabytes(int who) {
    rusage usage{};
    ::getrusage(who, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void KorvaneWebp(benchmark::State& state, int quality) {
    const TBitmap& page = Page();
    const std::string path = BenchFile(".webp");
    for (auto _ : state)
        SaveWebpFile(page, path, {quality, 4, false});
    struct stat file {};
    ::stat(path.c_str(), &file);
    Report(state, static_cast<std::size_t>(file.st_size));
    state.counters["peak_MB"] = PeakMegabytes(RUSAGE_SELF);
    ::unlink(path.c_str());
}

// The page as a PAM file (top row first, red, green, blue), which cwebp reads without decoding.
std::string PamOfPage() {
    const TBitmap& page = Page();
    const std::string path = BenchFile(".pam");
    std::FILE* file = std::fopen(path.c_str(), "wb");
    std::fprintf(file, "P7\nWIDTH %d\nHEIGHT %d\nDEPTH 3\nMAXVAL 255\nTUPLTYPE RGB\nENDHDR\n", Width, Height);
    std::vector<std::uint8_t> row(Width * 3);
    for (int y = 0; y < Height; ++y) {
        const std::uint8_t* bgr = page.ScanLine(y);
        for (int x = 0; x < Width; ++x) {
            row[x * 3] = bgr[x * 3 + 2];
            row[x * 3 + 1] = bgr[x * 3 + 1];
            row[x * 3 + 2] = bgr[x * 3];
        }
        std::fwrite(row.data(), 1, row.size(), file);
    }
    std::fclose(file);
    return path;
}

void Cwebp(benchmark::State& state, int quality) {
    const std::string input = PamOfPage(), output = BenchFile("-cwebp.webp");
    const std::string q = std::to_string(quality > 0 ? quality : 75);
    std::vector<std::string> args = {"cwebp", "-quiet", "-q", q, "-m", "4", input, "-o", output};
    if (quality <= 0) args.insert(args.begin() + 2, "-lossless");
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    for (auto _ : state) {
        pid_t pid = 0;
        int status = 0;
        if (::posix_spawnp(&pid, "cwebp", nullptr, nullptr, argv.data(), environ) != 0 ||
            ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("cwebp failed (apt-get install webp)");
            break;
        }
    }
    struct stat file {};
    ::stat(output.c_str(), &file);
    Report(state, static_cast<std::size_t>(file.st_size));
    state.counters["peak_MB"] = PeakMegabytes(RUSAGE_CHILDREN);
    ::unlink(input.c_str());
    ::unlink(output.c_str());
}

void BM_Webp_Korvane_Lossless(benchmark::State& state) {
    KorvaneWebp(state, 0);
}
void BM_Webp_Cwebp_Lossless(benchmark::State& state) {
    Cwebp(state, 0);
}
void BM_Webp_Korvane_Lossy75(benchmark::State& state) {
    KorvaneWebp(state, 75);
}
void BM_Webp_Cwebp_Lossy75(benchmark::State& state) {
    Cwebp(state, 75);
}

BENCHMARK(BM_Png_Korvane_FilterNone)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Png_Korvane_FilterNone_EncodeOnly)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Png_Korvane_FilterNone_EncodeOnly_OneThread)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Png_Libpng_FilterNone)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Png_Korvane_Adaptive)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Png_Korvane_Adaptive_EncodeOnly)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Png_Korvane_Adaptive_EncodeOnly_OneThread)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Png_Libpng_AllFilters)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Jpeg_Korvane)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Jpeg_Korvane_EncodeOnly)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Jpeg_LibjpegTurbo)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Bmp_Korvane)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_Bmp_PlainWrite)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_Webp_Korvane_Lossless)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Webp_Cwebp_Lossless)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Webp_Korvane_Lossy75)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Webp_Cwebp_Lossy75)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace
} // namespace korvane

BENCHMARK_MAIN();
