#pragma once
// Finding a dialog's controls by object name, as a person finds them by caption.
#include <QTest>
#include <QTreeWidget>
#include <QWidget>
#include <stdexcept>
#include <string>

namespace ts::test {

template <typename T>
T* control(const QWidget& window, const char* name) {
    T* found = window.findChild<T*>(name);
    if (!found) throw std::runtime_error(std::string("no control named ") + name);
    return found;
}

inline QStringList checkedRows(const QTreeWidget* list) {
    QStringList rows;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        if (list->topLevelItem(i)->checkState(0) == Qt::Checked) rows << list->topLevelItem(i)->text(0);
    return rows;
}

}  // namespace ts::test
