#pragma once
// Making small new files on a thread of its own. A restore of many small files spends half
// its time decompressing and parsing and half in the file system making files; done one
// after the other they add up, side by side they overlap. The caller hands over a file's
// whole contents and goes on reading the next one; a failure is raised to the caller at its
// next question. Queued contents are bounded, so memory stays flat however many files come;
// a caller that would wait for room (or for the end) makes queued files itself meanwhile.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ts {

// Writes all count bytes to fd; raises EFCreateError naming windowsName when it cannot (a
// write that takes nothing counts as a full disk).
void writeWhole(int fd, const uint8_t* data, int64_t count, const std::string& windowsName);

class BackgroundFileWriter {
public:
    // Larger files are better streamed by the caller than held whole.
    static constexpr int64_t kMaxFileSize = int64_t{1} << 20;
    static constexpr size_t kMaxQueuedBytes = size_t{16} << 20;

    // written: told each file's size once it is closed, on the thread that made it (the
    // writer's or a caller's, perhaps both at once).
    explicit BackgroundFileWriter(std::function<void(int64_t)> written = {});
    // Drops what is still queued and waits for the file under way.
    ~BackgroundFileWriter();
    BackgroundFileWriter(const BackgroundFileWriter&) = delete;
    BackgroundFileWriter& operator=(const BackgroundFileWriter&) = delete;

    // Queues a new file name below the open folder folderFd (which must stay open until
    // waitIdle() returns), made with permission bits mode and never over an existing entry.
    // While the queue is full, makes queued files. windowsName names it in a failure. Raises
    // the first failure of an earlier file instead of queueing.
    void write(int folderFd, std::string name, unsigned mode, std::vector<uint8_t> contents, std::string windowsName);
    // Returns once every queued file is made or dropped, making queued files meanwhile.
    void waitIdle();
    // Raises the first failure (EFCreateError naming the file), if any. Files not begun
    // when a failure comes are dropped.
    void rethrowFailure();
    // Drops every queued file; one under way is finished (or removed if it fails).
    void discard() noexcept;

private:
    struct Job {
        int folderFd;
        std::string name;
        unsigned mode;
        std::vector<uint8_t> contents;
        std::string windowsName;
    };
    void run(std::stop_token stop);
    void make(const Job& job);
    // Makes job with the lock released; records its failure.
    void makeOutsideLock(std::unique_lock<std::mutex>& lock, const Job& job);
    // Waits until done(), making queued files meanwhile instead of sleeping.
    template <typename Done>
    void waitFor(std::unique_lock<std::mutex>& lock, Done done);

    std::function<void(int64_t)> written_;
    std::mutex mutex_;
    std::condition_variable_any queued_;   // the writer waits here for files
    std::condition_variable progressed_;  // callers wait here for room, idleness or a failure
    bool writerWaiting_ = false;
    int callerWaiting_ = 0;
    std::deque<Job> queue_;
    size_t queuedBytes_ = 0;
    int busy_ = 0;  // files being made, by the writer or a helping caller
    std::exception_ptr failure_;
    std::jthread thread_;
};

}  // namespace ts
