// korvane-capture with browsers that run already (--browser): the same pictures as through the pipe, the
// browsers left as found, a browser killed in the middle of a run, and addresses that lead to no browser.
#include "tests/cli/RemoteChromium.h"
#include "tests/cli/ToolProcess.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestHttpServer.h"

#include <gtest/gtest.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <nlohmann/json.hpp>

#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

using namespace korvane::testing;

namespace {

std::string Page(int i) {
    return "<!DOCTYPE html><body style='margin:0;font:16px sans-serif'><h1>Page " + std::to_string(i) +
           "</h1><div style='height:" + std::to_string(200 + 50 * i) +
           "px;background:linear-gradient(#fc0,#08f)'></div><p>the end</p></body>";
}

// A WebSocket server that accepts the handshake and closes at once: it speaks WebSocket, not DevTools.
class TClosingWebSocket {
public:
    TClosingWebSocket() : FAcceptor(FIo, {boost::asio::ip::make_address("127.0.0.1"), 0}) {
        Accept();
        FThread = std::thread([this] { FIo.run(); });
    }
    ~TClosingWebSocket() {
        FIo.stop();
        FThread.join();
    }
    std::string Url() const {
        return "ws://127.0.0.1:" + std::to_string(FAcceptor.local_endpoint().port()) + "/";
    }

private:
    void Accept() {
        FAcceptor.async_accept([this](boost::beast::error_code ec, boost::asio::ip::tcp::socket socket) {
            if (ec) return;
            // Each connection is served to its end before the next is taken: the tool makes one at a time.
            boost::beast::websocket::stream<boost::asio::ip::tcp::socket> ws(std::move(socket));
            ws.accept(ec);
            if (!ec) ws.close(boost::beast::websocket::close_code::going_away, ec);
            Accept();
        });
    }
    boost::asio::io_context FIo;
    boost::asio::ip::tcp::acceptor FAcceptor;
    std::thread FThread;
};

class RemoteBrowsers : public ::testing::Test, public TToolProcess {
protected:
    using TToolProcess::Run; // not the test's own
    static inline std::unique_ptr<TTestHttpServer> server;
    // Pages /held<N> are answered only once the test lets them go; the test can wait until N are asked for.
    static inline std::mutex mutex;
    static inline std::condition_variable changed;
    static inline bool holding = false;
    static inline int asked = 0;
    TempFolder folder{"korvane-remote"};

    static void SetUpTestSuite() {
        server = std::make_unique<TTestHttpServer>();
        for (int i = 1; i <= 8; ++i) {
            server->Route("/p" + std::to_string(i), MakeResponse(200, "text/html", Page(i)));
            server->Route("/held" + std::to_string(i), [i](const THttpRequest&) {
                std::unique_lock lock(mutex);
                ++asked;
                changed.notify_all();
                changed.wait_for(lock, std::chrono::seconds(60), [] { return !holding; });
                return MakeResponse(200, "text/html", Page(i));
            });
        }
    }
    static void TearDownTestSuite() { server.reset(); }
    static void Hold(bool hold) {
        std::lock_guard lock(mutex);
        holding = hold;
        asked = 0;
        changed.notify_all();
    }
    static bool WaitUntilAsked(int count) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(60), [&] { return asked >= count; });
    }
    std::vector<std::string> Pages(const std::string& name, int count) const {
        std::vector<std::string> urls;
        for (int i = 1; i <= count; ++i)
            urls.push_back(server->Url("/" + name + std::to_string(i)));
        return urls;
    }
    static std::vector<std::string> With(std::vector<std::string> args,
                                         const std::vector<std::string>& more) {
        args.insert(args.end(), more.begin(), more.end());
        return args;
    }
};

} // namespace

