#pragma once
// parlivo-cli as a user types it: a real child process in a temporary home,
// with the stand-in recogniser as its recogniser, a model, and the language-model
// stages off.

#include <QProcess>

#include <memory>

#include "support/test_support.h"

namespace testing_support {

class CliFixture : public ::testing::Test {
protected:
    TempHome home;
    QString src = home.file("memos");
    QString argsLog = home.file("whisper-args.log");
    QStringList env; // what every command gets: the recogniser and its call log

    void SetUp() override;

    // `more`: NAME=VALUE pairs for this command only.
    CliResult cli(const QStringList &args, const QStringList &more = {}) { return runCli(args, env + more); }
    // A command in the background, for interrupting it or running beside it.
    std::unique_ptr<QProcess> startCli(const QStringList &args, const QStringList &more = {});
    // `count` copies of one 1.2 s recording: memo1.m4a on, numbered `digits` wide.
    void makeMemos(int count, int digits = 1);
    int recogniserCalls() const { return int(linesOf(argsLog).size()); }
    // The names of the .txt transcripts under the source folder, sorted.
    QStringList transcripts() const;
    // What is left in the scratch folder of converted audio.
    QStringList scratch() const { return home.scratchFiles(); }
};

} // namespace testing_support
