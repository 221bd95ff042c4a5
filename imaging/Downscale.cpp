#include "imaging/Downscale.h"

#include <algorithm>

#include "imaging/Bitmap.h"

namespace korvane {

void ScaleDownInto(const std::uint8_t* pixels, std::size_t stride, int width, int height, TBitmap& into) {
    const int outWidth = into.Width(), outHeight = into.Height();
    for (int ty = 0; ty < outHeight; ++ty) {
        const int y0 = static_cast<int>(std::int64_t{ty} * height / outHeight);
        const int y1 = std::max(y0 + 1, static_cast<int>(std::int64_t{ty + 1} * height / outHeight));
        std::uint8_t* out = into.ScanLine(ty);
        for (int tx = 0; tx < outWidth; ++tx) {
            const int x0 = static_cast<int>(std::int64_t{tx} * width / outWidth);
            const int x1 = std::max(x0 + 1, static_cast<int>(std::int64_t{tx + 1} * width / outWidth));
            std::uint64_t sum[3] = {};
            for (int y = y0; y < y1; ++y)
                for (int x = x0; x < x1; ++x)
                    for (int c = 0; c < 3; ++c)
                        sum[c] += pixels[static_cast<std::size_t>(y) * stride +
                                         static_cast<std::size_t>(x) * 3 + c];
            const std::uint64_t count = std::uint64_t(y1 - y0) * std::uint64_t(x1 - x0);
            for (int c = 0; c < 3; ++c)
                out[tx * 3 + c] = static_cast<std::uint8_t>((sum[c] + count / 2) / count);
        }
    }
}

} // namespace korvane
