#pragma once
// The base of drag-and-drop components, the drag types and shift states they speak in, and the start-up work
// of the drag-and-drop module: the registered formats and the shared requests for dragged data.
#include "platform/DataObject.h"
#include "platform/EnumSet.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace korvane {

// A component that hands out interfaces and counts their references. Its owner governs its life: components
// that give an interface to the platform take one reference on themselves, so that the platform's add/release
// pairs never end it. A count that falls to 0 frees the object.
class TInterfacedComponent : public IUnknown {
public:
    TInterfacedComponent() = default;
    TInterfacedComponent(const TInterfacedComponent&) = delete;
    TInterfacedComponent& operator=(const TInterfacedComponent&) = delete;
    virtual ~TInterfacedComponent() = default;

    const std::string& Name() const { return FName; }
    void SetName(std::string name) { FName = std::move(name); }

    // Answers from the class's interfaces and those of its ancestors, with one reference added.
    HRESULT QueryInterface(const IID& iid, void** object) override;
    std::uint32_t AddRef() override;
    std::uint32_t Release() override;
    std::int32_t RefCount() const { return FRefCount.load(); }

protected:
    // The pointer for an interface this class implements, or null. Subclasses answer their own interfaces and
    // pass other identifiers on to their ancestor.
    virtual void* GetInterface(const IID& iid);

private:
    std::string FName;
    std::atomic<std::int32_t> FRefCount{0};
};

enum TDragType { dtCopy, dtMove, dtLink };
using TDragTypes = TEnumSet<TDragType>;

// The drop-effect bit a drag type stands for.
constexpr std::uint32_t DropEffectOf(TDragType t) {
    return t == dtCopy ? DROPEFFECT_COPY : t == dtMove ? DROPEFFECT_MOVE : DROPEFFECT_LINK;
}

enum TShiftStateMember { ssShift, ssAlt, ssCtrl, ssLeft, ssRight, ssMiddle, ssDouble };
using TShiftState = TEnumSet<TShiftStateMember>;

// The shift state of a drag call's key-state word: MK_SHIFT, MK_CONTROL, MK_ALT and the three mouse buttons.
TShiftState KeysToShiftState(std::uint32_t keyState);

// The registered formats of dragged links, obtained by name once per process.
struct TDragDropFormats {
    CLIPFORMAT URL;                 // "UniformResourceLocator"
    CLIPFORMAT FileContents;        // "FileContents"
    CLIPFORMAT FileGroupDescriptor; // "FileGroupDescriptor"
};
const TDragDropFormats& DragDropFormats();
// The module's start-up: registers the formats. Calling it is optional (the formats register themselves on
// first use) and it may run any number of times.
void InitializeDragDrop();

// The shared requests for dragged text and dragged file lists.
inline constexpr FORMATETC TextRequest{CF_TEXT, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
inline constexpr FORMATETC FileListRequest{CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};

} // namespace korvane
