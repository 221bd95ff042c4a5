#include "browser/ChromiumBrowser.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

#include "browser/ChromiumProcess.h"
#include "browser/DevToolsAddress.h"
#include "browser/EngineError.h"
#include "browser/JsonFields.h"
#include "browser/WebSocketTransport.h"
#include "platform/Translate.h"

namespace korvane {
namespace {

using Clock = std::chrono::steady_clock;

int MillisUntil(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 1 << 30));
}

// A browser that has sent nothing this long while a call waits is asked whether it still answers; one that
// sends nothing within the probe's time hangs (stopped, or starved), and the call ends at once.
constexpr auto kQuietBeforeProbe = std::chrono::seconds(2);
constexpr auto kProbeTime = std::chrono::seconds(3);

std::string Seconds(std::chrono::milliseconds ms) {
    auto s = ms.count() / 1000;
    return s >= 1 ? std::to_string(s) + " s" : std::to_string(ms.count()) + " ms";
}

} // namespace

TChromiumBrowser::TChromiumBrowser(TOptions options) : FOptions(std::move(options)) {}
TChromiumBrowser::TChromiumBrowser() : TChromiumBrowser(TOptions{}) {}

EEngineStopped::EEngineStopped() : EEngineError(Tr("Stopped while waiting for the browser")) {}

TChromiumBrowser::~TChromiumBrowser() {
    FOnStop.reset();
    if (FStopFd >= 0) ::close(FStopFd);
    FListeners.clear();
    FPending.clear();
    FConnectionChanged = nullptr;
    FWake = nullptr;
    CloseFds();
    FProcess.reset();
}

void TChromiumBrowser::SetStopToken(std::stop_token token) {
    FOnStop.reset();
    if (FStopFd < 0) FStopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    std::uint64_t drained = 0;
    while (FStopFd >= 0 && ::read(FStopFd, &drained, sizeof drained) > 0) {
    }
    FStop = std::move(token);
    const int fd = FStopFd;
    // Runs on the thread that requests the stop (or here, when it already was): only the eventfd is touched.
    FOnStop.emplace(FStop, std::function<void()>([fd] {
                        const std::uint64_t one = 1;
                        const ssize_t n = fd >= 0 ? ::write(fd, &one, sizeof one) : 0;
                        (void)n;
                    }));
}

std::shared_ptr<TChromiumBrowser> TChromiumBrowser::Shared() {
    static std::shared_ptr<TChromiumBrowser> shared = std::make_shared<TChromiumBrowser>();
    return shared;
}

pid_t TChromiumBrowser::ProcessId() const {
    return FProcess ? FProcess->Pid() : -1;
}
std::string TChromiumBrowser::ProfileDir() const {
    return FProcess ? FProcess->ProfileDir() : std::string();
}

void TChromiumBrowser::CloseFds() {
    // A transport that is handing out its messages goes once it has handed them out.
    if (FReceiving)
        FRetired = std::move(FTransport);
    else
        FTransport.reset();
}

void TChromiumBrowser::AttachPipes(int readFd, int writeFd) {
    Shutdown();
    // Pipes attached by a test belong to us; a started browser's belong to its process.
    FTransport = MakePipeTransport(readFd, writeFd, true);
    ++FGeneration;
    if (FConnectionChanged) FConnectionChanged();
}

