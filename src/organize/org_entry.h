#pragma once
// One memo's progress through organization (structured, sorted, placed) and
// the ledger of all of them, stored as organize.json.

#include <QString>
#include <QStringList>

#include <map>
#include <optional>

#include "core/atomic_file.h"
#include "core/json_coding.h"

struct OrgEntry {
    QString transcriptPath;
    std::optional<QString> audioPath;
    std::optional<QString> structurePath;
    std::optional<QString> title;
    std::optional<QString> type;
    std::optional<QString> rawCategory;
    QStringList rawThemes;
    double confidence = 0;
    std::optional<QString> category;
    std::optional<QString> theme;
    std::optional<QString> folder;

    bool operator==(const OrgEntry &) const = default;
};

// Keyed by the transcript's absolute path text.
using OrgLedger = std::map<QString, OrgEntry>;

Json toJson(const OrgEntry &entry);
Json toJson(const OrgLedger &ledger);
OrgEntry orgEntryFromJson(const Json &json);
OrgLedger orgLedgerFromText(const QByteArray &bytes);

struct OrgLedgerLoad {
    enum class Status {
        loaded,   // `ledger` holds the file's content
        missing,  // no file, or it cannot be read: keep the ledger in memory
        setAside, // the file did not decode and was renamed to `asidePath`
    };
    Status status = Status::missing;
    OrgLedger ledger;
    QString asidePath;
};

// Reads the ledger file. A file that does not decode is renamed with a
// ".corrupt" suffix (replacing an older one) so the next save cannot destroy it.
OrgLedgerLoad loadOrgLedger(const QString &path);

// Compact JSON, replaced atomically. Returns nothing on success, else the reason.
std::optional<WriteError> saveOrgLedger(const QString &path, const OrgLedger &ledger);

// "organize.json" in the support folder.
QString orgLedgerPath();
