// The capture job: from "&Go" through the load wait and the countdown to the written file, and Abort. The
// engine's steps run on the capture worker's thread; the window hears of each through a queued signal.
#include "MainWindow.h"
#include "app/Translated.h"

#include "CaptureWorker.h"
#include "Desktop.h"
#include "browser/BrowserHost.h"
#include "capture/CapturePipeline.h"
#include "imaging/Bitmap.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/IntegerText.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTimer>

#include <algorithm>
#include <cstring>
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

QString JobAddress(const QString& typed) {
    // A pasted text of several lines stands for its first line.
    const qsizetype lineEnd = typed.indexOf(QRegularExpression(QStringLiteral("[\r\n]")));
    return lineEnd < 0 ? typed : typed.left(lineEnd);
}

TCaptureSettings TfrmKorvane::CaptureSettings() const {
    TCaptureSettings s;
    s.Width = SideChoice(cbCapWidth, EditAnyWidth);
    s.Height = SideChoice(cbCapHeight, EditAnyHeight);
    s.Format = static_cast<TSaveFormat>(std::clamp(cbSaveFormat->currentIndex(), 0, 2));
    s.Address = TrimAddress(FJobAddress).toStdString(); // the file is named after the trimmed address
    s.OutputFolder = EditOutput->text().toStdString();
    s.FallbackFolder = FPaths.ProgramFolder;
    return s;
}

TSecuritySwitches TfrmKorvane::SecuritySwitches() const {
    TSecuritySwitches s;
    s.Image = cbSecImage->isChecked();
    s.Video = cbSecVideo->isChecked();
    s.Script = cbSecScript->isChecked();
    s.Java = cbSecJava->isChecked();
    s.ActiveX = cbSecActiveX->isChecked();
    s.ActiveXDownload = cbSecAXDL->isChecked();
    return s;
}

void TfrmKorvane::tbCaptureClick() {
    if (FBusy) return; // one job at a time: Enter held down, or Go during a job, does nothing
    SetBusy();
    const QString address = TrimAddress(JobAddress(EditAddress->text()));
    if (!HasWebPrefix(address)) {
        SetIdle();
        if (!address.isEmpty()) ShowStatus(QTr("not a web address: %1").arg(address));
        return;
    }
    // A folder the file cannot go to is said now, not after the load and the delay.
    const std::string folder = OutputFolder(EditOutput->text().toStdString(), FPaths.ProgramFolder);
    if (const int cause = DirectoryWriteError(folder)) {
        SetIdle();
        ShowStatus(QTr("the output folder %1 cannot be written: %2")
                       .arg(QString::fromStdString(folder), QString::fromLocal8Bit(std::strerror(cause))));
        return;
    }
    StartTime = GetTickCount64();
    ShowWrittenFile({});
    ShowStatus(QTr("go......"));
    // The job keeps the address it started with, whatever the address box holds later.
    FJobAddress = JobAddress(EditAddress->text());
    FJob = ++FLastJob;
    TLoadJob job;
    job.Id = FJob;
    job.Address = FJobAddress.toStdString();
    job.Security = SecuritySwitches();
    job.HideScrollBar = cbHideScrollBar->isChecked();
    job.View = LoadViewSize(CaptureSettings());
    FLoadPending = true;
    FPartialNote.clear();
    FWorker->Load(job);
    if (!FTicksByHand) LoadTimer->start(std::chrono::milliseconds(std::int64_t{FPageTime} * 750));
}

void TfrmKorvane::LoadTimeUp() {
    LoadTimer->stop();
    if (!FJob || !FLoadPending) return;
    FWorker->LoadTimeUp(FJob, LoadSeconds());
}

void TfrmKorvane::WorkerLoaded(quint64 job, bool document, const QString& error, bool partial) {
    if (job != FJob) return;
    FLoadPending = false;
    LoadTimer->stop();
    if (partial)
        FPartialNote = QTr("not complete after %1 s: captured as it was").arg(QString::number(LoadSeconds()));
    if (!document) {
        FJob = 0;
        FSaidJob = job;
        SetIdle();
        // A load that failed names its reason; no file is written for an error page.
        if (!error.isEmpty() && !FAborted) ShowStatus(error);
        return;
    }
    if (FAborted) return; // "Aborted" stays
    // A negative delay counts as none; one too long for the count waits as long as the count goes.
    const std::int64_t ticks = std::max<std::int64_t>(0, IntegerText(EditDelay->text(), 1)) * 10;
    FCountdown.Start(
        static_cast<std::int32_t>(std::min<std::int64_t>(ticks, std::numeric_limits<std::int32_t>::max())));
    ShowStatus(QTr("wait......"));
    if (!FTicksByHand) Timer->start();
}

void TfrmKorvane::WorkerFailed(quint64 job) {
    if (job != FJob) return;
    FLoadPending = false;
    FJob = 0;
    SetIdle(); // errors of the navigation and the load wait end the job without a message
}

void TfrmKorvane::TimerTimer() {
    if (FAborted) SetIdle(); // the countdown ends with the job
    const TCountdown::TTick tick = FCountdown.Tick();
    if (tick.Seconds) SetStatusLabel(QTr("wait %1...").arg(*tick.Seconds));
    if (tick.Capture) CapturePage();
    if (!FCountdown.Counting()) Timer->stop();
}

void TfrmKorvane::CapturePage() {
    Timer->stop();
    if (!FJob) return;
    FWorker->Capture(FJob, CaptureSettings(), FBitmap.get());
}

void TfrmKorvane::WorkerCaptured(quint64 job, const QString& path, const QString& error, bool noDocument) {
    if (job != FJob) return;
    FJob = 0;
    const bool written = !noDocument && error.isEmpty() && FileExists(path.toStdString());
    if (written && cbAndView->isChecked()) OpenOnDesktop(path);
    // The job ends the same way with or without a file; an error then goes on to the error box.
    SetIdle();
    QStringList said{QTr("finished [ %1 msec]").arg(GetTickCount64() - StartTime)};
    if (!FPartialNote.isEmpty()) said << FPartialNote;
    // A typed folder that is not there gives way to the program's: the line says where the file went.
    if (written && !DirectoryExists(EditOutput->text().toStdString()))
        said << QTr("%1 does not exist: written in %2")
                    .arg(EditOutput->text(), QFileInfo(path).absolutePath());
    ShowStatus(said.join(QStringLiteral(" - ")));
    ShowWrittenFile(written ? path : QString());
    FBitmap->Clear();
    if (!error.isEmpty()) Desktop().ShowError(this, error);
}

void TfrmKorvane::WorkerStatus(quint64 job, const QString& text) {
    if (job == FJob) ShowStatus(text);
}

void TfrmKorvane::tbAbortClick() {
    FAborted = true;
    FWorker->Abort(FJob);
    FJob = 0;
    SetIdle();
    ShowStatus(QTr("Aborted"));
}

void TfrmKorvane::WorkerStatusText(quint64 job, const QString& text) {
    // Texts of a job the window has moved on from are late: they belong to no navigation of today; nor do
    // those that come after the reason a job's load ended with (the load stopped as its time was up).
    if (job == 0 || (job == FLastJob && job != FSaidJob)) wbStatusTextChange(text.toStdString());
}

void TfrmKorvane::wbStatusTextChange(const std::string& text) {
    if (!text.empty() && !FAborted) SetStatusLabel(QString::fromStdString(text));
}

} // namespace korvane
