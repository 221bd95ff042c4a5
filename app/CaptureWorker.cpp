#include "CaptureWorker.h"
#include "app/Translated.h"

#include "app/HostOptions.h"
#include "browser/BrowserHost.h"
#include "browser/ChromiumEngine.h"
#include "browser/qt/ChromiumQtPump.h"
#include "capture/CapturePipeline.h"
#include "platform/Errors.h"

#include <QAbstractEventDispatcher>
#include <QMetaObject>

#include <algorithm>
#include <cstring>
#include <future>

namespace korvane {

namespace {

// A file that could not be written: the error's own text, then the file and the system's reason.
QString CaptureErrorText(std::exception_ptr error, const TCaptureSettings& settings) {
    try {
        std::rethrow_exception(error);
    } catch (const EFileError& e) {
        QString text = QString::fromUtf8(e.what());
        if (e.Cause() != 0)
            text += QLatin1Char('\n') + QString::fromStdString(CaptureFilePath(settings)) +
                    QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(e.Cause()));
        return text;
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QTr("Unknown error");
    }
}

} // namespace

TCaptureWorker::TCaptureWorker(std::unique_ptr<TBrowserHost> host) : FHost(std::move(host)) {
    FThread.setObjectName(QStringLiteral("korvane-engine"));
    FContext.moveToThread(&FThread);
    FHost->OnStatusTextChange = [this](TBrowserHost&, const std::string& text) { OnStatusText(text); };
    FThread.start();
    Post([this] { StartPump(); });
}

void TCaptureWorker::Post(std::function<void()> work) {
    {
        std::lock_guard lock(FMutex);
        FInbox.push_back(std::move(work));
    }
    // The queued call carries nothing but the worker: the work goes through FInbox, under a lock the thread
    // sanitizer sees (Qt's event queue is not built with it). Calls and works keep their order.
    QMetaObject::invokeMethod(
        &FContext, [this] { RunPosted(); }, Qt::QueuedConnection);
}

void TCaptureWorker::RunPosted() {
    std::function<void()> work;
    {
        std::lock_guard lock(FMutex);
        if (FInbox.empty()) return;
        work = std::move(FInbox.front());
        FInbox.pop_front();
    }
    work();
}

TCaptureWorker::~TCaptureWorker() {
    if (FThread.isRunning()) Shutdown(std::chrono::milliseconds(2000));
    // What the worker's thread left in the inbox is cleared under the lock it took it with.
    std::lock_guard lock(FMutex);
    FInbox.clear();
}

void TCaptureWorker::StartPump() {
    // The load wait: whenever the thread has handled everything that is pending and is about to sleep, the
    // ready state is read again. Nothing spins, and no event is ever handled inside another.
    connect(
        QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, &FContext,
        [this] { CheckLoad(); }, Qt::DirectConnection);
    if (auto* chromium = dynamic_cast<TChromiumEngine*>(&FHost->Engine())) {
        FPump = std::make_unique<TChromiumQtPump>(chromium->SharedBrowser());
        FPump->OnError = [this](const std::exception& e) {
            Tell(&TCaptureWorker::EngineError, QString::fromUtf8(e.what()));
        };
    }
}

