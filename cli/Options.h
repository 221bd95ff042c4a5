#pragma once
// The command line of korvane-capture.
#include "browser/DownloadControl.h"
#include "browser/PageOptions.h"
#include "capture/CaptureSize.h"
#include "capture/OutputPath.h"
#include "capture/SecuritySwitches.h"
#include "platform/Errors.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace korvane {

struct TCliOptions {
    std::vector<std::string> Urls; // from the command line, then from --input, in order
    std::string InputFile;
    TSideChoice Width = TSideChoice::Fixed(1024);
    // Several widths (--width 375,768,1280): every page is captured at each, Width being the first; empty
    // when the run has one width.
    std::vector<int> Widths;
    TSideChoice Height = TSideChoice::Auto();
    int Delay = 1;
    std::optional<TSaveFormat> Format; // unset: by the output file's extension, else png
    int Quality = 0;                   // jpg and webp, 1 to 100; 0: jpg 90, webp lossless
    bool OmitBackground = false;       // png and webp: what the page leaves unpainted is transparent
    std::string OutputDir;             // empty: the current folder
    std::string OutputFile;            // -o, for a single URL
    TSecuritySwitches Security;
    bool HideScrollbars = false;
    bool Cache = false; // keep the browser cache on even while images load
    bool View = false;
    std::string SettingsFile;
    int Jobs = 0;                 // default: the number of cores, at most 8
    std::int64_t MemoryBytes = 0; // pictures in memory stay below this (a page waits for room)
    int TimeoutSeconds = 60;
    double Scale = 1.0;
    bool WaitIdle = false;
    bool Lazy = false;
    bool Expand = true;   // an app-like page's main scrolling element is drawn whole (--no-expand: not)
    bool Deferred = true; // what pages defer until seen is brought in before the picture (--no-lazy: not)
    bool Strict = false;  // a page that has not loaded completely in its time fails
    // What is done to every page once it has loaded (and settled): wait for an element, add the style sheets
    // (hidden elements, removed ones, consent dialogs, the given sheets), run the scripts in order.
    std::string WaitFor;
    std::vector<std::string> Hide, Remove;
    bool HideConsent = false;
    std::vector<std::string> Styles;  // style sheet texts
    std::vector<std::string> Scripts; // script texts
    std::string Selector;             // the image is just this element
    int Padding = 0;
    int ViewHeight = 768; // the view's height while a page loads and is measured
    TPageOptions Page;    // headers, user agent, cookies, credentials, media
    // This process's share of the list: the i-th distinct URL (from 0) belongs to shard i mod Count.
    int ShardIndex = 0, ShardCount = 1;
    std::string ManifestFile; // a line of JSON a page, appended as each ends
    bool Resume = false;      // skip the pages the manifest says are captured and whose files are there
    std::string ReportFile;   // a page of the run's images, written after the run
    // Browsers that run already (DevTools addresses), used instead of one of our own.
    std::vector<std::string> Browsers;
    int LocalBrowsers = 1; // browsers of our own the page slots are spread over (--browsers)
    bool Quiet = false;
    bool Help = false;
    bool Version = false;

    // The format of a capture: --format, else the -o file's extension, else png.
    TSaveFormat EffectiveFormat() const;
    // What every page may load and how it is shown.
    TEngineSettings EngineSettings() const;
    // The widths each page is captured at, as TPageResult::ViewWidth: {0} when the run has one width.
    std::vector<int> ViewWidths() const;
};

// The width of --mobile when no width is given: a phone's.
inline constexpr int kMobileWidth = 390;

// Pages at once when --jobs is not given: one a core, at most 8 (and 1 when the count is unknown, 0).
int DefaultJobs(unsigned cores);
// A quarter of the machine's physical memory.
std::int64_t DefaultMemoryBudget();

// A command line that cannot be followed; the text says what is wrong.
class EUsageError : public Error {
public:
    using Error::Error;
};

// Parses the arguments (without the program name). A --settings file is read first, so that the options
// given on the command line win over it. Throws EUsageError.
TCliOptions ParseCommandLine(const std::vector<std::string>& args);

// Reads a list of addresses: one a line, "#" starts a comment line, blank lines are skipped. Throws
// EUsageError for a file that cannot be read or is not text.
std::vector<std::string> ReadUrlList(const std::string& path);

// The text of a file an option names; throws EUsageError naming the option when it cannot be read or is not
// text.
std::string ReadOptionFile(const std::string& option, const std::string& path, std::size_t limit);

const char* UsageText();

} // namespace korvane
