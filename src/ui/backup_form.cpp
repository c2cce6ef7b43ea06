#include "ui/backup_form.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "engine/project.h"
#include "engine/project_check.h"
#include "transfer/ftp/ftp_client.h"
#include "transfer/ftp/ftp_settings_check.h"
#include "ui/off_thread.h"
#include "ui/pictures.h"
#include "ui/prompts.h"
#include "ui/window_layout.h"

namespace ts::ui {

const QStringList TBackupForm::kItemCaptions = {"IE Settings", "Favorites", "Outlook Express Data",
                                                "Windows Address Book"};

namespace {

QLabel* namedLabel(const char* name, const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    return label;
}

QLineEdit* namedEdit(const char* name, QWidget* parent, bool secret = false) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    if (secret) edit->setEchoMode(QLineEdit::Password);
    return edit;
}

QPushButton* namedButton(const char* name, const QString& text, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    return button;
}

bool blank(const QLineEdit* edit) { return edit->text().trimmed().isEmpty(); }

std::string text(const QLineEdit* edit) { return edit->text().toStdString(); }

}  // namespace

TBackupForm::TBackupForm(Prompts& prompts, QWidget* parent)
    : QDialog(parent), prompts_(prompts), ftpClient_(std::make_shared<FtpClient>()) {
    setObjectName("BackupForm");
    setWindowTitle("Backup");
    QVBoxLayout* body = bannerAndBody(this, QMargins(5, 5, 5, 5));

    pages_ = new QTabWidget(this);
    pages_->setObjectName("Pages");
    body->addWidget(pages_, 1);

    // General page.
    auto* general = new QWidget;
    general->setObjectName("GeneralSheet");
    auto* generalLayout = new QVBoxLayout(general);
    generalLayout->setContentsMargins(6, 6, 6, 6);
    generalLayout->setSpacing(4);
    auto* nameRow = new QHBoxLayout;
    auto* nameLabel = new QLabel("Project &name:", general);
    projectNameEdit_ = namedEdit("ProjectNameEdit", general);
    nameLabel->setBuddy(projectNameEdit_);
    nameRow->addWidget(nameLabel);
    nameRow->addWidget(projectNameEdit_, 1);
    generalLayout->addLayout(nameRow);

    auto* source = new QGroupBox("Source:", general);
    source->setObjectName("SourceGroupBox");
    auto* sourceLayout = new QGridLayout(source);
    sourceLayout->setVerticalSpacing(4);
    sourceLayout->setContentsMargins(8, 6, 8, 8);
    sourceLayout->addWidget(new QLabel("Please check the boxes below:", source), 0, 0, 1, 2);
    itemsList_ = new QTreeWidget(source);
    itemsList_->setObjectName("BackupItemsListView");
    itemsList_->setAccessibleName("Items to back up");
    itemsList_->setHeaderLabels({"Item"});
    itemsList_->setColumnWidth(0, 250);
    itemsList_->setRootIsDecorated(false);
    itemsList_->setIconSize(QSize(16, 16));
    itemsList_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    for (int row = 0; row < kItemCaptions.size(); ++row) {
        auto* item = new QTreeWidgetItem(itemsList_, {kItemCaptions[row]});
        item->setIcon(0, itemIcon(row));
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(0, Qt::Checked);
    }
    // Room for the four rows and no more: the page is tall enough as it is.
    itemsList_->setFixedHeight(itemsList_->header()->sizeHint().height() + 4 * itemsList_->sizeHintForRow(0) +
                               2 * itemsList_->frameWidth() + 2);
    sourceLayout->addWidget(itemsList_, 1, 0, 3, 1);
    selectAllButton_ = namedButton("SelectAllButton", "&Select All", source);
    deselectAllButton_ = namedButton("DeselectAllButton", "&Deselect All", source);
    sourceLayout->addWidget(selectAllButton_, 1, 1);
    sourceLayout->addWidget(deselectAllButton_, 2, 1);
    sourceLayout->setColumnStretch(0, 1);
    generalLayout->addWidget(source);

    auto* dest = new QGroupBox("Destination:", general);
    dest->setObjectName("DestGroupBox");
    auto* destLayout = new QGridLayout(dest);
    destLayout->setVerticalSpacing(4);
    destLayout->setContentsMargins(8, 6, 8, 8);
    destLayout->setColumnMinimumWidth(0, 16);
    destLayout->setColumnStretch(2, 1);
    backupToFileButton_ = new QRadioButton("&Backup folder:", dest);
    backupToFileButton_->setObjectName("BackupToFileButton");
    backupToFileButton_->setChecked(true);
    destLayout->addWidget(backupToFileButton_, 0, 0, 1, 4);
    backupToFileLabel_ = namedLabel("BackupToFileLabel", "Please select a folde&r to backup:", dest);
    destLayout->addWidget(backupToFileLabel_, 1, 1, 1, 3);
    destFolderEdit_ = namedEdit("DestFolderEdit", dest);
    destLayout->addWidget(destFolderEdit_, 2, 1, 1, 2);
    selFolderButton_ = namedButton("SelFolderButton", "?", dest);
    selFolderButton_->setFixedWidth(28);
    selFolderButton_->setToolTip("Choose a folder");
    selFolderButton_->setAccessibleName("Browse for folder");
    backupToFileLabel_->setBuddy(destFolderEdit_);
    destLayout->addWidget(selFolderButton_, 2, 3);
    backupToFtpButton_ = new QRadioButton("Backup to your &FTP server:", dest);
    backupToFtpButton_->setObjectName("BackupToFTPServerButton");
    destLayout->addWidget(backupToFtpButton_, 3, 0, 1, 4);
    hostLabel_ = namedLabel("HostLabel", "&Host:", dest);
    hostEdit_ = namedEdit("HostEdit", dest);
    folderLabel_ = namedLabel("FolderLabel", "Fo&lder:", dest);
    folderEdit_ = namedEdit("FolderEdit", dest);
    userNameLabel_ = namedLabel("UsernameLabel", "&Username:", dest);
    userNameEdit_ = namedEdit("UserNameEdit", dest);
    passwordLabel_ = namedLabel("PasswordLabel", "Pass&word:", dest);
    passwordEdit_ = namedEdit("PasswordEdit", dest, true);
    // Three password fields in one dialog: a screen reader tells them apart by name.
    passwordEdit_->setAccessibleName("FTP password");
    int row = 4;
    for (auto [label, edit] : {std::pair{hostLabel_, hostEdit_}, std::pair{folderLabel_, folderEdit_},
                               std::pair{userNameLabel_, userNameEdit_}, std::pair{passwordLabel_, passwordEdit_}}) {
        label->setBuddy(edit);
        destLayout->addWidget(label, row, 1);
        destLayout->addWidget(edit, row, 2, 1, 2);
        ++row;
    }
    testButton_ = namedButton("TestButton", "&Test FTP Settings", dest);
    auto* testRow = new QHBoxLayout;
    testRow->addStretch(1);
    testRow->addWidget(testButton_);
    destLayout->addLayout(testRow, row, 1, 1, 3);
    generalLayout->addWidget(dest);
    pages_->addTab(general, "General");

    // Security page.
    auto* security = new QWidget;
    security->setObjectName("SecuritySheet");
    auto* securityLayout = new QVBoxLayout(security);
    auto* encrypt = new QGroupBox("Encrypt Information:", security);
    encrypt->setObjectName("EncryptGroupBox");
    auto* encryptLayout = new QVBoxLayout(encrypt);
    enableEncryptCheckBox_ = new QCheckBox("Enable &password", encrypt);
    enableEncryptCheckBox_->setObjectName("EnableEncryptCheckBox");
    enterPasswordLabel_ = namedLabel("EnterPasswordLabel", "&Enter your password twice below:", encrypt);
    enPasswordEdit_ = namedEdit("EnPasswordEdit", encrypt, true);
    enPassword2Edit_ = namedEdit("EnPassword2Edit", encrypt, true);
    enterPasswordLabel_->setBuddy(enPasswordEdit_);
    enPasswordEdit_->setAccessibleName("Archive password");
    enPassword2Edit_->setAccessibleName("Archive password, again");
    for (QWidget* w : std::initializer_list<QWidget*>{enableEncryptCheckBox_, enterPasswordLabel_, enPasswordEdit_,
                                                      enPassword2Edit_})
        encryptLayout->addWidget(w);
    enterPasswordLabel_->setEnabled(false);
    enPasswordEdit_->setEnabled(false);
    enPassword2Edit_->setEnabled(false);
    securityLayout->addWidget(encrypt);
    auto* compression = new QGroupBox("Compression:", security);
    compression->setObjectName("CompressionGroupBox");
    auto* compressionLayout = new QHBoxLayout(compression);
    auto* levelLabel = new QLabel("&Level:", compression);
    compressionLevelComboBox_ = new QComboBox(compression);
    compressionLevelComboBox_->setObjectName("CompressionLevelComboBox");
    compressionLevelComboBox_->addItems({"None", "Fastest", "Default", "Max"});
    compressionLevelComboBox_->setEditable(false);
    levelLabel->setBuddy(compressionLevelComboBox_);
    compressionLayout->addWidget(levelLabel);
    compressionLayout->addWidget(compressionLevelComboBox_);
    compressionLayout->addStretch(1);
    securityLayout->addWidget(compression);
    securityLayout->addStretch(1);
    pages_->addTab(security, "Security && Compression");

    okButton_ = namedButton("OkButton", "&OK", this);
    okButton_->setDefault(true);
    cancelButton_ = namedButton("CancelButton", "&Cancel", this);
    auto* buttons = buttonRow({okButton_, cancelButton_});
    buttons->setContentsMargins(5, 4, 5, 5);
    addBelowBody(this, buttons);

    setTabOrder(pages_, projectNameEdit_);
    QWidget* order[] = {projectNameEdit_, itemsList_, selectAllButton_, deselectAllButton_, backupToFileButton_,
                        destFolderEdit_, selFolderButton_, backupToFtpButton_, hostEdit_, folderEdit_,
                        userNameEdit_, passwordEdit_, testButton_, enableEncryptCheckBox_, enPasswordEdit_,
                        enPassword2Edit_, compressionLevelComboBox_, okButton_, cancelButton_};
    for (size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);

    connect(okButton_, &QPushButton::clicked, this, &TBackupForm::OkButtonClick);
    connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);
    connect(selectAllButton_, &QPushButton::clicked, this, &TBackupForm::SelectAllButtonClick);
    connect(deselectAllButton_, &QPushButton::clicked, this, &TBackupForm::DeselectAllButtonClick);
    connect(selFolderButton_, &QPushButton::clicked, this, &TBackupForm::SelFolderButtonClick);
    connect(testButton_, &QPushButton::clicked, this, &TBackupForm::TestButtonClick);
    // Toggled, not clicked: the enabled states follow the ticks also when LoadFromProject sets them.
    connect(backupToFileButton_, &QRadioButton::toggled, this, [this](bool on) { if (on) BackupToFileButtonClick(); });
    connect(backupToFtpButton_, &QRadioButton::toggled, this, [this](bool on) { if (on) BackupToFTPServerButtonClick(); });
    connect(enableEncryptCheckBox_, &QCheckBox::toggled, this, &TBackupForm::EnableEncryptCheckBoxClick);

    EnableFolderControls(true);
    EnableFTPControls(false);
    compressionLevelComboBox_->setCurrentIndex(2);
    fixDesignedSize(this, QSize(457, 556));
}

