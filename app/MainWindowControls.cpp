// The window's controls at their designed bounds (pixels at 96 dpi), captions, items and defaults.
#include "MainWindow.h"
#include "app/Translated.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <QToolButton>

#include <algorithm>

namespace korvane {

namespace {

constexpr int kClientWidth = 400;

template <class T, class... Args> T* Make(QWidget* parent, const char* name, Args&&... args) {
    auto* w = new T(std::forward<Args>(args)..., parent); // owned by its parent
    w->setObjectName(QString::fromLatin1(name));
    return w;
}

QToolButton* ToolButton(QWidget* bar, const char* name, const QString& caption, const QString& hint,
                        int left) {
    auto* b = Make<QToolButton>(bar, name);
    b->setText(caption);
    b->setToolTip(hint);
    b->setAutoRaise(true);
    b->setToolButtonStyle(Qt::ToolButtonTextOnly);
    b->setFocusPolicy(Qt::NoFocus);
    b->setGeometry(left, 0, 51, 22);
    return b;
}

QFrame* Separator(QWidget* bar, const char* name, int left) {
    auto* s = Make<QFrame>(bar, name);
    s->setFrameShape(QFrame::VLine);
    s->setFrameShadow(QFrame::Sunken);
    s->setGeometry(left, 2, 8, 18);
    return s;
}

QCheckBox* CheckBox(QWidget* parent, const char* name, const QString& caption, bool checked, int l, int t,
                    int w) {
    auto* c = Make<QCheckBox>(parent, name, caption);
    c->setChecked(checked);
    c->setGeometry(l, t, w, 17);
    return c;
}

QComboBox* DropDownList(QWidget* parent, const char* name, const QStringList& items, int l, int t) {
    auto* c = Make<QComboBox>(parent, name);
    c->setEditable(false);
    c->addItems(items);
    c->setCurrentIndex(-1);
    c->setGeometry(l, t, 57, 22);
    return c;
}

QLineEdit* EditBox(QWidget* parent, const char* name, const QString& text, int l, int t, int w, int h) {
    auto* e = Make<QLineEdit>(parent, name, text);
    e->setAttribute(Qt::WA_InputMethodEnabled, false);
    e->setGeometry(l, t, w, h);
    return e;
}

QLabel* Label(QWidget* parent, const char* name, const QString& caption, int l, int t, int w, int h) {
    auto* label = Make<QLabel>(parent, name, caption);
    label->setGeometry(l, t, w, h);
    return label;
}

QFont PixelFont(const QString& family, int pixels, bool bold) {
    QFont f(family);
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

} // namespace

void TfrmKorvane::CreateControls() {
    setFont(PixelFont(QStringLiteral("Arial"), 11, true));
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, Qt::black);
    setPalette(pal);

    ToolBar = Make<QFrame>(this, "ToolBar");
    ToolBar->setGeometry(0, 0, kClientWidth, 24);
    auto* line = new QFrame(ToolBar); // bottom edge line
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setGeometry(0, 22, kClientWidth, 2);
    tbExit = ToolButton(ToolBar, "tbExit", QTr("&Close"), QStringLiteral("Ctrl+Q"), 0);
    ToolButton7 = Separator(ToolBar, "ToolButton7", 51);
    tbPaste = ToolButton(ToolBar, "tbPaste", QTr("&Paste"), QStringLiteral("Ctrl+V"), 59);
    tbCapture = ToolButton(ToolBar, "tbCapture", QTr("&Go"), QStringLiteral("Enter"), 110);
    tbAbort = ToolButton(ToolBar, "tbAbort", QTr("&Abort"), QStringLiteral("Ctrl+S"), 161);
    ToolButton6 = Separator(ToolBar, "ToolButton6", 212);
    tbOption = ToolButton(ToolBar, "tbOption", QTr("&Option"), QString(), 220);
    tbHelp = ToolButton(ToolBar, "tbHelp", QStringLiteral("?"), QString(), 271);
    tbHelp->resize(tbHelp->fontMetrics().horizontalAdvance(QStringLiteral("?")) + 16,
                   22); // sized to its caption

    Panel1 = Make<QFrame>(this, "Panel1");
    Panel1->setFrameShape(QFrame::Panel);
    Panel1->setFrameShadow(QFrame::Raised);
    Panel1->setGeometry(0, 24, kClientWidth, 57);
    EditAddress = EditBox(Panel1, "EditAddress", QStringLiteral("https://example.com/"), 8, 8, 313, 22);
    btnBrowse = Make<QPushButton>(Panel1, "btnBrowse", QTr("&browse"));
    btnBrowse->setGeometry(328, 8, 57, 22);
    // As high as the font's descenders need ("page"); a text too long for it ends in an ellipsis.
    lblMessage = Label(Panel1, "lblMessage", QStringLiteral("..."), 8, 40, 313, 12);
    lblMessage->setFont(PixelFont(QStringLiteral("MS UI Gothic"), 12, true));
    {
        // The line as high as the font that stands in for the designed one needs, within the panel.
        const int high = std::max(16, lblMessage->fontMetrics().height());
        lblMessage->setGeometry(8, std::min(38, 55 - high), 313, high);
    }
    btnPref = Make<QPushButton>(Panel1, "btnPref", QTr("pre&f"));
    btnPref->setGeometry(328, 32, 57, 17);

