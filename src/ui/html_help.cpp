#include "ui/html_help.h"

#include <chm_lib.h>

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>
#include <memory>

#include "ui/pictures.h"
#include "ui/window_layout.h"
#include "ui/prompts.h"

namespace ts::ui {

namespace {

constexpr char kScheme[] = "chm";

struct ChmCloser {
    void operator()(chmFile* file) const { chm_close(file); }
};
using ChmHandle = std::unique_ptr<chmFile, ChmCloser>;

std::optional<QByteArray> readObject(chmFile* file, const QString& path) {
    chmUnitInfo info{};
    const QByteArray name = path.toUtf8();
    if (chm_resolve_object(file, name.constData(), &info) != CHM_RESOLVE_SUCCESS) return std::nullopt;
    QByteArray bytes(static_cast<qsizetype>(info.length), Qt::Uninitialized);
    LONGINT64 got = chm_retrieve_object(file, &info, reinterpret_cast<unsigned char*>(bytes.data()), 0,
                                        static_cast<LONGINT64>(info.length));
    if (got != static_cast<LONGINT64>(info.length)) return std::nullopt;
    return bytes;
}

// The default topic recorded in the file's #SYSTEM object: a version, then records of
// a 16-bit code, a 16-bit length and the data; code 2 names the default topic.
QString defaultTopic(chmFile* file) {
    if (std::optional<QByteArray> system = readObject(file, "/#SYSTEM")) {
        const QByteArray& s = *system;
        qsizetype at = 4;
        while (at + 4 <= s.size()) {
            const auto byte = [&](qsizetype i) { return static_cast<unsigned>(static_cast<unsigned char>(s[i])); };
            unsigned code = byte(at) | byte(at + 1) << 8;
            unsigned length = byte(at + 2) | byte(at + 3) << 8;
            at += 4;
            if (at + static_cast<qsizetype>(length) > s.size()) break;
            if (code == 2 && length > 0) return "/" + QString::fromLatin1(s.mid(at, length)).section(QChar('\0'), 0, 0);
            at += length;
        }
    }
    return "/index.html";
}

class ChmBrowser : public QTextBrowser {
public:
    ChmBrowser(ChmHandle file, QWidget* parent) : QTextBrowser(parent), file_(std::move(file)) {
        setOpenLinks(false);
        connect(this, &QTextBrowser::anchorClicked, this, [this](const QUrl& link) {
            const QUrl url = link.isRelative() ? source().resolved(link) : link;
            if (url.scheme() == kScheme) setSource(url);
            else QDesktopServices::openUrl(url);
        });
    }
    QVariant loadResource(int type, const QUrl& link) override {
        // Pages name their style sheets, pictures and links relative to themselves.
        const QUrl name = link.isRelative() ? source().resolved(link) : link;
        if (name.scheme() != kScheme) return QTextBrowser::loadResource(type, link);
        if (std::optional<QByteArray> bytes = readObject(file_.get(), name.path())) {
            if (type == QTextDocument::ImageResource) return *bytes;
            if (type == QTextDocument::StyleSheetResource) return QString::fromUtf8(*bytes) + paletteStyle();
            return QString::fromUtf8(*bytes);
        }
        return {};
    }

private:
    // The pages' own colours are for a light page; the window's palette comes last and wins,
    // so the help reads on a dark theme as on a light one.
    QString paletteStyle() const {
        const QPalette& colours = palette();
        const QString text = colours.color(QPalette::Text).name();
        const QString link = colours.color(QPalette::Link).name();
        const QString shade = colours.color(QPalette::AlternateBase).name();
        return QString("\nbody { color: %1; }\nh1, h2 { color: %2; }\na { color: %2; }\ncode, pre { background: %3; }\n")
            .arg(text, link, shade);
    }

    ChmHandle file_;
};

}  // namespace

QString helpFilePath() {
    const QString beside = QCoreApplication::applicationDirPath() + "/ts_help.chm";
    // An installed program keeps it with its data: bin/../share/tessaly.
    const QString installed = QCoreApplication::applicationDirPath() + "/../share/tessaly/ts_help.chm";
    return QFile::exists(beside) || !QFile::exists(installed) ? beside : QDir::cleanPath(installed);
}

QWidget* HtmlHelp(QWidget* caller, const QString& fileName, unsigned command, unsigned) {
    if (command != HH_DISPLAY_TOPIC) return nullptr;
    QString file = fileName;
    QString topic;
    if (qsizetype split = fileName.indexOf("::"); split >= 0) {
        file = fileName.left(split);
        topic = fileName.mid(split + 2);
    }
    ChmHandle chm(chm_open(QFile::encodeName(file).constData()));
    if (!chm) throw EHelpError("Cannot open the help file \"" + file.toStdString() + "\"");
    if (topic.isEmpty()) topic = defaultTopic(chm.get());
    if (!topic.startsWith('/')) topic.prepend('/');
    if (!readObject(chm.get(), QUrl(topic).path()))
        throw EHelpError("The help file \"" + file.toStdString() + "\" holds no topic \"" + topic.toStdString() + "\"");

    auto* window = new QDialog(caller, Qt::Window);
    window->setObjectName("HelpWindow");
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle("Tessaly Help");
    window->setWindowIcon(programIcon());
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* browser = new ChmBrowser(std::move(chm), window);
    browser->setObjectName("HelpBrowser");
    layout->addWidget(browser);
    QUrl start;
    start.setScheme(kScheme);
    start.setPath(QUrl(topic).path());
    start.setFragment(QUrl(topic).fragment());
    browser->setSource(start, QTextDocument::HtmlResource);
    std::optional<QPoint> centre;
    if (caller && caller->window()->isVisible()) centre = caller->window()->geometry().center();
    window->setGeometry(fittedPlace(QSize(640, 520), usableArea(caller ? caller->window() : nullptr), centre));
    window->show();
    return window;
}

QWidget* ShowHelp(Prompts& prompts, QWidget* caller, const QString& fileName) {
    try {
        return HtmlHelp(caller, fileName);
    } catch (const EHelpError& error) {
        prompts.error(caller, QString::fromStdString(error.what()));
        return nullptr;
    }
}

}  // namespace ts::ui
