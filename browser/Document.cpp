#include "browser/Document.h"
#include "platform/Translate.h"

#include "browser/EngineError.h"

namespace korvane {

void THtmlDocument::CheckCurrent() const {
    if (FEngine->DocumentId() != FId) throw EEngineError(Tr("The document is no longer loaded"));
}

std::int32_t THtmlDocument::BodyProperty(std::string_view name) const {
    CheckCurrent();
    return FEngine->BodyProperty(name);
}

std::int32_t THtmlDocument::DocumentScrollSize(std::string_view side) const {
    CheckCurrent();
    return FEngine->DocumentScrollSize(side);
}

void THtmlDocument::Draw(TBitmap& bitmap, int width, int height) const {
    CheckCurrent();
    FEngine->Draw(bitmap, width, height);
}

std::shared_ptr<const TPageShot> THtmlDocument::Shoot(int width, int height,
                                                      const TShotStarted& started) const {
    CheckCurrent();
    return FEngine->Shoot(width, height, started);
}

std::shared_ptr<const TPageShot> THtmlDocument::ShootArea(int left, int top, int width, int height,
                                                          const TShotStarted& started) const {
    CheckCurrent();
    return FEngine->ShootArea(left, top, width, height, started);
}

std::optional<TElementBox> THtmlDocument::ElementBox(const std::string& selector) const {
    CheckCurrent();
    return FEngine->ElementBox(selector);
}

} // namespace korvane
