// One queued file from "running" to its final status: skip, empty, convert,
// recognise, correct, write, remember.
#include "pipeline/file_pipeline.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QScopeGuard>
#include <QThread>

#include <unistd.h>

#include "core/background.h"
#include "core/file_names.h"
#include "core/folders.h"
#include "core/source_files.h"
#include "queue/places.h"

namespace {
// A fresh UUID name in the scratch folder.
QString scratchName() {
    return folders::tempDir() + QLatin1Char('/') + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

// A scratch file removed when the call ends, whatever the way out.
struct ScratchFile {
    QString path;
    explicit ScratchFile(QString p) : path(std::move(p)) {}
    ~ScratchFile() { QFile::remove(path); }
    ScratchFile(const ScratchFile &) = delete;
    ScratchFile &operator=(const ScratchFile &) = delete;
};

// Outside programs take their arguments as UTF-8: a recording whose name is
// not UTF-8 reaches them through a link with a plain name in the scratch
// folder (removed when the call ends). Other names go as they are.
QString pathForPrograms(const QString &source, std::optional<ScratchFile> &link) {
    if (!holdsRawBytes(source)) return source;
    link.emplace(scratchName() + QLatin1Char('.') + QFileInfo(source).suffix().toLower());
    ::symlink(encodeFileName(source).constData(), QFile::encodeName(link->path).constData());
    return link->path;
}
} // namespace

FilePipeline::FilePipeline(FileQueue &queue, Scheduler &run, RunCorrection &correction, ProcessRunner &processes,
                           const Tools &tools, const ParlivoSettings &settings, EventLog &log, QObject *parent)
    : QObject(parent), m_queue(queue), m_run(run), m_correction(correction), m_processes(processes), m_tools(tools),
      m_settings(settings), m_log(log) {}

QString FilePipeline::destinationOf(const QUrl &url) const {
    return destinationDir(m_settings, m_queue.sourceFolder(), url);
}

void FilePipeline::cleanupOrphanTempAudio() {
    // Left behind by a crash or a kill: nothing else writes here.
    const QDir dir(folders::tempDir());
    for (const QFileInfo &info : dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::System)) {
        const QString suffix = info.suffix().toLower();
        // Links are those made for recordings with names that are not UTF-8.
        if (suffix == QLatin1String("wav") || suffix == QLatin1String("json") || info.isSymLink())
            QFile::remove(info.filePath());
    }
}

// The short-cuts that spare any work: a history entry that still applies, or
// an up-to-date transcript already on disk. True when the file is settled.
bool FilePipeline::settleFromLedger(const QUuid &id, const QString &source, const QString &txt, const QString &md) {
    if (auto known = m_queue.matchingLedgerEntry(source)) {
        if (known->status == QLatin1String("done")) {
            m_queue.setStatus(id, FileStatus::skipped);
            if (AudioFile *file = m_queue.mutableEntry(id))
                file->outputPath = known->outputPath ? known->outputPath : existingOutputPath(txt, md);
            emit m_queue.entryChanged(id);
            return true;
        }
        if (known->status == QLatin1String("empty")) {
            m_queue.setStatus(id, FileStatus::empty);
            if (AudioFile *file = m_queue.mutableEntry(id)) file->errorMessage = known->errorMessage;
            emit m_queue.entryChanged(id);
            return true;
        }
    }
    if (shouldSkip(source, txt, md, m_settings.outputFormat)) {
        const auto existing = existingOutputPath(txt, md);
        m_queue.setStatus(id, FileStatus::skipped);
        if (AudioFile *file = m_queue.mutableEntry(id)) file->outputPath = existing;
        emit m_queue.entryChanged(id);
        m_queue.recordLedger(source, QStringLiteral("done"), existing, std::nullopt);
        return true;
    }
    return false;
}

void FilePipeline::markEmpty(const QUuid &id, std::optional<double> duration) {
    m_queue.setStatus(id, FileStatus::empty);
    AudioFile *file = m_queue.mutableEntry(id);
    if (!file) return;
    const QString durationText = emptyDurationText(duration);
    const QString message = emptyMessage(durationText);
    file->errorMessage = message;
    file->progress = 0;
    emit m_queue.entryChanged(id);
    m_queue.recordLedger(file->path(), QStringLiteral("empty"), std::nullopt, message);
    m_log.log(QStringLiteral("Vocal vide/illisible ignoré : %1 (%2).").arg(file->fileName(), durationText));
}

