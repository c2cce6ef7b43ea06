#include "ui/guarded_application.h"

#include <cstdio>
#include <exception>

#include "ui/prompts.h"

namespace ts::ui {

bool GuardedApplication::notify(QObject* receiver, QEvent* event) {
    QString failure;
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        failure = QString::fromUtf8(error.what());
    } catch (...) {
        failure = "An unknown error";
    }
    // Shown outside the handler that failed, so a box cannot run into the same failure.
    if (prompts_) {
        prompts_->generalError(activeWindow(), failure);
    } else {
        std::fprintf(stderr, "tessaly: %s\n", failure.toLocal8Bit().constData());
    }
    return false;
}

}  // namespace ts::ui
