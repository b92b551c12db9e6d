#include "tovelle_icon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace tovelle {

QImage DrawTovelleIcon(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);

    // A blue tile: the colour the relief is drawn on.
    QLinearGradient sky(0, 0, 0, 64);
    sky.setColorAt(0, QColor(40, 90, 230));
    sky.setColorAt(1, QColor(10, 30, 140));
    p.setPen(Qt::NoPen);
    p.setBrush(sky);
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 11, 11);

    // An open book lying flat...
    QPainterPath page;
    page.moveTo(6, 50);
    page.lineTo(32, 56);
    page.lineTo(58, 50);
    page.lineTo(58, 44);
    page.lineTo(32, 49);
    page.lineTo(6, 44);
    page.closeSubpath();
    p.setBrush(QColor(245, 240, 225));
    p.drawPath(page);
    p.setPen(QPen(QColor(150, 140, 120), 1));
    p.drawLine(QPointF(32, 49), QPointF(32, 56));

    // ...with three layers of a landscape standing up out of it, the nearest
    // brightest, as a depth image would paint them.
    const struct {
        QColor colour;
        qreal top;
        qreal base;
    } layers[] = {
        {QColor(70, 140, 80), 14, 44},
        {QColor(120, 185, 90), 24, 46},
        {QColor(235, 200, 90), 33, 48},
    };
    for (const auto &layer : layers) {
        QPainterPath hill;
        hill.moveTo(9, layer.base);
        hill.cubicTo(18, layer.top - 2, 28, layer.top + 10, 36, layer.top);
        hill.cubicTo(44, layer.top - 8, 52, layer.top + 8, 55, layer.base);
        hill.closeSubpath();
        p.setPen(QPen(layer.colour.darker(150), 1));
        p.setBrush(layer.colour);
        p.drawPath(hill);
    }
    p.end();
    return image;
}

QIcon TovelleIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) icon.addPixmap(QPixmap::fromImage(DrawTovelleIcon(size)));
    return icon;
}

} // namespace tovelle
