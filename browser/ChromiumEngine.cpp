#include "browser/ChromiumEngine.h"
#include "platform/Translate.h"

#include <atomic>
#include <cctype>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <utility>

#include "browser/Base64.h"
#include "browser/EngineError.h"
#include "browser/JsonFields.h"
#include "browser/ServedHeaders.h"
#include "imaging/Bitmap.h"
#include "imaging/PngReader.h"
#include "imaging/RowGate.h"
#include "platform/Text.h"

namespace korvane {
namespace {

using nlohmann::json;

std::atomic<std::uint64_t> gDocumentIds{0};

bool IsIdentifier(std::string_view name) {
    if (name.empty() || name.size() > 64) return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (!(std::isalpha(c) || c == '_' || (i > 0 && std::isdigit(c)))) return false;
    }
    return true;
}

// Status texts name the resource; data: URLs and very long addresses are cut.
std::string ShortUrl(const std::string& url) {
    constexpr std::size_t kMax = 120;
    if (url.size() <= kMax) return url;
    return std::string(CutUtf8(url, kMax)) + "...";
}

// How long a page may take to answer before it counts as kept busy by a script.
constexpr std::chrono::milliseconds kBusyProbeTimeout{500};
// How long a context of ours may take to go when the browser is left.
constexpr std::chrono::milliseconds kReleaseTimeout{5000};

// Object and embed elements are kept from loading by the document's policy.
constexpr const char* kNoPluginsPolicy = "object-src 'none'";

// The parameters of Fetch.enable for what is to be blocked, guarded or answered; null when nothing is.
json FetchParams(const TEngineSettings& s, const TPageOptions& page) {
    json patterns = json::array();
    // Credentials are answered only for requests that pass through here: then every request does.
    if (page.Credentials) patterns.push_back({{"urlPattern", "*"}, {"requestStage", "Request"}});
    if (s.BlockImages) patterns.push_back({{"resourceType", "Image"}, {"requestStage", "Request"}});
    if (s.BlockVideo || s.BlockAudio)
        patterns.push_back({{"resourceType", "Media"}, {"requestStage", "Request"}});
    if (s.NoFrames) patterns.push_back({{"resourceType", "Document"}, {"requestStage", "Request"}});
    if (s.NoPlugins) patterns.push_back({{"resourceType", "Document"}, {"requestStage", "Response"}});
    if (patterns.empty()) return nullptr;
    return {{"patterns", patterns}, {"handleAuthRequests", page.Credentials.has_value()}};
}

} // namespace

TChromiumEngine::TChromiumEngine(std::shared_ptr<TChromiumBrowser> browser) : FBrowser(std::move(browser)) {}

TChromiumEngine::~TChromiumEngine() {
    *FAlive = false;
    DropPage();
}

void TChromiumEngine::DropPage(bool wait) {
    if (!FSessionId.empty()) FBrowser->RemoveListener(FSessionId);
    if (FBrowser->Running() && FGeneration == FBrowser->Generation()) {
        try {
            // When the browser is to be left clean now, the last of the calls is awaited: the context goes
            // with its pages, a shared context's page goes alone.
            const bool closeWaited = wait && !FOwnContext;
            if (!FTargetId.empty() && !FSessionId.empty()) {
                if (closeWaited)
                    FBrowser->Call("Target.closeTarget", {{"targetId", FTargetId}}, {}, kReleaseTimeout);
                else
                    FBrowser->Send("Target.closeTarget", {{"targetId", FTargetId}});
            }
            if (FOwnContext && wait)
                FBrowser->Call("Target.disposeBrowserContext", {{"browserContextId", FContextId}}, {},
                               kReleaseTimeout);
            else if (FOwnContext)
                FBrowser->Send("Target.disposeBrowserContext", {{"browserContextId", FContextId}});
        } catch (const EEngineError&) {
        }
    }
    FSessionId.clear();
    FTargetId.clear();
    FContextId.clear();
    FOwnContext = false;
    FPageLost = false;
}

void TChromiumEngine::ReleasePage() {
    DropPage(true);
}

void TChromiumEngine::Shutdown() {
    DropPage();
    FBrowser->Shutdown();
}

void TChromiumEngine::OnAmbientPropertyChange(DISPID id) {
    if (id == DISPID_AMBIENT_DLCONTROL || id == DISPID_UNKNOWN) ++FAmbientChanges;
}

TDevToolsMessage TChromiumEngine::PageCall(const char* method, json params,
                                           std::chrono::milliseconds timeout) {
    return FBrowser->Call(method, std::move(params), FSessionId, timeout);
}

