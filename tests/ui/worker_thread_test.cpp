// The worker threads with real runs on real sample profiles: the events' hand-over to the
// interface thread, the end of a run, cancels at known points, and the worker's priority.
#include <QPointer>
#include <QTest>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <mutex>

#include "engine/backup_run.h"
#include "platform/debug_log.h"
#include "ui/worker_thread.h"
#include "sample_profiles.h"
#include "ui_test_support.h"

using namespace ts;
using namespace ts::ui;
namespace fs = std::filesystem;

namespace {

// Everything the interface thread saw of one worker, in the order it came.
struct Watcher {
    struct Event {
        bool isProgress;
        QString text;
        int percent;
    };
    std::vector<Event> events;
    int terminations = 0;
    bool allOnInterfaceThread = true;
    RunOutcome outcome;

    void watch(TtsThread* thread) {
        auto onUi = [this] { allOnInterfaceThread &= QThread::currentThread() == qApp->thread(); };
        QObject::connect(thread, &TtsThread::OnStatus, qApp, [this, onUi](const QString& text) {
            onUi();
            events.push_back({false, text, 0});
        });
        QObject::connect(thread, &TtsThread::OnProgress, qApp, [this, onUi](int percent) {
            onUi();
            events.push_back({true, {}, percent});
        });
        QObject::connect(thread, &TtsThread::Terminated, qApp, [this, onUi](TtsThread* sender) {
            onUi();
            ++terminations;
            outcome = sender->Outcome();
            sender->Cancel();  // too late: must do nothing
        });
    }
    std::vector<std::string> statuses() const {
        std::vector<std::string> texts;
        for (const Event& e : events)
            if (!e.isProgress) texts.push_back(e.text.toStdString());
        return texts;
    }
};

// The nice value of one of this process's threads, from its stat line in /proc.
int niceOfThread(pid_t tid) {
    std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string line;
    std::getline(stat, line);
    // The fields after the name in parentheses begin with the third; the nice value is the 19th.
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    for (int i = 3; i <= 19; ++i) fields >> field;
    return fields ? std::stoi(field) : -100;
}

struct WorkerStatuses {
    std::mutex mutex;
    std::vector<std::string> texts;
    void add(const std::string& text) {
        std::lock_guard lock(mutex);
        texts.push_back(text);
    }
};

}  // namespace

class WorkerThreadTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::SampleProfiles> samples;

    std::unique_ptr<TtsBackupProject> backupProject() { return samples->mailProject(*samples->alice); }

