#include "watch/folder_watch.h"

#include <QFileInfo>
#include <QPointer>

#include <sys/inotify.h>

#include "core/background.h"
#include "core/file_names.h"

FolderWatch::FolderWatch(EventLog &log, const QStringList &extensions, QObject *parent)
    : QObject(parent), m_log(log), m_extensions(extensions) {
    m_settling.setDelay(defaultSettleDelay.count());
    m_timer.setSingleShot(true);
    // A coarse timer may fire early, and a file must never be taken early.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &FolderWatch::sweep);
    m_clock.start();
}

FolderWatch::~FolderWatch() = default;

void FolderWatch::setEnabled(bool enabled) {
    if (enabled == m_enabled) return;
    m_enabled = enabled;
    m_refused.reset(); // turned on again: try the folder again
    apply();
}

void FolderWatch::setTarget(std::optional<WatchTarget> target) {
    if (target == m_target) return;
    m_target = std::move(target);
    apply();
}

void FolderWatch::apply() {
    const std::optional<WatchTarget> wanted = m_enabled ? m_target : std::nullopt;
    if (wanted == m_watching || (wanted && wanted == m_refused)) return;
    if (m_watching) {
        m_log.log(QStringLiteral("Surveillance du dossier arrêtée : %1").arg(m_watching->folder));
        end();
    }
    if (wanted && !begin(*wanted)) m_refused = wanted;
    emit activeChanged();
}

bool FolderWatch::begin(const WatchTarget &target) {
    if (!QFileInfo(target.folder).isDir()) {
        m_log.log(QStringLiteral("Dossier à surveiller introuvable : %1").arg(target.folder));
        return false;
    }
    auto watches = std::make_shared<const WatchDescriptor>();
    if (!watches->valid()) {
        m_log.log(QStringLiteral("Surveillance du dossier impossible : le système la refuse (%1).").arg(target.folder));
        return false;
    }
    m_watches = std::move(watches);
    m_watching = target;
    m_notifier = std::make_unique<QSocketNotifier>(m_watches->fd(), QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &FolderWatch::readEvents);
    m_log.log(QStringLiteral("Surveillance du dossier active : %1. Les vocaux qui y arrivent sont transcrits dès "
                             "qu'ils ne changent plus.")
                  .arg(target.folder));
    walk(target.folder);
    return true;
}

void FolderWatch::end() {
    ++m_generation;
    m_notifier.reset();
    m_watches.reset(); // closed once the walks still running let it go
    m_watching.reset();
    m_folders.clear();
    m_early.clear();
    m_walks = 0;
    m_settling.clear();
    m_timer.stop();
}

void FolderWatch::rootLost() {
    m_log.log(QStringLiteral("Dossier surveillé introuvable : %1. La surveillance s'arrête.").arg(m_watching->folder));
    m_refused = m_watching;
    end();
    emit activeChanged();
}

void FolderWatch::readEvents() {
    QSet<QString> touched;
    for (const WatchEvent &event : m_watches->read()) {
        handle(event, touched);
        if (!m_watching) return; // the folder itself is gone
    }
    settle(touched);
}

void FolderWatch::handle(const WatchEvent &event, QSet<QString> &touched) {
    if (event.mask & IN_Q_OVERFLOW) {
        // Events were lost: a walk finds what changed (the history knows the rest).
        m_log.log(QStringLiteral("Trop de changements d'un coup dans le dossier surveillé : il est relu."));
        walk(m_watching->folder);
        return;
    }
    const auto found = m_folders.constFind(event.watch);
    if (found == m_folders.constEnd()) {
        if (m_walks > 0 && !(event.mask & IN_IGNORED)) m_early.append(event);
        return;
    }
    const QString folder = *found;
    const bool isRoot = folder == m_watching->folder;
    if (event.mask & IN_IGNORED) {
        m_folders.remove(event.watch);
        if (isRoot) rootLost();
        return;
    }
    if (event.name.isEmpty()) {
        if (isRoot && (event.mask & (IN_DELETE_SELF | IN_MOVE_SELF))) rootLost();
        return;
    }
    const QString path = folder + QLatin1Char('/') + decodeFileName(event.name);
    if (event.mask & IN_ISDIR) {
        folderChanged(path, event.mask);
    } else if (isScannedAudio(path, m_extensions)) {
        if (event.mask & (IN_DELETE | IN_MOVED_FROM)) {
            m_settling.forget(path);
            touched.remove(path);
        } else {
            touched.insert(path);
        }
    }
}

