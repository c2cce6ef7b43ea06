#include "ui/export_form.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "ui/prompts.h"
#include "ui/restore_form.h"
#include "ui/window_layout.h"

namespace ts::ui {

namespace {
QPushButton* browseButton(const char* name, const QString& tip, QWidget* parent) {
    auto* button = new QPushButton("?", parent);
    button->setObjectName(name);
    button->setFixedWidth(28);
    button->setToolTip(tip);
    return button;
}
}  // namespace

ExportForm::ExportForm(Prompts& prompts, QWidget* parent) : QDialog(parent), prompts_(prompts) {
    setObjectName("ExportForm");
    setWindowTitle("Export");
    QVBoxLayout* body = bannerAndBody(this, QMargins(10, 5, 10, 10));

    auto* sourceGroup = new QGroupBox("Export from:", this);
    sourceGroup->setObjectName("SourceGroupBox");
    auto* sourceLayout = new QGridLayout(sourceGroup);
    dataFileRadio_ = new QRadioButton("A &backup file:", sourceGroup);
    dataFileRadio_->setObjectName("DataFileRadio");
    dataFileRadio_->setChecked(true);
    fileEdit_ = new QLineEdit(sourceGroup);
    fileEdit_->setObjectName("FileEdit");
    fileButton_ = browseButton("FileButton", "Choose a backup data file", sourceGroup);
    profileRadio_ = new QRadioButton("The &current profile (only read)", sourceGroup);
    profileRadio_->setObjectName("ProfileRadio");
    sourceLayout->addWidget(dataFileRadio_, 0, 0, 1, 2);
    sourceLayout->addWidget(fileEdit_, 1, 0);
    sourceLayout->addWidget(fileButton_, 1, 1);
    sourceLayout->addWidget(profileRadio_, 2, 0, 1, 2);
    body->addWidget(sourceGroup);

    auto* targetGroup = new QGroupBox("Export into:", this);
    targetGroup->setObjectName("TargetGroupBox");
    auto* targetLayout = new QGridLayout(targetGroup);
    targetLayout->addWidget(new QLabel("Folder (mail, contacts.vcf, bookmarks.html, accounts.txt):", targetGroup), 0, 0, 1, 2);
    folderEdit_ = new QLineEdit(targetGroup);
    folderEdit_->setObjectName("FolderEdit");
    folderButton_ = browseButton("FolderButton", "Choose the folder to export into", targetGroup);
    emlCheck_ = new QCheckBox("One .&eml file per message instead of one mbox file per folder", targetGroup);
    emlCheck_->setObjectName("EmlCheckBox");
    targetLayout->addWidget(folderEdit_, 1, 0);
    targetLayout->addWidget(folderButton_, 1, 1);
    targetLayout->addWidget(emlCheck_, 2, 0, 1, 2);
    body->addWidget(targetGroup);
    body->addWidget(noticeLabel("Passwords of the mail accounts are not exported.", this));
    body->addStretch(1);

    exportButton_ = new QPushButton("E&xport", this);
    exportButton_->setObjectName("ExportButton");
    exportButton_->setDefault(true);
    cancelButton_ = new QPushButton("&Cancel", this);
    cancelButton_->setObjectName("CancelButton");
    auto* buttons = buttonRow({exportButton_, cancelButton_});
    buttons->setContentsMargins(0, 8, 0, 0);
    body->addLayout(buttons);

    connect(dataFileRadio_, &QRadioButton::toggled, this, &ExportForm::sourceChanged);
    connect(fileButton_, &QPushButton::clicked, this, &ExportForm::fileButtonClick);
    connect(folderButton_, &QPushButton::clicked, this, &ExportForm::folderButtonClick);
    connect(exportButton_, &QPushButton::clicked, this, &ExportForm::exportButtonClick);
    connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);
    fixDesignedSize(this, QSize(457, 340));
}

bool ExportForm::fromDataFile() const { return dataFileRadio_->isChecked(); }
std::string ExportForm::dataFileName() const { return fileEdit_->text().trimmed().toStdString(); }
std::string ExportForm::folderName() const { return folderEdit_->text().trimmed().toStdString(); }
bool ExportForm::oneFilePerMessage() const { return emlCheck_->isChecked(); }

void ExportForm::sourceChanged() {
    fileEdit_->setEnabled(fromDataFile());
    fileButton_->setEnabled(fromDataFile());
}

void ExportForm::fileButtonClick() {
    if (auto chosen = prompts_.openFile(this, TRestoreForm::kFilter, TRestoreForm::kDefaultSuffix))
        fileEdit_->setText(*chosen);
}

void ExportForm::folderButtonClick() {
    if (auto chosen = prompts_.chooseFolder(this, "Choose the folder to export into:")) folderEdit_->setText(*chosen);
}

void ExportForm::exportButtonClick() {
    if (fromDataFile() && dataFileName().empty()) {
        prompts_.error(this, "Please choose the backup file to export!");
        return;
    }
    if (folderName().empty()) {
        prompts_.error(this, "Please choose the folder to export into!");
        return;
    }
    accept();
}

}  // namespace ts::ui
