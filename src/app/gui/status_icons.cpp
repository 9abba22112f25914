#include "app/gui/status_icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

// Everything is drawn in a 16 × 16 box, scaled for larger sizes.
void drawClock(QPainter &p, const QColor &c) {
    p.setPen(QPen(c, 1.5));
    p.drawEllipse(QRectF(2, 2, 12, 12));
    p.drawLine(QPointF(8, 8), QPointF(8, 4.5));
    p.drawLine(QPointF(8, 8), QPointF(10.5, 9.5));
}

void drawWaveform(QPainter &p, const QColor &c, bool slashed) {
    p.setPen(QPen(c, 1.6, Qt::SolidLine, Qt::RoundCap));
    const double heights[] = {3, 7, 10, 6, 9, 4};
    for (int i = 0; i < 6; ++i) {
        const double x = 2.5 + i * 2.2, h = heights[i];
        p.drawLine(QPointF(x, 8 - h / 2), QPointF(x, 8 + h / 2));
    }
    if (slashed) p.drawLine(QPointF(2, 14), QPointF(14, 2));
}

void drawFilledCircleMark(QPainter &p, const QColor &c) {
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
    p.setPen(QPen(Qt::white, 1.7, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    QPainterPath tick;
    tick.moveTo(4.8, 8.3);
    tick.lineTo(7.1, 10.6);
    tick.lineTo(11.3, 5.6);
    p.drawPath(tick);
}

void drawSkip(QPainter &p, const QColor &c) {
    p.setPen(QPen(c, 1.4));
    p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
    QPainterPath arrow;
    arrow.moveTo(5, 10.5);
    arrow.cubicTo(5, 5.5, 10.5, 5, 11, 8.5);
    p.setPen(QPen(c, 1.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(arrow);
    p.drawLine(QPointF(11, 8.5), QPointF(9, 7.5));
    p.drawLine(QPointF(11, 8.5), QPointF(12.3, 6.6));
}

void drawWarning(QPainter &p, const QColor &c) {
    QPainterPath triangle;
    triangle.moveTo(8, 1.5);
    triangle.lineTo(15, 14.5);
    triangle.lineTo(1, 14.5);
    triangle.closeSubpath();
    p.setPen(QPen(c, 1, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(c);
    p.drawPath(triangle);
    p.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(8, 6), QPointF(8, 10));
    p.drawPoint(QPointF(8, 12.5));
}

QPixmap render(FileStatus status, const QColor &color, int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 16.0, size / 16.0);
    switch (status) {
    case FileStatus::pending: drawClock(p, color); break;
    case FileStatus::running: drawWaveform(p, color, false); break;
    case FileStatus::done: drawFilledCircleMark(p, color); break;
    case FileStatus::skipped: drawSkip(p, color); break;
    case FileStatus::error: drawWarning(p, color); break;
    case FileStatus::empty: drawWaveform(p, color, true); break;
    }
    return pixmap;
}

} // namespace

QIcon statusIcon(FileStatus status, const QColor &color) {
    QIcon icon;
    for (int size : {16, 32, 48}) icon.addPixmap(render(status, color, size));
    return icon;
}
