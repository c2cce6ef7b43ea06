#pragma once
// The restore dialog: choose a data file, see what it holds and whether it needs a
// password, and give that password. It opens the file once and keeps it open, its password
// proven, for the caller's restore to go on reading (TakeOpenedFile).
#include <QDialog>
#include <optional>
#include <string>
#include <utility>

#include "engine/flows.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace ts::ui {

class Prompts;

class TRestoreForm : public QDialog {
    Q_OBJECT
public:
    static constexpr char kFilter[] = "Tessaly Data File(*.tsly_dat)|*.tsly_dat";
    static constexpr char kDefaultSuffix[] = "tsly_dat";

    explicit TRestoreForm(Prompts& prompts, QWidget* parent = nullptr);

    // The profile the file's project is read for; nothing is read until it is given.
    void SetProfile(Profile* profile) { profile_ = profile; }
    // The file last chosen with the browse button or typed into the file field; empty until then.
    const std::string& DataFileName() const { return dataFileName_; }
    // Once the dialog was accepted: the chosen file, open after its project, with its password
    // proven. Taken once.
    std::optional<OpenedDataFile> TakeOpenedFile() { return std::exchange(opened_, std::nullopt); }

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
    // Opens the chosen file, asking its password once when it is encrypted.
    void readDataFile(const std::string& file);
    // What an encrypted file holds while its password is not known: the stored items.
    void showStoredItems(const std::string& file);
    // Opens the file with the typed password; false (said so) when it does not open.
    bool openWithTypedPassword();
    void setDataFileRead(bool read, bool encrypted);
    // Says why file cannot be restored from, and leaves nothing to restore.
    void sayUnreadable(const std::string& file, const std::exception& error);
    void showItems(const TtsBackupProject* project);

    Prompts& prompts_;
    Profile* profile_ = nullptr;
    std::string dataFileName_;
    QString lastPathRead_;
    std::optional<OpenedDataFile> opened_;

    QLineEdit* fileEdit_;
    QPushButton* browseButton_;
    QTreeWidget* itemsList_;
    QLabel* passwordLabel_;
    QLineEdit* passwordEdit_;
    QPushButton* restoreButton_;
    QPushButton* cancelButton_;
};

}  // namespace ts::ui
