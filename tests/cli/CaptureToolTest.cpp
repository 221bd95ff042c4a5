// korvane-capture run as a program against pages served on 127.0.0.1.
#include "platform/Files.h"
#include "platform/Version.h"
#include "tests/cli/ToolProcess.h"
#include "tests/support/FolderWatch.h"
#include "tests/support/ImageFiles.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestHttpServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace korvane::testing;
namespace fs = std::filesystem;

namespace {

// The profile folders of the browser that the tool `pid` started, wherever the tool made them: in the
// temporary folder, or in memory when no TMPDIR is set.
std::vector<fs::path> ProfilesLeftBy(pid_t pid) {
    std::vector<fs::path> folders{fs::temp_directory_path(), "/dev/shm"}, left;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
        folders.emplace_back(runtime);
    const std::string prefix = "korvane-chromium-" + std::to_string(pid) + "-";
    for (const auto& folder : folders) {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(folder, ec))
            if (entry.path().filename().string().rfind(prefix, 0) == 0) left.push_back(entry.path());
    }
    return left;
}

// Answers that wait until the test opens the gate.
struct TGate {
    std::mutex Mutex;
    std::condition_variable Changed;
    bool Open = true;
    void Set(bool open) {
        std::lock_guard lock(Mutex);
        Open = open;
        Changed.notify_all();
    }
} slowGate, lazyGate;

class CaptureTool : public ::testing::Test, public TToolProcess {
protected:
    using TToolProcess::Run; // not the test's own
    static inline std::unique_ptr<TTestHttpServer> server;
    korvane::testing::TempFolder folder{"korvane-tool"};
    const fs::path& dir = folder.Dir();

    static void SetUpTestSuite() {
        server = std::make_unique<TTestHttpServer>();
        server->Route("/red.html", MakeResponse(200, "text/html",
                                                "<!DOCTYPE html><body style='margin:0;background:#f00'>"
                                                "<div style='height:700px'></div></body>"));
        server->Route("/blue.html", MakeResponse(200, "text/html",
                                                 "<!DOCTYPE html><body style='margin:0;background:#00f'>"
                                                 "<div style='height:300px'></div></body>"));
        server->Route("/missing.html", MakeResponse(404, "text/html", "<!DOCTYPE html><body>gone</body>"));
        THttpResponse never = MakeResponse(200, "text/html", "<!DOCTYPE html><body>forever");
        never.NeverFinish = true;
        server->Route("/never.html", never);

        // A picture far below the first screen that the browser loads only when it comes near the view, and
        // that takes a while to arrive.
        server->Route("/lazy.html",
                      MakeResponse(200, "text/html",
                                   "<!DOCTYPE html><body style='margin:0'><div style='height:6000px'></div>"
                                   "<img loading='lazy' src='/lazy.svg' width='200' height='200'></body>"));
        THttpResponse picture =
            MakeResponse(200, "image/svg+xml",
                         "<svg xmlns='http://www.w3.org/2000/svg' width='200' height='200'>"
                         "<rect width='200' height='200' fill='#ff0000'/></svg>");
        server->Route("/lazy.svg", [picture](const THttpRequest&) {
            std::unique_lock lock(lazyGate.Mutex);
            lazyGate.Changed.wait_for(lock, std::chrono::seconds(30), [] { return lazyGate.Open; });
            return picture;
        });

        // A page that fills itself in once three slow requests have come back, a second after its load event.
        server->Route("/late.html",
                      MakeResponse(200, "text/html",
                                   "<!DOCTYPE html><body style='margin:0'><div style='height:200px'></div>"
                                   "<script>onload=function(){Promise.all([1,2,3].map(function(i){"
                                   "return fetch('/slow'+i)})).then(function(){var d=document."
                                   "createElement('div');d.style.cssText='height:100px;background:#00ff00';"
                                   "document.body.appendChild(d)})}</script></body>"));
        // Held until the test lets them go, then slow.
        for (const char* path : {"/slow1", "/slow2", "/slow3"})
            server->Route(path, [](const THttpRequest&) {
                std::unique_lock lock(slowGate.Mutex);
                slowGate.Changed.wait_for(lock, std::chrono::seconds(30), [] { return slowGate.Open; });
                THttpResponse slow = MakeResponse(200, "text/plain", "ok");
                slow.Delay = std::chrono::milliseconds(1000);
                return slow;
            });
    }
    static void TearDownTestSuite() { server.reset(); }

    std::string Url(const std::string& path) const { return server->Url(path); }
    std::string Stem(const std::string& path) const {
        return "http___127.0.0.1_" + std::to_string(server->Port()) + "_" + path.substr(1);
    }
    std::vector<std::string> Images() const { return folder.Files(); }
};

} // namespace

