// The organization, first pass by pass with a scripted model: names, prompts
// and text work, the organize.json record, structuring, theme assignment and
// consolidation, and the archive on disk. Then whole runs through the engine
// against the stand-in model server: transcripts in, a themed archive with its
// index out.
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSignalSpy>

#include <qcoro/qcorotask.h>
#include <qcoro/qcorotimer.h>

#include <deque>
#include <functional>
#include <variant>
#include <vector>

#include "correction/correction_error.h"
#include "engine/transcriber.h"
#include "organize/archive.h"
#include "organize/archive_index.h"
#include "organize/org_entry.h"
#include "organize/org_names.h"
#include "organize/org_pass.h"
#include "organize/org_selection.h"
#include "organize/placement.h"
#include "organize/structure_prompts.h"
#include "organize/structured.h"
#include "organize/structuring.h"
#include "organize/text_units.h"
#include "organize/themes.h"
#include "organize/transcript_reading.h"
#include "pipeline/transcript_files.h"
#include "provisioning/ollama_local.h"
#include "support/organize_test_support.h"

using namespace testing_support;

namespace {

class ScriptedModel {
public:
    struct Call {
        QString system;
        QString user;
    };
    using Responder = std::function<QString(const Call &)>;

    // Answers from the script first, then from `responder` (empty text without one).
    explicit ScriptedModel(Responder responder = {}) : m_responder(std::move(responder)) {}

    void reply(const QString &text) { m_script.emplace_back(text); }
    void fail(const CorrectionError &error) { m_script.emplace_back(error); }

    AskFunction ask() {
        return [this](QString system, QString user) { return answer(std::move(system), std::move(user)); };
    }

    std::vector<Call> calls;

private:
    QCoro::Task<QString> answer(QString system, QString user) {
        calls.push_back({system, user});
        // A real model answers later: the passes must cope with the suspension.
        co_await QCoro::sleepFor(std::chrono::milliseconds(1));
        if (!m_script.empty()) {
            auto next = std::move(m_script.front());
            m_script.pop_front();
            if (auto *error = std::get_if<CorrectionError>(&next)) throw *error;
            co_return std::get<QString>(next);
        }
        co_return m_responder ? m_responder(calls.back()) : QString();
    }

    std::deque<std::variant<QString, CorrectionError>> m_script;
    Responder m_responder;
};

struct PassProbe {
    QStringList log;
    QStringList current;
    int memosDone = 0;
    std::function<bool()> cancelWhen;

