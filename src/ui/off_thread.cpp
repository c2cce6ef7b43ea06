#include "ui/off_thread.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QThreadPool>

#include <deque>
#include <mutex>

namespace ts::ui {

namespace {

struct Job {
    QPointer<QObject> context;
    std::function<void()> work;
    std::function<void()> callback;
};

class Returns;

// Jobs pass between the interface thread and the pool only through these queues, under this
// lock of our own: Qt's queues order the two threads with locks thread checkers cannot see,
// so nothing a job holds travels through them. The pool's task and the posted event carry
// no data at all.
std::mutex handOver;
std::deque<std::unique_ptr<Job>> waiting;   // started, not yet taken by a pooled thread
std::deque<std::unique_ptr<Job>> finished;  // worked, callback not yet run
Returns* returns = nullptr;                 // where finished jobs are announced
bool returnPosted = false;

// Runs the callbacks of finished jobs on the interface thread. A child of the application
// object, whose destructor waits for the pool before its children go: it outlives every job.
class Returns : public QObject {
public:
    using QObject::QObject;
    ~Returns() override {
        std::lock_guard lock(handOver);
        finished.clear();
        returns = nullptr;
    }

protected:
    void customEvent(QEvent*) override {
        std::deque<std::unique_ptr<Job>> ready;
        {
            std::lock_guard lock(handOver);
            ready.swap(finished);
            returnPosted = false;
        }
        for (const std::unique_ptr<Job>& job : ready)
            if (job->context) job->callback();
    }
};

void runOneWaiting() {
    std::unique_ptr<Job> job;
    {
        std::lock_guard lock(handOver);
        job = std::move(waiting.front());
        waiting.pop_front();
    }
    job->work();
    std::lock_guard lock(handOver);
    finished.push_back(std::move(job));
    if (returnPosted || !returns) return;
    returnPosted = true;
    QCoreApplication::postEvent(returns, new QEvent(QEvent::User));
}

}  // namespace

void detail::runOffThread(QObject* context, std::function<void()> work, std::function<void()> callback) {
    QCoreApplication* application = QCoreApplication::instance();
    Q_ASSERT(context && application && context->thread() == application->thread());
    {
        std::lock_guard lock(handOver);
        if (!returns) returns = new Returns(application);
        waiting.push_back(std::make_unique<Job>(Job{context, std::move(work), std::move(callback)}));
    }
    // One pooled task per job; whichever job a task takes, each is taken once.
    QThreadPool::globalInstance()->start(runOneWaiting);
}

}  // namespace ts::ui
