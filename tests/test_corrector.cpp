// The language-model client: which texts are sent, how they are cut and
// cleaned, what goes over the wire and how failures come back, against the
// in-process stand-in server.
#include <QElapsedTimer>

#include "correction/corrector.h"
#include "support/call_outcome.h"
#include "support/fake_llm_server.h"

using namespace testing_support;

namespace {

Outcome<QString> ask(const ParlivoSettings &settings) { return runCall(Corrector::ask("s", "u", settings)); }

ParlivoSettings ollamaSettings(const FakeLlmServer &server) {
    ParlivoSettings settings;
    settings.ollamaEndpoint = server.endpoint();
    return settings;
}

ParlivoSettings anthropicSettings() {
    ParlivoSettings settings;
    settings.correctionBackend = CorrectionBackend::anthropic;
    settings.anthropicKey = "sk-ant-test";
    return settings;
}

const QString dictated = "texte dicté assez long pour être envoyé au modèle";

// Lines of 99 letters: 13 000 characters in 130 lines.
QString longDictation() {
    QStringList lines;
    for (int i = 0; i < 130; ++i) lines.append(QString(99, QChar(u'a' + i % 26)));
    return lines.join('\n').left(13000);
}

} // namespace

TEST(CorrectorUnsent, ShortTextsAndTheBackendNoneComeBackWithoutARequestButAskStillUsesOllama) {
    // Characters are counted after trimming.
    EXPECT_TRUE(Corrector::isTooShortToCorrect("  \n" + QString(29, 'x') + " \n"));
    EXPECT_FALSE(Corrector::isTooShortToCorrect(QString(30, 'x')));
    // 29 letters with combining accents are 58 UTF-16 units but 29 characters.
    const QString decomposed = QStringLiteral("e\u0301").repeated(29);
    EXPECT_TRUE(Corrector::isTooShortToCorrect(decomposed));
    EXPECT_FALSE(Corrector::isTooShortToCorrect(decomposed + "e"));
    EXPECT_EQ(Corrector::graphemeCount(QStringLiteral("😀😀 é")), 4);

    FakeLlmServer server;
    const QString text = "  bonjour à tous  \n\n";
    ParlivoSettings settings = ollamaSettings(server);
    settings.anthropicKey = "sk";
    for (CorrectionBackend backend : {CorrectionBackend::ollama, CorrectionBackend::anthropic}) {
        settings.correctionBackend = backend;
        EXPECT_EQ(runCall(Corrector::correct(text, settings)).value, text);
    }
    settings.correctionBackend = CorrectionBackend::none;
    const QString longer = "une dictée assez longue pour être corrigée normalement\n";
    EXPECT_EQ(runCall(Corrector::correct(longer, settings)).value, longer);
    EXPECT_TRUE(server.requests().isEmpty());
    server.answerWith("Voici la réponse :\nbrute");
    EXPECT_EQ(ask(settings).value, "Voici la réponse :\nbrute"); // raw: no preamble stripping
    EXPECT_EQ(server.count(FakeLlmServer::chatPath), 1);
}

TEST(RepliesPure, ACorrectionIsCloseInLengthAndMadeOfTheTextsWords) {
    // A refusal or a bare "OK" must never become the transcript.
    const QString spoken = "bon alors je voulais te dire que la réunion de demain est déplacée à jeudi matin";
    // 10 words: 39 characters. 0.4 × 39 = 15.6 and 2 × 39 = 78.
    const QString words = "mot mot mot mot mot mot mot mot mot mot";
    const QString chat = "le chat dort sur le canapé du salon ce matin";
    const struct {
        QString text, answer;
        bool plausible;
    } cases[] = {
        {spoken, "Bon, alors je voulais te dire que la réunion de demain est déplacée à jeudi matin.", true},
        // Accents and capitals put right are still the same words.
        {"la reunion est deplacee a jeudi parce que le client est malade",
         "La réunion est déplacée à jeudi, parce que le client est malade.", true},
        {spoken, "OK", false},
        {spoken, "Je suis désolé, je ne peux pas corriger ce texte.", false},
        {spoken, "I'm sorry, but I cannot help with correcting this text today.", false},
        {words, "mot mot mot mot", false}, // 15 characters
        {words, "mot mot mot mot.", true}, // 16
        {words, QString("mot ").repeated(18) + "mot", true},  // 75
        {words, QString("mot ").repeated(19) + "mot", false}, // 79
        // Distinct words of the answer found in the text: 4 of 10 is too few, 8 of 9 is enough.
        {chat, "Le chien mange dans la cuisine du salon ce soir.", false},
        {chat, "Le chat dort sur le canapé du salon, ce soir.", true},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Corrector::isPlausibleCorrection(c.text, c.answer), c.plausible) << c.answer.toStdString();
}

