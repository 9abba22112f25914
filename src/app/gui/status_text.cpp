#include "app/gui/status_text.h"

#include <QPainter>

StatusText::StatusText(QWidget *parent, Qt::Alignment alignment) : QWidget(parent), m_alignment(alignment) {
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

void StatusText::setText(const QString &text) {
    if (text == m_text) return;
    m_text = text;
    setToolTip(fontMetrics().horizontalAdvance(text) > width() ? text : QString());
    update();
}

void StatusText::setEmphasis(const QColor &color) {
    if (color == m_color) return;
    m_color = color;
    QFont bold = font();
    bold.setBold(true);
    setFont(bold);
    update();
}

void StatusText::clearEmphasis() {
    if (!m_color.isValid()) return;
    m_color = QColor();
    setFont(QFont());
    update();
}

QSize StatusText::sizeHint() const { return {fontMetrics().horizontalAdvance(m_text), fontMetrics().height() + 2}; }

QSize StatusText::minimumSizeHint() const { return {0, fontMetrics().height() + 2}; }

void StatusText::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setPen(m_color.isValid() ? m_color : palette().color(QPalette::WindowText));
    painter.drawText(rect(), int(m_alignment),
                     fontMetrics().elidedText(m_text, Qt::ElideMiddle, width()));
}
