#include "app/app_icon.h"

#include <QPainter>
#include <QPainterPath>

namespace {

// Three characters growing to the right on a white card, as the desktop
// file's SVG draws them.
QPixmap drawnIcon(int side)
{
    QPixmap pixmap(side, side);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(side / 64.0, side / 64.0);
    painter.setPen(QPen(QColor(70, 80, 100), 2));
    painter.setBrush(Qt::white);
    painter.drawRoundedRect(QRectF(3, 3, 58, 58), 10, 10);
    const struct {
        QRectF box;
        QColor colour;
    } marks[] = {
        {QRectF(9, 38, 10, 12), QColor(40, 60, 220)},
        {QRectF(21, 28, 15, 22), QColor(140, 40, 140)},
        {QRectF(38, 14, 19, 36), QColor(230, 30, 30)},
    };
    painter.setPen(Qt::NoPen);
    for (const auto &mark : marks) {
        painter.setBrush(mark.colour);
        QPainterPath bang;
        const QRectF &b = mark.box;
        bang.addRoundedRect(QRectF(b.center().x() - b.width() * 0.18, b.top(), b.width() * 0.36,
                                   b.height() * 0.68), 2, 2);
        bang.addEllipse(QPointF(b.center().x(), b.bottom() - b.width() * 0.2), b.width() * 0.2,
                        b.width() * 0.2);
        painter.drawPath(bang);
    }
    return pixmap;
}

} // namespace

QIcon appIcon()
{
    QIcon drawn;
    for (int side : {16, 24, 32, 48, 64, 128, 256})
        drawn.addPixmap(drawnIcon(side));
    return QIcon::fromTheme(QStringLiteral("quillow"), drawn);
}
