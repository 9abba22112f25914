#include "watch/watched_tree.h"

#include <cerrno>
#include <cstring>
#include <sys/inotify.h>
#include <unistd.h>

#include "core/file_names.h"

namespace {
// No IN_ACCESS or IN_OPEN: reading a recording (ours too) is not a change.
constexpr quint32 folderEvents = IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB | IN_MOVED_FROM | IN_MOVED_TO |
                                 IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
} // namespace

WatchDescriptor::WatchDescriptor() : m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}

WatchDescriptor::~WatchDescriptor() {
    if (m_fd >= 0) ::close(m_fd);
}

int WatchDescriptor::add(const QString &folder) const {
    return ::inotify_add_watch(m_fd, encodeFileName(folder).constData(), folderEvents);
}

void WatchDescriptor::remove(int watch) const { ::inotify_rm_watch(m_fd, watch); }

QList<WatchEvent> WatchDescriptor::read() const {
    QList<WatchEvent> events;
    alignas(inotify_event) char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(m_fd, buffer, sizeof buffer);
        if (got <= 0) break; // EAGAIN: nothing more for now
        for (ssize_t at = 0; at + ssize_t(sizeof(inotify_event)) <= got;) {
            inotify_event raw;
            std::memcpy(&raw, buffer + at, sizeof raw);
            const char *name = buffer + at + sizeof raw;
            // The name is padded with NULs to the record's length.
            events.append({raw.wd, raw.mask, raw.len ? QByteArray(name, qsizetype(::strnlen(name, raw.len))) : QByteArray()});
            at += ssize_t(sizeof raw + raw.len);
        }
    }
    return events;
}

WatchedTree watchTree(const WatchDescriptor &watches, const QString &root, const QStringList &skippedFolders,
                      const QStringList &extensions) {
    WatchedTree tree;
    const QStringList paths = audioFilesUnder(root, extensions, skippedFolders, [&](const QString &folder) {
        const int watch = watches.add(folder);
        if (watch >= 0)
            tree.folders.append({watch, folder});
        else if (errno == ENOSPC)
            tree.limitReached = true;
    });
    for (const QString &path : paths)
        if (const auto identity = regularFileIdentity(path)) tree.files.append({path, *identity});
    return tree;
}
