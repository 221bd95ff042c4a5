#include "tests/support/TestHttpServer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace korvane::testing {
namespace {

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return std::string(s);
}

const char* Reason(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 304:
        return "Not Modified";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

bool SendAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

} // namespace

std::string THttpRequest::Header(std::string_view name) const {
    auto it = Headers.find(Lower(name));
    return it == Headers.end() ? std::string() : it->second;
}

bool THttpRequest::HasHeader(std::string_view name) const {
    return Headers.count(Lower(name)) != 0;
}

TTestHttpServer::TTestHttpServer() {
    FListenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (FListenFd < 0) throw std::runtime_error("test server: socket failed");
    int one = 1;
    ::setsockopt(FListenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (::bind(FListenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(FListenFd, 64) != 0) {
        ::close(FListenFd);
        throw std::runtime_error("test server: cannot listen on 127.0.0.1");
    }
    socklen_t len = sizeof addr;
    ::getsockname(FListenFd, reinterpret_cast<sockaddr*>(&addr), &len);
    FPort = ntohs(addr.sin_port);
    FAcceptor = std::thread([this] { AcceptLoop(); });
}

TTestHttpServer::~TTestHttpServer() {
    Stop();
}

std::string TTestHttpServer::Url(std::string_view path) const {
    return "http://127.0.0.1:" + std::to_string(FPort) + std::string(path);
}

void TTestHttpServer::Route(const std::string& path, THttpResponse response) {
    Route(path, [response](const THttpRequest&) { return response; });
}

void TTestHttpServer::Route(const std::string& path, THttpHandler handler) {
    std::lock_guard lock(FMutex);
    FRoutes[path] = std::move(handler);
}

std::vector<THttpRequest> TTestHttpServer::Requests() const {
    std::lock_guard lock(FMutex);
    return FRequests;
}

std::vector<THttpRequest> TTestHttpServer::RequestsFor(std::string_view path) const {
    std::lock_guard lock(FMutex);
    std::vector<THttpRequest> out;
    for (const auto& r : FRequests)
        if (r.Path == path) out.push_back(r);
    return out;
}

void TTestHttpServer::ClearRequests() {
    std::lock_guard lock(FMutex);
    FRequests.clear();
}

void TTestHttpServer::Stop() {
    std::vector<std::thread> workers;
    {
        std::lock_guard lock(FMutex);
        if (FStopping) return;
        FStopping = true;
        for (int fd : FOpenFds)
            ::shutdown(fd, SHUT_RDWR);
        ::shutdown(FListenFd, SHUT_RDWR);
    }
    FStopped.notify_all();
    if (FAcceptor.joinable()) FAcceptor.join();
    {
        std::lock_guard lock(FMutex);
        workers.swap(FWorkers);
    }
    for (auto& t : workers)
        t.join();
    ::close(FListenFd);
}

bool TTestHttpServer::WaitUnlessStopped(std::chrono::milliseconds delay) {
    std::unique_lock lock(FMutex);
    if (delay.count() < 0) {
        FStopped.wait(lock, [this] { return FStopping; });
        return false;
    }
    return !FStopped.wait_for(lock, delay, [this] { return FStopping; });
}

void TTestHttpServer::AcceptLoop() {
    for (;;) {
        pollfd p{FListenFd, POLLIN, 0};
        int r = ::poll(&p, 1, 200);
        {
            std::lock_guard lock(FMutex);
            if (FStopping) return;
        }
        if (r <= 0) continue;
        int fd = ::accept4(FListenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        std::lock_guard lock(FMutex);
        if (FStopping) {
            ::close(fd);
            return;
        }
        FOpenFds.push_back(fd);
        FWorkers.emplace_back([this, fd] { Serve(fd); });
    }
}

void TTestHttpServer::Serve(int fd) {
    std::string buffer;
    char chunk[8192];
    bool keepAlive = true;
    while (keepAlive) {
        // Read one request head.
        std::size_t headEnd;
        while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
            ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) goto done;
            buffer.append(chunk, static_cast<std::size_t>(n));
        }
        THttpRequest req;
        {
            std::string_view head(buffer.data(), headEnd);
            std::size_t lineEnd = head.find("\r\n");
            std::string_view line = head.substr(0, lineEnd);
            std::size_t sp1 = line.find(' ');
            std::size_t sp2 = line.find(' ', sp1 + 1);
            if (sp1 == std::string_view::npos || sp2 == std::string_view::npos) goto done;
            req.Method = std::string(line.substr(0, sp1));
            req.Target = std::string(line.substr(sp1 + 1, sp2 - sp1 - 1));
            req.Path = req.Target.substr(0, req.Target.find('?'));
            std::size_t pos = lineEnd == std::string_view::npos ? head.size() : lineEnd + 2;
            while (pos < head.size()) {
                std::size_t e = head.find("\r\n", pos);
                if (e == std::string_view::npos) e = head.size();
                std::string_view h = head.substr(pos, e - pos);
                std::size_t colon = h.find(':');
                if (colon != std::string_view::npos)
                    req.Headers[Lower(Trim(h.substr(0, colon)))] = Trim(h.substr(colon + 1));
                pos = e + 2;
            }
        }
        buffer.erase(0, headEnd + 4);
        std::size_t contentLength = 0;
        if (auto cl = req.Header("content-length"); !cl.empty()) contentLength = std::stoul(cl);
        while (buffer.size() < contentLength) {
            ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) goto done;
            buffer.append(chunk, static_cast<std::size_t>(n));
        }
        req.Body = buffer.substr(0, contentLength);
        buffer.erase(0, contentLength);
        keepAlive = Lower(req.Header("connection")) != "close";

        THttpHandler handler;
        {
            std::lock_guard lock(FMutex);
            FRequests.push_back(req);
            auto it = FRoutes.find(req.Path);
            if (it == FRoutes.end()) it = FRoutes.find("*");
            if (it != FRoutes.end()) handler = it->second;
        }
        THttpResponse res;
        if (handler) {
            res = handler(req);
        } else {
            res.Status = 404;
            res.ContentType = "text/plain";
            res.Body = "not found";
        }
        if (res.Delay.count() > 0 && !WaitUnlessStopped(res.Delay)) goto done;

        std::string out = "HTTP/1.1 " + std::to_string(res.Status) + " " + Reason(res.Status) + "\r\n";
        if (!res.ContentType.empty()) out += "Content-Type: " + res.ContentType + "\r\n";
        for (const auto& [name, value] : res.Headers)
            out += name + ": " + value + "\r\n";
        if (res.NeverFinish) {
            // Promise far more than is ever sent, so the client keeps waiting for the rest.
            out += "Content-Length: 100000000\r\nConnection: close\r\n\r\n";
        } else {
            std::size_t length = res.Body.size();
            for (const auto& part : res.Trickle)
                length += part.size();
            out += "Content-Length: " + std::to_string(length) + "\r\n";
            out += keepAlive ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
        }
        if (req.Method != "HEAD") out += res.Body;
        if (!SendAll(fd, out)) goto done;
        if (req.Method != "HEAD")
            for (const auto& part : res.Trickle)
                if (!WaitUnlessStopped(res.TrickleGap) || !SendAll(fd, part)) goto done;
        if (res.NeverFinish) {
            WaitUnlessStopped(std::chrono::milliseconds(-1));
            goto done;
        }
    }
done : {
    std::lock_guard lock(FMutex);
    FOpenFds.erase(std::remove(FOpenFds.begin(), FOpenFds.end(), fd), FOpenFds.end());
    ::close(fd);
}
}

} // namespace korvane::testing