void TChromiumEngine::PageCalls(std::vector<std::pair<const char*, json>> calls) {
    std::vector<std::pair<std::int64_t, const char*>> sent;
    std::size_t next = 0;
    try {
        for (auto& [method, params] : calls)
            sent.emplace_back(FBrowser->SendAwaited(method, std::move(params), FSessionId), method);
        for (; next < sent.size(); ++next)
            FBrowser->Await(sent[next].first, sent[next].second);
    } catch (...) {
        // The failed call is settled; the ones after it are not waited for.
        for (++next; next < sent.size(); ++next)
            FBrowser->Forget(sent[next].first);
        throw;
    }
}

void TChromiumEngine::EnsurePage() {
    FBrowser->Start();
    // In a browser that runs elsewhere, a page that was navigated is not used again unless its context is
    // to be kept: its cookies, cache and storage go with it.
    const bool used = FBrowser->Remote() && FContextPerPage && FPageUsed;
    if (!used && !FSessionId.empty() && FGeneration == FBrowser->Generation() && !FPageLost) return;
    DropPage();
    FApplied.reset();
    FAppliedPage.reset();
    FAgent.clear();
    FPageUsed = false;
    if (FBrowser->Remote()) {
        // Our pages are made in a context of our own, which the browser removes when our connection ends
        // however it ends; downloads are denied in it alone (the browser is not ours to change).
        // Kept pages share one context of the connection (and so one cache, as our own browser's pages do).
        FOwnContext = FContextPerPage;
        FContextId = FOwnContext ? FBrowser->MakeContext() : FBrowser->SharedContext();
        FGeneration = FBrowser->Generation();
        FTargetId =
            Str(FBrowser
                    ->Call("Target.createTarget",
                           {{"url", "about:blank"}, {"browserContextId", FContextId}, {"newWindow", true}})
                    .Params,
                "targetId");
    } else {
        // The browser's first page is used before any other is made: making a page costs a new window.
        FTargetId = FBrowser->TakeFirstPage();
    }
    if (FTargetId.empty())
        FTargetId =
            Str(FBrowser->Call("Target.createTarget", {{"url", "about:blank"}, {"newWindow", true}}).Params,
                "targetId");
    auto attached = FBrowser->Call("Target.attachToTarget", {{"targetId", FTargetId}, {"flatten", true}});
    FSessionId = Str(attached.Params, "sessionId");
    if (FTargetId.empty() || FSessionId.empty())
        throw EEngineError(Tr("The browser made no page to load into"));
    FGeneration = FBrowser->Generation();
    FBrowser->AddListener(FSessionId, this);
    PageCalls({{"Page.enable", json::object()},
               {"Page.setLifecycleEventsEnabled", {{"enabled", true}}},
               {"Network.enable", json::object()},
               {"Inspector.enable", json::object()},
               {"Emulation.setDeviceMetricsOverride",
                {{"width", FViewWidth},
                 {"height", FViewHeight},
                 {"deviceScaleFactor", FScale},
                 {"mobile", false}}}});
}

// Download-control word and host flags -> Chromium. See TEngineSettings for the bits without an effect. A new
// page already has the engine's defaults (everything loads, scripts run, the cache is used, online, scroll
// bars shown): only what differs from them is sent to it.
void TChromiumEngine::ApplySettings(const TEngineSettings& s) {
    const bool all = !FApplied;
    const TEngineSettings old = FApplied.value_or(TEngineSettings{});
    auto changed = [&](auto member, auto pageDefault) {
        return all ? s.*member != pageDefault : old.*member != s.*member;
    };
    std::vector<std::pair<const char*, json>> calls;

    const json fetch = FetchParams(s, FPageOptions);
    if (fetch != (all ? json(nullptr) : FetchParams(old, FAppliedPage.value_or(TPageOptions{}))))
        calls.emplace_back(fetch.is_null() ? "Fetch.disable" : "Fetch.enable",
                           fetch.is_null() ? json::object() : fetch);
    if (changed(&TEngineSettings::NoScripts, false))
        calls.emplace_back("Emulation.setScriptExecutionDisabled", json{{"value", s.NoScripts}});
    // A bypassed cache also sends "Pragma: no-cache" and "Cache-Control: no-cache" with every request.
    if (changed(&TEngineSettings::NoCache, false))
        calls.emplace_back("Network.setCacheDisabled", json{{"cacheDisabled", s.NoCache}});
    if (changed(&TEngineSettings::HideScrollbars, false))
        calls.emplace_back("Emulation.setScrollbarsHidden", json{{"hidden", s.HideScrollbars}});
    std::string agent = FPageOptions.UserAgent;
    if (agent.empty() && !s.UserAgentToken.empty()) agent = FBrowser->UserAgent() + " " + s.UserAgentToken;
    if (all ? !agent.empty() : agent != FAgent)
        calls.emplace_back("Network.setUserAgentOverride",
                           json{{"userAgent", agent.empty() ? FBrowser->UserAgent() : agent}});
    FAgent = agent;
    ApplyPageOptions(calls);
    PageCalls(std::move(calls));
    if (changed(&TEngineSettings::Offline, false)) {
        json conditions = {
            {"offline", s.Offline}, {"latency", 0}, {"downloadThroughput", -1}, {"uploadThroughput", -1}};
        try {
            PageCall("Network.emulateNetworkConditions", conditions);
        } catch (const EEngineError&) {
            PageCall("Network.overrideNetworkState", conditions);
        }
    }
    // DLCTL_SILENT: downloads are denied for the whole browser and a headless browser refuses permission
    // prompts by itself; JavaScript dialogs are answered at once whether or not the bit is set.
    FApplied = s;
}

