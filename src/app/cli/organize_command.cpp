// parlivo-cli organize: the organization run, waited for.
#include <unistd.h>

#include "app/cli/cli.h"
#include "app/cli/interrupt.h"
#include "app/cli/progress_line.h"
#include "engine/transcriber.h"

namespace cli {

QCoro::Task<int> organize(Context &ctx) {
    Transcriber &engine = ctx.engine;
    if (!ctx.args.isEmpty()) co_return usage(ctx.err);
    if (!engine.organizeRootFolder()) {
        ctx.err << "Dossier de sortie inconnu : choisis d'abord un dossier source (parlivo-cli scan DOSSIER)."
                << Qt::endl;
        co_return badUsage;
    }
    CancelOnInterrupt interrupt([&engine] { engine.cancelOrganization(); });
    ProgressLine progress(engine, ctx.err, ::isatty(STDERR_FILENO));
    ctx.printLog = [&progress](const QString &line) { progress.logLine(line); };
    engine.startOrganization();
    co_await engine.waitForOrganization();
    progress.clear();
    ctx.printLog = [&ctx](const QString &line) { ctx.err << line << Qt::endl; };

    if (engine.orgPhase() != QStringLiteral("Terminé")) co_return someFailed; // stopped early or cancelled
    const int pending = engine.pendingOrganizationCount();
    ctx.out << engine.orgOrganizedCount() << " vocal(aux) rangé(s) dans " << *engine.organizeRootFolder() << '\n';
    if (pending > 0) ctx.out << pending << " vocal(aux) en attente pour la prochaine fois\n";
    ctx.out.flush();
    co_return pending > 0 ? someFailed : success;
}

} // namespace cli
