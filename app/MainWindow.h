#pragma once
// The main window: a tool bar, the address row with the status line, and the options panel that the
// "pre&f" button shows or hides. The window stays on top, has a fixed client width of 400 and a client
// height between the collapsed (tool bar + address row) and the expanded (+ options panel) height.
#include "app/Countdown.h"
#include "browser/Engine.h"

#include <QWidget>

#include <cstdint>
#include <memory>
#include <string>

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QScrollArea;
class QTimer;
class QToolButton;

namespace korvane {

class TBitmap;
class TBrowserHost;
class TCaptureWorker;
class TQtDropURLTarget;

struct TCaptureSettings;
struct TSecuritySwitches;

// Where the program keeps its settings file, and the folder that stands for "the executable's folder" when
// an output folder is needed and none is usable.
struct TAppPaths {
    std::string SettingsFile;
    std::string ProgramFolder; // ends in "/"
    static TAppPaths ForThisProgram();
};

class TfrmKorvane : public QWidget {
    Q_OBJECT
public:
    // Without an engine the window makes its own on Chromium.
    explicit TfrmKorvane(TAppPaths paths, std::unique_ptr<TEngine> engine = {}, QWidget* parent = nullptr);
    ~TfrmKorvane() override;

    // State switches of a capture job.
    void SetBusy();
    void SetIdle();
    void ShowStatus(const QString& text);

    void LoadSettings();
    void SaveSettings();

    // Client heights the frame may be dragged between, from the current control heights.
    int CollapsedHeight() const;
    int ExpandedHeight() const;

    // Handlers, named after their control and event.
    void tbExitClick();
    void tbPasteClick();
    void tbCaptureClick();
    void tbAbortClick();
    void tbOptionClick();
    void tbHelpClick();
    void btnBrowseClick();
    void btnPrefClick();
    void btnOutputClick();
    void miOpenFolderClick();
    void cbCapWidthChange();
    void cbCapHeightChange();
    void TimerTimer();
    void wbStatusTextChange(const std::string& text);
    // A link dropped on the address box replaces the address; a drop that yields no URL leaves it alone.
    void DropURLTargetDrop();
    void CapturePage();

    // The capture settings as the option controls say now, for the job's address.
    TCaptureSettings CaptureSettings() const;
    TSecuritySwitches SecuritySwitches() const;
    // The browser control; it lives on the capture worker's thread and is used there.
    TBrowserHost& Browser();
    TCaptureWorker& Worker() { return *FWorker; }
    const TBitmap& CaptureBitmap() const { return *FBitmap; }
    // A job runs (Go has started one and it has not ended): Go, Paste and drops do nothing meanwhile.
    bool Busy() const { return FBusy; }

signals:
    // Every text the status line shows, in order.
    void StatusTextShown(const QString& text);

public:
    const TAppPaths& Paths() const { return FPaths; }
    bool Aborted() const { return FAborted; }
    // The delay's ticks still to wait (FWaitTicks), and whether the countdown runs.
    std::int32_t WaitTicks() const { return FCountdown.WaitTicks(); }
    bool CountingDown() const { return FCountdown.Counting(); }
    // From now on the countdown's ticks are the caller's calls of TimerTimer, not Timer's (tests step the
    // countdown instead of waiting for it).
    void TickByHand() { FTicksByHand = true; }
    // The load's time (three quarters of the page time) is up: what LoadTimer's end does; tests call it
    // instead of waiting. A load that has ended meanwhile is left alone.
    void LoadTimeUp();
    // The page time in seconds, from the settings file's [option] timeout (60 when missing or below 1).
    std::int32_t PageTime() const { return FPageTime; }
    // The load's share of it, three quarters, in whole seconds as the status line says it.
    std::int64_t LoadSeconds() const { return (std::int64_t{FPageTime} * 3 + 3) / 4; }

