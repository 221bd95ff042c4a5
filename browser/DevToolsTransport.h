#pragma once
// How DevTools messages travel between us and a browser: the pipe of a browser we started (one message per
// NUL byte) or the WebSocket of a browser that runs elsewhere (one message a text frame). The session layer
// (TChromiumBrowser) sees only this interface; everything runs on its thread.
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "browser/DevToolsReader.h"

namespace korvane {

// The longest message a browser elsewhere may send: the largest screenshot a page's band can need (a band of
// at most 64 M pixels, four bytes each, stored without compression, in base64) with room for the rest of the
// message. Anything longer ends the connection before it is taken in.
inline constexpr std::size_t kMaxDevToolsMessage = (std::size_t{64} << 20) * 4 * 65 / 64 / 3 * 4 + (1u << 20);

class IDevToolsTransport {
public:
    using TSink = std::function<void(std::string_view message)>;
    virtual ~IDevToolsTransport() = default;

    // Readable when messages may have come (or the connection ended): poll it, then Receive.
    virtual int Fd() const = 0;
    // Hands every message that has arrived to the sink, without blocking. Closed once the other side has
    // gone; `why` then says how, when the transport knows.
    virtual TDevToolsReader::TReadResult Receive(const TSink& sink, std::string* why = nullptr) = 0;
    // Sends one message. Throws EEngineError when the connection is gone or the other side stopped reading.
    virtual void SendMessage(std::string text) = 0;
    // Messages dropped for being too long.
    virtual std::size_t Oversized() const = 0;
};

// The two pipe ends of a browser we started. Owns the fds only when told so (a started browser's pipes
// belong to its process object).
std::unique_ptr<IDevToolsTransport> MakePipeTransport(int readFd, int writeFd, bool ownFds);

} // namespace korvane
