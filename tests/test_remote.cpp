// Recognition servers. The rules that need no server first: the setting, the
// set-aside times, the form sent and the reading of the replies. Then servers
// played by an in-process stand-in of whisper-server, beside the stand-in
// local recogniser: what a server's reply becomes, and what a slow, broken or
// refusing server does to the file and the batch.
#include <QDateTime>
#include <QElapsedTimer>

#include "core/settings.h"
#include "pipeline/pipeline_rules.h"
#include "remote/inference_exchange.h"
#include "remote/server_backoff.h"
#include "remote/server_check.h"
#include "support/engine_fixture.h"
#include "support/fake_llm_server.h"

using namespace testing_support;

namespace {

ParlivoSettings readOf(const char *text, QStringList *setAside = nullptr) {
    SettingsReading reading = readSettings(Json::parse(text));
    if (setAside) *setAside = reading.setAside;
    return reading.settings;
}

TEST(RecognitionServersSetting, ListsTextsAndObjectsAreReadBadOnesSetAsideAndNoLocalWorkerOnlyWithAServer) {
    QStringList aside;
    ParlivoSettings s = readOf(R"({"recognitionServers": [{"address": "http://10.0.0.2:8080", "accessKey": "k1"},
                                                          "https://gpu.example.org"]})",
                               &aside);
    ASSERT_EQ(s.recognitionServers.size(), 2);
    EXPECT_EQ(s.recognitionServers[0], (RecognitionServer{"http://10.0.0.2:8080", "k1"}));
    EXPECT_EQ(s.recognitionServers[1], (RecognitionServer{"https://gpu.example.org", ""}));
    EXPECT_TRUE(aside.isEmpty());

    s = readOf(R"({"recognitionServers": " http://a:1, ,http://b:2 "})");
    EXPECT_EQ(s.recognitionServers, (QList<RecognitionServer>{{"http://a:1", ""}, {"http://b:2", ""}}));

    // A bad entry sets the whole list aside; the other keys still count.
    s = readOf(R"({"recognitionServers": ["ftp://a:1"], "language": "fr"})", &aside);
    EXPECT_TRUE(s.recognitionServers.isEmpty());
    EXPECT_EQ(s.language, "fr");
    EXPECT_EQ(aside, QStringList{"recognitionServers"});
    readOf(R"({"recognitionServers": [{"accessKey": "k"}]})", &aside);
    EXPECT_EQ(aside, QStringList{"recognitionServers"});
    readOf(R"({"recognitionServers": 3})", &aside);
    EXPECT_EQ(aside, QStringList{"recognitionServers"});

    // Written back as a list, the key only when there is one.
    ParlivoSettings two;
    two.recognitionServers = {{"http://a:1", ""}, {"http://b:2", "secret"}};
    EXPECT_EQ(toJson(two)["recognitionServers"].dump(),
              R"([{"address":"http://a:1"},{"address":"http://b:2","accessKey":"secret"}])");
    EXPECT_EQ(toJson(ParlivoSettings{})["recognitionServers"].dump(), "[]");

    // No local worker only when a server is set.
    s = readOf(R"({"parallelism": 0})", &aside);
    EXPECT_EQ(s.parallelism, 1);
    EXPECT_EQ(aside, QStringList{"parallelism"});
    EXPECT_EQ(s.localWorkers(), 1);

    s = readOf(R"({"parallelism": 0, "recognitionServers": ["http://a:1"]})", &aside);
    EXPECT_EQ(s.parallelism, 0);
    EXPECT_TRUE(aside.isEmpty());
    EXPECT_EQ(s.localWorkers(), 0);
    EXPECT_EQ(s.effectiveParallelism(), 1); // threads per job still count one job

    readOf(R"({"parallelism": -1, "recognitionServers": ["http://a:1"]})", &aside);
    EXPECT_EQ(aside, QStringList{"parallelism"});
}

TEST(ServerSetAside, ThirtySecondsThenDoublingUpToTenMinutesUntilAReplyWorks) {
    const QDateTime t0 = QDateTime::fromSecsSinceEpoch(1'000'000);
    ServerBackoff backoff;
    EXPECT_FALSE(backoff.isAside(t0));
    EXPECT_EQ(backoff.fail(t0), 30);
    EXPECT_TRUE(backoff.isAside(t0.addSecs(29)));
    EXPECT_FALSE(backoff.isAside(t0.addSecs(30)));
    for (int seconds : {60, 120, 240, 480, 600, 600}) EXPECT_EQ(backoff.fail(t0), seconds);
    EXPECT_TRUE(backoff.isAside(t0.addSecs(599)));
    EXPECT_TRUE(backoff.succeed());
    EXPECT_FALSE(backoff.isAside(t0));
    EXPECT_FALSE(backoff.succeed());
    EXPECT_EQ(backoff.fail(t0), 30);
}

TEST(InferenceForm, CarriesTheAudioTheFormatAndTheLanguage) {
    const InferenceForm form = inferenceForm(QByteArray("RIFF\0\1", 6), "fr");
    ASSERT_TRUE(form.contentType.startsWith("multipart/form-data; boundary="));
    const QByteArray boundary = form.contentType.mid(QByteArray("multipart/form-data; boundary=").size());
    const QByteArray expected = "--" + boundary +
                                "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"audio.wav\"\r\n"
                                "Content-Type: audio/wav\r\n\r\n" +
                                QByteArray("RIFF\0\1", 6) + "\r\n--" + boundary +
                                "\r\nContent-Disposition: form-data; name=\"response_format\"\r\n\r\nverbose_json\r\n--" +
                                boundary + "\r\nContent-Disposition: form-data; name=\"language\"\r\n\r\nfr\r\n--" +
                                boundary + "--\r\n";
    EXPECT_EQ(form.body, expected);

    const QNetworkRequest plain = inferenceRequest({"http://10.0.0.2:8080", ""}, form.contentType);
    EXPECT_EQ(plain.url().toString(), "http://10.0.0.2:8080/inference");
    EXPECT_FALSE(plain.hasRawHeader("Authorization"));
    const QNetworkRequest keyed = inferenceRequest({"https://proxy.example.org/whisper", "s3cret"}, form.contentType);
    EXPECT_EQ(keyed.url().toString(), "https://proxy.example.org/whisper/inference");
    EXPECT_EQ(keyed.rawHeader("Authorization"), "Bearer s3cret");
    EXPECT_EQ(machineName("http://10.0.0.2:8080/"), "10.0.0.2:8080");
    EXPECT_EQ(machineName("https://gpu.example.org"), "gpu.example.org");
}

Corrector::HttpOutcome reply(int status, const QByteArray &body) {
    Corrector::HttpOutcome outcome;
    outcome.status = status;
    outcome.body = body;
    if (status >= 500) outcome.error = QNetworkReply::InternalServerError;
    else if (status >= 400) outcome.error = QNetworkReply::ContentNotFoundError;
    return outcome;
}

TEST(InferenceReply, SegmentsFaultsOfTheServerAndFaultsOfTheAudio) {
    const RemoteOutcome ok = inferenceOutcome(
        reply(200, R"({"task":"transcribe","language":"french","duration":3.5,"text":" Bonjour. Au revoir.",
                      "segments":[{"id":0,"text":" Bonjour.","start":0.0,"end":1.5,"tokens":[1,2]},
                                  {"id":1,"text":" Au revoir.","start":1.5,"end":3.48}]})"),
        false);
    EXPECT_EQ(ok.fault, RemoteOutcome::Fault::none);
    EXPECT_EQ(ok.segments, (QList<Segment>{{0.0, 1.5, " Bonjour."}, {1.5, 3.48, " Au revoir."}}));
    EXPECT_EQ(inferenceOutcome(reply(200, R"({"text":"","segments":[]})"), false).fault, RemoteOutcome::Fault::none);

    for (const QByteArray &broken : {QByteArray(R"({"text":"Bonj)"), QByteArray(R"({"text":"sans segments"})"),
                                     QByteArray(R"({"segments":[{"start":"0","end":1,"text":"x"}]})"),
                                     QByteArray("<html>proxy</html>")})
        EXPECT_EQ(inferenceOutcome(reply(200, broken), false).fault, RemoteOutcome::Fault::server) << broken.data();
    EXPECT_EQ(inferenceOutcome(reply(503, "busy"), false).fault, RemoteOutcome::Fault::server);
    EXPECT_EQ(inferenceOutcome(reply(401, "unauthorized"), false).fault, RemoteOutcome::Fault::server);
    EXPECT_EQ(inferenceOutcome(reply(200, R"({"segments":[]})"), true).fault, RemoteOutcome::Fault::server);
    Corrector::HttpOutcome refused;
    refused.error = QNetworkReply::ConnectionRefusedError;
    refused.errorText = "Connection refused";
    const RemoteOutcome down = inferenceOutcome(refused, false);
    EXPECT_EQ(down.fault, RemoteOutcome::Fault::server);
    EXPECT_EQ(down.message, "injoignable (Connection refused)");

    const RemoteOutcome bad = inferenceOutcome(reply(400, "invalid WAV"), false);
    EXPECT_EQ(bad.fault, RemoteOutcome::Fault::audio);
    EXPECT_EQ(bad.message, "Le serveur de reconnaissance refuse l'audio (HTTP 400) : invalid WAV");
    const RemoteOutcome unread = inferenceOutcome(reply(200, R"({"error":"failed to read audio data"})"), false);
    EXPECT_EQ(unread.fault, RemoteOutcome::Fault::audio);
    EXPECT_EQ(unread.message, "Le serveur de reconnaissance refuse l'audio : failed to read audio data");
    Corrector::HttpOutcome cut;
    cut.cancelled = true;
    cut.error = QNetworkReply::OperationCanceledError;
    EXPECT_EQ(inferenceOutcome(cut, false).fault, RemoteOutcome::Fault::cancelled);
}

TEST(ServerCheck, HalfASecondOfSilenceAsA16kHzWavAndTheAddressesItRefuses) {
    const QByteArray wav = silentWav(500);
    ASSERT_EQ(wav.size(), 44 + 16000); // 8000 samples of 2 bytes
    const QByteArray header = QByteArray::fromHex("52494646" "a43e0000" "57415645" "666d7420" // RIFF, 16036, WAVEfmt
                                                  "10000000" "0100" "0100" "803e0000"        // 16, PCM, mono, 16000
                                                  "007d0000" "0200" "1000" "64617461"        // 32000, 2, 16, data
                                                  "803e0000");                                // 16000
    EXPECT_EQ(wav.first(44), header);
    EXPECT_EQ(wav.mid(44), QByteArray(16000, '\0'));

    EXPECT_EQ(addressProblem("http://192.168.1.20:8080"), std::nullopt);
    EXPECT_EQ(addressProblem("https://gpu.example.org/whisper/"), std::nullopt);
    const QString refused =
        "Adresse invalide : elle commence par http:// ou https://, par exemple http://192.168.1.20:8080.";
    for (const char *address : {"192.168.1.20:8080", "ftp://gpu.example.org", "http://", ""})
        EXPECT_EQ(addressProblem(address), refused) << address;
}

// ---------------------------------------------------------------- against a stand-in server

const QByteArray serverReply = R"({"task":"transcribe","language":"french","duration":3.0,
    "text":" Depuis le serveur.","segments":[
    {"id":0,"text":" Depuis le serveur.","start":0.0,"end":1.5},
    {"id":1,"text":" Sous-titres réalisés par la communauté d'Amara.org","start":1.5,"end":3.0}]})";

class RemoteStandIn : public EngineFixture {
protected:
    FakeLlmServer server;
    bool withoutRecogniser = false;

    Tools tools() const override {
        Tools t = EngineFixture::tools();
        if (withoutRecogniser) t.whisper.reset();
        return t;
    }

    void SetUp() override {
        EngineFixture::SetUp();
        ASSERT_NE(server.port(), 0);
        makeAudio(src + "/un.wav", 1.5);
    }
    // `local`: the files transcribed at once on this machine (0: none).
    void useServer(int local) {
        updateSettings([&](ParlivoSettings &s) {
            s.recognitionServers = {{server.endpoint(), "clé-1"}};
            s.parallelism = local;
            s.language = "fr";
        });
        chooseSource();
    }
    QString transcript(const QString &stem) const { return readText(src + "/" + stem + ".txt"); }
};

TEST_F(RemoteStandIn, TheServersSegmentsAreCleanedAndWrittenLikeALocalRecognition) {
    server.respondWith([](const FakeRequest &) { return FakeReply::raw(200, serverReply); });
    QStringList shown;
    QObject::connect(engine.get(), &Transcriber::runStateChanged, [&] { shown << engine->currentFileNames(); });
    updateSettings([](ParlivoSettings &s) { s.outputFormat = OutputFormat::both; });
    useServer(0);
    ASSERT_TRUE(runQueue());

    EXPECT_EQ(entryNamed("un.wav").status, FileStatus::done);
    EXPECT_EQ(recogniserCalls(), 0);
    const QString text = transcript("un");
    EXPECT_TRUE(text.contains("Depuis le serveur.")) << text.toStdString();
    EXPECT_FALSE(text.contains("Amara")) << text.toStdString(); // cleaned as a local result would be
    EXPECT_TRUE(shown.contains(QStringLiteral("un.wav (sur 127.0.0.1:%1)").arg(server.port()))) << shown.join("|").toStdString();
    // The server's model is unknown here: the notes name the machine, not the local model.
    const QString notes = readText(src + "/un.md");
    EXPECT_TRUE(notes.contains(QStringLiteral("\nmodele: serveur 127.0.0.1:%1\n").arg(server.port()))) << notes.toStdString();

    // The request: the converted WAV, the format and language asked, the key as a bearer.
    ASSERT_EQ(server.count(FakeLlmServer::inferencePath), 1);
    const FakeRequest &request = server.requests(FakeLlmServer::inferencePath).first();
    EXPECT_EQ(request.header("Authorization"), QByteArray("Bearer clé-1"));
    EXPECT_TRUE(request.body.contains("name=\"response_format\"\r\n\r\nverbose_json\r\n"));
    EXPECT_TRUE(request.body.contains("name=\"language\"\r\n\r\nfr\r\n"));
    EXPECT_TRUE(request.body.contains("Content-Type: audio/wav\r\n\r\nRIFF"));
    EXPECT_EQ(engine->ledger().at(entryNamed("un.wav").path()).status, "done");
}

TEST_F(RemoteStandIn, ASlowOrBrokenServerIsSetAsideAndTheLocalWorkerTakesTheFile) {
    struct Case {
        const char *what;
        FakeReply reply;
        const char *logged;
    };
    const QList<Case> cases{
        {"lent", FakeReply::raw(200, serverReply).delayed(4000), "pas de réponse dans le délai"},
        {"illisible", FakeReply::raw(200, R"({"segments": [{"start": 0, "te)"), "réponse illisible"},
        {"en panne", FakeReply::raw(502, "Bad Gateway"), "réponse HTTP 502"},
    };
    limitRecognitionTo(1);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        server.respondWith([&](const FakeRequest &) { return c.reply; });
        server.clearRequests();
        engine->clearLog();
        useServer(1);
        engine->transcribeSelection({entryNamed("un.wav").id});
        ASSERT_TRUE(runTask(engine->waitForRun(), 30000));

        EXPECT_EQ(entryNamed("un.wav").status, FileStatus::done);
        EXPECT_EQ(server.count(FakeLlmServer::inferencePath), 1) << "set aside: asked once only";
        EXPECT_EQ(logCount(QStringLiteral("Serveur de reconnaissance 127.0.0.1:%1 mis de côté pour 30 s : %2.")
                               .arg(server.port())
                               .arg(c.logged)),
                  1)
            << engine->logLines().join("\n").toStdString();
        // Not the file's fault: no attempt counted.
        EXPECT_EQ(engine->ledger().at(entryNamed("un.wav").path()).attempts.value_or(0), 0);
        EXPECT_TRUE(transcript("un").contains("Ceci est un test.")); // the local stand-in's text
    }
}

TEST_F(RemoteStandIn, AnAudioTheServerRefusesIsTheFilesErrorAndCancelCutsARequestOff) {
    server.respondWith([](const FakeRequest &) { return FakeReply::raw(400, "invalid WAV header"); });
    useServer(0);
    ASSERT_TRUE(runQueue());
    const AudioFile &refused = entryNamed("un.wav");
    EXPECT_EQ(refused.status, FileStatus::error);
    EXPECT_EQ(refused.errorMessage, "Le serveur de reconnaissance refuse l'audio (HTTP 400) : invalid WAV header");
    EXPECT_EQ(engine->ledger().at(refused.path()).attempts, 1);

    server.respondWith([](const FakeRequest &) { return FakeReply::raw(200, serverReply).delayed(20000); });
    engine->start();
    ASSERT_TRUE(spinUntil([&] { return server.count(FakeLlmServer::inferencePath) == 2; }, 20000));
    QElapsedTimer clock;
    clock.start();
    engine->cancel();
    ASSERT_TRUE(runTask(engine->waitForRun(), 10000));
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_EQ(entryNamed("un.wav").status, FileStatus::pending);
    EXPECT_TRUE(logHas("Lot interrompu."));
}

TEST_F(RemoteStandIn, TheNextFileIsConvertedWhileTheServerWorksYetSentOnlyOnceTheServerIsFree) {
    makeAudio(src + "/deux.wav", 1.5);
    makeAudio(src + "/trois.wav", 1.5);
    server.respondWith([](const FakeRequest &) { return FakeReply::raw(200, serverReply).delayed(1500); });
    useServer(0);
    const auto onServer = [&] { return engine->currentFileNames().filter("(sur 127.0.0.1:").size(); };
    engine->start();
    ASSERT_TRUE(spinUntil([&] { return server.count(FakeLlmServer::inferencePath) == 1 && onServer() == 2; }, 20000));
    spin(500);
    EXPECT_EQ(server.count(FakeLlmServer::inferencePath), 1); // the machine answers one request at a time
    ASSERT_TRUE(runTask(engine->waitForRun(), 30000));
    for (const QString &name : QStringList{"un.wav", "deux.wav", "trois.wav"})
        EXPECT_EQ(entryNamed(name).status, FileStatus::done) << name.toStdString();
    EXPECT_EQ(server.count(FakeLlmServer::inferencePath), 3);
}

TEST_F(RemoteStandIn, WithNoLocalWorkerADownServerStopsTheRunAndTheFilesWait) {
    makeAudio(src + "/deux.wav", 1.5);
    server.stop();
    useServer(0);
    ASSERT_TRUE(runQueue());
    EXPECT_EQ(entryNamed("un.wav").status, FileStatus::pending);
    EXPECT_EQ(entryNamed("deux.wav").status, FileStatus::pending);
    EXPECT_TRUE(engine->stoppedWithoutRecogniser());
    EXPECT_TRUE(logHas("Lot arrêté : aucun serveur de reconnaissance ne répond et aucune transcription n'est "
                       "prévue sur cet ordinateur. Les fichiers restent en attente ; relance la transcription "
                       "quand un serveur répond."));
    EXPECT_EQ(recogniserCalls(), 0);

    // Back up: the next run takes the files again.
    ASSERT_TRUE(server.resume());
    server.respondWith([](const FakeRequest &) { return FakeReply::raw(200, serverReply); });
    ASSERT_TRUE(runQueue());
    EXPECT_EQ(entryNamed("un.wav").status, FileStatus::done);
    EXPECT_EQ(entryNamed("deux.wav").status, FileStatus::done);
    EXPECT_FALSE(engine->stoppedWithoutRecogniser());
}

TEST_F(RemoteStandIn, ServersAloneNeedNoRecogniserNorModelHereWhileALocalWorkerNeedsBoth) {
    server.respondWith([](const FakeRequest &) { return FakeReply::raw(200, serverReply); });
    // The model repository is the stand-in too: a download would show among its requests.
    ScopedEnv base{"PARLIVO_MODEL_BASE_URL", server.endpoint() + "/modeles/"};
    QFile::remove(model);
    useServer(0);
    engine->saveNow();
    withoutRecogniser = true;
    relaunch();
    EXPECT_TRUE(engine->toolsReady());
    ASSERT_FALSE(engine->modelAvailable());
    EXPECT_FALSE(engine->localModelMissing());
    ASSERT_TRUE(runQueue());
    EXPECT_EQ(entryNamed("un.wav").status, FileStatus::done);
    EXPECT_EQ(recogniserCalls(), 0);
    EXPECT_EQ(server.count("/modeles/ggml-large-v3.bin"), 0);
    EXPECT_FALSE(logHas("Aucun modèle de transcription"));
    EXPECT_EQ(engine->settings().modelPath, model); // left as it was

    // A local worker needs its recogniser: the run does not start.
    updateSettings([](ParlivoSettings &s) { s.parallelism = 1; });
    EXPECT_FALSE(engine->toolsReady());

    // With its recogniser beside the server, the model is fetched first, as without servers.
    engine->saveNow();
    withoutRecogniser = false;
    relaunch();
    EXPECT_TRUE(engine->localModelMissing());
    engine->transcribeSelection({entryNamed("un.wav").id});
    ASSERT_TRUE(spinUntil([&] { return !engine->modelDownloadProgress(); }, 20000));
    EXPECT_EQ(server.count("/modeles/ggml-large-v3.bin"), 1);
    EXPECT_TRUE(logHas("Aucun modèle de transcription : téléchargement de ggml-large-v3.bin"));
    EXPECT_FALSE(engine->isRunning()); // the stand-in has no such model: no batch
    EXPECT_EQ(server.count(FakeLlmServer::inferencePath), 1);
}

} // namespace