TEST(CorrectorChunks, CutAtLineBreaksAndCutLongLinesWithoutLosingText) {
    using Corrector::splitIntoChunks;
    const QString exact(6000, 'a');
    EXPECT_EQ(splitIntoChunks(exact), QStringList{exact});
    EXPECT_EQ(splitIntoChunks(QString(6001, 'b')), (QStringList{QString(6000, 'b'), "b"}));
    // A long line after a short one: the short one is closed first, the long one cut in 6000s.
    EXPECT_EQ(splitIntoChunks("intro\n" + QString(13000, 'x')),
              (QStringList{"intro", QString(6000, 'x'), QString(6000, 'x'), QString(1000, 'x')}));
    // An empty line falling on a fresh chunk vanishes instead of making an empty one.
    EXPECT_EQ(splitIntoChunks(exact + "\n\n" + QString(10, 'b')), (QStringList{exact, QString(10, 'b')}));
    // A character outside the basic plane is never split.
    EXPECT_EQ(splitIntoChunks(QString(5999, 'a') + "😀b"), (QStringList{QString(5999, 'a'), "😀b"}));

    const QString text = longDictation();
    const QStringList chunks = splitIntoChunks(text);
    ASSERT_EQ(chunks.size(), 3);
    EXPECT_EQ(chunks[0].size(), 5999);
    EXPECT_EQ(chunks.join('\n'), text);
}

TEST(CorrectorChunks, SentOneAfterAnotherInOrderAndJoinedUnlessOneIsEmpty) {
    FakeLlmServer server;
    server.echo([](const QString &user) { return "Voici le texte corrigé :\n\n" + user.toUpper(); });
    server.setDelay(40); // overlapping requests would show in peakConcurrent
    const QString text = longDictation();
    const auto outcome = runCall(Corrector::correct(text, ollamaSettings(server)));
    const QStringList chunks = Corrector::splitIntoChunks(text);
    const auto chats = server.requests(FakeLlmServer::chatPath);
    ASSERT_EQ(chats.size(), 3);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(chats[i].userMessage(), chunks[i]) << "chunk " << i;
    EXPECT_EQ(server.peakConcurrent(), 1);
    EXPECT_EQ(outcome.value, chunks.join("\n\n").toUpper());

    // An answer of nothing but preamble fails the text and stops the sending.
    server.clearRequests();
    server.enqueue({FakeReply::answer(chunks[0].toUpper()), FakeReply::answer("Voici le texte corrigé :\n"),
                    FakeReply::answer(chunks[2].toUpper())});
    const auto failed = runCall(Corrector::correct(text, ollamaSettings(server)));
    ASSERT_TRUE(failed.error);
    EXPECT_EQ(failed.error->errorDescription(), "Réponse vide du modèle");
    EXPECT_FALSE(failed.error->isBackendDown());
    EXPECT_EQ(server.count(FakeLlmServer::chatPath), 2);
}

