#include "browser/BrowserHost.h"

#include <array>
#include <cstdlib>
#include <string_view>

#include "browser/DownloadControl.h"
#include "platform/FpControl.h"

namespace korvane {
namespace {

constexpr std::array<std::uint32_t, kDownloadControlOptionCount> kDownloadControlValues = {
    DLCTL_DLIMAGES,
    DLCTL_VIDEOS,
    DLCTL_BGSOUNDS,
    DLCTL_NO_SCRIPTS,
    DLCTL_NO_JAVA,
    DLCTL_NO_RUNACTIVEXCTLS,
    DLCTL_NO_DLACTIVEXCTLS,
    DLCTL_DOWNLOADONLY,
    DLCTL_NO_FRAMEDOWNLOAD,
    DLCTL_RESYNCHRONIZE,
    DLCTL_PRAGMA_NO_CACHE,
    DLCTL_NO_BEHAVIORS,
    DLCTL_NO_METACHARSET,
    DLCTL_URL_ENCODING_DISABLE_UTF8,
    DLCTL_URL_ENCODING_ENABLE_UTF8,
    DLCTL_FORCEOFFLINE,
    DLCTL_NO_CLIENTPULL,
    DLCTL_SILENT,
    DLCTL_OFFLINE};

// DOCHOSTUIFLAG_ values; the members skip the bit 0x8000.
constexpr std::array<std::uint32_t, kUserInterfaceOptionCount> kUserInterfaceValues = {
    0x1,   0x2,   0x4,   0x8,    0x10,   0x20,   0x40,    0x80,   0x100,
    0x200, 0x400, 0x800, 0x1000, 0x2000, 0x4000, 0x10000, 0x20000};

constexpr std::uint32_t VK_BACK = 0x08, VK_RETURN = 0x0D, VK_LEFT = 0x25, VK_RIGHT = 0x27;
constexpr std::intptr_t kExtendedKey = 0x1000000;

} // namespace

std::uint32_t DownloadControlValue(TDownloadControlOption m) {
    return kDownloadControlValues[static_cast<int>(m)];
}
std::uint32_t UserInterfaceValue(TUserInterfaceOption m) {
    return kUserInterfaceValues[static_cast<int>(m)];
}

std::uint32_t DownloadControlWord(TDownloadControlOptions options) {
    std::uint32_t word = 0;
    for (int i = 0; i < kDownloadControlOptionCount; ++i)
        if (options.Contains(static_cast<TDownloadControlOption>(i))) word += kDownloadControlValues[i];
    return word;
}

std::uint32_t HostInfoFlagWord(TUserInterfaceOptions options) {
    std::uint32_t word = 0;
    for (int i = 0; i < kUserInterfaceOptionCount; ++i)
        if (options.Contains(static_cast<TUserInterfaceOption>(i))) word += kUserInterfaceValues[i];
    return word;
}

std::uint32_t UserDefaultLocaleId() {
    const char* lang = nullptr;
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* v = std::getenv(name);
        if (v && *v) {
            lang = v;
            break;
        }
    }
    if (!lang) return 0x0409;
    const std::string_view l(lang);
    struct TEntry {
        std::string_view Prefix;
        std::uint32_t Id;
    };
    static constexpr TEntry kTable[] = {
        {"ja", 0x0411},    {"zh_TW", 0x0404}, {"zh_HK", 0x0C04}, {"zh", 0x0804}, {"ko", 0x0412},
        {"en_GB", 0x0809}, {"en", 0x0409},    {"de", 0x0407},    {"fr", 0x040C}, {"es", 0x0C0A},
        {"it", 0x0410},    {"pt_BR", 0x0416}, {"pt", 0x0816},    {"ru", 0x0419}, {"nl", 0x0413},
        {"pl", 0x0415},    {"sv", 0x041D}};
    for (const auto& e : kTable)
        if (l.substr(0, e.Prefix.size()) == e.Prefix) return e.Id;
    return 0x0409;
}

