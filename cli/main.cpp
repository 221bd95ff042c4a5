// korvane-capture: whole web pages as image files, from the command line.
#include "browser/ChromiumBrowser.h"
#include "capture/OutputPath.h"
#include "cli/BatchRunner.h"
#include "cli/Console.h"
#include "cli/Manifest.h"
#include "cli/Options.h"
#include "cli/Report.h"
#include "cli/RunBrowser.h"
#include "cli/SignalStop.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Signals.h"
#include "platform/Translate.h"
#include "platform/Version.h"

#include <algorithm>
#include <csignal>
#include <iostream>
#include <memory>
#include <optional>
#include <set>
#include <unistd.h>
#include <utility>

using namespace korvane;

namespace {

// Exit statuses.
constexpr int kAllCaptured = 0, kSomeFailed = 1, kUsage = 2;

// The same page twice would only write the same file twice; of the rest, this process's share: the same
// for the same list on every machine.
void KeepOwnShare(TCliOptions& options, TConsole& console) {
    std::set<std::string> seen;
    std::vector<std::string> share;
    std::size_t distinct = 0;
    for (auto& url : options.Urls) {
        if (!seen.insert(url).second) continue;
        if (options.ShardCount <= 1 ||
            distinct % options.ShardCount == static_cast<std::size_t>(options.ShardIndex))
            share.push_back(url);
        ++distinct;
    }
    if (distinct < options.Urls.size())
        console.Err(
            FormatText(Tr("skipping %1 repeated URLs"), {std::to_string(options.Urls.size() - distinct)}));
    options.Urls = std::move(share);
}

// The manifest of the run, and the pages it says an earlier run captured taken off the list (each noted in
// it as skipped). An exit status when the run cannot go on.
struct TManifestStart {
    std::unique_ptr<TManifestWriter> Writer;
    std::size_t Skipped = 0;
    std::optional<int> Exit;
};
TManifestStart OpenManifest(TCliOptions& options, TConsole& console) {
    TManifestStart start;
    if (options.ManifestFile.empty()) return start;
    TManifestContents earlier;
    try {
        if (options.Resume) earlier = ReadManifest(options.ManifestFile);
        const std::string shard = options.ShardCount > 1 ? std::to_string(options.ShardIndex) + "/" +
                                                               std::to_string(options.ShardCount)
                                                         : std::string();
        if (auto warning = ForeignLinkWarning(options.ManifestFile); !warning.empty())
            console.Err(Tr("warning: ") + warning);
        start.Writer = std::make_unique<TManifestWriter>(options.ManifestFile, shard);
    } catch (const std::exception& e) {
        console.Err(MessageWithCause(e));
        start.Exit = kUsage;
        return start;
    }
    for (const auto& warning : earlier.Warnings)
        console.Err(Tr("warning: ") + warning);
    // An address is skipped when it was captured at every width of the run; otherwise it is captured again
    // at each.
    std::vector<std::string> left;
    for (auto& url : options.Urls) {
        const std::vector<int> widths = options.ViewWidths();
        if (!std::all_of(widths.begin(), widths.end(),
                         [&](int width) { return AlreadyCaptured(earlier, url, width); })) {
            left.push_back(std::move(url));
            continue;
        }
        start.Skipped += widths.size();
        try {
            for (const int width : widths)
                start.Writer->AppendSkipped(earlier.Pages.at(ManifestKey(url, width)));
        } catch (const std::exception& e) {
            console.Err(FormatText(Tr("cannot write the manifest: %1"), {MessageWithCause(e)}));
            start.Exit = kSomeFailed;
            return start;
        }
    }
    options.Urls = std::move(left);
    if (start.Skipped > 0 && !options.Quiet)
        console.Err(FormatText(Tr("note: skipping %1 pages the manifest says are captured"),
                               {std::to_string(start.Skipped)}));
    return start;
}

// The report of the run: of every page of the manifest when there is one (a resumed run's pages too), else
// of this run's pages. False when it could not be written.
bool WriteRunReport(const TCliOptions& options, const std::vector<TPageResult>& results, TConsole& console) {
    if (options.ReportFile.empty()) return true;
    try {
        std::vector<TReportPage> pages;
        if (!options.ManifestFile.empty()) {
            for (auto& [url, entry] : ReadManifest(options.ManifestFile).Pages)
                pages.push_back({url, entry});
        } else {
            pages = ReportPagesOf(results);
        }
        for (const auto& warning : WriteReport(options.ReportFile, std::move(pages)))
            console.Err(Tr("warning: ") + warning);
    } catch (const std::exception& e) {
        console.Err(FormatText(Tr("cannot write the report: %1"), {MessageWithCause(e)}));
        return false;
    }
    if (!options.Quiet) console.Err(FormatText(Tr("note: the report is %1"), {options.ReportFile}));
    return true;
}

// Browsers that run already are reached before any page begins (the run needs one that answers); without
// --browser, the program's own.
std::vector<std::shared_ptr<IRunBrowser>> Browsers(const TCliOptions& options, TConsole& console) {
    std::vector<std::shared_ptr<IRunBrowser>> browsers;
    for (const auto& address : options.Browsers) {
        TChromiumBrowser::TOptions browserOptions;
        browserOptions.Endpoint = address;
        browserOptions.StartTimeout =
            std::min(browserOptions.StartTimeout, std::chrono::milliseconds(options.TimeoutSeconds * 1000));
        auto browser = std::make_shared<TChromiumBrowser>(browserOptions);
        try {
            browser->Start();
            browsers.push_back(std::make_shared<TChromiumRunBrowser>(std::move(browser)));
        } catch (const std::exception& e) {
            console.Err(FormatText(Tr("warning: --browser %1: %2"), {address, MessageWithCause(e)}));
        }
    }
    // Ours: as many as asked for, each started with the proxy (a browser elsewhere takes it for each page).
    TChromiumBrowser::TOptions own;
    if (!options.Page.Proxy.Server.empty()) {
        own.ExtraArguments.push_back("--proxy-server=" + options.Page.Proxy.Server);
        if (!options.Page.Proxy.Bypass.empty())
            own.ExtraArguments.push_back("--proxy-bypass-list=" + options.Page.Proxy.Bypass);
    }
    for (int i = 0; options.Browsers.empty() && i < options.LocalBrowsers; ++i)
        browsers.push_back(std::make_shared<TChromiumRunBrowser>(std::make_shared<TChromiumBrowser>(own)));
    return browsers;
}

// A selector the browser cannot parse would fail every page: the run does not begin. An exit status then.
std::optional<int> CheckSelectors(TBatchRunner& runner, TConsole& console) {
    try {
        const auto invalid = runner.InvalidSelectors();
        for (const auto& [option, selector] : invalid)
            console.Err(FormatText(Tr("invalid CSS selector for %1: %2"), {option, selector}));
        if (invalid.empty()) return std::nullopt;
        console.Summary(Tr("Try 'korvane-capture --help'."));
        return kUsage;
    } catch (const std::exception& e) {
        console.Err(e.what());
        return kSomeFailed;
    }
}

// Each page's line as it ends: its file on standard output, or why it failed; its notes and warnings; its
// manifest line. False once the manifest could not be written.
class TResultLines {
public:
    TResultLines(const TCliOptions& options, TConsole& console, TManifestWriter* manifest)
        : FConsole(console), FManifest(manifest) {
        FFormat = ExtensionOf(options.EffectiveFormat()) + 1;
    }
    void operator()(const TPageResult& r) {
        if (FManifest && FManifestOk) {
            try {
                FManifest->Append(r, r.Captured ? "captured" : "failed", FFormat);
            } catch (const std::exception& e) {
                FManifestOk = false;
                FConsole.Err(FormatText(Tr("cannot write the manifest: %1"), {MessageWithCause(e)}));
            }
        }
        for (const auto& note : r.Notes)
            FConsole.Err(Tr("note: ") + note);
        for (const auto& warning : r.Warnings)
            FConsole.Err(Tr("warning: ") + r.Argument + ": " + warning);
        if (r.Captured)
            FConsole.Out(r.Path);
        else
            FConsole.Err(r.Argument + ": " + r.Reason);
    }
    bool ManifestOk() const { return FManifestOk; }

private:
    TConsole& FConsole;
    TManifestWriter* FManifest;
    std::string FFormat;
    bool FManifestOk = true;
};

// The run's last line, and the exit status; an interrupted run ends as its signal says.
int Summarise(const TCliOptions& options, const TBatchRunner& runner, const std::vector<TPageResult>& results,
              std::size_t skipped, double seconds, bool written, TConsole& console) {
    std::size_t captured = 0, interrupted = 0;
    for (const auto& r : results) {
        captured += r.Captured;
        interrupted += r.Interrupted;
    }
    if (runner.Interrupted()) {
        console.Err(
            FormatText(Tr("interrupted: captured %1, failed %2, not done %3, %4 s"),
                       {std::to_string(captured), std::to_string(results.size() - captured - interrupted),
                        std::to_string(interrupted), OneDecimal(seconds)}));
        RaiseDefault(TerminationSignal());
        return kSomeFailed;
    }
    const std::string failed = std::to_string(results.size() - captured);
    if (!options.Quiet && skipped > 0)
        console.Summary(
            FormatText(Tr("captured %1, failed %2, skipped %3, %4 s"),
                       {std::to_string(captured), failed, std::to_string(skipped), OneDecimal(seconds)}));
    else if (!options.Quiet)
        console.Summary(FormatText(Tr("captured %1, failed %2, %3 s"),
                                   {std::to_string(captured), failed, OneDecimal(seconds)}));
    return captured == results.size() && written ? kAllCaptured : kSomeFailed;
}

// Captures the pages left on the list.
int Capture(const TCliOptions& options, TManifestStart& manifest, TConsole& console) {
    const auto browsers = Browsers(options, console);
    if (browsers.empty()) {
        console.Summary(Tr("no browser of --browser answers: nothing was captured"));
        return kUsage;
    }
    // Whatever the runner cannot make of the options is said, not thrown past main.
    std::optional<TBatchRunner> made;
    try {
        made.emplace(options, browsers);
    } catch (const std::exception& e) {
        console.Summary(MessageWithCause(e));
        return kUsage;
    }
    TBatchRunner& runner = *made;
    if (const auto status = CheckSelectors(runner, console)) return *status;
    if (!options.Quiet && ::isatty(STDERR_FILENO))
        runner.OnProgress = [&](const TBatchProgress& p) { console.Progress(p); };
    TResultLines lines(options, console, manifest.Writer.get());
    runner.OnResult = [&](const TPageResult& r) { lines(r); };
    const auto started = std::chrono::steady_clock::now();
    std::vector<TPageResult> results;
    {
        TSignalStop signals;
        try {
            results = runner.Run(signals.Token());
        } catch (const std::exception& e) {
            console.Err(e.what());
            return kSomeFailed;
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const bool reported = !runner.Interrupted() && WriteRunReport(options, results, console);
    return Summarise(options, runner, results, manifest.Skipped, seconds, lines.ManifestOk() && reported,
                     console);
}

} // namespace

int main(int argc, char** argv) {
    SetUpTranslations();
    // A reader that went away is seen as a failed write (EPIPE), not as the end of the run.
    ::signal(SIGPIPE, SIG_IGN);
    TConsole console;
    TCliOptions options;
    try {
        options = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const EUsageError& e) {
        console.Err(e.what());
        console.Summary(Tr("Try 'korvane-capture --help'."));
        return kUsage;
    }
    if (options.Help) {
        std::cout << UsageText();
        return kAllCaptured;
    }
    if (options.Version) {
        std::cout << "korvane-capture " << kVersion << "\n";
        return kAllCaptured;
    }
    if (::geteuid() == 0 && !options.Quiet && options.Browsers.empty())
        console.Err(Tr("warning: running as root: the browser runs without its sandbox"));
    KeepOwnShare(options, console);
    TManifestStart manifest = OpenManifest(options, console);
    if (manifest.Exit) return *manifest.Exit;
    if (!options.Urls.empty()) return Capture(options, manifest, console);
    const bool reported = WriteRunReport(options, {}, console);
    if (!options.Quiet)
        console.Summary(FormatText(Tr("captured %1, failed %2, skipped %3, %4 s"),
                                   {"0", "0", std::to_string(manifest.Skipped), "0.0"}));
    return reported ? kAllCaptured : kSomeFailed;
}
