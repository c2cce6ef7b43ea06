#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "ui/progress_form.h"
#include "ui/prompts.h"

using ts::ui::TProgressForm;

class ProgressFormTest : public QObject {
    Q_OBJECT
private slots:
    void controlsHaveTheirNamesTextsAndPlaces() {
        TProgressForm form;
        QCOMPARE(form.objectName(), QString("ProgressForm"));
        QCOMPARE(form.windowTitle(), QString("Please wait ..."));
        QCOMPARE(form.size(), QSize(318, 194));
        QVERIFY(form.windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(!(form.windowFlags() & Qt::WindowCloseButtonHint));
        QVERIFY(!form.isModal());
        struct Expected { const char* name; QPoint at; QString text; };
        for (const Expected& e : {Expected{"Animate", {16, 16}, {}}, Expected{"Label1", {16, 88}, "Current States:"},
                                  Expected{"StatesLabel", {form.StatesLabel->x(), 88}, ""}, Expected{"ProgressBar", {16, 112}, {}},
                                  Expected{"PercentLabel", {280, 112}, "0 %"}, Expected{"CancelButton", {16, 144}, "&Cancel"}}) {
            auto* widget = form.findChild<QWidget*>(e.name);
            QVERIFY2(widget, e.name);
            QCOMPARE(widget->pos(), e.at);
            if (auto* label = qobject_cast<QLabel*>(widget)) QCOMPARE(label->text(), e.text);
            if (auto* button = qobject_cast<QPushButton*>(widget)) QCOMPARE(button->text(), e.text);
        }
        QCOMPARE(form.ProgressBar->minimum(), 0);
        QCOMPARE(form.ProgressBar->maximum(), 100);
        QVERIFY(form.StatesLabel->font().bold());
        QVERIFY(form.StatesLabel->x() >= 96);
        QVERIFY2(form.StatesLabel->x() >= form.Label1->geometry().right(), "the caption is never covered");
    }

    // A long status is shown whole: wrapped, also inside a long path, the dialog grown to
    // hold it, nothing below covered; a short one later does not make it jump back.
    void aLongStatusIsWrappedAndTheDialogGrowsToHoldIt() {
        TProgressForm form;
        form.show();
        const QString longStatus = "Backup Outlook Express Data ... C:\\users\\alice\\AppData\\Local\\Identities\\"
                                   "{5D3F8A21-7C4B-4E19-9A62-0B1C2D3E4F51}\\Microsoft\\Outlook Express\\Inbox.dbx";
        form.ShowState(longStatus);
        QString shown = form.StatesLabel->text();
        shown.remove(QChar(0x200B));
        QCOMPARE(shown, longStatus);
        const QRect label = form.StatesLabel->geometry();
        QVERIFY(label.height() >= form.StatesLabel->heightForWidth(label.width()));
        QVERIFY(label.height() > 2 * form.StatesLabel->fontMetrics().height());
        QVERIFY(label.right() < form.width());
        QVERIFY2(form.ProgressBar->y() > label.bottom(), "the bar is not covered");
        QVERIFY(form.CancelButton->geometry().bottom() < form.height());
        const QSize grown = form.size();
        QVERIFY(grown.height() > 194);
        form.ShowState("Compress Data ...");
        QCOMPARE(form.size(), grown);
        QCOMPARE(form.StatesLabel->text(), QString("Compress Data ..."));
    }

    void percentTextHasNoLeadingZerosAndABlankBeforeThePercentSign() {
        const std::pair<int, const char*> cases[] = {{0, "0 %"}, {5, "5 %"}, {42, "42 %"}, {100, "100 %"}};
        for (auto [percent, text] : cases) QCOMPARE(TProgressForm::PercentText(static_cast<uint8_t>(percent)), QString(text));
    }

    void cancelWithoutAHandlerDoesNothing() {
        TProgressForm form;
        QTest::mouseClick(form.CancelButton, Qt::LeftButton);
        QVERIFY(form.CancelButton->isEnabled());
    }

    // Clicks, Escape and a close of the window: one cancel request in all, and the dialog
    // stays until the run's end takes it down.
    void onlyTheFirstCancelRequestGoesThrough() {
        TProgressForm form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        int requests = 0;
        QObject* sender = nullptr;
        form.OnCancel = [&](QObject* from) {
            ++requests;
            sender = from;
        };
        QTest::keyClick(&form, Qt::Key_Escape);
        QCOMPARE(requests, 1);
        QCOMPARE(sender, &form);
        QVERIFY(!form.CancelButton->isEnabled());
        form.CancelButton->click();
        form.CancelButtonClick();
        QTest::keyClick(&form, Qt::Key_Escape);
        QVERIFY(!form.close());
        QCOMPARE(requests, 1);
        QVERIFY(form.isVisible());
    }

    // Names in the status and in message boxes come from data files and servers: markup in them
    // shows as it is.
    void outsideTextShowsAsPlainText() {
        const QString markup = "<b>big</b><img src=x>";
        TProgressForm form;
        form.ShowState(markup);
        QCOMPARE(form.StatesLabel->textFormat(), Qt::PlainText);
        QCOMPARE(form.StatesLabel->text().remove(QChar(0x200B)), markup);

        ts::ui::QtPrompts prompts;
        QStringList shown;
        for (int box = 0; box < 3; ++box) {
            QTimer::singleShot(50, [&] {
                auto* open = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                if (!open) return;
                if (open->textFormat() == Qt::PlainText) shown << open->text();
                open->done(QMessageBox::No);
            });
            if (box == 0) prompts.message(nullptr, markup, "Error", ts::MessageIcon::Error);
            if (box == 1) prompts.endOfRun(nullptr, markup, {}, "details", {});
            if (box == 2) prompts.question(nullptr, markup);
        }
        QCOMPARE(shown, QStringList({markup, markup, markup}));
    }

    void theAnimationPlays() {
        TProgressForm form;
        form.show();
        const QImage first = form.Animate->grab().toImage();
        QTRY_VERIFY(form.Animate->grab().toImage() != first);
    }
};

QTEST_MAIN(ProgressFormTest)
#include "progress_form_test.moc"