TBrowserHost::TBrowserHost(std::unique_ptr<TEngine> engine, std::string name)
    : FEngine(std::move(engine)), FName(std::move(name)) {
    FEngine->SetSite(this);
    // The field only: the control word is left as it is until the property is assigned.
    FfpExceptions = true;
    SetDownloadOptions({TDownloadControlOption::DLCTL_DLIMAGES, TDownloadControlOption::DLCTL_VIDEOS,
                        TDownloadControlOption::DLCTL_BGSOUNDS});
    SetUserInterfaceOptions({});
    EnableDDE = false;
}

std::unique_ptr<TBrowserHost> TBrowserHost::Designed(std::unique_ptr<TEngine> engine, std::string name) {
    auto host = std::make_unique<TBrowserHost>(std::move(engine), std::move(name));
    using O = TDownloadControlOption;
    host->SetDownloadOptions({O::DLCTL_DLIMAGES, O::DLCTL_VIDEOS, O::DLCTL_BGSOUNDS, O::DLCTL_SILENT});
    host->SetUserInterfaceOptions({});
    host->Loaded();
    return host;
}

TBrowserHost::~TBrowserHost() {
    FEngine->SetSite(nullptr);
}

void TBrowserHost::NotifyAmbientChange() {
    // Both sets send the download-control id; there is no notice of its own for the host flags.
    FEngine->OnAmbientPropertyChange(DISPID_AMBIENT_DLCONTROL);
}

void TBrowserHost::SetDownloadOptions(TDownloadControlOptions options) {
    FDownloadOptions = options;
    FDownloadControl = DownloadControlWord(options);
    NotifyAmbientChange();
}

void TBrowserHost::SetUserInterfaceOptions(TUserInterfaceOptions options) {
    FUserInterfaceOptions = options;
    FHostInfoFlags = HostInfoFlagWord(options);
    NotifyAmbientChange();
}

void TBrowserHost::SetfpExceptions(bool value) {
    FfpExceptions = value;
    SetFpExceptions(value);
}

void TBrowserHost::Loaded() {
    FDownloadControl = DownloadControlWord(FDownloadOptions);
    FHostInfoFlags = HostInfoFlagWord(FUserInterfaceOptions);
}

void TBrowserHost::Navigate(const std::string& url) {
    FEngine->Navigate(url);
}
void TBrowserHost::Stop() {
    FEngine->Stop();
}
int TBrowserHost::ReadyState() {
    return FEngine->ReadyState();
}
std::string TBrowserHost::NavigationError() {
    return FEngine->NavigationError();
}
int TBrowserHost::HttpStatus() {
    return FEngine->HttpStatus();
}

std::optional<THtmlDocument> TBrowserHost::Document() {
    const std::uint64_t id = FEngine->DocumentId();
    if (id == 0) return std::nullopt;
    return THtmlDocument(*FEngine, id);
}

void TBrowserHost::SetWidth(int width) {
    SetBounds(FLeft, FTop, width, FHeight);
}
void TBrowserHost::SetHeight(int height) {
    SetBounds(FLeft, FTop, FWidth, height);
}

void TBrowserHost::SetBounds(int left, int top, int width, int height) {
    FLeft = left;
    FTop = top;
    if (width < 1 || height < 1) return; // a refused extent keeps the old size
    if (width == FWidth && height == FHeight) return;
    FEngine->Resize(width, height);
    FWidth = width;
    FHeight = height;
}

void TBrowserHost::RestView(int width, int height) {
    if (width < 1 || height < 1 || (width == FWidth && height == FHeight)) return;
    FEngine->RestView(width, height);
    FWidth = width;
    FHeight = height;
}

void TBrowserHost::StatusTextChange(const std::string& text) {
    if (OnStatusTextChange) OnStatusTextChange(*this, text);
}

