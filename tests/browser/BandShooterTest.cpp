// How a tall picture is cut into the browser's screenshots: seams on whole device pixels, bands that cover
// the picture once, the most rows a band may have, and lower bands for wide pages.
#include "browser/BandShooter.h"

#include <gtest/gtest.h>

#include <cmath>

namespace korvane {
namespace {

// The bands cover 0..height CSS pixels and 0..deviceHeight rows once, in order, each within `maxRows`.
void ExpectCover(const std::vector<TShotBand>& bands, int height, int deviceHeight, double scale,
                 int maxRows) {
    ASSERT_FALSE(bands.empty());
    int top = 0, deviceTop = 0;
    for (const TShotBand& band : bands) {
        EXPECT_EQ(band.Top, top);
        EXPECT_EQ(band.DeviceTop, deviceTop);
        EXPECT_EQ(band.DeviceTop, std::lround(band.Top * scale)) << "a seam off the device pixels";
        EXPECT_LE(band.DeviceHeight, maxRows);
        EXPECT_GT(band.Height, 0);
        top += band.Height;
        deviceTop += band.DeviceHeight;
    }
    EXPECT_EQ(top, height);
    EXPECT_EQ(deviceTop, deviceHeight);
}

TEST(BandShooter, TallPicturesComeInBandsWithSeamsOnWholeDevicePixels) {
    // What fits comes whole.
    EXPECT_EQ(TBandShooter::Bands(3000, 1024, 3000, 1.0, 10000),
              (std::vector<TShotBand>{{0, 3000, 0, 3000}}));
    // Tall: bands of the most rows, the last one shorter.
    const auto tall = TBandShooter::Bands(25000, 1024, 25000, 1.0, 10000);
    ASSERT_EQ(tall.size(), 3u);
    EXPECT_EQ(tall.back(), (TShotBand{20000, 5000, 20000, 5000}));
    ExpectCover(tall, 25000, 25000, 1.0, 10000);
    // At 1.5 device pixels a CSS pixel, bands are an even number of CSS pixels (3 rows for every 2).
    const auto scaled = TBandShooter::Bands(9001, 1536, 13502, 1.5, 2000);
    for (const TShotBand& band : scaled) {
        if (&band != &scaled.back()) {
            EXPECT_EQ(band.Height % 2, 0);
        }
    }
    ExpectCover(scaled, 9001, 13502, 1.5, 2000);
    // A scale without whole seams within 64 CSS pixels gives one band, whatever its height.
    EXPECT_EQ(TBandShooter::Bands(20000, 1000, 24691, 1.2345678, 10000).size(), 1u);
    // A wide page gets lower bands: no screenshot above 64 Mi pixels.
    const auto wide = TBandShooter::Bands(30000, 16384, 30000, 1.0, TBandShooter::kWholeBandRows);
    for (const TShotBand& band : wide)
        EXPECT_LE(std::int64_t{band.DeviceHeight} * 16384, TBandShooter::kMaxBandPixels);
    ExpectCover(wide, 30000, 30000, 1.0, 4096);
    // No band is lower than 256 rows, however wide the page.
    EXPECT_EQ(TBandShooter::Bands(1000, 1 << 20, 1000, 1.0, 10000)[0].DeviceHeight, 256);
}

} // namespace
} // namespace korvane
