// The program's application object: an exception that leaves an event handler becomes the
// general error report, and the program goes on handling events.
#include <QEvent>
#include <QCoreApplication>
#include <QTest>

#include <stdexcept>

#include "ui/guarded_application.h"
#include "scripted_prompts.h"

using namespace ts::ui;

namespace {

// An object whose handler fails the way a slot reading a damaged file could.
class FailingHandler : public QObject {
public:
    int handled = 0;

protected:
    bool event(QEvent* event) override {
        if (event->type() != QEvent::User) return QObject::event(event);
        if (++handled == 1) throw std::runtime_error("The data is damaged or not made by this program: compression level 7");
        return true;
    }
};

}  // namespace

class GuardedApplicationTest : public QObject {
    Q_OBJECT
public:
    explicit GuardedApplicationTest(GuardedApplication& app) : app_(app) {}

private slots:
    void anEscapingExceptionIsReportedAndTheProgramGoesOn() {
        ScriptedPrompts prompts;
        app_.SetPrompts(&prompts);
        FailingHandler handler;
        QEvent first(QEvent::User);
        QVERIFY(!QCoreApplication::sendEvent(&handler, &first));
        QCOMPARE(prompts.shown.size(), size_t(1));
        QCOMPARE(prompts.shown[0].caption, QString("Tessaly"));
        QCOMPARE(prompts.shown[0].text,
                 QString("The data is damaged or not made by this program: compression level 7."));
        // The next event is handled as ever.
        QEvent second(QEvent::User);
        QVERIFY(QCoreApplication::sendEvent(&handler, &second));
        QCOMPARE(handler.handled, 2);
        QCOMPARE(prompts.shown.size(), size_t(1));
        app_.SetPrompts(nullptr);
    }

private:
    GuardedApplication& app_;
};

int main(int argc, char** argv) {
    GuardedApplication app(argc, argv);
    GuardedApplicationTest test(app);
    return QTest::qExec(&test, argc, argv);
}

#include "guarded_application_test.moc"
