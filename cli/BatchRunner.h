#pragma once
// Captures a list of pages with one browser: up to --jobs pages load at once, each in its own page target;
// every page has its own time limit; files are written on worker threads while the next pages load, as far
// as the memory budget lets their pictures be in memory at once.
#include "cli/Options.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <utility>

#include <memory>
#include <stop_token>
#include <string>
#include <vector>

namespace korvane {

class TChromiumBrowser;

struct TPageResult {
    std::string Argument; // as given
    std::string Url;      // as loaded
    bool Captured = false;
    std::string Path; // the written file
    int Width = 0, Height = 0;
    std::string Reason;                // why it failed
    bool Interrupted = false;          // not done: the run was told to stop
    std::vector<std::string> Warnings; // e.g. an HTTP status of 400 or more
    std::vector<std::string> Notes;    // e.g. the file got a numbered name
    double Seconds = 0;
    int Attempts = 0;   // 2 when it was begun again in a new browser
    int HttpStatus = 0; // of the page's document; 0 when none came

    // Parts of Seconds: until the page had loaded, its measuring until its picture began, and the file's
    // making (while the rest of the picture comes).
    double LoadSeconds = 0, CaptureSeconds = 0, WriteSeconds = 0;
    std::string Browser; // where it was captured: "local", or the address of a browser that runs elsewhere
};

struct TBatchProgress {
    std::size_t Done = 0, Total = 0;
    std::string Current; // the page most recently started
    double Elapsed = 0;  // seconds since the batch started
};

class TBatchRunner {
public:
    TBatchRunner(TCliOptions options, std::shared_ptr<TChromiumBrowser> browser);
    // Pages spread over several browsers, --jobs slots each. A browser that runs elsewhere and goes away
    // has its pages begun again on another (or on it, once it answers again); the run goes on while one
    // answers.
    TBatchRunner(TCliOptions options, std::vector<std::shared_ptr<TChromiumBrowser>> browsers);
    ~TBatchRunner();

    // Called after every change worth showing, and with each result as soon as it is known.
    std::function<void(const TBatchProgress&)> OnProgress;
    std::function<void(const TPageResult&)> OnResult;

    // Captures every page; the results are in the order of the list. Once `stop` is requested (a signal)
    // no page is begun any more, the files being written are given up (no part of them stays) and the
    // browser ends; the pages not done then are reported as interrupted.
    std::vector<TPageResult> Run(std::stop_token stop = {});
    // The selectors of the options that the browser cannot parse, with the option that gave each; asked of
    // the browser before any page loads.
    std::vector<std::pair<std::string, std::string>> InvalidSelectors();
    bool Interrupted() const { return FInterrupted; }

private:
    struct Slot;
    struct Write;
    struct Pending;
    struct Endpoint;
    struct JobPlace {
        Endpoint* On = nullptr;
        std::uint64_t Generation = 0; // of its browser when the page began there
    };
    void StartWrite(Pending pending);
    void StartPendingWrites();
    void Interrupt();
    std::string ClaimPath(TPageResult& result);
    void Loaded(Slot& slot);
    bool ReadyToDraw(Slot& slot);
    void Settled(Slot& slot);
    void Prepare(Slot& slot);
    void StartDelay(Slot& slot);
    void Ask(Slot& slot, const std::string& script, bool awaitPromise);
    void WaitForElement(Slot& slot);
    void RunPreparation(Slot& slot);
    // After a page command found no answer: true when the browser hung and was replaced (the pages under way,
    // this one among them, then start again), false when the page alone is to blame.
    bool ReplaceBrowserIfHung(Endpoint& endpoint);
    void ReplaceBrowser(Endpoint& endpoint);
    void WatchBrowser(Endpoint& endpoint);
    // Whether pages can begin on the endpoint now (a browser that runs elsewhere is connected to first).
    bool Usable(Endpoint& endpoint);
    std::optional<std::size_t> TakeJob(const Endpoint& endpoint);
    // A page that failed because its browser (one that runs elsewhere) went away, begun again once.
    bool RetryElsewhere(std::size_t job, const std::string& reason);
    void FailIfNoBrowserLeft();
    void LeaveIdleBrowsers();
    void WaitForBrowsers(std::chrono::milliseconds wait);
    void Start(Slot& slot, std::size_t job);
    void Step(Slot& slot);
    void Capture(Slot& slot);
    bool MayDraw() const;
    void Finish(Slot& slot, std::string reason);
    void Finish(std::size_t job, std::chrono::steady_clock::time_point started, std::string reason);
    void CheckWrites();
    void TakeWrittenFiles(); // when the wake fd says a file is done
    std::chrono::milliseconds NextWait() const;
    void Report();

    TCliOptions FOptions;
    std::vector<std::string> FPreparation; // scripts run in every page before it is measured
    std::vector<std::unique_ptr<Endpoint>> FEndpoints;
    std::vector<std::unique_ptr<Slot>> FSlots;
    std::vector<JobPlace> FPlaces; // a page's browser, for each page
    std::vector<Write> FWrites;
    std::map<std::string, std::string> FClaimed; // file names of this run -> the address that has each
    std::deque<Pending> FPending;                // pictures taken, waiting for room in memory to be developed
    std::int64_t FBytesInUse = 0;                // of the pictures being developed and written
    std::stop_token FStop;
    std::deque<std::size_t> FRetry; // pages to begin again, before any new one

    std::shared_ptr<bool> FAlive = std::make_shared<bool>(true);
    bool FInterrupted = false;
    std::vector<TPageResult> FResults;
    std::size_t FNext = 0, FDone = 0;
    std::string FCurrent;
    std::chrono::steady_clock::time_point FStarted;
    int FWakeFd = -1; // an eventfd each finished write signals
};

// The file name of a page: the -o file for a single page, else made from the URL in the output folder (with
// its number, when another address of the run took the name first).
std::string OutputPathFor(const TCliOptions& options, const std::string& url, int number = 1);

} // namespace korvane