    OrgPassHooks hooks(ScriptedModel &model) {
        OrgPassHooks h;
        h.ask = model.ask();
        h.isCancelled = [this] { return cancelWhen && cancelWhen(); };
        h.setCurrent = [this](const QString &name) { current.append(name); };
        h.memoDone = [this] { ++memosDone; };
        h.log = [this](const QString &line) { log.append(line); };
        return h;
    }
};


TEST(OrganizeNames, TypeAndCategoryFromFreeWordingAndTitlesWithoutQuotesOrStars) {
    EXPECT_EQ(normalizeType("Réunion d'équipe"), "reunion");
    EXPECT_EQ(normalizeType("TÂCHES"), "taches");
    EXPECT_EQ(normalizeType("projet de cours"), "projet");
    EXPECT_EQ(normalizeType("mémo"), "autre");
    for (const char *perso : {"perso", "Personnel", "vie personnelle"}) EXPECT_EQ(normalizeCategory(perso), "perso") << perso;
    for (const char *pro : {"pro", "Professionnel", "Travail", "business", " pro"}) EXPECT_EQ(normalizeCategory(pro), "pro") << pro;
    for (const char *other : {"incertain", "", "je ne sais pas"}) EXPECT_EQ(normalizeCategory(other), "incertain") << other;

    // A title loses its quotes, stars and edge punctuation.
    EXPECT_EQ(sanitizeTitle("**\"Relance devis client :\"**"), "Relance devis client");
    EXPECT_EQ(sanitizeTitle("  Plan\n\tdu   projet  "), "Plan du projet");
    EXPECT_EQ(sanitizeTitle("- Liste de courses -"), "Liste de courses");
    EXPECT_EQ(sanitizeTitle("**\"\":"), "Sans titre");
    // Cut at 70 characters, never inside one.
    const QString thumb = QStringLiteral("👍🏽"); // one character, four UTF-16 units
    const QString title = sanitizeTitle(QString(69, 'a') + thumb + "bcd");
    EXPECT_EQ(title, QString(69, 'a') + thumb);
    EXPECT_EQ(graphemeCount(title), 70);
    EXPECT_EQ(leftGraphemes(QStringLiteral("e\u0301té"), 1), QStringLiteral("e\u0301"));
}

TEST(OrganizeNames, FolderNamesStayOneHarmlessComponent) {
    EXPECT_EQ(sanitizeFolder("Réunion: budget/2025?"), "Réunion budget 2025");
    EXPECT_EQ(sanitizeFolder("a<b>c|d\\e*f\"g"), "a b c d e f g");
    EXPECT_EQ(sanitizeFolder(" ..Clients.. "), "Clients");

    const QStringList hostile = {"..", ".", "../../etc", "/etc/passwd", "a/../../b", "...hidden", "\x01\x02\x1b[31m",
                                 "", "   ", QString("con") + QChar(0) + "trol", "~/.ssh", "\\\\server\\share",
                                 QString(500, QChar(0x00E9)), QString(100, QChar(0x4E2D)),
                                 QStringLiteral("👨‍👩‍👧‍👦").repeated(80), "line\nbreak\rreturn"};
    for (const QString &value : hostile) {
        const QString name = sanitizeFolder(value);
        SCOPED_TRACE(value.toStdString());
        EXPECT_FALSE(name.isEmpty());
        EXPECT_FALSE(name.contains('/') || name.contains('\\') || name.contains('\n') || name.contains('\r'));
        EXPECT_FALSE(name.startsWith('.'));
        for (QChar c : name) EXPECT_NE(c.category(), QChar::Other_Control);
        EXPECT_LE(graphemeCount(name), 70);
        EXPECT_LE(name.toUtf8().size(), 200);
    }
    EXPECT_EQ(sanitizeFolder(".."), "Sans titre");
    EXPECT_EQ(sanitizeFolder("../../etc"), "etc");
    EXPECT_EQ(sanitizeFolder("\x01\x02"), "Sans titre");
}

TEST(OrganizePrompts, TheTwoStructuringPromptsWordForWord) {
    EXPECT_EQ(structurePrompt(),
              "Tu transformes la transcription d'un mémo vocal (souvent décousue, sans structure) en un document "
              "structuré, prêt à l'emploi. Tu ne résumes pas : tu RÉORGANISES tout le contenu, sans rien inventer ni "
              "rien perdre. Tu écris dans la langue du mémo.\n"
              "\n"
              "Réponds EXACTEMENT dans ce format, sans texte avant ni après :\n"
              "---\n"
              "titre: <titre court et précis, 3 à 8 mots>\n"
              "type: <un seul mot parmi : idee, projet, journal, taches, reflexion, reunion, cours, autre>\n"
              "categorie: <perso ou pro ; si impossible à dire : incertain>\n"
              "themes: <1 à 3 mots-clés simples, séparés par des virgules>\n"
              "confiance: <nombre entre 0 et 1>\n"
              "resume: <une seule phrase qui dit de quoi parle le mémo>\n"
              "---\n"
              "\n"
              "## En une phrase\n"
              "<l'idée centrale>\n"
              "\n"
              "## Contenu structuré\n"
              "<le contenu réorganisé avec des sous-titres ### et des listes, selon le type :\n"
              "- idee ou projet : Problème, Proposition, Comment, Prochaines étapes\n"
              "- journal ou reflexion : Ce qui s'est passé, Ressenti, Ce que j'en retiens\n"
              "- taches : une liste de cases à cocher \"- [ ]\"\n"
              "- reunion : Participants, Décisions, Actions, À suivre\n"
              "- cours : Notions clés, Explications, À retenir\n"
              "- autre : des sections logiques>\n"
              "\n"
              "## Actions\n"
              "<liste \"- [ ]\" des choses à faire mentionnées, ou \"Aucune\">\n"
              "\n"
              "## À creuser\n"
              "<questions ouvertes, ou \"Aucune\">");
    EXPECT_EQ(notesPrompt(),
              "Voici un passage de la transcription d'un long mémo vocal. Rédige des notes structurées, fidèles et "
              "détaillées de ce passage : conserve tous les faits, idées, décisions, tâches, noms et chiffres. "
              "N'invente rien, ne commente pas. Utilise des listes. Réponds uniquement avec les notes.");
}

TEST(OrganizeTranscriptReading, ReadsPathDateAndBodyButNeverTheRawSection) {
    const QString file = "---\nsource: a.m4a\nchemin: /Mémos: 2024/a.m4a\ndate: 5 décembre 2026 à 14h07\n"
                         "duree: 1:05\ncorrection: Ollama (local) (qwen2.5:7b)\n---\n\n# Mémo vocal du 5 décembre 2026 "
                         "à 14h07\n\nTexte corrigé du mémo.\n\n## Transcription brute\n\ntexte brut\n";
    const TranscriptText text = readTranscriptText(file);
    EXPECT_EQ(text.body, "Texte corrigé du mémo.");
    EXPECT_EQ(text.audio, "/Mémos: 2024/a.m4a");
    EXPECT_EQ(text.date, "5 décembre 2026 à 14h07");
    // Without front matter or heading.
    const TranscriptText plain = readTranscriptText("# Notes\nPremière ligne\nSeconde ligne\n");
    EXPECT_EQ(plain.body, "Première ligne\nSeconde ligne");
    EXPECT_FALSE(plain.audio);
    EXPECT_EQ(plain.date, "");
    EXPECT_EQ(readTranscriptText("Pas de titre du tout, seulement du texte.").body, "");
    EXPECT_FALSE(readTranscriptText("---\nchemin:\ndate: x\n---\n\n# T\nbody\n").audio);
}

TEST(OrganizePassages, PacksWholeLinesUpToTheLimitAndNotesAreCutTo14000Characters) {
    const QString fits = QString(5999, 'a') + '\n' + QString(6000, 'b');
    EXPECT_EQ(packPassages(fits), QStringList{fits});
    const QString over = QString(6000, 'a') + '\n' + QString(6000, 'b');
    EXPECT_EQ(packPassages(over), (QStringList{QString(6000, 'a'), QString(6000, 'b')}));

    QStringList lines;
    for (int i = 0; i < 300; ++i) lines.append(QString(99, QChar('a' + i % 26)));
    const QStringList passages = packPassages(lines.join('\n'));
    EXPECT_EQ(passages.size(), 3);
    EXPECT_EQ(passages.join('\n'), lines.join('\n')); // nothing lost, no line split
    for (const QString &p : passages) EXPECT_LE(p.size(), 12000);
    // A line longer than a passage stands alone.
    const QString longLine(15000, 'x');
    EXPECT_EQ(packPassages("début\n" + longLine + "\nfin"), (QStringList{"début", longLine, "fin"}));

    // Notes are cut to their first 14 000 characters.
    const QStringList notes = {QString(10000, 'a'), QString(9998, 'b')}; // 20 000 once joined
    const QString joined = joinNotes(notes);
    EXPECT_EQ(joined.size(), 14000);
    EXPECT_EQ(joined, notes.join("\n\n").left(14000));
    EXPECT_EQ(joinNotes({QString(13998, 'a'), ""}).size(), 14000);
}

TEST(OrganizeStructuredReply, ReadsEveryHeaderFieldOrTakesTheWholeReplyAsTheBody) {
    const QString reply = "Voici le document :\n---\ntitre: **\"Relance devis client:\"**\ntype: Réunion d'équipe\n"
                          "categorie: Professionnel\nthemes: santé, , \t sport , famille, voyage\nconfiance: 0,85\n"
                          "resume: Relancer le client.\n---\n\n## En une phrase\nRelancer.\n\n";
    const Structured s = parseStructured(reply, "memo");
    EXPECT_EQ(s.title, "Relance devis client");
    EXPECT_EQ(s.type, "reunion");
    EXPECT_EQ(s.category, "pro");
    EXPECT_EQ(s.themes, (QStringList{"santé", "sport", "famille"}));
    EXPECT_DOUBLE_EQ(s.confidence, 0.85);
    EXPECT_EQ(s.summary, "Relancer le client.");
    EXPECT_EQ(s.body, "## En une phrase\nRelancer.");
    // Confidence is clamped, with a default for what does not read as a number.
    EXPECT_DOUBLE_EQ(parseConfidence("1.7"), 1.0);
    EXPECT_DOUBLE_EQ(parseConfidence("0,85"), 0.85);
    EXPECT_DOUBLE_EQ(parseConfidence("élevée"), 0.3);
    EXPECT_DOUBLE_EQ(parseConfidence("0.8.1"), 0.3);
    EXPECT_DOUBLE_EQ(parseConfidence("85 %"), 1.0);

    // Without front matter the whole reply is the body.
    const Structured bare = parseStructured("\n  Juste du texte libre.\n\n", "memo *2024*");
    EXPECT_EQ(bare.title, "memo 2024");
    EXPECT_EQ(bare.type, "autre");
    EXPECT_EQ(bare.category, "incertain");
    EXPECT_TRUE(bare.themes.isEmpty());
    EXPECT_DOUBLE_EQ(bare.confidence, 0.3);
    EXPECT_EQ(bare.body, "Juste du texte libre.");

    const Structured partial = parseStructured("---\ntitre:\ntype: journal\n---\nCorps", "fallback");
    EXPECT_EQ(partial.title, "fallback");
    EXPECT_EQ(partial.type, "journal");
    EXPECT_EQ(partial.category, "incertain");
    EXPECT_DOUBLE_EQ(partial.confidence, 0.3);
    EXPECT_EQ(partial.body, "Corps");
}

TEST(OrganizeStructuredReply, TheStructureFileLayout) {
    Structured s;
    s.title = "Relance devis";
    s.type = "projet";
    s.category = "pro";
    s.themes = {"clients", "devis"};
    s.confidence = 0.857;
    s.summary = "Relancer.";
    s.body = "## En une phrase\nRelancer.";
    EXPECT_EQ(structureFileContent(s, "", "a.m4a"),
              "---\ntitre: Relance devis\ndate: \nsource: a.m4a\ntype: projet\ncategorie: pro\nthemes: clients, devis\n"
              "confiance: 0.86\nresume: Relancer.\n---\n\n# Relance devis\n\n## En une phrase\nRelancer.\n");
}

OrgEntry fullEntry() {
    OrgEntry e;
    e.transcriptPath = "/t/mémo.md";
    e.audioPath = "/s/mémo.m4a";
    e.structurePath = "/t/mémo.structure.md";
    e.title = "Relance";
    e.type = "projet";
    e.rawCategory = "pro";
    e.rawThemes = {"clients", "devis"};
    e.confidence = 0.85;
    e.category = "pro";
    e.theme = "Clients";
    e.folder = "/a/Vie pro/Clients/x";
    return e;
}

TEST(OrgLedgerFile, KeysInOrderAbsentOptionalsOmittedRequiredKeysEnforcedAndACorruptFileSetAside) {
    EXPECT_EQ(dumpCompact(toJson(fullEntry())).toStdString(),
              "{\"transcriptPath\":\"/t/mémo.md\",\"audioPath\":\"/s/mémo.m4a\",\"structurePath\":\"/t/mémo.structure.md\","
              "\"title\":\"Relance\",\"type\":\"projet\",\"rawCategory\":\"pro\",\"rawThemes\":[\"clients\",\"devis\"],"
              "\"confidence\":0.85,\"category\":\"pro\",\"theme\":\"Clients\",\"folder\":\"/a/Vie pro/Clients/x\"}");
    OrgEntry bare;
    bare.transcriptPath = "/t/a.md";
    EXPECT_EQ(dumpCompact(toJson(bare)).toStdString(), "{\"transcriptPath\":\"/t/a.md\",\"rawThemes\":[],\"confidence\":0.0}");
    EXPECT_EQ(orgEntryFromJson(toJson(fullEntry())), fullEntry());
    EXPECT_EQ(orgEntryFromJson(toJson(bare)), bare);
    for (const char *text : {R"({"rawThemes":[],"confidence":0})", R"({"transcriptPath":"/a","confidence":0})",
                             R"({"transcriptPath":"/a","rawThemes":[]})", R"({"transcriptPath":"/a","rawThemes":[1],"confidence":0})",
                             R"({"transcriptPath":"/a","rawThemes":[],"confidence":"0.5"})",
                             R"({"transcriptPath":"/a","rawThemes":[],"confidence":0,"folder":3})", R"([])"}) {
        EXPECT_ANY_THROW(orgEntryFromJson(parseJson(text))) << text;
    }
    EXPECT_NO_THROW(orgEntryFromJson(parseJson(R"({"transcriptPath":"/a","rawThemes":[],"confidence":1,"theme":null})")));

    // The file: a round trip, and a corrupt file set aside before anything replaces it.
    QTemporaryDir dir;
    const QString path = dir.path() + "/organize.json";
    const OrgLedger ledger{{fullEntry().transcriptPath, fullEntry()}};
    ASSERT_FALSE(saveOrgLedger(path, ledger));
    EXPECT_FALSE(readText(path).contains('\n')); // compact
    EXPECT_EQ(loadOrgLedger(path).status, OrgLedgerLoad::Status::loaded);
    EXPECT_EQ(loadOrgLedger(path).ledger, ledger);
    EXPECT_EQ(loadOrgLedger(dir.path() + "/absent.json").status, OrgLedgerLoad::Status::missing);

    writeFile(path + ".corrupt", "une ancienne copie");
    for (const QByteArray &bad : {QByteArray("{\"/a.md\": {\"transcriptPath\": "), QByteArray("{\"/a.md\":{\"confidence\":1}}")}) {
        writeFile(path, bad);
        const OrgLedgerLoad loaded = loadOrgLedger(path);
        EXPECT_EQ(loaded.status, OrgLedgerLoad::Status::setAside);
        EXPECT_EQ(loaded.asidePath, path + ".corrupt");
        EXPECT_TRUE(loaded.ledger.empty());
        EXPECT_FALSE(QFile::exists(path));
        EXPECT_EQ(readText(path + ".corrupt"), QString::fromUtf8(bad));
    }
    ASSERT_FALSE(saveOrgLedger(path, {}));
    EXPECT_EQ(readText(path + ".corrupt"), "{\"/a.md\":{\"confidence\":1}}");
}

TEST(OrgSelection, EachPassTakesOnlyWhatIsLeftToDo) {
    QTemporaryDir dir;
    const QString d = dir.path();
    const QString document = writeFile(d + "/doc.structure.md", "x");
    const QString memoFolder = d + "/archive/memo";
    QDir().mkpath(memoFolder);
    OrgLedger ledger;
    auto add = [&](const QString &name, std::optional<QString> structure, std::optional<QString> theme,
                   std::optional<QString> folder) {
        OrgEntry e;
        e.transcriptPath = d + "/" + name;
        e.structurePath = structure;
        e.theme = theme;
        e.folder = folder;
        ledger[e.transcriptPath] = e;
        return e.transcriptPath;
    };
    const QString fresh = d + "/nouveau.md";
    const QString lostDocument = add("perdu.md", d + "/disparu.structure.md", std::nullopt, std::nullopt);
    const QString unsorted = add("non-trie.md", document, std::nullopt, std::nullopt);
    const QString placed = add("range.md", document, QString("Clients"), memoFolder);
    const QString folderGone = add("dossier-efface.md", document, QString("Clients"), d + "/archive/efface");
    const QStringList files = {fresh, lostDocument, unsorted, placed, folderGone};

    EXPECT_EQ(filesToStructure(files, ledger), (QStringList{fresh, lostDocument}));
    EXPECT_EQ(filesToAssign(files, ledger), (QStringList{lostDocument, unsorted}));
    EXPECT_EQ(filesToPlace(files, ledger), (QStringList{lostDocument, unsorted, placed, folderGone}));
    EXPECT_EQ(pendingOrganizationCount(files, ledger), 4);
    EXPECT_EQ(organizedCount(ledger), 2);

    // The organization's model falls back to the correction's.
    ParlivoSettings settings;
    EXPECT_EQ(organizeModelName(settings), "qwen2.5:7b");
    settings.organizeModel = "llama3.1:8b";
    EXPECT_EQ(organizeModelName(settings), "llama3.1:8b");
}

OrgEntry structuredEntry(const QString &path, const QString &category, const QStringList &keywords,
                         const QString &title = "Titre") {
    OrgEntry e;
    e.transcriptPath = path;
    e.structurePath = path + ".structure.md";
    e.title = title;
    e.rawCategory = category;
    e.rawThemes = keywords;
    e.confidence = 0.8;
    return e;
}

OrgEntry sortedAs(const QString &path, const QString &category, const QString &theme, bool placed = false) {
    OrgEntry e = structuredEntry(path, category, {});
    e.category = category;
    e.theme = theme;
    if (placed) e.folder = "/archive/" + path;
    return e;
}

const QString documentReply = "---\ntitre: Relance devis client\ntype: projet\ncategorie: pro\n"
                              "themes: clients, devis\nconfiance: 0.9\nresume: Relancer le client.\n---\n\n"
                              "## En une phrase\nRelancer le client.\n";

const QString longEnough = "Un mémo assez long pour être structuré par le modèle.";

QString transcript(const QString &body, const QString &date = "1 mai 2024 à 14h07") {
    QString frontMatter = "---\nsource: memo.m4a\nchemin: /sons/memo.m4a\n";
    if (!date.isEmpty()) frontMatter += "date: " + date + "\n";
    return frontMatter + "correction: aucune\n---\n\n# Mémo vocal du 1 mai 2024\n\n" + body + "\n";
}

class StructureOne : public ::testing::Test {
protected:
    QTemporaryDir dir;
    OrgLedger ledger;
    PassProbe probe;
    QString path() const { return dir.path() + "/memo.md"; }
    QString structurePath() const { return dir.path() + "/memo.structure.md"; }

