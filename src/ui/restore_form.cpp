#include "ui/restore_form.h"

#include <QGroupBox>
#include <QKeyEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "engine/failure.h"
#include "engine/project.h"
#include "platform/exception.h"
#include "ui/password_question.h"
#include "ui/pictures.h"
#include "ui/prompts.h"
#include "ui/window_layout.h"

namespace ts::ui {

TRestoreForm::TRestoreForm(Prompts& prompts, QWidget* parent) : QDialog(parent), prompts_(prompts) {
    setObjectName("RestoreForm");
    setWindowTitle("Restore");
    QVBoxLayout* body = bannerAndBody(this, QMargins(10, 5, 10, 10));

    auto* fileGroup = new QGroupBox("Backup file:", this);
    fileGroup->setObjectName("BackupFileGroupBox");
    auto* fileLayout = new QGridLayout(fileGroup);
    auto* fileLabel = new QLabel("Please select your backup &file below:", fileGroup);
    fileLayout->addWidget(fileLabel, 0, 0, 1, 2);
    fileEdit_ = new QLineEdit(fileGroup);
    fileEdit_->setObjectName("FileEdit");
    fileLabel->setBuddy(fileEdit_);
    browseButton_ = new QPushButton("?", fileGroup);
    browseButton_->setObjectName("SpeedButton1");
    browseButton_->setFixedWidth(28);
    browseButton_->setToolTip("Choose a backup data file");
    browseButton_->setAccessibleName("Browse for backup file");
    fileLayout->addWidget(fileEdit_, 1, 0);
    fileLayout->addWidget(browseButton_, 1, 1);
    body->addWidget(fileGroup);

    auto* infoGroup = new QGroupBox("File information:", this);
    infoGroup->setObjectName("FileInfoGroupBox");
    auto* infoLayout = new QGridLayout(infoGroup);
    infoLayout->addWidget(new QLabel("This archive included:", infoGroup), 0, 0, 1, 2);
    itemsList_ = new QTreeWidget(infoGroup);
    itemsList_->setObjectName("ItemsListView");
    itemsList_->setAccessibleName("Items in the backup file");
    itemsList_->setHeaderLabels({"Item"});
    itemsList_->setColumnWidth(0, 400);
    itemsList_->setRootIsDecorated(false);
    itemsList_->setEnabled(false);  // shows what the file holds; takes no input
    infoLayout->addWidget(itemsList_, 1, 0, 1, 2);
    passwordLabel_ = new QLabel("Archive &password:", infoGroup);
    passwordLabel_->setObjectName("PasswordLabel");
    passwordEdit_ = new QLineEdit(infoGroup);
    passwordEdit_->setObjectName("PasswordEdit");
    passwordEdit_->setEchoMode(QLineEdit::Password);
    passwordLabel_->setBuddy(passwordEdit_);
    passwordLabel_->setEnabled(false);
    passwordEdit_->setEnabled(false);
    infoLayout->addWidget(passwordLabel_, 2, 0);
    infoLayout->addWidget(passwordEdit_, 2, 1);
    infoLayout->setColumnStretch(1, 1);
    body->addWidget(infoGroup, 1);

    restoreButton_ = new QPushButton("&Restore", this);
    restoreButton_->setObjectName("RestoreButton");
    restoreButton_->setDefault(true);
    restoreButton_->setEnabled(false);  // nothing to restore until a data file was read
    cancelButton_ = new QPushButton("&Cancel", this);
    cancelButton_->setObjectName("CancelButton");
    auto* buttons = buttonRow({restoreButton_, cancelButton_});
    buttons->setContentsMargins(10, 8, 10, 10);
    addBelowBody(this, buttons);

    setTabOrder(fileEdit_, browseButton_);
    setTabOrder(browseButton_, passwordEdit_);
    setTabOrder(passwordEdit_, restoreButton_);
    setTabOrder(restoreButton_, cancelButton_);
    connect(browseButton_, &QPushButton::clicked, this, &TRestoreForm::SpeedButton1Click);
    connect(fileEdit_, &QLineEdit::editingFinished, this, &TRestoreForm::FileEditDone);
    fileEdit_->installEventFilter(this);
    connect(restoreButton_, &QPushButton::clicked, this, &TRestoreForm::RestoreButtonClick);
    connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);
    fixDesignedSize(this, QSize(457, 461));
}

void TRestoreForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) FormShow();
}

void TRestoreForm::FormShow() { fileEdit_->setFocus(); }

