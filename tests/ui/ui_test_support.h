#pragma once
// What the window tests do as a person would: find a dialog's controls by object name, answer
// modal dialogs in turn, read the boxes shown, see a run's progress dialog come and go; and
// what they do to a worker that no person can: stop it at a known step.
#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QSemaphore>
#include <QTimer>
#include <QTest>
#include <QTreeWidget>
#include <QWidget>

#include <atomic>
#include <deque>
#include <functional>
#include <stdexcept>
#include <string>

#include "ui/main_form.h"
#include "ui/progress_form.h"
#include "scripted_prompts.h"
#include "ui/worker_thread.h"

namespace ts::test {

template <typename T>
T* control(const QWidget& window, const char* name) {
    T* found = window.findChild<T*>(name);
    if (!found) throw std::runtime_error(std::string("no control named ") + name);
    return found;
}

inline QStringList checkedRows(const QTreeWidget* list) {
    QStringList rows;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        if (list->topLevelItem(i)->checkState(0) == Qt::Checked) rows << list->topLevelItem(i)->text(0);
    return rows;
}

// Answers the modal dialogs of a flow in order: each step waits for the dialog of its
// object name to be the active modal window, then acts on it.
class ModalScript : public QObject {
public:
    using Action = std::function<void(QWidget*)>;
    void then(const QString& name, Action action) { steps_.push_back({name, std::move(action)}); }
    ModalScript() {
        connect(&timer_, &QTimer::timeout, this, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (steps_.empty() || !modal || !modal->isVisible() || modal->objectName() != steps_.front().name) return;
            Step step = std::move(steps_.front());
            steps_.pop_front();
            seen << step.name;
            step.action(modal);
        });
        timer_.start(20);
    }
    bool done() const { return steps_.empty(); }
    QStringList seen;

private:
    struct Step {
        QString name;
        Action action;
    };
    std::deque<Step> steps_;
    QTimer timer_;
};

inline void click(QWidget* dialog, const char* button) {
    auto* found = dialog->findChild<QPushButton*>(button);
    QVERIFY2(found, button);
    found->click();
}

inline void type(QWidget* dialog, const char* edit, const QString& text) {
    auto* found = dialog->findChild<QLineEdit*>(edit);
    QVERIFY2(found, edit);
    found->setText(text);
}

// The main texts of the boxes shown so far, in order.
inline QStringList shownTexts(const ui::ScriptedPrompts& prompts) {
    QStringList texts;
    for (const auto& shown : prompts.shown) texts << shown.text;
    return texts;
}

// The progress dialog beside a run of window, or null when no run works.
inline ui::TProgressForm* progressDialog(const ui::TMainForm& window) { return window.findChild<ui::TProgressForm*>(); }

// Handles events until the run of window has ended: its progress dialog gone, its end reported
// and the actions on again. At once when no run works.
inline bool waitForRunEnd(const ui::TMainForm& window, int timeoutMs = 120000) {
    return QTest::qWaitFor([&] { return !progressDialog(window) && window.FileBackupAction->isEnabled(); }, timeoutMs);
}

// What a test sees of a worker's status texts on the worker thread itself, as the run raises
// them: before the interface thread hears of them, and while the run waits for the handler.
struct StatusWatch {
    std::function<void(const std::string&)> onStatus;  // set before the start
};

// A worker of kind Kind (TtsBackupThread, TtsRestoreThread, ...) made as that kind is made,
// that tells its status texts to its StatusWatch.
template <typename Kind>
class Watched final : public Kind, public StatusWatch {
public:
    using Kind::Kind;
    ~Watched() override { this->StopBeforeDestruction(); }

protected:
    void StatusRaised(const std::string& text) override {
        if (onStatus) onStatus(text);
    }
};

// A worker stops at one step until the test lets it go on, so the test can act on the
// interface thread at a known point of the run.
class WorkerGate {
public:
    // Before the start: the worker stops at the first status text for which `at` holds.
    void stopAt(StatusWatch& worker, std::function<bool(const std::string&)> at) {
        worker.onStatus = [this, at = std::move(at)](const std::string& text) {
            if (at(text) && !stopped_.exchange(true)) stopHere();
        };
    }
    void stopAtStatus(StatusWatch& worker, const std::string& status) {
        stopAt(worker, [status](const std::string& text) { return text == status; });
    }
    // On the worker thread.
    void stopHere() {
        reached_.release();
        resume_.acquire();
    }
    // On the interface thread: keeps handling events until the worker stands at the gate.
    bool waitReached(int timeoutMs = 60000) {
        QElapsedTimer timer;
        timer.start();
        while (!reached_.tryAcquire()) {
            if (timer.elapsed() > timeoutMs) return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        return true;
    }
    void letGo() { resume_.release(); }

private:
    QSemaphore reached_;
    QSemaphore resume_;
    std::atomic<bool> stopped_{false};
};

}  // namespace ts::test
