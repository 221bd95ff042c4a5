#include "browser/ChromiumEngine.h"

#include <cmath>
#include <utility>

#include "browser/EngineError.h"
#include "browser/JsonFields.h"
#include "platform/Translate.h"

namespace korvane {
namespace {

using nlohmann::json;

// How long a context of ours may take to go when the browser is left.
constexpr std::chrono::milliseconds kReleaseTimeout{5000};

} // namespace

TChromiumEngine::TChromiumEngine(std::shared_ptr<TChromiumBrowser> browser)
    : FBrowser(std::move(browser)), FLoad([this](std::string text) { PostStatus(std::move(text)); }) {}

TChromiumEngine::~TChromiumEngine() {
    FWeak.Invalidate();
    DropPage();
}

void TChromiumEngine::DropPage(bool wait) {
    if (PageOpen()) {
        try {
            // When the browser is to be left clean now, the last of the calls is awaited: the context goes
            // with its pages, a shared context's page goes alone.
            const json target = {{"targetId", Session().TargetId()}};
            if (wait && !FPage.OwnContext)
                FBrowser->Call("Target.closeTarget", target, {}, kReleaseTimeout);
            else
                FBrowser->Send("Target.closeTarget", target);
            const json context = {{"browserContextId", FPage.ContextId}};
            if (FPage.OwnContext && wait)
                FBrowser->Call("Target.disposeBrowserContext", context, {}, kReleaseTimeout);
            else if (FPage.OwnContext)
                FBrowser->Send("Target.disposeBrowserContext", context);
        } catch (const EEngineError&) {
        }
    }
    FPage = TPage{};
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

void TChromiumEngine::EnsurePage() {
    FBrowser->Start();
    // In a browser that runs elsewhere, a page that was navigated is not used again unless its context is
    // to be kept: its cookies, cache and storage go with it.
    const bool used = FBrowser->Remote() && FContextPerPage && FPage.Used;
    if (!used && PageOpen() && !FPage.Lost) return;
    DropPage();
    FSetup.NewPage();
    const std::string target = MakeTarget();
    FPage.Session = std::make_unique<TDevToolsSession>(*FBrowser, target);
    Listen(Session());
    Session().Calls({{"Page.enable", json::object()},
                     {"Page.setLifecycleEventsEnabled", {{"enabled", true}}},
                     {"Network.enable", json::object()},
                     {"Inspector.enable", json::object()},
                     {"Emulation.setDeviceMetricsOverride",
                      {{"width", FViewWidth},
                       {"height", FViewHeight},
                       {"deviceScaleFactor", FScale},
                       {"mobile", FPageOptions.Mobile}}}});
}

std::string TChromiumEngine::MakeTarget() {
    json create = {{"url", "about:blank"}, {"newWindow", true}};
    if (!FBrowser->Remote()) {
        // The browser's first page is used before any other is made: making a page costs a new window.
        std::string target = FBrowser->TakeFirstPage();
        if (target.empty()) target = Str(FBrowser->Call("Target.createTarget", create).Params, "targetId");
        return target;
    }
    // A browser elsewhere may answer its own questions and make no page (a proxy in front of a browser that
    // is stopped): one that makes none in this time is taken for one that hangs.
    constexpr std::chrono::seconds kMakePageTime{15};
    try {
        // Our pages are made in a context of our own, which the browser removes when our connection ends
        // however it ends; downloads are denied in it alone (the browser is not ours to change). Kept pages
        // share one context of the connection (and so one cache, as our own browser's pages do).
        FPage.OwnContext = FContextPerPage;
        FPage.ContextId = FPage.OwnContext ? FBrowser->MakeContext(kMakePageTime, FPageOptions.Proxy)
                                           : FBrowser->SharedContext(kMakePageTime, FPageOptions.Proxy);
        create["browserContextId"] = FPage.ContextId;
        return Str(FBrowser->Call("Target.createTarget", create, {}, kMakePageTime).Params, "targetId");
    } catch (const EEngineHung&) {
        throw;
    } catch (const EEngineTimeout& e) {
        throw EEngineHung(e.what());
    }
}

void TChromiumEngine::Listen(TDevToolsSession& session) {
    FLoad.Attach(session);
    FInterceptor.Attach(session);
    session.On("Page.javascriptDialogOpening", [&session](const json& p) {
        // Nobody can see a dialog here: answer it at once, or the page (and its load) waits for ever.
        session.Send("Page.handleJavaScriptDialog",
                     {{"accept", true}, {"promptText", Str(p, "defaultPrompt")}});
    });
    session.On("Inspector.targetCrashed", [this](const json&) {
        FPage.Lost = true; // the next navigation makes a new page
        FLoad.PageGone(Tr("The page's renderer crashed"), true);
    });
    // The page went away under its session (its renderer is gone, or it was closed).
    session.On("Inspector.detached", [this](const json& p) {
        FPage.Lost = true;
        FLoad.PageGone(FormatText(Tr("The page was closed: %1"), {Str(p, "reason")}), false);
    });
    session.On("Target.detachedFromTarget", [this](const json&) {
        FPage.Lost = true;
        FLoad.PageGone(Tr("The page was closed"), false);
    });
    session.WhenBrowserLost([this](const std::string& reason) { FLoad.BrowserLost(reason); });
}

TEngineSettings TChromiumEngine::NavigationSettings() {
    if (FSettings) return *FSettings;
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
    return SettingsFromWords(downloadControl, hostFlags, token);
}

void TChromiumEngine::Navigate(const std::string& url) {
    try {
        EnsurePage();
    } catch (const EEngineError& e) {
        FLoad.BeginFailed(e.what());
        throw;
    }
    // A script that keeps the page busy would hold up the next navigation as well.
    if (FLoad.Navigations() > 0 && FPage.Used) PageScripts::EndBusyScript(Session());
    FPage.Used = true;
    FSetup.Apply(Session(), NavigationSettings(), FPageOptions, FBrowser->UserAgent());
    TPageSetup::SetCookiesFor(Session(), url, FPageOptions);
    FInterceptor.BeginLoad();
    const std::uint64_t navigation = FLoad.Begin(url);
    Session().Send("Page.navigate", {{"url", url}},
                   [this, navigation](TDevToolsMessage& reply) { FLoad.OnNavigateReply(navigation, reply); });
}

void TChromiumEngine::Stop() {
    if (!PageOpen()) return;
    Session().Send("Page.stopLoading");
    PageScripts::EndBusyScript(Session());
    if (!PageOpen()) return; // the page or the browser was lost meanwhile
    FLoad.Stopped();
}

void TChromiumEngine::PostStatus(std::string text) {
    FBrowser->Post([weak = FWeak.Weak(), text = std::move(text)] {
        if (auto self = weak.lock(); self && self->FSite) self->FSite->StatusTextChange(text);
    });
}

void TChromiumEngine::RequireDocument() const {
    if (FLoad.DocumentId() == 0 || !PageOpen()) throw EEngineError(Tr("No document is loaded"));
}

} // namespace korvane
