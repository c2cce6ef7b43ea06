#include "ui/widget_placement.h"

#include <QWidget>
#include <QWindow>

namespace ts::ui {

int32_t WidgetPlacement::Left() const { return window_.frameGeometry().x(); }
int32_t WidgetPlacement::Top() const { return window_.frameGeometry().y(); }
int32_t WidgetPlacement::Width() const { return window_.frameGeometry().width(); }
int32_t WidgetPlacement::Height() const { return window_.frameGeometry().height(); }

// The stored place is the frame's. A window not yet made native takes a move as its frame's
// place; once it is, and before the window manager has framed it, Qt does not know the frame
// yet and a move would put the client area there, one title bar higher than stored: the
// window system places a frame position itself once it knows the frame.
void WidgetPlacement::moveFrameTo(QPoint frameTopLeft) {
    QWindow* native = window_.windowHandle();
    const bool frameKnown = window_.frameGeometry() != window_.geometry();
    if (native && window_.testAttribute(Qt::WA_WState_Created) && !frameKnown) {
        native->setFramePosition(frameTopLeft);
    } else {
        window_.move(frameTopLeft);
    }
}

void WidgetPlacement::SetLeft(int32_t value) { moveFrameTo(QPoint(value, window_.frameGeometry().y())); }
void WidgetPlacement::SetTop(int32_t value) { moveFrameTo(QPoint(window_.frameGeometry().x(), value)); }

// The stored size is the outer one; the frame the window manager adds is taken off again.
void WidgetPlacement::SetWidth(int32_t value) {
    int frame = window_.frameGeometry().width() - window_.width();
    window_.resize(std::max(1, value - frame), window_.height());
}

void WidgetPlacement::SetHeight(int32_t value) {
    int frame = window_.frameGeometry().height() - window_.height();
    window_.resize(window_.width(), std::max(1, value - frame));
}

}  // namespace ts::ui
