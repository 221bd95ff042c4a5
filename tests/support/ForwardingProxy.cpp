#include "tests/support/ForwardingProxy.h"

#include "browser/Base64.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace korvane::testing {
namespace {

THttpResponse BadGateway(const std::string& why) {
    return MakeResponse(502, "text/plain", "proxy: " + why);
}

} // namespace

TForwardingProxy::TForwardingProxy() {
    FServer.Route("*", [this](const THttpRequest& request) { return Forward(request); });
}

void TForwardingProxy::RequireCredentials(const std::string& user, const std::string& password) {
    FAuthorization = "Basic " + EncodeBase64(user + ":" + password);
}

THttpResponse TForwardingProxy::Forward(const THttpRequest& request) const {
    if (FAuthorization && request.Header("proxy-authorization") != *FAuthorization) {
        THttpResponse challenge = MakeResponse(407, "text/plain", "proxy credentials needed");
        challenge.Headers.emplace_back("Proxy-Authenticate", "Basic realm=\"test proxy\"");
        return challenge;
    }
    // "http://host[:port]/path"
    const std::string& target = request.Target;
    if (target.rfind("http://", 0) != 0) return BadGateway("not a proxy request: " + target);
    const std::size_t slash = target.find('/', 7);
    const std::string authority =
        target.substr(7, slash == std::string::npos ? std::string::npos : slash - 7);
    const std::string path = slash == std::string::npos ? "/" : target.substr(slash);
    const std::size_t colon = authority.rfind(':');
    const int port = colon == std::string::npos ? 80 : std::atoi(authority.c_str() + colon + 1);

    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (fd >= 0) ::close(fd);
        return BadGateway("cannot reach port " + std::to_string(port));
    }
    std::string out =
        request.Method + " " + path + " HTTP/1.1\r\nHost: " + authority + "\r\nConnection: close\r\n";
    for (const auto& [name, value] : request.Headers)
        if (name != "host" && name != "connection" && name.rfind("proxy-", 0) != 0)
            out += name + ": " + value + "\r\n";
    if (!request.Body.empty()) out += "content-length: " + std::to_string(request.Body.size()) + "\r\n";
    out += "\r\n" + request.Body;
    for (std::size_t sent = 0; sent < out.size();) {
        const ssize_t n = ::send(fd, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
    }
    // The answer: its head, then as many bytes as it says it has.
    std::string in;
    char buffer[65536];
    std::size_t bodyAt = std::string::npos, length = std::string::npos;
    while (bodyAt == std::string::npos || in.size() < bodyAt + length) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        in.append(buffer, static_cast<std::size_t>(n));
        if (bodyAt == std::string::npos && (bodyAt = in.find("\r\n\r\n")) != std::string::npos) {
            bodyAt += 4;
            std::string head = in.substr(0, bodyAt);
            for (char& c : head)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            const std::size_t field = head.find("\r\ncontent-length:");
            length = field == std::string::npos ? 0 : std::strtoul(head.c_str() + field + 17, nullptr, 10);
        }
    }
    ::close(fd);
    if (bodyAt == std::string::npos) return BadGateway("no answer from port " + std::to_string(port));
    THttpResponse response;
    response.Status = std::atoi(in.c_str() + in.find(' ') + 1);
    response.Body = in.substr(bodyAt, length);
    // The content type, and the headers a page may depend on.
    std::size_t line = in.find("\r\n") + 2;
    while (line < bodyAt - 2) {
        const std::size_t end = in.find("\r\n", line);
        const std::string header = in.substr(line, end - line);
        const std::size_t separator = header.find(':');
        std::string name = header.substr(0, separator);
        for (char& c : name)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const std::size_t valueAt = header.find_first_not_of(' ', separator + 1);
        const std::string value = valueAt == std::string::npos ? std::string() : header.substr(valueAt);
        if (name == "content-type")
            response.ContentType = value;
        else if (name == "www-authenticate" || name == "location" || name == "set-cookie")
            response.Headers.emplace_back(name, value);
        line = end + 2;
    }
    return response;
}

} // namespace korvane::testing
