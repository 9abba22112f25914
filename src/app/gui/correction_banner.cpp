#include "app/gui/correction_banner.h"

#include <QHBoxLayout>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "app/gui/ai_stage_texts.h"
#include "app/gui/status_text.h"
#include "engine/transcriber.h"

CorrectionBanner::CorrectionBanner(Transcriber &engine, QWidget *parent)
    : Banner(QStringLiteral("Correction IA des transcriptions"), parent), m_engine(engine) {
    setObjectName(QStringLiteral("correctionBanner"));
    m_state = new StatusText(this);
    m_state->setObjectName(QStringLiteral("correctionState"));
    body()->addWidget(m_state);

    m_figures = new StatusText(this);
    m_figures->setObjectName(QStringLiteral("correctionFigures"));
    m_bar = addProgressRow(QStringLiteral("correctionProgress"), m_figures);

    m_start = addButton(QStringLiteral("Corriger maintenant"), QStringLiteral("startCorrection"));
    m_cancel = addButton(QStringLiteral("Annuler la correction"), QStringLiteral("cancelCorrection"));
    connect(m_start, &QPushButton::clicked, &engine, &Transcriber::startCorrectionPass);
    connect(m_cancel, &QPushButton::clicked, this, &CorrectionBanner::cancel);

    m_clock = new QTimer(this);
    m_clock->setInterval(1000);
    connect(m_clock, &QTimer::timeout, this, &CorrectionBanner::refresh);
    m_recount = new QTimer(this);
    m_recount->setSingleShot(true);
    m_recount->setInterval(800);
    connect(m_recount, &QTimer::timeout, &engine, &Transcriber::refreshRawCount);
    m_countedRoot = engine.outputRootFolder();
    for (auto signal : {&Transcriber::sourceFolderChanged, &Transcriber::settingsChanged})
        connect(&engine, signal, this, &CorrectionBanner::outputRootMayHaveMoved);
    for (auto signal : {&Transcriber::correctionChanged, &Transcriber::runStateChanged, &Transcriber::settingsChanged})
        connect(&engine, signal, this, &CorrectionBanner::refresh);
    refresh();
}

void CorrectionBanner::outputRootMayHaveMoved() {
    const auto root = m_engine.outputRootFolder();
    if (root == m_countedRoot) return;
    m_countedRoot = root;
    m_recount->start();
}

void CorrectionBanner::refresh() {
    const bool active = m_engine.correctionPassActive();
    if (!active) m_cancelling = false;
    setVisible(correctionBannerRelevant(active, m_engine.rawCount(), m_engine.isRunning(), m_engine.settings()));
    if (active && !m_clock->isActive()) m_clock->start();
    if (!active) m_clock->stop();
    if (isHidden()) return;

    m_start->setVisible(!active);
    m_cancel->setVisible(active);
    m_cancel->setEnabled(!m_cancelling);
    m_bar->setVisible(active);
    m_figures->setVisible(active);
    if (!active) {
        m_state->setText(rawCountText(m_engine.rawCount()));
        return;
    }
    const int done = m_engine.correctionPassDone();
    const int total = m_engine.correctionPassTotal();
    const auto &current = m_engine.correctionPassCurrent();
    if (m_cancelling)
        m_state->setText(QStringLiteral("Annulation : la transcription en cours se termine d'abord…"));
    else if (current)
        m_state->setText(QStringLiteral("En cours : ") + *current);
    else
        m_state->setText(QStringLiteral("Préparation de la correction…"));
    if (total > 0)
        setFraction(m_bar, double(done) / total);
    else
        setBusy(m_bar);
    m_figures->setText(total > 0 ? correctionFiguresText(done, total, m_engine.correctionLiveStats()) : QString());
}

void CorrectionBanner::cancel() {
    m_cancelling = true;
    m_engine.cancelCorrectionPass();
    refresh();
}
