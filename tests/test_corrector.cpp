// The language-model client: which texts are sent, how they are cut and
// cleaned, what goes over the wire and how failures come back, against the
// in-process stand-in server.

#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkReply>

#include <gtest/gtest.h>
#include <qcoro/qcoronetworkreply.h>

#include "core/network.h"
#include "correction/corrector.h"
#include "support/fake_llm_server.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

template <typename T> struct Outcome {
    std::optional<T> value;
    std::optional<CorrectionError> error;
};

// Runs a client call to its end, keeping either its result or its error.
template <typename T> Outcome<T> run(QCoro::Task<T> task, int timeoutMs = 20000) {
    Outcome<T> outcome;
    auto wrapper = [](QCoro::Task<T> t, Outcome<T> &out) -> QCoro::Task<> {
        try {
            out.value = co_await std::move(t);
        } catch (const CorrectionError &e) {
            out.error = e;
        }
    };
    runTask(wrapper(std::move(task), outcome), timeoutMs);
    return outcome;
}

ParlivoSettings ollamaSettings(const FakeLlmServer &server) {
    ParlivoSettings settings;
    settings.correctionBackend = CorrectionBackend::ollama;
    settings.ollamaEndpoint = server.endpoint();
    settings.ollamaModel = QStringLiteral("qwen2.5:7b");
    return settings;
}

// Points the Messages API at the stand-in while it lives.
class AnthropicAt {
public:
    explicit AnthropicAt(const QString &url) { qputenv("PARLIVO_ANTHROPIC_URL", url.toUtf8()); }
    ~AnthropicAt() { qunsetenv("PARLIVO_ANTHROPIC_URL"); }
};

ParlivoSettings anthropicSettings() {
    ParlivoSettings settings;
    settings.correctionBackend = CorrectionBackend::anthropic;
    settings.anthropicKey = QStringLiteral("sk-ant-test");
    return settings;
}

QString repeated(QChar c, int n) { return QString(n, c); }

// Lines of 99 letters: 13 000 characters in 130 lines.
QString longDictation() {
    QStringList lines;
    for (int i = 0; i < 130; ++i) lines.append(QString(99, QChar(u'a' + i % 26)));
    return lines.join(QLatin1Char('\n')).left(13000);
}

Json options(const FakeRequest &request) { return request.json()["options"]; }

} // namespace

// ---------------------------------------------------------------- what is sent at all

TEST(CorrectorShortTexts, CountReadableCharactersAfterTrimming) {
    EXPECT_TRUE(Corrector::isTooShortToCorrect(QStringLiteral("  \n") + repeated(u'x', 29) + QStringLiteral(" \n")));
    EXPECT_FALSE(Corrector::isTooShortToCorrect(repeated(u'x', 30)));
    // 29 accented letters written with combining accents are 58 UTF-16 units but 29 characters.
    QString decomposed;
    for (int i = 0; i < 29; ++i) decomposed += QStringLiteral("e\u0301");
    EXPECT_TRUE(Corrector::isTooShortToCorrect(decomposed));
    EXPECT_FALSE(Corrector::isTooShortToCorrect(decomposed + QStringLiteral("e")));
    // Emoji outside the basic plane count once each.
    EXPECT_EQ(Corrector::graphemeCount(QStringLiteral("😀😀 é")), 4);
}

TEST(CorrectorShortTexts, ComeBackByteForByteWithoutAnyRequest) {
    FakeLlmServer server;
    server.answerWith(QStringLiteral("ne doit pas servir"));
    const QString text = QStringLiteral("  bonjour à tous  \n\n");
    for (CorrectionBackend backend : {CorrectionBackend::ollama, CorrectionBackend::anthropic}) {
        ParlivoSettings settings = ollamaSettings(server);
        settings.correctionBackend = backend;
        settings.anthropicKey = QStringLiteral("sk");
        const auto outcome = run(Corrector::correct(text, settings));
        ASSERT_TRUE(outcome.value);
        EXPECT_EQ(*outcome.value, text);
    }
    EXPECT_TRUE(server.requests().isEmpty());
}

