#pragma once
// One browser and one test HTTP server for all tests of a binary; each test gets its own host and page.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "browser/BrowserHost.h"
#include "browser/ChromiumBrowser.h"
#include "browser/ChromiumEngine.h"
#include "imaging/Bitmap.h"
#include "tests/support/TestHttpServer.h"

namespace korvane::testing {

class ChromiumFixture : public ::testing::Test {
protected:
    static inline std::unique_ptr<TTestHttpServer> server;
    static inline std::shared_ptr<TChromiumBrowser> browser;

    static void SetUpTestSuite() {
        if (!server) server = std::make_unique<TTestHttpServer>();
        if (!browser) browser = std::make_shared<TChromiumBrowser>();
    }
    static void TearDownTestSuite() {}

    std::unique_ptr<TBrowserHost> host;
    TChromiumEngine* engine = nullptr;
    std::vector<std::string> texts;

    void SetUp() override { host = MakeHost(&engine, &texts); }
    void TearDown() override { host.reset(); }

    static std::unique_ptr<TBrowserHost> MakeHost(TChromiumEngine** engineOut,
                                                  std::vector<std::string>* textsOut) {
        auto e = std::make_unique<TChromiumEngine>(browser);
        if (engineOut) *engineOut = e.get();
        auto h = TBrowserHost::Designed(std::move(e));
        // What the capture job passes with its default check boxes.
        TDownloadControlOptions options = h->DownloadOptions();
        options.Include(TDownloadControlOption::DLCTL_PRAGMA_NO_CACHE);
        options.Include(TDownloadControlOption::DLCTL_NO_DLACTIVEXCTLS);
        h->SetDownloadOptions(options);
        if (textsOut)
            h->OnStatusTextChange = [textsOut](TBrowserHost&, const std::string& t) {
                textsOut->push_back(t);
            };
        return h;
    }

    static bool PumpUntil(const std::function<bool()>& done,
                          std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            if (!browser->WaitIncoming(std::chrono::milliseconds(50)) && !browser->Running())
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }
    // Navigates and waits until the load has ended; true when it ended with a document.
    bool Load(TBrowserHost& h, const std::string& url) {
        h.Navigate(url);
        EXPECT_TRUE(PumpUntil([&] { return h.ReadyState() == READYSTATE_COMPLETE; })) << url;
        return h.Document().has_value();
    }
    bool Load(const std::string& url) { return Load(*host, url); }
    void Route(const std::string& path, const std::string& html) {
        THttpResponse r;
        r.Body = html;
        server->Route(path, r);
    }
    std::size_t Hits(const std::string& path) { return server->RequestsFor(path).size(); }
    void SetOption(TDownloadControlOption m, bool on) {
        auto s = host->DownloadOptions();
        host->SetDownloadOptions(on ? s.Include(m) : s.Exclude(m));
    }

    // Blue, green, red of a pixel.
    static std::array<int, 3> Pixel(const TBitmap& b, int x, int y) {
        const std::uint8_t* p = b.ScanLine(y) + x * 3;
        return {p[0], p[1], p[2]};
    }
    static TBitmap Capture(TBrowserHost& h, int w, int ht) {
        TBitmap bmp;
        bmp.SetPixelFormat(TPixelFormat::pf24bit);
        bmp.SetSize(w, ht);
        auto doc = h.Document();
        EXPECT_TRUE(doc);
        if (doc) doc->Draw(bmp, w, ht);
        return bmp;
    }
};

} // namespace korvane::testing
