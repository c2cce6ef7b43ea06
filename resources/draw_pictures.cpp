// Draws the program's pictures: the dialogs' banner, the main window's background and the
// program icon. Run by hand when they change; the results are kept in this folder.
//   tessaly-draw-pictures <folder>
#include <QApplication>
#include <QDir>
#include <QFont>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace {

const QColor kDeep(0x1f, 0x3a, 0x5f);
const QColor kSea(0x3d, 0x6f, 0x9e);
const QColor kMist(0xe8, 0xef, 0xf6);
const QColor kGold(0xe0, 0xb0, 0x4a);

// Three overlapping tiles: the mark that stands for the name.
void drawMark(QPainter& p, QRectF box) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = box.width() / 2.2;
    const QPointF c = box.center();
    const QColor colours[3] = {kGold, QColor(0x9c, 0xc3, 0xe6), Qt::white};
    const QPointF offsets[3] = {{-0.35, 0.25}, {0.35, 0.25}, {0.0, -0.35}};
    for (int i = 0; i < 3; ++i) {
        QPainterPath tile;
        QPointF o = c + QPointF(offsets[i].x() * s, offsets[i].y() * s);
        tile.moveTo(o + QPointF(0, -s * 0.55));
        tile.lineTo(o + QPointF(s * 0.55, 0));
        tile.lineTo(o + QPointF(0, s * 0.55));
        tile.lineTo(o + QPointF(-s * 0.55, 0));
        tile.closeSubpath();
        QColor fill = colours[i];
        fill.setAlpha(225);
        p.setPen(QPen(kDeep.darker(130), qMax<qreal>(1.0, s / 14)));
        p.setBrush(fill);
        p.drawPath(tile);
    }
    p.restore();
}

QImage banner() {
    QImage image(457, 49, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 457, 0);
    sky.setColorAt(0, kDeep);
    sky.setColorAt(1, kSea);
    p.fillRect(image.rect(), sky);
    p.setPen(QPen(QColor(255, 255, 255, 40), 1));
    for (int x = -49; x < 457; x += 14) p.drawLine(x, 49, x + 49, 0);
    drawMark(p, QRectF(8, 4, 41, 41));
    QFont title("DejaVu Sans", 17, QFont::Bold);
    p.setFont(title);
    p.setPen(Qt::white);
    p.drawText(QRectF(58, 3, 250, 28), Qt::AlignLeft | Qt::AlignVCenter, "Tessaly");
    QFont line("DejaVu Sans", 8);
    p.setFont(line);
    p.setPen(kMist);
    p.drawText(QRectF(59, 28, 300, 16), Qt::AlignLeft | Qt::AlignVCenter, "Mail, addresses and favorites, kept safe");
    p.fillRect(QRectF(0, 47, 457, 2), kGold);
    return image;
}

QImage background() {
    QImage image(640, 480, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient glow(QPointF(420, 140), 620);
    glow.setColorAt(0, QColor(0xf7, 0xfa, 0xfd));
    glow.setColorAt(1, QColor(0xc9, 0xd8, 0xe8));
    p.fillRect(image.rect(), glow);
    // Soft hills of tiles along the bottom.
    for (int row = 0; row < 3; ++row) {
        QColor colour = kSea;
        colour.setAlpha(40 + row * 25);
        p.setPen(Qt::NoPen);
        p.setBrush(colour);
        QPainterPath hill;
        hill.moveTo(0, 480);
        for (int x = 0; x <= 640; x += 40) hill.lineTo(x, 390 + row * 25 + ((x / 40 + row) % 2 ? -12 : 12));
        hill.lineTo(640, 480);
        hill.closeSubpath();
        p.drawPath(hill);
    }
    drawMark(p, QRectF(250, 120, 140, 140));
    QFont title("DejaVu Sans", 34, QFont::Bold);
    p.setFont(title);
    p.setPen(kDeep);
    p.drawText(QRectF(0, 270, 640, 60), Qt::AlignCenter, "Tessaly");
    QFont line("DejaVu Sans", 11);
    p.setFont(line);
    p.setPen(kSea.darker(120));
    p.drawText(QRectF(0, 325, 640, 24), Qt::AlignCenter, "Back up and restore your mail, accounts, address book and favorites");
    return image;
}

QImage icon(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QRectF plate(size * 0.03, size * 0.03, size * 0.94, size * 0.94);
    QLinearGradient fill(0, 0, 0, size);
    fill.setColorAt(0, kSea);
    fill.setColorAt(1, kDeep);
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(plate, size * 0.18, size * 0.18);
    drawMark(p, plate.adjusted(size * 0.08, size * 0.1, -size * 0.08, -size * 0.06));
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QDir folder(argc > 1 ? argv[1] : ".");
    bool ok = banner().save(folder.filePath("banner.jpg"), "JPEG", 92) &&
              background().save(folder.filePath("background.jpg"), "JPEG", 90);
    for (int size : {32, 48, 256}) ok = ok && icon(size).save(folder.filePath(QString("icon-%1.png").arg(size)), "PNG");
    return ok ? 0 : 1;
}
