#pragma once
// Captures a list of pages in the browsers of a run: up to --jobs pages load at once in each browser, each in
// its own page target and with its own time; pictures are written on worker threads while the next pages
// load, as far as the memory budget lets them be in memory at once. The parts: the page jobs (one a slot),
// the browser pool, the write queue and the file names; this loop hands pages to slots, steps the jobs, and
// begins again the pages of a browser that hung or went away.
#include "cli/BrowserPool.h"
#include "cli/JobPage.h"
#include "cli/Options.h"
#include "cli/OutputNames.h"
#include "cli/PageJob.h"
#include "cli/PageResult.h"
#include "cli/WriteQueue.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

namespace korvane {

struct TBatchProgress {
    std::size_t Done = 0, Total = 0;
    std::string Current; // the page most recently started
    double Elapsed = 0;  // seconds since the batch started
};

class TBatchRunner final : private IJobRun {
public:
    // What the run is made of besides its browsers: its clock, what writes a picture's file, how its loop
    // waits (tests give their own; by default the machine's clock, DevelopAndWrite and the browsers' fds).
    struct TParts {
        const IClock* Clock = &TSteadyClock::Instance();
        TWriteQueue::TWriter Writer;
        TBrowserPool::TWaiter Waiter;
    };
    // Pages spread over the browsers, --jobs slots each. A browser that runs elsewhere and goes away has its
    // pages begun again on another (or on it, once it answers again); the run goes on while one answers.
    TBatchRunner(TCliOptions options, std::vector<std::shared_ptr<IRunBrowser>> browsers, TParts parts);
    TBatchRunner(TCliOptions options, std::vector<std::shared_ptr<IRunBrowser>> browsers)
        : TBatchRunner(std::move(options), std::move(browsers), TParts{}) {}
    ~TBatchRunner();

    // Called after every change worth showing, and with each result as soon as it is known.
    std::function<void(const TBatchProgress&)> OnProgress;
    std::function<void(const TPageResult&)> OnResult;

    // Captures every page; the results are in the order of the list. Once `stop` is requested (a signal)
    // no page is begun any more, the files being written are given up (no part of them stays) and the
    // browsers end; the pages not done then are reported as interrupted.
    std::vector<TPageResult> Run(std::stop_token stop = {});
    // The selectors of the options that the browser cannot parse, with the option that gave each; asked of
    // the first browser that answers, before any page loads.
    std::vector<std::pair<std::string, std::string>> InvalidSelectors();
    bool Interrupted() const { return FInterrupted; }

private:
    using TEndpoint = TBrowserPool::TEndpoint;
    struct TSlot {
        TEndpoint* Home = nullptr;
        std::unique_ptr<IRunPage> Page;
        std::unique_ptr<TPageJob> Job;
        std::size_t Index = 0; // the page of the list it has
        bool Busy = false;     // a page is under way in it (not yet ended or handed to the writers)
    };
    // Where a page was begun last: its browser, and the browser's generation then.
    struct TPlace {
        TEndpoint* On = nullptr;
        std::uint64_t Generation = 0;
    };

    // IJobRun
    bool MayDraw() const override;
    bool DrawsAlone(const TPageJob& job) const override;
    std::string ClaimPath(TPageResult& result) override;
    void Write(const TPageJob& job, const TCapturePicture& picture) override;

    void StartPages();
    std::optional<std::size_t> TakePage(const TEndpoint& endpoint);
    void Start(TSlot& slot, std::size_t page);
    void Step(TSlot& slot);
    void Ended(TSlot& slot);
    void Finish(TSlot& slot, std::string reason);
    void Finish(std::size_t page, std::string reason);
    // A page that failed because its browser (one that runs elsewhere) went away, begun again once.
    bool RetryElsewhere(std::size_t page, const std::string& reason);
    // After a page command found no answer: true when the browser hung and was replaced (the pages under
    // way, this one among them, then start again), false when the page alone is to blame.
    bool ReplaceBrowserIfHung(TEndpoint& endpoint);
    void ReplaceBrowser(TEndpoint& endpoint);
    bool Busy(const TEndpoint& endpoint) const;
    void FailIfNoBrowserLeft();
    void LeaveIdleBrowsers();
    void TakeWritten();
    std::chrono::milliseconds NextWait() const;
    void Interrupt();
    void Report();

    TCliOptions FOptions;
    TJobSettings FJobSettings;
    const IClock& FClock;
    TBrowserPool FPool;
    TWriteQueue FWrites;
    TOutputNames FNames;
    std::vector<std::unique_ptr<TSlot>> FSlots;
    std::vector<TPlace> FPlaces;            // for each page
    std::vector<IClock::TTime> FPageStarts; // for each page: when it was begun last
    std::deque<std::size_t> FRetry;         // pages to begin again, before any new one
    std::stop_token FStop;
    bool FInterrupted = false;
    std::vector<TPageResult> FResults;
    std::size_t FNext = 0, FDone = 0;
    std::string FCurrent;
    IClock::TTime FStarted;
};

} // namespace korvane
