// The Chromium engine end to end: pages served on 127.0.0.1, loaded, measured and drawn by the real browser.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <cstring>
#include <netinet/in.h>
#include <set>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <zlib.h>

#include "browser/EngineError.h"
#include "imaging/RowGate.h"
#include "tests/browser/ChromiumFixture.h"
#include "tests/browser/TestPng.h"

namespace korvane::testing {
namespace {

using O = TDownloadControlOption;

bool Contains(const std::vector<std::string>& v, const std::string& s) {
    return std::find(v.begin(), v.end(), s) != v.end();
}

std::string Gzip(const std::string& text) {
    z_stream z{};
    deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, text.size()) + 32, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

int ClosedPort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
}

using ChromiumEngine = ChromiumFixture;

TEST_F(ChromiumEngine, LoadsMeasuresResizesAndDrawsAPage) {
    Route("/size.html",
          "<body style='margin:0'><div style='width:1500px;height:3000px;"
          "background:rgb(10,20,30)'></div><div style='height:16px;background:rgb(200,0,0)'></div>");
    ASSERT_TRUE(Load(server->Url("/size.html")));
    EXPECT_EQ(host->HttpStatus(), 200);
    EXPECT_TRUE(host->NavigationError().empty());
    EXPECT_TRUE(Contains(texts, "Loading " + server->Url("/size.html")));
    EXPECT_EQ(texts.back(), "Done");
    auto doc = host->Document();
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->BodyProperty("scrollWidth"), 1500);
    EXPECT_EQ(doc->BodyProperty("scrollHeight"), 3016);
    host->SetWidth(1024);
    host->SetHeight(3046);
    EXPECT_EQ(doc->BodyProperty("scrollWidth"), 1500);
    TBitmap bmp = Capture(*host, 1024, 3046);
    EXPECT_EQ(Pixel(bmp, 0, 0), (std::array<int, 3>{30, 20, 10}));
    EXPECT_EQ(Pixel(bmp, 1000, 2999), (std::array<int, 3>{30, 20, 10}));
    EXPECT_EQ(Pixel(bmp, 500, 3008), (std::array<int, 3>{0, 0, 200}));
    EXPECT_EQ(Pixel(bmp, 500, 3020), (std::array<int, 3>{255, 255, 255}));
    EXPECT_NE(Pixel(bmp, 500, 3040), (std::array<int, 3>{255, 255, 255})); // the horizontal scroll bar
    EXPECT_THROW(doc->BodyProperty("no such thing"), EEngineError);
    EXPECT_THROW(doc->BodyProperty("tagName"), EEngineError); // not a number
}

TEST_F(ChromiumEngine, AFailedLoadEndsWithTheNetworkErrorAndNoDocument) {
    const std::string url = "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/";
    EXPECT_FALSE(Load(url));
    EXPECT_EQ(host->NavigationError(), "net::ERR_CONNECTION_REFUSED");
    EXPECT_TRUE(Contains(texts, "net::ERR_CONNECTION_REFUSED"));
    EXPECT_FALSE(host->Document());
    // An error page from the server is a document, with its status.
    EXPECT_TRUE(Load(server->Url("/no-such-page")));
    EXPECT_EQ(host->HttpStatus(), 404);
}

TEST_F(ChromiumEngine, ImagesOffNoImageRequestAndNaturalWidthZero) {
    THttpResponse png;
    png.ContentType = "image/png";
    png.Body = TestPng(7, 5);
    server->Route("/img-on.png", png);
    server->Route("/img-off.png", png);
    const char* page = "<body><img id=i src='%s'><script>addEventListener('load',function(){"
                       "document.body.probe=document.getElementById('i').naturalWidth;})</script></body>";
    auto html = [&](const char* src) {
        std::string s = page;
        s.replace(s.find("%s"), 2, src);
        return s;
    };
    Route("/images-on.html", html("/img-on.png"));
    Route("/images-off.html", html("/img-off.png"));
    ASSERT_TRUE(Load(server->Url("/images-on.html")));
    EXPECT_EQ(host->Document()->BodyProperty("probe"), 7);
    EXPECT_EQ(Hits("/img-on.png"), 1u);
    SetOption(O::DLCTL_DLIMAGES, false);
    ASSERT_TRUE(Load(server->Url("/images-off.html")));
    EXPECT_EQ(host->Document()->BodyProperty("probe"), 0);
    EXPECT_EQ(Hits("/img-off.png"), 0u);
}

