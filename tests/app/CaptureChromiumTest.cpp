// Whole captures in the window with the real Chromium, of pages served on 127.0.0.1.
#include "RecordingDesktop.h"
#include "app/Application.h"
#include "app/CaptureWorker.h"
#include "app/MainWindow.h"
#include "browser/BrowserHost.h"
#include "tests/support/ImageFiles.h"
#include "tests/support/TestHttpServer.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "capture/OutputPath.h"
#include "tests/support/ModernPages.h"

using namespace korvane;
using korvane::testing::DecodeImageFile;
using korvane::testing::MakeResponse;
using korvane::testing::THttpResponse;
using korvane::testing::TTestHttpServer;

namespace {

// The colour of stripe i: every stripe differs from every other, so a band drawn twice or left out shows.
std::uint32_t StripeColour(int i) {
    return (static_cast<std::uint32_t>(i * 6) << 16) | (static_cast<std::uint32_t>(255 - i * 6) << 8) |
           static_cast<std::uint32_t>((i % 2) * 255);
}

std::string StripesPage(int stripes) {
    std::string html = "<!DOCTYPE html><html><head><style>body{margin:0;background:#fff}"
                       "div{height:1000px;width:800px}</style></head><body>";
    char css[64];
    for (int i = 0; i < stripes; ++i) {
        std::snprintf(css, sizeof css, "<div style=\"background:#%06x\"></div>", StripeColour(i));
        html += css;
    }
    return html + "</body></html>";
}

bool Near(std::uint32_t a, std::uint32_t b, int tolerance) {
    for (int shift : {0, 8, 16})
        if (std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)) >
            tolerance)
            return false;
    return true;
}

int ClosedPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

} // namespace

class CaptureChromiumTest : public QObject {
    Q_OBJECT

    TTestHttpServer server;
    QTemporaryDir dir;
    std::unique_ptr<test::RecordingDesktop> desktop;
    std::unique_ptr<TfrmKorvane> w;

    QString Out() const { return dir.path() + "/"; }

    void Run(const std::string& url) {
        w->EditAddress->setText(QString::fromStdString(url));
        w->tbCaptureClick();
        QTRY_VERIFY_WITH_TIMEOUT(w->tbCapture->isEnabled() && !w->Timer->isActive(), 60000);
    }

private slots:
    void initTestCase() {
        server.Route("/tall.html",
                     MakeResponse(200, "text/html",
                                  "<!DOCTYPE html><html><body style='margin:0'><div style='height:1500px;"
                                  "background:#3060c0'></div></body></html>"));
        server.Route("/images.html",
                     MakeResponse(200, "text/html", "<html><body><img src='/pic.svg'></body></html>"));
        server.Route("/pic.svg",
                     MakeResponse(200, "image/svg+xml",
                                  "<svg xmlns='http://www.w3.org/2000/svg' width='10' height='10'/>"));
        server.Route("/stripes.html", MakeResponse(200, "text/html", StripesPage(40)));
        server.Route(
            "/margins.html",
            MakeResponse(200, "text/html",
                         "<!DOCTYPE html><html><body style='margin:100px;background:#fff'><div "
                         "style='width:1500px;height:500px;background:#00ff00'></div></body></html>"));
        desktop = std::make_unique<test::RecordingDesktop>();
        w = std::make_unique<TfrmKorvane>(
            TAppPaths{(dir.path() + "/k.ini").toStdString(), Out().toStdString()});
        w->EditOutput->setText(Out());
        w->EditDelay->setText("0");
        w->cbAndView->setChecked(false);
    }
    void cleanupTestCase() {
        w.reset();
        desktop.reset();
    }

    void defaultsGive1024WideAndScrollHeightPlus30() {
        Run(server.Url("/tall.html"));
        QVERIFY2(w->lblMessage->text().startsWith("finished"), qPrintable(w->lblMessage->text()));
        const auto image = DecodeImageFile(
            (Out() + "http___127.0.0.1_" + QString::number(server.Port()) + "_tall.html.bmp").toStdString());
        QVERIFY2(image.Ok(), image.Error.c_str());
        QCOMPARE(image.Width, 1024);
        QCOMPARE(image.Height, 1530);
        QCOMPARE(image.Pixel(10, 10), 0x3060C0u);
        QCOMPARE(image.Pixel(10, 1520), 0xFFFFFFu);
        QVERIFY(desktop->errors.isEmpty());
    }

