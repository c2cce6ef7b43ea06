#pragma once
// Every modal message box, file or folder chooser, password question and shell request of
// the windows goes through Prompts, so that a test can answer them from a script and drive
// a whole dialog without a person.
#include <QString>
#include <optional>

#include "platform/user_messages.h"

class QWidget;

namespace ts::ui {

class Prompts {
public:
    virtual ~Prompts() = default;

    // A box with an OK button.
    virtual void message(QWidget* parent, const QString& text, const QString& caption, MessageIcon icon) = 0;
    // The box at the end of a run: "Information", text ("Finished!" or "User canceled!"),
    // informative below it, details behind a button, and an "Open Folder" button that shows
    // folder in the desktop's file manager when folder is not empty.
    virtual void endOfRun(QWidget* parent, const QString& text, const QString& informative, const QString& details,
                          const QString& folder) = 0;
    // "Question", question icon, Yes and No; true for Yes.
    virtual bool question(QWidget* parent, const QString& text) = 0;
    // filter in the form "Tessaly Data File(*.tsly_dat)|*.tsly_dat" (description|pattern
    // pairs); defaultSuffix without the dot. nullopt when the user cancels.
    virtual std::optional<QString> openFile(QWidget* parent, const QString& filter, const QString& defaultSuffix) = 0;
    virtual std::optional<QString> saveFile(QWidget* parent, const QString& filter, const QString& defaultSuffix) = 0;
    virtual std::optional<QString> chooseFolder(QWidget* parent, const QString& prompt) = 0;
    // The small password dialog; nullopt when cancelled.
    virtual std::optional<QString> askPassword(QWidget* parent) = 0;
    // Hands a "mailto:" or web address to the desktop.
    virtual void openUrl(const QString& url) = 0;
    // A desktop notification (the freedesktop notification service): a title and one line.
    // Nothing happens where no such service runs.
    virtual void notify(const QString& summary, const QString& body) = 0;

    // The shorthands for the three kinds of box every window uses.
    void error(QWidget* parent, const QString& text) { message(parent, text, QStringLiteral("Error"), MessageIcon::Error); }
    void information(QWidget* parent, const QString& text) {
        message(parent, text, QStringLiteral("Information"), MessageIcon::Information);
    }
    // The program's report of a failure no window handled: caption "Tessaly", a full stop
    // added when the text ends in a letter or digit.
    void generalError(QWidget* parent, const QString& text);
};

// The real boxes and choosers of the desktop.
class QtPrompts : public Prompts {
public:
    void message(QWidget* parent, const QString& text, const QString& caption, MessageIcon icon) override;
    void endOfRun(QWidget* parent, const QString& text, const QString& informative, const QString& details,
                  const QString& folder) override;
    bool question(QWidget* parent, const QString& text) override;
    std::optional<QString> openFile(QWidget* parent, const QString& filter, const QString& defaultSuffix) override;
    std::optional<QString> saveFile(QWidget* parent, const QString& filter, const QString& defaultSuffix) override;
    std::optional<QString> chooseFolder(QWidget* parent, const QString& prompt) override;
    std::optional<QString> askPassword(QWidget* parent) override;
    void openUrl(const QString& url) override;
    void notify(const QString& summary, const QString& body) override;
};

// "Desc(*.x)|*.x|..." as a Qt name filter list "Desc(*.x) (*.x);;...".
QString toQtFilter(const QString& filter);

}  // namespace ts::ui
