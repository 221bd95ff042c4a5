// korvane-capture: whole web pages as image files, from the command line.
#include "browser/ChromiumBrowser.h"
#include "cli/BatchRunner.h"
#include "cli/Manifest.h"
#include "cli/Options.h"
#include "cli/Report.h"
#include "platform/Errors.h"
#include "platform/Signals.h"
#include "platform/Text.h"
#include "platform/Translate.h"
#include "platform/Version.h"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <poll.h>
#include <set>
#include <stop_token>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>
#include <utility>

using namespace korvane;

namespace {

// Turns SIGINT, SIGTERM and SIGHUP into a stop of the run, which then ends on its normal path (no part of
// a file stays, the browser ends); the program then ends as the signal says.
class TSignalStop {
public:
    TSignalStop() : FSignalled(WatchTerminationSignals()), FDone(::eventfd(0, EFD_CLOEXEC)) {
        FThread = std::thread([this] {
            pollfd fds[2] = {{FSignalled, POLLIN, 0}, {FDone, POLLIN, 0}};
            while (::poll(fds, 2, -1) < 0 && errno == EINTR) {
            }
            if (fds[0].revents & POLLIN) FSource.request_stop();
        });
    }
    ~TSignalStop() {
        const std::uint64_t one = 1;
        const ssize_t n = ::write(FDone, &one, sizeof one);
        (void)n;
        FThread.join();
        ::close(FDone);
    }
    std::stop_token Token() const { return FSource.get_token(); }

private:
    int FSignalled, FDone;
    std::stop_source FSource;
    std::thread FThread;
};

// Lines for the terminal or a pipe: control characters escaped (URLs come from anywhere); a stream whose
// reader has gone (EPIPE, `| head -1`) gets no more lines, and the run goes on.
class TConsole {
public:
    void Out(const std::string& line) { Put(std::cout, FOutOpen, EscapeControlCharacters(line) + "\n"); }
    void Err(const std::string& line) {
        Put(std::cerr, FErrOpen,
            ClearProgress() + "korvane-capture: " + EscapeControlCharacters(line) + "\n");
    }
    // The summary line, without the program's name.
    void Summary(const std::string& line) { Put(std::cerr, FErrOpen, ClearProgress() + line + "\n"); }
    void Progress(const TBatchProgress& p) {
        char head[64];
        std::snprintf(head, sizeof head, "[%zu/%zu] %.1f s  ", p.Done, p.Total, p.Elapsed);
        Put(std::cerr, FErrOpen, "\r\033[K" + std::string(head) + EscapeControlCharacters(p.Current));
        FProgressShown = true;
    }

private:
    std::string ClearProgress() { return std::exchange(FProgressShown, false) ? "\r\033[K" : ""; }
    static void Put(std::ostream& stream, bool& open, const std::string& text) {
        if (!open) return;
        stream << text << std::flush;
        if (!stream) open = false;
    }
    bool FOutOpen = true, FErrOpen = true, FProgressShown = false;
};

std::string OneDecimal(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

std::int64_t FileBytes(const std::string& path) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    return error ? -1 : static_cast<std::int64_t>(size);
}

// The report of the run: of every page of the manifest when there is one (a resumed run's pages too), else
// of this run's pages. False when it could not be written.
bool Report(const TCliOptions& options, const std::vector<TPageResult>& results, TConsole& console) {
    if (options.ReportFile.empty()) return true;
    std::vector<TReportPage> pages;
    try {
        if (!options.ManifestFile.empty()) {
            for (auto& [url, entry] : ReadManifest(options.ManifestFile).Pages)
                pages.push_back({url, entry});
        } else {
            for (std::size_t i = 0; i < results.size(); ++i) {
                const TPageResult& r = results[i];
                TManifestEntry entry;
                entry.Outcome = r.Captured ? "captured" : "failed";
                entry.File = r.Captured ? r.Path : std::string();
                entry.Bytes = r.Captured ? FileBytes(r.Path) : -1;
                entry.Width = r.Width;
                entry.Height = r.Height;
                entry.Error = r.Reason;
                entry.HttpStatus = r.HttpStatus;
                entry.Order = static_cast<int>(i + 1);
                pages.push_back({r.Argument, entry});
            }
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
        return 2;
    }
    if (options.Help) {
        std::cout << UsageText();
        return 0;
    }
    if (options.Version) {
        std::cout << "korvane-capture " << kVersion << "\n";
        return 0;
    }
    if (::geteuid() == 0 && !options.Quiet && options.Browsers.empty())
        console.Err(Tr("warning: running as root: the browser runs without its sandbox"));

    // The same page twice would only write the same file twice.
    std::set<std::string> seen;
    std::vector<std::string> unique;
    for (auto& url : options.Urls)
        if (seen.insert(url).second) unique.push_back(url);
    if (unique.size() < options.Urls.size())
        console.Err(FormatText(Tr("skipping %1 repeated URLs"),
                               {std::to_string(options.Urls.size() - unique.size())}));
    options.Urls = std::move(unique);
    // This process's share: the same for the same list on every machine.
    if (options.ShardCount > 1) {
        std::vector<std::string> share;
        for (std::size_t i = 0; i < options.Urls.size(); ++i)
            if (i % options.ShardCount == static_cast<std::size_t>(options.ShardIndex))
                share.push_back(options.Urls[i]);
        options.Urls = std::move(share);
    }

    std::unique_ptr<TManifestWriter> manifest;
    std::size_t skipped = 0;
    if (!options.ManifestFile.empty()) {
        TManifestContents earlier;
        try {
            if (options.Resume) earlier = ReadManifest(options.ManifestFile);
            const std::string shard = options.ShardCount > 1 ? std::to_string(options.ShardIndex) + "/" +
                                                                   std::to_string(options.ShardCount)
                                                             : std::string();
            manifest = std::make_unique<TManifestWriter>(options.ManifestFile, shard);
        } catch (const std::exception& e) {
            console.Err(MessageWithCause(e));
            return 2;
        }
        for (const auto& warning : earlier.Warnings)
            console.Err(Tr("warning: ") + warning);
        std::vector<std::string> left;
        for (auto& url : options.Urls) {
            if (!AlreadyCaptured(earlier, url)) {
                left.push_back(std::move(url));
                continue;
            }
            ++skipped;
            try {
                manifest->AppendSkipped(url, earlier.Pages.at(url));
            } catch (const std::exception& e) {
                console.Err(FormatText(Tr("cannot write the manifest: %1"), {MessageWithCause(e)}));
                return 1;
            }
        }
        options.Urls = std::move(left);
        if (skipped > 0 && !options.Quiet)
            console.Err(FormatText(Tr("note: skipping %1 pages the manifest says are captured"),
                                   {std::to_string(skipped)}));
    }
    if (options.Urls.empty()) {
        const bool reported = Report(options, {}, console);
        if (!options.Quiet)
            console.Summary(FormatText(Tr("captured %1, failed %2, skipped %3, %4 s"),
                                       {"0", "0", std::to_string(skipped), "0.0"}));
        return reported ? 0 : 1;
    }

    // Browsers that run already are reached before any page begins; the run needs one that answers.
    std::vector<std::shared_ptr<TChromiumBrowser>> browsers;
    for (const auto& address : options.Browsers) {
        TChromiumBrowser::TOptions browserOptions;
        browserOptions.Endpoint = address;
        browserOptions.StartTimeout =
            std::min(browserOptions.StartTimeout, std::chrono::milliseconds(options.TimeoutSeconds * 1000));
        auto browser = std::make_shared<TChromiumBrowser>(browserOptions);
        try {
            browser->Start();
            browsers.push_back(std::move(browser));
        } catch (const std::exception& e) {
            console.Err(FormatText(Tr("warning: --browser %1: %2"), {address, MessageWithCause(e)}));
        }
    }
    if (!options.Browsers.empty() && browsers.empty()) {
        console.Summary(Tr("no browser of --browser answers: nothing was captured"));
        return 2;
    }
    if (browsers.empty()) browsers.push_back(TChromiumBrowser::Shared());

    const bool progress = !options.Quiet && ::isatty(STDERR_FILENO);
    TBatchRunner runner(options, browsers);
    // A selector the browser cannot parse would fail every page: the run does not begin.
    try {
        const auto invalid = runner.InvalidSelectors();
        for (const auto& [option, selector] : invalid)
            console.Err(FormatText(Tr("invalid CSS selector for %1: %2"), {option, selector}));
        if (!invalid.empty()) {
            console.Summary(Tr("Try 'korvane-capture --help'."));
            return 2;
        }
    } catch (const std::exception& e) {
        console.Err(e.what());
        return 1;
    }
    if (progress) runner.OnProgress = [&](const TBatchProgress& p) { console.Progress(p); };
    static const char* const kFormatNames[] = {"bmp", "jpg", "png"};
    const std::string formatName = kFormatNames[static_cast<int>(options.EffectiveFormat())];
    bool manifestFailed = false;
    runner.OnResult = [&](const TPageResult& r) {
        if (manifest && !manifestFailed) {
            try {
                manifest->Append(r, r.Captured ? "captured" : "failed", formatName);
            } catch (const std::exception& e) {
                manifestFailed = true;
                console.Err(FormatText(Tr("cannot write the manifest: %1"), {MessageWithCause(e)}));
            }
        }
        for (const auto& note : r.Notes)
            console.Err(Tr("note: ") + note);
        for (const auto& warning : r.Warnings)
            console.Err(Tr("warning: ") + r.Argument + ": " + warning);
        if (r.Captured)
            console.Out(r.Path);
        else
            console.Err(r.Argument + ": " + r.Reason);
    };
    const auto started = std::chrono::steady_clock::now();
    std::vector<TPageResult> results;
    {
        TSignalStop signals;
        try {
            results = runner.Run(signals.Token());
        } catch (const std::exception& e) {
            console.Err(e.what());
            return 1;
        }
    }
    std::size_t captured = 0, interrupted = 0;
    for (const auto& r : results) {
        captured += r.Captured;
        interrupted += r.Interrupted;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (runner.Interrupted()) {
        console.Err(
            FormatText(Tr("interrupted: captured %1, failed %2, not done %3, %4 s"),
                       {std::to_string(captured), std::to_string(results.size() - captured - interrupted),
                        std::to_string(interrupted), OneDecimal(seconds)}));
        RaiseDefault(TerminationSignal());
        return 1;
    }
    const bool reported = Report(options, results, console);
    if (!options.Quiet && skipped > 0)
        console.Summary(FormatText(Tr("captured %1, failed %2, skipped %3, %4 s"),
                                   {std::to_string(captured), std::to_string(results.size() - captured),
                                    std::to_string(skipped), OneDecimal(seconds)}));
    else if (!options.Quiet)
        console.Summary(FormatText(
            Tr("captured %1, failed %2, %3 s"),
            {std::to_string(captured), std::to_string(results.size() - captured), OneDecimal(seconds)}));
    return captured == results.size() && !manifestFailed && reported ? 0 : 1;
}
