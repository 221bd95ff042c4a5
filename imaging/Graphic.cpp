#include "imaging/Graphic.h"

#include "imaging/GraphicErrors.h"
#include "platform/Translate.h"

namespace korvane {

EIncompletePicture::EIncompletePicture() : EInvalidGraphic(Tr("The picture was not drawn completely")) {}

void TPersistent::AssignError(const TPersistent* source) const {
    const std::string from = source ? source->ClassName() : std::string("nil");
    throw EConvertError(FormatText(Tr("Cannot assign a %1 to a %2"), {from, ClassName()}));
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
