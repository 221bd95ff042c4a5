#include "browser/LoadTracker.h"

#include <atomic>

#include "browser/DevToolsSession.h"
#include "browser/JsonFields.h"
#include "platform/Text.h"
#include "platform/Translate.h"

namespace korvane {
namespace {

using nlohmann::json;

std::atomic<std::uint64_t> gDocumentIds{0};

// Status texts name the resource; data: URLs and very long addresses are cut.
std::string ShortUrl(const std::string& url) {
    constexpr std::size_t kMax = 120;
    if (url.size() <= kMax) return url;
    return std::string(CutUtf8(url, kMax)) + "...";
}

} // namespace

void TLoadTracker::Attach(TDevToolsSession& session) {
    FTargetId = session.TargetId();
    session.On("Page.lifecycleEvent", [this](const json& p) {
        if (Str(p, "frameId") == FTargetId) OnLifecycle(Str(p, "loaderId"), Str(p, "name"));
    });
    session.On("Network.requestWillBeSent", [this](const json& p) { OnRequestSent(p); });
    session.On("Network.responseReceived", [this](const json& p) { OnResponse(p); });
    session.On("Network.loadingFinished", [this](const json& p) { OnRequestEnded(p); });
    session.On("Network.loadingFailed", [this](const json& p) { OnRequestEnded(p); });
}

std::uint64_t TLoadTracker::Begin(const std::string& url) {
    const std::uint64_t navigation = ++FNavigation;
    FLoadEnded = false;
    FReadyState = READYSTATE_LOADING;
    FDocumentId = 0;
    FError.clear();
    FLoaderId.clear();
    FEarlyLifecycle.clear();
    FDocumentStatus.clear();
    FOpenRequests.clear();
    FInflight.clear();
    FLastNetworkChange = std::chrono::steady_clock::now();
    FRequestsTotal = FRequestsDone = 0;
    FStatus(FormatText(Tr("Loading %1"), {ShortUrl(url)}));
    return navigation;
}

void TLoadTracker::BeginFailed(const std::string& error) {
    ++FNavigation;
    Fail(error);
}

void TLoadTracker::OnNavigateReply(std::uint64_t navigation, const TDevToolsMessage& reply) {
    if (navigation != FNavigation || FLoadEnded) return;
    if (reply.Error) return Fail(*reply.Error);
    if (std::string error = Str(reply.Params, "errorText"); !error.empty()) return Fail(error);
    FLoaderId = Str(reply.Params, "loaderId");
    // A navigation within the same document: nothing new to load.
    if (FLoaderId.empty()) return Complete();
    auto early = FEarlyLifecycle.find(FLoaderId);
    if (early != FEarlyLifecycle.end()) {
        auto names = early->second;
        for (const char* name : {"DOMContentLoaded", "load"})
            if (names.count(name)) OnLifecycle(FLoaderId, name);
    }
    FEarlyLifecycle.clear();
}

void TLoadTracker::OnLifecycle(const std::string& loaderId, const std::string& name) {
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

void TLoadTracker::OnRequestSent(const json& p) {
    const std::string id = Str(p, "requestId");
    if (FInflight.insert(id).second) FLastNetworkChange = std::chrono::steady_clock::now();
    if (FLoadEnded) return;
    if (!FOpenRequests.insert(id).second) return; // a redirect of a request already counted
    ++FRequestsTotal;
    if (FRequestsTotal > 1) FStatus(FormatText(Tr("Loading %1"), {ShortUrl(Str(Obj(p, "request"), "url"))}));
}

void TLoadTracker::OnResponse(const json& p) {
    if (Str(p, "type") != "Document" || Str(p, "frameId") != FTargetId ||
        Str(p, "requestId") != Str(p, "loaderId"))
        return;
    const json& response = Obj(p, "response");
    auto it = response.find("status");
    if (it != response.end() && it->is_number()) FDocumentStatus[Str(p, "loaderId")] = it->get<int>();
}

void TLoadTracker::OnRequestEnded(const json& p) {
    if (FInflight.erase(Str(p, "requestId"))) FLastNetworkChange = std::chrono::steady_clock::now();
    if (FLoadEnded || !FOpenRequests.erase(Str(p, "requestId"))) return;
    ++FRequestsDone;
    FStatus(FormatText(Tr("%1 of %2 resources loaded"),
                       {std::to_string(FRequestsDone), std::to_string(FRequestsTotal)}));
}

void TLoadTracker::Stopped() {
    if (FLoadEnded) return;
    if (FReadyState >= READYSTATE_INTERACTIVE)
        Complete(); // what has loaded stays: the document as far as it came
    else
        Fail(Tr("Loading was stopped"));
}

void TLoadTracker::PageGone(const std::string& reason, bool failLoadedDocument) {
    if (failLoadedDocument || !FLoadEnded)
        Fail(reason);
    else
        FDocumentId = 0;
}

void TLoadTracker::BrowserLost(const std::string& reason) {
    if (FNavigation == 0) return;
    if (!FLoadEnded || FDocumentId != 0) Fail(reason);
}

int TLoadTracker::HttpStatus() const {
    auto it = FDocumentStatus.find(FLoaderId);
    return it == FDocumentStatus.end() ? 0 : it->second;
}

void TLoadTracker::Complete() {
    FLoadEnded = true;
    FReadyState = READYSTATE_COMPLETE;
    FDocumentId = ++gDocumentIds;
    FStatus(Tr("Done"));
}

void TLoadTracker::Fail(const std::string& text) {
    FLoadEnded = true;
    FReadyState = READYSTATE_COMPLETE;
    FDocumentId = 0;
    FError = text;
    FStatus(text);
}

} // namespace korvane