TEST(CorrectorBackendNone, CorrectLeavesTextButAskStillUsesOllama) {
    FakeLlmServer server;
    server.answerWith(QStringLiteral("Voici la réponse :\nbrute"));
    ParlivoSettings settings = ollamaSettings(server);
    settings.correctionBackend = CorrectionBackend::none;
    const QString text = QStringLiteral("une dictée assez longue pour être corrigée normalement\n");

    const auto corrected = run(Corrector::correct(text, settings));
    ASSERT_TRUE(corrected.value);
    EXPECT_EQ(*corrected.value, text);
    EXPECT_TRUE(server.requests().isEmpty());

    // ask gives the raw answer: no preamble stripping.
    const auto answer = run(Corrector::ask(QStringLiteral("système"), QStringLiteral("question"), settings));
    ASSERT_TRUE(answer.value);
    EXPECT_EQ(*answer.value, QStringLiteral("Voici la réponse :\nbrute"));
    EXPECT_EQ(server.count(FakeLlmServer::chatPath), 1);
}

// ---------------------------------------------------------------- chunking

TEST(CorrectorChunks, LimitIsInclusiveAndLongLinesAreCut) {
    const QString exact = repeated(u'a', 6000);
    EXPECT_EQ(Corrector::splitIntoChunks(exact), QStringList{exact});

    const QStringList cut = Corrector::splitIntoChunks(repeated(u'b', 6001));
    ASSERT_EQ(cut.size(), 2);
    EXPECT_EQ(cut[0], repeated(u'b', 6000));
    EXPECT_EQ(cut[1], QStringLiteral("b"));

    // A long line after a short one: the short one is closed first, the long one cut in 6000s.
    const QStringList mixed = Corrector::splitIntoChunks(QStringLiteral("intro\n") + repeated(u'x', 13000));
    EXPECT_EQ(mixed, (QStringList{QStringLiteral("intro"), repeated(u'x', 6000), repeated(u'x', 6000),
                                  repeated(u'x', 1000)}));
}

TEST(CorrectorChunks, CutAtLineBreaksWithoutLosingText) {
    const QString text = longDictation();
    const QStringList chunks = Corrector::splitIntoChunks(text);
    ASSERT_EQ(chunks.size(), 3);
    EXPECT_EQ(chunks[0].size(), 5999);
    EXPECT_EQ(chunks[1].size(), 5999);
    EXPECT_EQ(chunks.join(QLatin1Char('\n')), text);

    // An empty line falling on a fresh chunk vanishes instead of making an empty one.
    const QStringList withBlank =
        Corrector::splitIntoChunks(repeated(u'a', 6000) + QStringLiteral("\n\n") + repeated(u'b', 10));
    EXPECT_EQ(withBlank, (QStringList{repeated(u'a', 6000), repeated(u'b', 10)}));
}

TEST(CorrectorChunks, NeverSplitACharacterOutsideTheBasicPlane) {
    const QString line = repeated(u'a', 5999) + QStringLiteral("😀") + repeated(u'b', 10);
    const QStringList chunks = Corrector::splitIntoChunks(line);
    ASSERT_EQ(chunks.size(), 2);
    EXPECT_EQ(chunks[0], repeated(u'a', 5999));
    EXPECT_EQ(chunks[1], QStringLiteral("😀") + repeated(u'b', 10));
}

TEST(CorrectorChunks, SentOneAfterAnotherInOrderAndJoined) {
    FakeLlmServer server;
    server.echo([](const QString &user) { return QStringLiteral("Voici le texte corrigé :\n\n") + user.toUpper(); });
    server.setDelay(40); // overlapping requests would show in peakConcurrent
    const QString text = longDictation();

    const auto outcome = run(Corrector::correct(text, ollamaSettings(server)));
    ASSERT_TRUE(outcome.value);
    const QStringList chunks = Corrector::splitIntoChunks(text);
    const auto chats = server.requests(FakeLlmServer::chatPath);
    ASSERT_EQ(chats.size(), 3);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(chats[i].userMessage(), chunks[i]) << "chunk " << i;
    EXPECT_EQ(server.peakConcurrent(), 1);
    EXPECT_EQ(*outcome.value, chunks.join(QStringLiteral("\n\n")).toUpper());
}

