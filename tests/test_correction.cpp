// Correction by a language model. The client: which texts are sent, how
// they are cut and cleaned, what goes over the wire and how failures come
// back. Then which transcripts count as raw and how one is rewritten; the pass
// over the output root and the correction inside a batch (real ffmpeg, the
// stand-in recogniser and the stand-in language-model server), also when the
// server goes away, answers nonsense or is cancelled mid-request; and
// parlivo-cli correct and run.
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSignalSpy>

#include "core/folders.h"
#include "correction/corrector.h"
#include "correction/raw_transcripts.h"
#include "support/call_outcome.h"
#include "support/cli_fixture.h"
#include "support/correction_test_support.h"

using namespace testing_support;
using namespace std::chrono_literals;

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

// ---- Raw transcripts, the pass and the batch ----

QString withMarker(const QString &marker) {
    return "---\nsource: a.m4a\n" + marker + "\n---\n\n# Mémo\n\nTexte.\n";
}

TEST(RawTranscripts, OnlyALineSayingExactlyAucuneMarksARawTranscriptWhoseBodyIsTheTextUnderTheHeading) {
    EXPECT_TRUE(isRawTranscript(withMarker("correction:   aucune  ")));
    for (const char *other : {"correction: Ollama (local) (qwen2.5:7b)", "Correction: aucune", "correction: aucune retouche",
                              "Le mot correction: aucune au milieu d'une phrase."})
        EXPECT_FALSE(isRawTranscript(withMarker(other))) << other;

    // The body is the text under the heading, without an earlier raw section.
    EXPECT_EQ(correctionBody("---\ncorrection: aucune\n---\n\n# Mémo vocal\n\n  Le texte corrigé.\n\n"
                             "## Transcription brute\n\nle texte brut\n"),
              "Le texte corrigé.");
    for (const char *unusable : {"correction: aucune\nPas de titre ici.\n", "# Titre\n\n  \n## Transcription brute\n\nbrut\n",
                                 "# Titre sans retour à la ligne"})
        EXPECT_EQ(correctionBody(unusable), std::nullopt) << unusable;
}

TEST(RawTranscripts, TheRewriteNamesTheModelKeepsExactlyOneRawSectionAndThePlainTextsHeader) {
    ParlivoSettings settings;
    EXPECT_EQ(passCorrectionLabel(settings), "Ollama (qwen2.5:7b)");
    settings.correctionBackend = CorrectionBackend::anthropic;
    EXPECT_EQ(passCorrectionLabel(settings), "Anthropic (claude-haiku-4-5-20251001)");

    // The label is taken literally, never as a replacement pattern.
    EXPECT_EQ(correctedMarkdown("---\ncorrection: aucune\n---\n\n# Mémo vocal\n\nvieux texte\n\n"
                                "## Transcription brute\n\nle brut\n",
                                "Ollama (qwen$1:\\1)", "le brut", "Le texte propre."),
              "---\ncorrection: Ollama (qwen$1:\\1)\n---\n\n# Mémo vocal\n\nLe texte propre.\n\n"
              "## Transcription brute\n\nle brut\n");

    // Without a heading only the marker changes.
    EXPECT_EQ(correctedMarkdown("correction: aucune\ntexte\n", "Ollama (m)", "texte", "Texte."),
              "correction: Ollama (m)\ntexte\n");

    // The plain text keeps its header and takes the corrected text alone.
    const QString header = "Mémo vocal du 5 décembre 2026 à 14h07\nSource : a.m4a\n" + QString(56, '=') + "\n\n";
    EXPECT_EQ(correctedPlainText(header + "texte brut\n", "Texte propre."), header + "Texte propre.\n");
    EXPECT_EQ(correctedPlainText("=== trop court\n\ntexte brut\n", "Texte propre."), "Texte propre.\n");
}

