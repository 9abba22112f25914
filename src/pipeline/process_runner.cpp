#include "pipeline/process_runner.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QTimer>

#include <climits>
#include <coroutine>
#include <csignal>
#include <memory>

#include <sys/prctl.h>
#include <unistd.h>

namespace {

// The one result of a launch, and the coroutine waiting for it.
struct Completion {
    std::optional<ProcessResult> result;
    std::coroutine_handle<> waiter;
};

// Trivially destructible on purpose: GCC 12 may destroy a co_await temporary twice.
struct CompletionAwaiter {
    Completion *state;
    bool await_ready() const noexcept { return state->result.has_value(); }
    void await_suspend(std::coroutine_handle<> handle) noexcept { state->waiter = handle; }
    ProcessResult await_resume() { return std::move(*state->result); }
};

// Standard error as it arrives: its tail kept for the result (only the last
// lines go into a message, and a program may write without end), and the
// whole handed to the callback piece by piece. The decoder is stateful so a
// character cut between two reads still decodes; invalid bytes become U+FFFD
// instead of losing the text.
struct StderrStream {
    explicit StderrStream(ProcessRunner::LineCallback callback) : onLine(std::move(callback)) {}

    void take(const QByteArray &chunk) {
        if (chunk.isEmpty()) return;
        bytes += chunk;
        if (bytes.size() > 2 * ProcessRunner::keptStderrBytes) keepTail();
        if (!onLine) return;
        for (const QString &piece : stderrPieces(decoder.decode(chunk))) onLine(piece);
    }

    // The last keptStderrBytes, from the start of a line.
    void keepTail() {
        bytes = bytes.right(ProcessRunner::keptStderrBytes);
        const qsizetype lineEnd = bytes.indexOf('\n');
        if (lineEnd >= 0) bytes.remove(0, lineEnd + 1);
    }

    QByteArray bytes;
    QStringDecoder decoder{QStringDecoder::Utf8};
    ProcessRunner::LineCallback onLine;
};

int exitCodeOf(int exitCode, QProcess::ExitStatus status) {
    // On a crash Qt reports the signal number as the exit code.
    return status == QProcess::NormalExit ? exitCode : 128 + exitCode;
}

} // namespace

QString startFailureReason(const QString &program, const QString &platformDescription) {
    if (program.isEmpty()) return QStringLiteral("aucun programme indiqué");
    const QString path = program.contains(QLatin1Char('/')) ? program : QStandardPaths::findExecutable(program);
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists()) return QStringLiteral("programme introuvable (%1)").arg(program);
    if (info.isDir()) return QStringLiteral("%1 est un dossier").arg(program);
    if (!info.isExecutable()) return QStringLiteral("programme non exécutable (%1)").arg(program);
    return platformDescription;
}

QStringList stderrPieces(const QString &text) {
    QStringList pieces;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] != QLatin1Char('\n') && text[i] != QLatin1Char('\r')) continue;
        if (i > start) pieces.append(text.mid(start, i - start));
        start = i + 1;
    }
    return pieces;
}

ProcessRunner::ProcessRunner(QObject *parent) : QObject(parent) {}

ProcessRunner::~ProcessRunner() {
    // Children only: every launched QProcess has this object as parent.
    for (QProcess *process : findChildren<QProcess *>(Qt::FindDirectChildrenOnly)) {
        process->disconnect(this); // nothing may resume into a half-destroyed runner
        if (process->state() == QProcess::NotRunning) continue;
        process->kill();
        process->waitForFinished(5000);
    }
}

// One running program and its single result.
struct ProcessRunner::Launch {
    QProcess *process = nullptr;
    std::shared_ptr<Completion> done = std::make_shared<Completion>();
};

