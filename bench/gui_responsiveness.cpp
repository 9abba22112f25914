// How long does the window's main thread stay busy during a batch?
//
//   cmake --build build --target gui_responsiveness
//   build/bench/gui_responsiveness [FILES]        (default 2000)
//
// The main window is shown (offscreen) over an engine running the stand-in
// recogniser and the real ffmpeg on FILES short recordings. A 10 ms timer
// records every gap between its ticks: a gap well over 10 ms is time the
// event loop could not answer the user. The scan that builds the queue and
// one full save of the state are timed on their own, since they run before
// and after the batch.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/gui/app_shell.h"
#include "app/gui/french_interface.h"
#include "app/gui/main_window.h"
#include "engine/transcriber.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

// The largest gaps between ticks of a timer that should tick every 10 ms.
class StallMonitor {
public:
    StallMonitor() {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            m_gapsMs.push_back(double(m_clock.nsecsElapsed()) / 1e6);
            m_clock.restart();
        });
    }
    void start() {
        m_gapsMs.clear();
        m_clock.start();
        m_timer.start();
    }
    void stop() { m_timer.stop(); }

    double percentile(double p) {
        if (m_gapsMs.empty()) return 0;
        std::vector<double> sorted = m_gapsMs;
        std::sort(sorted.begin(), sorted.end());
        return sorted[size_t(p * double(sorted.size() - 1))];
    }
    double longest() const { return m_gapsMs.empty() ? 0 : *std::max_element(m_gapsMs.begin(), m_gapsMs.end()); }
    long over(double ms) const { return std::count_if(m_gapsMs.begin(), m_gapsMs.end(), [ms](double g) { return g > ms; }); }
    size_t ticks() const { return m_gapsMs.size(); }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    std::vector<double> m_gapsMs;
};

double timedMs(const std::function<void()> &work) {
    QElapsedTimer clock;
    clock.start();
    work();
    return double(clock.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Parlivo"));
    useFrenchInterface();
    const int fileCount = argc > 1 ? std::max(1, atoi(argv[1])) : 2000;

    TempHome home;
    const QString source = home.file(QStringLiteral("memos"));
    const QString sample = makeAudio(home.file(QStringLiteral("sample.m4a")), 1.5);
    for (int i = 0; i < fileCount; ++i) {
        const QString folder = source + QStringLiteral("/dossier %1").arg(i / 100, 2, 10, QChar('0'));
        QDir().mkpath(folder);
        QFile::copy(sample, folder + QStringLiteral("/mémo %1.m4a").arg(i, 4, 10, QChar('0')));
    }
    const QString model = writeFile(home.file(QStringLiteral(".hestia/ggml-base.bin")), "model");

    Tools tools;
    tools.whisper = buildPath(QStringLiteral("fake-whisper-cli"));
    tools.ffmpeg = QStringLiteral("/usr/bin/ffmpeg");
    tools.ffprobe = QStringLiteral("/usr/bin/ffprobe");
    AppShell shell(tools);
    Transcriber &engine = shell.engine();
    ParlivoSettings settings = engine.settings();
    settings.modelPath = model;
    settings.parallelism = engine.maxParallelism();
    settings.correctionEnabled = false;
    settings.organizeEnabled = false;
    engine.setSettings(settings);
    shell.window().resize(980, 760);
    shell.window().show();
    QApplication::processEvents();

    const double scanMs = timedMs([&] { engine.setSourceFolder(QUrl::fromLocalFile(source)); });
    StallMonitor monitor;
    monitor.start();
    QElapsedTimer runClock;
    runClock.start();
    engine.start();
    const bool finished = runTask(engine.waitForRun(), 3 * 3600 * 1000);
    const double runSeconds = double(runClock.elapsed()) / 1000;
    monitor.stop();
    const double saveMs = timedMs([&] { engine.saveNow(); });

    std::printf("fichiers : %d (%d terminés, %d en erreur), %d en parallèle, lot %s en %.1f s\n", fileCount,
                engine.doneCount(), engine.errorCount(), settings.parallelism, finished ? "fini" : "inachevé",
                runSeconds);
    std::printf("pendant le lot : %zu tops de 10 ms ; écart médian %.1f ms, p99 %.1f ms, p99,9 %.1f ms, max %.1f ms\n",
                monitor.ticks(), monitor.percentile(0.5), monitor.percentile(0.99), monitor.percentile(0.999),
                monitor.longest());
    std::printf("écarts > 50 ms : %ld ; > 30 ms : %ld\n", monitor.over(50), monitor.over(30));
    std::printf("hors lot : scan du dossier %.1f ms, sauvegarde complète %.1f ms\n", scanMs, saveMs);
    return finished ? 0 : 1;
}
