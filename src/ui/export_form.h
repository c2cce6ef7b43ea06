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

class ExportForm : public QDialog {
    Q_OBJECT
public:
    explicit ExportForm(Prompts& prompts, QWidget* parent = nullptr);

    bool fromDataFile() const;
    std::string dataFileName() const;
    std::string folderName() const;
    bool oneFilePerMessage() const;

    void fileButtonClick();
    void folderButtonClick();
    // Accepts only a choice that names what it needs.
    void exportButtonClick();

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
