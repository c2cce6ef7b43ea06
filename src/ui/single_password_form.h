#pragma once
// The small password question of the restore dialog and of opening an encrypted project.
#include <QDialog>

class QLineEdit;
class QPushButton;

namespace ts::ui {

class Prompts;

class TSinglePasswordForm : public QDialog {
    Q_OBJECT
public:
    explicit TSinglePasswordForm(Prompts& prompts, QWidget* parent = nullptr);
    // The accepted text, as typed; empty until OK succeeded.
    const QString& Password() const { return password_; }
    void OkButtonClick();

private:
    Prompts& prompts_;
    QString password_;
    QLineEdit* passwordEdit_;
    QPushButton* okButton_;
    QPushButton* cancelButton_;
};

}  // namespace ts::ui
