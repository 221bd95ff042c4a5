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
        const auto bytes = static_cast<std::size_t>(std::min(FBitmap.Width(), rows.Width)) * 3;
        for (int y = 0; y < height; ++y) {
            std::memcpy(rows.ScanLine(y), FBitmap.ScanLine(y), bytes);
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
