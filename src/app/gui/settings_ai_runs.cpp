#include "app/gui/settings_ai_runs.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/gui/ai_stage_texts.h"
#include "app/gui/banner_area.h"
#include "app/gui/organization_banner.h"
#include "app/gui/settings_support.h"
#include "engine/transcriber.h"

namespace {
QLabel *wrappedLabel(const char *name, QWidget *parent) {
    auto *label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setWordWrap(true);
    return label;
}

QPushButton *namedButton(const QString &text, const char *name, QWidget *parent) {
    auto *button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(name));
    return button;
}
} // namespace

// ---------------------------------------------------------------- the install

OllamaInstallBox::OllamaInstallBox(Transcriber &engine, QWidget *parent) : QWidget(parent), m_engine(engine) {
    setObjectName(QStringLiteral("ollamaInstallBox"));
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    m_facts = wrappedLabel("ollamaState", this);
    column->addWidget(m_facts);
    m_install = namedButton(QStringLiteral("Installer Ollama et le modèle"), "installOllamaHere", this);
    m_bar = makeFractionBar(QStringLiteral("ollamaInstallProgress"), this);
    auto *row = new QHBoxLayout;
    row->addWidget(m_install, 0, Qt::AlignLeft);
    row->addWidget(m_bar, 1);
    column->addLayout(row);
    m_steps = wrappedLabel("ollamaInstallSteps", this);
    column->addWidget(m_steps);

    connect(m_install, &QPushButton::clicked, &engine, &Transcriber::installOllama);
    for (auto signal : {&Transcriber::ollamaChanged, &Transcriber::installChanged, &Transcriber::settingsChanged})
        connect(&engine, signal, this, &OllamaInstallBox::refresh);
    refresh();
}

void OllamaInstallBox::refresh() {
    const QString model = m_engine.settings().ollamaModel;
    const LocalServerFacts facts{m_engine.ollamaInstalled(), m_engine.ollamaRunning(), m_engine.ollamaModelInstalled(),
                                 m_engine.installingOllama()};
    m_facts->setText(localServerFactsText(facts, model));
    m_install->setEnabled(!facts.installing);

    const InstallState state{m_engine.installingOllama(), m_engine.installProgress(), m_engine.installStatus(),
                             m_engine.installError()};
    const QStringList steps = installStepTexts(state, model);
    // The steps one under the other while it runs; once it ended, how it ended.
    m_bar->setVisible(state.installing);
    setFraction(m_bar, state.progress);
    m_steps->setVisible(!steps.isEmpty());
    m_steps->setText(state.installing || steps.isEmpty() ? steps.join(QLatin1Char('\n')) : steps.last());
    m_steps->setStyleSheet(state.error && !state.installing ? QStringLiteral("color: #b3261e;") : QString());
}

// ---------------------------------------------------------------- organizing now

OrganizationRunBox::OrganizationRunBox(Transcriber &engine, QWidget *parent)
    : QGroupBox(QStringLiteral("Rangement de l'archive"), parent), m_engine(engine) {
    setObjectName(QStringLiteral("organizationRun"));
    auto *column = new QVBoxLayout(this);
    m_state = wrappedLabel("organizationRunState", this);
    m_current = wrappedLabel("organizationRunCurrent", this);
    m_bar = makeFractionBar(QStringLiteral("organizationRunProgress"), this);
    m_hint = wrappedLabel("organizationRunHint", this);
    m_hint->setText(QStringLiteral("Possible une fois le lot et la correction terminés."));
    m_hint->setStyleSheet(QStringLiteral("color: palette(placeholder-text);"));
    column->addWidget(m_state);
    column->addWidget(m_current);
    column->addWidget(m_bar);
    column->addWidget(m_hint);

    m_start = namedButton(QStringLiteral("Organiser maintenant"), "organizeNow", this);
    m_cancel = namedButton(QStringLiteral("Annuler"), "cancelOrganizeNow", this);
    m_open = namedButton(QStringLiteral("Ouvrir l'archive"), "openArchiveHere", this);
    column->addWidget(buttonRow({m_start, m_cancel, m_open}, this));
    connect(m_start, &QPushButton::clicked, &engine, &Transcriber::startOrganization);
    connect(m_cancel, &QPushButton::clicked, &engine, &Transcriber::cancelOrganization);
    connect(m_open, &QPushButton::clicked, &engine, &Transcriber::revealOrganizedArchive);
    for (auto signal : {&Transcriber::organizationChanged, &Transcriber::runStateChanged,
                        &Transcriber::correctionChanged, &Transcriber::settingsChanged})
        connect(&engine, signal, this, &OrganizationRunBox::refresh);
    refresh();
}

void OrganizationRunBox::refresh() {
    const bool active = m_engine.orgActive();
    // The engine refuses a run over a batch or a correction pass.
    const bool blocked = m_engine.isRunning() || m_engine.correctionPassActive();
    m_start->setEnabled(!active && !blocked);
    m_hint->setVisible(!active && blocked);
    m_cancel->setEnabled(active);
    const auto root = m_engine.organizeRootFolder();
    m_open->setEnabled(root && QFileInfo(*root).isDir());
    m_bar->setVisible(active);
    m_current->setVisible(active);
    if (!active) {
        m_state->setText(organizedCountText(m_engine.orgOrganizedCount()));
        return;
    }
    m_state->setText(organizationProgressText(m_engine.orgPhase(), m_engine.orgDone(), m_engine.orgTotal()));
    m_current->setText(showOrganizationProgress(m_engine, m_bar));
}
