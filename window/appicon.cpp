#include "window/appicon.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

QIcon kestrelonIcon() {
    QSvgRenderer renderer(QStringLiteral(":/icons/kestrelon.svg"));
    QIcon icon;
    if (!renderer.isValid())
        return icon;
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        renderer.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}
