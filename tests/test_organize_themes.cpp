// Theme assignment in batches and theme consolidation, with a scripted model.
#include "organize/themes.h"

#include "support/organize_test_support.h"

using namespace testing_support;

namespace {

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

} // namespace