TBackupForm::~TBackupForm() {
    // Makes a connect under way fail at once instead of waiting out its time-out: the test
    // then ends soon, and nothing waits for its result any more.
    if (ftpTestRunning_) ftpClient_->close();
}

void TBackupForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) FormShow();
}

void TBackupForm::keyPressEvent(QKeyEvent* event) {
    if (isEscape(event)) return;  // Cancel is not bound to Esc here
    QDialog::keyPressEvent(event);
}

void TBackupForm::FormShow() {
    pages_->setCurrentIndex(0);
    SelectAllButtonClick();
    EnableFolderControls(true);
    EnableFTPControls(false);
    compressionLevelComboBox_->setCurrentIndex(2);
    LoadFromProject();
    projectNameEdit_->setFocus();
}

void TBackupForm::LoadFromProject() {
    if (!project_) return;
    projectNameEdit_->setText(QString::fromStdString(project_->Name()));
    bool anySelected = false;
    for (const TtsBPSourceItem* item : project_->Source().ItemList()) anySelected = anySelected || item->Selected();
    if (anySelected) {
        for (int row = 0; row < itemsList_->topLevelItemCount(); ++row) {
            QTreeWidgetItem* rowItem = itemsList_->topLevelItem(row);
            bool selected = false;
            for (const TtsBPSourceItem* item : project_->Source().ItemList())
                if (item->Selected() && rowItem->text(0).compare(QString::fromStdString(item->Caption()),
                                                                 Qt::CaseInsensitive) == 0)
                    selected = true;
            rowItem->setCheckState(0, selected ? Qt::Checked : Qt::Unchecked);
        }
    } else {
        SelectAllButtonClick();
    }
    const TtsBPDestination& dest = project_->Destination();
    if (dest.Kind() == TtsBPDestination::kKindLocalFolder) backupToFileButton_->setChecked(true);
    if (dest.Kind() == TtsBPDestination::kKindFtp) backupToFtpButton_->setChecked(true);
    destFolderEdit_->setText(QString::fromStdString(dest.LocalFolder()));
    hostEdit_->setText(QString::fromStdString(dest.Host()));
    folderEdit_->setText(QString::fromStdString(dest.RemoteFolder()));
    userNameEdit_->setText(QString::fromStdString(dest.UserName()));
    passwordEdit_->setText(QString::fromStdString(dest.FtpPassword()));
    compressionLevelComboBox_->setCurrentIndex(project_->CompressionLevel());
    enableEncryptCheckBox_->setChecked(project_->Encrypt());
    EnableEncryptCheckBoxClick();
    enPasswordEdit_->setText(QString::fromStdString(project_->Password()));
    enPassword2Edit_->setText(QString::fromStdString(project_->Password()));
}

