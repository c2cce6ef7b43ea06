#include "ui/window_layout.h"

#include <QDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>

#include "ui/pictures.h"

namespace ts::ui {

QBoxLayout* buttonRow(std::initializer_list<QPushButton*> buttons) {
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    int width = 75;
    for (QPushButton* button : buttons) width = std::max(width, button->sizeHint().width());
    for (QPushButton* button : buttons) {
        button->setMinimumWidth(width);
        row->addWidget(button);
    }
    return row;
}

QRect usableArea(const QWidget* near) {
    const QScreen* screen = near ? near->screen() : nullptr;
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (!screen) return {};
    // What the window manager's frame takes around the client area, before it is known.
    const int side = kFrameAllowance.width() / 2;
    return screen->availableGeometry().adjusted(side, kFrameAllowance.height(), -side, -side);
}

QRect fittedPlace(QSize wanted, QRect area, std::optional<QPoint> centreOn) {
    if (area.isEmpty()) return QRect(QPoint(0, 0), wanted);
    const QSize size = wanted.boundedTo(area.size());
    QRect place(QPoint(0, 0), size);
    place.moveCenter(centreOn.value_or(area.center()));
    // Pulled back inside the area, the top edge last: the title bar must stay reachable.
    if (place.right() > area.right()) place.moveRight(area.right());
    if (place.bottom() > area.bottom()) place.moveBottom(area.bottom());
    if (place.left() < area.left()) place.moveLeft(area.left());
    if (place.top() < area.top()) place.moveTop(area.top());
    return place;
}

void fixDesignedSize(QDialog* dialog, QSize designed) {
    QSize size = designed.expandedTo(dialog->minimumSizeHint());
    // A body that scrolls asks for room to show all of it without scrolling.
    if (auto* body = dialog->findChild<QScrollArea*>(kBodyAreaName)) {
        const QSize whole = body->widget()->minimumSizeHint();
        const QSize dialogLeast = dialog->minimumSizeHint();
        size = size.expandedTo(QSize(std::max(dialogLeast.width(), whole.width()),
                                     dialogLeast.height() - body->minimumSizeHint().height() + whole.height()));
    }
    const QWidget* owner = dialog->parentWidget() ? dialog->parentWidget()->window() : nullptr;
    std::optional<QPoint> centre;
    if (owner && owner->isVisible()) centre = owner->geometry().center();
    // The client area's place: the frame goes around it.
    const QRect place = fittedPlace(size, usableArea(owner ? owner : dialog), centre);
    dialog->setFixedSize(place.size());
    dialog->setGeometry(place);
}

bool isEscape(const QKeyEvent* event) {
    return event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier;
}

QLabel* noticeLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, noticeColor(palette));
    label->setPalette(palette);
    return label;
}

void addBelowBody(QDialog* dialog, QLayout* row) {
    if (auto* outer = qobject_cast<QVBoxLayout*>(dialog->layout())) outer->addLayout(row);
}

QColor noticeColor(const QPalette& palette) {
    // Dark red on a light window, a light red on a dark one: the notice keeps its hue and
    // stays as readable as the window's own text.
    return palette.color(QPalette::Window).lightness() < 128 ? QColor(0xff, 0x8a, 0x80) : QColor(0x80, 0, 0);
}

QVBoxLayout* bannerAndBody(QDialog* dialog, QMargins bodyMargins) {
    auto* outer = new QVBoxLayout(dialog);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    auto* banner = new QLabel(dialog);
    banner->setPixmap(bannerPicture());
    banner->setFixedHeight(49);
    banner->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    outer->addWidget(banner);
    // Below the banner, the body scrolls on a screen too small for it; where it fits, the
    // scroll area shows nothing of itself.
    auto* area = new QScrollArea(dialog);
    area->setObjectName(kBodyAreaName);
    area->setFrameShape(QFrame::NoFrame);
    area->setWidgetResizable(true);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    auto* content = new QWidget(area);
    content->setObjectName("Body");
    area->setWidget(content);
    content->setAutoFillBackground(false);
    area->viewport()->setAutoFillBackground(false);
    auto* body = new QVBoxLayout(content);
    body->setContentsMargins(bodyMargins);
    outer->addWidget(area, 1);
    return body;
}

}  // namespace ts::ui
