#pragma once
// Lists the project history and lets the user add project files to it, remove entries and
// remove every entry whose file is gone. Only links change; no project file is touched.
#include <QDialog>

class QPushButton;
class QTreeWidget;

namespace ts {
class TtsRegProjects;
}

namespace ts::ui {

class Prompts;

class TProjectManagerForm : public QDialog {
    Q_OBJECT
public:
    static constexpr char kFilter[] = "Tessaly Project File(*.tsly)|*.tsly";
    static constexpr char kDefaultSuffix[] = "tsly";

    explicit TProjectManagerForm(Prompts& prompts, QWidget* parent = nullptr);

    void SetProjects(TtsRegProjects* projects) { projects_ = projects; }
    void FormShow();
    void AddButtonClick();
    // Removes the selected row and the history entry at the same position, which stays
    // right when a path stands in the history twice.
    void DeleteButtonClick();
    void DeleteInvalidButtonClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    Prompts& prompts_;
    TtsRegProjects* projects_ = nullptr;
    QTreeWidget* list_;
    QPushButton* addButton_;
    QPushButton* deleteButton_;
    QPushButton* deleteInvalidButton_;
};

}  // namespace ts::ui
