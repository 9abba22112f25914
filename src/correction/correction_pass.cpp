// The correction pass: transcripts written raw (correction off, backend down)
// are corrected afterwards, one at a time, in place.
#include "correction/correction_pass.h"

#include <QFileInfo>
#include <QFutureWatcher>
#include <QPointer>
#include <QPromise>
#include <QSet>
#include <QStringDecoder>
#include <QThreadPool>

#include <qcoro/qcorotask.h>

#include "core/atomic_file.h"
#include "core/background.h"
#include "core/folders.h"
#include "core/next_emission.h"
#include "correction/corrector.h"
#include "correction/raw_transcripts.h"
#include "pipeline/transcript_names.h"

namespace {

QString siblingPlainText(const QString &md) {
    const QFileInfo info(md);
    return info.path() + QLatin1Char('/') + info.completeBaseName() + QStringLiteral(".txt");
}
} // namespace

CorrectionPass::CorrectionPass(const ParlivoSettings &settings, EventLog &log, OllamaRuntime &ollama,
                               CorrectionPassHooks hooks, QObject *parent)
    : QObject(parent), m_settings(settings), m_log(log), m_ollama(ollama), m_hooks(std::move(hooks)) {}

int CorrectionPass::jobTotal() const {
    if (!m_jobTotal) m_jobTotal = folders::preferences()->value(QStringLiteral("correctionJobTotal"), 0).toInt();
    return *m_jobTotal;
}

// ---------------------------------------------------------------- one file

QCoro::Task<bool> CorrectionPass::correctTranscript(QString md) {
    const auto content = readUtf8File(md);
    if (!content) co_return false;
    const auto raw = correctionBody(*content);
    if (!raw) co_return false;

    QPointer<CorrectionPass> self(this);
    std::optional<QString> answer;
    bool backendDown = false;
    try {
        answer = co_await Corrector::correct(*raw, m_settings, &m_cancel);
    } catch (const CorrectionError &error) {
        if (error.kind() == CorrectionError::Kind::cancelled) co_return false; // stays raw, nothing failed
        backendDown = error.isBackendDown();
    } catch (const std::exception &) {
    }
    if (!self) co_return false;
    if (answer) {
        const QString corrected = answer->trimmed();
        if (corrected.isEmpty()) co_return false;
        rewriteCorrected(md, *content, *raw, corrected);
        co_return true;
    }
    m_log.log(QStringLiteral("Correction échouée : ") + QFileInfo(md).fileName());
    // A dead backend: give the local server its chance to come back before
    // the next file, whatever the backend.
    if (backendDown) co_await m_ollama.ensureRunning();
    co_return false;
}

void CorrectionPass::rewriteCorrected(const QString &md, const QString &content, const QString &raw,
                                   const QString &corrected) {
    const QString markdown = correctedMarkdown(content, passCorrectionLabel(m_settings), raw, corrected);
    if (!writeFileAtomically(md, markdown.toUtf8())) emit transcriptCorrected(md, markdown);
    const QString txt = siblingPlainText(md);
    // Only the recording's own .txt follows, never the user's notes of that name.
    const auto recording = recordingOfMarkdown(content);
    if (!recording || transcriptOwner(txt, *recording) != TranscriptOwner::thisRecording) return;
    const auto plain = readUtf8File(txt);
    if (!plain) return;
    writeFileAtomically(txt, correctedPlainText(*plain, corrected).toUtf8());
}

// ---------------------------------------------------------------- the pass

bool CorrectionPass::wanted() const {
    return m_settings.correctionEnabled && m_settings.correctionBackend != CorrectionBackend::none;
}

void CorrectionPass::start() {
    if (m_active || m_hooks.batchRunning()) return;
    if (m_settings.correctionBackend == CorrectionBackend::none) {
        // Without a service a "correction" would only relabel the raw text.
        m_log.log(QStringLiteral("Aucun service de correction choisi : les transcriptions restent brutes."));
        m_lastEnd = CorrectionPassEnd::noService;
        return;
    }
    m_task = run();
}

void CorrectionPass::cancel() {
    // Also cuts off the request in flight: a model may take minutes to answer.
    if (m_active) m_cancel.cancel();
}

QCoro::Task<> CorrectionPass::waitForEnd() {
    while (m_active) co_await nextEmission(this, &CorrectionPass::finished);
}

void CorrectionPass::setJobTotal(int total) {
    if (jobTotal() == total) return;
    m_jobTotal = total;
    folders::preferences()->setValue(QStringLiteral("correctionJobTotal"), total);
    emit changed();
}

