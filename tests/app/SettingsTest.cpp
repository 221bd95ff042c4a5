// Loading and storing the settings file through the window: defaults, acceptance rules, what survives,
// and the files that cannot be read or written.
#include "RecordingDesktop.h"
#include "ScriptedEngine.h"
#include "app/Application.h"
#include "app/MainWindow.h"
#include "platform/Files.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <random>
#include <sys/stat.h>

using namespace korvane;

class SettingsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<test::RecordingDesktop> desktop;

    TAppPaths Paths() const {
        return TAppPaths{(dir->path() + "/korvane.ini").toStdString(), (dir->path() + "/").toStdString()};
    }
    void Store(const std::string& text) const { WriteFileAtomically(Paths().SettingsFile, text); }
    std::string Stored() const { return ReadWholeFile(Paths().SettingsFile); }
    std::unique_ptr<TfrmKorvane> Open() const {
        return std::make_unique<TfrmKorvane>(Paths(), std::make_unique<test::TScriptedEngine>());
    }

    static void ExpectDefaults(TfrmKorvane& w, const QString& folder) {
        QCOMPARE(w.pos(), QPoint(100, 100));
        QCOMPARE(w.cbCapWidth->currentIndex(), 4);
        QCOMPARE(w.cbCapHeight->currentIndex(), 0);
        QCOMPARE(w.EditAnyWidth->text(), QString("2000"));
        QCOMPARE(w.EditAnyHeight->text(), QString("2000"));
        QVERIFY(w.cbAndView->isChecked());
        QVERIFY(!w.cbHideScrollBar->isChecked());
        QCOMPARE(w.cbSaveFormat->currentIndex(), 0);
        QCOMPARE(w.EditDelay->text(), QString("1"));
        QCOMPARE(w.EditOutput->text(), folder);
        QVERIFY(w.cbSecImage->isChecked());
        QVERIFY(!w.cbSecAXDL->isChecked());
    }

