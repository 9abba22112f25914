#pragma once
// Runs outside programs (ffmpeg, whisper-cli) as child processes without
// blocking the main thread, and lets the engine end them by queue-entry id,
// for a time limit or a cancel. Children never outlive the program. Everything
// here lives on the main thread.

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <qcoro/qcorotask.h>

#include <functional>
#include <memory>
#include <optional>

class QProcess;
class QTimer;

struct ProcessResult {
    // The exit status; -1 when the program could not start; 128 + the signal
    // number when a signal ended it (the shell's convention), so a crash or a
    // kill is never mistaken for success.
    int code = 0;
    QString standardOutput;
    QString standardError;
};

// The French reason a program could not start, for "Lancement impossible : ".
QString startFailureReason(const QString &program, const QString &platformDescription);

// Splits decoded standard-error text at every line feed or carriage return,
// dropping empty pieces.
QStringList stderrPieces(const QString &text);

class ProcessRunner : public QObject {
    Q_OBJECT

public:
    using LineCallback = std::function<void(const QString &)>;

    // A program that ignores the terminate request is killed after this grace.
    static constexpr int killGraceMs = 2000;
    // Standard error kept for the result: its last lines, about this many bytes.
    static constexpr qsizetype keptStderrBytes = 64 * 1024;

    explicit ProcessRunner(QObject *parent = nullptr);
    // Kills every child still running. Launches still awaited then never
    // resume: their callers belong to the object going away with us.
    ~ProcessRunner() override;

    // Runs `program` with `args` (never through a shell) and completes when it
    // ends. Standard input is the null device; standard error is collected and
    // streamed line by line to `onStderr`; standard output is collected only
    // when `captureStdout`. With an `id`, the process can be ended through
    // terminate() while it runs. Arguments are taken by value: the task may
    // outlive the caller's temporaries.
    QCoro::Task<ProcessResult> launch(QString program, QStringList args, std::optional<QUuid> id,
                                      bool captureStdout, LineCallback onStderr = {});

    // launch() ended by terminate(id, true) once `timeoutSeconds` have
    // passed. Callers tell a time-out by timedOutIDs().
    QCoro::Task<ProcessResult> launchWithTimeout(QString program, QStringList args, QUuid id,
                                                 double timeoutSeconds, LineCallback onStderr = {},
                                                 bool captureStdout = false);

    // Asks the process registered under `id` to end (killed after the grace).
    // With `asTimeout`, the id is remembered in timedOutIDs even when nothing
    // runs under it any more.
    void terminate(const QUuid &id, bool asTimeout);
    // The cancel: ends every registered process, time-outs untouched.
    void terminateAll();

    const QSet<QUuid> &timedOutIDs() const { return m_timedOutIDs; }
    void clearTimedOut() { m_timedOutIDs.clear(); }
    bool isActive(const QUuid &id) const { return m_activeProcesses.contains(id); }
    int activeCount() const { return int(m_activeProcesses.size()); }

private:
    struct Launch;
    // The non-coroutine halves: GCC mishandles lambdas built inside coroutines.
    std::shared_ptr<Launch> startProcess(const QString &program, const QStringList &args, bool captureStdout,
                                         LineCallback onStderr);
    QTimer *armTimeLimit(const QUuid &id, double timeoutSeconds);
    void requestEnd(QProcess *process);

    QHash<QUuid, QProcess *> m_activeProcesses;
    QSet<QUuid> m_timedOutIDs;
};
