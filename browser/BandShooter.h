#pragma once
// The picture of an area of a page, taken as the browser's screenshots of bands of it (PNG), one at a time,
// and put into bitmap rows as they come: a tall page comes in several bands, so that the first is put into
// the bitmap and encoded while the browser makes the next.
#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "browser/Engine.h"

namespace korvane {

class TDevToolsSession;

struct TShotBand {
    int Top, Height;             // CSS pixels of the area
    int DeviceTop, DeviceHeight; // rows of the picture
    bool operator==(const TShotBand&) const = default;
};

class TBandShooter {
public:
    // The most device rows one screenshot may have. Each band costs the browser more than its share of the
    // rows, so with other work under way (pages loading, files being written) one band as large as
    // kMaxBandPixels allows is cheaper: kWholeBandRows.
    void SetMaxBandRows(int rows) { FMaxBandRows = rows > 0 ? rows : kDefaultMaxBandRows; }
    static constexpr int kDefaultMaxBandRows = 10000;
    static constexpr int kWholeBandRows = 65536;
    static constexpr std::int64_t kMaxBandPixels = 64ll * 1024 * 1024;
    // Time allowed to one screenshot (0: four times the browser's call timeout).
    void SetDrawTimeout(std::chrono::milliseconds timeout) { FDrawTimeout = timeout; }

    // The picture of (left, top, width, height) of the page at `scale` device pixels a CSS pixel, in a view
    // of viewWidth x viewHeight; `started` gets it as soon as it is begun. Throws EEngineError when a band
    // does not come (and the picture's DrawInto throws the same).
    std::shared_ptr<const TPageShot> Shoot(TDevToolsSession& session, int left, int top, int width,
                                           int height, double scale, int viewWidth, int viewHeight,
                                           const TShotStarted& started) const;

    // The bands of a drawing `height` CSS pixels high that makes deviceWidth x deviceHeight pixels: their
    // seams fall on whole device pixels (each band is a whole number of CSS pixels that makes a whole number
    // of device rows), none has more than the most rows, and wide pages get lower bands so that no one
    // screenshot is larger than kMaxBandPixels. A scale without such seams gives one band.
    static std::vector<TShotBand> Bands(int height, int deviceWidth, int deviceHeight, double scale,
                                        int maxBandRows);

private:
    int FMaxBandRows = kDefaultMaxBandRows;
    std::chrono::milliseconds FDrawTimeout{0};
};

} // namespace korvane
