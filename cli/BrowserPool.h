#pragma once
// The browsers of a run: our own (started by the first page that needs it, and again after it was lost) or
// browsers that run elsewhere (connected to before their pages begin, and again after they went away). A
// browser that has pages under way and falls silent is asked whether it still answers; the run replaces one
// that does not.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "cli/RunBrowser.h"
#include "platform/Clock.h"
#include "platform/WeakFactory.h"

namespace korvane {

class TBrowserPool {
public:
    using TTime = IClock::TTime;
    // Waits up to the time given for any browser, serving what came (tests give one that moves their clock).
    using TWaiter = std::function<void(std::chrono::milliseconds)>;
    struct TEndpoint {
        std::string Name; // "local", or the address given
        std::shared_ptr<IRunBrowser> Browser;
        std::optional<TTime> ProbeSent; // a question to a silent browser
        // A browser that runs elsewhere and cannot be reached now: tried again from NextTry on.
        std::optional<TTime> DownSince;
        TTime NextTry;
        std::string DownReason;
    };

    // No single call to a browser outlasts a page's time.
    TBrowserPool(std::vector<std::shared_ptr<IRunBrowser>> browsers, std::chrono::milliseconds pageTime,
                 const IClock& clock, TWaiter waiter = {});
    ~TBrowserPool();
    TBrowserPool(const TBrowserPool&) = delete;
    TBrowserPool& operator=(const TBrowserPool&) = delete;

    const std::vector<std::unique_ptr<TEndpoint>>& Endpoints() const { return FEndpoints; }
    // Waits on every browser end at once when the token is stopped.
    void SetStopToken(std::stop_token stop);
    // A written file (the fd readable) is taken up at once, even while a page is being drawn: `handler`
    // runs then, also from inside a wait on a browser.
    void SetWake(int fd, std::function<void()> handler);

    // Whether pages can begin on the endpoint now: our own browser is started by the page that needs it; a
    // browser elsewhere is connected to first (and, when it cannot be reached, not tried again for a while).
    bool Usable(TEndpoint& endpoint);
    // A browser other than this one can be reached.
    bool OthersUp(const TEndpoint& endpoint) const;
    // When every browser has been out of reach for `patience`: their reasons.
    std::optional<std::string> AllGoneFor(std::chrono::milliseconds patience) const;
    // Looks at a browser with pages under way (`busy`): one silent for a while is asked whether it answers.
    // True when it gave no answer in its time: it hangs, and is to be replaced.
    bool Hangs(TEndpoint& endpoint, bool busy);
    // After a page's command found no answer: true when the browser itself does not answer either (it hangs).
    bool Answerless(TEndpoint& endpoint);
    // The browser is done with: ours ends, one elsewhere is disconnected from (the next page connects anew).
    void Leave(TEndpoint& endpoint);
    // A browser elsewhere that hung is left and rests a while: its pages go to the others meanwhile (it may
    // well answer a new connection and hang again).
    void Rest(TEndpoint& endpoint, const std::string& reason);

    // Waits up to `wait` for any browser (or the wake fd) and serves what came.
    void Wait(std::chrono::milliseconds wait);

private:
    const IClock& FClock;
    TWaiter FWaiter;
    std::vector<std::unique_ptr<TEndpoint>> FEndpoints;
    int FWakeFd = -1;
    std::function<void()> FWake;
    TWeakFactory<TBrowserPool> FWeak{this};
};

} // namespace korvane
