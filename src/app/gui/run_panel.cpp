#include "app/gui/run_panel.h"

#include <QAction>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/gui/app_actions.h"
#include "app/gui/display_texts.h"
#include "engine/transcriber.h"

RunPanel::RunPanel(Transcriber &engine, AppActions &actions, QWidget *parent) : QWidget(parent), m_engine(engine) {
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);

    auto *row = new QHBoxLayout;
    row->setSpacing(6);
    QPushButton *start = actionButton(actions.start, this);
    start->setDefault(true);
    start->setObjectName(QStringLiteral("startButton"));
    row->addWidget(start);
    row->addWidget(actionButton(actions.pauseResume, this));
    row->addWidget(actionButton(actions.cancel, this));
    row->addSpacing(16);
    m_model = new QLabel(this);
    m_model->setObjectName(QStringLiteral("modelName"));
    m_language = new QLabel(this);
    m_language->setObjectName(QStringLiteral("languageName"));
    row->addStretch(1);
    row->addWidget(m_model);
    row->addSpacing(12);
    row->addWidget(m_language);
    column->addLayout(row);

    m_missingTools = new QLabel(QString::fromUtf8(missingRecogniserText), this);
    m_missingTools->setObjectName(QStringLiteral("missingTools"));
    m_missingTools->setWordWrap(true);
    m_missingTools->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_missingTools->setStyleSheet(QStringLiteral(
        "QLabel { color: #8a1c1c; background: #fdecea; border: 1px solid #f5c2c0; border-radius: 4px; padding: 6px; }"));
    column->addWidget(m_missingTools);

    connect(&engine, &Transcriber::settingsChanged, this, &RunPanel::refresh);
    connect(&engine, &Transcriber::modelsChanged, this, &RunPanel::refresh);
    refresh();
}

void RunPanel::refresh() {
    m_model->setText(QStringLiteral("Modèle : ") + m_engine.modelDisplayName());
    m_model->setToolTip(m_engine.settings().modelPath);
    m_language->setText(QStringLiteral("Langue : ") + languageDisplay(m_engine.settings().language));
    // Tools are located once at launch: this never changes while the window lives.
    m_missingTools->setVisible(!m_engine.toolsReady());
}
