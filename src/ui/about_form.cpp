#include "ui/about_form.h"

#include <QGridLayout>
#include <QKeyEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/pictures.h"
#include "ui/prompts.h"
#include "ui/window_layout.h"

namespace ts::ui {

namespace {

// A label that looks and acts like a link but hands its address to Prompts, so the
// desktop's mail program or browser opens (and a test sees the request instead).
class LinkLabel : public QLabel {
public:
    LinkLabel(const QString& text, std::function<void()> onClick, QWidget* parent)
        : QLabel(text, parent), onClick_(std::move(onClick)) {
        QFont font = this->font();
        font.setUnderline(true);
        setFont(font);
        // The theme's own link colour, readable on a light and a dark palette alike.
        QPalette palette = this->palette();
        palette.setColor(QPalette::WindowText, palette.color(QPalette::Link));
        setPalette(palette);
        setCursor(Qt::PointingHandCursor);
        setWordWrap(true);
        // Reached by Tab and opened with Enter or Space, as a link in a browser is.
        setFocusPolicy(Qt::StrongFocus);
        setAccessibleName(QString(text).replace('\n', ' '));
        setAccessibleDescription("Link");
    }

protected:
    void mouseReleaseEvent(QMouseEvent* event) override {
        QLabel::mouseReleaseEvent(event);
        onClick_();
    }
    void keyPressEvent(QKeyEvent* event) override {
        const int key = event->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
            onClick_();
            return;
        }
        QLabel::keyPressEvent(event);
    }
    void paintEvent(QPaintEvent* event) override {
        QLabel::paintEvent(event);
        if (!hasFocus()) return;
        QPainter painter(this);
        QStyleOptionFocusRect option;
        option.initFrom(this);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }

private:
    std::function<void()> onClick_;
};

}  // namespace

TAboutForm::TAboutForm(Prompts& prompts, QWidget* parent) : QDialog(parent), prompts_(prompts) {
    setObjectName("AboutForm");
    setWindowTitle("About");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 12);
    auto* head = new QHBoxLayout;
    auto* icon = new QLabel(this);
    icon->setPixmap(programIcon().pixmap(32, 32));
    icon->setFixedSize(32, 32);
    auto* title = new QLabel("Tessaly V1", this);
    QFont titleFont = title->font();
    titleFont.setBold(true);
    titleFont.setPixelSize(16);
    title->setFont(titleFont);
    head->addWidget(icon);
    head->addSpacing(10);
    head->addWidget(title, 1);
    layout->addLayout(head);
    layout->addSpacing(12);
    auto* about = new QLabel(
        "Backs up and restores the mail store, accounts, address book, favorites and browser settings "
        "kept in a Wine prefix, into one data file.",
        this);
    about->setWordWrap(true);
    layout->addWidget(about);
    layout->addSpacing(12);
    auto* contact = new LinkLabel(QString("Questions or trouble? Write to us at\n%1").arg(kSupportMail),
                                  [this] { ContactLabelClick(); }, this);
    contact->setObjectName("ContactLabel");
    layout->addWidget(contact);
    layout->addSpacing(6);
    auto* website = new LinkLabel(QString("News and updates are on our web site\n%1").arg(kWebsite),
                                  [this] { WebsiteLabelClick(); }, this);
    website->setObjectName("WebsiteLabel");
    layout->addWidget(website);
    layout->addStretch(1);
    auto* ok = new QPushButton("&OK", this);
    ok->setObjectName("OkButton");
    ok->setDefault(true);
    layout->addLayout(buttonRow({ok}));
    // Enter presses the default button; Esc rejects, which closes the box the same way.
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    // The box opens on OK, so Enter closes it; Tab then reaches the two links.
    setTabOrder(ok, contact);
    setTabOrder(contact, website);
    ok->setFocus();
    fixDesignedSize(this, QSize(368, 304));
}

void TAboutForm::ContactLabelClick() { prompts_.openUrl(QString("mailto:") + kSupportMail); }

void TAboutForm::WebsiteLabelClick() { prompts_.openUrl(kWebsite); }

}  // namespace ts::ui
