#include "platform/DataObject.h"

#include "platform/Text.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace korvane {

namespace {

constexpr CLIPFORMAT FirstRegisteredFormat = 0xC000;

struct FormatNames {
    std::mutex lock;
    std::vector<std::string> names; // index i is format FirstRegisteredFormat + i
};

FormatNames& Registry() {
    static FormatNames registry;
    return registry;
}

void PutUInt32LE(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Appends the UTF-16LE form of UTF-8 text; bytes that are not UTF-8 become U+FFFD.
void AppendUtf16(std::vector<std::uint8_t>& out, std::string_view text) {
    auto put = [&out](std::uint32_t unit) {
        out.push_back(static_cast<std::uint8_t>(unit));
        out.push_back(static_cast<std::uint8_t>(unit >> 8));
    };
    std::size_t i = 0;
    while (i < text.size()) {
        const auto b = static_cast<std::uint8_t>(text[i]);
        std::uint32_t cp = 0xFFFD;
        std::size_t len = 1;
        if (b < 0x80) {
            cp = b;
        } else {
            std::size_t need = (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
            if (need && i + need <= text.size()) {
                std::uint32_t v = b & (0x7F >> need);
                bool ok = true;
                for (std::size_t k = 1; k < need; ++k) {
                    const auto c = static_cast<std::uint8_t>(text[i + k]);
                    if ((c & 0xC0) != 0x80) ok = false;
                    v = (v << 6) | (c & 0x3F);
                }
                if (ok) {
                    cp = v;
                    len = need;
                }
            }
        }
        if (cp >= 0x10000 && cp <= 0x10FFFF) {
            cp -= 0x10000;
            put(0xD800 + (cp >> 10));
            put(0xDC00 + (cp & 0x3FF));
        } else {
            put(cp > 0x10FFFF ? 0xFFFD : cp);
        }
        i += len;
    }
}

} // namespace

CLIPFORMAT RegisterClipboardFormatA(std::string_view name) {
    if (name.empty()) return 0;
    FormatNames& r = Registry();
    std::lock_guard guard(r.lock);
    for (std::size_t i = 0; i < r.names.size(); ++i)
        if (EqualsIgnoringAsciiCase(r.names[i], name))
            return static_cast<CLIPFORMAT>(FirstRegisteredFormat + i);
    if (r.names.size() >= 0x10000u - FirstRegisteredFormat) return 0;
    r.names.emplace_back(name);
    return static_cast<CLIPFORMAT>(FirstRegisteredFormat + r.names.size() - 1);
}

std::string GetClipboardFormatName(CLIPFORMAT format) {
    if (format < FirstRegisteredFormat) return {};
    FormatNames& r = Registry();
    std::lock_guard guard(r.lock);
    const std::size_t i = format - FirstRegisteredFormat;
    return i < r.names.size() ? r.names[i] : std::string();
}

GlobalMemory::GlobalMemory(const void* data, std::size_t size)
    : FBytes(static_cast<const std::uint8_t*>(data), static_cast<const std::uint8_t*>(data) + size) {}

void ReleaseStgMedium(STGMEDIUM& medium) {
    medium.hGlobal.reset();
    medium.lpszFileName.clear();
    medium.handle.reset();
    medium.pUnkForRelease.Reset();
    medium.tymed = TYMED_NULL;
}

HRESULT FormatEnumerator::QueryInterface(const IID& iid, void** object) {
    if (!object) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IEnumFORMATETC) {
        *object = static_cast<IEnumFORMATETC*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

HRESULT FormatEnumerator::Next(std::uint32_t count, FORMATETC* records, std::uint32_t* fetched) {
    if (!records || (count > 1 && !fetched)) return E_INVALIDARG;
    std::uint32_t n = 0;
    while (n < count && FPosition < FFormats.size())
        records[n++] = FFormats[FPosition++];
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
}

HRESULT FormatEnumerator::Skip(std::uint32_t count) {
    const std::size_t left = FFormats.size() - FPosition;
    FPosition += std::min<std::size_t>(left, count);
    return count <= left ? S_OK : S_FALSE;
}

HRESULT FormatEnumerator::Reset() {
    FPosition = 0;
    return S_OK;
}

HRESULT FormatEnumerator::Clone(IEnumFORMATETC** enumerator) {
    if (!enumerator) return E_POINTER;
    *enumerator = MakeCom<FormatEnumerator>(FFormats, FPosition).Detach();
    return S_OK;
}

void MemoryDataObject::SetData(CLIPFORMAT format, std::vector<std::uint8_t> bytes, std::int32_t lindex) {
    for (Entry& e : FEntries)
        if (e.format == format && e.lindex == lindex) {
            e.bytes = std::move(bytes);
            return;
        }
    FEntries.push_back({format, lindex, std::move(bytes)});
}

void MemoryDataObject::SetData(CLIPFORMAT format, std::string_view bytes, std::int32_t lindex) {
    SetData(format, std::vector<std::uint8_t>(bytes.begin(), bytes.end()), lindex);
}

bool MemoryDataObject::HasFormat(CLIPFORMAT format) const {
    return Find(format) != nullptr;
}

const std::vector<std::uint8_t>* MemoryDataObject::Find(CLIPFORMAT format) const {
    for (const Entry& e : FEntries)
        if (e.format == format) return &e.bytes;
    return nullptr;
}

std::vector<FORMATETC> MemoryDataObject::Formats() const {
    std::vector<FORMATETC> out;
    for (const Entry& e : FEntries)
        out.push_back({e.format, nullptr, DVASPECT_CONTENT, e.lindex, TYMED_HGLOBAL});
    return out;
}

const MemoryDataObject::Entry* MemoryDataObject::Match(const FORMATETC& format, HRESULT& why) const {
    why = DV_E_FORMATETC;
    if (format.ptd) return nullptr;
    if (format.dwAspect != DVASPECT_CONTENT) {
        why = DV_E_DVASPECT;
        return nullptr;
    }
    if (!(format.tymed & TYMED_HGLOBAL)) {
        why = DV_E_TYMED;
        return nullptr;
    }
    for (const Entry& e : FEntries) {
        if (e.format != format.cfFormat) continue;
        if (e.lindex == -1 || e.lindex == format.lindex) return &e;
        why = DV_E_LINDEX;
    }
    return nullptr;
}

HRESULT MemoryDataObject::QueryInterface(const IID& iid, void** object) {
    if (!object) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IDataObject) {
        *object = static_cast<IDataObject*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

HRESULT MemoryDataObject::GetData(const FORMATETC& format, STGMEDIUM& medium) {
    HRESULT why = S_OK;
    const Entry* e = Match(format, why);
    if (!e) return why;
    medium = STGMEDIUM{};
    medium.tymed = TYMED_HGLOBAL;
    medium.hGlobal = std::make_shared<GlobalMemory>(e->bytes);
    return S_OK;
}

HRESULT MemoryDataObject::QueryGetData(const FORMATETC& format) {
    HRESULT why = S_OK;
    return Match(format, why) ? S_OK : why;
}

HRESULT MemoryDataObject::EnumFormatEtc(std::uint32_t direction, IEnumFORMATETC** enumerator) {
    if (!enumerator) return E_POINTER;
    *enumerator = nullptr;
    if (direction != DATADIR_GET) return E_NOTIMPL;
    *enumerator = MakeCom<FormatEnumerator>(Formats()).Detach();
    return S_OK;
}

std::vector<std::uint8_t> MakeDropFilesBlock(const std::vector<std::string>& names, bool wide) {
    std::vector<std::uint8_t> out(DROPFILES_SIZE, 0);
    PutUInt32LE(out, 0, static_cast<std::uint32_t>(DROPFILES_SIZE));
    PutUInt32LE(out, DROPFILES_WIDE_OFFSET, wide ? 1 : 0);
    for (const std::string& name : names) {
        if (wide) {
            AppendUtf16(out, name);
            out.insert(out.end(), {0, 0});
        } else {
            out.insert(out.end(), name.begin(), name.end());
            out.push_back(0);
        }
    }
    out.insert(out.end(), wide ? 2 : 1, 0);
    return out;
}

std::vector<std::uint8_t> MakeFileGroupDescriptorBlock(const std::vector<std::string>& names) {
    std::vector<std::uint8_t> out(4 + FILEDESCRIPTOR_SIZE * names.size(), 0);
    PutUInt32LE(out, 0, static_cast<std::uint32_t>(names.size()));
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string_view name = CutUtf8(names[i], MAX_PATH - 1);
        std::memcpy(out.data() + 4 + i * FILEDESCRIPTOR_SIZE + FILEDESCRIPTOR_NAME_OFFSET, name.data(),
                    name.size());
    }
    return out;
}

std::uint32_t ReadUInt32LE(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint16_t ReadUInt16LE(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

} // namespace korvane
