#include "dragdrop/qt/QtDropControl.h"

#include "dragdrop/qt/MimeDataObject.h"

#include <QAbstractScrollArea>
#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFontMetrics>
#include <QScrollBar>

namespace korvane {

std::uint32_t KeyStateOf(Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons) {
    std::uint32_t keys = 0;
    if (modifiers & Qt::ShiftModifier) keys |= MK_SHIFT;
    if (modifiers & Qt::ControlModifier) keys |= MK_CONTROL;
    if (modifiers & Qt::AltModifier) keys |= MK_ALT;
    if (buttons & Qt::LeftButton) keys |= MK_LBUTTON;
    if (buttons & Qt::RightButton) keys |= MK_RBUTTON;
    if (buttons & Qt::MiddleButton) keys |= MK_MBUTTON;
    return keys;
}

std::uint32_t EffectsOf(Qt::DropActions actions) {
    std::uint32_t effects = DROPEFFECT_NONE;
    if (actions & Qt::CopyAction) effects |= DROPEFFECT_COPY;
    if (actions & Qt::MoveAction) effects |= DROPEFFECT_MOVE;
    if (actions & Qt::LinkAction) effects |= DROPEFFECT_LINK;
    return effects;
}

Qt::DropAction DropActionOf(std::uint32_t effect, Qt::DropAction proposed) {
    if (proposed != Qt::IgnoreAction && (EffectsOf(proposed) & effect)) return proposed;
    if (effect & DROPEFFECT_COPY) return Qt::CopyAction;
    if (effect & DROPEFFECT_MOVE) return Qt::MoveAction;
    if (effect & DROPEFFECT_LINK) return Qt::LinkAction;
    return Qt::IgnoreAction;
}

// Hands the drag events of one widget to a drop target and keeps the data object of the drag in between.
class TQtDropControl::TDragFilter final : public QObject {
public:
    TDragFilter(QWidget* eventWidget, IDropTarget* target) : FEventWidget(eventWidget), FTarget(target) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != FEventWidget) return false;
        switch (event->type()) {
        case QEvent::DragEnter: {
            auto* e = static_cast<QDragEnterEvent*>(event);
            e->ignore();
            FData = e->mimeData() ? DataObjectFromMimeData(*e->mimeData()) : ComPtr<MemoryDataObject>();
            std::uint32_t effect = EffectsOf(e->possibleActions());
            FTarget->DragEnter(FData.Get(), KeyStateOf(e->modifiers(), e->buttons()), ScreenPoint(*e),
                               effect);
            Answer(*e, effect);
            return true;
        }
        case QEvent::DragMove: {
            auto* e = static_cast<QDragMoveEvent*>(event);
            e->ignore();
            std::uint32_t effect = EffectsOf(e->possibleActions());
            FTarget->DragOver(KeyStateOf(e->modifiers(), e->buttons()), ScreenPoint(*e), effect);
            Answer(*e, effect);
            return true;
        }
        case QEvent::DragLeave:
            FData.Reset();
            FTarget->DragLeave();
            return true;
        case QEvent::Drop: {
            auto* e = static_cast<QDropEvent*>(event);
            e->ignore();
            const ComPtr<MemoryDataObject> data = std::move(FData);
            std::uint32_t effect = EffectsOf(e->possibleActions());
            FTarget->Drop(data.Get(), KeyStateOf(e->modifiers(), e->buttons()), ScreenPoint(*e), effect);
            Answer(*e, effect);
            return true;
        }
        default:
            return false;
        }
    }

private:
    POINT ScreenPoint(const QDropEvent& e) const {
        const QPoint p = FEventWidget->mapToGlobal(e.position().toPoint());
        return {p.x(), p.y()};
    }

    static void Answer(QDropEvent& e, std::uint32_t effect) {
        const Qt::DropAction action = DropActionOf(effect, e.proposedAction());
        if (action != Qt::IgnoreAction && (e.possibleActions() & action)) {
            e.setDropAction(action);
            e.accept();
        } else {
            e.setDropAction(Qt::IgnoreAction);
            e.ignore();
        }
    }

    QWidget* FEventWidget;
    ComPtr<IDropTarget> FTarget; // held while registered, as the platform holds a registered target
    ComPtr<MemoryDataObject> FData;
};

