#pragma once
// What the window asks of the desktop: message boxes, the folder chooser and the shell's "open". One object
// serves the whole program; tests put a recording one in its place.
#include <QString>

#include <functional>

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
    // The desktop's "open" (xdg-open) on a file, a folder or a URL. `failed` runs on this thread when nothing
    // could open it: no opener, or one that said it failed (as it ends, which may be when its program does).
    virtual void Open(QWidget* owner, const QString& target, std::function<void()> failed = {}) = 0;
};

// The desktop of the running program, and a way to replace it (the previous one is returned).
DesktopServices& Desktop();
DesktopServices* SetDesktop(DesktopServices* desktop);

} // namespace korvane
