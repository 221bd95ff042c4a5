#pragma once
// Making a picture smaller: each pixel of the result is the mean of the block of pixels it stands for. The
// picture is taken a row at a time, so that only a row of it and a row of sums are held.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace korvane {

class TBitmap;

class TBoxScaler {
public:
    // Scales width x height pixels of 3 bytes into the whole of `into`, a 24-bit bitmap no larger than the
    // picture; the channels keep their order. Throws EConvertError for a bitmap larger than the picture.
    TBoxScaler(int width, int height, TBitmap& into);
    // The picture's next row, from the top; rows past its height are ignored.
    void AddRow(const std::uint8_t* row);

private:
    TBitmap& FInto;
    int FHeight, FOutHeight;
    int FRow = 0, FOutRow = 0;
    std::vector<int> FColumns;        // the first column of each block, and the width at the end
    std::vector<std::uint64_t> FSums; // of the blocks of the result's row under way
};

} // namespace korvane