ProjectSettings TBackupForm::typedSettings() const {
    bool anyItemSelected = false;
    for (int row = 0; row < itemsList_->topLevelItemCount(); ++row)
        anyItemSelected = anyItemSelected || itemsList_->topLevelItem(row)->checkState(0) == Qt::Checked;
    const uint8_t kind = backupToFtpButton_->isChecked()    ? TtsBPDestination::kKindFtp
                         : backupToFileButton_->isChecked() ? TtsBPDestination::kKindLocalFolder
                         : project_                         ? project_->Destination().Kind()
                                                            : TtsBPDestination::kKindLocalFolder;
    return ProjectSettings{.name = text(projectNameEdit_),
                           .anyItemSelected = anyItemSelected,
                           .destinationKind = kind,
                           .localFolder = text(destFolderEdit_),
                           .host = text(hostEdit_),
                           .remoteFolder = text(folderEdit_),
                           .userName = text(userNameEdit_),
                           .ftpPassword = text(passwordEdit_),
                           .encrypt = enableEncryptCheckBox_->isChecked(),
                           .password = text(enPasswordEdit_)};
}

bool TBackupForm::SaveToProject() {
    if (!project_) return false;
    const ProjectSettings typed = typedSettings();
    if (!checkProjectStorable(typed).empty()) return false;
    project_->SetName(typed.name);
    for (int row = 0; row < itemsList_->topLevelItemCount(); ++row) {
        QTreeWidgetItem* rowItem = itemsList_->topLevelItem(row);
        if (TtsBPSourceItem* item = project_->Source().FindItem(rowItem->text(0).toStdString()))
            item->SetSelected(rowItem->checkState(0) == Qt::Checked);
    }
    TtsBPDestination& dest = project_->Destination();
    dest.SetKind(typed.destinationKind);
    dest.SetLocalFolder(typed.localFolder);
    dest.SetHost(typed.host);
    dest.SetRemoteFolder(typed.remoteFolder);
    dest.SetUserName(typed.userName);
    dest.SetFtpPassword(typed.ftpPassword);
    project_->SetPassword(typed.password);
    project_->SetEncrypt(typed.encrypt);
    project_->SetCompressionLevel(static_cast<uint8_t>(compressionLevelComboBox_->currentIndex()));
    return true;
}

