#include "platform/writeback_ahead.h"

#include <fcntl.h>
#include <unistd.h>

namespace ts {

WritebackAhead::WritebackAhead(const std::string& folder)
    : fd_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (fd_ >= 0) thread_ = std::jthread([this](std::stop_token stop) { run(stop); });
}

WritebackAhead::~WritebackAhead() {
    if (thread_.joinable()) {
        thread_.request_stop();
        thread_.join();
    }
    if (fd_ >= 0) ::close(fd_);
}

void WritebackAhead::written(int64_t bytes) {
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        ++files_;
        bytes_ += bytes;
        wake = files_ >= kFilesPerSync || bytes_ >= kBytesPerSync;
    }
    if (wake) due_.notify_one();
}

int WritebackAhead::syncs() const {
    std::lock_guard lock(mutex_);
    return syncs_;
}

void WritebackAhead::run(std::stop_token stop) {
    std::unique_lock lock(mutex_);
    while (due_.wait(lock, stop, [this] { return files_ >= kFilesPerSync || bytes_ >= kBytesPerSync; })) {
        // What is written while this sync runs counts towards the next.
        files_ = 0;
        bytes_ = 0;
        lock.unlock();
        ::syncfs(fd_);
        lock.lock();
        ++syncs_;
    }
}

}  // namespace ts
