#include "app/gui/source_bar.h"

#include <QAction>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

#include "app/gui/app_actions.h"
#include "app/gui/elided_label.h"
#include "engine/transcriber.h"

SourceBar::SourceBar(Transcriber &engine, AppActions &actions, QWidget *parent) : QWidget(parent), m_engine(engine) {
    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(8);

    auto *folderCaption = new QLabel(QStringLiteral("Dossier source :"), this);
    auto *folder = new ElidedLabel(this);
    folder->setObjectName(QStringLiteral("sourceFolder"));
    QFont bold = folder->font();
    bold.setBold(true);
    folder->setFont(bold);
    m_folder = folder;

    m_watch = new QLabel(QStringLiteral("Surveillance du dossier active"), this);
    m_watch->setObjectName(QStringLiteral("watchState"));
    m_watch->setToolTip(QStringLiteral("Les vocaux qui arrivent dans ce dossier sont transcrits dès qu'ils ne "
                                       "changent plus."));

    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(6);
    buttons->addWidget(actionButton(actions.chooseFolder, this));
    buttons->addWidget(actionButton(actions.voiceMemos, this));
    buttons->addWidget(actionButton(actions.rescan, this));

    auto *output = new ElidedLabel(this);
    output->setObjectName(QStringLiteral("outputLocation"));
    m_output = output;
    auto *outputCaption = new QLabel(QStringLiteral("Transcriptions :"), this);
    auto *reveal = actionButton(actions.revealOutput, this);

    auto *folderRow = new QHBoxLayout;
    folderRow->setSpacing(8);
    folderRow->addWidget(folder, 1);
    folderRow->addWidget(m_watch);

    grid->addWidget(folderCaption, 0, 0);
    grid->addLayout(folderRow, 0, 1);
    grid->addLayout(buttons, 0, 2);
    grid->addWidget(outputCaption, 1, 0);
    grid->addWidget(output, 1, 1);
    grid->addWidget(reveal, 1, 2, Qt::AlignRight);
    grid->setColumnStretch(1, 1);

    connect(&engine, &Transcriber::sourceFolderChanged, this, &SourceBar::refresh);
    connect(&engine, &Transcriber::settingsChanged, this, &SourceBar::refresh);
    connect(&engine, &Transcriber::watchChanged, this, &SourceBar::refresh);
    refresh();
}

QString SourceBar::folderText() const { return m_folder->fullText(); }

void SourceBar::refresh() {
    const auto folder = m_engine.sourceFolder();
    m_folder->setFullText(
        folder ? folder->toLocalFile() : QStringLiteral("Aucun dossier choisi"));
    m_output->setFullText(m_engine.outputLocationDescription());
    m_watch->setVisible(m_engine.isWatching());
}
