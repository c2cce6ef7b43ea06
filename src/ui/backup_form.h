#pragma once
// The backup dialog: edits one project's name, items, destination, password and
// compression. After OK the project holds exactly what the controls show; after Cancel it
// is unchanged. The dialog neither creates nor frees projects.
#include <QDialog>
#include <QStringList>
#include <memory>

#include "engine/project_check.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QTreeWidget;

namespace ts {
class FtpClient;
struct FtpSettingsCheck;
class TtsBackupProject;
}

namespace ts::ui {

class Prompts;

class TBackupForm : public QDialog {
    Q_OBJECT
public:
    // The four rows, in row order.
    static const QStringList kItemCaptions;

    explicit TBackupForm(Prompts& prompts, QWidget* parent = nullptr);
    ~TBackupForm() override;

    void SetProject(TtsBackupProject* project) { project_ = project; }
    TtsBackupProject* Project() const { return project_; }

    // Prepares the controls and loads the project; run each time the dialog is shown.
    void FormShow();
    // A project with an item selected shows exactly its selection; one with none selected
    // (a new project) shows every row ticked.
    void LoadFromProject();
    // Checks what the project's fields can hold first, then stores every control; when a
    // value cannot be stored nothing is changed and false is returned.
    bool SaveToProject();
    // All checks; one error box listing every failure in check order.
    bool ValidateInput();
    void OkButtonClick();
    void BackupToFileButtonClick();
    void BackupToFTPServerButtonClick();
    void EnableFolderControls(bool enabled);
    void EnableFTPControls(bool enabled);
    void SelectAllButtonClick();
    void DeselectAllButtonClick();
    void EnableEncryptCheckBoxClick();
    void SelFolderButtonClick();
    // Runs the connection test off the interface thread; the button stays disabled until it
    // ends and the result box is shown.
    void TestButtonClick();

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // What the controls hold, for the checks and for SaveToProject.
    ProjectSettings typedSettings() const;
    void ftpTestDone(const FtpSettingsCheck& check);

    Prompts& prompts_;
    TtsBackupProject* project_ = nullptr;
    // Shared with a test under way, which may outlive the dialog.
    std::shared_ptr<FtpClient> ftpClient_;
    bool ftpTestRunning_ = false;

    QTabWidget* pages_;
    QLineEdit* projectNameEdit_;
    QTreeWidget* itemsList_;
    QPushButton* selectAllButton_;
    QPushButton* deselectAllButton_;
    QRadioButton* backupToFileButton_;
    QLabel* backupToFileLabel_;
    QLineEdit* destFolderEdit_;
    QPushButton* selFolderButton_;
    QRadioButton* backupToFtpButton_;
    QLabel* hostLabel_;
    QLineEdit* hostEdit_;
    QLabel* folderLabel_;
    QLineEdit* folderEdit_;
    QLabel* userNameLabel_;
    QLineEdit* userNameEdit_;
    QLabel* passwordLabel_;
    QLineEdit* passwordEdit_;
    QPushButton* testButton_;
    QCheckBox* enableEncryptCheckBox_;
    QLabel* enterPasswordLabel_;
    QLineEdit* enPasswordEdit_;
    QLineEdit* enPassword2Edit_;
    QComboBox* compressionLevelComboBox_;
    QPushButton* okButton_;
    QPushButton* cancelButton_;
};

}  // namespace ts::ui
