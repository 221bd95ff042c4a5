// Drags as real Linux programs offer them, delivered as Qt drag events to an address box with the URL drop
// target attached, and to widgets without it.
#include "dragdrop/DropDataReaders.h"
#include "dragdrop/qt/MimeDataObject.h"
#include "dragdrop/qt/QtDropControl.h"
#include "dragdrop/qt/QtDropURLTarget.h"

#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QUrl>
#include <QVBoxLayout>
#include <QtTest>

#include <fstream>
#include <memory>

using namespace korvane;

namespace {

// Firefox writes text/x-moz-url as UTF-16 (host order, no byte-order mark): the URL, a line feed, the title.
QByteArray Utf16(const QString& s) {
    QByteArray b;
    for (QChar c : s) {
        b.append(static_cast<char>(c.unicode() & 0xFF));
        b.append(static_cast<char>(c.unicode() >> 8));
    }
    return b;
}

std::unique_ptr<QMimeData> FirefoxLink(const QString& url, const QString& title) {
    auto m = std::make_unique<QMimeData>();
    m->setData(QStringLiteral("text/x-moz-url"), Utf16(url + QLatin1Char('\n') + title));
    m->setData(QStringLiteral("text/uri-list"), (url + QStringLiteral("\r\n")).toUtf8());
    m->setData(QStringLiteral("text/html"), QStringLiteral("<a href=\"%1\">%2</a>").arg(url, title).toUtf8());
    m->setText(url);
    return m;
}

std::unique_ptr<QMimeData> ChromiumLink(const QString& url) {
    auto m = std::make_unique<QMimeData>();
    m->setData(QStringLiteral("text/uri-list"), (url + QStringLiteral("\r\n")).toUtf8());
    m->setText(url);
    return m;
}

// A file manager offers the files as file: URLs, and often the same as text.
std::unique_ptr<QMimeData> FileManagerFiles(const QStringList& paths) {
    auto m = std::make_unique<QMimeData>();
    QList<QUrl> urls;
    QStringList texts;
    for (const QString& p : paths) {
        urls << QUrl::fromLocalFile(p);
        texts << QUrl::fromLocalFile(p).toString();
    }
    m->setUrls(urls);
    m->setText(texts.join(QLatin1Char('\n')));
    return m;
}

struct Answer {
    bool accepted = false;
    Qt::DropAction action = Qt::IgnoreAction;
};

// One drag over a widget and, when drop is true, the drop, as Qt delivers it to the widget.
struct Drag {
    QWidget* widget;
    const QMimeData* mime;
    Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
    Qt::KeyboardModifiers modifiers = Qt::NoModifier;
    QPoint at{5, 5};

    Answer Enter() {
        QDragEnterEvent e(at, actions, mime, Qt::LeftButton, modifiers);
        QCoreApplication::sendEvent(widget, &e);
        return {e.isAccepted(), e.dropAction()};
    }
    Answer Move(QPoint p) {
        QDragMoveEvent e(p, actions, mime, Qt::LeftButton, modifiers);
        QCoreApplication::sendEvent(widget, &e);
        return {e.isAccepted(), e.dropAction()};
    }
    Answer Drop(QPoint p) {
        QDropEvent e(p, actions, mime, Qt::NoButton, modifiers);
        QCoreApplication::sendEvent(widget, &e);
        return {e.isAccepted(), e.dropAction()};
    }
    void Leave() {
        QDragLeaveEvent e;
        QCoreApplication::sendEvent(widget, &e);
    }
};

} // namespace

class QtDropTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QWidget> window;
    QLineEdit* EditAddress = nullptr;
    QPushButton* button = nullptr;
    std::unique_ptr<TQtDropURLTarget> DropURLTarget;
    int drops = 0;
    QString droppedTitle;
    TPoint droppedPoint;

