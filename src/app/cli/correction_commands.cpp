// Commands of the language-model stage: the correction pass and the
// one-action install of the local server.
#include <unistd.h>

#include "app/cli/cli.h"
#include "app/cli/interrupt.h"
#include "app/cli/progress_line.h"
#include "correction/correction_pass_end.h"
#include "correction/raw_transcripts.h"
#include "engine/transcriber.h"

namespace cli {

namespace {
std::function<void()> cancelPass(Transcriber &engine) {
    return [&engine] { engine.cancelCorrectionPass(); };
}

// Each new phase of the install on standard error, as it begins.
QMetaObject::Connection showInstallPhases(Context &ctx) {
    auto shown = std::make_shared<QString>();
    return QObject::connect(&ctx.engine, &Transcriber::installChanged, [&ctx, shown] {
        const QString status = ctx.engine.installStatus();
        if (status.isEmpty() || status == *shown) return;
        *shown = status;
        ctx.err << status << Qt::endl;
    });
}
} // namespace

QCoro::Task<int> correct(Context &ctx) {
    Transcriber &engine = ctx.engine;
    if (!ctx.args.isEmpty()) co_return usage(ctx.err);
    const auto root = engine.outputRootFolder();
    if (!root) {
        ctx.err << "Dossier de sortie inconnu : choisis d'abord un dossier source (parlivo-cli scan DOSSIER)."
                << Qt::endl;
        co_return badUsage;
    }
    CancelOnInterrupt interrupt(cancelPass(engine));
    ProgressLine progress(engine, ctx.err, ::isatty(STDERR_FILENO));
    ctx.printLog = [&progress](const QString &line) { progress.logLine(line); };
    engine.startCorrectionPass();
    co_await engine.waitForCorrectionPass();
    progress.clear();
    ctx.printLog = [&ctx](const QString &line) { ctx.err << line << Qt::endl; };

    const auto end = engine.lastCorrectionPassEnd();
    if (end == Transcriber::CorrectionPassEnd::backendUnavailable || end == Transcriber::CorrectionPassEnd::noService)
        co_return badUsage;
    const QStringList raw = rawTranscripts(root->toLocalFile(), engine.organizeRootFolder());
    for (const QString &path : raw) ctx.out << "brute\t" << path << '\n';
    ctx.out.flush();
    if (engine.lastCorrectionPassEnd() == Transcriber::CorrectionPassEnd::cancelled || !raw.isEmpty())
        co_return someFailed;
    co_return success;
}

QCoro::Task<int> installOllama(Context &ctx) {
    Transcriber &engine = ctx.engine;
    if (!ctx.args.isEmpty()) co_return usage(ctx.err);
    const QMetaObject::Connection phases = showInstallPhases(ctx);
    engine.installOllama();
    co_await engine.waitForInstall();
    QObject::disconnect(phases);
    ctx.out << engine.installStatus() << '\n';
    ctx.out.flush();
    co_return engine.installProgress() >= 1.0 ? success : someFailed;
}

} // namespace cli
