#pragma once
// The export dialog: what to export (a data file, or the profile the program works on, which
// is only read), the folder to write into, and mbox files or one file per message. The caller
// opens the data file (asking its password) and runs the export.
#include <QDialog>
#include <string>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace ts::ui {

class Prompts;

class TExportForm : public QDialog {
    Q_OBJECT
public:
    explicit TExportForm(Prompts& prompts, QWidget* parent = nullptr);

    bool FromDataFile() const;
    std::string DataFileName() const;
    std::string FolderName() const;
    bool OneFilePerMessage() const;

    void FileButtonClick();
    void FolderButtonClick();
    // Accepts only a choice that names what it needs.
    void ExportButtonClick();

private:
    void sourceChanged();

    Prompts& prompts_;
    QRadioButton* dataFileRadio_;
    QLineEdit* fileEdit_;
    QPushButton* fileButton_;
    QRadioButton* profileRadio_;
    QLineEdit* folderEdit_;
    QPushButton* folderButton_;
    QCheckBox* emlCheck_;
    QPushButton* exportButton_;
    QPushButton* cancelButton_;
};

}  // namespace ts::ui