    // Pages that do what today's sites do, with the window's defaults: each drawn whole, its first screen
    // one screen high.
    void pagesOfTheModernWebAreDrawnWhole() {
        korvane::testing::ServeModernPages(server);
        for (const auto& page : korvane::testing::ModernPages()) {
            const std::string url = server.Url(page.Path);
            Run(url);
            QVERIFY2(w->lblMessage->text().startsWith("finished"), qPrintable(w->lblMessage->text()));
            const auto image = DecodeImageFile(CapturePath(url, Out().toStdString(), "", TSaveFormat::Bmp));
            QVERIFY2(image.Ok(), (page.What + ": " + image.Error).c_str());
            QCOMPARE(image.Width, 1024);
            QVERIFY2(image.Height == page.Height, (page.What + ": " + std::to_string(image.Height)).c_str());
            for (const auto& probe : page.Probes)
                QVERIFY2(
                    image.Pixel(probe.X, probe.Y) == probe.Colour,
                    (page.What + " at " + std::to_string(probe.X) + "," + std::to_string(probe.Y)).c_str());
            for (const auto& area : page.Inked)
                QVERIFY2(korvane::testing::HasInk(area, [&](int x, int y) { return image.Pixel(x, y); }),
                         (page.What + ": nothing drawn").c_str());
        }
    }

    void imagesUncheckedMeansNoImageRequest() {
        server.ClearRequests();
        w->cbSecImage->setChecked(false);
        Run(server.Url("/images.html"));
        w->cbSecImage->setChecked(true);
        QVERIFY(w->lblMessage->text().startsWith("finished"));
        QVERIFY(!server.RequestsFor("/images.html").empty());
        QVERIFY(server.RequestsFor("/pic.svg").empty());
        Run(server.Url("/images.html"));
        QVERIFY(!server.RequestsFor("/pic.svg").empty());
    }

    void tallStripedPageIsRightToItsLastRowInEveryFormat() {
        w->cbCapWidth->setCurrentIndex(1);
        w->EditAnyWidth->setText("800");
        w->cbCapHeight->setCurrentIndex(0);
        const QString stem = "http___127.0.0.1_" + QString::number(server.Port()) + "_stripes.html";
        for (int format = 0; format < 3; ++format) {
            w->cbSaveFormat->setCurrentIndex(format);
            Run(server.Url("/stripes.html"));
            QVERIFY2(desktop->errors.isEmpty(), qPrintable(desktop->errors.join('\n')));
            const QString file = Out() + stem + (format == 0 ? ".bmp" : format == 1 ? ".jpg" : ".png");
            const auto image = DecodeImageFile(file.toStdString());
            QVERIFY2(image.Ok(), image.Error.c_str());
            QCOMPARE(image.Width, 800);
            QCOMPARE(image.Height, 40030);
            const int tolerance = format == 1 ? 12 : 0;
            for (int i = 0; i < 40; ++i) {
                for (int y : {i * 1000 + 8, i * 1000 + 500, i * 1000 + 991}) {
                    for (int x : {5, 400, 794}) {
                        const std::uint32_t got = image.Pixel(x, y);
                        if (!Near(got, StripeColour(i), tolerance))
                            QFAIL(qPrintable(QString("format %1, stripe %2 at (%3, %4): %5 instead of %6")
                                                 .arg(format)
                                                 .arg(i)
                                                 .arg(x)
                                                 .arg(y)
                                                 .arg(got, 6, 16, QChar('0'))
                                                 .arg(StripeColour(i), 6, 16, QChar('0'))));
                    }
                }
                if (format != 1 && i > 0) { // the seam between two stripes lies exactly where it should
                    QCOMPARE(image.Pixel(400, i * 1000 - 1), StripeColour(i - 1));
                    QCOMPARE(image.Pixel(400, i * 1000), StripeColour(i));
                }
            }
            QVERIFY(Near(image.Pixel(400, 40029), 0xFFFFFF, tolerance)); // the 30 rows below the page
        }
        w->cbCapWidth->setCurrentIndex(4);
        w->cbSaveFormat->setCurrentIndex(0);
    }

