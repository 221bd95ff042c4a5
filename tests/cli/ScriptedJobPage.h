#pragma once
// Stand-ins for what a page job works with, for tests without a browser: a clock the test sets, a page whose
// load, network, script answers and picture the test scripts, and a run that records what the job hands it.
#include "browser/Engine.h"
#include "browser/EngineError.h"
#include "cli/PageJob.h"

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace korvane::testing {

class TManualClock final : public IClock {
public:
    TTime Now() const override { return FNow; }
    void Advance(std::chrono::milliseconds by) { FNow += by; }
    // The time `ms` after the clock's start.
    TTime At(std::chrono::milliseconds ms) const { return FStart + ms; }
    void Set(std::chrono::milliseconds sinceStart) { FNow = FStart + sinceStart; }

private:
    TTime FStart = std::chrono::steady_clock::time_point() + std::chrono::hours(1);
    TTime FNow = FStart;
};

// A picture of one colour, of the size the page measured.
class TPlainShot final : public TPageShot {
public:
    TPlainShot(int width, int height) : FWidth(width), FHeight(height) {}
    int Width() const override { return FWidth; }
    int Height() const override { return FHeight; }
    void DrawInto(const TBitmapRows&, TRowGate&) const override {}

private:
    int FWidth, FHeight;
};

class TScriptedJobPage final : public IJobPage {
public:
    // What the test sets.
    int State = READYSTATE_UNINITIALIZED;
    bool Document = false;
    std::string Error;
    int Status = 200;
    bool Offered = false; // the credentials were given to the server
    int Inflight = 0;
    TTime NetworkChange{};
    bool PageGone = false;
    std::string NavigateThrows; // Navigate fails with this text
    bool NavigateHangs = false; // ... as a browser that hangs
    int Width = 800, Height = 600;
    // Shoot throws this before its picture begins (or after, when ThrowAfterStart).
    std::function<void()> ShootThrows;
    bool ThrowAfterStart = false;
    bool ScrollCut = false;
    bool DeferredCut = false; // the picture says its deferred content had not all come

    // What the job did.
    std::vector<std::string> Navigations;
    std::vector<std::pair<int, int>> Views; // the views loads were made in
    int Stops = 0;
    std::vector<std::optional<TTime>> Deadlines; // each SetCallDeadline
    struct TAsked {
        std::string Script;
        bool AwaitPromise;
        std::function<void(TScriptResult)> Done;
    };
    std::deque<TAsked> Asked;
    std::vector<std::string> EvaluatedNow;
    struct TScrolled {
        int Width, ViewHeight;
        TTime Until;
        int MaxHeight;
        std::optional<TTime> Deadline; // the call deadline while it scrolled
    };
    std::vector<TScrolled> Scrolls;
    std::vector<TCaptureSettings> Shots;
    std::optional<TTime> DeadlineWhileShooting;
    std::optional<bool> DrawnAlone;

    void SetView(int width, int height) override { Views.push_back({width, height}); }
    void Navigate(const std::string& url) override {
        if (!NavigateThrows.empty() && NavigateHangs) throw EEngineHung(NavigateThrows);
        if (!NavigateThrows.empty()) throw EEngineError(NavigateThrows);
        Navigations.push_back(url);
        State = READYSTATE_LOADING;
        Document = false;
    }
    void Stop() override { ++Stops; }
    int ReadyState() override { return State; }
    bool HasDocument() override { return Document; }
    std::string NavigationError() override { return Error; }
    int HttpStatus() override { return Status; }
    bool CredentialsOffered() override { return Offered; }
    int InflightRequests() override { return Inflight; }
    TTime LastNetworkChange() override { return NetworkChange; }
    void SetCallDeadline(std::optional<TTime> deadline) override {
        Deadlines.push_back(deadline);
        FDeadline = deadline;
    }
    bool ScrollThrough(int width, int viewHeight, std::chrono::milliseconds, TTime until,
                       int maxHeight) override {
        Scrolls.push_back({width, viewHeight, until, maxHeight, FDeadline});
        return ScrollCut;
    }
    void Evaluate(const std::string& script, bool awaitPromise,
                  std::function<void(TScriptResult)> done) override {
        Asked.push_back({script, awaitPromise, std::move(done)});
    }
    TScriptResult EvaluateNow(const std::string& script) override {
        EvaluatedNow.push_back(script);
        return {true, nullptr, {}};
    }
    void SetDrawnAlone(bool alone) override { DrawnAlone = alone; }
    TCapturePicture Shoot(const TCaptureSettings& settings, const TPictureStarted& started) override {
        Shots.push_back(settings);
        DeadlineWhileShooting = FDeadline;
        if (ShootThrows && !ThrowAfterStart) ShootThrows();
        TCapturePicture picture;
        picture.Outcome.Width = Width;
        picture.Outcome.Height = Height;
        picture.DeferredCut = DeferredCut;
        picture.Shot = std::make_shared<TPlainShot>(Width, Height);
        if (started) started(picture);
        if (ShootThrows) ShootThrows();
        return picture;
    }
    bool Gone() override { return PageGone; }

    // Answers the oldest script the job asked for.
    void Answer(bool ok, nlohmann::json value = nullptr, std::string error = {}) {
        TAsked asked = std::move(Asked.front());
        Asked.pop_front();
        asked.Done({ok, std::move(value), std::move(error)});
    }
    // The load ends with the document (or, with an error, without one).
    void Load(int status = 200) {
        State = READYSTATE_COMPLETE;
        Document = true;
        Status = status;
    }

private:
    std::optional<TTime> FDeadline;
};

class TRecordingRun final : public IJobRun {
public:
    bool Room = true;
    bool Alone = true;
    std::string Path = "/out/page.png";
    std::vector<TCapturePicture> Written;

    bool MayDraw() const override { return Room; }
    bool DrawsAlone(const TPageJob&) const override { return Alone; }
    std::string ClaimPath(TPageResult&) override { return Path; }
    void Write(const TPageJob&, const TCapturePicture& picture) override { Written.push_back(picture); }
};

} // namespace korvane::testing