    StructureOutcome run(ScriptedModel &model, const QString &content) {
        writeFile(path(), content.toUtf8());
        return runTaskFor(structureOne(path(), ledger, probe.hooks(model))).value_or(StructureOutcome::skipped);
    }
};

TEST_F(StructureOne, TooShortOrUnreadableIsLeftAloneAndAShortMemoIsSentWholeAndRecorded) {
    ScriptedModel model;
    EXPECT_EQ(run(model, transcript("Trop court.")), StructureOutcome::skipped);
    EXPECT_EQ(runTaskFor(structureOne(dir.path() + "/absent.md", ledger, probe.hooks(model))), StructureOutcome::skipped);
    EXPECT_TRUE(model.calls.empty());
    EXPECT_TRUE(ledger.empty());
    EXPECT_FALSE(QFile::exists(structurePath()));

    model.reply(documentReply);
    const QString body = "Il faut relancer le client pour le devis.\n\n## Transcription brute\n\nil faut relancer";
    EXPECT_EQ(run(model, transcript(body)), StructureOutcome::structured);

    ASSERT_EQ(model.calls.size(), 1u);
    EXPECT_EQ(model.calls[0].system, structurePrompt());
    EXPECT_EQ(model.calls[0].user, "Il faut relancer le client pour le devis."); // raw section never sent
    const QString document = readText(structurePath());
    EXPECT_TRUE(document.startsWith("---\ntitre: Relance devis client\ndate: 1 mai 2024 à 14h07\nsource: memo.m4a\n"));
    EXPECT_TRUE(document.endsWith("---\n\n# Relance devis client\n\n## En une phrase\nRelancer le client.\n"));
    const OrgEntry &entry = ledger.at(path());
    EXPECT_EQ(entry.audioPath, "/sons/memo.m4a");
    EXPECT_EQ(entry.structurePath, structurePath());
    EXPECT_EQ(entry.title, "Relance devis client");
    EXPECT_EQ(entry.rawThemes, (QStringList{"clients", "devis"}));
    EXPECT_DOUBLE_EQ(entry.confidence, 0.9);
    EXPECT_FALSE(entry.category || entry.theme || entry.folder);

    // Without a date the field stays empty; 12 000 characters still go whole.
    model.reply(documentReply);
    run(model, transcript(QString(12000, 'a'), ""));
    EXPECT_TRUE(readText(structurePath()).contains("\ndate: \nsource: memo.m4a\n"));
    ASSERT_EQ(model.calls.size(), 2u);
    EXPECT_EQ(model.calls[1].user.size(), 12000);
}

TEST_F(StructureOne, LongMemoGoesThroughNotesPassageByPassage) {
    ScriptedModel model([](const ScriptedModel::Call &call) {
        return call.system == notesPrompt() ? QString(10000, 'n') : documentReply;
    });
    run(model, transcript(QString(7000, 'a') + "\n" + QString(5000, 'b'))); // 12 001 characters
    ASSERT_EQ(model.calls.size(), 3u);
    EXPECT_EQ(model.calls[0].system, notesPrompt());
    EXPECT_EQ(model.calls[0].user, QString(7000, 'a'));
    EXPECT_EQ(model.calls[1].user, QString(5000, 'b'));
    EXPECT_EQ(model.calls[2].system, structurePrompt());
    EXPECT_EQ(model.calls[2].user, (QString(10000, 'n') + "\n\n" + QString(10000, 'n')).left(14000));
    EXPECT_EQ(probe.current, (QStringList{"memo (partie 1)", "memo (partie 2)"}));
    EXPECT_TRUE(ledger.contains(path()));
}

TEST_F(StructureOne, AFailedCallOrAnUnwritableDocumentIsLoggedAndRecordsNothing) {
    ScriptedModel model;
    model.fail(CorrectionError::http(500, "boom"));
    EXPECT_EQ(run(model, transcript(longEnough)), StructureOutcome::failed);
    EXPECT_EQ(probe.log, QStringList{"Structuration échouée : memo.md (Réponse HTTP 500 : boom)"});
    EXPECT_FALSE(QFile::exists(structurePath()));

    QDir().mkpath(structurePath()); // a folder where the document should go
    model.reply(documentReply);
    EXPECT_EQ(run(model, transcript(longEnough)), StructureOutcome::failed);
    ASSERT_EQ(probe.log.size(), 2);
    EXPECT_TRUE(probe.log[1].startsWith("Structuration échouée : memo.md ("));
    EXPECT_TRUE(ledger.empty());
}

TEST_F(StructureOne, CancellationIsHonouredBeforeEachPassageAndADeadBackendIsReportedForARestart) {
    const QString twoPassages = transcript(QString(7000, 'a') + "\n" + QString(7000, 'b'));
    ScriptedModel cancelled([](const ScriptedModel::Call &) { return QString("notes"); });
    probe.cancelWhen = [&] { return cancelled.calls.size() == 1; };
    EXPECT_EQ(run(cancelled, twoPassages), StructureOutcome::skipped);
    EXPECT_EQ(cancelled.calls.size(), 1u);
    EXPECT_TRUE(ledger.empty());
    EXPECT_TRUE(probe.log.isEmpty());

    probe.cancelWhen = {};
    ScriptedModel model([](const ScriptedModel::Call &) { return QString(10000, 'n'); });
    model.reply("notes de la première partie");
    model.fail(CorrectionError::unreachable("connexion refusée"));
    EXPECT_EQ(run(model, twoPassages), StructureOutcome::backendDown);
    EXPECT_EQ(model.calls.size(), 2u); // stopped at the failing passage
    EXPECT_EQ(probe.log, QStringList{"Structuration échouée : memo.md (Service injoignable : connexion refusée)"});
    EXPECT_TRUE(ledger.empty());
}

TEST_F(StructureOne, RestructuringKeepsTheSortingAndThePlace) {
    ledger[path()] = sortedAs(path(), "pro", "Clients", true);
    ScriptedModel model;
    model.reply("Pas de front matter, juste un texte.");
    EXPECT_EQ(run(model, transcript(longEnough)), StructureOutcome::structured);
    const OrgEntry &entry = ledger.at(path());
    EXPECT_EQ(entry.category, "pro");
    EXPECT_EQ(entry.theme, "Clients");
    EXPECT_EQ(entry.folder, "/archive/" + path());
    EXPECT_EQ(entry.type, "autre");
    EXPECT_EQ(entry.rawCategory, "incertain");
    EXPECT_EQ(entry.title, "memo");
}

TEST(OrganizeThemeText, AssignmentAndConsolidationPromptsWordForWord) {
    const QString after =
        ".\n"
        "- Ne crée un nouveau thème que si aucun existant ne convient. Maximum 12 thèmes par catégorie.\n"
        "- categorie : \"perso\" (vie personnelle) ou \"pro\" (travail, business, clients) ; \"incertain\" "
        "seulement si c'est vraiment impossible à dire.\n"
        "Réponds UNIQUEMENT avec un JSON valide, sans texte autour, de la forme :\n"
        "{\"attributions\":[{\"id\":1,\"categorie\":\"pro\",\"theme\":\"Clients\"}]}\n"
        "Un objet par numéro d'entrée.";
    const QString before =
        "Tu ranges des mémos vocaux par thème. Chaque ligne d'entrée : numéro | catégorie proposée "
        "(perso/pro/incertain) | mots-clés | titre.\n"
        "Objectif : un classement clair et STABLE, avec peu de thèmes et des noms courts en français (1 à 3 mots, "
        "ex. \"Santé\", \"Clients\", \"Idées produit\", \"Famille\", \"Finances\").\n"
        "Règles :\n"
        "- Réutilise en priorité les thèmes existants : ";
    EXPECT_EQ(assignPrompt({"Clients", "Santé"}), before + "Clients, Santé" + after);
    EXPECT_EQ(assignPrompt({}), before + "(aucun pour l'instant)" + after);

    const QString consolidationEnd =
        ". Fusionne les synonymes, le singulier/pluriel, les variantes d'accent ou de casse, et range chaque thème à "
        "un seul élément dans le thème canonique le plus proche. Réponds UNIQUEMENT avec un JSON valide, sans texte "
        "autour, de la forme {\"map\":{\"Thème d'origine\":\"Thème canonique\"}} couvrant TOUS les thèmes fournis.";
    const QString consolidationStart =
        "Tu regroupes une liste de thèmes en AU PLUS 12 thèmes canoniques, stables, à noms courts (1 à 3 mots, en "
        "français). Thèmes canoniques DÉJÀ en place, à réutiliser en priorité : ";
    EXPECT_EQ(consolidationPrompt({"Clients", "Équipe"}), consolidationStart + "Clients, Équipe" + consolidationEnd);
    EXPECT_EQ(consolidationPrompt({}), consolidationStart + "(aucun pour l'instant)" + consolidationEnd);
}

TEST(OrganizeThemeText, RequestLinePerMemoFallbackThemeAndWhenAConsolidationIsAccepted) {
    OrgEntry e = structuredEntry("/t/a.md", "pro", {"clients", "devis"}, QString(80, 't'));
    EXPECT_EQ(assignmentLine(3, &e), "3 | pro | clients, devis | " + QString(70, 't'));
    e.rawCategory.reset();
    e.title.reset();
    EXPECT_EQ(assignmentLine(1, &e), "1 | incertain | clients, devis | ");
    EXPECT_EQ(assignmentLine(2, nullptr), "2 | incertain |  | ");

    // A fallback theme comes from the first keyword.
    EXPECT_EQ(fallbackTheme({"santé", "sport"}), "Santé");
    EXPECT_EQ(fallbackTheme({"éducation"}), "Éducation");
    EXPECT_EQ(fallbackTheme({}), "Divers");
    EXPECT_EQ(fallbackTheme({"../../.ssh"}), "ssh");

    // A consolidation is accepted only when it merges into at most thirteen.
    EXPECT_TRUE(acceptConsolidation(14, 13));
    EXPECT_FALSE(acceptConsolidation(13, 13));
    EXPECT_FALSE(acceptConsolidation(20, 15));
    EXPECT_FALSE(acceptConsolidation(13, 0));
}

TEST(OrganizeThemeText, AssignmentsAcceptIdsAsNumbersOrTextsAndUnusableRepliesGiveNothing) {
    const Assignments parsed = parseAssignments(
        "Voici :\n```json\n{\"attributions\":[{\"id\":\"2\",\"categorie\":\"Travail\",\"theme\":\"  Clients  \"},"
        "{\"id\":3.0,\"categorie\":\"perso\",\"theme\":\"Santé\"},{\"categorie\":\"pro\",\"theme\":\"Sans id\"},"
        "{\"id\":\"deux\",\"theme\":\"X\"},{\"id\":4},\"texte\",{\"id\":3,\"categorie\":\"perso\",\"theme\":\"Sport\"}]}\n```");
    EXPECT_EQ(parsed, (Assignments{{2, {"pro", "Clients"}}, {3, {"perso", "Sport"}}, {4, {"incertain", ""}}}));
    for (const char *reply : {"pas de json", "} inversé {", "{\"attributions\": [", "{\"attributions\":{\"id\":1}}",
                              "[{\"id\":1,\"theme\":\"X\"}]"})
        EXPECT_TRUE(parseAssignments(reply).empty()) << reply;
}

TEST(AssignThemes, BatchesOf50AndKnownThemesGrowBetweenBatches) {
    OrgLedger ledger;
    ledger["/old.md"] = sortedAs("/old.md", "perso", "Santé", true);
    QStringList paths;
    for (int i = 0; i < 120; ++i) {
        paths.append(QString("/t/m%1.md").arg(i));
        ledger[paths.last()] = structuredEntry(paths.last(), "pro", {"clients"});
    }
    int batch = 0;
    ScriptedModel model([&](const ScriptedModel::Call &) {
        ++batch;
        return QString("{\"attributions\":[{\"id\":1,\"categorie\":\"pro\",\"theme\":\"Lot %1\"}]}").arg(batch);
    });
    PassProbe probe;
    runTask(assignThemes(paths, ledger, probe.hooks(model)));

    ASSERT_EQ(model.calls.size(), 3u);
    EXPECT_EQ(model.calls[0].user.count('\n') + 1, 50);
    EXPECT_EQ(model.calls[1].user.count('\n') + 1, 50);
    EXPECT_EQ(model.calls[2].user.count('\n') + 1, 20);
    EXPECT_TRUE(model.calls[0].user.startsWith("1 | pro | clients | Titre\n2 | pro | clients | Titre\n"));
    EXPECT_EQ(model.calls[0].system, assignPrompt({"Santé"}));
    EXPECT_EQ(model.calls[1].system, assignPrompt({"Clients", "Lot 1", "Santé"}));
    EXPECT_EQ(probe.current, (QStringList{"lot de 50 mémos", "lot de 50 mémos", "lot de 20 mémos"}));
    EXPECT_EQ(probe.memosDone, 120);
    EXPECT_EQ(ledger.at("/t/m0.md").theme, "Lot 1");
    EXPECT_EQ(ledger.at("/t/m50.md").theme, "Lot 2");
    EXPECT_EQ(ledger.at("/t/m1.md").theme, "Clients"); // absent from the reply: its keyword
    EXPECT_EQ(ledger.at("/t/m1.md").category, "pro");
}

TEST(AssignThemes, MemosLeftOutOrInAFailedBatchGetTheirFallbackAndHostileThemesAreMadeFolderSafe) {
    OrgLedger ledger;
    ledger["/a.md"] = structuredEntry("/a.md", "perso", {"santé"});
    for (const char *p : {"/b.md", "/c.md", "/d.md", "/e.md"}) ledger[p] = structuredEntry(p, "perso", {});
    ledger["/c.md"].rawCategory.reset();
    ScriptedModel model;
    model.reply(R"({"attributions":[{"id":"2","categorie":"Travail","theme":" Clients "},)"
                R"({"id":3,"categorie":"pro","theme":""},{"id":4,"categorie":"pro","theme":"../../../etc"},)"
                R"({"id":5,"categorie":"pro","theme":".."}]})");
    PassProbe probe;
    runTask(assignThemes({"/a.md", "/b.md", "/c.md", "/d.md", "/e.md"}, ledger, probe.hooks(model)));
    EXPECT_EQ(ledger.at("/a.md").category, "perso");
    EXPECT_EQ(ledger.at("/a.md").theme, "Santé");
    EXPECT_EQ(ledger.at("/b.md").category, "pro");
    EXPECT_EQ(ledger.at("/b.md").theme, "Clients");
    EXPECT_EQ(ledger.at("/c.md").category, "incertain"); // empty theme from the model: fallback
    EXPECT_EQ(ledger.at("/c.md").theme, "Divers");
    EXPECT_EQ(ledger.at("/d.md").theme, "etc");
    EXPECT_EQ(ledger.at("/e.md").theme, "Sans titre");
    EXPECT_TRUE(probe.log.isEmpty());

    // A failed call is logged and the batch still gets themes.
    ledger["/f.md"] = structuredEntry("/f.md", "pro", {"budget"});
    model.fail(CorrectionError::http(500, "erreur"));
    runTask(assignThemes({"/f.md", "/inconnu.md"}, ledger, probe.hooks(model)));
    EXPECT_EQ(probe.log, QStringList{"Tri échoué sur un lot : Réponse HTTP 500 : erreur"});
    EXPECT_EQ(ledger.at("/f.md").theme, "Budget");
    EXPECT_EQ(ledger.at("/inconnu.md").theme, "Divers");
    EXPECT_EQ(ledger.at("/inconnu.md").category, "incertain");
    EXPECT_EQ(ledger.at("/inconnu.md").transcriptPath, "/inconnu.md");
}

TEST(AssignThemes, CancellationStopsBeforeTheNextBatch) {
    OrgLedger ledger;
    QStringList paths;
    for (int i = 0; i < 60; ++i) paths.append(QString("/m%1.md").arg(i));
    ScriptedModel model;
    PassProbe probe;
    probe.cancelWhen = [&] { return !model.calls.empty(); };
    runTask(assignThemes(paths, ledger, probe.hooks(model)));
    EXPECT_EQ(model.calls.size(), 1u);
    EXPECT_EQ(ledger.size(), 50u);
    EXPECT_EQ(probe.memosDone, 50);
}

class ConsolidateThemes : public ::testing::Test {
protected:
    OrgLedger ledger;
    PassProbe probe;
    // `count` pending perso themes T0…, T0 used twice.
    void pendingThemes(int count) {
        for (int i = 0; i < count; ++i) ledger[QString("/p%1.md").arg(i)] = sortedAs(QString("/p%1.md").arg(i), "perso", QString("T%1").arg(i));
        ledger["/extra.md"] = sortedAs("/extra.md", "perso", "T0");
    }
    QString mapping(int count, int targets) {
        QStringList pairs;
        for (int i = 0; i < count; ++i) pairs.append(QString("\"T%1\":\"C%2\"").arg(i).arg(i % targets));
        return "{\"map\":{" + pairs.join(',') + "}}";
    }
};

TEST_F(ConsolidateThemes, ThirteenAreMergedIntoPlacedThemesFirst) {
    pendingThemes(13);
    ledger["/placed.md"] = sortedAs("/placed.md", "perso", "Famille", true);
    ledger["/pro.md"] = sortedAs("/pro.md", "pro", "Clients");
    ledger["/u.md"] = sortedAs("/u.md", "incertain", "T5");
    ScriptedModel model;
    model.reply("```json\n" + mapping(13, 4) + "\n```");
    runTask(consolidateThemes(ledger, probe.hooks(model)));

    ASSERT_EQ(model.calls.size(), 1u); // "pro" has one theme, "incertain" is never merged
    EXPECT_TRUE(model.calls[0].system.contains(" DÉJÀ en place, à réutiliser en priorité : Famille. Fusionne "));
    EXPECT_TRUE(model.calls[0].user.startsWith("T0 (2), T1 (1), T2 (1), T3 (1)"));
    EXPECT_TRUE(model.calls[0].user.endsWith("T12 (1)"));
    EXPECT_EQ(ledger.at("/p5.md").theme, "C1");
    EXPECT_EQ(ledger.at("/extra.md").theme, "C0");
    EXPECT_EQ(ledger.at("/placed.md").theme, "Famille"); // placed memos never move
    EXPECT_EQ(ledger.at("/u.md").theme, "T5");
    EXPECT_EQ(probe.log, QStringList{"Thèmes perso consolidés : 13 -> 4."});
}

TEST_F(ConsolidateThemes, TwelveAreLeftAloneAndBrokenFailedOrNonReducingRepliesChangeNothing) {
    pendingThemes(12);
    ScriptedModel unasked;
    runTask(consolidateThemes(ledger, probe.hooks(unasked)));
    EXPECT_TRUE(unasked.calls.empty());

    pendingThemes(13);
    const OrgLedger before = ledger;
    for (const QString &reply : {QString("pas de json"), QString(R"({"map":["a"]})"), QString(R"({"map":{"T1":3}})"),
                                 mapping(13, 13)}) {
        ScriptedModel model;
        model.reply(reply);
        runTask(consolidateThemes(ledger, probe.hooks(model)));
        EXPECT_EQ(ledger, before) << reply.toStdString();
    }
    ScriptedModel failing;
    failing.fail(CorrectionError::unreachable("x"));
    runTask(consolidateThemes(ledger, probe.hooks(failing)));
    EXPECT_EQ(ledger, before);
    EXPECT_TRUE(probe.log.isEmpty());
}

const QDateTime recorded(QDate(2024, 5, 1), QTime(14, 7));

OrgEntry placedAs(const QString &category, const QString &theme, double confidence) {
    OrgEntry e;
    e.category = category;
    e.theme = theme;
    e.confidence = confidence;
    return e;
}

TEST(OrganizePlacement, CategoryThemeAndConfidenceDecideTheFolder) {
    const Placement uncategorized{"Transcription non catégorisée", ""};
    EXPECT_EQ(placementFor(placedAs("pro", "Clients", 0.34)), uncategorized);
    EXPECT_EQ(placementFor(placedAs("pro", "Clients", 0.35)), (Placement{"Vie pro", "Clients"}));
    EXPECT_EQ(placementFor(placedAs("perso", "Santé", 0.9)), (Placement{"Vie perso", "Santé"}));
    EXPECT_EQ(placementFor(placedAs("incertain", "Santé", 0.9)), uncategorized);
    EXPECT_EQ(placementFor(placedAs("perso", "", 0.9)), uncategorized);
    EXPECT_EQ(placementFor(placedAs("pro", "../..", 0.9)), (Placement{"Vie pro", "Sans titre"}));

    OrgEntry e;
    e.transcriptPath = "/t/20240501 140700.md";
    e.title = "Réunion: budget/2025?";
    EXPECT_EQ(memoFolderName(recorded, e), "2024-05-01 14h07 - Réunion budget 2025");
    e.title.reset();
    EXPECT_EQ(memoFolderName(recorded, e), "2024-05-01 14h07 - 20240501 140700");

    EXPECT_EQ(organizeRootFolder(QString("/mon/archive"), QString("/sortie")), "/mon/archive");
    EXPECT_EQ(organizeRootFolder(QString(""), QString("/sortie")), "/sortie/Archive organisée");
    EXPECT_EQ(organizeRootFolder(std::nullopt, QString("/sortie")), "/sortie/Archive organisée");
    EXPECT_EQ(organizeRootFolder(QString(""), std::nullopt), std::nullopt);
}

class Materialize : public ::testing::Test {
protected:
    QTemporaryDir dir;
    OrgLedger ledger;
    QStringList log;
    ArchiveOptions options;
    QString root;

