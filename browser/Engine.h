#pragma once
// The web-browser engine as its host and the capture job use it: navigate, stop, ready state, the loaded
// document, the body's scroll size read by property name, resize of the view, drawing into a 24-bit bitmap,
// and the status-text event. The engine asks its host (IEngineSite) for the download-control word and the
// host-information flags before each navigation. Test engines implement TEngine to stand in for a browser.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

#include "platform/HostSite.h"

namespace korvane {

class TBitmap;
class TRowGate;
struct TBitmapRows;

// A picture the engine takes of its view, to be put into a bitmap apart from the engine: later, or on another
// thread while the engine is still taking it.
class TPageShot {
public:
    virtual ~TPageShot() = default;
    // Pixels of the picture (device pixels: the drawing's size times the engine's scale factor).
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    // Fills the top-left Width() x Height() pixels of 24-bit rows, top row first, publishing each complete
    // row to the gate; waits for parts the engine has not sent yet, and stops early once the gate's reader
    // has given up. Throws EEngineError when the picture cannot be read, or when the engine failed to take
    // all of it. Does not close the gate.
    virtual void DrawInto(const TBitmapRows& rows, TRowGate& gate) const = 0;
};

// Called with a picture as soon as the engine has begun to take it.
using TShotStarted = std::function<void(const std::shared_ptr<const TPageShot>&)>;

// An element's border box in page pixels, relative to the document's top left.
struct TElementBox {
    double Left = 0, Top = 0, Width = 0, Height = 0;
};

inline constexpr int READYSTATE_UNINITIALIZED = 0;
inline constexpr int READYSTATE_LOADING = 1;
inline constexpr int READYSTATE_LOADED = 2;
inline constexpr int READYSTATE_INTERACTIVE = 3;
inline constexpr int READYSTATE_COMPLETE = 4;

// What the engine asks of its host. Calls arrive on the thread that drives the engine.
class IEngineSite {
public:
    // Ambient properties; the engine reads DISPID_AMBIENT_DLCONTROL with DISPATCH_PROPERTYGET.
    virtual HRESULT Invoke(DISPID id, std::uint16_t flags, TVariant* result) = 0;
    // The host-information record; dwFlags carries DOCHOSTUIFLAG_ bits.
    virtual HRESULT GetHostInfo(DOCHOSTUIINFO& info) = 0;
    // Text appended to the engine's user agent; empty for none.
    virtual std::string UserAgentToken() = 0;
    // The status-bar text changed (possibly to empty). UTF-8.
    virtual void StatusTextChange(const std::string& text) = 0;

protected:
    ~IEngineSite() = default;
};

class TEngine {
public:
    virtual ~TEngine() = default;

    virtual void SetSite(IEngineSite* site) = 0;
    // While the token is stopped, the engine's synchronous calls (measuring, drawing, a browser start) end
    // early with EEngineStopped instead of waiting; a stop during such a call ends it. Set for each job.
    virtual void SetStopToken(std::stop_token) {}
    // Ends what the engine runs for itself (a browser process): the program is ending.
    virtual void Shutdown() {}
    // The host's ambient property `id` changed (-5512: the download-control word); the engine reads it
    // again before the next navigation.
    virtual void OnAmbientPropertyChange(DISPID id) = 0;

    // Starts loading and returns at once. Throws EEngineError when the engine cannot run at all (the text
    // says why, e.g. which package to install); the same text then also arrives as a status text.
    virtual void Navigate(const std::string& url) = 0;
    // Ends a running load and any script that keeps the page busy.
    virtual void Stop() = 0;

    // READYSTATE_*: COMPLETE once the main frame's load event fired, or once the load failed.
    virtual int ReadyState() = 0;
    // Nonzero identity of the loaded document, 0 when there is none (nothing loaded yet, or the load failed).
    virtual std::uint64_t DocumentId() = 0;
    // Why the last navigation failed ("net::ERR_CONNECTION_REFUSED", a crashed renderer, a dead browser);
    // empty when it did not fail.
    virtual std::string NavigationError() = 0;
    // HTTP status of the main document of the last navigation; 0 when none was received.
    virtual int HttpStatus() = 0;

    // The integer property `name` (e.g. "scrollWidth", "scrollHeight") of the document's body, read by name.
    // Throws EEngineError without a document or body, or when the page does not answer in time.
    virtual std::int32_t BodyProperty(std::string_view name) = 0;
    // The document's own scroll size on one side ("Width" or "Height"): the scrolling element's scroll size
    // when the page overflows the view on that side; when it does not, the page's extent as its boxes tell
    // (the root's margin box below, the body's scroll width from its left edge across), or 0 when they cannot
    // (a page without a doctype fills the view) or the engine cannot tell. It includes the body's margins,
    // which the body's scroll size leaves out.
    virtual std::int32_t DocumentScrollSize(std::string_view) { return 0; }
    // The width a phone's view lays the page out at, in page pixels, when that is wider than the view (a page
    // without a viewport meta tag is laid out 980 wide); 0 otherwise, and for an engine without phone views.
    virtual std::int32_t WiderLayoutWidth() { return 0; }
    // Sizes the view to width x height; the next property read and drawing see the new layout. An extent
    // below 1 x 1 is refused and keeps the old size.
    virtual void Resize(int width, int height) = 0;
    // Sizes the view to width x height once its document has served: the document need not be laid out at
    // that size (an engine may blank it first, which saves laying out a large page again for nothing).
    virtual void RestView(int width, int height) { Resize(width, height); }

    // Brings in what the page defers until it comes near the view, the view being as it is: images that load
    // lazily (by the browser or by a script that watches what is seen), sections the browser skips while
    // unseen, web fonts; then finishes the finite animations this started (content that fades or slides in).
    // Waits at most `budget`; false when that ran out first. An engine without such steps has nothing to wait
    // for.
    virtual bool SettleDeferred(std::chrono::milliseconds /*budget*/) { return true; }
    // When the document itself does not scroll and one element that covers at least half of the view does,
    // with more content than it shows (an app-like page), lays that element out at its whole content height
    // and lets the page around it grow with it. True when an element was so expanded.
    virtual bool ExpandInnerScroller() { return false; }

    // Paints (0, 0, width, height) of the view into the top-left of a 24-bit bitmap of at least that size.
    virtual void Draw(TBitmap& bitmap, int width, int height) = 0;
    // Takes the picture that Draw would paint, to be put into a bitmap apart from the engine. `started` gets
    // it as soon as it is begun, so that it can be put into a bitmap while the rest comes; it is complete
    // when Shoot returns. When taking it fails, Shoot throws and the picture's DrawInto throws the same. By
    // default the picture is drawn at once into a bitmap that it keeps.
    virtual std::shared_ptr<const TPageShot> Shoot(int width, int height, const TShotStarted& started = {});
    // The picture of (left, top, width, height) of the view, as Shoot takes it. Engines that can only draw
    // from the view's top left throw EEngineError for any other origin.
    virtual std::shared_ptr<const TPageShot> ShootArea(int left, int top, int width, int height,
                                                       const TShotStarted& started = {});
    // The box of the first element that matches the CSS selector; none when nothing matches. Throws
    // EEngineError without a document, or for an engine that cannot look elements up.
    virtual std::optional<TElementBox> ElementBox(const std::string& selector);
};

} // namespace korvane
