// The run's loop without a browser: pages begun again when their browser hangs, falls silent or goes away,
// once and no more; a page of our own browser keeps its failure; pages fail with the reasons when no browser
// can be reached for a page's time; two addresses that make one name get numbered files. The browsers and the
// clock are the test's; the files are not written; nothing waits for real time but the writers' threads.
#include "cli/BatchRunner.h"
#include "tests/cli/ScriptedRunBrowser.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include "browser/EngineError.h"
#include "platform/Errors.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace korvane::testing {
namespace {

using namespace std::chrono_literals;

class BatchRunnerTest : public ::testing::Test {
protected:
    TManualClock clock;
    TempFolder folder{"korvane-runner"};
    std::atomic<int> shots{0};
    std::mutex mutex;
    std::condition_variable changed;
    int written = 0;
    bool left = false;
    std::vector<std::string> paths;

    std::shared_ptr<TScriptedRunBrowser> Browser(const std::string& name, bool remote) {
        auto browser = std::make_shared<TScriptedRunBrowser>(name, remote, clock);
        browser->Shots = &shots;
        return browser;
    }
    TCliOptions Options(std::vector<std::string> urls, int jobs = 1) {
        TCliOptions o;
        o.Urls = std::move(urls);
        o.Jobs = jobs;
        o.Delay = 0;
        o.TimeoutSeconds = 20;
        o.MemoryBytes = std::int64_t{1} << 40;
        o.OutputDir = folder.Dir().string();
        o.Format = TSaveFormat::Png;
        return o;
    }
    // Runs the pages: the clock moves on by as much as the loop would wait, once every picture begun has been
    // handed to the writer (a thread of its own) and written.
    // A writer given writes each file as well (and may throw); `left` is set once no browser runs.
    std::vector<TPageResult> Run(TCliOptions options,
                                 std::vector<std::shared_ptr<TScriptedRunBrowser>> browsers,
                                 std::function<void()> writer = {}) {
        std::vector<std::shared_ptr<IRunBrowser>> run(browsers.begin(), browsers.end());
        TBatchRunner::TParts parts;
        parts.Clock = &clock;
        parts.Writer = [this, writer](const TPageShot&, const TEncoding&, const std::string& path,
                                      std::stop_token) {
            struct TCounted {
                BatchRunnerTest& Test;
                ~TCounted() {
                    std::lock_guard lock(Test.mutex);
                    ++Test.written;
                    Test.changed.notify_all();
                }
            } counted{*this};
            {
                std::lock_guard lock(mutex);
                paths.push_back(path);
            }
            if (writer) writer();
        };
        parts.Waiter = [this, browsers](std::chrono::milliseconds wait) {
            std::unique_lock lock(mutex);
            left = std::none_of(browsers.begin(), browsers.end(), [](const auto& b) { return b->Running(); });
            changed.notify_all();
            changed.wait(lock, [this] { return written == shots.load(); });
            clock.Advance(std::min(wait, std::chrono::milliseconds(100)));
        };
        TBatchRunner runner(std::move(options), std::move(run), std::move(parts));
        return runner.Run();
    }
    static bool Says(const TPageResult& result, const std::string& text) {
        for (const auto& note : result.Notes)
            if (note.find(text) != std::string::npos) return true;
        return false;
    }
};

TEST_F(BatchRunnerTest, AHungBrowserIsReplacedAndItsPageBegunAgainOnceAndNoMore) {
    auto local = Browser("local", false);
    local->HangsWhenDrawn = 1;
    auto results = Run(Options({"http://127.0.0.1/a", "http://127.0.0.1/b"}), {local});
    ASSERT_EQ(results.size(), 2u);
    EXPECT_TRUE(results[0].Captured) << results[0].Reason;
    EXPECT_EQ(results[0].Attempts, 2);
    EXPECT_TRUE(Says(results[0], "the browser stopped answering: tried again in a new browser"));
    EXPECT_TRUE(results[1].Captured) << results[1].Reason;
    EXPECT_EQ(results[1].Attempts, 1);
    EXPECT_EQ(local->Starts, 2);
    EXPECT_EQ(local->Loaded,
              (std::vector<std::string>{"http://127.0.0.1/a", "http://127.0.0.1/a", "http://127.0.0.1/b"}));

    // A page that makes each new browser hang too fails after its second try.
    local = Browser("local", false);
    local->HangsWhenDrawn = 2;
    results = Run(Options({"http://127.0.0.1/a"}), {local});
    EXPECT_FALSE(results[0].Captured);
    EXPECT_EQ(results[0].Reason, "the browser stopped answering, also when the page was tried again");
    EXPECT_EQ(results[0].Attempts, 2);
}

TEST_F(BatchRunnerTest, ABrowserThatFallsSilentIsAskedAndReplacedWhenItGivesNoAnswer) {
    auto local = Browser("local", false);
    local->LoadTime = 5s;
    local->HangsAt = clock.At(1s); // while the page loads
    const auto results = Run(Options({"http://127.0.0.1/slow"}), {local});
    EXPECT_TRUE(results[0].Captured) << results[0].Reason;
    EXPECT_TRUE(Says(results[0], "the browser stopped answering: tried again in a new browser"));
    EXPECT_EQ(local->Starts, 2);
    EXPECT_GE(local->Asked, 1); // asked once it had been silent, and given no answer
    // Silent at 1 s, asked 2 s later, replaced 3 s after that; the page loaded again in 5 s.
    EXPECT_GE(clock.Now(), clock.At(11s));
}

TEST_F(BatchRunnerTest, PagesOfABrowserElsewhereThatGoesAwayAreBegunAgainOnAnother) {
    auto first = Browser("ws://127.0.0.1:9301/devtools/browser/1", true);
    auto second = Browser("ws://127.0.0.1:9302/devtools/browser/2", true);
    first->LostAt = clock.At(100ms); // while its first page loads; it cannot be reached again
    first->LostReason = "Connection reset by peer";
    first->StaysAway = true;
    const auto results =
        Run(Options({"http://127.0.0.1/a", "http://127.0.0.1/b", "http://127.0.0.1/c"}), {first, second});
    for (const auto& r : results) {
        EXPECT_TRUE(r.Captured) << r.Argument << ": " << r.Reason;
        EXPECT_EQ(r.Browser, second->Name()) << r.Argument;
    }
    EXPECT_EQ(results[0].Attempts, 2);
    EXPECT_TRUE(
        Says(results[0], "http://127.0.0.1/a: Connection reset by peer: begun again on another browser"));
    EXPECT_EQ(first->Loaded, std::vector<std::string>{"http://127.0.0.1/a"});
}

TEST_F(BatchRunnerTest, ABrowserElsewhereThatHangsRestsWhileTheOthersTakeItsPages) {
    // It answers a new connection and hangs again, as a stopped browser behind a live proxy would.
    auto hung = Browser("ws://127.0.0.1:9305/devtools/browser/5", true);
    auto healthy = Browser("ws://127.0.0.1:9306/devtools/browser/6", true);
    hung->HangsAt = clock.At(100ms);
    hung->StaysHung = true;
    std::vector<std::string> urls;
    for (int i = 0; i < 6; ++i)
        urls.push_back("http://127.0.0.1/" + std::to_string(i));
    const auto results = Run(Options(urls), {hung, healthy});
    for (const auto& r : results) {
        EXPECT_TRUE(r.Captured) << r.Argument << ": " << r.Reason;
        EXPECT_EQ(r.Browser, healthy->Name()) << r.Argument;
    }
    EXPECT_EQ(hung->Loaded, std::vector<std::string>{"http://127.0.0.1/0"});
    EXPECT_EQ(hung->Starts, 1);

    // One that answers its own questions and makes no page: the same.
    auto pageless = Browser("ws://127.0.0.1:9307/devtools/browser/7", true);
    healthy = Browser("ws://127.0.0.1:9306/devtools/browser/6", true);
    pageless->MakesNoPages = true;
    const auto again = Run(Options(urls), {pageless, healthy});
    for (const auto& r : again) {
        EXPECT_TRUE(r.Captured) << r.Argument << ": " << r.Reason;
        EXPECT_EQ(r.Browser, healthy->Name()) << r.Argument;
    }
    EXPECT_EQ(pageless->Starts, 1);
    EXPECT_EQ(healthy->Loaded.size(), urls.size());
}

TEST_F(BatchRunnerTest, APageOfOurOwnBrowserKeepsItsFailureWhenTheBrowserGoes) {
    auto local = Browser("local", false);
    local->LostAt = clock.At(100ms);
    local->LostReason = "The browser ended unexpectedly (killed by signal 9)";
    const auto results = Run(Options({"http://127.0.0.1/a", "http://127.0.0.1/b"}), {local});
    EXPECT_FALSE(results[0].Captured);
    EXPECT_EQ(results[0].Reason, "The browser ended unexpectedly (killed by signal 9)");
    EXPECT_EQ(results[0].Attempts, 1);
    EXPECT_TRUE(results[1].Captured) << results[1].Reason; // in a browser started anew
    EXPECT_EQ(local->Starts, 2);
}

TEST_F(BatchRunnerTest, AFileThatCannotBeWrittenFailsItsPageAlsoWhenTheBrowserWasLeftMeanwhile) {
    auto remote = Browser("ws://127.0.0.1:9304/devtools/browser/4", true);
    // The disk is full; the write fails only once the browser, with nothing left to draw, was left.
    const auto results = Run(Options({"http://127.0.0.1/a"}), {remote}, [this] {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return left; });
        throw EWriteError(ENOSPC);
    });
    EXPECT_FALSE(results[0].Captured);
    EXPECT_EQ(results[0].Reason, "Error writing to the stream (No space left on device)");
    EXPECT_EQ(results[0].Attempts, 1);
    EXPECT_EQ(remote->Loaded, std::vector<std::string>{"http://127.0.0.1/a"});
    EXPECT_EQ(paths.size(), 1u);

    // A picture the browser stopped sending is taken again, once.
    remote = Browser("ws://127.0.0.1:9304/devtools/browser/4", true);
    left = false;
    int tries = 0;
    const auto again = Run(Options({"http://127.0.0.1/a"}), {remote}, [&] {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return left; });
        if (++tries == 1) throw EEngineError("The browser closed the connection");
    });
    EXPECT_TRUE(again[0].Captured) << again[0].Reason;
    EXPECT_EQ(again[0].Attempts, 2);
    EXPECT_EQ(remote->Loaded, (std::vector<std::string>{"http://127.0.0.1/a", "http://127.0.0.1/a"}));
}

