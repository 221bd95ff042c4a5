#include "imaging/PngFilters.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace korvane {

void FilterSub(const std::uint8_t* raw, std::uint8_t* out, std::size_t n, std::size_t bpp) {
    const std::size_t lead = std::min(bpp, n);
    std::memcpy(out, raw, lead);
    for (std::size_t i = lead; i < n; ++i)
        out[i] = static_cast<std::uint8_t>(raw[i] - raw[i - bpp]);
}

void FilterUp(const std::uint8_t* raw, const std::uint8_t* prior, std::uint8_t* out, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        out[i] = static_cast<std::uint8_t>(raw[i] - prior[i]);
}

void FilterAverage(const std::uint8_t* raw, const std::uint8_t* prior, std::uint8_t* out, std::size_t n,
                   std::size_t bpp) {
    const std::size_t lead = std::min(bpp, n);
    for (std::size_t i = 0; i < lead; ++i)
        out[i] = static_cast<std::uint8_t>(raw[i] - (prior[i] >> 1));
    for (std::size_t i = lead; i < n; ++i)
        out[i] = static_cast<std::uint8_t>(raw[i] - ((raw[i - bpp] + prior[i]) >> 1));
}

void FilterPaeth(const std::uint8_t* raw, const std::uint8_t* prior, std::uint8_t* out, std::size_t n,
                 std::size_t bpp) {
    const std::size_t lead = std::min(bpp, n);
    // With a = c = 0 the predictor is b.
    for (std::size_t i = 0; i < lead; ++i)
        out[i] = static_cast<std::uint8_t>(raw[i] - prior[i]);
    for (std::size_t i = lead; i < n; ++i)
        out[i] = static_cast<std::uint8_t>(raw[i] - PaethPredictor(raw[i - bpp], prior[i], prior[i - bpp]));
}

int RowScore(const std::uint8_t* row, std::size_t length, int bitsPerPixel, std::uint32_t* histogram) {
    if (length == 0) return -1;
    // Four partial counts, so that runs of one value (white page, flat areas) do not wait on one counter.
    std::uint32_t partial[4][256] = {};
    std::size_t i = 0;
    for (; i + 4 <= length; i += 4) {
        ++partial[0][row[i]];
        ++partial[1][row[i + 1]];
        ++partial[2][row[i + 2]];
        ++partial[3][row[i + 3]];
    }
    for (; i < length; ++i)
        ++partial[0][row[i]];
    for (int v = 0; v < 256; ++v)
        histogram[v] = partial[0][v] + partial[1][v] + partial[2][v] + partial[3][v];
    unsigned distinct = 0;
    std::uint32_t f1 = 0, f2 = 0, f3 = 0;
    for (int v = 0; v < 256; ++v) {
        const std::uint32_t count = histogram[v];
        if (count == 0) continue;
        ++distinct;
        if (count >= f1) {
            f3 = f2;
            f2 = f1;
            f1 = count;
        } else if (count >= f2) {
            f3 = f2;
            f2 = count;
        } else if (count > f3) {
            f3 = count;
        }
    }
    if (distinct <= 8 || static_cast<std::uint64_t>(f1) * 100 / length >= 90) return -1;
    const double l = static_cast<double>(length);
    const double d = static_cast<double>(distinct);
    const double score = bitsPerPixel < 8
                             ? (l / 1.5) / d * 1500.0 + (f1 + f2) / l * 1000.0
                             : (l / 1.5) / d * 1000.0 + (static_cast<double>(f1) + f2 + f3) / l * 1000.0;
    return static_cast<int>(score);
}

namespace {

void Filter(std::uint8_t type, const std::uint8_t* raw, const std::uint8_t* prior, std::size_t n,
            std::size_t bpp, std::uint8_t* out) {
    out[0] = type;
    switch (type) {
    case PngFilterSub:
        FilterSub(raw, out + 1, n, bpp);
        break;
    case PngFilterUp:
        FilterUp(raw, prior, out + 1, n);
        break;
    case PngFilterAverage:
        FilterAverage(raw, prior, out + 1, n, bpp);
        break;
    case PngFilterPaeth:
        FilterPaeth(raw, prior, out + 1, n, bpp);
        break;
    default:
        std::memcpy(out + 1, raw, n);
        break;
    }
}

} // namespace

void PngFilterSelector::Select(const std::uint8_t* raw, const std::uint8_t* prior, std::size_t n,
                               std::uint8_t*& chosen, std::uint8_t*& candidate) const {
    const std::size_t bpp = static_cast<std::size_t>((bitsPerPixel + 7) / 8);
    const int m = mode & 0xFF;
    if (m >= 1 && m <= 5) {
        Filter(static_cast<std::uint8_t>(m - 1), raw, prior, n, bpp, chosen);
        return;
    }
    if (m != 0) {
        Filter(PngFilterNone, raw, prior, n, bpp, chosen);
        return;
    }
    Filter(PngFilterNone, raw, prior, n, bpp, chosen);
    int best = RowScore(chosen, n + 1, bitsPerPixel, histogram);
    if (best == -1 || imageBits == 4) return;
    if (imageBits == 1 || imageBits == 8) best *= 2;
    for (std::uint8_t type = PngFilterSub; type <= PngFilterPaeth; ++type) {
        Filter(type, raw, prior, n, bpp, candidate);
        const int score = RowScore(candidate, n + 1, bitsPerPixel, histogram);
        if (score == -1) {
            std::swap(chosen, candidate);
            return;
        }
        if (score > best) {
            best = score;
            std::swap(chosen, candidate);
        }
    }
}

} // namespace korvane
