#include "Program.h"

#include "MainWindow.h"
#include "platform/Signals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

namespace korvane {

int RunWindow(const TAppPaths& paths, std::unique_ptr<TEngine> engine,
              const std::function<void(TfrmKorvane&)>& started) {
    const int signalled = WatchTerminationSignals();
    auto window = std::make_unique<TfrmKorvane>(paths, std::move(engine));
    QSocketNotifier notifier(signalled, QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, window.get(), [&] {
        notifier.setEnabled(false); // the descriptor stays readable: once is enough
        window->tbExitClick();
    });
    window->show();
    if (started) started(*window);
    const int status = QCoreApplication::exec();
    window.reset(); // stops the job, ends the browser, writes the settings
    return status;
}

} // namespace korvane
