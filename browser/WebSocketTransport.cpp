#include "browser/WebSocketTransport.h"

#include <algorithm>
#include <deque>
#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <nlohmann/json.hpp>

#include "browser/EngineError.h"
#include "platform/Translate.h"

namespace korvane {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

// A closing handshake the other side does not finish in this time is cut short.
constexpr std::chrono::seconds kClosingTime{1};
constexpr std::size_t kMaxVersionReply = 1 << 16;

// Runs the operations posted to `io` until they end (each is bounded by its stream's expiry).
void RunToEnd(asio::io_context& io) {
    io.run();
    io.restart();
}

std::string Describe(const beast::error_code& ec) {
    if (ec == beast::error::timeout) return Tr("no answer in time");
    return ec.message();
}

tcp::resolver::results_type Resolve(asio::io_context& io, const TDevToolsAddress& address) {
    tcp::resolver resolver(io);
    beast::error_code ec;
    auto results = resolver.resolve(address.Host, address.Port, ec);
    if (ec) throw EEngineError(FormatText(Tr("cannot find the host %1: %2"), {address.Host, Describe(ec)}));
    return results;
}

void Connect(asio::io_context& io, beast::tcp_stream& stream, const TDevToolsAddress& address,
             std::chrono::milliseconds timeout) {
    const auto endpoints = Resolve(io, address);
    beast::error_code ec;
    stream.expires_after(timeout);
    stream.async_connect(endpoints, [&](beast::error_code e, const tcp::endpoint&) { ec = e; });
    RunToEnd(io);
    if (ec)
        throw EEngineError(FormatText(Tr("cannot connect to %1: %2"), {address.HostAndPort(), Describe(ec)}));
}

} // namespace

std::string WebSocketPathOfVersion(unsigned status, const std::string& body, const std::string& where) {
    if (status != 200) {
        // What the server says with it, on one short line (Chromium refuses a Host header that is neither an
        // address nor localhost, and says so here).
        std::string said = body.substr(0, body.find('\n')).substr(0, 160);
        said.erase(std::remove_if(said.begin(), said.end(),
                                  [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }),
                   said.end());
        throw EEngineError(FormatText(Tr("%1 is no DevTools server: /json/version answered HTTP %2"),
                                      {where, std::to_string(status)}) +
                           (said.empty() ? std::string() : " (" + said + ")"));
    }
    const nlohmann::json version = nlohmann::json::parse(body, nullptr, false);
    std::string socket;
    if (version.is_object())
        if (auto it = version.find("webSocketDebuggerUrl"); it != version.end() && it->is_string())
            socket = it->get<std::string>();
    std::string error;
    const auto named = ParseDevToolsAddress(socket, &error);
    if (!named || !named->WebSocket)
        throw EEngineError(
            FormatText(Tr("%1 is no DevTools server: /json/version names no WebSocket"), {where}));
    return named->Path;
}

namespace {

// The path of the browser's WebSocket, as its HTTP server names it at /json/version.
std::string AskWebSocketPath(asio::io_context& io, const TDevToolsAddress& address,
                             std::chrono::milliseconds timeout) {
    beast::tcp_stream stream(io);
    Connect(io, stream, address, timeout);
    std::string base = address.Path;
    while (!base.empty() && base.back() == '/')
        base.pop_back();
    http::request<http::empty_body> request(http::verb::get, base + "/json/version", 11);
    request.set(http::field::host, address.HostAndPort());
    request.set(http::field::user_agent, "korvane-capture");
    http::response_parser<http::string_body> parser;
    parser.body_limit(kMaxVersionReply);
    beast::flat_buffer buffer;
    beast::error_code ec;
    stream.expires_after(timeout);
    http::async_write(stream, request, [&](beast::error_code e, std::size_t) {
        ec = e;
        if (!e) http::async_read(stream, buffer, parser, [&](beast::error_code e2, std::size_t) { ec = e2; });
    });
    RunToEnd(io);
    const std::string where = "http://" + address.HostAndPort() + address.Path;
    if (ec)
        throw EEngineError(
            FormatText(Tr("%1 gave no DevTools answer at /json/version: %2"), {where, Describe(ec)}));
    const auto& response = parser.get();
    return WebSocketPathOfVersion(response.result_int(), response.body(), where);
}

// Everything runs on the session layer's thread: the socket's readiness is polled with the rest of its
// fds, and Beast's work is done in Receive and SendMessage (no thread to hand messages over to and back).
class TWebSocketTransport final : public IDevToolsTransport {
public:
    TWebSocketTransport() : FSocket(FIo) {}

