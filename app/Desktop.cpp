#include "Desktop.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QProcess>

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
    void Open(QWidget* owner, const QString& target, std::function<void()> failed) override {
        // xdg-open gives addresses to the web browser and files and folders to their programs, and says by
        // its exit status whether it could. It goes with the window that asked.
        auto* opener = new QProcess(owner);
        opener->setProgram(QStringLiteral("xdg-open"));
        opener->setArguments({target});
        opener->setStandardOutputFile(QProcess::nullDevice());
        opener->setStandardErrorFile(QProcess::nullDevice());
        QObject::connect(opener, &QProcess::finished, opener,
                         [opener, failed](int code, QProcess::ExitStatus status) {
                             if ((status != QProcess::NormalExit || code != 0) && failed) failed();
                             opener->deleteLater();
                         });
        QObject::connect(opener, &QProcess::errorOccurred, opener,
                         [opener, failed](QProcess::ProcessError e) {
                             if (e != QProcess::FailedToStart) return;
                             if (failed) failed();
                             opener->deleteLater();
                         });
        opener->start();
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
