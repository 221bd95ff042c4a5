#include "imaging/PngWriteStream.h"
#include "platform/Translate.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <new>
#include <thread>
#include <vector>

#include <zlib.h>

#include "imaging/Deflate.h"
#include "imaging/ParallelDeflate.h"
#include "imaging/PngFilters.h"
#include "imaging/PngRows.h"

namespace korvane {

namespace {

void Put16(std::vector<std::uint8_t>& out, unsigned value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    Put16(out, value >> 16);
    Put16(out, value & 0xFFFF);
}

bool ValidTime(const TPngTimeStamp& t) {
    return t.year >= 1 && t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= 31 && t.hour <= 23 &&
           t.minute <= 59 && t.second <= 60;
}

bool IsPaletteIndexColor(TColor c) {
    return (static_cast<std::uint32_t>(c) >> 24) == 1;
}
int RedOf(TColor c) {
    return c & 0xFF;
}
int GreenOf(TColor c) {
    return (c >> 8) & 0xFF;
}
int BlueOf(TColor c) {
    return (c >> 16) & 0xFF;
}

// The seven passes of Adam7: first row, row step, first column, column step.
struct Pass {
    int row0, dy, x0, dx;
};
constexpr Pass Adam7[7] = {{0, 8, 0, 8}, {0, 8, 4, 8}, {4, 8, 0, 4}, {0, 4, 2, 4},
                           {2, 4, 0, 2}, {0, 2, 1, 2}, {1, 2, 0, 1}};
constexpr Pass WholeImage = {0, 1, 0, 1};

int PassCount(int size, int first, int step) {
    return size > first ? (size - first + step - 1) / step : 0;
}

// The five row-sized work areas in one allocation, each part on a 32-byte boundary.
class RowBuffers {
public:
    RowBuffers(std::size_t rowBytes) {
        FPart = (rowBytes + 31) & ~static_cast<std::size_t>(31);
        const std::size_t total = FPart * 4 + 256 * sizeof(std::uint32_t);
        FBlock = static_cast<std::uint8_t*>(::operator new (total, std::align_val_t{32}));
        std::memset(FBlock, 0, total);
    }
    ~RowBuffers() { ::operator delete (FBlock, std::align_val_t{32}); }
    RowBuffers(const RowBuffers&) = delete;
    RowBuffers& operator=(const RowBuffers&) = delete;

