// parlivo-cli search, as a user types it, over transcripts written by a run.
#include <QFile>

#include "support/cli_fixture.h"

using namespace testing_support;

namespace {

class CliSearch : public CliFixture {};

TEST_F(CliSearch, PrintsALinePerHitTakesAPhraseRefusesNoWordsAndRebuildsADeletedIndex) {
    makeAudio(src + "/20240105 093012.m4a", 1.2);
    const QString heard = R"([{"text": " Bonjour à tous.", "from": 0, "to": 2000},
                              {"text": " L'élève écoute la leçon.", "from": 2000, "to": 5500}])";
    ASSERT_EQ(cli({"run", src}, {"FAKE_WHISPER_SEGMENTS=" + heard}).code, 0);
    const QString memo = src + "/20240105 093012.txt";

    // One tab-separated line per hit, the words marked.
    const CliResult found = cli({"search", "ELEVE"});
    EXPECT_EQ(found.code, 0) << found.err.toStdString();
    EXPECT_EQ(found.out, "2024-01-05 09:30\t0:02\t" + memo + "\tBonjour à tous. L'«élève» écoute la leçon.\n");

    // An argument with a space is a phrase; nothing found exits with one.
    EXPECT_EQ(cli({"search", "écoute la"}).out,
              "2024-01-05 09:30\t0:02\t" + memo + "\tBonjour à tous. L'élève «écoute la» leçon.\n");
    const CliResult reversed = cli({"search", "la écoute"});
    EXPECT_EQ(reversed.code, 1);
    EXPECT_EQ(reversed.out, "");
    EXPECT_EQ(cli({"search", "la", "écoute"}).code, 0); // two words, anywhere

    for (const QStringList &args : {QStringList{"search"}, QStringList{"search", "?!", "--"}}) {
        const CliResult bad = cli(args);
        EXPECT_EQ(bad.code, 2);
        EXPECT_EQ(bad.err, "Indique les mots à chercher (des lettres ou des chiffres) : parlivo-cli search MOTS…\n");
    }

    // A deleted index is rebuilt from the transcript, which holds no times;
    // the transcripts stay the truth.
    ASSERT_TRUE(QFile::remove(home.supportDir() + "/library.sqlite"));
    EXPECT_EQ(cli({"search", "bonjour"}).out,
              "2024-01-05 09:30\t-\t" + memo + "\t«Bonjour» à tous. L'élève écoute la leçon.\n");
    ASSERT_TRUE(QFile::remove(memo));
    EXPECT_EQ(cli({"search", "bonjour"}).code, 1);
}

} // namespace
