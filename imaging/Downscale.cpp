#include "imaging/Downscale.h"

#include <algorithm>

#include "imaging/Bitmap.h"
#include "imaging/GraphicErrors.h"
#include "platform/Translate.h"

namespace korvane {

TBoxScaler::TBoxScaler(int width, int height, TBitmap& into)
    : FInto(into), FHeight(height), FOutHeight(into.Height()) {
    const int outWidth = into.Width();
    if (into.PixelFormat() != TPixelFormat::pf24bit || outWidth < 1 || FOutHeight < 1 || outWidth > width ||
        FOutHeight > height)
        throw EConvertError(Tr("The bitmap to draw into is not a 24-bit bitmap of the drawing's size"));
    FColumns.resize(static_cast<std::size_t>(outWidth) + 1);
    for (int tx = 0; tx <= outWidth; ++tx)
        FColumns[tx] = static_cast<int>(std::int64_t{tx} * width / outWidth);
    FSums.assign(static_cast<std::size_t>(outWidth) * 3, 0);
}

void TBoxScaler::AddRow(const std::uint8_t* row) {
    if (FOutRow >= FOutHeight) return;
    const int outWidth = FInto.Width();
    for (int tx = 0; tx < outWidth; ++tx)
        for (int x = FColumns[tx]; x < FColumns[tx + 1]; ++x)
            for (int c = 0; c < 3; ++c)
                FSums[tx * 3 + c] += row[static_cast<std::size_t>(x) * 3 + c];
    ++FRow;
    // The block's last row: the result's row is the blocks' means.
    const int lastRow = static_cast<int>(std::int64_t{FOutRow + 1} * FHeight / FOutHeight);
    if (FRow < lastRow) return;
    const std::uint64_t rows =
        static_cast<std::uint64_t>(lastRow - FOutRow * std::int64_t{FHeight} / FOutHeight);
    std::uint8_t* out = FInto.ScanLine(FOutRow);
    for (int tx = 0; tx < outWidth; ++tx) {
        const std::uint64_t count = rows * static_cast<std::uint64_t>(FColumns[tx + 1] - FColumns[tx]);
        for (int c = 0; c < 3; ++c)
            out[tx * 3 + c] = static_cast<std::uint8_t>((FSums[tx * 3 + c] + count / 2) / count);
    }
    std::fill(FSums.begin(), FSums.end(), 0);
    ++FOutRow;
}

} // namespace korvane
