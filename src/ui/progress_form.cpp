#include "ui/progress_form.h"

#include <QCloseEvent>
#include <QFont>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace ts::ui {

CopyAnimation::CopyAnimation(QWidget* parent) : QWidget(parent), timer_(new QTimer(this)) {
    setObjectName("Animate");
    connect(timer_, &QTimer::timeout, this, [this] {
        frame_ = (frame_ + 1) % kFrameCount;
        update();
    });
    timer_->start(60);
}

void CopyAnimation::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int h = height();
    const int w = width();
    auto drawFolder = [&](int x) {
        QRectF body(x, h * 0.45, 52, h * 0.45);
        painter.setPen(QColor(150, 110, 20));
        painter.setBrush(QColor(240, 200, 80));
        painter.drawRoundedRect(QRectF(x, h * 0.38, 22, 8), 2, 2);
        painter.drawRoundedRect(body, 3, 3);
    };
    drawFolder(8);
    drawFolder(w - 60);
    // One sheet on its arc from the left folder to the right one.
    const double t = static_cast<double>(frame_) / (kFrameCount - 1);
    const double x = 30 + t * (w - 90);
    const double y = h * 0.55 - std::sin(t * 3.14159265) * h * 0.45;
    painter.setPen(QColor(90, 90, 90));
    painter.setBrush(Qt::white);
    painter.drawRect(QRectF(x, y, 18, 22));
    painter.drawLine(QPointF(x + 3, y + 7), QPointF(x + 15, y + 7));
    painter.drawLine(QPointF(x + 3, y + 12), QPointF(x + 15, y + 12));
}

TProgressForm::TProgressForm(QWidget* parent) : QDialog(parent) {
    setObjectName("ProgressForm");
    setWindowTitle("Please wait ...");
    // A title but no buttons on it: closing goes through Cancel only.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint);
    setFixedSize(318, 194);
    setModal(false);

    Animate = new CopyAnimation(this);
    Animate->setGeometry(16, 16, 272, 60);

    Label1 = new QLabel("Current States:", this);
    Label1->setObjectName("Label1");
    Label1->move(16, 88);
    Label1->adjustSize();

    StatesLabel = new QLabel(this);
    StatesLabel->setObjectName("StatesLabel");
    // The status names items and files; markup in a name shows as it is.
    StatesLabel->setTextFormat(Qt::PlainText);
    QFont bold = StatesLabel->font();
    bold.setBold(true);
    StatesLabel->setFont(bold);
    // Starts where its caption ends when the desktop's font makes that wider than planned.
    const int statesLeft = std::max(96, Label1->x() + Label1->width() + 4);
    StatesLabel->setGeometry(statesLeft, 88, 318 - 16 - statesLeft, StatesLabel->sizeHint().height());
    StatesLabel->setWordWrap(true);
    StatesLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lineHeight_ = StatesLabel->height();

    ProgressBar = new QProgressBar(this);
    ProgressBar->setObjectName("ProgressBar");
    ProgressBar->setAccessibleName("Progress of the run");
    ProgressBar->setRange(0, 100);
    ProgressBar->setValue(0);
    ProgressBar->setTextVisible(false);
    ProgressBar->setGeometry(16, 112, 257, 16);

    PercentLabel = new QLabel(PercentText(0), this);
    PercentLabel->setObjectName("PercentLabel");
    PercentLabel->move(280, 112);
    PercentLabel->resize(36, PercentLabel->sizeHint().height());

    CancelButton = new QPushButton("&Cancel", this);
    CancelButton->setObjectName("CancelButton");
    CancelButton->setGeometry(16, 144, 75, 25);
    CancelButton->setAutoDefault(false);
    connect(CancelButton, &QPushButton::clicked, this, &TProgressForm::CancelButtonClick);
}

QString TProgressForm::PercentText(uint8_t percent) {
    return QString::number(percent) + " %";
}

void TProgressForm::ShowState(const QString& text) {
    // A zero-width space after each path separator lets a long path wrap where a reader
    // expects; a run of characters with no place to wrap (a folder named by a GUID) gets one
    // every so often, so nothing is cut off at the label's edge.
    constexpr int kLongestRun = 12;
    const QChar wrapHere(0x200B);
    QString breakable;
    int run = 0;
    for (QChar c : text) {
        breakable += c;
        if (c.isSpace()) {
            run = 0;
        } else if (c == '\\' || c == '/' || ++run >= kLongestRun) {
            breakable += wrapHere;
            run = 0;
        }
    }
    StatesLabel->setText(breakable);
    const int needed = std::max(lineHeight_, StatesLabel->heightForWidth(StatesLabel->width()));
    const int grow = std::max(0, needed - lineHeight_) - grownBy_;
    if (grow <= 0) {
        StatesLabel->resize(StatesLabel->width(), lineHeight_ + grownBy_);
        return;
    }
    grownBy_ += grow;
    StatesLabel->resize(StatesLabel->width(), lineHeight_ + grownBy_);
    for (QWidget* below : std::initializer_list<QWidget*>{ProgressBar, PercentLabel, CancelButton})
        below->move(below->x(), below->y() + grow);
    setFixedSize(width(), height() + grow);
}

void TProgressForm::CancelButtonClick() {
    if (!OnCancel || !CancelButton->isEnabled()) return;
    CancelButton->setEnabled(false);
    OnCancel(this);
}

void TProgressForm::reject() {
    CancelButtonClick();
}

void TProgressForm::closeEvent(QCloseEvent* event) {
    event->ignore();
}

}  // namespace ts::ui
