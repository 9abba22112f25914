// The batch scheduler on its own: a queue of real files and a handed step in
// place of the pipeline, so its rules show without any outside program; and
// the wait for a signal it is built on.
#include <QElapsedTimer>

#include <iostream>

#include <qcoro/qcorotimer.h>

#include "core/next_emission.h"
#include "queue/scheduler.h"
#include "support/test_support.h"

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

struct SchedulerBench {
    TempHome home;
    EventLog log;
    ProcessRunner processes;
    ParlivoSettings settings;
    FileQueue queue{log, [] { return QStringList(); }};
    Scheduler run{queue, log, processes, settings};

    QStringList processed;       // file names, in the order the step took them
    QList<std::optional<int>> takenBy; // the server slot of each step, none for a local worker
    QList<bool> afterRuns;       // the `cancelled` flag of each hand-over
    QMap<int, int> inHandOnServer, mostInHandOnServer; // files a server slot holds, now and at most
    std::function<void(const QUuid &)> onFile; // what the step does besides marking the file done
    int stepMs = 5;

    SchedulerBench() {
        SchedulerHooks hooks;
        hooks.readyToRun = [](const std::optional<IdSet> &) { return true; };
        hooks.prepare = [] {};
        hooks.beforeFiles = []() -> QCoro::Task<> { co_return; };
        hooks.process = [this](QUuid id, std::optional<int> server) -> QCoro::Task<> {
            processed << queue.entry(id)->fileName();
            takenBy << server;
            if (onFile) onFile(id);
            if (server) mostInHandOnServer[*server] = std::max(mostInHandOnServer[*server], ++inHandOnServer[*server]);
            co_await QCoro::sleepFor(std::chrono::milliseconds(stepMs));
            if (server) --inHandOnServer[*server];
            if (queue.entry(id)->status == FileStatus::running) queue.setStatus(id, FileStatus::done);
        };
        hooks.saveNow = [] {};
        hooks.scheduleSave = [] {};
        hooks.afterRun = [this](bool cancelled) { afterRuns << cancelled; };
        run.setHooks(std::move(hooks));
    }

    void scan(const QStringList &names) {
        for (const QString &name : names) writeFile(home.file("src/" + name), "audio");
        queue.setSourceFolder(QUrl::fromLocalFile(home.file("src")));
    }
    QUuid idOf(const QString &name) const {
        for (const auto &f : queue.files())
            if (f.fileName() == name) return f.id;
        return {};
    }
    bool finish() { return spinUntil([this] { return !run.isRunning(); }); }
};

TEST(Scheduler, FilesJoiningARunAreTakenByAsManyWorkersAsTheRunHas) {
    SchedulerBench bench;
    bench.settings.parallelism = 2;
    bench.stepMs = 300;
    bench.scan({"a.m4a"});
    int inHand = 0, mostInHand = 0;
    bench.onFile = [&](const QUuid &) { mostInHand = std::max(mostInHand, ++inHand); };
    QObject::connect(&bench.queue, &FileQueue::entryChanged, [&](const QUuid &id) {
        if (bench.queue.entry(id)->status == FileStatus::done) --inHand;
    });
    bench.run.start();
    // The second worker found nothing and ended; a.m4a is in hand.
    ASSERT_TRUE(spinUntil([&] { return bench.processed.size() == 1; }));
    for (const char *name : {"b.m4a", "c.m4a", "d.m4a", "e.m4a"}) writeFile(bench.home.file(QString("src/") + name), "audio");
    const FileQueue::Arrivals arrivals = bench.queue.admit(
        {bench.home.file("src/b.m4a"), bench.home.file("src/c.m4a"), bench.home.file("src/d.m4a"),
         bench.home.file("src/e.m4a")});
    bench.run.join(arrivals.pending);
    EXPECT_TRUE(bench.log.lines().last().endsWith("4 vocal(aux) ajouté(s) au lot en cours."));
    ASSERT_TRUE(bench.finish());
    EXPECT_EQ(bench.processed, (QStringList{"a.m4a", "b.m4a", "c.m4a", "d.m4a", "e.m4a"}));
    EXPECT_EQ(mostInHand, 2);
    EXPECT_EQ(bench.afterRuns, QList<bool>{false}); // one run, one hand-over

    // A file put off for having changed is taken after all once it joins.
    bench.settings.parallelism = 1;
    bench.onFile = [&](const QUuid &id) {
        if (bench.queue.entry(id)->fileName() == "a.m4a" && bench.processed.count("a.m4a") == 2)
            bench.run.deferChanged(id);
    };
    bench.queue.requeue(bench.idOf("a.m4a"));
    bench.queue.requeue(bench.idOf("b.m4a"));
    bench.stepMs = 200;
    bench.run.start();
    ASSERT_TRUE(spinUntil([&] { return bench.processed.size() == 7; }));
    bench.run.join({bench.idOf("a.m4a")});
    ASSERT_TRUE(bench.finish());
    EXPECT_EQ(bench.processed.count("a.m4a"), 3);
    EXPECT_EQ(bench.queue.entry(bench.idOf("a.m4a"))->status, FileStatus::done);
}