TEST_F(ChromiumEngine, APageOfALocalServerShowsImagesOfAnotherWithPluginContentKeptOut) {
    // An intranet page whose pictures come from another local server: the page keeps its own address (it is
    // not served again from elsewhere), so the browser lets it reach the other server.
    TTestHttpServer other;
    THttpResponse png;
    png.ContentType = "image/png";
    png.Body = TestPng(9, 4);
    other.Route("/elsewhere.png", png);
    Route("/intranet.html",
          "<body><img id=i src='" + other.Url("/elsewhere.png") +
              "'><script>addEventListener('load',function(){"
              "document.body.probe=document.getElementById('i').naturalWidth;})</script></body>");
    ASSERT_TRUE(host->DownloadOptions().Contains(O::DLCTL_NO_DLACTIVEXCTLS));
    ASSERT_TRUE(Load(server->Url("/intranet.html")));
    EXPECT_EQ(host->Document()->BodyProperty("probe"), 9);
    EXPECT_EQ(other.RequestsFor("/elsewhere.png").size(), 1u);
}

TEST_F(ChromiumEngine, ScriptsOffTheScriptMadeContentIsAbsent) {
    Route("/script.html", "<body style='margin:0'><script>document.write("
                          "\"<div style='height:5000px'>made by script</div>\")</script></body>");
    ASSERT_TRUE(Load(server->Url("/script.html")));
    EXPECT_GE(host->Document()->BodyProperty("scrollHeight"), 5000);
    EXPECT_EQ(host->Document()->BodyProperty("childElementCount"), 2);
    SetOption(O::DLCTL_NO_SCRIPTS, true);
    ASSERT_TRUE(Load(server->Url("/script.html")));
    EXPECT_LT(host->Document()->BodyProperty("scrollHeight"), 1000);
    EXPECT_EQ(host->Document()->BodyProperty("childElementCount"), 1);
    SetOption(O::DLCTL_NO_SCRIPTS, false);
    ASSERT_TRUE(Load(server->Url("/script.html")));
    EXPECT_GE(host->Document()->BodyProperty("scrollHeight"), 5000);
}

TEST_F(ChromiumEngine, NoCacheRequestsCarryNoCacheHeaders) {
    Route("/cache.html", "<body>cache</body>");
    SetOption(O::DLCTL_PRAGMA_NO_CACHE, false);
    ASSERT_TRUE(Load(server->Url("/cache.html")));
    auto plain = server->RequestsFor("/cache.html");
    ASSERT_EQ(plain.size(), 1u);
    EXPECT_NE(plain[0].Header("cache-control"), "no-cache");
    EXPECT_NE(plain[0].Header("pragma"), "no-cache");
    SetOption(O::DLCTL_PRAGMA_NO_CACHE, true);
    ASSERT_TRUE(Load(server->Url("/cache.html")));
    auto bypass = server->RequestsFor("/cache.html");
    ASSERT_EQ(bypass.size(), 2u);
    EXPECT_TRUE(bypass[1].Header("pragma") == "no-cache" || bypass[1].Header("cache-control") == "no-cache");
}

TEST_F(ChromiumEngine, MediaOffBlocksVideoAndBackgroundSoundsOffBlocksAudio) {
    THttpResponse media;
    media.ContentType = "application/octet-stream";
    media.Body = std::string(4096, '\0');
    for (const char* p : {"/clip1.webm", "/sound1.mp3", "/clip2.webm", "/sound2.mp3"})
        server->Route(p, media);
    // Neither file is a playable medium: each element ends in an error, whether its file came or was kept
    // out. Once both have, the page says so, and only then are the server's requests looked at.
    auto page = [](int n) {
        const std::string i = std::to_string(n);
        return "<video id=v src='/clip" + i +
               ".webm' preload=auto autoplay muted></video><audio id=a src='/sound" + i +
               ".mp3' preload=auto autoplay></audio><script>var ended=0;function one(){if(++ended==2)" +
               "fetch('/media-ended" + i + "')}v.onerror=one;a.onerror=one;</script>";
    };
    Route("/media1.html", page(1));
    Route("/media2.html", page(2));
    SetOption(O::DLCTL_VIDEOS, false);
    ASSERT_TRUE(Load(server->Url("/media1.html")));
    ASSERT_TRUE(PumpUntil([&] { return Hits("/media-ended1") > 0; }, std::chrono::seconds(20)));
    EXPECT_GT(Hits("/sound1.mp3"), 0u);
    EXPECT_EQ(Hits("/clip1.webm"), 0u);
    SetOption(O::DLCTL_VIDEOS, true);
    SetOption(O::DLCTL_BGSOUNDS, false);
    ASSERT_TRUE(Load(server->Url("/media2.html")));
    ASSERT_TRUE(PumpUntil([&] { return Hits("/media-ended2") > 0; }, std::chrono::seconds(20)));
    EXPECT_GT(Hits("/clip2.webm"), 0u);
    EXPECT_EQ(Hits("/sound2.mp3"), 0u);
}

