#pragma once
// A page's requests as they pass through the browser's Fetch domain: those of blocked kinds fail (images,
// media, sub-frame documents, the data of object and embed elements), and the page's own server alone is
// given the credentials, once a request (the proxy its own).
#include <set>
#include <string>

#include <nlohmann/json.hpp>

#include "browser/DownloadControl.h"
#include "browser/PageOptions.h"

namespace korvane {

class TDevToolsSession;

class TRequestInterceptor {
public:
    // Answers the requests of a new page (in place of the one before).
    void Attach(TDevToolsSession& session);
    // What the following requests are answered by.
    void Apply(const TEngineSettings& settings, const TPageOptions& page) {
        FSettings = settings;
        FPage = page;
    }
    // A load begins: the credentials are for the server its first document comes from.
    void BeginLoad();

    bool Offered() const { return !FAuthAnswered.empty(); }

    // The parameters of Fetch.enable for what is to be blocked, guarded or answered; null when nothing is.
    static nlohmann::json FetchParams(const TEngineSettings& settings, const TPageOptions& page);

private:
    void OnRequestPaused(const nlohmann::json& params);
    void FailIfPluginFrame(const std::string& id, const std::string& frameId);
    void OnAuthRequired(const nlohmann::json& params);

    TDevToolsSession* FSession = nullptr;
    TEngineSettings FSettings;
    TPageOptions FPage;
    bool FAwaitingDocument = false;       // the load's first document has not been asked for yet
    std::string FAuthOrigin;              // the server of the load under way, which credentials are for
    std::set<std::string> FAuthAnswered;  // requests that were given the credentials once
    std::set<std::string> FProxyAnswered; // requests that were given the proxy's credentials once
};

} // namespace korvane
