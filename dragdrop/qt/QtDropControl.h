#pragma once
// A QWidget as the control of a drop target, and a QTimer as its auto-scroll timer. Registering installs an
// event filter that turns the widget's drag events into the four drag calls of the target: the key state
// comes from the modifiers and mouse buttons, the allowed effects from the possible actions, and the effect
// the target reports becomes the event's drop action (accepted) or refuses the drag (ignored). A scroll area
// is served through its viewport, which is where Qt delivers its drags.
#include "dragdrop/DropControl.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <memory>

class QDropEvent;

namespace korvane {

// The key-state word of a drag event's modifiers and buttons.
std::uint32_t KeyStateOf(Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons);
// Drop effects of Qt drop actions and back. Of several effects, the proposed action wins when it is one of
// them, else copy, move, link in that order.
std::uint32_t EffectsOf(Qt::DropActions actions);
Qt::DropAction DropActionOf(std::uint32_t effect, Qt::DropAction proposed);

class TQtDropControl final : public IDropControl {
public:
    explicit TQtDropControl(QWidget* widget);
    ~TQtDropControl() override;

    QWidget* Widget() const { return FWidget; }

    HWND Handle() const override { return FHandle; }
    bool HandleAllocated() const override { return !FWidget.isNull(); }
    void HandleNeeded() override {}
    int ClientWidth() const override;
    int ClientHeight() const override;
    int FontHeight() const override;
    TScrollBars ScrollBars() const override;
    POINT ScreenToClient(POINT screen) const override;
    POINT ClientToScreen(POINT client) const override;
    RECT WindowRect() const override;
    void Perform(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override;
    HRESULT RegisterDragDrop(IDropTarget* target) override;
    HRESULT RevokeDragDrop() override;

private:
    class TDragFilter;
    // The widget whose coordinates the drag events and the client area are in.
    QWidget* ClientWidget() const;

    QPointer<QWidget> FWidget;
    HWND FHandle;
    std::unique_ptr<TDragFilter> FFilter;
    bool FAcceptedDropsBefore = false;
    bool FViewportAcceptedDropsBefore = false;
};

class TQtTimer final : public IDragTimer {
public:
    TQtTimer();
    void SetInterval(unsigned milliseconds) override { FTimer.setInterval(static_cast<int>(milliseconds)); }
    unsigned Interval() const override { return static_cast<unsigned>(FTimer.interval()); }
    void SetEnabled(bool enabled) override;
    bool Enabled() const override { return FTimer.isActive(); }
    void SetOnTimer(std::function<void()> tick) override { FOnTimer = std::move(tick); }

private:
    QTimer FTimer;
    std::function<void()> FOnTimer;
};

} // namespace korvane
