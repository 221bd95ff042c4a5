#include "BatchRunner.h"
#include "platform/Translate.h"

#include "browser/BrowserHost.h"
#include "browser/ChromiumBrowser.h"
#include "browser/ChromiumEngine.h"
#include "browser/EngineError.h"
#include "capture/CapturePipeline.h"
#include "capture/DownloadRestrictions.h"
#include "cli/Addresses.h"
#include "cli/PageTweaks.h"
#include "imaging/Bitmap.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Spawn.h"

#include <algorithm>
#include <climits>
#include <future>
#include <optional>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

namespace korvane {

using Clock = std::chrono::steady_clock;

namespace {
constexpr int kIdleRequests = 2;
constexpr auto kIdleTime = std::chrono::milliseconds(500);
constexpr int kLazyViewHeight = 800;
constexpr auto kLazyPause = std::chrono::milliseconds(150);
// How often a page is asked whether the element it is waited for has come.
constexpr auto kElementPoll = std::chrono::milliseconds(50);
// Puts the picture into a bitmap and writes the file on a worker thread. The outcome is settled, and the
// bitmap freed, before the wake fd tells the main thread, so the main thread finds the write done when it
// looks. A stop gives the file up.
std::thread WriteOnThread(std::shared_ptr<const TPageShot> shot, TSaveFormat format, std::string path,
                          int wakeFd, std::promise<void> done, std::stop_token stop) {
    return std::thread([shot = std::move(shot), format, path = std::move(path), wakeFd,
                        done = std::move(done), stop]() mutable {
        try {
            {
                TBitmap bitmap;
                DevelopAndWrite(*shot, bitmap, format, path, stop);
            }
            done.set_value();
        } catch (...) {
            done.set_exception(std::current_exception());
        }
        const std::uint64_t one = 1;
        const ssize_t written = wakeFd >= 0 ? ::write(wakeFd, &one, sizeof one) : 0;
        (void)written; // a full counter has woken the main thread already
    });
}

// No call to the browser outlasts the deadline while this lives: a page that stops answering costs its own
// time and no more.
class TCallDeadlineScope {
public:
    TCallDeadlineScope(TChromiumBrowser& browser, Clock::time_point deadline) : FBrowser(browser) {
        FBrowser.SetCallDeadline(deadline);
    }
    ~TCallDeadlineScope() { FBrowser.SetCallDeadline(std::nullopt); }
    TCallDeadlineScope(const TCallDeadlineScope&) = delete;
    TCallDeadlineScope& operator=(const TCallDeadlineScope&) = delete;

private:
    TChromiumBrowser& FBrowser;
};
} // namespace

struct TBatchRunner::Endpoint {
    std::string Name; // "local", or the address given
    std::shared_ptr<TChromiumBrowser> Browser;
    std::optional<Clock::time_point> ProbeSent; // a question to a silent browser
    // A browser that runs elsewhere and cannot be reached now: tried again from NextTry on, until it has
    // been gone for a page's time.
    std::optional<Clock::time_point> DownSince;
    Clock::time_point NextTry;
    std::string DownReason;
};

struct TBatchRunner::Slot {
    enum class State { Idle, Loading, Settling, WaitingFor, Preparing, Delaying };
    Endpoint* Home = nullptr;
    std::unique_ptr<TBrowserHost> Host;
    TChromiumEngine* Engine = nullptr;
    State Phase = State::Idle;
    std::size_t Job = 0;
    // A page's whole time, from its start to its file: it loads, settles and waits its delay until CaptureBy,
    // and is measured and drawn by Deadline.
    Clock::time_point Started, CaptureBy, Deadline, WaitUntil;
    std::optional<Clock::time_point> QuietSince;     // the network has been almost idle since then
    std::optional<Clock::time_point> WaitingForRoom; // ready to be drawn, waiting for memory or slots
    bool ScrollingCut = false;
    // A script run in the page: answers of an earlier page (another ticket) are dropped.
    std::uint64_t Ticket = 0;
    bool Asked = false;
    std::optional<TScriptResult> Answer;
    std::size_t Script = 0; // the next preparation script
};

namespace {
// Of a page's time, the part kept for measuring and drawing it: a quarter, at least a second.
std::chrono::milliseconds DrawingReserve(int timeoutSeconds) {
    return std::max(std::chrono::milliseconds(1000), std::chrono::milliseconds(timeoutSeconds * 250));
}
// A browser that has sent nothing this long while pages load is asked whether it still answers; one that
// does not answer within its time hangs (it is stopped, or starved) and is replaced.
constexpr auto kQuietBeforeProbe = std::chrono::seconds(2);
constexpr auto kProbeTime = std::chrono::seconds(3);
// How often a browser that runs elsewhere and could not be reached is tried again.
constexpr auto kReconnectPause = std::chrono::seconds(1);
} // namespace

std::string OutputPathFor(const TCliOptions& options, const std::string& url, int number) {
    if (!options.OutputFile.empty()) return options.OutputFile;
    std::string folder = options.OutputDir;
    if (folder.empty()) {
        char cwd[PATH_MAX];
        folder = ::getcwd(cwd, sizeof cwd) ? cwd : ".";
    }
    folder = IncludeTrailingPathDelimiter(folder);
    return CapturePath(url, folder, folder, options.EffectiveFormat(), number);
}

std::string TBatchRunner::ClaimPath(TPageResult& result) {
    // Another address of this run that makes the same name keeps it; this one gets the next free number.
    for (int number = 1;; ++number) {
        const std::string path = OutputPathFor(FOptions, result.Url, number);
        const auto [claim, fresh] = FClaimed.emplace(path, result.Url);
        if (!fresh && claim->second != result.Url) continue;
        if (number > 1)
            result.Notes.push_back(
                FormatText(Tr("%1 gives the same file name as %2: written as %3"),
                           {result.Url, FClaimed.at(OutputPathFor(FOptions, result.Url, 1)), path}));
        return path;
    }
}

TBatchRunner::TBatchRunner(TCliOptions options, std::shared_ptr<TChromiumBrowser> browser)
    : TBatchRunner(std::move(options), std::vector<std::shared_ptr<TChromiumBrowser>>{std::move(browser)}) {}

TBatchRunner::TBatchRunner(TCliOptions options, std::vector<std::shared_ptr<TChromiumBrowser>> browsers)
    : FOptions(std::move(options)) {
    // No single call to the browser may outlast a page's own time.
    const auto pageTime = std::chrono::milliseconds(std::int64_t{FOptions.TimeoutSeconds} * 1000);
    const int slots = std::max(1, std::min<int>(FOptions.Jobs, static_cast<int>(FOptions.Urls.size())));
    for (auto& browser : browsers) {
        auto endpoint = std::make_unique<Endpoint>();
        endpoint->Name = browser->Remote() ? browser->Options().Endpoint : std::string("local");
        browser->SetCallTimeout(std::min(browser->Options().CallTimeout, pageTime));
        endpoint->Browser = std::move(browser);
        FEndpoints.push_back(std::move(endpoint));
    }
    for (int i = 0; i < slots; ++i)
        for (auto& endpoint : FEndpoints) {
            auto slot = std::make_unique<Slot>();
            slot->Home = endpoint.get();
            auto engine = std::make_unique<TChromiumEngine>(endpoint->Browser);
            // Pages in a browser that runs elsewhere share nothing, unless the cache is to be kept.
            engine->SetContextPerPage(!FOptions.Cache);
            engine->SetDeviceScaleFactor(FOptions.Scale);
            engine->SetPageOptions(FOptions.Page);
            engine->SetDrawTimeout(pageTime);
            slot->Engine = engine.get();
            slot->Host = std::make_unique<TBrowserHost>(std::move(engine), "wb");
            using O = TDownloadControlOption;
            slot->Host->SetDownloadOptions(
                {O::DLCTL_DLIMAGES, O::DLCTL_VIDEOS, O::DLCTL_BGSOUNDS, O::DLCTL_SILENT});
            slot->Host->SetUserInterfaceOptions({});
            slot->Host->Loaded();
            FSlots.push_back(std::move(slot));
        }
    FPreparation = PreparationScripts(FOptions);
    // A written file is taken up at once, even while a page is being drawn.
    FWakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (FWakeFd >= 0)
        for (auto& endpoint : FEndpoints)
            endpoint->Browser->SetExtraWake(FWakeFd, [this] { TakeWrittenFiles(); });
}

void TBatchRunner::TakeWrittenFiles() {
    // Reading resets the counter; how many files it counted does not matter, CheckWrites looks at them all.
    std::uint64_t count = 0;
    const ssize_t read = FWakeFd >= 0 ? ::read(FWakeFd, &count, sizeof count) : 0;
    (void)read;
    CheckWrites();
}

struct TBatchRunner::Write {
    std::size_t Job = 0;
    Clock::time_point Started;
    std::future<void> Done;
    std::thread Worker;
    std::int64_t Bytes = 0;
    Clock::time_point Begun = Clock::now(); // the file's making, while the rest of the picture comes
};

struct TBatchRunner::Pending {
    std::size_t Job = 0;
    Clock::time_point Started;
    std::shared_ptr<const TPageShot> Shot;
    TSaveFormat Format = TSaveFormat::Png;
    std::string Path;
    std::int64_t Bytes = 0; // of the picture's bitmap
};

void TBatchRunner::StartWrite(Pending pending) {
    FWrites.reserve(FWrites.size() + 1);
    std::promise<void> done;
    Write write{pending.Job, pending.Started, done.get_future(), {}, pending.Bytes};
    write.Worker = WriteOnThread(std::move(pending.Shot), pending.Format, std::move(pending.Path), FWakeFd,
                                 std::move(done), FStop);
    FBytesInUse += write.Bytes;
    FWrites.push_back(std::move(write));
}

void TBatchRunner::StartPendingWrites() {
    // In the order the pictures were taken; one always goes when nothing else is in memory, however large.
    while (!FPending.empty() &&
           (FWrites.empty() || FBytesInUse + FPending.front().Bytes <= FOptions.MemoryBytes)) {
        Pending next = std::move(FPending.front());
        FPending.pop_front();
        StartWrite(std::move(next));
    }
}

TBatchRunner::~TBatchRunner() {
    FAlive.reset();
    for (auto& endpoint : FEndpoints)
        endpoint->Browser->SetExtraWake(-1, {});
    for (auto& write : FWrites)
        write.Worker.join();
    if (FWakeFd >= 0) ::close(FWakeFd);
}

void TBatchRunner::Report() {
    if (!OnProgress) return;
    TBatchProgress p;
    p.Done = FDone;
    p.Total = FResults.size();
    p.Current = FCurrent;
    p.Elapsed = std::chrono::duration<double>(Clock::now() - FStarted).count();
    OnProgress(p);
}

void TBatchRunner::Start(Slot& slot, std::size_t job) {
    TPageResult& result = FResults[job];
    slot.Job = job;
    slot.Started = Clock::now();
    slot.Deadline = slot.Started + std::chrono::seconds(FOptions.TimeoutSeconds);
    slot.CaptureBy = slot.Deadline - DrawingReserve(FOptions.TimeoutSeconds);
    slot.WaitingForRoom.reset();
    slot.ScrollingCut = false;
    ++slot.Ticket;
    slot.Asked = false;
    slot.Answer.reset();
    FCurrent = result.Argument;
    result.Warnings.clear(); // of an attempt before, in a browser that hung
    result.LoadSeconds = result.CaptureSeconds = result.WriteSeconds = 0;
    result.Browser = slot.Home->Name;
    FPlaces[job] = {slot.Home, slot.Home->Browser->Generation()};
    const TPageAddress address = ResolvePageAddress(result.Argument);
    if (!address.Error.empty()) return Finish(slot, address.Error);
    result.Url = address.Url;
    try {
        ApplyDownloadOptions(*slot.Host, FOptions.Security);
        if (FOptions.Cache) {
            TDownloadControlOptions set = slot.Host->DownloadOptions();
            set.Exclude(TDownloadControlOption::DLCTL_PRAGMA_NO_CACHE);
            slot.Host->SetDownloadOptions(set);
        }
        ApplyScrollBarOption(*slot.Host, FOptions.HideScrollbars);
        slot.Host->Navigate(address.Url);
    } catch (const std::exception& e) {
        return Finish(slot, MessageWithCause(e));
    }
    slot.Phase = Slot::State::Loading;
    Report();
}

void TBatchRunner::Finish(Slot& slot, std::string reason) {
    slot.Phase = Slot::State::Idle;
    if (!reason.empty() && RetryElsewhere(slot.Job, reason)) return;
    Finish(slot.Job, slot.Started, std::move(reason));
}

bool TBatchRunner::RetryElsewhere(std::size_t job, const std::string& reason) {
    // Only a browser that runs elsewhere goes away under a page for reasons not the page's: a connection
    // lost, a browser restarted, a page's process gone. A page of our own browser that dies keeps its
    // failure (the browser is begun anew by the next page).
    TPageResult& result = FResults[job];
    const JobPlace place = FPlaces[job];
    if (!place.On || !place.On->Browser->Remote() || result.Attempts >= 2 || FStop.stop_requested())
        return false;
    const bool lost = !place.On->Browser->Running() || place.On->Browser->Generation() != place.Generation;
    const bool pageGone = std::any_of(FSlots.begin(), FSlots.end(), [&](const auto& s) {
        return s->Home == place.On && s->Job == job && s->Engine->PageGone();
    });
    if (!lost && !pageGone) return false;
    result.Notes.push_back(FormatText(FEndpoints.size() > 1
                                          ? Tr("%1: %2: begun again on another browser")
                                          : Tr("%1: %2: begun again once the browser answers"),
                                      {result.Argument, reason}));
    FRetry.push_back(job);
    return true;
}

void TBatchRunner::Finish(std::size_t job, Clock::time_point started, std::string reason) {
    TPageResult& result = FResults[job];
    result.Seconds = std::chrono::duration<double>(Clock::now() - started).count();
    result.Captured = reason.empty();

    result.Reason = std::move(reason);
    ++FDone;
    // A page given up because the run was told to stop is not a failure of its own.
    if (!result.Captured && FStop.stop_requested()) {
        result.Interrupted = true;
        result.Reason = Tr("interrupted");
        return;
    }
    if (OnResult) OnResult(result);
    Report();
}

void TBatchRunner::CheckWrites() {
    for (auto it = FWrites.begin(); it != FWrites.end();) {
        if (it->Done.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
            ++it;
            continue;
        }
        std::string reason;
        try {
            it->Done.get();
            if (FOptions.View) SpawnDetached({"xdg-open", FResults[it->Job].Path});
        } catch (const std::exception& e) {
            reason = MessageWithCause(e);
        }
        Write done = std::move(*it);
        it = FWrites.erase(it);
        done.Worker.join(); // it has no more to do than to end
        FBytesInUse -= done.Bytes;
        FResults[done.Job].WriteSeconds = std::chrono::duration<double>(Clock::now() - done.Begun).count();
        // A picture cut off by a browser that went away is taken again.
        if (reason.empty() || !RetryElsewhere(done.Job, reason))
            Finish(done.Job, done.Started, std::move(reason));
        StartPendingWrites();
    }
}

bool TBatchRunner::MayDraw() const {
    // Pages are drawn one at a time, and a page is drawn while at most one picture a slot is being written
    // or waits for room; how many of them are developed at once, the memory budget says.
    return FWrites.size() + FPending.size() <= FSlots.size();
}

void TBatchRunner::Capture(Slot& slot) {
    TPageResult& result = FResults[slot.Job];
    auto document = slot.Host->Document();
    if (!document) return Finish(slot, Tr("the page went away before it could be captured"));

    TCaptureSettings settings;
    settings.Width = FOptions.Width;
    settings.Height = FOptions.Height;
    settings.Format = FOptions.EffectiveFormat();
    settings.Address = result.Url;
    settings.Scale = FOptions.Scale;
    settings.Selector = FOptions.Selector;
    settings.Padding = FOptions.Padding;
    result.Path = ClaimPath(result);

    // When scrolling through a page that kept growing was cut, so is the page's picture: at the largest
    // capture there is.
    if (slot.ScrollingCut)
        settings.MaxAutoHeight = static_cast<std::int32_t>(kMaxCaptureHeight / FOptions.Scale);
    // Measuring and drawing end with the page's time, all calls together.
    const TCallDeadlineScope bounded(*slot.Home->Browser, slot.Deadline);
    // A picture taken while nothing else is under way comes in bands, each put into its file while the
    // browser makes the next; with pages loading or files being written beside it, in one (cheaper then).
    const bool alone =
        FWrites.empty() && FPending.empty() && std::none_of(FSlots.begin(), FSlots.end(), [&](const auto& s) {
            return s.get() != &slot && s->Phase != Slot::State::Idle;
        });
    slot.Engine->SetMaxBandRows(alone ? TChromiumEngine::kDefaultMaxBandRows
                                      : TChromiumEngine::kWholeBandRows);
    const auto measured = Clock::now();
    bool writing = false;
    try {
        // Animations that came during the delay are finished too: the picture is the same every time.
        if (FOptions.Page.ReducedMotion) slot.Engine->EvaluateNow(FinishAnimationsScript());
        ShootDocument(*slot.Host, *document, settings, [&](const TCapturePicture& begun) {
            result.Width = begun.Outcome.Width;
            result.Height = begun.Outcome.Height;
            result.CaptureSeconds = std::chrono::duration<double>(Clock::now() - measured).count();
            // The picture is decoded, encoded and written on a worker while the rest of it comes and while
            // the slot loads the next page, once there is room in memory for its bitmap.
            const std::int64_t stride = (std::int64_t{begun.Outcome.Width} * 3 + 3) / 4 * 4;
            FPending.push_back(Pending{slot.Job, slot.Started, begun.Shot, settings.Format, result.Path,
                                       stride * begun.Outcome.Height});
            StartPendingWrites();
            writing = true;
        });
    } catch (const EEngineTimeout& e) {
        if (!writing && ReplaceBrowserIfHung(*slot.Home)) return;
        if (!writing) return Finish(slot, MessageWithCause(e));
    } catch (const std::exception& e) {
        // Once the file is being made, the write tells the page's outcome: a picture that did not come whole
        // leaves no file and the write reports why.
        if (!writing) return Finish(slot, MessageWithCause(e));
    }
    slot.Phase = Slot::State::Idle;
}

bool TBatchRunner::ReplaceBrowserIfHung(Endpoint& endpoint) {
    // A page that keeps the browser from answering its page commands is the page's fault, unless the browser
    // itself does not answer either.
    if (!endpoint.Browser->Running() || endpoint.Browser->Answers(kProbeTime)) return false;
    ReplaceBrowser(endpoint);
    return true;
}

void TBatchRunner::ReplaceBrowser(Endpoint& endpoint) {
    endpoint.ProbeSent.reset();
    // The pages under way start again, each once, in a new browser (or, for a browser that runs elsewhere,
    // a new connection or another browser); a page that was already begun again once fails.
    for (auto& slot : FSlots) {
        if (slot->Phase == Slot::State::Idle || slot->Home != &endpoint) continue;
        TPageResult& result = FResults[slot->Job];
        slot->Phase = Slot::State::Idle;
        if (result.Attempts >= 2) {
            Finish(slot->Job, slot->Started,
                   Tr("the browser stopped answering, also when the page was tried again"));
            continue;
        }
        result.Notes.push_back(Tr("the browser stopped answering: tried again in a new browser"));
        FRetry.push_back(slot->Job);
    }
    endpoint.Browser->Shutdown(); // a new one starts with the next page
}

void TBatchRunner::WatchBrowser(Endpoint& endpoint) {
    const auto now = Clock::now();
    const bool busy = std::any_of(FSlots.begin(), FSlots.end(), [&](const auto& s) {
        return s->Home == &endpoint && s->Phase != Slot::State::Idle;
    });
    TChromiumBrowser& browser = *endpoint.Browser;
    if (!busy || !browser.Running()) {
        endpoint.ProbeSent.reset();
        return;
    }
    if (endpoint.ProbeSent) {
        if (now - *endpoint.ProbeSent > kProbeTime) ReplaceBrowser(endpoint);
        return;
    }
    if (now - browser.LastHeard() < kQuietBeforeProbe) return;
    endpoint.ProbeSent = now;
    const std::uint64_t generation = browser.Generation();
    std::weak_ptr<bool> alive = FAlive; // the answer may come after this runner has gone
    Endpoint* asked = &endpoint;
    browser.Send("Browser.getVersion", nlohmann::json::object(), {},
                 [asked, alive, generation](TDevToolsMessage& reply) {
                     if (alive.expired()) return;
                     if (!reply.Error && generation == asked->Browser->Generation()) asked->ProbeSent.reset();
                 });
}

bool TBatchRunner::Usable(Endpoint& endpoint) {
    // Our own browser is started by the page that needs it (a browser that cannot start fails that page).
    TChromiumBrowser& browser = *endpoint.Browser;
    if (!browser.Remote() || browser.Running()) return true;
    const auto now = Clock::now();
    if (endpoint.DownSince && now < endpoint.NextTry) return false;
    try {
        browser.Start();
        endpoint.DownSince.reset();
        return true;
    } catch (const EEngineStopped&) {
        return false;
    } catch (const EEngineError& e) {
        if (!endpoint.DownSince) endpoint.DownSince = now;
        endpoint.NextTry = Clock::now() + kReconnectPause;
        endpoint.DownReason = e.what();
        return false;
    }
}

std::optional<std::size_t> TBatchRunner::TakeJob(const Endpoint& endpoint) {
    // A page begun again goes to another browser than the one it was lost in, unless no other answers.
    const bool othersUp = std::any_of(FEndpoints.begin(), FEndpoints.end(),
                                      [&](const auto& e) { return e.get() != &endpoint && !e->DownSince; });
    for (auto it = FRetry.begin(); it != FRetry.end(); ++it) {
        if (othersUp && FPlaces[*it].On == &endpoint && endpoint.Browser->Remote()) continue;
        const std::size_t job = *it;
        FRetry.erase(it);
        return job;
    }
    if (FNext < FResults.size()) return FNext++;
    return std::nullopt;
}

void TBatchRunner::FailIfNoBrowserLeft() {
    // Pages wait for a browser that went away for as long as a page's time; then, when none of the browsers
    // answers, the pages left fail with the reasons.
    const auto now = Clock::now();
    const auto patience = std::chrono::seconds(FOptions.TimeoutSeconds);
    std::string reasons;
    for (const auto& endpoint : FEndpoints) {
        if (!endpoint->DownSince || now - *endpoint->DownSince < patience) return;
        if (!reasons.empty()) reasons += "; ";
        reasons += endpoint->DownReason;
    }
    const std::string reason = FormatText(Tr("no browser answers: %1"), {reasons});
    auto fail = [&](std::size_t job) {
        ++FResults[job].Attempts;
        Finish(job, Clock::now(), reason);
    };
    while (!FRetry.empty()) {
        fail(FRetry.front());
        FRetry.pop_front();
    }
    while (FNext < FResults.size())
        fail(FNext++);
}

void TBatchRunner::LeaveIdleBrowsers() {
    // Once every page is drawn the browsers have nothing left to do: ours goes while the last files are
    // written, and its own clearing up no longer takes the processors from them; one that runs elsewhere is
    // left as we found it.
    if (FNext < FResults.size() || !FRetry.empty()) return;
    for (auto& endpoint : FEndpoints) {
        if (!endpoint->Browser->Running()) continue;
        const bool busy = std::any_of(FSlots.begin(), FSlots.end(), [&](const auto& s) {
            return s->Home == endpoint.get() && s->Phase != Slot::State::Idle;
        });
        if (busy) continue;
        if (endpoint->Browser->Remote())
            for (auto& slot : FSlots)
                if (slot->Home == endpoint.get()) slot->Engine->ReleasePage();
        endpoint->Browser->Shutdown();
    }
}

void TBatchRunner::WaitForBrowsers(std::chrono::milliseconds wait) {
    std::vector<pollfd> fds;
    std::vector<TChromiumBrowser*> running;
    for (auto& endpoint : FEndpoints) {
        if (!endpoint->Browser->Running()) continue;
        if (endpoint->Browser->HasQueuedWork()) wait = std::chrono::milliseconds(0);
        running.push_back(endpoint->Browser.get());
    }
    if (running.size() == 1 && FEndpoints.size() == 1) {
        running.front()->WaitIncoming(wait);
        return;
    }
    for (auto* browser : running)
        fds.push_back({browser->ConnectionFd(), POLLIN, 0});
    fds.push_back({FWakeFd, POLLIN, 0});
    fds.push_back({FEndpoints.front()->Browser->StopFd(), POLLIN, 0});
    if (::poll(fds.data(), fds.size(), static_cast<int>(wait.count())) < 0) return;
    for (std::size_t i = 0; i < running.size(); ++i)
        if (fds[i].revents != 0 || running[i]->HasQueuedWork()) running[i]->ProcessIncoming();
    if (fds[running.size()].revents & POLLIN) TakeWrittenFiles();
}

void TBatchRunner::Loaded(Slot& slot) {
    TPageResult& result = FResults[slot.Job];
    const int status = slot.Host->HttpStatus();
    result.HttpStatus = status;
    result.LoadSeconds = std::chrono::duration<double>(Clock::now() - slot.Started).count();
    // Credentials the page's server asked for and then did not take fail the page: what it shows is no
    // page of the site's.
    if (status == 401 && FOptions.Page.Credentials)
        return Finish(slot, Tr("the server did not accept the credentials (HTTP 401)"));
    if (status >= 400)
        result.Warnings.push_back(FormatText(Tr("the server answered HTTP %1"), {std::to_string(status)}));
    if (FOptions.Lazy) {
        // Pictures that load only when seen are brought in at the width the page is captured at. A page that
        // keeps growing as it is scrolled is scrolled for half the time left and no further than the largest
        // capture; the rest of the time is the picture's.
        const int width = FOptions.Width.Automatic ? 1024 : FOptions.Width.Pixels;
        const auto until = Clock::now() + (slot.CaptureBy - Clock::now()) / 2;
        const TCallDeadlineScope bounded(*slot.Home->Browser, slot.CaptureBy);
        slot.ScrollingCut = slot.Engine->ScrollThrough(width, kLazyViewHeight, kLazyPause, until,
                                                       static_cast<int>(kMaxCaptureHeight / FOptions.Scale));
        if (slot.ScrollingCut)
            result.Notes.push_back(FormatText(
                Tr("%1: the page kept growing as it was scrolled: scrolling was cut"), {result.Url}));
    }
    slot.QuietSince.reset();
    if (FOptions.WaitIdle)
        slot.Phase = Slot::State::Settling;
    else
        Settled(slot);
}

void TBatchRunner::Settled(Slot& slot) {
    if (!FOptions.WaitFor.empty()) {
        slot.Phase = Slot::State::WaitingFor;
        slot.WaitUntil = Clock::now(); // the first question goes at once
        return;
    }
    Prepare(slot);
}

void TBatchRunner::Prepare(Slot& slot) {
    slot.Script = 0;
    if (FPreparation.empty()) return StartDelay(slot);
    slot.Phase = Slot::State::Preparing;
    RunPreparation(slot);
}

void TBatchRunner::StartDelay(Slot& slot) {
    slot.Phase = Slot::State::Delaying;
    slot.WaitUntil = std::min(slot.CaptureBy, Clock::now() + std::chrono::seconds(FOptions.Delay));
}

void TBatchRunner::Ask(Slot& slot, const std::string& script, bool awaitPromise) {
    slot.Asked = true;
    slot.Answer.reset();
    std::weak_ptr<bool> alive = FAlive;
    Slot* asking = &slot;
    slot.Engine->Evaluate(script, awaitPromise, [alive, asking, ticket = slot.Ticket](TScriptResult answer) {
        if (!alive.expired() && asking->Ticket == ticket) asking->Answer = std::move(answer);
    });
}

void TBatchRunner::WaitForElement(Slot& slot) {
    const auto now = Clock::now();
    if (slot.Answer) {
        // A page that is still changing (its document replaced meanwhile) is asked again.
        const bool shown = slot.Answer->Ok && slot.Answer->Value == true;
        slot.Answer.reset();
        slot.Asked = false;
        if (shown) return Prepare(slot);
        slot.WaitUntil = now + kElementPoll;
    }
    if (now >= slot.CaptureBy)
        return Finish(slot, FormatText(Tr("no element matched %1"), {FOptions.WaitFor}));
    if (!slot.Asked && now >= slot.WaitUntil) Ask(slot, ElementShownScript(FOptions.WaitFor), false);
}

void TBatchRunner::RunPreparation(Slot& slot) {
    if (slot.Answer) {
        if (!slot.Answer->Ok)
            return Finish(slot, FormatText(Tr("the script failed: %1"), {slot.Answer->Error}));
        slot.Answer.reset();
        slot.Asked = false;
        ++slot.Script;
    }
    if (slot.Script >= FPreparation.size()) return StartDelay(slot);
    if (Clock::now() >= slot.CaptureBy)
        return Finish(slot, FormatText(Tr("the script did not end within the page's time (%1 s)"),
                                       {std::to_string(FOptions.TimeoutSeconds)}));
    if (!slot.Asked) Ask(slot, FPreparation[slot.Script], true);
}

std::vector<std::pair<std::string, std::string>> TBatchRunner::InvalidSelectors() {
    const auto given = SelectorsToCheck(FOptions);
    if (given.empty()) return {};
    std::vector<std::string> selectors;
    for (const auto& [option, selector] : given)
        selectors.push_back(selector);
    // Asked of the first browser that answers.
    auto asked =
        std::find_if(FSlots.begin(), FSlots.end(), [this](const auto& s) { return Usable(*s->Home); });
    if (asked == FSlots.end()) throw EEngineError(FSlots.front()->Home->DownReason);
    const std::vector<std::string> invalid = (*asked)->Engine->InvalidSelectors(selectors);
    std::vector<std::pair<std::string, std::string>> named;
    for (const auto& entry : given)
        if (std::find(invalid.begin(), invalid.end(), entry.second) != invalid.end()) named.push_back(entry);
    return named;
}

bool TBatchRunner::ReadyToDraw(Slot& slot) {
    // The page is ready: the time it waits for memory or a free slot is not the page's.
    const auto now = Clock::now();
    if (!MayDraw()) {
        if (!slot.WaitingForRoom) slot.WaitingForRoom = now;
        return false;
    }
    if (slot.WaitingForRoom) {
        const auto waited = now - *std::exchange(slot.WaitingForRoom, std::nullopt);
        slot.CaptureBy += waited;
        slot.Deadline += waited;
    }
    return true;
}

void TBatchRunner::Step(Slot& slot) {
    const auto now = Clock::now();
    TPageResult& result = FResults[slot.Job];
    const std::string seconds = std::to_string(FOptions.TimeoutSeconds);
    try {
        switch (slot.Phase) {
        case Slot::State::Idle:
            return;
        case Slot::State::Loading:
            if (slot.Host->ReadyState() == READYSTATE_COMPLETE) {
                if (!slot.Host->Document()) {
                    const std::string error = slot.Host->NavigationError();
                    return Finish(slot, error.empty() ? std::string(Tr("the page did not load")) : error);
                }
                return Loaded(slot);
            }
            if (now < slot.CaptureBy) return;
            // Time is up. A page whose document has come is drawn as it is (a picture that never comes keeps
            // no page from its capture), unless --strict asks for complete pages only.
            if (FOptions.Strict || slot.Host->ReadyState() < READYSTATE_INTERACTIVE) {
                slot.Host->Stop();
                return Finish(slot, FormatText(Tr("timed out after %1 s while loading"), {seconds}));
            }
            slot.Host->Stop();
            result.Warnings.push_back(
                FormatText(Tr("not complete after %1 s: captured as it was"),
                           {std::to_string(
                               std::chrono::duration_cast<std::chrono::seconds>(slot.CaptureBy - slot.Started)
                                   .count())}));
            Settled(slot);
            return Step(slot);
        case Slot::State::Settling:
            // At most two requests in flight for half a second; a page that never settles is captured as it
            // is when its time is up.
            if (slot.Engine->InflightRequests() > kIdleRequests) {
                slot.QuietSince.reset();
            } else if (!slot.QuietSince) {
                slot.QuietSince = std::max(now, slot.Engine->LastNetworkChange());
            }
            if (now >= slot.CaptureBy) {
                result.Warnings.push_back(Tr("the network was still busy when the time was up"));
                Settled(slot);
                return Step(slot);
            }
            if (slot.QuietSince && now - *slot.QuietSince >= kIdleTime) Settled(slot);
            return;
        case Slot::State::WaitingFor:
            return WaitForElement(slot);
        case Slot::State::Preparing:
            return RunPreparation(slot);
        case Slot::State::Delaying:
            if (now < slot.WaitUntil || !ReadyToDraw(slot)) return;
            return Capture(slot);
        }
    } catch (const EEngineTimeout& e) {
        if (!ReplaceBrowserIfHung(*slot.Home)) Finish(slot, MessageWithCause(e));
    } catch (const std::exception& e) {
        Finish(slot, MessageWithCause(e));
    }
}

std::chrono::milliseconds TBatchRunner::NextWait() const {
    // Without a wake fd, pending files are looked for often.
    auto wait = std::chrono::milliseconds(FWrites.empty() || FWakeFd >= 0 ? 100 : 5);
    const auto now = Clock::now();
    for (const auto& slot : FSlots) {
        if (slot->Phase == Slot::State::Settling) wait = std::min(wait, std::chrono::milliseconds(25));
        auto until = [&](Clock::time_point t) {
            auto ms =
                std::chrono::duration_cast<std::chrono::milliseconds>(t - now) + std::chrono::milliseconds(1);
            wait = std::min(wait, std::max(ms, std::chrono::milliseconds(0)));
        };
        if (slot->Phase == Slot::State::Delaying || (slot->Phase == Slot::State::WaitingFor && !slot->Asked))
            until(slot->WaitUntil);
        if (slot->Phase != Slot::State::Idle) until(slot->CaptureBy);
    }
    if (std::any_of(FSlots.begin(), FSlots.end(),
                    [](const auto& s) { return s->Phase != Slot::State::Idle; })) {
        // The browser's silence is looked at now and then.
        wait = std::min(wait, std::chrono::milliseconds(500));
    }
    return wait;
}

void TBatchRunner::Interrupt() {
    FInterrupted = true;
    // The writers see the stop and give their files up; what they leave is removed.
    FPending.clear();
    for (auto& write : FWrites)
        write.Worker.join();
    FWrites.clear();
    FBytesInUse = 0;
    for (auto& endpoint : FEndpoints)
        endpoint->Browser->Shutdown();
    for (auto& result : FResults)
        if (!result.Captured && result.Reason.empty()) {
            result.Interrupted = true;
            result.Reason = Tr("interrupted");
        }
}

std::vector<TPageResult> TBatchRunner::Run(std::stop_token stop) {
    // What an earlier run that was killed left half written in the folder this one writes to.
    const std::string folder = ExtractFilePath(OutputPathFor(FOptions, "page"));
    RemoveStalePartFiles(folder.empty() ? "." : folder);
    FStop = stop;
    for (auto& endpoint : FEndpoints)
        endpoint->Browser->SetStopToken(stop);
    FStarted = Clock::now();
    FResults.clear();
    for (const auto& url : FOptions.Urls)
        FResults.push_back(TPageResult{url, {}, false, {}, 0, 0, {}, false, {}, {}, 0, 0, 0, 0, 0, 0, {}});
    FPlaces.assign(FResults.size(), JobPlace{});
    FNext = FDone = 0;
    Report();
    while (FDone < FResults.size()) {
        if (stop.stop_requested()) {
            Interrupt();
            return FResults;
        }
        CheckWrites();
        // A slot loads and draws its next page while its last file is written.
        for (auto& slot : FSlots)
            while (slot->Phase == Slot::State::Idle && (!FRetry.empty() || FNext < FResults.size()) &&
                   Usable(*slot->Home)) {
                const std::optional<std::size_t> job = TakeJob(*slot->Home);
                if (!job) break;
                ++FResults[*job].Attempts;
                Start(*slot, *job);
            }
        FailIfNoBrowserLeft();
        if (FDone >= FResults.size()) break;
        LeaveIdleBrowsers();
        if (std::any_of(FEndpoints.begin(), FEndpoints.end(),
                        [](const auto& e) { return e->Browser->Running(); })) {
            WaitForBrowsers(NextWait());
        } else {
            pollfd wake[2] = {{FWakeFd, POLLIN, 0}, {FEndpoints.front()->Browser->StopFd(), POLLIN, 0}};
            if (::poll(wake, 2, static_cast<int>(NextWait().count())) > 0 && (wake[0].revents & POLLIN))
                TakeWrittenFiles();
        }
        for (auto& endpoint : FEndpoints)
            WatchBrowser(*endpoint);
        for (auto& slot : FSlots)
            Step(*slot);
    }
    return FResults;
}

} // namespace korvane
