// A screenshot of any bytes, as a browser elsewhere may send it: decoded into a band of bitmap rows or
// refused, never written outside the band.
#include "imaging/Bitmap.h"
#include "imaging/PngReader.h"
#include "imaging/RowGate.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace korvane;
    if (size < 2) return 0;
    // The first two bytes choose the band's size; the bitmap holds it and a guard row above and below.
    const int width = 1 + data[0] % 64, height = 1 + data[1] % 64;
    TBitmap bitmap;
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    bitmap.SetSize(width, height + 2);
    std::uint8_t* top = bitmap.ScanLine(0);
    std::uint8_t* bottom = bitmap.ScanLine(height + 1);
    for (int x = 0; x < width * 3; ++x)
        top[x] = bottom[x] = 0x5A;
    TRowGate gate(height + 2);
    try {
        DecodePngInto(data + 2, size - 2, bitmap.Rows(), width, height, 1, &gate);
    } catch (const EUnreadablePicture&) {
    }
    for (int x = 0; x < width * 3; ++x)
        if (top[x] != 0x5A || bottom[x] != 0x5A) std::abort();
    gate.Close();
    return 0;
}