void TChromiumBrowser::Start() {
    if (Running()) return;
    if (Remote()) {
        std::string error;
        const auto address = ParseDevToolsAddress(FOptions.Endpoint, &error);
        if (!address)
            throw EEngineError(
                FormatText(Tr("cannot use the browser at %1: %2"), {FOptions.Endpoint, error}));
        if (FStop.stop_requested()) throw EEngineStopped();
        FTransport = ConnectDevTools(*address, FOptions.StartTimeout).Transport;
    } else {
        FProcess = TChromiumProcess::Start(FOptions.Path, FOptions.ExtraArguments);
        FTransport = MakePipeTransport(FProcess->ReadFd(), FProcess->WriteFd(), false);
    }
    FLastHeard = Clock::now();
    FProbeSent.reset();
    FSilent = false;
    ++FGeneration;
    if (FConnectionChanged) FConnectionChanged();
    // A browser just started may take its time before it answers at all: its first answer is not watched.
    FWatching = false;
    struct TWatchAgain {
        bool& Watching;
        ~TWatchAgain() { Watching = true; }
    } watchAgain{FWatching};
    try {
        TDevToolsMessage version =
            Call("Browser.getVersion", nlohmann::json::object(), {}, FOptions.StartTimeout);
        if (auto it = version.Params.find("userAgent"); it != version.Params.end() && it->is_string())
            FUserAgent = it->get<std::string>();
        if (Remote() && FUserAgent.empty()) throw EEngineError(Tr("it gave no user agent"));
        // A headless browser of our own has nowhere to put a download (one elsewhere is not ours to change:
        // downloads are denied in our contexts there).
        if (!Remote()) Send("Browser.setDownloadBehavior", {{"behavior", "deny"}});
    } catch (const EEngineStopped&) {
        Shutdown();
        throw;
    } catch (const EEngineError& e) {
        Shutdown();
        throw EEngineError(Remote()
                               ? FormatText(Tr("The browser at %1 does not answer as a browser: %2"),
                                            {FOptions.Endpoint, e.what()})
                               : FormatText(Tr("The browser started but does not answer: %1"), {e.what()}));
    }
}

bool TChromiumBrowser::Silent() {
    const auto now = Clock::now();
    if (FProbeSent && FLastHeard >= *FProbeSent) FProbeSent.reset(); // it spoke since it was asked
    if (!FProbeSent) {
        if (now - FLastHeard < kQuietBeforeProbe) return false;
        FProbeSent = now;
        Send("Browser.getVersion", nlohmann::json::object());
        return false;
    }
    FSilent = now - *FProbeSent >= kProbeTime;
    return FSilent;
}

Clock::time_point TChromiumBrowser::NextWatch() const {
    return FProbeSent ? *FProbeSent + kProbeTime : FLastHeard + kQuietBeforeProbe;
}

bool TChromiumBrowser::Answers(std::chrono::milliseconds timeout) {
    if (!Running() || FSilent) return false;
    const auto deadline = FCallDeadline;
    FCallDeadline.reset(); // the page's time is not the browser's
    try {
        Call("Browser.getVersion", nlohmann::json::object(), {}, timeout);
        FCallDeadline = deadline;
        return true;
    } catch (const EEngineError&) {
        FCallDeadline = deadline;
        return false;
    }
}

std::string TChromiumBrowser::TakeFirstPage() {
    if (!Running() || Remote() || FFirstPageTaken == FGeneration) return {};
    FFirstPageTaken = FGeneration;
    const TDevToolsMessage reply = Call("Target.getTargets", nlohmann::json::object());
    auto infos = reply.Params.is_object() ? reply.Params.find("targetInfos") : reply.Params.end();
    if (infos == reply.Params.end() || !infos->is_array()) return {};
    for (const auto& info : *infos) {
        if (!info.is_object() || info.value("type", "") != "page" || info.value("attached", false)) continue;
        if (auto id = info.find("targetId"); id != info.end() && id->is_string())
            return id->get<std::string>();
    }
    return {};
}

std::string TChromiumBrowser::MakeContext(std::chrono::milliseconds timeout, const TProxy& proxy) {
    nlohmann::json params = {{"disposeOnDetach", true}};
    if (!proxy.Server.empty()) {
        params["proxyServer"] = proxy.Server;
        if (!proxy.Bypass.empty()) params["proxyBypassList"] = proxy.Bypass;
    }
    const std::string context =
        Str(Call("Target.createBrowserContext", params, {}, timeout).Params, "browserContextId");
    if (context.empty()) throw EEngineError(Tr("The browser made no page to load into"));
    Send("Browser.setDownloadBehavior", {{"behavior", "deny"}, {"browserContextId", context}});
    return context;
}

std::string TChromiumBrowser::SharedContext(std::chrono::milliseconds timeout, const TProxy& proxy) {
    if (FSharedContext.empty() || FSharedContextGeneration != FGeneration) {
        FSharedContext = MakeContext(timeout, proxy);
        FSharedContextGeneration = FGeneration;
    }
    return FSharedContext;
}

void TChromiumBrowser::Shutdown() {
    if (!Running() && !FProcess) return;
    // What we made in a browser that runs elsewhere goes before we do.
    if (Remote() && Running() && !FSharedContext.empty() && FSharedContextGeneration == FGeneration) {
        try {
            Call("Target.disposeBrowserContext", {{"browserContextId", FSharedContext}}, {},
                 std::chrono::milliseconds(5000));
        } catch (const EEngineError&) {
        }
    }
    FSharedContext.clear();
    Lose(Tr("The browser was shut down"));
}