TEST(RawTranscripts, TheWalkFindsRawMarkdownOnlyShortestFirstAndSkipsHiddenItems) {
    TempHome home;
    const QString root = home.file("out");
    const QString longest = writeRawTranscript(root, "b", dictation("B", 500));
    const QString shortest = writeRawTranscript(root + "/2024", "a", dictation("A", 40));
    const QString middle = writeRawTranscript(root + "/2025/mars", "c", dictation("C", 200));
    writeRawTranscript(root + "/.cache", "d", dictation("D", 10));
    writeRawTranscript(root, ".e", dictation("E", 10));
    writeFile(root + "/f.md", withMarker("correction: Ollama (local) (qwen2.5:7b)").toUtf8());
    writeFile(root + "/g.txt", withMarker("correction: aucune").toUtf8());
    writeFile(root + "/h.MD", withMarker("correction: aucune").toUtf8() + QByteArray(2000, 'x'));
    writeFile(root + "/i.md", QByteArray("correction: aucune\n\xff\xfe broken"));

    EXPECT_EQ(rawTranscripts(root), (QStringList{shortest, middle, longest, root + "/h.MD"}));
    EXPECT_TRUE(rawTranscripts(home.file("nowhere")).isEmpty());
}

class CorrectionPass : public CorrectionFixture {
protected:
    // What the window does once it is up; the monitor is not under test here.
    void launchWork() {
        engine->startBackgroundWork();
        engine->stopOllamaMonitor();
        ASSERT_TRUE(spinUntil([&] { return engine->didConsiderAutoCorrect(); }));
    }
    bool runPass() {
        engine->startCorrectionPass();
        return runTask(engine->waitForCorrectionPass(), 20000);
    }
    QStringList sentTexts() const {
        QStringList texts;
        for (const FakeRequest &r : server.requests(FakeLlmServer::chatPath)) texts << r.userMessage();
        return texts;
    }
    static int storedJobTotal() { return folders::preferences()->value("correctionJobTotal", -1).toInt(); }
};

TEST_F(CorrectionPass, CorrectsShortestFirstAndRewritesBothFilesButNotTheArchiveCopies) {
    writeRawTranscript(out, "a", dictation("A", 500));
    const QString b = writeRawTranscript(out + "/sous", "b", dictation("B", 40));
    writeRawTranscript(out, "c", dictation("C", 200));
    // The organized archive's copies are left alone.
    const QString copy = writeRawTranscript(out + "/Archive organisée/Vie pro/Projet/2026-12-05 14h07 - D", "d",
                                            dictation("D", 60));
    const QByteArray copyBefore = *readWholeFile(copy);
    server.echo([](const QString &text) { return "Voici le texte corrigé :\n\n" + text.toUpper(); });
    int highestJobTotal = 0;
    std::optional<RateEstimate> atFirstFile;
    QObject::connect(engine.get(), &Transcriber::correctionChanged, [&] {
        highestJobTotal = std::max(highestJobTotal, engine->correctionJobTotal());
        if (engine->correctionPassDone() == 1 && !atFirstFile && engine->correctionStartedAt())
            atFirstFile = engine->correctionLiveStats(engine->correctionStartedAt()->addSecs(30));
    });
    EXPECT_FALSE(engine->correctionLiveStats().eta);
    QSignalSpy notified(engine.get(), &Transcriber::notificationPosted);

    ASSERT_TRUE(runPass());
    ASSERT_GE(notified.size(), 1);
    EXPECT_EQ(notified[0][0].toString(), "Correction terminée");
    EXPECT_EQ(notified[0][1].toString(), "3 transcription(s) corrigée(s) par l'IA.");
    EXPECT_EQ(sentTexts(), (QStringList{dictation("B", 40), dictation("C", 200), dictation("A", 500)}));
    EXPECT_EQ(engine->correctionPassDone(), 3);
    EXPECT_FALSE(engine->correctionPassActive() || engine->correctionStartedAt() || engine->correctionPassCurrent());
    EXPECT_TRUE(logHas("Correction IA de 3 transcription(s) brute(s)…"));
    EXPECT_TRUE(logHas("Correction IA terminée : 3/3."));

    const QString md = readText(b);
    EXPECT_TRUE(md.contains("\ncorrection: Ollama (qwen2.5:7b)\n"));
    EXPECT_TRUE(md.endsWith("14h07\n\n" + dictation("B", 40).toUpper() + "\n\n## Transcription brute\n\n" +
                            dictation("B", 40) + "\n"));
    const QString txt = readText(out + "/sous/b.txt");
    EXPECT_TRUE(txt.startsWith("Mémo vocal du 5 décembre 2026 à 14h07  (durée 0:05)\nSource : b.m4a\n"));
    EXPECT_TRUE(txt.endsWith("=\n\n" + dictation("B", 40).toUpper() + "\n"));
    EXPECT_EQ(rawTranscripts(out), QStringList{copy});
    EXPECT_EQ(*readWholeFile(copy), copyBefore);
    EXPECT_TRUE(spinUntil([&] { return engine->rawCount() == 0; }));

    // The high-water mark rose to the pass total and went back to 0, stored.
    EXPECT_EQ(highestJobTotal, 3);
    EXPECT_EQ(engine->correctionJobTotal(), 0);
    EXPECT_EQ(storedJobTotal(), 0);

    // Live figures followed the files done: one file in 30 s, two left.
    ASSERT_TRUE(atFirstFile && atFirstFile->eta);
    EXPECT_DOUBLE_EQ(atFirstFile->ratePerMin, 2.0);
    EXPECT_DOUBLE_EQ(*atFirstFile->eta, 60.0);
    EXPECT_EQ(engine->correctionLiveStats().ratePerMin, 0); // the pass is over
}

