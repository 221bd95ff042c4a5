#pragma once
// Drag images of image lists. On X11 and Wayland the drag source paints the image that follows the pointer,
// so the platform never has a current drag image and the calls do nothing. A TDragImageRecorder installed
// for a while records the calls and may stand for a platform that offers a drag image.
#include "platform/DataObject.h"

#include <cstdint>
#include <vector>

namespace korvane {

// A window as the drag-image calls know it: an identity only.
using HWND = const void*;

// An image list: images of one size, each drawn with a transparent (mask) colour.
class TImageList {
public:
    // Colours as 0x00BBGGRR.
    using Color = std::uint32_t;
    // The system window colour.
    static constexpr Color clWindow = 0x00FFFFFF;

    TImageList(int width, int height) : FWidth(width), FHeight(height) {}
    TImageList(const TImageList&) = delete;
    TImageList& operator=(const TImageList&) = delete;

    // Adds a width x height image filled with one colour, transparent where it has maskColor; returns its
    // index.
    int AddFilled(Color fill, Color maskColor);

    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    int Count() const { return static_cast<int>(FImages.size()); }
    // True when image index draws nothing (every pixel has the mask colour).
    bool IsTransparent(int index) const;

    TImageList* Handle() { return this; }

private:
    struct Image {
        Color fill;
        Color mask;
    };
    int FWidth;
    int FHeight;
    std::vector<Image> FImages;
};
using HIMAGELIST = TImageList*;

// The current drag image list and its hot spot, or null when there is none.
HIMAGELIST ImageList_GetDragImage(POINT* dragPoint, POINT* hotspot);
bool ImageList_SetDragCursorImage(HIMAGELIST imageList, int index, int hotspotX, int hotspotY);
// Shows the drag image over a window at a position relative to the window's top-left corner.
bool ImageList_DragEnter(HWND lockWindow, int x, int y);
bool ImageList_DragLeave(HWND lockWindow);
bool ImageList_DragMove(int x, int y);
bool ImageList_DragShowNolock(bool show);

struct DragImageCall {
    enum Kind { GetDragImage, SetDragCursorImage, DragEnter, DragLeave, DragMove, DragShowNolock };
    Kind kind;
    HWND window = nullptr;     // DragEnter, DragLeave
    HIMAGELIST list = nullptr; // SetDragCursorImage
    int index = 0;             // SetDragCursorImage
    int x = 0, y = 0;          // positions, or the hot spot of SetDragCursorImage
    bool show = false;         // DragShowNolock
};

// While it exists, the drag-image calls are recorded here instead of doing nothing. With OfferDragImage the
// platform seems to have a current drag image. Recorders do not nest.
class TDragImageRecorder {
public:
    TDragImageRecorder();
    TDragImageRecorder(const TDragImageRecorder&) = delete;
    TDragImageRecorder& operator=(const TDragImageRecorder&) = delete;
    ~TDragImageRecorder();

    // Makes ImageList_GetDragImage answer with an image list of its own and the given hot spot.
    void OfferDragImage(POINT hotspot);
    HIMAGELIST OfferedImage() { return FOffered ? &FImage : nullptr; }

    const std::vector<DragImageCall>& Calls() const { return FCalls; }
    std::size_t Count(DragImageCall::Kind kind) const;
    void Clear() { FCalls.clear(); }

    // Called by the drag-image functions.
    void Record(const DragImageCall& call) { FCalls.push_back(call); }
    HIMAGELIST CurrentImage(POINT* hotspot);

private:
    std::vector<DragImageCall> FCalls;
    TImageList FImage{32, 32};
    POINT FHotspot;
    bool FOffered = false;
};

} // namespace korvane
