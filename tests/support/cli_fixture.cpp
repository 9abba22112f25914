#include "support/cli_fixture.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

namespace testing_support {

void CliFixture::SetUp() {
    env = {"PARLIVO_WHISPER_CLI=" + buildPath("fake-whisper-cli"), "FAKE_WHISPER_ARGS_LOG=" + argsLog};
    writeFile(home.file(".hestia/ggml-base.bin"), "model");
    ASSERT_EQ(runCli({"settings", "modelPath", home.file(".hestia/ggml-base.bin")}).code, 0);
    ASSERT_EQ(runCli({"settings", "correctionEnabled", "false"}).code, 0);
    ASSERT_EQ(runCli({"settings", "organizeEnabled", "false"}).code, 0);
}

std::unique_ptr<QProcess> CliFixture::startCli(const QStringList &args, const QStringList &more) {
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(environmentWith(env + more));
    process->start(buildPath("parlivo-cli"), args);
    process->waitForStarted();
    return process;
}

void CliFixture::makeMemos(int count, int digits) {
    const auto name = [&](int i) { return src + QStringLiteral("/memo%1.m4a").arg(i, digits, 10, QChar('0')); };
    makeAudio(name(1), 1.2);
    for (int i = 2; i <= count; ++i) QFile::copy(name(1), name(i));
}

QStringList CliFixture::transcripts() const {
    QStringList found;
    QDirIterator it(src, {"*.txt"}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) found << QFileInfo(it.next()).fileName();
    found.sort();
    return found;
}

} // namespace testing_support
