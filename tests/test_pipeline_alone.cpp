// The per-file pipeline on its own object, for an outcome that needs no
// outside program and that whole runs rarely reach.
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

// Whole runs drop a vanished file before its turn: here it reaches the pipeline.
TEST(PipelineAlone, AVanishedFileFailsWithItsReason) {
    PipelineBench bench;
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
