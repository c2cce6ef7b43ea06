#pragma once
// Lists the project history and lets the user pick one project to open.
#include <QDialog>
#include <string>

#include "ui/core_calls.h"

class QPushButton;
class QTreeWidget;

namespace ts {
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

    // After OK: the selected row and its path. Row -1 when none is selected.
    int SelectedRow() const;
    std::string SelectedPath() const;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    Prompts& prompts_;
    TtsRegProjects* projects_ = nullptr;
    QTreeWidget* list_;
    QPushButton* openButton_;
    QPushButton* cancelButton_;
};

}  // namespace ts::ui
