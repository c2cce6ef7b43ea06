// Every window on the screen it is shown on, at any scale (ctest runs this at 1x, 1.5x and 2x
// on a 1440x900 screen), and readable on a dark palette.
#include <QApplication>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStatusBar>
#include <QStyle>
#include <QTest>
#include <QTextBrowser>

#include <cmath>
#include <memory>

#include "dark_palette.h"
#include "window_profile.h"
#include "ui/about_form.h"
#include "ui/backup_form.h"
#include "ui/history_projects_form.h"
#include "ui/html_help.h"
#include "ui/main_form.h"
#include "ui/progress_form.h"
#include "ui/project_manager_form.h"
#include "ui/restore_form.h"
#include "scripted_prompts.h"
#include "ui/select_project_form.h"
#include "ui/single_password_form.h"
#include "ui/window_layout.h"

using namespace ts;
using namespace ts::ui;

namespace {

// The contrast ratio of two colours as the accessibility guidelines define it (1 to 21).
double contrast(const QColor& a, const QColor& b) {
    auto luminance = [](const QColor& c) {
        auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
    };
    const double x = luminance(a), y = luminance(b);
    return (std::max(x, y) + 0.05) / (std::min(x, y) + 0.05);
}

QRect onScreen(const QWidget* widget) { return QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size()); }

bool insideScrolledBody(const QWidget* widget) {
    for (const QWidget* up = widget->parentWidget(); up; up = up->parentWidget())
        if (up->objectName() == kBodyAreaName) return true;
    return false;
}

}  // namespace

class ScreenAndThemeTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::WindowProfile> world;
    ScriptedPrompts prompts;
    std::unique_ptr<TMainForm> main;

    QWidget* makeDialog(const QString& which) {
        if (which == "backup") return new TBackupForm(prompts, main.get());
        if (which == "restore") return new TRestoreForm(prompts, main.get());
        if (which == "password") return new TSinglePasswordForm(prompts, main.get());
        if (which == "start choice") return new TSelectProjectForm(main.get());
        if (which == "history") return new THistoryProjectsForm(prompts, main.get());
        if (which == "project manager") return new TProjectManagerForm(prompts, main.get());
        if (which == "about") return new TAboutForm(prompts, main.get());
        if (which == "progress") return new TProgressForm(main.get());
        return HtmlHelp(main.get(), TESSALY_HELP_FILE);
    }