TEST_F(ChromiumEngine, FramesAndPluginContentAreBlockedByTheirBits) {
    Route("/inner1.html", "inner");
    Route("/inner2.html", "inner");
    Route("/obj1.html", "object");
    Route("/emb1.html", "embed");
    Route("/obj2.html", "object");
    Route("/frames1.html", "<iframe src='/inner1.html'></iframe>");
    Route("/frames2.html", "<iframe src='/inner2.html'></iframe>");
    Route("/plugins1.html",
          "<object data='/obj1.html' type='text/html'></object><embed src='/emb1.html' type='text/html'>");
    Route("/plugins2.html", "<object data='/obj2.html' type='text/html'></object>");
    SetOption(O::DLCTL_NO_FRAMEDOWNLOAD, true);
    ASSERT_TRUE(Load(server->Url("/frames1.html")));
    EXPECT_EQ(Hits("/inner1.html"), 0u);
    SetOption(O::DLCTL_NO_FRAMEDOWNLOAD, false);
    ASSERT_TRUE(Load(server->Url("/frames2.html")));
    EXPECT_EQ(Hits("/inner2.html"), 1u);

    ASSERT_TRUE(host->DownloadOptions().Contains(O::DLCTL_NO_DLACTIVEXCTLS));
    ASSERT_TRUE(Load(server->Url("/plugins1.html")));
    EXPECT_EQ(Hits("/obj1.html") + Hits("/emb1.html"), 0u);
    SetOption(O::DLCTL_NO_DLACTIVEXCTLS, false);
    ASSERT_TRUE(Load(server->Url("/plugins2.html")));
    EXPECT_TRUE(PumpUntil([&] { return Hits("/obj2.html") > 0; }, std::chrono::seconds(10)));
}

// With plugin content kept out (the default) the page's own document is left as it comes: compressed, in
// another character set, or coming in slowly; only the object's data is kept out.
TEST_F(ChromiumEngine, MainDocumentsArriveAsSentWhilePluginContentIsKeptOut) {
    ASSERT_TRUE(host->DownloadOptions().Contains(O::DLCTL_NO_DLACTIVEXCTLS));
    // The body's height tells what the page made of its document.
    const std::string page =
        "<!DOCTYPE html><body style='margin:0'><div style='height:777px'></div>"
        "<object style='position:absolute;top:0' data='/gz-object.html' type='text/html'></object>"
        "</body>";
    THttpResponse gzip;
    gzip.Body = Gzip(page);
    gzip.Headers = {{"Content-Encoding", "gzip"}};
    server->Route("/gzip.html", gzip);
    ASSERT_TRUE(Load(server->Url("/gzip.html")));
    EXPECT_EQ(host->Document()->BodyProperty("scrollHeight"), 777);
    EXPECT_EQ(Hits("/gz-object.html"), 0u);

    // "é" as one byte of ISO-8859-1: read as UTF-8 it would be U+FFFD.
    THttpResponse latin1;
    latin1.ContentType = "text/html; charset=iso-8859-1";
    latin1.Body = "<!DOCTYPE html><body style='margin:0'><span id=c>\xE9</span><script>"
                  "document.body.style.height=document.getElementById('c').textContent.charCodeAt(0)+'px';"
                  "document.getElementById('c').style.display='none'</script></body>";
    server->Route("/latin1.html", latin1);
    ASSERT_TRUE(Load(server->Url("/latin1.html")));
    EXPECT_EQ(host->Document()->BodyProperty("scrollHeight"), 0xE9);

    // The rest of the document comes in parts over two seconds; the load waits for all of it.
    THttpResponse slow;
    slow.Body = "<!DOCTYPE html><body style='margin:0'><div style='height:100px'></div>";
    for (int i = 0; i < 4; ++i)
        slow.Trickle.push_back("<div style='height:" + std::to_string(50 * (i + 1)) + "px'></div>" +
                               std::string(2000, ' '));
    slow.Trickle.push_back("</body>");
    slow.TrickleGap = std::chrono::milliseconds(400);
    server->Route("/streamed.html", slow);
    ASSERT_TRUE(Load(server->Url("/streamed.html")));
    EXPECT_EQ(host->Document()->BodyProperty("scrollHeight"), 100 + 50 + 100 + 150 + 200);
}

