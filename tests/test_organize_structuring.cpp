// The structuring pass for one transcript, with a scripted model.
#include "organize/structure_prompts.h"
#include "organize/structuring.h"

#include <QFile>

#include "support/organize_test_support.h"

using namespace testing_support;

namespace {

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
    OrgEntry sorted;
    sorted.transcriptPath = path();
    sorted.category = "pro";
    sorted.theme = "Clients";
    sorted.folder = "/archive/Vie pro/Clients/x";
    ledger[path()] = sorted;
    ScriptedModel model;
    model.reply("Pas de front matter, juste un texte.");
    EXPECT_EQ(run(model, transcript(longEnough)), StructureOutcome::structured);
    const OrgEntry &entry = ledger.at(path());
    EXPECT_EQ(entry.category, "pro");
    EXPECT_EQ(entry.theme, "Clients");
    EXPECT_EQ(entry.folder, "/archive/Vie pro/Clients/x");
    EXPECT_EQ(entry.type, "autre");
    EXPECT_EQ(entry.rawCategory, "incertain");
    EXPECT_EQ(entry.title, "memo");
}

} // namespace
