#include "ui/widget_placement.h"

#include <QWidget>

namespace ts::ui {

int32_t WidgetPlacement::Left() const { return window_.frameGeometry().x(); }
int32_t WidgetPlacement::Top() const { return window_.frameGeometry().y(); }
int32_t WidgetPlacement::Width() const { return window_.frameGeometry().width(); }
int32_t WidgetPlacement::Height() const { return window_.frameGeometry().height(); }

void WidgetPlacement::SetLeft(int32_t value) { window_.move(value, window_.frameGeometry().y()); }
void WidgetPlacement::SetTop(int32_t value) { window_.move(window_.frameGeometry().x(), value); }

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
