#pragma once
// The engine on Chromium: one page target in a shared browser, with its own DevTools session. Its parts: the
// session (commands and events of the page), the load tracker (navigations, ready state, status texts), the
// request interceptor (what the page may load, credentials), the page set-up (settings and page options sent
// before each navigation) and the band shooter (the picture); scripting and scrolling beside them. The
// settings of a navigation are the host's download-control word and host flags, read from the site before
// each navigation, unless the engine was given settings of its own. A page that crashed, or a browser that
// died, ends the load with an error; the next navigation makes a new page (in a new browser when needed).
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "browser/BandShooter.h"
#include "browser/ChromiumBrowser.h"
#include "browser/DevToolsSession.h"
#include "browser/DownloadControl.h"
#include "browser/Engine.h"
#include "browser/LoadTracker.h"
#include "browser/PageOptions.h"
#include "browser/PageScripts.h"
#include "browser/PageSetup.h"
#include "browser/RequestInterceptor.h"
#include "platform/WeakFactory.h"

namespace korvane {

class TChromiumEngine : public TEngine {
public:
    explicit TChromiumEngine(std::shared_ptr<TChromiumBrowser> browser = TChromiumBrowser::Shared());
    ~TChromiumEngine() override;
    TChromiumEngine(const TChromiumEngine&) = delete;
    TChromiumEngine& operator=(const TChromiumEngine&) = delete;

    void SetSite(IEngineSite* site) override { FSite = site; }
    void SetStopToken(std::stop_token token) override { FBrowser->SetStopToken(std::move(token)); }
    // Ends the browser this engine uses, also for the other engines that share it.
    void Shutdown() override;
    void OnAmbientPropertyChange(DISPID id) override;
    void Navigate(const std::string& url) override;
    void Stop() override;
    int ReadyState() override { return FLoad.ReadyState(); }
    std::uint64_t DocumentId() override { return FLoad.DocumentId(); }
    std::string NavigationError() override { return FLoad.Error(); }
    int HttpStatus() override { return FLoad.HttpStatus(); }
    // The page options' credentials were given to a server during the load under way.
    bool CredentialsOffered() const { return FInterceptor.Offered(); }
    std::int32_t BodyProperty(std::string_view name) override;
    std::int32_t DocumentScrollSize(std::string_view side) override;
    void Resize(int width, int height) override;
    void RestView(int width, int height) override;

    void Draw(TBitmap& bitmap, int width, int height) override;
    // The drawing's screenshots as the browser sent them; they are decoded when the picture is put into a
    // bitmap.
    std::shared_ptr<const TPageShot> Shoot(int width, int height, const TShotStarted& started = {}) override;
    std::shared_ptr<const TPageShot> ShootArea(int left, int top, int width, int height,
                                               const TShotStarted& started = {}) override;
    std::optional<TElementBox> ElementBox(const std::string& selector) override;

    // The settings of the following navigations, in place of the host's words (none: the host's words).
    void SetSettings(std::optional<TEngineSettings> settings) { FSettings = std::move(settings); }
    // In a browser that runs elsewhere every navigation gets a new page in a browser context of its own,
    // unless told to keep one for all (cache, cookies and storage are then shared by this engine's pages).
    void SetContextPerPage(bool fresh) { FContextPerPage = fresh; }
    // Closes the page and waits until its context is gone: the browser is left as it was found.
    void ReleasePage();
    // The page crashed or was closed under us since it was made (a page never made is not gone).
    bool PageGone() const { return FPage.Lost; }
    // Headers, user agent, cookies, credentials and media of the following navigations.
    void SetPageOptions(TPageOptions options) { FPageOptions = std::move(options); }
    // Runs the script in the loaded page (also when the page's own scripts are kept from running) and hands
    // its completion value to `done`, once a promise it gives has settled when `awaitPromise`. Never blocks;
    // the answer comes while the browser is served, unless the page has gone meanwhile (the caller tells its
    // loads apart). Throws EEngineError without a document.
    void Evaluate(const std::string& script, bool awaitPromise, std::function<void(TScriptResult)> done);
    // Runs the script and waits for its value (not for a promise).
    TScriptResult EvaluateNow(const std::string& script);
    bool SettleDeferred(std::chrono::milliseconds budget) override;
    bool ExpandInnerScroller() override;
    std::int32_t WiderLayoutWidth() override;
    // The page's own scripts run (its timers and frames with them).
    bool ScriptsRun() const;
    // The selectors the browser cannot parse, each checked on its own; the page is made when there is none.
    std::vector<std::string> InvalidSelectors(const std::vector<std::string>& selectors);