    // Controls, by the names they also carry as objectName.
    QFrame* ToolBar = nullptr;
    QToolButton* tbExit = nullptr;
    QFrame* ToolButton7 = nullptr;
    QToolButton* tbPaste = nullptr;
    QToolButton* tbCapture = nullptr;
    QToolButton* tbAbort = nullptr;
    QFrame* ToolButton6 = nullptr;
    QToolButton* tbOption = nullptr;
    QToolButton* tbHelp = nullptr;
    QFrame* Panel1 = nullptr;
    QLineEdit* EditAddress = nullptr;
    QPushButton* btnBrowse = nullptr;
    QLabel* lblMessage = nullptr;
    QPushButton* btnPref = nullptr;
    QFrame* Panel2 = nullptr;
    QGroupBox* GroupBoxSec = nullptr;
    QCheckBox* cbSecImage = nullptr;
    QCheckBox* cbSecVideo = nullptr;
    QCheckBox* cbSecScript = nullptr;
    QCheckBox* cbSecJava = nullptr;
    QCheckBox* cbSecActiveX = nullptr;
    QCheckBox* cbSecAXDL = nullptr;
    QGroupBox* GroupBoxSize = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QComboBox* cbCapWidth = nullptr;
    QComboBox* cbCapHeight = nullptr;
    QLineEdit* EditAnyWidth = nullptr;
    QLineEdit* EditAnyHeight = nullptr;
    QGroupBox* GroupBoxEtc = nullptr;
    QCheckBox* cbAndView = nullptr;
    QCheckBox* cbHideScrollBar = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* EditDelay = nullptr;
    QComboBox* cbSaveFormat = nullptr;
    QPushButton* btnOutput = nullptr;
    QLineEdit* EditOutput = nullptr;
    QScrollArea* ScrollBoxWeb = nullptr;
    QMenu* PopupMenuOpt = nullptr;
    QAction* miOpenFolder = nullptr;
    QAction* Execute = nullptr;
    QAction* Close = nullptr;
    QAction* Paste = nullptr;
    QAction* Abort = nullptr;
    QTimer* Timer = nullptr;
    QTimer* LoadTimer = nullptr; // single shot at three quarters of the page time after Go

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void CreateControls();
    void CreateActions();
    void WireEvents();
    void FormCreate();
    void FormDestroy();
    void ApplySizeLimits();
    QString ProgramFolder() const;

    void SetStatusLabel(const QString& text);
    // The file the last capture wrote, named by the status line's tooltip (empty: none); a click on the
    // status line then opens its folder.
    void ShowWrittenFile(const QString& path);
    // The desktop's "open"; when nothing could open the target, the status line says so.
    void OpenOnDesktop(const QString& target);
    // The status text on its line, cut with an ellipsis to the line's width; its tooltip.
    void ShowStatusLine();
    // What the capture worker reports, each for the job it names.
    void WorkerLoaded(quint64 job, bool document, const QString& error, bool partial);
    void WorkerFailed(quint64 job);
    void WorkerStatus(quint64 job, const QString& text);
    void WorkerStatusText(quint64 job, const QString& text);
    void WorkerCaptured(quint64 job, const QString& path, const QString& error, bool noDocument);

    TAppPaths FPaths;
    std::unique_ptr<TEngine> FNewEngine;     // handed to wb in FormCreate
    std::unique_ptr<TCaptureWorker> FWorker; // owns wb
    std::unique_ptr<TQtDropURLTarget> DropURLTarget;
    std::unique_ptr<TBitmap> FBitmap;
    bool FBusy = false;
    std::uint64_t FJob = 0;     // the job under way, 0 for none
    std::uint64_t FLastJob = 0; // the job started last
    QString FJobAddress;        // as typed when the job started (its first line)
    QString FWrittenFile;       // by the last capture, while the status line tells of it
    QString FStatusText;        // the status line's whole text
    bool FLoadPending = false;  // the job's load has not ended yet
    std::uint64_t FSaidJob = 0; // a job whose load ended with a reason that the engine's late texts keep
    QString FPartialNote;       // the job's page was captured before its load was complete
    std::int32_t FPageTime = 60;
    bool FAborted = false;
    TCountdown FCountdown; // FWaitTicks and the timer's state
    bool FTicksByHand = false;
    std::int64_t StartTime = 0;
    bool FDestroyed = false;
};

// The address test shared by Go, paste and browse: "http://" or "https://" at the start, in any case.
bool HasWebPrefix(const QString& address);
// Trimmed of leading and trailing blanks and control characters.
QString TrimAddress(const QString& text);
// The address a job takes from the address box: its first line, when a paste brought several.
QString JobAddress(const QString& typed);

} // namespace korvane
