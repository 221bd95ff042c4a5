// The capture job: from "&Go" through the load wait and the countdown to the written file, and Abort.
#include "MainWindow.h"

#include "Desktop.h"
#include "browser/BrowserHost.h"
#include "capture/CapturePipeline.h"
#include "capture/DownloadRestrictions.h"
#include "imaging/Bitmap.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/IntegerText.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

#include <algorithm>
#include <limits>

namespace korvane {

namespace {

std::int32_t IntegerText(const QString& text, std::int32_t def) {
    return StrToIntDef(text.toStdString(), def);
}

// A size list's choice: "auto", "any" (its edit box) or the item's own number. No selection counts as "auto".
TSideChoice SideChoice(const QComboBox* list, const QLineEdit* any) {
    switch (list->currentIndex()) {
    case -1:
    case 0:
        return TSideChoice::Auto();
    case 1:
        return TSideChoice::Fixed(IntegerText(any->text(), 2000));
    default:
        return TSideChoice::Fixed(IntegerText(list->currentText(), 999));
    }
}

} // namespace

TCaptureSettings TfrmKorvane::CaptureSettings() const {
    TCaptureSettings s;
    s.Width = SideChoice(cbCapWidth, EditAnyWidth);
    s.Height = SideChoice(cbCapHeight, EditAnyHeight);
    s.Format = static_cast<TSaveFormat>(std::clamp(cbSaveFormat->currentIndex(), 0, 2));
    s.Address = EditAddress->text().toStdString();
    s.OutputFolder = EditOutput->text().toStdString();
    s.FallbackFolder = FPaths.ProgramFolder;
    return s;
}

void TfrmKorvane::ApplyDownloadOptions() {
    TSecuritySwitches s;
    s.Image = cbSecImage->isChecked();
    s.Video = cbSecVideo->isChecked();
    s.Script = cbSecScript->isChecked();
    s.Java = cbSecJava->isChecked();
    s.ActiveX = cbSecActiveX->isChecked();
    s.ActiveXDownload = cbSecAXDL->isChecked();
    korvane::ApplyDownloadOptions(*wb, s);
}

void TfrmKorvane::ApplyScrollBarOption(bool hideScrollBar) {
    korvane::ApplyScrollBarOption(*wb, hideScrollBar);
}

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
        ApplyDownloadOptions();
        ApplyScrollBarOption(cbHideScrollBar->isChecked());
        wb->Navigate(EditAddress->text().toStdString());

        // The load wait: sleeps until the next event (the engine's, a timer's, the user's), never spins.
        for (;;) {
            if (wb->ReadyState() == 4) {
                if (!wb->Document()) {
                    SetIdle();
                    // A load that failed names its reason; no file is written for an error page.
                    if (const std::string error = wb->NavigationError(); !error.empty() && !FAborted)
                        ShowStatus(QString::fromStdString(error));
                    return;
                }
                if (FAborted) return; // "Aborted" stays
                const std::int64_t ticks = std::max<std::int64_t>(0, IntegerText(EditDelay->text(), 1)) * 10;
                FWaitTicks = static_cast<std::int32_t>(
                    std::min<std::int64_t>(ticks, std::numeric_limits<std::int32_t>::max()));
                ShowStatus(QStringLiteral("wait......"));
                Timer->start();
                return;
            }
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            if (FAborted || FClosing) return;
        }
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
        SetStatusLabel(QStringLiteral("wait %1...").arg((FWaitTicks + 9) / 10));
    }
    if (FWaitTicks == 0) CapturePage();
    if (FWaitTicks <= 0) Timer->stop();
}

void TfrmKorvane::CapturePage() {
    std::exception_ptr failure;
    try {
        if (auto document = wb->Document()) {
            const TCaptureOutcome outcome =
                CaptureDocument(*wb, *document, *FBitmap, CaptureSettings(), [this](const std::string& text) {
                    ShowStatus(QString::fromStdString(text));
                });
            if (cbAndView->isChecked() && FileExists(outcome.Path))
                Desktop().Open(this, QString::fromStdString(outcome.Path));
        }
    } catch (...) {
        failure = std::current_exception();
    }
    // The job ends the same way with or without a file; an error then goes on to the error box.
    SetIdle();
    ShowStatus(QStringLiteral("finished [ %1 msec]").arg(GetTickCount64() - StartTime));
    FBitmap->Clear();
    if (failure) std::rethrow_exception(failure);
}

void TfrmKorvane::tbAbortClick() {
    FAborted = true;
    try {
        wb->Stop();
    } catch (...) {
        // A browser that cannot be reached has nothing to stop; Abort still returns to idle.
    }
    SetIdle();
    ShowStatus(QStringLiteral("Aborted"));
}

void TfrmKorvane::wbStatusTextChange(const std::string& text) {
    if (!text.empty() && !FAborted) SetStatusLabel(QString::fromStdString(text));
}

} // namespace korvane
