// How long does the window's main thread stay busy during a batch?
//
//   cmake --build build --target gui_responsiveness
//   build/bench/gui_responsiveness [FILES]        (default 2000)
//
// The main window is shown (offscreen) over an engine running the stand-in
// recogniser and the real ffmpeg on FILES short recordings. A 10 ms timer
// records every gap between its ticks: a gap well over 10 ms is time the
// event loop could not answer the user. On a machine shared with other work
// a gap also holds the time the system took to wake the process, so every
// event handled on the main thread is timed too: that is the stall Parlivo
// itself causes. The scan that builds the queue and one full save of the
// state are timed on their own, since they run before and after the batch.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/gui/french_interface.h"
#include "app/gui/main_window.h"
#include "app/gui/progress_panel.h"
#include "engine/transcriber.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

// What the main thread did between two ticks: its own processor time, and
// how often it gave the processor up (waiting for the disk, say) or had it
// taken away (other programs on a busy machine).
struct ThreadUsage {
    double cpuMs = 0;
    long waits = 0;
    long preemptions = 0;

    static ThreadUsage now() {
        rusage usage{};
        getrusage(RUSAGE_THREAD, &usage);
        return {double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                    double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3,
                usage.ru_nvcsw, usage.ru_nivcsw};
    }
    ThreadUsage operator-(const ThreadUsage &o) const {
        return {cpuMs - o.cpuMs, waits - o.waits, preemptions - o.preemptions};
    }
};

struct Gap {
    double wallMs;
    ThreadUsage usage;
};

// Every event the main thread handles, timed from start to end: the window's
// and the engine's work, coroutines resumed by a process or a timer included,
// but not the time the loop sleeps waiting for something to happen.
class TimedApplication : public QApplication {
public:
    using QApplication::QApplication;

    struct Dispatch {
        double ms;
        QString what;
    };

    bool notify(QObject *receiver, QEvent *event) override {
        if (!measuring || m_depth > 0) {
            ++m_depth;
            const bool handled = QApplication::notify(receiver, event);
            --m_depth;
            return handled;
        }
        QElapsedTimer clock;
        clock.start();
        const int type = event->type(); // the event may be gone afterwards
        const QString name = describe(receiver);
        const bool window = belongsToWindow(receiver);
        ++m_depth;
        const bool handled = QApplication::notify(receiver, event);
        --m_depth;
        const double ms = double(clock.nsecsElapsed()) / 1e6;
        if (ms > 5) slow.push_back({ms, QStringLiteral("%1, événement %2").arg(name).arg(type)});
        (window ? longestWindow : longestOther) = std::max(window ? longestWindow : longestOther, ms);
        return handled;
    }

    bool measuring = false;
    double longestWindow = 0; // painting, layout, the panels' own timers
    double longestOther = 0;  // the engine: process output, pipeline steps, saves
    std::vector<Dispatch> slow; // over 5 ms

    static bool belongsToWindow(QObject *object) {
        for (; object; object = object->parent())
            if (object->isWidgetType() || object->isWindowType()) return true;
        return false;
    }
    static QString describe(QObject *object) {
        QString name = QString::fromLatin1(object->metaObject()->className());
        if (auto *timer = qobject_cast<QTimer *>(object)) name += QStringLiteral(" de %1 ms").arg(timer->interval());
        if (object->parent()) name += QStringLiteral(" (dans %1)").arg(object->parent()->metaObject()->className());
        return name;
    }

private:
    int m_depth = 0;
};

