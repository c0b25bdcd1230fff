#include "window/icons.h"

#include <QPainter>
#include <QPixmap>

namespace Icons {

QIcon Themed(const char *name, QStyle::StandardPixmap fallback, QStyle *style)
{
    return QIcon::fromTheme(QLatin1String(name), style->standardIcon(fallback));
}

QIcon Go(const QFont &font)
{
    QPixmap pixmap(36, 20);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x2e, 0x8b, 0x3e));
    painter.drawEllipse(QRectF(1, 2, 16, 16));
    painter.setBrush(Qt::white);
    const QPointF arrow[3] = {QPointF(6.5, 5.5), QPointF(13.5, 10), QPointF(6.5, 14.5)};
    painter.drawPolygon(arrow, 3);
    QFont bold = font;
    bold.setBold(true);
    painter.setFont(bold);
    painter.setPen(QColor(0x20, 0x20, 0x20));
    painter.drawText(QRectF(18, 0, 18, 20), Qt::AlignCenter, QStringLiteral("Go"));
    return QIcon(pixmap);
}

QIcon Home()
{
    QPixmap pixmap(24, 24);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(0x2b, 0x4c, 0x7e), 1.5));
    painter.setBrush(QColor(0xc9, 0x4f, 0x3c));
    const QPointF roof[3] = {QPointF(2.5, 12), QPointF(12, 3), QPointF(21.5, 12)};
    painter.drawPolygon(roof, 3);
    painter.setBrush(QColor(0xf4, 0xf0, 0xe6));
    painter.drawRect(QRectF(5.5, 12, 13, 9.5));
    painter.setBrush(QColor(0x6b, 0x4a, 0x2b));
    painter.drawRect(QRectF(10, 15, 4, 6.5));
    return QIcon(pixmap);
}

QIcon CloseTab()
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(0x50, 0x50, 0x50), 2.0, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(4, 4), QPointF(12, 12));
    painter.drawLine(QPointF(12, 4), QPointF(4, 12));
    return QIcon(pixmap);
}

} // namespace Icons
