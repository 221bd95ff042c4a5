#include "browser/ChromiumBrowser.h"
#include "cli/RunBrowser.h"

#include <algorithm>

namespace korvane {

std::string TChromiumRunBrowser::Name() const {
    return FBrowser->Remote() ? FBrowser->Options().Endpoint : std::string("local");
}
bool TChromiumRunBrowser::Remote() const {
    return FBrowser->Remote();
}
bool TChromiumRunBrowser::Running() const {
    return FBrowser->Running();
}
std::uint64_t TChromiumRunBrowser::Generation() const {
    return FBrowser->Generation();
}
void TChromiumRunBrowser::Start() {
    FBrowser->Start();
}
void TChromiumRunBrowser::Shutdown() {
    FBrowser->Shutdown();
}
IRunBrowser::TTime TChromiumRunBrowser::LastHeard() const {
    return FBrowser->LastHeard();
}

void TChromiumRunBrowser::Ask(std::function<void(bool answered)> done) {
    const std::uint64_t generation = FBrowser->Generation();
    TChromiumBrowser* browser = FBrowser.get();
    FBrowser->Send("Browser.getVersion", nlohmann::json::object(), {},
                   [browser, generation, done = std::move(done)](TDevToolsMessage& reply) {
                       done(!reply.Error && generation == browser->Generation());
                   });
}

bool TChromiumRunBrowser::Answers(std::chrono::milliseconds timeout) {
    return FBrowser->Answers(timeout);
}

std::unique_ptr<IRunPage> TChromiumRunBrowser::MakePage(const TJobPageSetup& setup,
                                                        const TEngineSettings& settings,
                                                        const TPageOptions& page) {
    return std::make_unique<TChromiumJobPage>(FBrowser, setup, settings, page);
}

void TChromiumRunBrowser::SetCallTimeout(std::chrono::milliseconds timeout) {
    FBrowser->SetCallTimeout(std::min(FBrowser->Options().CallTimeout, timeout));
}
void TChromiumRunBrowser::SetStopToken(std::stop_token stop) {
    FBrowser->SetStopToken(std::move(stop));
}
void TChromiumRunBrowser::SetWake(int fd, std::function<void()> handler) {
    FBrowser->SetExtraWake(fd, std::move(handler));
}
int TChromiumRunBrowser::Fd() const {
    return FBrowser->ConnectionFd();
}
int TChromiumRunBrowser::StopFd() const {
    return FBrowser->StopFd();
}
bool TChromiumRunBrowser::HasQueuedWork() const {
    return FBrowser->HasQueuedWork();
}
void TChromiumRunBrowser::ProcessIncoming() {
    FBrowser->ProcessIncoming();
}
void TChromiumRunBrowser::WaitIncoming(std::chrono::milliseconds timeout) {
    FBrowser->WaitIncoming(timeout);
}

} // namespace korvane
