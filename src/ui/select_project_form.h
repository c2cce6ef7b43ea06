#pragma once
// How a backup starts: a new project, one from the history, or a project file on disk.
#include <QDialog>

class QButtonGroup;

namespace ts::ui {

class TSelectProjectForm : public QDialog {
    Q_OBJECT
public:
    enum Choice { NewProject = 0, FromHistory = 1, FromFile = 2 };
    explicit TSelectProjectForm(QWidget* parent = nullptr);
    // The chosen index, read after OK.
    int ItemIndex() const;

private:
    QButtonGroup* choices_;
};

}  // namespace ts::ui