TEST_F(CorrectionPass, AFileThatFailsIsRetriedInTheNextCycleWhileEachCycleFixesOne) {
    writeRawTranscript(out, "a", dictation("A", 40));
    writeRawTranscript(out, "b", dictation("B", 80));
    server.enqueue(FakeReply::error(500, "surcharge"));
    ASSERT_TRUE(runPass());
    EXPECT_TRUE(logHas("Correction échouée : a.md"));
    EXPECT_TRUE(logHas("Nouveau tour : 1 transcription(s) brute(s) restante(s)."));
    EXPECT_TRUE(logHas("Correction IA terminée : 2/2."));
    EXPECT_EQ(engine->correctionPassTotal(), 3);
    EXPECT_TRUE(rawTranscripts(out).isEmpty());
}

TEST_F(CorrectionPass, ACycleWhereEverythingFailsEndsThePassAndLeavesTheFilesRaw) {
    const QString a = writeRawTranscript(out, "a", dictation("A", 40));
    writeRawTranscript(out, "b", dictation("B", 80));
    // Unusable files count as attempted, without a request.
    writeFile(out + "/sans-titre.md", "---\ncorrection: aucune\n---\n\nPas de titre.\n");
    writeFile(out + "/vide.md", "---\ncorrection: aucune\n---\n\n# Mémo\n\n   \n");
    const QString before = readText(a);
    server.failWith(500, "panne");
    ASSERT_TRUE(runPass());
    EXPECT_EQ(engine->correctionPassDone(), 4);
    EXPECT_EQ(engine->correctionPassTotal(), 4);
    EXPECT_EQ(server.count(FakeLlmServer::chatPath), 2);
    EXPECT_TRUE(logHas("Correction IA terminée : 0/4."));
    EXPECT_EQ(readText(a), before);
    // Files are left raw: the high-water mark stays for the window.
    EXPECT_EQ(engine->correctionJobTotal(), 4);
    EXPECT_EQ(storedJobTotal(), 4);
    EXPECT_TRUE(spinUntil([&] { return engine->rawCount() == 4; }));
}

TEST_F(CorrectionPass, EarlyExitsLogWhyAndLeaveThePassIdle) {
    // Nothing raw: the stored high-water mark is cleared.
    folders::preferences()->setValue("correctionJobTotal", 7);
    relaunch();
    prepareEngine();
    EXPECT_EQ(engine->correctionJobTotal(), 7);
    ASSERT_TRUE(runPass());
    EXPECT_TRUE(logHas("Aucune transcription brute à corriger."));
    EXPECT_EQ(storedJobTotal(), 0);

    // The server down and nothing to start: files untouched.
    const QString a = writeRawTranscript(out, "a", dictation("A", 40));
    server.stop();
    ASSERT_TRUE(runPass());
    EXPECT_TRUE(logHas("Ollama injoignable, démarrage automatique…"));
    EXPECT_TRUE(logHas("Ollama indisponible : correction impossible."));
    EXPECT_EQ(engine->lastCorrectionPassEnd(), Transcriber::CorrectionPassEnd::backendUnavailable);
    EXPECT_TRUE(isRawTranscript(readText(a)));
    server.resume();

    // No output root.
    updateSettings([](ParlivoSettings &s) { s.destinationMode = DestinationMode::besideSource; });
    ASSERT_TRUE(runPass());
    EXPECT_TRUE(logHas("Dossier de sortie inconnu."));
    engine->refreshRawCount();
    EXPECT_EQ(engine->rawCount(), 0);
}