TEST_F(ChromiumEngine, OfflineLoadsNothingFromTheNetwork) {
    Route("/offline.html", "<body>offline</body>");
    SetOption(O::DLCTL_OFFLINE, true);
    EXPECT_FALSE(Load(server->Url("/offline.html")));
    EXPECT_EQ(host->NavigationError(), "net::ERR_INTERNET_DISCONNECTED");
    EXPECT_EQ(Hits("/offline.html"), 0u);
    SetOption(O::DLCTL_OFFLINE, false);
    EXPECT_TRUE(Load(server->Url("/offline.html")));
}

TEST_F(ChromiumEngine, ScrollNoHidesTheScrollBarsOfAnOverflowingPage) {
    Route("/overflow.html", "<body style='margin:0;background:rgb(0,128,0)'>"
                            "<div style='width:3000px;height:3000px'></div></body>");
    host->SetBounds(0, 0, 400, 300);
    host->SetUserInterfaceOptions({TUserInterfaceOption::SCROLL_NO});
    ASSERT_TRUE(Load(server->Url("/overflow.html")));
    TBitmap hidden = Capture(*host, 400, 300);
    host->SetUserInterfaceOptions({});
    ASSERT_TRUE(Load(server->Url("/overflow.html")));
    TBitmap shown = Capture(*host, 400, 300);
    const std::array<int, 3> green{0, 128, 0};
    EXPECT_EQ(Pixel(hidden, 398, 150), green);
    EXPECT_EQ(Pixel(hidden, 200, 298), green);
    EXPECT_NE(Pixel(shown, 398, 150), green); // the vertical bar
    EXPECT_NE(Pixel(shown, 200, 298), green); // the horizontal bar
    EXPECT_EQ(Pixel(shown, 200, 150), green);
}

TEST_F(ChromiumEngine, PagesWithDialogsStillLoadSilentOrNot) {
    Route("/dialogs.html", "<body><script>alert('a');document.body.answer=confirm('b')?1:2;"
                           "prompt('c','d');</script></body>");
    ASSERT_TRUE(Load(server->Url("/dialogs.html")));
    EXPECT_EQ(host->Document()->BodyProperty("answer"), 1);
    SetOption(O::DLCTL_SILENT, false);
    ASSERT_TRUE(Load(server->Url("/dialogs.html")));
    EXPECT_EQ(host->Document()->BodyProperty("answer"), 1);
}

TEST_F(ChromiumEngine, UserAgentTokenIsAppendedWhileSet) {
    Route("/ua.html", "<body>ua</body>");
    host->UserAgent = "KorvaneTest/1.0";
    ASSERT_TRUE(Load(server->Url("/ua.html")));
    host->UserAgent.clear();
    ASSERT_TRUE(Load(server->Url("/ua.html")));
    auto r = server->RequestsFor("/ua.html");
    ASSERT_EQ(r.size(), 2u);
    const std::string agent = r[0].Header("user-agent");
    ASSERT_GT(agent.size(), 16u);
    EXPECT_EQ(agent.substr(agent.size() - 16), " KorvaneTest/1.0");
    EXPECT_EQ(r[1].Header("user-agent").find("KorvaneTest"), std::string::npos);
}

TEST_F(ChromiumEngine, ANeverFinishingPageStopsAndTheNextLoadWorks) {
    THttpResponse never;
    // The part that comes says it has come; the rest never does.
    never.Body = "<html><body>partial<script>fetch('/partial-arrived')</script>";
    never.NeverFinish = true;
    server->Route("/never.html", never);
    Route("/after-never.html", "<body>after</body>");
    // Shown as it comes, also with plugin content kept out (the default).
    ASSERT_TRUE(host->DownloadOptions().Contains(O::DLCTL_NO_DLACTIVEXCTLS));
    host->Navigate(server->Url("/never.html"));
    ASSERT_TRUE(PumpUntil([&] { return Hits("/partial-arrived") > 0; }));
    EXPECT_LT(host->ReadyState(), READYSTATE_COMPLETE);
    host->Stop();
    EXPECT_EQ(host->ReadyState(), READYSTATE_COMPLETE);
    EXPECT_TRUE(Load(server->Url("/after-never.html")));
}

