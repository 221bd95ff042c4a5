#include "cli/BatchRunner.h"

#include "browser/EngineError.h"
#include "cli/PageTweaks.h"
#include "platform/Files.h"
#include "platform/Spawn.h"
#include "platform/Translate.h"

#include <algorithm>

namespace korvane {

using std::chrono::milliseconds;

TBatchRunner::TBatchRunner(TCliOptions options, std::vector<std::shared_ptr<IRunBrowser>> browsers,
                           TParts parts)
    : FOptions(std::move(options)), FJobSettings(JobSettingsFor(FOptions)), FClock(*parts.Clock),
      FPool(std::move(browsers), std::chrono::seconds(FOptions.TimeoutSeconds), FClock,
            std::move(parts.Waiter)),
      FWrites(FOptions.MemoryBytes, FClock, std::move(parts.Writer)), FNames(FOptions) {
    TJobPageSetup setup;
    // Pages in a browser that runs elsewhere share nothing, unless the cache is to be kept.
    setup.ContextPerPage = !FOptions.Cache;
    setup.Scale = FOptions.Scale;
    setup.DrawTimeout = std::chrono::seconds(FOptions.TimeoutSeconds);
    const TEngineSettings settings = FOptions.EngineSettings();
    const std::size_t pages = FOptions.Urls.size() * FOptions.ViewWidths().size();
    const int slots = std::max(1, static_cast<int>(std::min<std::size_t>(FOptions.Jobs, pages)));
    for (int i = 0; i < slots; ++i)
        for (const auto& endpoint : FPool.Endpoints()) {
            auto slot = std::make_unique<TSlot>();
            slot->Home = endpoint.get();
            slot->Page = endpoint->Browser->MakePage(setup, settings, FOptions.Page);
            slot->Job = std::make_unique<TPageJob>(FJobSettings, FClock);
            FSlots.push_back(std::move(slot));
        }
    // A written file is taken up at once, even while a page is being drawn.
    FPool.SetWake(FWrites.WakeFd(), [this] {
        FWrites.ClearWake();
        TakeWritten();
    });
}

TBatchRunner::~TBatchRunner() {
    FPool.SetWake(-1, {});
}

bool TBatchRunner::MayDraw() const {
    // Pages are drawn one at a time, and a page is drawn while at most one picture a slot is being written
    // or waits for room; how many of them are developed at once, the memory budget says.
    return FWrites.Writing() + FWrites.Waiting() <= FSlots.size();
}

bool TBatchRunner::DrawsAlone(const TPageJob& job) const {
    return FWrites.Writing() == 0 && FWrites.Waiting() == 0 &&
           std::none_of(FSlots.begin(), FSlots.end(),
                        [&](const auto& s) { return s->Job.get() != &job && s->Busy; });
}

std::string TBatchRunner::ClaimPath(TPageResult& result) {
    return FNames.Claim(result);
}

void TBatchRunner::Write(const TPageJob& job, const TCapturePicture& picture) {
    const auto slot =
        std::find_if(FSlots.begin(), FSlots.end(), [&](const auto& s) { return s->Job.get() == &job; });
    const std::size_t page = (*slot)->Index;
    const TEncoding encoding = FJobSettings.Capture.Encoding();
    FWrites.Add({page, picture.Shot, encoding, FResults[page].Path,
                 PictureBytes(encoding, picture.Outcome.Width, picture.Outcome.Height)});
}

void TBatchRunner::Report() {
    if (!OnProgress) return;
    TBatchProgress p;
    p.Done = FDone;
    p.Total = FResults.size();
    p.Current = FCurrent;
    p.Elapsed = std::chrono::duration<double>(FClock.Now() - FStarted).count();
    OnProgress(p);
}

std::optional<std::size_t> TBatchRunner::TakePage(const TEndpoint& endpoint) {
    // A page begun again goes to another browser than the one it was lost in, unless no other answers.
    const bool othersUp = FPool.OthersUp(endpoint);
    for (auto it = FRetry.begin(); it != FRetry.end(); ++it) {
        if (othersUp && FPlaces[*it].On == &endpoint && endpoint.Browser->Remote()) continue;
        const std::size_t page = *it;
        FRetry.erase(it);
        return page;
    }
    if (FNext < FResults.size()) return FNext++;
    return std::nullopt;
}

void TBatchRunner::StartPages() {
    // A slot loads and draws its next page while its last file is written.
    for (auto& slot : FSlots)
        while (!slot->Busy && (!FRetry.empty() || FNext < FResults.size()) && FPool.Usable(*slot->Home)) {
            const std::optional<std::size_t> page = TakePage(*slot->Home);
            if (!page) break;
            Start(*slot, *page);
        }
}

void TBatchRunner::Start(TSlot& slot, std::size_t page) {
    TPageResult& result = FResults[page];
    ++result.Attempts;
    slot.Index = page;
    slot.Busy = true;
    FCurrent = result.Argument;
    result.Browser = slot.Home->Name;
    FPlaces[page] = {slot.Home, slot.Home->Browser->Generation()};
    FPageStarts[page] = FClock.Now();
    slot.Job->Begin(*slot.Page, result);
    if (slot.Job->End() != TPageJob::TEnd::None) return Ended(slot);
    Report();
}

void TBatchRunner::Step(TSlot& slot) {
    if (!slot.Busy) return;
    slot.Job->Step(*this);
    if (slot.Job->End() != TPageJob::TEnd::None) Ended(slot);
}

void TBatchRunner::Ended(TSlot& slot) {
    const TPageJob::TEnd end = slot.Job->End();
    const std::string reason = slot.Job->Reason();
    slot.Job->Abandon();
    switch (end) {
    case TPageJob::TEnd::None:
        return;
    case TPageJob::TEnd::Writing:
        slot.Busy = false; // the write queue has the page now
        return;
    case TPageJob::TEnd::TimedOut:
        if (ReplaceBrowserIfHung(*slot.Home)) return;
        return Finish(slot, reason);
    case TPageJob::TEnd::Hung:
        return ReplaceBrowser(*slot.Home);
    case TPageJob::TEnd::Failed:
        return Finish(slot, reason);
    }
}

void TBatchRunner::Finish(TSlot& slot, std::string reason) {
    slot.Busy = false;
    if (!reason.empty() && RetryElsewhere(slot.Index, reason)) return;
    Finish(slot.Index, std::move(reason));
}

bool TBatchRunner::RetryElsewhere(std::size_t page, const std::string& reason) {
    // Only a browser that runs elsewhere goes away under a page for reasons not the page's: a connection
    // lost, a browser restarted, a page's process gone. A page of our own browser that dies keeps its
    // failure (the browser is begun anew by the next page).
    TPageResult& result = FResults[page];
    const TPlace place = FPlaces[page];
    if (!place.On || !place.On->Browser->Remote() || result.Attempts >= 2 || FStop.stop_requested())
        return false;
    const bool lost = !place.On->Browser->Running() || place.On->Browser->Generation() != place.Generation;
    const bool pageGone = std::any_of(FSlots.begin(), FSlots.end(), [&](const auto& s) {
        return s->Home == place.On && s->Index == page && s->Page->Gone();
    });
    if (!lost && !pageGone) return false;
    result.Notes.push_back(FormatText(FPool.Endpoints().size() > 1
                                          ? Tr("%1: %2: begun again on another browser")
                                          : Tr("%1: %2: begun again once the browser answers"),
                                      {result.Argument, reason}));
    FRetry.push_back(page);
    return true;
}

void TBatchRunner::Finish(std::size_t page, std::string reason) {
    TPageResult& result = FResults[page];
    result.Seconds = std::chrono::duration<double>(FClock.Now() - FPageStarts[page]).count();
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

void TBatchRunner::TakeWritten() {
    for (auto& written : FWrites.TakeWritten()) {
        TPageResult& result = FResults[written.Job];
        if (written.Error.empty() && FOptions.View) SpawnDetached({"xdg-open", result.Path});
        result.WriteSeconds = written.Seconds;
        // A picture cut off by a browser that went away is taken again; a file that could not be written is
        // the page's failure, whatever became of the browser meanwhile.
        if (written.Error.empty() || !written.PictureLost || !RetryElsewhere(written.Job, written.Error))
            Finish(written.Job, std::move(written.Error));
    }
}

bool TBatchRunner::Busy(const TEndpoint& endpoint) const {
    return std::any_of(FSlots.begin(), FSlots.end(),
                       [&](const auto& s) { return s->Home == &endpoint && s->Busy; });
}

bool TBatchRunner::ReplaceBrowserIfHung(TEndpoint& endpoint) {
    // A page that keeps the browser from answering its page commands is the page's fault, unless the browser
    // itself does not answer either.
    if (!FPool.Answerless(endpoint)) return false;
    ReplaceBrowser(endpoint);
    return true;
}

void TBatchRunner::ReplaceBrowser(TEndpoint& endpoint) {
    // The pages under way start again, each once, in a new browser (or, for a browser that runs elsewhere, a
    // new connection or another browser); a page that was already begun again once fails. The slot whose
    // page found the browser silent counts as under way.
    for (auto& slot : FSlots) {
        if (slot->Home != &endpoint || !slot->Busy) continue;
        slot->Busy = false;
        slot->Job->Abandon();
        TPageResult& result = FResults[slot->Index];
        if (result.Attempts >= 2) {
            Finish(slot->Index, Tr("the browser stopped answering, also when the page was tried again"));
            continue;
        }
        result.Notes.push_back(Tr("the browser stopped answering: tried again in a new browser"));
        FRetry.push_back(slot->Index);
    }
    // Ours starts anew with the next page; one elsewhere rests while the others take its pages.
    if (endpoint.Browser->Remote() && FPool.OthersUp(endpoint))
        FPool.Rest(endpoint, FormatText(Tr("%1 stopped answering"), {endpoint.Name}));
    else
        FPool.Leave(endpoint);
}

void TBatchRunner::FailIfNoBrowserLeft() {
    // Pages wait for a browser that went away for as long as a page's time; then, when none of the browsers
    // answers, the pages left fail with the reasons.
    const std::optional<std::string> reasons =
        FPool.AllGoneFor(std::chrono::seconds(FOptions.TimeoutSeconds));
    if (!reasons) return;
    const std::string reason = FormatText(Tr("no browser answers: %1"), {*reasons});
    auto fail = [&](std::size_t page) {
        ++FResults[page].Attempts;
        FPageStarts[page] = FClock.Now();
        Finish(page, reason);
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
    for (const auto& endpoint : FPool.Endpoints()) {
        if (!endpoint->Browser->Running() || Busy(*endpoint)) continue;
        if (endpoint->Browser->Remote())
            for (auto& slot : FSlots)
                if (slot->Home == endpoint.get()) slot->Page->Release();
        endpoint->Browser->Shutdown();
    }
}

std::vector<std::pair<std::string, std::string>> TBatchRunner::InvalidSelectors() {
    const auto given = SelectorsToCheck(FOptions);
    if (given.empty()) return {};
    std::vector<std::string> selectors;
    for (const auto& [option, selector] : given)
        selectors.push_back(selector);
    auto asked =
        std::find_if(FSlots.begin(), FSlots.end(), [this](const auto& s) { return FPool.Usable(*s->Home); });
    if (asked == FSlots.end()) throw EEngineError(FSlots.front()->Home->DownReason);
    const std::vector<std::string> invalid = (*asked)->Page->InvalidSelectors(selectors);
    std::vector<std::pair<std::string, std::string>> named;
    for (const auto& entry : given)
        if (std::find(invalid.begin(), invalid.end(), entry.second) != invalid.end()) named.push_back(entry);
    return named;
}

milliseconds TBatchRunner::NextWait() const {
    // Without a wake fd, written files are looked for often.
    milliseconds wait(FWrites.Writing() == 0 || FWrites.WakeFd() >= 0 ? 100 : 5);
    const auto now = FClock.Now();
    for (const auto& slot : FSlots)
        if (slot->Busy) wait = std::min(wait, slot->Job->WaitBefore(now));
    return wait;
}

void TBatchRunner::Interrupt() {
    FInterrupted = true;
    // The writers see the stop and give their files up; what they leave is removed.
    FWrites.Cancel();
    for (const auto& endpoint : FPool.Endpoints())
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
    FPool.SetStopToken(stop);
    FWrites.SetStopToken(stop);
    FStarted = FClock.Now();
    // Every address at each of the run's widths, one after the other.
    FResults.clear();
    for (const auto& url : FOptions.Urls)
        for (const int width : FOptions.ViewWidths()) {
            FResults.emplace_back();
            FResults.back().Argument = url;
            FResults.back().ViewWidth = width;
        }
    FPlaces.assign(FResults.size(), TPlace{});
    FPageStarts.assign(FResults.size(), FStarted);
    FNext = FDone = 0;
    Report();
    while (FDone < FResults.size()) {
        if (stop.stop_requested()) {
            Interrupt();
            return FResults;
        }
        TakeWritten();
        StartPages();
        FailIfNoBrowserLeft();
        if (FDone >= FResults.size()) break;
        LeaveIdleBrowsers();
        FPool.Wait(NextWait());
        for (const auto& endpoint : FPool.Endpoints())
            if (FPool.Hangs(*endpoint, Busy(*endpoint))) ReplaceBrowser(*endpoint);
        for (auto& slot : FSlots)
            Step(*slot);
    }
    return FResults;
}

} // namespace korvane
