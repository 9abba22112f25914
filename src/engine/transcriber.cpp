#include "engine/transcriber.h"

#include "core/folders.h"

Transcriber::Transcriber(Tools tools, QObject *parent) : QObject(parent), m_tools(std::move(tools)) {
    m_saveTimer.setSingleShot(true);
    m_saveTimer.setInterval(1200);
    connect(&m_saveTimer, &QTimer::timeout, this, &Transcriber::saveInBackground);
    m_stateWriter.setMaxThreadCount(1);
    m_maxParallelism = ::maxParallelism();
    m_monitorTimer.setSingleShot(true);
    connect(&m_monitorTimer, &QTimer::timeout, this, [this] { monitorCycle(); });
    migrateSupportDirIfNeeded();
    load();
    refreshModels();
    m_ollamaInstalled = isOllamaInstalled();
    m_correctionJobTotal = folders::preferences()->value(QStringLiteral("correctionJobTotal"), 0).toInt();
    loadOrgLedger();
}

void Transcriber::startBackgroundWork() {
    resumeInterruptedRunIfNeeded();
    startOllamaMonitor();
    countRawTranscripts(true);
}

Transcriber::~Transcriber() = default;

void Transcriber::setSettings(const ParlivoSettings &settings) {
    if (settings == m_settings) return;
    m_settings = settings;
    emit settingsChanged();
    if (!m_isLoading) scheduleSave();
}

const AudioFile *Transcriber::entry(const QUuid &id) const {
    for (const auto &file : m_files)
        if (file.id == id) return &file;
    return nullptr;
}

AudioFile *Transcriber::mutableEntry(const QUuid &id) {
    return const_cast<AudioFile *>(std::as_const(*this).entry(id));
}

void Transcriber::setStatus(const QUuid &id, FileStatus status) {
    AudioFile *file = mutableEntry(id);
    if (!file || file->status == status) return;
    adjust(file->status, -1);
    adjust(status, +1);
    file->status = status;
    emit entryChanged(id);
}

void Transcriber::adjust(FileStatus status, int by) {
    m_counts[size_t(status)] += by;
    emit countersChanged();
}

void Transcriber::recomputeCounters() {
    m_counts.fill(0);
    for (const auto &file : m_files) ++m_counts[size_t(file.status)];
    emit countersChanged();
}

void Transcriber::replaceQueue(QList<AudioFile> files) {
    m_files = std::move(files);
    recomputeCounters();
    emit queueChanged();
}