TEST_F(ChromiumEngine, AnEndlessScriptIsEndedByStopAndByAMeasuringTimeout) {
    // A synchronous request just before the loop tells the server that the loop has begun: the script
    // goes on from the answer straight into it, without ever handing the page back.
    const std::string looping =
        "var x=new XMLHttpRequest();x.open('GET','/looping',false);x.send();for(;;){}";
    Route("/loop.html", "<body><script>" + looping + "</script></body>");
    Route("/loop-later.html", "<body style='margin:0'><div style='width:700px'>x</div><script>"
                              "addEventListener('load',function(){setTimeout(function(){" +
                                  looping + "},10)})</script></body>");
    Route("/after-loop.html", "<body>after</body>");
    Route("/looping", "");
    host->Navigate(server->Url("/loop.html"));
    ASSERT_TRUE(PumpUntil([&] { return Hits("/looping") == 1; }));
    EXPECT_LT(host->ReadyState(), READYSTATE_COMPLETE);
    host->Stop();
    EXPECT_TRUE(Load(server->Url("/after-loop.html")));

    ASSERT_TRUE(Load(server->Url("/loop-later.html")));
    ASSERT_TRUE(PumpUntil([&] { return Hits("/looping") == 2; }));
    const auto timeout = browser->Options().CallTimeout;
    browser->SetCallTimeout(std::chrono::milliseconds(1500));
    EXPECT_THROW(host->Document()->BodyProperty("scrollWidth"), EEngineError);
    browser->SetCallTimeout(timeout);
    // The script was ended: the page answers again.
    EXPECT_EQ(host->Document()->BodyProperty("scrollWidth"), 700);
    EXPECT_TRUE(Load(server->Url("/after-loop.html")));

    // Navigating away from a page whose script went into a loop after loading, without Stop.
    ASSERT_TRUE(Load(server->Url("/loop-later.html")));
    ASSERT_TRUE(PumpUntil([&] { return Hits("/looping") == 3; }));
    EXPECT_TRUE(Load(server->Url("/after-loop.html")));
}

TEST_F(ChromiumEngine, StopOnAnIdlePageLeavesTheScriptsOfTheNextPageAlone) {
    Route("/idle.html", "<body>idle</body>");
    Route("/script-after-stop.html", "<body style='margin:0'><script>document.write("
                                     "\"<div style='height:5000px'>made by script</div>\")</script></body>");
    ASSERT_TRUE(Load(server->Url("/idle.html")));
    host->Stop();
    EXPECT_EQ(host->ReadyState(), READYSTATE_COMPLETE);
    ASSERT_TRUE(host->Document());
    // Nothing ran when Stop came, so nothing that runs afterwards is ended: neither a measurement of the
    // same page nor the scripts of the next.
    EXPECT_GT(host->Document()->BodyProperty("scrollWidth"), 0);
    ASSERT_TRUE(Load(server->Url("/script-after-stop.html")));
    EXPECT_GE(host->Document()->BodyProperty("scrollHeight"), 5000);
}

TEST_F(ChromiumEngine, ACrashedRendererEndsTheLoadAndTheNextLoadWorks) {
    Route("/before-crash.html", "<body>before</body>");
    Route("/after-crash.html", "<body style='margin:0'><div style='width:321px'>after</div></body>");
    ASSERT_TRUE(Load(server->Url("/before-crash.html")));
    browser->Send("Page.crash", nlohmann::json::object(), engine->SessionId());
    ASSERT_TRUE(PumpUntil([&] { return !host->NavigationError().empty(); }));
    EXPECT_NE(host->NavigationError().find("crashed"), std::string::npos);
    EXPECT_FALSE(host->Document());
    ASSERT_TRUE(Load(server->Url("/after-crash.html")));
    EXPECT_EQ(host->Document()->BodyProperty("scrollWidth"), 321);
}

TEST_F(ChromiumEngine, AKilledBrowserEndsTheLoadAndAFreshOneTakesOver) {
    THttpResponse never;
    never.Body = "<html><body>partial";
    never.NeverFinish = true;
    server->Route("/never-kill.html", never);
    Route("/after-kill.html", "<body style='margin:0'><div style='width:444px'>after</div></body>");
    host->Navigate(server->Url("/never-kill.html"));
    ASSERT_TRUE(PumpUntil([&] { return Hits("/never-kill.html") > 0; }));
    const pid_t old = browser->ProcessId();
    ASSERT_GT(old, 0);
    ASSERT_EQ(kill(old, SIGKILL), 0);
    ASSERT_TRUE(PumpUntil([&] { return host->ReadyState() == READYSTATE_COMPLETE; }));
    EXPECT_NE(host->NavigationError().find("The browser ended unexpectedly"), std::string::npos);
    EXPECT_FALSE(host->Document());
    EXPECT_TRUE(Contains(texts, host->NavigationError()));
    ASSERT_TRUE(Load(server->Url("/after-kill.html")));
    EXPECT_NE(browser->ProcessId(), old);
    EXPECT_EQ(host->Document()->BodyProperty("scrollWidth"), 444);
}

