// The capture job in the window with a scripted engine: status sequence, countdown, sizes, file names and
// folders, Abort at each stage, pages that fail or vanish, and sizes out of bounds.
#include "RecordingDesktop.h"
#include "ScriptedEngine.h"
#include "app/Application.h"
#include "app/MainWindow.h"
#include "browser/BrowserHost.h"
#include "platform/Files.h"

#include <QCheckBox>
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

#include <cstring>
#include <memory>

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

    // Starts a job and waits until it has ended.
    void Run(const QString& address) {
        w->EditAddress->setText(address);
        shown->clear();
        w->tbCaptureClick();
        QTRY_VERIFY_WITH_TIMEOUT(w->lblMessage->text().startsWith("finished") ||
                                     w->lblMessage->text() == "Aborted" || w->tbCapture->isEnabled(),
                                 10000);
        QTRY_VERIFY(w->tbCapture->isEnabled());
    }

private slots:
    void init() {
        dir = std::make_unique<QTemporaryDir>();
        QDir().mkpath(Out());
        desktop = std::make_unique<test::RecordingDesktop>();
        auto scripted = std::make_unique<test::TScriptedEngine>();
        engine = scripted.get();
        TAppPaths paths{(dir->path() + "/korvane.ini").toStdString(), (dir->path() + "/").toStdString()};
        w = std::make_unique<TfrmKorvane>(paths, std::move(scripted));
        w->EditOutput->setText(Out());
        w->EditDelay->setText("0");
        w->cbAndView->setChecked(false);
        shown = std::make_unique<QSignalSpy>(w.get(), &TfrmKorvane::StatusTextShown);
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
            QVERIFY2(desktop->errors.first().startsWith("The capture size "),
                     qPrintable(desktop->errors.first()));
            QVERIFY(w->lblMessage->text().startsWith("finished"));
        }
        QVERIFY(Files(Out()).isEmpty());
        for (auto [width, height] : engine->Resizes)
            QVERIFY(width >= 1 && height >= 1 && width <= 16384); // never tried
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
        Run(" http://127.0.0.1/blank"); // a leading blank passes the test and stays in the name
        QVERIFY(QFile::exists(Out() + " http___127.0.0.1_blank.jpg"));

        QDir(Out()).removeRecursively(); // the output folder vanished since start-up
        Run("http://127.0.0.1/fallback");
        QVERIFY(QFile::exists(dir->path() + "/http___127.0.0.1_fallback.jpg"));
        QVERIFY(desktop->opened.isEmpty()); // "Cap and View" off
    }

    void addressesWithoutThePrefixDoNothing() {
        for (const char* address : {"127.0.0.1/page", "HTTP://127.0.0.1/", "file:///etc/passwd"}) {
            w->ShowStatus("kept");
            w->EditAddress->setText(address);
            w->tbCaptureClick();
            QCOMPARE(w->lblMessage->text(), QString("kept"));
        }
        QVERIFY(engine->Navigations.empty());
    }

    void abortDuringTheLoadWritesNothing() {
        engine->DefaultPage.NeverLoads = true;
        w->EditAddress->setText("http://127.0.0.1/slow");
        QTimer::singleShot(50, w.get(), [this] { QTest::keyClick(w.get(), Qt::Key_S, Qt::ControlModifier); });
        QTimer::singleShot(3000, w.get(), [this] { w->tbAbortClick(); }); // in case the key did not arrive
        w->tbCaptureClick(); // returns when the wait sees the abort
        QCOMPARE(w->lblMessage->text(), QString("Aborted"));
        QVERIFY(w->tbCapture->isEnabled());
        QVERIFY(engine->Stops >= 1);
        QTest::qWait(300);
        QVERIFY(Files(Out()).isEmpty());
        QVERIFY(!w->Timer->isActive());
        // Status texts of the engine no longer reach the line after an abort.
        engine->Site->StatusTextChange("late text");
        QCOMPARE(w->lblMessage->text(), QString("Aborted"));
    }

    void abortDuringTheCountdownWritesNothing() {
        w->EditDelay->setText("2");
        w->EditAddress->setText("http://127.0.0.1/count");
        w->tbCaptureClick();
        QCOMPARE(w->lblMessage->text(), QString("wait......"));
        QTRY_COMPARE(w->lblMessage->text(), QString("wait 2..."));
        w->tbAbortClick();
        QCOMPARE(w->lblMessage->text(), QString("Aborted"));
        QTest::qWait(400);
        QCOMPARE(w->lblMessage->text(), QString("Aborted"));
        QVERIFY(Files(Out()).isEmpty());
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
        engine->DropDocument();
        QTRY_VERIFY_WITH_TIMEOUT(w->lblMessage->text().startsWith("finished"), 5000);
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

    void closingDuringTheLoadWaitEndsItAtOnce() {
        engine->DefaultPage.NeverLoads = true;
        w->EditAddress->setText("http://127.0.0.1/forever");
        QTimer::singleShot(50, w.get(), [this] { w->tbExitClick(); });
        QElapsedTimer t;
        t.start();
        w->tbCaptureClick();
        QVERIFY(t.elapsed() < 5000);
        QVERIFY(Files(Out()).isEmpty());
    }
};

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    KorvaneApplication app(argc, argv);
    CaptureJobTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "CaptureJobTest.moc"