TEST(CorrectorChunks, AnEmptyAnswerFailsTheWholeTextAndStopsSending) {
    FakeLlmServer server;
    server.enqueue({FakeReply::answer(QStringLiteral("Premier morceau.")),
                    FakeReply::answer(QStringLiteral("```\n```")),
                    FakeReply::answer(QStringLiteral("Troisième morceau."))});
    const auto outcome = run(Corrector::correct(longDictation(), ollamaSettings(server)));
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->kind(), CorrectionError::Kind::empty);
    EXPECT_FALSE(outcome.error->isBackendDown());
    EXPECT_EQ(server.count(FakeLlmServer::chatPath), 2);
}

// ---------------------------------------------------------------- preamble stripping

TEST(CorrectorPreamble, RemovesIntroductionsHeadingsAndFences) {
    using Corrector::stripPreamble;
    EXPECT_EQ(stripPreamble(QStringLiteral("Voici le texte corrigé :\n\nOn part demain.\n")),
              QStringLiteral("On part demain."));
    EXPECT_EQ(stripPreamble(QStringLiteral("BIEN SÛR ! Voici la version propre :\nOn part.")), QStringLiteral("On part."));
    EXPECT_EQ(stripPreamble(QStringLiteral("Here is the corrected text:\nHello.")), QStringLiteral("Hello."));
    EXPECT_EQ(stripPreamble(QStringLiteral("Texte corrigé :\nOn part.")), QStringLiteral("On part."));
    EXPECT_EQ(stripPreamble(QStringLiteral("Le texte final\n\nOn part.")), QStringLiteral("On part."));
    EXPECT_EQ(stripPreamble(QStringLiteral("```markdown\nUne seule phrase.\n```")), QStringLiteral("Une seule phrase."));
    EXPECT_EQ(stripPreamble(QStringLiteral("D'accord, voici :\n```text\nLigne un.\nLigne deux.\n```\n")),
              QStringLiteral("Ligne un.\nLigne deux."));
}

TEST(CorrectorPreamble, KeepsTheDictationItself) {
    using Corrector::stripPreamble;
    const QString plain = QStringLiteral("Voici mon idée pour demain.\nOn part tôt : vers six heures.");
    EXPECT_EQ(stripPreamble(plain), plain);
    const QString notAtStart = QStringLiteral("Il a dit voici la liste :\ndu pain");
    EXPECT_EQ(stripPreamble(notAtStart), notAtStart);
    // A colon further than 100 characters away is not an introduction.
    const QString longLine = QStringLiteral("Voici ") + repeated(u'x', 120) + QStringLiteral(" :\nsuite");
    EXPECT_EQ(stripPreamble(longLine), longLine);
}

TEST(CorrectorPreamble, AnswersMadeOnlyOfChatterStripToEmpty) {
    for (const char *answer : {"Voici le texte corrigé :\n", "Voici le texte corrigé :", "```\n```",
                               "```python\n```", "Texte nettoyé :", "  \n "})
        EXPECT_EQ(Corrector::stripPreamble(QString::fromUtf8(answer)), QString()) << answer;
}

TEST(CorrectorPreamble, PreambleOnlyAnswerMakesCorrectFail) {
    FakeLlmServer server;
    server.answerWith(QStringLiteral("Voici le texte corrigé :\n"));
    const auto outcome = run(Corrector::correct(QStringLiteral("une dictée bien assez longue pour partir"),
                                                ollamaSettings(server)));
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->errorDescription(), QStringLiteral("Réponse vide du modèle"));
}

// ---------------------------------------------------------------- Ollama requests

TEST(CorrectorOllamaSize, EstimateFromTheTextLength) {
    using Corrector::OllamaSize;
    EXPECT_EQ(Corrector::ollamaSize(2000), (OllamaSize{666, 1321, 8192}));
    EXPECT_EQ(Corrector::ollamaSize(6000), (OllamaSize{2000, 3456, 8192}));
    EXPECT_EQ(Corrector::ollamaSize(6000, 12000), (OllamaSize{2000, 3456, 12000}));
    EXPECT_EQ(Corrector::ollamaSize(100), (OllamaSize{64, 358, 8192}));
    EXPECT_EQ(Corrector::ollamaSize(60000), (OllamaSize{20000, 4096, 16384}));
}

