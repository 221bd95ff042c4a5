#pragma once
// Drives the shared Chromium connection from the Qt event loop: a socket notifier on the DevTools connection
// (made again whenever the browser is started or lost) and a queued call when work is waiting, so nothing
// spins. Engine events, and the host callbacks they cause (status texts), then run from the event loop.
#include <exception>
#include <functional>
#include <memory>

#include <QObject>
#include <QSocketNotifier>

#include "browser/ChromiumBrowser.h"

namespace korvane {

class TChromiumQtPump : public QObject {
public:
    explicit TChromiumQtPump(std::shared_ptr<TChromiumBrowser> browser = TChromiumBrowser::Shared(),
                             QObject* parent = nullptr);
    ~TChromiumQtPump() override;

    TChromiumBrowser& Browser() { return *FBrowser; }
    // An exception that escaped a host callback while the connection was served (none crosses the event
    // loop).
    std::function<void(const std::exception&)> OnError;

private:
    void Rewatch();
    void Pump();

    std::shared_ptr<TChromiumBrowser> FBrowser;
    std::unique_ptr<QSocketNotifier> FNotifier;
    int FWatchedFd = -1;
};

} // namespace korvane
