// A cookies file of any bytes: its cookies, or a usage error naming the line; every cookie taken can go
// into a Cookie header as it is.
#include "cli/CookiesFile.h"
#include "cli/Options.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace korvane;
    try {
        for (const TCookie& cookie :
             ParseCookiesText(std::string_view(reinterpret_cast<const char*>(data), size), "cookies.txt"))
            if (!IsCookieName(cookie.Name) || !IsCookieValue(cookie.Value) || cookie.Domain.empty())
                std::abort();
    } catch (const EUsageError&) {
    }
    return 0;
}
