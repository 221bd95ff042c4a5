#pragma once
// The loaded document as the host hands it out. It stands for one load of the engine: once the engine has
// navigated elsewhere, its operations fail with "The document is no longer loaded".
#include <cstdint>
#include <string_view>

#include "browser/Engine.h"

namespace korvane {

class THtmlDocument {
public:
    THtmlDocument(TEngine& engine, std::uint64_t id) : FEngine(&engine), FId(id) {}

    std::uint64_t Id() const { return FId; }
    // body.<name> read by name, e.g. BodyProperty("scrollWidth").
    std::int32_t BodyProperty(std::string_view name) const;
    // TEngine::DocumentScrollSize.
    std::int32_t DocumentScrollSize(std::string_view side) const;
    // Draws (0, 0, width, height) of the view into the bitmap (24-bit, at least width x height).
    void Draw(TBitmap& bitmap, int width, int height) const;
    // The picture Draw would paint, to be put into a bitmap apart from the engine (TEngine::Shoot).
    std::shared_ptr<const TPageShot> Shoot(int width, int height, const TShotStarted& started = {}) const;
    // TEngine::ShootArea and TEngine::ElementBox.
    std::shared_ptr<const TPageShot> ShootArea(int left, int top, int width, int height,
                                               const TShotStarted& started = {}) const;
    std::optional<TElementBox> ElementBox(const std::string& selector) const;

private:
    void CheckCurrent() const;
    TEngine* FEngine;
    std::uint64_t FId;
};

} // namespace korvane