TEST_F(RemoteBrowsers, PicturesAreThoseOfThePipeAndTheBrowserIsLeftAsItWasFound) {
    TRemoteChromium remote;
    ASSERT_TRUE(remote.Listening());
    const auto before = remote.Contents();
    const auto pages = Pages("p", 3);
    const std::string local = folder.Path("local"), viaSocket = folder.Path("ws"),
                      viaHttp = folder.Path("http");
    for (const auto& dir : {local, viaSocket, viaHttp})
        std::filesystem::create_directories(dir);
    // BMP: the file holds the pixels and nothing else (no time stamp), so equal pictures are equal files.
    const std::vector<std::string> common{"-q", "--delay", "0", "--format", "bmp", "--jobs", "2"};
    const Outcome own = Run(With(With(common, {"--output", local}), pages));
    ASSERT_EQ(own.status, 0) << own.err;
    const Outcome ws =
        Run(With(With(common, {"--output", viaSocket, "--browser", remote.WebSocket()}), pages));
    ASSERT_EQ(ws.status, 0) << ws.err;
    // With --cache the pages share one context of ours, which goes at the end too.
    const Outcome http =
        Run(With(With(common, {"--output", viaHttp, "--cache", "--browser", remote.Http()}), pages));
    ASSERT_EQ(http.status, 0) << http.err;
    for (const auto& file : Lines(own.out)) {
        const std::string name = std::filesystem::path(file).filename().string();
        const std::string picture = Slurp(file);
        ASSERT_GT(picture.size(), 1000u) << file;
        EXPECT_TRUE(Slurp(viaSocket + "/" + name) == picture) << name << " through ws:";
        EXPECT_TRUE(Slurp(viaHttp + "/" + name) == picture) << name << " through http:";
    }
    EXPECT_EQ(Lines(ws.out).size(), 3u);
    // No context or page of ours stays in the browser, which still runs.
    const auto after = remote.Contents();
    EXPECT_EQ(after.Contexts, before.Contexts);
    EXPECT_EQ(after.Pages, before.Pages);
}

TEST_F(RemoteBrowsers, PagesOfABrowserKilledInTheMiddleAreCapturedByTheOther) {
    TRemoteChromium first, second;
    ASSERT_TRUE(first.Listening() && second.Listening());
    const std::string manifest = folder.Path("run.jsonl"), images = folder.Path("images");
    std::filesystem::create_directories(images);
    const auto pages = Pages("held", 6);
    // One page at a time in each browser: once both have asked for their first page, each holds one.
    Hold(true);
    const pid_t run =
        Start(With({"--delay", "0", "--jobs", "1", "--timeout", "60", "--output", images, "--manifest",
                    manifest, "--browser", first.WebSocket(), "--browser", second.Http()},
                   pages));
    ASSERT_GT(run, 0);
    const bool bothAsked = WaitUntilAsked(2);
    first.Kill();
    Hold(false);
    const Outcome o = Wait(run);
    ASSERT_TRUE(bothAsked);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(Lines(o.out).size(), 6u) << o.err;
    EXPECT_NE(o.err.find("begun again on another browser"), std::string::npos) << o.err;
    std::map<std::string, std::string> capturedBy;
    for (const auto& line : Lines(Slurp(manifest))) {
        const auto entry = nlohmann::json::parse(line);
        ASSERT_EQ(entry["outcome"], "captured") << line;
        capturedBy[entry["url"].get<std::string>()] = entry["browser"].get<std::string>();
    }
    EXPECT_EQ(capturedBy.size(), 6u);
    // The page the killed browser held was captured by the other.
    EXPECT_EQ(capturedBy.at(pages[0]), second.Http());
    const auto left = second.Contents();
    EXPECT_EQ(left.Contexts, 0u);
    EXPECT_EQ(left.Pages, 1u); // its own first page
}

