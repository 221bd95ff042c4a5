// The main window on the offscreen platform: start-up state, size rules, busy state and shortcuts, the
// small commands, and the error box.
#include "RecordingDesktop.h"
#include "ScriptedEngine.h"
#include "app/Application.h"
#include "app/MainWindow.h"
#include "platform/Files.h"
#include "platform/Version.h"

#include <QAbstractItemView>
#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QEventLoop>
#include <QFile>
#include <QFontMetrics>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

#include <memory>

using namespace korvane;

class WindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<test::RecordingDesktop> desktop;

    TAppPaths Paths() const {
        return TAppPaths{(dir->path() + "/korvane.ini").toStdString(), (dir->path() + "/").toStdString()};
    }
    std::unique_ptr<TfrmKorvane> Open() {
        auto w = std::make_unique<TfrmKorvane>(Paths(), std::make_unique<test::TScriptedEngine>());
        w->show();
        w->activateWindow();
        if (!QTest::qWaitForWindowActive(w.get())) qWarning("window did not become active");
        return w;
    }
    static void Key(TfrmKorvane* w, QWidget* focus, Qt::Key key,
                    Qt::KeyboardModifiers mods = Qt::NoModifier) {
        if (focus && focus->isEnabled()) focus->setFocus();
        QTest::keyClick(focus && focus->isEnabled() ? focus : static_cast<QWidget*>(w), key, mods);
    }
    static void SetClipboardText(const QString& text) { QApplication::clipboard()->setText(text); }

