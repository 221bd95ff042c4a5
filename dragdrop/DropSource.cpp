#include "dragdrop/DropSource.h"

namespace korvane {

HRESULT TInterfacedComponent::QueryInterface(const IID& iid, void** object) {
    if (!object) return E_POINTER;
    *object = GetInterface(iid);
    if (!*object) return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

std::uint32_t TInterfacedComponent::AddRef() {
    return static_cast<std::uint32_t>(++FRefCount);
}

std::uint32_t TInterfacedComponent::Release() {
    const std::int32_t n = --FRefCount;
    if (n == 0) delete this;
    return static_cast<std::uint32_t>(n);
}

void* TInterfacedComponent::GetInterface(const IID& iid) {
    return iid == IID_IUnknown ? static_cast<IUnknown*>(this) : nullptr;
}

TShiftState KeysToShiftState(std::uint32_t keyState) {
    TShiftState s;
    if (keyState & MK_SHIFT) s.Include(ssShift);
    if (keyState & MK_CONTROL) s.Include(ssCtrl);
    if (keyState & MK_ALT) s.Include(ssAlt);
    if (keyState & MK_LBUTTON) s.Include(ssLeft);
    if (keyState & MK_RBUTTON) s.Include(ssRight);
    if (keyState & MK_MBUTTON) s.Include(ssMiddle);
    return s;
}

const TDragDropFormats& DragDropFormats() {
    static const TDragDropFormats formats{RegisterClipboardFormatA("UniformResourceLocator"),
                                          RegisterClipboardFormatA("FileContents"),
                                          RegisterClipboardFormatA("FileGroupDescriptor")};
    return formats;
}

void InitializeDragDrop() {
    DragDropFormats();
}

} // namespace korvane
