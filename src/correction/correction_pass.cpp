// The correction pass: transcripts written raw (correction off, backend down)
// are corrected afterwards, one at a time, in place.
#include "engine/transcriber.h"

#include <QFileInfo>
#include <QFutureWatcher>
#include <QPointer>
#include <QPromise>
#include <QSet>
#include <QStringDecoder>
#include <QThreadPool>

#include <qcoro/qcorosignal.h>

#include "core/atomic_file.h"
#include "core/background.h"
#include "core/folders.h"
#include "correction/corrector.h"
#include "correction/raw_transcripts.h"
#include "pipeline/transcript_names.h"

namespace {

QString siblingPlainText(const QString &md) {
    const QFileInfo info(md);
    return info.path() + QLatin1Char('/') + info.completeBaseName() + QStringLiteral(".txt");
}
} // namespace

// ---------------------------------------------------------------- one file

QCoro::Task<bool> Transcriber::correctTranscript(QString md) {
    const auto content = readUtf8File(md);
    if (!content) co_return false;
    const auto raw = correctionBody(*content);
    if (!raw) co_return false;

    QPointer<Transcriber> self(this);
    std::optional<QString> answer;
    bool backendDown = false;
    try {
        answer = co_await Corrector::correct(*raw, m_settings, &m_correctionPassCancel);
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
    log(QStringLiteral("Correction échouée : ") + QFileInfo(md).fileName());
    // A dead backend: give the local server its chance to come back before
    // the next file, whatever the backend.
    if (backendDown) co_await ensureOllamaRunning();
    co_return false;
}

void Transcriber::rewriteCorrected(const QString &md, const QString &content, const QString &raw,
                                   const QString &corrected) {
    const QString markdown = correctedMarkdown(content, passCorrectionLabel(m_settings), raw, corrected);
    writeFileAtomically(md, markdown.toUtf8());
    const QString txt = siblingPlainText(md);
    // Only the recording's own .txt follows, never the user's notes of that name.
    const auto recording = recordingOfMarkdown(content);
    if (!recording || transcriptOwner(txt, *recording) != TranscriptOwner::thisRecording) return;
    const auto plain = readUtf8File(txt);
    if (!plain) return;
    writeFileAtomically(txt, correctedPlainText(*plain, corrected).toUtf8());
}

// ---------------------------------------------------------------- the pass

bool Transcriber::correctionWanted() const {
    return m_settings.correctionEnabled && m_settings.correctionBackend != CorrectionBackend::none;
}

void Transcriber::startCorrectionPass() {
    if (m_correctionPassActive || m_isRunning) return;
    if (m_settings.correctionBackend == CorrectionBackend::none) {
        // Without a service a "correction" would only relabel the raw text.
        log(QStringLiteral("Aucun service de correction choisi : les transcriptions restent brutes."));
        m_lastCorrectionPassEnd = CorrectionPassEnd::noService;
        return;
    }
    m_correctionPassTask = runCorrectionPass();
}

void Transcriber::cancelCorrectionPass() {
    // Also cuts off the request in flight: a model may take minutes to answer.
    if (m_correctionPassActive) m_correctionPassCancel.cancel();
}

QCoro::Task<> Transcriber::waitForCorrectionPass() {
    while (m_correctionPassActive) co_await qCoro(this, &Transcriber::correctionPassFinished);
}

void Transcriber::setCorrectionJobTotal(int total) {
    if (m_correctionJobTotal == total) return;
    m_correctionJobTotal = total;
    folders::preferences()->setValue(QStringLiteral("correctionJobTotal"), total);
    emit correctionChanged();
}

QCoro::Task<> Transcriber::runCorrectionPass() {
    QPointer<Transcriber> self(this);
    m_correctionPassActive = true;
    m_correctionPassCancel.reset();
    m_correctionPassDone = 0;
    m_correctionPassTotal = 0;
    m_correctionPassCurrent.reset();
    m_correctionStartedAt = QDateTime::currentDateTime();
    emit correctionChanged();

    const bool ready = co_await ensureOllamaRunning();
    if (!self) co_return;
    if (!ready) {
        log(QStringLiteral("Ollama indisponible : correction impossible."));
        finishCorrectionPass(CorrectionPassEnd::backendUnavailable);
        co_return;
    }
    const auto root = outputRootFolder();
    if (!root) {
        log(QStringLiteral("Dossier de sortie inconnu."));
        finishCorrectionPass(CorrectionPassEnd::noOutputRoot);
        co_return;
    }
    const QString rootPath = root->toLocalFile();
    QStringList files = co_await rawTranscriptsOffThread(rootPath, organizeRootFolder());
    if (!self) co_return;
    if (files.isEmpty()) {
        log(QStringLiteral("Aucune transcription brute à corriger."));
        setCorrectionJobTotal(0);
        finishCorrectionPass(CorrectionPassEnd::nothingToCorrect, 0);
        co_return;
    }

    // What the end reports: files corrected out of the files met, each once
    // however many cycles retried it.
    QSet<QString> met;
    int corrected = 0;
    for (int cycle = 1;; ++cycle) {
        met.unite(QSet<QString>(files.cbegin(), files.cend()));
        m_correctionPassTotal += int(files.size());
        if (m_correctionJobTotal < m_correctionPassTotal) setCorrectionJobTotal(m_correctionPassTotal);
        emit correctionChanged();
        if (cycle == 1)
            log(QStringLiteral("Correction IA de %1 transcription(s) brute(s)…").arg(files.size()));
        else
            log(QStringLiteral("Nouveau tour : %1 transcription(s) brute(s) restante(s).").arg(files.size()));
        const int fixed = co_await correctionCycle(files);
        if (!self) co_return;
        corrected += fixed;
        // A cycle that fixed nothing would fail the same way again.
        if (fixed == 0 || m_correctionPassCancel.isCancelled()) break;
        files = co_await rawTranscriptsOffThread(rootPath, organizeRootFolder());
        if (!self) co_return;
        if (files.isEmpty()) break;
    }

    const bool cancelled = m_correctionPassCancel.isCancelled();
    log(QStringLiteral("Correction IA terminée : %1/%2.").arg(corrected).arg(met.size()));
    if (!cancelled)
        notify(QStringLiteral("Correction terminée"),
               QStringLiteral("%1 transcription(s) corrigée(s) par l'IA.").arg(corrected));
    const int rawLeft = int((co_await rawTranscriptsOffThread(rootPath, organizeRootFolder())).size());
    if (!self) co_return;
    if (rawLeft == 0) setCorrectionJobTotal(0);
    finishCorrectionPass(cancelled ? CorrectionPassEnd::cancelled : CorrectionPassEnd::finished, rawLeft);
}

QCoro::Task<int> Transcriber::correctionCycle(QStringList files) {
    QPointer<Transcriber> self(this);
    int fixed = 0;
    for (const QString &md : files) {
        if (m_correctionPassCancel.isCancelled()) break;
        m_correctionPassCurrent = QFileInfo(md).completeBaseName();
        emit correctionChanged();
        const bool corrected = co_await correctTranscript(md);
        if (!self) co_return fixed;
        if (m_correctionPassCancel.isCancelled() && !corrected) break; // cut off: not attempted to the end
        ++m_correctionPassDone;
        if (corrected) ++fixed;
        emit correctionChanged();
    }
    co_return fixed;
}

void Transcriber::finishCorrectionPass(CorrectionPassEnd end, std::optional<int> rawLeft) {
    m_lastCorrectionPassEnd = end;
    m_correctionPassActive = false;
    m_correctionPassCurrent.reset();
    m_correctionStartedAt.reset();
    emit correctionChanged();
    if (rawLeft)
        publishRawCount(*rawLeft);
    else
        refreshRawCount();
    // Organization starts before the end is announced, so whoever waits for
    // the pass finds it already running and can wait for it in turn.
    if (end == CorrectionPassEnd::finished && m_settings.organizeEnabled) organizeAfterCorrection(false);
    emit correctionPassFinished();
}

RateEstimate Transcriber::correctionLiveStats(const QDateTime &now) const {
    if (!m_correctionStartedAt || m_correctionPassDone == 0) return {};
    const double elapsed = double(m_correctionStartedAt->msecsTo(now)) / 1000.0;
    return estimateRate(m_correctionPassDone, elapsed, std::max(0, m_correctionPassTotal - m_correctionPassDone));
}

// ---------------------------------------------------------------- the count

void Transcriber::setRawCount(int count) {
    if (m_rawCount == count) return;
    m_rawCount = count;
    emit correctionChanged();
}

void Transcriber::publishRawCount(int count) {
    ++m_rawCountRequest;
    setRawCount(count);
}

void Transcriber::refreshRawCount() { countRawTranscripts(false); }

void Transcriber::countRawTranscripts(bool atLaunch) {
    const auto root = outputRootFolder();
    if (!root) {
        setRawCount(0);
        return;
    }
    // The walk reads every Markdown transcript: on a worker thread, so the
    // window stays live. The watcher belongs to the engine, so a result that
    // arrives after the engine is gone goes nowhere.
    const quint64 request = ++m_rawCountRequest;
    auto promise = std::make_shared<QPromise<int>>();
    auto *watcher = new QFutureWatcher<int>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, request, atLaunch] {
        watcher->deleteLater();
        if (watcher->future().resultCount() == 0) return;
        const int count = watcher->result();
        if (request == m_rawCountRequest) setRawCount(count); // an older walk may end last
        if (atLaunch) considerAutoStart(count);
    });
    watcher->setFuture(promise->future());
    promise->start();
    QThreadPool::globalInstance()->start([promise, path = root->toLocalFile(), archive = organizeRootFolder()] {
        promise->addResult(int(rawTranscripts(path, archive).size()));
        promise->finish();
    });
}

QCoro::Task<QStringList> Transcriber::rawTranscriptsOffThread(QString root, std::optional<QString> archive) {
    // Named before the co_await: GCC 12 may destroy a temporary lambda twice there.
    auto walk = [root, archive] { return rawTranscripts(root, archive); };
    QCoro::Task<QStringList> walking = onWorkerThread(std::move(walk));
    co_return co_await std::move(walking);
}

void Transcriber::considerAutoStart(int count) {
    // Once per launch, and not over a batch (its end chains the pass anyway).
    if (std::exchange(m_didConsiderAutoCorrect, true) || m_isRunning) return;
    if (count == 0) {
        if (m_settings.organizeEnabled) organizeAfterCorrection(true);
    } else if (m_settings.correctionEnabled && m_settings.correctionBackend == CorrectionBackend::ollama) {
        startCorrectionPass();
    }
}