void TChromiumEngine::Navigate(const std::string& url) {
    try {
        EnsurePage();
    } catch (const EEngineError& e) {
        ++FNavigation;
        FUrl = url;
        FailLoad(e.what());
        throw;
    }
    // A script that keeps the page busy would hold up the next navigation as well.
    if (FNavigation > 0 && FPageUsed) EndBusyScript();
    FPageUsed = true;

    std::uint32_t downloadControl = 0, hostFlags = 0;
    std::string token;
    if (FSite) {
        TVariant v;
        if (SUCCEEDED(FSite->Invoke(DISPID_AMBIENT_DLCONTROL, DISPATCH_PROPERTYGET, &v)) &&
            std::holds_alternative<std::int32_t>(v))
            downloadControl = static_cast<std::uint32_t>(std::get<std::int32_t>(v));
        DOCHOSTUIINFO info;
        info.cbSize = DOCHOSTUIINFO_SIZE;
        if (SUCCEEDED(FSite->GetHostInfo(info))) hostFlags = info.dwFlags;
        token = FSite->UserAgentToken();
    }
    ApplySettings(SettingsFromWords(downloadControl, hostFlags, token));
    SetCookiesFor(url);
    FAuthOrigin = FPageOptions.Credentials ? OriginOf(url) : std::string();
    FAuthAnswered.clear();

    const std::uint64_t navigation = ++FNavigation;
    FLoadEnded = false;
    FReadyState = READYSTATE_LOADING;
    FDocumentId = 0;
    FError.clear();
    FUrl = url;
    FLoaderId.clear();
    FEarlyLifecycle.clear();
    FDocumentStatus.clear();
    FOpenRequests.clear();
    FInflight.clear();
    FLastNetworkChange = std::chrono::steady_clock::now();
    FRequestsTotal = FRequestsDone = 0;
    PostStatus(FormatText(Tr("Loading %1"), {ShortUrl(url)}));
    std::weak_ptr<bool> alive = FAlive;
    FBrowser->Send("Page.navigate", {{"url", url}}, FSessionId,
                   [this, alive, navigation](TDevToolsMessage& reply) {
                       if (auto a = alive.lock(); a && *a) OnNavigateReply(navigation, reply);
                   });
}

void TChromiumEngine::OnNavigateReply(std::uint64_t navigation, TDevToolsMessage& reply) {
    if (navigation != FNavigation || FLoadEnded) return;
    if (reply.Error) {
        FailLoad(*reply.Error);
        return;
    }
    if (std::string error = Str(reply.Params, "errorText"); !error.empty()) {
        FailLoad(error);
        return;
    }
    FLoaderId = Str(reply.Params, "loaderId");
    if (FLoaderId.empty()) {
        // A navigation within the same document: nothing new to load.
        Complete();
        return;
    }
    auto early = FEarlyLifecycle.find(FLoaderId);
    if (early != FEarlyLifecycle.end()) {
        auto names = early->second;
        for (const char* name : {"DOMContentLoaded", "load"})
            if (names.count(name)) OnLifecycle(FLoaderId, name);
    }
    FEarlyLifecycle.clear();
}

