// The test server that the browser and window tests rely on: routes, recorded headers, delays, and responses
// that never finish but still let the server stop.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tests/support/TestHttpServer.h"

namespace korvane::testing {
namespace {

int Connect(std::uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    return fd;
}

// Sends a request and reads until `until` appears in the answer or the connection closes.
std::string Exchange(int fd, const std::string& request, const std::string& until) {
    EXPECT_EQ(send(fd, request.data(), request.size(), 0), static_cast<ssize_t>(request.size()));
    std::string got;
    char buf[4096];
    while (got.find(until) == std::string::npos) {
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
}

TEST(TestHttpServer, AnswersRoutesAndRecordsRequestsWithHeaders) {
    TTestHttpServer server;
    THttpResponse r;
    r.Status = 201;
    r.ContentType = "text/plain";
    r.Body = "hello";
    r.Headers = {{"X-Extra", "1"}};
    server.Route("/a", r);
    server.Route("/echo", [](const THttpRequest& q) {
        THttpResponse e;
        e.Body = q.Method + " " + q.Target + " " + q.Header("X-Test") + " " + q.Body;
        return e;
    });
    EXPECT_EQ(server.Url("/a"), "http://127.0.0.1:" + std::to_string(server.Port()) + "/a");
    int fd = Connect(server.Port());
    std::string a = Exchange(fd, "GET /a?x=1 HTTP/1.1\r\nHost: h\r\nX-Test: Yes \r\n\r\n", "hello");
    EXPECT_EQ(a.rfind("HTTP/1.1 201 ", 0), 0u);
    EXPECT_NE(a.find("X-Extra: 1\r\n"), std::string::npos);
    EXPECT_NE(a.find("Content-Length: 5\r\n"), std::string::npos);
    // Keep-alive: the second request on the same connection.
    std::string e = Exchange(fd, "POST /echo HTTP/1.1\r\nX-Test: v\r\nContent-Length: 4\r\n\r\nbody", "body");
    EXPECT_NE(e.find("POST /echo v body"), std::string::npos);
    std::string missing =
        Exchange(fd, "GET /nope HTTP/1.1\r\nConnection: close\r\n\r\n", "\r\n\r\nnot found");
    EXPECT_EQ(missing.rfind("HTTP/1.1 404 ", 0), 0u);
    close(fd);
    auto all = server.Requests();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].Path, "/a");
    EXPECT_EQ(all[0].Target, "/a?x=1");
    EXPECT_EQ(all[0].Header("x-test"), "Yes");
    EXPECT_TRUE(all[0].HasHeader("HOST"));
    EXPECT_EQ(server.RequestsFor("/echo").size(), 1u);
    server.ClearRequests();
    EXPECT_TRUE(server.Requests().empty());
}

TEST(TestHttpServer, DelayedAndNeverFinishingResponsesEndWithTheServer) {
    auto server = std::make_unique<TTestHttpServer>();
    THttpResponse slow;
    slow.Delay = std::chrono::milliseconds(50);
    slow.Body = "late";
    server->Route("/slow", slow);
    THttpResponse never;
    never.Body = "<html>partial";
    never.NeverFinish = true;
    server->Route("/never", never);
    int a = Connect(server->Port());
    EXPECT_NE(Exchange(a, "GET /slow HTTP/1.1\r\n\r\n", "late").find("late"), std::string::npos);
    int b = Connect(server->Port());
    std::string partial = Exchange(b, "GET /never HTTP/1.1\r\n\r\n", "partial");
    EXPECT_NE(partial.find("Content-Length: 100000000"), std::string::npos);
    server.reset(); // must not wait for the response that never finishes
    char c;
    EXPECT_LE(recv(b, &c, 1, 0), 0);
    close(a);
    close(b);
}

} // namespace
} // namespace korvane::testing