TEST_F(CaptureTool, OneUrlToEachFormat) {
    for (const std::string format : {"png", "jpg", "bmp"}) {
        const Outcome o = Run({"--delay", "0", "--width", "400", "--format", format, "--output", dir.string(),
                               Url("/red.html")});
        ASSERT_EQ(o.status, 0) << o.err;
        const std::string file = (dir / (Stem("/red.html") + "." + format)).string();
        EXPECT_EQ(o.out, file + "\n");
        const auto image = DecodeImageFile(file);
        ASSERT_TRUE(image.Ok()) << image.Error;
        EXPECT_EQ(image.Width, 400);
        EXPECT_EQ(image.Height, 730);
        const std::uint32_t centre = image.Pixel(200, 350);
        EXPECT_GE(centre >> 16, 0xF0u) << std::hex << centre;
        EXPECT_LE(centre & 0xFFFF, 0x1010u) << std::hex << centre;
    }
}

TEST_F(CaptureTool, OutputFileNamesTheFormat) {
    const std::string file = (dir / "shot.jpg").string();
    const Outcome o = Run({"--delay", "0", "-q", "-o", file, Url("/blue.html")});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.err, "");
    const auto image = DecodeImageFile(file);
    ASSERT_TRUE(image.Ok()) << image.Error;
    EXPECT_EQ(image.Width, 1024);
    EXPECT_EQ(image.Height, 330);
}

TEST_F(CaptureTool, AFailingUrlInTheMiddleLeavesTheOthersCaptured) {
    const Outcome o = Run({"--delay", "0", "--jobs", "1", "--output", dir.string(), Url("/red.html"),
                           "http://127.0.0.1:9/", "ftp://127.0.0.1/x", Url("/blue.html")});
    EXPECT_EQ(o.status, 1) << o.err;
    EXPECT_EQ(Images(), (std::vector<std::string>{Stem("/blue.html") + ".png", Stem("/red.html") + ".png"}));
    EXPECT_NE(o.err.find("http://127.0.0.1:9/: net::ERR_UNSAFE_PORT"), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("ftp://127.0.0.1/x: unsupported address"), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("captured 2, failed 2"), std::string::npos) << o.err;
}

TEST_F(CaptureTool, HttpErrorsAreCapturedWithAWarning) {
    const Outcome o = Run({"--delay", "0", "--output", dir.string(), Url("/missing.html")});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.err.find("warning: " + Url("/missing.html") + ": the server answered HTTP 404"),
              std::string::npos)
        << o.err;
}

TEST_F(CaptureTool, TwoJobsGiveTheSameImagesAsOne) {
    const fs::path one = dir / "one", two = dir / "two";
    fs::create_directories(one);
    fs::create_directories(two);
    const std::vector<std::string> pages{Url("/red.html"), Url("/blue.html"), Url("/missing.html")};
    auto args = [&](const fs::path& out, const char* jobs) {
        std::vector<std::string> a{"--delay", "0",  "--format", "bmp",
                                   "--jobs",  jobs, "--output", out.string()};
        a.insert(a.end(), pages.begin(), pages.end());
        return a;
    };
    ASSERT_EQ(Run(args(one, "1")).status, 0);
    ASSERT_EQ(Run(args(two, "2")).status, 0);
    for (const char* page : {"/red.html", "/blue.html", "/missing.html"}) {
        const std::string name = Stem(page) + ".bmp";
        EXPECT_EQ(Slurp(one / name), Slurp(two / name)) << name;
        EXPECT_GT(Slurp(one / name).size(), 54u);
    }
}

TEST_F(CaptureTool, PagesShareDownloadsOnlyWithCache) {
    // Two pages show the same picture, which the server allows to be kept for an hour.
    THttpResponse picture = MakeResponse(200, "image/svg+xml",
                                         "<svg xmlns='http://www.w3.org/2000/svg' width='50' height='50'>"
                                         "<rect width='50' height='50' fill='#00ff00'/></svg>");
    picture.Headers.push_back({"Cache-Control", "max-age=3600"});
    server->Route("/kept.svg", picture);
    for (const char* page : {"/kept-a.html", "/kept-b.html"})
        server->Route(page,
                      MakeResponse(200, "text/html", "<!DOCTYPE html><body><img src='/kept.svg'></body>"));
    const std::vector<std::string> pages{Url("/kept-a.html"), Url("/kept-b.html")};
    for (const bool cache : {false, true}) {
        server->ClearRequests();
        std::vector<std::string> args{"--delay", "0", "--jobs", "1", "--output", dir.string()};
        if (cache) args.push_back("--cache");
        args.insert(args.end(), pages.begin(), pages.end());
        const Outcome o = Run(args);
        ASSERT_EQ(o.status, 0) << o.err;
        EXPECT_EQ(server->RequestsFor("/kept.svg").size(), cache ? 1u : 2u) << "with cache " << cache;
    }
}

