#include "MainWindow.h"
#include "app/Translated.h"

#include "Application.h"
#include "CaptureWorker.h"
#include "Desktop.h"
#include "app/ProgramPaths.h"
#include "browser/BrowserHost.h"
#include "browser/ChromiumEngine.h"
#include "browser/ChromiumProcess.h"
#include "dragdrop/qt/QtDropURLTarget.h"
#include "imaging/Bitmap.h"
#include "platform/Files.h"
#include "platform/ThreadHandOff.h"
#include "platform/Version.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <QToolButton>

namespace korvane {

TAppPaths TAppPaths::ForThisProgram() {
    return TAppPaths{SettingsFilePath(), DefaultOutputFolder()};
}

QString TrimAddress(const QString& text) {
    qsizetype b = 0, e = text.size();
    while (b < e && text[b].unicode() <= ' ')
        ++b;
    while (e > b && text[e - 1].unicode() <= ' ')
        --e;
    return text.mid(b, e - b);
}

bool HasWebPrefix(const QString& address) {
    // Schemes are not case-sensitive: "HTTP://" is as good as "http://".
    return address.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) ||
           address.startsWith(QLatin1String("https://"), Qt::CaseInsensitive);
}

TfrmKorvane::TfrmKorvane(TAppPaths paths, std::unique_ptr<TEngine> engine, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                          Qt::WindowStaysOnTopHint),
      FPaths(std::move(paths)), FNewEngine(std::move(engine)) {
    setObjectName(QStringLiteral("frmKorvane"));
    setWindowTitle(QStringLiteral("Korvane"));
    move(253, 210);
    resize(400, 504);
    CreateControls();
    CreateActions();
    DropURLTarget = std::make_unique<TQtDropURLTarget>();
    DropURLTarget->SetDragtypes({dtLink});
    DropURLTarget->SetGetDataOnEnter(true);
    DropURLTarget->SetShowImage(true);
    DropURLTarget->OnDrop = [this](TDropTarget*, TShiftState, TPoint, std::uint32_t&) {
        DropURLTargetDrop();
    };
    WireEvents();
    FormCreate();
}

TfrmKorvane::~TfrmKorvane() {
    try {
        FormDestroy();
    } catch (...) {
        ReportCurrentException();
    }
}

void TfrmKorvane::WireEvents() {
    auto on = [this](auto* sender, auto signal, void (TfrmKorvane::*handler)()) {
        connect(sender, signal, this, Guarded([this, handler] { (this->*handler)(); }));
    };
    on(tbExit, &QToolButton::clicked, &TfrmKorvane::tbExitClick);
    on(tbPaste, &QToolButton::clicked, &TfrmKorvane::tbPasteClick);
    on(tbCapture, &QToolButton::clicked, &TfrmKorvane::tbCaptureClick);
    on(tbAbort, &QToolButton::clicked, &TfrmKorvane::tbAbortClick);
    on(tbOption, &QToolButton::clicked, &TfrmKorvane::tbOptionClick);
    on(tbHelp, &QToolButton::clicked, &TfrmKorvane::tbHelpClick);
    on(btnBrowse, &QPushButton::clicked, &TfrmKorvane::btnBrowseClick);
    on(btnPref, &QPushButton::clicked, &TfrmKorvane::btnPrefClick);
    on(btnOutput, &QPushButton::clicked, &TfrmKorvane::btnOutputClick);
    on(miOpenFolder, &QAction::triggered, &TfrmKorvane::miOpenFolderClick);
    on(cbCapWidth, &QComboBox::currentIndexChanged, &TfrmKorvane::cbCapWidthChange);
    on(cbCapHeight, &QComboBox::currentIndexChanged, &TfrmKorvane::cbCapHeightChange);
    on(Timer, &QTimer::timeout, &TfrmKorvane::TimerTimer);
    on(LoadTimer, &QTimer::timeout, &TfrmKorvane::LoadTimeUp);
    on(Execute, &QAction::triggered, &TfrmKorvane::tbCaptureClick);
    on(Close, &QAction::triggered, &TfrmKorvane::tbExitClick);
    on(Paste, &QAction::triggered, &TfrmKorvane::tbPasteClick);
    on(Abort, &QAction::triggered, &TfrmKorvane::tbAbortClick);

    // The size limits follow the heights of the three rows.
    for (QWidget* row :
         {static_cast<QWidget*>(ToolBar), static_cast<QWidget*>(Panel1), static_cast<QWidget*>(Panel2)})
        row->installEventFilter(this);
    // The four shortcuts act wherever the focus is, also inside an edit box that would take the key itself.
    qApp->installEventFilter(this);
}

