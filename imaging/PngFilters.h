#pragma once
// The five PNG row filters, the row score of the adaptive choice, and the selector that produces the
// filtered row (filter-type byte first) for a filter mode.
#include <cstddef>
#include <cstdint>

namespace korvane {

enum : std::uint8_t {
    PngFilterNone = 0,
    PngFilterSub = 1,
    PngFilterUp = 2,
    PngFilterAverage = 3,
    PngFilterPaeth = 4
};

// Each writes n filtered bytes of raw (previous row prior, bpp bytes per pixel) to out.
void FilterSub(const std::uint8_t* raw, std::uint8_t* out, std::size_t n, std::size_t bpp);
void FilterUp(const std::uint8_t* raw, const std::uint8_t* prior, std::uint8_t* out, std::size_t n);
void FilterAverage(const std::uint8_t* raw, const std::uint8_t* prior, std::uint8_t* out, std::size_t n,
                   std::size_t bpp);
void FilterPaeth(const std::uint8_t* raw, const std::uint8_t* prior, std::uint8_t* out, std::size_t n,
                 std::size_t bpp);
// The predictor of the PNG standard: the nearest of a, b, c to a + b - c, ties to a, then b.
constexpr std::uint8_t PaethPredictor(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = p > a ? p - a : a - p;
    const int pb = p > b ? p - b : b - p;
    const int pc = p > c ? p - c : c - p;
    if (pa <= pb && pa <= pc) return static_cast<std::uint8_t>(a);
    if (pb <= pc) return static_cast<std::uint8_t>(b);
    return static_cast<std::uint8_t>(c);
}

// Score of a filtered row of length bytes (filter-type byte included); higher compresses better, -1 means
// "take this row": 8 or fewer distinct byte values, or one value filling 90 % of the row or more.
// histogram has 256 entries of scratch space.
int RowScore(const std::uint8_t* row, std::size_t length, int bitsPerPixel, std::uint32_t* histogram);

// Row filtering for one raw row of n bytes. chosen and candidate point to two buffers of n + 1 bytes; on
// return chosen points to the filtered row to compress (the pointers may have been swapped).
struct PngFilterSelector {
    int mode = 1;         // 0 adaptive, 1 None, 2 Sub, 3 Up, 4 Average, 5 Paeth; above 5 as 1
    int bitsPerPixel = 8; // of one output pixel
    int imageBits = 8;
    std::uint32_t* histogram = nullptr;

    void Select(const std::uint8_t* raw, const std::uint8_t* prior, std::size_t n, std::uint8_t*& chosen,
                std::uint8_t*& candidate) const;
};

} // namespace korvane
