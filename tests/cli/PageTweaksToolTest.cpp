// korvane-capture on pages of our own that do what real sites do: consent overlays that lock the page,
// content that comes late, elements to leave out or to show alone, pages behind headers, cookies and a
// login, scripts, a dark scheme and animations.
#include "tests/cli/ToolProcess.h"
#include "tests/support/ImageFiles.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestHttpServer.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace korvane::testing;

namespace {

constexpr std::uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF, kYellow = 0xFFFF00,
                        kWhite = 0xFFFFFF, kBlack = 0x000000;

// A page of stripes, 500 px each, under a consent dialog in the markup of a common platform: a backdrop
// over the whole page, a banner at the bottom, and the body fixed where the page stood when it was locked.
const char* kConsentPage = R"(<!DOCTYPE html><html><head><style>
body{margin:0} .s{height:500px}
body.ot-lock{overflow:hidden;position:fixed;top:-120px;width:100%}
.onetrust-pc-dark-filter{position:fixed;inset:0;background:rgba(0,0,0,.8);z-index:10}
#onetrust-banner-sdk{position:fixed;left:0;right:0;bottom:0;height:200px;background:#fff;z-index:11}
</style></head><body class="ot-lock">
<div class="s" style="background:#f00"></div><div class="s" style="background:#0f0"></div>
<div class="s" style="background:#00f"></div><div class="s" style="background:#ff0"></div>
<div id="onetrust-consent-sdk"><div class="onetrust-pc-dark-filter"></div>
<div id="onetrust-banner-sdk">We value your privacy</div></div></body></html>)";

class PageTweaks : public ::testing::Test, public TToolProcess {
protected:
    using TToolProcess::Run; // not the test's own
    static inline std::unique_ptr<TTestHttpServer> server, other;
    TempFolder folder{"korvane-tweaks"};

    static void SetUpTestSuite() {
        server = std::make_unique<TTestHttpServer>();
        other = std::make_unique<TTestHttpServer>();
        server->Route("/consent.html", MakeResponse(200, "text/html", kConsentPage));
        server->Route("/stripes.html",
                      MakeResponse(200, "text/html",
                                   "<!DOCTYPE html><body style='margin:0'>"
                                   "<div id='a' style='height:300px;background:#f00'></div>"
                                   "<div id='b' style='height:300px;background:#0f0'>"
                                   "<p style='margin:0;visibility:visible'>own visibility</p></div>"
                                   "<div id='c' style='height:300px;background:#00f'></div></body>"));
        server->Route("/late.html",
                      MakeResponse(200, "text/html",
                                   "<!DOCTYPE html><body style='margin:0'>"
                                   "<div style='height:100px;background:#f00'></div><script>setTimeout("
                                   "function(){var d=document.createElement('div');d.id='late';d.style."
                                   "cssText='height:50px;background:#0f0';document.body.appendChild(d)},700)"
                                   "</script></body>"));
        server->Route("/box.html", MakeResponse(200, "text/html",
                                                "<!DOCTYPE html><body style='margin:0;background:#f00'>"
                                                "<div style='height:60px'></div><div id='box' style='margin-"
                                                "left:40px;width:200px;height:100px;background:#00f'></div>"
                                                "<div style='height:2000px'></div></body>"));
        server->Route("/echo", MakeResponse(200, "text/html", "<!DOCTYPE html><body>echo</body>"));
        // Behind a login of its own; it shows a picture of another server that asks for a login as well.
        server->Route("/secret", [](const THttpRequest& request) {
            if (request.Header("authorization") != "Basic YW5uOnB3") { // ann:pw
                THttpResponse refused = MakeResponse(401, "text/html", "<body>who are you?</body>");
                refused.Headers.emplace_back("WWW-Authenticate", "Basic realm=\"test\"");
                return refused;
            }
            return MakeResponse(200, "text/html",
                                "<!DOCTYPE html><body style='margin:0;background:#0f0'><img src='" +
                                    other->Url("/probe.svg") + "'></body>");
        });
        THttpResponse probe = MakeResponse(401, "text/plain", "");
        probe.Headers.emplace_back("WWW-Authenticate", "Basic realm=\"elsewhere\"");
        other->Route("/probe.svg", probe);
        server->Route("/scheme.html",
                      MakeResponse(200, "text/html",
                                   "<!DOCTYPE html><style>body{margin:0;background:#fff}@media "
                                   "(prefers-color-scheme:dark){body{background:#000}}</style><body>"
                                   "<div style='height:300px'></div></body>"));
        server->Route("/scripted.html",
                      MakeResponse(200, "text/html",
                                   "<!DOCTYPE html><body style='margin:0;background:#fff'>"
                                   "<div style='height:300px'></div><script>document.body.style."
                                   "background='#f00'</script></body>"));
        // One animation that never ends and one that ends, both moving a box to the right.
        server->Route("/animated.html",
                      MakeResponse(200, "text/html",
                                   "<!DOCTYPE html><style>body{margin:0}@keyframes m{from{transform:"
                                   "translateX(0)}to{transform:translateX(600px)}}div{width:100px;height:"
                                   "100px}</style><body><div style='background:#00f;animation:m 2s linear "
                                   "infinite'></div><div style='background:#f00;animation:m 3s forwards'>"
                                   "</div></body>"));
    }
    static void TearDownTestSuite() {
        server.reset();
        other.reset();
    }

