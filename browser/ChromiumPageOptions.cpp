// The parts of the Chromium engine that go beyond the host's download-control word: request headers, user
// agent, cookies, credentials, emulated media, scripts run in the page and elements looked up in it.
#include "browser/ChromiumEngine.h"

#include <algorithm>

#include "browser/EngineError.h"
#include "browser/JsonFields.h"
#include "platform/Text.h"
#include "platform/Translate.h"

namespace korvane {

using nlohmann::json;

namespace {

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

// The text of what a script threw: the first line of an error's description ("Error: message"), else the
// thrown value, else the browser's summary.
std::string ExceptionText(const json& details) {
    const json& exception = Obj(details, "exception");
    std::string text = Str(exception, "description");
    if (text.empty()) {
        auto value = exception.find("value");
        if (value != exception.end() && !value->is_null())
            text = value->is_string() ? value->get<std::string>() : value->dump();
    }
    if (text.empty()) text = Str(details, "text");
    return text.substr(0, text.find('\n'));
}

TScriptResult ScriptResultOf(const TDevToolsMessage& reply) {
    TScriptResult result;
    if (reply.Error) {
        result.Error = *reply.Error;
    } else if (reply.Params.contains("exceptionDetails")) {
        result.Error = ExceptionText(Obj(reply.Params, "exceptionDetails"));
        if (result.Error.empty()) result.Error = Tr("the script failed");
    } else {
        result.Ok = true;
        const json& value = Obj(reply.Params, "result");
        if (auto it = value.find("value"); it != value.end()) result.Value = *it;
    }
    return result;
}

bool IsWebAddress(const std::string& url) {
    return StartsWithIgnoringAsciiCase(url, "http://") || StartsWithIgnoringAsciiCase(url, "https://");
}

} // namespace

void TChromiumEngine::ApplyPageOptions(std::vector<std::pair<const char*, json>>& calls) {
    const TPageOptions& now = FPageOptions;
    const TPageOptions before = FAppliedPage.value_or(TPageOptions{});
    if (now.Headers != before.Headers)
        calls.emplace_back("Network.setExtraHTTPHeaders", json{{"headers", HeaderObject(now.Headers)}});
    if (now.Dark != before.Dark || now.ReducedMotion != before.ReducedMotion)
        calls.emplace_back("Emulation.setEmulatedMedia", json{{"features", MediaFeatures(now)}});
    FAppliedPage = now;
}

void TChromiumEngine::SetCookiesFor(const std::string& url) {
    json cookies = json::array();
    if (IsWebAddress(url))
        for (const auto& [name, value] : FPageOptions.HostCookies)
            cookies.push_back({{"name", name}, {"value", value}, {"url", url}});
    for (const TCookie& c : FPageOptions.Cookies) {
        json cookie = {{"name", c.Name},
                       {"value", c.Value},
                       {"path", c.Path},
                       {"secure", c.Secure},
                       {"httpOnly", c.HttpOnly}};
        // A cookie for the host alone is set through an address of it; one with a domain is for every
        // host under the domain as well.
        if (c.HostOnly)
            cookie["url"] = std::string(c.Secure ? "https://" : "http://") + c.Domain + c.Path;
        else
            cookie["domain"] = "." + c.Domain;
        if (c.Expires > 0) cookie["expires"] = c.Expires;
        cookies.push_back(std::move(cookie));
    }
    if (cookies.empty()) return;
    try {
        PageCall("Network.setCookies", {{"cookies", std::move(cookies)}});
    } catch (const EEngineStopped&) {
        throw;
    } catch (const EEngineError& e) {
        throw EEngineError(FormatText(Tr("The browser did not take the cookies: %1"), {e.what()}));
    }
}

void TChromiumEngine::OnAuthRequired(const json& p) {
    const std::string id = Str(p, "requestId");
    if (id.empty()) return;
    const json& challenge = Obj(p, "authChallenge");
    // The page's own server gets the credentials once for each request: asking again means it did not take
    // them. Proxies and every other server get none.
    const bool give = FPageOptions.Credentials && !FAuthOrigin.empty() &&
                      Str(challenge, "source") != "Proxy" &&
                      OriginOf(Str(challenge, "origin")) == FAuthOrigin && FAuthAnswered.insert(id).second;
    json response = {{"response", give ? "ProvideCredentials" : "CancelAuth"}};
    if (give) {
        response["username"] = FPageOptions.Credentials->User;
        response["password"] = FPageOptions.Credentials->Password;
    }
    FBrowser->Send("Fetch.continueWithAuth", {{"requestId", id}, {"authChallengeResponse", response}},
                   FSessionId);
}

void TChromiumEngine::Evaluate(const std::string& script, bool awaitPromise,
                               std::function<void(TScriptResult)> done) {
    RequireDocument();
    std::weak_ptr<bool> alive = FAlive;
    FBrowser->Send("Runtime.evaluate",
                   {{"expression", script}, {"returnByValue", true}, {"awaitPromise", awaitPromise}},
                   FSessionId, [alive, done = std::move(done)](TDevToolsMessage& reply) {
                       if (auto a = alive.lock(); a && *a) done(ScriptResultOf(reply));
                   });
}

TScriptResult TChromiumEngine::EvaluateNow(const std::string& script) {
    RequireDocument();
    TDevToolsMessage reply;
    try {
        reply = PageCall("Runtime.evaluate", {{"expression", script}, {"returnByValue", true}});
    } catch (const EEngineError&) {
        // A script that never yields keeps the page from answering: end it so the page can be used again.
        EndScript();
        throw;
    }
    return ScriptResultOf(reply);
}

std::vector<std::string> TChromiumEngine::InvalidSelectors(const std::vector<std::string>& selectors) {
    if (selectors.empty()) return {};
    EnsurePage();
    // Parsed against a fragment of whatever page there is: nothing of it is matched.
    const TDevToolsMessage reply = PageCall(
        "Runtime.evaluate",
        {{"expression", "(function(l){var f=document.createDocumentFragment();return l.filter(function(s){"
                        "try{f.querySelector(s);return false}catch(e){return true}})})(" +
                            json(selectors).dump() + ")"},
         {"returnByValue", true}});
    const TScriptResult result = ScriptResultOf(reply);
    if (!result.Ok || !result.Value.is_array())
        throw EEngineError(FormatText(Tr("The browser could not check the selectors: %1"), {result.Error}));
    std::vector<std::string> invalid;
    for (const auto& s : result.Value)
        if (s.is_string()) invalid.push_back(s.get<std::string>());
    return invalid;
}

std::optional<TElementBox> TChromiumEngine::ElementBox(const std::string& selector) {
    const TScriptResult result = EvaluateNow(
        "(function(s){var e=document.querySelector(s);if(!e)return null;var r=e.getBoundingClientRect();"
        "return [r.left+scrollX,r.top+scrollY,r.width,r.height]})(" +
        json(selector).dump() + ")");
    const auto failed = [&](const std::string& why) {
        return EEngineError(FormatText(Tr("Looking up %1 failed: %2"), {selector, why}));
    };
    if (!result.Ok) throw failed(result.Error);
    if (result.Value.is_null()) return std::nullopt;
    if (!result.Value.is_array() || result.Value.size() != 4 ||
        !std::all_of(result.Value.begin(), result.Value.end(), [](const auto& v) { return v.is_number(); }))
        throw failed(Tr("no box"));
    return TElementBox{result.Value[0].get<double>(), result.Value[1].get<double>(),
                       result.Value[2].get<double>(), result.Value[3].get<double>()};
}

} // namespace korvane
