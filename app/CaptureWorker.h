#pragma once
// The engine's side of the window's capture job, on a thread of its own so that the window keeps painting
// and answering while a page loads, is measured, drawn and written. The worker owns the browser host `wb`
// (and through it the engine); everything it does to them runs on its thread, one job step at a time. The
// window asks through the thread-safe calls below and hears back through queued signals, each tagged with
// the job it belongs to, so that a late answer of a job the window has given up is told apart.
#include "browser/Engine.h"
#include "capture/CapturePipeline.h"
#include "capture/SecuritySwitches.h"
#include "platform/ThreadHandOff.h"

#include <QObject>
#include <QString>
#include <QThread>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>

namespace korvane {

class TBitmap;
class TBrowserHost;
class TChromiumQtPump;

// What a load needs: the address as the job keeps it, and what the page may load.
struct TLoadJob {
    std::uint64_t Id = 0;
    std::string Address;
    TSecuritySwitches Security;
    bool HideScrollBar = false;
    TViewSize View; // the page is loaded in a view of this size
};

class TCaptureWorker : public QObject {
    Q_OBJECT
public:
    // Takes the host made on the window's thread and starts the thread; a Chromium engine's connection is
    // read by the thread's event loop.
    explicit TCaptureWorker(std::unique_ptr<TBrowserHost> host);
    ~TCaptureWorker() override;

    TBrowserHost& Host() { return *FHost; }

    // --- from the window's thread ---
    // Applies the restrictions and navigates; Loaded follows (or Failed when the navigation raised).
    void Load(const TLoadJob& job);
    // Captures the loaded document into the bitmap and writes the file; Captured follows. The bitmap is
    // the worker's until then.
    void Capture(std::uint64_t job, const TCaptureSettings& settings, TBitmap* bitmap);
    // The job's load has had its time: it is stopped, and Loaded follows as for a load that ended, `partial`
    // when the document had come (it is captured as it is), else with the reason. Nothing when the load has
    // ended meanwhile.
    void LoadTimeUp(std::uint64_t job, std::int64_t waitedSeconds);
    // Gives the job up at once: a wait on the engine ends, the picture is not written, the load is stopped.
    void Abort(std::uint64_t job);
    // Ends the job under way, the engine and the thread. False when the thread did not end within `limit`.
    bool Shutdown(std::chrono::milliseconds limit);
    // Runs `work` on the worker's thread and waits for it (tests look at the engine this way).
    void RunAndWait(const std::function<void()>& work);

signals:
    // The engine's status text (UTF-8 made into a QString), tagged with the job under way.
    void StatusText(quint64 job, const QString& text);
    // A text of the capture steps ("capture......", "save......").
    void Status(quint64 job, const QString& text);
    // The load ended: with a document, or without one (then `error` may say why); `partial` when its time
    // was up before it was complete.
    void Loaded(quint64 job, bool document, const QString& error, bool partial);
    // The navigation or the load wait raised: the job ends without a message.
    void Failed(quint64 job);
    // The capture ended: `path` written (empty when there was no document), or `error` says why not.
    void Captured(quint64 job, const QString& path, const QString& error, bool noDocument);
    // An error of the engine outside any step (the pipe could not be served).
    void EngineError(const QString& text);

private:
    // Work for the worker's thread, in order (RunPosted runs the next).
    void Post(std::function<void()> work);
    void RunPosted();
    // Emits a signal to the window's thread; what this thread did before is the window's to see.
    template <class... TParams, class... TArgs>
    void Tell(void (TCaptureWorker::*signal)(TParams...), TArgs&&... args) {
        HandOver(this);
        (this->*signal)(std::forward<TArgs>(args)...);
    }
    void StartPump();
    void OnStatusText(const std::string& text);
    // The view back at its resting size: the page loaded for the job is done with.
    void RestView();
    void CheckLoad();
    void RunLoad(const TLoadJob& job);
    void RunCapture(std::uint64_t job, const TCaptureSettings& settings, TBitmap* bitmap);
    void EndOnThread();
    std::stop_token BeginJob(std::uint64_t job);
    bool IsCancelled(std::uint64_t job);

    QThread FThread;
    QObject FContext; // lives on FThread: queued work runs there
    std::unique_ptr<TBrowserHost> FHost;
    std::unique_ptr<TChromiumQtPump> FPump;

    // Worker thread only.
    std::uint64_t FLoading = 0; // the job whose load is awaited, 0 for none

    // Shared with the window's thread.
    std::mutex FMutex;
    std::uint64_t FCurrent = 0;       // the job the engine works for
    std::uint64_t FCancelledUpTo = 0; // jobs up to this one were given up
    std::stop_source FStop;
    bool FEnded = false;
    std::deque<std::function<void()>> FInbox; // work for the worker's thread
};

} // namespace korvane
