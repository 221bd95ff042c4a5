#pragma once
// A browser as a run uses it: ours (started by the first page that needs it) or one elsewhere (connected
// to), asked whether it still answers, ended or left, and the maker of the run's pages; with what the run's
// loop waits on. TChromiumRunBrowser is the real one; the run's tests have scripted ones.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>
#include <vector>

#include "cli/JobPage.h"
#include "platform/Clock.h"

namespace korvane {

class TChromiumBrowser;

class IRunBrowser {
public:
    using TTime = IClock::TTime;
    virtual ~IRunBrowser() = default;

    // "local", or the address of a browser elsewhere.
    virtual std::string Name() const = 0;
    virtual bool Remote() const = 0;
    virtual bool Running() const = 0;
    // Counts the browsers started (or connections made): a page begun in an earlier one was lost with it.
    virtual std::uint64_t Generation() const = 0;
    // Starts ours or connects to the one elsewhere. Throws EEngineError (EEngineStopped after a stop).
    virtual void Start() = 0;
    // Ends ours, or leaves the one elsewhere; what was under way in it fails.
    virtual void Shutdown() = 0;
    // When it last sent anything.
    virtual TTime LastHeard() const = 0;
    // Asks the browser itself whether it answers; `done` gets whether it did, when it does (or fails).
    virtual void Ask(std::function<void(bool answered)> done) = 0;
    // Asks and waits up to `timeout` for the answer.
    virtual bool Answers(std::chrono::milliseconds timeout) = 0;
    virtual std::unique_ptr<IRunPage> MakePage(const TJobPageSetup& setup, const TEngineSettings& settings,
                                               const TPageOptions& page) = 0;

    // What the run's loop needs to wait on the browser: no call waits longer than `timeout`, nor past a stop;
    // a readable `fd` ends every wait to run `handler`.
    virtual void SetCallTimeout(std::chrono::milliseconds timeout) = 0;
    virtual void SetStopToken(std::stop_token stop) = 0;
    virtual void SetWake(int fd, std::function<void()> handler) = 0;
    // Readable when the browser has sent something (-1 when there is nothing to watch), and once stopped.
    virtual int Fd() const = 0;
    virtual int StopFd() const = 0;
    virtual bool HasQueuedWork() const = 0;
    virtual void ProcessIncoming() = 0;
    virtual void WaitIncoming(std::chrono::milliseconds timeout) = 0;
};

class TChromiumRunBrowser final : public IRunBrowser {
public:
    explicit TChromiumRunBrowser(std::shared_ptr<TChromiumBrowser> browser) : FBrowser(std::move(browser)) {}

    std::string Name() const override;
    bool Remote() const override;
    bool Running() const override;
    std::uint64_t Generation() const override;
    void Start() override;
    void Shutdown() override;
    TTime LastHeard() const override;
    void Ask(std::function<void(bool answered)> done) override;
    bool Answers(std::chrono::milliseconds timeout) override;
    std::unique_ptr<IRunPage> MakePage(const TJobPageSetup& setup, const TEngineSettings& settings,
                                       const TPageOptions& page) override;
    void SetCallTimeout(std::chrono::milliseconds timeout) override;
    void SetStopToken(std::stop_token stop) override;
    void SetWake(int fd, std::function<void()> handler) override;
    int Fd() const override;
    int StopFd() const override;
    bool HasQueuedWork() const override;
    void ProcessIncoming() override;
    void WaitIncoming(std::chrono::milliseconds timeout) override;

private:
    std::shared_ptr<TChromiumBrowser> FBrowser;
};

} // namespace korvane