void FilePipeline::fail(const QUuid &id, const QString &message) {
    m_queue.setStatus(id, FileStatus::error);
    AudioFile *file = m_queue.mutableEntry(id);
    if (!file) return;
    file->errorMessage = message;
    file->progress = 0;
    emit m_queue.entryChanged(id);
    m_queue.recordLedger(file->path(), QStringLiteral("error"), std::nullopt, message);
    m_log.log(QStringLiteral("Erreur sur %1 : %2").arg(file->fileName(), firstLine(message)));
}

QCoro::Task<std::optional<double>> FilePipeline::probeDuration(QUuid id, QString source) {
    const double limit = m_timeLimits.probe;
    if (m_tools.ffprobe) {
        const QStringList args = ffprobeArguments(source);
        const ProcessResult probe = co_await m_processes.launchWithTimeout(*m_tools.ffprobe, args, id, limit, {}, true);
        if (auto seconds = parseFfprobeDuration(probe.standardOutput)) co_return seconds;
        if (cancelled() || timedOut(id)) co_return std::nullopt;
    }
    const QString afinfo = m_tools.afinfo.value_or(QStringLiteral("/usr/bin/afinfo"));
    const QStringList args{source};
    const ProcessResult probe = co_await m_processes.launchWithTimeout(afinfo, args, id, limit, {}, true);
    co_return parseAfinfoDuration(probe.standardOutput);
}

void FilePipeline::probeAhead(const QStringList &paths) {
    if (!m_tools.ffprobe) return; // the fallback reader is not on this system
    m_durationsAhead.want(paths, fileIdentity);
    startProbesAhead();
}

void FilePipeline::startProbesAhead() {
    // One per processor: short programs that would otherwise wait for the settle delay.
    while (const std::optional<QString> source = m_durationsAhead.next(QThread::idealThreadCount()))
        probeOneAhead(*source);
}

QCoro::Task<> FilePipeline::probeOneAhead(QString source) {
    QPointer<FilePipeline> self(this);
    const std::optional<FileIdentity> before = fileIdentity(source);
    std::optional<double> seconds;
    if (before) {
        std::optional<ScratchFile> link;
        // An id of its own: its time limit applies, and a cancel may end it (the file is then read in its turn).
        seconds = co_await probeDuration(QUuid::createUuid(), pathForPrograms(source, link));
        if (!self) co_return;
    }
    m_durationsAhead.finished(source, before, seconds);
    startProbesAhead();
}

bool FilePipeline::transcriptHeldByAnother(const QString &stem, const QUuid &id, const QString &source) const {
    if (m_transcriptNames.heldByOther(stem, id)) return true;
    // A recording that already has this name in the history keeps it, as long
    // as the recording is still there, even when its transcript is not.
    for (const auto &[path, entry] : m_queue.ledger()) {
        if (path == source || !entry.outputPath || entry.status != QLatin1String("done")) continue;
        if (hasStem(*entry.outputPath, stem) && fileIdentity(path)) return true;
    }
    return false;
}

std::optional<TranscriptPaths> FilePipeline::chooseTranscriptNames(const QUuid &id, const QString &source,
                                                                  const QUrl &url) {
    std::optional<QString> previous;
    const Ledger &ledger = m_queue.ledger();
    if (auto it = ledger.find(source); it != ledger.end() && it->second.outputPath)
        previous = transcriptStem(*it->second.outputPath);
    const auto held = [&](const QString &stem) { return transcriptHeldByAnother(stem, id, source); };
    auto paths = chooseTranscriptPaths(source, destinationOf(url), m_settings.outputFormat, m_settings.subtitleFormat,
                                       previous, held);
    if (paths) m_transcriptNames.claim(id, transcriptStem(paths->txt));
    return paths;
}

void FilePipeline::deferChangedFile(const QUuid &id) {
    const AudioFile *file = m_queue.entry(id);
    if (!file) return;
    m_log.log(QStringLiteral("%1 a changé pendant sa transcription : il sera transcrit de nouveau au prochain lot.")
            .arg(file->fileName()));
    m_run.deferChanged(id);
}