TEST_F(BatchRunnerTest, WhenNoBrowserCanBeReachedForAPagesTimeThePagesFailWithTheReasons) {
    auto gone = Browser("http://127.0.0.1:9303", true);
    gone->Refuses = "cannot connect to 127.0.0.1:9303: Connection refused";
    const auto results = Run(Options({"http://127.0.0.1/a", "http://127.0.0.1/b"}), {gone});
    for (const auto& r : results) {
        EXPECT_FALSE(r.Captured);
        EXPECT_EQ(r.Reason, "no browser answers: cannot connect to 127.0.0.1:9303: Connection refused");
    }
    // Tried again each second meanwhile, for the page's time.
    EXPECT_GE(clock.Now(), clock.At(20s));
    EXPECT_TRUE(paths.empty());
}

TEST_F(BatchRunnerTest, AddressesThatMakeOneNameGetNumberedFiles) {
    const auto results =
        Run(Options({"http://127.0.0.1/a?b", "http://127.0.0.1/a_b", "http://127.0.0.1/a?b"}),
            {Browser("local", false)});
    ASSERT_EQ(results.size(), 3u);
    EXPECT_EQ(results[0].Path, folder.Path("http___127.0.0.1_a_b.png"));
    EXPECT_EQ(results[1].Path, folder.Path("http___127.0.0.1_a_b~2.png"));
    EXPECT_TRUE(Says(results[1], "gives the same file name as http://127.0.0.1/a?b"));
    EXPECT_EQ(results[2].Path, results[0].Path); // the same address keeps its name
    EXPECT_EQ(paths.size(), 3u);
}

} // namespace
} // namespace korvane::testing