TEST_F(CaptureTool, APageThatNeverCompletesHitsTheTimeout) {
    // The page never completes, however fast the machine: its time is up, whatever time that is.
    const Outcome o = Run({"--delay", "0", "--timeout", "2", "--output", dir.string(), Url("/never.html")});
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find(Url("/never.html") + ": timed out after 2 s while loading"), std::string::npos)
        << o.err;
    EXPECT_TRUE(Images().empty());
}

TEST_F(CaptureTool, UsageErrorsExitWithTwo) {
    for (std::vector<std::string> args :
         std::vector<std::vector<std::string>>{{"--bogus", "x"},
                                               {"--width"},
                                               {"--width", "0", "x"},
                                               {"--width", "abc", "x"},
                                               {},
                                               {"--input", (dir / "none.txt").string()},
                                               {"--output", (dir / "nowhere").string(), "x"}}) {
        const Outcome o = Run(args);
        EXPECT_EQ(o.status, 2) << o.err;
        EXPECT_NE(o.err.find("Try 'korvane-capture --help'"), std::string::npos) << o.err;
        EXPECT_EQ(o.out, "");
    }
    const Outcome help = Run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: korvane-capture"), std::string::npos);
    EXPECT_EQ(Run({"--version"}).out, std::string("korvane-capture ") + korvane::kVersion + "\n");
}

TEST_F(CaptureTool, AnUnwritableTargetFailsWithoutAPartialFile) {
    const fs::path folderInTheWay = dir / (Stem("/blue.html") + ".png");
    fs::create_directories(folderInTheWay); // the file name is taken by a folder
    const Outcome o = Run({"--delay", "0", "--output", dir.string(), Url("/blue.html")});
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("Cannot create the file"), std::string::npos) << o.err;
    EXPECT_EQ(Images(), std::vector<std::string>{folderInTheWay.filename().string()});
}

TEST_F(CaptureTool, LocalFilesAndListsWithRepeats) {
    const fs::path page = dir / "local page.html";
    std::ofstream(page)
        << "<!DOCTYPE html><body style='margin:0;background:#0f0'><div style='height:100px'></div></body>";
    const fs::path list = dir / "list.txt";
    std::ofstream(list) << "# pages\n" << page.string() << "\n\n" << page.string() << "\n";
    const Outcome o =
        Run({"--delay", "0", "--format", "bmp", "--output", dir.string(), "--input", list.string()});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.err.find("skipping 1 repeated URLs"), std::string::npos) << o.err;
    const std::string name = "file___" + dir.string() + "/local%20page.html";
    std::string stem = name;
    for (char& c : stem)
        if (c == '/') c = '_';
    const auto image = DecodeImageFile((dir / (stem + ".bmp")).string());
    ASSERT_TRUE(image.Ok()) << image.Error;
    EXPECT_EQ(image.Pixel(10, 10), 0x00FF00u);
}

TEST_F(CaptureTool, LazyBringsInPicturesThatLoadOnlyWhenSeen) {
    auto capture = [&](bool lazy) {
        // A run that gets stuck ends at its own time and says why, well before the test's limit.
        std::vector<std::string> args{"--delay",
                                      "1",
                                      "--timeout",
                                      "20",
                                      "--format",
                                      "bmp",
                                      "--width",
                                      "800",
                                      "-o",
                                      (dir / "lazy.bmp").string(),
                                      Url("/lazy.html")};
        if (lazy) args.insert(args.begin(), "--lazy");
        const Outcome o = Run(args);
        EXPECT_EQ(o.status, 0) << o.err;
        return DecodeImageFile((dir / "lazy.bmp").string());
    };
    // Without scrolling the picture is asked for only when the view takes the page's whole height for the
    // picture; held back, its answer comes too late for it.
    lazyGate.Set(false);
    const auto without = capture(false);
    lazyGate.Set(true);
    ASSERT_TRUE(without.Ok()) << without.Error;
    EXPECT_NE(without.Pixel(100, 6100), 0xFF0000u);
    const auto with = capture(true);
    ASSERT_TRUE(with.Ok()) << with.Error;
    EXPECT_FALSE(server->RequestsFor("/lazy.svg").empty());
    EXPECT_EQ(with.Pixel(100, 6100), 0xFF0000u);
}