bool TBackupForm::ValidateInput() {
    // The core's one check, on what was typed: the run and "tessaly-cli new" refuse the same.
    const std::vector<Failure> failures = checkProject(typedSettings(), text(enPassword2Edit_));
    if (failures.empty()) return true;
    const QString lineEnd = "\r\n";
    QString listed = "Error found!" + lineEnd;
    for (const Failure& failure : failures) listed += QString::fromStdString(failure.text) + lineEnd;
    prompts_.error(this, listed);
    return false;
}

void TBackupForm::OkButtonClick() {
    if (!ValidateInput()) return;
    SaveToProject();
    accept();
}

void TBackupForm::BackupToFileButtonClick() {
    EnableFolderControls(true);
    EnableFTPControls(false);
}

void TBackupForm::BackupToFTPServerButtonClick() {
    EnableFolderControls(false);
    EnableFTPControls(true);
    if (blank(folderEdit_)) folderEdit_->setText("/");
}

void TBackupForm::EnableFolderControls(bool enabled) {
    for (QWidget* w : std::initializer_list<QWidget*>{backupToFileLabel_, destFolderEdit_, selFolderButton_})
        w->setEnabled(enabled);
}

void TBackupForm::EnableFTPControls(bool enabled) {
    for (QWidget* w : std::initializer_list<QWidget*>{hostEdit_, folderEdit_, userNameEdit_, passwordEdit_, hostLabel_,
                                                      folderLabel_, userNameLabel_, passwordLabel_})
        w->setEnabled(enabled);
    testButton_->setEnabled(enabled && !ftpTestRunning_);
}

