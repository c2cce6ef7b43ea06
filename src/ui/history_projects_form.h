#pragma once
// Lists the project history and lets the user pick one project to open.
#include <QDialog>
#include <memory>
#include <string>
#include <vector>

#include "ui/core_calls.h"

class QPushButton;
class QTreeWidget;

namespace ts {
class TtsBackupProject;
class TtsRegProjects;
}

namespace ts::ui {

class Prompts;

class THistoryProjectsForm : public QDialog {
    Q_OBJECT
public:
    explicit THistoryProjectsForm(Prompts& prompts, QWidget* parent = nullptr);
    ~THistoryProjectsForm() override;

    void SetProjects(TtsRegProjects* projects) { projects_ = projects; }
    // Builds the list; a project file that cannot be read for another reason than a
    // missing file or a password passes its failure out.
    void FormShow();

    // After OK: the selected row's path, its mark, and the project read for it (the caller
    // takes it over; a second call gives nullptr). Row -1 when none is selected.
    int SelectedRow() const;
    std::string SelectedPath() const;
    RowMark SelectedMark() const;
    std::unique_ptr<TtsBackupProject> TakeSelectedProject();

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    Prompts& prompts_;
    TtsRegProjects* projects_ = nullptr;
    std::vector<std::unique_ptr<TtsBackupProject>> rowProjects_;
    QTreeWidget* list_;
    QPushButton* openButton_;
    QPushButton* cancelButton_;
};

}  // namespace ts::ui
