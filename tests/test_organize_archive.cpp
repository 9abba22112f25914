// The archive on disk: placement, memo folders, re-placement, audio, the
// index, and which transcripts take part.
#include "organize/archive.h"
#include "organize/archive_index.h"
#include "organize/org_selection.h"
#include "organize/placement.h"

#include <QFile>
#include <QFileInfo>

#include "support/organize_test_support.h"

using namespace testing_support;

namespace {

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

} // namespace
