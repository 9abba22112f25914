#include "app/gui/log_panel.h"

#include <QAction>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

#include "app/gui/app_actions.h"
#include "engine/transcriber.h"

LogPanel::LogPanel(Transcriber &engine, AppActions &actions, QWidget *parent) : QWidget(parent) {
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);

    auto *header = new QHBoxLayout;
    auto *title = new QLabel(QStringLiteral("Journal"), this);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    header->addWidget(title);
    header->addStretch(1);
    auto *clear = new QPushButton(QStringLiteral("Effacer"), this);
    clear->setObjectName(QStringLiteral("clearLog"));
    clear->setToolTip(actions.clearLog->text());
    connect(clear, &QPushButton::clicked, actions.clearLog, &QAction::trigger);
    header->addWidget(clear);
    column->addLayout(header);

    m_view = new QPlainTextEdit(this);
    m_view->setObjectName(QStringLiteral("log"));
    m_view->setReadOnly(true);
    m_view->setMaximumBlockCount(Transcriber::maxLogLines);
    m_view->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_view->setMinimumHeight(90);
    column->addWidget(m_view, 1);

    for (const QString &line : engine.logLines()) append(line);
    connect(&engine, &Transcriber::logLineAdded, this, &LogPanel::append);
    connect(&engine, &Transcriber::logCleared, m_view, &QPlainTextEdit::clear);
}

void LogPanel::append(const QString &line) {
    m_view->appendPlainText(line);
    QScrollBar *bar = m_view->verticalScrollBar();
    bar->setValue(bar->maximum());
}