TEST_F(CorrectionPass, APassThatCorrectedNothingSaysSo) {
    writeRawTranscript(out, "ancien", dictation("Ancien", 80));
    server.answerWith("OK"); // not a correction of the text
    ASSERT_TRUE(runPass());
    EXPECT_TRUE(logHas("Correction échouée : ancien.md"));
    EXPECT_TRUE(logHas("Correction IA terminée : 0/1."));
    EXPECT_TRUE(isRawTranscript(readText(out + "/ancien.md")));
}

TEST_F(CorrectionPass, TheCountAtLaunchStartsThePassOnce) {
    writeRawTranscript(out, "a", dictation("A", 40));
    writeRawTranscript(out, "b", dictation("B", 60));
    engine->refreshRawCount(); // an ordinary count only counts
    EXPECT_EQ(engine->rawCount(), 0); // counted off the main thread: not yet
    ASSERT_TRUE(spinUntil([&] { return engine->rawCount() == 2; }));
    spin(50);
    EXPECT_FALSE(engine->correctionPassActive());

    launchWork();
    EXPECT_TRUE(engine->correctionPassActive());
    ASSERT_TRUE(runTask(engine->waitForCorrectionPass()));
    EXPECT_EQ(server.count(FakeLlmServer::chatPath), 2);
    EXPECT_TRUE(spinUntil([&] { return engine->rawCount() == 0; }));

    // Later counts only count.
    writeRawTranscript(out, "c", dictation("C", 60));
    engine->refreshRawCount();
    ASSERT_TRUE(spinUntil([&] { return engine->rawCount() == 1; }));
    spin(100);
    EXPECT_FALSE(engine->correctionPassActive());
    EXPECT_EQ(server.count(FakeLlmServer::chatPath), 2);
}

TEST_F(CorrectionPass, TheCountAtLaunchStartsNothingWithAnotherBackend) {
    writeRawTranscript(out, "a", dictation("A", 40));
    updateSettings([](ParlivoSettings &s) { s.correctionBackend = CorrectionBackend::anthropic; });
    launchWork();
    EXPECT_EQ(engine->rawCount(), 1);
    spin(100);
    EXPECT_FALSE(engine->correctionPassActive());
    EXPECT_EQ(server.count(FakeLlmServer::chatPath), 0);
}

TEST_F(CorrectionPass, ServiceNoneStartsNoPassAndLabelsNothing) {
    updateSettings([](ParlivoSettings &s) {
        s.correctionBackend = CorrectionBackend::none;
        s.outputFormat = OutputFormat::md;
    });
    makeAudio(src + "/a.m4a", 1.2);
    chooseSource();
    ASSERT_TRUE(runQueue());
    ASSERT_EQ(engine->doneCount(), 1);
    spin(200); // whatever the end of the run would start
    EXPECT_FALSE(engine->correctionPassActive());
    EXPECT_FALSE(logHas("Correction IA"));

    engine->startCorrectionPass(); // asked for by hand
    EXPECT_FALSE(engine->correctionPassActive());
    EXPECT_TRUE(logHas("Aucun service de correction choisi : les transcriptions restent brutes."));
    EXPECT_EQ(engine->lastCorrectionPassEnd(), Transcriber::CorrectionPassEnd::noService);
    const QString md = readText(out + "/a.md");
    EXPECT_TRUE(md.contains("\ncorrection: aucune\n")) << md.toStdString();
    EXPECT_EQ(md.count("## Transcription brute"), 0);
    EXPECT_EQ(server.count(FakeLlmServer::chatPath), 0);
}