    void SetUp() override {
        root = dir.path() + "/Archive organisée";
        options.root = root;
        options.recordingDate = [](const QString &) { return recorded; };
        options.log = [this](const QString &line) { log.append(line); };
    }

    // A structured memo with its transcript, document and audio on disk.
    QString memo(const QString &name, const QString &category, const QString &theme, const QString &title = "Relance") {
        const QString transcript = writeFile(dir.path() + "/src/" + name + ".md", "transcription " + name.toUtf8());
        OrgEntry e;
        e.transcriptPath = transcript;
        e.audioPath = writeFile(dir.path() + "/src/" + name + ".m4a", "audio");
        e.structurePath = writeFile(dir.path() + "/src/" + name + ".structure.md", "document " + name.toUtf8());
        e.title = title;
        e.category = category;
        e.theme = theme;
        e.confidence = 0.9;
        ledger[transcript] = e;
        return transcript;
    }
    QString folderOf(const QString &transcript) const { return ledger.at(transcript).folder.value_or(""); }
};

TEST_F(Materialize, RunningTwiceRefreshesTheSameFolderAChangedThemeMovesItAndAForeignFolderNever) {
    const QString t = memo("a", "pro", "Client");
    ASSERT_TRUE(materialize(t, ledger, options));
    const QString first = folderOf(t);
    EXPECT_EQ(first, root + "/Vie pro/Client/2024-05-01 14h07 - Relance");
    EXPECT_EQ(readText(first + "/transcription.md"), "transcription a");
    EXPECT_EQ(readText(first + "/a.m4a"), "audio"); // copied
    writeFile(ledger.at(t).structurePath.value(), "document révisé");
    ASSERT_TRUE(materialize(t, ledger, options));
    EXPECT_EQ(folderOf(t), first);
    EXPECT_EQ(readText(first + "/structure.md"), "document révisé");
    EXPECT_EQ(QDir(root + "/Vie pro/Client").entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), 1);

