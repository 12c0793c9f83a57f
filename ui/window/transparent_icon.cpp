#include "ui/window/transparent_icon.h"

#include <QPixmap>

namespace orlenta {

QIcon TransparentIcon() {
    QPixmap pixmap(TransparentIconSize);
    pixmap.fill(Qt::transparent);
    return QIcon(pixmap);
}

}  // namespace orlenta
