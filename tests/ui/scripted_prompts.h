#pragma once
// Prompts that answer from a script and remember what was shown: for tests and for
// rendering the windows without a person.
#include <QString>
#include <QStringList>
#include <deque>
#include <vector>

#include "ui/prompts.h"

namespace ts::ui {

class ScriptedPrompts : public Prompts {
public:
    struct Shown {
        QString text;
        QString caption;
        MessageIcon icon;
        QString details = {};
        QString informative = {};
        QString folder = {};  // the end of a run's "Open Folder"
    };
    // Everything the windows showed, in order (question boxes too, with the Question icon).
    std::vector<Shown> shown;
    // Filters and suffixes the file choosers were opened with; prompts of folder choosers.
    QStringList fileFilters, fileSuffixes, folderPrompts, openedUrls;
    int passwordQuestions = 0;

    // Answers, taken from the front; an empty queue answers "cancel" / "No".
    std::deque<std::optional<QString>> files, folders, passwords;
    std::deque<bool> questions;
    // Whether the end of a run is answered with "Open Folder" (when it offers it).
    std::deque<bool> openFolder;

    void message(QWidget* parent, const QString& text, const QString& caption, MessageIcon icon) override;
    void endOfRun(QWidget* parent, const QString& text, const QString& informative, const QString& details,
                  const QString& folder) override;
    bool question(QWidget* parent, const QString& text) override;
    std::optional<QString> openFile(QWidget* parent, const QString& filter, const QString& defaultSuffix) override;
    std::optional<QString> saveFile(QWidget* parent, const QString& filter, const QString& defaultSuffix) override;
    std::optional<QString> chooseFolder(QWidget* parent, const QString& prompt) override;
    std::optional<QString> askPassword(QWidget* parent) override;
    void openUrl(const QString& url) override { openedUrls << url; }
    void notify(const QString& summary, const QString& body) override { notifications << summary + ": " + body; }
    // "SUMMARY: BODY" of each desktop notification.
    QStringList notifications;
};

}  // namespace ts::ui
