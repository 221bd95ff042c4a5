#pragma once
// The address of a browser that runs elsewhere: its DevTools WebSocket (ws://host:port/devtools/browser/ID)
// or the HTTP server in front of it (http://host:port), which names the WebSocket at /json/version.
#include <optional>
#include <string>
#include <string_view>

namespace korvane {

struct TDevToolsAddress {
    bool WebSocket = false; // ws:, else http:
    std::string Host;       // without the brackets of an IPv6 address
    std::string Port;       // "80" when the address names none
    std::string Path;       // "/" at least
    // host:port as a Host header gives it (IPv6 in brackets).
    std::string HostAndPort() const;
};

// The host and optional port of an address's authority ("name:port", "1.2.3.4", "[::1]:9222"), without a
// user. Nullopt when it is none; `error` then says what is wrong.
struct THostAndPort {
    std::string Host; // without the brackets of an IPv6 address
    std::string Port; // empty when the authority names none
};
std::optional<THostAndPort> ParseHostAndPort(std::string_view authority, std::string* error = nullptr);

// Nullopt for anything but a ws: or http: address with a host; `error` then says what is wrong.
std::optional<TDevToolsAddress> ParseDevToolsAddress(std::string_view text, std::string* error = nullptr);

} // namespace korvane
