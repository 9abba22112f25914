#include "app/gui/progress_panel.h"

#include <QHBoxLayout>
#include <QProgressBar>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "app/gui/display_texts.h"
#include "app/gui/status_text.h"
#include "engine/transcriber.h"
#include "provisioning/downloader.h"

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
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);

    m_overall = makeBar(this, "overallProgress");
    m_overall->setTextVisible(true);
    m_counters = new StatusText(this);
    m_counters->setObjectName(QStringLiteral("counters"));
    column->addWidget(m_overall);
    column->addWidget(m_counters);

    m_state = new StatusText(this);
    m_state->setObjectName(QStringLiteral("runState"));
    m_current = makeBar(this, "currentProgress");
    m_current->setTextVisible(true);
    m_current->setFixedWidth(180);
    m_figures = new StatusText(this, Qt::AlignRight | Qt::AlignVCenter);
    m_figures->setObjectName(QStringLiteral("liveFigures"));
    m_figures->setFixedWidth(m_figures->fontMetrics().horizontalAdvance(
        liveFiguresText(3599, 999.9, 3599) + QStringLiteral("  ")));
    m_figures->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    auto *stateRow = new QHBoxLayout;
    stateRow->setSpacing(10);
    stateRow->addWidget(m_state, 1);
    stateRow->addWidget(m_current);
    stateRow->addWidget(m_figures);
    column->addLayout(stateRow);

    m_download = new QWidget(this);
    m_download->setObjectName(QStringLiteral("modelDownload"));
    auto *downloadRow = new QHBoxLayout(m_download);
    downloadRow->setContentsMargins(0, 0, 0, 0);
    m_downloadText = new StatusText(m_download);
    m_downloadText->setObjectName(QStringLiteral("modelDownloadText"));
    m_downloadBar = makeBar(m_download, "modelDownloadProgress");
    m_downloadBar->setTextVisible(true);
    m_downloadBar->setFixedWidth(180);
    downloadRow->addWidget(m_downloadText, 1);
    downloadRow->addWidget(m_downloadBar);
    column->addWidget(m_download);

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

    // Shown for the whole run, not file by file: showing and hiding lays the window out.
    const auto primary = running ? m_engine.primaryRunningFile() : std::nullopt;
    m_current->setVisible(running);
    const double current = primary ? primary->progress : 0;
    m_current->setValue(permille(current));
    m_current->setFormat(percentText(current));

    QString state;
    if (running && m_engine.isPaused())
        state = QStringLiteral("En pause : les fichiers en cours se terminent, aucun autre n'est lancé.");
    else if (running && m_engine.cancelRequested())
        state = QStringLiteral("Annulation en cours…");
    else if (primary)
        state = QStringLiteral("En cours : ") + runningFilesText(m_engine.runningLabel(*primary), m_engine.runningCount());
    else if (running)
        state = QStringLiteral("Préparation du lot…");
    else if (m_engine.isComplete())
        state = QStringLiteral("Lot terminé : tous les fichiers ont été traités.");
    else if (m_engine.total() == 0)
        state = QStringLiteral("Choisis un dossier pour commencer.");
    else
        state = QStringLiteral("Prêt.");
    m_state->setText(state);
    if (!running && m_engine.isComplete())
        m_state->setEmphasis(statusColor(FileStatus::done, QColor()));
    else
        m_state->clearEmphasis();

    if (running) {
        const LiveStats stats = m_engine.liveStats();
        m_figures->setText(liveFiguresText(stats.elapsed, stats.ratePerMin, stats.eta));
    } else {
        m_figures->setText(QString());
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
