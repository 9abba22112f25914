#include "organize/org_entry.h"

#include "core/atomic_file.h"
#include "core/folders.h"

#include <QFile>

using namespace jsonfield;

namespace {
void putOptional(Json &j, const char *key, const std::optional<QString> &value) {
    if (value) j[key] = utf8(*value);
}

void readOptional(const Json &j, const char *key, std::optional<QString> &field) {
    if (auto *v = find(j, key)) field = string(*v, key);
}
} // namespace

Json toJson(const OrgEntry &e) {
    Json j = Json::object();
    j["transcriptPath"] = utf8(e.transcriptPath);
    putOptional(j, "audioPath", e.audioPath);
    putOptional(j, "structurePath", e.structurePath);
    putOptional(j, "title", e.title);
    putOptional(j, "type", e.type);
    putOptional(j, "rawCategory", e.rawCategory);
    Json themes = Json::array();
    for (const auto &theme : e.rawThemes) themes.push_back(utf8(theme));
    j["rawThemes"] = std::move(themes);
    j["confidence"] = e.confidence;
    putOptional(j, "category", e.category);
    putOptional(j, "theme", e.theme);
    putOptional(j, "folder", e.folder);
    return j;
}

OrgEntry orgEntryFromJson(const Json &j) {
    requireObject(j, "organization entry");
    OrgEntry e;
    e.transcriptPath = string(j.at("transcriptPath"), "transcriptPath");
    readOptional(j, "audioPath", e.audioPath);
    readOptional(j, "structurePath", e.structurePath);
    readOptional(j, "title", e.title);
    readOptional(j, "type", e.type);
    readOptional(j, "rawCategory", e.rawCategory);
    const Json &themes = j.at("rawThemes");
    if (!themes.is_array()) throw DecodeError("rawThemes is not an array");
    for (const auto &theme : themes) e.rawThemes.append(string(theme, "rawThemes"));
    e.confidence = number(j.at("confidence"), "confidence");
    readOptional(j, "category", e.category);
    readOptional(j, "theme", e.theme);
    readOptional(j, "folder", e.folder);
    return e;
}

Json toJson(const OrgLedger &ledger) {
    return keyedObject(ledger, [](const OrgEntry &e) { return toJson(e); });
}

OrgLedger orgLedgerFromText(const QByteArray &bytes) { return keyedMapFromText<OrgLedger>(bytes, orgEntryFromJson); }

OrgLedgerLoad loadOrgLedger(const QString &path) {
    OrgLedgerLoad result;
    auto bytes = readWholeFile(path);
    if (!bytes) return result;
    try {
        result.ledger = orgLedgerFromText(*bytes);
        result.status = OrgLedgerLoad::Status::loaded;
    } catch (const std::exception &) {
        result.asidePath = path + QStringLiteral(".corrupt");
        QFile::remove(result.asidePath);
        QFile::rename(path, result.asidePath);
        result.status = OrgLedgerLoad::Status::setAside;
    }
    return result;
}

std::optional<WriteError> saveOrgLedger(const QString &path, const OrgLedger &ledger) {
    return writeFileAtomically(path, dumpCompact(toJson(ledger)));
}

QString orgLedgerPath() { return folders::supportDir() + QStringLiteral("/organize.json"); }