    void autoSidesHoldTheWholePageWithTheBodysMargins() {
        w->cbCapWidth->setCurrentIndex(0);
        w->cbCapHeight->setCurrentIndex(0);
        w->cbSaveFormat->setCurrentIndex(2);
        Run(server.Url("/margins.html"));
        const auto image = DecodeImageFile(
            (Out() + "http___127.0.0.1_" + QString::number(server.Port()) + "_margins.html.png")
                .toStdString());
        QVERIFY2(image.Ok(), image.Error.c_str());
        // The body's scroll size (1500 x 500) plus 30 would cut off the box's last 70 columns and 70 rows of
        // the margin below it. The page scrolls as far as the box's right edge and the bottom margin.
        QCOMPARE(image.Width, 1600);
        QCOMPARE(image.Height, 700);
        QCOMPARE(image.Pixel(1599, 599), 0x00FF00u); // the box's bottom-right corner
        QCOMPARE(image.Pixel(1550, 650), 0xFFFFFFu); // and the margin below it
        w->cbCapWidth->setCurrentIndex(4);
        w->cbSaveFormat->setCurrentIndex(0);
    }

    // The load's time is up (the window's timer is stood in for): a page whose document has come is
    // captured as it is, one whose document never came ends with that reason.
    void aLoadThatDoesNotEndIsCapturedAsItIsOrEndsWithItsReason() {
        THttpResponse never = MakeResponse(200, "image/png", "");
        never.NeverFinish = true;
        server.Route("/stalled.png", never);
        server.Route("/stalled.html",
                     MakeResponse(200, "text/html",
                                  "<!DOCTYPE html><body style='margin:0;background:#0f0'>"
                                  "<div style='height:300px'></div><img src='/stalled.png'>"));
        THttpResponse endless = MakeResponse(200, "text/html", "<!DOCTYPE html><body>forever");
        endless.NeverFinish = true;
        server.Route("/endless.html", endless);
        const auto readyState = [&] {
            int state = 0;
            w->Worker().RunAndWait([&] { state = w->Worker().Host().ReadyState(); });
            return state;
        };

        w->EditAddress->setText(QString::fromStdString(server.Url("/stalled.html")));
        w->tbCaptureClick();
        QTRY_VERIFY_WITH_TIMEOUT(readyState() >= READYSTATE_INTERACTIVE, 60000);
        w->LoadTimeUp();
        QTRY_VERIFY_WITH_TIMEOUT(w->tbCapture->isEnabled() && !w->Timer->isActive(), 60000);
        QVERIFY2(w->lblMessage->accessibleName().endsWith(" - not complete after 45 s: captured as it was"),
                 qPrintable(w->lblMessage->accessibleName()));
        const auto image = DecodeImageFile(
            (Out() + "http___127.0.0.1_" + QString::number(server.Port()) + "_stalled.html.bmp")
                .toStdString());
        QVERIFY2(image.Ok(), image.Error.c_str());
        QCOMPARE(image.Pixel(10, 10), 0x00FF00u);

        w->EditAddress->setText(QString::fromStdString(server.Url("/endless.html")));
        w->tbCaptureClick();
        QTRY_VERIFY_WITH_TIMEOUT(!server.RequestsFor("/endless.html").empty(), 60000);
        w->LoadTimeUp();
        QTRY_VERIFY_WITH_TIMEOUT(w->tbCapture->isEnabled(), 60000);
        w->Worker().RunAndWait([] {}); // what the engine said as it stopped has been passed on
        QCoreApplication::processEvents();
        QCOMPARE(w->lblMessage->accessibleName(), QString("timed out after 45 s while loading"));
        QVERIFY(!QFile::exists(Out() + "http___127.0.0.1_" + QString::number(server.Port()) +
                               "_endless.html.bmp"));
        QVERIFY(desktop->errors.isEmpty());
    }

    void failedNavigationEndsWithTheErrorTextAndNoFile() {
        const QStringList before = QDir(Out()).entryList(QDir::Files);
        const int port = ClosedPort();
        Run("http://127.0.0.1:" + std::to_string(port) + "/");
        QVERIFY2(w->lblMessage->text().contains("ERR_CONNECTION_REFUSED"), qPrintable(w->lblMessage->text()));
        QCOMPARE(QDir(Out()).entryList(QDir::Files), before);
    }
};

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    KorvaneApplication app(argc, argv);
    CaptureChromiumTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "CaptureChromiumTest.moc"
