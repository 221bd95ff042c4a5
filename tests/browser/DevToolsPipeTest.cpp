#include <gtest/gtest.h>

#include <stop_token>

#include <poll.h>

#include <thread>

#include <array>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <sys/eventfd.h>
#include <unistd.h>

#include "browser/Base64.h"
#include "browser/ChromiumBrowser.h"
#include "browser/ChromiumEngine.h"
#include "browser/ChromiumProcess.h"
#include "browser/DevToolsReader.h"
#include "browser/DownloadControl.h"
#include "browser/EngineError.h"
#include "imaging/Bitmap.h"
#include "imaging/RowGate.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempFolder.h"

namespace korvane {
namespace {

using testing::TempFolder;
using testing::TScopedEnv;

std::string EncodeBase64(const std::vector<std::uint8_t>& in) {
    static const char* a = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < in.size(); i += 3) {
        std::uint32_t v = (in[i] << 16) | (in[i + 1] << 8) | in[i + 2];
        for (int s = 18; s >= 0; s -= 6)
            out += a[(v >> s) & 63];
    }
    if (i + 1 == in.size()) {
        std::uint32_t v = in[i] << 16;
        out += a[(v >> 18) & 63];
        out += a[(v >> 12) & 63];
        out += "==";
    } else if (i + 2 == in.size()) {
        std::uint32_t v = (in[i] << 16) | (in[i + 1] << 8);
        out += a[(v >> 18) & 63];
        out += a[(v >> 12) & 63];
        out += a[(v >> 6) & 63];
        out += "=";
    }
    return out;
}

// `action` throws an engine error whose text holds `text`.
void ExpectEngineError(const std::function<void()>& action, std::string_view text) {
    try {
        action();
    } catch (const EEngineError& e) {
        EXPECT_NE(std::string(e.what()).find(text), std::string::npos) << e.what();
        return;
    }
    ADD_FAILURE() << "no engine error, expected one saying " << text;
}

TEST(Base64, DecodesAllPaddingsAndRefusesForeignCharacters) {
    std::mt19937 rng(7);
    for (std::size_t n : {0u, 1u, 2u, 3u, 4u, 5u, 1000u, 1001u, 1002u}) {
        std::vector<std::uint8_t> bytes(n);
        for (auto& b : bytes)
            b = static_cast<std::uint8_t>(rng());
        std::vector<std::uint8_t> decoded;
        ASSERT_TRUE(DecodeBase64(EncodeBase64(bytes), decoded)) << n;
        EXPECT_EQ(decoded, bytes) << n;
    }
    std::vector<std::uint8_t> out;
    EXPECT_FALSE(DecodeBase64("QUJD\\", out));
    EXPECT_FALSE(DecodeBase64("QU\"D", out));
    EXPECT_FALSE(DecodeBase64("QUJ", out));
    EXPECT_FALSE(DecodeBase64("Q!==", out));
}

TEST(DevToolsReader, SplitsAtNulAcrossFragmentsAndDropsOversizedMessages) {
    TDevToolsReader reader(64);
    std::vector<std::string> got;
    auto sink = [&](std::string_view m) { got.emplace_back(m); };
    reader.Feed("{\"id\":1}");
    EXPECT_EQ(reader.Drain(sink), 0u);
    reader.Feed(std::string_view("\0{\"id\"", 6));
    reader.Feed(std::string_view(":2}\0\0", 5));
    EXPECT_EQ(reader.Drain(sink), 3u);
    EXPECT_EQ(got, (std::vector<std::string>{"{\"id\":1}", "{\"id\":2}", ""}));
    got.clear();
    reader.Feed(std::string(100, 'x')); // longer than the limit, without its end yet
    reader.Drain(sink);
    reader.Feed(std::string(50, 'y'));
    reader.Feed(std::string_view("z\0{\"id\":3}\0", 11));
    reader.Drain(sink);
    EXPECT_EQ(got, std::vector<std::string>{"{\"id\":3}"});
    EXPECT_EQ(reader.Oversized(), 1u);
}

TEST(DevToolsMessage, ParsesRepliesEventsAndErrorsAndRefusesJunk) {
    auto reply = ParseDevToolsMessage(R"({"id":5,"result":{"v":1},"sessionId":"S"})");
    ASSERT_TRUE(reply);
    EXPECT_EQ(*reply->Id, 5);
    EXPECT_EQ(reply->SessionId, "S");
    EXPECT_EQ(reply->Params["v"], 1);
    auto error = ParseDevToolsMessage(R"({"id":6,"error":{"code":-32000,"message":"No target"}})");
    ASSERT_TRUE(error && error->Error);
    EXPECT_EQ(*error->Error, "No target");
    auto event = ParseDevToolsMessage(R"({"method":"Page.loadEventFired","params":{"timestamp":1}})");
    ASSERT_TRUE(event);
    EXPECT_FALSE(event->Id);
    EXPECT_EQ(event->Method, "Page.loadEventFired");
    for (const char* junk : {"", "garbage", "[1,2]", "{}", "{\"id\":\"7\"}", "{\"id\":1", "\xff\xfe", "null",
                             "{\"method\":5}", "{\"id\":1,\"result\":\"\xc3\x28\"}"})
        EXPECT_FALSE(ParseDevToolsMessage(junk)) << junk;
}

TEST(DevToolsMessage, BigDataRepliesAreDecodedWithoutTheJsonTree) {
    std::vector<std::uint8_t> payload(300000);
    std::mt19937 rng(1);
    for (auto& b : payload)
        b = static_cast<std::uint8_t>(rng());
    std::string text =
        "{\"id\":9,\"result\":{\"data\":\"" + EncodeBase64(payload) + "\"},\"sessionId\":\"AB\"}";
    auto m = ParseDevToolsMessage(text);
    ASSERT_TRUE(m);
    EXPECT_EQ(*m->Id, 9);
    EXPECT_EQ(m->SessionId, "AB");
    ASSERT_TRUE(m->Data);
    EXPECT_EQ(*m->Data, payload);
    // An escaped character in the data falls back to the ordinary parse (and still yields the reply).
    std::string escaped = "{\"id\":10,\"result\":{\"data\":\"QUJD\\/" + std::string(70000, 'A') + "\"}}";
    auto e = ParseDevToolsMessage(escaped);
    ASSERT_TRUE(e);
    EXPECT_FALSE(e->Data);
    EXPECT_TRUE(e->Params["data"].is_string());
}

// The browser end of the pipe played by the test: what it writes is what the connection reads.
struct PipeFixture : ::testing::Test {
    TChromiumBrowser browser;
    int toBrowser = -1;   // the test writes replies here
    int fromBrowser = -1; // commands arrive here
    void SetUp() override {
        int replies[2], commands[2];
        ASSERT_EQ(pipe2(replies, O_CLOEXEC), 0);
        ASSERT_EQ(pipe2(commands, O_CLOEXEC), 0);
        fcntl(replies[0], F_SETFL, O_NONBLOCK);
        fcntl(commands[1], F_SETFL, O_NONBLOCK);
        toBrowser = replies[1];
        fromBrowser = commands[0];
        browser.AttachPipes(replies[0], commands[1]);
    }
    void TearDown() override {
        if (toBrowser >= 0) close(toBrowser);
        close(fromBrowser);
    }
    void Write(std::string_view s) {
        ASSERT_EQ(write(toBrowser, s.data(), s.size()), static_cast<ssize_t>(s.size()));
    }
};

TEST_F(PipeFixture, MalformedAndUnexpectedMessagesAreSkipped) {
    using namespace std::string_view_literals;
    Write("garbage\0"sv);
    Write("{\"id\":999,\"result\":{}}\0"sv); // a reply nobody asked for
    Write("{\"method\":\"Page.lifecycleEvent\",\"sessionId\":\"nobody\",\"params\":7}\0"sv);
    Write("[\"not an object\"]\0\0{\"id\":1\0"sv);
    Write("{\"id\":1,\"result\":{\"answer\":42}}\0"sv);
    TDevToolsMessage reply =
        browser.Call("Test.method", nlohmann::json::object(), {}, std::chrono::seconds(5));
    EXPECT_EQ(reply.Params["answer"], 42);
    EXPECT_EQ(browser.MalformedMessages(), 4u);
    char buf[256];
    ssize_t n = read(fromBrowser, buf, sizeof buf);
    ASSERT_GT(n, 0);
    EXPECT_NE(std::string(buf, static_cast<std::size_t>(n)).find("\"method\":\"Test.method\""),
              std::string::npos);
    EXPECT_EQ(buf[n - 1], '\0');
}

TEST_F(PipeFixture, ErrorRepliesTimeoutsAndAClosedPipeBecomeEngineErrors) {
    using namespace std::string_view_literals;
    Write("{\"id\":1,\"error\":{\"message\":\"Not allowed\"}}\0"sv);
    ExpectEngineError(
        [&] { browser.Call("Test.fails", nlohmann::json::object(), {}, std::chrono::seconds(5)); },
        "Not allowed");
    ExpectEngineError(
        [&] { browser.Call("Test.silent", nlohmann::json::object(), {}, std::chrono::milliseconds(50)); },
        "no answer to Test.silent");
    // The late reply to the timed-out call is dropped; the next call gets its own.
    Write("{\"id\":2,\"result\":{}}\0{\"id\":3,\"result\":{\"ok\":true}}\0"sv);
    EXPECT_TRUE(
        browser.Call("Test.next", nlohmann::json::object(), {}, std::chrono::seconds(5)).Params["ok"]);
    close(toBrowser);
    toBrowser = -1;
    EXPECT_THROW(browser.Call("Test.dead", nlohmann::json::object(), {}, std::chrono::seconds(5)),
                 EEngineError);
    EXPECT_FALSE(browser.Running());
    EXPECT_THROW(browser.Send("Test.after", nlohmann::json::object()), EEngineError);
}

TEST_F(PipeFixture, AwaitedCommandsTakeTheirOwnRepliesInAnyOrderAndForgottenOnesAreDropped) {
    using namespace std::string_literals;
    const std::int64_t first = browser.SendAwaited("Test.first", nlohmann::json::object());
    const std::int64_t second = browser.SendAwaited("Test.second", nlohmann::json::object());
    const std::int64_t dropped = browser.SendAwaited("Test.dropped", nlohmann::json::object());
    EXPECT_NE(first, second);
    // The later command's reply comes first; each caller still gets its own.
    Write("{\"id\":" + std::to_string(second) + ",\"result\":{\"n\":2}}\0"s);
    Write("{\"id\":" + std::to_string(first) + ",\"result\":{\"n\":1}}\0"s);
    EXPECT_EQ(browser.Await(first, "Test.first", std::chrono::seconds(5)).Params["n"], 1);
    EXPECT_EQ(browser.Await(second, "Test.second", std::chrono::seconds(5)).Params["n"], 2);
    // A reply that comes after its command was forgotten is not kept for anybody.
    browser.Forget(dropped);
    Write("{\"id\":" + std::to_string(dropped) + ",\"result\":{}}\0"s);
    EXPECT_THROW(browser.Await(dropped, "Test.dropped", std::chrono::milliseconds(100)), EEngineError);
    // An error reply and a lost browser reach the awaiting caller as engine errors.
    const std::int64_t failing = browser.SendAwaited("Test.failing", nlohmann::json::object());
    const std::int64_t orphan = browser.SendAwaited("Test.orphan", nlohmann::json::object());
    Write("{\"id\":" + std::to_string(failing) + ",\"error\":{\"message\":\"Refused\"}}\0"s);
    ExpectEngineError([&] { browser.Await(failing, "Test.failing", std::chrono::seconds(5)); }, "Refused");
    // A call deadline cuts every wait short, whatever the call's own timeout; cleared, the timeouts hold
    // again.
    browser.SetCallDeadline(std::chrono::steady_clock::now() + std::chrono::milliseconds(50));
    ExpectEngineError(
        [&] { browser.Call("Test.late", nlohmann::json::object(), {}, std::chrono::seconds(30)); },
        "before the page's time was up");
    browser.SetCallDeadline(std::nullopt);
    ExpectEngineError(
        [&] { browser.Call("Test.own", nlohmann::json::object(), {}, std::chrono::milliseconds(50)); },
        "within");
    close(toBrowser);
    toBrowser = -1;
    EXPECT_THROW(browser.Await(orphan, "Test.orphan", std::chrono::seconds(5)), EEngineError);
}

// A stop ends a call that waits for its answer, from another thread, at once; a stopped token ends every
// later wait before it begins; a fresh token lets calls wait again.
TEST_F(PipeFixture, AStopEndsTheWaitsOfCallsAndAFreshTokenLetsThemWaitAgain) {
    using namespace std::string_view_literals;
    std::stop_source stop;
    browser.SetStopToken(stop.get_token());
    std::thread stopper([&] {
        // Once the command has reached the browser, the call is waiting for an answer that never comes.
        pollfd command{fromBrowser, POLLIN, 0};
        ASSERT_EQ(poll(&command, 1, 30000), 1);
        stop.request_stop();
    });
    EXPECT_THROW(browser.Call("Test.waits", nlohmann::json::object(), {}, std::chrono::seconds(60)),
                 EEngineStopped);
    stopper.join();
    EXPECT_TRUE(browser.Running()); // the browser itself is not lost
    EXPECT_THROW(browser.Call("Test.later", nlohmann::json::object(), {}, std::chrono::seconds(60)),
                 EEngineStopped);
    EXPECT_FALSE(browser.WaitIncoming(std::chrono::seconds(60)));

    browser.SetStopToken({});
    Write("{\"id\":3,\"result\":{\"ok\":true}}\0"sv);
    EXPECT_TRUE(
        browser.Call("Test.again", nlohmann::json::object(), {}, std::chrono::seconds(5)).Params["ok"]);
}

TEST_F(PipeFixture, AnExtraWakeFdRunsItsHandlerInsideCallsAndWaits) {
    const int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    ASSERT_GE(wake, 0);
    int ran = 0;
    browser.SetExtraWake(wake, [&] {
        std::uint64_t v = 0;
        ASSERT_EQ(read(wake, &v, sizeof v), static_cast<ssize_t>(sizeof v));
        ++ran;
    });
    const std::uint64_t one = 1;
    // Signalled while a call waits for a reply that does not come: the handler runs, the call still times
    // out.
    ASSERT_EQ(write(wake, &one, sizeof one), static_cast<ssize_t>(sizeof one));
    EXPECT_THROW(browser.Call("Test.silent", nlohmann::json::object(), {}, std::chrono::milliseconds(200)),
                 EEngineError);
    EXPECT_EQ(ran, 1);
    // Signalled while the program waits for the pipe: the wait ends with the handler run.
    ASSERT_EQ(write(wake, &one, sizeof one), static_cast<ssize_t>(sizeof one));
    EXPECT_TRUE(browser.WaitIncoming(std::chrono::seconds(5)));
    EXPECT_EQ(ran, 2);
    // Removed, it is not watched any more.
    browser.SetExtraWake(-1, {});
    ASSERT_EQ(write(wake, &one, sizeof one), static_cast<ssize_t>(sizeof one));
    EXPECT_FALSE(browser.WaitIncoming(std::chrono::milliseconds(50)));
    EXPECT_EQ(ran, 2);
    close(wake);
}

TEST_F(PipeFixture, EventsOfASessionReachItsListenerAndCallbacksWaitForProcessIncoming) {
    struct Listener : IDevToolsSessionListener {
        std::vector<std::string> events;
        std::string lost;
        void OnSessionEvent(const TDevToolsMessage& e) override { events.push_back(e.Method); }
        void OnBrowserLost(const std::string& r) override { lost = r; }
    } listener;
    browser.AddListener("S1", &listener);
    int woken = 0;
    browser.SetWakeHandler([&] { ++woken; });
    int ran = 0;
    using namespace std::string_view_literals;
    Write("{\"method\":\"A.one\",\"sessionId\":\"S1\",\"params\":{}}\0"sv);
    Write("{\"method\":\"A.other\",\"sessionId\":\"S2\",\"params\":{}}\0"sv);
    Write("{\"id\":1,\"result\":{}}\0"sv);
    browser.Call("Test.x", nlohmann::json::object(), {}, std::chrono::seconds(5));
    EXPECT_EQ(listener.events, std::vector<std::string>{"A.one"});
    browser.Post([&] { ++ran; });
    EXPECT_EQ(ran, 0);
    EXPECT_EQ(woken, 1);
    browser.ProcessIncoming();
    EXPECT_EQ(ran, 1);
    close(toBrowser);
    toBrowser = -1;
    browser.WaitIncoming(std::chrono::seconds(5));
    EXPECT_FALSE(listener.lost.empty());
}

TEST(DownloadControlMapping, WordsBecomeEngineSettings) {
    auto s = SettingsFromWords(0x40004470, 0, "");
    EXPECT_FALSE(s.BlockImages);
    EXPECT_FALSE(s.BlockVideo);
    EXPECT_FALSE(s.BlockAudio);
    EXPECT_FALSE(s.NoScripts);
    EXPECT_TRUE(s.NoPlugins);
    EXPECT_TRUE(s.NoCache);
    EXPECT_TRUE(s.Silent);
    EXPECT_FALSE(s.HideScrollbars);
    s = SettingsFromWords(0, DOCHOSTUIFLAG_SCROLL_NO, "Tok/1");
    EXPECT_TRUE(s.BlockImages && s.BlockVideo && s.BlockAudio && s.HideScrollbars);
    EXPECT_FALSE(s.NoScripts || s.NoPlugins || s.NoCache || s.Offline || s.NoFrames || s.Silent);
    EXPECT_EQ(s.UserAgentToken, "Tok/1");
    EXPECT_TRUE(SettingsFromWords(DLCTL_RESYNCHRONIZE, 0, "").NoCache);
    EXPECT_TRUE(SettingsFromWords(DLCTL_FORCEOFFLINE, 0, "").Offline);
    EXPECT_TRUE(SettingsFromWords(DLCTL_OFFLINE, 0, "").Offline);
    EXPECT_TRUE(SettingsFromWords(DLCTL_NO_FRAMEDOWNLOAD, 0, "").NoFrames);
    EXPECT_TRUE(SettingsFromWords(DLCTL_NO_JAVA, 0, "").NoPlugins);
    EXPECT_TRUE(LooksLikeAudioUrl("http://h/a/song.MP3?x=1"));
    EXPECT_TRUE(LooksLikeAudioUrl("http://h/a.ogg#t"));
    EXPECT_FALSE(LooksLikeAudioUrl("http://h/clip.webm"));
    EXPECT_FALSE(LooksLikeAudioUrl("http://h.mp3/path"));
}

TEST(MissingBrowser, TheBrowserIsTheOneGivenThenTheOneOnThePathThenDebians) {
    const TempFolder t("korvane-which-chromium");
    std::filesystem::create_directories(t.Dir() / "empty");
    std::filesystem::create_directories(t.Dir() / "plain");
    std::filesystem::create_directories(t.Dir() / "tools");
    t.Put("plain/chromium", "not a program"); // not executable: passed over
    const std::string tool = t.Put("tools/chromium", "#!/bin/sh\n");
    std::filesystem::permissions(tool, std::filesystem::perms::owner_all);
    // A relative folder (and an empty entry, the current folder) is never looked in.
    std::filesystem::create_directories(t.Dir() / "relative");
    const std::string other = t.Put("relative/chromium", "#!/bin/sh\n");
    std::filesystem::permissions(other, std::filesystem::perms::owner_all);
    const std::string relative =
        std::filesystem::relative(t.Dir() / "relative", std::filesystem::current_path()).string();
    ASSERT_NE(relative.front(), '/');
    const std::string path =
        t.Path("empty") + "::" + relative + ":" + t.Path("plain") + ":" + t.Path("tools");
    {
        const TScopedEnv p("PATH", path.c_str()), k("KORVANE_CHROMIUM", nullptr);
        EXPECT_EQ(TChromiumProcess::DefaultPath(), tool);
        EXPECT_EQ(TChromiumBrowser::TOptions().Path, tool);
    }
    {
        const TScopedEnv p("PATH", path.c_str()), k("KORVANE_CHROMIUM", "/opt/other/chromium");
        EXPECT_EQ(TChromiumProcess::DefaultPath(), "/opt/other/chromium");
    }
    {
        const TScopedEnv p("PATH", t.Path("empty").c_str()), k("KORVANE_CHROMIUM", "");
        EXPECT_EQ(TChromiumProcess::DefaultPath(), "/usr/bin/chromium");
    }
}

TEST(MissingBrowser, NavigationFailsNamingThePackageOrTheVariableThatNamedTheBrowser) {
    {
        // One the user named is theirs to mend: installing Debian's would not bring it.
        const TScopedEnv k("KORVANE_CHROMIUM", "/nonexistent/chosen/chromium");
        auto browser = std::make_shared<TChromiumBrowser>();
        TChromiumEngine engine(browser);
        ExpectEngineError(
            [&] { engine.Navigate("http://127.0.0.1:1/"); },
            "The browser /nonexistent/chosen/chromium that KORVANE_CHROMIUM names cannot be found");
    }
    const TScopedEnv k("KORVANE_CHROMIUM", nullptr);
    TChromiumBrowser::TOptions options;
    options.Path = "/nonexistent/chromium";
    auto browser = std::make_shared<TChromiumBrowser>(options);
    TChromiumEngine engine(browser);
    struct Site : IEngineSite {
        std::vector<std::string> texts;
        HRESULT Invoke(DISPID, std::uint16_t, TVariant*) override { return DISP_E_MEMBERNOTFOUND; }
        HRESULT GetHostInfo(DOCHOSTUIINFO&) override { return S_OK; }
        std::string UserAgentToken() override { return {}; }
        void StatusTextChange(const std::string& t) override { texts.push_back(t); }
    } site;
    engine.SetSite(&site);
    ExpectEngineError([&] { engine.Navigate("http://127.0.0.1:1/"); }, "install the Debian package chromium");
    EXPECT_EQ(engine.ReadyState(), READYSTATE_COMPLETE);
    EXPECT_EQ(engine.DocumentId(), 0u);
    EXPECT_NE(engine.NavigationError().find("chromium"), std::string::npos);
    browser->ProcessIncoming();
    ASSERT_EQ(site.texts.size(), 1u);
    EXPECT_EQ(site.texts[0], engine.NavigationError());
}

} // namespace
} // namespace korvane