void TfrmKorvane::FormCreate() {
    DropURLTarget->AttachTo(EditAddress); // links are dropped on the address box alone
    resize(400, CollapsedHeight());
    ApplySizeLimits();
    FBitmap = std::make_unique<TBitmap>();
    if (!FNewEngine) FNewEngine = std::make_unique<TChromiumEngine>(std::make_shared<TChromiumBrowser>());
    auto wb = TBrowserHost::Designed(std::move(FNewEngine), "wb");
    wb->SetWidth(100);
    wb->SetHeight(100);
    // From here on the browser control belongs to the worker's thread.
    FWorker = std::make_unique<TCaptureWorker>(std::move(wb));
    // What the worker tells comes on this thread; what the worker did before telling it is this thread's to
    // see (TakeOver says so to the thread sanitizer).
    const auto hear = [this](auto signal, auto handler) {
        connect(
            FWorker.get(), signal, this,
            [this, handler](auto... args) {
                TakeOver(FWorker.get());
                (this->*handler)(args...);
            },
            Qt::QueuedConnection);
    };
    hear(&TCaptureWorker::StatusText, &TfrmKorvane::WorkerStatusText);
    hear(&TCaptureWorker::Status, &TfrmKorvane::WorkerStatus);
    hear(&TCaptureWorker::Loaded, &TfrmKorvane::WorkerLoaded);
    hear(&TCaptureWorker::Failed, &TfrmKorvane::WorkerFailed);
    hear(&TCaptureWorker::Captured, &TfrmKorvane::WorkerCaptured);
    connect(
        FWorker.get(), &TCaptureWorker::EngineError, this,
        [this](const QString& text) {
            TakeOver(FWorker.get());
            Desktop().ShowError(this, text);
        },
        Qt::QueuedConnection);
    try {
        LoadSettings();
    } catch (...) {
        ReportCurrentException(); // the controls keep their designed values
    }
}

void TfrmKorvane::FormDestroy() {
    if (FDestroyed) return;
    FDestroyed = true;
    DropURLTarget->Detach();
    qApp->removeEventFilter(this);
    // Whatever step the job is at, it stops, and the browser ends with the worker.
    const bool ended = FWorker->Shutdown(std::chrono::milliseconds(1500));
    if (!ended) {
        // A step that does not stop in time: the settings are still written, then the program ends here
        // and takes its browser along.
        SaveSettings();
        KillAllBrowsers();
        std::_Exit(0);
    }
    FBitmap.reset();
    SaveSettings();
}

TBrowserHost& TfrmKorvane::Browser() {
    return FWorker->Host();
}

int TfrmKorvane::CollapsedHeight() const {
    return ToolBar->height() + Panel1->height();
}
int TfrmKorvane::ExpandedHeight() const {
    return CollapsedHeight() + Panel2->height();
}

void TfrmKorvane::ApplySizeLimits() {
    setMinimumSize(400, CollapsedHeight());
    setMaximumSize(400, ExpandedHeight());
}

bool TfrmKorvane::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize && (watched == ToolBar || watched == Panel1 || watched == Panel2)) {
        ApplySizeLimits();
    } else if (event->type() == QEvent::MouseButtonRelease && watched == lblMessage) {
        // A click on the status line that names a written file opens the file's folder.
        if (!FBusy && !FWrittenFile.isEmpty() && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
            OpenOnDesktop(QFileInfo(FWrittenFile).absolutePath());
    } else if (event->type() == QEvent::ShortcutOverride) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (QApplication::activePopupWidget() &&
            (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)) {
            // Enter in an open list picks its item and starts nothing. The list closes itself as it is asked
            // whether Enter is a shortcut, without saying it takes the key: then the window, active again,
            // would take Enter as its shortcut.
            event->accept();
            return false;
        }
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget && widget != this && widget->window() == this) {
            const QKeySequence pressed(key->keyCombination());
            for (QAction* a : {Execute, Close, Paste, Abort})
                if (a->shortcuts().contains(pressed)) return true; // left unaccepted: the shortcut fires
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TfrmKorvane::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    ScrollBoxWeb->setGeometry(0, ExpandedHeight(), 400, std::max(0, height() - ExpandedHeight()));
}

void TfrmKorvane::ShowStatus(const QString& text) {
    SetStatusLabel(text);
}

void TfrmKorvane::SetStatusLabel(const QString& text) {
    FStatusText = text;
    lblMessage->setAccessibleName(text);
    ShowStatusLine();
    emit StatusTextShown(text);
}

