#include "cli/CookiesFile.h"

#include "cli/Options.h"
#include "platform/Files.h"
#include "platform/Text.h"
#include "platform/Translate.h"

#include <charconv>

namespace korvane {

namespace {

constexpr std::size_t kMaxCookiesFile = 64u << 20;
// More than a browser keeps (Chromium holds about 3,300): a larger file is no browser's.
constexpr std::size_t kMaxCookies = 10000;

std::vector<std::string_view> SplitTabs(std::string_view line) {
    std::vector<std::string_view> fields;
    for (;;) {
        const auto tab = line.find('\t');
        fields.push_back(line.substr(0, tab));
        if (tab == std::string_view::npos) return fields;
        line.remove_prefix(tab + 1);
    }
}

std::optional<bool> Flag(std::string_view text) {
    if (EqualsIgnoringAsciiCase(text, "TRUE")) return true;
    if (EqualsIgnoringAsciiCase(text, "FALSE")) return false;
    return std::nullopt;
}

bool IsDomain(std::string_view domain) {
    if (domain.empty()) return false;
    for (const char c : domain)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_' || c == ':' ||
              c == '[' || c == ']'))
            return false;
    return true;
}

} // namespace

bool IsCookieName(std::string_view name) {
    if (name.empty()) return false;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u == 0x7F ||
            std::string_view("()<>@,;:\\\"/[]?={}").find(c) != std::string_view::npos)
            return false;
    }
    return true;
}

bool IsCookieValue(std::string_view value) {
    for (const char c : value) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F || c == ';') return false;
    }
    return true;
}

std::vector<TCookie> ParseCookiesText(std::string_view text, const std::string& path) {
    std::vector<TCookie> cookies;
    int number = 0;
    while (!text.empty()) {
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++number;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        TCookie cookie;
        constexpr std::string_view kHttpOnly = "#HttpOnly_";
        if (line.substr(0, kHttpOnly.size()) == kHttpOnly) {
            cookie.HttpOnly = true;
            line.remove_prefix(kHttpOnly.size());
        } else if (TrimText(line).empty() || line.front() == '#') {
            continue;
        }
        const auto bad = [&](const std::string& why) {
            return EUsageError(
                FormatText(Tr("cookies file '%1', line %2: %3"), {path, std::to_string(number), why}));
        };
        const std::vector<std::string_view> f = SplitTabs(line);
        if (f.size() != 7)
            throw bad(Tr("expected 7 fields separated by tabs (domain, subdomains, path, secure, expiry, "
                         "name, value)"));
        std::string_view domain = f[0];
        const bool dotted = !domain.empty() && domain.front() == '.';
        if (dotted) domain.remove_prefix(1);
        if (!IsDomain(domain)) throw bad(FormatText(Tr("'%1' is no domain"), {f[0]}));
        const auto subdomains = Flag(f[1]), secure = Flag(f[3]);
        if (!subdomains) throw bad(FormatText(Tr("'%1' is neither TRUE nor FALSE"), {f[1]}));
        if (!secure) throw bad(FormatText(Tr("'%1' is neither TRUE nor FALSE"), {f[3]}));
        if (f[2].empty() || f[2].front() != '/')
            throw bad(FormatText(Tr("the path '%1' does not start with /"), {f[2]}));
        std::int64_t expires = 0;
        const auto [stop, ec] = std::from_chars(f[4].data(), f[4].data() + f[4].size(), expires);
        if (f[4].empty() || ec != std::errc() || stop != f[4].data() + f[4].size() || expires < 0)
            throw bad(FormatText(Tr("the expiry '%1' is no number of seconds"), {f[4]}));
        if (!IsCookieName(f[5])) throw bad(FormatText(Tr("'%1' is no cookie name"), {f[5]}));
        if (!IsCookieValue(f[6])) throw bad(Tr("the value holds a control character or ';'"));
        cookie.Domain = AsciiLower(std::string(domain));
        cookie.HostOnly = !*subdomains && !dotted;
        cookie.Path = f[2];
        cookie.Secure = *secure;
        cookie.Expires = static_cast<double>(expires);
        cookie.Name = f[5];
        cookie.Value = f[6];
        if (cookies.size() == kMaxCookies)
            throw EUsageError(FormatText(Tr("cookies file '%1' holds more than %2 cookies"),
                                         {path, std::to_string(kMaxCookies)}));
        cookies.push_back(std::move(cookie));
    }
    return cookies;
}

std::vector<TCookie> ReadCookiesFile(const std::string& path) {
    return ParseCookiesText(ReadOptionFile("--cookies", path, kMaxCookiesFile), path);
}

} // namespace korvane
