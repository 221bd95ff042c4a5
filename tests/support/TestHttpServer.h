#pragma once
// A small HTTP/1.1 server for tests: listens on an ephemeral port of 127.0.0.1, answers routes set by the
// test (status, content type, body, extra headers, an optional delay, a body that streams in over a while
// or a response that never finishes) and
// records every request with its headers. One thread accepts, one thread serves each connection; the
// destructor (or Stop) ends them all, including responses that were never meant to finish.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace korvane::testing {

struct THttpRequest {
    std::string Method;
    std::string Target;                         // path and query as sent
    std::string Path;                           // without the query
    std::map<std::string, std::string> Headers; // names in lower case
    std::string Body;

    // The value of a header (name in any case), empty when it is absent.
    std::string Header(std::string_view name) const;
    bool HasHeader(std::string_view name) const;
};

struct THttpResponse {
    int Status = 200;
    std::string ContentType = "text/html; charset=utf-8";
    std::string Body;
    std::vector<std::pair<std::string, std::string>> Headers;
    std::chrono::milliseconds Delay{0}; // before the response starts
    bool NeverFinish = false;           // send the headers and Body, then hold the connection open
    // Sent after Body, one part each TrickleGap: a response that streams in over a while.
    std::vector<std::string> Trickle;
    std::chrono::milliseconds TrickleGap{0};
};

// A response of the given status, content type and body, the rest as defaulted.
inline THttpResponse MakeResponse(int status, std::string contentType, std::string body) {
    THttpResponse r;
    r.Status = status;
    r.ContentType = std::move(contentType);
    r.Body = std::move(body);
    return r;
}

using THttpHandler = std::function<THttpResponse(const THttpRequest&)>;

class TTestHttpServer {
public:
    TTestHttpServer();
    ~TTestHttpServer();
    TTestHttpServer(const TTestHttpServer&) = delete;
    TTestHttpServer& operator=(const TTestHttpServer&) = delete;

    std::uint16_t Port() const { return FPort; }
    // "http://127.0.0.1:<port>" followed by the path (which should start with "/").
    std::string Url(std::string_view path) const;

    // Routes match the request path without its query; a route for "*" answers what no other route has.
    // Unrouted paths get 404.
    void Route(const std::string& path, THttpResponse response);
    void Route(const std::string& path, THttpHandler handler);

    std::vector<THttpRequest> Requests() const;
    std::vector<THttpRequest> RequestsFor(std::string_view path) const;
    void ClearRequests();

    // Ends every connection and the listener; called by the destructor.
    void Stop();

private:
    void AcceptLoop();
    void Serve(int fd);
    bool WaitUnlessStopped(std::chrono::milliseconds delay);

    int FListenFd = -1;
    std::uint16_t FPort = 0;
    mutable std::mutex FMutex;
    std::condition_variable FStopped;
    bool FStopping = false;
    std::map<std::string, THttpHandler> FRoutes;
    std::vector<THttpRequest> FRequests;
    std::vector<int> FOpenFds;
    std::vector<std::thread> FWorkers;
    std::thread FAcceptor;
};

} // namespace korvane::testing