QCoro::Task<> CorrectionPass::run() {
    QPointer<CorrectionPass> self(this);
    m_active = true;
    m_cancel.reset();
    m_done = 0;
    m_total = 0;
    m_current.reset();
    m_startedAt = QDateTime::currentDateTime();
    emit changed();

    const bool ready = co_await m_ollama.ensureRunning();
    if (!self) co_return;
    if (!ready) {
        m_log.log(QStringLiteral("Ollama indisponible : correction impossible."));
        finish(CorrectionPassEnd::backendUnavailable);
        co_return;
    }
    const auto root = m_hooks.outputRoot();
    if (!root) {
        m_log.log(QStringLiteral("Dossier de sortie inconnu."));
        finish(CorrectionPassEnd::noOutputRoot);
        co_return;
    }
    const QString rootPath = *root;
    QStringList files = co_await rawFiles(rootPath);
    if (!self) co_return;
    if (files.isEmpty()) {
        m_log.log(QStringLiteral("Aucune transcription brute à corriger."));
        setJobTotal(0);
        finish(CorrectionPassEnd::nothingToCorrect, 0);
        co_return;
    }

    // What the end reports: files corrected out of the files met, each once
    // however many cycles retried it.
    QSet<QString> met;
    int corrected = 0;
    for (int cycle = 1;; ++cycle) {
        met.unite(QSet<QString>(files.cbegin(), files.cend()));
        m_total += int(files.size());
        if (jobTotal() < m_total) setJobTotal(m_total);
        emit changed();
        if (cycle == 1)
            m_log.log(QStringLiteral("Correction IA de %1 transcription(s) brute(s)…").arg(files.size()));
        else
            m_log.log(QStringLiteral("Nouveau tour : %1 transcription(s) brute(s) restante(s).").arg(files.size()));
        const int fixed = co_await correctFiles(files);
        if (!self) co_return;
        corrected += fixed;
        // A cycle that fixed nothing would fail the same way again.
        if (fixed == 0 || m_cancel.isCancelled()) break;
        files = co_await rawFiles(rootPath);
        if (!self) co_return;
        if (files.isEmpty()) break;
    }

    const bool cancelled = m_cancel.isCancelled();
    m_log.log(QStringLiteral("Correction IA terminée : %1/%2.").arg(corrected).arg(met.size()));
    if (!cancelled)
        m_log.notify(QStringLiteral("Correction terminée"),
               QStringLiteral("%1 transcription(s) corrigée(s) par l'IA.").arg(corrected));
    const int rawLeft = int((co_await rawFiles(rootPath)).size());
    if (!self) co_return;
    if (rawLeft == 0) setJobTotal(0);
    finish(cancelled ? CorrectionPassEnd::cancelled : CorrectionPassEnd::finished, rawLeft);
}

QCoro::Task<int> CorrectionPass::correctFiles(QStringList files) {
    QPointer<CorrectionPass> self(this);
    int fixed = 0;
    for (const QString &md : files) {
        if (m_cancel.isCancelled()) break;
        m_current = QFileInfo(md).completeBaseName();
        emit changed();
        const bool corrected = co_await correctTranscript(md);
        if (!self) co_return fixed;
        if (m_cancel.isCancelled() && !corrected) break; // cut off: not attempted to the end
        ++m_done;
        if (corrected) ++fixed;
        emit changed();
    }
    co_return fixed;
}

void CorrectionPass::finish(CorrectionPassEnd end, std::optional<int> rawLeft) {
    m_lastEnd = end;
    m_active = false;
    m_current.reset();
    m_startedAt.reset();
    emit changed();
    if (rawLeft)
        publishRawCount(*rawLeft);
    else
        countRaw();
    // Organization starts before the end is announced, so whoever waits for
    // the pass finds it already running and can wait for it in turn.
    m_hooks.afterPass(end);
    emit finished();
}

RateEstimate CorrectionPass::liveStats(const QDateTime &now) const {
    if (!m_startedAt || m_done == 0) return {};
    const double elapsed = double(m_startedAt->msecsTo(now)) / 1000.0;
    return estimateRate(m_done, elapsed, std::max(0, m_total - m_done));
}

// ---------------------------------------------------------------- the count

void CorrectionPass::setRawCount(int count) {
    if (m_rawCount == count) return;
    m_rawCount = count;
    emit changed();
}

void CorrectionPass::publishRawCount(int count) {
    ++m_rawCountRequest;
    setRawCount(count);
}

void CorrectionPass::countRaw(std::function<void(int)> then) {
    const auto root = m_hooks.outputRoot();
    if (!root) {
        setRawCount(0);
        return;
    }
    // The walk reads every Markdown transcript: on a worker thread, so the
    // window stays live. The watcher belongs to the pass, so a result that
    // arrives after the engine is gone goes nowhere.
    const quint64 request = ++m_rawCountRequest;
    auto promise = std::make_shared<QPromise<int>>();
    auto *watcher = new QFutureWatcher<int>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, request, then] {
        watcher->deleteLater();
        if (watcher->future().resultCount() == 0) return;
        const int count = watcher->result();
        if (request == m_rawCountRequest) setRawCount(count); // an older walk may end last
        if (then) then(count);
    });
    watcher->setFuture(promise->future());
    promise->start();
    QThreadPool::globalInstance()->start([promise, path = *root, archive = m_hooks.archiveRoot()] {
        promise->addResult(int(rawTranscripts(path, archive).size()));
        promise->finish();
    });
}

QCoro::Task<QStringList> CorrectionPass::rawFiles(QString root) { return rawTranscriptsOffThread(root, m_hooks.archiveRoot()); }

QCoro::Task<QStringList> rawTranscriptsOffThread(QString root, std::optional<QString> archive) {
    // Named before the co_await: GCC 12 may destroy a temporary lambda twice there.
    auto walk = [root, archive] { return rawTranscripts(root, archive); };
    QCoro::Task<QStringList> walking = onWorkerThread(std::move(walk));
    co_return co_await std::move(walking);
}
