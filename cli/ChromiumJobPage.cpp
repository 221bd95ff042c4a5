#include "cli/JobPage.h"

#include "browser/ChromiumEngine.h"
#include "browser/Document.h"
#include "browser/EngineError.h"
#include "platform/Translate.h"

namespace korvane {

TChromiumJobPage::TChromiumJobPage(std::shared_ptr<TChromiumBrowser> browser, const TJobPageSetup& setup,
                                   const TEngineSettings& settings, const TPageOptions& page)
    : FEngine(std::make_unique<TChromiumEngine>(std::move(browser))) {
    FEngine->SetContextPerPage(setup.ContextPerPage);
    FEngine->SetDeviceScaleFactor(setup.Scale);
    FEngine->SetSettings(settings);
    FEngine->SetPageOptions(page);
    FEngine->SetDrawTimeout(setup.DrawTimeout);
}

TChromiumJobPage::~TChromiumJobPage() = default;

void TChromiumJobPage::SetView(int width, int height) {
    FEngine->Resize(width, height);
}
void TChromiumJobPage::Navigate(const std::string& url) {
    FEngine->Navigate(url);
}
void TChromiumJobPage::Stop() {
    FEngine->Stop();
}
int TChromiumJobPage::ReadyState() {
    return FEngine->ReadyState();
}
bool TChromiumJobPage::HasDocument() {
    return FEngine->DocumentId() != 0;
}
std::string TChromiumJobPage::NavigationError() {
    return FEngine->NavigationError();
}
int TChromiumJobPage::HttpStatus() {
    return FEngine->HttpStatus();
}
bool TChromiumJobPage::CredentialsOffered() {
    return FEngine->CredentialsOffered();
}
int TChromiumJobPage::InflightRequests() {
    return FEngine->InflightRequests();
}
IJobPage::TTime TChromiumJobPage::LastNetworkChange() {
    return FEngine->LastNetworkChange();
}
void TChromiumJobPage::SetCallDeadline(std::optional<TTime> deadline) {
    FEngine->Browser().SetCallDeadline(deadline);
}
bool TChromiumJobPage::ScrollThrough(int width, int viewHeight, std::chrono::milliseconds pause, TTime until,
                                     int maxHeight) {
    return FEngine->ScrollThrough(width, viewHeight, pause, until, maxHeight);
}
void TChromiumJobPage::Evaluate(const std::string& script, bool awaitPromise,
                                std::function<void(TScriptResult)> done) {
    FEngine->Evaluate(script, awaitPromise, std::move(done));
}
TScriptResult TChromiumJobPage::EvaluateNow(const std::string& script) {
    return FEngine->EvaluateNow(script);
}
void TChromiumJobPage::SetDrawnAlone(bool alone) {
    FEngine->SetMaxBandRows(alone ? TChromiumEngine::kDefaultMaxBandRows : TChromiumEngine::kWholeBandRows);
}
TCapturePicture TChromiumJobPage::Shoot(const TCaptureSettings& settings, const TPictureStarted& started) {
    const std::uint64_t document = FEngine->DocumentId();
    if (document == 0) throw EEngineError(Tr("No document is loaded"));
    return ShootDocument(*FEngine, THtmlDocument(*FEngine, document), settings, started);
}
bool TChromiumJobPage::Gone() {
    return FEngine->PageGone();
}
void TChromiumJobPage::Release() {
    FEngine->ReleasePage();
}
std::vector<std::string> TChromiumJobPage::InvalidSelectors(const std::vector<std::string>& selectors) {
    return FEngine->InvalidSelectors(selectors);
}

} // namespace korvane
