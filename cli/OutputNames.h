#pragma once
// The files a run writes its pictures to: the -o file for a single page, else a name made from the URL in
// the output folder; two addresses of one run that make the same name get numbered files.
#include <map>
#include <string>

namespace korvane {

struct TCliOptions;
struct TPageResult;

// The file of the page at `url` (with its number, when another address of the run took the name first), at
// one of the run's several widths: its name then ends in "-w<width>" (the -o file's too, before its
// extension).
std::string OutputPathFor(const TCliOptions& options, const std::string& url, int number = 1,
                          int viewWidth = 0);

class TOutputNames {
public:
    explicit TOutputNames(const TCliOptions& options) : FOptions(options) {}
    // The file of result.Url: the address that first had a name keeps it, the others get the next free
    // number (and a note saying so).
    std::string Claim(TPageResult& result);

private:
    const TCliOptions& FOptions;
    std::map<std::string, std::string> FClaimed; // file names of this run -> the address that has each
};

} // namespace korvane