void TChromiumEngine::OnLifecycle(const std::string& loaderId, const std::string& name) {
    if (FLoadEnded) return;
    if (FLoaderId.empty()) {
        if (FEarlyLifecycle.size() < 16) FEarlyLifecycle[loaderId].insert(name);
        return;
    }
    if (loaderId != FLoaderId) return;
    if (name == "DOMContentLoaded" && FReadyState < READYSTATE_INTERACTIVE)
        FReadyState = READYSTATE_INTERACTIVE;
    if (name == "load") Complete();
}

void TChromiumEngine::Complete() {
    FLoadEnded = true;
    FReadyState = READYSTATE_COMPLETE;
    FDocumentId = ++gDocumentIds;
    PostStatus(Tr("Done"));
}

void TChromiumEngine::FailLoad(const std::string& text) {
    FLoadEnded = true;
    FReadyState = READYSTATE_COMPLETE;
    FDocumentId = 0;
    FError = text;
    PostStatus(text);
}

void TChromiumEngine::PostStatus(std::string text) {
    std::weak_ptr<bool> alive = FAlive;
    FBrowser->Post([this, alive, text = std::move(text)] {
        if (auto a = alive.lock(); a && *a && FSite) FSite->StatusTextChange(text);
    });
}

void TChromiumEngine::OnSessionEvent(const TDevToolsMessage& e) {
    const std::string& m = e.Method;
    const json& p = e.Params;
    if (m == "Page.lifecycleEvent") {
        if (Str(p, "frameId") == FTargetId) OnLifecycle(Str(p, "loaderId"), Str(p, "name"));
    } else if (m == "Page.javascriptDialogOpening") {
        // Nobody can see a dialog here: answer it at once, or the page (and its load) waits for ever.
        FBrowser->Send("Page.handleJavaScriptDialog",
                       {{"accept", true}, {"promptText", Str(p, "defaultPrompt")}}, FSessionId);
    } else if (m == "Fetch.requestPaused") {
        OnRequestPaused(p);
    } else if (m == "Fetch.authRequired") {
        OnAuthRequired(p);
    } else if (m == "Network.requestWillBeSent") {
        const std::string id = Str(p, "requestId");
        if (FInflight.insert(id).second) FLastNetworkChange = std::chrono::steady_clock::now();
        if (FLoadEnded) return;
        if (!FOpenRequests.insert(id).second) return; // a redirect of a request already counted
        ++FRequestsTotal;
        const std::string url = Str(Obj(p, "request"), "url");
        if (FRequestsTotal > 1) PostStatus(FormatText(Tr("Loading %1"), {ShortUrl(url)}));
    } else if (m == "Network.responseReceived") {
        const json& response = Obj(p, "response");
        if (Str(p, "type") == "Document" && Str(p, "frameId") == FTargetId &&
            Str(p, "requestId") == Str(p, "loaderId")) {
            auto it = response.find("status");
            if (it != response.end() && it->is_number()) FDocumentStatus[Str(p, "loaderId")] = it->get<int>();
        }
    } else if (m == "Network.loadingFinished" || m == "Network.loadingFailed") {
        if (FInflight.erase(Str(p, "requestId"))) FLastNetworkChange = std::chrono::steady_clock::now();
        if (FLoadEnded || !FOpenRequests.erase(Str(p, "requestId"))) return;
        ++FRequestsDone;
        PostStatus(FormatText(Tr("%1 of %2 resources loaded"),
                              {std::to_string(FRequestsDone), std::to_string(FRequestsTotal)}));
    } else if (m == "Inspector.targetCrashed") {
        FPageLost = true; // the next navigation makes a new page
        FailLoad(Tr("The page's renderer crashed"));
    } else if (m == "Inspector.detached") {
        // The page went away under its session (its renderer is gone, or it was closed).
        FPageLost = true;
        if (!FLoadEnded)
            FailLoad(FormatText(Tr("The page was closed: %1"), {Str(p, "reason")}));
        else
            FDocumentId = 0;
    } else if (m == "Target.detachedFromTarget") {
        FPageLost = true;
        FBrowser->RemoveListener(FSessionId);
        FSessionId.clear();
        FTargetId.clear();
        FGeneration = 0;
        if (!FLoadEnded)
            FailLoad(Tr("The page was closed"));
        else
            FDocumentId = 0;
    }
}

