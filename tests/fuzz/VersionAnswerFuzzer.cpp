// What a DevTools server answers at /json/version: any status and body give the WebSocket's path or a
// failure that says why, and a path that is taken is one of a WebSocket address.
#include "browser/DevToolsAddress.h"
#include "browser/EngineError.h"
#include "browser/WebSocketTransport.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace korvane;
    if (size == 0) return 0;
    const unsigned status = data[0] < 200 ? 200 : 100 + data[0];
    const std::string body(reinterpret_cast<const char*>(data) + 1, size - 1);
    try {
        const std::string path = WebSocketPathOfVersion(status, body, "http://127.0.0.1:9222");
        if (path.empty() || path.front() != '/') std::abort();
    } catch (const EEngineError& e) {
        if (std::string(e.what()).find("127.0.0.1:9222") == std::string::npos) std::abort();
    }
    return 0;
}
