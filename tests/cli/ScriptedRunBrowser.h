#pragma once
// A browser for the run's tests: started, lost, refusing connections or hanging as the test says, on the
// test's clock; its pages load in a time the test gives and are drawn at once.
#include "browser/EngineError.h"
#include "cli/RunBrowser.h"
#include "tests/cli/ScriptedJobPage.h"

#include <atomic>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace korvane::testing {

class TScriptedRunBrowser final : public IRunBrowser {
public:
    TScriptedRunBrowser(std::string name, bool remote, const TManualClock& clock)
        : FName(std::move(name)), FRemote(remote), FClock(clock) {}

    // What the test sets.
    mutable std::string Refuses;         // Start fails with this (a browser elsewhere that cannot be reached)
    std::optional<TTime> HangsAt;        // from then on it answers nothing (until it is started anew)
    bool StaysHung = false;              // started anew, it answers nothing all the same
    bool MakesNoPages = false;           // it answers its own questions, and makes no page
    int HangsWhenDrawn = 0;              // so many pictures, each in a browser of its own, make it hang
    mutable std::optional<TTime> LostAt; // then it goes away, saying LostReason
    std::string LostReason = "The connection to the browser was lost";
    bool StaysAway = false; // once lost, it cannot be reached again
    std::chrono::milliseconds LoadTime{200};
    std::atomic<int>* Shots = nullptr; // counts the pictures begun

    // What the run did.
    int Starts = 0, Shutdowns = 0, Asked = 0;
    std::vector<std::string> Loaded; // the addresses, in the order their loads began

    bool Hung() const { return FRunning && HangsAt && FClock.Now() >= *HangsAt; }
    const std::string& Reason() const { return FReason; }

    std::string Name() const override { return FName; }
    bool Remote() const override { return FRemote; }
    bool Running() const override {
        if (FRunning && LostAt && FClock.Now() >= *LostAt) {
            FRunning = false;
            FReason = LostReason;
            LostAt.reset();
            if (StaysAway) Refuses = LostReason;
        }
        return FRunning;
    }
    std::uint64_t Generation() const override { return FGeneration; }
    void Start() override {
        if (Running()) return;
        if (!Refuses.empty()) throw EEngineError(Refuses);
        FRunning = true;
        if (Starts > 0 && !StaysHung) HangsAt.reset(); // a browser started anew answers
        ++FGeneration;
        ++Starts;
    }
    void Shutdown() override {
        if (!FRunning) return;
        FRunning = false;
        FReason = "The browser was shut down";
        ++Shutdowns;
    }
    TTime LastHeard() const override { return Hung() ? *HangsAt : FClock.Now(); }
    void Ask(std::function<void(bool answered)> done) override {
        ++Asked;
        if (!Hung()) done(true); // a hung browser never answers
    }
    bool Answers(std::chrono::milliseconds) override {
        ++Asked;
        return Running() && !Hung();
    }
    std::unique_ptr<IRunPage> MakePage(const TJobPageSetup&, const TEngineSettings&,
                                       const TPageOptions&) override;
    void SetCallTimeout(std::chrono::milliseconds) override {}
    void SetStopToken(std::stop_token) override {}
    void SetWake(int, std::function<void()>) override {}
    int Fd() const override { return -1; }
    int StopFd() const override { return -1; }
    bool HasQueuedWork() const override { return false; }
    void ProcessIncoming() override {}
    void WaitIncoming(std::chrono::milliseconds) override {}

    const TManualClock& Clock() const { return FClock; }

private:
    std::string FName;
    bool FRemote;
    const TManualClock& FClock;
    mutable bool FRunning = false;
    mutable std::string FReason;
    std::uint64_t FGeneration = 0;
};

// A page of a scripted browser: it loads in the browser's load time, fails when its browser was lost since
// its load began, and is drawn at once (or finds its browser hanging).
class TScriptedRunPage final : public IRunPage {
public:
    explicit TScriptedRunPage(TScriptedRunBrowser& browser) : FBrowser(browser) {}

    void SetView(int, int) override {}
    void Navigate(const std::string& url) override {
        if (!FBrowser.Running()) FBrowser.Start();
        if (FBrowser.MakesNoPages)
            throw EEngineHung("The browser gave no answer to Target.createTarget within 15 s");
        FBrowser.Loaded.push_back(url);
        FGeneration = FBrowser.Generation();
        FBegun = FBrowser.Clock().Now();
    }
    void Stop() override {}
    int ReadyState() override {
        if (Lost()) return READYSTATE_COMPLETE;
        if (FBrowser.Hung()) return READYSTATE_LOADING;
        return FBrowser.Clock().Now() >= FBegun + FBrowser.LoadTime ? READYSTATE_COMPLETE
                                                                    : READYSTATE_LOADING;
    }
    bool HasDocument() override { return !Lost() && ReadyState() == READYSTATE_COMPLETE; }
    std::string NavigationError() override { return Lost() ? FBrowser.Reason() : std::string(); }
    int HttpStatus() override { return HasDocument() ? 200 : 0; }
    bool CredentialsOffered() override { return false; }
    int InflightRequests() override { return 0; }
    TTime LastNetworkChange() override { return FBegun; }
    void SetCallDeadline(std::optional<TTime>) override {}
    bool ScrollThrough(int, int, std::chrono::milliseconds, TTime, int) override { return false; }
    void Evaluate(const std::string&, bool, std::function<void(TScriptResult)> done) override {
        done({true, true, {}});
    }
    TScriptResult EvaluateNow(const std::string&) override { return {true, nullptr, {}}; }
    void SetDrawnAlone(bool) override {}
    TCapturePicture Shoot(const TCaptureSettings&, const TPictureStarted& started) override {
        if (Lost()) throw EEngineError(FBrowser.Reason());
        if (FBrowser.HangsWhenDrawn > 0) {
            --FBrowser.HangsWhenDrawn;
            FBrowser.HangsAt = FBrowser.Clock().Now();
        }
        if (FBrowser.Hung())
            throw EEngineTimeout(
                "The browser gave no answer to Page.captureScreenshot before the page's time was up");
        TCapturePicture picture;
        picture.Outcome.Width = 800;
        picture.Outcome.Height = 600;
        picture.Shot = std::make_shared<TPlainShot>(800, 600);
        if (FBrowser.Shots) ++*FBrowser.Shots;
        if (started) started(picture);
        return picture;
    }
    bool Gone() override { return false; }
    void Release() override {}
    std::vector<std::string> InvalidSelectors(const std::vector<std::string>&) override { return {}; }

private:
    bool Lost() const { return !FBrowser.Running() || FBrowser.Generation() != FGeneration; }
    TScriptedRunBrowser& FBrowser;
    std::uint64_t FGeneration = 0;
    TTime FBegun;
};

inline std::unique_ptr<IRunPage> TScriptedRunBrowser::MakePage(const TJobPageSetup&, const TEngineSettings&,
                                                               const TPageOptions&) {
    return std::make_unique<TScriptedRunPage>(*this);
}

} // namespace korvane::testing
