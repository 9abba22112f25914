// parlivo-state: `settings` (to read) and `status`, answered by a program
// linked to QtCore alone. parlivo-cli starts it for those; anything else is
// handed on to parlivo-engine.
#include <QCoreApplication>

#include "app/front/launch.h"
#include "app/front/look_commands.h"
#include "core/event_log.h"
#include "core/folders.h"
#include "queue/file_queue.h"
#include "queue/state_store.h"

namespace {
int answer(const cli::Words &words, const QStringList &args) {
    QTextStream out(stdout);
    QTextStream err(stderr);
    // The engine does the same before reading the state.
    folders::migrateFormerSupportDir();
    EventLog log;
    QObject::connect(&log, &EventLog::lineAdded, [&err](const QString &line) { err << line << Qt::endl; });
    // A partial read: this store never writes, so it is given nothing to save.
    StateStore store(log, {});
    StoredState stored = store.read(cli::partsRead(words));
    const ParlivoSettings settings = stored.settings ? stored.settings->settings : ParlivoSettings{};
    if (words.front() == "settings") return cli::printSettings(settings, args, out, err);

    FileQueue queue(log, [] { return QStringList(); });
    if (stored.queue) queue.restore(std::move(stored.queue->files));
    cli::printStatus(queue, out);
    return cli::success;
}
} // namespace

int main(int argc, char **argv) {
    const cli::Words words(argv + 1, argv + argc);
    if (!cli::answeredFromState(words)) return cli::launchBeside("parlivo-engine", argv);
    cli::forgetAllocatorTuning();

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Parlivo"));
    return answer(words, app.arguments().mid(2));
}