    ~TWebSocketTransport() override {
        if (FPollFd >= 0) {
            // A clean close when the other side still listens; a second at most.
            if (!FReadEnded && FSocket.is_open()) {
                beast::get_lowest_layer(FSocket).expires_after(std::chrono::seconds(1));
                FSocket.async_close(websocket::close_code::normal, [](beast::error_code) {});
                FIo.restart();
                FIo.run_for(std::chrono::milliseconds(1500));
            }
            ::close(FPollFd);
        }
        if (FEpoll >= 0) ::close(FEpoll);
        if (FEvent >= 0) ::close(FEvent);
    }

    void Open(const TDevToolsAddress& address, const std::string& path, std::chrono::milliseconds timeout) {
        Connect(FIo, beast::get_lowest_layer(FSocket), address, timeout);
        // Commands go out at once: several sent together would otherwise wait for the acknowledgement of the
        // first (Nagle's rule against the peer's delayed acknowledgement: up to 40 ms each time).
        beast::error_code noDelay;
        beast::get_lowest_layer(FSocket).socket().set_option(tcp::no_delay(true), noDelay);
        FSocket.set_option(websocket::stream_base::decorator([](websocket::request_type& request) {
            request.set(http::field::user_agent, "korvane-capture");
        }));
        FSocket.read_message_max(kMaxDevToolsMessage);
        FSocket.auto_fragment(false);
        beast::error_code ec;
        beast::get_lowest_layer(FSocket).expires_after(timeout);
        FSocket.async_handshake(address.HostAndPort(), path, [&](beast::error_code e) { ec = e; });
        RunToEnd(FIo);
        if (ec)
            throw EEngineError(FormatText(Tr("ws://%1%2 did not open a DevTools WebSocket: %3"),
                                          {address.HostAndPort(), path, Describe(ec)}));
        // From here on the session layer bounds every wait itself.
        beast::get_lowest_layer(FSocket).expires_never();
        websocket::stream_base::timeout none{};
        none.handshake_timeout = kClosingTime;
        none.idle_timeout = websocket::stream_base::none();
        none.keep_alive_pings = false;
        FSocket.set_option(none);
        FSocket.text(true);
        // Polled by the session layer: a descriptor of our own for the socket, valid however Beast ends its.
        // Messages that Beast took in while a command was sent are waiting, the socket shows nothing of them:
        // the fd polled is an epoll set of the socket and an event that says so.
        FPollFd = ::fcntl(beast::get_lowest_layer(FSocket).socket().native_handle(), F_DUPFD_CLOEXEC, 0);
        FEvent = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        FEpoll = ::epoll_create1(EPOLL_CLOEXEC);
        epoll_event socketReady{EPOLLIN | EPOLLRDHUP, {}}, eventReady{EPOLLIN, {}};
        socketReady.data.fd = FPollFd;
        eventReady.data.fd = FEvent;
        if (FPollFd < 0 || FEvent < 0 || FEpoll < 0 ||
            ::epoll_ctl(FEpoll, EPOLL_CTL_ADD, FPollFd, &socketReady) != 0 ||
            ::epoll_ctl(FEpoll, EPOLL_CTL_ADD, FEvent, &eventReady) != 0)
            throw EEngineError(Tr("cannot make an event for the connection"));
        ReadNext();
        PollBeast();
    }

