#pragma once
// The list of the project history shared by the history dialog and the project manager:
// one row per entry, its mark telling whether the file is there, readable or encrypted.
#include <QString>
#include <string>

#include "ui/core_calls.h"

class QTreeWidget;
class QTreeWidgetItem;
class QWidget;

namespace ts {
class TtsBackupProject;
}

namespace ts::ui {

QTreeWidget* makeProjectsList(QWidget* parent);
// Reads the entry at path into project and appends its row. encryptedCaption is "Encrypted"
// or "Encrypted!"; a file that cannot be read gets the row "[Damaged]", its reason as tip.
QTreeWidgetItem* appendProjectRow(QTreeWidget* list, const std::string& path, TtsBackupProject& project,
                                  const QString& encryptedCaption);
RowMark rowMark(const QTreeWidgetItem* row);
std::string rowPath(const QTreeWidgetItem* row);

}  // namespace ts::ui