HRESULT TBrowserHost::Invoke(DISPID id, std::uint16_t flags, TVariant* result) {
    const bool get = (flags & DISPATCH_PROPERTYGET) != 0 && result != nullptr;
    if (get && id == DISPID_AMBIENT_DLCONTROL) {
        *result = static_cast<std::int32_t>(FDownloadControl);
        return S_OK;
    }
    if (OnInvoke) return OnInvoke(*this, id, flags, result);
    if (!get) return DISP_E_MEMBERNOTFOUND;
    switch (id) {
    case DISPID_AMBIENT_BACKCOLOR:
        *result = Color;
        return S_OK;
    case DISPID_AMBIENT_DISPLAYNAME:
        *result = FName;
        return S_OK;
    case DISPID_AMBIENT_FONT:
        *result = (ParentFont && ParentFontDesc) ? *ParentFontDesc : Font;
        return S_OK;
    case DISPID_AMBIENT_FORECOLOR:
        *result = static_cast<std::int32_t>(Font.Color);
        return S_OK;
    case DISPID_AMBIENT_LOCALEID:
        *result = static_cast<std::int32_t>(UserDefaultLocaleId());
        return S_OK;
    case DISPID_AMBIENT_MESSAGEREFLECT:
        *result = true;
        return S_OK;
    case DISPID_AMBIENT_USERMODE:
        *result = true;
        return S_OK;
    case DISPID_AMBIENT_UIDEAD:
        *result = false;
        return S_OK;
    case DISPID_AMBIENT_SHOWGRABHANDLES:
        *result = false;
        return S_OK;
    case DISPID_AMBIENT_SHOWHATCHING:
        *result = false;
        return S_OK;
    case DISPID_AMBIENT_SUPPORTSMNEMONICS:
        *result = true;
        return S_OK;
    case DISPID_AMBIENT_AUTOCLIP:
        *result = true;
        return S_OK;
    default:
        return DISP_E_MEMBERNOTFOUND;
    }
}

HRESULT TBrowserHost::GetHostInfo(DOCHOSTUIINFO& info) {
    info.cbSize = DOCHOSTUIINFO_SIZE;
    info.dwFlags = FHostInfoFlags;
    info.dwDoubleClick = 0;
    return OnGetHostInfo ? OnGetHostInfo(*this, info) : S_OK;
}

HRESULT TBrowserHost::ShowContextMenu(std::uint32_t id, int x, int y) {
    return OnShowContextMenu ? OnShowContextMenu(*this, id, x, y) : S_FALSE;
}
HRESULT TBrowserHost::ShowUI(std::uint32_t id) {
    return OnShowUI ? OnShowUI(*this, id) : S_FALSE;
}
HRESULT TBrowserHost::HideUI() {
    return OnHideUI ? OnHideUI(*this) : S_FALSE;
}
HRESULT TBrowserHost::UpdateUI() {
    return OnUpdateUI ? OnUpdateUI(*this) : S_FALSE;
}
HRESULT TBrowserHost::EnableModeless(bool e) {
    return OnEnableModeless ? OnEnableModeless(*this, e) : S_FALSE;
}
HRESULT TBrowserHost::OnDocWindowActivate(bool a) {
    return OnOnDocWindowActivate ? OnOnDocWindowActivate(*this, a) : S_FALSE;
}
HRESULT TBrowserHost::OnFrameWindowActivate(bool a) {
    return OnOnFrameWindowActivate ? OnOnFrameWindowActivate(*this, a) : S_FALSE;
}
HRESULT TBrowserHost::ResizeBorder(const THostRect& border, bool frameWindow) {
    return OnResizeBorder ? OnResizeBorder(*this, border, frameWindow) : S_FALSE;
}
HRESULT TBrowserHost::TranslateAccelerator(const THostKeyMessage& m, const TGuid* group,
                                           std::uint32_t commandId) {
    return OnTranslateAccelerator ? OnTranslateAccelerator(*this, m, group, commandId) : S_FALSE;
}
HRESULT TBrowserHost::GetOptionKeyPath(std::string& key, std::uint32_t reserved) {
    return OnGetOptionKeyPath ? OnGetOptionKeyPath(*this, key, reserved) : S_FALSE;
}
HRESULT TBrowserHost::GetDropTarget(void* dropTarget, void** replacement) {
    if (replacement) *replacement = nullptr;
    return OnGetDropTarget ? OnGetDropTarget(*this, dropTarget, replacement) : S_OK;
}
HRESULT TBrowserHost::GetExternal(void** dispatch) {
    if (dispatch) *dispatch = nullptr;
    return OnGetExternal ? OnGetExternal(*this, dispatch) : S_FALSE;
}
HRESULT TBrowserHost::TranslateUrl(std::uint32_t translate, const std::string& url, std::string* translated) {
    if (translated) translated->clear();
    return OnTranslateUrl ? OnTranslateUrl(*this, translate, url, translated) : S_FALSE;
}
HRESULT TBrowserHost::FilterDataObject(void* dataObject, void** replacement) {
    if (replacement) *replacement = nullptr;
    return OnFilterDataObject ? OnFilterDataObject(*this, dataObject, replacement) : S_FALSE;
}
HRESULT TBrowserHost::GetOverrideKeyPath(std::string& key, std::uint32_t reserved) {
    return OnGetOverrideKeyPath ? OnGetOverrideKeyPath(*this, key, reserved) : S_OK;
}
HRESULT TBrowserHost::ShowMessage(const std::string& text, const std::string& caption, std::uint32_t type,
                                  const std::string& helpFile, std::uint32_t helpContext,
                                  std::int32_t* result) {
    return OnShowMessage ? OnShowMessage(*this, text, caption, type, helpFile, helpContext, result) : S_FALSE;
}
HRESULT TBrowserHost::ShowHelp(const std::string& helpFile, std::uint32_t command, std::uint32_t data) {
    if (OnShowHelp) return OnShowHelp(*this, helpFile, command, data);
    // There is no help viewer to hand a help file to: the engine shows its own help, HelpFile or not.
    return S_FALSE;
}
HRESULT TBrowserHost::QueryStatus(const TGuid*, std::uint32_t) {
    return S_OK;
}

