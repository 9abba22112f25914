// The language-model stage of a batch: whether this run corrects, the
// correction of each file, and what follows a finished batch.
#include "engine/transcriber.h"

#include <QPointer>

#include "correction/corrector.h"
#include "correction/raw_transcripts.h"

namespace {
QString modelOf(const ParlivoSettings &settings) {
    return settings.correctionBackend == CorrectionBackend::ollama ? settings.ollamaModel : settings.anthropicModel;
}
} // namespace

QCoro::Task<> Transcriber::correctionPreflight() {
    m_correctionActiveThisRun = false;
    const ParlivoSettings settings = m_settings;
    if (!settings.correctionEnabled || settings.correctionBackend == CorrectionBackend::none) co_return;
    if (settings.correctionBackend == CorrectionBackend::ollama) {
        if (!co_await ensureOllamaRunning()) {
            log(QStringLiteral("Ollama n'a pas pu démarrer (%1). Le lot produit le texte brut.")
                    .arg(settings.ollamaEndpoint));
            co_return;
        }
    } else if (settings.anthropicKey.isEmpty()) {
        log(QStringLiteral("Clé API Anthropic manquante. Le lot produit le texte brut."));
        co_return;
    }
    m_correctionActiveThisRun = true;
    log(QStringLiteral("Correction LLM active : %1 (%2).").arg(label(settings.correctionBackend), modelOf(settings)));
}

void Transcriber::setCorrectingName(std::optional<QString> name) {
    m_correctingName = std::move(name);
    emit runStateChanged();
}

QCoro::Task<std::optional<QString>> Transcriber::correctForRun(QUuid id, QString text) {
    if (!m_correctionActiveThisRun || text.trimmed().isEmpty()) co_return std::nullopt;
    const AudioFile *file = entry(id);
    if (!file) co_return std::nullopt;
    const QString name = file->fileName();
    QPointer<Transcriber> self(this);
    setProgress(id, progressBeforeCorrection);
    setCorrectingName(name);

    const ParlivoSettings settings = m_settings;
    std::optional<QString> corrected;
    std::optional<QString> failure;
    bool backendDown = false;
    try {
        QString answer = co_await Corrector::correct(text, settings, &m_runCancel);
        if (!answer.trimmed().isEmpty()) corrected = std::move(answer);
    } catch (const CorrectionError &error) {
        // A cancelled run cut the request off: not a failure, the file goes back to pending.
        if (error.kind() != CorrectionError::Kind::cancelled) failure = error.errorDescription();
        backendDown = error.isBackendDown();
    } catch (const std::exception &error) {
        failure = QString::fromUtf8(error.what());
    }
    if (!self) co_return std::nullopt;
    setCorrectingName(std::nullopt);
    if (!failure) co_return corrected;

    log(QStringLiteral("Correction échouée sur %1, texte brut conservé : %2").arg(name, *failure));
    if (!backendDown) co_return std::nullopt;
    if (settings.correctionBackend == CorrectionBackend::ollama) {
        const bool restarted = co_await ensureOllamaRunning();
        if (!self) co_return std::nullopt;
        if (restarted) {
            log(QStringLiteral("Ollama relancé, correction maintenue pour la suite."));
        } else {
            m_correctionActiveThisRun = false;
            log(QStringLiteral("Correction désactivée pour la suite du lot (Ollama indisponible)."));
        }
    } else {
        m_correctionActiveThisRun = false;
        log(QStringLiteral("Correction désactivée pour la suite du lot."));
    }
    co_return std::nullopt;
}

QCoro::Task<> Transcriber::chainAfterRun() {
    QPointer<Transcriber> self(this);
    m_chainingAfterRun = true;
    int rawLeft = 0;
    if (const auto root = outputRootFolder()) {
        rawLeft = int((co_await rawTranscriptsOffThread(root->toLocalFile(), organizeRootFolder())).size());
        if (!self) co_return;
    }
    publishRawCount(rawLeft);
    m_chainingAfterRun = false;
    if (correctionWanted() && rawLeft > 0)
        startCorrectionPass(); // goes on to organization itself
    else if (m_settings.organizeEnabled)
        organizeAfterCorrection(false);
    emit afterRunChained();
}
