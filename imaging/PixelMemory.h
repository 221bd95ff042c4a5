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
    PixelMemory(PixelMemory&& other) noexcept : data_(other.data_), size_(other.size_), mapped_(other.mapped_) {
        other.data_ = nullptr;
        other.size_ = 0;
        other.mapped_ = false;
    }
    PixelMemory& operator=(PixelMemory&& other) noexcept;

    // size bytes, all zero; false (and nothing held) when the memory cannot be had.
    bool AllocateZeroed(std::size_t size);
    // size bytes with undefined contents.
    bool Allocate(std::size_t size);
    void Release() noexcept;

    std::uint8_t* Data() const { return data_; }
    std::size_t Size() const { return size_; }
    explicit operator bool() const { return data_ != nullptr; }

private:
    bool AllocateBlock(std::size_t size, bool zero);

    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    bool mapped_ = false;
};

} // namespace korvane