// Servers always there, answering as fast as the local worker.
struct ThreeServers : ServerSlots {
    int slotCount() const override { return 3; }
    bool slotAvailable(int) const override { return true; }
    QString machine(int slot) const override { return QStringLiteral("gpu%1:8080").arg(slot + 1); }
};

TEST(SchedulerServers, ThreeServersBesideOneLocalWorkerTakeAQuarterOfTheTime) {
    QStringList names;
    for (int i = 0; i < 24; ++i) names << QStringLiteral("f%1.m4a").arg(i, 2, 10, QLatin1Char('0'));
    const ThreeServers servers;
    QStringList shown;
    const auto batchTime = [&](const ServerSlots *given) {
        SchedulerBench bench;
        bench.stepMs = 300; // one second of recognition, scaled down (the 200 ms idle check stays)
        bench.run.setServerSlots(given);
        bench.scan(names);
        QObject::connect(&bench.run, &Scheduler::runStateChanged, [&] { shown << bench.run.currentFileNames(); });
        QElapsedTimer clock;
        clock.start();
        bench.run.start();
        EXPECT_TRUE(spinUntil([&] { return !bench.run.isRunning(); }, 20000));
        EXPECT_EQ(bench.queue.count(FileStatus::done), 24);
        EXPECT_EQ(QSet<QString>(bench.processed.cbegin(), bench.processed.cend()).size(), 24); // each once
        if (given) {
            // Two workers per server (one prepares the next file), one local worker.
            for (int slot = 0; slot < 3; ++slot) {
                EXPECT_GE(bench.takenBy.count(slot), 5) << slot;
                EXPECT_EQ(bench.mostInHandOnServer.value(slot), 2) << slot;
            }
            EXPECT_GE(bench.takenBy.count(std::nullopt), 2);
        }
        return double(clock.elapsed());
    };
    const double alone = batchTime(nullptr);
    const double together = batchTime(&servers);
    EXPECT_LE(together / alone, 0.30) << together << " ms against " << alone << " ms";
    EXPECT_TRUE(shown.contains("f00.m4a (sur gpu1:8080)")) << shown.join("|").toStdString();
    std::cout << "[ bench    ] 24 fichiers : " << alone << " ms seul, " << together << " ms avec 3 serveurs ("
              << together / alone << " x)\n";
}

// Waiting for a signal in a coroutine: a signal emitted twice before the
// waiter runs must wake it once, and never wake a later wait.
TEST(NextEmission, TwoEmissionsBeforeTheWaiterRunsWakeItOnceNotTheWaitAfterAndAGoneSourceIsNotWaitedFor) {
    QObject source;
    int wakes = 0;
    auto waitTwice = [&]() -> QCoro::Task<> {
        co_await nextEmission(&source, &QObject::objectNameChanged);
        ++wakes;
        co_await nextEmission(&source, &QObject::objectNameChanged);
        ++wakes;
    };
    QCoro::Task<> waiting = waitTwice();
    // Both before the event loop runs, as two servers freed in one instant.
    source.setObjectName(QStringLiteral("un"));
    source.setObjectName(QStringLiteral("deux"));
    spin(50);
    EXPECT_EQ(wakes, 1);
    source.setObjectName(QStringLiteral("trois"));
    spin(50);
    EXPECT_EQ(wakes, 2);

    // A source already gone is not waited for.
    auto owner = std::make_unique<QObject>();
    QPointer<QObject> gone(owner.get());
    owner.reset();
    bool done = false;
    auto waitGone = [&]() -> QCoro::Task<> {
        co_await nextEmission(gone.data(), &QObject::objectNameChanged);
        done = true;
    };
    QCoro::Task<> notWaiting = waitGone();
    EXPECT_TRUE(done);
}

} // namespace

