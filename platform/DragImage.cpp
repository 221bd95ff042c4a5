#include "platform/DragImage.h"

#include <algorithm>
#include <atomic>
#include <stdexcept>

namespace korvane {

namespace {

std::atomic<TDragImageRecorder*> recorder{nullptr};

bool Record(const DragImageCall& call) {
    if (TDragImageRecorder* r = recorder.load()) r->Record(call);
    return true;
}

} // namespace

int TImageList::AddFilled(Color fill, Color maskColor) {
    FImages.push_back({fill, maskColor});
    return Count() - 1;
}

bool TImageList::IsTransparent(int index) const {
    return index >= 0 && index < Count() &&
           FImages[static_cast<std::size_t>(index)].fill == FImages[static_cast<std::size_t>(index)].mask;
}

HIMAGELIST ImageList_GetDragImage(POINT* dragPoint, POINT* hotspot) {
    DragImageCall call{DragImageCall::GetDragImage};
    TDragImageRecorder* r = recorder.load();
    if (!r) return nullptr; // the drag source paints the image itself: there is no drag image list here
    r->Record(call);
    POINT spot;
    HIMAGELIST list = r->CurrentImage(&spot);
    if (list) {
        if (dragPoint) *dragPoint = POINT{};
        if (hotspot) *hotspot = spot;
    }
    return list;
}

bool ImageList_SetDragCursorImage(HIMAGELIST imageList, int index, int hotspotX, int hotspotY) {
    DragImageCall call{DragImageCall::SetDragCursorImage};
    call.list = imageList;
    call.index = index;
    call.x = hotspotX;
    call.y = hotspotY;
    return Record(call);
}

bool ImageList_DragEnter(HWND lockWindow, int x, int y) {
    DragImageCall call{DragImageCall::DragEnter};
    call.window = lockWindow;
    call.x = x;
    call.y = y;
    return Record(call);
}

bool ImageList_DragLeave(HWND lockWindow) {
    DragImageCall call{DragImageCall::DragLeave};
    call.window = lockWindow;
    return Record(call);
}

bool ImageList_DragMove(int x, int y) {
    DragImageCall call{DragImageCall::DragMove};
    call.x = x;
    call.y = y;
    return Record(call);
}

bool ImageList_DragShowNolock(bool show) {
    DragImageCall call{DragImageCall::DragShowNolock};
    call.show = show;
    return Record(call);
}

TDragImageRecorder::TDragImageRecorder() {
    TDragImageRecorder* expected = nullptr;
    if (!recorder.compare_exchange_strong(expected, this))
        throw std::logic_error("a drag-image recorder is already installed");
}

TDragImageRecorder::~TDragImageRecorder() {
    recorder.store(nullptr);
}

void TDragImageRecorder::OfferDragImage(POINT hotspot) {
    if (FImage.Count() == 0) FImage.AddFilled(0x000000FF, TImageList::clWindow);
    FHotspot = hotspot;
    FOffered = true;
}

std::size_t TDragImageRecorder::Count(DragImageCall::Kind kind) const {
    return static_cast<std::size_t>(std::count_if(FCalls.begin(), FCalls.end(),
                                                  [kind](const DragImageCall& c) { return c.kind == kind; }));
}

HIMAGELIST TDragImageRecorder::CurrentImage(POINT* hotspot) {
    if (!FOffered) return nullptr;
    if (hotspot) *hotspot = FHotspot;
    return &FImage;
}

} // namespace korvane