void TChromiumEngine::OnRequestPaused(const json& p) {
    const std::string id = Str(p, "requestId");
    if (id.empty()) return;
    const std::string type = Str(p, "resourceType");
    const bool responseStage = p.contains("responseStatusCode") || p.contains("responseErrorReason");
    const TEngineSettings s = FApplied.value_or(TEngineSettings{});
    if (responseStage) {
        if (p.contains("responseErrorReason") || type != "Document" || !s.NoPlugins) {
            FBrowser->Send("Fetch.continueRequest", {{"requestId", id}}, FSessionId);
            return;
        }
        int status = 200;
        if (auto it = p.find("responseStatusCode"); it != p.end() && it->is_number_integer())
            status = it->get<int>();
        if (status >= 300 && status < 400) { // a redirect has no document to guard
            FBrowser->Send("Fetch.continueRequest", {{"requestId", id}}, FSessionId);
            return;
        }
        json headers = HeadersForServedBody(p.contains("responseHeaders") ? p["responseHeaders"] : json(),
                                            kNoPluginsPolicy);
        // The policy has to come with the response the page is made from: the document is fetched here and
        // handed to the page again with the extra header (a changed header on the passing response is not
        // enforced for the document).
        std::weak_ptr<bool> alive = FAlive;
        const std::string session = FSessionId;
        FBrowser->Send("Fetch.getResponseBody", {{"requestId", id}}, FSessionId,
                       [this, alive, id, status, headers, session](TDevToolsMessage& reply) mutable {
                           auto a = alive.lock();
                           if (!a || !*a || session != FSessionId || !FBrowser->Running()) return;
                           if (reply.Error) {
                               FBrowser->Send("Fetch.continueRequest", {{"requestId", id}}, FSessionId);
                               return;
                           }
                           std::string body = Str(reply.Params, "body");
                           const bool encoded =
                               reply.Params.is_object() && reply.Params.value("base64Encoded", false);
                           if (!encoded) body = EncodeBase64(body);
                           FBrowser->Send("Fetch.fulfillRequest",
                                          {{"requestId", id},
                                           {"responseCode", status},
                                           {"responseHeaders", std::move(headers)},
                                           {"body", std::move(body)}},
                                          FSessionId);
                       });
        return;
    }
    bool block = false;
    if (type == "Image")
        block = s.BlockImages;
    else if (type == "Media")
        block = LooksLikeAudioUrl(Str(Obj(p, "request"), "url")) ? s.BlockAudio : s.BlockVideo;
    else if (type == "Document")
        block = s.NoFrames && Str(p, "frameId") != FTargetId;
    if (block)
        FBrowser->Send("Fetch.failRequest", {{"requestId", id}, {"errorReason", "BlockedByClient"}},
                       FSessionId);
    else
        FBrowser->Send("Fetch.continueRequest", {{"requestId", id}}, FSessionId);
}

void TChromiumEngine::OnBrowserLost(const std::string& reason) {
    FSessionId.clear();
    FTargetId.clear();
    FGeneration = 0;
    if (FNavigation == 0) return;
    if (!FLoadEnded || FDocumentId != 0) FailLoad(reason);
}

void TChromiumEngine::EndBusyScript() {
    // Ending a script that does not run would end the next one to start, so ask first whether the page
    // answers at all; only a page that keeps silent has a script to end.
    try {
        PageCall("Runtime.evaluate", {{"expression", "0"}, {"returnByValue", true}, {"silent", true}},
                 kBusyProbeTimeout);
    } catch (const EEngineError&) {
        EndScript();
    }
}

void TChromiumEngine::EndScript() {
    if (FBrowser->Running() && !FSessionId.empty())
        FBrowser->Send("Runtime.terminateExecution", json::object(), FSessionId);
}

void TChromiumEngine::Stop() {
    if (FSessionId.empty() || !FBrowser->Running()) return;
    FBrowser->Send("Page.stopLoading", json::object(), FSessionId);
    EndBusyScript();
    if (FSessionId.empty()) return; // the page or the browser was lost meanwhile
    if (!FLoadEnded) {
        if (FReadyState >= READYSTATE_INTERACTIVE) {
            Complete(); // what has loaded stays: the document as far as it came
        } else {
            FailLoad(Tr("Loading was stopped"));
        }
    }
}

int TChromiumEngine::HttpStatus() {
    auto it = FDocumentStatus.find(FLoaderId);
    return it == FDocumentStatus.end() ? 0 : it->second;
}

void TChromiumEngine::RequireDocument() const {
    if (FDocumentId == 0 || FSessionId.empty()) throw EEngineError(Tr("No document is loaded"));
}

