#include "imaging/Graphic.h"

namespace korvane {

void TPersistent::AssignError(const TPersistent* source) const {
    const std::string from = source ? source->ClassName() : std::string("nil");
    throw EConvertError("Cannot assign a " + from + " to a " + ClassName());
}

void TGraphic::SetTransparent(bool value) {
    if (value != FTransparent) {
        FTransparent = value;
        Changed();
    }
}

void TGraphic::Changed() {
    if (OnChange) OnChange(*this);
}

} // namespace korvane
