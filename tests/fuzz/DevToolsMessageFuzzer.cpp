// The DevTools message reader fed arbitrary bytes: split at NUL bytes in pieces of any size, each message
// parsed, none longer than the reader's limit handed out.
#include "browser/DevToolsReader.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace korvane;
    if (size == 0) return 0;
    // The first byte chooses the size of the pieces the bytes arrive in, and a small limit to be met.
    const std::size_t piece = 1 + data[0] % 64;
    TDevToolsReader reader(256 + data[0] * 16);
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
        reader.Feed(bytes.substr(at, piece));
        reader.Drain([&](std::string_view message) {
            if (message.size() > 256u + data[0] * 16u) std::abort(); // longer than the limit
            (void)ParseDevToolsMessage(message);
        });
    }
    // Whole, as one message.
    (void)ParseDevToolsMessage(bytes);
    return 0;
}
