// Commands that transcribe: run, retry, force, and the whisper models.
#include <QDir>
#include <QFileInfo>

#include <unistd.h>

#include <qcoro/qcorotask.h>

#include "app/cli/cli.h"
#include "app/cli/interrupt.h"
#include "app/cli/progress_line.h"
#include "core/folders.h"
#include "core/next_emission.h"
#include "engine/transcriber.h"
#include "provisioning/downloader.h"
#include "provisioning/model_catalog.h"

namespace cli {

namespace {

// Waits while the automatic first model download runs.

// Queue ids of the given paths; reports the paths that are not queued.
std::optional<Transcriber::IdSet> idsOf(Context &ctx, const QStringList &paths) {
    Transcriber::IdSet ids;
    bool allFound = true;
    for (const QString &p : paths) {
        const QString wanted = QDir::cleanPath(QFileInfo(p).absoluteFilePath());
        bool found = false;
        for (const AudioFile &file : ctx.engine.files())
            if (file.path() == wanted) {
                ids.insert(file.id);
                found = true;
            }
        if (!found) {
            ctx.err << "Fichier absent de la file : " << p << Qt::endl;
            allFound = false;
        }
    }
    if (!allFound) return std::nullopt;
    return ids;
}

// Runs whatever start() began (a download, then a batch, then the correction
// pass and organization it chains) to its end, with Ctrl-C as the cancel action. The exit
// status reflects the files' outcome.
QCoro::Task<int> followRun(Context &ctx) {
    Transcriber &engine = ctx.engine;
    CancelOnInterrupt interrupt(cancelWork(engine));
    ProgressLine progress(engine, ctx.err, ::isatty(STDERR_FILENO));
    ctx.printLog = [&progress](const QString &line) { progress.logLine(line); };
    co_await engine.waitForModelDownload();
    co_await engine.waitForRun();
    const bool cancelled = engine.cancelRequested();
    co_await engine.waitForCorrectionPass();
    co_await engine.waitForOrganization();
    progress.clear();
    ctx.printLog = [&ctx](const QString &line) { ctx.err << line << Qt::endl; };
    engine.saveNow();
    if (cancelled || engine.errorCount() > 0) co_return someFailed;
    co_return success;
}

} // namespace

std::function<void()> cancelWork(Transcriber &engine) {
    return [&engine] {
        engine.cancel();
        engine.cancelCorrectionPass();
        engine.cancelOrganization();
    };
}

QCoro::Task<int> run(Context &ctx) {
    Transcriber &engine = ctx.engine;
    if (ctx.args.size() > 1) co_return usage(ctx.err);
    if (ctx.args.size() == 1 && !chooseFolder(ctx, ctx.args.first())) co_return badUsage;
    if (!engine.sourceFolder() && engine.files().isEmpty()) {
        ctx.err << "Aucun dossier source : parlivo-cli run DOSSIER" << Qt::endl;
        co_return badUsage;
    }
    if (!engine.toolsReady()) {
        engine.start(); // logs what is missing
        co_return badUsage;
    }
    engine.start();
    if (!engine.isRunning() && !engine.modelDownloadProgress()) co_return success; // nothing to do
    const int code = co_await followRun(ctx);
    if (engine.localModelMissing()) co_return badUsage; // the model could not be downloaded
    co_return code;
}

QCoro::Task<int> retry(Context &ctx) {
    Transcriber &engine = ctx.engine;
    if (ctx.args.isEmpty()) {
        const int failed = engine.errorCount();
        engine.retryAllErrors();
        ctx.err << failed << " fichier(s) remis en attente." << Qt::endl;
        co_return success;
    }
    auto ids = idsOf(ctx, ctx.args);
    if (!ids) co_return badUsage;
    engine.retry(*ids);
    ctx.err << ids->size() << " fichier(s) remis en attente." << Qt::endl;
    co_return success;
}

QCoro::Task<int> force(Context &ctx) {
    Transcriber &engine = ctx.engine;
    if (ctx.args.isEmpty()) co_return usage(ctx.err);
    auto ids = idsOf(ctx, ctx.args);
    if (!ids) co_return badUsage;
    if (!engine.toolsReady()) {
        engine.start();
        co_return badUsage;
    }
    engine.transcribeSelection(*ids);
    if (!engine.isRunning() && !engine.modelDownloadProgress()) co_return success;
    const int code = co_await followRun(ctx);
    if (engine.localModelMissing()) co_return badUsage;
    co_return code;
}

QCoro::Task<int> models(Context &ctx) {
    Transcriber &engine = ctx.engine;
    if (ctx.args.isEmpty()) {
        ctx.out << "Modèles locaux (" << folders::hestiaDir() << ") :\n";
        for (const ModelInfo &m : engine.availableModels())
            ctx.out << (m.path == engine.settings().modelPath ? "* " : "  ") << m.name << '\t'
                    << QString::number(double(m.sizeBytes) / 1e6, 'f', 1) << " Mo\t" << m.path << '\n';
        ctx.out << "Catalogue :\n";
        for (const DownloadableModel &m : DownloadableModel::catalog())
            ctx.out << "  " << m.filename << '\t' << m.label << '\n';
        co_return success;
    }
    if (ctx.args.size() != 2 || ctx.args.first() != QLatin1String("--download")) co_return usage(ctx.err);
    const QString filename = ctx.args.at(1);
    const auto &catalog = DownloadableModel::catalog();
    if (std::none_of(catalog.begin(), catalog.end(), [&](const auto &m) { return m.filename == filename; })) {
        ctx.err << "Modèle inconnu du catalogue : " << filename << Qt::endl;
        co_return badUsage;
    }
    Downloader downloader;
    const QString destination = folders::hestiaDir() + QLatin1Char('/') + filename;
    std::optional<std::optional<QString>> outcome;
    downloader.start(modelDownloadUrl(filename), destination, [&](std::optional<QString> error) { outcome = error; });
    ctx.err << downloader.statusText() << Qt::endl;
    while (!outcome) co_await nextEmission(&downloader, &Downloader::isDownloadingChanged);
    ctx.err << downloader.statusText() << Qt::endl;
    if (*outcome) co_return someFailed;
    if (engine.settings().modelPath.isEmpty()) {
        // The first model downloaded becomes the one in use.
        ParlivoSettings s = engine.settings();
        s.modelPath = destination;
        engine.setSettings(s);
    }
    engine.refreshModels();
    co_return success;
}

} // namespace cli
