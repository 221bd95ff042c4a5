#pragma once
// The PNG encoder: writes one bitmap as a PNG stream (signature, header and ancillary chunks, image data
// compressed as one zlib stream over IDAT chunks, IEND) through the buffered graphic write stream.
#include "platform/Translate.h"
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "imaging/Bitmap.h"
#include "imaging/GraphicStream.h"
#include "imaging/PixelUtils.h"

namespace korvane {

// Failures of the PNG encoder and of its parameters.
class EPngError : public EInvalidGraphic {
public:
    using EInvalidGraphic::EInvalidGraphic;
};

// Year, month, day, hour, minute, second as a tIME chunk holds them.
struct TPngTimeStamp {
    std::uint16_t year = 0;
    std::uint8_t month = 0, day = 0, hour = 0, minute = 0, second = 0;
    friend bool operator==(const TPngTimeStamp&, const TPngTimeStamp&) = default;
};
// A moment's date and time in UTC; by default the clock's now.
TPngTimeStamp
CurrentUtcTimeStamp(std::chrono::system_clock::time_point when = std::chrono::system_clock::now());
// Where the encoders read the time from; tests put a clock of their own in its place.
using TClock = std::function<std::chrono::system_clock::time_point()>;

// White x, white y, red x, red y, green x, green y, blue x, blue y, each scaled by 100,000.
using TPngChromaticities = std::array<std::uint32_t, 8>;
using TPngGifControl = std::array<std::uint8_t, 4>;

class TPngWriteStream;
// Called with every raw row before it is filtered; the row may be changed in place.
using TPngRowWriteEvent = std::function<void(TPngWriteStream& sender, std::uint8_t* row,
                                             const std::string& rowKey, int rowNumber, int rowLength)>;

class TPngWriteStream : public TCustomGraphicWriteStream {
public:
    static constexpr const char* SoftwareName = "KRVPNG ver 3.4";
    // The English texts; the errors carry them in the user's language.
    static constexpr const char* IDATSizeErrorText =
        TrNoop("Write PNG Param: Err IDAT Size(min:256  max:100000)");
    static constexpr const char* WriteErrorText = TrNoop("Write Image (PNG): Write Error");

    TPngWriteStream();
    ~TPngWriteStream() override;

    int IDATSize() const { return FIdatSize; }
    // 256 to 100,000; anything else throws EPngError and keeps the old value.
    void SetIDATSize(int value);

    int CompressionLevel = -1; // 0 to 9; anything else is zlib's default level
    int FilterMode = 1;        // low byte: 0 adaptive, 1 None, 2 Sub, 3 Up, 4 Average, 5 Paeth; above 5 as 1
    int Interlace = 0;         // 1 Adam7; any other value writes no interlace
    // Cores the compression may use: 0 one a core (at most 8), 1 one stream on this thread (the bytes of a
    // single zlib stream). An image of fewer than two bands (ParallelDeflateWriter) is always one stream.
    int Threads = 0;
    bool Grayscale = false;
    std::string Comment;
    TColor BackgroundColor = clNone;
    TColor TransparentColor = clNone;
    double Gamma = 0;
    int SignificantBits = 0; // sBIT bytes least significant first: red or gray, green, blue, alpha
    int PhysUnit = 0;        // 0 unknown, 1 per metre, 2 per inch (written per metre)
    int PhysX = 0, PhysY = 0;
    bool UseCurrentTime = true;
    TClock Clock; // empty: the system clock
    const TPngTimeStamp* TimeStamp = nullptr;
    const TPngChromaticities* Chromaticities = nullptr;
    const TPngGifControl* GifControl = nullptr;
    const TBitmap* AlphaBitmap = nullptr;
    // A 32-bit image's fourth bytes are its alpha (straight, not premultiplied): written as colour type 6 (4
    // in gray) when no alpha bitmap is given.
    bool ImageAlpha = false;
    TPngRowWriteEvent OnRowWrite;
    std::string RowKey;
    bool WriteSignature = true;

    // Writes one chunk: length, type, data, CRC-32 over type and data.
    void WriteChunk(const char type[4], const void* data, std::uint32_t length);

protected:
    void WriteImage() override;

private:
    struct Layout;
    // The chunks before the image data, in their order: IHDR, then these.
    void WriteHeaderChunks(const Layout& layout);
    void WriteTimeAndTextChunks();                     // tIME, tEXt, kvNG, gIFg
    void WriteColourSpaceChunks(const Layout& layout); // gAMA, cHRM, sBIT
    void WritePaletteChunks(const Layout& layout);     // PLTE, bKGD, tRNS
    void WritePhysicalSizeChunk();                     // pHYs
    void WriteImageData(const Layout& layout);

    int FIdatSize = 32768;
};

} // namespace korvane
