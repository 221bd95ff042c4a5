#pragma once
// A forwarding HTTP proxy for tests, on 127.0.0.1: a request in absolute form ("GET http://host:port/path")
// is sent on to 127.0.0.1 at the request's port, whatever its host (so that names that resolve nowhere reach
// the test's servers and nothing leaves the machine), and the answer comes back. Every request is recorded
// as it came, with its headers. With credentials required, a request without them gets 407 and a challenge.
#include "tests/support/TestHttpServer.h"

#include <optional>
#include <string>
#include <vector>

namespace korvane::testing {

class TForwardingProxy {
public:
    TForwardingProxy();

    std::uint16_t Port() const { return FServer.Port(); }
    // "http://127.0.0.1:<port>"
    std::string Address() const { return FServer.Url(""); }
    void RequireCredentials(const std::string& user, const std::string& password);
    // The requests as the proxy got them (targets in absolute form).
    std::vector<THttpRequest> Requests() const { return FServer.Requests(); }

private:
    THttpResponse Forward(const THttpRequest& request) const;
    TTestHttpServer FServer;
    std::optional<std::string> FAuthorization; // the Proxy-Authorization value that is let through
};

} // namespace korvane::testing
