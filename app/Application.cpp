#include "Application.h"
#include "app/Translated.h"

#include "Desktop.h"
#include "platform/Translate.h"
#include "platform/Version.h"

#include <QFont>
#include <QStringList>

#include <cstdio>

namespace korvane {

KorvaneApplication::KorvaneApplication(int& argc, char** argv) : QApplication(argc, argv) {
    PrepareApplication();
}

bool KorvaneApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ReportCurrentException();
        return false;
    }
}

void ReportCurrentException() noexcept {
    QString text;
    try {
        throw;
    } catch (const std::exception& e) {
        text = QString::fromUtf8(e.what());
    } catch (...) {
        text = QTr("Unknown error");
    }
    try {
        Desktop().ShowError(QApplication::activeWindow(), text);
    } catch (...) {
        std::fprintf(stderr, "korvane: %s\n", text.toUtf8().constData());
    }
}

void PrepareApplication() {
    SetUpTranslations(); // after QApplication, which takes the whole locale: numbers go back to "C"
    QApplication::setApplicationName(QStringLiteral("Korvane"));
    QApplication::setApplicationDisplayName(QStringLiteral("Korvane"));
    QApplication::setApplicationVersion(QString::fromLatin1(kVersion));
    // The window's fonts by their usual names, with what Debian has in their place.
    QFont::insertSubstitutions(
        QStringLiteral("Arial"),
        {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"), QStringLiteral("DejaVu Sans")});
    QFont::insertSubstitutions(QStringLiteral("MS UI Gothic"),
                               {QStringLiteral("Noto Sans CJK JP"), QStringLiteral("Noto Sans JP"),
                                QStringLiteral("IPAGothic"), QStringLiteral("DejaVu Sans")});
}

} // namespace korvane