TEST_F(CorrectionPass, CancelCutsTheRequestInFlightOrStopsBetweenTwoFilesAndLeavesTheRestRaw) {
    const QString memo = writeRawTranscript(out, "a", dictation("A", 60));
    const QByteArray before = *readWholeFile(memo);
    server.enqueue(FakeReply::answer("Trop tard.").delayed(20000));

    engine->startCorrectionPass();
    ASSERT_TRUE(spinUntil([&] { return server.count(FakeLlmServer::chatPath) == 1; }));
    QElapsedTimer sinceCancel;
    sinceCancel.start();
    engine->cancelCorrectionPass();
    ASSERT_TRUE(runTask(engine->waitForCorrectionPass(), 5000)) << "the pass waited for the model";
    EXPECT_LT(sinceCancel.elapsed(), 2000);
    EXPECT_EQ(engine->lastCorrectionPassEnd(), Transcriber::CorrectionPassEnd::cancelled);
    EXPECT_EQ(engine->correctionPassDone(), 0);
    EXPECT_FALSE(logHas("Correction échouée"));
    EXPECT_TRUE(logHas("Correction IA terminée : 0/1."));
    EXPECT_EQ(*readWholeFile(memo), before);
    EXPECT_TRUE(spinUntil([&] { return engine->rawCount() == 1; }));

    // Cancelled between two files, the pass stops without notice.
    for (const char *name : {"b", "c"}) writeRawTranscript(out, name, dictation(name, 60));
    server.setDelay(50);
    QObject::connect(engine.get(), &Transcriber::correctionChanged, [&] {
        if (engine->correctionPassDone() == 1) engine->cancelCorrectionPass();
    });
    ASSERT_TRUE(runPass());
    EXPECT_EQ(engine->correctionPassDone(), 1);
    EXPECT_EQ(engine->lastCorrectionPassEnd(), Transcriber::CorrectionPassEnd::cancelled);
    EXPECT_TRUE(logHas("Correction IA terminée : 1/3."));
    EXPECT_EQ(rawTranscripts(out).size(), 2);
}

// What the stand-in recogniser hears in every file: one line of `length` characters.
QString heardText(int length) { return dictation(QStringLiteral("Réunion"), length); }

class CorrectionStage : public CorrectionFixture {
protected:
    std::optional<ScopedEnv> segments;

    void SetUp() override {
        CorrectionFixture::SetUp();
        hear(heardText(120));
        updateSettings([&](ParlivoSettings &s) { s.outputFormat = OutputFormat::both; });
    }
    void hear(const QString &text) {
        segments.reset();
        segments.emplace("FAKE_WHISPER_SEGMENTS", QString::fromStdString(Json::array({utf8(text)}).dump()));
    }
    void record(const QStringList &names) {
        for (const QString &name : names) makeAudio(src + "/" + name + ".m4a", 1.2);
        chooseSource();
    }
    QString md(const QString &name) const { return readText(out + "/" + name + ".md"); }
    QString txt(const QString &name) const { return readText(out + "/" + name + ".txt"); }
    // Log lines up to the end of the batch, before anything it chains.
    QStringList batchLog() const {
        QStringList lines;
        for (const QString &line : engine->logLines()) {
            lines << line;
            if (line.contains("Lot terminé")) break;
        }
        return lines;
    }
};

TEST_F(CorrectionStage, ABatchWritesCorrectedTranscriptsSendsTheExpectedRequestAndGoesOnPastAFailedOne) {
    hear(heardText(2000));
    server.echo([](const QString &text) { return "```\n" + text.toUpper() + "\n```"; });
    record({"memo"});
    ASSERT_TRUE(runQueue());
    EXPECT_EQ(logCount("Correction LLM active : Ollama (local) (qwen2.5:7b)."), 1);
    EXPECT_EQ(entryNamed("memo.m4a").status, FileStatus::done);

    const QString markdown = md("memo");
    EXPECT_TRUE(markdown.contains("\ncorrection: Ollama (local) (qwen2.5:7b)\n"));
    EXPECT_TRUE(markdown.endsWith("\n\n" + heardText(2000).toUpper() + "\n\n## Transcription brute\n\n" +
                                  heardText(2000) + "\n"));
    EXPECT_TRUE(txt("memo").endsWith(QString(56, '=') + "\n\n" + heardText(2000).toUpper() + "\n"));
    EXPECT_FALSE(txt("memo").contains(heardText(2000)));

    ASSERT_EQ(server.count(FakeLlmServer::chatPath), 1);
    const Json messages = Json::array({{{"role", "system"}, {"content", utf8(ParlivoSettings::defaultCorrectionPrompt)}},
                                       {{"role", "user"}, {"content", utf8(heardText(2000))}}});
    const Json options = {{"temperature", 0.2}, {"num_ctx", 8192}, {"num_predict", 1321}, {"repeat_penalty", 1.1}};
    EXPECT_EQ(server.requests(FakeLlmServer::chatPath).first().json(),
              Json({{"model", "qwen2.5:7b"}, {"stream", false}, {"messages", messages}, {"options", options}}));

    // Nothing raw is left, so nothing is chained.
    EXPECT_FALSE(engine->correctionPassActive());
    EXPECT_TRUE(rawTranscripts(out).isEmpty());

    // A failed or empty correction keeps the raw text and the batch goes on.
    hear(heardText(120));
    server.enqueue({FakeReply::error(500, "surcharge"), FakeReply::answer("Voici le texte corrigé :\n\n")});
    record({"a", "b", "c"});
    ASSERT_TRUE(runQueue());
    EXPECT_EQ(engine->doneCount(), 4); // with the memo above
    EXPECT_EQ(logCount("Correction échouée sur a.m4a, texte brut conservé : Réponse HTTP 500 : surcharge"), 1);
    EXPECT_EQ(logCount("Correction échouée sur b.m4a, texte brut conservé : Réponse vide du modèle"), 1);
    EXPECT_TRUE(isRawTranscript(md("a")) && isRawTranscript(md("b")));
    EXPECT_FALSE(isRawTranscript(md("c")));
    EXPECT_TRUE(engine->correctionActiveThisRun()); // a failed text is not a dead backend
    EXPECT_EQ(logCount("Ollama injoignable"), 0);
}

