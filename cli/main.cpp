// korvane-capture: whole web pages as image files, from the command line.
#include "browser/ChromiumBrowser.h"
#include "cli/BatchRunner.h"
#include "cli/Options.h"
#include "platform/Signals.h"
#include "platform/Translate.h"

#include <cstdio>
#include <iostream>
#include <poll.h>
#include <set>
#include <stop_token>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

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

std::string OneDecimal(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

void PrintProgress(const TBatchProgress& p) {
    std::fprintf(stderr, "\r\033[K[%zu/%zu] %.1f s  %s", p.Done, p.Total, p.Elapsed, p.Current.c_str());
    std::fflush(stderr);
}

} // namespace

int main(int argc, char** argv) {
    SetUpTranslations();
    TCliOptions options;
    try {
        options = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const EUsageError& e) {
        std::cerr << "korvane-capture: " << e.what() << "\n" << Tr("Try 'korvane-capture --help'.") << "\n";
        return 2;
    }
    if (options.Help) {
        std::cout << UsageText();
        return 0;
    }
    if (options.Version) {
        std::cout << "korvane-capture 0.1.1\n";
        return 0;
    }

    // The same page twice would only write the same file twice.
    std::set<std::string> seen;
    std::vector<std::string> unique;
    for (auto& url : options.Urls)
        if (seen.insert(url).second) unique.push_back(url);
    if (unique.size() < options.Urls.size())
        std::cerr << "korvane-capture: "
                  << FormatText(Tr("skipping %1 repeated URLs"),
                                {std::to_string(options.Urls.size() - unique.size())})
                  << "\n";
    options.Urls = std::move(unique);

    const bool progress = !options.Quiet && ::isatty(STDERR_FILENO);
    TBatchRunner runner(options, TChromiumBrowser::Shared());
    if (progress) runner.OnProgress = PrintProgress;
    runner.OnResult = [&](const TPageResult& r) {
        if (progress) std::fprintf(stderr, "\r\033[K");
        for (const auto& warning : r.Warnings)
            std::cerr << "korvane-capture: " << Tr("warning: ") << r.Argument << ": " << warning << "\n";
        if (r.Captured)
            std::cout << r.Path << std::endl;
        else
            std::cerr << "korvane-capture: " << r.Argument << ": " << r.Reason << "\n";
    };
    const auto started = std::chrono::steady_clock::now();
    std::vector<TPageResult> results;
    {
        TSignalStop signals;
        try {
            results = runner.Run(signals.Token());
        } catch (const std::exception& e) {
            std::cerr << "korvane-capture: " << e.what() << "\n";
            return 1;
        }
    }
    std::size_t captured = 0, interrupted = 0;
    for (const auto& r : results) {
        captured += r.Captured;
        interrupted += r.Interrupted;
    }
    if (progress) std::fprintf(stderr, "\r\033[K");
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (runner.Interrupted()) {
        std::cerr << "korvane-capture: "
                  << FormatText(Tr("interrupted: captured %1, failed %2, not done %3, %4 s"),
                                {std::to_string(captured),
                                 std::to_string(results.size() - captured - interrupted),
                                 std::to_string(interrupted), OneDecimal(seconds)})
                  << std::endl;
        RaiseDefault(TerminationSignal());
        return 1;
    }
    if (!options.Quiet)
        std::cerr << FormatText(Tr("captured %1, failed %2, %3 s"),
                                {std::to_string(captured), std::to_string(results.size() - captured),
                                 OneDecimal(seconds)})
                  << std::endl;
    return captured == results.size() ? 0 : 1;
}