    std::uint8_t* Part(int i) const { return FBlock + FPart * static_cast<std::size_t>(i); }
    std::uint32_t* Histogram() const { return reinterpret_cast<std::uint32_t*>(FBlock + FPart * 4); }

private:
    std::size_t FPart = 0;
    std::uint8_t* FBlock = nullptr;
};

} // namespace

TPngTimeStamp CurrentUtcTimeStamp(std::chrono::system_clock::time_point when) {
    const std::time_t now = std::chrono::system_clock::to_time_t(when);
    std::tm utc{};
    gmtime_r(&now, &utc);
    TPngTimeStamp t;
    t.year = static_cast<std::uint16_t>(utc.tm_year + 1900);
    t.month = static_cast<std::uint8_t>(utc.tm_mon + 1);
    t.day = static_cast<std::uint8_t>(utc.tm_mday);
    t.hour = static_cast<std::uint8_t>(utc.tm_hour);
    t.minute = static_cast<std::uint8_t>(utc.tm_min);
    t.second = static_cast<std::uint8_t>(utc.tm_sec);
    return t;
}

struct TPngWriteStream::Layout {
    const TBitmap* source = nullptr;
    int width = 0, height = 0;
    int sourceBits = 24;
    int imageBits = 24;
    bool gray = false;
    bool alpha = false;
    const TBitmap* alphaBitmap = nullptr;
    bool imageAlpha = false; // the alpha samples are the 32-bit image's fourth bytes
    int bitDepth = 8;
    int colourType = 2;
    int outputBits = 24;
    std::size_t stride = 0;
    bool interlaced = false;
    std::vector<TPaletteEntry> palette;
};

TPngWriteStream::TPngWriteStream() = default;
TPngWriteStream::~TPngWriteStream() = default;

void TPngWriteStream::SetIDATSize(int value) {
    if (value < 256 || value > 100000) throw EPngError(Tr(IDATSizeErrorText));
    FIdatSize = value;
}

void TPngWriteStream::WriteChunk(const char type[4], const void* data, std::uint32_t length) {
    const auto* typeBytes = reinterpret_cast<const Bytef*>(type);
    PutUInt32BE(length);
    PutUInt32BE(static_cast<std::uint32_t>(typeBytes[0]) << 24 |
                static_cast<std::uint32_t>(typeBytes[1]) << 16 |
                static_cast<std::uint32_t>(typeBytes[2]) << 8 | typeBytes[3]);
    uLong crc = crc32(0L, typeBytes, 4);
    if (data != nullptr && length > 0) {
        PutBytes(data, length);
        crc = crc32(crc, static_cast<const Bytef*>(data), length);
    }
    PutUInt32BE(static_cast<std::uint32_t>(crc));
}

void TPngWriteStream::WriteImage() {
    const TBitmap& source = *SourceBitmap();
    Layout layout;
    layout.source = &source;
    layout.width = source.Width();
    layout.height = source.Height();
    layout.sourceBits = PixelFormatToBits(source.PixelFormat());
    layout.imageBits = (layout.sourceBits == 15 || layout.sourceBits == 16) ? 24 : layout.sourceBits;
    if (AlphaBitmap != nullptr && AlphaBitmap != &source && !AlphaBitmap->Empty() &&
        AlphaBitmap->Width() == layout.width && AlphaBitmap->Height() == layout.height &&
        PixelFormatToBits(AlphaBitmap->PixelFormat()) == 8)
        layout.alphaBitmap = AlphaBitmap;
    layout.imageAlpha = ImageAlpha && !layout.alphaBitmap && layout.sourceBits == 32;
    const bool alpha = layout.alphaBitmap || layout.imageAlpha;
    layout.interlaced = Interlace == 1;
    if (layout.sourceBits <= 8) layout.palette = ReadPalette(source);

    layout.gray = Grayscale;
    if (!layout.gray) {
        if (layout.sourceBits <= 8) {
            layout.bitDepth = layout.sourceBits;
            layout.colourType = 3;
            layout.outputBits = layout.sourceBits;
        } else if (alpha) {
            layout.colourType = 6;
            layout.alpha = true;
            layout.outputBits = 32;
        } else {
            layout.colourType = 2;
            layout.outputBits = 24;
        }
    } else {
        if (layout.sourceBits > 8) layout.imageBits = 8;
        layout.bitDepth = layout.sourceBits <= 8 ? layout.sourceBits : 8;
        layout.colourType = 0;
        layout.outputBits = layout.bitDepth;
        if (layout.bitDepth == 8 && alpha) {
            layout.colourType = 4;
            layout.alpha = true;
            layout.outputBits = 16;
        }
    }
    if (!layout.alpha) layout.alphaBitmap = nullptr;
    if (!layout.alpha) layout.imageAlpha = false;
    layout.stride = RowStrideBytes(layout.width, layout.imageBits);

    BeginProgress();
    BeginStage(10, 30);
    if (WriteSignature) {
        static constexpr std::uint8_t signature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
        PutBytes(signature, sizeof signature);
    }
    WriteHeaderChunks(layout);
    StepProgress(10);
    if (!Stopped()) {
        WriteImageData(layout);
        if (!Stopped()) {
            WriteChunk("IEND", nullptr, 0);
            EndProgress();
        }
    }
}

void TPngWriteStream::WriteHeaderChunks(const Layout& layout) {
    std::vector<std::uint8_t> data;
    Put32(data, static_cast<std::uint32_t>(layout.width));
    Put32(data, static_cast<std::uint32_t>(layout.height));
    data.push_back(static_cast<std::uint8_t>(layout.bitDepth));
    data.push_back(static_cast<std::uint8_t>(layout.colourType));
    data.push_back(0);
    data.push_back(0);
    data.push_back(layout.interlaced ? 1 : 0);
    WriteChunk("IHDR", data.data(), 13);
    WriteTimeAndTextChunks();
    WriteColourSpaceChunks(layout);
    WritePaletteChunks(layout);
    WritePhysicalSizeChunk();
}

void TPngWriteStream::WriteTimeAndTextChunks() {
    std::vector<std::uint8_t> data;
    TPngTimeStamp time;
    bool haveTime = false;
    if (UseCurrentTime) {
        time = Clock ? CurrentUtcTimeStamp(Clock()) : CurrentUtcTimeStamp();
        haveTime = true;
    } else if (TimeStamp != nullptr) {
        time = *TimeStamp;
        haveTime = true;
    }
    if (haveTime && ValidTime(time)) {
        Put16(data, time.year);
        data.insert(data.end(), {time.month, time.day, time.hour, time.minute, time.second});
        WriteChunk("tIME", data.data(), 7);
    }

    auto text = [&](const std::string& keyword, const std::string& value) {
        if (keyword.size() > 79) return;
        data.assign(keyword.begin(), keyword.end());
        data.push_back(0);
        data.insert(data.end(), value.begin(), value.end());
        WriteChunk("tEXt", data.data(), static_cast<std::uint32_t>(data.size()));
    };
    if (!Comment.empty()) text("Comment", Comment);
    text("Software", SoftwareName);

    data.assign(
        {'K', 'R', 'V', '3', static_cast<std::uint8_t>(!RowKey.empty() && OnRowWrite ? 1 : 0), 0, 0, 0});
    WriteChunk("kvNG", data.data(), 8);

    if (GifControl != nullptr &&
        ((*GifControl)[0] | (*GifControl)[1] | (*GifControl)[2] | (*GifControl)[3]) != 0)
        WriteChunk("gIFg", GifControl->data(), 4);
}

void TPngWriteStream::WriteColourSpaceChunks(const Layout& layout) {
    std::vector<std::uint8_t> data;
    const double gamma = std::trunc(Gamma * 100000.0);
    if (gamma > 0 && gamma <= 4294967295.0) {
        Put32(data, static_cast<std::uint32_t>(gamma));
        WriteChunk("gAMA", data.data(), 4);
    }

    if (Chromaticities != nullptr && (*Chromaticities)[0] != 0 && (*Chromaticities)[1] != 0) {
        data.clear();
        for (std::uint32_t v : *Chromaticities)
            Put32(data, v);
        WriteChunk("cHRM", data.data(), 32);
    }

    if (SignificantBits > 0 && !layout.gray) {
        const auto bits = static_cast<std::uint32_t>(SignificantBits);
        std::uint8_t sbit[4] = {static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8),
                                static_cast<std::uint8_t>(bits >> 16), static_cast<std::uint8_t>(bits >> 24)};
        if (layout.sourceBits == 15 || layout.sourceBits == 16) {
            sbit[0] = 5;
            sbit[1] = layout.sourceBits == 15 ? 5 : 6;
            sbit[2] = 5;
            sbit[3] = 8;
        }
        WriteChunk("sBIT", sbit, layout.alpha ? 4 : 3);
    }
}