TEST(CorrectorPreamble, RemovesIntroductionsHeadingsAndFencesButNotTheDictation) {
    using Corrector::stripPreamble;
    EXPECT_EQ(stripPreamble("Voici le texte corrigé :\n\nOn part demain.\n"), "On part demain.");
    EXPECT_EQ(stripPreamble("BIEN SÛR ! Voici la version propre :\nOn part."), "On part.");
    EXPECT_EQ(stripPreamble("Here is the corrected text:\nHello."), "Hello.");
    EXPECT_EQ(stripPreamble("Le texte final\n\nOn part."), "On part.");
    EXPECT_EQ(stripPreamble("D'accord, voici :\n```text\nLigne un.\nLigne deux.\n```\n"), "Ligne un.\nLigne deux.");
    for (const char *chatter : {"Voici le texte corrigé :", "```\n```", "```python\n```", "Texte nettoyé :", "  \n "})
        EXPECT_EQ(stripPreamble(chatter), QString()) << chatter;

    for (const QString &kept : {QString("Voici mon idée pour demain.\nOn part tôt : vers six heures."),
                                QString("Il a dit voici la liste :\ndu pain"),
                                // a colon further than 100 characters away is not an introduction
                                "Voici " + QString(120, 'x') + " :\nsuite"})
        EXPECT_EQ(stripPreamble(kept), kept);
}

TEST(CorrectorOllamaRequest, SizesFollowTheTextLength) {
    using Corrector::OllamaSize;
    EXPECT_EQ(Corrector::ollamaSize(2000), (OllamaSize{666, 1321, 8192}));
    EXPECT_EQ(Corrector::ollamaSize(6000, 12000), (OllamaSize{2000, 3456, 12000}));
    EXPECT_EQ(Corrector::ollamaSize(100), (OllamaSize{64, 358, 8192}));
    EXPECT_EQ(Corrector::ollamaSize(60000), (OllamaSize{20000, 4096, 16384}));
}

TEST(CorrectorOllamaRequest, TheChatCallAsOllamaExpectsItWithTheSettingsPromptAndModelAndRepliesWithoutAnAnswer) {
    FakeLlmServer server;
    server.answerWith("réponse");
    ParlivoSettings settings = ollamaSettings(server);
    const QString user(2000, 'u');
    EXPECT_EQ(runCall(Corrector::ask("Tu es un classeur.", user, settings, QString("llama3.1:8b"), 12000)).value,
              "réponse");
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

    settings.correctionPrompt = "Corrige.";
    server.echo();
    ASSERT_TRUE(runCall(Corrector::correct(dictated, settings)).value);
    EXPECT_EQ(server.requests().last().systemMessage(), "Corrige.");
    EXPECT_EQ(server.requests().last().model(), "qwen2.5:7b");
    // An empty model name given to ask means the settings' model.
    runCall(Corrector::ask("s", "u", settings, QString()));
    EXPECT_EQ(server.requests().last().model(), "qwen2.5:7b");

    // Replies without an answer are unreadable.
    for (const FakeReply &reply : {FakeReply::brokenJson(), FakeReply::raw(200, R"({"message": {"content": 3}})"),
                                   FakeReply::raw(200, R"(["not", "an", "object"])")}) {
        server.enqueue(reply);
        const auto asked = ask(settings);
        ASSERT_TRUE(asked.error) << reply.body.toStdString();
        EXPECT_EQ(asked.error->kind(), CorrectionError::Kind::unreadable);
    }
    server.enqueue(FakeReply::raw(200, "<html>proxy</html>"));
    const auto corrected = runCall(Corrector::correct(dictated, settings));
    ASSERT_TRUE(corrected.error);
    EXPECT_EQ(corrected.error->errorDescription(), "Réponse illisible du modèle");
    EXPECT_FALSE(corrected.error->isBackendDown());
}

