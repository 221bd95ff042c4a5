#pragma once
// TBrowserHost: the browser control `wb`. It owns an engine, reports the download-control word and the
// host-information flags to it (the engine asks, as its site), nudges it on every assignment of either set,
// answers the engine's other host questions with the default results, and forwards the engine's status text.
// No Qt here: the window wires the engine's connection into its event loop (browser/qt).
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "browser/Document.h"
#include "browser/Engine.h"
#include "platform/EnumSet.h"
#include "platform/HostSite.h"

namespace korvane {

enum class TDownloadControlOption : std::uint8_t {
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
    DLCTL_OFFLINE
};
using TDownloadControlOptions = TEnumSet<TDownloadControlOption>;
inline constexpr int kDownloadControlOptionCount = 19;

enum class TUserInterfaceOption : std::uint8_t {
    DIALOG,
    DISABLE_HELP_MENU,
    NO3DBORDER,
    SCROLL_NO,
    DISABLE_SCRIPT_INACTIVE,
    OPENNEWWIN,
    DISABLE_OFFSCREEN,
    FLAT_SCROLLBAR,
    DIV_BLOCKDEFAULT,
    ACTIVATE_CLIENTHIT_ONLY,
    OVERRIDEBEHAVIORFACTORY,
    CODEPAGELINKEDFONTS,
    URL_ENCODING_DISABLE_UTF8,
    URL_ENCODING_ENABLE_UTF8,
    ENABLE_FORMS_AUTOCOMPLETE,
    ENABLE_INPLACE_NAVIGATION,
    IME_ENABLE_RECONVERSION
};
using TUserInterfaceOptions = TEnumSet<TUserInterfaceOption>;
inline constexpr int kUserInterfaceOptionCount = 17;

// The platform bit of each member, in member order.
std::uint32_t DownloadControlValue(TDownloadControlOption member);
std::uint32_t UserInterfaceValue(TUserInterfaceOption member);
// The derived words: the sum (= OR) of the members' values.
std::uint32_t DownloadControlWord(TDownloadControlOptions options);
std::uint32_t HostInfoFlagWord(TUserInterfaceOptions options);

struct TGuid {
    std::uint32_t Data1 = 0;
    std::uint16_t Data2 = 0, Data3 = 0;
    std::uint8_t Data4[8] = {};
    bool operator==(const TGuid&) const = default;
};
// Command groups of the engine's command target.
inline constexpr TGuid CGID_Explorer = {0x000214D0, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr TGuid CGID_DocHostCommandHandler = {
    0xF38BC242, 0xB950, 0x11D1, {0x89, 0x18, 0x00, 0xC0, 0x4F, 0xC2, 0xC8, 0x36}};

struct TMargins {
    double Left = 0, Right = 0, Top = 0, Bottom = 0;
};
enum class TPrintOrientation { poPortrait, poLandscape };
// Kept as properties of the control; nothing in the program prints.
struct TPrintOptions {
    TMargins Margins;
    std::string Header, Footer;
    std::vector<std::string> HTMLHeader{"<HTML></HTML>"};
    TPrintOrientation Orientation = TPrintOrientation::poPortrait;
};

struct THostRect {
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
};
// A key message as the control offers it to the engine.
struct THostKeyMessage {
    std::uint32_t Message = 0;
    std::uintptr_t WParam = 0;
    std::intptr_t LParam = 0;
};

class TBrowserHost final : public IEngineSite {
public:
    explicit TBrowserHost(std::unique_ptr<TEngine> engine, std::string name = "wb");
    // The control as the window designs it: images, videos and background sounds download, silently; no
    // user-interface flags; its stored properties loaded.
    static std::unique_ptr<TBrowserHost> Designed(std::unique_ptr<TEngine> engine, std::string name = "wb");
    ~TBrowserHost();
    TBrowserHost(const TBrowserHost&) = delete;
    TBrowserHost& operator=(const TBrowserHost&) = delete;

    TEngine& Engine() { return *FEngine; }
    const std::string& Name() const { return FName; }

    // --- properties ---
    TDownloadControlOptions DownloadOptions() const { return FDownloadOptions; }
    void SetDownloadOptions(TDownloadControlOptions options); // stores, recomputes, notifies (always)
    TUserInterfaceOptions UserInterfaceOptions() const { return FUserInterfaceOptions; }
    void SetUserInterfaceOptions(TUserInterfaceOptions options);
    std::uint32_t DownloadControl() const { return FDownloadControl; } // the derived words
    std::uint32_t HostInfoFlags() const { return FHostInfoFlags; }

    bool fpExceptions() const { return FfpExceptions; }
    void SetfpExceptions(bool value); // True: the control word saved at start; False: all exceptions masked

    std::string UserAgent; // appended to the engine's user agent when not empty
    std::string HelpFile;
    bool ReplaceCaption = false;
    bool EnableDDE = false;
    TPrintOptions PrintOptions;
    std::int32_t Color = 0x00FFFFFF; // 0x00BBGGRR
    TFontDesc Font{"Noto Sans", 9, 0};
    bool ParentFont = true;
    std::optional<TFontDesc> ParentFontDesc; // the parent's font, when there is a parent

    // End of loading the stored properties: both words are computed once more.
    void Loaded();

    // --- operations of the window ---
    void Navigate(const std::string& url);
    void Stop();
    int ReadyState();
    std::optional<THtmlDocument> Document(); // none while nothing (or nothing good) is loaded
    std::string NavigationError();
    int HttpStatus();
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    void SetWidth(int width);
    void SetHeight(int height);
    void SetBounds(int left, int top, int width, int height);
    // The view to width x height once the document has served its purpose (TEngine::RestView): it is not
    // laid out again at that size and is not to be read or drawn any more.
    void RestView(int width, int height);

    int Left() const { return FLeft; }
    int Top() const { return FTop; }

    std::function<void(TBrowserHost& sender, const std::string& text)> OnStatusTextChange;

    // --- the host's answers to the engine (IEngineSite and the host roles) ---
    HRESULT Invoke(DISPID id, std::uint16_t flags, TVariant* result) override;
    HRESULT GetHostInfo(DOCHOSTUIINFO& info) override;
    std::string UserAgentToken() override { return UserAgent; }
    void StatusTextChange(const std::string& text) override;

    HRESULT ShowContextMenu(std::uint32_t id, int x, int y);
    HRESULT ShowUI(std::uint32_t id);
    HRESULT HideUI();
    HRESULT UpdateUI();
    HRESULT EnableModeless(bool enable);
    HRESULT OnDocWindowActivate(bool activate);
    HRESULT OnFrameWindowActivate(bool activate);
    HRESULT ResizeBorder(const THostRect& border, bool frameWindow);
    HRESULT TranslateAccelerator(const THostKeyMessage& message, const TGuid* group, std::uint32_t commandId);
    HRESULT GetOptionKeyPath(std::string& key, std::uint32_t reserved);
    HRESULT GetDropTarget(void* dropTarget, void** replacement);
    HRESULT GetExternal(void** dispatch);
    HRESULT TranslateUrl(std::uint32_t translate, const std::string& url, std::string* translated);
    HRESULT FilterDataObject(void* dataObject, void** replacement);
    HRESULT GetOverrideKeyPath(std::string& key, std::uint32_t reserved);
    HRESULT ShowMessage(const std::string& text, const std::string& caption, std::uint32_t type,
                        const std::string& helpFile, std::uint32_t helpContext, std::int32_t* result);
    HRESULT ShowHelp(const std::string& helpFile, std::uint32_t command, std::uint32_t data);
    HRESULT QueryStatus(const TGuid* group, std::uint32_t commandCount);
    HRESULT Exec(const TGuid* group, std::uint32_t commandId, std::uint32_t option, const TVariant* in,
                 TVariant* out);
    HRESULT QueryService(const TGuid& service, const TGuid& iid, void** object);
    HRESULT GetTypeInfoCount(std::uint32_t* count);
    HRESULT GetTypeInfo(std::uint32_t index, std::uint32_t locale, void** typeInfo);
    HRESULT GetIDsOfNames(const std::vector<std::string>& names, std::uint32_t locale, DISPID* ids);
    // A close request of the control's window: passed on only when this leaves `canClose` True.
    bool CloseQuery();
    // Keys bound for the page that are offered to the engine's accelerator translation: everything but
    // Backspace, Enter and the extended (non-keypad) Left and Right arrows.
    static bool OffersKeyToEngine(std::uint32_t virtualKey, std::intptr_t lParam);

    // Host events; none is assigned in this program, each replaces the default answer when assigned.
    std::function<HRESULT(TBrowserHost&, std::uint32_t id, int x, int y)> OnShowContextMenu;
    std::function<HRESULT(TBrowserHost&, DOCHOSTUIINFO&)> OnGetHostInfo;
    std::function<HRESULT(TBrowserHost&, std::uint32_t id)> OnShowUI;
    std::function<HRESULT(TBrowserHost&)> OnHideUI, OnUpdateUI;
    std::function<HRESULT(TBrowserHost&, bool)> OnEnableModeless, OnOnDocWindowActivate,
        OnOnFrameWindowActivate;
    std::function<HRESULT(TBrowserHost&, const THostRect&, bool frameWindow)> OnResizeBorder;
    std::function<HRESULT(TBrowserHost&, const THostKeyMessage&, const TGuid*, std::uint32_t)>
        OnTranslateAccelerator;
    std::function<HRESULT(TBrowserHost&, std::string&key, std::uint32_t)> OnGetOptionKeyPath,
        OnGetOverrideKeyPath;
    std::function<HRESULT(TBrowserHost&, void* dropTarget, void** replacement)> OnGetDropTarget;
    std::function<HRESULT(TBrowserHost&, void** dispatch)> OnGetExternal;
    std::function<HRESULT(TBrowserHost&, std::uint32_t, const std::string&, std::string*)> OnTranslateUrl;
    std::function<HRESULT(TBrowserHost&, void*, void**)> OnFilterDataObject;
    std::function<HRESULT(TBrowserHost&, const std::string& text, const std::string& caption,
                          std::uint32_t type, const std::string& helpFile, std::uint32_t helpContext,
                          std::int32_t* result)>
        OnShowMessage;
    std::function<HRESULT(TBrowserHost&, const std::string& helpFile, std::uint32_t command,
                          std::uint32_t data)>
        OnShowHelp;
    // Exec commands they take over: CGID_Explorer 37; CGID_DocHostCommandHandler 2300, 6041, 6042 (a refresh,
    // which the handler may cancel by returning S_OK); CGID_DocHostCommandHandler 40 (a script error).
    std::function<HRESULT(TBrowserHost&, std::uint32_t commandId, const TVariant*in, TVariant*out)> OnUnload,
        OnRefresh, OnScriptError;
    std::function<HRESULT(TBrowserHost&, const TGuid& service, const TGuid& iid, void** object)>
        OnQueryService;
    std::function<HRESULT(TBrowserHost&, std::uint32_t* count)> OnGetTypeInfoCount;
    std::function<HRESULT(TBrowserHost&, std::uint32_t index, std::uint32_t locale, void** typeInfo)>
        OnGetTypeInfo;
    std::function<HRESULT(TBrowserHost&, const std::vector<std::string>&, std::uint32_t locale, DISPID*)>
        OnGetIDsOfNames;
    std::function<HRESULT(TBrowserHost&, DISPID id, std::uint16_t flags, TVariant* result)> OnInvoke;
    std::function<void(TBrowserHost&, bool& canClose)> OnCloseQuery;
    std::function<void(TBrowserHost&, std::uintptr_t window)>
        OnShowDialog; // owner-window hook: not installed here

private:
    void NotifyAmbientChange();

    std::unique_ptr<TEngine> FEngine;
    std::string FName;
    TDownloadControlOptions FDownloadOptions;
    TUserInterfaceOptions FUserInterfaceOptions;
    std::uint32_t FDownloadControl = 0;
    std::uint32_t FHostInfoFlags = 0;
    bool FfpExceptions = true;
    int FLeft = 0, FTop = 0, FWidth = 100, FHeight = 100;
};

// The user's default locale id, from the environment's language (LANG and friends); 0x0409 when unknown.
std::uint32_t UserDefaultLocaleId();

} // namespace korvane
