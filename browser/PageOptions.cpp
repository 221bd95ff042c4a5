#include "browser/PageOptions.h"

#include "browser/DevToolsAddress.h"
#include "platform/Text.h"
#include "platform/Translate.h"

#include <cctype>

namespace korvane {

std::string OriginOf(const std::string& url) {
    const auto colon = url.find("://");
    if (colon == std::string::npos) return {};
    const std::string scheme = AsciiLower(url.substr(0, colon));
    if (scheme != "http" && scheme != "https") return {};
    const std::size_t start = colon + 3;
    std::string authority = url.substr(start, url.find_first_of("/?#", start) - start);
    if (const auto at = authority.rfind('@'); at != std::string::npos) authority.erase(0, at + 1);
    authority = AsciiLower(authority);
    const std::string defaultPort = scheme == "http" ? ":80" : ":443";
    if (authority.size() > defaultPort.size() &&
        authority.compare(authority.size() - defaultPort.size(), defaultPort.size(), defaultPort) == 0)
        authority.resize(authority.size() - defaultPort.size());
    if (authority.empty()) return {};
    return scheme + "://" + authority;
}

namespace {

// %XX sequences decoded; false for a broken one.
bool PercentDecoded(const std::string& text, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[i + 1])) ||
            !std::isxdigit(static_cast<unsigned char>(text[i + 2])))
            return false;
        out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
        i += 2;
    }
    return true;
}

} // namespace

std::optional<TProxy> ParseProxyAddress(const std::string& text, std::string& why) {
    const auto colon = text.find("://");
    const std::string scheme = colon == std::string::npos ? std::string() : AsciiLower(text.substr(0, colon));
    if (scheme != "http" && scheme != "https" && scheme != "socks5") {
        why = Tr("expected http://, https:// or socks5:// and the proxy's host");
        return std::nullopt;
    }
    std::string rest = text.substr(colon + 3);
    if (!rest.empty() && rest.back() == '/') rest.pop_back();
    TProxy proxy;
    if (const auto at = rest.rfind('@'); at != std::string::npos) {
        const std::string user = rest.substr(0, at);
        const auto separator = user.find(':');
        TCredentials credentials;
        if (separator == std::string::npos || separator == 0 ||
            !PercentDecoded(user.substr(0, separator), credentials.User) ||
            !PercentDecoded(user.substr(separator + 1), credentials.Password)) {
            why = Tr("expected USER:PASSWORD@ before the host");
            return std::nullopt;
        }
        if (scheme == "socks5") {
            why = Tr("the browser cannot give a SOCKS proxy a user and password");
            return std::nullopt;
        }
        proxy.Credentials = credentials;
        rest.erase(0, at + 1);
    }
    // A host (a name, an IPv4 address or [IPv6]) and an optional port; no path.
    if (!ParseHostAndPort(rest)) {
        why = Tr("expected the proxy's host and an optional port from 1 to 65535, and nothing after them");
        return std::nullopt;
    }
    proxy.Server = scheme + "://" + rest;
    return proxy;
}

std::string MobileUserAgent(const std::string& browserAgent) {
    // "... HeadlessChrome/156.0.7412.0 Safari/537.36": the version as a phone's Chrome shows it.
    const auto at = browserAgent.find("Chrome/");
    if (at == std::string::npos) return browserAgent;
    const auto end = browserAgent.find(' ', at);
    const std::string version = browserAgent.substr(at + 7, end == std::string::npos ? end : end - at - 7);
    return "Mozilla/5.0 (Linux; Android 10; K) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/" + version +
           " Mobile Safari/537.36";
}

} // namespace korvane
