#pragma once
// What a drop target needs of the window control it serves and of its auto-scroll timer. The toolkit adapter
// supplies both; the core knows no toolkit.
#include "platform/DataObject.h"
#include "platform/DragImage.h"
#include "platform/EnumSet.h"

#include <cstdint>
#include <functional>

namespace korvane {

enum TScrollBarKind { sbHorizontal, sbVertical };
using TScrollBars = TEnumSet<TScrollBarKind>;

// Scroll messages, delivered directly to the control.
inline constexpr std::uint32_t WM_HSCROLL = 0x0114;
inline constexpr std::uint32_t WM_VSCROLL = 0x0115;
inline constexpr std::uintptr_t SB_LINEUP = 0;
inline constexpr std::uintptr_t SB_LINELEFT = 0;
inline constexpr std::uintptr_t SB_LINEDOWN = 1;
inline constexpr std::uintptr_t SB_LINERIGHT = 1;

// A window control as a drop target sees it.
class IDropControl {
public:
    virtual ~IDropControl() = default;

    // The control's window, as the drag-image calls take it; also its identity.
    virtual HWND Handle() const = 0;
    // Whether the control's window exists now; HandleNeeded creates it when it does not.
    virtual bool HandleAllocated() const = 0;
    virtual void HandleNeeded() = 0;

    virtual int ClientWidth() const = 0;
    virtual int ClientHeight() const = 0;
    // The height of the control's font in pixels (the sign as the toolkit keeps it).
    virtual int FontHeight() const = 0;
    // The scroll bars of the control's window style.
    virtual TScrollBars ScrollBars() const = 0;
    virtual POINT ScreenToClient(POINT screen) const = 0;
    virtual POINT ClientToScreen(POINT client) const = 0;
    // The whole window (frame included) in screen coordinates.
    virtual RECT WindowRect() const = 0;
    // Delivers a message to the control at once (WM_VSCROLL / WM_HSCROLL with a SB_ code).
    virtual void Perform(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) = 0;

    // Makes the control's window deliver drags to target (which it holds a reference on while registered),
    // and stops it again.
    virtual HRESULT RegisterDragDrop(IDropTarget* target) = 0;
    virtual HRESULT RevokeDragDrop() = 0;
};

// A timer of the user-interface thread.
class IDragTimer {
public:
    virtual ~IDragTimer() = default;
    virtual void SetInterval(unsigned milliseconds) = 0;
    virtual unsigned Interval() const = 0;
    virtual void SetEnabled(bool enabled) = 0;
    virtual bool Enabled() const = 0;
    virtual void SetOnTimer(std::function<void()> tick) = 0;
};

// A timer that ticks only when told to: for targets without an event loop, and for tests.
class TManualTimer final : public IDragTimer {
public:
    void SetInterval(unsigned milliseconds) override { FInterval = milliseconds; }
    unsigned Interval() const override { return FInterval; }
    void SetEnabled(bool enabled) override { FEnabled = enabled; }
    bool Enabled() const override { return FEnabled; }
    void SetOnTimer(std::function<void()> tick) override { FOnTimer = std::move(tick); }
    // Runs the tick when the timer is enabled; true when it ran.
    bool Tick() {
        if (!FEnabled || !FOnTimer) return false;
        FOnTimer();
        return true;
    }

private:
    unsigned FInterval = 1000;
    bool FEnabled = true;
    std::function<void()> FOnTimer;
};

} // namespace korvane
