#include "browser/Engine.h"

#include <algorithm>
#include <cstring>

#include "browser/EngineError.h"
#include "imaging/Bitmap.h"
#include "platform/Translate.h"

namespace korvane {
namespace {

// A picture drawn at once into a bitmap of its own, for engines that can only draw.
class TDrawnShot : public TPageShot {
public:
    explicit TDrawnShot(TBitmap bitmap) : FBitmap(std::move(bitmap)) {}
    int Width() const override { return FBitmap.Width(); }
    int Height() const override { return FBitmap.Height(); }
    void DrawInto(const TBitmapRows& rows, TRowGate& gate) const override {
        const int height = std::min(FBitmap.Height(), rows.Height);
        const int width = std::min(FBitmap.Width(), rows.Width);
        for (int y = 0; y < height; ++y) {
            const std::uint8_t* from = FBitmap.ScanLine(y);
            std::uint8_t* to = rows.ScanLine(y);
            if (rows.PixelBytes == 3) {
                std::memcpy(to, from, static_cast<std::size_t>(width) * 3);
            } else {
                // An opaque drawing into rows that keep alpha.
                for (int x = 0; x < width; ++x, from += 3, to += 4) {
                    std::memcpy(to, from, 3);
                    to[3] = 0xFF;
                }
            }
            if (!gate.Publish(y + 1)) return;
        }
    }

private:
    TBitmap FBitmap;
};

} // namespace

std::shared_ptr<const TPageShot> TEngine::Shoot(int width, int height, const TShotStarted& started) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    bitmap.SetSize(std::max(width, 0), std::max(height, 0));
    if (!bitmap.Empty()) Draw(bitmap, width, height);
    auto shot = std::make_shared<const TDrawnShot>(std::move(bitmap));
    if (started) started(shot);
    return shot;
}

std::shared_ptr<const TPageShot> TEngine::ShootArea(int left, int top, int width, int height,
                                                    const TShotStarted& started) {
    if (left != 0 || top != 0) throw EEngineError(Tr("This engine draws its view only from the top left"));
    return Shoot(width, height, started);
}

std::optional<TElementBox> TEngine::ElementBox(const std::string&) {
    throw EEngineError(Tr("This engine cannot look elements up"));
}

} // namespace korvane