void TChromiumBrowser::Lose(const std::string& reason) {
    if (!Running() && !FProcess) return;
    CloseFds();
    if (FProcess) {
        FProcess->Terminate();
        FProcess.reset();
    }
    auto pending = std::move(FPending);
    FPending.clear();
    for (auto& [id, handler] : pending) {
        if (!handler) continue;
        TDevToolsMessage m;
        m.Id = id;
        m.Error = reason;
        try {
            handler(m);
        } catch (...) {
        }
    }
    auto listeners = FListeners;
    for (auto& [sid, listener] : listeners) {
        try {
            listener->OnBrowserLost(reason);
        } catch (...) {
        }
    }
    if (FConnectionChanged) FConnectionChanged();
}

std::int64_t TChromiumBrowser::Send(std::string_view method, nlohmann::json params,
                                    const std::string& sessionId, TReplyHandler handler) {
    if (!Running()) throw EEngineError(Tr("The browser is not running"));
    const std::int64_t id = FNextId++;
    nlohmann::json message = {{"id", id}, {"method", method}, {"params", std::move(params)}};
    if (!sessionId.empty()) message["sessionId"] = sessionId;
    std::string text = message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    FPending.emplace(id, std::move(handler));
    try {
        FTransport->SendMessage(std::move(text));
    } catch (const EEngineError& e) {
        FPending.erase(id);
        Lose(e.what());
        throw;
    }
    return id;
}

TDevToolsMessage TChromiumBrowser::Call(std::string_view method, nlohmann::json params,
                                        const std::string& sessionId, std::chrono::milliseconds timeout) {
    return Await(SendAwaited(method, std::move(params), sessionId), method, timeout);
}

std::int64_t TChromiumBrowser::SendAwaited(std::string_view method, nlohmann::json params,
                                           const std::string& sessionId) {
    return Send(method, std::move(params), sessionId, [this](TDevToolsMessage& r) {
        if (r.Id) FArrived[*r.Id] = std::move(r);
    });
}

void TChromiumBrowser::Forget(std::int64_t id) {
    FPending.erase(id);
    FArrived.erase(id);
}

TDevToolsMessage TChromiumBrowser::Await(std::int64_t id, std::string_view method,
                                         std::chrono::milliseconds timeout) {
    if (timeout.count() <= 0) timeout = FOptions.CallTimeout;
    auto deadline = Clock::now() + timeout;
    const bool cut = FCallDeadline && *FCallDeadline < deadline;
    if (cut) deadline = *FCallDeadline;
    auto arrived = FArrived.find(id);
    while (arrived == FArrived.end()) {
        if (FStop.stop_requested()) {
            Forget(id);
            throw EEngineStopped();
        }
        if (Running() && FWatching && Silent()) {
            Forget(id);
            throw EEngineHung(FormatText(Tr("The browser stopped answering: nothing came for %1 while it was "
                                            "waited for"),
                                         {Seconds(kQuietBeforeProbe + kProbeTime)}));
        }
        const int left = std::min(MillisUntil(deadline), FWatching ? MillisUntil(NextWatch()) : 1 << 30);
        if (MillisUntil(deadline) == 0 || !Running()) {
            Forget(id);
            if (!Running()) throw EEngineError(Tr("The browser ended unexpectedly"));
            throw EEngineTimeout(
                cut ? FormatText(Tr("The browser gave no answer to %1 before the page's time was up"),
                                 {method})
                    : FormatText(Tr("The browser gave no answer to %1 within %2"),
                                 {method, Seconds(timeout)}));
        }
        bool extraRan = false;
        int r = left > 0 ? PollConnection(left, extraRan) : 0;
        if (r < 0 && errno != EINTR) {
            Lose(Tr("The connection to the browser failed"));
        } else if (r > 0) {
            ReadAndDispatch();
        }
        arrived = FArrived.find(id);
    }
    TDevToolsMessage reply = std::move(arrived->second);
    FArrived.erase(arrived);
    if (!FQueued.empty() && FWake && !FWakeRequested) {
        FWakeRequested = true;
        FWake();
    }
    if (reply.Error) throw EEngineError(std::string(method) + ": " + *reply.Error);
    return reply;
}