private slots:
    void init() {
        dir = std::make_unique<QTemporaryDir>();
        desktop = std::make_unique<test::RecordingDesktop>();
    }
    void cleanup() {
        desktop.reset();
        dir.reset();
    }

    void storedValuesComeBackInDecimal() {
        Store("[window]\r\nleft=-20\r\ntop=0x20\r\n[option]\r\ncapturewith=1\r\ncaptureheight=6\r\n"
              "capanywidth=0x1F\r\ncapanyheight=-5\r\ncapandview=0\r\nhidescrollbar=7\r\nsaveformat=2\r\n"
              "delay=0x0A\r\noutputpath=" +
              dir->path().toStdString() +
              "\r\n"
              "[security]\r\nimage=0\r\nvideo=0\r\nscript=0\r\njava=0\r\nactivex=0\r\naxdl=1\r\n");
        auto w = Open();
        QCOMPARE(w->pos(), QPoint(-20, 32));
        QCOMPARE(w->cbCapWidth->currentText(), QString("any"));
        QVERIFY(w->EditAnyWidth->isEnabled());
        QCOMPARE(w->cbCapHeight->currentText(), QString("1200"));
        QVERIFY(!w->EditAnyHeight->isEnabled());
        QCOMPARE(w->EditAnyWidth->text(), QString("31"));
        QCOMPARE(w->EditAnyHeight->text(), QString("-5"));
        QVERIFY(!w->cbAndView->isChecked());
        QVERIFY(w->cbHideScrollBar->isChecked());
        QCOMPARE(w->cbSaveFormat->currentText(), QString("png"));
        QCOMPARE(w->EditDelay->text(), QString("10"));
        QCOMPARE(w->EditOutput->text(), dir->path());
        for (QCheckBox* off : {w->cbSecImage, w->cbSecVideo, w->cbSecScript, w->cbSecJava, w->cbSecActiveX})
            QVERIFY(!off->isChecked());
        QVERIFY(w->cbSecAXDL->isChecked());
    }

    void aWindowSavedOffEveryScreenComesBackOnThePrimaryOne() {
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        const QPoint home = area.topLeft() + QPoint(100, 100);
        struct TCase {
            int Left, Top;
            QPoint Expected;
        };
        // Kept: partly off the screen with enough of its title bar on it. Moved: beyond any edge, or with
        // no more than a sliver of the title bar left.
        const TCase cases[] = {
            {-20, 32, {-20, 32}},
            {area.right() - 80, area.bottom() - 40, {area.right() - 80, area.bottom() - 40}},
            {5000, 3000, home},
            {-1000, 100, home},
            {100, -200, home},
            {area.right() - 30, 100, home},
            {100, area.bottom() - 5, home}};
        for (const TCase& c : cases) {
            Store("[window]\r\nleft=" + std::to_string(c.Left) + "\r\ntop=" + std::to_string(c.Top) + "\r\n");
            auto w = Open();
            QCOMPARE(w->pos(), c.Expected);
            w.reset();
            const std::string saved = "left=" + std::to_string(c.Expected.x()) +
                                      "\r\ntop=" + std::to_string(c.Expected.y()) + "\r\n";
            QVERIFY2(Stored().find(saved) != std::string::npos, saved.c_str());
        }
    }

    void thePageTimeComesFromTheFileAndGoesBack() {
        for (auto [stored, time] : {std::pair{"8", 8}, {"0x10", 16}, {"0", 60}, {"-3", 60}, {"abc", 60}}) {
            Store(std::string("[option]\r\ntimeout=") + stored + "\r\n");
            auto w = Open();
            QCOMPARE(w->PageTime(), time);
            w.reset();
            QVERIFY(Stored().find("timeout=" + std::to_string(time) + "\r\n") != std::string::npos);
        }
    }

    void outOfRangeIndexesAreRefused() {
        for (const char* index : {"7", "-1"}) {
            Store(std::string("[option]\r\ncapturewith=") + index + "\r\ncaptureheight=" + index +
                  "\r\nsaveformat=5\r\n");
            auto w = Open();
            QCOMPARE(w->cbCapWidth->currentIndex(), -1);
            QCOMPARE(w->cbCapHeight->currentIndex(), -1);
            QVERIFY(!w->EditAnyWidth->isEnabled());
            QCOMPARE(w->cbSaveFormat->currentText(), QString("bmp"));
            w.reset();
            QVERIFY(Stored().find("capturewith=-1\r\ncaptureheight=-1\r\n") != std::string::npos);
        }
    }

    void unreadableNumbersAndFoldersFallBack() {
        Store("[option]\r\ndelay=abc\r\ncapanywidth=99999999999\r\ncapandview=yes\r\noutputpath=" +
              dir->path().toStdString() + "/vanished\r\n");
        auto w = Open();
        QCOMPARE(w->EditDelay->text(), QString("1"));
        QCOMPARE(w->EditAnyWidth->text(), QString("2000"));
        QVERIFY(w->cbAndView->isChecked());
        QCOMPARE(w->EditOutput->text(), dir->path() + "/");
        // An output path that names a file is no folder either.
        w.reset();
        WriteFileAtomically(dir->path().toStdString() + "/afile", "x");
        Store("[option]\r\noutputpath=" + dir->path().toStdString() + "/afile\r\n");
        QCOMPARE(Open()->EditOutput->text(), dir->path() + "/");
    }

    void sectionsAndKeysMatchWithoutCaseAndUnknownOnesSurvive() {
        Store("; my notes\r\n[window]\r\nleft=5\r\ntop=6\r\n\r\n[Mine]\r\nColour=blue\r\nflag\r\n\r\n"
              "[OPTION]\r\nCaptureHeight=2\r\nExtra=1\r\n");
        auto w = Open();
        QCOMPARE(w->cbCapHeight->currentText(), QString("480"));
        w->EditDelay->setText("not a number");
        w.reset();
        const std::string text = Stored();
        QVERIFY(
            text.rfind("[window]\r\nleft=5\r\ntop=6\r\n\r\n[Mine]\r\nColour=blue\r\nflag\r\n\r\n[OPTION]\r\n"
                       "captureheight=2\r\nExtra=1\r\ncapturewith=4\r\n",
                       0) == 0);
        QVERIFY(text.find("delay=1\r\n") != std::string::npos);
        QVERIFY(text.find("my notes") == std::string::npos);
        QVERIFY(text.find("[security]\r\nimage=1\r\n") != std::string::npos);
    }

    void badFilesGiveDefaultsWithoutCrashOrHang() {
        std::mt19937 rng(11);
        std::string binary;
        for (int i = 0; i < 20'000'000; ++i)
            binary += static_cast<char>(rng());
        std::string nuls("[option]\0capturewith=2\r\n\0\0[\0]\r\n", 32);
        for (const std::string& text : {std::string(), binary, nuls,
                                        std::string("[]\r\n[ ]\r\nleft\r\n=\r\n==\r\n[window\r\nleft=1\r\n"),
                                        std::string("[window]\r\nleft=4294967296\r\ntop=-2147483649\r\n")}) {
            Store(text);
            auto w = Open();
            ExpectDefaults(*w, dir->path() + "/");
            QVERIFY(desktop->errors.isEmpty());
        }
    }

    void unreadableFileShowsTheOpenErrorAndKeepsDesignedValues() {
        ::mkfifo(Paths().SettingsFile.c_str(), 0644);
        auto w = Open();
        QCOMPARE(desktop->errors,
                 QStringList{QString::fromStdString("Cannot open the file " + Paths().SettingsFile)});
        QCOMPARE(w->cbCapWidth->currentIndex(), -1); // designed: no selection
        QCOMPARE(w->EditOutput->text(), QString());
        QCOMPARE(w->pos(), QPoint(253, 210));
    }

    void unwritableFileShowsTheCreateErrorAtShutdown() {
        TAppPaths paths = Paths();
        paths.SettingsFile = (dir->path() + "/missing-folder/korvane.ini").toStdString();
        auto w = std::make_unique<TfrmKorvane>(paths, std::make_unique<test::TScriptedEngine>());
        QVERIFY(desktop->errors.isEmpty());
        w.reset();
        QCOMPARE(desktop->errors,
                 QStringList{QString::fromStdString("Cannot create the file " + paths.SettingsFile)});
    }
};

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    KorvaneApplication app(argc, argv);
    SettingsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "SettingsTest.moc"
