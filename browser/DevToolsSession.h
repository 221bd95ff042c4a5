#pragma once
// One page's DevTools session: the page target and its session id in a browser, the page's commands, and its
// events handed to whoever subscribed to them by name. Replies and events stop coming once the session has
// gone; the session knows when its page went away under it (the browser lost, the session detached).
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "browser/ChromiumBrowser.h"
#include "platform/WeakFactory.h"

namespace korvane {

class TDevToolsSession final : private IDevToolsSessionListener {
public:
    using TEventHandler = std::function<void(const nlohmann::json& params)>;
    using TLostHandler = std::function<void(const std::string& reason)>;

    // Attaches to the target and enables nothing yet. Throws EEngineError.
    TDevToolsSession(TChromiumBrowser& browser, std::string targetId);
    ~TDevToolsSession();
    TDevToolsSession(const TDevToolsSession&) = delete;
    TDevToolsSession& operator=(const TDevToolsSession&) = delete;

    TChromiumBrowser& Browser() const { return FBrowser; }
    const std::string& Id() const { return FId; }
    const std::string& TargetId() const { return FTargetId; }
    // Commands still reach the page: its browser runs as it did when the session began, and the session was
    // not detached from it.
    bool Open() const;

    // The handler gets every event of that name (the last handler given for a name wins).
    void On(std::string method, TEventHandler handler);
    // The browser was lost (the session's end when its page goes alone is the event
    // Target.detachedFromTarget, after which the session is no longer open).
    void WhenBrowserLost(TLostHandler handler) { FLost = std::move(handler); }

    // As TChromiumBrowser's, on this session; a reply that comes after the session has gone is dropped.
    std::int64_t Send(std::string_view method, nlohmann::json params = nlohmann::json::object(),
                      TChromiumBrowser::TReplyHandler handler = {});
    TDevToolsMessage Call(std::string_view method, nlohmann::json params = nlohmann::json::object(),
                          std::chrono::milliseconds timeout = {});
    std::int64_t SendAwaited(std::string_view method, nlohmann::json params);
    TDevToolsMessage Await(std::int64_t id, std::string_view method, std::chrono::milliseconds timeout = {});
    void Forget(std::int64_t id);
    // Sends the calls at once and then waits for every reply: one round trip for all. Throws the first
    // failure; the calls after it are not waited for.
    void Calls(std::vector<std::pair<const char*, nlohmann::json>> calls);

private:
    void OnSessionEvent(const TDevToolsMessage& event) override;
    void OnBrowserLost(const std::string& reason) override;

    TChromiumBrowser& FBrowser;
    std::string FTargetId, FId;
    std::uint64_t FGeneration = 0;
    bool FDetached = false;
    std::unordered_map<std::string, TEventHandler> FHandlers;
    TLostHandler FLost;
    TWeakFactory<TDevToolsSession> FWeak{this};
};

} // namespace korvane