    writeFile(first + "/mes notes.txt", "ajouté à la main");
    ledger[t].theme = "Clients";
    ASSERT_TRUE(materialize(t, ledger, options));
    EXPECT_EQ(folderOf(t), root + "/Vie pro/Clients/2024-05-01 14h07 - Relance");
    EXPECT_FALSE(QFileInfo::exists(first));
    EXPECT_EQ(readText(folderOf(t) + "/mes notes.txt"), "ajouté à la main");

    // A foreign folder in the ledger is never moved.
    const QString b = memo("b", "pro", "Clients");
    const QString precious = writeFile(dir.path() + "/Documents/contrat.pdf", "précieux");
    ledger[b].folder = dir.path() + "/Documents";
    ASSERT_TRUE(materialize(b, ledger, options));
    EXPECT_EQ(readText(precious), "précieux");
    EXPECT_TRUE(folderOf(b).startsWith(root + "/"));
}

TEST_F(Materialize, AudioIsLinkedWhenNotCopiedAndNeverReplaced) {
    options.copyAudio = false;
    const QString t = memo("a", "perso", "Santé");
    ASSERT_TRUE(materialize(t, ledger, options));
    const QString audio = folderOf(t) + "/a.m4a";
    EXPECT_TRUE(QFileInfo(audio).isSymLink());
    EXPECT_EQ(QFileInfo(audio).symLinkTarget(), ledger.at(t).audioPath.value());

    options.copyAudio = true;
    QFile::remove(audio);
    writeFile(audio, "version de l'utilisateur");
    ASSERT_TRUE(materialize(t, ledger, options));
    EXPECT_EQ(readText(audio), "version de l'utilisateur");

    QFile::remove(audio);
    ASSERT_TRUE(QFile::link(dir.path() + "/disparu.m4a", audio)); // a dangling link stays too
    ASSERT_TRUE(materialize(t, ledger, options));
    EXPECT_TRUE(QFileInfo(audio).isSymLink());
}

