#include "scripted_prompts.h"

#include <QUrl>

namespace ts::ui {

namespace {

template <typename T>
T takeFront(std::deque<T>& queue, T otherwise) {
    if (queue.empty()) return otherwise;
    T answer = queue.front();
    queue.pop_front();
    return answer;
}

}  // namespace

void ScriptedPrompts::message(QWidget*, const QString& text, const QString& caption, MessageIcon icon) {
    shown.push_back({text, caption, icon});
}

void ScriptedPrompts::endOfRun(QWidget*, const QString& text, const QString& informative, const QString& details,
                               const QString& folder) {
    shown.push_back({text, QStringLiteral("Information"), MessageIcon::Information, details, informative, folder});
    if (folder.isEmpty() || openFolder.empty()) return;
    const bool open = openFolder.front();
    openFolder.pop_front();
    if (open) openUrl(QUrl::fromLocalFile(folder).toString());
}

bool ScriptedPrompts::question(QWidget*, const QString& text) {
    shown.push_back({text, QStringLiteral("Question"), MessageIcon::Question});
    return takeFront(questions, false);
}

std::optional<QString> ScriptedPrompts::openFile(QWidget*, const QString& filter, const QString& defaultSuffix) {
    fileFilters << filter;
    fileSuffixes << defaultSuffix;
    return takeFront(files, std::optional<QString>());
}

std::optional<QString> ScriptedPrompts::saveFile(QWidget* parent, const QString& filter, const QString& defaultSuffix) {
    return openFile(parent, filter, defaultSuffix);
}

std::optional<QString> ScriptedPrompts::chooseFolder(QWidget*, const QString& prompt) {
    folderPrompts << prompt;
    return takeFront(folders, std::optional<QString>());
}

std::optional<QString> ScriptedPrompts::askPassword(QWidget*) {
    ++passwordQuestions;
    return takeFront(passwords, std::optional<QString>());
}

}  // namespace ts::ui
