// organize.json: the record's JSON, the file round trip, a corrupt file set
// aside, and the choice of memos each pass still has to handle.
#include "organize/org_entry.h"
#include "organize/org_selection.h"

#include <QFile>

#include "support/organize_test_support.h"

using namespace testing_support;

namespace {

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

} // namespace
