#pragma once
// A Qt window as the placement record sees it: left, top and the outer size, frame included.
#include <QPoint>

#include "settings/reg_env_data.h"

class QWidget;

namespace ts::ui {

class WidgetPlacement : public PlacedWindow {
public:
    explicit WidgetPlacement(QWidget& window) : window_(window) {}
    int32_t Left() const override;
    int32_t Top() const override;
    int32_t Width() const override;
    int32_t Height() const override;
    void SetLeft(int32_t value) override;
    void SetTop(int32_t value) override;
    void SetWidth(int32_t value) override;
    void SetHeight(int32_t value) override;

protected:
    void moveFrameTo(QPoint frameTopLeft);

private:
    QWidget& window_;
};

}  // namespace ts::ui
