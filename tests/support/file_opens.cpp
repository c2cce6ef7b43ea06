#include "support/file_opens.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <stdexcept>

namespace ts::test {

FileOpens::FileOpens(const std::string& path) : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    if (fd_ < 0 || inotify_add_watch(fd_, path.c_str(), IN_OPEN | IN_ACCESS | IN_CLOSE) < 0) {
        if (fd_ >= 0) ::close(fd_);
        throw std::runtime_error("cannot watch " + path);
    }
}

FileOpens::~FileOpens() { ::close(fd_); }

int FileOpens::count() {
    alignas(inotify_event) char buffer[4096];
    for (ssize_t got; (got = ::read(fd_, buffer, sizeof buffer)) > 0;) {
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if (event->mask & IN_Q_OVERFLOW) throw std::runtime_error("too many file events to count the opens");
            if (event->mask & IN_OPEN) ++opens_;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    return opens_;
}

}  // namespace ts::test