    std::string Url(const std::string& path) const { return server->Url(path); }
    std::string File(const std::string& name) const { return folder.Path(name); }
    // Captures one page into a BMP of the folder and decodes it; fails the test when no image comes.
    TDecodedImage Capture(const std::string& path, std::vector<std::string> options,
                          const std::string& name) {
        options.insert(options.end(), {"-q", "--delay", "0", "-o", File(name), Url(path)});
        const Outcome o = Run(options);
        EXPECT_EQ(o.status, 0) << o.err;
        auto image = DecodeImageFile(File(name));
        EXPECT_TRUE(image.Ok()) << image.Error;
        return image;
    }
};

} // namespace

TEST_F(PageTweaks, ConsentDialogsGoAndTheScrollLockIsUndone) {
    const auto locked = Capture("/consent.html", {}, "locked.bmp");
    const auto open = Capture("/consent.html", {"--hide-consent"}, "open.bmp");
    ASSERT_TRUE(locked.Ok() && open.Ok());
    // Without it, the backdrop darkens everything and the locked body stands 120 px too high: its last
    // rows are empty.
    EXPECT_NE(locked.Pixel(500, 10), kRed);
    EXPECT_NE(locked.Pixel(500, 450), kRed);
    EXPECT_NE(locked.Pixel(500, 1990), kYellow);
    // With it, every stripe is where it belongs, in its own colour, down to the page's end.
    EXPECT_EQ(open.Width, 1024);
    EXPECT_EQ(open.Height, 2030);
    EXPECT_EQ(open.Pixel(500, 10), kRed);
    EXPECT_EQ(open.Pixel(500, 450), kRed);
    EXPECT_EQ(open.Pixel(500, 750), kGreen);
    EXPECT_EQ(open.Pixel(500, 1990), kYellow);
}

TEST_F(PageTweaks, HiddenElementsKeepTheirRoomRemovedOnesGiveItUp) {
    const auto hidden = Capture("/stripes.html", {"--hide", "#b"}, "hidden.bmp");
    const auto removed = Capture("/stripes.html", {"--remove", "#b", "--remove", "#nothing"}, "removed.bmp");
    EXPECT_EQ(hidden.Height, 930);
    EXPECT_EQ(hidden.Pixel(500, 150), kRed);
    EXPECT_EQ(hidden.Pixel(500, 450), kWhite);
    // Nor does the child that asks to be seen show: no pixel of its text is drawn.
    for (int y = 300; y < 320; ++y)
        for (int x = 0; x < 200; ++x)
            ASSERT_EQ(hidden.Pixel(x, y), kWhite) << x << "," << y;
    EXPECT_EQ(hidden.Pixel(500, 750), kBlue);
    EXPECT_EQ(removed.Height, 630);
    EXPECT_EQ(removed.Pixel(500, 450), kBlue);
}