void TCaptureWorker::OnStatusText(const std::string& text) {
    std::uint64_t job;
    {
        std::lock_guard lock(FMutex);
        job = FCurrent;
    }
    Tell(&TCaptureWorker::StatusText, job,
         QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

std::stop_token TCaptureWorker::BeginJob(std::uint64_t job) {
    std::stop_token token;
    {
        std::lock_guard lock(FMutex);
        if (FCurrent != job) {
            FCurrent = job;
            FStop = std::stop_source();
            if (job <= FCancelledUpTo) FStop.request_stop();
        }
        token = FStop.get_token();
    }
    FHost->Engine().SetStopToken(token);
    return token;
}

bool TCaptureWorker::IsCancelled(std::uint64_t job) {
    std::lock_guard lock(FMutex);
    return job <= FCancelledUpTo || FEnded;
}

void TCaptureWorker::Load(const TLoadJob& job) {
    Post([this, job] { RunLoad(job); });
}

void TCaptureWorker::RunLoad(const TLoadJob& job) {
    if (IsCancelled(job.Id)) return; // given up before it began: the window has moved on
    BeginJob(job.Id);
    FLoading = 0;
    try {
        ApplyDownloadOptions(*FHost, job.Security);
        ApplyScrollBarOption(*FHost, job.HideScrollBar);
        FHost->Engine().Resize(job.View.Width, job.View.Height);
        FHost->Navigate(job.Address);
        FLoading = job.Id;
        CheckLoad();
    } catch (...) {
        RestView();
        Tell(&TCaptureWorker::Failed, job.Id);
    }
}

void TCaptureWorker::RestView() {
    try {
        FHost->Engine().RestView(kRestingViewSize, kRestingViewSize);
    } catch (...) {
        // A browser that cannot be reached has no view to rest.
    }
}

void TCaptureWorker::CheckLoad() {
    if (!FLoading) return;
    const std::uint64_t job = FLoading;
    try {
        if (FHost->ReadyState() != READYSTATE_COMPLETE) return;
        FLoading = 0;
        const bool document = FHost->Document().has_value();
        if (!document) RestView();
        Tell(&TCaptureWorker::Loaded, job, document,
             document ? QString() : QString::fromStdString(FHost->NavigationError()), false);
    } catch (...) {
        FLoading = 0;
        Tell(&TCaptureWorker::Failed, job);
    }
}

void TCaptureWorker::LoadTimeUp(std::uint64_t job, std::int64_t waitedSeconds) {
    Post([this, job, waitedSeconds] {
        if (FLoading != job || IsCancelled(job)) return; // ended meanwhile, or given up
        FLoading = 0;
        try {
            // A page whose document has come (parsed: only its pictures, frames or the like still load) is
            // stopped and drawn as it is.
            const bool interactive = FHost->ReadyState() >= READYSTATE_INTERACTIVE;
            FHost->Stop();
            const bool document = interactive && FHost->Document().has_value();
            if (!document) RestView();
            Tell(&TCaptureWorker::Loaded, job, document,
                 document ? QString()
                          : QTr("timed out after %1 s while loading").arg(QString::number(waitedSeconds)),
                 document);
        } catch (...) {
            RestView();
            Tell(&TCaptureWorker::Failed, job);
        }
    });
}

void TCaptureWorker::Capture(std::uint64_t job, const TCaptureSettings& settings, TBitmap* bitmap) {
    Post([this, job, settings, bitmap] { RunCapture(job, settings, bitmap); });
}

void TCaptureWorker::RunCapture(std::uint64_t job, const TCaptureSettings& settings, TBitmap* bitmap) {
    if (IsCancelled(job)) return;
    const std::stop_token stop = BeginJob(job);
    try {
        auto document = FHost->Document();
        if (!document) {
            Tell(&TCaptureWorker::Captured, job, QString(), QString(), true);
            return;
        }
        const TCaptureOutcome outcome = CaptureDocument(
            FHost->Engine(), *document, *bitmap, settings,
            [this, job](const std::string& text) {
                Tell(&TCaptureWorker::Status, job, QString::fromStdString(text));
            },
            stop);
        Tell(&TCaptureWorker::Captured, job, QString::fromStdString(outcome.Path), QString(), false);
    } catch (...) {
        Tell(&TCaptureWorker::Captured, job, QString(), CaptureErrorText(std::current_exception(), settings),
             false);
    }
}

void TCaptureWorker::Abort(std::uint64_t job) {
    {
        std::lock_guard lock(FMutex);
        FCancelledUpTo = std::max(FCancelledUpTo, job);
        if (FCurrent == job) FStop.request_stop();
    }
    Post([this, job] {
        if (FLoading == job) FLoading = 0;
        {
            std::lock_guard lock(FMutex);
            if (FCurrent != job && job != 0) return; // a later job is under way
        }
        // The stop is the job's; stopping the load itself must not be cut short by it.
        FHost->Engine().SetStopToken({});
        try {
            FHost->Stop();
        } catch (...) {
            // A browser that cannot be reached has nothing to stop.
        }
        RestView();
    });
}

void TCaptureWorker::EndOnThread() {
    FLoading = 0;
    FPump.reset();
    try {
        FHost->Engine().Shutdown();
    } catch (...) {
    }
    FHost.reset();
    HandOver(this); // the thread ends here: what it did is for whoever waits for its end
    FThread.quit();
}

bool TCaptureWorker::Shutdown(std::chrono::milliseconds limit) {
    {
        std::lock_guard lock(FMutex);
        if (!FEnded) {
            FEnded = true;
            FStop.request_stop();
            FInbox.push_back([this] { EndOnThread(); });
            QMetaObject::invokeMethod(
                &FContext, [this] { RunPosted(); }, Qt::QueuedConnection);
        }
    }
    const bool ended = FThread.wait(QDeadlineTimer(limit.count()));
    if (ended) TakeOver(this); // what the thread did before its end is this thread's to see
    return ended;
}

void TCaptureWorker::RunAndWait(const std::function<void()>& work) {
    std::promise<void> done;
    Post([&work, &done] {
        try {
            work();
            done.set_value();
        } catch (...) {
            done.set_exception(std::current_exception());
        }
    });
    done.get_future().get();
}

} // namespace korvane
