#pragma once
// Stand-ins for the platform's side of a drag: a window control that records what the drop target asks of
// it, and a data object whose formats, media and failures a test chooses.
#include "dragdrop/DropControl.h"
#include "platform/DataObject.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace korvane::test {

class FakeControl final : public IDropControl {
public:
    struct Message {
        std::uint32_t message;
        std::uintptr_t wParam;
        std::intptr_t lParam;
    };
    struct Log {
        int registered = 0;
        int revoked = 0;
        IDropTarget* target = nullptr;
        std::vector<Message> messages;
    };

    explicit FakeControl(std::shared_ptr<Log> log, int id = 1) : FLog(std::move(log)), FId(id) {}

    // Client origin (0,0) is at screen (origin.x, origin.y); the whole window starts frame pixels further
    // up and left.
    POINT origin{100, 200};
    int frame = 2;
    int width = 300;
    int height = 120;
    int fontHeight = -13;
    TScrollBars bars;
    bool handleAllocated = true;

    HWND Handle() const override { return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(FId * 16)); }
    bool HandleAllocated() const override { return handleAllocated; }
    void HandleNeeded() override { handleAllocated = true; }
    int ClientWidth() const override { return width; }
    int ClientHeight() const override { return height; }
    int FontHeight() const override { return fontHeight; }
    TScrollBars ScrollBars() const override { return bars; }
    POINT ScreenToClient(POINT s) const override { return {s.x - origin.x, s.y - origin.y}; }
    POINT ClientToScreen(POINT c) const override { return {c.x + origin.x, c.y + origin.y}; }
    RECT WindowRect() const override {
        return {origin.x - frame, origin.y - frame, origin.x + width + frame, origin.y + height + frame};
    }
    void Perform(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override {
        FLog->messages.push_back({message, wParam, lParam});
    }
    HRESULT RegisterDragDrop(IDropTarget* target) override {
        ++FLog->registered;
        FLog->target = target;
        target->AddRef();
        return S_OK;
    }
    HRESULT RevokeDragDrop() override {
        ++FLog->revoked;
        if (FLog->target) FLog->target->Release();
        FLog->target = nullptr;
        return S_OK;
    }

private:
    std::shared_ptr<Log> FLog;
    int FId;
};

// A data object with chosen formats. Each format may answer with global memory or with another medium type;
// every handed-out block is kept so that a test can see whether it was unlocked and released.
class ScriptedDataObject final : public TRefCounted, public IDataObject {
public:
    struct Entry {
        FORMATETC format;
        std::vector<std::uint8_t> bytes;
        std::uint32_t deliveredTymed = TYMED_HGLOBAL;
    };

    bool enumFails = false;
    bool resetFails = false;
    std::vector<Entry> entries;
    std::vector<FORMATETC> requests;
    std::vector<HGLOBAL> handedOut;
    std::vector<std::weak_ptr<void>> otherMedia;

    ScriptedDataObject& Add(CLIPFORMAT format, std::string_view bytes, std::int32_t lindex = -1,
                            std::uint32_t deliveredTymed = TYMED_HGLOBAL) {
        entries.push_back({{format, nullptr, DVASPECT_CONTENT, lindex, TYMED_HGLOBAL},
                           std::vector<std::uint8_t>(bytes.begin(), bytes.end()),
                           deliveredTymed});
        return *this;
    }
    ScriptedDataObject& Add(CLIPFORMAT format, const std::vector<std::uint8_t>& bytes) {
        return Add(format, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    }

    // True when every medium handed out was released by the reader and no block is still locked.
    bool AllReleased() const {
        for (const HGLOBAL& h : handedOut)
            if (h.use_count() != 1 || h->LockCount() != 0) return false;
        for (const auto& w : otherMedia)
            if (!w.expired()) return false;
        return true;
    }
    std::size_t RequestsFor(CLIPFORMAT format) const {
        std::size_t n = 0;
        for (const FORMATETC& r : requests)
            n += r.cfFormat == format;
        return n;
    }

    HRESULT QueryInterface(const IID& iid, void** object) override {
        if (iid == IID_IUnknown || iid == IID_IDataObject) {
            *object = static_cast<IDataObject*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    std::uint32_t AddRef() override { return AddRefImpl(); }
    std::uint32_t Release() override { return ReleaseImpl(); }

    HRESULT GetData(const FORMATETC& format, STGMEDIUM& medium) override {
        requests.push_back(format);
        for (const Entry& e : entries) {
            if (e.format.cfFormat != format.cfFormat) continue;
            if (e.format.lindex != -1 && e.format.lindex != format.lindex) continue;
            medium = STGMEDIUM{};
            medium.tymed = e.deliveredTymed;
            if (e.deliveredTymed == TYMED_HGLOBAL) {
                medium.hGlobal = std::make_shared<GlobalMemory>(e.bytes);
                handedOut.push_back(medium.hGlobal);
            } else {
                auto other = std::make_shared<int>(0);
                otherMedia.push_back(other);
                medium.handle = other;
            }
            return S_OK;
        }
        return DV_E_FORMATETC;
    }
    HRESULT QueryGetData(const FORMATETC&) override { return E_NOTIMPL; }
    HRESULT EnumFormatEtc(std::uint32_t direction, IEnumFORMATETC** enumerator) override {
        *enumerator = nullptr;
        if (enumFails || direction != DATADIR_GET) return E_FAIL;
        std::vector<FORMATETC> formats;
        for (const Entry& e : entries)
            formats.push_back(e.format);
        if (resetFails)
            *enumerator = MakeCom<FailingReset>(std::move(formats)).Detach();
        else
            *enumerator = MakeCom<FormatEnumerator>(std::move(formats)).Detach();
        return S_OK;
    }

private:
    class FailingReset final : public TRefCounted, public IEnumFORMATETC {
    public:
        explicit FailingReset(std::vector<FORMATETC> f) : FInner(std::move(f)) {}
        HRESULT QueryInterface(const IID&, void** o) override {
            *o = nullptr;
            return E_NOINTERFACE;
        }
        std::uint32_t AddRef() override { return AddRefImpl(); }
        std::uint32_t Release() override { return ReleaseImpl(); }
        HRESULT Next(std::uint32_t c, FORMATETC* r, std::uint32_t* f) override {
            return FInner.Next(c, r, f);
        }
        HRESULT Skip(std::uint32_t c) override { return FInner.Skip(c); }
        HRESULT Reset() override { return E_FAIL; }
        HRESULT Clone(IEnumFORMATETC**) override { return E_NOTIMPL; }

    private:
        FormatEnumerator FInner;
    };
};

} // namespace korvane::test
