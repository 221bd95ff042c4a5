// Runs of korvane-capture larger than one process: shares of one list, and a run killed and begun again.
#include "tests/cli/ToolProcess.h"
#include "tests/support/FolderWatch.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestHttpServer.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <condition_variable>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <sys/stat.h>

using namespace korvane::testing;

namespace {

class Runs : public ::testing::Test, public TToolProcess {
protected:
    using TToolProcess::Run; // not the test's own
    static inline std::unique_ptr<TTestHttpServer> server;
    static inline std::mutex mutex;
    static inline std::condition_variable changed;
    static inline bool held = false; // /p3 answers once this is false
    TempFolder folder{"korvane-runs"};

    static void SetUpTestSuite() {
        server = std::make_unique<TTestHttpServer>();
        for (int i = 1; i <= 6; ++i)
            server->Route("/p" + std::to_string(i), [i](const THttpRequest&) {
                if (i == 3) {
                    std::unique_lock lock(mutex);
                    changed.wait_for(lock, std::chrono::seconds(30), [] { return !held; });
                }
                return MakeResponse(200, "text/html",
                                    "<!DOCTYPE html><body style='margin:0'><div style='height:" +
                                        std::to_string(100 * i) + "px'></div></body>");
            });
    }
    static void TearDownTestSuite() { server.reset(); }
    static void Hold(bool hold) {
        std::lock_guard lock(mutex);
        held = hold;
        changed.notify_all();
    }
    std::vector<std::string> Pages(int count) const {
        std::vector<std::string> urls;
        for (int i = 1; i <= count; ++i)
            urls.push_back(server->Url("/p" + std::to_string(i)));
        return urls;
    }
};

} // namespace

TEST_F(Runs, SharesOfOneListAreDisjointAndMakeTheWholeList) {
    std::vector<std::string> list = Pages(5);
    list.insert(list.begin() + 2, list[0]); // a repeat does not move any page to another share
    std::multiset<std::string> all;
    for (int k = 0; k < 3; ++k) {
        std::vector<std::string> args{
            "-q", "--delay", "0", "--shard", std::to_string(k) + "/3", "--output", folder.Dir().string()};
        args.insert(args.end(), list.begin(), list.end());
        const Outcome o = Run(args);
        ASSERT_EQ(o.status, 0) << o.err;
        const auto files = Lines(o.out);
        EXPECT_EQ(files.size(), k < 2 ? 2u : 1u) << o.out;
        all.insert(files.begin(), files.end());
    }
    EXPECT_EQ(all.size(), 5u);
    EXPECT_EQ(std::set<std::string>(all.begin(), all.end()).size(), 5u); // none twice
    EXPECT_EQ(folder.Files().size(), 5u);
}

TEST_F(Runs, AKilledRunResumedCapturesEveryPageOnce) {
    const std::string manifest = folder.Path("run.jsonl"), images = folder.Path("images");
    std::filesystem::create_directories(images);
    std::vector<std::string> args{"-q",       "--delay", "0",          "--jobs", "1",
                                  "--output", images,    "--manifest", manifest, "--resume"};
    const auto pages = Pages(6);
    args.insert(args.end(), pages.begin(), pages.end());

    // The first run is killed while it waits for the third page, two pages in.
    server->ClearRequests();
    Hold(true);
    const pid_t first = Start(args);
    ASSERT_GT(first, 0);
    const bool twoDone = WaitForFolder(folder.Dir().string(), [&] {
        return Lines(Slurp(manifest)).size() >= 2 && !server->RequestsFor("/p3").empty();
    });
    ASSERT_EQ(::kill(first, SIGKILL), 0);
    const Outcome killed = Wait(first);
    Hold(false);
    ASSERT_TRUE(twoDone);
    EXPECT_EQ(killed.status, 128 + SIGKILL);

    const Outcome resumed = Run(args);
    EXPECT_EQ(resumed.status, 0) << resumed.err;
    std::map<std::string, int> captured, skipped;
    for (const auto& line : Lines(Slurp(manifest))) {
        const auto entry = nlohmann::json::parse(line); // every line is whole
        (entry["outcome"] == "captured" ? captured : skipped)[entry["url"].get<std::string>()]++;
    }
    for (const auto& url : pages)
        EXPECT_EQ(captured[url], 1) << url;
    EXPECT_EQ(skipped.size(), 2u);
    EXPECT_EQ(server->RequestsFor("/p1").size(), 1u);
    EXPECT_EQ(server->RequestsFor("/p6").size(), 1u);
    EXPECT_EQ(std::filesystem::directory_iterator(images) == std::filesystem::directory_iterator(), false);
}

TEST_F(Runs, LinksPlacedInASharedFolderAreReplacedNotFollowed) {
    namespace fs = std::filesystem;
    // A folder others may write, and files of the user's that a link placed there could name.
    const fs::path shared = folder.Dir() / "shared", mine = folder.Dir() / "mine";
    fs::create_directories(shared);
    fs::create_directories(mine);
    ASSERT_EQ(::chmod(shared.c_str(), 0777), 0);
    const std::vector<std::string> args{"--delay",         "0",
                                        "--output",        shared.string(),
                                        "--report",        (shared / "report.html").string(),
                                        "--manifest",      (shared / "run.jsonl").string(),
                                        server->Url("/p1")};
    Outcome o = Run(args);
    ASSERT_EQ(o.status, 0) << o.err;
    const std::string picture = Lines(o.out).at(0);
    // Each file the run writes, and the thumbnails' folder, is made a link to one of the user's own.
    std::vector<std::pair<fs::path, fs::path>> planted{{picture, mine / "picture"},
                                                       {shared / "report.html", mine / "report"},
                                                       {shared / "run.jsonl", mine / "manifest"},
                                                       {shared / "report-thumbnails", mine / "thumbnails"}};
    fs::remove_all(shared / "report-thumbnails");
    fs::create_directories(mine / "thumbnails");
    for (const auto& [link, victim] : planted) {
        if (!fs::is_directory(victim)) std::ofstream(victim) << "precious";
        fs::remove(link);
        fs::create_symlink(victim, link);
    }
    o = Run(args);
    ASSERT_EQ(o.status, 0) << o.err;
    for (const auto& [link, victim] : planted) {
        EXPECT_FALSE(fs::is_symlink(link)) << link;
        EXPECT_NE(o.err.find("'" + link.string() + "' is a link that another user could have placed"),
                  std::string::npos)
            << link << "\n"
            << o.err;
        if (!fs::is_directory(victim)) {
            std::ifstream in(victim);
            EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "precious") << victim;
        }
    }
    EXPECT_TRUE(fs::is_empty(mine / "thumbnails"));
    std::ifstream written(picture, std::ios::binary);
    std::string magic(4, '\0');
    written.read(magic.data(), 4);
    EXPECT_EQ(magic, "\x89PNG");
}
