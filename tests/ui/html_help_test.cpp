#include "ui/html_help.h"

#include <QTest>
#include <QTextBrowser>

#include "scripted_prompts.h"
#include "ui_test_support.h"

using namespace ts::ui;
using ts::test::control;

class HtmlHelpTest : public QObject {
    Q_OBJECT

private slots:
    void showsTheDefaultTopicAndFollowsLinksInside() {
        QWidget caller;
        QWidget* window = HtmlHelp(&caller, TESSALY_HELP_FILE, HH_DISPLAY_TOPIC, 0);
        QVERIFY(window);
        QCOMPARE(window->parentWidget(), &caller);
        auto* browser = control<QTextBrowser>(*window, "HelpBrowser");
        QCOMPARE(browser->documentTitle(), QString("Tessaly Help"));
        QVERIFY(browser->toPlainText().contains("Backing up"));
        emit browser->anchorClicked(QUrl("ftp.html"));  // a link as the page holds it
        QCOMPARE(browser->documentTitle(), QString("Storing the backup on an FTP server"));
        QVERIFY(browser->toPlainText().contains("Test FTP Settings"));
        browser->backward();
        QCOMPARE(browser->documentTitle(), QString("Tessaly Help"));
        window->close();
    }

    void aTopicCanBeNamed() {
        QWidget caller;
        QWidget* window = HtmlHelp(&caller, QString(TESSALY_HELP_FILE) + "::/wine.html");
        QVERIFY(control<QTextBrowser>(*window, "HelpBrowser")->toPlainText().contains("--profile"));
    }

    void aHelpFileThatCannotBeOpenedIsNamedInAnErrorBox() {
        ScriptedPrompts prompts;
        QWidget caller;
        QVERIFY(!ShowHelp(prompts, &caller, "/no/such/ts_help.chm"));
        QCOMPARE(prompts.shown.size(), size_t(1));
        QCOMPARE(prompts.shown[0].caption, QString("Error"));
        QVERIFY(prompts.shown[0].text.contains("/no/such/ts_help.chm"));
    }
};

QTEST_MAIN(HtmlHelpTest)
#include "html_help_test.moc"
