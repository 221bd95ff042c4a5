#pragma once
// The pixel storage of a bitmap. Large blocks come straight from the system as zeroed pages, which become
// memory only where they are drawn. They are not marked for huge pages: where the kernel has to gather (and,
// on a virtual machine, have the host provide) each 2 MiB page on its first touch, a tall capture spent more
// time in those faults than in its own drawing (measured: 1.3 s of system time for one 1024 x 40,000 page).
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