std::int32_t TChromiumEngine::EvaluateInteger(const std::string& what, const std::string& expression) {
    TDevToolsMessage reply;
    try {
        reply = PageCall("Runtime.evaluate",
                         {{"expression", expression}, {"returnByValue", true}, {"silent", true}});
    } catch (const EEngineStopped&) {
        throw;
    } catch (const EEngineTimeout& e) {
        // A script that never yields keeps the page from answering: end it so the page can be used again.
        // The failure stays a timeout: the caller may ask whether the browser itself hangs.
        EndScript();
        throw EEngineTimeout(FormatText(Tr("Reading %1 failed: %2"), {what, e.what()}));
    } catch (const EEngineError& e) {
        EndScript();
        throw EEngineError(FormatText(Tr("Reading %1 failed: %2"), {what, e.what()}));
    }
    if (reply.Params.contains("exceptionDetails"))
        throw EEngineError(FormatText(Tr("Reading %1 failed: %2"),
                                      {what, Str(Obj(reply.Params, "exceptionDetails"), "text")}));
    const json& result = Obj(reply.Params, "result");
    auto value = result.find("value");
    if (value == result.end() || !value->is_number()) {
        if (value != result.end() && value->is_string() && value->get<std::string>() == "no body")
            throw EEngineError(Tr("The document has no body"));
        throw EEngineError(FormatText(Tr("%1 is no number"), {what}));
    }
    const double v = value->get<double>();
    if (!std::isfinite(v) || v < -2147483648.0 || v > 2147483647.0)
        throw EEngineError(FormatText(Tr("%1 is out of range"), {what}));
    return static_cast<std::int32_t>(std::lround(v));
}

std::int32_t TChromiumEngine::BodyProperty(std::string_view name) {
    if (!IsIdentifier(name)) throw EEngineError(FormatText(Tr("The body has no property \"%1\""), {name}));
    RequireDocument();
    const std::string n(name);
    return EvaluateInteger(FormatText(Tr("body.%1"), {n}),
                           "(function(){var b=document.body;if(!b)return 'no body';var v=b['" + n +
                               "'];return typeof v==='number'?v:'no number';})()");
}

std::int32_t TChromiumEngine::DocumentScrollSize(std::string_view side) {
    if (side != "Width" && side != "Height") return 0;
    RequireDocument();
    const std::string s(side);
    return EvaluateInteger(FormatText(Tr("the document's scroll%1"), {s}),
                           "(function(){var e=document.scrollingElement||document.documentElement;if(!e)"
                           "return 0;var s=e.scroll" +
                               s + ",c=e.client" + s + ";return s>c?s:0;})()");
}

void TChromiumEngine::Resize(int width, int height) {
    if (width < 1 || height < 1) return;
    FViewWidth = width;
    FViewHeight = height;
    ApplyMetrics();
}

void TChromiumEngine::RestView(int width, int height) {
    if (width < 1 || height < 1) return;
    FViewWidth = width;
    FViewHeight = height;
    if (FSessionId.empty() || !FBrowser->Running() || FGeneration != FBrowser->Generation()) return;
    // A document left in the view is laid out again at the new size, which for a long text at the narrow
    // resting width costs more than the capture's own layouts: it is emptied first. Its answer is not waited
    // for: a page whose script keeps it busy must not hold up the resize as well. (A page that has replaced
    // the call only keeps its document: it is laid out, no more.)
    FBrowser->Send(
        "Runtime.evaluate",
        {{"expression", "document.replaceChildren();0"}, {"returnByValue", true}, {"silent", true}},
        FSessionId);
    ApplyMetrics();
}

void TChromiumEngine::SetDeviceScaleFactor(double factor) {
    if (!(factor > 0) || !std::isfinite(factor))
        throw EEngineError(Tr("The device scale factor must be above 0"));
    FScale = factor;
    ApplyMetrics();
}

void TChromiumEngine::ApplyMetrics() {
    if (FSessionId.empty() || !FBrowser->Running() || FGeneration != FBrowser->Generation()) return;
    PageCall(
        "Emulation.setDeviceMetricsOverride",
        {{"width", FViewWidth}, {"height", FViewHeight}, {"deviceScaleFactor", FScale}, {"mobile", false}});
}

