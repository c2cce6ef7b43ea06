#pragma once
// The restore dialog: choose a data file, see what it holds and whether it needs a
// password, and give that password. It reads the file's project into the attached project;
// the caller then restores DataFileName() with PasswordText().
#include <QDialog>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace ts {
class TtsBackupProject;
}

namespace ts::ui {

class Prompts;

class TRestoreForm : public QDialog {
    Q_OBJECT
public:
    static constexpr char kFilter[] = "Tessaly Data File(*.tsly_dat)|*.tsly_dat";
    static constexpr char kDefaultSuffix[] = "tsly_dat";

    explicit TRestoreForm(Prompts& prompts, QWidget* parent = nullptr);

    void SetProject(TtsBackupProject* project) { project_ = project; }
    TtsBackupProject* Project() const { return project_; }
    // The file last chosen with the browse button; empty until then.
    const std::string& DataFileName() const { return dataFileName_; }
    QString PasswordText() const;
    // How many times a data file was read (a password retry counts again).
    int FileReads() const { return fileReads_; }

    void FormShow();
    // Chooses a data file and reads it.
    void SpeedButton1Click();
    void RestoreButtonClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Reads the chosen file into the project; on EFileEncrypted asks the password once.
    void readDataFile(const std::string& file);
    void loadOnce(const std::string& file);
    void showItems();

    Prompts& prompts_;
    TtsBackupProject* project_ = nullptr;
    std::string dataFileName_;
    int fileReads_ = 0;

    QLineEdit* fileEdit_;
    QPushButton* browseButton_;
    QTreeWidget* itemsList_;
    QLabel* passwordLabel_;
    QLineEdit* passwordEdit_;
    QPushButton* restoreButton_;
    QPushButton* cancelButton_;
};

}  // namespace ts::ui
