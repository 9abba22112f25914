#include "app/gui/progress_panel.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "app/gui/display_texts.h"
#include "engine/transcriber.h"

namespace {
QProgressBar *makeBar(QWidget *parent, const char *name) {
    auto *bar = new QProgressBar(parent);
    bar->setObjectName(QString::fromLatin1(name));
    bar->setRange(0, 1000);
    bar->setTextVisible(false);
    return bar;
}

int permille(double fraction) {
    if (!std::isfinite(fraction)) return 0;
    return int(std::lround(std::clamp(fraction, 0.0, 1.0) * 1000));
}
} // namespace

ProgressPanel::ProgressPanel(Transcriber &engine, QWidget *parent) : QWidget(parent), m_engine(engine) {
    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(4);

    m_overall = makeBar(this, "overallProgress");
    m_overall->setTextVisible(true);
    m_counters = new QLabel(this);
    m_counters->setObjectName(QStringLiteral("counters"));
    grid->addWidget(m_overall, 0, 0, 1, 2);
    grid->addWidget(m_counters, 1, 0, 1, 2);

    m_state = new QLabel(this);
    m_state->setObjectName(QStringLiteral("runState"));
    m_state->setTextFormat(Qt::PlainText);
    m_current = makeBar(this, "currentProgress");
    m_current->setTextVisible(true);
    m_current->setFixedWidth(180);
    m_figures = new QLabel(this);
    m_figures->setObjectName(QStringLiteral("liveFigures"));
    m_figures->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // Texts that change every second must not make the window lay itself out
    // again: their labels keep one size whatever they say.
    m_figures->setFixedWidth(m_figures->fontMetrics().horizontalAdvance(
        liveFiguresText(3599, 999.9, 3599) + QStringLiteral("  ")));
    for (QLabel *label : {m_counters, m_state}) label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    auto *stateRow = new QHBoxLayout;
    stateRow->addWidget(m_state, 1);
    stateRow->addWidget(m_current);
    grid->addLayout(stateRow, 2, 0);
    grid->addWidget(m_figures, 2, 1);
    grid->setColumnStretch(0, 1);

    m_download = new QWidget(this);
    m_download->setObjectName(QStringLiteral("modelDownload"));
    auto *downloadRow = new QHBoxLayout(m_download);
    downloadRow->setContentsMargins(0, 0, 0, 0);
    m_downloadText = new QLabel(m_download);
    m_downloadText->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    m_downloadBar = makeBar(m_download, "modelDownloadProgress");
    m_downloadBar->setTextVisible(true);
    m_downloadBar->setFixedWidth(180);
    downloadRow->addWidget(m_downloadText, 1);
    downloadRow->addWidget(m_downloadBar);
    grid->addWidget(m_download, 3, 0, 1, 2);

    m_coalesce = new QTimer(this);
    m_coalesce->setSingleShot(true);
    m_coalesce->setInterval(100);
    connect(m_coalesce, &QTimer::timeout, this, &ProgressPanel::refreshNow);
    m_clock = new QTimer(this);
    m_clock->setInterval(1000);
    connect(m_clock, &QTimer::timeout, this, &ProgressPanel::refreshNow);
    for (auto signal : {&Transcriber::countersChanged, &Transcriber::runStateChanged, &Transcriber::queueChanged})
        connect(&engine, signal, this, &ProgressPanel::scheduleRefresh);
    connect(&engine, &Transcriber::entryChanged, this, &ProgressPanel::scheduleRefresh);
    connect(&engine, &Transcriber::modelsChanged, this, &ProgressPanel::refreshDownload);
    connect(&engine.modelDownloader(), &Downloader::statusTextChanged, this, &ProgressPanel::refreshDownload);
    refreshNow();
}

void ProgressPanel::scheduleRefresh() {
    if (!m_coalesce->isActive()) m_coalesce->start();
}

void ProgressPanel::refreshNow() {
    m_coalesce->stop();
    refreshRun();
    refreshDownload();
}

void ProgressPanel::refreshRun() {
    std::array<int, fileStatusCount> counts{};
    for (FileStatus status : allCases<FileStatus>()) counts[size_t(status)] = m_engine.count(status);
    m_counters->setText(countersText(counts));
    const double overall = m_engine.overallProgress();
    m_overall->setValue(permille(overall));
    m_overall->setFormat(percentText(overall));

    const bool running = m_engine.isRunning();
    if (running && !m_clock->isActive()) m_clock->start();
    if (!running) m_clock->stop();

    const auto primary = running ? m_engine.primaryRunningFile() : std::nullopt;
    m_current->setVisible(primary.has_value());
    if (primary) {
        m_current->setValue(permille(primary->progress));
        m_current->setFormat(percentText(primary->progress));
    }

    QString state;
    if (running && m_engine.isPaused())
        state = QStringLiteral("En pause : les fichiers en cours se terminent, aucun autre n'est lancé.");
    else if (running && m_engine.cancelRequested())
        state = QStringLiteral("Annulation en cours…");
    else if (primary)
        state = QStringLiteral("En cours : ") + runningFilesText(primary->fileName(), m_engine.runningCount());
    else if (running)
        state = QStringLiteral("Préparation du lot…");
    else if (m_engine.isComplete())
        state = QStringLiteral("Lot terminé : tous les fichiers ont été traités.");
    else if (m_engine.total() == 0)
        state = QStringLiteral("Choisis un dossier pour commencer.");
    else
        state = QStringLiteral("Prêt.");
    m_state->setText(state);
    m_state->setStyleSheet(!running && m_engine.isComplete() ? QStringLiteral("color: #2a9a3f; font-weight: bold;")
                                                             : QString());

    if (running) {
        const LiveStats stats = m_engine.liveStats();
        m_figures->setText(liveFiguresText(stats.elapsed, stats.ratePerMin, stats.eta));
    } else {
        m_figures->clear();
    }
}

void ProgressPanel::refreshDownload() {
    const auto progress = m_engine.modelDownloadProgress();
    m_download->setVisible(progress.has_value());
    if (!progress) return;
    const QString status = m_engine.modelDownloader().statusText();
    m_downloadText->setText(status.isEmpty() ? QStringLiteral("Téléchargement du modèle…") : status);
    m_downloadBar->setValue(permille(*progress));
    m_downloadBar->setFormat(percentText(*progress));
}
