// Integer text of any bytes: a 32-bit value or none; a value read back from its decimal text is the same.
#include "platform/IntegerText.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace korvane;
    const auto value = ParseIntegerText(std::string_view(reinterpret_cast<const char*>(data), size));
    if (value && ParseIntegerText(IntToStr(*value)) != value) std::abort();
    return 0;
}