QCoro::Task<> FilePipeline::process(QUuid id, std::optional<int> server) {
    const AudioFile *found = m_queue.entry(id);
    if (!found) co_return;
    const QString source = found->path();
    const QString name = found->fileName();
    QPointer<FilePipeline> self(this); // the engine may go while a step is awaited
    auto onExit = qScopeGuard([this, id] {
        m_run.releaseCurrent(id);
        m_transcriptNames.release(id);
        emit m_queue.saveWanted();
    });

    // The file as the work starts: its result is recorded for this version only.
    const std::optional<FileIdentity> before = fileIdentity(source);
    if (!before) {
        fail(id, QStringLiteral("Fichier introuvable : il a été déplacé ou supprimé depuis le scan."));
        co_return;
    }
    const std::optional<TranscriptPaths> outputs = chooseTranscriptNames(id, source, found->url);
    if (!outputs) {
        fail(id, QStringLiteral("Aucun nom libre pour la transcription dans « %1 ».").arg(destinationOf(found->url)));
        co_return;
    }
    if (!m_run.isForced(id) && settleFromLedger(id, source, outputs->txt, outputs->md)) co_return;
    if (before->size == 0) {
        markEmpty(id, std::nullopt);
        co_return;
    }

    std::optional<ScratchFile> link;
    const QString input = pathForPrograms(source, link);
    std::optional<double> duration = m_durationsAhead.take(source, *before);
    if (!duration) duration = co_await probeDuration(id, input);
    if (AudioFile *file = m_queue.mutableEntry(id)) {
        file->durationSeconds = duration;
        emit m_queue.entryChanged(id);
    }
    // Checked before anything else: starting a conversion for a cancelled
    // run would hold the run open for nothing.
    if (cancelled()) {
        m_queue.returnToPending(id);
        co_return;
    }
    if (timedOut(id)) {
        fail(id, QStringLiteral("Lecture de la durée interrompue (délai dépassé)."));
        co_return;
    }
    if (duration && *duration < emptyThresholdSeconds) {
        markEmpty(id, duration);
        co_return;
    }

    const ScratchFile wav(scratchName() + QStringLiteral(".wav"));
    const bool useFfmpeg = m_tools.ffmpeg.has_value();
    const QString converter = useFfmpeg ? *m_tools.ffmpeg : m_tools.afconvert.value_or("/usr/bin/afconvert");
    const QStringList convertArgs = useFfmpeg ? ffmpegArguments(input, wav.path) : afconvertArguments(input, wav.path);
    const ProcessResult conversion = co_await m_processes.launchWithTimeout(converter, convertArgs, id, m_timeLimits.conversion);
    if (cancelled()) {
        m_queue.returnToPending(id);
        co_return;
    }
    if (conversion.code != 0 || !QFileInfo::exists(wav.path)) {
        if (timedOut(id))
            fail(id, QStringLiteral("Conversion audio interrompue (délai dépassé)."));
        else
            fail(id, QStringLiteral("Échec de la conversion audio (code %1).\n").arg(conversion.code) +
                         lastLines(conversion.standardError, failureTailLines));
        co_return;
    }

    const std::optional<QList<Segment>> segments = co_await recognise(id, wav.path, duration, server);
    if (!self) {
        onExit.dismiss();
        co_return;
    }
    if (!segments) co_return;

    std::optional<QString> corrected;
    const QString text = plainText(*segments);
    if (m_correction.wants(text)) {
        m_queue.setProgress(id, progressBeforeCorrection);
        corrected = co_await m_correction.correct(name, text, m_run.cancellation());
        if (!self) { // nothing left to report to
            onExit.dismiss();
            co_return;
        }
    }
    if (cancelled()) {
        m_queue.returnToPending(id);
        co_return;
    }

    // A file replaced or still being written: this text is not its text.
    const auto now = fileIdentity(source);
    if (!now || !sameIdentity(*now, before->size, before->mtime)) {
        deferChangedFile(id);
        co_return;
    }

    // The write ends with a flush to disk: off the main thread, so the window
    // never waits for it. The worker gets copies only.
    // (Named before the co_await: GCC 12 may destroy a temporary lambda twice there.)
    const QString recognisedOn = server && m_remote ? m_remote->machine(*server) : QString();
    auto write = [segments = *segments, corrected, source, duration, outputs = *outputs, settings = m_settings,
                  recognisedOn] {
        return writeOutputs(segments, corrected, source, duration, outputs.txt, outputs.md, settings, recognisedOn);
    };
    QCoro::Task<std::optional<WriteError>> writing = onWorkerThread(std::move(write));
    const std::optional<WriteError> writeError = co_await std::move(writing);
    if (!self) { // the engine went away meanwhile: nothing left to report to
        onExit.dismiss();
        co_return;
    }
    if (writeError && writeError->diskFull) {
        fail(id, writeError->reason);
        m_run.stopOnFullDisk(QFileInfo(outputs->txt).absolutePath()); // every other file would fail the same way
        co_return;
    }
    if (writeError) {
        fail(id, QStringLiteral("Impossible d'écrire la transcription : ") + writeError->reason);
        co_return;
    }
    const QString outputPath = m_settings.outputFormat == OutputFormat::md ? outputs->md : outputs->txt;
    m_queue.setStatus(id, FileStatus::done);
    if (AudioFile *file = m_queue.mutableEntry(id)) {
        file->progress = 1.0;
        file->outputPath = outputPath;
        emit m_queue.entryChanged(id);
    }
    // Recorded as the file was when the work began: a change during the
    // write still shows at the next scan.
    m_queue.recordLedger(source, QStringLiteral("done"), outputPath, std::nullopt, before);
    emit transcriptWritten(m_settings.outputFormat == OutputFormat::txt ? outputs->txt : outputs->md, *segments);
}

