#pragma once
// The pixel storage of a bitmap. Large blocks come straight from the system as zeroed pages marked for huge
// pages, so that a capture of hundreds of megabytes costs few page faults when it is drawn or copied.
#include <cstddef>
#include <cstdint>

namespace korvane {

class PixelMemory {
public:
    PixelMemory() = default;
    ~PixelMemory() { Release(); }
    PixelMemory(const PixelMemory&) = delete;
    PixelMemory& operator=(const PixelMemory&) = delete;
    PixelMemory(PixelMemory&& other) noexcept
        : FData(other.FData), FSize(other.FSize), FMapped(other.FMapped) {
        other.FData = nullptr;
        other.FSize = 0;
        other.FMapped = false;
    }
    PixelMemory& operator=(PixelMemory&& other) noexcept;

    // size bytes, all zero; false (and nothing held) when the memory cannot be had.
    bool AllocateZeroed(std::size_t size);
    // size bytes with undefined contents.
    bool Allocate(std::size_t size);
    void Release() noexcept;

    std::uint8_t* Data() const { return FData; }
    std::size_t Size() const { return FSize; }
    explicit operator bool() const { return FData != nullptr; }

private:
    bool AllocateBlock(std::size_t size, bool zero);

    std::uint8_t* FData = nullptr;
    std::size_t FSize = 0;
    bool FMapped = false;
};

} // namespace korvane
