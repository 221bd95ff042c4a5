#pragma once
// Pages of our own that do what today's sites do (first screens as high as the view, sidebars and bars
// placed against the view, ...), each with what a right picture of it shows at 1024 wide in a view 768 high.
// Both programs' tests capture them and look at the pixels.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace korvane::testing {

class TTestHttpServer;

struct TPixelProbe {
    int X, Y;
    std::uint32_t Colour; // 0xRRGGBB
};

struct TModernPage {
    // Areas (left, top, width, height) where something is drawn in black: text, whose glyphs' pixels are not
    // known, is there.
    struct TArea {
        int Left, Top, Width, Height;
    };
    TModernPage(std::string path, std::string html, std::string what, int height,
                std::vector<TPixelProbe> probes, std::vector<TArea> inked = {})
        : Path(std::move(path)), Html(std::move(html)), What(std::move(what)), Height(height),
          Probes(std::move(probes)), Inked(std::move(inked)) {}

    std::string Path; // served at this path
    std::string Html;
    std::string What; // what it imitates, for failure messages
    int Height;       // of a right picture
    std::vector<TPixelProbe> Probes;
    std::vector<TArea> Inked;
};

// Whether the picture has a near-black pixel in the area; pixel(x, y) gives 0xRRGGBB.
template <typename TPixel> bool HasInk(const TModernPage::TArea& area, TPixel pixel) {
    for (int y = area.Top; y < area.Top + area.Height; ++y)
        for (int x = area.Left; x < area.Left + area.Width; ++x) {
            const auto c = pixel(x, y);
            if ((c >> 16 & 0xFF) < 0x40 && (c >> 8 & 0xFF) < 0x40 && (c & 0xFF) < 0x40) return true;
        }
    return false;
}

// The picture the pages' images show, served at /green.svg (any query).
extern const char* const kGreenSvg;
// The web font a page asks for only once it has loaded, served at /late.ttf a while after it is asked for.
inline constexpr const char* kLateFontFile =
    "/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf";

// Every page of the set; ServeModernPages routes them all.
const std::vector<TModernPage>& ModernPages();
void ServeModernPages(TTestHttpServer& server);

} // namespace korvane::testing