bool TChromiumEngine::ScrollThrough(int viewWidth, int viewHeight, std::chrono::milliseconds pause,
                                    std::chrono::steady_clock::time_point until, int maxHeight) {
    RequireDocument();
    const int width = FViewWidth, height = FViewHeight;
    viewHeight = std::max(1, viewHeight);
    Resize(std::max(1, viewWidth), viewHeight);
    auto evaluate = [this](const std::string& expression) {
        TDevToolsMessage reply = PageCall(
            "Runtime.evaluate", {{"expression", expression}, {"returnByValue", true}, {"silent", true}});
        const json& result = Obj(reply.Params, "result");
        auto value = result.find("value");
        return value != result.end() && value->is_number() ? value->get<double>() : 0.0;
    };
    const std::string pageHeight =
        "Math.max(document.documentElement?document.documentElement.scrollHeight:0,"
        "document.body?document.body.scrollHeight:0)";
    // The page may grow while it is scrolled (more content loads): its height is read at every step.
    bool cut = true;
    for (int top = 0, steps = 0; steps < 1000 && top < maxHeight && std::chrono::steady_clock::now() < until;
         ++steps) {
        evaluate("window.scrollTo(0," + std::to_string(top) + ");0");
        const auto resume = std::min(until, std::chrono::steady_clock::now() + pause);
        while (std::chrono::steady_clock::now() < resume) {
            if (FBrowser->StopRequested()) throw EEngineStopped();
            FBrowser->WaitIncoming(std::chrono::duration_cast<std::chrono::milliseconds>(
                resume - std::chrono::steady_clock::now()));
        }
        top += viewHeight;
        if (top >= evaluate(pageHeight)) {
            cut = false;
            break;
        }
    }
    evaluate("window.scrollTo(0,0);0");
    Resize(width, height);
    return cut;
}

std::int64_t TChromiumEngine::RequestBand(const TBand& band, int left, int top, int width) {
    const int y = top + band.Top;
    json clip = {{"x", left}, {"y", y}, {"width", width}, {"height", band.Height}, {"scale", 1}};
    json params = {{"format", "png"},
                   {"optimizeForSpeed", true},
                   {"fromSurface", true},
                   // Only a clip that reaches out of the view needs the view grown for it: the browser then
                   // lays the page out again at another size, and what it draws may differ from the page
                   // as it is (elements placed against the view move).
                   {"captureBeyondViewport", left + width > FViewWidth || y + band.Height > FViewHeight},
                   {"clip", clip}};
    return FBrowser->SendAwaited("Page.captureScreenshot", std::move(params), FSessionId);
}

std::vector<std::uint8_t> TChromiumEngine::ReceiveBand(std::int64_t id) {
    auto timeout = FDrawTimeout.count() > 0 ? FDrawTimeout : FBrowser->Options().CallTimeout * 4;
    TDevToolsMessage reply = FBrowser->Await(id, "Page.captureScreenshot", timeout);
    if (reply.Data) return std::move(*reply.Data);
    std::vector<std::uint8_t> png;
    auto data = reply.Params.is_object() ? reply.Params.find("data") : reply.Params.end();
    if (data == reply.Params.end() || !data->is_string() ||
        !DecodeBase64(data->get_ref<const std::string&>(), png))
        throw EEngineError(Tr("The browser sent no picture of the page"));
    return png;
}

std::vector<TChromiumEngine::TBand> TChromiumEngine::Bands(int height, int deviceWidth,
                                                           int deviceHeight) const {
    // A tall drawing is made of bands whose seams fall on whole device pixels: each band is a whole number
    // of CSS pixels that makes a whole number of device rows. Wide pages get lower bands, so that no one
    // screenshot is larger than kMaxBandPixels.
    const int maxRows = std::max(
        256, std::min<int>(FMaxBandRows, static_cast<int>(kMaxBandPixels / std::max(1, deviceWidth))));
    int unit = 1;
    while (unit < 64 && std::abs(unit * FScale - std::lround(unit * FScale)) > 1e-9)
        ++unit;
    if (deviceHeight <= maxRows || std::abs(unit * FScale - std::lround(unit * FScale)) > 1e-9)
        return {TBand{0, height, 0, deviceHeight}};
    const int bandCss = std::max(unit, static_cast<int>(maxRows / FScale) / unit * unit);
    std::vector<TBand> bands;
    for (int top = 0; top < height; top += bandCss) {
        const int rows = std::min(bandCss, height - top);
        const int deviceTop = static_cast<int>(std::lround(top * FScale));
        const int deviceBottom =
            top + rows >= height ? deviceHeight : static_cast<int>(std::lround((top + rows) * FScale));
        bands.push_back(TBand{top, rows, deviceTop, deviceBottom - deviceTop});
    }
    return bands;
}