TEST_F(PageTweaks, WaitForAnElementThatComesLateOrFailWhenItNeverDoes) {
    const auto image = Capture("/late.html", {"--wait-for", "#late"}, "late.bmp");
    EXPECT_EQ(image.Height, 180);
    EXPECT_EQ(image.Pixel(500, 120), kGreen);

    // 7.5 s for loading and waiting: both pages load well within it, on a busy machine too.
    const Outcome o = Run({"--delay", "0", "--timeout", "10", "--wait-for", "#never", "--output",
                           folder.Dir().string(), Url("/late.html"), Url("/stripes.html")});
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find(Url("/late.html") + ": no element matched #never"), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("captured 0, failed 2"), std::string::npos) << o.err;
}

TEST_F(PageTweaks, AnElementAloneWithItsPadding) {
    const auto image = Capture("/box.html", {"--selector", "#box", "--padding", "10"}, "box.bmp");
    EXPECT_EQ(image.Width, 220);
    EXPECT_EQ(image.Height, 120);
    EXPECT_EQ(image.Pixel(0, 0), kRed);
    for (auto [x, y] : {std::pair{10, 10}, {209, 10}, {10, 109}, {209, 109}})
        EXPECT_EQ(image.Pixel(x, y), kBlue) << x << "," << y;
    EXPECT_EQ(image.Pixel(210, 110), kRed);

    const Outcome o =
        Run({"--delay", "0", "--selector", "#missing", "-o", File("none.bmp"), Url("/box.html")});
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("no element matched #missing"), std::string::npos) << o.err;
}

TEST_F(PageTweaks, HeadersUserAgentAndCookiesReachTheServer) {
    const std::string cookies = File("cookies.txt");
    std::ofstream(cookies) << "# Netscape HTTP Cookie File\n"
                           << "127.0.0.1\tFALSE\t/\tFALSE\t0\tfromfile\tone\n"
                           << "#HttpOnly_127.0.0.1\tFALSE\t/\tFALSE\t0\tscriptless\ttwo\n"
                           << "127.0.0.1\tFALSE\t/elsewhere\tFALSE\t0\tnotthispath\tthree\n";
    server->ClearRequests();
    Capture("/echo",
            {"--header", "X-Korvane: yes", "--header", "Accept-Language: eo", "--user-agent",
             "KorvaneTest/1.0", "--cookie", "session=abc", "--cookies", cookies},
            "echo.bmp");
    const auto requests = server->RequestsFor("/echo");
    ASSERT_EQ(requests.size(), 1u);
    const THttpRequest& r = requests.front();
    EXPECT_EQ(r.Header("x-korvane"), "yes");
    EXPECT_EQ(r.Header("accept-language"), "eo");
    EXPECT_EQ(r.Header("user-agent"), "KorvaneTest/1.0");
    const std::string cookie = r.Header("cookie");
    for (const char* given : {"session=abc", "fromfile=one", "scriptless=two"})
        EXPECT_NE(cookie.find(given), std::string::npos) << cookie;
    EXPECT_EQ(cookie.find("notthispath"), std::string::npos) << cookie;
}

TEST_F(PageTweaks, CredentialsGoToThePagesServerOnly) {
    server->ClearRequests();
    other->ClearRequests();
    const auto image = Capture("/secret", {"--auth", "ann:pw"}, "secret.bmp");
    EXPECT_EQ(image.Pixel(500, 5), kGreen);
    const auto asked = server->RequestsFor("/secret");
    ASSERT_FALSE(asked.empty());
    EXPECT_EQ(asked.back().Header("authorization"), "Basic YW5uOnB3");
    const auto probes = other->RequestsFor("/probe.svg");
    ASSERT_FALSE(probes.empty()) << "the picture of the other server was not asked for";
    for (const auto& probe : probes)
        EXPECT_FALSE(probe.HasHeader("authorization")) << probe.Header("authorization");

    // Credentials the server does not take fail that page; the run goes on.
    const Outcome o = Run({"--delay", "0", "--auth", "ann:wrong", "--output", folder.Dir().string(),
                           Url("/secret"), Url("/echo")});
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find(Url("/secret") + ": the server did not accept the credentials (HTTP 401)"),
              std::string::npos)
        << o.err;
    EXPECT_NE(o.err.find("captured 1, failed 1"), std::string::npos) << o.err;
}

