#include "browser/DevToolsAddress.h"

#include <algorithm>
#include <cctype>

#include "platform/Translate.h"

namespace korvane {
namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

bool IsPort(std::string_view port) {
    if (port.empty() || port.size() > 5 ||
        !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    const int value = std::stoi(std::string(port));
    return value > 0 && value <= 65535;
}

bool IsHostName(std::string_view host) {
    return !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_';
    });
}

} // namespace

std::optional<THostAndPort> ParseHostAndPort(std::string_view authority, std::string* error) {
    auto fail = [&](std::string why) -> std::optional<THostAndPort> {
        if (error) *error = std::move(why);
        return std::nullopt;
    };
    THostAndPort result;
    std::string_view port;
    if (!authority.empty() && authority.front() == '[') {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos) return fail(Tr("the address has no host"));
        result.Host = std::string(authority.substr(1, close - 1));
        std::string_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':') return fail(Tr("the address has no valid port"));
            port = after.substr(1);
            if (!IsPort(port)) return fail(Tr("the address has no valid port"));
        }
        if (result.Host.empty() || !std::all_of(result.Host.begin(), result.Host.end(), [](char c) {
                return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.';
            }))
            return fail(Tr("the address has no host"));
    } else {
        const std::size_t colon = authority.rfind(':');
        result.Host = std::string(authority.substr(0, colon));
        if (colon != std::string_view::npos) {
            port = authority.substr(colon + 1);
            if (!IsPort(port)) return fail(Tr("the address has no valid port"));
        }
        if (!IsHostName(result.Host)) return fail(Tr("the address has no host"));
    }
    result.Port = std::string(port);
    return result;
}

std::string TDevToolsAddress::HostAndPort() const {
    const std::string host = Host.find(':') != std::string::npos ? "[" + Host + "]" : Host;
    return host + ":" + Port;
}

std::optional<TDevToolsAddress> ParseDevToolsAddress(std::string_view text, std::string* error) {
    auto fail = [&](std::string why) -> std::optional<TDevToolsAddress> {
        if (error) *error = std::move(why);
        return std::nullopt;
    };
    // Blanks and control characters have no place in an address: they would end up in the request line and
    // headers of the handshake.
    if (std::any_of(text.begin(), text.end(), [](char c) {
            const auto u = static_cast<unsigned char>(c);
            return u <= 0x20 || u == 0x7F;
        }))
        return fail(Tr("the address holds blanks or control characters"));
    TDevToolsAddress address;
    std::string_view rest;
    if (StartsWithNoCase(text, "ws://")) {
        address.WebSocket = true;
        rest = text.substr(5);
    } else if (StartsWithNoCase(text, "http://")) {
        rest = text.substr(7);
    } else if (StartsWithNoCase(text, "wss://") || StartsWithNoCase(text, "https://")) {
        return fail(Tr("encrypted connections (wss:, https:) are not supported: reach the browser through "
                       "ws: or http:"));
    } else {
        return fail(Tr("not a ws:// or http:// address"));
    }
    const std::size_t slash = rest.find_first_of("/?#");
    std::string_view authority = rest.substr(0, slash);
    address.Path = slash == std::string_view::npos ? "/" : std::string(rest.substr(slash));
    if (address.Path.front() != '/') address.Path = std::string("/") + address.Path;
    if (authority.find('@') != std::string_view::npos)
        return fail(Tr("a user name in the address is not supported"));
    const auto hostAndPort = ParseHostAndPort(authority, error);
    if (!hostAndPort) return std::nullopt;
    address.Host = hostAndPort->Host;
    address.Port = hostAndPort->Port.empty() ? "80" : hostAndPort->Port;
    return address;
}

} // namespace korvane
