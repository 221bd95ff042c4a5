// What users choose of a picture, through korvane-capture against pages served on 127.0.0.1: WebP and its
// quality, transparent backgrounds, one picture per width, a phone's view.
#include "tests/cli/ToolProcess.h"
#include "tests/support/ImageFiles.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestHttpServer.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <filesystem>

using namespace korvane::testing;
namespace fs = std::filesystem;

namespace {

class OutputChoices : public ::testing::Test, public TToolProcess {
protected:
    using TToolProcess::Run; // not the test's own
    static inline std::unique_ptr<TTestHttpServer> server;
    TempFolder folder{"korvane-choices"};
    const fs::path& dir = folder.Dir();

    static void SetUpTestSuite() {
        server = std::make_unique<TTestHttpServer>();
        // Stripes of four colours, a band of fine detail, 1,500 px: what lossless must keep exactly.
        server->Route("/stripes.html",
                      MakeResponse(200, "text/html",
                                   "<!DOCTYPE html><body style='margin:0'>"
                                   "<div style='height:400px;background:#f00'></div>"
                                   "<div style='height:400px;background:#0f0'></div>"
                                   "<div style='height:400px;background:repeating-linear-gradient(90deg,"
                                   "#123456 0 3px,#fedcba 3px 7px)'></div>"
                                   "<div style='height:300px;background:#00f'></div></body>"));
        // No background of its own: only the box is painted.
        server->Route("/bare.html", MakeResponse(200, "text/html",
                                                 "<!DOCTYPE html><body style='margin:0'><div style='margin:"
                                                 "50px;width:100px;height:100px;background:#c00'></div>"
                                                 "</body>"));
        // A colour per breakpoint, another for a coarse pointer, and the user agent's word for a phone.
        server->Route("/responsive.html",
                      MakeResponse(200, "text/html",
                                   "<!DOCTYPE html><html><head><meta name='viewport' "
                                   "content='width=device-width,initial-scale=1'><style>"
                                   "body{margin:0;background:#f00}#touch{height:50px;background:#000}"
                                   "@media (max-width:500px){body{background:#0f0}}"
                                   "@media (min-width:501px) and (max-width:1000px){body{background:#00f}}"
                                   "@media (pointer:coarse){#touch{background:#ff0}}</style></head>"
                                   "<body><div id='touch'></div><div id='agent' style='height:50px'></div>"
                                   "<div style='height:300px'></div><script>if(/Android.*Mobile/.test("
                                   "navigator.userAgent)&&navigator.maxTouchPoints>0)document."
                                   "getElementById('agent').style.background='#f0f'</script></body></html>"));
    }
    static void TearDownTestSuite() { server.reset(); }

