#include "ui/history_projects_form.h"

#include <QGroupBox>
#include <QKeyEvent>
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

THistoryProjectsForm::THistoryProjectsForm(Prompts& prompts, QWidget* parent) : QDialog(parent), prompts_(prompts) {
    setObjectName("HistoryProjectsForm");
    setWindowTitle("Open history projects ...");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 10, 10, 10);
    auto* group = new QGroupBox("Projects:", this);
    auto* groupLayout = new QVBoxLayout(group);
    groupLayout->addWidget(noticeLabel("Please select a project below and click \"Ok\" button to continue ...", group));
    list_ = makeProjectsList(group);
    groupLayout->addWidget(list_, 1);
    openButton_ = new QPushButton("&Ok", group);
    openButton_->setObjectName("OpenButton");
    openButton_->setDefault(true);
    openButton_->setEnabled(false);  // nothing to open until a row is selected
    cancelButton_ = new QPushButton("&Cancel", group);
    cancelButton_->setObjectName("CancelButton");
    groupLayout->addLayout(buttonRow({openButton_, cancelButton_}));
    layout->addWidget(group);
    connect(openButton_, &QPushButton::clicked, this, [this] {
        if (SelectedRow() >= 0) accept();
    });
    connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);
    connect(list_, &QTreeWidget::itemSelectionChanged, this, [this] { openButton_->setEnabled(SelectedRow() >= 0); });
    connect(list_, &QTreeWidget::itemActivated, this, [this] {
        if (SelectedRow() >= 0) accept();
    });
    fixDesignedSize(this, QSize(459, 383));
}

THistoryProjectsForm::~THistoryProjectsForm() = default;

void THistoryProjectsForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) return;
    try {
        FormShow();
    } catch (const std::exception& error) {
        // The list cannot be built: say why and do not stay open.
        prompts_.generalError(this, QString::fromUtf8(error.what()));
        QMetaObject::invokeMethod(this, &QDialog::reject, Qt::QueuedConnection);
    }
}

void THistoryProjectsForm::keyPressEvent(QKeyEvent* event) {
    if (isEscape(event)) return;  // Cancel is not bound to Esc here
    QDialog::keyPressEvent(event);
}

void THistoryProjectsForm::FormShow() {
    list_->clear();
    openButton_->setEnabled(false);
    if (!projects_) return;
    for (const std::string& path : projects_->ProjectFiles) {
        TtsBackupProject project;
        appendProjectRow(list_, path, project, "Encrypted!");
    }
}

int THistoryProjectsForm::SelectedRow() const {
    QList<QTreeWidgetItem*> selected = list_->selectedItems();
    return selected.isEmpty() ? -1 : list_->indexOfTopLevelItem(selected.front());
}

std::string THistoryProjectsForm::SelectedPath() const {
    int row = SelectedRow();
    return row < 0 ? std::string() : rowPath(list_->topLevelItem(row));
}

}  // namespace ts::ui
