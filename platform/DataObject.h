#pragma once
// Data objects of drag and drop: the records, result codes, interfaces and memory blocks that a drop target
// reads dragged data through. They follow the shape of the OLE data-object interfaces so that the readers
// above them stay close to what real drag sources deliver; global memory is a byte block owned by shared
// pointers, and objects with interfaces count their references.
#include "platform/HostSite.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace korvane {

// Result codes: the common ones (HRESULT, S_OK, S_FALSE, E_NOTIMPL, E_NOINTERFACE, E_FAIL, SUCCEEDED, FAILED)
// come from HostSite.h, which the browser host shares; these are the ones of data objects and drag and drop.
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
inline constexpr HRESULT DV_E_FORMATETC = static_cast<HRESULT>(0x80040064u);
inline constexpr HRESULT DV_E_LINDEX = static_cast<HRESULT>(0x80040068u);
inline constexpr HRESULT DV_E_TYMED = static_cast<HRESULT>(0x80040069u);
inline constexpr HRESULT DV_E_DVASPECT = static_cast<HRESULT>(0x8004006Bu);
inline constexpr HRESULT DRAGDROP_E_NOTREGISTERED = static_cast<HRESULT>(0x80040100u);
inline constexpr HRESULT DRAGDROP_E_ALREADYREGISTERED = static_cast<HRESULT>(0x80040101u);

struct POINT {
    std::int32_t x = 0;
    std::int32_t y = 0;
    friend bool operator==(const POINT&, const POINT&) = default;
};

struct RECT {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
    friend bool operator==(const RECT&, const RECT&) = default;
};

// Drop effects.
inline constexpr std::uint32_t DROPEFFECT_NONE = 0;
inline constexpr std::uint32_t DROPEFFECT_COPY = 1;
inline constexpr std::uint32_t DROPEFFECT_MOVE = 2;
inline constexpr std::uint32_t DROPEFFECT_LINK = 4;
inline constexpr std::uint32_t DROPEFFECT_SCROLL = 0x80000000u;

// Key-state word of the drag calls. MK_ALT is set while the Alt key is down.
inline constexpr std::uint32_t MK_LBUTTON = 0x0001;
inline constexpr std::uint32_t MK_RBUTTON = 0x0002;
inline constexpr std::uint32_t MK_SHIFT = 0x0004;
inline constexpr std::uint32_t MK_CONTROL = 0x0008;
inline constexpr std::uint32_t MK_MBUTTON = 0x0010;
inline constexpr std::uint32_t MK_ALT = 0x0020;

// Storage medium types (bits of FORMATETC::tymed).
inline constexpr std::uint32_t TYMED_NULL = 0;
inline constexpr std::uint32_t TYMED_HGLOBAL = 1;
inline constexpr std::uint32_t TYMED_FILE = 2;
inline constexpr std::uint32_t TYMED_ISTREAM = 4;
inline constexpr std::uint32_t TYMED_ISTORAGE = 8;
inline constexpr std::uint32_t TYMED_GDI = 16;
inline constexpr std::uint32_t TYMED_MFPICT = 32;
inline constexpr std::uint32_t TYMED_ENHMF = 64;

inline constexpr std::uint32_t DVASPECT_CONTENT = 1;
inline constexpr std::uint32_t DVASPECT_THUMBNAIL = 2;
inline constexpr std::uint32_t DVASPECT_ICON = 4;
inline constexpr std::uint32_t DVASPECT_DOCPRINT = 8;

inline constexpr std::uint32_t DATADIR_GET = 1;
inline constexpr std::uint32_t DATADIR_SET = 2;

// Clipboard formats: fixed numbers below 0xC000, registered names from 0xC000 on.
using CLIPFORMAT = std::uint16_t;
inline constexpr CLIPFORMAT CF_TEXT = 1;
inline constexpr CLIPFORMAT CF_UNICODETEXT = 13;
inline constexpr CLIPFORMAT CF_HDROP = 15;

