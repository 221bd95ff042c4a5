// The capture job in the window with a scripted engine: status sequence, countdown, sizes, file names and
// folders, Abort and Close at each stage (the engine's steps run on their own thread, and the window answers
// meanwhile), one job at a time, pages that fail or vanish, and sizes out of bounds.
#include "RecordingDesktop.h"
#include "ScriptedEngine.h"
#include "app/Application.h"
#include "app/CaptureWorker.h"
#include "app/MainWindow.h"
#include "browser/BrowserHost.h"
#include "platform/Files.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <csignal>
#include <cstring>
#include <memory>

#include <sys/resource.h>

using namespace korvane;

namespace {

// Width, height and the pixel at (x, y) from the top of a 24-bit BMP file, read without the program's code.
struct BmpInfo {
    int width = 0, height = 0;
    std::string bytes;
    std::uint32_t Pixel(int x, int y) const { // 0xRRGGBB
        const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) / 4 * 4;
        const std::size_t at =
            54 + static_cast<std::size_t>(height - 1 - y) * stride + static_cast<std::size_t>(x) * 3;
        auto b = [&](std::size_t i) { return static_cast<std::uint8_t>(bytes.at(i)); };
        return (b(at + 2) << 16) | (b(at + 1) << 8) | b(at);
    }
};

BmpInfo ReadBmp(const std::string& path) {
    BmpInfo info;
    info.bytes = ReadWholeFile(path);
    if (info.bytes.size() < 54 || info.bytes.compare(0, 2, "BM") != 0) return info;
    std::int32_t w, h;
    std::memcpy(&w, info.bytes.data() + 18, 4);
    std::memcpy(&h, info.bytes.data() + 22, 4);
    info.width = w;
    info.height = h;
    return info;
}

} // namespace

class CaptureJobTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<test::RecordingDesktop> desktop;
    test::TScriptedEngine* engine = nullptr;
    std::unique_ptr<TfrmKorvane> w;
    std::unique_ptr<QSignalSpy> shown;

    QString Out() const { return dir->path() + "/out/"; }
    QStringList Statuses() const {
        QStringList texts;
        for (const auto& args : *shown)
            texts << args.first().toString();
        return texts;
    }
    QStringList Files(const QString& folder) const {
        return QDir(folder).entryList(QDir::Files | QDir::Hidden);
    }

    // Looks at the engine from its own thread, once everything asked of it so far has been done.
    template <class F> auto OnEngine(F look) {
        decltype(look()) result{};
        w->Worker().RunAndWait([&] { result = look(); });
        return result;
    }
    // What the engine's thread does is waited for, as long as a slow (or sanitized) build takes.
    static constexpr int kPatience = 120000;
    void WaitUntilHeld() { QTRY_VERIFY_WITH_TIMEOUT(engine->Holding.load(), kPatience); }

    // The page loads on the engine's thread; then the countdown is stepped here, tick by tick, to its end.
    void WaitForTheCountdown() { QTRY_VERIFY_WITH_TIMEOUT(w->CountingDown() || !w->Busy(), kPatience); }
    void TickToTheEnd() {
        while (w->CountingDown())
            w->TimerTimer();
        QTRY_VERIFY_WITH_TIMEOUT(!w->Busy(), kPatience);
    }
    // Starts a job and waits until it has ended.
    void Run(const QString& address) {
        w->EditAddress->setText(address);
        shown->clear();
        w->tbCaptureClick();
        WaitForTheCountdown();
        TickToTheEnd();
        QVERIFY(w->tbCapture->isEnabled());
    }

    void MakeWindow() {
        auto scripted = std::make_unique<test::TScriptedEngine>();
        engine = scripted.get();
        TAppPaths paths{(dir->path() + "/korvane.ini").toStdString(), (dir->path() + "/").toStdString()};
        w = std::make_unique<TfrmKorvane>(paths, std::move(scripted));
        w->EditOutput->setText(Out());
        w->EditDelay->setText("0");
        w->cbAndView->setChecked(false);
        w->TickByHand();
        shown = std::make_unique<QSignalSpy>(w.get(), &TfrmKorvane::StatusTextShown);
    }

