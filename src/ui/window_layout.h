#pragma once
// Small layout helpers shared by the dialogs.
#include <QMargins>
#include <QSize>
#include <initializer_list>

class QBoxLayout;
class QDialog;
class QKeyEvent;
class QVBoxLayout;
class QLabel;
class QString;
class QPushButton;
class QWidget;

namespace ts::ui {

// The buttons right-aligned in one row, of equal width.
QBoxLayout* buttonRow(std::initializer_list<QPushButton*> buttons);
// Fixes the dialog at its designed client size, or larger when the desktop's font needs it,
// and centres it on the screen.
void fixDesignedSize(QDialog* dialog, QSize designed);
// Esc does nothing in dialogs whose Cancel button is not bound to it.
bool isEscape(const QKeyEvent* event);

// The banner picture across the top of a dialog, and below it the layout its controls go
// into, with the given margins.
QVBoxLayout* bannerAndBody(QDialog* dialog, QMargins bodyMargins);

// The bold dark-red line of advice at the top of the history lists.
QLabel* noticeLabel(const QString& text, QWidget* parent);

}  // namespace ts::ui