TQtDropControl::TQtDropControl(QWidget* widget) : FWidget(widget), FHandle(widget) {}

TQtDropControl::~TQtDropControl() {
    if (FFilter) RevokeDragDrop();
}

QWidget* TQtDropControl::ClientWidget() const {
    if (auto* area = qobject_cast<QAbstractScrollArea*>(FWidget.data())) return area->viewport();
    return FWidget;
}

int TQtDropControl::ClientWidth() const {
    return FWidget ? ClientWidget()->width() : 0;
}
int TQtDropControl::ClientHeight() const {
    return FWidget ? ClientWidget()->height() : 0;
}

int TQtDropControl::FontHeight() const {
    return FWidget ? QFontMetrics(FWidget->font()).height() : 0;
}

TScrollBars TQtDropControl::ScrollBars() const {
    TScrollBars bars;
    if (auto* area = qobject_cast<QAbstractScrollArea*>(FWidget.data())) {
        if (area->horizontalScrollBar()->isVisibleTo(area)) bars.Include(sbHorizontal);
        if (area->verticalScrollBar()->isVisibleTo(area)) bars.Include(sbVertical);
    }
    return bars;
}

POINT TQtDropControl::ScreenToClient(POINT screen) const {
    if (!FWidget) return screen;
    const QPoint p = ClientWidget()->mapFromGlobal(QPoint(screen.x, screen.y));
    return {p.x(), p.y()};
}

POINT TQtDropControl::ClientToScreen(POINT client) const {
    if (!FWidget) return client;
    const QPoint p = ClientWidget()->mapToGlobal(QPoint(client.x, client.y));
    return {p.x(), p.y()};
}

RECT TQtDropControl::WindowRect() const {
    if (!FWidget) return {};
    const QRect r = FWidget->isWindow() ? FWidget->frameGeometry()
                                        : QRect(FWidget->mapToGlobal(QPoint(0, 0)), FWidget->size());
    return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}

void TQtDropControl::Perform(std::uint32_t message, std::uintptr_t wParam, std::intptr_t) {
    auto* area = qobject_cast<QAbstractScrollArea*>(FWidget.data());
    if (!area || (message != WM_VSCROLL && message != WM_HSCROLL)) return;
    QScrollBar* bar = message == WM_VSCROLL ? area->verticalScrollBar() : area->horizontalScrollBar();
    if (wParam == SB_LINEUP)
        bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
    else if (wParam == SB_LINEDOWN)
        bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
}

HRESULT TQtDropControl::RegisterDragDrop(IDropTarget* target) {
    if (!FWidget || !target) return E_INVALIDARG;
    if (FFilter) return DRAGDROP_E_ALREADYREGISTERED;
    FAcceptedDropsBefore = FWidget->acceptDrops();
    FViewportAcceptedDropsBefore = ClientWidget()->acceptDrops();
    FWidget->setAcceptDrops(true);
    ClientWidget()->setAcceptDrops(true); // Qt finds the drop widget under the pointer: the viewport
    FFilter = std::make_unique<TDragFilter>(ClientWidget(), target);
    ClientWidget()->installEventFilter(FFilter.get());
    return S_OK;
}

HRESULT TQtDropControl::RevokeDragDrop() {
    if (!FFilter) return DRAGDROP_E_NOTREGISTERED;
    if (FWidget) {
        ClientWidget()->removeEventFilter(FFilter.get());
        ClientWidget()->setAcceptDrops(FViewportAcceptedDropsBefore);
        FWidget->setAcceptDrops(FAcceptedDropsBefore);
    }
    FFilter.reset();
    return S_OK;
}

TQtTimer::TQtTimer() {
    QObject::connect(&FTimer, &QTimer::timeout, [this] {
        if (FOnTimer) FOnTimer();
    });
}

void TQtTimer::SetEnabled(bool enabled) {
    if (enabled && !FTimer.isActive())
        FTimer.start();
    else if (!enabled)
        FTimer.stop();
}

} // namespace korvane
