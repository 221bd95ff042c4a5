#include "dragdrop/DropTarget.h"

#include <cstdlib>
#include <stdexcept>

namespace korvane {

TDropTarget::TDropTarget(std::unique_ptr<IDragTimer> timer) : FTimer(std::move(timer)) {
    if (!FTimer) throw std::invalid_argument("TDropTarget needs an auto-scroll timer");
    FTimer->SetInterval(AutoScrollInterval);
    FTimer->SetEnabled(false);
    FTimer->SetOnTimer([this] { AutoScrollTick(); });
    AddRef();
    FGetDataOnEnter = false;
    // The drag cursor: one 32 x 32 image in the window colour, which is also its transparent colour.
    FCursorImages = std::make_unique<TImageList>(32, 32);
    FCursorImages->AddFilled(TImageList::clWindow, TImageList::clWindow);
    SetShowImage(true);
}

TDropTarget::~TDropTarget() {
    FCursorImages.reset();
    FTimer.reset();
    Detach();
}

void* TDropTarget::GetInterface(const IID& iid) {
    if (iid == IID_IDropTarget) return static_cast<IDropTarget*>(this);
    return TInterfacedComponent::GetInterface(iid);
}

TPoint TDropTarget::ToClient(POINT screen) const {
    return FTargetControl ? FTargetControl->ScreenToClient(screen) : screen;
}

POINT TDropTarget::WindowRelative(TPoint client) const {
    if (!FTargetControl) return client;
    const POINT s = FTargetControl->ClientToScreen(client);
    const RECT r = FTargetControl->WindowRect();
    return {s.x - r.left, s.y - r.top};
}

HRESULT TDropTarget::DragEnter(IDataObject* data, std::uint32_t keyState, POINT screenPoint,
                               std::uint32_t& effect) {
    ClearDropData();
    FDataObject = ComPtr<IDataObject>(data);
    FLastPoint = ToClient(screenPoint);

    FDragImageList = nullptr;
    if (FShowImage) {
        POINT dragPoint;
        FDragImageList = ImageList_GetDragImage(&dragPoint, &FHotSpot);
        if (FDragImageList) {
            ImageList_SetDragCursorImage(FCursorImages->Handle(), 0, FHotSpot.x, FHotSpot.y);
            const POINT w = WindowRelative(FLastPoint);
            ImageList_DragEnter(TargetWindow(), w.x, w.y);
        }
    }

    if (!FDataObject || !HasAcceptableFormat()) {
        FDataObject.Reset();
        effect = DROPEFFECT_NONE;
        return S_OK;
    }

    FScrollMargin = FTargetControl ? std::abs(FTargetControl->FontHeight()) : 0;
    FScrollBars = FTargetControl ? FTargetControl->ScrollBars() : TScrollBars{};

    if (FGetDataOnEnter) ReadDropData();

    const TShiftState shift = KeysToShiftState(keyState);
    effect = ChooseDropEffect(shift, FLastPoint, effect);
    NotifyEnter(shift, FLastPoint, effect);
    return S_OK;
}

HRESULT TDropTarget::DragOver(std::uint32_t keyState, POINT screenPoint, std::uint32_t& effect) {
    const TPoint point = ToClient(screenPoint);
    bool autoScroll = false;
    if (!FDataObject) {
        effect = DROPEFFECT_NONE;
    } else {
        const TShiftState shift = KeysToShiftState(keyState);
        effect = ChooseDropEffect(shift, point, effect);
        NotifyDragOver(shift, point, effect);
        autoScroll = !FScrollBars.Empty() && (effect & DROPEFFECT_SCROLL) != 0;
        FTimer->SetEnabled(autoScroll);
    }

    if (FDragImageList && !(point == FLastPoint)) {
        FLastPoint = point;
        if (!autoScroll) {
            const POINT w = WindowRelative(point);
            ImageList_DragMove(w.x, w.y);
        }
    } else {
        FLastPoint = point;
    }
    return S_OK;
}

HRESULT TDropTarget::DragLeave() {
    ClearDropData();
    FTimer->SetEnabled(false);
    FDataObject.Reset();
    if (FDragImageList) ImageList_DragLeave(TargetWindow());
    NotifyLeave();
    return S_OK;
}

HRESULT TDropTarget::Drop(IDataObject*, std::uint32_t keyState, POINT screenPoint, std::uint32_t& effect) {
    if (!FDataObject) {
        effect = DROPEFFECT_NONE;
        return S_OK;
    }
    // What was read is forgotten and the data object let go on every way out, also when a handler throws.
    struct EndOfDrop {
        TDropTarget& target;
        ~EndOfDrop() {
            target.ClearDropData();
            target.FDataObject.Reset();
        }
    } endOfDrop{*this};

    FTimer->SetEnabled(false);
    if (FDragImageList) ImageList_DragLeave(TargetWindow());

    const TShiftState shift = KeysToShiftState(keyState);
    const TPoint point = ToClient(screenPoint);
    effect = ChooseDropEffect(shift, point, effect);
    // A drop with nothing the target may report is refused like the drag before it, even from a source that
    // drops after being refused.
    if ((effect & (DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK)) != 0 &&
        (FGetDataOnEnter || ReadDropData()))
        NotifyDrop(shift, point, effect);
    else
        effect = DROPEFFECT_NONE;
    return S_OK;
}

std::uint32_t TDropTarget::ChooseDropEffect(TShiftState shift, TPoint point, std::uint32_t allowed) {
    std::uint32_t effect = allowed;
    if (!FDragtypes.Contains(dtCopy)) effect &= ~DROPEFFECT_COPY;
    if (!FDragtypes.Contains(dtMove)) effect &= ~DROPEFFECT_MOVE;
    if (!FDragtypes.Contains(dtLink)) effect &= ~DROPEFFECT_LINK;

    if (OnGetDropEffect) {
        OnGetDropEffect(this, shift, point, effect);
        return effect;
    }

    const bool shiftDown = shift.Contains(ssShift);
    const bool ctrlDown = shift.Contains(ssCtrl);
    std::uint32_t chosen = DROPEFFECT_NONE;
    if (shiftDown && ctrlDown && (effect & DROPEFFECT_LINK))
        chosen = DROPEFFECT_LINK;
    else if (shiftDown && !ctrlDown && (effect & DROPEFFECT_MOVE))
        chosen = DROPEFFECT_MOVE;
    else if (effect & DROPEFFECT_COPY)
        chosen = DROPEFFECT_COPY;
    else if (effect & DROPEFFECT_MOVE)
        chosen = DROPEFFECT_MOVE;
    else if (effect & DROPEFFECT_LINK)
        chosen = DROPEFFECT_LINK;

    if (!FScrollBars.Empty() && FTargetControl) {
        const int margin = FScrollMargin;
        bool inZone = false;
        if (FScrollBars.Contains(sbHorizontal))
            inZone = point.x < margin || point.x > FTargetControl->ClientWidth() - margin;
        if (!inZone && FScrollBars.Contains(sbVertical))
            inZone = point.y < margin || point.y > FTargetControl->ClientHeight() - margin;
        if (inZone) chosen |= DROPEFFECT_SCROLL;
    }
    return chosen;
}

void TDropTarget::AutoScrollTick() {
    if (FDragImageList) ImageList_DragLeave(TargetWindow());
    if (FTargetControl) {
        const int margin = FScrollMargin;
        if (FLastPoint.y < margin)
            FTargetControl->Perform(WM_VSCROLL, SB_LINEUP, 0);
        else if (FLastPoint.y > FTargetControl->ClientHeight() - margin)
            FTargetControl->Perform(WM_VSCROLL, SB_LINEDOWN, 0);
        if (FLastPoint.x < margin)
            FTargetControl->Perform(WM_HSCROLL, SB_LINELEFT, 0);
        else if (FLastPoint.x > FTargetControl->ClientWidth() - margin)
            FTargetControl->Perform(WM_HSCROLL, SB_LINERIGHT, 0);
    }
    if (FDragImageList) {
        const POINT w = WindowRelative(FLastPoint);
        ImageList_DragEnter(TargetWindow(), w.x, w.y);
    }
}

void TDropTarget::SetShowImage(bool value) {
    FShowImage = value;
    if (FDataObject) ImageList_DragShowNolock(value);
}

void TDropTarget::AttachTo(std::unique_ptr<IDropControl> control) {
    if (!control && !FTargetControl) return;
    if (control && FTargetControl && control->Handle() == FTargetControl->Handle()) return;
    if (FTargetControl) Detach();
    FTargetControl = std::move(control);
    if (FTargetControl) {
        if (!FTargetControl->HandleAllocated()) FTargetControl->HandleNeeded();
        FTargetControl->RegisterDragDrop(this); // a refused registration leaves the control without drops
    }
}

void TDropTarget::Detach() {
    if (FTargetControl && FTargetControl->HandleAllocated()) {
        FTargetControl->RevokeDragDrop();
        FTargetControl.reset();
    }
}

void TDropTarget::NotifyEnter(TShiftState shift, TPoint point, std::uint32_t& effect) {
    if (OnEnter) OnEnter(this, shift, point, effect);
}

void TDropTarget::NotifyDragOver(TShiftState shift, TPoint point, std::uint32_t& effect) {
    if (OnDragOver) OnDragOver(this, shift, point, effect);
}

void TDropTarget::NotifyDrop(TShiftState shift, TPoint point, std::uint32_t& effect) {
    if (OnDrop) OnDrop(this, shift, point, effect);
}

void TDropTarget::NotifyLeave() {
    if (OnLeave) OnLeave(this);
}

} // namespace korvane