TEST(CorrectorOllamaRequest, AskSendsTheChatCallAsOllamaExpectsIt) {
    FakeLlmServer server;
    server.answerWith(QStringLiteral("réponse"));
    const QString user = repeated(u'u', 2000);
    const auto outcome = run(Corrector::ask(QStringLiteral("Tu es un classeur."), user, ollamaSettings(server),
                                            QStringLiteral("llama3.1:8b"), 12000));
    ASSERT_TRUE(outcome.value);
    EXPECT_EQ(*outcome.value, QStringLiteral("réponse"));

    ASSERT_EQ(server.requests().size(), 1);
    const FakeRequest &request = server.requests().first();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, FakeLlmServer::chatPath);
    EXPECT_EQ(request.header("content-type"), "application/json");
    const Json expected = Json::parse(R"({"model": "llama3.1:8b", "stream": false,
        "messages": [{"role": "system", "content": "Tu es un classeur."},
                     {"role": "user", "content": ")" + user.toStdString() + R"("}],
        "options": {"temperature": 0.2, "num_ctx": 12000, "num_predict": 1321, "repeat_penalty": 1.1}})");
    EXPECT_EQ(request.json(), expected); // key order included
}

TEST(CorrectorOllamaRequest, CorrectUsesTheSettingsPromptModelAndDefaultFloor) {
    FakeLlmServer server;
    ParlivoSettings settings = ollamaSettings(server);
    settings.correctionPrompt = QStringLiteral("Corrige.");
    // 30 000 characters on one line: five pieces of 6000.
    const auto outcome = run(Corrector::correct(repeated(u'z', 30000), settings));
    ASSERT_TRUE(outcome.value);
    const auto chats = server.requests(FakeLlmServer::chatPath);
    ASSERT_EQ(chats.size(), 5);
    for (const FakeRequest &chat : chats) {
        EXPECT_EQ(chat.model(), QStringLiteral("qwen2.5:7b"));
        EXPECT_EQ(chat.systemMessage(), QStringLiteral("Corrige."));
        EXPECT_EQ(options(chat)["num_predict"], 3456);
        EXPECT_EQ(options(chat)["num_ctx"], 8192);
    }

    // An empty model name given to ask means the settings' model.
    server.clearRequests();
    run(Corrector::ask(QStringLiteral("s"), QStringLiteral("u"), settings, QString()));
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_EQ(server.requests().first().model(), QStringLiteral("qwen2.5:7b"));
}

TEST(CorrectorOllamaRequest, RepliesWithoutAnAnswerGiveEmptyText) {
    FakeLlmServer server;
    const ParlivoSettings settings = ollamaSettings(server);
    for (const FakeReply &reply : {FakeReply::brokenJson(), FakeReply::raw(200, R"({"message": {"content": 3}})"),
                                   FakeReply::raw(200, R"(["not", "an", "object"])")}) {
        server.enqueue(reply);
        const auto answer = run(Corrector::ask(QStringLiteral("s"), QStringLiteral("u"), settings));
        ASSERT_TRUE(answer.value) << reply.body.toStdString();
        EXPECT_EQ(*answer.value, QString());
    }
    server.enqueue(FakeReply::brokenJson());
    const auto corrected = run(Corrector::correct(QStringLiteral("une dictée bien assez longue pour partir"), settings));
    ASSERT_TRUE(corrected.error);
    EXPECT_EQ(corrected.error->kind(), CorrectionError::Kind::empty);
}

// ---------------------------------------------------------------- Anthropic requests

TEST(CorrectorAnthropic, SendsKeyVersionAndBodyAndJoinsTextBlocks) {
    FakeLlmServer server;
    AnthropicAt at(server.anthropicUrl());
    server.enqueue(FakeReply::raw(200, R"({"content": [{"type": "text", "text": "Texte "},
        {"type": "tool_use", "id": "x"}, {"type": "text", "text": "corrigé."}], "usage": {"input_tokens": 3}})"));
    ParlivoSettings settings = anthropicSettings();
    settings.correctionPrompt = QStringLiteral("Corrige.");
    const QString text = QStringLiteral("texte dicté assez long pour être envoyé au modèle");

    const auto outcome = run(Corrector::correct(text, settings));
    ASSERT_TRUE(outcome.value);
    EXPECT_EQ(*outcome.value, QStringLiteral("Texte corrigé."));

    ASSERT_EQ(server.requests().size(), 1);
    const FakeRequest &request = server.requests().first();
    EXPECT_EQ(request.path, FakeLlmServer::messagesPath);
    EXPECT_EQ(request.header("x-api-key"), "sk-ant-test");
    EXPECT_EQ(request.header("anthropic-version"), "2023-06-01");
    EXPECT_EQ(request.header("content-type"), "application/json");
    const Json expected = {{"model", "claude-haiku-4-5-20251001"},
                           {"max_tokens", 8192},
                           {"system", "Corrige."},
                           {"messages", Json::array({{{"role", "user"}, {"content", text.toStdString()}}})}};
    EXPECT_EQ(request.json(), expected);
}

