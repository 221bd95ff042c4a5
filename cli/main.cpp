// korvane-capture: whole web pages as image files, from the command line.
#include "browser/ChromiumBrowser.h"
#include "cli/BatchRunner.h"
#include "cli/Options.h"

#include <cstdio>
#include <iostream>
#include <set>
#include <unistd.h>

using namespace korvane;

namespace {

void PrintProgress(const TBatchProgress& p) {
    std::fprintf(stderr, "\r\033[K[%zu/%zu] %.1f s  %s", p.Done, p.Total, p.Elapsed, p.Current.c_str());
    std::fflush(stderr);
}

} // namespace

int main(int argc, char** argv) {
    TCliOptions options;
    try {
        options = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const EUsageError& e) {
        std::cerr << "korvane-capture: " << e.what() << "\nTry 'korvane-capture --help'.\n";
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
        std::cerr << "korvane-capture: skipping " << options.Urls.size() - unique.size()
                  << " repeated URLs\n";
    options.Urls = std::move(unique);

    const bool progress = !options.Quiet && ::isatty(STDERR_FILENO);
    TBatchRunner runner(options, TChromiumBrowser::Shared());
    if (progress) runner.OnProgress = PrintProgress;
    runner.OnResult = [&](const TPageResult& r) {
        if (progress) std::fprintf(stderr, "\r\033[K");
        for (const auto& warning : r.Warnings)
            std::cerr << "korvane-capture: warning: " << r.Argument << ": " << warning << "\n";
        if (r.Captured)
            std::cout << r.Path << std::endl;
        else
            std::cerr << "korvane-capture: " << r.Argument << ": " << r.Reason << "\n";
    };
    const auto started = std::chrono::steady_clock::now();
    std::vector<TPageResult> results;
    try {
        results = runner.Run();
    } catch (const std::exception& e) {
        std::cerr << "korvane-capture: " << e.what() << "\n";
        return 1;
    }
    std::size_t captured = 0;
    for (const auto& r : results)
        captured += r.Captured;
    if (progress) std::fprintf(stderr, "\r\033[K");
    if (!options.Quiet)
        std::fprintf(stderr, "captured %zu, failed %zu, %.1f s\n", captured, results.size() - captured,
                     std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    return captured == results.size() ? 0 : 1;
}
