// The program told to end by SIGTERM (a logout, systemctl, kill) ends as on Close: the job under way stops,
// the settings file is written and the browser is gone. In a binary of its own: the signal stays received.
#include "app/Program.h"
#include "app/Application.h"
#include "app/CaptureWorker.h"
#include "app/MainWindow.h"
#include "browser/ChromiumBrowser.h"
#include "browser/ChromiumEngine.h"
#include "platform/Files.h"
#include "platform/IniFile.h"
#include "platform/Signals.h"
#include "tests/support/TestHttpServer.h"

#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <sys/wait.h>

using namespace korvane;
using korvane::testing::MakeResponse;
using korvane::testing::THttpResponse;
using korvane::testing::TTestHttpServer;

class ProgramTest : public QObject {
    Q_OBJECT

private slots:
    void sigtermDuringALoadEndsTheProgramAsCloseDoes() {
        TTestHttpServer server;
        THttpResponse held = MakeResponse(200, "text/html", "<html><body>half a page");
        held.NeverFinish = true;
        server.Route("/held.html", held);
        QTemporaryDir dir;
        const TAppPaths paths{(dir.path() + "/korvane.ini").toStdString(), (dir.path() + "/").toStdString()};
        auto browser = std::make_shared<TChromiumBrowser>();
        pid_t browserPid = -1;

        const int status = RunWindow(paths, std::make_unique<TChromiumEngine>(browser), [&](TfrmKorvane& w) {
            w.EditDelay->setText("7"); // to be found in the settings file
            w.EditAddress->setText(QString::fromStdString(server.Url("/held.html")));
            w.tbCaptureClick();
            // Once the browser has asked for the page, the job waits for the rest of it: then the signal.
            auto* poll = new QTimer(&w);
            QObject::connect(poll, &QTimer::timeout, [&, poll] {
                if (server.RequestsFor("/held.html").empty()) return;
                poll->stop();
                w.Worker().RunAndWait([&] { browserPid = browser->ProcessId(); });
                ::kill(::getpid(), SIGTERM);
            });
            poll->start(10);
        });

        QCOMPARE(status, 0);
        QCOMPARE(TerminationSignal(), SIGTERM);
        QVERIFY(browserPid > 0);
        QVERIFY(!browser->Running());
        QCOMPARE(::kill(browserPid, 0), -1); // ended and reaped
        QCOMPARE(errno, ESRCH);
        QVERIFY(FileExists(paths.SettingsFile));
        QCOMPARE(TMemIniFile(paths.SettingsFile).ReadInteger("option", "delay", 0), 7);
    }
};

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    KorvaneApplication app(argc, argv);
    ProgramTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "ProgramTest.moc"