TEST_F(Materialize, UnstructuredMemoIsNotPlacedAndAFailureKeepsThePreviousFolder) {
    const QString t = memo("a", "pro", "Clients");
    QFile::remove(ledger.at(t).structurePath.value());
    EXPECT_FALSE(materialize(t, ledger, options));
    EXPECT_FALSE(materialize(dir.path() + "/inconnu.md", ledger, options));
    EXPECT_FALSE(QFileInfo::exists(root));
    EXPECT_FALSE(ledger.at(t).folder);

    const QString b = memo("b", "pro", "Clients");
    writeFile(root, "un fichier là où l'archive devrait être");
    ledger[b].folder = "/ancien/dossier";
    EXPECT_FALSE(materialize(b, ledger, options));
    EXPECT_EQ(folderOf(b), "/ancien/dossier");
    ASSERT_EQ(log.size(), 1);
    EXPECT_TRUE(log[0].startsWith("Rangement échoué : 2024-05-01 14h07 - Relance ("));
}

TEST_F(Materialize, HostileNamesStayInsideTheArchiveAndNameClashesGetASuffix) {
    const QStringList hostile = {"../../../../tmp/evil", "..", "/etc", ".ssh", "a\x01\x02b", QString(300, QChar(0x1F600)),
                                 QStringLiteral("👨‍👩‍👧‍👦").repeated(70)};
    for (int i = 0; i < hostile.size(); ++i) {
        const QString t = memo(QString("m%1").arg(i), "pro", hostile[i], hostile[i]);
        ASSERT_TRUE(materialize(t, ledger, options)) << log.join('\n').toStdString();
        const QString folder = QDir::cleanPath(folderOf(t));
        EXPECT_TRUE(folder.startsWith(QDir::cleanPath(root) + "/Vie pro/")) << folder.toStdString();
        EXPECT_EQ(folder.count('/'), QDir::cleanPath(root).count('/') + 3) << folder.toStdString();
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              (QStringList{"Archive organisée", "src"}));

    // Name clashes get a suffix.
    const QString a = memo("a", "pro", "Clients");
    const QString b = memo("b", "pro", "Clients");
    const QString c = memo("c", "pro", "Prospects");
    ASSERT_TRUE(materialize(a, ledger, options));
    ASSERT_TRUE(materialize(b, ledger, options));
    ASSERT_TRUE(materialize(c, ledger, options));
    const QString base = root + "/Vie pro/Clients/2024-05-01 14h07 - Relance";
    EXPECT_EQ(folderOf(b), base + " (2)");
    EXPECT_EQ(readText(folderOf(a) + "/transcription.md"), "transcription a");
    ASSERT_TRUE(materialize(b, ledger, options)); // stays where it is
    EXPECT_EQ(folderOf(b), base + " (2)");

    ledger[c].theme = "Clients"; // moved next to two of the same name
    ASSERT_TRUE(materialize(c, ledger, options));
    EXPECT_EQ(folderOf(c), base + " (3)");
    EXPECT_EQ(readText(base + " (3)/transcription.md"), "transcription c");
}

