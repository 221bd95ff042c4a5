#pragma once
// A page as a batch job drives it: it is loaded, its load and its network are watched, scripts run in it, it
// is scrolled through and its picture is taken. A run drives a page of a browser (TChromiumJobPage); the
// job's tests drive a scripted one.
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "browser/PageScripts.h"
#include "capture/CapturePipeline.h"

namespace korvane {

class TChromiumBrowser;
class TChromiumEngine;
struct TEngineSettings;
struct TPageOptions;

class IJobPage {
public:
    using TTime = std::chrono::steady_clock::time_point;
    virtual ~IJobPage() = default;

    // The view the next load is made in (width x height); the page may not exist yet.
    virtual void SetView(int width, int height) = 0;
    // Starts loading. Throws EEngineError when no page can be made or the load cannot begin.
    virtual void Navigate(const std::string& url) = 0;
    // Ends the load under way and any script that keeps the page busy; what has come stays.
    virtual void Stop() = 0;
    virtual int ReadyState() = 0;
    virtual bool HasDocument() = 0;
    virtual std::string NavigationError() = 0;
    virtual int HttpStatus() = 0;
    // The credentials of the run were given to the page's server during this load.
    virtual bool CredentialsOffered() = 0;
    // Requests under way, and when that number last changed.
    virtual int InflightRequests() = 0;
    virtual TTime LastNetworkChange() = 0;
    // While set, no wait on the browser outlasts the deadline (the page's time is up then).
    virtual void SetCallDeadline(std::optional<TTime> deadline) = 0;
    // Scrolls through the page in a view width x viewHeight (TChromiumEngine::ScrollThrough); true when it
    // stopped before the page's end.
    virtual bool ScrollThrough(int width, int viewHeight, std::chrono::milliseconds pause, TTime until,
                               int maxHeight) = 0;
    // Runs a script; its result comes later, while the browser is served (TChromiumEngine::Evaluate).
    virtual void Evaluate(const std::string& script, bool awaitPromise,
                          std::function<void(TScriptResult)> done) = 0;
    virtual TScriptResult EvaluateNow(const std::string& script) = 0;
    // A picture taken while nothing else is under way comes in bands; with other work under way, in one.
    virtual void SetDrawnAlone(bool alone) = 0;
    // Measures the page, sizes the view and begins its picture (ShootDocument).
    virtual TCapturePicture Shoot(const TCaptureSettings& settings, const TPictureStarted& started) = 0;
    // The page crashed or was closed under us since its load began.
    virtual bool Gone() = 0;
};

// A page of a run: a job's page that can also be let go of and check selectors.
class IRunPage : public IJobPage {
public:
    // Closes the page and waits until what it made in its browser is gone (a browser elsewhere is left as it
    // was found).
    virtual void Release() = 0;
    // The selectors the browser cannot parse (the page is made when there is none).
    virtual std::vector<std::string> InvalidSelectors(const std::vector<std::string>& selectors) = 0;
};

// What every page of a run is loaded with.
struct TJobPageSetup {
    bool ContextPerPage = true; // a browser elsewhere: each page in a context of its own
    double Scale = 1.0;
    std::chrono::milliseconds DrawTimeout{0};
};

// A page of a browser, in a page target of its own.
class TChromiumJobPage final : public IRunPage {
public:
    TChromiumJobPage(std::shared_ptr<TChromiumBrowser> browser, const TJobPageSetup& setup,
                     const TEngineSettings& settings, const TPageOptions& page);
    ~TChromiumJobPage() override;

    void SetView(int width, int height) override;
    void Navigate(const std::string& url) override;
    void Stop() override;
    int ReadyState() override;
    bool HasDocument() override;
    std::string NavigationError() override;
    int HttpStatus() override;
    bool CredentialsOffered() override;
    int InflightRequests() override;
    TTime LastNetworkChange() override;
    void SetCallDeadline(std::optional<TTime> deadline) override;
    bool ScrollThrough(int width, int viewHeight, std::chrono::milliseconds pause, TTime until,
                       int maxHeight) override;
    void Evaluate(const std::string& script, bool awaitPromise,
                  std::function<void(TScriptResult)> done) override;
    TScriptResult EvaluateNow(const std::string& script) override;
    void SetDrawnAlone(bool alone) override;
    TCapturePicture Shoot(const TCaptureSettings& settings, const TPictureStarted& started) override;
    bool Gone() override;
    void Release() override;
    std::vector<std::string> InvalidSelectors(const std::vector<std::string>& selectors) override;

private:
    std::unique_ptr<TChromiumEngine> FEngine;
};

} // namespace korvane
