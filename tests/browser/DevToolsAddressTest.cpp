// Addresses of browsers that run elsewhere, and the WebSocket that carries DevTools to them: against a
// WebSocket server of the test's own (Boost.Beast's server side), on 127.0.0.1.
#include "browser/DevToolsAddress.h"
#include "browser/ChromiumBrowser.h"
#include "browser/EngineError.h"
#include "browser/WebSocketTransport.h"

#include <gtest/gtest.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>

#include <nlohmann/json.hpp>

#include <functional>
#include <poll.h>
#include <thread>

namespace korvane {
namespace {

TEST(DevToolsAddress, TakesWsAndHttpAddressesAndRefusesTheRest) {
    auto ws = ParseDevToolsAddress("ws://127.0.0.1:9222/devtools/browser/abc");
    ASSERT_TRUE(ws);
    EXPECT_TRUE(ws->WebSocket);
    EXPECT_EQ(ws->Host, "127.0.0.1");
    EXPECT_EQ(ws->Port, "9222");
    EXPECT_EQ(ws->Path, "/devtools/browser/abc");
    auto http = ParseDevToolsAddress("HTTP://browser-1.local:9222");
    ASSERT_TRUE(http);
    EXPECT_FALSE(http->WebSocket);
    EXPECT_EQ(http->Path, "/");
    EXPECT_EQ(http->HostAndPort(), "browser-1.local:9222");
    auto v6 = ParseDevToolsAddress("ws://[::1]:9/x");
    ASSERT_TRUE(v6);
    EXPECT_EQ(v6->Host, "::1");
    EXPECT_EQ(v6->HostAndPort(), "[::1]:9");
    EXPECT_EQ(ParseDevToolsAddress("http://h")->Port, "80");
    for (const char* bad : {"", "9222", "ftp://h:1", "ws://", "ws://:9222/", "ws://h:0/", "ws://h:65536/",
                            "ws://h:x/", "http://user:pw@h:1/", "ws://[::1/", "ws://a b:1/", "file:///tmp"}) {
        std::string why;
        EXPECT_FALSE(ParseDevToolsAddress(bad, &why)) << bad;
        EXPECT_FALSE(why.empty()) << bad;
    }
    std::string why;
    EXPECT_FALSE(ParseDevToolsAddress("wss://h:1/", &why));
    EXPECT_NE(why.find("not supported"), std::string::npos) << why;
    for (const char* injected : {"ws://h:1/devtools\r\nX-Injected: 1", "ws://h:1/a b", "ws://h:1/\x7f"})
        EXPECT_FALSE(ParseDevToolsAddress(injected)) << injected;
}

TEST(DevToolsAddress, AServerNamesItsWebSocketWithoutHeadersOfItsOwn) {
    EXPECT_EQ(WebSocketPathOfVersion(200, R"({"webSocketDebuggerUrl":"ws://127.0.0.1:9/devtools/browser/a"})",
                                     "http://h:9/"),
              "/devtools/browser/a");
    EXPECT_THROW(WebSocketPathOfVersion(
                     200,
                     R"({"webSocketDebuggerUrl":"ws://127.0.0.1:9/devtools\r\nX-Injected: 1\r\n\r\nGET /x"})",
                     "http://h:9/"),
                 EEngineError);
}

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;

// A WebSocket server of one connection on 127.0.0.1, served on a thread of its own.
class TOnePeer {
public:
    using TStream = websocket::stream<asio::ip::tcp::socket>;
    explicit TOnePeer(std::function<void(TStream&)> serve)
        : FAcceptor(FIo, {asio::ip::make_address("127.0.0.1"), 0}) {
        FThread = std::thread([this, serve = std::move(serve)] {
            asio::ip::tcp::socket socket(FIo);
            beast::error_code ec;
            FAcceptor.accept(socket, ec);
            if (ec) return;
            TStream ws(std::move(socket));
            ws.accept(ec);
            if (!ec) serve(ws);
        });
    }
    ~TOnePeer() { FThread.join(); }
    std::string Url(const std::string& path) const {
        return "ws://127.0.0.1:" + std::to_string(FAcceptor.local_endpoint().port()) + path;
    }

private:
    asio::io_context FIo;
    asio::ip::tcp::acceptor FAcceptor;
    std::thread FThread;
};

// Answers every text message with the same message, and on "big" with a message of 24 MiB; on "bye" it
// closes the connection; on "huge" it begins a message too large to be taken and floods the connection.
void Echo(TOnePeer::TStream& ws) {
    ws.read_message_max(1 << 20);
    beast::error_code ec;
    while (!ec) {
        beast::flat_buffer buffer;
        ws.read(buffer, ec);
        if (ec) break;
        std::string text = beast::buffers_to_string(buffer.data());
        if (text == "bye") {
            ws.close(websocket::close_code::normal, ec);
            break;
        }
        if (text == "huge") {
            // A frame that claims 2^62 bytes, and then bytes without end.
            const unsigned char header[] = {0x81, 0x7F, 0x40, 0, 0, 0, 0, 0, 0, 0};
            asio::write(ws.next_layer(), asio::buffer(header), ec);
            const std::string flood(1 << 16, 'A');
            while (!ec)
                asio::write(ws.next_layer(), asio::buffer(flood), ec);
            break;
        }
        if (text == "big") text = "{\"id\":1,\"result\":{\"data\":\"" + std::string(24 << 20, 'A') + "\"}}";
        ws.text(true);
        ws.write(asio::buffer(text), ec);
    }
}

// A browser elsewhere that answers the first Browser.getVersion (its start) and then nothing, as one stopped
// behind a proxy that keeps the connection open.
void AnswerOnceThenFallSilent(TOnePeer::TStream& ws) {
    beast::error_code ec;
    bool answered = false;
    while (!ec) {
        beast::flat_buffer buffer;
        ws.read(buffer, ec);
        if (ec || answered) continue;
        const auto command = nlohmann::json::parse(beast::buffers_to_string(buffer.data()));
        const std::string reply = nlohmann::json{{"id", command["id"]},
                                                 {"result", {{"product", "Chrome/1"}, {"userAgent", "Test"}}}}
                                      .dump();
        ws.text(true);
        ws.write(asio::buffer(reply), ec);
        answered = true;
    }
}

IDevToolsTransport::TSink Collect(std::vector<std::string>& into) {
    return [&into](std::string_view m) { into.emplace_back(m); };
}

// Waits on the transport's fd until `count` messages have come, or it closed.
TDevToolsReader::TReadResult ReceiveUntil(IDevToolsTransport& transport, std::vector<std::string>& got,
                                          std::size_t count, std::string* why = nullptr) {
    auto result = TDevToolsReader::TReadResult::NoData;
    while (got.size() < count) {
        pollfd p{transport.Fd(), POLLIN, 0};
        if (::poll(&p, 1, 30000) <= 0) break;
        result = transport.Receive(Collect(got), why);
        if (result == TDevToolsReader::TReadResult::Closed) break;
    }
    return result;
}

TEST(WebSocketTransport, CarriesMessagesInOrderBigOnesWholeAndTellsWhenTheOtherSideCloses) {
    TOnePeer server(Echo);
    auto address = ParseDevToolsAddress(server.Url("/devtools/browser/test"));
    ASSERT_TRUE(address);
    TWebSocketConnection connection = ConnectDevTools(*address, std::chrono::seconds(10));
    ASSERT_TRUE(connection.Transport);
    EXPECT_EQ(connection.Path, "/devtools/browser/test");
    IDevToolsTransport& transport = *connection.Transport;
    for (int i = 0; i < 200; ++i)
        transport.SendMessage("{\"id\":" + std::to_string(i) + "}");
    transport.SendMessage("big");
    std::vector<std::string> got;
    ReceiveUntil(transport, got, 201);
    ASSERT_EQ(got.size(), 201u);
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(got[i], "{\"id\":" + std::to_string(i) + "}");
    EXPECT_EQ(got[200].size(), (24u << 20) + 29u);
    EXPECT_EQ(got[200].substr(0, 26), "{\"id\":1,\"result\":{\"data\":\"");
    EXPECT_EQ(got[200].substr(got[200].size() - 3), "\"}}");

    transport.SendMessage("bye");
    std::string why;
    got.clear();
    EXPECT_EQ(ReceiveUntil(transport, got, 1, &why), TDevToolsReader::TReadResult::Closed);
    EXPECT_NE(why.find("closed the connection"), std::string::npos) << why;
    EXPECT_THROW(transport.SendMessage("{}"), EEngineError);
}

TEST(WebSocketTransport, AMessageTooLargeToBeTakenEndsTheConnectionSayingSo) {
    TOnePeer server(Echo);
    TWebSocketConnection connection = ConnectDevTools(
        *ParseDevToolsAddress(server.Url("/devtools/browser/test")), std::chrono::seconds(10));
    IDevToolsTransport& transport = *connection.Transport;
    transport.SendMessage("huge");
    std::vector<std::string> got;
    std::string why;
    EXPECT_EQ(ReceiveUntil(transport, got, 1, &why), TDevToolsReader::TReadResult::Closed);
    EXPECT_TRUE(got.empty());
    EXPECT_NE(why.find("larger than " + std::to_string(kMaxDevToolsMessage >> 20) + " MB"), std::string::npos)
        << why;
    try {
        transport.SendMessage("{}");
        ADD_FAILURE() << "a command went to a connection that was ended";
    } catch (const EEngineError& e) {
        EXPECT_EQ(e.what(), why);
    }
}

TEST(WebSocketTransport, ACallToABrowserThatFallsSilentEndsWhenItDoesNotAnswerAQuestionOfItsOwn) {
    TOnePeer server(AnswerOnceThenFallSilent);
    TChromiumBrowser::TOptions options;
    options.Endpoint = server.Url("/devtools/browser/s");
    options.CallTimeout = std::chrono::minutes(10); // far beyond the watch's time
    {
        TChromiumBrowser browser(options);
        browser.Start();
        EXPECT_EQ(browser.UserAgent(), "Test");
        try {
            browser.Call("Target.createTarget", {{"url", "about:blank"}});
            ADD_FAILURE() << "a silent browser answered";
        } catch (const EEngineHung& e) {
            EXPECT_NE(std::string(e.what()).find("The browser stopped answering"), std::string::npos)
                << e.what();
        }
        EXPECT_FALSE(browser.Answers(std::chrono::minutes(10))); // known to be silent: not asked again
    }
}

TEST(WebSocketTransport, AnAddressWithNothingBehindItFailsWithinItsTime) {
    // A port just closed: nothing listens there.
    asio::io_context io;
    asio::ip::tcp::acceptor acceptor(io, {asio::ip::make_address("127.0.0.1"), 0});
    const auto port = std::to_string(acceptor.local_endpoint().port());
    acceptor.close();
    auto address = ParseDevToolsAddress("ws://127.0.0.1:" + port + "/devtools/browser/x");
    try {
        ConnectDevTools(*address, std::chrono::seconds(10));
        ADD_FAILURE() << "connected to nothing";
    } catch (const EEngineError& e) {
        EXPECT_NE(std::string(e.what()).find("cannot connect to 127.0.0.1:" + port), std::string::npos)
            << e.what();
    }
}

} // namespace
} // namespace korvane
