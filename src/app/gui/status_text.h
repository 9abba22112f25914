#pragma once
// One line of text that changes often (counters, the running file, the live
// figures). Unlike a QLabel, a new text only repaints the line: it never asks
// the window to lay itself out again, which on a long queue would happen
// every second.

#include <QWidget>

class StatusText : public QWidget {
    Q_OBJECT

public:
    explicit StatusText(QWidget *parent = nullptr, Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter);

    void setText(const QString &text);
    QString text() const { return m_text; }
    // The finished state reads in green and bold.
    void setEmphasis(const QColor &color);
    void clearEmphasis();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_text;
    Qt::Alignment m_alignment;
    QColor m_color;
};