private slots:
    void init() {
        dir = std::make_unique<QTemporaryDir>();
        QDir().mkpath(Out());
        desktop = std::make_unique<test::RecordingDesktop>();
        MakeWindow();
    }
    void cleanup() {
        shown.reset();
        w.reset();
        desktop.reset();
        dir.reset();
    }

    void defaultsGive1024WideAndTheScrollHeightPlus30() {
        w->EditDelay->setText("1");
        w->cbAndView->setChecked(true);
        Run("http://127.0.0.1/page.html?id=7");
        const QString file = Out() + "http___127.0.0.1_page.html_id=7.bmp";
        const BmpInfo bmp = ReadBmp(file.toStdString());
        QCOMPARE(bmp.width, 1024);
        QCOMPARE(bmp.height, 2030); // measured again at 1024 wide, where the page is not the narrow one
        QCOMPARE(bmp.Pixel(5, 0), 0x800005u);    // top-left is the page's top-left
        QCOMPARE(bmp.Pixel(3, 2029), 0x80ED03u); // row 2029 (& 255 = 237) at the bottom
        QCOMPARE(desktop->opened, QStringList{file});
        QCOMPARE(engine->Resizes.back(), std::make_pair(100, 100)); // the view is back at rest
        QVERIFY(w->CaptureBitmap().Empty());

        QStringList expected{"go......", "loading http://127.0.0.1/page.html?id=7", "Done", "wait......"};
        for (int i = 0; i < 9; ++i)
            expected << "wait 1...";
        expected << "wait 0..."
                 << "capture......"
                 << "save......";
        QStringList statuses = Statuses();
        QVERIFY(statuses.last().startsWith("finished ["));
        QVERIFY(statuses.last().endsWith(" msec]"));
        statuses.removeLast();
        QCOMPARE(statuses, expected);
    }

    void aDelayOfTwoSecondsCountsTwentyTicksAndTheLastOneCaptures() {
        w->EditDelay->setText("2");
        w->EditAddress->setText("http://127.0.0.1/two");
        w->tbCaptureClick();
        WaitForTheCountdown();
        QCOMPARE(w->WaitTicks(), 20);
        QCOMPARE(w->lblMessage->text(), QString("wait......"));
        for (int tick = 1; tick <= 19; ++tick) {
            w->TimerTimer();
            QCOMPARE(w->lblMessage->text(), QString("wait %1...").arg(tick < 10 ? 2 : 1));
            QVERIFY(w->CountingDown());
        }
        // The view the page was loaded in (the width chosen, a screen's height); nothing measured yet.
        QCOMPARE(OnEngine([&] { return engine->Resizes; }), (std::vector<std::pair<int, int>>{{1024, 768}}));
        w->TimerTimer();
        QVERIFY(!w->CountingDown());
        QTRY_VERIFY_WITH_TIMEOUT(!w->Busy(), kPatience);
        QVERIFY(Statuses().contains("wait 0..."));
        QVERIFY(QFile::exists(Out() + "http___127.0.0.1_two.bmp"));
        w->TimerTimer(); // a late tick does not capture again
        QCOMPARE(OnEngine([&] { return engine->Draws; }), 1);
    }

    void delayZeroCapturesOnTheFirstTickAndNegativeCountsAsZero() {
        for (const char* delay : {"0", "-3"}) {
            w->EditDelay->setText(delay);
            Run("http://127.0.0.1/zero");
            const QStringList s = Statuses();
            QVERIFY(!s.join('|').contains("wait 0..."));
            QCOMPARE(s.mid(s.indexOf("wait......"), 3),
                     (QStringList{"wait......", "capture......", "save......"}));
            QVERIFY(QFile::exists(Out() + "http___127.0.0.1_zero.bmp"));
        }
    }

    void sizeChoices() {
        struct Case {
            int width, height;
            const char* anyWidth;
            int expectW, expectH;
        } cases[] = {
            {0, 0, "", 1030, 2030},    // auto x auto, second pass at 1030 wide
            {1, 2, "300", 300, 480},   // any 300 x 480
            {1, 6, "abc", 2000, 1200}, // non-numeric "any" is 2000
            {-1, -1, "", 1030, 2030},  // no selection counts as auto
            {1, 0, "400", 400, 2330},  // narrow layout grows the page
        };
        w->cbSaveFormat->setCurrentIndex(0);
        for (const Case& c : cases) {
            w->cbCapWidth->setCurrentIndex(c.width);
            w->cbCapHeight->setCurrentIndex(c.height);
            w->EditAnyWidth->setText(c.anyWidth);
            Run("http://127.0.0.1/size");
            const BmpInfo bmp = ReadBmp((Out() + "http___127.0.0.1_size.bmp").toStdString());
            QCOMPARE(bmp.width, c.expectW);
            QCOMPARE(bmp.height, c.expectH);
        }
        QCOMPARE(Files(Out()),
                 QStringList{"http___127.0.0.1_size.bmp"}); // overwritten each time, no leftovers
    }

    void sizesOutOfBoundsAreRefusedWithAnErrorAndNoFile() {
        w->cbCapWidth->setCurrentIndex(1);
        w->cbCapHeight->setCurrentIndex(1);
        for (auto [width, height] :
             {std::pair{"0", "100"}, {"-5", "100"}, {"100000", "100000"}, {"100", "0"}}) {
            desktop->errors.clear();
            w->EditAnyWidth->setText(width);
            w->EditAnyHeight->setText(height);
            Run("http://127.0.0.1/bounds");
            QCOMPARE(desktop->errors.size(), 1);
            QVERIFY2(desktop->errors.first().startsWith("The capture "), qPrintable(desktop->errors.first()));
            QVERIFY(w->lblMessage->text().startsWith("finished"));
        }
        QVERIFY(Files(Out()).isEmpty());
        for (auto [width, height] : engine->Resizes)
            QVERIFY(width >= 1 && height >= 1 && width <= 16384); // never tried, nor loaded in
    }

    void jpegTooTallIsRefusedBeforeAnythingIsDrawn() {
        engine->DefaultPage.ScrollHeight = 70000;
        w->cbSaveFormat->setCurrentIndex(1);
        Run("http://127.0.0.1/tall");
        QCOMPARE(desktop->errors.size(), 1);
        QVERIFY2(desktop->errors.first().contains("65500") && desktop->errors.first().contains("png or bmp"),
                 qPrintable(desktop->errors.first()));
        QCOMPARE(OnEngine([&] { return engine->Draws; }), 0);
        QVERIFY(Files(Out()).isEmpty());
        w->cbSaveFormat->setCurrentIndex(2); // png takes it
        desktop->errors.clear();
        Run("http://127.0.0.1/tall");
        QVERIFY(desktop->errors.isEmpty());
        QVERIFY(QFile::exists(Out() + "http___127.0.0.1_tall.png"));
    }

    void fileNamesAndFolders() {
        w->cbSaveFormat->setCurrentIndex(2);
        const QString longAddress = "http://127.0.0.1/" + QString(150, 'x');
        Run(longAddress);
        const QStringList files = Files(Out());
        QCOMPARE(files.size(), 1);
        QCOMPARE(files.first().size(), 101 + 4);
        QVERIFY(files.first().endsWith("~.png"));

        w->cbSaveFormat->setCurrentIndex(1);
        Run(" http://127.0.0.1/blank\t"); // blanks around the address are no part of the name
        QVERIFY(QFile::exists(Out() + "http___127.0.0.1_blank.jpg"));
        w->EditAddress->setText("http://127.0.0.1/first\nhttp://127.0.0.1/second"); // a pasted list
        shown->clear();
        w->tbCaptureClick();
        WaitForTheCountdown();
        TickToTheEnd();
        QVERIFY(w->lblMessage->text().startsWith("finished"));
        QVERIFY(QFile::exists(Out() + "http___127.0.0.1_first.jpg")); // its first line, no line break
        QCOMPARE(OnEngine([&] { return engine->Navigations.back(); }), std::string("http://127.0.0.1/first"));

        QDir(Out()).removeRecursively(); // the output folder vanished since start-up
        Run("http://127.0.0.1/fallback");
        QVERIFY(QFile::exists(dir->path() + "/http___127.0.0.1_fallback.jpg"));
        QVERIFY2(
            Statuses().last().endsWith(" msec] - " + Out() + " does not exist: written in " + dir->path()),
            qPrintable(Statuses().last()));
        QVERIFY(desktop->opened.isEmpty()); // "Cap and View" off
    }

    void theStatusLineNamesTheWrittenFileAndAClickOpensItsFolder() {
        w->cbSaveFormat->setCurrentIndex(2);
        Run("http://127.0.0.1/named");
        const QString file = Out() + "http___127.0.0.1_named.png";
        QVERIFY(QFile::exists(file));
        QCOMPARE(w->lblMessage->toolTip(), file);
        QCOMPARE(w->lblMessage->accessibleDescription(), file);
        QVERIFY(w->lblMessage->text().startsWith("finished [")); // the text itself as it was
        QTest::mouseClick(w->lblMessage, Qt::LeftButton);
        QCOMPARE(desktop->opened, QStringList{dir->path() + "/out"});

        // The folder the file went to, also when the typed one had gone and the program's took it.
        QDir(Out()).removeRecursively();
        Run("http://127.0.0.1/elsewhere");
        // The line is cut: its tooltip has the whole text, then the file.
        QVERIFY2(w->lblMessage->toolTip().endsWith("\n" + dir->path() + "/http___127.0.0.1_elsewhere.png"),
                 qPrintable(w->lblMessage->toolTip()));
        QCOMPARE(w->lblMessage->accessibleDescription(), dir->path() + "/http___127.0.0.1_elsewhere.png");
        desktop->opened.clear();
        QTest::mouseClick(w->lblMessage, Qt::LeftButton);
        QCOMPARE(desktop->opened, QStringList{dir->path()});

        // A job that writes nothing names nothing, from its start on.
        w->cbCapWidth->setCurrentIndex(1);
        w->EditAnyWidth->setText("0");
        w->EditAddress->setText("http://127.0.0.1/refused");
        w->tbCaptureClick();
        QCOMPARE(w->lblMessage->toolTip(), QString());
        WaitForTheCountdown();
        TickToTheEnd();
        QCOMPARE(desktop->errors.size(), 1);
        QCOMPARE(w->lblMessage->toolTip(), QString());
        QCOMPARE(w->lblMessage->accessibleDescription(), QString());
        desktop->opened.clear();
        QTest::mouseClick(w->lblMessage, Qt::LeftButton);
        QVERIFY(desktop->opened.isEmpty());
    }

    void aFolderThatCannotBeWrittenIsSaidAtGo() {
        // A folder no one may make files in, not even the superuser.
        w->EditOutput->setText("/proc/self/");
        w->EditAddress->setText("http://127.0.0.1/never");
        shown->clear();
        w->tbCaptureClick();
        const QString text = w->lblMessage->accessibleName(); // the whole text
        QVERIFY2(text.startsWith("the output folder /proc/self/ cannot be written: ") &&
                     text.size() > QString("the output folder /proc/self/ cannot be written: ").size(),
                 qPrintable(text));
        QVERIFY(!w->Busy());
        QVERIFY(w->tbCapture->isEnabled());
        QCOMPARE(Statuses(), QStringList{text}); // no "go......": nothing was loaded
        QVERIFY(OnEngine([&] { return engine->Navigations.empty(); }));
    }

    void aFullDiskSaysTheFileAndTheSystemsReason() {
        // Files of this process may not grow beyond 50,000 bytes while the page is written (the disk is full
        // at that size): the write fails as on a full disk, with the system's reason.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit before{};
        getrlimit(RLIMIT_FSIZE, &before);
        const rlimit limit{50000, before.rlim_max};
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &limit), 0);
        Run("http://127.0.0.1/full");
        setrlimit(RLIMIT_FSIZE, &before);
        QCOMPARE(desktop->errors,
                 QStringList{"Error writing to the stream\n" + Out() +
                             "http___127.0.0.1_full.bmp: " + QString::fromLocal8Bit(std::strerror(EFBIG))});
        QVERIFY(Files(Out()).isEmpty());
        QCOMPARE(w->lblMessage->toolTip(), QString());
    }

    void aLoadThatDoesNotEndIsCapturedAsItIsWhenItsTimeIsUp() {
        engine->DefaultPage.NeverCompletes = true;
        w->EditAddress->setText("http://127.0.0.1/streaming");
        w->tbCaptureClick();
        QTRY_VERIFY_WITH_TIMEOUT(Statuses().contains("interactive"), kPatience); // its document has come
        QVERIFY(!w->CountingDown());
        w->LoadTimeUp(); // three quarters of the 60 s page time
        WaitForTheCountdown();
        TickToTheEnd();
        QVERIFY(QFile::exists(Out() + "http___127.0.0.1_streaming.bmp"));
        QCOMPARE(OnEngine([&] { return engine->Stops; }), 1);
        const QString last = Statuses().last();
        QVERIFY2(last.startsWith("finished [") &&
                     last.endsWith(" msec] - not complete after 45 s: captured as it was"),
                 qPrintable(last));
        QVERIFY(desktop->errors.isEmpty());

        // One whose document never came ends with the reason, and nothing is written.
        engine->DefaultPage.NeverCompletes = false;
        engine->DefaultPage.NeverLoads = true;
        w->EditAddress->setText("http://127.0.0.1/silent");
        shown->clear();
        w->tbCaptureClick();
        QTRY_VERIFY_WITH_TIMEOUT(Statuses().contains("loading http://127.0.0.1/silent"), kPatience);
        w->LoadTimeUp();
        QTRY_VERIFY_WITH_TIMEOUT(!w->Busy(), kPatience);
        QCOMPARE(w->lblMessage->accessibleName(), QString("timed out after 45 s while loading"));
        QVERIFY(!QFile::exists(Out() + "http___127.0.0.1_silent.bmp"));
        QCOMPARE(OnEngine([&] { return engine->Resizes.back(); }), std::make_pair(100, 100));

        // A load that ended in time is not touched by its timer; nor is a job that was aborted.
        engine->DefaultPage.NeverLoads = false;
        w->EditAddress->setText("http://127.0.0.1/quick");
        w->tbCaptureClick();
        WaitForTheCountdown();
        const int stops = OnEngine([&] { return engine->Stops; });
        w->LoadTimeUp();
        TickToTheEnd();
        QVERIFY(!Statuses().last().contains("not complete"));
        QVERIFY(QFile::exists(Out() + "http___127.0.0.1_quick.bmp"));
        QCOMPARE(OnEngine([&] { return engine->Stops; }), stops);
    }

    void addressesWithoutAWebSchemeAreRefusedWithAStatusText() {
        for (const char* address : {"127.0.0.1/page", "ftp://127.0.0.1/", "file:///etc/passwd"}) {
            w->ShowStatus("kept");
            w->EditAddress->setText(address);
            w->tbCaptureClick();
            QCOMPARE(w->lblMessage->text(), QString("not a web address: ") + address);
            QVERIFY(w->tbCapture->isEnabled());
        }
        QVERIFY(OnEngine([&] { return engine->Navigations.empty(); }));
        // Schemes are not case-sensitive.
        Run("HTTP://127.0.0.1/upper");
        QVERIFY(w->lblMessage->text().startsWith("finished"));
        QVERIFY(QFile::exists(Out() + "HTTP___127.0.0.1_upper.bmp"));
    }

    void abortDuringTheLoadWritesNothing() {
        engine->DefaultPage.NeverLoads = true;
        w->EditAddress->setText("http://127.0.0.1/slow");
        w->tbCaptureClick();
        QTRY_COMPARE_WITH_TIMEOUT(w->lblMessage->text(), QString("loading http://127.0.0.1/slow"), kPatience);
        w->Abort->trigger(); // Ctrl+S
        QCOMPARE(w->lblMessage->text(), QString("Aborted"));
        QVERIFY(w->tbCapture->isEnabled());
        QCOMPARE(OnEngine([&] { return engine->Stops; }), 1); // the engine has stopped the load
        QVERIFY(!w->CountingDown() && !w->Timer->isActive());
        QVERIFY(Files(Out()).isEmpty());
        QCOMPARE(OnEngine([&] { return engine->Draws; }), 0);
        // Status texts of the engine no longer reach the line after an abort.
        w->Worker().RunAndWait([&] { engine->Site->StatusTextChange("late text"); });
        QCoreApplication::processEvents();
        QCOMPARE(w->lblMessage->text(), QString("Aborted"));
    }

    void abortDuringTheCountdownWritesNothing() {
        w->EditDelay->setText("2");
        w->EditAddress->setText("http://127.0.0.1/count");
        w->tbCaptureClick();
        WaitForTheCountdown();
        w->TimerTimer();
        QCOMPARE(w->lblMessage->text(), QString("wait 2..."));
        w->tbAbortClick();
        QCOMPARE(w->lblMessage->text(), QString("Aborted"));
        QVERIFY(!w->CountingDown() && !w->Timer->isActive());
        w->TimerTimer(); // a tick that was on its way captures nothing
        QCOMPARE(w->lblMessage->text(), QString("Aborted"));
        QCOMPARE(OnEngine([&] { return engine->Draws; }), 0);
        QVERIFY(Files(Out()).isEmpty());
        // The window is ready for the next job at once.
        w->EditDelay->setText("0");
        Run("http://127.0.0.1/count");
        QVERIFY(QFile::exists(Out() + "http___127.0.0.1_count.bmp"));
    }

    void abortDuringDrawingKeepsThePreviousFileAndTheWindowAnswers() {
        Run("http://127.0.0.1/drawn");
        const QString file = Out() + "http___127.0.0.1_drawn.bmp";
        const std::string before = ReadWholeFile(file.toStdString());
        engine->HoldDrawing = true;
        w->EditAddress->setText("http://127.0.0.1/drawn");
        w->tbCaptureClick();
        WaitForTheCountdown();
        w->TimerTimer(); // a delay of 0: the first tick captures
        WaitUntilHeld(); // the engine is drawing, on its own thread
        // Meanwhile the window paints, takes text and shows what it is told.
        w->ShowStatus("still answering");
        w->lblMessage->repaint();
        QCOMPARE(w->lblMessage->text(), QString("still answering"));
        w->tbAbortClick();
        QTRY_VERIFY_WITH_TIMEOUT(!engine->Holding.load(), kPatience); // the drawing was given up
        OnEngine([] { return 0; });
        QCOMPARE(w->lblMessage->text(), QString("Aborted"));
        QCOMPARE(ReadWholeFile(file.toStdString()), before);
        QCOMPARE(Files(Out()), QStringList{"http___127.0.0.1_drawn.bmp"}); // no temporary left
        QVERIFY(desktop->errors.isEmpty());
    }

    void abortWhileTheFileIsMadeWritesNoFile() {
        w->cbSaveFormat->setCurrentIndex(2);
        engine->HoldDeveloping = true;
        w->EditAddress->setText("http://127.0.0.1/developing");
        w->tbCaptureClick();
        WaitForTheCountdown();
        w->TimerTimer();
        WaitUntilHeld(); // half the rows are in, the encoder waits for the rest
        w->tbAbortClick();
        QTRY_VERIFY_WITH_TIMEOUT(!engine->Holding.load(), kPatience);
        OnEngine([] { return 0; }); // the capture step has returned
        QVERIFY(Files(Out()).isEmpty());
        QVERIFY(desktop->errors.isEmpty());
    }

    void oneJobAtATimeWhateverIsPressed() {
        engine->DefaultPage.NeverLoads = true;
        w->EditAddress->setText("http://127.0.0.1/held");
        w->show();
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        w->EditAddress->setFocus();
        QTest::keyClick(w->EditAddress, Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(OnEngine([&] { return engine->Navigations.size(); }) == 1u, kPatience);
        for (int i = 0; i < 50; ++i) // a held Enter key
            QTest::keyClick(w.get(), Qt::Key_Return);
        w->tbCaptureClick();
        w->Execute->trigger();
        QCOMPARE(OnEngine([&] { return engine->Navigations.size(); }), 1u);
        QCOMPARE(Statuses().count("go......"), 1);
        w->tbAbortClick();
    }

    void theJobKeepsTheAddressItStartedWith() {
        w->EditDelay->setText("1");
        w->EditAddress->setText("http://127.0.0.1/first");
        shown->clear();
        w->tbCaptureClick();
        WaitForTheCountdown();
        w->TimerTimer();
        QCOMPARE(w->lblMessage->text(), QString("wait 1..."));
        // Neither a paste nor a drop changes the address of a running job; a change by other means does
        // not reach it either.
        QApplication::clipboard()->setText("http://127.0.0.1/pasted");
        w->tbPasteClick();
        QCOMPARE(w->EditAddress->text(), QString("http://127.0.0.1/first"));
        w->EditAddress->setText("http://127.0.0.1/second");
        TickToTheEnd();
        QVERIFY(w->lblMessage->text().startsWith("finished"));
        QCOMPARE(Files(Out()), QStringList{"http___127.0.0.1_first.bmp"});
    }

    void failedLoadEndsWithTheEnginesTextAndNoFile() {
        engine->DefaultPage.Error = "net::ERR_CONNECTION_REFUSED";
        Run("http://127.0.0.1:1/");
        QCOMPARE(w->lblMessage->text(), QString("net::ERR_CONNECTION_REFUSED"));
        QVERIFY(!Statuses().contains("wait......"));
        QVERIFY(Files(Out()).isEmpty());
    }

    void documentGoneAtCaptureTimeEndsWithFinishedAndNoFile() {
        w->EditDelay->setText("1");
        w->EditAddress->setText("http://127.0.0.1/gone");
        w->tbCaptureClick();
        WaitForTheCountdown();
        w->Worker().RunAndWait([&] { engine->DropDocument(); });
        TickToTheEnd();
        QVERIFY(w->lblMessage->text().startsWith("finished"));
        QVERIFY(!Statuses().contains("capture......"));
        QVERIFY(Files(Out()).isEmpty());
        QVERIFY(desktop->errors.isEmpty());
    }

    void downloadOptionsFollowTheCheckBoxes() {
        Run("http://127.0.0.1/defaults");
        QCOMPARE(w->Browser().DownloadControl(), 0x40004470u);
        QCOMPARE(w->Browser().HostInfoFlags(), 0u);
        for (QCheckBox* c : {w->cbSecVideo, w->cbSecScript, w->cbSecJava, w->cbSecActiveX})
            c->setChecked(false);
        w->cbHideScrollBar->setChecked(true);
        Run("http://127.0.0.1/only-images");
        QCOMPARE(w->Browser().DownloadControl(), 0x400047D0u);
        QCOMPARE(w->Browser().HostInfoFlags(), 8u); // checked hides the scroll bars
    }

    void closingEndsTheJobAtEveryStepAndTheEngine() {
        struct Step {
            const char* name;
            bool neverLoads, holdDrawing, holdDeveloping;
        };
        for (Step step : {Step{"loading", true, false, false}, Step{"drawing", false, true, false},
                          Step{"writing", false, false, true}}) {
            engine->DefaultPage.NeverLoads = step.neverLoads;
            engine->HoldDrawing = step.holdDrawing;
            engine->HoldDeveloping = step.holdDeveloping;
            w->cbSaveFormat->setCurrentIndex(step.holdDeveloping ? 2 : 0);
            w->EditAddress->setText(QString("http://127.0.0.1/") + step.name);
            w->tbCaptureClick();
            if (step.neverLoads) {
                QTRY_VERIFY_WITH_TIMEOUT(w->lblMessage->text().startsWith("loading"), kPatience);
            } else {
                WaitForTheCountdown();
                w->TimerTimer();
                WaitUntilHeld();
            }
            const auto shutDown = engine->ShutDown;
            QFile::remove(dir->path() + "/korvane.ini");
            shown.reset();
            w.reset(); // Close: the worker stops whatever it waits for, and the engine is ended
            QVERIFY2(shutDown->load(), step.name);
            QVERIFY2(Files(Out()).isEmpty(), step.name);
            QVERIFY2(QFile::exists(dir->path() + "/korvane.ini"), step.name); // settings written
            MakeWindow();
        }
    }
};

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    KorvaneApplication app(argc, argv);
    CaptureJobTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "CaptureJobTest.moc"
