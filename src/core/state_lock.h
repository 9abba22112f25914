#pragma once
// One engine per state folder. The window and every command that changes the
// state hold this lock, a lock file in the state folder, from before the state
// is loaded until they end: two engines would each run the queue and
// overwrite each other's files. A lock left by a process that died (a crash,
// a kill) is taken over.

#include <QLockFile>
#include <QString>

#include <optional>

class StateLock {
public:
    // Who holds the lock: the process and the name of its program.
    struct Holder {
        qint64 pid = 0;
        QString program;

        // A command line's program: it has no window to bring forward.
        bool isCommand() const {
            return program == QLatin1String("parlivo-engine") || program == QLatin1String("parlivo-state") ||
                   program == QLatin1String("parlivo-cli");
        }
    };

    explicit StateLock(const QString &supportDir);

    // True when this process now holds the lock (kept until the object goes).
    bool tryLock();
    // After a failed tryLock(): whether another process holds it, as opposed
    // to a lock file that could not be written (full disk, refused folder).
    bool heldElsewhere() const { return m_lock.error() == QLockFile::LockFailedError; }
    std::optional<Holder> holder() const;
    // Why this process may not run, in French, after a failed tryLock().
    QString refusal() const;

    // The lock file's name in the state folder.
    static const QString fileName;

private:
    QString m_supportDir;
    QLockFile m_lock;
};

// The holder as the user knows it: "la fenêtre de Parlivo (processus 12)".
QString holderDescription(const StateLock::Holder &holder);

// The message for a second engine refused because `holder` has the folder.
QString lockHeldMessage(const QString &supportDir, const std::optional<StateLock::Holder> &holder);
