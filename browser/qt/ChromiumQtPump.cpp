#include "browser/qt/ChromiumQtPump.h"

#include <QMetaObject>
#include <QtGlobal>

namespace korvane {

TChromiumQtPump::TChromiumQtPump(std::shared_ptr<TChromiumBrowser> browser, QObject* parent)
    : QObject(parent), FBrowser(std::move(browser)) {
    FBrowser->SetConnectionChangedHandler([this] { Rewatch(); });
    FBrowser->SetWakeHandler([this] {
        QMetaObject::invokeMethod(
            this, [this] { Pump(); }, Qt::QueuedConnection);
    });
    Rewatch();
}

TChromiumQtPump::~TChromiumQtPump() {
    FBrowser->SetConnectionChangedHandler(nullptr);
    FBrowser->SetWakeHandler(nullptr);
}

void TChromiumQtPump::Rewatch() {
    const int fd = FBrowser->ConnectionFd();
    if (fd == FWatchedFd && FNotifier) return;
    if (FNotifier) {
        FNotifier->setEnabled(false);
        // May be called from inside the notifier's own signal: delete it once control is back in the loop.
        FNotifier.release()->deleteLater();
    }
    FWatchedFd = fd;
    if (fd < 0) return;
    FNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(FNotifier.get(), &QSocketNotifier::activated, this, [this] { Pump(); });
}

void TChromiumQtPump::Pump() {
    try {
        FBrowser->ProcessIncoming();
    } catch (const std::exception& e) {
        if (OnError)
            OnError(e);
        else
            qWarning("korvane: %s", e.what());
    }
}

} // namespace korvane