TEST_F(CaptureTool, WaitIdleCapturesWhatAScriptAddsAfterTheLoad) {
    auto capture = [&](bool waitIdle) {
        std::vector<std::string> args{
            "--delay", "0", "--format", "png", "-o", (dir / "late.png").string(), Url("/late.html")};
        if (waitIdle) args.insert(args.begin(), "--wait-idle");
        const Outcome o = Run(args);
        EXPECT_EQ(o.status, 0) << o.err;
        return DecodeImageFile((dir / "late.png").string());
    };
    slowGate.Set(false); // the script's requests get no answer before the first capture is done
    const auto early = capture(false);
    slowGate.Set(true);
    ASSERT_TRUE(early.Ok()) << early.Error;
    EXPECT_EQ(early.Height, 230);
    const auto settled = capture(true);
    ASSERT_TRUE(settled.Ok()) << settled.Error;
    EXPECT_EQ(settled.Height, 330);
    EXPECT_EQ(settled.Pixel(50, 250), 0x00FF00u);
}

TEST_F(CaptureTool, ScaleTwoDoublesBothSides) {
    const Outcome o = Run({"--delay", "0", "--scale", "2", "--width", "400", "--format", "png", "-o",
                           (dir / "double.png").string(), Url("/red.html")});
    ASSERT_EQ(o.status, 0) << o.err;
    const auto image = DecodeImageFile((dir / "double.png").string());
    ASSERT_TRUE(image.Ok()) << image.Error;
    EXPECT_EQ(image.Width, 800);
    EXPECT_EQ(image.Height, 1460);
    EXPECT_EQ(image.Pixel(799, 1399), 0xFF0000u);
}

// The largest sides a capture may have come out whole: 16384 wide, and 131030 high (in bands).
TEST_F(CaptureTool, TheLargestSidesComeOutComplete) {
    auto stripes = [](int width, int count) {
        std::string html = "<!DOCTYPE html><body style='margin:0;width:" + std::to_string(width) + "px'>";
        for (int i = 0; i < count; ++i)
            html += "<div style='height:1000px;background:rgb(" + std::to_string(i * 37 % 256) + "," +
                    std::to_string(i * 91 % 256) + "," + std::to_string(i * 53 % 256) + ")'></div>";
        return html + "</body>";
    };
    auto colour = [](int i) {
        return static_cast<std::uint32_t>((i * 37 % 256) << 16 | (i * 91 % 256) << 8 | (i * 53 % 256));
    };
    server->Route("/wide.html", MakeResponse(200, "text/html", stripes(16384, 2)));
    server->Route("/tall.html", MakeResponse(200, "text/html", stripes(800, 131)));

    Outcome o = Run({"--delay", "0", "--width", "16384", "--format", "bmp", "-o", (dir / "wide.bmp").string(),
                     Url("/wide.html")});
    ASSERT_EQ(o.status, 0) << o.err;
    auto image = DecodeImageFile((dir / "wide.bmp").string());
    ASSERT_TRUE(image.Ok()) << image.Error;
    EXPECT_EQ(image.Width, 16384);
    EXPECT_EQ(image.Height, 2030);
    for (int i = 0; i < 2; ++i)
        for (int x : {0, 9000, 16383})
            EXPECT_EQ(image.Pixel(x, i * 1000 + 500), colour(i)) << x;
    fs::remove(dir / "wide.bmp");

    o = Run({"--delay", "0", "--width", "800", "--format", "png", "-o", (dir / "tall.png").string(),
             Url("/tall.html")});
    ASSERT_EQ(o.status, 0) << o.err;
    image = DecodeImageFile((dir / "tall.png").string());
    ASSERT_TRUE(image.Ok()) << image.Error;
    EXPECT_EQ(image.Height, 131030);
    for (int i = 0; i < 131; ++i) {
        ASSERT_EQ(image.Pixel(400, i * 1000 + 2), colour(i)) << i;
        ASSERT_EQ(image.Pixel(400, i * 1000 + 997), colour(i)) << i;
    }
    EXPECT_EQ(image.Pixel(400, 131029), 0xFFFFFFu);

    EXPECT_EQ(Run({"--width", "16385", Url("/wide.html")}).status, 2);
    EXPECT_EQ(Run({"--height", "131073", Url("/wide.html")}).status, 2);
}

// Two pages at once, some of them tall: the page that is not in front still loads and draws.
TEST_F(CaptureTool, TwoJobsOverTallAndShortPagesAllComeOut) {
    auto box = [](int w, int h) {
        return "<!DOCTYPE html><body style='margin:0'><div style='width:" + std::to_string(w) +
               "px;height:" + std::to_string(h) +
               "px;background:linear-gradient(135deg,#2a6,#fd3 50%,#36c)'></div></body>";
    };
    const std::vector<std::pair<int, int>> sizes{{1024, 20000}, {1024, 768},  {1200, 6000},
                                                 {1500, 3000},  {300, 12000}, {640, 2000}};
    std::vector<std::string> args{"--delay", "0", "--jobs", "2", "--timeout", "30", "--output", dir.string()};
    for (auto [w, h] : sizes) {
        const std::string path = "/box" + std::to_string(w) + "x" + std::to_string(h) + ".html";
        server->Route(path, MakeResponse(200, "text/html", box(w, h)));
        args.push_back(Url(path));
    }
    const Outcome o = Run(args);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.err.find("captured 6, failed 0"), std::string::npos) << o.err;
}

