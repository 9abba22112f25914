#include "app/gui/ollama_banner.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/gui/ai_stage_texts.h"
#include "engine/transcriber.h"

namespace {
LocalServerFacts factsOf(const Transcriber &engine) {
    return {engine.ollamaInstalled(), engine.ollamaRunning(), engine.ollamaModelInstalled(), engine.installingOllama()};
}
} // namespace

OllamaBanner::OllamaBanner(Transcriber &engine, QWidget *parent)
    : Banner(QStringLiteral("Serveur d'IA locale (Ollama)"), parent), m_engine(engine) {
    setObjectName(QStringLiteral("ollamaBanner"));
    m_advice = new QLabel(this);
    m_advice->setObjectName(QStringLiteral("ollamaAdvice"));
    m_advice->setWordWrap(true);
    m_facts = new QLabel(this);
    m_facts->setObjectName(QStringLiteral("ollamaFacts"));
    m_facts->setStyleSheet(QStringLiteral("color: palette(placeholder-text);"));
    body()->addWidget(m_advice);
    body()->addWidget(m_facts);

    m_installStatus = new QLabel(this);
    m_installStatus->setObjectName(QStringLiteral("ollamaInstallStatus"));
    m_installStatus->setWordWrap(true);
    m_installBar = addProgressRow(QStringLiteral("ollamaInstallProgress"), m_installStatus);

    m_install = addButton(QStringLiteral("Installer en 1 clic"), QStringLiteral("installOllama"));
    m_launch = addButton(QStringLiteral("Lancer Ollama"), QStringLiteral("launchOllama"));
    m_model = addButton(QStringLiteral("Télécharger le modèle"), QStringLiteral("fetchOllamaModel"));
    connect(m_install, &QPushButton::clicked, &engine, &Transcriber::installOllama);
    connect(m_launch, &QPushButton::clicked, &engine, &Transcriber::launchOllama);
    connect(m_model, &QPushButton::clicked, this, &OllamaBanner::fetchModel);

    for (auto signal : {&Transcriber::ollamaChanged, &Transcriber::installChanged, &Transcriber::settingsChanged})
        connect(&engine, signal, this, &OllamaBanner::refresh);
    refresh();
}

void OllamaBanner::refresh() {
    const ParlivoSettings &settings = m_engine.settings();
    const LocalServerFacts facts = factsOf(m_engine);
    setVisible(localServerBannerRelevant(settings, facts));
    if (isHidden()) return;

    m_facts->setText(localServerFactsText(facts, settings.ollamaModel));
    m_advice->setText(localServerAdviceText(settings, facts));
    m_install->setVisible(!facts.installing && !facts.installed && !facts.running);
    m_launch->setVisible(!facts.installing && facts.installed && !facts.running);
    m_model->setVisible(!facts.installing && facts.running && facts.modelInstalled == false);
    m_model->setEnabled(!m_fetchingModel);
    m_model->setText(m_fetchingModel ? QStringLiteral("Téléchargement du modèle…")
                                     : QStringLiteral("Télécharger le modèle"));
    refreshInstall();
}

void OllamaBanner::refreshInstall() {
    const bool installing = m_engine.installingOllama();
    const auto &error = m_engine.installError();
    // After an install: why it failed, or the step left to the user.
    const bool ended = !installing && m_engine.installProgress() > 0;
    m_installBar->setVisible(installing);
    if (installing) setFraction(m_installBar, m_engine.installProgress());
    if (installing || (ended && !error)) {
        m_installStatus->setText(m_engine.installStatus());
        m_installStatus->setStyleSheet(QString());
    } else if (ended && error) {
        m_installStatus->setText(QStringLiteral("Installation Ollama échouée : ") + *error);
        m_installStatus->setStyleSheet(QStringLiteral("color: #b3261e;"));
    }
    m_installStatus->setVisible(installing || ended);
}

void OllamaBanner::fetchModel() {
    if (m_fetchingModel) return;
    m_fetchingModel = true;
    refresh();
    // The engine logs the download; the banner goes once the model is there.
    [](QPointer<OllamaBanner> self, Transcriber *engine) -> QCoro::Task<> {
        co_await engine->ensureModelInstalled();
        if (!self) co_return;
        self->m_fetchingModel = false;
        self->refresh();
    }(this, &m_engine);
}
