#include "ui/select_project_form.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "ui/window_layout.h"

namespace ts::ui {

TSelectProjectForm::TSelectProjectForm(QWidget* parent) : QDialog(parent) {
    setObjectName("SelectProjectForm");
    setWindowTitle("Please select ...");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    auto* group = new QGroupBox("You want:", this);
    group->setObjectName("SelectGroupBox");
    auto* groupLayout = new QVBoxLayout(group);
    choices_ = new QButtonGroup(this);
    const char* texts[] = {"Create a New Backup Project and Begin Backup", "Open an Exists Project From History",
                           "Open an Exists Project From Your Storage Device"};
    for (int i = 0; i < 3; ++i) {
        auto* radio = new QRadioButton(texts[i], group);
        radio->setObjectName(QString("SelectGroupBoxItem%1").arg(i));
        choices_->addButton(radio, i);
        groupLayout->addWidget(radio);
    }
    choices_->button(0)->setChecked(true);
    layout->addWidget(group, 1);
    auto* ok = new QPushButton("&OK", this);
    ok->setObjectName("OkButton");
    ok->setDefault(true);
    auto* cancel = new QPushButton("&Cancel", this);
    cancel->setObjectName("CancelButton");
    layout->addLayout(buttonRow({ok, cancel}));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    fixDesignedSize(this, QSize(297, 131));
}

int TSelectProjectForm::ItemIndex() const { return choices_->checkedId(); }

}  // namespace ts::ui
