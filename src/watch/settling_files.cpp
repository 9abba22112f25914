#include "watch/settling_files.h"

void SettlingFiles::touch(const QString &path, const FileIdentity &identity, qint64 now) {
    m_files.insert(path, waiting(identity, now));
}

void SettlingFiles::forgetUnder(const QString &folder) {
    m_files.removeIf([&](decltype(m_files)::iterator item) { return isInsideFolder(item.key(), folder); });
}

QStringList SettlingFiles::takeSettled(qint64 now, const Look &look) {
    QStringList settled;
    for (auto it = m_files.begin(); it != m_files.end();) {
        if (it->due > now) {
            ++it;
            continue;
        }
        const std::optional<FileIdentity> current = look(it.key());
        if (current && *current != it->identity) {
            // Written to without an event (a network folder): wait again.
            *it = waiting(*current, now);
            ++it;
            continue;
        }
        if (current) settled.append(it.key());
        it = m_files.erase(it);
    }
    naturalSort(settled);
    return settled;
}

QStringList SettlingFiles::takeQuiet(qint64 now) {
    QStringList quiet;
    for (auto it = m_files.begin(); it != m_files.end(); ++it) {
        if (it->quietTold || quietAt(*it) > now) continue;
        it->quietTold = true;
        quiet.append(it.key());
    }
    naturalSort(quiet);
    return quiet;
}

std::optional<qint64> SettlingFiles::nextDue() const {
    std::optional<qint64> next;
    for (const Waiting &file : m_files) {
        const qint64 due = file.quietTold ? file.due : quietAt(file);
        if (!next || due < *next) next = due;
    }
    return next;
}