TEST_F(CorrectionStage, TheFileBeingCorrectedIsShownAtNinetySevenPercentAndWithoutTheRawTextOnlyTheCorrectionIsKept) {
    updateSettings([](ParlivoSettings &s) {
        s.keepRawTranscript = false;
        s.outputFormat = OutputFormat::md;
    });
    server.echo([](const QString &text) { return text.toUpper(); });
    server.setDelay(300);
    record({"memo"});
    engine->start();
    ASSERT_TRUE(spinUntil([&] { return server.count(FakeLlmServer::chatPath) == 1; }, 30000));
    EXPECT_EQ(engine->correctingName(), "memo.m4a");
    EXPECT_DOUBLE_EQ(entryNamed("memo.m4a").progress, 0.97);
    engine->startCorrectionPass(); // a pass waits for the batch
    EXPECT_FALSE(engine->correctionPassActive());
    ASSERT_TRUE(runTask(engine->waitForRun()));
    EXPECT_FALSE(engine->correctingName());

    const QString markdown = md("memo");
    EXPECT_TRUE(markdown.endsWith("\n\n" + heardText(120).toUpper() + "\n"));
    EXPECT_FALSE(markdown.contains("Transcription brute"));
    EXPECT_FALSE(QFileInfo::exists(out + "/memo.txt"));
    EXPECT_EQ(entryNamed("memo.m4a").outputPath, out + "/memo.md");
}

TEST_F(CorrectionStage, TheServerStoppingMidBatchLeavesTheRestRawUntilThePassCorrectsIt) {
    // The server answers the first file, then quits while the second is sent.
    const QString firstAnswer = heardText(120).replace("avance", "progresse");
    server.enqueue({FakeReply::answer(firstAnswer), FakeReply::stopServer()});
    record({"a", "b", "c"});
    ASSERT_TRUE(runQueue());
    EXPECT_EQ(engine->doneCount(), 3);
    EXPECT_EQ(server.count(FakeLlmServer::chatPath), 2);

    const QStringList batch = batchLog();
    EXPECT_EQ(batch.filter("Correction échouée sur b.m4a, texte brut conservé : Service injoignable : ").size(), 1);
    EXPECT_EQ(batch.filter("Ollama injoignable, démarrage automatique…").size(), 1); // one restart
    EXPECT_EQ(batch.filter("Correction désactivée pour la suite du lot (Ollama indisponible).").size(), 1);
    EXPECT_TRUE(md("a").contains(firstAnswer));
    EXPECT_TRUE(isRawTranscript(md("b")) && isRawTranscript(md("c")));
    EXPECT_TRUE(md("b").contains(heardText(120)));
    EXPECT_TRUE(txt("c").endsWith(heardText(120) + "\n"));

    // The batch chained the pass, which found the server still away.
    ASSERT_TRUE(runTask(engine->waitForCorrectionPass()));
    EXPECT_EQ(logCount("Ollama indisponible : correction impossible."), 1);

    // Back up: the pass finds exactly the two raw files and corrects them.
    ASSERT_TRUE(server.resume());
    server.clearRequests();
    server.echo([](const QString &text) { return text.toUpper(); });
    engine->startCorrectionPass();
    ASSERT_TRUE(runTask(engine->waitForCorrectionPass()));
    EXPECT_EQ(logCount("Correction IA de 2 transcription(s) brute(s)…"), 1);
    EXPECT_EQ(server.count(FakeLlmServer::chatPath), 2);
    EXPECT_TRUE(rawTranscripts(out).isEmpty());
    for (const char *name : {"b", "c"}) {
        EXPECT_TRUE(md(name).contains("\ncorrection: Ollama (qwen2.5:7b)\n"));
        EXPECT_TRUE(md(name).contains(heardText(120).toUpper() + "\n\n## Transcription brute\n\n" + heardText(120)));
        EXPECT_TRUE(txt(name).endsWith("\n\n" + heardText(120).toUpper() + "\n"));
    }
    EXPECT_TRUE(md("a").contains(firstAnswer)); // untouched
}

