#include "correction/run_correction.h"

#include <QPointer>

#include "correction/corrector.h"

namespace {
QString modelOf(const ParlivoSettings &settings) {
    return settings.correctionBackend == CorrectionBackend::ollama ? settings.ollamaModel : settings.anthropicModel;
}
} // namespace

RunCorrection::RunCorrection(const ParlivoSettings &settings, EventLog &log, OllamaRuntime &ollama, QObject *parent)
    : QObject(parent), m_settings(settings), m_log(log), m_ollama(ollama) {}

QCoro::Task<> RunCorrection::preflight() {
    m_activeThisRun = false;
    const ParlivoSettings settings = m_settings;
    if (!settings.correctionEnabled || settings.correctionBackend == CorrectionBackend::none) co_return;
    if (settings.correctionBackend == CorrectionBackend::ollama) {
        if (!co_await m_ollama.ensureRunning()) {
            m_log.log(QStringLiteral("Ollama n'a pas pu démarrer (%1). Le lot produit le texte brut.")
                    .arg(settings.ollamaEndpoint));
            co_return;
        }
    } else if (settings.anthropicKey.isEmpty()) {
        m_log.log(QStringLiteral("Clé API Anthropic manquante. Le lot produit le texte brut."));
        co_return;
    }
    m_activeThisRun = true;
    m_log.log(QStringLiteral("Correction LLM active : %1 (%2).").arg(label(settings.correctionBackend), modelOf(settings)));
}

void RunCorrection::setCorrectingName(std::optional<QString> name) {
    m_correctingName = std::move(name);
    emit changed();
}

QCoro::Task<std::optional<QString>> RunCorrection::correct(QString name, QString text, Cancellation &cancel) {
    if (!wants(text)) co_return std::nullopt;
    QPointer<RunCorrection> self(this);
    setCorrectingName(name);

    const ParlivoSettings settings = m_settings;
    std::optional<QString> corrected;
    std::optional<QString> failure;
    bool backendDown = false;
    try {
        QString answer = co_await Corrector::correct(text, settings, &cancel);
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

    m_log.log(QStringLiteral("Correction échouée sur %1, texte brut conservé : %2").arg(name, *failure));
    if (!backendDown) co_return std::nullopt;
    if (settings.correctionBackend == CorrectionBackend::ollama) {
        const bool restarted = co_await m_ollama.ensureRunning();
        if (!self) co_return std::nullopt;
        if (restarted) {
            m_log.log(QStringLiteral("Ollama relancé, correction maintenue pour la suite."));
        } else {
            m_activeThisRun = false;
            m_log.log(QStringLiteral("Correction désactivée pour la suite du lot (Ollama indisponible)."));
        }
    } else {
        m_activeThisRun = false;
        m_log.log(QStringLiteral("Correction désactivée pour la suite du lot."));
    }
    co_return std::nullopt;
}
