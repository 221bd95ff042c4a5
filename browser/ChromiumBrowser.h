#pragma once
// The connection to one Chromium, shared by the page engines that use it: starts our own browser when first
// needed (and again after it died) or connects to one that runs elsewhere, sends commands over the
// connection (the DevTools pipe of our own browser, the WebSocket of another), routes replies to their
// callers and events to the page sessions. Nothing here blocks except Call (and WaitIncoming), which wait on
// the connection only.
//
// Event-loop integration: watch ConnectionFd() for reading and call ProcessIncoming() when it is readable;
// call it also when the wake handler fires (work was queued while a synchronous call read the connection).
// The fd changes when a browser is started or lost: the connection-changed handler says so. Everything runs
// on one thread (the one that started the browser); nothing here is locked.
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

#include <nlohmann/json.hpp>

#include "browser/ChromiumProcess.h"
#include "browser/DevToolsReader.h"
#include "browser/DevToolsTransport.h"
#include "browser/PageOptions.h"

namespace korvane {

class TChromiumProcess;

// A page session's view of the browser: its events, and the loss of the browser.
class IDevToolsSessionListener {
public:
    virtual void OnSessionEvent(const TDevToolsMessage& event) = 0;
    virtual void OnBrowserLost(const std::string& reason) = 0;

protected:
    ~IDevToolsSessionListener() = default;
};

class TChromiumBrowser {
public:
    struct TOptions {
        std::string Path = TChromiumProcess::DefaultPath();
        // A browser that runs elsewhere (ws: or http: address of its DevTools server): connected to instead
        // of started. Empty: our own browser.
        std::string Endpoint;
        std::vector<std::string> ExtraArguments;
        std::chrono::milliseconds CallTimeout{30000};
        std::chrono::milliseconds StartTimeout{30000};
    };
    using TReplyHandler = std::function<void(TDevToolsMessage& reply)>;

    explicit TChromiumBrowser(TOptions options);
    TChromiumBrowser();
    ~TChromiumBrowser();
    TChromiumBrowser(const TChromiumBrowser&) = delete;
    TChromiumBrowser& operator=(const TChromiumBrowser&) = delete;

    // The program's browser, made at first use with default options.
    static std::shared_ptr<TChromiumBrowser> Shared();

    const TOptions& Options() const { return FOptions; }
    void SetCallTimeout(std::chrono::milliseconds timeout) { FOptions.CallTimeout = timeout; }
    // While set, no call waits beyond this point, whatever its own timeout (a page's time is up).
    void SetCallDeadline(std::optional<std::chrono::steady_clock::time_point> deadline) {
        FCallDeadline = deadline;
    }
    // While the token is stopped, every wait on the connection (synchronous calls, the start) ends at once
    // with EEngineStopped; a stop requested during a wait ends that wait. May be set again for each job.
    void SetStopToken(std::stop_token token);
    bool StopRequested() const { return FStop.stop_requested(); }
    // Starts the browser unless it runs. Throws EEngineError (e.g. the browser is not installed).
    void Start();
    bool Running() const { return FTransport != nullptr; }
    // Whether the browser is one that runs elsewhere: it is not ours to end, its first page is not ours to
    // take, and what we make in it we remove.
    bool Remote() const { return !FOptions.Endpoint.empty(); }
    // Counts browser processes started; a page compares it to know its target belongs to a dead browser.
    std::uint64_t Generation() const { return FGeneration; }
    // Ends the browser now (kills its processes, removes its profile). Pending calls fail.
    void Shutdown();
    pid_t ProcessId() const;
    std::string ProfileDir() const;
    // When the browser last sent anything (a reply, an event); the start for a browser that has sent
    // nothing yet.
    std::chrono::steady_clock::time_point LastHeard() const { return FLastHeard; }
    // Whether the browser itself answers a command of its own within `timeout` (a page busy with a script
    // does not keep it from answering; a browser that hangs does not answer). Waits on the connection
    // meanwhile.
    bool Answers(std::chrono::milliseconds timeout);
    // The browser's own user agent, read at start.
    const std::string& UserAgent() const { return FUserAgent; }
    // The page the browser opened at start, the first time it is asked for (later: empty, make a new page).
    std::string TakeFirstPage();
    // A browser that runs elsewhere: a new browser context of ours (downloads denied in it), which the
    // browser removes when our connection ends, however it ends. Throws EEngineError.
    // With a proxy's server, the context's requests go through it.
    std::string MakeContext(std::chrono::milliseconds timeout = std::chrono::milliseconds(0),
                            const TProxy& proxy = {});
    // The one context of this connection that pages sharing their cache and cookies are made in; it goes
    // with Shutdown.
    std::string SharedContext(std::chrono::milliseconds timeout = std::chrono::milliseconds(0),
                              const TProxy& proxy = {});

