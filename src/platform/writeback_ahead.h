#pragma once
// Getting written data to disk while more is being written. A restore promises its files are
// on disk when it reports its end; one sync at that end would wait for all of it at once.
// This syncs the file system from a thread of its own each time enough has been written
// since the last sync, so the disk works beside the writer and the last sync finds little
// left to do. It changes when data reaches the disk, never what reaches it.
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace ts {

class WritebackAhead {
public:
    static constexpr int64_t kFilesPerSync = 1024;
    static constexpr int64_t kBytesPerSync = int64_t{32} << 20;

    // folder: any folder on the file system written to. Does nothing when it cannot be opened.
    explicit WritebackAhead(const std::string& folder);
    // Stops the thread, waiting for a sync under way.
    ~WritebackAhead();
    WritebackAhead(const WritebackAhead&) = delete;
    WritebackAhead& operator=(const WritebackAhead&) = delete;

    // A file of `bytes` bytes was written and closed.
    void written(int64_t bytes);

    // Syncs done so far, for tests.
    int syncs() const;

private:
    void run(std::stop_token stop);

    int fd_ = -1;
    mutable std::mutex mutex_;
    std::condition_variable_any due_;
    int64_t files_ = 0;
    int64_t bytes_ = 0;
    int syncs_ = 0;
    std::jthread thread_;
};

}  // namespace ts
