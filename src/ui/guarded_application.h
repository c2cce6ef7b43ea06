#pragma once
// The program's application object. An exception that no window caught would otherwise
// leave a Qt event handler and end the process; here it becomes the general error report
// and the program goes on.
#include <QApplication>

namespace ts::ui {

class Prompts;

class GuardedApplication : public QApplication {
public:
    GuardedApplication(int& argc, char** argv) : QApplication(argc, argv) {}
    // Where the report is shown; without one it goes to standard error.
    void SetPrompts(Prompts* prompts) { prompts_ = prompts; }
    bool notify(QObject* receiver, QEvent* event) override;

private:
    Prompts* prompts_ = nullptr;
};

}  // namespace ts::ui
