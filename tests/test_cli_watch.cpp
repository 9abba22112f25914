// parlivo-cli watch as a user runs it: a real child process watching a real
// folder until Ctrl-C, with the stand-in recogniser and the product's delay.
#include <QProcess>

#include <csignal>

#include "support/cli_fixture.h"

using namespace testing_support;

namespace {

class CliWatch : public CliFixture {
protected:
    bool stopped(QProcess &watch) {
        return spinUntil([&] { return watch.state() == QProcess::NotRunning; }, 15000);
    }
};

TEST_F(CliWatch, TranscribesWhatIsThereAndWhatArrivesThenCtrlCSavesAndExitsWithZero) {
    makeAudio(src + "/déjà là.m4a", 1.2);
    auto watch = startCli({"watch", src});
    ASSERT_TRUE(spinUntil([&] { return transcripts() == QStringList{"déjà là.txt"}; }, 30000));
    // Copied in once watching runs, into a folder made for it.
    const QString made = makeAudio(home.file("enregistreur/nouveau.m4a"), 1.2);
    ASSERT_TRUE(QDir().mkpath(src + "/sous"));
    ASSERT_TRUE(QFile::copy(made, src + "/sous/nouveau.m4a"));
    ASSERT_TRUE(spinUntil([&] { return transcripts().size() == 2; }, 30000));

    // It holds the state folder like run does.
    const CliResult refused = cli({"run", src});
    EXPECT_EQ(refused.code, 2);
    EXPECT_TRUE(refused.err.contains("est déjà utilisé par parlivo-cli")) << refused.err.toStdString();

    ::kill(pid_t(watch->processId()), SIGINT);
    ASSERT_TRUE(stopped(*watch));
    EXPECT_EQ(watch->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(watch->exitCode(), 0);
    const QString err = QString::fromUtf8(watch->readAllStandardError());
    EXPECT_TRUE(err.contains("Surveillance du dossier active : " + src)) << err.toStdString();
    EXPECT_TRUE(err.contains("Surveillance du dossier arrêtée : " + src));
    EXPECT_EQ(recogniserCalls(), 2);
    EXPECT_TRUE(cli({"status"}).out.startsWith("En attente 0, En cours 0, Terminé 2, Sauté 0, Erreur 0"));
}

TEST_F(CliWatch, WithoutOneFolderItExitsWithTwoAndCtrlCDuringATranscriptionLeavesItPending) {
    // Without a folder, or with too many, it does not start.
    const CliResult none = cli({"watch"});
    EXPECT_EQ(none.code, 2);
    EXPECT_EQ(none.err, "Aucun dossier source : parlivo-cli watch DOSSIER\n");
    EXPECT_EQ(cli({"watch", home.file("nulle part")}).code, 2);
    const CliResult two = cli({"watch", src, src});
    EXPECT_EQ(two.code, 2);
    EXPECT_TRUE(two.err.contains("watch [DOSSIER]"));

    QDir().mkpath(src);
    auto watch = startCli({"watch", src}, {"FAKE_WHISPER_HANG=1"});
    makeAudio(src + "/long.m4a", 1.2);
    ASSERT_TRUE(spinUntil([&] { return recogniserCalls() == 1; }, 30000));
    ::kill(pid_t(watch->processId()), SIGTERM);
    ASSERT_TRUE(stopped(*watch));
    EXPECT_EQ(watch->exitCode(), 0);
    EXPECT_TRUE(QString::fromUtf8(watch->readAllStandardError()).contains("Lot interrompu."));
    const CliResult status = cli({"status"});
    EXPECT_TRUE(status.out.startsWith("En attente 1, En cours 0")) << status.out.toStdString();
    EXPECT_TRUE(status.out.contains("pending\t0:01\t" + src + "/long.m4a\t\n")); // its duration was read
    EXPECT_TRUE(scratch().isEmpty());
}

} // namespace
