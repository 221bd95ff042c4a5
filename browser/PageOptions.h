#pragma once
// What a page is loaded with beyond the host's download-control word: request headers, a user agent of its
// own, cookies, credentials for the page's server, and emulated media features.
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace korvane {

// A cookie as a cookies file holds it.
struct TCookie {
    std::string Name, Value;
    std::string Domain;   // without a leading dot
    bool HostOnly = true; // for Domain alone, not for its subdomains
    std::string Path = "/";
    bool Secure = false, HttpOnly = false;
    double Expires = 0; // seconds since 1970; 0: until the browser ends
    bool operator==(const TCookie&) const = default;
};

struct TCredentials {
    std::string User, Password;
    bool operator==(const TCredentials&) const = default;
};

// The proxy every request of the pages goes through.
struct TProxy {
    std::string Server; // "scheme://host:port" as the browser takes it, without credentials; empty: none
    std::string Bypass; // hosts that go directly, in the browser's list form ("*.internal,10.0.0.0/8")
    // Answered when the proxy itself asks (never to a page's server), once a request.
    std::optional<TCredentials> Credentials;
    bool operator==(const TProxy&) const = default;
};

// A proxy address: http://, https:// or socks5://, an optional user:password@ (percent-encoded as in any
// address), a host and an optional port. Empty with the reason in `why` when it is none the browser can use.
std::optional<TProxy> ParseProxyAddress(const std::string& text, std::string& why);

struct TPageOptions {
    std::vector<std::pair<std::string, std::string>> Headers;     // sent with every request of the page
    std::string UserAgent;                                        // replaces the browser's own when not empty
    std::vector<std::pair<std::string, std::string>> HostCookies; // name, value: for each page's own host
    std::vector<TCookie> Cookies;
    // Answered when the page's own server (its scheme, host and port) asks, once a request; never to another.
    std::optional<TCredentials> Credentials;
    bool Dark = false;          // prefers-color-scheme: dark
    bool ReducedMotion = false; // prefers-reduced-motion: reduce
    bool Transparent = false;   // the page's own background, where it paints none, is transparent
    // The page sees a phone: its viewport meta tag is honoured, touch events and a coarse pointer, and the
    // user agent of a phone with the same browser (unless UserAgent is given).
    bool Mobile = false;
    // A browser elsewhere takes it for each page's context; ours is started with it.
    TProxy Proxy;
    bool operator==(const TPageOptions&) const = default;
};

// The origin ("scheme://host[:port]", the default port left out) of an http or https address; empty for
// other addresses.
std::string OriginOf(const std::string& url);

// The user agent of an Android phone with the browser of `browserAgent` (its Chrome version); the browser's
// own text when that has no version to take.
std::string MobileUserAgent(const std::string& browserAgent);

} // namespace korvane
