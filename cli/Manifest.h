#pragma once
// The manifest of a run: a line of JSON for each page as it ends (JSON Lines), appended and handed to the
// system at once, so that a run that is killed keeps the line of every page it finished; and what a later
// run (--resume) reads back from it.
#include "cli/PageResult.h"

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace korvane {

// What a manifest says of a page, by the line it last has.
struct TManifestEntry {
    std::string Url;     // as given
    int ViewWidth = 0;   // TPageResult::ViewWidth
    std::string Outcome; // "captured", "failed" or "skipped"
    std::string File;
    std::int64_t Bytes = -1;
    // What the report shows: the picture's size, why it failed, the page's HTTP status (0: none), and where
    // the URL first came in the manifest (from 1).
    int Width = 0, Height = 0;
    std::string Error;
    int HttpStatus = 0;
    int Order = 0;
};

// What a page is known by in a manifest: its URL as given, and the width when the run had several
// ("https://example.org/ @ 375px").
std::string ManifestKey(const std::string& url, int viewWidth);

struct TManifestContents {
    std::map<std::string, TManifestEntry> Pages; // by ManifestKey (a skipped line keeps the sizes of the
                                                 // line it skipped for)
    std::vector<std::string> Warnings;           // lines that are not a page's, with their numbers
};

// Reads a manifest; a file that is not there is an empty one. Throws Error when it cannot be read.
TManifestContents ReadManifest(const std::string& path);
// The manifest's text as ReadManifest reads it; `path` names the file in the warnings.
TManifestContents ParseManifest(std::string_view text, const std::string& path);
// Whether the page's last line says it was captured (or skipped as captured before), and its file is still
// there with that size.
bool AlreadyCaptured(const TManifestContents& manifest, const std::string& url, int viewWidth = 0);

class TManifestWriter {
public:
    // Opens the file for appending (made when missing). A last line that a killed run left unfinished is
    // ended first, so that it stays what it is and the next line starts on its own. Throws Error.
    TManifestWriter(const std::string& path, std::string shard);
    ~TManifestWriter();
    TManifestWriter(const TManifestWriter&) = delete;
    TManifestWriter& operator=(const TManifestWriter&) = delete;

    // One line for the page; `outcome` as in TManifestEntry. Throws Error when it cannot be written.
    void Append(const TPageResult& result, const std::string& outcome, const std::string& format);
    // A page skipped because an earlier run captured it.
    void AppendSkipped(const TManifestEntry& earlier);

private:
    void Write(const std::string& line);
    int FFd = -1;
    std::string FPath, FShard;
};

} // namespace korvane
