#pragma once
// A component that makes one window control accept drags: it decides the drop effect while a drag moves over
// the control, keeps the drag image shown, scrolls the control when the pointer rests near an edge that has a
// scroll bar, and reports the course of the drag through its events. Which data it accepts, how it reads and
// how it forgets the data are left to subclasses.
#include "dragdrop/DropControl.h"
#include "dragdrop/DropSource.h"
#include "platform/DataObject.h"
#include "platform/DragImage.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace korvane {

using TPoint = POINT;

class TDropTarget;
// Sender, shift state, point in client coordinates of the target control, and the effect, which the handler
// may change.
using TDropTargetEvent = std::function<void(TDropTarget* Sender, TShiftState ShiftState, const TPoint Point,
                                            std::uint32_t& Effect)>;
using TDropNotifyEvent = std::function<void(TDropTarget* Sender)>;

class TDropTarget : public TInterfacedComponent, public IDropTarget {
public:
    static constexpr unsigned AutoScrollInterval = 100; // ms

    // The timer becomes the auto-scroll timer (100 ms, disabled). Takes one reference on itself.
    explicit TDropTarget(std::unique_ptr<IDragTimer> timer = std::make_unique<TManualTimer>());
    ~TDropTarget() override;

    HRESULT QueryInterface(const IID& iid, void** object) override {
        return TInterfacedComponent::QueryInterface(iid, object);
    }
    std::uint32_t AddRef() override { return TInterfacedComponent::AddRef(); }
    std::uint32_t Release() override { return TInterfacedComponent::Release(); }

    // The drag calls. On entry effect holds what the drag source allows, on return what the target reports;
    // every call returns S_OK. Drop works on the data object held since DragEnter and ignores its argument.
    HRESULT DragEnter(IDataObject* data, std::uint32_t keyState, POINT screenPoint,
                      std::uint32_t& effect) override;
    HRESULT DragOver(std::uint32_t keyState, POINT screenPoint, std::uint32_t& effect) override;
    HRESULT DragLeave() override;
    HRESULT Drop(IDataObject* data, std::uint32_t keyState, POINT screenPoint,
                 std::uint32_t& effect) override;

    // Makes control the drop target; the same control again does nothing, none detaches the current one.
    void AttachTo(std::unique_ptr<IDropControl> control);
    // Stops drags to the attached control and forgets it; while its window does not exist, nothing happens.
    void Detach();
    IDropControl* TargetControl() const { return FTargetControl.get(); }

    TDragTypes Dragtypes() const { return FDragtypes; }
    void SetDragtypes(TDragTypes types) { FDragtypes = types; }
    bool GetDataOnEnter() const { return FGetDataOnEnter; }
    void SetGetDataOnEnter(bool value) { FGetDataOnEnter = value; }
    bool ShowImage() const { return FShowImage; }
    // During a drag, shows or hides the drag image at once.
    void SetShowImage(bool value);

    TDropTargetEvent OnEnter;
    TDropTargetEvent OnDragOver;
    TDropNotifyEvent OnLeave;
    TDropTargetEvent OnDrop;
    // When assigned, replaces the built-in choice of the effect.
    TDropTargetEvent OnGetDropEffect;

    virtual void NotifyEnter(TShiftState shift, TPoint point, std::uint32_t& effect);
    virtual void NotifyDragOver(TShiftState shift, TPoint point, std::uint32_t& effect);
    virtual void NotifyDrop(TShiftState shift, TPoint point, std::uint32_t& effect);
    virtual void NotifyLeave();
    // Reads the held data object into the subclass's fields; true when something usable was read.
    virtual bool ReadDropData() = 0;
    // Forgets what ReadDropData read.
    virtual void ClearDropData() = 0;
    // True when the held data object offers a format the subclass can read.
    virtual bool HasAcceptableFormat() = 0;
    // The effect to report: the allowed effects masked by Dragtypes, then OnGetDropEffect or the built-in
    // choice by Shift and Ctrl, plus DROPEFFECT_SCROLL in the auto-scroll zone.
    virtual std::uint32_t ChooseDropEffect(TShiftState shift, TPoint point, std::uint32_t allowed);

    // One step of auto-scrolling towards the edge near the last point.
    void AutoScrollTick();

    // State of the drag, for adapters and tests.
    IDataObject* DataObject() const { return FDataObject.Get(); }
    TPoint LastPoint() const { return FLastPoint; }
    int ScrollMargin() const { return FScrollMargin; }
    TScrollBars ScrollBars() const { return FScrollBars; }
    HIMAGELIST DragImageList() const { return FDragImageList; }
    const TImageList& CursorImages() const { return *FCursorImages; }
    IDragTimer& AutoScrollTimer() { return *FTimer; }

protected:
    void* GetInterface(const IID& iid) override;

private:
    TPoint ToClient(POINT screen) const;
    // A client point relative to the top-left corner of the control's whole window.
    POINT WindowRelative(TPoint client) const;
    HWND TargetWindow() const { return FTargetControl ? FTargetControl->Handle() : nullptr; }

    ComPtr<IDataObject> FDataObject;
    TDragTypes FDragtypes;
    std::unique_ptr<IDropControl> FTargetControl;
    bool FGetDataOnEnter = false;
    std::unique_ptr<TImageList> FCursorImages;
    HIMAGELIST FDragImageList = nullptr;
    bool FShowImage = false;
    POINT FHotSpot;
    TPoint FLastPoint;
    int FScrollMargin = 0;
    TScrollBars FScrollBars;
    std::unique_ptr<IDragTimer> FTimer;
};

} // namespace korvane
