#include "browser/BandShooter.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "browser/Base64.h"
#include "browser/DevToolsSession.h"
#include "browser/EngineError.h"
#include "imaging/PngReader.h"
#include "imaging/RowGate.h"
#include "platform/Translate.h"

namespace korvane {
namespace {

using nlohmann::json;

// The bands of a drawing as the browser sends them (PNG), put into bitmap rows as they come.
class TChromiumShot : public TPageShot {
public:
    struct TBand {
        std::vector<std::uint8_t> Png;
        int Top = 0, Height = 0; // rows of the picture
    };
    TChromiumShot(int width, int height, std::size_t bands)
        : FWidth(width), FHeight(height), FExpected(bands) {}
    int Width() const override { return FWidth; }
    int Height() const override { return FHeight; }
    void DrawInto(const TBitmapRows& rows, TRowGate& gate) const override {
        for (std::size_t i = 0; i < FExpected; ++i) {
            const TBand* band = WaitFor(i, gate);
            if (!band || !Decode(*band, rows, gate)) return;
        }
    }
    void Add(TBand band) {
        std::lock_guard<std::mutex> lock(FMutex);
        FBands.push_back(std::move(band));
        FChanged.notify_all();
    }
    void Fail(std::string why) {
        std::lock_guard<std::mutex> lock(FMutex);
        if (!FFailure) FFailure = std::move(why);
        FChanged.notify_all();
    }

private:
    bool Decode(const TBand& band, const TBitmapRows& rows, TRowGate& gate) const {
        try {
            return DecodePngInto(band.Png.data(), band.Png.size(), rows, FWidth, band.Height, band.Top,
                                 &gate);
        } catch (const EUnreadablePicture& e) {
            throw EEngineError(FormatText(Tr("The engine's screenshot cannot be decoded: %1"), {e.what()}));
        } catch (const EConvertError& e) {
            throw EEngineError(e.what());
        }
    }
    // Band i once it has come; null when the reader gave up meanwhile. Throws when it will never come.
    const TBand* WaitFor(std::size_t i, const TRowGate& gate) const {
        std::unique_lock<std::mutex> lock(FMutex);
        while (FBands.size() <= i && !FFailure) {
            if (gate.Abandoned()) return nullptr;
            FChanged.wait_for(lock, std::chrono::milliseconds(20));
        }
        if (FBands.size() > i) return &FBands[i]; // a deque keeps its elements in place as it grows
        throw EEngineError(*FFailure);
    }

    const int FWidth, FHeight;
    const std::size_t FExpected;
    mutable std::mutex FMutex;
    mutable std::condition_variable FChanged;
    std::deque<TBand> FBands;
    std::optional<std::string> FFailure;
};

std::int64_t RequestBand(TDevToolsSession& session, const TShotBand& band, int left, int top, int width,
                         int viewWidth, int viewHeight) {
    const int y = top + band.Top;
    json clip = {{"x", left}, {"y", y}, {"width", width}, {"height", band.Height}, {"scale", 1}};
    json params = {{"format", "png"},
                   {"optimizeForSpeed", true},
                   {"fromSurface", true},
                   // Only a clip that reaches out of the view needs the view grown for it: the browser then
                   // lays the page out again at another size, and what it draws may differ from the page
                   // as it is (elements placed against the view move).
                   {"captureBeyondViewport", left + width > viewWidth || y + band.Height > viewHeight},
                   {"clip", clip}};
    return session.SendAwaited("Page.captureScreenshot", std::move(params));
}

std::vector<std::uint8_t> ReceiveBand(TDevToolsSession& session, std::int64_t id,
                                      std::chrono::milliseconds timeout) {
    TDevToolsMessage reply = session.Await(id, "Page.captureScreenshot", timeout);
    if (reply.Data) return std::move(*reply.Data);
    std::vector<std::uint8_t> png;
    auto data = reply.Params.is_object() ? reply.Params.find("data") : reply.Params.end();
    if (data == reply.Params.end() || !data->is_string() ||
        !DecodeBase64(data->get_ref<const std::string&>(), png))
        throw EEngineError(Tr("The browser sent no picture of the page"));
    return png;
}

bool WholeRows(int cssRows, double scale) {
    return std::abs(cssRows * scale - std::lround(cssRows * scale)) <= 1e-9;
}

} // namespace

std::vector<TShotBand> TBandShooter::Bands(int height, int deviceWidth, int deviceHeight, double scale,
                                           int maxBandRows) {
    const int maxRows = std::max(
        256, std::min<int>(maxBandRows, static_cast<int>(kMaxBandPixels / std::max(1, deviceWidth))));
    int unit = 1;
    while (unit < 64 && !WholeRows(unit, scale))
        ++unit;
    if (deviceHeight <= maxRows || !WholeRows(unit, scale)) return {TShotBand{0, height, 0, deviceHeight}};
    const int bandCss = std::max(unit, static_cast<int>(maxRows / scale) / unit * unit);
    std::vector<TShotBand> bands;
    for (int top = 0; top < height; top += bandCss) {
        const int rows = std::min(bandCss, height - top);
        const int deviceTop = static_cast<int>(std::lround(top * scale));
        const int deviceBottom =
            top + rows >= height ? deviceHeight : static_cast<int>(std::lround((top + rows) * scale));
        bands.push_back(TShotBand{top, rows, deviceTop, deviceBottom - deviceTop});
    }
    return bands;
}

std::shared_ptr<const TPageShot> TBandShooter::Shoot(TDevToolsSession& session, int left, int top, int width,
                                                     int height, double scale, int viewWidth, int viewHeight,
                                                     const TShotStarted& started) const {
    const int deviceWidth = static_cast<int>(std::lround(std::max(width, 0) * scale));
    const int deviceHeight = static_cast<int>(std::lround(std::max(height, 0) * scale));
    const std::vector<TShotBand> bands = width < 1 || height < 1
                                             ? std::vector<TShotBand>{}
                                             : Bands(height, deviceWidth, deviceHeight, scale, FMaxBandRows);
    const auto timeout =
        FDrawTimeout.count() > 0 ? FDrawTimeout : session.Browser().Options().CallTimeout * 4;
    auto shot = std::make_shared<TChromiumShot>(deviceWidth, deviceHeight, bands.size());
    // One screenshot is under way at a time: the browser places its view for each clip, so two at once draw
    // each other's rows (tried: the second band came where the first belongs). A band still under way when
    // this fails is forgotten.
    std::int64_t asked = 0;
    struct Forget {
        TDevToolsSession& session;
        const std::int64_t& id;
        ~Forget() {
            if (id != 0) session.Forget(id);
        }
    } forget{session, asked};
    try {
        if (started) started(shot);
        for (const TShotBand& band : bands) {
            asked = RequestBand(session, band, left, top, width, viewWidth, viewHeight);
            std::vector<std::uint8_t> png = ReceiveBand(session, std::exchange(asked, 0), timeout);
            shot->Add({std::move(png), band.DeviceTop, band.DeviceHeight});
        }
    } catch (const std::exception& e) {
        shot->Fail(e.what());
        throw;
    } catch (...) {
        shot->Fail(Tr("The browser sent no picture of the page"));
        throw;
    }
    return shot;
}

} // namespace korvane
