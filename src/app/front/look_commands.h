#pragma once
// What the command line answers by looking at the state, shared by the two
// programs parlivo-cli hands commands to: parlivo-state, which answers
// `settings` and `status` linked to QtCore alone so that they start at once,
// and parlivo-engine, which answers every command.

#include <QList>
#include <QStringList>
#include <QTextStream>

#include "app/front/command_kinds.h"
#include "core/records.h"
#include "core/settings.h"

namespace cli {

enum Exit { success = 0, someFailed = 1, badUsage = 2 };

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
