#pragma once
// DevTools over the WebSocket of a browser that runs elsewhere (a container, another machine, a browser
// service). The framing is Boost.Beast's, driven on the session layer's thread: it polls the socket as it
// polls a pipe.
#include <chrono>
#include <memory>
#include <string>

#include "browser/DevToolsAddress.h"
#include "browser/DevToolsTransport.h"

namespace korvane {

struct TWebSocketConnection {
    std::unique_ptr<IDevToolsTransport> Transport;
    std::string Path; // of the WebSocket that was opened (for an http: address, the one it named)
};

// Opens the DevTools WebSocket of `address`; an http: address is first asked for it at /json/version (its
// path is used with the host and port given here: the remote side does not choose where we connect). Every
// step ends within `timeout`. Throws EEngineError saying which step failed and why.
TWebSocketConnection ConnectDevTools(const TDevToolsAddress& address, std::chrono::milliseconds timeout);

// The path of the WebSocket that a DevTools server's answer at /json/version names (HTTP status and body);
// `where` names the server in errors. Throws EEngineError for any other answer.
std::string WebSocketPathOfVersion(unsigned status, const std::string& body, const std::string& where);

} // namespace korvane
