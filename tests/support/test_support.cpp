#include "support/test_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QTimer>
#include <fcntl.h>
#include <sys/stat.h>

namespace testing_support {

QString buildPath(const QString &name) { return QStringLiteral(PARLIVO_BIN_DIR "/") + name; }

QStringList TempHome::scratchFiles() const {
    const QString user = file(QStringLiteral("tmp/Parlivo-%1").arg(::geteuid()));
    QStringList found;
    // Links left dangling count too.
    QDirIterator it(user, QDir::Files | QDir::System | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) found << QDir(user).relativeFilePath(it.next());
    return found;
}

ScopedEnv::ScopedEnv(std::initializer_list<std::pair<const char *, QString>> values) {
    for (const auto &[name, value] : values) {
        m_saved.emplace_back(name, qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt);
        qputenv(name, value.toUtf8());
    }
}

ScopedEnv::~ScopedEnv() {
    for (const auto &[name, value] : m_saved) {
        if (value)
            qputenv(name.constData(), *value);
        else
            qunsetenv(name.constData());
    }
}

bool runTask(QCoro::Task<> task, int timeoutMs) {
    QEventLoop loop;
    bool finished = false;
    auto wrapper = [](QCoro::Task<> t, bool &done, QEventLoop &l) -> QCoro::Task<> {
        co_await std::move(t);
        done = true;
        l.quit();
    };
    auto running = wrapper(std::move(task), finished, loop);
    if (!finished) {
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        loop.exec();
    }
    EXPECT_TRUE(finished) << "task did not finish within " << timeoutMs << " ms";
    return finished;
}

void spin(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool spinUntil(const std::function<bool()> &condition, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::sendPostedEvents();
    }
    return true;
}

QString writeFile(const QString &path, const QByteArray &content) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) ADD_FAILURE() << "cannot write " << path.toStdString();
    file.write(content);
    return path;
}

QString readText(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

int fileMode(const QString &path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
}

QStringList linesOf(const QString &path) { return readText(path).split(QLatin1Char('\n'), Qt::SkipEmptyParts); }

QString makeAudio(const QString &path, double seconds, const QStringList &options) {
    return makeAudioFrom(path, QStringLiteral("sine=frequency=440:duration=%1").arg(seconds), options);
}

QString makeAudioFrom(const QString &path, const QString &source, const QStringList &options) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 QStringList{"-y", "-nostdin", "-loglevel", "error", "-f", "lavfi", "-i", source} + options +
                     QStringList{path});
    ffmpeg.waitForFinished(60000);
    EXPECT_EQ(ffmpeg.exitCode(), 0) << ffmpeg.readAllStandardError().toStdString();
    return path;
}

QString makeNoise(const QString &path, int seconds) {
    return makeAudioFrom(path, QStringLiteral("anoisesrc=d=%1:a=0.3:seed=7").arg(seconds));
}

void setMtime(const QString &path, double secondsSinceEpoch) {
    struct timespec times[2];
    times[0].tv_sec = times[1].tv_sec = time_t(secondsSinceEpoch);
    times[0].tv_nsec = times[1].tv_nsec = long((secondsSinceEpoch - double(time_t(secondsSinceEpoch))) * 1e9);
    ASSERT_EQ(utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
}

QStringList namesIn(const QString &folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

std::optional<QString> ffmpegSubtitles(const QString &path) {
    // Not "-f null": ffmpeg 5.1 finds no stream to send there from a subtitle
    // file, however good. Writing SRT decodes every cue.
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), QStringList{"-nostdin", "-v", "warning", "-i", path, "-f", "srt", "-"});
    if (!ffmpeg.waitForFinished(60000)) return std::nullopt;
    const QByteArray said = ffmpeg.readAllStandardError();
    EXPECT_TRUE(said.isEmpty()) << path.toStdString() << ": " << said.toStdString();
    if (ffmpeg.exitStatus() != QProcess::NormalExit || ffmpeg.exitCode() != 0 || !said.isEmpty()) return std::nullopt;
    return QString::fromUtf8(ffmpeg.readAllStandardOutput());
}

CliResult runCli(const QStringList &args, const QStringList &extraEnv, int timeoutMs) {
    return runProgram(buildPath(QStringLiteral("parlivo-cli")), args, extraEnv, timeoutMs);
}

QProcessEnvironment environmentWith(const QStringList &extraEnv) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString &pair : extraEnv) {
        const qsizetype eq = pair.indexOf(QLatin1Char('='));
        if (eq < 0)
            env.remove(pair);
        else
            env.insert(pair.left(eq), pair.mid(eq + 1));
    }
    return env;
}

CliResult runProgram(const QString &program, const QStringList &args, const QStringList &extraEnv, int timeoutMs) {
    QProcess cli;
    cli.setProcessEnvironment(environmentWith(extraEnv));
    cli.start(program, args);
    // The event loop keeps turning, so stand-in servers of this process answer the child.
    if (!spinUntil([&] { return cli.state() == QProcess::NotRunning; }, timeoutMs)) {
        cli.kill();
        cli.waitForFinished();
        ADD_FAILURE() << program.toStdString() << " did not finish: " << args.join(' ').toStdString();
    }
    return {cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1,
            QString::fromUtf8(cli.readAllStandardOutput()), QString::fromUtf8(cli.readAllStandardError())};
}

QMap<pid_t, QString> processesMentioning(const QString &text) {
    QMap<pid_t, QString> found;
    QDirIterator it("/proc", QDir::Dirs | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        const QString dir = it.next();
        bool isPid = false;
        const pid_t pid = QFileInfo(dir).fileName().toInt(&isPid);
        if (!isPid) continue;
        const auto cmdline = readWholeFile(dir + "/cmdline");
        const QString line = cmdline ? QString::fromUtf8(*cmdline).replace(QChar(0), ' ') : QString();
        if (line.contains(text)) found.insert(pid, line);
    }
    return found;
}

} // namespace testing_support
