#pragma once
// Finding a dialog's controls by object name, as a person finds them by caption; counting
// the opens of a file from outside the program.
#include <QTest>
#include <QTreeWidget>
#include <QWidget>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstddef>
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

// The opens of one file by anyone since this was made, as the kernel reports them. The
// kernel folds an event into an identical one still unread, so reads and closes are watched
// too: every open of a data file reads its header at once, which keeps two opens apart.
class FileOpens {
public:
    explicit FileOpens(const std::string& path) : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        if (fd_ < 0 || inotify_add_watch(fd_, path.c_str(), IN_OPEN | IN_ACCESS | IN_CLOSE) < 0)
            throw std::runtime_error("cannot watch " + path);
    }
    ~FileOpens() { ::close(fd_); }
    FileOpens(const FileOpens&) = delete;
    FileOpens& operator=(const FileOpens&) = delete;

    int count() {
        alignas(inotify_event) char buffer[4096];
        for (ssize_t got; (got = ::read(fd_, buffer, sizeof buffer)) > 0;) {
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if (event->mask & IN_Q_OVERFLOW) throw std::runtime_error("inotify queue overflowed");
                if (event->mask & IN_OPEN) ++opens_;
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        return opens_;
    }

private:
    int fd_;
    int opens_ = 0;
};

}  // namespace ts::test
