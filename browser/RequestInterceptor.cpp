#include "browser/RequestInterceptor.h"

#include "browser/DevToolsSession.h"
#include "browser/JsonFields.h"

namespace korvane {

using nlohmann::json;

json TRequestInterceptor::FetchParams(const TEngineSettings& s, const TPageOptions& page) {
    json patterns = json::array();
    // Credentials are answered only for requests that pass through here: then every request does.
    const bool credentials = page.Credentials || page.Proxy.Credentials;
    if (credentials) patterns.push_back({{"urlPattern", "*"}, {"requestStage", "Request"}});
    if (s.BlockImages) patterns.push_back({{"resourceType", "Image"}, {"requestStage", "Request"}});
    if (s.BlockVideo || s.BlockAudio)
        patterns.push_back({{"resourceType", "Media"}, {"requestStage", "Request"}});
    // The data of object and embed elements is asked for as "Other" (as is the site's icon, which no picture
    // shows): failed there, it never loads, and the page's own document is not touched.
    if (s.NoPlugins) patterns.push_back({{"resourceType", "Other"}, {"requestStage", "Request"}});
    // An object or embed element that shows a document loads it into a frame of its own.
    if (s.NoFrames || s.NoPlugins)
        patterns.push_back({{"resourceType", "Document"}, {"requestStage", "Request"}});
    if (patterns.empty()) return nullptr;
    return {{"patterns", patterns}, {"handleAuthRequests", credentials}};
}

void TRequestInterceptor::Attach(TDevToolsSession& session) {
    FSession = &session;
    session.On("Fetch.requestPaused", [this](const json& p) { OnRequestPaused(p); });
    session.On("Fetch.authRequired", [this](const json& p) { OnAuthRequired(p); });
}

void TRequestInterceptor::BeginLoad() {
    FAuthOrigin.clear();
    FAwaitingDocument = FPage.Credentials.has_value();
    FAuthAnswered.clear();
    FProxyAnswered.clear();
}

void TRequestInterceptor::OnRequestPaused(const json& p) {
    const std::string id = Str(p, "requestId");
    if (id.empty()) return;
    const std::string type = Str(p, "resourceType");
    // The credentials are for the server of the page's first document as the browser reads its address:
    // an address our own reading could take differently cannot send them elsewhere.
    if (FAwaitingDocument && type == "Document" && Str(p, "frameId") == FSession->TargetId()) {
        FAuthOrigin = OriginOf(Str(Obj(p, "request"), "url"));
        FAwaitingDocument = false;
    }
    bool block = false;
    if (type == "Image")
        block = FSettings.BlockImages;
    else if (type == "Media")
        block =
            LooksLikeAudioUrl(Str(Obj(p, "request"), "url")) ? FSettings.BlockAudio : FSettings.BlockVideo;
    else if (type == "Document" && Str(p, "frameId") != FSession->TargetId() && !FSettings.NoFrames &&
             FSettings.NoPlugins)
        return FailIfPluginFrame(id, Str(p, "frameId"));
    else if (type == "Document")
        block = FSettings.NoFrames && Str(p, "frameId") != FSession->TargetId();
    else if (type == "Other")
        block = FSettings.NoPlugins;
    if (block)
        FSession->Send("Fetch.failRequest", {{"requestId", id}, {"errorReason", "BlockedByClient"}});
    else
        FSession->Send("Fetch.continueRequest", {{"requestId", id}});
}

void TRequestInterceptor::FailIfPluginFrame(const std::string& id, const std::string& frameId) {
    // Frames are let in: the request waits while the element that owns its frame is looked up, and goes on
    // unless that is an object or an embed element. The replies come only while this page's session lasts.
    TDevToolsSession& session = *FSession;
    const auto decide = [&session, id](bool plugin) {
        if (!session.Open()) return;
        if (plugin)
            session.Send("Fetch.failRequest", {{"requestId", id}, {"errorReason", "BlockedByClient"}});
        else
            session.Send("Fetch.continueRequest", {{"requestId", id}});
    };
    session.Send("DOM.getFrameOwner", {{"frameId", frameId}}, [&session, decide](TDevToolsMessage& owner) {
        if (!session.Open()) return;
        const auto node = owner.Params.is_object() ? owner.Params.find("backendNodeId") : owner.Params.end();
        if (owner.Error || node == owner.Params.end() || !node->is_number_integer()) return decide(false);
        session.Send("DOM.describeNode", {{"backendNodeId", *node}}, [decide](TDevToolsMessage& described) {
            const std::string name = Str(Obj(described.Params, "node"), "nodeName");
            decide(!described.Error && (name == "OBJECT" || name == "EMBED"));
        });
    });
}

void TRequestInterceptor::OnAuthRequired(const json& p) {
    const std::string id = Str(p, "requestId");
    if (id.empty()) return;
    const json& challenge = Obj(p, "authChallenge");
    // The proxy gets its own credentials once for each request, and only the proxy: a challenge for a proxy
    // comes from the proxy the browser was given, never from a page.
    if (Str(challenge, "source") == "Proxy") {
        const bool give = FPage.Proxy.Credentials && FProxyAnswered.insert(id).second;
        json response = {{"response", give ? "ProvideCredentials" : "CancelAuth"}};
        if (give) {
            response["username"] = FPage.Proxy.Credentials->User;
            response["password"] = FPage.Proxy.Credentials->Password;
        }
        FSession->Send("Fetch.continueWithAuth", {{"requestId", id}, {"authChallengeResponse", response}});
        return;
    }
    // The page's own server gets the credentials once for each request: asking again means it did not take
    // them. Every other server gets none.
    const bool give = FPage.Credentials && !FAuthOrigin.empty() &&
                      OriginOf(Str(challenge, "origin")) == FAuthOrigin && FAuthAnswered.insert(id).second;
    json response = {{"response", give ? "ProvideCredentials" : "CancelAuth"}};
    if (give) {
        response["username"] = FPage.Credentials->User;
        response["password"] = FPage.Credentials->Password;
    }
    FSession->Send("Fetch.continueWithAuth", {{"requestId", id}, {"authChallengeResponse", response}});
}

} // namespace korvane
