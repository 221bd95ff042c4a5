#pragma once
// The engine on Chromium: one page target (with its own DevTools session) in the shared browser. Loads are
// followed through the page's lifecycle and network events; the download-control word and host flags are
// read from the site and applied before each navigation; measuring, resizing and drawing are synchronous
// commands that wait on the pipe only. A page that crashed, or a browser that died, ends the load with an
// error; the next navigation makes a new page (in a new browser when needed).
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "browser/ChromiumBrowser.h"
#include "browser/DownloadControl.h"
#include "browser/Engine.h"
#include "browser/PageOptions.h"

namespace korvane {

// What a script run in the page gave.
struct TScriptResult {
    bool Ok = false;
    nlohmann::json Value; // its value, when Ok
    std::string Error;    // what it threw (the first line of the error's text), or why it could not run
};

class TChromiumEngine : public TEngine, private IDevToolsSessionListener {
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
    int ReadyState() override { return FReadyState; }
    std::uint64_t DocumentId() override { return FDocumentId; }
    std::string NavigationError() override { return FError; }
    int HttpStatus() override;
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

    // In a browser that runs elsewhere every navigation gets a new page in a browser context of its own,
    // unless told to keep one for all (cache, cookies and storage are then shared by this engine's pages).
    void SetContextPerPage(bool fresh) { FContextPerPage = fresh; }
    // Closes the page and waits until its context is gone: the browser is left as it was found.
    void ReleasePage();
    // The page crashed or was closed under us since it was made (a page never made is not gone).
    bool PageGone() const { return FPageLost; }
    // Headers, user agent, cookies, credentials and media of the following navigations.
    void SetPageOptions(TPageOptions options) { FPageOptions = std::move(options); }
    // Runs the script in the loaded page (also when the page's own scripts are kept from running) and hands
    // its completion value to `done`, once a promise it gives has settled when `awaitPromise`. Never blocks;
    // the answer comes while the pipe is served, also after the engine has navigated elsewhere (the caller
    // tells its loads apart). Throws EEngineError without a document.
    void Evaluate(const std::string& script, bool awaitPromise, std::function<void(TScriptResult)> done);
    // Runs the script and waits for its value (not for a promise).
    TScriptResult EvaluateNow(const std::string& script);
    // The selectors the browser cannot parse, each checked on its own; the page is made when there is none.
    std::vector<std::string> InvalidSelectors(const std::vector<std::string>& selectors);

    TChromiumBrowser& Browser() { return *FBrowser; }
    const std::shared_ptr<TChromiumBrowser>& SharedBrowser() const { return FBrowser; }
    // The page's DevTools session; empty before the first navigation and after the page was lost.
    const std::string& SessionId() const { return FSessionId; }
    // The settings the last navigation was made under.
    const std::optional<TEngineSettings>& AppliedSettings() const { return FApplied; }
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
    int InflightRequests() const { return static_cast<int>(FInflight.size()); }
    std::chrono::steady_clock::time_point LastNetworkChange() const { return FLastNetworkChange; }
    // With the view at viewWidth x viewHeight, scrolls through the page one view height at a time, pausing
    // at each step while the pipe is served, then back to the top, and gives the view its size back: pictures
    // that load only when seen are then loaded or loading.
    // Scrolling stops early at `until`, or once it has come `maxHeight` pixels down a page that keeps
    // growing;
    // true when it stopped before the page's end.
    bool
    ScrollThrough(int viewWidth, int viewHeight, std::chrono::milliseconds pause,
                  std::chrono::steady_clock::time_point until = std::chrono::steady_clock::time_point::max(),
                  int maxHeight = 1 << 30);
    // The most device rows one screenshot may have; taller drawings are made of bands of this height. By
    // default a tall drawing comes in several bands, so that the first is put into a bitmap and encoded
    // while the browser makes the next: that is quicker when a core would otherwise wait. Each band costs
    // the browser more than its share of the rows, though, so with other work under way (pages loading,
    // files being written) one band as large as kMaxBandPixels allows is cheaper: kWholeBandRows.
    void SetMaxBandRows(int rows) { FMaxBandRows = rows > 0 ? rows : kDefaultMaxBandRows; }
    static constexpr int kDefaultMaxBandRows = 10000;
    static constexpr int kWholeBandRows = 65536;
    static constexpr std::int64_t kMaxBandPixels = 64ll * 1024 * 1024;

