#include "ui/qt/icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <initializer_list>

namespace ui {
namespace {

// The SVG's paths, in its 48-unit view box.
void polyline(QPainter& p, std::initializer_list<QPointF> points, const QColor& colour, double width) {
    QPainterPath path;
    path.moveTo(*points.begin());
    for (auto it = points.begin() + 1; it != points.end(); ++it) path.lineTo(*it);
    p.setPen(QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
}

QPixmap draw(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 48.0, size / 48.0);
    p.setClipRect(QRectF(0, 0, 48, 48));
    p.setPen(QPen(QColor(0x5a, 0x5a, 0x2a), 2));
    p.setBrush(QColor(0xff, 0xff, 0xc0));
    p.drawRoundedRect(QRectF(2, 2, 44, 44), 7, 7);
    polyline(p, {{7, 38}, {11, 38}, {11, 34}, {15, 34}, {15, 38}, {19, 38}, {19, 34}, {23, 34}, {23, 38}, {27, 38},
                 {27, 34}, {31, 34}, {31, 38}, {35, 38}, {35, 34}, {39, 34}, {39, 38}, {43, 38}, {43, 34}, {47, 34}},
             QColor(0x00, 0x00, 0xff), 1.6);  // SCL
    polyline(p, {{7, 30}, {13, 30}, {15, 33}, {23, 33}, {25, 30}, {33, 30}, {35, 33}, {44, 33}},
             QColor(0xc0, 0x00, 0x00), 1.6);  // SDA
    polyline(p, {{6, 19}, {12, 19}, {14, 14}, {18, 24}, {22, 14}, {26, 24}, {30, 14}, {34, 24}, {36, 19}, {42, 19}},
             QColor(0x20, 0x20, 0x20), 2.4);  // the resistor
    polyline(p, {{24, 5}, {24, 9}}, QColor(0x20, 0x20, 0x20), 2.2);  // the wiper
    QPainterPath arrow;
    arrow.moveTo(19, 8);
    arrow.lineTo(24, 13.5);
    arrow.lineTo(29, 8);
    arrow.closeSubpath();
    p.fillPath(arrow, QColor(0x20, 0x20, 0x20));
    return pixmap;
}

}  // namespace

QIcon programIcon() {
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128}) icon.addPixmap(draw(size));
    return icon;
}

}  // namespace ui
