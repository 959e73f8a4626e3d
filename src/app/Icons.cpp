#include "app/Icons.h"

#include <QPainter>
#include <QPainterPath>

namespace zor::app {

QPixmap drawIcon(Icon icon, int size) {
    // Drawn on a 16 x 16 grid and scaled.
    const qreal dpr = 2.0;
    QPixmap pm(QSize(size, size) * dpr);
    pm.setDevicePixelRatio(dpr);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 16.0, size / 16.0);
    QPen outline(QColor(60, 60, 70), 1.0);
    p.setPen(outline);

    switch (icon) {
        case Icon::Welcome: {  // a star
            QPainterPath star;
            for (int i = 0; i < 10; ++i) {
                const qreal r = (i % 2 == 0) ? 7.0 : 3.0;
                const qreal a = -M_PI / 2 + i * M_PI / 5;
                QPointF pt(8 + r * std::cos(a), 8.5 + r * std::sin(a));
                i == 0 ? star.moveTo(pt) : star.lineTo(pt);
            }
            star.closeSubpath();
            p.setBrush(QColor(250, 200, 40));
            p.drawPath(star);
            break;
        }
        case Icon::Design: {  // a palette with three dots of paint
            p.setBrush(QColor(222, 184, 135));
            p.drawEllipse(QRectF(1.5, 2.5, 13, 11));
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(220, 40, 40));
            p.drawEllipse(QRectF(4, 5, 2.6, 2.6));
            p.setBrush(QColor(40, 150, 40));
            p.drawEllipse(QRectF(8, 4.5, 2.6, 2.6));
            p.setBrush(QColor(40, 80, 220));
            p.drawEllipse(QRectF(10, 8, 2.6, 2.6));
            p.setBrush(Qt::white);
            p.drawEllipse(QRectF(5, 9, 2.4, 2.4));
            break;
        }
        case Icon::Pages: {  // a sheet with a folded corner and lines of text
            QPainterPath sheet;
            sheet.moveTo(3, 1.5);
            sheet.lineTo(10, 1.5);
            sheet.lineTo(13, 4.5);
            sheet.lineTo(13, 14.5);
            sheet.lineTo(3, 14.5);
            sheet.closeSubpath();
            p.setBrush(Qt::white);
            p.drawPath(sheet);
            p.setPen(QPen(QColor(70, 110, 190), 1.0));
            for (qreal y : {6.0, 8.5, 11.0}) {
                p.drawLine(QPointF(5, y), QPointF(11, y));
            }
            break;
        }
        case Icon::Upload: {  // an arrow rising from a tray
            p.setBrush(QColor(60, 150, 60));
            QPainterPath arrow;
            arrow.moveTo(8, 1);
            arrow.lineTo(13.5, 7);
            arrow.lineTo(10, 7);
            arrow.lineTo(10, 11);
            arrow.lineTo(6, 11);
            arrow.lineTo(6, 7);
            arrow.lineTo(2.5, 7);
            arrow.closeSubpath();
            p.drawPath(arrow);
            p.setBrush(QColor(120, 120, 130));
            p.drawRect(QRectF(1.5, 12.5, 13, 2.5));
            break;
        }
        case Icon::FileManager: {  // a folder
            p.setBrush(QColor(240, 190, 70));
            QPainterPath folder;
            folder.moveTo(1.5, 3);
            folder.lineTo(6, 3);
            folder.lineTo(7.5, 4.5);
            folder.lineTo(14.5, 4.5);
            folder.lineTo(14.5, 13.5);
            folder.lineTo(1.5, 13.5);
            folder.closeSubpath();
            p.drawPath(folder);
            p.drawLine(QPointF(1.5, 6.5), QPointF(14.5, 6.5));
            break;
        }
        case Icon::Updates: {  // two turning arrows
            p.setPen(QPen(QColor(40, 110, 200), 2.0));
            p.setBrush(Qt::NoBrush);
            p.drawArc(QRectF(2.5, 2.5, 11, 11), 30 * 16, 150 * 16);
            p.drawArc(QRectF(2.5, 2.5, 11, 11), 210 * 16, 150 * 16);
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(40, 110, 200));
            p.drawPolygon(QPolygonF({QPointF(12.5, 1.5), QPointF(15, 6.5), QPointF(10, 6)}));
            p.drawPolygon(QPolygonF({QPointF(3.5, 14.5), QPointF(1, 9.5), QPointF(6, 10)}));
            break;
        }
        case Icon::Developers: {  // a person
            p.setBrush(QColor(90, 130, 200));
            p.drawEllipse(QRectF(5, 1.5, 6, 6));
            QPainterPath body;
            body.moveTo(2, 15);
            body.cubicTo(2, 9, 14, 9, 14, 15);
            body.closeSubpath();
            p.drawPath(body);
            break;
        }
        case Icon::Help: {  // a question mark in a circle
            p.setBrush(QColor(50, 120, 210));
            p.drawEllipse(QRectF(1, 1, 14, 14));
            p.setPen(Qt::white);
            QFont f(QStringLiteral("Arial"));
            f.setPixelSize(12);
            f.setBold(true);
            p.setFont(f);
            p.drawText(QRectF(1, 1, 14, 14), Qt::AlignCenter, QStringLiteral("?"));
            break;
        }
    }
    return pm;
}

QIcon themeIcon(const QString& name) {
    QIcon icon;
    for (const char* size : {"16", "32"}) {
        icon.addFile(QStringLiteral(":/zorod/icons/%1/%2.png").arg(QLatin1String(size), name));
    }
    return icon;
}

QIcon programIcon() {
    return QIcon(QStringLiteral(":/icons/zorod.svg"));
}

}  // namespace zor::app
