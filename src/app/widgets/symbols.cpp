#include "app/widgets/symbols.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>

namespace tamborix::ui {

namespace {

// The arrow pointer in a 24 x 24 box, tip at the top left, leaving room for rays or lines.
QPainterPath arrow(double x, double y, double s) {
    QPainterPath p;
    p.moveTo(x, y);
    p.lineTo(x, y + 14 * s);
    p.lineTo(x + 3.6 * s, y + 10.8 * s);
    p.lineTo(x + 6.2 * s, y + 16 * s);
    p.lineTo(x + 8.4 * s, y + 15 * s);
    p.lineTo(x + 5.9 * s, y + 9.9 * s);
    p.lineTo(x + 10.5 * s, y + 9.9 * s);
    p.closeSubpath();
    return p;
}

void draw(QPainter& p, Symbol symbol, const QColor& c) {
    // Everything is drawn in a 24 x 24 box.
    QPen pen(c, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    switch (symbol) {
        case Symbol::cursorRays:
            p.setBrush(c);
            p.drawPath(arrow(9, 8, 1.0));
            p.drawLine(QPointF(6, 5), QPointF(3, 2));
            p.drawLine(QPointF(9, 4), QPointF(9, 1));
            p.drawLine(QPointF(5, 8), QPointF(2, 8));
            break;
        case Symbol::cursorMotionLines:
            p.setBrush(c);
            p.drawPath(arrow(11, 4, 1.05));
            p.drawLine(QPointF(2, 8), QPointF(8, 8));
            p.drawLine(QPointF(1, 13), QPointF(8, 13));
            p.drawLine(QPointF(3, 18), QPointF(9, 18));
            break;
        case Symbol::network:
            p.drawEllipse(QRectF(3, 3, 18, 18));
            p.drawEllipse(QRectF(8, 3, 8, 18));
            p.drawLine(QPointF(3, 12), QPointF(21, 12));
            break;
        case Symbol::bluetooth:
            p.setBrush(c);
            p.drawEllipse(QRectF(10, 10, 4, 4));
            p.setBrush(Qt::NoBrush);
            p.drawArc(QRectF(5, 5, 14, 14), -45 * 16, 90 * 16);
            p.drawArc(QRectF(5, 5, 14, 14), 135 * 16, 90 * 16);
            p.drawArc(QRectF(1, 1, 22, 22), -45 * 16, 90 * 16);
            p.drawArc(QRectF(1, 1, 22, 22), 135 * 16, 90 * 16);
            break;
        case Symbol::screenShared:
            p.drawRoundedRect(QRectF(2, 7, 14, 11), 2, 2);
            p.drawRoundedRect(QRectF(8, 3, 14, 11), 2, 2);
            break;
        case Symbol::lock:
            p.drawArc(QRectF(7, 3, 10, 12), 0, 180 * 16);
            p.drawLine(QPointF(7, 9), QPointF(7, 11));
            p.drawLine(QPointF(17, 9), QPointF(17, 11));
            p.setBrush(c);
            p.drawRoundedRect(QRectF(5, 11, 14, 10), 2, 2);
            break;
        case Symbol::qrCode:
            p.drawRect(QRectF(3, 3, 7, 7));
            p.drawRect(QRectF(14, 3, 7, 7));
            p.drawRect(QRectF(3, 14, 7, 7));
            p.setBrush(c);
            p.drawRect(QRectF(14, 14, 3, 3));
            p.drawRect(QRectF(18, 18, 3, 3));
            break;
        case Symbol::warning: {
            QPainterPath t;
            t.moveTo(12, 2);
            t.lineTo(23, 21);
            t.lineTo(1, 21);
            t.closeSubpath();
            p.setBrush(c);
            p.drawPath(t);
            p.setPen(QPen(Qt::white, 2.4, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(12, 8), QPointF(12, 14));
            p.drawPoint(QPointF(12, 18));
            break;
        }
        case Symbol::shieldCheck: {
            QPainterPath s;
            s.moveTo(12, 2);
            s.lineTo(21, 5);
            s.cubicTo(21, 14, 17, 19, 12, 22);
            s.cubicTo(7, 19, 3, 14, 3, 5);
            s.closeSubpath();
            p.drawPath(s);
            p.drawLine(QPointF(8, 12), QPointF(11, 15));
            p.drawLine(QPointF(11, 15), QPointF(16.5, 9));
            break;
        }
        case Symbol::info:
            p.drawEllipse(QRectF(2, 2, 20, 20));
            p.drawLine(QPointF(12, 11), QPointF(12, 17));
            p.setBrush(c);
            p.drawEllipse(QPointF(12, 7), 1.3, 1.3);
            break;
        case Symbol::ellipsis:
            p.drawEllipse(QRectF(2, 2, 20, 20));
            p.setBrush(c);
            p.setPen(Qt::NoPen);
            for (double x : {7.0, 12.0, 17.0}) p.drawEllipse(QPointF(x, 12), 1.6, 1.6);
            break;
    }
}

QColor ownColor(Symbol symbol) {
    switch (symbol) {
        case Symbol::warning: return QColor(255, 149, 0);
        case Symbol::shieldCheck: return QColor(52, 168, 83);
        case Symbol::screenShared: return QColor(215, 40, 40);
        default: return QGuiApplication::palette().color(QPalette::WindowText);
    }
}

}  // namespace

QPixmap symbolPixmap(Symbol symbol, int size, QColor color) {
    const qreal ratio = qApp ? qApp->devicePixelRatio() : 1.0;
    QPixmap pm(QSize(size, size) * ratio);
    pm.setDevicePixelRatio(ratio);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 24.0, size / 24.0);
    draw(p, symbol, color.isValid() ? color : ownColor(symbol));
    return pm;
}

QPixmap trayPixmap(Symbol symbol, int size) {
    const qreal ratio = qApp ? qApp->devicePixelRatio() : 1.0;
    QPixmap pm(QSize(size, size) * ratio);
    pm.setDevicePixelRatio(ratio);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 24.0, size / 24.0);
    p.setPen(QPen(QColor(0, 60, 140), 1.0));
    p.setBrush(QColor(0, 110, 230));
    p.drawRoundedRect(QRectF(0.5, 0.5, 23, 23), 5, 5);
    // The glyph a little smaller, centred on the tile.
    p.translate(2.4, 2.4);
    p.scale(0.8, 0.8);
    draw(p, symbol, Qt::white);
    return pm;
}

QIcon trayIcon(Symbol symbol) {
    QIcon icon;
    for (int s : {16, 22, 24, 32, 48, 64}) icon.addPixmap(trayPixmap(symbol, s));
    return icon;
}

QIcon symbolIcon(Symbol symbol, QColor color) {
    QIcon icon;
    for (int s : {16, 22, 24, 32, 48, 64}) icon.addPixmap(symbolPixmap(symbol, s, color));
    return icon;
}

}  // namespace tamborix::ui
