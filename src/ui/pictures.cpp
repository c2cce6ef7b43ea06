#include "ui/pictures.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>

static void initPictureResources() { Q_INIT_RESOURCE(pictures); }

namespace ts::ui {

namespace {

QPixmap resource(const char* name) {
    static const bool loaded = (initPictureResources(), true);
    (void)loaded;
    return QPixmap(QString(":/pictures/") + name);
}

QIcon standard(QStyle::StandardPixmap which) { return QApplication::style()->standardIcon(which); }

// A padlock over the document icon: the theme has no standard "locked" picture.
QIcon encryptedIcon() {
    QPixmap picture = standard(QStyle::SP_FileIcon).pixmap(32, 32);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0x5a, 0x45, 0x10), 2.5));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(16, 12, 10, 12), 5, 5);
    p.setPen(QPen(QColor(0x5a, 0x45, 0x10), 1));
    p.setBrush(QColor(0xe0, 0xb0, 0x4a));
    p.drawRoundedRect(QRectF(13.5, 18.5, 15, 11), 2, 2);
    p.setBrush(QColor(0x5a, 0x45, 0x10));
    p.drawEllipse(QPointF(21, 23.5), 1.6, 1.6);
    return QIcon(picture);
}

}  // namespace

QPixmap bannerPicture() { return resource("banner.jpg"); }
QPixmap backgroundPicture() { return resource("background.jpg"); }

QIcon programIcon() {
    QIcon icon;
    for (const char* name : {"icon-32.png", "icon-48.png", "icon-256.png"}) icon.addPixmap(resource(name));
    return icon;
}

QIcon itemIcon(int row) {
    switch (row) {
        case 0: return standard(QStyle::SP_ComputerIcon);
        case 1: return standard(QStyle::SP_DirLinkIcon);
        case 2: return standard(QStyle::SP_DriveHDIcon);
        case 3: return standard(QStyle::SP_FileDialogContentsView);
        default: return standard(QStyle::SP_FileIcon);
    }
}

QIcon itemIconForCaption(const QString& caption) {
    static const char* captions[] = {"IE Settings", "Favorites", "Outlook Express Data", "Windows Address Book"};
    for (int row = 0; row < 4; ++row)
        if (caption.compare(captions[row], Qt::CaseInsensitive) == 0) return itemIcon(row);
    return itemIcon(-1);
}

QIcon rowMarkIcon(RowMark mark) {
    switch (mark) {
        case RowMark::Invalid: return standard(QStyle::SP_MessageBoxCritical);
        case RowMark::Valid: return standard(QStyle::SP_FileIcon);
        case RowMark::Encrypted: return encryptedIcon();
        case RowMark::Damaged: return standard(QStyle::SP_MessageBoxWarning);
    }
    return {};
}

}  // namespace ts::ui
