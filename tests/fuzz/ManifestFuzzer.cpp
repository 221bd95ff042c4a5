// A manifest of any bytes: every line is a page's line or a warning; no page is without its URL.
#include "cli/Manifest.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace korvane;
    const TManifestContents contents =
        ParseManifest(std::string_view(reinterpret_cast<const char*>(data), size), "run.jsonl");
    for (const auto& [url, page] : contents.Pages)
        if (url.empty() || page.Outcome.empty() || page.Order < 1 || page.Width < 0 || page.Height < 0)
            std::abort();
    return 0;
}