QCoro::Task<std::optional<QList<Segment>>> FilePipeline::recognise(QUuid id, QString wav,
                                                                   std::optional<double> duration,
                                                                   std::optional<int> server) {
    if (server && m_remote) return recogniseOnServer(id, std::move(wav), duration, *server);
    return recogniseHere(id, std::move(wav), duration);
}

QCoro::Task<std::optional<QList<Segment>>> FilePipeline::recogniseHere(QUuid id, QString wav,
                                                                       std::optional<double> duration) {
    // The recogniser writes its result at the prefix with ".json" appended.
    const QString prefix = scratchName();
    const ScratchFile json(prefix + QStringLiteral(".json"));
    const QStringList whisperArgs = whisperArguments(m_settings.modelPath, m_settings.language, prefix,
                                                     m_run.threadsPerJob(), wav);
    ProcessRunner::LineCallback onProgress = [this, id](const QString &line) {
        if (auto percent = parseWhisperProgress(line)) m_queue.setProgress(id, *percent / 100.0);
    };
    const ProcessResult recognition = co_await m_processes.launchWithTimeout(
        m_tools.whisper.value_or(QString()), whisperArgs, id, m_timeLimits.recognition(duration), onProgress);
    if (cancelled()) {
        m_queue.returnToPending(id);
        co_return std::nullopt;
    }
    std::optional<QList<Segment>> segments;
    if (recognition.code == 0) segments = parseWhisperJSON(json.path);
    if (!segments) {
        if (timedOut(id))
            fail(id, QStringLiteral("Transcription interrompue (délai dépassé)."));
        else
            fail(id, QStringLiteral("Échec de whisper-cli (code %1).\n").arg(recognition.code) +
                         lastLines(recognition.standardError, failureTailLines));
    }
    co_return segments;
}

QCoro::Task<std::optional<QList<Segment>>> FilePipeline::recogniseOnServer(QUuid id, QString wav,
                                                                           std::optional<double> duration,
                                                                           int server) {
    QCoro::Task<RemoteOutcome> asking =
        m_remote->recognise(server, wav, m_timeLimits.recognition(duration), &m_run.cancellation());
    const RemoteOutcome outcome = co_await std::move(asking);
    switch (outcome.fault) {
    case RemoteOutcome::Fault::none:
        if (!cancelled()) co_return outcome.segments;
        [[fallthrough]];
    case RemoteOutcome::Fault::cancelled:
    case RemoteOutcome::Fault::server: // another slot takes it; no attempt counted
        m_queue.returnToPending(id);
        co_return std::nullopt;
    case RemoteOutcome::Fault::audio:
        fail(id, outcome.message);
        co_return std::nullopt;
    }
    co_return std::nullopt;
}
