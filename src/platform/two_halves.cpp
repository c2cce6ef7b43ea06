#include "platform/two_halves.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace ts {

namespace {

class Helper {
public:
    Helper() : thread_([this](std::stop_token stop) { run(stop); }) {}

    // False when another caller has it.
    bool tryRun(const std::function<void(size_t, size_t)>& work, size_t begin, size_t end) {
        std::unique_lock lock(mutex_, std::try_to_lock);
        if (!lock.owns_lock() || work_ != nullptr) return false;
        work_ = &work;
        begin_ = begin;
        end_ = end;
        done_ = false;
        given_.notify_one();
        return true;
    }
    void wait() {
        std::unique_lock lock(mutex_);
        finished_.wait(lock, [this] { return done_; });
        work_ = nullptr;
    }

private:
    void run(std::stop_token stop) {
        std::unique_lock lock(mutex_);
        while (given_.wait(lock, stop, [this] { return work_ != nullptr && !done_; })) {
            const auto* work = work_;
            const size_t begin = begin_, end = end_;
            lock.unlock();
            (*work)(begin, end);
            lock.lock();
            done_ = true;
            finished_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable_any given_;
    std::condition_variable finished_;
    const std::function<void(size_t, size_t)>* work_ = nullptr;
    size_t begin_ = 0;
    size_t end_ = 0;
    bool done_ = false;
    std::jthread thread_;
};

}  // namespace

void runInTwoHalves(size_t count, size_t minimumToSplit, const std::function<void(size_t, size_t)>& work) {
    static const bool severalProcessors = std::thread::hardware_concurrency() > 1;
    if (count < minimumToSplit || count < 2 || !severalProcessors) {
        work(0, count);
        return;
    }
    static Helper helper;
    const size_t half = count / 2;
    if (!helper.tryRun(work, half, count)) {
        work(0, count);
        return;
    }
    work(0, half);
    helper.wait();
}

}  // namespace ts
