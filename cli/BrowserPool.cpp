#include "cli/BrowserPool.h"

#include <algorithm>
#include <poll.h>

#include "browser/EngineError.h"
#include "platform/Translate.h"

namespace korvane {
namespace {

// A browser that has sent nothing this long while pages load is asked whether it still answers; one that
// does not answer within its time hangs (it is stopped, or starved) and is replaced.
constexpr auto kQuietBeforeProbe = std::chrono::seconds(2);
constexpr auto kProbeTime = std::chrono::seconds(3);
// How often a browser that runs elsewhere and could not be reached is tried again.
constexpr auto kReconnectPause = std::chrono::seconds(1);
// How long a browser elsewhere that hung gets no pages.
constexpr auto kHungRest = std::chrono::seconds(30);

} // namespace

TBrowserPool::TBrowserPool(std::vector<std::shared_ptr<IRunBrowser>> browsers,
                           std::chrono::milliseconds pageTime, const IClock& clock, TWaiter waiter)
    : FClock(clock), FWaiter(std::move(waiter)) {
    for (auto& browser : browsers) {
        auto endpoint = std::make_unique<TEndpoint>();
        endpoint->Name = browser->Name();
        browser->SetCallTimeout(pageTime);
        endpoint->Browser = std::move(browser);
        FEndpoints.push_back(std::move(endpoint));
    }
}

TBrowserPool::~TBrowserPool() {
    FWeak.Invalidate();
    for (auto& endpoint : FEndpoints)
        endpoint->Browser->SetWake(-1, {});
}

void TBrowserPool::SetStopToken(std::stop_token stop) {
    for (auto& endpoint : FEndpoints)
        endpoint->Browser->SetStopToken(stop);
}

void TBrowserPool::SetWake(int fd, std::function<void()> handler) {
    FWakeFd = fd;
    FWake = std::move(handler);
    for (auto& endpoint : FEndpoints)
        endpoint->Browser->SetWake(FWakeFd, FWakeFd >= 0 ? FWake : nullptr);
}

bool TBrowserPool::Usable(TEndpoint& endpoint) {
    IRunBrowser& browser = *endpoint.Browser;
    if (!browser.Remote() || browser.Running()) return true;
    const auto now = FClock.Now();
    if (endpoint.DownSince && now < endpoint.NextTry) return false;
    try {
        browser.Start();
        endpoint.DownSince.reset();
        return true;
    } catch (const EEngineStopped&) {
        return false;
    } catch (const EEngineError& e) {
        if (!endpoint.DownSince) endpoint.DownSince = now;
        endpoint.NextTry = FClock.Now() + kReconnectPause;
        endpoint.DownReason = e.what();
        return false;
    }
}

bool TBrowserPool::OthersUp(const TEndpoint& endpoint) const {
    return std::any_of(FEndpoints.begin(), FEndpoints.end(),
                       [&](const auto& e) { return e.get() != &endpoint && !e->DownSince; });
}

std::optional<std::string> TBrowserPool::AllGoneFor(std::chrono::milliseconds patience) const {
    const auto now = FClock.Now();
    std::string reasons;
    for (const auto& endpoint : FEndpoints) {
        if (!endpoint->DownSince || now - *endpoint->DownSince < patience) return std::nullopt;
        if (!reasons.empty()) reasons += "; ";
        reasons += endpoint->DownReason;
    }
    return reasons;
}

bool TBrowserPool::Hangs(TEndpoint& endpoint, bool busy) {
    const auto now = FClock.Now();
    IRunBrowser& browser = *endpoint.Browser;
    if (!busy || !browser.Running()) {
        endpoint.ProbeSent.reset();
        return false;
    }
    if (endpoint.ProbeSent) return now - *endpoint.ProbeSent > kProbeTime;
    if (now - browser.LastHeard() < kQuietBeforeProbe) return false;
    endpoint.ProbeSent = now;
    // The answer may come after the pool has gone.
    browser.Ask([weak = FWeak.Weak(), asked = &endpoint](bool answered) {
        if (weak.lock() && answered) asked->ProbeSent.reset();
    });
    return false;
}

bool TBrowserPool::Answerless(TEndpoint& endpoint) {
    return endpoint.Browser->Running() && !endpoint.Browser->Answers(kProbeTime);
}

void TBrowserPool::Leave(TEndpoint& endpoint) {
    endpoint.ProbeSent.reset();
    endpoint.Browser->Shutdown();
}

void TBrowserPool::Rest(TEndpoint& endpoint, const std::string& reason) {
    Leave(endpoint);
    const auto now = FClock.Now();
    if (!endpoint.DownSince) endpoint.DownSince = now;
    endpoint.NextTry = now + kHungRest;
    endpoint.DownReason = reason;
}

void TBrowserPool::Wait(std::chrono::milliseconds wait) {
    if (FWaiter) return FWaiter(wait);
    std::vector<IRunBrowser*> running;
    for (auto& endpoint : FEndpoints) {
        if (!endpoint->Browser->Running()) continue;
        if (endpoint->Browser->HasQueuedWork()) wait = std::chrono::milliseconds(0);
        running.push_back(endpoint->Browser.get());
    }
    // One browser waits on its own connection (and on the wake fd and the stop with it).
    if (running.size() == 1 && FEndpoints.size() == 1) {
        running.front()->WaitIncoming(wait);
        return;
    }
    std::vector<pollfd> fds;
    for (auto* browser : running)
        fds.push_back({browser->Fd(), POLLIN, 0});
    fds.push_back({FWakeFd, POLLIN, 0});
    fds.push_back({FEndpoints.front()->Browser->StopFd(), POLLIN, 0});
    if (::poll(fds.data(), fds.size(), static_cast<int>(std::min<long long>(wait.count(), 1 << 30))) < 0)
        return;
    for (std::size_t i = 0; i < running.size(); ++i)
        if (fds[i].revents != 0 || running[i]->HasQueuedWork()) running[i]->ProcessIncoming();
    if ((fds[running.size()].revents & POLLIN) && FWake) FWake();
}

} // namespace korvane
