#pragma once
// The correction pass: transcripts written raw (correction off, service down)
// are corrected afterwards, one at a time, in place. Owns the count of raw
// transcripts, the pass's figures and its cancellation. Where the transcripts
// are, whether a batch runs and what follows a pass are handed in.

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

#include <qcoro/qcorotask.h>

#include "core/cancellation.h"
#include "core/event_log.h"
#include "core/live_stats.h"
#include "core/settings.h"
#include "correction/correction_pass_end.h"
#include "provisioning/ollama_runtime.h"

struct CorrectionPassHooks {
    std::function<std::optional<QString>()> outputRoot;
    std::function<std::optional<QString>()> archiveRoot; // its copies are not transcripts of their own
    std::function<bool()> batchRunning;
    // Runs before the end is announced, so whoever waits for the pass finds
    // what follows it already started.
    std::function<void(CorrectionPassEnd)> afterPass;
};

// The raw transcripts under `root`, read on a worker thread.
QCoro::Task<QStringList> rawTranscriptsOffThread(QString root, std::optional<QString> archive);

class CorrectionPass : public QObject {
    Q_OBJECT

public:
    CorrectionPass(const ParlivoSettings &settings, EventLog &log, OllamaRuntime &ollama, CorrectionPassHooks hooks,
                   QObject *parent = nullptr);

    int rawCount() const { return m_rawCount; }
    bool active() const { return m_active; }
    int done() const { return m_done; }
    int total() const { return m_total; }
    const std::optional<QString> &current() const { return m_current; }
    // Largest pass total seen, kept across launches (read at the first look); 0 once nothing is raw.
    int jobTotal() const;
    const std::optional<QDateTime> &startedAt() const { return m_startedAt; }
    CorrectionPassEnd lastEnd() const { return m_lastEnd; }
    RateEstimate liveStats(const QDateTime &now = QDateTime::currentDateTime()) const;

    // Correction is on and has a service to send the text to.
    bool wanted() const;
    void start();
    // Stops the pass at once: the request in flight is aborted, its file stays raw.
    void cancel();
    QCoro::Task<> waitForEnd();
    // True when the file was corrected and rewritten.
    QCoro::Task<bool> correctTranscript(QString md);
    // Rewrites the .md (and its .txt sibling) with the corrected text; write errors are ignored.
    void rewriteCorrected(const QString &md, const QString &content, const QString &raw, const QString &corrected);

    // Counts the raw transcripts on a worker thread and publishes the count;
    // `then` gets the count when this walk is the one that ends it.
    void countRaw(std::function<void(int)> then = {});
    // A count just made elsewhere: walks still running are outdated.
    void publishRawCount(int count);

signals:
    void changed(); // the raw count, the pass and its figures
    // Once at the very end; the waits await this rather than changed(), which may fire twice in a row.
    void finished();
    // A transcript was rewritten with its corrected text.
    void transcriptCorrected(const QString &md, const QString &markdown);

private:
    QCoro::Task<> run();
    QCoro::Task<int> correctFiles(QStringList files);
    QCoro::Task<QStringList> rawFiles(QString root);
    // `rawLeft`: the count a last walk just made, published instead of walking again.
    void finish(CorrectionPassEnd end, std::optional<int> rawLeft = std::nullopt);
    void setJobTotal(int total);
    void setRawCount(int count);

    const ParlivoSettings &m_settings;
    EventLog &m_log;
    OllamaRuntime &m_ollama;
    CorrectionPassHooks m_hooks;

    int m_rawCount = 0;
    quint64 m_rawCountRequest = 0; // only the latest count is published
    bool m_active = false;
    int m_done = 0;
    int m_total = 0;
    std::optional<QString> m_current;
    mutable std::optional<int> m_jobTotal;
    std::optional<QDateTime> m_startedAt;
    // Checked before each file and between cycles; also aborts the request in flight.
    Cancellation m_cancel;
    CorrectionPassEnd m_lastEnd = CorrectionPassEnd::none;
    std::optional<QCoro::Task<>> m_task;
};
