#pragma once
// A desktop that records what the window asks of it instead of showing anything.
#include "app/Desktop.h"

#include <QString>
#include <QStringList>

namespace korvane::test {

class RecordingDesktop final : public DesktopServices {
public:
    RecordingDesktop() { FPrevious = SetDesktop(this); }
    ~RecordingDesktop() override { SetDesktop(FPrevious); }

    void ShowError(QWidget*, const QString& text) override { errors << text; }
    void ShowMessage(QWidget*, const QString& caption, const QString& text) override {
        messages << caption + QLatin1Char('|') + text;
    }
    QString ChooseFolder(QWidget*, const QString& start) override {
        folderStarts << start;
        return folderAnswer;
    }
    void Open(QWidget*, const QString& target, std::function<void()> failed) override {
        opened << target;
        if (failOpens && failed) failed();
    }

    QStringList errors, messages, folderStarts, opened;
    QString folderAnswer;
    bool failOpens = false; // nothing can open anything

private:
    DesktopServices* FPrevious = nullptr;
};

} // namespace korvane::test