TEST(CorrectorAnthropic, SendsKeyVersionAndBodyJoinsTextBlocksAndTellsADeadBackendFromAFailedText) {
    FakeLlmServer server;
    ScopedEnv at{{"PARLIVO_ANTHROPIC_URL", server.anthropicUrl()}};
    server.enqueue(FakeReply::raw(200, R"({"content": [{"type": "text", "text": "Texte dicté assez long "},
        {"type": "tool_use", "id": "x"}, {"type": "text", "text": "pour être envoyé au modèle."}],
        "usage": {"input_tokens": 3}})"));
    ParlivoSettings settings = anthropicSettings();
    settings.correctionPrompt = "Corrige.";
    EXPECT_EQ(runCall(Corrector::correct(dictated, settings)).value, "Texte dicté assez long pour être envoyé au modèle.");

    ASSERT_EQ(server.requests().size(), 1);
    const FakeRequest &request = server.requests().first();
    EXPECT_EQ(request.path, FakeLlmServer::messagesPath);
    EXPECT_EQ(request.header("x-api-key"), "sk-ant-test");
    EXPECT_EQ(request.header("anthropic-version"), "2023-06-01");
    EXPECT_EQ(request.header("content-type"), "application/json");
    const Json expected = {{"model", "claude-haiku-4-5-20251001"},
                           {"max_tokens", 8192},
                           {"system", "Corrige."},
                           {"messages", Json::array({{{"role", "user"}, {"content", dictated.toStdString()}}})}};
    EXPECT_EQ(request.json(), expected);

    // ask sends its own system text and ignores the Ollama model it is given.
    runCall(Corrector::ask("Classe.", "mémo", settings, QString("ignored-model"), 12000));
    EXPECT_EQ(server.requests().last().systemMessage(), "Classe.");
    EXPECT_EQ(server.requests().last().model(), "claude-haiku-4-5-20251001");

    server.enqueue(FakeReply::raw(200, R"({"content": "pas une liste"})"));
    EXPECT_EQ(runCall(Corrector::correct(dictated, settings)).error->kind(), CorrectionError::Kind::unreadable);

    // Statuses tell a dead backend from one failed text; a missing key sends nothing.
    server.enqueue(FakeReply::error(401, R"({"type":"error"})"));
    const auto unauthorized = runCall(Corrector::correct(dictated, anthropicSettings()));
    ASSERT_TRUE(unauthorized.error);
    EXPECT_TRUE(unauthorized.error->isBackendDown());
    EXPECT_EQ(unauthorized.error->errorDescription(), R"(Réponse HTTP 401 : {"type":"error"})");

    // A long error body is cut to its first 300 characters.
    server.enqueue(FakeReply::error(500, QString(400, u'é').toUtf8()));
    const auto overloaded = runCall(Corrector::correct(dictated, anthropicSettings()));
    ASSERT_TRUE(overloaded.error);
    EXPECT_EQ(overloaded.error->status(), 500);
    EXPECT_FALSE(overloaded.error->isBackendDown());
    EXPECT_EQ(overloaded.error->detail(), QString(300, u'é'));

    server.clearRequests();
    ParlivoSettings noKey = anthropicSettings();
    noKey.anthropicKey.clear();
    const auto missing = ask(noKey);
    ASSERT_TRUE(missing.error);
    EXPECT_EQ(missing.error->kind(), CorrectionError::Kind::missingKey);
    EXPECT_TRUE(missing.error->isBackendDown());
    EXPECT_TRUE(server.requests().isEmpty());
}