TEST(CorrectorAnthropic, AskSendsItsOwnSystemText) {
    FakeLlmServer server;
    AnthropicAt at(server.anthropicUrl());
    const auto outcome = run(Corrector::ask(QStringLiteral("Classe."), QStringLiteral("mémo"), anthropicSettings(),
                                            QStringLiteral("ignored-model"), 12000));
    ASSERT_TRUE(outcome.value);
    EXPECT_EQ(*outcome.value, QStringLiteral("mémo"));
    ASSERT_EQ(server.count(FakeLlmServer::messagesPath), 1);
    const FakeRequest request = server.requests().first();
    EXPECT_EQ(request.systemMessage(), QStringLiteral("Classe."));
    EXPECT_EQ(request.model(), QStringLiteral("claude-haiku-4-5-20251001"));
}

TEST(CorrectorAnthropic, StatusesTellADeadBackendFromOneFailedText) {
    FakeLlmServer server;
    AnthropicAt at(server.anthropicUrl());
    const QString text = QStringLiteral("texte dicté assez long pour être envoyé au modèle");

    server.enqueue(FakeReply::error(401, R"({"type":"error","error":{"type":"authentication_error"}})"));
    const auto unauthorized = run(Corrector::correct(text, anthropicSettings()));
    ASSERT_TRUE(unauthorized.error);
    EXPECT_EQ(unauthorized.error->kind(), CorrectionError::Kind::http);
    EXPECT_EQ(unauthorized.error->status(), 401);
    EXPECT_TRUE(unauthorized.error->isBackendDown());
    EXPECT_EQ(unauthorized.error->errorDescription(),
              QStringLiteral(R"(Réponse HTTP 401 : {"type":"error","error":{"type":"authentication_error"}})"));

    // A long error body is cut to its first 300 characters.
    server.enqueue(FakeReply::error(500, QString(400, u'é').toUtf8()));
    const auto overloaded = run(Corrector::correct(text, anthropicSettings()));
    ASSERT_TRUE(overloaded.error);
    EXPECT_EQ(overloaded.error->status(), 500);
    EXPECT_FALSE(overloaded.error->isBackendDown());
    EXPECT_EQ(overloaded.error->detail(), QString(300, u'é'));
}

TEST(CorrectorAnthropic, MissingKeyFailsBeforeAnyRequest) {
    FakeLlmServer server;
    AnthropicAt at(server.anthropicUrl());
    ParlivoSettings settings = anthropicSettings();
    settings.anthropicKey.clear();
    const auto outcome = run(Corrector::ask(QStringLiteral("s"), QStringLiteral("u"), settings));
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->kind(), CorrectionError::Kind::missingKey);
    EXPECT_TRUE(outcome.error->isBackendDown());
    EXPECT_TRUE(server.requests().isEmpty());
}

// ---------------------------------------------------------------- failures

TEST(CorrectorFailures, ServerGoingDownMidTextIsUnreachable) {
    FakeLlmServer server;
    server.enqueue({FakeReply::answer(QStringLiteral("Premier morceau.")), FakeReply::stopServer()});
    const auto outcome = run(Corrector::correct(longDictation(), ollamaSettings(server)));
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->kind(), CorrectionError::Kind::unreachable);
    EXPECT_TRUE(outcome.error->isBackendDown());
    EXPECT_EQ(server.count(FakeLlmServer::chatPath), 2);

    // Down: refused without reaching the server. Back up: answered again.
    const auto refused = run(Corrector::ask(QStringLiteral("s"), QStringLiteral("u"), ollamaSettings(server)));
    ASSERT_TRUE(refused.error);
    EXPECT_EQ(refused.error->kind(), CorrectionError::Kind::unreachable);
    EXPECT_EQ(server.count(FakeLlmServer::chatPath), 2);
    ASSERT_TRUE(server.resume());
    EXPECT_TRUE(run(Corrector::ask(QStringLiteral("s"), QStringLiteral("u"), ollamaSettings(server))).value);
}