    // Time allowed to a screenshot; the default is four times the browser's call timeout.
    void SetDrawTimeout(std::chrono::milliseconds timeout) { FDrawTimeout = timeout; }

private:
    void OnSessionEvent(const TDevToolsMessage& event) override;
    void OnBrowserLost(const std::string& reason) override;

    void EnsurePage();
    void DropPage(bool wait = false);
    void ApplySettings(const TEngineSettings& settings);
    void OnNavigateReply(std::uint64_t navigation, TDevToolsMessage& reply);
    void OnLifecycle(const std::string& loaderId, const std::string& name);
    void OnRequestPaused(const nlohmann::json& params);
    void EndBusyScript();
    // Ends whatever script the page runs (one that never yields keeps the page from answering).
    void EndScript();
    void Complete();
    void FailLoad(const std::string& text);
    void PostStatus(std::string text);
    void RequireDocument() const;
    // A number the page's script gives; `what` names it in errors.
    std::int32_t EvaluateInteger(const std::string& what, const std::string& expression);
    struct TBand {
        int Top, Height;             // CSS pixels of the page
        int DeviceTop, DeviceHeight; // rows of the bitmap
    };
    std::vector<TBand> Bands(int height, int deviceWidth, int deviceHeight) const;
    std::int64_t RequestBand(const TBand& band, int left, int top, int width);
    void ApplyPageOptions(std::vector<std::pair<const char*, nlohmann::json>>& calls);

    void SetCookiesFor(const std::string& url);
    void OnAuthRequired(const nlohmann::json& params);
    std::vector<std::uint8_t> ReceiveBand(std::int64_t id);
    void ApplyMetrics();
    TDevToolsMessage PageCall(const char* method, nlohmann::json params,
                              std::chrono::milliseconds timeout = {});
    // Sends the calls at once and then waits for every reply: one round trip for all. Throws the first
    // failure.
    void PageCalls(std::vector<std::pair<const char*, nlohmann::json>> calls);

    std::shared_ptr<TChromiumBrowser> FBrowser;
    std::shared_ptr<bool> FAlive = std::make_shared<bool>(true);
    IEngineSite* FSite = nullptr;
    std::string FTargetId, FSessionId;
    std::string FContextId; // the browser context of our own the page is in (a browser that runs elsewhere)
    bool FContextPerPage = true;
    bool FOwnContext = false; // the context is the page's alone (else the browser's shared one)
    bool FPageUsed = false;   // navigated since it was made
    std::uint64_t FGeneration = 0;
    bool FPageLost = false; // the renderer crashed: a new page is made at the next navigation
    std::optional<TEngineSettings> FApplied;
    TPageOptions FPageOptions;
    std::optional<TPageOptions> FAppliedPage;
    std::string FAgent;                  // the user agent set on the page; empty: the browser's own
    std::string FAuthOrigin;             // the server of the load under way, which credentials are for
    std::set<std::string> FAuthAnswered; // requests that were given the credentials once
    int FViewWidth = 100, FViewHeight = 100;
    std::chrono::milliseconds FDrawTimeout{0};
    int FAmbientChanges = 0;

    // The load under way or last finished.
    std::uint64_t FNavigation = 0;
    bool FLoadEnded = true; // complete, failed or stopped: later lifecycle events are ignored
    int FReadyState = READYSTATE_UNINITIALIZED;
    std::uint64_t FDocumentId = 0;
    std::string FError;
    std::string FUrl;
    std::string FLoaderId; // of the main document, from the navigate reply
    std::map<std::string, std::set<std::string>> FEarlyLifecycle; // events that came before the reply
    std::map<std::string, int> FDocumentStatus; // loader -> HTTP status of its main document
    std::set<std::string> FOpenRequests;
    std::set<std::string> FInflight;
    std::chrono::steady_clock::time_point FLastNetworkChange = std::chrono::steady_clock::now();
    double FScale = 1.0;
    int FMaxBandRows = kDefaultMaxBandRows;
    int FRequestsTotal = 0, FRequestsDone = 0;
};

} // namespace korvane
