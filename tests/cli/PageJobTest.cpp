// A page job without a browser: its time (the share kept for drawing, loads that never end, pictures that
// wait for memory), what it waits for (a settled network, an element, scripts), and how it ends (a file
// being written, a failure, a browser that gave no answer). The clock is the test's; nothing sleeps.
#include "cli/PageJob.h"
#include "tests/cli/ScriptedJobPage.h"

#include <gtest/gtest.h>

namespace korvane::testing {
namespace {

using namespace std::chrono_literals;
using TState = TPageJob::TState;
using TEnd = TPageJob::TEnd;

class PageJobTest : public ::testing::Test {
protected:
    TManualClock clock;
    TJobSettings settings;
    TScriptedJobPage page;
    TRecordingRun run;
    TPageResult result;
    std::unique_ptr<TPageJob> job;

    // Begins http://127.0.0.1/page with the settings as the test has made them.
    void Begin() {
        job = std::make_unique<TPageJob>(settings, clock);
        result = TPageResult{};
        result.Argument = "http://127.0.0.1/page";
        job->Begin(page, result);
    }
    void StepAt(std::chrono::milliseconds sinceStart) {
        clock.Set(sinceStart);
        job->Step(run);
    }
};

TEST_F(PageJobTest, ALoadThatNeverEndsFailsWhenItsShareOfTheTimeIsUpOrIsDrawnAsItWas) {
    settings.Timeout = 8s; // loading may take 6 s: a quarter, 2 s, is kept for the drawing
    settings.Delay = 1s;
    Begin();
    ASSERT_EQ(page.Navigations, std::vector<std::string>{"http://127.0.0.1/page"});
    EXPECT_EQ(job->CaptureBy(), clock.At(6s));
    EXPECT_EQ(job->Deadline(), clock.At(8s));
    EXPECT_EQ(job->WaitBefore(clock.At(1s)), 5001ms); // nothing to look at before then, but the browser
    StepAt(5999ms);
    EXPECT_EQ(job->State(), TState::Loading);
    StepAt(6s);
    EXPECT_EQ(job->End(), TEnd::Failed);
    EXPECT_EQ(job->Reason(), "timed out after 8 s while loading");
    EXPECT_EQ(page.Stops, 1);
    EXPECT_TRUE(run.Written.empty());

    // A document that has come is drawn as it is, at once: its delay cannot outlast the time for loading.
    clock.Set(0ms);
    Begin();
    page.State = READYSTATE_INTERACTIVE;
    page.Document = true;
    StepAt(6s);
    EXPECT_EQ(job->End(), TEnd::Writing);
    ASSERT_EQ(run.Written.size(), 1u);
    EXPECT_EQ(result.Warnings, std::vector<std::string>{"not complete after 6 s: captured as it was"});
    EXPECT_EQ(page.DeadlineWhileShooting, clock.At(8s));
    EXPECT_EQ(page.Deadlines.back(), std::nullopt); // the deadline goes with the drawing

    // --strict wants complete pages only.
    settings.Strict = true;
    clock.Set(0ms);
    Begin();
    page.State = READYSTATE_INTERACTIVE;
    StepAt(6s);
    EXPECT_EQ(job->End(), TEnd::Failed);
    EXPECT_EQ(job->Reason(), "timed out after 8 s while loading");
}

TEST_F(PageJobTest, APictureThatWaitsForMemoryHasItsTimeMovedOnAndDoesNotKeepTheLoopBusy) {
    settings.Timeout = 60s; // 45 s to load, 15 s to draw
    settings.Delay = 0s;
    Begin();
    page.Load();
    StepAt(2s);
    ASSERT_EQ(job->State(), TState::Delaying);
    run.Room = false;
    StepAt(2s);
    EXPECT_EQ(job->State(), TState::Delaying);
    EXPECT_TRUE(run.Written.empty());
    // Only a write that ends makes room, and a write that ends wakes the loop by itself.
    EXPECT_EQ(job->WaitBefore(clock.At(3s)), std::chrono::milliseconds::max());
    // Half a minute later there is room: the page's drawing still gets its 15 s, and its time for loading
    // has moved on as well.
    StepAt(32s);
    EXPECT_TRUE(run.Written.empty());
    run.Room = true;
    StepAt(32s);
    EXPECT_EQ(job->End(), TEnd::Writing);
    EXPECT_EQ(job->Deadline(), clock.At(90s));
    EXPECT_EQ(job->CaptureBy(), clock.At(75s));
    EXPECT_EQ(page.DeadlineWhileShooting, clock.At(90s));
    EXPECT_EQ(result.Path, "/out/page.png");
    ASSERT_EQ(page.Shots.size(), 1u);
    EXPECT_EQ(page.Shots[0].Address, "http://127.0.0.1/page");
    EXPECT_EQ(result.Width, 800);
    EXPECT_EQ(result.Height, 600);
}

TEST_F(PageJobTest, TheDelayIsWaitedFromTheLoadAndAPictureDrawnAloneComesInBands) {
    settings.Delay = 3s;
    Begin();
    page.Load();
    StepAt(1s);
    EXPECT_EQ(job->WaitBefore(clock.At(1s)), 3001ms);
    EXPECT_DOUBLE_EQ(result.LoadSeconds, 1.0);
    StepAt(3999ms);
    EXPECT_TRUE(run.Written.empty());
    run.Alone = false;
    StepAt(4s);
    EXPECT_EQ(job->End(), TEnd::Writing);
    EXPECT_EQ(page.DrawnAlone, false);
}

TEST_F(PageJobTest, APageLoadsInItsScreenAndWhatItDefersHasHalfThePicturesTimeAtMostTenSeconds) {
    settings.Delay = 0s;
    settings.Capture.Width = TSideChoice::Fixed(1280);
    settings.Capture.ViewHeight = 900;
    struct TCase {
        std::chrono::seconds Timeout;
        bool Deferred;
        std::chrono::milliseconds Expected;
    } cases[] = {{60s, true, 10000ms}, {8s, true, 3500ms}, {60s, false, 0ms}};
    for (const TCase& c : cases) {
        settings.Timeout = c.Timeout;
        settings.Deferred = c.Deferred;
        page.DeferredCut = c.Timeout < 10s;
        page.Shots.clear();
        clock.Set(0s);
        Begin();
        EXPECT_EQ(page.Views.back(), (std::pair{1280, 900}));
        page.Load();
        StepAt(1s); // loaded: the delay (none) begins
        StepAt(1s);
        ASSERT_EQ(page.Shots.size(), 1u);
        EXPECT_EQ(page.Shots[0].DeferredTime, c.Expected);
        // A picture taken before all of it came says so.
        EXPECT_EQ(result.Notes.size(), page.DeferredCut ? 1u : 0u);
    }
    // An automatic width is read at the resting width first.
    settings.Capture.Width = TSideChoice::Auto();
    Begin();
    EXPECT_EQ(page.Views.back(), (std::pair{kRestingViewSize, 900}));
}

TEST_F(PageJobTest, WaitIdleWantsHalfASecondOfQuietAndTheTimeUpTakesThePageAsItIs) {
    settings.Timeout = 20s;
    settings.Delay = 0s;
    settings.WaitIdle = true;
    Begin();
    page.Load();
    page.Inflight = 5;
    StepAt(1s);
    ASSERT_EQ(job->State(), TState::Settling);
    EXPECT_EQ(job->WaitBefore(clock.At(1s)), 25ms);
    StepAt(3s);
    EXPECT_EQ(job->State(), TState::Settling);
    // Two requests under way count as quiet, from when that is seen (or from the network's last change,
    // when that came later).
    page.Inflight = 2;
    page.NetworkChange = clock.At(3200ms);
    StepAt(3300ms);
    StepAt(3799ms);
    EXPECT_EQ(job->State(), TState::Settling);
    StepAt(3800ms);
    EXPECT_NE(job->State(), TState::Settling);
    EXPECT_TRUE(result.Warnings.empty());

    // A network that never settles: the page is drawn when the time for loading is up, with a warning.
    clock.Set(0ms);
    Begin();
    page.Load();
    page.Inflight = 9;
    StepAt(1s);
    StepAt(15s);
    EXPECT_EQ(job->End(), TEnd::Writing);
    EXPECT_EQ(result.Warnings, std::vector<std::string>{"the network was still busy when the time was up"});
}

TEST_F(PageJobTest, WaitForAsksAgainUntilTheElementIsShownOrFailsWhenTheTimeIsUp) {
    settings.Timeout = 4s; // 3 s to load and wait
    settings.Delay = 0s;
    settings.WaitFor = "#late";
    Begin();
    page.Load();
    StepAt(100ms);
    ASSERT_EQ(job->State(), TState::WaitingFor);
    StepAt(100ms);
    ASSERT_EQ(page.Asked.size(), 1u);
    // Not yet: asked again 50 ms after the answer, not before.
    page.Answer(true, false);
    StepAt(120ms);
    EXPECT_TRUE(page.Asked.empty());
    EXPECT_EQ(job->WaitBefore(clock.At(120ms)), 51ms);
    StepAt(170ms);
    ASSERT_EQ(page.Asked.size(), 1u);
    page.Answer(true, true);
    StepAt(200ms);
    EXPECT_EQ(job->State(), TState::Delaying);
    StepAt(200ms);
    EXPECT_EQ(job->End(), TEnd::Writing);

    Begin();
    page.Load();
    StepAt(300ms);
    StepAt(300ms);
    page.Answer(false, nullptr, "the document was replaced"); // asked again
    StepAt(3199ms);
    EXPECT_EQ(job->State(), TState::WaitingFor);
    StepAt(3200ms); // begun at 200 ms
    EXPECT_EQ(job->End(), TEnd::Failed);
    EXPECT_EQ(job->Reason(), "no element matched #late");
}

TEST_F(PageJobTest, ScriptsRunOneAfterAnotherAndTheFirstThatFailsFailsThePage) {
    settings.Delay = 0s;
    settings.Preparation = {"first()", "second()", "third()"};
    Begin();
    page.Load();
    StepAt(1s);
    ASSERT_EQ(job->State(), TState::Preparing);
    ASSERT_EQ(page.Asked.size(), 1u);
    EXPECT_EQ(page.Asked.front().Script, "first()");
    EXPECT_TRUE(page.Asked.front().AwaitPromise);
    StepAt(2s);
    EXPECT_EQ(page.Asked.size(), 1u); // one at a time
    page.Answer(true);
    StepAt(2s);
    ASSERT_EQ(page.Asked.size(), 1u);
    EXPECT_EQ(page.Asked.front().Script, "second()");
    page.Answer(false, nullptr, "TypeError: x is undefined");
    StepAt(2s);
    EXPECT_EQ(job->End(), TEnd::Failed);
    EXPECT_EQ(job->Reason(), "the script failed: TypeError: x is undefined");

    // The answer of a page begun before does not count for the page after it.
    Begin();
    page.Load();
    StepAt(3s);
    ASSERT_EQ(page.Asked.size(), 1u);
    auto stale = std::move(page.Asked.front().Done);
    page.Asked.clear();
    Begin();
    page.Load();
    StepAt(4s);
    stale({false, nullptr, "an old failure"});
    StepAt(4s);
    EXPECT_EQ(job->State(), TState::Preparing);
    // A script that never ends fails the page when the time for loading is up.
    StepAt(4s + 45s);
    EXPECT_EQ(job->End(), TEnd::Failed);
    EXPECT_EQ(job->Reason(), "the script did not end within the page's time (60 s)");
}

TEST_F(PageJobTest, AnAnswerlessBrowserEndsTheJobAsTimedOutUnlessThePictureIsAlreadyBeingWritten) {
    settings.Delay = 0s;
    page.ShootThrows = [] {
        throw EEngineTimeout("The browser gave no answer to Runtime.evaluate within 30 s");
    };
    Begin();
    page.Load();
    StepAt(1s);
    StepAt(1s); // the delay of 0 is over: drawn
    EXPECT_EQ(job->End(), TEnd::TimedOut);
    EXPECT_EQ(job->Reason(), "The browser gave no answer to Runtime.evaluate within 30 s");
    // Once the picture has begun the write tells the page's outcome.
    page.ThrowAfterStart = true;
    Begin();
    page.Load();
    StepAt(2s);
    StepAt(2s);
    EXPECT_EQ(job->End(), TEnd::Writing);
    EXPECT_EQ(run.Written.size(), 1u);
    // Other failures end it as failed; a page that loses its document before it is drawn says so.
    page.ShootThrows = [] { throw ECaptureSizeError(0, 5); };
    page.ThrowAfterStart = false;
    Begin();
    page.Load();
    StepAt(3s);
    StepAt(3s);
    EXPECT_EQ(job->End(), TEnd::Failed);
    EXPECT_NE(job->Reason().find("cannot be drawn"), std::string::npos) << job->Reason();
    page.ShootThrows = nullptr;
    settings.Delay = 1s;
    Begin();
    page.Load();
    StepAt(4s);
    page.Document = false;
    StepAt(5s);
    EXPECT_EQ(job->Reason(), "the page went away before it could be captured");
}

TEST_F(PageJobTest, WhatTheServerAndTheAddressSay) {
    settings.Delay = 0s;
    // A load that ends without a document fails with its error, or with a text of its own.
    Begin();
    page.State = READYSTATE_COMPLETE;
    page.Error = "net::ERR_CONNECTION_REFUSED";
    StepAt(1s);
    EXPECT_EQ(job->Reason(), "net::ERR_CONNECTION_REFUSED");
    page.Error.clear();
    Begin();
    page.State = READYSTATE_COMPLETE;
    StepAt(1s);
    EXPECT_EQ(job->Reason(), "the page did not load");
    // 404: drawn, with a warning; 401 after credentials were given: the credentials were not taken.
    Begin();
    page.Load(404);
    StepAt(1s);
    StepAt(1s);
    EXPECT_EQ(job->End(), TEnd::Writing);
    EXPECT_EQ(result.HttpStatus, 404);
    EXPECT_EQ(result.Warnings, std::vector<std::string>{"the server answered HTTP 404"});
    settings.Credentials = true;
    Begin();
    page.Offered = true;
    page.Load(401);
    StepAt(1s);
    EXPECT_EQ(job->Reason(), "the server did not accept the credentials (HTTP 401)");
    // 401 from a server that was given no credentials (another than the page's own): drawn, with a warning.
    Begin();
    page.Offered = false;
    page.Load(401);
    StepAt(1s);
    StepAt(1s);
    EXPECT_EQ(job->End(), TEnd::Writing);
    EXPECT_EQ(result.Warnings, std::vector<std::string>{"the server answered HTTP 401"});
    // An argument that names no page, and a page that cannot even be made, fail before anything loads.
    job = std::make_unique<TPageJob>(settings, clock);
    result.Argument = "ftp://127.0.0.1/file";
    job->Begin(page, result);
    EXPECT_EQ(job->End(), TEnd::Failed);
    EXPECT_EQ(job->Reason(), "unsupported address (only http:, https: and file: are captured)");
    EXPECT_EQ(page.Navigations.size(), 5u); // not this one
    page.NavigateThrows = "The browser started but does not answer";
    Begin();
    EXPECT_EQ(job->Reason(), "The browser started but does not answer");
    EXPECT_EQ(job->End(), TEnd::Failed);
    // A browser that made no page in time is to blame, not the page.
    page.NavigateHangs = true;
    page.NavigateThrows = "The browser gave no answer to Target.createTarget within 15 s";
    Begin();
    EXPECT_EQ(job->End(), TEnd::Hung);
}

TEST_F(PageJobTest, LazyScrollsForHalfTheTimeLeftAndAPageThatKeptGrowingIsCutToTheLargestPicture) {
    settings.Timeout = 20s; // 15 s to load
    settings.Delay = 0s;
    settings.Lazy = true;
    settings.Capture.Width = TSideChoice::Fixed(1280);
    settings.Capture.Scale = 2;
    page.ScrollCut = true;
    Begin();
    page.Load();
    StepAt(5s);
    StepAt(5s);
    ASSERT_EQ(page.Scrolls.size(), 1u);
    EXPECT_EQ(page.Scrolls[0].Width, 1280);
    EXPECT_EQ(page.Scrolls[0].Until, clock.At(10s));
    EXPECT_EQ(page.Scrolls[0].Deadline, clock.At(15s));
    EXPECT_EQ(page.Scrolls[0].MaxHeight, kMaxCaptureHeight / 2);
    EXPECT_EQ(result.Notes,
              std::vector<std::string>{
                  "http://127.0.0.1/page: the page kept growing as it was scrolled: scrolling was cut"});
    ASSERT_EQ(page.Shots.size(), 1u);
    EXPECT_EQ(page.Shots[0].MaxAutoHeight, kMaxCaptureHeight / 2);
    EXPECT_EQ(page.Shots[0].Scale, 2);
}

} // namespace
} // namespace korvane::testing