TEST(CorrectorFailures, DroppedConnectionAndModelNotFound) {
    FakeLlmServer server;
    const ParlivoSettings settings = ollamaSettings(server);
    // The client resends a request whose connection closed unanswered, so hang up every time.
    server.respondWith([](const FakeRequest &) { return FakeReply::drop(); });
    const auto dropped = run(Corrector::ask(QStringLiteral("s"), QStringLiteral("u"), settings));
    ASSERT_TRUE(dropped.error);
    EXPECT_EQ(dropped.error->kind(), CorrectionError::Kind::unreachable);
    EXPECT_FALSE(dropped.error->detail().isEmpty());

    server.enqueue(FakeReply::error(404, R"({"error":"model \"qwen2.5:7b\" not found, try pulling it first"})"));
    const auto missing = run(Corrector::ask(QStringLiteral("s"), QStringLiteral("u"), settings));
    ASSERT_TRUE(missing.error);
    EXPECT_EQ(missing.error->status(), 404);
    EXPECT_TRUE(missing.error->isBackendDown());

    // 400 is reported by the platform as an operation error, still an HTTP answer.
    server.enqueue(FakeReply::error(400, "bad request"));
    const auto bad = run(Corrector::ask(QStringLiteral("s"), QStringLiteral("u"), settings));
    ASSERT_TRUE(bad.error);
    EXPECT_EQ(bad.error->kind(), CorrectionError::Kind::http);
    EXPECT_EQ(bad.error->status(), 400);
    EXPECT_FALSE(bad.error->isBackendDown());
}

TEST(CorrectorFailures, InvalidEndpointIsUnreachableWithTheEndpointText) {
    ParlivoSettings settings;
    for (const QString &endpoint : {QStringLiteral("pas une adresse"), QStringLiteral(""), QStringLiteral("127.0.0.1:11434")}) {
        settings.ollamaEndpoint = endpoint;
        const auto outcome = run(Corrector::ask(QStringLiteral("s"), QStringLiteral("u"), settings));
        ASSERT_TRUE(outcome.error) << endpoint.toStdString();
        EXPECT_EQ(outcome.error->errorDescription(), QStringLiteral("Service injoignable : ") + endpoint);
    }
}

TEST(CorrectorFailures, ErrorExcerptIsEmptyWhenTheBodyIsNotUtf8) {
    EXPECT_EQ(Corrector::bodyExcerpt(QByteArray("\xff\xfe caf\xe9", 8)), QString());
    EXPECT_EQ(Corrector::bodyExcerpt("Service overloaded"), QStringLiteral("Service overloaded"));
    // Cut at 300 without leaving half a surrogate pair behind.
    const QString emoji = repeated(u'a', 299) + QStringLiteral("😀");
    EXPECT_EQ(Corrector::bodyExcerpt(emoji.toUtf8()), repeated(u'a', 299));
}

// ---------------------------------------------------------------- probe and model list

TEST(CorrectorOllamaProbe, ReachableOnlyOnStatus200) {
    FakeLlmServer server;
    EXPECT_EQ(runTaskFor(Corrector::ollamaReachable(server.endpoint())), true);
    EXPECT_EQ(server.requests().first().method, "GET");
    EXPECT_EQ(server.requests().first().path, FakeLlmServer::tagsPath);

    server.setTagsReply(FakeReply::error(500, "boom"));
    EXPECT_EQ(runTaskFor(Corrector::ollamaReachable(server.endpoint())), false);
    EXPECT_EQ(runTaskFor(Corrector::ollamaReachable(QStringLiteral("pas une adresse"))), false);
    server.stop();
    EXPECT_EQ(runTaskFor(Corrector::ollamaReachable(server.endpoint())), false);
}

