#pragma once
// Cookies in the tab-separated "Netscape" cookies.txt format that curl, wget and browsers' export tools
// write: domain, subdomains flag, path, secure flag, expiry, name, value; "#HttpOnly_" before the domain
// marks a cookie that scripts do not see; other lines starting with "#" and blank lines are skipped.
#include "browser/PageOptions.h"

#include <string>
#include <string_view>
#include <vector>

namespace korvane {

// Throws EUsageError naming the file and line of the first line that is not a cookie.
std::vector<TCookie> ParseCookiesText(std::string_view text, const std::string& path);
// Reads and parses the file; throws EUsageError also when it cannot be read.
std::vector<TCookie> ReadCookiesFile(const std::string& path);

// A cookie name and value that can go into a Cookie header as they are: no separators, blanks or control
// characters in the name, no ";" or control characters in the value.
bool IsCookieName(std::string_view name);
bool IsCookieValue(std::string_view value);

} // namespace korvane
