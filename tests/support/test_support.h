#pragma once
// Shared helpers for the tests: temporary folders, running a coroutine to its
// end under a watchdog, and paths of the stand-ins in the build folder.

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QMap>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <qcoro/qcorotask.h>

#include <functional>
#include <optional>
#include <ostream>
#include <vector>

#include <unistd.h>

#include "core/atomic_file.h"

// Readable failure messages for Qt texts.
inline void PrintTo(const QString &text, std::ostream *os) { *os << '"' << text.toStdString() << '"'; }
inline void PrintTo(const QStringList &list, std::ostream *os) {
    *os << '[' << list.join(QStringLiteral(", ")).toStdString() << ']';
}
inline void PrintTo(const WriteError &error, std::ostream *os) { *os << error.reason.toStdString(); }

namespace testing_support {

// A build-folder program: the stand-ins and parlivo-cli.
QString buildPath(const QString &name);

// Sets environment variables for the lifetime of the object (children inherit them).
class ScopedEnv {
public:
    using Values = std::initializer_list<std::pair<const char *, QString>>;
    ScopedEnv(Values values);
    ScopedEnv(const char *name, const QString &value) : ScopedEnv(Values{{name, value}}) {}
    ScopedEnv(const ScopedEnv &) = delete;
    ~ScopedEnv();

private:
    std::vector<std::pair<QByteArray, std::optional<QByteArray>>> m_saved;
};

// A temporary folder that is PARLIVO_HOME while the object lives. The scratch
// folder (TMPDIR) moves inside it too: tests running side by side must not
// clean up each other's converted audio. The former-name migration reads the
// per-user data folder: that one is inside as well.
class TempHome {
public:
    QString path() const { return m_dir.path(); }
    QString supportDir() const { return file(QStringLiteral("Library/Application Support/Parlivo")); }
    QString file(const QString &relative) const { return path() + QLatin1Char('/') + relative; }
    // What lies in this user's folder of the scratch folder (converted audio
    // and the like), wherever below it.
    QStringList scratchFiles() const;

private:
    QTemporaryDir m_dir;
    bool m_scratchMade = QDir().mkpath(file(QStringLiteral("tmp")));
    ScopedEnv m_env{{"PARLIVO_HOME", path()},
                    {"XDG_DATA_HOME", file(QStringLiteral("xdg-data"))},
                    {"TMPDIR", file(QStringLiteral("tmp"))}};
};

// Runs the event loop until `task` finishes or `timeoutMs` passes. Returns
// false (and records a test failure) on time-out.
bool runTask(QCoro::Task<> task, int timeoutMs = 30000);

template <typename T> std::optional<T> runTaskFor(QCoro::Task<T> task, int timeoutMs = 30000) {
    std::optional<T> result;
    auto wrapper = [](QCoro::Task<T> t, std::optional<T> &out) -> QCoro::Task<> { out = co_await std::move(t); };
    runTask(wrapper(std::move(task), result), timeoutMs);
    return result;
}

// Spins the event loop for `ms` milliseconds.
void spin(int ms);

// Spins until `condition` holds or `timeoutMs` passes; returns the condition.
bool spinUntil(const std::function<bool()> &condition, int timeoutMs = 10000);

// The line under a text transcript's header.
inline const QString transcriptRule(56, QLatin1Char('='));
// A local date and time, to the second.
inline QDateTime local(int y, int mo, int d, int h, int mi, int s = 0) { return {QDate(y, mo, d), QTime(h, mi, s)}; }

// Writes a file, creating its folder; returns the path.
QString writeFile(const QString &path, const QByteArray &content);
// A file's text (UTF-8), or its lines without the empty ones; empty when it cannot be read.
QString readText(const QString &path);
// The permission bits of `path` itself (a link is not followed); -1 when it is missing.
int fileMode(const QString &path);
QStringList linesOf(const QString &path);

// A sine tone made by ffmpeg: `seconds` long, in the container the extension
// names, with `options` (rate, channels…) before the output.
QString makeAudio(const QString &path, double seconds, const QStringList &options = {});
// The same from any ffmpeg source filter (noise, silence…).
QString makeAudioFrom(const QString &path, const QString &source, const QStringList &options = {});
// Steady noise `seconds` long: speech-like enough for the real recogniser to work on.
QString makeNoise(const QString &path, int seconds);

// Sets a file's access and modification times, to the nanosecond.
void setMtime(const QString &path, double secondsSinceEpoch);
// The files of a folder, hidden ones included, by name.
QStringList namesIn(const QString &folder);

// The subtitle file at `path` as ffmpeg reads it, cue by cue, written back as
// SRT; nothing when ffmpeg refuses it or says anything at all about it.
std::optional<QString> ffmpegSubtitles(const QString &path);

// This process's environment with NAME=VALUE pairs set and bare names unset.
QProcessEnvironment environmentWith(const QStringList &extraEnv);

// Runs the built parlivo-cli with `args`; PARLIVO_HOME comes from this process.
// `extraEnv` holds NAME=VALUE pairs, or a bare NAME to unset it.
struct CliResult {
    int code = -1;
    QString out;
    QString err;
};
CliResult runCli(const QStringList &args, const QStringList &extraEnv = {}, int timeoutMs = 60000);
// The same for another program, run by its path as a user would.
CliResult runProgram(const QString &program, const QStringList &args, const QStringList &extraEnv = {},
                     int timeoutMs = 60000);

// Live processes whose command line mentions `text`, by process id.
QMap<pid_t, QString> processesMentioning(const QString &text);

} // namespace testing_support
