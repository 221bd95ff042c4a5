#include "Desktop.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QUrl>

namespace korvane {

namespace {

class QtDesktop final : public DesktopServices {
public:
    void ShowError(QWidget* owner, const QString& text) override {
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Korvane"), text, QMessageBox::Ok, owner);
        box.exec();
    }
    void ShowMessage(QWidget* owner, const QString& caption, const QString& text) override {
        QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, owner);
        box.exec();
    }
    QString ChooseFolder(QWidget* owner, const QString& start) override {
        return QFileDialog::getExistingDirectory(owner, QString(), start);
    }
    void Open(QWidget*, const QString& target) override {
        // Addresses go to the web browser, everything else is a local file or folder.
        const QUrl url = target.contains(QStringLiteral("://")) ? QUrl(target) : QUrl::fromLocalFile(target);
        QDesktopServices::openUrl(url);
    }
};

QtDesktop qtDesktop;
DesktopServices* current = &qtDesktop;

} // namespace

DesktopServices& Desktop() {
    return *current;
}

DesktopServices* SetDesktop(DesktopServices* desktop) {
    DesktopServices* previous = current;
    current = desktop ? desktop : &qtDesktop;
    return previous;
}

} // namespace korvane