void FolderWatch::folderChanged(const QString &path, quint32 mask) {
    if (mask & (IN_DELETE | IN_MOVED_FROM))
        forgetFolder(path);
    else if ((mask & (IN_CREATE | IN_MOVED_TO)) && isScannedFolder(path, m_watching->skippedFolders))
        walk(path);
}

void FolderWatch::forgetFolder(const QString &path) {
    for (auto it = m_folders.begin(); it != m_folders.end();) {
        if (isInsideFolder(*it, path)) {
            m_watches->remove(it.key());
            it = m_folders.erase(it);
        } else {
            ++it;
        }
    }
    m_settling.forgetUnder(path);
}

QCoro::Task<> FolderWatch::walk(QString folder) {
    QPointer<FolderWatch> self(this);
    const quint64 generation = m_generation;
    ++m_walks;
    // Named before the co_await: GCC 12 may destroy a temporary lambda twice there.
    auto work = [watches = m_watches, folder, skipped = m_watching->skippedFolders, extensions = m_extensions] {
        return watchTree(*watches, folder, skipped, extensions);
    };
    QCoro::Task<WatchedTree> walking = onWorkerThread(std::move(work));
    const WatchedTree tree = co_await std::move(walking);
    if (!self || generation != m_generation) co_return;
    --m_walks;
    merge(tree);
}

void FolderWatch::merge(const WatchedTree &tree) {
    if (tree.limitReached && !std::exchange(m_limitLogged, true))
        m_log.log(QStringLiteral("Surveillance incomplète : le système limite le nombre de dossiers surveillés "
                                 "(fs.inotify.max_user_watches). Les autres vocaux attendent le prochain scan."));
    for (const auto &[watch, folder] : tree.folders) m_folders.insert(watch, folder);
    const qint64 t = now();
    for (const auto &[path, identity] : tree.files)
        if (m_hooks.wanted(path, identity)) m_settling.touch(path, identity, t);
    // Events of these folders that came before their numbers were known.
    QSet<QString> touched;
    for (const WatchEvent &event : std::exchange(m_early, {})) {
        handle(event, touched);
        if (!m_watching) return;
    }
    settle(touched);
}

void FolderWatch::settle(const QSet<QString> &touched) {
    const qint64 t = now();
    for (const QString &path : touched) {
        if (const auto identity = regularFileIdentity(path))
            m_settling.touch(path, *identity, t);
        else
            m_settling.forget(path); // gone again, or not a regular file
    }
    armTimer();
}

void FolderWatch::sweep() {
    const QStringList settled = m_settling.takeSettled(now(), regularFileIdentity);
    if (!settled.isEmpty()) {
        const QStringList later = m_hooks.settled(settled);
        if (!m_watching) return;
        const qint64 t = now();
        for (const QString &path : later)
            if (const auto identity = regularFileIdentity(path)) m_settling.touch(path, *identity, t);
    }
    const QStringList quiet = m_settling.takeQuiet(now());
    if (!quiet.isEmpty() && m_hooks.quiet) m_hooks.quiet(quiet);
    armTimer();
}

void FolderWatch::armTimer() {
    const std::optional<qint64> due = m_settling.nextDue();
    if (!due) {
        m_timer.stop();
        return;
    }
    const int wait = int(std::max<qint64>(0, *due - now()));
    if (!m_timer.isActive() || m_timer.remainingTime() > wait) m_timer.start(wait);
}