// Told to stop by a signal in the middle of writing, the run ends on its normal path: the files being written
// leave nothing behind, the browser and its profile are gone, and the tool then ends by that signal.
TEST_F(CaptureTool, SignalsEndTheRunWithoutPartFilesOrBrowser) {
    std::string tall = "<!DOCTYPE html><body style='margin:0'>";
    for (int i = 0; i < 60; ++i)
        tall += "<div style='height:1000px;background:rgb(" + std::to_string(i * 4) + ",9," +
                std::to_string(i) + ")'></div>";
    server->Route("/tall-stripes.html", MakeResponse(200, "text/html", tall + "</body>"));
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        std::vector<std::string> args{"--delay", "0", "--jobs", "2", "--output", dir.string()};
        for (int i = 0; i < 6; ++i)
            args.push_back(Url("/tall-stripes.html?" + std::to_string(i)));
        const pid_t pid = Start(args);
        ASSERT_GT(pid, 0);
        // Once a file is being written, the signal comes.
        auto writing = [&] {
            for (const auto& name : Images())
                if (name.size() > 5 && name.compare(name.size() - 5, 5, ".part") == 0) return true;
            return false;
        };
        ASSERT_TRUE(korvane::testing::WaitForFolder(dir.string(), writing)) << "no file was being written";
        ::kill(pid, sig);
        const Outcome o = Wait(pid);
        EXPECT_EQ(o.status, 128 + sig) << o.err;
        EXPECT_NE(o.err.find("interrupted"), std::string::npos) << o.err;
        for (const auto& name : Images()) {
            EXPECT_EQ(name.find(".part"), std::string::npos) << name;
            EXPECT_EQ(DecodeImageFile((dir / name).string()).Height, 60030) << name; // whole files only
        }
        EXPECT_EQ(ProfilesLeftBy(pid), std::vector<fs::path>{});
        for (const auto& name : Images())
            fs::remove(dir / name);
    }
}

// Pictures larger than the memory budget are written one after the other rather than refused.
TEST_F(CaptureTool, PicturesLargerThanTheMemoryBudgetWaitForRoom) {
    server->Route("/big.html",
                  MakeResponse(200, "text/html",
                               "<!DOCTYPE html><body style='margin:0'><div style='height:25000px;"
                               "background:#2040a0'></div></body>"));
    std::vector<std::string> args{"--delay", "0",        "--jobs", "2",        "--memory",
                                  "64",      "--format", "bmp",    "--output", dir.string()};
    for (int i = 0; i < 3; ++i)
        args.push_back(Url("/big.html?" + std::to_string(i)));
    const Outcome o = Run(args); // each bitmap is 1024 x 25030 x 3 bytes, about 77 MB
    ASSERT_EQ(o.status, 0) << o.err;
    ASSERT_EQ(Images().size(), 3u);
    for (const auto& name : Images()) {
        const auto image = DecodeImageFile((dir / name).string());
        EXPECT_EQ(image.Height, 25030) << name;
        EXPECT_EQ(image.Pixel(10, 24990), 0x2040A0u) << name;
    }
}

// JPEG holds at most 65500 rows: a capture that needs more is refused before it is drawn, with what to do.
TEST_F(CaptureTool, JpegTooTallIsRefusedBeforeItIsDrawn) {
    const Outcome usage = Run({"--format", "jpg", "--height", "70000", Url("/red.html")});
    EXPECT_EQ(usage.status, 2);
    EXPECT_NE(usage.err.find("65500"), std::string::npos) << usage.err;
    server->Route("/very-tall.html", MakeResponse(200, "text/html",
                                                  "<!DOCTYPE html><body style='margin:0'><div "
                                                  "style='height:70000px'></div></body>"));
    const Outcome page =
        Run({"--delay", "0", "--format", "jpg", "--output", dir.string(), Url("/very-tall.html")});
    EXPECT_EQ(page.status, 1);
    EXPECT_NE(page.err.find("at most 65500 pixels"), std::string::npos) << page.err;
    EXPECT_NE(page.err.find("png or bmp"), std::string::npos) << page.err;
    EXPECT_TRUE(Images().empty());
}

