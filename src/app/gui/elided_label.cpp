#include "app/gui/elided_label.h"

#include <QFontMetrics>

ElidedLabel::ElidedLabel(QWidget *parent) : QLabel(parent) {
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    setTextInteractionFlags(Qt::TextSelectableByMouse);
}

void ElidedLabel::setFullText(const QString &text) {
    if (text == m_fullText) return;
    m_fullText = text;
    updateShown();
    updateGeometry();
}

QSize ElidedLabel::minimumSizeHint() const {
    return {fontMetrics().averageCharWidth() * 12, QLabel::minimumSizeHint().height()};
}

QSize ElidedLabel::sizeHint() const {
    return {fontMetrics().horizontalAdvance(m_fullText) + 4, QLabel::sizeHint().height()};
}

void ElidedLabel::resizeEvent(QResizeEvent *event) {
    QLabel::resizeEvent(event);
    updateShown();
}

void ElidedLabel::updateShown() {
    const QString shown = fontMetrics().elidedText(m_fullText, Qt::ElideMiddle, std::max(0, contentsRect().width()));
    if (shown != text()) setText(shown);
    setToolTip(shown == m_fullText ? QString() : m_fullText);
}