    int ConnectionFd() const { return FTransport ? FTransport->Fd() : -1; }
    // Readable once the stop token is stopped (-1 before a token was set).
    int StopFd() const { return FStopFd; }
    // Handles whatever has arrived, without blocking, then runs queued work (host callbacks).
    void ProcessIncoming();
    // Waits up to `timeout` for the connection (returns at once when work is queued), then ProcessIncoming().
    // False when nothing arrived and nothing ran.
    bool WaitIncoming(std::chrono::milliseconds timeout);
    bool HasQueuedWork() const { return !FQueued.empty(); }
    // A readable fd of the caller's (an eventfd a worker thread signals, say) ends every wait on the
    // connection, synchronous calls included, to run `handler`, which reads the fd. The handler must not call
    // the browser. -1 removes it.
    void SetExtraWake(int fd, std::function<void()> handler) {
        FExtraWakeFd = fd;
        FExtraWake = fd >= 0 ? std::move(handler) : nullptr;
    }
    void SetConnectionChangedHandler(std::function<void()> handler) {
        FConnectionChanged = std::move(handler);
    }
    void SetWakeHandler(std::function<void()> handler) { FWake = std::move(handler); }

    // Sends a command; the handler (if any) gets the reply, with Error set when it failed or the browser was
    // lost. Never blocks for long; throws EEngineError when the browser does not run.
    std::int64_t Send(std::string_view method, nlohmann::json params, const std::string& sessionId = {},
                      TReplyHandler handler = {});
    // Sends a command and waits for its reply, handling other traffic meanwhile (events are acted on, their
    // host callbacks queued). Throws EEngineError on an error reply, a lost browser or the timeout.
    TDevToolsMessage Call(std::string_view method, nlohmann::json params, const std::string& sessionId = {},
                          std::chrono::milliseconds timeout = std::chrono::milliseconds(0));
    // Sends a command whose reply Await collects later, so that several commands can be under way at once.
    // Every id is awaited or forgotten once.
    std::int64_t SendAwaited(std::string_view method, nlohmann::json params,
                             const std::string& sessionId = {});
    // Waits for the reply of a command sent with SendAwaited; throws like Call (a timeout forgets the
    // command).
    TDevToolsMessage Await(std::int64_t id, std::string_view method,
                           std::chrono::milliseconds timeout = std::chrono::milliseconds(0));
    // Drops a command sent with SendAwaited whose reply is no longer wanted, whether it came or not.
    void Forget(std::int64_t id);
    // Queues work to run at the end of the next ProcessIncoming, outside any synchronous call.
    void Post(std::function<void()> work);

    void AddListener(const std::string& sessionId, IDevToolsSessionListener* listener);
    void RemoveListener(const std::string& sessionId);

    // Talks over the given fds instead of a started browser (tests feed the reader through them). The
    // browser takes ownership of both fds.
    void AttachPipes(int readFd, int writeFd);
    std::size_t MalformedMessages() const { return FMalformed; }

private:
    // The watch on a browser a call waits for: asks a browser that has been quiet whether it answers; true
    // once one that was asked has sent nothing within the probe's time.
    bool Silent();
    std::chrono::steady_clock::time_point NextWatch() const;
    void ReadAndDispatch();
    int PollConnection(int milliseconds, bool& extraRan);
    void Dispatch(std::string_view text);
    void Lose(const std::string& reason);
    void RunQueued();
    void CloseFds();

    TOptions FOptions;
    std::unique_ptr<TChromiumProcess> FProcess;
    std::unique_ptr<IDevToolsTransport> FTransport;
    std::unique_ptr<IDevToolsTransport> FRetired; // lost while its messages were handed out; goes after
    bool FReceiving = false;
    std::uint64_t FGeneration = 0;
    std::int64_t FNextId = 1;

    std::map<std::int64_t, TReplyHandler> FPending;
    std::map<std::int64_t, TDevToolsMessage> FArrived; // replies of SendAwaited commands not yet awaited
    std::optional<std::chrono::steady_clock::time_point> FCallDeadline;
    std::map<std::string, IDevToolsSessionListener*> FListeners;
    std::deque<std::function<void()>> FQueued;
    std::function<void()> FConnectionChanged, FWake, FExtraWake;
    int FExtraWakeFd = -1;
    std::chrono::steady_clock::time_point FLastHeard = std::chrono::steady_clock::now();
    std::stop_token FStop;
    int FStopFd = -1; // an eventfd, readable once FStop is stopped
    std::optional<std::stop_callback<std::function<void()>>> FOnStop;
    std::string FUserAgent;
    std::uint64_t FFirstPageTaken = 0; // the generation whose first page was handed out
    std::string FSharedContext;
    std::uint64_t FSharedContextGeneration = 0;
    std::size_t FMalformed = 0;
    bool FWakeRequested = false;
    bool FWatching = true;                                           // calls watch for a browser that hangs
    std::optional<std::chrono::steady_clock::time_point> FProbeSent; // a question to a quiet browser
    bool FSilent = false;                                            // it gave no answer to the question
};

} // namespace korvane