TEST_F(ChromiumEngine, AScreenshotOfOverAHundredMegabytes) {
    Route("/tall.html",
          "<body style='margin:0'><div style='width:1200px;height:30000px;background:"
          "repeating-linear-gradient(to bottom,rgb(255,0,0) 0 1000px,rgb(0,0,255) 1000px 2000px)'>"
          "</div></body>");
    ASSERT_TRUE(Load(server->Url("/tall.html")));
    host->SetBounds(0, 0, 1200, 30000);
    TBitmap bmp = Capture(*host, 1200, 30000);
    EXPECT_GT(bmp.ImageSize(), 100u * 1000 * 1000);
    const std::array<int, 3> red{0, 0, 255}, blue{255, 0, 0};
    EXPECT_EQ(Pixel(bmp, 0, 0), red);
    EXPECT_EQ(Pixel(bmp, 600, 1500), blue);
    EXPECT_EQ(Pixel(bmp, 1199, 28500), red);
    EXPECT_EQ(Pixel(bmp, 1199, 29999), blue);
    host->SetBounds(0, 0, 100, 100);
}

TEST_F(ChromiumEngine, ChineseJapaneseKoreanAndEmojiRenderAsGlyphs) {
    // One character per 100 x 100 cell; the last is a private-use code point that no font has.
    Route("/cjk.html",
          "<meta charset=utf-8><body style='margin:0;background:#fff'>"
          "<style>span{display:inline-block;width:100px;height:100px;font-size:64px;line-height:100px;"
          "text-align:center;vertical-align:top;color:#000}</style>"
          "<span>漢</span><span>字</span><span>か</span><span>한</span><span>😀</span>"
          "<span>&#xF8FF;</span><span>&#xF8FE;</span></body>");
    host->SetBounds(0, 0, 700, 100);
    ASSERT_TRUE(Load(server->Url("/cjk.html")));
    TBitmap bmp = Capture(*host, 700, 100);
    auto cell = [&](int i) {
        std::vector<std::uint8_t> px;
        for (int y = 0; y < 100; ++y)
            for (int x = i * 100; x < i * 100 + 100; ++x)
                for (int c : Pixel(bmp, x, y))
                    px.push_back(static_cast<std::uint8_t>(c));
        return px;
    };
    auto ink = [](const std::vector<std::uint8_t>& px) {
        return std::count_if(px.begin(), px.end(), [](std::uint8_t v) { return v < 128; });
    };
    std::vector<std::vector<std::uint8_t>> cells;
    for (int i = 0; i < 7; ++i)
        cells.push_back(cell(i));
    // Missing glyphs all look alike; real ones differ from each other and from the missing-glyph form.
    for (int i = 0; i < 5; ++i) {
        EXPECT_GT(ink(cells[i]), 100) << "cell " << i << " is empty";
        EXPECT_NE(cells[i], cells[5]) << "cell " << i << " looks like a missing glyph";
        for (int j = i + 1; j < 5; ++j)
            EXPECT_NE(cells[i], cells[j]) << i << " and " << j;
    }
    // The emoji is in colour.
    int coloured = 0;
    for (int y = 0; y < 100; ++y)
        for (int x = 400; x < 500; ++x) {
            auto p = Pixel(bmp, x, y);
            if (std::abs(p[2] - p[0]) > 80) ++coloured;
        }
    EXPECT_GT(coloured, 200);
    host->SetBounds(0, 0, 100, 100);
}

TEST_F(ChromiumEngine, SeveralPagesLoadInParallelInOneBrowser) {
    THttpResponse slow;
    slow.Delay = std::chrono::milliseconds(300);
    slow.Body = "<body style='margin:0'><div style='width:611px'>a</div></body>";
    server->Route("/par-a.html", slow);
    slow.Body = "<body style='margin:0'><div style='width:622px'>b</div></body>";
    server->Route("/par-b.html", slow);
    TChromiumEngine* other = nullptr;
    auto second = MakeHost(&other, nullptr);
    host->Navigate(server->Url("/par-a.html"));
    second->Navigate(server->Url("/par-b.html"));
    ASSERT_TRUE(PumpUntil([&] { return host->ReadyState() == 4 && second->ReadyState() == 4; }));
    ASSERT_TRUE(host->Document() && second->Document());
    EXPECT_EQ(host->Document()->BodyProperty("scrollWidth"), 611);
    EXPECT_EQ(second->Document()->BodyProperty("scrollWidth"), 622);
    EXPECT_NE(engine->SessionId(), other->SessionId());
}

