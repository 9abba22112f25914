// parlivo-cli watch: the source folder watched until Ctrl-C, each recording
// that arrives transcribed once it holds still.
#include <qcoro/qcorotask.h>

#include "app/cli/cli.h"
#include "app/cli/interrupt.h"
#include "core/next_emission.h"
#include "engine/transcriber.h"

namespace cli {

QCoro::Task<int> watch(Context &ctx) {
    Transcriber &engine = ctx.engine;
    if (ctx.args.size() > 1) co_return usage(ctx.err);
    if (ctx.args.size() == 1 && !chooseFolder(ctx, ctx.args.first())) co_return badUsage;
    if (!engine.sourceFolder()) {
        ctx.err << "Aucun dossier source : parlivo-cli watch DOSSIER" << Qt::endl;
        co_return badUsage;
    }
    if (!engine.toolsReady()) {
        engine.start(); // logs what is missing
        co_return badUsage;
    }
    bool interrupted = false;
    CancelOnInterrupt interrupt([&] {
        interrupted = true;
        cancelWork(engine)();
        engine.setWatching(false);
    });
    engine.setWatching(true);
    if (!engine.isWatching()) co_return badUsage; // the log says why
    // Until Ctrl-C, or until the folder itself goes away.
    while (engine.isWatching()) co_await nextEmission(&engine, &Transcriber::watchChanged);
    co_await engine.waitForRun();
    co_await engine.waitForCorrectionPass();
    co_await engine.waitForOrganization();
    engine.saveNow();
    co_return interrupted ? success : someFailed;
}

} // namespace cli