bool TRestoreForm::eventFilter(QObject* watched, QEvent* event) {
    // Enter in the file field reads the typed path; it must not also press Restore for a
    // file the user has not seen yet.
    if (watched == fileEdit_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            FileEditDone();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TRestoreForm::SpeedButton1Click() {
    std::optional<QString> chosen = prompts_.openFile(this, kFilter, kDefaultSuffix);
    if (!chosen || *chosen == fileEdit_->text()) return;
    fileEdit_->setText(*chosen);
    useDataFile(*chosen);
}

void TRestoreForm::OpenDataFile(const QString& path) {
    fileEdit_->setText(path);
    useDataFile(path);
}

void TRestoreForm::FileEditDone() {
    const QString typed = fileEdit_->text().trimmed();
    if (typed.isEmpty()) return;
    if (typed != fileEdit_->text()) fileEdit_->setText(typed);  // a pasted line's blanks
    useDataFile(typed);
}

void TRestoreForm::useDataFile(const QString& path) {
    // The same file twice in a row is read once, however it was given.
    if (!profile_ || path == lastPathRead_) return;
    lastPathRead_ = path;
    dataFileName_ = path.toStdString();
    // The file opened before is let go, whatever becomes of this one.
    opened_.reset();
    readDataFile(dataFileName_);
}

void TRestoreForm::setDataFileRead(bool read, bool encrypted) {
    restoreButton_->setEnabled(read);
    if (!read) dataFileName_.clear();
    passwordLabel_->setEnabled(encrypted);
    passwordEdit_->setEnabled(encrypted);
}

void TRestoreForm::sayUnreadable(const std::string& file, const std::exception& error) {
    // A file that cannot be opened or is no data file is said in the core's words, which name
    // it; one whose records do not hold is said to be unreadable.
    const auto* failure = dynamic_cast<const FlowFailure*>(&error);
    if (failure && failure->failure().kind == FailureKind::DamagedDataFile) {
        prompts_.error(this, QString::fromStdString("Cannot read \"" + file + "\": " + error.what()));
    } else {
        prompts_.error(this, QString::fromStdString(error.what()));
    }
    showItems(nullptr);
    setDataFileRead(false, false);
}

void TRestoreForm::readDataFile(const std::string& file) {
    // Only a wrong or missing password is worth a password question; a file that is not a
    // data file, or cannot be read, is said so.
    DialogPasswordQuestion question(prompts_, this);
    try {
        opened_ = openDataFile(file, *profile_, question, 1);
    } catch (const FlowFailure& failure) {
        if (failure.failure().kind != FailureKind::WrongPassword) {
            sayUnreadable(file, failure);
            return;
        }
        prompts_.error(this, kInvalidPasswordText);
    } catch (const std::exception& error) {
        sayUnreadable(file, error);
        return;
    }
    if (opened_) {
        const bool encrypted = opened_->summary.encrypted;
        if (encrypted) passwordEdit_->setText(QString::fromStdString(opened_->project->Password()));
        setDataFileRead(true, encrypted);
        showItems(opened_->project.get());
        return;
    }
    // An encrypted file whose password is not known yet counts as read: Restore asks for
    // the password and checks it.
    showStoredItems(file);
}

void TRestoreForm::showStoredItems(const std::string& file) {
    // The item records come before anything encrypted: they are read without the password,
    // which the next section refuses.
    TtsBackupProject stored(profile_);
    try {
        stored.LoadFromDataFile(file);
    } catch (const EFileEncrypted&) {
    } catch (const std::exception& error) {
        sayUnreadable(file, error);
        return;
    }
    setDataFileRead(true, true);
    showItems(&stored);
}

void TRestoreForm::showItems(const TtsBackupProject* project) {
    itemsList_->clear();
    if (!project) return;
    for (const TtsBPSourceItem* item : project->Source().ItemList()) {
        QString caption = QString::fromStdString(item->Caption());
        auto* row = new QTreeWidgetItem(itemsList_, {caption});
        row->setIcon(0, itemIconForCaption(caption));
        row->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        row->setCheckState(0, item->Selected() ? Qt::Checked : Qt::Unchecked);
    }
}

bool TRestoreForm::openWithTypedPassword() {
    DialogPasswordQuestion typed(prompts_, this, kInvalidPasswordText, passwordEdit_->text().toStdString());
    try {
        std::optional<OpenedDataFile> opened = openDataFile(dataFileName_, *profile_, typed, 1);
        if (!opened) return false;
        opened_ = std::move(opened);
        return true;
    } catch (const FlowFailure& failure) {
        if (failure.failure().kind != FailureKind::WrongPassword) {
            prompts_.error(this, QString::fromStdString(failure.what()));
            return false;
        }
    } catch (const std::exception& error) {
        prompts_.error(this, QString::fromStdString(error.what()));
        return false;
    }
    prompts_.error(this, kInvalidPasswordText);
    passwordEdit_->selectAll();
    passwordEdit_->setFocus();
    return false;
}

void TRestoreForm::RestoreButtonClick() {
    if (!restoreButton_->isEnabled() || dataFileName_.empty()) return;
    if (passwordLabel_->isEnabled()) {
        const QString typed = passwordEdit_->text();
        if (typed.trimmed().isEmpty()) {
            prompts_.error(this, "Please enter your password for this archive!");
            return;
        }
        // A wrong password is found here, where it can be typed again, not after the
        // dialog has gone; the one the file was opened with is proven already.
        const bool proven = opened_ && opened_->project->Password() == typed.toStdString();
        if (!proven && !openWithTypedPassword()) return;
    }
    accept();
}

}  // namespace ts::ui
