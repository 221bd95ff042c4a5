#include "browser/PageSetup.h"

#include <utility>
#include <vector>

#include "browser/DevToolsSession.h"
#include "browser/EngineError.h"
#include "platform/Text.h"
#include "platform/Translate.h"

namespace korvane {
namespace {

using nlohmann::json;
using TCalls = std::vector<std::pair<const char*, json>>;

json HeaderObject(const std::vector<std::pair<std::string, std::string>>& headers) {
    // A name given twice (in any case) sends both values, as one header.
    json object = json::object();
    std::vector<std::string> names;
    for (const auto& [name, value] : headers) {
        std::string key = name;
        for (const auto& seen : names)
            if (EqualsIgnoringAsciiCase(seen, name)) key = seen;
        if (object.contains(key)) {
            object[key] = object[key].get<std::string>() + ", " + value;
        } else {
            object[key] = value;
            names.push_back(key);
        }
    }
    return object;
}

json MediaFeatures(const TPageOptions& page) {
    return json::array({{{"name", "prefers-color-scheme"}, {"value", page.Dark ? "dark" : ""}},
                        {{"name", "prefers-reduced-motion"}, {"value", page.ReducedMotion ? "reduce" : ""}}});
}

void PageOptionCalls(const TPageOptions& now, const TPageOptions& before, TCalls& calls) {
    if (now.Headers != before.Headers)
        calls.emplace_back("Network.setExtraHTTPHeaders", json{{"headers", HeaderObject(now.Headers)}});
    if (now.Dark != before.Dark || now.ReducedMotion != before.ReducedMotion)
        calls.emplace_back("Emulation.setEmulatedMedia", json{{"features", MediaFeatures(now)}});
    // Touch points make the page's pointer coarse and its hover none.
    if (now.Mobile != before.Mobile)
        calls.emplace_back("Emulation.setTouchEmulationEnabled",
                           json{{"enabled", now.Mobile}, {"maxTouchPoints", now.Mobile ? 5 : 1}});
    // Without a colour the page's default (white) background comes back.
    if (now.Transparent != before.Transparent)
        calls.emplace_back("Emulation.setDefaultBackgroundColorOverride",
                           now.Transparent ? json{{"color", {{"r", 0}, {"g", 0}, {"b", 0}, {"a", 0}}}}
                                           : json::object());
}

bool IsWebAddress(const std::string& url) {
    return StartsWithIgnoringAsciiCase(url, "http://") || StartsWithIgnoringAsciiCase(url, "https://");
}

} // namespace

// DLCTL_SILENT: downloads are denied for the whole browser and a headless browser refuses permission prompts
// by itself; JavaScript dialogs are answered at once whether or not the bit is set.
void TPageSetup::Apply(TDevToolsSession& session, const TEngineSettings& s, const TPageOptions& page,
                       const std::string& browserAgent) {
    const bool all = !FApplied;
    const TEngineSettings old = FApplied.value_or(TEngineSettings{});
    auto changed = [&](auto member) { return all ? s.*member : old.*member != s.*member; };
    TCalls calls;
    const json fetch = TRequestInterceptor::FetchParams(s, page);
    if (fetch !=
        (all ? json(nullptr) : TRequestInterceptor::FetchParams(old, FAppliedPage.value_or(TPageOptions{}))))
        calls.emplace_back(fetch.is_null() ? "Fetch.disable" : "Fetch.enable",
                           fetch.is_null() ? json::object() : fetch);
    if (changed(&TEngineSettings::NoScripts))
        calls.emplace_back("Emulation.setScriptExecutionDisabled", json{{"value", s.NoScripts}});
    // A bypassed cache also sends "Pragma: no-cache" and "Cache-Control: no-cache" with every request.
    if (changed(&TEngineSettings::NoCache))
        calls.emplace_back("Network.setCacheDisabled", json{{"cacheDisabled", s.NoCache}});
    if (changed(&TEngineSettings::HideScrollbars))
        calls.emplace_back("Emulation.setScrollbarsHidden", json{{"hidden", s.HideScrollbars}});
    std::string agent = page.UserAgent;
    if (agent.empty() && page.Mobile) agent = MobileUserAgent(browserAgent);
    if (!s.UserAgentToken.empty() && page.UserAgent.empty())
        agent = (agent.empty() ? browserAgent : agent) + " " + s.UserAgentToken;
    if (all ? !agent.empty() : agent != FAgent) {
        json override = {{"userAgent", agent.empty() ? browserAgent : agent}};
        // The client hints say the same as the text.
        if (page.Mobile && page.UserAgent.empty())
            override["userAgentMetadata"] = {{"platform", "Android"},
                                             {"platformVersion", "10"},
                                             {"architecture", ""},
                                             {"model", "K"},
                                             {"mobile", true}};
        calls.emplace_back("Network.setUserAgentOverride", std::move(override));
    }
    FAgent = agent;
    PageOptionCalls(page, FAppliedPage.value_or(TPageOptions{}), calls);
    FAppliedPage = page;
    FInterceptor.Apply(s, page);
    session.Calls(std::move(calls));
    if (changed(&TEngineSettings::Offline)) {
        json conditions = {
            {"offline", s.Offline}, {"latency", 0}, {"downloadThroughput", -1}, {"uploadThroughput", -1}};
        try {
            session.Call("Network.emulateNetworkConditions", conditions);
        } catch (const EEngineError&) {
            session.Call("Network.overrideNetworkState", conditions);
        }
    }
    FApplied = s;
}

void TPageSetup::SetCookiesFor(TDevToolsSession& session, const std::string& url, const TPageOptions& page) {
    json cookies = json::array();
    if (IsWebAddress(url))
        for (const auto& [name, value] : page.HostCookies)
            cookies.push_back({{"name", name}, {"value", value}, {"url", url}});
    for (const TCookie& c : page.Cookies) {
        json cookie = {{"name", c.Name},
                       {"value", c.Value},
                       {"path", c.Path},
                       {"secure", c.Secure},
                       {"httpOnly", c.HttpOnly}};
        // A cookie for the host alone is set through an address of it; one with a domain is for every host
        // under the domain as well.
        if (c.HostOnly)
            cookie["url"] = std::string(c.Secure ? "https://" : "http://") + c.Domain + c.Path;
        else
            cookie["domain"] = "." + c.Domain;
        if (c.Expires > 0) cookie["expires"] = c.Expires;
        cookies.push_back(std::move(cookie));
    }
    if (cookies.empty()) return;
    try {
        session.Call("Network.setCookies", {{"cookies", std::move(cookies)}});
    } catch (const EEngineStopped&) {
        throw;
    } catch (const EEngineError& e) {
        throw EEngineError(FormatText(Tr("The browser did not take the cookies: %1"), {e.what()}));
    }
}

} // namespace korvane
