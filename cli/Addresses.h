#pragma once
// What the command line accepts as a page: http:, https: and file: addresses, and paths of local files.
#include <optional>
#include <string>

namespace korvane {

struct TPageAddress {
    std::string Url;   // what the browser loads
    std::string Error; // why the argument names no page; empty when it does
};

// A local path becomes a file: URL of its absolute path; an address of another scheme is refused.
TPageAddress ResolvePageAddress(const std::string& argument);

// A path as a URL's path: every byte but the unreserved ones and the slash percent-encoded.
std::string PercentEncodePath(const std::string& path);

} // namespace korvane
