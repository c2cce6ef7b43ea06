#include "ui/window_layout.h"

#include <QDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
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

void fixDesignedSize(QDialog* dialog, QSize designed) {
    QSize size = designed.expandedTo(dialog->minimumSizeHint());
    dialog->setFixedSize(size);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect area = screen->availableGeometry();
        dialog->move(area.center() - QPoint(size.width() / 2, size.height() / 2));
    }
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
    palette.setColor(QPalette::WindowText, QColor(0x80, 0, 0));
    label->setPalette(palette);
    return label;
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
    auto* body = new QVBoxLayout;
    body->setContentsMargins(bodyMargins);
    outer->addLayout(body, 1);
    return body;
}

}  // namespace ts::ui