TEST_F(ChromiumEngine, TallDrawingsAreMadeOfBandsWithExactSeamsAtAnyScale) {
    // Every 100-pixel row of the page has its own colour; a band drawn twice or left out shows at once.
    std::string html = "<!DOCTYPE html><body style='margin:0'>";
    for (int i = 0; i < 30; ++i)
        html += "<div style='height:100px;background:rgb(" + std::to_string(i * 8) + "," +
                std::to_string(250 - i * 8) + ",90)'></div>";
    Route("/bands.html", html + "</body>");
    ASSERT_TRUE(Load(server->Url("/bands.html")));
    for (double scale : {1.0, 2.0}) {
        engine->SetDeviceScaleFactor(scale);
        engine->SetMaxBandRows(700); // 3000 page rows in bands of 700 device rows
        host->SetWidth(300);
        host->SetHeight(3000);
        const int deviceRows = static_cast<int>(3000 * scale);
        TBitmap bmp;
        bmp.SetPixelFormat(TPixelFormat::pf24bit);
        bmp.SetSize(static_cast<int>(300 * scale), deviceRows);
        host->Document()->Draw(bmp, 300, 3000);
        for (int y = 0; y < deviceRows; ++y) {
            const int stripe = static_cast<int>(y / scale) / 100;
            const std::array<int, 3> expected{90, 250 - stripe * 8, stripe * 8};
            ASSERT_EQ(Pixel(bmp, 150, y), expected) << "scale " << scale << ", row " << y;
        }
    }
    engine->SetDeviceScaleFactor(1.0);
    engine->SetMaxBandRows(TChromiumEngine::kDefaultMaxBandRows);
}

TEST_F(ChromiumEngine, APictureInBandsIsThePictureInOne) {
    // Elements placed against the view (fixed, sticky, sized by the view's height) are where the view puts
    // them in every band: no band may lay the page out at another size. The view is taller than the page,
    // as a measured capture's is (30 pixels more than the body), so a band drawn in a view the size of the
    // page would show them elsewhere.
    std::string html =
        "<!DOCTYPE html><body style='margin:0;font:16px sans-serif'>"
        "<div style='position:fixed;z-index:2;top:0;left:40px;width:200px;height:60px;background:#c30'></div>"
        "<div style='position:fixed;bottom:0;right:0;width:50vw;height:10vh;background:#36c'></div>"
        "<div style='position:fixed;left:0;top:0;bottom:0;width:80px;overflow-y:scroll;"
        "background:#ddd'>side</div>"
        "<nav style='position:sticky;top:-1px;z-index:1;padding-top:16px;height:24px;"
        "background:#0a6'>sticky</nav>";
    for (int i = 0; i < 40; ++i)
        html += "<p style='height:60px;margin:0;background:rgb(240," + std::to_string(i * 6) + ",200)'>" +
                std::to_string(i) + "</p>";
    Route("/placed.html", html + "</body>");
    ASSERT_TRUE(Load(server->Url("/placed.html")));
    host->SetBounds(0, 0, 400, 2500);
    const auto draw = [&](int rows) {
        engine->SetMaxBandRows(rows);
        return Capture(*host, 400, 2500);
    };
    const TBitmap whole = draw(TChromiumEngine::kWholeBandRows);
    const TBitmap banded = draw(700); // four bands
    engine->SetMaxBandRows(TChromiumEngine::kDefaultMaxBandRows);
    int differing = 0, first = -1;
    for (int y = 0; y < 2500; ++y)
        if (std::memcmp(whole.ScanLine(y), banded.ScanLine(y), 400 * 3) != 0 && differing++ == 0) first = y;
    EXPECT_EQ(differing, 0) << "rows differ from row " << first;
    EXPECT_EQ(Pixel(banded, 100, 30), (std::array<int, 3>{0, 0x33, 0xcc})); // the fixed box at the top
}