    int Fd() const override { return FEpoll; }

    TDevToolsReader::TReadResult Receive(const TSink& sink, std::string* why) override {
        std::uint64_t count = 0;
        const ssize_t n = ::read(FEvent, &count, sizeof count);
        (void)n;
        FIo.poll();
        std::deque<std::string> arrived;
        arrived.swap(FIncoming);
        for (const auto& message : arrived)
            sink(message);
        if (FClosed) {
            if (why) *why = FCloseReason;
            return TDevToolsReader::TReadResult::Closed;
        }
        return arrived.empty() ? TDevToolsReader::TReadResult::NoData : TDevToolsReader::TReadResult::Data;
    }

    void SendMessage(std::string text) override {
        if (FClosed) throw EEngineError(FCloseReason);
        FOutgoing.push_back(std::move(text));
        if (!FWriting) WriteNext();
        // Written before the call returns, as through a pipe: what does not fit the socket now is waited for.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        PollBeast();
        while (FWriting && !FClosed) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            pollfd p{FPollFd, POLLOUT, 0};
            if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0)
                throw EEngineError(Tr("The browser stopped reading its commands"));
            PollBeast();
        }
        if (FClosed && FWriting) throw EEngineError(FCloseReason);
    }

    std::size_t Oversized() const override { return FOversized; }

private:
    // Beast's work outside Receive: what it took in (or a connection it found ended) is signalled.
    void PollBeast() {
        FIo.poll();
        if (!FIncoming.empty() || FClosed) {
            const std::uint64_t one = 1;
            const ssize_t n = ::write(FEvent, &one, sizeof one);
            (void)n;
        }
    }

    void ReadNext() {
        FSocket.async_read(FBuffer, [this](beast::error_code ec, std::size_t) {
            if (ec == websocket::error::message_too_big) ++FOversized;
            if (ec) return End(ec);
            FIncoming.push_back(beast::buffers_to_string(FBuffer.data()));
            FBuffer.clear();
            if (FBuffer.capacity() > (std::size_t{1} << 24)) FBuffer.shrink_to_fit();
            ReadNext();
        });
    }

    void WriteNext() {
        FWriting = true;
        FSocket.async_write(asio::buffer(FOutgoing.front()), [this](beast::error_code ec, std::size_t) {
            FOutgoing.pop_front();
            if (ec) return End(ec);
            if (FOutgoing.empty())
                FWriting = false;
            else
                WriteNext();
        });
    }

    void End(const beast::error_code& ec) {
        FReadEnded = true;
        if (FClosed) return;
        FClosed = true;
        if (ec == websocket::error::closed)
            FCloseReason = Tr("The browser closed the connection");
        else if (ec == websocket::error::message_too_big)
            FCloseReason =
                FormatText(Tr("The browser sent a message larger than %1 MB: the connection was ended"),
                           {std::to_string(kMaxDevToolsMessage >> 20)});
        else
            FCloseReason = FormatText(Tr("The connection to the browser was lost: %1"), {Describe(ec)});
    }

    asio::io_context FIo;
    websocket::stream<beast::tcp_stream> FSocket;
    int FPollFd = -1, FEvent = -1, FEpoll = -1;
    beast::flat_buffer FBuffer;
    std::deque<std::string> FOutgoing, FIncoming;
    bool FWriting = false, FReadEnded = false, FClosed = false;
    std::string FCloseReason;
    std::size_t FOversized = 0;
};

} // namespace

TWebSocketConnection ConnectDevTools(const TDevToolsAddress& address, std::chrono::milliseconds timeout) {
    TWebSocketConnection connection;
    {
        asio::io_context io;
        connection.Path = address.WebSocket ? address.Path : AskWebSocketPath(io, address, timeout);
    }
    auto transport = std::make_unique<TWebSocketTransport>();
    transport->Open(address, connection.Path, timeout);
    connection.Transport = std::move(transport);
    return connection;
}

} // namespace korvane
