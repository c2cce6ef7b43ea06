#pragma once
// The modeless dialog beside a running backup or restore: the run's status text, its
// percentage and a Cancel button that sends at most one cancel request.
#include <QDialog>
#include <QWidget>
#include <cstdint>
#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace ts::ui {

// Sheets of paper flying from one folder to another while a run works.
class CopyAnimation : public QWidget {
    Q_OBJECT
public:
    explicit CopyAnimation(QWidget* parent = nullptr);
    static constexpr int kFrameCount = 32;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QTimer* timer_;
    int frame_ = 0;
};

class TProgressForm : public QDialog {
    Q_OBJECT
public:
    using CancelEvent = std::function<void(QObject* sender)>;

    explicit TProgressForm(QWidget* parent = nullptr);

    CancelEvent OnCancel;

    CopyAnimation* Animate;
    QLabel* Label1;
    QLabel* StatesLabel;
    QProgressBar* ProgressBar;
    QLabel* PercentLabel;
    QPushButton* CancelButton;

    // The number without leading zeros, a blank and the percent sign.
    static QString PercentText(uint8_t percent);
    // Shows the run's status whole: wrapped within the label's width (a long name also at its
    // path separators), the dialog growing to hold it; it does not shrink again during a run.
    void ShowState(const QString& text);

public slots:
    void CancelButtonClick();

private:
    int grownBy_ = 0;
    int lineHeight_ = 0;

protected:
    // Escape is the Cancel button; it never just hides the dialog under a running worker.
    void reject() override;
    void closeEvent(QCloseEvent* event) override;
};

}  // namespace ts::ui
