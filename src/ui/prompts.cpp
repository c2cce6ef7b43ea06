#include "ui/prompts.h"

#include <algorithm>

#include <QDesktopServices>
#include <QFileDialog>
#include <QLabel>
#include <QScreen>
#include <QGuiApplication>
#include <QDBusConnection>
#include <QDBusInterface>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>
#include <QUrl>

#include "ui/single_password_form.h"

namespace ts::ui {

namespace {

// Messages carry names from data files, project files, servers and the file system; a name
// that looks like markup must show as it is, not be rendered.
void plainText(QMessageBox& box) { box.setTextFormat(Qt::PlainText); }

}  // namespace

void Prompts::generalError(QWidget* parent, const QString& text) {
    QString shown = text;
    if (!shown.isEmpty() && shown.back() > QChar('.')) shown += QChar('.');
    message(parent, shown, QStringLiteral("Tessaly"), MessageIcon::Error);
}

QString toQtFilter(const QString& filter) {
    const QStringList parts = filter.split(QChar('|'));
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(QChar(';'), QChar(' '));
        out << parts[i] + QStringLiteral(" (") + patterns + QChar(')');
    }
    return out.join(QStringLiteral(";;"));
}

void QtPrompts::message(QWidget* parent, const QString& text, const QString& caption, MessageIcon icon) {
    QMessageBox::Icon qtIcon = icon == MessageIcon::Error      ? QMessageBox::Critical
                               : icon == MessageIcon::Question ? QMessageBox::Question
                                                               : QMessageBox::Information;
    QMessageBox box(qtIcon, caption, text, QMessageBox::Ok, parent);
    plainText(box);
    box.exec();
}

void QtPrompts::endOfRun(QWidget* parent, const QString& text, const QString& informative, const QString& details,
                         const QString& folder) {
    QMessageBox box(QMessageBox::Information, QStringLiteral("Information"), text, QMessageBox::Ok, parent);
    plainText(box);
    if (!informative.isEmpty()) box.setInformativeText(informative);
    if (!details.isEmpty()) box.setDetailedText(details);
    // The report names whole paths: a box of a readable width, as far as the screen allows.
    if (auto* report = box.findChild<QLabel*>("qt_msgbox_informativelabel")) {
        const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
        const int room = screen ? screen->availableGeometry().width() - 120 : 480;
        report->setMinimumWidth(std::clamp(room, 200, 480));
    }
    QPushButton* open = folder.isEmpty() ? nullptr : box.addButton(QStringLiteral("Open &Folder"), QMessageBox::ActionRole);
    box.setDefaultButton(QMessageBox::Ok);
    box.exec();
    if (open && box.clickedButton() == open) openUrl(QUrl::fromLocalFile(folder).toString());
}

bool QtPrompts::question(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Question"), text, QMessageBox::Yes | QMessageBox::No, parent);
    plainText(box);
    return box.exec() == QMessageBox::Yes;
}

namespace {

std::optional<QString> runFileDialog(QWidget* parent, const QString& filter, const QString& suffix,
                                     QFileDialog::AcceptMode mode) {
    QFileDialog dialog(parent);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setNameFilter(toQtFilter(filter));
    dialog.setDefaultSuffix(suffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().front();
}

}  // namespace

std::optional<QString> QtPrompts::openFile(QWidget* parent, const QString& filter, const QString& defaultSuffix) {
    return runFileDialog(parent, filter, defaultSuffix, QFileDialog::AcceptOpen);
}

std::optional<QString> QtPrompts::saveFile(QWidget* parent, const QString& filter, const QString& defaultSuffix) {
    return runFileDialog(parent, filter, defaultSuffix, QFileDialog::AcceptSave);
}

std::optional<QString> QtPrompts::chooseFolder(QWidget* parent, const QString& prompt) {
    QString folder = QFileDialog::getExistingDirectory(parent, prompt, QString(), QFileDialog::ShowDirsOnly);
    if (folder.isEmpty()) return std::nullopt;
    return folder;
}

std::optional<QString> QtPrompts::askPassword(QWidget* parent) {
    TSinglePasswordForm form(*this, parent);
    if (form.exec() != QDialog::Accepted) return std::nullopt;
    return form.Password();
}

void QtPrompts::openUrl(const QString& url) { QDesktopServices::openUrl(QUrl(url)); }

void QtPrompts::notify(const QString& summary, const QString& body) {
    QDBusInterface service("org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                           "org.freedesktop.Notifications", QDBusConnection::sessionBus());
    if (!service.isValid()) return;
    // Sent without waiting for an answer: a slow service never holds the window up.
    service.call(QDBus::NoBlock, "Notify", QGuiApplication::applicationDisplayName(), 0u,
                 QGuiApplication::desktopFileName(), summary, body, QStringList(), QVariantMap(), -1);
}

}  // namespace ts::ui
