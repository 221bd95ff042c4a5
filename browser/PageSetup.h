#pragma once
// What a page is set up with before a navigation: the engine's settings (blocked requests, scripts, cache,
// scroll bars, offline, the user agent) and the page options (headers, media, cookies), each sent to the page
// only when it differs from what the page has.
#include <optional>
#include <string>

#include "browser/DownloadControl.h"
#include "browser/PageOptions.h"
#include "browser/RequestInterceptor.h"

namespace korvane {

class TDevToolsSession;

class TPageSetup {
public:
    explicit TPageSetup(TRequestInterceptor& interceptor) : FInterceptor(interceptor) {}

    // A new page has the engine's defaults (everything loads, scripts run, the cache is used, online,
    // scroll bars shown): everything that differs is sent to it.
    void NewPage() {
        FApplied.reset();
        FAppliedPage.reset();
        FAgent.clear();
    }
    // Sends what differs from the page's present set-up. `browserAgent` is the browser's own user agent.
    // Throws EEngineError when the page refuses a call.
    void Apply(TDevToolsSession& session, const TEngineSettings& settings, const TPageOptions& page,
               const std::string& browserAgent);
    // Sets the page options' cookies for a load of `url`. Throws EEngineError when the browser refuses them.
    static void SetCookiesFor(TDevToolsSession& session, const std::string& url, const TPageOptions& page);

    // The settings the last navigation was made under.
    const std::optional<TEngineSettings>& Applied() const { return FApplied; }

private:
    TRequestInterceptor& FInterceptor;
    std::optional<TEngineSettings> FApplied;
    std::optional<TPageOptions> FAppliedPage;
    std::string FAgent; // the user agent set on the page; empty: the browser's own
};

} // namespace korvane
