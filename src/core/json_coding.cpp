#include "core/json_coding.h"

#include <cmath>

namespace jsonfield {

const Json *find(const Json &object, const char *key) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) return nullptr;
    return &*it;
}

void requireObject(const Json &json, const char *what) {
    if (!json.is_object()) throw DecodeError(std::string(what) + " is not an object");
}

QString string(const Json &value, const char *key) {
    if (!value.is_string()) throw DecodeError(std::string(key) + " is not a string");
    return QString::fromStdString(value.get_ref<const std::string &>());
}

double number(const Json &value, const char *key) {
    if (!value.is_number()) throw DecodeError(std::string(key) + " is not a number");
    return value.get<double>();
}

qint64 integer(const Json &value, const char *key) {
    if (value.is_number_integer()) return value.get<qint64>();
    // A whole number written with a fraction part (3.0) is still an integer.
    if (value.is_number_float()) {
        double d = value.get<double>();
        if (std::isfinite(d) && std::trunc(d) == d && std::fabs(d) < 9.2e18) return qint64(d);
    }
    throw DecodeError(std::string(key) + " is not an integer");
}

bool boolean(const Json &value, const char *key) {
    if (!value.is_boolean()) throw DecodeError(std::string(key) + " is not a boolean");
    return value.get<bool>();
}

QUrl url(const Json &value, const char *key) {
    QUrl parsed(string(value, key), QUrl::StrictMode);
    if (!parsed.isValid() || parsed.isRelative()) throw DecodeError(std::string(key) + " is not a URL");
    return parsed;
}

QUuid uuid(const Json &value, const char *key) {
    QUuid parsed = QUuid::fromString(string(value, key));
    if (parsed.isNull()) throw DecodeError(std::string(key) + " is not a UUID");
    return parsed;
}

} // namespace jsonfield

using namespace jsonfield;

QString urlText(const QUrl &url) { return url.toString(QUrl::FullyEncoded); }

QString uuidText(const QUuid &id) { return id.toString(QUuid::WithoutBraces).toUpper(); }

Json parseJson(const QByteArray &bytes) {
    try {
        return Json::parse(bytes.constBegin(), bytes.constEnd());
    } catch (const Json::exception &e) {
        throw DecodeError(e.what());
    }
}

QByteArray dumpCompact(const Json &json) {
    // Invalid UTF-8 in a text is replaced rather than failing the whole save.
    auto text = json.dump(-1, ' ', false, Json::error_handler_t::replace);
    return QByteArray(text.data(), qsizetype(text.size()));
}

namespace {
// An ordered object is a vector of pairs with constant keys: growing it copies
// every field already there. Room made first, a large queue is encoded
// without those copies.
Json objectWithRoom(std::size_t fields) {
    Json j = Json::object();
    j.get_ref<Json::object_t &>().reserve(fields);
    return j;
}
} // namespace

Json toJson(const AudioFile &file) {
    // Byte forms straight into the document: a large queue is written often.
    Json j = objectWithRoom(7);
    j["id"] = file.id.toByteArray(QUuid::WithoutBraces).toUpper().toStdString();
    j["url"] = file.url.toEncoded(QUrl::FullyEncoded).toStdString();
    j["status"] = utf8(rawValue(file.status));
    j["progress"] = file.progress;
    if (file.errorMessage) j["errorMessage"] = utf8(*file.errorMessage);
    if (file.durationSeconds) j["durationSeconds"] = *file.durationSeconds;
    if (file.outputPath) j["outputPath"] = utf8(*file.outputPath);
    return j;
}

AudioFile audioFileFromJson(const Json &j) {
    requireObject(j, "file");
    AudioFile file;
    file.id = uuid(j.at("id"), "id");
    file.url = url(j.at("url"), "url");
    file.status = enumValue<FileStatus>(j.at("status"), "status");
    file.progress = number(j.at("progress"), "progress");
    if (auto *v = find(j, "errorMessage")) file.errorMessage = string(*v, "errorMessage");
    if (auto *v = find(j, "durationSeconds")) file.durationSeconds = number(*v, "durationSeconds");
    if (auto *v = find(j, "outputPath")) file.outputPath = string(*v, "outputPath");
    return file;
}

Json toJson(const LedgerEntry &e) {
    Json j = objectWithRoom(7);
    j["size"] = e.size;
    j["mtime"] = e.mtime;
    j["status"] = utf8(e.status);
    if (e.outputPath) j["outputPath"] = utf8(*e.outputPath);
    j["date"] = e.date;
    if (e.errorMessage) j["errorMessage"] = utf8(*e.errorMessage);
    if (e.attempts) j["attempts"] = *e.attempts;
    return j;
}

LedgerEntry ledgerEntryFromJson(const Json &j) {
    requireObject(j, "ledger entry");
    LedgerEntry e;
    e.size = integer(j.at("size"), "size");
    e.mtime = number(j.at("mtime"), "mtime");
    e.status = string(j.at("status"), "status");
    if (auto *v = find(j, "outputPath")) e.outputPath = string(*v, "outputPath");
    e.date = number(j.at("date"), "date");
    if (auto *v = find(j, "errorMessage")) e.errorMessage = string(*v, "errorMessage");
    if (auto *v = find(j, "attempts")) e.attempts = int(integer(*v, "attempts"));
    return e;
}

Json toJson(const Ledger &ledger) {
    return keyedObject(ledger, [](const LedgerEntry &e) { return toJson(e); });
}

Ledger ledgerFromText(const QByteArray &bytes) { return keyedMapFromText<Ledger>(bytes, ledgerEntryFromJson); }

Json toJson(const PersistedState &state) {
    Json j = Json::object();
    if (state.sourceFolder) j["sourceFolder"] = utf8(urlText(*state.sourceFolder));
    Json files = Json::array();
    files.get_ref<Json::array_t &>().reserve(std::size_t(state.files.size()));
    for (const auto &f : state.files) files.push_back(toJson(f));
    j["files"] = std::move(files);
    j["wasRunning"] = state.wasRunning;
    return j;
}

PersistedState persistedStateFromJson(const Json &j) {
    requireObject(j, "queue");
    PersistedState state;
    if (auto *v = find(j, "sourceFolder")) state.sourceFolder = url(*v, "sourceFolder");
    const Json &files = j.at("files");
    if (!files.is_array()) throw DecodeError("files is not an array");
    state.files.reserve(qsizetype(files.size()));
    for (const auto &f : files) state.files.append(audioFileFromJson(f));
    state.wasRunning = boolean(j.at("wasRunning"), "wasRunning");
    return state;
}
