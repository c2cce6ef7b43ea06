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
    // The file last chosen with the browse button or typed into the file field; empty until then.
    const std::string& DataFileName() const { return dataFileName_; }
    QString PasswordText() const;
    // How many times a data file was read (a password retry counts again).
    int FileReads() const { return fileReads_; }

    void FormShow();
    // Chooses a data file and reads it.
    void SpeedButton1Click();
    // Puts path into the file field and reads it, as a choice with the browse button does.
    void OpenDataFile(const QString& path);
    // Reads the path typed or pasted into the file field, as the browse button reads its
    // choice; run when the field is left or Enter is pressed in it.
    void FileEditDone();
    void RestoreButtonClick();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Takes path as the data file unless it is the one read last, and reads it.
    void useDataFile(const QString& path);
    // Reads the chosen file into the project; on EFileEncrypted asks the password once.
    void readDataFile(const std::string& file);
    void setDataFileRead(bool read);
    void loadOnce(const std::string& file);
    void showItems();

    Prompts& prompts_;
    TtsBackupProject* project_ = nullptr;
    std::string dataFileName_;
    QString lastPathRead_;
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
