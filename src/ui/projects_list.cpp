#include "ui/projects_list.h"

#include <QHeaderView>
#include <QTreeWidget>

#include "engine/project.h"
#include "ui/pictures.h"

namespace ts::ui {

namespace {
constexpr int kMarkRole = Qt::UserRole + 1;
// The path as the history holds it, also when it is not valid UTF-8.
constexpr int kPathRole = Qt::UserRole + 2;
}

QTreeWidget* makeProjectsList(QWidget* parent) {
    auto* list = new QTreeWidget(parent);
    list->setObjectName("ProjectsListView");
    list->setAccessibleName("Projects");
    list->setHeaderLabels({"Project Name", "Project File"});
    list->setColumnWidth(0, 100);
    list->setColumnWidth(1, 300);
    list->setRootIsDecorated(false);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setSortingEnabled(false);
    list->header()->setSectionsClickable(false);
    list->setIconSize(QSize(32, 32));
    return list;
}

QTreeWidgetItem* appendProjectRow(QTreeWidget* list, const std::string& path, TtsBackupProject& project,
                                  const QString& encryptedCaption) {
    std::string damage;
    RowMark mark = readProjectEntry(path, project, &damage);
    QString caption = mark == RowMark::Invalid     ? QString("[Invalid]")
                      : mark == RowMark::Encrypted ? encryptedCaption
                      : mark == RowMark::Damaged   ? QString("[Damaged]")
                                                   : QString::fromStdString(project.Name());
    auto* row = new QTreeWidgetItem(list, {caption, QString::fromStdString(path)});
    row->setIcon(0, rowMarkIcon(mark));
    row->setData(0, kMarkRole, static_cast<int>(mark));
    row->setData(1, kPathRole, QByteArray::fromStdString(path));
    row->setToolTip(1, QString::fromStdString(path));
    // Why it is damaged, file named, where a pointer or a screen reader finds it.
    if (!damage.empty()) {
        row->setToolTip(0, QString::fromStdString(damage));
        row->setData(0, Qt::AccessibleDescriptionRole, QString::fromStdString(damage));
    }
    // The caption beside a 32-pixel mark needs more than the column's designed 100 pixels.
    int needed = list->iconSize().width() + list->fontMetrics().horizontalAdvance(caption) + 24;
    if (needed > list->columnWidth(0)) list->setColumnWidth(0, needed);
    return row;
}

RowMark rowMark(const QTreeWidgetItem* row) { return static_cast<RowMark>(row->data(0, kMarkRole).toInt()); }

std::string rowPath(const QTreeWidgetItem* row) { return row->data(1, kPathRole).toByteArray().toStdString(); }

}  // namespace ts::ui