TEST(CorrectorOllamaProbe, GivesUpAfterFourSeconds) {
    FakeLlmServer server;
    server.setDelay(10000);
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(runTaskFor(Corrector::ollamaReachable(server.endpoint()), 9000), false);
    EXPECT_GE(clock.elapsed(), 3500);
    EXPECT_LT(clock.elapsed(), 8000);
}

TEST(CorrectorOllamaModels, NamesSkipMalformedEntriesAndFailuresGiveNothing) {
    FakeLlmServer server;
    server.setModels({QStringLiteral("qwen2.5:7b"), QStringLiteral("llama3.1:8b")});
    EXPECT_EQ(runTaskFor(Corrector::ollamaModels(server.endpoint())),
              (QStringList{QStringLiteral("qwen2.5:7b"), QStringLiteral("llama3.1:8b")}));

    // The status is not looked at, only the list.
    server.setTagsReply(FakeReply::raw(503, R"({"models": [{"name": "a:1"}, {"size": 3}, {"name": 7}, "b", {"name": "c"}]})"));
    EXPECT_EQ(runTaskFor(Corrector::ollamaModels(server.endpoint())), (QStringList{"a:1", "c"}));

    server.setTagsReply(FakeReply::brokenJson());
    EXPECT_EQ(runTaskFor(Corrector::ollamaModels(server.endpoint())), QStringList{});
    server.stop();
    EXPECT_EQ(runTaskFor(Corrector::ollamaModels(server.endpoint())), QStringList{});
    EXPECT_EQ(runTaskFor(Corrector::ollamaModels(QStringLiteral("::"))), QStringList{});
}

TEST(CorrectorOllamaModels, ABareNameMatchesItsTaggedForms) {
    const QStringList names{QStringLiteral("qwen2.5:7b"), QStringLiteral("llama3.1:latest")};
    EXPECT_TRUE(Corrector::modelInstalled(names, QStringLiteral("qwen2.5")));
    EXPECT_TRUE(Corrector::modelInstalled(names, QStringLiteral("qwen2.5:7b")));
    EXPECT_FALSE(Corrector::modelInstalled(names, QStringLiteral("qwen2.5:14b")));
    EXPECT_FALSE(Corrector::modelInstalled({}, QStringLiteral("qwen2.5")));
}

// ---------------------------------------------------------------- the stand-in's pull stream

namespace {

// Reads a pull stream line by line as the model download does.
QCoro::Task<QList<QByteArray>> readPull(QString url, bool *failed) {
    QNetworkRequest request{QUrl(url)};
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    QNetworkReply *reply = sharedNetworkManager().post(request, QByteArrayLiteral(R"({"name":"m","stream":true})"));
    QList<QByteArray> lines;
    while (!reply->isFinished() || reply->canReadLine()) {
        if (reply->canReadLine())
            lines.append(reply->readLine().trimmed());
        else
            co_await qCoro(reply).waitForReadyRead(5000);
    }
    *failed = reply->error() != QNetworkReply::NoError;
    reply->deleteLater();
    co_return lines;
}

} // namespace

TEST(FakeLlmServerPull, StreamsLinesAndCanCutOrFail) {
    FakeLlmServer server;
    bool failed = true;
    auto lines = runTaskFor(readPull(server.endpoint() + FakeLlmServer::pullPath, &failed));
    ASSERT_TRUE(lines);
    EXPECT_EQ(*lines, FakeLlmServer::pullSuccessLines());
    EXPECT_FALSE(failed);
    EXPECT_EQ(server.requests().first().json()["name"], "m");

    server.setPullReply(FakeReply::stream(FakeLlmServer::pullSuccessLines(), 2));
    lines = runTaskFor(readPull(server.endpoint() + FakeLlmServer::pullPath, &failed));
    ASSERT_TRUE(lines);
    EXPECT_EQ(lines->size(), 2);
    EXPECT_TRUE(failed);

    server.setPullReply(FakeReply::stream(FakeLlmServer::pullErrorLines(QStringLiteral("file does not exist"))));
    lines = runTaskFor(readPull(server.endpoint() + FakeLlmServer::pullPath, &failed));
    ASSERT_TRUE(lines);
    ASSERT_EQ(lines->size(), 2);
    EXPECT_EQ(parseJson(lines->last())["error"], "file does not exist");
}