TEST(CorrectorFailures, ServerDownDroppedConnectionModelNotFoundBadRequestAndInvalidEndpoints) {
    FakeLlmServer server;
    server.enqueue({FakeReply::answer(Corrector::splitIntoChunks(longDictation())[0].toUpper()), FakeReply::stopServer()});
    const auto outcome = runCall(Corrector::correct(longDictation(), ollamaSettings(server)));
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->kind(), CorrectionError::Kind::unreachable);
    EXPECT_TRUE(outcome.error->isBackendDown());
    // Down: refused without reaching the server. Back up: answered again.
    ASSERT_TRUE(ask(ollamaSettings(server)).error);
    EXPECT_EQ(server.count(FakeLlmServer::chatPath), 2);
    ASSERT_TRUE(server.resume());
    EXPECT_TRUE(ask(ollamaSettings(server)).value);

    const ParlivoSettings settings = ollamaSettings(server);
    // The client resends a request whose connection closed unanswered, so hang up every time.
    server.respondWith([](const FakeRequest &) { return FakeReply::drop(); });
    const auto dropped = ask(settings);
    ASSERT_TRUE(dropped.error);
    EXPECT_EQ(dropped.error->kind(), CorrectionError::Kind::unreachable);
    EXPECT_FALSE(dropped.error->detail().isEmpty());

    server.enqueue(FakeReply::error(404, R"({"error":"model \"qwen2.5:7b\" not found"})"));
    const auto missing = ask(settings);
    ASSERT_TRUE(missing.error);
    EXPECT_EQ(missing.error->status(), 404);
    EXPECT_TRUE(missing.error->isBackendDown());

    // 400 is reported by the platform as an operation error, still an HTTP answer.
    server.enqueue(FakeReply::error(400, "bad request"));
    const auto bad = ask(settings);
    ASSERT_TRUE(bad.error);
    EXPECT_EQ(bad.error->kind(), CorrectionError::Kind::http);
    EXPECT_EQ(bad.error->status(), 400);
    EXPECT_FALSE(bad.error->isBackendDown());

    // Invalid endpoints, and bodies that cannot be decoded.
    for (const QString &endpoint : {QString("pas une adresse"), QString("127.0.0.1:11434")}) {
        ParlivoSettings invalid;
        invalid.ollamaEndpoint = endpoint;
        const auto outcome = ask(invalid);
        ASSERT_TRUE(outcome.error) << endpoint.toStdString();
        EXPECT_EQ(outcome.error->errorDescription(), "Service injoignable : " + endpoint);
    }
    EXPECT_EQ(Corrector::bodyExcerpt(QByteArray("\xff\xfe caf\xe9", 8)), QString());
    // Cut at 300 without leaving half a surrogate pair behind.
    EXPECT_EQ(Corrector::bodyExcerpt((QString(299, 'a') + "😀").toUtf8()), QString(299, 'a'));
}

TEST(CorrectorOllamaLookups, ReachableOnlyOnStatus200AndModelNamesSkipMalformedEntries) {
    FakeLlmServer server;
    EXPECT_EQ(runTaskFor(Corrector::ollamaReachable(server.endpoint())), true);
    EXPECT_EQ(server.requests().first().method, "GET");
    EXPECT_EQ(server.requests().first().path, FakeLlmServer::tagsPath);
    server.setTagsReply(FakeReply::error(500, "boom"));
    EXPECT_EQ(runTaskFor(Corrector::ollamaReachable(server.endpoint())), false);
    EXPECT_EQ(runTaskFor(Corrector::ollamaReachable("pas une adresse")), false);
    server.setTagsReply(std::nullopt);
    server.setModels({"qwen2.5:7b", "llama3.1:8b"});
    EXPECT_EQ(runTaskFor(Corrector::ollamaModels(server.endpoint())), (QStringList{"qwen2.5:7b", "llama3.1:8b"}));
    // The status is not looked at, only the list.
    server.setTagsReply(FakeReply::raw(503, R"({"models": [{"name": "a:1"}, {"size": 3}, {"name": 7}, "b", {"name": "c"}]})"));
    EXPECT_EQ(runTaskFor(Corrector::ollamaModels(server.endpoint())), (QStringList{"a:1", "c"}));
    server.setTagsReply(FakeReply::brokenJson());
    EXPECT_EQ(runTaskFor(Corrector::ollamaModels(server.endpoint())), QStringList{});
    // The probe gives up after four seconds.
    server.setDelay(10000);
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(runTaskFor(Corrector::ollamaReachable(server.endpoint()), 9000), false);
    EXPECT_GE(clock.elapsed(), 3500);
    EXPECT_LT(clock.elapsed(), 8000);
    server.stop();
    EXPECT_EQ(runTaskFor(Corrector::ollamaModels(server.endpoint())), QStringList{});
    EXPECT_EQ(runTaskFor(Corrector::ollamaReachable(server.endpoint())), false);

    const QStringList names{"qwen2.5:7b", "llama3.1:latest"};
    EXPECT_TRUE(Corrector::modelInstalled(names, "qwen2.5"));
    EXPECT_TRUE(Corrector::modelInstalled(names, "qwen2.5:7b"));
    EXPECT_FALSE(Corrector::modelInstalled(names, "qwen2.5:14b"));
}
