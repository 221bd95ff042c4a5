#pragma once
// The report of a run: one static HTML page (no server, no network) with a thumbnail of every captured page
// linking to its image, each page's URL, size, outcome and error; failed pages first; filtered and sorted
// by a few lines of script. The thumbnails lie in a folder beside it.
#include "cli/Manifest.h"

#include <string>
#include <vector>

namespace korvane {

struct TReportPage {
    std::string Url;
    TManifestEntry Entry;
};

// Writes the report and the thumbnails it lacks (a thumbnail newer than its image is kept). Returns the
// warnings for the thumbnails that could not be made (the page is then listed without one). Throws Error
// when the report itself cannot be written.
std::vector<std::string> WriteReport(const std::string& path, std::vector<TReportPage> pages);

// The pages of a run without a manifest, as its results say.
std::vector<TReportPage> ReportPagesOf(const std::vector<TPageResult>& results);

// The thumbnails' folder of a report: "FILE-thumbnails" beside FILE.html.
std::string ThumbnailFolder(const std::string& reportPath);

} // namespace korvane
