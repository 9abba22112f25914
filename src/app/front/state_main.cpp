// parlivo-state: `settings` (to read), `status` and `scan`, answered by a
// program linked to QtCore alone. parlivo-cli starts it for those; anything
// else is handed on to parlivo-engine.
#include <QCoreApplication>

#include "app/front/launch.h"
#include "app/front/look_commands.h"
#include "app/front/state_commands.h"
#include "core/event_log.h"
#include "core/folders.h"
#include "queue/file_queue.h"
#include "queue/places.h"
#include "queue/state_store.h"

namespace {
// `scan DOSSIER`, holding the state folder's lock as the engine would.
int scan(const QString &path, EventLog &log, QTextStream &out, QTextStream &err) {
    std::optional<StateLock> lock;
    if (!cli::holdState(lock, err)) return cli::badUsage;
    const auto folder = cli::folderArgument(path, err);
    if (!folder) return cli::badUsage;
    ParlivoSettings settings;
    FileQueue queue(log, [&] { return writtenFolders(settings, queue.sourceFolder()); });
    StateStore store(log, [&] {
        return StateSnapshot{settings, PersistedState{queue.sourceFolder(), queue.files(), false},
                             queue.sharedLedger()};
    });
    // The folder is walked while the history is decoded: the two largest
    // parts of a scan, and neither needs the other.
    QList<QUrl> found;
    StoredState stored = store.read(StateParts::all, [&](const ParlivoSettings &known) {
        settings = known;
        found = FileQueue::audioFilesIn(*folder, writtenFolders(settings, folder));
    });
    queue.restoreStored(stored, StateParts::all);
    if (cli::isSourceFolder(queue.sourceFolder(), *folder))
        queue.rescan(found);
    else
        queue.setSourceFolder(*folder, found);
    store.saveNow();
    cli::printQueue(queue.files(), out);
    // The scan is done but its record is not: the exit status says so.
    return store.unsaved() ? cli::someFailed : cli::success;
}

int answer(const cli::Words &words, const QStringList &args) {
    QTextStream out(stdout);
    QTextStream err(stderr);
    EventLog log;
    QObject::connect(&log, &EventLog::lineAdded, [&err](const QString &line) { err << line << Qt::endl; });
    if (words.front() == "scan") return scan(args.first(), log, out, err);
    // The engine does the same before reading the state.
    folders::migrateFormerSupportDir();
    // A partial read: this store never writes, so it is given nothing to save.
    StateStore store(log, {});
    StoredState stored = store.read(cli::partsRead(words));
    const ParlivoSettings settings = stored.settings ? stored.settings->settings : ParlivoSettings{};
    if (words.front() == "settings") return cli::printSettings(settings, args, out, err);

    FileQueue queue(log, [] { return QStringList(); });
    queue.restoreStored(stored, StateParts::settingsAndQueue);
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
