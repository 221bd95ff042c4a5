#pragma once
// What the window asks of the desktop: message boxes, the folder chooser and the shell's "open". One object
// serves the whole program; tests put a recording one in its place.
#include <QString>

class QWidget;

namespace korvane {

class DesktopServices {
public:
    virtual ~DesktopServices() = default;
    // The standard error box: caption "Korvane", error icon, OK only.
    virtual void ShowError(QWidget* owner, const QString& text) = 0;
    // A modal box with no icon and OK only.
    virtual void ShowMessage(QWidget* owner, const QString& caption, const QString& text) = 0;
    // A folder chooser starting at `start`; returns the chosen folder, or an empty text when cancelled.
    virtual QString ChooseFolder(QWidget* owner, const QString& start) = 0;
    // The shell's "open" on a file, a folder or a URL; its result is not examined.
    virtual void Open(QWidget* owner, const QString& target) = 0;
};

// The desktop of the running program, and a way to replace it (the previous one is returned).
DesktopServices& Desktop();
DesktopServices* SetDesktop(DesktopServices* desktop);

} // namespace korvane
