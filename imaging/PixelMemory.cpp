#include "imaging/PixelMemory.h"

#include <cstdlib>

#include <sys/mman.h>

namespace korvane {

namespace {
// From this size on blocks are mapped pages; below it the C heap serves.
constexpr std::size_t MappedSize = std::size_t{1} << 21;
} // namespace

PixelMemory& PixelMemory::operator=(PixelMemory&& other) noexcept {
    if (this != &other) {
        Release();
        FData = other.FData;
        FSize = other.FSize;
        FMapped = other.FMapped;
        other.FData = nullptr;
        other.FSize = 0;
        other.FMapped = false;
    }
    return *this;
}

bool PixelMemory::AllocateZeroed(std::size_t size) {
    return AllocateBlock(size, true);
}

bool PixelMemory::Allocate(std::size_t size) {
    return AllocateBlock(size, false);
}

bool PixelMemory::AllocateBlock(std::size_t size, bool zero) {
    Release();
    if (size == 0) return true;
    if (size >= MappedSize) {
        // Anonymous pages are zero and only become real memory when touched.
        void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) return false;
        FData = static_cast<std::uint8_t*>(p);
        FMapped = true;
    } else {
        FData = static_cast<std::uint8_t*>(zero ? std::calloc(1, size) : std::malloc(size));
        if (FData == nullptr) return false;
        FMapped = false;
    }
    FSize = size;
    return true;
}

void PixelMemory::Release() noexcept {
    if (FData != nullptr) {
        if (FMapped)
            ::munmap(FData, FSize);
        else
            std::free(FData);
    }
    FData = nullptr;
    FSize = 0;
    FMapped = false;
}

} // namespace korvane