void TfrmKorvane::ShowStatusLine() {
    const QString shown =
        lblMessage->fontMetrics().elidedText(FStatusText, Qt::ElideRight, lblMessage->contentsRect().width());
    lblMessage->setText(shown);
    // The tooltip has what the line cannot show: the whole text when it was cut, and the file written.
    QStringList tip;
    if (shown != FStatusText) tip << FStatusText;
    if (!FWrittenFile.isEmpty()) tip << FWrittenFile;
    lblMessage->setToolTip(tip.join(QLatin1Char('\n')));
}

void TfrmKorvane::OpenOnDesktop(const QString& target) {
    Desktop().Open(this, target, [window = QPointer<TfrmKorvane>(this), target] {
        if (window) window->ShowStatus(QTr("could not open %1").arg(target));
    });
}

void TfrmKorvane::ShowWrittenFile(const QString& path) {
    FWrittenFile = path;
    lblMessage->setAccessibleDescription(path);
    ShowStatusLine();
    if (path.isEmpty())
        lblMessage->unsetCursor();
    else
        lblMessage->setCursor(Qt::PointingHandCursor);
}

void TfrmKorvane::SetBusy() {
    FBusy = true;
    FAborted = false;
    for (QWidget* w : std::initializer_list<QWidget*>{tbExit, tbPaste, tbCapture, tbOption, tbHelp,
                                                      EditAddress, btnBrowse, btnPref})
        w->setEnabled(false);
    Panel2->setEnabled(false);
}

void TfrmKorvane::SetIdle() {
    FBusy = false;
    FLoadPending = false;
    LoadTimer->stop();
    setWindowTitle(QStringLiteral("Korvane"));
    FCountdown.Stop();
    Timer->stop();
    for (QWidget* w : std::initializer_list<QWidget*>{tbExit, tbPaste, tbCapture, tbOption, tbHelp,
                                                      EditAddress, btnBrowse, btnPref})
        w->setEnabled(true);
    Panel2->setEnabled(true);
}

void TfrmKorvane::btnPrefClick() {
    const int collapsed = CollapsedHeight();
    resize(400, height() == collapsed ? collapsed + Panel2->height() : collapsed);
}

void TfrmKorvane::tbOptionClick() {
    PopupMenuOpt->popup(ToolBar->mapToGlobal(QPoint(tbOption->x(), tbOption->y() + tbOption->height())));
}

void TfrmKorvane::cbCapWidthChange() {
    EditAnyWidth->setEnabled(cbCapWidth->currentIndex() == 1);
}
void TfrmKorvane::cbCapHeightChange() {
    EditAnyHeight->setEnabled(cbCapHeight->currentIndex() == 1);
}

void TfrmKorvane::tbExitClick() {
    QCoreApplication::exit(0); // the job under way ends with the window (FormDestroy)
}

void TfrmKorvane::tbHelpClick() {
    Desktop().ShowMessage(this, QTr("About"),
                          QStringLiteral("Korvane\n") + QTr("Ver ") + QString::fromLatin1(kVersion));
}

void TfrmKorvane::tbPasteClick() {
    if (FBusy) return; // the address of a running job stays as it is
    const QMimeData* data = QApplication::clipboard()->mimeData();
    if (!data || !data->hasText()) return;
    const QString text = TrimAddress(data->text());
    if (HasWebPrefix(text)) EditAddress->setText(text);
}

void TfrmKorvane::btnBrowseClick() {
    const QString address = TrimAddress(EditAddress->text());
    if (HasWebPrefix(address)) OpenOnDesktop(address);
}

void TfrmKorvane::btnOutputClick() {
    // A folder chooser, starting at the current output folder (or the program's when that one is gone).
    const QString current = EditOutput->text();
    const QString chosen =
        Desktop().ChooseFolder(this, DirectoryExists(current.toStdString()) ? current : ProgramFolder());
    if (chosen.isEmpty()) return;
    EditOutput->setText(chosen.endsWith(QLatin1Char('/')) ? chosen : chosen + QLatin1Char('/'));
}

void TfrmKorvane::miOpenFolderClick() {
    if (DirectoryExists(EditOutput->text().toStdString())) OpenOnDesktop(EditOutput->text());
}

void TfrmKorvane::DropURLTargetDrop() {
    if (FBusy) return;
    const std::string url = DropURLTarget->DroppedUrl();
    if (!url.empty()) EditAddress->setText(QString::fromStdString(url));
}

QString TfrmKorvane::ProgramFolder() const {
    return QString::fromStdString(FPaths.ProgramFolder);
}

} // namespace korvane
