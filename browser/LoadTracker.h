#pragma once
// Follows a page's loads as its events tell them: which navigation is under way and its main document's
// loader, the lifecycle events that make the ready state, the document's HTTP status, the requests in flight,
// and the status texts of the load ("Loading ...", "n of m resources loaded", "Done", the failure).
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>

#include <nlohmann/json.hpp>

#include "browser/DevToolsReader.h"
#include "browser/Engine.h"

namespace korvane {

class TDevToolsSession;

class TLoadTracker {
public:
    using TStatus = std::function<void(std::string text)>;
    explicit TLoadTracker(TStatus status) : FStatus(std::move(status)) {}

    // Follows the events of a new page (in place of the one before).
    void Attach(TDevToolsSession& session);

    // A navigation to `url` begins; its number tells its reply apart from those of others.
    std::uint64_t Begin(const std::string& url);
    // A navigation that could not even be sent.
    void BeginFailed(const std::string& error);
    void OnNavigateReply(std::uint64_t navigation, const TDevToolsMessage& reply);
    // The load was stopped: what has come stays when the document has (it counts as complete), else the load
    // fails.
    void Stopped();
    // The page was closed (or crashed, `failLoadedDocument`): a load under way fails with `reason`; a loaded
    // document is gone (or counts as a failed load).
    void PageGone(const std::string& reason, bool failLoadedDocument);
    // The browser went: a load under way, or a loaded document, fails with `reason`.
    void BrowserLost(const std::string& reason);

    std::uint64_t Navigations() const { return FNavigation; }
    int ReadyState() const { return FReadyState; }
    std::uint64_t DocumentId() const { return FDocumentId; }
    const std::string& Error() const { return FError; }
    bool Ended() const { return FLoadEnded; }
    int HttpStatus() const;
    // Requests started and not finished, counted from the navigation on (also after the load event), and
    // when that number last changed.
    int InflightRequests() const { return static_cast<int>(FInflight.size()); }
    std::chrono::steady_clock::time_point LastNetworkChange() const { return FLastNetworkChange; }

private:
    void OnLifecycle(const std::string& loaderId, const std::string& name);
    void OnRequestSent(const nlohmann::json& p);
    void OnResponse(const nlohmann::json& p);
    void OnRequestEnded(const nlohmann::json& p);
    void Complete();
    void Fail(const std::string& text);

    TStatus FStatus;
    std::string FTargetId; // the page's main frame
    std::uint64_t FNavigation = 0;
    bool FLoadEnded = true; // complete, failed or stopped: later lifecycle events are ignored
    int FReadyState = READYSTATE_UNINITIALIZED;
    std::uint64_t FDocumentId = 0;
    std::string FError;
    std::string FLoaderId;                                        // of the main document, from the reply
    std::map<std::string, std::set<std::string>> FEarlyLifecycle; // events that came before the reply
    std::map<std::string, int> FDocumentStatus;                   // loader -> HTTP status of its document
    std::set<std::string> FOpenRequests;                          // of the load, for its status texts
    std::set<std::string> FInflight;
    std::chrono::steady_clock::time_point FLastNetworkChange = std::chrono::steady_clock::now();
    int FRequestsTotal = 0, FRequestsDone = 0;
};

} // namespace korvane
