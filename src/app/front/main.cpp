// parlivo-cli. `settings` (to read) and `status` are answered here, by a
// program linked to QtCore alone: they start in about half the time of one
// that loads the network, D-Bus and SQL libraries. Every other command is
// handed, arguments unchanged, to parlivo-engine beside this program.
#include <QCoreApplication>

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "app/front/look_commands.h"
#include "core/event_log.h"
#include "core/folders.h"
#include "queue/file_queue.h"
#include "queue/state_store.h"

namespace {
// Exit status of a program that could not be started, as a shell gives it.
constexpr int notStarted = 127;

int handOver(char **argv) {
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    const std::string engine = (self.parent_path() / "parlivo-engine").string();
    execv(engine.c_str(), argv);
    std::fprintf(stderr, "Impossible de lancer %s : %s.\n", engine.c_str(),
                 errno == ENOENT ? "programme introuvable, l'installation est incomplète" : std::strerror(errno));
    return notStarted;
}

int answer(const QString &command, const QStringList &args) {
    QTextStream out(stdout);
    QTextStream err(stderr);
    // The engine does the same before reading the state.
    folders::migrateFormerSupportDir();
    EventLog log;
    QObject::connect(&log, &EventLog::lineAdded, [&err](const QString &line) { err << line << Qt::endl; });
    // A partial read: this store never writes, so it is given nothing to save.
    StateStore store(log, {});
    StoredState stored = store.read(cli::partsRead(command, args));
    const ParlivoSettings settings = stored.settings ? stored.settings->settings : ParlivoSettings{};
    if (command == QLatin1String("settings")) return cli::printSettings(settings, args, out, err);

    FileQueue queue(log, [] { return QStringList(); });
    if (stored.queue) queue.restore(std::move(stored.queue->files));
    cli::printStatus(queue, out);
    return cli::success;
}
} // namespace

int main(int argc, char **argv) {
    QStringList args;
    for (int i = 1; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
    if (args.isEmpty() || !cli::answeredByFront(args.first(), args.mid(1))) return handOver(argv);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Parlivo"));
    return answer(args.first(), args.mid(1));
}
