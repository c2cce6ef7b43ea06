#pragma once
// Small layout helpers shared by the dialogs.
#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <initializer_list>
#include <optional>

class QBoxLayout;
class QColor;
class QPalette;
class QDialog;
class QKeyEvent;
class QLayout;
class QVBoxLayout;
class QLabel;
class QString;
class QPushButton;
class QWidget;

namespace ts::ui {

// The buttons right-aligned in one row, of equal width.
QBoxLayout* buttonRow(std::initializer_list<QPushButton*> buttons);
// Fixes the dialog at its designed client size, or larger when the desktop's font needs it,
// but never larger than the screen's free area (a body made by bannerAndBody then scrolls),
// and centres it on the window that owns it, else on the screen, inside the free area.
void fixDesignedSize(QDialog* dialog, QSize designed);

// Room kept for the window manager's frame: its sides together (half of it also below), and
// the title bar.
inline constexpr QSize kFrameAllowance{16, 40};
// The part of the screen near a window (the primary one without it) a window's client area
// may take: the free area less the room for a frame.
QRect usableArea(const QWidget* near);
// Where a window of the wanted client size goes in area: no larger than area, centred on
// centreOn (the area's centre without it), moved inside area, its top edge kept in it.
QRect fittedPlace(QSize wanted, QRect area, std::optional<QPoint> centreOn = std::nullopt);
// Esc does nothing in dialogs whose Cancel button is not bound to it.
bool isEscape(const QKeyEvent* event);

// The banner picture across the top of a dialog, and below it the layout its controls go
// into, with the given margins, inside a scroll area named kBodyAreaName.
inline constexpr char kBodyAreaName[] = "BodyArea";
QVBoxLayout* bannerAndBody(QDialog* dialog, QMargins bodyMargins);
// Below the body, outside its scrolling: the dialog's buttons stay in view.
void addBelowBody(QDialog* dialog, QLayout* row);

// The bold dark-red line of advice at the top of the history lists.
QLabel* noticeLabel(const QString& text, QWidget* parent);
// The notices' red as the palette can show it: dark on a light window, light on a dark one.
QColor noticeColor(const QPalette& palette);

}  // namespace ts::ui
