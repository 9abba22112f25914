#include "app/gui/ai_stage_texts.h"

#include "app/gui/display_texts.h"

namespace {
bool correctsLocally(const ParlivoSettings &s) {
    return s.correctionEnabled && s.correctionBackend == CorrectionBackend::ollama;
}

// What the server is for, as the end of a sentence; `both` tells the verb's number.
QString serverUses(const ParlivoSettings &s, bool *both = nullptr) {
    const bool correction = correctsLocally(s);
    if (both) *both = correction && s.organizeEnabled;
    if (correction && s.organizeEnabled) return QStringLiteral("la correction locale et l'organisation des vocaux");
    if (correction) return QStringLiteral("la correction locale");
    return QStringLiteral("l'organisation des vocaux");
}

// The milestones of the engine's install; its progress lands on them exactly.
bool reached(double progress, double milestone) { return progress >= milestone - 1e-9; }
} // namespace

bool localServerNeeded(const ParlivoSettings &settings) {
    return correctsLocally(settings) || settings.organizeEnabled;
}

bool localServerBannerRelevant(const ParlivoSettings &settings, const LocalServerFacts &facts) {
    if (!localServerNeeded(settings)) return false;
    return facts.installing || !facts.running || facts.modelInstalled == false;
}

QString localServerFactsText(const LocalServerFacts &facts, const QString &model) {
    const auto yesNo = [](bool value) { return value ? QStringLiteral("oui") : QStringLiteral("non"); };
    QString modelState = QStringLiteral("non vérifié");
    if (facts.modelInstalled) modelState = *facts.modelInstalled ? QStringLiteral("présent") : QStringLiteral("absent");
    // A server that answers is installed, even where Parlivo does not look.
    return QStringLiteral("Installé : %1 · Démarré : %2 · Modèle %3 : %4")
        .arg(yesNo(facts.installed || facts.running), yesNo(facts.running), model, modelState);
}

QString localServerAdviceText(const ParlivoSettings &settings, const LocalServerFacts &facts) {
    bool both = false;
    const QString uses = serverUses(settings, &both);
    if (facts.installing) return QStringLiteral("Installation d'Ollama et du modèle %1 en cours.").arg(settings.ollamaModel);
    if (!facts.running && !facts.installed)
        return QStringLiteral("Ollama n'est pas installé : %1 %2 besoin.")
            .arg(uses, both ? QStringLiteral("en ont") : QStringLiteral("en a"));
    if (!facts.running) return QStringLiteral("Ollama est installé mais ne répond pas : lance-le pour %1.").arg(uses);
    if (facts.modelInstalled == false)
        return QStringLiteral("Ollama répond, mais le modèle %1 manque : il est téléchargé une seule fois, "
                              "à la première utilisation ou dès maintenant.")
            .arg(settings.ollamaModel);
    return QStringLiteral("Ollama est prêt.");
}

bool correctionBannerRelevant(bool passActive, int rawCount, bool batchRunning, const ParlivoSettings &settings) {
    if (passActive) return true;
    return rawCount > 0 && !batchRunning && settings.correctionEnabled &&
           settings.correctionBackend != CorrectionBackend::none;
}

QString rawCountText(int rawCount) {
    if (rawCount == 1) return QStringLiteral("1 transcription attend la correction par l'IA.");
    return QStringLiteral("%1 transcriptions attendent la correction par l'IA.").arg(rawCount);
}

QString correctionFiguresText(int done, int total, const RateEstimate &rate) {
    QStringList parts{QStringLiteral("%1 sur %2").arg(done).arg(total)};
    if (rate.ratePerMin > 0)
        parts << frenchDecimal(rate.ratePerMin, 1) + QStringLiteral(" transcriptions/min");
    if (rate.eta) parts << QStringLiteral("Reste : ") + formatDurationHuman(*rate.eta);
    return parts.join(QStringLiteral(" · "));
}

bool organizationBannerRelevant(bool active, bool organizeEnabled, int pendingCount, bool otherWorkRunning) {
    return active || (organizeEnabled && pendingCount > 0 && !otherWorkRunning);
}

QString pendingMemosText(int pendingCount) {
    if (pendingCount == 1) return QStringLiteral("1 vocal attend d'être rangé dans l'archive.");
    return QStringLiteral("%1 vocaux attendent d'être rangés dans l'archive.").arg(pendingCount);
}

QString organizationProgressText(const QString &phase, int done, int total) {
    if (total <= 0) return phase;
    return QStringLiteral("%1 : %2 sur %3").arg(phase).arg(done).arg(total);
}

QString organizedCountText(int organized) {
    if (organized <= 0) return QStringLiteral("Aucun vocal rangé pour l'instant.");
    if (organized == 1) return QStringLiteral("1 vocal rangé dans l'archive.");
    return QStringLiteral("%1 vocaux rangés dans l'archive.").arg(organized);
}

QStringList installStepTexts(const InstallState &state, const QString &model) {
    if (!state.installing && state.progress <= 0 && !state.error) return {};
    QStringList steps{QStringLiteral("Téléchargement d'Ollama (version officielle, la plus récente)…")};
    if (reached(state.progress, 0.6)) steps << QStringLiteral("Installation dans Applications…");
    if (reached(state.progress, 0.68))
        steps << QStringLiteral("Ollama installé.") << QStringLiteral("Lancement d'Ollama…");
    if (reached(state.progress, 0.72))
        steps << QStringLiteral("Téléchargement du modèle %1 (une seule fois)…").arg(model);
    if (state.installing) return steps;
    if (state.error)
        steps << QStringLiteral("Installation Ollama : ") + *state.error;
    else if (reached(state.progress, 1.0))
        steps << QStringLiteral("Prêt. La correction locale est opérationnelle.");
    else
        steps << state.status; // installed, but the server needs a first start by hand
    return steps;
}
