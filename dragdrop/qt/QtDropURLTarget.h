#pragma once
// The URL drop target of a Qt window: TDropURLTarget with a QTimer for auto-scrolling, attached to widgets.
//
//     DropURLTarget = std::make_unique<TQtDropURLTarget>();
//     DropURLTarget->SetDragtypes({dtLink});
//     DropURLTarget->SetGetDataOnEnter(true);
//     DropURLTarget->SetShowImage(true);
//     DropURLTarget->OnDrop = [this](TDropTarget* sender, TShiftState shift, TPoint point,
//                                    std::uint32_t& effect) { DropURLTargetDrop(sender, shift, point,
//                                    effect); };
//     DropURLTarget->AttachTo(EditAddress);   // first in FormCreate
//     DropURLTarget->Detach();                // first in FormDestroy
//
// Inside OnDrop, DroppedUrl() holds the URL read for this drop (empty when the drop yielded none).
#include "dragdrop/DropURLTarget.h"

class QWidget;

namespace korvane {

class TQtDropURLTarget : public TDropURLTarget {
public:
    TQtDropURLTarget();
    ~TQtDropURLTarget() override;

    // Makes the widget accept drags for this target; the widget already attached does nothing, null detaches.
    void AttachTo(QWidget* control);
    // The attached widget, or null (also when it was destroyed while attached).
    QWidget* TargetWidget() const;
};

} // namespace korvane
