// The Chromium engine's view of its page: measuring, sizing, scrolling, drawing, and scripts run in it.
#include "browser/ChromiumEngine.h"

#include <cmath>
#include <utility>

#include "browser/EngineError.h"
#include "browser/JsonFields.h"
#include "imaging/Bitmap.h"
#include "imaging/RowGate.h"
#include "platform/Translate.h"

namespace korvane {
namespace {
using nlohmann::json;
// A layout wider than a view ever is is no phone's.
constexpr double kMaxLayoutWidth = 16384;
} // namespace

std::int32_t TChromiumEngine::BodyProperty(std::string_view name) {
    if (!PageScripts::IsPropertyName(name))
        throw EEngineError(FormatText(Tr("The body has no property \"%1\""), {name}));
    RequireDocument();
    return PageScripts::BodyProperty(Session(), name, std::exchange(FResized, false) && ScriptsRun());
}

std::int32_t TChromiumEngine::DocumentScrollSize(std::string_view side) {
    if (side != "Width" && side != "Height") return 0;
    RequireDocument();
    return PageScripts::DocumentScrollSize(Session(), side, std::exchange(FResized, false) && ScriptsRun());
}

std::int32_t TChromiumEngine::WiderLayoutWidth() {
    if (!FPageOptions.Mobile) return 0;
    RequireDocument();
    const json metrics = Session().Call("Page.getLayoutMetrics", json::object()).Params;
    const json& layout = Obj(metrics, "cssLayoutViewport");
    const auto width = layout.is_object() ? layout.find("clientWidth") : layout.end();
    if (width == layout.end() || !width->is_number()) return 0;
    const double laidOut = width->get<double>();
    return laidOut > FViewWidth && laidOut <= kMaxLayoutWidth ? static_cast<std::int32_t>(laidOut) : 0;
}

void TChromiumEngine::Resize(int width, int height) {
    // A refused extent keeps the old size; the size the view has is not sent again.
    if (width < 1 || height < 1 || (width == FViewWidth && height == FViewHeight)) return;
    FViewWidth = width;
    FViewHeight = height;
    ApplyMetrics();
}

void TChromiumEngine::RestView(int width, int height) {
    if (width < 1 || height < 1 || (width == FViewWidth && height == FViewHeight)) return;
    FViewWidth = width;
    FViewHeight = height;
    if (!PageOpen()) return;
    // A document left in the view is laid out again at the new size, which for a long text at the narrow
    // resting width costs more than the capture's own layouts: it is emptied first. Its answer is not waited
    // for: a page whose script keeps it busy must not hold up the resize as well. (A page that has replaced
    // the call only keeps its document: it is laid out, no more.)
    Session().Send(
        "Runtime.evaluate",
        {{"expression", "document.replaceChildren();0"}, {"returnByValue", true}, {"silent", true}});
    ApplyMetrics();
}

void TChromiumEngine::SetDeviceScaleFactor(double factor) {
    if (!(factor > 0) || !std::isfinite(factor))
        throw EEngineError(Tr("The device scale factor must be above 0"));
    FScale = factor;
    ApplyMetrics();
}

void TChromiumEngine::ApplyMetrics() {
    if (!PageOpen()) return;
    FResized = true;
    Session().Call("Emulation.setDeviceMetricsOverride", {{"width", FViewWidth},
                                                          {"height", FViewHeight},
                                                          {"deviceScaleFactor", FScale},
                                                          {"mobile", FPageOptions.Mobile}});
}

bool TChromiumEngine::ScrollThrough(int viewWidth, int viewHeight, std::chrono::milliseconds pause,
                                    std::chrono::steady_clock::time_point until, int maxHeight) {
    using Clock = std::chrono::steady_clock;
    RequireDocument();
    const int width = FViewWidth, height = FViewHeight;
    viewHeight = std::max(1, viewHeight);
    Resize(std::max(1, viewWidth), viewHeight);
    const std::string pageHeight =
        "Math.max(document.documentElement?document.documentElement.scrollHeight:0,"
        "document.body?document.body.scrollHeight:0)";
    // The page may grow while it is scrolled (more content loads): its height is read at every step.
    bool cut = true;
    for (int top = 0, steps = 0; steps < 1000 && top < maxHeight && Clock::now() < until; ++steps) {
        PageScripts::Number(Session(), "window.scrollTo(0," + std::to_string(top) + ");0");
        const auto resume = std::min(until, Clock::now() + pause);
        while (Clock::now() < resume) {
            if (FBrowser->StopRequested()) throw EEngineStopped();
            FBrowser->WaitIncoming(
                std::chrono::duration_cast<std::chrono::milliseconds>(resume - Clock::now()));
        }
        top += viewHeight;
        if (top >= PageScripts::Number(Session(), pageHeight)) {
            cut = false;
            break;
        }
    }
    PageScripts::Number(Session(), "window.scrollTo(0,0);0");
    Resize(width, height);
    return cut;
}

std::shared_ptr<const TPageShot> TChromiumEngine::Shoot(int width, int height, const TShotStarted& started) {
    return ShootArea(0, 0, width, height, started);
}

std::shared_ptr<const TPageShot> TChromiumEngine::ShootArea(int left, int top, int width, int height,
                                                            const TShotStarted& started) {
    RequireDocument();
    return FShooter.Shoot(Session(), left, top, width, height, FScale, FViewWidth, FViewHeight, started);
}

void TChromiumEngine::Draw(TBitmap& bitmap, int width, int height) {
    RequireDocument();
    if (width < 1 || height < 1) return;
    const int deviceWidth = static_cast<int>(std::lround(width * FScale));
    const int deviceHeight = static_cast<int>(std::lround(height * FScale));
    if (bitmap.PixelFormat() != TPixelFormat::pf24bit || bitmap.Width() < deviceWidth ||
        bitmap.Height() < deviceHeight)
        throw EEngineError(Tr("The bitmap to draw into is not a 24-bit bitmap of the drawing's size"));
    const std::shared_ptr<const TPageShot> shot = Shoot(width, height);
    TRowGate gate(deviceHeight); // nobody reads while it fills
    shot->DrawInto(bitmap.Rows(), gate);
}

bool TChromiumEngine::ScriptsRun() const {
    const auto& applied = FSetup.Applied();
    return !applied || !applied->NoScripts;
}

bool TChromiumEngine::SettleDeferred(std::chrono::milliseconds budget) {
    RequireDocument();
    // Without scripts the page has no frames or timers to wait on, and the browser loads every image at once.
    return !ScriptsRun() || PageScripts::SettleDeferred(Session(), budget);
}

bool TChromiumEngine::ExpandInnerScroller() {
    RequireDocument();
    return PageScripts::ExpandInnerScroller(Session());
}

std::optional<TElementBox> TChromiumEngine::ElementBox(const std::string& selector) {
    RequireDocument();
    return PageScripts::ElementBox(Session(), selector);
}

void TChromiumEngine::Evaluate(const std::string& script, bool awaitPromise,
                               std::function<void(TScriptResult)> done) {
    RequireDocument();
    PageScripts::Evaluate(Session(), script, awaitPromise, std::move(done));
}

TScriptResult TChromiumEngine::EvaluateNow(const std::string& script) {
    RequireDocument();
    return PageScripts::EvaluateNow(Session(), script);
}

std::vector<std::string> TChromiumEngine::InvalidSelectors(const std::vector<std::string>& selectors) {
    if (selectors.empty()) return {};
    EnsurePage();
    return PageScripts::InvalidSelectors(Session(), selectors);
}

} // namespace korvane