void TPngWriteStream::WritePaletteChunks(const Layout& layout) {
    std::vector<std::uint8_t> data;
    // A palette is cut to the entries the bit depth can index.
    const std::size_t paletteEntries =
        std::min<std::size_t>(layout.palette.size(), std::size_t{1} << std::min(layout.sourceBits, 8));
    if (!layout.gray && layout.sourceBits <= 8 && paletteEntries > 0) {
        for (std::size_t i = 0; i < paletteEntries; ++i)
            data.insert(data.end(), {layout.palette[i].red, layout.palette[i].green, layout.palette[i].blue});
        WriteChunk("PLTE", data.data(), static_cast<std::uint32_t>(data.size()));
    }

    // bKGD and tRNS colours: false when the colour gives no chunk.
    auto colourData = [&](TColor colour, bool transparency) {
        data.clear();
        if (layout.gray) {
            int red = RedOf(colour), green = GreenOf(colour), blue = BlueOf(colour);
            if (IsPaletteIndexColor(colour) && layout.sourceBits <= 8) {
                const std::size_t index = static_cast<std::size_t>(colour & 0xFF);
                if (index >= layout.palette.size()) return false;
                red = layout.palette[index].red;
                green = layout.palette[index].green;
                blue = layout.palette[index].blue;
            }
            unsigned y = GrayValue(static_cast<unsigned>(red), static_cast<unsigned>(green),
                                   static_cast<unsigned>(blue));
            if (layout.sourceBits == 1)
                y = y >= 128 ? 1 : 0;
            else if (layout.sourceBits == 4)
                y /= 16;
            Put16(data, y);
            return true;
        }
        if (layout.sourceBits <= 8) {
            const int index =
                IsPaletteIndexColor(colour)
                    ? (colour & 0xFF)
                    : NearestPaletteIndex(layout.palette, RedOf(colour), GreenOf(colour), BlueOf(colour));
            // An index outside the written palette would make the file invalid.
            if (index < 0 || static_cast<std::size_t>(index) >= paletteEntries) return false;
            if (transparency) {
                data.assign(static_cast<std::size_t>(index) + 1, 255);
                data[static_cast<std::size_t>(index)] = 0;
            } else {
                data.push_back(static_cast<std::uint8_t>(index));
            }
            return true;
        }
        Put16(data, static_cast<unsigned>(RedOf(colour)));
        Put16(data, static_cast<unsigned>(GreenOf(colour)));
        Put16(data, static_cast<unsigned>(BlueOf(colour)));
        return true;
    };
    if (BackgroundColor != clNone && colourData(BackgroundColor, false))
        WriteChunk("bKGD", data.data(), static_cast<std::uint32_t>(data.size()));
    if (TransparentColor != clNone && !layout.alpha && colourData(TransparentColor, true))
        WriteChunk("tRNS", data.data(), static_cast<std::uint32_t>(data.size()));
}