private slots:
    void init() { samples = std::make_unique<test::SampleProfiles>(); }
    void cleanup() {
        samples.reset();
        DebugLog::instance().clear();
    }

    void aBackupHandsEveryEventOverInOrderThenEndsOnce() {
        auto project = backupProject();
        auto* thread = new test::Watched<TtsBackupThread>(*project, *samples->alice, nullptr);
        QPointer<TtsThread> alive(thread);
        WorkerStatuses raised;
        thread->onStatus = [&](const std::string& text) { raised.add(text); };
        Watcher watcher;
        watcher.watch(thread);
        thread->start();
        QTRY_COMPARE_WITH_TIMEOUT(watcher.terminations, 1, 120000);

        QVERIFY(watcher.allOnInterfaceThread);
        QVERIFY2(!watcher.outcome.failure, watcher.outcome.failure ? watcher.outcome.failure->text.c_str() : "");
        QVERIFY(!watcher.outcome.cancelled);
        QCOMPARE(watcher.statuses(), raised.texts);
        QCOMPARE(watcher.statuses().back(), std::string("Compress Data ..."));
        int last = -1;
        for (const auto& e : watcher.events) {
            if (!e.isProgress) {
                last = -1;
                continue;
            }
            QVERIFY2(e.percent >= last, "never backwards within one status");
            last = e.percent;
        }
        QCOMPARE(watcher.events.back().percent, 100);
        QVERIFY(fs::exists(samples->out("Mail.tsly_dat")));
        QTRY_VERIFY(alive.isNull());
        QCOMPARE(watcher.terminations, 1);
    }

    // The interface thread is busy for the whole run: what waits for it afterwards is one
    // hand-over with every text and no more than one percentage between two texts.
    void aBusyInterfaceThreadGetsTheEventsFolded() {
        auto project = backupProject();
        auto* thread = new test::Watched<TtsBackupThread>(*project, *samples->alice, nullptr);
        WorkerStatuses raised;
        thread->onStatus = [&](const std::string& text) { raised.add(text); };
        Watcher watcher;
        watcher.watch(thread);
        thread->start();
        QVERIFY(thread->wait(120000));
        QTRY_COMPARE_WITH_TIMEOUT(watcher.terminations, 1, 60000);
        QCOMPARE(watcher.statuses(), raised.texts);
        for (size_t i = 1; i < watcher.events.size(); ++i)
            QVERIFY2(!(watcher.events[i].isProgress && watcher.events[i - 1].isProgress), "percentages folded");
        QCOMPARE(watcher.events.back().percent, 100);
    }

    // Read from outside while the worker stands still: its nice value as the kernel lists
    // the thread, and its I/O class as the kernel answers for it.
    void theWorkerRunsAtTheLowestPriorityAndTheInterfaceKeepsItsOwn() {
        auto project = backupProject();
        errno = 0;
        const int interfaceNice = ::getpriority(PRIO_PROCESS, 0);
        auto* thread = new test::Watched<TtsBackupThread>(*project, *samples->alice, nullptr);
        test::WorkerGate gate;
        std::atomic<pid_t> worker{0};
        gate.stopAt(*thread, [&](const std::string&) {
            worker = static_cast<pid_t>(::syscall(SYS_gettid));
            return true;
        });
        Watcher watcher;
        watcher.watch(thread);
        thread->start();
        QVERIFY(gate.waitReached());
        const int nice = niceOfThread(worker.load());
        const long io = ::syscall(SYS_ioprio_get, 1 /* IOPRIO_WHO_PROCESS */, worker.load());
        gate.letGo();
        QTRY_COMPARE_WITH_TIMEOUT(watcher.terminations, 1, 60000);
        QCOMPARE(nice, 19);
        QVERIFY(io >= 0);
        QCOMPARE(io >> 13, 3L);  // the idle class
        QCOMPARE(::getpriority(PRIO_PROCESS, 0), interfaceNice);
    }

    void aCancelDuringCompressionEndsCancelledWithoutADataFile() {
        auto project = backupProject();
        auto* thread = new test::Watched<TtsBackupThread>(*project, *samples->alice, nullptr);
        test::WorkerGate gate;
        gate.stopAtStatus(*thread, "Compress Data ...");
        Watcher watcher;
        watcher.watch(thread);
        thread->start();
        QVERIFY(gate.waitReached());
        thread->Cancel();
        thread->Cancel();
        gate.letGo();
        QTRY_COMPARE_WITH_TIMEOUT(watcher.terminations, 1, 60000);
        QVERIFY(watcher.outcome.cancelled);
        QVERIFY(!watcher.outcome.failure);
        QVERIFY(!fs::exists(samples->out("Mail.tsly_dat")));
    }

    // The item under way when the cancel comes is finished; the ones after it are not begun.
    void aCancelDuringARestoresItemLoopEndsCancelled() {
        samples->backUpAlice();
        TtsBackupProject reader(samples->bob.get());
        reader.SetWorkFolder(samples->work());
        auto* thread = new test::Watched<TtsRestoreThread>(reader, *samples->bob, samples->out("Mail.tsly_dat"));
        test::WorkerGate gate;
        gate.stopAt(*thread, [](const std::string& text) { return text.rfind("Restore ", 0) == 0; });
        Watcher watcher;
        watcher.watch(thread);
        thread->start();
        QVERIFY(gate.waitReached());
        thread->Cancel();
        gate.letGo();
        QTRY_COMPARE_WITH_TIMEOUT(watcher.terminations, 1, 60000);
        QVERIFY(watcher.outcome.cancelled);
        QVERIFY2(!watcher.outcome.failure, watcher.outcome.failure ? watcher.outcome.failure->text.c_str() : "");
        int restored = 0;
        for (const std::string& text : watcher.statuses()) restored += text.rfind("Restore ", 0) == 0;
        QCOMPARE(restored, 1);
    }

    void aRestoreOfAFileThatIsNoDataFileFailsNamingIt() {
        const std::string file = samples->out("junk.tsly_dat");
        test::writeHostFile(file, std::string(5000, 'x'));
        TtsBackupProject reader(samples->bob.get());
        reader.SetWorkFolder(samples->work());
        auto* thread = new TtsRestoreThread(reader, *samples->bob, file);
        Watcher watcher;
        watcher.watch(thread);
        thread->start();
        QTRY_COMPARE_WITH_TIMEOUT(watcher.terminations, 1, 60000);
        QVERIFY(!watcher.outcome.cancelled);
        QVERIFY(watcher.outcome.failure);
        QVERIFY(watcher.outcome.failure->kind != FailureKind::WrongPassword);
        QVERIFY2(watcher.outcome.failure->text.find(file) != std::string::npos, watcher.outcome.failure->text.c_str());
    }
};

QTEST_MAIN(WorkerThreadTest)
#include "worker_thread_test.moc"
