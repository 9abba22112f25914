// The per-file pipeline on its own object, for the outcomes that need no
// outside program: the history's short-cut, an empty file, a vanished one.
#include <QFile>

#include "pipeline/file_pipeline.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

struct PipelineBench {
    TempHome home;
    EventLog log;
    ParlivoSettings settings;
    Tools tools; // none: any call to a program would fail the file
    ProcessRunner processes;
    OllamaRuntime ollama{settings, log, std::nullopt, [](const QUrl &) {}};
    FileQueue queue{log, [] { return QStringList(); }};
    Scheduler run{queue, log, processes, settings};
    RunCorrection correction{settings, log, ollama};
    FilePipeline pipeline{queue, run, correction, processes, tools, settings, log};

    QUuid add(const QString &name, const QByteArray &bytes) {
        writeFile(home.file("src/" + name), bytes);
        queue.setSourceFolder(QUrl::fromLocalFile(home.file("src")));
        for (const auto &f : queue.files())
            if (f.fileName() == name) {
                queue.setStatus(f.id, FileStatus::running);
                return f.id;
            }
        return {};
    }
    const AudioFile &process(const QUuid &id) {
        EXPECT_TRUE(runTask(pipeline.process(id)));
        return *queue.entry(id);
    }
};

TEST(PipelineAlone, TheHistorySettlesAnUnchangedFileWithoutAnyProgram) {
    PipelineBench bench;
    const QUuid id = bench.add("a.m4a", "audio");
    bench.queue.recordLedger(bench.home.file("src/a.m4a"), "done", bench.home.file("src/a.txt"), std::nullopt);
    const AudioFile &file = bench.process(id);
    EXPECT_EQ(file.status, FileStatus::skipped);
    EXPECT_EQ(file.outputPath, std::optional<QString>(bench.home.file("src/a.txt")));
}

TEST(PipelineAlone, AnEmptyFileIsEmptyAndAVanishedOneFailsWithItsReason) {
    PipelineBench bench;
    const QUuid empty = bench.add("vide.m4a", "");
    EXPECT_EQ(bench.process(empty).status, FileStatus::empty);
    EXPECT_EQ(bench.queue.ledger().at(bench.home.file("src/vide.m4a")).status, "empty");

    const QUuid gone = bench.add("parti.m4a", "audio");
    QFile::remove(bench.home.file("src/parti.m4a"));
    const AudioFile &file = bench.process(gone);
    EXPECT_EQ(file.status, FileStatus::error);
    EXPECT_EQ(file.errorMessage,
              std::optional<QString>("Fichier introuvable : il a été déplacé ou supprimé depuis le scan."));
    EXPECT_TRUE(bench.log.lines().last().endsWith(
        "Erreur sur parti.m4a : Fichier introuvable : il a été déplacé ou supprimé depuis le scan."));
}

} // namespace