// The gaps between ticks of a timer that should tick every 10 ms.
class StallMonitor {
public:
    StallMonitor() {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const ThreadUsage usage = ThreadUsage::now();
            m_gapsMs.push_back(double(m_clock.nsecsElapsed()) / 1e6);
            m_gaps.push_back({m_gapsMs.back(), usage - m_usage});
            m_usage = usage;
            m_clock.restart();
        });
    }
    void start() {
        m_gapsMs.clear();
        m_gaps.clear();
        m_usage = ThreadUsage::now();
        m_clock.start();
        m_timer.start();
    }
    // The longest gaps, longest first.
    std::vector<Gap> worst(size_t n) const {
        std::vector<Gap> sorted = m_gaps;
        std::sort(sorted.begin(), sorted.end(), [](const Gap &a, const Gap &b) { return a.wallMs > b.wallMs; });
        sorted.resize(std::min(n, sorted.size()));
        return sorted;
    }
    // The longest stretch of the main thread's own work between two ticks.
    double longestBusyMs() const {
        double busy = 0;
        for (const Gap &g : m_gaps) busy = std::max(busy, g.usage.cpuMs);
        return busy;
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
    std::vector<Gap> m_gaps;
    ThreadUsage m_usage;
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
    TimedApplication app(argc, argv);
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
    Transcriber engine(tools);
    // The window's share of each engine signal: a stamp connected before the
    // window's slots and one after them.
    QElapsedTimer slotClock;
    double longestSlots = 0;
    auto stampBefore = [&] { slotClock.start(); };
    auto stampAfter = [&] {
        if (app.measuring) longestSlots = std::max(longestSlots, double(slotClock.nsecsElapsed()) / 1e6);
    };
    auto stampSignals = [&](auto stamp) {
        QObject::connect(&engine, &Transcriber::entryChanged, stamp);
        QObject::connect(&engine, &Transcriber::countersChanged, stamp);
        QObject::connect(&engine, &Transcriber::runStateChanged, stamp);
        QObject::connect(&engine, &Transcriber::queueChanged, stamp);
        QObject::connect(&engine, &Transcriber::logLineAdded, stamp);
        QObject::connect(&engine, &Transcriber::modelsChanged, stamp);
    };
    stampSignals(stampBefore);
    MainWindow window(engine);
    stampSignals(stampAfter);
    ParlivoSettings settings = engine.settings();
    settings.modelPath = model;
    settings.parallelism = engine.maxParallelism();
    settings.correctionEnabled = false;
    settings.organizeEnabled = false;
    engine.setSettings(settings);
    window.resize(980, 760);
    window.show();
    QApplication::processEvents();

    const double scanMs = timedMs([&] { engine.setSourceFolder(QUrl::fromLocalFile(source)); });
    StallMonitor monitor;
    monitor.start();
    app.measuring = true;
    QElapsedTimer runClock;
    runClock.start();
    engine.start();
    const bool finished = runTask(engine.waitForRun(), 3 * 3600 * 1000);
    const double runSeconds = double(runClock.elapsed()) / 1000;
    monitor.stop();
    app.measuring = false;
    const double saveMs = timedMs([&] { engine.saveNow(); });
    const double panelMs = timedMs([&] {
        for (int i = 0; i < 100; ++i) window.progressPanel()->refreshNow();
    }) / 100;

    std::printf("fichiers : %d (%d terminés, %d en erreur), %d en parallèle, lot %s en %.1f s\n", fileCount,
                engine.doneCount(), engine.errorCount(), settings.parallelism, finished ? "fini" : "inachevé",
                runSeconds);
    std::printf("pendant le lot : %zu tops de 10 ms ; écart médian %.1f ms, p99 %.1f ms, p99,9 %.1f ms, max %.1f ms\n",
                monitor.ticks(), monitor.percentile(0.5), monitor.percentile(0.99), monitor.percentile(0.999),
                monitor.longest());
    std::printf("écarts > 50 ms : %ld ; > 30 ms : %ld\n", monitor.over(50), monitor.over(30));
    std::printf("plus long traitement d'un événement : fenêtre %.1f ms, moteur %.1f ms (%zu au-delà de 5 ms)\n",
                app.longestWindow, app.longestOther, app.slow.size());
    std::sort(app.slow.begin(), app.slow.end(), [](const auto &a, const auto &b) { return a.ms > b.ms; });
    for (size_t i = 0; i < std::min<size_t>(5, app.slow.size()); ++i)
        std::printf("  %.1f ms : %s\n", app.slow[i].ms, qPrintable(app.slow[i].what));
    std::printf("plus long passage dans les slots de la fenêtre pour un signal du moteur : %.1f ms\n", longestSlots);
    std::printf("plus long travail du fil principal entre deux tops : %.1f ms de processeur\n", monitor.longestBusyMs());
    std::printf("plus grands écarts (mur, processeur, attentes, préemptions) :\n");
    for (const Gap &g : monitor.worst(8))
        std::printf("  %.1f ms, %.1f ms, %ld, %ld\n", g.wallMs, g.usage.cpuMs, g.usage.waits, g.usage.preemptions);
    std::printf("hors lot : scan du dossier %.1f ms, sauvegarde complète %.1f ms, panneau de progression %.2f ms\n",
                scanMs, saveMs, panelMs);
    return finished ? 0 : 1;
}