std::shared_ptr<ProcessRunner::Launch> ProcessRunner::startProcess(const QString &program, const QStringList &args,
                                                                   bool captureStdout, LineCallback onStderr) {
    auto launch = std::make_shared<Launch>();
    auto *process = new QProcess(this);
    launch->process = process;
    process->setProgram(program);
    process->setArguments(args);
    process->setStandardInputFile(QProcess::nullDevice());
    if (!captureStdout) process->setStandardOutputFile(QProcess::nullDevice());
    // A Parlivo that is killed takes its children along: a recogniser left
    // running would hold the processor for minutes, then write into the
    // scratch folder after the next run had cleaned it.
    process->setChildProcessModifier([parent = ::getpid()] {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127); // the parent died before the line above
    });

    auto err = std::make_shared<StderrStream>(std::move(onStderr));
    // Resumed from the event loop, never from inside QProcess's own signal.
    auto complete = [this, done = launch->done](ProcessResult result) {
        if (done->result) return;
        done->result = std::move(result);
        if (auto waiter = done->waiter)
            QMetaObject::invokeMethod(this, [waiter] { waiter.resume(); }, Qt::QueuedConnection);
    };

    connect(process, &QProcess::readyReadStandardError, this,
            [process, err] { err->take(process->readAllStandardError()); });
    connect(process, &QProcess::finished, this,
            [process, err, captureStdout, complete](int exitCode, QProcess::ExitStatus status) {
                err->take(process->readAllStandardError());
                if (err->bytes.size() > ProcessRunner::keptStderrBytes) err->keepTail();
                const QString out = captureStdout ? QString::fromUtf8(process->readAllStandardOutput()) : QString();
                complete({exitCodeOf(exitCode, status), out, QString::fromUtf8(err->bytes)});
            });
    connect(process, &QProcess::errorOccurred, this, [process, program, complete](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart) return; // the other errors still end in finished
        complete({-1, QString(),
                  QStringLiteral("Lancement impossible : ") + startFailureReason(program, process->errorString())});
    });
    return launch;
}

QCoro::Task<ProcessResult> ProcessRunner::launch(QString program, QStringList args, std::optional<QUuid> id,
                                                 bool captureStdout, LineCallback onStderr) {
    const std::shared_ptr<Launch> launch = startProcess(program, args, captureStdout, std::move(onStderr));
    QProcess *process = launch->process;
    if (id) m_activeProcesses.insert(*id, process);
    process->start();
    CompletionAwaiter finished{launch->done.get()};
    ProcessResult result = co_await finished;

    if (id && m_activeProcesses.value(*id) == process) m_activeProcesses.remove(*id);
    process->disconnect(this);
    process->deleteLater();
    co_return result;
}

QTimer *ProcessRunner::armTimeLimit(const QUuid &id, double timeoutSeconds) {
    // A child of the runner: it goes away with it, and cannot fire afterwards.
    auto *watcher = new QTimer(this);
    watcher->setSingleShot(true);
    watcher->setTimerType(Qt::PreciseTimer);
    connect(watcher, &QTimer::timeout, this, [this, id] { terminate(id, true); });
    watcher->start(int(std::clamp(timeoutSeconds * 1000.0, 0.0, double(INT_MAX))));
    return watcher;
}

QCoro::Task<ProcessResult> ProcessRunner::launchWithTimeout(QString program, QStringList args, QUuid id,
                                                            double timeoutSeconds, LineCallback onStderr,
                                                            bool captureStdout) {
    QTimer *watcher = armTimeLimit(id, timeoutSeconds);
    ProcessResult result =
        co_await launch(std::move(program), std::move(args), id, captureStdout, std::move(onStderr));
    delete watcher;
    co_return result;
}

void ProcessRunner::terminate(const QUuid &id, bool asTimeout) {
    if (asTimeout) m_timedOutIDs.insert(id);
    if (QProcess *process = m_activeProcesses.value(id)) requestEnd(process);
}

void ProcessRunner::terminateAll() {
    for (QProcess *process : std::as_const(m_activeProcesses)) requestEnd(process);
}

void ProcessRunner::requestEnd(QProcess *process) {
    if (process->state() == QProcess::NotRunning) return;
    process->terminate();
    // The timer dies with the process object, so it never touches a deleted one.
    QTimer::singleShot(killGraceMs, process, [process] {
        if (process->state() != QProcess::NotRunning) process->kill();
    });
}