TEST_F(CorrectionStage, ThePreflightLeavesTheBatchRawWhenTheBackendCannotServe) {
    // Ollama: the server away and nothing to start.
    server.stop();
    record({"a"});
    ASSERT_TRUE(runQueue());
    EXPECT_EQ(logCount(QStringLiteral("Ollama n'a pas pu démarrer (%1). Le lot produit le texte brut.")
                           .arg(server.endpoint())),
              1);
    EXPECT_FALSE(engine->correctionActiveThisRun());
    EXPECT_TRUE(isRawTranscript(md("a")));
    ASSERT_TRUE(runTask(engine->waitForCorrectionPass()));

    // Anthropic without a key: no request at all.
    server.resume();
    server.clearRequests();
    updateSettings([](ParlivoSettings &s) {
        s.correctionBackend = CorrectionBackend::anthropic;
        s.correctionEnabled = true;
    });
    engine->transcribeSelection({entryNamed("a.m4a").id});
    ASSERT_TRUE(runTask(engine->waitForRun()));
    EXPECT_EQ(logCount("Clé API Anthropic manquante. Le lot produit le texte brut."), 1);
    ASSERT_TRUE(runTask(engine->waitForCorrectionPass()));
    EXPECT_EQ(server.count(FakeLlmServer::messagesPath), 0);
}

TEST_F(CorrectionStage, ARefusedKeyStopsCloudCorrectionForTheRestOfTheBatch) {
    ScopedEnv anthropic{{"PARLIVO_ANTHROPIC_URL", server.anthropicUrl()}};
    updateSettings([](ParlivoSettings &s) {
        s.correctionBackend = CorrectionBackend::anthropic;
        s.anthropicKey = "sk-ant-test";
        s.outputFormat = OutputFormat::txt; // nothing for a pass to find afterwards
    });
    server.failWith(401, R"({"type":"error","error":{"type":"authentication_error"}})");
    record({"a", "b"});
    ASSERT_TRUE(runQueue());
    EXPECT_EQ(logCount("Correction LLM active : API Anthropic (cloud) (claude-haiku-4-5-20251001)."), 1);
    EXPECT_EQ(logCount("Correction désactivée pour la suite du lot."), 1);
    EXPECT_EQ(server.count(FakeLlmServer::messagesPath), 1);
    EXPECT_EQ(logCount("Ollama injoignable"), 0);
    EXPECT_TRUE(txt("b").endsWith(heardText(120) + "\n"));
}

TEST_F(CorrectionStage, ARefusalOrABareOkNeverReplacesWhatWasSaid) {
    const QString spoken = "bon alors je voulais te dire que la réunion de demain est déplacée à jeudi matin";
    hear(spoken);
    updateSettings([](ParlivoSettings &s) { s.outputFormat = OutputFormat::txt; }); // nothing for a pass
    record({"memo"});
    for (const QString &reply : {QString("Je suis désolé, je ne peux pas corriger ce texte."), QString("OK")}) {
        server.answerWith(reply);
        engine->transcribeSelection({entryNamed("memo.m4a").id});
        ASSERT_TRUE(runTask(engine->waitForRun()));
        EXPECT_EQ(entryNamed("memo.m4a").status, FileStatus::done);
        EXPECT_TRUE(txt("memo").endsWith("\n\n" + spoken + "\n")) << txt("memo").toStdString();
        EXPECT_FALSE(txt("memo").contains(reply));
    }
    EXPECT_EQ(logCount("Correction échouée sur memo.m4a, texte brut conservé : Réponse du modèle sans rapport avec le "
                       "texte"),
              2);
}

