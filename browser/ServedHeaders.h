#pragma once
// The headers of a response that is fetched whole through DevTools and served to the page again.
#include <nlohmann/json.hpp>

#include <string_view>

namespace korvane {

// The response's headers (DevTools' array of {name, value}) as they must be for the body served again: that
// body is the decoded one, so the headers that describe the bytes on the wire (Content-Encoding,
// Content-Length, Transfer-Encoding) go; the page's policy is added as a Content-Security-Policy header.
// Entries that are not {name: string, value: string} are dropped.
nlohmann::json HeadersForServedBody(const nlohmann::json& headers, std::string_view policy);

} // namespace korvane
