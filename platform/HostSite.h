#pragma once
// Result codes and records spoken at the boundary between the browser host and its engine. The values are
// those of the component interfaces the host answers, so that callers compare against the same numbers.
#include <cstdint>
#include <string>
#include <variant>

namespace korvane {

using HRESULT = std::int32_t;
using DISPID = std::int32_t;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT DISP_E_MEMBERNOTFOUND = static_cast<HRESULT>(0x80020003u);
inline constexpr HRESULT OLECMDERR_E_NOTSUPPORTED = static_cast<HRESULT>(0x80040100u);
inline constexpr HRESULT OLECMDERR_E_UNKNOWNGROUP = static_cast<HRESULT>(0x80040104u);

inline constexpr bool SUCCEEDED(HRESULT hr) {
    return hr >= 0;
}
inline constexpr bool FAILED(HRESULT hr) {
    return hr < 0;
}

// Invoke flags.
inline constexpr std::uint16_t DISPATCH_METHOD = 1;
inline constexpr std::uint16_t DISPATCH_PROPERTYGET = 2;
inline constexpr std::uint16_t DISPATCH_PROPERTYPUT = 4;

// Dispatch ids the host and the engine exchange.
inline constexpr DISPID DISPID_AMBIENT_BACKCOLOR = -701;
inline constexpr DISPID DISPID_AMBIENT_DISPLAYNAME = -702;
inline constexpr DISPID DISPID_AMBIENT_FONT = -703;
inline constexpr DISPID DISPID_AMBIENT_FORECOLOR = -704;
inline constexpr DISPID DISPID_AMBIENT_LOCALEID = -705;
inline constexpr DISPID DISPID_AMBIENT_MESSAGEREFLECT = -706;
inline constexpr DISPID DISPID_AMBIENT_USERMODE = -709;
inline constexpr DISPID DISPID_AMBIENT_UIDEAD = -710;
inline constexpr DISPID DISPID_AMBIENT_SHOWGRABHANDLES = -711;
inline constexpr DISPID DISPID_AMBIENT_SHOWHATCHING = -712;
inline constexpr DISPID DISPID_AMBIENT_SUPPORTSMNEMONICS = -714;
inline constexpr DISPID DISPID_AMBIENT_AUTOCLIP = -715;
inline constexpr DISPID DISPID_AMBIENT_DLCONTROL = -5512;
inline constexpr DISPID DISPID_UNKNOWN = -1;

// A font as an ambient property hands it over.
struct TFontDesc {
    std::string Name;
    int Size = 0;  // points
    int Color = 0; // 0x00BBGGRR
    bool operator==(const TFontDesc&) const = default;
};

// An automation value: empty, 32-bit integer, Boolean, text or font.
using TVariant = std::variant<std::monostate, std::int32_t, bool, std::string, TFontDesc>;

// The host-information record the engine asks its host to fill.
struct DOCHOSTUIINFO {
    std::uint32_t cbSize = 0;
    std::uint32_t dwFlags = 0;
    std::uint32_t dwDoubleClick = 0;
    const char16_t* pchHostCss = nullptr;
    const char16_t* pchHostNS = nullptr;
};

// The size cbSize reports: the record's five 32-bit fields as the engine's 32-bit interface lays them out.
inline constexpr std::uint32_t DOCHOSTUIINFO_SIZE = 20;

// A command group of the command target; a null group pointer means "no group".
struct TCommandGroup {
    std::uint32_t Data1 = 0;
    std::uint16_t Data2 = 0, Data3 = 0;
    std::uint8_t Data4[8] = {};
};

} // namespace korvane