    TChromiumBrowser& Browser() { return *FBrowser; }
    const std::shared_ptr<TChromiumBrowser>& SharedBrowser() const { return FBrowser; }
    // The page's DevTools session id; empty before the first navigation and after the page was lost.
    std::string SessionId() const { return PageOpen() ? FPage.Session->Id() : std::string(); }
    // The settings the last navigation was made under.
    const std::optional<TEngineSettings>& AppliedSettings() const { return FSetup.Applied(); }
    // Ambient-change notices received (the settings are read again before every navigation anyway).
    int AmbientChanges() const { return FAmbientChanges; }
    int ViewWidth() const { return FViewWidth; }
    int ViewHeight() const { return FViewHeight; }
    // Device pixels per CSS pixel for the following Resize and Draw (default 1): a drawing of width x height
    // then fills round(width x factor) x round(height x factor) pixels of the bitmap.
    void SetDeviceScaleFactor(double factor);
    double DeviceScaleFactor() const { return FScale; }
    // Requests of the page that have started and not yet finished (web sockets are not requests), and when
    // that number last changed; counted from the navigation on, also after the load event.
    int InflightRequests() const { return FLoad.InflightRequests(); }
    std::chrono::steady_clock::time_point LastNetworkChange() const { return FLoad.LastNetworkChange(); }
    // With the view at viewWidth x viewHeight, scrolls through the page one view height at a time, pausing
    // at each step while the browser is served, then back to the top, and gives the view its size back:
    // pictures that load only when seen are then loaded or loading. Scrolling stops early at `until`, or once
    // it has come `maxHeight` pixels down a page that keeps growing; true when it stopped before the page's
    // end.
    bool
    ScrollThrough(int viewWidth, int viewHeight, std::chrono::milliseconds pause,
                  std::chrono::steady_clock::time_point until = std::chrono::steady_clock::time_point::max(),
                  int maxHeight = 1 << 30);
    // The most device rows one screenshot may have (TBandShooter).
    void SetMaxBandRows(int rows) { FShooter.SetMaxBandRows(rows); }
    static constexpr int kDefaultMaxBandRows = TBandShooter::kDefaultMaxBandRows;
    static constexpr int kWholeBandRows = TBandShooter::kWholeBandRows;
    // Time allowed to a screenshot; the default is four times the browser's call timeout.
    void SetDrawTimeout(std::chrono::milliseconds timeout) { FShooter.SetDrawTimeout(timeout); }

private:
    // The page target this engine loads into, and what is known of it.
    struct TPage {
        std::unique_ptr<TDevToolsSession> Session;
        std::string
            ContextId; // the browser context of our own the page is in (a browser that runs elsewhere)
        bool OwnContext = false; // the context is the page's alone (else the browser's shared one)
        bool Used = false;       // navigated since it was made
        bool Lost = false;       // crashed or closed under us: a new page is made at the next navigation
    };
    bool PageOpen() const { return FPage.Session && FPage.Session->Open(); }
    TDevToolsSession& Session() const { return *FPage.Session; }
    void EnsurePage();
    std::string MakeTarget();
    void Listen(TDevToolsSession& session);
    void DropPage(bool wait = false);
    TEngineSettings NavigationSettings();
    void RequireDocument() const;
    void ApplyMetrics();
    void PostStatus(std::string text);

    std::shared_ptr<TChromiumBrowser> FBrowser;
    IEngineSite* FSite = nullptr;
    TPage FPage;
    bool FContextPerPage = true;
    std::optional<TEngineSettings> FSettings;
    TPageOptions FPageOptions;
    TLoadTracker FLoad;
    TRequestInterceptor FInterceptor;
    TPageSetup FSetup{FInterceptor};
    TBandShooter FShooter;
    int FViewWidth = 100, FViewHeight = 100;
    // Resized since a size was last read: the page's resize handlers run in its next frame.
    bool FResized = false;
    double FScale = 1.0;
    int FAmbientChanges = 0;
    TWeakFactory<TChromiumEngine> FWeak{this};
};

} // namespace korvane
