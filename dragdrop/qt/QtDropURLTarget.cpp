#include "dragdrop/qt/QtDropURLTarget.h"

#include "dragdrop/qt/QtDropControl.h"

namespace korvane {

TQtDropURLTarget::TQtDropURLTarget() : TDropURLTarget(std::make_unique<TQtTimer>()) {}

TQtDropURLTarget::~TQtDropURLTarget() {
    Detach();
}

void TQtDropURLTarget::AttachTo(QWidget* control) {
    TDropTarget::AttachTo(control ? std::make_unique<TQtDropControl>(control) : nullptr);
}

QWidget* TQtDropURLTarget::TargetWidget() const {
    auto* control = dynamic_cast<TQtDropControl*>(TargetControl());
    return control ? control->Widget() : nullptr;
}

} // namespace korvane
