#pragma once
// Writing to a stream from a thread of its own, so that making bytes (inflating a data file,
// converting a mail store) and putting them into a file overlap on two processors. write()
// fills a buffer and hands it over when full; only a few full ones may wait, so memory stays
// flat whatever the size. A failure of the writing is raised by the next write() or finish().
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/stream/stream.h"

namespace ts {

class ThreadedWriteStream final : public Stream {
public:
    static constexpr size_t kBufferSize = size_t{1} << 20;
    static constexpr size_t kMostWaiting = 3;

    // target is written from the thread only, until finish() returns or this goes.
    explicit ThreadedWriteStream(Stream& target);
    // Drops what was not written yet; waits for the write under way.
    ~ThreadedWriteStream() override;

    int64_t position() const override { return taken_; }
    int64_t size() const override { return taken_; }
    // Only to where it stands: the bytes go out in order.
    void seek(int64_t position) override;
    int64_t read(void* buffer, int64_t count) override;  // raises: it only writes
    int64_t write(const void* buffer, int64_t count) override;

    // Hands over what is held and waits until all of it was written; raises the failure of
    // the writing, if any.
    void finish();

private:
    void handOver();
    void run(std::stop_token stop);

    Stream& target_;
    int64_t taken_ = 0;
    std::vector<uint8_t> filling_;
    std::mutex mutex_;
    std::condition_variable_any changed_;
    std::deque<std::vector<uint8_t>> full_;
    std::vector<std::vector<uint8_t>> empty_;
    bool writing_ = false;
    std::exception_ptr failure_;
    std::jthread thread_;  // last, so it stops first
};

}  // namespace ts
