#include "app/gui/banner_area.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "app/gui/display_texts.h"

BannerArea::BannerArea(QWidget *parent) : QWidget(parent), m_layout(new QVBoxLayout(this)) {
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(6);
    setObjectName(QStringLiteral("bannerArea"));
    hide();
}

void BannerArea::addBanner(QWidget *banner) {
    m_banners.append(banner);
    m_layout->addWidget(banner);
    banner->installEventFilter(this);
    updateVisibility();
}

bool BannerArea::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() == QEvent::ShowToParent || event->type() == QEvent::HideToParent) updateVisibility();
    return QWidget::eventFilter(watched, event);
}

void BannerArea::updateVisibility() {
    bool any = false;
    for (QWidget *banner : m_banners) any = any || !banner->isHidden();
    setVisible(any);
}

Banner::Banner(const QString &title, QWidget *parent) : QWidget(parent) {
    setAttribute(Qt::WA_StyledBackground);
    // By type, so the stages' banners keep the tint under names of their own.
    setStyleSheet(QStringLiteral("Banner { background: #eef3fc; border: 1px solid #c9d8f2; border-radius: 6px; }"));
    // Texts on the left, the buttons at the right end: a banner stays a few lines high.
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(10, 8, 10, 8);
    row->setSpacing(12);
    auto *column = new QVBoxLayout;
    column->setSpacing(4);
    m_title = new QLabel(title, this);
    QFont bold = m_title->font();
    bold.setBold(true);
    m_title->setFont(bold);
    // The texts' column takes the width the buttons leave, even when its lines are short.
    m_title->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    column->addWidget(m_title);
    m_body = new QVBoxLayout;
    m_body->setSpacing(4);
    column->addLayout(m_body);
    row->addLayout(column, 1);
    // The buttons keep their natural width; the texts take the rest.
    auto *buttonHolder = new QWidget(this);
    buttonHolder->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Preferred);
    m_buttons = new QHBoxLayout(buttonHolder);
    m_buttons->setContentsMargins(0, 0, 0, 0);
    m_buttons->setSpacing(6);
    row->addWidget(buttonHolder, 0, Qt::AlignBottom);
}

QPushButton *Banner::addButton(const QString &text, const QString &objectName) {
    auto *button = new QPushButton(text, this);
    button->setObjectName(objectName);
    m_buttons->addWidget(button);
    return button;
}

QProgressBar *Banner::addProgressRow(const QString &barName, QWidget *beside) {
    auto *row = new QHBoxLayout;
    row->setSpacing(10);
    QProgressBar *bar = makeFractionBar(barName, this);
    bar->setFixedWidth(180);
    row->addWidget(bar);
    row->addWidget(beside, 1);
    m_body->addLayout(row);
    return bar;
}

QProgressBar *makeFractionBar(const QString &objectName, QWidget *parent) {
    auto *bar = new QProgressBar(parent);
    bar->setObjectName(objectName);
    bar->setRange(0, 1000);
    bar->setTextVisible(true);
    return bar;
}

void setFraction(QProgressBar *bar, double fraction) {
    if (!std::isfinite(fraction)) fraction = 0;
    bar->setRange(0, 1000);
    bar->setValue(int(std::lround(std::clamp(fraction, 0.0, 1.0) * 1000)));
    bar->setFormat(percentText(fraction));
}

void setBusy(QProgressBar *bar) {
    // An empty range animates: work goes on, nothing is counted yet.
    bar->setRange(0, 0);
    bar->setFormat(QString());
}