TEST_F(CorrectionStage, ARecogniserResultOfTheWrongTypesIsAnErrorNotAnEmptyRecording) {
    // A recogniser that writes a result whose texts are numbers.
    const QString script = writeFile(home.file("bin/whisper-cli"),
                                     "#!/bin/sh\n"
                                     "while [ $# -gt 0 ]; do [ \"$1\" = -of ] && prefix=$2; shift; done\n"
                                     "printf '{\"transcription\": [{\"text\": 5}]}' > \"$prefix.json\"\n");
    QFile::setPermissions(script, QFile::permissions(script) | QFileDevice::ExeOwner);
    Tools tools = this->tools();
    tools.whisper = script;
    record({"memo"});
    engine->saveNow();
    engine = std::make_unique<Transcriber>(tools);
    ASSERT_TRUE(runQueue());
    EXPECT_EQ(entryNamed("memo.m4a").status, FileStatus::error);
    EXPECT_EQ(entryNamed("memo.m4a").errorMessage, "Échec de whisper-cli (code 0).\n");
    EXPECT_FALSE(QFileInfo::exists(out + "/memo.txt"));
}

class CliCorrection : public CliFixture {
protected:
    FakeLlmServer server;

    void SetUp() override {
        CliFixture::SetUp();
        ASSERT_NE(server.port(), 0);
        server.setModels({"qwen2.5:7b"});
        QDir().mkpath(src);
        ASSERT_EQ(cli({"settings", "correctionEnabled", "true"}).code, 0);
        ASSERT_EQ(cli({"settings", "outputFormat", "md"}).code, 0);
        ASSERT_EQ(cli({"settings", "ollamaEndpoint", server.endpoint()}).code, 0);
    }
};

TEST_F(CliCorrection, CorrectNeedsAnOutputRootRunsThePassAndReportsWhatStayedRaw) {
    const CliResult unknown = runCli({"correct"});
    EXPECT_EQ(unknown.code, 2);
    EXPECT_TRUE(unknown.err.contains("Dossier de sortie inconnu")) << unknown.err.toStdString();
    EXPECT_EQ(runCli({"correct", "extra"}).code, 2);

    const QString a = writeRawTranscript(src, "a", dictation("A", 60));
    const QString b = writeRawTranscript(src + "/sous", "b", dictation("B", 90));
    ASSERT_EQ(runCli({"scan", src}).code, 0);

    server.enqueue(FakeReply::error(500, "surcharge")); // a fails in the first round only
    server.failWith(500, "surcharge");
    server.enqueue(FakeReply::answer(dictation("B", 90).toUpper()));
    const CliResult failing = cli({"correct"});
    EXPECT_EQ(failing.code, 1) << failing.err.toStdString();
    EXPECT_TRUE(failing.err.contains("Correction IA de 2 transcription(s) brute(s)…"));
    EXPECT_EQ(failing.out, "brute\t" + a + "\n");
    EXPECT_TRUE(readText(b).contains(dictation("B", 90).toUpper()));

    server.echo();
    const CliResult passing = cli({"correct"});
    EXPECT_EQ(passing.code, 0) << passing.err.toStdString();
    EXPECT_TRUE(passing.err.contains("Correction IA terminée : 1/1."));
    EXPECT_TRUE(passing.out.isEmpty());
    EXPECT_TRUE(rawTranscripts(src).isEmpty());
}

TEST_F(CliCorrection, RunWaitsForThePassItChains) {
    const QString earlier = writeRawTranscript(src, "ancien", dictation("Ancien", 80));
    makeAudio(src + "/nouveau.m4a", 1.2);
    const CliResult run = cli({"run", src});
    EXPECT_EQ(run.code, 0) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("Lot terminé : 1 transcrits, 0 sautés, 0 en erreur."));
    EXPECT_TRUE(run.err.contains("Correction IA terminée : 1/1."));
    EXPECT_TRUE(readText(earlier).contains("\ncorrection: Ollama (qwen2.5:7b)\n"));
    EXPECT_TRUE(rawTranscripts(src).isEmpty());
}

} // namespace