// The tool speaks the locale's language: English by default, the Japanese catalogue's texts in Japanese.
TEST_F(CaptureTool, MessagesInTheLocalesLanguage) {
    const std::string missing = (dir / (Stem("/red.html") + ".png")).string();
    std::filesystem::create_directories(missing); // the file's name is taken by a folder
    const std::vector<std::string> args{"--delay", "0", "--output", dir.string(), Url("/red.html")};
    const Outcome english = Run(args, {"LANG=C.UTF-8", "LC_ALL=", "LC_MESSAGES=", "LANGUAGE="});
    EXPECT_EQ(english.status, 1);
    EXPECT_NE(english.err.find("Cannot create the file " + missing), std::string::npos) << english.err;
    const Outcome japanese = Run(
        args, {"LANG=ja_JP.UTF-8", "LC_ALL=", "LC_MESSAGES=", "LANGUAGE=", "LOCPATH=" KORVANE_TEST_LOCALES});
    EXPECT_EQ(japanese.status, 1);
    EXPECT_NE(japanese.err.find("ファイル " + missing + " を作成できません"), std::string::npos)
        << japanese.err;
}

// ---- Names: distinct addresses never write over each other's file in one run.

TEST_F(CaptureTool, AddressesThatMakeOneNameGetNumberedFiles) {
    const std::string longer = "/" + std::string(120, 'n');
    const Outcome o = Run({"--delay", "0", "--jobs", "1", "--format", "bmp", "--output", dir.string(),
                           Url("/s?a"), Url("/s_a"), Url("/s:a"), Url(longer + "?1"), Url(longer + "?2")});
    ASSERT_EQ(o.status, 0) << o.err;
    const std::string stem = Stem("/s_a");
    const std::string cut = (Stem(longer + "?1")).substr(0, 100);
    EXPECT_EQ(Images(), (std::vector<std::string>{cut + "~.bmp", cut.substr(0, 98) + "~2.bmp", stem + ".bmp",
                                                  stem + "~2.bmp", stem + "~3.bmp"}));
    for (const auto& name : Images())
        EXPECT_LE(name.size() - 4, 101u) << name;
    // Each numbered file says whose name it would have had.
    EXPECT_NE(o.err.find(Url("/s_a") + " gives the same file name as " + Url("/s?a")), std::string::npos)
        << o.err;
    EXPECT_NE(o.err.find(Url("/s:a") + " gives the same file name as " + Url("/s?a")), std::string::npos)
        << o.err;
    EXPECT_NE(o.out.find(stem + "~3.bmp"), std::string::npos) << o.out;
}

// ---- Sizes: every scale the help allows.

TEST_F(CaptureTool, EveryScaleTheHelpAllowsWorks) {
    for (const char* scale : {"0.1", "0.25", "0.4", "1.5"}) {
        const Outcome o = Run({"--delay", "0", "--scale", scale, "--width", "400", "--format", "png", "-o",
                               (dir / "scaled.png").string(), Url("/red.html")});
        ASSERT_EQ(o.status, 0) << scale << ": " << o.err;
        const auto image = DecodeImageFile((dir / "scaled.png").string());
        ASSERT_TRUE(image.Ok()) << image.Error;
        EXPECT_EQ(image.Width, static_cast<int>(std::lround(400 * std::stod(scale)))) << scale;
        EXPECT_EQ(image.Height, static_cast<int>(std::lround(730 * std::stod(scale)))) << scale;
    }
}

// ---- Browser faults: a browser that hangs is replaced, the pages it held are begun again.

namespace {
// The browser of the tool `tool`: its child whose command line has the DevTools pipe.
pid_t BrowserOf(pid_t tool) {
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::string stat, cmdline;
        try {
            stat = korvane::ReadWholeFile(entry.path().string() + "/stat");
            cmdline = korvane::ReadWholeFile(entry.path().string() + "/cmdline");
        } catch (...) {
            continue;
        }
        const auto close = stat.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(stat.substr(close + 2));
        char state = 0;
        long ppid = 0;
        rest >> state >> ppid;
        if (ppid == tool && cmdline.find("--remote-debugging-pipe") != std::string::npos)
            return static_cast<pid_t>(std::stol(name));
    }
    return -1;
}
} // namespace

TEST_F(CaptureTool, AStoppedBrowserIsReplacedAndItsPagesTriedAgain) {
    std::vector<std::string> args{"--delay", "1",        "--jobs", "1",        "--timeout",
                                  "40",      "--format", "bmp",    "--output", dir.string()};
    for (int i = 0; i < 4; ++i)
        args.push_back(Url("/blue.html?" + std::to_string(i)));
    const pid_t tool = Start(args);
    ASSERT_GT(tool, 0);
    // Once the first file is out, the browser is stopped (SIGSTOP) in the middle of the next page.
    ASSERT_TRUE(korvane::testing::WaitForFolder(logs.Path(), [&] { return !Slurp(StdoutPath()).empty(); }));
    const pid_t browser = BrowserOf(tool);
    ASSERT_GT(browser, 0);
    ASSERT_EQ(::kill(browser, SIGSTOP), 0);
    const Outcome o = Wait(tool);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(Images().size(), 4u);
    EXPECT_NE(o.err.find("the browser stopped answering: tried again in a new browser"), std::string::npos)
        << o.err;
}

