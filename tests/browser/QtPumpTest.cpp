// The engine driven by the Qt event loop alone: no ProcessIncoming by hand, the socket notifier does it.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <csignal>

#include "browser/BrowserHost.h"
#include "browser/ChromiumEngine.h"
#include "browser/qt/ChromiumQtPump.h"
#include "tests/support/TestHttpServer.h"

namespace korvane::testing {
namespace {

// Runs the event loop until `done` holds (checked on every status text and every 50 ms) or 30 s passed.
bool RunUntil(const std::function<bool()>& done) {
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done()) loop.quit();
    });
    poll.start(50);
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    if (!done()) loop.exec();
    return done();
}

TEST(ChromiumQtPump, LoadsAndReportsStatusThroughTheEventLoop) {
    TTestHttpServer server;
    THttpResponse page;
    page.Body = "<body style='margin:0'><div style='width:777px'>qt</div><img src='/q.png'></body>";
    server.Route("/qt.html", page);
    auto browser = std::make_shared<TChromiumBrowser>();
    TChromiumQtPump pump(browser);
    TBrowserHost host(std::make_unique<TChromiumEngine>(browser));
    std::vector<std::string> texts;
    host.OnStatusTextChange = [&](TBrowserHost&, const std::string& t) { texts.push_back(t); };
    host.Navigate(server.Url("/qt.html"));
    ASSERT_TRUE(RunUntil([&] {
        return host.ReadyState() == READYSTATE_COMPLETE && !texts.empty() && texts.back() == "Done";
    }));
    ASSERT_TRUE(host.Document());
    EXPECT_EQ(host.Document()->BodyProperty("scrollWidth"), 777);
    EXPECT_EQ(texts.front(), "Loading " + server.Url("/qt.html"));

    // A browser that died is replaced, and the notifier follows the new pipe.
    const pid_t old = browser->ProcessId();
    kill(old, SIGKILL);
    ASSERT_TRUE(RunUntil([&] { return !browser->Running(); }));
    EXPECT_FALSE(host.Document());
    texts.clear();
    host.Navigate(server.Url("/qt.html"));
    ASSERT_TRUE(RunUntil([&] {
        return host.ReadyState() == READYSTATE_COMPLETE && !texts.empty() && texts.back() == "Done";
    }));
    EXPECT_NE(browser->ProcessId(), old);
    EXPECT_TRUE(host.Document());
}

} // namespace
} // namespace korvane::testing

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
