// An image file of any bytes, as a report may find one in its folder: read for a thumbnail a row at a time,
// or refused; never more than the limits allow.
#include "imaging/ImageFileReader.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace korvane;
    static const int fd = ::memfd_create("image", MFD_CLOEXEC);
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    if (fd < 0 || ::ftruncate(fd, 0) != 0 || ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))
        std::abort();
    constexpr TImageLimits kLimits{4096, 4096};
    try {
        const auto file = OpenImageFile(path, 64, kLimits);
        if (file->Width() < 1 || file->Height() < 1 || file->Width() > kLimits.MaxWidth ||
            file->Height() > kLimits.MaxHeight)
            std::abort();
        std::vector<std::uint8_t> row(static_cast<std::size_t>(file->Width()) * 3);
        for (int y = 0; y < file->Height() && y < 64; ++y)
            file->ReadRow(row.data());
    } catch (const EUnreadablePicture&) {
    }
    return 0;
}
