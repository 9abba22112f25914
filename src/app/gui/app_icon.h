#pragma once
// Parlivo's icon, drawn in code: the same picture as packaging/parlivo.svg
// (a speech bubble holding a waveform over a page), so the window has its
// icon without an SVG image plugin.

#include <QIcon>

class QPainter;
class QRectF;

void paintAppIcon(QPainter &painter, const QRectF &box);
QIcon appIcon();
