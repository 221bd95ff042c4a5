// Base64: any text is decoded or refused; what is encoded decodes to the same bytes.
#include "browser/Base64.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace korvane;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<std::uint8_t> out;
    (void)DecodeBase64(text, out);
    std::vector<std::uint8_t> back;
    if (!DecodeBase64(EncodeBase64(text), back)) std::abort();
    if (back.size() != size ||
        (size > 0 && std::string_view(reinterpret_cast<const char*>(back.data()), size) != text))
        std::abort();
    return 0;
}
