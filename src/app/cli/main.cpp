#include <QCoreApplication>
#include <QTimer>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "app/cli/cli.h"
#include "app/front/launch.h"
#include "app/front/state_commands.h"
#include "core/state_lock.h"
#include "engine/transcriber.h"

namespace {
const std::map<QString, cli::Command> &commands() {
    static const std::map<QString, cli::Command> table = {
        {"scan", cli::scan},
        {"voice-memos", cli::voiceMemos},
        {"status", cli::status},
        {"settings", cli::settings},
        {"run", cli::run},
        {"watch", cli::watch},
        {"retry", cli::retry},
        {"force", cli::force},
        {"models", cli::models},
        {"correct", cli::correct},
        {"install-ollama", cli::installOllama},
        {"organize", cli::organize},
        {"search", cli::search},
    };
    return table;
}

QCoro::Task<> runCommand(cli::Command command, cli::Context &ctx, bool holdsState) {
    int code = co_await command(ctx);
    // A rebuild of the memo library holds the transcripts written meanwhile:
    // leaving before its end would lose their times.
    co_await ctx.engine.waitForLibrary();
    co_await ctx.engine.waitForSaves(); // their outcome decides the exit status
    if (holdsState && (ctx.engine.hasPendingSave() || ctx.engine.stateUnsaved())) ctx.engine.saveNow();
    // The work is done but its record is not: say so in the exit status.
    if (holdsState && ctx.engine.stateUnsaved() && code == cli::success) code = cli::someFailed;
    ctx.out.flush();
    ctx.err.flush();
    QCoreApplication::exit(code);
}
} // namespace

int main(int argc, char **argv) {
    cli::forgetAllocatorTuning();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Parlivo"));
    QTextStream out(stdout);
    QTextStream err(stderr);

    QStringList args = app.arguments().mid(1);
    if (args.isEmpty()) return cli::usage(err);
    auto found = commands().find(args.first());
    if (found == commands().end()) return cli::usage(err);

    const QStringList commandArgs = args.mid(1);
    const std::vector<std::string> texts(argv + 1, argv + argc);
    const cli::Words words(texts.begin(), texts.end());
    const bool holdsState = !cli::onlyLooks(words);
    std::optional<StateLock> lock;
    if (holdsState && !cli::holdState(lock, err)) return cli::badUsage;

    // Looking at the state runs nothing: no need to search for the tools.
    Transcriber engine(holdsState ? Tools::resolve() : Tools{}, cli::partsRead(words));
    cli::Context ctx{engine, commandArgs, out, err, [&err](const QString &line) { err << line << Qt::endl; }};
    // Lines logged while loading (a state file set aside) are shown too.
    for (const QString &line : engine.logLines()) ctx.printLog(line);
    QObject::connect(&engine, &Transcriber::logLineAdded, [&ctx](const QString &line) { ctx.printLog(line); });

    QTimer::singleShot(0, [&] { runCommand(found->second, ctx, holdsState); });
    return app.exec();
}