private slots:
    void init() {
        dir = std::make_unique<QTemporaryDir>();
        desktop = std::make_unique<test::RecordingDesktop>();
    }
    void cleanup() {
        desktop.reset();
        dir.reset();
    }

    void freshStartShowsTheDesignedWindowCollapsed() {
        auto w = Open();
        QCOMPARE(w->windowTitle(), QString("Korvane"));
        QVERIFY(w->windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(!(w->windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(w->pos(), QPoint(100, 100));
        QCOMPARE(w->height(), 81);
        QCOMPARE(w->width(), 400);
        QCOMPARE(w->cbCapWidth->currentText(), QString("1024"));
        QCOMPARE(w->cbCapHeight->currentText(), QString("auto"));
        QCOMPARE(w->EditAnyWidth->text(), QString("2000"));
        QVERIFY(!w->EditAnyWidth->isEnabled());
        QVERIFY(!w->EditAnyHeight->isEnabled());
        QVERIFY(w->cbAndView->isChecked());
        QVERIFY(!w->cbHideScrollBar->isChecked());
        QCOMPARE(w->cbSaveFormat->currentText(), QString("bmp"));
        QCOMPARE(w->EditDelay->text(), QString("1"));
        QCOMPARE(w->EditOutput->text(), dir->path() + "/");
        for (QCheckBox* on : {w->cbSecImage, w->cbSecVideo, w->cbSecScript, w->cbSecJava, w->cbSecActiveX})
            QVERIFY2(on->isChecked(), qPrintable(on->objectName()));
        QVERIFY(!w->cbSecAXDL->isChecked());
        QCOMPARE(w->lblMessage->text(), QString("..."));
        QCOMPARE(w->tbExit->toolTip(), QString("Ctrl+Q"));
        QCOMPARE(w->tbPaste->toolTip(), QString("Ctrl+V"));
        QCOMPARE(w->tbCapture->toolTip(), QString("Enter"));
        QCOMPARE(w->tbAbort->toolTip(), QString("Ctrl+S"));
        QCOMPARE(w->cbCapWidth->count(), 7);
        QCOMPARE(w->cbCapHeight->itemText(6), QString("1200"));
        QVERIFY(desktop->errors.isEmpty());
        if (qEnvironmentVariableIsSet("KORVANE_SNAPSHOTS")) {
            w->btnPrefClick();
            QTest::qWait(50);
            w->grab().save(qEnvironmentVariable("KORVANE_SNAPSHOTS") + "/window.png");
        }
    }

    void freshStartWritesTheSettingsFileExactly() {
        Open().reset();
        const std::string expected =
            "[window]\r\nleft=100\r\ntop=100\r\n\r\n"
            "[option]\r\ncapturewith=4\r\ncaptureheight=0\r\ncapanywidth=2000\r\n"
            "capanyheight=2000\r\ncapandview=1\r\nhidescrollbar=0\r\nsaveformat=0\r\n"
            "delay=1\r\noutputpath=" +
            Paths().ProgramFolder +
            "\r\ntimeout=60\r\n\r\n"
            "[security]\r\nimage=1\r\nvideo=1\r\nscript=1\r\njava=1\r\nactivex=1\r\naxdl=0\r\n\r\n";
        QCOMPARE(ReadWholeFile(Paths().SettingsFile), expected);
    }

    void widthIsFixedAndHeightStaysBetweenCollapsedAndExpanded() {
        auto w = Open();
        QCOMPARE(w->minimumSize(), QSize(400, 81));
        QCOMPARE(w->maximumSize(), QSize(400, 257));
        w->resize(700, 900);
        QTRY_COMPARE(w->size(), QSize(400, 257));
        w->resize(100, 10);
        QTRY_COMPARE(w->size(), QSize(400, 81));
        // The limits are the current row heights, read afresh.
        w->Panel2->resize(400, 100);
        QCOMPARE(w->maximumSize(), QSize(400, 181));
    }

    void prefToggleCollapsesFromAnyOtherHeight() {
        auto w = Open();
        w->btnPref->click();
        QTRY_COMPARE(w->height(), 257);
        w->btnPref->click();
        QTRY_COMPARE(w->height(), 81);
        w->resize(400, 150); // dragged to an intermediate height
        QTRY_COMPARE(w->height(), 150);
        w->btnPref->click();
        QTRY_COMPARE(w->height(), 81);
    }

    void anyBoxesFollowTheirSizeLists() {
        auto w = Open();
        w->cbCapWidth->setCurrentIndex(1);
        QVERIFY(w->EditAnyWidth->isEnabled());
        QVERIFY(!w->EditAnyHeight->isEnabled());
        w->cbCapHeight->setCurrentIndex(1);
        QVERIFY(w->EditAnyHeight->isEnabled());
        w->cbCapWidth->setCurrentIndex(3);
        QVERIFY(!w->EditAnyWidth->isEnabled());
        w->cbCapHeight->setCurrentIndex(0);
        QVERIFY(!w->EditAnyHeight->isEnabled());
    }

    void busyStateDisablesAllButAbortAndKeepsCloseAndAbort() {
        auto w = Open();
        w->SetBusy();
        for (QWidget* off : std::initializer_list<QWidget*>{
                 w->tbExit, w->tbPaste, w->tbCapture, w->tbOption, w->tbHelp, w->EditAddress, w->btnBrowse,
                 w->btnPref, w->Panel2, w->cbSecImage, w->EditOutput})
            QVERIFY2(!off->isEnabled(), qPrintable(off->objectName()));
        QVERIFY(w->tbAbort->isEnabled());

        // Paste and drops leave the address of a running job alone.
        const QString address = w->EditAddress->text();
        SetClipboardText("  http://127.0.0.1/busy \r\n");
        Key(w.get(), nullptr, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(w->EditAddress->text(), address);

        Key(w.get(), nullptr, Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(w->lblMessage->text(), QString("Aborted"));
        QVERIFY(w->Aborted());
        QVERIFY(w->tbCapture->isEnabled()); // Abort returns to idle

        w->SetIdle();
        QVERIFY(w->Panel2->isEnabled());
        QVERIFY(w->cbSecImage->isEnabled());
        QVERIFY(w->EditAddress->isEnabled());
    }

    void shortcutsActInsideEditBoxes() {
        auto w = Open();
        w->EditAddress->setText("http://127.0.0.1/typed");
        SetClipboardText("ftp://127.0.0.1/other");
        Key(w.get(), w->EditAddress, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(w->EditAddress->text(),
                 QString("http://127.0.0.1/typed")); // the edit box did not paste itself

        SetClipboardText("https://127.0.0.1/pasted\n");
        w->btnPref->click();
        QTRY_COMPARE(w->height(), 257);
        Key(w.get(), w->EditDelay, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(w->EditAddress->text(), QString("https://127.0.0.1/pasted"));
        QCOMPARE(w->EditDelay->text(), QString("1"));

        Key(w.get(), w->EditAddress, Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(w->lblMessage->text(), QString("Aborted"));

        // Enter runs Go: an address with the prefix starts the job, which waits for the page.
        QSignalSpy shown(w.get(), &TfrmKorvane::StatusTextShown);
        w->EditDelay->setText("5");
        Key(w.get(), w->EditAddress, Qt::Key_Return);
        QCOMPARE(shown.first().first().toString(), QString("go......"));
        QTRY_COMPARE(w->lblMessage->text(), QString("wait......"));
        w->tbAbortClick();
    }

    void enterInAnOpenListOnlyPicksTheItem() {
        auto w = Open();
        w->EditAddress->setText("http://127.0.0.1/page");
        w->EditDelay->setText("5");
        w->btnPref->click();
        QTRY_COMPARE(w->height(), 257);
        QSignalSpy shown(w.get(), &TfrmKorvane::StatusTextShown);
        for (QComboBox* list : {w->cbCapWidth, w->cbCapHeight}) {
            const int before = list->currentIndex();
            list->setFocus();
            list->showPopup();
            QTRY_VERIFY(list->view()->isVisible());
            // Asked whether Enter is a shortcut, the open list picks the item and closes: it must also say
            // that it took the key, or the window (active again on X) runs its Enter shortcut.
            QTest::keyClick(list->view(), Qt::Key_Down);
            QKeyEvent asked(QEvent::ShortcutOverride, Qt::Key_Return, Qt::NoModifier);
            asked.ignore();
            QApplication::sendEvent(list->view(), &asked);
            QVERIFY(asked.isAccepted());
            QVERIFY(!list->view()->isVisible());
            QCOMPARE(list->currentIndex(), before + 1);
        }
        // Shortcuts fire as the key is handled: Enter in the closed list does start the capture, and it is
        // the first thing said.
        QTest::keyClick(w->cbCapWidth, Qt::Key_Return);
        QVERIFY(!shown.isEmpty());
        QCOMPARE(shown.first().first().toString(), QString("go......"));
        w->tbAbortClick();
    }

    void closeShortcutEndsTheEventLoop() {
        auto w = Open();
        w->EditAddress->setFocus();
        QEventLoop loop;
        bool timedOut = false;
        QTimer::singleShot(0, [&] { QTest::keyClick(w->EditAddress, Qt::Key_Q, Qt::ControlModifier); });
        QTimer::singleShot(5000, [&] {
            timedOut = true;
            loop.quit();
        });
        loop.exec();
        QVERIFY(!timedOut);
    }

    void goRefusesAddressesWithoutAWebScheme() {
        auto w = Open();
        for (const char* refused : {"127.0.0.1/page", "ftp://127.0.0.1/", " mailto:a@b"}) {
            w->ShowStatus("before");
            w->EditAddress->setText(refused);
            w->tbCaptureClick();
            QCOMPARE(w->lblMessage->text(), "not a web address: " + QString(refused).trimmed());
            QVERIFY(w->tbCapture->isEnabled());
            QVERIFY(w->EditAddress->isEnabled());
        }
        w->ShowStatus("before");
        w->EditAddress->clear(); // nothing typed: nothing to say
        w->tbCaptureClick();
        QCOMPARE(w->lblMessage->text(), QString("before"));
    }

    void pasteTakesOnlyWebAddresses() {
        auto w = Open();
        w->EditAddress->setText("kept");
        for (const char* refused : {"ftp://127.0.0.1/", "HTTP:/127.0.0.1/", "  mailto:a@b", ""}) {
            SetClipboardText(refused);
            w->tbPasteClick();
            QCOMPARE(w->EditAddress->text(), QString("kept"));
        }
        auto* image = new QMimeData;
        image->setImageData(QImage(4, 4, QImage::Format_RGB32));
        QApplication::clipboard()->setMimeData(image);
        w->tbPasteClick();
        QCOMPARE(w->EditAddress->text(), QString("kept"));
        SetClipboardText("\t https://127.0.0.1/a b \r\n");
        w->tbPasteClick();
        QCOMPARE(w->EditAddress->text(), QString("https://127.0.0.1/a b"));
        SetClipboardText("HTTPS://127.0.0.1/UPPER"); // schemes are not case-sensitive
        w->tbPasteClick();
        QCOMPARE(w->EditAddress->text(), QString("HTTPS://127.0.0.1/UPPER"));
    }

    void shellCommandsAndDialogs() {
        auto w = Open();
        w->EditAddress->setText("  http://127.0.0.1/x ");
        w->btnBrowseClick();
        w->EditAddress->setText("127.0.0.1/x");
        w->btnBrowseClick();
        QCOMPARE(desktop->opened, QStringList{"http://127.0.0.1/x"});

        // A folder chooser that starts at the output folder (or the program's when that one is gone).
        w->EditOutput->setText(dir->path());
        desktop->folderAnswer = dir->path() + "/sub";
        w->btnOutputClick();
        QCOMPARE(w->EditOutput->text(), dir->path() + "/sub/");
        desktop->folderAnswer.clear(); // cancelled
        w->btnOutputClick();
        QCOMPARE(w->EditOutput->text(), dir->path() + "/sub/");
        QCOMPARE(desktop->folderStarts, (QStringList{dir->path(), dir->path() + "/"}));

        desktop->opened.clear();
        w->miOpenFolderClick(); // "sub" does not exist
        w->EditOutput->clear();
        w->miOpenFolderClick();
        QVERIFY(desktop->opened.isEmpty());
        w->EditOutput->setText(dir->path());
        w->miOpenFolderClick();
        QCOMPARE(desktop->opened, QStringList{dir->path()});

        w->tbHelpClick();
        QCOMPARE(desktop->messages,
                 QStringList{QStringLiteral("About|Korvane\nVer ") + QString::fromLatin1(kVersion)});
    }

    void theStatusLineShowsWholeLettersAndCutsLongTextsVisibly() {
        auto w = Open();
        const QFontMetrics metrics = w->lblMessage->fontMetrics();
        QVERIFY2(
            w->lblMessage->contentsRect().height() >= metrics.height(), // descenders of "page" too
            qPrintable(QString("%1 < %2").arg(w->lblMessage->contentsRect().height()).arg(metrics.height())));
        w->ShowStatus("page");
        QCOMPARE(w->lblMessage->text(), QString("page"));
        QCOMPARE(w->lblMessage->toolTip(), QString());
        const QString text = "the output folder /home/someone/Pictures/captures/of/today/ cannot be written: "
                             "Read-only file system";
        w->ShowStatus(text);
        QVERIFY(w->lblMessage->text().endsWith(QChar(0x2026)));
        QVERIFY(metrics.horizontalAdvance(w->lblMessage->text()) <= w->lblMessage->contentsRect().width());
        QCOMPARE(w->lblMessage->toolTip(), text);
        QCOMPARE(w->lblMessage->accessibleName(), text);
    }

    void everyTabStopIsAControlThatShows() {
        auto w = Open();
        w->btnPref->click();
        QTRY_COMPARE(w->height(), 257);
        w->EditAddress->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w->EditAddress));
        QStringList stops;
        for (int i = 0; i < 40; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QWidget* focus = QApplication::focusWidget();
            QVERIFY(focus);
            if (focus == w->EditAddress) break;
            stops << focus->objectName();
            QVERIFY2(focus->isVisible() && focus->width() > 0 && focus->height() > 0,
                     qPrintable(focus->objectName()));
        }
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w->EditAddress)); // round the window
        QVERIFY2(stops.contains("EditOutput") && stops.contains("cbCapWidth"), qPrintable(stops.join(' ')));
    }

    void whatNothingCouldOpenIsNamedOnTheStatusLine() {
        auto w = Open();
        desktop->failOpens = true;
        w->EditAddress->setText("http://127.0.0.1/x");
        w->btnBrowseClick();
        QCOMPARE(w->lblMessage->accessibleName(), QString("could not open http://127.0.0.1/x"));
        w->EditOutput->setText(dir->path());
        w->miOpenFolderClick();
        QCOMPARE(w->lblMessage->accessibleName(), "could not open " + dir->path());
    }

    // The desktop's own "open": xdg-open from PATH, its failure told whether it ran and said so or could not
    // be run at all.
    void theDesktopsOpenTellsWhenNothingCouldOpen() {
        desktop.reset(); // the program's own desktop
        const QByteArray path = qgetenv("PATH");
        const QString bin = dir->path() + "/bin";
        QDir().mkpath(bin);
        QFile script(bin + "/xdg-open");
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write(("#!/bin/sh\nprintf '%s' \"$1\" > '" + dir->path() + "/asked'\nexit 3\n").toUtf8());
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("PATH", bin.toUtf8());
        const auto restore = qScopeGuard([&] { qputenv("PATH", path); });
        int failures = 0;
        Desktop().Open(nullptr, dir->path() + "/a file.png", [&] { ++failures; });
        QTRY_COMPARE(failures, 1);
        QCOMPARE(QString::fromUtf8(ReadWholeFile((dir->path() + "/asked").toStdString())),
                 dir->path() + "/a file.png");
        script.remove(); // no opener at all
        Desktop().Open(nullptr, "http://127.0.0.1/", [&] { ++failures; });
        QTRY_COMPARE(failures, 2);
    }

    void escapedErrorsReachTheErrorBoxAndTheProgramGoesOn() {
        auto w = Open();
        QTimer::singleShot(0, w.get(), [] { throw std::runtime_error("boom in a handler"); });
        QTRY_COMPARE(desktop->errors, QStringList{"boom in a handler"});
        w->btnPref->click();
        QTRY_COMPARE(w->height(), 257);
    }

    void droppedLinksReachOnlyTheAddressBox() {
        auto w = Open();
        w->EditAddress->setText("typed");
        auto deliver = [](QWidget* target, const QMimeData& mime) {
            const auto actions = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
            QDragEnterEvent enter(QPoint(5, 5), actions, &mime, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(target, &enter);
            if (!enter.isAccepted()) return false;
            QDropEvent drop(QPoint(6, 6), actions, &mime, Qt::NoButton, Qt::NoModifier);
            QCoreApplication::sendEvent(target, &drop);
            return drop.isAccepted() && drop.dropAction() == Qt::LinkAction;
        };
        QMimeData firefox; // UTF-16 URL and title on two lines, as Firefox offers a link
        const QString moz = "http://127.0.0.1/from-firefox\nA title";
        firefox.setData("text/x-moz-url",
                        QByteArray(reinterpret_cast<const char*>(moz.utf16()), moz.size() * 2));
        firefox.setData("text/uri-list", "http://127.0.0.1/from-firefox\r\n");
        QVERIFY(!deliver(w->lblMessage, firefox));
        QVERIFY(!deliver(w->Panel1, firefox));
        QCOMPARE(w->EditAddress->text(), QString("typed"));
        QVERIFY(deliver(w->EditAddress, firefox));
        QCOMPARE(w->EditAddress->text(), QString("http://127.0.0.1/from-firefox"));

        // A file that is not a shortcut yields no URL: what the user typed stays.
        w->EditAddress->setText("typed again");
        QMimeData files;
        files.setUrls({QUrl::fromLocalFile(dir->path() + "/picture.png")});
        deliver(w->EditAddress, files);
        QCOMPARE(w->EditAddress->text(), QString("typed again"));
    }
};

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    KorvaneApplication app(argc, argv);
    WindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "WindowTest.moc"