private slots:
    void init() {
        window = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(window.get());
        EditAddress = new QLineEdit(window.get());
        EditAddress->setObjectName(QStringLiteral("EditAddress"));
        EditAddress->setText(QStringLiteral("typed"));
        button = new QPushButton(QStringLiteral("&Go"), window.get());
        layout->addWidget(EditAddress);
        layout->addWidget(button);
        window->resize(400, 100);

        // As the main window wires it.
        drops = 0;
        DropURLTarget = std::make_unique<TQtDropURLTarget>();
        DropURLTarget->SetDragtypes({dtLink});
        DropURLTarget->SetGetDataOnEnter(true);
        DropURLTarget->SetShowImage(true);
        DropURLTarget->OnDrop = [this](TDropTarget* sender, TShiftState, TPoint point,
                                       std::uint32_t& effect) {
            QCOMPARE(sender, DropURLTarget.get());
            QCOMPARE(effect, DROPEFFECT_LINK);
            ++drops;
            droppedPoint = point;
            droppedTitle = QString::fromStdString(DropURLTarget->DroppedTitle());
            // The window leaves the address box alone when the drop gave no URL.
            if (!DropURLTarget->DroppedUrl().empty())
                EditAddress->setText(QString::fromStdString(DropURLTarget->DroppedUrl()));
        };
        DropURLTarget->AttachTo(EditAddress);
    }
    void cleanup() {
        DropURLTarget->Detach();
        DropURLTarget.reset();
        window.reset();
    }

    void attachesThroughDragEvents() {
        QVERIFY(EditAddress->acceptDrops());
        QCOMPARE(DropURLTarget->TargetWidget(), EditAddress);
        QCOMPARE(DropURLTarget->RefCount(), 2); // the registration holds it
        DropURLTarget->AttachTo(EditAddress);   // again: nothing
        QCOMPARE(DropURLTarget->RefCount(), 2);

        button->setAcceptDrops(false);
        DropURLTarget->AttachTo(button);
        QCOMPARE(DropURLTarget->TargetWidget(), button);
        QVERIFY(button->acceptDrops());
        QVERIFY(EditAddress->acceptDrops()); // a line edit accepts text drops of its own
        DropURLTarget->AttachTo(nullptr);
        QCOMPARE(DropURLTarget->TargetWidget(), nullptr);
        QVERIFY(!button->acceptDrops()); // as it was before
        QCOMPARE(DropURLTarget->RefCount(), 1);

        // A detached address box no longer reaches the target.
        auto mime = FirefoxLink(QStringLiteral("https://a.example/"), QStringLiteral("A"));
        Drag{EditAddress, mime.get()}.Drop({5, 5});
        QCOMPARE(drops, 0);
    }

    void firefoxLink() {
        auto mime = FirefoxLink(QStringLiteral("https://www.example.org/wiki/Page?a=1&b=%C3%A9"),
                                QStringLiteral("Beispiel – Seite"));
        Drag drag{EditAddress, mime.get()};
        Answer a = drag.Enter();
        QVERIFY(a.accepted);
        QCOMPARE(a.action, Qt::LinkAction);
        QCOMPARE(QString::fromStdString(DropURLTarget->DroppedUrl()),
                 QStringLiteral("https://www.example.org/wiki/Page?a=1&b=%C3%A9"));
        a = drag.Move({20, 8});
        QVERIFY(a.accepted);
        QCOMPARE(a.action, Qt::LinkAction);
        a = drag.Drop({21, 9});
        QVERIFY(a.accepted);
        QCOMPARE(a.action, Qt::LinkAction);
        QCOMPARE(drops, 1);
        QCOMPARE(EditAddress->text(), QStringLiteral("https://www.example.org/wiki/Page?a=1&b=%C3%A9"));
        QCOMPARE(droppedTitle, QStringLiteral("Beispiel – Seite"));
        QCOMPARE(droppedPoint, (TPoint{21, 9}));
        QVERIFY(DropURLTarget->DroppedUrl().empty());
    }

    void firefoxLinkWithModifiersStillLinks() {
        auto mime = FirefoxLink(QStringLiteral("http://mod.example/"), QStringLiteral("T"));
        for (Qt::KeyboardModifiers m :
             {Qt::KeyboardModifiers(Qt::ShiftModifier), Qt::KeyboardModifiers(Qt::ControlModifier),
              Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier}) {
            Drag drag{EditAddress, mime.get()};
            drag.modifiers = m;
            QCOMPARE(drag.Enter().action, Qt::LinkAction);
            QCOMPARE(drag.Drop({5, 5}).action, Qt::LinkAction);
        }
        QCOMPARE(drops, 3);
    }

    void chromiumLink() {
        auto mime = ChromiumLink(QStringLiteral("https://chromium.example/path#frag"));
        Drag drag{EditAddress, mime.get(), Qt::CopyAction | Qt::LinkAction};
        QVERIFY(drag.Enter().accepted);
        const Answer a = drag.Drop({5, 5});
        QVERIFY(a.accepted);
        QCOMPARE(a.action, Qt::LinkAction);
        QCOMPARE(EditAddress->text(), QStringLiteral("https://chromium.example/path#frag"));
        QCOMPARE(droppedTitle, QStringLiteral("https://chromium.example/path#frag"));
    }

    void fileManagerShortcut() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(QStringLiteral("Project Site.URL"));
        std::ofstream(path.toStdString()) << "[InternetShortcut]\r\nurl=https://project.example/\r\n";
        auto mime = FileManagerFiles({path, dir.filePath(QStringLiteral("other.txt"))});
        Drag drag{EditAddress, mime.get()};
        QVERIFY(drag.Enter().accepted);
        const Answer a = drag.Drop({5, 5});
        QVERIFY(a.accepted);
        QCOMPARE(a.action, Qt::LinkAction);
        QCOMPARE(EditAddress->text(), QStringLiteral("https://project.example/"));
        QCOMPARE(droppedTitle, QStringLiteral("Project Site"));

        const QString desktop = dir.filePath(QStringLiteral("Wiki.desktop"));
        std::ofstream(desktop.toStdString())
            << "[Desktop Entry]\nType=Link\nName=Wiki\nURL=https://wiki.example/\n";
        auto link = FileManagerFiles({desktop});
        Drag linkDrag{EditAddress, link.get()};
        linkDrag.Enter();
        QVERIFY(linkDrag.Drop({5, 5}).accepted);
        QCOMPARE(EditAddress->text(), QStringLiteral("https://wiki.example/"));
        QCOMPARE(drops, 2);
    }

    void fileManagerOtherFileGivesNoUrl() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("photo.png"));
        std::ofstream(path.toStdString()) << "x";
        auto mime = FileManagerFiles({path});
        Drag drag{EditAddress, mime.get()};
        QVERIFY(drag.Enter().accepted); // a file list is acceptable; it just holds no URL
        QVERIFY(drag.Drop({5, 5}).accepted);
        QCOMPARE(drops, 1);
        QVERIFY(DropURLTarget->DroppedUrl().empty());
        QCOMPARE(EditAddress->text(), QStringLiteral("typed"));
    }

    void copyOnlyTextIsRefused() {
        auto mime = std::make_unique<QMimeData>();
        mime->setText(QStringLiteral("http://copy.example/"));
        Drag drag{EditAddress, mime.get(), Qt::CopyAction};
        QVERIFY(!drag.Enter().accepted);
        QVERIFY(!drag.Move({9, 9}).accepted);
        QVERIFY(!drag.Drop({9, 9}).accepted);
        QCOMPARE(drops, 0);
        QCOMPARE(EditAddress->text(), QStringLiteral("typed")); // the line edit's own text drop did not run
    }

    void unacceptableDataIsRefused() {
        auto mime = std::make_unique<QMimeData>();
        mime->setImageData(QColor(Qt::red));
        mime->setData(QStringLiteral("application/x-unknown"), "data");
        Drag drag{EditAddress, mime.get()};
        QVERIFY(!drag.Enter().accepted);
        QVERIFY(!drag.Move({9, 9}).accepted);
        drag.Leave();
        QVERIFY(!drag.Drop({9, 9}).accepted);
        QCOMPARE(drops, 0);
    }

    void leaveForgetsTheDrag() {
        auto mime = ChromiumLink(QStringLiteral("http://left.example/"));
        Drag drag{EditAddress, mime.get()};
        QVERIFY(drag.Enter().accepted);
        drag.Leave();
        QVERIFY(DropURLTarget->DroppedUrl().empty());
        QVERIFY(!drag.Drop({5, 5}).accepted); // no drag is held any more
        QCOMPARE(drops, 0);
    }

    void otherWidgetsAcceptNothing() {
        for (auto* mime : {FirefoxLink(QStringLiteral("http://x.example/"), QStringLiteral("X")).release(),
                           ChromiumLink(QStringLiteral("http://y.example/")).release(),
                           FileManagerFiles({QStringLiteral("/tmp/z.url")}).release()}) {
            std::unique_ptr<QMimeData> owned(mime);
            Drag drag{button, mime};
            QVERIFY(!drag.Enter().accepted);
            QVERIFY(!drag.Move({6, 6}).accepted);
            QVERIFY(!drag.Drop({6, 6}).accepted);
        }
        QCOMPARE(drops, 0);
        QCOMPARE(EditAddress->text(), QStringLiteral("typed"));
    }

    void mimeDataBecomesTheDataObject() {
        const TDragDropFormats& f = DragDropFormats();
        auto fx = DataObjectFromMimeData(*FirefoxLink(QStringLiteral("http://f/"), QStringLiteral("Title")));
        QVERIFY(fx->HasFormat(f.URL) && fx->HasFormat(CF_TEXT) && fx->HasFormat(f.FileGroupDescriptor));
        QVERIFY(!fx->HasFormat(CF_HDROP));
        const auto* d = fx->Find(f.FileGroupDescriptor);
        QCOMPARE(ReadFirstDescriptorName({reinterpret_cast<const char*>(d->data()), d->size()}).value(),
                 std::string("Title.url"));

        auto ch = DataObjectFromMimeData(*ChromiumLink(QStringLiteral("http://c/")));
        QVERIFY(ch->HasFormat(f.URL) && ch->HasFormat(CF_TEXT));
        QVERIFY(!ch->HasFormat(f.FileGroupDescriptor) && !ch->HasFormat(CF_HDROP));
        QCOMPARE(std::string(reinterpret_cast<const char*>(ch->Find(f.URL)->data())),
                 std::string("http://c/"));

        // A file manager's drag is a file list only: its text and URL list restate the files.
        auto fm =
            DataObjectFromMimeData(*FileManagerFiles({QStringLiteral("/tmp/ä b.url"), QStringLiteral("/c")}));
        QVERIFY(fm->HasFormat(CF_HDROP));
        QVERIFY(!fm->HasFormat(f.URL) && !fm->HasFormat(CF_TEXT));
        const auto* list = fm->Find(CF_HDROP);
        QCOMPARE(ReadDropFiles({reinterpret_cast<const char*>(list->data()), list->size()}),
                 (std::vector<std::string>{"/tmp/ä b.url", "/c"}));

        // x-moz-url with a byte-order mark, and in UTF-8.
        QCOMPARE(MozUrlLines(QByteArray("\xFF\xFE", 2) + Utf16(QStringLiteral("http://b/\nT"))),
                 (std::vector<std::string>{"http://b/", "T"}));
        QCOMPARE(MozUrlLines(QByteArray("http://u/\r\nTitel")),
                 (std::vector<std::string>{"http://u/", "Titel"}));
        QCOMPARE(UriListEntries("# comment\r\nhttp://a/\r\n\r\nfile:///b\r\n"),
                 (std::vector<std::string>{"http://a/", "file:///b"}));
    }

    void autoScrollsAScrollAreaNearItsEdge() {
        DropURLTarget->SetDragtypes({dtLink});
        QPlainTextEdit text;
        QString lines;
        for (int i = 0; i < 300; ++i)
            lines += QStringLiteral("line %1\n").arg(i);
        text.setPlainText(lines);
        text.resize(200, 120);
        text.show();
        QVERIFY(QTest::qWaitForWindowExposed(&text));
        text.viewport()->setAcceptDrops(false);
        DropURLTarget->AttachTo(&text);
        QVERIFY(text.viewport()->acceptDrops()); // Qt hands the drags of a scroll area to its viewport
        QVERIFY(text.verticalScrollBar()->isVisible());
        QCOMPARE(text.verticalScrollBar()->value(), 0);

        auto mime = ChromiumLink(QStringLiteral("http://scroll.example/"));
        QWidget* viewport = text.viewport();
        Drag drag{viewport, mime.get()};
        drag.at = {50, 50};
        QVERIFY(drag.Enter().accepted);
        QVERIFY(!DropURLTarget->AutoScrollTimer().Enabled());
        QVERIFY(drag.Move({50, viewport->height() - 2}).accepted);
        QVERIFY(DropURLTarget->AutoScrollTimer().Enabled());
        QTRY_VERIFY(text.verticalScrollBar()->value() > 0);
        QVERIFY(drag.Move({50, 50}).accepted);
        QVERIFY(!DropURLTarget->AutoScrollTimer().Enabled());
        drag.Leave();
        DropURLTarget->Detach();
        QVERIFY(!text.viewport()->acceptDrops());

        // A line edit has no scroll bars: no zone anywhere.
        DropURLTarget->AttachTo(EditAddress);
        Drag edge{EditAddress, mime.get()};
        edge.at = {0, 0};
        QVERIFY(edge.Enter().accepted);
        QVERIFY(edge.Move({1, 1}).accepted);
        QVERIFY(!DropURLTarget->AutoScrollTimer().Enabled());
        edge.Leave();
    }

    void keyStateAndActions() {
        QCOMPARE(KeyStateOf(Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier, Qt::LeftButton),
                 MK_SHIFT | MK_CONTROL | MK_ALT | MK_LBUTTON);
        QCOMPARE(KeyStateOf(Qt::NoModifier, Qt::RightButton | Qt::MiddleButton), MK_RBUTTON | MK_MBUTTON);
        QCOMPARE(EffectsOf(Qt::CopyAction | Qt::LinkAction), DROPEFFECT_COPY | DROPEFFECT_LINK);
        QCOMPARE(DropActionOf(DROPEFFECT_LINK, Qt::CopyAction), Qt::LinkAction);
        QCOMPARE(DropActionOf(DROPEFFECT_COPY | DROPEFFECT_MOVE, Qt::MoveAction), Qt::MoveAction);
        QCOMPARE(DropActionOf(DROPEFFECT_MOVE | DROPEFFECT_LINK, Qt::CopyAction), Qt::MoveAction);
        QCOMPARE(DropActionOf(DROPEFFECT_NONE, Qt::CopyAction), Qt::IgnoreAction);
    }
};

QTEST_MAIN(QtDropTest)
#include "QtDropTest.moc"
