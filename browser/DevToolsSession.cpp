#include "browser/DevToolsSession.h"

#include "browser/EngineError.h"
#include "browser/JsonFields.h"
#include "platform/Translate.h"

namespace korvane {

TDevToolsSession::TDevToolsSession(TChromiumBrowser& browser, std::string targetId)
    : FBrowser(browser), FTargetId(std::move(targetId)) {
    const auto attached =
        FBrowser.Call("Target.attachToTarget", {{"targetId", FTargetId}, {"flatten", true}});
    FId = Str(attached.Params, "sessionId");
    if (FTargetId.empty() || FId.empty()) throw EEngineError(Tr("The browser made no page to load into"));
    FGeneration = FBrowser.Generation();
    FBrowser.AddListener(FId, this);
}

TDevToolsSession::~TDevToolsSession() {
    FWeak.Invalidate();
    FBrowser.RemoveListener(FId);
}

bool TDevToolsSession::Open() const {
    return !FDetached && FBrowser.Running() && FGeneration == FBrowser.Generation();
}

void TDevToolsSession::On(std::string method, TEventHandler handler) {
    FHandlers[std::move(method)] = std::move(handler);
}

std::int64_t TDevToolsSession::Send(std::string_view method, nlohmann::json params,
                                    TChromiumBrowser::TReplyHandler handler) {
    if (handler)
        handler = [weak = FWeak.Weak(), handler = std::move(handler)](TDevToolsMessage& reply) {
            if (weak.lock()) handler(reply);
        };
    return FBrowser.Send(method, std::move(params), FId, std::move(handler));
}

TDevToolsMessage TDevToolsSession::Call(std::string_view method, nlohmann::json params,
                                        std::chrono::milliseconds timeout) {
    return FBrowser.Call(method, std::move(params), FId, timeout);
}

std::int64_t TDevToolsSession::SendAwaited(std::string_view method, nlohmann::json params) {
    return FBrowser.SendAwaited(method, std::move(params), FId);
}

TDevToolsMessage TDevToolsSession::Await(std::int64_t id, std::string_view method,
                                         std::chrono::milliseconds timeout) {
    return FBrowser.Await(id, method, timeout);
}

void TDevToolsSession::Forget(std::int64_t id) {
    FBrowser.Forget(id);
}

void TDevToolsSession::Calls(std::vector<std::pair<const char*, nlohmann::json>> calls) {
    std::vector<std::pair<std::int64_t, const char*>> sent;
    std::size_t next = 0;
    try {
        for (auto& [method, params] : calls)
            sent.emplace_back(SendAwaited(method, std::move(params)), method);
        for (; next < sent.size(); ++next)
            Await(sent[next].first, sent[next].second);
    } catch (...) {
        // The failed call is settled; the ones after it are not waited for.
        for (++next; next < sent.size(); ++next)
            Forget(sent[next].first);
        throw;
    }
}

void TDevToolsSession::OnSessionEvent(const TDevToolsMessage& event) {
    if (event.Method == "Target.detachedFromTarget") {
        // The page went away under its session: nothing more comes of it.
        FDetached = true;
        FBrowser.RemoveListener(FId);
    }
    auto handler = FHandlers.find(event.Method);
    if (handler != FHandlers.end()) handler->second(event.Params);
}

void TDevToolsSession::OnBrowserLost(const std::string& reason) {
    FDetached = true;
    if (FLost) FLost(reason);
}

} // namespace korvane