// ---- Pages that do not finish: drawn as they are, unless --strict.

TEST_F(CaptureTool, APageWithAStalledPictureIsCapturedAsItWas) {
    THttpResponse never = MakeResponse(200, "image/png", "");
    never.NeverFinish = true;
    server->Route("/stalled.png", never);
    server->Route("/stalled.html",
                  MakeResponse(200, "text/html",
                               "<!DOCTYPE html><body style='margin:0;background:#0f0'>"
                               "<div style='height:300px'></div><img src='/stalled.png'></body>"));
    // The picture never comes, so each run takes its whole time for loading (9 s of 12, plenty for the
    // document on a busy machine) and 3 s for the drawing. The three runs go at once, each with a browser of
    // its own.
    struct TCase {
        const char* Name;
        std::vector<std::string> Options;
        TToolProcess Process;
        pid_t Pid = -1;
    };
    TCase cases[] = {{"plain", {}, {}}, {"wait-idle", {"--wait-idle"}, {}}, {"strict", {"--strict"}, {}}};
    for (TCase& c : cases) {
        std::vector<std::string> args = c.Options;
        for (const std::string& a :
             {std::string("--delay"), std::string("0"), std::string("--timeout"), std::string("12"),
              std::string("--format"), std::string("bmp"), std::string("-o"),
              (dir / (std::string(c.Name) + ".bmp")).string(), Url("/stalled.html")})
            args.push_back(a);
        c.Pid = c.Process.Start(args);
        ASSERT_GT(c.Pid, 0);
    }
    for (TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const Outcome o = c.Process.Wait(c.Pid);
        const std::string file = (dir / (std::string(c.Name) + ".bmp")).string();
        if (std::string(c.Name) == "strict") {
            EXPECT_EQ(o.status, 1);
            EXPECT_NE(o.err.find("timed out after 12 s while loading"), std::string::npos) << o.err;
            EXPECT_FALSE(fs::exists(file));
            continue;
        }
        ASSERT_EQ(o.status, 0) << o.err;
        EXPECT_NE(o.err.find("not complete after 9 s: captured as it was"), std::string::npos) << o.err;
        const auto image = DecodeImageFile(file);
        ASSERT_TRUE(image.Ok()) << image.Error;
        EXPECT_EQ(image.Pixel(10, 10), 0x00FF00u);
    }
}

TEST_F(CaptureTool, LazyOnAPageThatKeepsGrowingCutsTheScrollingAndCaptures) {
    server->Route(
        "/endless.html",
        MakeResponse(200, "text/html",
                     "<!DOCTYPE html><body style='margin:0'><script>function more(){var d=document."
                     "createElement('div');d.style.cssText='height:3000px;background:#30c060';"
                     "document.body.appendChild(d)}more();addEventListener('scroll',function(){if(scrollY+"
                     "innerHeight>document.body.scrollHeight-1000)more()})</script></body>"));
    const Outcome o = Run({"--lazy", "--delay", "0", "--timeout", "12", "--format", "png", "-o",
                           (dir / "endless.png").string(), Url("/endless.html")});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.err.find("scrolling was cut"), std::string::npos) << o.err;
    const auto image = DecodeImageFile((dir / "endless.png").string());
    ASSERT_TRUE(image.Ok()) << image.Error;
    EXPECT_GT(image.Height, 6000);
    EXPECT_LE(image.Height, 131072);
    EXPECT_EQ(image.Pixel(10, image.Height / 2), 0x30C060u);
}

// ---- Pipes and leftovers: a reader that goes away ends nothing; what a killed run left goes.

TEST_F(CaptureTool, AReaderThatGoesAwayStopsTheLinesNotTheRun) {
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    std::vector<std::string> args{"--delay", "0", "--jobs", "1", "--output", dir.string()};
    for (int i = 0; i < 3; ++i)
        args.push_back(Url("/red.html?" + std::to_string(i)));
    const pid_t tool = Start(args, {}, {}, pipeFds[1]);
    ::close(pipeFds[1]);
    ::close(pipeFds[0]); // as `| head -0` would: every line the tool writes now meets EPIPE
    const Outcome o = Wait(tool);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(Images().size(), 3u);
    EXPECT_EQ(ProfilesLeftBy(tool), std::vector<fs::path>{});
}

