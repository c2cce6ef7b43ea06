#include "ui/project_manager_form.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMetaObject>
#include <QPushButton>
#include <QShowEvent>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "engine/project.h"
#include "settings/reg_env_data.h"
#include "ui/projects_list.h"
#include "ui/prompts.h"
#include "ui/window_layout.h"

namespace ts::ui {

TProjectManagerForm::TProjectManagerForm(Prompts& prompts, QWidget* parent) : QDialog(parent), prompts_(prompts) {
    setObjectName("ProjectManagerForm");
    setWindowTitle("Project Manager");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(5, 5, 5, 5);
    auto* group = new QGroupBox("Projects:", this);
    auto* groupLayout = new QVBoxLayout(group);
    groupLayout->setSpacing(4);
    groupLayout->addWidget(noticeLabel("Here are links of your project, you can add link record from your", group));
    groupLayout->addWidget(noticeLabel("storage devices or remove current selected project link.", group));
    list_ = makeProjectsList(group);
    groupLayout->addWidget(list_, 1);
    addButton_ = new QPushButton("&Add Project", group);
    addButton_->setObjectName("AddButton");
    deleteButton_ = new QPushButton("&Delete Project", group);
    deleteButton_->setObjectName("DeleteButton");
    deleteInvalidButton_ = new QPushButton("D&elete Invalid Projects", group);
    deleteInvalidButton_->setObjectName("DeleteInvalidButton");
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(addButton_);
    buttons->addWidget(deleteButton_);
    buttons->addWidget(deleteInvalidButton_);
    buttons->addStretch(1);
    groupLayout->addLayout(buttons);
    layout->addWidget(group);
    connect(addButton_, &QPushButton::clicked, this, &TProjectManagerForm::AddButtonClick);
    connect(deleteButton_, &QPushButton::clicked, this, &TProjectManagerForm::DeleteButtonClick);
    connect(deleteInvalidButton_, &QPushButton::clicked, this, &TProjectManagerForm::DeleteInvalidButtonClick);
    fixDesignedSize(this, QSize(459, 381));
}

void TProjectManagerForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) return;
    try {
        FormShow();
    } catch (const std::exception& error) {
        prompts_.generalError(this, QString::fromUtf8(error.what()));
        QMetaObject::invokeMethod(this, &QDialog::reject, Qt::QueuedConnection);
    }
}

void TProjectManagerForm::FormShow() {
    list_->clear();
    if (!projects_) return;
    for (const std::string& path : projects_->ProjectFiles) {
        TtsBackupProject project;
        appendProjectRow(list_, path, project, "Encrypted");
    }
}

void TProjectManagerForm::AddButtonClick() {
    std::optional<QString> chosen = prompts_.openFile(this, kFilter, kDefaultSuffix);
    if (!chosen) return;
    const std::string path = chosen->toStdString();
    if (projects_) projects_->Add(path);
    TtsBackupProject project;
    try {
        list_->setCurrentItem(appendProjectRow(list_, path, project, "Encrypted"));
    } catch (const std::exception& error) {
        // An unreadable file is reported and not kept: an entry without its row would put
        // the rows off their entries.
        prompts_.generalError(this, QString::fromUtf8(error.what()));
        if (projects_) projects_->Delete(static_cast<int>(projects_->ProjectFiles.size()) - 1);
    }
}

void TProjectManagerForm::DeleteButtonClick() {
    QList<QTreeWidgetItem*> selected = list_->selectedItems();
    if (selected.isEmpty()) return;
    int row = list_->indexOfTopLevelItem(selected.front());
    if (projects_) projects_->Delete(row);
    delete list_->takeTopLevelItem(row);
}

void TProjectManagerForm::DeleteInvalidButtonClick() {
    if (!prompts_.question(this, "Do you want to delete all invalid project file link(s)?")) return;
    for (int row = list_->topLevelItemCount() - 1; row >= 0; --row) {
        if (rowMark(list_->topLevelItem(row)) != RowMark::Invalid) continue;
        if (projects_) projects_->Delete(row);
        delete list_->takeTopLevelItem(row);
    }
}

}  // namespace ts::ui
