// Work handed off the interface thread: where it runs, where its result comes back, and what
// happens when the object that asked for it is gone first.
#include <QSemaphore>
#include <QTest>
#include <QThread>

#include <atomic>
#include <memory>
#include <string>

#include "ui/off_thread.h"

using ts::ui::runThenCallback;

class OffThreadTest : public QObject {
    Q_OBJECT
private slots:
    void theWorkRunsElsewhereAndItsResultComesBackOnTheInterfaceThread() {
        QObject context;
        QThread* workedOn = nullptr;
        QThread* calledBackOn = nullptr;
        std::string result;
        int calls = 0;
        runThenCallback(
            &context,
            [&] {
                workedOn = QThread::currentThread();
                return std::make_unique<std::string>("done");  // a result that can only be moved
            },
            [&](std::unique_ptr<std::string> value) {
                calledBackOn = QThread::currentThread();
                result = *value;
                ++calls;
            });
        QTRY_COMPARE(calls, 1);
        QVERIFY(workedOn && workedOn != qApp->thread());
        QCOMPARE(calledBackOn, qApp->thread());
        QCOMPARE(result, std::string("done"));
        QTest::qWait(50);
        QCOMPARE(calls, 1);
    }

    // The context is freed while the work runs: the work goes on to its end, nobody waits for
    // it, and its callback is dropped, not run on a freed object.
    void aContextGoneBeforeTheEndDropsTheCallback() {
        QSemaphore started, resume;
        std::atomic<bool> finished{false};
        auto shared = std::make_shared<int>(0);
        bool called = false;
        auto context = std::make_unique<QObject>();
        runThenCallback(
            context.get(),
            [&, shared] {
                started.release();
                resume.acquire();
                finished = true;
            },
            [&, shared] { called = true; });
        QVERIFY(started.tryAcquire(1, 10000));
        context.reset();
        resume.release();
        QTRY_VERIFY(finished.load());
        // Whatever the work and the callback held is let go once the dropped call is handled.
        QTRY_COMPARE(shared.use_count(), 1L);
        QVERIFY(!called);
    }
};

QTEST_MAIN(OffThreadTest)
#include "off_thread_test.moc"