// The identifier of a named format; the same name (ignoring ASCII case) always gives the same identifier
// within the process. An empty name gives 0.
CLIPFORMAT RegisterClipboardFormatA(std::string_view name);
// The name a registered identifier was made from; empty for fixed numbers and unknown identifiers.
std::string GetClipboardFormatName(CLIPFORMAT format);

// Interface identifiers.
struct GUID {
    std::uint32_t Data1 = 0;
    std::uint16_t Data2 = 0;
    std::uint16_t Data3 = 0;
    std::uint8_t Data4[8] = {};
    friend bool operator==(const GUID&, const GUID&) = default;
};
using IID = GUID;
inline constexpr IID IID_IUnknown{0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IEnumFORMATETC{0x00000103, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IDataObject{0x0000010E, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IDropSource{0x00000121, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IDropTarget{0x00000122, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

class IUnknown {
public:
    virtual HRESULT QueryInterface(const IID& iid, void** object) = 0;
    virtual std::uint32_t AddRef() = 0;
    virtual std::uint32_t Release() = 0;

protected:
    ~IUnknown() = default;
};

// Holds one reference on an interface and gives it back when it goes.
template <class T> class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Takes a new reference on p.
    explicit ComPtr(T* p) : FP(p) {
        if (FP) FP->AddRef();
    }
    ComPtr(const ComPtr& other) : ComPtr(other.FP) {}
    ComPtr(ComPtr&& other) noexcept : FP(std::exchange(other.FP, nullptr)) {}
    template <class U> ComPtr(const ComPtr<U>& other) : ComPtr(other.Get()) {}
    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(FP, other.FP);
        return *this;
    }
    ~ComPtr() { Reset(); }

    // Takes over a reference that the caller already owns.
    static ComPtr Adopt(T* p) {
        ComPtr r;
        r.FP = p;
        return r;
    }
    void Reset() {
        if (T* p = std::exchange(FP, nullptr)) p->Release();
    }
    // Hands the reference to the caller.
    T* Detach() { return std::exchange(FP, nullptr); }
    // Releases the held reference and gives the address for an out-parameter that receives a new one.
    T** Put() {
        Reset();
        return &FP;
    }

    T* Get() const { return FP; }
    T* operator->() const { return FP; }
    T& operator*() const { return *FP; }
    explicit operator bool() const { return FP != nullptr; }

private:
    T* FP = nullptr;
};

// Base of heap objects that count their references and free themselves when the count reaches 0.
// Created through MakeCom only.
class TRefCounted {
public:
    TRefCounted(const TRefCounted&) = delete;
    TRefCounted& operator=(const TRefCounted&) = delete;

protected:
    TRefCounted() = default;
    virtual ~TRefCounted() = default;
    std::uint32_t AddRefImpl() { return ++FRefs; }
    std::uint32_t ReleaseImpl() {
        const std::uint32_t n = --FRefs;
        if (n == 0) delete this;
        return n;
    }

private:
    std::atomic<std::uint32_t> FRefs{0};
};

template <class T, class... Args> ComPtr<T> MakeCom(Args&&... args) {
    return ComPtr<T>(new T(std::forward<Args>(args)...));
}

struct DVTARGETDEVICE; // target devices are never used here: requests always carry none

struct FORMATETC {
    CLIPFORMAT cfFormat = 0;
    DVTARGETDEVICE* ptd = nullptr;
    std::uint32_t dwAspect = DVASPECT_CONTENT;
    std::int32_t lindex = -1;
    std::uint32_t tymed = TYMED_HGLOBAL;
};

// A block of global memory: bytes that readers see between Lock and Unlock.
class GlobalMemory {
public:
    explicit GlobalMemory(std::vector<std::uint8_t> bytes) : FBytes(std::move(bytes)) {}
    GlobalMemory(const void* data, std::size_t size);

    std::size_t Size() const { return FBytes.size(); }
    // Counts one lock and gives the bytes (null for an empty block, which still counts the lock).
    std::uint8_t* Lock() {
        ++FLocks;
        return FBytes.empty() ? nullptr : FBytes.data();
    }
    // Counts one unlock; false when the block was not locked.
    bool Unlock() {
        if (FLocks == 0) return false;
        --FLocks;
        return true;
    }
    int LockCount() const { return FLocks; }

private:
    std::vector<std::uint8_t> FBytes;
    int FLocks = 0;
};
using HGLOBAL = std::shared_ptr<GlobalMemory>;

// Locks a block for one read and unlocks it on every path out.
class GlobalLockGuard {
public:
    explicit GlobalLockGuard(const HGLOBAL& memory)
        : FMemory(memory), FData(memory ? memory->Lock() : nullptr), FSize(memory ? memory->Size() : 0) {}
    GlobalLockGuard(const GlobalLockGuard&) = delete;
    GlobalLockGuard& operator=(const GlobalLockGuard&) = delete;
    ~GlobalLockGuard() {
        if (FMemory) FMemory->Unlock();
    }
    const std::uint8_t* Data() const { return FData; }
    std::size_t Size() const { return FSize; }
    std::string_view Bytes() const { return {reinterpret_cast<const char*>(FData), FData ? FSize : 0}; }

private:
    HGLOBAL FMemory;
    const std::uint8_t* FData;
    std::size_t FSize;
};

// A storage medium handed out by GetData. The receiver owns it and gives it back with ReleaseStgMedium.
struct STGMEDIUM {
    std::uint32_t tymed = TYMED_NULL;
    HGLOBAL hGlobal;              // TYMED_HGLOBAL
    std::string lpszFileName;     // TYMED_FILE
    std::shared_ptr<void> handle; // any other medium type: the object that stands for it
    ComPtr<IUnknown> pUnkForRelease;
};

// Gives every handle of the medium back and leaves it TYMED_NULL.
void ReleaseStgMedium(STGMEDIUM& medium);

class IEnumFORMATETC : public IUnknown {
public:
    // Copies up to count records; fetched (when given) receives the number copied. S_OK when all were
    // copied, S_FALSE when fewer.
    virtual HRESULT Next(std::uint32_t count, FORMATETC* records, std::uint32_t* fetched) = 0;
    virtual HRESULT Skip(std::uint32_t count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumFORMATETC** enumerator) = 0;

protected:
    ~IEnumFORMATETC() = default;
};

class IDataObject : public IUnknown {
public:
    // Fills medium on S_OK; the caller then owns it.
    virtual HRESULT GetData(const FORMATETC& format, STGMEDIUM& medium) = 0;
    virtual HRESULT QueryGetData(const FORMATETC& format) = 0;
    virtual HRESULT EnumFormatEtc(std::uint32_t direction, IEnumFORMATETC** enumerator) = 0;

protected:
    ~IDataObject() = default;
};

class IDropTarget : public IUnknown {
public:
    virtual HRESULT DragEnter(IDataObject* data, std::uint32_t keyState, POINT screenPoint,
                              std::uint32_t& effect) = 0;
    virtual HRESULT DragOver(std::uint32_t keyState, POINT screenPoint, std::uint32_t& effect) = 0;
    virtual HRESULT DragLeave() = 0;
    virtual HRESULT Drop(IDataObject* data, std::uint32_t keyState, POINT screenPoint,
                         std::uint32_t& effect) = 0;

protected:
    ~IDropTarget() = default;
};

// Enumerates a fixed list of format records.
class FormatEnumerator final : public TRefCounted, public IEnumFORMATETC {
public:
    explicit FormatEnumerator(std::vector<FORMATETC> formats, std::size_t position = 0)
        : FFormats(std::move(formats)), FPosition(position) {}

    HRESULT QueryInterface(const IID& iid, void** object) override;
    std::uint32_t AddRef() override { return AddRefImpl(); }
    std::uint32_t Release() override { return ReleaseImpl(); }
    HRESULT Next(std::uint32_t count, FORMATETC* records, std::uint32_t* fetched) override;
    HRESULT Skip(std::uint32_t count) override;
    HRESULT Reset() override;
    HRESULT Clone(IEnumFORMATETC** enumerator) override;

private:
    std::vector<FORMATETC> FFormats;
    std::size_t FPosition;
};

// A data object that holds each of its formats as bytes in memory and hands out a fresh global-memory block
// for every GetData.
class MemoryDataObject final : public TRefCounted, public IDataObject {
public:
    MemoryDataObject() = default;

    // Offers bytes under a format; lindex -1 answers requests for any index. Replaces an earlier entry of the
    // same format and index.
    void SetData(CLIPFORMAT format, std::vector<std::uint8_t> bytes, std::int32_t lindex = -1);
    void SetData(CLIPFORMAT format, std::string_view bytes, std::int32_t lindex = -1);
    bool HasFormat(CLIPFORMAT format) const;
    // The bytes offered under a format (the entry for any index), or null.
    const std::vector<std::uint8_t>* Find(CLIPFORMAT format) const;
    std::vector<FORMATETC> Formats() const;

    HRESULT QueryInterface(const IID& iid, void** object) override;
    std::uint32_t AddRef() override { return AddRefImpl(); }
    std::uint32_t Release() override { return ReleaseImpl(); }
    HRESULT GetData(const FORMATETC& format, STGMEDIUM& medium) override;
    HRESULT QueryGetData(const FORMATETC& format) override;
    HRESULT EnumFormatEtc(std::uint32_t direction, IEnumFORMATETC** enumerator) override;

private:
    struct Entry {
        CLIPFORMAT format;
        std::int32_t lindex;
        std::vector<std::uint8_t> bytes;
    };
    const Entry* Match(const FORMATETC& format, HRESULT& why) const;

    std::vector<Entry> FEntries;
};

// Shell blocks of dragged files.
// DROPFILES: pFiles (offset of the name list), pt.x, pt.y, fNC, fWide, each 32 bits.
inline constexpr std::size_t DROPFILES_SIZE = 20;
inline constexpr std::size_t DROPFILES_WIDE_OFFSET = 16;
// FILEGROUPDESCRIPTOR (8-bit form): a 32-bit item count, then 332-byte FILEDESCRIPTOR records whose name
// field is their last 260 bytes.
inline constexpr std::size_t FILEDESCRIPTOR_SIZE = 332;
inline constexpr std::size_t MAX_PATH = 260;
inline constexpr std::size_t FILEDESCRIPTOR_NAME_OFFSET = FILEDESCRIPTOR_SIZE - MAX_PATH;
inline constexpr std::size_t FILEGROUPDESCRIPTOR_FIRST_NAME = 4 + FILEDESCRIPTOR_NAME_OFFSET;
inline constexpr std::size_t FILEGROUPDESCRIPTOR_MIN_SIZE = 4 + FILEDESCRIPTOR_SIZE;

// A DROPFILES block listing names (UTF-8). Wide blocks hold UTF-16 names; 8-bit blocks hold the bytes.
std::vector<std::uint8_t> MakeDropFilesBlock(const std::vector<std::string>& names, bool wide);
// A FILEGROUPDESCRIPTOR block with one descriptor per name; names are cut to 259 bytes on a UTF-8 boundary.
std::vector<std::uint8_t> MakeFileGroupDescriptorBlock(const std::vector<std::string>& names);

// Little-endian reads; the caller checks the bounds.
std::uint32_t ReadUInt32LE(const std::uint8_t* p);
std::uint16_t ReadUInt16LE(const std::uint8_t* p);

} // namespace korvane
