#pragma once
// When the AI stages' banners show, and the texts they and the settings
// window give. Pure functions of the engine's published values, so the tests
// check them without a window.

#include <QString>
#include <QStringList>

#include <optional>

#include "core/settings.h"
#include "core/live_stats.h"

// ---- The local LLM server ----

struct LocalServerFacts {
    bool installed = false;
    bool running = false;
    std::optional<bool> modelInstalled; // unknown until the server was asked
    bool installing = false;
};

// Correction with the local backend, or organization (which always asks the
// local server), needs the server.
bool localServerNeeded(const ParlivoSettings &settings);
// Needed, and something is missing or being installed. A server that
// answers with the model is enough, wherever it was installed from.
bool localServerBannerRelevant(const ParlivoSettings &settings, const LocalServerFacts &facts);
// "Installé : oui · Démarré : non · Modèle qwen2.5:7b : non vérifié"
QString localServerFactsText(const LocalServerFacts &facts, const QString &model);
// What is missing and what to do about it, naming what needs the server.
QString localServerAdviceText(const ParlivoSettings &settings, const LocalServerFacts &facts);

// ---- The correction pass ----

// A pass runs, or raw transcripts wait while no batch runs, correction is on
// and a backend can do it (with none the pass would only relabel them).
bool correctionBannerRelevant(bool passActive, int rawCount, bool batchRunning, const ParlivoSettings &settings);
// "1 transcription attend la correction par l'IA." / "12 transcriptions attendent…"
QString rawCountText(int rawCount);
// "3 sur 12 · 2,5 transcriptions/min · Reste : 3 min 10 s"; the rate and the
// remaining time only once known.
QString correctionFiguresText(int done, int total, const RateEstimate &rate);

// ---- The organization ----

// A run is active, or memos wait while nothing else runs (a batch or a
// correction pass goes on to the organization by itself).
bool organizationBannerRelevant(bool active, bool organizeEnabled, int pendingCount, bool otherWorkRunning);
// "1 vocal attend d'être rangé dans l'archive." / "4 vocaux attendent…"
QString pendingMemosText(int pendingCount);
// "Structuration par l'IA : 3 sur 12"; the phase alone while nothing is counted.
QString organizationProgressText(const QString &phase, int done, int total);
// "Aucun vocal rangé pour l'instant." / "1 vocal rangé dans l'archive." / "12 vocaux rangés…"
QString organizedCountText(int organized);

// ---- The install flow of the settings window ----

struct InstallState {
    bool installing = false;
    double progress = 0; // the engine's milestones: 0.05, 0.6, 0.68, 0.72, then up to 1
    QString status;      // the engine's own text of the current phase
    std::optional<QString> error;
};

// The steps reached so far, oldest first, in the settings window's words;
// empty before any install. The last line is where the install stands.
QStringList installStepTexts(const InstallState &state, const QString &model);