private slots:
    void init() {
        world = std::make_unique<test::WindowProfile>();
        main = std::make_unique<TMainForm>(prompts, world->settings, world->chosen);
        main->show();
        QVERIFY(QTest::qWaitForWindowExposed(main.get()));
    }
    void cleanup() {
        main.reset();
        world.reset();
        QApplication::setPalette(QApplication::style()->standardPalette());
    }

    // The main window, its menu and its status bar are in the free area of the screen.
    void theMainWindowFitsTheScreen() {
        const QRect free = main->screen()->availableGeometry();
        const auto describe = [](const QRect& r) {
            return QString("%1x%2 at %3,%4").arg(r.width()).arg(r.height()).arg(r.x()).arg(r.y());
        };
        QVERIFY2(free.contains(main->geometry()), qPrintable(describe(main->geometry()) + " on " + describe(free)));
        QVERIFY(free.contains(onScreen(main->ActionMainMenuBar)));
        QVERIFY(free.contains(onScreen(main->StatusBar)));
    }

    // Each window fits the screen with its buttons in view, centred on the main window as
    // far as the screen allows.
    void everyDialogFitsTheScreenCentredOnTheMainWindow_data() {
        QTest::addColumn<QString>("which");
        for (const char* which : {"backup", "restore", "password", "start choice", "history", "project manager", "about",
                                  "progress", "help"})
            QTest::newRow(which) << QString(which);
    }
    void everyDialogFitsTheScreenCentredOnTheMainWindow() {
        QFETCH(QString, which);
        QWidget* made = makeDialog(which);
        QVERIFY(made);
        std::unique_ptr<QWidget> dialog(made);
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
        const QRect free = dialog->screen()->availableGeometry();
        const QRect place = dialog->geometry();
        QVERIFY2(free.contains(place), qPrintable(QString("%1x%2 at %3,%4")
                                                      .arg(place.width())
                                                      .arg(place.height())
                                                      .arg(place.x())
                                                      .arg(place.y())));
        for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
            if (!button->isVisibleTo(dialog.get()) || insideScrolledBody(button)) continue;
            QVERIFY2(place.contains(onScreen(button)), qPrintable(button->objectName() + " is cut off"));
        }
        const QPoint off = place.center() - main->geometry().center();
        const bool pushedByAnEdge = place.top() <= free.top() + kFrameAllowance.height() || place.bottom() >= free.bottom() ||
                                    place.left() <= free.left() + kFrameAllowance.width() || place.right() >= free.right();
        QVERIFY2(off.manhattanLength() <= 2 || pushedByAnEdge,
                 qPrintable(QString("centre off by %1,%2").arg(off.x()).arg(off.y())));
    }

    // The placing rule itself, in logical pixels of a 1440x900 screen at 1x, 1.5x and 2x.
    void fittedPlaceKeepsTheWindowInsideAndItsTitleBarReachable() {
        struct Case {
            QSize wanted;
            QRect area;
            std::optional<QPoint> centre;
            QRect expected;
        } cases[] = {
            {{457, 556}, {0, 40, 1440, 860}, std::nullopt, {491, 192, 457, 556}},
            {{457, 556}, {0, 40, 960, 560}, std::nullopt, {251, 42, 457, 556}},
            {{457, 556}, {0, 40, 720, 410}, std::nullopt, {131, 40, 457, 410}},
            {{300, 200}, {0, 40, 720, 410}, QPoint(700, 440), {420, 250, 300, 200}},
            {{300, 200}, {0, 40, 720, 410}, QPoint(0, 0), {0, 40, 300, 200}},
        };
        for (const Case& c : cases) QCOMPARE(fittedPlace(c.wanted, c.area, c.centre), c.expected);
    }

    // A dark palette: the notices, the About box's links and the help pages keep a readable
    // contrast against what they stand on.
    void aDarkPaletteKeepsEveryTextReadable() {
        const QPalette dark = test::darkPalette();
        QApplication::setPalette(dark);
        for (const QPalette& palette : std::vector<QPalette>{QApplication::style()->standardPalette(), dark}) {
            QApplication::setPalette(palette);
            THistoryProjectsForm history(prompts);
            TAboutForm about(prompts);
            std::vector<QLabel*> texts;
            for (QLabel* label : history.findChildren<QLabel*>())
                if (label->font().bold()) texts.push_back(label);
            texts.push_back(about.findChild<QLabel*>("ContactLabel"));
            texts.push_back(about.findChild<QLabel*>("WebsiteLabel"));
            QVERIFY(texts.size() >= 3);
            for (QLabel* label : texts) {
                const double ratio =
                    contrast(label->palette().color(QPalette::WindowText), label->palette().color(QPalette::Window));
                QVERIFY2(ratio >= 4.5, qPrintable(label->text() + QString(": contrast %1").arg(ratio)));
            }
        }
        QApplication::setPalette(dark);
        std::unique_ptr<QWidget> help(HtmlHelp(main.get(), TESSALY_HELP_FILE));
        auto* browser = help->findChild<QTextBrowser*>("HelpBrowser");
        QVERIFY(browser);
        QTextCursor start(browser->document());
        const QColor text = start.charFormat().foreground().color();
        QVERIFY2(contrast(text, browser->palette().color(QPalette::Base)) >= 4.5, qPrintable(text.name()));
    }
};

QTEST_MAIN(ScreenAndThemeTest)
#include "screen_and_theme_test.moc"
