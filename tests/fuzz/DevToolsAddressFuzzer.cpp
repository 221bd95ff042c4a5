// The address of a browser that runs elsewhere: anything is taken apart or refused with a reason; what is
// taken has a host, a port of digits and a path, and its host-and-port reads back the same way.
#include "browser/DevToolsAddress.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace korvane;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string error;
    const auto address = ParseDevToolsAddress(text, &error);
    if (!address) {
        if (error.empty()) std::abort();
        return 0;
    }
    if (address->Host.empty() || address->Port.empty() || address->Path.empty() ||
        address->Path.front() != '/')
        std::abort();
    for (char c : address->Port)
        if (c < '0' || c > '9') std::abort();
    const auto again =
        ParseDevToolsAddress((address->WebSocket ? "ws://" : "http://") + address->HostAndPort() + "/");
    if (!again || again->Host != address->Host || again->Port != address->Port) std::abort();
    return 0;
}
