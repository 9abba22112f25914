#pragma once
// One queued file from "running" to its final status: skip, empty, convert,
// recognise, correct, write, remember. Owns the transcript names the files in
// hand have chosen and the outside programs' time limits; the queue, the run
// and the batch's correction stage are handed in.

#include <QObject>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <optional>

#include <qcoro/qcorotask.h>

#include "core/event_log.h"
#include "core/settings.h"
#include "correction/run_correction.h"
#include "pipeline/durations_ahead.h"
#include "pipeline/pipeline_rules.h"
#include "pipeline/process_runner.h"
#include "pipeline/remote_recogniser.h"
#include "pipeline/tools.h"
#include "pipeline/transcript_files.h"
#include "pipeline/transcript_names.h"
#include "queue/file_queue.h"
#include "queue/scheduler.h"

class FilePipeline : public QObject {
    Q_OBJECT

public:
    FilePipeline(FileQueue &queue, Scheduler &run, RunCorrection &correction, ProcessRunner &processes,
                 const Tools &tools, const ParlivoSettings &settings, EventLog &log, QObject *parent = nullptr);

    // `server`: the recognition server's slot that took the file (none: here).
    QCoro::Task<> process(QUuid id, std::optional<int> server = std::nullopt);
    void setRemoteRecogniser(RemoteRecogniser *remote) { m_remote = remote; }
    // Registered under the file's id: a cancel or the time limit ends it.
    QCoro::Task<std::optional<double>> probeDuration(QUuid id, QString source);
    // Reads ahead the durations of recordings that will soon be queued (a
    // watched folder's files while they settle), a few at a time.
    void probeAhead(const QStringList &paths);
    void markEmpty(const QUuid &id, std::optional<double> duration);
    void fail(const QUuid &id, const QString &message);
    // Scratch files left behind by a crash or a kill.
    void cleanupOrphanTempAudio();
    void setTimeLimits(const TimeLimits &limits) { m_timeLimits = limits; }

signals:
    // A transcript was written (the .md when both were), with the segments it was made of.
    void transcriptWritten(const QString &path, const QList<Segment> &segments);

private:
    // The segments of the converted audio; nothing when the file failed or
    // went back to pending (its status is already set).
    QCoro::Task<std::optional<QList<Segment>>> recognise(QUuid id, QString wav, std::optional<double> duration,
                                                         std::optional<int> server);
    QCoro::Task<std::optional<QList<Segment>>> recogniseHere(QUuid id, QString wav, std::optional<double> duration);
    QCoro::Task<std::optional<QList<Segment>>> recogniseOnServer(QUuid id, QString wav,
                                                                 std::optional<double> duration, int server);
    std::optional<TranscriptPaths> chooseTranscriptNames(const QUuid &id, const QString &source, const QUrl &url);
    bool transcriptHeldByAnother(const QString &stem, const QUuid &id, const QString &source) const;
    void startProbesAhead();
    QCoro::Task<> probeOneAhead(QString source);
    bool settleFromLedger(const QUuid &id, const QString &source, const QString &txt, const QString &md);
    void deferChangedFile(const QUuid &id);
    QString destinationOf(const QUrl &url) const;
    bool cancelled() const { return m_run.cancelRequested(); }
    bool timedOut(const QUuid &id) const { return m_processes.timedOutIDs().contains(id); }

    FileQueue &m_queue;
    Scheduler &m_run;
    RunCorrection &m_correction;
    ProcessRunner &m_processes;
    const Tools &m_tools;
    const ParlivoSettings &m_settings;
    EventLog &m_log;
    TranscriptNameClaims m_transcriptNames;
    TimeLimits m_timeLimits;
    DurationsAhead m_durationsAhead;
    RemoteRecogniser *m_remote = nullptr;
};