TEST_F(RemoteBrowsers, AddressesThatLeadToNoBrowserEndTheRunBeforeItBegins) {
    TClosingWebSocket closing;
    TTestHttpServer notDevTools, elsewhere;
    notDevTools.Route("/json/version", MakeResponse(200, "application/json", R"({"Browser":"x"})"));
    // A DevTools server that names a WebSocket at another port (where nothing listens): only its path is
    // taken, the host and port stay those we were given.
    elsewhere.Route("/json/version",
                    MakeResponse(200, "application/json",
                                 R"({"webSocketDebuggerUrl":"ws://127.0.0.1:1/devtools/browser/other"})"));
    const std::string url = server->Url("/p1");
    struct TCase {
        std::string address, says;
    };
    const std::vector<TCase> cases{
        {"ws://127.0.0.1:1/devtools/browser/x", "Connection refused"},
        {server->Url("/"), "/json/version answered HTTP 404"},
        {notDevTools.Url("/"), "names no WebSocket"},
        {elsewhere.Url("/"), "ws://127.0.0.1:" + std::to_string(elsewhere.Port()) +
                                 "/devtools/browser/other did not open a DevTools WebSocket"},
        {server->Url("/p1").replace(0, 4, "ws"), "did not open a DevTools WebSocket"},
        {closing.Url(), "does not answer as a browser"},
    };
    for (const auto& c : cases) {
        const Outcome o =
            Run({"-q", "--timeout", "10", "--output", folder.Path(), "--browser", c.address, url});
        EXPECT_EQ(o.status, 2) << c.address << ": " << o.err;
        EXPECT_NE(o.err.find(c.says), std::string::npos) << c.address << ": " << o.err;
        EXPECT_NE(o.err.find("no browser of --browser answers"), std::string::npos) << o.err;
    }
    EXPECT_TRUE(folder.Files().empty());
    // One that answers is enough; the other is named.
    TRemoteChromium remote;
    ASSERT_TRUE(remote.Listening());
    const Outcome o = Run({"-q", "--delay", "0", "--output", folder.Path(), "--browser",
                           "ws://127.0.0.1:1/devtools/browser/x", "--browser", remote.WebSocket(), url});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.err.find("warning: --browser ws://127.0.0.1:1/devtools/browser/x"), std::string::npos)
        << o.err;
}

TEST_F(RemoteBrowsers, WhenTheOnlyBrowserGoesTheRestFailWithTheReason) {
    auto remote = std::make_unique<TRemoteChromium>();
    ASSERT_TRUE(remote->Listening());
    Hold(true);
    const pid_t run = Start(With({"-q", "--delay", "0", "--jobs", "1", "--timeout", "4", "--output",
                                  folder.Path(), "--browser", remote->WebSocket()},
                                 Pages("held", 3)));
    ASSERT_GT(run, 0);
    const bool asked = WaitUntilAsked(1);
    remote->Kill();
    Hold(false);
    const Outcome o = Wait(run);
    ASSERT_TRUE(asked);
    EXPECT_EQ(o.status, 1) << o.err;
    EXPECT_NE(o.err.find("no browser answers"), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("Connection refused"), std::string::npos) << o.err;
    EXPECT_TRUE(folder.Files().empty());
}

TEST_F(RemoteBrowsers, ARunKilledOutrightLeavesNothingOfItsOwnInTheBrowser) {
    TRemoteChromium remote;
    ASSERT_TRUE(remote.Listening());
    Hold(true);
    const pid_t run = Start(With(
        {"-q", "--delay", "0", "--jobs", "2", "--output", folder.Path(), "--browser", remote.WebSocket()},
        Pages("held", 4)));
    ASSERT_GT(run, 0);
    const bool asked = WaitUntilAsked(2);
    const auto during = remote.Contents();
    ::kill(run, SIGKILL);
    const Outcome o = Wait(run);
    Hold(false);
    ASSERT_TRUE(asked);
    EXPECT_EQ(o.status, 128 + SIGKILL);
    EXPECT_EQ(during.Contexts, 2u); // one a page under way
    // The browser removes the contexts of a connection that ended, however it ended: looked at until it has.
    auto after = remote.Contents();
    for (int i = 0; i < 200 && (after.Contexts > 0 || after.Pages > 1); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        after = remote.Contents();
    }
    EXPECT_EQ(after.Contexts, 0u);
    EXPECT_EQ(after.Pages, 1u);
}