TEST_F(ChromiumEngine, APictureIsPutIntoABitmapWhileItComesAndAfterThePageMovedOn) {
    std::string html = "<!DOCTYPE html><body style='margin:0'>";
    for (int i = 0; i < 12; ++i)
        html += "<div style='height:100px;background:rgb(" + std::to_string(i * 20) + ",40,90)'></div>";
    Route("/later.html", html + "</body>");
    Route("/other.html", "<body style='background:#0f0'>another page</body>");
    ASSERT_TRUE(Load(server->Url("/later.html")));
    auto expectStripes = [](const TBitmap& bmp) {
        for (int y = 0; y < 1200; y += 50)
            ASSERT_EQ(Pixel(bmp, 100, y), (std::array<int, 3>{90, 40, y / 100 * 20})) << "row " << y;
    };
    engine->SetMaxBandRows(500); // three bands
    host->SetWidth(200);
    host->SetHeight(1200);
    // Developed on another thread from its first band on, while the engine takes the rest.
    TBitmap during;
    during.SetPixelFormat(TPixelFormat::pf24bit);
    during.SetSize(200, 1200);
    TRowGate duringGate(1200);
    std::thread developer;
    const std::shared_ptr<const TPageShot> shot =
        host->Document()->Shoot(200, 1200, [&](const std::shared_ptr<const TPageShot>& begun) {
            developer = std::thread([&, begun] {
                begun->DrawInto(during.Rows(), duringGate);
                duringGate.Close();
            });
        });
    engine->SetMaxBandRows(TChromiumEngine::kDefaultMaxBandRows);
    ASSERT_TRUE(developer.joinable());
    ASSERT_TRUE(duringGate.WaitForAll());
    developer.join();
    expectStripes(during);
    ASSERT_EQ(shot->Width(), 200);
    ASSERT_EQ(shot->Height(), 1200);
    // And again, once the view has its resting size and shows another page.
    host->SetWidth(100);
    host->SetHeight(100);
    ASSERT_TRUE(Load(server->Url("/other.html")));
    TBitmap after;
    after.SetPixelFormat(TPixelFormat::pf24bit);
    after.SetSize(200, 1200);
    TRowGate afterGate(1200);
    shot->DrawInto(after.Rows(), afterGate);
    expectStripes(after);
}

TEST_F(ChromiumEngine, APictureWhoseTakingFailedTellsWhyToWhoeverDevelopsIt) {
    Route("/failing.html", "<body style='background:#00f'>x</body>");
    ASSERT_TRUE(Load(server->Url("/failing.html")));
    host->SetWidth(300);
    host->SetHeight(300);
    std::shared_ptr<const TPageShot> begun;
    browser->SetCallDeadline(std::chrono::steady_clock::now()); // the page's time is up
    std::string why;
    try {
        host->Document()->Shoot(300, 300, [&](const std::shared_ptr<const TPageShot>& s) { begun = s; });
    } catch (const EEngineError& e) {
        why = e.what();
    }
    browser->SetCallDeadline(std::nullopt);
    ASSERT_NE(why.find("before the page's time was up"), std::string::npos) << why;
    ASSERT_TRUE(begun);
    TBitmap bmp;
    bmp.SetPixelFormat(TPixelFormat::pf24bit);
    bmp.SetSize(300, 300);
    TRowGate gate(300);
    try {
        begun->DrawInto(bmp.Rows(), gate);
        ADD_FAILURE() << "the picture was developed";
    } catch (const EEngineError& e) {
        EXPECT_EQ(e.what(), why);
    }
    host->SetWidth(100);
    host->SetHeight(100);
}

TEST_F(ChromiumEngine, TheFirstEngineLoadsIntoTheBrowsersOwnPageAndTheBrowserKeepsNoPagesOfItsOwn) {
    Route("/first.html", "<body>first</body>");
    auto own = std::make_shared<TChromiumBrowser>();
    auto pages = [&] {
        std::vector<std::string> ids;
        const TDevToolsMessage reply = own->Call("Target.getTargets", nlohmann::json::object());
        for (const auto& info : reply.Params.at("targetInfos"))
            if (info.at("type") == "page") ids.push_back(info.at("targetId"));
        return ids;
    };
    auto firstHost = std::make_unique<TBrowserHost>(std::make_unique<TChromiumEngine>(own));
    auto secondHost = std::make_unique<TBrowserHost>(std::make_unique<TChromiumEngine>(own));
    own->Start();
    const std::vector<std::string> atStart = pages();
    ASSERT_EQ(atStart.size(), 1u);
    firstHost->Navigate(server->Url("/first.html"));
    EXPECT_EQ(pages(), atStart); // no second page was made for it
    secondHost->Navigate(server->Url("/first.html"));
    EXPECT_EQ(pages().size(), 2u);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while ((firstHost->ReadyState() != 4 || secondHost->ReadyState() != 4) &&
           std::chrono::steady_clock::now() < deadline)
        own->WaitIncoming(std::chrono::milliseconds(50));
    EXPECT_TRUE(firstHost->Document() && secondHost->Document());
    // Nor does the browser keep pages of its own (such as the address bar's pop-ups) busy beside ours.
    const TDevToolsMessage reply = own->Call("Target.getTargets", nlohmann::json::object());
    for (const auto& info : reply.Params.at("targetInfos"))
        EXPECT_EQ(info.value("url", "").rfind("chrome://", 0), std::string::npos) << info.dump();
}

} // namespace
} // namespace korvane::testing