HRESULT TBrowserHost::Exec(const TGuid* group, std::uint32_t commandId, std::uint32_t, const TVariant* in,
                           TVariant* out) {
    if (!group) return OLECMDERR_E_UNKNOWNGROUP;
    if (*group == CGID_Explorer && commandId == 37 && OnUnload) return OnUnload(*this, commandId, in, out);
    if (*group == CGID_DocHostCommandHandler) {
        if ((commandId == 2300 || commandId == 6041 || commandId == 6042) && OnRefresh)
            return OnRefresh(*this, commandId, in, out);
        if (commandId == 40 && OnScriptError) return OnScriptError(*this, commandId, in, out);
    }
    return OLECMDERR_E_NOTSUPPORTED;
}

HRESULT TBrowserHost::QueryService(const TGuid& service, const TGuid& iid, void** object) {
    if (object) *object = nullptr;
    return OnQueryService ? OnQueryService(*this, service, iid, object) : E_NOINTERFACE;
}
HRESULT TBrowserHost::GetTypeInfoCount(std::uint32_t* count) {
    if (count) *count = 0;
    return OnGetTypeInfoCount ? OnGetTypeInfoCount(*this, count) : E_NOTIMPL;
}
HRESULT TBrowserHost::GetTypeInfo(std::uint32_t index, std::uint32_t locale, void** typeInfo) {
    if (typeInfo) *typeInfo = nullptr;
    return OnGetTypeInfo ? OnGetTypeInfo(*this, index, locale, typeInfo) : E_NOTIMPL;
}
HRESULT TBrowserHost::GetIDsOfNames(const std::vector<std::string>& names, std::uint32_t locale,
                                    DISPID* ids) {
    return OnGetIDsOfNames ? OnGetIDsOfNames(*this, names, locale, ids) : E_NOTIMPL;
}

bool TBrowserHost::CloseQuery() {
    bool canClose = true;
    if (OnCloseQuery) OnCloseQuery(*this, canClose);
    return canClose;
}

bool TBrowserHost::OffersKeyToEngine(std::uint32_t virtualKey, std::intptr_t lParam) {
    if (virtualKey == VK_BACK || virtualKey == VK_RETURN) return false;
    if ((virtualKey == VK_LEFT || virtualKey == VK_RIGHT) && (lParam & kExtendedKey)) return false;
    return true;
}

} // namespace korvane
