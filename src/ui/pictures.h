#pragma once
// The program's pictures (kept as Qt resources) and the icons of items and row marks.
#include <QIcon>
#include <QPixmap>

#include "ui/core_calls.h"

namespace ts::ui {

QPixmap bannerPicture();       // 457 x 49
QPixmap backgroundPicture();   // 640 x 480
QIcon programIcon();           // 32 x 32 and larger
// The icon of a backup item by its row in the backup dialog: IE Settings, Favorites,
// Outlook Express Data, Windows Address Book.
QIcon itemIcon(int row);
// The same icon found by the item's caption; a generic one for an unknown caption.
QIcon itemIconForCaption(const QString& caption);
QIcon rowMarkIcon(RowMark mark);

}  // namespace ts::ui