TEST_F(PageTweaks, CredentialsFollowTheServerTheBrowserLoadsFrom) {
    // The browser reads a backslash as "/": this address is the first server's page "/@127.0.0.1:PORT/lure",
    // while a reader of addresses that takes the host after "@" would see the second server. That page shows
    // a picture of the second server, which asks for a login.
    const std::string second = other->Url("").substr(7);
    server->Route("/@" + second + "/lure",
                  MakeResponse(200, "text/html",
                               "<!DOCTYPE html><body style='margin:0;background:#0f0'><img src='" +
                                   other->Url("/probe.svg") + "'></body>"));
    other->ClearRequests();
    const std::string url = Url("") + "\\@" + second + "/lure";
    const Outcome o = Run({"-q", "--delay", "0", "--auth", "ann:pw", "-o", File("lure.bmp"), url});
    EXPECT_EQ(o.status, 0) << o.err;
    const auto probes = other->RequestsFor("/probe.svg");
    ASSERT_FALSE(probes.empty()) << "the picture of the second server was not asked for";
    for (const auto& probe : probes)
        EXPECT_FALSE(probe.HasHeader("authorization")) << probe.Header("authorization");
}

TEST_F(PageTweaks, ScriptsAndStylesRunAfterTheLoad) {
    // A promise is waited for; the page's own scripts may be off.
    const auto waited = Capture("/scripted.html",
                                {"--no-scripts", "--script",
                                 "new Promise(function(done){document.body.style.background='#0f0';done()})",
                                 "--style", "div{border-top:10px solid #00f}"},
                                "scripted.bmp");
    EXPECT_EQ(waited.Pixel(500, 5), kBlue);
    EXPECT_EQ(waited.Pixel(500, 100), kGreen);
    const auto timed = Capture("/scripted.html",
                               {"--script", "new Promise(function(done){setTimeout(function(){document.body."
                                            "style.background='#00f';done()},300)})"},
                               "timed.bmp");
    EXPECT_EQ(timed.Pixel(500, 100), kBlue);

    const Outcome thrown = Run({"--delay", "0", "--script", "throw new Error('no luck')", "--output",
                                folder.Dir().string(), Url("/scripted.html"), Url("/echo")});
    EXPECT_EQ(thrown.status, 1);
    EXPECT_NE(thrown.err.find(Url("/scripted.html") + ": the script failed: Error: no luck"),
              std::string::npos)
        << thrown.err;
    const Outcome unsettled = Run({"--delay", "0", "--timeout", "10", "--script", "new Promise(function(){})",
                                   "-o", File("unsettled.bmp"), Url("/echo")});
    EXPECT_EQ(unsettled.status, 1);
    EXPECT_NE(unsettled.err.find("the script did not end within the page's time (10 s)"), std::string::npos)
        << unsettled.err;
}

TEST_F(PageTweaks, DarkSchemeAndAnimationsThatCaptureTheSameEveryTime) {
    EXPECT_EQ(Capture("/scheme.html", {}, "light.bmp").Pixel(10, 10), kWhite);
    EXPECT_EQ(Capture("/scheme.html", {"--dark"}, "dark.bmp").Pixel(10, 10), kBlack);

    const auto first = Capture("/animated.html", {"--reduced-motion"}, "first.bmp");
    Capture("/animated.html", {"--reduced-motion"}, "second.bmp");
    EXPECT_EQ(korvane::ReadWholeFile(File("first.bmp")), korvane::ReadWholeFile(File("second.bmp")));
    // The endless animation is back at its start, the other one at its end.
    EXPECT_EQ(first.Pixel(50, 50), kBlue);
    EXPECT_EQ(first.Pixel(650, 150), kRed);
    EXPECT_EQ(first.Pixel(50, 150), kWhite);
}

TEST_F(PageTweaks, AnInvalidSelectorEndsTheRunBeforeAnyPageLoads) {
    server->ClearRequests();
    const Outcome o = Run({"--hide", "#ok", "--wait-for", "div[", "-o", File("x.bmp"), Url("/echo")});
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.err.find("invalid CSS selector for --wait-for: div["), std::string::npos) << o.err;
    EXPECT_EQ(o.err.find("--hide"), std::string::npos) << o.err;
    EXPECT_TRUE(server->Requests().empty());
}