TEST_F(CaptureTool, PartFilesOfProcessesThatAreGoneAreRemoved) {
    const pid_t dead = fork();
    if (dead == 0) _exit(0);
    ASSERT_EQ(waitpid(dead, nullptr, 0), dead);
    const std::string stale = "." + Stem("/red.html") + ".png." + std::to_string(dead) + "-0-1.part";
    const std::string alive = ".other.png." + std::to_string(getpid()) + "-0-1.part";
    folder.Put(stale, "half");
    folder.Put(alive, "being written");
    const Outcome o = Run({"--delay", "0", "--output", dir.string(), Url("/red.html")});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(Images(), (std::vector<std::string>{alive, Stem("/red.html") + ".png"}));
}

TEST_F(CaptureTool, NothingIsLeftOutsideTheOutputFolder) {
    korvane::testing::TempFolder home("korvane-home"), temp("korvane-tmp");
    const Outcome o = Run({"--delay", "0", "--output", dir.string(), Url("/red.html"), Url("/blue.html")},
                          {"HOME=" + home.Path(), "TMPDIR=" + temp.Path(),
                           "XDG_CONFIG_HOME=", "XDG_CACHE_HOME=", "XDG_DATA_HOME="});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(Images().size(), 2u);
    EXPECT_TRUE(home.Files().empty()) << home.Files().front();
    EXPECT_TRUE(temp.Files().empty()) << temp.Files().front();
}

// ---- Terminal: control characters of an address reach neither the terminal nor a name raw.

TEST_F(CaptureTool, ControlCharactersOfAddressesAreEscapedInEveryLine) {
    const std::string nasty = Url("/esc\x1b[31mred\x07.html");
    const Outcome missing = Run({"--delay", "0", "--output", dir.string(), "/nonexistent\x1b[2Jfile"});
    EXPECT_EQ(missing.err.find('\x1b'), std::string::npos) << missing.err;
    EXPECT_NE(missing.err.find("\\x1b[2J"), std::string::npos) << missing.err;
    const Outcome page = Run({"--delay", "0", "--output", dir.string(), nasty});
    EXPECT_EQ(page.out.find('\x1b'), std::string::npos) << page.out;
    EXPECT_EQ(page.out.find('\x07'), std::string::npos) << page.out;
    for (const auto& name : Images()) {
        EXPECT_EQ(name.find('\x1b'), std::string::npos);
        EXPECT_EQ(name.find('\x07'), std::string::npos);
    }
}

// ---- Input: every line ending, and standard input.

TEST_F(CaptureTool, ListsOfEveryLineEndingAndFromStandardInput) {
    const std::string list =
        logs.Put("list.txt", Url("/red.html?cr") + "\r" + Url("/red.html?crlf") + "\r\n" +
                                 Url("/red.html?lf") + "\n" + Url("/red.html?last"));
    const Outcome o =
        Run({"--delay", "0", "--format", "bmp", "--output", dir.string(), "--input", "-"}, {}, list);
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(Images().size(), 4u);
}

// ---- Up-front checks: what cannot work is said before any page loads.

TEST_F(CaptureTool, WhatCannotWorkIsSaidBeforeAnyPageLoads) {
    server->ClearRequests();
    const Outcome folderAsFile = Run({"-o", dir.string(), Url("/red.html")});
    EXPECT_EQ(folderAsFile.status, 2);
    EXPECT_NE(folderAsFile.err.find("names the folder"), std::string::npos) << folderAsFile.err;
    const Outcome missingFolder = Run({"-o", (dir / "no" / "x.png").string(), Url("/red.html")});
    EXPECT_EQ(missingFolder.status, 2);
    EXPECT_NE(missingFolder.err.find("does not exist"), std::string::npos) << missingFolder.err;
    const Outcome delay = Run({"--delay", "5", "--timeout", "5", Url("/red.html")});
    EXPECT_EQ(delay.status, 2);
    EXPECT_NE(delay.err.find("--timeout"), std::string::npos) << delay.err;
    EXPECT_TRUE(server->RequestsFor("/red.html").empty());
    const Outcome folderAsPage = Run({"--delay", "0", "--output", dir.string(), dir.string()});
    EXPECT_EQ(folderAsPage.status, 1);
    EXPECT_NE(folderAsPage.err.find("is a folder"), std::string::npos) << folderAsPage.err;
    if (::geteuid() == 0) {
        const Outcome asRoot = Run({"--delay", "0", "--output", dir.string(), Url("/red.html")});
        const auto first = asRoot.err.find("running as root");
        EXPECT_NE(first, std::string::npos) << asRoot.err;
        EXPECT_EQ(asRoot.err.find("running as root", first + 1), std::string::npos) << asRoot.err;
    }
}