namespace {

// The bands of a drawing as the browser sends them (PNG), put into bitmap rows as they come.
class TChromiumShot : public TPageShot {
public:
    struct TBand {
        std::vector<std::uint8_t> Png;
        int Top = 0, Height = 0; // rows of the picture
    };
    TChromiumShot(int width, int height, std::size_t bands)
        : FWidth(width), FHeight(height), FExpected(bands) {}
    int Width() const override { return FWidth; }
    int Height() const override { return FHeight; }
    void DrawInto(const TBitmapRows& rows, TRowGate& gate) const override {
        for (std::size_t i = 0; i < FExpected; ++i) {
            const TBand* band = WaitFor(i, gate);
            if (!band || !Decode(*band, rows, gate)) return;
        }
    }
    void Add(TBand band) {
        std::lock_guard<std::mutex> lock(FMutex);
        FBands.push_back(std::move(band));
        FChanged.notify_all();
    }
    void Fail(std::string why) {
        std::lock_guard<std::mutex> lock(FMutex);
        if (!FFailure) FFailure = std::move(why);
        FChanged.notify_all();
    }

private:
    bool Decode(const TBand& band, const TBitmapRows& rows, TRowGate& gate) const {
        try {
            return DecodePngInto(band.Png.data(), band.Png.size(), rows, FWidth, band.Height, band.Top,
                                 &gate);
        } catch (const EUnreadablePicture& e) {
            throw EEngineError(FormatText(Tr("The engine's screenshot cannot be decoded: %1"), {e.what()}));
        } catch (const EConvertError& e) {
            throw EEngineError(e.what());
        }
    }
    // Band i once it has come; null when the reader gave up meanwhile. Throws when it will never come.
    const TBand* WaitFor(std::size_t i, const TRowGate& gate) const {
        std::unique_lock<std::mutex> lock(FMutex);
        while (FBands.size() <= i && !FFailure) {
            if (gate.Abandoned()) return nullptr;
            FChanged.wait_for(lock, std::chrono::milliseconds(20));
        }
        if (FBands.size() > i) return &FBands[i]; // a deque keeps its elements in place as it grows
        throw EEngineError(*FFailure);
    }

    const int FWidth, FHeight;
    const std::size_t FExpected;
    mutable std::mutex FMutex;
    mutable std::condition_variable FChanged;
    std::deque<TBand> FBands;
    std::optional<std::string> FFailure;
};

} // namespace

std::shared_ptr<const TPageShot> TChromiumEngine::Shoot(int width, int height, const TShotStarted& started) {
    return ShootArea(0, 0, width, height, started);
}

std::shared_ptr<const TPageShot> TChromiumEngine::ShootArea(int left, int top, int width, int height,
                                                            const TShotStarted& started) {
    RequireDocument();
    const int deviceWidth = static_cast<int>(std::lround(std::max(width, 0) * FScale));
    const int deviceHeight = static_cast<int>(std::lround(std::max(height, 0) * FScale));
    const std::vector<TBand> bands =
        width < 1 || height < 1 ? std::vector<TBand>{} : Bands(height, deviceWidth, deviceHeight);
    auto shot = std::make_shared<TChromiumShot>(deviceWidth, deviceHeight, bands.size());
    // One screenshot is under way at a time: the browser places its view for each clip, so two at once draw
    // each other's rows (tried: the second band came where the first belongs). A band still under way when
    // this fails is forgotten.
    std::int64_t asked = 0;
    struct Forget {
        TChromiumBrowser& browser;
        const std::int64_t& id;
        ~Forget() {
            if (id != 0) browser.Forget(id);
        }
    } forget{*FBrowser, asked};
    try {
        if (started) started(shot);
        for (const TBand& band : bands) {
            asked = RequestBand(band, left, top, width);
            std::vector<std::uint8_t> png = ReceiveBand(std::exchange(asked, 0));
            shot->Add({std::move(png), band.DeviceTop, band.DeviceHeight});
        }
    } catch (const std::exception& e) {
        shot->Fail(e.what());
        throw;
    } catch (...) {
        shot->Fail(Tr("The browser sent no picture of the page"));
        throw;
    }
    return shot;
}

void TChromiumEngine::Draw(TBitmap& bitmap, int width, int height) {
    RequireDocument();
    if (width < 1 || height < 1) return;
    const int deviceWidth = static_cast<int>(std::lround(width * FScale));
    const int deviceHeight = static_cast<int>(std::lround(height * FScale));
    if (bitmap.PixelFormat() != TPixelFormat::pf24bit || bitmap.Width() < deviceWidth ||
        bitmap.Height() < deviceHeight)
        throw EEngineError(Tr("The bitmap to draw into is not a 24-bit bitmap of the drawing's size"));
    const std::shared_ptr<const TPageShot> shot = Shoot(width, height);
    TRowGate gate(deviceHeight); // nobody reads while it fills
    shot->DrawInto(bitmap.Rows(), gate);
}

} // namespace korvane
