// The capture job: from "&Go" to the countdown, and Abort.
#include "MainWindow.h"

#include "platform/Clock.h"

#include <QLabel>
#include <QLineEdit>
#include <QTimer>

namespace korvane {

void TfrmKorvane::tbCaptureClick() {
    SetBusy();
    try {
        const QString address = TrimAddress(EditAddress->text());
        if (!HasWebPrefix(address)) {
            SetIdle();
            return;
        }
        StartTime = GetTickCount64();
        ShowStatus(QStringLiteral("go......"));
        // The browser host and the capture join here.
        SetIdle();
    } catch (...) {
        SetIdle(); // errors of the navigation and the load wait end the job without a message
    }
}

void TfrmKorvane::TimerTimer() {
    if (FAborted) {
        SetIdle();
        Timer->stop();
    }
    if (FWaitTicks > 0) {
        --FWaitTicks;
        lblMessage->setText(QStringLiteral("wait %1...").arg((FWaitTicks + 9) / 10));
    }
    if (FWaitTicks <= 0) Timer->stop();
}

void TfrmKorvane::tbAbortClick() {
    FAborted = true;
    SetIdle();
    ShowStatus(QStringLiteral("Aborted"));
}

} // namespace korvane
