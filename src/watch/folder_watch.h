#pragma once
// Watching the source folder: recordings that appear or change anywhere
// below it, in folders created later too, are handed over once their size
// and date have held still for the settle delay. The kernel says what changed
// (a watch per folder): nothing runs while nothing changes, and one timer runs
// while a file settles. Walks of a folder tree run on a worker thread.

#include <QElapsedTimer>
#include <QHash>
#include <QSet>
#include <QObject>
#include <QSocketNotifier>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include <qcoro/qcorotask.h>

#include "core/event_log.h"
#include "watch/settling_files.h"
#include "watch/watched_tree.h"

struct WatchTarget {
    QString folder;             // cleaned
    QStringList skippedFolders; // Parlivo's own output inside it, never entered
    bool operator==(const WatchTarget &) const = default;
};

struct WatchHooks {
    // A recording found by a walk: whether it still needs its transcript (the
    // history does not hold this version of it).
    std::function<bool(const QString &path, const FileIdentity &identity)> wanted;
    // Recordings that held still, in natural order. Returns those that cannot
    // be taken yet (being transcribed): they are offered again later.
    std::function<QStringList(const QStringList &paths)> settled;
    // Recordings still settling that have held still a while: what only
    // reads them (their duration) may be read ahead. Optional.
    std::function<void(const QStringList &paths)> quiet;
};

class FolderWatch : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds defaultSettleDelay{3000};

    FolderWatch(EventLog &log, const QStringList &extensions, QObject *parent = nullptr);
    ~FolderWatch() override;
    void setHooks(WatchHooks hooks) { m_hooks = std::move(hooks); }

    // Watching runs while it is enabled and has a target; a new target
    // starts it again there.
    void setEnabled(bool enabled);
    void setTarget(std::optional<WatchTarget> target);
    bool active() const { return m_watching.has_value(); }
    // How long a file must hold still (shortened by the tests).
    void setSettleDelay(std::chrono::milliseconds delay) { m_settling.setDelay(delay.count()); }
    int settlingCount() const { return m_settling.size(); }

signals:
    void activeChanged();

private:
    void apply();
    bool begin(const WatchTarget &target);
    void end();
    void readEvents();
    void handle(const WatchEvent &event, QSet<QString> &touched);
    void folderChanged(const QString &path, quint32 mask);
    void rootLost();
    QCoro::Task<> walk(QString folder);
    void merge(const WatchedTree &tree);
    void replayEarlyEvents();
    void forgetFolder(const QString &path);
    void settle(const QSet<QString> &touched);
    void sweep();
    void armTimer();
    qint64 now() const { return m_clock.elapsed(); }

    EventLog &m_log;
    const QStringList m_extensions;
    WatchHooks m_hooks;
    bool m_enabled = false;
    std::optional<WatchTarget> m_target;
    std::optional<WatchTarget> m_watching;
    std::optional<WatchTarget> m_refused; // missing or refused: not tried again until it changes
    std::shared_ptr<const WatchDescriptor> m_watches;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QHash<int, QString> m_folders; // watch number → folder
    // Walks on worker threads; events of the folders they are watching
    // wait until their numbers are known.
    int m_walks = 0;
    QList<WatchEvent> m_early;
    quint64 m_generation = 0; // a walk of an earlier watch is dropped
    bool m_limitLogged = false;
    SettlingFiles m_settling;
    QTimer m_timer;
    QElapsedTimer m_clock;
};