TEST(OrganizeIndex, GroupsByCategoryAndThemeWithEncodedLinksAndAnEmptyArchiveHasItsHeader) {
    const QString root = "/r/Archive organisée";
    auto entry = [&](const QString &category, const QString &theme, double confidence, const QString &folder,
                     std::optional<QString> title) {
        OrgEntry e = placedAs(category, theme, confidence);
        e.folder = root + "/" + folder;
        e.title = title;
        return e;
    };
    OrgLedger ledger;
    ledger["/1.md"] = entry("pro", "Clients", 0.9, "Vie pro/Clients/2024-05-01 14h07 - Relance devis client", "Relance devis client");
    ledger["/2.md"] = entry("incertain", "X", 0.9, "Transcription non catégorisée/2024-05-02 09h15 - Idée en vrac", "Idée en vrac");
    ledger["/3.md"] = entry("perso", "Santé", 0.9, "Vie perso/Santé/2024-06-01 08h00 - B", "B");
    ledger["/4.md"] = entry("perso", "Famille", 0.9, "Vie perso/Famille/2024-06-02 08h00 - C", std::nullopt);
    ledger["/5.md"] = entry("perso", "Santé", 0.9, "Vie perso/Santé/2024-01-01 08h00 - A", "A");
    ledger["/6.md"] = placedAs("pro", "Clients", 0.9); // not placed yet
    EXPECT_EQ(indexContent(root, ledger),
              "# Archive organisée\n\nGénérée par Parlivo, en local. 5 vocaux rangés.\n"
              "\n## Vie perso\n"
              "\n### Famille\n- [Vie perso/Famille/2024-06-02 08h00 - C](Vie%20perso/Famille/2024-06-02%2008h00%20-%20C/structure.md)\n"
              "\n### Santé\n- [A](Vie%20perso/Sant%C3%A9/2024-01-01%2008h00%20-%20A/structure.md)\n"
              "- [B](Vie%20perso/Sant%C3%A9/2024-06-01%2008h00%20-%20B/structure.md)\n"
              "\n## Vie pro\n"
              "\n### Clients\n- [Relance devis client](Vie%20pro/Clients/2024-05-01%2014h07%20-%20Relance%20devis%20client/structure.md)\n"
              "\n## Transcription non catégorisée\n"
              "- [Idée en vrac](Transcription%20non%20cat%C3%A9goris%C3%A9e/2024-05-02%2009h15%20-%20Id%C3%A9e%20en%20vrac/structure.md)\n");
    // An empty archive still gets its header.
    QTemporaryDir dir;
    ASSERT_FALSE(writeIndex(dir.path() + "/Archive", {}));
    EXPECT_EQ(readText(dir.path() + "/Archive/INDEX.md"), "# Archive organisée\n\nGénérée par Parlivo, en local. 0 vocaux rangés.\n");
}

TEST(OrganizeTranscriptFiles, BesideSourcesSkipsTheArchiveDocumentsAndHiddenFiles) {
    QTemporaryDir dir;
    const QString base = dir.path();
    for (const char *name : {"memo 10.md", "memo 2.md", "sous/memo.MD", "memo 2.structure.md", "memo 2.txt",
                             ".cache/caché.md", ".caché.md", "Archive organisée/Vie pro/x/transcription.md",
                             "Archive organisée 2/garde.md"})
        writeFile(base + "/" + name, "x");
    EXPECT_EQ(organizeTranscriptFiles(base, DestinationMode::besideSource, base + "/Archive organisée"),
              (QStringList{base + "/Archive organisée 2/garde.md", base + "/memo 2.md", base + "/memo 10.md",
                           base + "/sous/memo.MD"}));
    EXPECT_EQ(organizeTranscriptFiles(base, DestinationMode::custom, base + "/Archive organisée"),
              (QStringList{base + "/memo 2.md", base + "/memo 10.md"}));
    EXPECT_TRUE(organizeTranscriptFiles(std::nullopt, DestinationMode::custom, std::nullopt).isEmpty());
    EXPECT_TRUE(organizeTranscriptFiles(base + "/absent", DestinationMode::besideSource, std::nullopt).isEmpty());
}

// ---- Whole runs through the engine ----

class Organization : public ::testing::Test {
protected:
    TempHome home;
    FakeLlmServer server;
    QString src = home.file("memos");
    QString archive = src + "/Archive organisée";
    std::unique_ptr<Transcriber> engine;

    void SetUp() override {
        server.setModels({"qwen2.5:7b"});
        server.respondWith(modelLike);
        launch();
        memo("client.m4a", "Il faut rappeler le client pour le devis de la cuisine avant vendredi.");
        memo("famille.m4a", "Dimanche repas de famille chez les parents, penser au gâteau.");
        memo("meteo.m4a", "Il pleut encore, rien de spécial à noter sur cette journée grise.");
        engine->setSourceFolder(QUrl::fromLocalFile(src));
    }

    void launch(const Tools &tools = {}) {
        engine.reset(); // its last writes land before the next engine reads
        engine = std::make_unique<Transcriber>(tools);
        engine->setOllamaTimings({2, std::chrono::milliseconds(10), std::chrono::milliseconds(50)});
        ParlivoSettings s = engine->settings();
        s.ollamaEndpoint = server.endpoint();
        s.outputFormat = OutputFormat::md;
        s.correctionEnabled = false;
        engine->setSettings(s);
    }

    // A recording and its Markdown transcript, as a batch leaves them.
    void memo(const QString &audioName, const QString &text) {
        const QString audio = writeFile(src + "/" + audioName, "audio of " + audioName.toUtf8());
        const auto paths = transcriptPaths(audio, src);
        ASSERT_FALSE(writeOutputs({{0, 3, text}}, std::nullopt, audio, 3.0, paths.txt, paths.md, engine->settings()));
    }

    bool organize(int timeoutMs = 30000) {
        engine->startOrganization();
        return runTask(engine->waitForOrganization(), timeoutMs);
    }

    QStringList memoFolders() const {
        QStringList found;
        QDirIterator it(archive, {"structure.md"}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) found << QFileInfo(it.next()).absolutePath().mid(archive.size() + 1);
        found.sort();
        return found;
    }
    int chatCalls() const { return server.count(FakeLlmServer::chatPath); }
};

