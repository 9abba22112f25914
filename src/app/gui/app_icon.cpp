#include "app/gui/app_icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

// Coordinates follow the SVG's 256 × 256 view box.
void paintAppIcon(QPainter &p, const QRectF &box) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(box.topLeft());
    p.scale(box.width() / 256.0, box.height() / 256.0);

    // Rounded square background, indigo to blue.
    QLinearGradient background(0, 0, 0, 256);
    background.setColorAt(0, QColor(0x4f, 0x5b, 0xd5));
    background.setColorAt(1, QColor(0x2b, 0x8a, 0xe8));
    p.setPen(Qt::NoPen);
    p.setBrush(background);
    p.drawRoundedRect(QRectF(16, 16, 224, 224), 52, 52);

    // The page of the transcript.
    p.setBrush(QColor(0xff, 0xff, 0xff, 0xe6));
    p.drawRoundedRect(QRectF(118, 96, 92, 116), 12, 12);
    p.setPen(QPen(QColor(0x4f, 0x5b, 0xd5), 8, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < 4; ++i) {
        const double y = 124 + i * 22;
        p.drawLine(QPointF(136, y), QPointF(i == 3 ? 168 : 192, y));
    }

    // The speech bubble with its waveform.
    QPainterPath bubble;
    bubble.addRoundedRect(QRectF(40, 48, 124, 92), 30, 30);
    QPainterPath tail;
    tail.moveTo(64, 132);
    tail.lineTo(56, 168);
    tail.lineTo(96, 136);
    tail.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawPath(bubble.united(tail));
    p.setPen(QPen(QColor(0x2b, 0x8a, 0xe8), 9, Qt::SolidLine, Qt::RoundCap));
    const double heights[] = {18, 40, 58, 34, 48, 22};
    for (int i = 0; i < 6; ++i) {
        const double x = 66 + i * 15;
        p.drawLine(QPointF(x, 94 - heights[i] / 2), QPointF(x, 94 + heights[i] / 2));
    }
    p.restore();
}

QIcon appIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paintAppIcon(painter, QRectF(0, 0, size, size));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}
