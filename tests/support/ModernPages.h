#pragma once
// Pages of our own that do what today's sites do (first screens as high as the view, sidebars and bars
// placed against the view, ...), each with what a right picture of it shows at 1024 wide in a view 768 high.
// Both programs' tests capture them and look at the pixels.
#include <cstdint>
#include <string>
#include <vector>

namespace korvane::testing {

class TTestHttpServer;

struct TPixelProbe {
    int X, Y;
    std::uint32_t Colour; // 0xRRGGBB
};

struct TModernPage {
    std::string Path; // served at this path
    std::string Html;
    std::string What; // what it imitates, for failure messages
    int Height;       // of a right picture
    std::vector<TPixelProbe> Probes;
};

// The picture the pages' images show, served at /green.svg (any query).
extern const char* const kGreenSvg;

// Every page of the set; ServeModernPages routes them all.
const std::vector<TModernPage>& ModernPages();
void ServeModernPages(TTestHttpServer& server);

} // namespace korvane::testing
