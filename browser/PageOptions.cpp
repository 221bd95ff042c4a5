#include "browser/PageOptions.h"

#include "platform/Text.h"

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
