#pragma once
// What the command line answers by looking at the state, shared by the two
// programs behind it: parlivo-cli, which answers `settings` and `status`
// itself, linked to QtCore alone so that they start at once, and
// parlivo-engine, which it hands every other command to.

#include <QList>
#include <QStringList>
#include <QTextStream>

#include "core/records.h"
#include "core/settings.h"
#include "core/state_parts.h"

namespace cli {

enum Exit { success = 0, someFailed = 1, badUsage = 2 };

// Commands that only look at the state: they run beside an engine at work,
// without its lock, and write nothing (but the memo library, a cache that
// SQLite keeps whole between processes).
bool onlyLooks(const QString &command, const QStringList &args);
// Those of them that need nothing but the state files: parlivo-cli answers them.
bool answeredByFront(const QString &command, const QStringList &args);
// What a command reads of the state.
StateParts partsRead(const QString &command, const QStringList &args);

// One line per queue entry: status, duration, path, message, separated by tabs.
void printQueue(const QList<AudioFile> &files, QTextStream &out);

// `status`: the counters, then the queue. Queue is the engine or its file queue.
template <typename Queue> void printStatus(const Queue &queue, QTextStream &out) {
    QStringList counters;
    for (FileStatus s : allCases<FileStatus>()) counters << QStringLiteral("%1 %2").arg(label(s)).arg(queue.count(s));
    out << counters.join(QLatin1String(", ")) << '\n';
    printQueue(queue.files(), out);
}

// False, with the list of settings on standard error, when KEY names none
// or too many arguments follow it.
bool checkSettingKey(const QStringList &args, QTextStream &err);
// A text prints as plain text; anything else as JSON.
void printSettingValue(const Json &value, QTextStream &out);
// `settings` and `settings KEY`: all of them as JSON, or one value.
int printSettings(const ParlivoSettings &settings, const QStringList &args, QTextStream &out, QTextStream &err);

} // namespace cli