void TPngWriteStream::WritePhysicalSizeChunk() {
    std::vector<std::uint8_t> data;
    if (PhysX > 0 && PhysY > 0) {
        std::uint32_t x = static_cast<std::uint32_t>(PhysX), y = static_cast<std::uint32_t>(PhysY);
        std::uint8_t unit = 0;
        if (PhysUnit == 1) {
            unit = 1;
        } else if (PhysUnit == 2) {
            x = static_cast<std::uint32_t>(std::trunc(PhysX * 100.0 / 254.0 * 100.0));
            y = static_cast<std::uint32_t>(std::trunc(PhysY * 100.0 / 254.0 * 100.0));
            unit = 1;
        }
        Put32(data, x);
        Put32(data, y);
        data.push_back(unit);
        WriteChunk("pHYs", data.data(), 9);
    }
}

void TPngWriteStream::WriteImageData(const Layout& layout) {
    const std::size_t rowArea = RowStrideBytes(layout.width, layout.outputBits) + 8;
    RowBuffers buffers(rowArea);
    std::uint8_t* raw = buffers.Part(0);
    std::uint8_t* prior = buffers.Part(1);
    std::uint8_t* chosen = buffers.Part(2);
    std::uint8_t* candidate = buffers.Part(3);

    const int level = (CompressionLevel >= 0 && CompressionLevel <= 9) ? CompressionLevel : -1;
    auto idat = [this](const std::uint8_t* data, std::size_t length) {
        WriteChunk("IDAT", data, static_cast<std::uint32_t>(length));
    };
    // Bands deflated on several cores when there are cores and bands to share; else the one stream.
    const std::size_t imageBytes = static_cast<std::size_t>(layout.height) * (rowArea - 7);
    const int threads =
        Threads > 0 ? Threads : static_cast<int>(std::min(8u, std::thread::hardware_concurrency()));
    const bool parallel = threads > 1 && imageBytes >= 2 * ParallelDeflateWriter::kBandBytes;
    DeflateWriter deflater;
    ParallelDeflateWriter bands;
    if (parallel)
        bands.Setup(level, FIdatSize, idat, threads);
    else
        deflater.Setup(level, FIdatSize, idat);
    auto compress = [&](const std::uint8_t* data, std::size_t length) {
        return parallel ? bands.Write(data, length) : deflater.Write(data, length);
    };
    auto finish = [&] { parallel ? bands.Finish() : deflater.Finish(); };

    PngFilterSelector selector;
    selector.mode = FilterMode & 0xFF;
    selector.bitsPerPixel = layout.outputBits;
    selector.imageBits = layout.imageBits;
    selector.histogram = buffers.Histogram();

    const PngRowConverter converter(*layout.source, layout.sourceBits, layout.gray, layout.alpha,
                                    layout.alphaBitmap);

    const Pass* passes = layout.interlaced ? Adam7 : &WholeImage;
    const int passCount = layout.interlaced ? 7 : 1;
    int totalRows = 0;
    for (int p = 0; p < passCount; ++p) {
        if (PassCount(layout.width, passes[p].x0, passes[p].dx) > 0)
            totalRows += PassCount(layout.height, passes[p].row0, passes[p].dy);
    }
    BeginStage(totalRows, 0);

    const bool hook = !RowKey.empty() && static_cast<bool>(OnRowWrite);
    const bool unfiltered = selector.mode != 0 && (selector.mode == 1 || selector.mode > 5);
    int rowCounter = 1;
    try {
        bool stop = false;
        for (int p = 0; p < passCount && !stop; ++p) {
            const Pass& pass = passes[p];
            const int passWidth = PassCount(layout.width, pass.x0, pass.dx);
            const int passRows = PassCount(layout.height, pass.row0, pass.dy);
            if (passWidth == 0 || passRows == 0) continue;
            const std::size_t rawLength =
                (static_cast<std::size_t>(passWidth) * static_cast<std::size_t>(layout.outputBits) + 7) / 8;
            std::memset(prior, 0, rawLength);
            for (int r = 0; r < passRows; ++r) {
                const int y = pass.row0 + r * pass.dy;
                if (unfiltered) {
                    // Filter type None needs neither the row above nor a copy: the row is converted in place.
                    chosen[0] = PngFilterNone;
                    converter.Convert(y, pass.x0, pass.dx, passWidth, chosen + 1);
                    if (hook)
                        OnRowWrite(*this, chosen + 1, RowKey, rowCounter - 1, static_cast<int>(rawLength));
                } else {
                    converter.Convert(y, pass.x0, pass.dx, passWidth, raw);
                    if (hook) OnRowWrite(*this, raw, RowKey, rowCounter - 1, static_cast<int>(rawLength));
                    selector.Select(raw, prior, rawLength, chosen, candidate);
                    std::swap(raw, prior);
                }
                if (!compress(chosen, rawLength + 1)) throw EPngError(Tr(WriteErrorText));
                if (rowCounter % 4 == 2 || layout.height < 4) StepProgress(rowCounter);
                ++rowCounter;
                if (Stopped()) {
                    stop = true;
                    break;
                }
            }
        }
    } catch (...) {
        // The stream is still finished; a second failure of the target here must not hide the first.
        try {
            finish();
        } catch (...) {
        }
        throw;
    }
    finish();
}

} // namespace korvane