    Panel2 = Make<QFrame>(this, "Panel2");
    Panel2->setFrameShape(QFrame::NoFrame);
    Panel2->setGeometry(0, 81, kClientWidth, 176);
    Panel2->setFont(PixelFont(QStringLiteral("Arial"), 11, false));

    GroupBoxSec = Make<QGroupBox>(Panel2, "GroupBoxSec", QTr("Security"));
    GroupBoxSec->setGeometry(8, 8, 177, 73);
    cbSecImage = CheckBox(GroupBoxSec, "cbSecImage", QTr("Image"), true, 8, 16, 70);
    cbSecVideo = CheckBox(GroupBoxSec, "cbSecVideo", QTr("Video"), true, 8, 32, 70);
    cbSecScript = CheckBox(GroupBoxSec, "cbSecScript", QTr("JScript"), true, 8, 48, 70);
    cbSecJava = CheckBox(GroupBoxSec, "cbSecJava", QTr("Java"), true, 80, 16, 92);
    cbSecActiveX = CheckBox(GroupBoxSec, "cbSecActiveX", QTr("ActiveX"), true, 80, 32, 92);
    cbSecAXDL = CheckBox(GroupBoxSec, "cbSecAXDL", QTr("ActiveX DL"), false, 80, 48, 92);

    GroupBoxSize = Make<QGroupBox>(Panel2, "GroupBoxSize", QTr("Size"));
    GroupBoxSize->setGeometry(192, 8, 153, 73);
    Label1 = Label(GroupBoxSize, "Label1", QTr("W"), 8, 16, 17, 25);
    Label1->setAlignment(Qt::AlignCenter);
    Label2 = Label(GroupBoxSize, "Label2", QTr("H"), 8, 40, 17, 25);
    Label2->setAlignment(Qt::AlignCenter);
    cbCapWidth = DropDownList(GroupBoxSize, "cbCapWidth",
                              {QTr("auto"), QTr("any"), "640", "800", "1024", "1280", "1600"}, 32, 16);
    cbCapHeight = DropDownList(GroupBoxSize, "cbCapHeight",
                               {QTr("auto"), QTr("any"), "480", "600", "768", "960", "1200"}, 32, 40);
    EditAnyWidth = EditBox(GroupBoxSize, "EditAnyWidth", QStringLiteral("2000"), 96, 16, 49, 22);
    EditAnyWidth->setEnabled(false);
    EditAnyHeight = EditBox(GroupBoxSize, "EditAnyHeight", QStringLiteral("2000"), 96, 40, 49, 22);
    EditAnyHeight->setEnabled(false);

    GroupBoxEtc = Make<QGroupBox>(Panel2, "GroupBoxEtc", QTr("etc"));
    GroupBoxEtc->setGeometry(8, 88, 177, 81);
    cbAndView = CheckBox(GroupBoxEtc, "cbAndView", QTr("Cap and View"), true, 8, 16, 160);
    cbHideScrollBar = CheckBox(GroupBoxEtc, "cbHideScrollBar", QTr("Hide Scrollbar"), false, 8, 32, 160);
    Label3 = Label(GroupBoxEtc, "Label3", QTr("Delay"), 8, 56, 33, 17);
    EditDelay = EditBox(GroupBoxEtc, "EditDelay", QStringLiteral("1"), 48, 51, 41, 22);
    cbSaveFormat = DropDownList(GroupBoxEtc, "cbSaveFormat", {"bmp", "jpg", "png"}, 112, 51);
    cbSaveFormat->setCurrentIndex(0);

    btnOutput = Make<QPushButton>(Panel2, "btnOutput", QTr("Output"));
    btnOutput->setGeometry(192, 96, 41, 19);
    EditOutput = EditBox(Panel2, "EditOutput", QString(), 240, 96, 145, 19);
    EditOutput->setFont(PixelFont(QStringLiteral("MS UI Gothic"), 12, false));

    ScrollBoxWeb = Make<QScrollArea>(this, "ScrollBoxWeb");
    ScrollBoxWeb->setFrameShape(QFrame::NoFrame);
    ScrollBoxWeb->setFocusPolicy(Qt::NoFocus); // it shows nothing: no tab stop
    ScrollBoxWeb->setGeometry(0, 257, kClientWidth, 0);

    PopupMenuOpt = Make<QMenu>(this, "PopupMenuOpt");
    miOpenFolder = PopupMenuOpt->addAction(QTr("open &Folder"));
    miOpenFolder->setObjectName(QStringLiteral("miOpenFolder"));

    Timer = Make<QTimer>(this, "Timer");
    Timer->setInterval(100);
    Timer->stop();
    LoadTimer = Make<QTimer>(this, "LoadTimer");
    LoadTimer->setSingleShot(true);
}

void TfrmKorvane::CreateActions() {
    auto action = [this](const char* name, const QString& caption, QList<QKeySequence> keys) {
        auto* a = new QAction(caption, this);
        a->setObjectName(QString::fromLatin1(name));
        a->setShortcuts(keys);
        a->setShortcutContext(Qt::WindowShortcut);
        addAction(a);
        return a;
    };
    Execute = action("Execute", QTr("Execute"), {QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)});
    Close = action("Close", QTr("Close"), {QKeySequence(Qt::CTRL | Qt::Key_Q)});
    Paste = action("Paste", QTr("Paste"), {QKeySequence(Qt::CTRL | Qt::Key_V)});
    Abort = action("Abort", QTr("Abort"), {QKeySequence(Qt::CTRL | Qt::Key_S)});
}

} // namespace korvane