TEST_F(Organization, TranscriptsBecomeAThemedArchiveWithAnIndex) {
    QList<QUrl> opened;
    engine->setUrlOpener([&](const QUrl &url) { opened << url; });
    engine->revealOrganizedArchive(); // not there yet: nothing to show
    EXPECT_TRUE(opened.isEmpty());
    QSignalSpy notified(engine.get(), &Transcriber::notificationPosted);
    ASSERT_TRUE(organize());
    engine->revealOrganizedArchive();
    EXPECT_EQ(opened, QList<QUrl>{QUrl::fromLocalFile(archive)});
    ASSERT_EQ(notified.size(), 1);
    EXPECT_EQ(notified[0][0].toString(), "Organisation terminée");
    EXPECT_EQ(notified[0][1].toString(), "3 vocaux rangés par thème. Ouvre l'archive dans Parlivo.");
    const QStringList folders = memoFolders();
    ASSERT_EQ(folders.size(), 3) << folders.join(" ; ").toStdString();
    EXPECT_TRUE(folders[0].startsWith("Transcription non catégorisée/")) << folders[0].toStdString();
    EXPECT_TRUE(folders[1].startsWith("Vie perso/Famille/") && folders[1].endsWith(" - Dimanche en famille"));
    EXPECT_TRUE(folders[2].startsWith("Vie pro/Clients/") && folders[2].endsWith(" - Relance du client"));
    const QString pro = archive + "/" + folders[2];
    EXPECT_TRUE(QFileInfo::exists(pro + "/transcription.md"));
    EXPECT_EQ(readText(pro + "/client.m4a"), "audio of client.m4a"); // copied
    EXPECT_FALSE(QFileInfo(pro + "/client.m4a").isSymLink());

    const QString index = readText(archive + "/INDEX.md");
    EXPECT_TRUE(index.contains("\n## Vie pro\n\n### Clients\n- [Relance du client](Vie%20pro/Clients/"))
        << index.toStdString();
    // Every link opens a structure file of the archive.
    int links = 0;
    auto it = QRegularExpression(R"(\]\(([^)]+)\))").globalMatch(index);
    while (it.hasNext()) {
        const QString target = QUrl::fromPercentEncoding(it.next().captured(1).toUtf8());
        EXPECT_TRUE(QFileInfo::exists(archive + "/" + target)) << target.toStdString();
        EXPECT_TRUE(target.endsWith("/structure.md"));
        ++links;
    }
    EXPECT_EQ(links, 3);
    EXPECT_EQ(engine->orgOrganizedCount(), 3);
    EXPECT_EQ(engine->orgPhase(), "Terminé");
    EXPECT_EQ(engine->pendingOrganizationCount(), 0);
    EXPECT_FALSE(engine->logLines().filter("Organisation terminée : 3 vocal(aux) rangé(s) dans " + archive + ".").isEmpty());
    EXPECT_TRUE(QFileInfo::exists(home.supportDir() + "/organize.json"));

    // A second run asks the model nothing and places every memo where it was.
    const int calls = chatCalls();
    launch(); // the ledger comes back from organize.json
    ASSERT_TRUE(organize());
    EXPECT_EQ(chatCalls(), calls);
    EXPECT_EQ(memoFolders(), folders);

    // A deleted memo folder makes that memo pending, and the next run puts it
    // back, with its audio linked now that copying is off.
    QDir(pro).removeRecursively();
    EXPECT_EQ(engine->pendingOrganizationCount(), 1);
    ParlivoSettings s = engine->settings();
    s.organizeCopyAudio = false;
    engine->setSettings(s);
    ASSERT_TRUE(organize());
    EXPECT_EQ(memoFolders(), folders);
    EXPECT_TRUE(QFileInfo(pro + "/client.m4a").isSymLink());
    EXPECT_EQ(QFileInfo(pro + "/client.m4a").symLinkTarget(), src + "/client.m4a");

    // An index that cannot be written is said once, not taken for written.
    QFile::remove(archive + "/INDEX.md");
    QDir().mkpath(archive + "/INDEX.md/occupé");
    ASSERT_TRUE(organize());
    const QStringList said = engine->logLines().filter("Impossible d'écrire l'index de l'archive : ");
    ASSERT_EQ(said.size(), 1) << engine->logLines().join('\n').toStdString();
    EXPECT_TRUE(said.first().endsWith("Impossible d'écrire l'index de l'archive : « " + archive +
                                      "/INDEX.md » : un dossier porte ce nom"))
        << said.first().toStdString();
}

TEST_F(Organization, BrokenRepliesFallBackAndAFailingServerLeavesMemosPending) {
    int structureCalls = 0;
    server.respondWith([&](const FakeRequest &request) {
        if (request.systemMessage() == structurePrompt()) {
            if (++structureCalls == 1) return FakeReply::answer("Pas de front matter, juste un texte.");
            if (structureCalls == 2) return FakeReply::error(500, "panne");
            return modelLike(request);
        }
        return FakeReply::answer("{\"attributions\": [ this is not json");
    });
    ASSERT_TRUE(organize());
    // The memo whose structuring failed stays pending; the others are placed once.
    EXPECT_EQ(memoFolders().size(), 2);
    EXPECT_EQ(engine->pendingOrganizationCount(), 1);
    EXPECT_FALSE(engine->logLines().filter("Structuration échouée : ").isEmpty());

    server.respondWith(modelLike);
    ASSERT_TRUE(organize());
    EXPECT_EQ(memoFolders().size(), 3);
    EXPECT_EQ(engine->pendingOrganizationCount(), 0);
}

TEST_F(Organization, CancellingMidRunSavesTheLedgerAndRewritesTheIndex) {
    ASSERT_TRUE(organize()); // everything placed once
    memo("client2.m4a", "Nouveau client à rappeler pour un second devis la semaine prochaine.");
    memo("famille2.m4a", "Anniversaire de la famille, réserver le restaurant pour samedi soir.");
    QFile::remove(archive + "/INDEX.md");
    server.setDelay(400);
    engine->startOrganization();
    engine->startOrganization(); // a second start while active does nothing
    ASSERT_TRUE(spinUntil([&] { return engine->orgPhase() == "Structuration par l'IA" && chatCalls() >= 1; }));
    engine->cancelOrganization();
    ASSERT_TRUE(runTask(engine->waitForOrganization(), 20000));
    EXPECT_FALSE(engine->orgActive());
    EXPECT_FALSE(engine->orgCurrent());
    EXPECT_TRUE(QFileInfo::exists(archive + "/INDEX.md"));
    EXPECT_TRUE(engine->logLines().filter("Organisation terminée").size() == 1); // only the first run's
    EXPECT_GE(engine->pendingOrganizationCount(), 1);
}

TEST_F(Organization, WithoutTheServerNothingIsTouchedAndHostileTitlesAndThemesStayInsideTheArchive) {
    server.stop();
    ASSERT_TRUE(organize());
    EXPECT_FALSE(engine->logLines().filter("Organisation : Ollama indisponible.").isEmpty());
    EXPECT_FALSE(QFileInfo::exists(archive));

    ASSERT_TRUE(server.resume());
    server.respondWith([](const FakeRequest &request) {
        if (request.systemMessage() == structurePrompt())
            return FakeReply::answer("---\ntitre: ../../../../evil\x01name/..\ntype: idee\ncategorie: pro\n"
                                     "themes: ../../escape\nconfiance: 1\nresume: x\n---\n\ncorps\n");
        return FakeReply::answer(R"({"attributions":[{"id":1,"categorie":"pro","theme":"../../.."},)"
                                 R"({"id":2,"categorie":"pro","theme":"/etc"},{"id":3,"categorie":"pro","theme":".."}]})");
    });
    ASSERT_TRUE(organize());
    QDirIterator it(home.path(), {"structure.md"}, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) EXPECT_TRUE(it.next().startsWith(archive + "/")) << it.filePath().toStdString();
    EXPECT_EQ(memoFolders().size(), 3);
    EXPECT_FALSE(QFileInfo::exists(home.path() + "/evil"));
}

TEST_F(Organization, AFinishedBatchWithNothingToCorrectGoesOnToOrganization) {
    ScopedEnv segments{{"FAKE_WHISPER_SEGMENTS", R"([" Rappeler le client pour le devis de la toiture."])"}};
    Tools tools;
    tools.whisper = buildPath("fake-whisper-cli");
    tools.ffmpeg = "/usr/bin/ffmpeg";
    launch(tools);
    ParlivoSettings s = engine->settings();
    s.modelPath = writeFile(home.file(".hestia/ggml-base.bin"), "model");
    engine->setSettings(s);
    makeAudio(src + "/nouveau.m4a", 1.2);
    engine->rescan();
    engine->start();
    ASSERT_TRUE(runTask(engine->waitForRun(), 30000));
    EXPECT_TRUE(engine->orgActive()); // chained at the end of the batch
    ASSERT_TRUE(runTask(engine->waitForOrganization(), 30000));
    EXPECT_EQ(memoFolders().size(), 4);
    EXPECT_EQ(engine->pendingOrganizationCount(), 0);
}

TEST_F(Organization, CommandLineOrganizesAndReports) {
    engine->saveNow(); // the source folder and the server's address, for the child
    const CliResult cli = runCli({"organize"});
    EXPECT_EQ(cli.code, 0) << cli.err.toStdString();
    EXPECT_EQ(cli.out, "3 vocal(aux) rangé(s) dans " + archive + "\n");
    EXPECT_TRUE(cli.err.contains("Organisation de 3 transcription(s) : structuration, tri, rangement."));
    EXPECT_EQ(memoFolders().size(), 3);
}

} // namespace