    std::string Url(const std::string& path) const { return server->Url(path); }
    std::string File(const std::string& path, const std::string& tail) const {
        return (dir / ("http___127.0.0.1_" + std::to_string(server->Port()) + "_" + path.substr(1) + tail))
            .string();
    }
};

TEST_F(OutputChoices, WebpIsLosslessByDefaultAndLossyAtAQuality) {
    const Outcome png =
        Run({"--delay", "0", "--width", "600", "--output", dir.string(), Url("/stripes.html")});
    const Outcome webp = Run({"--delay", "0", "--width", "600", "--format", "webp", "--output", dir.string(),
                              Url("/stripes.html")});
    ASSERT_EQ(png.status, 0) << png.err;
    ASSERT_EQ(webp.status, 0) << webp.err;
    EXPECT_EQ(webp.out, File("/stripes.html", ".webp") + "\n");
    const TDecodedImage exact = DecodeImageFile(File("/stripes.html", ".png"));
    const TDecodedImage lossless = DecodeImageFile(File("/stripes.html", ".webp"));
    ASSERT_TRUE(lossless.Ok()) << lossless.Error;
    EXPECT_EQ(lossless.Format, "webp-lossless");
    ASSERT_EQ(lossless.Width, 600);
    ASSERT_EQ(lossless.Height, 1530);
    EXPECT_TRUE(lossless.Alpha.empty());
    EXPECT_TRUE(lossless.Rgb == exact.Rgb) << "the lossless picture differs from the png of the same page";

    const std::string file = (dir / "q.webp").string();
    const Outcome lossy =
        Run({"--delay", "0", "--width", "600", "--quality", "70", "-o", file, Url("/stripes.html")});
    ASSERT_EQ(lossy.status, 0) << lossy.err;
    const TDecodedImage close = DecodeImageFile(file);
    ASSERT_TRUE(close.Ok()) << close.Error;
    EXPECT_EQ(close.Format, "webp-lossy");
    for (const auto& [y, colour] :
         std::vector<std::pair<int, std::uint32_t>>{{200, 0xFF0000}, {600, 0x00FF00}, {1300, 0x0000FF}})
        for (int shift : {16, 8, 0})
            EXPECT_NEAR((close.Pixel(300, y) >> shift) & 0xFF, (colour >> shift) & 0xFF, 12) << y;

    // The JPEG quality, from the same option: a lower one makes a smaller file.
    Run({"--delay", "0", "--width", "600", "--quality", "30", "-o", (dir / "low.jpg").string(),
         Url("/stripes.html")});
    Run({"--delay", "0", "--width", "600", "-o", (dir / "default.jpg").string(), Url("/stripes.html")});
    EXPECT_LT(fs::file_size(dir / "low.jpg"), fs::file_size(dir / "default.jpg"));
}

TEST_F(OutputChoices, AWebpBeyondItsLargestSideIsRefusedBeforeItIsDrawn) {
    const Outcome usage = Run({"--format", "webp", "--height", "20000", Url("/stripes.html")});
    EXPECT_EQ(usage.status, 2);
    EXPECT_NE(usage.err.find("16383"), std::string::npos) << usage.err;
    server->Route("/tall.html", MakeResponse(200, "text/html",
                                             "<!DOCTYPE html><body style='margin:0'><div "
                                             "style='height:17000px'></div></body>"));
    const Outcome page =
        Run({"--delay", "0", "--format", "webp", "--output", dir.string(), Url("/tall.html")});
    EXPECT_EQ(page.status, 1);
    EXPECT_NE(page.err.find("A webp image can be at most 16383 pixels wide and high; this capture is 1024 x "
                            "17030: save it as png"),
              std::string::npos)
        << page.err;
    EXPECT_TRUE(folder.Files().empty());
}

TEST_F(OutputChoices, WhatAPageLeavesUnpaintedIsTransparentInPngAndWebp) {
    for (const std::string format : {"png", "webp"}) {
        SCOPED_TRACE(format);
        const std::string file = (dir / ("bare." + format)).string();
        const Outcome o =
            Run({"--delay", "0", "--width", "300", "--omit-background", "-o", file, Url("/bare.html")});
        ASSERT_EQ(o.status, 0) << o.err;
        const TDecodedImage image = DecodeImageFile(file);
        ASSERT_TRUE(image.Ok()) << image.Error;
        ASSERT_FALSE(image.Alpha.empty());
        for (const auto& [x, y] :
             std::vector<std::pair<int, int>>{{0, 0}, {299, 0}, {0, image.Height - 1}, {20, 100}})
            EXPECT_EQ(image.AlphaAt(x, y), 0) << x << "," << y;
        EXPECT_EQ(image.AlphaAt(100, 100), 255);
        EXPECT_EQ(image.Pixel(100, 100), 0xCC0000u);
    }
    // Without the option the same page is white and opaque.
    const std::string plain = (dir / "plain.png").string();
    ASSERT_EQ(Run({"--delay", "0", "--width", "300", "-o", plain, Url("/bare.html")}).status, 0);
    const TDecodedImage opaque = DecodeImageFile(plain);
    EXPECT_TRUE(opaque.Alpha.empty());
    EXPECT_EQ(opaque.Pixel(0, 0), 0xFFFFFFu);
    // Formats without transparency refuse the option before anything loads.
    for (const std::string format : {"jpg", "bmp"}) {
        const Outcome refused = Run({"--omit-background", "--format", format, Url("/bare.html")});
        EXPECT_EQ(refused.status, 2);
        EXPECT_NE(refused.err.find("--omit-background needs png or webp: " + format + " has no transparency"),
                  std::string::npos)
            << refused.err;
    }
}

TEST_F(OutputChoices, EachWidthOfAListMakesItsOwnPictureFileAndManifestLine) {
    const std::string manifest = (dir / "run.jsonl").string();
    const Outcome o = Run({"--delay", "0", "--width", "375,768", "--width", "1280", "--output", dir.string(),
                           "--manifest", manifest, Url("/responsive.html")});
    ASSERT_EQ(o.status, 0) << o.err;
    const std::vector<std::pair<int, std::uint32_t>> expected = {
        {375, 0x00FF00}, {768, 0x0000FF}, {1280, 0xFF0000}};
    std::vector<std::string> written;
    for (const auto& [width, colour] : expected) {
        const std::string file = File("/responsive.html", "-w" + std::to_string(width) + ".png");
        written.push_back(file);
        const TDecodedImage image = DecodeImageFile(file);
        ASSERT_TRUE(image.Ok()) << image.Error;
        EXPECT_EQ(image.Width, width);
        EXPECT_EQ(image.Pixel(width / 2, 200), colour) << width;
        EXPECT_EQ(image.Pixel(5, 5), 0x000000u) << "a desktop's pointer is fine";
    }
    EXPECT_EQ(Lines(o.out), written);
    const auto lines = Lines(Slurp(manifest));
    ASSERT_EQ(lines.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        const auto line = nlohmann::json::parse(lines[i]);
        EXPECT_EQ(line["view_width"], expected[i].first);
        EXPECT_EQ(line["width"], expected[i].first);
        EXPECT_EQ(line["file"], written[i]);
        EXPECT_EQ(line["url"], Url("/responsive.html"));
    }
    // A run resumed from that manifest has nothing left to do.
    const Outcome again = Run({"--delay", "0", "--width", "375,768,1280", "--output", dir.string(),
                               "--manifest", manifest, "--resume", Url("/responsive.html")});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_NE(again.err.find("skipping 3 pages"), std::string::npos) << again.err;
    // A list of widths takes numbers.
    EXPECT_EQ(Run({"--width", "375,auto", Url("/responsive.html")}).status, 2);
}

TEST_F(OutputChoices, MobileShowsThePageAsAPhoneDoes) {
    const std::string file = (dir / "phone.png").string();
    const Outcome o = Run({"--delay", "0", "--mobile", "--scale", "2", "-o", file, Url("/responsive.html")});
    ASSERT_EQ(o.status, 0) << o.err;
    const TDecodedImage image = DecodeImageFile(file);
    ASSERT_TRUE(image.Ok()) << image.Error;
    EXPECT_EQ(image.Width, 390 * 2); // a phone's width unless one is given
    EXPECT_EQ(image.Pixel(10, 10), 0xFFFF00u) << "the pointer is coarse";
    EXPECT_EQ(image.Pixel(10, 150), 0xFF00FFu) << "a phone's user agent with touch points";
    EXPECT_EQ(image.Pixel(10, 400), 0x00FF00u);
    const Outcome wide =
        Run({"--delay", "0", "--mobile", "--width", "768", "-o", file, Url("/responsive.html")});
    ASSERT_EQ(wide.status, 0) << wide.err;
    EXPECT_EQ(DecodeImageFile(file).Width, 768);
}

} // namespace
