#include "ui/off_thread.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>
#include <QThreadPool>

namespace ts::ui {

void detail::runOffThread(QObject* context, std::function<void()> work, std::function<void()> callback) {
    Q_ASSERT(context && context->thread() == QCoreApplication::instance()->thread());
    // The pooled thread never touches context, which the interface thread may free at any
    // moment: it posts to the application object, which outlives every pooled job (its
    // destructor waits for them), and the guard is read back on the interface thread alone.
    QObject* application = QCoreApplication::instance();
    QThreadPool::globalInstance()->start(
        [application, guard = QPointer<QObject>(context), work = std::move(work),
         callback = std::move(callback)]() mutable {
            work();
            QMetaObject::invokeMethod(
                application,
                [guard = std::move(guard), callback = std::move(callback)] {
                    if (guard) callback();
                },
                Qt::QueuedConnection);
        });
}

}  // namespace ts::ui
