#include "ui/single_password_form.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/prompts.h"
#include "ui/window_layout.h"

namespace ts::ui {

TSinglePasswordForm::TSinglePasswordForm(Prompts& prompts, QWidget* parent) : QDialog(parent), prompts_(prompts) {
    setObjectName("SinglePasswordForm");
    setWindowTitle("Please enter your password");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    auto* label = new QLabel("&Enter your password below:", this);
    passwordEdit_ = new QLineEdit(this);
    passwordEdit_->setObjectName("PasswordEdit");
    passwordEdit_->setEchoMode(QLineEdit::Password);
    label->setBuddy(passwordEdit_);
    layout->addWidget(label);
    layout->addWidget(passwordEdit_);
    layout->addStretch(1);

    okButton_ = new QPushButton("&OK", this);
    okButton_->setObjectName("OkButton");
    okButton_->setDefault(true);
    cancelButton_ = new QPushButton("&Cancel", this);
    cancelButton_->setObjectName("CancelButton");
    layout->addLayout(buttonRow({okButton_, cancelButton_}));
    connect(okButton_, &QPushButton::clicked, this, &TSinglePasswordForm::OkButtonClick);
    connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);
    fixDesignedSize(this, QSize(278, 114));
}

void TSinglePasswordForm::OkButtonClick() {
    if (passwordEdit_->text().trimmed().isEmpty()) {
        prompts_.error(this, "Please enter your password first!");
        return;
    }
    password_ = passwordEdit_->text();
    accept();
}

}  // namespace ts::ui
