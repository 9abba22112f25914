// Times the load and the save of a large queue and ledger: the state files a
// user with years of memos carries. Prints one line per figure.
//
//   bench-state [ENTRIES]        default 10000; uses a temporary PARLIVO_HOME

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "core/atomic_file.h"
#include "core/folders.h"
#include "core/json_coding.h"
#include "engine/transcriber.h"

namespace {

void writeState(int entries) {
    PersistedState state;
    state.sourceFolder = QUrl::fromLocalFile("/memos");
    Ledger ledger;
    for (int i = 0; i < entries; ++i) {
        const QString path = QStringLiteral("/memos/%1/Mémo vocal %2.m4a").arg(i / 100).arg(i);
        AudioFile file(QUrl::fromLocalFile(path));
        file.status = i % 10 == 0 ? FileStatus::pending : FileStatus::done;
        file.progress = file.status == FileStatus::done ? 1 : 0;
        file.durationSeconds = 30 + i % 600;
        if (file.status == FileStatus::done) file.outputPath = path.chopped(4) + ".txt";
        state.files.append(file);
        ledger[path] = LedgerEntry{100000 + i, 1.7e9 + i, "done", file.outputPath, 1.7e9 + i, std::nullopt, 0};
    }
    const QString dir = folders::supportDir() + "/";
    writeFileAtomically(dir + "queue.json", encodeQueue(state));
    writeFileAtomically(dir + "ledger.json", encodeLedger(ledger));
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const int entries = argc > 1 ? std::max(1, atoi(argv[1])) : 10000;
    QTemporaryDir home;
    qputenv("PARLIVO_HOME", home.path().toUtf8());
    writeState(entries);

    std::vector<double> loads, saves;
    for (int round = 0; round < 7; ++round) {
        QElapsedTimer clock;
        clock.start();
        Transcriber engine{Tools{}};
        loads.push_back(clock.nsecsElapsed() / 1e9);
        if (engine.files().size() != entries) {
            std::fprintf(stderr, "loaded %lld entries, expected %d\n", (long long)engine.files().size(), entries);
            return 1;
        }
        clock.restart();
        engine.saveNow();
        saves.push_back(clock.nsecsElapsed() / 1e9);
    }
    std::printf("load of %d entries (queue + ledger): %.3f s (median of 7)\n", entries, median(loads));
    std::printf("save of %d entries (settings + queue + ledger): %.3f s (median of 7)\n", entries, median(saves));
    return 0;
}