void TChromiumBrowser::ReadAndDispatch() {
    if (!Running()) return;
    std::string why;
    IDevToolsTransport* transport = FTransport.get();
    const std::size_t oversized = transport->Oversized();
    FReceiving = true;
    TDevToolsReader::TReadResult result;
    try {
        result = transport->Receive(
            [this](std::string_view m) {
                if (FTransport) Dispatch(m); // nothing more of a browser lost meanwhile
            },
            &why);
    } catch (...) {
        FReceiving = false;
        throw;
    }
    FReceiving = false;
    FMalformed += transport->Oversized() - oversized;
    FRetired.reset();
    if (!FTransport) return;
    FLastHeard = Clock::now();
    FSilent = false;
    if (result == TDevToolsReader::TReadResult::Closed && !why.empty()) {
        Lose(Remote() ? why + " (" + FOptions.Endpoint + ")" : why);
    } else if (result == TDevToolsReader::TReadResult::Closed) {
        std::string how;
        if (FProcess) {
            for (int i = 0; i < 50 && !FProcess->HasExited(&how); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(4));
        }
        Lose(how.empty() ? std::string(Tr("The browser ended unexpectedly"))
                         : FormatText(Tr("The browser ended unexpectedly (%1)"), {how}));
    }
}

void TChromiumBrowser::Dispatch(std::string_view text) {
    std::optional<TDevToolsMessage> m;
    try {
        m = ParseDevToolsMessage(text);
    } catch (...) {
    }
    if (!m) {
        ++FMalformed;
        return;
    }
    try {
        if (m->Id) {
            auto it = FPending.find(*m->Id);
            if (it == FPending.end()) return; // a reply nobody waits for (a timed-out call): dropped
            TReplyHandler handler = std::move(it->second);
            FPending.erase(it);
            if (handler) handler(*m);
            return;
        }
        std::string sid = m->SessionId;
        if (sid.empty() && m->Method == "Target.detachedFromTarget" && m->Params.is_object())
            sid = m->Params.value("sessionId", std::string());
        if (sid.empty()) return;
        auto it = FListeners.find(sid);
        if (it != FListeners.end()) it->second->OnSessionEvent(*m);
    } catch (const EEngineError&) {
        // A command sent while handling this message failed; the browser is then lost and says so.
    } catch (const std::exception&) {
        ++FMalformed; // fields of unexpected types
    }
}

void TChromiumBrowser::Post(std::function<void()> work) {
    FQueued.push_back(std::move(work));
    if (FWake && !FWakeRequested) {
        FWakeRequested = true;
        FWake();
    }
}

void TChromiumBrowser::RunQueued() {
    while (!FQueued.empty()) {
        auto work = std::move(FQueued.front());
        FQueued.pop_front();
        if (work) work();
    }
}

void TChromiumBrowser::ProcessIncoming() {
    FWakeRequested = false;
    if (Running()) {
        pollfd p{ConnectionFd(), POLLIN, 0};
        if (::poll(&p, 1, 0) > 0) ReadAndDispatch();
    }
    RunQueued();
}

bool TChromiumBrowser::WaitIncoming(std::chrono::milliseconds timeout) {
    if (!FQueued.empty()) {
        ProcessIncoming();
        return true;
    }
    if (!Running()) return false;
    bool extraRan = false;
    int r = PollConnection(static_cast<int>(timeout.count()), extraRan);
    if (r <= 0) return extraRan;
    ProcessIncoming();
    return true;
}

int TChromiumBrowser::PollConnection(int milliseconds, bool& extraRan) {
    if (FStop.stop_requested()) return 0;
    pollfd p[3] = {{ConnectionFd(), POLLIN, 0}, {FExtraWakeFd, POLLIN, 0}, {FStopFd, POLLIN, 0}};
    // An fd below 0 is ignored by poll.
    const int r = ::poll(p, 3, milliseconds);
    if (r <= 0) return r;
    if ((p[1].revents & POLLIN) && FExtraWake) {
        FExtraWake();
        extraRan = true;
    }
    return p[0].revents != 0 ? 1 : 0;
}

void TChromiumBrowser::AddListener(const std::string& sessionId, IDevToolsSessionListener* listener) {
    FListeners[sessionId] = listener;
}

void TChromiumBrowser::RemoveListener(const std::string& sessionId) {
    FListeners.erase(sessionId);
}

} // namespace korvane
