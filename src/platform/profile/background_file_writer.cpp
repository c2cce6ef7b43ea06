#include "platform/profile/background_file_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/exception.h"
#include "platform/stream/stream.h"

namespace ts {

void writeWhole(int fd, const uint8_t* data, int64_t count, const std::string& windowsName) {
    while (count > 0) {
        const ssize_t done = ::write(fd, data, static_cast<size_t>(count));
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) throw EFCreateError(windowsName, systemErrorText(done < 0 ? errno : ENOSPC));
        data += done;
        count -= done;
    }
}

BackgroundFileWriter::BackgroundFileWriter(std::function<void(int64_t)> written)
    : written_(std::move(written)), thread_([this](std::stop_token stop) { run(stop); }) {}

BackgroundFileWriter::~BackgroundFileWriter() {
    discard();
    thread_.request_stop();
    thread_.join();
}

void BackgroundFileWriter::write(int folderFd, std::string name, unsigned mode, std::vector<uint8_t> contents,
                                 std::string windowsName) {
    std::unique_lock lock(mutex_);
    // One file larger than the bound still goes, alone.
    waitFor(lock, [&] { return failure_ || queuedBytes_ == 0 || queuedBytes_ + contents.size() <= kMaxQueuedBytes; });
    if (failure_) std::rethrow_exception(failure_);
    queuedBytes_ += contents.size();
    queue_.push_back({folderFd, std::move(name), mode, std::move(contents), std::move(windowsName)});
    // Waking a writer that is busy anyway would cost a system call per file.
    const bool wake = writerWaiting_;
    lock.unlock();
    if (wake) queued_.notify_one();
}

void BackgroundFileWriter::waitIdle() {
    std::unique_lock lock(mutex_);
    waitFor(lock, [&] { return queue_.empty() && busy_ == 0; });
}

template <typename Done>
void BackgroundFileWriter::waitFor(std::unique_lock<std::mutex>& lock, Done done) {
    ++callerWaiting_;
    while (!done()) {
        // Making a file is the same work for either thread: a caller that would only wait
        // takes the newest one, which more likely lies in another folder than the writer's.
        if (!queue_.empty()) {
            Job job = std::move(queue_.back());
            queue_.pop_back();
            makeOutsideLock(lock, job);
        } else {
            progressed_.wait(lock);
        }
    }
    --callerWaiting_;
}

void BackgroundFileWriter::makeOutsideLock(std::unique_lock<std::mutex>& lock, const Job& job) {
    queuedBytes_ -= job.contents.size();
    ++busy_;
    lock.unlock();
    std::exception_ptr failure;
    try {
        make(job);
    } catch (...) {
        failure = std::current_exception();
    }
    lock.lock();
    --busy_;
    if (failure && !failure_) {
        failure_ = failure;
        // Nothing after a failure is made: the caller's run fails with it.
        queue_.clear();
        queuedBytes_ = 0;
    }
    if (callerWaiting_ > 0) progressed_.notify_all();
}

void BackgroundFileWriter::rethrowFailure() {
    std::lock_guard lock(mutex_);
    if (failure_) std::rethrow_exception(failure_);
}

void BackgroundFileWriter::discard() noexcept {
    std::unique_lock lock(mutex_);
    queue_.clear();
    queuedBytes_ = 0;
    waitFor(lock, [&] { return busy_ == 0; });
}

void BackgroundFileWriter::run(std::stop_token stop) {
    std::unique_lock lock(mutex_);
    for (;;) {
        writerWaiting_ = true;
        const bool given = queued_.wait(lock, stop, [&] { return !queue_.empty(); });
        writerWaiting_ = false;
        if (!given) return;
        Job job = std::move(queue_.front());
        queue_.pop_front();
        makeOutsideLock(lock, job);
    }
}

void BackgroundFileWriter::make(const Job& job) {
    int fd = ::openat(job.folderFd, job.name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, job.mode);
    if (fd < 0) throw EFCreateError(job.windowsName, systemErrorText(errno));
    try {
        writeWhole(fd, job.contents.data(), static_cast<int64_t>(job.contents.size()), job.windowsName);
        // A failed close has released the descriptor too: it is never closed twice.
        const int closed = ::close(std::exchange(fd, -1));
        if (closed != 0) throw EFCreateError(job.windowsName, systemErrorText(errno));
    } catch (...) {
        if (fd >= 0) ::close(fd);
        ::unlinkat(job.folderFd, job.name.c_str(), 0);
        throw;
    }
    if (written_) written_(static_cast<int64_t>(job.contents.size()));
}

}  // namespace ts
