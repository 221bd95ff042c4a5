#pragma once
// One page of a run, from its start to its picture: it loads, settles (--wait-idle), waits for an element
// (--wait-for), has the preparation scripts run in it, waits its delay and then for room in memory, and is
// measured and drawn; all within the page's time, of which the last quarter is kept for the drawing. An
// explicit state machine over a page (IJobPage) and a clock, stepped by the run's loop.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "capture/CapturePipeline.h"
#include "cli/JobPage.h"
#include "cli/PageResult.h"
#include "platform/Clock.h"
#include "platform/WeakFactory.h"

namespace korvane {

struct TCliOptions;
class TPageJob;

// What every page job of a run does.
struct TJobSettings {
    std::chrono::seconds Timeout{60};
    std::chrono::seconds Delay{1};
    bool WaitIdle = false, Lazy = false, Strict = false, ReducedMotion = false, Deferred = true;
    bool Credentials = false;      // given: a page whose server then answers 401 fails
    bool ProxyCredentials = false; // the proxy's were given (a page the proxy answers 407 fails either way)
    std::string WaitFor;
    std::vector<std::string> Preparation; // scripts run in every page before it is measured, in order
    TCaptureSettings Capture;             // the picture's sides, format, scale, selector and padding
};
TJobSettings JobSettingsFor(const TCliOptions& options);

// What a job needs of the run around it.
class IJobRun {
public:
    // Memory and the other pages let a picture be drawn now.
    virtual bool MayDraw() const = 0;
    // Nothing else is under way beside this job's drawing.
    virtual bool DrawsAlone(const TPageJob& job) const = 0;
    // The file the page's picture goes to (numbered when another address of the run has its name).
    virtual std::string ClaimPath(TPageResult& result) = 0;
    // The picture has begun: it is to be written to result.Path while the rest of it comes.
    virtual void Write(const TPageJob& job, const TCapturePicture& picture) = 0;

protected:
    ~IJobRun() = default;
};

class TPageJob {
public:
    using TTime = IClock::TTime;
    enum class TState { Idle, Loading, Settling, WaitingFor, Preparing, Delaying };
    // How a job that went back to Idle ended: its picture is being written, it failed, or a call to the
    // browser found no answer (the browser may hang). Reason() says why for the last two.
    // Hung: the browser did not do what it was asked, whatever the page (it is to be replaced).
    enum class TEnd { None, Writing, Failed, TimedOut, Hung };

    TPageJob(const TJobSettings& settings, const IClock& clock) : FSettings(settings), FClock(clock) {}
    TPageJob(const TPageJob&) = delete;
    TPageJob& operator=(const TPageJob&) = delete;

    // Begins loading result.Argument in the page; what comes of it goes into `result`.
    void Begin(IJobPage& page, TPageResult& result);
    // Does what the state asks for now; the job may end.
    void Step(IJobRun& run);
    // Back to Idle without an end of its own (its browser is being replaced).
    void Abandon();

    TState State() const { return FState; }
    TEnd End() const { return FEnd; }
    const std::string& Reason() const { return FReason; }
    TTime Started() const { return FStarted; }
    // The page loads, settles and waits until CaptureBy, and is measured and drawn by Deadline; time spent
    // waiting for room in memory moves both on.
    TTime CaptureBy() const { return FCaptureBy; }
    TTime Deadline() const { return FDeadline; }
    // How long the run may wait before this job needs a step, unless the browser or a write wakes it first.
    std::chrono::milliseconds WaitBefore(TTime now) const;

private:
    void Load();
    void Loaded();
    void Settle();
    void Settled();
    void Prepare();
    void RunPreparation();
    void WaitForElement();
    void StartDelay();
    void Delay(IJobRun& run);
    bool ReadyToDraw(IJobRun& run);
    void Draw(IJobRun& run);
    void Ask(const std::string& script, bool awaitPromise);
    void Fail(std::string reason, TEnd end = TEnd::Failed);

    // The run's capture settings at this page's own width, when the run has several.
    TCaptureSettings Capture() const;
    const TJobSettings& FSettings;
    const IClock& FClock;
    IJobPage* FPage = nullptr;
    TPageResult* FResult = nullptr;
    TState FState = TState::Idle;
    TEnd FEnd = TEnd::None;
    std::string FReason;
    TTime FStarted, FCaptureBy, FDeadline, FWaitUntil;
    std::optional<TTime> FQuietSince;     // the network has been almost idle since then
    std::optional<TTime> FWaitingForRoom; // ready to be drawn, waiting for memory or the other pages
    bool FScrollingCut = false;
    // A script run in the page: answers of an earlier page (another ticket) are dropped.
    std::uint64_t FTicket = 0;
    bool FAsked = false;
    std::optional<TScriptResult> FAnswer;
    std::size_t FScript = 0; // the next preparation script
    bool FStepAgain = false; // the state changed in a way that asks for another step at once
    TWeakFactory<TPageJob> FWeak{this};
};

} // namespace korvane
