#pragma once
// The kernel's side of the watch: one inotify descriptor with a watch per
// folder, its events as read, and the walk that watches every folder of a
// tree. The descriptor is shared by the main thread and the walks on worker
// threads; the last owner closes it.

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include "core/source_files.h"

// One change in a watched folder: `name` is the entry's (empty for the folder itself).
struct WatchEvent {
    int watch = -1;
    quint32 mask = 0;
    QByteArray name;
};

class WatchDescriptor {
public:
    WatchDescriptor();
    ~WatchDescriptor();
    WatchDescriptor(const WatchDescriptor &) = delete;
    WatchDescriptor &operator=(const WatchDescriptor &) = delete;

    bool valid() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    // A watch on the entries of `folder`: its number, or -1.
    int add(const QString &folder) const;
    void remove(int watch) const;
    // Every event waiting, without blocking.
    QList<WatchEvent> read() const;

private:
    int m_fd = -1;
};

struct WatchedTree {
    QList<QPair<int, QString>> folders; // watch number, folder
    QList<QPair<QString, FileIdentity>> files;
    bool limitReached = false; // the system's number of watches ran out
};

// Watches `root` and every folder below it that the scan enters, each before
// it is listed (a file created meanwhile raises an event), and lists the
// recordings found with their size and date. For a worker thread.
WatchedTree watchTree(const WatchDescriptor &watches, const QString &root, const QStringList &skippedFolders,
                      const QStringList &extensions);
