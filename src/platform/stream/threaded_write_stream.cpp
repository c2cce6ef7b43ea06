#include "platform/stream/threaded_write_stream.h"

#include <algorithm>

#include "platform/exception.h"

namespace ts {

ThreadedWriteStream::ThreadedWriteStream(Stream& target)
    : target_(target), thread_([this](std::stop_token stop) { run(stop); }) {
    filling_.reserve(kBufferSize);
}

ThreadedWriteStream::~ThreadedWriteStream() {
    {
        std::lock_guard lock(mutex_);
        full_.clear();
    }
    thread_.request_stop();
}

void ThreadedWriteStream::seek(int64_t position) {
    if (position != taken_) throw EStreamError("Invalid stream position");
}

int64_t ThreadedWriteStream::read(void*, int64_t) {
    throw EStreamError("Stream read error");
}

int64_t ThreadedWriteStream::write(const void* buffer, int64_t count) {
    const auto* in = static_cast<const uint8_t*>(buffer);
    for (int64_t left = count; left > 0;) {
        const size_t piece = std::min(static_cast<size_t>(left), kBufferSize - filling_.size());
        filling_.insert(filling_.end(), in, in + piece);
        in += piece;
        left -= static_cast<int64_t>(piece);
        if (filling_.size() == kBufferSize) handOver();
    }
    taken_ += std::max<int64_t>(count, 0);
    return count;
}

void ThreadedWriteStream::handOver() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return full_.size() < kMostWaiting || failure_; });
    if (failure_) std::rethrow_exception(failure_);
    full_.push_back(std::move(filling_));
    if (empty_.empty()) {
        filling_ = {};
        filling_.reserve(kBufferSize);
    } else {
        filling_ = std::move(empty_.back());
        empty_.pop_back();
    }
    changed_.notify_all();
}

void ThreadedWriteStream::finish() {
    if (!filling_.empty()) handOver();
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return (full_.empty() && !writing_) || failure_; });
    if (failure_) std::rethrow_exception(failure_);
}

void ThreadedWriteStream::run(std::stop_token stop) {
    std::unique_lock lock(mutex_);
    while (changed_.wait(lock, stop, [&] { return !full_.empty(); })) {
        std::vector<uint8_t> buffer = std::move(full_.front());
        full_.pop_front();
        writing_ = true;
        lock.unlock();
        std::exception_ptr failure;
        try {
            target_.write(buffer.data(), static_cast<int64_t>(buffer.size()));
        } catch (...) {
            failure = std::current_exception();
        }
        lock.lock();
        writing_ = false;
        if (failure) {
            // Nothing after a failed write may land: the file would have a hole.
            failure_ = failure;
            full_.clear();
        }
        buffer.clear();
        empty_.push_back(std::move(buffer));
        changed_.notify_all();
    }
}

}  // namespace ts
