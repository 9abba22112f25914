// The rules of the recognition servers that need no server: the setting,
// the set-aside times, the form sent and the reading of the replies.
#include <QDateTime>

#include <gtest/gtest.h>

#include "core/settings.h"
#include "remote/inference_exchange.h"
#include "remote/server_backoff.h"
#include "remote/server_check.h"

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

} // namespace