void TBackupForm::SelectAllButtonClick() {
    for (int row = 0; row < itemsList_->topLevelItemCount(); ++row)
        itemsList_->topLevelItem(row)->setCheckState(0, Qt::Checked);
}

void TBackupForm::DeselectAllButtonClick() {
    for (int row = 0; row < itemsList_->topLevelItemCount(); ++row)
        itemsList_->topLevelItem(row)->setCheckState(0, Qt::Unchecked);
}

void TBackupForm::EnableEncryptCheckBoxClick() {
    const bool on = enableEncryptCheckBox_->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*>{enterPasswordLabel_, enPasswordEdit_, enPassword2Edit_})
        w->setEnabled(on);
}

void TBackupForm::SelFolderButtonClick() {
    if (std::optional<QString> folder = prompts_.chooseFolder(this, "Please select a folder"))
        destFolderEdit_->setText(*folder);
}

void TBackupForm::TestButtonClick() {
    if (ftpTestRunning_) return;
    // Nothing to connect to: said at once, without a connection attempt and its wait.
    if (blank(hostEdit_)) {
        prompts_.error(this, "FTP Host must be entered!");
        hostEdit_->setFocus();
        return;
    }
    ftpTestRunning_ = true;
    testButton_->setEnabled(false);
    runThenCallback(
        this,
        [client = ftpClient_, host = text(hostEdit_), user = text(userNameEdit_), password = text(passwordEdit_)] {
            try {
                return checkFtpSettings(*client, host, user, password);
            } catch (const std::exception& error) {
                FtpSettingsCheck check;
                check.message = kFtpTestFailedText;
                check.errorText = error.what();
                return check;
            }
        },
        [this](const FtpSettingsCheck& check) { ftpTestDone(check); });
}

void TBackupForm::ftpTestDone(const FtpSettingsCheck& check) {
    ftpTestRunning_ = false;
    testButton_->setEnabled(hostEdit_->isEnabled());
    if (check.ok) {
        prompts_.information(this, QString::fromStdString(check.message));
    } else {
        // One box: what failed, then why, in the server's or the system's own words.
        QString text = QString::fromStdString(check.message);
        if (!check.errorText.empty()) text += "\n\n" + QString::fromStdString(check.errorText);
        prompts_.error(this, text);
    }
}

}  // namespace ts::ui
