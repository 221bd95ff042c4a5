#include "browser/RequestInterceptor.h"

#include "browser/Base64.h"
#include "browser/DevToolsSession.h"
#include "browser/JsonFields.h"
#include "browser/ServedHeaders.h"

namespace korvane {
namespace {

using nlohmann::json;

// Object and embed elements are kept from loading by the document's policy.
constexpr const char* kNoPluginsPolicy = "object-src 'none'";

} // namespace

json TRequestInterceptor::FetchParams(const TEngineSettings& s, const TPageOptions& page) {
    json patterns = json::array();
    // Credentials are answered only for requests that pass through here: then every request does.
    if (page.Credentials) patterns.push_back({{"urlPattern", "*"}, {"requestStage", "Request"}});
    if (s.BlockImages) patterns.push_back({{"resourceType", "Image"}, {"requestStage", "Request"}});
    if (s.BlockVideo || s.BlockAudio)
        patterns.push_back({{"resourceType", "Media"}, {"requestStage", "Request"}});
    if (s.NoFrames) patterns.push_back({{"resourceType", "Document"}, {"requestStage", "Request"}});
    if (s.NoPlugins) patterns.push_back({{"resourceType", "Document"}, {"requestStage", "Response"}});
    if (patterns.empty()) return nullptr;
    return {{"patterns", patterns}, {"handleAuthRequests", page.Credentials.has_value()}};
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
}

void TRequestInterceptor::OnRequestPaused(const json& p) {
    const std::string id = Str(p, "requestId");
    if (id.empty()) return;
    const std::string type = Str(p, "resourceType");
    if (p.contains("responseStatusCode") || p.contains("responseErrorReason")) {
        int status = 200;
        if (auto it = p.find("responseStatusCode"); it != p.end() && it->is_number_integer())
            status = it->get<int>();
        // Only a document of its own is guarded; a redirect has no document to guard.
        if (p.contains("responseErrorReason") || type != "Document" || !FSettings.NoPlugins ||
            (status >= 300 && status < 400))
            return void(FSession->Send("Fetch.continueRequest", {{"requestId", id}}));
        return ServeWithPolicy(id, status, p.contains("responseHeaders") ? p["responseHeaders"] : json());
    }
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
    else if (type == "Document")
        block = FSettings.NoFrames && Str(p, "frameId") != FSession->TargetId();
    if (block)
        FSession->Send("Fetch.failRequest", {{"requestId", id}, {"errorReason", "BlockedByClient"}});
    else
        FSession->Send("Fetch.continueRequest", {{"requestId", id}});
}

void TRequestInterceptor::ServeWithPolicy(const std::string& id, int status, json headers) {
    headers = HeadersForServedBody(headers, kNoPluginsPolicy);
    // The policy has to come with the response the page is made from: the document is fetched here and
    // handed to the page again with the extra header (a changed header on the passing response is not
    // enforced for the document). The reply comes only while this page's session lasts.
    TDevToolsSession& session = *FSession;
    session.Send("Fetch.getResponseBody", {{"requestId", id}},
                 [&session, id, status, headers = std::move(headers)](TDevToolsMessage& reply) mutable {
                     if (!session.Open()) return;
                     if (reply.Error) return void(session.Send("Fetch.continueRequest", {{"requestId", id}}));
                     std::string body = Str(reply.Params, "body");
                     const bool encoded =
                         reply.Params.is_object() && reply.Params.value("base64Encoded", false);
                     if (!encoded) body = EncodeBase64(body);
                     session.Send("Fetch.fulfillRequest", {{"requestId", id},
                                                           {"responseCode", status},
                                                           {"responseHeaders", std::move(headers)},
                                                           {"body", std::move(body)}});
                 });
}

void TRequestInterceptor::OnAuthRequired(const json& p) {
    const std::string id = Str(p, "requestId");
    if (id.empty()) return;
    const json& challenge = Obj(p, "authChallenge");
    // The page's own server gets the credentials once for each request: asking again means it did not take
    // them. Proxies and every other server get none.
    const bool give = FPage.Credentials && !FAuthOrigin.empty() && Str(challenge, "source") != "Proxy" &&
                      OriginOf(Str(challenge, "origin")) == FAuthOrigin && FAuthAnswered.insert(id).second;
    json response = {{"response", give ? "ProvideCredentials" : "CancelAuth"}};
    if (give) {
        response["username"] = FPage.Credentials->User;
        response["password"] = FPage.Credentials->Password;
    }
    FSession->Send("Fetch.continueWithAuth", {{"requestId", id}, {"authChallengeResponse", response}});
}

} // namespace korvane
