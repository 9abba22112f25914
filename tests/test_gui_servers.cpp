// The recognition servers in the settings window over a real engine, with an
// in-process stand-in of whisper-server: the list written into the settings
// and read back, the test of a server, and the machine shown beside the
// running file.
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTest>

#include "app/gui/progress_panel.h"
#include "app/gui/settings_pages.h"
#include "app/gui/settings_servers_box.h"
#include "app/gui/settings_window.h"
#include "app/gui/status_text.h"
#include "support/fake_llm_server.h"
#include "support/window_fixture.h"

using namespace testing_support;

namespace {

const QByteArray verboseReply =
    R"({"task":"transcribe","segments":[{"id":0,"text":" Depuis le serveur.","start":0.0,"end":1.0}]})";

class SettingsServers : public Window {
protected:
    FakeLlmServer server;

    TranscriptionPage *page() const { return window->settingsWindow()->transcriptionPage(); }
    ServersBox *box() const { return page()->servers(); }
    ServerRow *row(int index) const { return box()->rows().at(index); }
    // Clicks "Tester" and waits for its result.
    QString tested(ServerRow *r) {
        r->test()->click();
        EXPECT_FALSE(r->test()->isEnabled());
        EXPECT_EQ(r->result()->text(), "Test en cours…");
        EXPECT_TRUE(spinUntil([&] { return r->test()->isEnabled(); }, 20000));
        return r->result()->text();
    }
};

TEST_F(SettingsServers, TheListIsWrittenIntoTheSettingsAndReadBack) {
    ASSERT_NE(server.port(), 0);
    QSpinBox *parallelism = page()->parallelism();
    EXPECT_TRUE(box()->rows().isEmpty());
    EXPECT_EQ(parallelism->minimum(), 1);
    EXPECT_EQ(box()->findChild<QLabel *>("serversPrivacy")->text(),
              "L'audio des vocaux qu'elles transcrivent est envoyé à ces machines.");

    box()->add()->click();
    ASSERT_EQ(box()->rows().size(), 1);
    EXPECT_TRUE(engine->settings().recognitionServers.isEmpty()); // nothing typed yet
    type(row(0)->address(), "192.168.1.20:8080");
    EXPECT_TRUE(engine->settings().recognitionServers.isEmpty());
    EXPECT_EQ(row(0)->result()->text(),
              "Adresse invalide : elle commence par http:// ou https://, par exemple http://192.168.1.20:8080.");
    type(row(0)->address(), " http://192.168.1.20:8080 ");
    type(row(0)->accessKey(), "jeton-42");
    EXPECT_TRUE(row(0)->result()->isHidden());
    EXPECT_EQ(engine->settings().recognitionServers,
              (QList<RecognitionServer>{{"http://192.168.1.20:8080", "jeton-42"}}));

    // With a server, none on this machine is allowed.
    EXPECT_EQ(parallelism->minimum(), 0);
    parallelism->setValue(0);
    EXPECT_EQ(parallelism->text(), "0 (aucun travail local)");
    EXPECT_EQ(engine->settings().parallelism, 0);
    EXPECT_EQ(engine->settings().localWorkers(), 0);

    box()->add()->click();
    type(row(1)->address(), "https://gpu.example.org");
    EXPECT_EQ(engine->settings().recognitionServers,
              (QList<RecognitionServer>{{"http://192.168.1.20:8080", "jeton-42"}, {"https://gpu.example.org", ""}}));
    ASSERT_TRUE(spinUntil([&] { return !engine->hasPendingSave(); }, 5000));
    const auto stored = readWholeFile(home.supportDir() + "/settings.json");
    ASSERT_TRUE(stored);
    EXPECT_TRUE(stored->contains(R"("recognitionServers":[{"address":"http://192.168.1.20:8080","accessKey":"jeton-42"},)"
                                 R"({"address":"https://gpu.example.org"}])"))
        << stored->toStdString();

    // Removing every server brings a local worker back.
    row(0)->remove()->click();
    EXPECT_EQ(engine->settings().recognitionServers, (QList<RecognitionServer>{{"https://gpu.example.org", ""}}));
    EXPECT_EQ(engine->settings().parallelism, 0);
    row(0)->remove()->click();
    EXPECT_TRUE(box()->rows().isEmpty());
    EXPECT_TRUE(engine->settings().recognitionServers.isEmpty());
    EXPECT_EQ(engine->settings().parallelism, 1);
    EXPECT_EQ(parallelism->minimum(), 1);
    EXPECT_EQ(parallelism->text(), "1");

    // Set elsewhere (the command line), the list shows in the window.
    updateSettings([&](ParlivoSettings &s) {
        s.recognitionServers = {{"http://10.0.0.2:8080", "k"}, {"http://10.0.0.3:9000", ""}};
        s.parallelism = 0;
    });
    ASSERT_EQ(box()->rows().size(), 2);
    EXPECT_EQ(row(0)->address()->text(), "http://10.0.0.2:8080");
    EXPECT_EQ(row(0)->accessKey()->text(), "k");
    EXPECT_EQ(row(1)->address()->text(), "http://10.0.0.3:9000");
    EXPECT_EQ(parallelism->value(), 0);
}

TEST_F(SettingsServers, TheWindowShowsTheMachineThatHasTheRunningFileAndTheTesterSaysWhetherItAnswers) {
    ASSERT_NE(server.port(), 0);
    server.respondWith([](const FakeRequest &) { return FakeReply::raw(200, verboseReply).delayed(1500); });
    updateSettings([&](ParlivoSettings &s) {
        s.recognitionServers = {{server.endpoint(), "clé-1"}};
        s.language = "fr";
        s.parallelism = 0;
    });
    ASSERT_EQ(box()->rows().size(), 1);
    makeMemos(1);
    chooseSource();
    engine->start();
    auto *state = window->findChild<StatusText *>("runState");
    const QString expected = QStringLiteral("En cours : memo 01.m4a (sur 127.0.0.1:%1)").arg(server.port());
    EXPECT_TRUE(spinUntil(
        [&] {
            window->progressPanel()->refreshNow();
            return state->text() == expected;
        },
        20000))
        << state->text().toStdString();
    ASSERT_TRUE(runTask(engine->waitForRun(), 30000));
    EXPECT_EQ(engine->doneCount(), 1);
    EXPECT_EQ(recogniserCalls(), 0);

    // "Tester" says whether the server answers, and why not.
    server.clearRequests();
    server.respondWith([](const FakeRequest &) { return FakeReply::raw(200, verboseReply); });
    EXPECT_EQ(tested(row(0)), "Joignable : le serveur a transcrit un court essai.");
    ASSERT_EQ(server.count(FakeLlmServer::inferencePath), 1);
    const FakeRequest &request = server.requests(FakeLlmServer::inferencePath).first();
    EXPECT_EQ(request.header("Authorization"), QByteArray("Bearer clé-1"));
    EXPECT_TRUE(request.body.contains("Content-Type: audio/wav\r\n\r\nRIFF"));
    EXPECT_TRUE(request.body.contains("name=\"language\"\r\n\r\nfr\r\n"));

    server.respondWith([](const FakeRequest &) { return FakeReply::raw(502, "Bad Gateway"); });
    EXPECT_EQ(tested(row(0)), "Échec : réponse HTTP 502.");
    server.respondWith([](const FakeRequest &) { return FakeReply::raw(200, "<html>pas un serveur</html>"); });
    EXPECT_EQ(tested(row(0)), "Échec : réponse illisible.");
    server.respondWith([](const FakeRequest &) { return FakeReply::raw(415, "unsupported"); });
    EXPECT_EQ(tested(row(0)), "Joignable, mais l'essai n'a pas abouti. Le serveur de reconnaissance refuse "
                              "l'audio (HTTP 415) : unsupported");
    server.stop();
    EXPECT_EQ(tested(row(0)), "Échec : injoignable (Connexion refusée).");
    // Testing is not running: no server was set aside, nothing was logged.
    EXPECT_FALSE(logHas("Serveur de reconnaissance"));
}

} // namespace
