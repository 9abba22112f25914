// Pure text work of the organization: names from the model, prompts,
// transcript reading, passages for long memos and the structured reply.
#include "organize/org_names.h"
#include "organize/structure_prompts.h"
#include "organize/structured.h"
#include "organize/text_units.h"
#include "organize/transcript_reading.h"

#include "support/organize_test_support.h"

namespace {

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

} // namespace
